// MP4 export and the multi-channel combination against the ffmpeg tool.
//
// Export: the same H.264 access units and AAC frames into an MP4 file,
// through the writer's exports on one side and `ffmpeg -c copy` from the
// elementary streams (Annex B and ADTS files) on the other; both read their
// input from a warm page cache. Mosaic: four channel files tiled 2 x 2 and
// mixed, through the combiner on one side and the ffmpeg tool running the
// same filter graph with the same encoder settings on the other.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "media/include/rkmedia.h"
#include "media/src/combine/CombineMp4.h"
#include "tests/support/VideoCodec.h"

namespace velmor::bench {
namespace {

constexpr int kFps = 25;

struct ExportInput {
    std::filesystem::path units;  // our framing: 4-byte length, key byte, access unit
    std::filesystem::path aac;    // 2-byte length, raw AAC frame
    std::filesystem::path annexB; // the peer's: the units back to back
    std::filesystem::path adts;   // the peer's: the frames with ADTS headers
    int width = 0, height = 0, frames = 0;
    size_t bytes = 0;
};

std::vector<std::vector<uint8_t>> AacFrames(size_t voiceFrames)
{
    std::vector<std::vector<uint8_t>> out;
    std::vector<uint8_t> state(VOICE_STATE_SIZE);
    VOICE_EncReset(state.data(), VOICE_MODE_G726_32_MSB);
    RKPLAYER_HANDLE enc = nullptr;
    RKPLAYER_ConvertPCMToAACInit(&enc, 1, 8000, 0, 3);
    std::vector<int16_t> pcm(320);
    uint8_t frame[VOICE_MAX_FRAME_BYTES], aac[RKPLAYER_AAC_MAX_FRAME_BYTES];
    int n = 0;
    size_t t = 0;
    for (size_t f = 0; f < voiceFrames; ++f) {
        for (auto& s : pcm) s = int16_t(8000.0 * __builtin_sin(2 * 3.14159265358979 * 440.0 * double(t++) / 8000.0));
        VOICE_EncodeFrame(state.data(), pcm.data(), frame, 320);
        if (RKPLAYER_ConvertPCMToAACEncode(&enc, frame, 4 + 2 * frame[2], aac, &n) == 1) out.emplace_back(aac, aac + n);
    }
    while (RKPLAYER_ConvertPCMToAACFlush(&enc, aac, &n) == 1) out.emplace_back(aac, aac + n);
    RKPLAYER_ConvertPCMToAACUnit(&enc);
    return out;
}

ExportInput MakeExportInput()
{
    ExportInput in;
    in.width = 1280;
    in.height = 720;
    in.frames = 1500;  // a minute
    in.units = DataDir() / "mp4-export.units";
    in.aac = DataDir() / "mp4-export.aacframes";
    in.annexB = DataDir() / "mp4-export.h264";
    in.adts = DataDir() / "mp4-export.aac";
    const auto stamp = DataDir() / "mp4-export.v1";
    if (!std::filesystem::exists(stamp)) {
        std::fprintf(stderr, "velmor-bench: writing %s\n", in.units.c_str());
        fixtures::VideoSpec recipe;
        recipe.width = in.width;
        recipe.height = in.height;
        recipe.frames = in.frames;
        recipe.gop = 50;
        recipe.lossless = false;
        recipe.crf = 23;
        recipe.label = "CH1";
        const auto video = fixtures::EncodeVideo(recipe);
        std::ofstream units(in.units, std::ios::binary), annexB(in.annexB, std::ios::binary);
        for (const auto& u : video.units) {
            const uint32_t n = uint32_t(u.data.size());
            const uint8_t head[5] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24), uint8_t(u.key)};
            units.write(reinterpret_cast<const char*>(head), 5);
            units.write(reinterpret_cast<const char*>(u.data.data()), long(n));
            annexB.write(reinterpret_cast<const char*>(u.data.data()), long(n));
        }
        std::ofstream aac(in.aac, std::ios::binary), adts(in.adts, std::ios::binary);
        for (const auto& f : AacFrames(size_t(in.frames))) {
            const uint16_t n = uint16_t(f.size());
            const uint8_t head[2] = {uint8_t(n), uint8_t(n >> 8)};
            aac.write(reinterpret_cast<const char*>(head), 2);
            aac.write(reinterpret_cast<const char*>(f.data()), n);
            // ADTS: AAC LC, 8000 Hz (index 11), one channel, no CRC.
            const unsigned len = unsigned(f.size()) + 7;
            const uint8_t h[7] = {0xFF, 0xF1, uint8_t((1 << 6) | (11 << 2)), uint8_t((1 << 6) | (len >> 11)),
                                  uint8_t(len >> 3), uint8_t(((len & 7) << 5) | 0x1F), 0xFC};
            adts.write(reinterpret_cast<const char*>(h), 7);
            adts.write(reinterpret_cast<const char*>(f.data()), long(f.size()));
        }
        std::ofstream(stamp) << "1\n";
    }
    in.bytes = std::filesystem::file_size(in.units) + std::filesystem::file_size(in.aac);
    return in;
}

