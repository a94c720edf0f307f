// The recorder's operation log "log.bin": 37-byte log records one after
// another; a short last piece is not a record. The log store, the fixture
// writers and the fuzz target read this definition; no other place describes
// these bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ByteOrder.h"

namespace velmor {

constexpr size_t kLogRecordSize = 37;
constexpr uint8_t kLogEmptyType = 255;  // an empty slot
constexpr size_t kLogRemarkSize = 27;

struct StLogRecord_t {
    uint8_t type;  // high 4 bits: main type; low 4 bits: sub type
    le32 time;     // seconds since 1970 on the recorder's clock
    char remark[kLogRemarkSize];  // system code page, NUL-terminated when shorter
    le32 extra;      // carried along, not interpreted
    uint8_t loaded;  // set to 0 when the record is loaded

    uint8_t mainType() const { return type >> 4; }
    uint8_t subType() const { return type & 0x0F; }
};

static_assert(sizeof(StLogRecord_t) == kLogRecordSize && alignof(StLogRecord_t) == 1);
static_assert(offsetof(StLogRecord_t, time) == 1 && offsetof(StLogRecord_t, remark) == 5);
static_assert(offsetof(StLogRecord_t, extra) == 32 && offsetof(StLogRecord_t, loaded) == 36);

}  // namespace velmor
