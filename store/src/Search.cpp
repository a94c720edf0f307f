// Record search on a mounted partition and read-only protection.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>

#include "store/src/HeadSet.h"
#include "store/src/StoreLog.h"
#include "store/src/StoreState.h"

namespace rkstore {

using namespace rkfs;

namespace {

// The blocks of the record file that starts at `front`, walked as the search
// walks them: a broken link is cut in the head set, a next block without
// data ends the walk.
std::vector<uint32_t> SearchChain(MountSlot& m, uint32_t front, const char* fn)
{
    std::vector<uint32_t> chain{front};
    uint32_t cur = front;
    while (chain.size() < m.blkCnt) {
        const LinkState s = CheckLink(m.heads, cur, FileKind::kRecord, m.Geo());
        if (s == LinkState::kEnd) break;
        if (s == LinkState::kBroken) {
            CutChain(m.heads, cur, s, fn);
            break;
        }
        if (s == LinkState::kNoData) {
            SFS_LOG(fn, "applyed but no use blkId = %lu, pTailDBH->nextBlkId = %lu\n", (unsigned long)cur,
                    (unsigned long)m.heads[cur].nextBlkId());
            break;
        }
        cur = m.heads[cur].nextBlkId();
        chain.push_back(cur);
    }
    return chain;
}

StRecFileInfo_t InfoOfChain(MountSlot& m, int mountIndex, const std::vector<uint32_t>& chain, const char* fn)
{
    std::vector<StDataBlockHead_t> heads;
    heads.reserve(chain.size());
    for (uint32_t id : chain) heads.push_back(m.heads[id]);
    StRecFileInfo_t fi = MakeRecFileInfoFromHeads(heads, true, fn);
    fi.uuid = MakeUuid(mountIndex, chain.front());
    const std::string tail = DirTail2(m.mntDir);
    std::memset(fi.dirTail2, 0, sizeof fi.dirTail2);
    std::memcpy(fi.dirTail2, tail.data(), std::min<size_t>(tail.size(), 2));
    const StDataBlockHead_t& last = heads.back();
    if (last.recData.borrow.get() != 0)
        SFS_LOG(fn,
                "rf.channel = %hhu, readOnly = %d, writing = %d, beginTime = %lu, endTime = %lu, pTailDBH->useId = "
                "%lu, recData.borrow = %lu\n",
                fi.channel, fi.readOnly, fi.writing, (unsigned long)fi.beginTime, (unsigned long)fi.endTime,
                (unsigned long)last.useId.get(), (unsigned long)last.recData.borrow.get());
    return fi;
}

bool Matches(const StRecFileInfo_t& fi, const StRecSearchCond_t& c)
{
    if (fi.channel >= 32 || !(c.chnBit & (1u << fi.channel))) return false;
    if (!(c.reasonBit & fi.reasonBit)) return false;
    if (c.subStream != 0xFFFFFFFFu && c.subStream != fi.subStream) return false;
    if (c.readOnly != 0xFFFFFFFFu && c.readOnly != fi.readOnly) return false;
    return fi.beginTime <= c.endTime && fi.endTime >= c.beginTime;
}

template <typename Seg>
struct SegArray {
    Seg* data = nullptr;
    size_t capacity = 0;
    size_t* hold = nullptr;
    bool Active() const { return data && hold; }
    void Save(const Seg& s)
    {
        if (!Active()) return;
        if (*hold < capacity) {
            data[(*hold)++] = s;
            return;
        }
        if (capacity == 0) return;
        size_t min = 0;
        for (size_t i = 1; i < capacity; ++i)
            if (data[i].beginTime < data[min].beginTime) min = i;
        if (s.beginTime >= data[min].beginTime) data[min] = s;
    }
    void RemoveFile(int32_t uuid)
    {
        if (!Active()) return;
        size_t k = 0;
        for (size_t i = 0; i < *hold; ++i)
            if (data[i].uuid != uuid) data[k++] = data[i];
        *hold = k;
    }
};

// Reason and read-only segments of an accepted file.
void AddSegments(const MountSlot& m, const std::vector<uint32_t>& chain, int32_t uuid, const StRecSearchCond_t& c,
                 SegArray<StRecRsnSeg_t>& rsn, SegArray<StRecRoSeg_t>& ro)
{
    std::optional<StRecRsnSeg_t> open[24];
    std::optional<StRecRoSeg_t> roOpen;
    for (uint32_t id : chain) {
        const StRecData_t& rd = m.heads[id].recData;
        if (rd.useSize.get() <= kHeadAreaSize || rd.duration.get() == 0) continue;
        const uint32_t begin = rd.beginTime.get();
        const uint32_t end = BlockEndTime(rd);
        const bool inSpan = begin <= c.endTime && end >= c.beginTime;
        const uint32_t reasons = rd.reason() & c.reasonBit;
        for (uint32_t bit = 0; bit < 24; ++bit) {
            if (inSpan && (reasons & (1u << bit))) {
                // The segment is packed: its fields are copied, never bound by reference.
                const uint32_t openEnd = open[bit] ? uint32_t(open[bit]->endTime) : 0;
                if (open[bit] && begin >= openEnd && uint64_t(begin) <= uint64_t(openEnd) + 5) {
                    open[bit]->endTime = end > openEnd ? end : openEnd;
                    open[bit]->readOnly = uint8_t(open[bit]->readOnly | (rd.readOnly() ? 1 : 0));
                } else {
                    if (open[bit]) rsn.Save(*open[bit]);
                    open[bit] = StRecRsnSeg_t{bit, begin, end, uuid, uint8_t(rd.readOnly() ? 1 : 0)};
                }
            } else if (open[bit]) {
                rsn.Save(*open[bit]);
                open[bit].reset();
            }
        }
        if (inSpan && rd.readOnly()) {
            if (roOpen && begin >= roOpen->endTime && uint64_t(begin) <= uint64_t(roOpen->endTime) + 5) {
                roOpen->endTime = std::max(roOpen->endTime, end);
                roOpen->reasonBit |= reasons;
            } else {
                if (roOpen) ro.Save(*roOpen);
                roOpen = StRecRoSeg_t{begin, end, uuid, reasons};
            }
        } else if (roOpen) {
            ro.Save(*roOpen);
            roOpen.reset();
        }
    }
    for (auto& s : open)
        if (s) rsn.Save(*s);
    if (roOpen) ro.Save(*roOpen);
}

int MountIndexOf(const MountSlot* m)
{
    for (size_t i = 0; i < kMountSlots; ++i)
        if (&Lib().mounts[i] == m) return int(i);
    return -1;
}

int Search2(const char* dir, const StRecSearchCond_t* cond, StRecFileInfo_t* rec, size_t count, size_t hold,
            SegArray<StRecRsnSeg_t> rsn, SegArray<StRecRoSeg_t> ro, bool ex)
{
    const char* fn = "SearchLatestRecFile2";
    if (!MntDirLengthOk(dir) || !cond || cond->endTime < cond->beginTime ||
        (cond->subStream != 0 && cond->subStream != 1 && cond->subStream != 0xFFFFFFFFu) || (!rec && count > 0) ||
        hold > count) {
        SFS_LOG(fn, "argument error\n");
        return -1;
    }
    if (ex && ((rsn.data && !rsn.hold) || (ro.data && !ro.hold))) {
        SFS_LOG(fn, "pRsnSeg = %p, pRsnHold = %p, pRoSeg = %p, pRoHold = %p\n", static_cast<void*>(rsn.data),
                static_cast<void*>(rsn.hold), static_cast<void*>(ro.data), static_cast<void*>(ro.hold));
        return -1;
    }
    if (rsn.hold && *rsn.hold > rsn.capacity) *rsn.hold = rsn.capacity;
    if (ro.hold && *ro.hold > ro.capacity) *ro.hold = ro.capacity;
    std::unique_lock<std::mutex> table, lock;
    MountSlot* m = FindMountHoldingTable(dir, table, lock, fn);
    if (!m) return -1;
    const int mountIndex = MountIndexOf(m);
    std::vector<uint32_t>& list = m->ffb.rec;
    if (list.empty()) {
        SFS_LOG(fn, "pFFB->pBlkIdBuf = %p, count = %d\n", static_cast<void*>(list.data()), 0);
        return -1;
    }
    const uint32_t chnCnt = Lib().recChnCnt.load();
    size_t held = hold;
    size_t moves = 0;  // replacements of one entry by its next block
    for (size_t i = 0; i < list.size();) {
        const uint32_t id = list[i];
        const StDataBlockHead_t& h = m->heads[id];
        const StRecData_t& rd = h.recData;
        const bool valid = id < m->blkCnt && CheckRecBlockHead(h, id, m->Geo().Partition()) == HeadFault::kOk &&
                           rd.channel < chnCnt && rd.useSize.get() > kHeadAreaSize;
        if (!valid) {
            SFS_LOG(fn, "pFFB->pBlkIdBuf[%lu] = %lu, count = %lu\n", (unsigned long)i, (unsigned long)id,
                    (unsigned long)list.size());
            list.erase(list.begin() + long(i));
            continue;
        }
        if (!rd.hasIFrameHead()) {
            // Only a file whose first blocks were covered starts without an
            // I frame: it goes on from its next block.
            const LinkState s = rd.prevBlkId.get() != 0 ? CheckLink(m->heads, id, FileKind::kRecord, m->Geo())
                                                        : LinkState::kEnd;
            if (s == LinkState::kOk && ++moves <= m->blkCnt) {
                list[i] = h.nextBlkId();
                continue;
            }
            if (s == LinkState::kBroken || s == LinkState::kNoData) CutChain(m->heads, id, s, fn);
            list.erase(list.begin() + long(i));
            moves = 0;
            continue;
        }
        moves = 0;
        const std::vector<uint32_t> chain = SearchChain(*m, id, fn);
        const StRecFileInfo_t fi = InfoOfChain(*m, mountIndex, chain, fn);
        ++i;
        if (!Matches(fi, *cond)) continue;
        if (held < count) {
            rec[held++] = fi;
            AddSegments(*m, chain, fi.uuid, *cond, rsn, ro);
            continue;
        }
        if (count == 0) continue;
        size_t min = 0;
        for (size_t k = 1; k < count; ++k)
            if (rec[k].beginTime < rec[min].beginTime) min = k;
        if (fi.beginTime < rec[min].beginTime) continue;
        rsn.RemoveFile(rec[min].uuid);
        ro.RemoveFile(rec[min].uuid);
        rec[min] = fi;
        AddSegments(*m, chain, fi.uuid, *cond, rsn, ro);
    }
    SFS_INFO(fn, "ret = %zu, count = %zu\n", held, count);
    return int(held);
}

int BuildRecFileInfo(StRecFileInfo_t* out, int32_t uuid, const char* tail)
{
    const char* fn = "RKSFS_BuildRecFileInfo";
    if (!out) return -1;
    int mountIndex = 0;
    uint32_t front = 0;
    if (!SplitUuid(uuid, &mountIndex, &front, fn)) return -1;
    std::lock_guard<std::mutex> table(Lib().mountTableLock);
    MountSlot& m = Lib().mounts[mountIndex];
    std::lock_guard<std::mutex> lock(m.lock);
    if (!m.taken || !m.Usable()) {
        SFS_LOG(fn, "pOp->mounted = %d, umounting = %d\n", m.mounted ? 1 : 0, m.umounting ? 1 : 0);
        return -1;
    }
    if (tail && DirTail2(m.mntDir) != std::string(tail, strnlen(tail, 3))) {
        SFS_LOG(fn, "pDirTail2 = %s, pOp->mntDir = %s\n", tail, m.mntDir.c_str());
        return -1;
    }
    const StDataBlockHead_t* h = front < m.heads.size() ? &m.heads[front] : nullptr;
    if (!h || CheckRecBlockHead(*h, front, m.Geo().Partition()) != HeadFault::kOk ||
        h->recData.useSize.get() <= kHeadAreaSize || !h->recData.hasIFrameHead()) {
        SFS_LOG(fn, "blkId = %lu, pDBH->recData.lend = %lu, hasIFrameHead = %d\n", (unsigned long)front,
                (unsigned long)(h ? h->recData.lend.get() : 0), h && h->recData.hasIFrameHead() ? 1 : 0);
        return -1;
    }
    *out = InfoOfChain(m, mountIndex, SearchChain(m, front, fn), fn);
    return 0;
}

bool ChannelOk(uint8_t channel, const char* fn)
{
    const uint32_t cnt = Lib().recChnCnt.load();
    if (channel >= cnt) {
        SFS_LOG(fn, "channel = %hhu, tiRecChnCnt = %hhu\n", channel, uint8_t(cnt));
        return false;
    }
    return true;
}

bool PerFileChecks(const StRecFileInfo_t* rec, uint8_t readOnly, const char* fn)
{
    if (!rec) return false;
    const size_t len = strnlen(rec->dirTail2, sizeof rec->dirTail2);
    if (len != 2) {
        SFS_LOG(fn, "pRec->dirTail2 = %.3s, len = %zu != 2\n", rec->dirTail2, len);
        return false;
    }
    SFS_LOG(fn, "uuid = %d, readOnly = %d\n", rec->uuid, readOnly);
    int slot = 0;
    uint32_t front = 0;
    return SplitUuid(rec->uuid, &slot, &front, fn);
}

}  // namespace

}  // namespace rkstore

