#include "player/playback/FrameSource.h"

#include <algorithm>
#include <system_error>

#include "container/include/rkcontainer.h"
#include "media/include/rkmedia.h"
#include "player/formats/IfvFile.h"
#include "player/playback/StreamRules.h"
#include "store/format/RkFormat.h"
#include "store/include/rkstore.h"
#include "player/playback/PlayClock.h"
#include "player/formats/TtxLibrary.h"

namespace velmor {

int64_t PlayPositionMs(uint64_t pts, uint32_t beginSecond)
{
    const int64_t d = int64_t(pts) - int64_t(beginSecond) * 1000000;
    return d >= 0 ? (d + 999) / 1000 : -((-d) / 1000);
}

EFrameResult CFrameSource::Fail(EFrameResult code, std::string text)
{
    m_error = std::move(text);
    return code;
}

void CFrameSource::Opened(EFrameResult code, std::string text)
{
    m_openResult = code;
    if (code != EFrameResult::kOk) m_error = std::move(text);
}

EFrameResult CFrameSource::Seek(uint32_t second)
{
    if (m_openResult != EFrameResult::kOk) return m_openResult;
    const EFrameResult rc = DoSeek(second);
    // A seek that lands starts the reading afresh, after an end or damage alike.
    if (rc == EFrameResult::kOk) m_sticky = EFrameResult::kOk;
    return rc;
}

EFrameResult CFrameSource::DoReadKeyBackward(SourceFrame&)
{
    return Fail(EFrameResult::kReadFailed, "this recording cannot be read backward");
}

EFrameResult CFrameSource::Read(SourceFrame& frame)
{
    if (m_openResult != EFrameResult::kOk) return m_openResult;
    if (m_sticky != EFrameResult::kOk) return m_sticky;
    EFrameResult rc;
    for (;;) {
        rc = m_filter == EFrameFilter::kKeyFramesBackward ? DoReadKeyBackward(frame) : DoRead(frame);
        if (rc != EFrameResult::kOk) break;
        const bool wanted = m_filter == EFrameFilter::kAll || m_filter == EFrameFilter::kKeyFramesBackward ||
                            (m_filter == EFrameFilter::kVideo && frame.kind == EFrameKind::kVideo) ||
                            (m_filter == EFrameFilter::kAudio && frame.kind == EFrameKind::kAudio) ||
                            (m_filter == EFrameFilter::kKeyFrames && frame.key);
        if (wanted) break;
    }
    if (rc == EFrameResult::kOk && frame.wallMs / 1000 > m_lastSecond) {
        m_sticky = EFrameResult::kEnd;
        return m_sticky;
    }
    if (rc != EFrameResult::kOk) {
        m_sticky = rc;
        return rc;
    }
    ++m_framesRead;
    return rc;
}

namespace {

std::string SeekFailure(uint32_t second, const char* what, uint32_t begin, uint32_t end)
{
    return "no I frame to seek to at second " + std::to_string(second) + " (the " + what + " covers " +
           std::to_string(begin) + " to " + std::to_string(end) + ")";
}

// Frame heads of container files and backup record files share one layout
// and one reading of the type byte.
void FillFromHead(SourceFrame& f, uint8_t type, uint32_t length, uint64_t pts, uint32_t begin, const uint8_t* data)
{
    f.kind = rkfs::IsVideoType(type) ? EFrameKind::kVideo
             : type == rkfs::kFrameAudio ? EFrameKind::kAudio
                                         : EFrameKind::kInfo;
    f.type = type;
    f.key = type == rkfs::kFrameI || type == rkfs::kFrameVideo3;
    f.pts = pts;
    f.ms = PlayPositionMs(pts, begin);
    f.wallMs = pts / 1000;
    f.durationMs = 0;
    f.data = data;
    f.length = length;
}

void DescribeContainer(SourceStream& s, const RKCONTAINER_ENCODE& enc)
{
    int w = 0, h = 0;
    if (RKCONTAINER_ConvResolution(nullptr, enc.reso, &w, &h, enc.videoStandard) == 0) {
        s.width = w;
        s.height = h;
    }
    s.h265 = IsH265Encoding(enc.vEnc);
    s.frameRate = enc.frameRate ? enc.frameRate : 25;
    s.hasAudio = enc.aEnc != 0;
    s.audioType = ContainerAudioType(enc.aEnc);
}

class CContainerSlot {
public:
    CContainerSlot() = default;
    ~CContainerSlot() { Close(); }
    CContainerSlot(const CContainerSlot&) = delete;
    CContainerSlot& operator=(const CContainerSlot&) = delete;
    bool Open(const std::filesystem::path& path)
    {
        Close();
        return RKCONTAINER_OpenFile(&m_slot, path.c_str()) == 0;
    }
    void Close()
    {
        if (m_slot) RKCONTAINER_CloseFile(&m_slot);
    }
    bool IsOpen() const { return m_slot != nullptr; }
    RKCONTAINER_HANDLE* Slot() { return &m_slot; }

private:
    RKCONTAINER_HANDLE m_slot = nullptr;
};

class CContainerFileSource : public CFrameSource {
public:
    CContainerFileSource(const std::filesystem::path& path, int channel, EStreamChoice stream)
        : m_buffer(RKCONTAINER_MAX_FRAME_SIZE)
    {
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        if (ec) {
            Opened(EFrameResult::kOpenFailed, "cannot read the file size");
            return;
        }
        if (!rkfs::IsContainerFileSize(size)) {
            Opened(EFrameResult::kOpenFailed, "not a container file: " + std::to_string(size) +
                                                  " bytes, a container file has 134217728 or 268435456");
            return;
        }
        if (channel < 0 || channel > 16) {
            Opened(EFrameResult::kNoChannel, "the channel must be 1 to 16");
            return;
        }
        if (!m_file.Open(path)) {
            Opened(EFrameResult::kOpenFailed, "cannot open the file");
            return;
        }
        uint32_t begin = 0, end = 0;
        if (channel == 0) {
            uint32_t mask = 0;
            const int rc = RKCONTAINER_GetSomeChnFileInfo(m_file.Slot(), 0xFFFF, &begin, &end, &mask, nullptr);
            if (mask == 0) {
                Opened(EFrameResult::kOpenFailed,
                       rc < 0 ? "cannot read the block heads" : "no recording in this container file");
                return;
            }
            while (!(mask & (1u << channel))) ++channel;
            ++channel;
        }
        uint32_t streams = 0;
        RKCONTAINER_GetChnStreams(m_file.Slot(), channel - 1, &streams);
        const int choice = stream == EStreamChoice::kMain  ? RKCONTAINER_STREAM_MAIN
                           : stream == EStreamChoice::kSub ? RKCONTAINER_STREAM_SUB
                                                           : RKCONTAINER_STREAM_DEFAULT;
        RKCONTAINER_SetStream(m_file.Slot(), choice);
        RKCONTAINER_ENCODE enc{};
        const int rc = RKCONTAINER_GetOneChnFileInfo(m_file.Slot(), channel - 1, &begin, &end, &enc);
        if (rc == -5) {
            Opened(EFrameResult::kNoChannel, "channel " + std::to_string(channel) + " has no " +
                                                 (choice == RKCONTAINER_STREAM_SUB ? "sub" : "main") +
                                                 " stream in this file");
            return;
        }
        if (rc != 0) {
            Opened(EFrameResult::kNoChannel, "channel " + std::to_string(channel) + " has no recording in this file");
            return;
        }
        m_stream.begin = begin;
        m_stream.end = end;
        m_stream.channel = channel;
        m_stream.hasMainStream = streams & RKCONTAINER_HAS_MAIN;
        m_stream.hasSubStream = streams & RKCONTAINER_HAS_SUB;
        m_stream.subStream = choice == RKCONTAINER_STREAM_SUB || !m_stream.hasMainStream;
        DescribeContainer(m_stream, enc);
        Opened(EFrameResult::kOk);
    }

protected:
    EFrameResult DoSeek(uint32_t second) override
    {
        RKCONTAINER_ENCODE enc{};
        if (RKCONTAINER_SeekIFrame(m_file.Slot(), second, &enc) != 0)
            return Fail(EFrameResult::kSeekFailed, SeekFailure(second, "channel", m_stream.begin, m_stream.end));
        return EFrameResult::kOk;
    }

