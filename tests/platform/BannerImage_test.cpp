// The banner decoder: its pictures against a plain box filter of the same decoded
// banner, damaged copies of the real banner, Huffman tables at the decoder's limit,
// and every input the fuzz target has kept: bytes no table could list.
//
// Of damaged bytes the program promises what it checks itself: no fault (the
// sanitizers watch every read, so each damaged copy is a buffer of exactly its
// size) and no banner or the right one, the picture the decoder makes of those
// bytes scaled as any other. Whether the decoder makes a picture of a cut or
// corrupted file is its own affair, and differs between its versions.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/BannerImage.h"

// The test's own copy of the decoder, for the reference picture.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#include <stb/stb_image.h>

#if __has_include(<sanitizer/common_interface_defs.h>) && defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

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

// Where each of the banner's markers starts: the start of image, every segment up to
// and including the scan's header, found by walking them, and the end of image.
std::vector<std::size_t> Markers()
{
    std::vector<std::size_t> markers{0, 2};
    while (Banner().at(markers.back() + 1) != 0xDA) {
        const std::size_t at = markers.back();
        markers.push_back(at + 2 + (Banner().at(at + 2) << 8 | Banner().at(at + 3)));
    }
    markers.push_back(Banner().size() - 2);
    return markers;
}

// Where the banner's first segment with this marker starts.
std::size_t Segment(std::uint8_t marker)
{
    for (const std::size_t at : Markers())
        if (Banner()[at + 1] == marker)
            return at;
    throw std::out_of_range("no such segment");
}

// The banner with one more Huffman segment, put in at `at`, holding two tables for
// slots the scan does not use: one of 256 codes, then one of `codes` codes. Of each
// table's codes one is 1 bit long and one 15 bits, the rest 16 bits, so that they are
// a valid code; every symbol is 2, so that a count that strays past the 16 lengths
// takes it in.
Bytes WithHuffmanTables(int codes, std::size_t at)
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
    jpeg.insert(jpeg.begin() + at, segment.begin(), segment.end());
    return jpeg;
}

// The banner cut short, from its frame header on: at each marker and in the bytes
// after it (the marker, the segment's length, its first contents), halfway through
// and at the last byte of each segment, and at a spread of lengths through the scan.
// Then with one byte flipped: at each marker, its length and first contents, and at
// a spread of places through the scan. Then with stray markers in the scan: a
// Huffman table's, whose length is whatever follows, and an early end of image.
// Each copy is built from a range, so that its buffer holds exactly its bytes and
// the address sanitizer faults any read past them.
std::vector<std::pair<std::string, Bytes>> DamagedBanners()
{
    const Bytes& banner = Banner();
    const std::vector<std::size_t> markers = Markers();
    const std::size_t scan = Segment(0xDA) + 2 + (banner[Segment(0xDA) + 2] << 8 | banner[Segment(0xDA) + 3]);
    const std::size_t eoi = markers.back();
    std::set<std::size_t> cuts, flips;
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const std::size_t at = markers[i], end = i + 1 < markers.size() ? markers[i + 1] : banner.size();
        for (const std::size_t place : {at, at + 1, at + 2, at + 3, at + 4, at + 5, (at + end) / 2, end - 1}) {
            if (place < banner.size() && at >= Segment(0xC0))
                cuts.insert(place);
            if (place < banner.size() && place <= at + 4)
                flips.insert(place);
        }
    }
    for (std::size_t step = 0; step < 32; ++step) {
        cuts.insert(scan + step * (eoi - scan) / 32);
        flips.insert(scan + step * (eoi - scan) / 32);
    }

    std::vector<std::pair<std::string, Bytes>> damaged;
    for (const std::size_t length : cuts)
        damaged.emplace_back("cut to " + std::to_string(length) + " bytes",
                             Bytes(banner.begin(), banner.begin() + length));
    for (const std::size_t at : flips) {
        damaged.emplace_back("byte " + std::to_string(at) + " flipped", Bytes(banner.begin(), banner.end()));
        damaged.back().second[at] ^= 0xFF;
    }
    for (const std::uint8_t marker : {0xC4, 0xD9}) {
        damaged.emplace_back("marker " + std::to_string(marker) + " in the scan", Bytes(banner.begin(), banner.end()));
        damaged.back().second[(scan + eoi) / 2] = 0xFF;
        damaged.back().second[(scan + eoi) / 2 + 1] = marker;
    }
    return damaged;
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

