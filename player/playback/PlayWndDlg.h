// The play window set: sixteen video windows with their tool strips and
// placeholder pictures in four layouts, the play buttons, the progress
// slider and its label, and the process-wide play values every window's
// loop reads. Everything here runs on the interface thread; the windows'
// loops reach it only through the progress queue and queued calls.
#pragma once

#include <QWidget>

#include <array>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "player/playback/AttachPublisher.h"
#include "player/playback/PlayClock.h"
#include "player/playback/PlayRequest.h"
#include "player/settings/Settings.h"
#include "player/ui/ActionTable.h"

class QLabel;
class QSlider;
class QTimer;

namespace velmor {

class CPlayVideoWnd;
class CUiHost;
class CVoiceDlg;
class CEqualizeDlg;
struct WindowStreamInfo;
class CPlayToolWnd;


// What the play and pause buttons ask of the playing windows.
enum class EPlayState { kPlay = 1, kPause = 2 };

// A time play to start: the channels' requests, the range the slider spans
// and the second the common clock starts from.
struct TimePlayStart {
    EPlayType playType = EPlayType::kTime;
    int layout = kLayout2x2;
    uint32_t rangeStart = 0, rangeEnd = 0;
    uint32_t from = 0;
    std::map<int, PlayRequestMap> channels;
};

class CPlayWndDlg : public QWidget {
public:
    // The set reads `settings` where it uses them and follows every change,
    // in windows already playing too.
    CPlayWndDlg(CUiHost& host, CSettings& settings, QWidget* parent = nullptr);
    ~CPlayWndDlg() override;

    CPlayShared& Shared() { return m_shared; }
    // The settings in force, as one record that never changes under its
    // reader (play threads hold it for a frame or a file).
    std::shared_ptr<const SettingsRecord> Settings() const { return m_settings.Snapshot(); }
    uint64_t SettingsGeneration() const { return m_settings.Generation(); }
    CUiHost& Host() { return m_host; }
    CPlayVideoWnd* Window(int index) const;  // 1..16

    // A file the user opened or dropped: recordings of one channel play in
    // window 1, a container file plays its channels on one clock. False
    // (with `error`) when nothing can be played from it.
    bool PlayOneRecordFile(const std::string& path, std::string* error = nullptr);
    // Every file of a folder in window 1, one after another.
    bool PlayDirectoryFiles(const std::filesystem::path& folder, std::string* error = nullptr);
    // Starts each channel's requests in the window the layout gives it.
    void AddFileInfo(const std::map<int, PlayRequestMap>& channels, bool timePlay);

    EPlayType PlayType() const { return m_shared.playType; }
    void SetPlayType(EPlayType type) { m_shared.playType = type; }
    void SetPlayState(EPlayState state);
    // Paused is a state of the windows, never a flag of its own: a window
    // that ends or restarts is no longer paused.
    bool Paused() const;
    // Every window ends its play; the interface stays responsive meanwhile.
    void Stop();
    void StopAll();
    // The one way time play starts (the timeline's double click, a release
    // of the slider, a container file): what plays stops, the map's track is
    // cleared, and the channels play from `from` in the layout given.
    void StartTimePlay(const TimePlayStart& start);
    bool Stopping() const { return m_stopWatch.Active(); }
    void SpeedUp();
    void SlowDown();
    // A release of the progress slider at `percent`.
    void ReleasedcaptureSlider(int percent);

    int LayoutMode() const { return m_shared.layout; }
    void Layout(int mode, bool show = true);
    int Selected() const { return m_selected; }
    void Select(int index);
    int Enlarged() const { return m_enlarged; }
    // Enlarges the window, or returns the enlarged one to the grid.
    void ToggleEnlarge(int index);
    void SetToolStripsVisible(bool visible);

    // Snapshot of the selected window; the path written, or empty with `error`.
    std::string Snapshot(std::string* error);
    void SetVolume(int volume);
    int Volume() const { return m_shared.volume; }
    void SetEqualizer(bool on, const RKPLAYER_EQ_PRESET& record);
    // The volume and equalizer windows, made on first use and kept; the
    // control socket works them as the user would.
    CVoiceDlg& CreateVoiceSettingDlg(bool show);
    CEqualizeDlg& showEqualizeDlg(bool show);
    std::string EqualizeText() const { return m_settings.Get().equalize; }

    int Percent() const;
    QString ProgressText() const;
    // The map scripts built for the seconds played, oldest first (at most 200).
    const std::deque<std::string>& MapScripts() const { return m_scripts; }
    CAttachInfoQueue& AttachQueue() { return m_attach; }
    EventTextLookup Events() const { return m_events; }
    // The page that holds the play window set: each second of attached
    // information shown (with its map scripts, or null when it carries no
    // position), and the track cleared on the map page.
    using AttachSink = std::function<void(const StAttachInfo_t& info, const ::velmor::MapScripts* scripts)>;
    void SetAttachSink(AttachSink sink) { m_attachSink = std::move(sink); }
    void SetScriptSink(std::function<void(const std::string&)> sink) { m_scriptSink = std::move(sink); }
    // The map track starts again: "clearHistorylines(' ')" on the map page,
    // and the seconds already drawn may be drawn again.
    void ClearMapLine();
    // Files the user opens or drops here go to the page when it takes them.
    using OpenHandler = std::function<bool(const std::string& path, std::string* error)>;
    void SetOpenHandler(OpenHandler handler) { m_openHandler = std::move(handler); }
    // The position correction of the map's positions (the page's grid),
    // used while the ConvertGPS setting is on.
    void SetPositionCorrection(std::function<void(double& lon, double& lat)> correct) { m_correct = std::move(correct); }
    // The name of the vehicle the map's car stands for (empty: none chosen).
    void SetVehicleName(std::function<std::string()> name) { m_vehicleName = std::move(name); }
    // Called after the stop button has stopped every window (the page resets
    // its timeline cursor).
    void SetStopHandler(std::function<void()> handler) { m_stopHandler = std::move(handler); }
    void SetEvents(EventTextLookup events) { m_events = std::move(events); }

