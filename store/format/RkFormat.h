// The container block-bunch file system as it lies on a recorder's disk:
// container files, blocks and their head areas, recording and long-name necks,
// frame heads and index block heads, with their check values and validity
// rules. Every reader and every fixture writer uses these definitions; no
// other place describes these bytes.
//
// All structures are made of little-endian byte fields (velmor::LeField) and
// byte arrays only, so they have alignment 1 and no padding: copy file bytes
// into them with memcpy and read fields with get().
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/include/rkcommon.h"
#include "common/ByteOrder.h"

namespace rkfs {

using velmor::le16;
using velmor::le24;
using velmor::le32;
using velmor::le64;
using velmor::lei32;

// ---- Geometry -------------------------------------------------------------

constexpr uint64_t kContainerFileSize128 = 0x8000000;   // 128 MiB, 4 MiB blocks
constexpr uint64_t kContainerFileSize256 = 0x10000000;  // 256 MiB, 8 MiB blocks
constexpr uint32_t kBlocksPerFile = 32;
constexpr uint32_t kHeadAreaSize = 4096;
constexpr uint32_t kDataBlockHeadSize = 32;
constexpr uint32_t kNeckSize = 4064;
constexpr uint32_t kIdxBlkDist = 4096;
constexpr uint32_t kMaxBlockId = 0xFFFFFF;
constexpr uint32_t kBackupBlockSize = 0x800000;  // S for backup record files
constexpr uint64_t kMinBackupFileSize = 4113;     // head area + frame head + one byte

constexpr bool IsContainerFileSize(uint64_t size) { return size == kContainerFileSize128 || size == kContainerFileSize256; }
// Block size for a container file of `size` bytes: (size / 128 MiB) << 22.
constexpr uint32_t BlockSizeForFileSize(uint64_t size) { return uint32_t(size / kContainerFileSize128) << 22; }

// Block ids whose low 12 bits are zero are index blocks and never hold data.
constexpr bool IsIndexBlockId(uint32_t blkId) { return (blkId & 0xFFF) == 0; }
// A chain link (next, previous, first block) may be 0 but never another index block.
constexpr bool IsForbiddenLink(uint32_t blkId) { return blkId != 0 && IsIndexBlockId(blkId); }

constexpr uint32_t BlockIdOf(uint32_t fileNo, uint32_t position) { return fileNo * kBlocksPerFile + position; }
constexpr uint32_t FileOfBlock(uint32_t blkId) { return blkId >> 5; }
constexpr uint32_t PositionOfBlock(uint32_t blkId) { return blkId & 31; }

// Physical placement inside a container file: the head area is the block's
// last 4096 bytes, the data starts at the block's first byte.
constexpr uint64_t HeadAreaFileOffset(uint32_t position, uint32_t blkSize)
{
    return uint64_t(position + 1) * blkSize - kHeadAreaSize;
}
// File offset of logical block offset `logical` (>= 4096) of block `position`.
constexpr uint64_t DataFileOffset(uint32_t position, uint32_t blkSize, uint32_t logical)
{
    return uint64_t(position) * blkSize + (logical - kHeadAreaSize);
}

// The geometry a formatter gives a partition of `devSize` bytes with sectors
// of `sectorSize` bytes: container files of 256 MiB (8 MiB blocks) above
// 512 GiB, else of 128 MiB (4 MiB blocks), and as many of them as fit after
// the boot area and the index blocks' head sets.
struct DeviceGeometry {
    uint32_t sectorSize = 0;
    uint64_t devSize = 0;
    uint32_t fileSize = 0;   // also the index heads' startPos
    uint32_t blkSize = 0;
    uint32_t fileCount = 0;  // container files; blocks = fileCount * 32
};
constexpr uint64_t kMinDeviceSize = 7983222784ull;
// False when the sector size (512..4096, a multiple of 512 dividing 4096) or
// the length (at least kMinDeviceSize, whole sectors) is not acceptable.
bool GeometryOfDevice(uint64_t devSize, uint32_t sectorSize, DeviceGeometry* out);

// ---- Frames -----------------------------------------------------------------

constexpr uint8_t kFrameSign = 'F';
constexpr uint32_t kMaxFrameSizeMain = 0x7FFF0;
constexpr uint32_t kMaxFrameSizeSub = 0x3FFF0;
constexpr uint32_t kVideoTypeMask = 0x0E;  // 1 << type for types 1..3
constexpr uint32_t kAudioTypeMask = 0x10;

enum FrameType : uint8_t {
    kFrameI = 1,
    kFrameP = 2,
    kFrameVideo3 = 3,
    kFrameAudio = 4,
    kFrameInfo = 5,  // attached vehicle information
};

constexpr uint32_t MaxFrameSize(bool subStream) { return subStream ? kMaxFrameSizeSub : kMaxFrameSizeMain; }
constexpr bool IsVideoType(uint8_t type) { return type < 32 && ((1u << type) & kVideoTypeMask) != 0; }

struct StFrameHead_t {
    uint8_t sign;
    uint8_t channel;
    uint8_t subStream;
    uint8_t type;
    le32 length;
    le64 pts;  // microseconds
};

// The same head as the record libraries hand it to their callers.
RK_FRAME_HEAD FrameHeadToPublic(const StFrameHead_t& head);
StFrameHead_t FrameHeadFromPublic(const RK_FRAME_HEAD& head);

// ---- Data block head ----------------------------------------------------------

enum DataType : uint8_t {
    kDataTypeRec = 1,
    kDataTypeRec2 = 2,
    kDataTypeCm = 5,          // common file, name in the head
    kDataTypeCmLongName = 6,  // common file, name in the long-name neck
};

struct StRecData_t {
    uint8_t channel;
    uint8_t flags;  // bit 0 subStream, 1 readOnly, 6 hasAudioEnc, 7 hasIFrameHead
    le24 prevBlkId;
    le32 beginTime;
    le16 duration;
    le24 useSize;
    uint8_t reason1;
    le24 lend;
    uint8_t reason2;
    le24 borrow;
    uint8_t reason3;

