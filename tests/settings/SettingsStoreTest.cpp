// The settings store and its key table: what the dialog and the control
// socket may set, what listeners are told, what play threads see, and that
// every editable key survives the configuration file.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/IniFile.h"
#include "player/settings/Settings.h"
#include "tests/support/TempDir.h"

using namespace velmor;
using velmor::fixtures::CTempDir;

namespace {

TEST(SettingKeys, ValuesAreCheckedByKindAndRange)
{
    struct Case {
        const char* key;
        SettingValue value;
        bool accepted;
    };
    const Case cases[] = {
        {"Language", 2.0, true},          {"Language", 3.0, false},        {"Language", 1.5, false},
        {"Language", std::string("1"), false},
        {"ConvertGPS", 1.0, true},        {"ConvertGPS", 2.0, false},      {"ConvertGPS", -1.0, false},
        {"RecordChn", 65535.0, true},     {"RecordChn", 65536.0, false},   {"NSVALUE", 4.0, true},
        {"NSVALUE", 5.0, false},          {"LOWPASSVALUE", 0.3, true},     {"LOWPASSVALUE", 1.0, true},
        {"LOWPASSVALUE", 1.01, false},    {"LOWPASSVALUE", -0.1, false},   {"GSTFILE", std::string("/m.mbtiles"), true},
        {"GSTFILE", 1.0, false},          {"SnapPicFormat", 2.0, true},    {"SnapPicFormat", 3.0, false},
        {"MapType", std::nan(""), false},
        {"CaseUtcOffset", std::string("+08:00"), true}, {"CaseUtcOffset", std::string(""), true},
        {"CaseUtcOffset", std::string("UTC-5"), true},  {"CaseUtcOffset", std::string("Beijing"), false},
        {"CaseUtcOffset", std::string("+15:00"), false}, {"CaseUtcOffset", 8.0, false},
    };
    for (const auto& c : cases) {
        const SettingKey* k = FindSettingKey(c.key);
        ASSERT_NE(k, nullptr) << c.key;
        SettingsRecord r;
        const SettingsRecord before = r;
        EXPECT_EQ(SetSetting(r, *k, c.value), c.accepted) << c.key;
        if (c.accepted)
            EXPECT_EQ(GetSetting(r, *k), c.value) << c.key;
        else
            EXPECT_TRUE(ChangedKeys(before, r).empty()) << c.key << ": a refused value changes nothing";
    }
    EXPECT_EQ(FindSettingKey("NoSuchKey"), nullptr);
    EXPECT_FALSE(FindSettingKey("Voice")->editable);
    EXPECT_FALSE(FindSettingKey("DELAYTIME")->editable);
}

TEST(SettingsStore, ListenersAreToldOfEachChangeInOrder)
{
    SettingsRecord first;
    first.snapPath = "/snap";
    CSettings store(first);
    std::vector<std::string> told;
    const int a = store.Subscribe([&](const SettingsRecord& before, const SettingsRecord& now) {
        told.push_back("a:" + before.snapPath + ">" + now.snapPath);
    });
    store.Subscribe([&](const SettingsRecord&, const SettingsRecord& now) {
        // A listener sees the new record in force already.
        told.push_back("b:" + store.Get().snapPath + "," + std::to_string(now.addOsd));
    });
    const uint64_t g0 = store.Generation();
    EXPECT_TRUE(store.Apply(first).empty()) << "nothing changed";
    EXPECT_EQ(store.Generation(), g0);
    EXPECT_TRUE(told.empty());

    const auto changed = store.Change([](SettingsRecord& r) {
        r.snapPath = "/other";
        r.addOsd = 1;
    });
    EXPECT_EQ(changed, (std::vector<std::string>{"SnapPath", "ADDOSD"}));
    EXPECT_EQ(store.Generation(), g0 + 1);
    EXPECT_EQ(told, (std::vector<std::string>{"a:/snap>/other", "b:/other,1"}));

    store.Unsubscribe(a);
    told.clear();
    store.Change([](SettingsRecord& r) { r.addOsd = 0; });
    EXPECT_EQ(told, (std::vector<std::string>{"b:/other,0"}));
}

TEST(SettingsStore, ASnapshotNeverChangesUnderItsReader)
{
    // Every record the store ever holds pairs the path with the scale, the
    // first one too: the reader may start before the first change.
    SettingsRecord first;
    first.videoScale = 1;
    first.snapPath = "/p1";
    CSettings store(first);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    // A play thread reads while the interface applies: each record it holds
    // is whole (both fields from one apply) and stays as it was.
    std::thread reader([&] {
        while (!done.load()) {
            const auto snap = store.Snapshot();
            const int v = snap->videoScale;
            const std::string path = snap->snapPath;
            if (path != "/p" + std::to_string(v) || snap->videoScale != v) ++torn;
        }
    });
    for (int i = 0; i < 2000; ++i)
        store.Change([i](SettingsRecord& r) {
            r.videoScale = i % 2;
            r.snapPath = "/p" + std::to_string(i % 2);
        });
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

TEST(SettingsStore, EveryEditableKeyRoundTripsThroughTheFile)
{
    CTempDir dir;
    const auto file = dir.Path() / "SysTemConfig.ini";
    std::ofstream(file) << "[CONFIG]\nDELAYTIME=250\nVoice=40\n";
    SettingsRecord s;
    s.snapPath = "/s";
    s.saveFilePath = "/c";
    s.gstFile = "/maps/area.mbtiles";
    s.mapType = 2;
    s.convertGps = 0;
    s.language = 1;
    s.snapPicFormat = 2;
    s.recordChn = 0x0103;
    s.addOsd = 1;
    s.mediaInfo = 0;
    s.videoScale = 0;
    s.alwaysMain = 1;
    s.lowPass = 1;
    s.lowPassValue = 0.3;
    s.nsEnable = 1;
    s.nsValue = 3;
    s.showGeo = 1;
    s.speedMph = 1;
    s.googleKey = "key-1";
    s.caseUtcOffset = "+08:00";
    ASSERT_TRUE(WriteSettings(file, s));
    const SettingsRecord back = ReadSettings(CIniFile::Load(file), "/x", "/y");
    SettingsRecord expected = s;
    expected.delayTime = 250;  // not the dialog's: kept as the file had it
    expected.voice = 40;
    EXPECT_TRUE(ChangedKeys(expected, back).empty()) << ::testing::PrintToString(ChangedKeys(expected, back));
    EXPECT_EQ(CIniFile::Load(file).GetString("CONFIG", "GSTFILE", "?"), "/maps/area.mbtiles");
    EXPECT_EQ(CIniFile::Load(file).GetString("CONFIG", "CaseUtcOffset", "?"), "+08:00");
    // A cleared offset leaves the file, as it was before one was declared.
    s.caseUtcOffset.clear();
    ASSERT_TRUE(WriteSettings(file, s));
    EXPECT_EQ(CIniFile::Load(file).GetString("CONFIG", "CaseUtcOffset", "?"), "?");
}

}  // namespace
