// ITU-T G.726 ADPCM at 16, 24, 32 and 40 kbit/s with uniform PCM in and out
// (14-bit inside, 16-bit at the edges), worked in the Recommendation's fixed
// field widths and its 11-bit floating format of the predictor, so that two
// coders fed the same code words stay in step sample for sample. Where
// FFmpeg's G.726 decoder rounds or leaks otherwise (the scale factor mix,
// the zero-section leak at 40 kbit/s) this coder does as that decoder does:
// both then give the same samples for every stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rkmedia::voice {

// The adaptive state of one coder. Field widths as in the Recommendation;
// stored with wider types so that a copy in caller memory stays plain data.
struct G726State {
    int32_t yl;    // locked scale factor, 19 bits
    int16_t yu;    // unlocked scale factor, 13 bits
    int16_t dms;   // short-term mean of F(I), 12 bits
    int16_t dml;   // long-term mean of F(I), 14 bits
    int16_t ap;    // speed control, 10 bits
    int16_t a[2];  // pole coefficients
    int16_t b[6];  // zero coefficients
    uint16_t dq[6];  // quantized differences, floating format (sign, 4-bit exponent, 6-bit mantissa)
    uint16_t sr[2];  // reconstructed signal, floating format
    uint8_t pk[2];   // signs of dq + sez
    uint8_t td;      // tone detected
    uint8_t bits;    // bits per sample, 2 to 5
};

// Reset values of the Recommendation for `bits` per sample (2 to 5).
void G726Reset(G726State& s, int bits);

// Brings a state read from caller memory into the ranges the coder keeps,
// so that a damaged state can never lead outside the tables. A state the
// coder wrote itself is left as it is.
void G726Sanitize(G726State& s);

// One sample: code word (the low `bits` bits) to 16-bit PCM.
int16_t G726Decode(G726State& s, unsigned code);
// One sample: 16-bit PCM to a code word; the state advances as the
// decoder's does for that code word.
unsigned G726Encode(G726State& s, int16_t sample);

// Whole runs of code words; `codes` holds one code word per byte.
void G726DecodeRun(G726State& s, const uint8_t* codes, size_t n, int16_t* pcm);
void G726EncodeRun(G726State& s, const int16_t* pcm, size_t n, uint8_t* codes);

}  // namespace rkmedia::voice
