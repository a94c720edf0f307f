#include "player/playback/PlayVideoWnd.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <thread>

#include "player/ui/UiHost.h"
#include "player/playback/PlayWndDlg.h"
#include "player/playback/PlayWndMenu.h"
#include "player/playback/StreamRules.h"
#include "player/formats/TtxLibrary.h"

namespace velmor {

CPlayVideoWnd::CPlayVideoWnd(int index, CPlayWndDlg* dialog, QWidget* parent)
    : QWidget(parent), m_index(index), m_dialog(dialog)
{
    setObjectName(QString("PLAYWND_%1").arg(index));
    // The media engine draws into this window from a thread of its own: it
    // needs a native window that Qt itself never paints over.
    // The toolkit paints it black where the engine has not drawn yet (a
    // channel whose recording starts later); the engine draws over that.
    setAttribute(Qt::WA_NativeWindow);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    setAcceptDrops(false);  // drops go to the window set
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(32, 24);
    m_nativeWindow = uintptr_t(winId());
    m_infoStrip = dialog->Settings()->mediaInfo != 0;
    Start();
}

CPlayVideoWnd::~CPlayVideoWnd()
{
    m_state = EWindowState::kClosing;
    {
        std::lock_guard<std::mutex> lock(m_loopLock);
        if (m_loop) m_loop->RequestStop();
    }
    m_dialog->Shared().pauseGate.Wake();
    RequestStop();
    Join();
    if (m_player) RKPLAYER_Uninitgpu(&m_player);
    if (m_ttxUser) CTtxLibrary::Shared().UnInitialize();
}

void CPlayVideoWnd::SetRequests(const PlayRequestMap& requests, bool useClock)
{
    m_requests.Set(requests);
    CPlayShared& shared = m_dialog->Shared();
    shared.SetWindowTime(m_index, useClock ? shared.CurrTime() : shared.RangeStart());
    std::lock_guard<std::mutex> lock(m_infoLock);
    m_info.osd.clear();
}

void CPlayVideoWnd::AddRequest(const PlayRequest& request) { m_requests.Add(request); }

void CPlayVideoWnd::ClearRequests()
{
    m_requests.Clear();
    m_dialog->Shared().SetWindowTime(m_index, 0);
    m_infoStrip = m_dialog->Settings()->mediaInfo != 0;
    AskToStop(m_state);
    m_dialog->Shared().pauseGate.Wake();
}

void CPlayVideoWnd::SetSeekTarget(uint32_t second)
{
    std::lock_guard<std::mutex> lock(m_loopLock);
    if (m_loop) m_loop->SetSeekTarget(second);
}

void CPlayVideoWnd::RequestStep(const StepOrder& order)
{
    std::lock_guard<std::mutex> lock(m_loopLock);
    if (m_loop) m_loop->RequestStep(order);
}

void CPlayVideoWnd::ClearSteps()
{
    std::lock_guard<std::mutex> lock(m_loopLock);
    if (m_loop) m_loop->ClearSteps();
}

void CPlayVideoWnd::ShowDecoded(bool show)
{
    if (m_player) RKPLAYER_SetShowDecoded(&m_player, show ? 1 : 0);
}

bool CPlayVideoWnd::KeepPicture(int64_t at) { return m_player && RKPLAYER_KeepLastPicture(&m_player, at) == 0; }

bool CPlayVideoWnd::ShowKeptPicture(int64_t at)
{
    if (!m_player || RKPLAYER_ShowKeptPicture(&m_player, at) != 0) return false;
    m_lastDrawnMs = SteadyMilliseconds();
    TakeShowStat();
    return true;
}

void CPlayVideoWnd::DropKeptPictures()
{
    if (m_player) RKPLAYER_DropKeptPictures(&m_player);
}

int CPlayVideoWnd::SavePicture(const std::string& path, int format, bool zoomed)
{
    // The play thread may be replacing the player for a new picture size.
    std::lock_guard<std::mutex> lock(m_playerLock);
    if (!m_player) return -1;
    return zoomed ? RKPLAYER_SaveZoomedPictureFile(&m_player, path.c_str(), format)
                  : RKPLAYER_SavePictureFile(&m_player, path.c_str(), format);
}

bool CPlayVideoWnd::ZoomTo(double factor, double cx, double cy)
{
    {
        std::lock_guard<std::mutex> lock(m_playerLock);
        if (!m_player || RKPLAYER_SetZoom(&m_player, factor, cx, cy) != 0) return false;
    }
    // Drawn again by the play thread: at its next picture, or within 25 ms paused.
    m_resized = true;
    return true;
}

CPlayVideoWnd::ZoomState CPlayVideoWnd::Zoom() const
{
    return m_zoomRead.Read(m_playerLock, [this] {
        ZoomState z;
        RKPLAYER_HANDLE player = m_player;
        if (player) RKPLAYER_GetZoom(&player, &z.factor, &z.cx, &z.cy);
        return z;
    });
}

void CPlayVideoWnd::wheelEvent(QWheelEvent* event)
{
    // Eighths of a degree; a notch is 15 degrees, a touchpad gives less at a time.
    m_wheelRest += event->angleDelta().y();
    const int steps = m_wheelRest / 120;
    m_wheelRest -= steps * 120;
    if (steps == 0) return;
    const qreal ratio = devicePixelRatioF();
    const QPointF at = event->position() * ratio;
    {
        // A play thread opening its decoder holds the lock for long: the
        // notch is let go rather than the interface held up.
        std::unique_lock<std::mutex> lock(m_playerLock, std::try_to_lock);
        if (!lock.owns_lock() || !m_player || RKPLAYER_ZoomAt(&m_player, steps, int(at.x()), int(at.y()), int(width() * ratio),
                                         int(height() * ratio)) != 0)
            return;
    }
    m_resized = true;
    event->accept();
}

void CPlayVideoWnd::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(event);
    const QPoint delta = event->pos() - m_dragFrom;
    m_dragFrom = event->pos();
    const qreal ratio = devicePixelRatioF();
    {
        std::unique_lock<std::mutex> lock(m_playerLock, std::try_to_lock);
        if (!lock.owns_lock() || !m_player || RKPLAYER_PanZoom(&m_player, int(delta.x() * ratio), int(delta.y() * ratio),
                                          int(width() * ratio), int(height() * ratio)) != 0)
            return;
    }
    m_resized = true;
}

