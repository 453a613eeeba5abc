#include "save_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

// The temporary file being written, for the signal handler to remove.
static char temp_path[PATH_MAX];
static volatile sig_atomic_t temp_exists = 0;

static const int fatal_signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
static const int signal_count = sizeof fatal_signals / sizeof fatal_signals[0];

static void remove_temp_and_die(int sig)
{
    if (temp_exists)
        unlink(temp_path);
    signal(sig, SIG_DFL);
    raise(sig);  // delivered on return, with the default action
}

// Signal dispositions while a temporary file exists; restored afterwards.
struct SavedSignals {
    struct sigaction fatal[signal_count];
    struct sigaction file_size;
};

static void catch_signals(SavedSignals& saved)
{
    struct sigaction action = {};
    action.sa_handler = remove_temp_and_die;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < signal_count; ++i) {
        sigaction(fatal_signals[i], nullptr, &saved.fatal[i]);
        // A signal ignored by whoever started us (nohup) stays ignored.
        if (saved.fatal[i].sa_handler != SIG_IGN)
            sigaction(fatal_signals[i], &action, nullptr);
    }
    // Past a file-size limit a write then fails with EFBIG, which is handled,
    // instead of SIGXFSZ ending the process with the temporary file left.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &saved.file_size);
}

static void restore_signals(const SavedSignals& saved)
{
    for (int i = 0; i < signal_count; ++i)
        sigaction(fatal_signals[i], &saved.fatal[i], nullptr);
    sigaction(SIGXFSZ, &saved.file_size, nullptr);
}

static void block_signals(bool block)
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : fatal_signals)
        sigaddset(&set, sig);
    sigprocmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

static std::string directory_of(const std::string& path)
{
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

static std::string name_of(const std::string& path)
{
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The links in procfs (/proc/self/fd/N, behind /dev/stdout and /dev/fd/N) name
// an open file, not a place for a new one: what they name is written directly.
static bool in_procfs(const std::string& directory)
{
    struct statfs fs;
    return statfs(directory.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// Follows path through symbolic links to the file they name, existing or not.
// Sets direct when a link lies in procfs; path is then left at that link.
static std::string follow_links(std::string& path, bool& direct)
{
    for (int hops = 0;; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return "";  // a missing file or an unreadable directory shows at the write
        if (hops == 40)
            return std::strerror(ELOOP);
        std::string directory = directory_of(path);
        if (in_procfs(directory)) {
            direct = true;
            return "";
        }
        std::vector<char> target(std::size_t(st.st_size) + 2);
        ssize_t n = readlink(path.c_str(), target.data(), target.size());
        if (n < 0)
            return std::strerror(errno);
        if (std::size_t(n) >= target.size())
            return "the symbolic link changed while it was read";
        std::string next(target.data(), std::size_t(n));
        path = !next.empty() && next[0] == '/' ? next : directory + "/" + next;
    }
}

static bool write_all(int fd, const std::string& data)
{
    for (std::size_t done = 0; done < data.size();) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

// What cannot be replaced, as the tools always wrote it.
static std::string write_directly(const char* path, const std::string& data)
{
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return std::strerror(errno);
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size() && std::fflush(f) == 0;
    int error = ok ? 0 : errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    return ok ? "" : std::strerror(error);
}

static mode_t current_umask()
{
    mode_t mask = umask(0);  // the only way to read it; the tools have one thread
    umask(mask);
    return mask;
}

// Writes data into the open temporary file fd, with the mode and owner that the
// replaced file old had (null: a new file). Returns "" or why not.
static std::string fill_temp(int fd, const struct stat* old, const std::string& data)
{
    // Where allowed; where not, the file stays ours, as a new one would be.
    if (old && (old->st_uid != geteuid() || old->st_gid != getegid()))
        (void)!fchown(fd, old->st_uid, old->st_gid);
    mode_t mode = old ? old->st_mode & 07777 : 0666 & ~current_umask();
    if (fchmod(fd, mode) != 0 || !write_all(fd, data) || fsync(fd) != 0) {
        int error = errno;
        close(fd);
        return std::strerror(error);
    }
    return close(fd) == 0 ? "" : std::strerror(errno);
}

static std::string replace_file(const std::string& target, const struct stat* old, const std::string& data)
{
    std::string temp = directory_of(target) + "/." + name_of(target) + ".XXXXXX";
    if (temp.size() >= sizeof temp_path)
        return std::strerror(ENAMETOOLONG);
    SavedSignals saved;
    catch_signals(saved);
    // No signal between making the file and noting it for the handler.
    block_signals(true);
    std::memcpy(temp_path, temp.c_str(), temp.size() + 1);
    int fd = mkstemp(temp_path);
    int error = errno;
    temp_exists = fd >= 0;
    block_signals(false);
    std::string problem;
    if (fd < 0)
        problem = std::string("cannot make a temporary file beside it: ") + std::strerror(error);
    else if ((problem = fill_temp(fd, old, data)).empty() && rename(temp_path, target.c_str()) != 0)
        problem = std::strerror(errno);
    if (fd >= 0 && !problem.empty())
        unlink(temp_path);
    temp_exists = 0;
    restore_signals(saved);
    return problem;
}

std::string save_file(const char* path, const std::string& data)
{
    std::string target = path;
    bool direct = false;
    std::string problem = follow_links(target, direct);
    if (!problem.empty())
        return problem;
    struct stat st;
    bool exists = stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return std::strerror(errno);
    if (direct || (exists && !S_ISREG(st.st_mode)))
        return write_directly(path, data);
    return replace_file(target, exists ? &st : nullptr, data);
}
