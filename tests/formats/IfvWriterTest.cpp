// The writer byte for byte: the objects with their creation values and after
// each parameter call, segment headers, index entry layout, where frame data
// goes, segment closing, and the finishing close.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "tests/formats/IfvTestUtil.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

const uint8_t kFpGuid[16] = {0x11, 0xd2, 0xd3, 0xab, 0xba, 0xa9, 0xcf, 0x11, 0x8e, 0xe6, 0x00, 0xc0, 0x0c, 0x20, 0x53, 0x65};
const uint8_t kVideoGuid[16] = {0x41, 0x52, 0xd1, 0x86, 0x1d, 0x31, 0xd0, 0x11, 0xa3, 0xa4, 0x00, 0xa0, 0xc9, 0x03, 0x48, 0xf6};
const uint8_t kAudioGuid[16] = {0xe3, 0xcb, 0x1a, 0x4b, 0x0b, 0x10, 0xd0, 0x11, 0xa3, 0x9b, 0x00, 0xa0, 0xc9, 0x03, 0x48, 0xf6};
const uint8_t kMdatGuid[16] = {0x20, 0xdb, 0xfe, 0x4c, 0xf6, 0x75, 0xcf, 0x11, 0x9c, 0x0f, 0x00, 0xa0, 0xc9, 0x03, 0x49, 0xcb};
const uint8_t kSegGuid[16] = {0x74, 0xd4, 0x06, 0x18, 0xdf, 0xca, 0x09, 0x45, 0xa4, 0xba, 0x9a, 0xab, 0xcb, 0x96, 0xaa, 0xe8};

void PutGuid(std::vector<uint8_t>& b, size_t at, const uint8_t (&g)[16])
{
    for (int i = 0; i < 16; ++i) b[at + i] = g[i];
}

uint32_t FloatBits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

// The 248 bytes a fresh writer leaves, from the object tables.
std::vector<uint8_t> CreatedImage(uint32_t now)
{
    std::vector<uint8_t> b(248, 0);
    PutGuid(b, 0, kFpGuid);
    Put32(b, 16, 68);
    PutText(b, 20, "This is DVR record file ver 2");
    b[51] = 0;
    Put32(b, 52, now);
    Put32(b, 56, now);
    Put32(b, 60, 200);
    Put16(b, 64, 0);
    Put16(b, 66, 0);

    PutGuid(b, 68, kVideoGuid);
    Put32(b, 68 + 16, 56);
    Put32(b, 68 + 20, 1000);
    Put16(b, 68 + 24, 352);
    Put16(b, 68 + 26, 288);
    Put32(b, 68 + 28, FloatBits(25.0f));
    Put32(b, 68 + 32, 0x80000);
    PutText(b, 68 + 36, "XVID");
    Put32(b, 68 + 40, 72);
    Put32(b, 68 + 44, 72);
    Put32(b, 68 + 48, 24);
    Put32(b, 68 + 52, 0);

    PutGuid(b, 124, kAudioGuid);
    Put32(b, 124 + 16, 48);
    Put32(b, 124 + 20, 1000);
    Put16(b, 124 + 24, 1);
    Put16(b, 124 + 26, 8);
    Put32(b, 124 + 28, 8000);
    Put32(b, 124 + 32, 0);
    Put32(b, 124 + 36, 240);
    Put32(b, 124 + 40, 30);
    Put32(b, 124 + 44, 0);

    PutGuid(b, 172, kMdatGuid);
    Put32(b, 172 + 16, 28);
    Put32(b, 172 + 20, 0);
    Put32(b, 172 + 24, 0);

    PutGuid(b, 200, kSegGuid);
    Put32(b, 200 + 16, 48);
    Put32(b, 200 + 20, now);
    Put32(b, 200 + 24, now);
    return b;
}

class IfvWriter : public ::testing::Test {
protected:
    CTempDir m_dir{"velmor-ifv"};
    std::filesystem::path m_path = m_dir / "out.ifv";
};

TEST_F(IfvWriter, CreatesTheObjectsWithTheirCreationValues)
{
    const uint32_t before = uint32_t(std::time(nullptr));
    Handle w = OpenWrite(m_path);
    ASSERT_TRUE(w);
    const uint32_t after = uint32_t(std::time(nullptr));
    // Nothing is buffered: the bytes are in the file while it is open.
    auto bytes = ReadBytes(m_path);
    ASSERT_EQ(bytes.size(), 248u);
    const uint32_t now = Get32(bytes, 52);
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
    EXPECT_EQ(bytes, CreatedImage(now));
}

