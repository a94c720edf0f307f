#include "tests/support/AttachInfoWriter.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace velmor::fixtures {

using namespace attach;

int32_t CodeCoordinate(double degrees)
{
    const double magnitude = std::fabs(degrees);
    // Round on the ten-thousandth of a minute first, so that 59.99995
    // minutes carries into the next degree instead of coding 60 minutes.
    const int64_t tenThousandths = std::llround(magnitude * 60.0 * 10000.0);
    const int64_t whole = tenThousandths / 600000;
    const int64_t minutes = tenThousandths % 600000;
    const int64_t coded = whole * 1000000 + minutes;
    return int32_t(degrees < 0 ? -coded : coded);
}

double DecodeCoordinate(int32_t coded) { return velmor::CoordinateDegrees(coded); }

std::array<uint8_t, kRecordSize> MakeAttachInfo(const AttachInfo& info)
{
    if (info.events.size() > kEventNames) throw std::invalid_argument("more than six event names");
    StAttachInfo_t r{};
    r.time.set(info.time);
    r.status = info.status;
    r.latitude.set(CodeCoordinate(info.latitude));
    r.longitude.set(CodeCoordinate(info.longitude));
    r.speed.set(info.speed);
    r.height.set(info.height);
    r.heading.set(info.heading);
    r.alarmSign.set(info.alarmSign);
    for (size_t i = 0; i < info.events.size(); ++i) {
        if (info.events[i].size() > kEventNameSize) throw std::invalid_argument("event name over 8 bytes");
        std::memcpy(r.event[i], info.events[i].data(), info.events[i].size());
    }
    std::array<uint8_t, kRecordSize> out{};
    std::memcpy(out.data(), &r, sizeof r);
    return out;
}

}  // namespace velmor::fixtures
