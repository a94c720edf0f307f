// The commands of velmor-cli. Each throws CliError for bad input and returns
// the exit code.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "player/search/SourceKind.h"

namespace CLI {
class App;
}

namespace velmor::cli {

// Each group of commands registers its subcommands; the one the user chose
// leaves its work in the runner, which main calls after parsing.
using Runner = std::function<int()>;
void AddFileCommands(CLI::App& app, Runner& run);   // probe, info, frames
void AddStoreCommands(CLI::App& app, Runner& run);  // store ...
void AddLogCommands(CLI::App& app, Runner& run);    // log
void AddVoiceCommands(CLI::App& app, Runner& run);  // voice ...
void AddExportCommands(CLI::App& app, Runner& run);  // export
void AddSnapshotCommands(CLI::App& app, Runner& run);  // snapshot
void AddSearchCommands(CLI::App& app, Runner& run);  // list, events
void AddVerifyCommands(CLI::App& app, Runner& run);  // verify

using SourceKind = ESourceKind;

// The kind of `path`; throws CliError when nothing is there.
SourceKind Classify(const std::string& path);

int RunProbe(const std::string& path);
int RunInfo(const std::string& path);

struct FramesOptions {
    std::optional<int> channel;  // counted from 1
    std::optional<uint32_t> seek;
    std::optional<uint64_t> count;
    std::optional<std::string> stream;  // "main" or "sub": container files only
};
int RunFrames(const std::string& path, const FramesOptions& options);

int RunIfvInfo(const std::string& path);

int RunGrecInfo(const std::string& path);

int RunBackupInfo(const std::string& path);

int RunContainerInfo(const std::string& path);

}  // namespace velmor::cli
