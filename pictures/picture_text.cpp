#include "picture_text.h"

#include <climits>

std::size_t picture_rgb_size(int width, int height)
{
    if (width <= 0 || height <= 0)
        return 0;
    // The text holds 4*width*height characters, and its length must fit an int.
    long long pixels = static_cast<long long>(width) * height;
    if (pixels > INT_MAX / 4)
        return 0;
    return static_cast<std::size_t>(pixels) * 3;
}

// Characters outside "!".."`" never occur in a valid text; masking keeps any
// other byte inside six bits instead of spilling into the next colour.
static unsigned sextet(char c)
{
    return (static_cast<unsigned char>(c) - 33u) & 63u;
}

std::size_t decode_picture_text(const char* text, int width, int height, unsigned char* rgb)
{
    std::size_t bytes = picture_rgb_size(width, height);
    std::size_t read = 0;
    for (std::size_t out = 0; out < bytes; out += 3) {
        unsigned v[4];
        for (int k = 0; k < 4; ++k) {
            if (text[read] == '\0')
                return read;
            v[k] = sextet(text[read++]);
        }
        rgb[out + 0] = static_cast<unsigned char>((v[0] << 2) | (v[1] >> 4));
        rgb[out + 1] = static_cast<unsigned char>(((v[1] & 15u) << 4) | (v[2] >> 2));
        rgb[out + 2] = static_cast<unsigned char>(((v[2] & 3u) << 6) | v[3]);
    }
    return read;
}

std::vector<unsigned char> decode_picture(const char* text, int width, int height)
{
    std::vector<unsigned char> rgb(picture_rgb_size(width, height));
    if (!rgb.empty())
        decode_picture_text(text, width, height, rgb.data());
    return rgb;
}

std::string encode_picture_text(const unsigned char* rgb, int width, int height)
{
    std::size_t bytes = picture_rgb_size(width, height);
    std::string text;
    text.reserve(bytes / 3 * 4);
    for (std::size_t i = 0; i < bytes; i += 3) {
        unsigned bits = (unsigned(rgb[i]) << 16) | (unsigned(rgb[i + 1]) << 8) | rgb[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6)
            text.push_back(static_cast<char>(33 + ((bits >> shift) & 63u)));
    }
    return text;
}
