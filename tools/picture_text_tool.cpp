// picture_text: converts between images and picture texts (see picture_text.h),
// and writes the C++ source of a built-in picture from its image. Wherever it
// takes an image or a picture text it also takes GIMP's C header export.
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gimp_header.h"
#include "picture_text.h"
#include "save_file.h"
#include "stb_image.h"
#include "stb_image_write.h"

static const char usage[] =
    "usage:\n"
    "  picture_text text IMAGE\n"
    "      print the picture text of IMAGE (PNG, any image stb_image reads, or\n"
    "      GIMP's C header export); its size goes to standard error\n"
    "  picture_text png TEXT_FILE WIDTH HEIGHT OUT.png\n"
    "  picture_text png GIMP_EXPORT.h OUT.png\n"
    "      decode a picture text into a PNG, to look at it\n"
    "  picture_text cpp NAME IMAGE OUT.cpp\n"
    "      write the C++ source defining NAME_header_data, NAME_width and\n"
    "      NAME_height from IMAGE, whose sides must be powers of two up to 256\n"
    "Images with alpha are composited over black.\n";

// The built-in pictures are an icon and a cursor; a larger picture would make a
// source file of megabytes (4096x4096 is 67 MB) and a texture old OpenGL may refuse.
static const int largest_builtin_side = 256;

static int fail(const std::string& what, const std::string& detail)
{
    std::fprintf(stderr, "picture_text: %s%s%s\n", what.c_str(), detail.empty() ? "" : ": ",
                 detail.c_str());
    return 1;
}

static bool refuse(const std::string& what, const std::string& detail)
{
    fail(what, detail);
    return false;
}

// RGB pixels, three bytes each, rows from the top.
struct Image {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

static bool read_file(const char* path, std::string& out)
{
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return refuse(path, std::strerror(errno));
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        out.append(buffer, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok)
        fail(path, "read error");
    return ok;
}

// Writes all of data to path or reports why not; on failure path is left as it was.
static bool write_file(const char* path, const std::string& data)
{
    std::string problem = save_file(path, data);
    return problem.empty() || refuse(path, problem);
}

// Why a PNG that stb_image refused ends too early, or "" when its chunks are whole
// (stb's own reason is a code word, or nothing, for a truncated file).
static std::string png_truncation(const std::string& png)
{
    std::size_t at = 8;  // past the signature
    while (at + 8 <= png.size()) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(png.data()) + at;
        unsigned long long length = (unsigned long long)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3];
        std::string type(png, at + 4, 4);
        if (at + 12 + length > png.size())
            return "truncated PNG: the file ends inside its " + type + " chunk";
        if (type == "IEND")
            return "";
        at += 12 + length;
    }
    return "truncated PNG: the file ends before its IEND chunk";
}

static bool load_stb_image(const char* path, const std::string& content, Image& image)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(content.data());
    int channels = 0;
    if (content.size() > INT_MAX)
        return refuse(path, "too large to read");
    unsigned char* rgba = stbi_load_from_memory(bytes, int(content.size()), &image.width,
                                                &image.height, &channels, 4);
    if (!rgba) {
        std::string reason = content.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0 ? png_truncation(content) : "";
        if (reason.empty()) {
            const char* stb = stbi_failure_reason();
            reason = std::string("stb_image cannot read it (") + (stb && *stb ? stb : "no reason given") + ")";
        }
        return refuse(path, reason);
    }
    if (picture_rgb_size(image.width, image.height) == 0) {
        stbi_image_free(rgba);
        return refuse(path, "too large for a picture text");
    }
    // Over black, the ground that the program's inverting blend leaves unchanged:
    // what a transparent pixel stores must not show.
    std::size_t pixels = std::size_t(image.width) * image.height;
    image.rgb.resize(pixels * 3);
    for (std::size_t i = 0; i < pixels; ++i)
        for (int c = 0; c < 3; ++c)
            image.rgb[i * 3 + c] = static_cast<unsigned char>((rgba[i * 4 + c] * rgba[i * 4 + 3] + 127) / 255);
    stbi_image_free(rgba);
    return true;
}

static bool load_gimp_header(const char* path, const std::string& content, Image& image)
{
    std::string problem = read_gimp_header(content, image.width, image.height, image.rgb);
    return problem.empty() || refuse(path, "GIMP header export: " + problem);
}

// The content of an image file or of a GIMP export, told apart by that content.
static bool image_from_content(const char* path, const std::string& content, Image& image)
{
    return looks_like_gimp_header(content) ? load_gimp_header(path, content, image)
                                           : load_stb_image(path, content, image);
}

static bool load_image(const char* path, Image& image)
{
    std::string content;
    return read_file(path, content) && image_from_content(path, content, image);
}

// A whole decimal number from 1 to INT_MAX, or 0.
static int parse_size(const char* s)
{
    if (!std::isdigit(static_cast<unsigned char>(s[0])))
        return 0;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (errno != 0 || *end != '\0' || v <= 0 || v > INT_MAX)
        return 0;
    return static_cast<int>(v);
}

