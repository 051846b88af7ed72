// The banner decoder on the real banner, against exact area averages made by
// another decoder and scaler (PIL), and on damaged copies of it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "window/BannerImage.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kWidth = 256; // the picture control at 96 dots per inch
constexpr int kHeight = 60;
constexpr std::size_t kFrameAt = 0x9E; // the banner's start-of-frame segment
constexpr std::size_t kHuffmanAt = 0xB1;

Bytes ReadFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const Bytes& Banner()
{
    static const Bytes banner = ReadFile(QUORLIN_BANNER_JPEG);
    return banner;
}

class ScaledBanner : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(ScaledBanner, MatchesAreaAverage)
{
    const auto [width, height] = GetParam();
    const std::size_t count = std::size_t(width) * std::size_t(height);
    const Bytes reference = ReadFile(
        (QUORLIN_BANNER_REFERENCES "banner_" + std::to_string(width) + "x" + std::to_string(height) + ".rgb").c_str());
    ASSERT_EQ(reference.size(), count * 3); // RGB
    const Bytes pixels = DecodeBanner(Banner(), width, height); // BGRX
    ASSERT_EQ(pixels.size(), count * 4);
    long total = 0;
    int worst = 0;
    for (std::size_t pixel = 0; pixel < count; ++pixel) {
        for (std::size_t channel = 0; channel < 3; ++channel) {
            const int difference = std::abs(pixels[pixel * 4 + 2 - channel] - reference[pixel * 3 + channel]);
            total += difference;
            worst = std::max(worst, difference);
        }
        ASSERT_EQ(pixels[pixel * 4 + 3], 0xFF) << "pixel " << pixel;
    }
    // Two JPEG decoders differ by a level or two here and there, no more.
    EXPECT_LE(static_cast<double>(total) / static_cast<double>(reference.size()), 0.1);
    EXPECT_LE(worst, 3);
}

// The picture's size at 96 dots per inch, and at 144 and 192.
INSTANTIATE_TEST_SUITE_P(DecodeBanner, ScaledBanner,
                         testing::Values(std::pair{kWidth, kHeight}, std::pair{384, 90}, std::pair{512, 120}),
                         [](const auto& info) {
                             return std::to_string(info.param.first) + "x" + std::to_string(info.param.second);
                         });

struct Damage {
    const char* name;
    Bytes (*make)(Bytes);
};

void PrintTo(const Damage& damage, std::ostream* out)
{
    *out << damage.name;
}

Bytes Set(Bytes bytes, std::size_t at, std::initializer_list<std::uint8_t> values)
{
    std::copy(values.begin(), values.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

class DamagedBanner : public testing::TestWithParam<Damage> {};

TEST_P(DamagedBanner, GivesNoBanner)
{
    EXPECT_TRUE(DecodeBanner(GetParam().make(Banner()), kWidth, kHeight).empty());
}

INSTANTIATE_TEST_SUITE_P(DecodeBanner, DamagedBanner, testing::Values(
    Damage{"Empty", [](Bytes) { return Bytes{}; }},
    Damage{"StartMarkerOnly", [](Bytes b) { return Bytes(b.begin(), b.begin() + 2); }},
    Damage{"CutInHeaders", [](Bytes b) { return Bytes(b.begin(), b.begin() + 300); }},
    Damage{"CutInScan", [](Bytes b) { return Bytes(b.begin(), b.begin() + 6000); }},
    Damage{"LastByteMissing", [](Bytes b) { b.pop_back(); return b; }},
    Damage{"NoStartMarker", [](Bytes b) { return Set(b, 0, {0, 0}); }},
    Damage{"ZeroHeight", [](Bytes b) { return Set(b, kFrameAt + 5, {0, 0}); }},
    Damage{"ZeroWidth", [](Bytes b) { return Set(b, kFrameAt + 7, {0, 0}); }},
    Damage{"HugeSize", [](Bytes b) { return Set(b, kFrameAt + 5, {0xFF, 0xFF, 0xFF, 0xFF}); }},
    Damage{"FiveComponents", [](Bytes b) { return Set(b, kFrameAt + 9, {5}); }},
    Damage{"HuffmanCountsOverflow", [](Bytes b) { return Set(b, kHuffmanAt + 5, {0xFF, 0xFF, 0xFF, 0xFF}); }}),
    [](const testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

TEST(DecodeBanner, CorruptedBytes_DecodeWholeOrNotAtAll)
{
    // Noise in the coded data can decode to a wrong picture; it must never fault.
    for (std::size_t at = 2; at < Banner().size(); at += 37) {
        Bytes copy = Banner();
        copy[at] ^= 0xA5;
        const Bytes pixels = DecodeBanner(copy, kWidth, kHeight);
        EXPECT_TRUE(pixels.empty() || pixels.size() == std::size_t{kWidth} * kHeight * 4) << "byte " << at;
    }
}

TEST(DecodeBanner, SizeNotAPicture_GivesNoBanner)
{
    for (const auto& [width, height] : {std::pair{0, kHeight}, {kWidth, 0}, {-1, kHeight}, {kWidth, -kHeight},
                                       {1 << 20, kHeight}, {kWidth, 1 << 20}})
        EXPECT_TRUE(DecodeBanner(Banner(), width, height).empty()) << width << " x " << height;
}

} // namespace
