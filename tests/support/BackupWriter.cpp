#include "tests/support/BackupWriter.h"

#include <fstream>
#include <stdexcept>
#include <utility>

namespace velmor::fixtures {

using namespace rkfs;

CBackupFileImage::CBackupFileImage(uint32_t blockSize, uint32_t firstBlockId, uint32_t firstUseId)
    : m_blkSize(blockSize), m_nextId(firstBlockId), m_nextUseId(firstUseId)
{
}

uint32_t CBackupFileImage::AllocateBlock()
{
    while (IsIndexBlockId(m_nextId)) ++m_nextId;
    Block b;
    b.id = m_nextId++;
    b.area.head = ZeroStruct<StDataBlockHead_t>();
    b.area.neck = ZeroStruct<StRecDataNeck_t>();
    m_blocks.push_back(std::move(b));
    return m_blocks.back().id;
}

const CBackupFileImage::Block& CBackupFileImage::BlockById(uint32_t id) const
{
    for (const Block& b : m_blocks)
        if (b.id == id) return b;
    throw std::out_of_range("no such block");
}

CBackupFileImage::Block& CBackupFileImage::BlockById(uint32_t id)
{
    return const_cast<Block&>(std::as_const(*this).BlockById(id));
}

void CBackupFileImage::WriteData(uint32_t blkId, uint32_t logical, const uint8_t* data, size_t n)
{
    if (logical < kHeadAreaSize || logical + n > m_blkSize) throw std::out_of_range("data outside the block");
    Block& b = BlockById(blkId);
    const size_t at = logical - kHeadAreaSize;
    if (b.data.size() < at + n) b.data.resize(at + n);
    std::copy(data, data + n, b.data.begin() + long(at));
}

void CBackupFileImage::WriteHeadArea(uint32_t blkId, const StDataBlockHead_t& head, const StRecDataNeck_t& neck)
{
    BlockById(blkId).area = StRecHeadArea_t{head, neck};
}

std::vector<uint64_t> CBackupFileImage::Save(const std::filesystem::path& path, std::vector<uint32_t> ids) const
{
    if (ids.empty())
        for (const Block& b : m_blocks) ids.push_back(b.id);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> offsets;
    uint64_t at = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        const Block& b = BlockById(ids[i]);
        const uint32_t useSize = b.area.head.recData.useSize.get();
        const uint32_t skip = i == 0 ? b.area.head.recData.lend.get() : 0;
        uint8_t area[kHeadAreaSize];
        StoreStruct(area, b.area);
        out.write(reinterpret_cast<const char*>(area), sizeof area);
        std::vector<uint8_t> data(b.data);
        data.resize(useSize - kHeadAreaSize);
        out.write(reinterpret_cast<const char*>(data.data() + skip), long(data.size() - skip));
        offsets.push_back(at);
        at += kHeadAreaSize + data.size() - skip;
    }
    if (!out) throw std::runtime_error("cannot write " + path.string());
    return offsets;
}

std::vector<uint64_t> ExportBackupFile(const CContainerFileImage& image, const std::vector<uint32_t>& blockIds,
                                       const std::filesystem::path& path)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> offsets;
    uint64_t at = 0;
    for (size_t i = 0; i < blockIds.size(); ++i) {
        const uint32_t p = PositionOfBlock(blockIds[i]);
        const StRecHeadArea_t area = image.ReadHeadArea(p);
        const uint32_t useSize = area.head.recData.useSize.get();
        const uint32_t skip = i == 0 ? area.head.recData.lend.get() : 0;
        uint8_t raw[kHeadAreaSize];
        StoreStruct(raw, area);
        out.write(reinterpret_cast<const char*>(raw), sizeof raw);
        const auto data = image.ReadRaw(uint64_t(p) * image.BlockSize() + skip, useSize - kHeadAreaSize - skip);
        out.write(reinterpret_cast<const char*>(data.data()), long(data.size()));
        offsets.push_back(at);
        at += kHeadAreaSize + data.size();
    }
    if (!out) throw std::runtime_error("cannot write " + path.string());
    return offsets;
}

}  // namespace velmor::fixtures
