// The position correction grid's table, computed instead of shipped: for each
// grid point the coordinates that map services in mainland China use for the
// same place (the offset coordinate system often called GCJ-02). The build
// writes it to "GPS/table.txt" beside the program with velmor-gps-table.
#pragma once

#include <filesystem>
#include <string>

namespace velmor {

// The offset position of a WGS-84 position (decimal degrees), everywhere,
// with no regard to where it is. This is the widely published conversion
// (ellipsoid a = 6378245.0, ee = 0.00669342162296594323, the transformLat /
// transformLon polynomial and sine series), as the open-source
// "eviltransform" project publishes it.
void OffsetPosition(double lon, double lat, double* outLon, double* outLat);

// Whether a position lies in the coarse outline of mainland China that is
// circulated with the conversion: six boxes, less six that take out Taiwan,
// the north of Laos and Vietnam and Russian land. Outside it map services
// show WGS-84 positions unchanged.
bool InMainlandChina(double lon, double lat);

// The table cell's pair in units of 1e-5 degree, rounded to the nearest:
// the offset position of the grid point inside mainland China, the grid
// point itself elsewhere.
struct TableCell {
    long lon, lat;
};
TableCell PositionTableCell(int row, int column);

// The whole table: one "%d %d\n" line per cell in cell order (row by row
// from the south, west to east within a row).
std::string PositionTableText();

// Writes the table to `file` (its folder is made when missing) through a
// temporary file beside it, so that a failed run leaves no short table that
// could pass for a whole one. False with `error` set on failure.
bool WritePositionTable(const std::filesystem::path& file, std::string* error);

}  // namespace velmor
