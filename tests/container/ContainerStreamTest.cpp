// Choosing the main or the sub stream of a channel recorded in both.
#include <gtest/gtest.h>

#include "tests/container/ContainerTestUtil.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

using namespace rkfs;

constexpr uint64_t kUs = 1000000;
constexpr uint64_t kBlockBytes = 0x400000;  // a 128 MiB file holds 32 blocks of 4 MiB

// Channel 0 in both streams, channel 2 in its main stream only, channel 5 in
// its sub stream only; channel 7 is not recorded.
class ContainerStream : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new CTempDir();
        s_image = new CContainerFileImage(*s_dir / "fc00011.rpo", 11);
        SyntheticPlan plan;
        plan.startTime = kT0;
        plan.seconds = 12;
        plan.seed = 11;
        auto add = [&](uint8_t channel, bool sub, uint32_t iBytes, uint32_t pBytes) {
            SyntheticChannel ch;
            ch.params = Channel(channel, sub);
            if (sub) ch.params.encode.reso = 0;
            ch.iFrameBytes = iBytes;
            ch.pFrameBytes = pBytes;
            ch.audio = !sub;
            plan.channels.push_back(ch);
        };
        add(0, false, 150000, 40000);
        add(0, true, 30000, 6000);
        add(2, false, 100000, 20000);
        add(5, true, 20000, 4000);
        s_written = new SyntheticResult(WriteSynthetic(*s_image, plan));
    }
    static void TearDownTestSuite()
    {
        delete s_written;
        delete s_image;
        delete s_dir;
    }

    static const std::filesystem::path& Path() { return s_image->Path(); }
    // Frames written for entry `index` of the plan.
    static const std::vector<ExpectedFrame>& Written(size_t index) { return s_written->frames[index]; }
    static uint32_t FirstPosition(size_t index) { return s_written->blocks[index][0] % 32; }

    static CTempDir* s_dir;
    static CContainerFileImage* s_image;
    static SyntheticResult* s_written;
};
CTempDir* ContainerStream::s_dir = nullptr;
CContainerFileImage* ContainerStream::s_image = nullptr;
SyntheticResult* ContainerStream::s_written = nullptr;

TEST_F(ContainerStream, FixtureStoresTheStreamFlagInBlockAndFrameHeads)
{
    // Block head byte 9 bit 0 and frame head byte 2 mark the sub stream. A
    // block's head area is its last 4096 bytes; the first frame of a
    // recording starts at the block's first byte.
    for (size_t index : {0u, 1u, 3u}) {
        SCOPED_TRACE(index);
        const bool sub = index != 0;
        const uint64_t block = uint64_t(FirstPosition(index)) * kBlockBytes;
        const uint64_t head = block + kBlockBytes - 4096;
        EXPECT_EQ(s_image->ReadRaw(head + 8, 1)[0], index == 3 ? 5 : 0);
        EXPECT_EQ(s_image->ReadRaw(head + 9, 1)[0] & 1, sub ? 1 : 0);
        const auto frame = s_image->ReadRaw(block, 4);
        EXPECT_EQ(frame[0], 'F');
        EXPECT_EQ(frame[2], sub ? 1 : 0);
        EXPECT_EQ(frame[3], 1);  // an I frame
    }
}

struct StreamCase {
    const char* name;
    int channel;
    int stream;
    int result;
    int plan;  // the plan entry whose frames are read, -1 for none
    uint8_t reso;
};

