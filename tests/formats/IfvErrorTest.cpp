// Damaged and hostile files and wrong arguments: each gets its message
// through the log callback and a refusal, never a crash, an overrun or a hang.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "tests/formats/IfvTestUtil.h"
#include "tests/support/ReadOnlyView.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

class IfvError : public ::testing::Test {
protected:
    void SetUp() override
    {
        Plan p;
        p.videoFrames = 50;
        p.audioStepMs = 100;
        p.attachStepMs = 1000;
        m_written = WriteFile(m_path, p);
        m_original = ReadBytes(m_path);
    }

    // Opens the damaged file and returns what the open printed.
    std::string OpenDamaged(const std::function<void(std::vector<uint8_t>&)>& damage, Handle* out = nullptr)
    {
        auto b = m_original;
        damage(b);
        WriteBytes(m_path, b);
        Handle h;
        const std::string printed = Logged([&] { h = OpenRead(m_path); });
        if (out) *out = std::move(h);
        else EXPECT_FALSE(h);
        return printed;
    }

    // Reads until the first result <= 0; returns it and what was printed.
    std::pair<int, std::string> ReadToEnd(FILEHANDLE* h)
    {
        int last = 0;
        const std::string printed = Logged([&] { last = ReadAll(h).last; });
        return {last, printed};
    }

    CTempDir m_dir{"velmor-ifv"};
    std::filesystem::path m_path = m_dir / "bad.ifv";
    Written m_written;
    std::vector<uint8_t> m_original;
    static constexpr size_t kVideoIdx = 200 + 48;
    static constexpr size_t kAudioIdx = kVideoIdx + 28 * 3000;
    static constexpr size_t kAttachIdx = kAudioIdx + 24 * 4000;
};

TEST_F(IfvError, MissingFileAndBadArguments)
{
    EXPECT_EQ(Logged([&] { EXPECT_FALSE(OpenRead(m_dir / "none.ifv")); }), "open file failed\n");
    EXPECT_EQ(Logged([&] { EXPECT_EQ(RK_OpenFile2(nullptr, 0, RK_FILE_MODE_READ), nullptr); }), "open file failed\n");
    EXPECT_EQ(Logged([&] { EXPECT_FALSE(OpenRead(m_path, -1)); }), "open file failed\n");
    EXPECT_EQ(Logged([&] { EXPECT_FALSE(OpenRead(m_dir.Path())); }), "open file failed\n");
    // An unknown mode neither reads nor creates anything.
    EXPECT_EQ(Logged([&] { EXPECT_EQ(RK_OpenFile2((m_dir / "x.ifv").c_str(), 0, 2), nullptr); }),
              "open file failed\n");
    EXPECT_FALSE(std::filesystem::exists(m_dir / "x.ifv"));
    EXPECT_EQ(RK_CloseFile2(nullptr), -1);
}

TEST_F(IfvError, FilePropertiesObjectChecks)
{
    EXPECT_EQ(OpenDamaged([](auto& b) { b.resize(67); }), "ReadFilePropertiesObject failed 1\n");
    EXPECT_EQ(OpenDamaged([](auto& b) { b[15] ^= 1; }), "ReadFilePropertiesObject failed 2\n");
    EXPECT_EQ(OpenDamaged([](auto& b) { Put32(b, 16, 67); }), "ReadFilePropertiesObject failed 3\n");
    // A base offset beyond the end of the file is a short read.
    EXPECT_EQ(Logged([&] { EXPECT_FALSE(OpenRead(m_path, 1 << 30)); }), "ReadFilePropertiesObject failed 1\n");
}

TEST_F(IfvError, StreamAndMediaDataObjectChecks)
{
    const std::string video = "ReadVideoStreamPropertiesObject failed\n";
    const std::string audio = "ReadAudioStreamPropertiesObject failed\n";
    EXPECT_EQ(OpenDamaged([](auto& b) { b.resize(68 + 55); }), video);
    EXPECT_EQ(OpenDamaged([](auto& b) { b[68] ^= 1; }), video);
    EXPECT_EQ(OpenDamaged([](auto& b) { Put32(b, 68 + 16, 57); }), video);
    EXPECT_EQ(OpenDamaged([](auto& b) { b.resize(124 + 47); }), audio);
    EXPECT_EQ(OpenDamaged([](auto& b) { b[124 + 7] ^= 1; }), audio);
    EXPECT_EQ(OpenDamaged([](auto& b) { Put32(b, 124 + 16, 0); }), audio);
    // The media data object shares the audio object's message.
    EXPECT_EQ(OpenDamaged([](auto& b) { b.resize(172 + 27); }), audio);
    EXPECT_EQ(OpenDamaged([](auto& b) { b[172 + 15] ^= 1; }), audio);
}

