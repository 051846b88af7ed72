// The registry module against the real registry (under Wine, in the project's
// prefix), for what only real registry semantics can show: how stored bytes of each
// type come back through the ANSI functions, and exactly what a write leaves behind.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "registry/basRegistry.h"
#include "window/SelectionLogic.h"

namespace {

using namespace std::string_literals;

constexpr char kScratch[] = "Software\\Quorlin Tests\\Scratch";
constexpr wchar_t kWideScratch[] = L"Software\\Quorlin Tests\\Scratch";
constexpr char kName[] = "Value";
constexpr wchar_t kWideName[] = L"Value";

struct RawValue {
    DWORD type = 0;
    std::string bytes;
    friend bool operator==(const RawValue&, const RawValue&) = default;
    friend void PrintTo(const RawValue& v, std::ostream* os) { *os << "type " << v.type << ", " << v.bytes.size() << " bytes"; }
};

// Plants exactly these bytes. A non-zero guard byte follows them, because the
// registry appends a NUL to text whose next byte in memory happens to be one.
void Plant(const char* keyPath, const char* name, DWORD type, const std::string& bytes)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    const std::string guarded = bytes + '\x7F';
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(guarded.data()),
                             static_cast<DWORD>(bytes.size())), 0);
    RegCloseKey(key);
}

std::optional<RawValue> Fetch(const char* keyPath, const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != 0)
        return std::nullopt;
    RawValue value;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size);
    if (status == 0) {
        value.bytes.resize(size);
        status = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value.bytes.data()), &size);
        value.bytes.resize(size);
    }
    RegCloseKey(key);
    return status == 0 ? std::optional(value) : std::nullopt;
}

class RealRegistry : public testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Quorlin Tests"); }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Quorlin Tests"); }
};

RegValue Text(const wchar_t* text) { return RegValue::Text(text); }

struct ReadCase {
    const char* name;
    DWORD type;
    std::string bytes;
    RegValue expected;
    friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }
};

class ReadRegValue_RealData : public RealRegistry, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadRegValue_RealData, ReadsAsExpected)
{
    Plant(kScratch, kName, GetParam().type, GetParam().bytes);
    EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, kWideScratch, kWideName), GetParam().expected);
    EXPECT_EQ(LastRegStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(
    ByTypeAndBytes, ReadRegValue_RealData,
    testing::Values(ReadCase{"TextWithNul", REG_SZ, "GPU\0"s, Text(L"GPU")},
                    ReadCase{"TextWithoutNul", REG_SZ, "GPU", Text(L"GPU")},
                    ReadCase{"TextWithEmbeddedNul", REG_SZ, "GP\0U\0"s, Text(L"GP")},
                    ReadCase{"EmptyText", REG_SZ, "", Text(L"")},
                    ReadCase{"DwordAllOnes", REG_DWORD, "\xFF\xFF\xFF\xFF"s, RegValue::Integer(-1)},
                    ReadCase{"DwordEightBytes", REG_DWORD, "\1\0\0\0\0\0\0\0"s, Text(L"")},
                    ReadCase{"BinaryTwoBytes", REG_BINARY, "\x34\x12"s, RegValue::Integer(4660)},
                    ReadCase{"BinaryFiveBytes", REG_BINARY, "\x34\x12\0\0\x55"s, RegValue::Integer(4660)},
                    ReadCase{"BinarySixBytes", REG_BINARY, "\x34\x12\0\0\x55\x66"s, RegValue::Integer(4660)},
                    ReadCase{"BinarySevenBytes", REG_BINARY, "\x34\x12\0\0\x55\x66\x77"s, Text(L"")},
                    ReadCase{"ExpandText", REG_EXPAND_SZ, "GPU\0"s, Text(L"")},
                    ReadCase{"MultiText", REG_MULTI_SZ, "GPU\0\0"s, RegValue{}},
                    ReadCase{"UnknownType", 0x12345, "GPU\0"s, Text(L"")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RealRegistry, ReadRegValue_MissingKey_EmptyTextAndCloseOfHandleZeroFails)
{
    EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, kWideScratch, kWideName), Text(L""));
    EXPECT_EQ(LastRegStatus, ERROR_INVALID_HANDLE);
}

TEST_F(RealRegistry, ReadRegValue_MissingValue_EmptyText)
{
    Plant(kScratch, "Other", REG_SZ, "GPU\0"s);
    EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, kWideScratch, kWideName), Text(L""));
    EXPECT_EQ(LastRegStatus, 0);
}

