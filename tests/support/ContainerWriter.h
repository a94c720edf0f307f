// Writers that lay recordings down exactly as the recorder does: record
// chains of blocks with their heads, necks, I-frame indexes and frames split
// across block boundaries, inside container files (and, through the block
// sink, anywhere else blocks can live: partitions, backup record files).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "store/format/RkFormat.h"

namespace velmor::fixtures {

// Where the blocks of record chains are stored.
class IBlockSink {
public:
    virtual ~IBlockSink() = default;
    virtual uint32_t BlockSize() const = 0;
    // Id of a fresh data block; throws std::runtime_error when none is left.
    virtual uint32_t AllocateBlock() = 0;
    virtual uint32_t FreeBlocks() const = 0;
    // Allocation sequence numbers, increasing over the whole sink.
    virtual uint32_t NextUseId() = 0;
    // `logical` counts the 4096-byte head area: data starts at 4096.
    virtual void WriteData(uint32_t blkId, uint32_t logical, const uint8_t* data, size_t n) = 0;
    virtual void WriteHeadArea(uint32_t blkId, const rkfs::StDataBlockHead_t& head,
                               const rkfs::StRecDataNeck_t& neck) = 0;
};

// One container file "fcNNNNN.rpo" of 128 or 256 MiB, written sparse: only
// the bytes written take disk space.
class CContainerFileImage : public IBlockSink {
public:
    CContainerFileImage(std::filesystem::path path, uint32_t fileNo, uint64_t fileSize = rkfs::kContainerFileSize128,
                        uint32_t firstUseId = 1000);
    ~CContainerFileImage() override;
    CContainerFileImage(const CContainerFileImage&) = delete;
    CContainerFileImage& operator=(const CContainerFileImage&) = delete;

    static std::string FileName(uint32_t fileNo);  // "fc%05d.rpo"

    uint32_t BlockSize() const override { return m_blkSize; }
    uint32_t AllocateBlock() override;
    uint32_t FreeBlocks() const override;
    uint32_t NextUseId() override { return m_nextUseId++; }
    void WriteData(uint32_t blkId, uint32_t logical, const uint8_t* data, size_t n) override;
    void WriteHeadArea(uint32_t blkId, const rkfs::StDataBlockHead_t& head, const rkfs::StRecDataNeck_t& neck) override;

    // The next block handed out is at `position` (to leave holes or reorder).
    void SetNextPosition(uint32_t position) { m_nextPosition = position; }
    // The next blocks handed out are at these positions, in this order (as
    // after the recorder reused freed blocks); afterwards allocation goes on
    // from SetNextPosition's place.
    void SetAllocationOrder(std::vector<uint32_t> positions) { m_order = std::move(positions); }
    uint32_t BlockId(uint32_t position) const { return rkfs::BlockIdOf(m_fileNo, position); }
    uint32_t FileNo() const { return m_fileNo; }
    const std::filesystem::path& Path() const { return m_path; }

    // Raw access for damaging files on purpose.
    void WriteRaw(uint64_t offset, const void* data, size_t n);
    std::vector<uint8_t> ReadRaw(uint64_t offset, size_t n) const;
    rkfs::StRecHeadArea_t ReadHeadArea(uint32_t position) const;
    void WriteHeadAreaAt(uint32_t position, const rkfs::StRecHeadArea_t& area);

private:
    std::filesystem::path m_path;
    uint32_t m_fileNo;
    uint32_t m_blkSize;
    uint32_t m_nextPosition = 0;
    std::vector<uint32_t> m_order;
    uint32_t m_nextUseId;
    int m_fd = -1;
};

struct RecordingParams {
    uint8_t channel = 0;
    bool subStream = false;
    rkfs::StEncodeRecord_t encode{0, 0, 0, 0, 25};
    std::string carNumber;  // recorder code page bytes, at most 15
    uint32_t reason = 1;
    uint8_t dataType = rkfs::kDataTypeRec;
    bool readOnly = false;
    std::array<uint8_t, 14> audioProperty{};
};

enum class WriteResult { kWritten, kNotIFrame, kWrongStream, kTooLong };

// Where a written frame's head begins.
struct FramePlace {
    uint32_t blkId;
    uint32_t logical;  // block offset, counting the head area
    uint32_t blockIndex;  // index into the writer's Blocks()
};

struct ExpectedFrame {
    uint8_t type;
    uint64_t pts;
    uint32_t length;
    uint32_t crc32;
    bool operator==(const ExpectedFrame&) const = default;
};

// Writes one record file (one channel and stream) into blocks of a sink, by
// the recorder's rules: the file starts with an I frame at offset 4096, each
// I frame is indexed (slot 319 follows the latest once 320 are full), block
// times follow the video frames, and a frame that does not fit is split,
// head included, into the next block of the chain (borrow / lend).
class CRecordWriter {
public:
    CRecordWriter(IBlockSink& sink, RecordingParams params);
    ~CRecordWriter();
    CRecordWriter(const CRecordWriter&) = delete;
    CRecordWriter& operator=(const CRecordWriter&) = delete;

