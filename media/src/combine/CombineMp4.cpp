#include "media/src/combine/CombineMp4.h"

#include <cinttypes>
#include <cstdarg>
#include <cstddef>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>

#include "media/src/mp4/FfmpegPtr.h"
#include "media/src/mp4/Mp4Diag.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/samplefmt.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace rkmedia {

static_assert(sizeof(RKPLAYER_COMBINE_INPUT) == 532);
static_assert(offsetof(RKPLAYER_COMBINE_INPUT, position) == 520);
static_assert(offsetof(RKPLAYER_COMBINE_INPUT, effect) == 524);
static_assert(offsetof(RKPLAYER_COMBINE_INPUT, reserved) == 528);
static_assert(sizeof(RKPLAYER_COMBINE_UNUSED) == 68);

namespace {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return n < 0 ? std::string() : std::string(buf, size_t(std::min<int>(n, int(sizeof buf) - 1)));
}

struct CInputFile {
    ff::InputPtr fmt;
    int video = -1;
    int audio = -1;
    ff::CodecContextPtr videoDec;
    ff::CodecContextPtr audioDec;
    int64_t lastEnd = std::numeric_limits<int64_t>::min();  // AV_TIME_BASE units, on the span's clock
    int64_t pictures = 0;                                   // decoded so far
    int64_t offset = 0;       // AV_TIME_BASE units from the span's start to the file's time 0
    bool videoBegun = false;  // a first picture (or the black before it) went in
    bool audioBegun = false;
    bool open = true;         // packets are still read from it
    ff::PacketPtr next;       // its next packet, read ahead to merge the inputs by time
};

// One output stream with its encoder and the graph that feeds it.
struct CPipe {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    AVStream* stream = nullptr;
    ff::CodecContextPtr enc;
    ff::GraphPtr graph;
    std::vector<AVFilterContext*> sources;  // one per input, "in%d"
    AVFilterContext* sink = nullptr;        // "out"
    int64_t count = 0;                      // frames (video) or samples (audio) encoded
    int64_t lastPts = std::numeric_limits<int64_t>::min();
};

class CRun {
public:
    CRun(const CombineOutputSettings& out, const std::vector<RKPLAYER_COMBINE_INPUT>& inputs,
         const std::vector<int64_t>& startMs)
        : m_out(out), m_inputs(inputs), m_startMs(startMs)
    {
    }
    ~CRun()
    {
        for (auto& p : m_pipes) p.graph.reset();
        m_output.Reset();
        if (!m_partPath.empty()) {
            std::error_code ec;
            std::filesystem::remove(m_partPath, ec);
        }
    }
    int Execute();

private:
    int OpenInputs();
    int OpenOutput();
    int OpenBitstreamFilter();
    int InitFilters(CPipe& pipe);
    int StartEncode();
    int Feed(size_t k, AVPacket* pkt);
    int Begin(size_t k, CPipe& pipe, AVCodecContext* dec, int64_t firstPts);
    int AddBlack(size_t k, CPipe& pipe, AVCodecContext* dec, int64_t pts);
    int AddSilence(size_t k, CPipe& pipe, AVCodecContext* dec, int64_t samples);
    int ReadAhead(size_t k);
    int64_t NextTime(size_t k) const;
    int EndInput(size_t k);
    int Pull(CPipe& pipe, int64_t cap);
    int EncodeWrite(CPipe& pipe, AVFrame* frame);
    int WritePacket(CPipe& pipe, AVPacket* pkt);
    int Finish();
    CPipe* PipeOf(AVMediaType type)
    {
        for (auto& p : m_pipes)
            if (p.type == type) return &p;
        return nullptr;
    }

    const CombineOutputSettings& m_out;
    const std::vector<RKPLAYER_COMBINE_INPUT>& m_inputs;
    const std::vector<int64_t>& m_startMs;
    std::vector<CInputFile> m_files;
    ff::COutput m_output;
    std::vector<CPipe> m_pipes;
    ff::BsfPtr m_bsf;
    ff::PacketPtr m_pkt{av_packet_alloc()};
    ff::PacketPtr m_outPkt{av_packet_alloc()};
    ff::FramePtr m_frame{av_frame_alloc()};
    ff::FramePtr m_filtered{av_frame_alloc()};
    std::string m_partPath;
    int64_t m_nWritten = 0;
    bool m_bStop = false;  // the picture budget is spent
};

