// The writing half: the objects with their creation values, parameters,
// frame writes that fill one segment at a time, and the finishing close.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "player/formats/CustomMp4File.h"

namespace ifv {

namespace {

uint32_t NowSeconds() { return uint32_t(std::time(nullptr)); }

uint16_t ToU16(int v) { return uint16_t(v < 0 ? 0 : v > 0xFFFF ? 0xFFFF : v); }
uint32_t ToU32(int v) { return uint32_t(v < 0 ? 0 : v); }

}  // namespace

// ---- CWriteFile -----------------------------------------------------------------

CWriteFile::~CWriteFile()
{
    if (m_fd >= 0) ::close(m_fd);
}

bool CWriteFile::Create(const char* path, int* error)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = errno;
        return false;
    }
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
    return true;
}

bool CWriteFile::WriteAt(uint64_t offset, const void* data, size_t n, int* error)
{
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::pwrite(m_fd, p + done, n - done, off_t(offset + done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (error) *error = w < 0 ? errno : ENOSPC;
            return false;
        }
        done += size_t(w);
    }
    return true;
}

int CWriteFile::Close(int* error)
{
    if (m_fd < 0) return 0;
    const int rc = ::close(m_fd);
    m_fd = -1;
    if (rc != 0 && error) *error = errno;
    return rc;
}

// ---- Writer ---------------------------------------------------------------------

int CCustomMp4File::OpenForWriting(const char* path)
{
    int error = 0;
    if (!path || !m_writer.Create(path, &error)) {
        Message("open file failed\n");
        return -1;
    }
    m_mode = 1;
    m_base = 0;
    const uint32_t now = NowSeconds();

    m_fileProps = ZeroObject<StFilePropertiesObject_t>();
    std::memcpy(m_fileProps.guid, kFilePropertiesGuid, 16);
    m_fileProps.size.set(sizeof(StFilePropertiesObject_t));
    std::memcpy(m_fileProps.description, kDescription, sizeof kDescription);
    m_fileProps.beginTime.set(now);
    m_fileProps.endTime.set(now);
    m_fileProps.fileLength.set(kFirstSegmentOffset);

    m_videoProps = ZeroObject<StVideoStreamPropertiesObject_t>();
    std::memcpy(m_videoProps.guid, kVideoStreamGuid, 16);
    m_videoProps.size.set(sizeof(StVideoStreamPropertiesObject_t));
    m_videoProps.timeScale.set(1000);
    m_videoProps.width.set(352);
    m_videoProps.height.set(288);
    m_videoProps.setFrameRate(25.0f);
    m_videoProps.bufferSize.set(0x80000);
    m_videoProps.codec.set(FourCC("XVID"));
    m_videoProps.horizontalDpi.set(72);
    m_videoProps.verticalDpi.set(72);
    m_videoProps.bitsPerPixel.set(24);

    m_audioProps = ZeroObject<StAudioStreamPropertiesObject_t>();
    std::memcpy(m_audioProps.guid, kAudioStreamGuid, 16);
    m_audioProps.size.set(sizeof(StAudioStreamPropertiesObject_t));
    m_audioProps.timeScale.set(1000);
    m_audioProps.channels.set(1);
    m_audioProps.sampleWidth.set(8);
    m_audioProps.sampleRate.set(8000);
    m_audioProps.bytesPerFrame.set(240);
    m_audioProps.frameDurationMs.set(30);

    m_mediaData = ZeroObject<StMediaDataObject_t>();
    std::memcpy(m_mediaData.guid, kMediaDataGuid, 16);
    m_mediaData.size.set(sizeof(StMediaDataObject_t));

    StartSegment(kFirstSegmentOffset);
    const bool ok = WriteFileProperties() && WriteVideoProperties() && WriteAudioProperties() && WriteMediaData() &&
                    WriteSegmentHeader(m_current, sizeof(StMdatSegmentHeader_t));
    if (!ok) {
        m_writer.Close(nullptr);
        return -1;
    }
    m_dataEnd = kFirstSegmentOffset + sizeof(StMdatSegmentHeader_t);
    return 0;
}

bool CCustomMp4File::custommp4_write_data(uint64_t offset, const void* data, size_t n)
{
    // Readers refuse data at or beyond 256 MiB; writing it would make an
    // export that looks complete and is not.
    if (offset > kMaxDataPosition) {
        Info("custommp4_write_data:file_pos=%ld\n", long(offset));
        return false;
    }
    int error = 0;
    if (!m_writer.WriteAt(offset, data, n, &error)) {
        Message("custommp4_write_data:fwrite error=%d,errno=%d,errstr=%s\n", -1, error, std::strerror(error));
        return false;
    }
    return true;
}

