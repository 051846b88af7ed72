#pragma once
// Where the physics runtime keeps its choice. Free of the Windows headers, so that
// the selection logic, the window drivers and the benchmark's floor all read and
// write the one value.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr std::uint32_t kHardwareRootKeyId = 0x80000002; // HKEY_LOCAL_MACHINE
inline constexpr std::wstring_view kHardwareKeyPath = L"Software\\AGEIA Technologies";
inline constexpr std::wstring_view kHardwareValueName = L"HwSelection";

// Text for the ANSI registry functions, with its NUL: the drivers and the floor call
// those, as the registry module does. Only ASCII converts the same in every code
// page, so any other character, or a NUL inside, fails the build.
template <const std::wstring_view& Text>
inline constexpr std::array<char, Text.size() + 1> kAnsi = [] {
    std::array<char, Text.size() + 1> ansi{};
    for (std::size_t at = 0; at < Text.size(); ++at) {
        if (Text[at] == L'\0' || Text[at] > L'\x7F')
            throw "not ASCII";
        ansi[at] = static_cast<char>(Text[at]);
    }
    return ansi;
}();
