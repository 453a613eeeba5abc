// Preloaded into penshell by the soak run: counts presented frames without
// touching the program. Each swap rewrites the count at the start of the file
// named by PENSHELL_FRAME_FILE.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern "C" void SDL_GL_SwapBuffers(void)
{
    static void (*swap)(void) = reinterpret_cast<void (*)(void)>(dlsym(RTLD_NEXT, "SDL_GL_SwapBuffers"));
    static int fd = [] {
        const char* path = std::getenv("PENSHELL_FRAME_FILE");
        return path ? open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644) : -1;
    }();
    static unsigned long frames = 0;
    swap();
    if (fd >= 0) {
        char line[32];
        int n = std::snprintf(line, sizeof line, "%20lu\n", ++frames);
        if (pwrite(fd, line, size_t(n), 0) < 0)
            fd = -1;
    }
}
