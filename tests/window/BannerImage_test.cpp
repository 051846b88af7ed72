// The banner decoder on damaged copies of the real banner, and on every input the
// fuzz target has kept: bytes no table could list. (The end-to-end tests compare the
// banner drawn with an exact area average made by another decoder and scaler.)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include "window/BannerImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kWidth = 256; // the picture control at 96 dots per inch
constexpr int kHeight = 60;
constexpr std::size_t kFrameAt = 0x9E; // the banner's start-of-frame segment
constexpr std::size_t kHuffmanAt = 0xB1;

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

Bytes Set(Bytes bytes, std::size_t at, std::initializer_list<std::uint8_t> values)
{
    std::copy(values.begin(), values.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

TEST(DecodeBanner, WholeBanner_GivesAPictureOfTheSizeAsked)
{
    const Bytes pixels = DecodeBanner(Banner(), kWidth, kHeight);
    ASSERT_EQ(pixels.size(), std::size_t{kWidth} * kHeight * 4);
    EXPECT_EQ(pixels[3], 0xFF);
}

TEST(DecodeBanner, Damaged_GivesNoBanner)
{
    const std::pair<const char*, Bytes> cases[] = {
        {"Empty", Bytes{}},
        {"NoStartMarker", Set(Banner(), 0, {0, 0})},
        {"ZeroHeight", Set(Banner(), kFrameAt + 5, {0, 0})},
        {"HugeSize", Set(Banner(), kFrameAt + 5, {0xFF, 0xFF, 0xFF, 0xFF})},
        {"HuffmanCountsOverflow", Set(Banner(), kHuffmanAt + 5, {0xFF, 0xFF, 0xFF, 0xFF})},
    };
    for (const auto& [name, bytes] : cases)
        EXPECT_TRUE(DecodeBanner(bytes, kWidth, kHeight).empty()) << name;
}

TEST(DecodeBanner, SizeNotAPicture_GivesNoBanner)
{
    for (const auto& [width, height] : {std::pair{0, kHeight}, {kWidth, 0}, {-1, kHeight}, {kWidth, -kHeight},
                                       {1 << 20, kHeight}, {kWidth, 1 << 20}})
        EXPECT_TRUE(DecodeBanner(Banner(), width, height).empty()) << width << " x " << height;
}

// The banner itself, and what libFuzzer kept of its runs (named by hash), among them
// the input that made the decoder write past its Huffman table.
TEST(DecodeBanner, FuzzCorpus_EachInputPassesTheFuzzTarget)
{
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QUORLIN_FUZZ_CORPUS)) {
        const Bytes bytes = Read(entry.path());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size()); // aborts on a wrong picture
        ++count;
    }
    EXPECT_GT(count, 200u);
}

} // namespace
