// Start-up: create the window (which loads the stored selection), show it, and run
// the message loop. Closing the window ends the process from within it.

#include <windows.h>

#include <cstdlib>

#include "window/Form1.h"
#include "window/Handle.h"
#include "window/SystemLibrary.h"

namespace {

// A 32-bit program without a manifest, run by a standard user with UAC on, has its
// writes below HKEY_LOCAL_MACHINE\Software redirected to the account's virtual
// store, where the physics runtime never looks.
bool TokenIsVirtualized()
{
    unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return false;
    DWORD enabled = 0;
    DWORD size = 0;
    return GetTokenInformation(token.get(), TokenVirtualizationEnabled, &enabled, sizeof enabled, &size) && enabled;
}

} // namespace

// The static C++ runtime's default terminate handler writes the exception's
// demangled type to stderr, which links in a demangler and a printf: a quarter of
// the executable. A GUI program has no stderr to write to, so this replacement
// (what a runtime built without its verbose handler does) just ends the process.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
} // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    RestrictDllSearchToSystem();
    SetVirtualizationQuery(&TokenIsVirtualized);

    Form1 form;
    if (!form.Create(instance, showCommand))
        return 1;
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (form.PreTranslateMessage(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
