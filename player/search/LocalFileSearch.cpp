#include "player/search/LocalFileSearch.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <system_error>

#include "common/CodePage.h"
#include "player/search/SearchTrace.h"

namespace fs = std::filesystem;

namespace velmor {
namespace {

std::vector<std::string> Split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t at = text.find(sep, from);
        parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return parts;
        from = at + 1;
    }
}

// The decimal number at the front of `text` (0 when it starts with none);
// false when it does not fit an int.
bool LeadingNumber(std::string_view text, long* value)
{
    long v = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        v = v * 10 + (c - '0');
        if (v > 0x7FFFFFFF) return false;
    }
    *value = v;
    return true;
}

bool AllDigits(std::string_view text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// Seconds since 1970 of a calendar time, without any zone shift. A time the
// calendar does not have (Feb 30, hour 24) is refused rather than rolled on
// into another day, and so is one outside the recorder's 32-bit seconds.
bool Seconds(long year, long month, long day, long hour, long minute, long second, uint32_t* out)
{
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return false;
    std::tm tm{};
    tm.tm_year = int(year - 1900);
    tm.tm_mon = int(month - 1);
    tm.tm_mday = int(day);
    tm.tm_hour = int(hour);
    tm.tm_min = int(minute);
    tm.tm_sec = int(second);
    const std::time_t t = timegm(&tm);
    if (tm.tm_mday != day || tm.tm_mon != month - 1) return false;
    if (t < 0 || t > std::time_t(UINT32_MAX)) return false;
    *out = uint32_t(t);
    return true;
}

// "HHMMSS": hour from characters 0-1, minute from 2-3, second from 4 on.
bool TimeOfDay(const std::string& text, long* hour, long* minute, long* second)
{
    if (text.size() < 5 || !AllDigits(std::string_view(text).substr(0, 5))) return false;
    *hour = (text[0] - '0') * 10 + (text[1] - '0');
    *minute = (text[2] - '0') * 10 + (text[3] - '0');
    return LeadingNumber(std::string_view(text).substr(4), second);
}

bool DayOf(const std::string& text, long* year, long* month, long* day)
{
    if (text.size() != 8 || !AllDigits(text)) return false;
    *year = std::stol(text.substr(0, 4));
    *month = std::stol(text.substr(4, 2));
    *day = std::stol(text.substr(6, 2));
    return true;
}

bool HasIfv(const std::string& name) { return name.find(".ifv") != std::string::npos; }

std::vector<fs::directory_entry> ListSorted(const fs::path& folder, bool* listed)
{
    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    *listed = !ec;
    for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
    // The recorder's tools list names in order; so does this walk, whatever
    // order the file system keeps.
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
    return entries;
}

// The device folder's name as the record's car number; false when it does
// not fit the label with its terminator.
bool CarNumber(const fs::path& deviceFolder, std::string* carNumber)
{
    const std::string name = deviceFolder.filename().string();
    *carNumber = Utf8ToGbk(name);
    if (carNumber->size() >= 15) {
        SEARCH_TRACE("DeviceName %s is too long", name.c_str());
        return false;
    }
    SEARCH_TRACE("car_num:%s", name.c_str());
    return true;
}

// The record's name field holds 40 bytes; a longer name, cut, would point at
// another file, so such a file is not listed.
bool FillRecord(LocalFileRecord& rec, uint8_t kind, const std::string& nameField, const std::string& carNumber,
                const DownloadFileInfo& info)
{
    if (nameField.size() > StSearchRecord_t::kFileNameSize) {
        SEARCH_TRACE("FileName %s is too long", nameField.c_str());
        return false;
    }
    StSearchRecord_t& r = rec.record;
    std::memset(static_cast<void*>(&r), 0, sizeof r);
    std::memcpy(r.FileNameField(), nameField.data(), nameField.size());
    r.kind = kind;
    r.channel = info.channel;
    r.beginTime.set(info.beginTime);
    r.endTime.set(info.endTime);
    std::memcpy(r.label, carNumber.data(), std::min(carNumber.size(), sizeof r.label - 1));
    return true;
}

}  // namespace

std::string CLocalFileSearch::ChannelListOf(uint32_t mask)
{
    std::string list;
    for (int c = 0; c < 32; ++c)
        if (mask & (1u << c)) list += "," + std::to_string(c + 1);
    return list.empty() ? std::string() : list + ",";
}

bool CLocalFileSearch::IsDateFolderName(const std::string& name, int* year, int* month, int* day)
{
    const auto parts = Split(name, '-');
    if (parts.size() != 3) return false;
    long y = 0, m = 0, d = 0;
    if (!LeadingNumber(parts[0], &y) || !LeadingNumber(parts[1], &m) || !LeadingNumber(parts[2], &d)) return false;
    if (m < 1 || m > 12 || d < 1 || d > 31) return false;
    if (year) *year = int(y);
    if (month) *month = int(m);
    if (day) *day = int(d);
    return true;
}

