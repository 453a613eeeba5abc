#include "x_session.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

pid_t server = -1, manager = -1, program = -1;
int program_status = -1;
Display* display = nullptr;
std::string display_name;
const std::string files = "/tmp/penshell-test-" + std::to_string(getpid());  // + .stderr, .frames, .ppm

// Runs file with argv and these variables added to the environment, less any
// that would point it elsewhere. SIGKILL ends it when this process ends, even
// by SIGKILL, so that nothing outlives a test.
pid_t spawn(const char* file, const std::vector<std::string>& argv, std::vector<std::string> env,
            const std::string& stderr_path = "/dev/null")
{
    pid_t parent = getpid(), pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)  // the parent is gone already
        _exit(127);
    dup2(open("/dev/null", O_RDWR), 1);
    dup2(open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "XDG_RUNTIME_DIR", "LD_PRELOAD"})
        unsetenv(name);
    for (std::string& e : env)
        putenv(&e[0]);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(file, args.data());
    _exit(127);
}

void end_process(pid_t& pid)
{
    if (pid > 0 && kill(pid, SIGKILL) == 0)
        waitpid(pid, nullptr, 0);
    pid = -1;
}

std::string file_text(const std::string& path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

bool poll_until(int timeout_ms, const std::function<bool()>& done)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

bool start_x_server(int width, int height, bool window_manager)
{
    end_session();
    // The server picks a free display and writes its number once it accepts clients.
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    server = spawn("Xvfb", {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                            std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten", "tcp"}, {});
    close(fds[1]);
    char number[16] = "";
    bool ready = read(fds[0], number, sizeof number - 1) > 0;
    close(fds[0]);
    display_name = ":" + std::to_string(std::atoi(number));
    display = ready ? XOpenDisplay(display_name.c_str()) : nullptr;
    if (!display || !window_manager)
        return display != nullptr;
    manager = spawn("openbox", {"openbox"}, {"DISPLAY=" + display_name});
    // openbox is ready once it owns the window manager selection.
    Atom selection = XInternAtom(display, "WM_S0", False);
    return poll_until(5000, [selection] { return XGetSelectionOwner(display, selection) != None; });
}

std::string x_display_name() { return display_name; }

void end_session()
{
    end_process(program);
    end_process(manager);
    if (display)
        XCloseDisplay(display);
    display = nullptr;
    end_process(server);
    for (const char* kind : {".frames", ".ppm", ".stderr"})
        unlink((files + kind).c_str());
}

bool start_program(const std::vector<std::string>& argv, bool on_display, const std::string& events)
{
    std::string preload = PROBE_PATH;  // and the sanitizer build's own, if any
    if (const char* own = std::getenv("LD_PRELOAD"))
        preload = preload + ":" + own;
    std::vector<std::string> env = {"SDL_AUDIODRIVER=dummy", "LD_PRELOAD=" + preload, "PENSHELL_EVENTS=" + events,
                                    "PENSHELL_FRAME_FILE=" + files + ".frames",
                                    "PENSHELL_LAST_FRAME=" + files + ".ppm"};
    if (on_display)
        env.push_back("DISPLAY=" + display_name);
    program = spawn(PENSHELL_PATH, argv, env, files + ".stderr");
    return program > 0;
}

bool program_ended()
{
    int status = 0;
    if (program > 0 && waitpid(program, &status, WNOHANG) == program) {
        program = -1;
        program_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return program <= 0;
}

static long frames_presented() { return std::atol(file_text(files + ".frames").c_str()); }

bool wait_frames(long count, int timeout_ms)
{
    poll_until(timeout_ms, [count] { return frames_presented() >= count || program_ended(); });
    return frames_presented() >= count;
}

int end_program(int timeout_ms, int signal)
{
    if (signal && program > 0)
        kill(program, signal);
    if (!poll_until(timeout_ms, program_ended)) {
        end_process(program);
        program_status = -1;
    }
    return program_status;
}

std::string program_stderr() { return file_text(files + ".stderr"); }

bool read_presented(Presented& p)
{
    std::string ppm = file_text(files + ".ppm");
    int w = 0, h = 0, header = 0;
    if (std::sscanf(ppm.c_str(), "P6 # frames %ld shortest_us %ld %d %d 255%n", &p.frames, &p.shortest_gap_us,
                    &w, &h, &header) != 4 || ppm.size() != header + 1 + size_t(w) * h * 3)
        return false;
    p.last = {w, h, {}};
    for (size_t i = header + 1; i < ppm.size(); i += 3)
        p.last.pixels.push_back({ppm[i] & 255, ppm[i + 1] & 255, ppm[i + 2] & 255});
    return true;
}

void send_input(const std::string& script)
{
    std::istringstream steps(script);
    for (std::string step; steps >> step;) {
        int dx = 0, dy = 0;
        if (std::sscanf(step.c_str(), "m%d,%d", &dx, &dy) == 2)
            XTestFakeRelativeMotionEvent(display, dx, dy, CurrentTime);
        for (bool press : {true, false}) {
            if (step == "k")
                XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_space), press, CurrentTime);
            if (step == "c")
                XTestFakeButtonEvent(display, 1, press, CurrentTime);
        }
        XSync(display, False);
        // Two frames more and the program has polled since the server sent it.
        wait_frames(frames_presented() + 2, 2000);
    }
}

Image grab_screen()
{
    int w = DisplayWidth(display, 0), h = DisplayHeight(display, 0);
    Image screen{w, h, {}};
    XImage* image = XGetImage(display, DefaultRootWindow(display), 0, 0, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            screen.pixels.push_back({int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255)});
        }
    XDestroyImage(image);
    return screen;
}

bool cursor_hidden()
{
    XFixesCursorImage* cursor = XFixesGetCursorImage(display);
    bool hidden = cursor != nullptr;
    for (int i = 0; hidden && i < cursor->width * cursor->height; ++i)
        hidden = (cursor->pixels[i] >> 24) == 0;  // ARGB: no pixel with any alpha
    if (cursor)
        XFree(cursor);
    return hidden;
}

bool pointer_grab_refused()
{
    Window root = DefaultRootWindow(display);
    int result = XGrabPointer(display, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    if (result == GrabSuccess)
        XUngrabPointer(display, CurrentTime);
    XSync(display, False);
    return result != GrabSuccess;
}
