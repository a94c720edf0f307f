// Video packets of ordinary media files copied out through the engine's
// export: exact Annex B bytes, key flags and positions of a three-picture
// H.264 stream stored length-prefixed in MP4 and in Matroska, the result
// codes, and a file cut short.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/include/rkmedia.h"
#include "tests/media/mp4/Mp4TestUtil.h"
#include "tests/support/TempDir.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace velmor {
namespace {

using Bytes = std::vector<uint8_t>;

// A 32x16 baseline stream: its parameter sets and three pictures (key,
// predicted, key).
const Bytes kSps = {0x67, 0x42, 0xC0, 0x0A, 0xD9, 0x0B, 0xB0, 0x11, 0x00, 0x00, 0x03,
                    0x00, 0x01, 0x00, 0x00, 0x03, 0x00, 0x32, 0x0F, 0x12, 0x26, 0x48};
const Bytes kPps = {0x68, 0xCB, 0x83, 0xCB, 0x20};
const Bytes kIdr1 = {0x65, 0x88, 0x84, 0x0B, 0xF2, 0x62, 0x80, 0x00, 0xAB, 0xCC, 0x9E};
const Bytes kP = {0x41, 0x9A, 0x38, 0x17, 0xEE};
const Bytes kIdr2 = {0x65, 0x88, 0x82, 0x02, 0xFC, 0x98, 0xA0, 0x00, 0x2A, 0xF3, 0x27, 0x80};

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes LengthPrefixed(const Bytes& unit)
{
    const auto n = uint32_t(unit.size());
    return Cat({{uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)}, unit});
}

// The configuration record: version 1, profile 0x42, compatibility 0xC0,
// level 10, 4-byte lengths (0xFF), one parameter set of each kind.
Bytes ConfigRecord()
{
    Bytes rec = {0x01, 0x42, 0xC0, 0x0A, 0xFF, 0xE1, 0x00, uint8_t(kSps.size())};
    rec.insert(rec.end(), kSps.begin(), kSps.end());
    rec.insert(rec.end(), {0x01, 0x00, uint8_t(kPps.size())});
    rec.insert(rec.end(), kPps.begin(), kPps.end());
    return rec;
}

// The first key picture relies on the record's parameter sets; the second
// carries its own in the stream.
struct StoredPacket {
    Bytes data;
    bool key;
};
const std::vector<StoredPacket>& Stored()
{
    static const std::vector<StoredPacket> packets = {
        {LengthPrefixed(kIdr1), true},
        {LengthPrefixed(kP), false},
        {Cat({LengthPrefixed(kSps), LengthPrefixed(kPps), LengthPrefixed(kIdr2)}), true},
    };
    return packets;
}

