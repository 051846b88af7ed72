// The registry module against the in-memory registry: what each kind of stored
// data reads back as, what each value is stored as, and the calls made on the way.

#include <gtest/gtest.h>

#include "registry/basRegistry.h"
#include "tests/support/FakeRegistry.h"

namespace {

using fake::Function;
using fake::StoredValue;
using namespace std::string_literals;

constexpr char kKey[] = "Software\\Scratch";
constexpr char kName[] = "Value";
constexpr wchar_t kWideKey[] = L"Software\\Scratch";
constexpr wchar_t kWideName[] = L"Value";

class Registry : public testing::Test {
protected:
    void SetUp() override
    {
        fake::TheRegistry().Reset();
        LastRegStatus = -1;
    }
    fake::Registry& registry = fake::TheRegistry();

    RegValue Read() { return ReadRegValue(HKEY_LOCAL_MACHINE, kWideKey, kWideName); }
    std::int32_t Write(const RegValue& value) { return WriteRegValue(HKEY_LOCAL_MACHINE, kWideKey, kWideName, value); }

    std::vector<Function> Functions() const
    {
        std::vector<Function> functions;
        for (const auto& call : registry.calls)
            functions.push_back(call.function);
        return functions;
    }
};

RegValue Text(const wchar_t* text) { return RegValue::Text(text); }

// ---- Reading ----------------------------------------------------------------

struct ReadCase {
    const char* name;
    friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }
    StoredValue stored;
    RegValue expected;
};

