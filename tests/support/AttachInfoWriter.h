// The 75-byte attached-information record that recorders put once a second
// into their recordings (container and record files: frames of type 5; IFV
// files: attach records): time, position, speed, heading, alarm bits and up
// to six event names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ByteOrder.h"

namespace velmor::fixtures {

namespace attach {

using velmor::le16;
using velmor::le32;
using velmor::lei32;
using lei16 = velmor::LeField<int16_t>;

constexpr size_t kRecordSize = 75;
constexpr size_t kEventNames = 6;
constexpr size_t kEventNameSize = 8;

struct StAttachInfo_t {
    le32 time;  // recorder seconds since 1970
    uint8_t status;
    lei32 latitude;  // degrees x 1,000,000 + minutes x 10,000
    lei32 longitude;
    lei16 speed;  // km/h
    lei16 height;
    le16 heading;  // degrees
    le32 alarmSign;
    uint8_t spare[4];
    char event[kEventNames][kEventNameSize];  // recorder code page, NUL-padded
};

static_assert(sizeof(StAttachInfo_t) == kRecordSize && alignof(StAttachInfo_t) == 1);
static_assert(offsetof(StAttachInfo_t, status) == 4 && offsetof(StAttachInfo_t, latitude) == 5 &&
              offsetof(StAttachInfo_t, longitude) == 9 && offsetof(StAttachInfo_t, speed) == 13 &&
              offsetof(StAttachInfo_t, height) == 15 && offsetof(StAttachInfo_t, heading) == 17 &&
              offsetof(StAttachInfo_t, alarmSign) == 19 && offsetof(StAttachInfo_t, event) == 27);

}  // namespace attach

// Decimal degrees in the recorder's coding: whole degrees x 1,000,000 plus
// minutes (four decimals, rounded) x 10,000; southern and western values are
// the negated coding of their magnitude.
int32_t CodeCoordinate(double degrees);
// The way back, as the player reads it.
double DecodeCoordinate(int32_t coded);

struct AttachInfo {
    uint32_t time = 0;
    uint8_t status = 1;
    double latitude = 0;  // decimal degrees; 0 means "no position"
    double longitude = 0;
    int16_t speed = 0;
    int16_t height = 0;
    uint16_t heading = 0;
    uint32_t alarmSign = 0;
    std::vector<std::string> events;  // recorder code page, at most six of at most 8 bytes
};

// Throws std::invalid_argument for more than six event names or a name of
// more than 8 bytes.
std::array<uint8_t, attach::kRecordSize> MakeAttachInfo(const AttachInfo& info);

}  // namespace velmor::fixtures
