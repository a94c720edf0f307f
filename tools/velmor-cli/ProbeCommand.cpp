#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <memory>

#include "player/playback/FrameSource.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace velmor::cli {

SourceKind Classify(const std::string& path)
{
    SourceKind kind = SourceKind::kUnknown;
    if (!ClassifySource(path, kind)) throw CliError(path, "no such file or folder");
    return kind;
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
        case SourceKind::kGrecFile: return RunGrecInfo(path);
        default: break;
    }
    throw CliError(path, std::string("cannot read a file of kind ") + SourceKindName(kind) + " yet");
}

int RunFrames(const std::string& path, const FramesOptions& options)
{
    const SourceKind kind = Classify(path);
    if (options.channel && (*options.channel < 1 || *options.channel > 16))
        throw CliError("--channel", "must be 1 to 16");
    EStreamChoice stream = EStreamChoice::kDefault;
    if (options.stream) {
        if (*options.stream == "main")
            stream = EStreamChoice::kMain;
        else if (*options.stream == "sub")
            stream = EStreamChoice::kSub;
        else
            throw CliError("--stream", "must be main or sub");
        if (kind != SourceKind::kContainerFile)
            throw CliError("--stream", "only a container file records a channel in two streams");
    }
    auto source = CFrameSource::OpenFile(kind, path, options.channel.value_or(0), stream);
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
        std::string stream;
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
    auto* streamOpt = frames->add_option("--stream", st->stream,
                                         "container files: the channel's main or sub stream (default: the main "
                                         "stream when there is one, as the player)");
    frames->callback([st, channelOpt, seekOpt, countOpt, streamOpt, &run] {
        if (*channelOpt) st->frames.channel = st->channel;
        if (*streamOpt) st->frames.stream = st->stream;
        if (*seekOpt) st->frames.seek = st->seek;
        if (*countOpt) st->frames.count = st->count;
        run = [st] { return RunFrames(st->path, st->frames); };
    });
}

}  // namespace velmor::cli
