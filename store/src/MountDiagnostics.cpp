// Diagnostics on a mounted partition: dumps of the head set and
// of the index block heads.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "store/include/rkstore.h"
#include "store/src/StoreDiagnostics.h"
#include "store/src/StoreLog.h"
#include "store/src/StoreState.h"

namespace {

std::string HexPairs(const uint8_t* p, size_t n)
{
    std::string hex;
    char pair[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", p[i]);
        hex += pair;
        if (i % 32 == 31 && i + 1 < n) hex += '\n';
    }
    return hex;
}

bool DumpDirOk(const char* dir)
{
    if (dir && strnlen(dir, rkstore::kMaxMntDirLen + 1) <= rkstore::kMaxMntDirLen) return true;
    rkfs::LogLine("argument error\n");
    return false;
}

}  // namespace

extern "C" RKSTORE_API void RKSFS_DumpDataBlockHead(const char* pMntDir, uint32_t blkId)
{
    const char* fn = "RKSFS_DumpDataBlockHead";
    if (!DumpDirOk(pMntDir)) return;
    SFS_INFO(fn, "pMntDir = %s, blkId = %lu\n", pMntDir, (unsigned long)blkId);
    try {
        std::unique_lock<std::mutex> lock;
        rkstore::MountSlot* m = rkstore::FindMount(pMntDir, lock, fn);
        if (!m || blkId >= m->blkCnt) return;
        rkstore::PrintDataBlockHead(m->heads[blkId]);
    } catch (...) {
    }
}

extern "C" RKSTORE_API void RKSFS_DumpIndexBlockHead(const char* pMntDir, size_t idxId)
{
    const char* fn = "RKSFS_DumpIndexBlockHead";
    if (!DumpDirOk(pMntDir)) return;
    SFS_INFO(fn, "pMntDir = %s, idxId = %zu\n", pMntDir, idxId);
    try {
        std::unique_lock<std::mutex> lock;
        rkstore::MountSlot* m = rkstore::FindMount(pMntDir, lock, fn);
        if (!m) return;
        SFS_INFO(fn, "pFileContOp->latestCnt = %lu\n", (unsigned long)m->latestCnt);
        const size_t i = idxId < size_t(m->latestCnt) ? idxId : 0;
        uint8_t raw[sizeof(rkfs::StIndexBlockHead_t)];
        rkfs::StoreStruct(raw, m->latestIBH[i]);
        rkfs::LogInfo("%s\n", HexPairs(raw, sizeof raw).c_str());
    } catch (...) {
    }
}

extern "C" RKSTORE_API void RKSFS_HexDump64(const char* pMntDir, uint64_t first, uint64_t second, size_t size)
{
    const char* fn = "RKSFS_HexDump64";
    (void)first;
    (void)second;
    if (!DumpDirOk(pMntDir)) return;
    void* p = std::calloc(1, size ? size : 1);
    if (!p) {
        SFS_LOG(fn, "calloc fail, errno = %d, means: %s\n", errno, std::strerror(errno));
        return;
    }
    std::free(p);
}

extern "C" RKSTORE_API void RKSFS_ExamineMemory(const void* buffer, size_t count)
{
    SFS_INFO("RKSFS_ExamineMemory", "buf = %p, count = %zu\n", buffer, count);
    if (!buffer) return;
    rkfs::LogInfo("%s\n", HexPairs(static_cast<const uint8_t*>(buffer), count).c_str());
}
