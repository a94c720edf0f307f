// The exported functions: argument checks, the walk over the folders, the
// sort, and a guard that keeps every C++ exception inside the library.
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "common/LibraryLog.h"
#include "index/include/rkindex.h"
#include "index/src/IndexFile.h"

static_assert(RKFILE_SEARCH_RECORD_SIZE == sizeof(velmor::StSearchRecord_t));

namespace {

using velmor::Guarded;
constexpr auto kLibrary = velmor::LogLibrary::Index;

using rkindex::CIndexFile;
using velmor::StSearchRecord_t;

bool ValidArguments(const char* const* folders, int folderCount, const RKFILE_SEARCH_FILTER* filter)
{
    return folders && filter && folderCount >= 0 && folderCount <= RKFILE_MAX_FOLDERS;
}

rkindex::SearchFilter FromPublic(const RKFILE_SEARCH_FILTER& f)
{
    return {f.chnMask, f.typeMask, f.startTime, f.endTime, f.classFilter};
}

// Searches every folder in turn; false when the sink stopped the search.
bool SearchFolders(const char* const* folders, int folderCount, RKFILE_SEARCH_FILTER& filter,
                   const rkindex::MatchSink& sink)
{
    const rkindex::SearchFilter f = FromPublic(filter);
    for (int i = 0; i < folderCount; ++i) {
        if (!folders[i]) continue;
        CIndexFile index;
        if (!rkindex::OpenFolderIndex(folders[i], index)) continue;
        if (index.FileNum() != 0) filter.indexVersion = index.Header().version;
        if (!rkindex::SearchIndex(index, f, uint8_t(i), sink)) return false;
    }
    return true;
}

// By begin time, ascending; equal begin times keep the order of the walk.
void SortByBeginTime(std::vector<StSearchRecord_t>& records)
{
    std::stable_sort(records.begin(), records.end(), [](const StSearchRecord_t& a, const StSearchRecord_t& b) {
        return a.beginTime.get() < b.beginTime.get();
    });
}

}  // namespace

extern "C" {

RKINDEX_API int RKFile_SearchGetFileCount(const char* const* folders, int folderCount, RKFILE_SEARCH_FILTER* filter)
{
    return Guarded(kLibrary, -1, [&] {
        if (!ValidArguments(folders, folderCount, filter)) return -1;
        int count = 0;
        SearchFolders(folders, folderCount, *filter, [&](const StSearchRecord_t&) {
            if (count < INT_MAX) ++count;
            return true;
        });
        return count;
    });
}

RKINDEX_API int RKFile_SeacrhFile(const char* const* folders, int folderCount, RKFILE_SEARCH_FILTER* filter,
                                  void* records, int capacity)
{
    return Guarded(kLibrary, -1, [&] {
        if (!ValidArguments(folders, folderCount, filter) || capacity < 0 || (!records && capacity > 0)) return -1;
        std::vector<StSearchRecord_t> found;
        found.reserve(size_t(std::min(capacity, 4096)));
        const bool fits = SearchFolders(folders, folderCount, *filter, [&](const StSearchRecord_t& r) {
            if (found.size() >= size_t(capacity)) return false;
            found.push_back(r);
            return true;
        });
        SortByBeginTime(found);
        if (!found.empty()) std::memcpy(records, found.data(), found.size() * sizeof(StSearchRecord_t));
        return fits ? int(found.size()) : -1;
    });
}

}  // extern "C"
