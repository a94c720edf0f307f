#include "player/app/Skin.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace velmor {

const std::vector<SkinBackground>& SkinBackgrounds()
{
    // Drawn by the style engine, so the skin needs no picture files.
    static const std::vector<SkinBackground> backgrounds = {
        {"bk_001", ""},
        {"bk_002", "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #1c2b3a, stop:1 #0b1118)"},
        {"bk_003", "qlineargradient(x1:0, y1:0, x2:1, y2:1, stop:0 #2e2e2e, stop:0.5 #444444, stop:1 #1a1a1a)"},
        {"bk_004", "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #23402c, stop:1 #0e1a12)"},
        {"bk_005", "qradialgradient(cx:0.5, cy:0.3, radius:0.9, fx:0.5, fy:0.3, stop:0 #4a3a5c, stop:1 #15101c)"},
    };
    return backgrounds;
}

const std::vector<std::string>& SkinSwatches()
{
    static const std::vector<std::string> swatches = {
        "FF1E1E1E", "FF2D2D30", "FF3C3F41", "FF1F3A5F", "FF0E639C", "FF16825D",
        "FF6A1B9A", "FF8E2424", "FFB45F06", "FF5C5C5C", "FFD0D0D0", "FFF3F3F3",
    };
    return swatches;
}

std::string SkinColour(int red, int green, int blue)
{
    char text[16];
    std::snprintf(text, sizeof text, "FF%02X%02X%02X", std::clamp(red, 0, 255), std::clamp(green, 0, 255),
                  std::clamp(blue, 0, 255));
    return text;
}

bool SkinRgb(const std::string& skin, int* red, int* green, int* blue)
{
    if (skin.size() != 8 || (skin[0] != 'F' && skin[0] != 'f') || (skin[1] != 'F' && skin[1] != 'f')) return false;
    if (!std::all_of(skin.begin(), skin.end(), [](unsigned char c) { return std::isxdigit(c) != 0; })) return false;
    const unsigned long v = std::stoul(skin.substr(2), nullptr, 16);
    *red = int(v >> 16 & 0xFF);
    *green = int(v >> 8 & 0xFF);
    *blue = int(v & 0xFF);
    return true;
}

std::string SkinStyleSheet(const std::string& skin, const std::string& control)
{
    int r = 0, g = 0, b = 0;
    if (SkinRgb(skin, &r, &g, &b)) {
        char colour[16];
        std::snprintf(colour, sizeof colour, "#%02x%02x%02x", r, g, b);
        return "#" + control + " { background-color: " + colour + "; }";
    }
    for (const SkinBackground& bk : SkinBackgrounds())
        if (skin == bk.name && *bk.style) return "#" + control + " { background: " + bk.style + "; }";
    return {};
}

}  // namespace velmor
