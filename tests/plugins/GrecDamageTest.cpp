// grec files that are not what they should be: missing tags, contradicting
// tags, damaged record blocks, cut files, other bytes altogether. Each gives
// an error code, never a crash, a hang or a quietly short recording.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "plugins/ttx/src/GrecReader.h"
#include "tests/support/GrecWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

namespace fs = std::filesystem;
using ttx::CGrecReader;
using ttx::GrecFrame;

constexpr uint64_t kOriginUs = 1765188000ull * 1000000;

std::vector<uint8_t> Bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Outcome {
    int open = AVFILE_OK;   // the code of opening
    int last = 0;           // the code that ended reading (0: the end)
    size_t frames = 0;      // frames read before it
};

Outcome ReadThrough(const std::vector<uint8_t>& bytes)
{
    Outcome o;
    std::string error;
    auto reader = CGrecReader::Open(ttx::MemorySource(bytes.data(), bytes.size()), o.open, error);
    if (!reader) return o;
    GrecFrame f;
    int rc;
    while ((rc = reader->Next(f)) == 1) ++o.frames;
    o.last = rc;
    // A failure sticks until a seek.
    if (rc < 0) {
        EXPECT_EQ(reader->Next(f), rc);
    }
    return o;
}

GrecLayout BaseSpec()
{
    GrecLayout layout;
    layout.originUs = kOriginUs;
    layout.audioEncoding = 8;
    layout.withInfoTrack = true;
    return layout;
}

class GrecDamage : public ::testing::Test {
public:
    std::vector<uint8_t> Write(const GrecLayout& layout, int seconds = 4,
                               const std::function<void(std::vector<GrecWriteFrame>&)>& edit = {})
    {
        auto frames = MakeGrecClipFrames(layout, seconds, 25);
        if (edit) edit(frames);
        const fs::path path = m_dir / ("f" + std::to_string(m_count++) + ".grec");
        WriteGrecFile(path, layout, frames);
        return Bytes(path);
    }

protected:
    CTempDir m_dir{"grec-damage"};
    int m_count = 0;
};

TEST_F(GrecDamage, FilesThatAreNoGrecFileAreRefusedWhenOpened)
{
    struct Case {
        const char* name;
        std::function<std::vector<uint8_t>(GrecDamage&)> make;
        int code;
    } const cases[] = {
        {"empty", [](GrecDamage&) { return std::vector<uint8_t>{}; }, AVFILE_ERR_FORMAT},
        {"random bytes", [](GrecDamage&) { return MakePayload(5, 4096); }, AVFILE_ERR_FORMAT},
        {"no ORIGIN_US",
         [](GrecDamage& t) {
             GrecLayout s = BaseSpec();
             s.writeOrigin = false;
             return t.Write(s);
         },
         AVFILE_ERR_FORMAT},
        {"a sound tag that contradicts the track",
         [](GrecDamage& t) {
             GrecLayout s = BaseSpec();
             s.audioEncodingTag = "7";  // the track is A-law
             return t.Write(s);
         },
         AVFILE_ERR_FORMAT},
        {"a sound tag that is no number",
         [](GrecDamage& t) {
             GrecLayout s = BaseSpec();
             s.audioEncodingTag = "8a";
             return t.Write(s);
         },
         AVFILE_ERR_FORMAT},
        {"the first bytes of a file",
         [](GrecDamage& t) {
             auto b = t.Write(BaseSpec());
             b.resize(40);
             return b;
         },
         AVFILE_ERR_FORMAT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = c.make(*this);
        const Outcome o = ReadThrough(bytes);
        EXPECT_EQ(o.open, c.code);
    }
}

TEST_F(GrecDamage, ADamagedRecordBlockEndsReadingWithAnError)
{
    struct Case {
        const char* name;
        std::string text;
    } const cases[] = {
        {"one digit short", std::string(149, 'A')},
        {"one digit more", std::string(151, 'A')},
        {"lower-case digits", std::string(150, 'a')},
        {"a space inside", std::string(74, '0') + " " + std::string(75, '0')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = Write(BaseSpec(), 4, [&](std::vector<GrecWriteFrame>& frames) {
            for (auto& f : frames)
                if (f.kind == GrecWriteFrame::kInfo && f.ms == 2000) f.rawText = c.text;
        });
        const Outcome o = ReadThrough(bytes);
        ASSERT_EQ(o.open, AVFILE_OK);
        EXPECT_EQ(o.last, AVFILE_ERR_READ);
        // Everything before the block at 2 s (50 pictures, 100 sound frames,
        // 2 records) and the picture of 2 s itself came first.
        EXPECT_EQ(o.frames, 50u + 100u + 2u + 1u + 1u);
    }
}

TEST_F(GrecDamage, EveryCutOfAFileIsAnErrorNeverAShortRecording)
{
    const auto whole = Write(BaseSpec(), 3);
    const Outcome full = ReadThrough(whole);
    ASSERT_EQ(full.open, AVFILE_OK);
    ASSERT_EQ(full.last, 0);
    ASSERT_EQ(full.frames, 75u + 150u + 3u);
    std::vector<size_t> keeps = {whole.size() - 1, whole.size() - 100};
    for (size_t keep = 0; keep < whole.size(); keep += whole.size() / 37) keeps.push_back(keep);
    for (size_t keep : keeps) {
        SCOPED_TRACE("kept " + std::to_string(keep) + " of " + std::to_string(whole.size()));
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(keep));
        const Outcome o = ReadThrough(cut);
        if (o.open == AVFILE_OK)
            EXPECT_EQ(o.last, AVFILE_ERR_READ) << o.frames << " frames, then a quiet end";
        else
            EXPECT_EQ(o.open, AVFILE_ERR_FORMAT);
    }
}

TEST_F(GrecDamage, FlippedBytesNeverCrashOrHang)
{
    const auto whole = Write(BaseSpec(), 2);
    CSplitMix64 rng(11);
    for (int round = 0; round < 60; ++round) {
        auto bytes = whole;
        for (int k = 0; k < 8; ++k) bytes[rng.Range(0, uint32_t(bytes.size() - 1))] ^= uint8_t(rng.Range(1, 255));
        const Outcome o = ReadThrough(bytes);
        EXPECT_LE(o.open, AVFILE_OK);
        EXPECT_LE(o.frames, 500u);
    }
}

TEST_F(GrecDamage, AStreamedFileWithoutDurationOrIndexIsScanned)
{
    GrecLayout layout = BaseSpec();
    layout.writeDuration = false;
    const auto bytes = Write(layout, 4);
    int code = -99;
    std::string error;
    auto reader = CGrecReader::Open(ttx::MemorySource(bytes.data(), bytes.size()), code, error);
    ASSERT_TRUE(reader) << error;
    // The last frame tells the end: the sound frame of 3.98 s.
    EXPECT_EQ(reader->Info().endTime, kOriginUs + 3980000);
    ASSERT_EQ(reader->SeekIFrame(kOriginUs + 2500000), AVFILE_OK) << reader->Error();
    GrecFrame f;
    ASSERT_EQ(reader->Next(f), 1);
    EXPECT_EQ(f.type, AVFILE_FRAME_VIDEO);
    EXPECT_TRUE(f.key);
    EXPECT_EQ(f.timeUs, kOriginUs + 2000000);
}

TEST_F(GrecDamage, SoundEncodingsAndRateCodesComeFromTagsOrTheTrack)
{
    struct Case {
        int encoding, rateCode;
        bool tags;
        int wantEncoding, wantRate, wantBits;
    } const cases[] = {
        {7, 0, true, 7, 0, 8},  {8, 0, false, 8, 0, 8}, {2, 2, true, 2, 2, 2}, {2, 4, true, 2, 4, 3},
        {3, 1, true, 3, 1, 5},  {3, 0, true, 3, 0, 4},  {2, 4, false, 2, 4, 3}, {2, 1, false, 2, 1, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.encoding) + "/" + std::to_string(c.rateCode) + (c.tags ? " tagged" : ""));
        GrecLayout layout = BaseSpec();
        layout.audioEncoding = c.encoding;
        layout.rateCode = c.rateCode;
        layout.writeAudioTags = c.tags;
        const auto bytes = Write(layout, 1);
        int code = -99;
        std::string error;
        auto reader = CGrecReader::Open(ttx::MemorySource(bytes.data(), bytes.size()), code, error);
        ASSERT_TRUE(reader) << error;
        EXPECT_EQ(reader->Wave().encoding, c.wantEncoding);
        EXPECT_EQ(reader->Wave().rateCode, c.wantRate);
        EXPECT_EQ(reader->Wave().bitsPerSample, c.wantBits);
    }
}

