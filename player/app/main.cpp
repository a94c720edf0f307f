// velmor: start-up in a fixed order, one instance per profile, then the
// main frame's loop; released in reverse order on the way out.
#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QScreen>
#include <QTimeZone>
#include <QTimer>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/CrashReport.h"
#include "player/ui/AppTrace.h"
#include "player/settings/ConfigFile.h"
#include "player/app/ControlServer.h"
#include "player/app/LogPage.h"
#include "player/app/MainFrame.h"
#include "player/app/CutCommands.h"
#include "player/workspace/DrivingRecord.h"
#include "player/workspace/Graphs.h"
#include "player/app/PlayCommands.h"
#include "player/app/WorkspaceCommands.h"
#include "player/app/SettingsDlg.h"
#include "player/app/UiLatency.h"
#include "player/app/VelmorApp.h"
#include "player/workspace/MapPageWnd.h"
#include "player/workspace/TimelineWnd.h"
#include "player/playback/AudioDlgs.h"
#include "player/playback/PlayWndDlg.h"

using namespace velmor;

namespace {

struct Options {
    std::string control;
    std::string path;
};

int Usage(int rc)
{
    std::fprintf(rc ? stderr : stdout,
                 "usage: velmor [--control SOCKET] [FILE]\n"
                 "       velmor --version\n"
                 "       velmor --command SOCKET JSON...   send requests to a running velmor, print the replies\n");
    return rc;
}

// A script's client of the control socket: each request line is sent, and
// the reply to it (events that come first are left out) printed. Exit 0
// when every reply says "success".
int SendCommands(const char* path, int count, char** lines)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof addr.sun_path) {
        std::fprintf(stderr, "velmor: socket path too long\n");
        return 2;
    }
    std::strcpy(addr.sun_path, path);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "velmor: cannot connect to %s: %s\n", path, std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return 1;
    }
    int rc = 0;
    std::string pending;
    for (int i = 0; i < count; ++i) {
        const std::string out = std::string(lines[i]) + "\n";
        if (::send(fd, out.data(), out.size(), MSG_NOSIGNAL) != ssize_t(out.size())) return 1;
        for (;;) {
            size_t eol = pending.find('\n');
            if (eol == std::string::npos) {
                char buf[4096];
                ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) {
                    ::close(fd);
                    return 1;
                }
                pending.append(buf, size_t(n));
                continue;
            }
            const std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            const QJsonObject reply = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
            if (reply.contains("event")) continue;
            std::printf("%s\n", line.c_str());
            if (reply["error"].toString() != "success") rc = 1;
            break;
        }
    }
    ::close(fd);
    return rc;
}

uint32_t ParseRecorderSeconds(const QJsonValue& v, uint32_t def, bool* ok)
{
    if (v.isUndefined() || v.isNull()) return def;
    if (!v.isDouble() || v.toDouble() < 0 || v.toDouble() > 4294967295.0) *ok = false;
    return uint32_t(v.toDouble());
}

// Scripts that measure the program ask how long the interface thread was
// held up: a tick every 10 ms, and how late the worst one came.
constexpr int kProbeMs = 10;
CTickLateness g_uiLateness(kProbeMs * 1000);

