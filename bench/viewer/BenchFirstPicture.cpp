// End-to-end time to the first picture, against feh (and nsxiv and qimgv, when installed) in
// the same run, and against the program itself decoding in-process
// (PICTREL_DECODE_IN_PROCESS=1) instead of in its sandboxed decoder helper; and the folder's
// grid of thumbnails against nsxiv's thumbnail mode (`--gallery only` for that alone, `no`
// to leave it out).
//
// Generates photo-like JPEGs (smooth gradients, texture and grain, quality 92, 4:2:0) and
// PNGs (the same pictures, 8-bit RGB, zlib level 6) with a solid marker block in the centre,
// starts a private Xvfb (no window manager) and launches "pictrel /view <file>" and the
// peers on them in turn. From just before the launch it watches the
// screen pixel under the centre of every new top-level window of the process and reports the
// time until it shows the marker colour, and the process's peak resident memory (VmHWM).
// Stepping: with a folder of 50 pictures, each with its own marker colour, it presses Right
// (XTest) and times until the next picture's marker is on screen, then holds Right at 30 presses
// a second for 3 s and times from the last press until the picture it ends on is stable.
//
//   bench_first_picture [--pictrel PATH] [--runs N] [--steps no]
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <png.h>
#include <turbojpeg.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr double kTimeoutMs = 20000;
constexpr int kTolerance = 24;
constexpr int kStepFiles = 50;
constexpr int kSteps = 10;
constexpr double kSettleMs = 1500; // lets a viewer prefetch the neighbour before a step

struct Rgb {
    int r = 0, g = 0, b = 0;
};

bool Near(Rgb a, Rgb b) {
    return std::abs(a.r - b.r) <= kTolerance && std::abs(a.g - b.g) <= kTolerance &&
           std::abs(a.b - b.b) <= kTolerance;
}

double NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void SleepMs(double ms) {
    if (ms <= 0) return;
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(std::fmod(ms, 1000.0) * 1e6)};
    nanosleep(&ts, nullptr);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty()      ? 0
           : v.size() % 2 ? v[v.size() / 2]
                          : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// ---------------------------------------------------------------------------------------------
// Pictures

// Light falloff and colour gradients, a mid-scale texture (value noise on a 12-pixel lattice)
// and grain: compresses at quality 92 about like a camera picture. Rows are split over two
// threads.
std::vector<unsigned char> PhotoBackground(int w, int h) {
    std::vector<unsigned char> px(size_t(w) * h * 3);
    constexpr int cell = 12;
    const int gw = w / cell + 2, gh = h / cell + 2;
    std::vector<float> lattice(size_t(gw) * gh);
    uint32_t seed = 0x9e3779b9u;
    for (float& v : lattice) {
        seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
        v = (seed % 2001) / 1000.0f - 1.0f;
    }
    std::vector<float> colR(w), colG(w), colB(w);
    for (int x = 0; x < w; ++x) {
        const float f = float(x) / w;
        colR[x] = 60 * f + 18 * std::sin(f * 9.0f);
        colG[x] = 25 * std::sin(f * 4.0f + 1.0f);
        colB[x] = -40 * f + 14 * std::cos(f * 7.0f);
    }
    auto rows = [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const float fy = float(y) / h;
            const float rowR = 90 + 40 * fy, rowG = 100 + 30 * std::sin(fy * 5.0f),
                        rowB = 120 - 50 * fy;
            const int gy = y / cell;
            const float ty = float(y % cell) / cell;
            const float* l0 = &lattice[size_t(gy) * gw];
            const float* l1 = l0 + gw;
            uint32_t rng = 0x2545f491u ^ uint32_t(y * 2654435761u);
            unsigned char* out = &px[size_t(y) * w * 3];
            for (int x = 0; x < w; ++x) {
                const int gx = x / cell;
                const float tx = float(x % cell) / cell;
                const float top = l0[gx] + (l0[gx + 1] - l0[gx]) * tx;
                const float bottom = l1[gx] + (l1[gx + 1] - l1[gx]) * tx;
                const float texture = 22 * (top + (bottom - top) * ty);
                rng ^= rng << 13, rng ^= rng >> 17, rng ^= rng << 5;
                const float grain = float(rng & 15) - 7.5f;
                const float luma = texture + grain;
                out[0] = static_cast<unsigned char>(std::clamp(rowR + colR[x] + luma, 0.f, 255.f));
                out[1] = static_cast<unsigned char>(std::clamp(rowG + colG[x] + luma, 0.f, 255.f));
                out[2] = static_cast<unsigned char>(std::clamp(rowB + colB[x] + luma, 0.f, 255.f));
                out += 3;
            }
        }
    };
    std::thread half(rows, 0, h / 2);
    rows(h / 2, h);
    half.join();
    return px;
}

