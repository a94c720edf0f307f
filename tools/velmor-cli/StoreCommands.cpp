// store: the container file system on a mounted partition, through rkstore
// (mounted read-only, then unmounted):
//   velmor-cli store info   [--device DEV] DIR
//   velmor-cli store search [--device DEV] DIR [--channels L] [--stream 0|1|any] [--readonly 0|1|any]
//                           [--reason MASK] [--from s] [--to s] [--capacity N]
//   velmor-cli store frames [--device DEV] DIR --uuid U [--seek s] [--video|--audio|--iframes [--backward]]
//                           [--count N]
//   velmor-cli store files  [--device DEV] DIR [--hint P]
//   velmor-cli store cat    [--device DEV] DIR NAME
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cctype>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include "player/playback/FrameSource.h"
#include "store/format/RkFormat.h"
#include "store/include/rkstore.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace fs = std::filesystem;

namespace velmor::cli {
namespace {

struct StoreOptions {
    std::string device;
    std::string dir;
    // search
    std::string channels;
    std::string stream = "any";
    std::string readOnly = "any";
    std::string reason;
    std::optional<uint32_t> from, to;
    std::optional<size_t> capacity;
    // frames
    std::string uuid;
    std::optional<uint32_t> seek;
    bool video = false, audio = false, iframes = false, backward = false;
    std::optional<uint64_t> count;
    // files, cat
    std::string hint = "*";
    std::string name;
};

// Mounts DIR read-only for the command's run.
class CStoreMount {
public:
    CStoreMount(const std::string& device, const std::string& dir)
    {
        std::string d = dir;
        while (d.size() > 1 && d.back() == '/') d.pop_back();
        std::error_code ec;
        if (!fs::is_directory(d, ec)) throw CliError(dir, "no such folder");
        if (d.size() < 2 || d.size() >= RKSFS_MNT_DIR_MAX)
            throw CliError(dir, "the folder's path must have 2 to " + std::to_string(RKSFS_MNT_DIR_MAX - 1) +
                                    " characters");
        if (!device.empty() && !fs::exists(device, ec)) throw CliError(device, "no such device or image file");
        if (RKSFS_Init(RKSFS_MAX_CHANNELS) != 0) throw CliError("rkstore", "cannot initialise the library");
        if (RKSFS_Mount2(device.empty() ? nullptr : device.c_str(), d.c_str(), 1) != 0)
            throw CliError(device.empty() ? dir : device,
                           "cannot mount the container files (the library's lines above on standard error say why)");
        m_dir = d;
    }
    ~CStoreMount() { RKSFS_Umount2(m_dir.c_str(), 1); }
    CStoreMount(const CStoreMount&) = delete;
    CStoreMount& operator=(const CStoreMount&) = delete;
    const std::string& Dir() const { return m_dir; }
    StMountInfo_t Info() const
    {
        StMountInfo_t info{};
        if (RKSFS_GetMountInfo(m_dir.c_str(), &info) != 0) throw CliError(m_dir, "the mount went away");
        return info;
    }

private:
    std::string m_dir;
};

uint64_t ParseNumber(const std::string& text, const std::string& subject, uint64_t max)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    uint64_t value = 0;
    bool ok = !digits.empty() && digits.size() <= 20;
    for (char c : digits) {
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : hex && std::isxdigit(static_cast<unsigned char>(c))
                          ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                          : -1;
        if (d < 0 || value > (max - uint64_t(d)) / (hex ? 16 : 10)) {
            ok = false;
            break;
        }
        value = value * (hex ? 16 : 10) + uint64_t(d);
    }
    if (!ok) throw CliError(subject, "'" + text + "' is not a number up to " + std::to_string(max));
    return value;
}

uint32_t Choice01Any(const std::string& text, const std::string& subject)
{
    if (text == "any") return 0xFFFFFFFFu;
    if (text == "0") return 0;
    if (text == "1") return 1;
    throw CliError(subject, "'" + text + "' is not 0, 1 or any");
}

uint32_t ChannelMask(const std::string& list)
{
    if (list.empty()) return 0xFFFF;
    uint32_t mask = 0;
    std::stringstream ss(list);
    std::string item;
    while (std::getline(ss, item, ',')) {
        const uint64_t ch = ParseNumber(item, "--channels", 16);
        if (ch < 1) throw CliError("--channels", "channels are counted from 1 to 16");
        mask |= 1u << (ch - 1);
    }
    if (mask == 0) throw CliError("--channels", "no channel given");
    return mask;
}

nlohmann::ordered_json IndexHeadJson(const StIndexHeadInfo_t& h)
{
    nlohmann::ordered_json j;
    j["self_blk_id"] = h.selfBlkId;
    j["use_id"] = h.useId;
    j["update_no"] = h.updateNo;
    j["last_apply_blk_id"] = h.lastApplyBlkId;
    j["first_data_blk_id"] = h.firstDataBlkId;
    j["data_blk_cover"] = h.dataBlkCover;
    j["mounted"] = h.mounted;
    return j;
}

int RunStoreInfo(const StoreOptions& o)
{
    CStoreMount mount(o.device, o.dir);
    const StMountInfo_t info = mount.Info();
    const char* dir = mount.Dir().c_str();
    nlohmann::ordered_json out;
    out["sector_size"] = info.sectorSize;
    out["blk_size"] = info.blkSize;
    out["blk_cnt"] = info.blkCnt;
    out["container_files"] = info.fileContCnt;
    out["index_heads"] = nlohmann::ordered_json::array();
    for (uint32_t i = 0; i < info.latestCnt && i < 2; ++i) out["index_heads"].push_back(IndexHeadJson(info.latestIBH[i]));
    out["first_data_blk_id"] = info.firstDataBlkId;
    out["last_apply_blk_id"] = info.lastApplyBlkId;
    out["total_space"] = RKSFS_GetTotalSpace(dir);
    out["free_space"] = RKSFS_GetFreeSpace(dir);
    out["covering"] = RKSFS_IsCovering(dir) != 0;
    out["oldest_end_time"] = RKSFS_GetOldestEndTime(dir);
    WriteJson(out.dump() + "\n");
    return kExitOk;
}

int RunStoreSearch(const StoreOptions& o)
{
    StRecSearchCond_t cond{};
    cond.chnBit = ChannelMask(o.channels);
    cond.subStream = Choice01Any(o.stream, "--stream");
    cond.readOnly = Choice01Any(o.readOnly, "--readonly");
    cond.reasonBit = o.reason.empty() ? 0xFFFFFF : uint32_t(ParseNumber(o.reason, "--reason", 0xFFFFFF));
    cond.beginTime = o.from.value_or(0);
    cond.endTime = o.to.value_or(0xFFFFFFFFu);
    if (cond.endTime < cond.beginTime) throw CliError("--to", "the span ends before it begins");
    if (o.capacity && *o.capacity == 0) throw CliError("--capacity", "must be at least 1");
    CStoreMount mount(o.device, o.dir);
    const StMountInfo_t info = mount.Info();
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    if (info.recFileFronts > 0) {
        const size_t capacity = o.capacity.value_or(std::max<size_t>(info.recFileFronts, 1));
        std::vector<StRecFileInfo_t> found(capacity);
        const int n = RKSFS_SearchLatestRecFile(mount.Dir().c_str(), &cond, found.data(), capacity, 0);
        if (n < 0) throw CliError(o.dir, "the record search failed (the library's lines above say why)");
        for (int i = 0; i < n; ++i) {
            const StRecFileInfo_t& f = found[size_t(i)];
            nlohmann::ordered_json j;
            j["uuid"] = f.uuid;
            j["channel"] = f.channel + 1;
            j["stream"] = f.subStream;
            j["read_only"] = f.readOnly != 0;
            j["reason"] = f.reasonBit;
            j["size"] = f.size;
            j["begin"] = f.beginTime;
            j["end"] = f.endTime;
            j["writing"] = f.writing != 0;
            j["continued"] = f.continued != 0;
            out.push_back(std::move(j));
        }
    }
    WriteJson(out.dump() + "\n");
    return kExitOk;
}

int RunStoreFrames(const StoreOptions& o)
{
    const int kinds = int(o.video) + int(o.audio) + int(o.iframes);
    if (kinds > 1) throw CliError("--video", "choose one of --video, --audio and --iframes");
    if (o.backward && !o.iframes) throw CliError("--backward", "goes with --iframes");
    const uint64_t uuid = ParseNumber(o.uuid, "--uuid", 0x7FFFFFFF);
    CStoreMount mount(o.device, o.dir);
    StRecFileInfo_t fi{};
    const std::string tail = mount.Dir().substr(mount.Dir().size() - 2);
    if (RKSFS_BuildRecFileInfo(&fi, int32_t(uuid), tail.c_str()) != 0)
        throw CliError(o.uuid, "no record file starts at this uuid on " + o.dir);
    auto source = CFrameSource::OpenMountedRecord(fi);
    if (source->OpenResult() != EFrameResult::kOk) throw CliError(o.uuid, source->ErrorText());
    if (o.seek && source->Seek(*o.seek) != EFrameResult::kOk) throw CliError(o.uuid, source->ErrorText());
    if (o.backward && !o.seek && source->Seek(fi.endTime) != EFrameResult::kOk)
        throw CliError(o.uuid, "cannot find the file's last I frame");
    source->SetFilter(o.iframes ? (o.backward ? EFrameFilter::kKeyFramesBackward : EFrameFilter::kKeyFrames)
                      : o.video ? EFrameFilter::kVideo
                      : o.audio ? EFrameFilter::kAudio
                                : EFrameFilter::kAll);
    static const char* const kKindNames[] = {"video", "audio", "info"};
    SourceFrame f;
    uint64_t printed = 0;
    while (!o.count || printed < *o.count) {
        const EFrameResult rc = source->Read(f);
        if (rc == EFrameResult::kEnd) break;
        if (rc != EFrameResult::kOk) {
            FlushJson();
            throw CliError(o.uuid, source->ErrorText() + "; the frames before it were listed");
        }
        WriteJson(FrameLine(kKindNames[int(f.kind)], f.type, f.key, f.length, f.pts, f.ms, f.data));
        ++printed;
    }
    return kExitOk;
}

std::vector<StCmFileInfo_t> ListFiles(const CStoreMount& mount, const std::string& hint)
{
    std::vector<StCmFileInfo_t> files(std::max<size_t>(mount.Info().cmFileFronts, 1));
    const int n = RKSFS_GetFileInfo(mount.Dir().c_str(), hint.c_str(), files.data(), files.size());
    if (n < 0) throw CliError(hint, "the common file listing failed (the library's lines above say why)");
    files.resize(std::min<size_t>(size_t(n), files.size()));
    return files;
}

int RunStoreFiles(const StoreOptions& o)
{
    if (o.hint.empty() || o.hint.size() > 63) throw CliError("--hint", "a hint has 1 to 63 characters");
    CStoreMount mount(o.device, o.dir);
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const StCmFileInfo_t& f : ListFiles(mount, o.hint)) {
        nlohmann::ordered_json j;
        j["uuid"] = f.uuid;
        j["name"] = std::string(f.fileName);
        j["size"] = f.size;
        j["content_size"] = f.dataSize;
        j["writing"] = f.writing != 0;
        out.push_back(std::move(j));
    }
    WriteJson(out.dump() + "\n");
    return kExitOk;
}

