#include "tools/velmor-cli/CliOutput.h"

#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "container/include/rkcontainer.h"
#include "index/include/rkindex.h"
#include "media/include/rkmedia.h"
#include "player/formats/IfvFile.h"
#include "store/include/rkstore.h"

namespace velmor::cli {
namespace {

int g_jsonFd = STDOUT_FILENO;
std::string g_buffer;

void WriteFd(int fd, const char* p, size_t n)
{
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += w;
        n -= size_t(w);
    }
}

}  // namespace

namespace {

// Every library line goes to standard error as it came, one write each; the
// media engine's step-by-step lines stay out, as they always have.
void LibraryLineToStderr(int /*level*/, const char* line, void* /*user*/)
{
    std::string text(line);
    if (text.empty() || text.back() != '\n') text += '\n';
    WriteFd(STDERR_FILENO, text.data(), text.size());
}

void MediaLineToStderr(int level, const char* line, void* user)
{
    if (level < RK_LOG_DEBUG) LibraryLineToStderr(level, line, user);
}

}  // namespace

void RouteLibraryLogsToStderr()
{
    RKSFS_SetLogCallback(LibraryLineToStderr, nullptr);
    RKCONTAINER_SetLogCallback(LibraryLineToStderr, nullptr);
    RKFile_SetLogCallback(LibraryLineToStderr, nullptr);
    RKPLAYER_SetLogCallback(MediaLineToStderr, nullptr);
    RK_FileSetLogCallback(LibraryLineToStderr, nullptr);
}

void WriteJson(std::string_view text)
{
    g_buffer.append(text);
    if (g_buffer.size() >= (1 << 16)) FlushJson();
}

void FlushJson()
{
    WriteFd(g_jsonFd, g_buffer.data(), g_buffer.size());
    g_buffer.clear();
}

void Warn(const std::string& subject, const std::string& what)
{
    std::string line = "velmor-cli: " + subject + ": " + what + "\n";
    WriteFd(STDERR_FILENO, line.data(), line.size());
}

std::string TimeText(uint32_t seconds)
{
    std::time_t t = seconds;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string Crc32Hex(const uint8_t* data, size_t length)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    while (length > 0) {
        const uInt chunk = length > (1u << 30) ? (1u << 30) : uInt(length);
        crc = crc32(crc, data, chunk);
        data += chunk;
        length -= chunk;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08lx", crc & 0xFFFFFFFFUL);
    return buf;
}

std::string FrameLine(const char* kind, int type, bool key, uint32_t length, uint64_t pts, int64_t ms,
                      const uint8_t* payload)
{
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "{\"kind\":\"%s\",\"type\":%d,\"key\":%s,\"length\":%u,\"pts\":%llu,\"ms\":%lld,\"crc32\":\"%s\"}\n",
                  kind, type, key ? "true" : "false", length, (unsigned long long)pts, (long long)ms,
                  Crc32Hex(payload, length).c_str());
    return buf;
}

}  // namespace velmor::cli