WindowStreamInfo CPlayVideoWnd::Info() const
{
    std::lock_guard<std::mutex> lock(m_infoLock);
    return m_info;
}

std::string CPlayVideoWnd::LastError() const
{
    std::lock_guard<std::mutex> lock(m_infoLock);
    return m_error;
}

RKPLAYER_SHOW_STAT CPlayVideoWnd::ShowStat() const
{
    std::lock_guard<std::mutex> lock(m_infoLock);
    return m_showStat;
}

void CPlayVideoWnd::TakeShowStat()
{
    RKPLAYER_SHOW_STAT raw{};
    if (m_player && RKPLAYER_GetShowStat(&m_player, &raw) != 0) return;
    std::lock_guard<std::mutex> lock(m_infoLock);
    m_showStat.handed = m_showCarry.handed + raw.handed - m_showBase.handed;
    m_showStat.shown = m_showCarry.shown + raw.shown - m_showBase.shown;
    m_showStat.passedOver = m_showCarry.passedOver + raw.passedOver - m_showBase.passedOver;
    m_showStat.shownOnTime = m_showCarry.shownOnTime + raw.shownOnTime - m_showBase.shownOnTime;
}

void CPlayVideoWnd::SetError(std::string text)
{
    std::lock_guard<std::mutex> lock(m_infoLock);
    m_error = std::move(text);
}

void CPlayVideoWnd::Step(void*)
{
    if (m_requests.Empty()) return;
    const int delay = m_dialog->Settings()->delayTime;
    RunQueuedRequests(
        m_requests, m_state, [this](const PlayRequest& request) { Play(request); },
        delay,
        [this](int ms) {
            // Folder play's pause between files ends with a stop.
            const auto ending = [this] {
                const EWindowState s = m_state;
                return s == EWindowState::kStop || s == EWindowState::kClosing;
            };
            for (int slept = 0; slept < ms && !ending(); slept += 25)
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
        });
    Finished();
}

void CPlayVideoWnd::Finished()
{
    // A window with nothing left to play no longer holds the common clock
    // back for the windows still playing.
    m_dialog->Shared().SetWindowTime(m_index, 0);
    m_dialog->Shared().Recompute();
    EWindowState s = m_state.load();
    // A closing window stays closing; every other one is idle again.
    while (s != EWindowState::kClosing && !m_state.compare_exchange_weak(s, EWindowState::kIdle)) {
    }
    const int index = m_index;
    CPlayWndDlg* dialog = m_dialog;
    CUiHost::Post(this, [dialog, index] { dialog->OnWindowFinished(index); });
}

