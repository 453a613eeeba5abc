// The real program on a real X server, under the frame probe: arguments,
// events and input in; the frames it presents, what the screen shows and how
// it ends, out.
#include <gtest/gtest.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <X11/keysym.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "picture_text.h"
#include "pictures.h"
#include "x_session.h"

namespace {

// The program runs with argv, which includes argv[0], scanned for options too;
// a screen width of 0 is no display at all. The events are pushed before the
// first frame; the XTest input comes while the program runs, then end_signal
// or else a key press ends it; with neither, the events end it. Then the last
// frame shows the background and the pen at (pen_x, pen_y), filling the screen
// when full, after the number of frames given (0: any); the cloth's frames are
// checked by check_cloth instead. The program sees the machine's cores, or
// as many as `cores` says.
const char* const shell = PENSHELL_PATH;
const char* const cloth = CLOTH_PATH;

struct Scenario {
    const char* name;
    const char* program;
    std::vector<std::string> argv;
    int width, height;
    bool window_manager;
    const char *events, *input;
    int end_signal;
    bool red, full;
    int pen_x, pen_y, frames, status;
    const char* cores = "";
};

const Scenario scenarios[] = {
    {"PlainWindowFollowsMotionAndIgnoresReleasesAndClicks", shell, {"penshell"}, 640, 480, false, "u b",
     "m10,-7 m10,-7 m10,-7 c", 0, false, false, 350, 261, 0, 0},
    {"OwnNameRedEndsOnSigterm", shell, {"-red"}, 640, 480, false, "", "", SIGTERM, true, false, 320, 240, 0, 0},
    {"InexactWordsChangeNothingAndSigintEnds", shell, {"penshell", "--red", "-RED", "red", "-reds", "-F", "f", "-ff"},
     800, 600, false, "", "", SIGINT, false, false, 320, 240, 0, 0},
    {"FullScreenBare1024", shell, {"penshell", "-f", "-red"}, 1024, 768, false, "", "m16,-8 m16,-8", 0, true,
     true, 340, 250, 0, 0},
    {"FullScreenUnderWindowManager1024", shell, {"penshell", "-red", "-f"}, 1024, 768, true, "", "m16,-8", 0,
     true, true, 330, 245, 0, 0},
    {"FullScreenBare800", shell, {"penshell", "-f"}, 800, 600, false, "", "m20,-10", 0, false, true, 336, 248, 0, 0},
    {"FullScreenUnderWindowManager800", shell, {"-f", "-red"}, 800, 600, true, "", "m-20,10", 0, true, true, 304,
     232, 0, 0},
    // The pass that dispatches the key press still moves the pen for the
    // motion behind it, and presents its frame.
    {"KeyBeforeTheFirstFrame", shell, {"penshell"}, 640, 480, false, "k m5,-3", "", 0, false, false, 325, 243, 1, 0},
    // One drain empties the whole queue.
    {"BurstOfMotionsThenAKey", shell, {"penshell"}, 640, 480, false, "m1,0*100 k", "", 0, false, false, 420, 240,
     1, 0},
    {"NoDisplay", shell, {"penshell"}, 0, 0, false, "", "", 0, false, false, 0, 0, 0, 255},
    // Once it hangs, the pen moved to its foot, which is pulled gently 50
    // pixels down, below where it hangs, and let go: nothing tears (seen once
    // the cloth has swung back: springing back, its cells stretch wide).
    // On one core: the cloth in one part (the yank below runs two).
    {"ClothHangsFollowsThePenWhileHeldAndLetsGoOnOneCore", cloth, {"penshell-cloth", "-red"}, 640, 480, false, "",
     "s h f60 s m0,40 p m0,5*10 n s r g f120", 0, false, false, 320, 150, 0, 0, "1"},
    // Held in its middle and yanked 240 pixels to the left in a burst: it
    // tears, and a gap shows where the threads were, the balls under it.
    // Looked at 240 frames after the yank: before, the cloth still swings,
    // and its stretched cells may pass for a gap or bunched threads hide it
    // (at 120 frames, a run in eight under load). The right button starts
    // over: a whole cloth, nothing torn.
    {"ClothTearsWhenYankedAndStartsOverOnTheRightButton", cloth, {"penshell-cloth"}, 640, 480, false, "",
     "s h f60 s p m-50,15*5 t r f240 s R T h f60 s", 0, false, false, 70, 165, 0, 0},
};

using Image = std::vector<unsigned char>;  // RGB, row 0 at the top
std::vector<Image> snapshots;               // the screens the input kept

pid_t program = -1;
int program_status = -1;
const std::string files = "/tmp/penshell-test-" + std::to_string(getpid());  // + .stderr, .frames, .ppm

std::string file_text(const std::string& path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

void start_program(const Scenario& s)
{
    std::string preload = PROBE_PATH;  // and the sanitizer build's own, if any
    if (const char* own = std::getenv("LD_PRELOAD"))
        preload = preload + ":" + own;
    std::vector<std::string> env = {"SDL_AUDIODRIVER=dummy", "LD_PRELOAD=" + preload,
                                    std::string("PENSHELL_EVENTS=") + s.events,
                                    "PENSHELL_SETUP_NOTE=(set-up note)", "PENSHELL_FRAME_FILE=" + files + ".frames",
                                    "PENSHELL_LAST_FRAME=" + files + ".ppm"};
    if (s.width)
        env.push_back("DISPLAY=" + x_display_name());
    if (*s.cores)
        env.push_back(std::string("PENSHELL_CORES=") + s.cores);
    program_status = -1;
    program = spawn(s.program, s.argv, env, files + ".stderr");
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

long frames_presented() { return std::atol(file_text(files + ".frames").c_str()); }

// False at once if the program ends first.
bool wait_frames(long count, int timeout_ms)
{
    poll_until(timeout_ms, [count] { return frames_presented() >= count || program_ended(); });
    return frames_presented() >= count;
}

// The exit status, or -1 if the program died of a signal or had to be killed.
int end_program(int timeout_ms, int signal)
{
    if (signal && program > 0)
        kill(program, signal);
    if (!poll_until(timeout_ms, program_ended))
        end_process(program);
    return program_status;
}

// What the probe saw by the time the program ended: the frame count, the
// shortest time from the end of one swap to the start of the next, the last frame.
bool read_presented(long& frames, long& shortest_gap_us, Image& last)
{
    std::string ppm = file_text(files + ".ppm");
    int header = 0;
    if (std::sscanf(ppm.c_str(), "P6 # frames %ld shortest_us %ld 640 480 255%n", &frames, &shortest_gap_us,
                    &header) != 2 || ppm.size() != header + 1 + 640 * 480 * 3)
        return false;
    last.assign(ppm.begin() + header + 1, ppm.end());
    return true;
}

Image grab_screen(int width, int height);
std::string window_title();
bool torn_in_title();
bool cloth_near(const Image& image, int x, int y);
int lowest_cloth_row(const Image& image);

// XTest input, each step seen by the program before the next: "mDX,DY"
// relative motion, "k" key press and release, "c" click, "p" and "r" button
// 1 pressed and released, "R" button 3 clicked; "s" keeps the 640x480 screen
// in snapshots. The cloth moves in real time, so the steps wait for what they
// look for, never for a time: "fN" for N frames more, "h" until it hangs 50
// pixels below the first snapshot, "n" until it is near the scenario's pen,
// "g" until it has gone from there, "t" until the title says threads are torn,
// "T" until it says none are (10 s at most: the machine may be loaded).
// "*N" repeats a step.
void send_input(const Scenario& s, const std::string& script)
{
    Display* display = x_display();
    std::istringstream steps(script);
    for (std::string step; steps >> step;) {
        int dx = 0, dy = 0, repeat = 1;
        std::sscanf(step.substr(step.find('*') + 1).c_str(), "%d", &repeat);
        for (; repeat > 0; --repeat) {
            if (std::sscanf(step.c_str(), "m%d,%d", &dx, &dy) == 2)
                XTestFakeRelativeMotionEvent(display, dx, dy, CurrentTime);
            if (step == "p" || step == "r")
                XTestFakeButtonEvent(display, 1, step == "p", CurrentTime);
            for (bool press : {true, false}) {
                if (step == "k")
                    XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_space), press, CurrentTime);
                if (step == "c" || step == "R")
                    XTestFakeButtonEvent(display, step == "c" ? 1 : 3, press, CurrentTime);
            }
            XSync(display, False);
            if (step == "s")
                snapshots.push_back(grab_screen(640, 480));
            if (step == "h")
                EXPECT_TRUE(!snapshots.empty() && poll_until(10000, [] {
                    return lowest_cloth_row(grab_screen(640, 480)) <= lowest_cloth_row(snapshots[0]) - 50;
                })) << "the cloth does not hang";
            if (step == "g")
                EXPECT_TRUE(poll_until(10000, [&s] { return !cloth_near(grab_screen(640, 480), s.pen_x, s.pen_y); }))
                    << "the cloth was not let go";
            if (step == "n")
                EXPECT_TRUE(poll_until(10000, [&s] { return cloth_near(grab_screen(640, 480), s.pen_x, s.pen_y); }))
                    << "the cloth does not follow the pen";
            if (step == "t" || step == "T")
                EXPECT_TRUE(poll_until(10000, [&step] { return torn_in_title() == (step == "t"); }))
                    << (step == "t" ? "nothing torn" : "threads still torn") << ": " << window_title();
            int frames = 0;
            if (std::sscanf(step.c_str(), "f%d", &frames) == 1)
                EXPECT_TRUE(wait_frames(frames_presented() + frames, 60000)) << "no frames";
            EXPECT_NE(std::string("mkcprRshgntTf").find(step[0]), std::string::npos) << "no such step: " << step;
            // Two frames more and the program has polled since the server sent it.
            wait_frames(frames_presented() + 2, 2000);
        }
    }
}

// The title of the program's window (the one top-level window with a name).
std::string window_title()
{
    Display* display = x_display();
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    std::string title;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && title.empty(); ++i) {
            XTextProperty name{};
            if (XGetWMName(display, children[i], &name) && name.value) {
                title.assign(reinterpret_cast<const char*>(name.value), name.nitems);
                XFree(name.value);
            }
        }
        XFree(children);
    }
    return title;
}

