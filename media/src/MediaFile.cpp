// Ordinary media files (the MP4 files exports write, among others): FFmpeg's
// demuxers hand over one packet at a time; video packets go through the
// player's decode-and-show path.
#include <cctype>
#include <cstring>

#include "common/ParamSetRecord.h"
#include "media/src/RKPlay.h"

namespace rkmedia {

namespace {

bool EndsWithNoCase(const char* s, const char* suffix)
{
    const size_t n = std::strlen(s), m = std::strlen(suffix);
    if (n < m) return false;
    for (size_t i = 0; i < m; ++i)
        if (std::tolower(static_cast<unsigned char>(s[n - m + i])) != suffix[i]) return false;
    return true;
}

// H.264 and H.265 keep their parameter sets in a configuration record, and
// their units length-prefixed, when the record starts with version 1 (MP4,
// MOV, Matroska); Annex B streams carry start codes there or nothing.
bool LengthPrefixed(const AVCodecParameters* par)
{
    return (par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC) && par->extradata &&
           par->extradata_size >= 7 && par->extradata[0] == 1;
}

static_assert(VIDEOPLAY_READ_END == AVERROR_EOF, "the end-of-file result is FFmpeg's");

}  // namespace

int CRKPlay::ReadThunk(void* opaque, uint8_t* buffer, int size)
{
    auto* r = static_cast<MemoryReader*>(opaque);
    const int n = r->read(r->context, buffer, size);
    return n > 0 ? n : AVERROR_EOF;
}

int CRKPlay::InterruptCallback(void* opaque)
{
    // Only a stop aborts a blocking read: a paused file must go on playing
    // after however long the pause took.
    return static_cast<CRKPlay*>(opaque)->m_stop.load() ? 1 : 0;
}

int CRKPlay::InitMediaFile(const char* path, RKPLAYER_READ_FUNC read, void* readContext, RKPLAYER_VIDEO_PARAM* param,
                           int64_t* duration)
{
    std::lock_guard video(m_videoLock);
    m_mediaFile = true;
    m_stop.store(false);
    m_input = avformat_alloc_context();
    if (!m_input) return -1;
    m_input->interrupt_callback = AVIOInterruptCB{InterruptCallback, this};
    AVDictionary* options = nullptr;
    av_dict_set(&options, "scan_all_pmts", "1", AV_DICT_DONT_OVERWRITE);
    const AVInputFormat* forced = nullptr;
    if (read) {
        m_memoryReader = MemoryReader{read, readContext};
        auto* buffer = static_cast<uint8_t*>(av_malloc(102400));
        m_io = buffer ? avio_alloc_context(buffer, 102400, 0, &m_memoryReader, ReadThunk, nullptr, nullptr) : nullptr;
        if (!m_io) {
            av_free(buffer);
            av_dict_free(&options);
            return -1;
        }
        m_input->pb = m_io;
        forced = av_find_input_format("avi");
    }
    int rc = avformat_open_input(&m_input, read ? nullptr : path, forced, &options);
    av_dict_free(&options);
    if (rc < 0) return 1;  // "error %x in avformat_open_input"
    if (avformat_find_stream_info(m_input, nullptr) < 0) return 1;

    for (unsigned i = 0; i < m_input->nb_streams; ++i) {
        const AVCodecParameters* par = m_input->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) m_videoStream = int(i);
        if (par->codec_type == AVMEDIA_TYPE_AUDIO) m_audioStream = int(i);
    }
    if (m_videoStream < 0) return -1;  // "can't find video stream"
    AVStream* st = m_input->streams[m_videoStream];
    AVCodecID id = st->codecpar->codec_id;
    if (id == AV_CODEC_ID_NONE) id = AV_CODEC_ID_HEVC;
    m_codec = avcodec_find_decoder(id);
    if (!m_codec) return 1;  // "decoder not found"
    if (m_audioStream >= 0) m_audioCodec = avcodec_find_decoder(m_input->streams[m_audioStream]->codecpar->codec_id);

    m_videoType = id == AV_CODEC_ID_HEVC ? 1 : 0;
    m_width = st->codecpar->width;
    m_height = st->codecpar->height;
    if (st->avg_frame_rate.den >= 1 && st->avg_frame_rate.num > 0)
        m_frameRate = st->avg_frame_rate.num / st->avg_frame_rate.den;
    else if (st->r_frame_rate.den > 0 && st->r_frame_rate.num > 0)
        m_frameRate = st->r_frame_rate.num / st->r_frame_rate.den;
    else
        m_frameRate = 25;
    if (m_frameRate <= 0) m_frameRate = 25;

