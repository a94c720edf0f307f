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
#include "player/formats/AttachInfo.h"

namespace velmor::fixtures {

namespace attach {

// The record as the player reads it, defined once.
using velmor::StAttachInfo_t;
constexpr size_t kRecordSize = velmor::kAttachInfoSize;
constexpr size_t kEventNames = 6;
constexpr size_t kEventNameSize = 8;

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
