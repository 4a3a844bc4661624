// skiv-window-probe [--settle MS] [--timeout MS] -- PROGRAM [ARGS...]
//
// Times a program's first window from outside the process: the probe
// watches the X server's root for the first top-level window to be mapped,
// then reads back a band of that window's pixels every millisecond until
// they have stopped changing for --settle milliseconds (500 by default).
// The window counts as painted at the first read-back that already equals
// the settled pixels (at least 97% of them; a blinking text cursor or a
// hover effect elsewhere does not move the answer). Times are measured from
// just before the fork that execs PROGRAM, so they include the dynamic
// loader, the toolkit's start-up and the program's own.
//
// Ends the program with SIGTERM and prints one line, "mapped_ms=M
// painted_ms=P cpu_ms=C polls=N size=WxH". C is the processor time the
// program used in all (its start-up and the idle settling after it); unlike
// the wall times it does not depend on what else the machine runs. Exit
// status 1 when no window was mapped or painted within --timeout (20000 ms
// by default).
//
// The band is the upper part of the window (the title band of our window):
// reading the whole window back each millisecond would cost the X server,
// which the measured program shares, more than the answer is worth.

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> Own(T* p) {
    return Reply<T>(p, &std::free);
}

struct Shot {
    double ms;
    std::vector<std::uint8_t> pixels;
};

// The band's pixels, or empty when the window cannot be read (not yet
// viewable, gone).
std::vector<std::uint8_t> ReadBand(xcb_connection_t* c, xcb_window_t w, int x, int y, int width,
                                   int height) {
    auto cookie = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, w, static_cast<int16_t>(x),
                                static_cast<int16_t>(y), static_cast<uint16_t>(width),
                                static_cast<uint16_t>(height), ~0u);
    xcb_generic_error_t* error = nullptr;
    auto reply = Own(xcb_get_image_reply(c, cookie, &error));
    std::free(error);
    if (!reply)
        return {};
    const std::uint8_t* data = xcb_get_image_data(reply.get());
    return std::vector<std::uint8_t>(data, data + xcb_get_image_data_length(reply.get()));
}

// Share of 32-bit pixels that are equal in a and b.
double SameShare(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.size() < 4)
        return 0;
    size_t same = 0, n = a.size() / 4;
    for (size_t i = 0; i < n; ++i)
        same += std::memcmp(&a[i * 4], &b[i * 4], 4) == 0;
    return static_cast<double>(same) / static_cast<double>(n);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: skiv-window-probe [--settle MS] [--timeout MS] -- PROGRAM [ARGS...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int settleMs = 500, timeoutMs = 20000, first = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            first = i + 1;
            break;
        }
        if (i + 1 >= argc)
            return Usage();
        if (a == "--settle")
            settleMs = std::atoi(argv[++i]);
        else if (a == "--timeout")
            timeoutMs = std::atoi(argv[++i]);
        else
            return Usage();
    }
    if (first == 0 || first >= argc)
        return Usage();

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "skiv-window-probe: cannot open the display\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    // Checked, so the selection is in force before the program starts.
    if (xcb_generic_error_t* e = xcb_request_check(
            c, xcb_change_window_attributes_checked(c, root, XCB_CW_EVENT_MASK, &mask))) {
        std::free(e);
        std::fprintf(stderr, "skiv-window-probe: cannot watch the root window\n");
        return 1;
    }

    const Clock::time_point t0 = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[first], argv + first);
        std::perror("skiv-window-probe: exec");
        _exit(127);
    }
    if (child < 0) {
        std::perror("skiv-window-probe: fork");
        return 1;
    }
    // The program's processor time (user and system) when it ends.
    double cpuMs = 0;
    auto finish = [&](int status) {
        kill(child, SIGTERM);
        rusage usage{};
        wait4(child, nullptr, 0, &usage);
        cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
        xcb_disconnect(c);
        return status;
    };

    // The first top-level window the program maps.
    xcb_window_t window = 0;
    double mappedMs = 0;
    pollfd pfd{xcb_get_file_descriptor(c), POLLIN, 0};
    while (!window) {
        if (MsSince(t0) > timeoutMs) {
            std::fprintf(stderr, "skiv-window-probe: no window mapped\n");
            return finish(1);
        }
        poll(&pfd, 1, 50);
        while (auto ev = Own(xcb_poll_for_event(c))) {
            if ((ev->response_type & 0x7f) != XCB_MAP_NOTIFY)
                continue;
            auto* map = reinterpret_cast<xcb_map_notify_event_t*>(ev.get());
            if (map->override_redirect || window)
                continue;
            window = map->window;
            mappedMs = MsSince(t0);
        }
        if (xcb_connection_has_error(c))
            return finish(1);
    }
    auto geometry = Own(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (!geometry)
        return finish(1);
    const int w = geometry->width, h = geometry->height;
    // Left two thirds of the top tenth, clear of the rounded corners.
    const int bx = w / 20, by = h / 100 + 1, bw = std::max(1, w * 2 / 3), bh = std::max(1, h / 10);

    std::vector<Shot> shots;  // only the read-backs that changed the band
    double lastChange = 0;
    int polls = 0;
    for (;;) {
        const double now = MsSince(t0);
        if (now > timeoutMs)
            break;
        std::vector<std::uint8_t> band = ReadBand(c, window, bx, by, bw, bh);
        ++polls;
        if (!band.empty() && (shots.empty() || band != shots.back().pixels)) {
            shots.push_back({now, std::move(band)});
            lastChange = now;
        }
        if (!shots.empty() && now - lastChange >= settleMs)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (shots.empty()) {
        std::fprintf(stderr, "skiv-window-probe: the window could not be read\n");
        return finish(1);
    }
    const std::vector<std::uint8_t>& settled = shots.back().pixels;
    double paintedMs = shots.back().ms;
    for (const Shot& s : shots) {
        if (SameShare(s.pixels, settled) >= 0.97) {
            paintedMs = s.ms;
            break;
        }
    }
    const int status = finish(0);
    std::printf("mapped_ms=%.1f painted_ms=%.1f cpu_ms=%.1f polls=%d size=%dx%d\n", mappedMs,
                paintedMs, cpuMs, polls, w, h);
    return status;
}
