#include "tools/DriverVerbs.h"

#include <sddl.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "window/Form1Layout.h"

namespace driver {
namespace {

// How long to wait for another process's window to answer a message, and for a
// process to end once told to.
constexpr UINT kAnswerMilliseconds = 2000;
constexpr DWORD kEndMilliseconds = 5000;
constexpr UINT kKilledExitCode = 9;
constexpr int kTextLength = 512;
constexpr DWORD kDesktopNameLength = 128;

inline void FreeLocal(PSECURITY_DESCRIPTOR memory) noexcept { LocalFree(memory); }
using unique_descriptor = unique_any<PSECURITY_DESCRIPTOR, FreeLocal>;

template <typename... Values>
std::string Format(const char* format, Values... values)
{
    std::string text(static_cast<size_t>(std::snprintf(nullptr, 0, format, values...)), '\0');
    std::snprintf(text.data(), text.size() + 1, format, values...);
    return text;
}

std::string ControlMembers(HWND form, const ControlPlace& place)
{
    const HWND control = GetDlgItem(form, static_cast<int>(place.id));
    RECT screen{};
    GetWindowRect(control, &screen);
    RECT rect = screen; // in the form's client area
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&rect), 2);
    wchar_t className[64] = L"";
    GetClassNameW(control, className, 64);
    DWORD_PTR check = 0;
    SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kAnswerMilliseconds, &check);
    return Format("\"%d\":{\"class\":%s,\"text\":%s,\"visible\":%d,\"enabled\":%d,\"style\":%ld,\"check\":%d,"
                  "\"rect\":[%ld,%ld,%ld,%ld],\"centre\":[%ld,%ld]}",
                  static_cast<int>(place.id), Quote(className).c_str(), Quote(TextOf(control)).c_str(),
                  IsWindowVisible(control) != 0, IsWindowEnabled(control) != 0,
                  GetWindowLongW(control, GWL_STYLE) & 0xFFFF, static_cast<int>(check), rect.left, rect.top,
                  rect.right - rect.left, rect.bottom - rect.top, (screen.left + screen.right) / 2,
                  (screen.top + screen.bottom) / 2);
}

int State()
{
    const HWND form = FindForm();
    return form ? Print(true, "{%s}", StateMembers(form).c_str()) : Print(false, "{\"error\":\"no window\"}");
}

// Asks the window to close as its close box would, or ends its process outright.
int End(bool kill)
{
    const HWND form = FindForm();
    if (!form || !kill)
        return Print(true, "{\"posted\":%d}", form && PostMessageW(form, WM_CLOSE, 0, 0));
    const unique_handle process{OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, ProcessOf(form))};
    const bool ended = process && TerminateProcess(process.get(), kKilledExitCode) &&
                       WaitForSingleObject(process.get(), kEndMilliseconds) == WAIT_OBJECT_0;
    return Print(ended, "{\"ended\":%d}", ended);
}

// Wine closes a desktop once its last user has left; this keeps one until standard
// input ends.
int Hold()
{
    char buffer[64];
    DWORD count = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &count, nullptr) && count) {
    }
    return 0;
}

int RegPut(DWORD type, const wchar_t* file)
{
    std::ifstream in(file, std::ios::binary);
    // A guard byte after the data: the registry appends a NUL to text followed by one.
    const std::string bytes = std::string(std::istreambuf_iterator<char>(in), {}) + '\x7F';
    return PrintStatus(in ? RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKeyPath, kValueName, type, bytes.data(),
                                            static_cast<DWORD>(bytes.size() - 1))
                          : ERROR_FILE_NOT_FOUND);
}

int RegClear()
{
    DenyOnKey(0, KeyOpening::Existing); // deleting the tree opens the key
    const LONG status = RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath);
    return PrintStatus(status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status);
}

std::optional<int> SharedVerb(const Command& command)
{
    const size_t count = command.args.size();
    if (command.verb == L"run" && count == 1)
        return Run(command.args[0], nullptr, command.desktop);
    if (command.verb == L"hold" && count == 0)
        return Hold();
    if (command.verb == L"state" && count == 0)
        return State();
    if ((command.verb == L"close" || command.verb == L"kill") && count == 0)
        return End(command.verb == L"kill");
    if (command.verb == L"reg-put" && count == 2)
        return RegPut(wcstoul(command.args[0], nullptr, 0), command.args[1]);
    if (command.verb == L"reg-clear" && count == 0)
        return RegClear();
    return std::nullopt;
}

} // namespace

