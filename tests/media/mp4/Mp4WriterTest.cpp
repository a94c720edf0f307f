// The MP4 writer and the AAC converters: frame-rate normalisation, what a
// written file holds when read back with libavformat and checked with the
// ffmpeg tools, the key-frame gate, the partial file, and the converters'
// input handling.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "media/src/mp4/AacConvert.h"
#include "media/src/mp4/RKMp4Convert.h"
#include "tests/media/mp4/Mp4TestUtil.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace velmor::fixtures;
using namespace velmor::fixtures::mp4;
using rkmedia::CRKMp4Convert;

namespace {

TEST(Mp4FrameRate, NormalisedToTheNearestListedRate)
{
    EXPECT_EQ(CRKMp4Convert::NormalizeFrameRate(29), 25);
    EXPECT_EQ(CRKMp4Convert::NormalizeFrameRate(24), 25);
    EXPECT_EQ(CRKMp4Convert::NormalizeFrameRate(16), 15);
    EXPECT_EQ(CRKMp4Convert::NormalizeFrameRate(7), 8);
    EXPECT_EQ(CRKMp4Convert::NormalizeFrameRate(45), 45);
    EXPECT_EQ(CRKMp4Convert::NormalizeFrameRate(30), 25);
    EXPECT_EQ(CRKMp4Convert::NormalizeFrameRate(31), 25);
    // Ties go to the first entry of the list.
    EXPECT_EQ(CRKMp4Convert::NormalizeFrameRate(2), 1);
    EXPECT_EQ(CRKMp4Convert::NormalizeFrameRate(4), 3);
    EXPECT_EQ(CRKMp4Convert::NormalizeFrameRate(9), 8);
    EXPECT_EQ(CRKMp4Convert::NormalizeFrameRate(11), 10);
    EXPECT_EQ(CRKMp4Convert::NormalizeFrameRate(14), 15);
    EXPECT_EQ(CRKMp4Convert::NormalizeFrameRate(18), 18);
}

TEST(Mp4Writer, H264ClipReadsBackWithItsPicturesTimesAndSound)
{
    CTempDir dir("mp4w");
    const std::string path = (dir / "clip.mp4").string();
    ClipRecipe recipe;
    recipe.video.width = 96;
    recipe.video.height = 64;
    recipe.video.frames = 50;
    EncodedVideo enc;
    ASSERT_EQ(WriteClip(path, recipe, &enc), 0);
    EXPECT_FALSE(fs::exists(CRKMp4Convert::PartialPath(path)));

    const FileInfo info = ReadBack(path);
    ASSERT_TRUE(info.opened);
    const StreamInfo* v = info.Find(AVMEDIA_TYPE_VIDEO);
    const StreamInfo* a = info.Find(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a);
    EXPECT_EQ(v->codec, AV_CODEC_ID_H264);
    EXPECT_EQ(v->width, 96);
    EXPECT_EQ(v->height, 64);
    ASSERT_EQ(v->pts.size(), 50u);
    // The 25th picture of a 25 frames-per-second file at 0.96 s.
    EXPECT_NEAR(v->pts[24], 0.96, 1e-9);
    for (size_t i = 0; i < v->pts.size(); ++i) EXPECT_NEAR(v->pts[i], 0.04 * double(i), 1e-9) << i;
    // Stored as recorded: every picture decodes to the one that was encoded.
    ASSERT_EQ(info.pictures.size(), enc.pictures.size());
    for (size_t i = 0; i < enc.pictures.size(); ++i) EXPECT_TRUE(info.pictures[i] == enc.pictures[i]) << i;

    EXPECT_EQ(a->codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(a->sampleRate, 8000);
    EXPECT_EQ(a->channels, 1);
    // The track's decoder configuration: AAC LC, 8000 Hz, one channel, as
    // the converter reports it.
    ASSERT_GE(a->extradata.size(), 2u);
    EXPECT_EQ(a->extradata[0], 0x15);
    EXPECT_EQ(a->extradata[1], 0x88);
    rkmedia::CEncodeAAC converter;
    ASSERT_EQ(converter.InitAACEncoder(1, 8000, 0, 3), 1);
    EXPECT_EQ(a->extradata, converter.Config());
    EXPECT_NEAR(a->duration, v->duration, 0.1);
    EXPECT_NEAR(v->duration, 2.0, 1e-6);
    EXPECT_EQ(info.decodeErrors, 0);
    // The tone is there, at its level, from the first picture on.
    ASSERT_GE(info.sound.size(), 8000u);
    double energy = 0;
    for (size_t i = 800; i < 8000; ++i) energy += double(info.sound[i]) * info.sound[i];
    const double rms = std::sqrt(energy / 7200.0);
    EXPECT_NEAR(rms, 9000.0 / 32768.0 / std::sqrt(2.0), 0.05);
}

TEST(Mp4Writer, FfmpegToolsAcceptTheFileAndSeeItsStreams)
{
    CTempDir dir("mp4w");
    const std::string path = (dir / "clip.mp4").string();
    ClipRecipe recipe;
    recipe.video.codec = VideoCodec::kH265;
    recipe.video.width = 64;
    recipe.video.height = 64;
    recipe.video.frames = 30;
    ASSERT_EQ(WriteClip(path, recipe), 0);
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + path + "' -f null -"), "");
    const std::string probe =
        Shell("ffprobe -v error -show_entries stream=codec_name,width,height,duration -of csv=p=0 '" + path + "'");
    EXPECT_NE(probe.find("hevc,64,64,1.200000"), std::string::npos) << probe;
    const auto aac = probe.find("aac,");
    ASSERT_NE(aac, std::string::npos) << probe;
    const double audioDuration = std::stod(probe.substr(aac + 4 + probe.substr(aac + 4).find_last_of(',') + 1));
    EXPECT_NEAR(audioDuration, 1.2, 0.1) << probe;
}