    WriteResult WriteFrame(uint8_t type, uint64_t pts, const uint8_t* payload, uint32_t length);
    // With a frame head of the caller's, which may disagree with the stream.
    WriteResult WriteFrame(const rkfs::StFrameHead_t& head, const uint8_t* payload);

    // Data bytes still free in the current block (the whole data area when
    // no block is open yet or the current one is full).
    uint32_t BytesLeftInBlock() const;
    // Whether a frame of `length` payload bytes would need another block.
    bool NeedsNewBlock(uint32_t length) const;
    // Writes filler frames of `type` (payload from `seed`, all at `pts`) until
    // the next frame head begins `leave` bytes before the end of the current
    // block. Returns the number of filler frames.
    int FillBlockLeaving(uint32_t leave, uint8_t type, uint64_t pts, uint64_t seed);
    // Ends the current block at the current frame boundary; the next frame
    // starts a new block.
    void EndBlock();
    // Writes the last head with `writing` cleared (or left set, for a
    // recording whose writer never closed it).
    void Close(bool stillWriting = false);

    const std::vector<uint32_t>& Blocks() const { return m_blocks; }
    const std::vector<ExpectedFrame>& Written() const { return m_written; }
    const std::vector<FramePlace>& Places() const { return m_places; }
    const RecordingParams& Params() const { return m_params; }
    uint32_t HeadSplits() const { return m_headSplits; }
    uint32_t PayloadSplits() const { return m_payloadSplits; }

    // Called with each block's head area just before it is stored, so tests
    // can damage or alter it.
    std::function<void(uint32_t blkId, rkfs::StDataBlockHead_t&, rkfs::StRecDataNeck_t&)> onStore;

private:
    void StartBlock(uint32_t lend);
    void StoreCurrent(bool writing);
    void AppendFrame(const uint8_t* head, const uint8_t* payload, uint32_t length);

    IBlockSink& m_sink;
    RecordingParams m_params;
    uint32_t m_maxFrameSize;
    bool m_open = false;     // a block is current
    bool m_closed = false;
    bool m_forceNew = false;  // the next frame starts a new block
    uint32_t m_blkId = 0;
    uint32_t m_used = 0;      // data bytes in the current block
    rkfs::StDataBlockHead_t m_head;
    rkfs::StRecDataNeck_t m_neck;
    std::vector<uint32_t> m_blocks;
    std::vector<ExpectedFrame> m_written;
    std::vector<FramePlace> m_places;
    uint32_t m_headSplits = 0;
    uint32_t m_payloadSplits = 0;
};

// Synthetic recordings of several channels written interleaved, frame by
// frame in time order, as a recorder writes its channels at once.
struct SyntheticChannel {
    RecordingParams params;
    uint32_t iFrameBytes = 60000;  // sizes vary +-50% around these
    uint32_t pFrameBytes = 12000;
    int gop = 25;                   // one I frame every gop frames
    int fps = 25;
    bool audio = false;             // one 324-byte audio frame per 40 ms
    bool info = false;              // one 75-byte information frame per second
};

struct SyntheticPlan {
    uint32_t startTime = 1765188000;  // 2025-12-08 10:00:00
    uint32_t seconds = 60;
    uint64_t seed = 1;
    std::vector<SyntheticChannel> channels;
};

struct SyntheticResult {
    // Per channel index of the plan: the frames written, in order.
    std::vector<std::vector<ExpectedFrame>> frames;
    std::vector<std::vector<uint32_t>> blocks;
    std::vector<std::vector<FramePlace>> places;
    uint32_t headSplits = 0;
    uint32_t payloadSplits = 0;
    uint32_t endTime = 0;  // last second written
};

// Writes until the plan's seconds are done or the sink has no block left for
// every channel, then closes every record file.
SyntheticResult WriteSynthetic(IBlockSink& sink, const SyntheticPlan& plan);

}  // namespace velmor::fixtures
