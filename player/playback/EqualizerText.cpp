#include "player/playback/EqualizerText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velmor {

namespace {

RKPLAYER_EQ_PRESET Make(const char* name, float preamp, std::initializer_list<float> amp)
{
    RKPLAYER_EQ_PRESET p{};
    std::memcpy(p.name, name, std::min(std::strlen(name), sizeof p.name));
    p.bands = kEqualizerBands;
    p.preamp = preamp;
    int i = 0;
    for (float a : amp) p.amp[i++] = a;
    return p;
}

const RKPLAYER_EQ_PRESET kPresets[kEqualizerPresets] = {
    Make("flat", 12.0f, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
    Make("classical", 12.0f, {0, 0, 0, 0, 0, 0, -7.2f, -7.2f, -7.2f, -9.6f}),
    Make("club", 6.0f, {0, 0, 8.0f, 5.6f, 5.6f, 5.6f, 3.2f, 0, 0, 0}),
    Make("dance", 5.0f, {9.6f, 7.2f, 2.4f, 0, 0, -5.6f, -7.2f, -7.2f, 0, 0}),
    Make("fullbass", 5.0f, {-8.0f, 9.6f, 9.6f, 5.6f, 1.6f, -4.0f, -8.0f, -10.4f, -11.2f, -11.2f}),
    Make("fullbasstreble", 4.0f, {7.2f, 5.6f, 0, -7.2f, -4.8f, 1.6f, 8.0f, 11.2f, 12.0f, 12.0f}),
    Make("fulltreble", 3.0f, {-9.6f, -9.6f, -9.6f, -4.0f, 2.4f, 11.2f, 16.0f, 16.0f, 16.0f, 16.8f}),
    Make("headphones", 4.0f, {4.8f, 11.2f, 5.6f, -3.2f, -2.4f, 1.6f, 4.8f, 9.6f, 12.8f, 14.4f}),
    Make("largehall", 5.0f, {10.4f, 10.4f, 5.6f, 5.6f, 0, -4.8f, -4.8f, -4.8f, 0, 0}),
    Make("live", 7.0f, {-4.8f, 0, 4.0f, 5.6f, 5.6f, 5.6f, 4.0f, 2.4f, 2.4f, 2.4f}),
};

const double kBandHz[kEqualizerBands] = {31.25, 62.5, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};

// The shortest "%g"-style text that reads back as the same float.
std::string Number(float v)
{
    char text[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, double(v));
        if (std::strtof(text, nullptr) == v) break;
    }
    return text;
}

}  // namespace

const RKPLAYER_EQ_PRESET* EqualizerPreset(int index)
{
    return index >= 1 && index <= kEqualizerPresets ? &kPresets[index - 1] : nullptr;
}

RKPLAYER_EQ_PRESET FlatEqualizer() { return kPresets[0]; }

double SliderToDb(int position) { return position * 0.01 - 20.0; }

int DbToSlider(double db) { return int(std::lround((db + 20.0) * 100.0)); }

std::string DbLabel(double db)
{
    if (std::fabs(db) <= 0.01) db = 0;
    const double rounded = std::round(db * 10.0) / 10.0 + 0.0;  // + 0.0 folds -0 into 0
    char text[32];
    std::snprintf(text, sizeof text, "%.1fdB", rounded == 0 ? 0.0 : rounded);
    return text;
}

std::string BandLabel(int band)
{
    if (band < 0 || band >= kEqualizerBands) return {};
    const double hz = kBandHz[band];
    char text[32];
    if (hz >= 1000)
        std::snprintf(text, sizeof text, "%dKHZ", int(hz / 1000));
    else if (hz * 10 != std::floor(hz * 10))
        std::snprintf(text, sizeof text, "%.2fHZ", hz);
    else if (hz != std::floor(hz))
        std::snprintf(text, sizeof text, "%.1fHZ", hz);
    else
        std::snprintf(text, sizeof text, "%.fHZ", hz);
    return text;
}

std::string EqualizeText(bool on, const RKPLAYER_EQ_PRESET& record)
{
    if (!on) return {};
    std::string text = Number(record.preamp);
    for (int i = 0; i < kEqualizerBands; ++i) text += "," + Number(record.amp[i]);
    return text;
}

bool ParseEqualizeText(std::string_view text, RKPLAYER_EQ_PRESET& record)
{
    if (text.empty()) {
        record = FlatEqualizer();
        return false;
    }
    float values[1 + kEqualizerBands] = {};
    size_t pos = 0;
    for (int i = 0; i <= kEqualizerBands && pos <= text.size(); ++i) {
        const size_t comma = text.find(',', pos);
        const std::string field(text.substr(pos, comma == std::string_view::npos ? text.npos : comma - pos));
        char* end = nullptr;
        const float v = std::strtof(field.c_str(), &end);
        values[i] = end != field.c_str() && std::isfinite(v) ? v : 0.0f;
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    record.bands = kEqualizerBands;
    record.preamp = values[0];
    for (int i = 0; i < kEqualizerBands; ++i) record.amp[i] = values[i + 1];
    return true;
}

}  // namespace velmor
