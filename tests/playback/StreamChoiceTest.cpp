// A container file whose channel 1 is recorded in both streams and channel 2
// in its main stream only, opened through the frame source with each choice.
#include <gtest/gtest.h>

#include "player/playback/FrameSource.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

using fixtures::CTempDir;

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00

// Six seconds at 25 pictures a second, a key frame every second. The main
// stream's key frames are 5000 bytes, the sub stream's 900.
void WriteStream(fixtures::IBlockSink& sink, uint8_t channel, bool sub)
{
    fixtures::RecordingParams params;
    params.channel = channel;
    params.subStream = sub;
    params.encode = {uint8_t(sub ? 0 : 4), 0, 1, 0, 25};
    fixtures::CRecordWriter w(sink, params);
    for (uint32_t f = 0; f < 6 * 25; ++f) {
        const bool key = f % 25 == 0;
        const uint32_t length = key ? (sub ? 900 : 5000) : (sub ? 100 : 700);
        auto data = fixtures::MakePayload(f * 2 + (sub ? 1 : 0), length);
        ASSERT_EQ(w.WriteFrame(key ? rkfs::kFrameI : rkfs::kFrameP, (uint64_t(kT0) * 1000 + f * 40) * 1000,
                               data.data(), length),
                  fixtures::WriteResult::kWritten);
    }
    w.Close();
}

struct ChoiceCase {
    const char* name;
    int channel;
    EStreamChoice choice;
    EFrameResult open;
    bool sub;  // the stream read
    int width, height;
    uint32_t keyBytes;
    bool hasSub;
};

class StreamChoice : public testing::TestWithParam<ChoiceCase> {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new CTempDir();
        fixtures::CContainerFileImage image(*s_dir / "fc00003.rpo", 3);
        WriteStream(image, 0, false);
        WriteStream(image, 0, true);
        WriteStream(image, 1, false);
        s_path = new std::filesystem::path(image.Path());
    }
    static void TearDownTestSuite()
    {
        delete s_path;
        delete s_dir;
    }
    static CTempDir* s_dir;
    static std::filesystem::path* s_path;
};
CTempDir* StreamChoice::s_dir = nullptr;
std::filesystem::path* StreamChoice::s_path = nullptr;

TEST_P(StreamChoice, OpensTheStreamAsked)
{
    const ChoiceCase& c = GetParam();
    auto source = CFrameSource::OpenContainerFile(*s_path, c.channel, c.choice);
    ASSERT_EQ(source->OpenResult(), c.open) << source->ErrorText();
    if (c.open != EFrameResult::kOk) {
        EXPECT_EQ(source->ErrorText(), "channel 2 has no sub stream in this file");
        return;
    }
    const SourceStream& s = source->Stream();
    EXPECT_EQ(s.subStream, c.sub);
    EXPECT_TRUE(s.hasMainStream);
    EXPECT_EQ(s.hasSubStream, c.hasSub);
    EXPECT_EQ(s.width, c.width);
    EXPECT_EQ(s.height, c.height);
    EXPECT_EQ(s.begin, kT0);
    EXPECT_EQ(s.end, kT0 + 5);

    // The key frame of 3 s is the stream's own.
    ASSERT_EQ(source->Seek(kT0 + 3), EFrameResult::kOk);
    SourceFrame f;
    ASSERT_EQ(source->Read(f), EFrameResult::kOk);
    EXPECT_TRUE(f.key);
    EXPECT_EQ(f.ms, 3000);
    EXPECT_EQ(f.length, c.keyBytes);
    size_t count = 1;
    while (source->Read(f) == EFrameResult::kOk) ++count;
    EXPECT_EQ(count, 75u);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, StreamChoice,
    testing::Values(ChoiceCase{"BothDefault", 1, EStreamChoice::kDefault, EFrameResult::kOk, false, 1920, 1080, 5000, true},
                    ChoiceCase{"BothMain", 1, EStreamChoice::kMain, EFrameResult::kOk, false, 1920, 1080, 5000, true},
                    ChoiceCase{"BothSub", 1, EStreamChoice::kSub, EFrameResult::kOk, true, 352, 288, 900, true},
                    ChoiceCase{"MainOnlyDefault", 2, EStreamChoice::kDefault, EFrameResult::kOk, false, 1920, 1080,
                               5000, false},
                    ChoiceCase{"MainOnlyMain", 2, EStreamChoice::kMain, EFrameResult::kOk, false, 1920, 1080, 5000,
                               false},
                    ChoiceCase{"MainOnlySub", 2, EStreamChoice::kSub, EFrameResult::kNoChannel, false, 0, 0, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StreamChoiceKinds, OtherKindsTellNoStreams)
{
    // A reader of another kind holds one stream: nothing to choose from.
    CTempDir dir;
    fixtures::CContainerFileImage image(dir / "fc00004.rpo", 4);
    WriteStream(image, 0, true);
    auto source = CFrameSource::OpenFile(ESourceKind::kContainerFile, image.Path(), 1, EStreamChoice::kMain);
    ASSERT_EQ(source->OpenResult(), EFrameResult::kNoChannel);
    EXPECT_EQ(source->ErrorText(), "channel 1 has no main stream in this file");
    auto sub = CFrameSource::OpenFile(ESourceKind::kContainerFile, image.Path(), 1);
    ASSERT_EQ(sub->OpenResult(), EFrameResult::kOk);
    EXPECT_TRUE(sub->Stream().subStream);
    EXPECT_FALSE(sub->Stream().hasMainStream);
    EXPECT_TRUE(sub->Stream().hasSubStream);
    auto span = CFrameSource::OpenPartitionSpan({image.Path()}, 1, kT0, kT0 + 6);
    ASSERT_EQ(span->OpenResult(), EFrameResult::kOk) << span->ErrorText();
    EXPECT_FALSE(span->Stream().hasSubStream);
    EXPECT_FALSE(span->Stream().subStream);
}

}  // namespace
}  // namespace velmor
