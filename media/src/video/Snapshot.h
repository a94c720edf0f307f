// Snapshots of the picture buffer: BMP by the fixed conversion below, JPEG
// and PNG through FFmpeg.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/src/video/SdlPresenter.h"

namespace rkmedia {

// 24-bit bottom-up BMP of a w x h picture: per pixel L = 1.164 (Y - 16),
// R = L + 1.159 (V - 128), G = L - 0.38 (U - 128) - 0.813 (V - 128),
// B = L + 2.018 (U - 128), each clamped to 0..255 and truncated.
std::vector<uint8_t> MakeBmp(const uint8_t* picture, PictureLayout layout, int w, int h);

// Writes `path`; the format follows the extension's family (0 JPEG, 1 PNG).
// 0, or a negative FFmpeg error.
// JPEG, or PNG with `png`. 0, or a negative FFmpeg error.
int WriteImageWithFfmpeg(const std::string& path, const uint8_t* picture, PictureLayout layout, int w, int h,
                         bool png);

// Creates every missing folder on the way to `path`.
void CreateFoldersFor(const std::string& path);

}  // namespace rkmedia
