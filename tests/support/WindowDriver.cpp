// quorlin_driver: starts the Quorlin window, reports its state from another process,
// and plants or reads the registry value behind it, for the end-to-end tests, the
// benchmark and scripts/run. Built with quorlin.exe's bitness, so that both see the
// same registry view. A command prints one JSON line and exits 0, or 1 on failure.
// With QUORLIN_DESKTOP set, it works on that Wine desktop instead of "Default".
//
//   run [limited] EXE   start EXE on the desktop (limited: with the non-elevated half
//                       of this process's token), wait for it, exit with its code
//   hold                keep the desktop open until standard input ends (Wine closes
//                       a desktop once its last user has left)
//   wait [SECONDS]      until the window is shown and takes input
//   state               the window, its controls, and any message box it owns
//   close | kill        post WM_CLOSE to the window | end its process
//   reg-put TYPE FILE   store the bytes of FILE, exactly, with that type
//   reg-get FILE        the stored type; the bytes, as the ANSI functions see them, go to FILE
//   reg-deny MASK       the key (created if missing) refuses these rights to Everyone
//   reg-clear           delete the key, whatever its security

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "window/Form1Layout.h"
#include "window/Handle.h"

namespace {

constexpr wchar_t kFormClass[] = L"QuorlinForm1";
constexpr char kKeyPath[] = "Software\\AGEIA Technologies";
constexpr char kValueName[] = "HwSelection";

// Everything but printable ASCII as \u escapes of its UTF-16 units, which JSON allows.
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

std::string Numbers(std::initializer_list<long long> numbers)
{
    std::string array;
    for (const long long number : numbers)
        array += (array.empty() ? "[" : ",") + std::to_string(number);
    return array + "]";
}

std::string Object(std::initializer_list<std::pair<const char*, std::string>> members)
{
    std::string object;
    for (const auto& [name, value] : members)
        object += (object.empty() ? "{\"" : ",\"") + std::string(name) + "\":" + value;
    return object + "}";
}

int Print(const std::string& json, bool ok = true)
{
    std::printf("%s\n", json.c_str());
    return ok ? 0 : 1;
}

int Failure(const char* what)
{
    return Print("{\"error\":\"" + std::string(what) + "\"}", false);
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
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

std::string ControlState(HWND form, HWND control)
{
    RECT screen{};
    GetWindowRect(control, &screen);
    RECT client = screen;
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&client), 2);
    DWORD_PTR check = 0;
    SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &check);
    return Object({{"class", Quote(ClassOf(control))},
                   {"text", Quote(TextOf(control))},
                   {"visible", std::to_string(IsWindowVisible(control) != 0)},
                   {"enabled", std::to_string(IsWindowEnabled(control) != 0)},
                   {"style", std::to_string(GetWindowLongW(control, GWL_STYLE) & 0xFFFF)}, // the class's own bits
                   {"check", std::to_string(check)},
                   {"rect", Numbers({client.left, client.top, client.right - client.left, client.bottom - client.top})},
                   {"centre", Numbers({(screen.left + screen.right) / 2, (screen.top + screen.bottom) / 2})}});
}

struct MessageBoxSearch {
    HWND form;
    HWND found = nullptr;
    std::wstring text, buttons;
};

BOOL CALLBACK CollectText(HWND child, LPARAM lParam)
{
    auto& search = *reinterpret_cast<MessageBoxSearch*>(lParam);
    std::wstring& into = _wcsicmp(ClassOf(child).c_str(), L"Button") == 0 ? search.buttons : search.text;
    if (const std::wstring text = TextOf(child); !text.empty())
        into += (into.empty() ? L"" : L"\n") + text;
    return TRUE;
}

// A message box is a "#32770" top-level window; only one owned by the form counts.
BOOL CALLBACK FindMessageBox(HWND window, LPARAM lParam)
{
    auto& search = *reinterpret_cast<MessageBoxSearch*>(lParam);
    if (ClassOf(window) != L"#32770" || GetWindow(window, GW_OWNER) != search.form)
        return TRUE;
    search.found = window;
    EnumChildWindows(window, CollectText, lParam);
    return FALSE;
}

std::string MessageBoxState(HWND form)
{
    MessageBoxSearch search{form, nullptr, {}, {}};
    EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&search));
    if (!search.found)
        return "null";
    return Object({{"caption", Quote(TextOf(search.found))}, {"text", Quote(search.text)},
                   {"buttons", Quote(search.buttons)}});
}

int State()
{
    const HWND form = FindWindowW(kFormClass, nullptr);
    if (!form)
        return Failure("no window");
    RECT window{}, client{};
    GetWindowRect(form, &window);
    GetClientRect(form, &client);
    POINT origin{};
    ClientToScreen(form, &origin);
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(form, nullptr), &thread);
    const bool ownFocus = thread.hwndFocus && GetParent(thread.hwndFocus) == form;
    std::string controls;
    for (const ControlPlace& place : kControls) {
        const int id = static_cast<int>(place.id);
        controls += (controls.empty() ? "{\"" : ",\"") + std::to_string(id) + "\":" + ControlState(form, GetDlgItem(form, id));
    }
    return Print(Object({{"pid", std::to_string(ProcessOf(form))},
                         {"caption", Quote(TextOf(form))},
                         {"window", Numbers({window.left, window.top, window.right, window.bottom})},
                         {"client", Numbers({client.right, client.bottom})},
                         {"origin", Numbers({origin.x, origin.y})},
                         {"style", std::to_string(GetWindowLongW(form, GWL_STYLE))},
                         {"focus", std::to_string(ownFocus ? GetDlgCtrlID(thread.hwndFocus) : 0)},
                         {"controls", controls + "}"},
                         {"message", MessageBoxState(form)}}));
}

