// The open-file table and record files read by descriptor.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "store/src/HeadSet.h"
#include "store/src/OpenFiles.h"
#include "store/src/StoreLog.h"
#include "store/src/StoreState.h"

namespace rkstore {

using namespace rkfs;

namespace {

const ReaderNames kMountedNames{
    "ReadFrameInner", "RKSFS_SeekTime", "GetFileEncode", "File", "pOp->blkSize",
};

}  // namespace

// ---- The open-file table ------------------------------------------------------------

void FileSlot::Reset()
{
    kind = 0;
    openMod = 0;
    error = false;
    mountSlot = -1;
    tick = 0;
    blkCnt = blkSize = 0;
    sectorSize = 0;
    rec.reset();
    cm.reset();
}

FileSlot* LockSlot(int fd, std::unique_lock<std::mutex>& lock, const char* fn, int* code, SlotCodes codes)
{
    FileSlot* found = nullptr;
    for (FileSlot& s : Lib().files)
        if (s.fd.load() == fd) {
            found = &s;
            break;
        }
    if (!found) {
        LogLine("%s;%s fd isn't openning.\n", fn, "LockSlot");
        *code = codes.notFound;
        return nullptr;
    }
    lock = std::unique_lock<std::mutex>(found->lock);
    if (found->fd.load() != fd) {
        SFS_LOG(fn, "pFileOp->fd = %d, fd = %d was closed in other thread.\n", found->fd.load(), fd);
        lock.unlock();
        *code = codes.closedMeanwhile;
        return nullptr;
    }
    if (found->error) {
        SFS_LOG(fn, "file already error\n");
        lock.unlock();
        *code = codes.inError;
        return nullptr;
    }
    return found;
}

FileSlot* TakeFreeSlot(const char* fn)
{
    for (FileSlot& s : Lib().files)
        if (!s.reserved) {
            s.reserved = true;
            return &s;
        }
    LogLine("%s: %s: can't open more than %zu file.\n", fn, "TakeFreeSlot", kFileSlots);
    return nullptr;
}

int NextDescriptor()
{
    int& next = Lib().nextFd;
    const int fd = next;
    next = next == INT_MAX ? 0 : next + 1;
    return fd;
}

void FreeSlot(FileSlot& slot, int fd, const char* fn)
{
    LogLine("%s:%s:%d fd = %d, pFileOp = %p\n", "rkstore", fn, __LINE__, fd, static_cast<void*>(&slot));
    slot.Reset();
    slot.fd.store(-1);
}

bool CloseFilesOfMount(int m, bool force)
{
    Library& lib = Lib();
    if (!force) {
        std::lock_guard<std::mutex> table(lib.fileTableLock);
        for (FileSlot& s : lib.files) {
            std::lock_guard<std::mutex> slot(s.lock);
            if (s.fd.load() >= 0 && s.mountSlot == m && s.openMod != 1) {
                LogLine("%s: have fd = %d, outside writting.\n", "UmountFileDir", s.fd.load());
                return false;
            }
        }
    }
    for (FileSlot& s : lib.files) {
        std::lock_guard<std::mutex> table(lib.fileTableLock);
        std::lock_guard<std::mutex> slot(s.lock);
        const int fd = s.fd.load();
        if (fd < 0 || s.mountSlot != m) continue;
        LogLine("%s: you'd better close fd = %d, outside.\n", "UmountFileDir", fd);
        FreeSlot(s, fd, "UmountFileDir");
        s.reserved = false;
    }
    return true;
}

// ---- Opening a block --------------------------------------------------------------------

BlockCheck CheckBlockAgainstMount(const FileSlot& slot, uint32_t blkId, StDataBlockHead_t& copy, std::string* path,
                                  const char* fn)
{
    if (slot.mountSlot < 0 || size_t(slot.mountSlot) >= kMountSlots) return BlockCheck::kMountChanged;
    MountSlot& m = Lib().mounts[slot.mountSlot];
    std::lock_guard<std::mutex> lock(m.lock);
    if (!m.mounted || m.umounting || m.tick != slot.tick || m.blkCnt != slot.blkCnt || m.blkSize != slot.blkSize ||
        m.sectorSize != slot.sectorSize || blkId >= m.heads.size()) {
        LogLine("%s:%s:%d pFileContOp->mounted = %d, tick = %ld, blkCnt = %lu, blkSize = %lu, sectorSize = %hu, "
                "pFileOp->blkBunchTick = %ld, blkCnt = %lu, blkSize = %lu, sectorSize = %hu\n",
                "File", fn, __LINE__, (m.mounted && !m.umounting) ? 1 : 0, long(m.tick), (unsigned long)m.blkCnt,
                (unsigned long)m.blkSize, m.sectorSize, long(slot.tick), (unsigned long)slot.blkCnt,
                (unsigned long)slot.blkSize, slot.sectorSize);
        return BlockCheck::kMountChanged;
    }
    const StDataBlockHead_t& cur = m.heads[blkId];
    if (std::memcmp(&cur, &copy, sizeof cur) != 0) {
        LogLine("%s:%s:%d data block head changed\n", "File", fn, __LINE__);
        if (slot.openMod != 1) {
            LogLine("%s:%s:%d data block covered\n", "File", fn, __LINE__);
            return BlockCheck::kCovered;
        }
        StDataBlockHead_t c = copy;
        c.setWriting(cur.writing());
        if (IsCommonType(c.dataType())) {
            if (cur.cmData.useSize.get() > c.cmData.useSize.get()) {
                LogLine("%s:%s:%d data block covered\n", "File", fn, __LINE__);
                return BlockCheck::kCovered;
            }
            c.cmData.useSize.set(cur.cmData.useSize.get());
        } else {
            StRecData_t& rd = c.recData;
            rd.setReadOnly(cur.recData.readOnly());
            rd.setHasIFrameHead(cur.recData.hasIFrameHead());
            rd.duration.set(cur.recData.duration.get());
            rd.useSize.set(cur.recData.useSize.get());
            rd.borrow.set(cur.recData.borrow.get());
        }
        if (c.nextBlkId() != 0 && cur.nextBlkId() == 0) c.setNextBlkId(0);
        SealHead(c);
        if (std::memcmp(&cur, &c, sizeof cur) != 0) {
            LogLine("%s:%s:%d data block covered\n", "File", fn, __LINE__);
            return BlockCheck::kCovered;
        }
        copy = c;
    }
    *path = ContainerPath(m, FileOfBlock(blkId));
    if (path->empty()) {
        LogLine("%s:%s:%d blkId = %lu\n", "File", fn, __LINE__, (unsigned long)blkId);
        return BlockCheck::kCovered;
    }
    return BlockCheck::kOk;
}

// ---- CMountedRecord -------------------------------------------------------------------

CMountedRecord::CMountedRecord(const FileSlot& slot)
    : reader(CRecordReader::Layout::kMounted, kMountedNames), m_slot(slot)
{
    reader.m_access = this;
}

bool CMountedRecord::OpenBlock(uint32_t b)
{
    const char* fn = b + 1 == uint32_t(m_curB) ? "OpenPrevBlock" : b == uint32_t(m_curB + 1) ? "OpenNextBlock"
                                                                                             : "OpenCurBlock";
    if (b >= blkIds.size()) {
        LogLine("%s:%s:%d pFileOp->curB = %lu, dataBlkCnt = %lu\n", "File", fn, __LINE__, (unsigned long)b,
                (unsigned long)blkIds.size());
        return false;
    }
    std::string path;
    StDataBlockHead_t copy = reader.m_heads[b].head;
    if (CheckBlockAgainstMount(m_slot, blkIds[b], copy, &path, fn) != BlockCheck::kOk) return false;
    if (std::memcmp(&copy, &reader.m_heads[b].head, sizeof copy) != 0) {
        reader.m_heads[b].head = copy;
        reader.RecomputeLayout();
    }
    const int64_t file = FileOfBlock(blkIds[b]);
    if (file != m_fcFile) {
        m_fc.Close();
        m_fcFile = -1;
        int err = 0;
        if (!m_fc.Open(path, &err)) {
            LogLine("%s:%s:%d blkId = %lu\n", "File", fn, __LINE__, (unsigned long)blkIds[b]);
            return false;
        }
        m_fcFile = file;
    }
    m_curB = b;
    return true;
}

bool CMountedRecord::ReadBlock(uint32_t b, uint64_t fileOffset, void* dst, size_t n)
{
    if (int64_t(b) != m_curB && !OpenBlock(b)) return false;
    return m_fc.ReadAt(fileOffset, dst, n) == n;
}

bool CMountedRecord::ReadNeck(uint32_t b, StRecDataNeck_t& neck)
{
    if (b >= blkIds.size()) return false;
    std::string path;
    StDataBlockHead_t copy = reader.m_heads[b].head;
    if (CheckBlockAgainstMount(m_slot, blkIds[b], copy, &path, "ReadNeck") != BlockCheck::kOk) return false;
    const int64_t file = FileOfBlock(blkIds[b]);
    if (file != m_fc2File) {
        m_fc2.Close();
        m_fc2File = -1;
        if (!m_fc2.Open(path)) return false;
        m_fc2File = file;
    }
    uint8_t raw[kNeckSize];
    const uint64_t at = HeadAreaFileOffset(PositionOfBlock(blkIds[b]), reader.m_blkSize) + kDataBlockHeadSize;
    if (m_fc2.ReadAt(at, raw, sizeof raw) != sizeof raw) return false;
    neck = LoadStruct<StRecDataNeck_t>(raw);
    return true;
}

int CMountedRecord::Encode(StRecEncode_t* encode, StAudioProp_t* audioProp)
{
    const char* fn = "GetFileEncode";
    const uint32_t count = uint32_t(blkIds.size());
    StRecDataNeck_t first;
    if (count == 0 || !ReadNeck(0, first)) {
        SFS_LOG(fn, "i = %lu, dataBlkCnt = %lu, blkId = %lu\n", 0ul, (unsigned long)count,
                (unsigned long)(count ? blkIds[0] : 0));
        return -1;
    }
    StEncodeRecord_t enc = first.encode;
    uint8_t prop[14];
    std::memcpy(prop, first.audioProperty, sizeof prop);
    for (uint32_t i = 1; i < count; ++i) {
        if (!reader.Rd(i).hasAudioEnc()) continue;
        StRecDataNeck_t neck;
        if (!ReadNeck(i, neck)) {
            SFS_LOG(fn, "i = %lu, dataBlkCnt = %lu, blkId = %lu\n", (unsigned long)i, (unsigned long)count,
                    (unsigned long)blkIds[i]);
            return -1;
        }
        enc.aEnc = neck.encode.aEnc;
        std::memcpy(prop, neck.audioProperty, sizeof prop);
        break;
    }
    if (!IsEncodeRecordValid(enc)) {
        SFS_LOG(fn, "enc.reso = %hhu, vEnc = %hhu, aEnc = %hhu, frameRate = %hhu\n", enc.reso, enc.vEnc, enc.aEnc,
                enc.frameRate);
        return -1;
    }
    if (encode) {
        std::memset(encode, 0, sizeof *encode);
        encode->reso = enc.reso;
        encode->videoStandard = enc.videoStandard;
        encode->vEnc = enc.vEnc;
        encode->aEnc = enc.aEnc;
        encode->frameRate = enc.frameRate;
    }
    if (audioProp) std::memcpy(audioProp->bytes, prop, sizeof prop);
    return 0;
}

namespace {

bool NegativeFd(int fd, const char* fn)
{
    if (fd >= 0) return false;
    LogLine("%s: fd = %d is not valid file description.\n", fn, fd);
    return true;
}

int CloseFile(int fd, const char* fn)
{
    LogInfo("%s: fd = %d\n", fn, fd);
    Library& lib = Lib();
    std::lock_guard<std::mutex> table(lib.fileTableLock);
    FileSlot* found = nullptr;
    for (FileSlot& s : lib.files)
        if (s.fd.load() == fd) {
            found = &s;
            break;
        }
    if (!found) {
        LogLine("%s:%s:%d fd = %d, pFileOp == NULL.\n", "rkstore", fn, __LINE__, fd);
        return -10001;
    }
    std::lock_guard<std::mutex> slot(found->lock);
    if (found->fd.load() != fd) {
        LogLine("%s:%s:%d pFileOp->fd = %d, fd = %d was closed in other thread.\n", "rkstore", fn, __LINE__,
                found->fd.load(), fd);
        return -10002;
    }
    const bool valid = found->openMod >= 1 && found->openMod <= 3 && found->mountSlot >= 0 &&
                       (found->rec != nullptr || found->cm != nullptr);
    if (!valid)
        LogLine("%s:%s:%d pFileOp->openMod = %d, pFileContOp = %p\n", "rkstore", fn, __LINE__, found->openMod,
                found->mountSlot >= 0 ? static_cast<void*>(&lib.mounts[found->mountSlot]) : nullptr);
    FreeSlot(*found, fd, fn);
    found->reserved = false;
    return valid ? 0 : -10003;
}

int OpenRecFile(const StRecFileInfo_t* rec)
{
    const char* fn = "RKSFS_OpenRecFile";
    if (!rec) return -1;
    const size_t tailLen = strnlen(rec->dirTail2, sizeof rec->dirTail2);
    if (tailLen != 2) {
        SFS_LOG(fn, "pRec->dirTail2 = %.3s, len = %zu != 2\n", rec->dirTail2, tailLen);
        return -1;
    }
    int mountIndex = 0;
    uint32_t front = 0;
    if (!SplitUuid(rec->uuid, &mountIndex, &front, fn)) return -1;
    const uint32_t chnCnt = Lib().recChnCnt.load();
    if (rec->channel >= chnCnt) {
        SFS_LOG(fn, "pRec->channel = %lu, tiRecChnCnt = %lu\n", (unsigned long)rec->channel, (unsigned long)chnCnt);
        return -1;
    }
    const StRecFileInfo_t info = *rec;
    Library& lib = Lib();
    std::unique_lock<std::mutex> table(lib.fileTableLock);
    FileSlot* slot = TakeFreeSlot(fn);
    if (!slot) return -1;
    std::unique_lock<std::mutex> slotLock(slot->lock);
    auto release = [&]() {
        slot->Reset();
        slot->reserved = false;
        return -1;
    };
    auto record = std::make_unique<CMountedRecord>(*slot);
    {
        std::lock_guard<std::mutex> mountTable(lib.mountTableLock);
        MountSlot& m = lib.mounts[mountIndex];
        std::lock_guard<std::mutex> mountLock(m.lock);
        if (m.blkCnt == 0 || m.blkSize == 0 || m.sectorSize == 0 || front >= m.blkCnt || IsIndexBlockId(front)) {
            SFS_LOG(fn, "\n");
            return release();
        }
        if (!m.Usable()) {
            SFS_LOG(fn, "pFileContOp->mounted = %d, umounting = %d\n", m.mounted ? 1 : 0, m.umounting ? 1 : 0);
            return release();
        }
        const StDataBlockHead_t& h = m.heads[front];
        const StRecData_t& rd = h.recData;
        const bool valid = CheckRecBlockHead(h, front, m.Geo().Partition()) == HeadFault::kOk && rd.channel < chnCnt &&
                           rd.useSize.get() > kHeadAreaSize && (rd.lend.get() == 0 || rd.hasIFrameHead());
        const bool matches =
            valid && rd.channel == info.channel && (rd.subStream() ? 1 : 0) == info.subStream &&
            rd.beginTime.get() == info.beginTime && (info.writing || !h.writing()) &&
            (info.writing || uint64_t(rd.useSize.get()) - rd.lend.get() <= info.size) &&
            DirTail2(m.mntDir) == std::string(info.dirTail2, 2);
        if (!matches) {
            SFS_LOG(fn,
                    "channel = %hhuvs%hhu, subStream = %dvs%d, beginTime = %luvs%luwriting = %dvs%d, size = %llu, "
                    "useSize = %lu, lend = %lupRec->dirTail2 = %.3s, pFileContOp->mntDir = %s\n",
                    rd.channel, info.channel, rd.subStream() ? 1 : 0, info.subStream,
                    (unsigned long)rd.beginTime.get(), (unsigned long)info.beginTime, h.writing() ? 1 : 0,
                    info.writing, (unsigned long long)info.size, (unsigned long)rd.useSize.get(),
                    (unsigned long)rd.lend.get(), info.dirTail2, m.mntDir.c_str());
            return release();
        }
        const size_t room = size_t((info.size + m.blkSize - 1) / m.blkSize) + 2;
        const std::vector<uint32_t> chain = WalkChain(m.heads, front, FileKind::kRecord, m.Geo(), room);
        SFS_LOG(fn, "dataBlkCnt = %lu, pRec->size = %llu\n", (unsigned long)chain.size(),
                (unsigned long long)info.size);
        const StDataBlockHead_t& last = m.heads[chain.back()];
        if (info.continued && rd.lend.get() == 0 && last.recData.borrow.get() == 0) {
            SFS_LOG(fn, "pDBHs[0].recData.lend = %lu, pDBHs[dataBlkCnt - 1].recData.borrow = %lu\n",
                    (unsigned long)rd.lend.get(), (unsigned long)last.recData.borrow.get());
            return release();
        }
        record->blkIds = chain;
        record->reader.m_heads.resize(chain.size());
        for (size_t i = 0; i < chain.size(); ++i) {
            record->reader.m_heads[i].head = m.heads[chain[i]];
            record->reader.m_heads[i].neck = ZeroStruct<StRecDataNeck_t>();
            record->reader.m_positions.push_back(uint8_t(PositionOfBlock(chain[i])));
        }
        record->reader.m_blkSize = m.blkSize;
        record->reader.m_info = info;
        record->reader.Prepare();
        slot->openMod = 1;
        slot->mountSlot = mountIndex;
        slot->tick = m.tick;
        slot->blkCnt = m.blkCnt;
        slot->blkSize = m.blkSize;
        slot->sectorSize = m.sectorSize;
    }
    slot->kind = 1;
    slot->error = false;
    slot->rec = std::move(record);
    const int fd = NextDescriptor();
    slot->fd.store(fd);
    SFS_INFO(fn, "fd = %d\n", fd);
    table.unlock();

    // A recording that began in an earlier file starts at its first I frame.
    CRecordReader& r = slot->rec->reader;
    const uint32_t prev = r.Rd(0).prevBlkId.get();
    if (prev != 0) {
        SFS_LOG(fn, "pDBHs[0].recData.prevBlkId = %lu\n", (unsigned long)prev);
        const bool ok = r.Seek(info.beginTime) == 0 &&
                        uint64_t(r.m_pos.curOffset) - r.m_pos.frmHeadWrSize >= kHeadAreaSize;
        if (!ok) {
            slotLock.unlock();
            CloseFile(fd, fn);
            return -1;
        }
    }
    return fd;
}

// The checks every record-file call makes after finding its slot.
CMountedRecord* RecordOf(FileSlot* slot, const char* fn)
{
    if (slot->kind != 1 || !slot->rec || slot->openMod != 1) {
        SFS_LOG(fn, "openMod = %d, pFileOp->pFileContOp = %p, pDataBuf2 = %p, pCurDBH = %p\n", slot->openMod,
                slot->mountSlot >= 0 ? static_cast<void*>(&Lib().mounts[slot->mountSlot]) : nullptr,
                static_cast<void*>(slot->rec.get()), static_cast<void*>(slot->rec.get()));
        slot->error = true;
        return nullptr;
    }
    return slot->rec.get();
}

int ReadCall(int fd, uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head, uint32_t mask, const char* fn)
{
    if (NegativeFd(fd, fn)) return -9;
    if (bufLen == 0) return 0;
    return Guarded(
        [&] {
            std::unique_lock<std::mutex> lock;
            int code = -1;
            FileSlot* slot = LockSlot(fd, lock, fn, &code);
            if (!slot) return code;
            CMountedRecord* rec = RecordOf(slot, fn);
            if (!rec) return -1;
            if (bufLen < 17 || !buffer) {
                SFS_LOG(fn, "bufLen = %zu, tiFrameHeadLen = %zu\n", bufLen, sizeof(StFrameHead_t));
                slot->error = true;
                return -1;
            }
            const int rc = rec->reader.ReadMasked(buffer, bufLen, head, mask);
            if (rc < 0) slot->error = true;
            return rc;
        },
        -1);
}

int64_t SeekCall(int fd, uint32_t tm, bool relative, int* behind)
{
    const char* fn = relative ? "RKSFS_SeekRelTime" : "RKSFS_SeekTime";
    if (NegativeFd(fd, fn)) return -9;
    return Guarded(
        [&]() -> int64_t {
            std::unique_lock<std::mutex> lock;
            int code = -1;
            FileSlot* slot = LockSlot(fd, lock, fn, &code);
            if (!slot) return code;
            CMountedRecord* rec = RecordOf(slot, fn);
            if (!rec) return -1;
            CRecordReader& r = rec->reader;
            uint64_t target = tm;
            if (relative) target += r.m_info.beginTime;
            if (target > 0xFFFFFFFFull) {
                SFS_LOG(fn, "tm = %llu, pFileOp->recFI.beginTime = %lu, recFI.endTime = %lu\n",
                        (unsigned long long)target, (unsigned long)r.m_info.beginTime,
                        (unsigned long)r.m_info.endTime);
                slot->error = true;
                return -1;
            }
            if (behind) {
                const int64_t off = r.Behind(uint32_t(target));
                if (off < 0) slot->error = true;
                return off;
            }
            uint64_t off = 0;
            if (r.Seek(uint32_t(target), &off) != 0) {
                slot->error = true;
                return -1;
            }
            return int64_t(off);
        },
        int64_t(-1));
}

}  // namespace

}  // namespace rkstore

