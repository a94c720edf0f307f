// The play window set of the real program on a virtual display: recordings
// opened, paused, sought, sped up and stopped through the control socket,
// checked with the state it reports and with screenshots.
#include <cstdio>
#include <cstring>

#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "player/formats/IfvFile.h"
#include "tests/app/AppHarness.h"
#include "tests/support/VideoCodec.h"

namespace {

using velmor::apptest::AppHarness;
using velmor::apptest::json;
namespace fs = std::filesystem;

constexpr uint32_t kT0 = 1714979289;  // 2024-05-06 07:08:09 UTC
constexpr int kSeconds = 12;
constexpr int kFps = 25;

// The 75 bytes of a recorder's record for second `s`, laid down by hand:
// 22 deg 33.1234 min N, 113 deg 56.1234 min E, 50 km/h, heading 90.
std::vector<uint8_t> Record(uint32_t s)
{
    std::vector<uint8_t> raw(75, 0);
    auto put = [&](size_t at, uint64_t v, size_t n) {
        for (size_t i = 0; i < n; ++i) raw[at + i] = uint8_t(v >> (8 * i));
    };
    put(0, kT0 + s, 4);
    raw[4] = 1;
    put(5, 22331234, 4);
    put(9, 113561234, 4);
    put(13, 50, 2);
    put(17, 90, 2);
    return raw;
}

class PlayWindowTest : public AppHarness {
protected:
    static void SetUpTestSuite()
    {
        s_corpus = fs::temp_directory_path() / ("velmor-play-" + std::to_string(::getpid()));
        fs::create_directories(s_corpus);
        // A single-channel recording as a recorder exports it: pictures,
        // one attached record a second.
        velmor::fixtures::VideoSpec recipe;
        recipe.width = 320;
        recipe.height = 240;
        recipe.frames = kSeconds * kFps;
        recipe.gop = kFps;
        recipe.fps = kFps;
        recipe.lossless = false;
        recipe.label = "CH1";
        recipe.clockStart = kT0;
        const auto video = velmor::fixtures::EncodeVideo(recipe);
        const fs::path ifv = s_corpus / "CH01_20240506_070809.ifv";
        IfvFilePtr w(RK_OpenFile2(ifv.c_str(), 0, RK_FILE_MODE_WRITE));
        ASSERT_TRUE(w);
        ASSERT_GE(RK_FileSetVideoParam(w.get(), 320, 240, float(kFps), 0), 0);
        ASSERT_GE(RK_FileEnableAttach(w.get()), 0);
        ASSERT_GE(RK_FileSetStartTime(w.get(), kT0), 0);
        for (int i = 0; i < recipe.frames; ++i) {
            const uint32_t ms = uint32_t(i * 1000 / kFps);
            if (i % kFps == 0) {
                const auto r = Record(uint32_t(i / kFps));
                ASSERT_GE(RK_FileWriteAttachFrame(w.get(), r.data(), 75, ms, nullptr), 0);
            }
            const auto& u = video.units[size_t(i)];
            ASSERT_GE(RK_FileWriteVideoFrame(w.get(), u.data.data(), uint32_t(u.data.size()), ms,
                                                     u.key ? 5 : 1, uint64_t(ms) * 1000, nullptr),
                      0);
        }
        ASSERT_EQ(RK_CloseFile2(w.release()), 0);
        s_ifv = ifv;
        // The demo recorder's corpus (a partition of six channels, a grec
        // file), made once beside the build's programs.
        const char* bin = std::getenv("VELMOR_BIN");
        ASSERT_NE(bin, nullptr);
        s_demo = fs::path(bin).parent_path() / "test-corpus" / "demo";
        if (!fs::exists(s_demo / "MANIFEST.json")) {
            s_demo = s_corpus / "demo";
            const std::string make = std::string(bin) + "/velmor-demo-disk " + s_demo.string() + " > /dev/null 2>&1";
            ASSERT_EQ(std::system(make.c_str()), 0) << make;
        }
    }
    static void TearDownTestSuite() { fs::remove_all(s_corpus); }

    json State() { return Call(R"({"command":["get","state"]})")["data"]; }

