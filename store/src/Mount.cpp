// Init, mount and unmount, the mount table, space and covering.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "common/FileReader.h"
#include "store/src/Geometry.h"
#include "store/src/OpenFiles.h"
#include "store/src/StoreDiagnostics.h"
#include "store/src/StoreLog.h"
#include "store/src/StoreState.h"
#include "common/ReadOnlyOpen.h"

namespace rkstore {

using namespace rkfs;

// ---- Shared state -------------------------------------------------------------------

Library& Lib()
{
    static Library lib;
    return lib;
}

void MountSlot::Reset()
{
    taken = false;
    mntDir.clear();
    umounting = false;
    mounted = false;
    sectorSize = 0;
    blkSize = blkCnt = startPos = 0;
    fileContCnt = 0;
    latestCnt = 0;
    std::memset(static_cast<void*>(latestIBH), 0, sizeof latestIBH);
    HeadSet().swap(heads);
    ffb = FrontLists{};
    tick = 0;
    coverable = writtenAfterFormat = rebuilt = false;
    device.clear();
    std::vector<std::string>().swap(files);
    badFiles.clear();
    badFileCnt = 0;
}

int64_t NewTick()
{
    const int64_t now =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    int64_t last = Lib().lastTick.load();
    int64_t next;
    do {
        next = std::max(now, last + 1);
    } while (!Lib().lastTick.compare_exchange_weak(last, next));
    return next;
}

bool MntDirLengthOk(const char* dir)
{
    if (!dir) return false;
    const size_t len = strnlen(dir, kMaxMntDirLen + 1);
    return len >= 2 && len <= kMaxMntDirLen;
}

namespace {

int SlotOfDir(const char* dir)
{
    for (size_t i = 0; i < kMountSlots; ++i)
        if (Lib().mounts[i].taken && Lib().mounts[i].mntDir == dir) return int(i);
    return -1;
}

}  // namespace

MountSlot* FindMount(const char* dir, std::unique_lock<std::mutex>& slotLock, const char* fn, bool usable)
{
    if (!dir) return nullptr;
    std::unique_lock<std::mutex> table(Lib().mountTableLock);
    const int i = SlotOfDir(dir);
    if (i < 0) {
        SFS_LOG(fn, "pMntDir = %s isn't mounted\n", dir);
        return nullptr;
    }
    MountSlot& m = Lib().mounts[i];
    slotLock = std::unique_lock<std::mutex>(m.lock);
    table.unlock();
    if (usable && !m.Usable()) {
        SFS_LOG(fn, "pOp->mounted = %d, umounting = %d\n", m.mounted ? 1 : 0, m.umounting ? 1 : 0);
        slotLock.unlock();
        return nullptr;
    }
    return &m;
}

MountSlot* FindMountHoldingTable(const char* dir, std::unique_lock<std::mutex>& tableLock,
                                 std::unique_lock<std::mutex>& slotLock, const char* fn)
{
    tableLock = std::unique_lock<std::mutex>(Lib().mountTableLock);
    const int i = SlotOfDir(dir);
    if (i < 0) {
        SFS_LOG(fn, "pMntDir = %s isn't mounted\n", dir);
        return nullptr;
    }
    MountSlot& m = Lib().mounts[i];
    slotLock = std::unique_lock<std::mutex>(m.lock);
    if (!m.Usable()) {
        SFS_LOG(fn, "pOp->mounted = %d, umounting = %d\n", m.mounted ? 1 : 0, m.umounting ? 1 : 0);
        slotLock.unlock();
        return nullptr;
    }
    return &m;
}

bool SplitUuid(int32_t uuid, int* mountSlot, uint32_t* frontBlkId, const char* fn)
{
    const uint32_t u = uint32_t(uuid);
    if (u & 0x00FC0000u) {
        SFS_LOG(fn, "error fd = %d\n", uuid);
        return false;
    }
    const uint8_t slot = uint8_t(u >> 24);
    const uint32_t front = u & 0x3FFFF;
    if (slot >= kMountSlots || IsIndexBlockId(front)) {
        SFS_LOG(fn, "error *pBlkBunchOpId = %hhu, *pFrontId = %lu\n", slot, (unsigned long)front);
        return false;
    }
    SFS_INFO(fn, "fileContOpId = %hhu, frontBlkId = %lu\n", slot, (unsigned long)front);
    *mountSlot = slot;
    *frontBlkId = front;
    return true;
}

std::string DirTail2(const std::string& dir) { return dir.size() >= 2 ? dir.substr(dir.size() - 2) : dir; }

std::string ContainerPath(const MountSlot& m, uint32_t fileNo)
{
    return fileNo < m.files.size() ? m.files[fileNo] : std::string();
}

bool ReadNeckFromDisk(const std::string& path, uint32_t blkId, uint32_t blkSize, void* neck)
{
    if (path.empty()) return false;
    velmor::CFileReader f;
    if (!f.Open(path)) return false;
    const uint64_t at = HeadAreaFileOffset(PositionOfBlock(blkId), blkSize) + kDataBlockHeadSize;
    return f.ReadAt(at, neck, kNeckSize) == kNeckSize;
}

namespace {

int64_t Now() { return int64_t(std::time(nullptr)); }

// ---- Mounting the directory -------------------------------------------------------------

struct MountPlan {
    std::string dir;
    std::string device;
    uint16_t sectorSize = 0;
    uint32_t fileSize = 0;
    uint32_t blkSize = 0;
    uint16_t fileContCnt = 0;
    bool coverable = false;
};

bool ReadIndexHead(const std::string& path, uint32_t blkSize, StIndexBlockHead_t* head)
{
    velmor::CFileReader f;
    uint8_t raw[sizeof(StIndexBlockHead_t)];
    if (path.empty() || !f.Open(path) || f.ReadAt(blkSize - kHeadAreaSize, raw, sizeof raw) != sizeof raw)
        return false;
    *head = LoadStruct<StIndexBlockHead_t>(raw);
    return true;
}

// Reads the stored head set of index block file `fileNo` into `set`.
bool ReadHeadSet(const std::string& path, uint32_t blkCnt, uint16_t sectorSize, HeadSet& set)
{
    velmor::CFileReader f;
    if (path.empty() || !f.Open(path)) return false;
    const uint64_t bytes = uint64_t(blkCnt) * kDataBlockHeadSize;
    const uint64_t rounded = (bytes + sectorSize - 1) / sectorSize * sectorSize;
    std::vector<uint8_t> raw(rounded);
    if (f.ReadAt(0, raw.data(), raw.size()) != raw.size()) return false;
    set.resize(blkCnt);
    for (uint32_t b = 0; b < blkCnt; ++b) set[b] = LoadStruct<StDataBlockHead_t>(raw.data() + size_t(b) * 32);
    return true;
}

void MarkBadFiles(HeadSet& set, const std::vector<uint8_t>& badFiles)
{
    const StDataBlockHead_t bad = BadBlockHead();
    for (uint32_t n = 0; n < badFiles.size(); ++n) {
        if (!badFiles[n]) continue;
        for (uint32_t p = 0; p < kBlocksPerFile; ++p) {
            const uint32_t id = BlockIdOf(n, p);
            if (id < set.size() && !IsIndexBlockId(id)) set[id] = bad;
        }
    }
}

// Step 8: every block's head from its container file.
bool RebuildHeadSet(const MountPlan& plan, const std::vector<std::string>& files, const std::vector<uint8_t>& badFiles,
                    HeadSet& set, StIndexBlockHead_t* fresh, const char* fn)
{
    SFS_INFO(fn, "rebuild data block head set start, time = %lld\n", (long long)Now());
    const uint32_t blkCnt = uint32_t(plan.fileContCnt) * kBlocksPerFile;
    set.assign(blkCnt, ZeroStruct<StDataBlockHead_t>());
    const StDataBlockHead_t bad = BadBlockHead();
    uint32_t lastPercent = 0;
    for (uint32_t n = 0; n < plan.fileContCnt; ++n) {
        velmor::CFileReader f;
        const bool open = !badFiles[n] && f.Open(files[n]);
        for (uint32_t p = 0; p < kBlocksPerFile; ++p) {
            const uint32_t id = BlockIdOf(n, p);
            if (IsIndexBlockId(id)) continue;
            if (!open) {
                set[id] = bad;
                continue;
            }
            uint8_t raw[kDataBlockHeadSize];
            if (f.ReadAt(HeadAreaFileOffset(p, plan.blkSize), raw, sizeof raw) != sizeof raw) {
                set[id] = bad;
                continue;
            }
            set[id] = LoadStruct<StDataBlockHead_t>(raw);
            if (set[id].writing() && IsHeadInUse(set[id], id, blkCnt))
                SFS_LOG(fn, "blkId = %lu writing\n", (unsigned long)id);
        }
        const uint32_t percent = uint32_t(uint64_t(n + 1) * 100 / plan.fileContCnt);
        if (percent / 10 != lastPercent / 10 || n + 1 == plan.fileContCnt) {
            SFS_INFO(fn, "blkId = %lu, blkCnt = %lu, rebuild %llu%%, time = %lld\n",
                    (unsigned long)BlockIdOf(n, kBlocksPerFile - 1), (unsigned long)blkCnt,
                    (unsigned long long)percent, (long long)Now());
            lastPercent = percent;
        }
    }
    const FirstLast fl = DecideFirstLastBlkId(set, blkCnt);
    if (!fl.ok) {
        SFS_LOG(fn, "rebuild data block head set fail\n");
        return false;
    }
    // A block in use right after the last one allocated: new blocks reuse
    // the oldest, the partition is covering.
    const uint32_t after = NextDataBlock(fl.lastApplyBlkId, blkCnt);
    const bool covering = fl.anyUsed && IsHeadInUse(set[after], after, blkCnt);
    const uint32_t now = uint32_t(Now());
    StIndexBlockHead_t h = ZeroStruct<StIndexBlockHead_t>();
    std::memcpy(h.sign, "IndexBlk", 8);
    h.version.set(kIndexBlockHeadVersion);
    h.sectorSize.set(plan.sectorSize);
    h.startPos.set(plan.fileSize);
    h.blkSize.set(plan.blkSize);
    h.blkCnt.set(blkCnt);
    h.idxBlkDist.set(kIdxBlkDist);
    h.selfBlkId.set(0);
    h.useId.set(now);
    h.updateNo.set(1);
    h.updateTm.set(now);
    h.lastApplyBlkId.set(fl.lastApplyBlkId);
    h.dataBlkCover.set(covering ? 1 : 0);
    h.firstDataBlkId.set(fl.firstDataBlkId);
    h.rebuildIdxTm.set(now);
    h.mounted = 1;
    SealIndexHead(h);
    *fresh = h;
    SFS_INFO(fn, "rebuild data block head set finish, time = %lld\n", (long long)Now());
    return true;
}

// Step 7, second half: blocks allocated after the index head was written.
void TakeNewerHeads(const MountPlan& plan, const std::vector<std::string>& files, const std::vector<uint8_t>& badFiles,
                    HeadSet& set, StIndexBlockHead_t& newest, const char* fn)
{
    SFS_INFO(fn, "rebuild some data block head set start, time = %lld\n", (long long)Now());
    const uint32_t blkCnt = uint32_t(set.size());
    uint32_t maxUseId = 0;
    for (uint32_t b = 0; b < blkCnt; ++b)
        if (!IsIndexBlockId(b) && IsHeadInUse(set[b], b, blkCnt)) maxUseId = std::max(maxUseId, set[b].useId.get());
    const uint32_t lastApply = newest.lastApplyBlkId.get();
    uint32_t upd = lastApply;
    bool covered = false;
    velmor::CFileReader f;
    int64_t openFile = -1;
    uint32_t b = lastApply;
    for (uint32_t steps = 0; steps < blkCnt; ++steps) {
        b = NextDataBlock(b, blkCnt);
        const uint32_t n = FileOfBlock(b);
        if (n >= badFiles.size() || badFiles[n]) break;
        if (openFile != int64_t(n)) {
            f.Close();
            if (!f.Open(files[n])) {
                SFS_LOG(fn, "rebuild some data block head set fail\n");
                return;
            }
            openFile = n;
        }
        uint8_t raw[kDataBlockHeadSize];
        if (f.ReadAt(HeadAreaFileOffset(PositionOfBlock(b), plan.blkSize), raw, sizeof raw) != sizeof raw) {
            SFS_LOG(fn, "rebuild some data block head set fail\n");
            return;
        }
        const StDataBlockHead_t h = LoadStruct<StDataBlockHead_t>(raw);
        if (!IsHeadInUse(h, b, blkCnt)) break;
        if (h.useId.get() == maxUseId) {
            SFS_LOG(fn, "same useId = %lu\n", (unsigned long)maxUseId);
            SFS_LOG(fn, "conflict blkId = %lu\n", (unsigned long)b);
            break;
        }
        if (h.useId.get() < maxUseId) break;
        if (IsHeadInUse(set[b], b, blkCnt)) covered = true;
        set[b] = h;
        maxUseId = h.useId.get();
        upd = b;
    }
    SFS_INFO(fn, "rebuild some data block head set finish, time = %lld\n", (long long)Now());
    if (upd != lastApply) {
        SFS_LOG(fn, "lastApplyBlkIdUpd = %lu\n", (unsigned long)upd);
        newest.lastApplyBlkId.set(upd);
        if (covered) {
            // The newer blocks reused old ones: the oldest block moved on.
            newest.dataBlkCover.set(1);
            const FirstLast fl = DecideFirstLastBlkId(set, blkCnt);
            if (fl.ok && fl.anyUsed) newest.firstDataBlkId.set(fl.firstDataBlkId);
        }
    }
}

int MountFileDir(const MountPlan& plan)
{
    const char* fn = "MountFileDir";
    SFS_LOG(fn,
            "pMntDir = %s, sectorSize = %hu, startPos = %lu, blkSize = %lu, fileContSize = %lu, fileContCnt = %hu, "
            "coverable = %d\n",
            plan.dir.c_str(), plan.sectorSize, (unsigned long)plan.fileSize, (unsigned long)plan.blkSize,
            (unsigned long)plan.fileSize, plan.fileContCnt, plan.coverable ? 1 : 0);
    if (plan.fileContCnt == 0) {
        SFS_LOG(fn, "fileContCnt = %hu\n", plan.fileContCnt);
        return -1;
    }
    // Step 1: every container file must open and have the right size.
    uint32_t highest = 0;
    std::vector<std::string> files = ListContainerFiles(plan.dir, &highest);
    files.resize(plan.fileContCnt);
    std::vector<uint8_t> badFiles(plan.fileContCnt, 0);
    uint32_t badCnt = 0;
    for (uint32_t n = 0; n < plan.fileContCnt; ++n) {
        bool ok = false;
        if (!files[n].empty()) {
            const int fd = velmor::OpenReadOnly(files[n]);
            struct stat st {};
            ok = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) == plan.fileSize;
            if (fd >= 0) ::close(fd);
        }
        if (!ok) {
            badFiles[n] = 1;
            ++badCnt;
            LogLine("%s:%d fileId = %hu bad\n", fn, __LINE__, uint16_t(n));
        }
    }
    SFS_LOG(fn, "badFileCnt = %lu\n", (unsigned long)badCnt);
    if (badCnt * 2 > plan.fileContCnt) {
        SFS_LOG(fn, "bad file more than half\n");
        return -1;
    }

