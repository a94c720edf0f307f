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

/* Picture size from the sequence parameter set at the start of a key frame.
 * videoType 0 = H.264, non-zero = H.265. Needs no player.
 * Returns 1 when a size was found (stored in *width and *height), 0 otherwise. */
RKMEDIA_API int RKPLAYER_GetWidthAndHeightByIFrame(int videoType, const uint8_t* data, int length, uint16_t* width,
                                                   uint16_t* height);

#ifdef __cplusplus
}
#endif

#endif /* RKMEDIA_H */
