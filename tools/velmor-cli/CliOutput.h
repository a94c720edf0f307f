// What every velmor-cli command shares: the JSON channel on standard output,
// the error line and exit codes, time texts and frame lines.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velmor::cli {

enum ExitCode { kExitOk = 0, kExitBadInput = 1, kExitUsage = 2 };

// The input is bad or unreadable: printed as "velmor-cli: <subject>: <what>", exit 1.
class CliError : public std::runtime_error {
public:
    CliError(std::string subject, const std::string& what) : std::runtime_error(what), m_subject(std::move(subject)) {}
    const std::string& Subject() const { return m_subject; }

private:
    std::string m_subject;
};

// Standard output carries only JSON; the libraries' diagnostic lines go to
// standard error through their log callbacks, installed before any command
// runs.
void RouteLibraryLogsToStderr();
void WriteJson(std::string_view text);  // buffered; whole documents or whole lines only
void FlushJson();

void Warn(const std::string& subject, const std::string& what);

// "YYYY-MM-DD hh:mm:ss" of recorder seconds, without any time-zone shift.
std::string TimeText(uint32_t seconds);

std::string Crc32Hex(const uint8_t* data, size_t length);

// One NDJSON line of the frames command.
std::string FrameLine(const char* kind, int type, bool key, uint32_t length, uint64_t pts, int64_t ms,
                      const uint8_t* payload);

}  // namespace velmor::cli
