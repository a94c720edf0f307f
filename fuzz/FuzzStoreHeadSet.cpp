// Feeds index block heads and data block head sets to the decisions a mount
// takes on them, in memory: which index head is used, which stored heads are
// kept, the first and last blocks, the front-block lists with their chain
// walks and cuts, and the record file information of every chain.
//
//   byte 0        container files: 1 + byte % 64
//   byte 1        bit 0: covering (when no index head is used)
//   bytes 2-66    an index block head of block 0; 67-131: one of block 4096
//   the rest      the head set, 32 bytes a block, missing bytes zero
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "store/src/HeadSet.h"

using namespace rkstore;
using namespace rkfs;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!std::freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 + 2 * sizeof(StIndexBlockHead_t)) return 0;
    const uint32_t files = 1 + data[0] % 64;
    const SetGeometry g{files * kBlocksPerFile, 0x400000};
    const IndexGeometry ig{512, 0x8000000, g.blkSize, g.blkCnt};
    IndexChoice choice;
    for (int i = 0; i < 2; ++i) {
        const auto h = LoadStruct<StIndexBlockHead_t>(data + 2 + i * sizeof(StIndexBlockHead_t));
        if (IsIndexBlockHeadValid(h, uint32_t(i) * kIdxBlkDist, ig)) ConsiderIndexHead(choice, h);
    }
    const IndexVerdict verdict = JudgeIndexHeads(choice);
    if (choice.latestCnt < 0 || choice.latestCnt > 2) std::abort();

    HeadSet set(g.blkCnt, ZeroStruct<StDataBlockHead_t>());
    const uint8_t* raw = data + 2 + 2 * sizeof(StIndexBlockHead_t);
    const size_t left = size - 2 - 2 * sizeof(StIndexBlockHead_t);
    for (uint32_t b = 0; b < g.blkCnt && size_t(b) * 32 < left; ++b) {
        uint8_t head[32] = {};
        std::memcpy(head, raw + size_t(b) * 32, std::min<size_t>(32, left - size_t(b) * 32));
        set[b] = LoadStruct<StDataBlockHead_t>(head);
    }
    const bool kept = SanitizeLoadedSet(set, g);
    const FirstLast fl = DecideFirstLastBlkId(set, g.blkCnt);
    uint32_t first = fl.firstDataBlkId, last = fl.lastApplyBlkId;
    bool covering = data[1] & 1;
    if (verdict == IndexVerdict::kUseHeadSet && kept) {
        first = choice.heads[0].firstDataBlkId.get() % g.blkCnt;
        last = choice.heads[0].lastApplyBlkId.get() % g.blkCnt;
        covering = choice.heads[0].dataBlkCover.get() != 0;
    }
    if (fl.ok && fl.anyUsed && (fl.firstDataBlkId >= g.blkCnt || fl.lastApplyBlkId >= g.blkCnt)) std::abort();
    const FrontLists lists = BuildFrontBlockLists(set, g, first, last, covering);
    std::set<uint32_t> seen;
    for (const auto* list : {&lists.rec, &lists.cm})
        for (uint32_t id : *list) {
            if (id >= g.blkCnt || IsIndexBlockId(id) || !seen.insert(id).second) std::abort();
            const FileKind kind = list == &lists.rec ? FileKind::kRecord : FileKind::kCommon;
            const std::vector<uint32_t> chain = WalkChain(set, id, kind, g, g.blkCnt);
            if (chain.empty() || chain.size() > g.blkCnt) std::abort();
            if (kind == FileKind::kRecord) {
                std::vector<StDataBlockHead_t> heads;
                for (uint32_t b : chain) heads.push_back(set[b]);
                const StRecFileInfo_t fi = MakeRecFileInfoFromHeads(heads, true, "fuzz");
                if (fi.channel >= 16 && IsValidOfKind(set[id], id, kind, g)) std::abort();
            }
        }
    return 0;
}
