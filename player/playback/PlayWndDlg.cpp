#include "player/playback/PlayWndDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFrame>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QUrl>
#include <QLabel>
#include <QPushButton>
#include <QBoxLayout>
#include <QLayout>
#include <QShortcut>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <ctime>

#include "player/ui/UiHost.h"
#include "player/playback/AudioDlgs.h"
#include "player/playback/EqualizerText.h"
#include "player/playback/PlayToolWnd.h"
#include "player/playback/PlayVideoWnd.h"
#include "player/playback/Snapshot.h"
#include "player/playback/StreamRules.h"
#include "player/search/SearchRecordFile.h"

namespace velmor {
namespace {

constexpr int kStopPollMs = 10;
constexpr int64_t kStopLimitMs = 5000;
constexpr size_t kMaxScripts = 200;

// Windows shown by each layout mode, as the rows hold them.
bool ShownIn(int mode, int index)
{
    switch (mode) {
        case kLayout1: return index == 1;
        case kLayout2x2: return index == 1 || index == 2 || index == 5 || index == 6;
        case kLayout3x3: return index <= 11 && index % 4 != 0;
        default: return index >= 1 && index <= kMaxWindows;
    }
}

}  // namespace

CPlayWndDlg::CPlayWndDlg(CUiHost& host, CSettings& settings, QWidget* parent)
    : QWidget(parent), m_host(host), m_settings(settings)
{
    setObjectName("CPlayWndDlg");
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    m_root = host.Load("RecordPlayBack", this);
    lay->addWidget(m_root);
    BuildWindows();

    m_shared.SetProgressNotify([this] { CUiHost::Post(this, [this] { OnProgress(); }); });
    m_attach.SetNotify([this] { CUiHost::Post(this, [this] { OnAttachInfo(); }); });
    // The volume and the equalizer are kept in the settings; the play
    // threads' values follow them.
    SettingsRecord unset;
    unset.voice = -1;
    unset.equalize = "?";
    OnSettingsChanged(unset, *Settings());
    m_settingsListener = m_settings.Subscribe(
        [this](const SettingsRecord& before, const SettingsRecord& now) { OnSettingsChanged(before, now); });

    m_stopTimer = new QTimer(this);
    m_stopTimer->setInterval(kStopPollMs);
    connect(m_stopTimer, &QTimer::timeout, this, [this] { PollStop(); });

    BuildActions();
    Route();
    host.Relabel(m_root);
    Layout(kLayout1);
    UpdatePlayButtons();
    if (m_timeLabel) m_timeLabel->setText(QString::fromStdString(EmptyProgressLabel(0)));
    setAcceptDrops(true);
}

CPlayWndDlg::~CPlayWndDlg()
{
    m_settings.Unsubscribe(m_settingsListener);
    // Every loop is told at once, so that sixteen windows end together
    // rather than one after another in their destructors.
    for (int i = 1; i <= kMaxWindows; ++i) {
        if (!m_windows[i]) continue;
        m_windows[i]->State() = EWindowState::kClosing;
        m_windows[i]->RequestStop();
    }
    m_shared.pauseGate.Set();
    // A loop stuck in a read of a slow or unplugged disk never comes back:
    // the program ends without it rather than hang on it. Its window is
    // left to the end of the process (and taken off the widget tree, so
    // that the toolkit does not delete it either).
    const int64_t until = m_shared.Ticks().NowMs() + kStopLimitMs;
    for (int i = 1; i <= kMaxWindows; ++i) {
        CPlayVideoWnd* w = m_windows[i];
        if (!w) continue;
        while (!w->Ended() && m_shared.Ticks().NowMs() < until) m_shared.Ticks().SleepMs(5);
        if (w->Ended()) {
            delete w;
        } else {
            PLAY_TRACE("window %d still reading at close, left behind", i);
            w->hide();
            w->setParent(nullptr);
        }
    }
}

void CPlayWndDlg::BuildWindows()
{
    // The video area takes all the room the page has, whichever cells show.
    if (QWidget* area = CUiHost::Find<QWidget>(m_root, "PLAYWND_Area")) {
        area->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        if (auto* box = qobject_cast<QBoxLayout*>(m_root->layout())) box->setStretchFactor(area, 1);
        // Every row and every cell gets the same share, playing or not.
        if (auto* rows = qobject_cast<QBoxLayout*>(area->layout()))
            for (int r = 0; r < rows->count(); ++r) {
                rows->setStretch(r, 1);
                QWidget* row = rows->itemAt(r)->widget();
                if (auto* cells = row ? qobject_cast<QBoxLayout*>(row->layout()) : nullptr)
                    for (int c = 0; c < cells->count(); ++c) cells->setStretch(c, 1);
            }
    }
    for (int i = 1; i <= kMaxWindows; ++i) {
        m_cells[i] = CUiHost::Find<QWidget>(m_root, QString("PLAYWND_Cell_%1").arg(i));
        m_pictures[i] = CUiHost::Find<QLabel>(m_root, QString("PLAYWND_Pic_%1").arg(i));
        if (m_pictures[i]) m_pictures[i]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        QWidget* cell = m_cells[i] ? m_cells[i] : m_root;
        // The strip heads the cell, above the placeholder and the picture.
        m_toolStripWnd[i] = new CPlayToolWnd(m_host, i, cell);
        // The strip is the window's too: its right click opens the window's menu.
        m_toolStripWnd[i]->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(m_toolStripWnd[i], &QWidget::customContextMenuRequested, this, [this, i](const QPoint& at) {
            m_windows[i]->ShowMenu(m_toolStripWnd[i]->mapToGlobal(at));
        });
        if (auto* box = qobject_cast<QBoxLayout*>(cell->layout())) box->insertWidget(0, m_toolStripWnd[i]);
        m_windows[i] = new CPlayVideoWnd(i, this, cell);
        if (cell->layout()) cell->layout()->addWidget(m_windows[i]);
        m_windows[i]->hide();
    }
    m_slider = CUiHost::Find<QSlider>(m_root, "Driving_SliderWnd");
    m_timeLabel = CUiHost::Find<QLabel>(m_root, "Driving_Label_PlayTime");
    // Beside the progress and speed: the word that the decoders cannot keep
    // up, and the offer of the sub streams. Hidden until needed.
    if (m_timeLabel && m_timeLabel->parentWidget()) {
        QWidget* bar = m_timeLabel->parentWidget();
        m_behindLabel = new QLabel(bar);
        m_behindLabel->setObjectName("Driving_Label_Behind");
        m_behindLabel->setProperty("langKey", "PlayBack_Label_Behind");
        auto* sub = new QPushButton(bar);
        sub->setObjectName("Driving_Btn_SubStreams");
        sub->setProperty("langKey", "PlayBack_Btn_SubStreams");
        sub->setFocusPolicy(Qt::NoFocus);
        if (auto* box = qobject_cast<QBoxLayout*>(bar->layout())) {
            const int at = box->indexOf(m_timeLabel) + 1;
            box->insertWidget(at, sub);
            box->insertWidget(at, m_behindLabel);
        }
        m_behindLabel->hide();
        sub->hide();
    }
    if (m_slider) {
        connect(m_slider, &QSlider::sliderPressed, this, [this] { m_sliderDragging = true; });
        connect(m_slider, &QSlider::sliderReleased, this, [this] {
            m_sliderDragging = false;
            ReleasedcaptureSlider(m_slider->value());
        });
        // A click on the groove seeks there, as a release of the handle does.
        m_slider->installEventFilter(this);
    }
}

bool CPlayWndDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_slider && event->type() == QEvent::MouseButtonPress) {
        auto* press = static_cast<QMouseEvent*>(event);
        // The handle's rectangle as the style draws it.
        QStyleOptionSlider opt;
        opt.initFrom(m_slider);
        opt.orientation = m_slider->orientation();
        opt.minimum = m_slider->minimum();
        opt.maximum = m_slider->maximum();
        opt.sliderPosition = m_slider->sliderPosition();
        opt.sliderValue = m_slider->value();
        opt.subControls = QStyle::SC_All;
        const QPoint at = press->position().toPoint();
        const bool onHandle =
            m_slider->style()->hitTestComplexControl(QStyle::CC_Slider, &opt, at, m_slider) == QStyle::SC_SliderHandle;
        if (press->button() == Qt::LeftButton && !onHandle && m_slider->isEnabled()) {
            const int value = SliderValueAt(at.x(), m_slider->width(), m_slider->minimum(), m_slider->maximum());
            m_slider->setValue(value);
            ReleasedcaptureSlider(value);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CPlayWndDlg::Route()
{
    m_host.Route(m_root, [this](const QString& c, const QString& n) { OnNotify(c, n); });
}

void CPlayWndDlg::BuildActions()
{
    // A key acts only where the user could click: the button is on screen.
    auto shown = [this](const char* name) {
        return [this, name] {
            auto* b = CUiHost::Find<QWidget>(m_root, name);
            return b && b->isVisible();
        };
    };
    auto add = [&](const char* name, std::function<void()> run, std::vector<std::string> keys = {}) {
        m_actions.Add({name, std::move(run), std::move(keys), shown(name)});
    };
    add("Driving_Btn_Pause", [this] { SetPlayState(EPlayState::kPause); }, {"Space"});
    add("Driving_Btn_Play", [this] { SetPlayState(EPlayState::kPlay); }, {"Space"});
    add("Driving_Btn_Stop", [this] { Stop(); });
    add("Driving_Btn_StepBack", [this] { StepFrames(-1); }, {","});
    add("Driving_Btn_StepNext", [this] { StepFrames(1); }, {"."});
    add("Driving_Btn_Fast", [this] { SpeedUp(); }, {"+", "="});
    add("Driving_Btn_Slow", [this] { SlowDown(); }, {"-"});
    add("Driving_Btn_Snap", [this] {
        m_lastSnapshotError.clear();
        m_lastSnapshot = Snapshot(&m_lastSnapshotError);
        if (!Settings()->snapPath.empty())
            m_host.Message(this, m_lastSnapshot.empty() ? "PlayBack_Msg_SnapError" : "PlayBack_Msg_SnapSuc");
    }, {"S"});
    add("Driving_Btn_Sound", [this] { CreateVoiceSettingDlg(true); });
    add("Driving_Btn_SoundClose", [this] { CreateVoiceSettingDlg(true); });
    add("Driving_Btn_VisibleTool", [this] { SetToolStripsVisible(!m_stripsVisible); });
    add("Driving_Btn_FullScreen", [this] { ToggleFullScreen(); }, {"F11"});
    add("Driving_Btn_OpenFile", [this] { OpenFileDialog(); }, {"Ctrl+O"});
    add("Driving_Btn_OpenFolder", [this] {
        const QString dir = m_host.ChooseFolder(this, QString());
        if (!dir.isEmpty()) OpenPath(dir.toStdString());
    }, {"Ctrl+Shift+O"});
    add("Driving_Btn_SubStreams", [this] {
        // Sub streams wherever a channel has one, until the play stops.
        m_preferSub = true;
        UpdateStreams();
        ShowFallingBehind(false);
    });
    add("PlayWnd_Btn_Layout1", [this] { Layout(kLayout1); });
    add("PlayWnd_Btn_Layout4", [this] { Layout(kLayout2x2); });
    add("PlayWnd_Btn_Layout9", [this] { Layout(kLayout3x3); });
    add("PlayWnd_Btn_Layout16", [this] { Layout(kLayout4x4); });
}

void CPlayWndDlg::OnNotify(const QString& control, const QString& notification)
{
    // A click runs the button's action whatever the keys' rule says: the
    // user (or a script) pressed the button itself.
    if (notification != "click") return;
    if (const CActionTable::Action* a = m_actions.Find(control.toStdString()); a && a->run) a->run();
}

void CPlayWndDlg::OpenFileDialog()
{
    const QString file = m_host.ChooseOpenFile(
        this, "ifv File (*.ifv)|*.ifv|rpo File(*.rpo)|*.rpo|grec File (*.grec)|*.grec|All Files (*.*) |*.*||");
    if (!file.isEmpty()) OpenPath(file.toStdString());
}

bool CPlayWndDlg::OpenPath(const std::string& path)
{
    // One way in for the open button, the folder button and drops: the
    // page's open path when there is a page.
    std::string error;
    const bool ok = m_openHandler ? m_openHandler(path, &error) : PlayOneRecordFile(path, &error);
    if (!ok) m_host.TellOpenFailed(this, path, error);
    return ok;
}

CPlayVideoWnd* CPlayWndDlg::Window(int index) const
{
    return index >= 1 && index <= kMaxWindows ? m_windows[index] : nullptr;
}

bool CPlayWndDlg::PlayOneRecordFile(const std::string& path, std::string* error)
{
    PLAY_TRACE("strFilePath:%s", path.c_str());
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return PlayDirectoryFiles(path, error);
    if (!std::filesystem::is_regular_file(path, ec)) {
        if (error) *error = path + " is not a file";
        return false;
    }
    StopAll();
    m_attach.Clear();
    m_shared.ClearProgress();
    m_lastSingle = {};
    if (ChooseReader(path) == EFileReader::kRpo) {
        // A container file: its channels play side by side on one clock.
        PLAY_TRACE("SetPlayType");
        CSearchRecordFile search;
        uint32_t mask = 0, begin = 0, end = 0;
        if (!search.SearchOneRpoRecordFile(path, &mask, &begin, &end) || mask == 0 || end < begin) {
            if (error) *error = "no channel can be read from " + std::filesystem::path(path).filename().string();
            return false;
        }
        std::map<int, PlayRequestMap> set;
        int highest = 0;
        for (int channel = 1; channel <= kMaxWindows; ++channel) {
            if (!(mask & (1u << (channel - 1)))) continue;
            PlayRequest request;
            request.recordfileinfo = ContainerFileRecord(channel, begin, end);
            request.kind = kRequestTimePlay;
            request.filePath = path;
            set[channel][begin] = request;
            highest = channel;
        }
        if (set.empty()) {
            if (error) *error = "no channel can be read from " + std::filesystem::path(path).filename().string();
            return false;
        }
        StartTimePlay({EPlayType::kContainerFile, highest <= 1 ? kLayout1 : LayoutForChannels(highest), begin, end,
                       begin, set});
    } else {
        SetPlayType(EPlayType::kSingleFile);
        Layout(kLayout1);
        PlayRequest request;
        request.kind = kRequestPlayFile;
        request.filePath = path;
        m_lastSingle = request;
        AddFileInfo({{1, PlayRequestMap{{0, request}}}}, false);
    }
    return true;
}

bool CPlayWndDlg::PlayDirectoryFiles(const std::filesystem::path& folder, std::string* error)
{
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    std::filesystem::directory_iterator it(folder, ec), end;
    if (ec) {
        PLAY_TRACE("Find File Fail:%s", folder.string().c_str());
        if (error) *error = "cannot list " + folder.string() + ": " + ec.message();
        return false;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        if (it->is_directory(ec)) {
            PLAY_TRACE("Direcory");
            continue;
        }
        PLAY_TRACE("fileName:%s", it->path().filename().string().c_str());
        files.push_back(it->path());
    }
    // Listing order differs between file systems; names give one the user can follow.
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        if (error) *error = "no file in " + folder.string();
        return false;
    }
    StopAll();
    SetPlayType(EPlayType::kSingleFile);
    Layout(kLayout1);
    AddFileInfo({{1, FolderRequests(files)}}, false);
    return true;
}

void CPlayWndDlg::StartTimePlay(const TimePlayStart& start)
{
    StopAll();
    m_shared.ClearProgress();
    ClearMapLine();
    SetPlayType(start.playType);
    Layout(start.layout);
    m_shared.SetRange(start.rangeStart, start.rangeEnd);
    m_shared.SetCurrTime(start.from);
    PLAY_TRACE("m_sCurrTime:%u", start.from);
    AddFileInfo(start.channels, true);
}

void CPlayWndDlg::AddFileInfo(const std::map<int, PlayRequestMap>& channels, bool timePlay)
{
    PLAY_TRACE("AddFileInfo");
    m_playSet = channels;
    m_shared.pauseGate.Set();
    for (const auto& [channel, requests] : channels) {
        const int index = WindowForChannel(m_shared.layout, channel);
        CPlayVideoWnd* w = Window(index);
        if (!w) continue;
        ShowPlaceholder(index, false);
        w->SetRequests(requests, timePlay);
        m_shared.SetWindowTime(index, timePlay ? m_shared.CurrTime() : m_shared.RangeStart());
        UpdateToolStrip(index);
    }
    UpdatePlayButtons();
}

void CPlayWndDlg::StepFrames(int direction)
{
    if (direction == 0 || !AnyPlaying()) return;
    if (!Paused()) SetPlayState(EPlayState::kPause);
    m_stepsDue += direction > 0 ? 1 : -1;
    if (!m_stepReference) NextStep();
}

void CPlayWndDlg::NextStep()
{
    m_stepReference = 0;
    if (m_stepsDue == 0) return;
    const auto onPicture = [this](int i) {
        return m_windows[i]->State() == EWindowState::kPaused && m_windows[i]->PictureAt() >= 0;
    };
    int lead = onPicture(m_selected) ? m_selected : 0;
    for (int i = 1; i <= kMaxWindows && !lead; ++i)
        if (onPicture(i)) lead = i;
    if (!lead) {
        m_stepsDue = 0;
        return;
    }
    const bool forward = m_stepsDue > 0;
    m_stepsDue += forward ? -1 : 1;
    m_stepReference = lead;
    m_windows[lead]->RequestStep({forward ? EStepKind::kNext : EStepKind::kPrevious, 0});
}

void CPlayWndDlg::OnStepped(int index, int64_t at)
{
    if (index != m_stepReference) return;
    PLAY_TRACE("frame step: window %d at %lld", index, static_cast<long long>(at));
    if (at >= 0)
        for (int i = 1; i <= kMaxWindows; ++i)
            if (i != index && m_windows[i]->State() == EWindowState::kPaused) m_windows[i]->RequestStep({EStepKind::kTo, at});
    NextStep();
}

void CPlayWndDlg::ForgetSteps()
{
    m_stepsDue = 0;
    m_stepReference = 0;
    for (int i = 1; i <= kMaxWindows; ++i) m_windows[i]->ClearSteps();
}

void CPlayWndDlg::SetPlayState(EPlayState state)
{
    const bool pause = state == EPlayState::kPause;
    if (!pause) ForgetSteps();
    // A window plays on in the state its request runs in.
    const auto playing = [pause](CPlayVideoWnd* w) {
        return pause ? EWindowState::kPaused
                     : StateForRequest(w->CurrentRequest().kind).value_or(EWindowState::kTimePlay);
    };
    const EPlayType type = m_shared.playType;
    if (type == EPlayType::kSingleFile) {
        CPlayVideoWnd* w = Window(1);
        const EWindowState s = w->State();
        if (IsPlaying(s)) {
            w->State() = playing(w);
        } else if (s == EWindowState::kIdle && !pause && !m_lastSingle.filePath.empty()) {
            AddFileInfo({{1, PlayRequestMap{{0, m_lastSingle}}}}, false);
        }
    } else if (type == EPlayType::kTime || type == EPlayType::kContainerFile) {
        bool any = false;
        for (int i = 1; i <= kMaxWindows; ++i) {
            WindowStateCell& s = m_windows[i]->State();
            if (!IsPlaying(s)) continue;
            any = true;
            s = playing(m_windows[i]);
        }
        if (!any && !pause && !m_playSet.empty()) {
            // Everything ended: play the set again from its start.
            m_shared.SetCurrTime(m_shared.RangeStart());
            AddFileInfo(m_playSet, true);
        }
    }
    UpdatePlayButtons();
}

void CPlayWndDlg::UpdatePlayButtons()
{
    if (auto* b = CUiHost::Find<QWidget>(m_root, "Driving_Btn_Play")) b->setVisible(Paused() || !AnyPlaying());
    if (auto* b = CUiHost::Find<QWidget>(m_root, "Driving_Btn_Pause")) b->setVisible(!Paused() && AnyPlaying());
    for (const char* name : {"Driving_Btn_StepBack", "Driving_Btn_StepNext"})
        if (auto* b = CUiHost::Find<QWidget>(m_root, name)) b->setVisible(AnyPlaying());
    const bool muted = m_shared.mute;
    if (auto* b = CUiHost::Find<QWidget>(m_root, "Driving_Btn_Sound")) b->setVisible(!muted);
    if (auto* b = CUiHost::Find<QWidget>(m_root, "Driving_Btn_SoundClose")) b->setVisible(muted);
}

bool CPlayWndDlg::Paused() const
{
    for (int i = 1; i <= kMaxWindows; ++i)
        if (m_windows[i]->State() == EWindowState::kPaused) return true;
    return false;
}

bool CPlayWndDlg::AnyPlaying() const
{
    for (int i = 1; i <= kMaxWindows; ++i) {
        const EWindowState s = m_windows[i]->State();
        if (IsPlaying(s)) return true;
        // A window with requests waiting plays as soon as its thread takes
        // them, also one still ending what it played before (a restart).
        if ((s == EWindowState::kIdle || s == EWindowState::kStop) && !m_windows[i]->QueueEmpty()) return true;
    }
    return false;
}

void CPlayWndDlg::Stop()
{
    m_shared.speedLevel = 0;
    StopAllInternal(/*showBusy=*/true, CPlayShared::EStopKind::kStopButton);
    if (m_stopHandler) m_stopHandler();
}

void CPlayWndDlg::StopAll()
{
    m_shared.speedLevel = 0;
    StopAllInternal(false, CPlayShared::EStopKind::kBeforeRestart);
}

void CPlayWndDlg::StopAllInternal(bool showBusy, CPlayShared::EStopKind kind)
{
    ForgetSteps();
    std::vector<WindowStateCell*> states;
    for (int i = 1; i <= kMaxWindows; ++i) {
        m_windows[i]->ClearRequests();
        ShowPlaceholder(i, true);
        states.push_back(&m_windows[i]->State());
    }
    m_shared.pauseGate.Set();
    m_stopWatch.Begin(states, m_shared.Ticks().NowMs(), kStopLimitMs);
    if (m_stopWatch.Poll(m_shared.Ticks().NowMs()) == CStopWatch::EPoll::kAllIdle) {
        m_stopWatch.End();
        AfterStop(kind);
        return;
    }
    // The loops end on their own threads; the interface looks again from a
    // timer and never waits for them.
    if (showBusy) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        m_busyCursor = true;
        if (m_timeLabel) m_timeLabel->setText(m_host.Text("PlayBack_Label_Stopping"));
    }
    m_stopTimer->start();
    AfterStop(kind);
}

