#include "container/src/SingleRpoFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "common/PathUtil.h"
#include "container/src/RpoTrace.h"

namespace rkcontainer {

using namespace rkfs;

namespace {

bool IsRecordingType(uint8_t dataType) { return dataType == kDataTypeRec || dataType == kDataTypeRec2; }

// Printable form of bytes for the log; stops at the first NUL like the text
// it replaces and never reads past what was read.
std::string Printable(const uint8_t* p, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n && p[i] != 0; ++i) s += std::isprint(p[i]) ? char(p[i]) : '.';
    return s;
}

void CopyCarNumber(const StRecDataNeck_t& neck, char* carNumber)
{
    if (!carNumber || neck.carNumber[0] == 0) return;
    size_t n = 0;
    while (n < 15 && neck.carNumber[n] != 0) ++n;
    std::memcpy(carNumber, neck.carNumber, n);
}

}  // namespace

int CSingleRpoFile::GetBlockIdByFileName(const char* path, int* fileNo)
{
    if (!path) return -1;
    // The first "fc" anywhere counts, in either case.
    const char* p = path;
    while (*p && !(std::tolower((unsigned char)p[0]) == 'f' && std::tolower((unsigned char)p[1]) == 'c')) ++p;
    if (!*p) return -1;
    p += 2;
    if (!std::isdigit((unsigned char)*p)) return -1;
    long long n = 0;
    for (; std::isdigit((unsigned char)*p); ++p)
        if (n < 0x7FFFFFFF) n = n * 10 + (*p - '0');
    if (fileNo) *fileNo = int(n > 0x7FFFFFFF ? 0x7FFFFFFF : n);
    return 0;
}

int CSingleRpoFile::SingleFileOpen(const char* path)
{
    std::error_code ec;
    if (!path || !*path || !std::filesystem::exists(path, ec)) return -1;
    // The number comes from the file's own name: a folder whose name holds
    // "fc" must not change the block ids of the file inside it.
    const std::string name = std::filesystem::path(path).filename().string();
    fileNo = 0;
    GetBlockIdByFileName(name.c_str(), &fileNo);
    if (fileNo < 0 || fileNo > 0xFFFF) fileNo = 0;
    int err = 0;
    if (!m_pFD.Open(path, &err)) {
        RPO_TRACE("fopen_s Fail:%s Err(%d)", path, err);
        return -1;
    }
    return 0;
}

int CSingleRpoFile::GetSubBlockSize()
{
    const int64_t size = m_pFD.Size();
    if (size < 0) {
        RPO_TRACE("fseek Error");
        return -2;
    }
    if (!IsContainerFileSize(uint64_t(size))) {
        RPO_TRACE("fileSize Wrong:%u", unsigned(size));
        return -2;
    }
    subBlockSize = BlockSizeForFileSize(uint64_t(size));
    return 0;
}

int CSingleRpoFile::GetBlockHeadAndRecData(uint32_t position, StDataBlockHead_t* head, StRecDataNeck_t* neck)
{
    if (!m_pFD.IsOpen() || subBlockSize == 0) {
        RPO_TRACE("read blkCnt:%d Error", int(position));
        return -2;
    }
    uint8_t area[kHeadAreaSize];
    const uint64_t offset = HeadAreaFileOffset(position, subBlockSize);
    m_pFD.Seek(offset);
    if (m_pFD.Read(area, kDataBlockHeadSize) != kDataBlockHeadSize) {
        RPO_TRACE("read header at %u Fail", unsigned(offset));
        return -2;
    }
    if (m_pFD.Read(area + kDataBlockHeadSize, kNeckSize) != kNeckSize) return -2;
    *head = LoadStruct<StDataBlockHead_t>(area);
    *neck = LoadStruct<StRecDataNeck_t>(area + kDataBlockHeadSize);
    return 0;
}

