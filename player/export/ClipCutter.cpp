#include "player/export/ClipCutter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>

#include "common/FileReader.h"
#include "common/PathUtil.h"
#include "media/include/rkmedia.h"
#include "player/export/BackupBlockWriter.h"
#include "player/export/ExportNames.h"
#include "player/export/GpsExport.h"
#include "player/export/GpxWriter.h"
#include "player/export/OverlayText.h"
#include "player/formats/AttachInfo.h"
#include "player/formats/IfvFile.h"
#include "player/playback/FrameSource.h"
#include "player/playback/StreamRules.h"
#include "store/format/RkFormat.h"
#include "store/include/rkstore.h"

namespace velmor {
namespace {

using IfvHandle = IfvFilePtr;

CutResult Failure(std::string message)
{
    CutResult r;
    r.error = std::move(message);
    return r;
}

void RemoveQuietly(const std::filesystem::path& p)
{
    std::error_code ec;
    std::filesystem::remove(p, ec);
}

// A source that cannot be read (or not at the span) fails the cut with the
// dialog's message for it.
CutResult SourceFailure(const CFrameSource& source, const std::filesystem::path& path)
{
    if (source.OpenResult() != EFrameResult::kOk) return Failure("OpenFile:" + path.string() + " Fail");
    return Failure("Cut_CHN_Error");
}

}  // namespace

CClipCutter::CClipCutter(CutRequest request, Progress progress, StopCheck stop)
    : m_request(std::move(request)), m_progress(std::move(progress)), m_stop(std::move(stop))
{
}

std::string CClipCutter::CheckRequest(const CutRequest& request)
{
    if (request.start >= request.end) return "Cut_Time_Error";
    if (request.folder.empty()) return "CutFile: Fail";
    return {};
}

void CClipCutter::Report(uint32_t now)
{
    if (!m_progress) return;
    const uint32_t span = m_request.end - m_request.start;
    int percent = 0;
    if (now > m_request.start && span) percent = int(std::min<uint64_t>(99, uint64_t(now - m_request.start) * 100 / span));
    if (percent == m_lastPercent) return;
    m_lastPercent = percent;
    m_progress(percent);
}

int CClipCutter::RequestChannel() const
{
    for (int n = 1; n <= 16; ++n)
        if (m_request.channelMask & (1u << (n - 1))) return n;
    return 1;
}

std::optional<std::string> CClipCutter::IfvBaseName(const std::filesystem::path& source, int channel) const
{
    return IfvExportBaseName(source.stem().string(), channel, m_request.start, m_request.end, m_request.type);
}

void CClipCutter::Done()
{
    if (m_progress) m_progress(100);
}

namespace {

// Frames held with their bytes (a frame's data belongs to the reader only
// until its next read). As the lead of a cut: the pictures from the last key
// frame read so far.
class CFrameHold {
public:
    void AddPicture(const SourceFrame& f)
    {
        if (f.key) Clear();
        // Without a key frame to start from, pictures are of no use.
        if (m_frames.empty() && !f.key) return;
        Add(f);
    }
    void Add(const SourceFrame& f)
    {
        // A group larger than any recorder writes is dropped rather than held.
        if (m_bytes + f.length > kMaxBytes) {
            Clear();
            return;
        }
        m_data.emplace_back(f.data, f.data + f.length);
        SourceFrame copy = f;
        copy.data = m_data.back().data();
        m_frames.push_back(copy);
        m_bytes += f.length;
    }
    void Clear()
    {
        m_frames.clear();
        m_data.clear();
        m_bytes = 0;
    }
    const std::vector<SourceFrame>& Frames() const { return m_frames; }

private:
    static constexpr size_t kMaxBytes = 256u << 20;
    std::vector<SourceFrame> m_frames;
    std::deque<std::vector<uint8_t>> m_data;
    size_t m_bytes = 0;
};

}  // namespace

CutResult CClipCutter::CutIfvRecordFile(const std::filesystem::path& source)
{
    if (auto bad = CheckRequest(m_request); !bad.empty()) return Failure(bad);
    auto in = CFrameSource::OpenIfvFile(source, 0);
    if (in->OpenResult() != EFrameResult::kOk) return SourceFailure(*in, source);
    const SourceStream& stream = in->Stream();

    const auto base = IfvBaseName(source, RequestChannel());
    if (!base) return Failure(kIfvNameError);

    // The audio frame length of the output is the source's, read off its
    // first audio frame in the span.
    SourceFrame f;
    uint32_t audioFrameMs = 0;
    const bool withAudio = m_request.withAudio && stream.hasAudio;
    if (in->Seek(m_request.start) != EFrameResult::kOk) return Failure("Cut_CHN_Error");
    for (int i = 0; withAudio && i < 1000 && in->Read(f) == EFrameResult::kOk; ++i) {
        if (f.kind == EFrameKind::kAudio) {
            audioFrameMs = f.durationMs;
            break;
        }
    }
    if (in->Seek(m_request.start) != EFrameResult::kOk) return Failure("Cut_CHN_Error");
    in->SetLastSecond(m_request.end);

    std::error_code ec;
    const auto day = MakeCutFolder(m_request.folder, m_request.start, ec);
    if (!day) return Failure("CutFile:" + source.string() + " Fail");
    const auto outPath = FreePath(*day / (*base + CutExtension(int(ECutFormat::kIfv))));
    IfvHandle dst(RK_OpenFile2(outPath.c_str(), 0, RK_FILE_MODE_WRITE));
    if (!dst) return Failure("strCutFilePath:" + outPath.string() + " Fail");
    FILEHANDLE* out = dst.get();
    bool ok = RK_FileSetVideoParam(out, stream.width, stream.height, stream.frameRate, stream.h265 ? 1 : 0) == 0;
    if (ok && withAudio) {
        ok = RK_FileSetAudioParam(out, 1, stream.sampleWidth, stream.sampleRate, stream.audioType,
                                  stream.audioFrameBytes, int(audioFrameMs ? audioFrameMs : 40)) == 0;
    }
    ok = ok && RK_FileEnableAttach(out) == 0;

    CutResult result;
    WrittenSpan span;
    uint64_t baseMs = 0;
    bool first = true;
    uint64_t frames = 0;
    EFrameResult rc = EFrameResult::kOk;
    // The seek lands on a segment's start, which may lie well before the
    // span. Nothing from before the span is copied but the pictures that the
    // span's first picture is decoded from: the last key frame at or before
    // the start and the pictures after it, held until the span begins.
    CFrameHold lead, opening;
    bool inSpan = false;
    auto write = [&](const SourceFrame& f) {
        const uint32_t ts = uint32_t(f.ms);
        if (first) {
            // The cut starts at the second of its first frame; times inside
            // it are re-based so that every frame keeps its wall-clock time.
            first = false;
            baseMs = uint64_t(ts / 1000) * 1000;
            if (RK_FileSetStartTime(out, uint32_t(f.wallMs / 1000)) != 0) return false;
        }
        const uint32_t rel = uint32_t(ts >= baseMs ? ts - baseMs : 0);
        span.Add(f.wallMs);
        int wrote = 0;
        if (f.kind == EFrameKind::kVideo) {
            wrote = RK_FileWriteVideoFrame(out, f.data, f.length, rel, uint8_t(f.type), f.pts, nullptr);
            ++result.frames.video;
        } else if (f.kind == EFrameKind::kAudio) {
            wrote = RK_FileWriteAudioFrame(out, f.data, f.length, rel, nullptr);
            ++result.frames.audio;
        } else {
            wrote = RK_FileWriteAttachFrame(out, f.data, f.length, rel, nullptr);
            ++result.frames.info;
        }
        return wrote == int(f.length);
    };
    while (ok) {
        if (StopRequested()) {
            result.stopped = true;
            break;
        }
        rc = in->Read(f);
        if (rc != EFrameResult::kOk) break;
        if (f.kind == EFrameKind::kAudio && !withAudio) continue;
        if (!inSpan && f.wallMs / 1000 < m_request.start) {
            if (f.kind == EFrameKind::kVideo) lead.AddPicture(f);
            continue;
        }
        if (!inSpan) {
            // Sound and records of the span wait for its first picture: a
            // span whose first picture is a key frame needs nothing from
            // before it, any other first picture needs the lead.
            if (f.kind != EFrameKind::kVideo) {
                opening.Add(f);
                continue;
            }
            inSpan = true;
            if (!f.key)
                for (const SourceFrame& held : lead.Frames())
                    if (!(ok = write(held))) break;
            for (const SourceFrame& held : opening.Frames())
                if (ok && !(ok = write(held))) break;
            lead.Clear();
            opening.Clear();
            if (!ok) break;
        }
        if (!(ok = write(f))) break;
        if (++frames % 5 == 0) Report(uint32_t(f.wallMs / 1000));
    }
    const bool closed = RK_CloseFile2(dst.release()) == 0;
    // Damage inside the span fails the cut: a clip that silently ends early
    // is not the span the user asked for.
    if (rc == EFrameResult::kReadFailed) {
        RemoveQuietly(outPath);
        return Failure("OpenFile:" + source.string() + " Fail: " + in->ErrorText());
    }
    if (!ok || !closed || first) {
        RemoveQuietly(outPath);
        return Failure(first && ok ? "Cut_CHN_Error" : "strCutFilePath:" + outPath.string() + " Fail");
    }
    Done();
    result.ok = !result.stopped;
    result.files.push_back(outPath);
    result.spans.push_back(span);
    return result;
}

CutResult CClipCutter::SaveIfvFileGpsInfo(const std::filesystem::path& source, int channel, bool withLines,
                                          bool gpx, const std::string& header, const CPositionGrid* grid)
{
    if (auto bad = CheckRequest(m_request); !bad.empty()) return Failure(bad);
    if (!withLines && !gpx) return Failure("nothing to write");
    auto in = CFrameSource::OpenIfvFile(source, 0);
    if (in->OpenResult() != EFrameResult::kOk) return SourceFailure(*in, source);
    const auto name = IfvBaseName(source, channel);
    if (!name) return Failure(kIfvNameError);
    return SaveGpsInfo(*in, *name, channel, withLines, gpx, header, grid);
}

CutResult CClipCutter::SaveContainerGpsInfo(const std::vector<std::filesystem::path>& sources, bool withLines,
                                            bool gpx, const std::string& header, const CPositionGrid* grid)
{
    if (auto bad = CheckRequest(m_request); !bad.empty()) return Failure(bad);
    if (sources.empty()) return Failure("Cut_CHN_Error");
    for (int channel = 1; channel <= 16; ++channel) {
        if (!(m_request.channelMask & (1u << (channel - 1)))) continue;
        auto in = CFrameSource::OpenPartitionSpan(sources, channel, m_request.start, m_request.end);
        if (in->OpenResult() != EFrameResult::kOk) continue;
        CutResult one = SaveGpsInfo(*in, ClipBaseName(channel, m_request.start, m_request.end, m_request.type),
                                    channel, withLines, gpx, header, grid);
        // A channel without position records: the next one may have them.
        if (!one.ok && !one.stopped && one.error == "Cut_CHN_Error") continue;
        if (one.ok) one.channels.push_back(channel);
        return one;
    }
    return Failure("Cut_CHN_Error");
}

CutResult CClipCutter::SaveGpsInfo(CFrameSource& source, const std::string& base, int channel, bool withLines,
                                   bool gpx, const std::string& header, const CPositionGrid* grid)
{
    if (auto bad = CheckRequest(m_request); !bad.empty()) return Failure(bad);
    if (!withLines && !gpx) return Failure("nothing to write");
    if (source.OpenResult() != EFrameResult::kOk) return Failure(source.ErrorText());
    CFrameSource* in = &source;
    std::error_code ec;
    const auto day = MakeCutFolder(m_request.folder, m_request.start, ec);
    if (!day) return Failure("strCutFilePath:" + m_request.folder.string() + " Fail");
    CGpsFileWriter lines(*day / (base + CutExtension(int(ECutFormat::kGps))), header, grid);
    CGpxWriter track(base, grid);

    CutResult result;
    std::vector<WrittenSpan> lineSpans;  // of each GPS file, as the writer opens them
    WrittenSpan trackSpan;
    SourceFrame f;
    uint64_t frames = 0;
    bool ok = true;
    EFrameResult rc = EFrameResult::kOk;
    if (in->Seek(m_request.start) == EFrameResult::kOk) {
        in->SetLastSecond(m_request.end);
        while (true) {
            if (StopRequested()) {
                result.stopped = true;
                break;
            }
            rc = in->Read(f);
            if (rc != EFrameResult::kOk) break;
            if (f.kind == EFrameKind::kInfo && f.wallMs / 1000 >= m_request.start) {
                if (const auto record = LoadAttachInfo(f.data, size_t(f.length))) {
                    ++result.frames.info;
                    if (withLines && !lines.Write(channel, *record)) {
                        ok = false;
                        break;
                    }
                    const uint64_t ms = uint64_t(record->time.get()) * 1000;
                    if (withLines) {
                        lineSpans.resize(lines.Files().size());
                        lineSpans.back().Add(ms);
                    }
                    if (gpx) {
                        track.Add(*record);
                        trackSpan.Add(ms);
                    }
                }
            }
            if (++frames % 5 == 0) Report(uint32_t(f.wallMs / 1000));
        }
    }
    ok = lines.Close() && ok;
    result.files = lines.Files();
    result.spans = lineSpans;
    result.spans.resize(result.files.size());
    if (!ok || rc == EFrameResult::kReadFailed) {
        for (const auto& written : result.files) RemoveQuietly(written);
        return Failure(ok ? "the recording cannot be read: " + in->ErrorText() : lines.Error());
    }
    if (result.frames.info == 0) return Failure("Cut_CHN_Error");
    if (gpx) {
        std::string error;
        const auto path = FreePath(*day / (base + ".gpx"));
        if (!track.Save(path, &error)) return Failure(error);
        result.files.push_back(path);
        result.spans.push_back(trackSpan);
    }
    Done();
    result.ok = !result.stopped;
    return result;
}

namespace {

constexpr uint64_t kUsPerSecond = 1000000;

// A backup record file open through its reader, closed on every way out.
class CBackupReading {
public:
    CBackupReading() = default;
    ~CBackupReading() { RKSFS_CloseBakRecFile(&op); }
    CBackupReading(const CBackupReading&) = delete;
    CBackupReading& operator=(const CBackupReading&) = delete;
    bool Open(const std::filesystem::path& path)
    {
        RKSFS_CloseBakRecFile(&op);
        return RKSFS_OpenBakRecFile(&op, path.c_str()) == 0;
    }
    rkfs::StRecHeadArea_t Block(uint32_t b) const
    {
        return rkfs::LoadStruct<rkfs::StRecHeadArea_t>(op.heads + size_t(b) * rkfs::kHeadAreaSize);
    }
    // The block the next frame's head begins in: none of it read yet means
    // the next block (or, before the first frame, the first one).
    uint32_t NextHeadBlock() const
    {
        if (op.curOffset <= rkfs::kHeadAreaSize) return 0;
        const uint32_t b = op.frmHeadWrSize == 0 ? op.curB + 1 : op.curB;
        return std::min(b, op.dataBlkCnt - 1);
    }

