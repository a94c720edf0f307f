/*
 * rkmedia: the media engine. Decodes recorded video and sound, draws into
 * the player's windows, writes snapshots and MP4 files.
 *
 * Every function returns as documented for it; no C++ exception crosses
 * this interface.
 */
#ifndef RKMEDIA_H
#define RKMEDIA_H

#include <stdint.h>

#if defined(_WIN32)
#define RKMEDIA_API __declspec(dllexport)
#else
#define RKMEDIA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The caller owns a handle slot (a void* it zeroes) and passes its address. */
typedef void* RKPLAYER_HANDLE;

/* Audio parameters of a stream, passed by value. */
typedef struct RKPLAYER_AUDIO_PARAM {
    int32_t reserved;   /* kept, not used */
    int32_t sampleRate; /* samples per second */
    int32_t bits;       /* bits per sample */
    int32_t compress;   /* audio compression type 1..12; any other value is treated as 3 */
} RKPLAYER_AUDIO_PARAM;

/* An equalizer preset, passed by value (64 bytes). */
typedef struct RKPLAYER_EQ_PRESET {
    char name[16];   /* zero-padded ASCII */
    int32_t bands;   /* 10 */
    float preamp;    /* dB */
    float amp[10];   /* dB per band */
} RKPLAYER_EQ_PRESET;

/* Picture size from the sequence parameter set at the start of a key frame.
 * videoType 0 = H.264, non-zero = H.265. Needs no player.
 * Returns 1 when a size was found (stored in *width and *height), 0 otherwise. */
RKMEDIA_API int RKPLAYER_GetWidthAndHeightByIFrame(int videoType, const uint8_t* data, int length, uint16_t* width,
                                                   uint16_t* height);

#ifdef __cplusplus
}
#endif

/* The recorder voice codec, exported by this library too. */
#include "rkvoice.h"

#endif /* RKMEDIA_H */
