// Arbitrary bytes as what clip export hands the media engine: access units
// for the MP4 writer and voice frames for the AAC and PCM converters. Every
// call either succeeds within its bounds or is refused, the output buffers
// are exactly as large as the interface promises, and the file is either
// finished under its name or not there at all.
//
// Input: byte 0 the compression type, byte 1 the options (bit 0: H.265),
// then records of a 2-byte little-endian length, a kind byte (0 key
// picture, 1 other picture, 2 voice frames) and the payload.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "media/include/rkmedia.h"
#include "media/src/mp4/AacConvert.h"
#include "media/src/mp4/RKMp4Convert.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

void Require(bool ok)
{
    if (!ok) __builtin_trap();
}

std::string OutputPath()
{
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/fuzz_mp4_writer-" + std::to_string(::getpid()) + ".mp4";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
    if (size < 2) return 0;
    const int compress = data[0] % 14;
    const int videoType = data[1] & 1;
    static const std::string path = OutputPath();

    rkmedia::CEncodeAAC aac;
    aac.InitAACEncoder(1, 8000, 0, compress);
    rkmedia::CDecordPCM pcm;
    Require(pcm.Init(1, 8000, 0, compress) == 1);
    bool finished = false;
    {
        rkmedia::CRKMp4Convert writer;
        const int created = writer.CreateMp4File(path.c_str(), 64, 48, videoType, 25);
        size_t at = 2;
        while (size - at >= 3) {
            const size_t n = std::min<size_t>(size_t(data[at] | (data[at + 1] << 8)), size - at - 3);
            const uint8_t kind = data[at + 2];
            at += 3;
            // A copy of exactly the payload, so that any read past it is caught.
            auto payload = std::make_unique<uint8_t[]>(n ? n : 1);
            std::copy(data + at, data + at + n, payload.get());
            at += n;
            if (kind == 2) {
                auto out = std::make_unique<uint8_t[]>(size_t(RKPLAYER_PCM_MAX_BYTES(n ? n : 1)));
                int bytes = -1;
                const int got = pcm.Decode(payload.get(), int(n), out.get(), &bytes);
                Require(got == (bytes > 0 ? 1 : 0));
                Require(bytes >= 0 && bytes <= RKPLAYER_PCM_MAX_BYTES(int(n)));
                auto frame = std::make_unique<uint8_t[]>(RKPLAYER_AAC_MAX_FRAME_BYTES);
                int length = -1;
                if (aac.Encoder(payload.get(), int(n), frame.get(), &length) == 1) {
                    Require(length > 0 && length <= RKPLAYER_AAC_MAX_FRAME_BYTES);
                    if (created == 0) writer.WriteMp4AudioFile(frame.get(), length);
                } else {
                    Require(length == 0);
                }
            } else if (created == 0) {
                const int64_t before = writer.FrameCounter();
                const bool waiting = writer.WaitingKeyFrame();
                const int ret = writer.WriteMp4VideoFile(payload.get(), int(n), kind == 0 ? 3 : 0, at);
                // Nothing goes in before the first key picture; at most one picture per call.
                if (waiting && kind != 0) Require(ret == -1 && writer.FrameCounter() == before);
                Require(writer.FrameCounter() - before <= 1);
            }
        }
        if (created == 0) finished = writer.CloseMp4File() == 0;
    }
    Require(!std::filesystem::exists(rkmedia::CRKMp4Convert::PartialPath(path)));
    Require(finished == std::filesystem::exists(path));
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return 0;
}