TEST_F(GrecDamage, AnH265FileComesBackWithItsParameterSetsOnce)
{
    GrecLayout layout;
    layout.codec = VideoCodec::kH265;
    layout.originUs = kOriginUs;
    const auto frames = MakeGrecClipFrames(layout, 2, 25);
    const fs::path path = m_dir / "h265.grec";
    WriteGrecFile(path, layout, frames);
    const auto bytes = Bytes(path);
    int code = -99;
    std::string error;
    auto reader = CGrecReader::Open(ttx::MemorySource(bytes.data(), bytes.size()), code, error);
    ASSERT_TRUE(reader) << error;
    EXPECT_EQ(reader->Info().videoCompress, AVFILE_VIDEO_H265);
    EXPECT_EQ(reader->Wave().encoding, 0);
    EXPECT_EQ(reader->Info().hasAudio, 0);
    GrecFrame f;
    size_t i = 0;
    while (reader->Next(f) == 1) {
        ASSERT_LT(i, frames.size());
        EXPECT_EQ(SplitAnnexB(f.data), SplitAnnexB(frames[i].data)) << "picture " << i;
        EXPECT_EQ(f.key, frames[i].key);
        ++i;
    }
    EXPECT_EQ(i, 50u);
}

TEST(GrecRecordText, OnlyExactlyOneHundredFiftyUpperCaseDigitsAreARecord)
{
    std::string text;
    for (int i = 0; i < 75; ++i) text += "0123456789ABCDEF"[i % 16], text += "FEDCBA9876543210"[i % 16];
    uint8_t out[75] = {};
    ASSERT_TRUE(ttx::DecodeRecordText(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out));
    EXPECT_EQ(out[0], 0x0F);
    EXPECT_EQ(out[1], 0x1E);
    EXPECT_EQ(out[15], 0xF0);
    EXPECT_EQ(out[74], 0xA5);
    std::string lower = text;
    lower[10] = 'a';
    EXPECT_FALSE(ttx::DecodeRecordText(reinterpret_cast<const uint8_t*>(lower.data()), lower.size(), out));
    EXPECT_FALSE(ttx::DecodeRecordText(reinterpret_cast<const uint8_t*>(text.data()), 148, out));
    EXPECT_FALSE(ttx::DecodeRecordText(nullptr, 150, out));
}

}  // namespace
}  // namespace velmor::fixtures
