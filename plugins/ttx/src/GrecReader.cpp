#include "plugins/ttx/src/GrecReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cstring>

#include "common/FileReader.h"
#include "common/ParamSetRecord.h"

namespace velmor::ttx {
namespace {

constexpr int kIoBufferSize = 32 * 1024;
constexpr uint64_t kMaxRecorderUs = 4294967295999999ull;  // the last microsecond of a 32-bit second
constexpr int kMaxPicture = 16384;
constexpr const char* kInfoTrackName = "attached-info";

class CFileSource : public CByteSource {
public:
    bool Open(const std::filesystem::path& path, std::string& error)
    {
        int err = 0;
        if (!m_file.Open(path, &err)) {
            error = "cannot open " + path.string() + " for reading: " + std::strerror(err);
            return false;
        }
        return true;
    }
    int Read(uint8_t* dst, int n) override
    {
        const size_t got = m_file.Read(dst, size_t(n));
        return int(got);
    }
    int64_t Seek(int64_t offset) override
    {
        if (offset < 0) return -1;
        m_file.Seek(uint64_t(offset));
        return offset;
    }
    int64_t Size() const override { return m_file.Size(); }

private:
    CFileReader m_file;
};

class CMemorySource : public CByteSource {
public:
    CMemorySource(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    int Read(uint8_t* dst, int n) override
    {
        if (m_pos >= m_size || n <= 0) return 0;
        const size_t k = std::min(size_t(n), m_size - m_pos);
        std::memcpy(dst, m_data + m_pos, k);
        m_pos += k;
        return int(k);
    }
    int64_t Seek(int64_t offset) override
    {
        if (offset < 0) return -1;
        m_pos = size_t(offset);
        return offset;
    }
    int64_t Size() const override { return int64_t(m_size); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

int HexValue(uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decimal digits only, at most 19 of them.
bool ParseDecimal(const char* text, uint64_t& value)
{
    if (!text || !*text) return false;
    uint64_t v = 0;
    size_t n = 0;
    for (const char* p = text; *p; ++p, ++n) {
        if (*p < '0' || *p > '9' || n >= 19) return false;
        v = v * 10 + uint64_t(*p - '0');
    }
    value = v;
    return true;
}

const char* Tag(AVDictionary* dict, const char* key)
{
    const AVDictionaryEntry* e = av_dict_get(dict, key, nullptr, 0);
    return e ? e->value : nullptr;
}

void CopyText(char (&dst)[32], const char* text)
{
    std::memset(dst, 0, sizeof dst);
    if (text) std::strncpy(dst, text, sizeof dst - 1);
}

// G.726 rate code of a bit rate; 0 (32 kbit/s) for any other.
int G726RateCode(int64_t bitRate)
{
    switch (bitRate) {
        case 16000: return 2;
        case 24000: return 4;
        case 40000: return 1;
        default: return 0;
    }
}

int G726Bits(int rateCode)
{
    switch (rateCode) {
        case 2: return 2;
        case 4: return 3;
        case 1: return 5;
        default: return 4;
    }
}

struct Nal {
    size_t begin, end;  // payload, without the start code
};

std::vector<Nal> SplitNals(const uint8_t* d, size_t n)
{
    std::vector<Nal> nals;
    size_t i = 0, start = SIZE_MAX;
    while (i + 3 <= n) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            if (start != SIZE_MAX) {
                size_t end = i;
                while (end > start && d[end - 1] == 0) --end;
                nals.push_back({start, end});
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != SIZE_MAX) nals.push_back({start, n});
    return nals;
}

bool IsParameterSet(const uint8_t* nal, size_t size, bool hevc)
{
    if (size == 0) return false;
    if (hevc) {
        const int type = (nal[0] >> 1) & 0x3F;
        return type >= 32 && type <= 34;
    }
    const int type = nal[0] & 0x1F;
    return type == 7 || type == 8;
}

// A key picture that carries its parameter sets in the stream gets them a
// second time from the track's private data; the later copies go.
void DropRepeatedParameterSets(std::vector<uint8_t>& unit, bool hevc)
{
    const auto nals = SplitNals(unit.data(), unit.size());
    std::vector<const Nal*> kept;
    bool dropped = false;
    for (const Nal& nal : nals) {
        const size_t size = nal.end - nal.begin;
        bool repeat = false;
        if (IsParameterSet(unit.data() + nal.begin, size, hevc)) {
            for (const Nal* k : kept)
                if (k->end - k->begin == size && std::memcmp(unit.data() + k->begin, unit.data() + nal.begin, size) == 0)
                    repeat = true;
        }
        if (repeat)
            dropped = true;
        else
            kept.push_back(&nal);
    }
    if (!dropped) return;
    std::vector<uint8_t> out;
    out.reserve(unit.size());
    for (const Nal* nal : kept) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), unit.begin() + nal->begin, unit.begin() + nal->end);
    }
    unit.swap(out);
}

// An EBML variable-size number at `at`: its length in bytes (0 when there
// is none), its value without the length marker, and whether every value bit
// is set (an unknown size).
size_t ReadVint(const uint8_t* d, size_t n, size_t at, uint64_t& value, bool keepMarker, bool& allOnes)
{
    if (at >= n || d[at] == 0) return 0;
    size_t len = 1;
    while (!(d[at] & (0x80 >> (len - 1)))) ++len;
    if (at + len > n) return 0;
    const uint64_t marker = 0x80u >> (len - 1);
    uint64_t v = keepMarker ? d[at] : (d[at] & (marker - 1));
    allOnes = (d[at] & (marker - 1)) == marker - 1;
    for (size_t i = 1; i < len; ++i) {
        v = v << 8 | d[at + i];
        allOnes = allOnes && d[at + i] == 0xFF;
    }
    value = v;
    return len;
}

// Where the file's segment says it ends, or 0 when it does not say (a
// streamed file) or the head is not the expected one.
uint64_t DeclaredEnd(const uint8_t* d, size_t n)
{
    uint64_t id = 0, size = 0;
    bool unknown = false;
    size_t at = 0, len = ReadVint(d, n, at, id, true, unknown);
    if (!len || id != 0x1A45DFA3) return 0;
    at += len;
    if (!(len = ReadVint(d, n, at, size, false, unknown)) || unknown || size > n) return 0;
    at += len + size;
    if (!(len = ReadVint(d, n, at, id, true, unknown)) || id != 0x18538067) return 0;
    at += len;
    if (!(len = ReadVint(d, n, at, size, false, unknown)) || unknown) return 0;
    at += len;
    return size > UINT64_MAX - at ? UINT64_MAX : at + size;
}

}  // namespace

int ReadPacketThunk(void* opaque, uint8_t* buf, int size)
{
    auto* self = static_cast<CGrecReader*>(opaque);
    // A demuxer that keeps reading the same bytes over and over is stopped:
    // no call reads more than a few times the file.
    const int64_t size64 = self->m_source->Size();
    const uint64_t budget = uint64_t(std::max<int64_t>(size64, 0)) * 4 + (1u << 20);
    if (self->m_bytesRead > budget) return AVERROR(EIO);
    const int n = self->m_source->Read(buf, size);
    if (n < 0) return AVERROR(EIO);
    if (n == 0) return AVERROR_EOF;
    self->m_bytesRead += uint64_t(n);
    return n;
}

int64_t SeekThunk(void* opaque, int64_t offset, int whence)
{
    auto* self = static_cast<CGrecReader*>(opaque);
    const int64_t size = self->m_source->Size();
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return size >= 0 ? size : AVERROR(ENOSYS);
    if (whence == SEEK_END) {
        if (size < 0) return AVERROR(EINVAL);
        offset += size;
    } else if (whence != SEEK_SET) {
        return AVERROR(EINVAL);  // the I/O context only asks for absolute positions
    }
    const int64_t pos = self->m_source->Seek(offset);
    return pos < 0 ? AVERROR(EINVAL) : pos;
}

bool DecodeRecordText(const uint8_t* text, size_t length, uint8_t out[75])
{
    if (!text || length != 150) return false;
    for (size_t i = 0; i < 75; ++i) {
        const int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = uint8_t(hi << 4 | lo);
    }
    return true;
}

std::unique_ptr<CByteSource> OpenFileSource(const std::filesystem::path& path, std::string& error)
{
    auto source = std::make_unique<CFileSource>();
    if (!source->Open(path, error)) return nullptr;
    return source;
}

std::unique_ptr<CByteSource> MemorySource(const uint8_t* data, size_t size)
{
    return std::make_unique<CMemorySource>(data, size);
}

CGrecReader::CGrecReader(std::unique_ptr<CByteSource> source) : m_source(std::move(source)) {}

CGrecReader::~CGrecReader()
{
    CloseDemuxer();
    av_packet_free(&m_packet);
}

int CGrecReader::Fail(int code, std::string text)
{
    m_error = std::move(text);
    return code;
}

std::unique_ptr<CGrecReader> CGrecReader::Open(std::unique_ptr<CByteSource> source, int& code, std::string& error)
{
    std::unique_ptr<CGrecReader> reader(new CGrecReader(std::move(source)));
    reader->m_packet = av_packet_alloc();
    code = reader->m_packet ? reader->OpenDemuxer(true) : AVFILE_ERR_MEMORY;
    if (code != AVFILE_OK) {
        error = reader->m_packet ? reader->m_error : "out of memory";
        return nullptr;
    }
    return reader;
}

void CGrecReader::CloseDemuxer()
{
    av_bsf_free(&m_bsf);
    if (m_format) avformat_close_input(&m_format);
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
}

int CGrecReader::OpenDemuxer(bool first)
{
    CloseDemuxer();
    m_pending.clear();
    m_broken = m_ended = false;
    m_lastVideoUs = 0;
    m_sawVideo = false;
    m_bytesRead = 0;
    if (first) {
        // A file that ends before its segment does was cut; its frames up
        // to the cut are still read, and its end is an error.
        uint8_t head[256] = {};
        int got = 0;
        if (m_source->Seek(0) == 0) got = std::max(0, m_source->Read(head, int(sizeof head)));
        const uint64_t declared = DeclaredEnd(head, size_t(got));
        const int64_t size = m_source->Size();
        m_declaredEnd = declared;
        m_cutShort = declared > 0 && size >= 0 && declared > uint64_t(size);
    }
    if (m_source->Seek(0) != 0) return Fail(AVFILE_ERR_OPEN, "cannot go to the start of the file");
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!buffer) return Fail(AVFILE_ERR_MEMORY, "out of memory");
    // Write flag 0: the I/O context has no way to write, whatever the source.
    m_io = avio_alloc_context(buffer, kIoBufferSize, 0, this, ReadPacketThunk, nullptr, SeekThunk);
    if (!m_io) {
        av_free(buffer);
        return Fail(AVFILE_ERR_MEMORY, "out of memory");
    }
    m_format = avformat_alloc_context();
    if (!m_format) return Fail(AVFILE_ERR_MEMORY, "out of memory");
    m_format->pb = m_io;
    m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Only the Matroska demuxer is asked: nothing else is a grec file, and
    // no other parser gets to see hostile bytes.
    const AVInputFormat* matroska = av_find_input_format("matroska");
    if (!matroska) return Fail(AVFILE_ERR_FORMAT, "this FFmpeg has no Matroska demuxer");
    const int rc = avformat_open_input(&m_format, nullptr, matroska, nullptr);
    if (rc < 0) {
        m_format = nullptr;  // freed by the failed open
        return Fail(AVFILE_ERR_FORMAT, "not a Matroska file");
    }
    if (first) {
        if (const int d = Describe(); d != AVFILE_OK) return d;
    }
    if (m_video < 0 || unsigned(m_video) >= m_format->nb_streams) return Fail(AVFILE_ERR_FORMAT, "no video track");
    const AVStream* video = m_format->streams[m_video];
    if (!ParamSetRecordFits(video->codecpar->codec_id == AV_CODEC_ID_HEVC, video->codecpar->extradata,
                            size_t(std::max(0, video->codecpar->extradata_size))))
        return Fail(AVFILE_ERR_FORMAT, "the video track's parameter sets are damaged");
    const AVBitStreamFilter* filter =
        av_bsf_get_by_name(video->codecpar->codec_id == AV_CODEC_ID_HEVC ? "hevc_mp4toannexb" : "h264_mp4toannexb");
    if (!filter || av_bsf_alloc(filter, &m_bsf) < 0) return Fail(AVFILE_ERR_MEMORY, "no Annex B filter");
    if (avcodec_parameters_copy(m_bsf->par_in, video->codecpar) < 0) return Fail(AVFILE_ERR_MEMORY, "out of memory");
    m_bsf->time_base_in = video->time_base;
    if (av_bsf_init(m_bsf) < 0) return Fail(AVFILE_ERR_FORMAT, "the video track's parameter sets are damaged");
    return first ? DescribeSpan() : AVFILE_OK;
}

int CGrecReader::Describe()
{
    m_video = m_audio = m_infoStream = -1;
    for (unsigned i = 0; i < m_format->nb_streams; ++i) {
        const AVStream* st = m_format->streams[i];
        const AVCodecParameters* par = st->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && m_video < 0) {
            if (par->codec_id != AV_CODEC_ID_H264 && par->codec_id != AV_CODEC_ID_HEVC)
                return Fail(AVFILE_ERR_FORMAT, std::string("the video track is ") + avcodec_get_name(par->codec_id) +
                                                   ", not H.264 or H.265");
            m_video = int(i);
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO && m_audio < 0) {
            m_audio = int(i);
        } else if (par->codec_type == AVMEDIA_TYPE_SUBTITLE && m_infoStream < 0) {
            const char* name = Tag(st->metadata, "title");
            if (name && std::strcmp(name, kInfoTrackName) == 0) {
                if (par->codec_id != AV_CODEC_ID_SUBRIP && par->codec_id != AV_CODEC_ID_TEXT)
                    return Fail(AVFILE_ERR_FORMAT, "the attached-information track is not a text track");
                m_infoStream = int(i);
            }
        }
    }
    if (m_video < 0) return Fail(AVFILE_ERR_FORMAT, "no video track");
    for (int i : {m_video, m_audio, m_infoStream}) {
        if (i < 0) continue;
        const AVRational tb = m_format->streams[i]->time_base;
        if (tb.num <= 0 || tb.den <= 0) return Fail(AVFILE_ERR_FORMAT, "a track has no time base");
    }
    const AVStream* video = m_format->streams[m_video];
    const AVCodecParameters* vpar = video->codecpar;
    if (vpar->width < 1 || vpar->height < 1 || vpar->width > kMaxPicture || vpar->height > kMaxPicture)
        return Fail(AVFILE_ERR_FORMAT, "the video track's picture size " + std::to_string(vpar->width) + "x" +
                                           std::to_string(vpar->height) + " is out of range");

