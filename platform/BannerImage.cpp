#include "platform/BannerImage.h"

#include <algorithm>
#include <climits>
#include <memory>

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
// A header that claims more is corrupt: refuse it before allocating for it. The
// scaler's sums rely on this bound too.
#define STBI_MAX_DIMENSIONS 4096
#include <stb_image.h>

namespace {

constexpr int kChannels = 3; // as decoded: red, green, blue
// No picture control is larger than a screen, nor the banner this large.
constexpr int kMaxSide = STBI_MAX_DIMENSIONS;

struct ImageFree {
    void operator()(stbi_uc* pixels) const noexcept { stbi_image_free(pixels); }
};

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

// How the pixels of one axis of the output cover those of the input. Measured in
// units of 1/(inputs * outputs) of the axis, an output pixel is `inputs` units long
// and an input pixel `outputs` units, so every overlap is a whole number of units.
struct Axis {
    std::vector<int> first;             // per output pixel, the first input pixel under it
    std::vector<int> count;             // and how many there are
    std::vector<std::uint32_t> overlap; // their overlaps, output pixel by output pixel
};

Axis Cover(int inputs, int outputs)
{
    Axis axis;
    for (std::int64_t to = 0; to < outputs; ++to) {
        const std::int64_t start = to * inputs;
        const std::int64_t end = start + inputs;
        axis.first.push_back(static_cast<int>(start / outputs));
        int count = 0;
        for (std::int64_t from = start / outputs; from < inputs && from * outputs < end; ++from, ++count)
            axis.overlap.push_back(static_cast<std::uint32_t>(std::min(end, (from + 1) * outputs) -
                                                              std::max(start, from * outputs)));
        axis.count.push_back(count);
    }
    return axis;
}

// Scales by exact area averaging: each output pixel is the mean of the input pixels
// under it, each weighed by the part of it that is covered, as imaging libraries'
// area-averaging scalers do. Down the input rows into one row first, then across.
// The sums fit 32 bits: they reach at most 255 times the input's area.
std::vector<std::uint8_t> AreaAverage(const stbi_uc* rgb, int inputWidth, int inputHeight, int width, int height)
{
    static_assert(255ull * kMaxSide * kMaxSide + kMaxSide * kMaxSide / 2 <= 0xFFFFFFFFull);
    const Axis across = Cover(inputWidth, width);
    const Axis down = Cover(inputHeight, height);
    const std::size_t stride = static_cast<std::size_t>(inputWidth) * kChannels;
    const std::uint32_t whole = static_cast<std::uint32_t>(inputWidth) * static_cast<std::uint32_t>(inputHeight);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    std::vector<std::uint32_t> rowSum(stride);
    std::uint8_t* pixel = pixels.data();
    const std::uint32_t* rowOverlap = down.overlap.data();
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
        std::fill(rowSum.begin(), rowSum.end(), 0);
        for (int part = 0; part < down.count[y]; ++part, ++rowOverlap) {
            const stbi_uc* row = rgb + static_cast<std::size_t>(down.first[y] + part) * stride;
            for (std::size_t at = 0; at < stride; ++at)
                rowSum[at] += *rowOverlap * row[at];
        }
        const std::uint32_t* overlap = across.overlap.data();
        for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x, pixel += 4) {
            const std::uint32_t* from = &rowSum[static_cast<std::size_t>(across.first[x]) * kChannels];
            std::uint32_t red = whole / 2, green = whole / 2, blue = whole / 2;
            for (int part = 0; part < across.count[x]; ++part, from += kChannels, ++overlap) {
                red += *overlap * from[0];
                green += *overlap * from[1];
                blue += *overlap * from[2];
            }
            pixel[0] = static_cast<std::uint8_t>(blue / whole);
            pixel[1] = static_cast<std::uint8_t>(green / whole);
            pixel[2] = static_cast<std::uint8_t>(red / whole);
            pixel[3] = 0xFF;
        }
    }
    return pixels;
}

} // namespace

std::vector<std::uint8_t> DecodeBanner(std::span<const std::uint8_t> jpeg, int width, int height)
{
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return {};
    // The decoder checks the rest, each segment within the bytes given; some of its
    // versions decode a file cut short in its scan, others refuse it.
    if (jpeg.size() > static_cast<std::size_t>(INT_MAX) || !HuffmanTablesFit(jpeg))
        return {};
    int sourceWidth = 0;
    int sourceHeight = 0;
    int components = 0;
    const std::unique_ptr<stbi_uc, ImageFree> source(stbi_load_from_memory(
        jpeg.data(), static_cast<int>(jpeg.size()), &sourceWidth, &sourceHeight, &components, kChannels));
    if (!source)
        return {};

    return AreaAverage(source.get(), sourceWidth, sourceHeight, width, height);
}
