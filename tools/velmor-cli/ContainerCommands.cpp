// info and frames for container files, through rkcontainer as the player uses it.
#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "common/CodePage.h"
#include "container/include/rkcontainer.h"
#include "player/playback/StreamRules.h"
#include "store/format/RkFormat.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace velmor::cli {
namespace {

class CContainerHandle {
public:
    explicit CContainerHandle(const std::string& path) : m_path(path)
    {
        if (RKCONTAINER_OpenFile(&m_handle, path.c_str()) != 0) throw CliError(path, "cannot open the file");
    }
    ~CContainerHandle()
    {
        if (m_handle) RKCONTAINER_CloseFile(&m_handle);
    }
    CContainerHandle(const CContainerHandle&) = delete;
    CContainerHandle& operator=(const CContainerHandle&) = delete;
    RKCONTAINER_HANDLE* Slot() { return &m_handle; }

private:
    std::string m_path;
    RKCONTAINER_HANDLE m_handle = nullptr;
};

void RequireContainerSize(const std::string& path)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) throw CliError(path, "cannot read the file size");
    if (!rkfs::IsContainerFileSize(size))
        throw CliError(path, "not a container file: " + std::to_string(size) +
                                 " bytes, a container file has 134217728 or 268435456");
}

struct FileSummary {
    uint32_t begin = 0, end = 0, mask = 0;
    std::string label;
};

FileSummary Summarize(const std::string& path, CContainerHandle& file)
{
    FileSummary s;
    char car[16] = {};
    int rc = RKCONTAINER_GetSomeChnFileInfo(file.Slot(), 0xFFFF, &s.begin, &s.end, &s.mask, car);
    if (s.mask == 0) {
        if (rc < 0) throw CliError(path, "cannot read the block heads");
        throw CliError(path, "no recording in this container file");
    }
    if (rc < 0) Warn(path, "some block heads could not be read");
    s.label = GbkToUtf8(FieldText(car, 15));
    return s;
}

int LowestChannel(uint32_t mask)
{
    for (int c = 0; c < 16; ++c)
        if (mask & (1u << c)) return c;
    return -1;
}

}  // namespace

int RunContainerInfo(const std::string& path)
{
    RequireContainerSize(path);
    CContainerHandle file(path);
    const FileSummary s = Summarize(path, file);

    // Stream parameters of the first channel; the others of one recorder
    // usually match, and the play window reports each channel's own.
    CContainerHandle first(path);
    uint32_t b = 0, e = 0;
    RKCONTAINER_ENCODE enc{};
    const int channel = LowestChannel(s.mask);
    if (RKCONTAINER_GetOneChnFileInfo(first.Slot(), channel, &b, &e, &enc) != 0)
        throw CliError(path, "cannot select channel " + std::to_string(channel + 1));
    int width = 0, height = 0;
    if (RKCONTAINER_ConvResolution(nullptr, enc.reso, &width, &height, enc.videoStandard) != 0)
        Warn(path, "unknown resolution code " + std::to_string(enc.reso));

    nlohmann::ordered_json channels = nlohmann::ordered_json::array(), subStreams = nlohmann::ordered_json::array();
    for (int c = 0; c < 16; ++c) {
        if (!(s.mask & (1u << c))) continue;
        channels.push_back(c + 1);
        uint32_t streams = 0;
        if (RKCONTAINER_GetChnStreams(first.Slot(), c, &streams) == 0 && (streams & RKCONTAINER_HAS_SUB))
            subStreams.push_back(c + 1);
    }
    nlohmann::ordered_json out;
    out["format"] = "container_file";
    out["begin"] = s.begin;
    out["end"] = s.end;
    out["begin_text"] = TimeText(s.begin);
    out["end_text"] = TimeText(s.end);
    out["channels"] = channels;
    // Channels also recorded as a sub stream of small pictures.
    out["sub_streams"] = subStreams;
    out["width"] = width;
    out["height"] = height;
    out["codec"] = IsH265Encoding(enc.vEnc) ? "H.265" : "H.264";
    out["frame_rate"] = enc.frameRate == 0 ? 25 : enc.frameRate;
    if (enc.aEnc == 0)
        out["audio"] = nullptr;
    else
        out["audio"] = AudioTypeName(ContainerAudioType(enc.aEnc));
    out["label"] = s.label;
    out["encode"] = {{"reso", enc.reso},
                     {"video_standard", enc.videoStandard},
                     {"v_enc", enc.vEnc},
                     {"a_enc", enc.aEnc},
                     {"frame_rate", enc.frameRate}};
    WriteJson(out.dump() + "\n");
    return kExitOk;
}

}  // namespace velmor::cli
