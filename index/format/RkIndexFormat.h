// The index files some recorders keep on the disk root ("index00.bin" and its
// backup "index01.bin", or the names "file.bin" gives): a 512-byte header, a
// file table of N 16-byte entries and N record areas of 256 records of 32
// bytes. The library, the fixture writers and the fuzz targets all read these
// definitions; no other place describes these bytes.
//
// The structures are made of little-endian byte fields and byte arrays only
// (alignment 1, no padding): copy file bytes into them with memcpy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/ByteOrder.h"

namespace rkindex {

using velmor::le16;
using velmor::le32;

constexpr uint32_t kHeaderSize = 512;
constexpr uint32_t kFileEntrySize = 16;
constexpr uint32_t kRecordSize = 32;
constexpr uint32_t kRecordsPerArea = 256;
constexpr uint32_t kAreaSize = kRecordSize * kRecordsPerArea;  // 8192
constexpr uint32_t kChannelCount = 16;
constexpr uint32_t kChecksumSpan = 508;  // the checksum covers header bytes 0..507

constexpr uint8_t kTypeBits = 0x0F;  // recording type bits of a record's flags
constexpr uint8_t kClassBit = 0x80;  // class bit of version-1 indexes
constexpr uint8_t kVersionClassified = 1;

// The only length an index file of N entries may have.
constexpr uint64_t IndexFileSize(uint32_t n) { return kHeaderSize + uint64_t(kFileEntrySize + kAreaSize) * n; }
// Byte offset of record area `area` in a file of N entries: unit N + 512 * area + 32.
constexpr uint64_t AreaOffset(uint32_t n, uint32_t area) { return 16 * (uint64_t(n) + 512 * uint64_t(area) + 32); }
constexpr uint64_t FileEntryOffset(uint32_t entry) { return kHeaderSize + uint64_t(kFileEntrySize) * entry; }

// What the recorder is writing now, per channel.
struct StIndexCurFile_t {
    le16 area;
    le16 lastIndex;  // index of the last record written
    le32 beginTime;
    le32 endTime;
};

struct StIndexHeader_t {
    uint8_t reserved0[16];
    le32 fileNum;     // N: file-table entries and record areas
    le32 limitCount;  // must not exceed N; its meaning is the recorder's
    le32 usedCount;   // used file-table entries
    le32 ringStart;   // the first used entry
    uint8_t reserved1[12];
    StIndexCurFile_t curFile[kChannelCount];
    uint8_t reserved2[192];
    uint8_t version;  // 1: records carry channel and class bit
    uint8_t reserved3[79];
    le32 checksum;  // sum of bytes 0..507, each unsigned
};

struct StIndexFileEntry_t {
    le32 area;  // only the low 16 bits count
    uint8_t channel;  // counted from 1
    uint8_t reserved;
    le16 lastIndex;
    le32 beginTime;
    le32 endTime;
};

struct StIndexRecord_t {
    uint8_t flags;  // low 4 bits: recording type; bit 7: class (version 1)
    uint8_t byte1;  // bytes 1 and 2 are the recorder's, copied through
    uint8_t byte2;
    uint8_t chnByte;  // high 4 bits: channel counted from 1 (version 1)
    uint8_t byte4;
    char text[11];  // the recorder's label of the segment, NUL-padded
    le32 beginTime;
    le32 endTime;
    le32 beginOffset;  // byte positions in the recorder's storage
    le32 endOffset;

    uint8_t typeBits() const { return flags & kTypeBits; }
    bool classBit() const { return (flags & kClassBit) != 0; }
    uint8_t channel() const { return chnByte >> 4; }
};

static_assert(sizeof(StIndexCurFile_t) == 12);
static_assert(sizeof(StIndexHeader_t) == kHeaderSize);
static_assert(offsetof(StIndexHeader_t, fileNum) == 16 && offsetof(StIndexHeader_t, limitCount) == 20);
static_assert(offsetof(StIndexHeader_t, usedCount) == 24 && offsetof(StIndexHeader_t, ringStart) == 28);
static_assert(offsetof(StIndexHeader_t, curFile) == 44 && offsetof(StIndexHeader_t, version) == 428);
static_assert(offsetof(StIndexHeader_t, checksum) == kChecksumSpan);
static_assert(sizeof(StIndexFileEntry_t) == kFileEntrySize);
static_assert(offsetof(StIndexFileEntry_t, channel) == 4 && offsetof(StIndexFileEntry_t, lastIndex) == 6);
static_assert(offsetof(StIndexFileEntry_t, beginTime) == 8 && offsetof(StIndexFileEntry_t, endTime) == 12);
static_assert(sizeof(StIndexRecord_t) == kRecordSize);
static_assert(offsetof(StIndexRecord_t, text) == 5 && offsetof(StIndexRecord_t, beginTime) == 16);
static_assert(offsetof(StIndexRecord_t, endOffset) == 28);

inline uint32_t HeaderChecksum(const uint8_t* header)
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < kChecksumSpan; ++i) sum += header[i];
    return sum;
}

template <typename T>
T LoadStruct(const void* bytes)
{
    T value;
    std::memcpy(static_cast<void*>(&value), bytes, sizeof(T));
    return value;
}

template <typename T>
T ZeroStruct()
{
    T value;
    std::memset(static_cast<void*>(&value), 0, sizeof(T));
    return value;
}

}  // namespace rkindex
