// Start-up: create the window (which loads the stored selection), show it, and run
// the message loop. Closing the window ends the process from within it.

#include <windows.h>

#include <cstdlib>

#include "window/Form1.h"
#include "window/ProcessToken.h"
#include "window/SystemLibrary.h"

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
    ProcessToken token;
    SetElevation(&token);

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
