#include "tools/demo-disk/DemoMap.h"

#include <sqlite3.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace velmor::demo {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kEquatorMetres = 2 * kPi * 6378137.0;
constexpr int kPixels = kTileSize * kTileSize;

// Web Mercator, in pixels of the whole world at zoom z, y from the north.
double WorldX(double lon, int z) { return (lon + 180.0) / 360.0 * kTileSize * std::ldexp(1.0, z); }
double WorldY(double lat, int z)
{
    const double r = lat * kPi / 180.0;
    return (1.0 - std::asinh(std::tan(r)) / kPi) / 2.0 * kTileSize * std::ldexp(1.0, z);
}
double MetresPerPixel(double lat, int z) { return kEquatorMetres * std::cos(lat * kPi / 180.0) / (kTileSize * std::ldexp(1.0, z)); }

struct Pt {
    double x, y;
};

// Coverage of one layer, kept apart from the colours so that where the
// pieces of a line overlap (its joints) it is not painted twice.
using Coverage = std::vector<float>;

void Cover(Coverage& cov, int i, int j, double a)
{
    if (a <= 0) return;
    float& c = cov[size_t(j) * kTileSize + size_t(i)];
    c = std::max(c, float(std::min(a, 1.0)));
}

// A line of `half` pixels either side of its centre, with round ends;
// `origin` is the tile's north-west corner in world pixels.
void CoverPolyline(Coverage& cov, Pt origin, const std::vector<Pt>& line, double half)
{
    for (size_t k = 0; k + 1 < line.size(); ++k) {
        const Pt a{line[k].x - origin.x, line[k].y - origin.y};
        const Pt b{line[k + 1].x - origin.x, line[k + 1].y - origin.y};
        const int i0 = std::max(0, int(std::floor(std::min(a.x, b.x) - half - 1)));
        const int i1 = std::min(kTileSize - 1, int(std::ceil(std::max(a.x, b.x) + half + 1)));
        const int j0 = std::max(0, int(std::floor(std::min(a.y, b.y) - half - 1)));
        const int j1 = std::min(kTileSize - 1, int(std::ceil(std::max(a.y, b.y) + half + 1)));
        const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
        for (int j = j0; j <= j1; ++j)
            for (int i = i0; i <= i1; ++i) {
                const double px = i + 0.5, py = j + 0.5;
                const double t = len2 > 0 ? std::clamp(((px - a.x) * dx + (py - a.y) * dy) / len2, 0.0, 1.0) : 0.0;
                const double d = std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
                Cover(cov, i, j, half + 0.5 - d);
            }
    }
}

void CoverEllipse(Coverage& cov, Pt origin, Pt centre, double rx, double ry)
{
    const Pt c{centre.x - origin.x, centre.y - origin.y};
    const int i0 = std::max(0, int(std::floor(c.x - rx - 1))), i1 = std::min(kTileSize - 1, int(std::ceil(c.x + rx + 1)));
    const int j0 = std::max(0, int(std::floor(c.y - ry - 1))), j1 = std::min(kTileSize - 1, int(std::ceil(c.y + ry + 1)));
    const double r = std::min(rx, ry);
    for (int j = j0; j <= j1; ++j)
        for (int i = i0; i <= i1; ++i) {
            const double u = (i + 0.5 - c.x) / rx, v = (j + 0.5 - c.y) / ry;
            // Near enough to the distance from the outline for an edge a pixel wide.
            Cover(cov, i, j, 0.5 - (std::sqrt(u * u + v * v) - 1.0) * r);
        }
}

void Paint(std::vector<uint8_t>& rgb, const Coverage& cov, Rgb colour, double opacity = 1.0)
{
    for (int p = 0; p < kPixels; ++p) {
        const double a = cov[size_t(p)] * opacity;
        if (a <= 0) continue;
        uint8_t* px = &rgb[size_t(p) * 3];
        const uint8_t c[3] = {colour.r, colour.g, colour.b};
        for (int k = 0; k < 3; ++k) px[k] = uint8_t(std::lround(px[k] + (c[k] - px[k]) * a));
    }
}

