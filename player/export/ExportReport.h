// The report written beside every export ("<name>.report.json"): what was
// exported from where, what each file holds of the span, a SHA-256 of every
// file written, what the times mean, and a signature by the profile's key,
// so that a copy handed on can be shown to be the export that was made.
//
// The report (version 2) is one JSON object, written with two spaces of
// indentation and a line end after it, its members in this order:
//
//   "kind"          "velmor export report"
//   "version"       2
//   "program"       {"name":"velmor","version":"0.1.0"}
//   "written_utc"   when the report was written, by the computer's clock:
//                   "YYYY-MM-DDThh:mm:ssZ"
//   "time"          the time statement: {"clock":"recorder wall clock, no
//                   time zone","shifted":false,"utc_offset":"+08:00"|null,
//                   "statement":TEXT,"from_utc":T|null,"to_utc":T|null};
//                   utc_offset is what the user declared for the case
//                   (setting CaseUtcOffset), null when nothing was declared;
//                   from_utc and to_utc are the asked span read with that
//                   offset, stated beside the recorder times, which stay as
//                   recorded
//   "sources"       [{"path":P,"bytes":n,"modified_utc":T,"sha256":HEX}]:
//                   every source file read; sha256 only for a source that
//                   is one recording file (not for the container files of a
//                   partition folder)
//   "from", "to"    the span asked for, recorder seconds (inclusive), with
//   "from_text", "to_text"  "YYYY-MM-DD hh:mm:ss" of the same values
//   "format"        "ifv", "mp4", "avi", "gps", "gpx" or "rkrec"
//   "channels"      the channels written, counted from 1
//   "frames"        {"video":n,"audio":n,"info":n} written in all
//   "files"         [{"path":P,"bytes":n,"sha256":HEX,"span_written":
//                   {"first_ms":n,"last_ms":n,"first_text":T,"last_text":T}
//                   |null}]: each file written; P is relative to the
//                   report's folder; span_written is the recorder time of
//                   the first and last frame or record in the file (for the
//                   combined picture, those of its channel files together)
//   "signing"       {"algorithm":"Ed25519","public_key":HEX (32 raw bytes),
//                   "key_fingerprint":HEX (SHA-256 of those 32 bytes),
//                   "public_key_file":NAME}: the key, also written beside
//                   the report as NAME (PEM, SubjectPublicKeyInfo)
//   "signature"     HEX: the Ed25519 signature (64 bytes) of the canonical
//                   bytes below
//
// The signature is a member of the report that its canonical form leaves
// out, so that the report stays one file. The canonical bytes of a report
// are its JSON value without the top-level member "signature", written as:
//   - object members sorted by key, comparing the keys' UTF-8 bytes;
//   - no white space between tokens;
//   - strings in UTF-8, escaping only '"' as \", '\' as \\, and the
//     characters U+0000..U+001F: \b \f \n \r \t, the others as \u00xx
//     (lowercase hex); every other character as its UTF-8 bytes;
//   - integers in decimal, a '-' only before negative ones; a report holds
//     no fractions, exponents or integers beyond 64 bits;
//   - true, false and null as such.
// These are the bytes of Python's
//   json.dumps(value, sort_keys=True, separators=(",", ":"),
//              ensure_ascii=False).encode("utf-8")
// A path that is not valid UTF-8 is written with U+FFFD in place of the bytes
// that are not.
//
// A report as written is also its own layout: the verifier refuses a report
// whose text differs from its value laid out as above, so that no byte of it
// (white space included) can change unnoticed.
//
// Version 1 (before signing) held "sources" as a list of paths, absolute
// file paths and neither "signing" nor "signature"; the verifier still
// checks its files and calls it unsigned.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmor {

class CSigningKey;

// Hex SHA-256 of a file's bytes; empty when it cannot be read.
std::string FileSha256(const std::filesystem::path& file);

// The program's version, as reports name it.
const char* ProgramVersion();

struct ExportFrameCounts {
    uint64_t video = 0;
    uint64_t audio = 0;
    uint64_t info = 0;
};

// The recorder time of the first and last frame or record written into one
// file, in milliseconds since 1970 on the recorder's clock.
struct WrittenSpan {
    bool known = false;
    uint64_t firstMs = 0, lastMs = 0;

    void Add(uint64_t ms)
    {
        if (!known || ms < firstMs) firstMs = ms;
        if (!known || ms > lastMs) lastMs = ms;
        known = true;
    }
    void Add(const WrittenSpan& other)
    {
        if (!other.known) return;
        Add(other.firstMs);
        Add(other.lastMs);
    }
};

// The statement a report makes about its times, given the offset from UTC
// declared for the case (minutes east; nothing: unknown).
std::string TimeStatement(std::optional<int> utcOffsetMinutes);

class CExportReport {
public:
    // `hash`: the source is one recording file, whose SHA-256 the report gives.
    void AddSource(const std::filesystem::path& path, bool hash = false) { m_sources.push_back({path, hash}); }
    void SetSpan(uint32_t from, uint32_t to)
    {
        m_from = from;
        m_to = to;
    }
    void SetFormat(std::string format) { m_format = std::move(format); }
    void AddChannel(int channel) { m_channels.push_back(channel); }
    void AddFrames(const ExportFrameCounts& counts);
    void AddFile(const std::filesystem::path& file, WrittenSpan span = {}) { m_files.push_back({file, span}); }
    void SetCaseUtcOffset(std::optional<int> minutes) { m_utcOffset = minutes; }
    // The computer's time the report says it was written at (now, unless set).
    void SetWrittenAt(std::time_t t) { m_writtenAt = t; }

    std::vector<std::filesystem::path> Files() const;

    // The report's JSON text, unsigned, as it would lie in `folder` (files
    // and sources hashed now). Empty when `stop` asked to end.
    std::string Json(const std::filesystem::path& folder, const std::function<bool()>& stop = {}) const;
    // Writes "<stem of the first file>.report.json" beside the first file,
    // under a free name, signed with `key` (its public key beside it as
    // "<report name>.pub"). The report's path, or empty with `error` set
    // (nothing left behind); `stop` is asked while files are hashed.
    std::filesystem::path Save(const CSigningKey& key, std::string* error,
                               const std::function<bool()>& stop = {}) const;
    // The public key file the last Save wrote beside the report (empty when none).
    const std::filesystem::path& PublicKeyFile() const { return m_publicKeyFile; }

private:
    struct Source {
        std::filesystem::path path;
        bool hash = false;
    };
    struct File {
        std::filesystem::path path;
        WrittenSpan span;
    };

    std::vector<Source> m_sources;
    uint32_t m_from = 0, m_to = 0;
    std::string m_format;
    std::vector<int> m_channels;
    ExportFrameCounts m_frames;
    std::vector<File> m_files;
    std::optional<int> m_utcOffset;
    std::optional<std::time_t> m_writtenAt;
    mutable std::filesystem::path m_publicKeyFile;
};

}  // namespace velmor
