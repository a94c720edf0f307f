#include "player/export/ReportVerifier.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>

namespace velmor {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;

// A report nests four levels deep; the parser and the writer recurse, so a
// hostile text is refused long before its depth could matter.
constexpr int kMaxDepth = 32;

bool NestsTooDeeply(std::string_view text)
{
    int depth = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') inString = true;
        else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

// Every number is an integer that fits 64 bits: the canonical form has no
// way to write anything else the same everywhere.
bool OnlyIntegers(const json& v)
{
    if (v.is_number_float()) return false;
    if (v.is_structured())
        for (const auto& item : v)
            if (!OnlyIntegers(item)) return false;
    return true;
}

void SetError(std::string* error, std::string text)
{
    if (error) *error = std::move(text);
}

std::optional<json> ParseJson(std::string_view text, std::string* error)
{
    if (text.size() > kMaxReportBytes) {
        SetError(error, "larger than any report");
        return std::nullopt;
    }
    if (NestsTooDeeply(text)) {
        SetError(error, "not a report: nested deeper than a report ever is");
        return std::nullopt;
    }
    json value;
    try {
        value = json::parse(text.begin(), text.end());
    } catch (const json::parse_error& e) {
        SetError(error, "not JSON (at byte " + std::to_string(e.byte) + ")");
        return std::nullopt;
    } catch (const json::exception&) {
        // A number too large for any type ends the parse with an exception of its own.
        SetError(error, "not a report: holds a number that is not an integer");
        return std::nullopt;
    }
    if (!value.is_object()) {
        SetError(error, "not a report: not a JSON object");
        return std::nullopt;
    }
    if (!OnlyIntegers(value)) {
        SetError(error, "not a report: holds a number that is not an integer");
        return std::nullopt;
    }
    return value;
}

std::string Lowercase(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

void ReadSigning(const json& root, ParsedReport& r)
{
    if (const auto it = root.find("version"); it != root.end()) {
        if (!it->is_number_unsigned() || it->get<uint64_t>() < 1 || it->get<uint64_t>() > 1000) {
            r.problems.push_back("the report's version is not a version number");
            r.signedForm = true;
        } else {
            r.version = int(it->get<uint64_t>());
            if (r.version >= 2) r.signedForm = true;
        }
    }
    if (const auto it = root.find("signing"); it != root.end()) {
        r.signedForm = true;
        const json& s = *it;
        if (!s.is_object()) {
            r.problems.push_back("its signing member is not an object");
        } else {
            const auto algorithm = s.find("algorithm");
            if (algorithm == s.end() || *algorithm != "Ed25519")
                r.problems.push_back("it names no signature algorithm this program checks");
            const auto key = s.find("public_key");
            Ed25519PublicKey raw{};
            if (key != s.end() && key->is_string() && ParseHex(key->get<std::string>(), raw.data(), raw.size()))
                r.publicKey = raw;
            else
                r.problems.push_back("its public key is not 32 bytes of hex");
            const auto fingerprint = s.find("key_fingerprint");
            if (fingerprint != s.end() && fingerprint->is_string())
                r.fingerprint = fingerprint->get<std::string>();
            else
                r.problems.push_back("it states no key fingerprint");
            const auto file = s.find("public_key_file");
            if (file != s.end() && file->is_string()) r.publicKeyFile = file->get<std::string>();
        }
    }
    if (const auto it = root.find("signature"); it != root.end()) {
        r.signedForm = true;
        r.hasSignature = true;
        Ed25519Signature raw{};
        if (it->is_string() && ParseHex(it->get<std::string>(), raw.data(), raw.size()))
            r.signature = raw;
        else
            r.problems.push_back("the signature is not 64 bytes of hex");
    }
}

}  // namespace

std::optional<std::string> CanonicalReportBytes(std::string_view text, std::string* error)
{
    auto value = ParseJson(text, error);
    if (!value) return std::nullopt;
    value->erase("signature");
    return value->dump();
}

std::optional<ParsedReport> ParseReportText(std::string_view text, std::string* error)
{
    auto root = ParseJson(text, error);
    if (!root) return std::nullopt;
    const auto files = root->find("files");
    if (files == root->end() || !files->is_array()) {
        SetError(error, "not a report: it lists no files");
        return std::nullopt;
    }
    ParsedReport r;
    for (const json& f : *files) {
        const auto path = f.is_object() ? f.find("path") : f.end();
        const auto bytes = f.is_object() ? f.find("bytes") : f.end();
        const auto sha = f.is_object() ? f.find("sha256") : f.end();
        // A path with a NUL in it would name another file than it shows.
        if (!f.is_object() || path == f.end() || !path->is_string() || path->get<std::string>().empty() ||
            path->get<std::string>().find('\0') != std::string::npos ||
            bytes == f.end() || !bytes->is_number_unsigned() || sha == f.end() || !sha->is_string()) {
            SetError(error, "not a report: file " + std::to_string(r.files.size() + 1) +
                                " lacks its path, size or SHA-256");
            return std::nullopt;
        }
        r.files.push_back({path->get<std::string>(), bytes->get<uint64_t>(), sha->get<std::string>()});
    }
    ReadSigning(*root, r);
    root->erase("signature");
    r.canonical = root->dump();
    // The layout check reads the text a second time, keeping its member order.
    try {
        r.layoutIntact = ordered_json::parse(text.begin(), text.end()).dump(2) + "\n" == text;
    } catch (const nlohmann::json::exception&) {
        r.layoutIntact = false;
    }
    return r;
}

const char* SignatureCheckName(ESignatureCheck check)
{
    switch (check) {
        case ESignatureCheck::kValid: return "valid";
        case ESignatureCheck::kInvalid: return "invalid";
        case ESignatureCheck::kUnsigned: return "unsigned";
    }
    return "invalid";
}

ReportCheck VerifyReport(const std::filesystem::path& report, const std::function<bool()>& stop)
{
    ReportCheck check;
    std::string text, error;
    if (!ReadBoundedFile(report, kMaxReportBytes, text, &error, "larger than any report")) {
        check.error = error;
        return check;
    }
    const auto parsed = ParseReportText(text, &error);
    if (!parsed) {
        check.error = error;
        return check;
    }
    check.readable = true;
    const fs::path folder = report.parent_path();
    const std::string reportName = report.string();
    bool stopped = false;

    for (const ParsedReportFile& listed : parsed->files) {
        ReportFileCheck f;
        f.listed = listed.path;
        f.expectedBytes = listed.bytes;
        const fs::path p(listed.path);
        f.path = p.is_absolute() ? p : folder / p;
        std::error_code ec;
        if (p.is_absolute() && !fs::exists(fs::symlink_status(f.path, ec)) && fs::exists(folder / p.filename(), ec))
            f.path = folder / p.filename();
        const auto status = fs::status(f.path, ec);
        std::string why;
        std::optional<Sha256Digest> digest;
        if (!fs::exists(status)) {
            check.findings.push_back({f.path.string(), "missing"});
        } else if (!fs::is_regular_file(status)) {
            check.findings.push_back({f.path.string(), "not a regular file"});
        } else {
            f.found = true;
            f.actualBytes = fs::file_size(f.path, ec);
            f.sizeOk = !ec && f.actualBytes == listed.bytes;
            // A file of another size cannot hold the listed bytes: its hash is not worth reading.
            if (f.sizeOk && !stopped) digest = FileSha256Digest(f.path, &why, stop);
            if (stop && stop()) stopped = true;
            f.sha256Ok = digest && HexOf(*digest) == Lowercase(listed.sha256);
            if (!f.sizeOk)
                check.findings.push_back({f.path.string(), "size differs: the report says " +
                                                               std::to_string(listed.bytes) + " bytes, the file has " +
                                                               std::to_string(f.actualBytes)});
            else if (stopped)
                check.findings.push_back({f.path.string(), "not checked: the check was stopped"});
            else if (!digest)
                check.findings.push_back({f.path.string(), "cannot be read: " + why});
            else if (!f.sha256Ok)
                check.findings.push_back({f.path.string(), "SHA-256 differs from the report's"});
        }
        check.files.push_back(std::move(f));
    }

    bool keyFileOk = true;
    if (!parsed->signedForm) {
        check.signature = ESignatureCheck::kUnsigned;
    } else {
        check.signature = ESignatureCheck::kInvalid;
        check.keyFingerprint = Lowercase(parsed->fingerprint);
        for (const std::string& problem : parsed->problems) check.findings.push_back({reportName, "signature: " + problem});
        if (!parsed->hasSignature) check.findings.push_back({reportName, "signature: missing"});
        if (parsed->problems.empty() && parsed->hasSignature && parsed->publicKey && parsed->signature) {
            const std::string fingerprint = KeyFingerprint(*parsed->publicKey);
            if (fingerprint != Lowercase(parsed->fingerprint)) {
                check.findings.push_back({reportName, "signature: the key fingerprint is not that of its public key"});
            } else if (!VerifyEd25519(*parsed->publicKey, parsed->canonical, *parsed->signature)) {
                check.findings.push_back(
                    {reportName, "signature: does not match the report: the report or its signature was changed"});
            } else if (!parsed->layoutIntact) {
                check.findings.push_back(
                    {reportName, "the report was changed: its text is not laid out as it was signed"});
            } else {
                check.signature = ESignatureCheck::kValid;
                check.keyFingerprint = fingerprint;
            }
            // The copy of the key beside the report must be the key the report names.
            if (!parsed->publicKeyFile.empty()) {
                const fs::path keyFile = folder / fs::path(parsed->publicKeyFile).filename();
                std::error_code ec;
                std::string pem, why;
                if (fs::exists(fs::symlink_status(keyFile, ec))) {
                    const auto beside = ReadBoundedFile(keyFile, 64 * 1024, pem, &why, "not a key file")
                                            ? ParsePublicKeyPem(pem)
                                                                                   : std::nullopt;
                    if (!beside || *beside != *parsed->publicKey) {
                        keyFileOk = false;
                        check.findings.push_back({keyFile.string(), "holds another key than the report names"});
                    }
                }
            }
        }
    }

    bool filesOk = !stopped;
    for (const ReportFileCheck& f : check.files) filesOk = filesOk && f.sizeOk && f.sha256Ok;
    check.ok = filesOk && keyFileOk && check.signature != ESignatureCheck::kInvalid;
    return check;
}

std::string ReportCheckJson(const ReportCheck& check)
{
    ordered_json j;
    j["ok"] = check.ok;
    j["signature"] = SignatureCheckName(check.signature);
    j["key"] = check.keyFingerprint.empty() ? ordered_json(nullptr) : ordered_json(check.keyFingerprint);
    auto files = ordered_json::array();
    for (const ReportFileCheck& f : check.files)
        files.push_back({{"path", f.path.string()}, {"size_ok", f.sizeOk}, {"sha256_ok", f.sha256Ok}});
    j["files"] = std::move(files);
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace velmor