int CSingleRpoFile::SingleFileGetFileInfo(uint32_t chnMask, uint32_t* beginTime, uint32_t* endTime,
                                          uint32_t* foundMask, char* carNumber)
{
    if (!m_pFD.IsOpen()) return -1;
    if (int rc = GetSubBlockSize(); rc != 0) return rc;

    int result = 0;
    uint32_t begin = 0, end = 0, found = 0;
    auto head = ZeroStruct<StDataBlockHead_t>();
    auto neck = ZeroStruct<StRecDataNeck_t>();
    // The car number of the last recording block that carries one: a file
    // still being filled has no block at position 31 yet, and other block
    // kinds hold other things at that place of the neck.
    auto carNeck = ZeroStruct<StRecDataNeck_t>();
    for (uint32_t p = 0; p < kBlocksPerFile; ++p) {
        const uint32_t blkId = BlockId(p);
        head = ZeroStruct<StDataBlockHead_t>();
        neck = ZeroStruct<StRecDataNeck_t>();
        RPO_TRACE("blkId:%d", int(blkId));
        if (IsIndexBlockId(blkId)) {
            RPO_TRACE("blockIndex(%d), continue", int(blkId));
            continue;
        }
        result = GetBlockHeadAndRecData(p, &head, &neck);
        if (result != 0) continue;
        if (!IsRecordingType(head.dataType())) {
            RPO_TRACE("dataType:%d", head.dataType());
            continue;
        }
        if (neck.carNumber[0] != 0) carNeck = neck;
        const StRecData_t& rd = head.recData;
        if (rd.channel >= 16 || !(chnMask & (1u << rd.channel))) continue;
        found |= 1u << rd.channel;
        const uint32_t b = rd.beginTime.get();
        const uint32_t e = BlockEndTime(rd);
        if (begin == 0 || b < begin) begin = b;
        if (e > end) end = e;
        RPO_TRACE("beginTime:%u,duration:%u,endTime:%u\n", b, unsigned(rd.duration.get()), e);
    }
    if (begin == 0 || end == 0) return result;
    if (beginTime) *beginTime = begin;
    if (endTime) *endTime = end;
    if (foundMask) *foundMask = found;
    CopyCarNumber(carNeck, carNumber);
    return result;
}

int CSingleRpoFile::GetOneChannelFileInfo(int channel, uint32_t* beginTime, uint32_t* endTime,
                                          StEncodeRecord_t* encode)
{
    if (!m_pFD.IsOpen()) return -1;
    if (int rc = GetSubBlockSize(); rc != 0) return rc;

    // A second call selects afresh instead of appending the blocks again.
    blockPositions.clear();
    blockHeads.clear();
    blockRecData.clear();
    remainLen = 0;
    m_currBlockId = 0;

    const std::vector<Candidate> candidates = ChannelBlocks(channel);
    bool anyMain = false, anySub = false;
    for (const Candidate& c : candidates) {
        anyMain |= !c.head.recData.subStream();
        anySub |= c.head.recData.subStream();
    }
    // Main and sub stream of one channel are two recordings with their own
    // chains and picture sizes; mixing them would feed one decoder two
    // streams. Unless the caller chose, the main stream is the channel's
    // recording when present.
    bool readSub = !anyMain;
    if (m_stream == 1 || m_stream == 2) {
        readSub = m_stream == 2;
        if (readSub ? !anySub : !anyMain) return anyMain || anySub ? -5 : -1;
    }

    uint32_t begin = 0, end = 0;
    for (const Candidate& c : candidates) {
        if (c.head.recData.subStream() != readSub) continue;
        blockPositions.push_back(c.position);
        blockHeads.push_back(c.head);
        blockRecData.push_back(c.neck);
        const uint32_t b = c.head.recData.beginTime.get();
        const uint32_t e = BlockEndTime(c.head.recData);
        if (begin == 0 || b < begin) begin = b;
        if (e > end) end = e;
    }
    if (begin == 0 || end == 0) {
        blockPositions.clear();
        blockHeads.clear();
        blockRecData.clear();
        return -1;
    }
    m_maxFrameSize = MaxFrameSize(readSub);
    if (beginTime) *beginTime = begin;
    if (endTime) *endTime = end;
    PositionAt(0, kHeadAreaSize + blockHeads[0].recData.lend.get());
    if (encode) *encode = blockRecData[0].encode;
    return 0;
}

