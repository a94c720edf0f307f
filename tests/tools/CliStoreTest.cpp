// velmor-cli store: the container file system on a mounted partition.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <set>

#include "tests/store/PartitionFixture.h"
#include "tests/support/Subprocess.h"

namespace velmor::fixtures {
namespace {

using nlohmann::json;

std::string Hex8(uint32_t v)
{
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", v);
    return buf;
}

class CliStore : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_part = new WrappedPartition(); }
    static void TearDownTestSuite()
    {
        delete s_part;
        s_part = nullptr;
    }
    static ProcessResult Store(const std::string& cmd, std::vector<std::string> args = {})
    {
        std::vector<std::string> all{"store", cmd, s_part->Dir()};
        all.insert(all.end(), args.begin(), args.end());
        return RunProgram("velmor-cli", all);
    }
    static json Search(std::vector<std::string> args = {})
    {
        auto r = Store("search", std::move(args));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return json::parse(r.out);
    }
    static int64_t UuidOf(uint32_t front)
    {
        for (const auto& f : Search())
            if ((f["uuid"].get<int64_t>() & 0x3FFFF) == front) return f["uuid"].get<int64_t>();
        ADD_FAILURE() << "no record file at block " << front;
        return -1;
    }
    static WrappedPartition* s_part;
};
WrappedPartition* CliStore::s_part = nullptr;

TEST_F(CliStore, Info)
{
    auto r = Store("info");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json j = json::parse(r.out);
    const auto ordered = nlohmann::ordered_json::parse(r.out);
    std::vector<std::string> keys;
    for (auto it = ordered.begin(); it != ordered.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"sector_size", "blk_size", "blk_cnt", "container_files", "index_heads",
                                              "first_data_blk_id", "last_apply_blk_id", "total_space", "free_space",
                                              "covering", "oldest_end_time"}));
    EXPECT_EQ(j["sector_size"], 512);
    EXPECT_EQ(j["blk_size"], 4194304);
    EXPECT_EQ(j["blk_cnt"], 1280);
    EXPECT_EQ(j["container_files"], 40);
    ASSERT_EQ(j["index_heads"].size(), 1u);
    EXPECT_EQ(j["index_heads"][0]["self_blk_id"], 0);
    EXPECT_EQ(j["index_heads"][0]["update_no"], 5);
    EXPECT_EQ(j["index_heads"][0]["mounted"], 0);
    EXPECT_EQ(j["first_data_blk_id"], 2);
    EXPECT_EQ(j["last_apply_blk_id"], 1);
    EXPECT_EQ(j["total_space"], 1280ull * 4194304);
    EXPECT_EQ(j["free_space"], 0);
    EXPECT_EQ(j["covering"], true);
    EXPECT_GT(j["oldest_end_time"].get<uint64_t>(), uint64_t(kT0));
    EXPECT_NE(r.err, "") << "the library's lines go to standard error";
}

TEST_F(CliStore, SearchKeepsTheLatest)
{
    const json all = Search();
    ASSERT_EQ(all.size(), s_part->history.size() + 2);
    const json& first = all[0];
    const auto ordered = nlohmann::ordered_json::parse(Store("search").out)[0];
    std::vector<std::string> keys;
    for (auto it = ordered.begin(); it != ordered.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"uuid", "channel", "stream", "read_only", "reason", "size", "begin",
                                              "end", "writing", "continued"}));
    EXPECT_EQ(first["channel"], 1) << "counted from 1";
    EXPECT_EQ(first["continued"], true);
    const auto ch2 = s_part->HistoryOf(2);
    const json three = Search({"--channels", "3", "--from", std::to_string(ch2[10].beginTime), "--to",
                               std::to_string(ch2[14].endTime), "--capacity", "3"});
    ASSERT_EQ(three.size(), 3u);
    std::set<uint32_t> begins;
    for (const auto& f : three) begins.insert(f["begin"].get<uint32_t>());
    EXPECT_EQ(begins, (std::set<uint32_t>{ch2[12].beginTime, ch2[13].beginTime, ch2[14].beginTime}));
    for (const auto& f : Search({"--readonly", "1", "--channels", "1,2"})) {
        EXPECT_EQ(f["read_only"], true);
        EXPECT_LE(f["channel"].get<int>(), 2);
    }
    EXPECT_TRUE(Search({"--stream", "1"}).empty());
    for (const auto& f : Search({"--reason", "0x2"})) {
        EXPECT_EQ(f["reason"].get<int>() & 2, 2);
    }
    auto bad = Store("search", {"--stream", "2"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("velmor-cli: --stream: '2' is not 0, 1 or any"), std::string::npos) << bad.err;
    EXPECT_EQ(bad.out, "");
}

