#include "store/src/RecFileInfo.h"

#include "store/src/HeadSet.h"

namespace rkstore {

using namespace rkfs;

StRecFileInfo_t MakeRecFileInfo(const std::vector<StRecHeadArea_t>& blocks, const char* logName)
{
    std::vector<StDataBlockHead_t> heads;
    heads.reserve(blocks.size());
    for (const StRecHeadArea_t& b : blocks) heads.push_back(b.head);
    return MakeRecFileInfoFromHeads(heads, false, logName);
}

}  // namespace rkstore
