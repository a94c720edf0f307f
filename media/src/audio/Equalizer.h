// The ten-band equalizer of the sound output: one band-pass section per
// octave band (31.25 Hz to 16 kHz) on 16-bit mono PCM at 8000 samples per
// second, summed with a quarter of the dry signal and scaled by the preamp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/include/rkmedia.h"

namespace rkmedia {

constexpr int kEqBands = 10;
constexpr double kEqCentres[kEqBands] = {31.25, 62.5, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};

struct equalizer {
    int bands = kEqBands;
    double alpha[kEqBands] = {};
    double beta[kEqBands] = {};
    double gamma[kEqBands] = {};
    double gain[kEqBands] = {};  // band gain coefficient: (10^(dB/20) - 1) / 4
    double overallGain = 1.0;    // from the preamp
    bool twoPass = false;
    double x[2] = {};                // input history: one and two samples back
    double y[kEqBands][2] = {};      // per band output history
};

// Band coefficients for a sample rate, one octave wide; bands above half
// the sample rate get zeros and so contribute nothing.
void EqzCoeffs(equalizer& eq, double sampleRate = 8000.0, double octaves = 1.0);

// Loads a preset's gains: preamp clamped to 0.1..10 (below -20 dB, from
// 20 dB), band gains clamped to -20..20 dB. A value that is not a number
// counts as 0 dB; the band count is kept within 0..10.
void EqzLoadPreset(equalizer& eq, const RKPLAYER_EQ_PRESET& preset);

// "flat": the overall gain is the preamp of 12 dB and every band is at
// 0 dB, give or take 0.01; such a frame passes unchanged.
bool EqzIsBypass(const equalizer& eq);

// Filters n samples (in and out may be the same). Outside bypass each
// output is gain x (x / 4 + sum of bands), truncated toward zero and held
// within the 16-bit range.
void EqzFilter(equalizer& eq, const int16_t* in, int16_t* out, size_t n);

}  // namespace rkmedia