void CPlayWndDlg::PollStop()
{
    std::vector<int> stuck;
    const CStopWatch::EPoll poll = m_stopWatch.Poll(m_shared.Ticks().NowMs(), &stuck);
    if (poll == CStopWatch::EPoll::kWaiting) return;
    if (poll == CStopWatch::EPoll::kTimedOut) {
        // A reader stuck on a slow or unplugged disk: its window gives up
        // waiting for it; whatever the loop does later is ignored.
        for (int index : stuck) PLAY_TRACE("window %d did not stop in time, left behind", index);
    }
    m_stopWatch.End();
    m_stopTimer->stop();
    if (m_busyCursor) {
        QApplication::restoreOverrideCursor();
        m_busyCursor = false;
    }
    // The values were reset when the stop was asked for; a play started
    // since (a stop before a new file) owns them now. Only an idle set
    // shows the empty progress again.
    if (!AnyPlaying()) {
        if (m_slider) m_slider->setValue(0);
        if (m_timeLabel) m_timeLabel->setText(QString::fromStdString(EmptyProgressLabel(m_shared.speedLevel)));
    }
    UpdatePlayButtons();
}

void CPlayWndDlg::AfterStop(CPlayShared::EStopKind kind)
{
    m_shared.ClearWaitStamp();
    m_shared.ResetAfterStop(kind);
    m_shared.mute = m_shared.volume.load() == 0;
    m_shared.ClearProgress();
    m_attach.Clear();
    if (m_slider) m_slider->setValue(0);
    if (m_timeLabel && !m_stopWatch.Active())
        m_timeLabel->setText(QString::fromStdString(EmptyProgressLabel(m_shared.speedLevel)));
    if (kind == CPlayShared::EStopKind::kStopButton) {
        m_toldBehind = false;
        if (m_preferSub) {
            m_preferSub = false;
            UpdateStreams();
        }
        ShowFallingBehind(false);
    }
    UpdatePlayButtons();
}

