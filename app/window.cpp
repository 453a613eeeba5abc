#include "window.h"

#include <GL/glu.h>

void set_pixel_projection()
{
    glViewport(0, 0, 640, 480);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, 640, 0, 480);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_TEXTURE_2D);
}

void draw_background(int red)
{
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glColor3f(red ? 0.4f : 0.0f, 0.0f, 0.0f);
    glBegin(GL_QUADS);
    glVertex2i(0, 0);
    glVertex2i(640, 0);
    glVertex2i(640, 480);
    glVertex2i(0, 480);
    glEnd();
}

void start_inverting_blend()
{
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE_MINUS_DST_COLOR, GL_ONE_MINUS_SRC_COLOR);
    glEnable(GL_TEXTURE_2D);
    glColor3f(1.0f, 1.0f, 1.0f);
}

// Texture row 0 is the picture's top row, so t = 0 goes on the quad's upper edge.
void draw_picture(GLuint texture, int x, int y, int size)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUADS);
    glTexCoord2i(0, 1); glVertex2i(x, y);
    glTexCoord2i(1, 1); glVertex2i(x + size, y);
    glTexCoord2i(1, 0); glVertex2i(x + size, y + size);
    glTexCoord2i(0, 0); glVertex2i(x, y + size);
    glEnd();
}