// Zoom-dependent widths in pixels, so that the road still reads at the
// lowest zoom and does not swamp the streets at the highest.
double RoadHalfWidth(int z) { return std::clamp(1.5 * std::pow(1.45, z - 12), 1.5, 6.0); }
double StreetHalfWidth(int z) { return std::clamp(0.4 * std::pow(1.6, z - 12), 0.4, 2.0); }
constexpr double kStreetStepDegrees = 0.005;  // blocks of about half a kilometre
constexpr double kCasingPixels = 1.2;

std::vector<uint8_t> DrawTile(const OfflineMapRequest& req, const MapBounds& b, int z, int tx, int ty)
{
    std::vector<uint8_t> rgb(size_t(kPixels) * 3);
    for (int p = 0; p < kPixels; ++p) {
        rgb[size_t(p) * 3] = kLandColour.r;
        rgb[size_t(p) * 3 + 1] = kLandColour.g;
        rgb[size_t(p) * 3 + 2] = kLandColour.b;
    }
    const Pt origin{double(tx) * kTileSize, double(ty) * kTileSize};
    const auto world = [z](const GeoPoint& g) { return Pt{WorldX(g.lon, z), WorldY(g.lat, z)}; };

    // The block streets: a grid of meridians and parallels, wider than the
    // tiles so that it runs off every edge.
    Coverage cov(kPixels, 0.f);
    const double sw = StreetHalfWidth(z);
    const double step = kStreetStepDegrees;
    for (long k = long(std::floor(b.west / step)) - 1; k <= long(std::ceil(b.east / step)) + 1; ++k) {
        const double x = WorldX(double(k) * step, z) - origin.x;
        if (x < -sw - 1 || x > kTileSize + sw + 1) continue;
        for (int i = std::max(0, int(x - sw - 1)); i <= std::min(kTileSize - 1, int(x + sw + 1)); ++i) {
            const double a = sw + 0.5 - std::abs(i + 0.5 - x);
            for (int j = 0; j < kTileSize; ++j) Cover(cov, i, j, a);
        }
    }
    for (long k = long(std::floor(b.south / step)) - 1; k <= long(std::ceil(b.north / step)) + 1; ++k) {
        const double y = WorldY(double(k) * step, z) - origin.y;
        if (y < -sw - 1 || y > kTileSize + sw + 1) continue;
        for (int j = std::max(0, int(y - sw - 1)); j <= std::min(kTileSize - 1, int(y + sw + 1)); ++j) {
            const double a = sw + 0.5 - std::abs(j + 0.5 - y);
            for (int i = 0; i < kTileSize; ++i) Cover(cov, i, j, a);
        }
    }
    Paint(rgb, cov, kStreetColour, z <= 12 ? 0.7 : 1.0);

    for (const MapPark& park : req.parks) {
        std::fill(cov.begin(), cov.end(), 0.f);
        const double mpp = MetresPerPixel(park.centre.lat, z);
        CoverEllipse(cov, origin, world(park.centre), park.eastMetres / mpp, park.northMetres / mpp);
        Paint(rgb, cov, kParkColour);
    }

    if (req.river.size() >= 2) {
        std::fill(cov.begin(), cov.end(), 0.f);
        std::vector<Pt> line;
        for (const GeoPoint& g : req.river) line.push_back(world(g));
        const double half = std::max(1.0, req.riverMetres / 2 / MetresPerPixel(req.river.front().lat, z));
        CoverPolyline(cov, origin, line, half);
        Paint(rgb, cov, kWaterColour);
    }

    if (req.road.size() >= 2) {
        std::vector<Pt> line;
        for (const GeoPoint& g : req.road) line.push_back(world(g));
        const double half = RoadHalfWidth(z);
        std::fill(cov.begin(), cov.end(), 0.f);
        CoverPolyline(cov, origin, line, half + kCasingPixels);
        Paint(rgb, cov, kRoadCasingColour);
        std::fill(cov.begin(), cov.end(), 0.f);
        CoverPolyline(cov, origin, line, half);
        Paint(rgb, cov, kRoadColour);
    }
    return rgb;
}

