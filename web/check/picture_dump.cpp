// Prints the built-in pictures as the program decodes them, for the browser
// check to compute the frames it expects: one line per picture, its name, its
// size and its RGB bytes in hexadecimal, rows from the top.
#include <cstdio>

#include "picture_text.h"
#include "pictures.h"

static void print_picture(const char* name, const char* text, int width, int height)
{
    std::printf("%s %d %d ", name, width, height);
    for (unsigned char byte : decode_picture(text, width, height))
        std::printf("%02x", byte);
    std::printf("\n");
}

int main()
{
    print_picture("wait", wait_header_data, wait_width, wait_height);
    print_picture("pen", pen_header_data, pen_width, pen_height);
    return 0;
}
