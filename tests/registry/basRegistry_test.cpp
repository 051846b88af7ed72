// The registry module against the in-memory registry: what each kind of stored
// data reads back as, what each value is stored as, and the calls made on the way.

#include <gtest/gtest.h>

#include "registry/basRegistry.h"
#include "tests/support/FakeRegistry.h"

namespace {

using fake::Function;
using fake::StoredValue;
using Functions = std::vector<Function>;
using namespace std::string_literals;

constexpr char kKey[] = "Software\\Scratch";
constexpr char kName[] = "Value";

class Registry : public testing::Test {
protected:
    void SetUp() override
    {
        registry.Reset();
        LastRegStatus = -1;
    }
    void TearDown() override { EXPECT_TRUE(registry.open.empty()) << "every key opened is closed"; }

    RegValue Read() { return ReadRegValue(HKEY_LOCAL_MACHINE, L"Software\\Scratch", L"Value"); }
    std::int32_t Write(const RegValue& value)
    {
        return WriteRegValue(HKEY_LOCAL_MACHINE, L"Software\\Scratch", L"Value", value);
    }
    Functions Called() const
    {
        Functions functions;
        for (const auto& call : registry.calls)
            functions.push_back(call.function);
        return functions;
    }

    fake::Registry& registry = fake::TheRegistry();
};

RegValue Text(const wchar_t* text) { return RegValue::Text(text); }
StoredValue Sz(const std::string& text) { return {REG_SZ, text + '\0'}; }
StoredValue Dword(std::uint32_t n) { return {REG_DWORD, {char(n), char(n >> 8), char(n >> 16), char(n >> 24)}}; }

template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

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
        ReadCase{"Dword_AllOnesIsMinusOne", {REG_DWORD, "\xFF\xFF\xFF\xFF"s}, RegValue::Integer(-1)},
        ReadCase{"Dword_LittleEndian", {REG_DWORD, "\x01\x02\x03\x04"s}, RegValue::Integer(0x04030201)},
        ReadCase{"Dword_ShortDataZeroFilled", {REG_DWORD, "\x07"s}, RegValue::Integer(7)},
        ReadCase{"Dword_FiveBytesIsEmptyText", {REG_DWORD, "\x01\0\0\0\0"s}, Text(L"")},
        ReadCase{"Binary_TwoBytes", {REG_BINARY, "\x34\x12"s}, RegValue::Integer(0x1234)},
        ReadCase{"Binary_SixBytesUsesFirstFour", {REG_BINARY, "\x02\0\0\0\xAA\xBB"s}, RegValue::Integer(2)},
        ReadCase{"Binary_SevenBytesIsEmptyText", {REG_BINARY, "\x02\0\0\0\0\0\0"s}, Text(L"")},
        ReadCase{"ExpandText_NotRead", {REG_EXPAND_SZ, "GPU\0"s}, Text(L"")},
        ReadCase{"MultiText_IsEmptyKind", {REG_MULTI_SZ, "GPU\0\0"s}, RegValue{}},
        ReadCase{"UnknownType_IsEmptyText", {0x12345, "GPU\0"s}, Text(L"")}),
    CaseName<ReadCase>);

struct ReadCallsCase {
    const char* name;
    friend void PrintTo(const ReadCallsCase& c, std::ostream* os) { *os << c.name; }
    std::optional<StoredValue> stored; // none: the key exists without the value
    bool keyExists;
    bool refuseOpen;
    Functions calls;
    std::int32_t lastStatus;
};

class ReadRegValue_Calls : public Registry, public testing::WithParamInterface<ReadCallsCase> {};

// One open, a size query, a data query for the types that are read, and a close
// on every path: of handle 0 when the open failed, which leaves its failure behind.
TEST_P(ReadRegValue_Calls, OpenQueriesClose)
{
    if (GetParam().stored)
        registry.Put(kKey, kName, *GetParam().stored);
    else if (GetParam().keyExists)
        registry.CreateKey(kKey);
    registry.refuseOpen = GetParam().refuseOpen;
    const RegValue read = Read();
    if (!GetParam().stored) {
        EXPECT_EQ(read, Text(L""));
    }
    EXPECT_EQ(Called(), GetParam().calls);
    EXPECT_EQ(LastRegStatus, GetParam().lastStatus);
    EXPECT_EQ(registry.calls.back().key == nullptr, GetParam().lastStatus != 0);
}

const Functions kOpenClose = {Function::RegOpenKeyA, Function::RegCloseKey};
const Functions kOneQuery = {Function::RegOpenKeyA, Function::RegQueryValueExA, Function::RegCloseKey};
const Functions kTwoQueries = {Function::RegOpenKeyA, Function::RegQueryValueExA, Function::RegQueryValueExA,
                               Function::RegCloseKey};

