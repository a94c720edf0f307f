// Feeds damaged IFV files to the reader: open (at base 0 and, for some
// inputs, as an image inside a larger file), read every record, seek, read
// video only, probe the picture size, close. Every call must return one of
// its documented results, stay inside its buffers and end.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "player/formats/IfvFile.h"

namespace {

struct FuzzFile {
    std::string path;
    FuzzFile()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmor-fuzz-ifv-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        path = pattern + "/input.ifv";
    }
};

FuzzFile& File()
{
    static FuzzFile file;
    return file;
}

void Store(const std::string& path, size_t pad, const uint8_t* data, size_t size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) std::abort();
    const std::vector<uint8_t> zeros(pad, 0xA5);
    if ((pad && write(fd, zeros.data(), pad) != ssize_t(pad)) || (size && write(fd, data, size) != ssize_t(size)))
        std::abort();
    close(fd);
}

std::vector<uint8_t>& Buffer()
{
    static std::vector<uint8_t> buffer(RK_FILE_FRAME_BUFFER_SIZE);
    return buffer;
}

void CheckRead(int n, uint8_t kind)
{
    if (n < -1 || n > int(RK_FILE_FRAME_BUFFER_SIZE)) std::abort();
    if (n > 0 && kind > RK_FILE_MEDIA_ATTACH) std::abort();
}

int ReadMedia(FILEHANDLE* h, int limit)
{
    int n = 0;
    for (int i = 0; i < limit; ++i) {
        uint32_t ts = 0, duration = 0;
        uint64_t pts = 0;
        uint8_t key = 0, kind = 0;
        n = RK_FileReadOneMediaFrame2(h, Buffer().data(), &ts, &pts, &duration, &key, &kind);
        CheckRead(n, kind);
        if (n <= 0) break;
    }
    return n;
}

void ReadVideo(FILEHANDLE* h, int limit)
{
    for (int i = 0; i < limit; ++i) {
        uint32_t ts = 0, duration = 0;
        uint64_t pts = 0;
        uint8_t key = 0;
        const int n = RK_FileReadOneVideoFrame(h, Buffer().data(), &ts, &pts, &duration, &key);
        CheckRead(n, 0);
        if (n <= 0) break;
    }
}

void Exercise(const std::string& path, int64_t base, uint32_t seed)
{
    FILEHANDLE* h = RK_OpenFile2(path.c_str(), base, RK_FILE_MODE_READ);
    if (!h) return;
    const uint32_t begin = RK_FileGetStartTime(h);
    const uint32_t end = RK_FileGetEndTime(h);
    if (end < begin) std::abort();
    RK_FileGetDuration(h);
    RK_FileGetEventChannel(h);
    RK_FileGetVideoFrameCount(h);
    RK_FileGetAudioFrameSize(h);
    RK_FileHasAudio(h);

    // Every record, to the end; a file holds at most a few hundred
    // thousand, so a read that never ends is a hang.
    if (ReadMedia(h, 1000000) > 0) std::abort();

    const uint32_t span = end - begin;
    const int seek = RK_FileSeekToSysTime(h, uint32_t(begin + uint64_t(seed) % (uint64_t(span) + 3) - 1));
    if (seek < -1 || seek > 1) std::abort();
    ReadMedia(h, 64);
    const int seek2 = RK_FileSeekToTimeStamp(h, seed >> 8);
    if (seek2 < -1 || seek2 > 1) std::abort();
    ReadVideo(h, 1000000);
    ReadMedia(h, 64);
    if (seed & 1) {
        uint16_t w = 0, hgt = 0;
        const int found = RK_FileGetVideoSizeByIFrame(h, seed >> 4, int(seed & 2), &w, &hgt);
        if (found != 0 && found != 1) std::abort();
    }
    RK_CloseFile2(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzFile& file = File();
    uint32_t seed = 0;
    if (size >= 4) std::memcpy(&seed, data + size - 4, 4);
    Store(file.path, 0, data, size);
    Exercise(file.path, 0, seed);
    // Some inputs again as an image a few bytes into a larger file.
    if (size % 3 == 0) {
        const size_t pad = 1 + size % 61;
        Store(file.path, pad, data, size);
        Exercise(file.path, int64_t(pad), seed);
    }
    return 0;
}
