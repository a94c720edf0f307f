// The attached-information record a recorder stores about once a second next
// to its video: time, position, speed, heading, alarm bits and event names.
// It sits at the start of the payload of container frames of type 5 and IFV
// records of media kind 2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "common/ByteOrder.h"

namespace velmor {

struct StAttachInfo_t {
    le32 time;       // seconds since 1970, the recorder's wall clock
    uint8_t status;
    lei32 latitude;  // degrees x 1,000,000 + minutes x 10,000
    lei32 longitude;
    lei16 speed;     // km/h
    lei16 height;
    le16 heading;    // degrees
    le32 alarmSign;
    uint8_t reserved[4];
    char event[6][8];  // NUL-padded code-page names
};
static_assert(sizeof(StAttachInfo_t) == 75 && alignof(StAttachInfo_t) == 1);
static_assert(offsetof(StAttachInfo_t, latitude) == 5 && offsetof(StAttachInfo_t, speed) == 13);
static_assert(offsetof(StAttachInfo_t, height) == 15 && offsetof(StAttachInfo_t, heading) == 17);
static_assert(offsetof(StAttachInfo_t, alarmSign) == 19 && offsetof(StAttachInfo_t, event) == 27);

constexpr size_t kAttachInfoSize = sizeof(StAttachInfo_t);

// The record at the start of a payload, or nothing when the payload is short.
inline std::optional<StAttachInfo_t> LoadAttachInfo(const uint8_t* payload, size_t length)
{
    if (!payload || length < kAttachInfoSize) return std::nullopt;
    StAttachInfo_t info;
    std::memcpy(&info, payload, kAttachInfoSize);
    return info;
}

// A stored coordinate in decimal degrees: whole degrees by integer division,
// then the minutes (four decimals) as a fraction of a degree.
inline double CoordinateDegrees(int32_t stored)
{
    return double(stored / 1000000) + double(stored % 1000000) / 10000.0 / 60.0;
}

// A record with a zero latitude or longitude carries no position.
inline bool HasPosition(const StAttachInfo_t& info)
{
    return info.latitude.get() != 0 && info.longitude.get() != 0;
}

}  // namespace velmor