    // Step 2: a slot.
    const uint32_t blkCnt = uint32_t(plan.fileContCnt) * kBlocksPerFile;
    const uint64_t setSize =
        (uint64_t(blkCnt) * kDataBlockHeadSize + plan.sectorSize - 1) / plan.sectorSize * plan.sectorSize;
    int slotIndex = -1;
    {
        std::lock_guard<std::mutex> table(Lib().mountTableLock);
        if (SlotOfDir(plan.dir.c_str()) >= 0) {
            SFS_LOG(fn, "already mounted\n");
            return -1;
        }
        for (size_t i = 0; i < kMountSlots; ++i)
            if (!Lib().mounts[i].taken) {
                slotIndex = int(i);
                break;
            }
        if (slotIndex < 0) {
            SFS_LOG(fn, "Can't support more than %zu\n", kMountSlots);
            return -1;
        }
        SFS_LOG(fn, "blkCnt = %lu, dataBlkHeadSetSize = %lu\n", (unsigned long)blkCnt, (unsigned long)setSize);
        MountSlot& m = Lib().mounts[slotIndex];
        std::lock_guard<std::mutex> slot(m.lock);
        m.Reset();
        m.taken = true;
        m.mntDir = plan.dir;
    }
    auto giveUp = [&]() {
        std::lock_guard<std::mutex> table(Lib().mountTableLock);
        MountSlot& m = Lib().mounts[slotIndex];
        std::lock_guard<std::mutex> slot(m.lock);
        m.Reset();
        return -1;
    };

