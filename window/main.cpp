// Start-up: declare the display awareness, create the window (which loads the stored
// selection), show it, and run the message loop until the window is destroyed.

#include <windows.h>

#include <cstdlib>

#include "platform/ProcessToken.h"
#include "platform/SystemLibrary.h"
#include "window/Form1.h"

// The static C++ runtime's default terminate handler writes the exception's
// demangled type to stderr, which links in a demangler and a printf: a quarter of
// the executable. A GUI program has no stderr to write to, so this replacement (what
// a runtime built without its verbose handler does) goes straight to abort: msvcrt
// may show its "abnormal program termination" box, then ends the process with status 3.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
} // namespace __gnu_cxx

namespace {

// Without a manifest, Windows 8.1 and later tell a program 96 dots per inch at any
// display scale and stretch its finished bitmap, so text and pictures come out soft.
// Declared system-aware, it is told the resolution the session started with and
// lays itself out at it. Not per-monitor: without a manifest the classic controls do
// not rescale their glyphs per monitor, so on a monitor of another scale Windows
// still stretches the window. Must come before any window or device context exists.
// Looked up at run time: Windows 7 has only SetProcessDPIAware, XP neither.
void DeclareSystemDpiAwareness() noexcept
{
    using SetContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    using SetAwareFn = BOOL(WINAPI*)();
    if (const auto setContext = LoadedFunction<SetContextFn>(L"user32.dll", "SetProcessDpiAwarenessContext"))
        setContext(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE);
    else if (const auto setAware = LoadedFunction<SetAwareFn>(L"user32.dll", "SetProcessDPIAware"))
        setAware();
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    DeclareSystemDpiAwareness();
    RestrictDllSearchToSystem();
    ProcessToken token;

    // The common controls library is not one Windows always takes from the system
    // directory, so it is loaded from there explicitly rather than imported. It is
    // loaded here, before any window exists, just as the loader would have loaded an
    // import, and stays loaded for the life of the process; Form_Load initialises it.
    Form1 form(LoadSystemLibrary(L"comctl32.dll"), &token);
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
