// A player's low-pass filter on its own: tones and a sweep against the
// Butterworth curve, no change at all while it is off, saturation instead of
// wrap-round, history per filter and when settings clear it.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "media/src/audio/LowPassFilter.h"
#include "tests/support/Payload.h"

namespace velmor::fixtures::voice {
namespace {

using rkmedia::CLowPassFilter;

constexpr double kRate = 8000.0;

std::vector<int16_t> Tone(double hz, size_t n, double amplitude)
{
    std::vector<int16_t> out(n);
    const double w = 2 * std::numbers::pi * hz / kRate;
    for (size_t i = 0; i < n; ++i) out[i] = int16_t(std::lround(amplitude * std::sin(w * double(i))));
    return out;
}

// The amplitude of the `hz` component over samples [from, end), by projection.
double AmplitudeAt(const std::vector<int16_t>& pcm, double hz, size_t from)
{
    const double w = 2 * std::numbers::pi * hz / kRate;
    std::complex<double> acc = 0;
    for (size_t i = from; i < pcm.size(); ++i) acc += double(pcm[i]) * std::polar(1.0, -w * double(i));
    return 2.0 * std::abs(acc) / double(pcm.size() - from);
}

// The second-order Butterworth low-pass after the bilinear transform, with
// the cut-off pre-warped: |H|^2 = 1 / (1 + (tan(w/2) / tan(wc/2))^4).
double ButterworthGain(double cutoff, double hz)
{
    const double r = std::tan(std::numbers::pi * hz / kRate) / std::tan(std::numbers::pi * cutoff / 2.0);
    return 1.0 / std::sqrt(1.0 + r * r * r * r);
}

std::vector<int16_t> Filtered(std::vector<int16_t> pcm, float cutoff)
{
    CLowPassFilter f;
    f.Set(true, cutoff);
    f.Process(pcm.data(), pcm.size());
    return pcm;
}

double Db(double ratio) { return 20.0 * std::log10(ratio); }

TEST(LowPassFilter, TonesFollowTheButterworthCurve)
{
    struct Row {
        float cutoff;
        double hz;
        double minDb, maxDb;  // what must hold whatever the curve says
    };
    const Row rows[] = {
        {0.5f, 300, -1, 1},       {0.5f, 3800, -200, -12}, {0.5f, 2000, -3.3, -2.7}, {0.5f, 1000, -1, 0.1},
        {0.8f, 300, -1, 1},       {0.8f, 3200, -3.3, -2.7}, {0.8f, 3900, -200, -12}, {0.25f, 500, -1, 0.1},
        {0.25f, 3000, -200, -24}, {0.02f, 80, -3.3, -2.7},  {0.02f, 800, -200, -24}, {0.99f, 3000, -1, 0.1},
    };
    const double amplitude = 12000;
    for (const Row& r : rows) {
        const size_t n = 16000;
        const auto out = Filtered(Tone(r.hz, n, amplitude), r.cutoff);
        // Past the settling of the slowest filter here (0.02: some hundreds of samples).
        const double got = AmplitudeAt(out, r.hz, n / 2);
        const double want = amplitude * ButterworthGain(r.cutoff, r.hz);
        EXPECT_NEAR(got, want, 0.005 * want + 2.0) << r.cutoff << " at " << r.hz << " Hz";
        const double db = Db(std::max(got, 1e-9) / amplitude);
        EXPECT_GE(db, r.minDb) << r.cutoff << " at " << r.hz << " Hz";
        EXPECT_LE(db, r.maxDb) << r.cutoff << " at " << r.hz << " Hz";
    }
}

TEST(LowPassFilter, ASweepLosesItsEnergyAboveTheCutoff)
{
    // 100 Hz to 3900 Hz over four seconds.
    const size_t n = 32000;
    const double f0 = 100, f1 = 3900, secs = double(n) / kRate;
    std::vector<int16_t> sweep(n);
    std::vector<double> freq(n);
    double phase = 0;
    for (size_t i = 0; i < n; ++i) {
        freq[i] = f0 + (f1 - f0) * double(i) / kRate / secs;
        phase += 2 * std::numbers::pi * freq[i] / kRate;
        sweep[i] = int16_t(std::lround(10000 * std::sin(phase)));
    }
    const float cutoff = 0.5f;
    const auto out = Filtered(sweep, cutoff);
    struct Band {
        double from, to;
        double minDb, maxDb;
    };
    for (const Band& b : {Band{200, 1200, -1, 0.2}, Band{1800, 2200, -4.5, -1.5}, Band{3000, 3900, -200, -12}}) {
        double in = 0, got = 0;
        for (size_t i = 0; i < n; ++i) {
            if (freq[i] < b.from || freq[i] >= b.to) continue;
            in += double(sweep[i]) * sweep[i];
            got += double(out[i]) * out[i];
        }
        ASSERT_GT(in, 0.0);
        const double db = 10.0 * std::log10(std::max(got, 1.0) / in);
        EXPECT_GE(db, b.minDb) << b.from << ".." << b.to << " Hz";
        EXPECT_LE(db, b.maxDb) << b.from << ".." << b.to << " Hz";
    }
}

TEST(LowPassFilter, OffOrTheWholeBandLeavesSamplesAsTheyAre)
{
    // Full-scale noise, the extremes included.
    auto bytes = MakePayload(31, 8000);
    std::vector<int16_t> noise(bytes.size() / 2);
    std::memcpy(noise.data(), bytes.data(), bytes.size());
    noise[0] = -32768;
    noise[1] = 32767;

    struct Row {
        const char* what;
        void (*setUp)(CLowPassFilter&);
        bool changes;
    };
    const Row rows[] = {
        {"never switched", [](CLowPassFilter&) {}, false},
        {"off with a cut-off", [](CLowPassFilter& f) { f.Set(false, 0.3f); }, false},
        {"on, then off", [](CLowPassFilter& f) { f.Set(true, 0.3f); f.Set(false, 0.3f); }, false},
        {"on at the whole band", [](CLowPassFilter& f) { f.Set(true, 1.0f); }, false},
        {"on at 0.3 (the control)", [](CLowPassFilter& f) { f.Set(true, 0.3f); }, true},
    };
    for (const Row& r : rows) {
        CLowPassFilter f;
        r.setUp(f);
        auto pcm = noise;
        f.Process(pcm.data(), pcm.size());
        EXPECT_EQ(std::memcmp(pcm.data(), noise.data(), noise.size() * 2) != 0, r.changes) << r.what;
    }
}

TEST(LowPassFilter, AFullScaleSquareWaveSaturatesAndNeverWraps)
{
    // 250 Hz: 16 samples high, 16 low. Each edge of 65535 overshoots.
    std::vector<int16_t> square(8000);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 16) % 2 ? int16_t(-32768) : int16_t(32767);
    for (float cutoff : {0.3f, 0.5f, 0.8f, 0.95f}) {
        const auto out = Filtered(square, cutoff);
        size_t atTop = 0, atBottom = 0;
        for (size_t i = 64; i < out.size(); ++i) {
            atTop += out[i] == 32767;
            atBottom += out[i] == -32768;
            // A few samples after an edge the output has followed it; a
            // wrapped sample would have the other sign.
            if (i % 16 < 5) continue;
            if (square[i] > 0) {
                ASSERT_GT(out[i], 20000) << "cut-off " << cutoff << " sample " << i;
            } else {
                ASSERT_LT(out[i], -20000) << "cut-off " << cutoff << " sample " << i;
            }
        }
        EXPECT_GT(atTop, 0u) << "the overshoot reaches the top, cut-off " << cutoff;
        EXPECT_GT(atBottom, 0u) << "and the bottom, cut-off " << cutoff;
    }
}

TEST(LowPassFilter, EachFilterKeepsItsOwnHistoryAcrossFrames)
{
    const auto a = Tone(3000, 4000, 15000), b = Tone(200, 4000, 15000);
    const auto wantA = Filtered(a, 0.5f), wantB = Filtered(b, 0.25f);

    // Frames of uneven lengths, the two filters taking turns.
    CLowPassFilter fa, fb;
    fa.Set(true, 0.5f);
    fb.Set(true, 0.25f);
    auto gotA = a, gotB = b;
    const size_t lengths[] = {1, 160, 7, 320, 33, 500};
    size_t off = 0;
    for (size_t k = 0; off < a.size(); ++k) {
        const size_t len = std::min(lengths[k % std::size(lengths)], a.size() - off);
        fa.Process(gotA.data() + off, len);
        fb.Process(gotB.data() + off, len);
        off += len;
    }
    EXPECT_EQ(gotA, wantA);
    EXPECT_EQ(gotB, wantB);
    EXPECT_NE(wantA, a);  // the filter did something to compare
}

TEST(LowPassFilter, SwitchingOnOrANewCutoffStartsFromSilence)
{
    using Step = std::pair<bool, float>;
    struct Row {
        const char* what;
        float start;              // the cut-off of a first frame
        std::vector<Step> after;  // settings given after it
        bool fresh;               // the next frame as from a new filter
    };
    const Row rows[] = {
        {"the same settings again", 0.5f, {{true, 0.5f}}, false},
        {"a new cut-off", 0.5f, {{true, 0.3f}}, true},
        {"off and on again", 0.5f, {{false, 0.5f}, {true, 0.5f}}, true},
        {"a cut-off out of range", 0.5f, {{true, 1.5f}}, true},
        {"out of range, the default already", 0.8f, {{true, 1.5f}}, false},
    };
    const auto first = Tone(3500, 333, 20000), next = Tone(700, 640, 20000);
    for (const Row& r : rows) {
        CLowPassFilter f;
        f.Set(true, r.start);
        auto a = first;
        f.Process(a.data(), a.size());
        for (auto [on, cutoff] : r.after) f.Set(on, cutoff);
        auto got = next;
        f.Process(got.data(), got.size());

        // A new filter with the final settings, and one that ran on.
        CLowPassFilter fresh, ran;
        for (auto* g : {&fresh, &ran}) g->Set(r.after.back().first, r.after.back().second);
        auto b = first;
        ran.Process(b.data(), b.size());
        auto wantFresh = next, wantRan = next;
        fresh.Process(wantFresh.data(), wantFresh.size());
        ran.Process(wantRan.data(), wantRan.size());
        ASSERT_NE(wantFresh, wantRan) << r.what;  // the history shows
        EXPECT_EQ(got, r.fresh ? wantFresh : wantRan) << r.what;
    }
}

TEST(LowPassFilter, CutoffsOutsideTheBandMeanTheDefault)
{
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, float> table[] = {
        {0.8f, 0.8f},  {0.3f, 0.3f},  {1.0f, 1.0f},      {0.001f, 0.001f}, {0.0f, 0.8f}, {-0.0f, 0.8f},
        {-0.1f, 0.8f}, {1.0001f, 0.8f}, {1.5f, 0.8f}, {NAN, 0.8f},      {inf, 0.8f},  {-inf, 0.8f},
    };
    for (auto [in, want] : table) {
        EXPECT_EQ(CLowPassFilter::ValidCutoff(in), want) << in;
        CLowPassFilter f;
        f.Set(true, in);
        EXPECT_EQ(f.Cutoff(), want) << in;
        EXPECT_TRUE(f.Enabled());
    }
    CLowPassFilter off;
    EXPECT_FALSE(off.Enabled());
    EXPECT_EQ(off.Cutoff(), 0.8f);
}

}  // namespace
}  // namespace velmor::fixtures::voice
