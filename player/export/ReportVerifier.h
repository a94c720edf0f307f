// Checks an export against its report (format: ExportReport.h): every
// listed file's size and SHA-256, the report's own text and its signature,
// and names what differs. The same check runs for velmor-cli verify, the
// control socket's verify and the program's "verify an export".
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "player/export/ReportSigning.h"

namespace velmor {

// The canonical bytes of a report's text (ExportReport.h), which its
// signature covers; nothing, with `error` set, when the text is not a
// report's JSON (not an object, a number that is no 64-bit integer, text
// that is not UTF-8, nesting deeper than a report ever does).
std::optional<std::string> CanonicalReportBytes(std::string_view text, std::string* error = nullptr);

// A report's text read as a report, before any file is looked at.
struct ParsedReportFile {
    std::string path;  // as listed: relative to the report's folder, or absolute
    uint64_t bytes = 0;
    std::string sha256;  // lowercase hex as listed
};

struct ParsedReport {
    int version = 1;
    std::vector<ParsedReportFile> files;
    // Signed form: any of "version" 2 and up, "signing" or "signature" makes
    // a report one that must carry a valid signature.
    bool signedForm = false;
    bool hasSignature = false;
    std::optional<Ed25519PublicKey> publicKey;
    std::optional<Ed25519Signature> signature;
    std::string fingerprint;    // as the report states it
    std::string publicKeyFile;  // its name beside the report
    std::string canonical;      // the bytes the signature covers
    bool layoutIntact = false;  // the text is its value as the writer lays it out
    // What is wrong with the signed form's members, in words.
    std::vector<std::string> problems;
};

// Reads a report's text; nothing, with `error`, when it is not a report at
// all (too large, not JSON, no list of files, a file without its path, size
// or hash). Never touches the file system.
std::optional<ParsedReport> ParseReportText(std::string_view text, std::string* error = nullptr);

// A report is never larger than this; anything larger is refused unread.
inline constexpr size_t kMaxReportBytes = 16u << 20;

enum class ESignatureCheck { kValid, kInvalid, kUnsigned };
const char* SignatureCheckName(ESignatureCheck check);  // "valid", "invalid", "unsigned"

struct ReportFileCheck {
    std::string listed;           // the path as the report lists it
    std::filesystem::path path;   // where it was looked for
    bool found = false;
    bool sizeOk = false;
    bool sha256Ok = false;
    uint64_t expectedBytes = 0;
    uint64_t actualBytes = 0;
};

// One thing that differs: what it concerns (a file's path, the report's),
// and what is wrong, in words.
struct ReportFinding {
    std::string subject;
    std::string what;
};

struct ReportCheck {
    bool readable = false;  // false: the report itself could not be read as one
    std::string error;      // why not
    bool ok = false;        // every file and the signature hold (an unsigned report: every file)
    ESignatureCheck signature = ESignatureCheck::kUnsigned;
    std::string keyFingerprint;  // of the key that signed it; empty when unsigned
    std::vector<ReportFileCheck> files;
    std::vector<ReportFinding> findings;
};

// Checks the export the report at `report` lists. Files listed by a
// relative path are looked for from the report's folder; an absolute path
// that is gone is looked for beside the report too (an export moved whole).
// Only regular files are read, and only for reading. `stop` is asked while
// files are hashed; a stopped check is not ok.
ReportCheck VerifyReport(const std::filesystem::path& report, const std::function<bool()>& stop = {});

// velmor-cli verify's document: {"ok":bool,"signature":"valid"|"invalid"|
// "unsigned","key":FINGERPRINT|null,"files":[{"path":P,"size_ok":bool,
// "sha256_ok":bool}]}, one line.
std::string ReportCheckJson(const ReportCheck& check);

}  // namespace velmor