    EFrameResult DoRead(SourceFrame& frame) override
    {
        for (;;) {
            RKCONTAINER_FRAME_HEAD head{};
            RKCONTAINER_ENCODE enc{};
            const int rc = RKCONTAINER_ReadOneFrame(m_file.Slot(), m_buffer.data(), &head, &enc);
            if (rc == -4) return EFrameResult::kEnd;
            if (rc == -2) {
                ++m_badHeads;
                continue;
            }
            if (rc != 0) return Fail(EFrameResult::kReadFailed, "read error " + std::to_string(rc));
            if (head.sign != rkfs::kFrameSign) continue;
            FillFromHead(frame, head.type, head.length, head.pts, m_stream.begin, m_buffer.data());
            return EFrameResult::kOk;
        }
    }

private:
    CContainerSlot m_file;
    std::vector<uint8_t> m_buffer;
};

class CPartitionSpanSource : public CFrameSource {
public:
    CPartitionSpanSource(std::vector<std::filesystem::path> files, int channel, uint32_t from, uint32_t to)
        : m_files(std::move(files)), m_from(from), m_to(to), m_buffer(RKCONTAINER_MAX_FRAME_SIZE)
    {
        m_stream.channel = channel;
        if (channel < 0 || channel > 16) {
            Opened(EFrameResult::kNoChannel, "the channel must be 1 to 16");
            return;
        }
        if (!OpenNext() && !m_anyOpened) {
            Opened(EFrameResult::kOpenFailed, "no readable container file");
            return;
        }
        if (!m_described) {
            Opened(EFrameResult::kNoChannel, (channel ? "channel " + std::to_string(channel) : std::string("no channel")) +
                                                 " has no recording from " + std::to_string(from) + " to " +
                                                 std::to_string(to));
            return;
        }
        m_stream.begin = std::max(m_stream.begin, from);
        m_stream.end = to;
        Opened(EFrameResult::kOk);
    }

protected:
    // The span is read from its start; a seek elsewhere starts over at the
    // file that holds the second.
    EFrameResult DoSeek(uint32_t second) override
    {
        if (second < m_from || second > m_to)
            return Fail(EFrameResult::kSeekFailed, SeekFailure(second, "span", m_from, m_to));
        const uint32_t keep = m_from;
        m_from = second;
        m_next = 0;
        m_lastPts = m_skipUpTo = 0;
        const bool ok = OpenNext();
        m_from = keep;
        if (!ok) return Fail(EFrameResult::kSeekFailed, SeekFailure(second, "span", m_from, m_to));
        return EFrameResult::kOk;
    }

