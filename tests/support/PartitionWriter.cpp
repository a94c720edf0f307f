#include "tests/support/PartitionWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "tests/support/Payload.h"

namespace velmor::fixtures {

using namespace rkfs;

// ---- Geometry ----------------------------------------------------------------------

bool GeometryOfDevice(uint64_t L, uint32_t s, DeviceGeometry* out)
{
    if (s < 512 || s > 4096 || s % 512 != 0 || 4096 % s != 0 || L < kMinPartitionDevice || L % s != 0) return false;
    const uint64_t mib8 = uint64_t(8) << 20;
    const uint64_t U = L > (uint64_t(1) << 39) ? kContainerFileSize256 : kContainerFileSize128;
    const uint64_t K = uint64_t(128) * s;
    const uint64_t n = (L - mib8) / U;
    const uint64_t R = ((64 * n + K - 1) / K) * K;
    const uint64_t A = U - R;
    const uint64_t k = (A - uint64_t(32) * s) / 8 - 2;
    const uint64_t V = A + k * K;
    const uint64_t D = std::min(L - mib8, V);
    out->fileSize = uint32_t(U);
    out->blkSize = uint32_t(U / 32);
    out->containerFiles = uint16_t((D - 2 * U) / U - 2);
    return true;
}

uint64_t DeviceSizeFor(uint32_t containerFiles, uint32_t sectorSize)
{
    // With D = L - 8 MiB below V the count is D / U - 4: try the smallest
    // length of each file size, then check it with the rule itself.
    for (uint64_t U : {kContainerFileSize128, kContainerFileSize256}) {
        uint64_t L = (uint64_t(containerFiles) + 4) * U + (uint64_t(8) << 20);
        L = (L + sectorSize - 1) / sectorSize * sectorSize;
        if (U == kContainerFileSize256 && L <= (uint64_t(1) << 39)) L = (uint64_t(1) << 39) + sectorSize;
        L = std::max(L, (kMinPartitionDevice + sectorSize - 1) / sectorSize * sectorSize);
        DeviceGeometry g;
        if (GeometryOfDevice(L, sectorSize, &g) && g.fileSize == U && g.containerFiles == containerFiles) return L;
    }
    throw std::invalid_argument("no device length gives " + std::to_string(containerFiles) +
                                " container files (a device of at least 7,983,222,784 bytes gives 55 or more)");
}

// ---- CPartitionImage --------------------------------------------------------------------

CPartitionImage::CPartitionImage(std::filesystem::path root, PartitionOptions o)
    : m_root(std::move(root)), m_dir(m_root / "disk"), m_files(o.containerFiles), m_sectorSize(o.sectorSize),
      m_allowCover(o.allowCover), m_next(o.firstBlockId), m_nextUseId(o.firstUseId)
{
    uint64_t fileSize = o.containerFileSize;
    if (o.deviceImage) {
        const uint64_t L = DeviceSizeFor(o.containerFiles, o.sectorSize);
        DeviceGeometry g;
        GeometryOfDevice(L, o.sectorSize, &g);
        fileSize = g.fileSize;
        m_device = m_root / "device.img";
        std::filesystem::create_directories(m_root);
        const int fd = ::open(m_device.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::ftruncate(fd, off_t(L)) != 0)
            throw std::runtime_error("cannot create " + m_device.string() + ": " + std::strerror(errno));
        uint8_t boot[4096] = {0xEB, 0x58, 0x90};
        std::memcpy(boot + 3, "RKFATFS", 8);
        boot[510] = 0x55;
        boot[511] = 0xAA;
        if (::pwrite(fd, boot, sizeof boot, 0) != ssize_t(sizeof boot)) throw std::runtime_error("boot sector");
        ::close(fd);
    }
    if (!IsContainerFileSize(fileSize)) throw std::invalid_argument("container files are 128 or 256 MiB");
    m_fileSize = uint32_t(fileSize);
    m_blkSize = BlockSizeForFileSize(fileSize);
    if (uint64_t(BlkCnt()) * kDataBlockHeadSize > m_blkSize - kHeadAreaSize)
        throw std::invalid_argument("the head set would not fit into an index block");
    std::filesystem::create_directories(m_dir);
    for (uint32_t n = 0; n < m_files; ++n) {
        const auto path = FilePath(n);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::ftruncate(fd, off_t(m_fileSize)) != 0)
            throw std::runtime_error("cannot create " + path.string() + ": " + std::strerror(errno));
        ::close(fd);
    }
    m_heads.assign(BlkCnt(), ZeroStruct<StDataBlockHead_t>());
    m_badFiles.assign(m_files, 0);
    if (m_next >= BlkCnt() || IsIndexBlockId(m_next)) m_next = 1;
}

