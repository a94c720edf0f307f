// Text in recordings is in the recorder's code page (936, GBK bytes on disk);
// everything the user sees, and every JSON document, is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace velmor {

// Bytes that are not valid in the source encoding become U+FFFD; the
// conversion never fails and never reads beyond the view.
std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);

bool IsValidUtf8(std::string_view text);

// A fixed-size, NUL-terminated text field of a recording: the bytes up to the
// first NUL, at most `size` of them.
std::string_view FieldText(const void* field, std::size_t size);

}  // namespace velmor
