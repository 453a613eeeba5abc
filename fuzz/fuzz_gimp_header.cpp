// Reads arbitrary bytes as a GIMP C header export, as picture_text does with any
// file that looks like C source. AddressSanitizer catches a read past the
// content; a success must give exactly the pixels of the size it declares.
#include <cstdint>
#include <string>
#include <vector>

#include "gimp_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string content(reinterpret_cast<const char*>(data), size);
    looks_like_gimp_header(content);
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    if (read_gimp_header(content, width, height, rgb).empty() &&
        (width <= 0 || height <= 0 || rgb.size() != std::size_t(width) * std::size_t(height) * 3))
        __builtin_trap();
    return 0;
}