// Writes the packets as a container file stores them, 25 pictures a second.
bool WriteStream(const std::string& path, const char* format)
{
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, format, path.c_str()) < 0) return false;
    AVStream* st = avformat_new_stream(out, nullptr);
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = AV_CODEC_ID_H264;
    st->codecpar->width = 32;
    st->codecpar->height = 16;
    const Bytes rec = ConfigRecord();
    st->codecpar->extradata = static_cast<uint8_t*>(av_mallocz(rec.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(rec.begin(), rec.end(), st->codecpar->extradata);
    st->codecpar->extradata_size = int(rec.size());
    st->time_base = AVRational{1, 25};
    bool ok = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
    for (size_t i = 0; ok && i < Stored().size(); ++i) {
        AVPacket* pkt = av_packet_alloc();
        ok = av_new_packet(pkt, int(Stored()[i].data.size())) == 0;
        if (ok) {
            std::copy(Stored()[i].data.begin(), Stored()[i].data.end(), pkt->data);
            pkt->pts = pkt->dts = av_rescale_q(int64_t(i), AVRational{1, 25}, st->time_base);
            pkt->duration = av_rescale_q(1, AVRational{1, 25}, st->time_base);
            pkt->flags = Stored()[i].key ? AV_PKT_FLAG_KEY : 0;
            ok = av_write_frame(out, pkt) >= 0;
        }
        av_packet_free(&pkt);
    }
    ok = ok && av_write_trailer(out) >= 0;
    if (out->pb) avio_closep(&out->pb);
    avformat_free_context(out);
    return ok;
}

struct CopiedPacket {
    Bytes data;
    int key = -1;
    int64_t ms = -1;
};

// Reads every packet and copies out each video one.
std::vector<CopiedPacket> CopyAll(RKPLAYER_HANDLE* slot, int& endResult)
{
    std::vector<CopiedPacket> out;
    for (;;) {
        int isAudio = -1;
        int64_t pts = 0;
        endResult = VIDEOPLAY_ReadOneFrame(slot, &isAudio, &pts);
        if (endResult < 0) return out;
        CopiedPacket p;
        int length = 0;
        if (VIDEOPLAY_GetCurrentPacket(slot, nullptr, 0, &length, &p.key, &p.ms) != VIDEOPLAY_PACKET_SMALL_BUFFER) {
            ADD_FAILURE() << "no size for packet " << out.size();
            return out;
        }
        p.data.resize(size_t(length));
        EXPECT_EQ(VIDEOPLAY_GetCurrentPacket(slot, p.data.data(), length, &length, &p.key, &p.ms), VIDEOPLAY_PACKET_OK);
        out.push_back(p);
    }
}

class MediaPacketTest : public testing::Test {
protected:
    fixtures::CTempDir m_dir;
};

TEST_F(MediaPacketTest, VideoPacketsComeOutAsAnnexBWithKeyFlagAndPosition)
{
    const Bytes four = {0x00, 0x00, 0x00, 0x01}, three = {0x00, 0x00, 0x01};
    // The record's parameter sets go in front of the first key picture;
    // the second has its own and gets none added.
    const std::vector<CopiedPacket> want = {
        {Cat({four, kSps, four, kPps, three, kIdr1}), 1, 0},
        {Cat({four, kP}), 0, 40},
        {Cat({four, kSps, four, kPps, three, kIdr2}), 1, 80},
    };
    struct Row {
        const char* name;
        const char* format;
    };
    // Matroska stores the units length-prefixed as MP4 does, under a name
    // that says nothing of it; the capitals of the second name change nothing.
    for (const Row& row : {Row{"three.mp4", "mp4"}, Row{"three.mkv", "matroska"}, Row{"THREE.MP4", "mp4"}}) {
        SCOPED_TRACE(row.name);
        const std::string path = (m_dir.Path() / row.name).string();
        ASSERT_TRUE(WriteStream(path, row.format));
        RKPLAYER_HANDLE slot = nullptr;
        RKPLAYER_VIDEO_PARAM param{};
        int64_t duration = 0;
        ASSERT_EQ(VIDEOPLAY_InitMediaFile(&slot, path.c_str(), &param, nullptr, &duration), 0);
        EXPECT_EQ(param.width, 32);
        EXPECT_EQ(param.height, 16);
        EXPECT_EQ(param.videoType, 0);
        int end = 0;
        const auto got = CopyAll(&slot, end);
        EXPECT_EQ(end, VIDEOPLAY_READ_END);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].data, want[i].data) << i;
            EXPECT_EQ(got[i].key, want[i].key) << i;
            EXPECT_EQ(got[i].ms, want[i].ms) << i;
        }
        EXPECT_EQ(VIDEOPLAY_UnitMediaFile(&slot), 0);
        EXPECT_EQ(slot, nullptr);
    }
}