    EFrameResult DoRead(SourceFrame& frame) override
    {
        for (;;) {
            RKCONTAINER_FRAME_HEAD head{};
            RKCONTAINER_ENCODE enc{};
            const int rc = m_file.IsOpen() ? RKCONTAINER_ReadOneFrame(m_file.Slot(), m_buffer.data(), &head, &enc) : -4;
            if (rc == -2) {
                ++m_badHeads;
                continue;
            }
            if (rc != 0) {
                // A later file may repeat the seconds where it meets the
                // earlier one: what was already handed out is skipped.
                m_skipUpTo = m_lastPts;
                if (!OpenNext()) return EFrameResult::kEnd;
                continue;
            }
            if (head.sign != rkfs::kFrameSign || (m_skipUpTo && head.pts <= m_skipUpTo)) continue;
            m_lastPts = head.pts;
            FillFromHead(frame, head.type, head.length, head.pts, m_stream.begin, m_buffer.data());
            return EFrameResult::kOk;
        }
    }

private:
    bool OpenNext()
    {
        while (m_next < m_files.size()) {
            const auto& path = m_files[m_next++];
            m_file.Close();
            if (path.string().size() >= 260) continue;  // longer than the recorder's paths
            std::error_code ec;
            const auto size = std::filesystem::file_size(path, ec);
            if (ec || !rkfs::IsContainerFileSize(size) || !m_file.Open(path)) continue;
            m_anyOpened = true;
            uint32_t b = 0, e = 0;
            if (m_stream.channel == 0) {
                // The lowest channel of the first file that holds any.
                uint32_t mask = 0;
                RKCONTAINER_GetSomeChnFileInfo(m_file.Slot(), 0xFFFF, &b, &e, &mask, nullptr);
                if (!mask) continue;
                int c = 0;
                while (!(mask & (1u << c))) ++c;
                m_stream.channel = c + 1;
            }
            RKCONTAINER_ENCODE enc{};
            if (RKCONTAINER_GetOneChnFileInfo(m_file.Slot(), m_stream.channel - 1, &b, &e, &enc) != 0) continue;
            if (e < m_from || b > m_to) continue;
            if (b < m_from && RKCONTAINER_SeekIFrame(m_file.Slot(), m_from, &enc) != 0) continue;
            if (!m_described) {
                m_described = true;
                m_stream.begin = b;
                DescribeContainer(m_stream, enc);
            }
            return true;
        }
        m_file.Close();
        return false;
    }

