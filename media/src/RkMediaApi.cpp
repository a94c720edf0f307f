// Exported functions of the media engine.
#include "media/include/rkmedia.h"

#include "media/src/SpsParser.h"

extern "C" {

RKMEDIA_API int RKPLAYER_GetWidthAndHeightByIFrame(int videoType, const uint8_t* data, int length, uint16_t* width,
                                                   uint16_t* height)
{
    if (!data || length <= 0 || !width || !height) return 0;
    try {
        uint16_t w = 0, h = 0;
        if (!rkmedia::RKPLAY_GetResolutionBySPS(videoType, data, size_t(length), w, h)) return 0;
        *width = w;
        *height = h;
        return 1;
    } catch (...) {
        // Only an allocation for the unit's payload can throw; without memory
        // there is no size to report.
        return 0;
    }
}

}  // extern "C"