using namespace rkstore;

extern "C" {

RKSTORE_API int RKSFS_SearchLatestRecFile(const char* pMntDir, const StRecSearchCond_t* pCond, StRecFileInfo_t* pRec,
                                          size_t count, size_t hold)
{
    return Guarded([&] { return Search2(pMntDir, pCond, pRec, count, hold, {}, {}, false); }, -1);
}

RKSTORE_API int RKSFS_SearchLatestRecFileEx(const char* pMntDir, const StRecSearchCond_t* pCond,
                                            StRecFileInfo_t* pRec, size_t count, size_t hold,
                                            StRecRsnSeg_t* pRsnSeg, size_t rsnCount, size_t* pRsnHold,
                                            StRecRoSeg_t* pRoSeg, size_t roCount, size_t* pRoHold)
{
    return Guarded(
        [&] {
            return Search2(pMntDir, pCond, pRec, count, hold, SegArray<StRecRsnSeg_t>{pRsnSeg, rsnCount, pRsnHold},
                           SegArray<StRecRoSeg_t>{pRoSeg, roCount, pRoHold}, true);
        },
        -1);
}

RKSTORE_API int RKSFS_SearchRecFile(const char* pMntDir, const StRecSearchCond_t* pCond)
{
    (void)pCond;
    SFS_LOG("RKSFS_SearchRecFile", "pMntDir = %s: not offered, use RKSFS_SearchLatestRecFile\n",
            pMntDir ? pMntDir : "(null)");
    return -1;
}

RKSTORE_API int RKSFS_BuildRecFileInfo(StRecFileInfo_t* pRec, int32_t uuid, const char* pDirTail2)
{
    return Guarded([&] { return BuildRecFileInfo(pRec, uuid, pDirTail2); }, -1);
}

RKSTORE_API int RKSFS_SetRecBlockRO(uint8_t channel, uint8_t subStream, uint32_t beginTime, uint32_t endTime)
{
    const char* fn = "RKSFS_SetRecBlockRO";
    if (endTime == 0 || beginTime > endTime || subStream > 1) return -1;
    if (!ChannelOk(channel, fn)) return -1;
    Library& lib = Lib();
    std::lock_guard<std::mutex> ro(lib.roLock);
    uint32_t& b = lib.roBegin[subStream][channel];
    uint32_t& e = lib.roEnd[subStream][channel];
    if (e == 0 || b > e) {
        b = beginTime;
        e = endTime;
    } else {
        b = std::min(b, beginTime);
        e = std::max(e, endTime);
    }
    SFS_LOG(fn, "tiRecROBgTm = %lu, tiRecROEndTm = %lu\n", (unsigned long)b, (unsigned long)e);
    // No file is ever open for writing here, so no current block to mark.
    // The window is set whether it was new, widened or unchanged: success.
    return 0;
}

RKSTORE_API int RKSFS_CancelRecBlockRO(uint8_t channel, uint8_t subStream)
{
    const char* fn = "RKSFS_CancelRecBlockRO";
    if (!ChannelOk(channel, fn) || subStream > 1) return -1;
    std::lock_guard<std::mutex> ro(Lib().roLock);
    Lib().roEnd[subStream][channel] = 0;
    Lib().roBegin[subStream][channel] = 0xFFFFFFFFu;
    return 0;
}

RKSTORE_API int RKSFS_SetROValidTime(uint64_t seconds)
{
    Lib().roValidTm.store(seconds);
    SFS_INFO("RKSFS_SetROValidTime", "roValidTm = %lu\n", (unsigned long)seconds);
    return 0;
}

RKSTORE_API void RKSFS_SetPreRecordTime(uint32_t seconds)
{
    Lib().preTm.store(seconds);
    SFS_INFO("RKSFS_SetPreRecordTime", "preTm = %lu\n", (unsigned long)seconds);
}

RKSTORE_API int RKSFS_SetRecFileRO(const StRecFileInfo_t* pRec, uint8_t readOnly)
{
    PerFileChecks(pRec, readOnly, "RKSFS_SetRecFileRO");
    return -1;
}

RKSTORE_API int RKSFS_SetRecRsnSegRO(const StRecRsnSeg_t* pSeg, const StRecFileInfo_t* pRec, uint8_t readOnly)
{
    (void)pSeg;
    PerFileChecks(pRec, readOnly, "RKSFS_SetRecRsnSegRO");
    return -1;
}

RKSTORE_API int RKSFS_SetRecRoSegRO(const StRecRoSeg_t* pSeg, const StRecFileInfo_t* pRec, uint8_t readOnly)
{
    (void)pSeg;
    PerFileChecks(pRec, readOnly, "RKSFS_SetRecRoSegRO");
    return -1;
}

}  // extern "C"
