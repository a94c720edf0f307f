#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "common/Trace.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

class TraceSwitch : public ::testing::Test {
protected:
    void Write(const std::string& value) { std::ofstream(m_dir / "lang.ini") << "[LangList]\nRpoDebug=" << value << "\n"; }
    fixtures::CTempDir m_dir;
    int64_t m_now = 1000;
};

TEST_F(TraceSwitch, ReadsAgainOnlyAfterTheInterval)
{
    Write("1");
    CTraceSwitch sw("LangList", "RpoDebug", 21600, m_dir / "lang.ini", [this] { return m_now; });
    EXPECT_EQ(sw.Value(), 1);
    Write("0");
    m_now += 21600;
    EXPECT_EQ(sw.Value(), 1) << "exactly the interval is not more than it";
    m_now += 1;
    EXPECT_EQ(sw.Value(), 0);
    Write("7");
    m_now += 100;
    EXPECT_EQ(sw.Value(), 0);
}

TEST_F(TraceSwitch, MissingFileOrKeyIsOff)
{
    CTraceSwitch sw("LangList", "RpoDebug", 21600, m_dir / "none.ini", [this] { return m_now; });
    EXPECT_EQ(sw.Value(), 0);
}

TEST_F(TraceSwitch, ManyThreadsReadConsistentValues)
{
    Write("1");
    std::atomic<int64_t> now{0};
    CTraceSwitch sw("LangList", "RpoDebug", 5, m_dir / "lang.ini", [&] { return now.fetch_add(1); });
    std::vector<std::thread> threads;
    std::atomic<int> bad{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i)
                if (sw.Value() != 1) ++bad;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST(TraceLine, PrefixLocationAndOneLineEnd)
{
    std::vector<std::string> lines;
    SetTraceOutput([&](const std::string& s) { lines.push_back(s); });
    TraceLine("RK-CLIENT:", "/src/container/src/SingleRpoFile.cpp", 321,
              "int rkcontainer::CSingleRpoFile::SingleFileOpen(const char*)", "fopen_s Fail:%s Err(%d)", "/x", 2);
    TraceLine("RK-CLIENT:", "a.cpp", 1, "void f()", "with newline\n");
    std::string longText(3000, 'x');
    TraceLine("P:", "b.cpp", 2, "void C::g() const", "%s", longText.c_str());
    SetTraceOutput(nullptr);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "RK-CLIENT:SingleRpoFile.cpp[321]:rkcontainer::CSingleRpoFile::SingleFileOpen:fopen_s Fail:/x Err(2)\n");
    EXPECT_EQ(lines[1], "RK-CLIENT:a.cpp[1]:f:with newline\n");
    EXPECT_EQ(lines[2], "P:b.cpp[2]:C::g:" + std::string(1038, 'x') + "\n") << "messages are cut at 1038 characters";
}

TEST(TraceLine, FunctionNames)
{
    EXPECT_EQ(FunctionName("int RKCONTAINER_OpenFile(void**, const char*)"), "RKCONTAINER_OpenFile");
    EXPECT_EQ(FunctionName("static int C::F(int)"), "C::F");
    EXPECT_EQ(FunctionName("const char* C::Name() const"), "C::Name");
    EXPECT_EQ(FunctionName("main"), "main");
}

}  // namespace
}  // namespace velmor
