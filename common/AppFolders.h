// The folders of one running program: resources (skin/, Language/, chart/)
// beside the executable in a build tree or portable copy, else in the
// installed share folder; writable files in the profile folder.
#pragma once

#include <filesystem>

namespace velmor {

struct CAppFolders {
    std::filesystem::path exeDir;     // where the executable is
    std::filesystem::path resources;  // skin/, Language/, chart/
    std::filesystem::path settings;   // Congfig/ lives here
    std::filesystem::path data;       // Info/, SnapFile/, BackUpFile/, log/, the lock, crash reports
    bool profileOverride = false;     // VELMOR_PROFILE_DIR chose settings and data

    std::filesystem::path ConfigFile() const { return settings / "Congfig" / "SysTemConfig.ini"; }
    std::filesystem::path LanguageTable() const { return resources / "Language" / "SvrLanguage.ini"; }
    std::filesystem::path SkinDir() const { return resources / "skin"; }
    std::filesystem::path InfoDir() const { return data / "Info"; }
    std::filesystem::path LockFile() const { return data / "Velmor.dat"; }
    std::filesystem::path DefaultSnapPath() const { return data / "SnapFile"; }
    std::filesystem::path DefaultSaveFilePath() const { return data / "BackUpFile"; }
    // The profile's private key that signs export reports (made at the first export).
    std::filesystem::path SigningKeyFile() const { return data / "Keys" / "ReportSigning.pem"; }
};

// Decides the folders from the executable's folder and the environment
// (VELMOR_PROFILE_DIR, XDG_CONFIG_HOME, XDG_DATA_HOME, HOME).
CAppFolders ResolveAppFolders(const std::filesystem::path& exeDir);

// The folders of the running executable (its folder as /proc/self/exe
// names it): the program and velmor-cli, side by side in one folder, find
// the same profile.
CAppFolders ResolveOwnAppFolders();

}  // namespace velmor