class ContainerStreamChoice : public ContainerStream, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(ContainerStreamChoice, SelectsTheStreamAsked)
{
    const StreamCase& c = GetParam();
    ReadResult r = ReadChannel(Path(), c.channel, {}, false, 10000000, c.stream);
    if (c.plan < 0) {
        EXPECT_EQ(r.lastResult, c.result);
        EXPECT_TRUE(r.frames.empty());
        return;
    }
    EXPECT_EQ(r.lastResult, -4);
    EXPECT_EQ(r.badHeads, 0);
    EXPECT_EQ(r.begin, kT0);
    EXPECT_EQ(r.encode.reso, c.reso);
    ASSERT_EQ(r.frames.size(), Written(size_t(c.plan)).size());
    EXPECT_TRUE(r.frames == Written(size_t(c.plan)));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ContainerStreamChoice,
    ::testing::Values(StreamCase{"BothDefaultIsMain", 0, RKCONTAINER_STREAM_DEFAULT, 0, 0, 4},
                      StreamCase{"BothMain", 0, RKCONTAINER_STREAM_MAIN, 0, 0, 4},
                      StreamCase{"BothSub", 0, RKCONTAINER_STREAM_SUB, 0, 1, 0},
                      StreamCase{"MainOnlyDefault", 2, RKCONTAINER_STREAM_DEFAULT, 0, 2, 4},
                      StreamCase{"MainOnlyMain", 2, RKCONTAINER_STREAM_MAIN, 0, 2, 4},
                      StreamCase{"MainOnlySub", 2, RKCONTAINER_STREAM_SUB, -5, -1, 0},
                      StreamCase{"SubOnlyDefaultIsSub", 5, RKCONTAINER_STREAM_DEFAULT, 0, 3, 0},
                      StreamCase{"SubOnlyMain", 5, RKCONTAINER_STREAM_MAIN, -5, -1, 0},
                      StreamCase{"SubOnlySub", 5, RKCONTAINER_STREAM_SUB, 0, 3, 0},
                      StreamCase{"AbsentMain", 7, RKCONTAINER_STREAM_MAIN, -1, -1, 0},
                      StreamCase{"AbsentSub", 7, RKCONTAINER_STREAM_SUB, -1, -1, 0},
                      StreamCase{"AbsentDefault", 7, RKCONTAINER_STREAM_DEFAULT, -1, -1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ContainerStream, StreamsOfEachChannel)
{
    CContainerReader file(Path());
    const struct {
        int channel;
        int result;
        uint32_t streams;
    } cases[] = {{0, 0, RKCONTAINER_HAS_MAIN | RKCONTAINER_HAS_SUB},
                 {2, 0, RKCONTAINER_HAS_MAIN},
                 {5, 0, RKCONTAINER_HAS_SUB},
                 {7, 0, 0},
                 {15, 0, 0},
                 {16, -1, 0xAA},
                 {-1, -1, 0xAA}};
    for (const auto& c : cases) {
        uint32_t streams = 0xAA;
        EXPECT_EQ(RKCONTAINER_GetChnStreams(file.Slot(), c.channel, &streams), c.result) << c.channel;
        EXPECT_EQ(streams, c.streams) << c.channel;
    }
    uint32_t streams = 0xAA;
    RKCONTAINER_HANDLE empty = nullptr;
    EXPECT_EQ(RKCONTAINER_GetChnStreams(&empty, 0, &streams), -2);
    EXPECT_EQ(RKCONTAINER_GetChnStreams(nullptr, 0, &streams), -2);
    EXPECT_EQ(streams, 0xAAu);
}

TEST_F(ContainerStream, UnknownStreamValuesAreRefusedAndKeepTheChoice)
{
    CContainerReader file(Path());
    ASSERT_EQ(RKCONTAINER_SetStream(file.Slot(), RKCONTAINER_STREAM_SUB), 0);
    for (int bad : {-1, 3, 255}) EXPECT_EQ(RKCONTAINER_SetStream(file.Slot(), bad), -1) << bad;
    RKCONTAINER_ENCODE enc{};
    uint32_t begin = 0, end = 0;
    ASSERT_EQ(RKCONTAINER_GetOneChnFileInfo(file.Slot(), 0, &begin, &end, &enc), 0);
    EXPECT_EQ(enc.reso, 0) << "still the sub stream";
    RKCONTAINER_HANDLE empty = nullptr;
    EXPECT_EQ(RKCONTAINER_SetStream(&empty, RKCONTAINER_STREAM_MAIN), -2);
    EXPECT_EQ(RKCONTAINER_SetStream(nullptr, RKCONTAINER_STREAM_MAIN), -2);
}

TEST_F(ContainerStream, AFailedSelectionLeavesNoChannelSelected)
{
    CContainerReader file(Path());
    RKCONTAINER_ENCODE enc{};
    uint32_t begin = 0, end = 0;
    ASSERT_EQ(RKCONTAINER_GetOneChnFileInfo(file.Slot(), 0, &begin, &end, &enc), 0);
    ASSERT_EQ(RKCONTAINER_SetStream(file.Slot(), RKCONTAINER_STREAM_MAIN), 0);
    EXPECT_EQ(RKCONTAINER_GetOneChnFileInfo(file.Slot(), 5, &begin, &end, &enc), -5);
    std::vector<uint8_t> buffer(RKCONTAINER_MAX_FRAME_SIZE);
    RKCONTAINER_FRAME_HEAD head{};
    EXPECT_EQ(RKCONTAINER_ReadOneFrame(file.Slot(), buffer.data(), &head, &enc), -1);
    EXPECT_EQ(head.sign, 0);
    EXPECT_EQ(RKCONTAINER_SeekIFrame(file.Slot(), kT0 + 2, &enc), -3);
}

TEST_F(ContainerStream, AskingForStreamsMidwayKeepsTheReadingPosition)
{
    CContainerReader file(Path());
    RKCONTAINER_ENCODE enc{};
    uint32_t begin = 0, end = 0;
    ASSERT_EQ(RKCONTAINER_GetOneChnFileInfo(file.Slot(), 0, &begin, &end, &enc), 0);
    std::vector<uint8_t> buffer(RKCONTAINER_MAX_FRAME_SIZE);
    std::vector<ExpectedFrame> read;
    for (int calls = 0; calls < 100000; ++calls) {
        if (read.size() == 7) {
            uint32_t streams = 0;
            ASSERT_EQ(RKCONTAINER_GetChnStreams(file.Slot(), 5, &streams), 0);
            EXPECT_EQ(streams, uint32_t(RKCONTAINER_HAS_SUB));
        }
        RKCONTAINER_FRAME_HEAD head{};
        const int rc = RKCONTAINER_ReadOneFrame(file.Slot(), buffer.data(), &head, &enc);
        if (rc == -4) break;
        ASSERT_EQ(rc, 0);
        if (head.sign == 'F') read.push_back({head.type, head.pts, head.length, Crc32(buffer.data(), head.length)});
    }
    EXPECT_TRUE(read == Written(0));
}

TEST_F(ContainerStream, SeekInTheSubStreamLandsOnItsOwnKeyFrame)
{
    // Each stream has its own I-frame index: the sub stream lands on its
    // own key frame of the second, with the sub stream's frames after it.
    ReadResult r = ReadChannel(Path(), 0, kT0 + 5, false, 10000000, RKCONTAINER_STREAM_SUB);
    EXPECT_EQ(r.lastResult, -4);
    auto expected = FramesFrom(Written(1), (kT0 + 5) * kUs);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(r.frames == expected);
    EXPECT_NE(FramesFrom(Written(0), (kT0 + 5) * kUs).front().length, expected.front().length);
}

// The runs of a channel: its blocks that follow on form one run, whichever
// stream they hold; a later recording of the channel after a gap is a run
// of its own. A recording written first but later in time still comes
// second.
TEST(ContainerSpans, RunsOfAChannelInTimeOrder)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00012.rpo", 12);
    auto write = [&image](uint32_t start, uint32_t seconds, std::vector<std::pair<uint8_t, bool>> channels) {
        SyntheticPlan plan;
        plan.startTime = start;
        plan.seconds = seconds;
        for (const auto& [channel, sub] : channels) {
            SyntheticChannel ch;
            ch.params = Channel(channel, sub);
            ch.iFrameBytes = sub ? 20000 : 150000;
            ch.pFrameBytes = sub ? 4000 : 40000;
            plan.channels.push_back(ch);
        }
        return WriteSynthetic(image, plan);
    };
    write(kT0 + 300, 5, {{2, false}});
    const SyntheticResult first = write(kT0, 12, {{0, false}, {0, true}, {2, false}});
    ASSERT_GT(first.blocks[0].size(), 1u) << "the main stream of channel 0 needs several blocks";

    CContainerReader file(image.Path());
    struct Row {
        int channel;
        int capacity;
        int result;
        std::vector<std::pair<uint32_t, uint32_t>> runs;
    };
    for (const Row& r : {Row{0, 4, 1, {{kT0, kT0 + 11}}},
                         Row{2, 4, 2, {{kT0, kT0 + 11}, {kT0 + 300, kT0 + 304}}},
                         Row{2, 1, 1, {{kT0, kT0 + 11}}},
                         Row{7, 4, 0, {}},
                         Row{16, 4, -1, {}},
                         Row{-1, 4, -1, {}},
                         Row{0, 0, -1, {}}}) {
        SCOPED_TRACE(testing::Message() << "channel " << r.channel << " capacity " << r.capacity);
        RKCONTAINER_SPAN spans[4] = {};
        ASSERT_EQ(RKCONTAINER_GetChnSpans(file.Slot(), r.channel, spans, r.capacity), r.result);
        for (size_t i = 0; i < r.runs.size(); ++i) {
            EXPECT_EQ(spans[i].beginTime, r.runs[i].first) << i;
            EXPECT_EQ(spans[i].endTime, r.runs[i].second) << i;
        }
    }
    EXPECT_EQ(RKCONTAINER_GetChnSpans(file.Slot(), 0, nullptr, 4), -1);
    RKCONTAINER_SPAN span{};
    RKCONTAINER_HANDLE empty = nullptr;
    EXPECT_EQ(RKCONTAINER_GetChnSpans(&empty, 0, &span, 1), -2);
    EXPECT_EQ(RKCONTAINER_GetChnSpans(nullptr, 0, &span, 1), -2);

    // Asked between frames, the selected channel reads on where it was.
    RKCONTAINER_ENCODE enc{};
    uint32_t begin = 0, end = 0;
    ASSERT_EQ(RKCONTAINER_GetOneChnFileInfo(file.Slot(), 0, &begin, &end, &enc), 0);
    std::vector<uint8_t> buffer(RKCONTAINER_MAX_FRAME_SIZE);
    RKCONTAINER_FRAME_HEAD head{};
    ASSERT_EQ(RKCONTAINER_ReadOneFrame(file.Slot(), buffer.data(), &head, &enc), 0);
    ASSERT_EQ(RKCONTAINER_GetChnSpans(file.Slot(), 2, &span, 1), 1);
    ASSERT_EQ(RKCONTAINER_ReadOneFrame(file.Slot(), buffer.data(), &head, &enc), 0);
    EXPECT_EQ(head.pts, first.frames[0][1].pts);
    EXPECT_EQ(head.length, first.frames[0][1].length);
}

}  // namespace
}  // namespace velmor::fixtures