static bool is_power_of_two(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

static bool is_identifier(const char* s)
{
    if (!std::isalpha(static_cast<unsigned char>(s[0])) && s[0] != '_')
        return false;
    for (; *s; ++s)
        if (!std::isalnum(static_cast<unsigned char>(*s)) && *s != '_')
            return false;
    return true;
}

static int print_text(const char* image_path)
{
    Image image;
    if (!load_image(image_path, image))
        return 1;
    std::string text = encode_picture_text(image.rgb.data(), image.width, image.height) + "\n";
    std::fprintf(stderr, "picture_text: %s: %dx%d pixels, %zu characters\n", image_path, image.width,
                 image.height, text.size() - 1);
    bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
    return ok ? 0 : fail("standard output", std::strerror(errno));
}

// A plain picture text, whose size is given, into image.
static bool read_picture_text(const char* text_path, const std::string& content, int width,
                              int height, Image& image)
{
    std::string text = content;
    // A trailing line end is how a text file ends, not part of the picture.
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    std::size_t expected = picture_rgb_size(width, height) / 3 * 4;
    if (text.size() != expected)
        return refuse(text_path, std::to_string(text.size()) + " characters, but a " + std::to_string(width) +
                                     "x" + std::to_string(height) + " picture has " + std::to_string(expected));
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] < '!' || text[i] > '`')
            return refuse(text_path, "character " + std::to_string(i) + " is outside \"!\"..\"`\"");
    image.width = width;
    image.height = height;
    image.rgb = decode_picture(text.c_str(), width, height);
    return true;
}

static void append_bytes(void* context, void* data, int size)
{
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), std::size_t(size));
}

// WIDTH and HEIGHT are null for a GIMP export, which declares its size.
static int text_to_png(const char* text_path, const char* width_arg, const char* height_arg,
                       const char* png_path)
{
    int width = width_arg ? parse_size(width_arg) : 0, height = height_arg ? parse_size(height_arg) : 0;
    if (width_arg && picture_rgb_size(width, height) == 0)
        return fail("width and height must be positive whole numbers, with 4*width*height fitting an int", "");
    std::string content;
    if (!read_file(text_path, content))
        return 1;
    Image image;
    if (looks_like_gimp_header(content)) {
        if (!load_gimp_header(text_path, content, image))
            return 1;
        if (width_arg && (width != image.width || height != image.height))
            return fail(text_path, "a " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                                       " picture, not " + width_arg + "x" + height_arg);
    } else if (!width_arg) {
        return fail(text_path, "not a GIMP header export; give the WIDTH and HEIGHT of its picture text");
    } else if (!read_picture_text(text_path, content, width, height, image)) {
        return 1;
    }
    std::string png;
    if (!stbi_write_png_to_func(append_bytes, &png, image.width, image.height, 3, image.rgb.data(),
                                image.width * 3))
        return fail(png_path, "cannot encode the PNG");
    return write_file(png_path, png) ? 0 : 1;
}

// One literal per picture row keeps the source readable. '"' and '\' need escapes;
// '?' gets one too, so that no "??x" trigraph can form in any compiler mode.
static std::string cpp_source(const char* name, const char* image_path, const std::string& text,
                              int width, int height)
{
    std::string out;
    out += "// Generated by the picture_text tool from ";
    out += image_path;
    out += ".\n// Edit the picture, not this file, then regenerate it.\n";
    out += "#include \"pictures.h\"\n\n";
    out += "int " + std::string(name) + "_width = " + std::to_string(width) + ";\n";
    out += "int " + std::string(name) + "_height = " + std::to_string(height) + ";\n";
    out += "const char* " + std::string(name) + "_header_data =";
    std::size_t row_chars = static_cast<std::size_t>(width) * 4;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i % row_chars == 0)
            out += i == 0 ? "\n    \"" : "\"\n    \"";
        char c = text[i];
        if (c == '"' || c == '\\' || c == '?')
            out += '\\';
        out += c;
    }
    out += "\";\n";
    return out;
}

static int write_cpp(const char* name, const char* image_path, const char* cpp_path)
{
    if (!is_identifier(name))
        return fail("NAME must be a C++ identifier", name);
    Image image;
    if (!load_image(image_path, image))
        return 1;
    int width = image.width, height = image.height;
    // The loader makes textures of the built-in pictures, and those need these sizes.
    if (!is_power_of_two(width) || !is_power_of_two(height) || width > largest_builtin_side ||
        height > largest_builtin_side)
        return fail(image_path, std::to_string(width) + "x" + std::to_string(height) +
                                    ", but a built-in picture's sides must be powers of two up to " +
                                    std::to_string(largest_builtin_side));
    std::string text = encode_picture_text(image.rgb.data(), width, height);
    return write_file(cpp_path, cpp_source(name, image_path, text, width, height)) ? 0 : 1;
}

int main(int argc, char* argv[])
{
    // Past `ulimit -f` a write to standard output then fails with EFBIG and is
    // reported, instead of the signal killing the tool halfway.
    std::signal(SIGXFSZ, SIG_IGN);
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "text" && argc == 3)
        return print_text(argv[2]);
    if (mode == "png" && argc == 6)
        return text_to_png(argv[2], argv[3], argv[4], argv[5]);
    if (mode == "png" && argc == 4)
        return text_to_png(argv[2], nullptr, nullptr, argv[3]);
    if (mode == "cpp" && argc == 5)
        return write_cpp(argv[2], argv[3], argv[4]);
    if (mode == "-h" || mode == "--help") {
        std::fputs(usage, stdout);
        return 0;
    }
    if (mode == "text" || mode == "png" || mode == "cpp")
        std::fprintf(stderr, "picture_text: wrong number of arguments for %s\n", mode.c_str());
    else if (argc > 1)
        std::fprintf(stderr, "picture_text: unknown command \"%s\"\n", mode.c_str());
    std::fputs(usage, stderr);
    return 2;
}
