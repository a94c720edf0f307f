// The attached-information records of the playing recordings: which of them
// reach the driving-record page (once per second across all windows), the
// on-screen text of a second, and the three map scripts built from a record
// on the page's side.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "player/formats/AttachInfo.h"

namespace velmor {

constexpr size_t kMaxOsdTextBytes = 258;

// The event texts (UTF-8) active in a second, in set order.
using EventTextLookup = std::function<std::vector<std::string>(uint32_t second)>;

// Whether a record of this reader kind reaches the map at `speedLevel`:
// records of IFV files do at every speed, those of container and record
// files only at normal speed.
bool PublishesAtSpeed(bool ifvReader, int speedLevel);

// The on-screen text of a second: the event texts joined with commas, in
// the recorder's code page, at most 258 bytes and never ending inside a
// two-byte character.
std::string OsdText(uint32_t second, const EventTextLookup& events);

// The page's side: records queued by the play threads, taken one per posted
// message on the interface thread.
class CAttachInfoQueue {
public:
    // Called after each record is queued (the page posts its message).
    void SetNotify(std::function<void()> notify);
    void Push(const StAttachInfo_t& info);
    std::optional<StAttachInfo_t> Pop();
    // A new play or a seek: the same seconds are drawn again.
    void Clear();
    // True the first time a second is seen since the last Clear.
    bool FirstShow(uint32_t second);
    size_t Size();

private:
    std::mutex m_mutex;
    std::deque<StAttachInfo_t> m_queue;
    std::set<uint32_t> m_shown;
    std::function<void()> m_notify;
};

// Publishes a window's record when its second differs from the last one
// published by any window (`lastKey`, shared by the window set). Returns
// whether it was published.
bool PublishAttachInfo(const StAttachInfo_t& info, bool ifvReader, int speedLevel, std::atomic<uint32_t>& lastKey,
                       CAttachInfoQueue& queue);

struct MapSettings {
    bool convertGps = false;
    // The position correction (the correction grid's), used when convertGps
    // is set: longitude and latitude in decimal degrees, corrected in place.
    std::function<void(double& lon, double& lat)> correct;
    bool speedMph = false;
    int mapType = 0;  // 2: the offline map (the tile file's page) takes the position
};

struct MapScripts {
    std::string move;      // MoveCar(...)
    std::string carInfo;   // ShowCarInfo(...)
    std::string history;   // HistoryPath(...)
    bool offline = false;  // map type 2: the scripts go to the offline map's page
    double latitude = 0, longitude = 0;
};

// Texts used inside the scripts; single quotes, backslashes and line ends in
// them are escaped so that a name can never end the script's text early.
std::string ScriptQuoted(std::string_view text);
// The info text of a second: event texts joined with commas, "<br />" after
// the text that takes the running count past 16 characters.
std::string MapInfoText(const std::vector<std::string>& texts);

// A speed as the program writes it: "47 km/h", or with `mph` (setting
// SPEEDMPH) "29.204 MPH".
std::string SpeedText(int kmh, bool mph);

// The scripts for one record; nothing for a record without a position.
// `vehicle` empty stands for no vehicle selected ("unknow").
std::optional<MapScripts> BuildMapScripts(const StAttachInfo_t& info, const MapSettings& settings,
                                          const std::string& vehicle, const EventTextLookup& events);

// The page's handling of one posted record: takes the oldest queued record
// and builds its scripts, unless nothing is queued, its second was already
// drawn since the last Clear, or it carries no position.
std::optional<MapScripts> TakeMapScripts(CAttachInfoQueue& queue, const MapSettings& settings,
                                         const std::string& vehicle, const EventTextLookup& events);

}  // namespace velmor
