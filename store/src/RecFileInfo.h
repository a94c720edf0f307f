// Record file information derived from the heads of a record file's blocks.
#pragma once

#include <vector>

#include "store/format/RkFormat.h"
#include "store/include/rkstore.h"

namespace rkstore {

// Channel and stream of the first block, readOnly / writing / reasons as the
// OR over all blocks, the size as stored in a backup record file, the first
// block's begin time and the latest end time. `logName` prefixes the two
// notes this can log.
StRecFileInfo_t MakeRecFileInfo(const std::vector<rkfs::StRecHeadArea_t>& blocks, const char* logName);

using rkfs::StoredBlockSize;

}  // namespace rkstore
