// Voice streams written by the ffmpeg tools, packed into voice frames: the
// deterministic coders (G.711, G.726) decode to exactly the samples ffmpeg's
// own decoders give for the same stream, however the stream is cut into
// frames; IMA ADPCM stays within the rounding its standard leaves open.
// Streams our encoder writes go the other way through ffmpeg's decoders.
#include <gtest/gtest.h>

#include <string>

#include "tests/media/audio/VoiceTestUtil.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures::voice {
namespace {

constexpr size_t kSamples = 28800;  // 3.6 s: whole frames of 80, 320 and 480 samples

class VoicePeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pcm = TestSignal(kSamples);
        m_raw = m_dir / "in.raw";
        WriteFile(m_raw, m_pcm.data(), m_pcm.size() * 2);
    }

    // Encodes the test signal with an ffmpeg encoder into a raw stream.
    std::vector<uint8_t> PeerEncode(const std::vector<std::string>& codec, const std::string& name)
    {
        auto args = PcmInput(m_raw);
        args.insert(args.end(), codec.begin(), codec.end());
        args.push_back((m_dir / name).string());
        if (!Ffmpeg(args)) return {};
        return ReadFile(m_dir / name);
    }

    // Decodes a stream with ffmpeg to 16-bit PCM.
    std::vector<int16_t> PeerDecode(const std::vector<std::string>& input, const std::vector<uint8_t>& stream)
    {
        const auto in = m_dir / "peer.in";
        const auto out = m_dir / "peer.raw";
        WriteFile(in, stream.data(), stream.size());
        auto args = input;
        args.insert(args.end(), {"-i", in.string(), "-f", "s16le", "-ac", "1", out.string()});
        if (!Ffmpeg(args)) return {};
        return ReadPcm(out);
    }

    CTempDir m_dir{"velmor-voice"};
    std::vector<int16_t> m_pcm;
    std::filesystem::path m_raw;
};

// ---- G.711 ------------------------------------------------------------------------------

struct G711Case {
    const char* codec;  // ffmpeg encoder and raw format
    uint16_t lowFirst;  // mode with the first sample in the low byte
    uint16_t highFirst;
};

class VoicePeerG711 : public VoicePeer, public ::testing::WithParamInterface<G711Case> {};

TEST_P(VoicePeerG711, DecodesSampleExactInBothByteOrders)
{
    const G711Case& c = GetParam();
    const auto stream = PeerEncode({"-c:a", std::string("pcm_") + c.codec, "-f", c.codec}, "out.g711");
    ASSERT_EQ(stream.size(), kSamples);
    const auto want = PeerDecode({"-f", c.codec, "-ar", "8000", "-ac", "1"}, stream);
    ASSERT_EQ(want.size(), kSamples);

    for (size_t samples : {80, 320, 480}) {
        const auto got = DecodeStream(c.lowFirst, stream, samples);
        EXPECT_EQ(FirstDifference(want, got), -1) << c.codec << " in frames of " << samples;
    }
    // The same codes with the two bytes of every word swapped.
    auto swapped = stream;
    for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    EXPECT_EQ(FirstDifference(want, DecodeStream(c.highFirst, swapped, 320)), -1) << c.codec << " high byte first";
}

INSTANTIATE_TEST_SUITE_P(Laws, VoicePeerG711,
                         ::testing::Values(G711Case{"alaw", VOICE_MODE_G711A, VOICE_MODE_G711A_HIGH},
                                           G711Case{"mulaw", VOICE_MODE_G711U, VOICE_MODE_G711U_HIGH}),
                         [](const auto& info) { return std::string(info.param.codec); });

// ---- G.726 ------------------------------------------------------------------------------

struct G726Case {
    int bits;
    bool lsbFirst;  // ffmpeg's g726le
    uint16_t mode;
};

std::string G726Format(const G726Case& c) { return c.lsbFirst ? "g726le" : "g726"; }

class VoicePeerG726 : public VoicePeer, public ::testing::WithParamInterface<G726Case> {
protected:
    std::vector<std::string> PeerInput(const G726Case& c)
    {
        return {"-f", G726Format(c), "-code_size", std::to_string(c.bits), "-sample_rate", "8000"};
    }
};