// A solid block of a tenth of the picture's width and height in the centre.
void PaintMarker(std::vector<unsigned char>& px, int w, int h, Rgb c) {
    const int mw = w / 10, mh = h / 10, x0 = (w - mw) / 2, y0 = (h - mh) / 2;
    for (int y = y0; y < y0 + mh; ++y) {
        unsigned char* out = &px[(size_t(y) * w + x0) * 3];
        for (int x = 0; x < mw; ++x, out += 3) out[0] = c.r, out[1] = c.g, out[2] = c.b;
    }
}

bool WriteJpeg(const std::vector<unsigned char>& px, int w, int h, const fs::path& path) {
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const bool ok = tj && tjCompress2(tj, px.data(), w, 0, h, TJPF_RGB, &jpeg, &size, TJSAMP_420,
                                      92, TJFLAG_ACCURATEDCT) == 0;
    if (ok) std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(jpeg), size);
    tjFree(jpeg);
    if (tj) tjDestroy(tj);
    return ok;
}

bool WritePng(const std::vector<unsigned char>& px, int w, int h, const fs::path& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = png && info;
    if (ok && setjmp(png_jmpbuf(png))) {
        ok = false;
    } else if (ok) {
        png_init_io(png, f);
        png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8, PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
        png_set_compression_level(png, 6);
        png_write_info(png, info);
        for (int y = 0; y < h; ++y)
            png_write_row(png, const_cast<png_bytep>(px.data()) + size_t(y) * w * 3);
        png_write_end(png, info);
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0 && ok;
}

// The centre pixel of the file as decoded (at an eighth of the size: fast, and the marker is
// large enough to survive it).
std::optional<Rgb> CentreOfJpeg(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), {});
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sub = 0, space = 0;
    std::optional<Rgb> centre;
    if (tj && tjDecompressHeader3(tj, data.data(), data.size(), &w, &h, &sub, &space) == 0) {
        const int sw = (w + 7) / 8, sh = (h + 7) / 8;
        std::vector<unsigned char> px(size_t(sw) * sh * 3);
        if (tjDecompress2(tj, data.data(), data.size(), px.data(), sw, 0, sh, TJPF_RGB, 0) == 0) {
            const unsigned char* p = &px[(size_t(sh / 2) * sw + sw / 2) * 3];
            centre = Rgb{p[0], p[1], p[2]};
        }
    }
    if (tj) tjDestroy(tj);
    return centre;
}

// Marker colours of the stepping folder: every mix of the levels 0, 85, 170, 255 except the
// greys (window backgrounds are often grey or black). Any two differ by 85 in some channel, so
// with the tolerance of 24 a pixel matches at most one of them.
std::vector<Rgb> StepColours() {
    std::vector<Rgb> colours;
    for (int r = 255; r >= 0; r -= 85)
        for (int g = 0; g <= 255; g += 85)
            for (int b = 255; b >= 0; b -= 85)
                if (!(r == g && g == b)) colours.push_back({r, g, b});
    colours.resize(kStepFiles);
    return colours;
}

// ---------------------------------------------------------------------------------------------
// Processes

// The environment of a launched program: our display, fresh XDG folders, no other platform.
std::vector<std::string> ChildEnvironment(const std::string& display, const fs::path& runDir) {
    static const char* const replaced[] = {"DISPLAY",         "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                           "XDG_CONFIG_HOME", "XDG_DATA_HOME",   "XDG_CACHE_HOME",
                                           "XDG_RUNTIME_DIR", "XAUTHORITY"};
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (std::find(std::begin(replaced), std::end(replaced), name) == std::end(replaced))
            env.push_back(entry);
    }
    env.push_back("DISPLAY=" + display);
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        const fs::path dir = runDir / name;
        fs::create_directories(dir);
        chmod(dir.c_str(), 0700);
        env.push_back(std::string(name) + "=" + dir.string());
    }
    return env;
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const fs::path& log, int keepFd = -1, int asFd = -1) {
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (keepFd >= 0) posix_spawn_file_actions_adddup2(&actions, keepFd, asFd);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void Stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        SleepMs(10);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

long VmHwmKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

std::string LastLine(const fs::path& log) {
    std::ifstream in(log);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty()) last = line;
    return last.substr(0, 160);
}

// ---------------------------------------------------------------------------------------------
// The X display

// Windows vanish while we look at them.
int IgnoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

