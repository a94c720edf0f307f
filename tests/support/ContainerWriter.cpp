#include "tests/support/ContainerWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "tests/support/Payload.h"

namespace velmor::fixtures {

namespace {

// The neck's check value as the recorder computes it, written out here
// rather than taken from the reader: the sign (0x004E4452), the I-frame
// count, and the offset and length of the last entry the table holds (at
// most 320 entries are kept).
uint32_t NeckCheck(const rkfs::StRecDataNeck_t& neck)
{
    uint32_t sum = neck.sign.get();
    const uint32_t count = neck.ifrIdxCnt.get();
    if (count == 0) return sum;
    const uint32_t kept = count < 320 ? count : 320;
    return sum + count + neck.ifrIdx[kept - 1].offset.get() + neck.ifrIdx[kept - 1].length.get();
}

}  // namespace

using namespace rkfs;

// ---- CContainerFileImage ------------------------------------------------------

CContainerFileImage::CContainerFileImage(std::filesystem::path path, uint32_t fileNo, uint64_t fileSize,
                                         uint32_t firstUseId)
    : m_path(std::move(path)), m_fileNo(fileNo), m_blkSize(BlockSizeForFileSize(fileSize)), m_nextUseId(firstUseId)
{
    if (!IsContainerFileSize(fileSize)) throw std::invalid_argument("container files are 128 or 256 MiB");
    m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0) throw std::runtime_error("cannot create " + m_path.string() + ": " + std::strerror(errno));
    if (::ftruncate(m_fd, off_t(fileSize)) != 0) throw std::runtime_error("cannot size " + m_path.string());
}

CContainerFileImage::~CContainerFileImage()
{
    if (m_fd >= 0) ::close(m_fd);
}

std::string CContainerFileImage::FileName(uint32_t fileNo)
{
    char name[32];
    std::snprintf(name, sizeof name, "fc%05u.rpo", fileNo);
    return name;
}

uint32_t CContainerFileImage::AllocateBlock()
{
    if (!m_order.empty()) {
        const uint32_t p = m_order.front();
        m_order.erase(m_order.begin());
        return BlockId(p);
    }
    while (m_nextPosition < kBlocksPerFile && IsIndexBlockId(BlockId(m_nextPosition))) ++m_nextPosition;
    if (m_nextPosition >= kBlocksPerFile) throw std::runtime_error("container file full");
    return BlockId(m_nextPosition++);
}

uint32_t CContainerFileImage::FreeBlocks() const
{
    uint32_t n = uint32_t(m_order.size());
    for (uint32_t p = m_nextPosition; p < kBlocksPerFile; ++p)
        if (!IsIndexBlockId(BlockId(p))) ++n;
    return n;
}

void CContainerFileImage::WriteRaw(uint64_t offset, const void* data, size_t n)
{
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        ssize_t w = ::pwrite(m_fd, p, n, off_t(offset));
        if (w <= 0) throw std::runtime_error("write failed on " + m_path.string());
        p += w;
        n -= size_t(w);
        offset += uint64_t(w);
    }
}

std::vector<uint8_t> CContainerFileImage::ReadRaw(uint64_t offset, size_t n) const
{
    std::vector<uint8_t> out(n);
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::pread(m_fd, out.data() + done, n - done, off_t(offset + done));
        if (r <= 0) throw std::runtime_error("read failed on " + m_path.string());
        done += size_t(r);
    }
    return out;
}

void CContainerFileImage::WriteData(uint32_t blkId, uint32_t logical, const uint8_t* data, size_t n)
{
    if (FileOfBlock(blkId) != m_fileNo || logical < kHeadAreaSize || logical + n > m_blkSize)
        throw std::out_of_range("data outside the block");
    WriteRaw(DataFileOffset(PositionOfBlock(blkId), m_blkSize, logical), data, n);
}

void CContainerFileImage::WriteHeadArea(uint32_t blkId, const StDataBlockHead_t& head, const StRecDataNeck_t& neck)
{
    if (FileOfBlock(blkId) != m_fileNo) throw std::out_of_range("block of another file");
    WriteHeadAreaAt(PositionOfBlock(blkId), StRecHeadArea_t{head, neck});
}