    std::vector<std::filesystem::path> m_files;
    uint32_t m_from, m_to;
    size_t m_next = 0;
    bool m_described = false, m_anyOpened = false;
    uint64_t m_lastPts = 0, m_skipUpTo = 0;
    CContainerSlot m_file;
    std::vector<uint8_t> m_buffer;
};

// What a record file's encode record says of its stream (backup record files
// and record files on a mounted partition alike).
void DescribeRecordStream(const StRecEncode_t& enc, SourceStream& stream)
{
    uint32_t reso = enc.reso, width = 0, height = 0, standard = enc.videoStandard;
    if (RKSFS_ConvResolution(&reso, &width, &height, &standard, 1) == 0) {
        stream.width = int(width);
        stream.height = int(height);
    }
    stream.h265 = IsH265Encoding(int(enc.vEnc));
    stream.frameRate = enc.frameRate ? enc.frameRate : 25;
    stream.hasAudio = enc.aEnc != 0;
    stream.audioType = RecordAudioType(int(enc.aEnc));
}

class CBackupRecordSource : public CFrameSource {
public:
    CBackupRecordSource(const std::filesystem::path& path, int channel) : m_buffer(RKSFS_READ_BUFFER_SIZE)
    {
        if (RKSFS_OpenBakRecFile(&m_op, path.c_str()) != 0) {
            Opened(EFrameResult::kOpenFailed, "not a readable backup record file (no valid block head at its start)");
            return;
        }
        m_open = true;
        const int held = m_op.recFI.channel + 1;
        if (channel != 0 && channel != held) {
            Opened(EFrameResult::kNoChannel,
                   "the file holds channel " + std::to_string(held) + " only, not channel " + std::to_string(channel));
            return;
        }
        m_stream.begin = m_op.recFI.beginTime;
        m_stream.end = m_op.recFI.endTime;
        m_stream.channel = held;
        StRecEncode_t enc{};
        if (RKSFS_GetBakRecFileEncode(&m_op, &enc, nullptr) == 0) DescribeRecordStream(enc, m_stream);
        Opened(EFrameResult::kOk);
    }
    ~CBackupRecordSource() override
    {
        if (m_open) RKSFS_CloseBakRecFile(&m_op);
    }

protected:
    EFrameResult DoSeek(uint32_t second) override
    {
        if (RKSFS_SeekBakRecTime(&m_op, second) != 0)
            return Fail(EFrameResult::kSeekFailed, SeekFailure(second, "file", m_stream.begin, m_stream.end));
        return EFrameResult::kOk;
    }

    EFrameResult DoRead(SourceFrame& frame) override
    {
        RKSFS_FRAME_HEAD head{};
        const int rc = RKSFS_ReadBakRecFrame(&m_op, m_buffer.data(), m_buffer.size(), &head);
        if (rc == 0) return EFrameResult::kEnd;
        if (rc < 0)
            return Fail(EFrameResult::kReadFailed, "unreadable frame at offset " + std::to_string(m_op.curOffset));
        FillFromHead(frame, head.type, head.length, head.pts, m_stream.begin, m_buffer.data());
        return EFrameResult::kOk;
    }

private:
    StRecBakFileOp_t m_op{};
    bool m_open = false;
    std::vector<uint8_t> m_buffer;
};

class CMountedRecordSource : public CFrameSource {
public:
    explicit CMountedRecordSource(const StRecFileInfo_t& record)
        : m_fd(RKSFS_OpenRecFile(&record)), m_buffer(RKSFS_READ_BUFFER_SIZE)
    {
        if (m_fd < 0) {
            Opened(EFrameResult::kOpenFailed, "the record file cannot be opened (covered or changed)");
            return;
        }
        m_stream.begin = record.beginTime;
        m_stream.end = record.endTime;
        m_stream.channel = record.channel + 1;
        StRecEncode_t enc{};
        if (RKSFS_GetRecFileEncode(m_fd, &enc, nullptr) == 0) DescribeRecordStream(enc, m_stream);
        Opened(EFrameResult::kOk);
    }
    ~CMountedRecordSource() override
    {
        if (m_fd >= 0) RKSFS_CloseFile(m_fd);
    }

protected:
    EFrameResult DoSeek(uint32_t second) override
    {
        if (RKSFS_SeekTime(m_fd, second, nullptr) < 0)
            return Fail(EFrameResult::kSeekFailed, SeekFailure(second, "file", m_stream.begin, m_stream.end));
        return EFrameResult::kOk;
    }

    // The file system's own readers of one kind of frame, so that a filter
    // does not read what it drops.
    EFrameResult DoRead(SourceFrame& frame) override
    {
        RKSFS_FRAME_HEAD head{};
        const int n = Filter() == EFrameFilter::kVideo ? RKSFS_ReadVideoFrame(m_fd, m_buffer.data(), m_buffer.size(), &head)
                      : Filter() == EFrameFilter::kAudio
                          ? RKSFS_ReadAudioFrame(m_fd, m_buffer.data(), m_buffer.size(), &head)
                      : Filter() == EFrameFilter::kKeyFrames
                          ? RKSFS_ReadIFrame(m_fd, m_buffer.data(), m_buffer.size(), &head, 0)
                          : RKSFS_ReadFrame(m_fd, m_buffer.data(), m_buffer.size(), &head);
        return Hand(n, head, frame);
    }

