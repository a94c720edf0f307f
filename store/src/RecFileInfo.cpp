#include "store/src/RecFileInfo.h"

#include <cstring>

#include "store/src/StoreLog.h"

namespace rkstore {

using namespace rkfs;

StRecFileInfo_t MakeRecFileInfo(const std::vector<StRecHeadArea_t>& blocks, const char* logName)
{
    StRecFileInfo_t fi;
    std::memset(&fi, 0, sizeof fi);
    if (blocks.empty()) return fi;
    const StRecData_t& first = blocks.front().head.recData;
    fi.channel = first.channel;
    fi.subStream = first.subStream() ? 1 : 0;
    fi.beginTime = first.beginTime.get();
    fi.endTime = first.beginTime.get();
    for (size_t i = 0; i < blocks.size(); ++i) {
        const StDataBlockHead_t& h = blocks[i].head;
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
                (unsigned long)blocks.front().head.useId.get(), (unsigned long)first.lend.get());
    }
    return fi;
}

}  // namespace rkstore
