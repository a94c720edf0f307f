#include "media/src/audio/Equalizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace rkmedia {
namespace {

double DbOrZero(float db) { return std::isnan(db) ? 0.0 : double(db); }

}  // namespace

void EqzCoeffs(equalizer& eq, double sampleRate, double octaves)
{
    const double k = std::pow(2.0, octaves / 2.0);
    const double k1 = (k + 1.0) / 2.0;
    const double k2 = (k - 1.0) / 2.0;
    for (int i = 0; i < kEqBands; ++i) {
        const double f = kEqCentres[i];
        if (f > sampleRate / 2.0) {
            eq.alpha[i] = eq.beta[i] = eq.gamma[i] = 0.0;
            continue;
        }
        const double theta1 = 2.0 * std::numbers::pi * f / sampleRate;
        const double theta2 = theta1 / k;
        const double s = std::sin(theta2);
        const double p = std::sin(theta2 * k1) * std::sin(theta2 * k2);
        const double h = s / 2.0;
        const double d = h + p;
        eq.alpha[i] = p / d;
        eq.beta[i] = (h - p) / d;
        eq.gamma[i] = s * std::cos(theta1) / d;
    }
}

void EqzLoadPreset(equalizer& eq, const RKPLAYER_EQ_PRESET& preset)
{
    eq.bands = std::clamp<int>(preset.bands, 0, kEqBands);
    eq.twoPass = false;
    const double preamp = DbOrZero(preset.preamp);
    eq.overallGain = preamp < -20.0 ? 0.1 : preamp >= 20.0 ? 10.0 : std::pow(10.0, preamp / 20.0);
    for (int i = 0; i < eq.bands; ++i) {
        const double amp = std::clamp(DbOrZero(preset.amp[i]), -20.0, 20.0);
        eq.gain[i] = (std::pow(10.0, amp / 20.0) - 1.0) * 0.25;
    }
}

bool EqzIsBypass(const equalizer& eq)
{
    static const double kFlatGain = std::pow(10.0, 12.0 / 20.0);
    if (std::fabs(eq.overallGain - kFlatGain) >= 0.01) return false;
    for (int i = 0; i < eq.bands; ++i)
        if (std::fabs(eq.gain[i]) >= 0.01) return false;
    return true;
}

void EqzFilter(equalizer& eq, const int16_t* in, int16_t* out, size_t n)
{
    if (EqzIsBypass(eq)) {
        if (out != in) std::memmove(out, in, n * sizeof(int16_t));
        return;
    }
    const int bands = std::clamp(eq.bands, 0, kEqBands);
    for (size_t i = 0; i < n; ++i) {
        const double x = in[i];
        double o = 0.0;
        for (int j = 0; j < bands; ++j) {
            const double y = eq.alpha[j] * (x - eq.x[1]) + eq.gamma[j] * eq.y[j][0] - eq.beta[j] * eq.y[j][1];
            eq.y[j][1] = eq.y[j][0];
            eq.y[j][0] = y;
            o += y * eq.gain[j];
        }
        eq.x[1] = eq.x[0];
        eq.x[0] = x;
        // Loud presets can push a sample past the 16-bit range; it is held
        // at the limit rather than wrapped round to the other sign.
        const double v = std::trunc(eq.overallGain * (0.25 * x + o));
        out[i] = int16_t(std::clamp(v, -32768.0, 32767.0));
    }
}

}  // namespace rkmedia