    EFrameResult DoReadKeyBackward(SourceFrame& frame) override
    {
        RKSFS_FRAME_HEAD head{};
        return Hand(RKSFS_ReadIFrame(m_fd, m_buffer.data(), m_buffer.size(), &head, 1), head, frame);
    }

private:
    EFrameResult Hand(int n, const RKSFS_FRAME_HEAD& head, SourceFrame& frame)
    {
        if (n == 0) return EFrameResult::kEnd;
        if (n < 0)
            return Fail(EFrameResult::kReadFailed,
                        "unreadable frame after offset " + std::to_string(RKSFS_Ftell64(m_fd)));
        FillFromHead(frame, head.type, head.length, head.pts, m_stream.begin, m_buffer.data());
        return EFrameResult::kOk;
    }

    int m_fd;
    std::vector<uint8_t> m_buffer;
};

// Frame rate of an IFV file for decoders and writers: frames per second of
// its duration, rounded up when the remainder exceeds 4; the stored rate (or
// 25) when the file is shorter than a second.
float IfvStreamRate(uint32_t frames, uint32_t durationMs, float stored)
{
    const uint32_t seconds = durationMs / 1000;
    if (seconds == 0 || frames == 0) return stored > 0 ? stored : 25.0f;
    uint32_t rate = frames / seconds;
    if (frames % seconds > 4) ++rate;
    return float(std::max<uint32_t>(rate, 1));
}

class CIfvFileSource : public CFrameSource {
public:
    CIfvFileSource(const std::filesystem::path& path, int channel)
        : m_file(RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_READ)), m_buffer(RK_FILE_FRAME_BUFFER_SIZE)
    {
        if (!m_file) {
            Opened(EFrameResult::kOpenFailed, "not a readable IFV file");
            return;
        }
        if (channel != 0 && channel != 1) {
            Opened(EFrameResult::kNoChannel, "an IFV file holds one channel: 1, not " + std::to_string(channel));
            return;
        }
        FILEHANDLE* in = m_file;
        m_stream.begin = RK_FileGetStartTime(in);
        m_stream.end = RK_FileGetEndTime(in);
        m_stream.h265 = IsH265CodecCode(RK_FileGetVideoCodec(in));
        m_stream.width = RK_FileGetWidth(in);
        m_stream.height = RK_FileGetHeight(in);
        // The size the stream itself announces wins over the header's. The
        // probe moves the readers, so it runs on a handle of its own and the
        // first read still starts at the first record.
        if (FILEHANDLE* probe = RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_READ)) {
            uint16_t w = 0, h = 0;
            if (RK_FileGetVideoSizeByIFrame(probe, 0, m_stream.h265 ? 1 : 0, &w, &h) == 1 && w && h) {
                m_stream.width = w;
                m_stream.height = h;
            }
            RK_CloseFile2(probe);
        }
        m_stream.frameCount = RK_FileGetVideoFrameCount(in);
        m_stream.frameRate =
            IfvStreamRate(RK_FileGetVideoFrameCount(in), RK_FileGetDuration(in), RK_FileGetFrameRate(in));
        m_stream.hasAudio = RK_FileHasAudio(in) == 1;
        if (m_stream.hasAudio) {
            m_stream.audioType = IfvAudioTypeOfCode(RK_FileGetAudioCodec(in));
            m_stream.sampleWidth = RK_FileGetSampleWidth(in);
            m_stream.sampleRate = RK_FileGetSampleRate(in);
            m_stream.audioFrameBytes = RK_FileGetAudioFrameSize(in);
        }
        Opened(EFrameResult::kOk);
    }
    ~CIfvFileSource() override
    {
        if (m_file) RK_CloseFile2(m_file);
    }

protected:
    EFrameResult DoSeek(uint32_t second) override
    {
        const int rc = RK_FileSeekToSysTime(m_file, second);
        if (rc == 1) return EFrameResult::kOk;
        return Fail(EFrameResult::kSeekFailed, rc == 0 ? SeekFailure(second, "file", m_stream.begin, m_stream.end)
                                                       : "damaged index while seeking");
    }

