#include "player/workspace/MapScript.h"

#include <cstdio>

namespace velmor {

std::string ScriptText(std::string_view text)
{
    std::string out = "'";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\'': out += "\\'"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '<': out += "\\x3c"; break;
        default:
            if (u < 0x20 || u == 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", u);
                out += hex;
            } else {
                out += c;
            }
        }
    }
    out += "'";
    return out;
}

}  // namespace velmor
