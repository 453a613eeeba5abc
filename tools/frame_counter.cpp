// Preloaded into penshell (soak run, tests) to watch it without changing it:
// - PENSHELL_FRAME_FILE: each presented frame rewrites the count at its start;
// - PENSHELL_LAST_FRAME: at exit, the last presented frame as a PPM image whose
//   comment gives the frame count and the shortest time from the end of one
//   swap to the start of the next (microseconds, -1 with a single frame);
// - PENSHELL_EVENTS: events pushed at the first poll, before the first frame:
//   "k" key press, "u" key release, "b" button press, "q" quit request,
//   "mDX,DY" relative motion, each optionally repeated with "*N", separated
//   by spaces;
// - PENSHELL_SETUP_NOTE: written to standard error from within SDL_Init, as a
//   library's diagnostic during set-up would be;
// - PENSHELL_CORES: the number of cores the C library reports
//   (std::thread::hardware_concurrency asks it), as on a machine with that many.
#include <SDL.h>
#include <GL/gl.h>
#include <dlfcn.h>
#include <sys/sysinfo.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <typename F>
F next(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

unsigned long frames = 0;
long shortest_us = -1;
timespec last_swap;
unsigned char pixels[480][640][3];  // GL's order: bottom row first

long microseconds_since(const timespec& t)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - t.tv_sec) * 1000000L + (now.tv_nsec - t.tv_nsec) / 1000;
}

void read_frame()
{
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 640, 480, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    glPopClientAttrib();
}

__attribute__((destructor)) void write_last_frame()
{
    const char* path = std::getenv("PENSHELL_LAST_FRAME");
    // Only the process that presented frames: the preload reaches its helpers too.
    FILE* out = path && frames > 0 ? std::fopen(path, "wb") : nullptr;
    if (!out)
        return;
    std::fprintf(out, "P6\n# frames %lu shortest_us %ld\n640 480\n255\n", frames, shortest_us);
    for (int y = 479; y >= 0; --y)
        std::fwrite(pixels[y], 3, 640, out);
    std::fclose(out);
}

void push_events(const char* script)
{
    for (const char* p = script; *p;) {
        SDL_Event event = {};
        int dx = 0, dy = 0, repeat = 1, used = 0;
        char kind[2] = "";
        if (std::sscanf(p, " m%d,%d%n", &dx, &dy, &used) == 2) {
            event.type = SDL_MOUSEMOTION;
            event.motion.xrel = Sint16(dx);
            event.motion.yrel = Sint16(dy);
        } else if (std::sscanf(p, " %1[kubq]%n", kind, &used) == 1) {
            static const char letters[] = "kubq";
            const Uint8 types[] = {SDL_KEYDOWN, SDL_KEYUP, SDL_MOUSEBUTTONDOWN, SDL_QUIT};
            event.type = types[std::strchr(letters, kind[0]) - letters];
        } else {
            return;
        }
        p += used;
        if (std::sscanf(p, "*%d%n", &repeat, &used) == 1)
            p += used;
        for (int i = 0; i < repeat; ++i)
            if (SDL_PushEvent(&event) != 0)
                std::abort();  // a queue too short for the script must not pass unseen
    }
}

}  // namespace

extern "C" int SDL_Init(Uint32 flags)
{
    static auto init = next<int (*)(Uint32)>("SDL_Init");
    if (const char* note = std::getenv("PENSHELL_SETUP_NOTE"))
        std::fputs(note, stderr);
    return init(flags);
}

extern "C" int SDL_PollEvent(SDL_Event* event)
{
    static auto poll = next<int (*)(SDL_Event*)>("SDL_PollEvent");
    static bool pushed = false;
    if (!pushed) {
        pushed = true;
        if (const char* script = std::getenv("PENSHELL_EVENTS"))
            push_events(script);
    }
    return poll(event);
}

extern "C" int get_nprocs(void) noexcept
{
    static auto nprocs = next<int (*)()>("get_nprocs");
    const char* cores = std::getenv("PENSHELL_CORES");
    return cores && std::atoi(cores) > 0 ? std::atoi(cores) : nprocs();
}

extern "C" void SDL_GL_SwapBuffers(void)
{
    static auto swap = next<void (*)(void)>("SDL_GL_SwapBuffers");
    static const bool keep_frame = std::getenv("PENSHELL_LAST_FRAME") != nullptr;
    static int fd = [] {
        const char* path = std::getenv("PENSHELL_FRAME_FILE");
        return path ? open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644) : -1;
    }();
    if (frames > 0) {
        long since = microseconds_since(last_swap);
        if (shortest_us < 0 || since < shortest_us)
            shortest_us = since;
    }
    if (keep_frame)
        read_frame();
    swap();
    clock_gettime(CLOCK_MONOTONIC, &last_swap);
    ++frames;
    if (fd >= 0) {
        char line[32];
        int n = std::snprintf(line, sizeof line, "%20lu\n", frames);
        if (pwrite(fd, line, size_t(n), 0) < 0)
            fd = -1;
    }
}