std::vector<CSingleRpoFile::Candidate> CSingleRpoFile::ChannelBlocks(int channel)
{
    std::vector<Candidate> candidates;
    for (uint32_t p = 0; p < kBlocksPerFile; ++p) {
        const uint32_t blkId = BlockId(p);
        if (IsIndexBlockId(blkId)) {
            RPO_TRACE("blockIndex(%d), continue", int(blkId));
            continue;
        }
        Candidate c{p, ZeroStruct<StDataBlockHead_t>(), ZeroStruct<StRecDataNeck_t>()};
        if (GetBlockHeadAndRecData(p, &c.head, &c.neck) != 0) continue;
        if (!IsRecordingType(c.head.dataType())) {
            RPO_TRACE("dataType:%d", c.head.dataType());
            continue;
        }
        if (c.head.recData.channel != channel) continue;
        candidates.push_back(c);
    }
    return candidates;
}

int CSingleRpoFile::SetStream(int stream)
{
    if (stream < 0 || stream > 2) return -1;
    m_stream = stream;
    return 0;
}

int CSingleRpoFile::GetChannelSpans(int channel, std::vector<std::pair<uint32_t, uint32_t>>* spans)
{
    if (!m_pFD.IsOpen() || channel < 0 || channel >= 16 || !spans) return -1;
    if (int rc = GetSubBlockSize(); rc != 0) return rc;
    const uint64_t at = m_pFD.Tell();
    std::vector<std::pair<uint32_t, uint32_t>> blocks;
    for (const Candidate& c : ChannelBlocks(channel)) {
        const uint32_t b = c.head.recData.beginTime.get();
        // A damaged head may end before it begins: it counts its first second.
        blocks.emplace_back(b, std::max(b, BlockEndTime(c.head.recData)));
    }
    m_pFD.Seek(at);
    std::sort(blocks.begin(), blocks.end());
    spans->clear();
    for (const auto& [b, e] : blocks) {
        if (!spans->empty() && uint64_t(b) <= uint64_t(spans->back().second) + 1)
            spans->back().second = std::max(spans->back().second, e);
        else
            spans->emplace_back(b, e);
    }
    return 0;
}

int CSingleRpoFile::GetChannelStreams(int channel, uint32_t* streams)
{
    if (!m_pFD.IsOpen() || channel < 0 || channel >= 16) return -1;
    if (int rc = GetSubBlockSize(); rc != 0) return rc;
    // Asked in the middle of reading: the selected channel reads on from
    // where it was.
    const uint64_t at = m_pFD.Tell();
    uint32_t found = 0;
    for (const Candidate& c : ChannelBlocks(channel)) found |= c.head.recData.subStream() ? 2u : 1u;
    m_pFD.Seek(at);
    if (streams) *streams = found;
    return 0;
}

uint32_t CSingleRpoFile::DataBytesFrom(size_t index, uint32_t logical) const
{
    uint32_t useSize = blockHeads[index].recData.useSize.get();
    if (useSize > subBlockSize) useSize = subBlockSize;
    return logical < useSize ? useSize - logical : 0;
}

void CSingleRpoFile::PositionAt(size_t index, uint32_t logical)
{
    m_currBlockId = int32_t(index);
    remainLen = DataBytesFrom(index, logical);
    if (logical < kHeadAreaSize) logical = kHeadAreaSize;
    m_pFD.Seek(DataFileOffset(blockPositions[index], subBlockSize, logical));
}

