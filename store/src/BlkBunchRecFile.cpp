// Block-bunch record files: the record files whose blocks lie in one
// container file, listed and read without mounting the partition.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "common/FileReader.h"
#include "common/IniFile.h"
#include "store/src/RecFileInfo.h"
#include "store/src/RecordReader.h"
#include "store/src/StoreLog.h"

using namespace rkfs;
using rkstore::CRecordReader;
using rkstore::Guarded;

namespace {

const rkstore::ReaderNames kBunchNames{
    "RKSFS_ReadBlkBuncRecFrame", "RKSFS_SeekBlkBuncRecTime", "RKSFS_GetBlkBunchRecFileEncode", "RKSFS_ContainerFile",
    "pOp->blkBunchFI.blkSize",
};

CRecordReader* ReaderOf(const StBlkBunchRecFileOp_t* op)
{
    return op ? static_cast<CRecordReader*>(op->stream) : nullptr;
}

void Publish(StBlkBunchRecFileOp_t* op, const CRecordReader& r)
{
    std::memcpy(op->pendingHead, r.m_pos.pending, sizeof op->pendingHead);
    op->frmHeadWrSize = r.m_pos.frmHeadWrSize;
    op->curOffset = r.m_pos.curOffset;
    op->curB = r.m_pos.curB;
    op->curBlkOff = r.m_pos.curBlkOff;
}

// "fc" + five digits + ".rpo" at the end of the path, in any case.
bool ParseContainerName(const char* path, size_t len, uint16_t* fileNo)
{
    const char* name = path + len - 11;
    if (std::tolower((unsigned char)name[0]) != 'f' || std::tolower((unsigned char)name[1]) != 'c') return false;
    unsigned n = 0;
    for (int i = 2; i < 7; ++i) {
        if (!std::isdigit((unsigned char)name[i])) return false;
        n = n * 10 + unsigned(name[i] - '0');
    }
    if (!velmor::EqualsNoCase(std::string_view(name + 7, 4), ".rpo") || n > 0xFFFF) return false;
    *fileNo = uint16_t(n);
    return true;
}

int ListBlkBunchRecFiles(const char* filePath, StBlkBunchRecFile_t* entries, size_t capacity)
{
    const char* fn = "RKSFS_GeBlkBunchRecFile";
    if (!filePath) return -1;
    rkfs::LogInfo("%s: pFilePath = %s, count = %zu\n", fn, filePath, capacity);
    const size_t len = std::strlen(filePath);
    if (len >= sizeof entries->filePath) {
        SFS_LOG(fn, "pathLen = %zu, sizeof(pRec->filePath) = %zu\n", len, sizeof entries->filePath);
        return -1;
    }
    uint16_t fileNo = 0;
    if (len < 11 || !ParseContainerName(filePath, len, &fileNo)) {
        SFS_LOG(fn, "file name should be like fc00000.rpo\n");
        return -1;
    }
    if (!entries && capacity > 0) return -1;
    velmor::CFileReader file;
    int err = 0;
    if (!file.Open(filePath, &err)) {
        SFS_LOG(fn, "errno = %d, means: %s\n", err, std::strerror(err));
        return -1;
    }
    const int64_t size = file.Size();
    if (size < 0 || !IsContainerFileSize(uint64_t(size))) {
        SFS_LOG(fn, "fileSize = %ld abnormal\n", long(size));
        return -1;
    }
    const uint32_t blkSize = BlockSizeForFileSize(uint64_t(size));
    const uint32_t firstId = BlockIdOf(fileNo, 0);

    StDataBlockHead_t heads[kBlocksPerFile];
    bool valid[kBlocksPerFile] = {};
    for (uint32_t p = 0; p < kBlocksPerFile; ++p) {
        heads[p] = ZeroStruct<StDataBlockHead_t>();
        if (IsIndexBlockId(firstId + p)) continue;
        uint8_t raw[kDataBlockHeadSize];
        if (file.ReadAt(HeadAreaFileOffset(p, blkSize), raw, sizeof raw) != sizeof raw) {
            SFS_LOG(fn, "blkCnt = %lu, errno = %d, means: %s\n", (unsigned long)p, errno, std::strerror(errno));
            break;
        }
        heads[p] = LoadStruct<StDataBlockHead_t>(raw);
        // Block ids of other container files are not bounded by a partition here.
        valid[p] = CheckRecBlockHead(heads[p], firstId + p, PartitionGeometry{kMaxBlockId + 1, blkSize}) == HeadFault::kOk;
    }
    auto inThisFile = [&](uint32_t id) { return id != 0 && FileOfBlock(id) == fileNo; };

    // Chains of blocks inside this file, each by its first block.
    bool visited[kBlocksPerFile] = {};
    std::vector<uint32_t> starts;
    for (uint32_t p = 0; p < kBlocksPerFile; ++p) {
        if (visited[p]) continue;
        visited[p] = true;
        if (!valid[p]) {
            if (!IsIndexBlockId(firstId + p) && heads[p].useId.get() != 0)
                SFS_LOG(fn, "i = %lu, isn't resident RecData Blk\n", (unsigned long)p);
            continue;
        }
        bool joined = false;
        for (uint32_t cur = p;;) {
            const uint32_t next = heads[cur].nextBlkId();
            if (!inThisFile(next)) break;
            const uint32_t q = PositionOfBlock(next);
            if (!valid[q] || heads[q].recData.prevBlkId.get() != firstId + cur) {
                // Cut the chain here (in our copy only).
                if (!valid[q])
                    SFS_LOG(fn, "tailBlkId = %lu, pTailDBH->nextBlkId = %lu applyed but no use\n",
                            (unsigned long)(firstId + cur), (unsigned long)next);
                else
                    SFS_LOG(fn, "tailBlkId = %lu, pTailDBH->nextBlkId = %lu\n", (unsigned long)(firstId + cur),
                            (unsigned long)next);
                heads[cur].setNextBlkId(0);
                SealHead(heads[cur]);
                break;
            }
            if (visited[q]) {
                // An earlier chain began at q: this one comes before it.
                for (uint32_t& s : starts)
                    if (s == q) s = p;
                joined = true;
                break;
            }
            visited[q] = true;
            cur = q;
        }
        if (!joined) starts.push_back(p);
    }

    // A record file starts at a block with an I frame head.
    std::vector<std::vector<uint32_t>> chains;
    for (uint32_t s : starts) {
        std::vector<uint32_t> chain;
        for (uint32_t cur = s;;) {
            chain.push_back(cur);
            const uint32_t next = heads[cur].nextBlkId();
            if (!inThisFile(next) || chain.size() >= kBlocksPerFile) break;
            cur = PositionOfBlock(next);
        }
        size_t from = 0;
        while (from < chain.size() && !heads[chain[from]].recData.hasIFrameHead()) {
            SFS_LOG(fn, "id = %lu hasn't IFrame head\n", (unsigned long)(firstId + chain[from]));
            ++from;
        }
        if (from == chain.size()) continue;
        chains.emplace_back(chain.begin() + long(from), chain.end());
    }

    size_t filled = 0;
    for (const auto& chain : chains) {
        if (filled == capacity) return int(capacity + 1);
        std::vector<StRecHeadArea_t> blocks;
        for (uint32_t p : chain) {
            StRecHeadArea_t area{heads[p], ZeroStruct<StRecDataNeck_t>()};
            blocks.push_back(area);
        }
        StBlkBunchRecFile_t& e = entries[filled++];
        std::memset(&e, 0, sizeof e);
        std::memcpy(e.filePath, filePath, len + 1);
        e.fileNo = fileNo;
        e.blkSize = blkSize;
        e.dataBlkCnt = uint32_t(chain.size());
        e.recFI = rkstore::MakeRecFileInfo(blocks, fn);
        e.recFI.uuid = int32_t(firstId + chain.front());
        SFS_LOG(fn, "id = %lu\n", (unsigned long)(firstId + chain.front()));
    }
    return int(filled);
}

int OpenBlkBunchRecFile(StBlkBunchRecFileOp_t* op, const StBlkBunchRecFile_t* entry)
{
    const char* fn = "RKSFS_OpenBlkBunchRecFile";
    if (!op || !entry) return -1;
    const StBlkBunchRecFile_t e = *entry;  // the caller may pass op's own copy
    SFS_LOG(fn, "pRec->filePath = %s, dataBlkCnt = %lu, recFI.uuid = %d\n", e.filePath, (unsigned long)e.dataBlkCnt,
            e.recFI.uuid);
    if (e.recFI.size < 17) {
        SFS_LOG(fn, "pRec->recFI.size = %llu, tiFrameHeadLen = %zu\n", (unsigned long long)e.recFI.size,
                sizeof(StFrameHead_t));
        return -1;
    }
    std::memset(op, 0, sizeof *op);
    auto reader = std::make_unique<CRecordReader>(CRecordReader::Layout::kContainerFile, kBunchNames);
    char path[sizeof e.filePath + 1] = {};
    std::memcpy(path, e.filePath, sizeof e.filePath);
    int err = 0;
    if (!reader->m_file.Open(path, &err)) {
        SFS_LOG(fn, "errno = %d, means: %s\n", err, std::strerror(err));
        return -1;
    }
    const int64_t size = reader->m_file.Size();
    const uint32_t firstId = uint32_t(e.recFI.uuid);
    if (size < 0 || !IsContainerFileSize(uint64_t(size)) || BlockSizeForFileSize(uint64_t(size)) != e.blkSize ||
        FileOfBlock(firstId) != e.fileNo || e.recFI.uuid < 0) {
        SFS_LOG(fn, "fileSize = %ld, blkSize = %lu, recFI.uuid = %d\n", long(size), (unsigned long)e.blkSize,
                e.recFI.uuid);
        return -1;
    }
    reader->m_blkSize = e.blkSize;
    uint32_t id = firstId;
    const uint32_t want = std::min<uint32_t>(e.dataBlkCnt, kBlocksPerFile);
    for (uint32_t i = 0; i < want; ++i) {
        const uint32_t p = PositionOfBlock(id);
        uint8_t area[kHeadAreaSize];
        if (FileOfBlock(id) != e.fileNo || IsIndexBlockId(id) ||
            reader->m_file.ReadAt(HeadAreaFileOffset(p, e.blkSize), area, sizeof area) != sizeof area) {
            SFS_LOG(fn, "i = %lu, errno = %d, means: %s\n", (unsigned long)i, errno, std::strerror(errno));
            SFS_LOG(fn, "i = %lu, pOp->blkBunchFI.dataBlkCnt = %lu\n", (unsigned long)i, (unsigned long)i);
            break;
        }
        reader->m_heads.push_back(LoadStruct<StRecHeadArea_t>(area));
        reader->m_positions.push_back(uint8_t(p));
        id = reader->m_heads.back().head.nextBlkId();
    }
    if (reader->m_heads.empty()) return -1;
    // The blocks actually found decide the size and span read against.
    const int32_t uuid = e.recFI.uuid;
    reader->m_info = rkstore::MakeRecFileInfo(reader->m_heads, fn);
    reader->m_info.uuid = uuid;
    reader->m_path = path;
    reader->Prepare();

    op->blkBunchFI = e;
    op->blkBunchFI.dataBlkCnt = uint32_t(reader->m_heads.size());
    op->blkBunchFI.recFI = reader->m_info;
    op->maxFrameSize = reader->m_maxFrameSize;
    op->heads = reinterpret_cast<const uint8_t*>(reader->m_heads.data());
    op->positions = reader->m_positions.data();

    const StRecData_t& first = reader->Rd(0);
    if (first.prevBlkId.get() != 0) {
        // The recording began in an earlier block: start at its first I frame.
        SFS_LOG(fn, "pDBH->recData.prevBlkId = %lu\n", (unsigned long)first.prevBlkId.get());
        if (reader->Seek(first.beginTime.get()) != 0) {
            std::memset(op, 0, sizeof *op);
            return -1;
        }
    }
    Publish(op, *reader);
    op->stream = reader.release();
    return 0;
}

}  // namespace