bool torn_in_title()
{
    return window_title().find("torn") != std::string::npos;
}

Image grab_screen(int width, int height)
{
    Display* display = x_display();
    XImage* image = XGetImage(display, DefaultRootWindow(display), 0, 0, unsigned(width), unsigned(height),
                              AllPlanes, ZPixmap);
    Image screen;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int shift : {16, 8, 0})
                screen.push_back((unsigned char)(XGetPixel(image, x, y) >> shift));
    XDestroyImage(image);
    return screen;
}

// The cursor shown has no pixel with any alpha.
bool cursor_hidden()
{
    XFixesCursorImage* cursor = XFixesGetCursorImage(x_display());
    bool hidden = cursor != nullptr;
    for (int i = 0; hidden && i < cursor->width * cursor->height; ++i)
        hidden = (cursor->pixels[i] >> 24) == 0;
    if (cursor)
        XFree(cursor);
    return hidden;
}

// Another client cannot grab the pointer.
bool pointer_grab_refused()
{
    Display* display = x_display();
    int result = XGrabPointer(display, DefaultRootWindow(display), False, ButtonPressMask, GrabModeAsync,
                              GrabModeAsync, None, None, CurrentTime);
    if (result == GrabSuccess)
        XUngrabPointer(display, CurrentTime);
    XSync(display, False);
    return result != GrabSuccess;
}