    // Told when a window starts a file and when it ends one (with the
    // reason when it failed), on the interface thread.
    using FileEvent = std::function<void(bool start, int window, const std::string& path, const std::string& error)>;
    void SetFileEvents(FileEvent fn) { m_fileEvent = std::move(fn); }
    void OnFileEvent(bool start, int window, const std::string& path, const std::string& error)
    {
        // A window that starts a file plays: the pause button shows.
        if (start) UpdatePlayButtons();
        if (m_fileEvent) m_fileEvent(start, window, path, error);
    }

    // Frame steps (+1 / -1): every playing window pauses; the selected
    // window (or the first paused one) shows its next or previous picture,
    // and the others the picture of that moment on the common clock. Steps
    // asked while one is under way follow it.
    void StepFrames(int direction);

    // Called by the windows' threads (queued onto the interface thread).
    void OnWindowFinished(int index);
    // The leading window of a frame step shows the picture at `at`.
    void OnStepped(int index, int64_t at);
    // A window's pictures fall behind at normal speed: said once a play, by
    // the speed label, with the offer of the sub streams.
    void OnFallingBehind(int index);
    bool FallingBehindShown() const;
    bool PrefersSubStreams() const { return m_preferSub; }
    // `starting`: the window is about to take its requests.
    void UpdateToolStrip(int index, bool starting = false);
    // Captions and the tool strips' texts in the language now chosen.
    void Relabel();
    // Window `index`'s information strip (1..16).
    CPlayToolWnd* ToolStrip(int index) const { return index >= 1 && index <= kMaxWindows ? m_toolStripWnd[size_t(index)] : nullptr; }

    // Whether window `index`'s cell is shown in the layout (or enlarged), and
    // whether the cell shows its placeholder picture instead of the video.
    bool CellShown(int index) const;
    bool PlaceholderShown(int index) const;
    // The set's actions: its buttons, and the keys that do the same.
    const CActionTable& Actions() const { return m_actions; }
    // What the snapshot button wrote last, or why it wrote nothing.
    const std::string& LastSnapshot() const { return m_lastSnapshot; }
    const std::string& LastSnapshotError() const { return m_lastSnapshotError; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void StopAllInternal(bool showBusy, CPlayShared::EStopKind kind);
    // Rows and cells shown: the cells `shown` picks, and the rows that hold them.
    void ShowCells(const std::function<bool(int index)>& shown);
    bool AnyPlaying() const;
    void BuildWindows();
    void Route();
    void OnNotify(const QString& control, const QString& notification);
    void BuildActions();
    void OnProgress();
    void OnAttachInfo();
    void PollStop();
    void AfterStop(CPlayShared::EStopKind kind);
    void ShowPlaceholder(int index, bool show);
    // Tells each window the stream that its place in the layout plays.
    void UpdateStreams();
    void OnSettingsChanged(const SettingsRecord& before, const SettingsRecord& now);
    void UpdatePlayButtons();
    void ShowFallingBehind(bool show);
    void NextStep();
    void ForgetSteps();
    void ToggleFullScreen();
    void OpenFileDialog();
    // Plays a file or a folder; tells the user why not.
    bool OpenPath(const std::string& path);

    CUiHost& m_host;
    CSettings& m_settings;
    int m_settingsListener = 0;
    CPlayShared m_shared;
    QWidget* m_root = nullptr;
    std::array<CPlayVideoWnd*, kMaxWindows + 1> m_windows{};
    std::array<QWidget*, kMaxWindows + 1> m_cells{};
    std::array<CPlayToolWnd*, kMaxWindows + 1> m_toolStripWnd{};
    std::array<QLabel*, kMaxWindows + 1> m_pictures{};
    QSlider* m_slider = nullptr;
    QLabel* m_timeLabel = nullptr;
    QTimer* m_stopTimer = nullptr;
    CStopWatch m_stopWatch;
    bool m_stripsVisible = true;
    bool m_busyCursor = false;
    QLabel* m_behindLabel = nullptr;
    bool m_toldBehind = false;
    bool m_preferSub = false;  // the user chose the sub streams to keep up
    int m_selected = 1;
    int m_enlarged = 0;
    int m_stepsDue = 0;       // frame steps asked and not yet under way (+ forward)
    int m_stepReference = 0;  // the window leading the step under way; 0 none
    bool m_sliderDragging = false;
    std::string m_lastSnapshot, m_lastSnapshotError;
    CActionTable m_actions;
    std::map<int, PlayRequestMap> m_playSet;
    PlayRequest m_lastSingle;
    CAttachInfoQueue m_attach;
    EventTextLookup m_events;
    std::deque<std::string> m_scripts;
    QWidget* m_fullScreen = nullptr;
    FileEvent m_fileEvent;
    AttachSink m_attachSink;
    std::function<void(const std::string&)> m_scriptSink;
    OpenHandler m_openHandler;
    std::function<void()> m_stopHandler;
    std::function<void(double& lon, double& lat)> m_correct;
    std::function<std::string()> m_vehicleName;
    std::unique_ptr<CVoiceDlg> m_voice;
    std::unique_ptr<CEqualizeDlg> m_equalize;
};

}  // namespace velmor