TEST_F(CliStore, FramesOfARecordFile)
{
    const WrittenRecording& r = s_part->intact;
    const std::string uuid = std::to_string(UuidOf(r.blocks[0]));
    auto out = Store("frames", {"--uuid", uuid});
    ASSERT_EQ(out.exitCode, 0) << out.err;
    auto lines = Lines(out.out);
    ASSERT_EQ(lines.size(), r.frames.size());
    for (size_t i = 0; i < lines.size(); i += 37) {
        json j = json::parse(lines[i]);
        EXPECT_EQ(j["pts"], r.frames[i].pts);
        EXPECT_EQ(j["length"], r.frames[i].length);
        EXPECT_EQ(j["crc32"], Hex8(r.frames[i].crc32));
        EXPECT_EQ(j["ms"], (r.frames[i].pts - uint64_t(r.beginTime) * 1000000 + 999) / 1000);
        EXPECT_EQ(j["kind"], r.frames[i].type == 4 ? "audio" : "video");
    }
    out = Store("frames", {"--uuid", uuid, "--video"});
    size_t video = 0;
    for (const auto& f : r.frames) video += rkfs::IsVideoType(f.type) ? 1 : 0;
    EXPECT_EQ(Lines(out.out).size(), video);
    out = Store("frames", {"--uuid", uuid, "--audio", "--count", "5"});
    ASSERT_EQ(Lines(out.out).size(), 5u);
    EXPECT_EQ(json::parse(Lines(out.out)[0])["kind"], "audio");
    // I frames forward, then backward from a second of the third block.
    out = Store("frames", {"--uuid", uuid, "--iframes"});
    std::vector<uint64_t> forward;
    for (const auto& l : Lines(out.out)) forward.push_back(json::parse(l)["pts"].get<uint64_t>());
    ASSERT_GT(forward.size(), 8u);
    const uint32_t t = uint32_t(forward[7] / 1000000);
    out = Store("frames", {"--uuid", uuid, "--iframes", "--backward", "--seek", std::to_string(t)});
    ASSERT_EQ(out.exitCode, 0) << out.err;
    std::vector<uint64_t> backward;
    for (const auto& l : Lines(out.out)) backward.push_back(json::parse(l)["pts"].get<uint64_t>());
    EXPECT_EQ(backward, (std::vector<uint64_t>(forward.rend() - 8, forward.rend())));
    out = Store("frames", {"--uuid", uuid, "--iframes", "--backward"});
    EXPECT_EQ(Lines(out.out).size(), forward.size()) << "from the last I frame";
    out = Store("frames", {"--uuid", uuid, "--seek", std::to_string(t), "--count", "1"});
    EXPECT_EQ(json::parse(Lines(out.out).at(0))["pts"], forward[7]);
    out = Store("frames", {"--uuid", "12345"});
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_NE(out.err.find("velmor-cli: 12345: no record file starts at this uuid"), std::string::npos) << out.err;
    out = Store("frames", {"--uuid", uuid, "--backward"});
    EXPECT_EQ(out.exitCode, 2);
}

