#include "media/src/video/Snapshot.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

namespace rkmedia {
namespace {

void PutLE32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

uint8_t Clamp(double v) { return v <= 0 ? 0 : v >= 255 ? 255 : uint8_t(v); }

// Y, U and V of pixel (x, y) of a picture buffer.
struct Sampler {
    const uint8_t* p;
    PictureLayout layout;
    int w, h;
    void At(int x, int y, int& Y, int& U, int& V) const
    {
        const int cw = (w + 1) / 2, ch = (h + 1) / 2;
        Y = p[size_t(y) * w + x];
        const uint8_t* chroma = p + size_t(w) * h;
        if (layout == PictureLayout::kNV12) {
            const uint8_t* uv = chroma + size_t(y / 2) * 2 * cw + size_t(x / 2) * 2;
            U = uv[0];
            V = uv[1];
        } else {
            U = chroma[size_t(y / 2) * cw + x / 2];
            V = chroma[size_t(cw) * ch + size_t(y / 2) * cw + x / 2];
        }
    }
};

}  // namespace

std::vector<uint8_t> MakeBmp(const uint8_t* picture, PictureLayout layout, int w, int h)
{
    // Rows are padded to four bytes, as BMP readers expect; recorder
    // pictures are multiples of four wide, where this adds nothing.
    const size_t row = (size_t(w) * 3 + 3) & ~size_t(3);
    const size_t image = row * size_t(h);
    std::vector<uint8_t> out(54 + image, 0);
    out[0] = 'B';
    out[1] = 'M';
    PutLE32(out, 2, uint32_t(54 + image));
    PutLE32(out, 10, 54);
    PutLE32(out, 14, 40);
    PutLE32(out, 18, uint32_t(w));
    PutLE32(out, 22, uint32_t(h));
    out[26] = 1;
    out[28] = 24;
    PutLE32(out, 34, uint32_t(image));
    const Sampler s{picture, layout, w, h};
    for (int y = 0; y < h; ++y) {
        uint8_t* dst = out.data() + 54 + size_t(h - 1 - y) * row;
        for (int x = 0; x < w; ++x) {
            int Y, U, V;
            s.At(x, y, Y, U, V);
            const double L = 1.164 * (Y - 16);
            *dst++ = Clamp(L + 2.018 * (U - 128));
            *dst++ = Clamp(L - 0.38 * (U - 128) - 0.813 * (V - 128));
            *dst++ = Clamp(L + 1.159 * (V - 128));
        }
    }
    return out;
}

void CreateFoldersFor(const std::string& path)
{
    std::error_code ec;
    const auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
}

int WriteImageWithFfmpeg(const std::string& path, const uint8_t* picture, PictureLayout layout, int w, int h,
                         bool png)
{
    // The picture type chosen decides the encoder, whatever the name ends in;
    // one encoded packet of these encoders is a complete image file.
    const AVCodec* codec = avcodec_find_encoder(png ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG);
    if (!codec) return AVERROR_ENCODER_NOT_FOUND;

    struct Ctx {
        AVCodecContext* enc = nullptr;
        AVFrame* frame = nullptr;
        AVPacket* pkt = nullptr;
        ~Ctx()
        {
            av_packet_free(&pkt);
            av_frame_free(&frame);
            avcodec_free_context(&enc);
        }
    } c;
    c.enc = avcodec_alloc_context3(codec);
    if (!c.enc) return AVERROR(ENOMEM);
    // JPEG takes full-range 4:2:0; an encoder without it (PNG) gets the
    // first format it names, converted here.
    AVPixelFormat target = AV_PIX_FMT_YUVJ420P;
    bool supported = false;
    for (const AVPixelFormat* f = codec->pix_fmts; f && *f != AV_PIX_FMT_NONE; ++f) supported |= *f == target;
    if (!supported && codec->pix_fmts) target = codec->pix_fmts[0];
    c.enc->width = w;
    c.enc->height = h;
    c.enc->pix_fmt = target;
    c.enc->time_base = AVRational{1, 25};
    int rc;
    if ((rc = avcodec_open2(c.enc, codec, nullptr)) < 0) return rc;

    c.frame = av_frame_alloc();
    c.pkt = av_packet_alloc();
    if (!c.frame || !c.pkt) return AVERROR(ENOMEM);
    c.frame->format = target;
    c.frame->width = w;
    c.frame->height = h;
    if ((rc = av_frame_get_buffer(c.frame, 0)) < 0) return rc;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    const uint8_t* srcData[4] = {picture, picture + size_t(w) * h, nullptr, nullptr};
    int srcLines[4] = {w, layout == PictureLayout::kNV12 ? 2 * cw : cw, 0, 0};
    AVPixelFormat srcFormat = layout == PictureLayout::kNV12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
    if (layout == PictureLayout::kPlanar420) {
        srcData[2] = picture + size_t(w) * h + size_t(cw) * ch;
        srcLines[2] = cw;
    }
    SwsContext* sws = sws_getContext(w, h, srcFormat, w, h, target, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws) return AVERROR(EINVAL);
    sws_scale(sws, srcData, srcLines, 0, h, c.frame->data, c.frame->linesize);
    sws_freeContext(sws);
    c.frame->pts = 0;

    if ((rc = avcodec_send_frame(c.enc, c.frame)) < 0) return rc;
    if ((rc = avcodec_send_frame(c.enc, nullptr)) < 0) return rc;
    if ((rc = avcodec_receive_packet(c.enc, c.pkt)) < 0) return rc;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(c.pkt->data), c.pkt->size);
    out.flush();
    return out ? 0 : AVERROR(EIO);
}

}  // namespace rkmedia
