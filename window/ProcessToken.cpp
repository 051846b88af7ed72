#include "window/ProcessToken.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "platform/Handle.h"
#include "window/SystemLibrary.h"

namespace {

unique_handle OpenOwnToken(DWORD access)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), access, &token))
        return {};
    return unique_handle(token);
}

// A DWORD-sized fact about the token (TOKEN_ELEVATION and TOKEN_ELEVATION_TYPE are
// one DWORD too); 0 when it cannot be read, as on systems that predate UAC.
DWORD TokenValue(const unique_handle& token, TOKEN_INFORMATION_CLASS what)
{
    DWORD value = 0;
    DWORD size = 0;
    return token && GetTokenInformation(token.get(), what, &value, sizeof value, &size) ? value : 0;
}

// ShellExecuteEx asks for COM on the calling thread, since shell extensions may take
// part in it. Initialised for the restart alone, so that start-up loads no COM; ole32
// is looked up for the same reason.
class ComForShell {
public:
    ComForShell()
    {
        using InitializeFn = HRESULT(WINAPI*)(void*, DWORD);
        const HMODULE ole = LoadSystemLibrary(L"ole32.dll");
        const auto initialize = FunctionOf<InitializeFn>(ole, "CoInitializeEx");
        const auto uninitialize = FunctionOf<UninitializeFn>(ole, "CoUninitialize");
        // Every success, S_FALSE included, is matched by one CoUninitialize.
        constexpr DWORD kModel = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE;
        if (initialize && uninitialize && SUCCEEDED(initialize(nullptr, kModel)))
            uninitialize_ = uninitialize;
    }
    ~ComForShell()
    {
        if (uninitialize_)
            uninitialize_();
    }
    ComForShell(const ComForShell&) = delete;
    ComForShell& operator=(const ComForShell&) = delete;

private:
    using UninitializeFn = void(WINAPI*)();
    UninitializeFn uninitialize_ = nullptr;
};

} // namespace

ProcessToken::ProcessToken() : token_(OpenOwnToken(TOKEN_QUERY | TOKEN_ADJUST_DEFAULT))
{
    // Should the right to adjust be refused, the facts can still be read.
    if (!token_)
        token_ = OpenOwnToken(TOKEN_QUERY);
}

void ProcessToken::TurnOffVirtualization()
{
    // Where it cannot be turned off (before UAC, or under Wine), the call fails, and
    // IsVirtualized still tells whether a write went to the virtual store.
    DWORD enabled = 0;
    if (token_)
        SetTokenInformation(token_.get(), TokenVirtualizationEnabled, &enabled, sizeof enabled);
}

bool ProcessToken::IsVirtualized()
{
    return TokenValue(token_, TokenVirtualizationEnabled) != 0;
}

bool ProcessToken::IsElevated()
{
    return TokenValue(token_, TokenElevation) != 0;
}

bool ProcessToken::IsLimitedAdministrator()
{
    return TokenValue(token_, TokenElevationType) == TokenElevationTypeLimited;
}

bool ProcessToken::IsVirtualizationAllowed()
{
    return TokenValue(token_, TokenVirtualizationAllowed) != 0;
}

std::int32_t ProcessToken::RestartAsAdministrator()
{
    // The shell is loaded only now, from the system directory: it is big, and most
    // starts never need it.
    using ShellExecuteExFn = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
    const auto shellExecuteEx = FunctionOf<ShellExecuteExFn>(LoadSystemLibrary(L"shell32.dll"), "ShellExecuteExW");
    if (!shellExecuteEx)
        return static_cast<std::int32_t>(GetLastError());
    const ComForShell com;

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