    StRecBakFileOp_t op{};
};

// The block size the cut is laid out in: a block holding more than the
// smaller size tells the larger one; either is one a backup file may hold.
uint32_t BackupLayoutBlockSize(const CBackupReading& in)
{
    constexpr uint32_t kSmall = rkfs::BlockSizeForFileSize(rkfs::kContainerFileSize128);
    for (uint32_t b = 0; b < in.op.dataBlkCnt; ++b)
        if (in.Block(b).head.recData.useSize.get() > kSmall) return rkfs::kBackupBlockSize;
    return kSmall;
}

// Whether the file ends where its last block's head says. Its reader cuts a
// block short to the end of the file (and stops at a head area the file does
// not hold whole), so a file truncated at a frame boundary reads to an end
// that looks normal.
bool EndsWhereItsHeadsSay(const CBackupReading& in, const std::filesystem::path& path)
{
    const uint32_t count = in.op.dataBlkCnt;
    if (count == 0) return false;
    uint64_t at = 0;
    for (uint32_t b = 0; b + 1 < count; ++b) at += rkfs::StoredBlockSize(in.Block(b).head.recData, b == 0);
    const auto last = in.Block(count - 1).head;
    CFileReader file;
    uint8_t stored[rkfs::kDataBlockHeadSize];
    if (!file.Open(path) || file.ReadAt(at, stored, sizeof stored) != sizeof stored) return false;
    uint8_t opened[rkfs::kDataBlockHeadSize];
    rkfs::StoreStruct(opened, last);
    return std::memcmp(stored, opened, sizeof stored) == 0 &&
           uint64_t(file.Size()) == at + rkfs::StoredBlockSize(last.recData, count == 1);
}

bool WriteAll(int fd, const uint8_t* data, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= size_t(w);
    }
    return true;
}

}  // namespace

