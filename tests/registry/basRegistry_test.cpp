// The registry module against the in-memory registry: what each kind of stored
// data reads back as, what each value is stored as, and the calls made on the way.
// Each table runs its cases on a fresh registry, one after the other.

#include <gtest/gtest.h>

#include <cstdlib>

#include "registry/basRegistry.h"
#include "tests/support/RegistryTest.h"

// A registry value may claim any size: the allocator is capped so that a huge claim
// fails the way it does in a 32-bit process instead of being granted lazily. Built in,
// so that the binary behaves the same however it is started.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=512"; }

namespace {

using fake::StoredValue;
using namespace std::string_literals;

constexpr char kKey[] = "Software\\Scratch";
constexpr char kName[] = "Value";

class Registry : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        LastRegStatus = -1;
    }

    RegValue Read() { return ReadRegValue(HKEY_LOCAL_MACHINE, L"Software\\Scratch", L"Value"); }
    std::int32_t Write(const RegValue& value)
    {
        return WriteRegValue(HKEY_LOCAL_MACHINE, L"Software\\Scratch", L"Value", value);
    }
};

RegValue Text(const wchar_t* text) { return RegValue::Text(text); }
StoredValue Sz(const std::string& text) { return {REG_SZ, text + '\0'}; }
StoredValue Dword(std::uint32_t n) { return {REG_DWORD, {char(n), char(n >> 8), char(n >> 16), char(n >> 24)}}; }

// ---- Reading ----------------------------------------------------------------

TEST_F(Registry, ReadRegValue_ByTypeAndBytes)
{
    const struct {
        const char* name;
        StoredValue stored;
        RegValue expected;
    } cases[] = {
        {"TextWithoutNul", {REG_SZ, "GPU"}, Text(L"GPU")},
        {"Text_CutAtFirstNul", {REG_SZ, "GP\0U\0"s}, Text(L"GP")},
        {"EmptyText", {REG_SZ, ""}, Text(L"")},
        {"OneCharacterWithoutNul", {REG_SZ, "G"}, Text(L"G")},
        {"Text_NotTrimmedNorFolded", {REG_SZ, "gpu \0"s}, Text(L"gpu ")},
        {"Dword_LittleEndian", {REG_DWORD, "\x01\x02\x03\x04"s}, RegValue::Integer(0x04030201)},
        {"Dword_ShortDataZeroFilled", {REG_DWORD, "\x07"s}, RegValue::Integer(7)},
        {"Dword_FiveBytesIsEmptyText", {REG_DWORD, "\x01\0\0\0\0"s}, Text(L"")},
        {"Binary_SixBytesUsesFirstFour", {REG_BINARY, "\x02\0\0\x80\xAA\xBB"s}, RegValue::Integer(INT32_MIN + 2)},
        {"Binary_SevenBytesIsEmptyText", {REG_BINARY, "\x02\0\0\0\0\0\0"s}, Text(L"")},
        {"ExpandText_NotRead", {REG_EXPAND_SZ, "GPU\0"s}, Text(L"")},
        {"MultiText_IsEmptyKind", {REG_MULTI_SZ, "GPU\0\0"s}, RegValue{}},
        {"SixteenMebibytesOfText", Sz(std::string(16 << 20, 'x')), RegValue::Text(std::wstring(16 << 20, L'x'))},
    };
    for (const auto& c : cases) {
        Fresh(c.name);
        registry.Put(kKey, kName, c.stored);
        EXPECT_EQ(Read(), c.expected);
        EXPECT_EQ(LastRegStatus, 0);
    }
}

TEST_F(Registry, ReadRegValue_SizeTooLargeToAllocate_IsEmptyText)
{
    registry.Put(kKey, kName, Sz("GPU"));
    registry.reportedSize = 0xFFFFFFF0u;
    EXPECT_EQ(Read(), Text(L""));
    EXPECT_EQ(registry.calls, (std::vector<std::string>{"RegOpenKeyA", "RegQueryValueExA", "RegCloseKey"}));
}

