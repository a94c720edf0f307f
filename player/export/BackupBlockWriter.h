// Lays frames down as a backup record file, filling blocks the way the
// recorder fills them, so that every head area describes exactly the bytes
// behind it: the file starts with a whole frame at offset 4096 of its first
// block, a frame that does not fit is split (head included) into the next
// block, each block's times follow its video frames and its I frames are
// indexed in its neck.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "store/format/RkFormat.h"

namespace velmor {

class CBackupBlockWriter {
public:
    // Receives the file's bytes in order; false stops the writer.
    using Sink = std::function<bool(const uint8_t* data, size_t n)>;

    // `blockSize` is one a backup record file may hold: 4 or 8 MiB.
    CBackupBlockWriter(uint32_t blockSize, Sink sink);

    // Appends one frame. `origin` is the head area of the source block the
    // frame's head lay in: what a head area says that is not about the bytes
    // (use id, state bits, data type, channel, stream, reason, the neck's
    // encode record, audio property and car number) is taken from it, and a
    // frame whose origin says otherwise than the current block's starts a
    // block of its own. False when the frame cannot be stored (the first
    // frame must be an I frame) or the sink failed.
    bool Add(const rkfs::StFrameHead_t& head, const uint8_t* payload, const rkfs::StRecHeadArea_t& origin);
    // Stores the last block. False when the sink failed or nothing was added.
    bool Finish();

    uint64_t Frames() const { return m_frames; }
    uint32_t Blocks() const { return m_stored; }

private:
    void Start(const rkfs::StRecHeadArea_t& origin, uint32_t lend);
    bool Store(bool last);
    bool Put(const uint8_t* data, size_t n);
    // A recorder writes a new block where these change; a block of the cut
    // must not claim them for frames they were not recorded with.
    static bool SameRecording(const rkfs::StRecHeadArea_t& a, const rkfs::StRecHeadArea_t& b);
    void NoteFrame(const rkfs::StFrameHead_t& head);
    uint32_t Capacity() const { return m_blkSize - rkfs::kHeadAreaSize; }

    uint32_t m_blkSize;
    Sink m_sink;
    bool m_ok = true;
    bool m_open = false;
    rkfs::StRecHeadArea_t m_area;
    rkfs::StRecHeadArea_t m_origin;
    std::vector<uint8_t> m_data;  // the current block from logical offset 4096 on
    uint64_t m_frames = 0;
    uint32_t m_stored = 0;
};

}  // namespace velmor
