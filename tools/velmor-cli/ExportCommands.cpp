// export: cuts a span as the cut dialog does, into the same folder and file
// names, with an export report beside the files.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>

#include "common/LanguageTable.h"
#include "common/PathUtil.h"
#include "container/include/rkcontainer.h"
#include "player/export/ClipCutter.h"
#include "player/export/ExportNames.h"
#include "player/export/ExportReport.h"
#include "player/export/GpsExport.h"
#include "player/formats/IfvFile.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace fs = std::filesystem;

namespace velmor::cli {
namespace {

struct ExportOptions {
    std::string source;
    uint32_t from = 0;
    uint32_t to = 0;
    std::string out;
    std::string channels;
    std::string format = "mp4";
    bool audio = false;
    bool combine = false;
    bool quiet = false;
};

// "1,2,5" (1-based) to a channel mask; empty gives 0 (the source's own channel).
uint16_t ParseChannels(const std::string& text)
{
    uint16_t mask = 0;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        char* end = nullptr;
        const long n = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end || n < 1 || n > 16)
            throw CliError("--channels", "'" + text + "' is not a list of channels 1..16");
        mask = uint16_t(mask | (1u << (n - 1)));
    }
    return mask;
}

int FirstChannel(uint16_t mask)
{
    for (int n = 1; n <= 16; ++n)
        if (mask & (1u << (n - 1))) return n;
    return 0;
}

int FormatIndex(const std::string& format)
{
    static const char* const kNames[] = {"ifv", "mp4", "avi", "gps", "rkrec"};
    for (int i = 0; i < 5; ++i)
        if (format == kNames[i]) return i;
    return format == "gpx" ? int(ECutFormat::kGps) : -1;
}

// The container files that hold the span, in time order: the file itself,
// or those of a partition folder as its search lists them.
std::vector<fs::path> ContainerFilesOfSpan(const std::string& source, SourceKind kind, const CutRequest& request)
{
    if (kind == SourceKind::kContainerFile) return {fs::path(source)};
    std::vector<RKCONTAINER_SEARCH_ENTRY> entries(20000);
    const char* paths[] = {source.c_str()};
    RKCONTAINER_FILTER filter{request.channelMask ? request.channelMask : 0xFFFFu};
    const int n = RKCONTAINER_SearchFileList(paths, 1, &filter, entries.data(), int(entries.size()));
    std::vector<std::pair<uint32_t, uint32_t>> found;  // begin time, file number
    for (int i = 0; i < n; ++i) {
        const uint32_t begin = entries[size_t(i)].beginTime, end = entries[size_t(i)].endTime;
        if (end >= request.start && begin <= request.end) found.emplace_back(begin, entries[size_t(i)].fileNo);
    }
    std::stable_sort(found.begin(), found.end());
    std::vector<fs::path> files;
    for (const auto& [begin, fileNo] : found) {
        char name[32];
        std::snprintf(name, sizeof name, "fc%05u.rpo", fileNo);
        const fs::path path = FindNoCase(source, name);
        if (std::find(files.begin(), files.end(), path) == files.end()) files.push_back(path);
    }
    return files;
}

// Why a cut failed, in words for the error line.
std::string Explain(const std::string& error)
{
    if (error == "Cut_Time_Error") return "the start must be earlier than the end";
    if (error == "Cut_CHN_Error") return "no recording in the span";
    if (error == kIfvNameError)
        return "the file name does not split at '_' into the recorder's five parts "
               "(channel_HHMMSS_HHMMSS_alarm_HHMMSS), so the export cannot be named";
    return error;
}

