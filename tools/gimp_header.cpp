#include "gimp_header.h"

#include <cctype>
#include <climits>
#include <cstring>

#include "picture_text.h"

static const char truncated[] = "the file ends inside the pixel data (truncated?)";

static bool is_space(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

static std::string at_byte(const char* what, std::size_t i)
{
    return std::string(what) + " at byte " + std::to_string(i);
}

bool looks_like_gimp_header(const std::string& content)
{
    std::size_t i = 0;
    while (i < content.size() && is_space(content[i]))
        ++i;
    for (const char* word : {"/*", "static"}) {
        std::size_t n = std::strlen(word);
        if (content.compare(i, n, word) == 0 && i + n < content.size() && is_space(content[i + n]))
            return true;
    }
    return false;
}

static std::size_t skip_spaces(const std::string& c, std::size_t i)
{
    while (i < c.size() && is_space(c[i]))
        ++i;
    return i;
}

// Reads the N of "unsigned int NAME = N;" into value.
static std::string declared_size(const std::string& c, const char* name, int& value)
{
    std::string key = std::string("unsigned int ") + name;
    std::string missing = "no \"static " + key + " = N;\" line";
    std::size_t at = c.find(key);
    if (at == std::string::npos)
        return missing;
    std::size_t i = skip_spaces(c, at + key.size());
    if (i == c.size() || c[i] != '=')
        return missing;
    i = skip_spaces(c, i + 1);
    long long v = 0;
    std::size_t digits = 0;
    for (; i < c.size() && std::isdigit(static_cast<unsigned char>(c[i])) && v <= INT_MAX; ++i, ++digits)
        v = v * 10 + (c[i] - '0');
    i = skip_spaces(c, i);
    if (digits == 0 || i == c.size() || c[i] != ';')
        return missing;
    if (v <= 0 || v > INT_MAX)
        return std::string(name) + " is not a positive whole number that fits an int";
    value = static_cast<int>(v);
    return "";
}

// Index just past the "=" that follows decl, or npos. The name may also occur
// before, in the file name that GIMP's first comment line holds.
static std::size_t initializer(const std::string& c, const char* decl)
{
    for (std::size_t at = c.find(decl); at != std::string::npos; at = c.find(decl, at + 1)) {
        std::size_t i = skip_spaces(c, at + std::strlen(decl));
        if (i < c.size() && c[i] == '=')
            return i + 1;
    }
    return std::string::npos;
}

// The characters of the string literals from i up to the ";" after them, with
// GIMP's escapes of '"' and '\' undone; a row may run across several literals.
static std::string string_literals(const std::string& c, std::size_t i, std::string& text)
{
    for (;;) {
        i = skip_spaces(c, i);
        if (i == c.size())
            return truncated;
        if (c[i] == ';')
            return "";
        if (c[i] != '"')
            return at_byte("a character that is no string literal in the pixel data", i);
        for (++i;; ++i) {
            if (i == c.size())
                return truncated;
            char ch = c[i];
            if (ch == '"')
                break;
            if (ch == '\n')
                return at_byte("a line break inside a string literal", i);
            if (ch == '\\') {
                if (++i == c.size())
                    return truncated;
                ch = c[i];
                if (ch != '"' && ch != '\\' && ch != '?' && ch != '\'')
                    return at_byte("an escape that is no picture character", i - 1);
            }
            text += ch;
        }
        ++i;
    }
}

// The numbers of the brace-enclosed initializer at i, nested braces flattened.
static std::string braced_numbers(const std::string& c, std::size_t i, std::vector<unsigned>& out)
{
    i = skip_spaces(c, i);
    if (i == c.size())
        return truncated;
    if (c[i] != '{')
        return at_byte("no \"{\"", i);
    int depth = 0;
    while (i < c.size()) {
        char ch = c[i];
        if (ch == '{') {
            ++depth;
            ++i;
        } else if (ch == '}') {
            ++i;
            if (--depth == 0)
                return "";
        } else if (std::isdigit(static_cast<unsigned char>(ch))) {
            unsigned v = 0;
            for (; i < c.size() && std::isdigit(static_cast<unsigned char>(c[i])); ++i)
                if ((v = v * 10 + unsigned(c[i] - '0')) > 255)
                    return at_byte("a number above 255", i);
            out.push_back(v);
        } else if (ch == ',' || is_space(ch)) {
            ++i;
        } else {
            return at_byte("a character that is no number", i);
        }
    }
    return truncated;
}

static std::string size_disagrees(int width, int height, std::size_t found, const char* unit)
{
    std::size_t per_pixel = std::strcmp(unit, "characters") == 0 ? 4 : 1;
    return "declares " + std::to_string(width) + "x" + std::to_string(height) + ", which takes " +
           std::to_string(std::size_t(width) * height * per_pixel) + " " + unit + ", but its data has " +
           std::to_string(found);
}

// An indexed export: a colour map of {r, g, b} and one colour index a pixel.
static std::string read_indexed(const std::string& c, int width, int height, std::vector<unsigned char>& rgb)
{
    std::vector<unsigned> map, index;
    std::size_t at = initializer(c, "header_data_cmap[256][3]");
    std::string problem = braced_numbers(c, at, map);
    if (!problem.empty())
        return "colour map: " + problem;
    if (map.size() % 3 != 0)
        return "the colour map's " + std::to_string(map.size()) + " numbers are not whole colours";
    at = initializer(c, "header_data[]");
    if (at == std::string::npos)
        return "no \"header_data[] =\" with the pixel data";
    if (!(problem = braced_numbers(c, at, index)).empty())
        return problem;
    if (index.size() != std::size_t(width) * height)
        return size_disagrees(width, height, index.size(), "colour indices");
    rgb.resize(index.size() * 3);
    for (std::size_t k = 0; k < index.size(); ++k) {
        if (index[k] * 3 >= map.size())
            return "pixel " + std::to_string(k) + " has colour " + std::to_string(index[k]) +
                   ", past the " + std::to_string(map.size() / 3) + " of the colour map";
        for (int channel = 0; channel < 3; ++channel)
            rgb[k * 3 + channel] = static_cast<unsigned char>(map[index[k] * 3 + channel]);
    }
    return "";
}

std::string read_gimp_header(const std::string& content, int& width, int& height,
                             std::vector<unsigned char>& rgb)
{
    std::string problem = declared_size(content, "width", width);
    if (problem.empty())
        problem = declared_size(content, "height", height);
    if (!problem.empty())
        return problem;
    if (picture_rgb_size(width, height) == 0)
        return std::to_string(width) + "x" + std::to_string(height) + " is too large for a picture text";
    if (initializer(content, "header_data_cmap[256][3]") != std::string::npos)
        return read_indexed(content, width, height, rgb);

    std::size_t at = initializer(content, "header_data");
    if (at == std::string::npos)
        return "no \"header_data =\" with the pixel data";
    std::string text;
    if (!(problem = string_literals(content, at, text)).empty())
        return problem;
    if (text.size() != std::size_t(width) * height * 4)
        return size_disagrees(width, height, text.size(), "characters");
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] < '!' || text[i] > '`')
            return "pixel character " + std::to_string(i) + " is outside \"!\"..\"`\"";
    rgb = decode_picture(text.c_str(), width, height);
    return "";
}
