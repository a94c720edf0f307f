// Seeds of fuzz_event_file: event files of one and of several blocks, an
// empty block, counts beyond a block, a type-1 event of every input.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "player/search/EventFormat.h"

using namespace velmor;

namespace {

struct Seed {
    std::vector<uint8_t> bytes;

    Seed()
    {
        StEventFileHeader_t header{};
        std::memcpy(header.magic, kEventMagic, 4);
        for (size_t k = 0; k < kEventInputNames; ++k) std::snprintf(header.inputNames[k], kEventInputNameSize, "IN%zu", k);
        Put(&header, sizeof header);
    }
    void Put(const void* p, size_t n)
    {
        const auto* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
    // One block of `groups` groups of `units` units each; counts as given.
    void Block(uint16_t fileId, uint16_t groups, uint16_t units, uint16_t storedUnits, uint8_t firstType)
    {
        const size_t start = bytes.size();
        StEventBlockHead_t head{};
        head.fileId.set(fileId);
        head.groupCount.set(groups);
        Put(&head, sizeof head);
        uint8_t type = firstType;
        for (uint16_t g = 0; g < groups && bytes.size() - start < kEventBlockSize - 10; ++g) {
            StEventGroupHead_t group{};
            group.beginPos.set(4096u * g);
            group.unitCount.set(storedUnits);
            Put(&group, sizeof group);
            for (uint16_t u = 0; u < units && bytes.size() - start + 11 <= kEventBlockSize; ++u) {
                StEventUnit_t unit{};
                unit.type = type++ % 18;
                unit.channel = uint8_t(u * 3);
                unit.beginTime.set(1765188000u + u);
                unit.endTime.set(1765188000u + u * 2);
                Put(&unit, sizeof unit);
            }
        }
        bytes.resize(start + kEventBlockSize, 0);
    }
    void Save(const std::string& path) const
    {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    Seed one;
    one.Block(1, 2, 5, 5, 1);
    one.Save(dir + "/one-block");
    Seed several;
    several.Block(1, 0, 0, 0, 0);
    several.Block(2, 3, 4, 4, 2);
    several.Block(3, 1, 20, 20, 1);
    several.Save(dir + "/several-blocks");
    Seed overflow;
    overflow.Block(9, 1, 742, 60000, 5);
    overflow.Block(10, 1, 1, 1, 1);
    overflow.Save(dir + "/counts-beyond-block");
    Seed cut;
    cut.Block(4, 2, 3, 3, 1);
    cut.bytes.resize(kEventHeaderSize + 16 + 10 + 15);
    cut.Save(dir + "/truncated");
    return 0;
}
