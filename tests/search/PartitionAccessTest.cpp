// How a search reaches a partition's device: directly, through the disk
// service's descriptor, from the index heads with a word to the user, or an
// error for a device the user named; and the descriptor paths the libraries
// read through.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "common/Mounts.h"
#include "common/ReadOnlyOpen.h"
#include "player/search/PartitionAccess.h"
#include "player/search/UDisks2Service.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

// A disk service that opens what it is given, or refuses.
class CFakeService : public IDiskService {
public:
    std::optional<int> OpenForReading(const std::string& device, std::string* why) override
    {
        asked.push_back(device);
        if (!grant.empty()) return ::open(grant.c_str(), O_RDONLY | O_CLOEXEC);
        *why = "Not authorized";
        return std::nullopt;
    }
    std::string grant;  // the file opened for a granted request
    std::vector<std::string> asked;
};

TEST(PartitionAccessTest, RoutesByWhatCanBeOpened)
{
    const fixtures::CTempDir dir("velmor-access");
    const std::string image = (dir.Path() / "device.img").string();
    std::ofstream(image) << "RKFATFS";
    enum class Open { kYes, kDenied };
    enum class Service { kNone, kGrants, kRefuses };
    struct Row {
        const char* named;    // the device the user named ("" none)
        const char* mounted;  // the device the folder is mounted from
        Open open;
        Service service;
        EDeviceRoute route;
        bool asked;               // the service was asked
        const char* messagePart;  // in the message ("" none)
    };
    const Row rows[] = {
        {"", "", Open::kYes, Service::kGrants, EDeviceRoute::kNoDevice, false, ""},
        {"", "/dev/sdb1", Open::kYes, Service::kGrants, EDeviceRoute::kDirect, false, ""},
        {"", "/dev/sdb1", Open::kDenied, Service::kGrants, EDeviceRoute::kDiskService, true, ""},
        {"", "/dev/sdb1", Open::kDenied, Service::kRefuses, EDeviceRoute::kIndexHeads, true,
         "its device /dev/sdb1 cannot be read (Permission denied; the disk service: Not authorized)"},
        {"", "/dev/sdb1", Open::kDenied, Service::kNone, EDeviceRoute::kIndexHeads, false,
         "/rec were listed from its index block heads"},
        // Image files are no business of the disk service.
        {"", "/srv/part.img", Open::kDenied, Service::kGrants, EDeviceRoute::kIndexHeads, false, "(Permission denied)"},
        {"/dev/sdc1", "/dev/sdb1", Open::kYes, Service::kRefuses, EDeviceRoute::kDirect, false, ""},
        {"/dev/sdc1", "", Open::kDenied, Service::kGrants, EDeviceRoute::kDiskService, true, ""},
        {"/dev/sdc1", "", Open::kDenied, Service::kRefuses, EDeviceRoute::kFailed, true,
         "cannot be read (Permission denied; the disk service: Not authorized)"},
        {"/nonexistent", "", Open::kDenied, Service::kNone, EDeviceRoute::kFailed, false, "cannot be read"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.named << " | " << r.mounted << " | " << int(r.service));
        CFakeService fake;
        if (r.service == Service::kGrants) fake.grant = image;
        PartitionAccessHooks hooks;
        hooks.mountedDevice = [&](const std::filesystem::path& folder) {
            EXPECT_EQ(folder, "/rec");
            return std::string(r.mounted);
        };
        std::vector<std::string> opened;
        hooks.open = [&](const std::string& device) {
            opened.push_back(device);
            if (r.open == Open::kYes) return ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
            errno = EACCES;
            return -1;
        };
        const PartitionAccess a =
            ResolvePartitionAccess("/rec", r.named, r.service == Service::kNone ? nullptr : &fake, hooks);
        EXPECT_EQ(a.route, r.route);
        EXPECT_EQ(!fake.asked.empty(), r.asked);
        const std::string expectedDevice = *r.named ? r.named : r.mounted;
        EXPECT_EQ(a.device, expectedDevice);
        if (*r.messagePart)
            EXPECT_NE(a.message.find(r.messagePart), std::string::npos) << a.message;
        else
            EXPECT_EQ(a.message, "");
        switch (a.route) {
            case EDeviceRoute::kDirect: EXPECT_EQ(a.path, expectedDevice); break;
            case EDeviceRoute::kDiskService: {
                ASSERT_NE(a.held, nullptr);
                EXPECT_EQ(a.path, "/proc/self/fd/" + std::to_string(a.held->Fd()));
                // The libraries read the device through that path.
                char magic[8] = {};
                const int fd = OpenReadOnly(a.path);
                ASSERT_GE(fd, 0);
                EXPECT_EQ(::pread(fd, magic, 7, 0), 7);
                EXPECT_STREQ(magic, "RKFATFS");
                ::close(fd);
                break;
            }
            default: EXPECT_EQ(a.path, ""); EXPECT_EQ(a.held, nullptr);
        }
    }
}

