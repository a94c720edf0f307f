// The workspace widgets on a virtual display: the timeline and the calendar
// drawn and checked pixel by pixel (the pictures are kept beside the test for
// a look), their mouse handling, and the cut dialog running the export job
// on a tiny container file, to the end and stopped.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <memory>
#include <thread>
#include <tuple>

#include "common/IniFile.h"
#include "common/LanguageTable.h"
#include "player/app/ControlServer.h"
#include "player/app/CutCommands.h"
#include "player/ui/UiHost.h"
#include "player/playback/PlayToolWnd.h"
#include "player/playback/PlayVideoWnd.h"
#include "player/playback/PlayWndMenu.h"
#include "player/export/ReportVerifier.h"
#include "player/workspace/CutDlg.h"
#include "player/workspace/RKCalendar.h"
#include "player/workspace/TimelineWnd.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/TempDir.h"
#include "tests/support/VideoCodec.h"

namespace velmor {
namespace {

namespace fs = std::filesystem;
constexpr uint32_t kMidnight = 1765152000;  // 2025-12-08 00:00:00 UTC
constexpr uint32_t kT10 = kMidnight + 36000;

std::unique_ptr<QApplication> g_app;

// The application ends before the program's static objects: the browser
// library linked in shuts its shared context down from the application's end.
class CAppEnvironment : public ::testing::Environment {
public:
    void TearDown() override { g_app.reset(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new CAppEnvironment);

QApplication& App()
{
    static int argc = 1;
    static char name[] = "workspace_window_tests";
    static char* argv[] = {name, nullptr};
    if (!g_app) g_app = std::make_unique<QApplication>(argc, argv);
    return *g_app;
}

void Settle(int rounds = 5)
{
    for (int i = 0; i < rounds; ++i) QApplication::processEvents();
}

StSearchRecord_t Record(int channel, uint32_t begin, uint32_t end)
{
    StSearchRecord_t r;
    std::memset(&r, 0, sizeof r);
    r.channel = uint8_t(channel);
    r.beginTime.set(begin);
    r.endTime.set(end);
    return r;
}

QColor Pixel(const QImage& img, int x, int y)
{
    return QColor(img.pixel(x, y));
}

void Mouse(QWidget* w, QEvent::Type type, int x, int y, Qt::MouseButton button = Qt::LeftButton)
{
    const QPointF local(x, y);
    QMouseEvent e(type, local, w->mapToGlobal(local), button,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton), Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

class WorkspaceWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        App();
        const fs::path src = VELMOR_SOURCE_DIR;
        m_language = std::make_unique<CLanguageTable>(CIniFile::Load(src / "Language/SvrLanguage.ini"));
        m_language->SelectIndex(2);
        m_host = std::make_unique<CUiHost>(QString::fromStdString((src / "skin").string()), m_language.get());
        m_host->SetMessageHook([this](const QString&, const QString& text) { m_messages.push_back(text); });
    }
    std::unique_ptr<CLanguageTable> m_language;
    std::unique_ptr<CUiHost> m_host;
    std::vector<QString> m_messages;
};

class TimelineWindowTest : public WorkspaceWindowTest {
protected:
    void SetUp() override
    {
        WorkspaceWindowTest::SetUp();
        m_wnd = std::make_unique<CRKTimelineWnd>();
        m_wnd->resize(820, 200);
        m_wnd->show();
        Settle();
        m_tl = m_wnd->Timeline();
        std::map<int, std::vector<StSearchRecord_t>> day{
            {1, {Record(1, kMidnight + 36000, kMidnight + 39600)}},
            {3, {Record(3, kMidnight + 43200, kMidnight + 50400), Record(3, kMidnight + 50400, kMidnight + 54000)}},
        };
        m_wnd->ShowTimelineWndByFile(day);
        Settle();
    }
    // The drawing's formula, written out: 20 + (width - 20) x t / 86400 at zoom 1.
    int X(int t) const { return 20 + (m_tl->width() - 20) * t / 86400; }
    int RowMiddle(int row) const
    {
        const int rowH = (m_tl->height() - 24 - 20) / 4;
        return 24 + row * rowH + rowH / 2;
    }
    std::unique_ptr<CRKTimelineWnd> m_wnd;
    CTimelineWnd* m_tl = nullptr;
};

TEST_F(TimelineWindowTest, DrawsBackgroundBarsAndCursor)
{
    ASSERT_GT(m_tl->width(), 600);
    EXPECT_EQ(m_tl->Model().ClientWidth(), m_tl->width());
    const QImage img = m_tl->grab().toImage();
    ASSERT_FALSE(img.isNull());
    img.save("timeline.png");
    EXPECT_EQ(Pixel(img, 5, img.height() - 3), QColor(30, 30, 30));
    EXPECT_EQ(Pixel(img, m_tl->width() - 30, img.height() - 3), QColor(30, 30, 30));
    // Channel 1 from 10:00 to 11:00 on the first row; channel 3 on the third.
    EXPECT_EQ(Pixel(img, X(37800), RowMiddle(0)), QColor(10, 99, 198));
    EXPECT_EQ(Pixel(img, X(39600) + 3, RowMiddle(0)), QColor(30, 30, 30));
    EXPECT_EQ(Pixel(img, X(46800) + 1, RowMiddle(2)), QColor(10, 99, 198));
    EXPECT_EQ(Pixel(img, X(52000) + 1, RowMiddle(2)), QColor(10, 99, 198));
    EXPECT_NE(Pixel(img, X(46800) + 1, RowMiddle(1)), QColor(10, 99, 198));
    // The touching bars make one band: no gap where they meet.
    for (int x = X(50400) - 2; x <= X(50400) + 2; ++x) EXPECT_EQ(Pixel(img, x, RowMiddle(2)), QColor(10, 99, 198)) << x;
    // The cursor at the earliest start, white from the scale down.
    EXPECT_EQ(m_wnd->CursorTime(), 36000);
    const int cx = 20 + m_tl->Model().CursorX();
    EXPECT_EQ(cx, X(36000));
    EXPECT_EQ(Pixel(img, cx, RowMiddle(1)), QColor(Qt::white));
    EXPECT_EQ(Pixel(img, cx, RowMiddle(3)), QColor(Qt::white));
}

TEST_F(TimelineWindowTest, ClickMovesTheCursorAndDoubleClickReportsIt)
{
    int moved = -1, played = -1;
    m_wnd->SetOnCursorMoved([&](int t) { moved = t; });
    m_wnd->SetOnDoubleClick([&](int t) { played = t; });
    const int x = X(64800);
    Mouse(m_tl, QEvent::MouseButtonPress, x, RowMiddle(1));
    Mouse(m_tl, QEvent::MouseButtonRelease, x, RowMiddle(1));
    EXPECT_EQ(m_wnd->CursorTime(), m_tl->Model().TimeOfX(x));
    EXPECT_NEAR(m_wnd->CursorTime(), 64800, 86400 / (m_tl->width() - 20) + 1);
    EXPECT_EQ(moved, m_wnd->CursorTime());
    Mouse(m_tl, QEvent::MouseButtonDblClick, x, RowMiddle(1));
    EXPECT_EQ(played, m_wnd->CursorTime());
    // On the scale a click does nothing.
    moved = -1;
    Mouse(m_tl, QEvent::MouseButtonPress, X(20000), 10);
    Mouse(m_tl, QEvent::MouseButtonRelease, X(20000), 10);
    EXPECT_EQ(moved, -1);
}

TEST_F(TimelineWindowTest, ZoomByWheelAndButtonsStopsAtItsBounds)
{
    CMyTimelineWnd* holder = m_wnd->Holder();
    auto wheel = [&](int dy) {
        QWheelEvent e(QPointF(100, 50), holder->mapToGlobal(QPointF(100, 50)), QPoint(), QPoint(0, dy), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(holder, &e);
    };
    EXPECT_FALSE(holder->ScrollBar()->isVisible());
    wheel(120);
    EXPECT_EQ(m_wnd->Zoom(), 2);
    EXPECT_TRUE(holder->ScrollBar()->isVisible());
    EXPECT_EQ(holder->ScrollBar()->maximum(), m_tl->width() - 20);
    for (int i = 0; i < 20; ++i) holder->OnCommand(kCmdZoomIn);
    EXPECT_EQ(m_wnd->Zoom(), 15);
    wheel(120);
    EXPECT_EQ(m_wnd->Zoom(), 15);
    for (int i = 0; i < 13; ++i) wheel(-120);
    EXPECT_EQ(m_wnd->Zoom(), 2);
    holder->OnCommand(kCmdZoomOut);
    EXPECT_EQ(m_wnd->Zoom(), 1);
    EXPECT_FALSE(holder->ScrollBar()->isVisible());
    m_wnd->ZoomOut();
    EXPECT_EQ(m_wnd->Zoom(), 1);
    EXPECT_EQ(m_tl->Model().ScrollOffset(), 0);
}

TEST_F(TimelineWindowTest, DraggingNearTheEdgesScrolls)
{
    m_wnd->ZoomIn();
    Settle();
    CMyTimelineWnd* holder = m_wnd->Holder();
    holder->ScrollBar()->setValue(0);
    m_wnd->SetCursorTime(0);
    // Grab the cursor handle and drag it to the right edge.
    const int cx = 20 + m_tl->Model().CursorX();
    Mouse(m_tl, QEvent::MouseButtonPress, cx, RowMiddle(1));
    EXPECT_EQ(m_tl->Dragging(), CTimelineWnd::EDrag::kCursor);
    Mouse(m_tl, QEvent::MouseMove, m_tl->width() - 5, RowMiddle(1));
    EXPECT_EQ(m_tl->AutoScrollTimer(), kTimerScrollRight);
    m_tl->AutoScrollStep(kTimerScrollRight);
    EXPECT_EQ(m_tl->Model().ScrollOffset(), 10);
    Mouse(m_tl, QEvent::MouseMove, m_tl->width() + 5, RowMiddle(1));
    EXPECT_EQ(m_tl->AutoScrollTimer(), kTimerScrollRightFar);
    m_tl->AutoScrollStep(kTimerScrollRightFar);
    EXPECT_EQ(m_tl->Model().ScrollOffset(), 110);
    m_tl->AutoScrollStep(kTimerScrollLeft);
    EXPECT_EQ(m_tl->Model().ScrollOffset(), 100);
    m_tl->AutoScrollStep(kTimerScrollLeftFar);
    EXPECT_EQ(m_tl->Model().ScrollOffset(), 0);
    m_tl->AutoScrollStep(kTimerScrollLeftFar);
    EXPECT_EQ(m_tl->Model().ScrollOffset(), 0);
    // Leaving the window ends the drag.
    Mouse(m_tl, QEvent::MouseMove, m_tl->width() + 30, RowMiddle(1));
    EXPECT_EQ(m_tl->Dragging(), CTimelineWnd::EDrag::kNone);
    EXPECT_EQ(m_tl->AutoScrollTimer(), 0);
}

TEST_F(TimelineWindowTest, RangeMarksAreDragged)
{
    m_wnd->SetMarkedRange(50400, 36000);
    EXPECT_EQ(m_wnd->MarkedRange(), std::make_pair(36000, 50400));
    m_wnd->SetCursorTime(70000);
    const int from = X(36000);
    Mouse(m_tl, QEvent::MouseButtonPress, from, RowMiddle(3));
    EXPECT_EQ(m_tl->Dragging(), CTimelineWnd::EDrag::kLeftMark);
    Mouse(m_tl, QEvent::MouseMove, X(30000), RowMiddle(3));
    Mouse(m_tl, QEvent::MouseButtonRelease, X(30000), RowMiddle(3));
    EXPECT_EQ(m_tl->Dragging(), CTimelineWnd::EDrag::kNone);
    EXPECT_EQ(m_wnd->MarkedRange().first, m_tl->Model().TimeOfX(X(30000)));
    EXPECT_EQ(m_wnd->MarkedRange().second, 50400);
    EXPECT_EQ(m_wnd->CursorTime(), 70000);
}

TEST_F(TimelineWindowTest, LabelAndClear)
{
    m_wnd->SetLabel("CH1");
    m_wnd->Clear();
    EXPECT_EQ(m_tl->Model().RowCount(), 4);
    for (const auto& row : m_tl->Model().Rows()) EXPECT_TRUE(row.empty());
    const QImage img = m_tl->grab().toImage();
    EXPECT_EQ(Pixel(img, X(37800), RowMiddle(0)), QColor(30, 30, 30));
}

TEST_F(WorkspaceWindowTest, NoonLiesAtThreeNinetyInASevenSixtyPixelWindow)
{
    CTimelineWnd tl;
    tl.resize(760, 200);
    tl.show();
    Settle();
    ASSERT_EQ(tl.width(), 760);
    tl.Model().ResetView();
    ASSERT_TRUE(tl.Model().AddBar(0, 43200, 46800, 255));
    const int rowMiddle = 24 + (200 - 44) / 4 / 2;
    QImage img = tl.grab().toImage();
    EXPECT_EQ(Pixel(img, 389, rowMiddle), QColor(30, 30, 30));
    EXPECT_EQ(Pixel(img, 390, rowMiddle), QColor(10, 99, 198));
    EXPECT_EQ(Pixel(img, 419, rowMiddle), QColor(10, 99, 198));
    EXPECT_EQ(Pixel(img, 421, rowMiddle), QColor(30, 30, 30));  // 13:00 ends the bar at 420
    tl.Model().SetCursor(43200);
    img = tl.grab().toImage();
    EXPECT_EQ(Pixel(img, 390, rowMiddle), QColor(Qt::white));
    EXPECT_EQ(Pixel(img, 390, 190), QColor(Qt::white));
}

TEST_F(TimelineWindowTest, FilledFromAnotherThread)
{
    std::map<int, std::vector<StSearchRecord_t>> day{{2, {Record(2, kMidnight + 7200, kMidnight + 9000)}}};
    std::thread search([&] { m_wnd->ShowTimelineWndByFile(day); });
    search.join();
    Settle();
    EXPECT_EQ(m_wnd->CursorTime(), 7200);
    const QImage img = m_tl->grab().toImage();
    EXPECT_EQ(Pixel(img, X(8100), RowMiddle(1)), QColor(10, 99, 198));
    EXPECT_EQ(Pixel(img, X(37800), RowMiddle(0)), QColor(30, 30, 30));  // the earlier result is gone
}

// A play window's information strip and context menu, each from its own
// layout; sixteen strips share one window, so their names carry its number.
TEST_F(WorkspaceWindowTest, PlayToolStripAndContextMenu)
{
    CPlayToolWnd strip(*m_host, 7, nullptr);
    EXPECT_EQ(strip.objectName(), "PLAYTOOLWND_7");
    EXPECT_TRUE(strip.isHidden());
    struct Row {
        WindowStreamInfo info;
        QStringList texts;
    };
    auto stream = [](bool h265, int height, int frameRate, int audioType) {
        WindowStreamInfo info;
        std::tie(info.h265, info.width, info.height, info.frameRate, info.audioType) =
            std::tuple(h265, 704, height, frameRate, audioType);
        return info;
    };
    for (const Row& r : {Row{stream(true, 576, 25, 11), {"Size:704x576", "Sound:G711A", "Rate:25", "Codec:H.265"}},
                         Row{stream(false, 576, 12, -1), {"Size:704x576", "Sound:none", "Rate:12", "Codec:H.264"}},
                         Row{stream(true, 0, 25, 11), {"", "", "", ""}}}) {
        strip.SetTexts(CPlayToolWnd::Texts(*m_host, r.info));
        EXPECT_EQ(strip.Texts(), r.texts);
        const char* names[] = {"Resolving", "Audio", "Frame", "VideoFormat"};
        for (int k = 0; k < 4; ++k) {
            auto* label = strip.findChild<QLabel*>(QString("PLAYTOOLWND_%1_7").arg(names[k]));
            ASSERT_NE(label, nullptr) << names[k];
            EXPECT_EQ(label->text(), r.texts[k]);
        }
    }

    // The menu from its layout, and the same menu made in code when the
    // layout is missing.
    const fixtures::CTempDir noSkin("velmor-noskin");
    CUiHost bare(QString::fromStdString(noSkin.Path().string()), m_language.get());
    for (CUiHost* host : {m_host.get(), &bare}) {
        const std::unique_ptr<QMenu> menu = CPlayWndMenu::Build(*host, nullptr);
        EXPECT_EQ(menu->objectName(), "PlayWndMenu");
        const QList<QAction*> items = menu->actions();
        ASSERT_EQ(items.size(), 2);
        EXPECT_EQ(items[0]->objectName(), "PlayWnd_Label_OpenInfo");
        // Only the layout gives the items their language keys.
        EXPECT_EQ(items[0]->property("langKey").toString(), host == &bare ? "" : "PlayBack_ToolTip_OpenTool");
        EXPECT_EQ(items[0]->text(), "Show the information strip");
        EXPECT_EQ(items[1]->objectName(), "PlayWnd_Label_CloseInfo");
        EXPECT_EQ(items[1]->text(), "Hide the information strip");
        EXPECT_EQ(CPlayWndMenu::ChoiceOf(items[0]), CPlayWndMenu::EChoice::kOpenInfo);
        EXPECT_EQ(CPlayWndMenu::ChoiceOf(items[1]), CPlayWndMenu::EChoice::kCloseInfo);
        EXPECT_EQ(CPlayWndMenu::ChoiceOf(nullptr), CPlayWndMenu::EChoice::kNone);
    }

    // The decoding path's line: named, not to be chosen, the reason as its tip.
    struct PathRow {
        DecodePathInfo path;
        const char* text;
    };
    const PathRow paths[] = {{{"cuda", ""}, "Hardware decoding (cuda)"},
                             {{"none", "vaapi: cannot create the device"}, "Software decoding"}};
    for (const PathRow& r : paths) {
        const std::unique_ptr<QMenu> menu = CPlayWndMenu::Build(*m_host, nullptr, &r.path);
        auto* line = menu->findChild<QAction*>("PlayWnd_Label_Decoding");
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->text(), r.text);
        EXPECT_FALSE(line->isEnabled());
        EXPECT_EQ(line->toolTip().toStdString(), r.path.reason.empty() ? line->text().toStdString() : r.path.reason);
        EXPECT_EQ(CPlayWndMenu::ChoiceOf(line), CPlayWndMenu::EChoice::kNone);
    }
}

TEST_F(WorkspaceWindowTest, CalendarMarksDaysGreen)
{
    CRKCalendar cal(*m_host);
    cal.resize(320, 360);
    cal.SetMarkedDays({20240605, 20240620, 20240705});
    cal.ShowMonth(2024, 6);
    cal.show();
    Settle(10);
    EXPECT_EQ(cal.Year(), 2024);
    EXPECT_EQ(cal.Month(), 6);
    const QImage img = cal.grab().toImage();
    img.save("calendar.png");
    auto cell = [&](int n) { return CUiHost::Find<QWidget>(cal.Root(), QString("Calendar_Day_Hor%1").arg(n)); };
    auto button = [&](int n) { return CUiHost::Find<QAbstractButton>(cal.Root(), QString("Calendar_Day_Bt%1").arg(n)); };
    // June 2024 starts on a Saturday: cells 1..6 hidden, day 1 in cell 7, day 30 in cell 36.
    for (int n = 1; n <= 6; ++n) EXPECT_FALSE(cell(n)->isVisible()) << n;
    EXPECT_TRUE(cell(7)->isVisible());
    EXPECT_EQ(button(7)->text(), "1");
    EXPECT_EQ(button(36)->text(), "30");
    EXPECT_FALSE(cell(37)->isVisible());
    // Day 5 (cell 11) is marked: its background is green; day 6 is not.
    const QPoint marked = cell(11)->mapTo(&cal, QPoint(2, 2));
    EXPECT_EQ(Pixel(img, marked.x(), marked.y()), QColor(0, 255, 0));
    const QPoint plain = cell(12)->mapTo(&cal, QPoint(2, 2));
    EXPECT_NE(Pixel(img, plain.x(), plain.y()), QColor(0, 255, 0));
    EXPECT_TRUE(CUiHost::Find<QWidget>(cal.Root(), "Calendar_Day_Prompt11")->isVisible());
    EXPECT_FALSE(CUiHost::Find<QWidget>(cal.Root(), "Calendar_Day_Prompt12")->isVisible());
    EXPECT_TRUE(CUiHost::Find<QWidget>(cal.Root(), "Calendar_Month_Prompt6")->isVisible());
    EXPECT_FALSE(CUiHost::Find<QWidget>(cal.Root(), "Calendar_Month_Prompt8")->isVisible());
    EXPECT_EQ(CUiHost::Find<QLabel>(cal.Root(), "Calendar_Label_Week0")->text(), "Su");

    std::vector<int> clicked;
    cal.SetOnDayClicked([&](int y, int m, int d) { clicked = {y, m, d}; });
    button(12)->click();  // no recordings: nothing
    EXPECT_TRUE(clicked.empty());
    button(11)->click();
    EXPECT_EQ(clicked, (std::vector<int>{2024, 6, 5}));
    CUiHost::Find<QAbstractButton>(cal.Root(), "Calendar_Month_Bt7")->click();
    EXPECT_EQ(cal.Month(), 7);
    CUiHost::Find<QAbstractButton>(cal.Root(), "Calendar_Year_Bt2")->click();
    EXPECT_EQ(cal.Year(), 2025);
    cal.SelectDay(2000, 2, 29);
    EXPECT_EQ(cal.Year(), 2000);
    EXPECT_EQ(cal.Month(), 2);
    cal.SelectDay(1900, 2, 29);  // no such day
    EXPECT_EQ(cal.Year(), 2000);
}

// The regular files under `dir`, recursively.
std::vector<fs::path> FilesUnder(const fs::path& dir)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file()) files.push_back(it->path());
    return files;
}

class CutDialogTest : public WorkspaceWindowTest {
protected:
    // Six seconds of 96 x 64 video on channels 1 and 2 of one container file.
    static void SetUpTestSuite()
    {
        s_dir = new fixtures::CTempDir("cut-dialog");
        // Exports sign with the key of a profile of the test's own.
        ::setenv("VELMOR_PROFILE_DIR", (s_dir->Path() / "profile").c_str(), 1);
        fixtures::VideoSpec recipe;
        recipe.width = 96;
        recipe.height = 64;
        recipe.frames = 150;
        recipe.gop = 25;
        recipe.lossless = false;
        const auto video = fixtures::EncodeVideo(recipe);
        fixtures::CContainerFileImage image(s_dir->Path() / "fc00001.rpo", 1);
        fixtures::RecordingParams one, two;
        two.channel = 1;
        fixtures::CRecordWriter first(image, one), second(image, two);
        for (size_t i = 0; i < video.units.size(); ++i) {
            const auto& u = video.units[i];
            const uint64_t pts = (uint64_t(kT10) * 1000 + i * 40) * 1000;
            for (auto* w : {&first, &second})
                ASSERT_EQ(w->WriteFrame(u.key ? rkfs::kFrameI : rkfs::kFrameP, pts, u.data.data(), uint32_t(u.data.size())),
                          fixtures::WriteResult::kWritten);
        }
        first.Close();
        second.Close();
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    CutSource Source() const
    {
        CutSource s;
        s.path = s_dir->Path() / "fc00001.rpo";
        s.kind = ESourceKind::kContainerFile;
        s.channels = {1, 2};
        s.from = kT10 + 1;
        s.to = kT10 + 4;
        return s;
    }
    static fixtures::CTempDir* s_dir;
};
fixtures::CTempDir* CutDialogTest::s_dir = nullptr;

TEST_F(CutDialogTest, RunsTheExportToTheEnd)
{
    const fs::path out = s_dir->Path() / "done";
    CCutDlg dlg(*m_host, Source(), out);
    EXPECT_EQ(dlg.EnabledChannels(), (std::vector<int>{1, 2}));
    const CutChoice c = dlg.Choice();
    EXPECT_EQ(c.from, kT10 + 1);
    EXPECT_EQ(c.to, kT10 + 4);
    EXPECT_EQ(c.channels, (std::vector<int>{1, 2}));
    EXPECT_EQ(c.format, EExportFormat::kMp4);
    EXPECT_EQ(c.folder, out);
    auto* formats = CUiHost::Find<QComboBox>(dlg.Root(), "Cut_Combo_Format");
    ASSERT_NE(formats, nullptr);
    ASSERT_EQ(formats->count(), 6);
    EXPECT_EQ(formats->itemText(0), "Recorder format");
    EXPECT_EQ(formats->itemText(4), "RKRec");
    EXPECT_EQ(formats->itemText(5), "GPX track");
    EXPECT_EQ(formats->currentIndex(), 1);
    EXPECT_FALSE(CUiHost::Find<QCheckBox>(dlg.Root(), "Cut_Option_Chn3")->isEnabled());
    dlg.show();
    Settle();
    dlg.grab().toImage().save("cutdlg.png");
    dlg.hide();
    std::vector<int> progress;
    bool done = false;
    dlg.SetOnProgress([&](int p) { progress.push_back(p); });
    dlg.SetOnDone([&](const ExportJobResult&) { done = true; });
    dlg.SetShowProgress(false);
    ASSERT_TRUE(dlg.Start());
    ASSERT_TRUE(dlg.WaitDone(60000));
    EXPECT_TRUE(done);
    ASSERT_TRUE(dlg.Result().ok) << dlg.Result().error;
    EXPECT_EQ(dlg.Result().files.size(), 2u);
    for (const auto& f : dlg.Result().files) {
        EXPECT_TRUE(fs::is_regular_file(f)) << f;
        EXPECT_EQ(f.extension(), ".mp4");
        EXPECT_GT(fs::file_size(f), 1000u);
    }
    EXPECT_TRUE(fs::is_regular_file(dlg.Result().report));
    EXPECT_EQ(FilesUnder(out).size(), 4u) << "two clips, the report and its public key";
    EXPECT_TRUE(VerifyReport(dlg.Result().report).ok);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    for (size_t i = 0; i + 1 < progress.size(); ++i) EXPECT_LT(progress[i], 100);
    EXPECT_EQ(dlg.ProgressWindow()->Percent(), 100);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "The export is complete.");
}

TEST_F(CutDialogTest, StoppedFromTheProgressWindowLeavesNothing)
{
    const fs::path out = s_dir->Path() / "stopped";
    CutSource source = Source();
    source.from = kT10;
    source.to = kT10 + 6;
    CCutDlg dlg(*m_host, source, out);
    dlg.SetCombine(true);
    dlg.SetShowProgress(false);
    ASSERT_TRUE(dlg.Start());
    dlg.ProgressWindow()->AskStop();  // the hook answers Yes
    ASSERT_TRUE(dlg.WaitDone(60000));
    EXPECT_FALSE(dlg.Result().ok);
    EXPECT_EQ(dlg.Result().failure, EExportFailure::kStopped);
    EXPECT_LT(dlg.ProgressWindow()->Percent(), 100);
    EXPECT_EQ(FilesUnder(out), std::vector<fs::path>{});
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(m_messages[0], "Stop the export?");
    EXPECT_EQ(m_messages[1], "The export was stopped; no files were kept.");
}

TEST_F(CutDialogTest, RefusalsShowTheirMessageAndWriteNothing)
{
    const fs::path out = s_dir->Path() / "refused";
    CCutDlg dlg(*m_host, Source(), out);
    dlg.SetChannels({3});  // no recordings on channel 3: its box stays clear
    EXPECT_TRUE(dlg.Choice().channels.empty());
    EXPECT_FALSE(dlg.Start());
    EXPECT_EQ(dlg.RefusalKey(), "Cut_CHN_Error");
    dlg.SetChannels({2});
    dlg.SetRange(kT10 + 4, kT10 + 1);
    EXPECT_FALSE(dlg.Start());
    EXPECT_EQ(dlg.RefusalKey(), "Cut_Time_Error");
    dlg.SetRange(kT10 + 1, kT10 + 4);
    dlg.SetFolder("");
    EXPECT_FALSE(dlg.Start());
    EXPECT_EQ(dlg.RefusalKey(), "Cut_Path_Error");
    ASSERT_EQ(m_messages.size(), 3u);
    EXPECT_EQ(m_messages[0], "The selected channels have no recordings in this span.");
    EXPECT_EQ(m_messages[1], "The start time must be earlier than the end time.");
    EXPECT_FALSE(dlg.Running());
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(CutDialogTest, AFailedExportSaysSo)
{
    const fs::path out = s_dir->Path() / "failed";
    CutSource source = Source();
    source.from = kT10 + 600;  // nothing recorded then
    source.to = kT10 + 700;
    CCutDlg dlg(*m_host, source, out);
    dlg.SetShowProgress(false);
    ASSERT_TRUE(dlg.Start());
    ASSERT_TRUE(dlg.WaitDone(60000));
    EXPECT_FALSE(dlg.Result().ok);
    EXPECT_LT(dlg.ProgressWindow()->Percent(), 100);
    EXPECT_EQ(FilesUnder(out), std::vector<fs::path>{});
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "The export failed: " + QString::fromStdString(dlg.Result().error));
    EXPECT_FALSE(dlg.Result().error.empty());
}


class CutCommandTest : public CutDialogTest {
protected:
    void SetUp() override
    {
        CutDialogTest::SetUp();
        m_socketPath = QString::fromStdString((s_dir->Path() / "control.sock").string());
        QString error;
        ASSERT_TRUE(m_server.Listen(m_socketPath, &error)) << error.toStdString();
        m_host->SetMessageHook([this](const QString& c, const QString& t) { m_server.OnMessage(c, t); });
        AddCutCommands(m_server, *m_host,
                       [this]() -> std::optional<CutSource> {
                           if (!m_shown) return std::nullopt;
                           return Source();
                       },
                       [this] { return m_out; });
        m_client.connectToServer(m_socketPath);
        ASSERT_TRUE(m_client.waitForConnected(2000));
        Settle(10);
    }
    QJsonObject Run(const char* line)
    {
        return QJsonDocument::fromJson(m_server.Execute(line)).object();
    }
    std::vector<QJsonObject> Events()
    {
        Settle(10);
        m_client.waitForReadyRead(200);
        std::vector<QJsonObject> events;
        for (const QByteArray& l : m_client.readAll().split('\n'))
            if (!l.isEmpty()) events.push_back(QJsonDocument::fromJson(l).object());
        return events;
    }
    CControlServer m_server;
    QLocalSocket m_client;
    QString m_socketPath;
    bool m_shown = true;
    fs::path m_out;
};

TEST_F(CutCommandTest, CutsThroughTheDialogAndReportsFiles)
{
    m_out = s_dir->Path() / "command";
    const std::string line = "{\"command\":[\"cut\",{\"from\":" + std::to_string(kT10 + 1) + ",\"to\":" +
                             std::to_string(kT10 + 3) + ",\"channels\":[2],\"format\":\"mp4\",\"combine\":false}]}";
    const QJsonObject reply = Run(line.c_str());
    ASSERT_EQ(reply["error"].toString(), "success") << QJsonDocument(reply).toJson().toStdString();
    const QJsonArray files = reply["data"].toObject()["files"].toArray();
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(fs::is_regular_file(files[0].toString().toStdString()));
    EXPECT_TRUE(files[0].toString().startsWith(QString::fromStdString(m_out.string())));
    const auto events = Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.back()["event"].toString(), "cut-done");
    EXPECT_TRUE(events.back()["ok"].toBool());
    EXPECT_EQ(events.back()["files"].toArray(), files);
    EXPECT_EQ(events[events.size() - 2]["event"].toString(), "cut-progress");
    EXPECT_EQ(events[events.size() - 2]["percent"].toInt(), 100);
}

