#include "media/src/audio/VoiceCodec.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace rkmedia::voice {
namespace {

constexpr uint16_t kVoiceFlags = 0x0100;
constexpr unsigned kFlagsMask = 0x0300;

inline int BitLength(unsigned v) { return v ? 32 - __builtin_clz(v) : 0; }
inline uint16_t LoadLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline void StoreLE16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

constexpr std::array<int16_t, 89> kImaStep = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int8_t kImaIndex[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

constexpr int16_t AlawCompute(uint8_t code)
{
    const int v = code ^ 0x55;
    const int mant = v & 0x0F;
    const int seg = (v >> 4) & 7;
    const int mag = seg == 0 ? (mant * 2 + 1) << 3 : (mant * 2 + 33) << (seg + 2);
    return int16_t((v & 0x80) ? mag : -mag);
}

constexpr int16_t UlawCompute(uint8_t code)
{
    const int v = ~code & 0xFF;
    const int t = (((v & 0x0F) << 3) + 0x84) << ((v & 0x70) >> 4);
    return int16_t((v & 0x80) ? 0x84 - t : t - 0x84);
}

template <int16_t (*F)(uint8_t)>
constexpr std::array<int16_t, 256> MakeTable()
{
    std::array<int16_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[size_t(i)] = F(uint8_t(i));
    return t;
}

constexpr std::array<int16_t, 256> kAlaw = MakeTable<AlawCompute>();
constexpr std::array<int16_t, 256> kUlaw = MakeTable<UlawCompute>();

enum class Family { kNone, kG711, kDvi4, kIma, kDvi4Raw, kG726 };

struct ModeInfo {
    Family family = Family::kNone;
    bool mu = false;         // G.711: µ-law
    bool highFirst = false;  // G.711: first sample in the high byte
    int bits = 0;            // G.726: bits per sample
    bool msbFirst = false;   // G.726: packing
};

ModeInfo Describe(unsigned mode)
{
    switch (mode) {
        case 1: return {Family::kG711, false, false, 0, false};
        case 2: return {Family::kG711, true, false, 0, false};
        case 65: return {Family::kG711, false, true, 0, false};
        case 66: return {Family::kG711, true, true, 0, false};
        case 3: return {Family::kDvi4};
        case 35: return {Family::kIma};
        case 67: return {Family::kDvi4Raw};
        case 4: case 5: case 6: case 7: return {Family::kG726, false, false, int(mode) - 2, false};
        case 36: case 37: case 38: case 39: return {Family::kG726, false, false, int(mode) - 34, true};
        case 68: return {Family::kG726, false, false, 2, false};
        default: return {};
    }
}

// The decoder's length rule of each mode (L in words, already non-zero).
bool LengthValid(const ModeInfo& m, unsigned words)
{
    switch (m.family) {
        case Family::kG711: return words <= 240 && (2 * words) % 80 == 0;
        // The 4-byte state header needs two words of its own.
        case Family::kDvi4:
        case Family::kIma: return words >= 2 && words <= 122;
        case Family::kDvi4Raw: return words <= 122;
        case Family::kG726:
            switch (m.bits) {
                case 2: return words <= 60 && (8 * words) % 80 == 0;
                case 3: return words <= 90 && (16 * words) % 3 == 0 && (16 * words / 3) % 80 == 0;
                case 4: return words <= 120 && (4 * words) % 80 == 0;
                default: return words <= 150 && (16 * words) % 5 == 0 && (16 * words / 5) % 80 == 0;
            }
        case Family::kNone: break;
    }
    return false;
}

VoiceState Load(const void* state)
{
    VoiceState s;
    std::memcpy(&s, state, sizeof s);
    return s;
}

void Save(void* state, const VoiceState& s) { std::memcpy(state, &s, sizeof s); }

int32_t Reset(void* state, unsigned mode, int32_t unsupported)
{
    VoiceState s{};
    s.mode = uint16_t(mode);
    const ModeInfo m = Describe(mode);
    if (m.family == Family::kG726) G726Reset(s.g726, m.bits);
    // A rejected mode is kept all the same: the next frame reports it.
    Save(state, s);
    return m.family == Family::kNone ? unsupported : VOICE_OK;
}

// Code words of b bits from a payload, least- or most-significant bit first.
void UnpackCodes(const uint8_t* in, size_t count, int bits, bool msbFirst, uint8_t* codes)
{
    const unsigned mask = (1u << bits) - 1;
    uint32_t acc = 0;
    int have = 0;
    for (size_t i = 0; i < count; ++i) {
        if (have < bits) {
            acc = msbFirst ? (acc << 8) | *in++ : acc | (uint32_t(*in++) << have);
            have += 8;
        }
        if (msbFirst) {
            codes[i] = uint8_t((acc >> (have - bits)) & mask);
        } else {
            codes[i] = uint8_t(acc & mask);
            acc >>= bits;
        }
        have -= bits;
    }
}

// Packs code words into `bytes` bytes; bits after the last word stay zero.
void PackCodes(const uint8_t* codes, size_t count, int bits, bool msbFirst, uint8_t* out, size_t bytes)
{
    std::memset(out, 0, bytes);
    uint32_t acc = 0;
    int have = 0;
    size_t o = 0;
    for (size_t i = 0; i < count; ++i) {
        if (msbFirst) {
            acc = (acc << bits) | codes[i];
            have += bits;
            while (have >= 8) out[o++] = uint8_t(acc >> (have -= 8));
        } else {
            acc |= uint32_t(codes[i]) << have;
            have += bits;
            while (have >= 8) {
                out[o++] = uint8_t(acc);
                acc >>= 8;
                have -= 8;
            }
        }
    }
    if (have > 0) out[o] = uint8_t(msbFirst ? acc << (8 - have) : acc);
}

void SanitizeIma(ImaState& s) { s.index = uint8_t(std::min<int>(s.index, 88)); }

// Decodes the payload of a checked frame; returns the sample count.
size_t DecodePayload(VoiceState& s, const ModeInfo& m, const uint8_t* p, unsigned words, int16_t* pcm)
{
    const size_t bytes = 2 * size_t(words);
    switch (m.family) {
        case Family::kG711: {
            const int16_t* table = m.mu ? kUlaw.data() : kAlaw.data();
            for (size_t i = 0; i < bytes; ++i) pcm[i] = table[p[m.highFirst ? (i ^ 1) : i]];
            return bytes;
        }
        case Family::kDvi4:
        case Family::kDvi4Raw: {
            size_t n = 0;
            if (m.family == Family::kDvi4) {
                s.ima.predictor = int16_t(LoadLE16(p));
                s.ima.index = uint8_t(std::min<int>(p[2], 88));
                p += 4;
            } else {
                SanitizeIma(s.ima);
            }
            const uint8_t* end = p + (m.family == Family::kDvi4 ? bytes - 4 : bytes);
            for (; p < end; ++p) {
                pcm[n++] = ImaExpand(s.ima, *p >> 4);
                pcm[n++] = ImaExpand(s.ima, *p & 15);
            }
            return n;
        }
        case Family::kIma: {
            size_t n = 0;
            s.ima.predictor = int16_t(LoadLE16(p));
            s.ima.index = uint8_t(std::min<int>(p[2], 88));
            pcm[n++] = s.ima.predictor;
            for (const uint8_t *q = p + 4, *end = p + bytes; q < end; ++q) {
                pcm[n++] = ImaExpand(s.ima, *q & 15);
                pcm[n++] = ImaExpand(s.ima, *q >> 4);
            }
            return n;
        }
        case Family::kG726: {
            const size_t n = bytes * 8 / size_t(m.bits);
            uint8_t codes[VOICE_MAX_FRAME_SAMPLES];
            UnpackCodes(p, n, m.bits, m.msbFirst, codes);
            G726Sanitize(s.g726);
            s.g726.bits = uint8_t(m.bits);
            G726DecodeRun(s.g726, codes, n, pcm);
            return n;
        }
        case Family::kNone: break;
    }
    return 0;
}

}  // namespace

// ---- G.711 -------------------------------------------------------------------------

int16_t AlawToLinear(uint8_t code) { return kAlaw[code]; }
int16_t UlawToLinear(uint8_t code) { return kUlaw[code]; }

uint8_t LinearToAlaw(int16_t sample)
{
    // Negative values by their one's complement, so that x and -x-1 share a
    // magnitude and every code word comes back from its own reconstruction.
    const int m = (sample >= 0 ? sample : ~sample) >> 3;  // 12-bit magnitude
    int code;
    if (m < 32) {
        code = m >> 1;
    } else {
        const int seg = BitLength(unsigned(m)) - 5;
        code = (seg << 4) | ((m >> seg) & 15);
    }
    if (sample >= 0) code |= 0x80;
    return uint8_t(code ^ 0x55);
}

uint8_t LinearToUlaw(int16_t sample)
{
    const int m = std::min(((sample >= 0 ? sample : ~sample) >> 2) + 33, 8191);
    const int seg = BitLength(unsigned(m)) - 6;
    const int code = (seg << 4) | ((m >> (seg + 1)) & 15);
    return uint8_t(sample >= 0 ? ~code : (code ^ 0x7F));
}

// ---- IMA ADPCM --------------------------------------------------------------------

int16_t ImaExpand(ImaState& s, unsigned nibble)
{
    const int step = kImaStep[s.index];
    int diff = step >> 3;
    if (nibble & 4) diff += step;
    if (nibble & 2) diff += step >> 1;
    if (nibble & 1) diff += step >> 2;
    s.predictor = int16_t(std::clamp(s.predictor + ((nibble & 8) ? -diff : diff), -32768, 32767));
    s.index = uint8_t(std::clamp(s.index + kImaIndex[nibble & 7], 0, 88));
    return s.predictor;
}

unsigned ImaCompress(ImaState& s, int16_t sample)
{
    int step = kImaStep[s.index];
    int diff = sample - s.predictor;
    unsigned nibble = 0;
    if (diff < 0) {
        nibble = 8;
        diff = -diff;
    }
    if (diff >= step) {
        nibble |= 4;
        diff -= step;
    }
    step >>= 1;
    if (diff >= step) {
        nibble |= 2;
        diff -= step;
    }
    step >>= 1;
    if (diff >= step) nibble |= 1;
    ImaExpand(s, nibble);
    return nibble;
}

// ---- Modes --------------------------------------------------------------------------

bool IsSupportedMode(unsigned mode) { return Describe(mode).family != Family::kNone; }

int G726Bits(unsigned mode) { return Describe(mode).bits; }

size_t SamplesPerFrame(unsigned mode, size_t n)
{
    const ModeInfo m = Describe(mode);
    switch (m.family) {
        case Family::kG711: return n & ~size_t(1);
        case Family::kDvi4:
        case Family::kDvi4Raw: return n & ~size_t(3);
        case Family::kIma: return n ? ((n - 1) & ~size_t(3)) + 1 : 0;
        case Family::kG726: return (n * size_t(m.bits) / 16) * 16 / size_t(m.bits);
        case Family::kNone: break;
    }
    return 0;
}

// ---- Frames --------------------------------------------------------------------------

int32_t EncReset(void* state, unsigned mode)
{
    if (!state) return VOICE_ERR_NULL_STATE;
    return Reset(state, mode, VOICE_ERR_ENC_MODE);
}

int32_t DecReset(void* state, unsigned mode)
{
    if (!state) return VOICE_ERR_NULL_STATE;
    return Reset(state, mode, VOICE_ERR_DEC_MODE);
}

int32_t DecodeFrame(void* state, const uint8_t* frame, size_t frameBytes, int16_t* pcm, uint16_t* samples)
{
    if (!state) return VOICE_ERR_NULL_STATE;
    if (!frame) return VOICE_ERR_NULL_INPUT;
    if (!pcm || !samples) return VOICE_ERR_NULL_OUTPUT;
    *samples = 0;
    if (frameBytes < VOICE_FRAME_HEADER_SIZE) return VOICE_ERR_DEC_LENGTH;
    if ((LoadLE16(frame) & kFlagsMask) != kVoiceFlags) return VOICE_ERR_DEC_FLAGS;
    const unsigned words = frame[2];
    if (words == 0) return VOICE_ERR_DEC_LENGTH;
    VoiceState s = Load(state);
    const ModeInfo m = Describe(s.mode);
    if (m.family == Family::kNone) return VOICE_ERR_DEC_MODE;
    if (!LengthValid(m, words)) return VOICE_ERR_DEC_LENGTH;
    if (VOICE_FRAME_HEADER_SIZE + 2 * size_t(words) > frameBytes) return VOICE_ERR_DEC_LENGTH;
    const size_t n = DecodePayload(s, m, frame + VOICE_FRAME_HEADER_SIZE, words, pcm);
    Save(state, s);
    *samples = uint16_t(n);
    return VOICE_OK;
}

int32_t EncodeFrame(void* state, const int16_t* pcm, uint8_t* frame, unsigned samples)
{
    if (!state) return VOICE_ERR_NULL_STATE;
    if (!pcm) return VOICE_ERR_NULL_INPUT;
    if (!frame) return VOICE_ERR_NULL_OUTPUT;
    if (samples < 1 || samples > VOICE_MAX_ENCODE_SAMPLES) return VOICE_ERR_ENC_SAMPLES;
    VoiceState s = Load(state);
    const ModeInfo m = Describe(s.mode);
    if (m.family == Family::kNone) return VOICE_ERR_ENC_MODE;
    const size_t n = SamplesPerFrame(s.mode, samples);
    // Too few samples for one code word of payload: nothing would be encoded.
    if (n == 0) return VOICE_ERR_ENC_SAMPLES;

    uint8_t* p = frame + VOICE_FRAME_HEADER_SIZE;
    size_t words = 0;
    switch (m.family) {
        case Family::kG711:
            for (size_t i = 0; i < n; ++i) {
                const uint8_t c = m.mu ? LinearToUlaw(pcm[i]) : LinearToAlaw(pcm[i]);
                p[m.highFirst ? (i ^ 1) : i] = c;
            }
            words = n / 2;
            break;
        case Family::kDvi4:
        case Family::kDvi4Raw:
            SanitizeIma(s.ima);
            if (m.family == Family::kDvi4) {
                StoreLE16(p, uint16_t(s.ima.predictor));
                p[2] = s.ima.index;
                p[3] = 0;
                p += 4;
            }
            for (size_t i = 0; i < n; i += 2) {
                const unsigned hi = ImaCompress(s.ima, pcm[i]);
                *p++ = uint8_t((hi << 4) | ImaCompress(s.ima, pcm[i + 1]));
            }
            words = n / 4 + (m.family == Family::kDvi4 ? 2 : 0);
            break;
        case Family::kIma:
            SanitizeIma(s.ima);
            s.ima.predictor = pcm[0];
            StoreLE16(p, uint16_t(pcm[0]));
            p[2] = s.ima.index;
            p[3] = 0;
            p += 4;
            for (size_t i = 1; i < n; i += 2) {
                const unsigned lo = ImaCompress(s.ima, pcm[i]);
                *p++ = uint8_t(lo | (ImaCompress(s.ima, pcm[i + 1]) << 4));
            }
            words = (n - 1) / 4 + 2;
            break;
        case Family::kG726: {
            uint8_t codes[VOICE_MAX_ENCODE_SAMPLES];
            G726Sanitize(s.g726);
            s.g726.bits = uint8_t(m.bits);
            G726EncodeRun(s.g726, pcm, n, codes);
            words = n * size_t(m.bits) / 16;
            PackCodes(codes, n, m.bits, m.msbFirst, p, 2 * words);
            break;
        }
        case Family::kNone: break;
    }
    StoreLE16(frame, kVoiceFlags);
    frame[2] = uint8_t(words);
    frame[3] = 0;
    Save(state, s);
    return VOICE_OK;
}

int32_t TransCodeReset(void* state, unsigned mode)
{
    if (!state) return VOICE_ERR_TRANS_STATE;
    if (mode < VOICE_TRANSCODE_G711A || mode > VOICE_TRANSCODE_G726_16) return VOICE_ERR_TRANS_MODE;
    const unsigned n = mode - 96;
    auto* base = static_cast<uint8_t*>(state);
    EncReset(base, n);
    DecReset(base + VOICE_TRANSCODE_DECODER_OFFSET, 64 + n);
    return VOICE_OK;
}

int32_t TransCodeFrame(void* state, uint8_t* frame)
{
    if (!state) return VOICE_ERR_TRANS_STATE;
    if (!frame) return VOICE_ERR_NULL_INPUT;
    auto* base = static_cast<uint8_t*>(state);
    const unsigned encMode = Load(base).mode;
    if (encMode < 1 || encMode > 4) return VOICE_ERR_TRANS_MODE;
    if (encMode <= 2) {
        // The two G.711 byte orders differ only in the order within a word.
        for (unsigned i = 0, words = frame[2]; i < words; ++i)
            std::swap(frame[VOICE_FRAME_HEADER_SIZE + 2 * i], frame[VOICE_FRAME_HEADER_SIZE + 2 * i + 1]);
        return VOICE_OK;
    }
    uint8_t* decState = base + VOICE_TRANSCODE_DECODER_OFFSET;
    if (Load(decState).mode != 64 + encMode) return VOICE_ERR_TRANS_MODE;
    // Both states advance only when the whole frame went through, so that a
    // refused frame leaves the transcoder as it was.
    uint8_t dec[sizeof(VoiceState)], enc[sizeof(VoiceState)];
    std::memcpy(dec, decState, sizeof dec);
    std::memcpy(enc, base, sizeof enc);
    int16_t pcm[VOICE_MAX_FRAME_SAMPLES];
    uint16_t n = 0;
    int32_t rc = DecodeFrame(dec, frame, VOICE_MAX_FRAME_BYTES, pcm, &n);
    if (rc != VOICE_OK) return rc;
    uint8_t out[VOICE_MAX_FRAME_BYTES];
    rc = EncodeFrame(enc, pcm, out, n);
    if (rc != VOICE_OK) return rc;
    std::memcpy(frame, out, VOICE_FRAME_HEADER_SIZE + 2 * size_t(out[2]));
    std::memcpy(decState, dec, sizeof dec);
    std::memcpy(base, enc, sizeof enc);
    return VOICE_OK;
}

}  // namespace rkmedia::voice