TEST_F(RealRegistry, ReadRegValue_SixteenMebibytesOfText_ReadWhole)
{
    std::string big(16 << 20, 'x');
    Plant(kScratch, kName, REG_SZ, big + '\0');
    const RegValue value = ReadRegValue(HKEY_LOCAL_MACHINE, kWideScratch, kWideName);
    ASSERT_NE(value.text(), nullptr);
    EXPECT_EQ(value.text()->size(), big.size());
}

struct WriteCase {
    const char* name;
    RegValue value;
    RawValue expected;
    friend void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }
};

class WriteRegValue_RealData : public RealRegistry, public testing::WithParamInterface<WriteCase> {};

TEST_P(WriteRegValue_RealData, StoresExactly)
{
    // The path's last two keys do not exist yet.
    constexpr char deep[] = "Software\\Quorlin Tests\\Scratch\\New\\Deeper";
    EXPECT_EQ(WriteRegValue(HKEY_LOCAL_MACHINE, L"Software\\Quorlin Tests\\Scratch\\New\\Deeper", kWideName,
                            GetParam().value), 0);
    EXPECT_EQ(LastRegStatus, 0);
    EXPECT_EQ(Fetch(deep, kName), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, WriteRegValue_RealData,
    testing::Values(WriteCase{"Gpu", Text(L"GPU"), {REG_SZ, "GPU\0"s}},
                    WriteCase{"SpacedNumber", Text(L" 42 "), {REG_DWORD, "\x2A\0\0\0"s}},
                    WriteCase{"HalfDown", Text(L"2.5"), {REG_DWORD, "\2\0\0\0"s}},
                    WriteCase{"HalfUp", Text(L"3.5"), {REG_DWORD, "\4\0\0\0"s}},
                    WriteCase{"EmptyText", Text(L""), {REG_SZ, "\0"s}},
                    WriteCase{"EmptyKind", RegValue{}, {REG_DWORD, "\0\0\0\0"s}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RealRegistry, WriteRegValue_CpuOverGpu_FourBytesOfText)
{
    Plant(kScratch, kName, REG_SZ, "GPU\0"s);
    EXPECT_EQ(WriteRegValue(HKEY_LOCAL_MACHINE, kWideScratch, kWideName, Text(L"CPU")), 0);
    EXPECT_EQ(Fetch(kScratch, kName), (RawValue{REG_SZ, "CPU\0"s}));
}

TEST_F(RealRegistry, WriteRegValue_KeyDeniesSetValue_ReportsAccessDenied)
{
    Plant(kScratch, kName, REG_SZ, "CPU\0"s);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScratch, 0, KEY_ALL_ACCESS, &key), 0);
    // Everyone may do anything but set values.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    alignas(DWORD) BYTE aclBuffer[256];
    auto* acl = reinterpret_cast<PACL>(aclBuffer);
    InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION);
    AddAccessDeniedAce(acl, ACL_REVISION, KEY_SET_VALUE, everyone);
    AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone);
    SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor), 0);
    RegCloseKey(key);
    FreeSid(everyone);

    EXPECT_EQ(WriteRegValue(HKEY_LOCAL_MACHINE, kWideScratch, kWideName, Text(L"GPU")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Fetch(kScratch, kName), (RawValue{REG_SZ, "CPU\0"s}));
}

// The program's own location, as the selection logic names it.
TEST(RuntimeLocation, WriteThenRead_GpuAndCpu)
{
    const std::string keyPath(kHardwareKeyPath.begin(), kHardwareKeyPath.end());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, keyPath.c_str());
    for (const auto* text : {L"CPU", L"GPU"}) {
        EXPECT_EQ(WriteRegValue(HardwareRootKey(), kHardwareKeyPath, kHardwareValueName, Text(text)), 0);
        EXPECT_EQ(ReadRegValue(HardwareRootKey(), kHardwareKeyPath, kHardwareValueName), Text(text));
        EXPECT_EQ(Fetch(keyPath.c_str(), "HwSelection")->bytes, std::string(text, text + 3) + '\0');
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, keyPath.c_str());
}

} // namespace
