// voice: the recorder voice codec.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "common/FileReader.h"
#include "media/include/rkmedia.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace fs = std::filesystem;

namespace velmor::cli {
namespace {

struct VoiceOptions {
    int mode = 0;
    int samples = 0;
    bool samplesGiven = false;  // else the mode's default
    std::string in;
    std::string out;
};

constexpr int kDefaultSamples = 320;  // 40 ms at 8000 samples per second
constexpr size_t kMaxWarnings = 10;

// The output goes to a temporary file beside OUT and takes OUT's name only
// when the whole input went through, so a failed run never leaves a
// partial file that looks complete.
class COutputFile {
public:
    explicit COutputFile(const std::string& path) : m_path(path)
    {
        std::string pattern = ((m_path.parent_path().empty() ? fs::path(".") : m_path.parent_path()) /
                               ("." + m_path.filename().string() + ".XXXXXX"))
                                  .string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) throw CliError(path, std::string("cannot write here: ") + std::strerror(errno));
        m_temp = pattern;
        // The finished file gets the permissions a plain create would give.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
        m_file = ::fdopen(fd, "wb");
        if (!m_file) {
            ::close(fd);
            Discard();
            throw CliError(path, "cannot write here");
        }
    }
    ~COutputFile()
    {
        if (m_file) std::fclose(m_file);
        Discard();
    }
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    void Write(const void* data, size_t n)
    {
        if (n && std::fwrite(data, 1, n, m_file) != n) throw CliError(m_path.string(), "write failed (disk full?)");
    }

    void Commit()
    {
        const bool ok = std::fflush(m_file) == 0 && ::fsync(::fileno(m_file)) == 0;
        const int closed = std::fclose(m_file);
        m_file = nullptr;
        if (!ok || closed != 0) throw CliError(m_path.string(), "write failed (disk full?)");
        std::error_code ec;
        fs::rename(m_temp, m_path, ec);
        if (ec) throw CliError(m_path.string(), "cannot write here: " + ec.message());
        m_temp.clear();
    }

private:
    void Discard()
    {
        if (m_temp.empty()) return;
        std::error_code ec;
        fs::remove(m_temp, ec);
        m_temp.clear();
    }

