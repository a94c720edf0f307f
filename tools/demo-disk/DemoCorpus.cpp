#include "tools/demo-disk/DemoCorpus.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "common/CodePage.h"
#include "player/formats/IfvFile.h"
#include "player/formats/IfvFormat.h"
#include "tests/support/BackupWriter.h"
#include "tests/support/EventWriter.h"
#include "tests/support/GrecWriter.h"
#include "tests/support/IndexWriter.h"
#include "tests/support/LogWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/PartitionWriter.h"
#include "tools/demo-disk/DemoMap.h"
#include "tools/demo-disk/DemoMedia.h"
#include "tools/gps-table/PositionTable.h"

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace velmor::demo {

using namespace fixtures;

namespace {

// Recorder clock: 2026-12-01 and 2026-12-02.
constexpr uint32_t kDay1 = 1796083200;
constexpr uint32_t kDay2 = kDay1 + 86400;
constexpr uint32_t At(uint32_t day, uint32_t h, uint32_t m, uint32_t s) { return day + h * 3600 + m * 60 + s; }

// The bus whose partition, downloads and exports make most of the corpus,
// and a second vehicle whose recorder keeps an index disk.
const std::string kCarA = "\xE7\xB2\xA4" "B12345";  // UTF-8
const std::string kCarB = "\xE6\xB5\x99" "A88888";

// The smallest partition a recorder formats: 55 container files.
constexpr uint32_t kContainerFiles = 55;
constexpr uint8_t kAudioEncG711A = 2;  // container audio encoding played as G.711 A-law
constexpr int kIfvAudioG711A = 11;     // IFV audio type index "711A"
constexpr uint32_t kIndexAreas = 16;

std::string TimeText(uint32_t t)
{
    std::time_t v = t;
    std::tm tm{};
    gmtime_r(&v, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

// "%Y%m%d", "%H%M%S", "%Y-%m-%d" pieces of a recorder time.
std::string Format(uint32_t t, const char* pattern)
{
    std::time_t v = t;
    std::tm tm{};
    gmtime_r(&v, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, pattern, &tm);
    return buf;
}

std::string Rel(const fs::path& root, const fs::path& p) { return p.lexically_relative(root).generic_string(); }

void AddSpan(json& j, uint32_t begin, uint32_t end)
{
    j["begin"] = begin;
    j["end"] = end;
    j["begin_text"] = TimeText(begin);
    j["end_text"] = TimeText(end);
}

// ---- The vehicle's routes -----------------------------------------------------

// Shennan Boulevard, Shenzhen, eastwards from Window of the World.
const std::vector<GeoPoint> kRouteDay1 = {
    {22.53622, 113.97260}, {22.53770, 113.98240}, {22.53880, 113.98740},
    {22.53960, 113.99600}, {22.54030, 114.00870}, {22.53960, 114.02230},
};
// The same boulevard further east, through Futian.
const std::vector<GeoPoint> kRouteDay2 = {
    {22.53960, 114.02230}, {22.54030, 114.03300}, {22.54180, 114.04500},
    {22.54250, 114.05500}, {22.54320, 114.06900}, {22.54390, 114.08200},
};
// Yan'an Road, Hangzhou, northwards.
const std::vector<GeoPoint> kRouteB = {
    {30.24550, 120.16600}, {30.25200, 120.16630}, {30.25950, 120.16650}, {30.26700, 120.16690}, {30.27400, 120.16720},
};

// ---- IFV files ---------------------------------------------------------------

struct IfvWritten {
    uint32_t begin = 0;
    uint32_t end = 0;
    uint32_t video = 0;
    uint32_t audio = 0;
    uint32_t attach = 0;
};


void Need(int rc, const char* what, const fs::path& path)
{
    if (rc < 0) throw std::runtime_error(std::string(what) + " failed for " + path.string());
}

// Seconds [from, to) of a clip as an IFV file, as a recorder exports them.
IfvWritten WriteIfv(const fs::path& path, const ClipMedia& m, uint32_t from, uint32_t to, uint16_t eventChannel)
{
    const Clip& c = m.clip;
    if (from >= to || to > c.seconds) throw std::logic_error("IFV cut outside its clip");
    IfvFilePtr w(RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_WRITE));
    if (!w) throw std::runtime_error("cannot create " + path.string());
    Need(RK_FileSetVideoParam(w.get(), kWidth, kHeight, float(c.fps), c.codec == VideoCodec::kH265 ? 1 : 0),
         "setting the video of", path);
    if (c.audio)
        Need(RK_FileSetAudioParam(w.get(), 1, 16, 8000, kIfvAudioG711A, int(m.voice.front().size()), int(kVoiceFrameMs)),
             "setting the audio of", path);
    Need(RK_FileEnableAttach(w.get()), "enabling attach records of", path);
    IfvWritten out;
    out.begin = c.begin + from;
    Need(RK_FileSetStartTime(w.get(), out.begin), "setting the start of", path);

    const uint64_t baseMs = uint64_t(from) * 1000, endMs = uint64_t(to) * 1000;
    size_t v = size_t(from) * size_t(c.fps), a = size_t(baseMs / kVoiceFrameMs), x = from;
    const size_t vEnd = size_t(to) * size_t(c.fps), aEnd = c.audio ? size_t(endMs / kVoiceFrameMs) : 0;
    if (!c.audio) a = 0;
    uint32_t lastMs = 0;
    for (;;) {
        const uint64_t vt = v < vEnd ? c.VideoMs(v) : UINT64_MAX;
        const uint64_t at = a < aEnd ? uint64_t(a) * kVoiceFrameMs : UINT64_MAX;
        const uint64_t xt = x < to ? uint64_t(x) * 1000 : UINT64_MAX;
        if (vt == UINT64_MAX && at == UINT64_MAX && xt == UINT64_MAX) break;
        int rc = 0;
        // Video before audio before attach records at the same time, the order readers deliver.
        if (vt <= at && vt <= xt) {
            const AccessUnit& u = m.video[v];
            lastMs = uint32_t(vt - baseMs);
            rc = RK_FileWriteVideoFrame(w.get(), u.data.data(), uint32_t(u.data.size()), lastMs, u.key ? 5 : 1,
                                        c.VideoPtsUs(v), nullptr);
            ++v;
            ++out.video;
        } else if (at <= xt) {
            const auto& f = m.voice[a];
            lastMs = uint32_t(at - baseMs);
            rc = RK_FileWriteAudioFrame(w.get(), f.data(), uint32_t(f.size()), lastMs, nullptr);
            ++a;
            ++out.audio;
        } else {
            const auto& r = m.info[x];
            lastMs = uint32_t(xt - baseMs);
            rc = RK_FileWriteAttachFrame(w.get(), r.data(), uint32_t(r.size()), lastMs, nullptr);
            ++x;
            ++out.attach;
        }
        Need(rc, "writing a record into", path);
    }
    if (RK_CloseFile2(w.release()) != 0) throw std::runtime_error("cannot finish " + path.string());
    out.end = out.begin + lastMs / 1000;

    if (eventChannel != 0) {
        // The writer leaves the event channel 0; a recorder's event
        // recordings name their channel there.
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        uint8_t bytes[2] = {uint8_t(eventChannel), uint8_t(eventChannel >> 8)};
        f.seekp(std::streamoff(offsetof(ifv::StFilePropertiesObject_t, eventChannel)));
        f.write(reinterpret_cast<const char*>(bytes), 2);
        if (!f) throw std::runtime_error("cannot set the event channel of " + path.string());
    }
    return out;
}

json IfvJson(const fs::path& root, const fs::path& path, const ClipMedia& m, const IfvWritten& w)
{
    json j;
    j["path"] = Rel(root, path);
    j["channel"] = m.clip.channel;
    AddSpan(j, w.begin, w.end);
    j["codec"] = CodecName(m.clip.codec);
    j["frame_rate"] = m.clip.fps;
    j["width"] = kWidth;
    j["height"] = kHeight;
    j["audio"] = m.clip.audio ? json("G711A") : json(nullptr);
    j["video_frames"] = w.video;
    j["audio_frames"] = w.audio;
    j["attach_records"] = w.attach;
    return j;
}

// ---- Logs --------------------------------------------------------------------

struct LogKind {
    uint8_t type;
    const char* remark;  // UTF-8
};

// A recorder's day: power, logins, recording, alarms, the mobile network
// and the G-sensor.
const LogKind kLogKinds[] = {
    {0x10, ""},      {0x11, ""},       {0x12, "admin"}, {0x13, "admin"},  {0x14, "\xE5\xBD\x95\xE5\x83\x8F\xE5\x8F\x82\xE6\x95\xB0"},
    {0x15, "CH1"},   {0x16, "CH1"},    {0x20, "center"}, {0x21, "center"}, {0x24, "center"},
    {0x00, "IN1"},   {0x01, "IN1"},    {0x02, "CH2"},   {0x03, "CH2"},    {0x30, "CH4"},
    {0x54, "4G"},    {0x55, "4G"},     {0x62, "0.45g"}, {0x63, "0.52g"},  {0x64, "0.38g"},
};

json WriteLog(const fs::path& root, const fs::path& path, uint32_t slots, uint32_t records, uint32_t start, uint64_t seed)
{
    CLogFileImage log(slots);
    CSplitMix64 rng(seed);
    uint32_t t = start;
    for (uint32_t i = 0; i < records; ++i) {
        t += rng.Range(40, 400);
        const LogKind& k = kLogKinds[rng.Range(0, uint32_t(std::size(kLogKinds)) - 1)];
        log.Append(MakeLogRecord(k.type, t, Utf8ToGbk(k.remark), uint32_t(rng.Next()), 0));
    }
    log.Save(path);
    const auto kept = log.Kept();
    uint32_t alarm = 0;
    for (const auto& r : kept) alarm += r.mainType() == 0 ? 1 : 0;
    json j;
    j["path"] = Rel(root, path);
    j["slots"] = slots;
    j["written"] = records;
    j["records"] = kept.size();
    j["alarm_records"] = alarm;
    j["operation_records"] = kept.size() - alarm;
    j["wrapped"] = records > slots;
    if (!kept.empty()) {
        j["first"] = kept.front().time.get();
        j["last"] = kept.back().time.get();
    }
    return j;
}

// ---- The container partition --------------------------------------------------

struct PartitionClip {
    ClipMedia media;
    std::vector<uint32_t> blocks;
    uint32_t audioFrames = 0;
};

// Writes one day's clips interleaved in time, frame by frame, as the
// recorder writes all its channels at once.
void WriteDay(CPartitionImage& image, std::vector<PartitionClip*>& clips, const std::string& carGbk)
{
    struct Item {
        uint64_t pts;
        uint16_t clip;
        uint8_t kind;  // 0 video, 1 audio, 2 information
        uint32_t index;
    };
    std::vector<Item> items;
    for (uint16_t c = 0; c < clips.size(); ++c) {
        const ClipMedia& m = clips[c]->media;
        for (uint32_t i = 0; i < m.video.size(); ++i) items.push_back({m.clip.VideoPtsUs(i), c, 0, i});
        for (uint32_t k = 0; k < m.voice.size(); ++k)
            items.push_back({uint64_t(m.clip.begin) * 1000000 + uint64_t(k) * kVoiceFrameMs * 1000, c, 1, k});
        for (uint32_t s = 0; s < m.info.size(); ++s) items.push_back({uint64_t(m.clip.begin + s) * 1000000, c, 2, s});
    }
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        if (a.pts != b.pts) return a.pts < b.pts;
        if (a.clip != b.clip) return a.clip < b.clip;
        return a.kind < b.kind;
    });

    std::vector<std::unique_ptr<CRecordWriter>> writers;
    for (PartitionClip* pc : clips) {
        const Clip& c = pc->media.clip;
        RecordingParams p;
        p.channel = uint8_t(c.channel - 1);
        p.subStream = c.subStream;
        // The resolution codes know no size below 352x288: a sub stream
        // carries the smallest code and its pictures tell their own size.
        p.encode = {0, 0, uint8_t(c.codec == VideoCodec::kH265 ? 2 : 1), uint8_t(c.audio ? kAudioEncG711A : 0),
                    uint8_t(c.fps)};
        p.carNumber = carGbk;
        p.reason = 1;
        writers.push_back(std::make_unique<CRecordWriter>(image, p));
    }
    for (const Item& it : items) {
        const ClipMedia& m = clips[it.clip]->media;
        WriteResult r;
        if (it.kind == 0) {
            const AccessUnit& u = m.video[it.index];
            r = writers[it.clip]->WriteFrame(u.key ? 1 : 2, it.pts, u.data.data(), uint32_t(u.data.size()));
        } else if (it.kind == 1) {
            const auto& f = m.voice[it.index];
            r = writers[it.clip]->WriteFrame(4, it.pts, f.data(), uint32_t(f.size()));
            ++clips[it.clip]->audioFrames;
        } else {
            const auto& f = m.info[it.index];
            r = writers[it.clip]->WriteFrame(5, it.pts, f.data(), uint32_t(f.size()));
        }
        if (r != WriteResult::kWritten) throw std::runtime_error("the partition refused a frame");
    }
    for (size_t c = 0; c < clips.size(); ++c) {
        writers[c]->Close();
        clips[c]->blocks = writers[c]->Blocks();
    }
}

}  // namespace

