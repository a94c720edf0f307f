// Backup record files: a recording exported as one plain file.
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "common/IniFile.h"
#include "store/src/RecFileInfo.h"
#include "store/src/RecordReader.h"
#include "store/src/StoreDiagnostics.h"
#include "store/src/StoreLog.h"

using namespace rkfs;
using rkstore::CRecordReader;
using rkstore::Guarded;

namespace {

const rkstore::ReaderNames kBakNames{
    "RKSFS_ReadBakRecFrame", "RKSFS_SeekBakRecTime", "RKSFS_GetBakRecFileEncode", "RKSFS_RecBakFile",
    "tiBlkSize",
};

CRecordReader* ReaderOf(const StRecBakFileOp_t* op) { return op ? static_cast<CRecordReader*>(op->stream) : nullptr; }

// The caller's structure shows the reader's position after every call.
void Publish(StRecBakFileOp_t* op, const CRecordReader& r)
{
    std::memcpy(op->pendingHead, r.m_pos.pending, sizeof op->pendingHead);
    op->frmHeadWrSize = r.m_pos.frmHeadWrSize;
    op->curOffset = r.m_pos.curOffset;
    op->curB = r.m_pos.curB;
    op->curBlkOff = r.m_pos.curBlkOff;
}

int OpenBakRecFile(StRecBakFileOp_t* op, const char* filePath)
{
    const char* fn = "RKSFS_OpenBakRecFile";
    if (!op || !filePath) return -1;
    const size_t len = std::strlen(filePath);
    if (len >= 4 && velmor::EqualsNoCase(std::string_view(filePath + len - 4), ".rpo")) {
        SFS_LOG(fn, "pFilePath = %s, suffix conflict.\n", filePath);
        return -1;
    }
    if (len == 0 || len >= sizeof op->filePath) {
        SFS_LOG(fn, "pathLen = %zu, sizeof(pOp->filePath) = %zu\n", len, sizeof op->filePath);
        return -1;
    }
    auto reader = std::make_unique<CRecordReader>(CRecordReader::Layout::kBackupFile, kBakNames);
    int err = 0;
    if (!reader->m_file.Open(filePath, &err)) {
        SFS_LOG(fn, "errno = %d, means: %s\n", err, std::strerror(err));
        return -1;
    }
    const int64_t size = reader->m_file.Size();
    if (size < int64_t(kMinBackupFileSize)) {
        SFS_LOG(fn, "fileSize = %ld too little\n", long(size));
        return -1;
    }

    // Walk the stored blocks: each head area is followed by the block's data.
    auto& heads = reader->m_heads;
    size_t room = size_t((uint64_t(size) + 0x3FFFFF) >> 22) + 2;
    heads.reserve(room);
    uint8_t area[kHeadAreaSize];
    int64_t pos = 0;
    if (reader->m_file.ReadAt(0, area, sizeof area) != sizeof area) {
        SFS_LOG(fn, "dataBlkCnt = %lu, curPos = %ld\n", 0ul, long(pos));
        return -1;
    }
    for (;;) {
        auto block = LoadStruct<StRecHeadArea_t>(area);
        bool ok = CheckBakRecBlockHead(block.head) == HeadFault::kOk;
        if (ok && !heads.empty()) ok = block.head.recData.lend.get() == heads.back().head.recData.borrow.get();
        if (!ok) {
            SFS_LOG(fn, "dataBlkCnt = %lu, curPos = %ld\n", (unsigned long)heads.size(), long(pos));
            rkstore::PrintDataBlockHead(block.head);
            break;
        }
        if (heads.size() == room) {
            room *= 2;
            SFS_LOG(fn, "dataBlkCnt = %lu\n", (unsigned long)heads.size());
            heads.reserve(room);
        }
        heads.push_back(block);
        pos += int64_t(rkstore::StoredBlockSize(block.head.recData, heads.size() == 1));
        if (pos > size) {
            // The file was cut inside this block: it ends where the file does.
            SFS_LOG(fn, "dbhTail = %lu, fileSize = %ld\n", (unsigned long)pos, long(size));
            StRecData_t& rd = heads.back().head.recData;
            rd.borrow.set(0);
            rd.useSize.set(uint32_t(rd.useSize.get() - uint32_t(pos - size)));
            SealHead(heads.back().head);
            pos = size;
            break;
        }
        if (pos == size) break;
        if (reader->m_file.ReadAt(uint64_t(pos), area, sizeof area) != sizeof area) break;
    }
    if (heads.empty()) {
        SFS_LOG(fn, "dataBlkCnt = %lu, curPos = %ld\n", 0ul, long(pos));
        return -1;
    }
    if (pos != size) SFS_LOG(fn, "dbhTail = %lu, fileSize = %ld\n", (unsigned long)pos, long(size));

    reader->m_path = filePath;
    reader->m_info = rkstore::MakeRecFileInfo(heads, fn);
    reader->Prepare();
    // A recording that begins inside an earlier one does not start with a
    // whole frame of its own: play it from its first I frame.
    if (heads.front().head.recData.lend.get() != 0) reader->PositionOnFirstIFrame();

    std::memset(op, 0, sizeof *op);
    std::memcpy(op->filePath, filePath, len + 1);
    op->recFI = reader->m_info;
    op->maxFrameSize = reader->m_maxFrameSize;
    op->dataBlkCnt = uint32_t(heads.size());
    op->heads = reinterpret_cast<const uint8_t*>(heads.data());
    Publish(op, *reader);
    op->stream = reader.release();
    return 0;
}

}  // namespace

