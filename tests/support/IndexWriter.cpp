#include "tests/support/IndexWriter.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace velmor::fixtures {

using namespace rkindex;

StIndexRecord_t MakeIndexRecord(const IndexSegment& s, bool channelInRecord)
{
    auto r = ZeroStruct<StIndexRecord_t>();
    r.flags = s.flags;
    r.byte1 = s.byte1;
    r.byte2 = s.byte2;
    if (channelInRecord) r.chnByte = uint8_t(s.channel << 4);
    std::memcpy(r.text, s.label.data(), std::min(s.label.size(), sizeof r.text));
    r.beginTime.set(s.begin);
    r.endTime.set(s.end);
    r.beginOffset.set(s.beginOffset);
    r.endOffset.set(s.endOffset);
    return r;
}

// ---- CIndexImage --------------------------------------------------------------

CIndexImage::CIndexImage(uint32_t fileNum, uint8_t version)
    : m_header(ZeroStruct<StIndexHeader_t>()),
      m_entries(fileNum, ZeroStruct<StIndexFileEntry_t>()),
      m_records(size_t(fileNum) * kRecordsPerArea, ZeroStruct<StIndexRecord_t>())
{
    m_header.fileNum.set(fileNum);
    m_header.limitCount.set(fileNum);
    m_header.version = version;
}

StIndexRecord_t& CIndexImage::Record(uint32_t area, uint32_t index)
{
    if (index >= kRecordsPerArea) throw std::out_of_range("record index");
    return m_records.at(size_t(area) * kRecordsPerArea + index);
}

void CIndexImage::SetRing(uint32_t start, uint32_t used)
{
    m_header.ringStart.set(start);
    m_header.usedCount.set(used);
}

void CIndexImage::SetEntry(uint32_t slot, uint32_t area, uint8_t channel, uint16_t lastIndex, uint32_t begin,
                           uint32_t end)
{
    StIndexFileEntry_t& e = Entry(slot);
    e.area.set(area);
    e.channel = channel;
    e.lastIndex.set(lastIndex);
    e.beginTime.set(begin);
    e.endTime.set(end);
}

void CIndexImage::SetCurrent(uint32_t channel0, uint16_t area, uint16_t lastIndex, uint32_t begin, uint32_t end)
{
    StIndexCurFile_t& c = m_header.curFile[channel0];
    c.area.set(area);
    c.lastIndex.set(lastIndex);
    c.beginTime.set(begin);
    c.endTime.set(end);
}

void CIndexImage::SetRecords(uint32_t area, const std::vector<IndexSegment>& segments)
{
    for (size_t i = 0; i < segments.size(); ++i)
        Record(area, uint32_t(i)) = MakeIndexRecord(segments[i], m_header.version == kVersionClassified);
}

std::vector<uint8_t> CIndexImage::Bytes() const
{
    std::vector<uint8_t> bytes(IndexFileSize(FileNum()));
    StIndexHeader_t header = m_header;
    std::memcpy(bytes.data(), static_cast<const void*>(&header), sizeof header);
    header.checksum.set(m_checksum ? *m_checksum : HeaderChecksum(bytes.data()));
    std::memcpy(bytes.data(), static_cast<const void*>(&header), sizeof header);
    for (uint32_t i = 0; i < m_entries.size(); ++i)
        std::memcpy(bytes.data() + FileEntryOffset(i), static_cast<const void*>(&m_entries[i]), kFileEntrySize);
    for (uint32_t a = 0; a < FileNum(); ++a)
        std::memcpy(bytes.data() + AreaOffset(FileNum(), a),
                    static_cast<const void*>(&m_records[size_t(a) * kRecordsPerArea]), kAreaSize);
    return bytes;
}