    HeadSet set;
    StIndexBlockHead_t latest[2] = {ZeroStruct<StIndexBlockHead_t>(), ZeroStruct<StIndexBlockHead_t>()};
    int latestCnt = 0;
    bool rebuild = false;
    bool rebuilt = false;
    try {
        // Step 3: the two newest index block heads.
        IndexChoice choice;
        const IndexGeometry ig{plan.sectorSize, plan.fileSize, plan.blkSize, blkCnt};
        for (uint32_t n = 0; n < plan.fileContCnt; n += kIdxBlkDist / kBlocksPerFile) {
            if (badFiles[n]) continue;
            StIndexBlockHead_t h;
            if (ReadIndexHead(files[n], plan.blkSize, &h) && IsIndexBlockHeadValid(h, BlockIdOf(n, 0), ig))
                ConsiderIndexHead(choice, h);
        }
        SFS_LOG(fn, "latestCnt = %d\n", choice.latestCnt);
        // Steps 4 and 5.
        const IndexVerdict verdict = JudgeIndexHeads(choice);
        if (verdict == IndexVerdict::kFail) return giveUp();
        latestCnt = choice.latestCnt;
        latest[0] = choice.heads[0];
        latest[1] = choice.heads[1];
        rebuild = verdict == IndexVerdict::kRebuild;
        if (latestCnt == 0) SFS_LOG(fn, "warning: no index or not unmount\n");

        // Step 6: the stored head set.
        if (!rebuild) {
            const uint16_t idxFile = uint16_t(latest[0].selfBlkId.get() >> 5);
            SFS_LOG(fn, "idxFileId = %hu\n", idxFile);
            if (!ReadHeadSet(files[idxFile], blkCnt, plan.sectorSize, set)) {
                SFS_LOG(fn, "read data block index set[0] fail\n");
                if (latestCnt == 2 && latest[1].mounted == 0) {
                    const uint16_t idxFile2 = uint16_t(latest[1].selfBlkId.get() >> 5);
                    if (ReadHeadSet(files[idxFile2], blkCnt, plan.sectorSize, set)) {
                        latest[0].lastApplyBlkId.set(latest[1].lastApplyBlkId.get());
                        latest[0].dataBlkCover.set(latest[1].dataBlkCover.get());
                    } else {
                        SFS_LOG(fn, "read data block index set[1] fail\n");
                        rebuild = true;
                    }
                } else {
                    SFS_LOG(fn, "warning: no index or not unmount\n");
                    rebuild = true;
                }
            }
        }
        // Step 7.
        if (!rebuild) {
            if (!SanitizeLoadedSet(set, SetGeometry{blkCnt, plan.blkSize})) {
                rebuild = true;
            } else {
                MarkBadFiles(set, badFiles);
                TakeNewerHeads(plan, files, badFiles, set, latest[0], fn);
            }
        }
        // Step 8.
        if (rebuild) {
            StIndexBlockHead_t fresh;
            if (!RebuildHeadSet(plan, files, badFiles, set, &fresh, fn)) return giveUp();
            latest[0] = fresh;
            latest[1] = ZeroStruct<StIndexBlockHead_t>();
            latestCnt = 1;
            rebuilt = true;
        }
    } catch (const std::bad_alloc&) {
        SFS_LOG(fn, "errno = %d, means: %s\n", ENOMEM, std::strerror(ENOMEM));
        return giveUp();
    }

