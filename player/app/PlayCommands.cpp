#include "player/app/PlayCommands.h"

#include <QAbstractButton>
#include <QJsonArray>
#include <QSlider>

#include <cstdlib>
#include <filesystem>

#include "common/CodePage.h"
#include "player/app/ControlServer.h"
#include "player/app/MainFrame.h"
#include "player/playback/AudioDlgs.h"
#include "player/playback/EqualizerText.h"
#include "player/playback/PlayToolWnd.h"
#include "player/playback/PlayVideoWnd.h"
#include "player/playback/PlayWndDlg.h"
#include "player/playback/StreamRules.h"
#include "player/workspace/DrivingRecord.h"

namespace velmor {
namespace {

CPlayWndDlg& Dlg(CMainFrame& frame) { return *frame.PlayWnd(); }

bool IntArg(const QJsonArray& args, int index, int low, int high, int* out)
{
    if (index >= args.size() || !args[index].isDouble()) return false;
    const double v = args[index].toDouble();
    if (v != double(int(v)) || v < low || v > high) return false;
    *out = int(v);
    return true;
}

// A click of a button of the play window set, as the user gives it.
CControlResult Click(CMainFrame& frame, const QJsonArray& args, const char* button)
{
    if (!args.isEmpty()) return CControlResult::Fail("the command takes no arguments");
    auto* b = CUiHost::Find<QAbstractButton>(&Dlg(frame), button);
    if (!b) return CControlResult::Fail(QString("no button ") + button);
    b->click();
    return {};
}

CControlResult OpenPath(CMainFrame& frame, CUiHost& host, const QJsonArray& args, bool folder)
{
    if (args.size() != 1 || !args[0].isString()) return CControlResult::Fail("the command takes one path");
    frame.ShowPage("MainFrm_Btn_PlayBack");
    const QString path = args[0].toString();
    if (folder) {
        // The folder button, with the folder chosen for the user.
        std::error_code ec;
        if (!std::filesystem::is_directory(path.toStdString(), ec)) return CControlResult::Fail(path + " is not a folder");
        host.AnswerNextChooser(path);
        return Click(frame, {}, "Driving_Btn_OpenFolder");
    }
    // A drop of the path on the player.
    std::string error;
    if (!frame.DrivingRecord()->PlayOneRecordFile(path.toStdString(), &error))
        return CControlResult::Fail(QString::fromStdString(error));
    return {};
}

}  // namespace

QJsonObject PlayStateJson(CPlayWndDlg& dlg)
{
    CPlayShared& shared = dlg.Shared();
    QJsonArray windows;
    for (int i = 1; i <= kMaxWindows; ++i) {
        CPlayVideoWnd* w = dlg.Window(i);
        const WindowStreamInfo info = w->Info();
        const RKPLAYER_SHOW_STAT show = w->ShowStat();
        const CPlayVideoWnd::ZoomState zoom = w->Zoom();
        const char* audio = info.audioType >= 0 ? AudioTypeName(info.audioType) : nullptr;
        QJsonArray tool;
        // What the strip shows, read off its labels.
        for (const QString& t : dlg.ToolStrip(i)->Texts()) tool.append(t);
        windows.append(QJsonObject{
            {"index", i},
            {"state", int(w->State().load())},
            {"visible", dlg.CellShown(i)},
            {"placeholder", dlg.PlaceholderShown(i)},
            {"time", double(shared.WindowTime(i))},
            {"channel", info.channel},
            {"path", QString::fromStdString(info.path)},
            {"codec", info.width ? (info.h265 ? "H.265" : "H.264") : ""},
            {"width", info.width},
            {"height", info.height},
            {"frame_rate", info.frameRate},
            {"audio", audio ? QJsonValue(audio) : QJsonValue()},
            {"tool_text", tool},
            {"osd", QString::fromStdString(GbkToUtf8(info.osd))},
            {"decoded", double(w->Decoded())},
            {"shown", double(w->Shown())},
            {"skipped", double(w->SkippedCount())},
            {"show_stat", QJsonObject{{"handed", double(show.handed)},
                                      {"shown", double(show.shown)},
                                      {"passed_over", double(show.passedOver)},
                                      {"shown_on_time", double(show.shownOnTime)}}},
            {"stream", info.subStream ? "sub" : "main"},
            {"hwdec", QString::fromStdString(w->DecodePath().name)},
            {"picture_ms", double(w->PictureAt())},
            {"zoom", QJsonObject{{"factor", zoom.factor}, {"cx", zoom.cx}, {"cy", zoom.cy}}},
            {"error", QString::fromStdString(w->LastError())},
        });
    }
    const int level = shared.speedLevel;
    return QJsonObject{
        {"play_type", int(dlg.PlayType())},
        {"layout", dlg.LayoutMode()},
        {"speed_level", level},
        {"speed_label", SpeedLabel(level)},
        {"paused", dlg.Paused()},
        {"falling_behind", dlg.FallingBehindShown()},
        {"sub_streams_chosen", dlg.PrefersSubStreams()},
        {"stopping", dlg.Stopping()},
        {"clock", double(shared.CurrTime())},
        {"range_start", double(shared.RangeStart())},
        {"range_end", double(shared.EndTime())},
        {"percent", dlg.Percent()},
        {"progress_label", dlg.ProgressText()},
        {"selected", dlg.Selected()},
        {"enlarged", dlg.Enlarged()},
        {"volume", dlg.Volume()},
        {"muted", shared.mute.load()},
        {"equalize", QString::fromStdString(dlg.EqualizeText())},
        {"windows", windows},
    };
}

QJsonObject MapJson(CPlayWndDlg& dlg)
{
    QJsonArray scripts;
    for (const std::string& s : dlg.MapScripts()) scripts.append(QString::fromStdString(s));
    // Until the map page exists the scripts are only recorded.
    return QJsonObject{{"loaded", false}, {"page", ""}, {"scripts", scripts}};
}

void AddPlayCommands(CControlServer& control, CMainFrame& frame, CUiHost& host)
{
    CMainFrame* f = &frame;
    CUiHost* h = &host;
    control.AddCommand("open", [f, h](const QJsonArray& a) { return OpenPath(*f, *h, a, false); });
    control.AddCommand("open_folder", [f, h](const QJsonArray& a) { return OpenPath(*f, *h, a, true); });
    control.AddCommand("play", [f](const QJsonArray& a) { return Click(*f, a, "Driving_Btn_Play"); });
    control.AddCommand("pause", [f](const QJsonArray& a) { return Click(*f, a, "Driving_Btn_Pause"); });
    control.AddCommand("stop", [f](const QJsonArray& a) { return Click(*f, a, "Driving_Btn_Stop"); });
    control.AddCommand("faster", [f](const QJsonArray& a) { return Click(*f, a, "Driving_Btn_Fast"); });
    control.AddCommand("slower", [f](const QJsonArray& a) { return Click(*f, a, "Driving_Btn_Slow"); });
    control.AddCommand("step", [f](const QJsonArray& a) {
        int n = 0;
        if (a.size() != 1 || !IntArg(a, 0, -1000, 1000, &n) || n == 0)
            return CControlResult::Fail("step takes a number of pictures, -1000..1000 and not 0");
        // The frame-step button, pressed once per picture.
        auto* b = CUiHost::Find<QAbstractButton>(&Dlg(*f), n > 0 ? "Driving_Btn_StepNext" : "Driving_Btn_StepBack");
        if (!b) return CControlResult::Fail("no frame-step button");
        if (!b->isVisibleTo(&Dlg(*f))) return CControlResult::Fail("nothing is playing to step through");
        for (int i = 0; i < std::abs(n); ++i) b->click();
        return CControlResult{};
    });
    control.AddCommand("zoom", [f](const QJsonArray& a) {
        int w = 0;
        if (a.size() != 4 || !IntArg(a, 0, 1, 16, &w) || !a[1].isDouble() || !a[2].isDouble() || !a[3].isDouble())
            return CControlResult::Fail("zoom takes a window 1..16, a factor 1..8 and the picture point at the centre");
        const double factor = a[1].toDouble(), cx = a[2].toDouble(), cy = a[3].toDouble();
        if (!(factor >= 1 && factor <= 8)) return CControlResult::Fail("zoom takes a factor 1..8");
        if (!(cx >= 0 && cy >= 0)) return CControlResult::Fail("zoom takes a picture point with x and y >= 0");
        CPlayVideoWnd* window = Dlg(*f).Window(w);
        if (!window || !window->HasDecoder() || !window->ZoomTo(factor, cx, cy))
            return CControlResult::Fail(QString("window %1 shows no picture").arg(w));
        return CControlResult{};
    });
    control.AddCommand("seek_percent", [f](const QJsonArray& a) {
        int p = 0;
        if (a.size() != 1 || !IntArg(a, 0, 0, 100, &p)) return CControlResult::Fail("seek_percent takes 0..100");
        // The handle let go at p.
        auto* slider = CUiHost::Find<QSlider>(&Dlg(*f), "Driving_SliderWnd");
        if (!slider) return CControlResult::Fail("no progress slider");
        slider->setValue(p);
        Q_EMIT slider->sliderReleased();
        return CControlResult{};
    });
    control.AddCommand("layout", [f](const QJsonArray& a) {
        int mode = 0;
        if (a.size() != 1 || !IntArg(a, 0, 0, 3, &mode)) return CControlResult::Fail("layout takes a mode 0..3");
        Dlg(*f).Layout(mode);
        return CControlResult{};
    });
    control.AddCommand("select", [f](const QJsonArray& a) {
        int w = 0;
        if (a.size() != 1 || !IntArg(a, 0, 1, 16, &w)) return CControlResult::Fail("select takes a window 1..16");
        Dlg(*f).Select(w);
        return CControlResult{};
    });
    control.AddCommand("enlarge", [f](const QJsonArray& a) {
        int w = 0;
        if (a.size() != 1 || !IntArg(a, 0, 1, 16, &w)) return CControlResult::Fail("enlarge takes a window 1..16");
        Dlg(*f).ToggleEnlarge(w);
        return CControlResult{};
    });
    control.AddCommand("snapshot", [f](const QJsonArray& a) {
        if (!a.isEmpty()) return CControlResult::Fail("snapshot takes no arguments");
        if (CControlResult r = Click(*f, a, "Driving_Btn_Snap"); r.error != "success") return r;
        const std::string& path = Dlg(*f).LastSnapshot();
        if (path.empty()) return CControlResult::Fail(QString::fromStdString(Dlg(*f).LastSnapshotError()));
        return CControlResult{"success", QJsonObject{{"path", QString::fromStdString(path)}}};
    });
    control.AddCommand("volume", [f](const QJsonArray& a) {
        int v = 0;
        if (a.size() != 1 || !IntArg(a, 0, 0, 100, &v)) return CControlResult::Fail("volume takes 0..100");
        Dlg(*f).CreateVoiceSettingDlg(false).SetVolume(v);
        return CControlResult{};
    });
    control.AddCommand("equalizer", [f](const QJsonArray& a) {
        int preset = 0;
        if (a.size() != 2 || !a[0].isBool() || !IntArg(a, 1, 1, kEqualizerPresets, &preset))
            return CControlResult::Fail("equalizer takes on/off and a preset 1..10");
        CEqualizeDlg& eq = Dlg(*f).showEqualizeDlg(false);
        eq.ChoosePreset(preset);
        eq.SetEnabled(a[0].toBool());
        return CControlResult{};
    });
}

}  // namespace velmor
