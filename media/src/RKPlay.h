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
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "media/include/rkmedia.h"
#include "media/src/audio/RKPlayAudio.h"
#include "media/src/video/HwDecodePath.h"
#include "media/src/video/SdlPresenter.h"
#include "media/src/video/ZoomView.h"

struct SwsContext;

namespace rkmedia {

// How a hardware device type is brought up for a decoder and how its
// pictures reach system memory: FFmpeg's own unless replaced (tests bring up
// device types this machine lacks).
struct HwDeviceOps {
    // Gives the decoder context a device of the type and sets the pixel
    // format its pictures carry. "" or why not.
    std::function<std::string(HardwareMode mode, AVCodecContext* ctx, AVPixelFormat& hwFormat)> attach;
    // As av_hwframe_transfer_data: 0 or a negative FFmpeg error.
    std::function<int(AVFrame* dst, const AVFrame* src)> transfer;
};
HwDeviceOps FfmpegHwDeviceOps();

// The decoding path of a player as it reports it.
struct HwDecodeState {
    HardwareMode mode = kHwNone;
    std::string reason;  // why software decoding, after a failure; else ""
};

class CRKPlay {
public:
    CRKPlay();
    ~CRKPlay();
    CRKPlay(const CRKPlay&) = delete;
    CRKPlay& operator=(const CRKPlay&) = delete;

    // ---- Video ----
    int RKPLAY_InitVideoParam(int width, int height, int videoType, int frameRate);
    int SetShowWnd(void* window, int windowNumber);
    // Offscreen players decode in software; tests ask for hardware.
    int OpenOffscreen(bool hardware = false);
    int OpenDecoder(bool hardware);
    int DecodeOneFrame(const uint8_t* data, int length, int keyFlag, int* frameBytes, int* width, int* height);
    int ShowLastFrame();
    int SetOSDText(const char* text, int length);
    void SetScaleMode(int mode) { m_scaleMode.store(mode); }
    // Stepping: pictures decoded without being drawn, kept by a stamp and
    // shown again without decoding.
    void SetShowDecoded(bool show);
    int KeepLastPicture(int64_t stamp);
    int ShowKeptPicture(int64_t stamp);
    void DropKeptPictures();
    size_t KeptPictures() const;
    // `zoomed`: the part of the picture the zoom shows, at the picture's size.
    int RKPLAY_SavePictureFile(const std::string& path, int pictureFormat, bool zoomed = false);
    // Zoom, drawn by the presenter from the last picture.
    void SetZoom(double factor, double cx, double cy);
    ZoomView Zoom() const;
    int ZoomAt(int steps, int x, int y, int windowW, int windowH);
    int PanZoom(int dx, int dy, int windowW, int windowH);
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

    // The decoding path in use; any thread may ask.
    HwDecodeState HwState() const;
    // Before the decoder is opened.
    void SetHwDeviceOps(HwDeviceOps ops) { m_hwOps = std::move(ops); }

    // For tests and diagnostics.
    int DecodeResult() const { return m_decodeResult; }
    const AVFrame* LastPicture() const { return m_picture.get(); }
    PresentStat ShowStat() const { return m_presenter.Stat(); }
    std::string OsdText() const;

private:
    bool DecoderReady() const;
    std::string OsdUtf8() const;  // the on-screen text as the presenter draws it
    int Rebuild();
    bool FreshParser();
    std::string OpenPath(HardwareMode mode);
    void PublishHwState();
    int RKPLAY_DecodeVideoAndShow(AVPacket* packet);
    int SendAndShow(AVPacket* packet, bool& pathFailed);
    bool HoldForReplay(const AVPacket* packet);
    void DropHeld();
    int RKPLAY_ShowVideoFrame(AVFrame* frame, bool copied = false);
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
    // What each decoder context starts from: a path given up takes its
    // context with it, and the next path gets a fresh one.
    AVCodecParameters* m_decoderParams = nullptr;
    AVRational m_decoderTimeBase{0, 1}, m_packetTimeBase{0, 1};
    int m_decoderFlags = 0;
    AVPixelFormat m_hwPixFmt = AV_PIX_FMT_NONE;
    HwDeviceOps m_hwOps = FfmpegHwDeviceOps();
    CHwDecodePath m_hwPath;
    std::vector<AVPacket*> m_held;  // what a path on trial was given, to decode again on the next
    std::string m_pathFailure;      // why the path on trial failed with its first picture
    int m_transferError = 0;        // of the last transfer to system memory
    mutable std::mutex m_hwStateLock;
    HwDecodeState m_hwState;  // under m_hwStateLock
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
    bool m_showDecoded = true;
    // The zoom is asked for and read by the interface thread while the play
    // thread decodes under m_videoLock: it has a lock of its own, and the
    // size of the last picture drawn to clamp it with.
    mutable std::mutex m_zoomLock;
    ZoomView m_zoom;  // as asked; clamped to each picture where it is used
    int m_zoomW = 0, m_zoomH = 0;
    // The zoom's part of `picture`, which is about to be drawn.
    Rect ZoomPartOf(const AVFrame* picture);
    // References to earlier pictures, by the caller's stamp: a group of
    // pictures stepped back through costs its memory, not its decoding again.
    std::map<int64_t, ff::FramePtr> m_kept;
    std::atomic<int> m_scaleMode{0};
    char m_osd[50] = {};
    int m_osdLength = 0;
    mutable std::recursive_mutex m_videoLock;

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
