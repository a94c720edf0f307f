#include "player/export/GpxWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>

#include "player/export/PositionGrid.h"

namespace velmor {

std::string XmlEscape(const std::string& text)
{
    std::string out;
    for (char ch : text) {
        switch (ch) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                // Control characters other than tab and line ends are not allowed in XML 1.0.
                if (static_cast<unsigned char>(ch) < 0x20 && ch != '\t' && ch != '\n' && ch != '\r') break;
                out += ch;
        }
    }
    return out;
}

bool CGpxWriter::Add(const StAttachInfo_t& record)
{
    if (!HasPosition(record)) return false;
    double lat = CoordinateDegrees(record.latitude.get());
    double lon = CoordinateDegrees(record.longitude.get());
    if (m_grid) {
        double x = lon, y = lat;
        if (m_grid->Correct(lon, lat, &x, &y) == 0) {
            lon = x;
            lat = y;
        }
    }
    if (lat < -90 || lat > 90 || lon < -180 || lon > 180) return false;
    const std::time_t t = std::time_t(record.time.get());
    std::tm tm{};
    gmtime_r(&t, &tm);
    char point[256];
    std::snprintf(point, sizeof point,
                  "      <trkpt lat=\"%.6f\" lon=\"%.6f\"><ele>%d</ele><time>%04d-%02d-%02dT%02d:%02d:%02dZ</time></trkpt>\n",
                  lat, lon, int(record.height.get()), tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                  tm.tm_min, tm.tm_sec);
    m_pointsXml += point;
    ++m_points;
    return true;
}

std::string CGpxWriter::Document() const
{
    std::string doc =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"Velmor\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
        "  <trk>\n"
        "    <name>" + XmlEscape(m_name) + "</name>\n"
        "    <trkseg>\n";
    doc += m_pointsXml;
    doc += "    </trkseg>\n  </trk>\n</gpx>\n";
    return doc;
}

bool CGpxWriter::Save(const std::filesystem::path& path, std::string* error) const
{
    auto temp = path;
    temp += ".partial";
    const std::string doc = Document();
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(doc.data(), std::streamsize(doc.size()));
        out.flush();
        if (!out) {
            std::error_code ec;
            std::filesystem::remove(temp, ec);
            if (error) *error = "Error writing file";
            return false;
        }
    }
    // link() refuses an existing name, where rename() would replace it.
    if (::link(temp.c_str(), path.c_str()) != 0) {
        std::error_code ec;
        std::filesystem::remove(temp, ec);
        if (error) *error = "strCutFilePath:" + path.string() + " Fail";
        return false;
    }
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    return true;
}

}  // namespace velmor
