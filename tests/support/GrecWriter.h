// grec recording files written from values: a Matroska file with an
// H.264/H.265 track, an optional G.711/G.726 sound track, the
// attached-information records as a text track of hexadecimal digits, and
// the file tags that say when it was recorded and by which vehicle.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/VideoCodec.h"

namespace velmor::fixtures {

struct GrecLayout {
    VideoCodec codec = VideoCodec::kH264;
    int width = 64;
    int height = 48;
    int fps = 25;            // 0: no default frame duration in the file
    uint64_t originUs = 0;   // recorder clock of timestamp 0; ORIGIN_US
    bool writeOrigin = true;  // false: a file without ORIGIN_US
    std::string terminal;    // TERMINAL, VEHICLE (empty: no tag)
    std::string vehicle;
    // Sound: 0 none; 7 G.711 u-law, 8 A-law, 2 or 3 G.726 with `rateCode`
    // (2 = 16, 4 = 24, 1 = 40, other = 32 kbit/s).
    int audioEncoding = 0;
    int rateCode = 0;
    bool writeAudioTags = true;  // AUDIO_ENCODING and AUDIO_RATE_CODE
    std::string audioEncodingTag;  // when set, written instead of the number
    bool withInfoTrack = false;
    std::string infoTrackName = "attached-info";
    bool writeDuration = true;  // false: stream the file (no duration, no cues)
};

struct GrecWriteFrame {
    enum Kind { kVideo, kAudio, kInfo } kind = kVideo;
    uint32_t ms = 0;  // from timestamp 0
    bool key = false;
    std::vector<uint8_t> data;  // video: Annex B; info: the 75-byte record
    std::string rawText;        // info only: written as the block instead of the record's digits
};

// A recorder's clip: `seconds` of video at layout.fps with a key picture every
// `gop` frames, 20 ms sound frames (160 bytes) when layout.audioEncoding is
// set, and with layout.withInfoTrack one attached-information record per
// second (time = the second, a position moving north-east, speed 40 + s),
// in the order a recorder writes them (by time; video, sound, record).
std::vector<GrecWriteFrame> MakeGrecClipFrames(const GrecLayout& layout, int seconds, int gop, uint32_t seed = 1);

// Throws std::runtime_error when libavformat refuses.
void WriteGrecFile(const std::filesystem::path& path, const GrecLayout& layout, const std::vector<GrecWriteFrame>& frames);

// The NAL units of an Annex B access unit, without their start codes.
std::vector<std::vector<uint8_t>> SplitAnnexB(const std::vector<uint8_t>& unit);
std::vector<std::vector<uint8_t>> SplitAnnexB(const uint8_t* data, size_t size);

}  // namespace velmor::fixtures