int CSingleRpoFile::SingleFileSeekIFrame(uint32_t seekTime, StEncodeRecord_t* encode)
{
    if (blockPositions.empty()) {
        RPO_TRACE("SingleFileSeekIFrame Error");
        return -3;
    }
    uint32_t minStartTime = 0;
    // Where to land when the recording covers seekTime but no block has an
    // I frame at or after it in its own span (seekTime after a block's last
    // I frame, or in a block without one): the latest I frame at or before it.
    bool covered = false;
    int fallbackBlock = -1;
    uint32_t fallbackOffset = 0, fallbackTime = 0;

    for (size_t i = 0; i < blockPositions.size(); ++i) {
        const StRecData_t& rd = blockHeads[i].recData;
        const StRecDataNeck_t& neck = blockRecData[i];
        const uint32_t startTime = rd.beginTime.get();
        const uint32_t endTime = BlockEndTime(rd);
        const uint16_t n = IndexedIFrames(neck);
        // An entry must point into the block's frames; an offset of 4096 is
        // the block's first data byte, where every recording's first I frame
        // lies, and is a hit like any other. A head may start in the block's
        // last 15 bytes and go on in the next block, as writers split them.
        auto usable = [&](const StIFrameIdx_t& entry) {
            const uint32_t offset = entry.offset.get();
            if (offset < kHeadAreaSize + rd.lend.get()) return false;
            const uint32_t here = DataBytesFrom(i, offset);
            return here >= sizeof(StFrameHead_t) || (here > 0 && SplitHeadUsable(i, entry, here));
        };
        for (uint16_t e = 0; e < n; ++e) {
            const StIFrameIdx_t& entry = neck.ifrIdx[e];
            if (entry.time.get() <= seekTime && entry.time.get() >= fallbackTime && usable(entry)) {
                fallbackBlock = int(i);
                fallbackOffset = entry.offset.get();
                fallbackTime = entry.time.get();
            }
        }
        RPO_TRACE("startTime:%u,endTime:%u,seekIFrameTime:%u", startTime, endTime, seekTime);
        if (minStartTime == 0 || startTime < minStartTime) minStartTime = startTime;
        if (seekTime < startTime || seekTime > endTime) continue;
        covered = true;

        RPO_TRACE("Find I Frame,startTime:%u,endTime:%u,blockId:%d", startTime, endTime, int(BlockId(blockPositions[i])));
        int chosen = -1;
        for (uint16_t e = 0; e < n; ++e) {
            const StIFrameIdx_t& entry = neck.ifrIdx[e];
            RPO_TRACE("tempData ifrIdx offset:%u, length:%u,time:%u\n", entry.offset.get(), entry.length.get(),
                      entry.time.get());
            if (entry.time.get() >= seekTime) {
                chosen = entry.time.get() == seekTime || e == 0 ? e : e - 1;
                break;
            }
        }
        if (chosen < 0) continue;
        if (encode) *encode = neck.encode;
        const uint32_t offset = neck.ifrIdx[chosen].offset.get();
        if (!usable(neck.ifrIdx[chosen])) continue;
        PositionAt(i, offset);
        RPO_TRACE("seekoffSet:%u,m_currBlockId:%d ", offset - kHeadAreaSize, m_currBlockId);
        return 0;
    }

    if (seekTime < minStartTime) {
        // Before the recording: its first I frame, or its first frame when
        // the first block indexes none.
        const StRecDataNeck_t& neck = blockRecData[0];
        uint32_t offset = kHeadAreaSize + blockHeads[0].recData.lend.get();
        if (IndexedIFrames(neck) > 0 && neck.ifrIdx[0].offset.get() >= offset) offset = neck.ifrIdx[0].offset.get();
        PositionAt(0, offset);
        RPO_TRACE("minStartTime=%u > seekIFramTime:%u,m_currBlockId==0,seekoffSet:%u", minStartTime, seekTime,
                  offset - kHeadAreaSize);
        return 0;
    }
    if (covered && fallbackBlock >= 0) {
        if (encode) *encode = blockRecData[size_t(fallbackBlock)].encode;
        PositionAt(size_t(fallbackBlock), fallbackOffset);
        RPO_TRACE("seekoffSet:%u,m_currBlockId:%d ", fallbackOffset - kHeadAreaSize, m_currBlockId);
        return 0;
    }
    RPO_TRACE("SingleFileSeekIFrame Error");
    return -3;
}

