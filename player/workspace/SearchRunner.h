// The page's record search on a worker thread of its own: a recorder disk,
// a folder (recorder folder or download folder), the companion client's
// download folder or a single file. Progress and the result reach the
// interface thread through the poster the page gives.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "player/search/PartitionAccess.h"
#include "player/search/EventFile.h"
#include "player/search/RecorderDisks.h"
#include "player/search/SourceKind.h"
#include "player/workspace/DrivingPlan.h"

namespace velmor {

enum class ESearchSource { kRecorderDisk, kFolder, kClientFolder, kSingleFile };

struct SearchRequest {
    ESearchSource source = ESearchSource::kFolder;
    std::filesystem::path path;  // folder or file; for a recorder disk the disk's name ("sdb"), empty: the first
    ETypeFilter types = ETypeFilter::kAll;
    uint32_t channelMask = 0xFFFF;  // bit n = channel n + 1
    std::time_t now = 0;            // 0: the wall clock
    std::filesystem::path mountInfo = "/proc/self/mountinfo";
    std::filesystem::path sysClassBlock = "/sys/class/block";
    // Partition devices the user may not open are asked for here (null: none).
    IDiskService* diskService = nullptr;
    PartitionAccessHooks deviceHooks;  // tests stand in for the mounts and the opening
};

struct SearchOutcome {
    bool ok = false;
    bool cancelled = false;
    std::string error;                 // why nothing was found
    SearchResultMap result;
    PlanSource source;
    ESourceKind kind = ESourceKind::kUnknown;
    std::optional<SourceCapacity> capacity;  // recorder disks and recorder folders
    std::vector<std::string> notes;          // what the page traces
    std::vector<EventRecord> events;         // the recorder's events (recorder folders)
    // Said to the user once: a partition listed from its index block heads
    // because its device could not be read, and why.
    std::vector<std::string> notices;
};

// The folders whose recorder log ("log.bin") belongs to what a search found:
// the searched folder (a recorder's folder, an index disk, the folder of a
// single file) and, in download trees and client folders, each vehicle's
// folder below it. Folders without a log are passed over by the loader.
std::vector<std::filesystem::path> LogFolders(const SearchOutcome& outcome);

// The vehicles of what a search found, for the page's vehicle list: the car
// numbers the recordings carry (UTF-8), and for download trees and client
// folders the vehicle folders' names; each once, in name order.
std::vector<std::string> VehicleNames(const SearchOutcome& outcome);

// The search itself, on the calling thread.
SearchOutcome RunSearch(const SearchRequest& request, const std::function<void(int)>& progress,
                        const std::atomic<bool>* cancel);

class CSearchRunner {
public:
    // Runs a function on the interface thread.
    using Poster = std::function<void(std::function<void()>)>;
    explicit CSearchRunner(Poster post) : m_post(std::move(post)) {}
    ~CSearchRunner();
    CSearchRunner(const CSearchRunner&) = delete;
    CSearchRunner& operator=(const CSearchRunner&) = delete;

    // False while a search runs. `done` is posted once, also after a cancel.
    bool Start(SearchRequest request, std::function<void(int)> progress, std::function<void(SearchOutcome)> done);
    void Cancel() { m_cancel = true; }
    bool Busy() const { return m_busy; }
    // Waits for the worker (the page's end).
    void Join();

private:
    Poster m_post;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_busy{false};
    std::thread m_thread;
};

}  // namespace velmor
