// What an export leaves on disk: folder and file names, GPS lines and their
// file splitting, the correction grid, spreadsheets, GPX tracks and reports.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "player/export/ExportNames.h"
#include "player/export/ExportReport.h"
#include "player/export/GpsExport.h"
#include "player/export/GpxWriter.h"
#include "player/export/PositionGrid.h"
#include "player/export/ReportSigning.h"
#include "player/export/SpreadSheet.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

using fixtures::CTempDir;

constexpr uint32_t kT10 = 1765188000;  // 2025-12-08 10:00:00

std::string ReadAll(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

StAttachInfo_t Record(uint32_t time, int32_t lat, int32_t lon, int16_t speed = 50, int16_t height = -12,
                      uint16_t heading = 270, uint8_t status = 1)
{
    StAttachInfo_t r{};
    r.time.set(time);
    r.status = status;
    r.latitude.set(lat);
    r.longitude.set(lon);
    r.speed.set(speed);
    r.height.set(height);
    r.heading.set(heading);
    return r;
}

TEST(CutNames, ClipCombinedAndIfvNames)
{
    EXPECT_EQ(ClipBaseName(3, kT10, kT10 + 300, 1), "AV3_100000_100500_T1C0_100000");
    EXPECT_EQ(CombinedBaseName(kT10, kT10 + 300, 0), "100000_100500_T0C0_100000Combin");
    EXPECT_EQ(IfvClipBaseName("ch01_20251208_095500_N_1", kT10, kT10 + 59).value(),
              "ch01_100000_100059_N_1");
    EXPECT_FALSE(IfvClipBaseName("ch01_20251208_095500_N", kT10, kT10 + 59)) << "four parts";
    EXPECT_FALSE(IfvClipBaseName("a_b_c_d_e_f", kT10, kT10 + 59)) << "six parts";
    EXPECT_TRUE(IfvClipBaseName("a____", kT10, kT10).has_value()) << "empty parts still count";
    EXPECT_EQ(CutDayFolderName(kT10), "2025-12-08");
    EXPECT_EQ(CutDayFolderName(kT10 + 14 * 3600), "2025-12-09") << "the recorder clock, no zone shift";
    EXPECT_EQ(CutExtension(1), ".mp4");
    EXPECT_EQ(CutExtension(4), ".rkrec");
    EXPECT_EQ(CutExtension(5), "H264");
    EXPECT_EQ(CutExtension(6), "");
    EXPECT_EQ(CutExtension(-1), "");
    EXPECT_EQ(RecorderTimeText(kT10 + 61), "2025-12-08 10:01:01");
}

TEST(CutNames, DayFolderAndFreeNames)
{
    CTempDir dir;
    std::error_code ec;
    const auto day = MakeCutFolder(dir / "out", kT10, ec);
    ASSERT_TRUE(day.has_value()) << ec.message();
    EXPECT_EQ(*day, dir / "out" / "2025-12-08");
    EXPECT_TRUE(std::filesystem::is_directory(*day));
    EXPECT_TRUE(MakeCutFolder(dir / "out", kT10, ec).has_value()) << "an existing folder is fine";

    std::ofstream(dir / "file") << "x";
    EXPECT_FALSE(MakeCutFolder(dir / "file", kT10, ec).has_value()) << "a file where the folder should be";
    EXPECT_TRUE(ec);
    EXPECT_FALSE(MakeCutFolder("", kT10, ec).has_value());

    const auto a = *day / "AV1.mp4";
    EXPECT_EQ(FreePath(a), a);
    std::ofstream(a) << "1";
    EXPECT_EQ(FreePath(a), *day / "AV1_2.mp4");
    std::ofstream(*day / "AV1_2.mp4") << "2";
    EXPECT_EQ(FreePath(a), *day / "AV1_3.mp4");
}

TEST(GpsLines, ExactColumnsAndCoordinates)
{
    // 22 degrees 33.1234 minutes; 114 degrees 30.25 minutes.
    const auto line = FormatGpsLine(2, Record(kT10 + 5, 22331234, 114302500));
    EXPECT_EQ(line, "2,2025-12-08 10:00:05,1,22.552057,114.504167,50 km/h,-12,270\r\n");
    EXPECT_NEAR(CoordinateDegrees(114302500), 114.50416666, 1e-7);
    EXPECT_NEAR(CoordinateDegrees(-22331234), -22.5520567, 1e-6) << "south and west keep their sign";
    EXPECT_EQ(FormatGpsLine(16, Record(0, 0, 0, -5, 0, 65535, 255)),
              "16,1970-01-01 00:00:00,255,0.000000,0.000000,-5 km/h,0,65535\r\n");
}

TEST(GpsLines, RecordLayoutAtItsOffsets)
{
    uint8_t raw[80] = {};
    raw[0] = 0xA0, raw[1] = 0xA1, raw[2] = 0x36, raw[3] = 0x69;  // 10:00:00
    raw[4] = 7;
    const int32_t lat = 22331234, lon = 114302500;
    std::memcpy(raw + 5, &lat, 4);
    std::memcpy(raw + 9, &lon, 4);
    raw[13] = 0xFB, raw[14] = 0xFF;  // -5
    raw[15] = 0x10, raw[16] = 0x00;  // 16
    raw[17] = 0x68, raw[18] = 0x01;  // 360
    std::memcpy(raw + 27, "EVT1", 4);
    const auto r = LoadAttachInfo(raw, 75);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->time.get(), kT10);
    EXPECT_EQ(r->status, 7);
    EXPECT_EQ(r->latitude.get(), lat);
    EXPECT_EQ(r->longitude.get(), lon);
    EXPECT_EQ(r->speed.get(), -5);
    EXPECT_EQ(r->height.get(), 16);
    EXPECT_EQ(r->heading.get(), 360);
    EXPECT_STREQ(r->event[0], "EVT1");
    EXPECT_FALSE(LoadAttachInfo(raw, 74).has_value()) << "a short payload is no record";
    EXPECT_FALSE(LoadAttachInfo(nullptr, 75).has_value());
}

