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

// The file is laid down byte by byte at offsets written out here, not with
// the reader's structures or offset helpers, so a reader that got the layout
// wrong cannot agree with its own fixture.
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v)
{
    b.at(at) = uint8_t(v);
    b.at(at + 1) = uint8_t(v >> 8);
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.at(at + size_t(i)) = uint8_t(v >> (8 * i));
}

void PutBytes(std::vector<uint8_t>& b, size_t at, const void* from, size_t n)
{
    if (at + n > b.size()) throw std::out_of_range("index image");
    std::memcpy(b.data() + at, from, n);
}

}  // namespace

std::vector<uint8_t> CIndexImage::Bytes() const
{
    const uint32_t n = FileNum();
    // 512-byte header, n entries of 16 bytes, then n areas of 256 x 32 bytes.
    std::vector<uint8_t> b(512 + size_t(n) * 16 + size_t(n) * 8192, 0);
    const StIndexHeader_t& h = m_header;
    PutBytes(b, 0, h.reserved0, 16);
    Put32(b, 16, h.fileNum.get());
    Put32(b, 20, h.limitCount.get());
    Put32(b, 24, h.usedCount.get());
    Put32(b, 28, h.ringStart.get());
    PutBytes(b, 32, h.reserved1, 12);
    for (size_t c = 0; c < 16; ++c) {
        const size_t at = 44 + 12 * c;
        Put16(b, at, h.curFile[c].area.get());
        Put16(b, at + 2, h.curFile[c].lastIndex.get());
        Put32(b, at + 4, h.curFile[c].beginTime.get());
        Put32(b, at + 8, h.curFile[c].endTime.get());
    }
    PutBytes(b, 236, h.reserved2, 192);
    b[428] = h.version;
    PutBytes(b, 429, h.reserved3, 79);
    uint32_t sum = 0;
    for (size_t i = 0; i < 508; ++i) sum += b[i];
    Put32(b, 508, m_checksum ? *m_checksum : sum);
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const StIndexFileEntry_t& e = m_entries[i];
        const size_t at = 512 + 16 * i;
        Put32(b, at, e.area.get());
        b.at(at + 4) = e.channel;
        b.at(at + 5) = e.reserved;
        Put16(b, at + 6, e.lastIndex.get());
        Put32(b, at + 8, e.beginTime.get());
        Put32(b, at + 12, e.endTime.get());
    }
    for (size_t r = 0; r < m_records.size(); ++r) {
        const StIndexRecord_t& rec = m_records[r];
        const size_t at = 512 + 16 * size_t(n) + 32 * r;  // area r / 256, record r % 256
        b.at(at) = rec.flags;
        b.at(at + 1) = rec.byte1;
        b.at(at + 2) = rec.byte2;
        b.at(at + 3) = rec.chnByte;
        b.at(at + 4) = rec.byte4;
        PutBytes(b, at + 5, rec.text, 11);
        Put32(b, at + 16, rec.beginTime.get());
        Put32(b, at + 20, rec.endTime.get());
        Put32(b, at + 24, rec.beginOffset.get());
        Put32(b, at + 28, rec.endOffset.get());
    }
    return b;
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
