// Text for the map page's script calls.
#pragma once

#include <string>
#include <string_view>

namespace velmor {

// `text` as a single-quoted script string: backslash, quote, line ends and
// other control characters escaped, and '<' written as \x3c so that the
// text can never close a script element.
std::string ScriptText(std::string_view text);

}  // namespace velmor
