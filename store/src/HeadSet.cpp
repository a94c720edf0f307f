#include "store/src/HeadSet.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "store/src/StoreLog.h"

namespace rkstore {

using namespace rkfs;

StDataBlockHead_t BadBlockHead()
{
    StDataBlockHead_t h = ZeroStruct<StDataBlockHead_t>();
    h.setBad(true);
    SealHead(h);
    return h;
}

bool IsHeadInUse(const StDataBlockHead_t& h, uint32_t blkId, uint32_t blkCnt)
{
    const uint32_t useId = h.useId.get();
    if (useId == 0 || useId > kMaxUseId) return false;
    const uint8_t type = h.dataType();
    if (type < 1 || type > 6) return false;
    const uint32_t next = h.nextBlkId();
    if (next == blkId || next >= blkCnt || IsForbiddenLink(next)) return false;
    return HeadCheckValueMatches(h);
}

uint32_t UseSizeOf(const StDataBlockHead_t& h)
{
    if (IsCommonType(h.dataType())) return h.cmData.useSize.get();
    return h.recData.useSize.get();
}

bool IsRecordType(uint8_t t) { return t == kDataTypeRec || t == kDataTypeRec2; }
bool IsCommonType(uint8_t t) { return t == kDataTypeCm || t == kDataTypeCmLongName; }

FileKind KindOf(const StDataBlockHead_t& h) { return IsCommonType(h.dataType()) ? FileKind::kCommon : FileKind::kRecord; }

uint32_t PrevOf(const StDataBlockHead_t& h)
{
    return IsCommonType(h.dataType()) ? h.cmData.prevBlkId.get() : h.recData.prevBlkId.get();
}

bool IsValidOfKind(const StDataBlockHead_t& h, uint32_t id, FileKind kind, SetGeometry g)
{
    if (kind == FileKind::kRecord)
        return IsRecordType(h.dataType()) && CheckRecBlockHead(h, id, g.Partition(), true) == HeadFault::kOk;
    return CheckCmBlockHead(h, id, g.Partition()) == HeadFault::kOk;
}

// ---- Index block heads ----------------------------------------------------------

bool IsNewerIndexHead(const StIndexBlockHead_t& a, const StIndexBlockHead_t& b)
{
    if (a.useId.get() != b.useId.get()) return a.useId.get() > b.useId.get();
    return a.updateNo.get() > b.updateNo.get();
}

void ConsiderIndexHead(IndexChoice& c, const StIndexBlockHead_t& head)
{
    for (int i = 0; i < c.latestCnt; ++i)
        if (c.heads[i].useId.get() == head.useId.get()) {
            c.confused = true;
            RKFS_LOG("pIBH->useId = %lu very hard to decide\n", (unsigned long)head.useId.get());
        }
    if (c.latestCnt == 0) {
        c.heads[0] = head;
        c.latestCnt = 1;
    } else if (IsNewerIndexHead(head, c.heads[0])) {
        c.heads[1] = c.heads[0];
        c.heads[0] = head;
        c.latestCnt = 2;
    } else if (c.latestCnt == 1 || IsNewerIndexHead(head, c.heads[1])) {
        c.heads[1] = head;
        c.latestCnt = 2;
    }
}

IndexVerdict JudgeIndexHeads(IndexChoice& c)
{
    if (c.latestCnt == 0) return IndexVerdict::kRebuild;
    bool bad[2] = {false, false};
    for (int i = 0; i < c.latestCnt; ++i) {
        bad[i] = !IsIndexBlockHeadUsable(c.heads[i]);
        if (bad[i])
            RKFS_LOG("pOp->latestIBH[%d].version = %huvs%lu\n", i, c.heads[i].version.get(),
                     (unsigned long)kIndexBlockHeadVersion);
    }
    if (bad[0] || bad[1]) {
        if (c.latestCnt == 2 && !c.confused && bad[0] != bad[1]) {
            if (bad[0]) c.heads[0] = c.heads[1];
            c.latestCnt = 1;
        } else {
            RKFS_LOG("latestCnt = %d, confused = %d\n", c.latestCnt, c.confused ? 1 : 0);
            return IndexVerdict::kFail;
        }
    }
    if (c.latestCnt == 2) {
        const StIndexBlockHead_t& a = c.heads[0];
        const StIndexBlockHead_t& b = c.heads[1];
        const bool consistent = a.firstDataBlkId.get() == b.firstDataBlkId.get() && a.useId.get() != b.useId.get() &&
                                a.updateNo.get() != b.updateNo.get();
        if (!consistent) {
            RKFS_LOG("warning: index block conflict, firstDataBlkId = %luvs%lu, useId = %lu, updateNo = %lu\n",
                     (unsigned long)a.firstDataBlkId.get(), (unsigned long)b.firstDataBlkId.get(),
                     (unsigned long)a.useId.get(), (unsigned long)a.updateNo.get());
            return IndexVerdict::kRebuild;
        }
        if (b.updateNo.get() > a.updateNo.get()) std::swap(c.heads[0], c.heads[1]);
    }
    if (c.heads[0].mounted == 1) RKFS_LOG("warning: not unmount normally\n");
    return IndexVerdict::kUseHeadSet;
}

// ---- Loaded set ------------------------------------------------------------------

bool SanitizeLoadedSet(HeadSet& set, SetGeometry g)
{
    const uint32_t n = std::min<uint32_t>(g.blkCnt, uint32_t(set.size()));
    uint32_t maxUseId = 0;
    uint32_t maxCount = 0;
    for (uint32_t b = 0; b < n; ++b) {
        if (IsIndexBlockId(b)) continue;
        StDataBlockHead_t& h = set[b];
        if (h.useId.get() == 0 && !h.bad()) continue;
        if (!IsHeadInUse(h, b, g.blkCnt)) {
            h = ZeroStruct<StDataBlockHead_t>();
            continue;
        }
        if (IsRecordType(h.dataType()) && CheckRecBlockHead(h, b, g.Partition(), true) != HeadFault::kOk) {
            RKFS_LOG("conflict blkId = %lu\n", (unsigned long)b);
            h = ZeroStruct<StDataBlockHead_t>();
            continue;
        }
        const uint32_t useId = h.useId.get();
        if (useId > maxUseId) {
            maxUseId = useId;
            maxCount = 1;
        } else if (useId == maxUseId) {
            ++maxCount;
        }
    }
    if (maxCount > 1) {
        RKFS_LOG("same useId = %lu\n", (unsigned long)maxUseId);
        return false;
    }
    return true;
}

// ---- First and last block ---------------------------------------------------------

uint32_t NextDataBlock(uint32_t id, uint32_t blkCnt)
{
    if (blkCnt == 0) return 0;
    for (uint32_t i = 0; i < blkCnt; ++i) {
        id = (id + 1) % blkCnt;
        if (!IsIndexBlockId(id)) return id;
    }
    return id;
}

FirstLast DecideFirstLastBlkId(const HeadSet& set, uint32_t blkCnt)
{
    FirstLast r;
    const uint32_t n = std::min<uint32_t>(blkCnt, uint32_t(set.size()));
    uint32_t minId = 0, maxId = 0, minBlk = 0, maxBlk = 0;
    bool minConflict = false, maxConflict = false;
    for (uint32_t b = 0; b < n; ++b) {
        if (IsIndexBlockId(b) || !IsHeadInUse(set[b], b, blkCnt)) continue;
        const uint32_t useId = set[b].useId.get();
        if (!r.anyUsed) {
            r.anyUsed = true;
            minId = maxId = useId;
            minBlk = maxBlk = b;
            continue;
        }
        if (useId < minId) {
            minId = useId;
            minBlk = b;
            minConflict = false;
        } else if (useId == minId) {
            minConflict = true;
        }
        if (useId > maxId) {
            maxId = useId;
            maxBlk = b;
            maxConflict = false;
        } else if (useId == maxId) {
            maxConflict = true;
        }
    }
    if (!r.anyUsed) {
        RKFS_LOG("have no used.\n");
        r.ok = true;
        r.firstDataBlkId = 32;
        r.lastApplyBlkId = 0;
        return r;
    }
    if (minConflict) RKFS_LOG("warning: same minUseId = %lu\n", (unsigned long)minId);
    if (maxConflict) RKFS_LOG("warning: same maxUseId = %lu\n", (unsigned long)maxId);
    if (minConflict && maxConflict) {
        RKFS_LOG("conflictMinUseId = %lu, conflictMaxUseId = %lu both conflict\n", (unsigned long)minId,
                 (unsigned long)maxId);
        r.ok = false;
        return r;
    }
    auto usedWith = [&](uint32_t b, uint32_t useId) {
        return !IsIndexBlockId(b) && IsHeadInUse(set[b], b, blkCnt) && set[b].useId.get() == useId;
    };
    if (maxConflict) {
        // The first block with that useId going forward from the oldest block.
        for (uint32_t i = 0, b = minBlk; i < n; ++i, b = (b + 1) % n)
            if (usedWith(b, maxId)) {
                maxBlk = b;
                break;
            }
    } else if (minConflict) {
        for (uint32_t i = 0, b = maxBlk; i < n; ++i, b = (b + n - 1) % n)
            if (usedWith(b, minId)) {
                minBlk = b;
                break;
            }
    }
    r.ok = true;
    r.firstDataBlkId = minBlk;
    r.lastApplyBlkId = maxBlk;
    r.minUseId = minId;
    r.maxUseId = maxId;
    RKFS_LOG("lastApplyBlkId = %lu, firstDataBlkId = %lu, minUseId = %lu, maxUseId = %lu\n", (unsigned long)maxBlk,
             (unsigned long)minBlk, (unsigned long)minId, (unsigned long)maxId);
    return r;
}

// ---- Chains ---------------------------------------------------------------------------

LinkState CheckLink(const HeadSet& set, uint32_t from, FileKind kind, SetGeometry g)
{
    const uint32_t next = set[from].nextBlkId();
    if (next == 0) return LinkState::kEnd;
    if (next >= g.blkCnt || next >= set.size() || IsIndexBlockId(next)) return LinkState::kBroken;
    const StDataBlockHead_t& nh = set[next];
    if (!IsValidOfKind(nh, next, kind, g) || PrevOf(nh) != from) return LinkState::kBroken;
    if (UseSizeOf(nh) <= kHeadAreaSize) return LinkState::kNoData;
    return LinkState::kOk;
}

void CutChain(HeadSet& set, uint32_t id, LinkState why, const char* fn)
{
    StDataBlockHead_t& h = set[id];
    if (why == LinkState::kNoData)
        LogLine("%s:%s:%d tailBlkId = %lu, pTailDBH->nextBlkId = %lu applyed but no use\n", "rkstore", fn, __LINE__,
                (unsigned long)id, (unsigned long)h.nextBlkId());
    else
        LogLine("%s:%s:%d tailBlkId = %lu, pTailDBH->nextBlkId = %lu\n", "rkstore", fn, __LINE__, (unsigned long)id,
                (unsigned long)h.nextBlkId());
    h.setNextBlkId(0);
    SealHead(h);
}

std::vector<uint32_t> WalkChain(const HeadSet& set, uint32_t first, FileKind kind, SetGeometry g, size_t limit)
{
    std::vector<uint32_t> chain;
    if (first >= set.size() || limit == 0) return chain;
    chain.push_back(first);
    uint32_t cur = first;
    while (chain.size() < limit && chain.size() < g.blkCnt) {
        if (CheckLink(set, cur, kind, g) != LinkState::kOk) break;
        cur = set[cur].nextBlkId();
        chain.push_back(cur);
    }
    return chain;
}

// ---- Front-block lists -------------------------------------------------------------------

FrontLists BuildFrontBlockLists(HeadSet& set, SetGeometry g, uint32_t firstDataBlkId, uint32_t lastApplyBlkId,
                                bool covering)
{
    const char* fn = "BuildFileFrontBlk";
    FrontLists lists;
    const uint32_t n = std::min<uint32_t>(g.blkCnt, uint32_t(set.size()));
    if (n == 0) return lists;
    std::vector<uint8_t> visited(n, 0);

    auto process = [&](uint32_t id) {
        if (IsIndexBlockId(id) || visited[id]) return;
        const StDataBlockHead_t& h = set[id];
        if (!IsHeadInUse(h, id, g.blkCnt) || h.bad() || !h.writtenAfterFormat()) return;
        const uint8_t type = h.dataType();
        if (!IsRecordType(type) && !IsCommonType(type)) return;
        const FileKind kind = KindOf(h);
        if (!IsValidOfKind(h, id, kind, g)) return;
        visited[id] = 1;
        if (UseSizeOf(h) <= kHeadAreaSize) {
            LogLine("%s:%s:%d blkId = %lu applyed but no use\n", "rkstore", fn, __LINE__, (unsigned long)id);
            return;
        }
        std::vector<uint32_t>& list = kind == FileKind::kRecord ? lists.rec : lists.cm;
        if (list.size() == list.capacity())
            RKFS_LOG("type = %d, pFFB->count = %lu, bufLen = %lu\n", int(kind), (unsigned long)list.size(),
                     (unsigned long)(list.capacity() * 2 + 16));
        list.push_back(id);
        uint32_t cur = id;
        for (uint32_t steps = 0; steps < n; ++steps) {
            const LinkState s = CheckLink(set, cur, kind, g);
            if (s == LinkState::kEnd) break;
            if (s != LinkState::kOk) {
                CutChain(set, cur, s, fn);
                break;
            }
            const uint32_t next = set[cur].nextBlkId();
            if (visited[next]) {
                // An earlier chain began at `next`: this block comes before it.
                auto it = std::find(list.begin(), list.end() - 1, next);
                if (it != list.end() - 1) {
                    *it = id;
                    list.pop_back();
                } else {
                    CutChain(set, cur, LinkState::kBroken, fn);
                }
                break;
            }
            visited[next] = 1;
            cur = next;
        }
    };

    if (covering) {
        uint32_t id = lastApplyBlkId % n;
        for (uint32_t i = 0; i < n; ++i) {
            id = (id + 1) % n;
            process(id);
        }
    } else {
        uint32_t id = firstDataBlkId % n;
        for (uint32_t i = 0; i < n; ++i) {
            process(id);
            if (id == lastApplyBlkId) break;
            id = (id + 1) % n;
        }
    }

    // Two common files of one name: neither is trusted.
    std::map<std::string, std::vector<size_t>> byName;
    for (size_t i = 0; i < lists.cm.size(); ++i) {
        const StDataBlockHead_t& h = set[lists.cm[i]];
        byName[std::string(h.cmData.fileName, strnlen(h.cmData.fileName, sizeof h.cmData.fileName))].push_back(i);
    }
    std::vector<uint8_t> drop(lists.cm.size(), 0);
    for (const auto& [name, idx] : byName) {
        if (idx.size() < 2) continue;
        for (size_t k = 1; k < idx.size(); ++k)
            LogLine("%s:%s:%d blkId = %lu, blkId2 = %lu, pDBH->cmData.fileName = %s, conflict\n", "rkstore", fn,
                    __LINE__, (unsigned long)lists.cm[idx[0]], (unsigned long)lists.cm[idx[k]], name.c_str());
        for (size_t i : idx) drop[i] = 1;
    }
    std::vector<uint32_t> kept;
    for (size_t i = 0; i < lists.cm.size(); ++i)
        if (!drop[i]) kept.push_back(lists.cm[i]);
    lists.cm.swap(kept);
    return lists;
}

// ---- Record file information -------------------------------------------------------------

StRecFileInfo_t MakeRecFileInfoFromHeads(const std::vector<StDataBlockHead_t>& heads, bool continuedByBorrow,
                                         const char* logName)
{
    StRecFileInfo_t fi;
    std::memset(&fi, 0, sizeof fi);
    if (heads.empty()) return fi;
    const StRecData_t& first = heads.front().recData;
    fi.channel = first.channel;
    fi.subStream = first.subStream() ? 1 : 0;
    fi.beginTime = first.beginTime.get();
    fi.endTime = first.beginTime.get();
    for (size_t i = 0; i < heads.size(); ++i) {
        const StDataBlockHead_t& h = heads[i];
        const StRecData_t& rd = h.recData;
        fi.readOnly |= rd.readOnly() ? 1 : 0;
        fi.writing |= h.writing() ? 1 : 0;
        fi.reasonBit |= rd.reason();
        fi.size += StoredBlockSize(rd, i == 0);
        if (rd.duration.get() > 0) {
            const uint32_t end = rd.beginTime.get() + rd.duration.get() - 1;
            if (end > fi.endTime) fi.endTime = end;
        }
        if (i > 0 && rd.beginTime.get() < fi.beginTime && rd.duration.get() > 0)
            SFS_LOG(logName, "pRD->beginTime = %lu, little than pF->beginTime = %lu\n",
                    (unsigned long)rd.beginTime.get(), (unsigned long)fi.beginTime);
    }
    if (first.lend.get() != 0) {
        fi.continued = 1;
        SFS_LOG(logName,
                "pF->uuid = %d, channel = %hhu, readOnly = %d, writing = %d, beginTime = %lu, pDBH->useId = %lu, "
                "recData.lend = %lu\n",
                fi.uuid, fi.channel, fi.readOnly, fi.writing, (unsigned long)fi.beginTime,
                (unsigned long)heads.front().useId.get(), (unsigned long)first.lend.get());
    }
    if (continuedByBorrow && heads.back().recData.borrow.get() != 0) fi.continued = 1;
    return fi;
}

}  // namespace rkstore