TEST(GpsLines, HeaderFollowsTheColumns)
{
    CTempDir dir;
    std::ofstream(dir / "lang.ini") << "[LangList]\nLanguage=2\n[Lang2]\nRecord_Label_Chn=Ch\nExportGps_GpsTime=T\n"
                                       "ExportGps_Status=S\nExportGps_Latitude=Lat\nExportGps_Longitude=Lon\n"
                                       "ExportGps_Speed=V\nExportGps_Height=H\nExportGps_Course=C\n";
    const auto language = CLanguageTable::Load(dir / "lang.ini");
    EXPECT_EQ(GpsHeaderLine(language), "Ch,T,S,Lat,Lon,V,H,C\r\n");
    EXPECT_EQ(GpsHeaderLine(CLanguageTable()), ",,,,,,,\r\n") << "no table: empty texts, the columns stay";
}

TEST(GpsFiles, AFileOverTheLimitIsFollowedByANumberedOne)
{
    CTempDir dir;
    const auto first = dir / "out" / "AV1.gps";
    const std::string header = "h\r\n";
    const std::string line = FormatGpsLine(1, Record(kT10, 22331234, 114302500));
    // The limit is crossed by the third line: the fourth starts a new file.
    CGpsFileWriter writer(first, header, nullptr, header.size() + 2 * line.size());
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(writer.Write(1, Record(kT10, 22331234, 114302500))) << writer.Error();
    ASSERT_TRUE(writer.Close());
    ASSERT_EQ(writer.Files().size(), 2u);
    EXPECT_EQ(writer.Files()[0], first);
    EXPECT_EQ(writer.Files()[1], dir / "out" / "AV1_2.gps");
    EXPECT_EQ(ReadAll(first), header + line + line + line);
    EXPECT_EQ(ReadAll(writer.Files()[1]), header + line) << "the next file starts with its own header";
    EXPECT_EQ(writer.Lines(), 4u);
}

