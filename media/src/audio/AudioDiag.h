// The sound side's diagnostic messages. The engine hands its diagnostics to
// a hook that drops them; the messages stay in the code as the record of
// what each path reports, checked against their arguments by the compiler.
#pragma once

namespace rkmedia {

[[gnu::format(printf, 1, 2)]] inline void AudioDiag(const char* /*format*/, ...) {}

}  // namespace rkmedia
