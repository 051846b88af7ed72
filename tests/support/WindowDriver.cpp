// quorlin_driver: starts the Quorlin window, reports its state from another process,
// and plants or reads the registry value behind it, for the end-to-end tests, the
// benchmark and scripts/run. Built with quorlin.exe's bitness, so that both see the
// same registry view. A command prints one JSON line and exits 0, or 1 on failure.
// Paths are Windows paths; drive Z: is the Unix root. With QUORLIN_DESKTOP set, it
// works on that Wine desktop instead of "Default".
//
//   run [limited] EXE   start EXE on the desktop (limited: with the non-elevated half
//                       of this process's token), wait for it, exit with its code
//   hold                keep the desktop open until standard input ends (Wine closes
//                       a desktop once its last user has left)
//   state               the window, its controls, the texts of any message box it owns,
//                       and the system's icon sizes
//   close | kill        post WM_CLOSE to the window | end its process
//   reg-put TYPE FILE   store the bytes of FILE, exactly, with that type
//   reg-get FILE        the stored type; the bytes, as the ANSI functions see them, go to FILE
//   reg-deny MASK       the key (created if missing) refuses these rights to Everyone
//   reg-clear           delete the key, whatever its security

#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "window/Form1Layout.h"
#include "platform/Handle.h"

namespace {

constexpr wchar_t kFormClass[] = L"QuorlinForm1";
constexpr char kKeyPath[] = "Software\\AGEIA Technologies";
constexpr char kValueName[] = "HwSelection";

int Print(bool ok, const char* format, auto... values)
{
    std::printf(format, values...);
    std::printf("\n");
    return ok ? 0 : 1;
}

// A JSON string: everything but printable ASCII as \u escapes of its UTF-16 units.
std::string Quote(std::wstring_view text)
{
    std::string quoted = "\"";
    for (const wchar_t c : text) {
        char unit[8];
        std::snprintf(unit, sizeof unit, c >= 0x20 && c < 0x7F && c != '"' && c != '\\' ? "%c" : "\\u%04x", c);
        quoted += unit;
    }
    return quoted + "\"";
}

// WM_GETTEXT rather than GetWindowText, which does not ask another process's window.
std::wstring TextOf(HWND window)
{
    wchar_t text[512] = L"";
    SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    return text;
}

DWORD ProcessOf(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

// Its caption, then the texts of its children (the message and the buttons), a line
// each. A message box is a "#32770" top-level window; only one owned by the form counts.
std::string MessageBoxTexts(HWND form)
{
    HWND box = FindWindowExW(nullptr, nullptr, L"#32770", nullptr);
    while (box && GetWindow(box, GW_OWNER) != form)
        box = FindWindowExW(nullptr, box, L"#32770", nullptr);
    if (!box)
        return "null";
    std::wstring texts = TextOf(box);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        texts += L"\n" + TextOf(child);
    return Quote(texts);
}

int State()
{
    const HWND form = FindWindowW(kFormClass, nullptr);
    if (!form)
        return Print(false, "{\"error\":\"no window\"}");
    RECT window{}, client{};
    GetWindowRect(form, &window);
    GetClientRect(form, &client);
    POINT origin{};
    ClientToScreen(form, &origin);
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(form, nullptr), &thread);
    const int focus = thread.hwndFocus && GetParent(thread.hwndFocus) == form ? GetDlgCtrlID(thread.hwndFocus) : 0;
    std::printf("{\"pid\":%lu,\"caption\":%s,\"window\":[%ld,%ld,%ld,%ld],\"client\":[%ld,%ld],\"origin\":[%ld,%ld],"
                "\"style\":%ld,\"focus\":%d,\"icons\":[[%d,%d],[%d,%d]],\"controls\":{",
                ProcessOf(form), Quote(TextOf(form)).c_str(), window.left, window.top, window.right, window.bottom,
                client.right, client.bottom, origin.x, origin.y, GetWindowLongW(form, GWL_STYLE), focus,
                GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), GetSystemMetrics(SM_CXSMICON),
                GetSystemMetrics(SM_CYSMICON));
    for (const ControlPlace& place : kControls) {
        const HWND control = GetDlgItem(form, static_cast<int>(place.id));
        RECT screen{};
        GetWindowRect(control, &screen);
        RECT rect = screen; // in the form's client area
        MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&rect), 2);
        wchar_t className[64] = L"";
        GetClassNameW(control, className, 64);
        DWORD_PTR check = 0;
        SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &check);
        std::printf("%s\"%d\":{\"class\":%s,\"text\":%s,\"visible\":%d,\"enabled\":%d,\"style\":%ld,\"check\":%d,"
                    "\"rect\":[%ld,%ld,%ld,%ld],\"centre\":[%ld,%ld]}",
                    &place == kControls.data() ? "" : ",", static_cast<int>(place.id), Quote(className).c_str(),
                    Quote(TextOf(control)).c_str(), IsWindowVisible(control) != 0, IsWindowEnabled(control) != 0,
                    GetWindowLongW(control, GWL_STYLE) & 0xFFFF, static_cast<int>(check), rect.left, rect.top,
                    rect.right - rect.left, rect.bottom - rect.top, (screen.left + screen.right) / 2,
                    (screen.top + screen.bottom) / 2);
    }
    return Print(true, "},\"message\":%s}", MessageBoxTexts(form).c_str());
}