std::vector<uint8_t> Slurp(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// Reads both streams and writes them interleaved, picture time by picture time.
void ExportOurs(const ExportInput& in, const std::string& out)
{
    const auto units = Slurp(in.units);
    const auto aac = Slurp(in.aac);
    RKPLAYER_HANDLE w = nullptr;
    RKPLAYER_CreateMp4FileInit(&w, in.width, in.height, 0, kFps, out.c_str());
    size_t u = 0, a = 0;
    int64_t samples = 0;
    for (int i = 0; u + 5 <= units.size(); ++i) {
        const uint32_t n = units[u] | (units[u + 1] << 8) | (units[u + 2] << 16) | (uint32_t(units[u + 3]) << 24);
        RKPLAYER_WriteMp4VideoData(&w, &units[u + 5], int(n), units[u + 4] ? 3 : 0, uint64_t(i) * 40000);
        u += 5 + n;
        const int64_t due = int64_t(i + 1) * 8000 / kFps;
        while (samples < due && a + 2 <= aac.size()) {
            const uint16_t m = uint16_t(aac[a] | (aac[a + 1] << 8));
            RKPLAYER_WriteMp4AudioData(&w, &aac[a + 2], m);
            a += 2 + m;
            samples += 1024;
        }
    }
    RKPLAYER_CloseMp4File(&w);
}

int RunExport()
{
    const ExportInput in = MakeExportInput();
    ReadWholeFile(in.units);
    ReadWholeFile(in.aac);
    ReadWholeFile(in.annexB);
    ReadWholeFile(in.adts);
    const std::string ours = (DataDir() / "mp4-export-ours.mp4").string();
    const std::string peer = (DataDir() / "mp4-export-peer.mp4").string();
    const auto best = BestInTurns(5, [&] { ExportOurs(in, ours); },
                                  {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "h264", "-framerate", "25", "-i",
                                   in.annexB.string(), "-f", "aac", "-i", in.adts.string(), "-map", "0:v", "-map",
                                   "1:a", "-c", "copy", peer});
    if (best.peer <= 0 || best.peer > 1e300) {
        Print("mp4 export: the ffmpeg tool failed\n");
        return 1;
    }
    const double mb = double(in.bytes) / 1e6;
    Report("MP4 export 720p H.264 + AAC, one minute", "rkmedia", mb / best.ours, "ffmpeg", mb / best.peer, "MB/s", 0.8);
    return 0;
}

int RunMosaic()
{
    constexpr int kChannels = 4, kFrames = 250, kW = 352, kH = 288;
    std::vector<std::string> paths;
    for (int k = 0; k < kChannels; ++k) {
        const auto path = DataDir() / ("mp4-channel" + std::to_string(k) + ".mp4");
        paths.push_back(path.string());
        if (std::filesystem::exists(path)) continue;
        std::fprintf(stderr, "velmor-bench: writing %s\n", path.c_str());
        fixtures::VideoSpec recipe;
        recipe.width = kW;
        recipe.height = kH;
        recipe.frames = kFrames;
        recipe.gop = 50;
        recipe.lossless = false;
        recipe.crf = 23;
        recipe.seed = uint32_t(3 + k);
        recipe.label = "CH" + std::to_string(k + 1);
        const auto video = fixtures::EncodeVideo(recipe);
        const auto aac = AacFrames(size_t(kFrames));
        RKPLAYER_HANDLE w = nullptr;
        RKPLAYER_CreateMp4FileInit(&w, kW, kH, 0, kFps, path.c_str());
        size_t a = 0;
        for (int i = 0; i < kFrames; ++i) {
            const auto& u = video.units[size_t(i)];
            RKPLAYER_WriteMp4VideoData(&w, u.data.data(), int(u.data.size()), u.key ? 3 : 0, uint64_t(i) * 40000);
            for (; a < aac.size() && int64_t(a) * 1024 < int64_t(i + 1) * 8000 / kFps; ++a)
                RKPLAYER_WriteMp4AudioData(&w, aac[a].data(), int(aac[a].size()));
        }
        RKPLAYER_CloseMp4File(&w);
    }
    for (const auto& p : paths) ReadWholeFile(p);

    const int outW = 2 * kW, outH = 2 * kH;
    std::vector<RKPLAYER_COMBINE_INPUT> inputs(kChannels);
    for (int k = 0; k < kChannels; ++k) {
        std::snprintf(inputs[size_t(k)].path, sizeof inputs[size_t(k)].path, "%s", paths[size_t(k)].c_str());
        inputs[size_t(k)].position = k;
    }
    const std::string ours = (DataDir() / "mp4-mosaic-ours.mp4").string();
    const std::string peer = (DataDir() / "mp4-mosaic-peer.mp4").string();

    // The peer runs the same graph text; only the way its inputs are named differs.
    std::string graph;
    for (int k = 0; k < kChannels; ++k) graph += "[" + std::to_string(k) + ":v]null[in" + std::to_string(k) + "];";
    graph += rkmedia::CCombineMp4::VideoGraph(outW, outH, kChannels, inputs) + ";";
    for (int k = 0; k < kChannels; ++k) graph += "[" + std::to_string(k) + ":a]anull[ain" + std::to_string(k) + "];";
    std::string audio = rkmedia::CCombineMp4::AudioGraph(kChannels);
    for (int k = 0; k < kChannels; ++k) {
        const std::string from = "[in" + std::to_string(k) + "]";
        audio.replace(audio.find(from), from.size(), "[ain" + std::to_string(k) + "]");
    }
    audio.replace(audio.find("[out]"), 5, "[aout]");
    graph += audio;
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    for (const auto& p : paths) {
        argv.push_back("-i");
        argv.push_back(p);
    }
    for (const char* a : {"-filter_complex", graph.c_str(), "-map", "[out]", "-map", "[aout]", "-t",
                          std::to_string(double(kFrames) / kFps).c_str(), "-c:v", "libx264", "-preset", "ultrafast",
                          "-b:v", "400000", "-qcomp", "0.6", "-g", "250", "-bf", "3", "-r", "25", "-c:a", "aac"})
        argv.emplace_back(a);
    argv.push_back(peer);

    const auto best = BestInTurns(3,
                                  [&] {
                                      RKPLAYER_HANDLE slot = nullptr;
                                      RKPLAYER_InitOutputAviParam(&slot, ours.c_str(), outW, outH, 0, {},
                                                                  RKPLAYER_COMBINE_COUNTS(kChannels, 4));
                                      RKPLAYER_InitInputAvisParam(&slot, inputs.data(), kChannels);
                                      if (RKPLAYER_StartCombin(&slot) != 0) Print("mosaic: the combiner failed\n");
                                      RKPLAYER_EndCombin(&slot);
                                  },
                                  argv);
    if (best.peer <= 0 || best.peer > 1e300) {
        Print("mosaic: the ffmpeg tool failed\n");
        return 1;
    }
    Report("2x2 mosaic 704x576 H.264 ultrafast, 10 s", "rkmedia", kFrames / best.ours, "ffmpeg", kFrames / best.peer,
           "fps", 0.9);
    return 0;
}

}  // namespace

int RunMp4Bench() { return RunExport() | RunMosaic(); }

}  // namespace velmor::bench