// ---- PNG ----------------------------------------------------------------------

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

void Chunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data)
{
    Put32(out, uint32_t(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32(out, uint32_t(crc32(0L, &out[start], uInt(out.size() - start))));
}

uint8_t Paeth(int a, int b, int c)
{
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// ---- The tile file ------------------------------------------------------------

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StmtFinalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

void Exec(sqlite3* db, const std::string& sql, const fs::path& file)
{
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        const std::string text = err ? err : "unknown error";
        sqlite3_free(err);
        throw std::runtime_error("cannot write " + file.string() + ": " + text);
    }
}

std::string Fixed(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

}  // namespace

std::vector<uint8_t> EncodePng(const std::vector<uint8_t>& rgb, int width, int height)
{
    if (width <= 0 || height <= 0 || rgb.size() != size_t(width) * size_t(height) * 3)
        throw std::invalid_argument("a PNG picture needs width * height * 3 bytes");
    const size_t stride = size_t(width) * 3;
    // Each row takes the filter that leaves the smallest sum of bytes (as
    // signed values), which suits flat colours with thin lines.
    std::vector<uint8_t> raw;
    raw.reserve((stride + 1) * size_t(height));
    std::vector<uint8_t> best(stride), trial(stride);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = &rgb[size_t(y) * stride];
        const uint8_t* up = y > 0 ? row - stride : nullptr;
        long bestSum = -1;
        uint8_t bestType = 0;
        for (uint8_t type : {0, 1, 2, 4}) {
            long sum = 0;
            for (size_t i = 0; i < stride; ++i) {
                const int a = i >= 3 ? row[i - 3] : 0, b = up ? up[i] : 0, c = (up && i >= 3) ? up[i - 3] : 0;
                const int predictor = type == 0 ? 0 : type == 1 ? a : type == 2 ? b : Paeth(a, b, c);
                trial[i] = uint8_t(row[i] - predictor);
                sum += std::abs(int(int8_t(trial[i])));
            }
            if (bestSum < 0 || sum < bestSum) {
                bestSum = sum;
                bestType = type;
                best.swap(trial);
            }
        }
        raw.push_back(bestType);
        raw.insert(raw.end(), best.begin(), best.end());
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error("cannot compress a PNG picture");
    packed.resize(packedSize);

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    Put32(ihdr, uint32_t(width));
    Put32(ihdr, uint32_t(height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, standard filters, not interlaced
    Chunk(out, "IHDR", ihdr);
    Chunk(out, "IDAT", packed);
    Chunk(out, "IEND", {});
    return out;
}

OfflineMap WriteOfflineMap(const fs::path& file, const OfflineMapRequest& req)
{
    if (req.road.size() < 2) throw std::invalid_argument("the offline map needs a road of two points");
    if (req.minZoom < 0 || req.maxZoom > 22 || req.minZoom > req.maxZoom)
        throw std::invalid_argument("the offline map's zoom levels are out of order");
    std::error_code ec;
    if (fs::exists(file, ec)) throw std::runtime_error(file.string() + " exists already");
    if (file.has_parent_path()) fs::create_directories(file.parent_path());

    // The road's and the other points' box with the margin, rounded outwards
    // to a thousandth of a degree so that the metadata reads plainly.
    OfflineMap result;
    MapBounds& b = result.bounds;
    b = {req.road.front().lon, req.road.front().lat, req.road.front().lon, req.road.front().lat};
    for (const auto* list : {&req.road, &req.cover})
        for (const GeoPoint& g : *list) {
            b.west = std::min(b.west, g.lon);
            b.east = std::max(b.east, g.lon);
            b.south = std::min(b.south, g.lat);
            b.north = std::max(b.north, g.lat);
        }
    // Whole micro-degrees first, so that a sum such as 20.0 - 0.001 is not
    // pushed a thousandth further out by its binary rounding.
    const auto outward = [](double v, bool up) {
        const double m = std::round(v * 1e6) / 1000;
        return (up ? std::ceil(m) : std::floor(m)) / 1000;
    };
    b.west = outward(b.west - req.marginDegrees, false);
    b.south = outward(b.south - req.marginDegrees, false);
    b.east = outward(b.east + req.marginDegrees, true);
    b.north = outward(b.north + req.marginDegrees, true);
    result.minZoom = req.minZoom;
    result.maxZoom = req.maxZoom;

    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const std::string text = raw ? sqlite3_errmsg(raw) : "out of memory";
        sqlite3_close(raw);
        throw std::runtime_error("cannot create " + file.string() + ": " + text);
    }
    std::unique_ptr<sqlite3, DbCloser> db(raw);
    // No journal file beside it: a corpus without its manifest is unfinished
    // anyway, and a file nobody else writes needs no crash safety.
    Exec(db.get(),
         "PRAGMA page_size = 4096; PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF;"
         "CREATE TABLE metadata (name TEXT, value TEXT);"
         "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
         "CREATE UNIQUE INDEX name ON metadata (name);"
         "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
         "BEGIN;",
         file);

    const int centreZoom = std::min(req.maxZoom, std::max(req.minZoom, 14));
    const std::pair<std::string, std::string> metadata[] = {
        {"name", req.name},
        {"format", "png"},
        {"minzoom", std::to_string(req.minZoom)},
        {"maxzoom", std::to_string(req.maxZoom)},
        {"bounds", Fixed(b.west, 3) + "," + Fixed(b.south, 3) + "," + Fixed(b.east, 3) + "," + Fixed(b.north, 3)},
        {"center", Fixed((b.west + b.east) / 2, 4) + "," + Fixed((b.south + b.north) / 2, 4) + "," + std::to_string(centreZoom)},
        {"type", "baselayer"},
    };
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db.get(), "INSERT INTO metadata (name, value) VALUES (?1, ?2)", -1, &s, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot write " + file.string() + ": " + sqlite3_errmsg(db.get()));
    std::unique_ptr<sqlite3_stmt, StmtFinalizer> meta(s);
    for (const auto& [name, value] : metadata) {
        sqlite3_bind_text(meta.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(meta.get(), 2, value.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(meta.get()) != SQLITE_DONE)
            throw std::runtime_error("cannot write " + file.string() + ": " + sqlite3_errmsg(db.get()));
        sqlite3_reset(meta.get());
    }

    if (sqlite3_prepare_v2(db.get(),
                           "INSERT INTO tiles (zoom_level, tile_column, tile_row, tile_data) VALUES (?1, ?2, ?3, ?4)", -1,
                           &s, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot write " + file.string() + ": " + sqlite3_errmsg(db.get()));
    std::unique_ptr<sqlite3_stmt, StmtFinalizer> insert(s);
    for (int z = req.minZoom; z <= req.maxZoom; ++z) {
        const int x0 = int(std::floor(WorldX(b.west, z) / kTileSize)), x1 = int(std::floor(WorldX(b.east, z) / kTileSize));
        const int y0 = int(std::floor(WorldY(b.north, z) / kTileSize)), y1 = int(std::floor(WorldY(b.south, z) / kTileSize));
        const int rows = 1 << z;
        for (int x = x0; x <= x1; ++x)
            // Stored rows count from the south.
            for (int y = y1; y >= y0; --y) {
                const std::vector<uint8_t> png = EncodePng(DrawTile(req, b, z, x, y), kTileSize, kTileSize);
                sqlite3_bind_int(insert.get(), 1, z);
                sqlite3_bind_int(insert.get(), 2, x);
                sqlite3_bind_int(insert.get(), 3, rows - 1 - y);
                sqlite3_bind_blob(insert.get(), 4, png.data(), int(png.size()), SQLITE_TRANSIENT);
                if (sqlite3_step(insert.get()) != SQLITE_DONE)
                    throw std::runtime_error("cannot write " + file.string() + ": " + sqlite3_errmsg(db.get()));
                sqlite3_reset(insert.get());
                ++result.tiles;
            }
    }
    meta.reset();
    insert.reset();
    Exec(db.get(), "COMMIT;", file);
    if (sqlite3_close(db.release()) != SQLITE_OK) throw std::runtime_error("cannot finish " + file.string());
    return result;
}

}  // namespace velmor::demo
