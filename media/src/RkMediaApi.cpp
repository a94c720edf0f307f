// Exported functions of the media engine.
#include "media/include/rkmedia.h"

extern "C" {

RKMEDIA_API int RKPLAYER_GetWidthAndHeightByIFrame(int /*videoType*/, const uint8_t* /*data*/, int /*length*/,
                                                   uint16_t* /*width*/, uint16_t* /*height*/)
{
    return 0;  // the parameter-set parser comes next
}

}  // extern "C"
