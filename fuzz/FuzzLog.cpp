// Feeds damaged recorder logs to the log store: the load must end, the query
// must keep its limits and order, and the entries must be valid UTF-8 with
// no empty slot among them.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/CodePage.h"
#include "common/IniFile.h"
#include "fuzz/FuzzLogInput.h"

using namespace velmor;
using namespace velmor::fuzz;

namespace {

struct FuzzFile {
    std::string path;
    CLanguageTable language{CIniFile::Parse("[Lang0]\nLog_Startup=Power on\nLog_UnknownType=Unknown type\n")};
    FuzzFile()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmor-fuzz-log-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        path = pattern + "/log.bin";
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDOUT_FILENO);
    }
};

FuzzFile& File()
{
    static FuzzFile file;
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const LogInput in = ParseLogInput(data, size);
    FuzzFile& f = File();
    const int fd = open(f.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) std::abort();
    if (!in.file.empty() && write(fd, in.file.data(), in.file.size()) != ssize_t(in.file.size())) std::abort();
    close(fd);

    CLogStore store;
    if (store.LoadLog(f.path) != 0) std::abort();
    for (const CLogStore::Ring* ring : {store.AlarmRing(), store.OperationRing()}) {
        if (ring->count > CLogStore::kRingSize || ring->writePos >= CLogStore::kRingSize) std::abort();
        for (uint32_t i = 0; i < ring->count; ++i) {
            if (ring->slots[i].type == kLogEmptyType || ring->slots[i].loaded != 0) std::abort();
            if (i > 0 && ring->slots[i].time.get() < ring->slots[i - 1].time.get()) std::abort();
        }
    }
    for (const LogQuery& q : {in.query, DefaultLogQuery(0)}) {
        const auto taken = store.Query(q);
        if (taken.size() > CLogStore::kMaxQueryRecords) std::abort();
        for (size_t i = 1; i < taken.size(); ++i)
            if (taken[i].time.get() < taken[i - 1].time.get()) std::abort();
        std::vector<LogEntry> entries;
        MakeLogEntries(taken, f.language, kRecorderLogSource, entries);
        for (const LogEntry& e : entries) {
            if (e.type == kLogEmptyType || !IsValidUtf8(e.remark) || e.timeText.size() < 20) std::abort();
            if (!e.remark.empty() && (e.remark.front() == ' ' || e.remark.back() == '\n')) std::abort();
        }
    }
    return 0;
}