int OpenDecoder(AVFormatContext* fmt, int index, ff::CodecContextPtr& out)
{
    AVStream* st = fmt->streams[index];
    const AVCodec* dec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!dec) {
        Mp4Diag("Failed to find decoder for stream #%u", unsigned(index));
        return AVERROR_DECODER_NOT_FOUND;
    }
    ff::CodecContextPtr ctx(avcodec_alloc_context3(dec));
    if (!ctx) return AVERROR(ENOMEM);
    int ret = avcodec_parameters_to_context(ctx.get(), st->codecpar);
    if (ret < 0) return ret;
    ctx->pkt_timebase = st->time_base;
    ctx->thread_count = 0;  // as many as the machine has
    if (ctx->codec_type == AVMEDIA_TYPE_VIDEO) ctx->framerate = av_guess_frame_rate(fmt, st, nullptr);
    ret = avcodec_open2(ctx.get(), dec, nullptr);
    if (ret < 0) {
        Mp4Diag("Failed to open decoder for stream #%u", unsigned(index));
        return ret;
    }
    out = std::move(ctx);
    return 0;
}

int CRun::OpenInputs()
{
    for (size_t k = 0; k < m_inputs.size(); ++k) {
        CInputFile f;
        const std::string path(m_inputs[k].path, strnlen(m_inputs[k].path, sizeof m_inputs[k].path));
        AVFormatContext* raw = nullptr;
        int ret = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
        if (ret < 0) {
            Mp4Diag("Cannot open input file");
            return ret;
        }
        f.fmt.reset(raw);
        ret = avformat_find_stream_info(raw, nullptr);
        if (ret < 0) {
            Mp4Diag("Cannot find stream information");
            return ret;
        }
        f.video = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        f.audio = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (f.video >= 0 && (ret = OpenDecoder(raw, f.video, f.videoDec)) < 0) return ret;
        if (f.audio >= 0 && (ret = OpenDecoder(raw, f.audio, f.audioDec)) < 0) return ret;
        f.offset = av_rescale(m_startMs[k], AV_TIME_BASE, 1000);
        f.next.reset(av_packet_alloc());
        if (!f.next) return AVERROR(ENOMEM);
        m_files.push_back(std::move(f));
    }
    return 0;
}

int CRun::OpenOutput()
{
    const char* path = m_out.path.c_str();
    int ret = avformat_alloc_output_context2(m_output.slot(), nullptr, nullptr, path);
    if (ret < 0 || !m_output.get()) ret = avformat_alloc_output_context2(m_output.slot(), nullptr, "mpeg", path);
    if (ret < 0 || !m_output.get()) {
        Mp4Diag("Could not create output context");
        return ret < 0 ? ret : AVERROR_UNKNOWN;
    }
    AVFormatContext* oc = m_output.get();
    const CInputFile& first = m_files.front();
    AVFormatContext* in = first.fmt.get();
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVMediaType type = in->streams[i]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_UNKNOWN) {
            Mp4Diag("Elementary stream #%d is of unknown type, cannot proceed", int(i));
            return AVERROR_INVALIDDATA;
        }
        // The picture and the sound are made anew; what else a channel file
        // carries has no place in the combined one.
        if (int(i) != first.video && int(i) != first.audio) continue;

        CPipe pipe;
        pipe.type = type;
        const AVCodec* enc = nullptr;
        if (type == AVMEDIA_TYPE_VIDEO) {
            enc = avcodec_find_encoder(m_out.videoType == 1 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
        } else {
            enc = avcodec_find_encoder(AV_CODEC_ID_AAC);
        }
        if (!enc) {
            Mp4Diag("Necessary encoder not found");
            return AVERROR_INVALIDDATA;
        }
        pipe.enc.reset(avcodec_alloc_context3(enc));
        if (!pipe.enc) return AVERROR(ENOMEM);
        AVCodecContext* e = pipe.enc.get();
        // The encoders' own lines (settings, summaries, clamped bit rates)
        // would go to standard error: a library never prints. Failures come
        // back as return codes.
        e->log_level_offset = AV_LOG_DEBUG;
        if (type == AVMEDIA_TYPE_VIDEO) {
            const AVCodecContext* d = first.videoDec.get();
            // One cell shows the channel as it is ("null"): its own size.
            e->width = m_out.cells == 1 ? d->width : m_out.width;
            e->height = m_out.cells == 1 ? d->height : m_out.height;
            e->sample_aspect_ratio = d->sample_aspect_ratio;
            e->pix_fmt = enc->pix_fmts ? enc->pix_fmts[0] : d->pix_fmt;
            e->bit_rate = m_out.bitRate;
            e->qcompress = 0.6f;
            e->time_base = AVRational{1, 25};
            e->framerate = AVRational{25, 1};
            e->gop_size = 250;
            e->max_b_frames = 3;
            av_opt_set(e->priv_data, "preset", "ultrafast", 0);
            if (enc->id == AV_CODEC_ID_HEVC) av_opt_set(e->priv_data, "x265-params", "log-level=error", 0);
        } else {
            const AVCodecContext* d = first.audioDec.get();
            e->sample_rate = d->sample_rate;
            if (d->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || d->ch_layout.nb_channels == 0)
                av_channel_layout_default(&e->ch_layout, std::max(1, d->ch_layout.nb_channels));
            else if ((ret = av_channel_layout_copy(&e->ch_layout, &d->ch_layout)) < 0)
                return ret;
            e->sample_fmt = enc->sample_fmts ? enc->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
            e->time_base = AVRational{1, e->sample_rate > 0 ? e->sample_rate : 8000};
        }
        if (oc->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        ret = avcodec_open2(e, enc, nullptr);
        if (ret < 0) {
            Mp4Diag("Cannot open video encoder for stream #%u", i);
            return ret;
        }
        pipe.stream = avformat_new_stream(oc, nullptr);
        if (!pipe.stream) return AVERROR(ENOMEM);
        ret = avcodec_parameters_from_context(pipe.stream->codecpar, e);
        if (ret < 0) return ret;
        pipe.stream->time_base = e->time_base;
        m_pipes.push_back(std::move(pipe));
    }
    if (m_pipes.empty()) {
        Mp4Diag("Could not create output context");
        return AVERROR_STREAM_NOT_FOUND;
    }

    m_partPath = m_out.path + ".part";
    if (!(oc->oformat->flags & AVFMT_NOFILE)) {
        ret = avio_open(&oc->pb, m_partPath.c_str(), AVIO_FLAG_WRITE);
        if (ret < 0) {
            Mp4Diag("Could not open output file '%s'", m_out.path.c_str());
            m_partPath.clear();
            return ret;
        }
    }
    ret = avformat_write_header(oc, nullptr);
    if (ret < 0) {
        Mp4Diag("Error occurred when opening output file");
        return ret;
    }
    return 0;
}

