#pragma once
// The window's class and its controls: ids, kinds, captions and places. Free of the
// Windows headers so that the window drivers can share it.

#include <array>
#include <cstddef>
#include <string_view>

// Control ids stay clear of IDOK (1) and IDCANCEL (2).
enum class ControlId : int { Label1 = 101, Option1, Option2, Option3, Label2, Command1, Image1 };

// 0 for the first id, one more for each id after it.
constexpr std::size_t IndexOf(ControlId id)
{
    return static_cast<std::size_t>(static_cast<int>(id) - static_cast<int>(ControlId::Label1));
}

enum class ControlKind { Label, CentredLabel, Option, PushButton, Picture };

// Lengths in twips: 1440 to the inch, 15 to the pixel at 96 dots per inch.
struct ControlPlace {
    ControlId id;
    ControlKind kind;
    std::wstring_view caption;
    int left, top, width, height;
};

// What the drivers find the window by.
inline constexpr wchar_t kFormClassName[] = L"QuorlinForm1";
inline constexpr std::wstring_view kFormCaption = L"Quorlin v.0.1";
inline constexpr int kClientWidthTwips = 4095;
inline constexpr int kClientHeightTwips = 3405;

// In the order of creation, which is the order in which assistive technology walks
// the window (its children's z-order): as they stand on the screen, top to bottom and
// left to right. Label1 is wider than the client area on purpose: the window clips
// it at its right edge. Option3 reaches the client area's right edge, where nothing
// stands beside it, because its longer caption does not fit the width of the other
// two options at every resolution.
inline constexpr std::array<ControlPlace, 7> kControls{{
    {ControlId::Label1, ControlKind::Label, L"GeForce PhysX settings:", 120, 120, 4335, 255},
    {ControlId::Option1, ControlKind::Option, L"Enable GeForce PhysX", 360, 600, 3615, 255},
    {ControlId::Option2, ControlKind::Option, L"Disable GeForce PhysX (runs on CPU)", 360, 960, 3615, 255},
    {ControlId::Option3, ControlKind::Option, L"Not detected (probably NV PhysX not installed)", 360, 1320, 3735, 255},
    {ControlId::Label2, ControlKind::CentredLabel, L"Made by the\r\nQuorlin project", 120, 1800, 1935, 495},
    {ControlId::Command1, ControlKind::PushButton, L"Close", 2280, 1800, 1695, 375},
    {ControlId::Image1, ControlKind::Picture, L"", 120, 2400, 3840, 900},
}};
static_assert(IndexOf(ControlId::Image1) + 1 == kControls.size(), "one place per id, the ids in a row");

// The focus order: the controls that can take the focus, by tab index. Tab passes
// over any of them that is hidden or disabled, as the status option Option3 always is.
inline constexpr std::array kTabOrder{ControlId::Option1, ControlId::Option2, ControlId::Command1, ControlId::Option3};
