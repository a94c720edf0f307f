// Feeds damaged grec files to the grec reader of the plugin, from memory:
// open, describe, read every frame, seek to a few seconds (the input's last
// bytes choose them), read on, start over. Every call must return one of its
// documented results, stay inside its buffers and end.
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "plugins/ttx/src/GrecReader.h"

using velmor::ttx::CGrecReader;
using velmor::ttx::GrecFrame;

namespace {

// Reading stops after this many frames: a fuzzer input is small, and a
// reader that keeps handing out frames from a few kilobytes is a finding.
constexpr int kFrameLimit = 20000;

void ReadSome(CGrecReader& reader, int limit)
{
    GrecFrame f;
    for (int i = 0; i < limit; ++i) {
        const int rc = reader.Next(f);
        if (rc != 1) {
            if (rc != 0 && rc != AVFILE_ERR_READ) __builtin_trap();
            return;
        }
        if (f.data.empty() || f.data.size() > AVFILE_MAX_FRAME_SIZE) __builtin_trap();
        if (f.type == AVFILE_FRAME_INFO && f.data.size() != 75) __builtin_trap();
        if (f.timeUs < reader.Info().beginTime) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
    int code = 0;
    std::string error;
    auto reader = CGrecReader::Open(velmor::ttx::MemorySource(data, size), code, error);
    if (!reader) {
        if (code >= 0 || error.empty()) __builtin_trap();
        return 0;
    }
    const AVFILE_FILE_INFO& info = reader->Info();
    if (info.endTime < info.beginTime || info.width < 1 || info.height < 1) __builtin_trap();
    ReadSome(*reader, kFrameLimit);
    const uint64_t span = info.endTime - info.beginTime;
    for (size_t k = 0; k < 3 && k < size; ++k) {
        const uint64_t t = info.beginTime + (span + 2000000) * data[size - 1 - k] / 255;
        const int rc = reader->SeekIFrame(t);
        if (rc == AVFILE_OK) {
            GrecFrame f;
            const int got = reader->Next(f);
            if (got == 1 && (f.type != AVFILE_FRAME_VIDEO || !f.key)) __builtin_trap();
            ReadSome(*reader, 50);
        } else if (rc != AVFILE_ERR_RANGE && rc != AVFILE_ERR_READ && rc != AVFILE_ERR_FORMAT &&
                   rc != AVFILE_ERR_MEMORY && rc != AVFILE_ERR_OPEN) {
            __builtin_trap();
        }
    }
    if (reader->SeekBegin() == AVFILE_OK) ReadSome(*reader, 50);
    return 0;
}
