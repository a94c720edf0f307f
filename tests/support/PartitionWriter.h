// A recorder partition written from values, for tests, benchmarks, fuzz
// seeds and the demo disk: a sparse device image with the "RKFATFS" boot
// sector, sized so that the formatter's geometry rule yields the wanted
// number of container files, and the folder of those container files with
// everything a recorder leaves on them: recording chains written by
// CRecordWriter's rules (wrapping around and covering the oldest blocks),
// read-only blocks, common files with short and long names, index block
// heads (one or two, mounted or not, consistent or conflicting) with the data
// block head set, and damaged or missing container files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/format/RkFormat.h"
#include "tests/support/ContainerWriter.h"

namespace velmor::fixtures {

// ---- The geometry rule (mount step 5), written here on its own
// so that tests check the library against it ----------------------------------

struct DeviceGeometry {
    uint32_t fileSize = 0;        // container file size U
    uint32_t blkSize = 0;
    uint32_t containerFiles = 0;  // fileContCnt
};
constexpr uint64_t kMinPartitionDevice = 7983222784ull;
// False when the sector size or the length is not one a recorder accepts.
bool GeometryOfDevice(uint64_t deviceSize, uint32_t sectorSize, DeviceGeometry* out);
// The smallest device length (a multiple of the sector size) whose geometry
// gives `containerFiles`; throws std::invalid_argument when no length can
// (fewer than 55 files: the smallest device accepted already gives 55).
uint64_t DeviceSizeFor(uint32_t containerFiles, uint32_t sectorSize = 512);

// ---- The partition -----------------------------------------------------------

struct PartitionOptions {
    uint32_t containerFiles = 40;
    // Without a device image: the size of the container files (128 or 256
    // MiB). With one, the geometry decides.
    uint64_t containerFileSize = rkfs::kContainerFileSize128;
    uint16_t sectorSize = 512;
    bool deviceImage = false;  // root/device.img, a sparse image of the whole partition
    uint32_t firstUseId = 1000;
    uint32_t firstBlockId = 1;  // where allocation begins
    bool allowCover = true;     // allocation wraps around and reuses the oldest blocks
};

class CPartitionImage : public IBlockSink {
public:
    // Writes root/disk/fc00000.rpo ... (sparse) and, when asked, root/device.img.
    CPartitionImage(std::filesystem::path root, PartitionOptions options);
    ~CPartitionImage() override;
    CPartitionImage(const CPartitionImage&) = delete;
    CPartitionImage& operator=(const CPartitionImage&) = delete;

    const std::filesystem::path& Dir() const { return m_dir; }        // the mount directory
    const std::filesystem::path& Device() const { return m_device; }  // empty without an image
    uint32_t ContainerFiles() const { return m_files; }
    uint32_t BlkCnt() const { return m_files * rkfs::kBlocksPerFile; }
    uint16_t SectorSize() const { return m_sectorSize; }
    uint32_t FileSize() const { return m_fileSize; }
    std::filesystem::path FilePath(uint32_t fileNo) const;

    // IBlockSink: blocks are handed out in id order from firstBlockId,
    // circularly, skipping index blocks and bad files; a block still in use
    // is reused (covered) when covering is allowed.
    uint32_t BlockSize() const override { return m_blkSize; }
    uint32_t AllocateBlock() override;
    uint32_t FreeBlocks() const override;
    uint32_t NextUseId() override { return m_nextUseId++; }
    void WriteData(uint32_t blkId, uint32_t logical, const uint8_t* data, size_t n) override;
    void WriteHeadArea(uint32_t blkId, const rkfs::StDataBlockHead_t& head, const rkfs::StRecDataNeck_t& neck) override;

    void SetNextBlock(uint32_t blkId) { m_next = blkId; }
    uint32_t NextBlock() const { return m_next; }

    // What the recorder's own bookkeeping would say now.
    const std::vector<rkfs::StDataBlockHead_t>& Heads() const { return m_heads; }
    uint32_t LastApplyBlkId() const { return m_lastApply; }
    uint32_t FirstDataBlkId() const;  // the block in use with the smallest useId (32 when none)
    bool Covering() const { return m_covering; }

    // A common file: blocks of data type 5 (names of up to 14 characters) or
    // 6 (longer names, in the first block's long-name neck); `perBlock`
    // bytes of content per block (0: as many as fit).
    struct CommonFile {
        std::string name;
        std::vector<uint32_t> blocks;
    };
    CommonFile WriteCommonFile(const std::string& name, const std::vector<uint8_t>& bytes, bool writing = false,
                               uint32_t perBlock = 0);