TEST(Mp4Writer, TheAviNameGetsTheSameStreamsInAnAviFile)
{
    // Clip export's ".avi" choice uses the same writer; an H.265 track needs
    // a codec tag of its own there, or it reads back as raw pictures.
    for (const auto& [codec, id] : {std::pair{VideoCodec::kH264, AV_CODEC_ID_H264}, {VideoCodec::kH265, AV_CODEC_ID_HEVC}}) {
        SCOPED_TRACE(avcodec_get_name(id));
        CTempDir dir("mp4w");
        const std::string path = (dir / "clip.avi").string();
        ClipRecipe recipe;
        recipe.video.codec = codec;
        recipe.video.frames = 25;
        ASSERT_EQ(WriteClip(path, recipe), 0);
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + path + "' -f null -"), "");
        const FileInfo info = ReadBack(path);
        const StreamInfo* v = info.Find(AVMEDIA_TYPE_VIDEO);
        const StreamInfo* a = info.Find(AVMEDIA_TYPE_AUDIO);
        ASSERT_TRUE(v && a);
        EXPECT_EQ(v->codec, id);
        EXPECT_EQ(a->codec, AV_CODEC_ID_AAC);
        EXPECT_EQ(info.pictures.size(), 25u);
    }
}

TEST(Mp4Writer, SoundWithoutTheEncodersTailStaysWithinAFrameOrTwo)
{
    // A caller that never flushes loses what the encoder still holds; the
    // track then ends early but never runs past the picture.
    CTempDir dir("mp4w");
    const std::string path = (dir / "clip.mp4").string();
    ClipRecipe recipe;
    recipe.video.frames = 50;
    recipe.flush = false;
    ASSERT_EQ(WriteClip(path, recipe), 0);
    const FileInfo info = ReadBack(path, false);
    const StreamInfo* v = info.Find(AVMEDIA_TYPE_VIDEO);
    const StreamInfo* a = info.Find(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a);
    EXPECT_LE(a->duration, v->duration + 1e-6);
    // Priming, the frame the encoder holds and the part frame: three at most.
    EXPECT_GT(a->duration, v->duration - 3 * 0.128 - 1e-6);
}