void CPlayWndDlg::OnFallingBehind(int index)
{
    PLAY_TRACE("window %d cannot keep up at X1", index);
    // Once a play: the user has been told, and may have chosen already.
    if (m_toldBehind || m_preferSub) return;
    m_toldBehind = true;
    ShowFallingBehind(true);
}

bool CPlayWndDlg::FallingBehindShown() const { return m_behindLabel && !m_behindLabel->isHidden(); }

void CPlayWndDlg::ShowFallingBehind(bool show)
{
    if (m_behindLabel) m_behindLabel->setVisible(show);
    if (auto* b = CUiHost::Find<QWidget>(m_root, "Driving_Btn_SubStreams")) b->setVisible(show);
}

void CPlayWndDlg::SpeedUp()
{
    m_shared.speedLevel = velmor::SpeedUp(m_shared.speedLevel);
    if (m_timeLabel) m_timeLabel->setText(ProgressText());
}

void CPlayWndDlg::SlowDown()
{
    m_shared.speedLevel = velmor::SlowDown(m_shared.speedLevel);
    if (m_timeLabel) m_timeLabel->setText(ProgressText());
}

void CPlayWndDlg::ReleasedcaptureSlider(int percent)
{
    percent = std::clamp(percent, 0, 100);
    const uint32_t target = SeekTargetSecond(m_shared.RangeStart(), m_shared.EndTime(), percent);
    PLAY_TRACE("dbDrageValue:%f", double(target));
    switch (SeekActionFor(m_shared.playType)) {
        case ESeekAction::kSeekWindows:
            m_shared.pauseGate.Reset();
            m_shared.ClearProgress();
            for (int i = 1; i <= kMaxWindows; ++i)
                if (m_windows[i]->HasDecoder()) m_windows[i]->SetSeekTarget(target);
            m_shared.SetCurrTime(target);
            m_shared.SetLastPercent(percent);
            m_shared.pauseGate.Set();
            break;
        case ESeekAction::kRestartPlaySet: {
            const auto set = m_playSet;
            TimePlayStart restart{m_shared.playType, kLayout2x2, m_shared.RangeStart(), m_shared.EndTime(), target, {}};
            int highest = 0;
            for (const auto& [channel, requests] : set) {
                PlayRequestMap from = RequestsFromSecond(requests, target);
                if (from.empty()) continue;
                restart.channels[channel] = std::move(from);
                highest = std::max(highest, channel);
            }
            if (restart.channels.empty()) break;
            restart.layout = LayoutForChannels(highest);
            StartTimePlay(restart);
            // A later release picks from the whole set again.
            m_playSet = set;
            break;
        }
        case ESeekAction::kNone: break;
    }
}

