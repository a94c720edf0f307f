// The MP4 writer of clip export: recorded H.264/H.265 access units stored as
// they are, beside an AAC sound track, both stamped from counters so that
// picture and sound keep one clock whatever times the recording carries.
//
// The file is written under a temporary name beside the target and renamed
// only when its trailer is complete, so an export that breaks off never
// leaves a file that looks finished.
#pragma once

#include <cstdint>
#include <string>

#include "media/src/mp4/FfmpegPtr.h"

namespace rkmedia {

class CRKMp4Convert {
public:
    CRKMp4Convert() = default;
    ~CRKMp4Convert();
    CRKMp4Convert(const CRKMp4Convert&) = delete;
    CRKMp4Convert& operator=(const CRKMp4Convert&) = delete;

    // First entry of 1, 3, 5, 8, 10, 12, 15, 20, 25, 30 within 1 of the
    // rate, else the rate itself; 30 becomes 25.
    static int NormalizeFrameRate(int frameRate);
    // The name the file has until it is complete.
    static std::string PartialPath(const std::string& path);

    // videoType 1 = H.265, other = H.264. 0, or a negative error; the object
    // must be closed either way.
    int CreateMp4File(const char* path, int width, int height, int videoType, int frameRate);
    // 0, or -1 without a video stream, without data or before the first key
    // frame, or the muxer's negative error.
    int WriteMp4VideoFile(const uint8_t* data, int length, int keyFlag, uint64_t time);
    // One raw AAC frame (1024 samples) as the converter made it. 0 / negative.
    int WriteMp4AudioFile(const uint8_t* data, int length);
    // Finishes the file and gives it its name: 0, or the negative error that
    // kept it from being finished (the partial file is then removed).
    int CloseMp4File();

    int FrameRate() const { return m_nFrameRate; }
    int64_t FrameCounter() const { return m_nFrameCount; }
    int VideoIndex() const { return m_vi; }
    int AudioIndex() const { return m_ai; }
    bool WaitingKeyFrame() const { return m_bWaitKey; }
    uint64_t LastTime() const { return m_nLastPts; }

private:
    int AddVideoStream(AVCodecID codec, int width, int height);
    int RewriteParameterSets(AVPacket* pkt);
    int AddAudioStream();
    int WritePendingAudio(bool last);

    int m_vi = -1;
    int m_ai = -1;
    bool m_bWaitKey = true;
    int m_nFrameRate = 25;
    int64_t m_nFrameCount = 0;
    uint64_t m_nLastPts = 0;

    ff::COutput m_out;
    AVStream* m_pVideoStream = nullptr;
    AVStream* m_pAudioStream = nullptr;
    AVRational m_videoCodecTb{1, 50};
    AVCodecID m_videoCodec = AV_CODEC_ID_H264;
    ff::CodecContextPtr m_audioCtx;  // AAC encoder, opened for its decoder configuration
    int m_nAudioFrameSize = 1024;
    int64_t m_nAudioPriming = 0;
    int64_t m_nAudioSamples = 0;     // samples stamped so far, priming included
    ff::PacketPtr m_pendingAudio;    // held back so the last one can end with the picture
    bool m_bHeaderWritten = false;
    bool m_bFailed = false;          // an output error: the file cannot be finished
    int m_nFailure = 0;
    std::string m_path;
    std::string m_partPath;
};

}  // namespace rkmedia