int PrintStatus(LONG status)
{
    return Print(status == ERROR_SUCCESS, "{\"status\":%ld}", status);
}

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
    wchar_t text[kTextLength] = L"";
    SendMessageTimeoutW(window, WM_GETTEXT, kTextLength, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        kAnswerMilliseconds, nullptr);
    return text;
}

DWORD ProcessOf(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

HWND FindForm()
{
    return FindWindowW(kFormClassName, nullptr);
}

std::string StateMembers(HWND form)
{
    RECT window{}, client{};
    GetWindowRect(form, &window);
    GetClientRect(form, &client);
    POINT origin{};
    ClientToScreen(form, &origin);
    std::string members = Format(
        "\"pid\":%lu,\"caption\":%s,\"window\":[%ld,%ld,%ld,%ld],\"client\":[%ld,%ld],\"origin\":[%ld,%ld],"
        "\"style\":%ld,\"icons\":[[%d,%d],[%d,%d]],\"controls\":{",
        ProcessOf(form), Quote(TextOf(form)).c_str(), window.left, window.top, window.right, window.bottom,
        client.right, client.bottom, origin.x, origin.y, GetWindowLongW(form, GWL_STYLE), GetSystemMetrics(SM_CXICON),
        GetSystemMetrics(SM_CYICON), GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
    for (const ControlPlace& place : kControls)
        members += (&place == kControls.data() ? "" : ",") + ControlMembers(form, place);
    return members + "}";
}

// The program runs in a job that ends it when this process ends, however that
// happens, so that a caller that gives up leaves nothing behind. What it starts
// itself (Quorlin restarting as an administrator) is left out of the job.
int Run(const wchar_t* program, HANDLE token, wchar_t* desktop)
{
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    const unique_handle job{CreateJobObjectW(nullptr, nullptr)};
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    // Suspended until it is in the job, so that nothing it starts escapes it.
    PROCESS_INFORMATION started{};
    const bool ok = token ? CreateProcessAsUserW(token, program, commandLine.data(), nullptr, nullptr, FALSE,
                                                 CREATE_SUSPENDED, nullptr, nullptr, &startup, &started)
                          : CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                           nullptr, nullptr, &startup, &started);
    if (!ok)
        return Print(false, "{\"error\":\"cannot start\",\"status\":%lu}", GetLastError());
    const unique_handle process{started.hProcess};
    const unique_handle thread{started.hThread};
    AssignProcessToJobObject(job.get(), process.get());
    ResumeThread(thread.get());
    WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    return static_cast<int>(exitCode);
}

// Key security is honoured after the fact: a DACL passed when the key is created
// is ignored (under Wine), one set on the open key applies to every later opening.
LONG DenyOnKey(DWORD rights, KeyOpening opening)
{
    // Everyone (WD) is denied RIGHTS ahead of being allowed everything (KA).
    wchar_t sddl[64];
    wsprintfW(sddl, rights ? L"D:(D;;%#x;;;WD)(A;;KA;;;WD)" : L"D:(A;;KA;;;WD)", rights);
    unique_descriptor descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor.put(), nullptr))
        return static_cast<LONG>(GetLastError());
    unique_hkey key;
    const LONG status =
        opening == KeyOpening::CreateIfMissing
            ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, WRITE_DAC, nullptr, key.put(), nullptr)
            : RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, WRITE_DAC, key.put());
    return status == ERROR_SUCCESS ? RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor.get())
                                   : status;
}

int Main(int argc, wchar_t** argv, Extension extend, const char* usage)
{
    // As aware of the resolution as the program, so that Windows reports both the
    // same sizes.
    SetProcessDPIAware();
    // FindWindow and new programs see only the thread's desktop. Its handle stays
    // open for the process's life: a desktop in use by a thread cannot be closed.
    wchar_t desktop[kDesktopNameLength];
    const DWORD length = GetEnvironmentVariableW(L"QUORLIN_DESKTOP", desktop, kDesktopNameLength);
    const bool ownDesktop = length > 0 && length < kDesktopNameLength;
    if (ownDesktop) {
        const HDESK handle = OpenDesktopW(desktop, 0, FALSE, GENERIC_ALL);
        if (!handle || !SetThreadDesktop(handle))
            return Print(false, "{\"error\":\"no such desktop\"}");
    }
    const Command command{argc > 1 ? argv[1] : L"", {argv + std::min(argc, 2), argv + argc},
                          ownDesktop ? desktop : nullptr};
    if (std::optional<int> code = extend ? extend(command) : std::nullopt)
        return *code;
    if (std::optional<int> code = SharedVerb(command))
        return *code;
    std::fputs(usage, stderr);
    return 2;
}

} // namespace driver