using namespace rkstore;

extern "C" {

RKSTORE_API int RKSFS_OpenRecFile(const StRecFileInfo_t* pRec)
{
    return Guarded([&] { return OpenRecFile(pRec); }, -1);
}

RKSTORE_API int RKSFS_ReadFrame(int fd, uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head)
{
    return ReadCall(fd, buffer, bufLen, head, 0xFF, "RKSFS_ReadFrame");
}

RKSTORE_API int RKSFS_ReadVideoFrame(int fd, uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head)
{
    return ReadCall(fd, buffer, bufLen, head, kVideoTypeMask, "RKSFS_ReadVideoFrame");
}

RKSTORE_API int RKSFS_ReadAudioFrame(int fd, uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head)
{
    return ReadCall(fd, buffer, bufLen, head, kAudioTypeMask, "RKSFS_ReadAudioFrame");
}

RKSTORE_API int RKSFS_ReadIFrame(int fd, uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head, uint8_t backward)
{
    const char* fn = "RKSFS_ReadIFrame";
    if (!backward) return ReadCall(fd, buffer, bufLen, head, 1u << kFrameI, fn);
    if (NegativeFd(fd, fn)) return -9;
    if (bufLen == 0) return 0;
    return Guarded(
        [&] {
            std::unique_lock<std::mutex> lock;
            int code = -1;
            FileSlot* slot = LockSlot(fd, lock, fn, &code);
            if (!slot) return code;
            CMountedRecord* rec = RecordOf(slot, fn);
            if (!rec) return -1;
            if (bufLen < 17 || !buffer) {
                SFS_LOG(fn, "bufLen = %zu, tiFrameHeadLen = %zu\n", bufLen, sizeof(StFrameHead_t));
                slot->error = true;
                return -1;
            }
            const int rc = rec->reader.ReadIFrameBackward(buffer, bufLen, head);
            if (rc < 0) slot->error = true;
            return rc;
        },
        -1);
}

RKSTORE_API int64_t RKSFS_SeekTime(int fd, uint32_t tm, int* pBehind) { return SeekCall(fd, tm, false, pBehind); }

RKSTORE_API int64_t RKSFS_SeekRelTime(int fd, uint32_t relTm, int* pBehind)
{
    return SeekCall(fd, relTm, true, pBehind);
}

RKSTORE_API int RKSFS_GetRecFileEncode(int fd, StRecEncode_t* encode, StAudioProp_t* audioProp)
{
    const char* fn = "RKSFS_GetRecFileEncode";
    if (NegativeFd(fd, fn)) return -9;
    return Guarded(
        [&] {
            std::unique_lock<std::mutex> lock;
            int code = -1;
            FileSlot* slot = LockSlot(fd, lock, fn, &code);
            if (!slot) return code;
            if (slot->kind != 1 || !slot->rec) {
                SFS_LOG(fn, "pFileOp->pCurDBH->dataType = %hhu\n", uint8_t(0));
                return -1;
            }
            const uint8_t type = slot->rec->reader.m_heads[std::min<size_t>(slot->rec->reader.m_pos.curB,
                                                                            slot->rec->blkIds.size() - 1)]
                                     .head.dataType();
            if (!IsRecordType(type)) {
                SFS_LOG(fn, "pFileOp->pCurDBH->dataType = %hhu\n", type);
                return -1;
            }
            return slot->rec->Encode(encode, audioProp);
        },
        -1);
}

RKSTORE_API int RKSFS_GetRecFileInfo(int fd, StRecFileInfo_t* pRec)
{
    const char* fn = "RKSFS_GetRecFileInfo";
    if (NegativeFd(fd, fn)) return -9;
    if (!pRec) return -1;
    return Guarded(
        [&] {
            std::unique_lock<std::mutex> lock;
            int code = -1;
            FileSlot* slot = LockSlot(fd, lock, fn, &code);
            if (!slot) return code;
            if (slot->kind != 1 || !slot->rec || slot->rec->blkIds.empty()) {
                SFS_LOG(fn, "pFileOp->pFileContOp = %p, pCurDBH = %p, dataBlkCnt  = %lu\n",
                        slot->mountSlot >= 0 ? static_cast<void*>(&Lib().mounts[slot->mountSlot]) : nullptr,
                        static_cast<void*>(slot->rec.get()), 0ul);
                return -1;
            }
            *pRec = slot->rec->reader.m_info;
            return 0;
        },
        -1);
}

RKSTORE_API int RKSFS_CloseFile(int fd)
{
    const char* fn = "RKSFS_CloseFile";
    if (NegativeFd(fd, fn)) return -9;
    return Guarded([&] { return CloseFile(fd, fn); }, -1);
}

}  // extern "C"