    uint64_t origin = 0;
    if (!ParseDecimal(Tag(m_format->metadata, "ORIGIN_US"), origin) || origin > kMaxRecorderUs)
        return Fail(AVFILE_ERR_FORMAT, "no valid ORIGIN_US tag: the file does not say when it was recorded");
    m_originUs = origin;

    return AVFILE_OK;
}

int CGrecReader::DescribeSpan()
{
    int64_t duration = m_format->duration;
    if (duration == AV_NOPTS_VALUE) {
        // No duration in the header: the last frame tells.
        GrecFrame f;
        uint64_t last = m_originUs;
        int rc;
        m_info.endTime = 0;  // no end to fall short of while scanning
        while ((rc = Demux(f)) == 1) last = std::max(last, f.timeUs);
        if (rc < 0) return Fail(AVFILE_ERR_FORMAT, "cannot find the end of the file: " + m_error);
        duration = int64_t(last - m_originUs);
        if (const int open = OpenDemuxer(false); open != AVFILE_OK) return open;
    }
    return FinishDescribe(duration);
}

int CGrecReader::FinishDescribe(int64_t duration)
{
    if (duration < 0 || uint64_t(duration) > kMaxRecorderUs - m_originUs)
        return Fail(AVFILE_ERR_FORMAT, "the file's duration is out of range");
    const AVStream* video = m_format->streams[m_video];
    const AVCodecParameters* vpar = video->codecpar;
    m_info.beginTime = m_originUs;
    m_info.endTime = m_originUs + uint64_t(duration);
    m_info.width = vpar->width;
    m_info.height = vpar->height;
    m_info.videoCompress = vpar->codec_id == AV_CODEC_ID_HEVC ? AVFILE_VIDEO_H265 : AVFILE_VIDEO_H264;
    AVRational rate = video->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = video->r_frame_rate;
    const double fps = rate.num > 0 && rate.den > 0 ? double(rate.num) / rate.den : 0.0;
    m_info.frameRate = fps >= 0.5 && fps <= 1000 ? int(fps + 0.5) : 25;
    m_info.hasInfo = m_infoStream >= 0;
    m_info.hasAudio = m_audio >= 0;

    m_wave = {};
    if (m_audio >= 0) {
        const AVStream* st = m_format->streams[m_audio];
        const AVCodecParameters* apar = st->codecpar;
        int derived = 0, rateCode = 0, bits = 8;
        switch (apar->codec_id) {
            case AV_CODEC_ID_PCM_MULAW: derived = 7; break;
            case AV_CODEC_ID_PCM_ALAW: derived = 8; break;
            case AV_CODEC_ID_ADPCM_G726:
                derived = 2;
                rateCode = G726RateCode(apar->bit_rate);
                break;
            default:
                return Fail(AVFILE_ERR_FORMAT, std::string("the sound track is ") + avcodec_get_name(apar->codec_id) +
                                                   ", not G.711 or G.726");
        }
        int encoding = derived;
        const char* encTag = Tag(st->metadata, "AUDIO_ENCODING");
        const char* rateTag = Tag(st->metadata, "AUDIO_RATE_CODE");
        uint64_t v = 0;
        if (encTag) {
            if (!ParseDecimal(encTag, v) || v > 255) return Fail(AVFILE_ERR_FORMAT, "a bad AUDIO_ENCODING tag");
            encoding = int(v);
            const bool g726 = derived == 2;
            if (g726 ? (encoding != 2 && encoding != 3) : encoding != derived)
                return Fail(AVFILE_ERR_FORMAT, "the AUDIO_ENCODING tag " + std::to_string(encoding) + " contradicts the " +
                                                   avcodec_get_name(apar->codec_id) + " sound track");
        }
        if (rateTag) {
            if (!ParseDecimal(rateTag, v) || v > 255) return Fail(AVFILE_ERR_FORMAT, "a bad AUDIO_RATE_CODE tag");
            rateCode = int(v);
        }
        if (derived == 2) bits = G726Bits(rateCode);
        else rateCode = 0;
        if (apar->sample_rate != 8000 || apar->ch_layout.nb_channels != 1)
            return Fail(AVFILE_ERR_FORMAT, "the sound track is not mono at 8000 Hz");
        m_wave.encoding = encoding;
        m_wave.rateCode = rateCode;
        m_wave.sampleRate = 8000;
        m_wave.channels = 1;
        m_wave.bitsPerSample = bits;
    }
    CopyText(m_terminal.terminal, Tag(m_format->metadata, "TERMINAL"));
    CopyText(m_terminal.vehicle, Tag(m_format->metadata, "VEHICLE"));
    return AVFILE_OK;
}

