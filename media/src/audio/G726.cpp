#include "media/src/audio/G726.h"

#include <algorithm>
#include <cstdlib>

namespace rkmedia::voice {
namespace {

// Per rate: quantizer decision thresholds on DLN (log2 domain, 7 fraction
// bits), the inverse quantizer's DQLN, the scale factor multipliers W (in
// sixteenths) and the speed control function F, all by |I|.
struct RateTables {
    int thresholds;
    int16_t thr[15];
    int16_t dqln[16];
    int16_t w[16];
    uint8_t f[16];
};

constexpr RateTables kRate16 = {1, {261}, {116, 365}, {-22, 439}, {0, 7}};
constexpr RateTables kRate24 = {3, {8, 218, 331}, {-2048, 135, 273, 373}, {-4, 30, 137, 582}, {0, 1, 2, 7}};
constexpr RateTables kRate32 = {7,
                                {-124, 80, 178, 246, 300, 349, 400},
                                {-2048, 4, 135, 213, 273, 323, 373, 425},
                                {-12, 18, 41, 64, 112, 198, 355, 1122},
                                {0, 0, 0, 1, 1, 1, 3, 7}};
constexpr RateTables kRate40 = {15,
                                {-122, -16, 68, 139, 198, 250, 298, 339, 378, 413, 445, 475, 502, 528, 553},
                                {-2048, -66, 28, 104, 169, 224, 274, 318, 358, 395, 429, 459, 488, 514, 539, 566},
                                {14, 14, 24, 39, 40, 41, 58, 100, 141, 179, 219, 280, 358, 440, 529, 696},
                                {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 3, 4, 5, 6, 6}};

template <int Bits>
constexpr const RateTables& TablesFor()
{
    if constexpr (Bits == 2) return kRate16;
    if constexpr (Bits == 3) return kRate24;
    if constexpr (Bits == 4) return kRate32;
    return kRate40;
}

inline int BitLength(unsigned v) { return v ? 32 - __builtin_clz(v) : 0; }

// The 11-bit floating format: sign, 4-bit exponent, 6-bit mantissa.
inline uint16_t ToFloat(int magnitude, int sign)
{
    const int exp = BitLength(unsigned(magnitude));
    const int mant = magnitude ? (magnitude << 6) >> exp : 32;
    return uint16_t((sign << 10) | (exp << 6) | mant);
}

// FMULT: a 16-bit coefficient times a value in floating format. Written
// without branches: it runs eight times a sample.
inline int Fmult(int an, unsigned fl)
{
    const int a = an >> 2;
    const int sa = a >> 31;                             // 0 or -1
    const unsigned anmag = unsigned((a ^ sa) - sa) & 8191;  // 13-bit magnitude
    const int anexp = BitLength(anmag);
    const int anmant = anmag ? int(anmag << 6) >> anexp : 32;
    const int wexp = int((fl >> 6) & 15) + anexp;         // 0..28
    const int wmant = (int(fl & 63) * anmant + 48) >> 4;
    // (wmant << 7) scaled by 2^(wexp - 26), the left shifts kept to 15 bits.
    const int wmag = ((wmant << 9) >> (28 - wexp)) & 32767;
    const int neg = int((fl >> 10) & 1) ^ (sa & 1);
    return (wmag ^ -neg) + neg;
}

struct Prediction {
    int se;   // signal estimate, 15 bits
    int sez;  // its zero-section part
    int y;    // quantizer scale factor
};

inline Prediction Predict(const G726State& s)
{
    int sezi = 0;
    for (int i = 0; i < 6; ++i) sezi += Fmult(s.b[i], s.dq[i]);
    sezi = int16_t(sezi);
    const int sei = int16_t(sezi + Fmult(s.a[0], s.sr[0]) + Fmult(s.a[1], s.sr[1]));
    // MIX of the unlocked and locked scale factors by the speed control,
    // rounded once over the locked factor with its fraction bits, as FFmpeg's
    // G.726 decoder does: a stream then decodes to the same samples in both.
    const int al = s.ap >= 256 ? 64 : s.ap >> 2;
    const int dif = s.yu - (s.yl >> 6);
    return {sei >> 1, sezi >> 1, (s.yl + dif * al) >> 6};
}

// Inverse quantizer, reconstruction and every state update for one code
// word; returns the reconstructed signal (16-bit, in 14-bit scale).
template <int Bits>
inline int Reconstruct(G726State& s, const Prediction& p, unsigned code)
{
    const RateTables& t = TablesFor<Bits>();
    code &= (1u << Bits) - 1;
    const int dqs = int(code >> (Bits - 1));
    const int mag = dqs ? int((1u << Bits) - 1 - code) : int(code);

    // RECONST, ADDA, ANTILOG
    const int dql = t.dqln[mag] + (p.y >> 2);
    const int dqmag = dql < 0 ? 0 : ((128 + (dql & 127)) << 7) >> (14 - ((dql >> 7) & 15));
    const int dq = dqs ? -dqmag : dqmag;
    // ADDB, ADDC
    const int sr = int16_t(p.se + dq);
    const int dqsez = int16_t(dq + p.sez);
    const int pk0 = dqsez < 0;
    const bool sigpk = dqsez == 0;

    // TRANS: a large step while a tone was seen means data, not voice.
    const int ylint = s.yl >> 15;
    const int ylfrac = (s.yl >> 10) & 31;
    const int thr1 = (32 + ylfrac) << ylint;
    const int thr2 = ylint > 9 ? 31 << 10 : thr1;
    const int dqthr = (thr2 + (thr2 >> 1)) >> 1;
    const bool tr = s.td && dqmag > dqthr;

    // FUNCTW, FILTD, LIMB, FILTE
    const int yu = std::clamp(p.y + ((t.w[mag] * 32 - p.y) >> 5), 544, 5120);
    s.yu = int16_t(yu);
    s.yl = s.yl + yu + ((-s.yl) >> 6);

    // Adaptive predictor coefficients (UPA2, LIMC, UPA1, LIMD, UPB) or,
    // for a transition, their reset (TRIGB).
    int a2p = 0;
    if (tr) {
        s.a[0] = s.a[1] = 0;
        for (int16_t& b : s.b) b = 0;
    } else {
        const int pks1 = pk0 ^ s.pk[0];
        const int pks2 = pk0 ^ s.pk[1];
        const int a1 = s.a[0];
        const int a2 = s.a[1];
        const int fa1 = std::clamp(a1, -8191, 8191) * 4;
        const int fa = pks1 ? fa1 : -fa1;
        const int uga2 = sigpk ? 0 : (((pks2 ? -16384 : 16384) + fa) >> 7);
        a2p = std::clamp(a2 + uga2 - (a2 >> 7), -12288, 12288);
        const int uga1 = sigpk ? 0 : (pks1 ? -192 : 192);
        const int a1ul = 15360 - a2p;
        s.a[0] = int16_t(std::clamp(a1 + uga1 - (a1 >> 8), -a1ul, a1ul));
        s.a[1] = int16_t(a2p);
        // The zero-section coefficients leak by 2^-8 at every rate, 40 kbit/s
        // included, as in FFmpeg's G.726 decoder.
        for (int i = 0; i < 6; ++i) {
            const int bi = s.b[i];
            const int ugb = dqmag == 0 ? 0 : (int((s.dq[i] >> 10) & 1) != dqs ? -128 : 128);
            s.b[i] = int16_t(bi + ugb - (bi >> 8));
        }
    }

    // FLOATA, FLOATB, DELAY
    for (int i = 5; i > 0; --i) s.dq[i] = s.dq[i - 1];
    s.dq[0] = ToFloat(dqmag, dqs);
    s.sr[1] = s.sr[0];
    s.sr[0] = ToFloat(sr < 0 ? (-sr) & 32767 : sr, sr < 0);
    s.pk[1] = s.pk[0];
    s.pk[0] = uint8_t(pk0);

    // TONE, TRIGB
    const int tdp = tr ? 0 : (a2p < -11776);
    s.td = uint8_t(tdp);

    // FUNCTF, FILTA, FILTB, SUBTC, FILTC, TRIGA
    const int fi = t.f[mag];
    s.dms = int16_t(s.dms + (((fi << 9) - s.dms) >> 5));
    s.dml = int16_t(s.dml + (((fi << 11) - s.dml) >> 7));
    if (tr) {
        s.ap = 256;
    } else {
        const int ax = (p.y < 1536 || tdp || std::abs((s.dms << 2) - s.dml) >= (s.dml >> 3)) ? 1 : 0;
        s.ap = int16_t(s.ap + (((ax << 9) - s.ap) >> 4));
    }
    return sr;
}

inline int16_t ToPcm16(int sr) { return int16_t(std::clamp(sr * 4, -32768, 32767)); }

template <int Bits>
inline unsigned Quantize(const Prediction& p, int16_t sample)
{
    const RateTables& t = TablesFor<Bits>();
    // SUBTA, LOG, SUBTB, QUAN on the 14-bit input.
    const int d = (sample >> 2) - p.se;
    const int dqm = std::abs(d);
    const int exp = dqm ? BitLength(unsigned(dqm)) - 1 : 0;
    const int dl = (exp << 7) + (((dqm << 7) >> exp) & 127);
    const int dln = dl - (p.y >> 2);
    int mag = 0;
    while (mag < t.thresholds && dln >= t.thr[mag]) ++mag;
    constexpr unsigned kAll = (1u << Bits) - 1;
    if (d < 0) return kAll - unsigned(mag);
    // Outside 16 kbit/s the all-zero code word is not sent: the positive
    // zero level goes out as its negative twin, which decodes the same.
    if constexpr (Bits != 2)
        if (mag == 0) return kAll;
    return unsigned(mag);
}

template <int Bits>
void DecodeRunT(G726State& s, const uint8_t* codes, size_t n, int16_t* pcm)
{
    for (size_t i = 0; i < n; ++i) {
        const Prediction p = Predict(s);
        pcm[i] = ToPcm16(Reconstruct<Bits>(s, p, codes[i]));
    }
}

template <int Bits>
void EncodeRunT(G726State& s, const int16_t* pcm, size_t n, uint8_t* codes)
{
    for (size_t i = 0; i < n; ++i) {
        const Prediction p = Predict(s);
        const unsigned code = Quantize<Bits>(p, pcm[i]);
        Reconstruct<Bits>(s, p, code);
        codes[i] = uint8_t(code);
    }
}

}  // namespace

void G726Reset(G726State& s, int bits)
{
    s = G726State{};
    s.yl = 34816;
    s.yu = 544;
    for (uint16_t& v : s.dq) v = 32;
    for (uint16_t& v : s.sr) v = 32;
    s.bits = uint8_t(std::clamp(bits, 2, 5));
}

void G726Sanitize(G726State& s)
{
    s.bits = uint8_t(std::clamp<int>(s.bits, 2, 5));
    s.yl = std::clamp(s.yl, 544 << 6, 5120 << 6);
    s.yu = int16_t(std::clamp<int>(s.yu, 544, 5120));
    s.dms = int16_t(s.dms & 4095);
    s.dml = int16_t(s.dml & 16383);
    s.ap = int16_t(s.ap & 1023);
    s.a[1] = int16_t(std::clamp<int>(s.a[1], -12288, 12288));
    const int a1ul = 15360 - s.a[1];
    s.a[0] = int16_t(std::clamp<int>(s.a[0], -a1ul, a1ul));
    for (uint16_t& v : s.dq) v &= 2047;
    for (uint16_t& v : s.sr) v &= 2047;
    s.pk[0] &= 1;
    s.pk[1] &= 1;
    s.td &= 1;
}

int16_t G726Decode(G726State& s, unsigned code)
{
    int16_t out = 0;
    const uint8_t c = uint8_t(code);
    G726DecodeRun(s, &c, 1, &out);
    return out;
}

unsigned G726Encode(G726State& s, int16_t sample)
{
    uint8_t code = 0;
    G726EncodeRun(s, &sample, 1, &code);
    return code;
}

void G726DecodeRun(G726State& s, const uint8_t* codes, size_t n, int16_t* pcm)
{
    switch (s.bits) {
        case 2: DecodeRunT<2>(s, codes, n, pcm); break;
        case 3: DecodeRunT<3>(s, codes, n, pcm); break;
        case 4: DecodeRunT<4>(s, codes, n, pcm); break;
        default: DecodeRunT<5>(s, codes, n, pcm); break;
    }
}

void G726EncodeRun(G726State& s, const int16_t* pcm, size_t n, uint8_t* codes)
{
    switch (s.bits) {
        case 2: EncodeRunT<2>(s, pcm, n, codes); break;
        case 3: EncodeRunT<3>(s, pcm, n, codes); break;
        case 4: EncodeRunT<4>(s, pcm, n, codes); break;
        default: EncodeRunT<5>(s, pcm, n, codes); break;
    }
}

}  // namespace rkmedia::voice
