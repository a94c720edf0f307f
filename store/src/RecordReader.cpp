#include "store/src/RecordReader.h"

#include <cerrno>
#include <cstring>

#include "store/src/RecFileInfo.h"
#include "store/src/StoreLog.h"

namespace rkstore {

using namespace rkfs;

namespace {

constexpr uint32_t kHead = sizeof(StFrameHead_t);
constexpr uint64_t kUsPerSecond = 1000000;
// The type bits a read mask can select.
constexpr uint8_t kMaskTypes = 32;
// A backup record file keeps the blocks of the partition it came from: a
// full block holds either container block size.
constexpr uint32_t kSmallBlockSize = BlockSizeForFileSize(kContainerFileSize128);
constexpr uint32_t kLargeBlockSize = BlockSizeForFileSize(kContainerFileSize256);
// I frames beyond the neck's capacity are not indexed: they lie between the
// last two entries, found by walking the frames from one to the other.
constexpr uint16_t kBetweenFrom = kIfrIdxCntMax - 2;
constexpr uint16_t kBetweenTo = kIfrIdxCntMax - 1;

void ToPublic(const StFrameHead_t& in, RKSFS_FRAME_HEAD* out)
{
    if (out) *out = FrameHeadToPublic(in);
}

}  // namespace

void CRecordReader::Prepare()
{
    RecomputeLayout();
    m_maxFrameSize = MaxFrameSize(m_info.subStream != 0);
    m_pos = Position{};
    m_haveLastIFrame = false;
    m_betweenBlock = -1;
}

void CRecordReader::RecomputeLayout()
{
    m_storedStart.assign(m_heads.size(), 0);
    uint64_t at = 0;
    for (size_t i = 0; i < m_heads.size(); ++i) {
        m_storedStart[i] = at;
        at += StoredBlockSize(Rd(uint32_t(i)), i == 0);
    }
}

bool CRecordReader::EnsureNeck(uint32_t b)
{
    if (b >= m_heads.size()) return false;
    if (m_layout != Layout::kMounted) return true;
    return m_access && m_access->ReadNeck(b, m_heads[b].neck);
}

uint32_t CRecordReader::StoredX(uint32_t b, uint32_t logical) const
{
    // A backup record file does not store the bytes its first block lends;
    // offsets in that block are counted on what is stored.
    return b == 0 ? logical - Rd(0).lend.get() : logical;
}

uint32_t CRecordReader::BlockEnd(uint32_t b) const { return uint32_t(StoredBlockSize(Rd(b), b == 0)); }

uint64_t CRecordReader::FileOffset(uint32_t b, uint64_t storedX) const
{
    if (m_layout == Layout::kBackupFile) return m_storedStart[b] + storedX;
    const uint64_t logical = b == 0 ? storedX + Rd(0).lend.get() : storedX;
    return uint64_t(m_positions[b]) * m_blkSize + (logical - kHeadAreaSize);
}

bool CRecordReader::ReadAt(uint32_t b, uint64_t storedX, void* dst, size_t n) const
{
    if (n == 0) return true;
    if (storedX < kHeadAreaSize || b >= m_heads.size()) return false;
    if (m_layout == Layout::kMounted) return m_access && m_access->ReadBlock(b, FileOffset(b, storedX), dst, n);
    return m_file.ReadAt(FileOffset(b, storedX), dst, n) == n;
}

bool CRecordReader::FrameHeadValid(const StFrameHead_t& fh) const
{
    return IsFrameHeadValid(fh, m_maxFrameSize, m_info.endTime, m_names.frameSource);
}

int CRecordReader::ReadFailed(uint32_t length) const
{
    const int err = errno;
    SFS_LOG(m_names.read, "pFrameHead->length = %lu, errno = %d, means: %s\n", (unsigned long)length, err,
            std::strerror(err));
    return -1;
}

int CRecordReader::Read(uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head)
{
    if (!buffer || bufLen < size_t(m_maxFrameSize) + kHead) {
        SFS_LOG(m_names.read, "bufLen = %zu, pOp->maxFrameSize = %lu, tiFrameHeadLen = %zu\n", bufLen,
                (unsigned long)m_maxFrameSize, size_t(kHead));
        return -1;
    }
    StFrameHead_t fh;
    FrameStart start;
    const int rc = TakeHead(fh, start);
    if (rc <= 0) return rc;
    const int n = TakePayload(fh, buffer);
    if (n < 0) return n;
    if (fh.type == kFrameI) {
        m_haveLastIFrame = true;
        m_lastIFrame = start;
    }
    ToPublic(fh, head);
    return n;
}

int CRecordReader::ReadMasked(uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head, uint32_t mask)
{
    for (;;) {
        StFrameHead_t fh;
        FrameStart start;
        const int rc = TakeHead(fh, start);
        if (rc <= 0) return rc;
        const bool wanted = fh.type < kMaskTypes && (mask & (1u << fh.type)) != 0;
        if (wanted && (!buffer || uint64_t(fh.length.get()) + kHead > bufLen)) {
            SFS_LOG(m_names.read, "bufLen = %zu, pFrameHead->length = %lu, pFileOp->curOffset = %llu, recFI.size = %llu\n",
                    bufLen, (unsigned long)fh.length.get(), (unsigned long long)m_pos.curOffset,
                    (unsigned long long)m_info.size);
            return -1;
        }
        const int n = TakePayload(fh, wanted ? buffer : nullptr);
        if (n < 0) return n;
        if (fh.type == kFrameI && wanted) {
            m_haveLastIFrame = true;
            m_lastIFrame = start;
        }
        if (!wanted) continue;
        ToPublic(fh, head);
        return n;
    }
}

int CRecordReader::TakeHead(StFrameHead_t& fh, FrameStart& start)
{
    const char* fn = m_names.read;
    Position& p = m_pos;
    const uint64_t size = m_info.size;
    const uint32_t count = uint32_t(m_heads.size());
    if (p.curOffset > size || p.curB >= count) {
        SFS_LOG(fn, "pOp->curOffset = %lu, recFI.size = %llu, dataBlkCnt = %lu, curB = %lu\n",
                (unsigned long)p.curOffset, (unsigned long long)size, (unsigned long)count, (unsigned long)p.curB);
        return -1;
    }
    if (p.curOffset == size) {
        SFS_INFO(fn, "finish normal.\n");
        return 0;
    }

    uint8_t raw[kHead];
    if (p.curOffset <= kHeadAreaSize) {
        // The file's first frame, which must be an I frame.
        if (p.curB != 0) {
            SFS_LOG(fn, "pOp->curB = %lu\n", (unsigned long)p.curB);
            return -1;
        }
        if (size < p.curOffset + 17) {
            SFS_LOG(fn, "pOp->curOffset = %lu, recFI.size = %llu\n", (unsigned long)p.curOffset,
                    (unsigned long long)size);
            return -1;
        }
        if (m_layout != Layout::kBackupFile && Rd(0).lend.get() != 0) {
            SFS_LOG(fn, "pRD->lend = %lu\n", (unsigned long)Rd(0).lend.get());
            return -1;
        }
        start = {0, kHeadAreaSize};
        const uint32_t n = BlockEnd(0) - kHeadAreaSize;
        if (n < kHead) {
            SFS_LOG(fn, "front block no frame head length\n");
            if (!ReadAt(0, kHeadAreaSize, raw, n)) return ReadFailed(kHead);
            if (count < 2) {
                SFS_LOG(fn, "pFileOp->curB = %lu, dataBlkCnt = %lu\n", (unsigned long)p.curB, (unsigned long)count);
                return -1;
            }
            p.curB = 1;
            if (!ReadAt(1, kHeadAreaSize, raw + n, kHead - n)) return ReadFailed(kHead);
            p.curOffset = 2 * kHeadAreaSize + kHead;
            p.curBlkOff = kHeadAreaSize + kHead - n;
        } else {
            if (!ReadAt(0, kHeadAreaSize, raw, kHead)) return ReadFailed(kHead);
            p.curOffset = p.curBlkOff = kHeadAreaSize + kHead;
        }
        fh = LoadStruct<StFrameHead_t>(raw);
        if (!FrameHeadValid(fh) || fh.type != kFrameI) {
            SFS_LOG(fn, "pFrameHead->type = %hhu\n", fh.type);
            return -1;
        }
        return 1;
    }
    if (size < p.curOffset - p.frmHeadWrSize + 17) {
        SFS_LOG(fn, "pOp->curOffset = %lu, frmHeadWrSize = %lu, recFI.size = %llu\n", (unsigned long)p.curOffset,
                (unsigned long)p.frmHeadWrSize, (unsigned long long)size);
        return -1;
    }
    const uint32_t w = p.frmHeadWrSize;
    if (w == kHead) {
        fh = LoadStruct<StFrameHead_t>(p.pending);
        if (!FrameHeadValid(fh)) {
            SFS_LOG(fn, "pOp->curB = %lu, pRD->curBlkOff = %lu\n", (unsigned long)p.curB, (unsigned long)p.curBlkOff);
            return -1;
        }
        start = {p.curB, p.curBlkOff - kHead};
        return 1;
    }
    if (w > kHead) {
        SFS_LOG(fn, "shouldn't come here\n");
        return -1;
    }
    // The next head starts in the next block: all of it (w = 0) or the
    // 16 - w bytes that did not fit into this one.
    if (p.curB + 1 >= count) {
        SFS_LOG(fn, "pFileOp->curB = %lu, dataBlkCnt = %lu\n", (unsigned long)p.curB, (unsigned long)count);
        return -1;
    }
    start = w == 0 ? FrameStart{p.curB + 1, kHeadAreaSize} : FrameStart{p.curB, BlockEnd(p.curB) - w};
    ++p.curB;
    const uint32_t lend = Rd(p.curB).lend.get();
    if (w == 0 && lend != 0) {
        SFS_LOG(fn, "pOp->curB = %lu, pRD->lend = %lu\n", (unsigned long)p.curB, (unsigned long)lend);
        return -1;
    }
    if (w > 0 && lend < 1) {
        SFS_LOG(fn, "pOp->curB = %lu, pRD->lend < 1u\n", (unsigned long)p.curB);
        return -1;
    }
    std::memcpy(raw, p.pending, w);
    if (!ReadAt(p.curB, kHeadAreaSize, raw + w, kHead - w)) return ReadFailed(kHead);
    fh = LoadStruct<StFrameHead_t>(raw);
    if (!FrameHeadValid(fh)) {
        SFS_LOG(fn, "pOp->curB = %lu, pos = %lu\n", (unsigned long)p.curB, (unsigned long)p.curOffset);
        return -1;
    }
    p.curOffset += kHeadAreaSize + kHead - w;
    p.curBlkOff = kHeadAreaSize + kHead - w;
    return 1;
}

int CRecordReader::TakePayload(const StFrameHead_t& fh, uint8_t* buffer)
{
    const char* fn = m_names.read;
    Position& p = m_pos;
    const uint64_t size = m_info.size;
    const uint32_t count = uint32_t(m_heads.size());
    const uint32_t L = fh.length.get();
    const uint64_t end = uint64_t(p.curBlkOff) + L;
    const uint64_t tail = p.curOffset + L;
    const StRecData_t& rd = Rd(p.curB);
    if (size < tail) {
        SFS_LOG(fn, "fileTail = %llu, recFI.size = %llu, pRD->borrow = %lu\n", (unsigned long long)tail,
                (unsigned long long)size, (unsigned long)rd.borrow.get());
        return -1;
    }
    const uint32_t blockEnd = BlockEnd(p.curB);
    if (end < blockEnd) {
        if (tail + 17 <= size) {
            // The payload and the next head (or what of it this block holds).
            const uint32_t r = std::min<uint32_t>(uint32_t(blockEnd - end), kHead);
            if (buffer) {
                if (!ReadAt(p.curB, p.curBlkOff, buffer, size_t(L) + r)) return ReadFailed(L);
                std::memcpy(p.pending, buffer + L, r);
            } else if (!ReadAt(p.curB, end, p.pending, r)) {
                return ReadFailed(L);
            }
            p.frmHeadWrSize = r;
            p.curOffset += uint64_t(L) + r;
            p.curBlkOff = uint32_t(end + r);
        } else {
            SFS_LOG(fn, "fileTail = %llu, recFI.size = %llu, pRD->borrow = %lu\n", (unsigned long long)tail,
                    (unsigned long long)size, (unsigned long)rd.borrow.get());
            if (buffer && !ReadAt(p.curB, p.curBlkOff, buffer, L)) return ReadFailed(L);
            p.frmHeadWrSize = 0;
            p.curOffset += L;
            p.curBlkOff = uint32_t(end);
        }
    } else if (end == blockEnd) {
        if (rd.borrow.get() != 0) {
            SFS_LOG(fn, "pRD->borrow = %lu\n", (unsigned long)rd.borrow.get());
            return -1;
        }
        if (buffer && !ReadAt(p.curB, p.curBlkOff, buffer, L)) return ReadFailed(L);
        p.frmHeadWrSize = 0;
        p.curOffset += L;
        p.curBlkOff = uint32_t(end);
    } else {
        // The payload goes on in the next block.
        const uint32_t useSize = rd.useSize.get();
        const bool full = m_layout == Layout::kBackupFile ? (useSize == kSmallBlockSize || useSize == kLargeBlockSize)
                                                          : useSize == m_blkSize;
        if (!full || rd.borrow.get() == 0) {
            SFS_LOG(fn, "%s = %lu, pRD->useSize = %lu, borrow = %lu\n", m_names.continueText,
                    (unsigned long)(m_layout == Layout::kBackupFile ? kSmallBlockSize : m_blkSize), (unsigned long)useSize,
                    (unsigned long)rd.borrow.get());
            return -1;
        }
        const uint32_t left = blockEnd - p.curBlkOff;
        if (uint64_t(rd.borrow.get()) + left != L) {
            SFS_LOG(fn, "blkLeft = %lu, pRD->borrow = %lu, pFrameHead->length = %lu\n", (unsigned long)left,
                    (unsigned long)rd.borrow.get(), (unsigned long)L);
            return -1;
        }
        if (buffer && !ReadAt(p.curB, p.curBlkOff, buffer, left)) {
            const int err = errno;
            SFS_LOG(fn, "blkLeft = %lu, errno = %d, means: %s\n", (unsigned long)left, err, std::strerror(err));
            return -1;
        }
        if (p.curB + 1 >= count) {
            SFS_LOG(fn, "pFileOp->curB = %lu, dataBlkCnt = %lu\n", (unsigned long)p.curB, (unsigned long)count);
            return -1;
        }
        ++p.curB;
        const StRecData_t& next = Rd(p.curB);
        const uint32_t lend = next.lend.get();
        const uint32_t nextEnd = BlockEnd(p.curB);
        if (lend != L - left || nextEnd < kHeadAreaSize + lend) {
            // Open checked lend against borrow; a block cut short by the end
            // of the file may not hold all of it.
            SFS_LOG(fn, "pOp->curB = %lu, pRD->lend = %lu\n", (unsigned long)p.curB, (unsigned long)lend);
            return -1;
        }
        if (tail + kHeadAreaSize + 17 <= size) {
            const uint32_t n = std::min<uint32_t>(nextEnd - lend - kHeadAreaSize, kHead);
            if (buffer) {
                if (!ReadAt(p.curB, kHeadAreaSize, buffer + left, size_t(lend) + n)) return ReadFailed(L);
                std::memcpy(p.pending, buffer + left + lend, n);
            } else if (!ReadAt(p.curB, kHeadAreaSize + lend, p.pending, n)) {
                return ReadFailed(L);
            }
            p.frmHeadWrSize = n;
            p.curOffset += uint64_t(L) + kHeadAreaSize + n;
            p.curBlkOff = lend + kHeadAreaSize + n;
        } else {
            SFS_LOG(fn, "fileTail = %llu, recFI.size = %llu, pRD->borrow = %lu\n", (unsigned long long)tail,
                    (unsigned long long)size, (unsigned long)rd.borrow.get());
            if (buffer && !ReadAt(p.curB, kHeadAreaSize, buffer + left, lend)) return ReadFailed(L);
            p.frmHeadWrSize = 0;
            p.curOffset += uint64_t(L) + kHeadAreaSize;
            p.curBlkOff = lend + kHeadAreaSize;
        }
    }
    return int(L);
}

int CRecordReader::EncodeOfBlock(uint32_t b, StRecEncode_t* encode, StAudioProp_t* audioProp, bool log) const
{
    const StEncodeRecord_t& e = m_heads[b].neck.encode;
    if (!IsEncodeRecordValid(e)) {
        if (log)
            SFS_LOG(m_names.encode, "pEncInner->reso = %hhu, vEnc = %hhu, aEnc = %hhu, frameRate = %hhu\n", e.reso,
                    e.vEnc, e.aEnc, e.frameRate);
        return -1;
    }
    if (encode) {
        std::memset(encode, 0, sizeof *encode);
        encode->reso = e.reso;
        encode->videoStandard = e.videoStandard;
        encode->vEnc = e.vEnc;
        encode->aEnc = e.aEnc;
        encode->frameRate = e.frameRate;
    }
    if (audioProp) std::memcpy(audioProp->bytes, m_heads[b].neck.audioProperty, sizeof audioProp->bytes);
    return 0;
}

bool CRecordReader::IndexPosition(uint32_t b, uint16_t k, Position& pos) const
{
    const char* fn = m_names.seek;
    const StRecDataNeck_t& neck = m_heads[b].neck;
    const StRecData_t& rd = Rd(b);
    const StIFrameIdx_t& entry = neck.ifrIdx[k];
    const uint32_t ifrPos = entry.offset.get();
    const uint32_t useSize = rd.useSize.get();
    const uint32_t blkLeft = ifrPos < useSize ? useSize - ifrPos : 0;
    SFS_LOG(fn, "blkPos = %lu, k = %hu, ifrPos = %lu, blkLeft = %lu\n", (unsigned long)m_storedStart[b], k,
            (unsigned long)ifrPos, (unsigned long)blkLeft);
    const uint32_t h = std::min<uint32_t>(blkLeft, kHead);
    if (h == 0 || ifrPos < kHeadAreaSize + (b == 0 ? rd.lend.get() : 0)) return false;
    uint8_t raw[kHead] = {};
    const uint32_t stored = StoredX(b, ifrPos);
    if (!ReadAt(b, stored, raw, h)) return false;
    const StFrameHead_t fh = LoadStruct<StFrameHead_t>(raw);
    if (h < kHead) {
        // The head is split at the block's end: check what this block holds.
        if (!SplitIFrameHeadMatches(raw, h, m_info.channel, m_info.subStream, entry.length.get())) {
            SFS_LOG(fn, "pFH->type = %hhu, channel = %hhu, subStream = %d, length = %luvs%lu\n", fh.type, fh.channel,
                    fh.subStream, (unsigned long)fh.length.get(), (unsigned long)entry.length.get());
            return false;
        }
    } else if (!FrameHeadValid(fh) || fh.type != kFrameI || fh.channel != m_info.channel ||
               fh.subStream != m_info.subStream || fh.length.get() != entry.length.get() ||
               fh.pts.get() / kUsPerSecond != entry.time.get()) {
        SFS_LOG(fn, "pFH->type = %hhu, channel = %hhu, subStream = %d, length = %luvs%lu, pts = %llu/1000000vs%lu\n",
                fh.type, fh.channel, fh.subStream, (unsigned long)fh.length.get(), (unsigned long)entry.length.get(),
                (unsigned long long)fh.pts.get(), (unsigned long)entry.time.get());
        return false;
    }
    std::memcpy(pos.pending, raw, kHead);
    pos.frmHeadWrSize = h;
    pos.curBlkOff = stored + h;
    return true;
}

bool CRecordReader::BetweenSearch(uint32_t b, uint32_t tm, Position& pos) const
{
    const char* fn = m_names.seek;
    const StRecDataNeck_t& neck = m_heads[b].neck;
    const uint64_t tailPos = uint64_t(neck.ifrIdx[kBetweenFrom].offset.get()) + kHead + neck.ifrIdx[kBetweenFrom].length.get();
    const uint64_t nextPos = neck.ifrIdx[kBetweenTo].offset.get();
    const uint64_t betweenLength = nextPos > tailPos ? nextPos - tailPos : 0;
    SFS_LOG(fn, "blkPos = %lu, ifrTailPos = %lu, betweenLength = %lu\n", (unsigned long)m_storedStart[b],
            (unsigned long)tailPos, (unsigned long)betweenLength);
    if (betweenLength < 17 || tailPos < kHeadAreaSize + (b == 0 ? Rd(0).lend.get() : 0)) return false;

    // Walk the frames between the two entries; the I frames among them are
    // the ones the index had no room for.
    const uint32_t between = uint32_t(neck.ifrIdxCnt.get() - kIfrIdxCntMax);
    uint64_t o = 0;
    int64_t found = -1;
    uint32_t counted = 0;
    while (o + kHead <= betweenLength) {
        uint8_t raw[kHead];
        if (!ReadAt(b, StoredX(b, uint32_t(tailPos + o)), raw, kHead)) {
            SFS_LOG(fn, "leftLen = %lu, readLen = %lu\n", (unsigned long)(betweenLength - o), 0ul);
            return false;
        }
        const StFrameHead_t fh = LoadStruct<StFrameHead_t>(raw);
        if (!FrameHeadValid(fh) || fh.channel != m_info.channel || fh.subStream != m_info.subStream) {
            SFS_LOG(fn, "pFH->channel = %hhu, subStream = %d\n", fh.channel, fh.subStream);
            return false;
        }
        if (IsVideoType(fh.type)) {
            const uint64_t t = fh.pts.get() / kUsPerSecond;
            if (t >= tm) {
                SFS_LOG(fn, "find terminate\n");
                if (t == tm && fh.type == kFrameI) found = int64_t(o);
                break;
            }
            if (fh.type == kFrameI) {
                found = int64_t(o);
                if (++counted >= between) break;
            }
        }
        o += kHead + fh.length.get();
    }
    if (found < 0) {
        SFS_LOG(fn, "isn't betweenIdx\n");
        return false;
    }
    const uint32_t stored = StoredX(b, uint32_t(tailPos + uint64_t(found)));
    if (!ReadAt(b, stored, pos.pending, kHead)) return false;
    pos.frmHeadWrSize = kHead;
    pos.curBlkOff = stored + kHead;
    SFS_LOG(fn, "is betweenIdx\n");
    return true;
}

int CRecordReader::Seek(uint32_t tm, uint64_t* headOffset)
{
    const char* fn = m_names.seek;
    const uint32_t count = uint32_t(m_heads.size());
    if (tm < m_info.beginTime || tm > m_info.endTime || count == 0) {
        if (m_layout == Layout::kBackupFile)
            SFS_LOG(fn, "tm = %lu, pOp->recFI.beginTime = %lu, recFI.endTime = %lu\n", (unsigned long)tm,
                    (unsigned long)m_info.beginTime, (unsigned long)m_info.endTime);
        else if (m_layout == Layout::kMounted)
            SFS_LOG(fn, "tm = %lu, pFileOp->recFI.beginTime = %lu, recFI.endTime = %lu\n", (unsigned long)tm,
                    (unsigned long)m_info.beginTime, (unsigned long)m_info.endTime);
        else
            SFS_LOG(fn, "tm = %lu, pOp->blkBunchFI.recFI.beginTime = %lu, recFI.endTime = %lu\n", (unsigned long)tm,
                    (unsigned long)m_info.beginTime, (unsigned long)m_info.endTime);
        return -1;
    }
    // The first block from the current one on that ends after tm.
    int64_t from = -1;
    for (uint32_t b = std::min(m_pos.curB, count - 1); b < count; ++b)
        if (BlockEndTime(Rd(b)) > tm) {
            from = b;
            break;
        }
    if (from < 0) {
        const uint32_t lastEnd = BlockEndTime(Rd(count - 1));
        if (lastEnd != tm) {
            SFS_LOG(fn, "tm = %lu, endTime = %lu\n", (unsigned long)tm, (unsigned long)lastEnd);
            return -1;
        }
        from = count - 1;
    }
    auto starts = [&](int64_t b) { return Rd(uint32_t(b)).beginTime.get() <= tm && Rd(uint32_t(b)).hasIFrameHead(); };
    int64_t j = from;
    while (j >= 0 && !starts(j)) --j;
    if (j < 0) {
        SFS_LOG(fn, "tm = %lu, pDBH->recData.beginTime = %lu\n", (unsigned long)tm,
                (unsigned long)Rd(uint32_t(from)).beginTime.get());
        return -1;
    }

    int64_t chosen = -1;
    int k = -1;
    for (int64_t b = j; b >= 0; --b) {
        if (!starts(b)) continue;
        if (!EnsureNeck(uint32_t(b))) {
            const int err = errno;
            SFS_LOG(fn, "fcFD2 = %p, Pos = %lu, errno = %d, means: %s\n", static_cast<void*>(m_access),
                    (unsigned long)m_storedStart[size_t(b)], err, std::strerror(err));
            return -1;
        }
        const StRecDataNeck_t& neck = m_heads[size_t(b)].neck;
        if (IndexedIFrames(neck) == 0 || !IsRecDataNeckValid(neck, Rd(uint32_t(b)))) {
            SFS_LOG(fn, "j = %ld, dataBlkCnt = %lu\n", long(b), (unsigned long)count);
            return -1;
        }
        if (neck.ifrIdx[0].time.get() <= tm) {
            chosen = b;
            break;
        }
        if (b == 0 && Rd(0).beginTime.get() == tm && Rd(0).lend.get() != 0) {
            SFS_LOG(fn, "use first I frame\n");
            chosen = 0;
            k = 0;
            break;
        }
    }
    if (chosen < 0) {
        SFS_LOG(fn, "tm = %lu, no I frame at or before it\n", (unsigned long)tm);
        return -1;
    }

    const uint32_t cb = uint32_t(chosen);
    const StRecDataNeck_t& neck = m_heads[cb].neck;
    const uint16_t n = IndexedIFrames(neck);
    bool between = false;
    if (k < 0) {
        k = n - 1;
        for (uint16_t e = 0; e < n; ++e) {
            if (neck.ifrIdx[e].time.get() == tm) {
                k = e;
                break;
            }
            if (neck.ifrIdx[e].time.get() > tm) {
                k = e - 1;
                between = e == kIfrIdxCntMax - 1 && neck.ifrIdxCnt.get() > kIfrIdxCntMax;
                break;
            }
        }
    }
    Position pos = m_pos;
    bool placed = false;
    if (between) {
        SFS_LOG(fn, "tm = %lu, between = [%lu-%lu]\n", (unsigned long)tm, (unsigned long)neck.ifrIdx[kBetweenFrom].time.get(),
                (unsigned long)neck.ifrIdx[kBetweenTo].time.get());
        k = kBetweenFrom;
        placed = BetweenSearch(cb, tm, pos);
    }
    if (!placed && !IndexPosition(cb, uint16_t(k), pos)) return -1;
    pos.curB = cb;
    pos.curOffset = m_storedStart[cb] + pos.curBlkOff;
    m_pos = pos;
    m_haveLastIFrame = false;
    if (headOffset) *headOffset = pos.curOffset - pos.frmHeadWrSize;
    if (pos.frmHeadWrSize == kHead) {
        const uint64_t second = LoadStruct<StFrameHead_t>(pos.pending).pts.get() / kUsPerSecond;
        if (second != tm) SFS_LOG(fn, "pts/1000000 = %llu != %lu\n", (unsigned long long)second, (unsigned long)tm);
    }
    SFS_LOG(fn, "j = %lu\n", (unsigned long)cb);
    return 0;
}

bool CRecordReader::PositionOnFirstIFrame()
{
    if (m_heads.empty() || !EnsureNeck(0) || IndexedIFrames(m_heads[0].neck) == 0 ||
        !IsRecDataNeckValid(m_heads[0].neck, Rd(0)))
        return false;
    Position pos{};
    if (!IndexPosition(0, 0, pos)) return false;
    pos.curB = 0;
    pos.curOffset = m_storedStart[0] + pos.curBlkOff;
    m_pos = pos;
    m_haveLastIFrame = false;
    return true;
}

bool CRecordReader::ReadHeadAt(uint32_t b, uint32_t storedX, StFrameHead_t& fh) const
{
    uint8_t raw[kHead];
    const uint32_t blockEnd = BlockEnd(b);
    if (storedX >= blockEnd) return false;
    const uint32_t here = std::min<uint32_t>(blockEnd - storedX, kHead);
    if (!ReadAt(b, storedX, raw, here)) return false;
    if (here < kHead) {
        // The head goes on at the start of the next block's data.
        if (b + 1 >= m_heads.size() || !ReadAt(b + 1, kHeadAreaSize, raw + here, kHead - here)) return false;
    }
    fh = LoadStruct<StFrameHead_t>(raw);
    return true;
}

bool CRecordReader::IFrameOffsets(uint32_t b, std::vector<uint32_t>& out)
{
    const char* fn = m_names.read;
    out.clear();
    if (!EnsureNeck(b)) return false;
    const StRecDataNeck_t& neck = m_heads[b].neck;
    if (!IsRecDataNeckValid(neck, Rd(b))) return false;
    const uint16_t n = IndexedIFrames(neck);
    const uint32_t minLogical = kHeadAreaSize + (b == 0 ? Rd(0).lend.get() : 0);
    auto add = [&](uint32_t logical) {
        if (logical >= minLogical) out.push_back(StoredX(b, logical));
    };
    if (neck.ifrIdxCnt.get() <= kIfrIdxCntMax) {
        for (uint16_t e = 0; e < n; ++e) add(neck.ifrIdx[e].offset.get());
        return true;
    }
    for (uint16_t e = 0; e + 1 < n; ++e) add(neck.ifrIdx[e].offset.get());
    // The I frames the index had no room for lie between entries 318 and
    // 319: walk that stretch once and keep their places.
    if (m_betweenBlock != int64_t(b)) {
        m_betweenOffsets.clear();
        const uint32_t ifrLeft = uint32_t(neck.ifrIdxCnt.get() - kIfrIdxCntMax);
        SFS_LOG(fn, "ifrLeft = %hu, pFileOp->backIfrIdxBufSz = %hu\n", uint16_t(ifrLeft),
                uint16_t(m_betweenOffsets.capacity()));
        uint64_t o = uint64_t(neck.ifrIdx[kBetweenFrom].offset.get()) + kHead + neck.ifrIdx[kBetweenFrom].length.get();
        const uint64_t stop = neck.ifrIdx[kBetweenTo].offset.get();
        while (o + kHead <= stop && m_betweenOffsets.size() < ifrLeft) {
            StFrameHead_t fh;
            if (o < minLogical || !ReadHeadAt(b, StoredX(b, uint32_t(o)), fh) || !FrameHeadValid(fh) ||
                fh.channel != m_info.channel || fh.subStream != m_info.subStream) {
                SFS_LOG(fn, "pFH->channel = %hhu, subStream = %d\n", fh.channel, fh.subStream);
                return false;
            }
            if (fh.type == kFrameI) m_betweenOffsets.push_back(StoredX(b, uint32_t(o)));
            o += kHead + fh.length.get();
        }
        m_betweenBlock = b;
    }
    out.insert(out.end(), m_betweenOffsets.begin(), m_betweenOffsets.end());
    add(neck.ifrIdx[n - 1].offset.get());
    return true;
}

int CRecordReader::ReadIFrameBackward(uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head)
{
    const char* fn = m_names.read;
    const Position& p = m_pos;
    const uint32_t count = uint32_t(m_heads.size());
    if (count == 0) return -1;
    // The reference: the I frame returned last (excluded), or, when none
    // was returned since the open or the seek, the frame at the position
    // (included).
    FrameStart ref;
    bool inclusive = false;
    if (m_haveLastIFrame) {
        ref = m_lastIFrame;
        if (ref.b != p.curB && ref.b + 1 != p.curB) {
            SFS_LOG(fn, "pFileOp->lastIFrameB = %lu, curB = %lu\n", (unsigned long)ref.b, (unsigned long)p.curB);
            return -1;
        }
    } else {
        if (p.curOffset <= kHeadAreaSize || p.curB >= count) {
            SFS_LOG(fn, "can't start.\n");
            return 0;
        }
        inclusive = true;
        const uint32_t w = p.frmHeadWrSize;
        if (w == kHead)
            ref = {p.curB, p.curBlkOff - kHead};
        else if (w > 0)
            ref = {p.curB, BlockEnd(p.curB) - w};
        else if (p.curB + 1 < count)
            ref = {p.curB + 1, kHeadAreaSize};
        else
            ref = {p.curB, BlockEnd(p.curB)};
    }

    std::vector<uint32_t> offsets;
    for (int64_t b = ref.b; b >= 0; --b) {
        const uint32_t blk = uint32_t(b);
        if (!Rd(blk).hasIFrameHead()) continue;
        if (!IFrameOffsets(blk, offsets)) {
            SFS_LOG(fn, "j = %ld, dataBlkCnt = %lu\n", long(b), (unsigned long)count);
            return -1;
        }
        int64_t pick = -1;
        for (size_t i = 0; i < offsets.size(); ++i) {
            const bool before = blk < ref.b || (inclusive ? offsets[i] <= ref.x : offsets[i] < ref.x);
            if (before) pick = int64_t(i);
        }
        if (pick < 0) {
            SFS_LOG(fn, "pFileOp->lastIFrameB = %lu, curB = %lu\n", (unsigned long)blk, (unsigned long)p.curB);
            continue;
        }
        // Place the position on that I frame's head and read it whole.
        Position pos = m_pos;
        const uint32_t x = offsets[size_t(pick)];
        const uint32_t logical = b == 0 ? x + Rd(0).lend.get() : x;
        const StRecDataNeck_t& neck = m_heads[blk].neck;
        const uint16_t n = IndexedIFrames(neck);
        bool placed = false;
        for (uint16_t k = 0; k < n && !placed; ++k)
            if (neck.ifrIdx[k].offset.get() == logical) {
                if (!IndexPosition(blk, k, pos)) return -1;
                placed = true;
            }
        if (!placed) {
            // One of the between I frames: its head was checked by the walk.
            if (!ReadAt(blk, x, pos.pending, kHead)) return ReadFailed(kHead);
            pos.frmHeadWrSize = kHead;
            pos.curBlkOff = x + kHead;
        }
        pos.curB = blk;
        pos.curOffset = m_storedStart[blk] + pos.curBlkOff;
        m_pos = pos;
        StFrameHead_t fh;
        FrameStart start;
        const int rc = TakeHead(fh, start);
        if (rc <= 0) return -1;
        if (fh.type != kFrameI || uint64_t(fh.length.get()) + kHead > bufLen || !buffer) {
            SFS_LOG(fn, "bufLen = %zu, pFrameHead->length = %lu, pFileOp->curOffset = %llu, recFI.size = %llu\n",
                    bufLen, (unsigned long)fh.length.get(), (unsigned long long)m_pos.curOffset,
                    (unsigned long long)m_info.size);
            return -1;
        }
        const int len = TakePayload(fh, buffer);
        if (len < 0) return len;
        m_haveLastIFrame = true;
        m_lastIFrame = start;
        ToPublic(fh, head);
        return len;
    }
    SFS_INFO(fn, "finish normal.\n");
    return 0;
}

int64_t CRecordReader::Behind(uint32_t tm)
{
    const char* fn = m_names.seek;
    const uint32_t count = uint32_t(m_heads.size());
    if (count == 0 || tm < m_info.beginTime || tm > m_info.endTime) {
        SFS_LOG(fn, "tm = %lu, pFileOp->recFI.beginTime = %lu, recFI.endTime = %lu\n", (unsigned long)tm,
                (unsigned long)m_info.beginTime, (unsigned long)m_info.endTime);
        return -1;
    }
    // The last block that begins at or before tm.
    int64_t j = -1;
    for (uint32_t b = 0; b < count; ++b)
        if (Rd(b).duration.get() > 0 && Rd(b).beginTime.get() <= tm) j = b;
    if (j < 0) {
        SFS_LOG(fn, "isn't behind, j = %ld, ret = %lld\n", long(j), -1ll);
        return -1;
    }
    const uint32_t jb = uint32_t(j);
    auto nextBlockFrame = [&]() -> int64_t {
        if (jb + 1 >= count) return int64_t(m_info.size);
        return int64_t(m_storedStart[jb + 1] + kHeadAreaSize + Rd(jb).borrow.get());
    };
    int64_t ret;
    if (BlockEndTime(Rd(jb)) == tm) {
        ret = nextBlockFrame();
        SFS_LOG(fn, "behind, j = %ld, ret = %lld\n", long(j), (long long)ret);
        return ret;
    }
    const uint32_t blockEnd = BlockEnd(jb);
    uint64_t x = kHeadAreaSize + (jb == 0 ? 0 : Rd(jb).lend.get());
    while (x < blockEnd) {
        StFrameHead_t fh;
        if (!ReadHeadAt(jb, uint32_t(x), fh) || !FrameHeadValid(fh)) {
            SFS_LOG(fn, "blkPos = %lu, frPos = %lu, blkLeft = %lu\n", (unsigned long)m_storedStart[jb],
                    (unsigned long)x, (unsigned long)(blockEnd - x));
            SFS_LOG(fn, "isn't behind, j = %ld, ret = %lld\n", long(j), -1ll);
            return -1;
        }
        if (IsVideoType(fh.type) && fh.pts.get() / kUsPerSecond > tm) {
            ret = int64_t(m_storedStart[jb] + x);
            SFS_LOG(fn, "behind, j = %ld, ret = %lld\n", long(j), (long long)ret);
            return ret;
        }
        x += kHead + fh.length.get();
    }
    ret = nextBlockFrame();
    SFS_LOG(fn, "behind, j = %ld, ret = %lld\n", long(j), (long long)ret);
    return ret;
}

}  // namespace rkstore