// Whether a banner is what the test's own copy of the decoder makes of the same
// bytes, scaled to width x height: each of blue, green and red within half a level
// of the exact mean, alpha 255. Bytes that copy cannot decode have no right banner.
testing::AssertionResult IsScaledFrom(const Bytes& jpeg, const Bytes& pixels, int width, int height)
{
    if (pixels.size() != std::size_t(width) * height * 4)
        return testing::AssertionFailure() << pixels.size() << " bytes, not " << width << " x " << height << " pixels";
    int inWidth = 0, inHeight = 0, components = 0;
    const std::unique_ptr<stbi_uc, void (*)(void*)> rgb(
        stbi_load_from_memory(jpeg.data(), int(jpeg.size()), &inWidth, &inHeight, &components, 3), stbi_image_free);
    if (!rgb)
        return testing::AssertionFailure() << "a banner of bytes that do not decode";
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* pixel = &pixels[std::size_t(y * width + x) * 4];
            bool right = pixel[3] == 0xFF;
            for (int channel = 0; channel < 3; ++channel)
                right = right && std::abs(pixel[channel] - BoxMean(rgb.get(), inWidth, inHeight, width, height, x,
                                                                   y, 2 - channel)) <= 0.5 + 1e-9;
            wrong += !right;
        }
    if (wrong)
        return testing::AssertionFailure() << wrong << " of " << width * height << " pixels wrong";
    return testing::AssertionSuccess();
}

// Names the input a loop is on while it is in scope, should a sanitizer end the
// process: it does so before gtest can say which input it was.
class Naming {
public:
    explicit Naming(std::string name) : name_(std::move(name))
    {
        Current() = &name_;
#if __has_include(<sanitizer/common_interface_defs.h>) && defined(__SANITIZE_ADDRESS__)
        __sanitizer_set_death_callback(&Print);
#endif
    }
    ~Naming() { Current() = nullptr; }
    Naming(const Naming&) = delete;
    Naming& operator=(const Naming&) = delete;

private:
    const std::string name_;

    static const std::string*& Current()
    {
        static const std::string* name = nullptr;
        return name;
    }
    static void Print()
    {
        if (Current())
            std::fprintf(stderr, "the sanitizer stopped the run on: %s\n", Current()->c_str());
    }
};

TEST(DecodeBanner, EachPixel_IsTheAreaWeightedMeanOfThoseItCovers_Rounded)
{
    // The picture control at 96, 120, 144 and 192 dots per inch (the banner is
    // 400 x 100, so the last enlarges it), and the longest sides a picture may have.
    for (const auto& [width, height] : {std::pair{256, 60}, {320, 75}, {384, 90}, {512, 120}, {4096, 1}, {1, 4096}})
        EXPECT_TRUE(IsScaledFrom(Banner(), DecodeBanner(Banner(), width, height), width, height))
            << width << " x " << height;
}

// Whatever the decoder makes of them: cut short, flipped, with markers where there
// should be none.
TEST(DecodeBanner, Damaged_GivesNoBannerOrTheRightOne)
{
    for (const auto& [name, bytes] : DamagedBanners()) {
        const Naming naming(name);
        const Bytes pixels = DecodeBanner(bytes, kWidth, kHeight);
        if (pixels.empty())
            continue;
        EXPECT_TRUE(IsScaledFrom(bytes, pixels, kWidth, kHeight)) << name;
    }
}

// Before its frame header a file has not given the picture's size.
TEST(DecodeBanner, CutBeforeItsFrameHeader_GivesNoBanner)
{
    for (std::size_t length = 0; length < Segment(0xC0) + 2; ++length)
        EXPECT_TRUE(DecodeBanner(Bytes(Banner().begin(), Banner().begin() + length), kWidth, kHeight).empty())
            << length << " bytes";
}

// Not every version of the decoder checks that a Huffman table has room for its
// codes, so the program does, wherever a table's marker is, even in a file cut short:
// 256 fit, 257 would be written past the table.
TEST(DecodeBanner, HuffmanTableOfMoreThan256Codes_GivesNoBanner)
{
    Bytes countsOf255 = Banner(); // the first table's first four counts at 255
    std::fill_n(countsOf255.begin() + Segment(0xC4) + 5, 4, 0xFF);
    const struct {
        const char* name;
        Bytes bytes;
        bool banner;
    } cases[] = {
        {"256 codes", WithHuffmanTables(256, Segment(0xDA)), true},
        {"257 codes", WithHuffmanTables(257, Segment(0xDA)), false},
        {"257 codes after the scan", WithHuffmanTables(257, Banner().size() - 2), false},
        {"counts of 255", countsOf255, false},
        {"counts of 255, cut after two", Bytes(countsOf255.begin(), countsOf255.begin() + Segment(0xC4) + 7), false},
    };
    for (const auto& [name, bytes, banner] : cases)
        EXPECT_EQ(DecodeBanner(bytes, kWidth, kHeight).size(), banner ? std::size_t{kWidth} * kHeight * 4 : 0) << name;
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
        const Naming naming(entry.path().filename().string());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size()); // aborts on a wrong picture
    }
}

} // namespace