json BuildCorpus(const fs::path& rootIn, const Progress& progress)
{
    const auto say = [&](const std::string& s) {
        if (progress) progress(s);
    };
    std::error_code ec;
    if (fs::exists(rootIn, ec) && !(fs::is_directory(rootIn, ec) && fs::is_empty(rootIn, ec)))
        throw std::runtime_error(rootIn.string() + ": already exists and is not an empty folder");
    fs::create_directories(rootIn);
    const fs::path root = fs::canonical(rootIn);
    const std::string carA = Utf8ToGbk(kCarA), carB = Utf8ToGbk(kCarB);

    json manifest;
    manifest["generator"] = "velmor-demo-disk";
    // Raised whenever the corpus changes, so that a corpus kept from an
    // earlier build is made again.
    manifest["version"] = 3;
    manifest["vehicles"] = json::array({kCarA, kCarB});

    // ---- Vehicle A: six cameras over two days ----
    const CRouteTrack track1(kRouteDay1, At(kDay1, 10, 0, 0), 1);
    const CRouteTrack track2(kRouteDay2, At(kDay2, 8, 30, 0), 2);
    using VC = VideoCodec;
    const std::vector<Clip> day1 = {
        {1, VC::kH264, 25, At(kDay1, 10, 0, 0), 310, true, 101},  {2, VC::kH264, 15, At(kDay1, 10, 0, 0), 120, true, 102},
        {3, VC::kH265, 10, At(kDay1, 10, 0, 20), 40, false, 103}, {4, VC::kH264, 10, At(kDay1, 10, 1, 0), 120, false, 104},
        {5, VC::kH264, 10, At(kDay1, 10, 3, 0), 60, false, 105},  {6, VC::kH265, 5, At(kDay1, 10, 2, 0), 30, false, 106},
    };
    const std::vector<Clip> day2 = {
        {1, VC::kH264, 25, At(kDay2, 8, 30, 0), 60, true, 201},   {2, VC::kH264, 15, At(kDay2, 8, 30, 0), 30, true, 202},
        {3, VC::kH265, 10, At(kDay2, 8, 30, 0), 20, false, 203},  {4, VC::kH264, 10, At(kDay2, 8, 30, 10), 30, false, 204},
        {5, VC::kH264, 10, At(kDay2, 8, 30, 10), 30, false, 205}, {6, VC::kH265, 5, At(kDay2, 8, 30, 0), 20, false, 206},
    };
    std::vector<PartitionClip> clipsA;
    clipsA.reserve(day1.size() + day2.size());
    for (const Clip& c : day1) {
        say("encoding channel " + std::to_string(c.channel) + " of " + TimeText(c.begin) + " (" + CodecName(c.codec) + ")");
        clipsA.push_back({MakeClipMedia(c, track1), {}, 0});
    }
    for (const Clip& c : day2) {
        say("encoding channel " + std::to_string(c.channel) + " of " + TimeText(c.begin) + " (" + CodecName(c.codec) + ")");
        clipsA.push_back({MakeClipMedia(c, track2), {}, 0});
    }
    const auto clipA = [&](uint32_t day, int channel) -> const ClipMedia& {
        return clipsA[(day == kDay1 ? 0 : day1.size()) + size_t(channel - 1)].media;
    };
    // Channels 1 and 2 are also recorded in a sub stream, over the same
    // seconds: the windows of the large layouts play these.
    std::vector<PartitionClip> subA;
    subA.reserve(4);
    for (const std::vector<Clip>* day : {&day1, &day2})
        for (size_t i = 0; i < 2; ++i) {
            Clip c = (*day)[i];
            c.subStream = true;
            c.width = kSubWidth;
            c.height = kSubHeight;
            c.seed += 1000;
            say("encoding the sub stream of channel " + std::to_string(c.channel) + " of " + TimeText(c.begin));
            subA.push_back({MakeClipMedia(c, day == &day1 ? track1 : track2), {}, 0});
        }

    // ---- The container partition ----
    say("writing the container partition");
    const fs::path partRoot = root / "partition";
    PartitionOptions po;
    po.containerFiles = kContainerFiles;
    po.deviceImage = true;
    CPartitionImage image(partRoot, po);
    for (size_t d = 0; d < 2; ++d) {
        // The second day's recordings run from the end of the first
        // container file into the next, as recordings do on a disk in use.
        if (d == 1) image.SetNextBlock(29);
        std::vector<PartitionClip*> clips;
        for (size_t i = 0; i < day1.size(); ++i) clips.push_back(&clipsA[d * day1.size() + i]);
        for (size_t i = 0; i < 2; ++i) clips.push_back(&subA[d * 2 + i]);
        WriteDay(image, clips, carA);
    }
    image.WriteIndexHead({});
    {
        json p;
        p["path"] = Rel(root, image.Dir());
        p["device"] = Rel(root, image.Device());
        p["car_number"] = kCarA;
        p["container_files"] = image.ContainerFiles();
        p["block_size"] = image.BlockSize();
        json recs = json::array();
        for (const PartitionClip& pc : clipsA) {
            const Clip& c = pc.media.clip;
            json r;
            r["channel"] = c.channel;
            AddSpan(r, c.begin, c.LastSecond());
            r["codec"] = CodecName(c.codec);
            r["frame_rate"] = c.fps;
            r["width"] = kWidth;
            r["height"] = kHeight;
            r["audio"] = c.audio ? json("G711A") : json(nullptr);
            r["label"] = kCarA;
            r["video_frames"] = pc.media.video.size();
            r["audio_frames"] = pc.audioFrames;
            r["info_frames"] = pc.media.info.size();
            r["blocks"] = pc.blocks.size();
            r["first_block"] = pc.blocks.front();
            bool sub = false;
            for (const PartitionClip& s : subA) sub |= s.media.clip.channel == c.channel && s.media.clip.begin == c.begin;
            r["sub_stream"] = sub;
            recs.push_back(r);
        }
        p["recordings"] = recs;
        // The sub streams of recordings above, in the same seconds.
        json subs = json::array();
        for (const PartitionClip& pc : subA) {
            const Clip& c = pc.media.clip;
            json r;
            r["channel"] = c.channel;
            AddSpan(r, c.begin, c.LastSecond());
            r["codec"] = CodecName(c.codec);
            r["frame_rate"] = c.fps;
            r["width"] = c.width;
            r["height"] = c.height;
            r["audio"] = c.audio ? json("G711A") : json(nullptr);
            r["video_frames"] = pc.media.video.size();
            r["audio_frames"] = pc.audioFrames;
            r["info_frames"] = pc.media.info.size();
            r["blocks"] = pc.blocks.size();
            r["first_block"] = pc.blocks.front();
            subs.push_back(r);
        }
        p["sub_streams"] = subs;
        json alarms = json::array();
        for (const auto& [track, from, to] : {std::tuple{&track1, At(kDay1, 10, 0, 0), At(kDay1, 10, 5, 9)},
                                              std::tuple{&track2, At(kDay2, 8, 30, 0), At(kDay2, 8, 30, 59)}})
            for (const auto& a : track->Alarms(from, to)) {
                json j;
                AddSpan(j, a.begin, a.end);
                j["alarm_sign"] = a.alarmSign;
                j["name"] = a.name;
                alarms.push_back(j);
            }
        p["alarms"] = alarms;
        p["log"] = WriteLog(root, image.Dir() / "log.bin", 256, 200, At(kDay1, 6, 0, 0), 11);
        manifest["partition"] = p;
    }

    // ---- Backup record files exported from the partition ----
    say("exporting backup record files");
    {
        fs::create_directories(root / "backup");
        json list = json::array();
        for (const auto& [day, channel] : {std::pair{kDay2, 1}, std::pair{kDay1, 3}}) {
            const size_t idx = (day == kDay1 ? 0 : day1.size()) + size_t(channel - 1);
            const PartitionClip& pc = clipsA[idx];
            const Clip& c = pc.media.clip;
            char name[64];
            std::snprintf(name, sizeof name, "CH%02d_%s_%s.rkrec", c.channel, Format(c.begin, "%Y%m%d").c_str(),
                          Format(c.begin, "%H%M%S").c_str());
            const fs::path path = root / "backup" / name;
            ExportBackupFile(image, pc.blocks, path);
            json j;
            j["path"] = Rel(root, path);
            j["channel"] = c.channel;
            AddSpan(j, c.begin, c.LastSecond());
            j["codec"] = CodecName(c.codec);
            j["frame_rate"] = c.fps;
            j["audio"] = c.audio ? json("G711A") : json(nullptr);
            j["label"] = kCarA;
            j["video_frames"] = pc.media.video.size();
            j["audio_frames"] = pc.audioFrames;
            j["info_frames"] = pc.media.info.size();
            list.push_back(j);
        }
        manifest["backup_files"] = list;
    }

    // ---- Single IFV files ----
    say("writing IFV files");
    {
        fs::create_directories(root / "ifv");
        json list = json::array();
        for (int channel : {2, 6}) {
            const ClipMedia& m = clipA(kDay1, channel);
            char name[64];
            std::snprintf(name, sizeof name, "CH%02d_%s_%s.ifv", channel, Format(m.clip.begin, "%Y%m%d").c_str(),
                          Format(m.clip.begin, "%H%M%S").c_str());
            const fs::path path = root / "ifv" / name;
            list.push_back(IfvJson(root, path, m, WriteIfv(path, m, 0, m.clip.seconds, 0)));
        }
        manifest["ifv_files"] = list;
    }

    // ---- A grec file: the cabin camera with its sound and per-second records ----
    say("writing the grec file");
    {
        fs::create_directories(root / "grec");
        const ClipMedia& m = clipA(kDay1, 2);
        GrecLayout layout;
        layout.codec = m.clip.codec;
        layout.width = kWidth;
        layout.height = kHeight;
        layout.fps = m.clip.fps;
        layout.originUs = uint64_t(m.clip.begin) * 1000000;
        layout.terminal = "T-0002";
        layout.vehicle = kCarA;
        layout.audioEncoding = 8;  // the cabin voice is G.711 A-law
        layout.withInfoTrack = true;
        std::vector<GrecWriteFrame> frames;
        for (size_t i = 0; i < m.video.size(); ++i)
            frames.push_back({GrecWriteFrame::kVideo, m.clip.VideoMs(i), m.video[i].key, m.video[i].data, {}});
        for (size_t k = 0; k < m.voice.size(); ++k)
            frames.push_back({GrecWriteFrame::kAudio, uint32_t(k * kVoiceFrameMs), false, m.voice[k], {}});
        for (size_t s = 0; s < m.info.size(); ++s)
            frames.push_back({GrecWriteFrame::kInfo, uint32_t(s * 1000), false, {m.info[s].begin(), m.info[s].end()}, {}});
        std::stable_sort(frames.begin(), frames.end(),
                         [](const GrecWriteFrame& a, const GrecWriteFrame& b) { return a.ms < b.ms; });
        char name[64];
        std::snprintf(name, sizeof name, "CH%02d_%s_%s.grec", m.clip.channel, Format(m.clip.begin, "%Y%m%d").c_str(),
                      Format(m.clip.begin, "%H%M%S").c_str());
        const fs::path path = root / "grec" / name;
        WriteGrecFile(path, layout, frames);
        json j;
        j["path"] = Rel(root, path);
        j["channel"] = m.clip.channel;
        // The file's span runs to the end of its last second.
        AddSpan(j, m.clip.begin, m.clip.begin + m.clip.seconds);
        j["codec"] = CodecName(m.clip.codec);
        j["frame_rate"] = m.clip.fps;
        j["width"] = kWidth;
        j["height"] = kHeight;
        j["audio"] = "G711A";
        j["terminal"] = layout.terminal;
        j["vehicle"] = kCarA;
        j["video_frames"] = m.video.size();
        j["audio_frames"] = m.voice.size();
        j["attach_records"] = m.info.size();
        manifest["grec_files"] = json::array({j});
    }

    // ---- The download tree of the file transfer ----
    say("writing the download tree");
    {
        const fs::path treeRoot = root / "download";
        struct Cut {
            uint32_t day;
            int channel;
            uint32_t from, to;
            uint32_t alarm;
        };
        const Cut cuts[] = {
            {kDay1, 1, 0, 60, 0}, {kDay1, 1, 120, 150, 8}, {kDay1, 2, 0, 60, 0}, {kDay2, 1, 0, 60, 0}, {kDay2, 3, 0, 20, 0},
        };
        json list = json::array();
        for (const Cut& cut : cuts) {
            const ClipMedia& m = clipA(cut.day, cut.channel);
            const uint32_t begin = m.clip.begin + cut.from, last = m.clip.begin + cut.to - 1;
            const fs::path dir = treeRoot / kCarA / Format(begin, "%Y-%m-%d");
            fs::create_directories(dir);
            // Channel token, begin, end, alarm token ("A<value>C<n>"), time.
            const std::string name = "CH" + std::to_string(cut.channel) + "_" + Format(begin, "%H%M%S") + "_" +
                                     Format(last, "%H%M%S") + "_A" + std::to_string(cut.alarm) + "C" +
                                     (cut.alarm ? "1" : "0") + "_" + Format(begin + (cut.alarm ? 10 : 0), "%H%M%S") +
                                     ".ifv";
            json j = IfvJson(root, dir / name, m, WriteIfv(dir / name, m, cut.from, cut.to, 0));
            j["name"] = name;
            j["car_number"] = kCarA;
            j["alarm"] = cut.alarm;
            list.push_back(j);
        }
        json t;
        t["path"] = Rel(root, treeRoot);
        t["device_folder"] = Rel(root, treeRoot / kCarA);
        t["files"] = list;
        manifest["download_tree"] = t;
    }

    // ---- A folder of the client download tool ----
    say("writing the client download folder");
    {
        const fs::path dir = root / "client" / kCarA;
        fs::create_directories(dir);
        json list = json::array();
        for (const auto& [day, channel] : {std::pair{kDay2, 1}, std::pair{kDay2, 2}, std::pair{kDay1, 5}}) {
            const ClipMedia& m = clipA(day, channel);
            char tail[16];
            std::snprintf(tail, sizeof tail, "chn%02d.ifv", channel);
            const std::string name = "D0001_" + Format(m.clip.begin, "%Y%m%d_%H%M%S") + "_" +
                                     Format(m.clip.LastSecond(), "%Y%m%d_%H%M%S") + "_" + tail;
            json j = IfvJson(root, dir / name, m, WriteIfv(dir / name, m, 0, m.clip.seconds, 0));
            j["name"] = name;
            j["car_number"] = kCarA;
            list.push_back(j);
        }
        json c;
        c["path"] = Rel(root, dir);
        c["files"] = list;
        manifest["client_download"] = c;
    }

    // ---- Vehicle B: an index disk ----
    say("writing the index disk");
    {
        const fs::path disk = root / "index-disk";
        fs::create_directories(disk / "KORADVR");
        const CRouteTrack trackB(kRouteB, At(kDay1, 14, 0, 0), 3);
        CIndexImage index(kIndexAreas, 0);
        json records = json::array();
        std::vector<uint16_t> flyChannel(kIndexAreas, 0);
        // Each channel's first recording is a closed area of the file-table
        // ring; its second is still the channel's current area.
        for (uint32_t seg = 0; seg < 2; ++seg) {
            for (int ch = 1; ch <= 4; ++ch) {
                const uint32_t area = seg * 4 + uint32_t(ch - 1);
                const Clip clip{ch, VC::kH264, 10, At(kDay1, 14, seg * 10, 0), 20, ch == 1, 300u + area};
                say("encoding index-disk channel " + std::to_string(ch) + " of " + TimeText(clip.begin));
                const ClipMedia m = MakeClipMedia(clip, trackB);
                char name[32];
                std::snprintf(name, sizeof name, "fly%05u.ifv", area);
                const IfvWritten w = WriteIfv(disk / name, m, 0, clip.seconds, uint16_t(ch));
                flyChannel[area] = uint16_t(ch);
                IndexSegment s;
                s.channel = uint8_t(ch);
                s.flags = (seg == 1 && ch == 1) ? 0x04 : 0x01;  // the alarm recording of channel 1
                s.begin = w.begin;
                s.end = w.end;
                s.beginOffset = 0;
                s.endOffset = uint32_t(fs::file_size(disk / name));
                s.label = carB;
                index.SetRecords(area, {s});
                if (seg == 0)
                    index.SetEntry(area, area, uint8_t(ch), 0, s.begin, s.end);
                else
                    index.SetCurrent(uint32_t(ch - 1), uint16_t(area), 0, s.begin, s.end);
                json j = IfvJson(root, disk / name, m, w);
                j["area"] = area;
                j["flags"] = s.flags;
                j["offset"] = s.beginOffset;
                j["length"] = s.endOffset - s.beginOffset;
                j["label"] = kCarB;
                records.push_back(j);
            }
        }
        index.SetRing(0, 4);
        SaveIndexPair(index, disk, "INDEX00.bin", "INDEX01.bin");

        // Events, each pointing at its fly file's recording.
        EventFileSpec events;
        const char* inputs[] = {"\xE7\xB4\xA7\xE6\x80\xA5\xE6\x8C\x89\xE9\x92\xAE", "\xE5\x89\x8D\xE9\x97\xA8",
                                "\xE5\x90\x8E\xE9\x97\xA8", "\xE5\x88\xB9\xE8\xBD\xA6"};  // panic button, doors, brake
        for (size_t k = 0; k < std::size(inputs); ++k) events.inputNames[k] = Utf8ToGbk(inputs[k]);
        struct Ev {
            uint16_t fly;
            EventUnitSpec unit;
            const char* key;  // language key; null: the alarm input's name
        };
        const Ev list[] = {
            {4, {1, 0, At(kDay1, 14, 10, 3), At(kDay1, 14, 10, 8)}, nullptr},
            {4, {8, 1, At(kDay1, 14, 10, 5), At(kDay1, 14, 10, 12)}, "Evevt_T_OverSpeed"},
            {5, {3, 2, At(kDay1, 14, 10, 2), At(kDay1, 14, 10, 15)}, "Evevt_T_Vmd"},
            {5, {5, 2, At(kDay1, 14, 10, 9), At(kDay1, 14, 10, 10)}, "Evevt_T_GSensorCrash"},
            {2, {2, 3, At(kDay1, 14, 0, 5), At(kDay1, 14, 0, 7)}, "Evevt_T_Videoloss"},
        };
        json evJson = json::array();
        for (uint16_t fly : {uint16_t(4), uint16_t(5), uint16_t(2)}) {
            EventGroupSpec group;
            for (const Ev& e : list)
                if (e.fly == fly) group.units.push_back(e.unit);
            events.blocks.emplace_back(fly, std::vector<EventGroupSpec>{group});
        }
        for (uint16_t fly : {uint16_t(4), uint16_t(5), uint16_t(2)})
            for (const Ev& e : list) {
                if (e.fly != fly) continue;
                json j;
                j["type"] = e.unit.type;
                j["stored_channel"] = e.unit.channel;
                // Alarm inputs, video loss and motion take the channel of their recording.
                j["channel"] = e.unit.type <= 3 ? flyChannel[fly] : e.unit.channel;
                AddSpan(j, e.unit.begin, e.unit.end);
                if (e.key)
                    j["description_key"] = e.key;
                else
                    j["input_name"] = inputs[e.unit.channel];
                char name[32];
                std::snprintf(name, sizeof name, "fly%05u.ifv", fly);
                j["path"] = Rel(root, disk / name);
                j["pos"] = 0;
                evJson.push_back(j);
            }
        WriteEventFile(disk / "RecordEvent.bin", events);

        json d;
        d["path"] = Rel(root, disk);
        d["car_number"] = kCarB;
        d["index_areas"] = kIndexAreas;
        d["records"] = records;
        d["events"] = evJson;
        d["log"] = WriteLog(root, disk / "log.bin", 320, 380, At(kDay1, 7, 30, 0), 12);
        manifest["index_disk"] = d;
    }

    // ---- An offline map of the bus's route ----
    say("drawing the offline map");
    {
        // The player corrects positions onto the shifted grid of mainland
        // maps while ConvertGPS is on (its default), and shows the car there:
        // the road is drawn on that grid so that the car keeps to it. The
        // tiles cover the positions as recorded too.
        OfflineMapRequest req;
        req.name = "Velmor demo: Shennan Boulevard";
        std::vector<GeoPoint> route = kRouteDay1;
        route.insert(route.end(), kRouteDay2.begin() + 1, kRouteDay2.end());  // the second day starts where the first ends
        for (const GeoPoint& g : route) {
            GeoPoint shifted{};
            OffsetPosition(g.lon, g.lat, &shifted.lon, &shifted.lat);
            req.road.push_back(shifted);
        }
        req.cover = route;
        // A river crossing the boulevard and two parks beside it, made up.
        req.river = {{22.6200, 114.0350}, {22.5620, 114.0390}, {22.5520, 114.0430}, {22.5440, 114.0410},
                     {22.5360, 114.0445}, {22.5260, 114.0470}, {22.5150, 114.0455}, {22.4600, 114.0500}};
        req.riverMetres = 70;
        req.parks = {{{22.5505, 114.0590}, 700, 380}, {{22.5290, 113.9900}, 450, 280}};
        req.minZoom = 12;
        req.maxZoom = 15;
        const fs::path file = root / "map" / "demo-track.mbtiles";
        const OfflineMap map = WriteOfflineMap(file, req);
        json j;
        j["path"] = Rel(root, file);
        j["minzoom"] = map.minZoom;
        j["maxzoom"] = map.maxZoom;
        j["bounds"] = json::array({map.bounds.west, map.bounds.south, map.bounds.east, map.bounds.north});
        j["tiles"] = map.tiles;
        j["bytes"] = fs::file_size(file);
        j["road_positions"] = "corrected";
        manifest["offline_map"] = j;
    }

    // What a first look at the corpus plays: five minutes of the front camera.
    json demo;
    demo["source"] = "partition/disk";
    demo["channel"] = 1;
    AddSpan(demo, At(kDay1, 10, 0, 0), At(kDay1, 10, 5, 0));
    manifest["demo_span"] = demo;

    // The manifest last, through a temporary name: present means complete.
    const fs::path tmp = root / (std::string(kManifestName) + ".tmp");
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << manifest.dump(2) << "\n";
        out.flush();
        if (!out) throw std::runtime_error("cannot write " + tmp.string());
    }
    fs::rename(tmp, root / kManifestName);
    return manifest;
}

}  // namespace velmor::demo