TEST_F(MediaPacketTest, ResultCodesSayWhatIsMissing)
{
    const std::string path = (m_dir.Path() / "three.mp4").string();
    ASSERT_TRUE(WriteStream(path, "mp4"));
    uint8_t buffer[64] = {};
    int length = -7, key = -7;
    int64_t ms = -7;

    RKPLAYER_HANDLE empty = nullptr;
    EXPECT_EQ(VIDEOPLAY_GetCurrentPacket(&empty, buffer, 64, &length, &key, &ms), VIDEOPLAY_PACKET_BAD_ARGUMENT);
    EXPECT_EQ(VIDEOPLAY_GetCurrentPacket(nullptr, buffer, 64, &length, &key, &ms), VIDEOPLAY_PACKET_BAD_ARGUMENT);

    RKPLAYER_HANDLE slot = nullptr;
    RKPLAYER_VIDEO_PARAM param{};
    int64_t duration = 0;
    ASSERT_EQ(VIDEOPLAY_InitMediaFile(&slot, path.c_str(), &param, nullptr, &duration), 0);
    EXPECT_EQ(VIDEOPLAY_GetCurrentPacket(&slot, buffer, 64, &length, &key, &ms), VIDEOPLAY_PACKET_NONE)
        << "nothing read yet";
    EXPECT_EQ(VIDEOPLAY_GetCurrentPacket(&slot, buffer, 64, nullptr, &key, &ms), VIDEOPLAY_PACKET_BAD_ARGUMENT);
    EXPECT_EQ(VIDEOPLAY_GetCurrentPacket(&slot, nullptr, 64, &length, &key, &ms), VIDEOPLAY_PACKET_BAD_ARGUMENT);
    EXPECT_EQ(VIDEOPLAY_GetCurrentPacket(&slot, buffer, -1, &length, &key, &ms), VIDEOPLAY_PACKET_BAD_ARGUMENT);

    int isAudio = -1;
    int64_t pts = -1;
    ASSERT_EQ(VIDEOPLAY_ReadOneFrame(&slot, &isAudio, &pts), 0);
    EXPECT_EQ(isAudio, 0);
    // 4 + 22 + 4 + 5 + 3 + 11 bytes: one short of them copies nothing.
    const int size = 49;
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    EXPECT_EQ(VIDEOPLAY_GetCurrentPacket(&slot, buffer, size - 1, &length, &key, &ms), VIDEOPLAY_PACKET_SMALL_BUFFER);
    EXPECT_EQ(length, size);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(VIDEOPLAY_GetCurrentPacket(&slot, buffer, size, &length, &key, &ms), VIDEOPLAY_PACKET_OK);
    EXPECT_EQ(length, size);
    EXPECT_EQ(buffer[size - 1], 0x9E);
    EXPECT_EQ(buffer[size], 0xEE) << "nothing written past the packet";
    EXPECT_EQ(key, 1);
    EXPECT_EQ(ms, 0);
    // The packet stays current until it is decoded (no window: nothing shown).
    EXPECT_EQ(VIDEOPLAY_GetCurrentPacket(&slot, buffer, size, &length, &key, &ms), VIDEOPLAY_PACKET_OK);
    VIDEOPLAY_DecodeOneFrame(&slot, 0);
    EXPECT_EQ(VIDEOPLAY_GetCurrentPacket(&slot, buffer, size, &length, &key, &ms), VIDEOPLAY_PACKET_NONE);

    while (VIDEOPLAY_ReadOneFrame(&slot, &isAudio, &pts) == 0) {
    }
    EXPECT_EQ(VIDEOPLAY_GetCurrentPacket(&slot, buffer, 64, &length, &key, &ms), VIDEOPLAY_PACKET_NONE)
        << "after the end";
    EXPECT_EQ(VIDEOPLAY_UnitMediaFile(&slot), 0);
}

