// The reading half: open and checks, the segment walk, index tables, the
// time-ordered read, the seeks and the video-only read.
#include <algorithm>
#include <cstring>
#include <new>

#include "media/include/rkmedia.h"
#include "player/formats/CustomMp4File.h"

namespace ifv {

namespace {

constexpr uint32_t kLastVideoDuration = 40;
constexpr uint32_t kAudioDuration = 30;
constexpr uint32_t kSeekAllowanceMs = 1600;

bool SameGuid(const uint8_t* a, const uint8_t (&b)[16]) { return std::memcmp(a, b, 16) == 0; }

uint32_t Clamp32(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : uint32_t(v); }

// Timestamps out of order give 0, never a wrapped duration of weeks.
uint32_t Gap(uint32_t from, uint32_t to) { return to >= from ? to - from : 0; }

}  // namespace

int CCustomMp4File::OpenForReading(const char* path, int64_t baseOffset)
{
    int error = 0;
    if (!path || baseOffset < 0 || !m_reader.Open(path, &error)) {
        Message("open file failed\n");
        return -1;
    }
    m_mode = 0;
    m_base = baseOffset;
    if (ReadFilePropertiesObject() != 0 || ReadVideoStreamPropertiesObject() != 0 ||
        ReadAudioStreamPropertiesObject() != 0) {
        m_reader.Close();
        return -1;
    }
    const uint32_t count = m_mediaData.segmentCount.get();
    if (count != 0) {
        if (ReadmdatSegmentObjects(count) != 0) {
            m_reader.Close();
            return -1;
        }
        m_videoBefore.assign(1, 0);
        m_audioBefore.assign(1, 0);
        for (const SegmentRecord& seg : m_segments) {
            m_totalVideo += seg.videoFrames;
            m_totalAudio += seg.audioFrames;
            m_totalAttach += seg.attachCount;
            m_videoBefore.push_back(m_totalVideo);
            m_audioBefore.push_back(m_totalAudio);
        }
        // Room for one segment's entries up front; a larger segment grows them.
        try {
            m_tables.video.reserve(std::min<uint64_t>(m_totalVideo, kVideoIndexCapacity));
        } catch (const std::bad_alloc&) {
            Message("alloc memory for video table failed\n");
            m_reader.Close();
            return -1;
        }
        try {
            m_tables.audio.reserve(std::min<uint64_t>(m_totalAudio, kAudioIndexCapacity));
        } catch (const std::bad_alloc&) {
            Message("alloc memory for audio table failed\n");
            m_reader.Close();
            return -1;
        }
        try {
            m_tables.attach.reserve(std::min<uint64_t>(m_totalAttach, kAttachIndexCapacity));
        } catch (const std::bad_alloc&) {
            Message("alloc memory for attach table failed\n");
            m_reader.Close();
            return -1;
        }
        if (ReadmdatIndexTable(0, m_tables) != 0) {
            m_reader.Close();
            return -1;
        }
    }
    ComputeTimeLine();
    return 0;
}

int CCustomMp4File::ReadFilePropertiesObject()
{
    uint8_t raw[sizeof(StFilePropertiesObject_t)];
    if (m_reader.ReadAt(uint64_t(m_base), raw, sizeof raw) != sizeof raw) {
        Message("ReadFilePropertiesObject failed 1\n");
        return -1;
    }
    const auto object = LoadObject<StFilePropertiesObject_t>(raw);
    if (!SameGuid(object.guid, kFilePropertiesGuid)) {
        Message("ReadFilePropertiesObject failed 2\n");
        return -1;
    }
    if (object.size.get() != sizeof raw) {
        Message("ReadFilePropertiesObject failed 3\n");
        return -1;
    }
    m_fileProps = object;
    return 0;
}

int CCustomMp4File::ReadVideoStreamPropertiesObject()
{
    uint8_t raw[sizeof(StVideoStreamPropertiesObject_t)];
    if (m_reader.ReadAt(uint64_t(m_base) + kVideoStreamOffset, raw, sizeof raw) != sizeof raw) {
        Message("ReadVideoStreamPropertiesObject failed\n");
        return -1;
    }
    const auto object = LoadObject<StVideoStreamPropertiesObject_t>(raw);
    if (!SameGuid(object.guid, kVideoStreamGuid) || object.size.get() != sizeof raw) {
        Message("ReadVideoStreamPropertiesObject failed\n");
        return -1;
    }
    m_videoProps = object;
    return 0;
}

// The audio object and the media data object behind it share one message.
int CCustomMp4File::ReadAudioStreamPropertiesObject()
{
    uint8_t raw[sizeof(StAudioStreamPropertiesObject_t)];
    uint8_t mdat[sizeof(StMediaDataObject_t)];
    if (m_reader.ReadAt(uint64_t(m_base) + kAudioStreamOffset, raw, sizeof raw) != sizeof raw) {
        Message("ReadAudioStreamPropertiesObject failed\n");
        return -1;
    }
    const auto object = LoadObject<StAudioStreamPropertiesObject_t>(raw);
    if (!SameGuid(object.guid, kAudioStreamGuid) || object.size.get() != sizeof raw) {
        Message("ReadAudioStreamPropertiesObject failed\n");
        return -1;
    }
    if (m_reader.ReadAt(uint64_t(m_base) + kMediaDataOffset, mdat, sizeof mdat) != sizeof mdat) {
        Message("ReadAudioStreamPropertiesObject failed\n");
        return -1;
    }
    const auto media = LoadObject<StMediaDataObject_t>(mdat);
    if (!SameGuid(media.guid, kMediaDataGuid)) {
        Message("ReadAudioStreamPropertiesObject failed\n");
        return -1;
    }
    m_audioProps = object;
    m_mediaData = media;
    return 0;
}

int CCustomMp4File::ReadmdatSegmentObjects(uint32_t count)
{
    // The table grows with the headers actually found: a count of four
    // billion in a small file costs nothing, and every segment is at least
    // 48 bytes long, so the walk ends with the file.
    try {
        uint64_t start = kFirstSegmentOffset;
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t next = 0;
            if (ReadmdatSegmentObject(i + 1, start, &next) != 0) {
                if (i == 0) return -1;
                break;
            }
            start = next;
        }
    } catch (const std::bad_alloc&) {
        Message("alloc memory for sect table failed\n");
        return -1;
    }
    return 0;
}

