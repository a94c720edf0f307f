#include "player/workspace/MapPage.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

namespace velmor {

std::string MapPageName(int mapType, int language)
{
    if (mapType != kMapTypeService) return "amapMap.html";
    switch (language) {
    case 0: return "GoogleMap.html";
    case 1: return "GoogleMapTW.html";
    default: return "GoogleMapEN.html";
    }
}

bool MapPageTakesKey(int mapType) { return mapType == kMapTypeService; }

std::string MapKeyForAddress(std::string_view key)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(key.size());
    for (char c : key) {
        const auto u = static_cast<unsigned char>(c);
        const bool plain = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' ||
                           u == '_' || u == '.' || u == '~';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

std::string ApplyMapKey(std::string_view page, std::string_view key, bool* changed)
{
    const std::string wanted = MapKeyForAddress(key);
    std::string out;
    out.reserve(page.size() + wanted.size());
    bool any = false;
    size_t pos = 0;
    while (pos < page.size()) {
        size_t eol = page.find('\n', pos);
        const size_t next = eol == std::string_view::npos ? page.size() : eol + 1;
        const std::string_view line = page.substr(pos, next - pos);
        const size_t marker = line.find(kMapKeyMarker);
        const size_t keyAt = marker == std::string_view::npos ? marker : marker + kMapKeyMarker.size();
        const size_t end = keyAt == std::string_view::npos ? keyAt : line.find(kMapKeyEnd, keyAt);
        if (end != std::string_view::npos && !SameIgnoringCase(line.substr(keyAt, end - keyAt), wanted)) {
            out.append(line.substr(0, keyAt));
            out.append(wanted);
            out.append(line.substr(end));
            any = true;
        } else {
            out.append(line);
        }
        pos = next;
    }
    if (changed) *changed = any;
    return out;
}

bool WriteKeyedPage(const std::filesystem::path& source, const std::filesystem::path& copy, std::string_view key,
                    std::string* error)
{
    auto fail = [error](std::string text) {
        if (error) *error = std::move(text);
        return false;
    };
    std::string page;
    {
        std::ifstream in(source, std::ios::binary);
        if (!in) return fail("cannot read " + source.string());
        page.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) return fail("cannot read " + source.string());
    }
    const std::string text = ApplyMapKey(page, key);

    std::error_code ec;
    if (copy.has_parent_path()) {
        std::filesystem::create_directories(copy.parent_path(), ec);
        if (ec) return fail("cannot make " + copy.parent_path().string() + ": " + ec.message());
    }
    std::filesystem::path temp = copy;
    temp += ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (out) out.write(text.data(), std::streamsize(text.size()));
        if (out) out.flush();
        if (!out) {
            out.close();
            std::filesystem::remove(temp, ec);
            return fail("cannot write " + temp.string());
        }
    }
    std::filesystem::rename(temp, copy, ec);
    if (ec) {
        const std::string why = ec.message();
        std::filesystem::remove(temp, ec);
        return fail("cannot replace " + copy.string() + ": " + why);
    }
    return true;
}

}  // namespace velmor
