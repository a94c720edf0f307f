#include "index/src/IndexFile.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <system_error>

#include "common/CodePage.h"
#include "common/IniFile.h"
#include "common/LibraryLog.h"
#include "common/PathUtil.h"

namespace fs = std::filesystem;

namespace rkindex {
namespace {

constexpr const char* kMainName = "index00.bin";
constexpr const char* kBackupName = "index01.bin";
constexpr const char* kNamesFile = "file.bin";
// The names in "file.bin" sit at offsets 0 and 32; a name longer than a
// file-system name cannot be opened anyway.
constexpr size_t kNamesRead = 32 + 256;

// Why an index pair was not usable: the caller's log callback and last error.
void Fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Fail(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    velmor::LogFormatV(velmor::LogLibrary::Index, velmor::kLogFailure, fmt, args);
    va_end(args);
}

bool ContainsNoCase(std::string_view text, std::string_view part)
{
    if (part.size() > text.size()) return false;
    for (size_t i = 0; i + part.size() <= text.size(); ++i)
        if (velmor::EqualsNoCase(text.substr(i, part.size()), part)) return true;
    return false;
}

// A name from "file.bin" is taken only as a plain entry of the folder: one
// with a separator could reach files outside the disk's root.
bool UsableIndexName(std::string_view name)
{
    return ContainsNoCase(name, "index") && ContainsNoCase(name, ".bin") &&
           name.find_first_of("/\\") == std::string_view::npos;
}

bool IsRegularFile(const fs::path& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

bool Overlaps(uint32_t begin, uint32_t end, const SearchFilter& f) { return begin < f.endTime && f.startTime < end; }

bool InMask(uint32_t channel, uint16_t mask) { return channel >= 1 && channel <= 16 && ((mask >> (channel - 1)) & 1); }

bool ClassPasses(const StIndexRecord_t& r, uint8_t classFilter)
{
    if (classFilter == 0) return r.classBit();
    if (classFilter == 1) return !r.classBit();
    return true;
}

bool TypePasses(const StIndexRecord_t& r, uint8_t typeMask)
{
    if (r.typeBits() == 0) return false;
    return (typeMask & 0x10) != 0 || (r.typeBits() & typeMask) != 0;
}

struct Walk {
    const SearchFilter& filter;
    bool classified;  // version-1 index
    uint8_t folderNo;
    const MatchSink& sink;

    // Records of one area. `entryChannel` is the channel used when the index
    // does not carry it per record; `checkRecordChannel` is set for the file
    // table of a version-1 index, whose entries are visited whatever their
    // channel.
    bool Records(const std::vector<StIndexRecord_t>& records, uint32_t area, uint8_t entryChannel,
                 bool checkRecordChannel, bool entryOverlaps) const
    {
        for (const StIndexRecord_t& r : records) {
            const uint8_t channel = classified ? r.channel() : entryChannel;
            if (classified) {
                if (checkRecordChannel && (!InMask(channel, filter.chnMask) || !entryOverlaps)) break;
                if (!ClassPasses(r, filter.classFilter)) continue;
            }
            const uint32_t begin = r.beginTime.get();
            const uint32_t end = r.endTime.get();
            if (begin >= filter.endTime) break;
            if (end <= filter.startTime || end < begin) continue;
            if (r.endOffset.get() <= r.beginOffset.get() || !TypePasses(r, filter.typeMask)) continue;
            if (!sink(Result(r, area, channel))) return false;
        }
        return true;
    }

    velmor::StSearchRecord_t Result(const StIndexRecord_t& r, uint32_t area, uint8_t channel) const
    {
        auto out = ZeroStruct<velmor::StSearchRecord_t>();
        out.flags = r.flags;
        out.byte1 = r.byte1;
        out.byte2 = r.byte2;
        out.length.set(r.endOffset.get() - r.beginOffset.get());
        out.beginOffset.set(r.beginOffset.get());
        out.folderNo = folderNo;
        out.fileNo.set(uint16_t(area));
        out.kind = velmor::kSourceIndexDisk;
        out.channel = channel;
        out.beginTime.set(r.beginTime.get());
        out.endTime.set(r.endTime.get());
        std::memcpy(out.label, r.text, sizeof r.text);
        return out;
    }
};

// Records past the 256 of an area would belong to the next area (or lie
// beyond the file): the walk ends with the area.
uint32_t RecordsInArea(uint32_t lastIndex) { return std::min(lastIndex + 1, kRecordsPerArea); }

}  // namespace

IndexPairNames IndexFileNames(const fs::path& folder)
{
    IndexPairNames names{velmor::FindNoCase(folder, kMainName), velmor::FindNoCase(folder, kBackupName)};
    const fs::path list = velmor::FindNoCase(folder, kNamesFile);
    if (!IsRegularFile(list)) return names;
    velmor::CFileReader file;
    if (!file.Open(list)) return names;
    char bytes[kNamesRead] = {};
    const size_t n = file.ReadAt(0, bytes, sizeof bytes);
    if (n <= 32) return names;
    const std::string_view first = velmor::FieldText(bytes, n);
    const std::string_view second = velmor::FieldText(bytes + 32, n - 32);
    if (UsableIndexName(first) && UsableIndexName(second)) {
        names.main = velmor::FindNoCase(folder, first);
        names.backup = velmor::FindNoCase(folder, second);
    }
    return names;
}

IndexCheck CIndexFile::Open(const fs::path& path)
{
    m_file.Close();
    int error = 0;
    velmor::CFileReader file;
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (!ec && fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status)) {
        // A pipe or a device would block or never end.
        Fail("read file error\n");
        return IndexCheck::kReadError;
    }
    if (!file.Open(path, &error)) {
        Fail("errno=%d,str=%s\n", error, std::error_code(error, std::generic_category()).message().c_str());
        return IndexCheck::kOpenError;
    }
    uint8_t bytes[kHeaderSize];
    if (file.ReadAt(0, bytes, sizeof bytes) != sizeof bytes) {
        Fail("read file error\n");
        return IndexCheck::kReadError;
    }
    const auto header = LoadStruct<StIndexHeader_t>(bytes);
    const uint32_t n = header.fileNum.get();
    if (n < header.usedCount.get() || n < header.limitCount.get() || header.ringStart.get() >= n) {
        Fail("count file error\n");
        return IndexCheck::kCountError;
    }
    const int64_t size = file.Size();
    if (size < 0 || uint64_t(size) != IndexFileSize(n)) {
        Fail("file len error\n");
        return IndexCheck::kLengthError;
    }
    if (HeaderChecksum(bytes) != header.checksum.get()) {
        Fail("verify error\n");
        return IndexCheck::kVerifyError;
    }
    m_file = std::move(file);
    m_header = header;
    return IndexCheck::kOk;
}

std::vector<StIndexFileEntry_t> CIndexFile::ReadFileTable() const
{
    const uint32_t n = FileNum();
    std::vector<uint8_t> bytes(size_t(n) * kFileEntrySize);
    const size_t got = m_file.ReadAt(FileEntryOffset(0), bytes.data(), bytes.size());
    std::vector<StIndexFileEntry_t> entries(got / kFileEntrySize);
    for (size_t i = 0; i < entries.size(); ++i)
        entries[i] = LoadStruct<StIndexFileEntry_t>(bytes.data() + i * kFileEntrySize);
    return entries;
}

std::vector<StIndexRecord_t> CIndexFile::ReadArea(uint32_t area, uint32_t count) const
{
    count = std::min(count, kRecordsPerArea);
    uint8_t bytes[kAreaSize];
    const size_t got = m_file.ReadAt(AreaOffset(FileNum(), area), bytes, size_t(count) * kRecordSize);
    std::vector<StIndexRecord_t> records(got / kRecordSize);
    for (size_t i = 0; i < records.size(); ++i) records[i] = LoadStruct<StIndexRecord_t>(bytes + i * kRecordSize);
    return records;
}

bool OpenFolderIndex(const fs::path& folder, CIndexFile& index)
{
    const IndexPairNames names = IndexFileNames(folder);
    // Both files are checked, so both report what is wrong with them.
    CIndexFile backup;
    const IndexCheck mainCheck = index.Open(names.main);
    const IndexCheck backupCheck = backup.Open(names.backup);
    if (mainCheck == IndexCheck::kOk) return true;
    if (backupCheck != IndexCheck::kOk) return false;
    index = std::move(backup);
    return true;
}

bool SearchIndex(const CIndexFile& index, const SearchFilter& filter, uint8_t folderNo, const MatchSink& sink)
{
    const StIndexHeader_t& h = index.Header();
    const uint32_t n = h.fileNum.get();
    const Walk walk{filter, h.version == kVersionClassified, folderNo, sink};

    const std::vector<StIndexFileEntry_t> table = index.ReadFileTable();
    const uint32_t used = h.usedCount.get();
    const uint32_t ringStart = h.ringStart.get();
    for (uint32_t i = 0; i < used; ++i) {
        const uint64_t slot = (uint64_t(i) + ringStart) % n;
        if (slot >= table.size()) continue;  // the file shrank since it was checked
        const StIndexFileEntry_t& e = table[slot];
        const uint32_t area = e.area.get() & 0xFFFF;
        if (area >= n) continue;  // its records would lie outside the file
        const bool overlaps = Overlaps(e.beginTime.get(), e.endTime.get(), filter);
        if (!walk.classified && (!InMask(e.channel, filter.chnMask) || !overlaps)) continue;
        const auto records = index.ReadArea(area, RecordsInArea(e.lastIndex.get()));
        if (!walk.Records(records, area, e.channel, true, overlaps)) return false;
    }

    for (uint32_t b = 0; b < kChannelCount; ++b) {
        if (!((filter.chnMask >> b) & 1)) continue;
        const StIndexCurFile_t& c = h.curFile[b];
        const uint32_t area = c.area.get();
        if (area >= n || !Overlaps(c.beginTime.get(), c.endTime.get(), filter)) continue;
        const auto records = index.ReadArea(area, RecordsInArea(c.lastIndex.get()));
        if (!walk.Records(records, area, uint8_t(b + 1), false, true)) return false;
    }
    return true;
}

}  // namespace rkindex
