#include "player/export/ExportJob.h"

#include <algorithm>
#include <bit>
#include <cstdio>

#include "common/AppFolders.h"
#include "common/PathUtil.h"
#include "common/UtcOffset.h"
#include "container/include/rkcontainer.h"
#include "player/export/ClipCutter.h"
#include "player/export/ExportNames.h"
#include "player/export/PositionGrid.h"
#include "player/export/ReportSigning.h"
#include "player/formats/IfvFile.h"
#include "player/playback/FrameSource.h"
#include "store/include/rkstore.h"

namespace velmor {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFormatNames[] = {"ifv", "mp4", "avi", "gps", "gpx", "rkrec"};

int CutFormatOf(EExportFormat format)
{
    switch (format) {
        case EExportFormat::kIfv: return int(ECutFormat::kIfv);
        case EExportFormat::kMp4: return int(ECutFormat::kMp4);
        case EExportFormat::kAvi: return int(ECutFormat::kAvi);
        case EExportFormat::kGps:
        case EExportFormat::kGpx: return int(ECutFormat::kGps);
        case EExportFormat::kRkrec: return int(ECutFormat::kRkrec);
    }
    return int(ECutFormat::kMp4);
}

int FirstChannel(uint16_t mask)
{
    for (int n = 1; n <= 16; ++n)
        if (mask & (1u << (n - 1))) return n;
    return 0;
}

// The container files that hold the span, in time order, and the channels
// recorded in it: the file itself, or those of a partition folder as its
// search lists them.
std::vector<fs::path> ContainerFilesOfSpan(const ExportJobRequest& request, uint16_t mask, uint16_t& found)
{
    found = mask;
    if (request.kind == ESourceKind::kContainerFile) return {request.source};
    std::vector<RKCONTAINER_SEARCH_ENTRY> entries(20000);
    const std::string source = request.source.string();
    const char* paths[] = {source.c_str()};
    RKCONTAINER_FILTER filter{mask};
    const int n = RKCONTAINER_SearchFileList(paths, 1, &filter, entries.data(), int(entries.size()));
    std::vector<std::pair<uint32_t, uint32_t>> spans;  // begin time, file number
    found = 0;
    for (int i = 0; i < n; ++i) {
        const auto& e = entries[size_t(i)];
        if (e.endTime >= request.start && e.beginTime <= request.end) {
            // By value: the entry is packed, its fields unaligned.
            spans.emplace_back(uint32_t(e.beginTime), uint32_t(e.fileNo));
            if (e.channel < 16) found = uint16_t(found | (1u << e.channel));
        }
    }
    std::stable_sort(spans.begin(), spans.end());
    std::vector<fs::path> files;
    for (const auto& [begin, fileNo] : spans) {
        char name[32];
        std::snprintf(name, sizeof name, "fc%05u.rpo", fileNo);
        const fs::path path = FindNoCase(request.source, name);
        if (std::find(files.begin(), files.end(), path) == files.end()) files.push_back(path);
    }
    return files;
}

// The channel a backup record file was recorded on, as its first block says.
int BackupRecordChannel(const fs::path& path)
{
    StRecBakFileOp_t op{};
    if (RKSFS_OpenBakRecFile(&op, path.c_str()) != 0) return 1;
    const int channel = op.recFI.channel + 1;
    RKSFS_CloseBakRecFile(&op);
    return channel >= 1 && channel <= 16 ? channel : 1;
}

// The channel an IFV file was recorded on, from its event channel.
int IfvChannel(const fs::path& path)
{
    FILEHANDLE* h = RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_READ);
    const int eventChannel = h ? RK_FileGetEventChannel(h) : -1;
    if (h) RK_CloseFile2(h);
    return eventChannel >= 0 && eventChannel < 16 ? eventChannel + 1 : 1;
}

// Why a cut failed, in words.
std::string Explain(const std::string& error)
{
    if (error == "Cut_Time_Error") return "the start must be earlier than the end";
    if (error == "Cut_CHN_Error") return "no recording in the span";
    if (error == kIfvNameError)
        return "the file name does not split at '_' into the recorder's five parts "
               "(channel_HHMMSS_HHMMSS_alarm_HHMMSS), so the export cannot be named";
    return error;
}

void RemoveAll(const std::vector<fs::path>& files)
{
    for (const auto& f : files) {
        std::error_code ec;
        fs::remove(f, ec);
    }
}

ExportJobResult Failed(EExportFailure failure, std::string error)
{
    ExportJobResult r;
    r.failure = failure;
    r.error = std::move(error);
    return r;
}

}  // namespace

bool ParseExportFormat(const std::string& text, EExportFormat& format)
{
    for (int i = 0; i < 6; ++i)
        if (text == kFormatNames[i]) {
            format = EExportFormat(i);
            return true;
        }
    return false;
}

const char* ExportFormatName(EExportFormat format) { return kFormatNames[int(format)]; }