CPartitionImage::~CPartitionImage()
{
    for (auto& [n, fd] : m_fds) ::close(fd);
}

std::filesystem::path CPartitionImage::FilePath(uint32_t fileNo) const
{
    return m_dir / CContainerFileImage::FileName(fileNo);
}

int CPartitionImage::FileFd(uint32_t fileNo) const
{
    if (fileNo >= m_files) throw std::out_of_range("no such container file");
    auto it = m_fds.find(fileNo);
    if (it != m_fds.end()) {
        m_fdOrder.remove(fileNo);
        m_fdOrder.push_front(fileNo);
        return it->second;
    }
    if (m_fds.size() >= 64) {
        const uint32_t old = m_fdOrder.back();
        m_fdOrder.pop_back();
        ::close(m_fds[old]);
        m_fds.erase(old);
    }
    const auto path = FilePath(fileNo);
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path.string() + ": " + std::strerror(errno));
    m_fds[fileNo] = fd;
    m_fdOrder.push_front(fileNo);
    return fd;
}

void CPartitionImage::PWrite(uint32_t fileNo, uint64_t offset, const void* data, size_t n)
{
    const int fd = FileFd(fileNo);
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, n, off_t(offset));
        if (w <= 0) throw std::runtime_error("write failed on " + FilePath(fileNo).string());
        p += w;
        n -= size_t(w);
        offset += uint64_t(w);
    }
}

bool CPartitionImage::Usable(uint32_t blkId) const
{
    return blkId < BlkCnt() && !IsIndexBlockId(blkId) && !m_badFiles[FileOfBlock(blkId)];
}

uint32_t CPartitionImage::AllocateBlock()
{
    for (uint32_t steps = 0; steps <= BlkCnt(); ++steps) {
        const uint32_t id = m_next;
        m_next = (m_next + 1) % BlkCnt();
        if (!Usable(id)) continue;
        if (m_heads[id].useId.get() != 0) {
            if (!m_allowCover) throw std::runtime_error("partition full");
            m_covering = true;
        }
        m_lastApply = id;
        return id;
    }
    throw std::runtime_error("no usable block");
}

uint32_t CPartitionImage::FreeBlocks() const
{
    if (m_allowCover) return 0xFFFFFF;
    uint32_t n = 0;
    for (uint32_t id = 0; id < BlkCnt(); ++id)
        if (Usable(id) && m_heads[id].useId.get() == 0) ++n;
    return n;
}

uint32_t CPartitionImage::FirstDataBlkId() const
{
    uint32_t best = 32;
    uint32_t bestUseId = 0;
    for (uint32_t id = 0; id < BlkCnt(); ++id) {
        const uint32_t u = m_heads[id].useId.get();
        if (IsIndexBlockId(id) || u == 0) continue;
        if (bestUseId == 0 || u < bestUseId) {
            bestUseId = u;
            best = id;
        }
    }
    return best;
}

void CPartitionImage::WriteData(uint32_t blkId, uint32_t logical, const uint8_t* data, size_t n)
{
    if (blkId >= BlkCnt() || logical < kHeadAreaSize || logical + n > m_blkSize)
        throw std::out_of_range("data outside the block");
    PWrite(FileOfBlock(blkId), DataFileOffset(PositionOfBlock(blkId), m_blkSize, logical), data, n);
}

