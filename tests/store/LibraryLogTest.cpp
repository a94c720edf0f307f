// A caller of the file-system library gets a failure's reason as data: the
// result code, the thread's last error text and the log callback, while
// standard output stays empty.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>

#include "store/include/rkstore.h"
#include "tests/store/StoreTestUtil.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

struct BadOpen {
    const char* name;
    const char* file;
    size_t bytes;
    const char* reason;  // after "RKSFS_OpenBakRecFile:<line> "; "@" stands for the path
};

const BadOpen kBadOpens[] = {
    {"ShortFile", "short.rkrec", 100, "fileSize = 100 too little\n"},
    {"ContainerSuffix", "fc00000.rpo", 100, "pFilePath = @, suffix conflict.\n"},
};

class StoreFailureReport : public ::testing::TestWithParam<BadOpen> {
protected:
    CTempDir m_dir{"velmor-store-log"};
};

TEST_P(StoreFailureReport, CodeTextAndCallbackButNoStandardOutput)
{
    const BadOpen& row = GetParam();
    const std::string path = (m_dir / row.file).string();
    std::ofstream(path, std::ios::binary) << std::string(row.bytes, 'x');
    std::string reason = row.reason;
    if (const size_t at = reason.find('@'); at != std::string::npos) reason.replace(at, 1, path);

    int rc = 0;
    std::string lastError;
    std::vector<std::pair<int, std::string>> lines;
    const std::string printed = StandardOutputOf([&] {
        StoreLog().Start();
        StRecBakFileOp_t op{};
        rc = RKSFS_OpenBakRecFile(&op, path.c_str());
        lastError = RKSFS_GetLastErrorText();
        RKSFS_CloseBakRecFile(&op);
        StoreLog().Take(&lines);
    });

    EXPECT_EQ(printed, "");
    EXPECT_EQ(rc, -1);
    ASSERT_EQ(lines.size(), 1u);
    const std::string& line = lines.front().second;
    EXPECT_EQ(lines.front().first, RK_LOG_FAILURE);
    EXPECT_EQ(line.rfind("RKSFS_OpenBakRecFile:", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.find(' ') + 1), reason);
    EXPECT_EQ(lastError, line.substr(0, line.size() - 1));

    // The last error belongs to the thread that failed.
    std::string elsewhere = "unset";
    std::thread other([&] { elsewhere = RKSFS_GetLastErrorText(); });
    other.join();
    EXPECT_EQ(elsewhere, "");

    // A dump's lines are information: they leave the last error alone.
    const uint8_t bytes[2] = {0xab, 0x01};
    StoreLog().Start();
    RKSFS_ExamineMemory(bytes, sizeof bytes);
    StoreLog().Take(&lines);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], std::make_pair(int(RK_LOG_INFO), std::string("ab01\n")));
    EXPECT_EQ(RKSFS_GetLastErrorText(), lastError);
}

INSTANTIATE_TEST_SUITE_P(Opens, StoreFailureReport, ::testing::ValuesIn(kBadOpens),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmor::fixtures