int CRun::OpenBitstreamFilter()
{
    CPipe* video = PipeOf(AVMEDIA_TYPE_VIDEO);
    if (!video) return 0;
    const char* name = m_out.videoType == 1 ? "hevc_mp4toannexb" : "h264_mp4toannexb";
    const AVBitStreamFilter* filter = av_bsf_get_by_name(name);
    if (!filter) {
        Mp4Diag("Unknow bitstream filter:%s", name);
        return AVERROR_BSF_NOT_FOUND;
    }
    AVBSFContext* raw = nullptr;
    int ret = av_bsf_alloc(filter, &raw);
    if (ret < 0) {
        Mp4Diag("av_bsf_alloc Fail, ret:=%d", ret);
        return ret;
    }
    m_bsf.reset(raw);
    ret = avcodec_parameters_copy(raw->par_in, video->stream->codecpar);
    if (ret < 0) {
        Mp4Diag("avcodec_parameters_copy Fail,ret:%d", ret);
        return ret;
    }
    raw->time_base_in = video->enc->time_base;
    ret = av_bsf_init(raw);
    if (ret < 0) Mp4Diag("av_bsf_init Fail:ret:%d", ret);
    return ret;
}

int CRun::InitFilters(CPipe& pipe)
{
    const bool isVideo = pipe.type == AVMEDIA_TYPE_VIDEO;
    pipe.graph.reset(avfilter_graph_alloc());
    if (!pipe.graph) return AVERROR(ENOMEM);
    AVFilterGraph* g = pipe.graph.get();
    const AVFilter* src = avfilter_get_by_name(isVideo ? "buffer" : "abuffer");
    const AVFilter* sink = avfilter_get_by_name(isVideo ? "buffersink" : "abuffersink");
    if (!src || !sink) return AVERROR_UNKNOWN;

    AVFilterInOut* outputs = nullptr;  // the sources' open pads
    AVFilterInOut* inputs = avfilter_inout_alloc();
    auto release = [&] {
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
    };
    const CInputFile& first = m_files.front();
    AVFilterInOut** tail = &outputs;
    int ret = 0;
    for (size_t k = 0; k < m_files.size(); ++k) {
        const CInputFile& f = m_files[k];
        // A channel without this stream is described as the first one and
        // ends at once.
        const AVCodecContext* d = isVideo ? (f.videoDec ? f.videoDec.get() : first.videoDec.get())
                                          : (f.audioDec ? f.audioDec.get() : first.audioDec.get());
        const AVRational tb = d->pkt_timebase;
        std::string args;
        if (isVideo) {
            AVRational sar = d->sample_aspect_ratio;
            if (sar.den == 0) sar = AVRational{0, 1};
            args = Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", d->width, d->height,
                          int(d->pix_fmt), tb.num, tb.den, sar.num, sar.den);
        } else {
            AVChannelLayout layout{};
            if (d->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
                av_channel_layout_copy(&layout, &d->ch_layout);
            else
                av_channel_layout_default(&layout, std::max(1, d->ch_layout.nb_channels));
            const uint64_t mask = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
            av_channel_layout_uninit(&layout);
            args = Format("time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=0x%" PRIx64, tb.num, tb.den,
                          d->sample_rate, av_get_sample_fmt_name(d->sample_fmt), mask);
        }
        const std::string name = Format("in%d", int(k));
        AVFilterContext* ctx = nullptr;
        ret = avfilter_graph_create_filter(&ctx, src, name.c_str(), args.c_str(), nullptr, g);
        if (ret < 0) {
            Mp4Diag("Cannot create buffer source");
            release();
            return ret;
        }
        pipe.sources.push_back(ctx);
        AVFilterInOut* io = avfilter_inout_alloc();
        if (!io) {
            release();
            return AVERROR(ENOMEM);
        }
        io->name = av_strdup(name.c_str());
        io->filter_ctx = ctx;
        io->pad_idx = 0;
        *tail = io;
        tail = &io->next;
    }
    ret = avfilter_graph_create_filter(&pipe.sink, sink, "out", nullptr, nullptr, g);
    if (ret < 0) {
        Mp4Diag("Cannot create buffer sink");
        release();
        return ret;
    }
    const AVCodecContext* e = pipe.enc.get();
    if (isVideo) {
        const enum AVPixelFormat fmts[] = {e->pix_fmt, AV_PIX_FMT_NONE};
        ret = av_opt_set_int_list(pipe.sink, "pix_fmts", fmts, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN);
    } else {
        const enum AVSampleFormat fmts[] = {e->sample_fmt, AV_SAMPLE_FMT_NONE};
        ret = av_opt_set_int_list(pipe.sink, "sample_fmts", fmts, -1, AV_OPT_SEARCH_CHILDREN);
        char layout[64] = {};
        if (ret >= 0 && av_channel_layout_describe(&e->ch_layout, layout, sizeof layout) > 0)
            ret = av_opt_set(pipe.sink, "ch_layouts", layout, AV_OPT_SEARCH_CHILDREN);
        const int rates[] = {e->sample_rate, -1};
        if (ret >= 0) ret = av_opt_set_int_list(pipe.sink, "sample_rates", rates, -1, AV_OPT_SEARCH_CHILDREN);
    }
    if (ret < 0 || !inputs) {
        Mp4Diag("Cannot set output format");
        release();
        return ret < 0 ? ret : AVERROR(ENOMEM);
    }
    inputs->name = av_strdup("out");
    inputs->filter_ctx = pipe.sink;
    inputs->pad_idx = 0;
    inputs->next = nullptr;

    std::string desc = isVideo ? CCombineMp4::VideoGraph(m_out.width, m_out.height, m_out.cells, m_inputs)
                               : CCombineMp4::AudioGraph(int(m_files.size()));
    if (desc.empty()) {
        release();
        return AVERROR(EINVAL);
    }
    // A description without labels ("null", "anull") takes its input from
    // the open pad called "in".
    if (desc.find("[in0]") == std::string::npos && outputs) {
        av_free(outputs->name);
        outputs->name = av_strdup("in");
    }
    ret = avfilter_graph_parse_ptr(g, desc.c_str(), &inputs, &outputs, nullptr);
    release();
    if (ret < 0) return ret;
    ret = avfilter_graph_config(g, nullptr);
    if (ret < 0) return ret;
    if (!isVideo && e->frame_size > 0) av_buffersink_set_frame_size(pipe.sink, unsigned(e->frame_size));
    // Channels without this stream end at once, so that the others are not
    // held back waiting for them.
    for (size_t k = 0; k < m_files.size(); ++k) {
        const bool has = isVideo ? m_files[k].video >= 0 : m_files[k].audio >= 0;
        if (!has && (ret = av_buffersrc_add_frame_flags(pipe.sources[k], nullptr, 0)) < 0) return ret;
    }
    return 0;
}

