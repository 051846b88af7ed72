#include "window/BannerImage.h"

#include <climits>
#include <memory>
#include <utility>

// The decoder is compiled into this file alone, for baseline JPEG only and from
// memory only. The program decodes on one thread: without thread-local state, no
// emulated TLS is linked in.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_THREAD_LOCALS
#define STBI_NO_FAILURE_STRINGS
// A header that claims more is corrupt: refuse it before allocating for it.
#define STBI_MAX_DIMENSIONS 4096
#include <stb_image.h>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#include <stb_image_resize.h>

namespace {

constexpr int kChannels = 4;
// No picture control is larger than a screen; this keeps the buffer sizes small.
constexpr int kMaxSide = 4096;

struct ImageFree {
    void operator()(stbi_uc* pixels) const noexcept { stbi_image_free(pixels); }
};

// The decoder fills in whatever a truncated scan lacks and reports success, so a
// whole JPEG is told by its end-of-image marker.
bool EndsWithEndOfImage(std::span<const std::uint8_t> jpeg)
{
    return jpeg.size() >= 4 && jpeg[jpeg.size() - 2] == 0xFF && jpeg[jpeg.size() - 1] == 0xD9;
}

// Debian's stb_image builds a Huffman table from its code counts without checking
// that they add up to at most 256 codes, and writes past the table when they do.
// It takes a table from any marker it meets, in the headers or ending a scan, so
// every byte pair that reads as a table marker is checked as the decoder would
// read it (past the end it reads zeros).
bool HuffmanTablesFit(std::span<const std::uint8_t> jpeg)
{
    const auto byte = [jpeg](std::size_t at) -> std::size_t { return at < jpeg.size() ? jpeg[at] : 0; };
    for (std::size_t marker = 0; marker + 1 < jpeg.size(); ++marker) {
        if (jpeg[marker] != 0xFF || jpeg[marker + 1] != 0xC4)
            continue;
        // The segment's length counts its two length bytes.
        long left = static_cast<long>(byte(marker + 2) << 8 | byte(marker + 3)) - 2;
        for (std::size_t table = marker + 4; left > 0;) {
            std::size_t codes = 0;
            for (std::size_t length = 1; length <= 16; ++length)
                codes += byte(table + length);
            if (codes > 256)
                return false;
            table += 17 + codes;
            left -= static_cast<long>(17 + codes);
        }
    }
    return true;
}

} // namespace

std::vector<std::uint8_t> DecodeBanner(std::span<const std::uint8_t> jpeg, int width, int height)
{
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return {};
    if (jpeg.size() > static_cast<std::size_t>(INT_MAX) || !EndsWithEndOfImage(jpeg) || !HuffmanTablesFit(jpeg))
        return {};
    int sourceWidth = 0;
    int sourceHeight = 0;
    int components = 0;
    const std::unique_ptr<stbi_uc, ImageFree> source(stbi_load_from_memory(
        jpeg.data(), static_cast<int>(jpeg.size()), &sourceWidth, &sourceHeight, &components, kChannels));
    if (!source)
        return {};

    // The box filter averages over each output pixel's footprint on the source,
    // as the area-averaging scalers of imaging libraries do; the samples are
    // averaged as stored, without a conversion to linear light.
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * kChannels);
    if (!stbir_resize_uint8_generic(source.get(), sourceWidth, sourceHeight, sourceWidth * kChannels, pixels.data(),
                                    width, height, width * kChannels, kChannels, STBIR_ALPHA_CHANNEL_NONE, 0,
                                    STBIR_EDGE_CLAMP, STBIR_FILTER_BOX, STBIR_COLORSPACE_LINEAR, nullptr))
        return {};
    for (std::size_t at = 0; at < pixels.size(); at += kChannels) {
        std::swap(pixels[at], pixels[at + 2]);
        pixels[at + 3] = 0xFF;
    }
    return pixels;
}
