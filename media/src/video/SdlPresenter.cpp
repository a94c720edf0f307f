#include "media/src/video/SdlPresenter.h"

#include <SDL2/SDL_syswm.h>
#include <SDL2/SDL_ttf.h>
#include <X11/Xlib.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdint>
#include <mutex>

#include "media/src/MediaGlobals.h"

namespace rkmedia {

Rect DestinationRect(int windowW, int windowH, int pictureW, int pictureH, int scaleMode)
{
    Rect r{0, 0, windowW, windowH};
    if (scaleMode != 1 || pictureW <= 0 || pictureH <= 0) return r;
    const int scaledW = int(int64_t(pictureW) * windowH / pictureH);
    if (windowW < scaledW) {
        r.h = int(int64_t(windowW) * pictureH / pictureW);
        r.y = (windowH - r.h) / 2;
    } else {
        r.w = scaledW;
        r.x = (windowW - scaledW) / 2;
    }
    return r;
}

namespace {

// Whether a GL renderer draws without graphics hardware (a virtual display,
// a machine without a driver): it then converts and scales pictures on the
// CPU more slowly than libswscale does.
bool IsSoftwareGl(SDL_Renderer* renderer)
{
    SDL_RendererInfo info{};
    if (SDL_GetRendererInfo(renderer, &info) != 0) return false;
    if (info.flags & SDL_RENDERER_SOFTWARE) return true;
    const std::string name = info.name ? info.name : "";
    if (name.rfind("opengl", 0) != 0) return false;
    using GetString = const unsigned char* (*)(unsigned);
    auto glGetString = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
    const unsigned char* text = glGetString ? glGetString(0x1F01 /* GL_RENDERER */) : nullptr;
    const std::string gl = text ? reinterpret_cast<const char*>(text) : "";
    return gl.find("llvmpipe") != std::string::npos || gl.find("softpipe") != std::string::npos ||
           gl.find("swrast") != std::string::npos || gl.find("Software") != std::string::npos;
}

}  // namespace

namespace {

// SDL keeps one list of windows for the process: windows are made and
// destroyed one at a time. Held only around those calls, never while waiting.
std::mutex& WindowListLock()
{
    static std::mutex lock;
    return lock;
}

}  // namespace

CSdlPresenter::~CSdlPresenter() { Release(); }

bool CSdlPresenter::Bind(void* nativeWindow)
{
    Release();
    if (!nativeWindow || !EnsureSdlVideo()) return false;
    {
        std::lock_guard guard(m_lock);
        m_stop = false;
        m_bindState = 0;
        m_pending.reset();
        m_failed.store(false);
        m_stat = PresentStat{};
    }
    m_thread = std::thread([this, nativeWindow] { Run(nativeWindow); });
    std::unique_lock lock(m_lock);
    m_done.wait(lock, [&] { return m_bindState != 0; });
    if (m_bindState == 1) return true;
    lock.unlock();
    Release();
    return false;
}

void CSdlPresenter::Release()
{
    if (!m_thread.joinable()) return;
    {
        std::lock_guard guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    m_done.notify_all();
    if (m_remapDisplay) {
        // Done before returning, so that the window's owner may destroy it
        // right after; an owner that already did is not an error.
        auto* display = static_cast<Display*>(m_remapDisplay);
        std::lock_guard guard(ProcessLock());
        auto* previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        XMapWindow(display, Window(m_remapWindow));
        XSync(display, False);
        XSetErrorHandler(previous);
    }
    m_remapDisplay = nullptr;
    m_remapWindow = 0;
}

void CSdlPresenter::Put(Job job)
{
    {
        std::lock_guard guard(m_lock);
        ++m_stat.handed;
        if (m_pending) {
            ++m_stat.passedOver;
            // A newer picture answers whoever waited for the one it replaces.
            job.ticket = std::max(job.ticket, m_pending->ticket);
        }
        m_pending = std::move(job);
    }
    m_wake.notify_one();
}

void CSdlPresenter::Submit(const AVFrame* picture, int scaleMode, std::string osdUtf8, Clock::time_point arrived,
                           Clock::duration period)
{
    if (!m_thread.joinable() || !picture) return;
    ff::FramePtr ref(av_frame_alloc());
    if (!ref || av_frame_ref(ref.get(), picture) < 0) return;
    Put(Job{std::move(ref), scaleMode, std::move(osdUtf8), arrived, period, 0});
}

int CSdlPresenter::ShowAndWait(const AVFrame* picture, int scaleMode, std::string osdUtf8)
{
    if (!m_thread.joinable() || !picture) return -1;
    ff::FramePtr ref(av_frame_alloc());
    if (!ref || av_frame_ref(ref.get(), picture) < 0) return -1;
    uint64_t ticket;
    {
        std::lock_guard guard(m_lock);
        ticket = ++m_ticketsAsked;
    }
    Put(Job{std::move(ref), scaleMode, std::move(osdUtf8), Clock::now(), Clock::duration::max(), ticket});
    std::unique_lock lock(m_lock);
    m_done.wait(lock, [&] { return m_ticketsDone >= ticket || m_stop; });
    return m_ticketsDone >= ticket ? m_ticketResult : -1;
}

PresentStat CSdlPresenter::Stat() const
{
    std::lock_guard guard(m_lock);
    return m_stat;
}

void CSdlPresenter::Run(void* nativeWindow)
{
    const bool bound = BindOnThread(nativeWindow);
    std::unique_lock lock(m_lock);
    m_bindState = bound ? 1 : -1;
    m_done.notify_all();
    Clock::time_point lastDrawn{};  // when the last drawing began
    while (bound) {
        m_wake.wait(lock, [&] { return m_stop || m_pending.has_value(); });
        // A picture still waiting at the stop is drawn first: the last
        // picture of a recording stays on screen.
        if (!m_pending) break;
        if (m_pending->ticket == 0 && !m_stop) {
            // Once per refresh; a picture awaited by a caller goes at once.
            m_wake.wait_until(lock, lastDrawn + m_refresh,
                              [&] { return m_stop || (m_pending && m_pending->ticket != 0); });
        }
        Job job = std::move(*m_pending);
        m_pending.reset();
        lock.unlock();
        // A refresh apart from the last drawing's start, as the screen's
        // own refresh would space them, however long drawing took.
        lastDrawn = Clock::now();
        const int rc = m_failed.load() ? -1 : Present(job.picture.get(), job.scaleMode, job.osd, job.ticket != 0);
        job.picture.reset();
        const Clock::time_point now = Clock::now();
        lock.lock();
        if (rc == 0) {
            ++m_stat.shown;
            if (job.period != Clock::duration::max() && now - job.arrived <= job.period) ++m_stat.shownOnTime;
        } else {
            m_failed.store(true);
        }
        if (job.ticket) {
            m_ticketsDone = std::max(m_ticketsDone, job.ticket);
            m_ticketResult = rc;
            m_done.notify_all();
        }
    }
    lock.unlock();
    ReleaseOnThread();
    // SDL keeps per-thread state (its error text) that only its own threads
    // free by themselves.
    SDL_TLSCleanup();
}

bool CSdlPresenter::BindOnThread(void* nativeWindow)
{
    std::lock_guard guard(WindowListLock());
    m_window = SDL_CreateWindowFrom(nativeWindow);
    if (!m_window) m_window = SDL_CreateWindowFrom(nativeWindow);
    if (!m_window) return false;
    m_wasShown = (SDL_GetWindowFlags(m_window) & SDL_WINDOW_SHOWN) != 0;
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    SDL_ShowWindow(m_window);
    SDL_DisplayMode mode{};
    const int display = SDL_GetWindowDisplayIndex(m_window);
    if (display >= 0 && SDL_GetCurrentDisplayMode(display, &mode) == 0 && mode.refresh_rate >= 20 &&
        mode.refresh_rate <= 500)
        m_refresh = std::chrono::microseconds(1000000 / mode.refresh_rate);
    m_renderer = SDL_CreateRenderer(m_window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (!m_renderer) m_renderer = SDL_CreateRenderer(m_window, -1, 0);
    if (m_renderer && IsSoftwareGl(m_renderer)) {
        // No graphics hardware: SDL's own software renderer with pictures
        // converted and scaled by libswscale is the fastest way to the screen.
        SDL_RendererInfo info{};
        SDL_GetRendererInfo(m_renderer, &info);
        if (!(info.flags & SDL_RENDERER_SOFTWARE)) {
            SDL_DestroyRenderer(m_renderer);
            m_renderer = SDL_CreateRenderer(m_window, -1, SDL_RENDERER_SOFTWARE);
        }
        m_softwareScaling = m_renderer != nullptr && m_allowSoftwareScaling;
    }
    return m_renderer != nullptr;
}

void CSdlPresenter::ReleaseOnThread()
{
    if (m_texture) SDL_DestroyTexture(m_texture);
    if (m_rgbTexture) SDL_DestroyTexture(m_rgbTexture);
    sws_freeContext(m_sws);
    m_sws = nullptr;
    m_rgbTexture = nullptr;
    m_rgbW = m_rgbH = 0;
    m_softwareScaling = false;
    std::lock_guard guard(WindowListLock());
    if (m_renderer) SDL_DestroyRenderer(m_renderer);
    if (m_window) {
        // SDL leaves the native window alive but hides it.
        SDL_SysWMinfo wm;
        SDL_VERSION(&wm.version);
        if (SDL_GetWindowWMInfo(m_window, &wm) && wm.subsystem == SDL_SYSWM_X11 && m_wasShown) {
            m_remapDisplay = wm.info.x11.display;
            m_remapWindow = wm.info.x11.window;
        }
        SDL_DestroyWindow(m_window);
    }
    m_texture = nullptr;
    m_renderer = nullptr;
    m_window = nullptr;
    m_textureW = m_textureH = 0;
}

bool CSdlPresenter::EnsureTexture(PictureLayout layout, int w, int h)
{
    if (m_texture && layout == m_textureLayout && w == m_textureW && h == m_textureH) return true;
    if (m_texture) SDL_DestroyTexture(m_texture);
    m_texture = SDL_CreateTexture(m_renderer, layout == PictureLayout::kNV12 ? SDL_PIXELFORMAT_NV12 : SDL_PIXELFORMAT_IYUV,
                                  SDL_TEXTUREACCESS_STREAMING, w, h);
    m_textureLayout = layout;
    m_textureW = m_texture ? w : 0;
    m_textureH = m_texture ? h : 0;
    return m_texture != nullptr;
}

void CSdlPresenter::DrawOsd(const std::string& osdUtf8, int w, int h, const Rect& dst)
{
    if (osdUtf8.empty() || w <= 0 || h <= 0) return;
    const COsdFont osdFont;
    TTF_Font* font = osdFont.Get();
    if (!font) return;
    const auto lines = osdFont.Layout(osdUtf8, w, h);
    // The text is laid out on the picture and scaled with it.
    const double sx = double(dst.w) / w, sy = double(dst.h) / h;
    auto map = [&](const Rect& r) {
        SDL_Rect out;
        out.x = dst.x + int(r.x * sx);
        out.y = dst.y + int(r.y * sy);
        out.w = std::max(1, int(r.w * sx));
        out.h = std::max(1, int(r.h * sy));
        return out;
    };
    SDL_SetRenderDrawColor(m_renderer, 0, 0, 0, 255);
    for (const OsdLine& line : lines) {
        if (line.box.w <= 0 || line.box.h <= 0) continue;
        const SDL_Rect box = map(line.box);
        SDL_RenderFillRect(m_renderer, &box);
        if (line.text.empty()) continue;
        SDL_Surface* surface = TTF_RenderUTF8_Blended(font, line.text.c_str(), SDL_Color{255, 255, 255, 255});
        if (!surface) continue;
        SDL_Texture* text = SDL_CreateTextureFromSurface(m_renderer, surface);
        // Only the part inside the box: the box stops at the picture's edges.
        SDL_Rect src{0, 0, std::min(surface->w, line.box.w), std::min(surface->h, line.box.h)};
        SDL_FreeSurface(surface);
        if (!text) continue;
        SDL_Rect to = box;
        to.w = std::max(1, int(src.w * sx));
        to.h = std::max(1, int(src.h * sy));
        SDL_RenderCopy(m_renderer, text, &src, &to);
        SDL_DestroyTexture(text);
    }
}

int CSdlPresenter::PresentScaled(const AVFrame* picture, PictureLayout layout, const Rect& src, const Rect& d,
                                 int windowW, int windowH)
{
    if (d.w <= 0 || d.h <= 0) return -1;
    const int w = src.w, h = src.h;
    if (!m_rgbTexture || m_rgbW != windowW || m_rgbH != windowH) {
        if (m_rgbTexture) SDL_DestroyTexture(m_rgbTexture);
        // Without an alpha channel, so that drawing it is a copy, not a blend.
        m_rgbTexture = SDL_CreateTexture(m_renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, windowW,
                                         windowH);
        m_rgbW = m_rgbTexture ? windowW : 0;
        m_rgbH = m_rgbTexture ? windowH : 0;
        if (!m_rgbTexture) return -1;
    }
    const AVPixelFormat from = layout == PictureLayout::kNV12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
    SwsContext* before = m_sws;
    // Area averaging: a picture scaled down (a tile of a 4 x 4 layout) keeps
    // its detail without aliasing, at less cost than a bilinear filter;
    // scaled up it is bilinear.
    m_sws = sws_getCachedContext(m_sws, w, h, from, d.w, d.h, AV_PIX_FMT_BGR0, SWS_AREA, nullptr, nullptr, nullptr);
    if (!m_sws) return -1;
    if (m_sws != before) {
        // The same colours as SDL's own conversion would give the picture.
        const bool hd = SDL_GetYUVConversionModeForResolution(picture->width, picture->height) ==
                        SDL_YUV_CONVERSION_BT709;
        const int* coefficients = sws_getCoefficients(hd ? SWS_CS_ITU709 : SWS_CS_ITU601);
        sws_setColorspaceDetails(m_sws, coefficients, 0, coefficients, 1, 0, 1 << 16, 1 << 16);
    }
    void* pixels = nullptr;
    int pitch = 0;
    const SDL_Rect area{d.x, d.y, d.w, d.h};
    if (SDL_LockTexture(m_rgbTexture, &area, &pixels, &pitch) != 0) return -1;
    uint8_t* dst[4] = {static_cast<uint8_t*>(pixels), nullptr, nullptr, nullptr};
    int dstLines[4] = {pitch, 0, 0, 0};
    const uint8_t* planes[4];
    int planeLines[4];
    CropPlanes(picture, src, planes, planeLines);
    sws_scale(m_sws, planes, planeLines, 0, h, dst, dstLines);
    SDL_UnlockTexture(m_rgbTexture);
    SDL_SetRenderDrawColor(m_renderer, 0, 0, 0, 255);
    if (SDL_RenderClear(m_renderer) != 0) return -1;
    return SDL_RenderCopy(m_renderer, m_rgbTexture, &area, &area);
}

void CSdlPresenter::FollowWindowSize(bool always)
{
    // SDL learns of a new size of a window it did not make only from events
    // nobody pumps here; the window's owner resizes it when the layout of
    // the play windows changes, so the size is read from the window itself:
    // on every picture shown on request (the owner shows the last picture
    // after a resize) and twice a second while playing, as asking the
    // display server costs a round trip that all windows share.
    const Clock::time_point now = Clock::now();
    if (!always && now - m_sizeChecked < std::chrono::milliseconds(500)) return;
    m_sizeChecked = now;
    SDL_SysWMinfo wm;
    SDL_VERSION(&wm.version);
    if (!SDL_GetWindowWMInfo(m_window, &wm) || wm.subsystem != SDL_SYSWM_X11) return;
    ::Window root = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    if (!XGetGeometry(wm.info.x11.display, wm.info.x11.window, &root, &x, &y, &w, &h, &border, &depth)) return;
    int W = 0, H = 0;
    SDL_GetWindowSize(m_window, &W, &H);
    if (int(w) == W && int(h) == H) return;
    // SDL moves a window it resizes back to where it saw it last: tell it
    // where the owner has put it since, or the picture would jump there.
    int X = 0, Y = 0;
    SDL_GetWindowPosition(m_window, &X, &Y);
    if (X != x || Y != y) SDL_SetWindowPosition(m_window, x, y);
    SDL_SetWindowSize(m_window, int(w), int(h));
}

Rect SourceWithin(const Rect& source, int w, int h)
{
    if (source.w <= 0 || source.h <= 0) return {0, 0, w, h};
    Rect r{source.x & ~1, source.y & ~1, source.w & ~1, source.h & ~1};
    if (r.x < 0 || r.y < 0 || r.w < 2 || r.h < 2 || r.x + r.w > w || r.y + r.h > h) return {0, 0, w, h};
    return r;
}

void CropPlanes(const AVFrame* picture, const Rect& src, const uint8_t* data[4], int lines[4])
{
    const bool nv12 = LayoutOf(picture) == PictureLayout::kNV12;
    for (int i = 0; i < 4; ++i) {
        data[i] = nullptr;
        lines[i] = 0;
    }
    data[0] = picture->data[0] + ptrdiff_t(src.y) * picture->linesize[0] + src.x;
    lines[0] = picture->linesize[0];
    const int planes = nv12 ? 2 : 3;
    for (int i = 1; i < planes; ++i) {
        data[i] = picture->data[i] + ptrdiff_t(src.y / 2) * picture->linesize[i] + (nv12 ? src.x : src.x / 2);
        lines[i] = picture->linesize[i];
    }
}

void CSdlPresenter::SetSource(const Rect& source)
{
    std::lock_guard lock(m_lock);
    m_source = source;
}

int CSdlPresenter::Present(const AVFrame* picture, int scaleMode, const std::string& osdUtf8, bool onRequest)
{
    const int w = picture->width, h = picture->height;
    if (!m_window || !m_renderer || w <= 0 || h <= 0) return -1;
    const PictureLayout layout = LayoutOf(picture);
    Rect source;
    {
        std::lock_guard lock(m_lock);
        source = SourceWithin(m_source, w, h);
    }
    try {
        int W = 0, H = 0;
        FollowWindowSize(onRequest);
        SDL_GetWindowSize(m_window, &W, &H);
        const Rect d = DestinationRect(W, H, w, h, scaleMode);
        if (m_softwareScaling) {
            if (PresentScaled(picture, layout, source, d, W, H) != 0) return -1;
            DrawOsd(osdUtf8, w, h, d);
            SDL_RenderPresent(m_renderer);
            return 0;
        }
        if (!EnsureTexture(layout, w, h)) return -1;
        const SDL_Rect dst{d.x, d.y, d.w, d.h};
        int rc;
        if (layout == PictureLayout::kNV12)
            rc = SDL_UpdateNVTexture(m_texture, nullptr, picture->data[0], picture->linesize[0], picture->data[1],
                                     picture->linesize[1]);
        else
            rc = SDL_UpdateYUVTexture(m_texture, nullptr, picture->data[0], picture->linesize[0], picture->data[1],
                                      picture->linesize[1], picture->data[2], picture->linesize[2]);
        if (rc != 0) return -1;
        SDL_SetRenderDrawColor(m_renderer, 0, 0, 0, 255);
        if (SDL_RenderClear(m_renderer) != 0) return -1;
        const SDL_Rect part{source.x, source.y, source.w, source.h};
        if (SDL_RenderCopy(m_renderer, m_texture, &part, &dst) != 0) return -1;
        DrawOsd(osdUtf8, w, h, d);
        SDL_RenderPresent(m_renderer);
        return 0;
    } catch (...) {
        return -1;
    }
}

}  // namespace rkmedia