int CCustomMp4File::ReadmdatSegmentObject(uint32_t number, uint64_t start, uint64_t* next)
{
    const int n = int(number);
    const int offset = int(uint32_t(start));
    uint8_t raw[sizeof(StMdatSegmentHeader_t)];
    if (m_reader.ReadAt(uint64_t(m_base) + start, raw, sizeof raw) != sizeof raw) {
        Message("ReadmdatSegmentObject%d (offset:%d) failed 1\n", n, offset);
        return -1;
    }
    const auto head = LoadObject<StMdatSegmentHeader_t>(raw);
    if (!SameGuid(head.guid, kSegmentGuid)) {
        Message("ReadmdatSegmentObject%d (offset:%d) failed 2\n", n, offset);
        return -1;
    }
    if (head.size.get() < sizeof raw) {
        Message("ReadmdatSegmentObject%d (offset:%d) failed 3\n", n, offset);
        return -1;
    }
    SegmentRecord seg;
    seg.start = start;
    seg.firstTimestamp = head.firstTimestamp.get();
    seg.lastTimestamp = head.lastTimestamp.get();
    seg.videoFrames = head.videoFrames.get();
    seg.audioFrames = head.audioFrames.get();
    seg.attachCount = head.attachCount.get();
    seg.videoCapacity = head.videoCapacity.get();
    seg.audioCapacity = head.audioCapacity.get();
    seg.attachCapacity = m_fileProps.attachFlag ? kAttachIndexCapacity : 0;
    // More entries than their area holds would take the next area's bytes
    // (or frame data) for index entries.
    if (seg.videoFrames > seg.videoCapacity || seg.audioFrames > seg.audioCapacity ||
        seg.attachCount > seg.attachCapacity) {
        Message("ReadmdatSegmentObject%d (offset:%d) failed 5\n", n, offset);
        return -1;
    }
    // Segment offsets are 32-bit numbers from B.
    const uint64_t end = start + head.size.get();
    if (end > UINT32_MAX) {
        Message("ReadmdatSegmentObject%d (offset:%d) failed 4\n", n, offset);
        return -1;
    }
    m_segments.push_back(seg);
    *next = end;
    return 0;
}

