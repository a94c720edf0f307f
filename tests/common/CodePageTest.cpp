#include <gtest/gtest.h>

#include "common/CodePage.h"

namespace velmor {
namespace {

// "粤B12345" in code page 936.
const std::string kGbkPlate = "\xD4\xC1" "B12345";
const std::string kUtf8Plate = "\xE7\xB2\xA4" "B12345";

TEST(CodePage, GbkToUtf8AndBack)
{
    EXPECT_EQ(GbkToUtf8(kGbkPlate), kUtf8Plate);
    EXPECT_EQ(Utf8ToGbk(kUtf8Plate), kGbkPlate);
    EXPECT_EQ(GbkToUtf8("plain ascii"), "plain ascii");
    EXPECT_EQ(GbkToUtf8(""), "");
}

TEST(CodePage, BrokenBytesBecomeReplacementCharacters)
{
    // A lead byte at the end, cut from its trail byte.
    EXPECT_EQ(GbkToUtf8("AB\xD4"), "AB\xEF\xBF\xBD");
    EXPECT_EQ(GbkToUtf8("\xFF" "A"), "\xEF\xBF\xBD" "A");
}

TEST(CodePage, Utf16BothOrders)
{
    const std::string le("\x41\x00\xA4\x7C", 4);  // "A粤"
    const std::string be("\x00\x41\x7C\xA4", 4);
    EXPECT_EQ(Utf16ToUtf8(le, false), "A\xE7\xB2\xA4");
    EXPECT_EQ(Utf16ToUtf8(be, true), "A\xE7\xB2\xA4");
    EXPECT_EQ(Utf16ToUtf8(std::string("\x41\x00\x42", 3), false), "A") << "odd byte dropped";
}

TEST(CodePage, Utf8Validation)
{
    EXPECT_TRUE(IsValidUtf8(kUtf8Plate));
    EXPECT_FALSE(IsValidUtf8(kGbkPlate));
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));      // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
    EXPECT_FALSE(IsValidUtf8("\xE7\xB2"));      // cut short
}

TEST(CodePage, FieldTextStopsAtNulOrSize)
{
    const char a[4] = {'a', 'b', 0, 'c'};
    EXPECT_EQ(FieldText(a, 4), "ab");
    const char b[3] = {'x', 'y', 'z'};
    EXPECT_EQ(FieldText(b, 3), "xyz");
}

}  // namespace
}  // namespace velmor
