// The commands of velmor-cli. Each throws CliError for bad input and returns
// the exit code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmor::cli {

enum class SourceKind {
    kContainerFile,
    kBackupRecordFile,
    kIfvFile,
    kGrecFile,
    kMediaFile,
    kIndexDisk,
    kContainerFolder,
    kDownloadTree,
    kClientDownloadFolder,
    kUnknown,
};

const char* SourceKindName(SourceKind kind);
SourceKind Classify(const std::string& path);

int RunProbe(const std::string& path);
int RunInfo(const std::string& path);

struct FramesOptions {
    std::optional<int> channel;  // counted from 1
    std::optional<uint32_t> seek;
    std::optional<uint64_t> count;
};
int RunFrames(const std::string& path, const FramesOptions& options);

bool LooksLikeIfvFile(const std::string& path);
int RunIfvInfo(const std::string& path);
int RunIfvFrames(const std::string& path, const FramesOptions& options);

bool LooksLikeBackupRecordFile(const std::string& path);
int RunBackupInfo(const std::string& path);
int RunBackupFrames(const std::string& path, const FramesOptions& options);

int RunContainerInfo(const std::string& path);
int RunContainerFrames(const std::string& path, const FramesOptions& options);

}  // namespace velmor::cli