TEST_P(VoicePeerG726, DecodesSampleExactInFramesOfAnySize)
{
    const G726Case& c = GetParam();
    const auto stream = PeerEncode(
        {"-c:a", G726Format(c), "-b:a", std::to_string(8 * c.bits) + "k", "-f", G726Format(c)}, "out.g726");
    ASSERT_EQ(stream.size(), kSamples * size_t(c.bits) / 8);
    const auto want = PeerDecode(PeerInput(c), stream);
    ASSERT_EQ(want.size(), kSamples);

    // The decoder state carries from frame to frame: where the stream is cut
    // does not matter.
    for (size_t samples : {80, 320, 480}) {
        const auto got = DecodeStream(c.mode, stream, samples * size_t(c.bits) / 8);
        EXPECT_EQ(FirstDifference(want, got), -1) << "mode " << c.mode << " in frames of " << samples;
    }
}

TEST_P(VoicePeerG726, OurStreamsDecodeTheSameInTheirDecoder)
{
    const G726Case& c = GetParam();
    std::vector<uint8_t> stream;
    for (const auto& frame : EncodeStream(c.mode, m_pcm, 320))
        stream.insert(stream.end(), frame.begin() + 4, frame.end());
    ASSERT_EQ(stream.size(), kSamples * size_t(c.bits) / 8);
    const auto ours = DecodeStream(c.mode, stream, 480 * size_t(c.bits) / 8);
    const auto theirs = PeerDecode(PeerInput(c), stream);
    EXPECT_EQ(FirstDifference(theirs, ours), -1);
    // And the coder codes: the louder the rate, the closer to the input.
    const double minSnr[] = {0, 0, 6, 11, 16, 20};
    EXPECT_GT(SnrDb(m_pcm, ours), minSnr[c.bits]) << "mode " << c.mode;
}

INSTANTIATE_TEST_SUITE_P(Rates, VoicePeerG726,
                         ::testing::Values(G726Case{2, true, VOICE_MODE_G726_16}, G726Case{3, true, VOICE_MODE_G726_24},
                                           G726Case{4, true, VOICE_MODE_G726_32}, G726Case{5, true, VOICE_MODE_G726_40},
                                           G726Case{2, false, VOICE_MODE_G726_16_MSB},
                                           G726Case{3, false, VOICE_MODE_G726_24_MSB},
                                           G726Case{4, false, VOICE_MODE_G726_32_MSB},
                                           G726Case{5, false, VOICE_MODE_G726_40_MSB},
                                           G726Case{2, true, VOICE_MODE_G726_16_ALT}),
                         [](const auto& info) { return "Mode" + std::to_string(info.param.mode); });

// ---- IMA ADPCM ----------------------------------------------------------------------------

// A WAV file's IMA blocks: block size and the bytes of the data chunk.
struct ImaWav {
    size_t blockAlign = 0;
    std::vector<uint8_t> data;
};

ImaWav ParseWav(const std::vector<uint8_t>& file)
{
    ImaWav w;
    size_t pos = 12;
    while (pos + 8 <= file.size()) {
        const std::string id(reinterpret_cast<const char*>(&file[pos]), 4);
        const size_t size =
            file[pos + 4] | (file[pos + 5] << 8) | (file[pos + 6] << 16) | (size_t(file[pos + 7]) << 24);
        const size_t body = pos + 8;
        if (id == "fmt " && body + 14 <= file.size()) w.blockAlign = file[body + 12] | (file[body + 13] << 8);
        if (id == "data")
            w.data.assign(file.begin() + long(body), file.begin() + long(std::min(body + size, file.size())));
        pos = body + size + (size & 1);
    }
    return w;
}

// The WAV form of our mode-35 frames, for ffmpeg to read.
std::vector<uint8_t> MakeImaWav(const std::vector<std::vector<uint8_t>>& frames)
{
    const size_t block = frames.at(0).size() - 4;
    const uint16_t perBlock = uint16_t((block - 4) * 2 + 1);
    std::vector<uint8_t> out;
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
    };
    auto tag = [&](const char* t) { out.insert(out.end(), t, t + 4); };
    const uint32_t dataBytes = uint32_t(block * frames.size());
    tag("RIFF");
    put(4 + 28 + 8 + 8 + dataBytes, 4);
    tag("WAVE");
    tag("fmt ");
    put(20, 4);
    put(0x11, 2);  // IMA ADPCM
    put(1, 2);
    put(8000, 4);
    put(uint32_t(8000 * block / perBlock), 4);
    put(uint32_t(block), 2);
    put(4, 2);
    put(2, 2);
    put(perBlock, 2);
    tag("data");
    put(dataBytes, 4);
    for (const auto& f : frames) out.insert(out.end(), f.begin() + 4, f.end());
    return out;
}

