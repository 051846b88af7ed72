#pragma once
// What every Quorlin window driver does: find the Quorlin window from another process
// and report it as one JSON line, start the program on a Wine desktop, and plant or
// clear the registry value behind it. quorlin_driver.exe (Driver.cpp) is these verbs
// alone; another driver adds verbs of its own through Main's extension.
//
// Built with quorlin.exe's bitness, so that a driver sees the program's registry view.
// A verb prints one JSON line and exits 0, or 1 on failure; but `run` exits with the
// program's own exit code and prints a line only when it cannot start the program,
// and `hold` prints nothing. A command line no verb takes prints the usage on standard
// error and exits 2. Paths are Windows paths; drive Z: is the Unix root. With
// QUORLIN_DESKTOP set, a driver works on that Wine desktop instead of "Default".

#include <windows.h>

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Handle.h"
#include "window/HardwareSetting.h"

namespace driver {

// The program's registry value, for the ANSI functions that the drivers plant and
// read its bytes with, as the program's registry module does.
inline constexpr const char* kKeyPath = kAnsi<kHardwareKeyPath>.data();
inline constexpr const char* kValueName = kAnsi<kHardwareValueName>.data();

// One command line: the verb, the arguments after it, and the desktop to start
// programs on (nullptr: this process's own).
struct Command {
    std::wstring_view verb;
    std::span<wchar_t* const> args;
    wchar_t* desktop;
};

// Prints FORMAT as one line; the exit code: 0 when OK, else 1.
template <typename... Values>
int Print(bool ok, const char* format, Values... values)
{
    std::printf(format, values...);
    std::printf("\n");
    return ok ? 0 : 1;
}

// {"status":STATUS}; fails unless STATUS is ERROR_SUCCESS.
int PrintStatus(LONG status);

// A JSON string: everything but printable ASCII as \u escapes of its UTF-16 units.
std::string Quote(std::wstring_view text);

// The text of a window of any process.
std::wstring TextOf(HWND window);

DWORD ProcessOf(HWND window);

// The Quorlin window on this thread's desktop, or nullptr.
HWND FindForm();

// The members of the window's state object, without its braces: pid, caption,
// window and client rectangles, client origin, style, the system's icon sizes, and
// per control its class, text, visibility, state, style, place and centre.
std::string StateMembers(HWND form);

// Starts PROGRAM on DESKTOP with TOKEN (nullptr: this process's own), waits for it
// and returns its exit code.
int Run(const wchar_t* program, HANDLE token, wchar_t* desktop);

enum class KeyOpening { Existing, CreateIfMissing };

// Gives the key a DACL that denies RIGHTS to Everyone ahead of allowing it
// everything; RIGHTS 0 lifts any denial.
LONG DenyOnKey(DWORD rights, KeyOpening opening);

// A verb the shared ones lack or that replaces one of them: the exit code, or
// nullopt to leave COMMAND to the shared verbs.
using Extension = std::optional<int> (*)(const Command& command);

// The whole driver: sets up the desktop, then runs the command line's verb, tried
// first with EXTEND (may be nullptr), then among the shared verbs:
//   run EXE            start EXE on the desktop, wait for it, exit with its code
//   hold               keep the desktop open until standard input ends
//   state              the window, its controls and the system's icon sizes
//   close | kill       post WM_CLOSE to the window | end its process
//   reg-put TYPE FILE  store the bytes of FILE, exactly, with that type
//   reg-clear          delete the key, whatever its security
// Anything else prints USAGE and exits 2.
int Main(int argc, wchar_t** argv, Extension extend, const char* usage);

} // namespace driver
