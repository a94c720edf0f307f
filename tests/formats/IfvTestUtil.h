// Helpers of the IFV tests: raw file bytes, little-endian patching, a plan of
// records written through the writer and read back through the reader.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "player/formats/IfvFile.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Payload.h"

namespace velmor::fixtures {

constexpr uint32_t kBegin = 1765188000;  // 2025-12-08 10:00:00

// Layout numbers as the format describes them, written out here on purpose
// rather than taken from the library.
constexpr uint64_t kSegHeader = 48;
constexpr uint64_t kVideoArea = 28ull * 3000;
constexpr uint64_t kAudioArea = 24ull * 4000;
constexpr uint64_t kAttachArea = 128ull * 150;

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline uint32_t Get32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
           uint32_t(b.at(at + 3)) << 24;
}
inline uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b.at(at) | b.at(at + 1) << 8); }
inline uint64_t Get64(const std::vector<uint8_t>& b, size_t at) { return Get32(b, at) | uint64_t(Get32(b, at + 4)) << 32; }

inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.at(at + i) = uint8_t(v >> (8 * i));
}
inline void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v)
{
    b.at(at) = uint8_t(v);
    b.at(at + 1) = uint8_t(v >> 8);
}
inline void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v)
{
    Put32(b, at, uint32_t(v));
    Put32(b, at + 4, uint32_t(v >> 32));
}
inline void PutText(std::vector<uint8_t>& b, size_t at, const std::string& s)
{
    for (size_t i = 0; i < s.size(); ++i) b.at(at + i) = uint8_t(s[i]);
}

// Patches bytes of a file in place.
inline void Patch32(const std::filesystem::path& path, size_t at, uint32_t v)
{
    auto b = ReadBytes(path);
    Put32(b, at, v);
    WriteBytes(path, b);
}

using Handle = IfvFilePtr;

inline Handle OpenRead(const std::filesystem::path& path, int64_t base = 0)
{
    return Handle(RK_OpenFile2(path.c_str(), base, RK_FILE_MODE_READ));
}
inline Handle OpenWrite(const std::filesystem::path& path)
{
    return Handle(RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_WRITE));
}

