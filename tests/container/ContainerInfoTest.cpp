// The span, channels and car number of a whole container file, and the
// selection of one channel.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/container/ContainerTestUtil.h"
#include "tests/support/ReadOnlyView.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

using namespace rkfs;

// Writes `seconds` of one small video frame per second for `channel`.
void WriteSeconds(CContainerFileImage& image, RecordingParams params, uint32_t first, uint32_t seconds)
{
    CRecordWriter w(image, std::move(params));
    auto p = MakePayload(first, 500);
    for (uint32_t s = 0; s < seconds; ++s)
        w.WriteFrame(s == 0 ? kFrameI : kFrameP, uint64_t(first + s) * 1000000, p.data(), 500);
    w.Close();
}

struct Info {
    int rc;
    uint32_t begin = 0, end = 0, mask = 0;
    char car[16] = {};
};

Info SomeChannels(const std::filesystem::path& path, uint32_t mask)
{
    Info info{};
    CContainerReader file(path);
    EXPECT_EQ(file.OpenResult(), 0);
    info.rc = RKCONTAINER_GetSomeChnFileInfo(file.Slot(), mask, &info.begin, &info.end, &info.mask, info.car);
    return info;
}

TEST(ContainerInfo, SpanAndChannelsOfTheRequestedMask)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00001.rpo", 1);
    WriteSeconds(image, Channel(0), kT0 + 10, 5);   // 10..14
    WriteSeconds(image, Channel(3), kT0, 30);       // 0..29
    WriteSeconds(image, Channel(15), kT0 + 40, 2);  // 40..41

    Info all = SomeChannels(image.Path(), 0xFFFF);
    EXPECT_EQ(all.rc, 0);
    EXPECT_EQ(all.mask, (1u << 0) | (1u << 3) | (1u << 15));
    EXPECT_EQ(all.begin, kT0);
    EXPECT_EQ(all.end, kT0 + 41);

    Info first = SomeChannels(image.Path(), 0x0001);
    EXPECT_EQ(first.mask, 1u);
    EXPECT_EQ(first.begin, kT0 + 10);
    EXPECT_EQ(first.end, kT0 + 14);

    Info none = SomeChannels(image.Path(), 0x0002);
    EXPECT_EQ(none.rc, 0);
    EXPECT_EQ(none.mask, 0u) << "outputs are left alone when nothing matched";
    EXPECT_EQ(none.begin, 0u);
}

TEST(ContainerInfo, BlocksOfChannelSixteenAndAboveAndOtherTypesAreIgnored)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00002.rpo", 2);
    RecordingParams high = Channel(16);
    WriteSeconds(image, high, kT0, 3);
    RecordingParams common = Channel(1);
    common.dataType = kDataTypeCm;
    WriteSeconds(image, common, kT0, 3);
    RecordingParams second = Channel(2);
    second.dataType = kDataTypeRec2;
    WriteSeconds(image, second, kT0 + 100, 3);

    Info all = SomeChannels(image.Path(), 0xFFFFFFFF);
    EXPECT_EQ(all.mask, 1u << 2) << "data type 2 counts as a recording";
    EXPECT_EQ(all.begin, kT0 + 100);
}

TEST(ContainerInfo, CarNumberComesFromTheLastBlockAndHasNoTerminator)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00003.rpo", 3);
    RecordingParams a = Channel(0);
    a.carNumber = "FIRST";
    WriteSeconds(image, a, kT0, 3);
    image.SetNextPosition(31);
    RecordingParams b = Channel(1);
    b.carNumber = "ABCDEFGHIJKLMNOP";  // 16 bytes: only 15 are kept
    WriteSeconds(image, b, kT0, 3);

    Info info{};
    std::memset(info.car, 'x', sizeof info.car);
    CContainerReader file(image.Path());
    info.rc = RKCONTAINER_GetSomeChnFileInfo(file.Slot(), 0xFFFF, &info.begin, &info.end, &info.mask, info.car);
    EXPECT_EQ(info.rc, 0);
    EXPECT_EQ(std::string(info.car, 16), "ABCDEFGHIJKLMNOx");
}

TEST(ContainerInfo, CarNumberOfAFileStillBeingFilled)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00003.rpo", 3);
    RecordingParams a = Channel(0);
    a.carNumber = "\xD4\xC1" "B12345";
    WriteSeconds(image, a, kT0, 3);
    RecordingParams b = Channel(1);
    b.carNumber = "";
    WriteSeconds(image, b, kT0, 3);
    Info info = SomeChannels(image.Path(), 0x0002);
    EXPECT_EQ(std::string(info.car), "\xD4\xC1" "B12345") << "whatever the requested channels";
}

TEST(ContainerInfo, NoCarNumberLeavesTheBufferAlone)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00003.rpo", 3);
    RecordingParams a = Channel(0);
    a.carNumber = "";
    WriteSeconds(image, a, kT0, 3);
    Info info = SomeChannels(image.Path(), 0xFFFF);
    EXPECT_EQ(info.mask, 1u);
    EXPECT_EQ(info.car[0], 0);
}

