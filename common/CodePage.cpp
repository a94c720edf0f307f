#include "common/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace velmor {
namespace {

class CIconv {
public:
    CIconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~CIconv()
    {
        if (Ok()) iconv_close(m_cd);
    }
    CIconv(const CIconv&) = delete;
    CIconv& operator=(const CIconv&) = delete;
    bool Ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts the whole input; an invalid or truncated sequence costs one
    // input byte and yields `replacement`.
    std::string Convert(std::string_view in, std::string_view replacement)
    {
        std::string out;
        if (!Ok()) return std::string(in);
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);  // a fresh start for every text
        out.reserve(in.size() * 3 / 2 + 4);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        char buf[1024];
        while (srcLeft > 0) {
            char* dst = buf;
            size_t dstLeft = sizeof buf;
            size_t rc = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf, size_t(dst - buf));
            if (rc == size_t(-1)) {
                if (errno == E2BIG) continue;
                // EILSEQ or EINVAL: skip one byte and mark it.
                ++src;
                --srcLeft;
                out.append(replacement);
                iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
            }
        }
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        iconv(m_cd, nullptr, nullptr, &dst, &dstLeft);
        out.append(buf, size_t(dst - buf));
        return out;
    }

private:
    iconv_t m_cd;
};

bool IsAscii(std::string_view s)
{
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

// Opening a converter costs far more than a short conversion: each thread
// keeps its own (a converter carries state and is not shared).
std::string GbkToUtf8(std::string_view gbk)
{
    if (IsAscii(gbk)) return std::string(gbk);
    thread_local CIconv cv("UTF-8", "CP936");
    return cv.Convert(gbk, "\xEF\xBF\xBD");
}

std::string Utf8ToGbk(std::string_view utf8)
{
    if (IsAscii(utf8)) return std::string(utf8);
    thread_local CIconv cv("CP936", "UTF-8");
    return cv.Convert(utf8, "?");
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian)
{
    thread_local CIconv le("UTF-8", "UTF-16LE");
    thread_local CIconv be("UTF-8", "UTF-16BE");
    return (bigEndian ? be : le).Convert(bytes.substr(0, bytes.size() & ~size_t(1)), "\xEF\xBF\xBD");
}

bool IsValidUtf8(std::string_view text)
{
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t len;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            unsigned char cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

std::string_view FieldText(const void* field, std::size_t size)
{
    const char* p = static_cast<const char*>(field);
    const void* nul = std::memchr(p, 0, size);
    return std::string_view(p, nul ? size_t(static_cast<const char*>(nul) - p) : size);
}

}  // namespace velmor
