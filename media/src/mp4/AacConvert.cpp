#include "media/src/mp4/AacConvert.h"

#include <algorithm>
#include <cstring>

#include "media/src/audio/RKPlayAudio.h"
#include "media/src/audio/VoiceCodec.h"
#include "media/src/mp4/Mp4Diag.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace rkmedia {

// ---- Voice frames ------------------------------------------------------------------------

CVoiceToPcm::CVoiceToPcm(int compress) : m_mode(CRKPlayAudio::VoiceModeFor(compress))
{
    voice::DecReset(m_state, m_mode);
}

size_t CVoiceToPcm::Decode(const uint8_t* data, size_t length, std::vector<int16_t>& pcm)
{
    size_t frames = 0;
    size_t offset = 0;
    int16_t samples[VOICE_MAX_FRAME_SAMPLES];
    while (data && length - offset >= VOICE_FRAME_HEADER_SIZE) {
        uint16_t n = 0;
        const int32_t rc = voice::DecodeFrame(m_state, data + offset, length - offset, samples, &n);
        if (rc != VOICE_OK) {
            if (frames == 0) Mp4Diag("VOICE_DecodeFrame fail(%d)", rc);
            break;
        }
        pcm.insert(pcm.end(), samples, samples + n);
        offset += VOICE_FRAME_HEADER_SIZE + 2 * size_t(data[offset + 2]);
        ++frames;
    }
    return frames;
}

// ---- To AAC --------------------------------------------------------------------------------

int CEncodeAAC::InitAACEncoder(int channels, int sampleRate, int reserved, int compress)
{
    m_nChannels = channels;
    m_nSampleRate = sampleRate;
    m_nReserved = reserved;
    m_nCompress = compress >= 1 && compress <= 12 ? compress : 3;
    if (m_ctx) return 0;  // one encoder per object
    if (channels < 1 || channels > 2 || sampleRate <= 0) {
        Mp4Diag("InitAACEncoder: %d channels at %d Hz", channels, sampleRate);
        return 0;
    }
    const AVCodec* enc = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!enc) return 0;
    if (enc->supported_samplerates) {
        const int* r = enc->supported_samplerates;
        while (*r && *r != sampleRate) ++r;
        if (!*r) {
            Mp4Diag("InitAACEncoder: no AAC at %d Hz", sampleRate);
            return 0;
        }
    }
    ff::CodecContextPtr ctx(avcodec_alloc_context3(enc));
    ff::PacketPtr pkt(av_packet_alloc());
    if (!ctx || !pkt) return 0;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->bit_rate = 32000 * channels;
    ctx->sample_rate = sampleRate;
    av_channel_layout_default(&ctx->ch_layout, channels);
    ctx->time_base = AVRational{1, sampleRate};
    // The decoder configuration goes into the track header, not in front of
    // the frames.
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(ctx.get(), enc, nullptr) < 0) {
        Mp4Diag("Easy_AACEncoder_Init fail");
        return 0;
    }
    m_config.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);
    m_ctx = std::move(ctx);
    m_pkt = std::move(pkt);
    m_voice.emplace_back(m_nCompress);
    return 1;
}

int CEncodeAAC::Send(size_t samples)
{
    ff::FramePtr frame(av_frame_alloc());
    if (!frame) return AVERROR(ENOMEM);
    frame->nb_samples = int(samples);
    frame->format = m_ctx->sample_fmt;
    frame->sample_rate = m_ctx->sample_rate;
    int ret = av_channel_layout_copy(&frame->ch_layout, &m_ctx->ch_layout);
    if (ret >= 0) ret = av_frame_get_buffer(frame.get(), 0);
    if (ret < 0) return ret;
    for (int c = 0; c < m_nChannels; ++c) {
        auto* plane = reinterpret_cast<float*>(frame->extended_data[c]);
        for (size_t i = 0; i < samples; ++i) plane[i] = float(m_pcm[i]) / 32768.0f;
    }
    m_pcm.erase(m_pcm.begin(), m_pcm.begin() + ptrdiff_t(samples));
    frame->pts = m_nNextPts;
    m_nNextPts += int64_t(samples);
    return avcodec_send_frame(m_ctx.get(), frame.get());
}

