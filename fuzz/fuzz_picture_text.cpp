// Decodes arbitrary bytes as a picture text of arbitrary size. The text is
// copied into a buffer of exactly its length plus the NUL, and the pixels into
// one of exactly the size the loader would allocate, so AddressSanitizer
// catches any read past the text and any write past the pixels.
#include <cstdint>
#include <cstring>
#include <memory>

#include "picture_text.h"

// Larger pictures are skipped after the size checks: ASan prepares the shadow of
// every allocation, and tens of megabytes a run made fuzzing many times slower.
static const std::size_t max_rgb = 1u << 20;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 8)
        return 0;
    std::int32_t width, height;
    std::memcpy(&width, data, 4);
    std::memcpy(&height, data + 4, 4);
    data += 8;
    size -= 8;

    std::size_t bytes = picture_rgb_size(width, height);
    if (width <= 0 || height <= 0 || std::int64_t(width) * height > INT32_MAX / 4) {
        if (bytes != 0)
            __builtin_trap();  // an impossible size must allocate nothing
        return 0;
    }
    if (bytes != std::size_t(width) * std::size_t(height) * 3)
        __builtin_trap();
    if (bytes > max_rgb)
        return 0;  // valid, but too large to be worth a fuzzing round

    std::unique_ptr<char[]> text(new char[size + 1]);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';
    std::unique_ptr<unsigned char[]> rgb(new unsigned char[bytes]);
    std::size_t read = decode_picture_text(text.get(), width, height, rgb.get());
    if (read > std::strlen(text.get()) || read > bytes / 3 * 4)
        __builtin_trap();
    return 0;
}
