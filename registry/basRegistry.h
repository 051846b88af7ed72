#pragma once
// Reads and writes one named value below a registry key, hiding the registry's
// value types and terminators from the rest of the program.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

// The registry's key handle, declared exactly as <windows.h> declares it, so that
// code using this module does not need the Windows headers.
struct HKEY__;
using HKEY = HKEY__*;

// A predefined root key such as HKEY_LOCAL_MACHINE (0x80000002). Windows
// sign-extends the 32-bit constant into the handle, and so do we.
inline HKEY PredefinedKey(std::uint32_t id) noexcept
{
    return reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(id)));
}

// A value as the window sees it: nothing, wide text, or a signed 32-bit number.
class RegValue {
public:
    enum class Kind { Empty, Text, Integer };

    RegValue() = default;
    static RegValue Text(std::wstring text) { return RegValue(Data(std::move(text))); }
    static RegValue Integer(std::int32_t number) { return RegValue(Data(number)); }

    Kind kind() const noexcept { return static_cast<Kind>(data_.index()); }
    const std::wstring* text() const noexcept { return std::get_if<std::wstring>(&data_); }
    const std::int32_t* integer() const noexcept { return std::get_if<std::int32_t>(&data_); }

    // Empty gives empty text, text gives itself, a number its decimal digits.
    std::wstring TextForm() const;

    friend bool operator==(const RegValue&, const RegValue&) = default;

private:
    using Data = std::variant<std::monostate, std::wstring, std::int32_t>;
    explicit RegValue(Data data) : data_(std::move(data)) {}
    Data data_;
};

// Status of the module's latest registry call (0 is ERROR_SUCCESS). Every call the
// two routines make stores its status here, so after either returns it holds the
// status of closing the key.
extern std::int32_t LastRegStatus;

// Returns the value's data; whatever goes wrong, the result is empty text.
// REG_SZ gives text cut at its first NUL, REG_DWORD and REG_BINARY (up to 6 bytes)
// a number, REG_MULTI_SZ the empty kind, every other type empty text.
RegValue ReadRegValue(HKEY rootKey, std::wstring_view keyPath, std::wstring_view valueName);

// Creates or opens the key and stores the value: numeric values as REG_DWORD,
// everything else as REG_SZ text without surrounding spaces and with its NUL.
// Returns 0 when the value was stored, else the status of the first call that
// failed: the create's, or the store's.
std::int32_t WriteRegValue(HKEY rootKey, std::wstring_view keyPath, std::wstring_view valueName,
                           const RegValue& value);