int CRun::WritePacket(CPipe& pipe, AVPacket* pkt)
{
    pkt->stream_index = pipe.stream->index;
    // Every picture lasts one frame time; without it the file's last
    // picture would fall outside the track.
    if (pipe.type == AVMEDIA_TYPE_VIDEO && pkt->duration <= 0)
        pkt->duration = av_rescale_q(1, AVRational{1, 25}, pipe.enc->time_base);
    av_packet_rescale_ts(pkt, pipe.enc->time_base, pipe.stream->time_base);
    const int ret = av_interleaved_write_frame(m_output.get(), pkt);
    if (ret < 0) Mp4Diag("write frame %" PRId64, m_nWritten);
    ++m_nWritten;
    return ret;
}

int CRun::EncodeWrite(CPipe& pipe, AVFrame* frame)
{
    int ret = avcodec_send_frame(pipe.enc.get(), frame);
    if (ret < 0) {
        Mp4Diag("Encoding failed");
        return ret;
    }
    while (true) {
        ret = avcodec_receive_packet(pipe.enc.get(), m_outPkt.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return 0;
        if (ret < 0) {
            Mp4Diag("Encoding failed");
            return ret;
        }
        if (!frame) Mp4Diag("Flush Encoder: Succeed to encode 1 frame!\tsize:%5d", m_outPkt->size);
        if (pipe.type == AVMEDIA_TYPE_VIDEO && m_bsf) {
            ret = av_bsf_send_packet(m_bsf.get(), m_outPkt.get());
            if (ret < 0) {
                Mp4Diag("av_bsf_send_packet Fail:%d", ret);
                av_packet_unref(m_outPkt.get());
                return ret;
            }
            while ((ret = av_bsf_receive_packet(m_bsf.get(), m_outPkt.get())) >= 0) {
                ret = WritePacket(pipe, m_outPkt.get());
                av_packet_unref(m_outPkt.get());
                if (ret < 0) return ret;
            }
            if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
                Mp4Diag("av_bsf_receive_packet Fail:%d", ret);
                return ret;
            }
        } else {
            ret = WritePacket(pipe, m_outPkt.get());
            av_packet_unref(m_outPkt.get());
            if (ret < 0) return ret;
        }
    }
}

