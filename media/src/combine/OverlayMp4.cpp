#include "media/src/combine/OverlayMp4.h"

#include <cstring>

#include "media/src/mp4/Mp4Diag.h"
#include "media/src/video/OsdText.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace rkmedia {

int COverlayMp4::Fail(int code, std::string text)
{
    m_failed = true;
    if (m_error.empty()) m_error = std::move(text);
    Mp4Diag("overlay: %s", m_error.c_str());
    return code < 0 ? code : -1;
}

int COverlayMp4::Create(const char* path, int width, int height, int videoType, int frameRate)
{
    if (!m_picture || !m_packet) return Fail(AVERROR(ENOMEM), "out of memory");
    m_videoType = videoType == 1 ? 1 : 0;
    int ret = m_writer.CreateMp4File(path, width, height, m_videoType, frameRate);
    if (ret < 0) return Fail(ret, std::string("the file ") + (path ? path : "(none)") + " cannot be made");
    m_frameRate = m_writer.FrameRate();
    const AVCodec* dec = avcodec_find_decoder(m_videoType == 1 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    if (!dec) return Fail(AVERROR_DECODER_NOT_FOUND, "no decoder for the recorded video");
    m_dec.reset(avcodec_alloc_context3(dec));
    if (!m_dec) return Fail(AVERROR(ENOMEM), "out of memory");
    // One thread: pictures come out in the order they went in, one for one,
    // and the export beside it keeps the other core.
    m_dec->thread_count = 1;
    // The library reports through its caller, never on the process's
    // standard error: FFmpeg's own lines fall below what its logger prints.
    m_dec->log_level_offset = AV_LOG_DEBUG;
    if ((ret = avcodec_open2(m_dec.get(), dec, nullptr)) < 0) return Fail(ret, "the video decoder cannot be opened");
    return 0;
}

int COverlayMp4::OpenEncoder(const AVFrame* first)
{
    const bool hevc = m_videoType == 1;
    const AVCodec* enc = avcodec_find_encoder(hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    if (!enc) return Fail(AVERROR_ENCODER_NOT_FOUND, hevc ? "no H.265 encoder" : "no H.264 encoder");
    m_enc.reset(avcodec_alloc_context3(enc));
    if (!m_enc) return Fail(AVERROR(ENOMEM), "out of memory");
    AVCodecContext* e = m_enc.get();
    e->log_level_offset = AV_LOG_DEBUG;
    e->width = first->width;
    e->height = first->height;
    e->pix_fmt = AV_PIX_FMT_YUV420P;
    e->color_range = first->color_range;
    e->sample_aspect_ratio = first->sample_aspect_ratio;
    e->time_base = AVRational{1, m_frameRate};
    e->framerate = AVRational{m_frameRate, 1};
    // Key pictures where the recording has them (forced below); no others.
    e->gop_size = 600;
    e->max_b_frames = 0;
    // Quality near the recording's, so that the picture outside the text
    // stays what was recorded; no look-ahead, so that each picture leaves
    // the encoder as the next goes in.
    av_opt_set(e->priv_data, "preset", "ultrafast", 0);
    av_opt_set(e->priv_data, "tune", "zerolatency", 0);
    av_opt_set(e->priv_data, "crf", "18", 0);
    av_opt_set(e->priv_data, "forced-idr", "1", 0);
    if (hevc) av_opt_set(e->priv_data, "x265-params", "log-level=none", 0);
    // No global header: parameter sets go in front of every key picture, as
    // the recorder writes them and the clip's writer reads them.
    const int ret = avcodec_open2(e, enc, nullptr);
    if (ret < 0) return Fail(ret, "the video encoder cannot be opened");
    return 0;
}

int COverlayMp4::Encode(AVFrame* picture)
{
    if (!m_enc) {
        const int ret = OpenEncoder(picture);
        if (ret < 0) return ret;
    }
    if (picture) {
        if (picture->width != m_enc->width || picture->height != m_enc->height)
            return Fail(AVERROR(EINVAL), "the recorded picture size changes within the clip");
        picture->pts = m_out++;
    }
    int ret = avcodec_send_frame(m_enc.get(), picture);
    if (ret < 0) return Fail(ret, "the video encoder refused a picture");
    while ((ret = avcodec_receive_packet(m_enc.get(), m_packet.get())) >= 0) {
        const int key = (m_packet->flags & AV_PKT_FLAG_KEY) ? 1 : 0;
        ret = m_writer.WriteMp4VideoFile(m_packet->data, m_packet->size, key, uint64_t(m_packet->pts));
        av_packet_unref(m_packet.get());
        if (ret < 0) return Fail(ret, "the picture cannot be written");
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) return Fail(ret, "the video encoder failed");
    return 0;
}

int COverlayMp4::DrawNext()
{
    const Pending p = std::move(m_pending.front());
    m_pending.pop_front();
    ff::FramePtr drawn(av_frame_clone(m_last.get()));
    if (!drawn || av_frame_make_writable(drawn.get()) < 0) return Fail(AVERROR(ENOMEM), "out of memory");
    std::string why;
    if (!BurnOsd(drawn.get(), p.text, &why)) return Fail(AVERROR(EINVAL), why);
    drawn->pict_type = p.key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    return Encode(drawn.get());
}

int COverlayMp4::Receive()
{
    int ret = 0;
    while ((ret = avcodec_receive_frame(m_dec.get(), m_picture.get())) >= 0) {
        const int64_t number = m_picture->best_effort_timestamp != AV_NOPTS_VALUE ? m_picture->best_effort_timestamp
                                                                                 : m_picture->pts;
        // Same memory either way; the range goes with the picture.
        if (m_picture->format == AV_PIX_FMT_YUVJ420P) {
            m_picture->format = AV_PIX_FMT_YUV420P;
            m_picture->color_range = AVCOL_RANGE_JPEG;
        }
        m_last.reset(av_frame_clone(m_picture.get()));
        av_frame_unref(m_picture.get());
        if (!m_last) return Fail(AVERROR(ENOMEM), "out of memory");
        // Pictures the decoder gave none for show the next one it gave, each
        // with its own text: the copy keeps the clip's count and clock.
        while (!m_pending.empty() && m_pending.front().number <= number) {
            if ((ret = DrawNext()) < 0) return ret;
        }
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) return Fail(ret, "the recorded video cannot be decoded");
    return 0;
}

int COverlayMp4::WriteVideo(const uint8_t* data, int length, int keyFlag, uint64_t /*time*/, const std::string& text)
{
    if (m_failed || !m_dec) return -1;
    if (!data || length <= 0) return -1;
    if (!m_keySeen && !keyFlag) return -1;
    m_keySeen = true;
    av_packet_unref(m_packet.get());
    if (av_new_packet(m_packet.get(), length) < 0) return Fail(AVERROR(ENOMEM), "out of memory");
    std::memcpy(m_packet->data, data, size_t(length));
    m_packet->pts = m_packet->dts = m_in;
    if (keyFlag) m_packet->flags |= AV_PKT_FLAG_KEY;
    m_pending.push_back({m_in, text, keyFlag != 0});
    ++m_in;
    int ret = avcodec_send_packet(m_dec.get(), m_packet.get());
    av_packet_unref(m_packet.get());
    // A damaged access unit gives no picture; the next one decoded stands in
    // for it. The recorded clip keeps it as it is.
    if (ret < 0 && ret != AVERROR_INVALIDDATA && ret != AVERROR(EAGAIN))
        return Fail(ret, "the recorded video cannot be decoded");
    return Receive();
}

int COverlayMp4::WriteAudio(const uint8_t* data, int length)
{
    if (m_failed) return -1;
    return m_writer.WriteMp4AudioFile(data, length);
}

int COverlayMp4::Drain()
{
    int ret = avcodec_send_packet(m_dec.get(), nullptr);
    if (ret < 0 && ret != AVERROR_EOF) return Fail(ret, "the recorded video cannot be decoded");
    if ((ret = Receive()) < 0) return ret;
    if (!m_pending.empty() && !m_last) return Fail(AVERROR_INVALIDDATA, "no picture of the clip can be decoded");
    // The last pictures gave none: they show the last one decoded.
    while (!m_pending.empty())
        if ((ret = DrawNext()) < 0) return ret;
    if (m_enc && (ret = Encode(nullptr)) < 0) return ret;
    return 0;
}

int COverlayMp4::Close()
{
    if (m_failed) return -1;
    if (!m_dec) return Fail(-1, "the file was never made");
    int ret = Drain();
    if (ret < 0) return ret;
    if (m_out != m_in) return Fail(AVERROR_INVALIDDATA, "the copy does not hold every picture of the clip");
    ret = m_writer.CloseMp4File();
    if (ret < 0) return Fail(ret, "the file cannot be finished");
    return 0;
}

}  // namespace rkmedia
