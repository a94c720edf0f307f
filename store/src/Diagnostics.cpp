// Diagnostic prints of block heads.
#include <cstdio>
#include <cstring>
#include <string>

#include "store/include/rkstore.h"
#include "store/src/StoreDiagnostics.h"
#include "store/src/StoreLog.h"

namespace rkstore {

using namespace rkfs;

void PrintDataBlockHead(const StDataBlockHead_t& h)
{
    uint8_t bytes[kDataBlockHeadSize];
    StoreStruct(bytes, h);
    std::string hex;
    char pair[4];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        hex += pair;
    }
    LogInfo("%s\n", hex.c_str());
    LogInfo("useId = %lu, bad = %lu, writing = %lu, writtenAfterFormat = %lu, dataType = %lu, nextBlkId = %lu\n",
            (unsigned long)h.useId.get(), (unsigned long)h.bad(), (unsigned long)h.writing(),
            (unsigned long)h.writtenAfterFormat(), (unsigned long)h.dataType(), (unsigned long)h.nextBlkId());
    if (h.dataType() == kDataTypeCm || h.dataType() == kDataTypeCmLongName) {
        char name[16] = {};
        std::memcpy(name, h.cmData.fileName, 15);
        LogInfo("prevBlkId = %lu, useSize = %lu, fileName = %s\n", (unsigned long)h.cmData.prevBlkId.get(),
                (unsigned long)h.cmData.useSize.get(), name);
    } else {
        const StRecData_t& rd = h.recData;
        LogInfo("channel = %hhu, subStream = %lu, readOnly = %lu, hasIFrameHead = %lu, prevBlkId = %lu, beginTime = %lu, "
                "duration = %hu, useSize = %lu, reason1 = %lu, lend = %lu, reason2 = %lu, borrow = %lu, reason3 = %lu\n",
                rd.channel, (unsigned long)rd.subStream(), (unsigned long)rd.readOnly(),
                (unsigned long)rd.hasIFrameHead(), (unsigned long)rd.prevBlkId.get(),
                (unsigned long)rd.beginTime.get(), rd.duration.get(), (unsigned long)rd.useSize.get(),
                (unsigned long)rd.reason1, (unsigned long)rd.lend.get(), (unsigned long)rd.reason2,
                (unsigned long)rd.borrow.get(), (unsigned long)rd.reason3);
    }
    const uint8_t check = HeadCheckValue(h);
    if (check == h.checkValue)
        LogInfo("checkValue = %hhu\n", check);
    else
        LogInfo("checkValue = %hhu, pDBH->checkValue = %hhu\n", check, h.checkValue);
}

}  // namespace rkstore

extern "C" RKSTORE_API void RKSFS_PrintDataBlockHead(const void* head)
{
    if (!head) return;
    rkstore::PrintDataBlockHead(rkfs::LoadStruct<rkfs::StDataBlockHead_t>(head));
}
