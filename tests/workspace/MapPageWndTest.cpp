// The map page in its window, offline: the car and its track on the plain
// background, the failure page, the offline tile file; and the charts.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QBarSet>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineSeries>
#include <QTreeWidget>
#include <QUiLoader>
#include <QFile>
#include <QMenu>
#include <QValueAxis>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <sqlite3.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "common/LanguageTable.h"
#include "player/workspace/Graphs.h"
#include "player/workspace/MapPageWnd.h"

// The browser library pairs its own allocator's sized deletes in ways the
// address sanitizer takes for a type mismatch (this program runs the browser).
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options()
{
    return "new_delete_type_mismatch=0";
}

using namespace velmor;

namespace {

std::unique_ptr<QApplication> g_app;

// The application goes before the program's static objects, with the browser still able to shut down.
class CAppEnvironment : public ::testing::Environment {
public:
    void TearDown() override { g_app.reset(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new CAppEnvironment);

class MapPageWndTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Root on a test machine: the browser's sandbox cannot start, and there is no GPU.
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
        setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 1);
        // As the program runs it: the page drawn in software, beside native video windows.
        setenv("QT_QUICK_BACKEND", "software", 0);
        setenv("QT_QPA_PLATFORM", "xcb", 0);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        if (!g_app) {
            CMapPageWnd::RegisterSchemes();
            QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
            static int argc = 1;
            static char name[] = "workspace_window_tests";
            static char* argv[] = {name, nullptr};
            g_app = std::make_unique<QApplication>(argc, argv);
        }
    }

