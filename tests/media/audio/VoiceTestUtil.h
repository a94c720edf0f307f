// Sound for the voice codec tests: a speech-like test signal, raw files, the
// ffmpeg tools as the peer coder, and voice frames built by hand.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "media/include/rkvoice.h"
#include "tests/support/Payload.h"
#include "tests/support/Subprocess.h"

namespace velmor::fixtures::voice {

inline const char* kFfmpeg = "/usr/bin/ffmpeg";

// Voiced sweeps, syllable-like swells, bursts of noise and a pause, at most
// about half of full scale so that every coder stays out of overload.
inline std::vector<int16_t> TestSignal(size_t n, uint64_t seed = 7, double peak = 14000.0)
{
    std::vector<int16_t> out(n);
    CSplitMix64 rng(seed);
    double phase1 = 0, phase2 = 0;
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / 8000.0;
        const double f1 = 150.0 + 120.0 * std::sin(2 * std::numbers::pi * 0.7 * t);
        const double f2 = 900.0 + 700.0 * std::sin(2 * std::numbers::pi * 0.23 * t + 1.0);
        phase1 += 2 * std::numbers::pi * f1 / 8000.0;
        phase2 += 2 * std::numbers::pi * f2 / 8000.0;
        const double swell = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3.1 * t);
        double v = 0.55 * std::sin(phase1) + 0.3 * std::sin(phase2) + 0.1 * std::sin(3.0 * phase2);
        const double noise = (double(rng.Next() % 20001) - 10000.0) / 10000.0;
        v = v * swell + 0.08 * noise;
        if (i % 8000 > 6800) v *= 0.02;              // a pause each second
        if (i % 12000 > 11000) v = 0.9 * noise;      // a burst of noise
        out[i] = int16_t(std::lround(std::clamp(v, -1.0, 1.0) * peak));
    }
    return out;
}

inline void WriteFile(const std::filesystem::path& path, const void* data, size_t n)
{
    std::ofstream f(path, std::ios::binary);
    f.write(static_cast<const char*>(data), std::streamsize(n));
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline std::vector<int16_t> ReadPcm(const std::filesystem::path& path)
{
    const auto bytes = ReadFile(path);
    std::vector<int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
}

// Runs ffmpeg quietly; false (and a test failure) when it fails.
inline bool Ffmpeg(std::vector<std::string> args)
{
    args.insert(args.begin(), {"-hide_banner", "-loglevel", "error", "-nostdin", "-y"});
    const ProcessResult r = RunProgram(kFfmpeg, args);
    EXPECT_EQ(r.exitCode, 0) << "ffmpeg failed: " << r.err;
    return r.exitCode == 0;
}

// The raw PCM input as ffmpeg reads it.
inline std::vector<std::string> PcmInput(const std::filesystem::path& raw)
{
    return {"-f", "s16le", "-ar", "8000", "-ac", "1", "-i", raw.string()};
}

// One voice frame: flags 0x0100, length in words, then the payload.
inline std::vector<uint8_t> Frame(const uint8_t* payload, size_t bytes, uint16_t flags = 0x0100)
{
    std::vector<uint8_t> f(4 + bytes);
    f[0] = uint8_t(flags);
    f[1] = uint8_t(flags >> 8);
    f[2] = uint8_t(bytes / 2);
    f[3] = 0;
    if (bytes) std::memcpy(f.data() + 4, payload, bytes);
    return f;
}

// Decodes consecutive frames of `payloadBytes` each from a raw stream with
// a decoder in `mode`; every frame must decode.
inline std::vector<int16_t> DecodeStream(uint16_t mode, const std::vector<uint8_t>& stream, size_t payloadBytes)
{
    std::vector<uint8_t> state(VOICE_STATE_SIZE);
    EXPECT_EQ(VOICE_DecReset(state.data(), mode), VOICE_OK);
    std::vector<int16_t> out;
    int16_t pcm[VOICE_MAX_FRAME_SAMPLES];
    for (size_t off = 0; off + payloadBytes <= stream.size(); off += payloadBytes) {
        const auto frame = Frame(stream.data() + off, payloadBytes);
        uint16_t n = 0;
        const int32_t rc = VOICE_DecodeFrame(state.data(), frame.data(), pcm, &n);
        EXPECT_EQ(rc, VOICE_OK) << "mode " << mode << " frame at " << off;
        if (rc != VOICE_OK) break;
        out.insert(out.end(), pcm, pcm + n);
    }
    return out;
}

// Encodes PCM in frames of `samples` with an encoder in `mode`.
inline std::vector<std::vector<uint8_t>> EncodeStream(uint16_t mode, const std::vector<int16_t>& pcm, size_t samples)
{
    std::vector<uint8_t> state(VOICE_STATE_SIZE);
    EXPECT_EQ(VOICE_EncReset(state.data(), mode), VOICE_OK);
    std::vector<std::vector<uint8_t>> frames;
    for (size_t off = 0; off + samples <= pcm.size(); off += samples) {
        std::vector<uint8_t> frame(VOICE_MAX_FRAME_BYTES);
        EXPECT_EQ(VOICE_EncodeFrame(state.data(), pcm.data() + off, frame.data(), uint16_t(samples)), VOICE_OK);
        frame.resize(4 + 2 * size_t(frame[2]));
        frames.push_back(std::move(frame));
    }
    return frames;
}

// Signal to noise ratio of `got` against `want` over the samples both have, in dB.
inline double SnrDb(const std::vector<int16_t>& want, const std::vector<int16_t>& got)
{
    double s = 0, e = 0;
    for (size_t i = 0; i < want.size() && i < got.size(); ++i) {
        s += double(want[i]) * want[i];
        e += double(want[i] - got[i]) * (want[i] - got[i]);
    }
    return 10.0 * std::log10(s / std::max(e, 1.0));
}

// The first index where two sample runs differ, or -1.
inline long FirstDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b)
{
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) return long(i);
    return a.size() == b.size() ? -1 : long(std::min(a.size(), b.size()));
}

}  // namespace velmor::fixtures::voice