void CPlayWndDlg::Layout(int mode, bool show)
{
    mode = std::clamp(mode, int(kLayout1), int(kLayout4x4));
    m_shared.layout = mode;
    if (m_enlarged) {
        if (m_cells[m_enlarged]) m_cells[m_enlarged]->setProperty("userData", "0");
        m_enlarged = 0;
    }
    ShowCells([mode, show](int i) { return show && ShownIn(mode, i); });
    for (int i = 1; i <= kMaxWindows; ++i) UpdateToolStrip(i);
    UpdateStreams();
}

void CPlayWndDlg::UpdateStreams()
{
    for (int i = 1; i <= kMaxWindows; ++i)
        if (m_windows[i])
            m_windows[i]->SetSubStreamWanted(
                m_preferSub || PlaysSubStream(m_shared.layout, m_enlarged == i, Settings()->alwaysMain != 0));
}

void CPlayWndDlg::OnSettingsChanged(const SettingsRecord& before, const SettingsRecord& now)
{
    if (before.voice != now.voice) {
        m_shared.volume = std::clamp(now.voice, 0, 100);
        m_shared.mute = now.voice < 1;
        UpdatePlayButtons();
    }
    if (before.equalize != now.equalize) {
        RKPLAYER_EQ_PRESET eq = FlatEqualizer();
        const bool on = ParseEqualizeText(now.equalize, eq);
        m_shared.SetEqualizer(on, eq);
    }
    if (before.alwaysMain != now.alwaysMain) UpdateStreams();  // at the next key frame
    if (before.mediaInfo != now.mediaInfo && m_windows[1]) {
        for (int i = 1; i <= kMaxWindows; ++i) {
            m_windows[i]->SetInfoStrip(now.mediaInfo != 0);
            UpdateToolStrip(i);
        }
    }
    // The play threads take the other values (picture scale, on-screen text,
    // sound filters) from the record in force at their next frame.
}

