#include "player/playback/AttachPublisher.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/CodePage.h"
#include "player/playback/PlayClock.h"

namespace velmor {

bool PublishesAtSpeed(bool ifvReader, int speedLevel) { return ifvReader || speedLevel == 0; }

std::string OsdText(uint32_t second, const EventTextLookup& events)
{
    if (!events) return {};
    std::string joined;
    for (const std::string& t : events(second)) {
        if (!joined.empty()) joined += ",";
        joined += t;
    }
    const std::string gbk = Utf8ToGbk(joined);
    // Walk the characters so that the cut never splits a two-byte one.
    size_t keep = 0;
    while (keep < gbk.size()) {
        const size_t n = static_cast<unsigned char>(gbk[keep]) >= 0x81 && keep + 1 < gbk.size() ? 2 : 1;
        if (keep + n > kMaxOsdTextBytes) break;
        keep += n;
    }
    return gbk.substr(0, keep);
}

void CAttachInfoQueue::SetNotify(std::function<void()> notify)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_notify = std::move(notify);
}

void CAttachInfoQueue::Push(const StAttachInfo_t& info)
{
    std::function<void()> notify;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(info);
        notify = m_notify;
    }
    if (notify) notify();
}

std::optional<StAttachInfo_t> CAttachInfoQueue::Pop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue.empty()) return std::nullopt;
    StAttachInfo_t info = m_queue.front();
    m_queue.pop_front();
    return info;
}

void CAttachInfoQueue::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.clear();
    m_shown.clear();
}

bool CAttachInfoQueue::FirstShow(uint32_t second)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_shown.insert(second).second;
}

size_t CAttachInfoQueue::Size()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size();
}

bool PublishAttachInfo(const StAttachInfo_t& info, bool ifvReader, int speedLevel, std::atomic<uint32_t>& lastKey,
                       CAttachInfoQueue& queue)
{
    if (!PublishesAtSpeed(ifvReader, speedLevel)) return false;
    const uint32_t key = info.time.get();
    uint32_t last = lastKey.load();
    // Only the first window to reach a new second publishes it.
    do {
        if (last == key) return false;
    } while (!lastKey.compare_exchange_weak(last, key));
    char first[9] = {};
    std::memcpy(first, info.event[0], 8);
    PLAY_TRACE("alarmSign:%u,event:%s,lat:%d,lon:%d", info.alarmSign.get(), first, info.latitude.get(),
               info.longitude.get());
    queue.Push(info);
    return true;
}

std::string ScriptQuoted(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\'': out += "\\'"; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

std::string SpeedText(int kmh, bool mph)
{
    char text[48];
    if (mph)
        std::snprintf(text, sizeof text, "%.03f MPH", kmh / 1.609344);
    else
        std::snprintf(text, sizeof text, "%d km/h", kmh);
    return text;
}

std::string MapInfoText(const std::vector<std::string>& texts)
{
    std::string info;
    long counter = 0;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) info += ",";
        info += texts[i];
        counter += long(info.size());
        if (counter > 16) {
            info += "<br />";
            counter = -counter;
        }
    }
    return info;
}

std::optional<MapScripts> BuildMapScripts(const StAttachInfo_t& info, const MapSettings& settings,
                                          const std::string& vehicle, const EventTextLookup& events)
{
    if (!HasPosition(info)) return std::nullopt;
    MapScripts out;
    double lat = CoordinateDegrees(info.latitude.get());
    double lon = CoordinateDegrees(info.longitude.get());
    if (settings.convertGps && settings.correct) settings.correct(lon, lat);
    out.latitude = lat;
    out.longitude = lon;
    // The offline map is a page of its own over the tile file, with the same
    // script interface: the car moves on it as on the others.
    out.offline = settings.mapType == 2;
    char latText[20], lonText[20];
    std::snprintf(latText, sizeof latText, "%f", lat);
    std::snprintf(lonText, sizeof lonText, "%f", lon);

    const std::time_t t = std::time_t(info.time.get());
    std::tm tm{};
    gmtime_r(&t, &tm);
    char timeText[64];
    std::snprintf(timeText, sizeof timeText, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);

    std::vector<std::string> texts = events ? events(info.time.get()) : std::vector<std::string>{};
    std::string infoText;
    if (!texts.empty()) {
        infoText = MapInfoText(texts);
    } else {
        for (const auto& name : info.event) {
            const std::string_view n = FieldText(name, sizeof name);
            if (n.empty()) continue;
            if (!infoText.empty()) infoText += ",";
            infoText += GbkToUtf8(n);
        }
    }

    const int speed = info.speed.get();
    const std::string speedText = SpeedText(speed, settings.speedMph != 0);
    const int heading = speed < 10 ? 0 : int(info.heading.get());
    const std::string name = ScriptQuoted(vehicle.empty() ? std::string("unknow") : vehicle);

    out.move = "MoveCar('" + name + "','" + latText + "','" + lonText + "','" + std::to_string(heading) + "','" +
               timeText + "','" + speedText + "','0','" + ScriptQuoted(infoText) + "','','',' ')";
    out.carInfo = "ShowCarInfo('" + name + "')";
    out.history = "HistoryPath('" + name + "','" + latText + "','" + lonText + "'," + std::to_string(heading) + ",' ')";
    PLAY_TRACE("%s", out.move.c_str());
    PLAY_TRACE("%s", out.history.c_str());
    return out;
}

std::optional<MapScripts> TakeMapScripts(CAttachInfoQueue& queue, const MapSettings& settings,
                                         const std::string& vehicle, const EventTextLookup& events)
{
    const auto info = queue.Pop();
    if (!info || !queue.FirstShow(info->time.get())) return std::nullopt;
    try {
        return BuildMapScripts(*info, settings, vehicle, events);
    } catch (...) {
        PLAY_TRACE("Oprator Map Exception");
        return std::nullopt;
    }
}

}  // namespace velmor
