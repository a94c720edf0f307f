// The GPS export: one comma-separated line per position record, under a
// header line of language texts. Files are closed at 100 MB and continued
// under the next free numbered name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/LanguageTable.h"
#include "player/formats/AttachInfo.h"

namespace velmor {

class CPositionGrid;

// "%d,%04d-%02d-%02d %02d:%02d:%02d,%d,%f,%f,%d km/h,%d,%d\r\n": channel, the
// record's time, status, latitude, longitude (decimal degrees, corrected with
// `grid` when one is given and covers the position), speed, height, heading.
std::string FormatGpsLine(int channel, const StAttachInfo_t& record, const CPositionGrid* grid = nullptr);

// The header texts in the order of a line's columns, joined with commas and
// ended by "\r\n".
std::string GpsHeaderLine(const CLanguageTable& language);

class CGpsFileWriter {
public:
    // A file is closed once it is longer than this; the next record opens the next.
    static constexpr uint64_t kMaxFileBytes = 104857599;

    // `path` is the first file's name; an existing file is never replaced.
    CGpsFileWriter(std::filesystem::path path, std::string header, const CPositionGrid* grid = nullptr,
                   uint64_t maxFileBytes = kMaxFileBytes);
    ~CGpsFileWriter();
    CGpsFileWriter(const CGpsFileWriter&) = delete;
    CGpsFileWriter& operator=(const CGpsFileWriter&) = delete;

    // Appends the record's line, opening a file (with its header) first when
    // none is open. False with Error() set when a file cannot be made or written.
    bool Write(int channel, const StAttachInfo_t& record);
    // Flushes and closes the open file. False when the last writes failed.
    bool Close();

    const std::vector<std::filesystem::path>& Files() const { return m_files; }
    uint64_t Lines() const { return m_lines; }
    const std::string& Error() const { return m_error; }

private:
    bool Open();

    std::filesystem::path m_path;
    std::string m_header;
    const CPositionGrid* m_grid;
    uint64_t m_maxFileBytes;
    std::FILE* m_file = nullptr;
    uint64_t m_fileBytes = 0;
    uint64_t m_lines = 0;
    std::vector<std::filesystem::path> m_files;
    std::string m_error;
};

}  // namespace velmor
