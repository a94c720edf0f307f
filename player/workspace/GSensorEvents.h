// The G-sensor events among a recording's events, and the menu options
// that choose which kinds are shown.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "player/search/EventFile.h"

namespace velmor {

struct GSensorKind {
    uint8_t type;        // event type in the event file
    const char* option;  // menu option name, also its language key
};

// Crash, roll-over, sharp acceleration, hard braking, sharp turn: in menu order.
const std::vector<GSensorKind>& GSensorKinds();
// The kind of an event type; null for the types that are not G-sensor events.
const GSensorKind* FindGSensorKind(uint8_t type);

// The G-sensor events of `events` whose type is in `shown` and whose span
// meets [from, to] (the two are swapped when given the wrong way round),
// sorted by start time, then type and channel.
std::vector<EventRecord> SelectGSensorEvents(const std::vector<EventRecord>& events, uint32_t from, uint32_t to,
                                             const std::set<uint8_t>& shown);

// The IO tab's kinds: alarm inputs (type 1) and urgent alarms (type 7), in
// the order of its menu.
const std::vector<GSensorKind>& IoAlarmKinds();
// The events of `events` whose type is in `types` and whose span meets
// [from, to] (swapped when given the wrong way round), sorted by start time,
// then type and channel.
std::vector<EventRecord> SelectEvents(const std::vector<EventRecord>& events, uint32_t from, uint32_t to,
                                      const std::set<uint8_t>& types);

// Events per kind, in menu order, for the chart.
std::vector<int> CountByKind(const std::vector<EventRecord>& selected);

}  // namespace velmor