// Asks the window to close as its close box would, or ends its process outright.
int End(bool kill)
{
    const HWND form = FindWindowW(kFormClass, nullptr);
    if (!form || !kill)
        return Print(true, "{\"posted\":%d}", form && PostMessageW(form, WM_CLOSE, 0, 0));
    const unique_handle process{OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, ProcessOf(form))};
    const bool ended =
        process && TerminateProcess(process.get(), 9) && WaitForSingleObject(process.get(), 5000) == WAIT_OBJECT_0;
    return Print(ended, "{\"ended\":%d}", ended);
}

// A token to start a program with: this process's own, or its non-elevated half, as
// a program double-clicked by an administrator under UAC gets it.
unique_handle StartingToken(bool limited)
{
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &own))
        return {};
    const unique_handle process{own};
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    if (limited && !GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size))
        return {};
    const unique_handle linkedToken{linked.LinkedToken}; // none unless limited
    HANDLE primary = nullptr;
    DuplicateTokenEx(limited ? linked.LinkedToken : own, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                     TokenPrimary, &primary);
    return unique_handle(primary);
}

// The program runs in a job that ends it when this process ends, however that
// happens, so that a test that gives up leaves nothing behind. What it starts
// itself (Quorlin restarting as an administrator) is left out of the job.
int Run(const wchar_t* program, bool limited, wchar_t* desktop)
{
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    const unique_handle job{CreateJobObjectW(nullptr, nullptr)};
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    PROCESS_INFORMATION process{};
    if (!CreateProcessAsUserW(StartingToken(limited).get(), program, commandLine.data(), nullptr, nullptr, FALSE,
                              CREATE_SUSPENDED, nullptr, nullptr, &startup, &process))
        return Print(false, "{\"error\":\"cannot start\",\"status\":%lu}", GetLastError());
    const unique_handle processHandle{process.hProcess};
    const unique_handle thread{process.hThread};
    AssignProcessToJobObject(job.get(), process.hProcess);
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    return static_cast<int>(exitCode);
}

int Status(LONG status)
{
    return Print(status == ERROR_SUCCESS, "{\"status\":%ld}", status);
}

int RegPut(DWORD type, const wchar_t* file)
{
    std::ifstream in(file, std::ios::binary);
    // A guard byte after the data: the registry appends a NUL to text followed by one.
    const std::string bytes = std::string(std::istreambuf_iterator<char>(in), {}) + '\x7F';
    return Status(in ? RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKeyPath, kValueName, type, bytes.data(),
                                       static_cast<DWORD>(bytes.size() - 1))
                     : ERROR_FILE_NOT_FOUND);
}

int RegGet(const wchar_t* file)
{
    HKEY key = nullptr;
    DWORD type = 0, size = 0;
    std::string bytes;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_SUCCESS) {
        status = RegQueryValueExA(key, kValueName, nullptr, &type, nullptr, &size);
        bytes.resize(size);
        if (status == ERROR_SUCCESS)
            status = RegQueryValueExA(key, kValueName, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size);
        bytes.resize(size);
        RegCloseKey(key);
    }
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return Print(true, "{\"status\":%ld,\"type\":%lu}", status, type);
}

// Denies the rights in mask to Everyone (WD), ahead of allowing it everything (KA);
// a mask of 0 lifts the denial.
LONG RegDeny(DWORD mask, bool create)
{
    wchar_t sddl[64];
    wsprintfW(sddl, mask ? L"D:(D;;%#x;;;WD)(A;;KA;;;WD)" : L"D:(A;;KA;;;WD)", mask);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return static_cast<LONG>(GetLastError());
    HKEY key = nullptr;
    LONG status = create
                      ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr)
                      : RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, WRITE_DAC, &key);
    if (status == ERROR_SUCCESS) {
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(key);
    }
    LocalFree(descriptor);
    return status;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // As aware of the resolution as the program, so that Windows reports both the
    // same sizes.
    SetProcessDPIAware();
    const std::wstring_view command = argc > 1 ? argv[1] : L"";
    const bool limited = argc > 2 && argv[2] == std::wstring_view(L"limited");
    wchar_t desktop[128];
    const DWORD length = GetEnvironmentVariableW(L"QUORLIN_DESKTOP", desktop, 128);
    const bool ownDesktop = length > 0 && length < 128;
    if (ownDesktop) {
        const HDESK handle = OpenDesktopW(desktop, 0, FALSE, GENERIC_ALL);
        if (!handle || !SetThreadDesktop(handle))
            return Print(false, "{\"error\":\"no such desktop\"}");
    }
    if (command == L"run" && argc == 3 + limited)
        return Run(argv[argc - 1], limited, ownDesktop ? desktop : nullptr);
    if (command == L"hold") {
        char buffer[64];
        DWORD count = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &count, nullptr) && count) {
        }
        return 0;
    }
    if (command == L"state")
        return State();
    if (command == L"close" || command == L"kill")
        return End(command == L"kill");
    if (command == L"reg-put" && argc == 4)
        return RegPut(wcstoul(argv[2], nullptr, 0), argv[3]);
    if (command == L"reg-get" && argc == 3)
        return RegGet(argv[2]);
    if (command == L"reg-deny" && argc == 3)
        return Status(RegDeny(wcstoul(argv[2], nullptr, 0), true));
    if (command == L"reg-clear") {
        RegDeny(0, false); // deleting the tree opens the key
        const LONG status = RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath);
        return Status(status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status);
    }
    std::fprintf(stderr, "usage: quorlin_driver run [limited] EXE | hold | state | close | kill\n"
                         "       | reg-put TYPE FILE | reg-get FILE | reg-deny MASK | reg-clear\n");
    return 2;
}
