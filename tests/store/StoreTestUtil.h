// Reading record files through rkstore's exported functions, for comparison
// with what the fixture writers wrote.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/include/rkstore.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Payload.h"

namespace velmor::fixtures {

// What the file-system library logged while a test ran a call.
inline CLogCapture<decltype(&RKSFS_SetLogCallback)>& StoreLog()
{
    static CLogCapture<decltype(&RKSFS_SetLogCallback)> capture(&RKSFS_SetLogCallback);
    return capture;
}

inline constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00
inline constexpr uint64_t kUs = 1000000;

struct StoreRead {
    std::vector<ExpectedFrame> frames;
    std::vector<uint64_t> offsets;  // curOffset after each frame
    int last = 0;                   // the result that ended the reading
};

// Reads frames until 0 or -1 with `read(op, buffer, size, head)`.
template <typename Op, typename ReadFn>
StoreRead ReadAllFrames(Op& op, ReadFn read, size_t limit = 1000000)
{
    StoreRead r;
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    for (size_t i = 0; i < limit; ++i) {
        RKSFS_FRAME_HEAD head{};
        r.last = read(&op, buffer.data(), buffer.size(), &head);
        if (r.last <= 0) break;
        EXPECT_EQ(uint32_t(r.last), head.length);
        r.frames.push_back({head.type, head.pts, head.length, Crc32(buffer.data(), head.length)});
        r.offsets.push_back(op.curOffset);
    }
    return r;
}

inline RecordingParams Recording(uint8_t channel = 0)
{
    RecordingParams p;
    p.channel = channel;
    p.encode = {4, 0, 1, 2, 25};
    p.carNumber = "ABC-123";
    p.reason = 0x10203;
    p.audioProperty = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    return p;
}

// One video frame per 40 ms with an I frame every `gop`, payload sizes varying
// around `bytes`; audio every 40 ms when asked. Returns the next pts.
inline uint64_t WriteFrames(CRecordWriter& w, uint64_t pts, int frames, int gop, uint32_t bytes, bool audio,
                            uint64_t seed)
{
    CSplitMix64 rng(seed);
    std::vector<uint8_t> payload(rkfs::kMaxFrameSizeMain);
    for (int i = 0; i < frames; ++i, pts += 40000) {
        const bool key = i % gop == 0;
        const uint32_t len = rng.Range(bytes / 2, bytes + bytes / 2) * (key ? 3 : 1);
        FillPayload(rng.Next(), payload.data(), len);
        EXPECT_EQ(w.WriteFrame(key ? 1 : 2, pts, payload.data(), len), WriteResult::kWritten);
        if (audio) {
            FillPayload(rng.Next(), payload.data(), 164);
            EXPECT_EQ(w.WriteFrame(4, pts + 1000, payload.data(), 164), WriteResult::kWritten);
        }
    }
    return pts;
}

// One record file of channel 3 over two blocks: an I frame at kT0, filler
// frames at +1 s, then at +2 s an I frame whose 16-byte head starts `k`
// bytes before the first block's end (its rest and its payload open the
// second block), then 30 P frames. `fromSplit`: the frames from that I frame on.
struct SplitHeadRecording {
    std::vector<uint32_t> blocks;
    std::vector<ExpectedFrame> fromSplit;
};

inline SplitHeadRecording WriteSplitHeadRecording(IBlockSink& sink, uint32_t k)
{
    CRecordWriter w(sink, Recording(3));
    uint64_t pts = uint64_t(kT0) * kUs;
    auto key = MakePayload(1, 5000);
    EXPECT_EQ(w.WriteFrame(rkfs::kFrameI, pts, key.data(), 5000), WriteResult::kWritten);
    w.FillBlockLeaving(k, rkfs::kFrameP, pts + kUs, 40);
    const size_t split = w.Written().size();
    auto payload = MakePayload(2, 3000);
    pts += 2 * kUs;
    EXPECT_EQ(w.WriteFrame(rkfs::kFrameI, pts, payload.data(), 3000), WriteResult::kWritten);
    for (int i = 1; i <= 30; ++i) {
        auto p = MakePayload(10 + uint64_t(i), 600 + uint32_t(i));
        EXPECT_EQ(w.WriteFrame(rkfs::kFrameP, pts + uint64_t(i) * 40000, p.data(), uint32_t(p.size())),
                  WriteResult::kWritten);
    }
    w.Close();
    return {w.Blocks(), std::vector<ExpectedFrame>(w.Written().begin() + long(split), w.Written().end())};
}

}  // namespace velmor::fixtures