uint64_t CGrecReader::TimeUs(int64_t ts, int streamIndex) const
{
    return m_originUs + uint64_t(av_rescale_q(ts, m_format->streams[streamIndex]->time_base, AVRational{1, 1000000}));
}

int64_t CGrecReader::StreamTs(uint64_t timeUs) const
{
    if (timeUs <= m_originUs) return 0;
    return av_rescale_q(int64_t(timeUs - m_originUs), AVRational{1, 1000000}, m_format->streams[m_video]->time_base);
}

int CGrecReader::ReceiveVideo(GrecFrame& frame)
{
    const int rc = av_bsf_receive_packet(m_bsf, m_packet);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return 0;
    if (rc < 0) return Fail(AVFILE_ERR_READ, "damaged video frame");
    const int64_t ts = m_packet->pts != AV_NOPTS_VALUE ? m_packet->pts : m_packet->dts;
    const int size = m_packet->size;
    const bool key = (m_packet->flags & AV_PKT_FLAG_KEY) != 0;
    if (ts == AV_NOPTS_VALUE || ts < 0 || uint64_t(ts) > kMaxRecorderUs) {
        av_packet_unref(m_packet);
        return Fail(AVFILE_ERR_READ, "a video frame without a valid time stamp");
    }
    if (size <= 0 || size > AVFILE_MAX_FRAME_SIZE) {
        av_packet_unref(m_packet);
        return Fail(AVFILE_ERR_READ, "a video frame of " + std::to_string(size) + " bytes");
    }
    frame.type = AVFILE_FRAME_VIDEO;
    frame.key = key;
    frame.timeUs = TimeUs(ts, m_video);
    frame.data.assign(m_packet->data, m_packet->data + size);
    av_packet_unref(m_packet);
    if (key) DropRepeatedParameterSets(frame.data, m_format->streams[m_video]->codecpar->codec_id == AV_CODEC_ID_HEVC);
    if (frame.timeUs > kMaxRecorderUs) return Fail(AVFILE_ERR_READ, "a video frame after the last recorder second");
    m_sawVideo = true;
    m_lastVideoUs = std::max(m_lastVideoUs, frame.timeUs);
    return 1;
}

