#include <gtest/gtest.h>

#include <cstring>

#include "common/ByteOrder.h"

namespace velmor {
namespace {

TEST(ByteOrder, LoadsAndStoresAreLittleEndian)
{
    const uint8_t b[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
    EXPECT_EQ(LoadLE16(b), 0x0201);
    EXPECT_EQ(LoadLE24(b), 0x030201u);
    EXPECT_EQ(LoadLE32(b), 0x04030201u);
    EXPECT_EQ(LoadLE64(b), 0x8807060504030201ULL);
    uint8_t out[8] = {};
    StoreLE64(out, 0x8807060504030201ULL);
    EXPECT_EQ(0, std::memcmp(out, b, 8));
    StoreLE24(out, 0xFFABCDEF);
    EXPECT_EQ(out[2], 0xAB);
    EXPECT_EQ(out[3], 0x04) << "a 24-bit store leaves the fourth byte";
}

TEST(ByteOrder, FieldsHaveNoAlignment)
{
    struct Packed {
        uint8_t a;
        le32 b;
        le24 c;
        lei32 d;
    };
    static_assert(sizeof(Packed) == 12 && alignof(Packed) == 1);
    Packed p{};
    p.b.set(0xDEADBEEF);
    p.c.set(0x12345678);  // only 24 bits are kept
    p.d.set(-2);
    EXPECT_EQ(p.b.get(), 0xDEADBEEFu);
    EXPECT_EQ(p.c.get(), 0x345678u);
    EXPECT_EQ(p.d.get(), -2);
    uint8_t raw[12];
    std::memcpy(raw, &p, 12);
    EXPECT_EQ(raw[1], 0xEF);
    EXPECT_EQ(raw[8], 0xFE);
    EXPECT_EQ(raw[11], 0xFF);
}

}  // namespace
}  // namespace velmor