bool CCustomMp4File::ReadVideoIndex(const SegmentRecord& seg, std::vector<VideoIndex>& out, const char* allocFail,
                                    const char* readFail)
{
    const uint64_t at = uint64_t(m_base) + seg.start + VideoIndexAreaOffset();
    const uint64_t bytes = uint64_t(sizeof(StVideoIndexEntry_t)) * seg.videoFrames;
    const int64_t fileSize = m_reader.Size();
    // Nothing is allocated for entries the file cannot hold.
    if (fileSize < 0 || at + bytes > uint64_t(fileSize)) {
        Message("%s", readFail);
        return false;
    }
    std::vector<uint8_t> raw;
    try {
        raw.resize(size_t(bytes));
        out.resize(seg.videoFrames);
    } catch (const std::bad_alloc&) {
        Message("%s", allocFail);
        return false;
    }
    if (m_reader.ReadAt(at, raw.data(), raw.size()) != raw.size()) {
        Message("%s", readFail);
        return false;
    }
    for (uint32_t i = 0; i < seg.videoFrames; ++i) {
        const auto e = LoadObject<StVideoIndexEntry_t>(raw.data() + size_t(i) * sizeof(StVideoIndexEntry_t));
        out[i] = VideoIndex{e.offset.get(), e.length.get(), e.pts.get(), e.timestamp.get(), e.bkey};
    }
    return true;
}

int CCustomMp4File::ReadmdatIndexTable(size_t segment, SegmentTables& tables)
{
    tables.segment = -1;
    const SegmentRecord& seg = m_segments[segment];
    if (!ReadVideoIndex(seg, tables.video, "read video index table failed:realloc\n",
                        "read video index table failed:read\n"))
        return -1;

    const int64_t fileSize = m_reader.Size();
    const uint64_t audioAt = uint64_t(m_base) + seg.start + AudioIndexAreaOffset(seg.videoCapacity);
    const uint64_t audioBytes = uint64_t(sizeof(StAudioIndexEntry_t)) * seg.audioFrames;
    if (fileSize < 0 || audioAt + audioBytes > uint64_t(fileSize)) {
        Message("read audio index table failed:read\n");
        return -1;
    }
    std::vector<uint8_t> raw;
    try {
        raw.resize(size_t(audioBytes));
        tables.audio.resize(seg.audioFrames);
    } catch (const std::bad_alloc&) {
        Message("read audio index table failed:realloc\n");
        return -1;
    }
    if (m_reader.ReadAt(audioAt, raw.data(), raw.size()) != raw.size()) {
        Message("read audio index table failed:read\n");
        return -1;
    }
    for (uint32_t i = 0; i < seg.audioFrames; ++i) {
        const auto e = LoadObject<StAudioIndexEntry_t>(raw.data() + size_t(i) * sizeof(StAudioIndexEntry_t));
        tables.audio[i] = AudioIndex{e.offset.get(), e.length.get(), e.timestamp.get()};
    }

    const uint64_t attachAt =
        uint64_t(m_base) + seg.start + AttachIndexAreaOffset(seg.videoCapacity, seg.audioCapacity);
    const uint64_t attachBytes = uint64_t(sizeof(StAttachIndexEntry_t)) * seg.attachCount;
    if (fileSize < 0 || attachAt + attachBytes > uint64_t(fileSize)) {
        Message("read attach index table failed:read\n");
        return -1;
    }
    try {
        raw.resize(size_t(attachBytes));
        tables.attach.resize(seg.attachCount);
    } catch (const std::bad_alloc&) {
        Message("read attach index table failed:realloc\n");
        return -1;
    }
    if (m_reader.ReadAt(attachAt, raw.data(), raw.size()) != raw.size()) {
        Message("read attach index table failed:read\n");
        return -1;
    }
    for (uint32_t i = 0; i < seg.attachCount; ++i) {
        const auto e = LoadObject<StAttachIndexEntry_t>(raw.data() + size_t(i) * sizeof(StAttachIndexEntry_t));
        AttachIndex& a = tables.attach[i];
        a.length = e.length.get();
        a.timestamp = e.timestamp.get();
        std::memcpy(a.payload.data(), e.payload, kAttachPayloadMax);
    }
    tables.segment = int64_t(segment);
    return 0;
}