std::unique_ptr<CFrameSource> CPlayVideoWnd::OpenInWantedStream(ESourceKind kind, const std::filesystem::path& path,
                                                                 int channel)
{
    if (kind != ESourceKind::kContainerFile || !m_wantSub) return CFrameSource::OpenFile(kind, path, channel);
    // A channel without a sub stream plays the one it has.
    auto source = CFrameSource::OpenFile(kind, path, channel, EStreamChoice::kSub);
    if (source && source->OpenResult() == EFrameResult::kNoChannel) source = CFrameSource::OpenFile(kind, path, channel);
    return source;
}

void CPlayVideoWnd::Play(const PlayRequest& request)
{
    m_decoded = 0;
    m_shown = 0;
    m_pictureAt = -1;
    m_skipped = 0;
    SetError({});
    {
        RKPLAYER_SHOW_STAT raw{};
        if (m_player) RKPLAYER_GetShowStat(&m_player, &raw);
        std::lock_guard<std::mutex> lock(m_infoLock);
        m_showStat = m_showCarry = {};
        m_showBase = raw;
    }
    const std::filesystem::path path(request.filePath);
    const int channel = request.recordfileinfo.channel ? request.recordfileinfo.channel : 1;
    const uint8_t sourceKind = request.recordfileinfo.kind;
    CPlayShared& shared = m_dialog->Shared();

    PlayLoopOptions options;
    options.window = m_index;
    options.audioOn = m_audioOn;
    // Asked at every information frame: the setting may change while playing.
    options.wantOsd = [dialog = m_dialog] { return dialog->Settings()->addOsd != 0; };
    options.events = m_dialog->Events();
    options.attach = &m_dialog->AttachQueue();
    options.stepped = [this](int64_t at) {
        CPlayWndDlg* dialog = m_dialog;
        const int index = m_index;
        CUiHost::Post(this, [dialog, index, at] { dialog->OnStepped(index, at); });
    };

    const LoopReaderChoice choice = ChooseLoopReader(request.kind, sourceKind, channel, path);
    const ESourceKind kind = choice.reader;
    if (kind == ESourceKind::kUnknown) return;
    PLAY_TRACE(choice.timePlay ? "FileName:%s" : "strFilePath:%s", request.filePath.c_str());
    options.timePlay = choice.timePlay;
    if (choice.toRangeEnd) options.stopAt = shared.EndTime();
    options.source = choice.loopKind;
    std::unique_ptr<CFrameSource> source = OpenInWantedStream(kind, path, choice.streamChannel);
    if (kind == ESourceKind::kContainerFile) {
        options.wantSub = &m_wantSub;
        options.openStream = [path, channel](bool sub) {
            return CFrameSource::OpenContainerFile(path, channel, sub ? EStreamChoice::kSub : EStreamChoice::kMain);
        };
    }
    if (kind == ESourceKind::kGrecFile && !m_ttxUser) {
        // The grec reader counts the windows that use it; each tells it when it goes.
        CTtxLibrary& ttx = CTtxLibrary::Shared();
        if (ttx.Loaded()) {
            ttx.Initialize();
            m_ttxUser = true;
        }
    }
    if (!source) {
        SetError("no reader for " + path.filename().string());
        return;
    }
    if (source->OpenResult() != EFrameResult::kOk) {
        SetError(source->ErrorText());
        PLAY_TRACE("Open File %s Fail", request.filePath.c_str());
        return;
    }
    if (choice.headerCountsPictures) options.maxPictures = source->Stream().frameCount;
    if (options.timePlay) {
        // Start where the common clock stands when it lies inside the file.
        const uint32_t now = shared.CurrTime();
        const SourceStream& s = source->Stream();
        if (now > s.begin && now <= s.end) {
            PLAY_TRACE("nchn:%d,RK_FileSeekToSysTime:%u", channel, now);
            if (source->Seek(now) != EFrameResult::kOk) PLAY_TRACE("Seek I frame Error");
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_infoLock);
        m_info.path = request.filePath;
        m_info.channel = channel;
    }
    const int index = m_index;
    CPlayWndDlg* dialog = m_dialog;
    const std::string file = request.filePath;
    CUiHost::Post(this, [dialog, index, file] { dialog->OnFileEvent(true, index, file, {}); });
    CPlayLoop loop(shared, m_state, *this, this, std::move(options));
    {
        std::lock_guard<std::mutex> lock(m_loopLock);
        m_loop = &loop;
    }
    const PlayLoopResult result = loop.Run(*source);
    {
        std::lock_guard<std::mutex> lock(m_loopLock);
        m_loop = nullptr;
    }
    if (!result.error.empty()) SetError(result.error);
    TakeShowStat();
    CUiHost::Post(this, [dialog, index, file, error = result.error] { dialog->OnFileEvent(false, index, file, error); });
    {
        std::lock_guard<std::mutex> lock(m_infoLock);
        if (m_state != EWindowState::kClosing) {
            m_info.width = m_info.height = 0;
            m_info.frameRate = 0;
            m_info.audioType = -1;
            m_info.subStream = false;
        }
    }
    if (m_state != EWindowState::kClosing) PostToolTexts();
}

