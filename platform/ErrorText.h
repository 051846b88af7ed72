#pragma once
// The system's description of an error code, as a line of a message to the user.

#include <cstdint>
#include <string>

// FormatMessage's text for status without the line break it ends with, or
// "Error N." where the system has no text for it.
std::wstring SystemErrorText(std::int32_t status);
