#include "player/export/ExportReport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>

#include "common/UtcOffset.h"
#include "player/export/ExportNames.h"
#include "player/export/ReportSigning.h"
#include "player/export/ReportVerifier.h"

#ifndef VELMOR_VERSION
#define VELMOR_VERSION "unknown"
#endif

namespace velmor {
namespace {

namespace fs = std::filesystem;
using ordered_json = nlohmann::ordered_json;

std::string UtcText(std::time_t t)
{
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

ordered_json SpanJson(const WrittenSpan& span)
{
    if (!span.known) return nullptr;
    return {{"first_ms", span.firstMs},
            {"last_ms", span.lastMs},
            {"first_text", RecorderTimeText(uint32_t(span.firstMs / 1000))},
            {"last_text", RecorderTimeText(uint32_t(span.lastMs / 1000))}};
}

// Where a file lies, as the report names it: beside or below the report,
// relative to its folder, so that an export moved whole still verifies.
std::string ListedPath(const fs::path& file, const fs::path& folder)
{
    std::error_code ec;
    const fs::path absolute = fs::absolute(file, ec);
    const fs::path base = fs::absolute(folder, ec);
    const fs::path relative = absolute.lexically_normal().lexically_relative(base.lexically_normal());
    if (relative.empty() || *relative.begin() == "..") return absolute.generic_string();
    return relative.generic_string();
}

bool WriteWhole(const fs::path& path, const std::string& text, std::string* error)
{
    // Never over a file of the same name, even one that appeared since the
    // name was chosen.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = path.string() + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
        const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) ok = false;
        else done += size_t(w);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(path.c_str());
        if (error) *error = "Error writing file";
    }
    return ok;
}

}  // namespace

std::string FileSha256(const std::filesystem::path& file)
{
    const auto digest = FileSha256Digest(file);
    return digest ? HexOf(*digest) : std::string();
}

const char* ProgramVersion() { return VELMOR_VERSION; }

std::string TimeStatement(std::optional<int> utcOffsetMinutes)
{
    std::string s =
        "Recorder times in this report are the recorder's wall clock as recorded, without a time zone; "
        "none of them is shifted. ";
    if (!utcOffsetMinutes)
        return s + "The offset of that clock from UTC is unknown: none was declared for this case.";
    const std::string offset = UtcOffsetText(*utcOffsetMinutes);
    return s + "For this case the user declared that clock to run at UTC" + offset +
           ": a recorder time minus " + offset + " is UTC, as from_utc and to_utc state for the span.";
}

void CExportReport::AddFrames(const ExportFrameCounts& counts)
{
    m_frames.video += counts.video;
    m_frames.audio += counts.audio;
    m_frames.info += counts.info;
}

std::vector<std::filesystem::path> CExportReport::Files() const
{
    std::vector<fs::path> files;
    for (const File& f : m_files) files.push_back(f.path);
    return files;
}

std::string CExportReport::Json(const std::filesystem::path& folder, const std::function<bool()>& stop) const
{
    ordered_json j;
    j["kind"] = "velmor export report";
    j["version"] = 2;
    j["program"] = {{"name", "velmor"}, {"version", ProgramVersion()}};
    j["written_utc"] = UtcText(m_writtenAt ? *m_writtenAt : std::time(nullptr));

    ordered_json time;
    time["clock"] = "recorder wall clock, no time zone";
    time["shifted"] = false;
    time["utc_offset"] = m_utcOffset ? ordered_json(UtcOffsetText(*m_utcOffset)) : ordered_json(nullptr);
    time["statement"] = TimeStatement(m_utcOffset);
    if (m_utcOffset) {
        time["from_utc"] = UtcText(std::time_t(m_from) - std::time_t(*m_utcOffset) * 60);
        time["to_utc"] = UtcText(std::time_t(m_to) - std::time_t(*m_utcOffset) * 60);
    } else {
        time["from_utc"] = nullptr;
        time["to_utc"] = nullptr;
    }
    j["time"] = time;

    auto sources = ordered_json::array();
    for (const Source& s : m_sources) {
        std::error_code ec;
        const fs::path path = fs::absolute(s.path, ec);
        ordered_json one;
        one["path"] = path.string();
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            one["bytes"] = uint64_t(st.st_size);
            one["modified_utc"] = UtcText(st.st_mtim.tv_sec);
        } else {
            one["bytes"] = nullptr;
            one["modified_utc"] = nullptr;
        }
        if (s.hash) {
            const auto digest = FileSha256Digest(path, nullptr, stop);
            if (stop && stop()) return {};
            one["sha256"] = digest ? ordered_json(HexOf(*digest)) : ordered_json(nullptr);
        }
        sources.push_back(std::move(one));
    }
    j["sources"] = std::move(sources);

    j["from"] = m_from;
    j["from_text"] = RecorderTimeText(m_from);
    j["to"] = m_to;
    j["to_text"] = RecorderTimeText(m_to);
    j["format"] = m_format;
    j["channels"] = m_channels;
    j["frames"] = {{"video", m_frames.video}, {"audio", m_frames.audio}, {"info", m_frames.info}};
    auto files = ordered_json::array();
    for (const File& f : m_files) {
        std::error_code ec;
        const auto size = fs::file_size(f.path, ec);
        const auto digest = FileSha256Digest(f.path, nullptr, stop);
        if (stop && stop()) return {};
        files.push_back({{"path", ListedPath(f.path, folder)},
                         {"bytes", ec ? 0 : size},
                         {"sha256", digest ? HexOf(*digest) : std::string()},
                         {"span_written", SpanJson(f.span)}});
    }
    j["files"] = std::move(files);
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::filesystem::path CExportReport::Save(const CSigningKey& key, std::string* error,
                                          const std::function<bool()>& stop) const
{
    m_publicKeyFile.clear();
    if (m_files.empty()) {
        if (error) *error = "nothing was exported";
        return {};
    }
    const auto& first = m_files.front().path;
    const fs::path folder = first.parent_path();
    const auto path = FreePath(folder / (first.stem().string() + ".report.json"));
    std::string text = Json(folder, stop);
    if (text.empty()) {
        if (error) *error = "the export was stopped";
        return {};
    }

    if (!key.Loaded()) {
        if (error) *error = "no signing key";
        return {};
    }
    const fs::path publicKeyFile = FreePath(folder / (path.stem().string() + ".pub"));
    // The text written so far is valid UTF-8 (paths that were not are
    // mended), so reading it back gives the value the canonical form is made
    // of.
    ordered_json j = ordered_json::parse(text);
    j["signing"] = {{"algorithm", "Ed25519"},
                    {"public_key", HexOf(key.PublicKey())},
                    {"key_fingerprint", key.Fingerprint()},
                    {"public_key_file", publicKeyFile.filename().string()}};
    text = j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const auto canonical = CanonicalReportBytes(text, error);
    if (!canonical) return {};
    const auto signature = key.Sign(*canonical, error);
    if (!signature) return {};
    j["signature"] = HexOf(*signature);
    text = j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";

    if (!WriteWhole(path, text, error)) return {};
    if (!WriteWhole(publicKeyFile, PublicKeyPem(key.PublicKey()), error)) {
        std::error_code ec;
        fs::remove(path, ec);
        return {};
    }
    m_publicKeyFile = publicKeyFile;
    return path;
}

}  // namespace velmor
