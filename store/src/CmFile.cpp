// Common ("plain") files on a mounted partition.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "store/src/HeadSet.h"
#include "store/src/OpenFiles.h"
#include "store/src/StoreLog.h"
#include "store/src/StoreState.h"

namespace rkstore {

using namespace rkfs;

namespace {

constexpr size_t kCmDataArea = 8192;
constexpr size_t kCmBufferSize = 12288;
constexpr size_t kMaxNameLen = 63;

bool NegativeFd(int fd, const char* fn)
{
    if (fd >= 0) return false;
    LogLine("%s: fd = %d is not valid file description.\n", fn, fd);
    return true;
}

std::string HeadName(const StDataBlockHead_t& h)
{
    return std::string(h.cmData.fileName, strnlen(h.cmData.fileName, sizeof h.cmData.fileName));
}

// The name of the common file whose first block is `id`: the head's for
// type 5, the long-name neck's for type 6. False when it is not valid.
bool FileNameOf(const MountSlot& m, uint32_t id, std::string* name, bool* isLong)
{
    const StDataBlockHead_t& h = m.heads[id];
    if (CheckCmBlockHead(h, id, m.Geo().Partition()) != HeadFault::kOk) return false;
    const std::string abbrev = HeadName(h);
    if (h.dataType() == kDataTypeCm) {
        *name = abbrev;
        *isLong = false;
        return true;
    }
    if (h.cmData.prevBlkId.get() != 0 || h.cmData.useSize.get() < kHeadAreaSize + 1) return false;
    uint8_t raw[kNeckSize];
    if (!ReadNeckFromDisk(ContainerPath(m, FileOfBlock(id)), id, m.blkSize, raw)) return false;
    const StLongNameNeck_t neck = LoadStruct<StLongNameNeck_t>(raw);
    if (!IsLongNameNeckValid(neck, abbrev)) return false;
    *name = std::string(neck.fullName, strnlen(neck.fullName, sizeof neck.fullName));
    *isLong = true;
    return true;
}

bool StartsWith(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0 && s.size() >= p.size(); }
bool EndsWith(const std::string& s, const std::string& p)
{
    return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

// The listing's hint rules. For a long name the abbreviation (its first 3
// and last 11 characters) is what is compared.
bool HintMatches(const std::string& hint, const std::string& name, bool isLong)
{
    if (hint == "*") return true;
    const std::string abbrev = isLong ? name.substr(0, 3) + name.substr(name.size() - 11) : name;
    if (hint.size() > 1 && hint.back() == '*') {
        const std::string rest = hint.substr(0, hint.size() - 1);
        if (!isLong) return StartsWith(name, rest);
        const size_t n = std::min<size_t>(rest.size(), 3);
        return abbrev.compare(0, n, rest, 0, n) == 0;
    }
    if (hint.size() > 1 && hint.front() == '*') {
        const std::string rest = hint.substr(1);
        if (!isLong) return EndsWith(name, rest);
        const size_t n = std::min<size_t>(rest.size(), 11);
        return EndsWith(abbrev, rest.substr(rest.size() - n));
    }
    if (!isLong) return name == hint;
    return hint.size() >= 14 && hint.compare(0, 3, abbrev, 0, 3) == 0 &&
           hint.compare(hint.size() - 11, 11, abbrev, 3, 11) == 0;
}

struct CmFound {
    uint32_t front;
    std::string name;
    bool isLong;
    std::vector<uint32_t> chain;
    uint64_t size = 0;
    uint64_t dataSize = 0;
    bool writing = false;
};

void MeasureChain(const MountSlot& m, CmFound& f)
{
    f.chain = WalkChain(m.heads, f.front, FileKind::kCommon, m.Geo(), m.blkCnt);
    for (uint32_t id : f.chain) {
        const StDataBlockHead_t& h = m.heads[id];
        f.size += h.cmData.useSize.get();
        f.dataSize += h.cmData.useSize.get() - kHeadAreaSize;
        f.writing = f.writing || h.writing();
    }
}

void FillInfo(const MountSlot& m, int mountIndex, const CmFound& f, StCmFileInfo_t* out)
{
    std::memset(out, 0, sizeof *out);
    out->uuid = MakeUuid(mountIndex, f.front);
    std::snprintf(out->dir, sizeof out->dir, "%s", m.mntDir.c_str());
    std::snprintf(out->fileName, sizeof out->fileName, "%s", f.name.c_str());
    out->size = f.size;
    out->dataSize = f.dataSize;
    out->blkCnt = uint32_t(f.chain.size());
    out->writing = f.writing ? 1 : 0;
}

int MountIndexOf(const MountSlot* m)
{
    for (size_t i = 0; i < kMountSlots; ++i)
        if (&Lib().mounts[i] == m) return int(i);
    return -1;
}

int GetFileInfo(const char* dir, const char* hint, StCmFileInfo_t* out, size_t count)
{
    const char* fn = "RKSFS_GetFileInfo";
    LogInfo("%s: pMntDir = %s, pHint = %s, count = %zu\n", fn, dir ? dir : "(null)", hint ? hint : "(null)", count);
    const size_t dirLen = dir ? strnlen(dir, kMaxMntDirLen + 1) : 0;
    const size_t hintLen = hint ? strnlen(hint, kMaxNameLen + 1) : 0;
    if (dirLen < 1 || dirLen > kMaxMntDirLen || hintLen < 1 || hintLen > kMaxNameLen || (!out && count > 0)) {
        SFS_LOG(fn, "error argLen1 = %zu, argLen2 = %zu\n", dirLen, hintLen);
        return -1;
    }
    std::unique_lock<std::mutex> table, lock;
    MountSlot* m = FindMountHoldingTable(dir, table, lock, fn);
    if (!m) return -1;
    const int mountIndex = MountIndexOf(m);
    const std::string h(hint);
    std::vector<CmFound> shortNames, longNames;
    for (uint32_t front : m->ffb.cm) {
        CmFound f{front, {}, false, {}};
        if (!FileNameOf(*m, front, &f.name, &f.isLong) || !HintMatches(h, f.name, f.isLong)) continue;
        MeasureChain(*m, f);
        (f.isLong ? longNames : shortNames).push_back(std::move(f));
    }
    const size_t ret1 = shortNames.size();
    SFS_INFO(fn, "ret1 = %zu, count = %zu\n", ret1, count);
    const size_t total = ret1 + longNames.size();
    SFS_INFO(fn, "ret1 = %zu, ret2 = %zu, ret = %zu, count = %zu\n", ret1, longNames.size(), total, count);
    if (total > count) SFS_LOG(fn, "count = %zu not enough\n", count);
    size_t k = 0;
    for (const auto* list : {&shortNames, &longNames})
        for (const CmFound& f : *list) {
            if (k >= count) break;
            FillInfo(*m, mountIndex, f, &out[k++]);
        }
    return int(std::min<size_t>(total, size_t(INT32_MAX)));
}

bool ValidateNames(const StCmFileInfo_t* fi, const char* fn)
{
    const size_t len1 = strnlen(fi->dir, sizeof fi->dir);
    if (len1 < 1 || len1 > kMaxMntDirLen) {
        SFS_LOG(fn, "error argLen1 = %zu\n", len1);
        return false;
    }
    const size_t len2 = strnlen(fi->fileName, sizeof fi->fileName);
    if (len2 < 1 || len2 > kMaxNameLen) {
        SFS_LOG(fn, "error argLen2 = %zu\n", len2);
        return false;
    }
    if (std::memchr(fi->fileName, '*', len2)) {
        SFS_LOG(fn, "pCmFI->fileName = %s, contain star *\n", fi->fileName);
        return false;
    }
    return true;
}

// OpenCmFile: the file of `fi` looked up again on its mount (mount lock held).
bool LookUpAgain(const MountSlot& m, int mountIndex, const StCmFileInfo_t& fi, CmFound* f, const char* fn)
{
    int slot = 0;
    uint32_t front = 0;
    if (!SplitUuid(fi.uuid, &slot, &front, fn) || slot != mountIndex || front >= m.blkCnt) return false;
    if (std::find(m.ffb.cm.begin(), m.ffb.cm.end(), front) == m.ffb.cm.end()) return false;
    f->front = front;
    if (!FileNameOf(m, front, &f->name, &f->isLong) || f->name != fi.fileName) return false;
    MeasureChain(m, *f);
    return true;
}

int OpenCm(const StCmFileInfo_t* fi, int flags)
{
    const char* fn = "RKSFS_Open";
    if (!fi) return -1;
    LogInfo("%s: pCmFI->dir = %.255s, fileName = %.63s, flags = %#x\n", fn, fi->dir, fi->fileName, unsigned(flags));
    if (!ValidateNames(fi, fn)) return -1;
    const int access = flags & ~RKSFS_O_TRUNC;
    if ((flags & ~(RKSFS_O_WRONLY | RKSFS_O_RDWR | RKSFS_O_TRUNC)) != 0 || access == 3 ||
        ((flags & RKSFS_O_TRUNC) && access == 0)) {
        SFS_LOG(fn, "O_WRONLY = %#x, O_RDWR = %#x, O_TRUNC = %#x\n", 1u, 2u, 512u);
        return -1;
    }
    if (access != 0) {
        // Recorder media are never written: a descriptor that promised to
        // take bytes would lose them, so write and truncate are refused.
        SFS_LOG(fn, "flags = %#x: opening for writing is not offered, this library never writes\n", unsigned(flags));
        return RKSFS_ERR_READONLY;
    }
    const int mode = 1;
    Library& lib = Lib();
    std::unique_lock<std::mutex> table(lib.fileTableLock);
    FileSlot* slot = TakeFreeSlot(fn);
    if (!slot) return -24;
    std::unique_lock<std::mutex> slotLock(slot->lock);
    auto release = [&](int rc) {
        slot->Reset();
        slot->reserved = false;
        return rc;
    };
    auto file = std::make_unique<CCommonFile>(*slot);
    {
        std::lock_guard<std::mutex> mountTable(lib.mountTableLock);
        int mountIndex = -1;
        for (size_t i = 0; i < kMountSlots; ++i)
            if (lib.mounts[i].taken && lib.mounts[i].mntDir == fi->dir) mountIndex = int(i);
        if (mountIndex < 0) {
            SFS_LOG(fn, "pMntDir = %s isn't mounted\n", fi->dir);
            return release(-1);
        }
        MountSlot& m = lib.mounts[mountIndex];
        std::lock_guard<std::mutex> mountLock(m.lock);
        if (!m.Usable()) {
            SFS_LOG(fn, "pOp->mounted = %d, umounting = %d\n", m.mounted ? 1 : 0, m.umounting ? 1 : 0);
            return release(-1);
        }
        CmFound f{0, {}, false, {}};
        const bool same = LookUpAgain(m, mountIndex, *fi, &f, fn);
        if (!same || (mode != 1 && f.writing)) {
            SFS_LOG(fn, "ret = %d, uuid = %dvs%d, cmFI.writing = %d\n", same ? 0 : -1,
                    same ? MakeUuid(mountIndex, f.front) : -1, fi->uuid, f.writing ? 1 : 0);
            return release(-139);
        }
        if (f.size != fi->size)
            SFS_LOG(fn, "cmFI.size = %llu, pCmFI->size = %llu\n", (unsigned long long)f.size,
                    (unsigned long long)fi->size);
        SFS_LOG(fn, "dataBlkCnt = %lu, cmFI.size = %llu\n", (unsigned long)f.chain.size(), (unsigned long long)f.size);
        FillInfo(m, mountIndex, f, &file->info);
        file->blkIds = f.chain;
        for (uint32_t id : f.chain) file->heads.push_back(m.heads[id]);
        file->Layout();
        file->buffer.assign(kCmBufferSize, 0);
        slot->openMod = mode;
        slot->mountSlot = mountIndex;
        slot->tick = m.tick;
        slot->blkCnt = m.blkCnt;
        slot->blkSize = m.blkSize;
        slot->sectorSize = m.sectorSize;
    }
    slot->kind = 2;
    slot->error = false;
    slot->cm = std::move(file);
    const int fd = NextDescriptor();
    slot->fd.store(fd);
    SFS_INFO(fn, "fd = %d\n", fd);
    return fd;
}

CCommonFile* CommonOf(FileSlot* slot, const char* fn)
{
    if (slot->kind != 2 || !slot->cm) {
        SFS_LOG(fn, "pFileOp->fd = %d, openMod = %d, pDataBuf = %p\n", slot->fd.load(), slot->openMod,
                static_cast<void*>(slot->cm.get()));
        return nullptr;
    }
    return slot->cm.get();
}

int RemoveFile(const StCmFileInfo_t* fi)
{
    const char* fn = "RKSFS_RemoveFile";
    if (!fi) return -1;
    LogInfo("%s: pCmFI->dir = %.255s, fileName = %.63s, uuid = %#x\n", fn, fi->dir, fi->fileName, unsigned(fi->uuid));
    if (!ValidateNames(fi, fn)) return -1;
    if (fi->writing) {
        SFS_LOG(fn, "file writing\n");
        return -1;
    }
    int mountIndex = 0;
    uint32_t front = 0;
    if (!SplitUuid(fi->uuid, &mountIndex, &front, fn)) return -1;
    std::lock_guard<std::mutex> table(Lib().mountTableLock);
    MountSlot& m = Lib().mounts[mountIndex];
    std::lock_guard<std::mutex> lock(m.lock);
    if (!m.taken || m.mntDir != fi->dir) {
        SFS_LOG(fn, "pFileContOp->mntDir = %s\n", m.mntDir.c_str());
        return -1;
    }
    if (!m.Usable()) {
        SFS_LOG(fn, "pOp->mounted = %d, umounting = %d\n", m.mounted ? 1 : 0, m.umounting ? 1 : 0);
        return -1;
    }
    CmFound f{0, {}, false, {}};
    if (!LookUpAgain(m, mountIndex, *fi, &f, fn)) {
        SFS_LOG(fn, "uuid = %d isn't a common file of %s\n", fi->uuid, fi->dir);
        return -1;
    }
    if (f.writing) {
        SFS_LOG(fn, "file writing\n");
        return -1;
    }
    SFS_LOG(fn, "frontBlkId = %lu, pDBH->cmData.fileName = %.15s\n", (unsigned long)front,
            m.heads[front].cmData.fileName);
    // Only the head set in memory changes: the blocks become free there.
    for (uint32_t id : f.chain) {
        m.heads[id].setWrittenAfterFormat(false);
        SealHead(m.heads[id]);
    }
    m.ffb.cm.erase(std::remove(m.ffb.cm.begin(), m.ffb.cm.end(), front), m.ffb.cm.end());
    return 0;
}

}  // namespace

// ---- CCommonFile ------------------------------------------------------------------------

void CCommonFile::Layout()
{
    dataStart.assign(heads.size(), 0);
    uint64_t at = 0;
    for (size_t i = 0; i < heads.size(); ++i) {
        dataStart[i] = at;
        at += heads[i].cmData.useSize.get() - kHeadAreaSize;
    }
    dataSize = at;
}

bool CCommonFile::OpenBlock(uint32_t b, const char* fn)
{
    std::string path;
    StDataBlockHead_t copy = heads[b];
    if (CheckBlockAgainstMount(m_slot, blkIds[b], copy, &path, fn) != BlockCheck::kOk) return false;
    if (std::memcmp(&copy, &heads[b], sizeof copy) != 0) {
        heads[b] = copy;
        Layout();
    }
    const int64_t file = FileOfBlock(blkIds[b]);
    if (file != m_fcFile) {
        m_fc.Close();
        m_fcFile = -1;
        if (!m_fc.Open(path)) {
            LogLine("%s:%s:%d blkId = %lu\n", "File", fn, __LINE__, (unsigned long)blkIds[b]);
            return false;
        }
        m_fcFile = file;
    }
    // The current head in the slot's buffer, after the data area.
    if (buffer.size() >= kCmDataArea + kDataBlockHeadSize) StoreStruct(buffer.data() + kCmDataArea, heads[b]);
    m_curB = b;
    return true;
}

int64_t CCommonFile::Read(uint8_t* dst, size_t n, const char* fn)
{
    size_t done = 0;
    while (done < n && pos < dataSize) {
        while (curB + 1 < heads.size() && pos >= dataStart[curB + 1]) ++curB;
        while (curB > 0 && pos < dataStart[curB]) --curB;
        if (int64_t(curB) != m_curB && !OpenBlock(curB, fn)) return -1;
        const uint64_t inBlock = pos - dataStart[curB];
        const uint64_t blockData = heads[curB].cmData.useSize.get() - kHeadAreaSize;
        const size_t take = size_t(std::min<uint64_t>(n - done, blockData - inBlock));
        const uint64_t at = DataFileOffset(PositionOfBlock(blkIds[curB]), m_slot.blkSize,
                                           uint32_t(kHeadAreaSize + inBlock));
        if (m_fc.ReadAt(at, dst + done, take) != take) return -1;
        done += take;
        pos += take;
    }
    if (pos >= dataSize) SFS_INFO(fn, "finish normal, ret = %ld, nbyte = %lu\n", long(done), (unsigned long)n);
    return int64_t(done);
}

}  // namespace rkstore

using namespace rkstore;

extern "C" {

RKSTORE_API int RKSFS_GetFileInfo(const char* pMntDir, const char* pHint, StCmFileInfo_t* pCmFI, size_t count)
{
    return Guarded([&] { return GetFileInfo(pMntDir, pHint, pCmFI, count); }, -1);
}

RKSTORE_API int RKSFS_Open(const StCmFileInfo_t* pCmFI, int flags)
{
    return Guarded([&] { return OpenCm(pCmFI, flags); }, -1);
}

RKSTORE_API int64_t RKSFS_Read(int fd, void* buffer, size_t nbyte)
{
    const char* fn = "RKSFS_Read";
    if (NegativeFd(fd, fn)) return -9;
    if (nbyte == 0) return 0;
    return Guarded(
        [&]() -> int64_t {
            std::unique_lock<std::mutex> lock;
            int code = -1;
            FileSlot* slot = LockSlot(fd, lock, fn, &code);
            if (!slot) return code;
            CCommonFile* f = CommonOf(slot, fn);
            if (!f || !buffer || slot->openMod == 2) {
                slot->error = true;
                return -1;
            }
            const int64_t rc = f->Read(static_cast<uint8_t*>(buffer), nbyte, fn);
            if (rc < 0) slot->error = true;
            return rc;
        },
        int64_t(-1));
}

RKSTORE_API int64_t RKSFS_Lseek64(int fd, int64_t offset, int whence)
{
    const char* fn = "RKSFS_Lseek64";
    if (NegativeFd(fd, fn)) return -9;
    return Guarded(
        [&]() -> int64_t {
            std::unique_lock<std::mutex> lock;
            int code = -1;
            FileSlot* slot = LockSlot(fd, lock, fn, &code);
            if (!slot) return code;
            CCommonFile* f = CommonOf(slot, fn);
            if (!f) return -1;
            if (whence < 0 || whence > 2) {
                SFS_LOG(fn, "whence = %d\n", whence);
                return -1;
            }
            const int64_t limit = int64_t(1) << 42;
            if ((whence == 0 && offset < 0) || (whence == 2 && offset > 0) || offset >= limit || offset <= -limit) {
                SFS_LOG(fn, "whence = %d, offset = %lld\n", whence, (long long)offset);
                return -1;
            }
            const int64_t base = whence == 0 ? 0 : whence == 1 ? int64_t(f->pos) : int64_t(f->dataSize);
            const int64_t target = base + offset;
            if (target < 0 || uint64_t(target) > f->dataSize) {
                SFS_LOG(fn, "offset = %lld, pFileOp->recFI.size = %llu\n", (long long)target,
                        (unsigned long long)f->dataSize);
                return -1;
            }
            uint32_t dst = 0;
            while (dst + 1 < f->dataStart.size() && uint64_t(target) >= f->dataStart[dst + 1]) ++dst;
            if (dst != f->curB)
                SFS_LOG(fn, "pFileOp->curB = %lu, dstB = %lu\n", (unsigned long)f->curB, (unsigned long)dst);
            f->curB = dst;
            f->pos = uint64_t(target);
            return target;
        },
        int64_t(-1));
}

RKSTORE_API int64_t RKSFS_Ftell64(int fd)
{
    const char* fn = "RKSFS_Ftell64";
    if (NegativeFd(fd, fn)) return -9;
    std::unique_lock<std::mutex> lock;
    int code = -1;
    FileSlot* slot = LockSlot(fd, lock, fn, &code);
    if (!slot) return code;
    if (slot->kind == 1 && slot->rec) return int64_t(slot->rec->reader.m_pos.curOffset);
    CCommonFile* f = CommonOf(slot, fn);
    return f ? int64_t(f->pos) : -1;
}

RKSTORE_API int RKSFS_Feof(int fd)
{
    const char* fn = "RKSFS_Feof";
    if (NegativeFd(fd, fn)) return -9;
    std::unique_lock<std::mutex> lock;
    int code = -1;
    FileSlot* slot = LockSlot(fd, lock, fn, &code);
    if (!slot) return code;
    if (slot->kind == 1 && slot->rec)
        return slot->rec->reader.m_pos.curOffset >= slot->rec->reader.m_info.size ? 1 : 0;
    CCommonFile* f = CommonOf(slot, fn);
    return f && f->pos >= f->dataSize ? 1 : 0;
}

RKSTORE_API int RKSFS_RemoveFile(const StCmFileInfo_t* pCmFI)
{
    return Guarded([&] { return RemoveFile(pCmFI); }, -1);
}

RKSTORE_API int RKSFS_RemoveAllFile(const char* pMntDir, const char* pHint)
{
    const char* fn = "RKSFS_RemoveAllFile";
    LogInfo("%s: pMntDir = %s, pHint = %s\n", fn, pMntDir ? pMntDir : "(null)", pHint ? pHint : "(null)");
    return Guarded(
        [&] {
            std::vector<StCmFileInfo_t> files(400);
            const int n = GetFileInfo(pMntDir, pHint, files.data(), files.size());
            if (n < 0) return -1;
            int failures = 0;
            for (int i = 0; i < n && i < int(files.size()); ++i) {
                const int retNum = RemoveFile(&files[size_t(i)]);
                if (retNum != 0) {
                    SFS_LOG(fn, "retNum = %d, can't remove\n", retNum);
                    ++failures;
                }
            }
            return failures ? -1 : 0;
        },
        -1);
}

RKSTORE_API int RKSFS_Create(const char* pMntDir, const char* pFileName, uint8_t cover, uint8_t readwrite)
{
    const char* fn = "RKSFS_Create";
    LogInfo("%s: pMntDir = %s, pFileName = %s, cover = %d, readwrite = %d\n", fn, pMntDir ? pMntDir : "(null)",
            pFileName ? pFileName : "(null)", cover, readwrite);
    const size_t len1 = pMntDir ? strnlen(pMntDir, kMaxMntDirLen + 1) : 0;
    if (len1 < 1 || len1 > kMaxMntDirLen) {
        SFS_LOG(fn, "error argLen1 = %zu\n", len1);
        return -1;
    }
    const size_t len2 = pFileName ? strnlen(pFileName, kMaxNameLen + 1) : 0;
    if (len2 < 1 || len2 > kMaxNameLen) {
        SFS_LOG(fn, "error argLen2 = %zu\n", len2);
        return -1;
    }
    if (IsReservedName(std::string_view(pFileName, len2))) {
        SFS_LOG(fn, "pFileName = %s reserved\n", pFileName);
        return -1;
    }
    SFS_LOG(fn, "creating files is not offered\n");
    return -1;
}

RKSTORE_API int64_t RKSFS_Write(int fd, const void* buffer, size_t nbyte)
{
    const char* fn = "RKSFS_Write";
    (void)buffer;
    (void)nbyte;
    if (NegativeFd(fd, fn)) return -9;
    return Guarded(
        [&]() -> int64_t {
            std::unique_lock<std::mutex> lock;
            int code = -1;
            FileSlot* slot = LockSlot(fd, lock, fn, &code, SlotCodes{-10001, -10002, -77});
            if (!slot) return code;
            // Every descriptor is open for reading only (see RKSFS_Open).
            SFS_LOG(fn, "pFileOp->fd = %d, openMod = %d, pDataBuf = %p\n", fd, slot->openMod,
                    static_cast<void*>(slot->cm.get()));
            return -10003;
        },
        int64_t(-1));
}

RKSTORE_API int RKSFS_Fsync(int fd)
{
    if (NegativeFd(fd, "RKSFS_Fsync")) return -9;
    return -1;
}

RKSTORE_API uint64_t RKSFS_CalcFileSize(uint64_t size)
{
    uint32_t blkSize = 0x400000;
    {
        std::lock_guard<std::mutex> table(Lib().mountTableLock);
        for (MountSlot& m : Lib().mounts) {
            std::lock_guard<std::mutex> lock(m.lock);
            if (m.Usable() && m.blkSize > kHeadAreaSize) {
                blkSize = m.blkSize;
                break;
            }
        }
    }
    const uint64_t per = blkSize - kHeadAreaSize;
    const uint64_t blocks = size == 0 ? 1 : (size + per - 1) / per;
    return blocks * blkSize;
}

}  // extern "C"