int CSingleRpoFile::FindListIndexOfNextBlock() const
{
    const uint32_t next = blockHeads[size_t(m_currBlockId)].nextBlkId();
    for (size_t k = 0; k < blockPositions.size(); ++k)
        if (BlockId(blockPositions[k]) == next) return int(k);
    return -1;
}

bool CSingleRpoFile::SplitHeadUsable(size_t index, const StIFrameIdx_t& entry, uint32_t here) const
{
    const uint32_t next = blockHeads[index].nextBlkId();
    bool chained = false;
    for (size_t k = 0; k < blockPositions.size() && !chained; ++k) chained = BlockId(blockPositions[k]) == next;
    if (!chained) return false;
    uint8_t raw[sizeof(StFrameHead_t)] = {};
    const uint64_t at = DataFileOffset(blockPositions[index], subBlockSize, entry.offset.get());
    if (m_pFD.ReadAt(at, raw, here) != here) return false;
    const StRecData_t& rd = blockHeads[index].recData;
    return SplitIFrameHeadMatches(raw, here, rd.channel, rd.subStream() ? 1 : 0, entry.length.get());
}

bool CSingleRpoFile::IsFrameHeadBad(const StFrameHead_t& head) const
{
    // A length beyond the stream's largest frame would overrun the caller's
    // buffer; such a head is as bad as one without its sign.
    return head.sign != kFrameSign || head.length.get() == 0 || head.length.get() > m_maxFrameSize;
}

int CSingleRpoFile::ReadBadHead(uint8_t* buffer)
{
    const size_t n = m_pFD.Read(buffer, std::min<uint32_t>(remainLen, 1000));
    RPO_TRACE("Read fHead Length = 0,Err,mediaBuffer:%s", Printable(buffer, n).c_str());
    remainLen = 0;
    return -2;
}

