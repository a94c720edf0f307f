#include "media/src/mp4/RKMp4Convert.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "media/src/mp4/Mp4Diag.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

namespace rkmedia {

namespace {

constexpr int kAudioSampleRate = 8000;
constexpr int kAudioBitRate = 32000;
constexpr int kMaxDimension = 16384;

void RemoveQuietly(const std::string& path)
{
    if (path.empty()) return;
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

}  // namespace

CRKMp4Convert::~CRKMp4Convert()
{
    // Never closed: what was written is not a finished file.
    m_pendingAudio.reset();
    m_out.Reset();
    if (m_bHeaderWritten || !m_partPath.empty()) RemoveQuietly(m_partPath);
}

int CRKMp4Convert::NormalizeFrameRate(int frameRate)
{
    static constexpr int kRates[] = {1, 3, 5, 8, 10, 12, 15, 20, 25, 30};
    int rate = frameRate;
    for (int r : kRates) {
        if (frameRate >= r - 1 && frameRate <= r + 1) {
            rate = r;
            break;
        }
    }
    return rate == 30 ? 25 : rate;
}

std::string CRKMp4Convert::PartialPath(const std::string& path) { return path + ".part"; }

int CRKMp4Convert::AddVideoStream(AVCodecID codec, int width, int height)
{
    // The packets are stored as recorded, so the stream needs the codec's
    // description only, not an encoder: a build without one still writes
    // the picture.
    AVStream* st = avformat_new_stream(m_out.get(), nullptr);
    if (!st) return AVERROR(ENOMEM);
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = codec;
    st->codecpar->width = width;
    st->codecpar->height = height;
    st->codecpar->format = AV_PIX_FMT_YUV420P;
    // The AVI muxer knows no tag of its own for H.265 and would write 0,
    // which readers take for raw pictures.
    const AVOutputFormat* format = m_out.get()->oformat;
    if (codec == AV_CODEC_ID_HEVC && format && std::strcmp(format->name, "avi") == 0)
        st->codecpar->codec_tag = MKTAG('H', 'E', 'V', 'C');
    m_videoCodecTb = AVRational{1, 2 * m_nFrameRate};
    st->time_base = m_videoCodecTb;
    st->avg_frame_rate = AVRational{m_nFrameRate, 1};
    m_pVideoStream = st;
    m_vi = st->index;
    m_videoCodec = codec;
    return 0;
}

// The muxer builds the track's decoder configuration from the parameter sets
// of the first packet when it writes the trailer, with a parser that loops
// without end on some damaged sets. The first key frame therefore goes in
// with its parameter sets parsed and written anew by FFmpeg's strict coded
// bitstream reader; what that reader refuses is refused here.
int CRKMp4Convert::RewriteParameterSets(AVPacket* pkt)
{
    const AVBitStreamFilter* filter =
        av_bsf_get_by_name(m_videoCodec == AV_CODEC_ID_HEVC ? "hevc_metadata" : "h264_metadata");
    if (!filter) return AVERROR_BSF_NOT_FOUND;
    AVBSFContext* raw = nullptr;
    int ret = av_bsf_alloc(filter, &raw);
    if (ret < 0) return ret;
    ff::BsfPtr bsf(raw);
    raw->par_in->codec_type = AVMEDIA_TYPE_VIDEO;
    raw->par_in->codec_id = m_videoCodec;
    raw->par_in->width = m_pVideoStream->codecpar->width;
    raw->par_in->height = m_pVideoStream->codecpar->height;
    raw->time_base_in = m_videoCodecTb;
    if ((ret = av_bsf_init(raw)) < 0) return ret;
    if ((ret = av_bsf_send_packet(raw, pkt)) < 0) return ret;
    if ((ret = av_bsf_receive_packet(raw, pkt)) < 0) return ret;
    return pkt->size > 0 ? 0 : AVERROR_INVALIDDATA;
}

int CRKMp4Convert::AddAudioStream()
{
    const AVCodec* enc = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!enc) {
        Mp4Diag("could not find encoder for '%s'", avcodec_get_name(AV_CODEC_ID_AAC));
        return 0;
    }
    ff::CodecContextPtr ctx(avcodec_alloc_context3(enc));
    if (!ctx) return AVERROR(ENOMEM);
    // Its closing summary would go to the process's standard error.
    ctx->log_level_offset = AV_LOG_DEBUG;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->bit_rate = kAudioBitRate;
    ctx->sample_rate = kAudioSampleRate;
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->time_base = AVRational{1, kAudioSampleRate};
    if (m_out.get()->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // The encoder is opened for its decoder configuration, which the track
    // needs; the frames themselves come from the converter.
    int ret = avcodec_open2(ctx.get(), enc, nullptr);
    if (ret < 0) {
        Mp4Diag("could not open audio codec");
        return 0;
    }
    AVStream* st = avformat_new_stream(m_out.get(), nullptr);
    if (!st) return AVERROR(ENOMEM);
    ret = avcodec_parameters_from_context(st->codecpar, ctx.get());
    if (ret < 0) return ret;
    st->time_base = ctx->time_base;
    m_nAudioFrameSize = ctx->frame_size > 0 ? ctx->frame_size : 1024;
    m_nAudioPriming = ctx->initial_padding;
    m_audioCtx = std::move(ctx);
    m_pAudioStream = st;
    m_ai = st->index;
    return 0;
}

int CRKMp4Convert::CreateMp4File(const char* path, int width, int height, int videoType, int frameRate)
{
    if (m_out.get() || m_bHeaderWritten) return -1;  // one file per writer
    if (!path || !*path || width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) {
        Mp4Diag("bad arguments: %dx%d", width, height);
        return -1;
    }
    m_nFrameRate = NormalizeFrameRate(frameRate);
    if (m_nFrameRate < 1 || m_nFrameRate > 1000) {
        Mp4Diag("bad frame rate %d", frameRate);
        return -1;
    }
    const AVCodecID codec = videoType == 1 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    m_path = path;
    m_partPath = PartialPath(m_path);

    int ret = avformat_alloc_output_context2(m_out.slot(), nullptr, nullptr, path);
    if (ret < 0 || !m_out.get()) {
        Mp4Diag("Could not deduce output format from file extension: using MPEG.");
        ret = avformat_alloc_output_context2(m_out.slot(), nullptr, "mpeg", path);
    }
    if (ret < 0 || !m_out.get()) return ret < 0 ? ret : -1;
    const AVOutputFormat* fmt = m_out.get()->oformat;

    if (fmt->video_codec != AV_CODEC_ID_NONE) {
        ret = AddVideoStream(codec, width, height);
        if (ret < 0) return ret;
    }
    if (fmt->audio_codec != AV_CODEC_ID_NONE) {
        ret = AddAudioStream();
        if (ret < 0) return ret;
    }

    if (!(fmt->flags & AVFMT_NOFILE)) {
        ret = avio_open(&m_out.get()->pb, m_partPath.c_str(), AVIO_FLAG_WRITE);
        if (ret < 0) {
            char text[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(ret, text, sizeof text);
            Mp4Diag("avio_open fail:%s", text);
            m_partPath.clear();  // nothing of ours is there to remove
            return ret;
        }
    }
    ret = avformat_write_header(m_out.get(), nullptr);
    if (ret < 0) {
        Mp4Diag("avformat_write_header fail:%d", ret);
        m_bFailed = true;
        m_nFailure = ret;
        return ret;
    }
    m_bHeaderWritten = true;
    return ret;
}

int CRKMp4Convert::WriteMp4VideoFile(const uint8_t* data, int length, int keyFlag, uint64_t time)
{
    m_nLastPts = time;
    if (m_vi < 0) {
        Mp4Diag("m_vi less than 0");
        return -1;
    }
    if (!data || length <= 0) {
        Mp4Diag("videoBuf null,return ret");
        return -1;
    }
    if (!m_bHeaderWritten || m_bFailed) return -1;
    if (m_bWaitKey && !keyFlag) return -1;
    ff::PacketPtr pkt(av_packet_alloc());
    if (!pkt || av_new_packet(pkt.get(), length) < 0) return -1;
    std::memcpy(pkt->data, data, size_t(length));
    if (m_bWaitKey) {
        if (RewriteParameterSets(pkt.get()) < 0) {
            Mp4Diag("key frame without usable parameter sets");
            return -1;
        }
        m_bWaitKey = false;
    }
    if (keyFlag) pkt->flags |= AV_PKT_FLAG_KEY;
    pkt->stream_index = m_vi;
    const auto rnd = AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);
    pkt->pts = av_rescale_q_rnd(m_nFrameCount * 2, m_videoCodecTb, m_pVideoStream->time_base, rnd);
    pkt->dts = pkt->pts;
    pkt->duration = av_rescale_q_rnd(2, m_videoCodecTb, m_pVideoStream->time_base, rnd);
    pkt->pos = -1;
    ++m_nFrameCount;
    const int ret = av_interleaved_write_frame(m_out.get(), pkt.get());
    if (ret < 0) {
        Mp4Diag("av_interleaved_write_frame fail");
        if (m_out.get()->pb && m_out.get()->pb->error < 0) {
            m_bFailed = true;
            m_nFailure = ret;
        }
    }
    return ret;
}

int CRKMp4Convert::WritePendingAudio(bool last)
{
    if (!m_pendingAudio) return 0;
    ff::PacketPtr pkt = std::move(m_pendingAudio);
    const AVRational sampleTb{1, kAudioSampleRate};
    int64_t duration = m_nAudioFrameSize;
    if (last && m_vi >= 0) {
        // The track ends with the picture: the last frame's padding would
        // otherwise run the sound on past the last picture.
        const int64_t videoEnd = av_rescale(m_nFrameCount, kAudioSampleRate, m_nFrameRate);
        if (pkt->pts < videoEnd && videoEnd < pkt->pts + duration) duration = videoEnd - pkt->pts;
    }
    const AVRational tb = m_pAudioStream->time_base;
    const auto rnd = AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);
    pkt->pts = av_rescale_q_rnd(pkt->pts, sampleTb, tb, rnd);
    pkt->dts = pkt->pts;
    pkt->duration = av_rescale_q_rnd(duration, sampleTb, tb, rnd);
    const int ret = av_interleaved_write_frame(m_out.get(), pkt.get());
    if (ret < 0) {
        Mp4Diag("av_interleaved_write_frame fail");
        if (m_out.get()->pb && m_out.get()->pb->error < 0) {
            m_bFailed = true;
            m_nFailure = ret;
        }
    }
    return ret;
}

int CRKMp4Convert::WriteMp4AudioFile(const uint8_t* data, int length)
{
    if (m_ai < 0) {
        Mp4Diag("m_ai less than 0");
        return -1;
    }
    if (!data || length <= 0 || !m_bHeaderWritten || m_bFailed) return -1;
    ff::PacketPtr pkt(av_packet_alloc());
    if (!pkt || av_new_packet(pkt.get(), length) < 0) return -1;
    std::memcpy(pkt->data, data, size_t(length));
    pkt->flags |= AV_PKT_FLAG_KEY;
    pkt->stream_index = m_ai;
    // Stamped by the samples before it: every AAC frame holds the same
    // number, and the encoder's priming lies before the first picture.
    pkt->pts = m_nAudioSamples - m_nAudioPriming;
    pkt->dts = pkt->pts;
    pkt->pos = -1;
    m_nAudioSamples += m_nAudioFrameSize;
    const int ret = WritePendingAudio(false);
    m_pendingAudio = std::move(pkt);
    return ret < 0 ? ret : 0;
}

int CRKMp4Convert::CloseMp4File()
{
    m_vi = -1;
    m_ai = -1;
    m_bWaitKey = true;
    int result = 0;
    if (m_bHeaderWritten) {
        const int pending = WritePendingAudio(true);
        (void)pending;  // an output error there is kept in m_bFailed
        const int ret = av_write_trailer(m_out.get());
        if (ret < 0 && !m_bFailed) {
            m_bFailed = true;
            m_nFailure = ret;
        }
        if (m_out.get()->pb && !(m_out.get()->oformat->flags & AVFMT_NOFILE)) {
            if (m_out.get()->pb->error < 0 && !m_bFailed) {
                m_bFailed = true;
                m_nFailure = m_out.get()->pb->error;
            }
            const int closed = avio_closep(&m_out.get()->pb);
            if (closed < 0 && !m_bFailed) {
                m_bFailed = true;
                m_nFailure = closed;
            }
        }
    }
    m_pendingAudio.reset();
    m_audioCtx.reset();
    m_out.Reset();
    m_pVideoStream = m_pAudioStream = nullptr;

    if (m_bHeaderWritten && !m_bFailed) {
        std::error_code ec;
        std::filesystem::rename(m_partPath, m_path, ec);
        if (ec) {
            Mp4Diag("rename %s fail:%s", m_partPath.c_str(), ec.message().c_str());
            m_bFailed = true;
            m_nFailure = AVERROR(ec.value() ? ec.value() : EIO);
        }
    }
    if (m_bFailed) {
        RemoveQuietly(m_partPath);
        // A file whose header never got written was refused when it was
        // created; only a file that was being written can fail here.
        if (m_bHeaderWritten) result = m_nFailure < 0 ? m_nFailure : -1;
    }
    m_bHeaderWritten = false;
    m_partPath.clear();
    return result;
}

}  // namespace rkmedia