TEST(Mp4Writer, PacketsBeforeTheFirstKeyFrameAreRefused)
{
    CTempDir dir("mp4w");
    const std::string path = (dir / "clip.mp4").string();
    VideoSpec videoRecipe;
    videoRecipe.frames = 12;
    const EncodedVideo enc = EncodeVideo(videoRecipe);
    ASSERT_TRUE(enc.units[0].key);
    ASSERT_FALSE(enc.units[1].key);

    CRKMp4Convert w;
    ASSERT_EQ(w.CreateMp4File(path.c_str(), videoRecipe.width, videoRecipe.height, 0, 25), 0);
    EXPECT_TRUE(w.WaitingKeyFrame());
    const auto& p = enc.units[1].data;
    EXPECT_EQ(w.WriteMp4VideoFile(p.data(), int(p.size()), 0, 1234), -1);
    EXPECT_EQ(w.FrameCounter(), 0);
    EXPECT_EQ(w.LastTime(), 1234u);  // kept even for a refused packet
    EXPECT_EQ(w.WriteMp4VideoFile(nullptr, 10, 3, 0), -1);
    EXPECT_EQ(w.WriteMp4VideoFile(p.data(), 0, 3, 0), -1);
    EXPECT_EQ(w.FrameCounter(), 0);
    for (size_t i = 0; i < enc.units.size(); ++i) {
        const auto& u = enc.units[i];
        EXPECT_EQ(w.WriteMp4VideoFile(u.data.data(), int(u.data.size()), u.key ? 3 : 0, i), 0);
    }
    EXPECT_EQ(w.FrameCounter(), 12);
    EXPECT_EQ(w.CloseMp4File(), 0);
    EXPECT_EQ(w.VideoIndex(), -1);
    EXPECT_EQ(w.AudioIndex(), -1);
    EXPECT_TRUE(w.WaitingKeyFrame());
    const FileInfo info = ReadBack(path);
    ASSERT_TRUE(info.opened);
    EXPECT_EQ(info.pictures.size(), 12u);
}

TEST(Mp4Writer, TheFileHasItsNameOnlyOnceFinished)
{
    CTempDir dir("mp4w");
    const std::string path = (dir / "clip.mp4").string();
    VideoSpec videoRecipe;
    videoRecipe.frames = 5;
    const EncodedVideo enc = EncodeVideo(videoRecipe);
    {
        CRKMp4Convert w;
        ASSERT_EQ(w.CreateMp4File(path.c_str(), videoRecipe.width, videoRecipe.height, 0, 25), 0);
        for (const auto& u : enc.units) ASSERT_EQ(w.WriteMp4VideoFile(u.data.data(), int(u.data.size()), u.key, 0), 0);
        EXPECT_FALSE(fs::exists(path));
        EXPECT_TRUE(fs::exists(CRKMp4Convert::PartialPath(path)));
        // Given up without closing: nothing is left that looks like a clip.
    }
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::exists(CRKMp4Convert::PartialPath(path)));
}

