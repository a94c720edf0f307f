#include "common/UtcOffset.h"

#include <cstdio>

namespace velmor {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trimmed(std::string_view t)
{
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

bool StartsWithUtc(std::string_view t)
{
    return t.size() >= 3 && (t[0] | 0x20) == 'u' && (t[1] | 0x20) == 't' && (t[2] | 0x20) == 'c';
}

}  // namespace

std::optional<int> ParseUtcOffset(std::string_view text)
{
    std::string_view t = Trimmed(text);
    if (t == "Z" || t == "z") return 0;
    if (StartsWithUtc(t)) {
        t.remove_prefix(3);
        if (t.empty()) return 0;
    }
    if (t.size() < 2 || (t[0] != '+' && t[0] != '-')) return std::nullopt;
    const int sign = t[0] == '-' ? -1 : 1;
    t.remove_prefix(1);
    int hours = 0, minutes = 0;
    size_t digits = 0;
    while (digits < t.size() && IsDigit(t[digits])) ++digits;
    if (digits == 1 || digits == 2) {
        hours = digits == 1 ? t[0] - '0' : (t[0] - '0') * 10 + (t[1] - '0');
        t.remove_prefix(digits);
        if (!t.empty()) {
            if (t.size() != 3 || t[0] != ':' || !IsDigit(t[1]) || !IsDigit(t[2])) return std::nullopt;
            minutes = (t[1] - '0') * 10 + (t[2] - '0');
        }
    } else if (digits == 4 && t.size() == 4) {
        hours = (t[0] - '0') * 10 + (t[1] - '0');
        minutes = (t[2] - '0') * 10 + (t[3] - '0');
    } else {
        return std::nullopt;
    }
    if (minutes > 59) return std::nullopt;
    const int total = sign * (hours * 60 + minutes);
    if (total < -12 * 60 || total > 14 * 60) return std::nullopt;
    return total;
}

std::string UtcOffsetText(int minutes)
{
    const int a = minutes < 0 ? -minutes : minutes;
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d:%02d", minutes < 0 ? '-' : '+', a / 60 % 100, a % 60);
    return text;
}

}  // namespace velmor