struct XServer {
    pid_t xvfb = -1;
    std::string name;
    Display* dpy = nullptr;
    Window root = 0;
    Atom netWmPid = 0;
    KeyCode right = 0, enter = 0;

    bool Start(const fs::path& log) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        // -displayfd: the server picks a free display number itself and writes it to the pipe.
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) env.push_back(*e);
        xvfb =
            Spawn({"Xvfb", "-displayfd", "9", "-screen", "0", "1920x1080x24", "-nolisten", "tcp"},
                  env, log, fds[1], 9);
        close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        const double until = NowMs() + 10000;
        while (xvfb > 0 && number.find('\n') == std::string::npos && NowMs() < until) {
            if (poll(&p, 1, 100) <= 0) continue;
            char buf[16];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            number.append(buf, n);
        }
        close(fds[0]);
        if (number.find('\n') == std::string::npos) return false;
        name = ":" + number.substr(0, number.find('\n'));
        while (!dpy && NowMs() < until) {
            dpy = XOpenDisplay(name.c_str());
            if (!dpy) SleepMs(20);
        }
        if (!dpy) return false;
        XSetErrorHandler(IgnoreXErrors);
        root = DefaultRootWindow(dpy);
        netWmPid = XInternAtom(dpy, "_NET_WM_PID", False);
        right = XKeysymToKeycode(dpy, XK_Right);
        enter = XKeysymToKeycode(dpy, XK_Return);
        return true;
    }

    ~XServer() {
        if (dpy) XCloseDisplay(dpy);
        Stop(xvfb);
    }

    std::set<Window> TopLevels() const {
        Window rootOut = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        std::set<Window> windows;
        if (XQueryTree(dpy, root, &rootOut, &parent, &children, &count)) {
            windows.insert(children, children + count);
            XFree(children);
        }
        return windows;
    }

    long WindowPid(Window w) const {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        long pid = -1;
        if (XGetWindowProperty(dpy, w, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                               &after, &data) == Success &&
            data && items == 1 && format == 32)
            pid = *reinterpret_cast<long*>(data);
        if (data) XFree(data);
        return pid;
    }

    // The screen pixel under the centre of a viewable window (read from the root, so it is what
    // is really on screen).
    std::optional<Rgb> CentrePixel(Window w) const {
        XWindowAttributes a{};
        if (!XGetWindowAttributes(dpy, w, &a) || a.map_state != IsViewable || a.width < 2)
            return std::nullopt;
        XImage* image =
            XGetImage(dpy, root, a.x + a.width / 2, a.y + a.height / 2, 1, 1, AllPlanes, ZPixmap);
        if (!image) return std::nullopt;
        const unsigned long p = XGetPixel(image, 0, 0);
        auto channel = [p](unsigned long mask) {
            int shift = 0;
            while (mask && !(mask & 1)) mask >>= 1, ++shift;
            return mask ? int(((p >> shift) & mask) * 255 / mask) : 0;
        };
        const Rgb c{channel(image->red_mask), channel(image->green_mask),
                    channel(image->blue_mask)};
        XDestroyImage(image);
        return c;
    }

    void PressRight(Window w) const { Press(w, right); }

    void Press(Window w, KeyCode key) const {
        XSetInputFocus(dpy, w, RevertToPointerRoot, CurrentTime);
        XTestFakeKeyEvent(dpy, key, True, CurrentTime);
        XTestFakeKeyEvent(dpy, key, False, CurrentTime);
        XFlush(dpy);
    }

    // A hash of what a viewable window shows on screen; nullopt when it is not viewable.
    std::optional<std::size_t> Contents(Window w) const {
        XWindowAttributes a{};
        if (!XGetWindowAttributes(dpy, w, &a) || a.map_state != IsViewable || a.width < 2)
            return std::nullopt;
        XImage* image = XGetImage(dpy, root, a.x, a.y, a.width, a.height, AllPlanes, ZPixmap);
        if (!image) return std::nullopt;
        const std::size_t hash = std::hash<std::string_view>{}(
            std::string_view(image->data, std::size_t(image->bytes_per_line) * image->height));
        XDestroyImage(image);
        return hash;
    }
};

// One launch of a viewer with its own XDG folders; ends it when it goes out of scope.
class Session {
public:
    Session(XServer& screen, const std::vector<std::string>& args, const fs::path& runDir)
        : screen_(screen), runDir_(runDir), before_(screen.TopLevels()) {
        const auto env = ChildEnvironment(screen.name, runDir);
        start = NowMs();
        pid = Spawn(args, env, runDir / "log");
    }
    ~Session() {
        Stop(pid);
        std::error_code ec;
        fs::remove_all(runDir_, ec);
    }

