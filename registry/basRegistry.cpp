#include "registry/basRegistry.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <iterator>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "registry/RegistryApi.h"

std::int32_t LastRegStatus = 0;

namespace {

LONG Record(LONG status) noexcept
{
    LastRegStatus = status;
    return status;
}

// The registry's ANSI functions take 8-bit text, in the system's ANSI code page.
std::string ToAnsi(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, ansi.data(), size, nullptr, nullptr);
    return ansi;
}

std::wstring FromAnsi(const char* bytes, std::size_t count)
{
    // MultiByteToWideChar counts in int; no value a 32-bit process can hold reaches that.
    if (count == 0 || count > INT_MAX)
        return {};
    const int length = static_cast<int>(count);
    const int size = MultiByteToWideChar(CP_ACP, 0, bytes, length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes, length, wide.data(), size);
    return wide;
}

RegValue EmptyText()
{
    return RegValue::Text({});
}

RegValue ReadText(HKEY key, const char* valueName, DWORD size)
{
    // The size comes from the registry and may be anything; a buffer we cannot
    // get reads as empty text rather than ending the program.
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
    if (!buffer)
        return EmptyText();
    DWORD count = size;
    if (Record(RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.get()),
                                &count)) != ERROR_SUCCESS)
        return EmptyText();
    // The value may have been replaced by a shorter one since its size was asked
    // for: only the bytes this query delivered are the value's.
    count = std::min(count, size);
    const void* nul = std::memchr(buffer.get(), '\0', count);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer.get()) : count;
    try {
        return RegValue::Text(FromAnsi(buffer.get(), length));
    } catch (const std::bad_alloc&) {
        return EmptyText();
    }
}

// REG_DWORD is read into 4 bytes, REG_BINARY into 6; longer data does not fit and
// the query refuses it. The number is the first four bytes, little-endian, signed.
template <DWORD Capacity>
RegValue ReadNumber(HKEY key, const char* valueName)
{
    std::array<BYTE, Capacity> bytes{};
    DWORD count = Capacity;
    if (Record(RegQueryValueExA(key, valueName, nullptr, nullptr, bytes.data(), &count)) != ERROR_SUCCESS)
        return EmptyText();
    const std::uint32_t bits = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | std::uint32_t{bytes[3]} << 24;
    return RegValue::Integer(static_cast<std::int32_t>(bits));
}

RegValue ReadOpenKey(HKEY key, const char* valueName)
{
    // A missing value reports no type: it stays 0 and reads as empty text.
    DWORD type = REG_NONE;
    DWORD size = 0;
    Record(RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size));
    switch (type) {
    case REG_SZ:
        return ReadText(key, valueName, size);
    case REG_DWORD:
        return ReadNumber<4>(key, valueName);
    case REG_BINARY:
        return ReadNumber<6>(key, valueName);
    case REG_MULTI_SZ:
        return RegValue{};
    default:
        return EmptyText();
    }
}