void CPartitionImage::WriteHeadArea(uint32_t blkId, const StDataBlockHead_t& head, const StRecDataNeck_t& neck)
{
    if (blkId >= BlkCnt()) throw std::out_of_range("no such block");
    uint8_t area[kHeadAreaSize];
    StoreStruct(area, StRecHeadArea_t{head, neck});
    PWrite(FileOfBlock(blkId), HeadAreaFileOffset(PositionOfBlock(blkId), m_blkSize), area, sizeof area);
    m_heads[blkId] = head;
}

void CPartitionImage::WriteHeadOnDisk(uint32_t blkId, const StDataBlockHead_t& head)
{
    uint8_t raw[kDataBlockHeadSize];
    StoreStruct(raw, head);
    PWrite(FileOfBlock(blkId), HeadAreaFileOffset(PositionOfBlock(blkId), m_blkSize), raw, sizeof raw);
    m_heads[blkId] = head;
}

StRecHeadArea_t CPartitionImage::ReadHeadArea(uint32_t blkId) const
{
    uint8_t raw[kHeadAreaSize];
    const int fd = FileFd(FileOfBlock(blkId));
    if (::pread(fd, raw, sizeof raw, off_t(HeadAreaFileOffset(PositionOfBlock(blkId), m_blkSize))) !=
        ssize_t(sizeof raw))
        throw std::runtime_error("cannot read a head area");
    return LoadStruct<StRecHeadArea_t>(raw);
}

std::vector<uint8_t> CPartitionImage::ReadData(uint32_t blkId, uint32_t logical, size_t n) const
{
    std::vector<uint8_t> out(n);
    const int fd = FileFd(FileOfBlock(blkId));
    size_t done = 0;
    const uint64_t at = DataFileOffset(PositionOfBlock(blkId), m_blkSize, logical);
    while (done < n) {
        const ssize_t r = ::pread(fd, out.data() + done, n - done, off_t(at + done));
        if (r <= 0) throw std::runtime_error("cannot read block data");
        done += size_t(r);
    }
    return out;
}

CPartitionImage::CommonFile CPartitionImage::WriteCommonFile(const std::string& name,
                                                             const std::vector<uint8_t>& bytes, bool writing,
                                                             uint32_t perBlock)
{
    if (name.empty() || name.size() > 63) throw std::invalid_argument("common file names have 1 to 63 characters");
    if (bytes.empty()) throw std::invalid_argument("a common file holds at least one byte");
    const bool isLong = name.size() > 14;
    const std::string abbrev = isLong ? name.substr(0, 3) + name.substr(name.size() - 11) : name;
    const uint32_t per = perBlock ? std::min(perBlock, m_blkSize - kHeadAreaSize) : m_blkSize - kHeadAreaSize;
    const size_t blocks = (bytes.size() + per - 1) / per;
    CommonFile file{name, {}};
    for (size_t i = 0; i < blocks; ++i) file.blocks.push_back(AllocateBlock());
    for (size_t i = 0; i < blocks; ++i) {
        const uint32_t id = file.blocks[i];
        const size_t from = i * per;
        const size_t len = std::min<size_t>(per, bytes.size() - from);
        StDataBlockHead_t h = ZeroStruct<StDataBlockHead_t>();
        h.useId.set(NextUseId());
        h.setWrittenAfterFormat(true);
        h.setWriting(writing && i + 1 == blocks);
        h.setDataType(isLong ? kDataTypeCmLongName : kDataTypeCm);
        h.setNextBlkId(i + 1 < blocks ? file.blocks[i + 1] : 0);
        h.cmData.prevBlkId.set(i > 0 ? file.blocks[i - 1] : 0);
        h.cmData.useSize.set(uint32_t(kHeadAreaSize + len));
        std::memcpy(h.cmData.fileName, abbrev.data(), abbrev.size());
        SealHead(h);
        StLongNameNeck_t neck = ZeroStruct<StLongNameNeck_t>();
        if (isLong && i == 0) {
            neck.sign.set(kLongNameNeckSign);
            std::memcpy(neck.fullName, name.data(), name.size());
        }
        WriteData(id, kHeadAreaSize, bytes.data() + from, len);
        uint8_t area[kHeadAreaSize];
        StoreStruct(area, h);
        StoreStruct(area + kDataBlockHeadSize, neck);
        PWrite(FileOfBlock(id), HeadAreaFileOffset(PositionOfBlock(id), m_blkSize), area, sizeof area);
        m_heads[id] = h;
    }
    return file;
}

