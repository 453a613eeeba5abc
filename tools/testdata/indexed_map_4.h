/*  GIMP header image file format (INDEXED): /tmp/gimpdata/indexed.h  */

static unsigned int width = 5;
static unsigned int height = 3;

/*  Call this macro repeatedly.  After each use, the pixel data can be extracted  */

#define HEADER_PIXEL(data,pixel) {\
pixel[0] = header_data_cmap[(unsigned char)data[0]][0]; \
pixel[1] = header_data_cmap[(unsigned char)data[0]][1]; \
pixel[2] = header_data_cmap[(unsigned char)data[0]][2]; \
data ++; }

static unsigned char header_data_cmap[256][3] = {
	{  0,  0,  0},
	{200, 16,130},
	{  7,250,128},
	{255,255,255}
	};
static unsigned char header_data[] = {
	0,3,1,2,0,
	2,1,3,0,3,
	1,1,2,2,3
	};
