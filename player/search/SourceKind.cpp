#include "player/search/SourceKind.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/FileReader.h"
#include "common/IniFile.h"
#include "common/PathUtil.h"
#include "player/search/LocalFileSearch.h"
#include "player/search/SearchRecordFile.h"
#include "store/format/RkFormat.h"

namespace fs = std::filesystem;

namespace velmor {
namespace {

bool EndsWith(const std::string& s, const char* suffix)
{
    const size_t n = std::char_traits<char>::length(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// "fc" + decimal digits + ".rpo", in any case.
bool IsContainerFileName(const std::string& name)
{
    const std::string n = Lower(name);
    if (n.size() < 8 || n.compare(0, 2, "fc") != 0 || !EndsWith(n, ".rpo")) return false;
    return std::all_of(n.begin() + 2, n.end() - 4, [](unsigned char c) { return std::isdigit(c); });
}

bool HasEntry(const fs::path& dir, const char* name)
{
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (EqualsNoCase(it->path().filename().native(), name)) return true;
    return false;
}

std::vector<fs::path> SubFolders(const fs::path& dir)
{
    std::vector<fs::path> folders;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_directory(ec)) folders.push_back(it->path());
    return folders;
}

bool IsDateFolder(const fs::path& dir) { return CLocalFileSearch::IsDateFolderName(dir.filename().string()); }

// A date folder, a device folder of date folders, or a root of device folders.
bool IsDownloadTree(const fs::path& dir)
{
    fs::path p = dir;
    if (!p.has_filename()) p = p.parent_path();
    if (IsDateFolder(p)) return true;
    for (const auto& sub : SubFolders(p)) {
        if (IsDateFolder(sub)) return true;
        for (const auto& subsub : SubFolders(sub))
            if (IsDateFolder(subsub)) return true;
    }
    return false;
}

// A folder holding an IFV file named as the client download tool names them.
bool IsClientDownloadFolder(const fs::path& dir)
{
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        DownloadFileInfo info;
        if (it->is_regular_file(ec) && name.find(".ifv") != std::string::npos &&
            CLocalFileSearch::GetRKClientFileInfoByFileName(name, &info))
            return true;
    }
    return false;
}

// The kinds, and kNothing for a path where nothing exists.
constexpr auto kNothing = static_cast<ESourceKind>(-1);

ESourceKind Classified(const fs::path& p)
{
    std::error_code ec;
    const auto status = fs::status(p, ec);
    if (ec || !fs::exists(status)) return kNothing;
    if (fs::is_directory(status)) {
        // The record search's own classification first, so that probe and
        // list agree on what a folder is.
        if (HasEntry(p, "index00.bin") && HasEntry(p, "index01.bin") && HasEntry(p, "KORADVR"))
            return ESourceKind::kIndexDisk;
        for (fs::directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec))
            if (IsContainerFileName(it->path().filename().string())) return ESourceKind::kContainerFolder;
        if (CSearchRecordFile::bExistsRpoFile(p)) return ESourceKind::kContainerFolder;
        if (IsDownloadTree(p)) return ESourceKind::kDownloadTree;
        if (IsClientDownloadFolder(p)) return ESourceKind::kClientDownloadFolder;
        return ESourceKind::kUnknown;
    }
    const std::string name = Lower(p.filename().string());
    const auto size = fs::file_size(p, ec);
    if (EndsWith(name, ".rpo")) return !ec && rkfs::IsContainerFileSize(size) ? ESourceKind::kContainerFile : ESourceKind::kUnknown;
    if (EndsWith(name, ".ifv")) return ESourceKind::kIfvFile;
    if (EndsWith(name, ".grec")) return ESourceKind::kGrecFile;
    if (EndsWith(name, ".rkrec")) return ESourceKind::kBackupRecordFile;
    for (const char* ext : {".mp4", ".avi", ".mkv", ".mov", ".ts", ".h264", ".h265", ".264", ".265", ".flv"})
        if (EndsWith(name, ext)) return ESourceKind::kMediaFile;
    // Recorders export backup record files under names of their own: the
    // content tells.
    if (!ec && size >= rkfs::kMinBackupFileSize && LooksLikeBackupRecordFile(p)) return ESourceKind::kBackupRecordFile;
    if (LooksLikeIfvFile(p)) return ESourceKind::kIfvFile;
    return ESourceKind::kUnknown;
}

}  // namespace

const char* SourceKindName(ESourceKind kind)
{
    switch (kind) {
        case ESourceKind::kContainerFile: return "container_file";
        case ESourceKind::kBackupRecordFile: return "backup_record_file";
        case ESourceKind::kIfvFile: return "ifv_file";
        case ESourceKind::kGrecFile: return "grec_file";
        case ESourceKind::kMediaFile: return "media_file";
        case ESourceKind::kIndexDisk: return "index_disk";
        case ESourceKind::kContainerFolder: return "container_folder";
        case ESourceKind::kDownloadTree: return "download_tree";
        case ESourceKind::kClientDownloadFolder: return "client_download_folder";
        case ESourceKind::kUnknown: return "unknown";
    }
    return "unknown";
}

bool ClassifySource(const fs::path& p, ESourceKind& kind)
{
    const ESourceKind found = Classified(p);
    if (found == kNothing) return false;
    kind = found;
    return true;
}

bool LooksLikeBackupRecordFile(const fs::path& path)
{
    // A valid first block head, checked quietly: probing is not an error.
    CFileReader file;
    uint8_t raw[rkfs::kDataBlockHeadSize];
    if (!file.Open(path) || file.ReadAt(0, raw, sizeof raw) != sizeof raw) return false;
    return rkfs::CheckBakRecBlockHead(rkfs::LoadStruct<rkfs::StDataBlockHead_t>(raw)) == rkfs::HeadFault::kOk;
}

bool LooksLikeIfvFile(const fs::path& path)
{
    static const uint8_t kFileProperties[16] = {0x11, 0xd2, 0xd3, 0xab, 0xba, 0xa9, 0xcf, 0x11,
                                                0x8e, 0xe6, 0x00, 0xc0, 0x0c, 0x20, 0x53, 0x65};
    CFileReader file;
    uint8_t head[16];
    return file.Open(path) && file.ReadAt(0, head, sizeof head) == sizeof head &&
           std::memcmp(head, kFileProperties, sizeof head) == 0;
}

}  // namespace velmor
