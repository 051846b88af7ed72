// Times programs from launch to their window being shown, and from WM_CLOSE to
// the process's exit. Usage: launcher ROUNDS PROGRAM_A PROGRAM_B...
// With QUORLIN_DESKTOP set, the programs run (and are watched) on that Wine desktop.
// Runs the programs one after the other, ROUNDS times, and prints one line per
// launch:
//   <A|B|...> <milliseconds to shown> <milliseconds from WM_CLOSE to exit>

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/Handle.h"

namespace {

// The first visible, unowned top-level window of the program's main thread.
BOOL CALLBACK FindShown(HWND window, LPARAM lParam)
{
    if (IsWindowVisible(window) && !GetWindow(window, GW_OWNER)) {
        *reinterpret_cast<HWND*>(lParam) = window;
        return FALSE;
    }
    return TRUE;
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool Measure(const wchar_t* program, wchar_t* desktop, double& shown, double& exited)
{
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION process{};
    LARGE_INTEGER start, visible, end;
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    const unique_handle processHandle(process.hProcess);
    const unique_handle threadHandle(process.hThread);
    // Polled every millisecond, so the watch is kept to the program's own thread:
    // under Wine each enumeration is a request to the server the program starting
    // up depends on, and walking every window on the desktop would slow the very
    // start-up it times, the more so the more the program asks of the server.
    HWND shownWindow = nullptr;
    for (int tries = 0; !shownWindow && tries < 20000; ++tries) {
        EnumThreadWindows(process.dwThreadId, FindShown, reinterpret_cast<LPARAM>(&shownWindow));
        if (!shownWindow)
            Sleep(1);
    }
    QueryPerformanceCounter(&visible);
    bool ok = shownWindow != nullptr;
    if (ok) {
        // Let the program finish painting before it is asked to close.
        Sleep(200);
        LARGE_INTEGER closing;
        QueryPerformanceCounter(&closing);
        PostMessageW(shownWindow, WM_CLOSE, 0, 0);
        ok = WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
        QueryPerformanceCounter(&end);
        exited = Milliseconds(closing, end);
    }
    if (!ok)
        TerminateProcess(process.hProcess, 1);
    shown = Milliseconds(start, visible);
    return ok;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    constexpr int kFirstProgram = 2;
    if (argc <= kFirstProgram || argc > kFirstProgram + 26)
        return 2;
    const int rounds = _wtoi(argv[1]);
    wchar_t desktop[128];
    const DWORD length = GetEnvironmentVariableW(L"QUORLIN_DESKTOP", desktop, ARRAYSIZE(desktop));
    const bool ownDesktop = length > 0 && length < ARRAYSIZE(desktop);
    if (ownDesktop) {
        const HDESK handle = OpenDesktopW(desktop, 0, FALSE, GENERIC_ALL);
        if (!handle || !SetThreadDesktop(handle))
            return 1;
    }
    // Every other round runs the programs in reverse order, so that none always goes
    // first, right after another program's exit, or always last.
    for (int round = 0; round < rounds; ++round) {
        for (int step = kFirstProgram; step < argc; ++step) {
            const int which = round % 2 == 0 ? step : argc - 1 - (step - kFirstProgram);
            double shown = 0, exited = 0;
            if (!Measure(argv[which], ownDesktop ? desktop : nullptr, shown, exited))
                return 1;
            std::printf("%c %.1f %.1f\n", 'A' + (which - kFirstProgram), shown, exited);
            std::fflush(stdout);
        }
    }
    return 0;
}
