#include "tests/support/GrecWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
}

#include <memory>

#include "tests/support/AttachInfoWriter.h"
#include "tests/support/Payload.h"
#include <stdexcept>

namespace velmor::fixtures {
namespace {

struct FormatCloser {
    void operator()(AVFormatContext* oc) const
    {
        if (!oc) return;
        if (oc->pb) avio_closep(&oc->pb);
        avformat_free_context(oc);
    }
};

void Check(int rc, const char* what)
{
    if (rc < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(rc, text, sizeof text);
        throw std::runtime_error(std::string("grec writer: ") + what + ": " + text);
    }
}

// The parameter sets of the first key picture, in Annex B, for the track's
// codec private data.
std::vector<uint8_t> ParameterSets(VideoCodec codec, const std::vector<GrecWriteFrame>& frames)
{
    for (const auto& f : frames) {
        if (f.kind != GrecWriteFrame::kVideo || !f.key) continue;
        std::vector<uint8_t> out;
        for (const auto& nal : SplitAnnexB(f.data)) {
            if (nal.empty()) continue;
            const int type = codec == VideoCodec::kH264 ? (nal[0] & 0x1F) : ((nal[0] >> 1) & 0x3F);
            const bool ps = codec == VideoCodec::kH264 ? (type == 7 || type == 8) : (type >= 32 && type <= 34);
            if (!ps) continue;
            out.insert(out.end(), {0, 0, 0, 1});
            out.insert(out.end(), nal.begin(), nal.end());
        }
        return out;
    }
    return {};
}

std::string Hex(const std::vector<uint8_t>& record)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : record) {
        s += kDigits[b >> 4];
        s += kDigits[b & 15];
    }
    return s;
}

}  // namespace

std::vector<std::vector<uint8_t>> SplitAnnexB(const uint8_t* d, size_t n)
{
    std::vector<std::vector<uint8_t>> nals;
    size_t i = 0, start = SIZE_MAX;
    while (i + 3 <= n) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            if (start != SIZE_MAX) {
                size_t end = i;
                while (end > start && d[end - 1] == 0) --end;  // the zero of a four-byte start code
                nals.emplace_back(d + start, d + end);
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != SIZE_MAX) nals.emplace_back(d + start, d + n);
    return nals;
}

std::vector<std::vector<uint8_t>> SplitAnnexB(const std::vector<uint8_t>& unit)
{
    return SplitAnnexB(unit.data(), unit.size());
}

std::vector<GrecWriteFrame> MakeGrecClipFrames(const GrecLayout& layout, int seconds, int gop, uint32_t seed)
{
    VideoSpec recipe;
    recipe.codec = layout.codec;
    recipe.width = layout.width;
    recipe.height = layout.height;
    recipe.fps = layout.fps > 0 ? layout.fps : 25;
    recipe.frames = seconds * recipe.fps;
    recipe.gop = gop;
    recipe.seed = seed;
    recipe.lossless = false;
    const EncodedVideo video = EncodeVideo(recipe);
    const uint32_t frameMs = 1000 / uint32_t(recipe.fps);
    std::vector<GrecWriteFrame> frames;
    uint32_t nextAudio = 0, nextInfo = 0;
    for (size_t i = 0; i < video.units.size(); ++i) {
        const uint32_t ms = uint32_t(i) * frameMs;
        frames.push_back({GrecWriteFrame::kVideo, ms, video.units[i].key, video.units[i].data, {}});
        for (; layout.audioEncoding && nextAudio < ms + frameMs; nextAudio += 20)
            frames.push_back({GrecWriteFrame::kAudio, nextAudio, false, MakePayload(seed * 7919 + nextAudio, 160), {}});
        for (; layout.withInfoTrack && nextInfo < ms + frameMs; nextInfo += 1000) {
            AttachInfo a;
            const uint32_t s = nextInfo / 1000;
            a.time = uint32_t(layout.originUs / 1000000) + s;
            a.latitude = 31.2 + s * 0.0001;
            a.longitude = 121.4 + s * 0.0001;
            a.speed = int16_t(40 + s);
            a.heading = 45;
            const auto record = MakeAttachInfo(a);
            frames.push_back({GrecWriteFrame::kInfo, nextInfo, false, {record.begin(), record.end()}, {}});
        }
    }
    return frames;
}

