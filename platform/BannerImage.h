#pragma once
// Decoding and scaling the banner picture. Free of the Windows headers, so that it
// runs in the host tests too.

#include <cstdint>
#include <span>
#include <vector>

// Decodes a JPEG and scales it to width x height by area averaging. Returns the
// pixels top-down, four bytes each (blue, green, red, 255), rows packed: always the
// whole width x height, or empty when the bytes cannot be decoded or the size is not
// a picture's. Damaged bytes never read past the data; whether a damaged file still
// decodes (a cut scan, say) is the decoder's to say.
std::vector<std::uint8_t> DecodeBanner(std::span<const std::uint8_t> jpeg, int width, int height);
