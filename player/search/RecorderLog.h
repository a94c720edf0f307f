// The recorder's operation log: "log.bin" loaded into two rings of the latest
// 512 records each (alarm records, main type 0, and all others), selected by
// a query, and turned into the numbered entries the log page lists.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/LanguageTable.h"
#include "player/search/LogFormat.h"

namespace velmor {

struct LogQuery {
    // 0: type and time must match; 1: only the type; any other value: only the time.
    uint8_t mode = 0;
    // High 4 bits: the main type wanted, or 4 for every type.
    uint8_t typeFilter = 0x40;
    uint32_t start = 0;  // first and last second, both included
    uint32_t end = 0;
};

constexpr uint32_t kLogQueryStart = 946684800;  // 2000-01-01 00:00:00

// Every type from 2000-01-01 to the local time `now` with 30 added to the
// year, as seconds since 1970 without a zone shift.
LogQuery DefaultLogQuery(std::time_t now = std::time(nullptr));

class CLogStore {
public:
    static constexpr uint32_t kRingSize = 512;
    static constexpr uint32_t kMaxQueryRecords = 2 * kRingSize;

    struct Ring {
        std::array<StLogRecord_t, kRingSize> slots;
        uint32_t count = 0;     // 0..512
        uint32_t writePos = 0;  // 0..511
    };

    // Creates the store and fills it from the file, opened read-only.
    // 0: loaded; -1: the store cannot be allocated or the file cannot be opened.
    int LoadLog(const std::filesystem::path& path);
    void Free() { m_rings.reset(); }
    bool IsLoaded() const { return m_rings != nullptr; }

    // The records the query takes, alarm ring first, sorted by time (equal
    // times keep their order). Without a loaded store: none.
    std::vector<StLogRecord_t> Query(const LogQuery& query) const;

    // Each ring holds its records in time order after a load.
    const Ring* AlarmRing() const { return m_rings ? &m_rings->alarm : nullptr; }
    const Ring* OperationRing() const { return m_rings ? &m_rings->operation : nullptr; }

private:
    struct Rings {
        Ring alarm;
        Ring operation;
    };
    std::unique_ptr<Rings> m_rings;
};

// The language key of a record's content text.
const char* LogContentKey(uint8_t type);

// "YYYY-MM-DD hh:mm:ss " (with the trailing blank) of recorder seconds.
std::string LogTimeText(uint32_t time);

// The source key of entries loaded from "log.bin" files.
inline constexpr const char* kRecorderLogSource = "*RK*";

struct LogEntry {
    int number = 0;          // running number from 1
    std::string numberText;  // "%d"
    std::string timeText;    // LogTimeText
    std::string content;     // the text of contentKey in the language table
    std::string remark;      // UTF-8, blanks and line breaks trimmed at both ends
    std::string sourceKey;
    int kind = 1;  // 2 for entries of "log.bin" files (source key "*RK*"), else 1
    // The record the entry was made from.
    uint8_t type = 0;
    uint32_t time = 0;
    const char* contentKey = "";
};

// Appends one entry per record, numbered on from the entries already there.
void MakeLogEntries(const std::vector<StLogRecord_t>& records, const CLanguageTable& language,
                    const std::string& sourceKey, std::vector<LogEntry>& entries);

// Loads one log file and appends the entries of the records `query` takes.
// 0, or -1 when the file cannot be opened (nothing appended).
int LoadLogEntries(const std::filesystem::path& logFile, const LogQuery& query, const CLanguageTable& language,
                   std::vector<LogEntry>& entries);

// The log of each folder ("log.bin" in it, in any case) through the default
// query; a folder without a readable log is passed over. Returns the number
// of logs read.
int LoadFolderLogs(const std::vector<std::filesystem::path>& folders, const CLanguageTable& language,
                   std::vector<LogEntry>& entries, std::time_t now = std::time(nullptr));

}  // namespace velmor