    bool subStream() const { return flags & 0x01; }
    bool readOnly() const { return flags & 0x02; }
    bool hasAudioEnc() const { return flags & 0x40; }
    bool hasIFrameHead() const { return flags & 0x80; }
    void setSubStream(bool v) { SetFlag(0x01, v); }
    void setReadOnly(bool v) { SetFlag(0x02, v); }
    void setHasAudioEnc(bool v) { SetFlag(0x40, v); }
    void setHasIFrameHead(bool v) { SetFlag(0x80, v); }
    uint32_t reason() const { return uint32_t(reason1) | uint32_t(reason2) << 8 | uint32_t(reason3) << 16; }
    void setReason(uint32_t r)
    {
        reason1 = uint8_t(r);
        reason2 = uint8_t(r >> 8);
        reason3 = uint8_t(r >> 16);
    }

private:
    void SetFlag(uint8_t bit, bool v) { flags = v ? uint8_t(flags | bit) : uint8_t(flags & ~bit); }
};

struct StCmData_t {
    le32 prevBlkId;
    le32 useSize;
    char fileName[15];  // byte 30 of the head, the last of these, is always 0
};

struct StDataBlockHead_t {
    le32 useId;
    le32 word1;  // bad, writing, writtenAfterFormat, dataType, nextBlkId
    union {
        StRecData_t recData;
        StCmData_t cmData;
    };
    uint8_t checkValue;

