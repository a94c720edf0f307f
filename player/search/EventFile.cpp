#include "player/search/EventFile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <unordered_map>

#include "common/CodePage.h"
#include "common/FileReader.h"
#include "common/PathUtil.h"
#include "player/formats/IfvFile.h"
#include "player/search/SearchTrace.h"

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

    // One read a block: the bytes a block holds bound everything it says, and
    // a block cut by the end of the input simply holds fewer of them.
    std::array<uint8_t, kEventBlockSize> bytes;
    for (uint64_t blockAt = kEventHeaderSize;; blockAt += kEventBlockSize) {
        const size_t got = read(blockAt, bytes.data(), bytes.size());
        if (got < sizeof(StEventBlockHead_t)) break;
        StEventBlockHead_t block;
        std::memcpy(&block, bytes.data(), sizeof block);
        size_t at = sizeof block;
        const size_t end = std::min(got, kEventBlockSize);
        EventUnitRead unit;
        unit.fileId = block.fileId.get();
        bool blockEnded = false;
        for (uint32_t g = 0; g < block.groupCount.get() && !blockEnded; ++g) {
            if (end - at < sizeof(StEventGroupHead_t)) break;
            StEventGroupHead_t group;
            std::memcpy(&group, bytes.data() + at, sizeof group);
            at += sizeof group;
            unit.beginPos = group.beginPos.get();
            for (uint32_t u = 0; u < group.unitCount.get(); ++u) {
                if (end - at < sizeof(StEventUnit_t)) {
                    blockEnded = true;
                    break;
                }
                StEventUnit_t raw;
                std::memcpy(&raw, bytes.data() + at, sizeof raw);
                at += sizeof raw;
                unit.type = raw.type;
                unit.channel = raw.channel;
                unit.beginTime = raw.beginTime.get();
                unit.endTime = raw.endTime.get();
                if (visit) visit(unit);
            }
        }
        if (got < kEventBlockSize) break;
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

EventFileStatus ForEachFolderEvent(const std::filesystem::path& folder, uint32_t windowStart, uint32_t windowEnd,
                                   const CLanguageTable& language,
                                   const std::function<void(const EventRecord&)>& visit)
{
    EventFileHeader header;
    const std::filesystem::path path = FindNoCase(folder, kEventFileName);
    CFileReader file;
    if (!file.Open(path)) return EventFileStatus::kNoHeader;
    // The header comes first, so its input names are known before any unit.
    const EventFileStatus status = ReadEventFile(
        [&file](uint64_t offset, void* dst, size_t n) { return file.ReadAt(offset, dst, n); }, &header, nullptr);
    if (status != EventFileStatus::kRead) return status;

    std::filesystem::path cachedFly;
    int cachedChannel = -1;  // -1: the fly file could not be opened
    // Units of one block share their fly file: its name is looked up once.
    int lastFileId = -1;
    EventRecord event;
    event.folder = folder;
    // Descriptions depend on type and channel only: each is made once.
    std::unordered_map<uint16_t, std::string> descriptions;
    return ReadEventFile(
        [&file](uint64_t offset, void* dst, size_t n) { return file.ReadAt(offset, dst, n); }, nullptr,
        [&](const EventUnitRead& unit) {
            if (unit.beginTime < windowStart || unit.endTime > windowEnd) return;
            SEARCH_TRACE("StEventUnit:type:%d,beginPos:%u,fileId:%u,channel:%u,beginTime:%u,endTime:%u\n", unit.type,
                         unit.beginPos, unsigned(unit.fileId), unsigned(unit.channel), unit.beginTime, unit.endTime);
            const uint16_t key = uint16_t(unit.type << 8 | unit.channel);
            auto known = descriptions.find(key);
            if (known == descriptions.end())
                known = descriptions.emplace(key, EventDescription(unit, header, language)).first;
            if (known->second.empty()) return;
            // Most units of a file share a few descriptions: copied on change only.
            if (event.description != known->second) event.description = known->second;
            event.type = unit.type;
            event.channel = unit.channel;
            event.beginTime = unit.beginTime;
            event.endTime = unit.endTime;
            event.fileId = unit.fileId;
            event.beginPos = unit.beginPos;
            if (unit.fileId != lastFileId) {
                lastFileId = unit.fileId;
                char name[32];
                std::snprintf(name, sizeof name, "fly%05u.ifv", unsigned(unit.fileId));
                event.path = FindNoCase(folder, name);
            }
            SEARCH_TRACE("FileName:%s\n", event.path.c_str());
            if (unit.type >= 1 && unit.type <= 3) {
                if (event.path != cachedFly) {
                    cachedFly = event.path;
                    std::error_code ec;
                    FILEHANDLE* h = std::filesystem::exists(event.path, ec)
                                        ? RK_OpenFile2(event.path.c_str(), int64_t(unit.beginPos), RK_FILE_MODE_READ)
                                        : nullptr;
                    cachedChannel = h ? RK_FileGetEventChannel(h) : -1;
                    if (h) RK_CloseFile2(h);
                }
                if (cachedChannel >= 0) event.channel = uint8_t(cachedChannel);
                SEARCH_TRACE("Type:%d,EventIO:%d,EventChannel:%d\n", unit.type, unit.channel, event.channel);
            }
            SEARCH_TRACE("type:%d,channel:%d,path:%s,begintime:%u,endTime:%u\n", event.type, event.channel,
                         event.path.c_str(), event.beginTime, event.endTime);
            visit(event);
        });
}

}  // namespace velmor
