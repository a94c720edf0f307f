// The report written beside every export ("<name>.report.json"): what was
// exported from where, and a SHA-256 of every file written, so that a copy
// handed on can be shown to be the file that was made.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velmor {

// Hex SHA-256 of a file's bytes; empty when it cannot be read.
std::string FileSha256(const std::filesystem::path& file);

struct ExportFrameCounts {
    uint64_t video = 0;
    uint64_t audio = 0;
    uint64_t info = 0;
};

class CExportReport {
public:
    void AddSource(const std::string& path) { m_sources.push_back(path); }
    void SetSpan(uint32_t from, uint32_t to)
    {
        m_from = from;
        m_to = to;
    }
    void SetFormat(std::string format) { m_format = std::move(format); }
    void AddChannel(int channel) { m_channels.push_back(channel); }
    void AddFrames(const ExportFrameCounts& counts);
    void AddFile(const std::filesystem::path& file) { m_files.push_back(file); }

    const std::vector<std::filesystem::path>& Files() const { return m_files; }

    // The report's JSON text (files hashed now).
    std::string Json() const;
    // Writes "<stem of the first file>.report.json" beside the first file,
    // under a free name. The report's path, or empty with `error` set.
    std::filesystem::path Save(std::string* error) const;

private:
    std::vector<std::string> m_sources;
    uint32_t m_from = 0, m_to = 0;
    std::string m_format;
    std::vector<int> m_channels;
    ExportFrameCounts m_frames;
    std::vector<std::filesystem::path> m_files;
};

}  // namespace velmor
