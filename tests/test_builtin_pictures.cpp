// The built-in pictures and the picture_text tool that generates them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "picture_text.h"
#include "pictures.h"
#include "stb_image_write.h"

namespace {

const std::string work = TOOL_TEST_DIR;

std::string slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The tool's exit code (-1 if it crashed); its stderr goes to work/stderr.
int run_tool(const std::string& args)
{
    mkdir(work.c_str(), 0755);
    std::string command = std::string("cd " PROJECT_SOURCE_ROOT " && " PICTURE_TEXT_TOOL " ") + args +
                          " >" + work + "/stdout 2>" + work + "/stderr";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(BuiltinPictures, SizesLengthsAndLook)
{
    struct Builtin {
        const char* name;
        const char* text;
        int width, height, expected_side;
    };
    const Builtin builtins[] = {{"wait", wait_header_data, wait_width, wait_height, 32},
                                {"pen", pen_header_data, pen_width, pen_height, 16}};
    for (const Builtin& b : builtins) {
        SCOPED_TRACE(b.name);
        EXPECT_EQ(b.width, b.expected_side);
        EXPECT_EQ(b.height, b.expected_side);
        // Shorter leaves black pixels; longer means text and sizes disagree.
        ASSERT_EQ(std::strlen(b.text), 4u * b.width * b.height);
        std::vector<unsigned char> rgb = decode_picture(b.text, b.width, b.height);
        // The inverting blend needs grey on pure black: colour would tint, and a
        // grey ground would show as a faint box.
        for (std::size_t i = 0; i < rgb.size(); i += 3)
            ASSERT_TRUE(rgb[i] == rgb[i + 1] && rgb[i + 1] == rgb[i + 2]) << "pixel " << i / 3;
        EXPECT_EQ(rgb[0], 0);
        if (b.text == pen_header_data)  // the pen's bottom-left corner is the pointer
            EXPECT_GE(rgb[(b.height - 1) * b.width * 3], 192);
    }
}

TEST(BuiltinPictures, CommittedSourcesAreWhatTheToolWrites)
{
    // Byte for byte, as scripts/make-pictures.sh runs it: catches a stale or
    // hand-edited picture and a change in the tool's escaping.
    for (std::string name : {"wait", "pen"}) {
        SCOPED_TRACE(name);
        std::string out = work + "/" + name + "_picture.cpp";
        ASSERT_EQ(run_tool("cpp " + name + " pictures/source/" + name + ".png " + out), 0)
            << slurp(work + "/stderr");
        // Not EXPECT_EQ: a difference would print both files whole.
        EXPECT_TRUE(slurp(out) == slurp(PROJECT_SOURCE_ROOT "/pictures/" + name + "_picture.cpp"))
            << "pictures/" << name << "_picture.cpp is stale: run scripts/make-pictures.sh";
    }
}

TEST(BuiltinPictures, ToolRefusesBadInputWithAMessage)
{
    mkdir(work.c_str(), 0755);
    const std::string odd = work + "/odd.png", junk = work + "/junk.png", text = work + "/ok.txt";
    ASSERT_NE(stbi_write_png(odd.c_str(), 3, 2, 3, std::vector<unsigned char>(18).data(), 9), 0);
    std::ofstream(junk) << "not a picture\n";
    std::ofstream(text) << "````````````````\n";  // 2x2
    const std::string cases[] = {
        "text " + work + "/missing.png",
        "text " + junk,
        "png " + text + " 1 2 " + work + "/x.png",    // text longer than the size
        "png " + text + " 0 2 " + work + "/x.png",
        "cpp thing " + odd + " " + work + "/x.cpp",  // sides not powers of two
    };
    for (const std::string& args : cases) {
        SCOPED_TRACE(args);
        EXPECT_GT(run_tool(args), 0);
        EXPECT_FALSE(slurp(work + "/stderr").empty());
    }
    // The text is refused for its size only.
    EXPECT_EQ(run_tool("png " + text + " 2 2 " + work + "/x.png"), 0);
}
