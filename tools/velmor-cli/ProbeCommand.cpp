#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "common/IniFile.h"
#include "player/playback/FrameSource.h"
#include "player/search/LocalFileSearch.h"
#include "player/search/SearchRecordFile.h"
#include "store/format/RkFormat.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace fs = std::filesystem;

namespace velmor::cli {
namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

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

}  // namespace

const char* SourceKindName(SourceKind kind)
{
    switch (kind) {
        case SourceKind::kContainerFile: return "container_file";
        case SourceKind::kBackupRecordFile: return "backup_record_file";
        case SourceKind::kIfvFile: return "ifv_file";
        case SourceKind::kGrecFile: return "grec_file";
        case SourceKind::kMediaFile: return "media_file";
        case SourceKind::kIndexDisk: return "index_disk";
        case SourceKind::kContainerFolder: return "container_folder";
        case SourceKind::kDownloadTree: return "download_tree";
        case SourceKind::kClientDownloadFolder: return "client_download_folder";
        case SourceKind::kUnknown: return "unknown";
    }
    return "unknown";
}

SourceKind Classify(const std::string& path)
{
    std::error_code ec;
    const fs::path p(path);
    const auto status = fs::status(p, ec);
    if (ec || !fs::exists(status)) throw CliError(path, "no such file or folder");
    if (fs::is_directory(status)) {
        // The record search's own classification first, so that probe and
        // list agree on what a folder is.
        if (HasEntry(p, "index00.bin") && HasEntry(p, "index01.bin") && HasEntry(p, "KORADVR"))
            return SourceKind::kIndexDisk;
        for (fs::directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec))
            if (IsContainerFileName(it->path().filename().string())) return SourceKind::kContainerFolder;
        if (CSearchRecordFile::bExistsRpoFile(p)) return SourceKind::kContainerFolder;
        if (IsDownloadTree(p)) return SourceKind::kDownloadTree;
        if (IsClientDownloadFolder(p)) return SourceKind::kClientDownloadFolder;
        return SourceKind::kUnknown;
    }
    const std::string name = Lower(p.filename().string());
    const auto size = fs::file_size(p, ec);
    if (EndsWith(name, ".rpo")) return !ec && rkfs::IsContainerFileSize(size) ? SourceKind::kContainerFile : SourceKind::kUnknown;
    if (EndsWith(name, ".ifv")) return SourceKind::kIfvFile;
    if (EndsWith(name, ".grec")) return SourceKind::kGrecFile;
    if (EndsWith(name, ".rkrec")) return SourceKind::kBackupRecordFile;
    for (const char* ext : {".mp4", ".avi", ".mkv", ".mov", ".ts", ".h264", ".h265", ".264", ".265", ".flv"})
        if (EndsWith(name, ext)) return SourceKind::kMediaFile;
    // Recorders export backup record files under names of their own: the
    // content tells.
    if (!ec && size >= rkfs::kMinBackupFileSize && LooksLikeBackupRecordFile(path)) return SourceKind::kBackupRecordFile;
    if (LooksLikeIfvFile(path)) return SourceKind::kIfvFile;
    return SourceKind::kUnknown;
}

int RunProbe(const std::string& path)
{
    const SourceKind kind = Classify(path);
    nlohmann::ordered_json out = {{"path", path}, {"kind", SourceKindName(kind)}};
    WriteJson(out.dump() + "\n");
    return kExitOk;
}

int RunInfo(const std::string& path)
{
    const SourceKind kind = Classify(path);
    switch (kind) {
        case SourceKind::kContainerFile: return RunContainerInfo(path);
        case SourceKind::kBackupRecordFile: return RunBackupInfo(path);
        case SourceKind::kIfvFile: return RunIfvInfo(path);
        default: break;
    }
    throw CliError(path, std::string("cannot read a file of kind ") + SourceKindName(kind) + " yet");
}

std::unique_ptr<CFrameSource> OpenFrameSource(const std::string& path, SourceKind kind, int channel)
{
    switch (kind) {
        case SourceKind::kContainerFile: return CFrameSource::OpenContainerFile(path, channel);
        case SourceKind::kBackupRecordFile: return CFrameSource::OpenBackupRecord(path, channel);
        case SourceKind::kIfvFile: return CFrameSource::OpenIfvFile(path, channel);
        default: return nullptr;
    }
}

int RunFrames(const std::string& path, const FramesOptions& options)
{
    const SourceKind kind = Classify(path);
    if (options.channel && (*options.channel < 1 || *options.channel > 16))
        throw CliError("--channel", "must be 1 to 16");
    auto source = OpenFrameSource(path, kind, options.channel.value_or(0));
    if (!source)
        throw CliError(path, std::string("cannot read frames of a file of kind ") + SourceKindName(kind) + " yet");
    if (source->OpenResult() != EFrameResult::kOk) throw CliError(path, source->ErrorText());
    if (options.seek && source->Seek(*options.seek) != EFrameResult::kOk) throw CliError(path, source->ErrorText());

    static const char* const kKindNames[] = {"video", "audio", "info"};
    SourceFrame f;
    uint64_t printed = 0;
    while (!options.count || printed < *options.count) {
        const EFrameResult rc = source->Read(f);
        if (rc == EFrameResult::kEnd) break;
        if (rc != EFrameResult::kOk) {
            FlushJson();
            throw CliError(path, source->ErrorText() + "; the frames before it were listed");
        }
        WriteJson(FrameLine(kKindNames[int(f.kind)], f.type, f.key, f.length, f.pts, f.ms, f.data));
        ++printed;
    }
    FlushJson();
    if (source->SkippedBadHeads() > 0) {
        Warn(path, std::to_string(source->SkippedBadHeads()) +
                       " bad frame head(s); the rest of each such block was skipped");
        return kExitBadInput;
    }
    return kExitOk;
}

void AddFileCommands(CLI::App& app, Runner& run)
{
    struct State {
        std::string path;
        FramesOptions frames;
        int channel = 0;
        uint32_t seek = 0;
        uint64_t count = 0;
    };
    auto st = std::make_shared<State>();

    auto* probe = app.add_subcommand("probe", "Tell what PATH is: {\"path\":P,\"kind\":K}");
    probe->add_option("PATH", st->path, "file or folder")->required();
    probe->callback([st, &run] { run = [st] { return RunProbe(st->path); }; });

    auto* info = app.add_subcommand("info", "Describe one recording file: span, channels, picture, codec, audio, label");
    info->add_option("FILE", st->path, "recording file")->required();
    info->callback([st, &run] { run = [st] { return RunInfo(st->path); }; });

    auto* frames = app.add_subcommand(
        "frames", "List the frames the player's reader delivers, one JSON object per line (NDJSON)");
    frames->add_option("FILE", st->path, "recording file")->required();
    auto* channelOpt = frames->add_option("--channel", st->channel, "channel, counted from 1 (default: the first)")
                           ->check(CLI::Range(1, 16));
    auto* seekOpt = frames->add_option("--seek", st->seek, "seek to the I frame at or before this second first");
    auto* countOpt = frames->add_option("--count", st->count, "stop after this many frames");
    frames->callback([st, channelOpt, seekOpt, countOpt, &run] {
        if (*channelOpt) st->frames.channel = st->channel;
        if (*seekOpt) st->frames.seek = st->seek;
        if (*countOpt) st->frames.count = st->count;
        run = [st] { return RunFrames(st->path, st->frames); };
    });
}

}  // namespace velmor::cli