    // Step 9.
    bool written = false;
    for (uint32_t b = 0; b < blkCnt && !written; ++b)
        written = !IsIndexBlockId(b) && IsHeadInUse(set[b], b, blkCnt) && set[b].writtenAfterFormat();
    const SetGeometry geo{blkCnt, plan.blkSize};
    FrontLists ffb = BuildFrontBlockLists(set, geo, latest[0].firstDataBlkId.get(), latest[0].lastApplyBlkId.get(),
                                          latest[0].dataBlkCover.get() != 0);
    {
        std::lock_guard<std::mutex> table(Lib().mountTableLock);
        MountSlot& m = Lib().mounts[slotIndex];
        std::lock_guard<std::mutex> slot(m.lock);
        m.sectorSize = plan.sectorSize;
        m.blkSize = plan.blkSize;
        m.blkCnt = blkCnt;
        m.startPos = plan.fileSize;
        m.fileContCnt = plan.fileContCnt;
        m.latestCnt = latestCnt;
        m.latestIBH[0] = latest[0];
        m.latestIBH[1] = latest[1];
        m.heads.swap(set);
        m.ffb = std::move(ffb);
        m.tick = NewTick();
        m.coverable = plan.coverable;
        m.writtenAfterFormat = written;
        m.rebuilt = rebuilt;
        m.device = plan.device;
        m.files.swap(files);
        m.badFiles.swap(badFiles);
        m.badFileCnt = badCnt;
        m.mounted = true;
        for (int i = 0; i < latestCnt; ++i) {
            const StIndexBlockHead_t& h = m.latestIBH[i];
            SFS_LOG(fn,
                    "pOp->latestIBH[%d].selfBlkId = %lu, useId = %lu, updateNo = %lu, lastApplyBlkId = %lu, "
                    "firstDataBlkId = %lu, dataBlkCover = %lu\n",
                    i, (unsigned long)h.selfBlkId.get(), (unsigned long)h.useId.get(), (unsigned long)h.updateNo.get(),
                    (unsigned long)h.lastApplyBlkId.get(), (unsigned long)h.firstDataBlkId.get(),
                    (unsigned long)h.dataBlkCover.get());
        }
    }
    return 0;
}

// A folder without a device: the geometry of its newest valid index block
// head, else of the container files present.
bool GeometryFromFolder(const std::string& dir, MountPlan& plan, const char* fn)
{
    uint32_t highest = 0;
    const std::vector<std::string> files = ListContainerFiles(dir, &highest);
    if (files.empty()) {
        SFS_LOG(fn, "pMntDir = %s holds no container file\n", dir.c_str());
        return false;
    }
    uint64_t fileSize = 0;
    for (const std::string& path : files) {
        struct stat st {};
        if (!path.empty() && ::stat(path.c_str(), &st) == 0 && IsContainerFileSize(uint64_t(st.st_size))) {
            fileSize = uint64_t(st.st_size);
            break;
        }
    }
    if (fileSize == 0) {
        SFS_LOG(fn, "pMntDir = %s holds no container file of 128 or 256 MiB\n", dir.c_str());
        return false;
    }
    const uint32_t blkSize = BlockSizeForFileSize(fileSize);
    bool found = false;
    StIndexBlockHead_t best = ZeroStruct<StIndexBlockHead_t>();
    for (uint32_t n = 0; n < files.size(); n += kIdxBlkDist / kBlocksPerFile) {
        StIndexBlockHead_t h;
        if (!ReadIndexHead(files[n], blkSize, &h)) continue;
        const uint16_t ss = h.sectorSize.get();
        const uint32_t cnt = h.blkCnt.get();
        if (ss < 512 || ss > 4096 || ss % 512 != 0 || 4096 % ss != 0 || cnt == 0 || cnt % kBlocksPerFile != 0 ||
            cnt / kBlocksPerFile > 0xFFFF)
            continue;
        if (!IsIndexBlockHeadValid(h, BlockIdOf(n, 0), IndexGeometry{ss, uint32_t(fileSize), blkSize, cnt})) continue;
        if (!found || IsNewerIndexHead(h, best)) best = h;
        found = true;
    }
    plan.fileSize = uint32_t(fileSize);
    plan.blkSize = blkSize;
    if (found) {
        plan.sectorSize = best.sectorSize.get();
        plan.fileContCnt = uint16_t(best.blkCnt.get() / kBlocksPerFile);
        SFS_LOG(fn, "pMntDir = %s, no device: geometry of index block head %lu, fileContCnt = %hu\n", dir.c_str(),
                (unsigned long)best.selfBlkId.get(), plan.fileContCnt);
    } else {
        plan.sectorSize = 512;
        plan.fileContCnt = uint16_t(std::min<uint32_t>(highest + 1, 0xFFFF));
        SFS_LOG(fn, "pMntDir = %s, no device and no valid index block head: %hu container files\n", dir.c_str(),
                plan.fileContCnt);
    }
    return true;
}

int Mount2(const char* part, const char* dir, uint8_t coverable)
{
    const char* fn = "RKSFS_Mount2";
    SFS_INFO(fn, "pPart = %s, pMntDir = %s, coverable = %d\n", part ? part : "(null)", dir ? dir : "(null)",
            coverable);
    if (!Lib().inited.load()) {
        SFS_LOG(fn, "RKSFS_Init first\n");
        return -1;
    }
    const size_t partLen = part ? strnlen(part, kMaxMntDirLen + 1) : 0;
    if (partLen > kMaxMntDirLen) {
        SFS_LOG(fn, "error argLen1 = %zu\n", partLen);
        return -1;
    }
    const size_t dirLen = dir ? strnlen(dir, kMaxMntDirLen + 1) : 0;
    if (dirLen < 2 || dirLen > kMaxMntDirLen) {
        SFS_LOG(fn, "error argLen2 = %zu\n", dirLen);
        return -1;
    }
    if (dir[dirLen - 1] == '/' || dir[dirLen - 1] == '\\') {
        SFS_LOG(fn, "pMntDir mustn't tail with '/'\n");
        return -1;
    }
    MountPlan plan;
    plan.dir = dir;
    plan.coverable = coverable != 0;
    PartitionGeometry2 g;
    std::string device = partLen > 0 ? std::string(part) : std::string();
    if (device.empty()) {
        device = MountedDeviceOf(plan.dir);
        if (!device.empty() && !ReadPartitionGeometry(device, &g, fn)) {
            SFS_LOG(fn, "pMntDir = %s, device %s not readable, using the index block heads\n", dir, device.c_str());
            device.clear();
        }
    } else if (!ReadPartitionGeometry(device, &g, fn)) {
        return -1;
    }
    if (device.empty()) {
        if (!GeometryFromFolder(plan.dir, plan, fn)) return -1;
    } else {
        plan.device = device;
        plan.sectorSize = g.sectorSize;
        plan.fileSize = g.fileSize;
        plan.blkSize = g.blkSize;
        plan.fileContCnt = g.fileContCnt;
    }
    return MountFileDir(plan);
}

int Umount2(const char* dir, uint8_t force)
{
    const char* fn = "UmountFileDir";
    SFS_INFO(fn, "pMntDir = %s, forceCloseFile = %d\n", dir ? dir : "(null)", force);
    if (!dir) return -1;
    int index = -1;
    {
        std::lock_guard<std::mutex> table(Lib().mountTableLock);
        index = SlotOfDir(dir);
        if (index < 0) {
            SFS_LOG(fn, "pMntDir = %s isn't mounted\n", dir);
            return -1;
        }
        MountSlot& m = Lib().mounts[index];
        std::lock_guard<std::mutex> slot(m.lock);
        if (!m.mounted) {
            // Still being mounted by another call: not ours to take away.
            SFS_LOG(fn, "pOp->mounted = %d, umounting = %d\n", 0, m.umounting ? 1 : 0);
            return -1;
        }
        if (m.umounting) {
            SFS_LOG(fn, "pOp->mounted = %d, umounting = %d\n", 1, 1);
            return -1;
        }
        m.umounting = true;
    }
    if (!CloseFilesOfMount(index, force != 0)) {
        std::lock_guard<std::mutex> slot(Lib().mounts[index].lock);
        Lib().mounts[index].umounting = false;
        return -1;
    }
    std::lock_guard<std::mutex> table(Lib().mountTableLock);
    MountSlot& m = Lib().mounts[index];
    std::lock_guard<std::mutex> slot(m.lock);
    if (!m.mounted) SFS_LOG(fn, "pOp->mounted == false\n");
    m.Reset();
    return 0;
}

int Init(uint32_t recChnCnt)
{
    const char* fn = "RKSFS_Init";
    SFS_INFO(fn, "recChnCnt = %u\n", recChnCnt);
    if (recChnCnt > kMaxChannels || recChnCnt == 0) {
        SFS_LOG(fn, "recChnCnt = %u > %d\n", recChnCnt, int(kMaxChannels));
        return -1;
    }
    Library& lib = Lib();
    // A second init starts over: every file closed, every partition unmounted.
    if (lib.inited.load()) {
        for (size_t i = 0; i < kMountSlots; ++i) {
            std::string dir;
            {
                std::lock_guard<std::mutex> table(lib.mountTableLock);
                if (lib.mounts[i].taken) dir = lib.mounts[i].mntDir;
            }
            if (!dir.empty()) Umount2(dir.c_str(), 1);
        }
    }
    {
        std::lock_guard<std::mutex> table(lib.fileTableLock);
        lib.writeBuffers.clear();
        for (uint32_t c = 0; c < recChnCnt; ++c) {
            void* p = std::calloc(1, kWriteBufferSize);
            if (!p) {
                SFS_LOG(fn, "errno = %d, means: %s\n", errno, std::strerror(errno));
                lib.writeBuffers.clear();
                return -1;
            }
            lib.writeBuffers.emplace_back(static_cast<uint8_t*>(p), std::free);
        }
    }
    SFS_INFO(fn, "sizeof(StIndexBlockHead_t) = %zu, sizeof(StRecDataNeck_t) = %zu\n", sizeof(StIndexBlockHead_t),
            sizeof(StRecDataNeck_t));
    {
        std::lock_guard<std::mutex> ro(lib.roLock);
        for (auto& s : lib.roBegin) std::fill(std::begin(s), std::end(s), 0xFFFFFFFFu);
        for (auto& s : lib.roEnd) std::fill(std::begin(s), std::end(s), 0u);
    }
    lib.recChnCnt.store(recChnCnt);
    lib.inited.store(true);
    return 0;
}

uint32_t OldestEndTime(const char* dir)
{
    const char* fn = "RKSFS_GetOldestEndTime";
    std::unique_lock<std::mutex> lock;
    MountSlot* m = FindMount(dir, lock, fn);
    if (!m) return 0;
    if (!m->writtenAfterFormat || m->Newest().dataBlkCover.get() == 0)
        SFS_LOG(fn, "pOp->writtenAfterFormat = %d, dataBlkCover = %lu\n", m->writtenAfterFormat ? 1 : 0,
                (unsigned long)m->Newest().dataBlkCover.get());
    const uint32_t blkCnt = m->blkCnt;
    const uint64_t now = uint64_t(Now());
    const uint64_t validTm = Lib().roValidTm.load();
    uint32_t b = m->Newest().lastApplyBlkId.get();
    for (uint32_t steps = 0; steps < blkCnt; ++steps) {
        b = (b + 1) % blkCnt;
        if (IsIndexBlockId(b)) continue;
        const StDataBlockHead_t& h = m->heads[b];
        if (h.bad() || h.writing()) continue;
        const bool recordInvalid =
            h.dataType() == kDataTypeRec && CheckRecBlockHead(h, b, m->Geo().Partition(), true) != HeadFault::kOk;
        if (!IsHeadInUse(h, b, blkCnt) || recordInvalid) {
            PrintDataBlockHead(h);
            return 0;
        }
        const uint8_t type = h.dataType();
        if (!m->coverable || type > 4) continue;
        // Types 3 and 4 keep their times where recording blocks do.
        const StRecData_t& rd = h.recData;
        const uint64_t end = uint64_t(rd.beginTime.get()) + rd.duration.get();
        const bool readOnly = type == kDataTypeRec ? rd.readOnly() : (type == 3 || type == 4) && rd.readOnly();
        if (readOnly && end + validTm > now) continue;
        return uint32_t(end);
    }
    SFS_LOG(fn, "can't cover\n");
    return 0xFFFFFFFFu;
}

}  // namespace

}  // namespace rkstore

