// The picture_text tool, run as a program: its conversions, the C++ it writes,
// and how it turns down bad input.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "picture_text.h"
#include "stb_image.h"
#include "stb_image_write.h"

namespace {

const std::string tool = PICTURE_TEXT_TOOL;
const std::string work = TOOL_TEST_DIR;

struct Outcome {
    int exit_code;  // -1 when the tool did not exit normally (a crash)
    std::string out, err;
};

std::string slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void spit(const std::string& path, const std::string& data)
{
    std::ofstream f(path, std::ios::binary);
    f << data;
}

// Runs the tool with arguments already quoted for the shell, in directory dir
// when one is given.
Outcome run_tool(const std::string& args, const std::string& dir = "")
{
    mkdir(work.c_str(), 0755);
    std::string out = work + "/stdout", err = work + "/stderr";
    std::string command = tool + " " + args + " >" + out + " 2>" + err;
    if (!dir.empty())
        command = "cd " + dir + " && " + command;
    int status = std::system(command.c_str());
    Outcome r;
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

std::string write_png(const std::string& name, int width, int height,
                      const std::vector<unsigned char>& rgb)
{
    mkdir(work.c_str(), 0755);
    std::string path = work + "/" + name;
    EXPECT_NE(stbi_write_png(path.c_str(), width, height, 3, rgb.data(), width * 3), 0);
    return path;
}

// The characters of the one string literal (split or not) in a C++ source,
// with escapes undone: what the compiler would make of it.
std::string literal_value(const std::string& source)
{
    std::string value;
    std::size_t start = source.find("_header_data =");
    bool inside = false;
    for (std::size_t i = start; i != std::string::npos && i < source.size(); ++i) {
        char c = source[i];
        if (!inside) {
            if (c == ';')
                break;
            inside = c == '"';
        } else if (c == '\\') {
            value += source[++i];
        } else if (c == '"') {
            inside = false;
        } else {
            value += c;
        }
    }
    return value;
}

// Two pixels whose text needs every escape: '"', '\' and "??".
const std::vector<unsigned char> awkward = {7, 183, 158, 0, 0, 0};

}  // namespace

TEST(PictureTextTool, ImageToTextAndBack)
{
    std::vector<unsigned char> rgb(4 * 2 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<unsigned char>(i * 23 + 5);
    std::string png = write_png("in.png", 4, 2, rgb);

    Outcome text = run_tool("text " + png);
    ASSERT_EQ(text.exit_code, 0) << text.err;
    EXPECT_EQ(text.out, encode_picture_text(rgb.data(), 4, 2) + "\n");

    spit(work + "/in.txt", text.out);
    Outcome back = run_tool("png " + work + "/in.txt 4 2 " + work + "/back.png");
    ASSERT_EQ(back.exit_code, 0) << back.err;
    int w = 0, h = 0, n = 0;
    unsigned char* pixels = stbi_load((work + "/back.png").c_str(), &w, &h, &n, 3);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(std::vector<unsigned char>(pixels, pixels + rgb.size()), rgb);
    stbi_image_free(pixels);
}

TEST(PictureTextTool, CppSourceHoldsTheExactTextAndSizes)
{
    std::string png = write_png("awkward.png", 2, 1, awkward);
    std::string text = encode_picture_text(awkward.data(), 2, 1);
    ASSERT_NE(text.find('"'), std::string::npos);
    ASSERT_NE(text.find('\\'), std::string::npos);
    ASSERT_NE(text.find("??"), std::string::npos);

    Outcome r = run_tool("cpp thing " + png + " " + work + "/thing.cpp");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string source = slurp(work + "/thing.cpp");
    EXPECT_NE(source.find("int thing_width = 2;"), std::string::npos) << source;
    EXPECT_NE(source.find("int thing_height = 1;"), std::string::npos) << source;
    EXPECT_NE(source.find("const char* thing_header_data ="), std::string::npos) << source;
    EXPECT_EQ(source.find("??"), std::string::npos) << "a trigraph can form:\n" << source;
    EXPECT_EQ(literal_value(source), text) << source;
}

TEST(PictureTextTool, CommittedSourcesAreWhatTheToolWrites)
{
    // Byte for byte, run as scripts/make-pictures.sh runs it, so a hand edit of a
    // generated file or a change to the tool's output shows up here.
    for (const char* name : {"wait", "pen"}) {
        SCOPED_TRACE(name);
        std::string n = name;
        std::string out = work + "/" + n + "_picture.cpp";
        Outcome r = run_tool("cpp " + n + " pictures/source/" + n + ".png " + out, PROJECT_SOURCE_ROOT);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        std::string committed = std::string(PROJECT_SOURCE_ROOT) + "/pictures/" + n + "_picture.cpp";
        // Not EXPECT_EQ: a difference would print both files whole.
        EXPECT_TRUE(slurp(out) == slurp(committed))
            << committed << " differs from " << out << ": run scripts/make-pictures.sh";
    }
}

TEST(PictureTextTool, BadInputIsRefusedWithAMessage)
{
    std::string good = write_png("good.png", 2, 2, std::vector<unsigned char>(12, 200));
    std::string odd = write_png("odd.png", 3, 2, std::vector<unsigned char>(18, 200));
    spit(work + "/not_an_image.png", "this is not a picture\n");
    spit(work + "/short.txt", "````````\n");          // 2 pixels of a 2x2
    spit(work + "/bad_char.txt", "````````````{{{{"); // '{' is past '`'
    spit(work + "/ok.txt", "````````````````\n");
    const std::string missing = work + "/no_such_file.png";

    struct Case {
        const char* what;
        std::string args;
    };
    const Case cases[] = {
        {"no arguments", ""},
        {"unknown mode", "draw " + good},
        {"missing image", "text " + missing},
        {"undecodable image", "text " + work + "/not_an_image.png"},
        {"missing text file", "png " + work + "/no_such.txt 2 2 " + work + "/x.png"},
        {"text shorter than the size", "png " + work + "/short.txt 2 2 " + work + "/x.png"},
        {"text longer than the size", "png " + work + "/ok.txt 1 2 " + work + "/x.png"},
        {"character out of range", "png " + work + "/bad_char.txt 2 2 " + work + "/x.png"},
        {"zero width", "png " + work + "/ok.txt 0 2 " + work + "/x.png"},
        {"size not a number", "png " + work + "/ok.txt 2x 2 " + work + "/x.png"},
        {"size overflowing the text", "png " + work + "/ok.txt 65536 65536 " + work + "/x.png"},
        {"size past a long", "png " + work + "/ok.txt 99999999999999999999 1 " + work + "/x.png"},
        {"unwritable PNG", "png " + work + "/ok.txt 2 2 " + work + "/no/such/dir.png"},
        {"sides not powers of two", "cpp thing " + odd + " " + work + "/x.cpp"},
        {"name not an identifier", "cpp 9lives " + good + " " + work + "/x.cpp"},
        {"unwritable cpp", "cpp thing " + good + " " + work + "/no/such/dir.cpp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome r = run_tool(c.args);
        EXPECT_GT(r.exit_code, 0) << "exit code " << r.exit_code << " (-1: did not exit normally)";
        EXPECT_FALSE(r.err.empty());
        EXPECT_TRUE(r.out.empty()) << r.out;
    }

    // The good inputs above are refused for the right reason only.
    EXPECT_EQ(run_tool("png " + work + "/ok.txt 2 2 " + work + "/x.png").exit_code, 0);
    EXPECT_EQ(run_tool("cpp thing " + good + " " + work + "/x.cpp").exit_code, 0);
}