// The frame the program must present, computed from the picture texts and the
// inverting blend src*(1-dst) + dst*(1-src); row 0 at the top.
std::vector<double> expected_frame(const Scenario& s)
{
    std::vector<double> px(640 * 480 * 3, 0.0);
    for (size_t i = 0; i < px.size(); i += 3)
        px[i] = s.red ? 0.4 : 0.0;
    auto draw = [&px](const char* text, int size, int left, int bottom) {
        std::vector<unsigned char> rgb = decode_picture(text, size, size);
        for (int row = 0; row < size; ++row)
            for (int col = 0; col < size; ++col) {
                int x = left + col, top_row = 479 - (bottom + size - 1 - row);
                if (x < 0 || x >= 640 || top_row < 0 || top_row >= 480)
                    continue;
                for (int c = 0; c < 3; ++c) {
                    double src = rgb[(size_t(row) * size + col) * 3 + c] / 255.0;
                    double& dst = px[(size_t(top_row) * 640 + x) * 3 + c];
                    dst = src * (1 - dst) + dst * (1 - src);
                }
            }
    };
    draw(wait_header_data, 32, 608, 0);
    draw(pen_header_data, 16, s.pen_x, s.pen_y);
    return px;
}

// Counts the colour channels of the image that are off the frame by more than
// Mesa's rounding. At the window's own size the frame is centred; scaled up
// (full), each pixel lies within the range of the window pixels nearest to
// it, so that both linear and nearest scaling pass.
int mismatches(const Image& image, int width, int height, const std::vector<double>& frame, bool full)
{
    int w = full ? width : 640, h = full ? height : 480, bad = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                double u = (x + 0.5) * 640 / w - 0.5, v = (y + 0.5) * 480 / h - 0.5, low = 1, high = 0;
                for (int j : {int(std::floor(v)), int(std::ceil(v))})
                    for (int i : {int(std::floor(u)), int(std::ceil(u))}) {
                        double f = frame[(size_t(std::clamp(j, 0, 479)) * 640 + std::clamp(i, 0, 639)) * 3 + c];
                        low = std::min(low, f), high = std::max(high, f);
                    }
                int got = image[(size_t((height - h) / 2 + y) * width + (width - w) / 2 + x) * 3 + c];
                bad += got < low * 255 - 2.01 || got > high * 255 + 2.01;
            }
    return bad;
}

