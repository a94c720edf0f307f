// The shared lower-case helper of name matching: ASCII capitals only.
#include <gtest/gtest.h>

#include <string>

#include "common/PathUtil.h"

namespace velmor {
namespace {

TEST(PathUtilTest, LowerChangesAsciiCapitalsOnly)
{
    struct Row {
        std::string in, out;
    };
    const Row rows[] = {
        {"FC00012.RPO", "fc00012.rpo"},
        {"Clip.Mp4", "clip.mp4"},
        {"@[`{az09", "@[`{az09"},  // the neighbours of 'A'..'Z' and 'a'..'z' stay
        {"\xC3\x84" "B", "\xC3\x84" "b"},  // UTF-8 and code page bytes stay
        {std::string("A\0B", 3), std::string("a\0b", 3)},
        {"", ""},
    };
    for (const Row& row : rows) EXPECT_EQ(Lower(row.in), row.out) << row.in;
}

}  // namespace
}  // namespace velmor
