// One export as the cut dialog, the driving-record page and velmor-cli run
// it: the cut in the chosen format, the optional combined picture of the
// channels, and the export report, with progress over all steps and a cancel
// that leaves nothing behind that could pass for a finished export.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "player/export/ExportReport.h"
#include "player/search/SourceKind.h"

namespace velmor {

enum class EExportFormat { kIfv, kMp4, kAvi, kGps, kGpx, kRkrec };

// "ifv", "mp4", "avi", "gps", "gpx", "rkrec"; false for any other text.
bool ParseExportFormat(const std::string& text, EExportFormat& format);
const char* ExportFormatName(EExportFormat format);

enum class EExportStep { kCut, kCombine, kReport, kDone };

enum class EExportFailure {
    kNone,
    kTimeOrder,           // the start is not before the end
    kFormatNotForSource,  // the format cannot be made from this kind of source
    kSourceKind,          // this kind of source cannot be exported
    kCut,                 // the cut failed (no recording in the span, unreadable, unwritable)
    kStopped,             // cancelled; every output made so far was removed
    kReport,              // the export report could not be written
    kSigningKey,          // the profile's signing key cannot be read or made; nothing was cut
    kCaseUtcOffset,       // the declared offset from UTC is not one; nothing was cut
    kOverlayFormat,       // a copy with text was asked for a format other than mp4 and avi
};

struct ExportJobRequest {
    std::filesystem::path source;
    ESourceKind kind = ESourceKind::kUnknown;  // as ClassifySource tells
    uint32_t start = 0, end = 0;               // seconds, recorder clock
    uint16_t channelMask = 0;                  // bit n-1: channel n; 0: the source's own
    EExportFormat format = EExportFormat::kMp4;
    bool withAudio = false;
    bool combine = false;
    // MP4 and AVI: beside each channel's clip a copy with the recorder time,
    // speed, position and event names of each second burned into the
    // pictures as the windows' on-screen text ("<clip>_overlay.mp4"); the
    // clean clip is written all the same and both are in the report.
    bool overlay = false;
    std::filesystem::path folder;  // a day folder is made inside it
    std::string gpsHeader;         // first line of GPS files, in the user's language
    int type = 0;                  // the record type shown after "T" in file names
    // GPS lines and GPX tracks with positions corrected through the program's
    // grid (CPositionGrid::Shared), as the setting ConvertGPS asks.
    bool convertGps = false;
    // The overlay's speed in miles an hour, as the setting SPEEDMPH asks.
    bool speedMph = false;
    // The key that signs the report: the profile's (CAppFolders::SigningKeyFile),
    // made at the first export. Empty: the profile of the running program, by
    // the rules velmor-cli and the program share.
    std::filesystem::path signingKey;
    // The offset from UTC the user declared for the case (setting
    // CaseUtcOffset), as stored; empty: unknown. The report states it; no
    // time is shifted by it.
    std::string caseUtcOffset;
};

struct ExportJobResult {
    bool ok = false;
    EExportFailure failure = EExportFailure::kNone;
    std::string error;  // in words
    std::vector<std::filesystem::path> files;
    std::filesystem::path report;
    std::filesystem::path publicKey;  // the signing key's public half, beside the report
    std::string keyFingerprint;       // of the key that signed the report
    std::vector<int> channels;  // counted from 1
    ExportFrameCounts frames;
};

class CExportJob {
public:
    // `percent` is of the whole job: it never goes down, and 100 comes once,
    // with kDone, after the report is written.
    using Progress = std::function<void(EExportStep step, int percent)>;

    explicit CExportJob(ExportJobRequest request, Progress progress = {});
    CExportJob(const CExportJob&) = delete;
    CExportJob& operator=(const CExportJob&) = delete;

    // From any thread; the job stops at its next frame or step.
    void Cancel() { m_cancel.store(true); }
    ExportJobResult Run();

private:
    void Report(EExportStep step, int percent);
    bool Cancelled() const { return m_cancel.load(); }
    ExportJobResult Stop(ExportJobResult& result);

    ExportJobRequest m_request;
    Progress m_progress;
    std::atomic<bool> m_cancel{false};
    int m_last = -1;
};

}  // namespace velmor
