#include "player/search/SearchRecordFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>

#include "common/CodePage.h"
#include "common/PathUtil.h"
#include "container/include/rkcontainer.h"
#include "index/include/rkindex.h"
#include "player/formats/IfvFile.h"
#include "player/formats/TtxLibrary.h"
#include "player/search/EventFile.h"
#include "player/search/SearchTrace.h"

namespace fs = std::filesystem;

namespace velmor {

namespace {

bool EndsWithNoCase(const std::string& s, const char* suffix)
{
    const std::string low = Lower(s);
    const size_t n = std::strlen(suffix);
    return low.size() >= n && low.compare(low.size() - n, n, suffix) == 0;
}

bool HasEntryNoCase(const fs::path& dir, const char* name)
{
    std::error_code ec;
    return fs::exists(FindNoCase(dir, name), ec);
}

std::tm Calendar(uint32_t seconds)
{
    const std::time_t t = std::time_t(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
}

void CopyLabel(StSearchRecord_t& record, std::string_view text)
{
    std::memset(record.label, 0, sizeof record.label);
    if (!text.empty()) std::memcpy(record.label, text.data(), std::min(text.size(), sizeof record.label - 1));
}

std::string NumberedName(const char* pattern, unsigned number)
{
    char name[32];
    std::snprintf(name, sizeof name, pattern, number);
    return name;
}

// Removes a trailing separator so that folders compare and print alike.
fs::path Folder(const fs::path& folder)
{
    std::string s = folder.string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

struct IfvCloser {
    void operator()(FILEHANDLE* h) const { RK_CloseFile2(h); }
};
using IfvHandle = std::unique_ptr<FILEHANDLE, IfvCloser>;

struct ContainerSlot {
    RKCONTAINER_HANDLE handle = nullptr;
    ~ContainerSlot()
    {
        if (handle) RKCONTAINER_CloseFile(&handle);
    }
};

}  // namespace

// ---- Event map ------------------------------------------------------------------

void CEventSecondMap::Add(const EventRecord& event)
{
    if (event.endTime < event.beginTime) return;  // holds no second
    std::lock_guard lock(m_mutex);
    m_byBegin.emplace(event.beginTime, event);
    m_longestSpan = std::max(m_longestSpan, event.endTime - event.beginTime);
}

std::set<EventRecord> CEventSecondMap::At(uint32_t second) const
{
    std::lock_guard lock(m_mutex);
    std::set<EventRecord> events;
    const uint32_t from = second >= m_longestSpan ? second - m_longestSpan : 0;
    for (auto it = m_byBegin.lower_bound(from); it != m_byBegin.end() && it->first <= second; ++it)
        if (it->second.endTime >= second) events.insert(it->second);
    return events;
}

void CEventSecondMap::Clear()
{
    std::lock_guard lock(m_mutex);
    m_byBegin.clear();
    m_longestSpan = 0;
}

size_t CEventSecondMap::EventCount() const
{
    std::lock_guard lock(m_mutex);
    return m_byBegin.size();
}

CEventSecondMap& ProcessEventMap()
{
    static CEventSecondMap s_map;
    return s_map;
}

SearchWindow SearchWindowAt(std::time_t now)
{
    std::tm tm{};
    localtime_r(&now, &tm);
    tm.tm_year += 30;
    const std::time_t end = timegm(&tm);
    SearchWindow window;
    window.end = end < 0 ? 0 : end > std::time_t(UINT32_MAX) ? UINT32_MAX : uint32_t(end);
    return window;
}

// ---- Sources --------------------------------------------------------------------

CSearchRecordFile::CSearchRecordFile(CLanguageTable language)
    : m_language(std::move(language)), m_pEventMap(&ProcessEventMap())
{
}

void CSearchRecordFile::ClearAll()
{
    m_vSources.clear();
    {
        std::lock_guard lock(m_resultLock);
        m_vResults.clear();
    }
    m_vEvents.clear();
    m_mEventGroups.clear();
    // Seconds of the previous source's events must not show on this one's playback.
    if (m_pEventMap) m_pEventMap->Clear();
}

bool CSearchRecordFile::bExistsRpoFile(const fs::path& folder)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        SEARCH_TRACE("Find File Fail:%s", folder.c_str());
        return false;
    }
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const std::string name = it->path().filename().string();
        if (!EndsWithNoCase(name, ".rpo")) continue;  // the listing's pattern
        SEARCH_TRACE("fileName:%s", name.c_str());
        if (it->is_directory(ec)) {
            SEARCH_TRACE("Direcory");
            continue;
        }
        if (Lower(name).find(".rpo") != std::string::npos) return true;
    }
    return false;
}

