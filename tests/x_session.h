#pragma once
// A private X server for the tests: starts Xvfb (and, on request, openbox) on a
// free display, runs the real program there, drives it with XTest input and
// reads back the pixels it shows. Everything it starts, it stops.
#include <sys/types.h>

#include <string>
#include <vector>

struct Rgb {
    int r, g, b;
};

// A screen grab, row 0 at the top of the screen.
struct ScreenGrab {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

// Starts Xvfb with one screen of the given size; returns false if it could not.
bool start_x_server(int width, int height);
void stop_x_server();
std::string x_display_name();
// Starts openbox on the display (full screen needs a window manager); it is
// stopped with the server.
bool start_window_manager();

struct Program {
    pid_t pid = -1;
    std::string stderr_path;
    std::string stderr_text;  // what it wrote, once it has ended
};

// Runs the program with argv[0] = name (which the program also scans for
// options) on the test display, or with no DISPLAY at all when display is false.
Program start_program(const std::string& name, const std::vector<std::string>& args,
                      bool display = true);
// Waits up to timeout_ms for the program to end; returns its exit status, or
// -1 after killing it when it did not end in time or died of a signal. Either
// way its standard error is kept in stderr_text.
int wait_program(Program& program, int timeout_ms);
bool program_running(Program& program);

ScreenGrab grab_screen();
// Polls the screen until ready(screen) holds or timeout_ms passes.
bool wait_for_screen(bool (*ready)(const ScreenGrab&), int timeout_ms, ScreenGrab* last = nullptr);

void send_relative_motion(int dx, int dy);
void send_key(bool press, const char* keysym_name);
void send_click(int button);
void settle(int ms);  // flush input and give the program time to draw a few frames

// Path of the built program, set by the build.
const char* penshell_path();
