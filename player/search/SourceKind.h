// What a path the user opened is: one recording file of a known format, or a
// folder the record search understands. The CLI, the open dialog and the
// driving-record page all ask this one question the same way.
#pragma once

#include <filesystem>
#include <string>

namespace velmor {

enum class ESourceKind {
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

// The name the CLI prints ("container_file", ...).
const char* SourceKindName(ESourceKind kind);

// Classifies `path`; false when nothing exists there (kind untouched).
bool ClassifySource(const std::filesystem::path& path, ESourceKind& kind);

// Content checks for files whose names do not tell; quiet on any failure.
bool LooksLikeBackupRecordFile(const std::filesystem::path& path);
bool LooksLikeIfvFile(const std::filesystem::path& path);

}  // namespace velmor
