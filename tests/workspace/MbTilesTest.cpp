// The offline tile file: rows counted from the south, asked from the north.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "player/workspace/MbTiles.h"

using namespace velmor;

namespace {

class MbTilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("velmor-mbtiles-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // A tile file with the rows given as (zoom, column, stored row, data).
    std::filesystem::path Make(const char* name, const char* extraSql)
    {
        const auto path = m_dir / name;
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        const std::string sql = std::string(
                                    "CREATE TABLE metadata (name TEXT, value TEXT);"
                                    "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
                                    "INSERT INTO tiles VALUES (1, 0, 1, CAST('north-west' AS BLOB));"
                                    "INSERT INTO tiles VALUES (1, 0, 0, CAST('south-west' AS BLOB));"
                                    "INSERT INTO tiles VALUES (2, 3, 0, CAST('z2 south-east' AS BLOB));"
                                    "INSERT INTO tiles VALUES (3, 5, 2, X'89504E47');") +
                                extraSql;
        char* err = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
        sqlite3_free(err);
        sqlite3_close(db);
        return path;
    }
    static std::string Text(const std::optional<std::vector<uint8_t>>& data)
    {
        return data ? std::string(data->begin(), data->end()) : std::string("<none>");
    }
    std::filesystem::path m_dir;
};

struct TileCase {
    int z, x, y;
    const char* expected;
};

TEST_F(MbTilesTest, RowsAreFlipped)
{
    CMbTiles tiles;
    std::string error;
    ASSERT_TRUE(tiles.Open(Make("a.mbtiles", ""), &error)) << error;
    const TileCase cases[] = {
        {1, 0, 0, "north-west"},      {1, 0, 1, "south-west"}, {2, 3, 3, "z2 south-east"},
        {2, 3, 0, "<none>"},          {3, 5, 5, "\x89PNG"},    {3, 5, 2, "<none>"},
        {1, 1, 0, "<none>"},          {1, 2, 0, "<none>"},     {1, 0, 2, "<none>"},
        {-1, 0, 0, "<none>"},         {1, -1, 0, "<none>"},    {1, 0, -1, "<none>"},
        {31, 0, 0, "<none>"},         {0, 0, 0, "<none>"},
    };
    for (const auto& c : cases) EXPECT_EQ(Text(tiles.Tile(c.z, c.x, c.y)), c.expected) << c.z << "/" << c.x << "/" << c.y;
    EXPECT_EQ(tiles.MimeType(), "image/png");
    EXPECT_EQ(tiles.MinZoom(), 1);
    EXPECT_EQ(tiles.MaxZoom(), 3);
}

TEST_F(MbTilesTest, MetadataNamesFormatAndZooms)
{
    CMbTiles tiles;
    ASSERT_TRUE(tiles.Open(Make("b.mbtiles",
                                "INSERT INTO metadata VALUES ('format', 'jpg');"
                                "INSERT INTO metadata VALUES ('minzoom', '2');"
                                "INSERT INTO metadata VALUES ('maxzoom', '14');"
                                "INSERT INTO metadata VALUES ('name', 'Harbour');")));
    EXPECT_EQ(tiles.MimeType(), "image/jpeg");
    EXPECT_EQ(tiles.MinZoom(), 2);
    EXPECT_EQ(tiles.MaxZoom(), 14);
    EXPECT_EQ(tiles.Metadata().at("name"), "Harbour");
}

TEST_F(MbTilesTest, BadFilesAreRefused)
{
    CMbTiles tiles;
    std::string error;
    EXPECT_FALSE(tiles.Open(m_dir / "absent.mbtiles", &error));
    EXPECT_NE(error.find("no map file"), std::string::npos);
    EXPECT_FALSE(tiles.IsOpen());

    const auto text = m_dir / "text.mbtiles";
    std::ofstream(text) << "this is not a database, just some words that fill more than a header";
    EXPECT_FALSE(tiles.Open(text, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(tiles.IsOpen());
    EXPECT_EQ(Text(tiles.Tile(1, 0, 0)), "<none>");

    const auto empty = m_dir / "empty.mbtiles";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(empty.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE other (a INTEGER);", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_FALSE(tiles.Open(empty, &error));
    EXPECT_NE(error.find("no tile table"), std::string::npos);

    EXPECT_FALSE(tiles.Open(m_dir, &error));  // a folder
}

TEST_F(MbTilesTest, OpeningLeavesTheFileAsItWas)
{
    const auto path = Make("c.mbtiles", "");
    const auto size = std::filesystem::file_size(path);
    const auto time = std::filesystem::last_write_time(path);
    {
        CMbTiles tiles;
        ASSERT_TRUE(tiles.Open(path));
        EXPECT_EQ(Text(tiles.Tile(1, 0, 0)), "north-west");
        tiles.Close();
        EXPECT_FALSE(tiles.IsOpen());
        EXPECT_EQ(Text(tiles.Tile(1, 0, 0)), "<none>");
    }
    EXPECT_EQ(std::filesystem::file_size(path), size);
    EXPECT_EQ(std::filesystem::last_write_time(path), time);
    EXPECT_FALSE(std::filesystem::exists(path.string() + "-journal"));
}

}  // namespace