using namespace rkstore;

extern "C" {

RKSTORE_API int RKSFS_Init(uint32_t recChnCnt)
{
    return Guarded([&] { return Init(recChnCnt); }, -1);
}

RKSTORE_API int RKSFS_Mount2(const char* pPart, const char* pMntDir, uint8_t coverable)
{
    return Guarded([&] { return Mount2(pPart, pMntDir, coverable); }, -1);
}

RKSTORE_API int RKSFS_Umount2(const char* pMntDir, uint8_t forceCloseFile)
{
    return Guarded([&] { return Umount2(pMntDir, forceCloseFile); }, -1);
}

RKSTORE_API uint8_t RKSFS_IsMounted2(const char* pMntDir)
{
    if (!pMntDir) return 0;
    std::lock_guard<std::mutex> table(Lib().mountTableLock);
    for (MountSlot& m : Lib().mounts) {
        if (!m.taken || m.mntDir != pMntDir) continue;
        std::lock_guard<std::mutex> slot(m.lock);
        return m.Usable() ? 1 : 0;
    }
    return 0;
}

RKSTORE_API uint8_t RKSFS_IsCovering(const char* pMntDir)
{
    std::unique_lock<std::mutex> lock;
    MountSlot* m = FindMount(pMntDir, lock, "RKSFS_IsCovering");
    return m && m->Newest().dataBlkCover.get() != 0 ? 1 : 0;
}

RKSTORE_API uint64_t RKSFS_GetTotalSpace(const char* pMntDir)
{
    std::unique_lock<std::mutex> lock;
    MountSlot* m = FindMount(pMntDir, lock, "RKSFS_GetTotalSpace");
    return m ? uint64_t(m->blkCnt) * m->blkSize : 0;
}

RKSTORE_API uint64_t RKSFS_GetFreeSpace(const char* pMntDir)
{
    std::unique_lock<std::mutex> lock;
    MountSlot* m = FindMount(pMntDir, lock, "RKSFS_GetFreeSpace");
    if (!m) return 0;
    if (m->Newest().dataBlkCover.get() != 0) return 0;
    if (!m->writtenAfterFormat) return uint64_t(m->blkCnt) * m->blkSize;
    const int64_t cnt = m->blkCnt;
    const int64_t gap =
        ((int64_t(m->Newest().firstDataBlkId.get()) - int64_t(m->Newest().lastApplyBlkId.get()) - 1) % cnt + cnt) %
        cnt;
    return uint64_t(gap) * m->blkSize;
}

RKSTORE_API uint32_t RKSFS_GetOldestEndTime(const char* pMntDir)
{
    return Guarded([&] { return OldestEndTime(pMntDir); }, 0u);
}

RKSTORE_API int RKSFS_Format(const char* pDev)
{
    const char* fn = "RKSFS_Format";
    const size_t len = pDev ? strnlen(pDev, 16) : 0;
    if (len < 1 || len > 14) {
        SFS_LOG(fn, "error argLen1 = %zu\n", len);
        return -1;
    }
    struct stat st {};
    if (::stat(pDev, &st) != 0 || (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode))) {
        LogLine("%s:%s:%d Not block device, drvTp = %u\n", "RKSFS_Partition", fn, __LINE__,
                unsigned(st.st_mode & S_IFMT) >> 12);
        return -1;
    }
    SFS_LOG(fn, "formatting is not offered\n");
    return -1;
}

