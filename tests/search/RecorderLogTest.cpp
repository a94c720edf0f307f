// The recorder log: loading "log.bin" into its two rings, the queries, the
// entries with their texts from the language table, and the folder loads.
// Every load must leave the log file as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "common/CodePage.h"
#include "common/LanguageTable.h"
#include "player/search/RecorderLog.h"
#include "tests/support/LogWriter.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00

LogQuery Everything()
{
    LogQuery q;
    q.mode = 2;
    q.start = 0;
    q.end = UINT32_MAX;
    return q;
}

std::vector<uint32_t> Times(const std::vector<StLogRecord_t>& records)
{
    std::vector<uint32_t> out;
    for (const auto& r : records) out.push_back(r.time.get());
    return out;
}

std::vector<std::string> Remarks(const std::vector<StLogRecord_t>& records)
{
    std::vector<std::string> out;
    for (const auto& r : records) out.emplace_back(FieldText(r.remark, sizeof r.remark));
    return out;
}

CLanguageTable English()
{
    return CLanguageTable(CIniFile::Parse("[LangList]\nLanguage=2\n[Lang2]\nLog_Startup=Power on\n"
                                          "Log_UnknownType=Unknown type\nLog_InputBegin=Alarm input start\n"
                                          "Log_HDDError=Hard disk error\n"));
}

// Loads through the store and checks that the file kept its bytes and times.
class RecorderLog : public ::testing::Test {
protected:
    std::filesystem::path LogPath() const { return m_dir / "log.bin"; }

    void Load()
    {
        struct stat before {};
        ASSERT_EQ(::stat(LogPath().c_str(), &before), 0);
        std::ifstream in(LogPath(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});

        ASSERT_EQ(m_store.LoadLog(LogPath()), 0);

        struct stat after {};
        ASSERT_EQ(::stat(LogPath().c_str(), &after), 0);
        std::ifstream again(LogPath(), std::ios::binary);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), {}), bytes);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
    }

    CTempDir m_dir;
    CLogStore m_store;
};

TEST_F(RecorderLog, SixHundredOperationRecordsKeepTheLast512InTimeOrder)
{
    CLogFileImage file(600);
    for (uint32_t i = 0; i < 600; ++i) file.Append(MakeLogRecord(0x10 | (i % 10), kT0 + i, "op" + std::to_string(i)));
    file.Save(LogPath());
    Load();
    const auto* ring = m_store.OperationRing();
    ASSERT_NE(ring, nullptr);
    EXPECT_EQ(ring->count, 512u);
    EXPECT_EQ(m_store.AlarmRing()->count, 0u);

    // The ring wrapped after 512 records; the query still gives time order.
    const auto taken = m_store.Query(Everything());
    std::vector<uint32_t> expected;
    for (uint32_t i = 88; i < 600; ++i) expected.push_back(kT0 + i);
    EXPECT_EQ(Times(taken), expected);
}

TEST_F(RecorderLog, WrappedFileIsShownInTimeOrder)
{
    CLogFileImage file(20);
    for (uint32_t i = 0; i < 27; ++i) file.Append(MakeLogRecord(0x10, kT0 + 10 * i));
    file.Save(LogPath());
    Load();
    std::vector<uint32_t> expected;
    for (uint32_t i = 7; i < 27; ++i) expected.push_back(kT0 + 10 * i);
    EXPECT_EQ(Times(m_store.Query(Everything())), expected);
}

TEST_F(RecorderLog, MoreThan512OfOneKindWrapsItsRing)
{
    std::vector<StLogRecord_t> records;
    for (uint32_t i = 0; i < 600; ++i) records.push_back(MakeLogRecord(0x20, kT0 + i, std::to_string(i)));
    records.push_back(MakeLogRecord(0x03, kT0 + 5));  // an alarm record in its own ring
    WriteLogFile(LogPath(), records);
    Load();
    EXPECT_EQ(m_store.OperationRing()->count, 512u);
    EXPECT_EQ(m_store.AlarmRing()->count, 1u);
    const auto taken = m_store.Query(Everything());
    ASSERT_EQ(taken.size(), 513u);
    EXPECT_EQ(taken.front().time.get(), kT0 + 5);
    EXPECT_EQ(taken[1].time.get(), kT0 + 88);
    EXPECT_EQ(taken.back().time.get(), kT0 + 599);
}