void CIndexImage::Save(const std::filesystem::path& path) const
{
    const auto bytes = Bytes();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void SaveIndexPair(const CIndexImage& image, const std::filesystem::path& dir, const std::string& mainName,
                   const std::string& backupName)
{
    image.Save(dir / mainName);
    image.Save(dir / backupName);
}

void WriteIndexNamesFile(const std::filesystem::path& dir, const std::string& mainName, const std::string& backupName)
{
    char bytes[64] = {};
    std::memcpy(bytes, mainName.data(), std::min<size_t>(mainName.size(), 32));
    std::memcpy(bytes + 32, backupName.data(), std::min<size_t>(backupName.size(), 32));
    std::ofstream out(dir / "file.bin", std::ios::binary | std::ios::trunc);
    out.write(bytes, sizeof bytes);
    if (!out) throw std::runtime_error("cannot write file.bin");
}

// ---- CIndexDiskWriter ---------------------------------------------------------

CIndexDiskWriter::CIndexDiskWriter(uint32_t fileNum, uint8_t version) : m_fileNum(fileNum), m_version(version)
{
    for (uint32_t a = fileNum; a > 0; --a) m_free.push_back(a - 1);
}

uint32_t CIndexDiskWriter::TakeArea()
{
    if (!m_free.empty()) {
        const uint32_t a = m_free.back();
        m_free.pop_back();
        return a;
    }
    if (m_ring.empty()) throw std::runtime_error("index too small for the channels written at once");
    const uint32_t a = m_ring.front().area;
    m_ring.pop_front();
    return a;
}

void CIndexDiskWriter::Add(const IndexSegment& segment)
{
    if (segment.channel < 1 || segment.channel > kChannelCount) throw std::invalid_argument("channel");
    auto& open = m_open[segment.channel - 1];
    if (open && open->segments.size() == kRecordsPerArea) {
        m_ring.push_back(std::move(*open));
        ++m_closed;
        open.reset();
    }
    if (!open) open = Area{TakeArea(), segment.channel, {}};
    open->segments.push_back(segment);
}

std::vector<CIndexDiskWriter::Indexed> CIndexDiskWriter::IndexedSegments() const
{
    std::vector<Indexed> out;
    for (const Area& a : m_ring)
        for (const auto& s : a.segments) out.push_back({s, a.area});
    for (const auto& open : m_open)
        if (open)
            for (const auto& s : open->segments) out.push_back({s, open->area});
    return out;
}

CIndexImage CIndexDiskWriter::Image() const
{
    CIndexImage image(m_fileNum, m_version);
    const uint32_t used = uint32_t(m_ring.size());
    const uint32_t start = uint32_t((m_closed - used) % m_fileNum);
    image.SetRing(start, used);
    for (uint32_t i = 0; i < used; ++i) {
        const Area& a = m_ring[i];
        image.SetEntry((start + i) % m_fileNum, a.area, a.channel, uint16_t(a.segments.size() - 1),
                       a.segments.front().begin, a.segments.back().end);
        image.SetRecords(a.area, a.segments);
    }
    for (uint32_t c = 0; c < kChannelCount; ++c) {
        const auto& open = m_open[c];
        if (!open) continue;
        image.SetCurrent(c, uint16_t(open->area), uint16_t(open->segments.size() - 1), open->segments.front().begin,
                         open->segments.back().end);
        image.SetRecords(open->area, open->segments);
    }
    return image;
}

// ---- Search -------------------------------------------------------------------

std::vector<StSearchRecord_t> SearchIndexDisk(const std::vector<std::string>& folders, RKFILE_SEARCH_FILTER& filter,
                                              int* rc, int* count)
{
    std::vector<const char*> paths;
    for (const auto& f : folders) paths.push_back(f.c_str());
    const int n = RKFile_SearchGetFileCount(paths.data(), int(paths.size()), &filter);
    if (count) *count = n;
    if (n < 0) {
        if (rc) *rc = n;
        return {};
    }
    std::vector<StSearchRecord_t> records(size_t(n) + 1, ZeroStruct<StSearchRecord_t>());
    const int got = RKFile_SeacrhFile(paths.data(), int(paths.size()), &filter, records.data(), n + 1);
    if (rc) *rc = got;
    records.resize(got > 0 ? size_t(got) : 0);
    return records;
}

RKFILE_SEARCH_FILTER WholeIndexFilter()
{
    RKFILE_SEARCH_FILTER f{};
    f.chnMask = 0xFFFF;
    f.typeMask = 0x10;
    f.startTime = 0;
    f.endTime = 0xFFFFFFFF;
    f.classFilter = 2;
    return f;
}

}  // namespace velmor::fixtures
