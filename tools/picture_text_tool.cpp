// picture_text: converts between images and picture texts (see picture_text.h),
// and writes the C++ source of a built-in picture from its image.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "picture_text.h"
#include "stb_image.h"
#include "stb_image_write.h"

static const char usage[] =
    "usage:\n"
    "  picture_text text IMAGE\n"
    "      print the picture text of IMAGE (PNG, or any image stb_image reads)\n"
    "  picture_text png TEXT_FILE WIDTH HEIGHT OUT.png\n"
    "      decode the picture text in TEXT_FILE into a PNG, to look at it\n"
    "  picture_text cpp NAME IMAGE OUT.cpp\n"
    "      write the C++ source defining NAME_header_data, NAME_width and\n"
    "      NAME_height from IMAGE, whose sides must be powers of two\n";

static int fail(const char* what, const char* detail)
{
    std::fprintf(stderr, "picture_text: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    return 1;
}

// RGB pixels of an image, three bytes each; empty after an error was reported.
struct Image {
    int width = 0, height = 0;
    unsigned char* rgb = nullptr;
};

static Image load_image(const char* path)
{
    Image image;
    int channels = 0;
    image.rgb = stbi_load(path, &image.width, &image.height, &channels, 3);
    if (!image.rgb) {
        // stb says "can't fopen" for a missing file; errno says why in words.
        FILE* f = std::fopen(path, "rb");
        if (!f)
            fail(path, std::strerror(errno));
        else {
            std::fclose(f);
            fail(path, stbi_failure_reason());
        }
        return image;
    }
    if (picture_rgb_size(image.width, image.height) == 0) {
        fail(path, "too large for a picture text");
        stbi_image_free(image.rgb);
        image.rgb = nullptr;
    }
    return image;
}

static bool read_file(const char* path, std::string& out)
{
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        fail(path, std::strerror(errno));
        return false;
    }
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

static bool write_file(const char* path, const std::string& data)
{
    FILE* f = std::fopen(path, "wb");
    if (!f) {
        fail(path, std::strerror(errno));
        return false;
    }
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        fail(path, "write error");
    return ok;
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
    Image image = load_image(image_path);
    if (!image.rgb)
        return 1;
    std::string text = encode_picture_text(image.rgb, image.width, image.height);
    stbi_image_free(image.rgb);
    std::printf("%s\n", text.c_str());
    return 0;
}

static int text_to_png(const char* text_path, const char* width_arg, const char* height_arg,
                       const char* png_path)
{
    int width = parse_size(width_arg), height = parse_size(height_arg);
    std::size_t bytes = picture_rgb_size(width, height);
    if (bytes == 0)
        return fail("width and height must be positive whole numbers, with 4*width*height fitting an int", nullptr);
    std::string text;
    if (!read_file(text_path, text))
        return 1;
    // A trailing line end is how a text file ends, not part of the picture.
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    std::size_t expected = bytes / 3 * 4;
    if (text.size() != expected) {
        std::fprintf(stderr, "picture_text: %s: %zu characters, but a %dx%d picture has %zu\n",
                     text_path, text.size(), width, height, expected);
        return 1;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] < '!' || text[i] > '`') {
            std::fprintf(stderr, "picture_text: %s: character %zu is outside \"!\"..\"`\"\n",
                         text_path, i);
            return 1;
        }
    }
    std::vector<unsigned char> rgb = decode_picture(text.c_str(), width, height);
    if (!stbi_write_png(png_path, width, height, 3, rgb.data(), width * 3))
        return fail(png_path, "cannot write the PNG");
    return 0;
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
    Image image = load_image(image_path);
    if (!image.rgb)
        return 1;
    int width = image.width, height = image.height;
    std::string text = encode_picture_text(image.rgb, width, height);
    stbi_image_free(image.rgb);
    // The loader makes textures of the built-in pictures, and those need these sizes.
    if (!is_power_of_two(width) || !is_power_of_two(height)) {
        std::fprintf(stderr, "picture_text: %s: %dx%d, but a built-in picture's sides must be powers of two\n",
                     image_path, width, height);
        return 1;
    }
    return write_file(cpp_path, cpp_source(name, image_path, text, width, height)) ? 0 : 1;
}

int main(int argc, char* argv[])
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "text" && argc == 3)
        return print_text(argv[2]);
    if (mode == "png" && argc == 6)
        return text_to_png(argv[2], argv[3], argv[4], argv[5]);
    if (mode == "cpp" && argc == 5)
        return write_cpp(argv[2], argv[3], argv[4]);
    if (mode == "-h" || mode == "--help") {
        std::fputs(usage, stdout);
        return 0;
    }
    std::fputs(usage, stderr);
    return 2;
}