StRecHeadArea_t CContainerFileImage::ReadHeadArea(uint32_t position) const
{
    auto bytes = ReadRaw(HeadAreaFileOffset(position, m_blkSize), kHeadAreaSize);
    return LoadStruct<StRecHeadArea_t>(bytes.data());
}

void CContainerFileImage::WriteHeadAreaAt(uint32_t position, const StRecHeadArea_t& area)
{
    uint8_t bytes[kHeadAreaSize];
    StoreStruct(bytes, area);
    WriteRaw(HeadAreaFileOffset(position, m_blkSize), bytes, sizeof bytes);
}

// ---- CRecordWriter -------------------------------------------------------------

CRecordWriter::CRecordWriter(IBlockSink& sink, RecordingParams params)
    : m_sink(sink), m_params(std::move(params)), m_maxFrameSize(MaxFrameSize(m_params.subStream)),
      m_head(ZeroStruct<StDataBlockHead_t>()), m_neck(ZeroStruct<StRecDataNeck_t>())
{
}

CRecordWriter::~CRecordWriter()
{
    try {
        Close();
    } catch (...) {
    }
}

uint32_t CRecordWriter::BytesLeftInBlock() const
{
    const uint32_t capacity = m_sink.BlockSize() - kHeadAreaSize;
    return m_open && m_used < capacity ? capacity - m_used : capacity;
}

void CRecordWriter::StartBlock(uint32_t lend)
{
    const uint32_t id = m_sink.AllocateBlock();
    const uint32_t prev = m_open ? m_blkId : 0;
    if (m_open) {
        m_head.setNextBlkId(id);
        StoreCurrent(false);
    }
    m_blkId = id;
    m_open = true;
    m_used = 0;
    m_blocks.push_back(id);

    m_head = ZeroStruct<StDataBlockHead_t>();
    m_head.useId.set(m_sink.NextUseId());
    m_head.setWrittenAfterFormat(true);
    m_head.setWriting(true);
    m_head.setDataType(m_params.dataType);
    StRecData_t& rd = m_head.recData;
    rd.channel = m_params.channel;
    rd.setSubStream(m_params.subStream);
    rd.setReadOnly(m_params.readOnly);
    rd.prevBlkId.set(prev);
    rd.useSize.set(kHeadAreaSize + lend);
    rd.lend.set(lend);
    rd.setReason(m_params.reason);

    m_neck = ZeroStruct<StRecDataNeck_t>();
    m_neck.sign.set(0x004E4452);  // "RDN"
    m_neck.encode = m_params.encode;
    std::memcpy(m_neck.audioProperty, m_params.audioProperty.data(), 14);
    std::memcpy(m_neck.carNumber, m_params.carNumber.data(), std::min<size_t>(m_params.carNumber.size(), 15));
}

void CRecordWriter::StoreCurrent(bool writing)
{
    m_head.setWriting(writing);
    m_head.recData.useSize.set(kHeadAreaSize + m_used);
    m_neck.checkValue.set(NeckCheck(m_neck));
    SealHead(m_head);
    StDataBlockHead_t head = m_head;
    StRecDataNeck_t neck = m_neck;
    if (onStore) onStore(m_blkId, head, neck);
    m_sink.WriteHeadArea(m_blkId, head, neck);
}

void CRecordWriter::EndBlock()
{
    if (m_open) m_forceNew = true;
}

bool CRecordWriter::NeedsNewBlock(uint32_t length) const
{
    const uint32_t capacity = m_sink.BlockSize() - kHeadAreaSize;
    return !m_open || m_forceNew || uint64_t(m_used) + sizeof(StFrameHead_t) + length > capacity;
}