TEST(GpsFiles, NeverReplacesAFileAndReportsAFolderItCannotMake)
{
    CTempDir dir;
    std::ofstream(dir / "AV1.gps") << "keep";
    {
        CGpsFileWriter writer(dir / "AV1.gps", "h\r\n");
        ASSERT_TRUE(writer.Write(1, Record(kT10, 1, 1)));
        EXPECT_EQ(writer.Files().at(0), dir / "AV1_2.gps");
    }
    EXPECT_EQ(ReadAll(dir / "AV1.gps"), "keep");

    std::ofstream(dir / "blocker") << "x";
    CGpsFileWriter bad(dir / "blocker" / "AV1.gps", "h\r\n");
    EXPECT_FALSE(bad.Write(1, Record(kT10, 1, 1)));
    EXPECT_EQ(bad.Error(), "SavePath " + (dir / "blocker").string() + " Fail");
    EXPECT_TRUE(bad.Files().empty());
}

// A grid whose every cell holds (lon + dLon, lat + dLat) of its own point.
CPositionGrid ShiftedGrid(double dLon, double dLat)
{
    std::vector<double> lon(CPositionGrid::kCells), lat(CPositionGrid::kCells);
    for (int r = 0; r < CPositionGrid::kRows; ++r)
        for (int c = 0; c < CPositionGrid::kColumns; ++c) {
            lon[size_t(r * 660 + c)] = 72.0 + c * 0.1 + dLon;
            lat[size_t(r * 660 + c)] = 10.0 + r * 0.1 + dLat;
        }
    CPositionGrid grid;
    grid.SetCells(std::move(lon), std::move(lat));
    return grid;
}

TEST(PositionGrid, OutsideAndUnloadedReturnTheInput)
{
    double x = 0, y = 0;
    CPositionGrid none;
    EXPECT_EQ(none.Correct(114.5, 22.5, &x, &y), CPositionGrid::kNoGrid);
    EXPECT_EQ(x, 114.5);
    EXPECT_EQ(y, 22.5);
    const auto grid = ShiftedGrid(0.001, -0.002);
    EXPECT_EQ(grid.Correct(71.99, 30.0, &x, &y), CPositionGrid::kOutside);
    EXPECT_EQ(x, 71.99);
    EXPECT_EQ(y, 30.0);
    EXPECT_EQ(grid.Correct(100.0, 55.0, &x, &y), CPositionGrid::kOutside);
}

TEST(PositionGrid, OnAGridPointOnlyThatCellCounts)
{
    // Every cell zero except (72.5, 30.0): column 5, row 200.
    std::vector<double> lon(CPositionGrid::kCells), lat(CPositionGrid::kCells);
    lon[200 * 660 + 5] = 72.5;
    lat[200 * 660 + 5] = 30.0;
    CPositionGrid grid;
    grid.SetCells(lon, lat);
    double x = 0, y = 0;
    EXPECT_EQ(grid.Correct(72.5, 30.0, &x, &y), CPositionGrid::kCorrected);
    EXPECT_DOUBLE_EQ(x, 72.5);
    EXPECT_DOUBLE_EQ(y, 30.0);
}

TEST(PositionGrid, ConvergesTowardsTheShiftedPositionAndClampsTheLastRowAndColumn)
{
    const auto grid = ShiftedGrid(0.003, -0.001);
    double x = 0, y = 0;
    ASSERT_EQ(grid.Correct(114.5041, 22.5520, &x, &y), CPositionGrid::kCorrected);
    // X = (x + X' + d) / 2 converges on x + d.
    EXPECT_NEAR(x, 114.5041 + 0.003, 1e-5);
    EXPECT_NEAR(y, 22.5520 - 0.001, 1e-5);
    ASSERT_EQ(grid.Correct(137.9, 54.9, &x, &y), CPositionGrid::kOutside)
        << "the shift carries the estimate past the edge";
    const auto inward = ShiftedGrid(-0.003, -0.003);
    ASSERT_EQ(inward.Correct(137.9, 54.9, &x, &y), CPositionGrid::kCorrected) << "the far corner, clamped";
    EXPECT_NEAR(x, 137.9 - 0.003, 1e-5);
    EXPECT_NEAR(y, 54.9 - 0.003, 1e-5);
}

TEST(PositionGrid, LoadsTheTableFileAndAShortFileLeavesZeros)
{
    CTempDir dir;
    EXPECT_FALSE(CPositionGrid().Load(dir / "none.txt"));
    {
        std::ofstream out(dir / "table.txt");
        out << "7200000 1000000\n7210000 1000000\r\n";
    }
    CPositionGrid grid;
    ASSERT_TRUE(grid.Load(dir / "table.txt"));
    double x = 0, y = 0;
    // Cells 0 and 1 hold their own points; everything north of them is zero,
    // so a point on row 0 between them is corrected with weights 1/2, 1/2.
    ASSERT_EQ(grid.Correct(72.05, 10.0, &x, &y), CPositionGrid::kCorrected);
    EXPECT_NEAR(x, 72.05, 1e-9);
    EXPECT_NEAR(y, 10.0, 1e-9);
}

