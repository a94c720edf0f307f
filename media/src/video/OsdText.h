// On-screen text: where its lines go on a picture, and the one font that
// draws them. The play windows draw it over the picture they show; exports
// burn the same lines into the pictures they encode, so that a clip with its
// text looks as the window did.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

struct AVFrame;
typedef struct _TTF_Font TTF_Font;

namespace rkmedia {

struct Rect {
    int x, y, w, h;
    bool operator==(const Rect&) const = default;
};

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

// The process's one on-screen font, held while this lives: TTF is not
// thread-safe, and every window and every export draws with it.
class COsdFont {
public:
    COsdFont();
    COsdFont(const COsdFont&) = delete;
    COsdFont& operator=(const COsdFont&) = delete;

    // Null when no font could be opened (none installed, TTF unusable).
    TTF_Font* Get() const { return m_font; }
    // A line's size as drawn; an empty or unmeasurable line is 0 wide and a
    // line high.
    void Measure(const std::string& text, int& w, int& h) const;
    std::vector<OsdLine> Layout(const std::string& utf8, int pictureW, int pictureH) const;

private:
    std::lock_guard<std::mutex> m_guard;
    TTF_Font* m_font = nullptr;
};

// Draws the text's lines into a planar 4:2:0 picture (8 bits, either range)
// as the windows show them: white text on black boxes. The picture must be
// writable. Empty text draws nothing. false, with `why`, when the picture is
// of another layout or no font can draw.
bool BurnOsd(AVFrame* picture, const std::string& utf8, std::string* why);

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