TEST_F(RecorderLog, EmptySlotsAreNeverShown)
{
    CLogFileImage file(10);
    file.Append(MakeLogRecord(0x10, kT0));
    file.Append(MakeLogRecord(0x32, kT0 + 1));
    file.Save(LogPath());
    Load();
    EXPECT_EQ(m_store.OperationRing()->count, 2u);
    EXPECT_EQ(m_store.Query(Everything()).size(), 2u);
}

TEST_F(RecorderLog, EqualTimesKeepTheirFileOrder)
{
    WriteLogFile(LogPath(), {MakeLogRecord(0x10, kT0 + 9, "late"), MakeLogRecord(0x11, kT0, "a"),
                             MakeLogRecord(0x12, kT0, "b"), MakeLogRecord(0x01, kT0, "alarm"),
                             MakeLogRecord(0x13, kT0, "c")});
    Load();
    EXPECT_EQ(Remarks(m_store.Query(Everything())), (std::vector<std::string>{"alarm", "a", "b", "c", "late"}))
        << "alarm ring first, then the operation ring, each in file order for equal times";
}

TEST_F(RecorderLog, EqualTimesKeepTheirFileOrderAcrossTheRingsWrapAround)
{
    std::vector<StLogRecord_t> records;
    for (uint32_t i = 0; i < 520; ++i) records.push_back(MakeLogRecord(0x10, kT0 + i / 100, std::to_string(i)));
    WriteLogFile(LogPath(), records);
    Load();
    const auto taken = m_store.Query(Everything());
    ASSERT_EQ(taken.size(), 512u);
    for (uint32_t i = 0; i < 512; ++i) ASSERT_EQ(Remarks({taken[i]})[0], std::to_string(i + 8)) << i;
}

TEST_F(RecorderLog, ShortLastPieceIsNotARecord)
{
    WriteLogFile(LogPath(), {MakeLogRecord(0x10, kT0), MakeLogRecord(0x11, kT0 + 1)}, std::string(36, '\x10'));
    Load();
    EXPECT_EQ(m_store.Query(Everything()).size(), 2u);
}

TEST_F(RecorderLog, EmptyFileLoadsNothing)
{
    WriteLogFile(LogPath(), {});
    Load();
    EXPECT_TRUE(m_store.Query(Everything()).empty());
}

TEST_F(RecorderLog, LoadingClearsTheLastByte)
{
    WriteLogFile(LogPath(), {MakeLogRecord(0x10, kT0, "x", 0xDEADBEEF, 0x5A)});
    Load();
    const auto taken = m_store.Query(Everything());
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].loaded, 0);
    EXPECT_EQ(taken[0].extra.get(), 0xDEADBEEFu) << "carried along";
}

TEST_F(RecorderLog, MissingFileOrFolder)
{
    EXPECT_EQ(m_store.LoadLog(m_dir / "none.bin"), -1);
    EXPECT_FALSE(m_store.IsLoaded());
    EXPECT_EQ(m_store.LoadLog(m_dir.Path()), -1) << "a folder is not a log";
    ASSERT_EQ(::mkfifo(LogPath().c_str(), 0644), 0);
    EXPECT_EQ(m_store.LoadLog(LogPath()), -1) << "a pipe would block";
    EXPECT_EQ(m_store.LoadLog("/dev/zero"), -1) << "a device would never end";
}

TEST_F(RecorderLog, ReadOnlyFileLoads)
{
    WriteLogFile(LogPath(), {MakeLogRecord(0x10, kT0)});
    std::filesystem::permissions(LogPath(), std::filesystem::perms::owner_read);
    Load();
    EXPECT_EQ(m_store.Query(Everything()).size(), 1u);
}