StIndexBlockHead_t CPartitionImage::MakeIndexHead(const IndexHeadPlan& recipe) const
{
    StIndexBlockHead_t h = ZeroStruct<StIndexBlockHead_t>();
    std::memcpy(h.sign, "IndexBlk", 8);
    h.version.set(recipe.version);
    h.sectorSize.set(m_sectorSize);
    h.startPos.set(m_fileSize);
    h.blkSize.set(m_blkSize);
    h.blkCnt.set(BlkCnt());
    h.idxBlkDist.set(kIdxBlkDist);
    h.selfBlkId.set(BlockIdOf(recipe.fileNo, 0));
    const uint32_t useId = recipe.useId ? recipe.useId : 1700000000u + 10u * uint32_t(recipe.updateNo);
    h.useId.set(useId);
    h.updateNo.set(recipe.updateNo);
    h.updateTm.set(useId);
    const bool any = m_lastApply != 0 || m_heads[FirstDataBlkId()].useId.get() != 0;
    h.lastApplyBlkId.set(recipe.lastApplyBlkId.value_or(any ? m_lastApply : 0));
    h.dataBlkCover.set(recipe.dataBlkCover.value_or(m_covering ? 1 : 0));
    h.firstDataBlkId.set(recipe.firstDataBlkId.value_or(any ? FirstDataBlkId() : 32));
    h.rebuildIdxTm.set(useId - 1000);
    h.mounted = recipe.mounted ? 1 : 0;
    SealIndexHead(h);
    if (recipe.badCheckValue) h.checkValue.set(h.checkValue.get() + 1);
    return h;
}

void CPartitionImage::WriteIndexHead(const IndexHeadPlan& recipe)
{
    if (recipe.fileNo % (kIdxBlkDist / kBlocksPerFile) != 0 || recipe.fileNo >= m_files)
        throw std::invalid_argument("index blocks are block 0 of container files 0, 128, 256, ...");
    const StIndexBlockHead_t h = MakeIndexHead(recipe);
    uint8_t raw[sizeof(StIndexBlockHead_t)];
    StoreStruct(raw, h);
    PWrite(recipe.fileNo, m_blkSize - kHeadAreaSize, raw, sizeof raw);
    if (recipe.writeHeadSet) {
        const uint64_t bytes = uint64_t(BlkCnt()) * kDataBlockHeadSize;
        std::vector<uint8_t> set((bytes + m_sectorSize - 1) / m_sectorSize * m_sectorSize, 0);
        for (uint32_t b = 0; b < BlkCnt(); ++b)
            if (!IsIndexBlockId(b)) StoreStruct(set.data() + size_t(b) * kDataBlockHeadSize, m_heads[b]);
        PWrite(recipe.fileNo, 0, set.data(), set.size());
    }
}

void CPartitionImage::MakeBadFile(uint32_t fileNo, BadFile kind)
{
    if (fileNo >= m_files) throw std::out_of_range("no such container file");
    auto it = m_fds.find(fileNo);
    if (it != m_fds.end()) {
        ::close(it->second);
        m_fds.erase(it);
        m_fdOrder.remove(fileNo);
    }
    if (kind == BadFile::kMissing)
        std::filesystem::remove(FilePath(fileNo));
    else
        std::filesystem::resize_file(FilePath(fileNo), 200000000);
    m_badFiles[fileNo] = 1;
}