bool CSearchRecordFile::ClassifySource(const fs::path& folder)
{
    const fs::path f = Folder(folder);
    if (HasEntryNoCase(f, "INDEX00.bin") && HasEntryNoCase(f, "INDEX01.bin") && HasEntryNoCase(f, "KORADVR")) {
        if (m_vSources.size() < kMaxFolders) m_vSources.push_back({kListIndexDisk, f});
    } else if (bExistsRpoFile(f)) {
        if (m_vSources.size() < kMaxFolders) m_vSources.push_back({kListContainerFolder, f});
    }
    return !m_vSources.empty();
}

bool CSearchRecordFile::SetSource(const fs::path& folder)
{
    ClearAll();
    if (!ClassifySource(folder)) return false;
    SearchIfvEventFile();
    return true;
}

bool CSearchRecordFile::SetRecorderDisk(const std::map<std::string, RecorderDisk>& disks, const std::string& chosen)
{
    ClearAll();
    if (disks.empty()) return false;
    const auto it = chosen.empty() ? disks.begin() : disks.find(chosen);
    if (it == disks.end()) return false;
    for (const auto& root : it->second.roots) ClassifySource(root);
    if (m_vSources.empty()) return false;
    SearchIfvEventFile();
    return true;
}

SourceCapacity CSearchRecordFile::Capacity() const
{
    std::vector<fs::path> folders;
    for (const auto& s : m_vSources) folders.push_back(s.folder);
    return CapacityOf(folders);
}

void CSearchRecordFile::AddResult(const SearchResult& result)
{
    std::lock_guard lock(m_resultLock);
    m_vResults.push_back(result);
}

std::vector<SearchResult> CSearchRecordFile::Results() const
{
    std::lock_guard lock(m_resultLock);
    return m_vResults;
}

// ---- Recordings -----------------------------------------------------------------

