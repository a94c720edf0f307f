// Decoding a G.726 voice stream (32 kbit/s, code words most-significant bit
// first, 40 ms frames) through the media engine's voice codec, against
// FFmpeg's G.726 decoder reading the same code words as a raw stream, on
// one thread with the output thrown away. Both read their input from a warm
// page cache.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <vector>

#include "bench/Bench.h"
#include "media/include/rkmedia.h"
#include "tests/support/Payload.h"

namespace velmor::bench {
namespace {

volatile uint64_t g_sink = 0;

constexpr size_t kFrameSamples = 320;
constexpr size_t kFrames = 8000 * 60 * 30 / kFrameSamples;  // half an hour

struct VoiceFiles {
    std::filesystem::path frames;  // voice frames, header and payload
    std::filesystem::path raw;     // the payloads alone, as FFmpeg's "g726" format
};

// Speech-like: two wandering tones under a syllable envelope, some noise.
std::vector<int16_t> Speech(size_t n, uint64_t seed)
{
    std::vector<int16_t> pcm(n);
    fixtures::CSplitMix64 rng(seed);
    double p1 = 0, p2 = 0;
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / 8000.0;
        p1 += 2 * std::numbers::pi * (140.0 + 60.0 * std::sin(2 * std::numbers::pi * 0.5 * t)) / 8000.0;
        p2 += 2 * std::numbers::pi * (1100.0 + 600.0 * std::sin(2 * std::numbers::pi * 0.17 * t)) / 8000.0;
        const double env = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 2.7 * t);
        const double noise = (double(rng.Next() % 2001) - 1000.0) / 1000.0;
        pcm[i] = int16_t(std::lround(12000.0 * (env * (0.6 * std::sin(p1) + 0.3 * std::sin(p2)) + 0.05 * noise)));
    }
    return pcm;
}

VoiceFiles MakeVoiceFiles()
{
    const VoiceFiles files{DataDir() / "voice.frames", DataDir() / "voice.g726"};
    const auto stamp = DataDir() / "voice.v1";
    if (std::filesystem::exists(stamp)) return files;
    std::fprintf(stderr, "velmor-bench: writing %s\n", files.frames.c_str());
    std::ofstream frames(files.frames, std::ios::binary), raw(files.raw, std::ios::binary);
    std::vector<uint8_t> state(VOICE_STATE_SIZE);
    VOICE_EncReset(state.data(), VOICE_MODE_G726_32_MSB);
    uint8_t frame[VOICE_MAX_FRAME_BYTES];
    for (size_t f = 0; f < kFrames; f += 250) {
        const auto pcm = Speech(250 * kFrameSamples, f);
        for (size_t k = 0; k < 250 && f + k < kFrames; ++k) {
            VOICE_EncodeFrame(state.data(), pcm.data() + k * kFrameSamples, frame, kFrameSamples);
            const size_t payload = 2 * size_t(frame[2]);
            frames.write(reinterpret_cast<const char*>(frame), std::streamsize(4 + payload));
            raw.write(reinterpret_cast<const char*>(frame + 4), std::streamsize(payload));
        }
    }
    frames.close();
    raw.close();
    std::ofstream(stamp).put('1');
    return files;
}

// Reads the frames file and decodes every frame; returns the samples.
uint64_t DecodeFrames(const std::filesystem::path& path, uint64_t& checksum)
{
    std::vector<uint8_t> data(std::filesystem::file_size(path));
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(data.data()), std::streamsize(data.size()));
    std::vector<uint8_t> state(VOICE_STATE_SIZE);
    VOICE_DecReset(state.data(), VOICE_MODE_G726_32_MSB);
    int16_t pcm[VOICE_MAX_FRAME_SAMPLES];
    uint64_t samples = 0;
    for (size_t off = 0; off + 4 <= data.size(); off += 4 + 2 * size_t(data[off + 2])) {
        uint16_t n = 0;
        if (VOICE_DecodeFrame(state.data(), data.data() + off, pcm, &n) != VOICE_OK) break;
        samples += n;
        checksum += uint16_t(pcm[n / 2]);
    }
    return samples;
}

}  // namespace

int RunVoiceBench()
{
    const VoiceFiles files = MakeVoiceFiles();
    ReadWholeFile(files.frames);
    ReadWholeFile(files.raw);
    uint64_t samples = 0, checksum = 0;
    const SideBySide t = BestInTurns(5, [&] { samples = DecodeFrames(files.frames, checksum); },
                                     {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-threads", "1", "-f",
                                      "g726", "-code_size", "4", "-sample_rate", "8000", "-i", files.raw.string(), "-f",
                                      "null", "-"});
    const double total = double(kFrames * kFrameSamples);
    if (samples != kFrames * kFrameSamples) std::fprintf(stderr, "velmor-bench: voice decode stopped early\n");
    Report("Voice decode, G.726 32 kbit/s, 30 min", "voice codec", total / t.ours / 1e6, "ffmpeg",
           total / t.peer / 1e6, "Msamples/s", 1.0);
    g_sink = checksum;  // keeps the decode from being optimised away
    return 0;
}

}  // namespace velmor::bench