    EFrameResult DoRead(SourceFrame& frame) override
    {
        uint32_t ts = 0, duration = 0;
        uint64_t pts = 0;
        uint8_t key = 0, media = 0;
        const int n = RK_FileReadOneMediaFrame2(m_file, m_buffer.data(), &ts, &pts, &duration, &key, &media);
        if (n == 0) return EFrameResult::kEnd;
        if (n < 0)
            return Fail(EFrameResult::kReadFailed,
                        "damaged or cut record after " + std::to_string(FramesRead()) + " records");
        frame.kind = media == RK_FILE_MEDIA_VIDEO   ? EFrameKind::kVideo
                     : media == RK_FILE_MEDIA_AUDIO ? EFrameKind::kAudio
                                                    : EFrameKind::kInfo;
        frame.type = key;
        frame.key = media == RK_FILE_MEDIA_VIDEO && key >= 3;
        frame.pts = pts;
        frame.ms = ts;
        frame.wallMs = uint64_t(m_stream.begin) * 1000 + ts;
        frame.durationMs = duration;
        frame.data = m_buffer.data();
        frame.length = uint32_t(n);
        return EFrameResult::kOk;
    }

private:
    FILEHANDLE* m_file;
    std::vector<uint8_t> m_buffer;
};

// An ordinary media file through the media engine: the engine demuxes and
// hands over one packet at a time; only the video packets become frames
// (the engine decodes recorder voice, not the sound of these files).
class CMediaFileSource : public CFrameSource {
public:
    CMediaFileSource(const std::filesystem::path& path, int channel)
    {
        if (channel != 0 && channel != 1) {
            Opened(EFrameResult::kNoChannel, "a media file holds one channel: 1, not " + std::to_string(channel));
            return;
        }
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) {
            Opened(EFrameResult::kOpenFailed, "not a readable file");
            return;
        }
        RKPLAYER_VIDEO_PARAM param{};
        int64_t durationUs = 0;
        const int rc = VIDEOPLAY_InitMediaFile(&m_player, path.c_str(), &param, nullptr, &durationUs);
        if (rc != 0) {
            Opened(EFrameResult::kOpenFailed, rc < 0 ? "no video stream in the media file"
                                                     : "not a readable media file (no stream information or decoder)");
            return;
        }
        // The first picture tells where the file's timeline starts; it is
        // kept and handed out by the first read.
        const EFrameResult first = NextPicture();
        if (first != EFrameResult::kOk) {
            Opened(EFrameResult::kOpenFailed,
                   first == EFrameResult::kEnd ? std::string("the media file holds no picture") : ErrorText());
            return;
        }
        m_pending = true;
        m_firstMs = std::max<int64_t>(m_positionMs, 0);
        m_stream.begin = uint32_t(m_firstMs / 1000);
        const int64_t seconds = std::max<int64_t>(durationUs, 0) / 1000000;
        m_stream.end = uint32_t(std::min<int64_t>(int64_t(m_stream.begin) + seconds, UINT32_MAX));
        m_stream.channel = 1;
        m_stream.width = param.width;
        m_stream.height = param.height;
        m_stream.h265 = param.videoType == 1;
        m_stream.frameRate = param.frameRate > 0 ? float(param.frameRate) : 25.0f;
        m_stream.hasAudio = false;
        Opened(EFrameResult::kOk);
    }
    ~CMediaFileSource() override
    {
        if (m_player) VIDEOPLAY_UnitMediaFile(&m_player);
    }

protected:
    EFrameResult DoSeek(uint32_t second) override
    {
        if (second < m_stream.begin || second > m_stream.end)
            return Fail(EFrameResult::kSeekFailed, SeekFailure(second, "file", m_stream.begin, m_stream.end));
        const int64_t ms = std::max<int64_t>(int64_t(second) * 1000 - m_firstMs, 0);
        if (VIDEOPLAY_SeekTimeTo(&m_player, ms) != 0)
            return Fail(EFrameResult::kSeekFailed, SeekFailure(second, "file", m_stream.begin, m_stream.end));
        // A demuxer may land before the key frame; what precedes it is not
        // handed out.
        m_pending = false;
        m_needKey = true;
        m_paced = 0;
        return EFrameResult::kOk;
    }

    EFrameResult DoRead(SourceFrame& frame) override
    {
        if (!m_pending) {
            for (;;) {
                const EFrameResult rc = NextPicture();
                if (rc != EFrameResult::kOk) return rc;
                if (!m_needKey || m_key) break;
            }
        }
        m_pending = false;
        m_needKey = false;
        frame.kind = EFrameKind::kVideo;
        frame.type = m_key ? 1 : 0;
        frame.key = m_key;
        // Pictures come in decoding order, whose presentation times go back
        // and forth where a file has reordered pictures: the time stamp the
        // play loop paces by counts pictures at the stream's rate from the
        // first one handed out (after a seek, from the key frame).
        if (m_paced == 0) m_paceBaseUs = uint64_t(std::max<int64_t>(m_positionMs, 0)) * 1000;
        frame.pts = m_paceBaseUs + uint64_t(double(m_paced++) * 1e6 / double(m_stream.frameRate > 0 ? m_stream.frameRate : 25));
        frame.wallMs = uint64_t(std::max<int64_t>(m_positionMs, 0));
        frame.ms = int64_t(frame.wallMs) - int64_t(m_stream.begin) * 1000;
        frame.durationMs = 0;
        frame.data = m_buffer.data();
        frame.length = m_length;
        return EFrameResult::kOk;
    }

