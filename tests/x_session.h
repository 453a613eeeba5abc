#pragma once
// A private X server for the tests (Xvfb, openbox on request), the real program
// run on it under the frame probe, XTest input, and what the screen shows.
// Whatever it starts is killed with the test process, however that ends.
#include <functional>
#include <string>
#include <vector>

struct Rgb { int r, g, b; };
struct Image {  // row 0 at the top
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};
// What the probe saw by the time the program ended.
struct Presented {
    long frames = 0, shortest_gap_us = -1;  // from the end of one swap to the start of the next
    Image last;                             // the last frame, 640x480
};

bool poll_until(int timeout_ms, const std::function<bool()>& done);
bool start_x_server(int width, int height, bool window_manager);  // ends any earlier session
std::string x_display_name();
void end_session();  // ends the program, the window manager and the server

// argv[0] is the name the program sees; events: a script the probe pushes
// before the first frame ("k" key press, "u" key release, "b" button press,
// "mDX,DY" motion, "*N" repeats).
bool start_program(const std::vector<std::string>& argv, bool on_display, const std::string& events);
bool wait_frames(long count, int timeout_ms);  // false at once if the program ends first
bool program_ended();
// Sends the signal, if any, and waits: the exit status, or -1 if the program
// died of a signal or had to be killed.
int end_program(int timeout_ms, int signal = 0);
std::string program_stderr();
bool read_presented(Presented& presented);

// XTest input, each step seen by the program before the next: "mDX,DY"
// relative motion, "k" key press and release, "c" click.
void send_input(const std::string& script);
Image grab_screen();
bool cursor_hidden();         // the cursor shown has no visible pixel
bool pointer_grab_refused();  // another client cannot grab the pointer
