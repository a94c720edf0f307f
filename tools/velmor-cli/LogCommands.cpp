// log: the recorder's operation log, through the log store the log page uses.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cctype>
#include <filesystem>
#include <memory>
#include <system_error>

#include "common/FileReader.h"
#include "common/LanguageTable.h"
#include "common/PathUtil.h"
#include "player/search/RecorderLog.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace fs = std::filesystem;

namespace velmor::cli {
namespace {

struct LogOptions {
    std::string path;
    int mode = 0;
    std::string type;
    uint32_t from = 0;
    uint32_t to = 0;
    bool hasMode = false, hasType = false, hasFrom = false, hasTo = false;
};

// "0xNN" (or a decimal number) up to 255.
uint8_t ParseTypeFilter(const std::string& text)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    unsigned value = 0;
    bool ok = !digits.empty() && digits.size() <= 3;
    for (char c : digits) {
        if (!ok) break;
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : hex && std::isxdigit(static_cast<unsigned char>(c))
                          ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                          : -1;
        ok = d >= 0;
        value = value * (hex ? 16 : 10) + unsigned(d);
    }
    if (!ok || value > 255) throw CliError("--type", "'" + text + "' is not a type filter 0x00..0xFF");
    return uint8_t(value);
}

fs::path LogFileOf(const std::string& path)
{
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (ec || !fs::exists(status)) throw CliError(path, "no such file or folder");
    if (fs::is_regular_file(status)) return path;
    if (!fs::is_directory(status)) throw CliError(path, "not a regular file");
    const fs::path file = FindNoCase(path, "log.bin");
    if (!fs::exists(file, ec)) throw CliError(path, "the folder holds no log.bin");
    if (!fs::is_regular_file(file, ec)) throw CliError(file.string(), "not a regular file");
    return file;
}

int RunLog(const LogOptions& o)
{
    LogQuery query = DefaultLogQuery();
    if (o.hasMode) query.mode = uint8_t(o.mode);
    if (o.hasType) query.typeFilter = ParseTypeFilter(o.type);
    if (o.hasFrom) query.start = o.from;
    if (o.hasTo) query.end = o.to;

    const fs::path file = LogFileOf(o.path);
    {
        CFileReader probe;
        int error = 0;
        if (!probe.Open(file, &error))
            throw CliError(file.string(), "cannot open: " + std::error_code(error, std::generic_category()).message());
    }
    CLogStore store;
    if (store.LoadLog(file) != 0) throw CliError(file.string(), "cannot load the log");
    std::vector<LogEntry> entries;
    MakeLogEntries(store.Query(query), CLanguageTable::Load(), kRecorderLogSource, entries);

    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const LogEntry& e : entries) {
        out.push_back({{"n", e.number},
                       {"time", e.time},
                       {"time_text", TimeText(e.time)},
                       {"type", e.type},
                       {"content_key", e.contentKey},
                       {"content", e.content},
                       {"remark", e.remark}});
    }
    WriteJson(out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
    return kExitOk;
}

}  // namespace

void AddLogCommands(CLI::App& app, Runner& run)
{
    auto o = std::make_shared<LogOptions>();
    auto* log = app.add_subcommand(
        "log",
        "The recorder's operation log as the log page lists it: "
        "[{\"n\":1,\"time\":s,\"time_text\":T,\"type\":n,\"content_key\":KEY,\"content\":TEXT,\"remark\":TEXT}]");
    log->add_option("PATH", o->path, "a recorder log file (log.bin) or a folder holding one")->required();
    auto* mode = log->add_option("--mode", o->mode, "0: type and time must match (default); 1: only the type; 2: only the time")
                     ->check(CLI::Range(0, 2));
    auto* type = log->add_option("--type", o->type,
                                 "type filter 0xNN: its high 4 bits are the main type wanted, 4 takes every type "
                                 "(default 0x40)");
    auto* from = log->add_option("--from", o->from, "first second, included (default 2000-01-01 00:00:00)");
    auto* to = log->add_option("--to", o->to, "last second, included (default: now with 30 added to the year)");
    log->callback([o, mode, type, from, to, &run] {
        o->hasMode = bool(*mode);
        o->hasType = bool(*type);
        o->hasFrom = bool(*from);
        o->hasTo = bool(*to);
        run = [o] { return RunLog(*o); };
    });
}

}  // namespace velmor::cli