void CPlayWndDlg::Select(int index)
{
    if (!Window(index)) return;
    m_selected = index;
    for (int i = 1; i <= kMaxWindows; ++i) {
        if (!m_cells[i]) continue;
        const QString border = i == index ? "#1e90ff" : "#303030";
        m_cells[i]->setStyleSheet(QString("#PLAYWND_Cell_%1 { background-color: #101010; border: 1px solid %2; }")
                                      .arg(i)
                                      .arg(border));
    }
}

void CPlayWndDlg::ToggleEnlarge(int index)
{
    if (!Window(index)) return;
    Select(index);
    if (m_enlarged == index) {
        m_cells[index]->setProperty("userData", "0");
        m_enlarged = 0;
        const int mode = m_shared.layout;
        ShowCells([mode](int i) { return ShownIn(mode, i); });
        UpdateStreams();
        return;
    }
    if (m_enlarged && m_cells[m_enlarged]) m_cells[m_enlarged]->setProperty("userData", "0");
    m_enlarged = index;
    m_cells[index]->setProperty("userData", "1");
    ShowCells([index](int i) { return i == index; });
    UpdateStreams();
}

bool CPlayWndDlg::CellShown(int index) const
{
    if (index < 1 || index > kMaxWindows) return false;
    return m_enlarged ? m_enlarged == index : ShownIn(m_shared.layout, index);
}

