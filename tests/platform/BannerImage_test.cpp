// The banner decoder: its pictures against a plain box filter of the same decoded
// banner, damaged copies of the real banner, Huffman tables at the decoder's limit,
// and every input the fuzz target has kept: bytes no table could list.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "platform/BannerImage.h"

// The test's own copy of the decoder, for the reference picture.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#include <stb/stb_image.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kWidth = 256; // the picture control at 96 dots per inch
constexpr int kHeight = 60;

Bytes Read(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

const Bytes& Banner()
{
    static const Bytes banner = Read(QUORLIN_BANNER_JPEG);
    return banner;
}

// Where the banner's first segment with this marker starts, found by walking its
// segments from the start-of-image marker.
std::size_t Segment(std::uint8_t marker)
{
    std::size_t at = 2;
    while (Banner().at(at + 1) != marker)
        at += 2 + (Banner().at(at + 2) << 8 | Banner().at(at + 3));
    return at;
}

// The banner with one more Huffman segment before its scan, holding two tables for
// slots the scan does not use: one of 256 codes, then one of `codes` codes. Of each
// table's codes one is 1 bit long and one 15 bits, the rest 16 bits, so that they are
// a valid code; every symbol is 2, so that a count that strays past the 16 lengths
// takes it in.
Bytes WithHuffmanTables(int codes)
{
    const int length = 2 + 17 + 256 + 17 + codes;
    Bytes segment{0xFF, 0xC4, std::uint8_t(length >> 8), std::uint8_t(length)};
    std::uint8_t slot = 0x12; // AC tables 2 and 3
    for (const int count : {256, codes}) {
        const auto table = segment.insert(segment.end(), 17 + count, 2);
        std::fill(table, table + 17, 0);
        table[0] = slot++;
        table[1] = table[15] = 1;
        table[16] = count - 2;
    }
    Bytes jpeg = Banner();
    jpeg.insert(jpeg.begin() + Segment(0xDA), segment.begin(), segment.end());
    return jpeg;
}

// Each output pixel's mean of the input pixels it covers, each weighed by the area
// covered, in doubles.
double BoxMean(const stbi_uc* rgb, int inWidth, int inHeight, int width, int height, int x, int y, int channel)
{
    const double left = double(x) * inWidth / width, right = double(x + 1) * inWidth / width;
    const double top = double(y) * inHeight / height, bottom = double(y + 1) * inHeight / height;
    double sum = 0;
    for (int row = int(top); row < bottom; ++row)
        for (int column = int(left); column < right; ++column)
            sum += (std::min(right, column + 1.0) - std::max(left, double(column))) *
                   (std::min(bottom, row + 1.0) - std::max(top, double(row))) *
                   rgb[(row * inWidth + column) * 3 + channel];
    return sum / ((right - left) * (bottom - top));
}

TEST(DecodeBanner, EachPixel_IsTheAreaWeightedMeanOfThoseItCovers_Rounded)
{
    int inWidth = 0, inHeight = 0, components = 0;
    const std::unique_ptr<stbi_uc, void (*)(void*)> rgb(
        stbi_load_from_memory(Banner().data(), int(Banner().size()), &inWidth, &inHeight, &components, 3),
        stbi_image_free);
    ASSERT_TRUE(rgb);
    // The picture control at 96, 120, 144 and 192 dots per inch (the banner is
    // 400 x 100, so the last enlarges it), and the longest sides a picture may have.
    for (const auto& [width, height] : {std::pair{256, 60}, {320, 75}, {384, 90}, {512, 120}, {4096, 1}, {1, 4096}}) {
        const Bytes pixels = DecodeBanner(Banner(), width, height);
        ASSERT_EQ(pixels.size(), std::size_t(width) * height * 4) << width << " x " << height;
        int wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* pixel = &pixels[std::size_t(y * width + x) * 4];
                wrong += pixel[3] != 0xFF;
                // Blue, green, red: within half a level of the exact mean.
                for (int channel = 0; channel < 3; ++channel)
                    wrong += std::abs(pixel[channel] -
                                      BoxMean(rgb.get(), inWidth, inHeight, width, height, x, y, 2 - channel)) >
                             0.5 + 1e-9;
            }
        EXPECT_EQ(wrong, 0) << width << " x " << height;
    }
}

TEST(DecodeBanner, Damaged_GivesNoBanner)
{
    Bytes overflowing = Banner(); // the first Huffman table's first four counts at 255
    std::fill_n(overflowing.begin() + Segment(0xC4) + 5, 4, 0xFF);
    const std::pair<const char*, Bytes> cases[] = {
        {"CutAfterHuffmanMarker", Bytes(Banner().begin(), Banner().begin() + Segment(0xC4) + 2)},
        {"CutInHuffmanMarker", Bytes(Banner().begin(), Banner().begin() + Segment(0xC4) + 1)},
        {"HuffmanCountsOverflow", overflowing},
    };
    for (const auto& [name, bytes] : cases)
        EXPECT_TRUE(DecodeBanner(bytes, kWidth, kHeight).empty()) << name;
}

// The decoder does not check that a Huffman table has room for its codes: 256 fit,
// 257 would be written past the table.
TEST(DecodeBanner, HuffmanTableOf257Codes_GivesNoBanner)
{
    EXPECT_FALSE(DecodeBanner(WithHuffmanTables(256), kWidth, kHeight).empty());
    EXPECT_TRUE(DecodeBanner(WithHuffmanTables(257), kWidth, kHeight).empty());
}

TEST(DecodeBanner, SizeNotAPicture_GivesNoBanner)
{
    for (const auto& [width, height] : {std::pair{-1, kHeight}, {kWidth, -kHeight}, {1 << 20, kHeight}})
        EXPECT_TRUE(DecodeBanner(Banner(), width, height).empty()) << width << " x " << height;
}

// The banner itself, and what libFuzzer kept of its runs (named by hash), among them
// the input that made the decoder write past its Huffman table.
TEST(DecodeBanner, FuzzCorpus_EachInputPassesTheFuzzTarget)
{
    ASSERT_FALSE(std::filesystem::is_empty(QUORLIN_FUZZ_CORPUS));
    for (const auto& entry : std::filesystem::directory_iterator(QUORLIN_FUZZ_CORPUS)) {
        const Bytes bytes = Read(entry.path());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size()); // aborts on a wrong picture
    }
}

} // namespace
