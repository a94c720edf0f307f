#include "player/app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "common/CodePage.h"

namespace velmor {

CSingleInstance::~CSingleInstance()
{
    if (m_area) ::munmap(m_area, kMappedBytes);
    if (m_areaFd >= 0) ::close(m_areaFd);
    if (m_lockFd >= 0) ::close(m_lockFd);  // releases the lock
}

std::string CSingleInstance::AreaName(const std::filesystem::path& profileDir, bool profileOverride)
{
    if (!profileOverride) return "/VELMOR";
    // FNV-1a of the folder's text.
    uint32_t h = 2166136261u;
    for (unsigned char c : profileDir.string()) h = (h ^ c) * 16777619u;
    char name[32];
    std::snprintf(name, sizeof name, "/VELMOR-%08x", h);
    return name;
}

bool CSingleInstance::Start(const std::filesystem::path& lockFile, const std::string& areaName)
{
    m_areaFd = ::shm_open(areaName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_areaFd < 0) {
        m_areaError = "Could not create file mapping object (" + std::to_string(errno) + ")";
    } else {
        struct stat st {};
        if (::fstat(m_areaFd, &st) == 0 && st.st_size < off_t(kAreaBytes) && ::ftruncate(m_areaFd, kAreaBytes) != 0) {
            m_areaError = "Could not create file mapping object (" + std::to_string(errno) + ")";
        } else {
            void* p = ::mmap(nullptr, kMappedBytes, PROT_READ | PROT_WRITE, MAP_SHARED, m_areaFd, 0);
            if (p == MAP_FAILED)
                m_areaError = "Could not map view of file (" + std::to_string(errno) + ")";
            else
                m_area = static_cast<unsigned char*>(p);
        }
        if (!m_area) {
            ::close(m_areaFd);
            m_areaFd = -1;
        }
    }

    std::error_code ec;
    std::filesystem::create_directories(lockFile.parent_path(), ec);
    m_lockFd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_lockFd < 0) {
        // Without a lock file there is no way to tell; run rather than refuse.
        m_lockError = "cannot open " + lockFile.string() + ": " + std::strerror(errno);
        return true;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            ::close(m_lockFd);
            m_lockFd = -1;
            return false;
        }
        m_lockError = "cannot lock " + lockFile.string() + ": " + std::strerror(errno);
    }
    // The lock is ours, so whatever the area holds was left by an instance
    // that ended without taking it.
    if (m_area) std::memset(m_area, 0, kMappedBytes);
    return true;
}

bool CSingleInstance::HandOver(const std::string& utf8Path, int waitMs, std::string* error)
{
    auto fail = [&](std::string text) {
        if (error) *error = std::move(text);
        return false;
    };
    if (!m_area) return fail("no hand-over area: " + m_areaError);
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(utf8Path, ec);
    if (ec) p = utf8Path;
    const std::string utf8 = p.lexically_normal().string();
    const std::string gbk = Utf8ToGbk(utf8);
    if (gbk.empty() || GbkToUtf8(gbk) != utf8) return fail("the path cannot be passed on in the code page: " + utf8);
    if (gbk.size() >= kMappedBytes) return fail("the path is longer than the hand-over area: " + utf8);

    auto first = reinterpret_cast<std::atomic<unsigned char>*>(m_area);
    for (int waited = 0; first->load() != 0 && waited < waitMs; waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The first byte goes in last: a reader never sees half a path.
    std::memset(m_area + 1, 0, kMappedBytes - 1);
    std::memcpy(m_area + 1, gbk.data() + 1, gbk.size() - 1);
    std::atomic_thread_fence(std::memory_order_release);
    first->store(static_cast<unsigned char>(gbk[0]));
    return true;
}

std::optional<std::string> CSingleInstance::TakeHandOver()
{
    if (!m_area) return std::nullopt;
    auto first = reinterpret_cast<std::atomic<unsigned char>*>(m_area);
    if (first->load() == 0) return std::nullopt;
    std::atomic_thread_fence(std::memory_order_acquire);
    const auto* bytes = reinterpret_cast<const char*>(m_area);
    size_t len = strnlen(bytes, kMappedBytes);
    std::string path = GbkToUtf8(std::string_view(bytes, len));
    std::memset(m_area, 0, kMappedBytes);
    return path;
}

bool IsHandOverPath(const std::string& arg)
{
    static const char* const kExtensions[] = {".ifv", ".rpo", ".rkrec", ".grec", ".mp4", ".avi",
                                              ".mkv", ".mov", ".h264", ".h265", ".264", ".265"};
    std::string ext = std::filesystem::path(arg).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return std::any_of(std::begin(kExtensions), std::end(kExtensions), [&](const char* e) { return ext == e; });
}

}  // namespace velmor
