// Diagnostics of the MP4 writer, the converters and the combiner. The engine
// hands its diagnostics to a hook that drops them; the messages stay in the
// code as the record of what each path reports.
#pragma once

namespace rkmedia {

[[gnu::format(printf, 1, 2)]] inline void Mp4Diag(const char* /*format*/, ...) {}

}  // namespace rkmedia