int64_t NowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void AddShellCommands(CControlServer& ctl)
{
    ctl.AddCommand("get", [](const QJsonArray& args) {
        if (args.size() == 1 && args[0].toString() == "ui_latency") {
            // The tick held up by this very request counts too.
            g_uiLateness.Tick(NowUs());
            return CControlResult{"success", QJsonObject{{"worst_ms", double(g_uiLateness.TakeWorst()) / 1000.0}}};
        }
        if (args.size() == 1 && args[0].toString() == "settings") return CControlResult{"success", SettingsJson(App().m_settings.Get())};
        if (args.size() == 1 && args[0].toString() == "state") {
            QJsonObject state = PlayStateJson(*App().m_mainFrame->PlayWnd());
            // Where the timeline's cursor stands, in seconds of the day shown.
            state["timeline_cursor"] = App().m_mainFrame->DrivingRecord()->Timeline()->CursorTime();
            return CControlResult{"success", state};
        }
        if (args.size() == 1 && args[0].toString() == "map")
            return CControlResult{"success", MapPageJson(*App().m_mainFrame->DrivingRecord())};
        if (args.size() == 1 && args[0].toString() == "speed_graph")
            return CControlResult{"success", SpeedGraphJson(*App().m_mainFrame->DrivingRecord())};
        // The caption a named control of the main frame shows now.
        if (args.size() == 2 && args[0].toString() == "text") {
            QWidget* w = CUiHost::Find<QWidget>(App().m_mainFrame, args[1].toString());
            if (!w) return CControlResult::Fail("no control " + args[1].toString());
            const QVariant text = w->property("text");
            return CControlResult{"success", text.isValid() ? text.toString() : w->windowTitle()};
        }
        return CControlResult::Fail("unknown get: " + args[0].toString());
    });
    ctl.AddCommand("settings", [](const QJsonArray& args) {
        if (args.size() != 1 || !args[0].isObject()) return CControlResult::Fail("settings takes one object");
        const auto dlg = App().MakeSettingsDlg(App().m_mainFrame);
        QString error;
        if (!dlg->SetControls(args[0].toObject(), &error)) return CControlResult::Fail(error);
        dlg->Apply();
        return CControlResult{};
    });
    ctl.AddCommand("page", [](const QJsonArray& args) {
        const QString name = args.size() == 1 ? args[0].toString() : QString();
        if (!CMainFrame::IsPageButton(name)) return CControlResult::Fail("unknown page button");
        // The page button itself, as the user clicks it.
        if (auto* b = CUiHost::Find<QAbstractButton>(App().m_mainFrame, name))
            b->click();
        else
            App().m_mainFrame->ShowPage(name);
        return CControlResult{};
    });
    ctl.AddCommand("key", [](const QJsonArray& args) {
        // A keyboard shortcut of the main window, as the user presses it.
        if (args.size() != 1 || !args[0].isString()) return CControlResult::Fail("key takes a key such as \"Space\"");
        if (!App().m_mainFrame->PressKey(args[0].toString())) return CControlResult::Fail("no shortcut " + args[0].toString());
        return CControlResult{};
    });
    ctl.AddCommand("screenshot", [](const QJsonArray& args) {
        if (args.size() < 1 || args.size() > 2 || !args[0].isString())
            return CControlResult::Fail("screenshot takes a path and optionally a dialog");
        QApplication::processEvents();
        QPixmap pic;
        if (args.size() == 1) {
            // From the display: the video windows are drawn by the media
            // engine, not by the toolkit, and only the screen holds them.
            CMainFrame* frame = App().m_mainFrame;
            QScreen* screen = frame->screen();
            if (screen && frame->isVisible()) pic = screen->grabWindow(frame->winId());
            if (pic.isNull()) pic = frame->grab();
        } else if (args[1].toString() == "ProjectSet") {
            // The settings dialog as it would open now, drawn without being shown.
            const auto dlg = App().MakeSettingsDlg(App().m_mainFrame);
            dlg->Dialog()->adjustSize();
            pic = dlg->Dialog()->grab();
        } else if (args[1].toString() == "VoiceSetting" || args[1].toString() == "EqualizeSetting") {
            // The play window set's sound windows, as they would show now.
            CPlayWndDlg* play = App().m_mainFrame->PlayWnd();
            QDialog* dlg = args[1].toString() == "VoiceSetting" ? play->CreateVoiceSettingDlg(false).Dialog()
                                                                : play->showEqualizeDlg(false).Dialog();
            dlg->adjustSize();
            pic = dlg->grab();
        } else if (args[1].toString() == "SpeedGraphChild") {
            // The speed graph as its information tab shows it, whichever tab is open.
            QWidget* graph = App().m_mainFrame->DrivingRecord()->SpeedGraph();
            if (!graph->isVisible()) graph->resize(640, 320);
            pic = graph->grab();
        } else {
            return CControlResult::Fail("no dialog " + args[1].toString());
        }
        if (pic.isNull() || !pic.save(args[0].toString(), "PNG", 0))
            return CControlResult::Fail("cannot write " + args[0].toString());
        return CControlResult{"success", QJsonObject{{"path", args[0].toString()}}};
    });
    ctl.AddCommand("verify", [](const QJsonArray& args) {
        if (args.size() != 1 || !args[0].isString()) return CControlResult::Fail("verify takes the path of a report");
        // The menu's "verify an export", the report chosen for it.
        CMainFrame* frame = App().m_mainFrame;
        frame->TakeLastVerify();
        App().m_host->AnswerNextChooser(args[0].toString());
        frame->VerifyExportAction()->trigger();
        const std::optional<ReportCheck> check = frame->TakeLastVerify();
        if (!check) return CControlResult::Fail("no report was checked");
        if (!check->readable) return CControlResult::Fail(args[0].toString() + ": " + QString::fromStdString(check->error));
        return CControlResult{"success",
                              QJsonDocument::fromJson(QByteArray::fromStdString(ReportCheckJson(*check))).object()};
    });
    ctl.AddCommand("quit", [](const QJsonArray&) {
        if (!App().m_mainFrame->RequestClose()) return CControlResult::Fail("cancelled");
        App().m_mainFrame->hide();
        return CControlResult{};
    });
    // The log page's controls, as the user sets them and presses the button.
    auto clickLogButton = [](const char* name) {
        CLogPage* page = App().m_mainFrame->LogPage();
        if (auto* b = CUiHost::Find<QAbstractButton>(page, name)) b->click();
    };
    auto loadLog = [clickLogButton](const QString& dir) -> CControlResult {
        CLogPage* page = App().m_mainFrame->LogPage();
        App().m_host->AnswerNextChooser(dir);
        clickLogButton("Log_Btn_SelDir");
        if (page->LastFolderLoad() < 0) return CControlResult::Fail("no recorder log in " + dir);
        return CControlResult{"success", QJsonObject{{"rows", page->RowCount()}}};
    };
    ctl.AddCommand("load_log", [loadLog](const QJsonArray& args) {
        if (args.size() != 1 || !args[0].isString()) return CControlResult::Fail("load_log takes a folder");
        return loadLog(args[0].toString());
    });
    ctl.AddCommand("log_query", [loadLog, clickLogButton](const QJsonArray& args) {
        if (args.size() != 1 || !args[0].isObject()) return CControlResult::Fail("log_query takes one object");
        const QJsonObject q = args[0].toObject();
        bool ok = true;
        const uint32_t from = ParseRecorderSeconds(q["from"], kLogQueryStart, &ok);
        const uint32_t to = ParseRecorderSeconds(q["to"], DefaultLogQuery().end, &ok);
        if (!ok) return CControlResult::Fail("from and to are recorder seconds");
        CLogPage* page = App().m_mainFrame->LogPage();
        // A folder named here is loaded as its folder button does.
        if (q.contains("source")) {
            if (!q["source"].isString()) return CControlResult::Fail("source is a folder");
            const CControlResult loaded = loadLog(q["source"].toString());
            if (loaded.error != "success") return loaded;
        }
        if (!page->SetFilterControls(q["type"].toString("Log_ComBox_All"), from, to))
            return CControlResult::Fail("unknown type entry: " + q["type"].toString());
        clickLogButton("Log_Btn_Query");
        return CControlResult{"success", QJsonObject{{"rows", page->RowCount()}}};
    });
    ctl.AddCommand("log_export", [](const QJsonArray& args) {
        if (args.size() != 1 || !args[0].isString()) return CControlResult::Fail("log_export takes a path");
        std::string error;
        auto written = App().m_mainFrame->LogPage()->Export(args[0].toString().toStdString(), &error);
        if (written.empty()) return CControlResult::Fail(QString::fromStdString(error));
        return CControlResult{"success", QJsonObject{{"path", QString::fromStdString(written.string())}}};
    });
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--command") == 0) return SendCommands(argv[2], argc - 3, argv + 3);
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--control" && i + 1 < argc) {
            opt.control = argv[++i];
        } else if (a == "--help" || a == "-h") {
            return Usage(0);
        } else if (a == "--version") {
            std::printf("velmor %s\n", VELMOR_VERSION);
            return 0;
        } else if (a.rfind("--", 0) == 0 || !opt.path.empty()) {
            return Usage(2);
        } else {
            opt.path = a;
        }
    }

    auto& app = App();
    app.m_folders = ResolveOwnAppFolders();
    // The libraries look for the language table beside the program; an
    // installed program keeps it in the share folder.
    if (app.m_folders.resources != app.m_folders.exeDir) setenv("VELMOR_APPDIR", app.m_folders.resources.c_str(), 1);
    SetAppTraceTable(app.m_folders.LanguageTable());
    RouteLibraryLogsToTrace();
    std::error_code ec;
    std::filesystem::create_directories(app.m_folders.data, ec);
    InstallCrashReport(app.m_folders.data, "RKPLAYER");

    // One instance per profile; a second start hands its recording over.
    const auto areaName = CSingleInstance::AreaName(app.m_folders.data, app.m_folders.profileOverride);
    if (!app.m_instance.Start(app.m_folders.LockFile(), areaName)) {
        if (!app.m_instance.HasArea()) std::fprintf(stderr, "%s.\n", app.m_instance.AreaError().c_str());
        if (opt.path.empty() || !IsHandOverPath(opt.path)) return 0;
        std::string error;
        if (!app.m_instance.HandOver(opt.path, 2000, &error)) {
            std::fprintf(stderr, "velmor: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (!app.m_instance.HasArea()) std::fprintf(stderr, "%s.\n", app.m_instance.AreaError().c_str());
    if (!app.m_instance.LockError().empty()) APP_TRACE(1, "%s", app.m_instance.LockError().c_str());

    // Configuration: made Unicode once, read, defaults written back once.
    std::string error;
    const auto configFile = app.m_folders.ConfigFile();
    if (MakeConfigUnicode(configFile, &error) == ConfigConversion::Failed) APP_TRACE(1, "%s", error.c_str());
    bool filled = false;
    app.m_settings.Apply(ReadSettings(CIniFile::Load(configFile), app.m_folders.DefaultSnapPath(),
                                      app.m_folders.DefaultSaveFilePath(), &filled));
    if (filled && !app.SaveSettings(&error)) APP_TRACE(1, "%s", error.c_str());
    std::filesystem::create_directories(app.m_folders.InfoDir(), ec);
    app.m_language = CLanguageTable::Load(app.m_folders.LanguageTable());
    app.m_language.SelectIndex(app.m_settings.Get().language);
    // The language goes first: every caption follows it before the pages
    // told after this react to the same change.
    app.m_settings.Subscribe([](const SettingsRecord& before, const SettingsRecord& now) {
        if (before.language != now.language) App().SelectLanguage(now.language);
    });

    // The media engine draws into native X11 windows: on a Wayland desktop
    // the program runs through XWayland unless the user chose a platform.
    if (std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "xcb", 1);
    // The layout loader brings in designer plugins that want shared GL contexts.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The video windows must be native for the media engine; their siblings
    // need not be, and as native windows too every relayout of the play
    // cells sent the X server a round trip per window and kept the interface
    // thread waiting (a third of a second when sixteen channels start).
    // Nothing is drawn over a video window, so the stacking native siblings
    // would keep is not needed.
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    // The map page's offline tiles come through a scheme of its own, known before the browser starts.
    // The map page's browser refuses to start its sandbox for root and ends
    // the whole process; as root it runs without one rather than take every
    // window down with it.
    if (::geteuid() == 0 && !std::getenv("QTWEBENGINE_DISABLE_SANDBOX")) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    // The map page's browser draws through Qt Quick; with its hardware
    // backend the whole main window would be composed by OpenGL, and the
    // native windows the media engine draws into would no longer take a
    // renderer. The map is drawn in software instead.
    if (!std::getenv("QT_QUICK_BACKEND")) setenv("QT_QUICK_BACKEND", "software", 1);
    CMapPageWnd::RegisterSchemes();
    QApplication qapp(argc, argv);
    QApplication::setApplicationName("velmor");
    QApplication::setDesktopFileName("velmor");
    app.m_host = std::make_unique<CUiHost>(QString::fromStdString(app.m_folders.SkinDir().string()), &app.m_language);

    std::unique_ptr<CControlServer> control;
    if (!opt.control.empty()) {
        control = std::make_unique<CControlServer>();
        QString cerr;
        if (!control->Listen(QString::fromStdString(opt.control), &cerr)) {
            std::fprintf(stderr, "velmor: control socket: %s\n", cerr.toUtf8().constData());
            return 1;
        }
        app.m_control = control.get();
        app.m_host->SetMessageHook([c = control.get()](const QString& caption, const QString& text) { c->OnMessage(caption, text); });
        AddShellCommands(*control);
    }
    QTimer uiProbe;
    if (control) {
        uiProbe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&uiProbe, &QTimer::timeout, [] { g_uiLateness.Tick(NowUs()); });
        uiProbe.start(kProbeMs);
    }

    {
        CMainFrame frame;
        app.m_mainFrame = &frame;
        frame.DrivingRecord()->SetCutFolder([] { return std::filesystem::path(App().m_settings.Get().saveFilePath); });
        if (control) {
            AddPlayCommands(*control, frame, *app.m_host);
            AddWorkspaceCommands(*control, *frame.DrivingRecord());
            PushSearchEvents(*control, *frame.DrivingRecord());
        }
        if (control)
            AddCutCommands(
                *control, *app.m_host, [page = frame.DrivingRecord()] { return page->CurrentCutSource(); },
                [page = frame.DrivingRecord()](uint32_t from, uint32_t to) { page->MarkRange(from, to); });
        if (control)
            frame.PlayWnd()->SetFileEvents([c = control.get()](bool start, int window, const std::string& path,
                                                                const std::string& error) {
                QJsonObject fields{{"window", window}, {"path", QString::fromStdString(path)}};
                if (!start && !error.empty()) fields["error"] = QString::fromStdString(error);
                c->PushEvent(start ? "file-start" : "file-end", fields);
            });
        if (!opt.path.empty()) {
            app.m_commandLinePath = opt.path;
            app.OpenFromOutside(std::filesystem::absolute(opt.path, ec).string());
        }
        frame.show();
        qapp.exec();
        app.m_mainFrame = nullptr;
    }
    app.m_host->SetMessageHook({});
    app.m_control = nullptr;
    control.reset();
    app.m_host.reset();
    return 0;
}
