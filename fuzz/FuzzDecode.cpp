// Corrupt access units through the decode entry of a windowless player:
// the first byte picks the codec, the rest is cut into access units at
// 0xFF 0xFE 0xFD markers, each marked key or not by the byte after it.
// Whatever arrives, the player answers and never crashes; snapshots of
// whatever it kept stay possible.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "media/include/rkmedia.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // No display and no sound device are needed or wanted.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
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
    size_t begin = 1;
    auto feed = [&](size_t end, bool key) {
        int bytes = 0, w = 0, h = 0;
        RKPLAYER_DecodeFrame(&slot, data + begin, int(end - begin), key ? 1 : 0, nullptr, &bytes, &w, &h);
        if (w < 0 || h < 0 || w > 16384 || h > 16384) __builtin_trap();
    };
    bool key = true;
    for (size_t i = 1; i + 3 < size; ++i) {
        if (data[i] == 0xFF && data[i + 1] == 0xFE && data[i + 2] == 0xFD) {
            if (i > begin) feed(i, key);
            key = data[i + 3] & 1;
            begin = i + 4;
            i += 3;
        }
    }
    if (begin < size) feed(size, key);
    int bytes = 0, w = 0, h = 0;
    RKPLAYER_DecodeFrame(&slot, nullptr, 0, 0, nullptr, &bytes, &w, &h);
    RKPLAYER_ShowLastFrame(&slot);
    RKPLAYER_Uninitgpu(&slot);
    return 0;
}
