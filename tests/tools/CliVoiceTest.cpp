// velmor-cli voice: frames to PCM and back through the media engine's voice
// codec, the counts it prints, and refusals that leave nothing behind.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "media/include/rkmedia.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::vector<uint8_t> Read(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void Write(const fs::path& p, const void* data, size_t n)
{
    std::ofstream(p, std::ios::binary).write(static_cast<const char*>(data), std::streamsize(n));
}

std::vector<int16_t> Tone(size_t n)
{
    std::vector<int16_t> pcm(n);
    for (size_t i = 0; i < n; ++i)
        pcm[i] = int16_t(std::lround(9000.0 * std::sin(0.07 * double(i)) * std::sin(0.003 * double(i))));
    return pcm;
}

class CliVoice : public ::testing::Test {
protected:
    ProcessResult Voice(std::vector<std::string> args)
    {
        args.insert(args.begin(), "voice");
        return RunProgram("velmor-cli", args);
    }
    CTempDir m_dir{"velmor-cli-voice"};
};

TEST_F(CliVoice, EncodeThenDecodeMatchesTheLibrary)
{
    const auto pcm = Tone(8000);
    Write(m_dir / "in.pcm", pcm.data(), pcm.size() * 2);
    for (int mode : {1, 2, 65, 66, 3, 35, 67, 4, 5, 6, 7, 36, 37, 38, 39, 68}) {
        SCOPED_TRACE(mode);
        auto r = Voice(
            {"encode", "--mode", std::to_string(mode), (m_dir / "in.pcm").string(), (m_dir / "v.bin").string()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const size_t n = mode == 35 ? 321 : 320;
        const size_t frames = (pcm.size() + n - 1) / n;
        EXPECT_EQ(json::parse(r.out),
                  json::parse("{\"frames\":" + std::to_string(frames) + ",\"samples\":8000,\"errors\":0}"));

        // The same frames from the library itself, the last one filled up.
        std::vector<uint8_t> state(VOICE_STATE_SIZE), want;
        VOICE_EncReset(state.data(), uint16_t(mode));
        std::vector<int16_t> padded = pcm;
        padded.resize(frames * n, 0);
        for (size_t f = 0; f < frames; ++f) {
            uint8_t frame[VOICE_MAX_FRAME_BYTES];
            ASSERT_EQ(VOICE_EncodeFrame(state.data(), padded.data() + f * n, frame, uint16_t(n)), VOICE_OK);
            want.insert(want.end(), frame, frame + 4 + 2 * frame[2]);
        }
        ASSERT_EQ(Read(m_dir / "v.bin"), want);

        r = Voice({"decode", "--mode", std::to_string(mode), (m_dir / "v.bin").string(), (m_dir / "out.pcm").string()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto j = json::parse(r.out);
        EXPECT_EQ(j["frames"], frames);
        EXPECT_EQ(j["errors"], 0);
        EXPECT_EQ(j["samples"], frames * n);
        std::vector<int16_t> decoded, lib;
        const auto out = Read(m_dir / "out.pcm");
        decoded.resize(out.size() / 2);
        std::memcpy(decoded.data(), out.data(), out.size());
        VOICE_DecReset(state.data(), uint16_t(mode));
        for (size_t off = 0; off < want.size(); off += 4 + 2 * want[off + 2]) {
            int16_t buf[VOICE_MAX_FRAME_SAMPLES];
            uint16_t got = 0;
            ASSERT_EQ(VOICE_DecodeFrame(state.data(), want.data() + off, buf, &got), VOICE_OK);
            lib.insert(lib.end(), buf, buf + got);
        }
        EXPECT_EQ(decoded, lib);
    }
}

TEST_F(CliVoice, FramesThatDoNotDecodeAreCountedAndSkipped)
{
    const auto pcm = Tone(960);
    Write(m_dir / "in.pcm", pcm.data(), pcm.size() * 2);
    ASSERT_EQ(Voice({"encode", "--mode", "1", (m_dir / "in.pcm").string(), (m_dir / "v.bin").string()}).exitCode, 0);
    auto frames = Read(m_dir / "v.bin");
    ASSERT_EQ(frames.size(), 3u * 324);
    frames[324 + 1] = 0x02;  // the second frame's flags
    Write(m_dir / "bad.bin", frames.data(), frames.size());
    const auto r = Voice({"decode", "--mode", "1", (m_dir / "bad.bin").string(), (m_dir / "out.pcm").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out), json::parse(R"({"frames":3,"samples":640,"errors":1})"));
    EXPECT_NE(r.err.find("0xA1220013"), std::string::npos) << r.err;
    EXPECT_EQ(fs::file_size(m_dir / "out.pcm"), 1280u);
}

TEST_F(CliVoice, TruncatedInputIsRefusedAndNothingIsWritten)
{
    const auto pcm = Tone(640);
    Write(m_dir / "in.pcm", pcm.data(), pcm.size() * 2);
    ASSERT_EQ(Voice({"encode", "--mode", "6", (m_dir / "in.pcm").string(), (m_dir / "v.bin").string()}).exitCode, 0);
    const auto frames = Read(m_dir / "v.bin");
    for (size_t cut : {frames.size() - 1, frames.size() / 2 + 2, size_t(2)}) {
        Write(m_dir / "cut.bin", frames.data(), cut);
        const auto r = Voice({"decode", "--mode", "6", (m_dir / "cut.bin").string(), (m_dir / "out.pcm").string()});
        EXPECT_EQ(r.exitCode, 1) << cut;
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err.rfind("velmor-cli: " + (m_dir / "cut.bin").string() + ": ", 0), 0u) << r.err;
        EXPECT_FALSE(fs::exists(m_dir / "out.pcm"));
    }
    // Nor any temporary file.
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(m_dir.Path())) files += e.is_regular_file();
    EXPECT_EQ(files, 3u);
}

TEST_F(CliVoice, EmptyInputGivesEmptyOutput)
{
    Write(m_dir / "empty", "", 0);
    auto r = Voice({"decode", "--mode", "2", (m_dir / "empty").string(), (m_dir / "out.pcm").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out), json::parse(R"({"frames":0,"samples":0,"errors":0})"));
    EXPECT_EQ(fs::file_size(m_dir / "out.pcm"), 0u);
    r = Voice({"encode", "--mode", "2", (m_dir / "empty").string(), (m_dir / "out.bin").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out), json::parse(R"({"frames":0,"samples":0,"errors":0})"));
}

TEST_F(CliVoice, BadArguments)
{
    const auto pcm = Tone(320);
    Write(m_dir / "in.pcm", pcm.data(), pcm.size() * 2);
    Write(m_dir / "odd.pcm", pcm.data(), 639);
    const std::string in = (m_dir / "in.pcm").string(), out = (m_dir / "out").string();
    struct Case {
        std::vector<std::string> args;
        int exit;
    };
    const Case cases[] = {
        {{"decode", "--mode", "8", in, out}, 2},
        {{"encode", "--mode", "64", in, out}, 2},
        {{"encode", "--mode", "abc", in, out}, 2},
        {{"decode", in, out}, 2},  // --mode is required
        {{"encode", "--mode", "1", "--samples", "482", in, out}, 2},
        {{"encode", "--mode", "1", "--samples", "0", in, out}, 2},
        {{"encode", "--mode", "1", "--samples", "321", in, out}, 2},   // half a word
        {{"encode", "--mode", "35", "--samples", "320", in, out}, 2},  // 4k + 1 samples
        {{"encode", "--mode", "5", "--samples", "40", in, out}, 2},    // 24 kbit/s: a multiple of 16
        {{"encode", "--mode", "1", (m_dir / "odd.pcm").string(), out}, 1},
        {{"decode", "--mode", "1", (m_dir / "missing").string(), out}, 1},
        {{"decode", "--mode", "1", m_dir.Path().string(), out}, 1},
        {{"encode", "--mode", "1", in, (m_dir / "no" / "such" / "folder" / "x").string()}, 1},
    };
    for (const Case& c : cases) {
        const auto r = Voice(c.args);
        EXPECT_EQ(r.exitCode, c.exit) << c.args[2] << " " << c.args[3] << ": " << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(CliVoice, TheInputIsNeverTheOutput)
{
    const auto pcm = Tone(320);
    Write(m_dir / "in.pcm", pcm.data(), pcm.size() * 2);
    const auto before = Read(m_dir / "in.pcm");
    fs::create_symlink(m_dir / "in.pcm", m_dir / "alias");
    for (const char* target : {"in.pcm", "alias"}) {
        const auto r = Voice({"encode", "--mode", "1", (m_dir / "in.pcm").string(), (m_dir / target).string()});
        EXPECT_EQ(r.exitCode, 1) << target;
        EXPECT_EQ(Read(m_dir / "in.pcm"), before);
    }
}

}  // namespace
}  // namespace velmor::fixtures
