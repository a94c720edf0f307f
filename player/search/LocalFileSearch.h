// The search of downloaded IFV files: the file-transfer tree (root / device
// folder named by car number / date folder YYYY-MM-DD / files) and the client
// download tool's folders (one folder per vehicle). Channel and time span come
// from each file's name, the car number from its folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "index/format/SearchRecord.h"
#include "player/search/SearchProgress.h"

namespace velmor {

// One accepted file: its record and the file itself.
struct LocalFileRecord {
    StSearchRecord_t record{};
    std::filesystem::path path;
};

// What a name says.
struct DownloadFileInfo {
    uint8_t channel = 1;
    uint32_t beginTime = 0;
    uint32_t endTime = 0;
    uint32_t alarm = 0;
};

class CLocalFileSearch {
public:
    static constexpr size_t kMaxFileNum = 20000;
    static constexpr uint8_t kTypeAll = 31;
    static constexpr uint8_t kTypeAlarm = 4;

    // The page's settings for the next search.
    void SetCapacity(size_t capacity) { m_nCapacity = capacity; }
    void SetTypeChoice(uint8_t type) { m_bTypeChoice = type; }
    // Channel numbers each enclosed in commas: ",1,2,4,".
    void SetChannelList(std::string list) { m_strChannels = std::move(list); }
    // Progress of the two folder searches in percent, and the flag that
    // cancels them (they then list nothing).
    void SetProgress(CSearchProgress::Callback callback, const std::atomic<bool>* cancel = nullptr)
    {
        m_progress.Set(std::move(callback), cancel);
    }
    static std::string ChannelListOf(uint32_t mask);  // bit n = channel n + 1

    // A search starting from a folder the user picked somewhere in a download
    // tree. Returns the number of records left in `out`, newest first; *root
    // (when given) gets the tree's root when it could be told.
    int SearchFtpFileByManyTime(const std::filesystem::path& chosen, std::vector<LocalFileRecord>& out,
                                std::filesystem::path* root = nullptr);
    // A search of one client download folder.
    int SearchRKClientDownloadFile(const std::filesystem::path& folder, std::vector<LocalFileRecord>& out);

    // Level 0: a folder of device folders; 1: a device folder; 2: a date folder.
    void FindFtpFileInFolder(const std::filesystem::path& folder, int level, std::vector<LocalFileRecord>& out);
    void FindRKClientFileInFolder(const std::filesystem::path& folder, std::vector<LocalFileRecord>& out);
    bool AddFtpFileToMap(const std::filesystem::path& file, const std::filesystem::path& dateFolder,
                         std::vector<LocalFileRecord>& out);
    bool AddRKClientFileToMap(const std::filesystem::path& file, const std::filesystem::path& folder,
                              std::vector<LocalFileRecord>& out);

    // "YYYY-MM-DD" with a month 1-12 and a day 1-31; the year is not checked.
    static bool IsDateFolderName(const std::string& name, int* year = nullptr, int* month = nullptr,
                                 int* day = nullptr);
    static bool GetFileInfoByFileName(const std::string& name, const std::string& dateFolderName, DownloadFileInfo* info);
    static bool GetRKClientFileInfoByFileName(const std::string& name, DownloadFileInfo* info);

    // Newest first; records of equal begin times keep the order they were found in.
    static void SortRecords(std::vector<LocalFileRecord>& records);

private:
    bool Full(const std::vector<LocalFileRecord>& out) const { return out.size() >= m_nCapacity; }
    // Sorts the records found, or drops them when the search was cancelled.
    int Finish(std::vector<LocalFileRecord>& out);
    bool TakeFile(const DownloadFileInfo& info) const;

    size_t m_nCapacity = kMaxFileNum;
    uint8_t m_bTypeChoice = kTypeAll;
    std::string m_strChannels;
    CSearchProgress m_progress;
    int m_progressLevel = -1;  // the folder level whose entries the percent counts
};

}  // namespace velmor