TEST(SpreadSheet, RowRulesAndTheirMessages)
{
    CTempDir dir;
    CSpreadSheet sheet(dir / "log.csv", "Log");
    EXPECT_FALSE(sheet.AddRow({"a"}));
    EXPECT_EQ(sheet.LastError(), "No header row. Add header row first");
    ASSERT_TRUE(sheet.AddHeaders({"No", "Time", "Content"}));
    EXPECT_FALSE(sheet.AddHeaders({"Time"}));
    EXPECT_EQ(sheet.LastError(), "Duplicate header row field:Time");
    EXPECT_FALSE(sheet.AddRow({"1", "2", "3", "4"}));
    EXPECT_EQ(sheet.LastError(), "Number of columns to be added cannot be greater than the number of fields");
    ASSERT_TRUE(sheet.AddRow({"1", "2025-12-08 10:00:00", "Power on"}));
    EXPECT_FALSE(sheet.AddRow({"x"}, 5, true));
    EXPECT_EQ(sheet.LastError(), "Desired row is greater than total number of rows in spreadsheet");
    ASSERT_TRUE(sheet.AddRow({"0", "first"}, 1));
    ASSERT_TRUE(sheet.AddRow({"1", "replaced"}, 2, true));
    std::vector<std::string> row;
    ASSERT_TRUE(sheet.ReadRow(row));
    EXPECT_EQ(row, (std::vector<std::string>{"0", "first"}));
    ASSERT_TRUE(sheet.ReadRow(row));
    EXPECT_EQ(row[1], "replaced");
    EXPECT_FALSE(sheet.ReadRow(row));
    EXPECT_EQ(sheet.LastError(), "Error reading row");
}

TEST(SpreadSheet, TextRoundTripsQuotedValues)
{
    CTempDir dir;
    const std::vector<std::string> tricky = {"a,b", "say \"hi\"", "two\r\nlines", "plain", ""};
    EXPECT_EQ(CSpreadSheet::TextLine(tricky, ','), "\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\",plain,");
    EXPECT_EQ(CSpreadSheet::SplitTextLine("\"a,b\",\"say \"\"hi\"\"\",plain,", ','),
              (std::vector<std::string>{"a,b", "say \"hi\"", "plain", ""}));
    {
        CSpreadSheet sheet(dir / "log.txt", "Log", true, '\t');
        ASSERT_TRUE(sheet.AddHeaders({"A", "B"}));
        ASSERT_TRUE(sheet.AddRow({"x\ty", "车辆 启动"}));
        ASSERT_TRUE(sheet.Commit());
    }
    EXPECT_EQ(ReadAll(dir / "log.txt"), "A\tB\r\n\"x\ty\"\t车辆 启动\r\n");
    CSpreadSheet again(dir / "log.txt", "Log", false, '\t');
    ASSERT_TRUE(again.IsOpen());
    EXPECT_EQ(again.Headers(), (std::vector<std::string>{"A", "B"}));
    std::vector<std::string> row;
    ASSERT_TRUE(again.ReadRow(row, 1));
    EXPECT_EQ(row, (std::vector<std::string>{"x\ty", "车辆 启动"}));
    EXPECT_FALSE(std::filesystem::exists(dir / "log.txt.partial"));
}

