#include "player/export/ClipCutter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/FileReader.h"
#include "common/PathUtil.h"
#include "container/include/rkcontainer.h"
#include "media/include/rkmedia.h"
#include "player/export/ExportNames.h"
#include "player/export/GpsExport.h"
#include "player/export/GpxWriter.h"
#include "player/formats/AttachInfo.h"
#include "player/formats/IfvFile.h"
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

// Frame rate = frames / seconds, rounded up when the remainder exceeds 4.
float CutFrameRate(uint32_t frames, uint32_t durationMs, float stored)
{
    const uint32_t seconds = durationMs / 1000;
    if (seconds == 0 || frames == 0) return stored > 0 ? stored : 25.0f;
    uint32_t rate = frames / seconds;
    if (frames % seconds > 4) ++rate;
    return float(std::max<uint32_t>(rate, 1));
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

void CClipCutter::Done()
{
    if (m_progress) m_progress(100);
}

CutResult CClipCutter::CutIfvRecordFile(const std::filesystem::path& source)
{
    if (auto bad = CheckRequest(m_request); !bad.empty()) return Failure(bad);
    IfvHandle src(RK_OpenFile2(source.c_str(), 0, RK_FILE_MODE_READ));
    if (!src) return Failure("OpenFile:" + source.string() + " Fail");
    FILEHANDLE* in = src.get();
    const uint32_t begin = RK_FileGetStartTime(in);
    const bool h265 = IsH265CodecCode(RK_FileGetVideoCodec(in));
    int width = RK_FileGetWidth(in), height = RK_FileGetHeight(in);
    uint16_t w = 0, h = 0;
    if (RK_FileGetVideoSizeByIFrame(in, 0, h265 ? 1 : 0, &w, &h) == 1 && w && h && (w != width || h != height)) {
        width = w;
        height = h;
    }
    const float rate = CutFrameRate(RK_FileGetVideoFrameCount(in), RK_FileGetDuration(in), RK_FileGetFrameRate(in));

    const auto base = IfvClipBaseName(source.stem().string(), m_request.start, m_request.end);
    if (!base) return Failure("CutFile:" + source.string() + " Fail");

    // The audio frame length of the output is the source's, read off its
    // first audio frame in the span.
    std::vector<uint8_t> buffer(RK_FILE_FRAME_BUFFER_SIZE);
    uint32_t ts = 0, duration = 0;
    uint64_t pts = 0;
    uint8_t key = 0, kind = 0;
    uint32_t audioFrameMs = 0;
    const bool withAudio = m_request.withAudio && RK_FileHasAudio(in);
    if (RK_FileSeekToSysTime(in, m_request.start) != 1) return Failure("Cut_CHN_Error");
    for (int i = 0; withAudio && i < 1000; ++i) {
        if (RK_FileReadOneMediaFrame2(in, buffer.data(), &ts, &pts, &duration, &key, &kind) <= 0) break;
        if (kind == RK_FILE_MEDIA_AUDIO) {
            audioFrameMs = duration;
            break;
        }
    }
    if (RK_FileSeekToSysTime(in, m_request.start) != 1) return Failure("Cut_CHN_Error");

    std::error_code ec;
    const auto day = MakeCutFolder(m_request.folder, m_request.start, ec);
    if (!day) return Failure("CutFile:" + source.string() + " Fail");
    const auto outPath = FreePath(*day / (*base + CutExtension(int(ECutFormat::kIfv))));
    IfvHandle dst(RK_OpenFile2(outPath.c_str(), 0, RK_FILE_MODE_WRITE));
    if (!dst) return Failure("strCutFilePath:" + outPath.string() + " Fail");
    FILEHANDLE* out = dst.get();
    bool ok = RK_FileSetVideoParam(out, width, height, rate, h265 ? 1 : 0) == 0;
    if (ok && withAudio) {
        ok = RK_FileSetAudioParam(out, 1, RK_FileGetSampleWidth(in), RK_FileGetSampleRate(in),
                                  IfvAudioTypeOfCode(RK_FileGetAudioCodec(in)),
                                  RK_FileGetAudioFrameSize(in), int(audioFrameMs ? audioFrameMs : 40)) == 0;
    }
    ok = ok && RK_FileEnableAttach(out) == 0;

    CutResult result;
    uint64_t baseMs = 0;
    bool first = true;
    uint64_t frames = 0;
    while (ok) {
        if (StopRequested()) {
            result.stopped = true;
            break;
        }
        const int n = RK_FileReadOneMediaFrame2(in, buffer.data(), &ts, &pts, &duration, &key, &kind);
        if (n <= 0) break;
        const uint64_t wall = begin + ts / 1000;
        if (wall > m_request.end) break;
        if (first) {
            // The cut starts at the second of its first frame; times inside
            // it are re-based so that every frame keeps its wall-clock time.
            first = false;
            baseMs = uint64_t(ts / 1000) * 1000;
            ok = RK_FileSetStartTime(out, uint32_t(wall)) == 0;
            if (!ok) break;
        }
        const uint32_t rel = uint32_t(ts >= baseMs ? ts - baseMs : 0);
        int wrote = 0;
        if (kind == RK_FILE_MEDIA_VIDEO) {
            wrote = RK_FileWriteVideoFrame(out, buffer.data(), uint32_t(n), rel, key, pts, nullptr);
            ++result.frames.video;
        } else if (kind == RK_FILE_MEDIA_AUDIO) {
            if (!withAudio) continue;
            wrote = RK_FileWriteAudioFrame(out, buffer.data(), uint32_t(n), rel, nullptr);
            ++result.frames.audio;
        } else {
            wrote = RK_FileWriteAttachFrame(out, buffer.data(), uint32_t(n), rel, nullptr);
            ++result.frames.info;
        }
        if (wrote != n) {
            ok = false;
            break;
        }
        if (++frames % 5 == 0) Report(uint32_t(wall));
    }
    const bool closed = RK_CloseFile2(dst.release()) == 0;
    if (!ok || !closed || first) {
        RemoveQuietly(outPath);
        return Failure(first && ok ? "Cut_CHN_Error" : "strCutFilePath:" + outPath.string() + " Fail");
    }
    Done();
    result.ok = !result.stopped;
    result.files.push_back(outPath);
    return result;
}

CutResult CClipCutter::SaveIfvFileGpsInfo(const std::filesystem::path& source, int channel, bool withLines,
                                          bool gpx, const std::string& header, const CPositionGrid* grid)
{
    if (auto bad = CheckRequest(m_request); !bad.empty()) return Failure(bad);
    if (!withLines && !gpx) return Failure("nothing to write");
    IfvHandle src(RK_OpenFile2(source.c_str(), 0, RK_FILE_MODE_READ));
    if (!src) return Failure("OpenFile:" + source.string() + " Fail");
    FILEHANDLE* in = src.get();
    const uint32_t begin = RK_FileGetStartTime(in);
    std::error_code ec;
    const auto day = MakeCutFolder(m_request.folder, m_request.start, ec);
    if (!day) return Failure("strCutFilePath:" + m_request.folder.string() + " Fail");
    const std::string base = ClipBaseName(channel, m_request.start, m_request.end, m_request.type);
    CGpsFileWriter lines(*day / (base + CutExtension(int(ECutFormat::kGps))), header, grid);
    CGpxWriter track(base, grid);

    CutResult result;
    std::vector<uint8_t> buffer(RK_FILE_FRAME_BUFFER_SIZE);
    uint32_t ts = 0, duration = 0;
    uint64_t pts = 0;
    uint8_t key = 0, kind = 0;
    uint64_t frames = 0;
    bool ok = true;
    if (RK_FileSeekToSysTime(in, m_request.start) == 1) {
        while (true) {
            if (StopRequested()) {
                result.stopped = true;
                break;
            }
            const int n = RK_FileReadOneMediaFrame2(in, buffer.data(), &ts, &pts, &duration, &key, &kind);
            if (n <= 0) break;
            const uint64_t wall = begin + ts / 1000;
            if (wall > m_request.end) break;
            if (kind == RK_FILE_MEDIA_ATTACH && wall >= m_request.start) {
                if (const auto record = LoadAttachInfo(buffer.data(), size_t(n))) {
                    ++result.frames.info;
                    if (withLines && !lines.Write(channel, *record)) {
                        ok = false;
                        break;
                    }
                    if (gpx) track.Add(*record);
                }
            }
            if (++frames % 5 == 0) Report(uint32_t(wall));
        }
    }
    ok = lines.Close() && ok;
    result.files = lines.Files();
    if (!ok) {
        for (const auto& f : result.files) RemoveQuietly(f);
        return Failure(lines.Error());
    }
    if (result.frames.info == 0) return Failure("Cut_CHN_Error");
    if (gpx) {
        std::string error;
        const auto path = FreePath(*day / (base + ".gpx"));
        if (!track.Save(path, &error)) return Failure(error);
        result.files.push_back(path);
    }
    Done();
    result.ok = !result.stopped;
    return result;
}

CutResult CClipCutter::CutRKRecRecordFile(const std::filesystem::path& source, int channel)
{
    if (auto bad = CheckRequest(m_request); !bad.empty()) return Failure(bad);
    StRecBakFileOp_t op{};
    if (RKSFS_OpenBakRecFile(&op, source.c_str()) != 0) return Failure("OpenFile:" + source.string() + " Fail");
    struct Block {
        uint64_t offset, stored;
        uint32_t lend;
        uint32_t begin, end;
    };
    std::vector<Block> blocks;
    uint64_t offset = 0;
    for (uint32_t i = 0; i < op.dataBlkCnt; ++i) {
        const auto head = rkfs::LoadStruct<rkfs::StDataBlockHead_t>(op.heads + size_t(i) * rkfs::kHeadAreaSize);
        const auto& rd = head.recData;
        const uint32_t lend = i == 0 ? rd.lend.get() : 0;
        const uint64_t stored = uint64_t(rd.useSize.get()) - lend;
        blocks.push_back({offset, stored, rd.lend.get(), rd.beginTime.get(), rkfs::BlockEndTime(rd)});
        offset += stored;
    }
    RKSFS_CloseBakRecFile(&op);

    // Whole blocks overlapping the span.
    size_t first = blocks.size(), last = 0;
    for (size_t i = 0; i < blocks.size(); ++i)
        if (blocks[i].begin <= m_request.end && blocks[i].end >= m_request.start) {
            first = std::min(first, i);
            last = i;
        }
    if (first == blocks.size()) return Failure("Cut_CHN_Error");

    CFileReader in;
    if (!in.Open(source)) return Failure("OpenFile:" + source.string() + " Fail");
    std::error_code ec;
    const auto day = MakeCutFolder(m_request.folder, m_request.start, ec);
    if (!day) return Failure("strCutFilePath:" + m_request.folder.string() + " Fail");
    const auto outPath = FreePath(
        *day / (ClipBaseName(channel, m_request.start, m_request.end, m_request.type) + CutExtension(int(ECutFormat::kRkrec))));
    const int fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return Failure("strCutFilePath:" + outPath.string() + " Fail");

    CutResult result;
    std::vector<uint8_t> buffer(1 << 20);
    bool ok = true;
    auto copy = [&](uint64_t from, uint64_t bytes) {
        while (ok && bytes) {
            const size_t want = size_t(std::min<uint64_t>(bytes, buffer.size()));
            const size_t got = in.ReadAt(from, buffer.data(), want);
            // A file cut short inside its last block ends there.
            if (got == 0) return;
            ok = ::write(fd, buffer.data(), got) == ssize_t(got);
            from += got;
            bytes -= got;
        }
    };
    for (size_t i = first; ok && i <= last; ++i) {
        if (StopRequested()) {
            result.stopped = true;
            break;
        }
        const Block& b = blocks[i];
        if (i == first && i != 0) {
            // The first stored block begins with its own first frame head.
            copy(b.offset, rkfs::kHeadAreaSize);
            const uint64_t skip = std::min<uint64_t>(b.lend, b.stored - rkfs::kHeadAreaSize);
            copy(b.offset + rkfs::kHeadAreaSize + skip, b.stored - rkfs::kHeadAreaSize - skip);
        } else {
            copy(b.offset, b.stored);
        }
        Report(std::min(b.end, m_request.end));
    }
    ok = (::fsync(fd) == 0 || errno == EINVAL) && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        RemoveQuietly(outPath);
        return Failure("strCutFilePath:" + outPath.string() + " Fail");
    }
    // Read the result back: a cut that its own reader cannot open is no cut.
    StRecBakFileOp_t check{};
    if (RKSFS_OpenBakRecFile(&check, outPath.c_str()) != 0) {
        RemoveQuietly(outPath);
        return Failure("strCutFilePath:" + outPath.string() + " Fail");
    }
    std::vector<uint8_t> frame(RKSFS_READ_BUFFER_SIZE);
    RKSFS_FRAME_HEAD head{};
    while (RKSFS_ReadBakRecFrame(&check, frame.data(), frame.size(), &head) > 0) {
        if (head.type == 4)
            ++result.frames.audio;
        else if (head.type == 5)
            ++result.frames.info;
        else
            ++result.frames.video;
    }
    RKSFS_CloseBakRecFile(&check);
    Done();
    result.ok = !result.stopped;
    result.files.push_back(outPath);
    return result;
}