bool CPlayWndDlg::PlaceholderShown(int index) const
{
    return index >= 1 && index <= kMaxWindows && m_windows[index] && m_windows[index]->isHidden();
}

void CPlayWndDlg::ShowCells(const std::function<bool(int index)>& shown)
{
    // A row shows when any of its four cells does (row r holds 4r-3 .. 4r).
    for (int r = 1; r <= 4; ++r) {
        bool any = false;
        for (int i = 4 * r - 3; i <= 4 * r; ++i) any |= shown(i);
        if (QWidget* row = CUiHost::Find<QWidget>(m_root, QString("PLAYWND_Parent%1").arg(r))) row->setVisible(any);
    }
    for (int i = 1; i <= kMaxWindows; ++i)
        if (m_cells[i]) m_cells[i]->setVisible(shown(i));
}

void CPlayWndDlg::SetToolStripsVisible(bool visible)
{
    m_stripsVisible = visible;
    if (auto* b = CUiHost::Find<QWidget>(m_root, "Driving_Btn_VisibleTool"))
        b->setToolTip(m_host.Text(visible ? "PlayBack_ToolTip_CloseTool" : "PlayBack_ToolTip_OpenTool"));
    for (int i = 1; i <= kMaxWindows; ++i) UpdateToolStrip(i);
}