int CSingleRpoFile::SingleFileReadOneFrame(uint8_t* buffer, StFrameHead_t* head, StEncodeRecord_t* encode)
{
    if (!m_pFD.IsOpen()) {
        RPO_TRACE("m_pFD NULL");
        return -1;
    }
    if (!buffer) return -1;
    auto zeroEncode = ZeroStruct<StEncodeRecord_t>();
    if (remainLen == 0) {
        if (blockPositions.empty()) return -1;
        if (size_t(m_currBlockId) + 1 >= blockPositions.size()) return -4;
        const size_t next = size_t(m_currBlockId) + 1;
        PositionAt(next, kHeadAreaSize + blockHeads[next].recData.lend.get());
        if (encode) *encode = blockRecData[next].encode;
    } else if (encode) {
        *encode = zeroEncode;
    }
    if (remainLen == 0) {
        RPO_TRACE("Remain Length 0");
        return 0;
    }

    uint8_t raw[sizeof(StFrameHead_t)];
    if (remainLen >= sizeof(StFrameHead_t)) {
        const size_t got = m_pFD.Read(raw, sizeof raw);
        remainLen -= uint32_t(got);
        if (got != sizeof raw) {
            RPO_TRACE("Read Frame Header length Error:%d", int(got));
            remainLen = 0;
            return 0;
        }
        const auto fh = LoadStruct<StFrameHead_t>(raw);
        if (IsFrameHeadBad(fh)) return ReadBadHead(buffer);
        RPO_TRACE("type:%d,channel:%d,length:%u,pts:%llu,subStream:%d", fh.type, fh.channel, fh.length.get(),
                  (unsigned long long)fh.pts.get(), fh.subStream);
        const uint32_t length = fh.length.get();
        if (remainLen >= length) {
            const size_t n = m_pFD.Read(buffer, length);
            if (n != length) {
                // The file ended under us (it is fixed-size, so it changed):
                // nothing more of this block can be trusted.
                remainLen = 0;
                return 0;
            }
            remainLen -= length;
            if (head) *head = fh;
            return 0;
        }
        // The payload continues in the next block of the chain.
        const int k = FindListIndexOfNextBlock();
        if (k < 0) {
            remainLen = 0;
            return 0;
        }
        const uint32_t here = remainLen;
        const size_t first = m_pFD.Read(buffer, here);
        m_pFD.Seek(uint64_t(blockPositions[size_t(k)]) * subBlockSize);
        const size_t rest = m_pFD.Read(buffer + here, length - here);
        if (first == here && rest == length - here && head) *head = fh;
        remainLen = 0;
        return 0;
    }

    // The frame head itself is split across the block boundary.
    const int k = FindListIndexOfNextBlock();
    if (k < 0) {
        RPO_TRACE("SeekNextFrame Fail:blockId:%d,blockNextId:%d", int(BlockId(blockPositions[size_t(m_currBlockId)])),
                  int(blockHeads[size_t(m_currBlockId)].nextBlkId()));
        remainLen = 0;
        return 0;
    }
    const uint32_t here = remainLen;
    const size_t first = m_pFD.Read(raw, here);
    m_pFD.Seek(uint64_t(blockPositions[size_t(k)]) * subBlockSize);
    const size_t rest = m_pFD.Read(raw + here, sizeof raw - here);
    if (first != here || rest != sizeof raw - here) {
        RPO_TRACE("read header Fail,need len:%u,return len:%u", unsigned(sizeof raw - here), unsigned(rest));
        // Leaving remainLen as it was would retry the same split forever.
        remainLen = 0;
        return 0;
    }
    const auto fh = LoadStruct<StFrameHead_t>(raw);
    if (IsFrameHeadBad(fh)) return ReadBadHead(buffer);
    RPO_TRACE("type:%d,channel:%d,length:%u,pts:%llu,subStream:%d", fh.type, fh.channel, fh.length.get(),
              (unsigned long long)fh.pts.get(), fh.subStream);
    const uint32_t length = fh.length.get();
    const size_t n = m_pFD.Read(buffer, length);
    if (n == length && head) *head = fh;
    remainLen = 0;
    return 0;
}

int CSingleRpoFile::GetBlockCarNumber(const std::filesystem::path& folder, int fileNumber, uint32_t blockSize,
                                      char* carNumber)
{
    char name[32];
    std::snprintf(name, sizeof name, "fc%05d.rpo", fileNumber);
    const auto path = velmor::FindNoCase(folder, name);
    int err = 0;
    if (!m_pFD.Open(path, &err)) {
        RPO_TRACE("fopen_s Fail:%s Err(%d)", path.c_str(), err);
        return -1;
    }
    fileNo = fileNumber;
    subBlockSize = blockSize;
    int result = 0;
    for (uint32_t p = 0; p < kBlocksPerFile; ++p) {
        const uint32_t blkId = BlockId(p);
        RPO_TRACE("blkId:%d", int(blkId));
        if (IsIndexBlockId(blkId)) {
            RPO_TRACE("blockIndex(%d), continue", int(blkId));
            continue;
        }
        auto head = ZeroStruct<StDataBlockHead_t>();
        auto neck = ZeroStruct<StRecDataNeck_t>();
        result = GetBlockHeadAndRecData(p, &head, &neck);
        if (result != 0 || !IsRecordingType(head.dataType()) || neck.carNumber[0] == 0) continue;
        CopyCarNumber(neck, carNumber);
        break;
    }
    m_pFD.Close();
    return result;
}

}  // namespace rkcontainer
