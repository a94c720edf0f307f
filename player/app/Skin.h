// The frame's skin: a colour ("FFRRGGBB", as the skin window's sliders and
// swatches give it) or one of the backgrounds the skin window offers.
#pragma once

#include <string>
#include <vector>

namespace velmor {

struct SkinBackground {
    const char* name;   // the skin window's button, and the value kept in SKIN
    const char* style;  // the frame's background; empty: the frame's own
};
// "bk_001" (the frame's own colours) first.
const std::vector<SkinBackground>& SkinBackgrounds();
// The swatches of the colour tab, "FFRRGGBB" each.
const std::vector<std::string>& SkinSwatches();

// "FF%02X%02X%02X" of a colour.
std::string SkinColour(int red, int green, int blue);
// The style sheet of the frame's background control for a SKIN value: a
// colour, a background by name, or (empty or unknown) the frame's own.
std::string SkinStyleSheet(const std::string& skin, const std::string& control = "Mainfrm_BG");
// The colour a SKIN value stands for, for the sliders; false for a
// background picture or no skin.
bool SkinRgb(const std::string& skin, int* red, int* green, int* blue);

}  // namespace velmor
