// Feeds damaged index files to the index search: count and fetch must agree,
// stay inside the caller's buffer, hand out sorted records that keep the
// filter, and end.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzIndexInput.h"
#include "index/format/RkIndexFormat.h"
#include "index/format/SearchRecord.h"
#include "index/include/rkindex.h"

using namespace velmor::fuzz;

namespace {

struct FuzzFolder {
    std::string dir;
    FuzzFolder()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmor-fuzz-index-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        dir = pattern;
        // The library's diagnostics would flood the fuzzer's output.
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDOUT_FILENO);
    }
};

FuzzFolder& Folder()
{
    static FuzzFolder folder;
    return folder;
}

void Store(const std::string& path, const std::vector<uint8_t>& bytes)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) std::abort();
    if (!bytes.empty() && write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) std::abort();
    close(fd);
}

void Mend(IndexInput& in)
{
    std::vector<uint8_t>& f = in.file;
    if (in.flags & kFixLength) {
        if (f.size() < rkindex::kHeaderSize) f.resize(rkindex::kHeaderSize);
        uint32_t n = velmor::LoadLE32(f.data() + 16);
        if (n > kMaxFuzzEntries) {
            n = n % kMaxFuzzEntries + 1;
            velmor::StoreLE32(f.data() + 16, n);
        }
        f.resize(rkindex::IndexFileSize(n));
    }
    if ((in.flags & kFixChecksum) && f.size() >= rkindex::kHeaderSize)
        velmor::StoreLE32(f.data() + rkindex::kChecksumSpan, rkindex::HeaderChecksum(f.data()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    IndexInput in = ParseIndexInput(data, size);
    Mend(in);
    const std::string& dir = Folder().dir;
    const std::string main = dir + (in.flags & kNamesFile ? "/myindex_a.bin" : "/index00.bin");
    const std::string backup = dir + (in.flags & kNamesFile ? "/myindex_b.bin" : "/index01.bin");
    unlink((dir + "/index00.bin").c_str());
    unlink((dir + "/index01.bin").c_str());
    unlink((dir + "/myindex_a.bin").c_str());
    unlink((dir + "/myindex_b.bin").c_str());
    unlink((dir + "/file.bin").c_str());
    if (in.flags & kNamesFile) {
        std::vector<uint8_t> names(64, 0);
        std::memcpy(names.data(), "myindex_a.bin", 13);
        std::memcpy(names.data() + 32, "myindex_b.bin", 13);
        Store(dir + "/file.bin", names);
    }
    if (in.flags & kAsBackup) {
        Store(main, std::vector<uint8_t>(100, 0));
        Store(backup, in.file);
    } else {
        Store(main, in.file);
    }

    RKFILE_SEARCH_FILTER filter{};
    filter.chnMask = in.chnMask;
    filter.typeMask = in.typeMask;
    filter.startTime = in.startTime;
    filter.endTime = in.endTime;
    filter.classFilter = in.classFilter;
    const char* folders[] = {dir.c_str()};
    const int count = RKFile_SearchGetFileCount(folders, 1, &filter);
    if (count < 0) std::abort();
    if (in.typeMask == 0 && count != 0) std::abort();
    const int capacity = in.capacity ? in.capacity : count + 1;
    // Room for exactly `capacity` records: ASan sees any write past it.
    std::vector<velmor::StSearchRecord_t> records(static_cast<size_t>(capacity));
    std::memset(static_cast<void*>(records.data()), 0, records.size() * sizeof records[0]);
    const int got = RKFile_SeacrhFile(folders, 1, &filter, records.data(), capacity);
    if (count > capacity ? got != -1 : got != count) std::abort();
    const int n = got < 0 ? capacity : got;
    for (int i = 0; i < n; ++i) {
        const auto& r = records[size_t(i)];
        if (i > 0 && r.beginTime.get() < records[size_t(i) - 1].beginTime.get()) std::abort();
        if (r.kind != velmor::kSourceIndexDisk || r.folderNo != 0 || r.length.get() == 0) std::abort();
        if ((r.flags & rkindex::kTypeBits) == 0) std::abort();
        if (r.beginTime.get() >= in.endTime || r.endTime.get() <= in.startTime) std::abort();
        if (r.endTime.get() < r.beginTime.get()) std::abort();
    }
    return 0;
}
