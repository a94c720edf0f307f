// Read-only access to a tile file in the MBTiles layout (an sqlite database
// with tables "metadata" and "tiles"). Rows are addressed with the y axis
// counted from the south (TMS); callers ask with y counted from the north,
// as web maps do.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace velmor {

class CMbTiles {
public:
    CMbTiles() = default;
    ~CMbTiles();
    CMbTiles(const CMbTiles&) = delete;
    CMbTiles& operator=(const CMbTiles&) = delete;

    // Opens `file` read-only; false with `error` set when it cannot be
    // opened or holds no tile table. Closes what was open before.
    bool Open(const std::filesystem::path& file, std::string* error = nullptr);
    void Close();
    bool IsOpen() const { return m_db != nullptr; }

    // The tile at zoom z, column x, row y (y from the north); nothing when
    // the file has none or the address lies outside the zoom's grid.
    std::optional<std::vector<uint8_t>> Tile(int z, int x, int y) const;

    const std::map<std::string, std::string>& Metadata() const { return m_metadata; }
    // "image/png", "image/jpeg" or "image/webp" from the metadata format
    // (png when it names none).
    std::string MimeType() const;
    int MinZoom() const { return m_minZoom; }
    int MaxZoom() const { return m_maxZoom; }

    static constexpr int kMaxZoomLevel = 30;

private:
    sqlite3* m_db = nullptr;
    std::map<std::string, std::string> m_metadata;
    int m_minZoom = 0;
    int m_maxZoom = 0;
};

}  // namespace velmor