CutResult CClipCutter::CutRKRecRecordFile(const std::filesystem::path& source, int channel)
{
    if (auto bad = CheckRequest(m_request); !bad.empty()) return Failure(bad);
    const std::string openFailure = "OpenFile:" + source.string() + " Fail";
    CBackupReading in;
    if (!in.Open(source)) return Failure(openFailure);
    const StRecFileInfo_t info = in.op.recFI;
    if (m_request.end < info.beginTime || m_request.start > info.endTime) return Failure("Cut_CHN_Error");

    // The cut begins with the last I frame at or before the span's first
    // instant. The reader's seek goes by whole seconds and picks the first
    // I frame of a second, which may lie after that instant: seek a second
    // earlier and walk to it. Every pass starts from a fresh open, as a seek
    // looks only forward from the current block.
    const uint64_t startUs = uint64_t(m_request.start) * kUsPerSecond;
    auto position = [&] {
        if (!in.Open(source)) return false;
        if (m_request.start > info.beginTime && RKSFS_SeekBakRecTime(&in.op, m_request.start - 1) == 0) return true;
        return in.Open(source);
    };
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    RKSFS_FRAME_HEAD head{};
    auto read = [&] { return RKSFS_ReadBakRecFrame(&in.op, buffer.data(), buffer.size(), &head); };
    if (!position()) return Failure(openFailure);
    uint64_t lead = 0;  // frames before that I frame
    for (uint64_t n = 0; read() > 0; ++n) {
        // The first frame read is an I frame: with none before the span it begins the cut.
        if (head.type == rkfs::kFrameI && (n == 0 || head.pts <= startUs)) lead = n;
        if (rkfs::IsVideoType(head.type) && head.pts > startUs) break;
    }
    if (!position()) return Failure(openFailure);
    for (uint64_t n = 0; n < lead; ++n)
        if (read() <= 0) return Failure(openFailure + ": unreadable frame at offset " + std::to_string(in.op.curOffset));

    std::error_code ec;
    const auto day = MakeCutFolder(m_request.folder, m_request.start, ec);
    if (!day) return Failure("strCutFilePath:" + m_request.folder.string() + " Fail");
    const auto outPath = FreePath(
        *day / (ClipBaseName(channel, m_request.start, m_request.end, m_request.type) + CutExtension(int(ECutFormat::kRkrec))));
    const int fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return Failure("strCutFilePath:" + outPath.string() + " Fail");

    // The frames are laid down afresh rather than their blocks copied: a
    // block's head describes all of its bytes, and the span's ends fall
    // inside blocks.
    CBackupBlockWriter writer(BackupLayoutBlockSize(in),
                              [fd](const uint8_t* data, size_t n) { return WriteAll(fd, data, n); });
    CutResult result;
    WrittenSpan span;
    std::string damage;
    bool ok = true;
    for (uint64_t n = 0;; ++n) {
        if (StopRequested()) {
            result.stopped = true;
            break;
        }
        const uint32_t b = in.NextHeadBlock();
        const int len = read();
        if (len < 0) {
            damage = "unreadable frame at offset " + std::to_string(in.op.curOffset);
            break;
        }
        if (len == 0) {
            // A span that reaches the end must find the whole recording there.
            if (!EndsWhereItsHeadsSay(in, source)) damage = "the file ends before its last block does";
            break;
        }
        const uint32_t second = uint32_t(head.pts / kUsPerSecond);
        if (second > m_request.end) break;
        if (!(ok = writer.Add(rkfs::FrameHeadFromPublic(head), buffer.data(), in.Block(b)))) break;
        span.Add(head.pts / 1000);
        if (n % 5 == 4) Report(second);
    }
    // What a stopped cut wrote is kept, so it is closed as a whole file.
    const bool written = writer.Frames() > 0;
    if (ok && damage.empty() && written) ok = writer.Finish();
    ok = (::fsync(fd) == 0 || errno == EINVAL) && ok;
    ok = ::close(fd) == 0 && ok;
    if (!damage.empty()) {
        RemoveQuietly(outPath);
        return Failure(openFailure + ": " + damage);
    }
    if (!ok || !written) {
        RemoveQuietly(outPath);
        if (result.stopped && ok) return result;
        return Failure(ok ? "Cut_CHN_Error" : "strCutFilePath:" + outPath.string() + " Fail");
    }
    // Read the result back: a cut that its own reader cannot read whole is no cut.
    auto check = CFrameSource::OpenBackupRecord(outPath, 0);
    SourceFrame f;
    EFrameResult rc = check->OpenResult();
    while (rc == EFrameResult::kOk && (rc = check->Read(f)) == EFrameResult::kOk) {
        if (f.kind == EFrameKind::kAudio)
            ++result.frames.audio;
        else if (f.kind == EFrameKind::kInfo)
            ++result.frames.info;
        else
            ++result.frames.video;
    }
    if (rc != EFrameResult::kEnd ||
        result.frames.audio + result.frames.info + result.frames.video != writer.Frames()) {
        RemoveQuietly(outPath);
        return Failure("strCutFilePath:" + outPath.string() + " Fail");
    }
    Done();
    result.ok = !result.stopped;
    result.files.push_back(outPath);
    result.spans.push_back(span);
    return result;
}

