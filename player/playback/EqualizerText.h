// The texts and numbers of the equalizer window and the Equalize setting:
// the preset table, slider positions in dB, the value and band labels, and
// the setting's text both ways.
#pragma once

#include <string>
#include <string_view>

#include "media/include/rkmedia.h"

namespace velmor {

constexpr int kEqualizerPresets = 10;  // choice 1..10; 0 is the values set by hand
constexpr int kEqualizerBands = 10;

// Preset 1..10; nullptr for any other index.
const RKPLAYER_EQ_PRESET* EqualizerPreset(int index);
// The record of an equalizer never set: "flat", 10 bands, 12 dB, flat bands.
RKPLAYER_EQ_PRESET FlatEqualizer();

// Slider positions 0..4000 stand for -20..+20 dB in steps of 0.01 dB.
double SliderToDb(int position);
int DbToSlider(double db);
// "%.1fdB" rounded half away from zero; values within 0.01 of 0 show as 0.
std::string DbLabel(double db);
// Label of band 0..9: "1KHZ".."16KHZ", "31.25HZ", "62.5HZ", "125HZ" ...
std::string BandLabel(int band);

// The Equalize setting of an equalizer: empty when off, else the
// preamplification and the ten band gains separated by commas.
std::string EqualizeText(bool on, const RKPLAYER_EQ_PRESET& record);
// Reads the setting into `record` (whose name stays) and returns whether the
// equalizer is on. An empty text gives the flat record, off. A number that
// cannot be read, or is missing, is 0.
bool ParseEqualizeText(std::string_view text, RKPLAYER_EQ_PRESET& record);

}  // namespace velmor