    // The new top-level windows of the process that are on screen.
    std::vector<Window> Windows() const {
        std::vector<Window> windows;
        for (Window w : screen_.TopLevels()) {
            if (before_.count(w)) continue;
            const long owner = screen_.WindowPid(w);
            if (owner == -1 || owner == pid) windows.push_back(w);
        }
        return windows;
    }

    // The centre colour of the window that shows the picture (or of any new window until one
    // has shown a marker).
    std::optional<Rgb> Centre() {
        if (window) {
            if (auto c = screen_.CentrePixel(window)) return c;
            window = 0;
        }
        for (Window w : Windows())
            if (auto c = screen_.CentrePixel(w)) return c;
        return std::nullopt;
    }

    // Milliseconds from `from` until a window's centre shows `want`; nullopt with `failure` set
    // on timeout or when the program ended.
    std::optional<double> WaitFor(Rgb want, double from) {
        while (true) {
            if (window) {
                const auto c = screen_.CentrePixel(window);
                if (c && Near(*c, want)) break;
                if (!c) window = 0;
            } else {
                bool found = false;
                for (Window w : Windows())
                    if (auto c = screen_.CentrePixel(w); c && Near(*c, want)) {
                        window = w, found = true;
                        break;
                    }
                if (found) break;
            }
            if (!Alive()) return std::nullopt;
            if (NowMs() - from > kTimeoutMs) {
                failure = "timeout";
                return std::nullopt;
            }
            SleepMs(1);
        }
        return NowMs() - from;
    }

    bool Alive() {
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, WNOHANG) != pid) return true;
        failure = "ended (" + LastLine(runDir_ / "log") + ")";
        pid = -1;
        return false;
    }

    pid_t pid = -1;
    double start = 0;
    Window window = 0;
    std::string failure;

private:
    XServer& screen_;
    fs::path runDir_;
    std::set<Window> before_;
};

// ---------------------------------------------------------------------------------------------
// Cases

using Viewer = std::vector<std::string>; // the program and its options; the files follow

std::vector<std::string> CommandLine(const Viewer& v, const std::vector<fs::path>& files) {
    std::vector<std::string> args = v;
    for (const auto& f : files) args.push_back(f.string());
    return args;
}

struct Samples {
    std::vector<double> ms;
    std::vector<double> hwmMb;
    int failed = 0;
    std::string failure;
    int width = 0, height = 0; // of the window that showed the picture
};

void FirstPicture(XServer& screen, const Viewer& v, const fs::path& file, Rgb marker,
                  const fs::path& runDir, Samples& out) {
    Session s(screen, CommandLine(v, {file}), runDir);
    if (auto ms = s.WaitFor(marker, s.start)) {
        long hwm = VmHwmKb(s.pid);
        SleepMs(300);
        hwm = std::max(hwm, VmHwmKb(s.pid));
        out.ms.push_back(*ms);
        out.hwmMb.push_back(hwm / 1024.0);
        XWindowAttributes a{};
        if (XGetWindowAttributes(screen.dpy, s.window, &a))
            out.width = a.width, out.height = a.height;
    } else {
        ++out.failed;
        out.failure = s.failure;
    }
}

std::string Summary(const Samples& s, bool memory) {
    char text[160];
    if (s.ms.empty()) {
        std::snprintf(text, sizeof text, "%s", s.failure.empty() ? "no result" : s.failure.c_str());
        return text;
    }
    const int n = std::snprintf(text, sizeof text, "median %4.0f ms (min %4.0f)", Median(s.ms),
                                *std::min_element(s.ms.begin(), s.ms.end()));
    if (memory) std::snprintf(text + n, sizeof text - n, "  VmHWM %4.0f MB", Median(s.hwmMb));
    std::string result = text;
    if (s.failed) result += "  [" + std::to_string(s.failed) + " x " + s.failure + "]";
    return result;
}

std::string Ratio(const Samples& ours, const Samples& theirs, bool memory) {
    if (ours.ms.empty() || theirs.ms.empty()) return "";
    char text[96];
    int n =
        std::snprintf(text, sizeof text, " | ratio time %.2f", Median(ours.ms) / Median(theirs.ms));
    if (memory)
        std::snprintf(text + n, sizeof text - n, " memory %.2f",
                      Median(ours.hwmMb) / Median(theirs.hwmMb));
    return text;
}

std::string Runs(const Samples& s) {
    std::string text;
    for (double ms : s.ms) {
        char number[24];
        std::snprintf(number, sizeof number, " %.0f", ms);
        text += number;
    }
    return text.empty() ? " -" : text;
}

