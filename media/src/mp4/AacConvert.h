// Recorder voice frames to AAC for the MP4 writer, and back to PCM: the
// voice codec makes 16-bit PCM of each frame, FFmpeg's AAC encoder makes
// one raw AAC frame of every 1024 samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "media/include/rkvoice.h"
#include "media/src/mp4/FfmpegPtr.h"

namespace rkmedia {

// The voice decoder of a converter, set up for a compression type (1..12,
// any other value as 3) with the same modes the player's sound uses.
class CVoiceToPcm {
public:
    explicit CVoiceToPcm(int compress);
    // Appends the samples of the whole voice frames that follow one another
    // from the start of `data`; stops at the first byte that does not begin
    // a valid frame of this mode. The number of frames decoded.
    size_t Decode(const uint8_t* data, size_t length, std::vector<int16_t>& pcm);
    uint16_t Mode() const { return m_mode; }

private:
    uint16_t m_mode = 0;
    alignas(8) uint8_t m_state[VOICE_STATE_SIZE] = {};
};

class CEncodeAAC {
public:
    CEncodeAAC() = default;
    CEncodeAAC(const CEncodeAAC&) = delete;
    CEncodeAAC& operator=(const CEncodeAAC&) = delete;

    // 1 when the encoder was created, else 0 (unsupported channel count or
    // sample rate).
    int InitAACEncoder(int channels, int sampleRate, int reserved, int compress);
    // Decodes the voice frames of `input` and hands out at most one AAC
    // frame (up to kMaxFrameBytes). 1 when one was written to `output`.
    int Encoder(const uint8_t* input, int length, uint8_t* output, int* outLength);
    // After the last frame: encodes what is left and hands out one AAC frame
    // per call; 1 while there was one, 0 when nothing is left.
    int Flush(uint8_t* output, int* outLength);
    // The AudioSpecificConfig of the track.
    const std::vector<uint8_t>& Config() const { return m_config; }
    int SampleRate() const { return m_nSampleRate; }
    int Channels() const { return m_nChannels; }
    int Compress() const { return m_nCompress; }
    size_t PendingFrames() const { return m_ready.size(); }

    static constexpr int kMaxFrameBytes = 1536;  // 6144 bits per channel, two channels

private:
    int Send(size_t samples);
    int TakeOne(uint8_t* output, int* outLength);

    int m_nChannels = 0;
    int m_nSampleRate = 0;
    int m_nReserved = 0;
    int m_nCompress = 3;
    ff::CodecContextPtr m_ctx;
    ff::PacketPtr m_pkt;
    std::vector<uint8_t> m_config;
    std::vector<int16_t> m_pcm;  // decoded, not yet a whole AAC frame
    std::deque<std::vector<uint8_t>> m_ready;
    int64_t m_nNextPts = 0;
    bool m_bFlushed = false;
    std::vector<CVoiceToPcm> m_voice;  // one decoder, made at initialisation
};

class CDecordPCM {
public:
    // Sets the voice decoder up; 1, or 0 for a channel count other than 1 or 2.
    int Init(int channels, int sampleRate, int reserved, int compress);
    // 16-bit PCM of the voice frames of `input`, interleaved over the
    // channels (up to 16 bytes per input byte). 1 when PCM was produced.
    int Decode(const uint8_t* input, int length, uint8_t* output, int* outLength);

private:
    int m_nChannels = 0;
    std::vector<CVoiceToPcm> m_voice;
    std::vector<int16_t> m_pcm;
};

}  // namespace rkmedia
