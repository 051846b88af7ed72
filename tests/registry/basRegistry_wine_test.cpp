// The registry module against the real registry (under Wine, in the project's
// prefix), for the one thing the in-memory stand-in leaves out: text passes through
// the system's ANSI code page on its way to and from the registry. (How the real
// registry answers for each kind of stored data is seen end to end.)

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "registry/basRegistry.h"

TEST(RealRegistry, TextRoundTrip_ThroughTheAnsiCodePage)
{
    constexpr char kPath[] = "Software\\Quorlin Tests\\New";
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Quorlin Tests");
    // Trimmed, stored as the code page's bytes with a NUL, and read back as written.
    EXPECT_EQ(WriteRegValue(HKEY_LOCAL_MACHINE, L"Software\\Quorlin Tests\\New", L"Value", RegValue::Text(L" \u20ACPU ")), 0);
    char bytes[16] = {};
    DWORD type = 0;
    DWORD size = sizeof bytes;
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, kPath, "Value", RRF_RT_ANY, &type, bytes, &size), 0);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::string(bytes, size), std::string("\x80PU", 4)) << "Windows-1252 in Wine's default prefix";
    EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, L"Software\\Quorlin Tests\\New", L"Value"), RegValue::Text(L"\u20ACPU"));
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Quorlin Tests");
}
