// Reading a channel of a container file through the exported interface, as
// the play window does, for comparison with what the fixture wrote.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "container/include/rkcontainer.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/Payload.h"

namespace velmor::fixtures {

struct ReadResult {
    std::vector<ExpectedFrame> frames;
    std::vector<std::vector<uint8_t>> payloads;  // only when asked for
    int badHeads = 0;
    int emptyReads = 0;  // 0 results without a frame
    int lastResult = 0;
    uint32_t begin = 0, end = 0;
    RKCONTAINER_ENCODE encode{};
};

class CContainerReader {
public:
    explicit CContainerReader(const std::filesystem::path& path)
    {
        m_open = RKCONTAINER_OpenFile(&m_handle, path.c_str());
    }
    ~CContainerReader()
    {
        if (m_handle) RKCONTAINER_CloseFile(&m_handle);
    }
    int OpenResult() const { return m_open; }
    RKCONTAINER_HANDLE* Slot() { return &m_handle; }

private:
    RKCONTAINER_HANDLE m_handle = nullptr;
    int m_open = -1;
};

inline ReadResult ReadChannel(const std::filesystem::path& path, int channel, std::optional<uint32_t> seek = {},
                              bool keepPayloads = false, size_t limit = 10000000,
                              int stream = RKCONTAINER_STREAM_DEFAULT)
{
    ReadResult r;
    CContainerReader file(path);
    EXPECT_EQ(file.OpenResult(), 0);
    if (stream != RKCONTAINER_STREAM_DEFAULT) {
        EXPECT_EQ(RKCONTAINER_SetStream(file.Slot(), stream), 0);
    }
    r.lastResult = RKCONTAINER_GetOneChnFileInfo(file.Slot(), channel, &r.begin, &r.end, &r.encode);
    if (r.lastResult != 0) return r;
    if (seek) {
        RKCONTAINER_ENCODE enc{};
        r.lastResult = RKCONTAINER_SeekIFrame(file.Slot(), *seek, &enc);
        if (r.lastResult != 0) return r;
    }
    std::vector<uint8_t> buffer(RKCONTAINER_MAX_FRAME_SIZE);
    for (size_t calls = 0; calls < limit; ++calls) {
        RKCONTAINER_FRAME_HEAD head{};
        RKCONTAINER_ENCODE enc{};
        r.lastResult = RKCONTAINER_ReadOneFrame(file.Slot(), buffer.data(), &head, &enc);
        if (r.lastResult == -4 || r.lastResult == -1) break;
        if (r.lastResult == -2) {
            ++r.badHeads;
            continue;
        }
        if (head.sign != 'F') {
            ++r.emptyReads;
            continue;
        }
        r.frames.push_back({head.type, head.pts, head.length, Crc32(buffer.data(), head.length)});
        if (keepPayloads) r.payloads.emplace_back(buffer.begin(), buffer.begin() + head.length);
    }
    return r;
}

// The frames of `all` from the first whose pts equals `pts` on.
inline std::vector<ExpectedFrame> FramesFrom(const std::vector<ExpectedFrame>& all, uint64_t pts)
{
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].pts == pts && all[i].type == rkfs::kFrameI) return {all.begin() + long(i), all.end()};
    return {};
}

inline constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00

inline RecordingParams Channel(uint8_t channel, bool sub = false)
{
    RecordingParams p;
    p.channel = channel;
    p.subStream = sub;
    p.encode = {4, 0, 1, 0, 25};
    p.carNumber = "ABC-123";
    return p;
}

}  // namespace velmor::fixtures