    bool bad() const { return word1.get() & 1; }
    bool writing() const { return word1.get() & 2; }
    bool writtenAfterFormat() const { return word1.get() & 4; }
    uint8_t dataType() const { return uint8_t((word1.get() >> 3) & 0x1F); }
    uint32_t nextBlkId() const { return word1.get() >> 8; }
    void setBad(bool v) { SetBits(0, 1, v); }
    void setWriting(bool v) { SetBits(1, 1, v); }
    void setWrittenAfterFormat(bool v) { SetBits(2, 1, v); }
    void setDataType(uint8_t t) { SetBits(3, 0x1F, t); }
    void setNextBlkId(uint32_t id) { SetBits(8, 0xFFFFFF, id); }

private:
    void SetBits(int shift, uint32_t mask, uint32_t v)
    {
        word1.set((word1.get() & ~(mask << shift)) | ((v & mask) << shift));
    }
};

// ---- Necks ----------------------------------------------------------------------

constexpr uint32_t kRecDataNeckSign = 0x004E4452;   // "RDN\0"
constexpr uint32_t kLongNameNeckSign = 0x004E444C;  // "LDN\0"
constexpr uint16_t kIfrIdxCntMax = 320;

struct StIFrameIdx_t {
    le32 offset;  // logical block offset of the I frame's head (counts the head area)
    le32 length;  // the frame head's length
    le32 time;    // the frame's second
};

// The five bytes of the neck that describe the recording.
struct StEncodeRecord_t {
    uint8_t reso;
    uint8_t videoStandard;
    uint8_t vEnc;
    uint8_t aEnc;
    uint8_t frameRate;
};

struct StRecDataNeck_t {
    uint8_t reserved0[32];
    le32 sign;
    StEncodeRecord_t encode;  // reso, videoStandard, vEnc, aEnc, frameRate
    uint8_t reserved1[27];
    uint8_t audioProperty[14];
    uint8_t reserved2[2];
    char carNumber[16];
    le32 checkValue;
    le16 ifrIdxCnt;
    StIFrameIdx_t ifrIdx[kIfrIdxCntMax];
    uint8_t reserved3[118];
};

struct StLongNameNeck_t {
    uint8_t reserved0[32];
    le32 sign;
    char fullName[64];
    uint8_t reserved1[kNeckSize - 100];
};

// The whole 4096-byte head area of a recording block.
struct StRecHeadArea_t {
    StDataBlockHead_t head;
    StRecDataNeck_t neck;
};

// ---- Index block head --------------------------------------------------------------

constexpr uint16_t kIndexBlockHeadVersion = 258;
constexpr uint32_t kIndexHeadMinUseId = 1546300801;
constexpr uint32_t kMaxUseId = 0xBFFFFFFF;

struct StIndexBlockHead_t {
    char sign[8];  // "IndexBlk", no terminator
    le16 version;
    le16 sectorSize;
    le32 startPos;  // the container file size
    le32 blkSize;
    le32 blkCnt;
    le32 idxBlkDist;
    le32 selfBlkId;
    le32 useId;
    lei32 updateNo;
    le32 updateTm;
    le32 lastApplyBlkId;
    le32 dataBlkCover;
    le32 firstDataBlkId;
    le32 rebuildIdxTm;
    uint8_t mounted;
    le32 checkValue;
};

static_assert(sizeof(StFrameHead_t) == 16);
static_assert(offsetof(StFrameHead_t, length) == 4 && offsetof(StFrameHead_t, pts) == 8);
static_assert(sizeof(StRecData_t) == 23 && sizeof(StCmData_t) == 23);
static_assert(sizeof(StDataBlockHead_t) == kDataBlockHeadSize);
static_assert(offsetof(StDataBlockHead_t, recData) == 8 && offsetof(StDataBlockHead_t, checkValue) == 31);
static_assert(offsetof(StDataBlockHead_t, recData) + offsetof(StRecData_t, prevBlkId) == 10);
static_assert(offsetof(StDataBlockHead_t, recData) + offsetof(StRecData_t, beginTime) == 13);
static_assert(offsetof(StDataBlockHead_t, recData) + offsetof(StRecData_t, duration) == 17);
static_assert(offsetof(StDataBlockHead_t, recData) + offsetof(StRecData_t, useSize) == 19);
static_assert(offsetof(StDataBlockHead_t, recData) + offsetof(StRecData_t, lend) == 23);
static_assert(offsetof(StDataBlockHead_t, recData) + offsetof(StRecData_t, borrow) == 27);
static_assert(offsetof(StDataBlockHead_t, recData) + offsetof(StRecData_t, reason3) == 30);
static_assert(offsetof(StDataBlockHead_t, cmData) + offsetof(StCmData_t, useSize) == 12);
static_assert(offsetof(StDataBlockHead_t, cmData) + offsetof(StCmData_t, fileName) == 16);
static_assert(sizeof(StIFrameIdx_t) == 12);
static_assert(sizeof(StRecDataNeck_t) == kNeckSize);
static_assert(offsetof(StRecDataNeck_t, sign) == 32 && offsetof(StRecDataNeck_t, encode) == 36);
static_assert(offsetof(StRecDataNeck_t, audioProperty) == 68 && offsetof(StRecDataNeck_t, carNumber) == 84);
static_assert(offsetof(StRecDataNeck_t, checkValue) == 100 && offsetof(StRecDataNeck_t, ifrIdxCnt) == 104);
static_assert(offsetof(StRecDataNeck_t, ifrIdx) == 106 && offsetof(StRecDataNeck_t, reserved3) == 3946);
static_assert(sizeof(StLongNameNeck_t) == kNeckSize && offsetof(StLongNameNeck_t, fullName) == 36);
static_assert(sizeof(StRecHeadArea_t) == kHeadAreaSize);
static_assert(sizeof(StIndexBlockHead_t) == 65);
static_assert(offsetof(StIndexBlockHead_t, useId) == 32 && offsetof(StIndexBlockHead_t, rebuildIdxTm) == 56);
static_assert(offsetof(StIndexBlockHead_t, mounted) == 60 && offsetof(StIndexBlockHead_t, checkValue) == 61);
static_assert(alignof(StDataBlockHead_t) == 1 && alignof(StRecDataNeck_t) == 1 && alignof(StIndexBlockHead_t) == 1);

// Copies structure bytes in and out of buffers.
template <typename T>
T LoadStruct(const void* bytes)
{
    T value;
    std::memcpy(static_cast<void*>(&value), bytes, sizeof(T));
    return value;
}
template <typename T>
void StoreStruct(void* bytes, const T& value)
{
    std::memcpy(bytes, static_cast<const void*>(&value), sizeof(T));
}
template <typename T>
T ZeroStruct()
{
    T value;
    std::memset(static_cast<void*>(&value), 0, sizeof(T));
    return value;
}

// ---- Check values ---------------------------------------------------------------------

// Sum of bytes 0..30 modulo 256.
uint8_t HeadCheckValue(const StDataBlockHead_t& head);
bool HeadCheckValueMatches(const StDataBlockHead_t& head);
void SealHead(StDataBlockHead_t& head);  // stores the check value

// sign + ifrIdxCnt + offset and length of entry min(cnt, 320) - 1; sign alone for 0 entries.
uint32_t NeckCheckValue(const StRecDataNeck_t& neck);

// Wrapping sum of the fifteen 32-bit words at offsets 0..56 (the mounted byte is not in it).
uint32_t IndexHeadCheckValue(const StIndexBlockHead_t& head);

// ---- Derived values ---------------------------------------------------------------------

// End second of a block: beginTime + duration - 1, or beginTime when duration is 0.
uint32_t BlockEndTime(const StRecData_t& rd);
// Bytes a block occupies in a backup record file: the first block is stored
// without the bytes it lends, which belong to a frame of a block the file
// does not hold.
inline uint64_t StoredBlockSize(const StRecData_t& rd, bool first)
{
    return first ? uint64_t(rd.useSize.get()) - rd.lend.get() : rd.useSize.get();
}
// Number of valid I-frame index entries: min(ifrIdxCnt, 320).
inline uint16_t IndexedIFrames(const StRecDataNeck_t& neck)
{
    uint16_t n = neck.ifrIdxCnt.get();
    return n < kIfrIdxCntMax ? n : kIfrIdxCntMax;
}
bool IsEncodeRecordValid(const StEncodeRecord_t& enc);
// Picture size of a resolution code of the encode record; the video
// standard 1 chooses the 480/240-line system for the codes that have two.
bool ResolutionSize(uint32_t code, uint32_t videoStandard, uint32_t* width, uint32_t* height);
// The code of a picture size. *videoStandard is set for the sizes that tell
// the line system; for the others an unset standard (0xFFFFFFFF) becomes the
// size's usual one and a set standard is kept.
bool ResolutionCode(uint32_t width, uint32_t height, uint32_t* code, uint32_t* videoStandard);
// A name with '*' or ending in .rpo, .rec, .avi or .mp4 (any case).
bool IsReservedName(std::string_view name);

// ---- Validity rules -------------------------------------------------------------------

// Which rule a recording block head broke; kOk when none.
enum class HeadFault {
    kOk,
    kUseId,
    kDataType,
    kNotWrittenAfterFormat,
    kBad,
    kCheckValue,
    kNextBlkId,
    kPrevBlkId,
    kChannel,
    kLendBorrow,
    kUseSize,
    kTimeRange,
    kIFrameWithoutDuration,
    kByte30,
    kFileName,
};
const char* HeadFaultText(HeadFault fault);

struct PartitionGeometry {
    uint32_t blkCnt;
    uint32_t blkSize;
};

// A recording block head of block `blkId` of a partition. Data type 2 is
// taken only when `acceptType2` is set.
HeadFault CheckRecBlockHead(const StDataBlockHead_t& head, uint32_t blkId, PartitionGeometry geometry,
                            bool acceptType2 = false);
// The same head as stored in a backup record file, which belongs to no
// partition: no chain-link rules, S = 8 MiB, a block with borrow is 4 or 8 MiB.
HeadFault CheckBakRecBlockHead(const StDataBlockHead_t& head, bool acceptType2 = false);
// A block of a common file (data type 5 or 6).
HeadFault CheckCmBlockHead(const StDataBlockHead_t& head, uint32_t blkId, PartitionGeometry geometry);

// The neck of a recording block, before its I-frame index is trusted.
// Logs the failing rule.
bool IsRecDataNeckValid(const StRecDataNeck_t& neck, const StRecData_t& rd);

// The long-name neck of the first block of a data type 6 common file.
bool IsLongNameNeckValid(const StLongNameNeck_t& neck, std::string_view abbreviation);

// A frame head, given the reader's maximum frame size and the record file's
// end time. `source` names the caller in the log line.
bool IsFrameHeadValid(const StFrameHead_t& head, uint32_t maxFrameSize, uint32_t endTime, const char* source);
// Whether the first h (1 to 15) bytes of an indexed I frame's head, all that
// lie before its block's end, agree with the entry and the stream: the sign,
// then as far as present the channel, the sub stream, type 1, and the length
// once all four of its bytes are there. The rest of the head opens the next
// block, so nothing more can be checked here.
bool SplitIFrameHeadMatches(const uint8_t* bytes, uint32_t h, uint8_t channel, uint8_t subStream, uint32_t length);

struct IndexGeometry {
    uint16_t sectorSize;
    uint32_t fileSize;  // startPos
    uint32_t blkSize;
    uint32_t blkCnt;
};
// Everything but the version, which decides usability separately.
bool IsIndexBlockHeadValid(const StIndexBlockHead_t& head, uint32_t selfBlkId, IndexGeometry geometry);
// What the player's reader demands: the fields agree with the partition and
// with each other; neither the check value nor the update number's sign is
// looked at.
bool IsIndexBlockHeadConsistent(const StIndexBlockHead_t& head, uint32_t selfBlkId, IndexGeometry geometry);
// A head that describes the container file it lies in (the file's size, its
// block size and first block id), read before the partition's geometry is
// known.
bool IsIndexBlockHeadOfFile(const StIndexBlockHead_t& head, uint64_t fileSize, uint32_t blkSize, uint32_t selfBlkId);
inline bool IsIndexBlockHeadUsable(const StIndexBlockHead_t& head) { return head.version.get() == kIndexBlockHeadVersion; }
void SealIndexHead(StIndexBlockHead_t& head);

// ---- Diagnostics --------------------------------------------------------------------------

// Failure lines of the format rules and the file-system library, with the
// function name and line in front: handed to the library's log callback and
// kept as the calling thread's last error text. LogInfo lines (dumps, the
// arguments of a call) go to the callback only.
void LogLine(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void LogInfo(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
#define RKFS_LOG(fmt, ...) ::rkfs::LogLine("%s:%d " fmt, __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

}  // namespace rkfs