int CGrecReader::Demux(GrecFrame& frame)
{
    for (;;) {
        if (const int got = ReceiveVideo(frame); got != 0) return got;
        if (m_ended) return 0;
        const int rc = av_read_frame(m_format, m_packet);
        if (rc == AVERROR_EOF) {
            m_ended = true;
            av_bsf_send_packet(m_bsf, nullptr);
            if (const int got = ReceiveVideo(frame); got != 0) return got;
            if (m_cutShort)
                return Fail(AVFILE_ERR_READ, "the file was cut short: it holds " + std::to_string(m_source->Size()) +
                                                 " of its " + std::to_string(m_declaredEnd) + " bytes");
            // The header's duration promises frames up to the end: a file
            // whose last picture comes more than a second early was cut.
            if (m_sawVideo && m_lastVideoUs + 1000000 < m_info.endTime)
                return Fail(AVFILE_ERR_READ, "the file ends " + std::to_string((m_info.endTime - m_lastVideoUs) / 1000) +
                                                 " ms before its stated end: it was cut short");
            return 0;
        }
        if (rc < 0) return Fail(AVFILE_ERR_READ, "damaged data after " + std::to_string(m_bytesRead) + " bytes");
        const int si = m_packet->stream_index;
        if (si != m_video && si != m_audio && si != m_infoStream) {
            av_packet_unref(m_packet);
            continue;
        }
        if (m_packet->size > AVFILE_MAX_FRAME_SIZE) {
            av_packet_unref(m_packet);
            return Fail(AVFILE_ERR_READ, "a frame larger than the largest allowed");
        }
        if (si == m_video) {
            const int sent = av_bsf_send_packet(m_bsf, m_packet);
            av_packet_unref(m_packet);
            if (sent < 0) return Fail(AVFILE_ERR_READ, "damaged video frame");
            continue;
        }
        const int64_t ts = m_packet->pts != AV_NOPTS_VALUE ? m_packet->pts : m_packet->dts;
        if (ts == AV_NOPTS_VALUE || ts < 0 || uint64_t(ts) > kMaxRecorderUs) {
            av_packet_unref(m_packet);
            return Fail(AVFILE_ERR_READ, "a frame without a valid time stamp");
        }
        frame.key = false;
        frame.timeUs = TimeUs(ts, si);
        if (si == m_audio) {
            frame.type = AVFILE_FRAME_AUDIO;
            frame.data.assign(m_packet->data, m_packet->data + m_packet->size);
            av_packet_unref(m_packet);
            if (frame.data.empty()) continue;
        } else {
            frame.type = AVFILE_FRAME_INFO;
            frame.data.resize(75);
            const bool ok = DecodeRecordText(m_packet->data, size_t(m_packet->size), frame.data.data());
            av_packet_unref(m_packet);
            if (!ok)
                return Fail(AVFILE_ERR_READ, "a damaged attached-information block at " +
                                                 std::to_string((frame.timeUs - m_originUs) / 1000) + " ms");
        }
        if (frame.timeUs > kMaxRecorderUs) return Fail(AVFILE_ERR_READ, "a frame after the last recorder second");
        return 1;
    }
}