bool CLocalFileSearch::GetFileInfoByFileName(const std::string& name, const std::string& dateFolderName,
                                             DownloadFileInfo* info)
{
    const auto parts = Split(name, '_');
    int y = 0, mo = 0, d = 0;
    if (parts.size() != 5 || !IsDateFolderName(dateFolderName, &y, &mo, &d)) return false;
    DownloadFileInfo out;
    long channel = 1;
    if (parts[0].size() > 2 && !LeadingNumber(std::string_view(parts[0]).substr(2), &channel)) return false;
    if (channel > 255) return false;
    out.channel = uint8_t(channel);
    long h = 0, mi = 0, s = 0;
    if (!TimeOfDay(parts[1], &h, &mi, &s) || !Seconds(y, mo, d, h, mi, s, &out.beginTime)) return false;
    if (!TimeOfDay(parts[2], &h, &mi, &s) || !Seconds(y, mo, d, h, mi, s, &out.endTime)) return false;
    const size_t c = parts[3].find('C');
    if (c != std::string::npos) {
        long alarm = 0;
        if (c > 1 && !LeadingNumber(std::string_view(parts[3]).substr(1, c - 1), &alarm)) return false;
        out.alarm = uint32_t(alarm);
    } else if (!TimeOfDay(parts[4], &h, &mi, &s) || !Seconds(y, mo, d, h, mi, s, &out.alarm)) {
        return false;
    }
    *info = out;
    return true;
}

bool CLocalFileSearch::GetRKClientFileInfoByFileName(const std::string& name, DownloadFileInfo* info)
{
    const auto parts = Split(name, '_');
    if (parts.size() != 6) return false;
    DownloadFileInfo out;
    long y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!DayOf(parts[1], &y, &mo, &d) || !TimeOfDay(parts[2], &h, &mi, &s) ||
        !Seconds(y, mo, d, h, mi, s, &out.beginTime))
        return false;
    if (!DayOf(parts[3], &y, &mo, &d) || !TimeOfDay(parts[4], &h, &mi, &s) ||
        !Seconds(y, mo, d, h, mi, s, &out.endTime))
        return false;
    const std::string& last = parts[5];
    if (last.size() > 5 && last.find('.') != std::string::npos) {
        long channel = 0;
        LeadingNumber(std::string_view(last).substr(3, 2), &channel);
        out.channel = uint8_t(channel);
    }
    out.alarm = 0;
    *info = out;
    return true;
}

bool CLocalFileSearch::TakeFile(const DownloadFileInfo& info) const
{
    if (m_bTypeChoice == kTypeAll || (m_bTypeChoice == kTypeAlarm && info.alarm != 0)) {
        SEARCH_TRACE("Is Right FileType ");
    } else {
        SEARCH_TRACE("Not Normal type, drop");
        return false;
    }
    if (m_strChannels.find("," + std::to_string(info.channel) + ",") == std::string::npos) {
        SEARCH_TRACE("Not Right Channel");
        return false;
    }
    return true;
}

bool CLocalFileSearch::AddFtpFileToMap(const fs::path& file, const fs::path& dateFolder,
                                       std::vector<LocalFileRecord>& out)
{
    SEARCH_TRACE("filePath:%s", file.c_str());
    std::string carNumber;
    if (!CarNumber(dateFolder.parent_path(), &carNumber)) return false;
    const std::string name = file.filename().string();
    DownloadFileInfo info;
    if (!GetFileInfoByFileName(name, dateFolder.filename().string(), &info)) {
        SEARCH_TRACE("Error FileName:%s,return FALSE", name.c_str());
        return false;
    }
    if (!TakeFile(info)) return false;
    LocalFileRecord rec;
    if (!FillRecord(rec, kSourceDownloadTree, name, carNumber, info)) return false;
    rec.path = file;
    out.push_back(std::move(rec));
    return true;
}

bool CLocalFileSearch::AddRKClientFileToMap(const fs::path& file, const fs::path& folder,
                                            std::vector<LocalFileRecord>& out)
{
    SEARCH_TRACE("filePath:%s", file.c_str());
    std::string carNumber;
    if (!CarNumber(folder, &carNumber)) return false;
    const std::string name = file.filename().string();
    DownloadFileInfo info;
    if (!GetRKClientFileInfoByFileName(name, &info)) {
        SEARCH_TRACE("Error FileName:%s,return FALSE", name.c_str());
        return false;
    }
    if (!TakeFile(info)) return false;
    LocalFileRecord rec;
    if (!FillRecord(rec, kSourceClientDownload, Split(name, '_')[5], carNumber, info)) return false;
    rec.path = file;
    out.push_back(std::move(rec));
    return true;
}

