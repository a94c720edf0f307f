#include "tests/support/LogWriter.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace velmor::fixtures {

StLogRecord_t MakeLogRecord(uint8_t type, uint32_t time, std::string_view remark, uint32_t extra, uint8_t last)
{
    StLogRecord_t r;
    std::memset(static_cast<void*>(&r), 0, sizeof r);
    r.type = type;
    r.time.set(time);
    if (!remark.empty()) std::memcpy(r.remark, remark.data(), std::min(remark.size(), sizeof r.remark));
    r.extra.set(extra);
    r.loaded = last;
    return r;
}

StLogRecord_t EmptyLogRecord()
{
    StLogRecord_t r;
    std::memset(static_cast<void*>(&r), 0xFF, sizeof r);
    r.type = kLogEmptyType;
    return r;
}

std::vector<uint8_t> LogFileBytes(const std::vector<StLogRecord_t>& records)
{
    std::vector<uint8_t> bytes(records.size() * kLogRecordSize);
    if (!records.empty()) std::memcpy(bytes.data(), static_cast<const void*>(records.data()), bytes.size());
    return bytes;
}

void WriteLogFile(const std::filesystem::path& path, const std::vector<StLogRecord_t>& records, std::string_view tail)
{
    const auto bytes = LogFileBytes(records);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.write(tail.data(), std::streamsize(tail.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

CLogFileImage::CLogFileImage(uint32_t slots) : m_slots(slots, EmptyLogRecord())
{
    if (slots == 0) throw std::invalid_argument("a log needs a slot");
}

void CLogFileImage::Append(const StLogRecord_t& record)
{
    m_slots[m_next] = record;
    if (++m_next == m_slots.size()) {
        m_next = 0;
        m_wrapped = true;
    }
}

std::vector<StLogRecord_t> CLogFileImage::Kept() const
{
    std::vector<StLogRecord_t> kept;
    if (m_wrapped) kept.assign(m_slots.begin() + m_next, m_slots.end());
    kept.insert(kept.end(), m_slots.begin(), m_slots.begin() + m_next);
    return kept;
}

}  // namespace velmor::fixtures
