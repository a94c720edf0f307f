// The search result record: one recording segment as every search hands it to
// the driving-record page and the play windows (65 bytes, little-endian). The
// index search fills it, and so do the container, single-file and folder
// searches of the player; this is its only definition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/ByteOrder.h"

namespace velmor {

enum SearchSourceKind : uint8_t {
    kSourceIndexDisk = 0,
    kSourceDownloadTree = 2,
    kSourceSingleIfv = 3,  // single IFV or grec file
    kSourceContainerPartition = 4,
    kSourceContainerFile = 5,
    kSourceClientDownload = 6,
};

struct StSearchRecord_t {
    // Index disks: the record's flags (recording type bits) and its bytes 1
    // and 2. The download-folder searches put a file name of up to
    // kFileNameSize bytes over offsets 0..39 instead (see FileNameField).
    uint8_t flags;
    uint8_t byte1;
    uint8_t byte2;
    le32 length;       // index disks: end offset - begin offset
    le32 beginOffset;  // index disks
    uint8_t diskNo;
    uint8_t folderNo;  // position of the folder in the searched list
    le16 fileNo;       // container file number, or the record area of an index disk
    uint8_t reserved[25];
    uint8_t kind;     // SearchSourceKind
    uint8_t channel;  // counted from 1
    le32 beginTime;
    le32 endTime;
    char label[15];  // the recorder's text for the segment or the car number, NUL-terminated

    static constexpr size_t kFileNameSize = 40;
    uint8_t* FileNameField() { return reinterpret_cast<uint8_t*>(this); }
    const uint8_t* FileNameField() const { return reinterpret_cast<const uint8_t*>(this); }
};

static_assert(sizeof(StSearchRecord_t) == 65 && alignof(StSearchRecord_t) == 1);
static_assert(offsetof(StSearchRecord_t, length) == 3 && offsetof(StSearchRecord_t, beginOffset) == 7);
static_assert(offsetof(StSearchRecord_t, diskNo) == 11 && offsetof(StSearchRecord_t, folderNo) == 12);
static_assert(offsetof(StSearchRecord_t, fileNo) == 13 && offsetof(StSearchRecord_t, reserved) == 15);
static_assert(offsetof(StSearchRecord_t, kind) == StSearchRecord_t::kFileNameSize);
static_assert(offsetof(StSearchRecord_t, channel) == 41 && offsetof(StSearchRecord_t, beginTime) == 42);
static_assert(offsetof(StSearchRecord_t, endTime) == 46 && offsetof(StSearchRecord_t, label) == 50);

// The label up to its first NUL (at most 15 bytes), in the recorder's code page.
inline std::string_view LabelOf(const StSearchRecord_t& record)
{
    const void* nul = std::memchr(record.label, 0, sizeof record.label);
    return {record.label, nul ? size_t(static_cast<const char*>(nul) - record.label) : sizeof record.label};
}

}  // namespace velmor
