#include "player/formats/TtxLibrary.h"

#include <dlfcn.h>

#include <system_error>
#include <type_traits>

#include "common/AppPaths.h"

namespace velmor {

namespace {

// The plugin stays mapped after its last close: it installs FFmpeg's
// process-wide log callback, which must never point into unmapped code.
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;

}  // namespace

CTtxLibrary::CTtxLibrary(const std::vector<std::filesystem::path>& folders, bool searchSystem)
{
    std::string tried;
    for (const auto& folder : folders) {
        const auto candidate = folder / kFileName;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(candidate, ec)) {
            tried += (tried.empty() ? "" : ", ") + folder.string();
            continue;
        }
        m_module = ::dlopen(candidate.c_str(), kOpenFlags);
        if (!m_module) {
            const char* why = ::dlerror();
            m_error = candidate.string() + " cannot be loaded: " + (why ? why : "unknown reason");
            return;
        }
        m_path = candidate.string();
        break;
    }
    if (!m_module && searchSystem) {
        m_module = ::dlopen(kFileName, kOpenFlags);
        if (m_module) m_path = kFileName;
    }
    if (!m_module) {
        m_error = std::string("the grec reader plugin ") + kFileName + " was not found (looked in " +
                  (tried.empty() ? std::string("no folder") : tried) +
                  (searchSystem ? " and the library search path)" : ")");
        return;
    }
    if (!Bind()) {
        ::dlclose(m_module);
        m_module = nullptr;
    }
}

CTtxLibrary::~CTtxLibrary()
{
    if (m_module) ::dlclose(m_module);
}

bool CTtxLibrary::Bind()
{
    bool ok = true;
    auto find = [&](auto& entry, const char* name) {
        entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(::dlsym(m_module, name));
        if (!entry && ok) {
            ok = false;
            m_error = m_path + " has no entry " + name;
        }
    };
    find(Initialize, "AVFILE_Initialize");
    find(UnInitialize, "AVFILE_UnInitialize");
    find(FEOpenFile, "AVFILE_FEOpenFile");
    find(FECloseFile, "AVFILE_FECloseFile");
    find(FEGetFileInfo, "AVFILE_FEGetFileInfo");
    find(FESeekBegin, "AVFILE_FESeekBegin");
    find(FEGetWaveFormat, "AVFILE_FEGetWaveFormat");
    find(FEGetTerminalInfo, "AVFILE_FEGetTerminalInfo");
    find(FESeekIFrame, "AVFILE_FESeekIFrame");
    find(FEReadFrame, "AVFILE_FEReadFrame");
    find(GetLastErrorText, "AVFILE_GetLastErrorText");
    find(SetLogCallback, "AVFILE_SetLogCallback");
    return ok;
}

std::vector<std::filesystem::path> CTtxLibrary::PluginFolders()
{
    const auto exe = ApplicationDir();
    return {exe, exe.parent_path() / "lib" / "velmor", exe.parent_path() / "lib"};
}

CTtxLibrary& CTtxLibrary::Shared()
{
    // Loaded once and kept: play windows, searches and cuts share it, and
    // it is never unloaded under a reader.
    static CTtxLibrary library(PluginFolders());
    return library;
}

int CTtxFile::Open(const std::filesystem::path& path)
{
    Close();
    if (!m_library.Loaded()) return AVFILE_ERR_OPEN;
    return m_library.FEOpenFile(&m_slot, path.c_str());
}

void CTtxFile::Close()
{
    if (m_slot && m_library.Loaded()) m_library.FECloseFile(&m_slot);
    m_slot = nullptr;
}

std::string CTtxFile::Error() const
{
    if (!m_library.Loaded()) return m_library.Error();
    const char* text = m_library.GetLastErrorText();
    return text && *text ? text : "unknown failure";
}

}  // namespace velmor