void CCustomMp4File::ComputeTimeLine()
{
    const uint32_t begin = BeginTime();
    m_endTime = begin;
    m_durationMs = 0;
    if (m_segments.empty()) return;
    // The stored end time is not trusted; the timestamps are.
    const int64_t span = int64_t(m_segments.back().lastTimestamp) - int64_t(m_segments.front().firstTimestamp);
    if (span > 0) {
        m_endTime = Clamp32(uint64_t(begin) + uint64_t(span) / 1000);
        m_durationMs = uint32_t(span);
    }
}

size_t CCustomMp4File::custommp4_read_data(uint32_t offset, uint8_t* buffer, uint32_t length)
{
    if (offset > kMaxDataPosition) {
        Info("custommp4_read_data:file_pos=%ld\n", long(offset));
        return 0;
    }
    const size_t got = m_reader.ReadAt(uint64_t(m_base) + offset, buffer, length);
    if (got != length)
        Message("custommp4_read_data:short read,file_pos=%ld,length=%u,real_length=%u\n", long(offset),
                unsigned(length), unsigned(got));
    return got;
}

int CCustomMp4File::ReadVideoPayload(const VideoIndex& e, uint8_t* buffer, uint32_t capacity)
{
    if (e.offset > kMaxIndexOffset) {
        Message("warning:offset error 1,frame offset:%d,frame length:%d,buffer length:%d\n", int(e.offset),
                int(e.length), int(capacity));
        return -1;
    }
    if (e.length > capacity) {
        Message("warning:size error 1,frame offset:%d,frame length:%d,buffer length:%d\n", int(e.offset),
                int(e.length), int(capacity));
        return -1;
    }
    // A frame cut off by the end of the file is an error, not the end of
    // the recording.
    if (custommp4_read_data(e.offset, buffer, e.length) != e.length) return -1;
    return int(e.length);
}

