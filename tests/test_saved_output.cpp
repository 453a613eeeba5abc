// What the picture tools leave at the path they were told to write: the new
// file whole, or after a failure the old one exactly as it was; never a
// temporary file; links, FIFOs and devices still what they were.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void spill(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A file as a person would see it: its type, permission bits and content (a
// link's content is what it names).
struct Entry {
    char type;  // f regular, l link, p FIFO, ? other
    unsigned mode;
    std::string content;
    bool operator==(const Entry& o) const { return type == o.type && mode == o.mode && content == o.content; }
};
using Tree = std::map<std::string, Entry>;

Tree snapshot(const std::string& root)
{
    Tree tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        std::string path = item.path().string();
        struct stat st;
        lstat(path.c_str(), &st);
        Entry e{'?', unsigned(st.st_mode & 07777), ""};
        if (S_ISREG(st.st_mode))
            e = {'f', e.mode, slurp(path)};
        else if (S_ISLNK(st.st_mode))
            e = {'l', e.mode, fs::read_symlink(item.path()).string()};
        else if (S_ISFIFO(st.st_mode))
            e.type = 'p';
        else if (S_ISCHR(st.st_mode))
            e = {'c', e.mode, std::to_string(st.st_rdev)};
        else if (S_ISDIR(st.st_mode))
            continue;
        tree[path.substr(root.size() + 1)] = e;
    }
    return tree;
}

std::string describe(const Tree& tree)
{
    std::ostringstream out;
    for (const auto& [path, e] : tree)
        out << "  " << path << " " << e.type << " " << std::oct << e.mode << std::dec << " "
            << e.content.size() << " bytes: " << e.content.substr(0, 24) << "\n";
    return out.str();
}

ino_t inode(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

struct ToolRun {
    int status;
    std::string error;
};

// Runs a tool in the source tree, standard output on stdout_path, with a
// file-size limit of limit bytes (0: none) standing for a full disk: SIGXFSZ is
// ignored, so that a write past it fails with EFBIG. The umask is 002, which no
// mode the tool might fall back to (mkstemp's 0600, the old file's 0640) matches.
ToolRun run_tool(const std::vector<std::string>& args, long limit, const std::string& stdout_path)
{
    int err[2];
    if (pipe(err) != 0)
        return {-1, "no pipe"};
    pid_t pid = fork();
    if (pid < 0)
        return {-1, "no fork"};
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        umask(002);
        struct rlimit file_size = {rlim_t(limit), rlim_t(limit)};
        int out = open(stdout_path.c_str(), O_WRONLY);
        // Messages go through a pipe, which no file-size limit cuts short.
        if (chdir(PROJECT_SOURCE_ROOT) != 0 || out < 0 || dup2(out, 1) < 0 || dup2(err[1], 2) < 0 ||
            (limit && setrlimit(RLIMIT_FSIZE, &file_size) != 0))
            _exit(125);
        signal(SIGXFSZ, SIG_IGN);
        execv(argv[0], argv.data());
        _exit(126);
    }
    close(err[1]);
    std::string error;
    char buffer[4096];
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;)
        error.append(buffer, std::size_t(n));
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, error};
}

// Where a case's output goes. A Link is links/NAME naming ../out/NAME. Stdout is
// links/stdout naming /proc/self/fd/1, as /dev/stdout does, with standard output
// open on out/NAME; Full is out/full, a device like /dev/full. Both are made in
// the case's directory, so that a faulty tool replacing them (as root) does no harm.
enum Target { Regular, Absent, Link, Fifo, Stdout, Full };

}  // namespace

