#include "media/src/video/OsdText.h"

#include <SDL2/SDL_ttf.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <cstdint>
#include <memory>

namespace rkmedia {
namespace {

std::mutex g_fontLock;
TTF_Font* g_font = nullptr;
bool g_fontTried = false;

// Called with the lock held.
TTF_Font* OpenFont()
{
    if (g_fontTried) return g_font;
    g_fontTried = true;
    if (TTF_WasInit() == 0 && TTF_Init() != 0) return nullptr;
    // Covers Latin and Chinese texts of the recorder alike.
    for (const char* path : {"/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
                             "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"}) {
        g_font = TTF_OpenFont(path, 16);
        if (g_font) break;
    }
    return g_font;
}

struct SurfaceFree {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};

}  // namespace

COsdFont::COsdFont() : m_guard(g_fontLock), m_font(OpenFont()) {}

void COsdFont::Measure(const std::string& text, int& w, int& h) const
{
    w = 0;
    h = 0;
    if (!m_font) return;
    if (text.empty() || TTF_SizeUTF8(m_font, text.c_str(), &w, &h) != 0) {
        w = 0;
        h = TTF_FontHeight(m_font);
    }
}

std::vector<OsdLine> COsdFont::Layout(const std::string& utf8, int pictureW, int pictureH) const
{
    return LayoutOsd(utf8, pictureW, pictureH,
                     [this](const std::string& text, int& tw, int& th) { Measure(text, tw, th); });
}

bool BurnOsd(AVFrame* picture, const std::string& utf8, std::string* why)
{
    auto fail = [why](const char* text) {
        if (why) *why = text;
        return false;
    };
    if (!picture || (picture->format != AV_PIX_FMT_YUV420P && picture->format != AV_PIX_FMT_YUVJ420P))
        return fail("the picture is not planar 4:2:0");
    if (utf8.empty()) return true;
    const COsdFont font;
    if (!font.Get()) return fail("no font for the on-screen text");
    const int w = picture->width, h = picture->height;
    // Black and white of the picture's own range, so that the boxes look the
    // same in either.
    const bool full = picture->format == AV_PIX_FMT_YUVJ420P || picture->color_range == AVCOL_RANGE_JPEG;
    const int black = full ? 0 : 16, white = full ? 255 : 235;
    for (const OsdLine& line : font.Layout(utf8, w, h)) {
        const Rect& b = line.box;
        if (b.w <= 0 || b.h <= 0) continue;
        for (int y = b.y; y < b.y + b.h; ++y)
            std::fill_n(picture->data[0] + ptrdiff_t(y) * picture->linesize[0] + b.x, b.w, uint8_t(black));
        // Chroma covers two by two pixels: every one the box touches goes grey.
        for (int y = b.y / 2; y < (b.y + b.h + 1) / 2; ++y)
            for (int plane : {1, 2})
                std::fill_n(picture->data[plane] + ptrdiff_t(y) * picture->linesize[plane] + b.x / 2,
                            (b.x + b.w + 1) / 2 - b.x / 2, uint8_t(128));
        if (line.text.empty()) continue;
        std::unique_ptr<SDL_Surface, SurfaceFree> surface(
            TTF_RenderUTF8_Blended(font.Get(), line.text.c_str(), SDL_Color{255, 255, 255, 255}));
        if (!surface) return fail("the on-screen text cannot be drawn");
        if (SDL_MUSTLOCK(surface.get()) && SDL_LockSurface(surface.get()) != 0)
            return fail("the on-screen text cannot be drawn");
        // Blended text is 32-bit ARGB: the glyphs are its alpha over the
        // black box, and only the part inside the box is drawn.
        const SDL_PixelFormat* f = surface->format;
        const int rows = std::min(surface->h, b.h), cols = std::min(surface->w, b.w);
        for (int y = 0; y < rows; ++y) {
            const auto* src = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(surface->pixels) +
                                                                 ptrdiff_t(y) * surface->pitch);
            uint8_t* dst = picture->data[0] + ptrdiff_t(b.y + y) * picture->linesize[0] + b.x;
            for (int x = 0; x < cols; ++x) {
                const uint32_t a = (src[x] & f->Amask) >> f->Ashift;
                dst[x] = uint8_t(black + (white - black) * int(a) / 255);
            }
        }
        if (SDL_MUSTLOCK(surface.get())) SDL_UnlockSurface(surface.get());
    }
    return true;
}

}  // namespace rkmedia
