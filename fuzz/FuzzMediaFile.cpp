// Feeds damaged media files to the frame source's media file reader: open,
// read every picture, seek into the file and past its end, read again. Every
// call must answer one of its documented results, hand out only frames that
// lie inside their buffer, keep the end and damage sticky, and end.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "player/playback/FrameSource.h"

namespace {

const std::string& InputPath()
{
    static const std::string path = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmor-fuzz-media-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        return pattern + "/input.mp4";
    }();
    return path;
}

bool Known(velmor::EFrameResult rc)
{
    using velmor::EFrameResult;
    return rc == EFrameResult::kOk || rc == EFrameResult::kEnd || rc == EFrameResult::kReadFailed;
}

// Reads up to `limit` frames; returns the last result.
velmor::EFrameResult ReadAll(velmor::CFrameSource& source, int limit)
{
    velmor::SourceFrame f;
    velmor::EFrameResult rc = velmor::EFrameResult::kOk;
    for (int i = 0; i < limit && (rc = source.Read(f)) == velmor::EFrameResult::kOk; ++i) {
        if (f.kind != velmor::EFrameKind::kVideo || !f.data || f.length == 0) std::abort();
        // Touch both ends of the frame: a short buffer shows under the sanitizer.
        volatile uint8_t edge = f.data[0] ^ f.data[f.length - 1];
        (void)edge;
    }
    if (!Known(rc)) std::abort();
    if (rc != velmor::EFrameResult::kOk && source.Read(f) != rc) std::abort();  // sticky
    return rc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        std::ofstream out(InputPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
        if (!out) std::abort();
    }
    auto source = velmor::CFrameSource::OpenMediaFile(InputPath(), 0);
    if (source->OpenResult() != velmor::EFrameResult::kOk) {
        if (source->ErrorText().empty()) std::abort();
        return 0;
    }
    const velmor::SourceStream s = source->Stream();
    if (s.end < s.begin) std::abort();
    ReadAll(*source, 2000);
    const velmor::EFrameResult seek = source->Seek(s.begin + (s.end - s.begin) / 2);
    if (seek == velmor::EFrameResult::kOk)
        ReadAll(*source, 200);
    else if (seek != velmor::EFrameResult::kSeekFailed || source->ErrorText().empty())
        std::abort();
    if (s.end < UINT32_MAX && source->Seek(s.end + 1) != velmor::EFrameResult::kSeekFailed) std::abort();
    return 0;
}
