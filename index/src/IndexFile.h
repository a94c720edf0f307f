// One folder's index: finding the pair of names, checking a file, choosing
// the sound one of the pair, and walking it for the records a filter takes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "common/FileReader.h"
#include "index/format/RkIndexFormat.h"
#include "index/format/SearchRecord.h"

namespace rkindex {

struct IndexPairNames {
    std::filesystem::path main;
    std::filesystem::path backup;
};

// "index00.bin" and "index01.bin" in `folder`, or the two names at offsets 0
// and 32 of the folder's "file.bin" when both contain "index" and ".bin".
IndexPairNames IndexFileNames(const std::filesystem::path& folder);

enum class IndexCheck { kOk, kOpenError, kReadError, kCountError, kLengthError, kVerifyError };

// An index file opened for reading only, its header checked and kept.
class CIndexFile {
public:
    // Opens and checks the file; a failed check logs its diagnostic through
    // the library's log callback and leaves the object closed.
    IndexCheck Open(const std::filesystem::path& path);
    bool IsOpen() const { return m_file.IsOpen(); }

    const StIndexHeader_t& Header() const { return m_header; }
    uint32_t FileNum() const { return m_header.fileNum.get(); }

    // The whole file table.
    std::vector<StIndexFileEntry_t> ReadFileTable() const;
    // Records 0..count-1 of record area `area` (count at most 256); fewer
    // when the file ends early.
    std::vector<StIndexRecord_t> ReadArea(uint32_t area, uint32_t count) const;

private:
    velmor::CFileReader m_file;
    StIndexHeader_t m_header = ZeroStruct<StIndexHeader_t>();
};

// Opens the folder's main index when it is sound, else its backup when that
// is sound. Neither file is ever written. False when neither passes.
bool OpenFolderIndex(const std::filesystem::path& folder, CIndexFile& index);

struct SearchFilter {
    uint16_t chnMask = 0;
    uint8_t typeMask = 0;
    uint32_t startTime = 0;
    uint32_t endTime = 0;
    uint8_t classFilter = 2;
};

// Called with each match in the order of the walk; returning false stops it.
using MatchSink = std::function<bool(const velmor::StSearchRecord_t&)>;

// Walks the used file-table entries in ring order, then the current-file
// table. Returns false when the sink stopped the walk.
bool SearchIndex(const CIndexFile& index, const SearchFilter& filter, uint8_t folderNo, const MatchSink& sink);

}  // namespace rkindex
