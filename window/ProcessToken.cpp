#include "window/ProcessToken.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "window/Handle.h"
#include "window/SystemLibrary.h"

namespace {

unique_handle OpenOwnToken(DWORD access)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), access, &token))
        return {};
    return unique_handle(token);
}

// A DWORD-sized fact about the token (TOKEN_ELEVATION is one DWORD too); false when
// it cannot be read, as on systems that predate UAC.
bool TokenFlag(TOKEN_INFORMATION_CLASS what)
{
    const unique_handle token = OpenOwnToken(TOKEN_QUERY);
    DWORD value = 0;
    DWORD size = 0;
    return token && GetTokenInformation(token.get(), what, &value, sizeof value, &size) && value != 0;
}

} // namespace

void ProcessToken::TurnOffVirtualization()
{
    // Where it cannot be turned off (before UAC, or under Wine), the call fails, and
    // IsVirtualized still tells whether a write went to the virtual store.
    if (const unique_handle token = OpenOwnToken(TOKEN_QUERY | TOKEN_ADJUST_DEFAULT)) {
        DWORD enabled = 0;
        SetTokenInformation(token.get(), TokenVirtualizationEnabled, &enabled, sizeof enabled);
    }
}

bool ProcessToken::IsVirtualized()
{
    return TokenFlag(TokenVirtualizationEnabled);
}

bool ProcessToken::IsElevated()
{
    return TokenFlag(TokenElevation);
}

std::int32_t ProcessToken::RestartAsAdministrator()
{
    // The shell is loaded only now, from the system directory: it is big, and most
    // starts never need it.
    using ShellExecuteExFn = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
    const HMODULE shell = LoadSystemLibrary(L"shell32.dll");
    const auto shellExecuteEx = reinterpret_cast<ShellExecuteExFn>(
        reinterpret_cast<void*>(shell ? GetProcAddress(shell, "ShellExecuteExW") : nullptr));
    if (!shellExecuteEx)
        return static_cast<std::int32_t>(GetLastError());

    std::wstring program(32768, L'\0');
    program.resize(GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size())));
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof execute;
    // The program reports failures itself; the consent prompt belongs to the window
    // whose question the user has just answered.
    execute.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    execute.hwnd = GetActiveWindow();
    execute.lpVerb = L"runas";
    execute.lpFile = program.c_str();
    execute.nShow = SW_SHOWNORMAL;
    if (!shellExecuteEx(&execute))
        return static_cast<std::int32_t>(GetLastError());
    return 0;
}
