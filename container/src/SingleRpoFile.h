// The reader of one container file: the channels and span of the file, and
// the frames of one selected channel in write order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

#include "common/FileReader.h"
#include "store/format/RkFormat.h"

namespace rkcontainer {

class CSingleRpoFile {
public:
    // 0 opened; -1 no path, no such file, or it cannot be opened.
    int SingleFileOpen(const char* path);
    int SingleFileGetFileInfo(uint32_t chnMask, uint32_t* beginTime, uint32_t* endTime, uint32_t* foundMask,
                              char* carNumber);
    int GetOneChannelFileInfo(int channel, uint32_t* beginTime, uint32_t* endTime, rkfs::StEncodeRecord_t* encode);
    // Which stream the next channel selection reads: 0 main when present,
    // else sub; 1 main only; 2 sub only. 0 set, -1 for another value.
    int SetStream(int stream);
    // The streams `channel` is recorded in: bit 0 main, bit 1 sub.
    // 0 with *streams written; -1 no open file or a channel out of range;
    // -2 wrong file size.
    int GetChannelStreams(int channel, uint32_t* streams);
    // The channel's runs of recording (begin, end), merged and in time order.
    int GetChannelSpans(int channel, std::vector<std::pair<uint32_t, uint32_t>>* spans);
    int SingleFileSeekIFrame(uint32_t seekTime, rkfs::StEncodeRecord_t* encode);
    int SingleFileReadOneFrame(uint8_t* buffer, rkfs::StFrameHead_t* head, rkfs::StEncodeRecord_t* encode);

    // Checks the file size and sets the block size: 0, or -2 for a wrong size.
    int GetSubBlockSize();
    // Reads the head and rec data neck of block `position`: 0, or -2.
    int GetBlockHeadAndRecData(uint32_t position, rkfs::StDataBlockHead_t* head, rkfs::StRecDataNeck_t* neck);
    // The car number of container file `fileNo` in `folder` (partition reader).
    int GetBlockCarNumber(const std::filesystem::path& folder, int fileNo, uint32_t blockSize, char* carNumber);

    // Rule for the container file number in a path: digits after the first "fc".
    static int GetBlockIdByFileName(const char* path, int* fileNo);

    int FileNo() const { return fileNo; }

private:
    uint32_t BlockId(uint32_t position) const { return uint32_t(fileNo) * rkfs::kBlocksPerFile + position; }
    // Frame bytes of list entry `index` from logical block offset `logical`
    // to the end of its data. useSize is capped at the block size, so a
    // corrupt head never sends the reader past its block.
    uint32_t DataBytesFrom(size_t index, uint32_t logical) const;
    void PositionAt(size_t index, uint32_t logical);
    int FindListIndexOfNextBlock() const;
    struct Candidate {
        uint32_t position;
        rkfs::StDataBlockHead_t head;
        rkfs::StRecDataNeck_t neck;
    };
    // The recording blocks of `channel`, both streams, in position order.
    std::vector<Candidate> ChannelBlocks(int channel);
    // Whether an I frame whose head has only `here` (1 to 15) bytes before
    // the end of block `index` can be landed on: those bytes agree with the
    // entry and the block's stream, and the block's successor in the chain,
    // where the head goes on, is one of this channel's blocks.
    bool SplitHeadUsable(size_t index, const rkfs::StIFrameIdx_t& entry, uint32_t here) const;
    bool IsFrameHeadBad(const rkfs::StFrameHead_t& head) const;
    int ReadBadHead(uint8_t* buffer);

    velmor::CFileReader m_pFD;
    int fileNo = 0;
    uint32_t subBlockSize = 0;
    uint32_t remainLen = 0;
    int32_t m_currBlockId = 0;
    uint32_t m_maxFrameSize = rkfs::kMaxFrameSizeMain;
    int m_stream = 0;
    std::vector<uint32_t> blockPositions;
    std::vector<rkfs::StDataBlockHead_t> blockHeads;
    std::vector<rkfs::StRecDataNeck_t> blockRecData;
};

}  // namespace rkcontainer
