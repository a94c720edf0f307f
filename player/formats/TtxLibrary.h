// The grec reader plugin (libavfile_ttx.so), loaded at run time by name and
// reached only through its AVFILE_ entries, each found by name. The program
// loads it once (Shared) and keeps it to the end; a missing plugin or entry
// makes every grec file unreadable with the reason in Error().
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "plugins/ttx/include/avfile_ttx.h"

namespace velmor {

class CTtxLibrary {
public:
    static constexpr const char* kFileName = "libavfile_ttx.so";

    // Looks for the plugin in `folders` in turn; when `searchSystem` is set
    // and none holds it, dlopen's own search by name is the last try.
    explicit CTtxLibrary(const std::vector<std::filesystem::path>& folders, bool searchSystem = true);
    ~CTtxLibrary();
    CTtxLibrary(const CTtxLibrary&) = delete;
    CTtxLibrary& operator=(const CTtxLibrary&) = delete;

    // The program's plugin: beside the executable (a build tree, a portable
    // copy), then the installed lib folder, loaded on first use.
    static CTtxLibrary& Shared();
    static std::vector<std::filesystem::path> PluginFolders();

    bool Loaded() const { return m_module != nullptr; }
    const std::string& Error() const { return m_error; }
    // Where it was loaded from ("libavfile_ttx.so" when dlopen searched).
    const std::string& Path() const { return m_path; }

    decltype(&AVFILE_Initialize) Initialize = nullptr;
    decltype(&AVFILE_UnInitialize) UnInitialize = nullptr;
    decltype(&AVFILE_FEOpenFile) FEOpenFile = nullptr;
    decltype(&AVFILE_FECloseFile) FECloseFile = nullptr;
    decltype(&AVFILE_FEGetFileInfo) FEGetFileInfo = nullptr;
    decltype(&AVFILE_FESeekBegin) FESeekBegin = nullptr;
    decltype(&AVFILE_FEGetWaveFormat) FEGetWaveFormat = nullptr;
    decltype(&AVFILE_FEGetTerminalInfo) FEGetTerminalInfo = nullptr;
    decltype(&AVFILE_FESeekIFrame) FESeekIFrame = nullptr;
    decltype(&AVFILE_FEReadFrame) FEReadFrame = nullptr;
    decltype(&AVFILE_GetLastErrorText) GetLastErrorText = nullptr;
    decltype(&AVFILE_SetLogCallback) SetLogCallback = nullptr;

private:
    bool Bind();

    void* m_module = nullptr;
    std::string m_path;
    std::string m_error;
};

// One open grec file of a loaded plugin; closed with the object.
class CTtxFile {
public:
    explicit CTtxFile(CTtxLibrary& library) : m_library(library) {}
    ~CTtxFile() { Close(); }
    CTtxFile(const CTtxFile&) = delete;
    CTtxFile& operator=(const CTtxFile&) = delete;

    // AVFILE_ codes; the reason of a failure in Error().
    int Open(const std::filesystem::path& path);
    void Close();
    bool IsOpen() const { return m_slot != nullptr; }
    AVFILE_HANDLE* Slot() { return &m_slot; }
    CTtxLibrary& Library() { return m_library; }
    // The plugin's last error text, or why the plugin is missing.
    std::string Error() const;

private:
    CTtxLibrary& m_library;
    AVFILE_HANDLE m_slot = nullptr;
};

}  // namespace velmor
