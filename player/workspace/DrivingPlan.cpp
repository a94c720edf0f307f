#include "player/workspace/DrivingPlan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

#include "player/playback/PlayClock.h"

namespace velmor {
namespace fs = std::filesystem;

namespace {

std::string Format(const char* fmt, int a, int b = 0, int c = 0)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, a, b, c);
    return buf;
}

bool SameNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// A numbered file of a folder: the record's own path when the search found
// it under that name in another case (recorders write upper-case names on
// case-blind file systems), else the name as the recorder writes it.
fs::path Numbered(const WorkRecord& r, const fs::path& sourceFolder, const char* pattern, int number)
{
    const std::string name = Format(pattern, number);
    if (!r.path.empty() && SameNoCase(r.path.filename().string(), name)) return r.path;
    const fs::path folder = r.path.empty() ? sourceFolder : r.path.parent_path();
    return folder / name;
}

std::vector<std::string> SplitAt(const std::string& text, char sep)
{
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == sep)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

bool DaysInMonth(int year, int month, int* days)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    *days = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    return true;
}

}  // namespace

SearchResultMap GroupByChannel(const std::vector<WorkRecord>& records, bool toEnd)
{
    SearchResultMap out;
    for (const WorkRecord& r : records) {
        const int channel = r.record.channel;
        if (channel < 1 || channel > 16) continue;
        ChannelRecords& c = out[channel];
        c.toEnd = toEnd;
        c.records.push_back(r);
    }
    for (auto& [channel, c] : out)
        std::stable_sort(c.records.begin(), c.records.end(), [](const WorkRecord& a, const WorkRecord& b) {
            return a.record.beginTime.get() < b.record.beginTime.get();
        });
    return out;
}

size_t RecordCount(const SearchResultMap& result)
{
    size_t n = 0;
    for (const auto& [channel, c] : result) n += c.records.size();
    return n;
}

std::set<int> TypeSet(ETypeFilter filter)
{
    switch (filter) {
        case ETypeFilter::kNormal: return {1, 2, 7};
        case ETypeFilter::kAlarm: return {5, 6, 14, 15, 16};
        default: return {};
    }
}

int RecordType(const StSearchRecord_t& record)
{
    return record.kind == kSourceIndexDisk ? record.flags : -1;
}

bool PassesFilter(const StSearchRecord_t& record, ETypeFilter filter)
{
    if (filter == ETypeFilter::kAll) return true;
    const int type = RecordType(record);
    return type < 0 || TypeSet(filter).count(type) > 0;
}

std::optional<uint32_t> DayStart(int yyyymmdd)
{
    const int year = yyyymmdd / 10000, month = yyyymmdd / 100 % 100, day = yyyymmdd % 100;
    int days = 0;
    if (year < 1970 || year > 2105 || !DaysInMonth(year, month, &days) || day < 1 || day > days) return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    const int64_t t = timegm(&tm);
    if (t < 0 || t > int64_t(UINT32_MAX) - 86400) return std::nullopt;
    return uint32_t(t);
}

std::optional<int> ParseDay(const std::string& text)
{
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) return std::nullopt;
    if (text[4] != '-' || text[7] != '-') return std::nullopt;
    const int day = y * 10000 + m * 100 + d;
    if (!DayStart(day)) return std::nullopt;
    return day;
}

std::string DayText(int yyyymmdd)
{
    return Format("%04d-%02d-%02d", yyyymmdd / 10000, yyyymmdd / 100 % 100, yyyymmdd % 100);
}

std::optional<uint32_t> ParseDayTime(const std::string& text)
{
    if (text.size() != 19 || text[10] != ' ' || text[13] != ':' || text[16] != ':') return std::nullopt;
    const auto day = ParseDay(text.substr(0, 10));
    if (!day) return std::nullopt;
    int h = 0, m = 0, s = 0;
    for (size_t i : {11u, 12u, 14u, 15u, 17u, 18u})
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    std::sscanf(text.c_str() + 11, "%2d:%2d:%2d", &h, &m, &s);
    if (h > 23 || m > 59 || s > 59) return std::nullopt;
    return *DayStart(*day) + uint32_t(h * 3600 + m * 60 + s);
}

std::set<int> DaysWithRecords(const SearchResultMap& result, ETypeFilter filter)
{
    std::set<int> days;
    for (const auto& [channel, c] : result)
        for (const WorkRecord& r : c.records)
            if (PassesFilter(r.record, filter)) days.insert(DayOf(r.record.beginTime.get()));
    return days;
}

