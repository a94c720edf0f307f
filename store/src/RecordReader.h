// Reading a record file frame by frame and seeking it by time, for the three
// places a record file can be: a backup record file (blocks stored one after
// another, the first without the bytes it lends), a container file (blocks at
// their positions, head areas at the block ends) and a mounted partition
// (blocks in many container files, reached through the mount's checks).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/FileReader.h"
#include "store/format/RkFormat.h"
#include "store/include/rkstore.h"

namespace rkstore {

// Operation names for the failure lines and the frame-head checks.
struct ReaderNames {
    const char* read;
    const char* seek;
    const char* encode;
    const char* frameSource;  // "RKSFS_RecBakFile", "RKSFS_ContainerFile" or "File"
    const char* continueText;   // the "payload continues" check line
};

// How a mounted record file reaches its blocks: every block change goes
// through the mount's checks (opening a block).
class IBlockAccess {
public:
    virtual ~IBlockAccess() = default;
    // Reads n bytes at `fileOffset` of the container file of chain block `b`,
    // making `b` the current block first when it is not.
    virtual bool ReadBlock(uint32_t b, uint64_t fileOffset, void* dst, size_t n) = 0;
    // Reads the rec data neck of chain block `b` from its container file.
    virtual bool ReadNeck(uint32_t b, rkfs::StRecDataNeck_t& neck) = 0;
};

class CRecordReader {
public:
    enum class Layout { kBackupFile, kContainerFile, kMounted };

    CRecordReader(Layout layout, const ReaderNames& names) : m_layout(layout), m_names(names) {}

    // Set up by the open functions.
    velmor::CFileReader m_file;
    std::string m_path;
    std::vector<rkfs::StRecHeadArea_t> m_heads;  // mounted: the necks are loaded on demand
    std::vector<uint8_t> m_positions;  // container file and mount: position 0..31 of each block
    uint32_t m_blkSize = 0;            // container file and mount: the block size
    IBlockAccess* m_access = nullptr;  // mount
    StRecFileInfo_t m_info{};
    uint32_t m_maxFrameSize = rkfs::kMaxFrameSizeMain;
    // Call once the heads are known.
    void Prepare();
    // Call after a block head was changed in place.
    void RecomputeLayout();

    // The reading position; the operation structures show a copy.
    struct Position {
        uint8_t pending[16] = {};
        uint32_t frmHeadWrSize = 0;
        uint64_t curOffset = 0;
        uint32_t curB = 0;
        uint32_t curBlkOff = 0;
    };
    Position m_pos;

    // Backup and block-bunch reads: the buffer holds maxFrameSize + 16 bytes.
    int Read(uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head);
    // Mounted reads: only frames whose 1 << type is in `mask` are returned,
    // the others are skipped; a returned frame needs length + 16 <= bufLen.
    int ReadMasked(uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head, uint32_t mask);
    // The I frame before the one returned last (or, right after a seek, the
    // one the seek found). 0 before the first I frame or at the start.
    int ReadIFrameBackward(uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head);
    // Positions on the I frame at or before second tm. On success
    // *headOffset (when given) is the record-file offset of its head.
    int Seek(uint32_t tm, uint64_t* headOffset = nullptr);
    // Behind mode: the record-file offset just behind second tm, or -1.
    int64_t Behind(uint32_t tm);
    // The encode record of block `b`'s neck: 0, or -1 when it is not valid.
    int EncodeOfBlock(uint32_t b, StRecEncode_t* encode, StAudioProp_t* audioProp, bool log) const;
    // Positions on the first indexed I frame of block 0 (for a recording
    // that begins inside an earlier one). Returns false when it cannot.
    bool PositionOnFirstIFrame();
    // Loads block b's neck when the layout keeps necks on disk.
    bool EnsureNeck(uint32_t b);

    const rkfs::StRecData_t& Rd(uint32_t b) const { return m_heads[b].head.recData; }
    uint64_t StoredStart(uint32_t b) const { return m_storedStart[b]; }

private:
    // Where a frame head begins: chain block and offset in stored terms.
    struct FrameStart {
        uint32_t b = 0;
        uint32_t x = 0;
    };
    uint64_t FileOffset(uint32_t b, uint64_t storedX) const;
    uint32_t BlockEnd(uint32_t b) const;  // in stored terms
    uint32_t StoredX(uint32_t b, uint32_t logical) const;
    bool ReadAt(uint32_t b, uint64_t storedX, void* dst, size_t n) const;
    bool FrameHeadValid(const rkfs::StFrameHead_t& fh) const;
    bool IndexPosition(uint32_t b, uint16_t k, Position& pos) const;
    bool BetweenSearch(uint32_t b, uint32_t tm, Position& pos) const;
    int ReadFailed(uint32_t length) const;
    // The steps of one read: the next frame head, then its payload (copied
    // into `buffer`, or skipped when it is null).
    int TakeHead(rkfs::StFrameHead_t& fh, FrameStart& start);
    int TakePayload(const rkfs::StFrameHead_t& fh, uint8_t* buffer);
    // Stored offsets of the I-frame heads of block b, in order (the indexed
    // ones and the between ones); false when the neck or a walk fails.
    bool IFrameOffsets(uint32_t b, std::vector<uint32_t>& out);
    bool ReadHeadAt(uint32_t b, uint32_t storedX, rkfs::StFrameHead_t& fh) const;

    Layout m_layout;
    ReaderNames m_names;
    std::vector<uint64_t> m_storedStart;  // offset of each block as stored in a backup record file
    // I-frame state for reading backwards.
    bool m_haveLastIFrame = false;
    FrameStart m_lastIFrame;            // lastIFrameB, lastIFrameBlkOff
    int64_t m_betweenBlock = -1;        // the block whose between I frames are buffered
    std::vector<uint32_t> m_betweenOffsets;
};

}  // namespace rkstore
