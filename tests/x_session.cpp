#include "x_session.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

// Checks done() every step_ms until it holds (true) or timeout_ms passes (false).
template <typename Done>
static bool poll_until(int timeout_ms, int step_ms, Done done)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(step_ms));
    }
    return true;
}

static pid_t server_pid = -1;
static pid_t manager_pid = -1;
static Display* display = nullptr;
static std::string display_name;

// Runs file (looked up in PATH when it has no slash) with argv, whose first
// entry is the name the process sees.
static pid_t spawn(const char* file, const std::vector<std::string>& argv,
                   const std::vector<std::string>& env, int stdout_fd, int stderr_fd)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, 1);
    posix_spawn_file_actions_adddup2(&actions, stderr_fd, 2);
    std::vector<char*> args, envp;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, file, &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// The environment of this process less the variables that would point the
// child at another display, plus the extra ones.
static std::vector<std::string> child_env(const std::vector<std::string>& extra)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (!std::strncmp(*e, "DISPLAY=", 8) || !std::strncmp(*e, "WAYLAND_DISPLAY=", 16)
            || !std::strncmp(*e, "SDL_VIDEODRIVER=", 16))
            continue;
        env.push_back(*e);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

static int null_fd()
{
    static int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    return fd;
}

static void end_process(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    if (!poll_until(2000, 20, [pid] { return waitpid(pid, nullptr, WNOHANG) != 0; })) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

bool start_x_server(int width, int height)
{
    // -displayfd: the server picks a free display and writes its number once it
    // accepts clients, so there is no race for a display number.
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::vector<std::string> argv = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                     screen, "-nolisten", "tcp", "-noreset"};
    server_pid = spawn("Xvfb", argv, child_env({}), null_fd(), null_fd());
    close(fds[1]);
    char buf[16] = "";
    ssize_t n = server_pid > 0 ? read(fds[0], buf, sizeof buf - 1) : -1;
    close(fds[0]);
    if (n <= 0) {
        end_process(server_pid);
        return false;
    }
    display_name = ":" + std::to_string(std::atoi(buf));
    display = XOpenDisplay(display_name.c_str());
    return display != nullptr;
}

void stop_x_server()
{
    end_process(manager_pid);
    if (display)
        XCloseDisplay(display);
    display = nullptr;
    end_process(server_pid);
}

std::string x_display_name() { return display_name; }

bool start_window_manager()
{
    manager_pid = spawn("openbox", {"openbox"}, child_env({"DISPLAY=" + display_name}), null_fd(), null_fd());
    if (manager_pid <= 0)
        return false;
    // openbox is ready once it owns the window manager selection of screen 0.
    Atom selection = XInternAtom(display, "WM_S0", False);
    return poll_until(5000, 20, [selection] { return XGetSelectionOwner(display, selection) != None; });
}


Program start_program(const std::string& name, const std::vector<std::string>& args, bool on_display)
{
    Program program;
    char path[] = "/tmp/penshell-test-stderr-XXXXXX";
    int fd = mkstemp(path);
    program.stderr_path = path;
    std::vector<std::string> argv = {name};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> extra = {"SDL_AUDIODRIVER=dummy"};
    // Under LeakSanitizer: libraries named here stay mapped until the leak
    // check at exit, so leaks inside a driver that SDL_Quit unloads can still
    // be traced to it (and suppressed) rather than to an unknown module.
    if (const char* keep = std::getenv("PENSHELL_KEEP_LOADED"))
        extra.push_back(std::string("LD_PRELOAD=") + keep);
    if (on_display)
        extra.push_back("DISPLAY=" + display_name);
    program.pid = spawn(penshell_path(), argv, child_env(extra), null_fd(), fd);
    close(fd);
    return program;
}

static void keep_stderr(Program& program)
{
    std::ifstream in(program.stderr_path);
    std::stringstream text;
    text << in.rdbuf();
    program.stderr_text = text.str();
    unlink(program.stderr_path.c_str());
}

int wait_program(Program& program, int timeout_ms)
{
    int status = 0;
    bool ended = program.pid > 0 && poll_until(timeout_ms, 10, [&] {
        return waitpid(program.pid, &status, WNOHANG) == program.pid;
    });
    if (ended)
        program.pid = -1;
    end_process(program.pid);
    keep_stderr(program);
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool program_running(Program& program)
{
    int status = 0;
    return program.pid > 0 && waitpid(program.pid, &status, WNOHANG) == 0;
}

ScreenGrab grab_screen()
{
    ScreenGrab screen;
    Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, root, &attributes);
    screen.width = attributes.width;
    screen.height = attributes.height;
    XImage* image = XGetImage(display, root, 0, 0, screen.width, screen.height, AllPlanes, ZPixmap);
    screen.pixels.resize(size_t(screen.width) * screen.height);
    for (int y = 0; y < screen.height; ++y)
        for (int x = 0; x < screen.width; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            screen.pixels[size_t(y) * screen.width + x] =
                Rgb{int((p >> 16) & 255), int((p >> 8) & 255), int(p & 255)};
        }
    XDestroyImage(image);
    return screen;
}

bool wait_for_screen(bool (*ready)(const ScreenGrab&), int timeout_ms, ScreenGrab* last)
{
    ScreenGrab screen;
    bool shown = poll_until(timeout_ms, 30, [&] {
        screen = grab_screen();
        return ready(screen);
    });
    if (last)
        *last = std::move(screen);
    return shown;
}

void send_relative_motion(int dx, int dy)
{
    XTestFakeRelativeMotionEvent(display, dx, dy, CurrentTime);
    XFlush(display);
}

void send_key(bool press, const char* keysym_name)
{
    KeyCode code = XKeysymToKeycode(display, XStringToKeysym(keysym_name));
    XTestFakeKeyEvent(display, code, press, CurrentTime);
    XFlush(display);
}

void send_click(int button)
{
    XTestFakeButtonEvent(display, button, True, CurrentTime);
    XTestFakeButtonEvent(display, button, False, CurrentTime);
    XFlush(display);
}

void settle(int ms)
{
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

const char* penshell_path() { return PENSHELL_PATH; }