// The cloth's threads, drawn in (1, 0.8, 0.4) over black, and the balls, in
// (0.55, 0.7, 0.95), are told apart by their colours; (x, y) in window
// pixels, y upward; nothing lies outside the window.
bool colour_at(const Image& image, int x, int y, int r, int g, int b)
{
    if (x < 0 || x >= 640 || y < 0 || y >= 480)
        return false;
    const unsigned char* p = &image[(size_t(479 - y) * 640 + x) * 3];
    return std::abs(p[0] - r) <= 2 && std::abs(p[1] - g) <= 2 && std::abs(p[2] - b) <= 2;
}

bool cloth_at(const Image& image, int x, int y) { return colour_at(image, x, y, 255, 204, 102); }
bool ball_at(const Image& image, int x, int y) { return colour_at(image, x, y, 140, 178, 242); }

bool cloth_near(const Image& image, int x, int y)
{
    for (int j = std::max(y - 6, 0); j <= std::min(y + 6, 479); ++j)
        for (int i = std::max(x - 6, 0); i <= std::min(x + 6, 639); ++i)
            if (cloth_at(image, i, j))
                return true;
    return false;
}

int lowest_cloth_row(const Image& image)  // 480 with no cloth
{
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            if (cloth_at(image, x, y))
                return y;
    return 480;
}

// Some ball lies under the cloth, in the same column.
bool balls_under_cloth(const Image& image)
{
    for (int x = 0; x < 640; ++x) {
        int y = 479;
        while (y >= 0 && !cloth_at(image, x, y))
            --y;
        for (; y >= 0; --y)
            if (ball_at(image, x, y))
                return true;
    }
    return false;
}

// A gap where threads were: a slit 3 pixels wide and 9 long, across or
// upright, with no thread in it, inside the cloth (threads within 30 pixels
// of it on all four sides), away from the pen at (pen_x, pen_y). A whole
// cloth's threads hanging are at most 4 or 5 pixels apart: no such slit fits
// (pulled hard, its cells stretch: look once it is let go).
bool gap_in_cloth(const Image& image, int pen_x, int pen_y)
{
    auto clear = [&](int x, int y, int half_w, int half_h) {
        for (int j = y - half_h; j <= y + half_h; ++j)
            for (int i = x - half_w; i <= x + half_w; ++i)
                if (cloth_at(image, i, j))
                    return false;
        return true;
    };
    auto thread_within = [&](int x, int y, int from, int dx, int dy) {
        for (int d = from + 1; d <= from + 30; ++d)
            if (cloth_at(image, x + d * dx, y + d * dy))
                return true;
        return false;
    };
    for (int y = 20; y < 460; ++y)
        for (int x = 20; x < 620; ++x)
            for (int upright = 0; upright < 2; ++upright) {
                const int half_w = upright ? 1 : 4, half_h = upright ? 4 : 1;
                if ((x < pen_x - 5 || x > pen_x + 21 || y < pen_y - 5 || y > pen_y + 21) &&
                    thread_within(x, y, half_w, -1, 0) && thread_within(x, y, half_w, 1, 0) &&
                    thread_within(x, y, half_h, 0, -1) && thread_within(x, y, half_h, 0, 1) &&
                    clear(x, y, half_w, half_h))
                    return true;
            }
    return false;
}

