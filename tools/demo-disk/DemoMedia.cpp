#include "tools/demo-disk/DemoMedia.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "common/CodePage.h"
#include "media/include/rkvoice.h"
#include "tests/support/Payload.h"

namespace velmor::demo {

using namespace fixtures;

namespace {

constexpr double kEarthRadius = 6371000.0;
constexpr uint32_t kTrackHorizon = 4 * 3600;  // seconds of driving worked out ahead
constexpr int kSpeedLimit = 60;
constexpr uint32_t kAlarmEmergency = 0x1;
constexpr uint32_t kAlarmOverSpeed = 0x2;

double Radians(double d) { return d * std::numbers::pi / 180.0; }

// Good enough over a few kilometres of city street.
double Metres(const GeoPoint& a, const GeoPoint& b)
{
    const double x = Radians(b.lon - a.lon) * std::cos(Radians((a.lat + b.lat) / 2));
    const double y = Radians(b.lat - a.lat);
    return std::sqrt(x * x + y * y) * kEarthRadius;
}

uint16_t Bearing(const GeoPoint& a, const GeoPoint& b)
{
    const double x = Radians(b.lon - a.lon) * std::cos(Radians((a.lat + b.lat) / 2));
    const double y = Radians(b.lat - a.lat);
    double deg = std::atan2(x, y) * 180.0 / std::numbers::pi;
    if (deg < 0) deg += 360.0;
    return uint16_t(std::lround(deg) % 360);
}

}  // namespace

const char* CodecName(VideoCodec codec) { return codec == VideoCodec::kH265 ? "H.265" : "H.264"; }

// ---- Route --------------------------------------------------------------------

CRouteTrack::CRouteTrack(std::vector<GeoPoint> route, uint32_t start, uint64_t seed)
    : m_route(std::move(route)), m_start(start), m_seed(seed)
{
    if (m_route.size() < 2) throw std::invalid_argument("a route needs two points");
    m_cumulative.push_back(0);
    for (size_t i = 1; i < m_route.size(); ++i) m_cumulative.push_back(m_cumulative.back() + Metres(m_route[i - 1], m_route[i]));
    m_distance.reserve(kTrackHorizon + 1);
    double d = 0;
    for (uint32_t k = 0; k <= kTrackHorizon; ++k) {
        m_distance.push_back(d);
        d += SpeedAt(k) / 3.6;
    }
}

int CRouteTrack::SpeedAt(uint32_t k) const
{
    const double phase = double(m_seed % 17);
    double v = 38 + 14 * std::sin(2 * std::numbers::pi * k / 120.0) + 6 * std::sin(2 * std::numbers::pi * k / 37.0 + phase);
    // A red light: slow down, wait, pull away.
    if (k >= 160 && k < 168) v *= (168 - k) / 8.0;
    if (k >= 168 && k < 190) v = 0;
    if (k >= 190 && k < 198) v *= (k - 190) / 8.0;
    // A stretch over the limit.
    if (k >= 125 && k < 140) v += 20;
    return std::max(0, int(std::lround(v)));
}

AttachInfo CRouteTrack::At(uint32_t t) const
{
    const uint32_t k = std::min(t >= m_start ? t - m_start : 0u, kTrackHorizon);
    const double d = std::min(m_distance[k], m_cumulative.back());
    size_t seg = 1;
    while (seg + 1 < m_route.size() && m_cumulative[seg] < d) ++seg;
    const GeoPoint& a = m_route[seg - 1];
    const GeoPoint& b = m_route[seg];
    const double len = m_cumulative[seg] - m_cumulative[seg - 1];
    const double f = len > 0 ? std::clamp((d - m_cumulative[seg - 1]) / len, 0.0, 1.0) : 0.0;

    AttachInfo info;
    info.time = t;
    info.status = 1;  // fixed position
    info.latitude = a.lat + (b.lat - a.lat) * f;
    info.longitude = a.lon + (b.lon - a.lon) * f;
    const bool arrived = m_distance[k] >= m_cumulative.back();
    info.speed = int16_t(arrived ? 0 : SpeedAt(k));
    info.height = int16_t(18 + (k / 40) % 5);
    info.heading = Bearing(a, b);
    if (info.speed > kSpeedLimit) {
        info.alarmSign |= kAlarmOverSpeed;
        info.events.push_back(Utf8ToGbk("\xE8\xB6\x85\xE9\x80\x9F"));  // "overspeed"
    }
    if (k >= 200 && k <= 210) {
        info.alarmSign |= kAlarmEmergency;
        info.events.push_back(Utf8ToGbk("\xE7\xB4\xA7\xE6\x80\xA5\xE6\x8A\xA5\xE8\xAD\xA6"));  // "emergency alarm"
    }
    return info;
}

std::vector<CRouteTrack::AlarmSpan> CRouteTrack::Alarms(uint32_t from, uint32_t to) const
{
    std::vector<AlarmSpan> spans;
    for (uint32_t bit : {kAlarmEmergency, kAlarmOverSpeed}) {
        bool open = false;
        for (uint32_t t = from; t <= to; ++t) {
            const AttachInfo info = At(t);
            const bool on = (info.alarmSign & bit) != 0;
            if (on && !open) {
                const std::string name = bit == kAlarmOverSpeed ? "\xE8\xB6\x85\xE9\x80\x9F"
                                                                 : "\xE7\xB4\xA7\xE6\x80\xA5\xE6\x8A\xA5\xE8\xAD\xA6";
                spans.push_back({t, t, bit, name});
                open = true;
            } else if (on) {
                spans.back().end = t;
            } else {
                open = false;
            }
        }
    }
    std::stable_sort(spans.begin(), spans.end(), [](const AlarmSpan& a, const AlarmSpan& b) { return a.begin < b.begin; });
    return spans;
}

// ---- Voice --------------------------------------------------------------------

std::vector<std::vector<uint8_t>> MakeVoiceFrames(uint32_t frames, uint64_t seed)
{
    std::vector<uint8_t> state(VOICE_STATE_SIZE);
    if (VOICE_EncReset(state.data(), VOICE_MODE_G711A) != VOICE_OK) throw std::runtime_error("voice encoder reset failed");
    CSplitMix64 rng(seed);
    std::vector<std::vector<uint8_t>> out;
    out.reserve(frames);
    std::vector<int16_t> pcm(kVoiceSamples);
    double phase = 0;
    uint64_t n = 0;
    const double rate = 8000.0;
    for (uint32_t f = 0; f < frames; ++f) {
        for (uint32_t i = 0; i < kVoiceSamples; ++i, ++n) {
            const double t = double(n) / rate;
            // Syllables of a quarter second, a breath every two seconds.
            const double inPhrase = std::fmod(t, 2.0);
            const double syllable = std::fmod(t, 0.25) / 0.25;
            double envelope = inPhrase < 1.5 ? std::pow(std::sin(std::numbers::pi * syllable), 2) : 0.0;
            const double f0 = 120 + 30 * std::sin(2 * std::numbers::pi * t / 1.7) + 15 * std::sin(2 * std::numbers::pi * t * 4);
            phase += 2 * std::numbers::pi * f0 / rate;
            if (phase > 2 * std::numbers::pi) phase -= 2 * std::numbers::pi;
            double v = 0;
            for (int h = 1; h <= 12; ++h) {
                const double freq = f0 * h;
                // Two formants, as in an open vowel.
                const double w = std::exp(-std::pow((freq - 700) / 250, 2)) + 0.6 * std::exp(-std::pow((freq - 1200) / 300, 2)) + 0.15;
                v += w * std::sin(phase * h) / h;
            }
            const double noise = (double(rng.Next() % 2001) - 1000.0) * 0.3;
            const double s = std::clamp(6000.0 * envelope * v + noise, -32768.0, 32767.0);
            pcm[i] = int16_t(std::lround(s));
        }
        std::vector<uint8_t> frame(VOICE_MAX_FRAME_BYTES);
        if (VOICE_EncodeFrame(state.data(), pcm.data(), frame.data(), uint16_t(kVoiceSamples)) != VOICE_OK)
            throw std::runtime_error("voice encoding failed");
        const size_t bytes = VOICE_FRAME_HEADER_SIZE + 2 * size_t(frame[2]);
        frame.resize(bytes);
        out.push_back(std::move(frame));
    }
    return out;
}

// ---- Clips --------------------------------------------------------------------

ClipMedia MakeClipMedia(const Clip& clip, const CRouteTrack& track)
{
    ClipMedia m;
    m.clip = clip;
    // Encoded in pieces of half a minute so that the source pictures of one
    // piece at a time are held, each piece starting with a key picture.
    constexpr uint32_t kPieceSeconds = 30;
    m.video.reserve(clip.Frames());
    for (uint32_t s = 0; s < clip.seconds; s += kPieceSeconds) {
        VideoSpec videoRecipe;
        videoRecipe.codec = clip.codec;
        videoRecipe.width = clip.width;
        videoRecipe.height = clip.height;
        videoRecipe.frames = int(std::min(kPieceSeconds, clip.seconds - s)) * clip.fps;
        videoRecipe.gop = clip.fps;  // one key picture a second, as recorders do
        videoRecipe.fps = clip.fps;
        videoRecipe.seed = clip.seed + s;
        videoRecipe.lossless = false;
        videoRecipe.crf = 30;
        videoRecipe.label = "CH" + std::to_string(clip.channel);
        videoRecipe.clockStart = clip.begin + s;
        EncodedVideo piece = EncodeVideo(videoRecipe);
        for (auto& unit : piece.units) m.video.push_back(std::move(unit));
    }
    if (m.video.size() != clip.Frames()) throw std::runtime_error("the encoder gave a different number of pictures");
    if (clip.audio) m.voice = MakeVoiceFrames(clip.seconds * 1000 / kVoiceFrameMs, clip.seed * 7919);
    for (uint32_t s = 0; s < clip.seconds; ++s) m.info.push_back(MakeAttachInfo(track.At(clip.begin + s)));
    return m;
}

}  // namespace velmor::demo