private:
    // Larger than any picture a decoder here takes: a packet size beyond it
    // is damage, not a frame.
    static constexpr int kMaxPacketBytes = 64 << 20;

    // Reads on to the next video packet and copies it out.
    EFrameResult NextPicture()
    {
        for (;;) {
            int isAudio = 0;
            int64_t pts = 0;
            const int rc = VIDEOPLAY_ReadOneFrame(&m_player, &isAudio, &pts);
            if (rc == VIDEOPLAY_READ_END) return EFrameResult::kEnd;
            if (rc < 0)
                return Fail(EFrameResult::kReadFailed, "damaged media file: read error " + std::to_string(rc) +
                                                           " after " + std::to_string(FramesRead()) + " pictures");
            int length = 0, key = 0;
            int64_t position = 0;
            int got = VIDEOPLAY_GetCurrentPacket(&m_player, m_buffer.data(), int(m_buffer.size()), &length, &key,
                                                 &position);
            if (got == VIDEOPLAY_PACKET_NONE) continue;  // sound or another stream
            if (got == VIDEOPLAY_PACKET_SMALL_BUFFER) {
                if (length > kMaxPacketBytes)
                    return Fail(EFrameResult::kReadFailed,
                                "damaged media file: a video packet of " + std::to_string(length) + " bytes");
                m_buffer.resize(size_t(length));
                got = VIDEOPLAY_GetCurrentPacket(&m_player, m_buffer.data(), int(m_buffer.size()), &length, &key,
                                                 &position);
            }
            if (got != VIDEOPLAY_PACKET_OK)
                return Fail(EFrameResult::kReadFailed, "the media engine gave no packet (" + std::to_string(got) + ")");
            if (length <= 0) continue;  // an empty packet carries no picture
            m_length = uint32_t(length);
            m_key = key != 0;
            m_positionMs = position;
            return EFrameResult::kOk;
        }
    }

    RKPLAYER_HANDLE m_player = nullptr;
    std::vector<uint8_t> m_buffer = std::vector<uint8_t>(256 * 1024);
    uint32_t m_length = 0;
    bool m_key = false;
    int64_t m_positionMs = 0;
    int64_t m_firstMs = 0;
    bool m_pending = false;  // the packet read is still to be handed out
    bool m_needKey = false;  // after a seek
    uint64_t m_paced = 0;       // pictures handed out since the base
    uint64_t m_paceBaseUs = 0;
};

class CGrecFileSource : public CFrameSource {
public:
    CGrecFileSource(const std::filesystem::path& path, int channel)
        : m_file(CTtxLibrary::Shared()), m_buffer(1 << 20)
    {
        if (!m_file.Library().Loaded()) {
            Opened(EFrameResult::kOpenFailed, m_file.Library().Error());
            return;
        }
        if (m_file.Open(path) != AVFILE_OK) {
            PLAY_TRACE("OpenTTXFile Fail");
            Opened(EFrameResult::kOpenFailed, m_file.Error());
            return;
        }
        if (channel != 0 && channel != 1) {
            Opened(EFrameResult::kNoChannel, "a grec file holds one channel: 1, not " + std::to_string(channel));
            return;
        }
        CTtxLibrary& lib = m_file.Library();
        AVFILE_FILE_INFO info{};
        AVFILE_WAVE_FORMAT wave{};
        if (lib.FEGetFileInfo(m_file.Slot(), &info) != AVFILE_OK ||
            lib.FEGetWaveFormat(m_file.Slot(), &wave) != AVFILE_OK) {
            Opened(EFrameResult::kOpenFailed, m_file.Error());
            return;
        }
        m_stream.begin = uint32_t(info.beginTime / 1000000);
        m_stream.end = uint32_t(info.endTime / 1000000);
        m_stream.channel = 1;
        m_stream.width = info.width;
        m_stream.height = info.height;
        m_stream.h265 = info.videoCompress == AVFILE_VIDEO_H265;
        m_stream.frameRate = info.frameRate > 0 ? float(info.frameRate) : 25.0f;
        m_stream.hasAudio = info.hasAudio && wave.encoding != 0;
        if (m_stream.hasAudio) {
            bool known = true;
            m_stream.audioType = GetTTXAudioType(wave.encoding, wave.rateCode, &known);
            if (!known) PLAY_TRACE("Unsupply Type:audioEnc:%d,AudioRate:%d", wave.encoding, wave.rateCode);
            m_stream.sampleRate = wave.sampleRate;
        }
        PLAY_TRACE("InitDec:width:%d,height:%d,vCompress:%d", info.width, info.height, info.videoCompress);
        Opened(EFrameResult::kOk);
    }

protected:
    EFrameResult DoSeek(uint32_t second) override
    {
        CTtxLibrary& lib = m_file.Library();
        const int rc = lib.FESeekIFrame(m_file.Slot(), uint64_t(second) * 1000000);
        if (rc == AVFILE_OK) return EFrameResult::kOk;
        return Fail(EFrameResult::kSeekFailed, rc == AVFILE_ERR_RANGE
                                                   ? SeekFailure(second, "file", m_stream.begin, m_stream.end)
                                                   : m_file.Error());
    }

