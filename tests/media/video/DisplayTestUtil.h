// A real X window to bind a player to, and what the screen shows in it.
#pragma once

// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace velmor::fixtures {

struct Rgb {
    int w = 0, h = 0;
    std::vector<uint8_t> px;  // r, g, b per pixel
    const uint8_t* At(int x, int y) const { return px.data() + (size_t(y) * w + x) * 3; }
};

// One connection for the whole test program, as a real program has: window
// ids of a closed connection are handed out again to the next one, which
// is not what a player ever sees.
inline Display* TestDisplay()
{
    static Display* display = XOpenDisplay(nullptr);
    return display;
}

class CXWindow {
public:
    CXWindow(int w, int h) : m_w(w), m_h(h)
    {
        m_display = TestDisplay();
        if (!m_display) throw std::runtime_error("no X display (run under xvfb-run)");
        const int screen = DefaultScreen(m_display);
        m_window = XCreateSimpleWindow(m_display, RootWindow(m_display, screen), 10, 10, unsigned(w), unsigned(h), 0,
                                       BlackPixel(m_display, screen), BlackPixel(m_display, screen));
        XSelectInput(m_display, m_window, StructureNotifyMask);
        XMapWindow(m_display, m_window);
        for (XEvent e;;) {
            XNextEvent(m_display, &e);
            if (e.type == MapNotify) break;
        }
        XSync(m_display, False);
    }
    ~CXWindow()
    {
        XDestroyWindow(m_display, m_window);
        XSync(m_display, False);
    }
    CXWindow(const CXWindow&) = delete;
    CXWindow& operator=(const CXWindow&) = delete;

    void* Handle() const { return reinterpret_cast<void*>(static_cast<uintptr_t>(m_window)); }
    void Resize(int w, int h)
    {
        m_w = w;
        m_h = h;
        XResizeWindow(m_display, m_window, unsigned(w), unsigned(h));
        XSync(m_display, False);
    }
    bool Mapped()
    {
        XWindowAttributes a{};
        XGetWindowAttributes(m_display, m_window, &a);
        return a.map_state == IsViewable;
    }

    // What the screen shows in the window now.
    Rgb Grab()
    {
        XSync(m_display, False);
        XImage* img = XGetImage(m_display, m_window, 0, 0, unsigned(m_w), unsigned(m_h), AllPlanes, ZPixmap);
        Rgb out;
        if (!img) return out;
        out.w = m_w;
        out.h = m_h;
        out.px.resize(size_t(m_w) * m_h * 3);
        for (int y = 0; y < m_h; ++y)
            for (int x = 0; x < m_w; ++x) {
                const unsigned long p = XGetPixel(img, x, y);
                uint8_t* d = out.px.data() + (size_t(y) * m_w + x) * 3;
                d[0] = uint8_t((p & img->red_mask) >> 16);
                d[1] = uint8_t((p & img->green_mask) >> 8);
                d[2] = uint8_t(p & img->blue_mask);
            }
        XDestroyImage(img);
        return out;
    }

private:
    Display* m_display = nullptr;
    Window m_window = 0;
    int m_w, m_h;
};

// RGB of an I420 picture by BT.601 or BT.709 limited-range matrices.
inline Rgb ToRgb(const std::vector<uint8_t>& yuv, int w, int h, bool bt709)
{
    Rgb out;
    out.w = w;
    out.h = h;
    out.px.resize(size_t(w) * h * 3);
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    const uint8_t* Y = yuv.data();
    const uint8_t* U = Y + size_t(w) * h;
    const uint8_t* V = U + size_t(cw) * ch;
    auto clamp = [](double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v + 0.5); };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double l = 1.164 * (Y[size_t(y) * w + x] - 16);
            const double u = U[size_t(y / 2) * cw + x / 2] - 128, v = V[size_t(y / 2) * cw + x / 2] - 128;
            uint8_t* d = out.px.data() + (size_t(y) * w + x) * 3;
            if (bt709) {
                d[0] = clamp(l + 1.793 * v);
                d[1] = clamp(l - 0.213 * u - 0.533 * v);
                d[2] = clamp(l + 2.112 * u);
            } else {
                d[0] = clamp(l + 1.596 * v);
                d[1] = clamp(l - 0.392 * u - 0.813 * v);
                d[2] = clamp(l + 2.017 * u);
            }
        }
    return out;
}

// Mean absolute difference per channel over a region.
inline double MeanDiff(const Rgb& a, const Rgb& b, int x0, int y0, int w, int h, int bx = 0, int by = 0)
{
    double sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) sum += std::abs(int(a.At(x0 + x, y0 + y)[c]) - int(b.At(bx + x, by + y)[c]));
    return sum / (double(w) * h * 3);
}

}  // namespace velmor::fixtures
