// Writes seed inputs for fuzz_ifv: small IFV files made by the writer, with
// and without audio and attach records, one of two segments, one empty.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "player/formats/IfvFile.h"

namespace {

struct Seed {
    const char* name;
    uint32_t videoFrames;
    uint32_t audioEveryMs;   // 0: none
    uint32_t attachEveryMs;  // 0: none
    int codec;
};

bool Write(const std::filesystem::path& path, const Seed& s)
{
    FILEHANDLE* w = RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_WRITE);
    if (!w) return false;
    if (s.videoFrames) RK_FileSetVideoParam(w, 320, 240, 25.0f, s.codec);
    if (s.audioEveryMs) RK_FileSetAudioParam(w, 1, 16, 8000, 11, 320, 40);
    if (s.attachEveryMs) RK_FileEnableAttach(w);
    RK_FileSetStartTime(w, 1765188000);
    std::vector<uint8_t> payload(120);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 37 + 11);
    const uint32_t endMs = s.videoFrames ? s.videoFrames * 40 : 3000;
    uint32_t v = 0, a = 0, x = 0;
    for (uint32_t t = 0; t < endMs; t += 10) {
        if (v < s.videoFrames && t == v * 40) {
            // Small frames keep two segments of video under 200 KiB.
            const uint32_t len = s.videoFrames > 3000 ? 1 : 4 + v % 9;
            RK_FileWriteVideoFrame(w, payload.data(), len, t, v % 10 == 0 ? (v % 20 ? 3 : 5) : 1, 1000ull * t, nullptr);
            ++v;
        }
        if (s.audioEveryMs && t == a * s.audioEveryMs) {
            RK_FileWriteAudioFrame(w, payload.data() + 3, 6, t, nullptr);
            ++a;
        }
        if (s.attachEveryMs && t == x * s.attachEveryMs) {
            RK_FileWriteAttachFrame(w, payload.data(), 75, t, nullptr);
            ++x;
        }
    }
    return RK_CloseFile2(w) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_ifv_seeds DIR\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    const Seed seeds[] = {
        {"video", 30, 0, 0, 0},
        {"video-audio-attach", 60, 100, 1000, 1},
        {"audio-attach", 0, 40, 500, 0},
        {"two-segments", 3020, 0, 0, 0},
        {"empty", 0, 0, 0, 0},
    };
    int n = 0;
    for (const Seed& s : seeds) {
        if (!Write(out / (std::string("seed-") + s.name + ".ifv"), s)) {
            std::fprintf(stderr, "make_ifv_seeds: cannot write %s\n", s.name);
            return 1;
        }
        ++n;
    }
    std::fprintf(stderr, "make_ifv_seeds: %d seeds in %s\n", n, out.c_str());
    return 0;
}