RKSTORE_API int RKSFS_FormatPartition(const char* pPart)
{
    const char* fn = "RKSFS_FormatPartition";
    const size_t len = pPart ? strnlen(pPart, 17) : 0;
    if (len < 1 || len > 15) {
        SFS_LOG(fn, "error argLen1 = %zu\n", len);
        return -1;
    }
    if (pPart[len - 1] != '1') {
        SFS_LOG(fn, "only support one first partition\n");
        return -1;
    }
    struct stat st {};
    if (::stat(pPart, &st) != 0 || (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode))) {
        LogLine("%s:%s:%d Not block device, drvTp = %u\n", "RKSFS_Partition", fn, __LINE__,
                unsigned(st.st_mode & S_IFMT) >> 12);
        return -1;
    }
    SFS_LOG(fn, "formatting is not offered\n");
    return -1;
}

RKSTORE_API int RKSFS_GetMountInfo(const char* pMntDir, StMountInfo_t* pInfo)
{
    if (!pInfo) return -1;
    std::unique_lock<std::mutex> lock;
    MountSlot* m = FindMount(pMntDir, lock, "RKSFS_GetMountInfo");
    if (!m) return -1;
    std::memset(pInfo, 0, sizeof *pInfo);
    std::snprintf(pInfo->mntDir, sizeof pInfo->mntDir, "%s", m->mntDir.c_str());
    std::snprintf(pInfo->device, sizeof pInfo->device, "%s", m->device.c_str());
    pInfo->sectorSize = m->sectorSize;
    pInfo->blkSize = m->blkSize;
    pInfo->blkCnt = m->blkCnt;
    pInfo->containerFileSize = m->startPos;
    pInfo->fileContCnt = m->fileContCnt;
    pInfo->badFileCnt = m->badFileCnt;
    pInfo->latestCnt = uint32_t(m->latestCnt);
    for (int i = 0; i < m->latestCnt && i < 2; ++i) {
        const StIndexBlockHead_t& h = m->latestIBH[i];
        StIndexHeadInfo_t& o = pInfo->latestIBH[i];
        o.version = h.version.get();
        o.sectorSize = h.sectorSize.get();
        o.startPos = h.startPos.get();
        o.blkSize = h.blkSize.get();
        o.blkCnt = h.blkCnt.get();
        o.selfBlkId = h.selfBlkId.get();
        o.useId = h.useId.get();
        o.updateNo = h.updateNo.get();
        o.updateTm = h.updateTm.get();
        o.lastApplyBlkId = h.lastApplyBlkId.get();
        o.dataBlkCover = h.dataBlkCover.get();
        o.firstDataBlkId = h.firstDataBlkId.get();
        o.rebuildIdxTm = h.rebuildIdxTm.get();
        o.mounted = h.mounted;
    }
    pInfo->rebuilt = m->rebuilt ? 1 : 0;
    pInfo->firstDataBlkId = m->Newest().firstDataBlkId.get();
    pInfo->lastApplyBlkId = m->Newest().lastApplyBlkId.get();
    pInfo->writtenAfterFormat = m->writtenAfterFormat ? 1 : 0;
    pInfo->coverable = m->coverable ? 1 : 0;
    pInfo->recFileFronts = uint32_t(m->ffb.rec.size());
    pInfo->cmFileFronts = uint32_t(m->ffb.cm.size());
    return 0;
}

}  // extern "C"
