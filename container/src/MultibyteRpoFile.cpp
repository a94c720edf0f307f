#include "container/src/MultibyteRpoFile.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>
#include <thread>

#include "common/FileReader.h"
#include "common/IniFile.h"
#include "common/Mounts.h"
#include "common/PathUtil.h"
#include "container/src/RpoTrace.h"
#include "container/src/SingleRpoFile.h"
#include "common/ReadOnlyOpen.h"

namespace rkcontainer {

using namespace rkfs;

namespace {

constexpr uint32_t kHeadsPerChunk = 32768;  // 1 MiB of heads
constexpr size_t kMaxWorkers = 16;

std::string ContainerFileName(uint32_t fileNo)
{
    char name[32];
    std::snprintf(name, sizeof name, "fc%05u.rpo", fileNo);
    return name;
}

std::string TimeText(uint32_t t)
{
    const time_t tt = t;
    struct tm tm {};
    gmtime_r(&tt, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

}  // namespace

// ---- 1. The partition's geometry -------------------------------------------------

int CMultibyteRpoFile::Mount2(const std::string& diskPath, const std::string& explicitDevice)
{
    RPO_TRACE("pPart:%s", diskPath.c_str());
    const std::string device = explicitDevice.empty() ? velmor::MountedDeviceOf(diskPath) : explicitDevice;
    if (device.empty()) {
        // A folder copied off a recorder disk: no device to ask, but its
        // index block heads know the partition.
        return GeometryFromIndexHeads(diskPath) ? 0 : -301;
    }
    const int fd = velmor::OpenReadOnly(device);
    if (fd < 0) {
        RPO_TRACE("CreateFileA Error:%d", errno);
        // The device the folder is mounted from may be closed to this user
        // (device nodes are root:disk): its index block heads still tell the
        // partition, as for a copied folder. A device named by the caller is
        // what was asked for, and its failure is reported.
        if (explicitDevice.empty()) return GeometryFromIndexHeads(diskPath) ? 0 : -301;
        return -301;
    }
    struct stat st {};
    uint64_t devSize = 0;
    uint32_t sectorSize = 512;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return -302;
    }
    if (S_ISBLK(st.st_mode)) {
        int ss = 0;
        if (::ioctl(fd, BLKSSZGET, &ss) != 0) {
            RPO_TRACE("DeviceIoControl Fail:%d", errno);
            ::close(fd);
            return -302;
        }
        sectorSize = uint32_t(ss);
        if (::ioctl(fd, BLKGETSIZE64, &devSize) != 0) {
            RPO_TRACE("DeviceIoControl Fail:%d", errno);
            ::close(fd);
            return -303;
        }
    } else {
        devSize = uint64_t(st.st_size);
    }
    RPO_TRACE("sectorSize:%u,devSize:%llu", sectorSize, (unsigned long long)devSize);
    DeviceGeometry g;
    if (!GeometryOfDevice(devSize, sectorSize, &g)) {
        RPO_TRACE("sectorSize:%u, devSize:%llu Exception", sectorSize, (unsigned long long)devSize);
        ::close(fd);
        return -304;
    }
    uint8_t boot[4096];
    size_t done = 0;
    while (done < sizeof boot) {
        const ssize_t r = ::pread(fd, boot + done, sizeof boot - done, off_t(done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += size_t(r);
    }
    ::close(fd);
    if (done < sizeof boot) {
        RPO_TRACE("ReadFile Error:%d", errno);
        return -305;
    }
    if (std::memcmp(boot + 3, "RKFATFS", 8) != 0) {
        char id[9] = {};
        std::memcpy(id, boot + 3, 8);
        RPO_TRACE("system_id Error:%s", id);
        return -306;
    }
    m_sectorSize = g.sectorSize;
    m_fileSize = g.fileSize;
    m_blkSize = g.blkSize;
    m_fileCount = g.fileCount;
    RPO_TRACE("fileContainerCount:%u, blkSize:%u", m_fileCount, m_blkSize);
    return 0;
}

bool CMultibyteRpoFile::GeometryFromIndexHeads(const std::string& diskPath)
{
    std::error_code ec;
    bool found = false;
    int32_t bestUpdate = 0;
    for (std::filesystem::directory_iterator it(diskPath, ec), end; !ec && it != end; it.increment(ec)) {
        int fileNo = -1;
        const std::string name = it->path().filename().string();
        if (name.size() != 11 || CSingleRpoFile::GetBlockIdByFileName(name.c_str(), &fileNo) != 0 || fileNo % 128 != 0)
            continue;
        velmor::CFileReader file;
        const int64_t size = file.Open(it->path()) ? file.Size() : -1;
        if (size < 0 || !IsContainerFileSize(uint64_t(size))) continue;
        const uint32_t blkSize = BlockSizeForFileSize(uint64_t(size));
        uint8_t raw[sizeof(StIndexBlockHead_t)];
        if (file.ReadAt(blkSize - kHeadAreaSize, raw, sizeof raw) != sizeof raw) continue;
        const auto h = LoadStruct<StIndexBlockHead_t>(raw);
        if (!IsIndexBlockHeadOfFile(h, uint64_t(size), blkSize, uint32_t(fileNo) * kBlocksPerFile)) continue;
        if (found && h.updateNo.get() <= bestUpdate) continue;
        found = true;
        bestUpdate = h.updateNo.get();
        m_sectorSize = h.sectorSize.get();
        m_fileSize = uint32_t(size);
        m_blkSize = blkSize;
        m_fileCount = h.blkCnt.get() / kBlocksPerFile;
    }
    if (found) RPO_TRACE("fileContainerCount:%u, blkSize:%u", m_fileCount, m_blkSize);
    return found;
}

// ---- 2. Index block heads ---------------------------------------------------------------

bool CMultibyteRpoFile::IsBlockIndexData(const StIndexBlockHead_t& h, uint32_t fileNo) const
{
    return IsIndexBlockHeadConsistent(h, fileNo * kBlocksPerFile,
                                      IndexGeometry{uint16_t(m_sectorSize), m_fileSize, m_blkSize, BlkCnt()});
}

void CMultibyteRpoFile::GetBlockIndexFiles(const std::string& diskPath)
{
    m_indexHeads.clear();
    for (uint32_t n = 0; n < m_fileCount; n += 128) {
        const auto path = velmor::FindNoCase(diskPath, ContainerFileName(n));
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) continue;
        velmor::CFileReader file;
        if (!file.Open(path)) {
            RPO_TRACE("fopen file Fail,continue");
            continue;
        }
        uint8_t area[kHeadAreaSize];
        if (file.ReadAt(m_blkSize - kHeadAreaSize, area, sizeof area) != sizeof area) {
            RPO_TRACE(" file %s fseek %u fail", path.c_str(), m_blkSize - kHeadAreaSize);
            continue;
        }
        if (std::memcmp(area, "IndexBlk", 8) != 0) continue;
        const auto h = LoadStruct<StIndexBlockHead_t>(area);
        RPO_TRACE("pBlkIndexH:sign:%.8s, version:%d,sectorSize:%u,startPos:%u,blkSize:%u,blkCnt:%u,idxBlkDist:%u,"
                  "selfBlkId:%u,useId:%u,updateNo:%u,updateTm:%u,lastApplyBlkId:%u,dataBlkCover:%u,firstDataBlkId:%u,"
                  "rebuildIdxTm:%u,mounted:%d,checkValue:%u",
                  h.sign, h.version.get(), h.sectorSize.get(), h.startPos.get(), h.blkSize.get(), h.blkCnt.get(),
                  h.idxBlkDist.get(), h.selfBlkId.get(), h.useId.get(), unsigned(h.updateNo.get()), h.updateTm.get(),
                  h.lastApplyBlkId.get(), h.dataBlkCover.get(), h.firstDataBlkId.get(), h.rebuildIdxTm.get(),
                  h.mounted, h.checkValue.get());
        if (IsBlockIndexData(h, n)) {
            RPO_TRACE("Normal Block");
            m_indexHeads.push_back(h);
        } else {
            RPO_TRACE("UnNormal Block");
        }
    }
    std::stable_sort(m_indexHeads.begin(), m_indexHeads.end(),
                     [](const auto& a, const auto& b) { return a.updateNo.get() > b.updateNo.get(); });
}

int CMultibyteRpoFile::CompareBlockIndexInfo() const
{
    if (m_indexHeads.empty()) return 2;
    if (m_indexHeads.size() == 1) return 0;
    const auto& h0 = m_indexHeads[0];
    const auto& h1 = m_indexHeads[1];
    if (h0.firstDataBlkId.get() != h1.firstDataBlkId.get() || h0.useId.get() == h1.useId.get() ||
        h0.updateNo.get() == h1.updateNo.get())
        return 2;
    if (h0.mounted) {
        RPO_TRACE("All mounted, Need Rebuild Some");
        return 1;
    }
    return 0;
}

// ---- 4. The block-head set ------------------------------------------------------------------

bool CMultibyteRpoFile::TakeRecordingHead(const StDataBlockHead_t& h, uint32_t blkId, uint32_t chnMask) const
{
    // Links are compared with the block's own id: a block never follows or
    // precedes itself. (Comparing with the index block's id would drop the
    // first and last block of every recording.)
    if (CheckRecBlockHead(h, blkId, PartitionGeometry{BlkCnt(), m_blkSize}, true) != HeadFault::kOk) return false;
    return h.recData.channel < 16 && (chnMask & (1u << h.recData.channel));
}

void CMultibyteRpoFile::Enter(ChannelBlocks& blocks, const BlockEntry& entry, bool keepLonger)
{
    const uint32_t begin = entry.head.recData.beginTime.get();
    auto it = blocks.find(begin);
    if (it == blocks.end()) {
        blocks.emplace(begin, entry);
    } else if (keepLonger && entry.head.recData.duration.get() > it->second.head.recData.duration.get()) {
        it->second = entry;
    }
}

void CMultibyteRpoFile::ReadIndexInNormalWay(const std::string& diskPath, uint32_t chnMask)
{
    const auto& h0 = m_indexHeads[0];
    const uint32_t fileNo = h0.selfBlkId.get() / kBlocksPerFile;
    const auto path = velmor::FindNoCase(diskPath, ContainerFileName(fileNo));
    velmor::CFileReader file;
    if (!file.Open(path)) {
        RPO_TRACE("fopen file Fail,continue");
        return;
    }
    RPO_TRACE(" %s Find one Block Index:%u", path.c_str(), fileNo);
    // The set is the head of every block, 32 bytes each, from block 0 on.
    const uint64_t room = (m_blkSize - kHeadAreaSize) / kDataBlockHeadSize;
    const uint32_t heads = uint32_t(std::min<uint64_t>(room, BlkCnt()));
    std::vector<uint8_t> set(size_t(heads) * kDataBlockHeadSize);
    const size_t got = file.ReadAt(0, set.data(), set.size());
    if (got < set.size()) RPO_TRACE("read File Error");
    const uint32_t available = uint32_t(got / kDataBlockHeadSize);
    if (available == 0) return;

    // Chunks of 32,768 heads, at most 16 of them (the last takes the rest),
    // each parsed by its own thread into its own maps.
    const size_t chunks = std::min<size_t>(kMaxWorkers, (available + kHeadsPerChunk - 1) / kHeadsPerChunk);
    std::vector<std::array<ChannelBlocks, 16>> results(chunks);
    std::vector<std::thread> workers;
    for (size_t c = 0; c < chunks; ++c) {
        const uint32_t from = uint32_t(c) * kHeadsPerChunk;
        const uint32_t to = c + 1 == chunks ? available : from + kHeadsPerChunk;
        workers.emplace_back([&, c, from, to] {
            for (uint32_t id = from; id < to; ++id) {
                if (IsIndexBlockId(id)) continue;
                const auto h = LoadStruct<StDataBlockHead_t>(set.data() + size_t(id) * kDataBlockHeadSize);
                if (h.useId.get() == 0) continue;
                const uint8_t type = h.dataType();
                if (type != kDataTypeRec && type != kDataTypeRec2) continue;
                if (!TakeRecordingHead(h, id, chnMask)) continue;
                Enter(results[c][h.recData.channel], BlockEntry{h, id}, true);
            }
        });
    }
    for (auto& w : workers) w.join();
    for (const auto& r : results)
        for (size_t ch = 0; ch < 16; ++ch)
            for (const auto& [begin, entry] : r[ch]) Enter(m_channels[ch], entry, true);
}

// ---- 5. Real heads of recent blocks -----------------------------------------------------------

void CMultibyteRpoFile::RescanRealHeads(const std::string& diskPath, uint32_t chnMask)
{
    const auto& h0 = m_indexHeads[0];
    const uint32_t count = BlkCnt();
    if (count == 0) return;
    velmor::CFileReader file;
    uint32_t openFile = UINT32_MAX;
    auto readHead = [&](uint32_t id, StDataBlockHead_t* head) {
        const uint32_t fileNo = id / kBlocksPerFile;
        if (fileNo != openFile) {
            openFile = fileNo;
            const auto path = velmor::FindNoCase(diskPath, ContainerFileName(fileNo));
            RPO_TRACE("filePath:%s", path.c_str());
            if (!file.Open(path)) file.Close();
        }
        if (!file.IsOpen()) return false;
        uint8_t raw[kDataBlockHeadSize];
        if (file.ReadAt(HeadAreaFileOffset(id % kBlocksPerFile, m_blkSize), raw, sizeof raw) != sizeof raw) {
            RPO_TRACE("Read Head Fail");
            return false;
        }
        *head = LoadStruct<StDataBlockHead_t>(raw);
        return true;
    };
    auto visit = [&](uint32_t id) {
        if (IsIndexBlockId(id)) return false;
        StDataBlockHead_t h;
        if (!readHead(id, &h)) return false;
        if (h.dataType() != kDataTypeRec && h.dataType() != kDataTypeRec2) return false;
        if (!TakeRecordingHead(h, id, chnMask)) return false;
        Enter(m_channels[h.recData.channel], BlockEntry{h, id}, true);
        return true;
    };
    const uint32_t last = h0.lastApplyBlkId.get() % count;
    const uint32_t limit = h0.useId.get() == 0 ? 646 : 323;
    uint32_t taken = 0;
    for (uint32_t step = 1; step <= count && taken < limit; ++step)
        if (visit((last + step) % count)) ++taken;
    for (uint32_t step = 0; step < count; ++step) visit((last + count - step) % count);
}

// ---- 6. Entries -----------------------------------------------------------------------------------

int CMultibyteRpoFile::GetSearchBlockIndex(const std::string& diskPath, RKCONTAINER_SEARCH_ENTRY* entries,
                                           int capacity)
{
    int n = 0;
    const uint8_t drive = diskPath.empty() ? 0 : uint8_t(diskPath[0]);
    auto open = [&](size_t ch, const BlockEntry& b) -> bool {
        if (n >= capacity) return false;
        const StRecData_t& rd = b.head.recData;
        RKCONTAINER_SEARCH_ENTRY& e = entries[n++];
        e.drive = drive;
        e.channel = uint8_t(ch);
        e.size = rd.useSize.get() - rd.lend.get();
        e.zero = 0;
        e.beginTime = rd.beginTime.get();
        e.endTime = BlockEndTime(rd);
        e.fileNo = b.blkId / kBlocksPerFile;
        if (!m_carNumberRead) {
            m_carNumberRead = true;
            char car[16] = {};
            CSingleRpoFile reader;
            reader.GetBlockCarNumber(diskPath, int(e.fileNo), m_blkSize, car);
            m_carNumber.assign(car, strnlen(car, 15));
        }
        std::memset(e.carNumber, 0, sizeof e.carNumber);
        std::memcpy(e.carNumber, m_carNumber.data(), std::min<size_t>(m_carNumber.size(), 15));
        return true;
    };
    for (size_t ch = 0; ch < 16; ++ch) {
        RKCONTAINER_SEARCH_ENTRY* current = nullptr;
        for (const auto& [begin, b] : m_channels[ch]) {
            const StRecData_t& rd = b.head.recData;
            RPO_TRACE("channel:%d,blockId:%d,startTime:%s(%u),endTime:%s(%u)", int(ch), int(b.blkId),
                      TimeText(rd.beginTime.get()).c_str(), rd.beginTime.get(), TimeText(BlockEndTime(rd)).c_str(),
                      BlockEndTime(rd));
            const uint32_t fileNo = b.blkId / kBlocksPerFile;
            if (current && fileNo == current->fileNo && uint64_t(begin) <= uint64_t(current->endTime) + 1) {
                // The entry is packed: no reference may bind to its fields.
                const uint32_t end = current->endTime;
                current->endTime = std::max(end, BlockEndTime(rd));
                continue;
            }
            if (current && fileNo != current->fileNo && uint64_t(begin) == uint64_t(current->endTime) + 1) {
                RPO_TRACE("Change File,endTime");
                current->endTime = begin;
            }
            if (!open(ch, b)) return n;
            current = &entries[n - 1];
        }
    }
    return n;
}

// ---- 7. Per path ------------------------------------------------------------------------------------

int CMultibyteRpoFile::SeacrhFile(const std::vector<std::string>& diskPaths, const std::vector<std::string>& devices,
                                  uint32_t chnMask, RKCONTAINER_SEARCH_ENTRY* entries, int capacity)
{
    m_carNumber.clear();
    m_carNumberRead = false;
    int total = 0;
    for (size_t i = 0; i < diskPaths.size() && total < capacity; ++i) {
        for (auto& c : m_channels) c.clear();
        m_indexHeads.clear();
        const std::string& path = diskPaths[i];
        if (Mount2(path, i < devices.size() ? devices[i] : std::string()) != 0) continue;
        RPO_TRACE("diskPath:%s, formatFileCount:%u, oneBlkSize:%u", path.c_str(), m_fileCount, m_blkSize);
        GetBlockIndexFiles(path);
        const int judged = CompareBlockIndexInfo();
        if (judged == 2) continue;
        ReadIndexInNormalWay(path, chnMask);
        if (judged == 1) RescanRealHeads(path, chnMask);
        // Each path's entries follow the previous path's: none is lost.
        total += GetSearchBlockIndex(path, entries + total, capacity - total);
    }
    return total;
}

}  // namespace rkcontainer