TEST_F(IfvWriter, ParameterCallsRewriteTheObjectsInPlace)
{
    Handle w = OpenWrite(m_path);
    ASSERT_TRUE(w);
    auto expected = ReadBytes(m_path);

    ASSERT_EQ(RK_FileSetVideoParam(w.get(), 1280, 720, 29.97f, 1), 0);
    Put16(expected, 68 + 24, 1280);
    Put16(expected, 68 + 26, 720);
    Put32(expected, 68 + 28, FloatBits(29.97f));
    PutText(expected, 68 + 36, "H265");
    EXPECT_EQ(ReadBytes(m_path), expected);

    // Any flag but 1 is H.264.
    ASSERT_EQ(RK_FileSetVideoParam(w.get(), 704, 576, 25.0f, 2), 0);
    Put16(expected, 68 + 24, 704);
    Put16(expected, 68 + 26, 576);
    Put32(expected, 68 + 28, FloatBits(25.0f));
    PutText(expected, 68 + 36, "H264");
    EXPECT_EQ(ReadBytes(m_path), expected);

    ASSERT_EQ(RK_FileSetAudioParam(w.get(), 2, 16, 16000, 11, 320, 40), 0);
    Put16(expected, 124 + 24, 2);
    Put16(expected, 124 + 26, 16);
    Put32(expected, 124 + 28, 16000);
    PutText(expected, 124 + 32, "711A");
    Put32(expected, 124 + 36, 320);
    Put32(expected, 124 + 40, 40);
    EXPECT_EQ(ReadBytes(m_path), expected);

    ASSERT_EQ(RK_FileEnableAttach(w.get()), 0);
    expected[51] = 1;
    EXPECT_EQ(ReadBytes(m_path), expected);

    ASSERT_EQ(RK_FileSetStartTime(w.get(), kBegin), 0);
    Put32(expected, 52, kBegin);
    Put32(expected, 56, kBegin);
    EXPECT_EQ(ReadBytes(m_path), expected);
}

TEST_F(IfvWriter, AudioCodecCodeFollowsTheEncodingIndex)
{
    const char* codes[] = {"GRAW", "ADPA", "ADPB", "G726", "726B", "726C", "726D",
                           "726H", "726I", "726J", "726K", "711A", "711U"};
    for (int index = -1; index <= 14; ++index) {
        SCOPED_TRACE(index);
        Handle w = OpenWrite(m_path);
        ASSERT_TRUE(w);
        ASSERT_EQ(RK_FileSetAudioParam(w.get(), 1, 8, 8000, index, 240, 30), 0);
        const auto bytes = ReadBytes(m_path);
        const std::string code(bytes.begin() + 124 + 32, bytes.begin() + 124 + 36);
        EXPECT_EQ(code, index >= 0 && index < 13 ? codes[index] : "GRAW");
    }
}