// Sound packets are passed over: the copy is for video only.
TEST_F(MediaPacketTest, SoundPacketsAreNotCurrent)
{
    const std::string path = (m_dir.Path() / "clip.mp4").string();
    fixtures::mp4::ClipRecipe recipe;
    recipe.video.frames = 10;
    ASSERT_EQ(fixtures::mp4::WriteClip(path, recipe), 0);
    RKPLAYER_HANDLE slot = nullptr;
    RKPLAYER_VIDEO_PARAM param{};
    int64_t duration = 0;
    ASSERT_EQ(VIDEOPLAY_InitMediaFile(&slot, path.c_str(), &param, nullptr, &duration), 0);
    int isAudio = 0, sound = 0, video = 0, length = 0, key = 0;
    int64_t pts = 0, ms = 0;
    std::vector<uint8_t> buffer(1 << 20);
    while (VIDEOPLAY_ReadOneFrame(&slot, &isAudio, &pts) == 0) {
        const int rc = VIDEOPLAY_GetCurrentPacket(&slot, buffer.data(), int(buffer.size()), &length, &key, &ms);
        if (isAudio) {
            ++sound;
            EXPECT_EQ(rc, VIDEOPLAY_PACKET_NONE);
        } else {
            EXPECT_EQ(rc, VIDEOPLAY_PACKET_OK);
            EXPECT_EQ(ms, int64_t(video) * 40);
            EXPECT_EQ(key, video == 0 ? 1 : 0);
            ++video;
        }
    }
    EXPECT_EQ(video, 10);
    EXPECT_GT(sound, 0);
    EXPECT_EQ(VIDEOPLAY_UnitMediaFile(&slot), 0);
}

// The writer puts the sample index last: a file cut short has none (or a
// broken one) and is refused at the open, with nothing read from it.
TEST_F(MediaPacketTest, ATruncatedFileIsRefused)
{
    const auto path = m_dir.Path() / "cut.mp4";
    fixtures::mp4::ClipRecipe recipe;
    recipe.video.frames = 25;
    ASSERT_EQ(fixtures::mp4::WriteClip(path.string(), recipe), 0);
    const auto size = std::filesystem::file_size(path);
    // Top-level boxes: a 32-bit big-endian size, then the type.
    uintmax_t moov = 0;
    {
        std::ifstream in(path, std::ios::binary);
        uint8_t head[8];
        for (uintmax_t at = 0; at + 8 <= size && in.seekg(std::streamoff(at)).read(reinterpret_cast<char*>(head), 8);) {
            if (std::string(reinterpret_cast<char*>(head + 4), 4) == "moov") {
                moov = at;
                break;
            }
            at += (uintmax_t(head[0]) << 24) | (uintmax_t(head[1]) << 16) | (uintmax_t(head[2]) << 8) | head[3];
        }
    }
    ASSERT_GT(moov, size / 2) << "the index is written last";
    struct Row {
        uintmax_t keep;
        int result;
    };
    // Cut inside the index, its tracks are gone: no video stream (-1);
    // without any index, or without a file's worth of header, it is not a
    // readable file (1).
    for (const Row& row : {Row{moov + 200, -1}, Row{moov + 16, -1}, Row{moov, 1}, Row{size * 6 / 10, 1}, Row{8, 1}}) {
        SCOPED_TRACE(row.keep);
        std::filesystem::resize_file(path, row.keep);
        RKPLAYER_HANDLE slot = nullptr;
        RKPLAYER_VIDEO_PARAM param{};
        int64_t duration = 0;
        EXPECT_EQ(VIDEOPLAY_InitMediaFile(&slot, path.c_str(), &param, nullptr, &duration), row.result);
        int isAudio = 0;
        int64_t pts = 0;
        EXPECT_LT(VIDEOPLAY_ReadOneFrame(&slot, &isAudio, &pts), 0);
        int length = 0, key = 0;
        int64_t ms = 0;
        uint8_t buffer[16];
        EXPECT_EQ(VIDEOPLAY_GetCurrentPacket(&slot, buffer, 16, &length, &key, &ms), VIDEOPLAY_PACKET_NONE);
        EXPECT_EQ(VIDEOPLAY_UnitMediaFile(&slot), 0);
    }
}

}  // namespace
}  // namespace velmor
