// Drawing decoded pictures into the player's window with SDL: the window
// bound by its native id, a renderer, one streaming texture per picture size
// and format, the on-screen text lines, and the scale modes.
#pragma once

#include <SDL2/SDL.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "media/src/mp4/FfmpegPtr.h"
#include "media/src/video/OsdText.h"

struct SwsContext;

namespace rkmedia {

// Where a picture of w x h goes in a window of W x H: the whole window, or
// with scale mode 1 the largest centred rectangle of the picture's shape.
Rect DestinationRect(int windowW, int windowH, int pictureW, int pictureH, int scaleMode);

enum class PictureLayout { kPlanar420, kNV12 };

// What the presentation of one window did since it was bound.
struct PresentStat {
    uint64_t handed = 0;       // pictures handed over to be shown
    uint64_t shown = 0;        // pictures shown
    uint64_t passedOver = 0;   // replaced by a newer picture before their turn came
    uint64_t shownOnTime = 0;  // shown within one frame period of their access unit coming in
};

// Shows a window's pictures from a thread of its own, so that decoding
// never waits for the screen: a window is shown at most once per display
// refresh (with vertical sync the screen would make the decoder wait for
// each refresh), and of the pictures decoded in between only the newest is
// drawn. Every SDL object of the window lives on that thread.
class CSdlPresenter {
public:
    using Clock = std::chrono::steady_clock;

    CSdlPresenter() = default;
    ~CSdlPresenter();
    CSdlPresenter(const CSdlPresenter&) = delete;
    CSdlPresenter& operator=(const CSdlPresenter&) = delete;

    // Binds the native window; false when SDL cannot draw into it. The
    // caller holds the process-wide lock.
    bool Bind(void* nativeWindow);
    // Before Bind. Where SDL draws without graphics hardware, pictures are
    // converted and scaled by libswscale unless this is turned off; then
    // they go through a texture of their own layout as on graphics hardware
    // (tests draw both ways on a machine without it).
    void AllowSoftwareScaling(bool allowed) { m_allowSoftwareScaling = allowed; }
    // Draws a picture still waiting, then stops the thread.
    void Release();
    // Bound, and no presentation has failed since.
    bool IsBound() const { return m_thread.joinable() && !m_failed.load(); }
    bool Failed() const { return m_failed.load(); }

    // Hands a picture over (a planar 4:2:0 or NV12 frame; a reference is
    // taken) with the scale mode and text to show it with. `arrived` is when
    // its access unit came in, `period` the stream's frame period.
    void Submit(const AVFrame* picture, int scaleMode, std::string osdUtf8, Clock::time_point arrived,
                Clock::duration period);
    // Shows a picture at once and waits until it is on screen: 0, or -1.
    int ShowAndWait(const AVFrame* picture, int scaleMode, std::string osdUtf8);

    PresentStat Stat() const;
    // The part of every picture shown from now on: x, y, w, h in picture
    // pixels, or w 0 for the whole picture (clipped to each picture).
    void SetSource(const Rect& source);

private:
    struct Job {
        ff::FramePtr picture;
        int scaleMode = 0;
        std::string osd;
        Clock::time_point arrived;
        Clock::duration period{};
        uint64_t ticket = 0;  // non-zero: somebody waits for it
    };

    void Run(void* nativeWindow);
    void Put(Job job);
    // On the presentation thread:
    bool BindOnThread(void* nativeWindow);
    void ReleaseOnThread();
    int Present(const AVFrame* picture, int scaleMode, const std::string& osdUtf8, bool onRequest);
    void FollowWindowSize(bool always);
    bool EnsureTexture(PictureLayout layout, int w, int h);
    int PresentScaled(const AVFrame* picture, PictureLayout layout, const Rect& src, const Rect& d, int windowW,
                      int windowH);
    void DrawOsd(const std::string& osdUtf8, int w, int h, const Rect& dst);

    std::thread m_thread;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;  // a job or the stop for the thread
    std::condition_variable m_done;  // the bind or an awaited job finished
    std::optional<Job> m_pending;
    Rect m_source{0, 0, 0, 0};  // under m_lock
    bool m_stop = false;
    int m_bindState = 0;  // 0 binding, 1 bound, -1 failed
    uint64_t m_ticketsAsked = 0, m_ticketsDone = 0;
    int m_ticketResult = 0;
    std::atomic<bool> m_failed{false};
    PresentStat m_stat;
    Clock::duration m_refresh = std::chrono::microseconds(16667);
    // A window SDL hides on release that was on screen goes back on screen.
    unsigned long m_remapWindow = 0;
    void* m_remapDisplay = nullptr;

    // Owned by the presentation thread.
    SDL_Window* m_window = nullptr;
    SDL_Renderer* m_renderer = nullptr;
    SDL_Texture* m_texture = nullptr;
    PictureLayout m_textureLayout = PictureLayout::kPlanar420;
    int m_textureW = 0, m_textureH = 0;
    bool m_wasShown = false;
    Clock::time_point m_sizeChecked;
    bool m_softwareScaling = false;
    bool m_allowSoftwareScaling = true;
    SDL_Texture* m_rgbTexture = nullptr;  // window-sized, for software scaling
    int m_rgbW = 0, m_rgbH = 0;
    ::SwsContext* m_sws = nullptr;
};

// The part of a picture to show: `source` clipped to it, the whole picture
// when `source` is empty or outside it; on even coordinates (4:2:0 chroma).
Rect SourceWithin(const Rect& source, int w, int h);

// Plane pointers of the `src` part of a planar 4:2:0 or NV12 picture (src on
// even coordinates), for a scaler to read.
void CropPlanes(const AVFrame* picture, const Rect& src, const uint8_t* data[4], int lines[4]);

// The layout of a picture frame the presenter and the snapshots take.
inline PictureLayout LayoutOf(const AVFrame* picture)
{
    return picture->format == AV_PIX_FMT_NV12 ? PictureLayout::kNV12 : PictureLayout::kPlanar420;
}

}  // namespace rkmedia