// One record of each kind, then the close: header, entries, data, objects.
TEST_F(IfvWriter, SegmentHeaderIndexEntriesAndDataPlacement)
{
    Handle w = OpenWrite(m_path);
    ASSERT_TRUE(w);
    ASSERT_EQ(RK_FileSetVideoParam(w.get(), 640, 360, 25.0f, 0), 0);
    ASSERT_EQ(RK_FileSetAudioParam(w.get(), 1, 16, 8000, 12, 320, 40), 0);
    ASSERT_EQ(RK_FileEnableAttach(w.get()), 0);
    ASSERT_EQ(RK_FileSetStartTime(w.get(), kBegin), 0);

    const auto v1 = MakePayload(1, 10), a1 = MakePayload(2, 7), x1 = MakePayload(3, 75), v2 = MakePayload(4, 13);
    int closed = -1;
    ASSERT_EQ(RK_FileWriteVideoFrame(w.get(), v1.data(), 10, 1000, 5, 0x1122334455667788ull, &closed), 10);
    EXPECT_EQ(closed, 0);
    ASSERT_EQ(RK_FileWriteAudioFrame(w.get(), a1.data(), 7, 1010, &closed), 7);
    ASSERT_EQ(RK_FileWriteAttachFrame(w.get(), x1.data(), 75, 1020, &closed), 75);
    ASSERT_EQ(RK_FileWriteVideoFrame(w.get(), v2.data(), 13, 2470, 1, 42, &closed), 13);
    ASSERT_EQ(RK_CloseFile2(w.release()), 0);

    const auto b = ReadBytes(m_path);
    const size_t seg = 200;
    const size_t videoIdx = seg + kSegHeader, audioIdx = videoIdx + kVideoArea, attachIdx = audioIdx + kAudioArea;
    const size_t data = attachIdx + kAttachArea;  // after all three index areas
    ASSERT_EQ(b.size(), data + 10 + 7 + 75 + 13);

    // Segment header.
    EXPECT_TRUE(std::equal(kSegGuid, kSegGuid + 16, b.begin() + seg));
    EXPECT_EQ(Get32(b, seg + 16), b.size() - seg);
    EXPECT_EQ(Get32(b, seg + 20), 1000u);
    EXPECT_EQ(Get32(b, seg + 24), 2470u);
    EXPECT_EQ(Get32(b, seg + 28), 2u);
    EXPECT_EQ(Get32(b, seg + 32), 1u);
    EXPECT_EQ(Get32(b, seg + 36), 3000u);
    EXPECT_EQ(Get32(b, seg + 40), 4000u);
    EXPECT_EQ(Get32(b, seg + 44), 1u);

    // Video entries: offset, length, pts, timestamp, type, seven zeros.
    std::vector<uint8_t> e(28, 0);
    Put32(e, 0, uint32_t(data));
    Put32(e, 4, 10);
    Put64(e, 8, 0x1122334455667788ull);
    Put32(e, 16, 1000);
    e[20] = 5;
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + videoIdx, b.begin() + videoIdx + 28), e);
    std::fill(e.begin(), e.end(), 0);
    Put32(e, 0, uint32_t(data + 10 + 7 + 75));
    Put32(e, 4, 13);
    Put64(e, 8, 42);
    Put32(e, 16, 2470);
    e[20] = 1;
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + videoIdx + 28, b.begin() + videoIdx + 56), e);
    // The rest of the area stays zero.
    EXPECT_TRUE(std::all_of(b.begin() + videoIdx + 56, b.begin() + audioIdx, [](uint8_t c) { return c == 0; }));

    // Audio entry: offset, length, 8 zeros, timestamp, 4 zeros.
    std::vector<uint8_t> ae(24, 0);
    Put32(ae, 0, uint32_t(data + 10));
    Put32(ae, 4, 7);
    Put32(ae, 16, 1010);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + audioIdx, b.begin() + audioIdx + 24), ae);

    // Attach entry: length, timestamp, the payload padded to 120 bytes.
    std::vector<uint8_t> xe(128, 0);
    Put32(xe, 0, 75);
    Put32(xe, 4, 1020);
    std::copy(x1.begin(), x1.end(), xe.begin() + 8);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + attachIdx, b.begin() + attachIdx + 128), xe);

    // Frame data in write order, the attach payload included.
    std::vector<uint8_t> payloads;
    for (const auto* p : {&v1, &a1, &x1, &v2}) payloads.insert(payloads.end(), p->begin(), p->end());
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + data, b.end()), payloads);

    // Media data count, and the file properties the close writes.
    EXPECT_EQ(Get32(b, 172 + 20), 1u);
    EXPECT_EQ(Get32(b, 52), kBegin);
    EXPECT_EQ(Get32(b, 56), kBegin + 2);  // begin + 2470 / 1000
    EXPECT_EQ(Get32(b, 60), b.size());
    EXPECT_EQ(b[51], 1);
}

