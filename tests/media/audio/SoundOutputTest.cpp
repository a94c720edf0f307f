// The shared sound output on SDL's dummy driver: decoded frames go through
// the filters and the queue and come out of the callback in order, the 16
// newest kept, at the set volume; stop and resume; the equalizer and noise
// suppression; frames longer than the buffers; a player's audio half and its
// low-pass filter.
#include <gtest/gtest.h>
#include <speex/speex_preprocess.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <thread>

#include "media/include/rkmedia.h"
#include "media/src/audio/Equalizer.h"
#include "media/src/audio/LowPassFilter.h"
#include "media/src/audio/RKPlayAudio.h"
#include "media/src/audio/SingletonPlayAudio.h"
#include "media/src/audio/VoiceCodec.h"
#include "tests/media/audio/VoiceTestUtil.h"

namespace velmor::fixtures::voice {
namespace {

using rkmedia::CLowPassFilter;
using rkmedia::CRKPlayAudio;
using rkmedia::CSingletonPlayAudio;
using rkmedia::equalizer;

// SDL reads its driver choice when it starts: before any test runs.
const bool g_dummyDrivers = [] {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    return true;
}();

RKPLAYER_EQ_PRESET Preset(const char* name, float preamp, std::initializer_list<float> amps)
{
    RKPLAYER_EQ_PRESET p{};
    std::strncpy(p.name, name, sizeof p.name - 1);
    p.bands = 10;
    p.preamp = preamp;
    int i = 0;
    for (float a : amps) p.amp[i++] = a;
    return p;
}

const RKPLAYER_EQ_PRESET kFlat = Preset("flat", 12, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
const RKPLAYER_EQ_PRESET kLive = Preset("live", 7, {-4.8f, 0, 4, 5.6f, 5.6f, 5.6f, 4, 2.4f, 2.4f, 2.4f});

std::vector<uint8_t> Bytes(const std::vector<int16_t>& pcm)
{
    std::vector<uint8_t> b(pcm.size() * 2);
    std::memcpy(b.data(), pcm.data(), b.size());
    return b;
}

std::vector<int16_t> Samples(const uint8_t* p, size_t bytes)
{
    std::vector<int16_t> s(bytes / 2);
    std::memcpy(s.data(), p, s.size() * 2);
    return s;
}

std::vector<int16_t> PopRecord(CSingletonPlayAudio& sound)
{
    std::vector<uint8_t> rec(rkmedia::kAudioRecordBytes);
    size_t n = 0;
    EXPECT_TRUE(sound.State().m_queue.PopQueue(rec.data(), n));
    return Samples(rec.data(), n);
}

class SoundOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(g_dummyDrivers);
        m_sound = &CSingletonPlayAudio::GetInstance();
        m_sound->ResetForTesting();
    }
    void TearDown() override { m_sound->ResetForTesting(); }

    // What the callback plays for one request of `bytes`.
    std::vector<uint8_t> Play(size_t bytes, uint8_t fill = 0xA5)
    {
        std::vector<uint8_t> out(bytes, fill);
        rkmedia::Audio_CallBack(&m_sound->State(), out.data(), int(out.size()));
        return out;
    }

    int Queued() { return m_sound->State().m_queue.Count(); }

