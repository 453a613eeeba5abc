/*  GIMP header image file format (RGB): /tmp/gimpdata/escapes.h  */

static unsigned int width = 20;
static unsigned int height = 3;

/*  Call this macro repeatedly.  After each use, the pixel data can be extracted  */

#define HEADER_PIXEL(data,pixel) {\
pixel[0] = (((data[0] - 33) << 2) | ((data[1] - 33) >> 4)); \
pixel[1] = ((((data[1] - 33) & 0xF) << 4) | ((data[2] - 33) >> 2)); \
pixel[2] = ((((data[2] - 33) & 0x3) << 6) | ((data[3] - 33))); \
data += 4; \
}
static char *header_data =
	"Z?!\\\\!9\\?]a!8\"\\G\\\"&!\\Z``5!\")\"\"9\\!$?\\J\\!:!\\F\\\"+\\`D\\!+`\"I?\\E\"\".\\\"\\"
	"\"\\#?`!\\\\'\\\\S\\\":?`C\"\"H\"\"U?\"2\\`-\"\"\\?\\7`!9\\!9`?1\\`R\"\\V\\\"C??G\"\\8\\?-\""
	"\\<\\\"\"?!K?\"R\"\",\\!@\"!P\"![\\!^?!2?\\8`\\H\\?@`\\5``:`\\^!\"V\"\".\"!A\\`S\"\\_\"!"
	"7`\"1\\\\*\"\\;`\")\"\\Z\\\"&\\\"P!!1\"\"2\\\"2!\"#\\\"H\"\"*\\\"H\"\\*\"\\";