CutResult CClipCutter::WriteMp4(CFrameSource& source, const std::filesystem::path& outPath, CutResult& result)
{
    RKPLAYER_HANDLE writer = nullptr, aac = nullptr, overlay = nullptr;
    const SourceStream& stream = source.Stream();
    const bool withAudio = m_request.withAudio && stream.hasAudio;
    if (withAudio && RKPLAYER_ConvertPCMToAACInit(&aac, 1, 8000, 0, stream.audioType) != 1) {
        RKPLAYER_ConvertPCMToAACUnit(&aac);
        return Failure("the sound of " + outPath.string() + " cannot be converted");
    }
    if (RKPLAYER_CreateMp4FileInit(&writer, stream.width, stream.height, stream.h265 ? 1 : 0, int(stream.frameRate),
                                   outPath.c_str()) != 0) {
        RKPLAYER_CloseMp4File(&writer);
        RKPLAYER_ConvertPCMToAACUnit(&aac);
        return Failure("CutFile:" + outPath.string() + " Fail");
    }
    std::filesystem::path overlayPath;
    std::string overlayError;
    auto overlayFailed = [&] {
        const char* why = RKPLAYER_GetLastErrorText();
        overlayError = "the copy with text " + overlayPath.string() + " cannot be made: " +
                       (why && *why ? why : "unknown failure");
        return false;
    };
    if (m_request.overlay) {
        overlayPath = OverlayPath(outPath);
        if (RKPLAYER_CreateOverlayMp4FileInit(&overlay, stream.width, stream.height, stream.h265 ? 1 : 0,
                                              int(stream.frameRate), overlayPath.c_str()) != 0) {
            overlayFailed();
            RKPLAYER_CloseOverlayMp4File(&overlay);
            RKPLAYER_CloseMp4File(&writer);
            RemoveQuietly(outPath);
            RKPLAYER_ConvertPCMToAACUnit(&aac);
            return Failure(overlayError);
        }
    }
    COverlayTexts texts(
        [&](const SourceFrame& p, const std::string& text) {
            return RKPLAYER_WriteOverlayMp4VideoData(&overlay, p.data, int(p.length), p.key ? 1 : 0, p.wallMs,
                                                     text.data(), int(text.size())) == 0 ||
                   overlayFailed();
        },
        m_request.grid, m_request.speedMph);
    std::vector<uint8_t> out(RKPLAYER_AAC_MAX_FRAME_BYTES);
    auto writeAac = [&](int n) {
        if (RKPLAYER_WriteMp4AudioData(&writer, out.data(), n) != 0) return false;
        return !overlay || RKPLAYER_WriteOverlayMp4AudioData(&overlay, out.data(), n) == 0 || overlayFailed();
    };
    WrittenSpan span;
    bool ok = true, keySeen = false;
    uint64_t frames = 0;
    SourceFrame f;
    source.SetLastSecond(m_request.end);
    EFrameResult rc = EFrameResult::kOk;
    while (ok) {
        if (StopRequested()) {
            result.stopped = true;
            break;
        }
        rc = source.Read(f);
        if (rc != EFrameResult::kOk) break;
        // Nothing reaches the file before the first key frame, sound included.
        if (f.kind == EFrameKind::kVideo && f.key) keySeen = true;
        if (keySeen && f.kind == EFrameKind::kVideo) {
            if (result.frames.video == 0) result.firstWrittenMs = f.wallMs;
            ok = RKPLAYER_WriteMp4VideoData(&writer, f.data, int(f.length), f.key ? 1 : 0, f.wallMs) == 0;
            if (ok && overlay) ok = texts.Picture(f);
            ++result.frames.video;
            span.Add(f.wallMs);
        } else if (keySeen && f.kind == EFrameKind::kAudio && withAudio) {
            int n = 0;
            if (RKPLAYER_ConvertPCMToAACEncode(&aac, f.data, int(f.length), out.data(), &n) == 1 && n > 0)
                ok = writeAac(n);
            ++result.frames.audio;
            span.Add(f.wallMs);
        } else if (f.kind == EFrameKind::kInfo && overlay) {
            // Records from before the first key frame still give its text.
            if (const auto record = LoadAttachInfo(f.data, f.length)) ok = texts.Record(*record);
        }
        if (++frames % 5 == 0) Report(uint32_t(f.wallMs / 1000));
    }
    if (overlay && ok) ok = texts.Finish();
    if (withAudio) {
        int n = 0;
        while (ok && RKPLAYER_ConvertPCMToAACFlush(&aac, out.data(), &n) == 1)
            if (n > 0) ok = writeAac(n);
        RKPLAYER_ConvertPCMToAACUnit(&aac);
    }
    const bool closed = RKPLAYER_CloseMp4File(&writer) == 0;
    bool overlayClosed = true;
    if (overlay) overlayClosed = RKPLAYER_CloseOverlayMp4File(&overlay) == 0 || (ok && overlayFailed());
    auto removeBoth = [&] {
        RemoveQuietly(outPath);
        if (!overlayPath.empty()) RemoveQuietly(overlayPath);
    };
    // Damage inside the span fails the cut: a clip that silently ends early
    // is not the span the user asked for.
    if (rc == EFrameResult::kReadFailed) {
        removeBoth();
        return Failure("CutFile:" + outPath.string() + " Fail: " + source.ErrorText());
    }
    if (!ok || !closed || !overlayClosed || result.frames.video == 0) {
        removeBoth();
        if (!overlayError.empty() && result.frames.video > 0) return Failure(overlayError);
        return Failure(result.frames.video == 0 && ok ? "Cut_CHN_Error" : "CutFile:" + outPath.string() + " Fail");
    }
    result.files.push_back(outPath);
    result.spans.push_back(span);
    if (!overlayPath.empty()) {
        result.overlays.push_back(overlayPath);
        result.overlaySpans.push_back(span);
    }
    result.ok = true;
    return result;
}

