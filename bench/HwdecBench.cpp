// velmor-hwdec-bench FILE...: plays up to 16 video files (H.264 or H.265) at
// once, each in a window of a 4 x 4 layout and on a thread of its own, as
// the play window set does: every access unit goes to RKPLAYER_DecodeFrame
// on its 40 ms schedule. Reports the share of pictures shown on time, the
// CPU the process and the whole machine used, and each window's decoding
// path (VELMOR_HWDEC chooses it). Needs a display. Stands apart from
// velmor-bench so that a machine lent for a short while builds only this and
// the media library.
#include <X11/Xlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "media/include/rkmedia.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Unit {
    std::vector<uint8_t> data;  // Annex B
    bool key = false;
};

struct Input {
    std::vector<Unit> units;
    RKPLAYER_VIDEO_PARAM param{};
};

// Every video access unit of a file, read through the media library itself.
bool Load(const char* path, Input& in)
{
    RKPLAYER_HANDLE slot = nullptr;
    int64_t duration = 0;
    bool ok = VIDEOPLAY_InitMediaFile(&slot, path, &in.param, nullptr, &duration) == 0;
    for (int isAudio = 0; ok;) {
        int64_t pts = 0;
        if (VIDEOPLAY_ReadOneFrame(&slot, &isAudio, &pts) < 0) break;
        int length = 0, key = 0;
        int64_t ms = 0;
        if (VIDEOPLAY_GetCurrentPacket(&slot, nullptr, 0, &length, &key, &ms) != VIDEOPLAY_PACKET_SMALL_BUFFER)
            continue;
        Unit u;
        u.data.resize(size_t(length));
        if (VIDEOPLAY_GetCurrentPacket(&slot, u.data.data(), length, &length, &key, &ms) != VIDEOPLAY_PACKET_OK)
            continue;
        u.key = key != 0;
        in.units.push_back(std::move(u));
    }
    VIDEOPLAY_UnitMediaFile(&slot);
    return ok && !in.units.empty();
}

// Busy and total jiffies of the whole machine.
std::pair<long long, long long> MachineTicks()
{
    std::ifstream stat("/proc/stat");
    std::string cpu;
    long long v, busy = 0, total = 0;
    stat >> cpu;
    for (int i = 0; i < 8 && stat >> v; ++i) {
        total += v;
        if (i != 3 && i != 4) busy += v;  // not idle, not waiting for I/O
    }
    return {busy, total};
}

double ProcessCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    const int count = std::min(argc - 1, 16);
    if (count < 1) {
        std::fprintf(stderr, "usage: velmor-hwdec-bench FILE... (up to 16)\n");
        return 2;
    }
    std::vector<Input> inputs(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        if (!Load(argv[i + 1], inputs[size_t(i)])) {
            std::fprintf(stderr, "velmor-hwdec-bench: cannot read %s\n", argv[i + 1]);
            return 1;
        }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "velmor-hwdec-bench: no display\n");
        return 1;
    }
    // A 4 x 4 layout on a 1600 x 900 area.
    std::vector<void*> tiles;
    for (int i = 0; i < count; ++i) {
        const Window w = XCreateSimpleWindow(display, DefaultRootWindow(display), (i % 4) * 400, (i / 4) * 225, 400,
                                             225, 0, 0, 0);
        XMapWindow(display, w);
        tiles.push_back(reinterpret_cast<void*>(static_cast<uintptr_t>(w)));
    }
    XSync(display, False);

    std::atomic<long long> frames{0}, handedLate{0}, onTime{0}, shown{0};
    std::vector<RKPLAYER_HWDEC_PATH> paths(static_cast<size_t>(count));
    std::vector<std::thread> threads;
    const auto start = Clock::now() + std::chrono::seconds(2);  // every window bound by then
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            const Input& in = inputs[size_t(i)];
            RKPLAYER_HANDLE slot = nullptr;
            RKPLAYER_InitVideoDecoder(&slot, in.param.width, in.param.height, in.param.videoType, 25, 1);
            RKPLAYER_SetShowWnd(&slot, tiles[size_t(i)], i);
            std::this_thread::sleep_until(start);
            for (size_t f = 0; f < in.units.size(); ++f) {
                const auto due = start + std::chrono::milliseconds(40 * f);
                std::this_thread::sleep_until(due);
                // Handed over a frame period late: late whatever the window does.
                if (Clock::now() > due + std::chrono::milliseconds(40)) ++handedLate;
                const Unit& u = in.units[f];
                RKPLAYER_DecodeFrame(&slot, u.data.data(), int(u.data.size()), u.key ? 3 : 0, nullptr, nullptr,
                                     nullptr, nullptr);
                ++frames;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            RKPLAYER_SHOW_STAT stat{};
            RKPLAYER_GetShowStat(&slot, &stat);
            onTime += (long long)stat.shownOnTime;
            shown += (long long)stat.shown;
            RKPLAYER_GetHwDecodePath(&slot, &paths[size_t(i)]);
            RKPLAYER_Uninitgpu(&slot);
        });
    std::this_thread::sleep_until(start);
    const double cpu0 = ProcessCpuSeconds();
    const auto machine0 = MachineTicks();
    const auto wall0 = Clock::now();
    for (auto& t : threads) t.join();
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = ProcessCpuSeconds() - cpu0;
    const auto machine1 = MachineTicks();
    XCloseDisplay(display);

    std::map<std::string, int> byPath;
    std::string reason;
    for (const auto& p : paths) {
        ++byPath[p.name];
        if (reason.empty() && p.reason[0]) reason = p.reason;
    }
    std::ostringstream pathText;
    for (const auto& [name, n] : byPath) pathText << n << " " << name << " ";
    const double share = 100.0 * double(std::max(0LL, onTime.load() - handedLate.load())) /
                         double(std::max(1LL, frames.load()));
    const double machine = 100.0 * double(machine1.first - machine0.first) /
                           double(std::max(1LL, machine1.second - machine0.second));
    std::printf("windows %d, %dx%d, paths: %s\n", count, inputs[0].param.width, inputs[0].param.height,
                pathText.str().c_str());
    if (!reason.empty()) std::printf("software because: %s\n", reason.c_str());
    std::printf("on time %.1f %% of %lld frames (%lld drawn, %lld handed over late)\n", share, frames.load(),
                shown.load(), handedLate.load());
    std::printf("CPU: process %.0f %% of one core, machine %.0f %% of %u cores, over %.1f s\n", 100.0 * cpu / wall,
                machine, std::thread::hardware_concurrency(), wall);
    return 0;
}
