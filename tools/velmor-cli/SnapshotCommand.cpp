// snapshot: the picture a play window shows at a second, decoded without a
// window and written as JPEG, PNG or BMP.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <vector>

#include "media/include/rkmedia.h"
#include "player/playback/FrameSource.h"
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

int PictureFormat(const std::string& path)
{
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (ext == ".jpg" || ext == ".jpeg") return 0;
    if (ext == ".png") return 1;
    if (ext == ".bmp") return 2;
    throw CliError("--out", "the picture's name must end in .jpg, .jpeg, .png or .bmp");
}

int RunSnapshot(const SnapshotOptions& o)
{
    const int format = PictureFormat(o.out);
    if (o.channel < 0 || o.channel > 16) throw CliError("--channel", "must be 1 to 16");
    auto source = CFrameSource::OpenFile(Classify(o.file), o.file, o.channel);
    if (!source) throw CliError(o.file, "snapshots are taken of recordings (container, backup record, IFV, grec) and media files");
    if (source->OpenResult() != EFrameResult::kOk) throw CliError(o.file, source->ErrorText());
    if (source->Seek(o.at) != EFrameResult::kOk) throw CliError(o.file, "no picture at second " + std::to_string(o.at));
    const SourceStream& stream = source->Stream();

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
    SourceFrame f;
    int width = 0, height = 0;
    bool decoded = false;
    while (source->Read(f) == EFrameResult::kOk) {
        if (f.kind != EFrameKind::kVideo) continue;
        int bytes = 0, w = 0, h = 0;
        if (RKPLAYER_DecodeFrame(&slot, f.data, int(f.length), f.key ? 1 : 0, nullptr, &bytes, &w, &h) == 0) {
            decoded = true;
            width = w;
            height = h;
        }
        if (f.wallMs / 1000 >= o.at) break;
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