    // MP4 keeps H.264/H.265 in length-prefixed form; the decoder here is fed
    // Annex B.
    const AVCodecParameters* decoderParams = st->codecpar;
    // Any container that stores them length-prefixed gets the filter too, so
    // that a copied-out packet is Annex B whatever the file's name.
    const bool mp4Name = !read && path && EndsWithNoCase(path, ".mp4");
    if ((mp4Name || LengthPrefixed(st->codecpar)) && (id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC)) {
        if (!velmor::ParamSetRecordFits(id == AV_CODEC_ID_HEVC, st->codecpar->extradata,
                                        size_t(std::max(0, st->codecpar->extradata_size))))
            return -1;  // parameter sets declared past the record's end
        const AVBitStreamFilter* filter = av_bsf_get_by_name(id == AV_CODEC_ID_HEVC ? "hevc_mp4toannexb" : "h264_mp4toannexb");
        if (filter && av_bsf_alloc(filter, &m_bsf) == 0) {
            avcodec_parameters_copy(m_bsf->par_in, st->codecpar);
            m_bsf->time_base_in = st->time_base;
            if (av_bsf_init(m_bsf) == 0)
                decoderParams = m_bsf->par_out;
            else
                av_bsf_free(&m_bsf);
        }
    }
    m_ctx = avcodec_alloc_context3(m_codec);
    if (!m_ctx || avcodec_parameters_to_context(m_ctx, decoderParams) < 0) return -1;
    m_ctx->pkt_timebase = st->time_base;

    if (param) *param = RKPLAYER_VIDEO_PARAM{m_width, m_height, m_videoType, m_frameRate};
    const int64_t us = m_input->duration == AV_NOPTS_VALUE ? 0 : m_input->duration;
    if (duration) *duration = us;
    m_totalMs = us / 1000;
    return 0;
}

int CRKPlay::ReadOneFrame(int* isAudio, int64_t* pts)
{
    if (!m_input) return AVERROR(EINVAL);
    av_packet_unref(m_current);
    m_haveCurrent = false;
    const int rc = av_read_frame(m_input, m_current);
    if (rc < 0) {
        // The end: show what the decoder still holds.
        std::lock_guard video(m_videoLock);
        RKPLAY_DecodeVideoAndShow(nullptr);
        if (isAudio) *isAudio = 0;
        return rc;
    }
    if (pts) *pts = m_current->pts == AV_NOPTS_VALUE ? 0 : m_current->pts;
    if (m_current->stream_index == m_audioStream) {
        if (isAudio) *isAudio = 1;
        av_packet_unref(m_current);
        return 0;
    }
    if (m_current->stream_index != m_videoStream) {
        av_packet_unref(m_current);
        return 0;
    }
    if (isAudio) *isAudio = 0;
    if (m_bsf) {
        int r = av_bsf_send_packet(m_bsf, m_current);
        if (r < 0) return r;
        r = av_bsf_receive_packet(m_bsf, m_current);
        if (r < 0) return r == AVERROR(EAGAIN) ? 0 : r;
    }
    m_haveCurrent = true;
    return 0;
}

int CRKPlay::DecodeCurrentPacket(int flush)
{
    if (flush != 0) return -1;
    std::lock_guard video(m_videoLock);
    if (!m_haveCurrent) return -1;
    m_unitArrived = CSdlPresenter::Clock::now();
    RKPLAY_DecodeVideoAndShow(m_current);
    av_packet_unref(m_current);
    m_haveCurrent = false;
    return m_decodeResult;
}

int CRKPlay::CopyCurrentPacket(uint8_t* buffer, int capacity, int* length, int* keyFlag, int64_t* positionMs)
{
    std::lock_guard video(m_videoLock);
    if (!m_input || !m_haveCurrent || m_videoStream < 0) return VIDEOPLAY_PACKET_NONE;
    *length = m_current->size;
    if (m_current->size > capacity) return VIDEOPLAY_PACKET_SMALL_BUFFER;
    if (m_current->size > 0) std::memcpy(buffer, m_current->data, size_t(m_current->size));
    *keyFlag = (m_current->flags & AV_PKT_FLAG_KEY) ? 1 : 0;
    const int64_t t = m_current->pts != AV_NOPTS_VALUE ? m_current->pts
                      : m_current->dts != AV_NOPTS_VALUE ? m_current->dts
                                                         : 0;
    *positionMs = av_rescale_q(t, m_input->streams[m_videoStream]->time_base, AVRational{1, 1000});
    return VIDEOPLAY_PACKET_OK;
}

int CRKPlay::SeekTimeTo(int64_t timeMs)
{
    if (!m_input || m_videoStream < 0 || timeMs < 0) return -1;
    std::lock_guard video(m_videoLock);
    AVStream* st = m_input->streams[m_videoStream];
    int64_t ts = av_rescale_q(timeMs * 1000, AVRational{1, 1000000}, st->time_base);
    if (st->start_time != AV_NOPTS_VALUE) ts += st->start_time;
    const int rc = av_seek_frame(m_input, m_videoStream, ts, AVSEEK_FLAG_BACKWARD);
    if (rc < 0) return rc;
    if (m_ctx && avcodec_is_open(m_ctx)) avcodec_flush_buffers(m_ctx);
    if (m_bsf) av_bsf_flush(m_bsf);
    av_packet_unref(m_current);
    m_haveCurrent = false;
    return 0;
}

void CRKPlay::CloseInput()
{
    if (m_input) avformat_close_input(&m_input);
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    m_videoStream = m_audioStream = -1;
}

void CRKPlay::UnitMediaFile()
{
    m_stop.store(true);
    std::lock_guard video(m_videoLock);
    Cleanup();
    CloseInput();
}

}  // namespace rkmedia