TEST_F(CliStore, CommonFiles)
{
    auto r = Store("files");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json files = json::parse(r.out);
    ASSERT_EQ(files.size(), s_part->commons.size());
    for (const auto& c : s_part->commons) {
        auto it = std::find_if(files.begin(), files.end(), [&](const json& f) { return f["name"] == c.name; });
        ASSERT_NE(it, files.end()) << c.name;
        EXPECT_EQ((*it)["content_size"], c.bytes.size());
        EXPECT_EQ((*it)["writing"], false);
        auto cat = Store("cat", {c.name});
        ASSERT_EQ(cat.exitCode, 0) << cat.err;
        EXPECT_EQ(cat.out, std::string(c.bytes.begin(), c.bytes.end())) << c.name;
    }
    // The file system's size: each block's use size, its 4096-byte head area
    // included (4000 content bytes a block here).
    const std::map<std::string, uint64_t> sizes = {{"abc.txt", 5000 + 2 * 4096},
                                                   {"abcdef.log", 10000 + 3 * 4096},
                                                   {"notes.xyz", 777 + 4096},
                                                   {"vehicle_event_record_2025.xyz", 9000 + 3 * 4096},
                                                   {"abc_long_configuration_file.bin", 3000 + 4096}};
    for (const auto& f : nlohmann::ordered_json::parse(r.out)) {
        EXPECT_EQ(f["size"], sizes.at(f["name"])) << f["name"];
        std::vector<std::string> keys;
        for (const auto& [k, v] : f.items()) keys.push_back(k);
        EXPECT_EQ(keys, (std::vector<std::string>{"uuid", "name", "size", "content_size", "writing"}));
    }
    auto names = [](const json& list) {
        std::set<std::string> out;
        for (const auto& f : list) out.insert(f["name"]);
        return out;
    };
    EXPECT_EQ(names(json::parse(Store("files", {"--hint", "abc*"}).out)),
              (std::set<std::string>{"abc.txt", "abcdef.log", "abc_long_configuration_file.bin"}));
    EXPECT_EQ(names(json::parse(Store("files", {"--hint", "*xyz"}).out)),
              (std::set<std::string>{"notes.xyz", "vehicle_event_record_2025.xyz"}));
    EXPECT_EQ(names(json::parse(Store("files", {"--hint", "vehicle_event_record_2025.xyz"}).out)),
              (std::set<std::string>{"vehicle_event_record_2025.xyz"}));
    auto missing = Store("cat", {"nothing.txt"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("velmor-cli: nothing.txt: no common file of this name"), std::string::npos);
}

TEST(CliStoreDevice, InfoFromADeviceImage)
{
    CTempDir dir;
    PartitionOptions o;
    o.containerFiles = 130;
    o.deviceImage = true;
    CPartitionImage image(dir.Path(), o);
    HistoryPlan h;
    h.recordings = 5;
    WriteHistory(image, h);
    CPartitionImage::IndexHeadPlan a;
    a.updateNo = 3;
    image.WriteIndexHead(a);
    a.fileNo = 128;
    a.updateNo = 4;
    a.mounted = true;
    image.WriteIndexHead(a);
    auto r = RunProgram("velmor-cli", {"store", "info", "--device", image.Device().string(), image.Dir().string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json j = json::parse(r.out);
    EXPECT_EQ(j["container_files"], 130);
    ASSERT_EQ(j["index_heads"].size(), 2u);
    EXPECT_EQ(j["index_heads"][0]["self_blk_id"], 4096) << "newest first";
    EXPECT_EQ(j["index_heads"][0]["mounted"], 1);
    EXPECT_EQ(j["index_heads"][1]["self_blk_id"], 0);
    EXPECT_EQ(j["covering"], false);
    EXPECT_EQ(j["free_space"], uint64_t(image.BlkCnt() - image.LastApplyBlkId()) * 4194304);
    EXPECT_EQ(j["oldest_end_time"], 0) << "free room left";
    r = RunProgram("velmor-cli", {"store", "search", "--device", image.Device().string(), image.Dir().string()});
    EXPECT_EQ(json::parse(r.out).size(), 5u);
    r = RunProgram("velmor-cli", {"store", "info", "--device", (dir / "none.img").string(), image.Dir().string()});
    EXPECT_EQ(r.exitCode, 1);
    r = RunProgram("velmor-cli", {"store", "info", (dir / "nowhere").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no such folder"), std::string::npos);
}

}  // namespace
}  // namespace velmor::fixtures