    fs::path m_path;
    fs::path m_temp;
    std::FILE* m_file = nullptr;
};

void CheckMode(int mode)
{
    std::array<uint8_t, VOICE_STATE_SIZE> state{};
    if (mode < 0 || mode > 0xFFFF || VOICE_DecReset(state.data(), uint16_t(mode)) != VOICE_OK)
        throw CliError("--mode", std::to_string(mode) + " is not a voice codec mode (1, 2, 3, 4-7, 35-39, 65-68)");
}

// Samples per frame must fill whole code words of the mode exactly: the
// codec would drop what does not fit.
void CheckSamples(int mode, int samples)
{
    if (samples < 1 || samples > VOICE_MAX_ENCODE_SAMPLES)
        throw CliError("--samples", std::to_string(samples) + " is not a sample count of 1 to 481");
    const char* rule = nullptr;
    switch (mode) {
        case 1: case 2: case 65: case 66: rule = samples % 2 == 0 ? nullptr : "an even number"; break;
        case 3: case 67: rule = samples % 4 == 0 ? nullptr : "a multiple of 4"; break;
        case 35: rule = samples % 4 == 1 ? nullptr : "4k + 1 (the first sample rides in the header)"; break;
        case 4: case 36: case 68: rule = samples % 8 == 0 ? nullptr : "a multiple of 8"; break;
        case 6: case 38: rule = samples % 4 == 0 ? nullptr : "a multiple of 4"; break;
        default: rule = samples % 16 == 0 ? nullptr : "a multiple of 16"; break;  // 24 and 40 kbit/s
    }
    if (rule)
        throw CliError("--samples", "frames of mode " + std::to_string(mode) + " hold " + rule + " samples, not " +
                                        std::to_string(samples));
}

void CheckNotTheInput(const std::string& in, const std::string& out)
{
    std::error_code ec;
    if (fs::exists(out, ec) && fs::equivalent(in, out, ec))
        throw CliError(out, "is the input file; the input is never written");
}

CFileReader OpenInput(const std::string& path)
{
    std::error_code ec;
    if (fs::is_directory(path, ec)) throw CliError(path, "is a folder, not a file");
    CFileReader in;
    int err = 0;
    if (!in.Open(path, &err)) throw CliError(path, std::strerror(err));
    return in;
}

void PrintCounts(uint64_t frames, uint64_t samples, uint64_t errors)
{
    nlohmann::ordered_json out = {{"frames", frames}, {"samples", samples}, {"errors", errors}};
    WriteJson(out.dump() + "\n");
}

int RunVoiceDecode(const VoiceOptions& o)
{
    CheckMode(o.mode);
    CheckNotTheInput(o.in, o.out);
    CFileReader in = OpenInput(o.in);
    COutputFile out(o.out);
    std::array<uint8_t, VOICE_STATE_SIZE> state{};
    VOICE_DecReset(state.data(), uint16_t(o.mode));
    std::array<uint8_t, VOICE_MAX_FRAME_BYTES> frame{};
    std::array<int16_t, VOICE_MAX_FRAME_SAMPLES> pcm{};
    std::array<uint8_t, VOICE_MAX_FRAME_SAMPLES * 2> bytes{};
    uint64_t frames = 0, samples = 0, errors = 0;
    for (;;) {
        const uint64_t at = in.Tell();
        const size_t head = in.Read(frame.data(), VOICE_FRAME_HEADER_SIZE);
        if (head == 0) break;
        if (head < VOICE_FRAME_HEADER_SIZE)
            throw CliError(o.in, "ends inside the header of the voice frame at byte " + std::to_string(at));
        const size_t payload = 2 * size_t(frame[2]);
        const size_t got = in.Read(frame.data() + VOICE_FRAME_HEADER_SIZE, payload);
        if (got < payload)
            throw CliError(o.in, "the voice frame at byte " + std::to_string(at) + " claims " +
                                     std::to_string(payload) + " payload bytes, " + std::to_string(got) +
                                     " are left");
        ++frames;
        uint16_t n = 0;
        const int32_t rc = VOICE_DecodeFrame(state.data(), frame.data(), pcm.data(), &n);
        if (rc != VOICE_OK) {
            if (++errors <= kMaxWarnings) {
                char code[16];
                std::snprintf(code, sizeof code, "0x%08X", uint32_t(rc));
                Warn(o.in, "voice frame at byte " + std::to_string(at) + " not decoded: " + code);
            }
            continue;
        }
        for (size_t i = 0; i < n; ++i) {
            bytes[2 * i] = uint8_t(pcm[i]);
            bytes[2 * i + 1] = uint8_t(uint16_t(pcm[i]) >> 8);
        }
        out.Write(bytes.data(), 2 * size_t(n));
        samples += n;
    }
    if (errors > kMaxWarnings) Warn(o.in, std::to_string(errors) + " voice frames not decoded in all");
    out.Commit();
    PrintCounts(frames, samples, errors);
    return kExitOk;
}

int RunVoiceEncode(const VoiceOptions& o)
{
    CheckMode(o.mode);
    const int n = o.samplesGiven ? o.samples : (o.mode == 35 ? kDefaultSamples + 1 : kDefaultSamples);
    CheckSamples(o.mode, n);
    CheckNotTheInput(o.in, o.out);
    CFileReader in = OpenInput(o.in);
    const int64_t size = in.Size();
    if (size < 0) throw CliError(o.in, "cannot tell its size");
    if (size % 2) throw CliError(o.in, "holds an odd number of bytes: not 16-bit PCM");
    COutputFile out(o.out);
    std::array<uint8_t, VOICE_STATE_SIZE> state{};
    VOICE_EncReset(state.data(), uint16_t(o.mode));
    std::vector<uint8_t> bytes(2 * size_t(n));
    std::vector<int16_t> pcm(static_cast<size_t>(n));
    std::array<uint8_t, VOICE_MAX_FRAME_BYTES> frame{};
    uint64_t frames = 0, samples = 0;
    for (;;) {
        const size_t got = in.Read(bytes.data(), bytes.size());
        if (got == 0) break;
        if (got % 2) throw CliError(o.in, "changed while it was read");
        // The last frame is filled up with silence, so no sample is lost.
        std::fill(pcm.begin(), pcm.end(), int16_t(0));
        for (size_t i = 0; i < got / 2; ++i) pcm[i] = int16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        const int32_t rc = VOICE_EncodeFrame(state.data(), pcm.data(), frame.data(), uint16_t(n));
        if (rc != VOICE_OK) throw CliError(o.in, "the encoder refused a frame");
        out.Write(frame.data(), VOICE_FRAME_HEADER_SIZE + 2 * size_t(frame[2]));
        ++frames;
        samples += got / 2;
        if (got < bytes.size()) break;
    }
    out.Commit();
    PrintCounts(frames, samples, 0);
    return kExitOk;
}

}  // namespace

void AddVoiceCommands(CLI::App& app, Runner& run)
{
    auto st = std::make_shared<VoiceOptions>();
    auto* voice = app.add_subcommand("voice", "The recorder voice codec: voice frames to PCM and back");
    voice->require_subcommand(1);
    const char* modes =
        "voice codec mode: 1/2 G.711 A-law/mu-law (65/66 high byte first), 3 DVI4 with state header, "
        "35 IMA with the first sample in the header, 67 DVI4 without header, 4-7 G.726 16/24/32/40 kbit/s "
        "least-significant bit first (36-39 most-significant bit first), 68 G.726 16 kbit/s";

    auto* decode = voice->add_subcommand(
        "decode",
        "Decode a file of concatenated voice frames (each with its 4-byte header) to 16-bit little-endian PCM.\n"
        "Prints {\"frames\":n,\"samples\":n,\"errors\":n}: frames read, samples written, frames that did not "
        "decode (skipped). A file that ends inside a frame is refused and OUT is not written.");
    decode->add_option("--mode", st->mode, modes)->required();
    decode->add_option("IN", st->in, "voice frames (read only)")->required();
    decode->add_option("OUT", st->out, "PCM file to write")->required();
    decode->callback([st, &run] { run = [st] { return RunVoiceDecode(*st); }; });

    auto* encode = voice->add_subcommand(
        "encode",
        "Encode 16-bit little-endian PCM into voice frames of N samples, the last one filled up with silence.\n"
        "Prints {\"frames\":n,\"samples\":n,\"errors\":0} (samples read from IN).");
    encode->add_option("--mode", st->mode, modes)->required();
    auto* samples = encode->add_option(
        "--samples", st->samples,
        "samples per frame, 1 to 481, whole code words of the mode (default 320; 321 for mode 35)");
    encode->add_option("IN", st->in, "PCM (read only)")->required();
    encode->add_option("OUT", st->out, "voice frames to write")->required();
    encode->callback([st, samples, &run] {
        st->samplesGiven = samples->count() > 0;
        run = [st] { return RunVoiceEncode(*st); };
    });
}

}  // namespace velmor::cli