    EFrameResult DoRead(SourceFrame& frame) override
    {
        CTtxLibrary& lib = m_file.Library();
        AVFILE_FRAME head{};
        int n = lib.FEReadFrame(m_file.Slot(), m_buffer.data(), uint32_t(m_buffer.size()), &head);
        if (n == AVFILE_ERR_BUFFER && head.length <= AVFILE_MAX_FRAME_SIZE) {
            m_buffer.resize(head.length);
            n = lib.FEReadFrame(m_file.Slot(), m_buffer.data(), uint32_t(m_buffer.size()), &head);
        }
        if (n == 0) return EFrameResult::kEnd;
        if (n < 0) {
            PLAY_TRACE("FEReadTTXFrame Fail");
            return Fail(EFrameResult::kReadFailed, m_file.Error());
        }
        frame.kind = head.type == AVFILE_FRAME_VIDEO   ? EFrameKind::kVideo
                     : head.type == AVFILE_FRAME_AUDIO ? EFrameKind::kAudio
                                                       : EFrameKind::kInfo;
        frame.type = head.type;
        frame.key = head.type == AVFILE_FRAME_VIDEO && head.key;
        frame.pts = head.timeUs;
        frame.ms = PlayPositionMs(head.timeUs, m_stream.begin);
        frame.wallMs = head.timeUs / 1000;
        frame.durationMs = 0;
        frame.data = m_buffer.data();
        frame.length = uint32_t(n);
        return EFrameResult::kOk;
    }

private:
    CTtxFile m_file;
    std::vector<uint8_t> m_buffer;
};

}  // namespace

std::unique_ptr<CFrameSource> CFrameSource::OpenGrecFile(const std::filesystem::path& path, int channel)
{
    return std::make_unique<CGrecFileSource>(path, channel);
}

std::unique_ptr<CFrameSource> CFrameSource::OpenMediaFile(const std::filesystem::path& path, int channel)
{
    return std::make_unique<CMediaFileSource>(path, channel);
}

std::unique_ptr<CFrameSource> CFrameSource::OpenContainerFile(const std::filesystem::path& path, int channel,
                                                              EStreamChoice stream)
{
    return std::make_unique<CContainerFileSource>(path, channel, stream);
}

std::unique_ptr<CFrameSource> CFrameSource::OpenPartitionSpan(std::vector<std::filesystem::path> files, int channel,
                                                              uint32_t from, uint32_t to)
{
    return std::make_unique<CPartitionSpanSource>(std::move(files), channel, from, to);
}

std::unique_ptr<CFrameSource> CFrameSource::OpenBackupRecord(const std::filesystem::path& path, int channel)
{
    return std::make_unique<CBackupRecordSource>(path, channel);
}

std::unique_ptr<CFrameSource> CFrameSource::OpenIfvFile(const std::filesystem::path& path, int channel)
{
    return std::make_unique<CIfvFileSource>(path, channel);
}

std::unique_ptr<CFrameSource> CFrameSource::OpenMountedRecord(const StRecFileInfo_t& record)
{
    return std::make_unique<CMountedRecordSource>(record);
}

std::unique_ptr<CFrameSource> CFrameSource::OpenFile(ESourceKind kind, const std::filesystem::path& path, int channel,
                                                     EStreamChoice stream)
{
    switch (kind) {
        case ESourceKind::kContainerFile: return OpenContainerFile(path, channel, stream);
        case ESourceKind::kBackupRecordFile: return OpenBackupRecord(path, channel);
        case ESourceKind::kIfvFile: return OpenIfvFile(path, channel);
        case ESourceKind::kMediaFile: return OpenMediaFile(path, channel);
        case ESourceKind::kGrecFile: return OpenGrecFile(path, channel);
        default: return nullptr;
    }
}

}  // namespace velmor
