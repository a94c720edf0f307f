// Clip cutting: the span a user marked, cut out of one recording in its own
// format, or its position records written as GPS lines and a GPX track. A
// play window runs a cutter on its own thread; velmor-cli export drives one
// directly. The stop check is asked before every frame, and progress is
// reported in percent of the span.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "player/export/ExportReport.h"

namespace velmor {

class CFrameSource;
class CPositionGrid;

struct CutRequest {
    uint32_t start = 0;  // seconds, recorder clock
    uint32_t end = 0;
    uint16_t channelMask = 0;  // bit n-1: channel n
    bool withAudio = true;
    int format = 1;  // cut dialog format index (ECutFormat)
    std::filesystem::path folder;
    bool combine = false;
    int type = 0;  // the record type shown after "T" in file names
    // MP4 and AVI cuts: beside each clip a copy with the text of its
    // attached records burned into the pictures (OverlayPath), its positions
    // corrected through `grid` when one is given.
    bool overlay = false;
    const CPositionGrid* grid = nullptr;
    bool speedMph = false;  // the overlay's speed in miles an hour (setting SPEEDMPH)
};

struct CutResult {
    bool ok = false;
    bool stopped = false;  // ended by the stop check; what was written is kept
    std::string error;     // the message of the failure ("OpenFile:%s Fail", ...)
    std::vector<std::filesystem::path> files;
    std::vector<WrittenSpan> spans;  // what each of `files` holds of the span, in the same order
    // The overlay copies, one per clip that has one, and what each holds.
    std::vector<std::filesystem::path> overlays;
    std::vector<WrittenSpan> overlaySpans;
    std::vector<int> channels;  // the channels written, counted from 1
    ExportFrameCounts frames;
    uint64_t firstWrittenMs = 0;   // recorder clock of the first picture written (MP4 cuts)
    std::vector<int64_t> startsMs;  // per channel file: its first picture from the span's start (container cuts)
    int width = 0, height = 0;    // picture of the channel files (container cuts)
    bool h265 = false;
};

class CClipCutter {
public:
    using Progress = std::function<void(int percent)>;
    using StopCheck = std::function<bool()>;

    CClipCutter(CutRequest request, Progress progress = {}, StopCheck stop = {});

    // The request's own checks: the start must be before the end
    // ("Cut_Time_Error"), and a folder must be named.
    static std::string CheckRequest(const CutRequest& request);

    // IFV to IFV: the frames of the span from the key frame at or before its
    // start, with their times, key flags and sizes.
    CutResult CutIfvRecordFile(const std::filesystem::path& source);
    // The position records of an IFV file's span as GPS lines (".gps", split
    // at 100 MB, with `lines`) and as a GPX track (with `gpx`).
    CutResult SaveIfvFileGpsInfo(const std::filesystem::path& source, int channel, bool lines, bool gpx,
                                 const std::string& header, const CPositionGrid* grid = nullptr);
    // The same from any recording that carries attached records, read
    // through `in` (a container partition's span, a backup record file, a
    // grec file), its files named `base`.
    CutResult SaveGpsInfo(CFrameSource& in, const std::string& base, int channel, bool lines, bool gpx,
                          const std::string& header, const CPositionGrid* grid = nullptr);
    // A container partition's span: the track of the first channel of the
    // request that carries attached records (every channel records the same
    // vehicle's positions).
    CutResult SaveContainerGpsInfo(const std::vector<std::filesystem::path>& sources, bool lines, bool gpx,
                                   const std::string& header, const CPositionGrid* grid = nullptr);
    // RKRec (backup record file) to RKRec: the frames from the last I frame
    // at or before the span's start through the last one of its end second,
    // laid down in blocks of their own whose heads describe just them, so
    // that the result is itself a valid backup record file. A source that
    // cannot be read through the span fails the cut and leaves no file.
    CutResult CutRKRecRecordFile(const std::filesystem::path& source, int channel);

    // IFV to MP4 (or ".avi" with the same writer): the span's video from its
    // first key frame, and with audio the voice as AAC.
    CutResult CutIfvRecordToMp4(const std::filesystem::path& source, int channel);
    // A grec file to MP4 (or ".avi"), read through the grec reader plugin:
    // the span's video from its first key frame, with audio the sound as AAC;
    // the file is named as every source without a name form of its own.
    CutResult CutGrecFileToMp4(const std::filesystem::path& source, int channel);
    // Container files to MP4, one file per channel of the request's mask
    // (1-based channel n is bit n-1): `sources` are the channel's container
    // files in time order (a single file, or those of a partition folder).
    // With `combine`, the channel files are then tiled into one video.
    CutResult CutContainerToMp4(const std::vector<std::filesystem::path>& sources);

    // The channel files of a container cut tiled into one video beside them,
    // each from `startsMs[i]` (its first picture, from the span's start) on
    // the span's clock.
    CutResult Combine(const std::vector<std::filesystem::path>& files, const std::vector<int64_t>& startsMs, int width,
                      int height, bool h265);

    const CutRequest& Request() const { return m_request; }

private:
    CutResult WriteMp4(CFrameSource& source, const std::filesystem::path& outPath, CutResult& result);
    // The first channel of the request's mask (1 when none is set).
    int RequestChannel() const;
    // The base name of an export from the IFV recording `source`; nothing
    // when its name has neither the recorder's nor the client download's form.
    std::optional<std::string> IfvBaseName(const std::filesystem::path& source, int channel) const;
    bool StopRequested() const { return m_stop && m_stop(); }
    void Report(uint32_t now);
    void Done();

    CutRequest m_request;
    Progress m_progress;
    StopCheck m_stop;
    int m_lastPercent = -1;
};

}  // namespace velmor
