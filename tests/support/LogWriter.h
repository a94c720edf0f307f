// Recorder log files "log.bin": 37-byte log records. The recorder keeps its
// log as a fixed number of slots written round and round, so after a
// wrap-around the newest records lie at the start of the file; slots never
// written hold the empty type 255.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "player/search/LogFormat.h"

namespace velmor::fixtures {

// `remark` in the recorder's code page (GBK); at most 27 bytes are kept, and
// a shorter remark is NUL-terminated. `last` fills byte 36, which the loader
// clears.
StLogRecord_t MakeLogRecord(uint8_t type, uint32_t time, std::string_view remark = {}, uint32_t extra = 0,
                            uint8_t last = 0xA5);
StLogRecord_t EmptyLogRecord();

std::vector<uint8_t> LogFileBytes(const std::vector<StLogRecord_t>& records);
// The records one after another, then `tail` (a short last piece, for instance).
void WriteLogFile(const std::filesystem::path& path, const std::vector<StLogRecord_t>& records,
                  std::string_view tail = {});

// A recorder's log of `slots` slots, written round and round.
class CLogFileImage {
public:
    explicit CLogFileImage(uint32_t slots);
    void Append(const StLogRecord_t& record);
    // The records still in the file, oldest first.
    std::vector<StLogRecord_t> Kept() const;
    const std::vector<StLogRecord_t>& Slots() const { return m_slots; }
    void Save(const std::filesystem::path& path) const { WriteLogFile(path, m_slots); }

private:
    std::vector<StLogRecord_t> m_slots;
    uint32_t m_next = 0;
    bool m_wrapped = false;
};

}  // namespace velmor::fixtures