// A recording read frame by frame for the MP4 writer: the stream's
// description, then frames in time order with their wall-clock times.
struct CClipCutter::FrameSource {
    struct Frame {
        const uint8_t* data = nullptr;
        int length = 0;
        int kind = 0;  // 0 video, 1 audio, 2 information record
        bool key = false;
        uint64_t wallMs = 0;
    };
    int width = 0, height = 0;
    bool h265 = false;
    int frameRate = 25;
    bool hasAudio = false;
    int audioType = 3;  // the voice compression type of the sound
    std::function<bool(Frame&)> next;
};

CutResult CClipCutter::WriteMp4(FrameSource& source, const std::filesystem::path& outPath, CutResult& result)
{
    RKPLAYER_HANDLE writer = nullptr, aac = nullptr;
    const bool withAudio = m_request.withAudio && source.hasAudio;
    if (withAudio && RKPLAYER_ConvertPCMToAACInit(&aac, 1, 8000, 0, source.audioType) != 1) {
        RKPLAYER_ConvertPCMToAACUnit(&aac);
        return Failure("the sound of " + outPath.string() + " cannot be converted");
    }
    if (RKPLAYER_CreateMp4FileInit(&writer, source.width, source.height, source.h265 ? 1 : 0, source.frameRate,
                                   outPath.c_str()) != 0) {
        RKPLAYER_CloseMp4File(&writer);
        RKPLAYER_ConvertPCMToAACUnit(&aac);
        return Failure("CutFile:" + outPath.string() + " Fail");
    }
    std::vector<uint8_t> out(RKPLAYER_AAC_MAX_FRAME_BYTES);
    bool ok = true, keySeen = false;
    uint64_t frames = 0;
    FrameSource::Frame f;
    while (ok) {
        if (StopRequested()) {
            result.stopped = true;
            break;
        }
        if (!source.next(f)) break;
        if (f.wallMs / 1000 > m_request.end) break;
        // Nothing reaches the file before the first key frame, sound included.
        if (f.kind == 0 && f.key) keySeen = true;
        if (keySeen && f.kind == 0) {
            ok = RKPLAYER_WriteMp4VideoData(&writer, f.data, f.length, f.key ? 1 : 0, f.wallMs) == 0;
            ++result.frames.video;
        } else if (keySeen && f.kind == 1 && withAudio) {
            int n = 0;
            if (RKPLAYER_ConvertPCMToAACEncode(&aac, f.data, f.length, out.data(), &n) == 1 && n > 0)
                ok = RKPLAYER_WriteMp4AudioData(&writer, out.data(), n) == 0;
            ++result.frames.audio;
        }
        if (++frames % 5 == 0) Report(uint32_t(f.wallMs / 1000));
    }
    if (withAudio) {
        int n = 0;
        while (ok && RKPLAYER_ConvertPCMToAACFlush(&aac, out.data(), &n) == 1)
            if (n > 0) ok = RKPLAYER_WriteMp4AudioData(&writer, out.data(), n) == 0;
        RKPLAYER_ConvertPCMToAACUnit(&aac);
    }
    const bool closed = RKPLAYER_CloseMp4File(&writer) == 0;
    if (!ok || !closed || result.frames.video == 0) {
        RemoveQuietly(outPath);
        return Failure(result.frames.video == 0 && ok ? "Cut_CHN_Error" : "CutFile:" + outPath.string() + " Fail");
    }
    result.files.push_back(outPath);
    result.ok = true;
    return result;
}

