// Writes seed inputs for fuzz_bak_rec_file: small backup record files of one
// to four blocks, ended early so they stay small, with video, audio and
// information frames, many I frames, and a continued first block.
#include <cstdio>
#include <filesystem>

#include "tests/support/BackupWriter.h"
#include "tests/support/Payload.h"

using namespace velmor::fixtures;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_bak_rec_file_seeds DIR\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    const uint64_t t0 = uint64_t(1765188000) * 1000000;
    int n = 0;
    for (int blocks = 1; blocks <= 4; ++blocks) {
        CBackupFileImage image(0x800000);
        RecordingParams params;
        params.channel = uint8_t(blocks);
        params.encode = {1, 0, 1, 2, 25};
        CRecordWriter w(image, params);
        auto p = MakePayload(uint64_t(blocks), 300);
        uint64_t pts = t0;
        for (int b = 0; b < blocks; ++b) {
            for (int i = 0; i < 12; ++i, pts += 100000) {
                w.WriteFrame(i % 4 == 0 ? 1 : 2, pts, p.data(), 100 + uint32_t(i) * 10);
                w.WriteFrame(4, pts, p.data(), 40);
                if (i % 10 == 0) w.WriteFrame(5, pts, p.data(), 75);
            }
            w.EndBlock();
        }
        w.Close();
        image.Save(out / ("seed-" + std::to_string(n++) + ".rkrec"));
        if (blocks > 1) {
            std::vector<uint32_t> tail(w.Blocks().begin() + 1, w.Blocks().end());
            image.Save(out / ("seed-" + std::to_string(n++) + ".rkrec"), tail);
        }
    }
    std::fprintf(stderr, "make_bak_rec_file_seeds: %d seeds in %s\n", n, out.c_str());
    return 0;
}
