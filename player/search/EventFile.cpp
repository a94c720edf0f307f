#include "player/search/EventFile.h"

#include <cstring>

#include "common/CodePage.h"
#include "common/FileReader.h"

namespace velmor {

EventFileStatus ReadEventFile(const EventReadAt& read, EventFileHeader* header, const EventUnitVisitor& visit)
{
    StEventFileHeader_t head;
    if (read(0, &head, sizeof head) != sizeof head) return EventFileStatus::kNoHeader;
    if (std::memcmp(head.magic, kEventMagic, sizeof kEventMagic) != 0) return EventFileStatus::kWrongMagic;
    if (header) {
        for (size_t k = 0; k < kEventInputNames; ++k)
            header->inputNames[k] = std::string(FieldText(head.inputNames[k], kEventInputNameSize));
    }

    for (uint64_t blockAt = kEventHeaderSize;; blockAt += kEventBlockSize) {
        StEventBlockHead_t block;
        if (read(blockAt, &block, sizeof block) != sizeof block) break;
        // Nothing a block says may reach into the next one: its counts are
        // only believed as far as its own bytes go.
        uint64_t at = blockAt + sizeof block;
        size_t budget = kEventBlockBudget;
        EventUnitRead unit;
        unit.fileId = block.fileId.get();
        bool blockEnded = false;
        for (uint32_t g = 0; g < block.groupCount.get() && !blockEnded; ++g) {
            StEventGroupHead_t group;
            if (budget < sizeof group || read(at, &group, sizeof group) != sizeof group) break;
            at += sizeof group;
            budget -= sizeof group;
            unit.beginPos = group.beginPos.get();
            for (uint32_t u = 0; u < group.unitCount.get(); ++u) {
                StEventUnit_t raw;
                if (budget < sizeof raw || read(at, &raw, sizeof raw) != sizeof raw) {
                    blockEnded = true;
                    break;
                }
                at += sizeof raw;
                budget -= sizeof raw;
                unit.type = raw.type;
                unit.channel = raw.channel;
                unit.beginTime = raw.beginTime.get();
                unit.endTime = raw.endTime.get();
                if (visit) visit(unit);
            }
        }
    }
    return EventFileStatus::kRead;
}

EventFileStatus ReadEventFile(const std::filesystem::path& path, EventFileHeader* header,
                              const EventUnitVisitor& visit)
{
    CFileReader file;
    if (!file.Open(path)) return EventFileStatus::kNoHeader;
    return ReadEventFile([&file](uint64_t offset, void* dst, size_t n) { return file.ReadAt(offset, dst, n); },
                         header, visit);
}

const char* EventTypeKey(uint8_t type)
{
    static constexpr const char* kKeys[17] = {
        nullptr,
        nullptr,  // 1: the alarm input's own name
        "Evevt_T_Videoloss",
        "Evevt_T_Vmd",
        nullptr,
        "Evevt_T_GSensorCrash",
        "Evevt_T_GSensorTurnOver",
        "Evevt_T_UrgentAlarm",
        "Evevt_T_OverSpeed",
        "Evevt_T_TiredDrive",
        "Evevt_T_PowerDown",
        "Evevt_T_LowVoltage",
        "Evevt_T_AreaAlarm",
        "Evevt_T_Shelter",
        "Evevt_T_GSensorSpeedUp",
        "Evevt_T_GSensorSpeedDown",
        "Evevt_T_GSensorWheel",
    };
    return type < 17 ? kKeys[type] : nullptr;
}

std::string EventDescription(const EventUnitRead& unit, const EventFileHeader& header, const CLanguageTable& language)
{
    if (unit.type == 1) {
        if (unit.channel < kEventInputNames && !header.inputNames[unit.channel].empty())
            return GbkToUtf8(header.inputNames[unit.channel]);
        return std::to_string(unit.channel);
    }
    const char* key = EventTypeKey(unit.type);
    if (!key) return {};
    std::string text = language.Text(key);
    return text.empty() ? std::string(key) : text;
}

}  // namespace velmor
