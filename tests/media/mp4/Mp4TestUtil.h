// MP4 clips for the writer and combiner tests: real access units and voice
// frames written through the exports, and a reader that hands back what a
// file holds (streams, packet times, decoded pictures and sound).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "media/include/rkmedia.h"
#include "tests/support/VideoCodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace velmor::fixtures::mp4 {

// Voice frames of a tone, 320 samples (40 ms) each; by default compression
// type 3 (G.726 32 kbit/s, code words most-significant bit first).
inline std::vector<std::vector<uint8_t>> ToneFrames(size_t frames, double hz, double amplitude = 9000.0,
                                                    uint16_t mode = VOICE_MODE_G726_32_MSB)
{
    std::vector<std::vector<uint8_t>> out;
    std::vector<uint8_t> state(VOICE_STATE_SIZE);
    VOICE_EncReset(state.data(), mode);
    std::vector<int16_t> pcm(320);
    size_t n = 0;
    for (size_t f = 0; f < frames; ++f) {
        for (auto& s : pcm) {
            s = int16_t(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * double(n) / 8000.0)));
            ++n;
        }
        uint8_t frame[VOICE_MAX_FRAME_BYTES];
        EXPECT_EQ(VOICE_EncodeFrame(state.data(), pcm.data(), frame, 320), VOICE_OK);
        out.emplace_back(frame, frame + 4 + 2 * size_t(frame[2]));
    }
    return out;
}

struct ClipRecipe {
    VideoSpec video;
    bool audio = true;
    double toneHz = 440.0;
    bool flush = true;  // the converter's remaining frames go in too
};

// Writes a clip as clip export does: a voice frame of 40 ms after each
// picture of 40 ms (25 frames per second). Returns the close result.
inline int WriteClip(const std::string& path, const ClipRecipe& recipe, EncodedVideo* encodedOut = nullptr)
{
    const EncodedVideo enc = EncodeVideo(recipe.video);
    RKPLAYER_HANDLE writer = nullptr;
    RKPLAYER_HANDLE aac = nullptr;
    const int videoType = recipe.video.codec == VideoCodec::kH265 ? 1 : 0;
    EXPECT_EQ(RKPLAYER_CreateMp4FileInit(&writer, recipe.video.width, recipe.video.height, videoType,
                                         recipe.video.fps, path.c_str()),
              0);
    if (recipe.audio) {
        EXPECT_EQ(RKPLAYER_ConvertPCMToAACInit(&aac, 1, 8000, 0, 3), 1);
    }
    const auto voice = ToneFrames(enc.units.size() * 25 / size_t(recipe.video.fps), recipe.toneHz);
    uint8_t out[RKPLAYER_AAC_MAX_FRAME_BYTES];
    int outLength = 0;
    size_t v = 0;
    for (size_t i = 0; i < enc.units.size(); ++i) {
        const auto& u = enc.units[i];
        EXPECT_EQ(RKPLAYER_WriteMp4VideoData(&writer, u.data.data(), int(u.data.size()), u.key ? 3 : 0, i * 40000), 0);
        // Sound up to the end of this picture.
        const size_t due = (i + 1) * 25 / size_t(recipe.video.fps);
        for (; recipe.audio && v < due && v < voice.size(); ++v) {
            if (RKPLAYER_ConvertPCMToAACEncode(&aac, voice[v].data(), int(voice[v].size()), out, &outLength) == 1) {
                EXPECT_EQ(RKPLAYER_WriteMp4AudioData(&writer, out, outLength), 0);
            }
        }
    }
    if (recipe.audio && recipe.flush) {
        while (RKPLAYER_ConvertPCMToAACFlush(&aac, out, &outLength) == 1) {
            EXPECT_EQ(RKPLAYER_WriteMp4AudioData(&writer, out, outLength), 0);
        }
    }
    if (recipe.audio) {
        EXPECT_EQ(RKPLAYER_ConvertPCMToAACUnit(&aac), 1);
    }
    const int closed = RKPLAYER_CloseMp4File(&writer);
    if (encodedOut) *encodedOut = enc;
    return closed;
}