void CRecordWriter::AppendFrame(const uint8_t* head, const uint8_t* payload, uint32_t length)
{
    // Bytes [from, to) of head + payload into the current block at m_used.
    auto put = [&](size_t from, size_t to) {
        while (from < to) {
            const bool inHead = from < sizeof(StFrameHead_t);
            const uint8_t* src = inHead ? head + from : payload + (from - sizeof(StFrameHead_t));
            const size_t end = inHead ? std::min<size_t>(to, sizeof(StFrameHead_t)) : to;
            m_sink.WriteData(m_blkId, kHeadAreaSize + m_used, src, end - from);
            m_used += uint32_t(end - from);
            from = end;
        }
    };
    const size_t total = sizeof(StFrameHead_t) + length;
    const uint32_t room = m_sink.BlockSize() - kHeadAreaSize - m_used;
    if (total <= room) {
        put(0, total);
        return;
    }
    // What does not fit begins the next block of the chain, head bytes included.
    put(0, room);
    const uint32_t rest = uint32_t(total - room);
    m_head.recData.borrow.set(rest);
    StartBlock(rest);
    put(room, total);
}

WriteResult CRecordWriter::WriteFrame(uint8_t type, uint64_t pts, const uint8_t* payload, uint32_t length)
{
    StFrameHead_t head;
    head.sign = kFrameSign;
    head.channel = m_params.channel;
    head.subStream = m_params.subStream ? 1 : 0;
    head.type = type;
    head.length.set(length);
    head.pts.set(pts);
    return WriteFrame(head, payload);
}

WriteResult CRecordWriter::WriteFrame(const StFrameHead_t& head, const uint8_t* payload)
{
    const uint32_t length = head.length.get();
    if (m_written.empty() && head.type != kFrameI) return WriteResult::kNotIFrame;
    if (head.channel != m_params.channel || head.subStream != (m_params.subStream ? 1 : 0))
        return WriteResult::kWrongStream;
    if (length > m_maxFrameSize) return WriteResult::kTooLong;

    const uint32_t capacity = m_sink.BlockSize() - kHeadAreaSize;
    if (!m_open || m_used >= capacity || m_forceNew) {
        m_forceNew = false;
        StartBlock(0);
    }

    if (IsVideoType(head.type)) {
        const uint32_t t = uint32_t(head.pts.get() / 1000000);
        StRecData_t& rd = m_head.recData;
        if (rd.duration.get() == 0) {
            rd.beginTime.set(t);
            rd.duration.set(1);
        } else if (t > BlockEndTime(rd)) {
            const uint64_t duration = uint64_t(t) - rd.beginTime.get() + 1;
            if (duration > 65535) {
                // The block cannot span that long: start a new one.
                m_forceNew = true;
                return WriteFrame(head, payload);
            }
            rd.duration.set(uint16_t(duration));
        }
    }
    if (head.type == kFrameI) {
        const uint16_t cnt = m_neck.ifrIdxCnt.get();
        const uint16_t slot = cnt < kIfrIdxCntMax ? cnt : kIfrIdxCntMax - 1;
        m_neck.ifrIdx[slot].offset.set(kHeadAreaSize + m_used);
        m_neck.ifrIdx[slot].length.set(length);
        m_neck.ifrIdx[slot].time.set(uint32_t(head.pts.get() / 1000000));
        if (cnt < 0xFFFF) m_neck.ifrIdxCnt.set(uint16_t(cnt + 1));
        m_head.recData.setHasIFrameHead(true);
    }

    const uint32_t room = capacity - m_used;
    if (room < sizeof(StFrameHead_t))
        ++m_headSplits;
    else if (room < sizeof(StFrameHead_t) + length)
        ++m_payloadSplits;

    m_places.push_back({m_blkId, kHeadAreaSize + m_used, uint32_t(m_blocks.size() - 1)});
    uint8_t raw[sizeof(StFrameHead_t)];
    StoreStruct(raw, head);
    AppendFrame(raw, payload, length);
    m_written.push_back({head.type, head.pts.get(), length, Crc32(payload, length)});
    return WriteResult::kWritten;
}