TEST_F(IfvWriter, AudioFrameWritesTheCallersLengthAndOpensTheSegmentAfterTheAttachArea)
{
    Handle w = OpenWrite(m_path);
    ASSERT_TRUE(w);
    ASSERT_EQ(RK_FileSetVideoParam(w.get(), 640, 360, 25.0f, 0), 0);
    ASSERT_EQ(RK_FileSetAudioParam(w.get(), 1, 16, 8000, 11, 320, 40), 0);
    ASSERT_EQ(RK_FileEnableAttach(w.get()), 0);
    // 7 bytes against 320 bytes per frame: only the 7 given are written.
    const auto a = MakePayload(9, 7), v = MakePayload(10, 5);
    ASSERT_EQ(RK_FileWriteAudioFrame(w.get(), a.data(), 7, 0, nullptr), 7);
    ASSERT_EQ(RK_FileWriteVideoFrame(w.get(), v.data(), 5, 0, 5, 0, nullptr), 5);
    ASSERT_EQ(RK_CloseFile2(w.release()), 0);

    const auto b = ReadBytes(m_path);
    const size_t data = 200 + kSegHeader + kVideoArea + kAudioArea + kAttachArea;
    ASSERT_EQ(b.size(), data + 7 + 5);
    EXPECT_EQ(Get32(b, 200 + kSegHeader + kVideoArea), data);            // audio entry offset
    EXPECT_EQ(Get32(b, 200 + kSegHeader + kVideoArea + 4), 7u);          // and length
    EXPECT_EQ(Get32(b, 200 + kSegHeader), data + 7);                     // the video frame follows directly
    EXPECT_EQ(Get32(b, 200 + 20), 0u);                                   // first timestamp from the audio frame
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + data, b.begin() + data + 7), a);
}

TEST_F(IfvWriter, RefusesWhatItCannotStore)
{
    Handle w = OpenWrite(m_path);
    ASSERT_TRUE(w);
    const auto p = MakePayload(1, 200);
    int closed = 7;
    // No area for any kind yet.
    EXPECT_EQ(RK_FileWriteVideoFrame(w.get(), p.data(), 10, 0, 5, 0, &closed), -1);
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(RK_FileWriteAudioFrame(w.get(), p.data(), 10, 0, &closed), -1);
    EXPECT_EQ(RK_FileWriteAttachFrame(w.get(), p.data(), 10, 0, &closed), -1);

    ASSERT_EQ(RK_FileSetVideoParam(w.get(), 640, 360, 25.0f, 0), 0);
    ASSERT_EQ(RK_FileEnableAttach(w.get()), 0);
    // An attach payload over 120 bytes is refused whole, never cut.
    EXPECT_EQ(RK_FileWriteAttachFrame(w.get(), p.data(), 121, 0, &closed), -1);
    EXPECT_EQ(RK_FileWriteAttachFrame(w.get(), p.data(), 120, 0, &closed), 120);
    // Empty records and missing data.
    EXPECT_EQ(RK_FileWriteVideoFrame(w.get(), p.data(), 0, 0, 5, 0, &closed), -1);
    EXPECT_EQ(RK_FileWriteVideoFrame(w.get(), nullptr, 10, 0, 5, 0, &closed), -1);
    EXPECT_EQ(RK_FileWriteAttachFrame(w.get(), p.data(), 0, 0, &closed), -1);
    // A frame larger than any reader's buffer.
    std::vector<uint8_t> huge(RK_FILE_FRAME_BUFFER_SIZE + 1, 0x55);
    EXPECT_EQ(RK_FileWriteVideoFrame(w.get(), huge.data(), uint32_t(huge.size()), 0, 5, 0, &closed), -1);
    EXPECT_EQ(RK_FileWriteVideoFrame(w.get(), huge.data(), RK_FILE_FRAME_BUFFER_SIZE, 0, 5, 0, &closed),
              int(RK_FILE_FRAME_BUFFER_SIZE));
    // Still no audio area.
    EXPECT_EQ(RK_FileWriteAudioFrame(w.get(), p.data(), 10, 0, &closed), -1);
    ASSERT_EQ(RK_CloseFile2(w.release()), 0);

    const auto b = ReadBytes(m_path);
    EXPECT_EQ(Get32(b, 200 + 28), 1u);   // one video frame
    EXPECT_EQ(Get32(b, 200 + 44), 1u);   // one attach record
    EXPECT_EQ(Get32(b, 200 + 40), 0u);   // no audio capacity
    const size_t data = 200 + kSegHeader + kVideoArea + kAttachArea;
    EXPECT_EQ(b.size(), data + 120 + RK_FILE_FRAME_BUFFER_SIZE);
}