bool CCustomMp4File::WriteFileProperties()
{
    return custommp4_write_data(kFilePropertiesOffset, &m_fileProps, sizeof m_fileProps);
}
bool CCustomMp4File::WriteVideoProperties()
{
    return custommp4_write_data(kVideoStreamOffset, &m_videoProps, sizeof m_videoProps);
}
bool CCustomMp4File::WriteAudioProperties()
{
    return custommp4_write_data(kAudioStreamOffset, &m_audioProps, sizeof m_audioProps);
}
bool CCustomMp4File::WriteMediaData() { return custommp4_write_data(kMediaDataOffset, &m_mediaData, sizeof m_mediaData); }

bool CCustomMp4File::WriteSegmentHeader(const SegmentRecord& seg, uint32_t size)
{
    auto head = ZeroObject<StMdatSegmentHeader_t>();
    std::memcpy(head.guid, kSegmentGuid, 16);
    head.size.set(size);
    head.firstTimestamp.set(seg.firstTimestamp);
    head.lastTimestamp.set(seg.lastTimestamp);
    head.videoFrames.set(seg.videoFrames);
    head.audioFrames.set(seg.audioFrames);
    head.videoCapacity.set(seg.videoCapacity);
    head.audioCapacity.set(seg.audioCapacity);
    head.attachCount.set(seg.attachCount);
    return custommp4_write_data(seg.start, &head, sizeof head);
}

void CCustomMp4File::StartSegment(uint64_t start)
{
    const uint32_t now = NowSeconds();
    m_current = SegmentRecord{};
    m_current.start = start;
    m_current.firstTimestamp = now;  // placeholders until the first record
    m_current.lastTimestamp = now;
    m_current.videoCapacity = m_videoParams ? kVideoIndexCapacity : 0;
    m_current.audioCapacity = m_audioParams ? kAudioIndexCapacity : 0;
    m_current.attachCapacity = m_fileProps.attachFlag ? kAttachIndexCapacity : 0;
}

uint64_t CCustomMp4File::NextPayloadPosition() const
{
    if (!m_current.Empty()) return m_dataEnd;
    return m_current.start +
           DataAreaOffset(m_current.videoCapacity, m_current.audioCapacity, m_current.attachCapacity);
}

void CCustomMp4File::Record(uint64_t payloadAt, uint32_t length, uint32_t timestamp)
{
    if (m_current.Empty()) m_current.firstTimestamp = timestamp;
    m_current.lastTimestamp = timestamp;
    m_dataEnd = payloadAt + length;
}

bool CCustomMp4File::CloseSegment(bool startNew)
{
    if (!WriteSegmentHeader(m_current, uint32_t(m_dataEnd - m_current.start))) return false;
    ++m_segmentCount;
    m_mediaData.segmentCount.set(m_segmentCount);
    if (!WriteMediaData()) return false;
    m_lastClosedTimestamp = m_current.lastTimestamp;
    if (startNew) StartSegment(m_dataEnd);
    return true;
}

int CCustomMp4File::SetVideoParam(int width, int height, float frameRate, int codec)
{
    m_videoProps.timeScale.set(1000);
    m_videoProps.width.set(ToU16(width));
    m_videoProps.height.set(ToU16(height));
    m_videoProps.setFrameRate(frameRate);
    m_videoProps.bufferSize.set(0x80000);
    m_videoProps.codec.set(codec == 1 ? FourCC("H265") : FourCC("H264"));
    m_videoProps.bitsPerPixel.set(24);
    m_videoParams = true;
    if (m_current.Empty()) m_current.videoCapacity = kVideoIndexCapacity;
    return WriteFileProperties() && WriteVideoProperties() ? 0 : -1;
}

int CCustomMp4File::SetAudioParam(int channels, int sampleWidth, int sampleRate, int codecIndex, int bytesPerFrame,
                                  int frameDurationMs)
{
    m_audioProps.timeScale.set(1000);
    m_audioProps.channels.set(ToU16(channels));
    m_audioProps.sampleWidth.set(ToU16(sampleWidth));
    m_audioProps.sampleRate.set(ToU32(sampleRate));
    m_audioProps.codec.set(AudioCodecForIndex(codecIndex));
    m_audioProps.bytesPerFrame.set(ToU32(bytesPerFrame));
    m_audioProps.frameDurationMs.set(ToU32(frameDurationMs));
    m_audioParams = true;
    if (m_current.Empty()) m_current.audioCapacity = kAudioIndexCapacity;
    return WriteFileProperties() && WriteAudioProperties() ? 0 : -1;
}

int CCustomMp4File::EnableAttach()
{
    m_fileProps.attachFlag = 1;
    const bool ok = WriteFileProperties();
    if (m_current.Empty())
        m_current.attachCapacity = kAttachIndexCapacity;
    else
        Info("file->p_mdat_sect_t->video_frames = %u, file->p_mdat_sect_t->audio_frames = %u\n",
                m_current.videoFrames, m_current.audioFrames);
    return ok ? 0 : -1;
}

int CCustomMp4File::SetStartTime(uint32_t time)
{
    m_fileProps.beginTime.set(time);
    m_fileProps.endTime.set(time);
    // Written now as well, so that a file whose writer never closes still
    // carries its begin time.
    return WriteFileProperties() ? 0 : -1;
}