std::map<int, std::vector<StSearchRecord_t>> DayRecords(const SearchResultMap& result, int yyyymmdd,
                                                        ETypeFilter filter)
{
    std::map<int, std::vector<StSearchRecord_t>> out;
    for (const auto& [channel, c] : result)
        for (const WorkRecord& r : c.records)
            if (PassesFilter(r.record, filter) && DayOf(r.record.beginTime.get()) == yyyymmdd)
                out[channel].push_back(r.record);
    return out;
}

std::vector<std::vector<DayBar>> DayRows(const std::map<int, std::vector<StSearchRecord_t>>& day, int yyyymmdd)
{
    const auto start = DayStart(yyyymmdd);
    if (!start) return {};
    const uint32_t dayEnd = *start + 86400;
    size_t rows = day.empty() ? 0 : size_t(day.rbegin()->first);
    rows = std::max(rows, day.size());
    if (rows < 5)
        rows = 4;
    else if (rows <= 8)
        rows = 8;
    std::vector<std::vector<DayBar>> out(rows);
    for (const auto& [channel, records] : day) {
        if (channel < 1 || size_t(channel) > rows) continue;
        for (const StSearchRecord_t& r : records) {
            const uint32_t b = r.beginTime.get();
            uint32_t e = r.endTime.get();
            if (b < *start || b >= dayEnd || e < b) continue;
            e = std::min(e, dayEnd);
            out[size_t(channel - 1)].push_back({b, e});
        }
    }
    return out;
}

namespace {
std::string LowerExtension(const fs::path& file)
{
    std::string ext = file.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}
}  // namespace

EPlayType SingleFilePlayType(const fs::path& file)
{
    return LowerExtension(file) == ".rpo" ? EPlayType::kContainerFile : EPlayType::kSingleFile;
}

bool ShowsOnTimeline(const fs::path& file)
{
    const std::string ext = LowerExtension(file);
    return ext == ".ifv" || ext == ".rpo" || ext == ".grec";
}

std::optional<fs::path> GetRKClientSearchPath(const fs::path& folder, const StSearchRecord_t& record,
                                              std::string* error)
{
    const auto* field = reinterpret_cast<const char*>(record.FileNameField());
    const std::string name(field, strnlen(field, StSearchRecord_t::kFileNameSize));
    const auto parts = SplitAt(name, '_');
    if (parts.size() != 4 || std::any_of(parts.begin(), parts.end(), [](const std::string& p) { return p.empty(); })) {
        if (error) *error = "fileName Error:" + name;
        return std::nullopt;
    }
    const int day = DayOf(record.beginTime.get());
    std::string rebuilt(LabelOf(record));
    for (const std::string& p : parts) rebuilt += "_" + p;
    return folder / DayText(day) / rebuilt;
}

std::optional<fs::path> RecordPath(const WorkRecord& r, const PlanSource& source, std::string* error)
{
    switch (r.record.kind) {
        case kSourceDownloadTree:
            if (r.path.empty()) break;
            return r.path;
        case kSourceSingleIfv:
        case kSourceContainerFile:
            if (source.singleFile.empty()) break;
            return source.singleFile;
        case kSourceContainerPartition:
            return Numbered(r, source.folder, "fc%05d.rpo", r.record.fileNo.get());
        case kSourceClientDownload:
            // The search keeps the file it found; the name kept in the record
            // is only the fallback.
            if (!r.path.empty()) return r.path;
            return GetRKClientSearchPath(source.folder, r.record, error);
        default:
            return Numbered(r, source.folder, "fly%05d.ifv", r.record.fileNo.get());
    }
    if (error) *error = "no file for a record of kind " + std::to_string(r.record.kind);
    return std::nullopt;
}

std::optional<TimePlan> SearchRecordTodbClickTimeLine(const SearchResultMap& result, uint32_t t,
                                                      const PlanSource& source, EPlayType currentPlayType,
                                                      std::vector<std::string>* notes)
{
    auto note = [notes](std::string text) {
        if (notes) notes->push_back(std::move(text));
    };
    note("SearchRecordTodbClickTimeLine");
    TimePlan plan;
    plan.playType = currentPlayType == EPlayType::kContainerFile ? EPlayType::kContainerFile : EPlayType::kTime;
    bool any = false;
    uint32_t low = UINT32_MAX, high = 0;
    for (const auto& [channel, c] : result) {
        if (channel < 1 || channel > 16) continue;
        plan.highestChannel = std::max(plan.highestChannel, channel);
        bool taking = false;
        std::string lastContainer;  // the container file of the channel's last request
        for (const WorkRecord& r : c.records) {
            const uint32_t begin = r.record.beginTime.get(), end = r.record.endTime.get();
            if (!taking) {
                if (end < t) continue;
                taking = begin >= t || end >= t;
                if (!taking) continue;
            }
            std::string error;
            const auto path = RecordPath(r, source, &error);
            if (!path) {
                note(error);
                continue;
            }
            high = std::max(high, end);
            // A window reads a channel through its whole container file: a
            // later run in the same file is already in the request before,
            // and a second request would play the file over again.
            const bool container =
                r.record.kind == kSourceContainerFile || r.record.kind == kSourceContainerPartition;
            if (container && path->string() == lastContainer) continue;
            lastContainer = container ? path->string() : std::string();
            PlayRequest request;
            request.recordfileinfo = r.record;
            request.kind = c.toEnd ? kRequestTimePlayToEnd : kRequestTimePlay;
            request.filePath = path->string();
            plan.channels[channel][begin] = request;
            low = std::min(low, begin);
            any = true;
        }
    }
    if (!any) return std::nullopt;
    note("SetPlayWndType");
    plan.layout = LayoutForChannels(plan.highestChannel);
    plan.rangeStart = std::max(low, t);
    plan.rangeEnd = high;
    return plan;
}