void CLocalFileSearch::FindFtpFileInFolder(const fs::path& folder, int level, std::vector<LocalFileRecord>& out)
{
    std::error_code ec;
    if (!fs::exists(folder, ec)) {
        SEARCH_TRACE("folderPath:%s Not exist", folder.c_str());
        return;
    }
    bool listed = false;
    const auto entries = ListSorted(folder, &listed);
    if (!listed) {
        SEARCH_TRACE("dirPath:%s Not exist", folder.c_str());
        return;
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& entry = entries[i];
        if (m_progress.Cancelled()) return;
        if (level == m_progressLevel) m_progress.Report(int(i * 100 / entries.size()));
        if (Full(out)) {
            SEARCH_TRACE("FileNum is MAX_FILENUM,break");
            return;
        }
        const std::string name = entry.path().filename().string();
        SEARCH_TRACE("FileName:%s", name.c_str());
        const bool isDir = entry.is_directory(ec);
        if (level == 0 && isDir) {
            FindFtpFileInFolder(entry.path(), 1, out);
        } else if (level == 1 && isDir) {
            if (IsDateFolderName(name))
                FindFtpFileInFolder(entry.path(), 2, out);
            else
                SEARCH_TRACE("Error Folder:%s", entry.path().c_str());
        } else if (level == 2 && !isDir) {
            if (!HasIfv(name)) {
                SEARCH_TRACE("Not right File:%s", name.c_str());
                continue;
            }
            AddFtpFileToMap(entry.path(), folder, out);
        } else {
            SEARCH_TRACE("Not Want File");
        }
    }
}

void CLocalFileSearch::FindRKClientFileInFolder(const fs::path& folder, std::vector<LocalFileRecord>& out)
{
    std::error_code ec;
    if (!fs::exists(folder, ec)) {
        SEARCH_TRACE("folderPath:%s Not exist", folder.c_str());
        return;
    }
    bool listed = false;
    const auto entries = ListSorted(folder, &listed);
    if (!listed) {
        SEARCH_TRACE("dirPath:%s Not exist", folder.c_str());
        return;
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& entry = entries[i];
        if (m_progress.Cancelled()) return;
        m_progress.Report(int(i * 100 / entries.size()));
        if (Full(out)) {
            SEARCH_TRACE("FileNum is MAX_FILENUM,break");
            return;
        }
        const std::string name = entry.path().filename().string();
        SEARCH_TRACE("FileName:%s", name.c_str());
        if (entry.is_directory(ec)) {
            SEARCH_TRACE("Directory, Continue");
            continue;
        }
        if (!HasIfv(name)) {
            SEARCH_TRACE("Not right File:%s", name.c_str());
            continue;
        }
        AddRKClientFileToMap(entry.path(), folder, out);
    }
}

void CLocalFileSearch::SortRecords(std::vector<LocalFileRecord>& records)
{
    std::stable_sort(records.begin(), records.end(), [](const LocalFileRecord& a, const LocalFileRecord& b) {
        return a.record.beginTime.get() > b.record.beginTime.get();
    });
}

int CLocalFileSearch::SearchFtpFileByManyTime(const fs::path& chosen, std::vector<LocalFileRecord>& out,
                                              fs::path* root)
{
    out.clear();
    m_progress.Start();
    if (m_strChannels.empty()) return 0;
    std::error_code ec;
    fs::path folder = fs::absolute(chosen, ec);
    if (ec) folder = chosen;
    if (!folder.has_filename()) folder = folder.parent_path();  // a trailing separator
    const std::string name = folder.filename().string();

    if (IsDateFolderName(name)) {
        SEARCH_TRACE("Choose Date Folder:%s", folder.c_str());
        m_progressLevel = 2;
        FindFtpFileInFolder(folder, 2, out);
        // The tree's root is two folders up; a date folder with no device
        // folder above it names no vehicle.
        const fs::path device = folder.parent_path();
        if (device == folder || device.filename().empty()) {
            out.clear();
        } else if (root) {
            *root = device.parent_path();
        }
    }
    if (out.empty()) {
        SEARCH_TRACE("Choose Device Folder:%s", folder.c_str());
        m_progressLevel = 1;
        FindFtpFileInFolder(folder, 1, out);
        if (!out.empty()) {
            if (folder.filename().empty()) {
                SEARCH_TRACE("Cant Find DeviceID:%s", folder.c_str());
                out.clear();
            } else if (root) {
                *root = folder.parent_path();
            }
        }
    }
    if (out.empty()) {
        SEARCH_TRACE("Choose Multibyte Device Folder:%s", folder.c_str());
        m_progressLevel = 0;
        FindFtpFileInFolder(folder, 0, out);
    }
    return Finish(out);
}

int CLocalFileSearch::SearchRKClientDownloadFile(const fs::path& folder, std::vector<LocalFileRecord>& out)
{
    out.clear();
    m_progress.Start();
    std::error_code ec;
    fs::path f = fs::absolute(folder, ec);
    if (ec) f = folder;
    if (!f.has_filename()) f = f.parent_path();
    SEARCH_TRACE("Choose Date Folder:%s", f.c_str());
    FindRKClientFileInFolder(f, out);
    return Finish(out);
}

int CLocalFileSearch::Finish(std::vector<LocalFileRecord>& out)
{
    if (m_progress.Cancelled()) {
        out.clear();
        return 0;
    }
    SortRecords(out);
    m_progress.Report(100);
    return int(out.size());
}

}  // namespace velmor
