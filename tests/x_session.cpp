#include "x_session.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

static pid_t server = -1, manager = -1;
static Display* display = nullptr;
static std::string display_name;

bool poll_until(int timeout_ms, const std::function<bool()>& done)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

pid_t spawn(const char* file, const std::vector<std::string>& argv, std::vector<std::string> env,
            const std::string& stderr_path)
{
    pid_t parent = getpid(), pid = fork();
    if (pid != 0)
        return pid;
    // Tied to this process's life, not to its clean-up code, which a crash
    // or ctest's SIGKILL skips.
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

bool start_x_server(int width, int height, bool window_manager)
{
    end_x_server();
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

void end_x_server()
{
    end_process(manager);
    if (display)
        XCloseDisplay(display);
    display = nullptr;
    end_process(server);
}

Display* x_display() { return display; }
std::string x_display_name() { return display_name; }