    CSingletonPlayAudio* m_sound = nullptr;
};

// G.711 A-law frames of 320 samples, each with its own content.
std::vector<std::vector<uint8_t>> AlawFrames(size_t count, std::vector<std::vector<int16_t>>* decoded)
{
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> state(VOICE_STATE_SIZE);
    VOICE_EncReset(state.data(), VOICE_MODE_G711A);
    for (size_t k = 0; k < count; ++k) {
        const auto pcm = TestSignal(320, 100 + k, 2000.0 + 1000.0 * double(k));
        std::vector<uint8_t> f(VOICE_MAX_FRAME_BYTES);
        EXPECT_EQ(VOICE_EncodeFrame(state.data(), pcm.data(), f.data(), 320), VOICE_OK);
        f.resize(4 + 640 / 2);
        std::vector<int16_t> d(320);
        for (size_t i = 0; i < 320; ++i) d[i] = rkmedia::voice::AlawToLinear(f[4 + i]);
        decoded->push_back(d);
        frames.push_back(std::move(f));
    }
    return frames;
}

TEST_F(SoundOutput, DeviceIsOpenOnTheDummyDriver) { EXPECT_TRUE(m_sound->DeviceOpen()); }

TEST_F(SoundOutput, DecodedFramesPlayInOrderTheSixteenNewestAtTheSetVolume)
{
    CRKPlayAudio player;
    ASSERT_EQ(player.InitAudioDecoder({0, 8000, 16, 11}), 0);
    ASSERT_TRUE(player.HasSoundOutput());
    ASSERT_TRUE(m_sound->EqualizerEnabled());  // "flat", which passes frames bit for bit
    std::vector<std::vector<int16_t>> decoded;
    const auto frames = AlawFrames(20, &decoded);
    for (size_t k = 0; k < frames.size(); ++k) {
        uint8_t pcm[VOICE_MAX_FRAME_SAMPLES * 2];
        int bytes = -1;
        ASSERT_EQ(player.DecodeOneAudioFrame(frames[k].data(), int(frames[k].size()), pcm, &bytes), 0);
        ASSERT_EQ(bytes, 640);
        EXPECT_EQ(Samples(pcm, 640), decoded[k]);
    }
    EXPECT_EQ(Queued(), 16);

    ASSERT_EQ(CRKPlayAudio::SetAudioVolume(64), 0);
    for (size_t k = 4; k < 20; ++k) {
        const auto got = Samples(Play(640).data(), 640);
        std::vector<int16_t> want(320);
        for (size_t i = 0; i < 320; ++i) want[i] = int16_t(decoded[k][i] * 64 / 128);  // SDL's mixer truncates
        ASSERT_EQ(got, want) << "frame " << k;
    }
    EXPECT_EQ(Queued(), 0);
    // Nothing left: 40 ms of silence at a time.
    EXPECT_EQ(Play(640), std::vector<uint8_t>(640, 0));
}

TEST_F(SoundOutput, RequestsOfAnySizeReadAcrossRecords)
{
    const auto a = Bytes(TestSignal(320, 1)), b = Bytes(TestSignal(100, 2)), c = Bytes(TestSignal(500, 3));
    for (auto* r : {&a, &b, &c}) {
        auto copy = *r;
        m_sound->SaveDecodeAudioFrame(copy.data(), int(copy.size()));
    }
    std::vector<uint8_t> want = a;
    want.insert(want.end(), b.begin(), b.end());
    want.insert(want.end(), c.begin(), c.end());
    std::vector<uint8_t> got;
    for (size_t n : {500, 10, 302, 900, 128}) {
        const auto out = Play(n);
        got.insert(got.end(), out.begin(), out.end());
    }
    ASSERT_EQ(got.size(), want.size());
    EXPECT_EQ(got, want);
    // Past the end: a refill of silence, then another.
    EXPECT_EQ(Play(1000), std::vector<uint8_t>(1000, 0));
}

TEST_F(SoundOutput, VolumeIsHeldWithinItsRange)
{
    const auto pcm = TestSignal(320, 9, 30000.0);
    auto play = [&](int volume) {
        auto copy = Bytes(pcm);
        m_sound->SaveDecodeAudioFrame(copy.data(), int(copy.size()));
        CRKPlayAudio::SetAudioVolume(volume);
        return Samples(Play(640).data(), 640);
    };
    EXPECT_EQ(play(128), pcm);
    EXPECT_EQ(play(300), pcm);  // no louder than full
    EXPECT_EQ(play(0), std::vector<int16_t>(320, 0));
    EXPECT_EQ(play(-5), std::vector<int16_t>(320, 0));
    const auto half = play(96);
    for (size_t i = 0; i < pcm.size(); ++i) ASSERT_EQ(half[i], int16_t(pcm[i] * 96 / 128));
}

TEST_F(SoundOutput, StoppedOutputPlaysSilenceAndKeepsItsRecords)
{
    const auto a = Bytes(TestSignal(320, 4)), b = Bytes(TestSignal(320, 5));
    for (auto* r : {&a, &b}) {
        auto copy = *r;
        m_sound->SaveDecodeAudioFrame(copy.data(), int(copy.size()));
    }
    ASSERT_EQ(CRKPlayAudio::SetAudioDecordQuit(1), 0);
    EXPECT_TRUE(rkmedia::AudioStopped());
    // SDL plays what the callback leaves: stale bytes must be silenced.
    EXPECT_EQ(Play(640, 0x7E), std::vector<uint8_t>(640, 0));
    EXPECT_EQ(Queued(), 2);
    size_t n = 0;
    std::vector<uint8_t> scratch(rkmedia::kAudioRecordBytes);
    EXPECT_FALSE(m_sound->State().m_queue.PopQueue(scratch.data(), n));
    EXPECT_EQ(Queued(), 2);
    // Twenty frames while stopped: the sixteen newest stay.
    for (int i = 0; i < 20; ++i) {
        auto copy = Bytes(TestSignal(320, 50 + uint64_t(i)));
        m_sound->SaveDecodeAudioFrame(copy.data(), int(copy.size()));
    }
    EXPECT_EQ(Queued(), 16);
    ASSERT_EQ(CRKPlayAudio::SetAudioDecordQuit(0), 0);
    EXPECT_EQ(Play(640), Bytes(TestSignal(320, 54)));
    EXPECT_EQ(Queued(), 15);
}

TEST_F(SoundOutput, TheSdlThreadDrainsTheQueue)
{
    ASSERT_TRUE(m_sound->DeviceOpen());
    for (int i = 0; i < 3; ++i) {
        auto copy = Bytes(TestSignal(320, uint64_t(i)));
        m_sound->SaveDecodeAudioFrame(copy.data(), int(copy.size()));
    }
    m_sound->PauseDevice(false);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Queued() > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    m_sound->PauseDevice(true);
    EXPECT_EQ(Queued(), 0);
}

TEST_F(SoundOutput, OddByteCountsKeepWholeSamples)
{
    const auto pcm = Bytes(TestSignal(321, 8));
    auto copy = pcm;
    m_sound->SaveDecodeAudioFrame(copy.data(), 641);
    const auto out = Play(640);
    EXPECT_EQ(out, std::vector<uint8_t>(pcm.begin(), pcm.begin() + 640));
    EXPECT_EQ(Play(2), std::vector<uint8_t>(2, 0));  // the odd byte was not queued
}

TEST_F(SoundOutput, EmptyFramesTakeAPlaceAndPlayAsSilence)
{
    m_sound->SaveDecodeAudioFrame(nullptr, 0);
    auto a = Bytes(TestSignal(320, 3));
    m_sound->SaveDecodeAudioFrame(a.data(), 640);
    EXPECT_EQ(Queued(), 2);
    EXPECT_EQ(Play(640), std::vector<uint8_t>(640, 0));
    EXPECT_EQ(Play(640), Bytes(TestSignal(320, 3)));
}

// ---- Equalizer ------------------------------------------------------------------------------

TEST_F(SoundOutput, FlatIsBitExactBypassAndLeavesTheHistory)
{
    m_sound->EnableAudioEqualizer(1, kLive);
    auto warm = Bytes(TestSignal(320, 1));
    m_sound->SaveDecodeAudioFrame(warm.data(), 640);
    equalizer before;
    ASSERT_TRUE(m_sound->EqualizerSnapshot(before));

    m_sound->EnableAudioEqualizer(1, kFlat);
    // Full-scale noise, the extremes included.
    auto noise = MakePayload(77, 4000);
    noise[0] = 0x00;
    noise[1] = 0x80;
    noise[2] = 0xFF;
    noise[3] = 0x7F;
    const auto in = noise;
    m_sound->SaveDecodeAudioFrame(noise.data(), int(noise.size()));
    equalizer after;
    ASSERT_TRUE(m_sound->EqualizerSnapshot(after));
    EXPECT_EQ(std::memcmp(before.x, after.x, sizeof before.x), 0);
    EXPECT_EQ(std::memcmp(before.y, after.y, sizeof before.y), 0);

    PopRecord(*m_sound);  // the warm-up frame
    EXPECT_EQ(Bytes(PopRecord(*m_sound)), in);
}

TEST(Equalizer, PresetGains)
{
    equalizer eq;
    rkmedia::EqzCoeffs(eq);
    rkmedia::EqzLoadPreset(eq, Preset("x", -25, {30, -30, 6, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_DOUBLE_EQ(eq.overallGain, 0.1);
    EXPECT_DOUBLE_EQ(eq.gain[0], 2.25);                   // +30 dB is used as +20 dB
    EXPECT_DOUBLE_EQ(eq.gain[1], (0.1 - 1.0) * 0.25);     // -30 dB as -20 dB
    EXPECT_NEAR(eq.gain[2], (std::pow(10.0, 0.3) - 1.0) * 0.25, 1e-12);
    rkmedia::EqzLoadPreset(eq, Preset("x", 25, {}));
    EXPECT_DOUBLE_EQ(eq.overallGain, 10.0);
    rkmedia::EqzLoadPreset(eq, Preset("x", 20, {}));
    EXPECT_DOUBLE_EQ(eq.overallGain, 10.0);
    rkmedia::EqzLoadPreset(eq, Preset("x", -20, {}));
    EXPECT_DOUBLE_EQ(eq.overallGain, 0.1);
    rkmedia::EqzLoadPreset(eq, Preset("x", 6, {}));
    EXPECT_NEAR(eq.overallGain, std::pow(10.0, 0.3), 1e-12);
    // Not a number counts as 0 dB.
    auto p = Preset("x", NAN, {NAN});
    rkmedia::EqzLoadPreset(eq, p);
    EXPECT_DOUBLE_EQ(eq.overallGain, 1.0);
    EXPECT_DOUBLE_EQ(eq.gain[0], 0.0);
    // The band count stays within the ten bands there are.
    p.bands = 1000;
    rkmedia::EqzLoadPreset(eq, p);
    EXPECT_EQ(eq.bands, 10);
    p.bands = -3;
    rkmedia::EqzLoadPreset(eq, p);
    EXPECT_EQ(eq.bands, 0);
}

TEST(Equalizer, BandCoefficients)
{
    equalizer eq;
    rkmedia::EqzCoeffs(eq);
    // Two bands worked by hand: 1 kHz and 4 kHz (the highest below half the rate).
    const double k = std::sqrt(2.0), k1 = (k + 1) / 2, k2 = (k - 1) / 2;
    for (int band : {5, 7}) {
        const double t1 = 2 * std::numbers::pi * rkmedia::kEqCentres[band] / 8000, t2 = t1 / k;
        const double s = std::sin(t2), p = std::sin(t2 * k1) * std::sin(t2 * k2), h = s / 2, d = h + p;
        EXPECT_NEAR(eq.alpha[band], p / d, 1e-12);
        EXPECT_NEAR(eq.beta[band], (h - p) / d, 1e-12);
        EXPECT_NEAR(eq.gamma[band], s * std::cos(t1) / d, 1e-12);
    }
    for (int band : {8, 9}) {
        EXPECT_EQ(eq.alpha[band], 0.0);
        EXPECT_EQ(eq.beta[band], 0.0);
        EXPECT_EQ(eq.gamma[band], 0.0);
    }
}

// The steady response to a tone at each band centre, boosted in that band
// alone, is what the band's coefficients make of it:
// gain x |1/4 + g H(e^jw)|, H(z) = a(1 - z^-2) / (1 - c z^-1 + b z^-2).
TEST(Equalizer, ResponseAtTheBandCentresFollowsTheCoefficients)
{
    for (int band = 0; band < rkmedia::kEqBands; ++band) {
        equalizer eq;
        rkmedia::EqzCoeffs(eq);
        std::initializer_list<float> none = {};
        auto p = Preset("band", 0, none);
        p.amp[band] = 12;
        rkmedia::EqzLoadPreset(eq, p);
        const double f = rkmedia::kEqCentres[band];
        const double w = 2 * std::numbers::pi * std::min(f, 4000.0) / 8000;
        const std::complex<double> z1 = std::polar(1.0, -w), z2 = z1 * z1;
        std::complex<double> h = eq.alpha[band] * (1.0 - z2) / (1.0 - eq.gamma[band] * z1 + eq.beta[band] * z2);
        // At half the sample rate the 4 kHz section's numerator and
        // denominator share the factor (1 + 1/z): its response there is
        // a(1 - 1/z) / (1 + b/z) at z = -1.
        if (w == std::numbers::pi) h = 2.0 * eq.alpha[band] / (1.0 - eq.beta[band]);
        const double want = 8000.0 * std::abs(0.25 + eq.gain[band] * h);

        // Bands past half the sample rate are tested with the tone at 4 kHz.
        const size_t n = 32000;
        std::vector<int16_t> in(n), out(n);
        for (size_t i = 0; i < n; ++i) in[i] = int16_t(std::lround(8000.0 * std::cos(w * double(i))));
        rkmedia::EqzFilter(eq, in.data(), out.data(), n);
        // Amplitude over the last half (well past the low bands' settling),
        // by projection on the tone.
        std::complex<double> acc = 0;
        for (size_t i = n / 2; i < n; ++i) acc += double(out[i]) * std::polar(1.0, -w * double(i));
        const double got = (w == std::numbers::pi ? 1.0 : 2.0) * std::abs(acc) / double(n / 2);
        EXPECT_NEAR(got, want, 0.01 * want + 2.0) << "band " << band << " (" << f << " Hz)";
        if (f <= 4000 && f > 100) {
            EXPECT_GT(got, 8000.0 * 0.25 * 1.5) << "the boost shows at " << f << " Hz";
        }
    }
}

TEST(Equalizer, LoudPresetsSaturateInsteadOfWrapping)
{
    equalizer eq;
    rkmedia::EqzCoeffs(eq);
    rkmedia::EqzLoadPreset(eq, Preset("loud", 20, {20, 20, 20, 20, 20, 20, 20, 20, 20, 20}));
    std::vector<int16_t> in(4000), out(4000);
    for (size_t i = 0; i < in.size(); ++i) in[i] = int16_t(std::lround(30000.0 * std::sin(0.8 * double(i))));
    rkmedia::EqzFilter(eq, in.data(), out.data(), in.size());
    for (size_t i = 100; i < in.size(); ++i) {
        if (in[i] > 20000) {
            ASSERT_EQ(out[i], 32767) << i;
        } else if (in[i] < -20000) {
            ASSERT_EQ(out[i], -32768) << i;
        }
    }
}

// ---- Noise suppression ------------------------------------------------------------------

struct SpeexState {
    SpeexPreprocessState* st = speex_preprocess_state_init(160, 8000);
    SpeexState()
    {
        int on = 1, off = 0;
        speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_DENOISE, &on);
        speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_AGC, &off);
        speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_DEREVERB, &off);
    }
    ~SpeexState() { speex_preprocess_state_destroy(st); }
    // What the sound output's suppression makes of a frame: whole blocks
    // processed, the rest silent.
    std::vector<int16_t> Run(std::vector<int16_t> pcm)
    {
        size_t i = 0;
        for (; i + 160 <= pcm.size(); i += 160) speex_preprocess_run(st, pcm.data() + i);
        std::fill(pcm.begin() + long(i), pcm.end(), 0);
        return pcm;
    }
};

TEST_F(SoundOutput, NoiseSuppressionProcessesWholeBlocksAndSilencesTheRest)
{
    m_sound->SetRemoveNoise(true, 7);
    EXPECT_EQ(m_sound->NoiseType(), 1);
    // The first frame that finds no state creates it and passes as it is.
    const auto first = TestSignal(160, 1);
    auto bytes = Bytes(first);
    m_sound->SaveDecodeAudioFrame(bytes.data(), int(bytes.size()));
    EXPECT_TRUE(m_sound->NoiseStateExists());
    EXPECT_EQ(PopRecord(*m_sound), first);

    SpeexState ref;
    const auto pcm = TestSignal(250, 2);  // 500 bytes
    const auto want = ref.Run(pcm);
    auto frame = Bytes(pcm);
    m_sound->SaveDecodeAudioFrame(frame.data(), 500);
    const auto got = PopRecord(*m_sound);
    EXPECT_EQ(got, want);
    EXPECT_EQ(std::vector<int16_t>(got.begin() + 160, got.end()), std::vector<int16_t>(90, 0));
    // The result is written back over the caller's frame too.
    EXPECT_EQ(Samples(frame.data(), 500), want);
}

TEST_F(SoundOutput, NoiseTypesAndSwitch)
{
    for (auto [type, want] : {std::pair{0, 0}, {2, 2}, {1, 1}, {3, 1}, {-1, 1}}) {
        m_sound->SetRemoveNoise(true, type);
        EXPECT_EQ(m_sound->NoiseType(), want) << type;
    }
    m_sound->SetRemoveNoise(false, 2);
    EXPECT_FALSE(m_sound->NoiseEnabled());
    auto bytes = Bytes(TestSignal(320, 4));
    const auto in = bytes;
    m_sound->SaveDecodeAudioFrame(bytes.data(), 640);
    EXPECT_FALSE(m_sound->NoiseStateExists());
    EXPECT_EQ(bytes, in);
}

TEST_F(SoundOutput, LongFramesAreProcessedInPiecesWithoutOverrun)
{
    m_sound->SetRemoveNoise(true, 1);
    auto prime = Bytes(TestSignal(160, 1));
    m_sound->SaveDecodeAudioFrame(prime.data(), int(prime.size()));  // creates the suppression state
    m_sound->State().m_queue.Clear();
    m_sound->EnableAudioEqualizer(1, kLive);

    // 20000 bytes: five work buffers of suppression, two and a third records.
    const auto pcm = TestSignal(10000, 3);
    SpeexState ns;
    auto want = ns.Run(pcm);  // 62 whole blocks, 80 samples of silence
    equalizer eq;
    rkmedia::EqzCoeffs(eq);
    rkmedia::EqzLoadPreset(eq, kLive);
    rkmedia::EqzFilter(eq, want.data(), want.data(), want.size());

    auto frame = Bytes(pcm);
    m_sound->SaveDecodeAudioFrame(frame.data(), int(frame.size()));
    ASSERT_EQ(Queued(), 3);
    std::vector<int16_t> got;
    for (size_t expect : {4300, 4300, 1400}) {
        const auto rec = PopRecord(*m_sound);
        EXPECT_EQ(rec.size(), expect);
        got.insert(got.end(), rec.begin(), rec.end());
    }
    EXPECT_EQ(FirstDifference(want, got), -1);

    // Through the callback: records are played whole, one after another.
    auto again = Bytes(pcm);
    m_sound->EnableAudioEqualizer(0, kLive);
    m_sound->SetRemoveNoise(false, 0);
    m_sound->SaveDecodeAudioFrame(again.data(), int(again.size()));
    std::vector<uint8_t> played;
    while (played.size() < again.size()) {
        const auto out = Play(3000);
        played.insert(played.end(), out.begin(), out.end());
    }
    played.resize(again.size());
    EXPECT_EQ(played, again);
}

TEST_F(SoundOutput, AFrameOfManyRecordsKeepsItsNewestSixteen)
{
    const auto pcm = TestSignal(4300 * 20, 5);
    auto frame = Bytes(pcm);
    m_sound->SaveDecodeAudioFrame(frame.data(), int(frame.size()));
    ASSERT_EQ(Queued(), 16);
    const auto first = PopRecord(*m_sound);
    EXPECT_EQ(first, std::vector<int16_t>(pcm.begin() + 4 * 4300, pcm.begin() + 5 * 4300));
}

// ---- A player's audio half --------------------------------------------------------------

TEST_F(SoundOutput, CompressionTypesChooseTheVoiceModes)
{
    const std::pair<int, uint16_t> table[] = {{1, 35}, {2, 3},  {3, 38},  {4, 36},  {5, 37},  {6, 39}, {7, 4},
                                              {8, 5},  {9, 6},  {10, 7},  {11, 1},  {12, 2},  {13, 38}, {0, 38},
                                              {-1, 38}};
    for (auto [compress, mode] : table) {
        EXPECT_EQ(CRKPlayAudio::VoiceModeFor(compress), mode) << compress;
        CRKPlayAudio player;
        player.InitAudioDecoder({0, 8000, 16, compress});
        EXPECT_EQ(player.VoiceMode(), mode) << compress;
        EXPECT_EQ(player.VoiceState()[0] | (player.VoiceState()[1] << 8), mode);
    }
}

TEST_F(SoundOutput, TheSameParametersAgainKeepTheDecoderState)
{
    CRKPlayAudio player;
    player.InitAudioDecoder({0, 8000, 16, 10});
    const auto frame = EncodeStream(VOICE_MODE_G726_40, TestSignal(320), 320).at(0);
    uint8_t pcm[VOICE_MAX_FRAME_SAMPLES * 2];
    int bytes = 0;
    player.DecodeOneAudioFrame(frame.data(), int(frame.size()), pcm, &bytes);
    ASSERT_EQ(bytes, 640);
    std::vector<uint8_t> state(player.VoiceState(), player.VoiceState() + VOICE_STATE_SIZE);
    player.InitAudioDecoder({1234, 8000, 16, 10});  // the reserved field does not count
    EXPECT_EQ(std::vector<uint8_t>(player.VoiceState(), player.VoiceState() + VOICE_STATE_SIZE), state);
    player.InitAudioDecoder({0, 16000, 16, 10});  // another rate: a fresh decoder
    std::vector<uint8_t> fresh(VOICE_STATE_SIZE);
    VOICE_DecReset(fresh.data(), VOICE_MODE_G726_40);
    EXPECT_EQ(std::vector<uint8_t>(player.VoiceState(), player.VoiceState() + VOICE_STATE_SIZE), fresh);
}

TEST_F(SoundOutput, TheFirstSetUpLoadsFlatLaterOnesDoNot)
{
    m_sound->SetQuit(true);
    CRKPlayAudio first;
    first.EnableRemoveNoise(1, 2);
    ASSERT_EQ(first.InitAudioDecoder({0, 8000, 16, 11}), 0);
    EXPECT_FALSE(rkmedia::AudioStopped());  // the first set-up clears the stop flags
    EXPECT_TRUE(m_sound->FiltersInitialized());
    EXPECT_TRUE(m_sound->EqualizerEnabled());
    EXPECT_TRUE(m_sound->NoiseEnabled());
    EXPECT_EQ(m_sound->NoiseType(), 2);
    EXPECT_TRUE(m_sound->NoiseStateExists());
    equalizer eq;
    ASSERT_TRUE(m_sound->EqualizerSnapshot(eq));
    EXPECT_TRUE(rkmedia::EqzIsBypass(eq));

    ASSERT_EQ(first.EnableAudioEqualizer(0, kFlat), 0);
    CRKPlayAudio second;
    ASSERT_EQ(second.InitAudioDecoder({0, 8000, 16, 12}), 0);
    EXPECT_FALSE(m_sound->EqualizerEnabled());
}

TEST_F(SoundOutput, SettingsBeforeAndWithoutASoundOutput)
{
    CRKPlayAudio player;
    EXPECT_EQ(player.EnableAudioEqualizer(1, kFlat), -1);
    EXPECT_EQ(player.EnableRemoveNoise(1, 1), 0);
    EXPECT_EQ(player.EnableLowPassFilter(1, 1.5f), 0);
    EXPECT_FLOAT_EQ(player.LowPassCutoff(), 0.8f);
    EXPECT_TRUE(player.LowPassEnabled());
    player.EnableLowPassFilter(1, 0.3f);
    EXPECT_FLOAT_EQ(player.LowPassCutoff(), 0.3f);
    player.EnableLowPassFilter(0, -0.1f);
    EXPECT_FLOAT_EQ(player.LowPassCutoff(), 0.8f);
    player.EnableLowPassFilter(1, NAN);
    EXPECT_FLOAT_EQ(player.LowPassCutoff(), 0.8f);
    player.EnableLowPassFilter(1, 0.0f);  // no band at all is no cut-off either
    EXPECT_FLOAT_EQ(player.LowPassCutoff(), 0.8f);
    player.EnableLowPassFilter(0, 1.0f);
    EXPECT_FLOAT_EQ(player.LowPassCutoff(), 1.0f);
    EXPECT_FALSE(player.LowPassEnabled());
    // Without a decoder set up, frames go nowhere.
    uint8_t pcm[VOICE_MAX_FRAME_SAMPLES * 2];
    int bytes = -1;
    const auto frame = EncodeStream(VOICE_MODE_G711A, TestSignal(320), 320).at(0);
    EXPECT_EQ(player.DecodeOneAudioFrame(frame.data(), int(frame.size()), pcm, &bytes), 0);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(Queued(), 0);
    EXPECT_EQ(player.InitAudioDecoder({0, 8000, 16, 11}), 0);
    EXPECT_EQ(player.EnableAudioEqualizer(1, kFlat), 0);
}

TEST_F(SoundOutput, BadFramesQueueSilenceAndNeverReadPastTheirLength)
{
    CRKPlayAudio player;
    player.InitAudioDecoder({0, 8000, 16, 11});
    const auto good = EncodeStream(VOICE_MODE_G711A, TestSignal(320), 320).at(0);
    uint8_t pcm[VOICE_MAX_FRAME_SAMPLES * 2];
    int bytes = -1;
    // The header claims 320 payload bytes; the caller has one fewer.
    std::vector<uint8_t> cut(good.begin(), good.end() - 1);
    EXPECT_EQ(player.DecodeOneAudioFrame(cut.data(), int(cut.size()), pcm, &bytes), 0);
    EXPECT_EQ(bytes, 0);
    auto bad = good;
    bad[1] = 0x02;
    EXPECT_EQ(player.DecodeOneAudioFrame(bad.data(), int(bad.size()), pcm, &bytes), 0);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(Queued(), 2);
    EXPECT_EQ(Play(1280), std::vector<uint8_t>(1280, 0));
    // Nothing at all for no frame, no length or no buffer.
    EXPECT_EQ(player.DecodeOneAudioFrame(nullptr, 100, pcm, &bytes), 0);
    EXPECT_EQ(player.DecodeOneAudioFrame(good.data(), 0, pcm, &bytes), 0);
    EXPECT_EQ(player.DecodeOneAudioFrame(good.data(), int(good.size()), nullptr, &bytes), 0);
    EXPECT_EQ(Queued(), 0);
    // After release the player decodes nothing until it is set up again.
    player.UnInitAudioDecoder();
    EXPECT_EQ(player.DecodeOneAudioFrame(good.data(), int(good.size()), pcm, &bytes), 0);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(Queued(), 0);
    player.InitAudioDecoder({0, 8000, 16, 11});
    EXPECT_EQ(player.DecodeOneAudioFrame(good.data(), int(good.size()), pcm + 1, &bytes), 0);  // unaligned
    EXPECT_EQ(bytes, 640);
    EXPECT_EQ(Queued(), 1);
}

// G.711 A-law frames of 320 samples of a low and a high tone, and what
// they decode to.
std::vector<std::vector<uint8_t>> TwoToneFrames(size_t count, std::vector<int16_t>* decoded)
{
    std::vector<int16_t> pcm(320 * count);
    for (size_t i = 0; i < pcm.size(); ++i) {
        const double t = double(i) / 8000.0;
        pcm[i] = int16_t(std::lround(8000 * std::sin(2 * std::numbers::pi * 300 * t) +
                                     8000 * std::sin(2 * std::numbers::pi * 3600 * t)));
    }
    auto frames = EncodeStream(VOICE_MODE_G711A, pcm, 320);
    for (const auto& f : frames)
        for (size_t i = 4; i < f.size(); ++i) decoded->push_back(rkmedia::voice::AlawToLinear(f[i]));
    return frames;
}

double EnergyAt(const std::vector<int16_t>& pcm, double hz)
{
    std::complex<double> acc = 0;
    for (size_t i = 0; i < pcm.size(); ++i)
        acc += double(pcm[i]) * std::polar(1.0, -2 * std::numbers::pi * hz * double(i) / 8000.0);
    return std::norm(acc);
}

// 320-sample frames of a decoded stream.
std::vector<int16_t> FrameOf(const std::vector<int16_t>& decoded, size_t k)
{
    return std::vector<int16_t>(decoded.begin() + long(320 * k), decoded.begin() + long(320 * (k + 1)));
}

TEST_F(SoundOutput, ThePlayersLowPassFilterChangesWhatIsQueued)
{
    std::vector<int16_t> decoded;
    const auto frames = TwoToneFrames(3, &decoded);
    ASSERT_EQ(frames.size(), 3u);
    CRKPlayAudio player;
    ASSERT_EQ(player.InitAudioDecoder({0, 8000, 16, 11}), 0);
    ASSERT_TRUE(m_sound->EqualizerEnabled());  // "flat": the queue shows the player's own output
    uint8_t pcm[VOICE_MAX_FRAME_SAMPLES * 2];
    auto decode = [&](size_t k) {
        int bytes = 0;
        EXPECT_EQ(player.DecodeOneAudioFrame(frames[k].data(), int(frames[k].size()), pcm, &bytes), 0);
        EXPECT_EQ(bytes, 640);
        return PopRecord(*m_sound);
    };

    // Off: the frame as decoded.
    EXPECT_EQ(decode(0), FrameOf(decoded, 0));

    // On at 0.25 (1000 Hz): the filter's output, starting from silence and
    // going on across frames; the caller's buffer gets the same.
    ASSERT_EQ(player.EnableLowPassFilter(1, 0.25f), 0);
    CLowPassFilter ref;
    ref.Set(true, 0.25f);
    for (size_t k : {1, 2}) {
        const auto in = FrameOf(decoded, k);
        auto want = in;
        ref.Process(want.data(), want.size());
        const auto got = decode(k);
        EXPECT_EQ(got, want) << "frame " << k;
        EXPECT_EQ(Samples(pcm, 640), want) << "frame " << k;
        EXPECT_NE(got, in);
        EXPECT_LT(EnergyAt(got, 3600), EnergyAt(in, 3600) / 100) << "frame " << k;
        EXPECT_GT(EnergyAt(got, 300), EnergyAt(in, 300) / 2) << "frame " << k;
    }

    // Off again: untouched.
    ASSERT_EQ(player.EnableLowPassFilter(0, 0.25f), 0);
    EXPECT_EQ(decode(1), FrameOf(decoded, 1));
}

TEST_F(SoundOutput, TwoPlayersKeepTheirOwnLowPassHistory)
{
    std::vector<int16_t> decoded;
    const auto frames = TwoToneFrames(4, &decoded);
    CRKPlayAudio a, b, plain;
    for (auto* p : {&a, &b, &plain}) ASSERT_EQ(p->InitAudioDecoder({0, 8000, 16, 11}), 0);
    a.EnableLowPassFilter(1, 0.5f);
    b.EnableLowPassFilter(1, 0.2f);
    CLowPassFilter refA, refB;
    refA.Set(true, 0.5f);
    refB.Set(true, 0.2f);
    uint8_t pcm[VOICE_MAX_FRAME_SAMPLES * 2];
    int bytes = 0;
    for (size_t k = 0; k < frames.size(); ++k) {
        const auto in = FrameOf(decoded, k);
        auto wantA = in, wantB = in;
        refA.Process(wantA.data(), wantA.size());
        refB.Process(wantB.data(), wantB.size());
        // The windows take turns, the one without the filter between them.
        for (auto* p : {&a, &plain, &b}) p->DecodeOneAudioFrame(frames[k].data(), int(frames[k].size()), pcm, &bytes);
        ASSERT_EQ(Queued(), 3);
        EXPECT_EQ(PopRecord(*m_sound), wantA) << "frame " << k;
        EXPECT_EQ(PopRecord(*m_sound), in) << "frame " << k;
        EXPECT_EQ(PopRecord(*m_sound), wantB) << "frame " << k;
    }
}

TEST_F(SoundOutput, PlayersOnSeveralThreadsShareTheQueue)
{
    const auto frame = EncodeStream(VOICE_MODE_G711U, TestSignal(320), 320).at(0);
    std::vector<std::thread> threads;
    std::atomic<int> done{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            CRKPlayAudio player;
            player.InitAudioDecoder({0, 8000, 16, 12});
            uint8_t pcm[VOICE_MAX_FRAME_SAMPLES * 2];
            for (int i = 0; i < 200; ++i) {
                int bytes = 0;
                player.DecodeOneAudioFrame(frame.data(), int(frame.size()), pcm, &bytes);
                player.EnableAudioEqualizer(1, i % 2 ? kFlat : kLive);
                player.EnableRemoveNoise(i % 3 == 0, 1);
                player.EnableLowPassFilter(i % 4 < 2, i % 5 ? 0.5f : 0.3f);
            }
            ++done;
        });
    std::thread reader([&] {
        std::vector<uint8_t> out(640);
        while (done.load() < 4) rkmedia::Audio_CallBack(&m_sound->State(), out.data(), int(out.size()));
    });
    for (auto& t : threads) t.join();
    reader.join();
    EXPECT_LE(Queued(), 16);
}

