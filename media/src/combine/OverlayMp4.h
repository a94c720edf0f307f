// The copy of a clip with its on-screen text burned in: each recorded access
// unit is decoded, the text of its second drawn into the picture as the play
// windows draw it, and the picture encoded again (H.264 or H.265, as
// recorded) into a file of its own through the clip's own MP4 writer, so
// that the copy has the clip's pictures, sound and clock one for one.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>

#include "media/src/mp4/FfmpegPtr.h"
#include "media/src/mp4/RKMp4Convert.h"

namespace rkmedia {

class COverlayMp4 {
public:
    COverlayMp4() = default;
    COverlayMp4(const COverlayMp4&) = delete;
    COverlayMp4& operator=(const COverlayMp4&) = delete;

    // As CRKMp4Convert::CreateMp4File. 0, or a negative error with Error()
    // set; the object must be closed either way.
    int Create(const char* path, int width, int height, int videoType, int frameRate);
    // One recorded access unit (Annex B) and the text (UTF-8, "," between
    // lines) to draw on its picture. Pictures before the first key frame are
    // refused as the writer refuses them. 0 / negative with Error() set.
    int WriteVideo(const uint8_t* data, int length, int keyFlag, uint64_t time, const std::string& text);
    // One raw AAC frame, as CRKMp4Convert::WriteMp4AudioFile.
    int WriteAudio(const uint8_t* data, int length);
    // Drains decoder and encoder and finishes the file: 0, or a negative
    // error, and then no file is left.
    int Close();

    const std::string& Error() const { return m_error; }
    int64_t PicturesIn() const { return m_in; }
    int64_t PicturesOut() const { return m_out; }

private:
    int Fail(int code, std::string text);
    int OpenEncoder(const AVFrame* first);
    int Receive();
    // The oldest pending picture: the last decoded one with its text drawn, encoded.
    int DrawNext();
    int Encode(AVFrame* picture);
    int Drain();

    CRKMp4Convert m_writer;
    ff::CodecContextPtr m_dec;
    ff::CodecContextPtr m_enc;
    ff::FramePtr m_picture{av_frame_alloc()};
    ff::FramePtr m_last;  // the last picture drawn, for pictures the decoder gave none for
    ff::PacketPtr m_packet{av_packet_alloc()};
    // Text and key flag of the pictures handed to the decoder and not yet
    // out of it, by their number.
    struct Pending {
        int64_t number;
        std::string text;
        bool key;
    };
    std::deque<Pending> m_pending;
    int m_videoType = 0;
    int m_frameRate = 25;
    int64_t m_in = 0, m_out = 0;
    bool m_keySeen = false;
    bool m_failed = false;
    std::string m_error;
};

}  // namespace rkmedia