CutResult CClipCutter::CutIfvRecordToMp4(const std::filesystem::path& source, int channel)
{
    if (auto bad = CheckRequest(m_request); !bad.empty()) return Failure(bad);
    auto in = CFrameSource::OpenIfvFile(source, 0);
    if (in->OpenResult() != EFrameResult::kOk) return SourceFailure(*in, source);
    const auto base = IfvBaseName(source, channel);
    if (!base) return Failure(kIfvNameError);
    if (in->Seek(m_request.start) != EFrameResult::kOk) return Failure("Cut_CHN_Error");
    std::error_code ec;
    const auto day = MakeCutFolder(m_request.folder, m_request.start, ec);
    if (!day) return Failure("CutFile:" + source.string() + " Fail");
    const int format = m_request.format == int(ECutFormat::kAvi) ? int(ECutFormat::kAvi) : int(ECutFormat::kMp4);
    const auto outPath = FreePath(*day / (*base + CutExtension(format)));
    CutResult result;
    result = WriteMp4(*in, outPath, result);
    if (result.ok) Done();
    if (result.ok && result.stopped) result.ok = false;
    return result;
}

CutResult CClipCutter::CutGrecFileToMp4(const std::filesystem::path& source, int channel)
{
    if (auto bad = CheckRequest(m_request); !bad.empty()) return Failure(bad);
    auto in = CFrameSource::OpenGrecFile(source, 0);
    if (in->OpenResult() != EFrameResult::kOk)
        return Failure("OpenFile:" + source.string() + " Fail: " + in->ErrorText());
    if (in->Seek(m_request.start) != EFrameResult::kOk) return Failure("Cut_CHN_Error");
    std::error_code ec;
    const auto day = MakeCutFolder(m_request.folder, m_request.start, ec);
    if (!day) return Failure("CutFile:" + source.string() + " Fail");
    const int format = m_request.format == int(ECutFormat::kAvi) ? int(ECutFormat::kAvi) : int(ECutFormat::kMp4);
    const auto outPath = FreePath(
        *day / (ClipBaseName(channel, m_request.start, m_request.end, m_request.type) + CutExtension(format)));
    CutResult result;
    result = WriteMp4(*in, outPath, result);
    if (result.ok) Done();
    if (result.ok && result.stopped) result.ok = false;
    return result;
}

