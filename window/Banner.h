#pragma once

#include <windows.h>

#include "window/Handle.h"

// Decodes the JPEG banner built into the program, in memory with the platform's
// imaging codecs, scaled to the given size. Empty when it cannot be decoded.
unique_hbitmap LoadBanner(HINSTANCE instance, int width, int height);