extern "C" {

RKSTORE_API int RKSFS_GeBlkBunchRecFile(const char* filePath, StBlkBunchRecFile_t* entries, size_t capacity)
{
    return Guarded([&] { return ListBlkBunchRecFiles(filePath, entries, capacity); });
}

RKSTORE_API int RKSFS_OpenBlkBunchRecFile(StBlkBunchRecFileOp_t* op, const StBlkBunchRecFile_t* entry)
{
    return Guarded([&] { return OpenBlkBunchRecFile(op, entry); });
}

RKSTORE_API int RKSFS_GetBlkBunchRecFileEncode(StBlkBunchRecFileOp_t* op, StRecEncode_t* encode,
                                               StAudioProp_t* audioProp)
{
    return Guarded([&] {
        CRecordReader* r = ReaderOf(op);
        if (!r || !encode) return -1;
        // The first block gives the picture; the first block with sound gives
        // the sound.
        for (uint32_t b = 0; b < r->m_heads.size(); ++b) {
            StRecEncode_t e;
            if (r->EncodeOfBlock(b, &e, nullptr, true) != 0) return -1;
            if (b == 0)
                *encode = e;
            else
                encode->aEnc = e.aEnc;
            if (e.aEnc != 0) {
                if (audioProp) r->EncodeOfBlock(b, nullptr, audioProp, false);
                return 0;
            }
        }
        return 0;
    });
}

RKSTORE_API int RKSFS_ReadBlkBuncRecFrame(StBlkBunchRecFileOp_t* op, uint8_t* buffer, size_t bufLen,
                                          RKSFS_FRAME_HEAD* head)
{
    return Guarded([&] {
        CRecordReader* r = ReaderOf(op);
        if (!r) return -1;
        const int rc = r->Read(buffer, bufLen, head);
        Publish(op, *r);
        return rc;
    });
}

RKSTORE_API int RKSFS_SeekBlkBuncRecTime(StBlkBunchRecFileOp_t* op, uint32_t tm)
{
    return Guarded([&] {
        CRecordReader* r = ReaderOf(op);
        if (!r) return -1;
        const int rc = r->Seek(tm);
        Publish(op, *r);
        return rc;
    });
}

RKSTORE_API int RKSFS_CloseBlkBunchRecFile(StBlkBunchRecFileOp_t* op)
{
    if (!op) return 0;
    delete ReaderOf(op);
    std::memset(op, 0, sizeof *op);
    return 0;
}

}  // extern "C"