int CCustomMp4File::custommp4_read_one_media_frame2(uint8_t* buffer, uint32_t capacity, FrameInfo* out)
{
    if (m_segments.empty() || !buffer || !out) return m_segments.empty() ? 0 : -1;
    for (;;) {
        const bool hasVideo = m_videoCursor < m_tables.video.size();
        const bool hasAudio = m_audioCursor < m_tables.audio.size();
        const bool hasAttach = m_attachCursor < m_tables.attach.size();
        if (!hasVideo && !hasAudio && !hasAttach) {
            const size_t next = size_t(m_tables.segment + 1);
            if (next >= m_segments.size()) return 0;
            if (ReadmdatIndexTable(next, m_spare) != 0) {
                Message("custommp4_read_one_media_frame2:ReadmdatIndexTable error\n");
                return -1;
            }
            std::swap(m_tables, m_spare);
            m_videoCursor = m_audioCursor = m_attachCursor = 0;
            continue;
        }
        const uint32_t vt = hasVideo ? m_tables.video[m_videoCursor].timestamp : 0;
        const uint32_t at = hasAudio ? m_tables.audio[m_audioCursor].timestamp : 0;
        const uint32_t xt = hasAttach ? m_tables.attach[m_attachCursor].timestamp : 0;

        if (hasVideo && (!hasAudio || vt <= at) && (!hasAttach || vt <= xt)) {
            const VideoIndex& e = m_tables.video[m_videoCursor];
            // An empty entry holds nothing to deliver; a result of 0 would
            // tell the caller the file had ended.
            if (e.length == 0) {
                ++m_videoCursor;
                continue;
            }
            const int n = ReadVideoPayload(e, buffer, capacity);
            if (n < 0) return -1;
            out->timestamp = e.timestamp;
            out->pts = e.pts;
            out->bkey = e.bkey;
            out->mediaType = kMediaVideo;
            out->duration = m_videoCursor + 1 < m_tables.video.size()
                                ? Gap(e.timestamp, m_tables.video[m_videoCursor + 1].timestamp)
                                : kLastVideoDuration;
            ++m_videoCursor;
            return n;
        }
        if (hasAudio && (!hasAttach || at <= xt)) {
            const AudioIndex& e = m_tables.audio[m_audioCursor];
            if (e.length == 0) {
                ++m_audioCursor;
                continue;
            }
            if (e.offset > kMaxIndexOffset) {
                Message("warning:offset error 1,sample offset:%d,sample length:%d,buffer length:%d\n", int(e.offset),
                        int(e.length), int(capacity));
                return -1;
            }
            if (e.length > capacity) {
                Message("warning:size error 1,sample offset:%d,sample length:%d,buffer length:%d\n", int(e.offset),
                        int(e.length), int(capacity));
                return -1;
            }
            if (custommp4_read_data(e.offset, buffer, e.length) != e.length) return -1;
            out->timestamp = e.timestamp;
            out->pts = 0;
            out->bkey = 0;
            out->mediaType = kMediaAudio;
            out->duration = kAudioDuration;
            ++m_audioCursor;
            return int(e.length);
        }
        const AttachIndex& e = m_tables.attach[m_attachCursor];
        if (e.length == 0) {
            ++m_attachCursor;
            continue;
        }
        // The payload lives in the 120 bytes of its entry; a longer length
        // is damage, and copying it would read past the entry.
        if (e.length > capacity || e.length > kAttachPayloadMax) {
            Message("warning:size error 1,sample length:%d,buffer length:%d\n", int(e.length),
                    int(std::min(capacity, kAttachPayloadMax)));
            return -1;
        }
        std::memcpy(buffer, e.payload.data(), e.length);
        out->timestamp = e.timestamp;
        out->pts = 0;
        out->bkey = 0;
        out->mediaType = kMediaAttach;
        out->duration = 0;
        ++m_attachCursor;
        return int(e.length);
    }
}

int CCustomMp4File::custommp4_seek_to_time_stamp(uint64_t targetMs, uint32_t allowanceMs)
{
    for (size_t i = 0; i < m_segments.size(); ++i) {
        if (m_segments[i].lastTimestamp < targetMs) continue;
        // A candidate segment is loaded aside: when no key frame is found
        // the reader stays where it was.
        SegmentTables* tables = &m_tables;
        if (m_tables.segment != int64_t(i)) {
            if (ReadmdatIndexTable(i, m_spare) != 0) {
                Message("custommp4_seek_to_time_stamp:ReadmdatIndexTable error\n");
                return -1;
            }
            tables = &m_spare;
        }
        const std::vector<VideoIndex>& video = tables->video;
        for (size_t j = 0; j < video.size(); ++j) {
            if (!IsKeyFrameType(video[j].bkey) || uint64_t(video[j].timestamp) + allowanceMs < targetMs) continue;
            const uint32_t keyTime = video[j].timestamp;
            const std::vector<AudioIndex>& audio = tables->audio;
            size_t a = 0;
            while (a < audio.size() && audio[a].timestamp <= keyTime) ++a;
            if (tables == &m_spare) std::swap(m_tables, m_spare);
            m_videoCursor = uint32_t(j);
            m_audioCursor = uint32_t(a);
            m_attachCursor = 0;
            m_globalVideo = m_videoBefore[i] + j;
            m_globalAudio = m_audioBefore[i] + a;
            return 1;
        }
    }
    return 0;
}

