// list and events: the record search and the event list of the driving-record
// page, without the page.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sstream>
#include <system_error>
#include <unordered_map>

#include "common/CodePage.h"
#include "common/FileReader.h"
#include "common/LanguageTable.h"
#include "common/PathUtil.h"
#include "player/search/EventFile.h"
#include "player/search/EventFormat.h"
#include "player/search/LocalFileSearch.h"
#include "player/search/SearchRecordFile.h"
#include "player/search/UDisks2Service.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace fs = std::filesystem;

namespace velmor::cli {
namespace {

struct ListOptions {
    std::string source;
    std::string channels;
    std::string types = "all";
    std::string device;
    bool client = false;
    bool quiet = false;
};

// "1,2,5" (channels counted from 1) as a mask; all 16 when not given.
uint32_t ChannelMask(const std::string& text)
{
    if (text.empty()) return 0xFFFF;
    uint32_t mask = 0;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        int channel = 0;
        size_t used = 0;
        try {
            channel = std::stoi(item, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != item.size() || channel < 1 || channel > 16)
            throw CliError("--channels", "'" + item + "' is not a channel 1..16");
        mask |= 1u << (channel - 1);
    }
    if (!mask) throw CliError("--channels", "no channel given");
    return mask;
}

nlohmann::ordered_json RecordJson(const StSearchRecord_t& r, const fs::path& path)
{
    // Download records carry a file name over the fields an index record
    // keeps its flags, length and offset in.
    const bool download = r.kind == kSourceDownloadTree || r.kind == kSourceClientDownload;
    return {{"kind", r.kind},
            {"channel", r.channel},
            {"begin", r.beginTime.get()},
            {"end", r.endTime.get()},
            {"label", GbkToUtf8(LabelOf(r))},
            {"disk", download ? 0 : r.diskNo},
            {"folder", download ? 0 : r.folderNo},
            {"file", download ? 0 : r.fileNo.get()},
            {"flags", download ? 0 : r.flags},
            {"length", download ? 0 : r.length.get()},
            {"offset", download ? 0 : r.beginOffset.get()},
            {"path", path.string()}};
}

int RunList(const ListOptions& o)
{
    const uint32_t mask = ChannelMask(o.channels);
    if (o.types != "all" && o.types != "alarm") throw CliError("--types", "'" + o.types + "' is not all or alarm");
    std::error_code ec;
    if (!fs::exists(o.source, ec)) throw CliError(o.source, "no such file or folder");
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    // Progress is for a person watching: only on a terminal.
    CSearchProgress::Callback progress;
    if (!o.quiet && ::isatty(STDERR_FILENO))
        progress = [](int percent) { std::fprintf(stderr, "progress %d\n", percent); };

    auto listLocal = [&](bool client) {
        if (!fs::is_directory(o.source, ec)) throw CliError(o.source, "not a folder");
        CLocalFileSearch search;
        search.SetProgress(progress);
        search.SetTypeChoice(o.types == "alarm" ? CLocalFileSearch::kTypeAlarm : CLocalFileSearch::kTypeAll);
        search.SetChannelList(CLocalFileSearch::ChannelListOf(mask));
        std::vector<LocalFileRecord> records;
        if (client)
            search.SearchRKClientDownloadFile(o.source, records);
        else
            search.SearchFtpFileByManyTime(o.source, records);
        for (const auto& r : records) out.push_back(RecordJson(r.record, r.path));
    };

    if (o.client) {
        listLocal(true);
    } else {
        const SourceKind kind = Classify(o.source);
        CSearchRecordFile search;
        search.SetChannelMask(mask);
        search.SetProgress(progress);
        switch (kind) {
            case SourceKind::kGrecFile:
            case SourceKind::kContainerFile:
            case SourceKind::kIfvFile:
                if (!search.SearchSingleRecordFile(o.source))
                    throw CliError(o.source, "cannot be read as a recording");
                break;
            case SourceKind::kIndexDisk:
            case SourceKind::kContainerFolder: {
                if (!search.SetSource(o.source)) throw CliError(o.source, "neither an index disk nor a container folder");
                const bool index = search.Sources().front().kind == kListIndexDisk;
                if (index) {
                    search.SearchRecordFile();
                } else {
                    // Each folder's device: directly, through the desktop's disk
                    // service, or its index heads (said on standard error).
                    CUDisks2Service service;
                    std::vector<std::string> devices;
                    std::vector<std::shared_ptr<CHeldDescriptor>> held;
                    for (const SearchSource& s : search.Sources()) {
                        const PartitionAccess access = ResolvePartitionAccess(
                            s.folder, devices.empty() ? o.device : std::string(), &service);
                        if (access.route == EDeviceRoute::kFailed) throw CliError(access.device, access.message);
                        if (access.route == EDeviceRoute::kIndexHeads) Warn(o.source, access.message);
                        devices.push_back(access.path);
                        if (access.held) held.push_back(access.held);
                    }
                    search.SearchRpoRecordFile(devices);
                }
                break;
            }
            case SourceKind::kDownloadTree:
                listLocal(false);
                break;
            default:
                throw CliError(o.source, std::string("the record search does not list a source of kind ") +
                                             SourceKindName(kind));
        }
        if (kind != SourceKind::kDownloadTree)
            for (const auto& r : search.Results()) out.push_back(RecordJson(r.record, r.path));
    }
    WriteJson(out.dump() + "\n");
    return kExitOk;
}

int RunEvents(const std::string& folder)
{
    std::error_code ec;
    if (!fs::exists(folder, ec)) throw CliError(folder, "no such folder");
    if (!fs::is_directory(folder, ec)) throw CliError(folder, "not a folder");
    const fs::path file = FindNoCase(folder, kEventFileName);
    CFileReader reader;
    int error = 0;
    if (!reader.Open(file, &error))
        throw CliError(folder, error == ENOENT ? "the folder holds no RecordEvent.bin" : std::strerror(error));
    char magic[4] = {};
    if (reader.Read(magic, sizeof magic) != sizeof magic || reader.Size() < int64_t(kEventHeaderSize) ||
        std::memcmp(magic, kEventMagic, sizeof magic) != 0)
        throw CliError(file.string(), "not an event file");
    reader.Close();

    // Each event is written as it is read, in the file's order: an event file
    // of any size is listed in the same small memory and in one pass.
    const SearchWindow window = SearchWindowAt(std::time(nullptr));
    const CLanguageTable language = CLanguageTable::Load();
    // Texts are escaped once each: there are few descriptions and one fly
    // file for a whole block of units.
    auto quoted = [](const std::string& text) {
        return nlohmann::ordered_json(text).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    };
    std::unordered_map<std::string, std::string> descriptions;
    const std::string* descriptionJson = nullptr;
    std::string lastDescription;
    std::filesystem::path lastPath;
    std::string pathJson = quoted("");
    std::string line;
    bool first = true;
    // Numbers are written straight into the line: a listing is millions of them.
    auto number = [&line](uint64_t value) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        line.append(digits, size_t(end - digits));
    };
    const EventFileStatus status =
        ForEachFolderEvent(fs::path(folder), window.start, window.end, language, [&](const EventRecord& e) {
            if (!descriptionJson || e.description != lastDescription) {
                auto d = descriptions.find(e.description);
                if (d == descriptions.end()) d = descriptions.emplace(e.description, quoted(e.description)).first;
                descriptionJson = &d->second;
                lastDescription = e.description;
            }
            if (e.path != lastPath) {
                lastPath = e.path;
                pathJson = quoted(e.path.string());
            }
            line.assign(first ? "[" : ",");
            first = false;
            line += "{\"type\":";
            number(e.type);
            line += ",\"channel\":";
            number(e.channel);
            line += ",\"begin\":";
            number(e.beginTime);
            line += ",\"end\":";
            number(e.endTime);
            line += ",\"description\":";
            line += *descriptionJson;
            line += ",\"path\":";
            line += pathJson;
            line += ",\"pos\":";
            number(e.beginPos);
            line += '}';
            WriteJson(line);
        });
    if (status != EventFileStatus::kRead) throw CliError(file.string(), "not an event file");
    WriteJson(first ? "[]\n" : "]\n");
    return kExitOk;
}

}  // namespace