int CEncodeAAC::TakeOne(uint8_t* output, int* outLength)
{
    // Whatever the encoder finished goes into the queue first.
    while (avcodec_receive_packet(m_ctx.get(), m_pkt.get()) >= 0) {
        m_ready.emplace_back(m_pkt->data, m_pkt->data + m_pkt->size);
        av_packet_unref(m_pkt.get());
    }
    *outLength = 0;
    while (!m_ready.empty()) {
        std::vector<uint8_t> frame = std::move(m_ready.front());
        m_ready.pop_front();
        if (frame.empty() || frame.size() > size_t(kMaxFrameBytes)) {
            Mp4Diag("AAC frame of %zu bytes dropped", frame.size());
            continue;
        }
        std::memcpy(output, frame.data(), frame.size());
        *outLength = int(frame.size());
        return 1;
    }
    return 0;
}

int CEncodeAAC::Encoder(const uint8_t* input, int length, uint8_t* output, int* outLength)
{
    if (outLength) *outLength = 0;
    if (!m_ctx || !input || length <= 0 || !output || !outLength || m_bFlushed) return 0;
    m_voice.front().Decode(input, size_t(length), m_pcm);
    const size_t frameSize = size_t(m_ctx->frame_size > 0 ? m_ctx->frame_size : 1024);
    while (m_pcm.size() >= frameSize) {
        const int ret = Send(frameSize);
        if (ret < 0) {
            Mp4Diag("avcodec_send_frame fail:%d", ret);
            break;
        }
        // Taken out at once so that the encoder never holds more than one frame.
        while (avcodec_receive_packet(m_ctx.get(), m_pkt.get()) >= 0) {
            m_ready.emplace_back(m_pkt->data, m_pkt->data + m_pkt->size);
            av_packet_unref(m_pkt.get());
        }
    }
    const int produced = TakeOne(output, outLength);
    if (!produced) Mp4Diag("Easy_AACEncoder_Encode Fail,");
    return produced;
}

int CEncodeAAC::Flush(uint8_t* output, int* outLength)
{
    if (outLength) *outLength = 0;
    if (!m_ctx || !output || !outLength) return 0;
    if (!m_bFlushed) {
        m_bFlushed = true;
        if (!m_pcm.empty()) {
            const size_t frameSize = size_t(m_ctx->frame_size > 0 ? m_ctx->frame_size : 1024);
            // The encoder takes a short last frame; a longer rest cannot be
            // left here, since whole frames were sent on the way.
            const int ret = Send(std::min(m_pcm.size(), frameSize));
            if (ret < 0) Mp4Diag("avcodec_send_frame fail:%d", ret);
        }
        avcodec_send_frame(m_ctx.get(), nullptr);
    }
    return TakeOne(output, outLength);
}

// ---- To PCM --------------------------------------------------------------------------------

int CDecordPCM::Init(int channels, int /*sampleRate*/, int /*reserved*/, int compress)
{
    if (channels < 1 || channels > 2 || !m_voice.empty()) return 0;
    m_nChannels = channels;
    m_voice.emplace_back(compress >= 1 && compress <= 12 ? compress : 3);
    return 1;
}

int CDecordPCM::Decode(const uint8_t* input, int length, uint8_t* output, int* outLength)
{
    if (outLength) *outLength = 0;
    if (m_voice.empty() || !input || length <= 0 || !output || !outLength) return 0;
    m_pcm.clear();
    m_voice.front().Decode(input, size_t(length), m_pcm);
    if (m_pcm.empty()) {
        Mp4Diag("Easy_PCMGetDecoder_Decoder Fail,");
        return 0;
    }
    uint8_t* p = output;
    for (int16_t s : m_pcm) {
        for (int c = 0; c < m_nChannels; ++c) {
            *p++ = uint8_t(uint16_t(s));
            *p++ = uint8_t(uint16_t(s) >> 8);
        }
    }
    *outLength = int(p - output);
    return 1;
}

}  // namespace rkmedia
