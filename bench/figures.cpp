// The closing figures of a bench run, kept by name and written as JSON for
// scripts/charts.py, with the machine they were measured on. Natively and in
// WebAssembly (under node, whose files are the real ones).
#include "bench.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>

namespace {

std::map<std::string, double> g_figures;

// The processor's name as /proc/cpuinfo gives it, or "unknown".
std::string processor_name() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 10, "model name") == 0) {
            const size_t colon = line.find(':');
            if (colon != std::string::npos && colon + 2 <= line.size()) return line.substr(colon + 2);
        }
    return "unknown";
}

std::string quoted(const std::string& s) {
    std::string q = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') q += '\\';
        if (static_cast<unsigned char>(c) >= 0x20) q += c;
    }
    return q + "\"";
}

}  // namespace

void record_figure(const std::string& name, double value) { g_figures[name] = value; }

bool write_figures(const char* path, const std::string& build, const std::string& path_taken) {
    std::FILE* f = std::fopen(path, "w");
    if (!f) {
        std::perror(path);
        return false;
    }
    std::fprintf(f, "{\n  \"machine\": {\"processor\": %s, \"cores\": %u},\n", quoted(processor_name()).c_str(),
                 std::thread::hardware_concurrency());
    std::fprintf(f, "  \"build\": %s,\n  \"path\": %s,\n  \"figures\": {", quoted(build).c_str(),
                 quoted(path_taken).c_str());
    const char* separator = "\n";
    for (const auto& figure : g_figures) {
        std::fprintf(f, "%s    %s: %.6g", separator, quoted(figure.first).c_str(), figure.second);
        separator = ",\n";
    }
    std::fprintf(f, "\n  }\n}\n");
    return std::fclose(f) == 0;
}
