// The position correction grid: reference coordinates every 0.1 degree over
// longitudes 72.0-137.9 east and latitudes 10.0-54.9 north, read from
// "GPS/table.txt" beside the program (the build writes it with
// velmor-gps-table). Exported positions are corrected with it when the setting
// ConvertGPS is on.
#pragma once

#include <filesystem>
#include <mutex>
#include <vector>

namespace velmor {

class CPositionGrid {
public:
    static constexpr int kColumns = 660;
    static constexpr int kRows = 450;
    static constexpr int kCells = kColumns * kRows;  // 297,000

    static constexpr int kCorrected = 0;
    static constexpr int kNoGrid = -1;   // nothing loaded: the position is returned unchanged
    static constexpr int kOutside = -2;  // outside the grid: returned unchanged

    // Reads "%d %d" lines in cell order (longitude and latitude in units of
    // 1e-5 degree). A short file leaves the remaining cells zero. False when the
    // file cannot be opened; the grid is then left as it was.
    bool Load(const std::filesystem::path& file);
    bool Loaded() const { return !m_lon.empty(); }

    // Corrects (longitude x, latitude y) in decimal degrees. Ten rounds of
    // bilinear interpolation, each averaging the input with the grid's value at
    // the current estimate. Returns kCorrected, kOutside or kNoGrid; the outputs
    // equal the inputs unless corrected.
    int Correct(double x, double y, double* outX, double* outY) const;

    // For tests and tools that build a grid in memory.
    void SetCells(std::vector<double> lon, std::vector<double> lat);

    // The process-wide grid, loaded once from the program's "GPS/table.txt",
    // or from "../share/velmor/GPS/table.txt" for an installed program.
    static const CPositionGrid& Shared();

private:
    std::vector<double> m_lon, m_lat;
};

}  // namespace velmor