bool CPlayVideoWnd::Open(const SourceStream& stream)
{
    const bool same = m_player && m_width == stream.width && m_height == stream.height && m_h265 == stream.h265;
    if (same) {
        PLAY_TRACE("video not change");
    } else {
        TakeShowStat();
        {
            std::lock_guard<std::mutex> lock(m_infoLock);
            m_showCarry = m_showStat;
            m_showBase = {};
        }
        std::lock_guard<std::mutex> lock(m_playerLock);
        if (m_player) RKPLAYER_Uninitgpu(&m_player);
        m_h265 = stream.h265;
        if (RKPLAYER_InitVideoDecoder(&m_player, stream.width, stream.height, stream.h265 ? 1 : 0,
                                      int(stream.frameRate), 1) < 0)
            return false;
        if (RKPLAYER_SetShowWnd(&m_player, reinterpret_cast<void*>(m_nativeWindow), m_index) < 0) {
            PLAY_TRACE("RKPLAYER_SetShowWnd Fail");
            RKPLAYER_Uninitgpu(&m_player);
            return false;
        }
        m_settingsSeen = 0;  // the new decoder takes the settings in force
        ApplySettings();
        m_width = stream.width;
        m_height = stream.height;
        m_audioKey = -1;
    }
    InitAudio(stream);
    {
        std::lock_guard<std::mutex> lock(m_infoLock);
        m_info.h265 = stream.h265;
        m_info.width = stream.width;
        m_info.height = stream.height;
        // The window shows an IFV file's rate as its span gives it, in steps of 5 above 10.
        m_info.frameRate = stream.frameCount ? IfvFrameRate(stream.frameCount, stream.begin, stream.end)
                                             : int(stream.frameRate);
        m_info.audioType = stream.hasAudio ? stream.audioType : -1;
        m_info.subStream = stream.subStream;
    }
    PostToolTexts();
    return true;
}

void CPlayVideoWnd::InitAudio(const SourceStream& stream)
{
    if (!stream.hasAudio) return;
    const int rate = stream.sampleRate > 0 ? stream.sampleRate : 8000;
    const int key = stream.audioType * 100000 + rate;
    if (key == m_audioKey) return;
    m_settingsSeen = 0;
    ApplySettings();
    RKPLAYER_AUDIO_PARAM param{1, rate, stream.sampleWidth > 0 ? stream.sampleWidth : 16, stream.audioType};
    RKPLAYER_InitAudioDecoder(&m_player, param);
    m_audioKey = key;
}

void CPlayVideoWnd::ApplySettings()
{
    // Play thread only: the engine's player is its own.
    const uint64_t generation = m_dialog->SettingsGeneration();
    if (!m_player || generation == m_settingsSeen) return;
    m_settingsSeen = generation;
    const auto s = m_dialog->Settings();
    RKPLAYER_SetVideoDisplayScale(&m_player, s->videoScale);
    RKPLAYER_EnableLowPassFilter(&m_player, s->lowPass != 0, float(s->lowPassValue));
    RKPLAYER_EnableRemoveNoise(&m_player, s->nsEnable != 0, s->nsValue);
}

int CPlayVideoWnd::Decode(const SourceFrame& frame)
{
    ApplySettings();
    ++m_decoded;
    int width = 0, height = 0;
    const int rc = RKPLAYER_DecodeFrame(&m_player, frame.data, int(frame.length), frame.key ? 3 : 0, nullptr,
                                        nullptr, &width, &height);
    if (rc != 0) return rc;
    // The engine reads a new window size when asked to show again.
    if (m_resized.exchange(false)) RKPLAYER_ShowLastFrame(&m_player);
    m_lastDrawnMs = SteadyMilliseconds();
    ++m_shown;
    TakeShowStat();
    if (width > 0 && height > 0 && (width != m_width || height != m_height)) {
        // The stream's header may name another size than its pictures have.
        m_width = width;
        m_height = height;
        {
            std::lock_guard<std::mutex> lock(m_infoLock);
            m_info.width = width;
            m_info.height = height;
        }
        PostToolTexts();
    }
    return 0;
}

