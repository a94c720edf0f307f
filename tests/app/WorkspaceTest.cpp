// The driving-record page of the real program on a virtual display: the
// demo recorder's partition searched, a day shown on the timeline, and a
// double click on it that plays the channels of that second.
#include <set>

#include "tests/app/AppHarness.h"

namespace {

using velmor::apptest::AppHarness;
using velmor::apptest::json;
namespace fs = std::filesystem;

class WorkspaceTest : public AppHarness {
protected:
    static void SetUpTestSuite()
    {
        const char* bin = std::getenv("VELMOR_BIN");
        ASSERT_NE(bin, nullptr);
        s_demo = fs::path(bin).parent_path() / "test-corpus" / "demo";
        if (!fs::exists(s_demo / "MANIFEST.json")) {
            s_demo = fs::temp_directory_path() / ("velmor-workspace-" + std::to_string(::getpid())) / "demo";
            const std::string make = std::string(bin) + "/velmor-demo-disk " + s_demo.string() + " > /dev/null 2>&1";
            ASSERT_EQ(std::system(make.c_str()), 0) << make;
            s_made = true;
        }
    }
    static void TearDownTestSuite()
    {
        if (s_made) fs::remove_all(s_demo.parent_path());
    }

    json State() { return Call(R"({"command":["get","state"]})")["data"]; }
    template <class F>
    json WaitState(F done, int ms = 20000)
    {
        json s;
        for (int waited = 0; waited <= ms; waited += 100) {
            s = State();
            if (done(s)) return s;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ADD_FAILURE() << "state never came: " << s.dump();
        return s;
    }

    // Waits until the map page has run a script that `match` accepts (a
    // page still loading runs them once it has loaded).
    template <class F>
    json WaitScript(F match, int ms = 10000)
    {
        json scripts;
        for (int waited = 0; waited <= ms; waited += 100) {
            scripts = Call(R"({"command":["get","map"]})")["data"]["scripts"];
            for (const json& script : scripts)
                if (match(script.get<std::string>())) return scripts;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ADD_FAILURE() << "the map page never ran it: " << scripts.dump();
        return scripts;
    }

    static inline fs::path s_demo;
    static inline bool s_made = false;
};

TEST_F(WorkspaceTest, SearchDayAndTimePlayOfTheDemoPartition)
{
    StartControlled();
    const fs::path partition = s_demo / "partition" / "disk";
    // The map page hears of the position conversion as soon as it changes.
    ASSERT_EQ(Call(R"({"command":["settings",{"ConvertGPS":0}]})")["error"], "success");
    WaitScript([](const std::string& s) { return s == "SetConvertCoorFlag(1)"; });

    // Wrong arguments are refused without a search.
    EXPECT_EQ(Call(R"({"command":["search"]})")["error"], "search takes a source and optionally an object of options");
    EXPECT_EQ(Call(json({{"command", {"search", partition.string(), {{"types", "some"}}}}}).dump())["error"],
              "types is \"all\", \"normal\" or \"alarm\"");
    EXPECT_EQ(Call(json({{"command", {"search", partition.string(), {{"channels", {0}}}}}}).dump())["error"],
              "channels is a list of 1..16");
    EXPECT_EQ(Call(R"({"command":["day","2026-02-30"]})")["error"], "day takes \"YYYY-MM-DD\"");

    const json found = Call(json({{"command", {"search", partition.string(), {{"types", "all"}}}}}).dump());
    ASSERT_EQ(found["error"], "success") << found.dump();
    const json days = found["data"]["days"];
    ASSERT_FALSE(days.empty()) << found.dump();
    EXPECT_GT(found["data"]["records"].get<int>(), 0);
    // Every client hears of the search's end.
    bool heard = false;
    for (const json& e : m_events) heard |= e["event"] == "search-done" && e["days"] == days;
    EXPECT_TRUE(heard);

    const json rows = Call(json({{"command", {"day", days[0]}}}).dump());
    ASSERT_EQ(rows["error"], "success") << rows.dump();
    ASSERT_GE(rows["data"].size(), 4u);
    EXPECT_TRUE(rows["data"].size() == 4 || rows["data"].size() == 8 || rows["data"].size() > 8);
    // The earliest bar of the day, and the channels recording then.
    long first = -1;
    std::set<int> channels;
    for (size_t r = 0; r < rows["data"].size(); ++r)
        for (const json& bar : rows["data"][r]) {
            EXPECT_LT(bar["begin"].get<long>(), bar["end"].get<long>()) << bar.dump();
            if (first < 0 || bar["begin"].get<long>() < first) first = bar["begin"];
        }
    ASSERT_GT(first, 0);
    const long at = first + 5;
    for (size_t r = 0; r < rows["data"].size(); ++r)
        for (const json& bar : rows["data"][r])
            if (bar["begin"].get<long>() <= at && bar["end"].get<long>() >= at) channels.insert(int(r + 1));
    ASSERT_FALSE(channels.empty());

    // After the last recording nothing plays; the user is told.
    const std::string last = days.back();
    const json none = Call(json({{"command", {"play_at", last + " 23:59:59"}}}).dump());
    EXPECT_EQ(none["error"], "no recording at or after that time") << none.dump();
    EXPECT_EQ(none["messages"].size(), 1u) << none.dump();

    const time_t t = at;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
    ASSERT_EQ(Call(json({{"command", {"play_at", when}}}).dump())["error"], "success");
    json s = State();
    EXPECT_EQ(s["play_type"], 1);
    EXPECT_EQ(s["range_start"], at);
    // The layout goes by the highest channel found: the partition's six
    // channels play in the 3x3 one.
    EXPECT_EQ(s["layout"], 2);
    s = WaitState([&](const json& s) {
        size_t showing = 0;
        for (const json& w : s["windows"])
            if (w["shown"].get<int>() > 0 && channels.count(w["channel"].get<int>())) ++showing;
        return showing >= channels.size();
    });
    for (const json& w : s["windows"]) {
        if (w["shown"].get<int>() > 0) {
            EXPECT_EQ(w["state"], 5) << w.dump();
        }
    }

    // The map page took the track's clearing before the new play.
    WaitScript([](const std::string& s) { return s == "clearHistorylines(' ')"; });
    // The played seconds reach the speed graph, counted from the start of
    // the played range, and move the car on the map.
    json graph;
    for (int i = 0; i < 100; ++i) {
        graph = Call(R"({"command":["get","speed_graph"]})")["data"];
        if (!graph["points"].empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(graph["points"].empty()) << graph.dump();
    const double minute = graph["points"][0][0], speed = graph["points"][0][1];
    EXPECT_GE(minute, 0.0);
    EXPECT_LT(minute, 1.0);
    EXPECT_GE(speed, 0.0);
    EXPECT_LE(speed, 200.0);
    EXPECT_EQ(graph["range"].size(), 2u);
    WaitScript([](const std::string& s) { return s.rfind("MoveCar(", 0) == 0; });
    // The demo track's record of 10:00:05, decoded by hand from its 75 bytes
    // (latitude 22 deg 32.1786 min, longitude 113 deg 58.392 min, 47 km/h,
    // heading 81), the car named by the vehicle the search found.
    if (at == 1796119205)
        WaitScript([](const std::string& s) {
            return s == "MoveCar('粤B12345','22.536310','113.973200','81','2026-12-01 10:00:05','47 km/h','0','','','',' ')";
        });
    json map = Call(R"({"command":["get","map"]})")["data"];
    EXPECT_TRUE(map["loaded"].get<bool>()) << map.dump();
    EXPECT_EQ(fs::path(map["page"].get<std::string>()).filename(), "amapMap.html");
    // The settings dialog's map type loads the page of that type again.
    ASSERT_EQ(Call(R"({"command":["settings",{"MapType":1,"Language":2}]})")["error"], "success");
    for (int i = 0; i < 100; ++i) {
        map = Call(R"({"command":["get","map"]})")["data"];
        if (fs::path(map["page"].get<std::string>()).filename() == "GoogleMapEN.html" && map["loaded"].get<bool>()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(fs::path(map["page"].get<std::string>()).filename(), "GoogleMapEN.html") << map.dump();
    EXPECT_TRUE(map["loaded"].get<bool>()) << map.dump();

    const char* keep = std::getenv("VELMOR_SCREENSHOTS");
    const fs::path shot = (keep ? fs::path(keep) : m_dir) / "driving-record-time-play.png";
    ASSERT_EQ(Call(json({{"command", {"screenshot", shot.string()}}}).dump())["error"], "success");
    EXPECT_GT(fs::file_size(shot), 10000u);
    Call(R"({"command":["stop"]})");
}

}  // namespace

namespace {

// The companion client's download folder and an index disk: their files
// play in time play too.
TEST_F(WorkspaceTest, ClientDownloadFolderPlaysFromTheTimeline)
{
    StartControlled();
    const fs::path client = s_demo / "client" / "粤B12345";
    const json found =
        Call(json({{"command", {"search", client.string(), {{"types", "all"}, {"client", true}}}}}).dump());
    ASSERT_EQ(found["error"], "success") << found.dump();
    EXPECT_EQ(found["data"]["days"], json({"2026-12-01", "2026-12-02"}));
    EXPECT_EQ(found["data"]["records"], 3);
    const json rows = Call(R"({"command":["day","2026-12-02"]})");
    ASSERT_EQ(rows["error"], "success");
    ASSERT_EQ(rows["data"].size(), 4u);
    EXPECT_EQ(rows["data"][0], json::parse(R"([{"begin":1796200200,"end":1796200259}])"));
    EXPECT_EQ(rows["data"][1], json::parse(R"([{"begin":1796200200,"end":1796200229}])"));
    EXPECT_TRUE(rows["data"][2].empty());

    ASSERT_EQ(Call(R"({"command":["play_at","2026-12-02 08:30:10"]})")["error"], "success");
    const json s = WaitState([](const json& s) {
        int showing = 0;
        for (const json& w : s["windows"])
            if (w["shown"].get<int>() > 0 && (w["channel"] == 1 || w["channel"] == 2)) ++showing;
        return showing == 2;
    });
    EXPECT_EQ(s["range_start"], 1796200210);
    for (const json& w : s["windows"]) {
        if (w["shown"].get<int>() > 0) {
            EXPECT_EQ(fs::path(w["path"].get<std::string>()).parent_path(), client) << w.dump();
        }
    }
    Call(R"({"command":["stop"]})");

    // An index disk reaches time play the same way: its four channels of 14:00.
    const fs::path index = s_demo / "index-disk";
    ASSERT_EQ(Call(json({{"command", {"search", index.string(), {{"types", "all"}}}}}).dump())["error"], "success");
    ASSERT_EQ(Call(R"({"command":["play_at","2026-12-01 14:00:05"]})")["error"], "success");
    const json idx = WaitState([](const json& s) {
        int showing = 0;
        for (const json& w : s["windows"]) showing += w["shown"].get<int>() > 0 && w["state"] == 5;
        return showing == 4;
    });
    for (const json& w : idx["windows"]) {
        if (w["shown"].get<int>() > 0) {
            EXPECT_EQ(fs::path(w["path"].get<std::string>()).parent_path(), index) << w.dump();
        }
    }
    Call(R"({"command":["stop"]})");
}

// An operator's day, each step through the control the user touches: a
// search fills the log page, time play is sought twice and keeps its range,
// settings changed while playing act at once, the stop button ends it all,
// a folder's log is loaded, and a folder plays file after file.
TEST_F(WorkspaceTest, AnOperatorsDay)
{
    m_captureStderr = true;
    StartControlled();
    const fs::path partition = s_demo / "partition" / "disk";
    ASSERT_EQ(Call(json({{"command", {"search", partition.string(), {{"types", "all"}}}}}).dump())["error"], "success");

    // The search put the partition's recorder log on the log page: its 200 records.
    ASSERT_EQ(Call(R"({"command":["page","MainFrm_Btn_Log"]})")["error"], "success");
    json logged = Call(R"({"command":["log_query",{"type":"Log_ComBox_All","from":0,"to":2000000000}]})");
    ASSERT_EQ(logged["error"], "success") << logged.dump();
    EXPECT_EQ(logged["data"]["rows"], 200);
    ASSERT_EQ(Call(R"({"command":["page","MainFrm_Btn_DrivingRecord"]})")["error"], "success");

    // Time play from 10:00:05; two releases of the slider keep the range.
    ASSERT_EQ(Call(R"({"command":["play_at","2026-12-01 10:00:05"]})")["error"], "success");
    json s = WaitState([](const json& s) {
        for (const json& w : s["windows"])
            if (w["channel"] == 1 && w["shown"].get<int>() > 0) return true;
        return false;
    });
    const long start = s["range_start"], end = s["range_end"];
    ASSERT_EQ(start, 1796119205);
    EXPECT_EQ(s["timeline_cursor"], 10 * 3600 + 5);
    ASSERT_GT(end, start + 100);
    for (int percent : {50, 10}) {
        SCOPED_TRACE(percent);
        ASSERT_EQ(Call(json({{"command", {"seek_percent", percent}}}).dump())["error"], "success");
        const long target = start + (end - start) * percent / 100;
        // The windows of the restart play, and those that stopped have let go of the clock.
        s = WaitState([&](const json& s) {
            if (s["clock"].get<long>() < target) return false;
            for (const json& w : s["windows"])
                if (w["channel"] == 1 && w["shown"].get<int>() > 0 && w["time"].get<long>() >= target) return true;
            return false;
        });
        EXPECT_EQ(s["range_start"], start);
        EXPECT_EQ(s["range_end"], end);
        // From the target or the next recording after it (the range runs to
        // the next day), never again from the first recording.
        EXPECT_GE(s["clock"].get<long>(), target);
        EXPECT_NE(s["progress_label"].get<std::string>().substr(0, 17), "00:00:00/00:00:00");
    }

    // The keys do what the buttons do: space pauses and plays on, + and - change the speed.
    struct Press {
        const char* key;
        bool paused;
        const char* speed;
    };
    for (const Press& p : {Press{"Space", true, " X1"}, Press{"Space", false, " X1"}, Press{"+", false, " X2"},
                           Press{"-", false, " X1"}}) {
        ASSERT_EQ(Call(json({{"command", {"key", p.key}}}).dump())["error"], "success") << p.key;
        const json k = State();
        EXPECT_EQ(k["paused"], p.paused) << p.key;
        EXPECT_EQ(k["speed_label"], p.speed) << p.key;
    }
    EXPECT_EQ(Call(R"({"command":["key","F13"]})")["error"], "no shortcut F13");

    // Settings changed while the windows play act on them at once.
    const fs::path snaps = m_dir / "snaps";
    fs::create_directories(snaps);
    ASSERT_EQ(Call(R"({"command":["pause"]})")["error"], "success");
    EXPECT_TRUE(State()["paused"].get<bool>());
    ASSERT_EQ(Call(json({{"command", {"settings", {{"SnapPath", snaps.string()}, {"SnapPicFormat", 1}}}}}).dump())["error"],
              "success");
    ASSERT_EQ(Call(R"({"command":["select",1]})")["error"], "success");
    const json snap = Call(R"({"command":["snapshot"]})");
    ASSERT_EQ(snap["error"], "success") << snap.dump();
    const fs::path picture = snap["data"]["path"].get<std::string>();
    EXPECT_EQ(picture.parent_path(), snaps);
    EXPECT_EQ(picture.extension(), ".png");
    EXPECT_GT(fs::file_size(picture), 1000u);
    ASSERT_EQ(Call(R"({"command":["play"]})")["error"], "success");
    EXPECT_FALSE(State()["paused"].get<bool>());
    EXPECT_EQ(Call(R"({"command":["get","settings"]})")["data"]["SnapPicFormat"], 1);

    // The channels of the RecordChn setting are the ones time play plays.
    ASSERT_EQ(Call(R"({"command":["settings",{"RecordChn":1}]})")["error"], "success");
    ASSERT_EQ(Call(R"({"command":["play_at","2026-12-01 10:00:05"]})")["error"], "success");
    s = WaitState([](const json& s) {
        for (const json& w : s["windows"])
            if (w["channel"] == 1 && w["state"] == 5 && w["shown"].get<int>() > 0) return true;
        return false;
    });
    for (const json& w : s["windows"]) {
        if (w["state"] == 5) {
            EXPECT_EQ(w["channel"], 1) << w.dump();
        }
    }
    ASSERT_EQ(Call(R"({"command":["settings",{"RecordChn":65535}]})")["error"], "success");

    // The stop button ends the play and its range.
    ASSERT_EQ(Call(R"({"command":["stop"]})")["error"], "success");
    s = WaitState([](const json& s) {
        for (const json& w : s["windows"])
            if (w["state"] != 3) return false;
        return true;
    });
    EXPECT_EQ(s["range_start"], 0);
    EXPECT_EQ(s["range_end"], 0);
    EXPECT_EQ(s["timeline_cursor"], 0) << "the stop button puts the cursor back";

    // A file no library can read: the user is told, and the library's own
    // reason reaches the program's trace.
    std::ofstream(m_dir / "junk.rkrec", std::ios::binary) << std::string(300, 'x');
    Call(json({{"command", {"open", (m_dir / "junk.rkrec").string()}}}).dump());
    WaitState([](const json& s) { return !s["windows"][0]["error"].get<std::string>().empty(); });
    EXPECT_NE(Stderr().find("RKSFS_OpenBakRecFile"), std::string::npos) << Stderr();

    // The log page's folder button: the index disk's wrapped log, and a
    // folder without one, which the user is told of.
    json loaded = Call(json({{"command", {"load_log", (s_demo / "index-disk").string()}}}).dump());
    ASSERT_EQ(loaded["error"], "success") << loaded.dump();
    EXPECT_EQ(loaded["data"]["rows"], 320);
    const json none = Call(json({{"command", {"load_log", snaps.string()}}}).dump());
    EXPECT_EQ(none["error"], "no recorder log in " + snaps.string());
    EXPECT_EQ(none["messages"].size(), 1u) << none.dump();

    // Folder play: the IFV files of a folder, one after another in window 1.
    const json folder = Call(json({{"command", {"open_folder", (s_demo / "ifv").string()}}}).dump());
    ASSERT_EQ(folder["error"], "success") << folder.dump();
    s = WaitState([](const json& s) { return s["windows"][0]["shown"].get<int>() > 0; });
    EXPECT_EQ(s["play_type"], 0);
    EXPECT_EQ(fs::path(s["windows"][0]["path"].get<std::string>()).parent_path(), s_demo / "ifv");
    const json notFolder = Call(json({{"command", {"open_folder", (s_demo / "MANIFEST.json").string()}}}).dump());
    EXPECT_NE(notFolder["error"], "success");
    Call(R"({"command":["stop"]})");

    // With on-screen text on, a window shows the events of its second: the
    // index disk's emergency button pressed from 14:10:03 to 14:10:08.
    ASSERT_EQ(Call(R"({"command":["settings",{"ADDOSD":1}]})")["error"], "success");
    ASSERT_EQ(Call(json({{"command", {"search", (s_demo / "index-disk").string(), {{"types", "all"}}}}}).dump())["error"],
              "success");
    ASSERT_EQ(Call(R"({"command":["play_at","2026-12-01 14:10:04"]})")["error"], "success");
    WaitState([](const json& s) {
        for (const json& w : s["windows"])
            if (w["osd"].get<std::string>().find("紧急按钮") != std::string::npos) return true;
        return false;
    });
    Call(R"({"command":["stop"]})");
}

}  // namespace