TEST(ContainerInfo, FilesOfOtherSizesAreRefused)
{
    CTempDir dir;
    for (uint64_t size : {uint64_t(200000000), uint64_t(0), kContainerFileSize128 - 1, kContainerFileSize256 + 1}) {
        SCOPED_TRACE(size);
        const auto path = dir / "fc00001.rpo";
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(size)), 0);
        ::close(fd);
        Info info = SomeChannels(path, 0xFFFF);
        EXPECT_EQ(info.rc, -2);
        CContainerReader file(path);
        uint32_t b = 0, e = 0;
        RKCONTAINER_ENCODE enc{};
        EXPECT_EQ(RKCONTAINER_GetOneChnFileInfo(file.Slot(), 0, &b, &e, &enc), -2);
    }
}

TEST(ContainerInfo, BlockSizeFollowsTheFileSize)
{
    CTempDir dir;
    for (uint64_t size : {kContainerFileSize128, kContainerFileSize256}) {
        CContainerFileImage image(dir / "fc00011.rpo", 11, size);
        EXPECT_EQ(image.BlockSize(), size == kContainerFileSize128 ? 0x400000u : 0x800000u);
        image.SetNextPosition(5);
        WriteSeconds(image, Channel(4), kT0, 8);
        ReadResult r = ReadChannel(image.Path(), 4);
        EXPECT_EQ(r.frames.size(), 8u);
        EXPECT_EQ(r.begin, kT0);
        EXPECT_EQ(r.end, kT0 + 7);
    }
}

TEST(ContainerInfo, SelectingAChannelWithoutBlocksFails)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00012.rpo", 12);
    WriteSeconds(image, Channel(1), kT0, 3);
    CContainerReader file(image.Path());
    uint32_t b = 7, e = 7;
    RKCONTAINER_ENCODE enc{};
    EXPECT_EQ(RKCONTAINER_GetOneChnFileInfo(file.Slot(), 0, &b, &e, &enc), -1);
    EXPECT_EQ(RKCONTAINER_GetOneChnFileInfo(file.Slot(), 16, &b, &e, &enc), -1);
    EXPECT_EQ(RKCONTAINER_GetOneChnFileInfo(file.Slot(), -1, &b, &e, &enc), -1);
    EXPECT_EQ(b, 7u);
    // A second selection starts afresh rather than adding the blocks twice.
    EXPECT_EQ(RKCONTAINER_GetOneChnFileInfo(file.Slot(), 1, &b, &e, &enc), 0);
    EXPECT_EQ(RKCONTAINER_GetOneChnFileInfo(file.Slot(), 1, &b, &e, &enc), 0);
    std::vector<uint8_t> buffer(RKCONTAINER_MAX_FRAME_SIZE);
    int frames = 0;
    for (;;) {
        RKCONTAINER_FRAME_HEAD head{};
        int rc = RKCONTAINER_ReadOneFrame(file.Slot(), buffer.data(), &head, &enc);
        if (rc != 0) break;
        frames += head.sign == 'F';
    }
    EXPECT_EQ(frames, 3);
}

TEST(ContainerInfo, OpenAndCloseResults)
{
    CTempDir dir;
    RKCONTAINER_HANDLE slot = nullptr;
    EXPECT_EQ(RKCONTAINER_OpenFile(&slot, nullptr), -1);
    EXPECT_EQ(RKCONTAINER_OpenFile(&slot, ""), -1);
    EXPECT_EQ(RKCONTAINER_OpenFile(&slot, (dir / "fc00001.rpo").c_str()), -1);
    EXPECT_EQ(RKCONTAINER_OpenFile(&slot, dir.Path().c_str()), -1) << "a folder is not a file";
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(RKCONTAINER_CloseFile(&slot), -2);
    EXPECT_EQ(RKCONTAINER_CloseFile(nullptr), -2);

    CContainerFileImage image(dir / "fc00001.rpo", 1);
    ASSERT_EQ(RKCONTAINER_OpenFile(&slot, image.Path().c_str()), 0);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(RKCONTAINER_CloseFile(&slot), 0);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(RKCONTAINER_CloseFile(&slot), -2) << "a second close finds the slot empty";

    uint32_t b, e, m;
    EXPECT_EQ(RKCONTAINER_GetSomeChnFileInfo(&slot, 0xFFFF, &b, &e, &m, nullptr), -2);
    EXPECT_EQ(RKCONTAINER_GetOneChnFileInfo(&slot, 0, &b, &e, nullptr), -2);
    EXPECT_EQ(RKCONTAINER_SeekIFrame(&slot, 0, nullptr), -2);
}

TEST(ContainerInfo, ReadOnlyOpenLeavesTheFileUnchanged)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00013.rpo", 13);
    WriteSeconds(image, Channel(0), kT0, 5);
    struct stat before {};
    ::stat(image.Path().c_str(), &before);
    // On a read-only view an open that asks for write access fails, root or not.
    const ReadOnlyRun run = RunWithReadOnlyView(dir.Path(), [&] {
        RKCONTAINER_HANDLE slot = nullptr;
        if (RKCONTAINER_OpenFile(&slot, image.Path().c_str()) != 0) return 1;
        RKCONTAINER_CloseFile(&slot);
        return ReadChannel(image.Path(), 0).frames.size() == 5 ? 0 : 2;
    });
    if (!run.available) GTEST_SKIP() << run.why;
    EXPECT_EQ(run.exitCode, 0) << "1 open, 2 read failed on a read-only view";
    struct stat after {};
    ::stat(image.Path().c_str(), &after);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

}  // namespace
}  // namespace velmor::fixtures