void AddSearchCommands(CLI::App& app, Runner& run)
{
    auto list = std::make_shared<ListOptions>();
    auto* cmd = app.add_subcommand(
        "list", "List the recordings of SOURCE as the driving-record page's search does (JSON array)");
    cmd->add_option("SOURCE", list->source,
                    "index disk, container folder, container/IFV file, download tree or client download folder")
        ->required();
    cmd->add_option("--channels", list->channels, "channels counted from 1, e.g. 1,2,5 (default: all 16)");
    cmd->add_option("--types", list->types, "all (every recording) or alarm (alarm recordings; download folders)");
    cmd->add_option("--device", list->device, "the raw volume or image file behind a container folder");
    cmd->add_flag("--client", list->client, "SOURCE is a client download folder");
    cmd->add_flag("--quiet", list->quiet, "no progress lines on standard error (they appear only on a terminal)");
    cmd->callback([list, &run] { run = [list] { return RunList(*list); }; });

    auto folder = std::make_shared<std::string>();
    auto* events = app.add_subcommand("events", "List the events of FOLDER's RecordEvent.bin (JSON array)");
    events->add_option("FOLDER", *folder, "folder holding RecordEvent.bin and its fly files")->required();
    events->callback([folder, &run] { run = [folder] { return RunEvents(*folder); }; });
}

}  // namespace velmor::cli