CExportJob::CExportJob(ExportJobRequest request, Progress progress)
    : m_request(std::move(request)), m_progress(std::move(progress))
{
}

void CExportJob::Report(EExportStep step, int percent)
{
    if (percent <= m_last) return;
    m_last = percent;
    if (m_progress) m_progress(step, percent);
}

ExportJobResult CExportJob::Stop(ExportJobResult& result)
{
    RemoveAll(result.files);
    return Failed(EExportFailure::kStopped, "the export was stopped");
}

ExportJobResult CExportJob::Run()
{
    const ExportJobRequest& rq = m_request;
    if (rq.start >= rq.end) return Failed(EExportFailure::kTimeOrder, "the start must be earlier than the end");
    const std::string formatName = ExportFormatName(rq.format);
    const bool container = rq.kind == ESourceKind::kContainerFile || rq.kind == ESourceKind::kContainerFolder;
    const bool video = rq.format == EExportFormat::kMp4 || rq.format == EExportFormat::kAvi;
    // Every recording with attached records gives its track.
    const bool track = rq.format == EExportFormat::kGps || rq.format == EExportFormat::kGpx;
    switch (rq.kind) {
        case ESourceKind::kIfvFile:
            if (rq.format == EExportFormat::kRkrec)
                return Failed(EExportFailure::kFormatNotForSource, formatName + " cannot be cut from an IFV file");
            break;
        case ESourceKind::kContainerFile:
        case ESourceKind::kContainerFolder:
            if (!video && !track)
                return Failed(EExportFailure::kFormatNotForSource, formatName + " cannot be cut from container files");
            break;
        case ESourceKind::kGrecFile:
            if (!video && !track)
                return Failed(EExportFailure::kFormatNotForSource, formatName + " cannot be cut from a grec file");
            break;
        case ESourceKind::kBackupRecordFile:
            if (rq.format != EExportFormat::kRkrec && !track)
                return Failed(EExportFailure::kFormatNotForSource,
                              formatName + " cannot be cut from a backup record file yet");
            break;
        default:
            return Failed(EExportFailure::kSourceKind,
                          std::string("a ") + SourceKindName(rq.kind) + " cannot be exported yet");
    }

    if (rq.overlay && !video)
        return Failed(EExportFailure::kOverlayFormat,
                      "the copy with burned-in text is made of mp4 and avi exports only, not " + formatName);

    // What the report needs is settled before anything is cut: an export
    // whose report cannot be signed or whose time statement would be wrong
    // is refused whole.
    std::optional<int> utcOffset;
    if (!rq.caseUtcOffset.empty() && !(utcOffset = ParseUtcOffset(rq.caseUtcOffset)))
        return Failed(EExportFailure::kCaseUtcOffset, "the offset from UTC declared for the case (CaseUtcOffset), '" +
                                                          rq.caseUtcOffset + "', is not one such as +08:00");
    const fs::path keyFile = rq.signingKey.empty() ? ResolveOwnAppFolders().SigningKeyFile() : rq.signingKey;
    CSigningKey key;
    if (std::string why; !key.LoadOrCreate(keyFile, &why))
        return Failed(EExportFailure::kSigningKey,
                      "the profile's signing key " + keyFile.string() + " cannot be used: " + why);

    CutRequest cut;
    cut.start = rq.start;
    cut.end = rq.end;
    cut.channelMask = rq.channelMask;
    cut.withAudio = rq.withAudio;
    cut.format = CutFormatOf(rq.format);
    cut.folder = rq.folder;
    cut.combine = false;  // a step of its own here
    cut.type = rq.type;
    cut.overlay = rq.overlay;
    cut.grid = rq.convertGps ? &CPositionGrid::Shared() : nullptr;
    cut.speedMph = rq.speedMph;

    std::vector<fs::path> spanFiles;
    int channels = 1;
    if (container) {
        uint16_t found = 0;
        if (!cut.channelMask) cut.channelMask = 0xFFFF;
        spanFiles = ContainerFilesOfSpan(rq, cut.channelMask, found);
        channels = std::max(1, std::popcount(unsigned(cut.channelMask & found)));
    }
    // The cutter counts each channel from 0 to 99 in turn; the job spreads
    // them over the cut step, which leaves the last tenth to the combine and
    // room for the report's own step.
    const bool combine = rq.combine && container;
    int raw = -1, round = 0;
    auto progress = [&](int percent) {
        if (percent >= 100) return;  // the job's own end comes after the report
        if (percent < raw) ++round;
        raw = percent;
        const int whole = (std::min(round, channels - 1) * 100 + percent) / channels;
        Report(EExportStep::kCut, combine ? whole * 9 / 10 : whole * 97 / 100);
    };
    Report(EExportStep::kCut, 0);
    CClipCutter cutter(cut, progress, [this] { return Cancelled(); });

    CutResult r;
    int channel = FirstChannel(rq.channelMask);
    if (rq.kind == ESourceKind::kIfvFile) {
        if (!channel) channel = IfvChannel(rq.source);
        if (rq.format == EExportFormat::kIfv)
            r = cutter.CutIfvRecordFile(rq.source);
        else if (rq.format == EExportFormat::kGps || rq.format == EExportFormat::kGpx)
            r = cutter.SaveIfvFileGpsInfo(rq.source, channel, rq.format == EExportFormat::kGps,
                                          rq.format == EExportFormat::kGpx, rq.gpsHeader,
                                          rq.convertGps ? &CPositionGrid::Shared() : nullptr);
        else
            r = cutter.CutIfvRecordToMp4(rq.source, channel);
    } else if (track) {
        const CPositionGrid* grid = rq.convertGps ? &CPositionGrid::Shared() : nullptr;
        const bool lines = rq.format == EExportFormat::kGps, gpx = rq.format == EExportFormat::kGpx;
        if (container) {
            r = cutter.SaveContainerGpsInfo(spanFiles, lines, gpx, rq.gpsHeader, grid);
        } else {
            std::unique_ptr<CFrameSource> in;
            if (rq.kind == ESourceKind::kGrecFile) {
                if (!channel) channel = 1;
                in = CFrameSource::OpenGrecFile(rq.source, channel);
            } else {
                if (!channel) channel = BackupRecordChannel(rq.source);
                in = CFrameSource::OpenBackupRecord(rq.source, channel);
            }
            r = cutter.SaveGpsInfo(*in, ClipBaseName(channel, rq.start, rq.end, rq.type), channel, lines, gpx,
                                   rq.gpsHeader, grid);
        }
    } else if (rq.kind == ESourceKind::kGrecFile) {
        r = cutter.CutGrecFileToMp4(rq.source, channel ? channel : 1);
    } else if (container) {
        r = cutter.CutContainerToMp4(spanFiles);
    } else {
        if (!channel) channel = BackupRecordChannel(rq.source);
        r = cutter.CutRKRecRecordFile(rq.source, channel);
    }

    ExportJobResult result;
    result.files = r.files;
    std::vector<WrittenSpan> spans = r.spans;
    // The copies with text follow the clips they were made beside.
    spans.resize(r.files.size());
    result.files.insert(result.files.end(), r.overlays.begin(), r.overlays.end());
    spans.insert(spans.end(), r.overlaySpans.begin(), r.overlaySpans.end());
    // A stopped cut may have closed what it wrote as if it were whole.
    if (r.stopped || Cancelled()) return Stop(result);
    if (!r.ok) {
        RemoveAll(result.files);
        return Failed(EExportFailure::kCut, Explain(r.error));
    }
    result.frames = r.frames;
    if (container)
        result.channels = r.channels;
    else
        result.channels = {channel ? channel : 1};

    if (combine && r.files.size() > 1) {
        Report(EExportStep::kCombine, 90);
        CutResult mosaic = cutter.Combine(r.files, r.startsMs, r.width, r.height, r.h265);
        spans.resize(result.files.size());
        result.files.insert(result.files.end(), mosaic.files.begin(), mosaic.files.end());
        // The mosaic holds what its channel files hold.
        WrittenSpan all;
        for (const WrittenSpan& one : r.spans) all.Add(one);
        spans.insert(spans.end(), mosaic.files.size(), all);
        if (Cancelled()) return Stop(result);
        if (!mosaic.ok) {
            RemoveAll(result.files);
            return Failed(EExportFailure::kCut, Explain(mosaic.error));
        }
        Report(EExportStep::kCombine, 97);
    }

    Report(EExportStep::kReport, 98);
    CExportReport report;
    if (container && rq.kind == ESourceKind::kContainerFolder) {
        // A partition's container files also hold what was not exported:
        // they are named with their size and time, not hashed.
        for (const auto& f : spanFiles) report.AddSource(f);
    } else {
        report.AddSource(rq.source, true);
    }
    report.SetSpan(rq.start, rq.end);
    report.SetFormat(formatName);
    report.SetCaseUtcOffset(utcOffset);
    for (int n : result.channels) report.AddChannel(n);
    report.AddFrames(result.frames);
    spans.resize(result.files.size());
    for (size_t i = 0; i < result.files.size(); ++i) report.AddFile(result.files[i], spans[i]);
    std::string error;
    result.report = report.Save(key, &error, [this] { return Cancelled(); });
    if (Cancelled()) {
        if (!result.report.empty()) result.files.push_back(result.report);
        if (!report.PublicKeyFile().empty()) result.files.push_back(report.PublicKeyFile());
        return Stop(result);
    }
    if (result.report.empty()) {
        result.failure = EExportFailure::kReport;
        result.error = "the export report could not be written: " + error;
        return result;
    }
    result.publicKey = report.PublicKeyFile();
    result.keyFingerprint = key.Fingerprint();
    Report(EExportStep::kDone, 100);
    result.ok = true;
    return result;
}

}  // namespace velmor