// How far two IMA decoders may drift apart within a block: the standard
// leaves the rounding of each step's difference open (the truncated sum of
// shifted steps or the product rounded once), up to 2 per sample, and
// clamping only ever narrows the gap. The first sample is the header's.
void ExpectWithinImaRounding(const std::vector<int16_t>& want, const std::vector<int16_t>& got, size_t perBlock)
{
    ASSERT_EQ(want.size(), got.size());
    int worst = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        const size_t k = i % perBlock;  // steps since the header's sample
        const int d = std::abs(want[i] - got[i]);
        worst = std::max(worst, d);
        ASSERT_LE(d, int(2 * k)) << "sample " << i << " (" << k << " into its block)";
    }
    ::testing::Test::RecordProperty("ima_worst_difference", worst);
}

TEST_F(VoicePeer, ImaBlocksDecodeWithinTheStandardsRounding)
{
    // 128-byte blocks: a 4-byte header with the first sample and 248 samples
    // in 124 bytes, 64 words, the size of a mode-35 frame.
    const auto file = PeerEncode({"-c:a", "adpcm_ima_wav", "-block_size", "128", "-f", "wav"}, "out.wav");
    const ImaWav wav = ParseWav(file);
    ASSERT_EQ(wav.blockAlign, 128u);
    ASSERT_FALSE(wav.data.empty());
    ASSERT_EQ(wav.data.size() % 128, 0u);
    const size_t blocks = wav.data.size() / 128;
    auto want = PeerDecode({"-f", "wav"}, file);
    ASSERT_GE(want.size(), blocks * 249);
    want.resize(blocks * 249);

    const auto got = DecodeStream(VOICE_MODE_IMA, wav.data, 128);
    ExpectWithinImaRounding(want, got, 249);
    // Headers carry the first sample as it was: exact, block after block.
    for (size_t b = 0; b < blocks; ++b) EXPECT_EQ(got[b * 249], want[b * 249]);
    EXPECT_GT(SnrDb(m_pcm, got), 15.0);

    // Mode 3 is the same coder with the state header in front and the other
    // nibble order: each block, recast, gives its samples after the first.
    std::vector<uint8_t> dvi = wav.data;
    for (size_t b = 0; b < blocks; ++b)
        for (size_t i = b * 128 + 4; i < (b + 1) * 128; ++i) dvi[i] = uint8_t((dvi[i] << 4) | (dvi[i] >> 4));
    const auto dviGot = DecodeStream(VOICE_MODE_DVI4, dvi, 128);
    ASSERT_EQ(dviGot.size(), blocks * 248);
    for (size_t b = 0; b < blocks; ++b)
        for (size_t i = 0; i < 248; ++i) ASSERT_EQ(dviGot[b * 248 + i], got[b * 249 + 1 + i]) << "block " << b;
}

TEST_F(VoicePeer, OurImaBlocksDecodeInTheirDecoder)
{
    const auto frames = EncodeStream(VOICE_MODE_IMA, m_pcm, 481);  // 122 words, the largest frame
    ASSERT_FALSE(frames.empty());
    ASSERT_EQ(frames[0].size(), 4u + 244u);
    std::vector<uint8_t> stream;
    for (const auto& f : frames) stream.insert(stream.end(), f.begin() + 4, f.end());
    const auto ours = DecodeStream(VOICE_MODE_IMA, stream, 244);
    auto theirs = PeerDecode({"-f", "wav"}, MakeImaWav(frames));
    ASSERT_GE(theirs.size(), ours.size());
    theirs.resize(ours.size());
    ExpectWithinImaRounding(theirs, ours, 481);
    EXPECT_GT(SnrDb(m_pcm, ours), 15.0);
}

}  // namespace
}  // namespace velmor::fixtures::voice
