// Several threads open, read and close record and common files while
// another unmounts and mounts the partition again and again: no deadlock,
// no frame read through a slot that was closed, every frame that is
// returned is the right one. Run it under ThreadSanitizer too (see README).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/store/PartitionFixture.h"

namespace velmor::fixtures {
namespace {

using namespace rkfs;

struct SmallPartition {
    CTempDir dir{"velmor-conc"};
    std::unique_ptr<CPartitionImage> image;
    WrittenRecording intact;
    std::vector<uint8_t> common;

    SmallPartition()
    {
        PartitionOptions o;
        o.containerFiles = 8;
        image = std::make_unique<CPartitionImage>(dir.Path(), o);
        LongRecordingPlan p;
        p.params = Recording(2);
        p.blocks = 2;
        p.frameBytes = 20000;
        intact = WriteLongRecording(*image, p);
        HistoryPlan h;
        h.startTime = intact.endTime + 10;
        h.recordings = 40;
        WriteHistory(*image, h);
        common = MakePayload(5, 30000);
        image->WriteCommonFile("shared_configuration_file.ini", common, false, 7000);
        image->WriteIndexHead({});
    }
};

TEST(StoreConcurrency, ReadersWhileAnotherThreadRemounts)
{
    SmallPartition part;
    const std::string dir = part.image->Dir().string();
    CMountGuard mount("", dir, 1);
    ASSERT_EQ(mount.Result(), 0);
    // The library's lines from many threads: keep them out of the test log.
    StoreLog().Start();
    StRecFileInfo_t intact{};
    for (const auto& fi : Search(dir, AllRecords(), 100))
        if (uint32_t(fi.uuid) == part.intact.blocks[0]) intact = fi;
    ASSERT_EQ(uint32_t(intact.uuid), part.intact.blocks[0]);

    std::atomic<bool> stop{false};
    std::atomic<uint64_t> framesOk{0}, framesWrong{0}, opens{0}, refused{0}, cmOk{0}, cmWrong{0};
    auto reader = [&](int id) {
        std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
        uint64_t round = 0;
        while (!stop.load()) {
            ++round;
            const int fd = RKSFS_OpenRecFile(&intact);
            if (fd < 0) {
                ++refused;
                std::this_thread::yield();
                continue;
            }
            ++opens;
            size_t k = 0;
            for (int i = 0; i < 400; ++i) {
                RKSFS_FRAME_HEAD head{};
                const int rc = RKSFS_ReadFrame(fd, buffer.data(), buffer.size(), &head);
                if (rc <= 0) break;
                if (k >= part.intact.frames.size()) {
                    ++framesWrong;  // more frames than the recording holds
                    break;
                }
                const ExpectedFrame& want = part.intact.frames[k++];
                const bool same = head.pts == want.pts && head.length == want.length &&
                                  Crc32(buffer.data(), head.length) == want.crc32;
                (same ? framesOk : framesWrong)++;
            }
            if ((round + uint64_t(id)) % 3 == 0) {
                // Seek and go back by I frames on the same descriptor.
                if (RKSFS_SeekRelTime(fd, 2, nullptr) >= 0) {
                    RKSFS_FRAME_HEAD head{};
                    while (RKSFS_ReadIFrame(fd, buffer.data(), buffer.size(), &head, 1) > 0) {
                    }
                }
            }
            RKSFS_CloseFile(fd);
        }
    };
    auto cmReader = [&]() {
        std::vector<StCmFileInfo_t> files(4);
        std::vector<uint8_t> buf(4096);
        while (!stop.load()) {
            if (RKSFS_GetFileInfo(dir.c_str(), "*", files.data(), files.size()) != 1) continue;
            const int fd = RKSFS_Open(&files[0], 0);
            if (fd < 0) continue;
            std::vector<uint8_t> got;
            for (;;) {
                const int64_t n = RKSFS_Read(fd, buf.data(), buf.size());
                if (n <= 0) break;
                got.insert(got.end(), buf.begin(), buf.begin() + n);
            }
            // A read cut short by an unmount is a prefix; anything else is wrong.
            if (got.size() > part.common.size() || !std::equal(got.begin(), got.end(), part.common.begin()))
                ++cmWrong;
            else if (got.size() == part.common.size())
                ++cmOk;
            RKSFS_CloseFile(fd);
        }
    };
    auto searcher = [&]() {
        while (!stop.load()) {
            int rc = 0;
            Search(dir, AllRecords(), 8, &rc);
            StMountInfo_t info{};
            RKSFS_GetMountInfo(dir.c_str(), &info);
            RKSFS_GetFreeSpace(dir.c_str());
            RKSFS_IsCovering(dir.c_str());
        }
    };

    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back(reader, i);
    threads.emplace_back(cmReader);
    threads.emplace_back(searcher);
    int remounts = 0;
    int umountRc = 0, mountRc = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < until || remounts < 20) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if ((umountRc = RKSFS_Umount2(dir.c_str(), 1)) != 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        // Once, stay unmounted until a reader has met the unmounted
        // partition, so the refusal path is surely taken.
        for (int wait = 0; remounts == 0 && refused.load() == 0 && wait < 2000; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if ((mountRc = RKSFS_Mount2(nullptr, dir.c_str(), 1)) != 0) break;
        ++remounts;
    }
    // Every thread ends before anything is judged.
    stop.store(true);
    for (auto& t : threads) t.join();
    StoreLog().Take();

    ASSERT_EQ(umountRc, 0);
    ASSERT_EQ(mountRc, 0);
    EXPECT_GE(remounts, 20);
    EXPECT_GT(opens.load(), 0u);
    EXPECT_GT(refused.load(), 0u) << "an open on an unmounted partition is refused";
    EXPECT_GT(framesOk.load(), 0u);
    EXPECT_EQ(framesWrong.load(), 0u) << "a frame read through a closed or reused slot";
    EXPECT_GT(cmOk.load(), 0u);
    EXPECT_EQ(cmWrong.load(), 0u);
    // Every slot is free again: 64 opens succeed.
    std::vector<int> fds;
    for (int i = 0; i < 64; ++i) {
        fds.push_back(RKSFS_OpenRecFile(&intact));
        EXPECT_GE(fds.back(), 0);
    }
    for (int fd : fds) RKSFS_CloseFile(fd);
    std::printf("remounts %d, opens %llu, frames %llu, refused opens %llu, common files read %llu\n", remounts,
                (unsigned long long)opens.load(), (unsigned long long)framesOk.load(),
                (unsigned long long)refused.load(), (unsigned long long)cmOk.load());
}

}  // namespace
}  // namespace velmor::fixtures
