// The frames of one channel of a recording, whatever holds it: a container
// file, the container files of a partition span, a backup record file or an
// IFV file. The play loop, the clip cutter, snapshots and velmor-cli read
// recordings through this and nothing else, so that a seek lands on the same
// frame and a recording ends at the same frame for all of them.
//
// Rules shared by every kind:
// - Seek(s) positions on the key frame at or before second s (the IFV reader
//   allows 1600 ms, as the play window does); a failed seek keeps no promise
//   about the position and answers kSeekFailed.
// - Read answers kOk with a frame, kEnd once the recording (or the limit set
//   with SetLastSecond) is passed and ever after, or kReadFailed, which also
//   sticks: frames after damage are never handed out as if nothing happened.
// - Every failure leaves its reason in ErrorText().
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "player/search/SourceKind.h"
#include "store/include/rkstore.h"

namespace velmor {

enum class EFrameKind { kVideo, kAudio, kInfo };

// Which frames Read hands out. Key frames backward (from the one a seek
// found, each earlier one in turn) are for readers that can step back; the
// others answer kReadFailed for it.
enum class EFrameFilter { kAll, kVideo, kAudio, kKeyFrames, kKeyFramesBackward };

enum class EFrameResult : int {
    kOk = 0,
    kEnd = 1,
    kOpenFailed = -1,  // not a readable recording of this kind
    kNoChannel = -2,   // the channel asked for is not in the recording
    kSeekFailed = -3,  // no key frame for that second
    kReadFailed = -4,  // damaged or cut data; frames before it were handed out
};

struct SourceFrame {
    EFrameKind kind = EFrameKind::kVideo;
    int type = 0;  // the frame head's type, or the IFV frame type
    bool key = false;
    uint64_t pts = 0;     // as stored
    int64_t ms = 0;       // position as the play loop computes it
    uint64_t wallMs = 0;  // recorder clock, ms since 1970
    uint32_t durationMs = 0;  // where the format stores one (IFV), else 0
    const uint8_t* data = nullptr;  // valid until the next Read or Seek
    uint32_t length = 0;
};

// What a decoder or a writer needs to know before the first frame.
struct SourceStream {
    uint32_t begin = 0, end = 0;  // seconds, recorder clock
    int channel = 1;              // counted from 1
    int width = 0, height = 0;    // 0 when the resolution code is unknown
    bool h265 = false;
    float frameRate = 25;
    uint32_t frameCount = 0;  // IFV files: the pictures the header counts; 0 elsewhere
    bool hasAudio = false;
    int audioType = 3;  // the media engine's audio type index
    // IFV files describe their sound further; 0 elsewhere.
    int sampleWidth = 0, sampleRate = 0, audioFrameBytes = 0;
    // Container files: the streams the channel is recorded in, and the one
    // read. Other kinds hold one stream and leave these false.
    bool hasMainStream = false, hasSubStream = false;
    bool subStream = false;
};

// Which stream of a channel recorded twice (large and small pictures) a
// container file source reads.
enum class EStreamChoice {
    kDefault,  // the main stream when present, else the sub stream
    kMain,     // the main stream only; a channel without one is kNoChannel
    kSub,      // the sub stream only; a channel without one is kNoChannel
};

class CFrameSource {
public:
    virtual ~CFrameSource() = default;
    CFrameSource(const CFrameSource&) = delete;
    CFrameSource& operator=(const CFrameSource&) = delete;

    // channel counted from 1; 0 picks the lowest channel recorded.
    static std::unique_ptr<CFrameSource> OpenContainerFile(const std::filesystem::path& path, int channel,
                                                           EStreamChoice stream = EStreamChoice::kDefault);
    // One channel through the container files of a partition (or a folder
    // copied off one), in time order, from the key frame at or before
    // `from` on: files outside [from, to] and unreadable ones are passed
    // over, and seconds a later file repeats where it meets the earlier one
    // are handed out once.
    static std::unique_ptr<CFrameSource> OpenPartitionSpan(std::vector<std::filesystem::path> files, int channel,
                                                           uint32_t from, uint32_t to);
    static std::unique_ptr<CFrameSource> OpenBackupRecord(const std::filesystem::path& path, int channel);
    static std::unique_ptr<CFrameSource> OpenIfvFile(const std::filesystem::path& path, int channel);
    // An ordinary media file (MP4, AVI, MKV...): its video only, as Annex B
    // access units for H.264 and H.265. Its seconds count from 0, or from
    // the file's own start where its timeline starts later.
    static std::unique_ptr<CFrameSource> OpenMediaFile(const std::filesystem::path& path, int channel = 0);
    // A grec file, through the grec reader plugin (a missing plugin is an
    // open failure that says so). Frame types: 0 video, 1 sound, 2 attached
    // information; positions in ms after the file's begin second.
    static std::unique_ptr<CFrameSource> OpenGrecFile(const std::filesystem::path& path, int channel);
    // A record file of a mounted partition, as its search found it.
    static std::unique_ptr<CFrameSource> OpenMountedRecord(const StRecFileInfo_t& record);
    // The reader of a single file of `kind`; null for kinds that are not a
    // single recording this source reads.
    // `stream` is read by container files only.
    static std::unique_ptr<CFrameSource> OpenFile(ESourceKind kind, const std::filesystem::path& path, int channel,
                                                  EStreamChoice stream = EStreamChoice::kDefault);

    // The result of opening; kOk when the source can be read.
    EFrameResult OpenResult() const { return m_openResult; }
    const std::string& ErrorText() const { return m_error; }
    const SourceStream& Stream() const { return m_stream; }

    EFrameResult Seek(uint32_t second);
    EFrameResult Read(SourceFrame& frame);
    void SetFilter(EFrameFilter filter) { m_filter = filter; }
    // Frames whose recorder second is past `second` end the recording.
    void SetLastSecond(uint32_t second) { m_lastSecond = second; }
    // Damaged frame heads skipped with the rest of their block (container
    // files): reading goes on, but the recording was not whole.
    uint64_t SkippedBadHeads() const { return m_badHeads; }
    uint64_t FramesRead() const { return m_framesRead; }

protected:
    CFrameSource() = default;
    virtual EFrameResult DoSeek(uint32_t second) = 0;
    virtual EFrameResult DoRead(SourceFrame& frame) = 0;
    virtual EFrameResult DoReadKeyBackward(SourceFrame& frame);
    EFrameFilter Filter() const { return m_filter; }
    EFrameResult Fail(EFrameResult code, std::string text);
    // Sets the result of opening (kOk when `code` is kOk).
    void Opened(EFrameResult code, std::string text = {});

    SourceStream m_stream;
    uint64_t m_badHeads = 0;

private:
    EFrameResult m_openResult = EFrameResult::kOpenFailed;
    EFrameResult m_sticky = EFrameResult::kOk;
    std::string m_error;
    uint32_t m_lastSecond = UINT32_MAX;
    EFrameFilter m_filter = EFrameFilter::kAll;
    uint64_t m_framesRead = 0;
};

// Position of a stored frame as the play loop computes it: microseconds
// after the begin second, in ms rounded up.
int64_t PlayPositionMs(uint64_t pts, uint32_t beginSecond);

}  // namespace velmor
