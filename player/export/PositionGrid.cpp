#include "player/export/PositionGrid.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "common/AppPaths.h"

namespace velmor {

bool CPositionGrid::Load(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<double> lon(kCells, 0.0), lat(kCells, 0.0);
    const char* p = text.c_str();
    // Each line is read as "%d %d"; reading stops at the first line that is not.
    for (int i = 0; i < kCells; ++i) {
        char* end = nullptr;
        errno = 0;
        const long a = std::strtol(p, &end, 10);
        if (end == p || errno) break;
        p = end;
        const long b = std::strtol(p, &end, 10);
        if (end == p || errno) break;
        p = end;
        lon[size_t(i)] = double(a) / 100000.0;
        lat[size_t(i)] = double(b) / 100000.0;
        while (*p && *p != '\n') ++p;  // the rest of the line
    }
    m_lon = std::move(lon);
    m_lat = std::move(lat);
    return true;
}

void CPositionGrid::SetCells(std::vector<double> lon, std::vector<double> lat)
{
    lon.resize(kCells, 0.0);
    lat.resize(kCells, 0.0);
    m_lon = std::move(lon);
    m_lat = std::move(lat);
}

int CPositionGrid::Correct(double x, double y, double* outX, double* outY) const
{
    *outX = x;
    *outY = y;
    if (!Loaded()) return kNoGrid;
    double X = x, Y = y;
    for (int round = 0; round < 10; ++round) {
        if (X < 72.0 || X > 137.9 || Y < 10.0 || Y > 54.9) return kOutside;
        const double dx = X - 72.0, dy = Y - 10.0;
        // On the last column or row the upper corners would lie beyond the
        // grid: the cell below and left of it is used, with its far corner at
        // the position's column or row.
        const int c = std::min(int(dx * 10), kColumns - 2);
        const int r = std::min(int(dy * 10), kRows - 2);
        const double fx = (dx - c * 0.1) * 10, fy = (dy - r * 0.1) * 10;
        const size_t i = size_t(r) * kColumns + size_t(c);
        const double w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy), w11 = fx * fy, w01 = (1 - fx) * fy;
        const double L = w00 * m_lon[i] + w10 * m_lon[i + 1] + w11 * m_lon[i + kColumns + 1] + w01 * m_lon[i + kColumns];
        const double B = w00 * m_lat[i] + w10 * m_lat[i + 1] + w11 * m_lat[i + kColumns + 1] + w01 * m_lat[i + kColumns];
        X = (x + L) / 2;
        Y = (y + B) / 2;
    }
    *outX = X;
    *outY = Y;
    return kCorrected;
}

const CPositionGrid& CPositionGrid::Shared()
{
    static const CPositionGrid grid = [] {
        CPositionGrid g;
        // An installed program keeps its resources in <prefix>/share/velmor,
        // as the player's own resource lookup does.
        const auto dir = ApplicationDir();
        if (!g.Load(dir / "GPS" / "table.txt")) g.Load(dir.parent_path() / "share" / "velmor" / "GPS" / "table.txt");
        return g;
    }();
    return grid;
}

}  // namespace velmor
