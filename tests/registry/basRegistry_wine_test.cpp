// The registry module against the real registry (under Wine, in the project's
// prefix), for what the in-memory stand-in can only imitate: how the real functions
// answer for each kind of stored data, and the conversion through the ANSI code page.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "registry/basRegistry.h"

namespace {

using namespace std::string_literals;

constexpr char kScratch[] = "Software\\Quorlin Tests";
constexpr wchar_t kWideScratch[] = L"Software\\Quorlin Tests";

class RealRegistry : public testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kScratch); }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kScratch); }
};

struct ReadCase {
    const char* name;
    DWORD type;
    std::string bytes;
    RegValue expected;
};

class ReadRegValue_RealData : public RealRegistry, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadRegValue_RealData, ReadsAsExpected)
{
    // Planted from a buffer followed by a non-zero byte: the registry appends a NUL
    // to text whose next byte in memory happens to be one.
    const std::string guarded = GetParam().bytes + '\x7F';
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kScratch, "Value", GetParam().type, guarded.data(),
                              static_cast<DWORD>(GetParam().bytes.size())), 0);
    EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, kWideScratch, L"Value"), GetParam().expected);
    EXPECT_EQ(LastRegStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(
    ByTypeAndBytes, ReadRegValue_RealData,
    testing::Values(ReadCase{"TextWithoutNul", REG_SZ, "GPU", RegValue::Text(L"GPU")},
                    ReadCase{"TextWithEmbeddedNul", REG_SZ, "GP\0U\0"s, RegValue::Text(L"GP")},
                    ReadCase{"TextInTheAnsiCodePage", REG_SZ, "\x80\xE9\0"s, RegValue::Text(L"\u20AC\u00E9")},
                    ReadCase{"DwordAllOnes", REG_DWORD, "\xFF\xFF\xFF\xFF"s, RegValue::Integer(-1)},
                    ReadCase{"DwordEightBytes", REG_DWORD, "\1\0\0\0\0\0\0\0"s, RegValue::Text(L"")},
                    ReadCase{"BinarySixBytes", REG_BINARY, "\x34\x12\0\0\x55\x66"s, RegValue::Integer(4660)},
                    ReadCase{"BinarySevenBytes", REG_BINARY, "\x34\x12\0\0\x55\x66\x77"s, RegValue::Text(L"")},
                    ReadCase{"MultiText", REG_MULTI_SZ, "GPU\0\0"s, RegValue{}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RealRegistry, ReadRegValue_MissingKey_EmptyTextAndCloseOfHandleZeroFails)
{
    EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, kWideScratch, L"Value"), RegValue::Text(L""));
    EXPECT_EQ(LastRegStatus, ERROR_INVALID_HANDLE);
}

TEST_F(RealRegistry, WriteRegValue_CreatesThePathAndStoresExactBytes)
{
    const struct {
        const char* name;
        RegValue value;
        DWORD type;
        std::string bytes;
    } cases[] = {{"Text", RegValue::Text(L" \u20ACPU "), REG_SZ, "\x80PU\0"s},
                 {"Number", RegValue::Text(L" 42 "), REG_DWORD, "\x2A\0\0\0"s}};
    for (const auto& c : cases) {
        const std::wstring name(c.name, c.name + std::strlen(c.name));
        EXPECT_EQ(WriteRegValue(HKEY_LOCAL_MACHINE, L"Software\\Quorlin Tests\\New\\Deeper", name, c.value), 0);
        std::string bytes(16, '\0');
        DWORD type = 0;
        auto size = static_cast<DWORD>(bytes.size());
        ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Quorlin Tests\\New\\Deeper", c.name,
                               RRF_RT_ANY | RRF_NOEXPAND, &type, bytes.data(), &size), 0);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(bytes.substr(0, size), c.bytes);
    }
}

} // namespace
