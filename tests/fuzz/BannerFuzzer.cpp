// Fuzz target: arbitrary bytes go through the banner's decoder and scaler as if they
// were the JPEG built into the program. Whatever the bytes, the sanitizers see no
// fault, and the result is a whole picture of the size asked for, or none. The unit
// tests run every input kept in corpus/ through it again; scripts/fuzz searches for
// new ones with libFuzzer.

#include <cstdio>
#include <cstdlib>

#include "platform/BannerImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr int kWidth = 256; // the picture at 96 dots per inch
    constexpr int kHeight = 60;
    const std::vector<std::uint8_t> pixels = DecodeBanner({data, size}, kWidth, kHeight);
    if (!pixels.empty() && pixels.size() != std::size_t{kWidth} * kHeight * 4) {
        std::fprintf(stderr, "a picture of %zu bytes\n", pixels.size());
        std::abort();
    }
    return 0;
}
