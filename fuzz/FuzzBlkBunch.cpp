// Feeds damaged container files to the block-bunch listing, then opens and
// reads every record file it lists.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FuzzContainerInput.h"
#include "fuzz/FuzzStoreRead.h"

using namespace velmor::fuzz;

namespace {

struct Files {
    std::string path[2];
    int fd[2] = {-1, -1};
    Files()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmor-fuzz-bunch-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        path[0] = pattern + "/fc00001.rpo";
        path[1] = pattern + "/fc00128.rpo";
        for (int i = 0; i < 2; ++i) {
            fd[i] = open(path[i].c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
            if (fd[i] < 0 || ftruncate(fd[i], 0x8000000) != 0) std::abort();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Files files;
    const ContainerInput in = ParseContainerInput(data, size);
    const int which = in.indexFile ? 1 : 0;
    for (const Piece& p : in.pieces)
        if (pwrite(files.fd[which], p.bytes.data(), p.bytes.size(), off_t(PieceOffset(p))) < 0) std::abort();

    std::vector<StBlkBunchRecFile_t> entries(8);
    const int n = RKSFS_GeBlkBunchRecFile(files.path[which].c_str(), entries.data(), entries.size());
    if (n > int(entries.size()) + 1) std::abort();
    for (int i = 0; i < n && i < int(entries.size()); ++i) {
        StBlkBunchRecFileOp_t op{};
        if (RKSFS_OpenBlkBunchRecFile(&op, &entries[size_t(i)]) == 0) {
            StRecEncode_t enc;
            RKSFS_GetBlkBunchRecFileEncode(&op, &enc, nullptr);
            ExerciseRecordFile(op, op.blkBunchFI.recFI, RKSFS_ReadBlkBuncRecFrame, RKSFS_SeekBlkBuncRecTime);
        }
        RKSFS_CloseBlkBunchRecFile(&op);
    }

    std::vector<uint8_t> zeros;
    for (const Piece& p : in.pieces) {
        zeros.assign(p.bytes.size(), 0);
        if (pwrite(files.fd[which], zeros.data(), zeros.size(), off_t(PieceOffset(p))) < 0) std::abort();
    }
    return 0;
}
