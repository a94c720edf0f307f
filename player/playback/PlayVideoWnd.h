// One of the sixteen video windows of the window set: a native child window
// the media engine draws into, and the play thread that takes the window's
// play requests, opens each recording through the frame source and runs the
// frame loop on it. The thread never touches a widget: texts for the tool
// strip go to the interface thread as queued calls.
#pragma once

#include <QWidget>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "media/include/rkmedia.h"
#include "player/playback/PlayLoop.h"
#include "player/playback/PlayRequest.h"
#include "player/playback/PlayWndMenu.h"
#include "player/playback/ReadUnlessBusy.h"

class QLabel;

namespace velmor {

class CPlayWndDlg;

// What a window shows of its stream, read by the interface thread.
struct WindowStreamInfo {
    std::string path;
    int channel = 0;
    bool h265 = false;
    int width = 0, height = 0;
    int frameRate = 0;
    int audioType = -1;  // -1: no sound
    std::string osd;
    bool subStream = false;  // the channel's sub stream is shown
};

class CPlayVideoWnd : public QWidget, public CRKThread, private IPlayVideoSink, private IPlayAudioSink {
public:
    CPlayVideoWnd(int index, CPlayWndDlg* dialog, QWidget* parent);
    ~CPlayVideoWnd() override;

    int Index() const { return m_index; }
    WindowStateCell& State() { return m_state; }

    // The request map, as the window set hands it over.
    void SetRequests(const PlayRequestMap& requests, bool useClock);
    void AddRequest(const PlayRequest& request);
    // Empties the map and asks a running loop to end at its next check.
    void ClearRequests();
    PlayRequest CurrentRequest() { return m_requests.Current(); }
    bool QueueEmpty() { return m_requests.Empty(); }

    void SetSeekTarget(uint32_t second);
    // A frame step of the paused window; the window set hears where it
    // landed (OnStepped). ClearSteps forgets one not yet taken.
    void RequestStep(const StepOrder& order);
    void ClearSteps();
    // The recorder time (ms since 1970) of the picture on screen; -1 before one.
    int64_t PictureAt() const { return m_pictureAt; }
    // The stream a channel recorded in both plays in: at the next play, and
    // in a play going on at the other stream's next key frame.
    void SetSubStreamWanted(bool sub) { m_wantSub = sub; }
    bool HasDecoder() const { return m_width.load() > 0 && m_height.load() > 0; }
    // Writes the picture last shown; 0 or the media engine's failure.
    // `zoomed`: the part a zoom shows, enlarged to the picture's size.
    int SavePicture(const std::string& path, int format, bool zoomed = false);

    // Zoom of the picture, drawn from the picture the window has: 1 to 8
    // times around picture point (cx, cy); factor 1 ends it. What the mouse
    // wheel, a drag and a double click with Ctrl do, and the control's zoom.
    struct ZoomState {
        double factor = 1, cx = 0, cy = 0;
    };
    bool ZoomTo(double factor, double cx, double cy);
    ZoomState Zoom() const;

    WindowStreamInfo Info() const;
    uint64_t Decoded() const { return m_decoded; }
    uint64_t Shown() const { return m_shown; }
    uint64_t SkippedCount() const { return m_skipped; }
    // What the media engine did with the pictures of the current file
    // (drawn, passed over, drawn on time), as last read by the play thread.
    RKPLAYER_SHOW_STAT ShowStat() const;
    // The last failure to open or read, for the user; empty when none.
    std::string LastError() const;
    // The decoding path of the current file ("none" before one is open).
    DecodePathInfo DecodePath() const;
    // The window's menu at `globalPos`: the information strip and the decoding path.
    void ShowMenu(const QPoint& globalPos);

    void SetAudioOn(bool on) { m_audioOn = on; }
    void SetInfoStrip(bool on) { m_infoStrip = on; }
    bool InfoStrip() const { return m_infoStrip; }

protected:
    void Step(void* arg) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void FallingBehind() override;
    void ShowDecoded(bool show) override;
    bool KeepPicture(int64_t at) override;
    bool ShowKeptPicture(int64_t at) override;
    void DropKeptPictures() override;
    void PictureShownAt(int64_t at) override { m_pictureAt = at; }
    // One request through the reader its kind and file choose.
    void Play(const PlayRequest& request);
    std::unique_ptr<CFrameSource> OpenInWantedStream(ESourceKind kind, const std::filesystem::path& path, int channel);
    // Cut progress is counted by the export job, not here.
    void Finished();

    // IPlayVideoSink: the media engine's player of this window.
    bool Open(const SourceStream& stream) override;
    int Decode(const SourceFrame& frame) override;
    void ShowLastFrame() override;
    void SetOsdText(const std::string& gbkText) override;
    void Flush() override;
    void Skipped() override { ++m_skipped; }
    // IPlayAudioSink
    void PlayAudio(const SourceFrame& frame, int volume, bool equalizerOn, const RKPLAYER_EQ_PRESET& eq) override;

    void InitAudio(const SourceStream& stream);
    // Hands the engine the settings in force when they changed since the
    // last frame (picture scale, low-pass, noise suppression).
    void ApplySettings();
    void PostToolTexts();
    void SetError(std::string text);
    // On the play thread, which owns the engine's player.
    void TakeShowStat();

    const int m_index;
    CPlayWndDlg* m_dialog;
    WindowStateCell m_state{EWindowState::kIdle};
    CPlayRequests m_requests;
    std::atomic<uint32_t> m_seekTarget{0};
    std::atomic<bool> m_wantSub{false};
    CPlayLoop* m_loop = nullptr;  // the running loop, under m_loopLock
    std::mutex m_loopLock;

    // Read by the play thread; the native window id is taken once on the
    // interface thread.
    uintptr_t m_nativeWindow = 0;
    RKPLAYER_HANDLE m_player = nullptr;  // made and freed on the play thread, under m_playerLock
    mutable std::mutex m_playerLock;
    CReadUnlessBusy<DecodePathInfo> m_decodePath;  // the state's readers never wait for a decoder to open
    CReadUnlessBusy<ZoomState> m_zoomRead;
    std::atomic<int> m_width{0}, m_height{0};
    bool m_h265 = false;
    int m_audioKey = -1;  // type * 100000 + rate of the sound prepared
    uint64_t m_settingsSeen = 0;  // the settings generation last handed to the engine
    std::vector<uint8_t> m_pcm;

    mutable std::mutex m_infoLock;
    WindowStreamInfo m_info;
    std::string m_error;
    // The engine counts per player and a player outlives a file of the same
    // size: the counts of this file are the player's minus m_showBase, plus
    // m_showCarry for a player replaced within the file.
    RKPLAYER_SHOW_STAT m_showStat{}, m_showBase{}, m_showCarry{};

    bool m_ttxUser = false;  // told the grec reader it is used here
    std::atomic<bool> m_audioOn{true};
    // The picture must be drawn again: the window was resized, or the
    // toolkit painted over it (an expose).
    std::atomic<bool> m_resized{false};
    // When the play thread last drew (ms): a waiting window draws its
    // picture again only when it must, or once a second.
    std::atomic<int64_t> m_lastDrawnMs{0};
    std::atomic<bool> m_infoStrip{true};
    std::atomic<uint64_t> m_decoded{0}, m_shown{0}, m_skipped{0};
    std::atomic<int64_t> m_pictureAt{-1};
    QPoint m_dragFrom;  // where a drag over a zoomed picture last was
    int m_wheelRest = 0;  // wheel angle short of a notch
};

}  // namespace velmor
