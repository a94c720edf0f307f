#include "player/workspace/CutPlan.h"

#include <algorithm>

namespace velmor {

namespace {
constexpr EExportFormat kFormats[kCutFormatCount] = {EExportFormat::kIfv, EExportFormat::kMp4, EExportFormat::kAvi,
                                                     EExportFormat::kGps, EExportFormat::kRkrec, EExportFormat::kGpx};
}

EExportFormat CutFormatAt(int index)
{
    return index >= 0 && index < kCutFormatCount ? kFormats[index] : EExportFormat::kMp4;
}

int CutFormatIndex(EExportFormat format)
{
    for (int i = 0; i < kCutFormatCount; ++i)
        if (kFormats[i] == format) return i;
    return -1;
}

CutPlan PlanCut(const CutSource& source, const CutChoice& choice)
{
    CutPlan plan;
    if (choice.from >= choice.to) {
        plan.messageKey = "Cut_Time_Error";
        return plan;
    }
    uint16_t mask = 0;
    for (int c : choice.channels) {
        if (c < 1 || c > 16) continue;
        if (std::find(source.channels.begin(), source.channels.end(), c) == source.channels.end()) continue;
        mask |= uint16_t(1u << (c - 1));
    }
    if (mask == 0) {
        plan.messageKey = "Cut_CHN_Error";
        return plan;
    }
    if (choice.folder.empty()) {
        plan.messageKey = "Cut_Path_Error";
        return plan;
    }
    if (CutFormatIndex(choice.format) < 0) {
        plan.messageKey = "Cut_Format_Error";
        return plan;
    }
    // Only pictures can carry the text.
    if (choice.overlay && choice.format != EExportFormat::kMp4 && choice.format != EExportFormat::kAvi) {
        plan.messageKey = "Cut_Overlay_Error";
        return plan;
    }
    ExportJobRequest& r = plan.request;
    r.source = source.path;
    r.kind = source.kind;
    r.start = choice.from;
    r.end = choice.to;
    r.channelMask = mask;
    r.format = choice.format;
    r.withAudio = choice.withAudio;
    r.combine = choice.combine;
    r.overlay = choice.overlay;
    r.folder = choice.folder;
    r.type = choice.type;
    r.gpsHeader = choice.gpsHeader;
    r.convertGps = choice.convertGps;
    r.speedMph = choice.speedMph;
    r.caseUtcOffset = choice.caseUtcOffset;
    plan.ok = true;
    return plan;
}

}  // namespace velmor
