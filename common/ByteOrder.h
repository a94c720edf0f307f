// Little-endian loads and stores, and the packed field types that on-disk
// structures are built from. Recorder media are little-endian and unaligned;
// every access here goes byte by byte, so no structure is ever read by casting
// file bytes to a wider type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace velmor {

inline uint16_t LoadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadLE24(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16); }
inline uint32_t LoadLE32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t LoadLE64(const uint8_t* p) { return uint64_t(LoadLE32(p)) | (uint64_t(LoadLE32(p + 4)) << 32); }

inline void StoreLE16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void StoreLE24(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
}
inline void StoreLE32(uint8_t* p, uint32_t v)
{
    StoreLE16(p, uint16_t(v));
    StoreLE16(p + 2, uint16_t(v >> 16));
}
inline void StoreLE64(uint8_t* p, uint64_t v)
{
    StoreLE32(p, uint32_t(v));
    StoreLE32(p + 4, uint32_t(v >> 32));
}

// An N-byte little-endian integer field with alignment 1. Structures made only
// of these and of byte arrays have no padding, can be memcpy'd to and from
// file bytes, and need no packing pragmas to match the disk layout.
template <typename T, std::size_t N = sizeof(T)>
class LeField {
    static_assert(std::is_integral_v<T> && N <= sizeof(T));

public:
    T get() const
    {
        uint64_t v = 0;
        for (std::size_t i = 0; i < N; ++i) v |= uint64_t(m_b[i]) << (8 * i);
        return static_cast<T>(v);
    }
    void set(T value)
    {
        auto v = static_cast<uint64_t>(value);
        for (std::size_t i = 0; i < N; ++i) m_b[i] = uint8_t(v >> (8 * i));
    }

private:
    uint8_t m_b[N];
};

using le16 = LeField<uint16_t>;
using lei16 = LeField<int16_t>;
using le24 = LeField<uint32_t, 3>;
using le32 = LeField<uint32_t>;
using lei32 = LeField<int32_t>;
using le64 = LeField<uint64_t>;

static_assert(sizeof(le24) == 3 && alignof(le24) == 1);
static_assert(sizeof(le64) == 8 && alignof(le64) == 1);

}  // namespace velmor
