#include "player/workspace/GSensorEvents.h"

#include <algorithm>
#include <tuple>

namespace velmor {

const std::vector<GSensorKind>& GSensorKinds()
{
    static const std::vector<GSensorKind> kinds = {
        {5, "GSensor_Option_Crash"},
        {6, "GSensor_Option_TurnOver"},
        {14, "GSensor_Option_SpeedUp"},
        {15, "GSensor_Option_SpeedDown"},
        {16, "GSensor_Option_Wheel"},
    };
    return kinds;
}

const GSensorKind* FindGSensorKind(uint8_t type)
{
    for (const auto& k : GSensorKinds())
        if (k.type == type) return &k;
    return nullptr;
}

const std::vector<GSensorKind>& IoAlarmKinds()
{
    static const std::vector<GSensorKind> kinds = {{1, "Warn_Option_IO"}, {7, "Warn_Option_Urgent"}};
    return kinds;
}

std::vector<EventRecord> SelectGSensorEvents(const std::vector<EventRecord>& events, uint32_t from, uint32_t to,
                                             const std::set<uint8_t>& shown)
{
    std::set<uint8_t> types;
    for (uint8_t t : shown)
        if (FindGSensorKind(t)) types.insert(t);
    return SelectEvents(events, from, to, types);
}

std::vector<EventRecord> SelectEvents(const std::vector<EventRecord>& events, uint32_t from, uint32_t to,
                                      const std::set<uint8_t>& types)
{
    if (from > to) std::swap(from, to);
    std::vector<EventRecord> out;
    for (const auto& e : events) {
        if (!types.count(e.type)) continue;
        const uint32_t end = std::max(e.beginTime, e.endTime);
        if (e.beginTime > to || end < from) continue;
        out.push_back(e);
    }
    std::stable_sort(out.begin(), out.end(), [](const EventRecord& a, const EventRecord& b) {
        return std::tie(a.beginTime, a.type, a.channel) < std::tie(b.beginTime, b.type, b.channel);
    });
    return out;
}

std::vector<int> CountByKind(const std::vector<EventRecord>& selected)
{
    const auto& kinds = GSensorKinds();
    std::vector<int> counts(kinds.size(), 0);
    for (const auto& e : selected)
        for (size_t i = 0; i < kinds.size(); ++i)
            if (kinds[i].type == e.type) ++counts[i];
    return counts;
}

}  // namespace velmor