bool CSearchRecordFile::SearchRecordFile()
{
    // The library numbers the folders it is handed; the records name their
    // folder by its place in the whole source list.
    std::vector<std::string> folders;
    std::vector<size_t> sourceOf;
    for (size_t i = 0; i < m_vSources.size(); ++i) {
        if (m_vSources[i].kind != kListIndexDisk) continue;
        folders.push_back(m_vSources[i].folder.string());
        sourceOf.push_back(i);
    }
    std::vector<const char*> paths;
    for (const auto& f : folders) paths.push_back(f.c_str());

    const SearchWindow window = SearchWindowAt(m_tNow ? m_tNow : std::time(nullptr));
    RKFILE_SEARCH_FILTER filter{};
    filter.chnMask = uint16_t(m_uChannelMask & 0xFFFF);
    filter.typeMask = 31;
    filter.startTime = window.start;
    filter.endTime = window.end;
    filter.classFilter = 0;

    {
        std::lock_guard lock(m_resultLock);
        m_vResults.clear();
    }
    m_progress.Start();
    if (paths.empty() || m_progress.Cancelled()) return false;
    const int count = RKFile_SearchGetFileCount(paths.data(), int(paths.size()), &filter);
    if (count <= 0) return false;
    const size_t capacity = size_t(count) + 1;
    std::vector<StSearchRecord_t> records;
    try {
        records.resize(capacity);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::memset(static_cast<void*>(records.data()), 0, capacity * sizeof(StSearchRecord_t));
    m_progress.Report(30);
    if (m_progress.Cancelled()) return false;
    const int n = RKFile_SeacrhFile(paths.data(), int(paths.size()), &filter, records.data(), int(capacity));
    if (n <= 0) return false;
    m_progress.Report(70);

    std::vector<SearchResult> found;
    for (int i = 0; i < n; ++i) {
        if (m_progress.Cancelled()) return false;
        m_progress.Report(70 + int(int64_t(i) * 30 / n));
        const StSearchRecord_t& r = records[size_t(i)];
        SEARCH_TRACE("searchFile:channel_no:%d,start_time:%u,end_time:%u,disk_no:%d,offset:%u", r.channel,
                     r.beginTime.get(), r.endTime.get(), r.diskNo, r.beginOffset.get());
        if (r.beginTime.get() <= 999999999u) {
            SEARCH_TRACE("Invalid Time");
            continue;
        }
        SearchResult result;
        result.record = r;
        if (r.folderNo < sourceOf.size()) {
            const size_t source = sourceOf[r.folderNo];
            result.record.folderNo = uint8_t(source);
            result.path = FindNoCase(m_vSources[source].folder, NumberedName("fly%05u.ifv", r.fileNo.get()));
        }
        found.push_back(std::move(result));
    }
    std::lock_guard lock(m_resultLock);
    m_vResults = std::move(found);
    m_progress.Report(100);
    return !m_vResults.empty();
}

bool CSearchRecordFile::SearchRpoRecordFile(const std::vector<std::string>& devices)
{
    {
        std::lock_guard lock(m_resultLock);
        m_vResults.clear();
    }
    std::vector<RKCONTAINER_SEARCH_ENTRY> entries;
    try {
        entries.resize(kContainerCapacity);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Folder by folder, so that every record knows the folder its container
    // file is in; the 20,000 entries are shared by all of them.
    int room = kContainerCapacity;
    size_t total = 0;
    m_progress.Start();
    auto cancelled = [this] {
        if (!m_progress.Cancelled()) return false;
        std::lock_guard lock(m_resultLock);
        m_vResults.clear();
        return true;
    };
    for (size_t i = 0; i < m_vSources.size() && room > 0; ++i) {
        const SearchSource& source = m_vSources[i];
        if (source.kind != kListContainerFolder) continue;
        if (cancelled()) return false;
        m_progress.Report(int(i * 100 / m_vSources.size()));
        const std::string folder = source.folder.string();
        const char* paths[] = {folder.c_str()};
        const std::string device = i < devices.size() ? devices[i] : std::string();
        const char* deviceList[] = {device.empty() ? nullptr : device.c_str()};
        RKCONTAINER_FILTER filter{m_uChannelMask};
        std::memset(static_cast<void*>(entries.data()), 0, entries.size() * sizeof entries[0]);
        const int n = RKCONTAINER_SearchFileListOnDevices(paths, deviceList, 1, &filter, entries.data(), room);
        if (n <= 0) continue;
        room -= n;
        for (int k = 0; k < n; ++k) {
            if (cancelled()) return false;
            m_progress.Report(int((i * size_t(n) + size_t(k)) * 100 / (m_vSources.size() * size_t(n))));
            const RKCONTAINER_SEARCH_ENTRY& e = entries[size_t(k)];
            SearchResult result;
            StSearchRecord_t& r = result.record;
            r.kind = kSourceContainerPartition;
            r.channel = uint8_t(e.channel + 1);
            r.beginTime.set(e.beginTime);
            r.endTime.set(e.endTime);
            r.diskNo = e.drive;
            r.folderNo = uint8_t(i);
            r.fileNo.set(uint16_t(e.fileNo));
            CopyLabel(r, FieldText(e.carNumber, sizeof e.carNumber));
            result.path = FindNoCase(source.folder, NumberedName("fc%05u.rpo", e.fileNo));
            const std::tm b = Calendar(e.beginTime), en = Calendar(e.endTime);
            SEARCH_TRACE("searchFile:channel_no:%d,start_time:%u(%04d-%02d-%02d %02d:%02d:%02d),end_time:%u(%04d-%02d-"
                         "%02d %02d:%02d:%02d),fileNumber:%u",
                         r.channel, e.beginTime, b.tm_year + 1900, b.tm_mon + 1, b.tm_mday, b.tm_hour, b.tm_min,
                         b.tm_sec, e.endTime, en.tm_year + 1900, en.tm_mon + 1, en.tm_mday, en.tm_hour, en.tm_min,
                         en.tm_sec, e.fileNo);
            AddResult(result);
            ++total;
        }
    }
    m_progress.Report(100);
    return total > 0;
}

std::map<int, std::vector<std::pair<uint32_t, uint32_t>>> CSearchRecordFile::RpoChannelSpans(const fs::path& file,
                                                                                             uint32_t mask)
{
    std::map<int, std::vector<std::pair<uint32_t, uint32_t>>> runs;
    ContainerSlot slot;
    if (RKCONTAINER_OpenFile(&slot.handle, file.c_str()) != 0) return runs;
    for (int channel = 0; channel < 16; ++channel) {
        if (!(mask & (1u << channel))) continue;
        // A container file holds 32 blocks: never more runs than that.
        RKCONTAINER_SPAN spans[32];
        const int n = RKCONTAINER_GetChnSpans(&slot.handle, channel, spans, 32);
        for (int i = 0; i < n; ++i) runs[channel + 1].emplace_back(spans[i].beginTime, spans[i].endTime);
    }
    return runs;
}

bool CSearchRecordFile::SearchOneRpoRecordFile(const fs::path& file, uint32_t* foundMask, uint32_t* beginTime,
                                               uint32_t* endTime)
{
    ContainerSlot slot;
    if (RKCONTAINER_OpenFile(&slot.handle, file.c_str()) != 0) {
        SEARCH_TRACE("%s", file.c_str());
        return false;
    }
    uint32_t mask = 0, begin = 0, end = 0;
    RKCONTAINER_GetSomeChnFileInfo(&slot.handle, m_uChannelMask, &begin, &end, &mask, nullptr);
    if (foundMask) *foundMask = mask;
    if (beginTime) *beginTime = begin;
    if (endTime) *endTime = end;
    return true;
}

bool CSearchRecordFile::SearchSingleRecordFile(const fs::path& file)
{
    {
        std::lock_guard lock(m_resultLock);
        m_vResults.clear();
    }
    const std::string name = file.filename().string();
    SearchResult result;
    result.path = file;
    StSearchRecord_t& r = result.record;
    if (EndsWithNoCase(name, ".rpo")) {
        ContainerSlot slot;
        if (RKCONTAINER_OpenFile(&slot.handle, file.c_str()) != 0) {
            SEARCH_TRACE("OpenFile %s Fail", file.c_str());
            return false;
        }
        uint32_t begin = 0, end = 0, mask = 0;
        char carNumber[16] = {};
        RKCONTAINER_GetSomeChnFileInfo(&slot.handle, 0xFFFF, &begin, &end, &mask, carNumber);
        // Outputs are written only when a block of some channel was found:
        // a file without one holds no recording to list.
        if (mask == 0) {
            SEARCH_TRACE("No Channel In File:%s", file.c_str());
            return false;
        }
        r.kind = kSourceContainerFile;
        r.channel = 1;
        r.beginTime.set(begin);
        r.endTime.set(end);
        CopyLabel(r, FieldText(carNumber, 15));
    } else if (EndsWithNoCase(name, ".ifv")) {
        IfvHandle h(RK_OpenFile2(file.c_str(), 0, RK_FILE_MODE_READ));
        if (!h) {
            SEARCH_TRACE("OpenFile %s Fail", file.c_str());
            return false;
        }
        r.kind = kSourceSingleIfv;
        r.channel = 1;
        r.beginTime.set(RK_FileGetStartTime(h.get()));
        r.endTime.set(RK_FileGetEndTime(h.get()));
    } else if (EndsWithNoCase(name, ".grec")) {
        SEARCH_TRACE("recfile:%s", file.c_str());
        CTtxLibrary& library = CTtxLibrary::Shared();
        if (!library.Loaded()) {
            SEARCH_TRACE("%s", library.Error().c_str());
            return false;
        }
        AVFILE_FILE_INFO info{};
        {
            library.Initialize();
            CTtxFile grec(library);
            const bool ok = grec.Open(file) == AVFILE_OK && library.FEGetFileInfo(grec.Slot(), &info) == AVFILE_OK;
            if (!ok) SEARCH_TRACE("OpenFile %s Fail:%s", file.c_str(), grec.Error().c_str());
            grec.Close();
            library.UnInitialize();
            if (!ok) return false;
        }
        r.kind = kSourceSingleIfv;
        r.channel = 1;
        r.beginTime.set(uint32_t(info.beginTime / 1000000));
        r.endTime.set(uint32_t(info.endTime / 1000000));
    } else {
        return false;
    }
    AddResult(result);
    return true;
}

// ---- Events ---------------------------------------------------------------------

int CSearchRecordFile::SearchIfvEventFile()
{
    std::vector<fs::path> folders;
    for (const auto& source : m_vSources) folders.push_back(source.folder);
    return SearchIfvEventFile(folders);
}

int CSearchRecordFile::SearchIfvEventFile(const std::vector<fs::path>& folders)
{
    const SearchWindow window = SearchWindowAt(m_tNow ? m_tNow : std::time(nullptr));
    m_vEvents.clear();
    m_mEventGroups.clear();
    for (const auto& folder : folders) {
        SearchFolderEvents(Folder(folder), window);
        std::stable_sort(m_vEvents.begin(), m_vEvents.end());
    }
    GroupEvents();
    return int(m_vEvents.size());
}

void CSearchRecordFile::SearchFolderEvents(const fs::path& folder, const SearchWindow& window)
{
    const EventFileStatus status =
        ForEachFolderEvent(folder, window.start, window.end, m_language, [&](const EventRecord& event) {
            if (m_pEventMap) m_pEventMap->Add(event);
            m_vEvents.push_back(event);
        });
    if (status != EventFileStatus::kRead) SEARCH_TRACE("No Event File:%s", FindNoCase(folder, kEventFileName).c_str());
}

void CSearchRecordFile::GroupEvents()
{
    m_mEventGroups.clear();
    for (size_t i = 0; i < m_vEvents.size(); ++i) AddAlarmMonthIfvToEvent(i);
}

void CSearchRecordFile::AddAlarmMonthIfvToEvent(size_t eventIndex)
{
    const std::tm tm = Calendar(m_vEvents.at(eventIndex).beginTime);
    const int month = (tm.tm_year + 1900) * 100 + tm.tm_mon + 1;
    if (!m_mEventGroups.count(month)) SEARCH_TRACE("Add Month:%d", month);
    AddAlarmDayIfvToEvent(m_mEventGroups[month], eventIndex);
}

void CSearchRecordFile::AddAlarmDayIfvToEvent(DayEvents& days, size_t eventIndex)
{
    const std::tm tm = Calendar(m_vEvents.at(eventIndex).beginTime);
    const int day = ((tm.tm_year + 1900) * 100 + tm.tm_mon + 1) * 100 + tm.tm_mday;
    if (!days.count(day)) SEARCH_TRACE("Add Day:%d", day);
    AddAlarmChnIfvToEvent(days[day], eventIndex);
}

void CSearchRecordFile::AddAlarmChnIfvToEvent(ChannelEvents& channels, size_t eventIndex)
{
    const int channel = m_vEvents.at(eventIndex).channel;
    if (!channels.count(channel)) SEARCH_TRACE("Add New Channel:%d", channel);
    channels[channel].push_back(eventIndex);
}

std::vector<fs::path> CSearchRecordFile::GetEventIfvFileInAllIfv(const EventRecord& event,
                                                                 const std::vector<SearchResult>& recordings) const
{
    std::vector<fs::path> files;
    for (const auto& rec : recordings) {
        if (rec.record.channel != event.channel) continue;
        if (event.beginTime < rec.record.beginTime.get() || event.beginTime > rec.record.endTime.get()) {
            SEARCH_TRACE("Not in TimeRange");
            continue;
        }
        if (std::find(files.begin(), files.end(), rec.path) != files.end()) {
            SEARCH_TRACE("SameFile:%s", rec.path.c_str());
            continue;
        }
        if (!files.empty()) SEARCH_TRACE("Not SameFile:%s-%s", files.back().c_str(), rec.path.c_str());
        files.push_back(rec.path);
    }
    return files;
}

}  // namespace velmor