TEST(PartitionAccessTest, DescriptorPaths)
{
    const fixtures::CTempDir dir("velmor-fdpath");
    const std::string file = (dir.Path() / "f").string();
    std::ofstream(file) << "x";
    struct Row {
        const char* path;
        std::optional<int> fd;
    };
    const Row rows[] = {{"/proc/self/fd/7", 7},  {"/proc/self/fd/0", 0},    {"/proc/self/fd/", std::nullopt},
                        {"/proc/self/fd/7x", std::nullopt}, {"/proc/self/fd/-1", std::nullopt},
                        {"/proc/1/fd/7", std::nullopt},     {"/dev/sdb1", std::nullopt}};
    for (const Row& r : rows) EXPECT_EQ(DescriptorOfPath(r.path), r.fd) << r.path;

    // A descriptor open for writing never stands for a device.
    const int writable = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writable, 0);
    errno = 0;
    EXPECT_EQ(OpenReadOnly("/proc/self/fd/" + std::to_string(writable)), -1);
    EXPECT_EQ(errno, EACCES);
    ::close(writable);
    // A read-only one is duplicated: the copy stays usable after the original closes.
    const int readable = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const int copy = OpenReadOnly("/proc/self/fd/" + std::to_string(readable));
    ASSERT_GE(copy, 0);
    EXPECT_NE(copy, readable);
    ::close(readable);
    char c = 0;
    EXPECT_EQ(::pread(copy, &c, 1, 0), 1);
    EXPECT_EQ(c, 'x');
    EXPECT_EQ(::fcntl(copy, F_GETFL) & O_ACCMODE, O_RDONLY);
    ::close(copy);
    EXPECT_EQ(OpenReadOnly("/proc/self/fd/987654"), -1);
}

TEST(PartitionAccessTest, ServiceObjectPaths)
{
    const std::pair<const char*, const char*> rows[] = {
        {"/dev/sdb1", "/org/freedesktop/UDisks2/block_devices/sdb1"},
        {"/dev/nvme0n1p3", "/org/freedesktop/UDisks2/block_devices/nvme0n1p3"},
        {"/dev/velmor-sdz1", "/org/freedesktop/UDisks2/block_devices/velmor_2dsdz1"},
        {"/dev/mapper/a.b", "/org/freedesktop/UDisks2/block_devices/a_2eb"},
    };
    for (const auto& [device, path] : rows) EXPECT_EQ(CUDisks2Service::ObjectPathOf(device), path);
}

}  // namespace
}  // namespace velmor

namespace velmor {
namespace {

// Run by disk_service_test.py against its stand-in service on a private
// system bus (skipped elsewhere): the answer the service gave, or its refusal.
TEST(DiskServiceOnBus, RemountsReadOnly)
{
    const char* device = std::getenv("VELMOR_MOCK_UDISKS_DEVICE");
    const char* expected = std::getenv("VELMOR_MOCK_UDISKS_EXPECT");
    if (!device || !expected) GTEST_SKIP() << "run by disk_service_test.py";
    CUDisks2Service service;
    std::string why;
    const auto point = service.RemountReadOnly(device, &why);
    if (std::string(expected).rfind("mounted:", 0) == 0) {
        ASSERT_TRUE(point) << why;
        EXPECT_EQ(*point, std::string(expected).substr(8));
    } else {
        EXPECT_FALSE(point);
        EXPECT_EQ(why, expected);
    }
}

}  // namespace
}  // namespace velmor

namespace velmor {
namespace {

// Whether a mount may be written: its own options and its file system's both.
TEST(MountLine, WritableAndFields)
{
    struct Row {
        const char* line;
        bool ok;
        const char* point;
        const char* source;
        bool writable;
    };
    const Row rows[] = {
        {"30 1 8:33 / /media/u/REC\\040ONE rw,nosuid shared:1 - vfat /dev/sdc1 rw,fmask=0022", true,
         "/media/u/REC ONE", "/dev/sdc1", true},
        {"31 1 8:33 / /media/u/DVR ro,nosuid - vfat /dev/sdc1 rw", true, "/media/u/DVR", "/dev/sdc1", false},
        {"32 1 8:33 / /media/u/DVR rw - exfat /dev/sdc1 ro,errors=remount-ro", true, "/media/u/DVR", "/dev/sdc1",
         false},
        {"33 1 8:33 / /m rwx - vfat /dev/sdd1 rw", true, "/m", "/dev/sdd1", false},
        {"34 1 8:33 / /m rw", false, "", "", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        std::string point, type, source;
        bool writable = !r.writable;
        EXPECT_EQ(ParseMountLine(r.line, &point, &type, &source, &writable), r.ok);
        if (!r.ok) continue;
        EXPECT_EQ(point, r.point);
        EXPECT_EQ(source, r.source);
        EXPECT_EQ(writable, r.writable);
    }
}

}  // namespace
}  // namespace velmor