int CGrecReader::Next(GrecFrame& frame)
{
    m_bytesRead = 0;
    if (!m_pending.empty()) {
        frame = std::move(m_pending.front());
        m_pending.pop_front();
        return 1;
    }
    if (m_broken) return AVFILE_ERR_READ;
    const int rc = Demux(frame);
    if (rc < 0) m_broken = true;
    return rc;
}

int CGrecReader::SeekBegin()
{
    const int rc = OpenDemuxer(false);
    if (rc != AVFILE_OK) m_broken = true;
    return rc;
}

int CGrecReader::SeekIFrame(uint64_t timeUs)
{
    if (timeUs > m_info.endTime)
        return Fail(AVFILE_ERR_RANGE, "second " + std::to_string(timeUs / 1000000) + " lies after the file's end (" +
                                          std::to_string(m_info.endTime / 1000000) + ")");
    const int64_t target = StreamTs(timeUs);
    m_pending.clear();
    m_broken = m_ended = false;
    m_bytesRead = 0;
    av_bsf_flush(m_bsf);
    // The cue index finds the key frame; what it finds is checked, and a file
    // whose index does not hold is scanned instead.
    if (av_seek_frame(m_format, m_video, target, AVSEEK_FLAG_BACKWARD) >= 0) {
        GrecFrame f;
        int rc;
        while ((rc = Demux(f)) == 1 && f.type != AVFILE_FRAME_VIDEO) {
        }
        if (rc == 1 && f.key && f.timeUs <= std::max(timeUs, m_originUs)) {
            m_pending.push_back(std::move(f));
            return AVFILE_OK;
        }
    }
    return SeekByScan(target);
}

