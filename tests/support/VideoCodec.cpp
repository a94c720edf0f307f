#include "tests/support/VideoCodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>

#include "tests/support/Payload.h"

namespace velmor::fixtures {
namespace {

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

std::string AvError(int err)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

void Check(int rc, const char* what)
{
    if (rc < 0) throw std::runtime_error(std::string(what) + ": " + AvError(rc));
}

// 5x7 glyphs, one byte per row, bit 4 leftmost.
const uint8_t* Glyph(char c)
{
    static const uint8_t kDigits[10][7] = {
        {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
        {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
        {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
        {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
        {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
    };
    static const uint8_t kLetters[26][7] = {
        {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E},
        {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}, {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C},
        {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}, {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10},
        {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}, {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},
        {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C},
        {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}, {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F},
        {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}, {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11},
        {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10},
        {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}, {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},
        {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}, {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},
        {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04},
        {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}, {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11},
        {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F},
    };
    static const uint8_t kColon[7] = {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00};
    static const uint8_t kDash[7] = {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00};
    static const uint8_t kDot[7] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C};
    static const uint8_t kSlash[7] = {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10};
    static const uint8_t kBlank[7] = {};
    if (c >= '0' && c <= '9') return kDigits[c - '0'];
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return kLetters[c - 'A'];
    switch (c) {
        case ':': return kColon;
        case '-': return kDash;
        case '.': return kDot;
        case '/': return kSlash;
        default: return kBlank;
    }
}

std::string ClockText(uint32_t seconds)
{
    std::time_t t = seconds;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

Picture FromFrame(const AVFrame* f)
{
    Picture p;
    p.width = f->width;
    p.height = f->height;
    const int cw = (f->width + 1) / 2, ch = (f->height + 1) / 2;
    p.yuv.resize(size_t(f->width) * f->height + 2 * size_t(cw) * ch);
    uint8_t* out = p.yuv.data();
    for (int y = 0; y < f->height; ++y, out += f->width) std::memcpy(out, f->data[0] + y * f->linesize[0], f->width);
    for (int plane = 1; plane <= 2; ++plane)
        for (int y = 0; y < ch; ++y, out += cw) std::memcpy(out, f->data[plane] + y * f->linesize[plane], cw);
    return p;
}

void ToFrame(const Picture& p, AVFrame* f)
{
    const int cw = (p.width + 1) / 2, ch = (p.height + 1) / 2;
    const uint8_t* in = p.yuv.data();
    for (int y = 0; y < p.height; ++y, in += p.width) std::memcpy(f->data[0] + y * f->linesize[0], in, p.width);
    for (int plane = 1; plane <= 2; ++plane)
        for (int y = 0; y < ch; ++y, in += cw) std::memcpy(f->data[plane] + y * f->linesize[plane], in, cw);
}

// Other planar layouts and depths from the 8-bit 4:2:0 picture: chroma by
// nearest sample, deeper samples scaled up.
void ToFrameConverted(const Picture& p, AVFrame* f, const AVPixFmtDescriptor* desc)
{
    const int cw = (p.width + 1) / 2, ch = (p.height + 1) / 2;
    const uint8_t* planes[3] = {p.yuv.data(), p.yuv.data() + size_t(p.width) * p.height,
                                p.yuv.data() + size_t(p.width) * p.height + size_t(cw) * ch};
    for (int plane = 0; plane < desc->nb_components; ++plane) {
        const bool chroma = plane > 0;
        const int w = chroma ? AV_CEIL_RSHIFT(p.width, desc->log2_chroma_w) : p.width;
        const int h = chroma ? AV_CEIL_RSHIFT(p.height, desc->log2_chroma_h) : p.height;
        const int shift = desc->comp[plane].depth - 8;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int sx = chroma ? (x << desc->log2_chroma_w) / 2 : x;
                const int sy = chroma ? (y << desc->log2_chroma_h) / 2 : y;
                const int v = planes[plane][size_t(sy) * (chroma ? cw : p.width) + sx];
                uint8_t* row = f->data[plane] + size_t(y) * f->linesize[plane];
                if (shift > 0)
                    reinterpret_cast<uint16_t*>(row)[x] = uint16_t(v << shift);
                else
                    row[x] = uint8_t(v);
            }
    }
}

}  // namespace

Picture MakeTestPicture(int width, int height, int index, uint32_t seed)
{
    Picture p;
    p.width = width;
    p.height = height;
    const int cw = (width + 1) / 2, ch = (height + 1) / 2;
    p.yuv.assign(size_t(width) * height + 2 * size_t(cw) * ch, 0);
    CSplitMix64 rng(seed);
    const int dx = int(rng.Range(1, 4)), dy = int(rng.Range(1, 3));
    const int boxW = std::max(4, width / 5), boxH = std::max(4, height / 5);
    const int bx = (index * dx * 2) % std::max(1, width - boxW);
    const int by = (index * dy) % std::max(1, height - boxH);
    const uint8_t tint = uint8_t(rng.Range(0, 255));
    uint8_t* Y = p.yuv.data();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int v = 16 + ((x * 3 + y * 2 + index * 4 + tint) % 200);
            if (x >= bx && x < bx + boxW && y >= by && y < by + boxH) v = 235 - (index % 32);
            Y[size_t(y) * width + x] = uint8_t(v);
        }
    uint8_t* U = Y + size_t(width) * height;
    uint8_t* V = U + size_t(cw) * ch;
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            U[size_t(y) * cw + x] = uint8_t(64 + ((x * 2 + tint + index) % 128));
            V[size_t(y) * cw + x] = uint8_t(64 + ((y * 2 + tint / 2 + index * 3) % 128));
        }
    return p;
}

void DrawText(Picture& picture, int x, int y, const std::string& text, int scale)
{
    uint8_t* Y = picture.yuv.data();
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t* g = Glyph(text[i]);
        const int gx = x + int(i) * 6 * scale;
        for (int row = -1; row < 8; ++row)
            for (int col = -1; col < 6; ++col) {
                const bool on = row >= 0 && row < 7 && col >= 0 && col < 5 && (g[row] & (0x10 >> col));
                for (int sy = 0; sy < scale; ++sy)
                    for (int sx = 0; sx < scale; ++sx) {
                        const int px = gx + col * scale + sx, py = y + row * scale + sy;
                        if (px < 0 || py < 0 || px >= picture.width || py >= picture.height) continue;
                        Y[size_t(py) * picture.width + px] = on ? 235 : 16;
                    }
            }
    }
}

EncodedVideo EncodeVideo(const VideoSpec& recipe)
{
    av_log_set_level(AV_LOG_ERROR);
    const bool hevc = recipe.codec == VideoCodec::kH265;
    const AVCodec* codec = avcodec_find_encoder_by_name(hevc ? "libx265" : "libx264");
    if (!codec) throw std::runtime_error(hevc ? "libx265 encoder missing" : "libx264 encoder missing");
    const AVPixelFormat pixFmt = av_get_pix_fmt(recipe.pixelFormat.c_str());
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixFmt);
    const bool planarYuv = desc && !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_BE)) &&
                           (desc->nb_components == 1 ||
                            (desc->nb_components == 3 && (desc->flags & AV_PIX_FMT_FLAG_PLANAR)));
    if (!planarYuv)
        throw std::runtime_error("unsupported pixel format " + recipe.pixelFormat);
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    ctx->width = recipe.width;
    ctx->height = recipe.height;
    ctx->pix_fmt = pixFmt;
    ctx->time_base = AVRational{1, recipe.fps};
    ctx->framerate = AVRational{recipe.fps, 1};
    ctx->gop_size = recipe.gop;
    ctx->max_b_frames = 0;
    ctx->thread_count = 1;
    av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
    const std::string gop = std::to_string(recipe.gop);
    std::string params = "keyint=" + gop + ":min-keyint=" + gop + ":scenecut=0:bframes=0:repeat-headers=1";
    if (hevc) {
        params += ":open-gop=0:pools=none:frame-threads=1:log-level=error:info=0";
        params += recipe.lossless ? ":lossless=1" : ":crf=" + std::to_string(recipe.crf);
        if (!recipe.encoderParams.empty()) params += ":" + recipe.encoderParams;
        av_opt_set(ctx->priv_data, "x265-params", params.c_str(), 0);
    } else {
        params += recipe.lossless ? ":qp=0" : ":crf=" + std::to_string(recipe.crf);
        params += ":sliced-threads=0:threads=1";
        if (!recipe.encoderParams.empty()) params += ":" + recipe.encoderParams;
        av_opt_set(ctx->priv_data, "x264-params", params.c_str(), 0);
    }
    Check(avcodec_open2(ctx.get(), codec, nullptr), "open encoder");

    EncodedVideo out;
    FramePtr frame(av_frame_alloc());
    frame->format = pixFmt;
    frame->width = recipe.width;
    frame->height = recipe.height;
    Check(av_frame_get_buffer(frame.get(), 0), "frame buffer");
    PacketPtr pkt(av_packet_alloc());

    auto drain = [&] {
        for (;;) {
            int rc = avcodec_receive_packet(ctx.get(), pkt.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            Check(rc, "encode");
            AccessUnit au;
            au.data.assign(pkt->data, pkt->data + pkt->size);
            au.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
            out.units.push_back(std::move(au));
            av_packet_unref(pkt.get());
        }
    };
    for (int i = 0; i < recipe.frames; ++i) {
        Picture pic = MakeTestPicture(recipe.width, recipe.height, i, recipe.seed);
        const int scale = std::max(1, recipe.height / 96);
        if (!recipe.label.empty()) DrawText(pic, 4 * scale, 4 * scale, recipe.label, scale);
        if (recipe.clockStart)
            DrawText(pic, 4 * scale, recipe.height - 12 * scale,
                     ClockText(recipe.clockStart + uint32_t(i / std::max(1, recipe.fps))), scale);
        Check(av_frame_make_writable(frame.get()), "frame writable");
        if (pixFmt == AV_PIX_FMT_YUV420P)
            ToFrame(pic, frame.get());
        else
            ToFrameConverted(pic, frame.get(), desc);
        frame->pts = i;
        frame->pict_type = i % recipe.gop == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        Check(avcodec_send_frame(ctx.get(), frame.get()), "send frame");
        drain();
        out.pictures.push_back(std::move(pic));
    }
    Check(avcodec_send_frame(ctx.get(), nullptr), "flush encoder");
    drain();
    if (out.units.size() != out.pictures.size())
        throw std::runtime_error("encoder gave " + std::to_string(out.units.size()) + " units for " +
                                 std::to_string(out.pictures.size()) + " pictures");
    return out;
}

std::vector<Picture> DecodeVideo(VideoCodec codecId, const std::vector<std::vector<uint8_t>>& units)
{
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_decoder(codecId == VideoCodec::kH265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    if (!codec) throw std::runtime_error("decoder missing");
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    ctx->thread_count = 1;
    Check(avcodec_open2(ctx.get(), codec, nullptr), "open decoder");
    FramePtr frame(av_frame_alloc());
    PacketPtr pkt(av_packet_alloc());
    std::vector<Picture> pictures;
    auto drain = [&] {
        for (;;) {
            int rc = avcodec_receive_frame(ctx.get(), frame.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            Check(rc, "decode");
            pictures.push_back(FromFrame(frame.get()));
            av_frame_unref(frame.get());
        }
    };
    for (const auto& u : units) {
        Check(av_new_packet(pkt.get(), int(u.size())), "packet");
        std::memcpy(pkt->data, u.data(), u.size());
        Check(avcodec_send_packet(ctx.get(), pkt.get()), "send packet");
        av_packet_unref(pkt.get());
        drain();
    }
    Check(avcodec_send_packet(ctx.get(), nullptr), "flush decoder");
    drain();
    return pictures;
}

}  // namespace velmor::fixtures
