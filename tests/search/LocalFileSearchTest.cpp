// The download-folder searches: name parsing, the filters, where a chosen
// folder sits in the tree, the file limit, the record bytes and the order.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "common/CodePage.h"
#include "player/search/LocalFileSearch.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMay6 = 1714953600;  // 2024-05-06 00:00:00

void Touch(const fs::path& path)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "ifv";
}

class DownloadTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = m_dir.Path() / "ftp";
        m_search.SetChannelList(",1,2,3,4,");
    }
    fs::path Date(const std::string& device = "AB123", const std::string& date = "2024-05-06")
    {
        return m_root / device / date;
    }
    CTempDir m_dir;
    fs::path m_root;
    CLocalFileSearch m_search;
    std::vector<LocalFileRecord> m_out;
};

TEST(DownloadName, FivePartsGiveChannelSpanAndAlarm)
{
    DownloadFileInfo info;
    ASSERT_TRUE(CLocalFileSearch::GetFileInfoByFileName("CH3_080000_081500_A12C1_080500.ifv", "2024-05-06", &info));
    EXPECT_EQ(info.channel, 3);
    EXPECT_EQ(info.beginTime, kMay6 + 8 * 3600);
    EXPECT_EQ(info.endTime, kMay6 + 8 * 3600 + 900);
    EXPECT_EQ(info.alarm, 12u);
    // Without a 'C' the alarm value is the fifth part's time.
    ASSERT_TRUE(CLocalFileSearch::GetFileInfoByFileName("C2_080000_081500_A12_080500.ifv", "2024-05-06", &info));
    EXPECT_EQ(info.channel, 1) << "a two-character token is channel 1";
    EXPECT_EQ(info.alarm, kMay6 + 8 * 3600 + 300);
    ASSERT_TRUE(CLocalFileSearch::GetFileInfoByFileName("CH12_235959_235959_C_000000.ifv", "2024-05-06", &info));
    EXPECT_EQ(info.channel, 12);
    EXPECT_EQ(info.beginTime, kMay6 + 86399);
    EXPECT_EQ(info.alarm, 0u) << "nothing between the first character and the C";
}

TEST(DownloadName, MalformedNamesAreRefused)
{
    DownloadFileInfo info;
    for (const char* name : {"CH3_080000_081500_A12C1.ifv", "CH3_080000_081500_A12C1_080500_x.ifv",
                             "CH3_0800_081500_A12C1_080500.ifv", "CH3_250000_081500_A12C1_080500.ifv",
                             "CH3_086000_081500_A12C1_080500.ifv", "CH3_0x0000_081500_A12C1_080500.ifv",
                             "CH3_080000_081500_A12_08.ifv", "CH999_080000_081500_C_080500.ifv"})
        EXPECT_FALSE(CLocalFileSearch::GetFileInfoByFileName(name, "2024-05-06", &info)) << name;
    EXPECT_FALSE(CLocalFileSearch::GetFileInfoByFileName("CH3_080000_081500_C_080500.ifv", "2024-02-30", &info))
        << "a day the calendar does not have";
    EXPECT_FALSE(CLocalFileSearch::GetFileInfoByFileName("CH3_080000_081500_C_080500.ifv", "1900-05-06", &info))
        << "before 1970";
}

TEST(DownloadName, DateFolders)
{
    int y = 0, m = 0, d = 0;
    EXPECT_TRUE(CLocalFileSearch::IsDateFolderName("2024-05-06", &y, &m, &d));
    EXPECT_EQ(y * 10000 + m * 100 + d, 20240506);
    EXPECT_TRUE(CLocalFileSearch::IsDateFolderName("x-12-31")) << "the year is not checked";
    for (const char* name : {"2024-13-01", "2024-00-01", "2024-05-32", "2024-05-00", "2024-05", "2024-05-06-1", "AB123"})
        EXPECT_FALSE(CLocalFileSearch::IsDateFolderName(name)) << name;
}