INSTANTIATE_TEST_SUITE_P(
    Paths, ReadRegValue_Calls,
    testing::Values(ReadCallsCase{"Text", Sz("GPU"), true, false, kTwoQueries, 0},
                    ReadCallsCase{"MultiText_DataNotQueried", StoredValue{REG_MULTI_SZ, "a\0\0"s}, true, false,
                                  kOneQuery, 0},
                    ReadCallsCase{"ValueMissing", std::nullopt, true, false, kOneQuery, 0},
                    ReadCallsCase{"KeyMissing", std::nullopt, false, false, kOpenClose, ERROR_INVALID_HANDLE},
                    ReadCallsCase{"OpenRefused", std::nullopt, true, true, kOpenClose, ERROR_INVALID_HANDLE}),
    CaseName<ReadCallsCase>);

TEST_F(Registry, ReadRegValue_Text_DataQueryAsksForTheSizeFirstReported)
{
    registry.Put(kKey, kName, Sz("GPU"));
    Read();
    EXPECT_EQ(registry.calls.at(0).name, kKey);
    EXPECT_FALSE(registry.calls.at(1).withBuffer);
    EXPECT_TRUE(registry.calls.at(2).withBuffer);
    EXPECT_EQ(registry.calls.at(2).count, 4u);
}

struct ReplacedCase {
    const char* name;
    friend void PrintTo(const ReplacedCase& c, std::ostream* os) { *os << c.name; }
    std::optional<StoredValue> replacement;
    RegValue expected;
};

class ReadRegValue_ReplacedBetweenQueries : public Registry, public testing::WithParamInterface<ReplacedCase> {};

