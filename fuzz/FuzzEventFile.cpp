// Feeds damaged event files to the event-file reader: the walk must end, read
// only inside the input and the block it is in, and every description must
// be valid UTF-8 (type 1 names included, for any input number).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/CodePage.h"
#include "common/IniFile.h"
#include "player/search/EventFile.h"

using namespace velmor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const CLanguageTable language(CIniFile::Parse("[Lang0]\nEvevt_T_Videoloss=Video loss\n"));
    uint64_t reads = 0;
    auto read = [&](uint64_t offset, void* dst, size_t n) -> size_t {
        ++reads;
        // The walk reads front to back, each block once.
        if (reads > 4 + 2 * (size / 10 + 1)) std::abort();
        if (offset >= size) return 0;
        const size_t k = std::min<uint64_t>(n, size - offset);
        std::memcpy(dst, data + offset, k);
        return k;
    };
    EventFileHeader header;
    size_t units = 0;
    const auto status = ReadEventFile(read, &header, [&](const EventUnitRead& unit) {
        ++units;
        const std::string text = EventDescription(unit, header, language);
        if (!IsValidUtf8(text)) std::abort();
        if (unit.type == 1 && text.empty()) std::abort();
    });
    if (status != EventFileStatus::kRead && units != 0) std::abort();
    // Eleven bytes a unit, never more units than the bytes after the header hold.
    if (size > kEventHeaderSize && units > (size - kEventHeaderSize) / sizeof(StEventUnit_t)) std::abort();
    return 0;
}
