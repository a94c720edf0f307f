// export: cuts a span as the cut dialog does, into the same folder and file
// names, with an export report beside the files.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <memory>
#include <sstream>

#include "common/AppFolders.h"
#include "common/IniFile.h"
#include "common/LanguageTable.h"
#include "player/export/ExportJob.h"
#include "player/export/GpsExport.h"
#include "player/settings/Settings.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

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
    bool overlay = false;
    bool convertGps = false;
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

int RunExport(const ExportOptions& o)
{
    ExportJobRequest request;
    if (!ParseExportFormat(o.format, request.format))
        throw CliError("--format", "'" + o.format + "' is not one of ifv, mp4, avi, gps, gpx, rkrec");
    if (o.from >= o.to) throw CliError("--from", "the start must be earlier than the end");
    request.kind = Classify(o.source);
    request.source = o.source;
    request.channelMask = ParseChannels(o.channels);
    request.start = o.from;
    request.end = o.to;
    request.withAudio = o.audio;
    request.combine = o.combine;
    request.overlay = o.overlay;
    request.folder = o.out;
    request.convertGps = o.convertGps;
    // The profile the program uses: its signing key and the offset from UTC
    // declared there for the case.
    const CAppFolders folders = ResolveOwnAppFolders();
    request.signingKey = folders.SigningKeyFile();
    const SettingsRecord settings =
        ReadSettings(CIniFile::Load(folders.ConfigFile()), folders.DefaultSnapPath(), folders.DefaultSaveFilePath());
    request.caseUtcOffset = settings.caseUtcOffset;
    // The overlay says the speed in the unit the program shows it in.
    request.speedMph = settings.speedMph != 0;
    if (request.format == EExportFormat::kGps || request.format == EExportFormat::kGpx)
        request.gpsHeader = GpsHeaderLine(CLanguageTable::Load());

    CExportJob job(request, [&o](EExportStep, int percent) {
        if (!o.quiet) std::fprintf(stderr, "progress %d\n", percent);
    });
    const ExportJobResult result = job.Run();
    switch (result.failure) {
        case EExportFailure::kNone: break;
        case EExportFailure::kFormatNotForSource: throw CliError("--format", result.error);
        case EExportFailure::kOverlayFormat: throw CliError("--overlay", result.error);
        case EExportFailure::kReport: throw CliError(o.out, result.error);
        case EExportFailure::kSigningKey: throw CliError(request.signingKey.string(), result.error);
        case EExportFailure::kCaseUtcOffset: throw CliError(folders.ConfigFile().string(), result.error);
        default: throw CliError(o.source, result.error);
    }

    nlohmann::ordered_json out;
    out["files"] = nlohmann::ordered_json::array();
    for (const auto& f : result.files) out["files"].push_back(f.string());
    out["report"] = result.report.string();
    out["public_key"] = result.publicKey.string();
    out["key"] = result.keyFingerprint;
    WriteJson(out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
    return kExitOk;
}

}  // namespace

void AddExportCommands(CLI::App& app, Runner& run)
{
    auto o = std::make_shared<ExportOptions>();
    auto* cmd = app.add_subcommand("export",
                                   "Cuts a span as the cut dialog does (same folder and file names) and writes an "
                                   "export report signed with the profile's key beside the files: "
                                   "{\"files\":[P...],\"report\":P,\"public_key\":P,\"key\":FINGERPRINT}");
    cmd->add_option("SOURCE", o->source, "the recording to cut")->required();
    cmd->add_option("--from", o->from, "first second of the span (recorder clock)")->required();
    cmd->add_option("--to", o->to, "last second of the span")->required();
    cmd->add_option("--out", o->out, "the folder to export into (a day folder is made inside it)")->required();
    cmd->add_option("--channels", o->channels, "channels to export, counted from 1 (default: the source's own)");
    cmd->add_option("--format", o->format, "ifv, mp4, avi, gps, gpx or rkrec (default mp4)");
    cmd->add_flag("--audio", o->audio, "export the sound too");
    cmd->add_flag("--combine", o->combine, "also combine the channels into one video");
    cmd->add_flag("--overlay", o->overlay,
                  "mp4, avi: also write each channel with the recorder time, speed, position and events of each "
                  "second drawn into the picture (<clip>_overlay.mp4)");
    cmd->add_flag("--convert-gps", o->convertGps,
                  "gps, gpx and the --overlay text: positions corrected to the coordinates of maps of mainland China "
                  "(GPS/table.txt beside the program)");
    cmd->add_flag("--quiet", o->quiet, "no progress lines on standard error");
    cmd->callback([o, &run] { run = [o] { return RunExport(*o); }; });
}

}  // namespace velmor::cli
