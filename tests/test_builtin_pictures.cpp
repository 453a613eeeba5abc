// The built-in pictures and the picture_text tool that generates them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "picture_text.h"
#include "pictures.h"
#include "stb_image.h"

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// What a file holds: an image's picture text, else its bytes. Relative to the source tree.
std::string held(std::string path)
{
    if (path[0] != '/')
        path = PROJECT_SOURCE_ROOT "/" + path;
    int width = 0, height = 0, channels = 0;
    if (unsigned char* rgb = stbi_load(path.c_str(), &width, &height, &channels, 3)) {
        std::string text = encode_picture_text(rgb, width, height) + "\n";
        stbi_image_free(rgb);
        return text;
    }
    return slurp(path);
}

}  // namespace

TEST(BuiltinPictures, SizesLengthsAndLook)
{
    struct Builtin { const char* text; int width, height, side; };
    const Builtin builtins[] = {{wait_header_data, wait_width, wait_height, 32},
                                {pen_header_data, pen_width, pen_height, 16}};
    for (const Builtin& b : builtins) {
        SCOPED_TRACE(b.side);
        EXPECT_TRUE(b.width == b.side && b.height == b.side);
        // Shorter leaves black pixels; longer means text and sizes disagree.
        ASSERT_EQ(std::strlen(b.text), 4u * b.side * b.side);
        std::vector<unsigned char> rgb = decode_picture(b.text, b.side, b.side);
        // The inverting blend needs grey on pure black: colour would tint, and a
        // grey ground would show as a faint box.
        for (std::size_t i = 0; i < rgb.size(); i += 3)
            ASSERT_TRUE(rgb[i] == rgb[i + 1] && rgb[i + 1] == rgb[i + 2]) << "pixel " << i / 3;
        EXPECT_EQ(rgb[0], 0);
        EXPECT_TRUE(b.side != 16 || rgb[15 * 16 * 3] >= 192) << "the pen's tip, the pointer, is dark";
    }
}

// Each case is run by sh in the source tree, the tool as $T and the work
// directory as $W. Its output (a file in $W, else standard output) must hold what
// the expected file does, or, when none is given, be absent or empty.
// tools/testdata/README says how the data were made, the GIMP exports by GIMP itself.
TEST(PictureTextTool, GoodAndBadInputs)
{
    const std::string work = TOOL_TEST_DIR;
    mkdir(work.c_str(), 0755);
    struct Case { std::string command; int status; std::string error, out, expect; };
    const Case cases[] = {
        {"$T text tools/testdata/escapes.h", 0, "escapes.h: 20x3 pixels", "", "tools/testdata/escapes.ppm"},
        {"$T text tools/testdata/escapes.ppm", 0, "", "", "tools/testdata/escapes.txt"},
        {"$T text tools/testdata/indexed.h", 0, "5x3", "", "tools/testdata/indexed.ppm"},
        {"$T text tools/testdata/alpha.png", 0, "", "", "tools/testdata/alpha_over_black.png"},
        {"$T png tools/testdata/pen.h $W/out.png", 0, "", "out.png", "pictures/source/pen.png"},
        {"$T png tools/testdata/escapes.txt 20 3 $W/out.png", 0, "", "out.png", "tools/testdata/escapes.ppm"},
        // The committed sources must be what make-pictures.sh makes of theirs, and
        // GIMP's export of the pen the same, whatever its file is called.
        {"mkdir -p $W/pictures/source && cp tools/testdata/pen.h $W/pictures/source/pen.png && cd $W && "
         "$T cpp pen pictures/source/pen.png out.cpp", 0, "", "out.cpp", "pictures/pen_picture.cpp"},
        {"$T cpp pen pictures/source/pen.png $W/out.cpp", 0, "", "out.cpp", "pictures/pen_picture.cpp"},
        {"$T cpp wait pictures/source/wait.png $W/out.cpp", 0, "", "out.cpp", "pictures/wait_picture.cpp"},
        // The reader's edges: pixels use colour 3, the last of a four-colour map, and
        // escapes.h has '`' as its character 10, so one past either must be refused.
        {"$T text tools/testdata/indexed_map_4.h", 0, "5x3", "", "tools/testdata/indexed.ppm"},
        {"$T text tools/testdata/indexed_index_4.h", 1, "pixel 1 has colour 4, past the 4 of the colour map", "", ""},
        {"$T text tools/testdata/escapes_past_backtick.h", 1, "pixel character 10 is outside \"!\"..\"`\"", "", ""},
        {"$T text tools/testdata/escapes_truncated.h", 1, "escapes_truncated.h: GIMP header export: the file ends", "", ""},
        {"$T png tools/testdata/escapes_height_4.h $W/out.png", 1, "declares 20x4, which takes 320 characters, but its data has 240", "out.png", ""},
        {"$T png tools/testdata/escapes_height_2.h $W/out.png", 1, "declares 20x2", "out.png", ""},
        {"$T png tools/testdata/escapes.h 20 4 $W/out.png", 1, "a 20x3 picture, not 20x4", "out.png", ""},
        {"$T png tools/testdata/escapes.txt 20 4 $W/out.png", 1, "240 characters, but a 20x4 picture has 320", "out.png", ""},
        {"$T png tools/testdata/escapes.txt $W/out.png", 1, "give the WIDTH and HEIGHT", "out.png", ""},
        {"$T text tools/testdata/truncated.png", 1, "truncated PNG: the file ends inside its IDAT chunk", "", ""},
        {"$T text $W/missing.png", 1, "missing.png: No such file", "", ""},
        {"$T text README.md", 1, "README.md: stb_image cannot read it (unknown image type)", "", ""},
        {"$T frobnicate", 2, "unknown command \"frobnicate\"", "", ""},
        {"$T cpp odd tools/testdata/escapes.h $W/out.cpp", 1, "20x3, but a built-in picture's sides must be powers of two", "out.cpp", ""},
        {"$T cpp wide tools/testdata/wide.png $W/out.cpp", 1, "512x1, but", "out.cpp", ""},
        {"$T png tools/testdata/pen.h /dev/full", 1, "/dev/full: No space left on device", "", ""},
        {"$T text tools/testdata/pen.h >/dev/full", 1, "standard output: No space left on device", "", ""},
        {"ulimit -f 1; $T cpp pen tools/testdata/pen.h $W/out.cpp", 1, "out.cpp: File too large", "out.cpp", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const std::string out = work + "/" + (c.out.empty() ? "stdout" : c.out);
        std::remove(out.c_str());
        std::string shell = "cd " PROJECT_SOURCE_ROOT " && export T=" PICTURE_TEXT_TOOL " W=" + work +
                            " && exec >" + work + "/stdout 2>" + work + "/stderr; " + c.command;
        int status = std::system(shell.c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status);
        EXPECT_NE(slurp(work + "/stderr").find(c.error), std::string::npos) << slurp(work + "/stderr");
        if (!c.expect.empty())  // not EXPECT_EQ: a difference would print both whole
            EXPECT_TRUE(held(out) == held(c.expect)) << "output differs from " << c.expect;
        else
            EXPECT_TRUE(c.out.empty() ? slurp(out).empty() : access(out.c_str(), F_OK) != 0) << "output left";
    }
}
