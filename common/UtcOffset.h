// An offset from UTC as a user declares it for a case ("+08:00"). Recorder
// times carry no zone; this offset is only ever stated beside them, never
// applied to them behind the user's back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmor {

// Minutes east of UTC of "+08:00", "-05:30", "+8", "+0800", "UTC+8" or "Z"
// (spaces around are allowed, "UTC" in any case); nothing for any other
// text and for offsets outside -12:00..+14:00, which no clock keeps.
std::optional<int> ParseUtcOffset(std::string_view text);

// "+08:00", "-05:30", "+00:00".
std::string UtcOffsetText(int minutes);

}  // namespace velmor
