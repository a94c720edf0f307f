// info and frames for IFV files, through the player's IFV library.
#include <nlohmann/json.hpp>

#include <cstring>
#include <vector>

#include "common/FileReader.h"
#include "player/formats/IfvFile.h"
#include "player/playback/StreamRules.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace velmor::cli {
namespace {

class CIfvHandle {
public:
    explicit CIfvHandle(const std::string& path) : m_file(RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_READ))
    {
        if (!m_file) throw CliError(path, "not a readable IFV file");
    }
    ~CIfvHandle() { RK_CloseFile2(m_file); }
    CIfvHandle(const CIfvHandle&) = delete;
    CIfvHandle& operator=(const CIfvHandle&) = delete;
    FILEHANDLE* Get() const { return m_file; }

private:
    FILEHANDLE* m_file;
};

std::string FourCc(uint32_t code)
{
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = char(code >> (8 * i));
        if (c) s += c;
    }
    return s;
}

}  // namespace

int RunIfvInfo(const std::string& path)
{
    CIfvHandle file(path);
    FILEHANDLE* h = file.Get();
    const uint32_t begin = RK_FileGetStartTime(h);
    const uint32_t end = RK_FileGetEndTime(h);
    const bool h265 = FourCc(RK_FileGetVideoCodec(h)) == "H265";
    // The size the stream itself announces, as the play window probes it;
    // the header's size is what the writer was told.
    uint16_t width = uint16_t(RK_FileGetWidth(h)), height = uint16_t(RK_FileGetHeight(h));
    if (RK_FileGetVideoFrameCount(h) > 0) {
        uint16_t w = 0, hh = 0;
        if (RK_FileGetVideoSizeByIFrame(h, 0, h265 ? 1 : 0, &w, &hh) == 1) {
            width = w;
            height = hh;
        }
    }
    nlohmann::ordered_json out;
    out["format"] = "ifv_file";
    out["begin"] = begin;
    out["end"] = end;
    out["begin_text"] = TimeText(begin);
    out["end_text"] = TimeText(end);
    out["channels"] = nlohmann::ordered_json::array({1});
    out["width"] = width;
    out["height"] = height;
    out["codec"] = h265 ? "H.265" : "H.264";
    out["frame_rate"] = IfvFrameRate(RK_FileGetVideoFrameCount(h), begin, end);
    if (RK_FileHasAudio(h))
        out["audio"] = AudioTypeName(IfvAudioType(FourCc(RK_FileGetAudioCodec(h))));
    else
        out["audio"] = nullptr;
    out["label"] = "";
    out["event_channel"] = RK_FileGetEventChannel(h);
    out["duration_ms"] = RK_FileGetDuration(h);
    out["video_frames"] = RK_FileGetVideoFrameCount(h);
    WriteJson(out.dump() + "\n");
    return kExitOk;
}

}  // namespace velmor::cli
