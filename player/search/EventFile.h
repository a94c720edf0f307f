// Reading the recorder's event file "RecordEvent.bin" (layout in
// EventFormat.h) and naming its events.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>

#include "common/LanguageTable.h"
#include "player/search/EventFormat.h"

namespace velmor {

// One unit as the file holds it, with what its block and group say about it.
struct EventUnitRead {
    uint8_t type = 0;
    uint8_t channel = 0;
    uint32_t beginTime = 0;
    uint32_t endTime = 0;
    uint16_t fileId = 0;
    uint32_t beginPos = 0;
};

struct EventFileHeader {
    // The alarm-input names in the recorder's code page, up to their NUL.
    std::array<std::string, kEventInputNames> inputNames;
};

// Reads up to n bytes at an offset; fewer only at the end of the input.
using EventReadAt = std::function<size_t(uint64_t offset, void* dst, size_t n)>;
using EventUnitVisitor = std::function<void(const EventUnitRead&)>;

enum class EventFileStatus { kRead, kNoHeader, kWrongMagic };

// Walks the blocks of an event file and hands every unit to `visit`, in file
// order. Each block's groups read from the block's own 8176 bytes: a group
// head or unit that would not fit what is left of them, or a short read, ends
// the block, and the next block head is read 8192 bytes after this one. The
// walk ends at the first block head that cannot be read whole, so every input
// is read once, front to back.
EventFileStatus ReadEventFile(const EventReadAt& read, EventFileHeader* header, const EventUnitVisitor& visit);
// The same for a file, opened read-only. kNoHeader also when it cannot be opened.
EventFileStatus ReadEventFile(const std::filesystem::path& path, EventFileHeader* header,
                              const EventUnitVisitor& visit);

// The language key of an event type's description; null for types without
// one (4, 0 and above 16) and for type 1, whose text is an input name.
const char* EventTypeKey(uint8_t type);

// The UTF-8 description of a unit; empty when its type has none (such an
// event is not listed). Type 1 is the name of alarm input `channel` from the
// header; the header names only inputs 0 to 7, so a higher input, or one
// whose name is empty, is shown by its number. A key the language table
// lacks is shown as the key itself, so that a missing translation never
// hides an event.
std::string EventDescription(const EventUnitRead& unit, const EventFileHeader& header,
                             const CLanguageTable& language);

// An event as the driving-record page lists it.
struct EventRecord {
    uint8_t type = 0;
    uint8_t channel = 0;  // as the unit stores it, or the event recording's own event channel (types 1 to 3)
    uint32_t beginTime = 0;
    uint32_t endTime = 0;
    uint16_t fileId = 0;
    uint32_t beginPos = 0;
    std::string description;  // UTF-8
    std::filesystem::path folder;
    std::filesystem::path path;  // the fly file holding the event's recording

    auto Key() const { return std::tie(beginTime, endTime, type, channel, fileId, beginPos, path); }
    bool operator<(const EventRecord& other) const { return Key() < other.Key(); }
    bool operator==(const EventRecord& other) const { return Key() == other.Key(); }
};

// Hands the events of `folder`'s event file that lie within [windowStart,
// windowEnd] and have a description to `visit`, one at a time in the file's
// order, with their fly file and, for types 1 to 3, the event channel that
// fly file names. Nothing is kept between events, so an event file of any
// size is listed in the same small memory.
EventFileStatus ForEachFolderEvent(const std::filesystem::path& folder, uint32_t windowStart, uint32_t windowEnd,
                                   const CLanguageTable& language,
                                   const std::function<void(const EventRecord&)>& visit);

}  // namespace velmor