void CPlayVideoWnd::ShowLastFrame()
{
    if (!m_player) return;
    ApplySettings();  // a paused window shows a new picture scale too
    // Waits (paused, the sync wait, the clock wait) ask every 25 ms. The
    // engine's thread keeps the picture on screen by itself, so drawing it
    // again each time only took the processor from the windows still
    // decoding: sixteen windows waiting at a second's boundary drew
    // hundreds of pictures a second exactly when the others had to catch up.
    const int64_t now = SteadyMilliseconds();
    if (!m_resized.exchange(false) && now - m_lastDrawnMs.load() < 1000) return;
    m_lastDrawnMs = now;
    RKPLAYER_ShowLastFrame(&m_player);
    TakeShowStat();
}

void CPlayVideoWnd::SetOsdText(const std::string& gbkText)
{
    if (m_player) RKPLAYER_SetOSDText(&m_player, gbkText.data(), int(gbkText.size()));
    std::lock_guard<std::mutex> lock(m_infoLock);
    m_info.osd = gbkText;
}

void CPlayVideoWnd::Flush()
{
    if (!m_player) return;
    const int rc = RKPLAYER_DecodeFrame(&m_player, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (rc < 0 && rc != -2) PLAY_TRACE("Decode Fail:%d", rc);
}

void CPlayVideoWnd::PlayAudio(const SourceFrame& frame, int volume, bool equalizerOn, const RKPLAYER_EQ_PRESET& eq)
{
    if (!m_player || m_audioKey < 0) return;
    ApplySettings();
    // The volume setting is 0..100, the engine's 0..128.
    RKPLAYER_SetAudioVolume(&m_player, volume * 128 / 100);
    RKPLAYER_EnableAudioEqualizer(&m_player, equalizerOn ? 1 : 0, eq);
    // The sound output's filters are shared by every window: each frame says them.
    const auto s = m_dialog->Settings();
    RKPLAYER_EnableRemoveNoise(&m_player, s->nsEnable != 0, s->nsValue);
    m_pcm.resize(RKPLAYER_PCM_MAX_BYTES(size_t(frame.length)));
    int out = 0;
    RKPLAYER_DecordOneAudioFrame(&m_player, frame.data, int(frame.length), m_pcm.data(), &out);
}

void CPlayVideoWnd::PostToolTexts()
{
    const int index = m_index;
    CPlayWndDlg* dialog = m_dialog;
    CUiHost::Post(this, [dialog, index] { dialog->UpdateToolStrip(index); });
}

void CPlayVideoWnd::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The play thread owns the engine's player: it shows the picture again
    // at the new size with its next one, or within 25 ms when waiting.
    m_resized = true;
}

void CPlayVideoWnd::paintEvent(QPaintEvent* event)
{
    // The toolkit fills the window black when it is exposed: the picture
    // goes back on as after a resize.
    QWidget::paintEvent(event);
    m_resized = true;
}

void CPlayVideoWnd::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_dialog->Select(m_index);
        m_dragFrom = event->pos();
    }
    QWidget::mousePressEvent(event);
}

void CPlayVideoWnd::FallingBehind()
{
    const int index = m_index;
    CPlayWndDlg* dialog = m_dialog;
    CUiHost::Post(this, [dialog, index] { dialog->OnFallingBehind(index); });
}

DecodePathInfo CPlayVideoWnd::DecodePath() const
{
    return m_decodePath.Read(m_playerLock, [this] {
        DecodePathInfo info;
        RKPLAYER_HWDEC_PATH path{};
        if (!m_player || RKPLAYER_GetHwDecodePath(const_cast<RKPLAYER_HANDLE*>(&m_player), &path) != 0) return info;
        info.name = path.name;
        info.reason = path.reason;
        return info;
    });
}

void CPlayVideoWnd::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    // With Ctrl the zoom ends; the window keeps its place in the layout.
    if (event->modifiers() & Qt::ControlModifier)
        ZoomTo(1, 0, 0);
    else
        m_dialog->ToggleEnlarge(m_index);
}

void CPlayVideoWnd::contextMenuEvent(QContextMenuEvent* event) { ShowMenu(event->globalPos()); }

void CPlayVideoWnd::ShowMenu(const QPoint& globalPos)
{
    m_dialog->Select(m_index);
    const CPlayWndMenu::EChoice choice = CPlayWndMenu::Exec(m_dialog->Host(), this, globalPos, DecodePath());
    if (choice != CPlayWndMenu::EChoice::kNone) {
        m_infoStrip = choice == CPlayWndMenu::EChoice::kOpenInfo;
        m_dialog->UpdateToolStrip(m_index);
    }
}

}  // namespace velmor
