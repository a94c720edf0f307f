// The recordings of a whole container partition: the partition's index block
// heads, the block-head set one of them keeps (read by up to 16 threads), the
// real heads of recently written blocks, and one entry per run of
// time-contiguous blocks of a channel within one container file.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "container/include/rkcontainer.h"
#include "store/format/RkFormat.h"

namespace rkcontainer {

struct BlockEntry {
    rkfs::StDataBlockHead_t head;
    uint32_t blkId;
};
// The blocks of one channel by their begin second.
using ChannelBlocks = std::map<uint32_t, BlockEntry>;

class CMultibyteRpoFile {
public:
    // The search of every path; entries of later paths follow those of
    // earlier ones. Returns the number written.
    int SeacrhFile(const std::vector<std::string>& diskPaths, const std::vector<std::string>& devices, uint32_t chnMask,
                   RKCONTAINER_SEARCH_ENTRY* entries, int capacity);

    // 0 and the geometry, or -301..-306 (volume, sector size, length,
    // geometry, boot sector, signature).
    int Mount2(const std::string& diskPath, const std::string& device);
    void GetBlockIndexFiles(const std::string& diskPath);
    // 0 read the head set; 1 read it and rescan recent heads; 2 nothing.
    int CompareBlockIndexInfo() const;
    void ReadIndexInNormalWay(const std::string& diskPath, uint32_t chnMask);
    void RescanRealHeads(const std::string& diskPath, uint32_t chnMask);
    int GetSearchBlockIndex(const std::string& diskPath, RKCONTAINER_SEARCH_ENTRY* entries, int capacity);

    const std::vector<rkfs::StIndexBlockHead_t>& IndexHeads() const { return m_indexHeads; }
    uint32_t FileCount() const { return m_fileCount; }
    uint32_t BlockSize() const { return m_blkSize; }

private:
    bool GeometryFromIndexHeads(const std::string& diskPath);
    bool IsBlockIndexData(const rkfs::StIndexBlockHead_t& head, uint32_t fileNo) const;
    // The checks every head of the set passes before it counts.
    bool TakeRecordingHead(const rkfs::StDataBlockHead_t& head, uint32_t blkId, uint32_t chnMask) const;
    static void Enter(ChannelBlocks& blocks, const BlockEntry& entry, bool keepLonger);

    uint32_t m_sectorSize = 0, m_fileSize = 0, m_blkSize = 0, m_fileCount = 0;
    uint32_t BlkCnt() const { return m_fileCount * rkfs::kBlocksPerFile; }
    std::vector<rkfs::StIndexBlockHead_t> m_indexHeads;  // valid ones, newest update first
    std::array<ChannelBlocks, 16> m_channels;
    std::string m_carNumber;
    bool m_carNumberRead = false;
};

}  // namespace rkcontainer