TEST(ClientName, SixPartsWithTheChannelInTheLast)
{
    DownloadFileInfo info;
    ASSERT_TRUE(CLocalFileSearch::GetRKClientFileInfoByFileName("x_20240506_080000_20240507_000001_A0002.ifv", &info));
    EXPECT_EQ(info.channel, 2);
    EXPECT_EQ(info.beginTime, kMay6 + 8 * 3600);
    EXPECT_EQ(info.endTime, kMay6 + 86400 + 1);
    EXPECT_EQ(info.alarm, 0u);
    ASSERT_TRUE(CLocalFileSearch::GetRKClientFileInfoByFileName("x_20240506_080000_20240506_081500_A.ifv", &info));
    EXPECT_EQ(info.channel, 1) << "five characters or fewer: channel 1";
    EXPECT_FALSE(CLocalFileSearch::GetRKClientFileInfoByFileName("x_2024056_080000_20240506_081500_A0002.ifv", &info));
    EXPECT_FALSE(CLocalFileSearch::GetRKClientFileInfoByFileName("20240506_080000_20240506_081500_A0002.ifv", &info));
}

TEST_F(DownloadTree, TheRecordHoldsNameKindChannelSpanAndCarNumber)
{
    const std::string name = "CH3_080000_081500_A12C1_080500.ifv";
    const std::string car = "粤B12345";
    Touch(Date(car) / name);
    m_search.SetTypeChoice(CLocalFileSearch::kTypeAlarm);
    ASSERT_EQ(m_search.SearchFtpFileByManyTime(m_root, m_out), 1);
    uint8_t bytes[65];
    std::memcpy(bytes, &m_out[0].record, 65);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), name.size()), name);
    EXPECT_EQ(bytes[name.size()], 0);
    EXPECT_EQ(bytes[40], 2);
    EXPECT_EQ(bytes[41], 3);
    EXPECT_EQ(LoadLE32(bytes + 42), kMay6 + 8 * 3600);
    EXPECT_EQ(LoadLE32(bytes + 46), kMay6 + 8 * 3600 + 900);
    const std::string gbk = Utf8ToGbk(car);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes + 50)), gbk) << "the car number in the recorder's code page";
    for (size_t i = 50 + gbk.size(); i < 65; ++i) EXPECT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(m_out[0].path, Date(car) / name);
}

TEST_F(DownloadTree, DeviceNamesOfFifteenNarrowBytesOrMoreGiveNothing)
{
    Touch(Date("ABCDEFGHIJKLMN") / "CH1_080000_081500_C_080500.ifv");   // 14 bytes
    Touch(Date("ABCDEFGHIJKLMNO") / "CH1_090000_091500_C_090500.ifv");  // 15 bytes
    Touch(Date("甲乙丙丁戊") / "CH1_100000_101500_C_100500.ifv");       // 15 UTF-8 bytes, 10 narrow
    ASSERT_EQ(m_search.SearchFtpFileByManyTime(m_root, m_out), 2);
    EXPECT_EQ(m_out[0].record.beginTime.get(), kMay6 + 10 * 3600);
    EXPECT_EQ(std::string(m_out[1].record.label), "ABCDEFGHIJKLMN");
}

TEST_F(DownloadTree, TypeAndChannelFilters)
{
    Touch(Date() / "CH1_080000_081500_A0C1_080500.ifv");   // alarm 0
    Touch(Date() / "CH2_090000_091500_A7C1_090500.ifv");   // alarm 7
    Touch(Date() / "CH12_100000_101500_A7C1_100500.ifv");  // channel 12
    EXPECT_EQ(m_search.SearchFtpFileByManyTime(m_root, m_out), 2);
    m_search.SetTypeChoice(CLocalFileSearch::kTypeAlarm);
    ASSERT_EQ(m_search.SearchFtpFileByManyTime(m_root, m_out), 1);
    EXPECT_EQ(m_out[0].record.channel, 2);
    m_search.SetTypeChoice(5);
    EXPECT_EQ(m_search.SearchFtpFileByManyTime(m_root, m_out), 0) << "neither all nor alarm";
    m_search.SetTypeChoice(CLocalFileSearch::kTypeAll);
    m_search.SetChannelList(",12,");
    ASSERT_EQ(m_search.SearchFtpFileByManyTime(m_root, m_out), 1);
    EXPECT_EQ(m_out[0].record.channel, 12);
    m_search.SetChannelList("");
    EXPECT_EQ(m_search.SearchFtpFileByManyTime(m_root, m_out), 0);
    EXPECT_EQ(CLocalFileSearch::ChannelListOf(0x8005), ",1,3,16,");
}