TEST_F(IfvError, FirstSegmentFailuresFailTheOpen)
{
    const std::string at = "ReadmdatSegmentObject1 (offset:200) ";
    EXPECT_EQ(OpenDamaged([](auto& b) { b.resize(240); }), at + "failed 1\n");
    EXPECT_EQ(OpenDamaged([](auto& b) { b[200] ^= 1; }), at + "failed 2\n");
    EXPECT_EQ(OpenDamaged([](auto& b) { Put32(b, 200 + 16, 0); }), at + "failed 3\n");
    EXPECT_EQ(OpenDamaged([](auto& b) { Put32(b, 200 + 16, 0xFFFFFFF0u); }), at + "failed 4\n");
    EXPECT_EQ(OpenDamaged([](auto& b) { Put32(b, 200 + 32, 4001); }), at + "failed 5\n");
    // Attach records in a file without the attach flag have no area.
    EXPECT_EQ(OpenDamaged([](auto& b) { b[51] = 0; }), at + "failed 5\n");
}

TEST_F(IfvError, IndexTablesBeyondTheFileFailTheOpenWithoutAllocating)
{
    EXPECT_EQ(OpenDamaged([](auto& b) { b.resize(kVideoIdx + 28 * 49 + 10); }), "read video index table failed:read\n");
    EXPECT_EQ(OpenDamaged([](auto& b) { b.resize(kAudioIdx + 10); }), "read audio index table failed:read\n");
    EXPECT_EQ(OpenDamaged([](auto& b) { b.resize(kAttachIdx + 128 + 5); }), "read attach index table failed:read\n");
    // Counts and capacities of billions in a small file: refused at once.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(OpenDamaged([](auto& b) {
                  Put32(b, 200 + 28, 0x7FFFFFFF);
                  Put32(b, 200 + 36, 0xFFFFFFFF);
              }),
              "read video index table failed:read\n");
    EXPECT_EQ(OpenDamaged([](auto& b) {
                  Put32(b, 200 + 32, 0xFFFFFFF0u);
                  Put32(b, 200 + 40, 0xFFFFFFF0u);
              }),
              "read audio index table failed:read\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(IfvError, TruncatedDataEndsTheReadWithAnError)
{
    // Cut in the middle of the last record's payload.
    const size_t cut = m_original.size() - 1;
    Handle h;
    EXPECT_EQ(OpenDamaged([&](auto& b) { b.resize(cut); }, &h), "");
    ASSERT_TRUE(h);
    ReadBack got;
    const std::string printed = Logged([&] { got = ReadAll(h.get()); });
    EXPECT_EQ(got.last, -1);  // not a clean end
    // Everything before the damaged record came through intact.
    const Rec& lastWritten = m_written.records.back();
    ASSERT_EQ(got.records.size(), m_written.records.size() - (lastWritten.kind == 2 ? 0 : 1));
    EXPECT_TRUE(std::equal(got.records.begin(), got.records.end(), m_written.records.begin()));
    EXPECT_NE(printed.find("custommp4_read_data:short read"), std::string::npos) << printed;
}

TEST_F(IfvError, VideoOffsetAbove256MiBIsRefused)
{
    Handle h;
    OpenDamaged([](auto& b) { Put32(b, kVideoIdx + 28 * 2, 0x10000001u); }, &h);
    ASSERT_TRUE(h);
    const uint32_t len = Get32(m_original, kVideoIdx + 28 * 2 + 4);
    auto [last, printed] = ReadToEnd(h.get());
    EXPECT_EQ(last, -1);
    EXPECT_EQ(printed, "warning:offset error 1,frame offset:268435457,frame length:" + std::to_string(len) +
                           ",buffer length:2457600\n");
    // The video-only read refuses it the same way.
    std::vector<uint8_t> buf(RK_FILE_FRAME_BUFFER_SIZE);
    const std::string vo = Logged([&] {
        for (int i = 0; i < 2; ++i) EXPECT_GT(RK_FileReadOneVideoFrame(h.get(), buf.data(), nullptr, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(RK_FileReadOneVideoFrame(h.get(), buf.data(), nullptr, nullptr, nullptr, nullptr), -1);
    });
    EXPECT_EQ(vo, printed);
}

TEST_F(IfvError, OffsetOf256MiBExactlyPassesTheIndexCheckButNotTheRead)
{
    Handle h;
    OpenDamaged([](auto& b) { Put32(b, kVideoIdx, 0x10000000u); }, &h);
    ASSERT_TRUE(h);
    auto [last, printed] = ReadToEnd(h.get());
    EXPECT_EQ(last, -1);
    EXPECT_EQ(printed, "custommp4_read_data:file_pos=268435456\n");
}

TEST_F(IfvError, AudioOffsetAndSizeAreChecked)
{
    Handle h;
    OpenDamaged([](auto& b) { Put32(b, kAudioIdx, 0x20000000u); }, &h);
    ASSERT_TRUE(h);
    const uint32_t len = Get32(m_original, kAudioIdx + 4);
    auto [last, printed] = ReadToEnd(h.get());
    EXPECT_EQ(last, -1);
    EXPECT_EQ(printed, "warning:offset error 1,sample offset:536870912,sample length:" + std::to_string(len) +
                           ",buffer length:2457600\n");

    OpenDamaged([](auto& b) { Put32(b, kAudioIdx + 4, 2457601); }, &h);
    ASSERT_TRUE(h);
    const uint32_t off = Get32(m_original, kAudioIdx);
    std::tie(last, printed) = ReadToEnd(h.get());
    EXPECT_EQ(last, -1);
    EXPECT_EQ(printed, "warning:size error 1,sample offset:" + std::to_string(off) +
                           ",sample length:2457601,buffer length:2457600\n");
}

TEST_F(IfvError, FrameLongerThanTheBufferIsRefused)
{
    Handle h;
    OpenDamaged([](auto& b) { Put32(b, kVideoIdx + 4, 2457601); }, &h);
    ASSERT_TRUE(h);
    const uint32_t off = Get32(m_original, kVideoIdx);
    auto [last, printed] = ReadToEnd(h.get());
    EXPECT_EQ(last, -1);
    EXPECT_EQ(printed, "warning:size error 1,frame offset:" + std::to_string(off) +
                           ",frame length:2457601,buffer length:2457600\n");
    // Exactly the buffer's size is no error of the size check (the file
    // simply ends before it).
    OpenDamaged([](auto& b) { Put32(b, kVideoIdx + 4, 2457600); }, &h);
    ASSERT_TRUE(h);
    std::tie(last, printed) = ReadToEnd(h.get());
    EXPECT_EQ(last, -1);
    EXPECT_EQ(printed.rfind("custommp4_read_data:short read", 0), 0u) << printed;
}

TEST_F(IfvError, AttachLengthBeyondItsEntryIsRefused)
{
    Handle h;
    OpenDamaged([](auto& b) { Put32(b, kAttachIdx, 121); }, &h);
    ASSERT_TRUE(h);
    auto [last, printed] = ReadToEnd(h.get());
    EXPECT_EQ(last, -1);
    EXPECT_EQ(printed, "warning:size error 1,sample length:121,buffer length:120\n");
}

TEST_F(IfvError, EmptyEntriesAreSkippedNotTakenForTheEnd)
{
    Handle h;
    OpenDamaged(
        [](auto& b) {
            Put32(b, kVideoIdx + 28 * 3 + 4, 0);
            Put32(b, kAudioIdx + 4, 0);
            Put32(b, kAttachIdx, 0);
        },
        &h);
    ASSERT_TRUE(h);
    const ReadBack got = ReadAll(h.get());
    EXPECT_EQ(got.last, 0);
    EXPECT_EQ(got.records.size(), m_written.records.size() - 3);
    EXPECT_EQ(ReadAllVideo(h.get()).records.size(), 49u);
}

TEST_F(IfvError, LaterSegmentIndexFailureEndsTheReadWithAnError)
{
    Plan p;
    p.videoFrames = 3100;
    const Written w = WriteFile(m_path, p);
    auto b = ReadBytes(m_path);
    const size_t seg2 = SegmentStart(b, 1);
    b.resize(seg2 + 48 + 28 * 50);  // the second segment's index is cut short
    WriteBytes(m_path, b);
    Handle h = OpenRead(m_path);
    ASSERT_TRUE(h);
    ReadBack got;
    const std::string printed = Logged([&] { got = ReadAll(h.get()); });
    EXPECT_EQ(got.last, -1);
    EXPECT_EQ(got.records.size(), 3000u);
    EXPECT_EQ(printed, "read video index table failed:read\ncustommp4_read_one_media_frame2:ReadmdatIndexTable error\n");
    // A seek into it reports the index error; the video-only read too.
    EXPECT_EQ(Logged([&] { EXPECT_EQ(RK_FileSeekToTimeStamp(h.get(), 121000), -1); }),
              "read video index table failed:read\ncustommp4_seek_to_time_stamp:ReadmdatIndexTable error\n");
    ASSERT_EQ(RK_FileSeekToTimeStamp(h.get(), 0), 1);
    std::string vo = Logged([&] { got = ReadAllVideo(h.get()); });
    EXPECT_EQ(got.last, -1);
    EXPECT_EQ(got.records.size(), 3000u);
    // Once for the duration of the segment's last frame, once for the frame after it.
    EXPECT_EQ(vo, "read video index table failed 2\nread video index table failed 2\n");
}

TEST_F(IfvError, GettersAndReadersOnANullHandle)
{
    std::vector<uint8_t> buf(16);
    uint16_t w = 9, hgt = 9;
    EXPECT_EQ(RK_FileGetStartTime(nullptr), 0u);
    EXPECT_EQ(RK_FileGetEndTime(nullptr), 0u);
    EXPECT_EQ(RK_FileGetDuration(nullptr), 0u);
    EXPECT_EQ(RK_FileGetEventChannel(nullptr), -1);
    EXPECT_EQ(RK_FileGetVideoCodec(nullptr), 0u);
    EXPECT_EQ(RK_FileGetWidth(nullptr), 0);
    EXPECT_EQ(RK_FileGetHeight(nullptr), 0);
    EXPECT_EQ(RK_FileGetFrameRate(nullptr), 0.0f);
    EXPECT_EQ(RK_FileGetVideoFrameCount(nullptr), 0u);
    EXPECT_EQ(RK_FileGetAudioCodec(nullptr), 0u);
    EXPECT_EQ(RK_FileGetSampleRate(nullptr), 0);
    EXPECT_EQ(RK_FileGetSampleWidth(nullptr), 0);
    EXPECT_EQ(RK_FileHasAudio(nullptr), 0);
    EXPECT_EQ(RK_FileGetAudioFrameSize(nullptr), 0);
    EXPECT_EQ(RK_FileReadOneMediaFrame2(nullptr, buf.data(), nullptr, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(RK_FileReadOneVideoFrame(nullptr, buf.data(), nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(RK_FileSeekToSysTime(nullptr, kBegin), -1);
    EXPECT_EQ(RK_FileSeekToTimeStamp(nullptr, 0), -1);
    EXPECT_EQ(RK_FileGetVideoSizeByIFrame(nullptr, 0, 0, &w, &hgt), 0);
    EXPECT_EQ(w, 9);
    EXPECT_EQ(RK_FileSetVideoParam(nullptr, 1, 1, 1.0f, 0), -1);
    EXPECT_EQ(RK_FileWriteVideoFrame(nullptr, buf.data(), 1, 0, 5, 0, nullptr), -1);
}

TEST_F(IfvError, GettersAndReadersOnAWritingHandle)
{
    const auto path = m_dir / "writing.ifv";
    Handle h = OpenWrite(path);
    ASSERT_TRUE(h);
    ASSERT_EQ(RK_FileSetVideoParam(h.get(), 640, 360, 25.0f, 1), 0);
    ASSERT_EQ(RK_FileSetAudioParam(h.get(), 1, 16, 8000, 11, 320, 40), 0);
    ASSERT_EQ(RK_FileSetStartTime(h.get(), kBegin), 0);
    const auto p = MakePayload(1, 10);
    ASSERT_EQ(RK_FileWriteVideoFrame(h.get(), p.data(), 10, 0, 5, 0, nullptr), 10);
    ASSERT_EQ(RK_FileWriteAudioFrame(h.get(), p.data(), 10, 0, nullptr), 10);
    std::vector<uint8_t> buf(RK_FILE_FRAME_BUFFER_SIZE);
    uint16_t w = 9, hgt = 9;
    EXPECT_EQ(RK_FileGetStartTime(h.get()), 0u);
    EXPECT_EQ(RK_FileGetEndTime(h.get()), 0u);
    EXPECT_EQ(RK_FileGetDuration(h.get()), 0u);
    EXPECT_EQ(RK_FileGetEventChannel(h.get()), -1);
    EXPECT_EQ(RK_FileGetVideoCodec(h.get()), 0u);
    EXPECT_EQ(RK_FileGetWidth(h.get()), 0);
    EXPECT_EQ(RK_FileGetHeight(h.get()), 0);
    EXPECT_EQ(RK_FileGetFrameRate(h.get()), 0.0f);
    EXPECT_EQ(RK_FileGetVideoFrameCount(h.get()), 0u);
    EXPECT_EQ(RK_FileGetAudioCodec(h.get()), 0u);
    EXPECT_EQ(RK_FileGetSampleRate(h.get()), 0);
    EXPECT_EQ(RK_FileGetSampleWidth(h.get()), 0);
    EXPECT_EQ(RK_FileHasAudio(h.get()), 0);
    EXPECT_EQ(RK_FileGetAudioFrameSize(h.get()), 0);
    EXPECT_EQ(RK_FileReadOneMediaFrame2(h.get(), buf.data(), nullptr, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(RK_FileReadOneVideoFrame(h.get(), buf.data(), nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(RK_FileSeekToSysTime(h.get(), kBegin), -1);
    EXPECT_EQ(RK_FileSeekToTimeStamp(h.get(), 0), -1);
    EXPECT_EQ(RK_FileGetVideoSizeByIFrame(h.get(), 0, 1, &w, &hgt), 0);
    EXPECT_EQ(w, 9);
    ASSERT_EQ(RK_CloseFile2(h.release()), 0);
    // The writing went on unharmed.
    Handle r = OpenRead(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(ReadAll(r.get()).records.size(), 2u);
    EXPECT_EQ(RK_FileGetVideoCodec(r.get()), uint32_t('H' | '2' << 8 | '6' << 16 | '5' << 24));
}

TEST_F(IfvError, ReaderNeverWritesTheFile)
{
    // On a read-only view an open that asks for write access fails, root or not.
    const ReadOnlyRun run = RunWithReadOnlyView(m_dir.Path(), [&] {
        Handle r = OpenRead(m_path);
        if (!r) return 1;
        if (ReadAll(r.get()).records.empty()) return 2;
        if (RK_FileSeekToSysTime(r.get(), kBegin) != 1) return 3;
        return RK_CloseFile2(r.release()) == 0 ? 0 : 4;
    });
    if (!run.available) GTEST_SKIP() << run.why;
    EXPECT_EQ(run.exitCode, 0) << "1 open, 2 read, 3 seek, 4 close failed on a read-only view";
    EXPECT_EQ(ReadBytes(m_path), m_original);
}

TEST_F(IfvError, AFailureReachesTheCallerNotStandardOutput)
{
    std::string logged;
    const std::string printed = StandardOutputOf([&] {
        logged = Logged([&] { EXPECT_FALSE(OpenRead(m_dir / "none.ifv")); });
        EXPECT_STREQ(RK_FileGetLastErrorText(), "open file failed");
    });
    EXPECT_EQ(printed, "");
    EXPECT_EQ(logged, "open file failed\n");
}

}  // namespace
}  // namespace velmor::fixtures
