#pragma once
// Reader of GIMP's "C source header" image export (a .h file): the width and
// height declarations, then either the pixels as picture text in C string
// literals (an RGB image) or a colour map and one index a pixel (an indexed one).
#include <string>
#include <vector>

// Whether content is C source, and so to be read as a GIMP export rather than
// as an image file or a plain picture text (which never contains a space).
bool looks_like_gimp_header(const std::string& content);

// Reads the picture of an export into width, height and rgb (three bytes a
// pixel, rows from the top). Returns "" on success, else what is wrong with it.
std::string read_gimp_header(const std::string& content, int& width, int& height,
                             std::vector<unsigned char>& rgb);