// ---- The exports ----------------------------------------------------------------------------

TEST(SoundExports, EmptySlotsAndLazyCreation)
{
    RKPLAYER_HANDLE slot = nullptr;
    EXPECT_EQ(RKPLAYER_EnableAudioEqualizer(&slot, 1, kFlat), -1);
    EXPECT_EQ(RKPLAYER_EnableLowPassFilter(&slot, 1, 0.5f), 0);
    EXPECT_EQ(RKPLAYER_EnableRemoveNoise(&slot, 1, 1), 0);
    EXPECT_EQ(RKPLAYER_SetAudioVolume(&slot, 100), 0);
    EXPECT_EQ(RKPLAYER_SetAudioDecordQuit(&slot, 0), 0);
    EXPECT_EQ(slot, nullptr);

    // The audio initialiser creates the player in an empty slot.
    ASSERT_EQ(RKPLAYER_InitAudioDecoder(&slot, {0, 8000, 16, 11}), 0);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(RKPLAYER_EnableAudioEqualizer(&slot, 0x101, kFlat), 0);
    const auto frame = EncodeStream(VOICE_MODE_G711A, TestSignal(320), 320).at(0);
    uint8_t pcm[VOICE_MAX_FRAME_SAMPLES * 2];
    int bytes = 0;
    EXPECT_EQ(RKPLAYER_DecordOneAudioFrame(&slot, frame.data(), int(frame.size()), pcm, &bytes), 0);
    EXPECT_EQ(bytes, 640);
    EXPECT_EQ(rkmedia::voice::AlawToLinear(frame[4]), int16_t(pcm[0] | (pcm[1] << 8)));
    EXPECT_EQ(RKPLAYER_UnInitAudioDecoder(&slot), 0);
    RKPLAYER_Uninitgpu(&slot);
    slot = nullptr;
}