TEST_F(RecorderLog, QueryWithoutAStore)
{
    // Nothing loaded: an empty answer, and nothing on standard output, where
    // velmor-cli writes its JSON.
    testing::internal::CaptureStdout();
    EXPECT_TRUE(m_store.Query(Everything()).empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// ---- Queries --------------------------------------------------------------------------

class LogQueries : public RecorderLog {
protected:
    void SetUp() override
    {
        WriteLogFile(LogPath(), {MakeLogRecord(0x30, kT0 + 50, "m3 late"), MakeLogRecord(0x00, kT0 + 10, "m0"),
                                 MakeLogRecord(0x12, kT0 + 20, "m1"), MakeLogRecord(0x36, kT0 + 30, "m3"),
                                 MakeLogRecord(0x31, 100, "m3 early"), MakeLogRecord(0x47, kT0 + 40, "m4"),
                                 MakeLogRecord(0xE1, kT0 + 60, "m14")});
        Load();
    }
    std::vector<std::string> Run(uint8_t mode, uint8_t type, uint32_t start, uint32_t end)
    {
        LogQuery q;
        q.mode = mode;
        q.typeFilter = type;
        q.start = start;
        q.end = end;
        return Remarks(m_store.Query(q));
    }
};

TEST_F(LogQueries, TypeOnlyIgnoresTime)
{
    EXPECT_EQ(Run(1, 0x30, kT0 + 25, kT0 + 26), (std::vector<std::string>{"m3 early", "m3", "m3 late"}));
    EXPECT_EQ(Run(1, 0x3F, 0, 0), (std::vector<std::string>{"m3 early", "m3", "m3 late"})) << "only the high 4 bits";
    EXPECT_EQ(Run(1, 0x40, 0, 0).size(), 7u) << "4 takes every type";
    EXPECT_EQ(Run(1, 0xE0, 0, 0), (std::vector<std::string>{"m14"}));
}

TEST_F(LogQueries, TypeAndTime)
{
    EXPECT_EQ(Run(0, 0x30, kT0 + 30, kT0 + 50), (std::vector<std::string>{"m3", "m3 late"})) << "both ends included";
    EXPECT_EQ(Run(0, 0x30, kT0 + 31, kT0 + 49), (std::vector<std::string>{}));
    EXPECT_EQ(Run(0, 0x40, kT0 + 10, kT0 + 20), (std::vector<std::string>{"m0", "m1"}));
}

TEST_F(LogQueries, TimeOnlyForAnyOtherMode)
{
    for (uint8_t mode : {2, 3, 255})
        EXPECT_EQ(Run(mode, 0x00, kT0 + 35, kT0 + 60), (std::vector<std::string>{"m4", "m3 late", "m14"})) << int(mode);
    EXPECT_EQ(Run(2, 0x00, kT0 + 60, kT0 + 10), (std::vector<std::string>{})) << "an empty range";
}

TEST(LogDefaultQuery, FromTheYear2000ToThirtyYearsAhead)
{
    setenv("TZ", "UTC", 1);
    tzset();
    const LogQuery q = DefaultLogQuery(1765188000);  // 2025-12-08 10:00:00
    EXPECT_EQ(q.mode, 0);
    EXPECT_EQ(q.typeFilter, 0x40);
    EXPECT_EQ(q.start, 946684800u);
    EXPECT_EQ(q.end, 2711872800u);  // 2055-12-08 10:00:00

    // The local wall clock, taken as recorder seconds without a zone shift.
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
    EXPECT_EQ(DefaultLogQuery(1765188000).end, 2711872800u + 8 * 3600);
    unsetenv("TZ");
    tzset();
}

// ---- Entries --------------------------------------------------------------------------

TEST(LogContentKeys, Table)
{
    EXPECT_STREQ(LogContentKey(0x00), "Log_InputBegin");
    EXPECT_STREQ(LogContentKey(0x03), "Log_MTDEnd");
    EXPECT_STREQ(LogContentKey(0x04), "Log_UnknownType");
    EXPECT_STREQ(LogContentKey(0x19), "Log_Reboot");
    EXPECT_STREQ(LogContentKey(0x1A), "Log_UnknownType");
    EXPECT_STREQ(LogContentKey(0x1B), "Log_LoginFailed");
    EXPECT_STREQ(LogContentKey(0x1C), "Log_UnknownType");
    EXPECT_STREQ(LogContentKey(0x1D), "Log_LocalUpdat");
    EXPECT_STREQ(LogContentKey(0x17), "Log_LocalUpdat");
    EXPECT_STREQ(LogContentKey(0x22), "Log_StartVideo");
    EXPECT_STREQ(LogContentKey(0x29), "Log_RemoteShutdown");
    EXPECT_STREQ(LogContentKey(0x2A), "Log_UnknownType");
    EXPECT_STREQ(LogContentKey(0x36), "Log_SDError");
    EXPECT_STREQ(LogContentKey(0x37), "Log_UnknownType");
    EXPECT_STREQ(LogContentKey(0x40), "Log_UnknownType");
    EXPECT_STREQ(LogContentKey(0x47), "Log_UnknownType");
    EXPECT_STREQ(LogContentKey(0x51), "Log_N0SIMCard");
    EXPECT_STREQ(LogContentKey(0x55), "Log_offLine");
    EXPECT_STREQ(LogContentKey(0x56), "Log_UnknownType");
    EXPECT_STREQ(LogContentKey(0x67), "Log_RolloverRecovery");
    EXPECT_STREQ(LogContentKey(0x68), "Log_UnknownType");
    EXPECT_STREQ(LogContentKey(0x70), "Log_UnknownType");
    EXPECT_STREQ(LogContentKey(0xFF), "Log_UnknownType");
}

TEST(LogEntries, NumbersTimesTextsAndRemarks)
{
    const std::string remark = Utf8ToGbk("  \r\n车辆 启动\n ");
    std::vector<LogEntry> entries;
    MakeLogEntries({MakeLogRecord(0x10, kT0 + 3661, remark), MakeLogRecord(0x47, 946684800, "x"),
                    MakeLogRecord(0x02, kT0, "no text")},
                   English(), kRecorderLogSource, entries);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].number, 1);
    EXPECT_EQ(entries[0].numberText, "1");
    EXPECT_EQ(entries[0].timeText, "2025-12-08 11:01:01 ");
    EXPECT_EQ(entries[0].content, "Power on");
    EXPECT_STREQ(entries[0].contentKey, "Log_Startup");
    EXPECT_EQ(entries[0].remark, "车辆 启动");
    EXPECT_EQ(entries[0].kind, 2);
    EXPECT_EQ(entries[0].sourceKey, "*RK*");
    EXPECT_EQ(entries[1].content, "Unknown type");
    EXPECT_EQ(entries[1].timeText, "2000-01-01 00:00:00 ");
    EXPECT_EQ(entries[2].content, "") << "a key missing from the table gives an empty text";

    MakeLogEntries({MakeLogRecord(0x10, kT0)}, English(), "other", entries);
    EXPECT_EQ(entries[3].number, 4) << "numbers run on over the list";
    EXPECT_EQ(entries[3].kind, 1);
}

