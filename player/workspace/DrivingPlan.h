// The driving-record page's bookkeeping without widgets: the search result
// by channel, the days it covers, the type filter, the time-play planner
// that turns a time on the timeline into play requests, and the walk over
// the day folders of a download folder. Times are recorder seconds since
// 1970 as the recorder wrote them (read as UTC, no zone shift).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "index/format/SearchRecord.h"
#include "player/workspace/TimelineModel.h"
#include "player/playback/PlayClock.h"
#include "player/playback/PlayRequest.h"

namespace velmor {

// One found recording and the file the search found it in (may be empty).
struct WorkRecord {
    StSearchRecord_t record{};
    std::filesystem::path path;
};

// A channel's recordings sorted by start; `toEnd` asks the play windows to
// stop at the end of the searched range (request kind 3 instead of 1).
struct ChannelRecords {
    bool toEnd = false;
    std::vector<WorkRecord> records;
};
using SearchResultMap = std::map<int, ChannelRecords>;

// Groups records by channel (1..16; others dropped) and sorts each by start.
SearchResultMap GroupByChannel(const std::vector<WorkRecord>& records, bool toEnd = false);
size_t RecordCount(const SearchResultMap& result);

// The type filter of the page.
enum class ETypeFilter { kAll, kNormal, kAlarm };
// The type numbers a filter shows; empty for kAll (every type).
std::set<int> TypeSet(ETypeFilter filter);
// The recording type a record carries: index disk records carry it in their
// first byte; the other searches choose by type themselves (-1: not known).
int RecordType(const StSearchRecord_t& record);
bool PassesFilter(const StSearchRecord_t& record, ETypeFilter filter);

// The second a day (YYYYMMDD, as DayOf of the timeline tells it) begins.
std::optional<uint32_t> DayStart(int yyyymmdd);
// "YYYY-MM-DD" <-> YYYYMMDD; nullopt for a text that is not a real day.
std::optional<int> ParseDay(const std::string& text);
std::string DayText(int yyyymmdd);
// "YYYY-MM-DD hh:mm:ss" -> recorder seconds.
std::optional<uint32_t> ParseDayTime(const std::string& text);

// The days (YYYYMMDD) on which a recording of the filter starts.
std::set<int> DaysWithRecords(const SearchResultMap& result, ETypeFilter filter = ETypeFilter::kAll);
// The records of the filter that start on `yyyymmdd`, by channel, for the timeline.
std::map<int, std::vector<StSearchRecord_t>> DayRecords(const SearchResultMap& result, int yyyymmdd,
                                                        ETypeFilter filter = ETypeFilter::kAll);
// The rows of a day as the timeline draws them: channel n on row n-1, rows
// raised to 4 when fewer than 5, to 8 when 5..8; each bar [begin, end]
// with an end past midnight cut to the day's end.
struct DayBar {
    uint32_t begin = 0, end = 0;
};
std::vector<std::vector<DayBar>> DayRows(const std::map<int, std::vector<StSearchRecord_t>>& day, int yyyymmdd);

// A single file: play type 5 (its channels side by side on one clock) for
// a container file, by its extension in any case, else 0 (one window).
EPlayType SingleFilePlayType(const std::filesystem::path& file);
// Whether a single file's records are shown on the timeline and calendar:
// recorder files (.ifv, .rpo, .grec in either case).
bool ShowsOnTimeline(const std::filesystem::path& file);

// Where the records being shown came from.
struct PlanSource {
    std::filesystem::path folder;      // disk folder, download folder or client folder
    std::filesystem::path singleFile;  // the single file shown (kinds 3 and 5)
};

// The path of a client download file from the name kept in its record: the
// name splits at its underscores into exactly four parts, rebuilt behind
// the vehicle's name under the record's day folder. nullopt with
// "fileName Error:<name>" in `error` otherwise.
std::optional<std::filesystem::path> GetRKClientSearchPath(const std::filesystem::path& folder,
                                                           const StSearchRecord_t& record, std::string* error);

// The file a record plays from, by its source kind; nullopt (with a note)
// when none can be made.
std::optional<std::filesystem::path> RecordPath(const WorkRecord& record, const PlanSource& source,
                                                std::string* error);

struct TimePlan {
    std::map<int, PlayRequestMap> channels;
    int highestChannel = 0;
    int layout = 0;
    EPlayType playType = EPlayType::kTime;
    uint32_t rangeStart = 0;  // also the clock's start
    uint32_t rangeEnd = 0;
};

// Time play from `t`: per channel (ascending), records that end before `t`
// are passed over; from the first that starts or ends at or after `t`, it
// and every later record of the channel are requested. nullopt when
// nothing lies at or after `t`. `notes` gets what the page traces.
std::optional<TimePlan> SearchRecordTodbClickTimeLine(const SearchResultMap& result, uint32_t t,
                                                      const PlanSource& source, EPlayType currentPlayType,
                                                      std::vector<std::string>* notes = nullptr);

// The download folder's day folders ("%04d-%02d-%02d" under the search
// folder): year -> month -> days.
using DayMap = std::map<int, std::map<int, std::set<int>>>;
DayMap ScanDayFolders(const std::filesystem::path& folder);

// The IFV files of the day folders between two days (YYYYMMDD, inclusive).
// A single year, month or day is walked directly; a longer range goes by
// whole months and days, the first and last month cut to the range.
class CDayWalk {
public:
    CDayWalk(std::filesystem::path folder, DayMap days) : m_folder(std::move(folder)), m_days(std::move(days)) {}
    std::vector<std::filesystem::path> FindIFVFileInYears(int from, int to) const;
    std::vector<std::filesystem::path> FindIFVFileInMonths(int year, int fromMonth, int toMonth, int firstDay = 1,
                                                           int lastDay = 31) const;
    std::vector<std::filesystem::path> FindIFVFileInDays(int year, int month, int fromDay, int toDay) const;
    std::vector<std::filesystem::path> FindIFVFileInOneDay(int year, int month, int day) const;

private:
    std::filesystem::path m_folder;
    DayMap m_days;
};

}  // namespace velmor

namespace velmor {

// The storage information of a chosen recorder disk.
enum class EDriveType { kUnknown, kNoRootDir, kRemovable, kFixed, kRemote, kCdRom, kRamDisk };
// "%.01lfG/%ldG" (free / 1024 and total) from 1024 MiB free on, else "%ldM/%ldG".
std::string CapacityText(uint64_t freeMiB, uint64_t totalGiB);
// The used share in whole percent, truncated; 0 for an empty total and
// never below 0 when more is free than the total claims.
int UsedPercent(uint64_t freeMiB, uint64_t totalGiB);
// The language key of the type text; empty for an optical drive.
const char* DriveTypeKey(EDriveType type);

}  // namespace velmor
