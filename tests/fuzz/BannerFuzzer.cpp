// Fuzz target: arbitrary bytes go through the banner's decoder and scaler as if they
// were the JPEG built into the program. Whatever the bytes, the sanitizers see no
// fault, and the result is a whole picture of the size asked for, or none.

#include <cstdio>
#include <cstdlib>

#include "window/BannerImage.h"

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

#ifdef FUZZ_REPLAY_MAIN
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// Runs every file in the directories named through the fuzz target.
int main(int argc, char** argv)
{
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
            std::ifstream stream(entry.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            ++count;
        }
    }
    std::printf("%zu inputs, no fault\n", count);
    return count == 0;
}
#endif
