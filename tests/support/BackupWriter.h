// Backup record files (".rkrec" and any other name but ".rpo"): one record
// file's blocks stored one after another, head area first, the first block
// without the bytes it lends to nothing before it.
#pragma once

#include <filesystem>
#include <vector>

#include "tests/support/ContainerWriter.h"

namespace velmor::fixtures {

// Collects the blocks of one or more record chains in memory; Save writes
// one chain as a backup record file.
class CBackupFileImage : public IBlockSink {
public:
    explicit CBackupFileImage(uint32_t blockSize = 0x800000, uint32_t firstBlockId = 33, uint32_t firstUseId = 1000);

    uint32_t BlockSize() const override { return m_blkSize; }
    uint32_t AllocateBlock() override;
    uint32_t FreeBlocks() const override { return 0xFFFF; }
    uint32_t NextUseId() override { return m_nextUseId++; }
    void WriteData(uint32_t blkId, uint32_t logical, const uint8_t* data, size_t n) override;
    void WriteHeadArea(uint32_t blkId, const rkfs::StDataBlockHead_t& head, const rkfs::StRecDataNeck_t& neck) override;

    struct Block {
        uint32_t id = 0;
        rkfs::StRecHeadArea_t area{};
        std::vector<uint8_t> data;  // from logical offset 4096 on
    };
    Block& BlockById(uint32_t id);
    const Block& BlockById(uint32_t id) const;

    // Writes the chain `ids` (default: every block, in allocation order) as a
    // backup record file; returns the stored offset of each block.
    std::vector<uint64_t> Save(const std::filesystem::path& path, std::vector<uint32_t> ids = {}) const;

private:
    uint32_t m_blkSize;
    uint32_t m_nextId;
    uint32_t m_nextUseId;
    std::vector<Block> m_blocks;
};

// The same record file taken out of a container file, as the recorder exports it.
std::vector<uint64_t> ExportBackupFile(const CContainerFileImage& image, const std::vector<uint32_t>& blockIds,
                                       const std::filesystem::path& path);

}  // namespace velmor::fixtures