class ReadRegValue_Stored : public Registry, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadRegValue_Stored, ReadsAsExpected)
{
    registry.Put(kKey, kName, GetParam().stored);
    EXPECT_EQ(Read(), GetParam().expected);
    EXPECT_EQ(registry.OpenHandles(), 0u);
    EXPECT_EQ(LastRegStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(
    ByTypeAndBytes, ReadRegValue_Stored,
    testing::Values(
        ReadCase{"TextWithNul", {REG_SZ, "GPU\0"s}, Text(L"GPU")},
        ReadCase{"TextWithoutNul", {REG_SZ, "GPU"}, Text(L"GPU")},
        ReadCase{"Text_CutAtFirstNul", {REG_SZ, "GP\0U\0"s}, Text(L"GP")},
        ReadCase{"EmptyText", {REG_SZ, ""}, Text(L"")},
        ReadCase{"Text_NotTrimmedNorFolded", {REG_SZ, "gpu \0"s}, Text(L"gpu ")},
        ReadCase{"Text_HighBytesKept", {REG_SZ, "\xE9\xFF\0"s}, Text(L"\u00E9\u00FF")},
        ReadCase{"Dword_AllOnesIsMinusOne", {REG_DWORD, "\xFF\xFF\xFF\xFF"s}, RegValue::Integer(-1)},
        ReadCase{"Dword_LittleEndian", {REG_DWORD, "\x01\x02\x00\x00"s}, RegValue::Integer(0x0201)},
        ReadCase{"Dword_ShortDataZeroFilled", {REG_DWORD, "\x07"s}, RegValue::Integer(7)},
        ReadCase{"Dword_EightBytesIsEmptyText", {REG_DWORD, "\x01\0\0\0\0\0\0\0"s}, Text(L"")},
        ReadCase{"Binary_TwoBytes", {REG_BINARY, "\x34\x12"s}, RegValue::Integer(0x1234)},
        ReadCase{"Binary_FiveBytesUsesFirstFour", {REG_BINARY, "\x01\0\0\x80\x55"s}, RegValue::Integer(INT32_MIN + 1)},
        ReadCase{"Binary_SixBytesUsesFirstFour", {REG_BINARY, "\x02\0\0\0\xAA\xBB"s}, RegValue::Integer(2)},
        ReadCase{"Binary_SevenBytesIsEmptyText", {REG_BINARY, "\x02\0\0\0\0\0\0"s}, Text(L"")},
        ReadCase{"ExpandText_NotRead", {REG_EXPAND_SZ, "GPU\0"s}, Text(L"")},
        ReadCase{"MultiText_IsEmptyKind", {REG_MULTI_SZ, "GPU\0\0"s}, RegValue{}},
        ReadCase{"None_IsEmptyText", {REG_NONE, "GPU"}, Text(L"")},
        ReadCase{"BigEndianDword_IsEmptyText", {5, "\0\0\0\1"s}, Text(L"")},
        ReadCase{"UnknownType_IsEmptyText", {0x12345, "GPU\0"s}, Text(L"")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Registry, ReadRegValue_Text_CallsOpenSizeDataClose)
{
    registry.Put(kKey, kName, {REG_SZ, "GPU\0"s});
    Read();
    ASSERT_EQ(Functions(), (std::vector{Function::RegOpenKeyA, Function::RegQueryValueExA, Function::RegQueryValueExA,
                                        Function::RegCloseKey}));
    const auto& calls = registry.calls;
    EXPECT_EQ(calls[0].name, kKey);
    EXPECT_FALSE(calls[1].withBuffer);
    EXPECT_TRUE(calls[2].withBuffer);
    EXPECT_EQ(calls[2].count, 4u) << "the data query's capacity is the size first reported";
    EXPECT_NE(calls[3].key, nullptr);
}

TEST_F(Registry, ReadRegValue_MultiText_DataNotQueried)
{
    registry.Put(kKey, kName, {REG_MULTI_SZ, "a\0\0"s});
    Read();
    EXPECT_EQ(Functions(), (std::vector{Function::RegOpenKeyA, Function::RegQueryValueExA, Function::RegCloseKey}));
}

struct UnreadableCase {
    const char* name;
    friend void PrintTo(const UnreadableCase& c, std::ostream* os) { *os << c.name; }
    bool keyExists;
    bool refuseOpen;
    std::vector<Function> calls;
    std::int32_t lastStatus;
};

class ReadRegValue_Unreadable : public Registry, public testing::WithParamInterface<UnreadableCase> {};

TEST_P(ReadRegValue_Unreadable, IsEmptyTextAndClosesWhatItOpened)
{
    if (GetParam().keyExists)
        registry.CreateKey(kKey);
    registry.refuseOpen = GetParam().refuseOpen;
    EXPECT_EQ(Read(), Text(L""));
    EXPECT_EQ(Functions(), GetParam().calls);
    EXPECT_EQ(LastRegStatus, GetParam().lastStatus);
    EXPECT_EQ(registry.OpenHandles(), 0u);
    if (GetParam().lastStatus != 0) {
        EXPECT_EQ(registry.calls.back().key, nullptr) << "a failed open is closed with handle 0";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ReadRegValue_Unreadable,
    testing::Values(
        UnreadableCase{"KeyMissing", false, false, {Function::RegOpenKeyA, Function::RegCloseKey}, ERROR_INVALID_HANDLE},
        UnreadableCase{"OpenRefused", true, true, {Function::RegOpenKeyA, Function::RegCloseKey}, ERROR_INVALID_HANDLE},
        UnreadableCase{"ValueMissing", true, false,
                       {Function::RegOpenKeyA, Function::RegQueryValueExA, Function::RegCloseKey}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReplacedCase {
    const char* name;
    friend void PrintTo(const ReplacedCase& c, std::ostream* os) { *os << c.name; }
    std::optional<StoredValue> replacement;
    RegValue expected;
};

class ReadRegValue_ReplacedBetweenQueries : public Registry, public testing::WithParamInterface<ReplacedCase> {};

TEST_P(ReadRegValue_ReplacedBetweenQueries, UsesOnlyTheBytesRead)
{
    registry.Put(kKey, kName, {REG_SZ, "Custom\0"s});
    registry.replaceAfterSizeQuery = GetParam().replacement;
    EXPECT_EQ(Read(), GetParam().expected);
    EXPECT_EQ(LastRegStatus, 0);
    EXPECT_EQ(registry.OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ReadRegValue_ReplacedBetweenQueries,
    testing::Values(ReplacedCase{"ByLonger", StoredValue{REG_SZ, "Much longer\0"s}, Text(L"")},
                    ReplacedCase{"ByShorterWithoutNul", StoredValue{REG_SZ, "CPU"}, Text(L"CPU")},
                    ReplacedCase{"ByShorterWithNul", StoredValue{REG_SZ, "GPU\0"s}, Text(L"GPU")},
                    ReplacedCase{"ByEmpty", StoredValue{REG_SZ, ""}, Text(L"")},
                    ReplacedCase{"ByDeletion", std::nullopt, Text(L"")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Registry, ReadRegValue_SixteenMebibytesOfText_ReadWhole)
{
    std::string big(16 << 20, 'x');
    big.back() = '\0';
    registry.Put(kKey, kName, {REG_SZ, big});
    const RegValue value = Read();
    ASSERT_NE(value.text(), nullptr);
    EXPECT_EQ(value.text()->size(), big.size() - 1);
}

TEST_F(Registry, ReadRegValue_SizeTooLargeToAllocate_IsEmptyTextAndCloses)
{
    registry.Put(kKey, kName, {REG_SZ, "GPU\0"s});
    registry.reportedSize = 0xFFFFFFF0u;
    EXPECT_EQ(Read(), Text(L""));
    EXPECT_EQ(registry.calls.back().function, Function::RegCloseKey);
    EXPECT_EQ(registry.OpenHandles(), 0u);
}

// ---- Writing ----------------------------------------------------------------

struct WriteCase {
    const char* name;
    friend void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }
    RegValue value;
    StoredValue expected;
};

class WriteRegValue_Value : public Registry, public testing::WithParamInterface<WriteCase> {};

TEST_P(WriteRegValue_Value, StoresTypeAndExactBytes)
{
    EXPECT_EQ(Write(GetParam().value), 0);
    EXPECT_EQ(registry.Get(kKey, kName), GetParam().expected);
    // The count handed to the registry is the stored size, NUL included.
    const auto& set = registry.calls.at(1);
    EXPECT_EQ(set.count, GetParam().expected.bytes.size());
}

StoredValue Dword(std::uint32_t n)
{
    return {REG_DWORD, std::string{char(n), char(n >> 8), char(n >> 16), char(n >> 24)}};
}
StoredValue Sz(const std::string& text) { return {REG_SZ, text + '\0'}; }

INSTANTIATE_TEST_SUITE_P(
    Texts, WriteRegValue_Value,
    testing::Values(WriteCase{"Gpu", Text(L"GPU"), Sz("GPU")},
                    WriteCase{"Cpu_SpacesTrimmed", Text(L"  CPU "), Sz("CPU")},
                    WriteCase{"TabsKept", Text(L"\tGPU\t"), Sz("\tGPU\t")},
                    WriteCase{"EmptyText_IsOneNul", Text(L""), Sz("")},
                    WriteCase{"OnlySpaces_IsOneNul", Text(L"   "), Sz("")},
                    WriteCase{"TwoPoints", Text(L"1.2.3"), Sz("1.2.3")},
                    WriteCase{"SignAlone", Text(L"-"), Sz("-")},
                    WriteCase{"PointAlone", Text(L"."), Sz(".")},
                    WriteCase{"ExponentWithoutDigits", Text(L"5e"), Sz("5e")},
                    WriteCase{"ExponentWithoutMantissa", Text(L"e5"), Sz("e5")},
                    WriteCase{"Hexadecimal", Text(L"0x10"), Sz("0x10")},
                    WriteCase{"InnerSpace", Text(L"4 2"), Sz("4 2")}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Numbers, WriteRegValue_Value,
    testing::Values(WriteCase{"EmptyKind_IsZero", RegValue{}, Dword(0)},
                    WriteCase{"Integer_Unchanged", RegValue::Integer(-7), Dword(std::uint32_t(-7))},
                    WriteCase{"Text_SpacesAround", Text(L" 42 "), Dword(42)},
                    WriteCase{"Plus", Text(L"+7"), Dword(7)},
                    WriteCase{"HalfToEvenDown", Text(L"2.5"), Dword(2)},
                    WriteCase{"HalfToEvenUp", Text(L"3.5"), Dword(4)},
                    WriteCase{"LeadingPoint", Text(L".5"), Dword(0)},
                    WriteCase{"TrailingPoint", Text(L"5."), Dword(5)},
                    WriteCase{"NegativeHalf", Text(L"-2.5"), Dword(std::uint32_t(-2))},
                    WriteCase{"JustOverHalf", Text(L"2.5000000000000000000001"), Dword(3)},
                    WriteCase{"JustUnderHalf", Text(L"3.4999999999999999999999"), Dword(3)},
                    WriteCase{"Exponent", Text(L"1e3"), Dword(1000)},
                    WriteCase{"ExponentSignedUpper", Text(L"1.5E+1"), Dword(15)},
                    WriteCase{"NegativeExponent", Text(L"25e-1"), Dword(2)},
                    WriteCase{"TinyIsZero", Text(L"1e-999999999999999"), Dword(0)},
                    WriteCase{"ZeroWithHugeExponent", Text(L"0e999999999999"), Dword(0)},
                    WriteCase{"LeadingZeros", Text(L"000000000000000000042"), Dword(42)},
                    WriteCase{"Largest", Text(L"2147483647"), Dword(0x7FFFFFFF)},
                    WriteCase{"Smallest", Text(L"-2147483648"), Dword(0x80000000)},
                    WriteCase{"SmallestHalfToEven", Text(L"-2147483648.5"), Dword(0x80000000)}),
    [](const auto& info) { return std::string(info.param.name); });

// Numbers beyond 32 bits are kept as the text they were, never wrapped.
INSTANTIATE_TEST_SUITE_P(
    OutOfRange, WriteRegValue_Value,
    testing::Values(WriteCase{"JustAbove", Text(L"2147483648"), Sz("2147483648")},
                    WriteCase{"JustBelow", Text(L" -2147483649 "), Sz("-2147483649")},
                    WriteCase{"RoundsAbove", Text(L"2147483647.5"), Sz("2147483647.5")},
                    WriteCase{"ManyDigits", Text(L"99999999999999999999"), Sz("99999999999999999999")},
                    WriteCase{"HugeExponent", Text(L"1e999999999999"), Sz("1e999999999999")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Registry, WriteRegValue_MissingPath_CreatedThenStoredThenClosed)
{
    EXPECT_EQ(Write(Text(L"GPU")), 0);
    EXPECT_TRUE(registry.HasKey(kKey));
    EXPECT_EQ(Functions(), (std::vector{Function::RegCreateKeyA, Function::RegSetValueExA, Function::RegCloseKey}));
    EXPECT_EQ(registry.calls[1].name, kName);
    EXPECT_EQ(LastRegStatus, 0);
    EXPECT_EQ(registry.OpenHandles(), 0u);
}

TEST_F(Registry, WriteRegValue_CpuOverGpu_FourBytes)
{
    registry.Put(kKey, kName, Sz("GPU"));
    Write(Text(L"CPU"));
    EXPECT_EQ(registry.Get(kKey, kName), Sz("CPU"));
}

TEST_F(Registry, WriteRegValue_CreateRefused_ReportsFailureAndClosesHandleZero)
{
    registry.refuseCreate = true;
    EXPECT_NE(Write(Text(L"GPU")), 0);
    EXPECT_FALSE(registry.Get(kKey, kName));
    ASSERT_EQ(Functions(), (std::vector{Function::RegCreateKeyA, Function::RegSetValueExA, Function::RegCloseKey}));
    EXPECT_EQ(registry.calls[1].key, nullptr);
    EXPECT_EQ(registry.calls[2].key, nullptr);
    EXPECT_EQ(LastRegStatus, ERROR_INVALID_HANDLE);
}

TEST_F(Registry, WriteRegValue_SetFails_ReportsItsStatusAndStillCloses)
{
    registry.Put(kKey, kName, Sz("CPU"));
    registry.failSet = true;
    EXPECT_EQ(Write(Text(L"GPU")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(registry.Get(kKey, kName), Sz("CPU"));
    EXPECT_EQ(LastRegStatus, 0) << "left with the status of the close";
    EXPECT_EQ(registry.OpenHandles(), 0u);
}

TEST(RegValueTextForm, OfEachKind)
{
    EXPECT_EQ(RegValue{}.TextForm(), L"");
    EXPECT_EQ(RegValue::Text(L" x ").TextForm(), L" x ");
    EXPECT_EQ(RegValue::Integer(-1).TextForm(), L"-1");
    EXPECT_EQ(RegValue::Integer(INT32_MIN).TextForm(), L"-2147483648");
}

} // namespace