CutResult CClipCutter::CutContainerToMp4(const std::vector<std::filesystem::path>& sources)
{
    if (auto bad = CheckRequest(m_request); !bad.empty()) return Failure(bad);
    if (sources.empty()) return Failure("Cut_CHN_Error");
    std::error_code ec;
    CutResult all;
    int width = 0, height = 0;
    bool h265 = false;
    std::optional<std::filesystem::path> day;
    std::vector<int64_t> startsMs;  // of each channel file, from the span's start
    for (int channel = 1; channel <= 16; ++channel) {
        if (!(m_request.channelMask & (1u << (channel - 1)))) continue;
        auto source = CFrameSource::OpenPartitionSpan(sources, channel, m_request.start, m_request.end);
        if (source->OpenResult() != EFrameResult::kOk) continue;
        if (!day) {
            day = MakeCutFolder(m_request.folder, m_request.start, ec);
            if (!day) return Failure("CutFile:" + m_request.folder.string() + " Fail");
        }
        const int format = m_request.format == int(ECutFormat::kAvi) ? int(ECutFormat::kAvi) : int(ECutFormat::kMp4);
        const auto outPath = FreePath(
            *day / (ClipBaseName(channel, m_request.start, m_request.end, m_request.type) + CutExtension(format)));
        CutResult one;
        one = WriteMp4(*source, outPath, one);
        auto take = [&all](const CutResult& one) {
            all.files.insert(all.files.end(), one.files.begin(), one.files.end());
            all.spans.insert(all.spans.end(), one.spans.begin(), one.spans.end());
            all.overlays.insert(all.overlays.end(), one.overlays.begin(), one.overlays.end());
            all.overlaySpans.insert(all.overlaySpans.end(), one.overlaySpans.begin(), one.overlaySpans.end());
        };
        if (one.stopped) {
            all.stopped = true;
            take(one);
            return all;
        }
        if (!one.ok) {
            if (one.error == "Cut_CHN_Error") continue;
            for (const auto& f : all.files) RemoveQuietly(f);
            for (const auto& f : all.overlays) RemoveQuietly(f);
            return one;
        }
        take(one);
        all.channels.push_back(channel);
        startsMs.push_back(int64_t(one.firstWrittenMs) - int64_t(m_request.start) * 1000);
        all.frames.video += one.frames.video;
        all.frames.audio += one.frames.audio;
        width = source->Stream().width;
        height = source->Stream().height;
        h265 = source->Stream().h265;
    }
    if (all.files.empty()) return Failure("Cut_CHN_Error");
    all.width = width;
    all.height = height;
    all.h265 = h265;
    all.startsMs = startsMs;
    if (m_request.combine && all.files.size() > 1) {
        auto combined = Combine(all.files, startsMs, width, height, h265);
        if (!combined.ok) {
            // No half of an export is left that could pass for all of it.
            for (const auto& f : all.files) RemoveQuietly(f);
            for (const auto& f : all.overlays) RemoveQuietly(f);
            return combined;
        }
        // The mosaic holds what its channel files hold.
        WrittenSpan mosaic;
        for (const WrittenSpan& one : all.spans) mosaic.Add(one);
        all.files.insert(all.files.end(), combined.files.begin(), combined.files.end());
        all.spans.push_back(mosaic);
    }
    Done();
    all.ok = true;
    return all;
}

