// The grec reader behind the plugin's exports, apart from them so that tests
// and the fuzz target reach it without loading the shared library. Bytes come
// from a read-only source: a file opened for reading only, or memory.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "plugins/ttx/include/avfile_ttx.h"

struct AVFormatContext;
struct AVIOContext;
struct AVBSFContext;
struct AVPacket;

namespace velmor::ttx {

// Where a reader's bytes come from. Read answers the bytes copied (0 at the
// end, negative on failure); Seek answers the new position or negative.
class CByteSource {
public:
    virtual ~CByteSource() = default;
    virtual int Read(uint8_t* dst, int n) = 0;
    virtual int64_t Seek(int64_t offset) = 0;
    virtual int64_t Size() const = 0;
};

std::unique_ptr<CByteSource> OpenFileSource(const std::filesystem::path& path, std::string& error);
// The bytes are not copied: they must outlive the source.
std::unique_ptr<CByteSource> MemorySource(const uint8_t* data, size_t size);

struct GrecFrame {
    int type = AVFILE_FRAME_VIDEO;
    bool key = false;
    uint64_t timeUs = 0;
    std::vector<uint8_t> data;
};

class CGrecReader {
public:
    ~CGrecReader();
    CGrecReader(const CGrecReader&) = delete;
    CGrecReader& operator=(const CGrecReader&) = delete;

    // A reader positioned at the first frame, or null with `code` (an
    // AVFILE_ERR_ value) and `error` set.
    static std::unique_ptr<CGrecReader> Open(std::unique_ptr<CByteSource> source, int& code, std::string& error);

    const AVFILE_FILE_INFO& Info() const { return m_info; }
    const AVFILE_WAVE_FORMAT& Wave() const { return m_wave; }
    const AVFILE_TERMINAL_INFO& Terminal() const { return m_terminal; }

    // 0 or an AVFILE_ERR_ code; the reason is in Error().
    int SeekBegin();
    int SeekIFrame(uint64_t timeUs);
    // 1 with a frame, 0 at the end, or an AVFILE_ERR_ code.
    int Next(GrecFrame& frame);
    // The frame Next handed out stays next once more (a buffer that was too
    // small).
    void PutBack(GrecFrame frame) { m_pending.push_front(std::move(frame)); }

    const std::string& Error() const { return m_error; }

private:
    explicit CGrecReader(std::unique_ptr<CByteSource> source);
    int Fail(int code, std::string text);
    // Opens the demuxer and the video filter at byte 0; `first` checks the
    // tracks and tags and fills the descriptions.
    int OpenDemuxer(bool first);
    void CloseDemuxer();
    // Tracks and tags, then the span (a header without a duration costs a scan).
    int Describe();
    int DescribeSpan();
    int FinishDescribe(int64_t duration);
    // The next frame from the demuxer, without the pending queue.
    int Demux(GrecFrame& frame);
    int ReceiveVideo(GrecFrame& frame);
    uint64_t TimeUs(int64_t ts, int streamIndex) const;
    int64_t StreamTs(uint64_t timeUs) const;
    int SeekByScan(int64_t target);

    std::unique_ptr<CByteSource> m_source;
    AVFormatContext* m_format = nullptr;
    AVIOContext* m_io = nullptr;
    AVBSFContext* m_bsf = nullptr;
    AVPacket* m_packet = nullptr;
    int m_video = -1, m_audio = -1, m_infoStream = -1;
    uint64_t m_originUs = 0;
    uint64_t m_bytesRead = 0;
    bool m_broken = false;  // a read failed: every read fails until a seek
    bool m_ended = false;
    bool m_sawVideo = false;
    bool m_cutShort = false;      // the file ends before its segment does
    uint64_t m_declaredEnd = 0;
    uint64_t m_lastVideoUs = 0;  // of this pass, for the cut-short check
    std::deque<GrecFrame> m_pending;
    AVFILE_FILE_INFO m_info{};
    AVFILE_WAVE_FORMAT m_wave{};
    AVFILE_TERMINAL_INFO m_terminal{};
    std::string m_error;

    friend int ReadPacketThunk(void*, uint8_t*, int);
    friend int64_t SeekThunk(void*, int64_t, int);
};

// The 75-byte record of a block's text: exactly 150 upper-case hexadecimal
// digits. False for anything else.
bool DecodeRecordText(const uint8_t* text, size_t length, uint8_t out[75]);

}  // namespace velmor::ttx
