// snapshot: the picture a play window shows at a second, decoded without a
// window and written as JPEG, PNG or BMP.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "container/include/rkcontainer.h"
#include "media/include/rkmedia.h"
#include "player/formats/IfvFile.h"
#include "player/playback/StreamRules.h"
#include "store/include/rkstore.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace fs = std::filesystem;

namespace velmor::cli {
namespace {

struct SnapshotOptions {
    std::string file;
    uint32_t at = 0;
    std::string out;
    int channel = 0;  // counted from 1; 0: the lowest recorded
};

// One video frame on its way to the decoder.
struct VideoFrame {
    const uint8_t* data = nullptr;
    int length = 0;
    bool key = false;
    uint32_t second = 0;  // recorder clock
};

// The stream to decode: its picture size and codec, and a reader that gives
// the video frames from the key frame at or before the wanted second on.
struct VideoStream {
    int width = 0, height = 0;
    bool h265 = false;
    std::function<bool(VideoFrame&)> next;  // false at the end
    std::shared_ptr<void> keep;             // what the reader holds open
};

int PictureFormat(const std::string& path)
{
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (ext == ".jpg" || ext == ".jpeg") return 0;
    if (ext == ".png") return 1;
    if (ext == ".bmp") return 2;
    throw CliError("--out", "the picture's name must end in .jpg, .jpeg, .png or .bmp");
}

VideoStream IfvStream(const std::string& path, uint32_t at)
{
    std::shared_ptr<FILEHANDLE> file(RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_READ), [](FILEHANDLE* h) {
        if (h) RK_CloseFile2(h);
    });
    if (!file) throw CliError(path, "not a readable IFV file");
    VideoStream s;
    s.width = RK_FileGetWidth(file.get());
    s.height = RK_FileGetHeight(file.get());
    s.h265 = IsH265CodecCode(RK_FileGetVideoCodec(file.get()));
    const uint32_t begin = RK_FileGetStartTime(file.get());
    if (RK_FileSeekToSysTime(file.get(), at) != 1)
        throw CliError(path, "no picture at second " + std::to_string(at));
    auto buffer = std::make_shared<std::vector<uint8_t>>(RK_FILE_FRAME_BUFFER_SIZE);
    s.keep = file;
    s.next = [file, buffer, begin](VideoFrame& f) {
        uint32_t ts = 0, duration = 0;
        uint64_t pts = 0;
        uint8_t key = 0;
        const int n = RK_FileReadOneVideoFrame(file.get(), buffer->data(), &ts, &pts, &duration, &key);
        if (n <= 0) return false;
        f = {buffer->data(), n, key == 3 || key == 5, begin + ts / 1000};
        return true;
    };
    return s;
}

VideoStream BackupStream(const std::string& path, uint32_t at)
{
    auto op = std::shared_ptr<StRecBakFileOp_t>(new StRecBakFileOp_t{}, [](StRecBakFileOp_t* o) {
        RKSFS_CloseBakRecFile(o);
        delete o;
    });
    if (RKSFS_OpenBakRecFile(op.get(), path.c_str()) != 0) throw CliError(path, "not a readable backup record file");
    StRecEncode_t enc{};
    RKSFS_GetBakRecFileEncode(op.get(), &enc, nullptr);
    uint32_t reso = enc.reso, width = 0, height = 0, standard = enc.videoStandard;
    VideoStream s;
    if (RKSFS_ConvResolution(&reso, &width, &height, &standard, 1) == 0) {
        s.width = int(width);
        s.height = int(height);
    }
    s.h265 = IsH265Encoding(int(enc.vEnc));
    if (RKSFS_SeekBakRecTime(op.get(), at) != 0) throw CliError(path, "no picture at second " + std::to_string(at));
    auto buffer = std::make_shared<std::vector<uint8_t>>(RKSFS_READ_BUFFER_SIZE);
    s.keep = op;
    s.next = [op, buffer](VideoFrame& f) {
        RKSFS_FRAME_HEAD head{};
        for (;;) {
            const int n = RKSFS_ReadBakRecFrame(op.get(), buffer->data(), buffer->size(), &head);
            if (n <= 0) return false;
            if (head.type < 1 || head.type > 3) continue;
            f = {buffer->data(), n, head.type == 1, uint32_t(head.pts / 1000000)};
            return true;
        }
    };
    return s;
}

VideoStream ContainerStream(const std::string& path, uint32_t at, int channel)
{
    auto slot = std::shared_ptr<RKCONTAINER_HANDLE>(new RKCONTAINER_HANDLE(nullptr), [](RKCONTAINER_HANDLE* h) {
        if (*h) RKCONTAINER_CloseFile(h);
        delete h;
    });
    if (RKCONTAINER_OpenFile(slot.get(), path.c_str()) != 0) throw CliError(path, "not a readable container file");
    uint32_t begin = 0, end = 0, mask = 0;
    if (channel == 0) {
        RKCONTAINER_GetSomeChnFileInfo(slot.get(), 0xFFFF, &begin, &end, &mask, nullptr);
        for (int c = 0; c < 16 && !channel; ++c)
            if (mask & (1u << c)) channel = c + 1;
        if (!channel) throw CliError(path, "no recording in this file");
    }
    RKCONTAINER_ENCODE enc{};
    if (RKCONTAINER_GetOneChnFileInfo(slot.get(), channel - 1, &begin, &end, &enc) != 0)
        throw CliError(path, "channel " + std::to_string(channel) + " has no recording in this file");
    VideoStream s;
    int width = 0, height = 0;
    if (RKCONTAINER_ConvResolution(nullptr, enc.reso, &width, &height, enc.videoStandard) == 0) {
        s.width = width;
        s.height = height;
    }
    s.h265 = IsH265Encoding(enc.vEnc);
    if (RKCONTAINER_SeekIFrame(slot.get(), at, &enc) != 0)
        throw CliError(path, "no picture at second " + std::to_string(at));
    auto buffer = std::make_shared<std::vector<uint8_t>>(RKCONTAINER_MAX_FRAME_SIZE);
    s.keep = slot;
    s.next = [slot, buffer](VideoFrame& f) {
        for (;;) {
            RKCONTAINER_FRAME_HEAD head{};
            RKCONTAINER_ENCODE e{};
            const int rc = RKCONTAINER_ReadOneFrame(slot.get(), buffer->data(), &head, &e);
            if (rc == -2) continue;
            if (rc != 0) return false;
            if (head.sign != 'F' || head.type < 1 || head.type > 3) continue;
            f = {buffer->data(), int(head.length), head.type == 1, uint32_t(head.pts / 1000000)};
            return true;
        }
    };
    return s;
}

int RunSnapshot(const SnapshotOptions& o)
{
    const int format = PictureFormat(o.out);
    if (o.channel < 0 || o.channel > 16) throw CliError("--channel", "must be 1 to 16");
    VideoStream stream;
    switch (Classify(o.file)) {
        case SourceKind::kIfvFile: stream = IfvStream(o.file, o.at); break;
        case SourceKind::kBackupRecordFile: stream = BackupStream(o.file, o.at); break;
        case SourceKind::kContainerFile: stream = ContainerStream(o.file, o.at, o.channel); break;
        default: throw CliError(o.file, "snapshots are taken of container, backup record and IFV files");
    }

    RKPLAYER_HANDLE slot = nullptr;
    std::unique_ptr<RKPLAYER_HANDLE, void (*)(RKPLAYER_HANDLE*)> release(&slot, [](RKPLAYER_HANDLE* s) {
        if (*s) RKPLAYER_Uninitgpu(s);
    });
    if (RKPLAYER_InitVideoDecoder(&slot, std::max(stream.width, 16), std::max(stream.height, 16), stream.h265 ? 1 : 0,
                                  25, 0) != 0 ||
        RKPLAYER_OpenOffscreen(&slot) != 0)
        throw CliError(o.file, "no decoder for this stream");

    // Decode from the key frame up to the first frame of the wanted second
    // (or the last one before the stream ends), then drain: the picture shown
    // last is the one a play window would show.
    VideoFrame f;
    int width = 0, height = 0;
    bool decoded = false;
    while (stream.next(f)) {
        int bytes = 0, w = 0, h = 0;
        if (RKPLAYER_DecodeFrame(&slot, f.data, f.length, f.key ? 1 : 0, nullptr, &bytes, &w, &h) == 0) {
            decoded = true;
            width = w;
            height = h;
        }
        if (f.second >= o.at) break;
    }
    int bytes = 0, w = 0, h = 0;
    if (RKPLAYER_DecodeFrame(&slot, nullptr, 0, 0, nullptr, &bytes, &w, &h) == 0 && w && h) {
        decoded = true;
        width = w;
        height = h;
    }
    if (!decoded) throw CliError(o.file, "no picture could be decoded at second " + std::to_string(o.at));
    if (RKPLAYER_SavePictureFile(&slot, o.out.c_str(), format) != 0)
        throw CliError(o.out, "the picture could not be written");

    nlohmann::ordered_json out{{"path", o.out}, {"at", o.at}, {"width", width}, {"height", height}};
    WriteJson(out.dump() + "\n");
    return kExitOk;
}

}  // namespace

void AddSnapshotCommands(CLI::App& app, Runner& run)
{
    auto o = std::make_shared<SnapshotOptions>();
    auto* cmd = app.add_subcommand("snapshot",
                                   "Writes the picture shown at second s (JPEG, PNG or BMP by the extension): "
                                   "{\"path\":P,\"at\":s,\"width\":n,\"height\":n}");
    cmd->add_option("FILE", o->file, "a container, backup record or IFV file")->required();
    cmd->add_option("--at", o->at, "the second (recorder clock)")->required();
    cmd->add_option("--out", o->out, "the picture file to write")->required();
    cmd->add_option("--channel", o->channel, "channel of a container file, counted from 1 (default: the lowest)");
    cmd->callback([o, &run] { run = [o] { return RunSnapshot(*o); }; });
}

}  // namespace velmor::cli