TEST(Mp4Writer, AFormatWithoutSoundRefusesAudioAndStillCloses)
{
    CTempDir dir("mp4w");
    const std::string path = (dir / "clip.h264").string();
    VideoSpec videoRecipe;
    videoRecipe.frames = 5;
    const EncodedVideo enc = EncodeVideo(videoRecipe);
    RKPLAYER_HANDLE w = nullptr;
    ASSERT_EQ(RKPLAYER_CreateMp4FileInit(&w, videoRecipe.width, videoRecipe.height, 0, 25, path.c_str()), 0);
    const uint8_t aac[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(RKPLAYER_WriteMp4AudioData(&w, aac, 8), -1);
    for (const auto& u : enc.units)
        EXPECT_EQ(RKPLAYER_WriteMp4VideoData(&w, u.data.data(), int(u.data.size()), u.key ? 3 : 0, 0), 0);
    EXPECT_EQ(RKPLAYER_CloseMp4File(&w), 0);
    EXPECT_EQ(w, nullptr);
    // The raw stream is the access units themselves.
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<uint8_t> expected;
    for (const auto& u : enc.units) expected.insert(expected.end(), u.data.begin(), u.data.end());
    EXPECT_EQ(bytes, expected);
}

TEST(Mp4Writer, BadArgumentsAndUnwritableOutputsAreRefused)
{
    CTempDir dir("mp4w");
    RKPLAYER_HANDLE w = nullptr;
    EXPECT_EQ(RKPLAYER_CreateMp4FileInit(nullptr, 64, 48, 0, 25, "x.mp4"), -1);
    EXPECT_EQ(RKPLAYER_CreateMp4FileInit(&w, 0, 48, 0, 25, (dir / "a.mp4").c_str()), -1);
    ASSERT_NE(w, nullptr);  // the writer exists and must be closed
    EXPECT_EQ(RKPLAYER_CloseMp4File(&w), 0);
    EXPECT_EQ(RKPLAYER_CreateMp4FileInit(&w, 64, 48, 0, -5, (dir / "a.mp4").c_str()), -1);
    EXPECT_EQ(RKPLAYER_CloseMp4File(&w), 0);
    EXPECT_EQ(RKPLAYER_CreateMp4FileInit(&w, 64, 48, 0, 25, nullptr), -1);
    EXPECT_EQ(RKPLAYER_CloseMp4File(&w), 0);

    const std::string missing = (dir / "no" / "such" / "a.mp4").string();
    const int ret = RKPLAYER_CreateMp4FileInit(&w, 64, 48, 0, 25, missing.c_str());
    EXPECT_LT(ret, 0);
    ASSERT_NE(w, nullptr);
    const uint8_t data[4] = {0, 0, 1, 0x65};
    EXPECT_EQ(RKPLAYER_WriteMp4VideoData(&w, data, 4, 3, 0), -1);
    EXPECT_EQ(RKPLAYER_CloseMp4File(&w), 0);
    EXPECT_TRUE(fs::is_empty(dir.Path()));

    // Empty slots.
    EXPECT_EQ(RKPLAYER_CloseMp4File(&w), -1);
    EXPECT_EQ(RKPLAYER_CloseMp4File(nullptr), -1);
    EXPECT_EQ(RKPLAYER_WriteMp4VideoData(&w, data, 4, 3, 0), -1);
    EXPECT_EQ(RKPLAYER_WriteMp4AudioData(&w, data, 4), -1);
}

TEST(Mp4Writer, AFileThatCannotBeFinishedIsNotLeftBehind)
{
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // Every write fails: the trailer cannot be written, the close says so.
    CTempDir dir("mp4w");
    const std::string path = (dir / "full.mp4").string();
    fs::create_symlink("/dev/full", CRKMp4Convert::PartialPath(path));
    VideoSpec videoRecipe;
    videoRecipe.frames = 5;
    const EncodedVideo enc = EncodeVideo(videoRecipe);
    CRKMp4Convert w;
    const int created = w.CreateMp4File(path.c_str(), videoRecipe.width, videoRecipe.height, 0, 25);
    for (const auto& u : enc.units) w.WriteMp4VideoFile(u.data.data(), int(u.data.size()), u.key, 0);
    const int closed = w.CloseMp4File();
    EXPECT_TRUE(created < 0 || closed < 0) << created << " " << closed;
    EXPECT_FALSE(fs::exists(path));
}

TEST(Mp4Writer, DamagedParameterSetsCannotHangTheTrailer)
{
    // A key frame whose parameter sets the muxer's own configuration parser
    // would loop on for good when the file is finished (found by fuzzing).
    const std::string hex =
        "0000000140010c01ffff01600000030090000003000003001eba02400000000142ca681a02090b0b0e031b6cf29d818f"
        "8b8a888c8790c26a0502090a0b0e031862fe9c818f8b8a888c8791da150502090a0b0e001960e59c818f8b8a8dd38496"
        "8814040d090a0b0e001e66e79f808e8b8a888d84975417040d080a0b0f001f64e19e808e8b8a898d84945f16070d080a"
        "0b0f011c7be399808e8b8a898285954711070c080a0b0f011d7fed98838e8b8a898285eb4f10060c080a0b0f061270ef"
        "9b83898b8b89829ae97413060c080a080c061374e99a82898b8b89839bef7012060f0b0a080c06104feb8582898a8b8e"
        "8398ed7f1d010f0b0a080c07114795858289ccafcfd1323342f1100df01c0d91e4e19cbf55a33c6c94944d1db1ca2393"
        "8992e7598c264008da2e13777828386413cc097ac837409c559fb13255b720b97377af5d33cb9ca400020001500011d8"
        "fdfd2c112212e6e0d2bc1bdbe1ff3131622ffd3acfaecc121e15333f13cd1e9dbd2ed21f6223f12ecedcd9df03011a02"
        "000000000140010c01ffff01600000030090000003000003001eba024000000001420101016000000300900000030000"
        "03001ea02083165ba4a4c2e68080000003008000000c84000000014401c073c0890000012801ac76a0d44857aec393c5"
        "6e17a5fa379c82f9bff3f24d9de5766331a6b5b3d7e88636f9494d093d9c905b11ce959cd42a2f8bde0e6672d4de5f7b"
        "a5478f1b2aa71412d1ad";
    std::vector<uint8_t> unit;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) unit.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    ASSERT_EQ(unit.size(), 538u);
    CTempDir dir("mp4w");
    const std::string path = (dir / "damaged.mp4").string();
    CRKMp4Convert w;
    ASSERT_EQ(w.CreateMp4File(path.c_str(), 64, 48, 1, 25), 0);
    const int ret = w.WriteMp4VideoFile(unit.data(), int(unit.size()), 3, 0);
    EXPECT_TRUE(ret == 0 || ret == -1) << ret;
    const int closed = w.CloseMp4File();
    EXPECT_EQ(closed == 0, fs::exists(path));
    EXPECT_FALSE(fs::exists(CRKMp4Convert::PartialPath(path)));
}