// Ten single steps with the neighbour given time to be prefetched, then Right held (30 presses a
// second for 3 s) from a fresh start.
struct StepResult {
    Samples steps;
    std::string held;
};

int ColourIndex(const std::optional<Rgb>& c, const std::vector<Rgb>& colours) {
    if (c)
        for (size_t i = 0; i < colours.size(); ++i)
            if (Near(*c, colours[i])) return int(i);
    return -1;
}

StepResult Stepping(XServer& screen, const Viewer& v, const std::vector<fs::path>& files,
                    const std::vector<Rgb>& colours, const fs::path& runDir, bool allFiles) {
    StepResult result;
    const auto args = CommandLine(v, allFiles ? files : std::vector<fs::path>{files[0]});
    {
        Session s(screen, args, runDir);
        if (!s.WaitFor(colours[0], s.start)) {
            result.steps.failure = "first picture: " + s.failure;
            return result;
        }
        for (int step = 1; step <= kSteps; ++step) {
            SleepMs(kSettleMs);
            const double press = NowMs();
            screen.PressRight(s.window);
            if (auto ms = s.WaitFor(colours[step % kStepFiles], press)) {
                result.steps.ms.push_back(*ms);
            } else {
                result.steps.failed = kSteps - step + 1;
                result.steps.failure = s.failure;
                break;
            }
        }
    }
    Session s(screen, args, runDir);
    if (!s.WaitFor(colours[0], s.start)) {
        result.held = "first picture: " + s.failure;
        return result;
    }
    SleepMs(kSettleMs);
    // The centre is watched between the presses too, so a picture that was final before the
    // last press is seen as such.
    constexpr int presses = 90;
    int shown = ColourIndex(s.Centre(), colours);
    // Counted from the file on screen when the key goes down.
    const int from = std::max(shown, 0);
    const int wraps = (from + presses) % kStepFiles, stops = kStepFiles - 1;
    double changed = NowMs(), lastPress = 0;
    auto watch = [&] {
        const int now = ColourIndex(s.Centre(), colours);
        if (now != shown) shown = now, changed = NowMs();
        SleepMs(1);
    };
    const double first = NowMs();
    for (int i = 0; i < presses; ++i) {
        while (NowMs() < first + i * (1000.0 / 30)) watch();
        lastPress = NowMs();
        screen.PressRight(s.window);
    }
    // Stable: on the file a wrapping or a stopping viewer ends on for 1 s, or on any file for 3 s.
    double still = 0;
    while (NowMs() - lastPress < 2 * kTimeoutMs && s.Alive()) {
        watch();
        still = NowMs() - changed;
        if (shown >= 0 && (still > 3000 || (still > 1000 && (shown == wraps || shown == stops))))
            break;
    }
    char text[200];
    if (shown < 0 || still < 1000)
        std::snprintf(text, sizeof text, "no stable picture (%s)",
                      s.failure.empty() ? "timeout" : s.failure.c_str());
    else if (changed < lastPress)
        std::snprintf(text, sizeof text,
                      "stayed on file %d, shown before the last press (%d presses from file %d: "
                      "%d if it wraps, %d if it stops)",
                      shown + 1, presses, from + 1, wraps + 1, stops + 1);
    else
        std::snprintf(text, sizeof text,
                      "final picture %5.0f ms after the last press, on file %d (%d presses from "
                      "file %d: %d if it wraps, %d if it stops)",
                      changed - lastPress, shown + 1, presses, from + 1, wraps + 1, stops + 1);
    result.held = text;
    return result;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The folder's grid: 300 photos of 1280 x 800, an empty thumbnail cache, a window of the whole
// screen. Pictrel opens the first photo and Return shows the grid; nsxiv starts in its
// thumbnail mode on the files. Both are timed to the last change of the window's contents
// before it stays unchanged for 1.5 s: the last cell of the first screen drawn.

constexpr int kGalleryPhotos = 300;

std::optional<double> UntilStill(XServer& screen, Session& s, Window w, double from) {
    std::optional<std::size_t> last = screen.Contents(w);
    double changed = NowMs();
    while (NowMs() - changed < 1500) {
        if (!s.Alive() || NowMs() - from > kTimeoutMs) return std::nullopt;
        SleepMs(10);
        const auto now = screen.Contents(w);
        if (now != last) last = now, changed = NowMs();
    }
    return changed - from;
}

void GalleryFirstScreen(XServer& screen, const fs::path& tmp, const fs::path& pictrel, int runs,
                        const std::function<fs::path()>& runDir) {
    const fs::path folder = tmp / "gallery";
    fs::create_directories(folder);
    std::vector<fs::path> files;
    auto px = PhotoBackground(1280, 800);
    const Rgb first{255, 0, 255};
    for (int i = 0; i < kGalleryPhotos; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "photo%03d.jpg", i);
        PaintMarker(px, 1280, 800, i == 0 ? first : Rgb{i * 7 % 256, 255 - i % 256, i * 13 % 256});
        if (!WriteJpeg(px, 1280, 800, folder / name)) return;
        files.push_back(folder / name);
    }
    const bool haveNsxiv = std::system("command -v nsxiv >/dev/null 2>&1") == 0;
    Samples mine, theirs;
    for (int i = 0; i < runs; ++i) {
        {
            Session s(screen, {pictrel.string(), "/view", files[0].string()}, runDir());
            if (s.WaitFor(first, s.start)) {
                XMoveResizeWindow(screen.dpy, s.window, 0, 0, 1920, 1080);
                XFlush(screen.dpy);
                SleepMs(800);
                const double press = NowMs();
                screen.Press(s.window, screen.enter);
                if (auto ms = UntilStill(screen, s, s.window, press)) mine.ms.push_back(*ms);
            }
        }
        if (!haveNsxiv) continue;
        std::vector<std::string> args = {"nsxiv", "-t", "-g", "1920x1080"};
        for (const auto& f : files) args.push_back(f.string());
        Session s(screen, args, runDir());
        Window w = 0;
        while (!w && NowMs() - s.start < kTimeoutMs && s.Alive()) {
            for (Window candidate : s.Windows())
                if (screen.Contents(candidate)) w = candidate;
            if (!w) SleepMs(2);
        }
        if (w)
            if (auto ms = UntilStill(screen, s, w, s.start)) theirs.ms.push_back(*ms);
    }
    std::printf(
        "\ngallery: %d photos 1280x800, window 1920x1080, empty thumbnail cache; to the last "
        "change of the window before 1.5 s without one\n    pictrel (from Return) %s",
        kGalleryPhotos, Summary(mine, false).c_str());
    if (haveNsxiv)
        std::printf(" | nsxiv -t (from launch) %s%s", Summary(theirs, false).c_str(),
                    Ratio(mine, theirs, false).c_str());
    std::printf("\n    runs (ms): pictrel%s%s%s\n", Runs(mine).c_str(), haveNsxiv ? " | nsxiv" : "",
                haveNsxiv ? Runs(theirs).c_str() : "");
}

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    fs::path pictrel = fs::read_symlink("/proc/self/exe").parent_path() / "../../pictrel";
    int runs = 5;
    bool steps = true;
    std::string gallery = "yes"; // "no", or "only" for the grid alone
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--pictrel"))
            pictrel = argv[i + 1];
        else if (!std::strcmp(argv[i], "--runs"))
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--steps"))
            steps = std::strcmp(argv[i + 1], "no") != 0;
        else if (!std::strcmp(argv[i], "--gallery"))
            gallery = argv[i + 1];
    }
    pictrel = fs::weakly_canonical(pictrel);
    if (!fs::exists(pictrel)) {
        std::fprintf(stderr, "bench_first_picture: %s not found (use --pictrel PATH)\n",
                     pictrel.c_str());
        return 1;
    }
    const auto installed = [](const char* program) {
        return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) ==
               0;
    };
    const bool haveFeh = installed("feh");

    char pattern[] = "/tmp/bench_first_picture.XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const fs::path tmp = pattern;
    struct Cleanup {
        fs::path dir;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    } cleanup{tmp};
    int run = 0;
    auto runDir = [&] { return tmp / ("run" + std::to_string(run++)); };
    if (gallery == "only") {
        XServer screen;
        if (!screen.Start(tmp / "xvfb.log")) return 1;
        GalleryFirstScreen(screen, tmp, pictrel, runs, runDir);
        return 0;
    }

    // Pictures: each first-picture file alone in its folder; the stepping folder holds 50
    // files with a marker colour each.
    const double made = NowMs();
    const Rgb magenta{255, 0, 255};
    struct Big {
        const char* label;
        int w, h;
        fs::path file;
        bool png = false;
    };
    std::vector<Big> bigs = {{"24MP", 6000, 4000, tmp / "24mp/photo.jpg"},
                             {"96MP", 12000, 8000, tmp / "96mp/photo.jpg"},
                             {"PNG 3840x2160", 3840, 2160, tmp / "uhdpng/photo.png", true},
                             {"PNG 24MP", 6000, 4000, tmp / "24mppng/photo.png", true}};
    const auto colours = StepColours();
    std::vector<fs::path> stepFiles;
    for (int i = 0; i < kStepFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "step/photo%02d.jpg", i + 1);
        stepFiles.push_back(tmp / name);
    }
    fs::create_directories(tmp / "step");
    bool pictures = true;
    for (auto& big : bigs) {
        fs::create_directories(big.file.parent_path());
        auto px = PhotoBackground(big.w, big.h);
        PaintMarker(px, big.w, big.h, magenta);
        pictures &=
            big.png ? WritePng(px, big.w, big.h, big.file) : WriteJpeg(px, big.w, big.h, big.file);
        if (big.w == 6000) {
            // The stepping files share this background; two threads encode them.
            bool written[2] = {true, true};
            auto encode = [&](int first) {
                auto copy = px;
                for (int i = first; i < kStepFiles; i += 2) {
                    PaintMarker(copy, big.w, big.h, colours[i]);
                    written[first] &= WriteJpeg(copy, big.w, big.h, stepFiles[i]);
                }
            };
            std::thread other(encode, 1);
            encode(0);
            other.join();
            pictures &= written[0] && written[1];
        }
    }
    // The PNGs are lossless: their markers are as painted.
    for (int i = 0; i < kStepFiles + 2 && pictures; ++i) {
        const fs::path& f = i < kStepFiles ? stepFiles[i] : bigs[i - kStepFiles].file;
        const auto c = CentreOfJpeg(f);
        if (!c || !Near(*c, i < kStepFiles ? colours[i] : magenta)) {
            std::fprintf(stderr, "bench_first_picture: marker of %s does not decode\n", f.c_str());
            pictures = false;
        }
    }
    if (!pictures) {
        std::fprintf(stderr, "bench_first_picture: could not make the pictures\n");
        return 1;
    }

    XServer screen;
    if (!screen.Start(tmp / "xvfb.log")) {
        std::fprintf(stderr, "bench_first_picture: Xvfb did not start (%s)\n",
                     LastLine(tmp / "xvfb.log").c_str());
        return 1;
    }
    std::printf("Xvfb %s 1920x1080, no window manager; pictrel %s\n", screen.name.c_str(),
                pictrel.c_str());
    std::printf("pictures (made in %.1f s): 24MP 6000x4000 %.1f MB, 96MP 12000x8000 %.1f MB, "
                "%d x 24MP for stepping; quality 92, 4:2:0; PNG 3840x2160 %.1f MB, PNG 24MP "
                "%.1f MB\n",
                (NowMs() - made) / 1000, fs::file_size(bigs[0].file) / 1e6,
                fs::file_size(bigs[1].file) / 1e6, kStepFiles, fs::file_size(bigs[2].file) / 1e6,
                fs::file_size(bigs[3].file) / 1e6);

    // Both through env, so that the helper and the in-process runs start alike.
    const Viewer ours{"env", "PICTREL_DECODE_IN_PROCESS=0", pictrel.string(), "/view"};
    const Viewer inProcess{"env", "PICTREL_DECODE_IN_PROCESS=1", pictrel.string(), "/view"};
    // One warm-up run of each program per case, untimed (page cache). Ours also tells its window
    // size: feh gets a window of that size with the picture scaled down to fit, centred, so both
    // scale to the same size.
    Samples warmUp;
    FirstPicture(screen, ours, bigs[0].file, magenta, runDir(), warmUp);
    const std::string geometry =
        warmUp.width ? std::to_string(warmUp.width) + "x" + std::to_string(warmUp.height)
                     : "1920x1080";
    const Viewer feh{"feh", "--scale-down", "--geometry", geometry};
    // Further peers, when installed: nsxiv in a window of the same size (it scales large
    // pictures down to fit by default), qimgv as it starts.
    struct Peer {
        std::string name;
        Viewer command;
    };
    std::vector<Peer> peers;
    if (haveFeh) peers.push_back({"feh", feh});
    if (installed("nsxiv")) peers.push_back({"nsxiv", {"nsxiv", "-g", geometry}});
    if (installed("qimgv")) peers.push_back({"qimgv", {"qimgv"}});
    if (haveFeh)
        std::printf("feh options: --scale-down --geometry %s (%s)\n", geometry.c_str(),
                    warmUp.width ? "the size of pictrel's window" : "pictrel showed no window");
    else
        std::printf("feh not found: no baseline\n");
    std::printf("peers:");
    for (const Peer& peer : peers) {
        std::printf(" ");
        for (const auto& arg : peer.command) std::printf("%s ", arg.c_str());
        std::printf("|");
    }
    std::printf("\ntimes from launch (or key press) until the marker at the window centre is on "
                "screen; %d runs each, alternating, after one warm-up run each\n\n",
                runs);

    for (const auto& big : bigs) {
        Samples mine, local, ignoredLocal;
        std::vector<Samples> theirs(peers.size());
        FirstPicture(screen, inProcess, big.file, magenta, runDir(), ignoredLocal);
        if (&big != &bigs[0])
            warmUp = {}, FirstPicture(screen, ours, big.file, magenta, runDir(), warmUp);
        for (const Peer& peer : peers) {
            Samples ignored;
            FirstPicture(screen, peer.command, big.file, magenta, runDir(), ignored);
        }
        for (int i = 0; i < runs; ++i) {
            // A program that fails its warm-up run is not tried again: each try may take the
            // whole timeout.
            if (!warmUp.ms.empty()) {
                FirstPicture(screen, ours, big.file, magenta, runDir(), mine);
                FirstPicture(screen, inProcess, big.file, magenta, runDir(), local);
            }
            for (size_t p = 0; p < peers.size(); ++p)
                FirstPicture(screen, peers[p].command, big.file, magenta, runDir(), theirs[p]);
        }
        if (warmUp.ms.empty()) mine.failure = warmUp.failure + " in the warm-up run";
        std::printf("first picture %s  pictrel %s\n", big.label, Summary(mine, true).c_str());
        std::printf("    in-process %s%s\n", Summary(local, true).c_str(),
                    Ratio(mine, local, true).c_str());
        const Samples* fastest = nullptr;
        const Samples* fehSamples = nullptr;
        std::string fastestName;
        for (size_t p = 0; p < peers.size(); ++p) {
            std::printf("    %-6s %s%s\n", peers[p].name.c_str(), Summary(theirs[p], true).c_str(),
                        Ratio(mine, theirs[p], true).c_str());
            if (peers[p].name == "feh") fehSamples = &theirs[p];
            if (!theirs[p].ms.empty() && (!fastest || Median(theirs[p].ms) < Median(fastest->ms)))
                fastest = &theirs[p], fastestName = peers[p].name;
        }
        if (fastest && !mine.ms.empty()) {
            std::printf("    pictrel against the fastest peer (%s): time %.2f", fastestName.c_str(),
                        Median(mine.ms) / Median(fastest->ms));
            if (fehSamples && !fehSamples->hwmMb.empty())
                std::printf("; memory against feh %.2f",
                            Median(mine.hwmMb) / Median(fehSamples->hwmMb));
            std::printf("\n");
        }
        std::printf("    runs (ms): pictrel%s | in-process%s", Runs(mine).c_str(),
                    Runs(local).c_str());
        for (size_t p = 0; p < peers.size(); ++p)
            std::printf(" | %s%s", peers[p].name.c_str(), Runs(theirs[p]).c_str());
        std::printf("\n");
    }

    if (gallery != "no") GalleryFirstScreen(screen, tmp, pictrel, runs, runDir);
    if (!steps) return 0;
    std::printf("\n");
    const StepResult mine = Stepping(screen, ours, stepFiles, colours, runDir(), false);
    const StepResult local = Stepping(screen, inProcess, stepFiles, colours, runDir(), false);
    std::printf("step to next 24MP in-process  %s%s\n    steps (ms): in-process%s\n",
                Summary(local.steps, false).c_str(), Ratio(mine.steps, local.steps, false).c_str(),
                Runs(local.steps).c_str());
    std::printf("held Right in-process\n    %s\n", local.held.c_str());
    StepResult theirs;
    if (haveFeh) theirs = Stepping(screen, feh, stepFiles, colours, runDir(), true);
    std::printf("step to next 24MP (Right, %.1f s after the last picture)  pictrel %s",
                kSettleMs / 1000, Summary(mine.steps, false).c_str());
    if (haveFeh)
        std::printf(" | feh %s%s", Summary(theirs.steps, false).c_str(),
                    Ratio(mine.steps, theirs.steps, false).c_str());
    std::printf("\n    steps (ms): pictrel%s%s%s\n", Runs(mine.steps).c_str(),
                haveFeh ? " | feh" : "", haveFeh ? Runs(theirs.steps).c_str() : "");
    std::printf("held Right (30 presses/s for 3 s)\n    pictrel %s\n", mine.held.c_str());
    if (haveFeh) std::printf("    feh     %s\n", theirs.held.c_str());
    return 0;
}