// ---- Recordings -----------------------------------------------------------------------

std::vector<WrittenRecording> WriteHistory(IBlockSink& sink, const HistoryPlan& plan)
{
    std::vector<WrittenRecording> out;
    CSplitMix64 rng(plan.seed);
    std::vector<uint8_t> payload(std::max<uint32_t>(plan.frameBytes * 2, 400));
    uint32_t t = plan.startTime;
    for (uint32_t r = 0; r < plan.recordings; ++r) {
        RecordingParams p;
        p.channel = uint8_t(r % std::max<uint8_t>(plan.channels, 1));
        p.encode = {4, 0, 1, uint8_t(plan.audio ? 2 : 0), 25};
        p.reason = 1u << (r % 3);
        p.readOnly = plan.readOnlyEvery && r % plan.readOnlyEvery == plan.readOnlyEvery - 1;
        p.carNumber = "RK-" + std::to_string(r);
        CRecordWriter w(sink, p);
        uint64_t pts = uint64_t(t) * 1000000;
        for (uint32_t b = 0; b < plan.blocksPerRecording; ++b) {
            for (uint32_t s = 0; s < plan.secondsPerBlock; ++s)
                for (int f = 0; f < 25; ++f, pts += 40000) {
                    const uint32_t len = rng.Range(plan.frameBytes / 2, plan.frameBytes + plan.frameBytes / 2);
                    FillPayload(rng.Next(), payload.data(), len);
                    w.WriteFrame(f == 0 ? kFrameI : kFrameP, pts, payload.data(), len);
                    if (plan.audio) {
                        FillPayload(rng.Next(), payload.data(), 164);
                        w.WriteFrame(kFrameAudio, pts + 1000, payload.data(), 164);
                    }
                }
            w.EndBlock();
        }
        w.Close();
        WrittenRecording rec;
        rec.params = p;
        rec.blocks = w.Blocks();
        rec.frames = w.Written();
        rec.places = w.Places();
        rec.beginTime = t;
        rec.endTime = uint32_t((pts - 40000) / 1000000);
        out.push_back(std::move(rec));
        t = out.back().endTime + 1 + plan.gapSeconds;
    }
    return out;
}

WrittenRecording WriteLongRecording(IBlockSink& sink, const LongRecordingPlan& plan)
{
    CRecordWriter w(sink, plan.params);
    CSplitMix64 rng(plan.seed);
    std::vector<uint8_t> payload(kMaxFrameSizeMain);
    uint64_t pts = uint64_t(plan.startTime) * 1000000;
    const uint32_t maxLen = MaxFrameSize(plan.params.subStream);
    for (int i = 0;; ++i, pts += 40000) {
        const bool key = i % plan.gop == 0;
        uint32_t len = rng.Range(plan.frameBytes / 2, plan.frameBytes + plan.frameBytes / 2) * (key ? 3 : 1);
        len = std::min(len, maxLen);
        // Stop once the last block is partly filled.
        if (w.Blocks().size() > plan.blocks && w.BytesLeftInBlock() < sink.BlockSize() / 2) break;
        FillPayload(rng.Next(), payload.data(), len);
        w.WriteFrame(key ? kFrameI : kFrameP, pts, payload.data(), len);
        if (plan.audio) {
            FillPayload(rng.Next(), payload.data(), 324);
            w.WriteFrame(kFrameAudio, pts + 1000, payload.data(), 324);
        }
    }
    w.Close();
    WrittenRecording rec;
    rec.params = plan.params;
    rec.blocks = w.Blocks();
    rec.frames = w.Written();
    rec.places = w.Places();
    rec.beginTime = plan.startTime;
    uint32_t end = plan.startTime;
    for (const ExpectedFrame& f : rec.frames)
        if (IsVideoType(f.type)) end = std::max(end, uint32_t(f.pts / 1000000));
    rec.endTime = end;
    return rec;
}