std::wstring_view TrimSpaces(std::wstring_view text)
{
    const auto first = text.find_first_not_of(L' ');
    if (first == std::wstring_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

// Numeric text is an optional sign, digits with at most one decimal point (at least
// one digit) and an optional exponent, such as "42", "-2.5" or "1e3". Checked on the
// wide text, so that no other character can turn into a digit on the way to 8 bits.
bool IsNumeric(std::wstring_view text)
{
    std::size_t at = 0;
    const auto digits = [&] {
        const std::size_t from = at;
        while (at < text.size() && text[at] >= L'0' && text[at] <= L'9')
            ++at;
        return at - from;
    };
    const auto sign = [&] { at += at < text.size() && (text[at] == L'-' || text[at] == L'+'); };
    sign();
    std::size_t count = digits();
    if (at < text.size() && text[at] == L'.') {
        ++at;
        count += digits();
    }
    if (at < text.size() && (text[at] == L'e' || text[at] == L'E')) {
        ++at;
        sign();
        if (digits() == 0)
            return false;
    }
    return count > 0 && at == text.size();
}

// from_chars reports a number too large for a double and one too close to zero
// alike, as out of range, with the double left alone. Zero is neither, so the text
// has a significant digit: the number is too close to zero when that digit stands
// below the units once the exponent is applied. Being out of range, it stands
// hundreds of places away, so the units' digit itself need not be told apart, and
// an exponent beyond 64 bits counts by its sign alone.
bool TooCloseToZero(std::string_view number)
{
    const auto exponentAt = std::min(number.find_first_of("eE"), number.size());
    std::int64_t exponent = 0;
    if (exponentAt < number.size()) {
        const char* from = number.data() + exponentAt + 1;
        from += *from == '+';
        if (std::from_chars(from, number.data() + number.size(), exponent).ec != std::errc{})
            return *from == '-';
    }
    const auto point = std::min(number.find('.'), exponentAt);
    return static_cast<double>(exponent) + static_cast<double>(point) <
           static_cast<double>(number.find_first_of("123456789"));
}

// Numeric text is read as the nearest double and rounded to the nearest integer,
// halves to the even neighbour. Numeric text beyond the signed 32-bit range gives no
// number: the writer then stores it as text, so the value is kept as written instead
// of being wrapped.
std::optional<std::int32_t> RoundNumericText(std::wstring_view text)
{
    if (!IsNumeric(text))
        return std::nullopt;
    // from_chars takes no plus sign.
    if (text.front() == L'+')
        text.remove_prefix(1);
    const std::string ascii(text.begin(), text.end());
    double number = 0;
    if (std::from_chars(ascii.data(), ascii.data() + ascii.size(), number).ec == std::errc::result_out_of_range)
        number = TooCloseToZero(ascii) ? 0 : HUGE_VAL;
    number = std::nearbyint(number);
    if (!(number >= INT32_MIN && number <= INT32_MAX))
        return std::nullopt;
    return static_cast<std::int32_t>(number);
}

// The number a value is stored as, or none when it is stored as text.
std::optional<std::int32_t> StoredNumber(const RegValue& value)
{
    if (const auto* number = value.integer())
        return *number;
    if (const auto* text = value.text())
        return RoundNumericText(TrimSpaces(*text));
    return 0;
}

LONG StoreValue(HKEY key, const char* valueName, const RegValue& value)
{
    if (const auto number = StoredNumber(value)) {
        const auto bits = static_cast<std::uint32_t>(*number);
        const std::array<BYTE, 4> bytes{static_cast<BYTE>(bits), static_cast<BYTE>(bits >> 8),
                                        static_cast<BYTE>(bits >> 16), static_cast<BYTE>(bits >> 24)};
        return RegSetValueExA(key, valueName, 0, REG_DWORD, bytes.data(), static_cast<DWORD>(bytes.size()));
    }
    // The count includes the terminating NUL that c_str() supplies: "GPU" is 4 bytes.
    const std::string text = ToAnsi(TrimSpaces(value.TextForm()));
    return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

} // namespace

std::wstring RegValue::TextForm() const
{
    if (const auto* number = integer()) {
        char digits[12];
        char* const end = std::to_chars(std::begin(digits), std::end(digits), *number).ptr;
        return std::wstring(digits, end);
    }
    if (const auto* value = text())
        return *value;
    return {};
}

RegValue ReadRegValue(HKEY rootKey, std::wstring_view keyPath, std::wstring_view valueName)
{
    const std::string path = ToAnsi(keyPath);
    const std::string name = ToAnsi(valueName);
    HKEY key = nullptr;
    Record(RegOpenKeyA(rootKey, path.c_str(), &key));
    const RegValue result = key ? ReadOpenKey(key, name.c_str()) : EmptyText();
    // Closed on every path, with handle 0 when the open failed; the caller is left
    // with the status of this close.
    Record(RegCloseKey(key));
    return result;
}

std::int32_t WriteRegValue(HKEY rootKey, std::wstring_view keyPath, std::wstring_view valueName,
                           const RegValue& value)
{
    const std::string path = ToAnsi(keyPath);
    const std::string name = ToAnsi(valueName);
    HKEY key = nullptr;
    // When the key cannot be created the store still runs, on handle 0, and fails in
    // turn; the caller is given the first refusal, which is the one that says why.
    const LONG created = Record(RegCreateKeyA(rootKey, path.c_str(), &key));
    const LONG stored = Record(StoreValue(key, name.c_str(), value));
    Record(RegCloseKey(key));
    return created != ERROR_SUCCESS ? created : stored;
}
