// Feeds arbitrary bytes as a backup record file to the backup reader.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "fuzz/FuzzStoreRead.h"

namespace {

const std::string& InputPath()
{
    static const std::string path = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmor-fuzz-bak-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        return pattern + "/input.rkrec";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = InputPath();
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, data, size) != ssize_t(size)) std::abort();
    close(fd);
    StRecBakFileOp_t op{};
    if (RKSFS_OpenBakRecFile(&op, path.c_str()) == 0) {
        StRecEncode_t enc;
        StAudioProp_t prop;
        RKSFS_GetBakRecFileEncode(&op, &enc, &prop);
        velmor::fuzz::ExerciseRecordFile(op, op.recFI, RKSFS_ReadBakRecFrame, RKSFS_SeekBakRecTime);
    }
    RKSFS_CloseBakRecFile(&op);
    return 0;
}
