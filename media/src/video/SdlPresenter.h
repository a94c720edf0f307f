// Drawing decoded pictures into the player's window with SDL: the window
// bound by its native id, a renderer, one streaming texture per picture size
// and format, the on-screen text lines, and the scale modes.
#pragma once

#include <SDL2/SDL.h>

#include <cstdint>
#include <string>
#include <vector>

struct SwsContext;

namespace rkmedia {

struct Rect {
    int x, y, w, h;
    bool operator==(const Rect&) const = default;
};

// Where a picture of w x h goes in a window of W x H: the whole window, or
// with scale mode 1 the largest centred rectangle of the picture's shape.
Rect DestinationRect(int windowW, int windowH, int pictureW, int pictureH, int scaleMode);

// One line of on-screen text in picture coordinates: its black box.
struct OsdLine {
    std::string text;  // UTF-8
    Rect box;
};
// Splits the text at every ',' and places at most five lines: left edge
// w * 30 / 704 (+8 when w <= 704), first top 90, the next 10 below the
// previous box, each box as wide and high as its measured text but not past
// the picture's right and bottom edges. `measure` gives a line's size.
template <typename Measure>
std::vector<OsdLine> LayoutOsd(const std::string& utf8, int pictureW, int pictureH, Measure measure);

enum class PictureLayout { kPlanar420, kNV12 };

class CSdlPresenter {
public:
    CSdlPresenter() = default;
    ~CSdlPresenter();
    CSdlPresenter(const CSdlPresenter&) = delete;
    CSdlPresenter& operator=(const CSdlPresenter&) = delete;

    // Binds the native window; false when SDL cannot draw into it.
    bool Bind(void* nativeWindow);
    void Release();
    bool IsBound() const { return m_renderer != nullptr; }

    // Draws a picture buffer (planar 4:2:0 or NV12, no padding) of w x h
    // with the on-screen text; 0, or -1 when SDL fails.
    int Present(const uint8_t* picture, PictureLayout layout, int w, int h, int scaleMode, const std::string& osdUtf8);

    // True when pictures are converted and scaled here rather than by the
    // renderer (a renderer without graphics hardware behind it).
    bool ScalesInSoftware() const { return m_softwareScaling; }

private:
    bool EnsureTexture(PictureLayout layout, int w, int h);
    int PresentScaled(const uint8_t* picture, PictureLayout layout, int w, int h, const Rect& d, int windowW,
                      int windowH);
    void DrawOsd(const std::string& osdUtf8, int w, int h, const Rect& dst);

    SDL_Window* m_window = nullptr;
    SDL_Renderer* m_renderer = nullptr;
    SDL_Texture* m_texture = nullptr;
    PictureLayout m_textureLayout = PictureLayout::kPlanar420;
    int m_textureW = 0, m_textureH = 0;
    bool m_wasShown = false;
    bool m_softwareScaling = false;
    SDL_Texture* m_rgbTexture = nullptr;  // window-sized, for software scaling
    int m_rgbW = 0, m_rgbH = 0;
    ::SwsContext* m_sws = nullptr;
};

template <typename Measure>
std::vector<OsdLine> LayoutOsd(const std::string& utf8, int pictureW, int pictureH, Measure measure)
{
    std::vector<OsdLine> lines;
    const int x = pictureW * 30 / 704 + (pictureW <= 704 ? 8 : 0);
    int y = 90;
    size_t start = 0;
    while (lines.size() < 5 && start <= utf8.size()) {
        size_t comma = utf8.find(',', start);
        if (comma == std::string::npos) comma = utf8.size();
        std::string text = utf8.substr(start, comma - start);
        int tw = 0, th = 0;
        measure(text, tw, th);
        const int right = std::min(x + tw, pictureW);
        const int bottom = std::min(y + th, pictureH);
        lines.push_back({std::move(text), Rect{x, y, std::max(0, right - x), std::max(0, bottom - y)}});
        y = bottom + 10;
        if (comma == utf8.size()) break;
        start = comma + 1;
    }
    return lines;
}

}  // namespace rkmedia