TEST(LogEntries, RemarkFillingAllItsBytesStopsAtTheField)
{
    auto r = MakeLogRecord(0x10, kT0, std::string(27, 'R'), 0x41414141, 0x41);
    std::vector<LogEntry> entries;
    MakeLogEntries({r}, English(), kRecorderLogSource, entries);
    EXPECT_EQ(entries[0].remark, std::string(27, 'R'));
}

TEST(LogEntries, SixHundredOperationRecordsWithUnknownTypes)
{
    CTempDir dir;
    CLogFileImage file(1000);
    for (uint32_t i = 0; i < 600; ++i) file.Append(MakeLogRecord(i % 7 == 0 ? 0x47 : 0x10, kT0 + i));
    file.Save(dir / "log.bin");
    std::vector<LogEntry> entries;
    ASSERT_EQ(LoadLogEntries(dir / "log.bin", DefaultLogQuery(), English(), entries), 0);
    ASSERT_EQ(entries.size(), 512u);
    for (size_t i = 0; i < entries.size(); ++i) {
        const uint32_t n = uint32_t(i) + 88;
        ASSERT_EQ(entries[i].time, kT0 + n);
        ASSERT_EQ(entries[i].content, n % 7 == 0 ? "Unknown type" : "Power on") << n;
        ASSERT_EQ(entries[i].number, int(i) + 1);
    }
}

