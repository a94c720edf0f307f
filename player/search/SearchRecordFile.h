// The record search of the driving-record page: classifies the source the
// user picked (a recorder disk, a folder of container files, a single
// recording file), lists its recordings through the index search, the
// container reader or the IFV library, and lists the recorder's events from
// "RecordEvent.bin" with the recordings that show them.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/LanguageTable.h"
#include "index/format/SearchRecord.h"
#include "player/search/EventFile.h"
#include "player/search/RecorderDisks.h"
#include "player/search/SearchProgress.h"

namespace velmor {

enum SearchSourceListKind : int {
    kListIndexDisk = 0,
    kListContainerFolder = 1,
};

struct SearchSource {
    int kind = kListIndexDisk;
    std::filesystem::path folder;
};

// One recording segment and the file the player opens to play it.
struct SearchResult {
    StSearchRecord_t record{};
    std::filesystem::path path;
};

// The record of a channel's span in a single container file.
inline StSearchRecord_t ContainerFileRecord(int channel, uint32_t beginTime, uint32_t endTime)
{
    StSearchRecord_t r{};
    r.kind = kSourceContainerFile;
    r.channel = uint8_t(channel);
    r.beginTime.set(beginTime);
    r.endTime.set(endTime);
    return r;
}

// The events of every second, for the play windows' on-screen text and map
// information. Events are kept by their span rather than entered second by
// second: a unit may claim decades, and the answer for a second is the same.
class CEventSecondMap {
public:
    void Add(const EventRecord& event);
    // The set of events whose span holds `second` (both ends included).
    std::set<EventRecord> At(uint32_t second) const;
    void Clear();
    size_t EventCount() const;

private:
    mutable std::mutex m_mutex;
    std::multimap<uint32_t, EventRecord> m_byBegin;
    uint32_t m_longestSpan = 0;
};

// The map the play windows of this process read.
CEventSecondMap& ProcessEventMap();

// The configured time window of searches: 2000-01-01 00:00:00 to the local
// time `now` with 30 added to the year, in recorder seconds.
struct SearchWindow {
    uint32_t start = 946684800;
    uint32_t end = 0;
};
SearchWindow SearchWindowAt(std::time_t now);

class CSearchRecordFile {
public:
    static constexpr size_t kMaxFolders = 20;
    static constexpr int kContainerCapacity = 20000;

    explicit CSearchRecordFile(CLanguageTable language = CLanguageTable::Load());

    // The configured channel selection (bit n = channel n + 1).
    void SetChannelMask(uint32_t mask) { m_uChannelMask = mask; }
    // The clock of the search window; the wall clock unless a test sets one.
    void SetNow(std::time_t now) { m_tNow = now; }
    // Progress of SearchRecordFile and SearchRpoRecordFile in percent, and
    // the flag that cancels them (they then list nothing and answer false).
    void SetProgress(CSearchProgress::Callback callback, const std::atomic<bool>* cancel = nullptr)
    {
        m_progress.Set(std::move(callback), cancel);
    }
    // The event map events are entered into; the process's map by default,
    // none when null (a search whose events nothing plays).
    void SetEventMap(CEventSecondMap* map) { m_pEventMap = map; }

    // Clears sources, results and events, classifies `folder` and searches
    // its events. False when it is no source.
    bool SetSource(const std::filesystem::path& folder);
    // The same for every root of one recorder disk; an empty name takes the
    // first disk. False when the disk is gone or none of its roots is a source.
    bool SetRecorderDisk(const std::map<std::string, RecorderDisk>& disks, const std::string& chosen = {});
    // Appends `folder` to the source list when it is an index disk or holds
    // a container file.
    bool ClassifySource(const std::filesystem::path& folder);
    static bool bExistsRpoFile(const std::filesystem::path& folder);

    const std::vector<SearchSource>& Sources() const { return m_vSources; }
    SourceCapacity Capacity() const;

    // Recordings of the index-disk sources. False when the count is 0 or the
    // search fails.
    bool SearchRecordFile();
    // Recordings of the container-folder sources; `devices` (one per source,
    // empty strings meaning "find it") names the volume behind each folder.
    bool SearchRpoRecordFile(const std::vector<std::string>& devices = {});
    // One recording file picked by the user.
    bool SearchSingleRecordFile(const std::filesystem::path& file);
    bool SearchOneRpoRecordFile(const std::filesystem::path& file, uint32_t* foundMask, uint32_t* beginTime,
                                uint32_t* endTime);
    // The runs of recording, in time order, of each channel of `mask` (bit
    // n: channel n + 1) in a container file, by channel counted from 1; a
    // channel that cannot be read is left out.
    static std::map<int, std::vector<std::pair<uint32_t, uint32_t>>> RpoChannelSpans(
        const std::filesystem::path& file, uint32_t mask);

    // The events of every source folder. Returns the number listed.
    int SearchIfvEventFile();
    // The same for folders of one's own choice, sources or not.
    int SearchIfvEventFile(const std::vector<std::filesystem::path>& folders);

    std::vector<SearchResult> Results() const;
    const std::vector<EventRecord>& Events() const { return m_vEvents; }

    // Events by month (YYYYMM), day (YYYYMMDD) and channel, as indices into Events().
    using ChannelEvents = std::map<int, std::vector<size_t>>;
    using DayEvents = std::map<int, ChannelEvents>;
    using MonthEvents = std::map<int, DayEvents>;
    const MonthEvents& EventGroups() const { return m_mEventGroups; }
    void AddAlarmMonthIfvToEvent(size_t eventIndex);
    void AddAlarmDayIfvToEvent(DayEvents& days, size_t eventIndex);
    void AddAlarmChnIfvToEvent(ChannelEvents& channels, size_t eventIndex);

    // The recordings of the event's channel whose span holds the event's
    // begin second, each file once.
    std::vector<std::filesystem::path> GetEventIfvFileInAllIfv(const EventRecord& event,
                                                               const std::vector<SearchResult>& recordings) const;

private:
    void ClearAll();
    void AddResult(const SearchResult& result);
    void SearchFolderEvents(const std::filesystem::path& folder, const SearchWindow& window);
    void GroupEvents();

    CLanguageTable m_language;
    CSearchProgress m_progress;
    uint32_t m_uChannelMask = 0xFFFF;
    std::time_t m_tNow = 0;  // 0: the wall clock
    CEventSecondMap* m_pEventMap;

    std::vector<SearchSource> m_vSources;
    mutable std::mutex m_resultLock;
    std::vector<SearchResult> m_vResults;
    std::vector<EventRecord> m_vEvents;
    MonthEvents m_mEventGroups;
};

}  // namespace velmor
