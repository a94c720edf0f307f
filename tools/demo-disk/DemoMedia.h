// The media of the demo corpus: camera clips encoded once and laid down in
// every format that carries them, the voice of the cabin microphone, and the
// vehicle's per-second information along a route through real streets.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/AttachInfoWriter.h"
#include "tests/support/VideoCodec.h"

namespace velmor::demo {

constexpr int kWidth = 352;  // resolution code 0 in the 576/288-line system
constexpr int kHeight = 288;
// Sub streams: the small pictures a recorder keeps beside the main stream.
constexpr int kSubWidth = 176;
constexpr int kSubHeight = 144;
constexpr uint32_t kVoiceFrameMs = 40;
constexpr uint32_t kVoiceSamples = 320;  // 40 ms at 8000 Hz

// Route points in decimal degrees.
struct GeoPoint {
    double lat;
    double lon;
};

// A vehicle driving along a polyline from `start` on, with a speed that
// changes smoothly, stops at one light and goes over the limit for a while.
class CRouteTrack {
public:
    CRouteTrack(std::vector<GeoPoint> route, uint32_t start, uint64_t seed);
    // The record of second `t` (t >= start; past the route's end the vehicle waits there).
    fixtures::AttachInfo At(uint32_t t) const;
    // Seconds in which the record carries alarm bits, as [begin, end] pairs.
    struct AlarmSpan {
        uint32_t begin;
        uint32_t end;
        uint32_t alarmSign;
        std::string name;  // UTF-8
    };
    std::vector<AlarmSpan> Alarms(uint32_t from, uint32_t to) const;

private:
    int SpeedAt(uint32_t second) const;  // km/h during that second
    std::vector<GeoPoint> m_route;
    std::vector<double> m_cumulative;  // metres to each route point
    uint32_t m_start;
    uint64_t m_seed;
    mutable std::vector<double> m_distance;  // metres driven at the start of each second
};

struct Clip {
    int channel = 1;  // counted from 1
    fixtures::VideoCodec codec = fixtures::VideoCodec::kH264;
    int fps = 25;
    uint32_t begin = 0;    // recorder seconds
    uint32_t seconds = 0;  // frames cover [begin, begin + seconds)
    bool audio = false;
    uint32_t seed = 1;
    bool subStream = false;
    int width = kWidth, height = kHeight;

    uint32_t LastSecond() const { return begin + seconds - 1; }
    uint32_t Frames() const { return seconds * uint32_t(fps); }
    uint64_t VideoPtsUs(size_t i) const { return uint64_t(begin) * 1000000 + uint64_t(i) * 1000000 / uint64_t(fps); }
    uint32_t VideoMs(size_t i) const { return uint32_t(uint64_t(i) * 1000 / uint64_t(fps)); }
};

struct ClipMedia {
    Clip clip;
    std::vector<fixtures::AccessUnit> video;           // frame i at VideoPtsUs(i)
    std::vector<std::vector<uint8_t>> voice;           // frame k at k x 40 ms, with the 4-byte voice header
    std::vector<std::array<uint8_t, 75>> info;        // second s of the clip
};

// Encodes the clip's pictures (labelled "CHn" and the recorder clock), its
// voice when it has audio, and its information records from `track`.
ClipMedia MakeClipMedia(const Clip& clip, const CRouteTrack& track);

// G.711 A-law voice frames of a synthetic talker (syllables and pauses).
std::vector<std::vector<uint8_t>> MakeVoiceFrames(uint32_t frames, uint64_t seed);

const char* CodecName(fixtures::VideoCodec codec);

}  // namespace velmor::demo
