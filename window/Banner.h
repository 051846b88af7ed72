#pragma once

#include <windows.h>

#include "platform/Handle.h"

// The JPEG banner built into the program, decoded and scaled to the given size,
// as a DIB section. Empty when it cannot be decoded.
unique_hbitmap LoadBanner(HINSTANCE instance, int width, int height);