// One record as written or as read back.
struct Rec {
    uint8_t kind = 0;  // 0 video, 1 audio, 2 attach
    uint32_t ts = 0;
    uint8_t type = 0;
    uint32_t crc = 0;
    uint32_t length = 0;
    uint64_t pts = 0;
    bool operator==(const Rec&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Rec& r)
{
    return os << "{kind " << int(r.kind) << " ts " << r.ts << " type " << int(r.type) << " len " << r.length
              << " crc " << r.crc << " pts " << r.pts << "}";
}

struct ReadBack {
    std::vector<Rec> records;
    std::vector<uint32_t> durations;
    int last = 0;  // the result that ended the read
};

inline ReadBack ReadAll(FILEHANDLE* h, size_t limit = 100000)
{
    ReadBack r;
    std::vector<uint8_t> buf(RK_FILE_FRAME_BUFFER_SIZE);
    for (size_t i = 0; i < limit; ++i) {
        uint32_t ts = 0, duration = 0;
        uint64_t pts = 0;
        uint8_t key = 0, kind = 0;
        const int n = RK_FileReadOneMediaFrame2(h, buf.data(), &ts, &pts, &duration, &key, &kind);
        if (n <= 0) {
            r.last = n;
            return r;
        }
        r.records.push_back(Rec{kind, ts, key, Crc32(buf.data(), size_t(n)), uint32_t(n), pts});
        r.durations.push_back(duration);
    }
    r.last = 1;  // did not end
    return r;
}

inline ReadBack ReadAllVideo(FILEHANDLE* h, size_t limit = 100000)
{
    ReadBack r;
    std::vector<uint8_t> buf(RK_FILE_FRAME_BUFFER_SIZE);
    for (size_t i = 0; i < limit; ++i) {
        uint32_t ts = 0, duration = 0;
        uint64_t pts = 0;
        uint8_t key = 0;
        const int n = RK_FileReadOneVideoFrame(h, buf.data(), &ts, &pts, &duration, &key);
        if (n <= 0) {
            r.last = n;
            return r;
        }
        r.records.push_back(Rec{0, ts, key, Crc32(buf.data(), size_t(n)), uint32_t(n), pts});
        r.durations.push_back(duration);
    }
    r.last = 1;
    return r;
}

// A recording to write: video at a fixed interval with a key frame every
// `gop` frames, optional audio and attach records, all in time order with
// video before audio before attach at equal times.
struct Plan {
    uint32_t videoFrames = 100;
    uint32_t videoStepMs = 40;
    uint32_t gop = 75;
    uint32_t audioStepMs = 0;   // 0: no audio
    uint32_t attachStepMs = 0;  // 0: no attach records
    uint64_t seed = 1;
    uint32_t begin = kBegin;
};

struct Written {
    std::vector<Rec> records;  // in write order = the reader's time order
    uint32_t segmentsClosed = 0;
};

inline uint32_t VideoType(uint32_t i, uint32_t gop) { return i % gop == 0 ? (i / gop % 2 ? 3u : 5u) : 1u; }

// Writes through an open handle; payloads are small and differ per record.
inline Written WritePlan(FILEHANDLE* w, const Plan& p)
{
    Written out;
    if (p.videoFrames) {
        EXPECT_EQ(RK_FileSetVideoParam(w, 640, 360, 25.0f, 0), 0);
    }
    if (p.audioStepMs) {
        EXPECT_EQ(RK_FileSetAudioParam(w, 1, 16, 8000, 11, 320, 40), 0);
    }
    if (p.attachStepMs) {
        EXPECT_EQ(RK_FileEnableAttach(w), 0);
    }
    EXPECT_EQ(RK_FileSetStartTime(w, p.begin), 0);
    const uint32_t endMs = p.videoFrames * p.videoStepMs;
    uint32_t v = 0, a = 0, x = 0;
    CSplitMix64 rng(p.seed);
    for (;;) {
        const uint32_t vt = v < p.videoFrames ? v * p.videoStepMs : UINT32_MAX;
        const uint32_t at = p.audioStepMs && a * p.audioStepMs < endMs ? a * p.audioStepMs : UINT32_MAX;
        const uint32_t xt = p.attachStepMs && x * p.attachStepMs < endMs ? x * p.attachStepMs : UINT32_MAX;
        if (vt == UINT32_MAX && at == UINT32_MAX && xt == UINT32_MAX) break;
        int closed = 0;
        int rc = 0;
        Rec r;
        if (vt <= at && vt <= xt) {
            auto data = MakePayload(rng.Next(), rng.Range(1, 48));
            r = Rec{0, vt, uint8_t(VideoType(v, p.gop)), Crc32(data.data(), data.size()), uint32_t(data.size()),
                    1000000ull * p.begin + 1000ull * vt};
            rc = RK_FileWriteVideoFrame(w, data.data(), uint32_t(data.size()), vt, r.type, r.pts, &closed);
            ++v;
        } else if (at <= xt) {
            auto data = MakePayload(rng.Next(), rng.Range(1, 20));
            r = Rec{1, at, 0, Crc32(data.data(), data.size()), uint32_t(data.size()), 0};
            rc = RK_FileWriteAudioFrame(w, data.data(), uint32_t(data.size()), at, &closed);
            ++a;
        } else {
            auto data = MakePayload(rng.Next(), rng.Range(1, 120));
            r = Rec{2, xt, 0, Crc32(data.data(), data.size()), uint32_t(data.size()), 0};
            rc = RK_FileWriteAttachFrame(w, data.data(), uint32_t(data.size()), xt, &closed);
            ++x;
        }
        EXPECT_EQ(rc, int(r.length)) << r;
        out.records.push_back(r);
        out.segmentsClosed += uint32_t(closed);
    }
    return out;
}

inline Written WriteFile(const std::filesystem::path& path, const Plan& p)
{
    Handle w = OpenWrite(path);
    EXPECT_TRUE(w);
    if (!w) return {};
    Written out = WritePlan(w.get(), p);
    EXPECT_EQ(RK_CloseFile2(w.release()), 0);
    return out;
}

inline std::vector<Rec> OfKind(const std::vector<Rec>& all, uint8_t kind)
{
    std::vector<Rec> out;
    for (const Rec& r : all)
        if (r.kind == kind) out.push_back(r);
    return out;
}

// Offset of segment n (from 0) by walking the headers of a file's bytes.
inline size_t SegmentStart(const std::vector<uint8_t>& b, int n)
{
    size_t at = 200;
    for (int i = 0; i < n; ++i) at += Get32(b, at + 16);
    return at;
}

// Runs `body` and returns the failure and information lines the library
// handed its log callback meanwhile (its debug-output lines left out).
template <typename F>
std::string Logged(F&& body)
{
    std::vector<std::pair<int, std::string>> lines;
    CLogCapture capture(&RK_FileSetLogCallback);
    capture.Start();
    body();
    capture.Take(&lines);
    std::string text;
    for (const auto& [level, line] : lines)
        if (level != RK_LOG_DEBUG) text += line;
    return text;
}

}  // namespace velmor::fixtures