std::vector<uint64_t> ExportBackupFile(const CPartitionImage& image, const std::vector<uint32_t>& blockIds,
                                       const std::filesystem::path& path)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> offsets;
    uint64_t at = 0;
    for (size_t i = 0; i < blockIds.size(); ++i) {
        const StRecHeadArea_t area = image.ReadHeadArea(blockIds[i]);
        const uint32_t useSize = area.head.recData.useSize.get();
        const uint32_t skip = i == 0 ? area.head.recData.lend.get() : 0;
        uint8_t raw[kHeadAreaSize];
        StoreStruct(raw, area);
        out.write(reinterpret_cast<const char*>(raw), sizeof raw);
        const auto data = image.ReadData(blockIds[i], kHeadAreaSize + skip, useSize - kHeadAreaSize - skip);
        out.write(reinterpret_cast<const char*>(data.data()), long(data.size()));
        offsets.push_back(at);
        at += kHeadAreaSize + data.size();
    }
    if (!out) throw std::runtime_error("cannot write " + path.string());
    return offsets;
}

namespace {

struct DiskBlock {
    StRecHeadArea_t area;
    std::vector<uint8_t> data;  // useSize - 4096 bytes
};

DiskBlock ReadDiskBlock(const std::filesystem::path& dir, uint32_t blkSize, uint32_t id)
{
    std::ifstream in(dir / CContainerFileImage::FileName(FileOfBlock(id)), std::ios::binary);
    uint8_t raw[kHeadAreaSize];
    in.seekg(std::streamoff(HeadAreaFileOffset(PositionOfBlock(id), blkSize)));
    in.read(reinterpret_cast<char*>(raw), sizeof raw);
    if (!in) throw std::runtime_error("cannot read block " + std::to_string(id));
    DiskBlock b{LoadStruct<StRecHeadArea_t>(raw), {}};
    const uint32_t useSize = std::min(b.area.head.recData.useSize.get(), blkSize);
    b.data.resize(useSize > kHeadAreaSize ? useSize - kHeadAreaSize : 0);
    in.seekg(std::streamoff(uint64_t(PositionOfBlock(id)) * blkSize));
    in.read(reinterpret_cast<char*>(b.data.data()), std::streamsize(b.data.size()));
    if (!in) throw std::runtime_error("cannot read block " + std::to_string(id));
    return b;
}

uint32_t BlockSizeOfDir(const std::filesystem::path& dir)
{
    return BlockSizeForFileSize(std::filesystem::file_size(dir / CContainerFileImage::FileName(0)));
}

}  // namespace

std::vector<uint32_t> ChainOnDisk(const std::filesystem::path& dir, uint32_t blkSize, uint32_t first)
{
    std::vector<uint32_t> chain;
    for (uint32_t id = first; id != 0 && chain.size() < 100000;) {
        chain.push_back(id);
        id = ReadDiskBlock(dir, blkSize, id).area.head.nextBlkId();
    }
    return chain;
}

void ExportRecordFile(const std::filesystem::path& dir, const std::vector<uint32_t>& blockIds,
                      const std::filesystem::path& path)
{
    const uint32_t blkSize = BlockSizeOfDir(dir);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (size_t i = 0; i < blockIds.size(); ++i) {
        const DiskBlock b = ReadDiskBlock(dir, blkSize, blockIds[i]);
        const uint32_t skip = i == 0 ? std::min<uint32_t>(b.area.head.recData.lend.get(), uint32_t(b.data.size())) : 0;
        uint8_t raw[kHeadAreaSize];
        StoreStruct(raw, b.area);
        out.write(reinterpret_cast<const char*>(raw), sizeof raw);
        out.write(reinterpret_cast<const char*>(b.data.data() + skip), std::streamsize(b.data.size() - skip));
    }
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace velmor::fixtures
