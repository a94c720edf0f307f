#include "media/src/RKPlay.h"

extern "C" {
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <dlfcn.h>

#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "common/CodePage.h"
#include "common/LibraryLog.h"
#include "media/src/MediaGlobals.h"
#include "media/src/SpsParser.h"
#include "media/src/video/Snapshot.h"

namespace rkmedia {

namespace {

// The largest picture side drawn or kept: what textures take everywhere.
constexpr int kMaxPictureSide = 16384;

// A unit the path on trial was given is kept to be decoded again on the
// next path; past this many without a first picture the path is trusted
// as it is (a stream that yields no picture says nothing of the device).
constexpr size_t kMaxHeldUnits = 256;

[[gnu::format(printf, 2, 3)]] void VideoLog(int level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    velmor::LogFormatV(velmor::LogLibrary::Media, level, format, args);
    va_end(args);
}

std::string ErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

CRKPlay::CRKPlay()
{
    m_packet = av_packet_alloc();
    m_current = av_packet_alloc();
}

CRKPlay::~CRKPlay()
{
    std::lock_guard guard(m_videoLock);
    Cleanup();
    CloseInput();
    avcodec_parameters_free(&m_decoderParams);
    av_packet_free(&m_packet);
    av_packet_free(&m_current);
}

std::string CRKPlay::OsdText() const { return std::string(m_osd, size_t(m_osdLength)); }

std::string CRKPlay::OsdUtf8() const { return velmor::GbkToUtf8(std::string_view(m_osd, size_t(m_osdLength))); }

// ---- Preparing ------------------------------------------------------------------

int CRKPlay::RKPLAY_InitVideoParam(int width, int height, int videoType, int frameRate)
{
    m_width = width;
    m_height = height;
    m_videoType = videoType == 1 ? 1 : 0;
    m_frameRate = frameRate > 0 ? frameRate : 25;
    m_exit.store(false);
    m_decodeResult = 0;
    const AVCodecID id = m_videoType == 1 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    const int64_t start = NowMs();
    for (int tries = 0; tries < 600; ++tries) {
        if (m_exit.load()) return -1;
        if (!m_codec) m_codec = avcodec_find_decoder(id);
        if (m_codec && !m_ctx) m_ctx = avcodec_alloc_context3(m_codec);
        if (!m_parser) m_parser = av_parser_init(id);
        if (m_codec && !m_parserCtx) m_parserCtx = avcodec_alloc_context3(m_codec);
        if (m_codec && m_ctx && m_parser && m_parserCtx) {
            // The parser's complaints about a unit's headers repeat what the
            // decoder reports of the same unit, and a fresh parser (below)
            // meets every unit without its parameter sets: one notch quieter.
            m_parserCtx->log_level_offset = AV_LOG_VERBOSE - AV_LOG_ERROR;
            return 0;
        }
        if (NowMs() - start > 120000) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return -1;
}

enum AVPixelFormat CRKPlay::GetHwFormat(AVCodecContext* ctx, const enum AVPixelFormat* formats)
{
    const auto* self = static_cast<const CRKPlay*>(ctx->opaque);
    for (const enum AVPixelFormat* p = formats; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == self->m_hwPixFmt) return *p;
    // The device cannot take this stream (a profile it lacks): decode it in
    // software rather than not at all. A path on trial is given up for it
    // when its first picture comes (the next device may take the stream).
    for (const enum AVPixelFormat* p = formats; *p != AV_PIX_FMT_NONE; ++p) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(*p);
        if (d && !(d->flags & AV_PIX_FMT_FLAG_HWACCEL)) return *p;
    }
    return AV_PIX_FMT_NONE;
}

HwDeviceOps FfmpegHwDeviceOps()
{
    HwDeviceOps ops;
    ops.attach = [](HardwareMode mode, AVCodecContext* ctx, AVPixelFormat& hwFormat) -> std::string {
        const AVHWDeviceType type = av_hwdevice_find_type_by_name(HwModeName(mode));
        if (type == AV_HWDEVICE_TYPE_NONE) return "FFmpeg was built without this device type";
        AVPixelFormat pixFmt = AV_PIX_FMT_NONE;
        for (int i = 0;; ++i) {
            const AVCodecHWConfig* config = avcodec_get_hw_config(ctx->codec, i);
            if (!config) break;
            if ((config->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX) && config->device_type == type) {
                pixFmt = config->pix_fmt;
                break;
            }
        }
        if (pixFmt == AV_PIX_FMT_NONE) return std::string("the ") + ctx->codec->name + " decoder cannot use the device";
        if (mode == kHwCuda) {
            // FFmpeg loads the driver itself, but says why it could not only
            // on standard error; the reason here is what the user needs.
            void* driver = dlopen("libcuda.so.1", RTLD_NOW | RTLD_LOCAL);
            if (!driver) return std::string("no CUDA driver (") + dlerror() + ")";
            dlclose(driver);
        }
        AVBufferRef* device = nullptr;
        const int rc = av_hwdevice_ctx_create(&device, type, nullptr, nullptr, 0);
        if (rc < 0) return "cannot create the device (" + ErrorText(rc) + ")";
        ctx->hw_device_ctx = device;  // the context owns it from here
        hwFormat = pixFmt;
        return {};
    };
    ops.transfer = [](AVFrame* dst, const AVFrame* src) { return av_hwframe_transfer_data(dst, src, 0); };
    return ops;
}

int CRKPlay::SetShowWnd(void* window, int windowNumber)
{
    std::lock_guard video(m_videoLock);
    std::lock_guard process(ProcessLock());
    if (!window) {
        m_window = nullptr;
        return -1;
    }
    m_window = window;
    m_windowNumber = windowNumber;
    m_offscreen = false;
    if (!m_ctx || !m_codec) return -1;
    if (!m_presenter.Bind(window)) return -1;
    return OpenDecoder(true);
}

int CRKPlay::OpenOffscreen(bool hardware)
{
    std::lock_guard video(m_videoLock);
    std::lock_guard process(ProcessLock());
    if (!m_ctx || !m_codec) return -1;
    m_offscreen = true;
    return OpenDecoder(hardware);
}

int CRKPlay::OpenDecoder(bool hardware)
{
    if (!m_mediaFile) {
        m_ctx->width = m_ctx->coded_width = m_width;
        m_ctx->height = m_ctx->coded_height = m_height;
        m_ctx->time_base = AVRational{1, m_frameRate};
        m_ctx->pix_fmt = AV_PIX_FMT_YUV420P;
        // Recorder streams carry no B frames: every access unit is shown as
        // it is decoded instead of one frame late, so a pause or a step shows
        // the frame of its time.
        m_ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
    }
    if (!m_decoderParams) m_decoderParams = avcodec_parameters_alloc();
    if (!m_decoderParams || avcodec_parameters_from_context(m_decoderParams, m_ctx) < 0) return -1;
    m_decoderTimeBase = m_ctx->time_base;
    m_packetTimeBase = m_ctx->pkt_timebase;
    m_decoderFlags = m_ctx->flags;
    DropHeld();

    // Hardware decoding where the machine has it; VELMOR_HWDEC names the one
    // device type to try, or "none".
    m_hwPath.Reset(std::getenv("VELMOR_HWDEC"), hardware);
    const std::string failed = m_hwPath.Open([this](HardwareMode mode) { return OpenPath(mode); });
    PublishHwState();
    if (!failed.empty()) {
        VideoLog(velmor::kLogInfo, "WndNum:%d,the decoder does not open: %s\n", m_windowNumber, failed.c_str());
        return -1;
    }
    if (!m_frame) m_frame = av_frame_alloc();
    return m_frame ? 0 : -1;
}

std::string CRKPlay::OpenPath(HardwareMode mode)
{
    // A fresh context for every path: one that failed or was given up keeps
    // nothing of its device.
    avcodec_free_context(&m_ctx);
    m_hwPixFmt = AV_PIX_FMT_NONE;
    m_ctx = avcodec_alloc_context3(m_codec);
    if (!m_ctx || avcodec_parameters_to_context(m_ctx, m_decoderParams) < 0) return "out of memory";
    if (!m_mediaFile) {
        m_ctx->coded_width = m_ctx->width;
        m_ctx->coded_height = m_ctx->height;
    }
    m_ctx->time_base = m_decoderTimeBase;
    m_ctx->pkt_timebase = m_packetTimeBase;
    m_ctx->flags = m_decoderFlags;
    if (mode != kHwNone) {
        AVPixelFormat hwFormat = AV_PIX_FMT_NONE;
        std::string why = m_hwOps.attach(mode, m_ctx, hwFormat);
        if (!why.empty()) {
            VideoLog(velmor::kLogDebug, "WndNum:%d,%s: %s\n", m_windowNumber, HwModeName(mode), why.c_str());
            return why;
        }
        m_hwPixFmt = hwFormat;
        m_ctx->opaque = this;
        m_ctx->get_format = GetHwFormat;
    }
    const int rc = avcodec_open2(m_ctx, m_codec, nullptr);
    if (rc < 0) {
        m_hwPixFmt = AV_PIX_FMT_NONE;
        std::string why = "the decoder does not open with it (" + ErrorText(rc) + ")";
        VideoLog(velmor::kLogDebug, "WndNum:%d,%s: %s\n", m_windowNumber, HwModeName(mode), why.c_str());
        return why;
    }
    return {};
}

void CRKPlay::PublishHwState()
{
    HwDecodeState state{m_hwPath.Mode(), m_hwPath.Reason()};
    if (state.mode != kHwNone)
        VideoLog(velmor::kLogDebug, "WndNum:%d,decoding with %s\n", m_windowNumber, HwModeName(state.mode));
    else if (!state.reason.empty())
        VideoLog(velmor::kLogInfo, "WndNum:%d,decoding in software: %s\n", m_windowNumber, state.reason.c_str());
    std::lock_guard guard(m_hwStateLock);
    m_hwState = std::move(state);
}

HwDecodeState CRKPlay::HwState() const
{
    std::lock_guard guard(m_hwStateLock);
    return m_hwState;
}

bool CRKPlay::DecoderReady() const
{
    return m_ctx && m_codec && avcodec_is_open(m_ctx) && (m_offscreen || m_presenter.IsBound()) &&
           m_decodeResult != -2;
}

int CRKPlay::Rebuild()
{
    std::lock_guard video(m_videoLock);
    void* window = m_window;
    const std::string osd = OsdText();
    Cleanup();
    if (RKPLAY_InitVideoParam(m_width, m_height, m_videoType, m_frameRate) != 0) return -1;
    // The text stays with the window across a rebuild.
    std::memcpy(m_osd, osd.data(), osd.size());
    m_osdLength = int(osd.size());
    return m_offscreen ? OpenOffscreen() : SetShowWnd(window, 0);
}

// ---- Decoding -----------------------------------------------------------------------

// Every call ends by flushing the parser, which is the parser's end of
// stream, and FFmpeg's parsers are not made to go on after one: the split
// state they keep (the last bytes seen, a picture start already found) meets
// the next call's first bytes with nothing buffered, and a damaged H.265 unit
// then makes the parser cut a picture of negative size and abort the whole
// process inside libavcodec. Each call therefore gets a parser of its own,
// as if each unit were a stream by itself, which it is.
bool CRKPlay::FreshParser()
{
    if (m_parser) av_parser_close(m_parser);
    m_parser = av_parser_init(m_videoType == 1 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    return m_parser != nullptr;
}

int CRKPlay::DecodeOneFrame(const uint8_t* data, int length, int keyFlag, int* frameBytes, int* width, int* height)
{
    m_unitArrived = CSdlPresenter::Clock::now();
    if (!DecoderReady()) {
        if (!keyFlag) return -2;
        Rebuild();
        if (!DecoderReady()) return -2;
    }
    if (keyFlag && data && length > 0) {
        uint16_t w = 0, h = 0;
        if (RKPLAY_GetResolutionBySPS(m_videoType, data, size_t(length), w, h) && (w != m_width || h != m_height)) {
            m_width = w;
            m_height = h;
            Rebuild();
            if (!DecoderReady()) return -2;
        }
    }

    std::lock_guard video(m_videoLock);
    if (data && length > 0) {
        if (!FreshParser()) return -1;
        // The parser and the decoder read a little past the end of what they
        // are given: the caller's bytes are copied behind zeroed padding.
        m_padded.assign(data, data + length);
        m_padded.resize(size_t(length) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        const uint8_t* in = m_padded.data();
        int left = length;
        bool flushed = false;
        for (;;) {
            uint8_t* out = nullptr;
            int outSize = 0;
            // Once the input is used up the parser is flushed, so the access
            // unit it holds comes out now: every call carries whole units.
            const int used = av_parser_parse2(m_parser, m_parserCtx, &out, &outSize, left > 0 ? in : nullptr, left,
                                              AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0) break;  // "av_parser_parse2 len<0"
            in += used;
            left -= used;
            if (outSize == 0) {
                if (left > 0) continue;
                if (flushed) break;
                flushed = true;
                continue;
            }
            if (outSize == 1) continue;
            m_packet->data = out;
            m_packet->size = outSize;
            RKPLAY_DecodeVideoAndShow(m_packet);
            m_packet->data = nullptr;
            m_packet->size = 0;
        }
        av_packet_unref(m_packet);
    } else {
        RKPLAY_DecodeVideoAndShow(nullptr);
        RKPLAY_DecodeVideoAndShow(nullptr);
    }
    if (frameBytes) *frameBytes = m_lastWidth * m_lastHeight * 3 / 2;
    if (width) *width = m_lastWidth;
    if (height) *height = m_lastHeight;
    return m_decodeResult;
}

int CRKPlay::RKPLAY_DecodeVideoAndShow(AVPacket* packet)
{
    if (!m_ctx || !avcodec_is_open(m_ctx)) return -1;
    if (packet && m_hwPath.OnTrial() && !HoldForReplay(packet)) {
        m_hwPath.Proven();
        DropHeld();
    }
    bool pathFailed = false;
    int rc = SendAndShow(packet, pathFailed);
    while (pathFailed) {
        // The device could not deliver its first picture: the next path
        // (another device or software) decodes everything the failed one
        // was given, this unit included, so that no picture is lost.
        const HardwareMode failed = m_hwPath.Mode();
        VideoLog(velmor::kLogDebug, "WndNum:%d,%s: %s\n", m_windowNumber, HwModeName(failed), m_pathFailure.c_str());
        std::string open;
        {
            // Opening a decoder is a window binding's step, under its lock.
            std::lock_guard process(ProcessLock());
            open = m_hwPath.GiveUp(m_pathFailure, [this](HardwareMode mode) { return OpenPath(mode); });
        }
        PublishHwState();
        if (!open.empty()) {
            DropHeld();
            return -1;
        }
        std::vector<AVPacket*> held;
        held.swap(m_held);
        pathFailed = false;
        for (AVPacket* unit : held) {
            if (!pathFailed) rc = SendAndShow(unit, pathFailed);
        }
        // Kept while the new path is on trial in turn.
        if (pathFailed || m_hwPath.OnTrial()) {
            m_held.swap(held);
        } else {
            for (AVPacket* unit : held) av_packet_free(&unit);
        }
        if (!pathFailed && !packet) rc = SendAndShow(nullptr, pathFailed);
    }
    return rc;
}

bool CRKPlay::HoldForReplay(const AVPacket* packet)
{
    if (m_held.size() >= kMaxHeldUnits) return false;
    AVPacket* copy = av_packet_alloc();
    // The parser's packets are not reference-counted: their bytes are copied.
    if (!copy || av_packet_ref(copy, packet) < 0) {
        av_packet_free(&copy);
        return false;
    }
    m_held.push_back(copy);
    return true;
}

void CRKPlay::DropHeld()
{
    for (AVPacket* unit : m_held) av_packet_free(&unit);
    m_held.clear();
}

int CRKPlay::SendAndShow(AVPacket* packet, bool& pathFailed)
{
    int rc = avcodec_send_packet(m_ctx, packet);
    if (rc < 0) {
        avcodec_flush_buffers(m_ctx);
        return rc;
    }
    for (;;) {
        rc = avcodec_receive_frame(m_ctx, m_frame);
        if (rc == AVERROR(EAGAIN)) break;
        if (rc == AVERROR_EOF) {
            // The end of a stream: ready for the next one.
            avcodec_flush_buffers(m_ctx);
            break;
        }
        if (rc < 0) return rc;
        if (m_hwPath.OnTrial() && m_frame->width > 0 && m_frame->height > 0) {
            // The first picture of a hardware path decides whether it stays.
            if (m_frame->format != m_hwPixFmt)
                m_pathFailure = "the device does not decode this stream";
            else if (CopyDecodeFrameToBuffer(m_frame) != 0)
                m_pathFailure = "its first picture does not reach system memory" +
                                (m_transferError < 0 ? " (" + ErrorText(m_transferError) + ")" : std::string());
            else
                m_pathFailure.clear();
            if (!m_pathFailure.empty()) {
                av_frame_unref(m_frame);
                pathFailed = true;
                return -1;
            }
            m_hwPath.Proven();
            DropHeld();
            m_decodeResult = RKPLAY_ShowVideoFrame(m_frame, true);
        } else {
            m_decodeResult = RKPLAY_ShowVideoFrame(m_frame);
        }
        av_frame_unref(m_frame);
    }
    return 0;
}

int CRKPlay::RKPLAY_ShowVideoFrame(AVFrame* frame, bool copied)
{
    // A damaged parameter set can describe a picture no recorder makes and
    // no window can draw (96 x 19712 was found): a decode failure, and the
    // last good picture stays.
    if (frame->width <= 0 || frame->height <= 0 || frame->width > kMaxPictureSide || frame->height > kMaxPictureSide)
        return -1;
    m_lastWidth = frame->width;
    m_lastHeight = frame->height;
    if (!copied && CopyDecodeFrameToBuffer(frame) != 0) return -1;
    if (m_offscreen || !m_showDecoded) {
        ZoomPartOf(m_picture.get());
        return 0;
    }
    // A renderer that failed makes the decoder "not ready": the next key
    // frame rebuilds it.
    return Render() == 0 ? 0 : -2;
}

int CRKPlay::CopyDecodeFrameToBuffer(AVFrame* frame)
{
    m_transferError = 0;
    ff::FramePtr picture(av_frame_alloc());
    if (!picture) return -1;
    if (m_hwPixFmt != AV_PIX_FMT_NONE && frame->format == m_hwPixFmt) {
        // A fresh frame each time: the presenter may still hold the last one.
        m_transferError = m_hwOps.transfer(picture.get(), frame);
        if (m_transferError < 0) {
            VideoLog(velmor::kLogDebug, "WndNum:%d,Error transferring the data to system memory\n", m_windowNumber);
            return -1;
        }
        picture->width = frame->width;
        picture->height = frame->height;
    }
    const AVFrame* src = picture->format != AV_PIX_FMT_NONE ? picture.get() : frame;
    const AVPixelFormat fmt = AVPixelFormat(src->format);
    if (fmt == AV_PIX_FMT_NV12 || fmt == AV_PIX_FMT_YUV420P || fmt == AV_PIX_FMT_YUVJ420P) {
        // The decoder's own picture is kept by reference, not copied.
        if (src == frame && av_frame_ref(picture.get(), frame) < 0) return -1;
        m_picture = std::move(picture);
        return 0;
    }
    // Other layouts (10-bit, 4:2:2, 4:4:4) become planar 4:2:0.
    ff::FramePtr planar(av_frame_alloc());
    if (!planar) return -1;
    planar->format = AV_PIX_FMT_YUV420P;
    planar->width = src->width;
    planar->height = src->height;
    if (av_frame_get_buffer(planar.get(), 0) < 0) return -1;
    m_sws = sws_getCachedContext(m_sws, src->width, src->height, fmt, src->width, src->height, AV_PIX_FMT_YUV420P,
                                 SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_sws) return -1;
    sws_scale(m_sws, src->data, src->linesize, 0, src->height, planar->data, planar->linesize);
    m_picture = std::move(planar);
    return 0;
}

int CRKPlay::Render()
{
    if (!m_picture || m_presenter.Failed()) return -1;
    m_presenter.SetSource(ZoomPartOf(m_picture.get()));
    m_presenter.Submit(m_picture.get(), m_scaleMode.load(), OsdUtf8(), m_unitArrived,
                       std::chrono::microseconds(1000000 / std::max(1, m_frameRate)));
    return 0;
}

int CRKPlay::ShowLastFrame()
{
    std::lock_guard video(m_videoLock);
    if (!DecoderReady() || !m_picture) return -2;
    if (m_offscreen) return 0;
    m_presenter.SetSource(ZoomPartOf(m_picture.get()));
    return m_presenter.ShowAndWait(m_picture.get(), m_scaleMode.load(), OsdUtf8());
}

void CRKPlay::SetShowDecoded(bool show)
{
    std::lock_guard video(m_videoLock);
    m_showDecoded = show;
}

int CRKPlay::KeepLastPicture(int64_t stamp)
{
    std::lock_guard video(m_videoLock);
    if (!m_picture) return -2;
    // A reference: the decoder hands out fresh buffers for the pictures after it.
    ff::FramePtr kept(av_frame_clone(m_picture.get()));
    if (!kept) return -1;
    m_kept[stamp] = std::move(kept);
    while (m_kept.size() > RKPLAYER_MAX_KEPT_PICTURES) m_kept.erase(m_kept.begin());
    return 0;
}

int CRKPlay::ShowKeptPicture(int64_t stamp)
{
    std::lock_guard video(m_videoLock);
    const auto it = m_kept.find(stamp);
    if (it == m_kept.end()) return -2;
    ff::FramePtr picture(av_frame_clone(it->second.get()));
    if (!picture) return -1;
    m_picture = std::move(picture);
    m_lastWidth = m_picture->width;
    m_lastHeight = m_picture->height;
    if (m_offscreen) return 0;
    m_presenter.SetSource(ZoomPartOf(m_picture.get()));
    return m_presenter.ShowAndWait(m_picture.get(), m_scaleMode.load(), OsdUtf8());
}

Rect CRKPlay::ZoomPartOf(const AVFrame* picture)
{
    std::lock_guard lock(m_zoomLock);
    m_zoomW = picture->width;
    m_zoomH = picture->height;
    return ZoomSource(m_zoom, m_zoomW, m_zoomH);
}

void CRKPlay::SetZoom(double factor, double cx, double cy)
{
    std::lock_guard lock(m_zoomLock);
    m_zoom = {factor, cx, cy};
    if (m_zoomW > 0) m_zoom = ClampZoom(m_zoom, m_zoomW, m_zoomH);
}

ZoomView CRKPlay::Zoom() const
{
    std::lock_guard lock(m_zoomLock);
    return m_zoomW > 0 ? ClampZoom(m_zoom, m_zoomW, m_zoomH) : m_zoom;
}

int CRKPlay::ZoomAt(int steps, int x, int y, int windowW, int windowH)
{
    std::lock_guard lock(m_zoomLock);
    if (m_zoomW <= 0) return -2;
    const Rect dst = DestinationRect(windowW, windowH, m_zoomW, m_zoomH, m_scaleMode.load());
    m_zoom = ZoomAround(m_zoom, steps, x, y, dst, m_zoomW, m_zoomH);
    return 0;
}

int CRKPlay::PanZoom(int dx, int dy, int windowW, int windowH)
{
    std::lock_guard lock(m_zoomLock);
    if (m_zoomW <= 0) return -2;
    const Rect dst = DestinationRect(windowW, windowH, m_zoomW, m_zoomH, m_scaleMode.load());
    m_zoom = rkmedia::PanZoom(m_zoom, dx, dy, dst, m_zoomW, m_zoomH);
    return 0;
}

void CRKPlay::DropKeptPictures()
{
    std::lock_guard video(m_videoLock);
    m_kept.clear();
}

size_t CRKPlay::KeptPictures() const
{
    std::lock_guard video(m_videoLock);
    return m_kept.size();
}

int CRKPlay::SetOSDText(const char* text, int length)
{
    std::lock_guard video(m_videoLock);
    if (!text || length <= 0) {
        m_osdLength = 0;
        return 0;
    }
    const int n = std::min(length, 49);
    std::memcpy(m_osd, text, size_t(n));
    // A text may end early at a NUL.
    m_osdLength = int(strnlen(m_osd, size_t(n)));
    return 0;
}

int CRKPlay::RKPLAY_SavePictureFile(const std::string& path, int pictureFormat, bool zoomed)
{
    if (pictureFormat < 0 || pictureFormat > 2) return -1;  // "Unknow pictype:%d"
    std::vector<uint8_t> picture;
    PictureLayout layout;
    int w, h;
    {
        std::lock_guard video(m_videoLock);
        if (!m_picture) return -1;
        layout = LayoutOf(m_picture.get());
        w = m_picture->width;
        h = m_picture->height;
        const AVPixelFormat fmt = layout == PictureLayout::kNV12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
        const Rect src = ZoomSource(Zoom(), w, h);
        if (zoomed && (src.w != w || src.h != h)) {
            // What the window shows, enlarged to the picture's size.
            layout = PictureLayout::kPlanar420;
            picture.resize(size_t(av_image_get_buffer_size(AV_PIX_FMT_YUV420P, w, h, 1)));
            uint8_t* dst[4];
            int dstLines[4];
            if (av_image_fill_arrays(dst, dstLines, picture.data(), AV_PIX_FMT_YUV420P, w, h, 1) < 0) return -1;
            SwsContext* sws = sws_getContext(src.w, src.h, fmt, w, h, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                             nullptr, nullptr);
            if (!sws) return -1;
            const uint8_t* planes[4];
            int planeLines[4];
            CropPlanes(m_picture.get(), src, planes, planeLines);
            sws_scale(sws, planes, planeLines, 0, src.h, dst, dstLines);
            sws_freeContext(sws);
        } else {
            picture.resize(size_t(av_image_get_buffer_size(fmt, w, h, 1)));
            if (av_image_copy_to_buffer(picture.data(), int(picture.size()), m_picture->data, m_picture->linesize,
                                        fmt, w, h, 1) < 0)
                return -1;
        }
    }
    CreateFoldersFor(path);
    if (pictureFormat == 2) {
        const auto bmp = MakeBmp(picture.data(), layout, w, h);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bmp.data()), std::streamsize(bmp.size()));
        return out ? 0 : -1;
    }
    return WriteImageWithFfmpeg(path, picture.data(), layout, w, h, pictureFormat == 1);
}

void CRKPlay::Cleanup()
{
    std::lock_guard video(m_videoLock);
    m_exit.store(true);
    // Drawing ends before the decoder it draws from goes.
    m_presenter.Release();
    DropHeld();
    if (m_parser) av_parser_close(m_parser);
    m_parser = nullptr;
    avcodec_free_context(&m_parserCtx);
    avcodec_free_context(&m_ctx);
    m_codec = nullptr;
    av_frame_free(&m_frame);
    m_decodeResult = 0;
    m_picture.reset();
    m_kept.clear();
    {
        std::lock_guard lock(m_zoomLock);
        m_zoom = {};
        m_zoomW = m_zoomH = 0;
    }
    m_lastWidth = m_lastHeight = 0;
    av_bsf_free(&m_bsf);
    sws_freeContext(m_sws);
    m_sws = nullptr;
    m_hwPixFmt = AV_PIX_FMT_NONE;
    m_hwPath.Reset(nullptr, false);
    PublishHwState();
    m_osdLength = 0;
}

}  // namespace rkmedia
