#include "store/format/RkFormat.h"

#include "common/LibraryLog.h"

#include <cctype>
#include <cstdarg>
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace rkfs {

namespace {

void LogAt(int level, const char* fmt, va_list args)
{
    char line[1024];
    int n = std::vsnprintf(line, sizeof line, fmt, args);
    if (n < 0) return;
    velmor::LogText(velmor::LogLibrary::Store, level, line);
}

}  // namespace

void LogLine(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    LogAt(velmor::kLogFailure, fmt, args);
    va_end(args);
}

void LogInfo(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    LogAt(velmor::kLogInfo, fmt, args);
    va_end(args);
}

RK_FRAME_HEAD FrameHeadToPublic(const StFrameHead_t& head)
{
    return RK_FRAME_HEAD{head.sign, head.channel, head.subStream, head.type, head.length.get(), head.pts.get()};
}

StFrameHead_t FrameHeadFromPublic(const RK_FRAME_HEAD& head)
{
    auto out = ZeroStruct<StFrameHead_t>();
    out.sign = head.sign;
    out.channel = head.channel;
    out.subStream = head.subStream;
    out.type = head.type;
    out.length.set(head.length);
    out.pts.set(head.pts);
    return out;
}

bool GeometryOfDevice(uint64_t L, uint32_t s, DeviceGeometry* out)
{
    if (s < 512 || s > 4096 || s % 512 != 0 || 4096 % s != 0) return false;
    if (L < kMinDeviceSize || L % s != 0) return false;
    constexpr uint64_t kReserved = 8ull << 20;
    const uint64_t F = L > (1ull << 39) ? kContainerFileSize256 : kContainerFileSize128;
    const uint64_t U = 128ull * s;
    const uint64_t m = (L - kReserved) / F;
    const uint64_t r = F - U * ((64 * m + U - 1) / U);
    const uint64_t v = (r - 32ull * s) / 8 - 2;
    const uint64_t P = r + v * U;
    const uint64_t usable = std::min(L - kReserved, P);
    if (usable < 4 * F) return false;
    out->sectorSize = s;
    out->devSize = L;
    out->fileSize = uint32_t(F);
    out->blkSize = BlockSizeForFileSize(F);
    out->fileCount = uint32_t((usable - 2 * F) / F - 2);
    return true;
}

uint8_t HeadCheckValue(const StDataBlockHead_t& head)
{
    uint8_t bytes[kDataBlockHeadSize];
    StoreStruct(bytes, head);
    unsigned sum = 0;
    for (size_t i = 0; i < 31; ++i) sum += bytes[i];
    return uint8_t(sum);
}

bool HeadCheckValueMatches(const StDataBlockHead_t& head) { return head.checkValue == HeadCheckValue(head); }

void SealHead(StDataBlockHead_t& head) { head.checkValue = HeadCheckValue(head); }

uint32_t NeckCheckValue(const StRecDataNeck_t& neck)
{
    uint32_t sum = neck.sign.get();
    const uint16_t cnt = neck.ifrIdxCnt.get();
    if (cnt == 0) return sum;
    const StIFrameIdx_t& last = neck.ifrIdx[IndexedIFrames(neck) - 1];
    return sum + cnt + last.offset.get() + last.length.get();
}

uint32_t IndexHeadCheckValue(const StIndexBlockHead_t& head)
{
    uint8_t bytes[sizeof(StIndexBlockHead_t)];
    StoreStruct(bytes, head);
    uint32_t sum = 0;
    for (size_t off = 0; off < 60; off += 4) sum += velmor::LoadLE32(bytes + off);
    return sum;
}

void SealIndexHead(StIndexBlockHead_t& head) { head.checkValue.set(IndexHeadCheckValue(head)); }

uint32_t BlockEndTime(const StRecData_t& rd)
{
    const uint32_t d = rd.duration.get();
    return d == 0 ? rd.beginTime.get() : rd.beginTime.get() + d - 1;
}

bool IsEncodeRecordValid(const StEncodeRecord_t& enc)
{
    return enc.reso < 10 && enc.vEnc < 4 && enc.aEnc < 14 && enc.frameRate >= 1 && enc.frameRate <= 60;
}

namespace {

struct Resolution {
    uint32_t width, height480, height576;
};
constexpr Resolution kResolutions[10] = {
    {352, 240, 288},   {704, 480, 576}, {720, 480, 576},   {1280, 720, 720}, {1920, 1080, 1080},
    {960, 480, 576},   {640, 720, 720}, {960, 1080, 1080}, {1280, 960, 960}, {4096, 2160, 2160},
};

}  // namespace

bool ResolutionSize(uint32_t code, uint32_t videoStandard, uint32_t* width, uint32_t* height)
{
    if (code >= 10) return false;
    if (width) *width = kResolutions[code].width;
    if (height) *height = videoStandard == 1 ? kResolutions[code].height480 : kResolutions[code].height576;
    return true;
}

bool ResolutionCode(uint32_t width, uint32_t height, uint32_t* code, uint32_t* videoStandard)
{
    for (uint32_t c = 0; c < 10; ++c) {
        const Resolution& r = kResolutions[c];
        if (r.width != width) continue;
        if (r.height480 != r.height576) {
            // The line count tells the system.
            if (height != r.height480 && height != r.height576) continue;
            *code = c;
            *videoStandard = height == r.height480 ? 1 : 0;
            return true;
        }
        if (height != r.height576) continue;
        *code = c;
        if (*videoStandard == 0xFFFFFFFF) *videoStandard = (c == 6 || c == 7) ? 1 : 0;
        return true;
    }
    return false;
}

bool IsReservedName(std::string_view name)
{
    if (name.find('*') != std::string_view::npos) return true;
    if (name.size() < 4) return false;
    std::string_view ext = name.substr(name.size() - 4);
    auto is = [&](const char* e) {
        for (size_t i = 0; i < 4; ++i)
            if (std::tolower(static_cast<unsigned char>(ext[i])) != e[i]) return false;
        return true;
    };
    return is(".rpo") || is(".rec") || is(".avi") || is(".mp4");
}

const char* HeadFaultText(HeadFault fault)
{
    switch (fault) {
        case HeadFault::kOk: return "valid";
        case HeadFault::kUseId: return "useId out of range";
        case HeadFault::kDataType: return "wrong data type";
        case HeadFault::kNotWrittenAfterFormat: return "not written since format";
        case HeadFault::kBad: return "marked bad";
        case HeadFault::kCheckValue: return "check value mismatch";
        case HeadFault::kNextBlkId: return "bad nextBlkId";
        case HeadFault::kPrevBlkId: return "bad prevBlkId";
        case HeadFault::kChannel: return "channel out of range";
        case HeadFault::kLendBorrow: return "lend or borrow too large";
        case HeadFault::kUseSize: return "bad useSize";
        case HeadFault::kTimeRange: return "time out of range";
        case HeadFault::kIFrameWithoutDuration: return "I frame without duration";
        case HeadFault::kByte30: return "byte 30 not zero";
        case HeadFault::kFileName: return "bad file name";
    }
    return "unknown";
}

namespace {

// Rules 1 and 2 shared by every kind of data block.
HeadFault CheckCommon(const StDataBlockHead_t& head)
{
    const uint32_t useId = head.useId.get();
    if (useId == 0 || useId > kMaxUseId) return HeadFault::kUseId;
    if (!head.writtenAfterFormat()) return HeadFault::kNotWrittenAfterFormat;
    if (head.bad()) return HeadFault::kBad;
    if (!HeadCheckValueMatches(head)) return HeadFault::kCheckValue;
    return HeadFault::kOk;
}

bool IsChainLinkOk(uint32_t link, uint32_t blkId, uint32_t blkCnt)
{
    return link != blkId && link < blkCnt && !IsForbiddenLink(link);
}

HeadFault CheckRecBody(const StRecData_t& rd, uint32_t blkSize, bool backup)
{
    const uint32_t lend = rd.lend.get();
    const uint32_t borrow = rd.borrow.get();
    const uint32_t useSize = rd.useSize.get();
    if (rd.channel >= 16) return HeadFault::kChannel;
    if (borrow > blkSize - kHeadAreaSize || lend > blkSize - kHeadAreaSize) return HeadFault::kLendBorrow;
    if (uint64_t(lend) + kHeadAreaSize > useSize || useSize > blkSize) return HeadFault::kUseSize;
    if (borrow != 0) {
        if (backup ? (useSize != 0x400000 && useSize != 0x800000) : useSize != blkSize) return HeadFault::kUseSize;
    }
    if (uint64_t(rd.beginTime.get()) + rd.duration.get() >= (uint64_t(1) << 31)) return HeadFault::kTimeRange;
    if (rd.hasIFrameHead() && rd.duration.get() == 0) return HeadFault::kIFrameWithoutDuration;
    return HeadFault::kOk;
}

HeadFault CheckRecType(const StDataBlockHead_t& head, bool acceptType2)
{
    const uint8_t type = head.dataType();
    if (type == kDataTypeRec || (acceptType2 && type == kDataTypeRec2)) return HeadFault::kOk;
    return HeadFault::kDataType;
}

}  // namespace

HeadFault CheckRecBlockHead(const StDataBlockHead_t& head, uint32_t blkId, PartitionGeometry geometry,
                            bool acceptType2)
{
    if (head.useId.get() == 0 || head.useId.get() > kMaxUseId) return HeadFault::kUseId;
    if (HeadFault f = CheckRecType(head, acceptType2); f != HeadFault::kOk) return f;
    if (HeadFault f = CheckCommon(head); f != HeadFault::kOk) return f;
    if (!IsChainLinkOk(head.nextBlkId(), blkId, geometry.blkCnt)) return HeadFault::kNextBlkId;
    if (!IsChainLinkOk(head.recData.prevBlkId.get(), blkId, geometry.blkCnt)) return HeadFault::kPrevBlkId;
    return CheckRecBody(head.recData, geometry.blkSize, false);
}

HeadFault CheckBakRecBlockHead(const StDataBlockHead_t& head, bool acceptType2)
{
    if (head.useId.get() == 0 || head.useId.get() > kMaxUseId) return HeadFault::kUseId;
    if (HeadFault f = CheckRecType(head, acceptType2); f != HeadFault::kOk) return f;
    if (HeadFault f = CheckCommon(head); f != HeadFault::kOk) return f;
    return CheckRecBody(head.recData, kBackupBlockSize, true);
}

HeadFault CheckCmBlockHead(const StDataBlockHead_t& head, uint32_t blkId, PartitionGeometry geometry)
{
    const uint8_t type = head.dataType();
    if (type != kDataTypeCm && type != kDataTypeCmLongName) return HeadFault::kDataType;
    if (HeadFault f = CheckCommon(head); f != HeadFault::kOk) return f;
    if (!IsChainLinkOk(head.nextBlkId(), blkId, geometry.blkCnt)) return HeadFault::kNextBlkId;
    if (!IsChainLinkOk(head.cmData.prevBlkId.get(), blkId, geometry.blkCnt)) return HeadFault::kPrevBlkId;
    const uint32_t useSize = head.cmData.useSize.get();
    if (useSize < kHeadAreaSize || useSize > geometry.blkSize) return HeadFault::kUseSize;
    if (head.cmData.fileName[14] != 0) return HeadFault::kByte30;
    const std::string_view name(head.cmData.fileName, std::strlen(head.cmData.fileName));
    if (type == kDataTypeCm ? (name.empty() || IsReservedName(name)) : name.size() != 14) return HeadFault::kFileName;
    return HeadFault::kOk;
}

bool IsRecDataNeckValid(const StRecDataNeck_t& neck, const StRecData_t& rd)
{
    const uint32_t check = NeckCheckValue(neck);
    if (neck.sign.get() != kRecDataNeckSign || neck.checkValue.get() != check) {
        RKFS_LOG("pRDN->sign = %#x, checkValue = %lu, checkValue = %lu\n", neck.sign.get(),
                 (unsigned long)neck.checkValue.get(), (unsigned long)check);
        return false;
    }
    const uint16_t n = IndexedIFrames(neck);
    if (n == 0) return true;
    const uint32_t lend = rd.lend.get();
    if (uint64_t(neck.ifrIdx[0].offset.get()) < uint64_t(lend) + kHeadAreaSize) {
        RKFS_LOG("pRDN->ifrIdx[0].offset = %lu, pRD->lend = %lu\n", (unsigned long)neck.ifrIdx[0].offset.get(),
                 (unsigned long)lend);
        return false;
    }
    if (neck.ifrIdx[n - 1].offset.get() >= rd.useSize.get()) {
        RKFS_LOG("pRDN->ifrIdx[cnt - 1].offset = %lu, pRD->useSize = %lu\n",
                 (unsigned long)neck.ifrIdx[n - 1].offset.get(), (unsigned long)rd.useSize.get());
        return false;
    }
    for (uint16_t i = 0; i + 1 < n; ++i) {
        const uint64_t end = uint64_t(neck.ifrIdx[i].offset.get()) + neck.ifrIdx[i].length.get();
        if (end > neck.ifrIdx[i + 1].offset.get()) {
            RKFS_LOG("pRDN->ifrIdx[%hu].offset = %lu, length = %lu, pRDN->ifrIdx[i+1].offset = %lu\n", i,
                     (unsigned long)neck.ifrIdx[i].offset.get(), (unsigned long)neck.ifrIdx[i].length.get(),
                     (unsigned long)neck.ifrIdx[i + 1].offset.get());
            return false;
        }
    }
    return true;
}

bool IsLongNameNeckValid(const StLongNameNeck_t& neck, std::string_view abbreviation)
{
    if (neck.sign.get() != kLongNameNeckSign || neck.fullName[63] != 0) return false;
    const std::string_view full(neck.fullName, std::strlen(neck.fullName));
    if (full.size() < 15 || IsReservedName(full) || abbreviation.size() != 14) return false;
    return full.substr(0, 3) == abbreviation.substr(0, 3) && full.substr(full.size() - 11) == abbreviation.substr(3);
}

bool SplitIFrameHeadMatches(const uint8_t* bytes, uint32_t h, uint8_t channel, uint8_t subStream, uint32_t length)
{
    if (h == 0 || h >= sizeof(StFrameHead_t)) return false;
    uint8_t raw[sizeof(StFrameHead_t)] = {};
    std::memcpy(raw, bytes, h);
    const auto fh = LoadStruct<StFrameHead_t>(raw);
    bool ok = fh.sign == kFrameSign;
    if (ok && h > offsetof(StFrameHead_t, channel)) ok = fh.channel == channel;
    if (ok && h > offsetof(StFrameHead_t, subStream)) ok = fh.subStream == subStream;
    if (ok && h > offsetof(StFrameHead_t, type)) ok = fh.type == kFrameI;
    if (ok && h >= offsetof(StFrameHead_t, length) + 4) ok = fh.length.get() == length;
    return ok;
}

bool IsFrameHeadValid(const StFrameHead_t& head, uint32_t maxFrameSize, uint32_t endTime, const char* source)
{
    const uint32_t length = head.length.get();
    const uint64_t pts = head.pts.get();
    bool ok = head.sign == kFrameSign && head.type >= 1 && head.type <= 5 && length >= 1 && length <= maxFrameSize;
    if (ok && IsVideoType(head.type)) {
        const uint64_t second = pts / 1000000;
        ok = second <= 0xFFFFFFFFu && second <= endTime;
    }
    if (!ok) {
        LogLine("%s:%s:%d pFrameHead->sign = %hhu, type = %hhu, length = %lu, pFileOp->maxFrameSize = %lu, "
                "pFrameHead->pts = %llu, pFileOp->recFI.endTime = %lu\n",
                source, "IsFrameHeadValid", __LINE__, head.sign, head.type, (unsigned long)length,
                (unsigned long)maxFrameSize, (unsigned long long)pts, (unsigned long)endTime);
    }
    return ok;
}

bool IsIndexBlockHeadConsistent(const StIndexBlockHead_t& head, uint32_t selfBlkId, IndexGeometry geometry)
{
    if (std::memcmp(head.sign, "IndexBlk", 8) != 0) return false;
    if (head.sectorSize.get() != geometry.sectorSize || head.startPos.get() != geometry.fileSize ||
        head.blkSize.get() != geometry.blkSize || head.blkCnt.get() != geometry.blkCnt)
        return false;
    if (head.idxBlkDist.get() != kIdxBlkDist || head.selfBlkId.get() != selfBlkId) return false;
    const uint32_t useId = head.useId.get();
    if (useId < kIndexHeadMinUseId || useId > kMaxUseId) return false;
    if (head.updateNo.get() == 0) return false;
    const uint32_t last = head.lastApplyBlkId.get();
    const uint32_t first = head.firstDataBlkId.get();
    if (last >= geometry.blkCnt || IsIndexBlockId(first)) return false;
    if (IsIndexBlockId(last) && (last != 0 || first != 32)) return false;
    if (head.rebuildIdxTm.get() > useId) return false;
    return true;
}

bool IsIndexBlockHeadValid(const StIndexBlockHead_t& head, uint32_t selfBlkId, IndexGeometry geometry)
{
    return head.checkValue.get() == IndexHeadCheckValue(head) && head.updateNo.get() > 0 &&
           IsIndexBlockHeadConsistent(head, selfBlkId, geometry);
}

bool IsIndexBlockHeadOfFile(const StIndexBlockHead_t& head, uint64_t fileSize, uint32_t blkSize, uint32_t selfBlkId)
{
    const uint32_t sector = head.sectorSize.get();
    return std::memcmp(head.sign, "IndexBlk", 8) == 0 && head.checkValue.get() == IndexHeadCheckValue(head) &&
           head.startPos.get() == fileSize && head.blkSize.get() == blkSize && head.idxBlkDist.get() == kIdxBlkDist &&
           head.selfBlkId.get() == selfBlkId && sector >= 512 && sector <= 4096 && sector % 512 == 0 &&
           head.blkCnt.get() != 0 && head.blkCnt.get() % kBlocksPerFile == 0 && head.updateNo.get() > 0;
}

}  // namespace rkfs