void CPlayWndDlg::ShowPlaceholder(int index, bool show)
{
    // The strip first, so that the video window is laid out once, below
    // it, before the engine binds to it.
    if (m_pictures[index]) m_pictures[index]->setVisible(show);
    UpdateToolStrip(index, !show);
    m_windows[index]->setVisible(!show);
}

void CPlayWndDlg::Relabel()
{
    m_host.Relabel(m_root);
    for (int i = 1; i <= kMaxWindows; ++i) UpdateToolStrip(i);
}

void CPlayWndDlg::UpdateToolStrip(int index, bool starting)
{
    CPlayVideoWnd* w = Window(index);
    if (!w || !m_toolStripWnd[index]) return;
    const WindowStreamInfo info = w->Info();
    const bool playing = starting || (w->State() != EWindowState::kIdle && w->State() != EWindowState::kStop);
    const bool placeholder = m_pictures[index] && !m_pictures[index]->isHidden();
    m_toolStripWnd[index]->setVisible(m_stripsVisible && w->InfoStrip() && playing && !placeholder);
    m_toolStripWnd[index]->SetTexts(CPlayToolWnd::Texts(m_host, info));
}

void CPlayWndDlg::OnWindowFinished(int index)
{
    CPlayVideoWnd* w = Window(index);
    if (!w) return;
    // A step its leading window will never answer.
    if (index == m_stepReference) {
        m_stepReference = 0;
        m_stepsDue = 0;
    }
    // A play started since this one ended owns the window now.
    if (w->State() != EWindowState::kIdle || !w->QueueEmpty()) return;
    ShowPlaceholder(index, true);
    UpdatePlayButtons();
    const std::string error = w->LastError();
    if (!error.empty() && m_shared.playType == EPlayType::kSingleFile)
        m_host.TellOpenFailed(this, w->Info().path, error);
}

void CPlayWndDlg::OnProgress()
{
    ProgressRecord record;
    while (m_shared.TakeProgress(record)) {
        if (record.totalMs == 0) {
            if (m_slider && !m_sliderDragging) m_slider->setValue(0);
            if (m_timeLabel && !m_stopWatch.Active())
                m_timeLabel->setText(QString::fromStdString(EmptyProgressLabel(m_shared.speedLevel)));
            continue;
        }
        if (m_slider && !m_sliderDragging && record.percent >= 0 && record.percent != m_slider->value())
            m_slider->setValue(record.percent);
        if (m_timeLabel && m_shared.CurrTime() >= m_shared.RangeStart()) m_timeLabel->setText(ProgressText());
    }
}

int CPlayWndDlg::Percent() const { return m_slider ? m_slider->value() : 0; }

QString CPlayWndDlg::ProgressText() const
{
    if (m_shared.EndTime() == 0 && m_shared.RangeStart() == 0)
        return QString::fromStdString(EmptyProgressLabel(m_shared.speedLevel));
    return QString::fromStdString(
        ProgressLabel(m_shared.CurrTime(), m_shared.RangeStart(), m_shared.EndTime(), m_shared.speedLevel));
}

