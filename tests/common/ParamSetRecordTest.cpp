// Decoder configuration records: a record is refused only when a parameter
// set it declares runs past its end.
#include <gtest/gtest.h>

#include <vector>

#include "common/ParamSetRecord.h"

namespace velmor {
namespace {

// An H.265 record: 22 bytes of profile, then `arrays` at byte 22.
std::vector<uint8_t> Hevc(std::vector<uint8_t> arrays)
{
    std::vector<uint8_t> r(22, 0);
    r[0] = 1;
    r.insert(r.end(), arrays.begin(), arrays.end());
    return r;
}

TEST(ParamSetRecord, DeclaredUnitsMustLieInsideTheRecord)
{
    struct Row {
        const char* what;
        bool hevc;
        std::vector<uint8_t> bytes;
        bool fits;
    };
    const Row rows[] = {
        {"empty", true, {}, true},
        {"annex b, 3-byte start code", true, {0, 0, 1, 0x40, 1}, true},
        {"annex b, 4-byte start code", false, {0, 0, 0, 1, 0x67}, true},
        {"hevc, no arrays", true, Hevc({0}), true},
        {"hevc, one array of one 2-byte unit", true, Hevc({1, 0x20, 0, 1, 0, 2, 0x40, 0x01}), true},
        {"hevc, unit one byte short", true, Hevc({1, 0x20, 0, 1, 0, 3, 0x40, 0x01}), false},
        {"hevc, 65535 units declared, none there", true, Hevc({1, 0x20, 0xFF, 0xFF}), false},
        {"hevc, 255 arrays declared", true, Hevc({255}), false},
        {"hevc, array head cut", true, Hevc({1, 0x20, 0}), false},
        {"hevc, too short to declare arrays", true, {1, 2, 3}, true},
        {"h264, one sps and one pps", false, {1, 0x64, 0, 0x1F, 0xFF, 0xE1, 0, 2, 0x67, 0x64, 1, 0, 1, 0x68}, true},
        {"h264, no pps count", false, {1, 0x64, 0, 0x1F, 0xFF, 0xE1, 0, 1, 0x67}, true},
        {"h264, sps past the end", false, {1, 0x64, 0, 0x1F, 0xFF, 0xE1, 0, 9, 0x67}, false},
        {"h264, 31 sps declared", false, {1, 0x64, 0, 0x1F, 0xFF, 0xFF}, false},
        {"h264, pps past the end", false, {1, 0x64, 0, 0x1F, 0xFF, 0xE0, 2, 0, 1, 0x68}, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(ParamSetRecordFits(r.hevc, r.bytes.data(), r.bytes.size()), r.fits);
    }
    EXPECT_TRUE(ParamSetRecordFits(true, nullptr, 5));
}

}  // namespace
}  // namespace velmor