// ---- Converters ---------------------------------------------------------------------------

TEST(AacConverter, AVoiceFrameEntersWithoutItsHeader)
{
    // 324 bytes: a 4-byte header and 320 bytes of G.711 A-law (type 11).
    const auto frames = ToneFrames(1, 700.0, 9000.0, VOICE_MODE_G711A);
    ASSERT_EQ(frames[0].size(), 324u);
    std::vector<uint8_t> state(VOICE_STATE_SIZE);
    VOICE_DecReset(state.data(), VOICE_MODE_G711A);
    int16_t expected[VOICE_MAX_FRAME_SAMPLES];
    uint16_t n = 0;
    ASSERT_EQ(VOICE_DecodeFrame(state.data(), frames[0].data(), expected, &n), VOICE_OK);
    ASSERT_EQ(n, 320);

    RKPLAYER_HANDLE dec = nullptr;
    ASSERT_EQ(RKPLAYER_ConvertAudioToPCMInit(&dec, 1, 8000, 0, 11), 1);
    std::vector<uint8_t> pcm(RKPLAYER_PCM_MAX_BYTES(324));
    int bytes = 0;
    ASSERT_EQ(RKPLAYER_ConvertAudioToPCMDecord(&dec, frames[0].data(), 324, pcm.data(), &bytes), 1);
    ASSERT_EQ(bytes, 640);
    for (int i = 0; i < 320; ++i) EXPECT_EQ(int16_t(pcm[2 * i] | (pcm[2 * i + 1] << 8)), expected[i]) << i;
    EXPECT_EQ(RKPLAYER_ConvertAudioToPCMUnit(&dec), 1);
    EXPECT_EQ(dec, nullptr);
}

TEST(AacConverter, BytesThatAreNoVoiceFrameGiveNothing)
{
    RKPLAYER_HANDLE dec = nullptr;
    ASSERT_EQ(RKPLAYER_ConvertAudioToPCMInit(&dec, 1, 8000, 0, 3), 1);
    std::vector<uint8_t> pcm(RKPLAYER_PCM_MAX_BYTES(400));
    int bytes = 99;
    std::vector<uint8_t> junk(324, 0xAB);
    EXPECT_EQ(RKPLAYER_ConvertAudioToPCMDecord(&dec, junk.data(), 324, pcm.data(), &bytes), 0);
    EXPECT_EQ(bytes, 0);
    // A header that claims more than the caller holds.
    auto frame = ToneFrames(1, 500.0)[0];
    EXPECT_EQ(RKPLAYER_ConvertAudioToPCMDecord(&dec, frame.data(), int(frame.size()) - 1, pcm.data(), &bytes), 0);
    EXPECT_EQ(RKPLAYER_ConvertAudioToPCMDecord(&dec, frame.data(), 3, pcm.data(), &bytes), 0);
    EXPECT_EQ(RKPLAYER_ConvertAudioToPCMDecord(&dec, nullptr, 324, pcm.data(), &bytes), 0);
    // Two frames in one call, then a torn third: the whole ones count.
    auto two = ToneFrames(3, 500.0);
    std::vector<uint8_t> joined;
    for (const auto& f : two) joined.insert(joined.end(), f.begin(), f.end());
    joined.resize(joined.size() - 10);
    pcm.resize(RKPLAYER_PCM_MAX_BYTES(joined.size()));
    EXPECT_EQ(RKPLAYER_ConvertAudioToPCMDecord(&dec, joined.data(), int(joined.size()), pcm.data(), &bytes), 1);
    EXPECT_EQ(bytes, 2 * 640);
    EXPECT_EQ(RKPLAYER_ConvertAudioToPCMUnit(&dec), 1);
    EXPECT_EQ(RKPLAYER_ConvertAudioToPCMUnit(&dec), 0);
}