TEST(LogFolders, MissingLogsArePassedOver)
{
    CTempDir dir;
    for (const char* d : {"a", "b", "c"}) std::filesystem::create_directories(dir / d);
    WriteLogFile(dir / "a" / "log.bin", {MakeLogRecord(0x10, kT0), MakeLogRecord(0x00, kT0 + 1)});
    WriteLogFile(dir / "c" / "LOG.BIN", {MakeLogRecord(0x32, kT0 + 2), MakeLogRecord(0x11, 900000000)});
    std::vector<LogEntry> entries;
    EXPECT_EQ(LoadFolderLogs({dir / "a", dir / "b", dir / "c", dir / "none"}, English(), entries), 2);
    ASSERT_EQ(entries.size(), 3u) << "the default query drops the record from before 2000";
    EXPECT_EQ(entries[0].content, "Power on");
    EXPECT_EQ(entries[1].content, "Alarm input start");
    EXPECT_EQ(entries[2].content, "Hard disk error");
    EXPECT_EQ(entries[2].number, 3);
}

// ---- The language table -------------------------------------------------------------

TEST(LanguageTable, SectionByIndexOrName)
{
    CLanguageTable t(CIniFile::Parse("[LangList]\nLanguage=1\n[Lang1]\nKey=one\n[Lang2]\nKey=two\n"
                                     "[LangEnglish]\nKey=by name\n"));
    EXPECT_EQ(t.Text("key"), "one") << "the index of LangList until one is chosen";
    t.SelectIndex(2);
    EXPECT_EQ(t.Text("KEY"), "two");
    EXPECT_EQ(t.Text("Key", "English"), "by name");
    EXPECT_EQ(t.Text("Missing"), "");
    EXPECT_EQ(CLanguageTable().Text("Key"), "");
    EXPECT_EQ(CLanguageTable(CIniFile::Parse("[Lang0]\nKey=zero\n")).Text("Key"), "zero");
}

TEST(LanguageTable, TextsAreCutAt259Characters)
{
    std::string longText;
    for (int i = 0; i < 300; ++i) longText += "文";
    CLanguageTable t(CIniFile::Parse("[Lang0]\nKey=" + longText + "\nAscii=" + std::string(300, 'a') + "\n"));
    EXPECT_EQ(t.Text("Key").size(), 259u * 3);
    EXPECT_EQ(t.Text("Ascii"), std::string(259, 'a'));
}

TEST(LanguageTable, ShippedTableHasEveryLogText)
{
    // The copy the build puts beside the programs.
    const auto path = LanguageTablePath();
    const CLanguageTable t = CLanguageTable::Load(path);
    for (int type = 0; type < 256; ++type) {
        if (type == kLogEmptyType) continue;
        EXPECT_FALSE(t.Text(LogContentKey(uint8_t(type))).empty()) << LogContentKey(uint8_t(type));
    }
    EXPECT_EQ(t.Text("Log_UnknownType"), "Unknown type");
    EXPECT_FALSE(t.Text("Record_Label_SelDir").empty());
    const CIniFile ini = CIniFile::Load(path);
    EXPECT_EQ(ini.GetInt("LangList", "RpoDebug", -1), 0) << "traces stay off";
    EXPECT_EQ(ini.GetInt("LangList", "Debug", -1), 0);
}

}  // namespace
}  // namespace velmor::fixtures