struct StreamInfo {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID codec = AV_CODEC_ID_NONE;
    int width = 0, height = 0, sampleRate = 0, channels = 0;
    double duration = 0;  // seconds, from the stream or from its packets
    std::vector<double> pts;  // seconds, in file order
    std::vector<uint8_t> extradata;
};

struct FileInfo {
    bool opened = false;
    std::vector<StreamInfo> streams;
    std::vector<Picture> pictures;  // decoded video, I420
    std::vector<float> sound;       // decoded audio, first channel
    int decodeErrors = 0;

    const StreamInfo* Find(AVMediaType type) const
    {
        for (const auto& s : streams)
            if (s.type == type) return &s;
        return nullptr;
    }
};

inline Picture ToI420(const AVFrame* f)
{
    Picture p;
    p.width = f->width;
    p.height = f->height;
    p.yuv.resize(size_t(f->width) * f->height * 3 / 2);
    uint8_t* dst[4] = {p.yuv.data(), p.yuv.data() + size_t(f->width) * f->height,
                       p.yuv.data() + size_t(f->width) * f->height * 5 / 4, nullptr};
    int lines[4] = {f->width, f->width / 2, f->width / 2, 0};
    SwsContext* sws = sws_getContext(f->width, f->height, AVPixelFormat(f->format), f->width, f->height,
                                     AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
    sws_scale(sws, f->data, f->linesize, 0, f->height, dst, lines);
    sws_freeContext(sws);
    return p;
}

// Everything a file holds; decodes when asked.
inline FileInfo ReadBack(const std::string& path, bool decode = true)
{
    FileInfo info;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return info;
    if (avformat_find_stream_info(fmt, nullptr) < 0) {
        avformat_close_input(&fmt);
        return info;
    }
    info.opened = true;
    std::vector<AVCodecContext*> decs(fmt->nb_streams, nullptr);
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        StreamInfo s;
        s.type = st->codecpar->codec_type;
        s.codec = st->codecpar->codec_id;
        s.width = st->codecpar->width;
        s.height = st->codecpar->height;
        s.sampleRate = st->codecpar->sample_rate;
        s.channels = st->codecpar->ch_layout.nb_channels;
        s.duration = st->duration != AV_NOPTS_VALUE ? double(st->duration) * av_q2d(st->time_base) : 0;
        s.extradata.assign(st->codecpar->extradata, st->codecpar->extradata + st->codecpar->extradata_size);
        info.streams.push_back(s);
        if (!decode) continue;
        const AVCodec* dec = avcodec_find_decoder(st->codecpar->codec_id);
        if (!dec) continue;
        decs[i] = avcodec_alloc_context3(dec);
        avcodec_parameters_to_context(decs[i], st->codecpar);
        decs[i]->pkt_timebase = st->time_base;
        if (avcodec_open2(decs[i], dec, nullptr) < 0) avcodec_free_context(&decs[i]);
    }
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&](unsigned i) {
        while (avcodec_receive_frame(decs[i], frame) >= 0) {
            if (info.streams[i].type == AVMEDIA_TYPE_VIDEO) {
                info.pictures.push_back(ToI420(frame));
            } else if (frame->format == AV_SAMPLE_FMT_FLTP) {
                const float* p = reinterpret_cast<const float*>(frame->extended_data[0]);
                info.sound.insert(info.sound.end(), p, p + frame->nb_samples);
            }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(fmt, pkt) >= 0) {
        const unsigned i = unsigned(pkt->stream_index);
        info.streams[i].pts.push_back(double(pkt->pts) * av_q2d(fmt->streams[i]->time_base));
        if (decs[i]) {
            if (avcodec_send_packet(decs[i], pkt) < 0) ++info.decodeErrors;
            drain(i);
        }
        av_packet_unref(pkt);
    }
    for (unsigned i = 0; i < decs.size(); ++i) {
        if (!decs[i]) continue;
        avcodec_send_packet(decs[i], nullptr);
        drain(i);
        avcodec_free_context(&decs[i]);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    return info;
}

// Standard output and error of a shell command.
inline std::string Shell(const std::string& command)
{
    std::string out;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return "popen failed";
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

}  // namespace velmor::fixtures::mp4