void CPlayWndDlg::OnAttachInfo()
{
    const auto in = Settings();
    MapSettings settings;
    settings.convertGps = in->convertGps != 0;
    settings.correct = m_correct;
    settings.speedMph = in->speedMph != 0;
    settings.mapType = in->mapType;
    const auto info = m_attach.Pop();
    if (!info || !m_attach.FirstShow(info->time.get())) return;
    std::optional<::velmor::MapScripts> scripts;
    try {
        scripts = BuildMapScripts(*info, settings, m_vehicleName ? m_vehicleName() : std::string(), m_events);
    } catch (...) {
        PLAY_TRACE("Oprator Map Exception");
    }
    if (m_attachSink) m_attachSink(*info, scripts ? &*scripts : nullptr);
    if (!scripts) return;
    for (const std::string* s : {&scripts->move, &scripts->carInfo, &scripts->history}) {
        if (s->empty()) continue;
        m_scripts.push_back(*s);
        while (m_scripts.size() > kMaxScripts) m_scripts.pop_front();
    }
}

void CPlayWndDlg::ClearMapLine()
{
    m_attach.Clear();
    if (m_scriptSink) m_scriptSink("clearHistorylines(' ')");
}

std::string CPlayWndDlg::Snapshot(std::string* error)
{
    const auto settings = Settings();
    if (settings->snapPath.empty()) {
        if (error) *error = "no snapshot folder is set";
        return {};
    }
    CPlayVideoWnd* w = Window(m_selected);
    if (!w || !w->HasDecoder()) {
        if (error) *error = "the selected window shows no picture";
        return {};
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::filesystem::path path = SnapshotPath(settings->snapPath, local, settings->snapPicFormat);
    const int rc = w->SavePicture(path.string(), settings->snapPicFormat);
    if (rc != 0) {
        if (error) *error = "the picture could not be written to " + path.string();
        return {};
    }
    // A zoomed window: the whole picture is the evidence, and what the user
    // looked at is written beside it.
    if (w->Zoom().factor > 1) {
        std::filesystem::path zoomed = path;
        zoomed.replace_filename(path.stem().string() + "_zoom" + path.extension().string());
        if (w->SavePicture(zoomed.string(), settings->snapPicFormat, true) != 0) {
            if (error) *error = "the zoomed view could not be written to " + zoomed.string();
            return {};
        }
    }
    return path.string();
}

void CPlayWndDlg::SetVolume(int volume)
{
    volume = std::clamp(volume, 0, 100);
    m_settings.Change([volume](SettingsRecord& r) { r.voice = volume; });
}

void CPlayWndDlg::SetEqualizer(bool on, const RKPLAYER_EQ_PRESET& record)
{
    // The play threads' record follows the settings (OnSettingsChanged).
    m_settings.Change([&](SettingsRecord& r) { r.equalize = velmor::EqualizeText(on, record); });
}

CVoiceDlg& CPlayWndDlg::CreateVoiceSettingDlg(bool show)
{
    if (m_voice) {
        PLAY_TRACE("Already Create Voicedlg");
    } else {
        m_voice = std::make_unique<CVoiceDlg>(
            m_host, this, [this](int v) { SetVolume(v); }, [this] { showEqualizeDlg(true); });
    }
    if (show) {
        QWidget* anchor = CUiHost::Find<QWidget>(m_root, m_shared.mute ? "Driving_Btn_SoundClose" : "Driving_Btn_Sound");
        m_voice->Show(anchor, Volume());
    }
    return *m_voice;
}

CEqualizeDlg& CPlayWndDlg::showEqualizeDlg(bool show)
{
    if (m_equalize) {
        PLAY_TRACE("Already Create EqzalizeDlg");
    } else {
        RKPLAYER_EQ_PRESET record = FlatEqualizer();
        const bool on = ParseEqualizeText(Settings()->equalize, record);
        m_equalize = std::make_unique<CEqualizeDlg>(
            m_host, this, on, record, [this](bool enabled, const RKPLAYER_EQ_PRESET& r) { SetEqualizer(enabled, r); });
    }
    if (show) m_equalize->Show();
    return *m_equalize;
}

namespace {

// The last local file of a drop: several dropped files play the last one.
QString LastDroppedFile(const QMimeData* mime)
{
    QString last;
    if (!mime || !mime->hasUrls()) return last;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) last = url.toLocalFile();
    return last;
}

}  // namespace

void CPlayWndDlg::dragEnterEvent(QDragEnterEvent* event)
{
    if (!LastDroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CPlayWndDlg::dropEvent(QDropEvent* event)
{
    const QString file = LastDroppedFile(event->mimeData());
    if (file.isEmpty()) return;
    event->acceptProposedAction();
    OpenPath(file.toStdString());
}

void CPlayWndDlg::ToggleFullScreen()
{
    if (m_fullScreen) {
        m_fullScreen->hide();
        layout()->addWidget(m_root);
        m_fullScreen->deleteLater();
        m_fullScreen = nullptr;
        return;
    }
    m_fullScreen = new QWidget(nullptr, Qt::Window);
    m_fullScreen->setObjectName("PlayWndFullScreen");
    auto* lay = new QVBoxLayout(m_fullScreen);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(m_root);
    auto* back = new QShortcut(Qt::Key_Escape, m_fullScreen);
    connect(back, &QShortcut::activated, this, [this] { ToggleFullScreen(); });
    m_fullScreen->showFullScreen();
}

}  // namespace velmor