    // An index block head at block 0 of container file `fileNo` (0, 128, …)
    // and, unless told not to, the data block head set as it is now at
    // offset 0 of that file.
    struct IndexHeadPlan {
        uint32_t fileNo = 0;
        bool mounted = false;
        int32_t updateNo = 1;
        uint32_t useId = 0;  // 0: 1700000000 + 10 × updateNo
        std::optional<uint32_t> firstDataBlkId = std::nullopt;
        std::optional<uint32_t> lastApplyBlkId = std::nullopt;
        std::optional<uint32_t> dataBlkCover = std::nullopt;
        uint16_t version = rkfs::kIndexBlockHeadVersion;
        bool writeHeadSet = true;
        bool badCheckValue = false;
    };
    void WriteIndexHead(const IndexHeadPlan& recipe);
    rkfs::StIndexBlockHead_t MakeIndexHead(const IndexHeadPlan& recipe) const;

    enum class BadFile { kMissing, kWrongSize };
    void MakeBadFile(uint32_t fileNo, BadFile kind);

    // Raw access, for damage and for checks.
    void WriteHeadOnDisk(uint32_t blkId, const rkfs::StDataBlockHead_t& head);
    rkfs::StRecHeadArea_t ReadHeadArea(uint32_t blkId) const;
    std::vector<uint8_t> ReadData(uint32_t blkId, uint32_t logical, size_t n) const;

private:
    int FileFd(uint32_t fileNo) const;
    void PWrite(uint32_t fileNo, uint64_t offset, const void* data, size_t n);
    bool Usable(uint32_t blkId) const;

    std::filesystem::path m_root;
    std::filesystem::path m_dir;
    std::filesystem::path m_device;
    uint32_t m_files;
    uint16_t m_sectorSize;
    uint32_t m_fileSize;
    uint32_t m_blkSize;
    bool m_allowCover;
    uint32_t m_next;
    uint32_t m_nextUseId;
    uint32_t m_lastApply = 0;
    bool m_covering = false;
    std::vector<rkfs::StDataBlockHead_t> m_heads;
    std::vector<uint8_t> m_badFiles;
    // A few open container files (the partition may have thousands).
    mutable std::unordered_map<uint32_t, int> m_fds;
    mutable std::list<uint32_t> m_fdOrder;
};

// ---- Recordings ------------------------------------------------------------------

struct WrittenRecording {
    RecordingParams params;
    std::vector<uint32_t> blocks;
    std::vector<ExpectedFrame> frames;
    std::vector<FramePlace> places;  // where each frame's head begins
    uint32_t beginTime = 0;
    uint32_t endTime = 0;
};

// Many short recordings one after another in time, each of a few small
// blocks (cheap to write): enough of them wrap a partition around.
struct HistoryPlan {
    uint32_t startTime = 1765188000;
    uint32_t recordings = 10;
    uint32_t blocksPerRecording = 3;
    uint32_t secondsPerBlock = 1;  // 25 frames a second, an I frame each second
    uint32_t frameBytes = 300;
    uint8_t channels = 4;          // recording i is on channel i % channels
    uint32_t gapSeconds = 2;       // between recordings
    uint32_t readOnlyEvery = 0;    // every n-th recording is read-only (0: none)
    bool audio = false;
    uint64_t seed = 1;
};
std::vector<WrittenRecording> WriteHistory(IBlockSink& sink, const HistoryPlan& plan);

// One recording of full blocks, so that frames (heads included) are split
// across block boundaries: `blocks` full blocks and a part of one more.
struct LongRecordingPlan {
    RecordingParams params;
    uint32_t startTime = 1765188000;
    uint32_t blocks = 3;
    uint32_t frameBytes = 30000;  // P frames; I frames are three times as large
    int gop = 25;
    bool audio = true;
    uint64_t seed = 7;
};
WrittenRecording WriteLongRecording(IBlockSink& sink, const LongRecordingPlan& plan);

// A record file of the partition exported as the recorder exports it: a
// backup record file. Returns the stored offset of each block.
std::vector<uint64_t> ExportBackupFile(const CPartitionImage& image, const std::vector<uint32_t>& blockIds,
                                       const std::filesystem::path& path);

// The same from a folder of container files written earlier: the chain of
// blocks from `first` by the nextBlkId of the heads on disk, and its export.
std::vector<uint32_t> ChainOnDisk(const std::filesystem::path& dir, uint32_t blkSize, uint32_t first);
void ExportRecordFile(const std::filesystem::path& dir, const std::vector<uint32_t>& blockIds,
                      const std::filesystem::path& path);

}  // namespace velmor::fixtures
