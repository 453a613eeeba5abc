#pragma once
// Stretches the full-screen window over the whole screen where SDL left it
// smaller (X11 with no window manager); does nothing elsewhere.
void fill_screen();
