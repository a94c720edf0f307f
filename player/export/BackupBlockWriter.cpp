#include "player/export/BackupBlockWriter.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace velmor {

using namespace rkfs;

namespace {

constexpr uint64_t kUsPerSecond = 1000000;
constexpr uint32_t kFrameHeadSize = sizeof(StFrameHead_t);
// A block's duration is a 16-bit count of seconds.
constexpr uint64_t kMaxDuration = 0xFFFF;
// The flag that tells a block holds an indexed I frame is about the block's
// bytes; the others describe the recording.
constexpr uint8_t kIFrameHeadFlag = 0x80;
// The state bits and the data type of the head's second word; the chain
// link above them is not compared.
constexpr uint32_t kStateBits = 0xFF;

}  // namespace

CBackupBlockWriter::CBackupBlockWriter(uint32_t blockSize, Sink sink)
    : m_blkSize(blockSize), m_sink(std::move(sink)), m_area(ZeroStruct<StRecHeadArea_t>()),
      m_origin(ZeroStruct<StRecHeadArea_t>())
{
    m_data.reserve(Capacity());
}

bool CBackupBlockWriter::SameRecording(const StRecHeadArea_t& a, const StRecHeadArea_t& b)
{
    const StRecData_t& x = a.head.recData;
    const StRecData_t& y = b.head.recData;
    return (a.head.word1.get() & kStateBits) == (b.head.word1.get() & kStateBits) && x.channel == y.channel &&
           (x.flags & ~kIFrameHeadFlag) == (y.flags & ~kIFrameHeadFlag) && x.reason() == y.reason() &&
           std::memcmp(&a.neck.encode, &b.neck.encode, sizeof a.neck.encode) == 0 &&
           std::memcmp(a.neck.audioProperty, b.neck.audioProperty, sizeof a.neck.audioProperty) == 0 &&
           std::memcmp(a.neck.carNumber, b.neck.carNumber, sizeof a.neck.carNumber) == 0;
}

bool CBackupBlockWriter::Put(const uint8_t* data, size_t n)
{
    if (m_ok && n > 0 && !m_sink(data, n)) m_ok = false;
    return m_ok;
}

void CBackupBlockWriter::Start(const StRecHeadArea_t& origin, uint32_t lend)
{
    const bool first = m_stored == 0 && !m_open;
    m_origin = origin;
    m_area = ZeroStruct<StRecHeadArea_t>();
    StDataBlockHead_t& head = m_area.head;
    head.useId = origin.head.useId;
    head.word1 = origin.head.word1;
    StRecData_t& rd = head.recData;
    const StRecData_t& from = origin.head.recData;
    rd.channel = from.channel;
    rd.flags = uint8_t(from.flags & ~kIFrameHeadFlag);
    // The file's first block follows nothing.
    rd.prevBlkId.set(first ? 0 : from.prevBlkId.get());
    rd.setReason(from.reason());
    rd.lend.set(lend);
    // The neck keeps the recording's description; its index is rebuilt from
    // the frames this block receives.
    m_area.neck = origin.neck;
    m_area.neck.checkValue.set(0);
    m_area.neck.ifrIdxCnt.set(0);
    std::memset(static_cast<void*>(m_area.neck.ifrIdx), 0, sizeof m_area.neck.ifrIdx);
    m_data.clear();
    m_open = true;
}

bool CBackupBlockWriter::Store(bool last)
{
    StDataBlockHead_t& head = m_area.head;
    StRecData_t& rd = head.recData;
    rd.useSize.set(uint32_t(kHeadAreaSize + m_data.size()));
    // The file's last block leads nowhere.
    if (last) head.setNextBlkId(0);
    m_area.neck.checkValue.set(NeckCheckValue(m_area.neck));
    SealHead(head);
    uint8_t area[kHeadAreaSize];
    StoreStruct(area, m_area);
    Put(area, sizeof area);
    Put(m_data.data(), m_data.size());
    m_open = false;
    if (m_ok) ++m_stored;
    return m_ok;
}

void CBackupBlockWriter::NoteFrame(const StFrameHead_t& head)
{
    const uint32_t t = uint32_t(head.pts.get() / kUsPerSecond);
    StRecData_t& rd = m_area.head.recData;
    if (IsVideoType(head.type)) {
        if (rd.duration.get() == 0) {
            rd.beginTime.set(t);
            rd.duration.set(1);
        } else if (t > BlockEndTime(rd)) {
            rd.duration.set(uint16_t(uint64_t(t) - rd.beginTime.get() + 1));
        }
    }
    if (head.type == kFrameI) {
        StRecDataNeck_t& neck = m_area.neck;
        const uint16_t cnt = neck.ifrIdxCnt.get();
        // Once the index is full its last slot follows the latest I frame;
        // the reader finds the ones in between by walking the frames.
        const uint16_t slot = cnt < kIfrIdxCntMax ? cnt : kIfrIdxCntMax - 1;
        neck.ifrIdx[slot].offset.set(uint32_t(kHeadAreaSize + m_data.size()));
        neck.ifrIdx[slot].length.set(head.length.get());
        neck.ifrIdx[slot].time.set(t);
        if (cnt < 0xFFFF) neck.ifrIdxCnt.set(uint16_t(cnt + 1));
        rd.setHasIFrameHead(true);
    }
}

bool CBackupBlockWriter::Add(const StFrameHead_t& head, const uint8_t* payload, const StRecHeadArea_t& origin)
{
    if (!m_ok) return false;
    const uint32_t length = head.length.get();
    // A frame may reach into the next block but never past it.
    if (uint64_t(kFrameHeadSize) + length > Capacity() || (length > 0 && !payload)) return false;
    // Readers start a backup record file at its first frame, which must be
    // one a picture can be decoded from.
    if (m_frames == 0 && head.type != kFrameI) return false;

    bool fresh = !m_open || m_data.size() >= Capacity() || !SameRecording(m_origin, origin);
    if (!fresh && IsVideoType(head.type)) {
        const StRecData_t& rd = m_area.head.recData;
        const uint64_t t = head.pts.get() / kUsPerSecond;
        if (rd.duration.get() > 0 && t > BlockEndTime(rd) && t - rd.beginTime.get() + 1 > kMaxDuration) fresh = true;
    }
    if (fresh) {
        if (m_open && !Store(false)) return false;
        Start(origin, 0);
    }
    NoteFrame(head);

    uint8_t raw[kFrameHeadSize];
    StoreStruct(raw, head);
    // Bytes [from, to) of the frame, head first.
    auto append = [&](size_t from, size_t to) {
        if (from < kFrameHeadSize) {
            const size_t end = std::min(to, size_t(kFrameHeadSize));
            m_data.insert(m_data.end(), raw + from, raw + end);
            from = end;
        }
        if (from < to) m_data.insert(m_data.end(), payload + (from - kFrameHeadSize), payload + (to - kFrameHeadSize));
    };
    const size_t total = kFrameHeadSize + size_t(length);
    const size_t room = Capacity() - m_data.size();
    if (total <= room) {
        append(0, total);
    } else {
        // What does not fit opens the next block, which lends it.
        append(0, room);
        const uint32_t rest = uint32_t(total - room);
        m_area.head.recData.borrow.set(rest);
        if (!Store(false)) return false;
        Start(m_origin, rest);
        append(room, total);
    }
    ++m_frames;
    return true;
}

bool CBackupBlockWriter::Finish()
{
    if (!m_ok || !m_open || m_frames == 0) return false;
    return Store(true);
}

}  // namespace velmor