// Snapshots: the first frame, whose lowest row is the pins (the cloth leans
// up over them); hanging; pulled; for the yank, the torn cloth and the one
// made again. Then the last frame.
void check_cloth(const Scenario& s, const Image& last)
{
    const bool yanked = snapshots.size() == 4;
    // CLOTH_SNAPSHOTS=PREFIX keeps them as PREFIX0.ppm..., to look at when a check fails.
    if (const char* dump = std::getenv("CLOTH_SNAPSHOTS"))
        for (size_t i = 0; i < snapshots.size(); ++i) {
            std::ofstream out(std::string(dump) + std::to_string(i) + ".ppm");
            out << "P6 640 480 255\n";
            out.write(reinterpret_cast<const char*>(snapshots[i].data()), std::streamsize(snapshots[i].size()));
        }
    ASSERT_EQ(snapshots.size(), yanked ? 4u : 3u);
    EXPECT_LT(lowest_cloth_row(snapshots[0]), 480) << "no cloth in the first frame";
    EXPECT_LE(lowest_cloth_row(snapshots[1]), lowest_cloth_row(snapshots[0]) - 50) << "the cloth does not hang";
    EXPECT_FALSE(gap_in_cloth(snapshots[1], 320, 240)) << "a gap in the cloth as it hangs";
    EXPECT_TRUE(balls_under_cloth(snapshots[1])) << "no balls under the cloth";
    EXPECT_FALSE(cloth_near(snapshots[1], s.pen_x, s.pen_y)) << "the cloth hangs where it is to be pulled";
    if (yanked) {
        EXPECT_TRUE(gap_in_cloth(snapshots[2], s.pen_x, s.pen_y)) << "no gap where the threads tore";
        EXPECT_TRUE(balls_under_cloth(snapshots[2])) << "no balls under the torn cloth";
        EXPECT_FALSE(gap_in_cloth(snapshots[3], s.pen_x, s.pen_y)) << "started over, the cloth has a gap";
    } else {
        EXPECT_TRUE(cloth_near(snapshots[2], s.pen_x, s.pen_y)) << "the cloth does not follow the pen";
        EXPECT_FALSE(gap_in_cloth(last, s.pen_x, s.pen_y)) << "a gentle pull tears the cloth";
        EXPECT_FALSE(torn_in_title()) << window_title();
    }
    EXPECT_FALSE(cloth_near(last, s.pen_x, s.pen_y)) << "the cloth was not let go";
    // The pen is drawn as the shell draws it; the cloth anywhere else.
    std::vector<double> frame = expected_frame(s);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            for (int c = 0; c < 3 && (x < s.pen_x || x >= s.pen_x + 16 || y < s.pen_y || y >= s.pen_y + 16); ++c)
                frame[(size_t(479 - y) * 640 + x) * 3 + c] = last[(size_t(479 - y) * 640 + x) * 3 + c] / 255.0;
    EXPECT_EQ(mismatches(last, 640, 480, frame, false), 0) << "in the pen";
}

void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }

class Window : public testing::TestWithParam<Scenario> {
protected:
    void TearDown() override
    {
        end_process(program);
        end_x_server();
        snapshots.clear();
        for (const char* kind : {".frames", ".ppm", ".stderr"})
            unlink((files + kind).c_str());
    }
};

TEST_P(Window, PresentsTheFramesAndEndsAsExpected)
{
    const Scenario& s = GetParam();
    std::vector<double> frame = expected_frame(s);
    if (s.width)
        ASSERT_TRUE(start_x_server(s.width, s.height, s.window_manager));
    start_program(s);
    if (s.width && (*s.input || s.end_signal)) {
        ASSERT_TRUE(wait_frames(1, 10000)) << "no frame presented: " << file_text(files + ".stderr");
        EXPECT_TRUE(poll_until(2000, cursor_hidden)) << "the system pointer shows";
        EXPECT_TRUE(poll_until(2000, pointer_grab_refused)) << "the pointer is not grabbed";
        send_input(s, s.input);
        EXPECT_FALSE(program_ended()) << "ended before the key press";
        auto off = [&] { return mismatches(grab_screen(s.width, s.height), s.width, s.height, frame, s.full); };
        if (s.program == shell)
            EXPECT_TRUE(poll_until(1500, [&] { return off() == 0; })) << off() << " colour channels on the screen are off";
        if (!s.end_signal)
            send_input(s, "k");
    }
    EXPECT_EQ(end_program(5000, s.end_signal), s.status) << file_text(files + ".stderr");
    if (!s.width) {
        EXPECT_EQ(file_text(files + ".stderr"), "setting video mode failed.");
        return;
    }
    // What the libraries say during set-up is kept where the mode was set.
    EXPECT_NE(file_text(files + ".stderr").find("(set-up note)"), std::string::npos);
    long frames = 0, shortest_gap_us = 0;
    Image last;
    ASSERT_TRUE(read_presented(frames, shortest_gap_us, last));
    if (s.program == cloth)
        return check_cloth(s, last);
    EXPECT_EQ(mismatches(last, 640, 480, frame, false), 0) << "in the last frame";
    if (s.frames)
        EXPECT_EQ(frames, s.frames);
    // The 10 ms delay: at most 100 frames a second.
    if (frames > 1)
        EXPECT_GE(shortest_gap_us, 10000);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Window, testing::ValuesIn(scenarios),
                         [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