TEST_F(CutCommandTest, RefusedLikeTheDialog)
{
    m_out = s_dir->Path() / "command-refused";
    const std::string t1 = std::to_string(kT10 + 1), t3 = std::to_string(kT10 + 3);
    struct Row {
        std::string line;
        QString error;
    } rows[] = {
        {"{\"command\":[\"cut\",{\"from\":" + t3 + ",\"to\":" + t1 + "}]}",
         "The start time must be earlier than the end time."},
        {"{\"command\":[\"cut\",{\"from\":" + t1 + ",\"to\":" + t3 + ",\"channels\":[3]}]}",
         "The selected channels have no recordings in this span."},
        {"{\"command\":[\"cut\",{\"from\":" + t1 + ",\"to\":" + t3 + ",\"format\":\"kml\"}]}",
         "format must be ifv, mp4, avi, gps, gpx or rkrec"},
        {"{\"command\":[\"cut\",{\"from\":-1,\"to\":" + t3 + "}]}", "from and to must be whole seconds"},
        {"{\"command\":[\"cut\",{\"from\":" + t1 + ",\"to\":" + t3 + ",\"channels\":[0]}]}",
         "channels are numbers from 1 to 16"},
        {"{\"command\":[\"cut\",{\"from\":" + t1 + ",\"to\":" + t3 + ",\"combine\":1}]}", "combine must be true or false"},
        {"{\"command\":[\"cut\",{\"from\":" + t1 + ",\"to\":" + t3 + ",\"speed\":1}]}", "unknown field speed"},
        {"{\"command\":[\"cut\"]}", "the command takes one object"},
    };
    for (const auto& row : rows) {
        const QJsonObject reply = Run(row.line.c_str());
        EXPECT_EQ(reply["error"].toString(), row.error) << row.line;
    }
    m_shown = false;
    const std::string none = "{\"command\":[\"cut\",{\"from\":" + t1 + ",\"to\":" + t3 + "}]}";
    EXPECT_EQ(Run(none.c_str())["error"].toString(), "no recording is shown");
    EXPECT_FALSE(fs::exists(m_out));
}

}  // namespace
}  // namespace velmor
