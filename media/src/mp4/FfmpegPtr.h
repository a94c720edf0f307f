// Owners for the FFmpeg objects the MP4 writer, the converters and the
// combiner hold, so that every early return releases what was made.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace rkmedia::ff {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct BsfFree {
    void operator()(AVBSFContext* b) const { av_bsf_free(&b); }
};
struct GraphFree {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
struct InputFree {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using BsfPtr = std::unique_ptr<AVBSFContext, BsfFree>;
using GraphPtr = std::unique_ptr<AVFilterGraph, GraphFree>;
using InputPtr = std::unique_ptr<AVFormatContext, InputFree>;

// An output context with its file: closes the file it opened, then frees.
class COutput {
public:
    COutput() = default;
    ~COutput() { Reset(); }
    COutput(const COutput&) = delete;
    COutput& operator=(const COutput&) = delete;

    AVFormatContext* get() const { return m_ctx; }
    AVFormatContext** slot() { return &m_ctx; }
    void Reset()
    {
        if (!m_ctx) return;
        if (m_ctx->oformat && !(m_ctx->oformat->flags & AVFMT_NOFILE)) avio_closep(&m_ctx->pb);
        avformat_free_context(m_ctx);
        m_ctx = nullptr;
    }

private:
    AVFormatContext* m_ctx = nullptr;
};

}  // namespace rkmedia::ff
