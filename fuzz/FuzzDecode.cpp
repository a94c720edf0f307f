// Corrupt access units through the decode entry of a windowless player,
// cut from the input as FuzzDecodeInput.h says.
// Whatever arrives, the player answers and never crashes; snapshots of
// whatever it kept stay possible.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/FuzzDecodeInput.h"
#include "media/include/rkmedia.h"

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // No display and no sound device are needed or wanted.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    // Damaged units make the decoder complain on every run; the fuzzer's own
    // lines are what matter.
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const int videoType = data[0] & 1;
    RKPLAYER_HANDLE slot = nullptr;
    if (RKPLAYER_InitVideoDecoder(&slot, 352, 288, videoType, 25, 0) != 0 || RKPLAYER_OpenOffscreen(&slot) != 0) {
        if (slot) RKPLAYER_Uninitgpu(&slot);
        return 0;
    }
    velmor::fuzz::ForEachDecodeUnit(data, size, [&](const uint8_t* unit, size_t length, bool key) {
        int bytes = 0, w = 0, h = 0;
        RKPLAYER_DecodeFrame(&slot, unit, int(length), key ? 1 : 0, nullptr, &bytes, &w, &h);
        if (w < 0 || h < 0 || w > 16384 || h > 16384) __builtin_trap();
    });
    int bytes = 0, w = 0, h = 0;
    RKPLAYER_DecodeFrame(&slot, nullptr, 0, 0, nullptr, &bytes, &w, &h);
    RKPLAYER_ShowLastFrame(&slot);
    RKPLAYER_Uninitgpu(&slot);
    return 0;
}
