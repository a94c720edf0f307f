// Deterministic payload bytes: the same seed always gives the same bytes.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace velmor::fixtures {

class CSplitMix64 {
public:
    explicit CSplitMix64(uint64_t seed) : m_state(seed) {}
    uint64_t Next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in [lo, hi].
    uint32_t Range(uint32_t lo, uint32_t hi) { return lo + uint32_t(Next() % (uint64_t(hi) - lo + 1)); }

private:
    uint64_t m_state;
};

inline void FillPayload(uint64_t seed, uint8_t* out, size_t n)
{
    CSplitMix64 rng(seed);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t v = rng.Next();
        std::memcpy(out + i, &v, 8);
    }
    if (i < n) {
        uint64_t v = rng.Next();
        std::memcpy(out + i, &v, n - i);
    }
}

inline std::vector<uint8_t> MakePayload(uint64_t seed, size_t n)
{
    std::vector<uint8_t> v(n);
    FillPayload(seed, v.data(), n);
    return v;
}

inline uint32_t Crc32(const uint8_t* data, size_t n)
{
    return uint32_t(crc32(crc32(0L, Z_NULL, 0), data, uInt(n)));
}

}  // namespace velmor::fixtures
