// Reading a record file frame by frame and seeking it by time, for the two
// places a record file can be without a mount: a backup record file (blocks
// stored one after another, the first without the bytes it lends) and a
// container file (blocks at their positions, head areas at the block ends).
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
    const char* frameSource;  // "RKSFS_RecBakFile" or "RKSFS_ContainerFile"
    const char* continueText;   // the "payload continues" check line
};

class CRecordReader {
public:
    enum class Layout { kBackupFile, kContainerFile };

    CRecordReader(Layout layout, const ReaderNames& names) : m_layout(layout), m_names(names) {}

    // Set up by the open functions.
    velmor::CFileReader m_file;
    std::string m_path;
    std::vector<rkfs::StRecHeadArea_t> m_heads;
    std::vector<uint8_t> m_positions;  // container file: position 0..31 of each block
    uint32_t m_blkSize = 0;            // container file: its block size
    StRecFileInfo_t m_info{};
    uint32_t m_maxFrameSize = rkfs::kMaxFrameSizeMain;
    // Call once the heads are known.
    void Prepare();

    // The reading position; the operation structures show a copy.
    struct Position {
        uint8_t pending[16] = {};
        uint32_t frmHeadWrSize = 0;
        uint64_t curOffset = 0;
        uint32_t curB = 0;
        uint32_t curBlkOff = 0;
    };
    Position m_pos;

    int Read(uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head);
    int Seek(uint32_t tm);
    // The encode record of block `b`'s neck: 0, or -1 when it is not valid.
    int EncodeOfBlock(uint32_t b, StRecEncode_t* encode, StAudioProp_t* audioProp, bool log) const;
    // Positions on the first indexed I frame of block 0 (for a recording
    // that begins inside an earlier one). Returns false when it cannot.
    bool PositionOnFirstIFrame();

    const rkfs::StRecData_t& Rd(uint32_t b) const { return m_heads[b].head.recData; }

private:
    uint64_t FileOffset(uint32_t b, uint64_t storedX) const;
    uint32_t BlockEnd(uint32_t b) const;  // in stored terms
    uint32_t StoredX(uint32_t b, uint32_t logical) const;
    bool ReadAt(uint32_t b, uint64_t storedX, void* dst, size_t n) const;
    bool FrameHeadValid(const rkfs::StFrameHead_t& fh) const;
    bool IndexPosition(uint32_t b, uint16_t k, Position& pos) const;
    bool BetweenSearch(uint32_t b, uint32_t tm, Position& pos) const;
    int ReadFailed(uint32_t length) const;

    Layout m_layout;
    ReaderNames m_names;
    std::vector<uint64_t> m_storedStart;  // offset of each block as stored in a backup record file
};

}  // namespace rkstore