// The library keeps its own sound output out of reach; the frame handed back
// is the one it queues (no noise suppression, "flat" equalizer).
TEST(SoundExports, TheLowPassFilterChangesTheFramePlayed)
{
    std::vector<int16_t> decoded;
    const auto frames = TwoToneFrames(3, &decoded);
    RKPLAYER_HANDLE slot = nullptr;
    ASSERT_EQ(RKPLAYER_InitAudioDecoder(&slot, {0, 8000, 16, 11}), 0);
    uint8_t pcm[VOICE_MAX_FRAME_SAMPLES * 2];
    auto decode = [&](size_t k) {
        int bytes = 0;
        EXPECT_EQ(RKPLAYER_DecordOneAudioFrame(&slot, frames[k].data(), int(frames[k].size()), pcm, &bytes), 0);
        EXPECT_EQ(bytes, 640);
        return Samples(pcm, 640);
    };
    EXPECT_EQ(decode(0), FrameOf(decoded, 0));
    EXPECT_EQ(RKPLAYER_EnableLowPassFilter(&slot, 1, 0.25f), 0);
    CLowPassFilter ref;
    ref.Set(true, 0.25f);
    for (size_t k : {1, 2}) {
        auto want = FrameOf(decoded, k);
        ref.Process(want.data(), want.size());
        EXPECT_EQ(decode(k), want) << "frame " << k;
    }
    EXPECT_EQ(RKPLAYER_EnableLowPassFilter(&slot, 0, 0.25f), 0);
    EXPECT_EQ(decode(2), FrameOf(decoded, 2));
    RKPLAYER_Uninitgpu(&slot);
}

}  // namespace
}  // namespace velmor::fixtures::voice