int CCustomMp4File::SeekToSysTime(uint32_t time)
{
    if (time > m_endTime) return 0;
    const uint32_t begin = BeginTime();
    const uint64_t target = time > begin ? uint64_t(time - begin) * 1000 : 0;
    return custommp4_seek_to_time_stamp(target, kSeekAllowanceMs);
}

size_t CCustomMp4File::SegmentOfVideoFrame(uint64_t frame) const
{
    // m_videoBefore is non-decreasing; the segment holding the frame is the
    // last one whose predecessors hold no more than `frame` frames.
    const auto it = std::upper_bound(m_videoBefore.begin(), m_videoBefore.end(), frame);
    return size_t(it - m_videoBefore.begin()) - 1;
}

bool CCustomMp4File::LoadVideoOnlyTable(size_t segment)
{
    if (m_videoOnlySegment == int64_t(segment)) return true;
    m_videoOnlySegment = -1;
    if (!ReadVideoIndex(m_segments[segment], m_videoOnly, "read video index table failed 1\n",
                        "read video index table failed 2\n"))
        return false;
    m_videoOnlySegment = int64_t(segment);
    return true;
}

int CCustomMp4File::custommp4_read_one_video_frame(uint8_t* buffer, uint32_t capacity, FrameInfo* out)
{
    if (!buffer || !out) return -1;
    for (;;) {
        if (m_globalVideo >= m_totalVideo) return 0;
        const size_t segment = SegmentOfVideoFrame(m_globalVideo);
        if (!LoadVideoOnlyTable(segment)) return -1;
        const size_t index = size_t(m_globalVideo - m_videoBefore[segment]);
        if (index >= m_videoOnly.size()) return -1;
        const VideoIndex e = m_videoOnly[index];
        if (e.length == 0) {
            ++m_globalVideo;
            continue;
        }
        const int n = ReadVideoPayload(e, buffer, capacity);
        if (n < 0) return -1;
        uint32_t duration = kLastVideoDuration;
        if (index + 1 < m_videoOnly.size()) {
            duration = Gap(e.timestamp, m_videoOnly[index + 1].timestamp);
        } else if (m_globalVideo + 1 < m_totalVideo) {
            // The segment's last frame lasts until the next segment's first.
            if (LoadVideoOnlyTable(SegmentOfVideoFrame(m_globalVideo + 1)) && !m_videoOnly.empty())
                duration = Gap(e.timestamp, m_videoOnly[0].timestamp);
        }
        out->timestamp = e.timestamp;
        out->pts = e.pts;
        out->bkey = e.bkey;
        out->mediaType = kMediaVideo;
        out->duration = duration;
        ++m_globalVideo;
        return n;
    }
}

int CCustomMp4File::GetVideoSizeByIFrame(uint32_t timestamp, int codec, uint16_t* width, uint16_t* height)
{
    if (custommp4_seek_to_time_stamp(timestamp, 0) != 1) {
        DebugOutput("custommp4_seek_to_time_stamp2 fail");
        return 0;
    }
    std::vector<uint8_t> frame;
    try {
        frame.resize(kFrameBufferSize);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    FrameInfo info;
    const int n = custommp4_read_one_video_frame(frame.data(), kFrameBufferSize, &info);
    if (n <= 0) {
        DebugOutput("custommp4_read_one_video_frame fail");
        return 0;
    }
    uint16_t w = 0, h = 0;
    if (RKPLAYER_GetWidthAndHeightByIFrame(codec != 0 ? 1 : 0, frame.data(), n, &w, &h) != 1) return 0;
    if (width) *width = w;
    if (height) *height = h;
    return 1;
}

}  // namespace ifv