TEST_F(IfvWriter, EnableAttachAfterTheFirstFrameLeavesTheSegmentWithoutAttachArea)
{
    Handle w = OpenWrite(m_path);
    ASSERT_TRUE(w);
    ASSERT_EQ(RK_FileSetVideoParam(w.get(), 640, 360, 25.0f, 0), 0);
    const auto p = MakePayload(1, 4);
    ASSERT_EQ(RK_FileWriteVideoFrame(w.get(), p.data(), 4, 0, 5, 0, nullptr), 4);
    const std::string out = Logged([&] { EXPECT_EQ(RK_FileEnableAttach(w.get()), 0); });
    EXPECT_EQ(out, "file->p_mdat_sect_t->video_frames = 1, file->p_mdat_sect_t->audio_frames = 0\n");
    EXPECT_EQ(RK_FileWriteAttachFrame(w.get(), p.data(), 4, 10, nullptr), -1);
    EXPECT_EQ(ReadBytes(m_path)[51], 1);

    // The next segment has the attach area.
    int closed = 0;
    for (uint32_t i = 1; i < 3000; ++i)
        ASSERT_EQ(RK_FileWriteVideoFrame(w.get(), p.data(), 4, i * 40, 1, 0, &closed), 4);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(RK_FileWriteAttachFrame(w.get(), p.data(), 4, 120000, nullptr), 4);
    ASSERT_EQ(RK_CloseFile2(w.release()), 0);
    const auto b = ReadBytes(m_path);
    const size_t seg2 = SegmentStart(b, 1);
    EXPECT_EQ(seg2, 200 + kSegHeader + kVideoArea + 3000 * 4);
    EXPECT_EQ(Get32(b, seg2 + 44), 1u);
    // A segment holding only an attach record is kept at the close.
    EXPECT_EQ(Get32(b, 172 + 20), 2u);
    EXPECT_EQ(Get32(b, seg2 + 20), 120000u);
    EXPECT_EQ(b.size(), seg2 + kSegHeader + kVideoArea + kAttachArea + 4);
}

TEST_F(IfvWriter, SegmentClosesAt3000VideoFramesAndTheNextFollowsDirectly)
{
    Handle w = OpenWrite(m_path);
    ASSERT_TRUE(w);
    ASSERT_EQ(RK_FileSetVideoParam(w.get(), 640, 360, 25.0f, 0), 0);
    ASSERT_EQ(RK_FileSetStartTime(w.get(), kBegin), 0);
    const auto p = MakePayload(5, 3);
    int closed = 0;
    for (uint32_t i = 0; i < 3000; ++i) {
        ASSERT_EQ(RK_FileWriteVideoFrame(w.get(), p.data(), 3, i * 40, i % 75 ? 1 : 5, i, &closed), 3);
        ASSERT_EQ(closed, i == 2999 ? 1 : 0) << i;
    }
    // Closed on the spot: header and count are on disk before the close.
    auto b = ReadBytes(m_path);
    const size_t end1 = 200 + kSegHeader + kVideoArea + 3000 * 3;
    EXPECT_EQ(Get32(b, 172 + 20), 1u);
    EXPECT_EQ(Get32(b, 200 + 16), end1 - 200);
    EXPECT_EQ(Get32(b, 200 + 20), 0u);
    EXPECT_EQ(Get32(b, 200 + 24), 2999u * 40);
    EXPECT_EQ(Get32(b, 200 + 28), 3000u);

    ASSERT_EQ(RK_FileWriteVideoFrame(w.get(), p.data(), 3, 3000 * 40, 5, 3000, &closed), 3);
    EXPECT_EQ(closed, 0);
    ASSERT_EQ(RK_CloseFile2(w.release()), 0);
    b = ReadBytes(m_path);
    ASSERT_EQ(SegmentStart(b, 1), end1);
    // The new segment's first frame lies right after its own index area.
    EXPECT_EQ(Get32(b, end1 + kSegHeader), end1 + kSegHeader + kVideoArea);
    EXPECT_EQ(Get32(b, end1 + 16), kSegHeader + kVideoArea + 3);
    EXPECT_EQ(Get32(b, end1 + 20), 120000u);
    EXPECT_EQ(Get32(b, end1 + 28), 1u);
    EXPECT_EQ(Get32(b, end1 + 36), 3000u);
    EXPECT_EQ(Get32(b, end1 + 40), 0u);
    EXPECT_EQ(Get32(b, 172 + 20), 2u);
    EXPECT_EQ(Get32(b, 56), kBegin + 120);
    EXPECT_EQ(Get32(b, 60), b.size());
}

