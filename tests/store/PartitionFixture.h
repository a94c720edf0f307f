// The partitions the mounted-partition tests share, built with the
// partition writer, and small helpers around the library's calls.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "store/include/rkstore.h"
#include "tests/store/StoreTestUtil.h"
#include "tests/support/PartitionWriter.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {

// 40 container files (1,279 data blocks of 4 MiB) whose history wrapped
// around once:
// - `covered`: a long recording on channel 0 at blocks 1..4, written first;
//   the wrap reused its block 1, so it lives on as a continued file from
//   block 2 (which begins with the end of a split frame);
// - common files with short and long names right after it;
// - a first stretch of short recordings on channels 0..3 (every seventh
//   read-only), then `intact`: a long recording on channel 1 of three full
//   blocks and a part, frames split across every boundary; then more short
//   recordings until the allocation wrapped onto block 1;
// - one index block head (file 0, not mounted) with the head set.
struct WrappedPartition {
    CTempDir dir{"velmor-part"};
    std::unique_ptr<CPartitionImage> image;
    WrittenRecording covered;
    WrittenRecording intact;
    std::vector<WrittenRecording> history;  // in time order
    struct Common {
        std::string name;
        std::vector<uint8_t> bytes;
        std::vector<uint32_t> blocks;
    };
    std::vector<Common> commons;

    WrappedPartition()
    {
        PartitionOptions o;
        o.containerFiles = 40;
        image = std::make_unique<CPartitionImage>(dir.Path(), o);
        LongRecordingPlan a;
        a.params = Recording(0);
        a.params.carNumber = "COVERED";
        a.startTime = kT0;
        a.blocks = 3;
        a.seed = 11;
        covered = WriteLongRecording(*image, a);

        const std::vector<std::pair<std::string, size_t>> files = {
            {"abc.txt", 5000},
            {"abcdef.log", 10000},
            {"notes.xyz", 777},
            {"vehicle_event_record_2025.xyz", 9000},
            {"abc_long_configuration_file.bin", 3000},
        };
        uint64_t seed = 100;
        for (const auto& [name, size] : files) {
            Common c{name, MakePayload(seed++, size), {}};
            c.blocks = image->WriteCommonFile(name, c.bytes, false, 4000).blocks;
            commons.push_back(std::move(c));
        }

        HistoryPlan h;
        h.startTime = covered.endTime + 100;
        h.recordings = 200;
        h.readOnlyEvery = 7;
        h.audio = true;
        auto part1 = WriteHistory(*image, h);
        history.insert(history.end(), part1.begin(), part1.end());

        LongRecordingPlan b;
        b.params = Recording(1);
        b.params.carNumber = "INTACT";
        b.startTime = history.back().endTime + 10;
        b.blocks = 3;
        b.seed = 12;
        intact = WriteLongRecording(*image, b);

        // Short recordings until block 1 was reused.
        uint32_t t = intact.endTime + 10;
        uint64_t s = 1000;
        while (image->NextBlock() != 2) {
            HistoryPlan more = h;
            more.startTime = t;
            more.recordings = 1;
            more.seed = s++;
            const uint32_t left = image->BlkCnt() - image->NextBlock();
            more.blocksPerRecording = image->NextBlock() >= 2 && left >= 3 ? 3 : 1;
            auto r = WriteHistory(*image, more);
            t = r.back().endTime + 1 + h.gapSeconds;
            history.push_back(r.back());
        }
        CPartitionImage::IndexHeadPlan recipe;
        recipe.updateNo = 5;
        image->WriteIndexHead(recipe);
    }

    std::string Dir() const { return image->Dir().string(); }
    // The record files of channel `ch` in the history (not the long ones).
    std::vector<WrittenRecording> HistoryOf(uint8_t ch) const
    {
        std::vector<WrittenRecording> out;
        for (const auto& r : history)
            if (r.params.channel == ch) out.push_back(r);
        return out;
    }
};

// RKSFS_Init once per process; mounts go away with the guard.
class CMountGuard {
public:
    CMountGuard(const std::string& part, const std::string& dir, uint8_t coverable = 1, std::string* log = nullptr)
        : m_dir(dir)
    {
        static const int once = RKSFS_Init(16);
        (void)once;
        StoreLog().Start();
        m_rc = RKSFS_Mount2(part.empty() ? nullptr : part.c_str(), dir.c_str(), coverable);
        const std::string out = StoreLog().Take();
        if (log) *log = out;
    }
    ~CMountGuard()
    {
        if (m_rc == 0) RKSFS_Umount2(m_dir.c_str(), 1);
    }
    CMountGuard(const CMountGuard&) = delete;
    CMountGuard& operator=(const CMountGuard&) = delete;
    int Result() const { return m_rc; }
    void Forget() { m_rc = -1; }

private:
    std::string m_dir;
    int m_rc = -1;
};

inline StRecSearchCond_t AllRecords()
{
    StRecSearchCond_t c{};
    c.chnBit = 0xFFFF;
    c.subStream = 0xFFFFFFFFu;
    c.readOnly = 0xFFFFFFFFu;
    c.reasonBit = 0xFFFFFF;
    c.beginTime = 0;
    c.endTime = 0xFFFFFFFFu;
    return c;
}

inline std::vector<StRecFileInfo_t> Search(const std::string& dir, const StRecSearchCond_t& cond, size_t capacity,
                                           int* rc = nullptr)
{
    std::vector<StRecFileInfo_t> out(capacity);
    const int n = RKSFS_SearchLatestRecFile(dir.c_str(), &cond, out.data(), capacity, 0);
    if (rc) *rc = n;
    out.resize(n > 0 ? size_t(n) : 0);
    return out;
}

// Reads every frame of a descriptor with `read`, noting curOffset (Ftell64) after each.
template <typename ReadFn>
StoreRead ReadAllByFd(int fd, ReadFn read, size_t limit = 1000000)
{
    StoreRead r;
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    for (size_t i = 0; i < limit; ++i) {
        RKSFS_FRAME_HEAD head{};
        r.last = read(fd, buffer.data(), buffer.size(), &head);
        if (r.last <= 0) break;
        EXPECT_EQ(uint32_t(r.last), head.length);
        r.frames.push_back({head.type, head.pts, head.length, Crc32(buffer.data(), head.length)});
        r.offsets.push_back(uint64_t(RKSFS_Ftell64(fd)));
    }
    return r;
}

}  // namespace velmor::fixtures
