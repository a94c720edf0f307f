// The library-wide state of the mounted-partition functions: the mount
// table, the open-file table, the read-only windows and the settings.
//
// Locks, and the one order in which they are ever taken (a thread holding a
// lock takes only locks further down this list):
//   1. the file table lock   (open and close: slot allocation, descriptors)
//   2. a file slot's lock    (held for a whole call on that descriptor)
//   3. the mount table lock  (finding, taking and freeing mount slots)
//   4. a mount slot's lock   (the slot's fields and head set)
//   5. the read-only window lock
// Unmounting takes 3 and 4, sets `umounting`, releases them, then closes the
// mount's files with 1 and 2, then takes 3 and 4 again to free the slot.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/format/RkFormat.h"
#include "store/include/rkstore.h"
#include "store/src/HeadSet.h"

namespace rkstore {

constexpr size_t kMountSlots = RKSFS_MAX_MOUNTS;
constexpr size_t kFileSlots = RKSFS_MAX_OPEN_FILES;
constexpr size_t kMaxMntDirLen = RKSFS_MNT_DIR_MAX - 1;
constexpr uint32_t kMaxChannels = RKSFS_MAX_CHANNELS;
constexpr uint32_t kWriteBufferSize = 0x81000;

struct MountSlot {
    std::mutex lock;
    // Changed only under the mount table lock and `lock`: read under either.
    bool taken = false;
    std::string mntDir;
    // Under `lock`.
    bool umounting = false;
    bool mounted = false;
    uint16_t sectorSize = 0;
    uint32_t blkSize = 0;
    uint32_t blkCnt = 0;
    uint32_t startPos = 0;
    uint16_t fileContCnt = 0;
    int latestCnt = 0;
    rkfs::StIndexBlockHead_t latestIBH[2]{};
    HeadSet heads;
    FrontLists ffb;
    int64_t tick = 0;
    bool coverable = false;
    bool writtenAfterFormat = false;
    bool rebuilt = false;
    std::string device;
    std::vector<std::string> files;  // path of each container file ("" when missing)
    std::vector<uint8_t> badFiles;
    uint32_t badFileCnt = 0;

    SetGeometry Geo() const { return {blkCnt, blkSize}; }
    const rkfs::StIndexBlockHead_t& Newest() const { return latestIBH[0]; }
    bool Usable() const { return mounted && !umounting; }
    // Back to a free slot (under both locks).
    void Reset();
};

class CMountedRecord;
class CCommonFile;

struct FileSlot {
    std::mutex lock;
    std::atomic<int> fd{-1};  // -1 free; read without the lock to find a slot
    bool reserved = false;    // under the file table lock: taken or being opened
    // Under `lock`.
    int kind = 0;  // 0 none, 1 record file, 2 common file
    int openMod = 0;
    bool error = false;
    int mountSlot = -1;
    int64_t tick = 0;  // blkBunchTick: the mount it was opened under
    uint32_t blkCnt = 0;
    uint32_t blkSize = 0;
    uint16_t sectorSize = 0;
    std::unique_ptr<CMountedRecord> rec;
    std::unique_ptr<CCommonFile> cm;
    void Reset();
};

struct Library {
    std::mutex fileTableLock;
    std::mutex mountTableLock;
    std::mutex roLock;
    std::atomic<bool> inited{false};
    std::atomic<uint32_t> recChnCnt{0};
    MountSlot mounts[kMountSlots];
    FileSlot files[kFileSlots];
    int nextFd = 0;  // under the file table lock
    std::atomic<int64_t> lastTick{0};
    // Read-only windows, under roLock.
    uint32_t roBegin[2][kMaxChannels]{};
    uint32_t roEnd[2][kMaxChannels]{};
    std::atomic<uint64_t> roValidTm{0};
    std::atomic<uint32_t> preTm{0};
    std::vector<std::unique_ptr<uint8_t, void (*)(void*)>> writeBuffers;  // under the file table lock
};

Library& Lib();

// A tick for a new mount: the clock in microseconds, and always later than
// any tick given before.
int64_t NewTick();

// Mount-directory rules shared by every function that takes one.
bool MntDirLengthOk(const char* dir);

// Finds the mount of `dir` under the mount table lock, takes its lock and
// releases the table lock. Logs and returns null when no slot holds it, or
// (when `usable` is asked) when it is not mounted or being unmounted.
MountSlot* FindMount(const char* dir, std::unique_lock<std::mutex>& slotLock, const char* fn, bool usable = true);
// The same with the table lock kept (searches hold it for their run).
MountSlot* FindMountHoldingTable(const char* dir, std::unique_lock<std::mutex>& tableLock,
                                 std::unique_lock<std::mutex>& slotLock, const char* fn);

// uuid = mount slot << 24 | first block id.
inline int32_t MakeUuid(int mountSlot, uint32_t frontBlkId) { return int32_t((uint32_t(mountSlot) << 24) | frontBlkId); }
// Splits a uuid; false (after the log line) when its form is wrong.
bool SplitUuid(int32_t uuid, int* mountSlot, uint32_t* frontBlkId, const char* fn);

// The last two characters of a mount directory.
std::string DirTail2(const std::string& dir);

// Path of container file n of a mount ("" when it is missing).
std::string ContainerPath(const MountSlot& m, uint32_t fileNo);

// Reads the 4064-byte neck of block `blkId` from its container file.
bool ReadNeckFromDisk(const std::string& path, uint32_t blkId, uint32_t blkSize, void* neck);

// ---- Descriptor calls ------------------------------------------------------------------

// Finds the slot of `fd` by scanning, takes its lock and checks that it still
// carries `fd` and is not in error. On failure returns null after the log
// line and puts the code in *code: -1 (or the given codes).
struct SlotCodes {
    int notFound = -1;
    int closedMeanwhile = -1;
    int inError = -1;
};
FileSlot* LockSlot(int fd, std::unique_lock<std::mutex>& lock, const char* fn, int* code,
                   SlotCodes codes = SlotCodes{});

// Frees a slot's contents and its descriptor (slot lock held; the caller
// holds the file table lock too, or the slot is being given up).
void FreeSlot(FileSlot& slot, int fd, const char* fn);

// Closes every slot of mount slot `m` (takes the file table and slot locks).
// Without force, a slot open for writing refuses and false is returned.
bool CloseFilesOfMount(int m, bool force);

// Takes a free file slot and gives it the next descriptor: called with the
// file table lock held.
FileSlot* TakeFreeSlot(const char* fn);
int NextDescriptor();

}  // namespace rkstore
