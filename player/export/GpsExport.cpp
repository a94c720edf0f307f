#include "player/export/GpsExport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iterator>

#include "player/export/ExportNames.h"
#include "player/export/PositionGrid.h"

namespace velmor {

std::string FormatGpsLine(int channel, const StAttachInfo_t& record, const CPositionGrid* grid)
{
    double lat = CoordinateDegrees(record.latitude.get());
    double lon = CoordinateDegrees(record.longitude.get());
    if (grid) {
        double x = lon, y = lat;
        if (grid->Correct(lon, lat, &x, &y) == 0) {
            lon = x;
            lat = y;
        }
    }
    const std::time_t t = std::time_t(record.time.get());
    std::tm tm{};
    gmtime_r(&t, &tm);
    char line[256];
    std::snprintf(line, sizeof line, "%d,%04d-%02d-%02d %02d:%02d:%02d,%d,%f,%f,%d km/h,%d,%d\r\n", channel,
                  tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, int(record.status),
                  lat, lon, int(record.speed.get()), int(record.height.get()), int(record.heading.get()));
    return line;
}

std::string GpsHeaderLine(const CLanguageTable& language)
{
    static const char* const kKeys[] = {"Record_Label_Chn", "ExportGps_GpsTime",  "ExportGps_Status",
                                        "ExportGps_Latitude", "ExportGps_Longitude", "ExportGps_Speed",
                                        "ExportGps_Height", "ExportGps_Course"};
    std::string header;
    for (size_t i = 0; i < std::size(kKeys); ++i) {
        if (i) header += ',';
        header += language.Text(kKeys[i]);
    }
    return header + "\r\n";
}

CGpsFileWriter::CGpsFileWriter(std::filesystem::path path, std::string header, const CPositionGrid* grid,
                               uint64_t maxFileBytes)
    : m_path(std::move(path)), m_header(std::move(header)), m_grid(grid), m_maxFileBytes(maxFileBytes)
{
}

CGpsFileWriter::~CGpsFileWriter() { Close(); }

bool CGpsFileWriter::Open()
{
    std::error_code ec;
    const auto folder = m_path.parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (ec) {
        m_error = "SavePath " + folder.string() + " Fail";
        return false;
    }
    // Created exclusively: a name taken meanwhile moves on to the next one.
    for (int tries = 0; tries < 1000; ++tries) {
        const auto path = FreePath(m_path);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            m_error = "strCutFilePath:" + path.string() + " Fail";
            return false;
        }
        m_file = ::fdopen(fd, "wb");
        if (!m_file) {
            ::close(fd);
            m_error = "strCutFilePath:" + path.string() + " Fail";
            return false;
        }
        m_files.push_back(path);
        m_fileBytes = 0;
        if (std::fwrite(m_header.data(), 1, m_header.size(), m_file) != m_header.size()) {
            m_error = "Error writing file";
            return false;
        }
        m_fileBytes = m_header.size();
        return true;
    }
    m_error = "strCutFilePath:" + m_path.string() + " Fail";
    return false;
}

bool CGpsFileWriter::Write(int channel, const StAttachInfo_t& record)
{
    if (m_file && m_fileBytes > m_maxFileBytes && !Close()) return false;
    if (!m_file && !Open()) return false;
    const std::string line = FormatGpsLine(channel, record, m_grid);
    if (std::fwrite(line.data(), 1, line.size(), m_file) != line.size()) {
        m_error = "Error writing file";
        return false;
    }
    m_fileBytes += line.size();
    ++m_lines;
    return true;
}

bool CGpsFileWriter::Close()
{
    if (!m_file) return m_error.empty();
    const bool flushed = std::fflush(m_file) == 0 && !std::ferror(m_file);
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (!(flushed && closed) && m_error.empty()) m_error = "Error writing file";
    return flushed && closed;
}

}  // namespace velmor
