// Snapshot file names: the local time to the second, the format's
// extension, and never a second snapshot over the first.
#include <gtest/gtest.h>

#include <set>

#include "player/playback/Snapshot.h"

namespace {

using velmor::SnapshotPath;

std::tm At(int y, int mo, int d, int h, int mi, int s)
{
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return t;
}

TEST(SnapshotPathTest, NamedByTheSecondWithTheFormatsExtension)
{
    const std::tm t = At(2024, 5, 6, 7, 8, 9);
    const auto none = [](const std::filesystem::path&) { return false; };
    const struct {
        int format;
        const char* name;
    } cases[] = {{0, "20240506070809.jpg"}, {1, "20240506070809.png"}, {2, "20240506070809.bmp"}, {7, "20240506070809.jpg"}};
    for (const auto& c : cases) EXPECT_EQ(SnapshotPath("/snap", t, c.format, none), std::filesystem::path("/snap") / c.name);
    EXPECT_EQ(SnapshotPath("/s", At(1999, 12, 31, 23, 59, 59), 1, none).filename(), "19991231235959.png");
}

TEST(SnapshotPathTest, ASnapshotInTheSameSecondGetsTheNextNumber)
{
    std::set<std::filesystem::path> taken{"/snap/20240506070809.jpg", "/snap/20240506070809_2.jpg"};
    const auto exists = [&](const std::filesystem::path& p) { return taken.count(p) > 0; };
    const std::tm t = At(2024, 5, 6, 7, 8, 9);
    EXPECT_EQ(SnapshotPath("/snap", t, 0, exists), "/snap/20240506070809_3.jpg");
    // Another format is another name: the .png is free.
    EXPECT_EQ(SnapshotPath("/snap", t, 1, exists), "/snap/20240506070809.png");
    // A name longer than an old platform limit is still a name.
    const std::filesystem::path deep = std::filesystem::path("/snap") / std::string(300, 'd');
    EXPECT_EQ(SnapshotPath(deep, t, 2, exists), deep / "20240506070809.bmp");
}

}  // namespace