int RunStoreCat(const StoreOptions& o)
{
    if (o.name.empty() || o.name.size() > 63 || o.name.find('*') != std::string::npos)
        throw CliError(o.name, "a common file's name has 1 to 63 characters and no '*'");
    CStoreMount mount(o.device, o.dir);
    const auto files = ListFiles(mount, o.name);
    const StCmFileInfo_t* file = nullptr;
    for (const auto& f : files)
        if (o.name == f.fileName) file = &f;
    if (!file) throw CliError(o.name, "no common file of this name on " + o.dir);
    const int fd = RKSFS_Open(file, 0);
    if (fd < 0) throw CliError(o.name, "the common file cannot be opened");
    struct Closer {
        int fd;
        ~Closer() { RKSFS_CloseFile(fd); }
    } closer{fd};
    std::vector<uint8_t> buffer(1 << 20);
    for (;;) {
        const int64_t n = RKSFS_Read(fd, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            FlushJson();
            throw CliError(o.name, "unreadable at offset " + std::to_string(RKSFS_Ftell64(fd)));
        }
        WriteJson(std::string_view(reinterpret_cast<const char*>(buffer.data()), size_t(n)));
    }
    return kExitOk;
}

template <typename T>
void Optional(CLI::Option* opt, std::optional<T>& target, const T& value)
{
    if (opt->count() > 0) target = value;
}

}  // namespace

