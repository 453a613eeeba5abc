// The one place the stb image reader and writer are compiled; the tools and the
// tests link this instead of each defining the implementations again.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image.h"
#include "stb_image_write.h"
