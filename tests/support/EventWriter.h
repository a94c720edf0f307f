// Event files "RecordEvent.bin" and the "fly" IFV files their events point
// into, written from values; counts can be set apart from what is written, so
// that tests can lay down the damage recorders and hostile files produce.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "player/search/EventFormat.h"

namespace velmor::fixtures {

struct EventUnitSpec {
    uint8_t type = 2;
    uint8_t channel = 0;
    uint32_t begin = 0;
    uint32_t end = 0;
};

struct EventGroupSpec {
    EventGroupSpec(uint32_t pos = 0, std::vector<EventUnitSpec> list = {}, std::optional<uint16_t> count = {})
        : beginPos(pos), units(std::move(list)), unitCount(count)
    {
    }
    uint32_t beginPos = 0;
    std::vector<EventUnitSpec> units;
    std::optional<uint16_t> unitCount;  // stored count; the number of units when not set
};

struct EventBlockSpec {
    EventBlockSpec(uint16_t id = 1, std::vector<EventGroupSpec> list = {}, std::optional<uint16_t> count = {})
        : fileId(id), groups(std::move(list)), groupCount(count)
    {
    }
    uint16_t fileId = 1;
    std::vector<EventGroupSpec> groups;
    std::optional<uint16_t> groupCount;  // stored count; the number of groups when not set
};

struct EventFileSpec {
    std::string magic = "RecE";
    std::array<std::string, kEventInputNames> inputNames;  // recorder code page, up to 15 bytes each
    std::vector<EventBlockSpec> blocks;
    // Bytes cut off the end of the file (a truncated copy).
    size_t cut = 0;
};

// The file's bytes: header, then one 8192-byte block per block described. What a block's
// groups would write beyond its 8176 bytes is left out.
std::vector<uint8_t> EventFileBytes(const EventFileSpec& layout);
void WriteEventFile(const std::filesystem::path& path, const EventFileSpec& layout);

// A small IFV image (a few key frames from `begin`) whose event channel is
// `eventChannel`.
std::vector<uint8_t> SmallIfvImage(const std::filesystem::path& scratch, uint32_t begin, uint16_t eventChannel,
                                   uint32_t frames = 4);

// A fly file with the IFV images at the given byte positions; the bytes
// between them are zero.
struct FlyImage {
    uint32_t pos = 0;
    uint32_t begin = 0;
    uint16_t eventChannel = 0;
};
void WriteFlyFile(const std::filesystem::path& path, const std::vector<FlyImage>& images);

}  // namespace velmor::fixtures
