// One open IFV file behind a handle: the reader (segment table, the current
// segment's index tables, three cursors) or the writer (the segment being
// filled). The method names are those the library's messages carry.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

#include "common/FileReader.h"
#include "player/formats/IfvFormat.h"

namespace ifv {

// The library's diagnostics, printf-style, handed to the caller's log
// callback: Message for failures (also the last error text), Info for what
// a call reports on its way.
void Message(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Info(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The debug-output channel: one line at debug level.
void DebugOutput(const char* text);

// A file created for writing; positions are explicit, nothing is buffered,
// so what a writer has written is on disk even if it never closes.
class CWriteFile {
public:
    CWriteFile() = default;
    ~CWriteFile();
    CWriteFile(const CWriteFile&) = delete;
    CWriteFile& operator=(const CWriteFile&) = delete;

    bool Create(const char* path, int* error);
    bool IsOpen() const { return m_fd >= 0; }
    // true when all n bytes were written; errno's value in *error otherwise.
    bool WriteAt(uint64_t offset, const void* data, size_t n, int* error);
    // 0, or the close's failure with errno's value in *error.
    int Close(int* error);

private:
    int m_fd = -1;
};

// The handle's row for one segment.
struct SegmentRecord {
    uint64_t start = 0;  // from B
    uint32_t firstTimestamp = 0;
    uint32_t lastTimestamp = 0;
    uint32_t videoFrames = 0;
    uint32_t audioFrames = 0;
    uint32_t attachCount = 0;
    uint32_t videoCapacity = 0;
    uint32_t audioCapacity = 0;
    uint32_t attachCapacity = 0;

    bool Empty() const { return videoFrames == 0 && audioFrames == 0 && attachCount == 0; }
};

struct VideoIndex {
    uint32_t offset = 0;  // from B
    uint32_t length = 0;
    uint64_t pts = 0;
    uint32_t timestamp = 0;
    uint8_t bkey = 0;
};

struct AudioIndex {
    uint32_t offset = 0;  // from B
    uint32_t length = 0;
    uint32_t timestamp = 0;
};

struct AttachIndex {
    uint32_t length = 0;
    uint32_t timestamp = 0;
    std::array<uint8_t, kAttachPayloadMax> payload{};
};

struct SegmentTables {
    int64_t segment = -1;  // which segment they belong to
    std::vector<VideoIndex> video;
    std::vector<AudioIndex> audio;
    std::vector<AttachIndex> attach;
};

struct FrameInfo {
    uint32_t timestamp = 0;
    uint64_t pts = 0;
    uint32_t duration = 0;
    uint8_t bkey = 0;
    uint8_t mediaType = 0;
};

class CCustomMp4File {
public:
    // Both print their failures and leave nothing open on failure: 0 or -1.
    int OpenForReading(const char* path, int64_t baseOffset);
    int OpenForWriting(const char* path);
    // Finishes a written file and closes; 0, or -1 when anything failed.
    int custommp4_destroy();

    bool IsReading() const { return m_mode == 0 && m_reader.IsOpen(); }
    bool IsWriting() const { return m_mode == 1 && m_writer.IsOpen(); }
    std::mutex& Mutex() { return m_mutex; }

    // ---- Reading; callers hold the mutex where stated in the interface.
    uint32_t BeginTime() const { return m_fileProps.beginTime.get(); }
    uint32_t EndTime() const { return m_endTime; }
    uint32_t DurationMs() const { return m_durationMs; }
    uint16_t EventChannel() const { return m_fileProps.eventChannel.get(); }
    const StVideoStreamPropertiesObject_t& VideoProps() const { return m_videoProps; }
    const StAudioStreamPropertiesObject_t& AudioProps() const { return m_audioProps; }
    uint64_t TotalVideoFrames() const { return m_totalVideo; }
    uint64_t TotalAudioFrames() const { return m_totalAudio; }
    uint64_t TotalAttachRecords() const { return m_totalAttach; }
    size_t SegmentCount() const { return m_segments.size(); }

    int custommp4_read_one_media_frame2(uint8_t* buffer, uint32_t capacity, FrameInfo* out);
    // Positions on the first key frame whose timestamp + allowance reaches
    // target: 1, 0 (nothing moved) or -1.
    int custommp4_seek_to_time_stamp(uint64_t targetMs, uint32_t allowanceMs);
    int SeekToSysTime(uint32_t time);
    int custommp4_read_one_video_frame(uint8_t* buffer, uint32_t capacity, FrameInfo* out);
    int GetVideoSizeByIFrame(uint32_t timestamp, int codec, uint16_t* width, uint16_t* height);

    // ---- Writing
    int SetVideoParam(int width, int height, float frameRate, int codec);
    int SetAudioParam(int channels, int sampleWidth, int sampleRate, int codecIndex, int bytesPerFrame,
                      int frameDurationMs);
    int EnableAttach();
    int SetStartTime(uint32_t time);
    int WriteVideoFrame(const uint8_t* data, uint32_t length, uint32_t timestamp, uint8_t frameType, uint64_t pts,
                        int* segmentClosed);
    int WriteAudioFrame(const uint8_t* data, uint32_t length, uint32_t timestamp, int* segmentClosed);
    int WriteAttachFrame(const uint8_t* data, uint32_t length, uint32_t timestamp, int* segmentClosed);

private:
    // Reader
    int ReadFilePropertiesObject();
    int ReadVideoStreamPropertiesObject();
    int ReadAudioStreamPropertiesObject();
    int ReadmdatSegmentObjects(uint32_t count);
    int ReadmdatSegmentObject(uint32_t number, uint64_t start, uint64_t* next);
    int ReadmdatIndexTable(size_t segment, SegmentTables& tables);
    bool ReadVideoIndex(const SegmentRecord& seg, std::vector<VideoIndex>& out, const char* allocFail,
                        const char* readFail);
    void ComputeTimeLine();
    // Reads frame data at `offset` from B: the bytes read, all or fewer.
    size_t custommp4_read_data(uint32_t offset, uint8_t* buffer, uint32_t length);
    int ReadVideoPayload(const VideoIndex& e, uint8_t* buffer, uint32_t capacity);
    size_t SegmentOfVideoFrame(uint64_t frame) const;
    bool LoadVideoOnlyTable(size_t segment);

    // Writer
    bool custommp4_write_data(uint64_t offset, const void* data, size_t n);
    bool WriteFileProperties();
    bool WriteVideoProperties();
    bool WriteAudioProperties();
    bool WriteMediaData();
    bool WriteSegmentHeader(const SegmentRecord& seg, uint32_t size);
    // Where the next payload of the current segment goes: the data area for
    // the segment's first record, else the end of the data.
    uint64_t NextPayloadPosition() const;
    void Record(uint64_t payloadAt, uint32_t length, uint32_t timestamp);
    bool CloseSegment(bool startNew);
    void StartSegment(uint64_t start);

    std::mutex m_mutex;
    int m_mode = -1;
    int64_t m_base = 0;
    velmor::CFileReader m_reader;
    CWriteFile m_writer;

    StFilePropertiesObject_t m_fileProps = ZeroObject<StFilePropertiesObject_t>();
    StVideoStreamPropertiesObject_t m_videoProps = ZeroObject<StVideoStreamPropertiesObject_t>();
    StAudioStreamPropertiesObject_t m_audioProps = ZeroObject<StAudioStreamPropertiesObject_t>();
    StMediaDataObject_t m_mediaData = ZeroObject<StMediaDataObject_t>();

    // Reader state
    std::vector<SegmentRecord> m_segments;
    std::vector<uint64_t> m_videoBefore;  // video frames of the segments before each one
    std::vector<uint64_t> m_audioBefore;
    uint64_t m_totalVideo = 0;
    uint64_t m_totalAudio = 0;
    uint64_t m_totalAttach = 0;
    uint32_t m_endTime = 0;
    uint32_t m_durationMs = 0;
    SegmentTables m_tables;  // the current segment's
    SegmentTables m_spare;   // a seek's candidate, kept to reuse its memory
    uint32_t m_videoCursor = 0;
    uint32_t m_audioCursor = 0;
    uint32_t m_attachCursor = 0;
    uint64_t m_globalVideo = 0;  // the video-only read's position
    uint64_t m_globalAudio = 0;
    // The video-only read keeps its own copy of one segment's video index, so
    // that it never disturbs the time-ordered read.
    int64_t m_videoOnlySegment = -1;
    std::vector<VideoIndex> m_videoOnly;

    // Writer state
    SegmentRecord m_current;
    uint64_t m_dataEnd = 0;
    uint32_t m_segmentCount = 0;
    uint32_t m_lastClosedTimestamp = 0;
    bool m_videoParams = false;
    bool m_audioParams = false;
};

}  // namespace ifv