int CRecordWriter::FillBlockLeaving(uint32_t leave, uint8_t type, uint64_t pts, uint64_t seed)
{
    std::vector<uint8_t> payload(m_maxFrameSize);
    int frames = 0;
    const uint32_t capacity = m_sink.BlockSize() - kHeadAreaSize;
    for (;;) {
        if (leave == 0 && m_open && !m_forceNew && m_used == capacity) return frames;
        const uint32_t left = BytesLeftInBlock();
        if (left < leave) throw std::logic_error("block already fuller than asked");
        const uint32_t need = left - leave;
        if (need == 0) return frames;
        if (need <= sizeof(StFrameHead_t)) throw std::logic_error("cannot leave exactly that much");
        uint32_t len = need - uint32_t(sizeof(StFrameHead_t));
        // Leave enough for a last frame of at least a hundred bytes.
        if (len > m_maxFrameSize) len = std::min<uint32_t>(m_maxFrameSize, need - 16 - 16 - 100);
        FillPayload(seed++, payload.data(), len);
        if (WriteFrame(type, pts, payload.data(), len) != WriteResult::kWritten)
            throw std::logic_error("filler frame refused");
        ++frames;
    }
}

void CRecordWriter::Close(bool stillWriting)
{
    if (m_closed) return;
    m_closed = true;
    if (m_open) StoreCurrent(stillWriting);
}

// ---- Synthetic recordings ----------------------------------------------------------

SyntheticResult WriteSynthetic(IBlockSink& sink, const SyntheticPlan& plan)
{
    SyntheticResult result;
    std::vector<std::unique_ptr<CRecordWriter>> writers;
    for (const auto& ch : plan.channels) writers.push_back(std::make_unique<CRecordWriter>(sink, ch.params));
    result.frames.resize(plan.channels.size());
    result.blocks.resize(plan.channels.size());
    result.places.resize(plan.channels.size());

    CSplitMix64 sizes(plan.seed);
    std::vector<uint8_t> payload(kMaxFrameSizeMain);
    uint64_t frameSeed = plan.seed * 1000003;
    const uint64_t start = uint64_t(plan.startTime) * 1000000;
    const uint64_t end = uint64_t(plan.startTime + plan.seconds) * 1000000;
    // Events in time order: every 1 ms tick, each channel writes what falls due.
    std::vector<uint64_t> frameNo(plan.channels.size(), 0);
    std::vector<uint64_t> audioNo(plan.channels.size(), 0);
    bool stop = false;
    for (uint64_t now = start; now < end && !stop; now += 1000) {
        for (size_t c = 0; c < plan.channels.size() && !stop; ++c) {
            const SyntheticChannel& ch = plan.channels[c];
            CRecordWriter& w = *writers[c];
            auto emit = [&](uint8_t type, uint64_t pts, uint32_t len) {
                len = std::min(len, MaxFrameSize(ch.params.subStream));
                if (w.NeedsNewBlock(len) && sink.FreeBlocks() == 0) {
                    stop = true;
                    return;
                }
                FillPayload(++frameSeed, payload.data(), len);
                if (w.WriteFrame(type, pts, payload.data(), len) == WriteResult::kWritten)
                    result.endTime = std::max(result.endTime, uint32_t(pts / 1000000));
            };
            const uint64_t videoPts = start + frameNo[c] * 1000000 / uint64_t(ch.fps);
            if (videoPts <= now) {
                const bool key = frameNo[c] % uint64_t(ch.gop) == 0;
                const uint32_t base = key ? ch.iFrameBytes : ch.pFrameBytes;
                emit(key ? kFrameI : kFrameP, videoPts, sizes.Range(base / 2, base + base / 2));
                ++frameNo[c];
                if (ch.info && !stop && (videoPts - start) % 1000000 < 1000000 / uint64_t(ch.fps))
                    emit(kFrameInfo, videoPts, 75);
            }
            const uint64_t audioPts = start + audioNo[c] * 40000;
            if (ch.audio && !stop && audioPts <= now) {
                emit(kFrameAudio, audioPts, 324);
                ++audioNo[c];
            }
        }
    }
    for (size_t c = 0; c < writers.size(); ++c) {
        writers[c]->Close();
        result.frames[c] = writers[c]->Written();
        result.blocks[c] = writers[c]->Blocks();
        result.places[c] = writers[c]->Places();
        result.headSplits += writers[c]->HeadSplits();
        result.payloadSplits += writers[c]->PayloadSplits();
    }
    return result;
}

}  // namespace velmor::fixtures
