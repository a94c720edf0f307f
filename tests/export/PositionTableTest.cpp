// The position correction grid's table as velmor-gps-table writes it: its
// form, the conversion and region it is made from, and positions corrected
// through it. Expected positions were worked out once from the published
// conversion by hand, outside this program, and are kept as numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "player/export/PositionGrid.h"
#include "tests/support/TempDir.h"
#include "tools/gps-table/PositionTable.h"

namespace velmor {
namespace {

using fixtures::CTempDir;

std::string ReadText(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class PositionTableTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new CTempDir("gps-table");
        std::string error;
        ASSERT_TRUE(WritePositionTable(*s_dir / "GPS/table.txt", &error)) << error;
        s_text = new std::string(ReadText(*s_dir / "GPS/table.txt"));
        s_grid = new CPositionGrid;
        ASSERT_TRUE(s_grid->Load(*s_dir / "GPS/table.txt"));
    }
    static void TearDownTestSuite()
    {
        delete s_grid;
        delete s_text;
        delete s_dir;
    }

    static CTempDir* s_dir;
    static std::string* s_text;
    static CPositionGrid* s_grid;
};
CTempDir* PositionTableTest::s_dir = nullptr;
std::string* PositionTableTest::s_text = nullptr;
CPositionGrid* PositionTableTest::s_grid = nullptr;

TEST_F(PositionTableTest, OneLinePerCellInCellOrder)
{
    const std::string& text = *s_text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 297000);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(*s_dir / "GPS/table.txt.part")) << "the temporary file is gone";

    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 297000u);
    struct Case {
        size_t index;  // row * 660 + column
        const char* line;
        const char* what;
    };
    const Case cases[] = {
        {0, "7200000 1000000", "72.0 E 10.0 N, the sea west of India: its own point"},
        {82920, "11400499 2249713", "114.0 E 22.5 N, Shenzhen: offset"},
        {197784, "11640624 3990140", "116.4 E 39.9 N, Beijing: offset"},
        {99495, "12150000 2500000", "121.5 E 25.0 N, Taipei: its own point"},
        {296999, "13790000 5490000", "137.9 E 54.9 N, the last cell: its own point"},
    };
    for (const auto& c : cases) EXPECT_EQ(lines[c.index], c.line) << c.what;
}

TEST(PositionTable, TheConversionMatchesValuesWorkedOutByHand)
{
    struct Case {
        double lon, lat, offsetLon, offsetLat;
    };
    const Case cases[] = {
        {113.9732, 22.53631, 113.978129211, 22.533363659},  // Shenzhen
        {116.3912, 39.9073, 116.397441104, 39.908701219},   // Beijing
        {121.4737, 31.2304, 121.478223059, 31.228457738},   // Shanghai
        {87.6168, 43.8256, 87.619649949, 43.826805393},     // Urumqi
    };
    for (const auto& c : cases) {
        double lon = 0, lat = 0;
        OffsetPosition(c.lon, c.lat, &lon, &lat);
        EXPECT_NEAR(lon, c.offsetLon, 1e-8) << c.lon << " " << c.lat;
        EXPECT_NEAR(lat, c.offsetLat, 1e-8) << c.lon << " " << c.lat;
    }
}

TEST(PositionTable, TheRegionIsMainlandChina)
{
    struct Case {
        const char* place;
        double lon, lat;
        bool inside;
    };
    const Case cases[] = {
        {"Shenzhen", 113.9732, 22.53631, true},   {"Urumqi", 87.6168, 43.8256, true},
        {"Lhasa", 91.1172, 29.6469, true},        {"Harbin", 126.6424, 45.7567, true},
        {"Bangkok", 100.5, 13.7, false},          {"Taipei", 121.5654, 25.0330, false},
        {"Hanoi", 105.8342, 21.0278, false},      {"Vladivostok", 131.8869, 43.1155, false},
        {"Ulaanbaatar", 106.9057, 47.8864, false}, {"Seoul", 126.9780, 37.5665, false},
    };
    for (const auto& c : cases) EXPECT_EQ(InMainlandChina(c.lon, c.lat), c.inside) << c.place;
}

TEST_F(PositionTableTest, PositionsCorrectedThroughTheGrid)
{
    // Between grid points the bilinear interpolation of a 0.1 degree grid
    // strays from the conversion by up to about 8e-5 degree (under 10 m);
    // the offset itself is some 5e-3 degree, so a table without it, or with
    // its columns swapped, is far outside these bounds.
    struct Case {
        const char* place;
        double lon, lat;
        int status;
        double expectLon, expectLat, tolerance;
    };
    const Case cases[] = {
        {"Shenzhen", 113.9732, 22.53631, CPositionGrid::kCorrected, 113.978129, 22.533364, 5e-5},
        {"Beijing", 116.3912, 39.9073, CPositionGrid::kCorrected, 116.397441, 39.908701, 5e-5},
        {"Shanghai", 121.4737, 31.2304, CPositionGrid::kCorrected, 121.478223, 31.228458, 1e-4},
        {"west of the grid", 71.99, 30.0, CPositionGrid::kOutside, 71.99, 30.0, 0},
        {"Bangkok", 100.5, 13.7, CPositionGrid::kCorrected, 100.5, 13.7, 1e-6},
        {"Taipei", 121.5654, 25.0330, CPositionGrid::kCorrected, 121.5654, 25.0330, 1e-6},
        {"Seoul", 126.9780, 37.5665, CPositionGrid::kCorrected, 126.9780, 37.5665, 1e-6},
    };
    for (const auto& c : cases) {
        double x = 0, y = 0;
        EXPECT_EQ(s_grid->Correct(c.lon, c.lat, &x, &y), c.status) << c.place;
        EXPECT_NEAR(x, c.expectLon, c.tolerance) << c.place;
        EXPECT_NEAR(y, c.expectLat, c.tolerance) << c.place;
    }
}

TEST(PositionTable, AFolderThatCannotBeMadeIsReported)
{
    CTempDir dir;
    std::ofstream(dir / "blocker") << "x";
    std::string error;
    EXPECT_FALSE(WritePositionTable(dir / "blocker" / "GPS" / "table.txt", &error));
    EXPECT_NE(error.find((dir / "blocker").string()), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir / "blocker" / "GPS"));
}

}  // namespace
}  // namespace velmor
