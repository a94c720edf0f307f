#include "player/workspace/SearchRunner.h"

#include <algorithm>
#include <set>

#include "common/CodePage.h"

#include "player/search/LocalFileSearch.h"
#include "player/search/SearchRecordFile.h"

namespace velmor {
namespace fs = std::filesystem;

namespace {

std::vector<WorkRecord> FromRecorder(const CSearchRecordFile& search)
{
    std::vector<WorkRecord> out;
    for (const SearchResult& r : search.Results()) out.push_back({r.record, r.path});
    return out;
}

// A recorder's folders, found: index disks and container folders are
// searched each by their own search.
void SearchRecorder(CSearchRecordFile& search, const SearchRequest& request, SearchOutcome& out)
{
    bool index = false, container = false;
    for (const SearchSource& s : search.Sources()) {
        index |= s.kind == kListIndexDisk;
        container |= s.kind == kListContainerFolder;
    }
    // Each container folder's device: read directly, through the disk
    // service, or not at all (its index heads then, and the user is told).
    std::vector<std::string> devices;
    std::vector<std::shared_ptr<CHeldDescriptor>> held;
    for (const SearchSource& s : search.Sources()) {
        if (s.kind != kListContainerFolder) {
            devices.emplace_back();
            continue;
        }
        PartitionAccess access = ResolvePartitionAccess(s.folder, {}, request.diskService, request.deviceHooks);
        if (access.route == EDeviceRoute::kIndexHeads) out.notices.push_back(access.message);
        devices.push_back(access.path);
        if (access.held) held.push_back(access.held);
    }
    std::vector<WorkRecord> records;
    if (index && search.SearchRecordFile()) records = FromRecorder(search);
    if (container && search.SearchRpoRecordFile(devices)) {
        auto more = FromRecorder(search);
        records.insert(records.end(), more.begin(), more.end());
    }
    out.kind = index ? ESourceKind::kIndexDisk : ESourceKind::kContainerFolder;
    if (!search.Sources().empty()) out.source.folder = search.Sources().front().folder;
    out.capacity = search.Capacity();
    out.events = search.Events();
    out.result = GroupByChannel(records);
}

void SearchSingle(const fs::path& file, SearchOutcome& out)
{
    out.source.singleFile = file;
    out.source.folder = file.parent_path();
    CSearchRecordFile search;
    std::vector<WorkRecord> records;
    ESourceKind kind = ESourceKind::kUnknown;
    ClassifySource(file, kind);
    out.kind = kind;
    if (kind == ESourceKind::kContainerFile) {
        // A container file shows one row per channel it holds.
        uint32_t mask = 0, begin = 0, end = 0;
        if (!search.SearchOneRpoRecordFile(file, &mask, &begin, &end) || mask == 0) {
            out.notes.push_back("SearchSingleRecordFile Fail");
            out.error = "no recording in " + file.filename().string();
            return;
        }
        // Each run of a channel's own recording: the file's whole span drew
        // bars over hours the channel never recorded.
        const auto spans = CSearchRecordFile::RpoChannelSpans(file, mask);
        for (int channel = 1; channel <= 16; ++channel) {
            if (!(mask & (1u << (channel - 1)))) continue;
            const auto found = spans.find(channel);
            std::vector<std::pair<uint32_t, uint32_t>> runs;
            if (found != spans.end()) runs = found->second;
            if (runs.empty()) runs.emplace_back(begin, end);
            for (const auto& [runBegin, runEnd] : runs)
                records.push_back(WorkRecord{ContainerFileRecord(channel, runBegin, runEnd), file});
        }
    } else {
        if (!search.SearchSingleRecordFile(file)) {
            out.notes.push_back("SearchSingleRecordFile Fail");
            out.error = "no recording in " + file.filename().string();
            return;
        }
        records = FromRecorder(search);
    }
    out.result = GroupByChannel(records);
}

}  // namespace

std::vector<fs::path> LogFolders(const SearchOutcome& outcome)
{
    std::vector<fs::path> out;
    const fs::path root = !outcome.source.folder.empty() ? outcome.source.folder
                                                          : outcome.source.singleFile.parent_path();
    if (root.empty()) return out;
    out.push_back(root);
    if (outcome.kind == ESourceKind::kDownloadTree || outcome.kind == ESourceKind::kClientDownloadFolder) {
        std::error_code ec;
        std::vector<fs::path> below;
        for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_directory(ec)) below.push_back(it->path());
        std::sort(below.begin(), below.end());
        out.insert(out.end(), below.begin(), below.end());
    }
    return out;
}