void WriteGrecFile(const std::filesystem::path& path, const GrecLayout& layout, const std::vector<GrecWriteFrame>& frames)
{
    AVFormatContext* raw = nullptr;
    Check(avformat_alloc_output_context2(&raw, nullptr, "matroska", path.c_str()), "no Matroska muxer");
    std::unique_ptr<AVFormatContext, FormatCloser> oc(raw);
    // No random segment id and no version strings: the same frames give the
    // same file.
    oc->flags |= AVFMT_FLAG_BITEXACT;

    AVStream* video = avformat_new_stream(oc.get(), nullptr);
    if (!video) throw std::runtime_error("grec writer: no stream");
    video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    video->codecpar->codec_id = layout.codec == VideoCodec::kH264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC;
    video->codecpar->width = layout.width;
    video->codecpar->height = layout.height;
    video->time_base = {1, 1000};
    if (layout.fps > 0) video->avg_frame_rate = {layout.fps, 1};
    const auto sets = ParameterSets(layout.codec, frames);
    if (!sets.empty()) {
        video->codecpar->extradata = static_cast<uint8_t*>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::copy(sets.begin(), sets.end(), video->codecpar->extradata);
        video->codecpar->extradata_size = int(sets.size());
    }

    AVStream* audio = nullptr;
    if (layout.audioEncoding) {
        audio = avformat_new_stream(oc.get(), nullptr);
        if (!audio) throw std::runtime_error("grec writer: no stream");
        AVCodecParameters* p = audio->codecpar;
        p->codec_type = AVMEDIA_TYPE_AUDIO;
        p->sample_rate = 8000;
        av_channel_layout_default(&p->ch_layout, 1);
        if (layout.audioEncoding == 7 || layout.audioEncoding == 8) {
            p->codec_id = layout.audioEncoding == 7 ? AV_CODEC_ID_PCM_MULAW : AV_CODEC_ID_PCM_ALAW;
            p->bits_per_coded_sample = 8;
            p->block_align = 1;
            p->bit_rate = 64000;
        } else {
            const int bits = layout.rateCode == 2 ? 2 : layout.rateCode == 4 ? 3 : layout.rateCode == 1 ? 5 : 4;
            p->codec_id = AV_CODEC_ID_ADPCM_G726;
            p->bits_per_coded_sample = bits;
            p->bit_rate = bits * 8000;
        }
        audio->time_base = {1, 1000};
        if (layout.writeAudioTags) {
            const std::string enc = layout.audioEncodingTag.empty() ? std::to_string(layout.audioEncoding) : layout.audioEncodingTag;
            av_dict_set(&audio->metadata, "AUDIO_ENCODING", enc.c_str(), 0);
            av_dict_set(&audio->metadata, "AUDIO_RATE_CODE", std::to_string(layout.rateCode).c_str(), 0);
        }
    }

    AVStream* info = nullptr;
    if (layout.withInfoTrack) {
        info = avformat_new_stream(oc.get(), nullptr);
        if (!info) throw std::runtime_error("grec writer: no stream");
        info->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
        info->codecpar->codec_id = AV_CODEC_ID_SUBRIP;
        info->time_base = {1, 1000};
        av_dict_set(&info->metadata, "title", layout.infoTrackName.c_str(), 0);
    }

    if (layout.writeOrigin) av_dict_set(&oc->metadata, "ORIGIN_US", std::to_string(layout.originUs).c_str(), 0);
    if (!layout.terminal.empty()) av_dict_set(&oc->metadata, "TERMINAL", layout.terminal.c_str(), 0);
    if (!layout.vehicle.empty()) av_dict_set(&oc->metadata, "VEHICLE", layout.vehicle.c_str(), 0);

    Check(avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE), "cannot create the file");
    // A streamed file: the muxer cannot go back for the duration and cues.
    if (!layout.writeDuration) oc->pb->seekable = 0;
    Check(avformat_write_header(oc.get(), nullptr), "header");

    AVPacket* pkt = av_packet_alloc();
    if (!pkt) throw std::runtime_error("grec writer: out of memory");
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> owner(pkt, [](AVPacket* p) { av_packet_free(&p); });
    for (const auto& f : frames) {
        std::string text;
        const uint8_t* data = f.data.data();
        size_t size = f.data.size();
        AVStream* st = video;
        if (f.kind == GrecWriteFrame::kAudio) {
            st = audio;
        } else if (f.kind == GrecWriteFrame::kInfo) {
            st = info;
            text = f.rawText.empty() ? Hex(f.data) : f.rawText;
            data = reinterpret_cast<const uint8_t*>(text.data());
            size = text.size();
        }
        if (!st) throw std::runtime_error("grec writer: a frame for a track the file was not given");
        Check(av_new_packet(pkt, int(size)), "packet");
        std::copy(data, data + size, pkt->data);
        pkt->stream_index = st->index;
        pkt->pts = pkt->dts = av_rescale_q(f.ms, AVRational{1, 1000}, st->time_base);
        if (f.kind == GrecWriteFrame::kVideo && f.key) pkt->flags |= AV_PKT_FLAG_KEY;
        if (f.kind != GrecWriteFrame::kVideo) pkt->flags |= AV_PKT_FLAG_KEY;
        if (f.kind == GrecWriteFrame::kInfo) pkt->duration = av_rescale_q(1000, AVRational{1, 1000}, st->time_base);
        if (f.kind == GrecWriteFrame::kVideo && layout.fps > 0)
            pkt->duration = av_rescale_q(1000 / layout.fps, AVRational{1, 1000}, st->time_base);
        Check(av_interleaved_write_frame(oc.get(), pkt), "frame");
    }
    Check(av_write_trailer(oc.get()), "trailer");
}

}  // namespace velmor::fixtures
