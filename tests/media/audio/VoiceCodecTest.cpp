// The voice codec's interface: every result code and length rule, frames
// that claim more than they hold, the encoders against their own decoders,
// and the transcoder.
#include <gtest/gtest.h>

#include <array>
#include <tuple>
#include <cstring>
#include <string>

#include "media/include/rkmedia.h"
#include "media/src/audio/VoiceCodec.h"
#include "tests/media/audio/VoiceTestUtil.h"

namespace velmor::fixtures::voice {
namespace {

namespace codec = rkmedia::voice;

constexpr uint16_t kAllModes[] = {1, 2, 65, 66, 3, 35, 67, 4, 5, 6, 7, 36, 37, 38, 39, 68};

struct State {
    alignas(8) std::array<uint8_t, VOICE_STATE_SIZE> bytes{};
    void* get() { return bytes.data(); }
    uint16_t Mode() const { return uint16_t(bytes[0] | (bytes[1] << 8)); }
};

// A frame of `words` payload words of recognisable bytes.
std::vector<uint8_t> FrameOfWords(unsigned words, uint16_t flags = 0x0100)
{
    const auto payload = MakePayload(words + 11, 2 * size_t(words));
    return Frame(payload.data(), payload.size(), flags);
}

int32_t Decode(uint16_t mode, const std::vector<uint8_t>& frame, uint16_t* count)
{
    State s;
    EXPECT_EQ(VOICE_DecReset(s.get(), mode), VOICE_OK);
    int16_t pcm[VOICE_MAX_FRAME_SAMPLES];
    return VOICE_DecodeFrame(s.get(), frame.data(), pcm, count);
}

TEST(VoiceCodec, Version)
{
    char text[VOICE_VERSION_SIZE + 8];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(VOICE_GetVersion(text), 0);
    EXPECT_STREQ(text, "VOICE_VERSION=VOICELIB_V1.0.0.0");
    EXPECT_EQ(text[VOICE_VERSION_SIZE], 'x');  // nothing past the terminating zero
    EXPECT_EQ(VOICE_GetVersion(nullptr), -1);
}

TEST(VoiceCodec, CodesAreNegativeAsSigned)
{
    EXPECT_EQ(uint32_t(VOICE_ERR_NULL_STATE), 0xA1220101u);
    EXPECT_EQ(uint32_t(VOICE_ERR_NULL_INPUT), 0xA1220102u);
    EXPECT_EQ(uint32_t(VOICE_ERR_NULL_OUTPUT), 0xA1220103u);
    EXPECT_EQ(uint32_t(VOICE_ERR_ENC_MODE), 0xA1220001u);
    EXPECT_EQ(uint32_t(VOICE_ERR_ENC_SAMPLES), 0xA1220002u);
    EXPECT_EQ(uint32_t(VOICE_ERR_DEC_MODE), 0xA1220011u);
    EXPECT_EQ(uint32_t(VOICE_ERR_DEC_LENGTH), 0xA1220012u);
    EXPECT_EQ(uint32_t(VOICE_ERR_DEC_FLAGS), 0xA1220013u);
    EXPECT_EQ(uint32_t(VOICE_ERR_TRANS_STATE), 0xA1221001u);
    EXPECT_EQ(uint32_t(VOICE_ERR_TRANS_MODE), 0xA1221002u);
    EXPECT_LT(VOICE_ERR_NULL_STATE, 0);
}

TEST(VoiceCodec, NullPointers)
{
    State s;
    int16_t pcm[VOICE_MAX_FRAME_SAMPLES] = {};
    uint8_t frame[VOICE_MAX_FRAME_BYTES] = {};
    uint16_t n = 77;
    EXPECT_EQ(VOICE_DecReset(nullptr, 1), VOICE_ERR_NULL_STATE);
    EXPECT_EQ(VOICE_EncReset(nullptr, 1), VOICE_ERR_NULL_STATE);
    ASSERT_EQ(VOICE_DecReset(s.get(), 1), VOICE_OK);
    EXPECT_EQ(VOICE_DecodeFrame(nullptr, frame, pcm, &n), VOICE_ERR_NULL_STATE);
    EXPECT_EQ(VOICE_DecodeFrame(s.get(), nullptr, pcm, &n), VOICE_ERR_NULL_INPUT);
    EXPECT_EQ(VOICE_DecodeFrame(s.get(), frame, nullptr, &n), VOICE_ERR_NULL_OUTPUT);
    EXPECT_EQ(VOICE_DecodeFrame(s.get(), frame, pcm, nullptr), VOICE_ERR_NULL_OUTPUT);
    ASSERT_EQ(VOICE_EncReset(s.get(), 1), VOICE_OK);
    EXPECT_EQ(VOICE_EncodeFrame(nullptr, pcm, frame, 320), VOICE_ERR_NULL_STATE);
    EXPECT_EQ(VOICE_EncodeFrame(s.get(), nullptr, frame, 320), VOICE_ERR_NULL_INPUT);
    EXPECT_EQ(VOICE_EncodeFrame(s.get(), pcm, nullptr, 320), VOICE_ERR_NULL_OUTPUT);
    EXPECT_EQ(VOICE_TransCodeReset(nullptr, 97), VOICE_ERR_TRANS_STATE);
    EXPECT_EQ(VOICE_TransCodeFrame(nullptr, frame), VOICE_ERR_TRANS_STATE);
    std::vector<uint8_t> trans(VOICE_TRANSCODE_STATE_SIZE);
    ASSERT_EQ(VOICE_TransCodeReset(trans.data(), 97), VOICE_OK);
    EXPECT_EQ(VOICE_TransCodeFrame(trans.data(), nullptr), VOICE_ERR_NULL_INPUT);
}

TEST(VoiceCodec, UnsupportedModeIsStoredAndReportedAgainByTheNextFrame)
{
    for (uint16_t mode : {0, 8, 34, 40, 64, 69, 97, 0xFFFF}) {
        State s;
        EXPECT_EQ(VOICE_DecReset(s.get(), mode), VOICE_ERR_DEC_MODE) << mode;
        EXPECT_EQ(s.Mode(), mode);
        const auto frame = FrameOfWords(160);
        int16_t pcm[VOICE_MAX_FRAME_SAMPLES];
        uint16_t n = 99;
        EXPECT_EQ(VOICE_DecodeFrame(s.get(), frame.data(), pcm, &n), VOICE_ERR_DEC_MODE);
        EXPECT_EQ(n, 0);

        State e;
        EXPECT_EQ(VOICE_EncReset(e.get(), mode), VOICE_ERR_ENC_MODE);
        EXPECT_EQ(e.Mode(), mode);
        uint8_t out[VOICE_MAX_FRAME_BYTES];
        EXPECT_EQ(VOICE_EncodeFrame(e.get(), pcm, out, 320), VOICE_ERR_ENC_MODE);
    }
    for (uint16_t mode : kAllModes) {
        State s;
        EXPECT_EQ(VOICE_DecReset(s.get(), mode), VOICE_OK) << mode;
        EXPECT_EQ(VOICE_EncReset(s.get(), mode), VOICE_OK) << mode;
        EXPECT_EQ(s.Mode(), mode);
    }
}

TEST(VoiceCodec, FlagsOtherThanVoiceDataAreRefused)
{
    uint16_t n = 5;
    for (uint16_t flags : {0x0000, 0x0200, 0x0300, 0x00FF, 0xFE00}) {
        EXPECT_EQ(Decode(1, FrameOfWords(160, flags), &n), VOICE_ERR_DEC_FLAGS) << std::hex << flags;
        EXPECT_EQ(n, 0);
    }
    // Only bits 8 and 9 decide.
    EXPECT_EQ(Decode(1, FrameOfWords(160, 0x8D01), &n), VOICE_OK);
    EXPECT_EQ(n, 320);
    // Flags are looked at before the length and the mode.
    State s;
    VOICE_DecReset(s.get(), 8);
    int16_t pcm[VOICE_MAX_FRAME_SAMPLES];
    EXPECT_EQ(VOICE_DecodeFrame(s.get(), FrameOfWords(0, 0x0200).data(), pcm, &n), VOICE_ERR_DEC_FLAGS);
    EXPECT_EQ(VOICE_DecodeFrame(s.get(), FrameOfWords(0).data(), pcm, &n), VOICE_ERR_DEC_LENGTH);
}

struct LengthRule {
    uint16_t mode;
    unsigned words;
    int samples;  // -1: refused
};

class VoiceLengthRule : public ::testing::TestWithParam<LengthRule> {};

TEST_P(VoiceLengthRule, SamplesOrRefusal)
{
    const LengthRule& r = GetParam();
    uint16_t n = 1234;
    const int32_t rc = Decode(r.mode, FrameOfWords(r.words), &n);
    if (r.samples < 0) {
        EXPECT_EQ(rc, VOICE_ERR_DEC_LENGTH);
        EXPECT_EQ(n, 0);
    } else {
        EXPECT_EQ(rc, VOICE_OK);
        EXPECT_EQ(n, r.samples);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, VoiceLengthRule,
    ::testing::Values(
        // G.711: at most 240 words, payload bytes a multiple of 80.
        LengthRule{1, 160, 320}, LengthRule{1, 161, -1}, LengthRule{1, 40, 80}, LengthRule{1, 20, -1},
        LengthRule{2, 240, 480}, LengthRule{65, 200, 400}, LengthRule{66, 120, 240}, LengthRule{66, 255, -1},
        // DVI4 with header: 4L - 8 samples, at most 122 words; the header
        // needs two words of its own.
        LengthRule{3, 122, 480}, LengthRule{3, 123, -1}, LengthRule{3, 2, 0}, LengthRule{3, 1, -1},
        LengthRule{3, 82, 320},
        // IMA with the first sample in the header: 4(L - 2) + 1.
        LengthRule{35, 122, 481}, LengthRule{35, 123, -1}, LengthRule{35, 2, 1}, LengthRule{35, 1, -1},
        LengthRule{35, 64, 249},
        // DVI4 without header: 4L.
        LengthRule{67, 122, 488}, LengthRule{67, 123, -1}, LengthRule{67, 1, 4},
        // G.726 16 kbit/s: at most 60 words, 8L a multiple of 80.
        LengthRule{4, 10, 80}, LengthRule{4, 60, 480}, LengthRule{4, 15, -1}, LengthRule{4, 70, -1},
        LengthRule{36, 40, 320}, LengthRule{68, 40, 320}, LengthRule{68, 70, -1}, LengthRule{68, 5, -1},
        // 24 kbit/s: at most 90 words, 16L/3 a multiple of 80.
        LengthRule{5, 30, 160}, LengthRule{5, 31, -1}, LengthRule{5, 90, 480}, LengthRule{5, 105, -1},
        LengthRule{37, 15, 80}, LengthRule{37, 16, -1},
        // 32 kbit/s: at most 120 words, 4L a multiple of 80.
        LengthRule{6, 20, 80}, LengthRule{6, 120, 480}, LengthRule{6, 140, -1}, LengthRule{6, 30, -1},
        LengthRule{38, 80, 320},
        // 40 kbit/s: at most 150 words, 16L/5 a multiple of 80 (175 words
        // would give a multiple of 80, but is too long).
        LengthRule{7, 25, 80}, LengthRule{7, 150, 480}, LengthRule{7, 175, -1}, LengthRule{7, 26, -1},
        LengthRule{39, 100, 320}, LengthRule{39, 30, -1}),
    [](const auto& info) {
        return "Mode" + std::to_string(info.param.mode) + "Words" + std::to_string(info.param.words);
    });

TEST(VoiceCodec, EveryModeRefusesAnEmptyPayload)
{
    for (uint16_t mode : kAllModes) {
        uint16_t n = 9;
        EXPECT_EQ(Decode(mode, FrameOfWords(0), &n), VOICE_ERR_DEC_LENGTH) << mode;
        EXPECT_EQ(n, 0);
    }
}

TEST(VoiceCodec, AFrameThatClaimsMoreThanItHoldsIsRefused)
{
    for (uint16_t mode : kAllModes) {
        State s;
        codec::DecReset(s.get(), mode);
        // A whole valid frame for the mode...
        const unsigned words = mode == 3 || mode == 35 || mode == 67 ? 64 : (mode == 5 || mode == 37) ? 60
                               : (mode == 7 || mode == 39)                                     ? 100
                               : (mode == 4 || mode == 36 || mode == 68)                       ? 40
                                                                                               : 80;
        const auto full = FrameOfWords(words);
        int16_t pcm[VOICE_MAX_FRAME_SAMPLES];
        uint16_t n = 0;
        // ...cut short by one byte, in a buffer of exactly that size.
        std::vector<uint8_t> cut(full.begin(), full.end() - 1);
        EXPECT_EQ(codec::DecodeFrame(s.get(), cut.data(), cut.size(), pcm, &n), VOICE_ERR_DEC_LENGTH) << mode;
        EXPECT_EQ(n, 0);
        EXPECT_EQ(codec::DecodeFrame(s.get(), full.data(), 3, pcm, &n), VOICE_ERR_DEC_LENGTH) << mode;
        EXPECT_EQ(codec::DecodeFrame(s.get(), full.data(), full.size(), pcm, &n), VOICE_OK) << mode;
        EXPECT_GT(n, 0);
    }
}

TEST(VoiceCodec, DecodingLeavesTheFrameAsItWas)
{
    // The most-significant-bit-first modes decode without repacking the
    // caller's bytes, so the same frame decodes the same twice.
    for (uint16_t mode : {36, 37, 38, 39, 35}) {
        const auto frame = FrameOfWords(mode == 35 ? 64 : 60 * (mode == 37) + 40 * (mode == 36) + 80 * (mode == 38) +
                                                               100 * (mode == 39));
        const auto copy = frame;
        int16_t a[VOICE_MAX_FRAME_SAMPLES], b[VOICE_MAX_FRAME_SAMPLES];
        uint16_t na = 0, nb = 0;
        State s1, s2;
        VOICE_DecReset(s1.get(), mode);
        VOICE_DecReset(s2.get(), mode);
        ASSERT_EQ(VOICE_DecodeFrame(s1.get(), frame.data(), a, &na), VOICE_OK) << mode;
        EXPECT_EQ(frame, copy) << mode;
        ASSERT_EQ(VOICE_DecodeFrame(s2.get(), frame.data(), b, &nb), VOICE_OK);
        ASSERT_EQ(na, nb);
        EXPECT_EQ(0, std::memcmp(a, b, na * sizeof(int16_t))) << mode;
    }
}

TEST(VoiceCodec, DamagedHeaderAndStateStayInBounds)
{
    // A step index far past the table in the header, and a state of random
    // bytes behind a valid mode: decoding stays within the tables.
    for (uint16_t mode : {3, 35}) {
        auto frame = FrameOfWords(64);
        frame[4 + 2] = 0xFF;
        uint16_t n = 0;
        EXPECT_EQ(Decode(mode, frame, &n), VOICE_OK);
    }
    for (uint16_t mode : kAllModes) {
        State s;
        FillPayload(mode, s.bytes.data(), s.bytes.size());
        s.bytes[0] = uint8_t(mode);
        s.bytes[1] = uint8_t(mode >> 8);
        const unsigned words = codec::G726Bits(mode) ? 20 * unsigned(codec::G726Bits(mode)) : 80;
        const auto frame = FrameOfWords(words);
        int16_t pcm[VOICE_MAX_FRAME_SAMPLES];
        uint16_t n = 0;
        EXPECT_EQ(VOICE_DecodeFrame(s.get(), frame.data(), pcm, &n), VOICE_OK) << mode;
        FillPayload(mode + 100, s.bytes.data() + 2, s.bytes.size() - 2);
        uint8_t out[VOICE_MAX_FRAME_BYTES];
        EXPECT_EQ(VOICE_EncodeFrame(s.get(), pcm, out, 320), VOICE_OK) << mode;
    }
}

// ---- Encoder ------------------------------------------------------------------------------

TEST(VoiceCodec, SampleCountLimits)
{
    const auto pcm = TestSignal(VOICE_MAX_ENCODE_SAMPLES + 1);
    uint8_t frame[VOICE_MAX_FRAME_BYTES + 16];
    for (uint16_t mode : kAllModes) {
        State s;
        VOICE_EncReset(s.get(), mode);
        EXPECT_EQ(VOICE_EncodeFrame(s.get(), pcm.data(), frame, 0), VOICE_ERR_ENC_SAMPLES) << mode;
        EXPECT_EQ(VOICE_EncodeFrame(s.get(), pcm.data(), frame, 482), VOICE_ERR_ENC_SAMPLES) << mode;
        std::memset(frame, 0xEE, sizeof frame);
        ASSERT_EQ(VOICE_EncodeFrame(s.get(), pcm.data(), frame, 481), VOICE_OK) << mode;
        const size_t bytes = 4 + 2 * size_t(frame[2]);
        EXPECT_LE(bytes, size_t(VOICE_MAX_FRAME_BYTES));
        EXPECT_EQ(frame[bytes], 0xEE) << "mode " << mode << " wrote past its frame";
        EXPECT_EQ(frame[0], 0x00);
        EXPECT_EQ(frame[1], 0x01);
        EXPECT_EQ(frame[3], 0x00);
    }
}

TEST(VoiceCodec, FrameLengthsFollowTheSampleCount)
{
    const auto pcm = TestSignal(481);
    struct Expect {
        uint16_t mode;
        unsigned samples;
        unsigned words;
    };
    const Expect cases[] = {
        {1, 320, 160}, {1, 481, 240}, {65, 7, 3},    {3, 320, 82},  {3, 321, 82},  {3, 4, 3},    {35, 321, 82},
        {35, 320, 81}, {35, 1, 2},    {67, 320, 80}, {67, 7, 1},    {4, 320, 40},  {36, 481, 60}, {5, 320, 60},
        {5, 16, 3},    {6, 320, 80},  {38, 481, 120}, {7, 320, 100}, {39, 16, 5},  {68, 320, 40},
    };
    for (const Expect& c : cases) {
        State s;
        VOICE_EncReset(s.get(), c.mode);
        uint8_t frame[VOICE_MAX_FRAME_BYTES];
        ASSERT_EQ(VOICE_EncodeFrame(s.get(), pcm.data(), frame, uint16_t(c.samples)), VOICE_OK) << c.mode;
        EXPECT_EQ(frame[2], c.words) << "mode " << c.mode << ", " << c.samples << " samples";
    }
    // Too few samples for one code word: nothing could be encoded.
    for (uint16_t mode : {1, 3, 67, 5, 7}) {
        State s;
        VOICE_EncReset(s.get(), mode);
        uint8_t frame[VOICE_MAX_FRAME_BYTES];
        EXPECT_EQ(VOICE_EncodeFrame(s.get(), pcm.data(), frame, 1), VOICE_ERR_ENC_SAMPLES) << mode;
    }
}

TEST(VoiceCodec, G711CodesComeBackFromTheirOwnReconstruction)
{
    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(codec::LinearToAlaw(codec::AlawToLinear(uint8_t(c))), c);
        // µ-law has two zeros; the negative one comes back as the positive.
        EXPECT_EQ(codec::LinearToUlaw(codec::UlawToLinear(uint8_t(c))), c == 0x7F ? 0xFF : c);
    }
    EXPECT_EQ(codec::AlawToLinear(0xD5), 8);
    EXPECT_EQ(codec::AlawToLinear(0x55), -8);
    EXPECT_EQ(codec::AlawToLinear(0xAA), 32256);
    EXPECT_EQ(codec::UlawToLinear(0xFF), 0);
    EXPECT_EQ(codec::UlawToLinear(0x80), 32124);
    EXPECT_EQ(codec::UlawToLinear(0x00), -32124);
    // Each sample goes to its nearest level: never further than half a step
    // of the segment it lands in (outside the clipped ends).
    for (int x = -30000; x <= 30000; ++x) {
        const int a = codec::AlawToLinear(codec::LinearToAlaw(int16_t(x)));
        const int aseg = (codec::LinearToAlaw(int16_t(x)) ^ 0x55) >> 4 & 7;
        ASSERT_LE(std::abs(a - x), aseg <= 1 ? 8 : 8 << (aseg - 1)) << x;
        const int u = codec::UlawToLinear(codec::LinearToUlaw(int16_t(x)));
        const int useg = (~codec::LinearToUlaw(int16_t(x)) >> 4) & 7;
        ASSERT_LE(std::abs(u - x), 4 << useg) << x;
    }
}

TEST(VoiceCodec, G711FramesRoundTripInBothByteOrders)
{
    // Every code word once (and the first 64 again), as decoded samples.
    std::vector<int16_t> pcm(320);
    for (auto [low, high, law] : {std::tuple{1, 65, false}, std::tuple{2, 66, true}}) {
        auto code = [law = law](size_t i) { return uint8_t(law && uint8_t(i) == 0x7F ? 0xFF : uint8_t(i)); };
        for (size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = law ? codec::UlawToLinear(code(i)) : codec::AlawToLinear(code(i));
        const auto lowFrames = EncodeStream(uint16_t(low), pcm, 320);
        const auto highFrames = EncodeStream(uint16_t(high), pcm, 320);
        ASSERT_EQ(lowFrames.size(), 1u);
        const auto& f = lowFrames[0];
        for (size_t i = 0; i < 320; ++i) ASSERT_EQ(f[4 + i], code(i)) << "mode " << low;
        for (size_t i = 0; i < 320; ++i) ASSERT_EQ(highFrames[0][4 + i], f[4 + (i ^ 1)]) << "mode " << high;
        std::vector<uint8_t> payload(f.begin() + 4, f.end());
        EXPECT_EQ(DecodeStream(uint16_t(low), payload, 320), pcm);
        std::vector<uint8_t> swapped(highFrames[0].begin() + 4, highFrames[0].end());
        EXPECT_EQ(DecodeStream(uint16_t(high), swapped, 320), pcm);
    }
}

TEST(VoiceCodec, AdpcmEncodersRoundTripThroughTheirDecoders)
{
    const auto pcm = TestSignal(16000);
    for (uint16_t mode : {3, 35, 67, 4, 5, 6, 7, 36, 37, 38, 39, 68}) {
        const size_t n = mode == 35 ? 321 : 320;
        const auto frames = EncodeStream(mode, pcm, n);
        State s;
        VOICE_DecReset(s.get(), mode);
        std::vector<int16_t> out;
        for (const auto& f : frames) {
            int16_t buf[VOICE_MAX_FRAME_SAMPLES];
            uint16_t got = 0;
            ASSERT_EQ(VOICE_DecodeFrame(s.get(), f.data(), buf, &got), VOICE_OK) << mode;
            ASSERT_EQ(got, n);
            out.insert(out.end(), buf, buf + got);
        }
        const std::vector<int16_t> in(pcm.begin(), pcm.begin() + long(out.size()));
        const double snr = SnrDb(in, out);
        const double floor = mode == 4 || mode == 36 || mode == 68 ? 6 : (mode == 5 || mode == 37) ? 11 : 15;
        EXPECT_GT(snr, floor) << "mode " << mode;
    }
}

TEST(VoiceCodec, G726StateCarriesAcrossFrames)
{
    // Code words do not depend on where the stream is cut.
    const auto pcm = TestSignal(4800);
    for (uint16_t mode : {5, 39}) {
        std::vector<uint8_t> a, b;
        for (const auto& f : EncodeStream(mode, pcm, 80)) a.insert(a.end(), f.begin() + 4, f.end());
        for (const auto& f : EncodeStream(mode, pcm, 480)) b.insert(b.end(), f.begin() + 4, f.end());
        EXPECT_EQ(a, b) << mode;
    }
}

TEST(VoiceCodec, Mode68IsSixteenKilobitsLeastSignificantBitFirst)
{
    const auto pcm = TestSignal(3200);
    const auto a = EncodeStream(68, pcm, 320);
    const auto b = EncodeStream(4, pcm, 320);
    EXPECT_EQ(a, b);
}

// ---- Transcoder ----------------------------------------------------------------------------

TEST(VoiceCodec, TransCodeResetModes)
{
    std::vector<uint8_t> t(VOICE_TRANSCODE_STATE_SIZE, 0xAB);
    EXPECT_EQ(VOICE_TransCodeReset(t.data(), 96), VOICE_ERR_TRANS_MODE);
    EXPECT_EQ(VOICE_TransCodeReset(t.data(), 101), VOICE_ERR_TRANS_MODE);
    EXPECT_EQ(t[0], 0xAB);  // a refused mode sets nothing up
    for (uint16_t m = 97; m <= 100; ++m) {
        ASSERT_EQ(VOICE_TransCodeReset(t.data(), m), VOICE_OK);
        EXPECT_EQ(t[0] | (t[1] << 8), m - 96);
        EXPECT_EQ(t[VOICE_TRANSCODE_DECODER_OFFSET] | (t[VOICE_TRANSCODE_DECODER_OFFSET + 1] << 8), m - 96 + 64);
    }
    // An encoder mode outside 1..4 is refused by the frame step.
    VOICE_EncReset(t.data(), 5);
    uint8_t frame[VOICE_MAX_FRAME_BYTES] = {0x00, 0x01, 2};
    EXPECT_EQ(VOICE_TransCodeFrame(t.data(), frame), VOICE_ERR_TRANS_MODE);
}

TEST(VoiceCodec, TransCodeG711SwapsTheBytesOfEachWord)
{
    const auto pcm = TestSignal(320);
    for (uint16_t n : {1, 2}) {
        auto high = EncodeStream(uint16_t(64 + n), pcm, 320)[0];
        const auto low = EncodeStream(n, pcm, 320)[0];
        std::vector<uint8_t> t(VOICE_TRANSCODE_STATE_SIZE);
        ASSERT_EQ(VOICE_TransCodeReset(t.data(), uint16_t(96 + n)), VOICE_OK);
        ASSERT_EQ(VOICE_TransCodeFrame(t.data(), high.data()), VOICE_OK);
        EXPECT_EQ(high, low);
    }
}

TEST(VoiceCodec, TransCodeAdpcmRewritesFramesInPlace)
{
    const auto pcm = TestSignal(3200);
    // DVI4 without header to DVI4 with header: two words longer.
    {
        const auto frames = EncodeStream(67, pcm, 320);
        std::vector<uint8_t> t(VOICE_TRANSCODE_STATE_SIZE);
        ASSERT_EQ(VOICE_TransCodeReset(t.data(), 99), VOICE_OK);
        State dec;
        VOICE_DecReset(dec.get(), 3);
        std::vector<int16_t> out;
        for (const auto& f : frames) {
            std::vector<uint8_t> buf(VOICE_MAX_FRAME_BYTES + 8, 0xEE);
            std::memcpy(buf.data(), f.data(), f.size());
            ASSERT_EQ(VOICE_TransCodeFrame(t.data(), buf.data()), VOICE_OK);
            ASSERT_EQ(buf[2], f[2] + 2);
            EXPECT_EQ(buf[4 + 2 * buf[2]], 0xEE);
            int16_t pcmOut[VOICE_MAX_FRAME_SAMPLES];
            uint16_t n = 0;
            ASSERT_EQ(VOICE_DecodeFrame(dec.get(), buf.data(), pcmOut, &n), VOICE_OK);
            ASSERT_EQ(n, 320);
            out.insert(out.end(), pcmOut, pcmOut + n);
        }
        EXPECT_GT(SnrDb(pcm, out), 12.0);
    }
    // G.726 16 kbit/s, second to first family: the same size.
    {
        const auto frames = EncodeStream(68, pcm, 320);
        std::vector<uint8_t> t(VOICE_TRANSCODE_STATE_SIZE);
        ASSERT_EQ(VOICE_TransCodeReset(t.data(), 100), VOICE_OK);
        State dec;
        VOICE_DecReset(dec.get(), 4);
        std::vector<int16_t> out;
        for (auto f : frames) {
            const size_t size = f.size();
            ASSERT_EQ(VOICE_TransCodeFrame(t.data(), f.data()), VOICE_OK);
            ASSERT_EQ(f.size(), size);
            ASSERT_EQ(f[2], 40);
            int16_t pcmOut[VOICE_MAX_FRAME_SAMPLES];
            uint16_t n = 0;
            ASSERT_EQ(VOICE_DecodeFrame(dec.get(), f.data(), pcmOut, &n), VOICE_OK);
            out.insert(out.end(), pcmOut, pcmOut + n);
        }
        EXPECT_GT(SnrDb(pcm, out), 3.0);
    }
}

TEST(VoiceCodec, TransCodeRefusalLeavesFrameAndStateAlone)
{
    const auto pcm = TestSignal(960);
    const auto frames = EncodeStream(67, pcm, 320);
    std::vector<uint8_t> a(VOICE_TRANSCODE_STATE_SIZE), b(VOICE_TRANSCODE_STATE_SIZE);
    VOICE_TransCodeReset(a.data(), 99);
    VOICE_TransCodeReset(b.data(), 99);
    // 121 words decode to 484 samples, more than one frame may encode.
    std::vector<uint8_t> big = FrameOfWords(121);
    big.resize(VOICE_MAX_FRAME_BYTES);
    const auto before = big;
    EXPECT_EQ(VOICE_TransCodeFrame(a.data(), big.data()), VOICE_ERR_ENC_SAMPLES);
    EXPECT_EQ(big, before);
    auto bad = frames[0];
    bad[1] = 0x02;
    EXPECT_EQ(VOICE_TransCodeFrame(a.data(), bad.data()), VOICE_ERR_DEC_FLAGS);
    EXPECT_EQ(a, b);
    for (const auto& f : frames) {
        std::vector<uint8_t> x(VOICE_MAX_FRAME_BYTES), y(VOICE_MAX_FRAME_BYTES);
        std::memcpy(x.data(), f.data(), f.size());
        std::memcpy(y.data(), f.data(), f.size());
        ASSERT_EQ(VOICE_TransCodeFrame(a.data(), x.data()), VOICE_OK);
        ASSERT_EQ(VOICE_TransCodeFrame(b.data(), y.data()), VOICE_OK);
        EXPECT_EQ(x, y);
    }
}

}  // namespace
}  // namespace velmor::fixtures::voice
