// Writes seed inputs for fuzz_voice: for every mode, a few frames of a tone
// from the voice encoder, behind the mode and option bytes the fuzzer reads.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/src/audio/VoiceCodec.h"

namespace voice = rkmedia::voice;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_voice_seeds DIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    const uint16_t modes[] = {1, 2, 65, 66, 3, 35, 67, 4, 5, 6, 7, 36, 37, 38, 39, 68};
    std::vector<int16_t> pcm(3 * 481);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = int16_t(std::lround(12000.0 * std::sin(0.05 * double(i)) * std::cos(0.011 * double(i))));
    int written = 0;
    for (size_t m = 0; m < sizeof modes / sizeof modes[0]; ++m) {
        for (uint8_t options : {0, 2}) {
            const size_t n = modes[m] == 35 ? 321 : modes[m] == 67 ? 480 : 320;
            std::vector<uint8_t> seed = {uint8_t(m), options};
            alignas(8) uint8_t state[VOICE_STATE_SIZE] = {};
            voice::EncReset(state, modes[m]);
            for (size_t f = 0; f < 3; ++f) {
                uint8_t frame[VOICE_MAX_FRAME_BYTES];
                if (voice::EncodeFrame(state, pcm.data() + f * n, frame, unsigned(n)) != VOICE_OK) return 1;
                seed.insert(seed.end(), frame, frame + VOICE_FRAME_HEADER_SIZE + 2 * frame[2]);
            }
            const auto file = dir / ("mode" + std::to_string(modes[m]) + "_" + std::to_string(options));
            std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(seed.data()), long(seed.size()));
            ++written;
        }
    }
    std::printf("%d seeds in %s\n", written, dir.c_str());
    return 0;
}