CutResult CClipCutter::Combine(const std::vector<std::filesystem::path>& files, const std::vector<int64_t>& startsMs,
                               int width, int height, bool h265)
{
    const int n = int(std::min<size_t>(files.size(), RKPLAYER_COMBINE_MAX_INPUTS));
    int grid = 1;
    while (grid * grid < n) ++grid;
    // Cells keep the channels' size until the mosaic would pass 1920 x 1080.
    int w = std::min(width * grid, 1920) & ~1, h = std::min(height * grid, 1080) & ~1;
    if (w <= 0 || h <= 0) w = 704, h = 576;
    const auto day = files.front().parent_path();
    const auto outPath = FreePath(
        day / (CombinedBaseName(m_request.start, m_request.end, m_request.type) + CutExtension(int(ECutFormat::kMp4))));
    RKPLAYER_HANDLE slot = nullptr;
    std::vector<RKPLAYER_COMBINE_INPUT> inputs(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const std::string p = files[size_t(i)].string();
        if (p.size() >= RKPLAYER_COMBINE_PATH_BYTES) return Failure("strFilePath:" + p + " too long");
        std::memcpy(inputs[size_t(i)].path, p.c_str(), p.size() + 1);
        inputs[size_t(i)].position = i;
    }
    RKPLAYER_COMBINE_UNUSED unused{};
    bool ok = RKPLAYER_InitOutputAviParam(&slot, outPath.c_str(), w, h, h265 ? 1 : 0, unused,
                                          RKPLAYER_COMBINE_COUNTS(n, grid * grid)) == 0 &&
              RKPLAYER_InitInputAvisParam(&slot, inputs.data(), n) == 0;
    // Every channel on the span's clock, the video as long as the span: a
    // channel that begins late or ends early leaves its cell black.
    for (int i = 0; ok && i < n; ++i) ok = RKPLAYER_SetCombinStart(&slot, i, startsMs[size_t(i)]) == 0;
    ok = ok && RKPLAYER_SetCombinSpan(&slot, (int64_t(m_request.end) - m_request.start + 1) * 1000) == 0;
    ok = ok && RKPLAYER_StartCombin(&slot) == 0;
    RKPLAYER_EndCombin(&slot);
    if (!ok) return Failure("CutFile:" + outPath.string() + " Fail");
    CutResult r;
    r.ok = true;
    r.files.push_back(outPath);
    r.spans.emplace_back();  // the job knows the channel files it was made of
    return r;
}

}  // namespace velmor