std::vector<std::string> VehicleNames(const SearchOutcome& outcome)
{
    const bool downloads =
        outcome.kind == ESourceKind::kDownloadTree || outcome.kind == ESourceKind::kClientDownloadFolder;
    std::set<std::string> names;
    for (const auto& [channel, records] : outcome.result)
        for (const WorkRecord& w : records.records) {
            names.insert(GbkToUtf8(LabelOf(w.record)));
            if (!downloads || w.path.empty()) continue;
            // A download's files lie in the vehicle's folder, or in a day
            // folder inside it.
            fs::path folder = w.path.parent_path();
            if (CLocalFileSearch::IsDateFolderName(folder.filename().string())) folder = folder.parent_path();
            names.insert(folder.filename().string());
        }
    names.erase("");
    return {names.begin(), names.end()};
}

SearchOutcome RunSearch(const SearchRequest& request, const std::function<void(int)>& progress,
                        const std::atomic<bool>* cancel)
{
    SearchOutcome out;
    try {
        switch (request.source) {
            case ESearchSource::kRecorderDisk: {
                CSearchRecordFile search;
                search.SetChannelMask(request.channelMask);
                search.SetNow(request.now);
                search.SetProgress(progress, cancel);
                const auto disks = FindRecorderDisks(request.mountInfo, request.sysClassBlock);
                if (!search.SetRecorderDisk(disks, request.path.string())) {
                    out.notes.push_back("Unknow Hd Type");
                    out.error = disks.empty() ? "no recorder disk is attached" : "the disk holds no recorder folder";
                    break;
                }
                SearchRecorder(search, request, out);
                break;
            }
            case ESearchSource::kFolder:
            case ESearchSource::kClientFolder: {
                std::error_code ec;
                if (!fs::is_directory(request.path, ec)) {
                    out.error = request.path.string() + " is not a folder";
                    break;
                }
                out.source.folder = request.path;
                if (request.source == ESearchSource::kFolder) {
                    CSearchRecordFile search;
                    search.SetChannelMask(request.channelMask);
                    search.SetNow(request.now);
                    search.SetProgress(progress, cancel);
                    if (search.SetSource(request.path)) {
                        SearchRecorder(search, request, out);
                        break;
                    }
                }
                CLocalFileSearch local;
                local.SetTypeChoice(request.types == ETypeFilter::kAlarm ? CLocalFileSearch::kTypeAlarm
                                                                         : CLocalFileSearch::kTypeAll);
                local.SetChannelList(CLocalFileSearch::ChannelListOf(request.channelMask));
                local.SetProgress(progress, cancel);
                std::vector<LocalFileRecord> found;
                if (request.source == ESearchSource::kClientFolder) {
                    local.SearchRKClientDownloadFile(request.path, found);
                    out.kind = ESourceKind::kClientDownloadFolder;
                } else {
                    local.SearchFtpFileByManyTime(request.path, found);
                    out.kind = ESourceKind::kDownloadTree;
                }
                std::vector<WorkRecord> records;
                for (const auto& f : found) records.push_back({f.record, f.path});
                out.result = GroupByChannel(records);
                break;
            }
            case ESearchSource::kSingleFile: {
                std::error_code ec;
                if (!fs::is_regular_file(request.path, ec)) {
                    out.error = request.path.string() + " is not a file";
                    break;
                }
                SearchSingle(request.path, out);
                // One file: done at once, and the bar says so.
                if (progress) progress(100);
                break;
            }
        }
    } catch (const std::exception& e) {
        out.notes.push_back("search disk exception");
        out.error = e.what();
        out.result.clear();
    }
    // Channels not asked for are left out whichever search found them.
    for (auto it = out.result.begin(); it != out.result.end();)
        it = request.channelMask & (1u << (it->first - 1)) ? std::next(it) : out.result.erase(it);
    out.cancelled = cancel && cancel->load();
    if (out.cancelled) out.result.clear();
    out.ok = !out.cancelled && out.error.empty() && !out.result.empty();
    if (!out.ok && out.error.empty()) out.error = out.cancelled ? "the search was cancelled" : "no recording found";
    return out;
}

CSearchRunner::~CSearchRunner()
{
    m_cancel = true;
    Join();
}

void CSearchRunner::Join()
{
    if (m_thread.joinable()) m_thread.join();
}

bool CSearchRunner::Start(SearchRequest request, std::function<void(int)> progress,
                          std::function<void(SearchOutcome)> done)
{
    if (m_busy) return false;
    Join();
    m_cancel = false;
    m_busy = true;
    m_thread = std::thread([this, request = std::move(request), progress = std::move(progress),
                            done = std::move(done)]() mutable {
        auto report = [this, progress](int percent) {
            if (progress) m_post([progress, percent] { progress(percent); });
        };
        SearchOutcome outcome = RunSearch(request, report, &m_cancel);
        m_post([this, done = std::move(done), outcome = std::move(outcome)]() mutable {
            m_busy = false;
            if (done) done(std::move(outcome));
        });
    });
    return true;
}

}  // namespace velmor
