#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "common/FileReader.h"
#include "tests/support/Payload.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

TEST(FileReader, BufferedAndDirectReadsAgreeWithTheFile)
{
    fixtures::CTempDir dir;
    const auto data = fixtures::MakePayload(5, 1000000);
    std::ofstream(dir / "f", std::ios::binary).write(reinterpret_cast<const char*>(data.data()), long(data.size()));
    CFileReader r;
    ASSERT_TRUE(r.Open(dir / "f"));
    EXPECT_EQ(r.Size(), 1000000);
    fixtures::CSplitMix64 rng(3);
    std::vector<uint8_t> buf(300000);
    for (int i = 0; i < 300; ++i) {
        const uint64_t at = rng.Range(0, 1000100);
        const size_t n = rng.Range(0, i % 3 == 0 ? 300000 : 100);
        r.Seek(at);
        const size_t got = r.Read(buf.data(), n);
        const size_t want = at >= data.size() ? 0 : std::min<size_t>(n, data.size() - at);
        ASSERT_EQ(got, want) << at << " " << n;
        ASSERT_EQ(0, std::memcmp(buf.data(), data.data() + std::min<size_t>(at, data.size()), got));
        EXPECT_EQ(r.Tell(), at + got);
        // The next read follows on.
        const size_t more = r.Read(buf.data(), 10);
        if (at + got < data.size()) {
            EXPECT_EQ(buf[0], data[at + got]);
        }
        EXPECT_EQ(r.Tell(), at + got + more);
    }
}

TEST(FileReader, OpenFailures)
{
    fixtures::CTempDir dir;
    CFileReader r;
    int err = 0;
    EXPECT_FALSE(r.Open(dir / "missing", &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_FALSE(r.Open(dir.Path(), &err));
    EXPECT_EQ(err, EISDIR);
    EXPECT_FALSE(r.IsOpen());
    char b;
    EXPECT_EQ(r.Read(&b, 1), 0u);
    EXPECT_EQ(r.Size(), -1);
}

TEST(FileReader, OpensReadOnly)
{
    fixtures::CTempDir dir;
    std::ofstream(dir / "f") << "abc";
    CFileReader r;
    ASSERT_TRUE(r.Open(dir / "f"));
    // The only descriptor the reader holds is read-only.
    bool found = false;
    for (int fd = 3; fd < 1024; ++fd) {
        char link[64], target[4096];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t n = ::readlink(link, target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = 0;
        if (std::string(target) == (dir / "f").string()) {
            found = true;
            EXPECT_EQ(::fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
        }
    }
    EXPECT_TRUE(found);
}

}  // namespace
}  // namespace velmor
