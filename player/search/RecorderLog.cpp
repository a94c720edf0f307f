#include "player/search/RecorderLog.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

#include "common/CodePage.h"
#include "common/FileReader.h"
#include "common/PathUtil.h"
#include "player/search/SearchTrace.h"

namespace velmor {
namespace {

constexpr const char* kUnknownKey = "Log_UnknownType";

// Content keys by main type (0..6) and sub type; null: no text of its own.
constexpr const char* kContentKeys[7][16] = {
    {"Log_InputBegin", "Log_InputEnd", "Log_MTDBegin", "Log_MTDEnd"},
    {"Log_Startup", "Log_Shutdown", "Log_Login", "Log_Logout", "Log_Configure", "Log_StartVideo", "Log_StopVideo",
     "Log_LocalUpdat", "Log_Format", "Log_Reboot", nullptr, "Log_LoginFailed", nullptr, "Log_LocalUpdat"},
    {"Log_Rlogin", "Log_Rlogout", "Log_StartVideo", "Log_StopVideo", "Log_RemoteConf", "Log_RemoteRestart",
     "Log_VoipStart", "Log_VoipEnd", "Log_RemoteUpgrade", "Log_RemoteShutdown"},
    {"Log_VideoLoss", "Log_Blind", "Log_HDDError", "Log_HDDFull", "Log_IllegalOp", "Log_SDFull", "Log_SDError"},
    {},
    {"Log_NOMODULE", "Log_N0SIMCard", "Log_DialupSuccess", "Log_DialupFailure", "Log_OnLine", "Log_offLine"},
    {"Log_GSensorStop", "Log_GSensorStart", "Log_RapidAcceleration", "Log_RapidDeceleration", "Log_SharpTurn",
     "Log_Collision", "Log_Rollover", "Log_RolloverRecovery"},
};

// Records read per file access.
constexpr size_t kReadBatch = 1024;

bool EarlierTime(const StLogRecord_t& a, const StLogRecord_t& b) { return a.time.get() < b.time.get(); }

// Puts a ring's records in file order (a full ring that wrapped has its
// oldest record at the write position) and then in time order. The sort is
// stable, so records of equal time keep their file order even across the
// wrap-around.
void Settle(CLogStore::Ring& ring)
{
    auto first = ring.slots.begin();
    auto last = first + ring.count;
    if (ring.count == CLogStore::kRingSize && ring.writePos != 0) {
        std::rotate(first, first + ring.writePos, last);
        ring.writePos = 0;
    }
    if (!std::is_sorted(first, last, EarlierTime)) std::stable_sort(first, last, EarlierTime);
}

void Put(CLogStore::Ring& ring, const StLogRecord_t& record)
{
    ring.slots[ring.writePos] = record;
    ring.slots[ring.writePos].loaded = 0;
    if (ring.count < CLogStore::kRingSize) ++ring.count;
    ring.writePos = (ring.writePos + 1) % CLogStore::kRingSize;
}

bool Matches(const LogQuery& q, const StLogRecord_t& r)
{
    const uint8_t wanted = q.typeFilter >> 4;
    const bool typeMatch = wanted == 4 || wanted == r.mainType();
    const bool timeMatch = q.start <= r.time.get() && r.time.get() <= q.end;
    switch (q.mode) {
        case 0: return typeMatch && timeMatch;
        case 1: return typeMatch;
        default: return timeMatch;
    }
}

std::string TrimBlanks(std::string text)
{
    const char* blanks = " \t\r\n";
    const size_t b = text.find_first_not_of(blanks);
    if (b == std::string::npos) return {};
    const size_t e = text.find_last_not_of(blanks);
    return text.substr(b, e - b + 1);
}

}  // namespace

LogQuery DefaultLogQuery(std::time_t now)
{
    std::tm tm{};
    localtime_r(&now, &tm);
    tm.tm_year += 30;
    const std::time_t end = timegm(&tm);
    LogQuery q;
    q.mode = 0;
    q.typeFilter = 0x40;
    q.start = kLogQueryStart;
    q.end = end < 0 ? 0 : end > std::time_t(UINT32_MAX) ? UINT32_MAX : uint32_t(end);
    return q;
}

int CLogStore::LoadLog(const std::filesystem::path& path)
{
    m_rings.reset(new (std::nothrow) Rings());
    if (!m_rings) return -1;
    for (Ring* ring : {&m_rings->alarm, &m_rings->operation}) {
        for (auto& slot : ring->slots) {
            std::memset(static_cast<void*>(&slot), 0, sizeof slot);
            slot.type = kLogEmptyType;
        }
    }
    CFileReader file;
    std::error_code ec;
    // A pipe or a device would block or never end: only regular files are logs.
    if (!std::filesystem::is_regular_file(path, ec) || !file.Open(path)) {
        m_rings.reset();
        return -1;
    }
    std::vector<uint8_t> batch(kReadBatch * kLogRecordSize);
    for (;;) {
        const size_t got = file.Read(batch.data(), batch.size());
        for (size_t at = 0; at + kLogRecordSize <= got; at += kLogRecordSize) {
            StLogRecord_t record;
            std::memcpy(static_cast<void*>(&record), batch.data() + at, kLogRecordSize);
            if (record.type == kLogEmptyType) continue;
            Put(record.mainType() == 0 ? m_rings->alarm : m_rings->operation, record);
        }
        if (got < batch.size()) break;  // the end, or a read error: a short last piece is not a record
    }
    Settle(m_rings->alarm);
    Settle(m_rings->operation);
    return 0;
}

std::vector<StLogRecord_t> CLogStore::Query(const LogQuery& query) const
{
    std::vector<StLogRecord_t> taken;
    if (!m_rings) {
        SEARCH_TRACE("logs is null");
        return taken;
    }
    for (const Ring* ring : {&m_rings->alarm, &m_rings->operation}) {
        for (uint32_t i = 0; i < ring->count; ++i) {
            const StLogRecord_t& r = ring->slots[i];
            if (r.type != kLogEmptyType && Matches(query, r)) taken.push_back(r);
        }
    }
    if (taken.size() > 1) std::stable_sort(taken.begin(), taken.end(), EarlierTime);
    return taken;
}

const char* LogContentKey(uint8_t type)
{
    const uint8_t main = type >> 4;
    if (main >= std::size(kContentKeys)) return kUnknownKey;
    const char* key = kContentKeys[main][type & 0x0F];
    return key ? key : kUnknownKey;
}

std::string LogTimeText(uint32_t time)
{
    const std::time_t t = time;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

void MakeLogEntries(const std::vector<StLogRecord_t>& records, const CLanguageTable& language,
                    const std::string& sourceKey, std::vector<LogEntry>& entries)
{
    entries.reserve(entries.size() + records.size());
    for (const StLogRecord_t& r : records) {
        LogEntry e;
        e.number = int(entries.size()) + 1;
        e.numberText = std::to_string(e.number);
        e.time = r.time.get();
        e.timeText = LogTimeText(e.time);
        e.type = r.type;
        e.contentKey = LogContentKey(r.type);
        e.content = language.Text(e.contentKey);
        e.remark = TrimBlanks(GbkToUtf8(FieldText(r.remark, sizeof r.remark)));
        e.sourceKey = sourceKey;
        e.kind = sourceKey == kRecorderLogSource ? 2 : 1;
        entries.push_back(std::move(e));
    }
}

int LoadLogEntries(const std::filesystem::path& logFile, const LogQuery& query, const CLanguageTable& language,
                   std::vector<LogEntry>& entries)
{
    CLogStore store;
    if (store.LoadLog(logFile) != 0) return -1;
    MakeLogEntries(store.Query(query), language, kRecorderLogSource, entries);
    return 0;
}

int LoadFolderLogs(const std::vector<std::filesystem::path>& folders, const CLanguageTable& language,
                   std::vector<LogEntry>& entries, std::time_t now)
{
    const LogQuery query = DefaultLogQuery(now);
    int loaded = 0;
    for (const auto& folder : folders)
        if (LoadLogEntries(FindNoCase(folder, "log.bin"), query, language, entries) == 0) ++loaded;
    return loaded;
}

}  // namespace velmor
