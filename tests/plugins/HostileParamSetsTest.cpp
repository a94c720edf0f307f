// Files the fuzzers found. Two hold an H.265 track whose configuration
// record declares tens of thousands of parameter sets it does not hold:
// opening them took seconds and gigabytes inside FFmpeg's Annex B filter,
// and both readers now refuse them at once with a clear reason. One is a
// media file with empty video packets, which are never handed out as
// pictures.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "player/playback/FrameSource.h"
#include "plugins/ttx/src/GrecReader.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

std::vector<uint8_t> Finding(const char* name)
{
    std::ifstream in(std::string(VELMOR_MEDIA_TEST_DATA) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(HostileParamSets, AGrecTrackDeclaringSetsItDoesNotHoldIsRefused)
{
    const auto bytes = Finding("grec-hvcc-units-past-end.bin");
    ASSERT_EQ(bytes.size(), 2871u);
    int code = 0;
    std::string error;
    auto reader = ttx::CGrecReader::Open(ttx::MemorySource(bytes.data(), bytes.size()), code, error);
    EXPECT_FALSE(reader);
    EXPECT_EQ(code, AVFILE_ERR_FORMAT);
    EXPECT_EQ(error, "the video track's parameter sets are damaged");
}

TEST(HostileParamSets, AMediaFileDeclaringSetsItDoesNotHoldIsRefused)
{
    const auto bytes = Finding("media-hvcc-units-past-end.bin");
    ASSERT_EQ(bytes.size(), 1849u);
    fixtures::CTempDir dir;
    const auto path = dir.Path() / "input.mp4";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    auto source = CFrameSource::OpenMediaFile(path, 0);
    EXPECT_NE(source->OpenResult(), EFrameResult::kOk);
    EXPECT_FALSE(source->ErrorText().empty());
}

TEST(HostileParamSets, EmptyVideoPacketsOfAMediaFileAreNotPictures)
{
    const auto bytes = Finding("media-empty-video-packet.bin");
    ASSERT_FALSE(bytes.empty());
    fixtures::CTempDir dir;
    const auto path = dir.Path() / "input.mp4";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    auto source = CFrameSource::OpenMediaFile(path, 0);
    if (source->OpenResult() != EFrameResult::kOk) return;  // refused outright is sound too
    SourceFrame f;
    int frames = 0;
    while (frames < 2000 && source->Read(f) == EFrameResult::kOk) {
        ++frames;
        ASSERT_EQ(f.kind, EFrameKind::kVideo);
        ASSERT_NE(f.data, nullptr);
        ASSERT_GT(f.length, 0u) << "frame " << frames;
    }
}

}  // namespace
}  // namespace velmor