extern "C" {

RKSTORE_API int RKSFS_OpenBakRecFile(StRecBakFileOp_t* op, const char* filePath)
{
    return Guarded([&] { return OpenBakRecFile(op, filePath); });
}

RKSTORE_API int RKSFS_GetBakRecFileEncode(StRecBakFileOp_t* op, StRecEncode_t* encode, StAudioProp_t* audioProp)
{
    return Guarded([&] {
        CRecordReader* r = ReaderOf(op);
        if (!r || r->m_pos.curB >= r->m_heads.size()) return -1;
        return r->EncodeOfBlock(r->m_pos.curB, encode, audioProp, true);
    });
}

RKSTORE_API int RKSFS_ReadBakRecFrame(StRecBakFileOp_t* op, uint8_t* buffer, size_t bufLen, RKSFS_FRAME_HEAD* head)
{
    return Guarded([&] {
        CRecordReader* r = ReaderOf(op);
        if (!r) return -1;
        const int rc = r->Read(buffer, bufLen, head);
        Publish(op, *r);
        return rc;
    });
}

RKSTORE_API int RKSFS_SeekBakRecTime(StRecBakFileOp_t* op, uint32_t tm)
{
    return Guarded([&] {
        CRecordReader* r = ReaderOf(op);
        if (!r) return -1;
        const int rc = r->Seek(tm);
        Publish(op, *r);
        return rc;
    });
}

RKSTORE_API int RKSFS_CloseBakRecFile(StRecBakFileOp_t* op)
{
    if (!op) return 0;
    delete ReaderOf(op);
    std::memset(op, 0, sizeof *op);
    return 0;
}

RKSTORE_API int RKSFS_ConvResolution(uint32_t* reso, uint32_t* width, uint32_t* height, uint32_t* videoStandard,
                                     uint8_t direction)
{
    const char* fn = "RKSFS_ConvResolution";
    if (!reso || !width || !height || !videoStandard) return -1;
    if (direction) {
        if (!ResolutionSize(*reso, *videoStandard, width, height)) {
            SFS_LOG(fn, "res = %d isn't supported now\n", int(*reso));
            return -1;
        }
        return 0;
    }
    if (!ResolutionCode(*width, *height, reso, videoStandard)) {
        SFS_LOG(fn, "width = %u, height = %u isn't supported now\n", *width, *height);
        return -1;
    }
    return 0;
}

}  // extern "C"
