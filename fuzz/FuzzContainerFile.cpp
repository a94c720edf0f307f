// Feeds damaged container files to the container file reader: every call
// must return one of its results, stay inside its buffers and end.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "container/src/SingleRpoFile.h"
#include "fuzz/FuzzContainerInput.h"

using namespace velmor::fuzz;

namespace {

struct FuzzFiles {
    std::string dir;
    std::string path[2];
    int fd[2] = {-1, -1};
    FuzzFiles()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmor-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        dir = pattern;
        path[0] = dir + "/fc00001.rpo";
        path[1] = dir + "/fc00128.rpo";
        for (int i = 0; i < 2; ++i) {
            fd[i] = open(path[i].c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
            if (fd[i] < 0 || ftruncate(fd[i], 0x8000000) != 0) std::abort();
        }
    }
};

FuzzFiles& Files()
{
    static FuzzFiles files;
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const ContainerInput in = ParseContainerInput(data, size);
    FuzzFiles& files = Files();
    const int which = in.indexFile ? 1 : 0;
    for (const Piece& p : in.pieces)
        if (pwrite(files.fd[which], p.bytes.data(), p.bytes.size(), off_t(PieceOffset(p))) < 0) std::abort();

    {
        rkcontainer::CSingleRpoFile reader;
        if (reader.SingleFileOpen(files.path[which].c_str()) == 0) {
            uint32_t b = 0, e = 0, m = 0;
            char car[16] = {};
            reader.SingleFileGetFileInfo(0xFFFF, &b, &e, &m, car);
            uint32_t streams = 0;
            if (reader.GetChannelStreams(in.channel, &streams) == 0 && streams > 3) std::abort();
            // Runs come sorted, apart and never ending before they begin.
            std::vector<std::pair<uint32_t, uint32_t>> runs;
            if (reader.GetChannelSpans(in.channel, &runs) == 0) {
                if (runs.size() > 32) std::abort();
                for (size_t i = 0; i < runs.size(); ++i) {
                    if (runs[i].second < runs[i].first) std::abort();
                    if (i > 0 && uint64_t(runs[i].first) <= uint64_t(runs[i - 1].second) + 1) std::abort();
                }
            }
            if (reader.SetStream(in.stream) != (in.stream <= 2 ? 0 : -1)) std::abort();
            rkfs::StEncodeRecord_t enc{};
            if (reader.GetOneChannelFileInfo(in.channel, &b, &e, &enc) == 0) {
                if (in.seek) reader.SingleFileSeekIFrame(in.seekTime, &enc);
                // Exactly the buffer size the interface asks callers for.
                std::vector<uint8_t> buffer(0x7FFF0);
                for (int calls = 0; calls < 100000; ++calls) {
                    rkfs::StFrameHead_t head{};
                    int rc = reader.SingleFileReadOneFrame(buffer.data(), &head, &enc);
                    if (rc == -4 || rc == -1) break;
                    if (rc != 0 && rc != -2) std::abort();
                }
            }
        }
    }

    // Put the file back to all zeros for the next input.
    std::vector<uint8_t> zeros;
    for (const Piece& p : in.pieces) {
        zeros.assign(p.bytes.size(), 0);
        if (pwrite(files.fd[which], zeros.data(), zeros.size(), off_t(PieceOffset(p))) < 0) std::abort();
    }
    return 0;
}
