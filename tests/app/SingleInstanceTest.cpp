#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "player/app/SingleInstance.h"

using namespace velmor;

namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("velmor-instance-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        m_area = CSingleInstance::AreaName(m_dir, true);
    }
    void TearDown() override
    {
        ::shm_unlink(m_area.c_str());
        std::filesystem::remove_all(m_dir);
    }
    std::unique_ptr<CSingleInstance> Start(bool expectFirst)
    {
        auto i = std::make_unique<CSingleInstance>();
        EXPECT_EQ(i->Start(m_dir / "Velmor.dat", m_area), expectFirst);
        EXPECT_TRUE(i->HasArea()) << i->AreaError();
        return i;
    }
    // What a killed instance leaves: bytes in the area, nobody to take them.
    void LeaveInArea(const char* text)
    {
        int fd = ::shm_open(m_area.c_str(), O_RDWR | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 1025), 0);
        void* p = ::mmap(nullptr, 1024, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ASSERT_NE(p, MAP_FAILED);
        std::strcpy(static_cast<char*>(p), text);
        ::munmap(p, 1024);
        ::close(fd);
    }

    std::filesystem::path m_dir;
    std::string m_area;
};

TEST_F(SingleInstanceTest, SecondStartHandsAnAbsolutePathInCodePageText)
{
    auto first = Start(true);
    auto second = Start(false);
    std::string error;
    // "录像" in UTF-8; GBC C2 BC CF F1 in the area.
    ASSERT_TRUE(second->HandOver("/rec/\xE5\xBD\x95\xE5\x83\x8F/CH1.IFV", 0, &error)) << error;
    int fd = ::shm_open(m_area.c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    auto* bytes = static_cast<const char*>(::mmap(nullptr, 1024, PROT_READ, MAP_SHARED, fd, 0));
    ::close(fd);
    EXPECT_EQ(std::string(bytes, 15), std::string("/rec/\xC2\xBC\xCF\xF1/CH1.IFV\0", 15));
    EXPECT_EQ(first->TakeHandOver(), "/rec/\xE5\xBD\x95\xE5\x83\x8F/CH1.IFV");
    EXPECT_EQ(bytes[0], 0);
    ::munmap(const_cast<char*>(bytes), 1024);
    EXPECT_EQ(first->TakeHandOver(), std::nullopt);

    ASSERT_TRUE(second->HandOver("rel/a.rkrec", 0, &error));
    EXPECT_EQ(first->TakeHandOver(), (std::filesystem::current_path() / "rel/a.rkrec").string());
}

TEST_F(SingleInstanceTest, PathsThatCannotTravelIntactAreRefused)
{
    auto first = Start(true);
    auto second = Start(false);
    std::string error;
    EXPECT_FALSE(second->HandOver("/tmp/\xF0\x9F\x98\x80.ifv", 0, &error));  // not in the code page
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(second->HandOver("/" + std::string(1023, 'a'), 0, &error));  // no room for the end mark
    EXPECT_TRUE(second->HandOver("/" + std::string(1021, 'a'), 0, &error));
    EXPECT_EQ(first->TakeHandOver()->size(), 1022u);
}

TEST_F(SingleInstanceTest, AKilledInstanceNeitherBlocksNorHandsOverItsLeftovers)
{
    LeaveInArea("/old/left-over.ifv");
    auto first = Start(true);
    EXPECT_EQ(first->TakeHandOver(), std::nullopt);
    first.reset();  // the lock goes with the process
    auto again = Start(true);
}

TEST_F(SingleInstanceTest, EveryPlayablePathIsHandedOver)
{
    const std::pair<const char*, bool> table[] = {
        {"a.ifv", true},  {"/x/B.IFV", true},   {"c.RPO", true},      {"d.rkrec", true}, {"e.grec", true},
        {"f.Mp4", true},  {"g.txt", false},     {"ifv", false},       {"", false},       {"h.ifv.bak", false}};
    for (const auto& [arg, expected] : table) EXPECT_EQ(IsHandOverPath(arg), expected) << arg;
}

}  // namespace
