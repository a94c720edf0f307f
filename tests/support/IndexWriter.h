// Index files as recorders keep them on the disk root: a main index and its
// backup, each a header, a ring of file-table entries and record areas of 256
// records. CIndexImage lays one file down field by field (damage included);
// CIndexDiskWriter fills areas the way a recorder does while it records, so
// rings wrap and areas are reused as on a real disk.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "index/format/RkIndexFormat.h"
#include "index/format/SearchRecord.h"
#include "index/include/rkindex.h"

namespace velmor::fixtures {

// One recording segment of an index.
struct IndexSegment {
    uint8_t channel = 1;  // counted from 1
    uint8_t flags = 1;    // recording type bits (low 4), class bit 0x80
    uint32_t begin = 0;
    uint32_t end = 0;
    uint32_t beginOffset = 0;
    uint32_t endOffset = 0;
    std::string label;  // at most 11 bytes, in the recorder's code page
    uint8_t byte1 = 0;
    uint8_t byte2 = 0;
};

// The 32-byte record; the channel goes into the record for version-1 indexes.
rkindex::StIndexRecord_t MakeIndexRecord(const IndexSegment& segment, bool channelInRecord);

class CIndexImage {
public:
    // N entries and areas, used count 0, ring start 0, everything else zero.
    explicit CIndexImage(uint32_t fileNum, uint8_t version = 0);

    uint32_t FileNum() const { return m_header.fileNum.get(); }
    rkindex::StIndexHeader_t& Header() { return m_header; }
    const rkindex::StIndexHeader_t& Header() const { return m_header; }
    rkindex::StIndexFileEntry_t& Entry(uint32_t slot) { return m_entries.at(slot); }
    rkindex::StIndexRecord_t& Record(uint32_t area, uint32_t index);

    void SetRing(uint32_t start, uint32_t used);
    void SetEntry(uint32_t slot, uint32_t area, uint8_t channel, uint16_t lastIndex, uint32_t begin, uint32_t end);
    void SetCurrent(uint32_t channel0, uint16_t area, uint16_t lastIndex, uint32_t begin, uint32_t end);
    // Writes `segments` as records 0.. of `area`.
    void SetRecords(uint32_t area, const std::vector<IndexSegment>& segments);

    // Save() and Bytes() store the checksum of the header as it is then,
    // unless a checksum of one's own was set (to damage it).
    void SetChecksum(uint32_t checksum) { m_checksum = checksum; }

    std::vector<uint8_t> Bytes() const;
    void Save(const std::filesystem::path& path) const;

private:
    rkindex::StIndexHeader_t m_header;
    std::vector<rkindex::StIndexFileEntry_t> m_entries;
    std::vector<rkindex::StIndexRecord_t> m_records;
    std::optional<uint32_t> m_checksum;
};

// Writes the image as "index00.bin" and "index01.bin" (or the given names)
// in `dir`.
void SaveIndexPair(const CIndexImage& image, const std::filesystem::path& dir, const std::string& mainName = "index00.bin",
                   const std::string& backupName = "index01.bin");

// "file.bin": the two names at offsets 0 and 32, NUL-padded to 64 bytes.
void WriteIndexNamesFile(const std::filesystem::path& dir, const std::string& mainName, const std::string& backupName);

// Fills an index as a recorder does: each channel writes into an area of its
// own; a full area (256 records) becomes the newest entry of the file-table
// ring, and when no area is free the oldest entry is dropped and its area
// reused. The areas being written at the end are the current-file table.
class CIndexDiskWriter {
public:
    explicit CIndexDiskWriter(uint32_t fileNum, uint8_t version = 0);

    // Segments of one channel must come in time order.
    void Add(const IndexSegment& segment);

    // A segment still in the index and where it is.
    struct Indexed {
        IndexSegment segment;
        uint32_t area;
    };
    // Every indexed segment in the order the search walks them: file-table
    // entries in ring order, then the current areas by channel.
    std::vector<Indexed> IndexedSegments() const;

    CIndexImage Image() const;

private:
    struct Area {
        uint32_t area = 0;
        uint8_t channel = 0;
        std::vector<IndexSegment> segments;
    };
    uint32_t TakeArea();

    uint32_t m_fileNum;
    uint8_t m_version;
    std::deque<Area> m_ring;  // oldest first
    uint64_t m_closed = 0;    // entries ever closed: the ring's slots follow this count
    std::array<std::optional<Area>, rkindex::kChannelCount> m_open;
    std::vector<uint32_t> m_free;  // areas never used, lowest last
};

// The search as the player runs it: count, then fetch into a zeroed buffer of
// count + 1 records. *rc gets the fetch's result, *count the count's.
std::vector<StSearchRecord_t> SearchIndexDisk(const std::vector<std::string>& folders, RKFILE_SEARCH_FILTER& filter,
                                              int* rc = nullptr, int* count = nullptr);

// A filter that takes every type of every channel at any time, class filter 2.
RKFILE_SEARCH_FILTER WholeIndexFilter();

}  // namespace velmor::fixtures