    // Polls the state until `done` holds, at most `ms`.
    template <class F>
    json WaitState(F done, int ms = 15000)
    {
        json s;
        for (int waited = 0; waited <= ms; waited += 50) {
            s = State();
            if (done(s)) return s;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ADD_FAILURE() << "state never came: " << s.dump();
        return s;
    }

    static json Win(const json& s, int index) { return s["windows"][size_t(index - 1)]; }

    static inline fs::path s_corpus, s_ifv, s_demo;
};

TEST_F(PlayWindowTest, AnIfvFilePlaysPausesSeeksChangesSpeedAndStops)
{
    StartControlled();
    ASSERT_EQ(Call(R"({"command":["settings",{"Language":2}]})")["error"], "success");
    ASSERT_EQ(Call(json({{"command", {"open", s_ifv.string()}}}).dump())["error"], "success");
    json s = WaitState([](const json& s) { return Win(s, 1)["shown"].get<int>() >= 10; });
    EXPECT_EQ(s["play_type"], 0);
    EXPECT_EQ(s["layout"], 0);
    EXPECT_EQ(Win(s, 1)["state"], 1);
    EXPECT_TRUE(Win(s, 1)["visible"]);
    EXPECT_FALSE(Win(s, 1)["placeholder"]);
    EXPECT_EQ(Win(s, 1)["codec"], "H.264");
    EXPECT_EQ(Win(s, 1)["width"], 320);
    EXPECT_EQ(Win(s, 1)["frame_rate"], 25);
    EXPECT_EQ(Win(s, 1)["tool_text"], json({"Size:320x240", "Sound:none", "Rate:25", "Codec:H.264"}));
    EXPECT_EQ(s["range_start"], kT0);
    EXPECT_EQ(s["range_end"], kT0 + kSeconds - 1);
    EXPECT_FALSE(Win(s, 2)["visible"]);
    // The engine's count of the window's pictures: each handed one is drawn,
    // passed over for a newer one, or still on its way (one being drawn,
    // one waiting).
    const json show = Win(s, 1)["show_stat"];
    const int handed = show["handed"], drawn = show["shown"], passed = show["passed_over"];
    EXPECT_GE(drawn, 1) << show.dump();
    EXPECT_LE(drawn + passed, handed) << show.dump();
    EXPECT_GE(drawn + passed + 2, handed) << show.dump();
    EXPECT_LE(show["shown_on_time"].get<int>(), drawn) << show.dump();
    EXPECT_EQ(Win(s, 2)["show_stat"], json({{"handed", 0}, {"shown", 0}, {"passed_over", 0}, {"shown_on_time", 0}}));

    const char* keep = std::getenv("VELMOR_SCREENSHOTS");
    const fs::path shot = (keep ? fs::path(keep) : m_dir) / "ifv-playing.png";
    ASSERT_EQ(Call(json({{"command", {"screenshot", shot.string()}}}).dump())["error"], "success");
    EXPECT_GT(fs::file_size(shot), 10000u);

    Call(R"({"command":["pause"]})");
    s = WaitState([](const json& s) { return Win(s, 1)["state"] == 2; });
    EXPECT_TRUE(s["paused"]);
    // The picture being decoded when the pause came is still shown.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const json paused = Win(State(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const json later = Win(State(), 1);
    EXPECT_EQ(later["shown"], paused["shown"]) << "a paused window shows no new picture";
    // Nor does it draw its picture again every 25 ms: once a second at most
    // while nothing covers or resizes it.
    EXPECT_LE(later["show_stat"]["handed"].get<int>() - paused["show_stat"]["handed"].get<int>(), 2)
        << later.dump();

    Call(R"({"command":["play"]})");
    WaitState([](const json& s) { return Win(s, 1)["state"] == 1 && !s["paused"].get<bool>(); });

    // 50 % of 11 s lands on 5 s: the key frame at or before it, then on
    // (the file's 12 s of progress put that at 41 %).
    Call(R"({"command":["seek_percent",50]})");
    s = WaitState([](const json& s) {
        const uint32_t t = s["windows"][0]["time"];
        return t >= kT0 + 5 && t <= kT0 + 7;
    });
    EXPECT_GE(s["percent"].get<int>(), 41);

    Call(R"({"command":["faster"]})");
    EXPECT_EQ(State()["speed_label"], " X2");
    Call(R"({"command":["slower"]})");
    s = State();
    EXPECT_EQ(s["speed_label"], " X1");
    EXPECT_EQ(s["speed_level"], 0);

    // The map scripts of a played second, exactly as built by hand from
    // its record (no vehicle chosen: "unknow"). ConvertGPS is on by default:
    // 22 deg 33.1234 min, 113 deg 56.1234 min (22.552057, 113.935390) go
    // through the correction grid the build writes.
    const json map = Call(R"({"command":["get","map"]})")["data"];
    const std::string expected =
        "MoveCar('unknow','22.549084','113.940302','90','2024-05-06 07:08:09','50 km/h','0','','','',' ')";
    bool found = false;
    for (const auto& script : map["scripts"]) found |= script == expected;
    EXPECT_TRUE(found) << map.dump();

    Call(R"({"command":["stop"]})");
    s = WaitState([](const json& s) {
        for (const auto& w : s["windows"])
            if (w["state"] != 3) return false;
        return !s["stopping"].get<bool>();
    });
    EXPECT_EQ(s["progress_label"], "00:00:00/00:00:00 X1");
    // The one-window layout still shows window 1's cell, now with its placeholder.
    EXPECT_TRUE(Win(s, 1)["visible"]);
    EXPECT_TRUE(Win(s, 1)["placeholder"]);
    EXPECT_EQ(s["clock"], 0);
    // Scripts are told when a window starts and ends a file.
    std::string line;
    while (ReadLine(line, 300)) m_events.push_back(json::parse(line));
    const json start = {{"event", "file-start"}, {"window", 1}, {"path", s_ifv.string()}};
    const json end = {{"event", "file-end"}, {"window", 1}, {"path", s_ifv.string()}};
    EXPECT_NE(std::find(m_events.begin(), m_events.end(), start), m_events.end());
    EXPECT_NE(std::find(m_events.begin(), m_events.end(), end), m_events.end());
}

// The probe of the interface thread answers with the worst lateness since
// it was last read; a reading starts it over.
TEST_F(PlayWindowTest, TheInterfaceProbeReportsItsWorstLateness)
{
    StartControlled();
    const json first = Call(R"({"command":["get","ui_latency"]})");
    ASSERT_EQ(first["error"], "success");
    ASSERT_TRUE(first["data"]["worst_ms"].is_number()) << first.dump();
    EXPECT_GE(first["data"]["worst_ms"].get<double>(), 0.0);
    EXPECT_EQ(Call(R"({"command":["get","ui_latency",1]})")["error"], "unknown get: ui_latency");
}

TEST_F(PlayWindowTest, WrongArgumentsAndMissingFilesAreRefusedWithAReason)
{
    StartControlled();
    ASSERT_EQ(Call(R"({"command":["settings",{"Language":2}]})")["error"], "success");
    const struct {
        const char* request;
        const char* error;
    } cases[] = {
        {R"({"command":["seek_percent",101]})", "seek_percent takes 0..100"},
        {R"({"command":["layout","x"]})", "layout takes a mode 0..3"},
        {R"({"command":["select",17]})", "select takes a window 1..16"},
        {R"({"command":["volume",-1]})", "volume takes 0..100"},
        {R"({"command":["equalizer",true,11]})", "equalizer takes on/off and a preset 1..10"},
        {R"({"command":["play",1]})", "the command takes no arguments"},
        {R"({"command":["snapshot"]})", "the selected window shows no picture"},
    };
    for (const auto& c : cases) EXPECT_EQ(Call(c.request)["error"], c.error) << c.request;
    const json r = Call(json({{"command", {"open", (m_dir / "none.ifv").string()}}}).dump());
    EXPECT_EQ(r["error"], (m_dir / "none.ifv").string() + " is not a file");
    // A file that is not a recording opens, fails in its window, and the user is told.
    std::ofstream(m_dir / "junk.ifv") << std::string(4096, 'x');
    ASSERT_EQ(Call(json({{"command", {"open", (m_dir / "junk.ifv").string()}}}).dump())["error"], "success");
    std::string line;
    bool told = false;
    const auto isTold = [](const json& e) {
        return e["event"] == "message" && e["text"].get<std::string>().rfind("This file cannot be played: ", 0) == 0;
    };
    for (const json& e : m_events) told |= isTold(e);
    while (!told && ReadLine(line, 5000)) told = isTold(json::parse(line));
    EXPECT_TRUE(told);
    EXPECT_EQ(Win(State(), 1)["state"], 3);
}

TEST_F(PlayWindowTest, LayoutSelectionEnlargementVolumeAndSnapshot)
{
    StartControlled();
    ASSERT_EQ(Call(json({{"command", {"open", s_ifv.string()}}}).dump())["error"], "success");
    WaitState([](const json& s) { return Win(s, 1)["shown"].get<int>() >= 5; });
    Call(R"({"command":["layout",2]})");
    json s = State();
    EXPECT_EQ(s["layout"], 2);
    Call(R"({"command":["select",1]})");
    Call(R"({"command":["enlarge",1]})");
    EXPECT_EQ(State()["enlarged"], 1);
    Call(R"({"command":["enlarge",1]})");
    EXPECT_EQ(State()["enlarged"], 0);

    Call(R"({"command":["volume",0]})");
    EXPECT_TRUE(State()["muted"]);
    Call(R"({"command":["volume",1]})");
    s = State();
    EXPECT_FALSE(s["muted"]);
    EXPECT_EQ(s["volume"], 1);
    Call(R"({"command":["equalizer",true,3]})");
    EXPECT_EQ(State()["equalize"], "6,0,0,8,5.6,5.6,5.6,3.2,0,0,0");
    Call(R"({"command":["equalizer",false,3]})");
    EXPECT_EQ(State()["equalize"], "");
    const char* keep = std::getenv("VELMOR_SCREENSHOTS");
    for (const char* dialog : {"VoiceSetting", "EqualizeSetting"}) {
        const fs::path shot = (keep ? fs::path(keep) : m_dir) / (std::string(dialog) + ".png");
        EXPECT_EQ(Call(json({{"command", {"screenshot", shot.string(), dialog}}}).dump())["error"], "success");
    }

    // Two snapshots within one second never share a name.
    const json a = Call(R"({"command":["snapshot"]})");
    const json b = Call(R"({"command":["snapshot"]})");
    ASSERT_EQ(a["error"], "success");
    ASSERT_EQ(b["error"], "success");
    const fs::path pa = a["data"]["path"].get<std::string>(), pb = b["data"]["path"].get<std::string>();
    EXPECT_NE(pa, pb);
    EXPECT_EQ(pa.parent_path(), m_dir / "profile" / "SnapFile");
    EXPECT_GT(fs::file_size(pa), 1000u);
    EXPECT_GT(fs::file_size(pb), 1000u);
}

// The first container file of the demo partition holds six channels that
// start at different seconds; at X32 they all come in and stay in step.
TEST_F(PlayWindowTest, AContainerFileShowsItsChannelsAndPlaysThemInStep)
{
    StartControlled();
    // At X32, channels 1 and 2 on their sub streams (small pictures that
    // decode much faster than the others' main streams).
    const fs::path file = s_demo / "partition" / "disk" / "fc00000.rpo";
    ASSERT_EQ(Call(json({{"command", {"open", file.string()}}}).dump())["error"], "success");
    json s = State();
    EXPECT_EQ(s["play_type"], 5);
    EXPECT_EQ(s["layout"], 2);  // channels up to 9: 3x3
    for (int i = 0; i < 5; ++i) Call(R"({"command":["faster"]})");
    EXPECT_EQ(State()["speed_label"], " X32");
    // Channel n plays in the window the 3x3 layout gives it.
    const int windowOf[7] = {0, 1, 2, 3, 5, 6, 7};
    int worst = 0;
    std::string worstAt;
    std::set<int> played;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (played.size() < 6 && std::chrono::steady_clock::now() < until) {
        s = State();
        const long clock = s["clock"];
        for (int ch = 1; ch <= 6; ++ch) {
            const json w = Win(s, windowOf[ch]);
            if (w["shown"].get<int>() > 0 && w["channel"] == ch) played.insert(ch);
            const long t = w["time"];
            if (w["state"] == 5 && t != 0 && std::labs(t - clock) > worst) {
                worst = int(std::labs(t - clock));
                worstAt = "channel " + std::to_string(ch) + " at " + std::to_string(t) + ", clock " +
                          std::to_string(clock) + "; windows (channel state time):";
                for (int c = 1; c <= 6; ++c) {
                    const json x = Win(s, windowOf[c]);
                    worstAt += " " + x["channel"].dump() + " " + x["state"].dump() + " " + x["time"].dump() + ";";
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(played.size(), 6u) << s.dump();
    EXPECT_LE(worst, 3) << "a window strayed from the common clock: " << worstAt;
    const char* keep = std::getenv("VELMOR_SCREENSHOTS");
    const fs::path shot = (keep ? fs::path(keep) : m_dir) / "container-six-channels.png";
    ASSERT_EQ(Call(json({{"command", {"screenshot", shot.string()}}}).dump())["error"], "success");
    Call(R"({"command":["stop"]})");
    WaitState([](const json& s) {
        for (const auto& w : s["windows"])
            if (w["state"] != 3) return false;
        return true;
    });
}

// Frame steps from the step buttons: every playing window pauses, the
// selected one moves one picture, and the others show the picture of that
// moment; play then goes on. A single IFV file, and the six channels of a
// container file of the demo partition (started in step).
TEST_F(PlayWindowTest, FrameStepsPauseEveryWindowOnOneClock)
{
    struct Row {
        const char* name;
        fs::path file;
        int windows;  // windows whose recordings start with the play (channels 1 and 2: 25 and 15 a second)
    };
    const Row rows[] = {{"single IFV file", s_ifv, 1},
                        {"six channels of the partition", s_demo / "partition" / "disk" / "fc00000.rpo", 2}};
    StartControlled();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ASSERT_EQ(Call(json({{"command", {"open", r.file.string()}}}).dump())["error"], "success");
        const auto showing = [](const json& s) {
            std::set<int> on;
            for (const auto& w : s["windows"])
                if (w["picture_ms"].get<double>() > 0 && w["state"] != 0) on.insert(w["index"].get<int>());
            return on;
        };
        WaitState([&](const json& s) {
            for (int i = 1; i <= r.windows; ++i)
                if (Win(s, i)["shown"].get<int>() < 10) return false;
            return true;
        });
        ASSERT_EQ(Call(R"({"command":["pause"]})")["error"], "success");
        // The picture each window ends its pause on, once they all stand still.
        json s = State();
        for (json before = json(); before != s;) {
            before = s;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            s = State();
        }
        EXPECT_TRUE(s["paused"]);
        const double lead = Win(s, 1)["picture_ms"];
        // Windows whose recording starts after the clock wait on their first
        // picture; the others step on the clock.
        std::set<int> onClock;
        std::map<int, double> waiting;
        for (int i : showing(s)) {
            if (Win(s, i)["picture_ms"].get<double>() <= lead + 1000)
                onClock.insert(i);
            else
                waiting[i] = Win(s, i)["picture_ms"];
        }
        EXPECT_EQ(onClock.size(), size_t(r.windows));
        // Each step lands the selected window a picture on, and the others
        // on the picture of that moment: at or before it, within a picture
        // of their own frame rate.
        const auto landed = [&](double at) {
            return [&, at](const json& s) {
                if (Win(s, 1)["picture_ms"] != at) return false;
                for (int i : onClock) {
                    const double p = Win(s, i)["picture_ms"], period = 1000.0 / Win(s, i)["frame_rate"].get<double>();
                    if (p > at || p <= at - period) return false;
                }
                for (const auto& [i, p] : waiting)
                    if (Win(s, i)["picture_ms"] != p) return false;
                return true;
            };
        };
        const struct {
            int step;
            double at;
        } steps[] = {{1, lead + 40}, {1, lead + 80}, {-3, lead - 40}, {2, lead + 40}};
        for (const auto& st : steps) {
            SCOPED_TRACE(st.step);
            ASSERT_EQ(Call(json({{"command", {"step", st.step}}}).dump())["error"], "success");
            s = WaitState(landed(st.at), 5000);
            EXPECT_TRUE(s["paused"]);
        }
        const char* keep = std::getenv("VELMOR_SCREENSHOTS");
        const fs::path shot = (keep ? fs::path(keep) : m_dir) / ("step-" + std::to_string(r.windows) + ".png");
        ASSERT_EQ(Call(json({{"command", {"screenshot", shot.string()}}}).dump())["error"], "success");
        // Play goes on from the picture stepped to.
        ASSERT_EQ(Call(R"({"command":["play"]})")["error"], "success");
        WaitState([&](const json& s) { return !s["paused"] && Win(s, 1)["picture_ms"].get<double>() > lead + 400; });
        Call(R"({"command":["stop"]})");
    }
    EXPECT_EQ(Call(R"({"command":["step",0]})")["error"], "step takes a number of pictures, -1000..1000 and not 0");
    EXPECT_EQ(Call(R"({"command":["step",1]})")["error"], "nothing is playing to step through");
}

// Zoom from the control (the mouse wheel's command): the window's state
// tells the view, kept inside the picture; a snapshot of a zoomed window is
// the whole picture with the zoomed view beside it; factor 1 ends the zoom.
TEST_F(PlayWindowTest, ZoomEnlargesAWindowAndItsSnapshotKeepsTheWholePicture)
{
    struct Row {
        const char* name;
        fs::path file;
        int window;
        double cx, cy;        // asked for at factor 4
        double keptX, keptY;  // the centre that keeps the view inside the picture
    };
    const Row rows[] = {{"single IFV file, 320 x 240", s_ifv, 1, 300, 20, 280, 30},
                        {"channel 2 of the partition, 176 x 144 sub stream", s_demo / "partition" / "disk" / "fc00000.rpo",
                         2, 88, 72, 88, 72}};
    StartControlled();
    const char* keep = std::getenv("VELMOR_SCREENSHOTS");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ASSERT_EQ(Call(json({{"command", {"open", r.file.string()}}}).dump())["error"], "success");
        WaitState([&](const json& s) { return Win(s, r.window)["shown"].get<int>() >= 5; });
        Call(json({{"command", {"select", r.window}}}).dump());
        ASSERT_EQ(Call(json({{"command", {"zoom", r.window, 4, r.cx, r.cy}}}).dump())["error"], "success");
        EXPECT_EQ(Win(State(), r.window)["zoom"], json({{"factor", 4}, {"cx", r.keptX}, {"cy", r.keptY}}));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const fs::path shot = (keep ? fs::path(keep) : m_dir) / ("zoom-" + std::to_string(r.window) + ".png");
        ASSERT_EQ(Call(json({{"command", {"screenshot", shot.string()}}}).dump())["error"], "success");

        const json snap = Call(R"({"command":["snapshot"]})");
        ASSERT_EQ(snap["error"], "success");
        const fs::path whole = snap["data"]["path"].get<std::string>();
        const fs::path zoomed = whole.parent_path() / (whole.stem().string() + "_zoom" + whole.extension().string());
        ASSERT_TRUE(fs::exists(zoomed));
        EXPECT_GT(fs::file_size(whole), 1000u);
        EXPECT_GT(fs::file_size(zoomed), 1000u);
        std::ifstream a(whole, std::ios::binary), b(zoomed, std::ios::binary);
        EXPECT_NE(std::string(std::istreambuf_iterator<char>(a), {}), std::string(std::istreambuf_iterator<char>(b), {}));

        ASSERT_EQ(Call(json({{"command", {"zoom", r.window, 1, 0, 0}}}).dump())["error"], "success");
        EXPECT_EQ(Win(State(), r.window)["zoom"]["factor"], 1);
        const fs::path plain = Call(R"({"command":["snapshot"]})")["data"]["path"].get<std::string>();
        EXPECT_FALSE(fs::exists(plain.parent_path() / (plain.stem().string() + "_zoom" + plain.extension().string())));
        Call(R"({"command":["stop"]})");
    }
    EXPECT_EQ(Call(R"({"command":["zoom",1,9,0,0]})")["error"], "zoom takes a factor 1..8");
    EXPECT_EQ(Call(R"({"command":["zoom",17,2,0,0]})")["error"],
              "zoom takes a window 1..16, a factor 1..8 and the picture point at the centre");
    EXPECT_EQ(Call(R"({"command":["zoom",16,2,0,0]})")["error"], "window 16 shows no picture");
}

// Channels 1 and 2 of the demo partition's first day are also recorded in a
// sub stream of 176x144: the 3x3 layout plays those, an enlarged window and
// the "always main" setting play the main stream of 352x288.
TEST_F(PlayWindowTest, LargeLayoutsPlaySubStreamsAndAnEnlargedWindowTheMainStream)
{
    StartControlled();
    const fs::path file = s_demo / "partition" / "disk" / "fc00000.rpo";
    ASSERT_EQ(Call(json({{"command", {"open", file.string()}}}).dump())["error"], "success");
    EXPECT_EQ(State()["layout"], 2);
    const auto playing = [](const char* stream, int width) {
        return [stream, width](const json& s) {
            const json w = Win(s, 1);
            return w["stream"] == stream && w["width"] == width && w["shown"].get<int>() > 0;
        };
    };
    json s = WaitState(playing("sub", 176));
    EXPECT_EQ(Win(s, 1)["channel"], 1);
    // The path the window's decoder took (software where the machine has no device).
    EXPECT_TRUE(Win(s, 1)["hwdec"] == "none" || Win(s, 1)["hwdec"] == "vaapi" || Win(s, 1)["hwdec"] == "cuda")
        << Win(s, 1)["hwdec"];
    EXPECT_EQ(Win(s, 1)["height"], 144);
    EXPECT_EQ(Win(s, 2)["channel"], 2);
    // Channel 3 starts 20 s later: its window has its decoder ready meanwhile.
    s = WaitState([](const json& s) { return Win(s, 3)["width"].get<int>() > 0; });
    EXPECT_EQ(Win(s, 3)["channel"], 3);
    EXPECT_EQ(Win(s, 3)["stream"], "main") << "channel 3 has no sub stream";
    EXPECT_EQ(Win(s, 3)["width"], 352);
    const long before = Win(s, 1)["time"];

    Call(R"({"command":["enlarge",1]})");
    s = WaitState(playing("main", 352));
    EXPECT_EQ(s["enlarged"], 1);
    EXPECT_EQ(Win(s, 1)["height"], 288);
    EXPECT_EQ(Win(s, 1)["channel"], 1);
    EXPECT_GE(Win(s, 1)["time"].get<long>(), before) << "the switch goes on where the window was";
    EXPECT_LE(std::labs(Win(s, 1)["time"].get<long>() - s["clock"].get<long>()), 3);
    EXPECT_EQ(Win(s, 1)["error"], "");

    Call(R"({"command":["enlarge",1]})");
    s = WaitState(playing("sub", 176));
    EXPECT_EQ(s["enlarged"], 0);

    // The setting keeps the main stream in every layout.
    ASSERT_EQ(Call(R"({"command":["settings",{"ALWAYSMAIN":1}]})")["error"], "success");
    EXPECT_EQ(Call(R"({"command":["get","settings"]})")["data"]["ALWAYSMAIN"], 1);
    s = WaitState(playing("main", 352));
    EXPECT_EQ(s["layout"], 2);
    ASSERT_EQ(Call(R"({"command":["settings",{"ALWAYSMAIN":0}]})")["error"], "success");
    WaitState(playing("sub", 176));
    Call(R"({"command":["layout",0]})");
    WaitState(playing("main", 352));

    Call(R"({"command":["stop"]})");
    s = WaitState([](const json& s) {
        for (const auto& w : s["windows"])
            if (w["state"] != 3) return false;
        return true;
    });
    EXPECT_EQ(Win(s, 1)["stream"], "main") << "a window with nothing playing shows no sub stream";
}

TEST_F(PlayWindowTest, AGrecFilePlays)
{
    StartControlled();
    const fs::path file = s_demo / "grec" / "CH02_20261201_100000.grec";
    ASSERT_EQ(Call(json({{"command", {"open", file.string()}}}).dump())["error"], "success");
    const json s = WaitState([](const json& s) { return Win(s, 1)["shown"].get<int>() >= 10; });
    EXPECT_EQ(Win(s, 1)["state"], 1);
    EXPECT_EQ(Win(s, 1)["width"], 352);
    EXPECT_EQ(Win(s, 1)["height"], 288);
    EXPECT_EQ(Win(s, 1)["audio"], "G711A");
    EXPECT_EQ(Win(s, 1)["frame_rate"], 15);
    EXPECT_EQ(Win(s, 1)["error"], "");
}

// A playing program still ends when the session asks it to: the media
// engine's sound and video layers leave SIGTERM to the program.
TEST_F(PlayWindowTest, TermEndsAPlayingProgram)
{
    StartControlled();
    ASSERT_EQ(Call(json({{"command", {"open", s_ifv.string()}}}).dump())["error"], "success");
    WaitState([](const json& s) { return Win(s, 1)["shown"].get<int>() >= 5; });
    ::kill(m_pid, SIGTERM);
    EXPECT_EQ(WaitExit(m_pid, 5000), 128 + SIGTERM);
    m_pid = -1;
}

}  // namespace