CutResult CClipCutter::CutIfvRecordToMp4(const std::filesystem::path& source, int channel)
{
    if (auto bad = CheckRequest(m_request); !bad.empty()) return Failure(bad);
    IfvHandle src(RK_OpenFile2(source.c_str(), 0, RK_FILE_MODE_READ));
    if (!src) return Failure("OpenFile:" + source.string() + " Fail");
    FILEHANDLE* in = src.get();
    FrameSource fs;
    const uint32_t begin = RK_FileGetStartTime(in);
    fs.h265 = IsH265CodecCode(RK_FileGetVideoCodec(in));
    fs.width = RK_FileGetWidth(in);
    fs.height = RK_FileGetHeight(in);
    uint16_t w = 0, h = 0;
    if (RK_FileGetVideoSizeByIFrame(in, 0, fs.h265 ? 1 : 0, &w, &h) == 1 && w && h) {
        fs.width = w;
        fs.height = h;
    }
    fs.frameRate = int(CutFrameRate(RK_FileGetVideoFrameCount(in), RK_FileGetDuration(in), RK_FileGetFrameRate(in)));
    fs.hasAudio = RK_FileHasAudio(in) == 1;
    if (fs.hasAudio) fs.audioType = IfvAudioTypeOfCode(RK_FileGetAudioCodec(in));
    if (RK_FileSeekToSysTime(in, m_request.start) != 1) return Failure("Cut_CHN_Error");
    std::error_code ec;
    const auto day = MakeCutFolder(m_request.folder, m_request.start, ec);
    if (!day) return Failure("CutFile:" + source.string() + " Fail");
    const int format = m_request.format == int(ECutFormat::kAvi) ? int(ECutFormat::kAvi) : int(ECutFormat::kMp4);
    const auto outPath =
        FreePath(*day / (ClipBaseName(channel, m_request.start, m_request.end, m_request.type) + CutExtension(format)));
    auto buffer = std::make_shared<std::vector<uint8_t>>(RK_FILE_FRAME_BUFFER_SIZE);
    fs.next = [in, buffer, begin](FrameSource::Frame& f) {
        uint32_t ts = 0, duration = 0;
        uint64_t pts = 0;
        uint8_t key = 0, kind = 0;
        const int n = RK_FileReadOneMediaFrame2(in, buffer->data(), &ts, &pts, &duration, &key, &kind);
        if (n <= 0) return false;
        f = {buffer->data(), n, kind, key == 3 || key == 5, uint64_t(begin) * 1000 + ts};
        return true;
    };
    CutResult result;
    result = WriteMp4(fs, outPath, result);
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
    for (int channel = 1; channel <= 16; ++channel) {
        if (!(m_request.channelMask & (1u << (channel - 1)))) continue;
        // The channel's files in turn: each from the span's start (or its
        // own beginning), frames already passed in an earlier file skipped.
        struct Reader {
            RKCONTAINER_HANDLE slot = nullptr;
            ~Reader()
            {
                if (slot) RKCONTAINER_CloseFile(&slot);
            }
        };
        auto reader = std::make_shared<Reader>();
        auto buffer = std::make_shared<std::vector<uint8_t>>(RKCONTAINER_MAX_FRAME_SIZE);
        size_t nextFile = 0;
        uint64_t lastPts = 0, skipUpTo = 0;
        FrameSource fs;
        bool described = false;
        auto openNext = [&, reader, channel]() -> bool {
            while (nextFile < sources.size()) {
                const auto& path = sources[nextFile++];
                if (reader->slot) RKCONTAINER_CloseFile(&reader->slot);
                if (path.string().size() >= 260) continue;  // "strFilePath:%s too long"
                if (RKCONTAINER_OpenFile(&reader->slot, path.c_str()) != 0) continue;
                uint32_t b = 0, e = 0;
                RKCONTAINER_ENCODE enc{};
                if (RKCONTAINER_GetOneChnFileInfo(&reader->slot, channel - 1, &b, &e, &enc) != 0) continue;
                if (e < m_request.start || b > m_request.end) continue;
                if (b < m_request.start && RKCONTAINER_SeekIFrame(&reader->slot, m_request.start, &enc) != 0) continue;
                if (!described) {
                    described = true;
                    int w = 0, h = 0;
                    if (RKCONTAINER_ConvResolution(nullptr, enc.reso, &w, &h, enc.videoStandard) == 0) {
                        fs.width = w;
                        fs.height = h;
                    }
                    fs.h265 = IsH265Encoding(enc.vEnc);
                    fs.frameRate = enc.frameRate ? enc.frameRate : 25;
                    fs.hasAudio = enc.aEnc != 0;
                    fs.audioType = ContainerAudioType(enc.aEnc);
                }
                return true;
            }
            return false;
        };
        if (!openNext()) continue;
        fs.next = [&, reader, buffer](FrameSource::Frame& f) -> bool {
            for (;;) {
                RKCONTAINER_FRAME_HEAD head{};
                RKCONTAINER_ENCODE e{};
                const int rc = reader->slot ? RKCONTAINER_ReadOneFrame(&reader->slot, buffer->data(), &head, &e) : -4;
                if (rc == -2) continue;
                if (rc != 0) {
                    // A later file may repeat the seconds where it meets the
                    // earlier one: what was already written is skipped.
                    skipUpTo = lastPts;
                    if (!openNext()) return false;
                    continue;
                }
                if (head.sign != 'F' || (skipUpTo && head.pts <= skipUpTo)) continue;
                lastPts = head.pts;
                const int kind = head.type >= 1 && head.type <= 3 ? 0 : head.type == 4 ? 1 : 2;
                f = {buffer->data(), int(head.length), kind, head.type == 1, head.pts / 1000};
                return true;
            }
        };
        if (!day) {
            day = MakeCutFolder(m_request.folder, m_request.start, ec);
            if (!day) return Failure("CutFile:" + m_request.folder.string() + " Fail");
        }
        const int format = m_request.format == int(ECutFormat::kAvi) ? int(ECutFormat::kAvi) : int(ECutFormat::kMp4);
        const auto outPath = FreePath(
            *day / (ClipBaseName(channel, m_request.start, m_request.end, m_request.type) + CutExtension(format)));
        CutResult one;
        one = WriteMp4(fs, outPath, one);
        if (one.stopped) {
            all.stopped = true;
            all.files.insert(all.files.end(), one.files.begin(), one.files.end());
            return all;
        }
        if (!one.ok) {
            if (one.error == "Cut_CHN_Error") continue;
            for (const auto& f : all.files) RemoveQuietly(f);
            return one;
        }
        all.files.insert(all.files.end(), one.files.begin(), one.files.end());
        all.channels.push_back(channel);
        all.frames.video += one.frames.video;
        all.frames.audio += one.frames.audio;
        width = fs.width;
        height = fs.height;
        h265 = fs.h265;
    }
    if (all.files.empty()) return Failure("Cut_CHN_Error");
    if (m_request.combine && all.files.size() > 1) {
        auto combined = Combine(all.files, width, height, h265);
        if (!combined.ok) return combined;
        all.files.insert(all.files.end(), combined.files.begin(), combined.files.end());
    }
    Done();
    all.ok = true;
    return all;
}

CutResult CClipCutter::Combine(const std::vector<std::filesystem::path>& files, int width, int height, bool h265)
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
    ok = ok && RKPLAYER_StartCombin(&slot) == 0;
    RKPLAYER_EndCombin(&slot);
    if (!ok) return Failure("CutFile:" + outPath.string() + " Fail");
    CutResult r;
    r.ok = true;
    r.files.push_back(outPath);
    return r;
}

}  // namespace velmor
