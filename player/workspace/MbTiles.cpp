#include "player/workspace/MbTiles.h"

#include <sqlite3.h>

#include <memory>

namespace velmor {

namespace {

struct StmtDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

Stmt Prepare(sqlite3* db, const char* sql)
{
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        return nullptr;
    }
    return Stmt(s);
}

int ToInt(const std::string& text, int def)
{
    try {
        size_t used = 0;
        const int v = std::stoi(text, &used);
        return used ? v : def;
    } catch (...) {
        return def;
    }
}

}  // namespace

CMbTiles::~CMbTiles() { Close(); }

void CMbTiles::Close()
{
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_metadata.clear();
    m_minZoom = m_maxZoom = 0;
}

bool CMbTiles::Open(const std::filesystem::path& file, std::string* error)
{
    Close();
    auto fail = [&](std::string text) {
        if (m_db) sqlite3_close_v2(m_db);
        m_db = nullptr;
        m_metadata.clear();
        if (error) *error = std::move(text);
        return false;
    };
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return fail("no map file " + file.string());
    if (sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return fail("cannot open " + file.string() + ": " + (m_db ? sqlite3_errmsg(m_db) : "out of memory"));
    Stmt tiles = Prepare(m_db, "SELECT tile_data FROM tiles LIMIT 1");
    if (!tiles) return fail("no tile table in " + file.string() + ": " + sqlite3_errmsg(m_db));
    if (sqlite3_step(tiles.get()) == SQLITE_ERROR) return fail("cannot read " + file.string() + ": " + sqlite3_errmsg(m_db));

    if (Stmt meta = Prepare(m_db, "SELECT name, value FROM metadata")) {
        while (sqlite3_step(meta.get()) == SQLITE_ROW) {
            const auto* name = sqlite3_column_text(meta.get(), 0);
            const auto* value = sqlite3_column_text(meta.get(), 1);
            if (name) m_metadata[reinterpret_cast<const char*>(name)] = value ? reinterpret_cast<const char*>(value) : "";
        }
    }
    m_minZoom = 0;
    m_maxZoom = 18;
    if (Stmt zooms = Prepare(m_db, "SELECT MIN(zoom_level), MAX(zoom_level) FROM tiles")) {
        if (sqlite3_step(zooms.get()) == SQLITE_ROW && sqlite3_column_type(zooms.get(), 0) != SQLITE_NULL) {
            m_minZoom = sqlite3_column_int(zooms.get(), 0);
            m_maxZoom = sqlite3_column_int(zooms.get(), 1);
        }
    }
    if (auto it = m_metadata.find("minzoom"); it != m_metadata.end()) m_minZoom = ToInt(it->second, m_minZoom);
    if (auto it = m_metadata.find("maxzoom"); it != m_metadata.end()) m_maxZoom = ToInt(it->second, m_maxZoom);
    if (m_minZoom < 0) m_minZoom = 0;
    if (m_maxZoom > kMaxZoomLevel) m_maxZoom = kMaxZoomLevel;
    if (m_maxZoom < m_minZoom) m_maxZoom = m_minZoom;
    return true;
}

std::optional<std::vector<uint8_t>> CMbTiles::Tile(int z, int x, int y) const
{
    if (!m_db || z < 0 || z > kMaxZoomLevel) return std::nullopt;
    const int64_t size = int64_t(1) << z;
    if (x < 0 || y < 0 || x >= size || y >= size) return std::nullopt;
    Stmt s = Prepare(m_db, "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3");
    if (!s) return std::nullopt;
    sqlite3_bind_int(s.get(), 1, z);
    sqlite3_bind_int64(s.get(), 2, x);
    sqlite3_bind_int64(s.get(), 3, size - 1 - y);
    if (sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
    const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(s.get(), 0));
    const int bytes = sqlite3_column_bytes(s.get(), 0);
    if (!data || bytes <= 0) return std::nullopt;
    return std::vector<uint8_t>(data, data + bytes);
}

std::string CMbTiles::MimeType() const
{
    auto it = m_metadata.find("format");
    if (it == m_metadata.end()) return "image/png";
    if (it->second == "jpg" || it->second == "jpeg") return "image/jpeg";
    if (it->second == "webp") return "image/webp";
    return "image/png";
}

}  // namespace velmor
