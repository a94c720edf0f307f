// One running program per profile: an exclusive lock on "Velmor.dat" held
// for the whole run, and a shared-memory area through which a second start
// hands its recording path to the running instance.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace velmor {

class CSingleInstance {
public:
    static constexpr size_t kAreaBytes = 1025;  // created size
    static constexpr size_t kMappedBytes = 1024;

    CSingleInstance() = default;
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // Creates or opens the hand-over area (a failure is reported in
    // `AreaError()` and the program goes on without it), then tries the
    // lock. True: this is the first instance (a stale hand-over left by a
    // killed one is cleared); false: another instance holds the lock.
    bool Start(const std::filesystem::path& lockFile, const std::string& areaName);

    bool HasArea() const { return m_area != nullptr; }
    const std::string& AreaError() const { return m_areaError; }
    const std::string& LockError() const { return m_lockError; }

    // Second instance: puts an absolute path into the area, as code-page
    // text. Waits up to `waitMs` for an earlier hand-over to be taken.
    // False with `error` when the path is too long, cannot be written in the
    // code page, or there is no area.
    bool HandOver(const std::string& utf8Path, int waitMs, std::string* error);

    // First instance, polled: the path waiting in the area (UTF-8), which
    // is cleared; none when the area is empty.
    std::optional<std::string> TakeHandOver();

    // The area's name: "/VELMOR" for the user's own profile, a name derived
    // from the folder when VELMOR_PROFILE_DIR chose another, so that
    // instances of different profiles never take each other's paths.
    static std::string AreaName(const std::filesystem::path& profileDir, bool profileOverride);

private:
    int m_lockFd = -1;
    int m_areaFd = -1;
    unsigned char* m_area = nullptr;
    std::string m_areaError;
    std::string m_lockError;
};

// Whether a command-line argument names something the player opens, and so
// is handed over to a running instance: recordings (.ifv, .rpo, .rkrec,
// .grec) and media files, in any case of the extension.
bool IsHandOverPath(const std::string& arg);

}  // namespace velmor