TEST(SpreadSheet, WorkbookIsWrittenAndNeverAppendedBlindly)
{
    CTempDir dir;
    {
        CSpreadSheet sheet(dir / "log.xls", "Log");
        EXPECT_TRUE(sheet.IsExcel());
        EXPECT_EQ(sheet.File(), dir / "log.xlsx");
        ASSERT_TRUE(sheet.AddHeaders({"A"}));
        ASSERT_TRUE(sheet.AddRow({"1"}));
        ASSERT_TRUE(sheet.Commit()) << sheet.LastError();
    }
    const std::string book = ReadAll(dir / "log.xlsx");
    ASSERT_GT(book.size(), 100u);
    EXPECT_EQ(book.substr(0, 2), "PK") << "a zip package";
    CSpreadSheet append(dir / "log.xlsx", "Log", false);
    EXPECT_FALSE(append.IsOpen());
    EXPECT_EQ(append.LastError(), "Error in opening file");
    EXPECT_FALSE(append.Commit());
    EXPECT_EQ(ReadAll(dir / "log.xlsx"), book) << "the earlier workbook is untouched";

    CSpreadSheet nowhere(dir / "missing" / "log.csv", "Log");
    ASSERT_TRUE(nowhere.AddHeaders({"A"}));
    EXPECT_FALSE(nowhere.Commit());
    EXPECT_EQ(nowhere.LastError(), "Error writing file");
}

TEST(Gpx, OnePointPerPositionRecordAndEscapedName)
{
    CGpxWriter gpx("Bus <7> & \"B\"");
    EXPECT_TRUE(gpx.Add(Record(kT10, 22331234, 114302500)));
    EXPECT_FALSE(gpx.Add(Record(kT10 + 1, 0, 114302500))) << "no latitude: no position";
    EXPECT_TRUE(gpx.Add(Record(kT10 + 2, 22331300, 114302600, 0, 35)));
    EXPECT_EQ(gpx.Points(), 2u);
    const std::string doc = gpx.Document();
    EXPECT_NE(doc.find("<gpx version=\"1.1\""), std::string::npos);
    EXPECT_NE(doc.find("<name>Bus &lt;7&gt; &amp; &quot;B&quot;</name>"), std::string::npos);
    EXPECT_NE(doc.find("<trkpt lat=\"22.552057\" lon=\"114.504167\"><ele>-12</ele>"
                       "<time>2025-12-08T10:00:00Z</time></trkpt>"),
              std::string::npos);
    size_t count = 0;
    for (size_t at = doc.find("<trkpt"); at != std::string::npos; at = doc.find("<trkpt", at + 1)) ++count;
    EXPECT_EQ(count, 2u);

    CTempDir dir;
    std::string error;
    ASSERT_TRUE(gpx.Save(dir / "t.gpx", &error)) << error;
    EXPECT_EQ(ReadAll(dir / "t.gpx"), doc);
    EXPECT_FALSE(gpx.Save(dir / "t.gpx", &error)) << "an existing track is never replaced";
    EXPECT_FALSE(std::filesystem::exists(dir / "t.gpx.partial"));
}

TEST(Report, HashesEveryFileAndNamesItselfAfterTheFirst)
{
    CTempDir dir;
    std::ofstream(dir / "AV1.mp4") << "abc";
    std::ofstream(dir / "AV2.mp4") << "";
    EXPECT_EQ(FileSha256(dir / "AV1.mp4"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(FileSha256(dir / "AV2.mp4"), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(FileSha256(dir / "none"), "");
    CSigningKey key;
    std::string error;
    ASSERT_TRUE(key.LoadOrCreate(dir / "key.pem", &error)) << error;
    CExportReport report;
    report.AddSource("/media/disk");
    report.SetSpan(kT10, kT10 + 300);
    report.SetFormat("mp4");
    report.AddChannel(1);
    report.AddChannel(2);
    report.AddFrames({10, 20, 3});
    report.AddFrames({1, 2, 0});
    report.AddFile(dir / "AV1.mp4");
    report.AddFile(dir / "AV2.mp4");
    const auto path = report.Save(key, &error);
    ASSERT_EQ(path, dir / "AV1.report.json") << error;
    const std::string text = ReadAll(path);
    EXPECT_NE(text.find("\"from_text\": \"2025-12-08 10:00:00\""), std::string::npos);
    EXPECT_NE(text.find("\"video\": 11"), std::string::npos);
    EXPECT_NE(text.find("\"audio\": 22"), std::string::npos);
    EXPECT_NE(text.find("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"), std::string::npos);
    EXPECT_EQ(report.Save(key, &error), dir / "AV1.report_2.json") << "a second report never replaces the first";
    EXPECT_TRUE(CExportReport().Save(key, &error).empty());
}

}  // namespace
}  // namespace velmor
