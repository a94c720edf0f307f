// info for grec files, through the grec reader plugin as the player loads it.
#include <nlohmann/json.hpp>

#include <cstring>

#include "player/playback/StreamRules.h"
#include "player/formats/TtxLibrary.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace velmor::cli {

int RunGrecInfo(const std::string& path)
{
    CTtxLibrary& library = CTtxLibrary::Shared();
    if (!library.Loaded()) throw CliError(path, library.Error());
    CTtxFile file(library);
    if (file.Open(path) != AVFILE_OK) throw CliError(path, file.Error());
    AVFILE_FILE_INFO info{};
    AVFILE_WAVE_FORMAT wave{};
    AVFILE_TERMINAL_INFO terminal{};
    if (library.FEGetFileInfo(file.Slot(), &info) != AVFILE_OK ||
        library.FEGetWaveFormat(file.Slot(), &wave) != AVFILE_OK ||
        library.FEGetTerminalInfo(file.Slot(), &terminal) != AVFILE_OK)
        throw CliError(path, file.Error());
    const auto begin = uint32_t(info.beginTime / 1000000), end = uint32_t(info.endTime / 1000000);
    nlohmann::ordered_json out;
    out["format"] = "grec_file";
    out["begin"] = begin;
    out["end"] = end;
    out["begin_text"] = TimeText(begin);
    out["end_text"] = TimeText(end);
    out["channels"] = nlohmann::ordered_json::array({1});
    out["width"] = info.width;
    out["height"] = info.height;
    out["codec"] = info.videoCompress == AVFILE_VIDEO_H265 ? "H.265" : "H.264";
    out["frame_rate"] = info.frameRate;
    if (info.hasAudio && wave.encoding != 0)
        out["audio"] = AudioTypeName(GetTTXAudioType(wave.encoding, wave.rateCode));
    else
        out["audio"] = nullptr;
    // The vehicle's plate is what the recorder labels its recordings with.
    out["label"] = std::string(terminal.vehicle, strnlen(terminal.vehicle, sizeof terminal.vehicle));
    out["terminal"] = std::string(terminal.terminal, strnlen(terminal.terminal, sizeof terminal.terminal));
    out["begin_us"] = info.beginTime;
    out["end_us"] = info.endTime;
    out["audio_encoding"] = wave.encoding;
    out["audio_rate_code"] = wave.rateCode;
    out["attached_info"] = info.hasInfo != 0;
    WriteJson(out.dump() + "\n");
    return kExitOk;
}

}  // namespace velmor::cli
