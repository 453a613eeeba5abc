#pragma once
// A private X server for the tests (Xvfb, openbox on request) and the
// processes run on it. Whatever it starts is killed with the test process,
// however that ends.
#include <X11/Xlib.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

bool poll_until(int timeout_ms, const std::function<bool()>& done);
// Runs file with argv, whose first entry is the name the process sees, and
// with env added to this process's environment less the variables that would
// point it at another display. SIGKILL ends it when this process ends.
pid_t spawn(const char* file, const std::vector<std::string>& argv, std::vector<std::string> env,
            const std::string& stderr_path = "/dev/null");
void end_process(pid_t& pid);  // kills and reaps it

bool start_x_server(int width, int height, bool window_manager);  // ends any earlier one
void end_x_server();
Display* x_display();
std::string x_display_name();