TEST_F(DownloadTree, WrongFoldersAndFilesArePassedOver)
{
    Touch(Date("AB123", "2024-13-01") / "CH1_080000_081500_C_080500.ifv");
    Touch(Date() / "CH1_080000_081500_C_080500.avi");
    Touch(Date() / "CH1_080000_081500_C.ifv");
    Touch(Date() / "CH1_080000_081500_C_080500.ifv" / "inner");  // a folder at the file level
    Touch(m_root / "AB123" / "stray.ifv");                       // a file at the device level
    Touch(Date() / "CH1_090000_091500_C_090500_and_a_long_tail_to_pass_forty.ifv");
    Touch(Date() / ("CH3_090000_091500_C_090500" + std::string(11, 'y') + ".ifv"));  // 41 bytes: no room
    Touch(Date() / ("CH2_0900_091500_C_090500.ifv" + std::string(40, 'x')));
    Touch(Date() / "CH4_100000_101500_C_100500.ifv");
    ASSERT_EQ(m_search.SearchFtpFileByManyTime(m_root, m_out), 1);
    EXPECT_EQ(m_out[0].record.channel, 4);
    // A name of exactly 40 bytes fills the field without a terminator.
    const std::string forty = "CH2_110000_111500_C_110500" + std::string(10, 'z') + ".ifv";
    ASSERT_EQ(forty.size(), 40u);
    Touch(Date() / forty);
    ASSERT_EQ(m_search.SearchFtpFileByManyTime(m_root, m_out), 2);
    EXPECT_EQ(std::memcmp(m_out[0].record.FileNameField(), forty.data(), 40), 0);
    EXPECT_EQ(m_out[0].record.kind, 2);
}

TEST_F(DownloadTree, TheChosenFolderMayBeADateADeviceOrTheRoot)
{
    Touch(Date("AB123", "2024-05-06") / "CH1_080000_081500_C_080500.ifv");
    Touch(Date("AB123", "2024-05-07") / "CH1_080000_081500_C_080500.ifv");
    Touch(Date("CD456", "2024-05-06") / "CH2_080000_081500_C_080500.ifv");
    fs::path root;
    EXPECT_EQ(m_search.SearchFtpFileByManyTime(Date("AB123", "2024-05-07"), m_out, &root), 1);
    EXPECT_EQ(root, m_root);
    root.clear();
    EXPECT_EQ(m_search.SearchFtpFileByManyTime(m_root / "AB123", m_out, &root), 2);
    EXPECT_EQ(root, m_root);
    root.clear();
    EXPECT_EQ(m_search.SearchFtpFileByManyTime(m_root.string() + "/", m_out, &root), 3);
    EXPECT_TRUE(root.empty()) << "the root of the tree is not told from the root itself";
    EXPECT_EQ(m_search.SearchFtpFileByManyTime(m_dir.Path() / "missing", m_out), 0);
}

TEST_F(DownloadTree, NewestFirstAndEqualBeginTimesKeepTheirOrder)
{
    Touch(Date("A1") / "CH1_080000_081500_C_080500.ifv");
    Touch(Date("A2") / "CH2_080000_081000_C_080500.ifv");
    Touch(Date("A3") / "CH3_090000_091500_C_090500.ifv");
    Touch(Date("A4") / "CH4_080000_082000_C_080500.ifv");
    ASSERT_EQ(m_search.SearchFtpFileByManyTime(m_root, m_out), 4);
    EXPECT_EQ(m_out[0].record.channel, 3);
    EXPECT_EQ(m_out[1].record.channel, 1);
    EXPECT_EQ(m_out[2].record.channel, 2);
    EXPECT_EQ(m_out[3].record.channel, 4);
}