// Shortened by another program since its size was asked for: only the bytes the data
// query delivered are the value's, not the rest of the buffer.
TEST_F(Registry, ReadRegValue_ShorterThanItsSize_IsWhatWasDelivered)
{
    registry.Put(kKey, kName, {REG_SZ, "CPU"});
    registry.reportedSize = 64;
    EXPECT_EQ(Read(), Text(L"CPU"));
}

// ---- Writing ----------------------------------------------------------------

TEST_F(Registry, WriteRegValue_StoresTypeAndExactBytes)
{
    const struct {
        const char* name;
        RegValue value;
        StoredValue expected;
    } cases[] = {
        // Text, stored without the spaces around it and with its NUL.
        {"Cpu_SpacesTrimmed", Text(L"  CPU "), Sz("CPU")},
        {"TabsKept", Text(L"\tGPU\t"), Sz("\tGPU\t")},
        {"NulInsideKept", RegValue::Text(L"G\0PU"s), Sz("G\0PU"s)},
        {"EmptyText_IsOneNul", Text(L""), Sz("")},
        {"TwoPoints", Text(L"1.2.3"), Sz("1.2.3")},
        {"SignAlone", Text(L"-"), Sz("-")},
        {"ExponentWithoutDigits", Text(L"5e"), Sz("5e")},
        {"Hexadecimal", Text(L"0x10"), Sz("0x10")},
        // Numbers, and numeric text rounded to the nearest integer, halves to even.
        {"EmptyKind_IsZero", RegValue{}, Dword(0)},
        {"Integer_Unchanged", RegValue::Integer(0x12345678), Dword(0x12345678)},
        {"Text_SpacesAround", Text(L" 42 "), Dword(42)},
        {"LeadingPlus", Text(L"+7"), Dword(7)},
        {"HalfToEvenDown", Text(L"2.5"), Dword(2)},
        {"HalfToEvenUp", Text(L"3.5"), Dword(4)},
        {"LeadingPoint", Text(L".5"), Dword(0)},
        {"ExponentSignedUpper", Text(L"1.5E+1"), Dword(15)},
        {"TinyIsZero", Text(L"1e-999999999999999"), Dword(0)},
        {"TinyByExponentBeyond64Bits", Text(L"1e-99999999999999999999"), Dword(0)},
        {"TinyByLeadingZeros", RegValue::Text(L"0." + std::wstring(400, L'0') + L"1e+9"), Dword(0)},
        {"Largest", Text(L"2147483647"), Dword(0x7FFFFFFF)},
        {"Smallest", Text(L"-2147483648"), Dword(0x80000000)},
        // A number beyond 32 bits is kept as the text it was, never wrapped.
        {"HugeByDigits", RegValue::Text(L"1" + std::wstring(400, L'0')), Sz("1" + std::string(400, '0'))},
    };
    for (const auto& c : cases) {
        Fresh(c.name);
        EXPECT_EQ(Write(c.value), 0);
        EXPECT_EQ(registry.Get(kKey, kName), c.expected);
        // The bytes handed to the registry are those stored, NUL included.
        EXPECT_EQ(registry.calls.at(1), "RegSetValueExA " + c.expected.bytes);
    }
}

// Each routine closes its key on every path, with handle 0 when it could not open or
// create it, and leaves the status of that close behind. (The calls themselves, in
// order, are in the selection logic's tests.)
TEST_F(Registry, LastRegStatus_AfterEachRoutine_IsThatOfItsClose)
{
    EXPECT_EQ(Read(), Text(L"")); // no key to open
    EXPECT_EQ(registry.calls.back(), "RegCloseKey failed");
    EXPECT_EQ(LastRegStatus, ERROR_INVALID_HANDLE);
    Fresh("StoreRefused");
    registry.setStatus = ERROR_ACCESS_DENIED;
    EXPECT_EQ(Write(Text(L"CPU")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(LastRegStatus, 0);
}

// Before any call, in a process of its own: whatever ran before in this one has
// changed the status.
TEST(LastRegStatusDeathTest, BeforeAnyCall_IsZero)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(LastRegStatus), testing::ExitedWithCode(0), "");
}

} // namespace
