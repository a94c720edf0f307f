// Decode-and-show of the media engine against FFmpeg's own decoder, and 16
// players at once, as the play window set runs them. Needs a display (the
// benchmark script provides a virtual one).
#include <X11/Xlib.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "bench/Bench.h"
#include "media/include/rkmedia.h"
#include "tests/support/VideoCodec.h"

namespace velmor::bench {
namespace {

using namespace fixtures;

struct Stream {
    EncodedVideo video;
    std::filesystem::path file;  // the same units as an elementary stream file
};

Stream MakeStream(int w, int h, int frames)
{
    Stream s;
    VideoSpec recipe;
    recipe.width = w;
    recipe.height = h;
    recipe.frames = frames;
    recipe.gop = 50;
    recipe.lossless = false;
    recipe.crf = 23;
    recipe.label = "CH1";
    recipe.clockStart = 1796119200;
    s.video = EncodeVideo(recipe);
    s.file = DataDir() / ("stream-" + std::to_string(w) + "x" + std::to_string(h) + ".h264");
    std::ofstream out(s.file, std::ios::binary);
    for (const auto& au : s.video.units) out.write(reinterpret_cast<const char*>(au.data.data()), long(au.data.size()));
    return s;
}

class CWindows {
public:
    CWindows() : m_display(XOpenDisplay(nullptr)) {}
    ~CWindows()
    {
        if (m_display) XCloseDisplay(m_display);
    }
    bool Ok() const { return m_display != nullptr; }
    void* Make(int x, int y, int w, int h)
    {
        const int screen = DefaultScreen(m_display);
        Window win = XCreateSimpleWindow(m_display, RootWindow(m_display, screen), x, y, unsigned(w), unsigned(h), 0,
                                         0, 0);
        XMapWindow(m_display, win);
        XSync(m_display, False);
        return reinterpret_cast<void*>(static_cast<uintptr_t>(win));
    }

private:
    Display* m_display;
};

// Seconds for one player to decode and show every unit into a window.
double DecodeAndShow(const Stream& s, void* window, int w, int h)
{
    RKPLAYER_HANDLE slot = nullptr;
    RKPLAYER_InitVideoDecoder(&slot, w, h, 0, 25, 1);
    if (RKPLAYER_SetShowWnd(&slot, window, 0) != 0) return -1;
    const double t = BestSeconds(1, [&] {
        for (const auto& au : s.video.units)
            RKPLAYER_DecodeFrame(&slot, au.data.data(), int(au.data.size()), au.key ? 3 : 0, nullptr, nullptr, nullptr,
                                 nullptr);
    });
    RKPLAYER_Uninitgpu(&slot);
    return t;
}

}  // namespace

int RunVideoBench()
{
    CWindows windows;
    if (!windows.Ok()) {
        std::fprintf(stderr, "velmor-bench: no display, video benchmarks skipped\n");
        return 0;
    }
    for (auto [w, h] : {std::pair{1280, 720}, std::pair{1920, 1080}}) {
        const Stream s = MakeStream(w, h, 250);
        // The window of one tile of a 2 x 2 layout on a 1080p screen.
        void* window = windows.Make(0, 0, 960, 540);
        double ours = 1e9, peer = 1e9;
        for (int round = 0; round < 3; ++round) {
            const double p = TimeProgram({"ffmpeg", "-v", "error", "-threads", "1", "-i", s.file.string(), "-f", "null", "-"});
            if (p > 0) peer = std::min(peer, p);
            const double o = DecodeAndShow(s, window, w, h);
            if (o > 0) ours = std::min(ours, o);
        }
        const double frames = double(s.video.units.size());
        Report("decode and show " + std::to_string(h) + "p, one player", "rkmedia", frames / ours, "ffmpeg",
               frames / peer, "fps", 0.85);
    }

    // Sixteen players at 25 frames per second, each on its own thread, in a
    // 4 x 4 layout; a frame is on time when it is shown within its frame
    // period.
    const Stream s = MakeStream(1280, 720, 125);
    std::vector<void*> tiles;
    for (int i = 0; i < 16; ++i) tiles.push_back(windows.Make((i % 4) * 320, (i / 4) * 180, 320, 180));
    std::atomic<int> onTime{0}, total{0};
    std::vector<std::thread> threads;
    const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    for (int i = 0; i < 16; ++i)
        threads.emplace_back([&, i] {
            RKPLAYER_HANDLE slot = nullptr;
            RKPLAYER_InitVideoDecoder(&slot, 1280, 720, 0, 25, 1);
            RKPLAYER_SetShowWnd(&slot, tiles[size_t(i)], i);
            std::this_thread::sleep_until(start);
            for (size_t f = 0; f < s.video.units.size(); ++f) {
                const auto due = start + std::chrono::milliseconds(40 * f);
                std::this_thread::sleep_until(due);
                const auto& au = s.video.units[f];
                RKPLAYER_DecodeFrame(&slot, au.data.data(), int(au.data.size()), au.key ? 3 : 0, nullptr, nullptr,
                                     nullptr, nullptr);
                ++total;
                if (std::chrono::steady_clock::now() <= due + std::chrono::milliseconds(40)) ++onTime;
            }
            RKPLAYER_Uninitgpu(&slot);
        });
    for (auto& t : threads) t.join();
    const double share = 100.0 * onTime / std::max(1, total.load());
    Print("%-44s %-14s %10.1f %% of %d frames shown on time (goal >= 95 %%) %s\n", "16 players, 720p25, 4 x 4",
          "rkmedia", share, total.load(), share >= 95 ? "ok" : "BELOW GOAL");
    return 0;
}

}  // namespace velmor::bench
