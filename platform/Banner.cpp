#include "platform/Banner.h"

#include <cstring>

#include "resources/resource.h"
#include "platform/BannerImage.h"

unique_hbitmap LoadBanner(HINSTANCE instance, int width, int height)
{
    const HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(IDR_BANNER), RT_RCDATA);
    const HGLOBAL loaded = resource ? LoadResource(instance, resource) : nullptr;
    const auto* bytes = static_cast<const std::uint8_t*>(loaded ? LockResource(loaded) : nullptr);
    if (!bytes)
        return {};
    const std::vector<std::uint8_t> pixels = DecodeBanner({bytes, SizeofResource(instance, resource)}, width, height);
    if (pixels.empty())
        return {};

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down, as the rows are decoded
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    unique_hbitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits)
        return {};
    std::memcpy(bits, pixels.data(), pixels.size());
    return bitmap;
}