TEST_F(IfvWriter, SegmentClosesAt4000AudioFramesAnd150AttachRecords)
{
    Handle w = OpenWrite(m_path);
    ASSERT_TRUE(w);
    ASSERT_EQ(RK_FileSetAudioParam(w.get(), 1, 16, 8000, 11, 320, 40), 0);
    ASSERT_EQ(RK_FileEnableAttach(w.get()), 0);
    const auto p = MakePayload(6, 2);
    int closed = 0, closes = 0;
    for (uint32_t i = 0; i < 4000; ++i) {
        ASSERT_EQ(RK_FileWriteAudioFrame(w.get(), p.data(), 2, i * 40, &closed), 2);
        closes += closed;
        if (i < 149) {
            ASSERT_EQ(RK_FileWriteAttachFrame(w.get(), p.data(), 2, i * 40, &closed), 2);
            closes += closed;
        }
    }
    EXPECT_EQ(closes, 1);  // audio closed the first segment
    auto b = ReadBytes(m_path);
    EXPECT_EQ(Get32(b, 200 + 32), 4000u);
    EXPECT_EQ(Get32(b, 200 + 44), 149u);
    EXPECT_EQ(Get32(b, 200 + 36), 0u);
    EXPECT_EQ(Get32(b, 200 + 40), 4000u);
    for (uint32_t i = 0; i < 150; ++i) {
        ASSERT_EQ(RK_FileWriteAttachFrame(w.get(), p.data(), 2, 200000 + i, &closed), 2);
        ASSERT_EQ(closed, i == 149 ? 1 : 0);
    }
    ASSERT_EQ(RK_CloseFile2(w.release()), 0);
    b = ReadBytes(m_path);
    EXPECT_EQ(Get32(b, 172 + 20), 2u);
    const size_t seg2 = SegmentStart(b, 1);
    EXPECT_EQ(Get32(b, seg2 + 44), 150u);
    EXPECT_EQ(Get32(b, seg2 + 32), 0u);
    EXPECT_EQ(b.size(), seg2 + kSegHeader + kAudioArea + kAttachArea + 300);
}

TEST_F(IfvWriter, CloseWithoutFramesKeepsAnEmptyFile)
{
    Handle w = OpenWrite(m_path);
    ASSERT_TRUE(w);
    ASSERT_EQ(RK_FileSetVideoParam(w.get(), 640, 360, 25.0f, 0), 0);
    ASSERT_EQ(RK_FileSetStartTime(w.get(), kBegin), 0);
    ASSERT_EQ(RK_CloseFile2(w.release()), 0);
    const auto b = ReadBytes(m_path);
    ASSERT_EQ(b.size(), 248u);
    EXPECT_EQ(Get32(b, 172 + 20), 0u);
    EXPECT_EQ(Get32(b, 56), kBegin);
    EXPECT_EQ(Get32(b, 60), 248u);
    Handle r = OpenRead(m_path);
    ASSERT_TRUE(r);
    EXPECT_EQ(ReadAll(r.get()).last, 0);
}

TEST_F(IfvWriter, WriterCallsOnAReadingHandleChangeNothing)
{
    WriteFile(m_path, Plan{});
    const auto before = ReadBytes(m_path);
    Handle r = OpenRead(m_path);
    ASSERT_TRUE(r);
    const auto p = MakePayload(1, 10);
    int closed = 5;
    EXPECT_EQ(RK_FileSetVideoParam(r.get(), 1, 1, 1.0f, 1), -1);
    EXPECT_EQ(RK_FileSetAudioParam(r.get(), 1, 1, 1, 1, 1, 1), -1);
    EXPECT_EQ(RK_FileEnableAttach(r.get()), -1);
    EXPECT_EQ(RK_FileSetStartTime(r.get(), 1), -1);
    EXPECT_EQ(RK_FileWriteVideoFrame(r.get(), p.data(), 10, 0, 5, 0, &closed), -1);
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(RK_FileWriteAudioFrame(r.get(), p.data(), 10, 0, &closed), -1);
    EXPECT_EQ(RK_FileWriteAttachFrame(r.get(), p.data(), 10, 0, &closed), -1);
    r.reset();
    EXPECT_EQ(ReadBytes(m_path), before);
}

TEST_F(IfvWriter, UncreatableFileFailsTheOpen)
{
    const std::string out = Logged([&] {
        EXPECT_EQ(RK_OpenFile2((m_dir.Path() / "no" / "such" / "dir.ifv").c_str(), 0, RK_FILE_MODE_WRITE), nullptr);
    });
    EXPECT_EQ(out, "open file failed\n");
}

}  // namespace
}  // namespace velmor::fixtures