TEST(AacConverter, EncoderRunsOneFrameBehindAndFlushesTheRest)
{
    rkmedia::CEncodeAAC enc;
    ASSERT_EQ(enc.InitAACEncoder(1, 8000, 0, 3), 1);
    ASSERT_GE(enc.Config().size(), 2u);
    EXPECT_EQ(enc.Config()[0], 0x15);
    EXPECT_EQ(enc.Config()[1], 0x88);
    const auto frames = ToneFrames(32, 440.0);  // 32 x 320 = 10240 samples = 10 AAC frames
    uint8_t out[RKPLAYER_AAC_MAX_FRAME_BYTES];
    int n = 0, produced = 0;
    for (const auto& f : frames) produced += enc.Encoder(f.data(), int(f.size()), out, &n);
    // The first frame sent comes out with the second (priming).
    EXPECT_EQ(produced, 9);
    int flushed = 0;
    while (enc.Flush(out, &n) == 1) {
        EXPECT_GT(n, 0);
        ++flushed;
    }
    EXPECT_EQ(produced + flushed, 11);  // ten frames and the priming frame
    EXPECT_EQ(enc.Encoder(frames[0].data(), int(frames[0].size()), out, &n), 0);  // closed for input
}

TEST(AacConverter, InitialisationRefusalsStillFillTheSlot)
{
    RKPLAYER_HANDLE h = nullptr;
    EXPECT_EQ(RKPLAYER_ConvertPCMToAACInit(&h, 1, 12345, 0, 3), 0);
    ASSERT_NE(h, nullptr);
    uint8_t out[RKPLAYER_AAC_MAX_FRAME_BYTES];
    int n = 7;
    const auto f = ToneFrames(1, 440.0)[0];
    EXPECT_EQ(RKPLAYER_ConvertPCMToAACEncode(&h, f.data(), int(f.size()), out, &n), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(RKPLAYER_ConvertPCMToAACUnit(&h), 1);
    EXPECT_EQ(RKPLAYER_ConvertPCMToAACInit(&h, 3, 8000, 0, 3), 0);
    EXPECT_EQ(RKPLAYER_ConvertPCMToAACUnit(&h), 1);
    EXPECT_EQ(RKPLAYER_ConvertPCMToAACInit(nullptr, 1, 8000, 0, 3), 0);

    // Compression types beyond 12 are type 3.
    ASSERT_EQ(RKPLAYER_ConvertPCMToAACInit(&h, 1, 16000, 0, 13), 1);
    EXPECT_EQ(static_cast<rkmedia::CEncodeAAC*>(h)->Compress(), 3);
    uint8_t config[RKPLAYER_AAC_CONFIG_MAX_BYTES];
    int length = 0;
    EXPECT_EQ(RKPLAYER_ConvertPCMToAACGetEncConfig(&h, config, &length), 1);
    ASSERT_GE(length, 2);
    EXPECT_EQ(config[0], 0x14);  // AAC LC, 16000 Hz (index 8), one channel
    EXPECT_EQ(config[1], 0x08);
    EXPECT_EQ(RKPLAYER_ConvertPCMToAACUnit(&h), 1);
    EXPECT_EQ(RKPLAYER_ConvertPCMToAACGetEncConfig(&h, config, &length), 0);
    EXPECT_EQ(RKPLAYER_ConvertPCMToAACUnit(&h), 0);
}

}  // namespace
