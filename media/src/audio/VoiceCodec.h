// The recorder voice codec behind the exported VOICE_ functions: G.711,
// IMA/DVI4 ADPCM and G.726 in the recorder's frame format. The functions
// here take the number of bytes the caller really has, so that nothing is
// read past a frame whatever its header claims.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/include/rkvoice.h"
#include "media/src/audio/G726.h"

namespace rkmedia::voice {

// ---- G.711 -------------------------------------------------------------------------

int16_t AlawToLinear(uint8_t code);
uint8_t LinearToAlaw(int16_t sample);
int16_t UlawToLinear(uint8_t code);
uint8_t LinearToUlaw(int16_t sample);

// ---- IMA ADPCM --------------------------------------------------------------------

struct ImaState {
    int16_t predictor;
    uint8_t index;  // 0..88
    uint8_t spare;
};

int16_t ImaExpand(ImaState& s, unsigned nibble);
unsigned ImaCompress(ImaState& s, int16_t sample);

// ---- Codec state in caller memory ---------------------------------------------------

// Lives at the start of a caller's VOICE_STATE_SIZE bytes, copied in and
// out (the caller's memory need not be aligned).
struct VoiceState {
    uint16_t mode;
    uint16_t spare;
    ImaState ima;
    G726State g726;
};
static_assert(sizeof(VoiceState) <= VOICE_STATE_SIZE);

bool IsSupportedMode(unsigned mode);
// Bits per sample of a G.726 mode, 0 for every other mode.
int G726Bits(unsigned mode);
// How many of n samples a frame of this mode holds (0 when none).
size_t SamplesPerFrame(unsigned mode, size_t n);

// ---- Frames --------------------------------------------------------------------------

int32_t EncReset(void* state, unsigned mode);
int32_t DecReset(void* state, unsigned mode);
int32_t EncodeFrame(void* state, const int16_t* pcm, uint8_t* frame, unsigned samples);
// frameBytes: what the caller holds at `frame`; a header that claims more
// payload than that is refused with VOICE_ERR_DEC_LENGTH.
int32_t DecodeFrame(void* state, const uint8_t* frame, size_t frameBytes, int16_t* pcm, uint16_t* samples);
int32_t TransCodeReset(void* state, unsigned mode);
int32_t TransCodeFrame(void* state, uint8_t* frame);

}  // namespace rkmedia::voice