// Polls every 50 ms; the window is ready once its thread waits for input.
int Wait(ULONGLONG deadline)
{
    HWND form = nullptr;
    while (!((form = FindWindowW(kFormClass, nullptr)) && IsWindowVisible(form)) && GetTickCount64() < deadline)
        Sleep(50);
    if (!form || !IsWindowVisible(form))
        return Failure("no window");
    if (const unique_handle process{OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, ProcessOf(form))})
        WaitForInputIdle(process.get(), static_cast<DWORD>(deadline - std::min(deadline, GetTickCount64())));
    return Print(Object({{"pid", std::to_string(ProcessOf(form))}}));
}

// Asks the window to close as its close box would, or ends its process outright.
int End(bool kill)
{
    const HWND form = FindWindowW(kFormClass, nullptr);
    if (!form || !kill)
        return Print(Object({{"posted", std::to_string(form && PostMessageW(form, WM_CLOSE, 0, 0))}}));
    const unique_handle process{OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, ProcessOf(form))};
    const bool ended =
        process && TerminateProcess(process.get(), 9) && WaitForSingleObject(process.get(), 5000) == WAIT_OBJECT_0;
    return Print(Object({{"ended", std::to_string(ended)}}), ended);
}

// The non-elevated half of this process's token, as a program double-clicked by an
// administrator under UAC gets it.
unique_handle LimitedToken()
{
    HANDLE own = nullptr;
    HANDLE primary = nullptr;
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &own) &&
        GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size)) {
        DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary);
        CloseHandle(linked.LinkedToken);
    }
    if (own)
        CloseHandle(own);
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
    const unique_handle token = limited ? LimitedToken() : unique_handle{};
    if (limited && !token)
        return Failure("no limited token");
    PROCESS_INFORMATION process{};
    const BOOL started =
        limited ? CreateProcessAsUserW(token.get(), program, commandLine.data(), nullptr, nullptr, FALSE,
                                       CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)
                : CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                 nullptr, &startup, &process);
    if (!started)
        return Failure("cannot start");
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
    return Print(Object({{"status", std::to_string(status)}}), status == ERROR_SUCCESS);
}

int RegPut(DWORD type, const wchar_t* file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return Failure("cannot read the file");
    // A guard byte after the data: the registry appends a NUL to text followed by one.
    const std::string bytes = std::string(std::istreambuf_iterator<char>(in), {}) + '\x7F';
    return Status(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKeyPath, kValueName, type, bytes.data(),
                                  static_cast<DWORD>(bytes.size() - 1)));
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
    return Print(Object({{"status", std::to_string(status)}, {"type", std::to_string(type)}}));
}

// Denies the rights in mask to Everyone (WD), ahead of allowing it everything (KA);
// a mask of 0 lifts the denial.
LONG RegDeny(DWORD mask, bool create)
{
    wchar_t sddl[64];
    wsprintfW(sddl, L"D:(D;;%#x;;;WD)(A;;KA;;;WD)", mask);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(mask ? sddl : L"D:(A;;KA;;;WD)", SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return static_cast<LONG>(GetLastError());
    HKEY key = nullptr;
    LONG status = create ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr)
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
    const std::wstring_view command = argc > 1 ? argv[1] : L"";
    const std::wstring_view option = argc > 2 ? argv[2] : L"";
    wchar_t desktop[128];
    const DWORD length = GetEnvironmentVariableW(L"QUORLIN_DESKTOP", desktop, 128);
    const bool ownDesktop = length > 0 && length < 128;
    if (ownDesktop) {
        const HDESK handle = OpenDesktopW(desktop, 0, FALSE, GENERIC_ALL);
        if (!handle || !SetThreadDesktop(handle))
            return Failure("no such desktop");
    }
    if (command == L"run" && argc == 3 + (option == L"limited"))
        return Run(argv[argc - 1], option == L"limited", ownDesktop ? desktop : nullptr);
    if (command == L"hold") {
        char buffer[64];
        DWORD count = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &count, nullptr) && count) {
        }
        return 0;
    }
    if (command == L"wait")
        return Wait(GetTickCount64() + static_cast<ULONGLONG>(1000 * (argc > 2 ? _wtof(argv[2]) : 20)));
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
    std::fprintf(stderr, "usage: quorlin_driver run [limited] EXE | hold | wait [SECONDS] | state | close | kill\n"
                         "       | reg-put TYPE FILE | reg-get FILE | reg-deny MASK | reg-clear\n");
    return 2;
}