DayMap ScanDayFolders(const fs::path& folder)
{
    DayMap out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_directory(ec)) continue;
        const auto day = ParseDay(it->path().filename().string());
        if (day) out[*day / 10000][*day / 100 % 100].insert(*day % 100);
    }
    return out;
}

std::vector<fs::path> CDayWalk::FindIFVFileInOneDay(int year, int month, int day) const
{
    std::vector<fs::path> files;
    const auto y = m_days.find(year);
    if (y == m_days.end()) return files;
    const auto m = y->second.find(month);
    if (m == y->second.end() || !m->second.count(day)) return files;
    std::error_code ec;
    const fs::path dir = m_folder / DayText(year * 10000 + month * 100 + day);
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (ext == ".ifv" && it->is_regular_file(ec)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<fs::path> CDayWalk::FindIFVFileInDays(int year, int month, int fromDay, int toDay) const
{
    std::vector<fs::path> files;
    int days = 0;
    if (!DaysInMonth(year, month, &days)) return files;
    for (int d = std::max(fromDay, 1); d <= std::min(toDay, days); ++d) {
        auto one = FindIFVFileInOneDay(year, month, d);
        files.insert(files.end(), one.begin(), one.end());
    }
    return files;
}

std::vector<fs::path> CDayWalk::FindIFVFileInMonths(int year, int fromMonth, int toMonth, int firstDay,
                                                    int lastDay) const
{
    std::vector<fs::path> files;
    for (int m = std::max(fromMonth, 1); m <= std::min(toMonth, 12); ++m) {
        // Only the first and the last month are cut to the range.
        const int from = m == fromMonth ? firstDay : 1;
        const int to = m == toMonth ? lastDay : 31;
        auto part = FindIFVFileInDays(year, m, from, to);
        files.insert(files.end(), part.begin(), part.end());
    }
    return files;
}

std::vector<fs::path> CDayWalk::FindIFVFileInYears(int from, int to) const
{
    std::vector<fs::path> files;
    if (from > to) return files;
    const int y1 = from / 10000, m1 = from / 100 % 100, d1 = from % 100;
    const int y2 = to / 10000, m2 = to / 100 % 100, d2 = to % 100;
    for (int y = y1; y <= y2; ++y) {
        const int fm = y == y1 ? m1 : 1, tm = y == y2 ? m2 : 12;
        const int fd = y == y1 ? d1 : 1, td = y == y2 ? d2 : 31;
        auto part = FindIFVFileInMonths(y, fm, tm, fd, td);
        files.insert(files.end(), part.begin(), part.end());
    }
    return files;
}

}  // namespace velmor

namespace velmor {

std::string CapacityText(uint64_t freeMiB, uint64_t totalGiB)
{
    char buf[64];
    if (freeMiB >= 1024)
        std::snprintf(buf, sizeof buf, "%.01lfG/%ldG", double(freeMiB) / 1024.0, long(totalGiB));
    else
        std::snprintf(buf, sizeof buf, "%ldM/%ldG", long(freeMiB), long(totalGiB));
    return buf;
}

int UsedPercent(uint64_t freeMiB, uint64_t totalGiB)
{
    const double total = double(totalGiB) * 1024.0;
    if (total <= 0 || double(freeMiB) >= total) return 0;
    return int((total - double(freeMiB)) / total * 100.0);
}

const char* DriveTypeKey(EDriveType type)
{
    switch (type) {
        case EDriveType::kRemovable: return "Storage_SD";
        case EDriveType::kFixed:
        case EDriveType::kRemote:
        case EDriveType::kRamDisk:
        case EDriveType::kNoRootDir: return "Storage_HD";
        case EDriveType::kCdRom: return "";
        default: return "Storage_Error";
    }
}

}  // namespace velmor
