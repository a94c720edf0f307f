// Which records reach the map (once per second across windows, by speed and
// reader), the on-screen text of a second, and the map scripts compared with
// scripts written out by hand for a record laid down byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "player/playback/AttachPublisher.h"

namespace velmor {
namespace {

constexpr uint32_t kTime = 1714979289;  // 2024-05-06 07:08:09

struct Fields {
    uint32_t time = kTime;
    int32_t lat = 22331234;   // 22 deg 33.1234 min
    int32_t lon = 113561234;  // 113 deg 56.1234 min
    int16_t speed = 50;
    uint16_t heading = 90;
    const char* events[6] = {"ALARM1", "", "SOS", nullptr, nullptr, nullptr};
};

// The 75 bytes as a recorder lays them down.
StAttachInfo_t Record(const Fields& f)
{
    uint8_t raw[75] = {};
    auto put = [&](size_t at, uint64_t v, size_t n) {
        for (size_t i = 0; i < n; ++i) raw[at + i] = uint8_t(v >> (8 * i));
    };
    put(0, f.time, 4);
    raw[4] = 1;
    put(5, uint32_t(f.lat), 4);
    put(9, uint32_t(f.lon), 4);
    put(13, uint16_t(f.speed), 2);
    put(15, 12, 2);
    put(17, f.heading, 2);
    put(19, 0x11, 4);
    for (size_t e = 0; e < 6; ++e)
        if (f.events[e]) std::memcpy(raw + 27 + 8 * e, f.events[e], std::strlen(f.events[e]));
    return *LoadAttachInfo(raw, sizeof raw);
}

class AttachPublisherTest : public ::testing::Test {
protected:
    CAttachInfoQueue m_queue;
    std::atomic<uint32_t> m_lastKey{0};
    std::map<uint32_t, std::vector<std::string>> m_events;
    EventTextLookup Lookup()
    {
        return [this](uint32_t s) {
            auto it = m_events.find(s);
            return it == m_events.end() ? std::vector<std::string>{} : it->second;
        };
    }
};

TEST_F(AttachPublisherTest, OncePerSecondAcrossWindowsBySpeedAndReader)
{
    Fields f;
    const StAttachInfo_t second1 = Record(f);
    f.time = kTime + 1;
    const StAttachInfo_t second2 = Record(f);
    int posted = 0;
    m_queue.SetNotify([&] { ++posted; });
    struct Step {
        const StAttachInfo_t* info;
        bool ifv;
        int level;
        bool published;
    };
    const Step steps[] = {
        {&second1, false, 0, true},   // window 1
        {&second1, false, 0, false},  // window 2, same second
        {&second2, false, 1, false},  // container at X2: the map does not move
        {&second2, true, 1, true},    // IFV at X2 does
        {&second2, true, 0, false},
        {&second1, true, -2, true},   // an earlier second after a later one is new again
    };
    for (const Step& s : steps)
        EXPECT_EQ(PublishAttachInfo(*s.info, s.ifv, s.level, m_lastKey, m_queue), s.published)
            << s.info->time.get() << " level " << s.level;
    EXPECT_EQ(posted, 3);
    EXPECT_EQ(m_queue.Size(), 3u);
    EXPECT_EQ(m_queue.Pop()->time.get(), kTime);
    EXPECT_EQ(m_queue.Pop()->time.get(), kTime + 1);
    EXPECT_TRUE(m_queue.FirstShow(kTime));
    EXPECT_FALSE(m_queue.FirstShow(kTime));
    // A cleared track (seek, new play) draws the same second again.
    m_queue.Clear();
    EXPECT_FALSE(m_queue.Pop().has_value());
    EXPECT_TRUE(m_queue.FirstShow(kTime));
}

TEST_F(AttachPublisherTest, OnScreenTextOfASecond)
{
    m_events[kTime] = {"Overspeed", "Door open"};
    EXPECT_EQ(OsdText(kTime, Lookup()), "Overspeed,Door open");
    EXPECT_EQ(OsdText(kTime + 1, Lookup()), "");
    EXPECT_EQ(OsdText(kTime, {}), "");
    m_events[kTime] = {std::string(300, 'a')};
    EXPECT_EQ(OsdText(kTime, Lookup()), std::string(258, 'a'));
    // A two-byte character that would straddle the limit is left out whole.
    m_events[kTime] = {std::string(257, 'a') + "\xE4\xB8\xAD"};  // UTF-8 of a two-byte code-page character
    EXPECT_EQ(OsdText(kTime, Lookup()), std::string(257, 'a'));
    m_events[kTime] = {std::string(256, 'a') + "\xE4\xB8\xAD"};
    EXPECT_EQ(OsdText(kTime, Lookup()).size(), 258u);
}

TEST_F(AttachPublisherTest, InfoTextLineBreaks)
{
    struct Row {
        std::vector<std::string> texts;
        const char* info;
    };
    const Row rows[] = {
        {{"A"}, "A"},
        {{"ABCDEFGHIJKLMNOP"}, "ABCDEFGHIJKLMNOP"},
        {{"ABCDEFGHIJKLMNOPQ"}, "ABCDEFGHIJKLMNOPQ<br />"},
        {{"AAAAAAAA", "BBBBBBBB", "CC"}, "AAAAAAAA,BBBBBBBB<br />,CC"},
        {{"Overspeed", "Door open"}, "Overspeed,Door open<br />"},
    };
    for (const Row& r : rows) EXPECT_EQ(MapInfoText(r.texts), r.info);
}

TEST_F(AttachPublisherTest, MapScriptsEqualHandWrittenOnes)
{
    m_events[kTime] = {"Overspeed", "Door open"};
    struct Row {
        const char* name;
        Fields fields;
        MapSettings settings;
        std::string vehicle;
        const char* move;
        const char* carInfo;
        const char* history;
    };
    Fields slow;
    slow.time = kTime + 1;
    slow.speed = 8;
    Fields south;
    south.lat = -33520000;  // 33 deg 52 min south
    south.time = kTime + 2;
    MapSettings mph;
    mph.speedMph = true;
    MapSettings corrected;
    corrected.convertGps = true;
    corrected.correct = [](double& lon, double& lat) {
        lon += 0.25;
        lat -= 0.5;
    };
    const Row rows[] = {
        {"kmh", Fields{}, MapSettings{}, "Bus 7",
         "MoveCar('Bus 7','22.552057','113.935390','90','2024-05-06 07:08:09','50 km/h','0',"
         "'Overspeed,Door open<br />','','',' ')",
         "ShowCarInfo('Bus 7')", "HistoryPath('Bus 7','22.552057','113.935390',90,' ')"},
        {"mph", Fields{}, mph, "",
         "MoveCar('unknow','22.552057','113.935390','90','2024-05-06 07:08:09','31.069 MPH','0',"
         "'Overspeed,Door open<br />','','',' ')",
         "ShowCarInfo('unknow')", "HistoryPath('unknow','22.552057','113.935390',90,' ')"},
        {"slow, names from the record", slow, MapSettings{}, "O'Neil\\1",
         "MoveCar('O\\'Neil\\\\1','22.552057','113.935390','0','2024-05-06 07:08:10','8 km/h','0',"
         "'ALARM1,SOS','','',' ')",
         "ShowCarInfo('O\\'Neil\\\\1')", "HistoryPath('O\\'Neil\\\\1','22.552057','113.935390',0,' ')"},
        {"south", south, MapSettings{}, "V",
         "MoveCar('V','-33.866667','113.935390','90','2024-05-06 07:08:11','50 km/h','0','ALARM1,SOS','','',' ')",
         "ShowCarInfo('V')", "HistoryPath('V','-33.866667','113.935390',90,' ')"},
        {"corrected", Fields{}, corrected, "V",
         "MoveCar('V','22.052057','114.185390','90','2024-05-06 07:08:09','50 km/h','0',"
         "'Overspeed,Door open<br />','','',' ')",
         "ShowCarInfo('V')", "HistoryPath('V','22.052057','114.185390',90,' ')"},
    };
    for (const Row& r : rows) {
        const auto scripts = BuildMapScripts(Record(r.fields), r.settings, r.vehicle, Lookup());
        ASSERT_TRUE(scripts.has_value()) << r.name;
        EXPECT_FALSE(scripts->offline);
        EXPECT_EQ(scripts->move, r.move) << r.name;
        EXPECT_EQ(scripts->carInfo, r.carInfo) << r.name;
        EXPECT_EQ(scripts->history, r.history) << r.name;
    }

    // The page's turn: each second is drawn once until the track is cleared.
    m_queue.Push(Record(Fields{}));
    m_queue.Push(Record(Fields{}));
    m_queue.Push(Record(slow));
    const auto first = TakeMapScripts(m_queue, MapSettings{}, "Bus 7", Lookup());
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->move, rows[0].move);
    EXPECT_FALSE(TakeMapScripts(m_queue, MapSettings{}, "Bus 7", Lookup()).has_value());
    EXPECT_TRUE(TakeMapScripts(m_queue, MapSettings{}, "Bus 7", Lookup()).has_value());
    EXPECT_FALSE(TakeMapScripts(m_queue, MapSettings{}, "Bus 7", Lookup()).has_value());

    Fields nowhere;
    nowhere.lon = 0;
    EXPECT_FALSE(BuildMapScripts(Record(nowhere), MapSettings{}, "V", Lookup()).has_value());
    MapSettings offline;
    offline.mapType = 2;
    const auto off = BuildMapScripts(Record(Fields{}), offline, "V", Lookup());
    ASSERT_TRUE(off.has_value());
    EXPECT_TRUE(off->offline);
    EXPECT_EQ(off->move, BuildMapScripts(Record(Fields{}), MapSettings{}, "V", Lookup())->move)
        << "the car moves on the offline map as on the others";
    EXPECT_NEAR(off->latitude, 22.5520567, 1e-7);
}

}  // namespace
}  // namespace velmor