int CGrecReader::SeekByScan(int64_t target)
{
    const uint64_t targetUs = TimeUs(target, m_video);
    if (const int rc = OpenDemuxer(false); rc != AVFILE_OK) {
        m_broken = true;
        return rc;
    }
    // First pass: which video frame (by its number) is the key frame.
    GrecFrame f;
    int64_t videoNo = -1, chosen = -1;
    int rc;
    while ((rc = Demux(f)) == 1) {
        if (f.type != AVFILE_FRAME_VIDEO) continue;
        ++videoNo;
        if (f.timeUs > targetUs && chosen >= 0) break;
        if (f.key && (f.timeUs <= targetUs || chosen < 0)) chosen = videoNo;
        if (f.key && f.timeUs > targetUs) break;
    }
    if (rc < 0) {
        m_broken = true;
        return AVFILE_ERR_READ;
    }
    if (chosen < 0) return Fail(AVFILE_ERR_RANGE, "the file holds no key frame");
    // Second pass: up to it.
    if (const int open = OpenDemuxer(false); open != AVFILE_OK) {
        m_broken = true;
        return open;
    }
    videoNo = -1;
    while ((rc = Demux(f)) == 1) {
        if (f.type == AVFILE_FRAME_VIDEO && ++videoNo == chosen) {
            m_pending.push_back(std::move(f));
            return AVFILE_OK;
        }
    }
    m_broken = true;
    return rc < 0 ? AVFILE_ERR_READ : Fail(AVFILE_ERR_READ, "the file changed while seeking");
}

}  // namespace velmor::ttx
