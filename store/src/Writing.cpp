// The record writing interface. Its argument rules are kept, but
// this library creates no record file and writes nothing: the create calls
// refuse after their checks, so no descriptor is ever open for writing and
// the write calls refuse through the open-file checks.
#include <cstring>

#include "store/src/OpenFiles.h"
#include "store/src/StoreLog.h"
#include "store/src/StoreState.h"

using namespace rkstore;
using namespace rkfs;

namespace {

bool NegativeFd(int fd, const char* fn)
{
    if (fd >= 0) return false;
    LogLine("%s: fd = %d is not valid file description.\n", fn, fd);
    return true;
}

bool ReasonOk(uint32_t reasonBit, const char* fn)
{
    if (reasonBit >= 1 && reasonBit <= 0xFFFFFF) return true;
    SFS_LOG(fn, "error reason\n");
    return false;
}

int CreateChecks(const char* dir, const StRecEncode_t* enc, const StAudioProp_t* prop, const char* fn)
{
    const size_t len = dir ? strnlen(dir, kMaxMntDirLen + 1) : 0;
    if (len < 2 || len > kMaxMntDirLen) {
        SFS_LOG(fn, "error argLen1 = %zu\n", len);
        return -1;
    }
    if (!enc || enc->frameRate < 1 || enc->frameRate > 60) {
        SFS_LOG(fn, "error enc.frameRate = %hhu\n", enc ? enc->frameRate : uint8_t(0));
        return -1;
    }
    if (enc->aEnc != 0 && !prop) SFS_LOG(fn, "pEnc->aEnc = %d, pAProp == NULL\n", int(enc->aEnc));
    return 0;
}

// The slot of a write call: never one in write mode here.
int WriteSlotCode(int fd, const char* fn)
{
    std::unique_lock<std::mutex> lock;
    int code = -10001;
    FileSlot* slot = LockSlot(fd, lock, fn, &code, SlotCodes{-10001, -10002, -77});
    if (!slot) return code;
    SFS_LOG(fn, "pFileOp->fd = %d, openMod = %d, pDataBuf = %p\n", fd, slot->openMod, static_cast<void*>(nullptr));
    return -10003;
}

}  // namespace

extern "C" {

RKSTORE_API int RKSFS_CreateRecFile(const char* pMntDir, uint8_t channel, uint8_t subStream, uint32_t reasonBit,
                                    const StRecEncode_t* pEnc, const StAudioProp_t* pAProp)
{
    const char* fn = "RKSFS_CreateRecFile";
    LogInfo("%s: pMntDir = %s, channel = %u, subStream = %d, reasonBit = %#x\n", fn, pMntDir ? pMntDir : "(null)",
            unsigned(channel), int(subStream), reasonBit);
    if (CreateChecks(pMntDir, pEnc, pAProp, fn) != 0 || !ReasonOk(reasonBit, fn)) return -1;
    SFS_LOG(fn, "creating record files is not offered\n");
    return -1;
}

RKSTORE_API int RKSFS_CreatePreRecFile(const char* pMntDir, uint8_t channel, uint8_t subStream,
                                       const StRecEncode_t* pEnc, const StAudioProp_t* pAProp)
{
    const char* fn = "RKSFS_CreatePreRecFile";
    LogInfo("%s: pMntDir = %s, channel = %u, subStream = %d\n", fn, pMntDir ? pMntDir : "(null)", unsigned(channel),
            int(subStream));
    if (CreateChecks(pMntDir, pEnc, pAProp, fn) != 0) return -1;
    SFS_LOG(fn, "creating record files is not offered\n");
    return -1;
}

RKSTORE_API int RKSFS_ConvPreRecFile(int fd, uint32_t reasonBit)
{
    const char* fn = "RKSFS_ConvPreRecFile";
    if (NegativeFd(fd, fn)) return -9;
    SFS_LOG(fn, "reasonBit = %#x\n", reasonBit);
    ReasonOk(reasonBit, fn);
    return -1;
}

RKSTORE_API int RKSFS_WriteFrame(int fd, const uint8_t* pPayload, const RKSFS_FRAME_HEAD* pHead)
{
    const char* fn = "RKSFS_WriteFrame";
    if (NegativeFd(fd, fn)) return -9;
    if (!pHead || pHead->sign != kFrameSign || pHead->length == 0 || pHead->pts > 2147483647000000ull) return 0;
    if (!pPayload) return -1;
    try {
        return WriteSlotCode(fd, fn);
    } catch (...) {
        return -1;
    }
}

RKSTORE_API int RKSFS_SetAudioEnc(int fd, uint32_t aEnc, const StAudioProp_t* pAProp)
{
    const char* fn = "RKSFS_SetAudioEnc";
    (void)aEnc;
    (void)pAProp;
    if (NegativeFd(fd, fn)) return -9;
    try {
        std::unique_lock<std::mutex> lock;
        int code = -1;
        FileSlot* slot = LockSlot(fd, lock, fn, &code);
        if (!slot) return -1;
        SFS_LOG(fn, "pFileOp->openMod = %d\n", slot->openMod);
    } catch (...) {
    }
    return -1;
}

RKSTORE_API int RKSFS_UpdateReason(int fd, uint32_t reasonBit)
{
    const char* fn = "RKSFS_UpdateReason";
    if (NegativeFd(fd, fn)) return -9;
    if (!ReasonOk(reasonBit, fn)) return -1;
    try {
        std::unique_lock<std::mutex> lock;
        int code = -1;
        FileSlot* slot = LockSlot(fd, lock, fn, &code);
        if (!slot) return -1;
        SFS_LOG(fn, "pFileOp->openMod = %d\n", slot->openMod);
    } catch (...) {
    }
    return -1;
}

}  // extern "C"