// Encodes what the sink offers; with a cap (AV_TIME_BASE units) stops at the
// first picture that starts at or after it: the black canvas never ends by
// itself.
int CRun::Pull(CPipe& pipe, int64_t cap)
{
    const AVRational sinkTb = av_buffersink_get_time_base(pipe.sink);
    AVCodecContext* e = pipe.enc.get();
    while (true) {
        int ret = av_buffersink_get_frame(pipe.sink, m_filtered.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return 0;
        if (ret < 0) return ret;
        AVFrame* f = m_filtered.get();
        if (cap != AV_NOPTS_VALUE && f->pts != AV_NOPTS_VALUE &&
            av_rescale_q(f->pts, sinkTb, AV_TIME_BASE_Q) >= cap) {
            av_frame_unref(f);
            return 1;
        }
        if (pipe.type == AVMEDIA_TYPE_VIDEO) {
            // The canvas makes 25 pictures a second for as long as the
            // channels' times say; a channel with a wild time jump must not
            // make it draw for hours. Even at one picture a second a channel
            // needs no more than this.
            int64_t most = 0;
            for (const auto& file : m_files) most = std::max(most, file.pictures);
            const int64_t budget = std::max<int64_t>(25 * most + 250, m_out.spanMs * 25 / 1000 + 25);
            if (pipe.count >= budget) {
                Mp4Diag("picture budget spent at %" PRId64, pipe.count);
                av_frame_unref(f);
                m_bStop = true;
                return 1;
            }
            if (f->width != e->width || f->height != e->height) {
                Mp4Diag("Encoding failed");
                av_frame_unref(f);
                return AVERROR(EINVAL);
            }
            int64_t pts = f->pts == AV_NOPTS_VALUE ? pipe.count : av_rescale_q(f->pts, sinkTb, e->time_base);
            if (pipe.lastPts != std::numeric_limits<int64_t>::min() && pts <= pipe.lastPts) pts = pipe.lastPts + 1;
            pipe.lastPts = pts;
            f->pts = pts;
            f->pict_type = AV_PICTURE_TYPE_NONE;
            ++pipe.count;
        } else {
            f->pts = pipe.count;
            pipe.count += f->nb_samples;
        }
        ret = EncodeWrite(pipe, f);
        av_frame_unref(f);
        if (ret < 0) return ret;
    }
}

int CRun::Feed(size_t k, AVPacket* pkt)
{
    CInputFile& f = m_files[k];
    const int index = pkt->stream_index;
    const bool isVideo = index == f.video;
    if (!isVideo && index != f.audio) return 0;
    CPipe* pipe = PipeOf(isVideo ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO);
    if (!pipe) return 0;
    AVCodecContext* dec = isVideo ? f.videoDec.get() : f.audioDec.get();
    int ret = avcodec_send_packet(dec, pkt);
    if (ret < 0 && ret != AVERROR(EAGAIN)) {
        Mp4Diag("Decoding failed");
        return ret;
    }
    while ((ret = avcodec_receive_frame(dec, m_frame.get())) >= 0) {
        AVFrame* fr = m_frame.get();
        fr->pts = fr->best_effort_timestamp;
        // The file's own time 0 is its first picture; the span's clock puts
        // it where the channel began.
        if (fr->pts != AV_NOPTS_VALUE) fr->pts += av_rescale_q(f.offset, AV_TIME_BASE_Q, dec->pkt_timebase);
        if (!(isVideo ? f.videoBegun : f.audioBegun)) {
            ret = Begin(k, *pipe, dec, fr->pts);
            if (ret < 0) {
                av_frame_unref(fr);
                return ret;
            }
        }
        if (isVideo) ++f.pictures;
        if (fr->pts != AV_NOPTS_VALUE && isVideo) {
            const int64_t dur = fr->pkt_duration > 0 ? fr->pkt_duration : 0;
            f.lastEnd = std::max(f.lastEnd, av_rescale_q(fr->pts + dur, dec->pkt_timebase, AV_TIME_BASE_Q));
        }
        ret = av_buffersrc_add_frame_flags(pipe->sources[k], fr, AV_BUFFERSRC_FLAG_KEEP_REF);
        av_frame_unref(fr);
        if (ret < 0) {
            Mp4Diag("Error while feeding the filtergraph");
            return ret;
        }
        ret = Pull(*pipe, AV_NOPTS_VALUE);
        if (ret < 0) return ret;
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
        Mp4Diag("Decoding failed");
        return ret;
    }
    return 0;
}

// A channel that begins after the span's start shows black (and adds
// silence) from the start until its first picture or sound.
int CRun::Begin(size_t k, CPipe& pipe, AVCodecContext* dec, int64_t firstPts)
{
    CInputFile& f = m_files[k];
    const bool isVideo = pipe.type == AVMEDIA_TYPE_VIDEO;
    (isVideo ? f.videoBegun : f.audioBegun) = true;
    if (firstPts == AV_NOPTS_VALUE || firstPts <= 0) return 0;
    if (isVideo) return AddBlack(k, pipe, dec, 0);
    const int64_t samples = av_rescale_q(firstPts, dec->pkt_timebase, AVRational{1, dec->sample_rate});
    return AddSilence(k, pipe, dec, samples);
}

int CRun::AddBlack(size_t k, CPipe& pipe, AVCodecContext* dec, int64_t pts)
{
    ff::FramePtr black(av_frame_alloc());
    if (!black) return AVERROR(ENOMEM);
    black->width = dec->width;
    black->height = dec->height;
    black->format = dec->pix_fmt;
    black->pts = pts;
    int ret = av_frame_get_buffer(black.get(), 0);
    if (ret < 0) return ret;
    ptrdiff_t lines[4];
    for (int i = 0; i < 4; ++i) lines[i] = black->linesize[i];
    ret = av_image_fill_black(black->data, lines, dec->pix_fmt,
                              dec->color_range == AVCOL_RANGE_JPEG ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG,
                              dec->width, dec->height);
    if (ret < 0) return ret;
    // Not pulled here: once every channel has ended the canvas would draw
    // on without end; the last pull knows where the video stops.
    ret = av_buffersrc_add_frame_flags(pipe.sources[k], black.get(), 0);
    if (ret < 0) Mp4Diag("Error while feeding the filtergraph");
    return ret;
}

int CRun::AddSilence(size_t k, CPipe& pipe, AVCodecContext* dec, int64_t samples)
{
    constexpr int kChunk = 1024;
    for (int64_t at = 0; at < samples; at += kChunk) {
        ff::FramePtr quiet(av_frame_alloc());
        if (!quiet) return AVERROR(ENOMEM);
        quiet->format = dec->sample_fmt;
        quiet->sample_rate = dec->sample_rate;
        int ret = 0;
        if (dec->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
            ret = av_channel_layout_copy(&quiet->ch_layout, &dec->ch_layout);
        else
            av_channel_layout_default(&quiet->ch_layout, std::max(1, dec->ch_layout.nb_channels));
        quiet->nb_samples = int(std::min<int64_t>(kChunk, samples - at));
        quiet->pts = av_rescale_q(at, AVRational{1, dec->sample_rate}, dec->pkt_timebase);
        if (ret >= 0) ret = av_frame_get_buffer(quiet.get(), 0);
        if (ret >= 0)
            ret = av_samples_set_silence(quiet->extended_data, 0, quiet->nb_samples, quiet->ch_layout.nb_channels,
                                         dec->sample_fmt);
        if (ret >= 0) ret = av_buffersrc_add_frame_flags(pipe.sources[k], quiet.get(), 0);
        if (ret < 0) {
            Mp4Diag("Error while feeding the filtergraph");
            return ret;
        }
        if ((ret = Pull(pipe, AV_NOPTS_VALUE)) < 0) return ret;
    }
    return 0;
}

// Reads input k's next packet; at its end (or an unreadable packet) the
// input ends.
int CRun::ReadAhead(size_t k)
{
    CInputFile& f = m_files[k];
    av_packet_unref(f.next.get());
    if (av_read_frame(f.fmt.get(), f.next.get()) >= 0) return 0;
    return EndInput(k);
}

// Where input k's next packet lies on the span's clock (AV_TIME_BASE units).
int64_t CRun::NextTime(size_t k) const
{
    const CInputFile& f = m_files[k];
    const AVPacket* pkt = f.next.get();
    const int64_t ts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
    if (ts == AV_NOPTS_VALUE || pkt->stream_index < 0 || unsigned(pkt->stream_index) >= f.fmt->nb_streams)
        return std::numeric_limits<int64_t>::min();
    return av_rescale_q(ts, f.fmt->streams[pkt->stream_index]->time_base, AV_TIME_BASE_Q) + f.offset;
}

// Whatever input k's decoders still hold goes in; its cell turns black after
// its last picture, and its sources end so that the others are not held back.
int CRun::EndInput(size_t k)
{
    CInputFile& f = m_files[k];
    f.open = false;
    for (int index : {f.video, f.audio}) {
        if (index < 0) continue;
        av_packet_unref(m_pkt.get());
        m_pkt->stream_index = index;
        const int ret = Feed(k, m_pkt.get());  // an empty packet drains
        if (ret < 0) return ret;
    }
    CPipe* video = PipeOf(AVMEDIA_TYPE_VIDEO);
    // In a mosaic the cell turns black; a single cell is the channel itself
    // and simply ends.
    if (video && m_out.cells > 1 && f.videoDec && f.pictures > 0 && f.lastEnd != std::numeric_limits<int64_t>::min()) {
        const int ret =
            AddBlack(k, *video, f.videoDec.get(), av_rescale_q(f.lastEnd, AV_TIME_BASE_Q, f.videoDec->pkt_timebase));
        if (ret < 0) return ret;
    }
    for (auto& pipe : m_pipes) {
        const bool has = pipe.type == AVMEDIA_TYPE_VIDEO ? f.video >= 0 : f.audio >= 0;
        if (!has) continue;  // ended when the graph was made
        if (av_buffersrc_add_frame_flags(pipe.sources[k], nullptr, 0) < 0) Mp4Diag("Error while closing the filtergraph");
        if (pipe.type == AVMEDIA_TYPE_VIDEO) continue;  // as for the black picture above
        const int ret = Pull(pipe, AV_NOPTS_VALUE);
        if (ret < 0) return ret;
    }
    return 0;
}

int CRun::StartEncode()
{
    // The inputs are merged by their times on the span's clock, so that no
    // channel's pictures pile up in the graph while another is still early.
    for (size_t k = 0; k < m_files.size(); ++k) {
        const int ret = ReadAhead(k);
        if (ret < 0) return ret;
    }
    while (!m_bStop) {
        size_t pick = m_files.size();
        int64_t earliest = std::numeric_limits<int64_t>::max();
        for (size_t k = 0; k < m_files.size(); ++k) {
            if (!m_files[k].open) continue;
            const int64_t t = NextTime(k);
            if (pick == m_files.size() || t < earliest) {
                pick = k;
                earliest = t;
            }
        }
        if (pick == m_files.size()) break;
        int ret = Feed(pick, m_files[pick].next.get());
        if (ret < 0) return ret;
        if ((ret = ReadAhead(pick)) < 0) return ret;
    }
    for (size_t k = 0; k < m_files.size(); ++k) {
        if (!m_files[k].open) continue;
        const int ret = EndInput(k);
        if (ret < 0) return ret;
    }
    int64_t end = std::numeric_limits<int64_t>::min();
    for (const auto& f : m_files) end = std::max(end, f.lastEnd);
    // The video lasts the whole span when one is given; the black canvas
    // fills what no channel covers.
    if (m_out.spanMs > 0) end = av_rescale(m_out.spanMs, AV_TIME_BASE, 1000);
    for (auto& pipe : m_pipes) {
        const int64_t cap = pipe.type == AVMEDIA_TYPE_VIDEO
                                ? (end == std::numeric_limits<int64_t>::min() ? 0 : end)
                                : AV_NOPTS_VALUE;
        if (m_bStop && pipe.type == AVMEDIA_TYPE_VIDEO) continue;
        const int ret = Pull(pipe, cap);
        if (ret < 0) return ret;
    }
    return 0;
}

int CRun::Finish()
{
    for (auto& pipe : m_pipes) {
        if (!(pipe.enc->codec->capabilities & AV_CODEC_CAP_DELAY) && pipe.type == AVMEDIA_TYPE_VIDEO) continue;
        const int ret = EncodeWrite(pipe, nullptr);
        if (ret < 0) return ret;
    }
    if (m_bsf && PipeOf(AVMEDIA_TYPE_VIDEO)) {
        av_bsf_send_packet(m_bsf.get(), nullptr);
        int ret;
        while ((ret = av_bsf_receive_packet(m_bsf.get(), m_outPkt.get())) >= 0) {
            ret = WritePacket(*PipeOf(AVMEDIA_TYPE_VIDEO), m_outPkt.get());
            av_packet_unref(m_outPkt.get());
            if (ret < 0) return ret;
        }
    }
    AVFormatContext* oc = m_output.get();
    int ret = av_write_trailer(oc);
    if (ret < 0) return ret;
    if (oc->pb && !(oc->oformat->flags & AVFMT_NOFILE)) {
        if (oc->pb->error < 0) return oc->pb->error;
        ret = avio_closep(&oc->pb);
        if (ret < 0) return ret;
    }
    std::error_code ec;
    std::filesystem::rename(m_partPath, m_out.path, ec);
    if (ec) return AVERROR(ec.value() ? ec.value() : EIO);
    m_partPath.clear();  // nothing left to remove
    return 0;
}

int CRun::Execute()
{
    if (!m_pkt || !m_outPkt || !m_frame || !m_filtered) return AVERROR(ENOMEM);
    int ret = OpenInputs();
    if (ret < 0) return ret;
    if (m_files.empty() || (!m_files.front().videoDec && !m_files.front().audioDec)) {
        Mp4Diag("Cannot find stream information");
        return AVERROR_STREAM_NOT_FOUND;
    }
    if ((ret = OpenOutput()) < 0) return ret;
    if ((ret = OpenBitstreamFilter()) < 0) return ret;
    for (auto& pipe : m_pipes) {
        if ((ret = InitFilters(pipe)) < 0) {
            Mp4Diag("InitFilter fail:%d", ret);
            return ret;
        }
    }
    if ((ret = StartEncode()) < 0) return ret;
    return Finish();
}

}  // namespace

int CCombineMp4::GridSide(int cells)
{
    if (cells <= 0) return 0;
    int t = int(std::sqrt(double(cells)));
    while (t * t > cells) --t;
    while ((t + 1) * (t + 1) <= cells) ++t;
    return t;
}

std::string CCombineMp4::VideoGraph(int width, int height, int cells,
                                    const std::vector<RKPLAYER_COMBINE_INPUT>& inputs)
{
    if (cells == 1) return "null";
    const int t = GridSide(cells);
    if (t <= 0) return {};
    std::string desc = Format("color=c=black@1:s=%dx%d[x0];", width, height);
    const int n = int(inputs.size());
    for (int k = 0; k < n; ++k) {
        switch (inputs[size_t(k)].effect) {
            case 0: desc += Format("[in%d]null[ine%d];", k, k); break;
            case 1: desc += Format("[in%d]edgedetect[ine%d];", k, k); break;
            case 2: desc += Format("[in%d]negate[ine%d];", k, k); break;
            default: return {};  // its "[ine%d]" would be left undefined
        }
        const int pos = inputs[size_t(k)].position;
        desc += Format("[ine%d]scale=w=%d:h=%d[inn%d];[x%d][inn%d]overlay=%d*%d/%d:%d*%d/%d[x%d];", k, width / t,
                       height / t, k, k, k, width, pos % t, t, height, pos / t, t, k + 1);
    }
    desc += Format("[x%d]null[out]", n);
    return desc;
}

std::string CCombineMp4::AudioGraph(int inputs)
{
    if (inputs == 1) return "anull";
    std::string desc;
    for (int k = 0; k < inputs; ++k) desc += Format("[in%d]", k);
    desc += Format("amix=inputs=%d[out]", inputs);
    return desc;
}

int CCombineMp4::SetInputs(const RKPLAYER_COMBINE_INPUT* inputs, int count)
{
    if (!inputs || count < 0 || count > RKPLAYER_COMBINE_MAX_INPUTS) return -1;
    for (int k = 0; k < count; ++k) {
        RKPLAYER_COMBINE_INPUT& r = m_inputs[size_t(k)];
        std::memset(&r, 0, sizeof r);
        std::memcpy(r.path, inputs[k].path, sizeof r.path);
        r.path[sizeof r.path - 1] = '\0';
        r.position = inputs[k].position;
        r.effect = 0;
        r.reserved = 0;
    }
    m_nInputsSet = count;
    return 0;
}

int CCombineMp4::SetEffect(int index, int effect)
{
    if (index < 0 || index >= RKPLAYER_COMBINE_MAX_INPUTS || effect < 0 || effect > 2) return -1;
    m_inputs[size_t(index)].effect = effect;
    return 0;
}

int CCombineMp4::SetStart(int index, int64_t startMs)
{
    if (index < 0 || index >= RKPLAYER_COMBINE_MAX_INPUTS) return -1;
    // Further than a day from the span would make the canvas draw for days.
    if (startMs < -86400000 || startMs > 86400000) return -1;
    m_startMs[size_t(index)] = startMs;
    return 0;
}

int CCombineMp4::SetSpan(int64_t spanMs)
{
    if (spanMs < 0 || spanMs > 86400000) return -1;
    m_output.spanMs = spanMs;
    return 0;
}

int CCombineMp4::Run()
{
    const CombineOutputSettings& o = m_output;
    const int n = o.inputs;
    if (o.path.empty() || n < 1 || n > RKPLAYER_COMBINE_MAX_INPUTS || n > m_nInputsSet || o.cells < 1 ||
        o.width < 2 || o.height < 2 || o.width > 16384 || o.height > 16384) {
        Mp4Diag("StartCombin: bad settings");
        return AVERROR(EINVAL);
    }
    std::vector<RKPLAYER_COMBINE_INPUT> inputs(m_inputs.begin(), m_inputs.begin() + n);
    for (const auto& in : inputs) {
        if (in.effect < 0 || in.effect > 2 || in.position < 0 || in.path[0] == '\0') {
            Mp4Diag("StartCombin: bad input");
            return AVERROR(EINVAL);
        }
    }
    const std::vector<int64_t> starts(m_startMs.begin(), m_startMs.begin() + n);
    CRun run(o, inputs, starts);
    return run.Execute();
}

}  // namespace rkmedia