TEST_P(ReadRegValue_ReplacedBetweenQueries, UsesOnlyTheBytesRead)
{
    registry.Put(kKey, kName, Sz("Custom"));
    registry.replaceAfterSizeQuery = GetParam().replacement;
    EXPECT_EQ(Read(), GetParam().expected);
    EXPECT_EQ(LastRegStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ReadRegValue_ReplacedBetweenQueries,
    testing::Values(ReplacedCase{"ByLonger", Sz("Much longer"), Text(L"")},
                    ReplacedCase{"ByShorterWithoutNul", StoredValue{REG_SZ, "CPU"}, Text(L"CPU")},
                    ReplacedCase{"ByDeletion", std::nullopt, Text(L"")}),
    CaseName<ReplacedCase>);

TEST_F(Registry, ReadRegValue_SixteenMebibytesOfText_ReadWhole)
{
    const std::string big(16 << 20, 'x');
    registry.Put(kKey, kName, Sz(big));
    const RegValue value = Read();
    ASSERT_NE(value.text(), nullptr);
    EXPECT_EQ(value.text()->size(), big.size());
}

TEST_F(Registry, ReadRegValue_SizeTooLargeToAllocate_IsEmptyText)
{
    registry.Put(kKey, kName, Sz("GPU"));
    registry.reportedSize = 0xFFFFFFF0u;
    EXPECT_EQ(Read(), Text(L""));
    EXPECT_EQ(Called(), kOneQuery);
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
    EXPECT_EQ(registry.calls.at(1).count, GetParam().expected.bytes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WriteRegValue_Value,
    testing::Values(WriteCase{"Gpu", Text(L"GPU"), Sz("GPU")},
                    WriteCase{"Cpu_SpacesTrimmed", Text(L"  CPU "), Sz("CPU")},
                    WriteCase{"TabsKept", Text(L"\tGPU\t"), Sz("\tGPU\t")},
                    WriteCase{"Latin1KeptOthersQuestioned", Text(L"\u00FF\u0100"), Sz("\xFF?")},
                    WriteCase{"EmptyText_IsOneNul", Text(L""), Sz("")},
                    WriteCase{"OnlySpaces_IsOneNul", Text(L"   "), Sz("")},
                    WriteCase{"TwoPoints", Text(L"1.2.3"), Sz("1.2.3")},
                    WriteCase{"SignAlone", Text(L"-"), Sz("-")},
                    WriteCase{"ExponentWithoutDigits", Text(L"5e"), Sz("5e")},
                    WriteCase{"Hexadecimal", Text(L"0x10"), Sz("0x10")}),
    CaseName<WriteCase>);

INSTANTIATE_TEST_SUITE_P(
    Numbers, WriteRegValue_Value,
    testing::Values(WriteCase{"EmptyKind_IsZero", RegValue{}, Dword(0)},
                    WriteCase{"Integer_Unchanged", RegValue::Integer(0x12345678), Dword(0x12345678)},
                    WriteCase{"Text_SpacesAround", Text(L" 42 "), Dword(42)},
                    WriteCase{"HalfToEvenDown", Text(L"2.5"), Dword(2)},
                    WriteCase{"HalfToEvenUp", Text(L"3.5"), Dword(4)},
                    WriteCase{"LeadingPoint", Text(L".5"), Dword(0)},
                    WriteCase{"FractionAboveHalf", Text(L".6"), Dword(1)},
                    WriteCase{"NegativeHalf", Text(L"-2.5"), Dword(std::uint32_t(-2))},
                    WriteCase{"JustOverHalf", Text(L"2.51"), Dword(3)},
                    WriteCase{"JustUnderHalf", Text(L"3.4999999999999999999999"), Dword(3)},
                    WriteCase{"Exponent", Text(L"1e3"), Dword(1000)},
                    WriteCase{"ExponentSignedUpper", Text(L"1.5E+1"), Dword(15)},
                    WriteCase{"NegativeExponent", Text(L"25e-1"), Dword(2)},
                    WriteCase{"TwoDigitExponent", Text(L"10000000000e-10"), Dword(1)},
                    WriteCase{"TinyIsZero", Text(L"1e-999999999999999"), Dword(0)},
                    WriteCase{"ZeroWithHugeExponent", Text(L"0e999999999999"), Dword(0)},
                    WriteCase{"Largest", Text(L"2147483647"), Dword(0x7FFFFFFF)},
                    WriteCase{"Smallest", Text(L"-2147483648"), Dword(0x80000000)},
                    WriteCase{"SmallestHalfToEven", Text(L"-2147483648.5"), Dword(0x80000000)}),
    CaseName<WriteCase>);

// Numbers beyond 32 bits are kept as the text they were, never wrapped.
INSTANTIATE_TEST_SUITE_P(
    OutOfRange, WriteRegValue_Value,
    testing::Values(WriteCase{"JustAbove", Text(L"2147483648"), Sz("2147483648")},
                    WriteCase{"JustBelow", Text(L" -2147483649 "), Sz("-2147483649")},
                    WriteCase{"RoundsAbove", Text(L"2147483647.5"), Sz("2147483647.5")},
                    WriteCase{"HugeExponent", Text(L"1e999999999999"), Sz("1e999999999999")}),
    CaseName<WriteCase>);

struct WriteCallsCase {
    const char* name;
    friend void PrintTo(const WriteCallsCase& c, std::ostream* os) { *os << c.name; }
    std::optional<StoredValue> before; // none: no key yet
    bool refuseCreate;
    LONG setStatus;
    std::int32_t result;
    std::optional<StoredValue> after;
    bool onHandleZero; // the set and the close run on handle 0
    std::int32_t lastStatus;
};

class WriteRegValue_Calls : public Registry, public testing::WithParamInterface<WriteCallsCase> {};

// Create, set and close on every path; the first refusal is what the caller gets.
TEST_P(WriteRegValue_Calls, CreateSetClose)
{
    if (GetParam().before)
        registry.Put(kKey, kName, *GetParam().before);
    registry.refuseCreate = GetParam().refuseCreate;
    registry.setStatus = GetParam().setStatus;
    EXPECT_EQ(Write(Text(L"CPU")), GetParam().result);
    EXPECT_EQ(registry.Get(kKey, kName), GetParam().after);
    ASSERT_EQ(Called(), (Functions{Function::RegCreateKeyA, Function::RegSetValueExA, Function::RegCloseKey}));
    EXPECT_EQ(registry.calls[0].name, kKey);
    EXPECT_EQ(registry.calls[1].name, kName);
    EXPECT_EQ(registry.calls[1].key == nullptr, GetParam().onHandleZero);
    EXPECT_EQ(registry.calls[2].key == nullptr, GetParam().onHandleZero);
    EXPECT_EQ(LastRegStatus, GetParam().lastStatus);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, WriteRegValue_Calls,
    testing::Values(
        WriteCallsCase{"MissingKey_Created", std::nullopt, false, 0, 0, Sz("CPU"), false, 0},
        WriteCallsCase{"CpuOverGpu_FourBytes", Sz("GPU"), false, 0, 0, Sz("CPU"), false, 0},
        WriteCallsCase{"CreateRefused", std::nullopt, true, 0, ERROR_ACCESS_DENIED, std::nullopt, true,
                       ERROR_INVALID_HANDLE},
        WriteCallsCase{"SetRefused", Sz("GPU"), false, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, Sz("GPU"), false, 0}),
    CaseName<WriteCallsCase>);

TEST(RegValueTextForm, OfEachKind)
{
    EXPECT_EQ(RegValue{}.TextForm(), L"");
    EXPECT_EQ(RegValue::Text(L" x ").TextForm(), L" x ");
    EXPECT_EQ(RegValue::Integer(-1).TextForm(), L"-1");
    EXPECT_EQ(RegValue::Integer(INT32_MIN).TextForm(), L"-2147483648");
}

// Each test runs in a process of its own, so this sees the module untouched.
TEST(LastRegStatus, BeforeAnyCall_IsZero)
{
    EXPECT_EQ(LastRegStatus, 0);
}

} // namespace
