// What a path is, for every kind of source: names, folder layouts and, where
// the name does not tell, the content.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "player/search/SourceKind.h"
#include "tests/support/BackupWriter.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

namespace fs = std::filesystem;
using fixtures::CTempDir;

void Touch(const fs::path& path, const std::string& text = "x")
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// A backup record file of one short recording.
void WriteBackup(const fs::path& path)
{
    fixtures::CBackupFileImage image;
    fixtures::CRecordWriter w(image, fixtures::RecordingParams{});
    std::vector<uint8_t> frame(500, 0x5A);
    for (uint32_t i = 0; i < 50; ++i)
        w.WriteFrame(i % 25 == 0 ? rkfs::kFrameI : rkfs::kFrameP, (1765188000ull * 1000 + i * 40) * 1000,
                     frame.data(), uint32_t(frame.size()));
    w.Close();
    image.Save(path);
}

// The first 16 bytes of every IFV file.
void WriteIfvHead(const fs::path& path)
{
    static const unsigned char kHead[16] = {0x11, 0xd2, 0xd3, 0xab, 0xba, 0xa9, 0xcf, 0x11,
                                            0x8e, 0xe6, 0x00, 0xc0, 0x0c, 0x20, 0x53, 0x65};
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(kHead), sizeof kHead);
    out << std::string(100, '\0');
}

class SourceKindTest : public testing::Test {
protected:
    CTempDir m_dir{"source-kind"};
};

TEST_F(SourceKindTest, EveryKind)
{
    const fs::path d = m_dir.Path();
    struct Row {
        const char* path;
        std::function<void(const fs::path&)> make;
        ESourceKind kind;
        const char* name;
    };
    const std::vector<Row> rows = {
        {"rec/fc00001.rpo",
         [](const fs::path& p) {
             fs::create_directories(p.parent_path());
             fixtures::CContainerFileImage(p, 1);
         }, ESourceKind::kContainerFile,
         "container_file"},
        {"rec", nullptr, ESourceKind::kContainerFolder, "container_folder"},
        {"short/fc00002.rpo", [](const fs::path& p) { Touch(p); }, ESourceKind::kUnknown, "unknown"},
        {"clip.RKREC", [](const fs::path& p) { Touch(p); }, ESourceKind::kBackupRecordFile, "backup_record_file"},
        {"export.bin", WriteBackup, ESourceKind::kBackupRecordFile, "backup_record_file"},
        {"a.ifv", [](const fs::path& p) { Touch(p); }, ESourceKind::kIfvFile, "ifv_file"},
        {"renamed.dat", WriteIfvHead, ESourceKind::kIfvFile, "ifv_file"},
        {"trip.Grec", [](const fs::path& p) { Touch(p); }, ESourceKind::kGrecFile, "grec_file"},
        {"movie.MKV", [](const fs::path& p) { Touch(p); }, ESourceKind::kMediaFile, "media_file"},
        {"notes.txt", [](const fs::path& p) { Touch(p, std::string(5000, 'n')); }, ESourceKind::kUnknown, "unknown"},
        {"disk", [](const fs::path& p) {
             fs::create_directories(p / "KORADVR");
             Touch(p / "index00.bin");
             Touch(p / "INDEX01.BIN");
         },
         ESourceKind::kIndexDisk, "index_disk"},
        {"ftp/AB123", [](const fs::path& p) { Touch(p / "2024-05-06" / "CH1_080000_081500_C_080500.ifv"); },
         ESourceKind::kDownloadTree, "download_tree"},
        {"client", [](const fs::path& p) { Touch(p / "x_20240506_080000_20240506_081500_A0002.ifv"); },
         ESourceKind::kClientDownloadFolder, "client_download_folder"},
        {"empty", [](const fs::path& p) { fs::create_directories(p); }, ESourceKind::kUnknown, "unknown"},
    };
    for (const Row& row : rows)
        if (row.make) row.make(d / row.path);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        ESourceKind kind = ESourceKind::kGrecFile;
        ASSERT_TRUE(ClassifySource(d / row.path, kind));
        EXPECT_EQ(kind, row.kind);
        EXPECT_STREQ(SourceKindName(kind), row.name);
    }
    ESourceKind untouched = ESourceKind::kMediaFile;
    EXPECT_FALSE(ClassifySource(d / "missing", untouched));
    EXPECT_EQ(untouched, ESourceKind::kMediaFile);
}

}  // namespace
}  // namespace velmor