int CCustomMp4File::WriteVideoFrame(const uint8_t* data, uint32_t length, uint32_t timestamp, uint8_t frameType,
                                    uint64_t pts, int* segmentClosed)
{
    if (segmentClosed) *segmentClosed = 0;
    if (m_current.videoCapacity == 0 || m_current.videoFrames >= m_current.videoCapacity) return -1;
    // A frame no reader could take back is refused here, not written.
    if (!data || length == 0 || length > kFrameBufferSize) return -1;
    const uint64_t at = NextPayloadPosition();
    if (!custommp4_write_data(at, data, length)) return -1;
    auto entry = ZeroObject<StVideoIndexEntry_t>();
    entry.offset.set(uint32_t(at));
    entry.length.set(length);
    entry.pts.set(pts);
    entry.timestamp.set(timestamp);
    entry.bkey = frameType;
    const uint64_t entryAt =
        m_current.start + VideoIndexAreaOffset() + uint64_t(sizeof entry) * m_current.videoFrames;
    if (!custommp4_write_data(entryAt, &entry, sizeof entry)) return -1;
    Record(at, length, timestamp);
    ++m_current.videoFrames;
    if (m_current.videoFrames >= kVideoIndexCapacity) {
        if (!CloseSegment(true)) return -1;
        if (segmentClosed) *segmentClosed = 1;
    }
    return int(length);
}

int CCustomMp4File::WriteAudioFrame(const uint8_t* data, uint32_t length, uint32_t timestamp, int* segmentClosed)
{
    if (segmentClosed) *segmentClosed = 0;
    if (m_current.audioCapacity == 0 || m_current.audioFrames >= m_current.audioCapacity) return -1;
    if (!data || length == 0 || length > kFrameBufferSize) return -1;
    const uint64_t at = NextPayloadPosition();
    // The caller's length is what is written: the stream's bytes-per-frame
    // value may be larger than the data handed in.
    if (!custommp4_write_data(at, data, length)) return -1;
    auto entry = ZeroObject<StAudioIndexEntry_t>();
    entry.offset.set(uint32_t(at));
    entry.length.set(length);
    entry.timestamp.set(timestamp);
    const uint64_t entryAt = m_current.start + AudioIndexAreaOffset(m_current.videoCapacity) +
                             uint64_t(sizeof entry) * m_current.audioFrames;
    if (!custommp4_write_data(entryAt, &entry, sizeof entry)) return -1;
    Record(at, length, timestamp);
    ++m_current.audioFrames;
    if (m_current.audioFrames >= kAudioIndexCapacity) {
        if (!CloseSegment(true)) return -1;
        if (segmentClosed) *segmentClosed = 1;
    }
    return int(length);
}

int CCustomMp4File::WriteAttachFrame(const uint8_t* data, uint32_t length, uint32_t timestamp, int* segmentClosed)
{
    if (segmentClosed) *segmentClosed = 0;
    if (m_current.attachCapacity == 0 || m_current.attachCount >= m_current.attachCapacity) return -1;
    // The entry holds 120 bytes; a longer record is refused, never cut.
    if (!data || length == 0 || length > kAttachPayloadMax) return -1;
    const uint64_t at = NextPayloadPosition();
    if (!custommp4_write_data(at, data, length)) return -1;
    auto entry = ZeroObject<StAttachIndexEntry_t>();
    entry.length.set(length);
    entry.timestamp.set(timestamp);
    std::memcpy(entry.payload, data, length);
    const uint64_t entryAt = m_current.start + AttachIndexAreaOffset(m_current.videoCapacity, m_current.audioCapacity) +
                             uint64_t(sizeof entry) * m_current.attachCount;
    if (!custommp4_write_data(entryAt, &entry, sizeof entry)) return -1;
    Record(at, length, timestamp);
    ++m_current.attachCount;
    if (m_current.attachCount >= kAttachIndexCapacity) {
        if (!CloseSegment(true)) return -1;
        if (segmentClosed) *segmentClosed = 1;
    }
    return int(length);
}

int CCustomMp4File::custommp4_destroy()
{
    int rc = 0;
    if (m_mode == 1 && m_writer.IsOpen()) {
        // Attach records count too: a last segment holding only them is
        // kept, not dropped.
        if (!m_current.Empty() && !CloseSegment(false)) rc = -1;
        if (m_segmentCount > 0) {
            const uint64_t end = uint64_t(m_fileProps.beginTime.get()) + m_lastClosedTimestamp / 1000;
            m_fileProps.endTime.set(end > UINT32_MAX ? UINT32_MAX : uint32_t(end));
        }
        m_fileProps.fileLength.set(uint32_t(m_dataEnd));
        if (!WriteFileProperties()) rc = -1;
        int error = 0;
        const int closed = m_writer.Close(&error);
        if (closed != 0) {
            Message("custommp4_destroy:fclose error=%d,errno=%d,errstr=%s\n", closed, error, std::strerror(error));
            rc = -1;
        }
    }
    m_reader.Close();
    return rc;
}

}  // namespace ifv
