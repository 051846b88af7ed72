#pragma once
// Decoding and scaling the banner picture. Free of the Windows headers, so that it
// runs in the host tests too.

#include <cstdint>
#include <span>
#include <vector>

// Decodes a JPEG and scales it to width x height by area averaging. Returns the
// pixels top-down, four bytes each (blue, green, red, 255), rows packed; empty when
// the bytes are not a whole JPEG or the size is not a picture's.
std::vector<std::uint8_t> DecodeBanner(std::span<const std::uint8_t> jpeg, int width, int height);
