// The data block head set of a mounted partition and the decisions taken on
// it at mount and in searches: which heads are in use, which block is the
// oldest and which was allocated last, how chains of blocks are walked and cut, and
// which blocks begin files. Pure functions on memory: no file is read here,
// so the mount and the fuzz targets share them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "store/format/RkFormat.h"
#include "store/include/rkstore.h"

namespace rkstore {

using HeadSet = std::vector<rkfs::StDataBlockHead_t>;

struct SetGeometry {
    uint32_t blkCnt = 0;
    uint32_t blkSize = 0;
    rkfs::PartitionGeometry Partition() const { return {blkCnt, blkSize}; }
};

// The bad-block head: all zero but `bad`, sealed.
rkfs::StDataBlockHead_t BadBlockHead();

// A head "in use" for the decision of the first and last block: useId in
// range, dataType 1 to 6, a plausible nextBlkId, a matching check value.
bool IsHeadInUse(const rkfs::StDataBlockHead_t& h, uint32_t blkId, uint32_t blkCnt);

// useSize of a block of any kind that has one (recording or common file).
uint32_t UseSizeOf(const rkfs::StDataBlockHead_t& h);

// ---- Index block heads ----------------------------------------------------------

// The newest two valid index block heads found so far, newest first.
struct IndexChoice {
    int latestCnt = 0;
    rkfs::StIndexBlockHead_t heads[2]{};
    bool confused = false;  // two heads had the same useId
};
// a newer than b: the greater useId, for equal useId the greater updateNo.
bool IsNewerIndexHead(const rkfs::StIndexBlockHead_t& a, const rkfs::StIndexBlockHead_t& b);
void ConsiderIndexHead(IndexChoice& choice, const rkfs::StIndexBlockHead_t& head);

// Steps 4 and 5 of mounting the directory: which of the heads is used.
enum class IndexVerdict {
    kUseHeadSet,  // load the head set of heads[0] (then heads[1] as the fallback)
    kRebuild,     // no usable pair: rebuild the set from every block
    kFail,        // a wrong version that cannot be worked around
};
IndexVerdict JudgeIndexHeads(IndexChoice& choice);

// ---- After loading a stored head set ------------------------------------------------

// Clears heads that are not in use or not plausible and recording heads that
// break the recording rules (step 7). Returns false when two heads share the
// greatest useId, which asks for a full rebuild.
bool SanitizeLoadedSet(HeadSet& set, SetGeometry g);

// ---- First and last block ---------------------------------------------------------------

struct FirstLast {
    bool ok = false;       // false: both ends conflict
    bool anyUsed = false;
    uint32_t firstDataBlkId = 32;
    uint32_t lastApplyBlkId = 0;
    uint32_t minUseId = 0;
    uint32_t maxUseId = 0;
};
FirstLast DecideFirstLastBlkId(const HeadSet& set, uint32_t blkCnt);

// The next data block id after `id`, circularly, skipping index blocks.
uint32_t NextDataBlock(uint32_t id, uint32_t blkCnt);

// ---- Chains ------------------------------------------------------------------------------

enum class FileKind { kRecord, kCommon };
FileKind KindOf(const rkfs::StDataBlockHead_t& h);
bool IsRecordType(uint8_t dataType);  // 1 or 2
bool IsCommonType(uint8_t dataType);  // 5 or 6

// The head of block `id` is a valid head of `kind`.
bool IsValidOfKind(const rkfs::StDataBlockHead_t& h, uint32_t id, FileKind kind, SetGeometry g);
// prevBlkId of a recording or common-file head.
uint32_t PrevOf(const rkfs::StDataBlockHead_t& h);

// How the link from block `from` to its nextBlkId stands.
enum class LinkState { kEnd, kOk, kBroken, kNoData };
LinkState CheckLink(const HeadSet& set, uint32_t from, FileKind kind, SetGeometry g);

// Clears `id`'s nextBlkId in the set and reseals the head; logs the cut.
void CutChain(HeadSet& set, uint32_t id, LinkState why, const char* fn);

// GetFileBlk: the blocks of a file from its first block, following links
// that are valid and hold data, at most `limit` blocks.
std::vector<uint32_t> WalkChain(const HeadSet& set, uint32_t first, FileKind kind, SetGeometry g,
                                size_t limit);

// ---- Front-block lists -----------------------------------------------------------------------

struct FrontLists {
    std::vector<uint32_t> rec;  // first blocks of record files, oldest first
    std::vector<uint32_t> cm;   // first blocks of common files
};
// BuildFileFrontBlk. Broken links are cut in `set`.
FrontLists BuildFrontBlockLists(HeadSet& set, SetGeometry g, uint32_t firstDataBlkId, uint32_t lastApplyBlkId,
                                bool covering);

// ---- Record file information ----------------------------------------------------------------

// From the heads of a chain (first block first); `continuedByBorrow` also
// sets the continued flag when the last block lends to a next one.
StRecFileInfo_t MakeRecFileInfoFromHeads(const std::vector<rkfs::StDataBlockHead_t>& heads, bool continuedByBorrow,
                                         const char* logName);

}  // namespace rkstore
