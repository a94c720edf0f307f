// The player object: one per play window. Its video side decodes access
// units (in hardware where the machine offers it) and draws them into the
// window; its audio side (CRKPlayAudio) feeds the shared sound output; for
// ordinary media files it also reads the file.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "media/include/rkmedia.h"
#include "media/src/audio/RKPlayAudio.h"
#include "media/src/video/SdlPresenter.h"

struct SwsContext;

namespace rkmedia {

enum HardwareMode { kHwNone = 0, kHwVaapi = 1, kHwCuda = 2 };

class CRKPlay {
public:
    CRKPlay();
    ~CRKPlay();
    CRKPlay(const CRKPlay&) = delete;
    CRKPlay& operator=(const CRKPlay&) = delete;

    // ---- Video ----
    int RKPLAY_InitVideoParam(int width, int height, int videoType, int frameRate);
    int SetShowWnd(void* window, int windowNumber);
    int OpenOffscreen();
    int OpenDecoder(bool hardware);
    int DecodeOneFrame(const uint8_t* data, int length, int keyFlag, int* frameBytes, int* width, int* height);
    int ShowLastFrame();
    int SetOSDText(const char* text, int length);
    void SetScaleMode(int mode) { m_scaleMode.store(mode); }
    int RKPLAY_SavePictureFile(const std::string& path, int pictureFormat);
    void SetExitFlag() { m_exit.store(true); }
    void Cleanup();

    // ---- Media files ----
    int InitMediaFile(const char* path, RKPLAYER_READ_FUNC read, void* readContext, RKPLAYER_VIDEO_PARAM* param,
                      int64_t* duration);
    int ReadOneFrame(int* isAudio, int64_t* pts);
    int DecodeCurrentPacket(int flush);
    int CopyCurrentPacket(uint8_t* buffer, int capacity, int* length, int* keyFlag, int64_t* positionMs);
    int SeekTimeTo(int64_t timeMs);
    void UnitMediaFile();

    // ---- Sound ----
    CRKPlayAudio m_audio;

    // For tests and diagnostics.
    HardwareMode Hardware() const { return m_hwMode; }
    int DecodeResult() const { return m_decodeResult; }
    PresentStat ShowStat() const { return m_presenter.Stat(); }
    std::string OsdText() const;

private:
    bool DecoderReady() const;
    std::string OsdUtf8() const;  // the on-screen text as the presenter draws it
    int Rebuild();
    bool FreshParser();
    int RKPLAY_DecodeVideoAndShow(AVPacket* packet);
    int RKPLAY_ShowVideoFrame(AVFrame* frame);
    int CopyDecodeFrameToBuffer(AVFrame* frame);
    int Render();
    void CloseInput();
    static int InterruptCallback(void* opaque);
    static enum AVPixelFormat GetHwFormat(AVCodecContext* ctx, const enum AVPixelFormat* formats);

    // Decoder
    const AVCodec* m_codec = nullptr;
    AVCodecContext* m_ctx = nullptr;
    AVCodecParserContext* m_parser = nullptr;
    AVCodecContext* m_parserCtx = nullptr;  // what the parser reads and writes, apart from the decoder's
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    AVBufferRef* m_hwDevice = nullptr;
    AVPixelFormat m_hwPixFmt = AV_PIX_FMT_NONE;
    HardwareMode m_hwMode = kHwNone;
    SwsContext* m_sws = nullptr;
    int m_width = 0, m_height = 0, m_frameRate = 25, m_videoType = 0;
    int m_decodeResult = 0;
    std::atomic<bool> m_exit{false};

    // Presentation
    void* m_window = nullptr;
    int m_windowNumber = 0;
    bool m_offscreen = false;  // decode and keep pictures without a window
    CSdlPresenter m_presenter;
    ff::FramePtr m_picture;         // last picture (planar 4:2:0 or NV12), shared with the presenter
    std::vector<uint8_t> m_padded;  // the access unit being parsed, with the decoder's padding
    CSdlPresenter::Clock::time_point m_unitArrived;
    int m_lastWidth = 0, m_lastHeight = 0;
    std::atomic<int> m_scaleMode{0};
    char m_osd[50] = {};
    int m_osdLength = 0;
    std::recursive_mutex m_videoLock;

    // Media file
    AVFormatContext* m_input = nullptr;
    AVIOContext* m_io = nullptr;
    int m_videoStream = -1, m_audioStream = -1;
    const AVCodec* m_audioCodec = nullptr;
    AVBSFContext* m_bsf = nullptr;
    AVPacket* m_current = nullptr;  // the packet read last
    bool m_haveCurrent = false;
    bool m_mediaFile = false;
    std::atomic<bool> m_stop{false};
    int64_t m_totalMs = 0;
    struct MemoryReader {
        RKPLAYER_READ_FUNC read = nullptr;
        void* context = nullptr;
    } m_memoryReader;  // the caller's read function for an in-memory stream
    static int ReadThunk(void* opaque, uint8_t* buffer, int size);
};

}  // namespace rkmedia
