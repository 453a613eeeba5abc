#pragma once
// Picture text: a picture as printable characters, four a pixel, rows from the top.
// Each character carries six bits (its code minus 33, "!" to "`"); a pixel's four
// characters are its 24 RGB bits, most significant first. This is the pixel
// encoding of GIMP's C header export.
#include <cstddef>
#include <string>
#include <vector>

// Bytes of RGB a picture of this size decodes to, or 0 when the size is not
// positive or 4*width*height does not fit an int (such a picture is never decoded).
std::size_t picture_rgb_size(int width, int height);

// Decodes the width*height pixels of text into rgb (picture_rgb_size bytes).
// Stops at a NUL that comes early and leaves the rest of rgb untouched, so a
// short text is never read past its end. Returns the characters read.
std::size_t decode_picture_text(const char* text, int width, int height, unsigned char* rgb);

// The decoded picture in a buffer of its own, black where a short text ends;
// empty for a size that cannot be a picture.
std::vector<unsigned char> decode_picture(const char* text, int width, int height);

// The picture text of width*height RGB pixels (the inverse of the decoder).
std::string encode_picture_text(const unsigned char* rgb, int width, int height);
