// The recorder's event file "RecordEvent.bin": a 144-byte header with the
// alarm-input names, then 8192-byte event blocks to the end of the file. A
// block is a 16-byte head, its groups (a 10-byte head and 11-byte units
// each) and padding. The event search, the fixture writer and the fuzz
// target read this definition; no other place describes these bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ByteOrder.h"

namespace velmor {

inline constexpr char kEventFileName[] = "RecordEvent.bin";
inline constexpr char kEventMagic[4] = {'R', 'e', 'c', 'E'};

constexpr size_t kEventHeaderSize = 144;
constexpr size_t kEventBlockSize = 8192;
constexpr size_t kEventInputNames = 8;
constexpr size_t kEventInputNameSize = 16;

struct StEventFileHeader_t {
    char magic[4];  // "RecE"
    uint8_t notRead[5];
    char inputNames[kEventInputNames][kEventInputNameSize];  // recorder code page, NUL-terminated
    uint8_t tail[7];
};

struct StEventBlockHead_t {
    le16 fileId;      // number of the "fly" file the block's events point to
    le16 groupCount;
    uint8_t notRead[12];
};

struct StEventGroupHead_t {
    le32 beginPos;    // byte position of the event's recording inside the fly file
    le16 unitCount;
    uint8_t notRead[4];
};

struct StEventUnit_t {
    uint8_t type;
    uint8_t channel;
    uint8_t notRead;
    le32 beginTime;
    le32 endTime;
};

static_assert(sizeof(StEventFileHeader_t) == kEventHeaderSize && alignof(StEventFileHeader_t) == 1);
static_assert(offsetof(StEventFileHeader_t, inputNames) == 9);
static_assert(sizeof(StEventBlockHead_t) == 16 && offsetof(StEventBlockHead_t, groupCount) == 2);
static_assert(sizeof(StEventGroupHead_t) == 10 && offsetof(StEventGroupHead_t, unitCount) == 4);
static_assert(sizeof(StEventUnit_t) == 11 && offsetof(StEventUnit_t, beginTime) == 3 &&
              offsetof(StEventUnit_t, endTime) == 7);

// What a block offers its groups after its head.
constexpr size_t kEventBlockBudget = kEventBlockSize - sizeof(StEventBlockHead_t);

}  // namespace velmor