TEST(SavedOutput, WholeOrNotAtAll)
{
    const std::string work = SAVED_OUTPUT_TEST_DIR, source = PROJECT_SOURCE_ROOT;
    fs::remove_all(work);
    fs::create_directories(work);
    const std::string old_bytes = "// edited by hand, not to be lost\n";
    struct Command { std::vector<std::string> args; std::string name, expect; };
    const Command cpp = {{PICTURE_TEXT_TOOL, "cpp", "pen", "pictures/source/pen.png"}, "pen_picture.cpp",
                         slurp(source + "/pictures/pen_picture.cpp")};
    Command png = {{PICTURE_TEXT_TOOL, "png", "tools/testdata/pen.h"}, "pen.png", ""};
    // draw_pictures writes a directory: wait.png, then pen.png.
    const Command draw = {{DRAW_PICTURES_TOOL}, "wait.png", ""};
    {
        std::vector<std::string> args = png.args;
        args.push_back(work + "/reference.png");
        spill(work + "/reference.png", "");
        ASSERT_EQ(run_tool(args, 0, "/dev/null").status, 0);
        png.expect = slurp(work + "/reference.png");
        ASSERT_FALSE(cpp.expect.empty() || png.expect.empty());
    }
    struct Case { const Command& command; Target target; long limit; int status; const char* error; };
    const Case cases[] = {
        {cpp, Regular, 1000, 1, "pen_picture.cpp: File too large"},
        {cpp, Regular, 0, 0, ""},
        {png, Regular, 100, 1, "pen.png: File too large"},
        {png, Regular, 0, 0, ""},
        {cpp, Absent, 1000, 1, "File too large"},
        {cpp, Absent, 0, 0, ""},
        {cpp, Link, 1000, 1, "links/pen_picture.cpp: File too large"},
        {cpp, Link, 0, 0, ""},
        {png, Fifo, 0, 0, ""},
        {png, Stdout, 0, 0, ""},
        {png, Full, 0, 1, "full: No space left on device"},
        {draw, Regular, 100, 1, "wait.png: File too large"},
    };
    int number = 0;
    for (const Case& c : cases) {
        const std::string root = work + "/" + std::to_string(++number);
        SCOPED_TRACE(root + ": " + c.command.args.back() + " to target kind " + std::to_string(c.target) +
                     ", limit " + std::to_string(c.limit));
        const std::string file = root + "/out/" + c.command.name;
        fs::create_directories(root + "/out");
        std::string given = file, stdout_path = "/dev/null";
        if (c.target == Regular || c.target == Link || c.target == Stdout) {
            spill(file, old_bytes);
            chmod(file.c_str(), 0640);
        }
        if (&c.command == &draw) {
            spill(root + "/out/pen.png", old_bytes);
            given = root + "/out";
        } else if (c.target == Link) {
            fs::create_directories(root + "/links");
            fs::create_symlink("../out/" + c.command.name, root + "/links/" + c.command.name);
            given = root + "/links/" + c.command.name;
        } else if (c.target == Fifo) {
            mkfifo(file.c_str(), 0640);
        } else if (c.target == Stdout) {
            fs::create_directories(root + "/links");
            fs::create_symlink("/proc/self/fd/1", root + "/links/stdout");
            given = root + "/links/stdout";
            stdout_path = file;
        } else if (c.target == Full) {
            // Without the right to make devices there is none to replace /dev/full either.
            given = root + "/out/full";
            if (mknod(given.c_str(), S_IFCHR | 0640, makedev(1, 7)) != 0)
                given = "/dev/full";
        }
        // Opened before the tool runs, so that its open for writing does not wait.
        int fifo = c.target == Fifo ? open(file.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        const Tree before = snapshot(root);
        const ino_t before_inode = inode(file);

        std::vector<std::string> args = c.command.args;
        args.push_back(given);
        ToolRun run = run_tool(args, c.limit, stdout_path);

        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.error.find(c.error), std::string::npos) << run.error;
        Tree expected = before;
        if (c.status == 0 && c.target != Fifo) {
            // The old file's mode, or a new file's from the umask.
            unsigned mode = c.target == Absent ? 0664 : 0640;
            expected[file.substr(root.size() + 1)] = {'f', mode, c.command.expect};
        }
        const Tree after = snapshot(root);
        EXPECT_TRUE(after == expected) << "expected:\n" << describe(expected) << "found:\n" << describe(after);
        if (c.target == Stdout) {
            EXPECT_EQ(inode(file), before_inode) << "replaced, not written through the open file";
        }
        if (c.target == Fifo) {
            std::string received;
            char buffer[4096];
            for (ssize_t n; (n = read(fifo, buffer, sizeof buffer)) > 0;)
                received.append(buffer, std::size_t(n));
            close(fifo);
            EXPECT_TRUE(received == c.command.expect) << received.size() << " bytes through the FIFO";
        }
    }
}
