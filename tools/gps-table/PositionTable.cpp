#include "tools/gps-table/PositionTable.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <system_error>

#include "player/export/PositionGrid.h"

namespace velmor {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kAxis = 6378245.0;                      // semi-major axis, metres
constexpr double kEccentricity2 = 0.00669342162296594323;  // first eccentricity squared

// The two series of the conversion, in metres on the ellipsoid, of a position
// taken relative to (105 E, 35 N).
double LatitudeSeries(double x, double y)
{
    double v = -100.0 + 2.0 * x + 3.0 * y + 0.2 * y * y + 0.1 * x * y + 0.2 * std::sqrt(std::fabs(x));
    v += (20.0 * std::sin(6.0 * x * kPi) + 20.0 * std::sin(2.0 * x * kPi)) * 2.0 / 3.0;
    v += (20.0 * std::sin(y * kPi) + 40.0 * std::sin(y / 3.0 * kPi)) * 2.0 / 3.0;
    v += (160.0 * std::sin(y / 12.0 * kPi) + 320.0 * std::sin(y * kPi / 30.0)) * 2.0 / 3.0;
    return v;
}

double LongitudeSeries(double x, double y)
{
    double v = 300.0 + x + 2.0 * y + 0.1 * x * x + 0.1 * x * y + 0.1 * std::sqrt(std::fabs(x));
    v += (20.0 * std::sin(6.0 * x * kPi) + 20.0 * std::sin(2.0 * x * kPi)) * 2.0 / 3.0;
    v += (20.0 * std::sin(x * kPi) + 40.0 * std::sin(x / 3.0 * kPi)) * 2.0 / 3.0;
    v += (150.0 * std::sin(x / 12.0 * kPi) + 300.0 * std::sin(x / 30.0 * kPi)) * 2.0 / 3.0;
    return v;
}

// West, south, east, north in degrees; both ends belong to the box.
struct Box {
    double west, south, east, north;
    bool Holds(double lon, double lat) const { return lon >= west && lon <= east && lat >= south && lat <= north; }
};

constexpr Box kMainland[] = {
    {79.4462, 42.8899, 96.33, 49.2204},          {109.6872, 39.3742, 135.0002, 54.1415},
    {73.1246, 29.5297, 124.143255, 42.8899},     {82.9684, 26.7186, 97.0352, 29.5297},
    {97.0253, 20.414096, 124.367395, 29.5297},   {107.975793, 17.871542, 111.744104, 20.414096},
};
constexpr Box kCutOut[] = {
    {119.921265, 21.785006, 122.497559, 25.398623},  // Taiwan
    {101.8652, 20.0988, 106.665, 22.284},            // the north of Laos and Vietnam
    {106.4525, 20.4878, 108.051, 21.5422},           // the Gulf of Tonkin's west coast
    {109.0323, 50.3257, 119.127, 55.8175},           // Russia, north of the boxes
    {127.4568, 49.5574, 137.0227, 55.8175},          // Russia, the Amur
    {131.2662, 42.5692, 137.0227, 44.8922},          // Russia, the coast by Vladivostok
};

}  // namespace

void OffsetPosition(double lon, double lat, double* outLon, double* outLat)
{
    const double x = lon - 105.0, y = lat - 35.0;
    const double radLat = lat / 180.0 * kPi;
    const double s = std::sin(radLat);
    const double w = 1.0 - kEccentricity2 * s * s;
    const double sqrtW = std::sqrt(w);
    // Metres to degrees with the radii of curvature at this latitude:
    // meridional for latitude, the parallel's for longitude.
    const double dLat = LatitudeSeries(x, y) * 180.0 / ((kAxis * (1.0 - kEccentricity2)) / (w * sqrtW) * kPi);
    const double dLon = LongitudeSeries(x, y) * 180.0 / (kAxis / sqrtW * std::cos(radLat) * kPi);
    *outLon = lon + dLon;
    *outLat = lat + dLat;
}

bool InMainlandChina(double lon, double lat)
{
    bool inside = false;
    for (const Box& b : kMainland) inside = inside || b.Holds(lon, lat);
    if (!inside) return false;
    for (const Box& b : kCutOut)
        if (b.Holds(lon, lat)) return false;
    return true;
}

TableCell PositionTableCell(int row, int column)
{
    // Whole tenths of a degree, so that the grid point itself is exact.
    const double lon = (720 + column) / 10.0, lat = (100 + row) / 10.0;
    double outLon = lon, outLat = lat;
    // The table is only read through the grid's iteration, which settles on
    // the input wherever the cells hold their own points: positions outside
    // mainland China, where map services use WGS-84, then come out unchanged.
    // Near the border the cells of both kinds blend over one tenth of a degree.
    if (InMainlandChina(lon, lat)) OffsetPosition(lon, lat, &outLon, &outLat);
    return {std::lround(outLon * 100000.0), std::lround(outLat * 100000.0)};
}

std::string PositionTableText()
{
    std::string text;
    text.reserve(size_t(CPositionGrid::kCells) * 18);
    char line[48];
    for (int r = 0; r < CPositionGrid::kRows; ++r)
        for (int c = 0; c < CPositionGrid::kColumns; ++c) {
            const TableCell cell = PositionTableCell(r, c);
            const int n = std::snprintf(line, sizeof line, "%ld %ld\n", long(cell.lon), long(cell.lat));
            text.append(line, size_t(n));
        }
    return text;
}

bool WritePositionTable(const std::filesystem::path& file, std::string* error)
{
    auto fail = [&](const std::string& what) {
        if (error) *error = what;
        return false;
    };
    std::error_code ec;
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), ec);
        if (ec) return fail("cannot make " + file.parent_path().string() + ": " + ec.message());
    }
    const std::string text = PositionTableText();
    auto part = file;
    part += ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        if (!out) return fail("cannot open " + part.string());
        out.write(text.data(), std::streamsize(text.size()));
        out.close();
        if (!out) {
            std::filesystem::remove(part, ec);
            return fail("cannot write " + part.string());
        }
    }
    std::filesystem::rename(part, file, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(part, ignored);
        return fail("cannot rename " + part.string() + " to " + file.string() + ": " + ec.message());
    }
    return true;
}

}  // namespace velmor
