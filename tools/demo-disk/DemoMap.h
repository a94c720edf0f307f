// The demo corpus's offline map: a small tile file in the MBTiles layout
// (an sqlite database with a "metadata" and a "tiles" table, rows counted
// from the south) over the vehicle's route, every tile drawn here, so that
// the player's offline map shows something without any map data at hand.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/demo-disk/DemoMedia.h"

namespace velmor::demo {

struct Rgb {
    uint8_t r, g, b;
};

// The picture's colours; the corpus tests tell the road from the land by them.
inline constexpr Rgb kLandColour{0xF2, 0xEF, 0xE9};
inline constexpr Rgb kStreetColour{0xFF, 0xFF, 0xFF};
inline constexpr Rgb kParkColour{0xC8, 0xE6, 0xC0};
inline constexpr Rgb kWaterColour{0xAA, 0xD3, 0xDF};
inline constexpr Rgb kRoadCasingColour{0xC8, 0x7F, 0x2A};
inline constexpr Rgb kRoadColour{0xFF, 0xC0, 0x4D};

inline constexpr int kTileSize = 256;

struct MapBounds {
    double west, south, east, north;
};

// A park, drawn as an ellipse.
struct MapPark {
    GeoPoint centre;
    double eastMetres;   // half the width
    double northMetres;  // half the height
};

struct OfflineMapRequest {
    std::string name;
    // Drawn as the main road, in the order driven.
    std::vector<GeoPoint> road;
    // Points the tiles must cover besides the road's (with the margin).
    std::vector<GeoPoint> cover;
    // Scenery, without names.
    std::vector<GeoPoint> river;
    double riverMetres = 60;
    std::vector<MapPark> parks;
    double marginDegrees = 0.01;
    int minZoom = 12;
    int maxZoom = 15;
};

struct OfflineMap {
    MapBounds bounds{};
    int minZoom = 0;
    int maxZoom = 0;
    size_t tiles = 0;
};

// Writes the tile file `file` (which must not exist yet; its folder is made).
// The same request gives the same bytes. std::runtime_error on failure.
OfflineMap WriteOfflineMap(const std::filesystem::path& file, const OfflineMapRequest& request);

// An 8-bit RGB picture as a PNG file: no time, no text chunks, so the same
// pixels always give the same bytes.
std::vector<uint8_t> EncodePng(const std::vector<uint8_t>& rgb, int width, int height);

}  // namespace velmor::demo