TEST(DownloadSort, TwentyThousandEqualBeginTimesSettleAtOnceInOrder)
{
    std::vector<LocalFileRecord> records(CLocalFileSearch::kMaxFileNum);
    for (size_t i = 0; i < records.size(); ++i) {
        records[i].record.beginTime.set(i % 3 ? kMay6 : kMay6 + 60);
        records[i].record.fileNo.set(uint16_t(i));
    }
    const auto started = std::chrono::steady_clock::now();
    CLocalFileSearch::SortRecords(records);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    for (size_t i = 1; i < records.size(); ++i) {
        const auto& a = records[i - 1].record;
        const auto& b = records[i].record;
        ASSERT_GE(a.beginTime.get(), b.beginTime.get());
        if (a.beginTime.get() == b.beginTime.get()) {
            ASSERT_LT(a.fileNo.get(), b.fileNo.get()) << i;
        }
    }
    CLocalFileSearch::SortRecords(records);
    EXPECT_EQ(records[0].record.fileNo.get(), 0) << "sorting again changes nothing";
}

TEST_F(DownloadTree, AFullBufferStopsTheWalkBeforeTheNextFile)
{
    for (int i = 0; i < 5; ++i) Touch(Date() / ("CH1_0" + std::to_string(i) + "0000_081500_C_080500.ifv"));
    Touch(Date("ZZ999") / "CH1_230000_231500_C_230500.ifv");
    m_search.SetCapacity(3);
    ASSERT_EQ(m_search.SearchFtpFileByManyTime(m_root, m_out), 3);
    EXPECT_EQ(m_out[0].record.beginTime.get(), kMay6 + 2 * 3600) << "the first three names, newest first";
    EXPECT_EQ(m_out[2].record.beginTime.get(), kMay6);
}

TEST_F(DownloadTree, ClientFoldersAndTheAlarmChoice)
{
    const fs::path folder = m_dir.Path() / "粤B12345";
    Touch(folder / "x_20240506_080000_20240506_081500_A0002.ifv");
    Touch(folder / "x_20240506_090000_20240506_091500_A0005.ifv");  // channel 5 not chosen
    Touch(folder / "x_20240506_100000_20240506_101500_A0001.ifv");
    Touch(folder / "sub" / "x_20240506_110000_20240506_111500_A0001.ifv");
    Touch(folder / "x_20240506_120000_20240506_121500_A0001.txt");
    ASSERT_EQ(m_search.SearchRKClientDownloadFile(folder, m_out), 2);
    EXPECT_EQ(m_out[0].record.channel, 1);
    EXPECT_EQ(m_out[0].record.kind, 6);
    EXPECT_STREQ(reinterpret_cast<const char*>(m_out[0].record.FileNameField()), "A0001.ifv");
    EXPECT_EQ(std::string(m_out[0].record.label), Utf8ToGbk("粤B12345"));
    EXPECT_EQ(m_out[1].record.beginTime.get(), kMay6 + 8 * 3600);
    m_search.SetTypeChoice(CLocalFileSearch::kTypeAlarm);
    EXPECT_EQ(m_search.SearchRKClientDownloadFile(folder, m_out), 0);
}

TEST_F(DownloadTree, SearchesLeaveTheFilesUntouched)
{
    const fs::path file = Date() / "CH1_080000_081500_C_080500.ifv";
    Touch(file);
    struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
    ASSERT_EQ(m_search.SearchFtpFileByManyTime(m_root, m_out), 1);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(st.st_size, 3);
}

}  // namespace
}  // namespace velmor::fixtures