    void SetUp() override
    {
        const char* bin = std::getenv("VELMOR_BIN");
        ASSERT_NE(bin, nullptr);
        m_bin = bin;
        m_dir = std::filesystem::temp_directory_path() / ("velmor-mapwnd-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        std::filesystem::create_directories(VELMOR_ARTIFACTS);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    static bool WaitFor(const std::function<bool()>& done, int ms)
    {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }
    static QVariant Evaluate(CMapPageWnd& w, const QString& script)
    {
        QVariant result;
        bool done = false;
        w.View()->page()->runJavaScript(script, [&](const QVariant& v) {
            result = v;
            done = true;
        });
        WaitFor([&] { return done; }, 20000);
        return result;
    }
    static QJsonObject State(CMapPageWnd& w)
    {
        return QJsonDocument::fromJson(Evaluate(w, "MapState()").toString().toUtf8()).object();
    }
    void Open(CMapPageWnd& w, const MapPageOptions& options)
    {
        w.SetFolders(m_bin, m_dir / "data");
        w.resize(640, 480);
        w.show();
        w.LoadMapPage(options);
    }
    static void Drive(CMapPageWnd& w)
    {
        const char* points[3][3] = {{"22.552057", "113.943210", "0"},
                                    {"22.553100", "113.944400", "45"},
                                    {"22.554300", "113.945100", "30"}};
        for (const auto& p : points) {
            w.RunScript(std::string("MoveCar('Bus 7','") + p[0] + "','" + p[1] + "','" + p[2] +
                        "','2024-05-01 08:00:01','52 km/h','0','Crash<br />','','',' ')");
            w.RunScript("ShowCarInfo('Bus 7')");
            w.RunScript(std::string("HistoryPath('Bus 7','") + p[0] + "','" + p[1] + "'," + p[2] + ",' ')");
        }
    }

    std::filesystem::path m_bin;
    std::filesystem::path m_dir;
};

TEST_F(MapPageWndTest, CarAndTrackShowWithoutTiles)
{
    CMapPageWnd w;
    bool loaded = false, ok = false;
    QObject::connect(&w, &CMapPageWnd::PageLoaded, [&](bool good) {
        loaded = true;
        ok = good;
    });
    Open(w, MapPageOptions{0, 2, "", "", false});
    Drive(w);  // before the page has loaded: held in order
    EXPECT_FALSE(w.Loaded());
    ASSERT_TRUE(WaitFor([&] { return loaded; }, 60000));
    ASSERT_TRUE(ok) << w.LastError();
    EXPECT_TRUE(w.Loaded());
    EXPECT_EQ(w.Page(), (m_bin / "chart" / "amapMap.html").string());

    const QJsonObject state = State(w);
    EXPECT_EQ(state["backend"].toString(), "tiles");
    EXPECT_EQ(state["markers"].toInt(), 1);
    EXPECT_EQ(state["tracks"].toObject()["Bus 7"].toInt(), 3);
    EXPECT_EQ(state["convert"].toInt(), 1);  // positions uncorrected by the player
    EXPECT_EQ(state["cars"].toObject()["Bus 7"].toObject()["heading"].toDouble(), 30.0);
    EXPECT_EQ(Evaluate(w, "document.querySelectorAll('.velmor-car').length").toInt(), 1);
    EXPECT_EQ(Evaluate(w, "document.querySelectorAll('path.leaflet-interactive').length").toInt(), 1);
    EXPECT_EQ(Evaluate(w, "document.querySelectorAll('.leaflet-control-scale').length").toInt(), 1);
    EXPECT_EQ(Evaluate(w, "document.querySelector('.velmor-car-info').innerHTML").toString(),
              "<b>Bus 7</b><br>2024-05-01 08:00:01<br>52 km/h<br>Crash<br>");

    const auto scripts = w.Scripts();
    ASSERT_EQ(scripts.size(), 10u);
    EXPECT_EQ(scripts[0], "SetConvertCoorFlag(1)");
    EXPECT_EQ(scripts[1].rfind("MoveCar('Bus 7','22.552057'", 0), 0u);
    EXPECT_EQ(scripts[9], "HistoryPath('Bus 7','22.554300','113.945100',30,' ')");

    // Uncorrected positions in mainland China move onto the service's shifted
    // grid, by some hundred metres; elsewhere, or once corrected, they stay.
    const QVariantList beijing = Evaluate(w, "ServicePosition('39.908720','116.397500')").toList();
    ASSERT_EQ(beijing.size(), 2);
    const double dLat = (beijing[0].toDouble() - 39.90872) * 111320.0;
    const double dLng = (beijing[1].toDouble() - 116.3975) * 111320.0 * std::cos(39.90872 * M_PI / 180.0);
    const double metres = std::sqrt(dLat * dLat + dLng * dLng);
    EXPECT_GT(metres, 100.0);
    EXPECT_LT(metres, 1000.0);
    EXPECT_EQ(Evaluate(w, "ServicePosition('48.858370','2.294481')").toList(), (QVariantList{48.85837, 2.294481}));
    w.RunScript("SetConvertCoorFlag(0)");
    EXPECT_EQ(Evaluate(w, "ServicePosition('39.908720','116.397500')").toList(), (QVariantList{39.90872, 116.3975}));
    w.RunScript("SetConvertCoorFlag(1)");

    w.SetTool(1003);
    w.SetTool(7);  // not a tool: ignored
    EXPECT_EQ(w.Tool(), 1003);
    EXPECT_EQ(State(w)["tool"].toInt(), 1003);

    // Let the page paint, then keep a picture of it.
    QElapsedTimer t;
    t.start();
    WaitFor([&] { return t.elapsed() > 1500; }, 3000);
    const QImage shot = w.grab().toImage();
    EXPECT_TRUE(shot.save(QString::fromStdString(std::string(VELMOR_ARTIFACTS) + "/map_track_offline.png")));

    // A long track: points are appended, repeats of the last one left out.
    QElapsedTimer long_;
    long_.start();
    w.RunScript("for (var i = 0; i < 5000; ++i) { var a = (22.5 + i / 100000).toFixed(6);"
                " HistoryPath('Bus 8', a, '113.9', 0, ' '); HistoryPath('Bus 8', a, '113.9', 0, ' '); }");
    EXPECT_EQ(State(w)["tracks"].toObject()["Bus 8"].toInt(), 5000);
    EXPECT_LT(long_.elapsed(), 15000);

    w.RunScript("clearHistorylines(' ')");
    EXPECT_TRUE(State(w)["tracks"].toObject().isEmpty());
}

TEST_F(MapPageWndTest, KeyedServicePageIsACopyAndFallsBackOffline)
{
    CMapPageWnd w;
    bool loaded = false, ok = false;
    QObject::connect(&w, &CMapPageWnd::PageLoaded, [&](bool good) {
        loaded = true;
        ok = good;
    });
    // The program's folder with a name that needs escaping in an address.
    const auto odd = m_dir / "pro gram&100%+#";
    std::filesystem::create_directories(odd);
    std::filesystem::create_symlink(m_bin / "chart", odd / "chart");
    m_bin = odd;
    const auto installed = m_bin / "chart" / "GoogleMapEN.html";
    const auto before = std::filesystem::last_write_time(installed);
    Open(w, MapPageOptions{1, 2, "TestKey42", "", true});
    ASSERT_TRUE(WaitFor([&] { return loaded; }, 60000));
    ASSERT_TRUE(ok) << w.LastError();
    EXPECT_EQ(w.Page(), (m_dir / "data" / "chart" / "GoogleMapEN.html").string());
    EXPECT_EQ(std::filesystem::last_write_time(installed), before);
    // No network here: the service never loads and the tile map draws the track.
    Drive(w);
    const QJsonObject state = State(w);
    EXPECT_EQ(state["backend"].toString(), "tiles");
    EXPECT_EQ(state["tracks"].toObject()["Bus 7"].toInt(), 3);
    EXPECT_EQ(state["convert"].toInt(), 0);
    EXPECT_NE(Evaluate(w, "VelmorServiceScript").toString().indexOf("&key=TestKey42&language=en"), -1);
    const auto scripts = w.Scripts();
    ASSERT_GE(scripts.size(), 2u);
    EXPECT_EQ(scripts[0], "SetConvertCoorFlag(0)");
    EXPECT_EQ(scripts[1], "SetUserKey('TestKey42',0)");
}

TEST_F(MapPageWndTest, MissingPageShowsTheFailurePage)
{
    CMapPageWnd w;
    bool loaded = false, ok = true;
    QObject::connect(&w, &CMapPageWnd::PageLoaded, [&](bool good) {
        loaded = true;
        ok = good;
    });
    w.SetFolders(m_dir / "nowhere", m_dir / "data");
    w.resize(400, 300);
    w.show();
    w.LoadMapPage(MapPageOptions{1, 2, "", "", true});
    ASSERT_TRUE(WaitFor([&] { return loaded; }, 60000));
    EXPECT_FALSE(ok);
    EXPECT_FALSE(w.Loaded());
    w.RunScript("MoveCar('a','1','1','0','','','0','','','',' ')");
    EXPECT_TRUE(w.Scripts().empty());
    QString html;
    ASSERT_TRUE(WaitFor(
        [&] {
            bool got = false;
            w.View()->page()->toHtml([&](const QString& h) {
                html = h;
                got = true;
            });
            WaitFor([&] { return got; }, 5000);
            return html.contains("Failed to load URL");
        },
        20000))
        << html.toStdString();
    const QString address = QUrl::fromLocalFile(QString::fromStdString((m_dir / "nowhere/chart/GoogleMapEN.html").string())).toString();
    EXPECT_TRUE(html.contains("Failed to load URL " + address)) << html.toStdString();
    EXPECT_TRUE(html.contains("with error ")) << html.toStdString();
    EXPECT_TRUE(html.contains(" (-6).</h2>")) << html.toStdString();

    // The offline map without a map file shows no map and takes no scripts.
    w.LoadMapPage(MapPageOptions{2, 0, "", "", false});
    EXPECT_EQ(w.Page(), "");
    EXPECT_EQ(w.LastError(), "no map file is set");
    EXPECT_FALSE(w.Loaded());
    w.RunScript("clearHistorylines(' ')");
    EXPECT_TRUE(w.Scripts().empty());
}

TEST_F(MapPageWndTest, OfflineTileFileFeedsTheTileMap)
{
    // Every tile of zoom 2, plain green.
    QImage tile(256, 256, QImage::Format_RGB32);
    tile.fill(QColor(120, 200, 120));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    tile.save(&buffer, "PNG");
    const auto file = m_dir / "map.mbtiles";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db,
                 "CREATE TABLE metadata (name TEXT, value TEXT); INSERT INTO metadata VALUES ('format','png');"
                 "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (2, ?1, ?2, ?3)", -1, &insert, nullptr);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) {
            sqlite3_bind_int(insert, 1, x);
            sqlite3_bind_int(insert, 2, y);
            sqlite3_bind_blob(insert, 3, png.constData(), int(png.size()), SQLITE_STATIC);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
    sqlite3_finalize(insert);
    sqlite3_close(db);

    CMapPageWnd w;
    bool loaded = false, ok = false;
    QObject::connect(&w, &CMapPageWnd::PageLoaded, [&](bool good) {
        loaded = true;
        ok = good;
    });
    w.SetTool(1004);
    Open(w, MapPageOptions{2, 0, "", file.string(), true});
    ASSERT_TRUE(WaitFor([&] { return loaded; }, 60000));
    ASSERT_TRUE(ok) << w.LastError();
    EXPECT_EQ(w.LastError(), "");
    Drive(w);
    const auto scripts = w.Scripts();
    ASSERT_GE(scripts.size(), 3u);
    EXPECT_EQ(scripts[0], "SetConvertCoorFlag(0)");
    EXPECT_EQ(scripts[1], "SetTileSource('velmortiles:/{z}/{x}/{y}',2,2)");
    EXPECT_EQ(scripts[2], "SetMapTool(1004)");
    EXPECT_EQ(State(w)["tool"].toInt(), 1004);
    EXPECT_EQ(State(w)["tracks"].toObject()["Bus 7"].toInt(), 3);
    ASSERT_TRUE(WaitFor([&] { return Evaluate(w, "document.querySelectorAll('img.leaflet-tile-loaded').length").toInt() > 0; },
                        20000));
    EXPECT_TRUE(Evaluate(w, "document.querySelector('img.leaflet-tile-loaded').src").toString().startsWith("velmortiles:/2/"));
    QElapsedTimer t;
    t.start();
    WaitFor([&] { return t.elapsed() > 1000; }, 2000);
    EXPECT_TRUE(w.grab().toImage().save(QString::fromStdString(std::string(VELMOR_ARTIFACTS) + "/map_offline_tiles.png")));

    // A map file that cannot be read: the plain background, and the reason kept.
    std::ofstream(m_dir / "broken.mbtiles") << "no database in here, only some words to fill a page header";
    loaded = false;
    w.LoadMapPage(MapPageOptions{2, 0, "", (m_dir / "broken.mbtiles").string(), true});
    ASSERT_TRUE(WaitFor([&] { return loaded; }, 60000));
    EXPECT_TRUE(ok);
    EXPECT_NE(w.LastError().find("broken.mbtiles"), std::string::npos) << w.LastError();
    EXPECT_EQ(w.Scripts().back(), "SetMapTool(1004)");
    const auto again = w.Scripts();
    EXPECT_EQ(again[again.size() - 2], "SetTileSource('',0,18)");
    EXPECT_EQ(Evaluate(w, "document.querySelectorAll('img.leaflet-tile').length").toInt(), 0);
}

TEST_F(MapPageWndTest, Charts)
{
    CSpeedGraphWnd speed;
    speed.resize(480, 240);
    EXPECT_EQ(speed.Series()->name(), "Series");
    EXPECT_EQ(speed.Range(), (std::pair<double, double>{0, 60}));
    speed.AddPoint(600, 40);
    speed.AddPoint(3700, 80);
    speed.AddPoint(-5, 10);
    EXPECT_EQ(speed.Range(), (std::pair<double, double>{0, 120}));
    ASSERT_EQ(speed.Points().size(), 2u);
    EXPECT_EQ(speed.Series()->count(), 2);
    EXPECT_DOUBLE_EQ(speed.Series()->at(0).x(), 10.0);
    for (int i = 0; i < 120; ++i) speed.AddPoint(3700 + i * 10, 40 + (i % 30) * 2);
    EXPECT_TRUE(speed.grab().toImage().save(QString::fromStdString(std::string(VELMOR_ARTIFACTS) + "/speed_graph.png")));
    speed.Clear();
    EXPECT_EQ(speed.Series()->count(), 0);
    EXPECT_EQ(speed.Range(), (std::pair<double, double>{0, 60}));

    CGSensorWnd gsensor;
    gsensor.resize(420, 360);
    EventRecord crash;
    crash.type = 5;
    crash.beginTime = 1714550401;  // 2024-05-01 08:00:01
    crash.endTime = 1714550405;
    crash.description = "G-sensor: collision";
    EventRecord brake = crash;
    brake.type = 15;
    brake.beginTime = brake.endTime = 1714550500;
    brake.description.clear();
    EventRecord loss = crash;
    loss.type = 2;
    gsensor.SetEvents({brake, crash, loss}, 1714550400, 1714554000);
    ASSERT_EQ(gsensor.List()->topLevelItemCount(), 2);
    EXPECT_EQ(gsensor.List()->topLevelItem(0)->text(0), "2024-05-01 08:00:01");
    EXPECT_EQ(gsensor.List()->topLevelItem(0)->text(1), "G-sensor: collision");
    EXPECT_EQ(gsensor.List()->topLevelItem(0)->text(2), "1");
    ASSERT_EQ(gsensor.Counts()->count(), 5);
    EXPECT_EQ(gsensor.Counts()->at(0), 1);
    EXPECT_EQ(gsensor.Counts()->at(3), 1);
    gsensor.SetShown({15});
    ASSERT_EQ(gsensor.Listed().size(), 1u);
    EXPECT_EQ(gsensor.Listed()[0].type, 15);
    EXPECT_EQ(gsensor.Counts()->count(), 1);

    const CLanguageTable english = CLanguageTable::Load(m_bin / "Language" / "SvrLanguage.ini");
    CLanguageTable table = english;
    table.SelectIndex(2);
    gsensor.Relabel(table);
    EXPECT_EQ(gsensor.List()->topLevelItem(0)->text(1), "Hard braking");
    EXPECT_EQ(gsensor.List()->headerItem()->text(0), "Time");
    gsensor.SetShown({5, 6, 14, 15, 16});
    EXPECT_TRUE(gsensor.grab().toImage().save(QString::fromStdString(std::string(VELMOR_ARTIFACTS) + "/gsensor.png")));
    gsensor.SetShown({15});
    gsensor.SetMenuLoader([](QWidget* parent) -> QWidget* {
        QFile file(VELMOR_SOURCE_DIR "/skin/GSensorMenu.ui");
        if (!file.open(QIODevice::ReadOnly)) return nullptr;
        QUiLoader loader;
        return loader.load(&file, parent);
    });
    QWidget* menu = gsensor.ShowMenu(QPoint(10, 10));
    ASSERT_NE(menu, nullptr);
    auto* crashOption = menu->findChild<QAbstractButton*>("GSensor_Option_Crash");
    auto* brakeOption = menu->findChild<QAbstractButton*>("GSensor_Option_SpeedDown");
    ASSERT_NE(crashOption, nullptr);
    ASSERT_NE(brakeOption, nullptr);
    EXPECT_EQ(crashOption->text(), "Collision");  // in the language the window was given
    EXPECT_FALSE(crashOption->isChecked());  // the menu shows the kinds shown
    EXPECT_TRUE(brakeOption->isChecked());
    crashOption->setChecked(true);
    EXPECT_EQ(gsensor.Shown(), (std::set<uint8_t>{5, 15}));
    EXPECT_EQ(gsensor.Listed().size(), 2u);
    brakeOption->setChecked(false);
    EXPECT_EQ(gsensor.Shown(), (std::set<uint8_t>{5}));
    menu->hide();
    gsensor.SetMenuLoader([](QWidget*) -> QWidget* { return nullptr; });
    EXPECT_EQ(gsensor.ShowMenu(QPoint(10, 10)), nullptr);

    // The IO and urgent alarms tab: its menu's items choose what it lists.
    CIoAlarmWnd io;
    EventRecord input = crash;
    input.type = 1;
    input.description = "Door";
    EventRecord urgent = crash;
    urgent.type = 7;
    urgent.beginTime = urgent.endTime = 1714550600;
    urgent.description.clear();
    io.Relabel(table);
    io.SetEvents({urgent, crash, input}, 1714550400, 1714554000);
    ASSERT_EQ(io.List()->topLevelItemCount(), 2);
    EXPECT_EQ(io.List()->topLevelItem(0)->text(1), "Door");
    EXPECT_EQ(io.List()->topLevelItem(1)->text(1), "Urgent alarm");
    QMenu* ioMenu = io.ShowMenu(QPoint(10, 10));
    ASSERT_NE(ioMenu, nullptr);
    auto* inputs = ioMenu->findChild<QAction*>("Warn_Option_IO");
    ASSERT_NE(inputs, nullptr);
    EXPECT_EQ(inputs->text(), "IO alarm");
    EXPECT_TRUE(inputs->isChecked());
    inputs->trigger();
    EXPECT_EQ(io.Shown(), (std::set<uint8_t>{7}));
    ASSERT_EQ(io.Listed().size(), 1u);
    EXPECT_EQ(io.Listed()[0].type, 7);
    ioMenu->close();

    CTemperatureWnd temperature;
    temperature.Relabel(table);
    EXPECT_EQ(temperature.Text(), "This recording holds no temperature values.");
}

}  // namespace