int RunExport(const ExportOptions& o)
{
    const int format = FormatIndex(o.format);
    if (format < 0) throw CliError("--format", "'" + o.format + "' is not one of ifv, mp4, avi, gps, gpx, rkrec");
    if (o.from >= o.to) throw CliError("--from", "the start must be earlier than the end");
    const SourceKind kind = Classify(o.source);
    const uint16_t mask = ParseChannels(o.channels);

    CutRequest request;
    request.start = o.from;
    request.end = o.to;
    request.channelMask = mask;
    request.withAudio = o.audio;
    request.format = format;
    request.folder = o.out;
    request.combine = o.combine;
    request.type = 0;
    int last = -1;
    auto progress = [&](int percent) {
        if (o.quiet || percent == last) return;
        last = percent;
        std::fprintf(stderr, "progress %d\n", percent);
    };
    CClipCutter cutter(request, progress);
    if (!o.quiet) std::fprintf(stderr, "progress 0\n");

    CutResult result;
    int channel = FirstChannel(mask);
    switch (kind) {
        case SourceKind::kIfvFile: {
            if (!channel) {
                FILEHANDLE* h = RK_OpenFile2(o.source.c_str(), 0, RK_FILE_MODE_READ);
                const int eventChannel = h ? RK_FileGetEventChannel(h) : -1;
                if (h) RK_CloseFile2(h);
                channel = eventChannel >= 0 && eventChannel < 16 ? eventChannel + 1 : 1;
            }
            if (format == int(ECutFormat::kIfv)) {
                result = cutter.CutIfvRecordFile(o.source);
            } else if (format == int(ECutFormat::kGps)) {
                const bool gpx = o.format == "gpx";
                result = cutter.SaveIfvFileGpsInfo(o.source, channel, !gpx, gpx, GpsHeaderLine(CLanguageTable::Load()));
            } else if (format == int(ECutFormat::kMp4) || format == int(ECutFormat::kAvi)) {
                result = cutter.CutIfvRecordToMp4(o.source, channel);
            } else {
                throw CliError("--format", o.format + " cannot be cut from an IFV file");
            }
            break;
        }
        case SourceKind::kContainerFile:
        case SourceKind::kContainerFolder: {
            if (format != int(ECutFormat::kMp4) && format != int(ECutFormat::kAvi))
                throw CliError("--format", o.format + " cannot be cut from container files");
            if (!mask) request.channelMask = 0xFFFF;
            CClipCutter all(request, progress);
            result = all.CutContainerToMp4(ContainerFilesOfSpan(o.source, kind, request));
            break;
        }
        case SourceKind::kBackupRecordFile:
            if (format != int(ECutFormat::kRkrec))
                throw CliError("--format", o.format + " cannot be cut from a backup record file yet");
            result = cutter.CutRKRecRecordFile(o.source, channel ? channel : 1);
            break;
        default:
            throw CliError(o.source, std::string("a ") + SourceKindName(kind) + " cannot be exported yet");
    }
    if (!result.ok) {
        if (result.stopped) throw CliError(o.source, "the export was stopped");
        throw CliError(o.source, Explain(result.error));
    }

    CExportReport report;
    report.AddSource(fs::absolute(o.source).string());
    report.SetSpan(o.from, o.to);
    report.SetFormat(o.format);
    if (kind == SourceKind::kContainerFile || kind == SourceKind::kContainerFolder) {
        for (int n : result.channels) report.AddChannel(n);
    } else {
        report.AddChannel(channel ? channel : 1);
    }
    report.AddFrames(result.frames);
    for (const auto& f : result.files) report.AddFile(f);
    std::string error;
    const auto reportPath = report.Save(&error);
    if (reportPath.empty()) throw CliError(o.out, "the export report could not be written: " + error);

    nlohmann::ordered_json out;
    out["files"] = nlohmann::ordered_json::array();
    for (const auto& f : result.files) out["files"].push_back(f.string());
    out["report"] = reportPath.string();
    WriteJson(out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
    return kExitOk;
}

}  // namespace

void AddExportCommands(CLI::App& app, Runner& run)
{
    auto o = std::make_shared<ExportOptions>();
    auto* cmd = app.add_subcommand("export",
                                   "Cuts a span as the cut dialog does (same folder and file names) and writes an "
                                   "export report beside the files: {\"files\":[P...],\"report\":P}");
    cmd->add_option("SOURCE", o->source, "the recording to cut")->required();
    cmd->add_option("--from", o->from, "first second of the span (recorder clock)")->required();
    cmd->add_option("--to", o->to, "last second of the span")->required();
    cmd->add_option("--out", o->out, "the folder to export into (a day folder is made inside it)")->required();
    cmd->add_option("--channels", o->channels, "channels to export, counted from 1 (default: the source's own)");
    cmd->add_option("--format", o->format, "ifv, mp4, avi, gps, gpx or rkrec (default mp4)");
    cmd->add_flag("--audio", o->audio, "export the sound too");
    cmd->add_flag("--combine", o->combine, "also combine the channels into one video");
    cmd->add_flag("--quiet", o->quiet, "no progress lines on standard error");
    cmd->callback([o, &run] { run = [o] { return RunExport(*o); }; });
}

}  // namespace velmor::cli
