// The checks of the cut dialog, without the dialog: the marked span and the
// chosen channels against the channels that hold recordings, turned into the
// export request the export job runs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "player/export/ExportJob.h"
#include "player/search/SourceKind.h"

namespace velmor {

struct CutSource {
    std::filesystem::path path;
    ESourceKind kind = ESourceKind::kUnknown;
    std::vector<int> channels;  // channels with recordings in the marked range
    uint32_t from = 0, to = 0;  // the marked range, recorder seconds
};

struct CutChoice {
    uint32_t from = 0, to = 0;
    std::vector<int> channels;  // ticked, counted from 1
    EExportFormat format = EExportFormat::kMp4;
    bool withAudio = true;
    bool combine = false;
    bool overlay = false;  // mp4, avi: a copy of each channel with its records' text burned in
    std::filesystem::path folder;
    int type = 0;
    std::string gpsHeader;    // the first line of GPS files, in the user's language
    bool convertGps = false;  // positions corrected with the grid (setting ConvertGPS)
    bool speedMph = false;    // speeds in miles an hour (setting SPEEDMPH)
    std::string caseUtcOffset;  // the offset from UTC declared for the case (setting CaseUtcOffset)
};

struct CutPlan {
    bool ok = false;
    std::string messageKey;  // language key of the refusal
    ExportJobRequest request;
};

// The dialog's format list, in order: recorder format, MP4, AVI, GPS, RKRec.
inline constexpr int kCutFormatCount = 6;
EExportFormat CutFormatAt(int index);
int CutFormatIndex(EExportFormat format);  // -1 when the list lacks it

CutPlan PlanCut(const CutSource& source, const CutChoice& choice);

}  // namespace velmor