void AddStoreCommands(CLI::App& app, Runner& run)
{
    auto* store = app.add_subcommand(
        "store", "The container file system on a mounted partition (DIR: the folder of fcNNNNN.rpo files); "
                 "everything is read-only");
    store->require_subcommand(1);
    auto o = std::make_shared<StoreOptions>();
    auto common = [o](CLI::App* cmd) {
        cmd->add_option("--device", o->device,
                        "the partition's block device or image file (default: the device mounted at DIR, else the "
                        "geometry of the newest index block head)");
        cmd->add_option("DIR", o->dir, "the folder of the container files")->required();
    };

    auto* info = store->add_subcommand("info", "Geometry, index block heads, first and last blocks, space");
    common(info);
    info->callback([o, &run] { run = [o] { return RunStoreInfo(*o); }; });

    auto* search = store->add_subcommand("search", "The latest record files of a condition, as the library finds them");
    common(search);
    search->add_option("--channels", o->channels, "channels, counted from 1 (default: all 16)");
    search->add_option("--stream", o->stream, "0 main, 1 sub, any (default)");
    search->add_option("--readonly", o->readOnly, "0, 1 or any (default)");
    search->add_option("--reason", o->reason, "record reason mask (default 0xFFFFFF)");
    auto* from = search->add_option("--from", o->from.emplace(), "first second of the span (default 0)");
    auto* to = search->add_option("--to", o->to.emplace(), "last second of the span (default 4294967295)");
    auto* capacity = search->add_option("--capacity", o->capacity.emplace(),
                                        "room for this many files; when more match, the latest are kept "
                                        "(default: all)");
    search->callback([o, from, to, capacity, &run] {
        if (from->count() == 0) o->from.reset();
        if (to->count() == 0) o->to.reset();
        if (capacity->count() == 0) o->capacity.reset();
        run = [o] { return RunStoreSearch(*o); };
    });

    auto* frames = store->add_subcommand("frames", "NDJSON: the frames of one record file");
    common(frames);
    frames->add_option("--uuid", o->uuid, "the record file's uuid from store search")->required();
    auto* seek = frames->add_option("--seek", o->seek.emplace(), "seek to the I frame at or before this second first");
    frames->add_flag("--video", o->video, "video frames only");
    frames->add_flag("--audio", o->audio, "audio frames only");
    frames->add_flag("--iframes", o->iframes, "I frames only");
    frames->add_flag("--backward", o->backward,
                     "with --iframes: from the seek position (default: the last I frame) back to the first");
    auto* count = frames->add_option("--count", o->count.emplace(), "stop after this many frames");
    frames->callback([o, seek, count, &run] {
        if (seek->count() == 0) o->seek.reset();
        if (count->count() == 0) o->count.reset();
        run = [o] { return RunStoreFrames(*o); };
    });

    auto* files = store->add_subcommand("files", "The common files whose names match a hint");
    common(files);
    files->add_option("--hint", o->hint, "'*' (default), 'abc*', '*xyz' or a whole name");
    files->callback([o, &run] { run = [o] { return RunStoreFiles(*o); }; });

    auto* cat = store->add_subcommand("cat", "A common file's bytes on standard output");
    common(cat);
    cat->add_option("NAME", o->name, "the common file's whole name")->required();
    cat->callback([o, &run] { run = [o] { return RunStoreCat(*o); }; });
}

}  // namespace velmor::cli
