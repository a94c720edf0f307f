// Arbitrary bytes as a run of voice frames for a decoder in any mode, with
// the decoder state itself damaged on request: every frame either decodes
// within its bounds or is refused, whatever its header claims. What decodes
// goes on through the encoder and the transcoder.
//
// Input: byte 0 picks the mode, byte 1 the options (bit 0: fill the state
// from the next 64 bytes, bit 1: run the transcoder on each frame), then the
// frames.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "media/src/audio/VoiceCodec.h"

namespace {

namespace voice = rkmedia::voice;

constexpr uint16_t kModes[] = {1, 2, 65, 66, 3, 35, 67, 4, 5, 6, 7, 36, 37, 38, 39, 68, 0, 8, 64, 0xFFFF};

void Require(bool ok)
{
    if (!ok) __builtin_trap();
}

// Samples that went in through the encoder come back in the same number
// (and, for G.711, as the very same samples).
void RoundTrip(uint16_t mode, const int16_t* pcm, uint16_t n)
{
    if (n == 0 || n > VOICE_MAX_ENCODE_SAMPLES || voice::SamplesPerFrame(mode, n) != n) return;
    alignas(8) uint8_t enc[VOICE_STATE_SIZE] = {}, dec[VOICE_STATE_SIZE] = {};
    Require(voice::EncReset(enc, mode) == VOICE_OK);
    auto frame = std::make_unique<uint8_t[]>(VOICE_MAX_FRAME_BYTES);
    Require(voice::EncodeFrame(enc, pcm, frame.get(), n) == VOICE_OK);
    const size_t bytes = VOICE_FRAME_HEADER_SIZE + 2 * size_t(frame[2]);
    Require(bytes <= VOICE_MAX_FRAME_BYTES);
    Require(voice::DecReset(dec, mode) == VOICE_OK);
    auto back = std::make_unique<int16_t[]>(VOICE_MAX_FRAME_SAMPLES);
    uint16_t m = 0;
    // The decoder may refuse the length (G.711 and G.726 want whole 10 ms).
    if (voice::DecodeFrame(dec, frame.get(), bytes, back.get(), &m) != VOICE_OK) return;
    Require(m == n);
    if (mode == 1 || mode == 2 || mode == 65 || mode == 66) Require(std::memcmp(back.get(), pcm, 2 * size_t(n)) == 0);
}

void TransCode(uint16_t mode, const uint8_t* data, size_t size)
{
    if (mode < 65 || mode > 68) return;
    alignas(8) uint8_t state[VOICE_TRANSCODE_STATE_SIZE] = {};
    Require(voice::TransCodeReset(state, 32 + mode) == VOICE_OK);
    // The transcoder trusts the header; it gets a buffer of the largest
    // frame there can be, room to grow included.
    auto frame = std::make_unique<uint8_t[]>(VOICE_MAX_FRAME_BYTES);
    std::memset(frame.get(), 0, VOICE_MAX_FRAME_BYTES);
    std::memcpy(frame.get(), data, std::min<size_t>(size, VOICE_MAX_FRAME_BYTES - 4));
    voice::TransCodeFrame(state, frame.get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const uint16_t mode = kModes[data[0] % (sizeof kModes / sizeof kModes[0])];
    const uint8_t options = data[1];
    data += 2;
    size -= 2;

    alignas(8) uint8_t state[VOICE_STATE_SIZE] = {};
    voice::DecReset(state, mode);
    if (options & 1) {
        const size_t n = std::min<size_t>(size, 64);
        std::memcpy(state + 2, data, n);
        data += n;
        size -= n;
    }
    // Exactly the samples a frame may give: anything more is caught.
    auto pcm = std::make_unique<int16_t[]>(VOICE_MAX_FRAME_SAMPLES);
    while (size > 0) {
        uint16_t n = 0xFFFF;
        const int32_t rc = voice::DecodeFrame(state, data, size, pcm.get(), &n);
        Require(n <= VOICE_MAX_FRAME_SAMPLES);
        if (rc == VOICE_OK) {
            RoundTrip(mode, pcm.get(), n);
        } else {
            Require(n == 0);
        }
        if (options & 2) TransCode(mode, data, size);
        if (size < VOICE_FRAME_HEADER_SIZE) break;
        const size_t step = VOICE_FRAME_HEADER_SIZE + 2 * size_t(data[2]);
        if (step >= size) break;
        data += step;
        size -= step;
    }
    return 0;
}
