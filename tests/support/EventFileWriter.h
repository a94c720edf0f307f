// Event files "RecordEvent.bin" as recorders with an index pair keep them: a
// 144-byte header with the names of the eight alarm inputs, then 8192-byte
// blocks, each naming one "fly" file and holding groups of event units that
// point at event recordings inside it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ByteOrder.h"

namespace velmor::fixtures {

namespace evt {

using velmor::le16;
using velmor::le32;

constexpr size_t kHeaderSize = 144;
constexpr size_t kBlockSize = 8192;
constexpr size_t kInputNames = 8;
constexpr size_t kInputNameSize = 16;
constexpr char kMagic[4] = {'R', 'e', 'c', 'E'};

struct StEventFileHeader_t {
    char magic[4];
    uint8_t spare[5];
    char inputNames[kInputNames][kInputNameSize];  // recorder code page, NUL-terminated
    uint8_t tail[7];
};

struct StEventBlockHead_t {
    le16 fileId;  // the "fly%05d.ifv" file the block's events point to
    le16 groupCount;
    uint8_t spare[12];
};

struct StEventGroupHead_t {
    le32 beginPos;  // byte position of the event recording inside the fly file
    le16 unitCount;
    uint8_t spare[4];
};

struct StEventUnit_t {
    uint8_t type;
    uint8_t channel;
    uint8_t spare;
    le32 beginTime;
    le32 endTime;
};

static_assert(sizeof(StEventFileHeader_t) == kHeaderSize && alignof(StEventFileHeader_t) == 1);
static_assert(offsetof(StEventFileHeader_t, inputNames) == 9);
static_assert(sizeof(StEventBlockHead_t) == 16 && offsetof(StEventBlockHead_t, groupCount) == 2);
static_assert(sizeof(StEventGroupHead_t) == 10 && offsetof(StEventGroupHead_t, unitCount) == 4);
static_assert(sizeof(StEventUnit_t) == 11 && offsetof(StEventUnit_t, beginTime) == 3 &&
              offsetof(StEventUnit_t, endTime) == 7);

// Bytes a block has for its groups after its head.
constexpr size_t kBlockBudget = kBlockSize - sizeof(StEventBlockHead_t);

}  // namespace evt

struct EventUnit {
    uint8_t type = 0;
    uint8_t channel = 0;  // the alarm input for type 1
    uint32_t begin = 0;
    uint32_t end = 0;
};

struct EventGroup {
    uint32_t beginPos = 0;
    std::vector<EventUnit> units;
};

struct EventBlock {
    uint16_t fileId = 0;
    std::vector<EventGroup> groups;
};

// Bytes a block's groups take (group heads and units).
size_t EventBlockPayload(const EventBlock& block);

class CEventFileImage {
public:
    // `name` in the recorder's code page; at most 15 bytes are kept so that
    // the name stays NUL-terminated.
    void SetInputName(size_t input, const std::string& name);
    // Throws std::invalid_argument when the groups do not fit into one block.
    void AddBlock(EventBlock block);

    const std::vector<EventBlock>& Blocks() const { return m_blocks; }
    std::vector<uint8_t> Bytes() const;
    void Save(const std::filesystem::path& path) const;

private:
    std::array<std::string, evt::kInputNames> m_names{};
    std::vector<EventBlock> m_blocks;
};

}  // namespace velmor::fixtures
