// info and frames for backup record files (".rkrec" and other exports of one
// recording), through rkstore as the player uses it.
#include <nlohmann/json.hpp>

#include <cstring>
#include <vector>

#include "common/CodePage.h"
#include "common/FileReader.h"
#include "player/playback/StreamRules.h"
#include "store/format/RkFormat.h"
#include "store/include/rkstore.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace velmor::cli {
namespace {

class CBackupFile {
public:
    explicit CBackupFile(const std::string& path)
    {
        if (RKSFS_OpenBakRecFile(&m_op, path.c_str()) != 0)
            throw CliError(path, "not a readable backup record file (no valid block head at its start)");
    }
    ~CBackupFile() { RKSFS_CloseBakRecFile(&m_op); }
    CBackupFile(const CBackupFile&) = delete;
    CBackupFile& operator=(const CBackupFile&) = delete;
    StRecBakFileOp_t& Op() { return m_op; }
    rkfs::StRecHeadArea_t Block(uint32_t i) const
    {
        return rkfs::LoadStruct<rkfs::StRecHeadArea_t>(m_op.heads + size_t(i) * rkfs::kHeadAreaSize);
    }

private:
    StRecBakFileOp_t m_op{};
};

}  // namespace

int RunBackupInfo(const std::string& path)
{
    CBackupFile file(path);
    StRecBakFileOp_t& op = file.Op();
    StRecEncode_t enc{};
    if (RKSFS_GetBakRecFileEncode(&op, &enc, nullptr) != 0)
        throw CliError(path, "the encode record of the first block is not valid");
    uint32_t reso = enc.reso, width = 0, height = 0, standard = enc.videoStandard;
    if (RKSFS_ConvResolution(&reso, &width, &height, &standard, 1) != 0)
        Warn(path, "unknown resolution code " + std::to_string(enc.reso));
    const auto first = file.Block(0);

    nlohmann::ordered_json out;
    out["format"] = "backup_record_file";
    out["begin"] = op.recFI.beginTime;
    out["end"] = op.recFI.endTime;
    out["begin_text"] = TimeText(op.recFI.beginTime);
    out["end_text"] = TimeText(op.recFI.endTime);
    out["channels"] = nlohmann::ordered_json::array({op.recFI.channel + 1});
    out["width"] = width;
    out["height"] = height;
    out["codec"] = IsH265Encoding(int(enc.vEnc)) ? "H.265" : "H.264";
    out["frame_rate"] = enc.frameRate == 0 ? 25 : enc.frameRate;
    if (enc.aEnc == 0)
        out["audio"] = nullptr;
    else
        out["audio"] = AudioTypeName(RecordAudioType(int(enc.aEnc)));
    out["label"] = GbkToUtf8(FieldText(first.neck.carNumber, 15));
    out["sub_stream"] = op.recFI.subStream != 0;
    out["blocks"] = op.dataBlkCnt;
    out["size"] = op.recFI.size;
    out["continued"] = op.recFI.continued != 0;
    out["reason"] = op.recFI.reasonBit;
    WriteJson(out.dump() + "\n");
    return kExitOk;
}

}  // namespace velmor::cli
