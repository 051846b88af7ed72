// quorlin_driver: starts the Quorlin window, looks at it from another process, and
// plants or reads the registry value behind it, for the end-to-end tests and
// scripts/run. Built with the same bitness as quorlin.exe, so that both see the same
// registry view. Each command prints one JSON line and exits 0, or 1 on failure.
// With QUORLIN_DESKTOP set, it works on that Wine desktop instead of "Default".
//
//   run EXE               start EXE on the desktop, wait for it, exit with its code
//   hold                  keep the desktop open until standard input ends (Wine
//                         closes a desktop once its last user has left)
//   state                 the window, its controls, and any message box it owns
//   wait [SECONDS]        until the window exists, is shown and takes input
//   close | kill          post WM_CLOSE to the window | end its process
//   reg-put TYPE HEX      store exactly these bytes (TYPE: 1 REG_SZ, 4 REG_DWORD, ...)
//   reg-put TYPE @FILE    store the bytes of FILE (values too long for a command line)
//   reg-get [FILE]        the stored type and bytes, as the ANSI functions see them;
//                         with FILE, the bytes go there and only their count is printed
//   reg-clear             delete the key, whatever its security
//   reg-allow             lift any denial set on the key
//   reg-deny-set          the key (created if missing) refuses KEY_SET_VALUE to Everyone
//   reg-deny-read         the key refuses KEY_QUERY_VALUE to Everyone

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <string>
#include <string_view>

#include "window/Handle.h"

namespace {

// The window's control ids, as the program's users (and these tests) know them.
enum class Control : int { Label1 = 101, Option1, Option2, Option3, Label2, Command1, Image1 };
constexpr Control kControls[] = {Control::Label1, Control::Option1, Control::Option2, Control::Option3,
                                 Control::Label2, Control::Command1, Control::Image1};

constexpr wchar_t kFormClass[] = L"QuorlinForm1";
constexpr char kKeyPath[] = "Software\\AGEIA Technologies";
constexpr char kValueName[] = "HwSelection";

// One JSON object, built up member by member.
class Json {
public:
    Json& Raw(std::string_view name, const std::string& raw)
    {
        text_ += (text_.size() > 1 ? "," : "") + Quote(name) + ":" + raw;
        return *this;
    }
    Json& Int(std::string_view name, long long value) { return Raw(name, std::to_string(value)); }
    Json& Bool(std::string_view name, bool value) { return Raw(name, value ? "true" : "false"); }
    Json& Str(std::string_view name, std::string_view value) { return Raw(name, Quote(value)); }
    Json& Str(std::string_view name, const std::wstring& value)
    {
        std::string utf8(value.size() * 3, '\0');
        utf8.resize(WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()), utf8.data(),
                                        static_cast<int>(utf8.size()), nullptr, nullptr));
        return Str(name, std::string_view(utf8));
    }
    std::string Done() const { return text_ + "}"; }

    static std::string Array(std::initializer_list<long long> items)
    {
        std::string array = "[";
        for (const long long item : items)
            array += (array.size() > 1 ? "," : "") + std::to_string(item);
        return array + "]";
    }

private:
    static std::string Quote(std::string_view text)
    {
        std::string quoted = "\"";
        for (const char c : text) {
            char escape[8] = {'\\', c, '\0'};
            if (static_cast<unsigned char>(c) < 0x20)
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 ? escape : std::string(1, c);
        }
        return quoted + "\"";
    }
    std::string text_ = "{";
};

int Print(const Json& json, bool ok = true)
{
    std::printf("%s\n", json.Done().c_str());
    std::fflush(stdout);
    return ok ? 0 : 1;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[128] = L"";
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result);
    return static_cast<LRESULT>(result);
}

// WM_GETTEXT rather than GetWindowText, which does not ask another process's window.
std::wstring TextOf(HWND window)
{
    wchar_t text[512] = L"";
    Ask(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
    return text;
}

HWND FindForm()
{
    return FindWindowW(kFormClass, nullptr);
}

DWORD ProcessOf(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

// The icon's size, or null when the window answers with none. (Wine answers
// WM_GETICON only within the window's own process.)
std::string IconSize(HWND form, WPARAM which)
{
    const auto icon = reinterpret_cast<HICON>(Ask(form, WM_GETICON, which));
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info))
        return "null";
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    const long long height = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2; // a mask holds two
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return Json::Array({bitmap.bmWidth, height});
}

std::string ControlState(HWND form, Control id)
{
    const HWND control = GetDlgItem(form, static_cast<int>(id));
    if (!control)
        return "null";
    RECT screen{};
    GetWindowRect(control, &screen);
    RECT client = screen;
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&client), 2);
    const std::wstring className = ClassOf(control);
    Json json;
    json.Str("class", className)
        .Str("text", TextOf(control))
        .Bool("visible", IsWindowVisible(control))
        .Bool("enabled", IsWindowEnabled(control))
        .Int("style", GetWindowLongW(control, GWL_STYLE) & 0xFFFF) // the class's own style bits
        .Raw("rect", Json::Array({client.left, client.top, client.right - client.left, client.bottom - client.top}))
        .Raw("centre", Json::Array({(screen.left + screen.right) / 2, (screen.top + screen.bottom) / 2}));
    if (_wcsicmp(className.c_str(), L"Button") == 0)
        json.Int("check", Ask(control, BM_GETCHECK));
    return json.Done();
}

struct MessageBoxSearch {
    HWND owner;
    std::string found = "null";
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
    if (ClassOf(window) != L"#32770" || GetWindow(window, GW_OWNER) != search.owner)
        return TRUE;
    EnumChildWindows(window, CollectText, lParam);
    search.found = Json().Str("caption", TextOf(window)).Str("text", search.text).Str("buttons", search.buttons).Done();
    return FALSE;
}

int State()
{
    const HWND form = FindForm();
    if (!form)
        return Print(Json().Str("error", "no window"), false);
    RECT window{}, client{};
    GetWindowRect(form, &window);
    GetClientRect(form, &client);
    POINT origin{};
    ClientToScreen(form, &origin);
    const LONG style = GetWindowLongW(form, GWL_STYLE);
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(form, nullptr), &thread);
    const bool ownFocus = thread.hwndFocus && GetParent(thread.hwndFocus) == form;

    Json controls;
    for (const Control id : kControls)
        controls.Raw(std::to_string(static_cast<int>(id)), ControlState(form, id));
    MessageBoxSearch search{form, "null", {}, {}};
    EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&search));
    return Print(Json()
                     .Int("pid", ProcessOf(form))
                     .Str("caption", TextOf(form))
                     .Raw("window", Json::Array({window.left, window.top, window.right, window.bottom}))
                     .Raw("client", Json::Array({client.right, client.bottom}))
                     .Raw("origin", Json::Array({origin.x, origin.y}))
                     .Raw("style", Json()
                                       .Bool("thickframe", style & WS_THICKFRAME)
                                       .Bool("sysmenu", style & WS_SYSMENU)
                                       .Bool("minimizebox", style & WS_MINIMIZEBOX)
                                       .Bool("maximizebox", style & WS_MAXIMIZEBOX)
                                       .Done())
                     .Raw("icons", Json()
                                       .Raw("big", IconSize(form, ICON_BIG))
                                       .Raw("small", IconSize(form, ICON_SMALL))
                                       .Done())
                     .Int("focus", ownFocus ? GetDlgCtrlID(thread.hwndFocus) : 0)
                     .Raw("controls", controls.Done())
                     .Raw("message", search.found));
}

DWORD Remaining(ULONGLONG deadline)
{
    const ULONGLONG now = GetTickCount64();
    return static_cast<DWORD>(deadline > now ? deadline - now : 0);
}

// Polls every 50 ms; the window is ready once its thread waits for input.
int Wait(ULONGLONG deadline)
{
    HWND form = nullptr;
    while (!((form = FindForm()) && IsWindowVisible(form)) && Remaining(deadline))
        Sleep(50);
    if (!form || !IsWindowVisible(form))
        return Print(Json().Str("error", "no window"), false);
    if (const unique_handle process{OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, ProcessOf(form))})
        WaitForInputIdle(process.get(), Remaining(deadline));
    return Print(Json().Int("pid", ProcessOf(form)));
}

// Asks the window to close as its close box would, or ends its process outright.
int End(bool kill)
{
    const HWND form = FindForm();
    if (!form || !kill)
        return Print(Json().Bool("found", form).Bool("posted", form && PostMessageW(form, WM_CLOSE, 0, 0)));
    const unique_handle process{OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, ProcessOf(form))};
    const bool ended =
        process && TerminateProcess(process.get(), 9) && WaitForSingleObject(process.get(), 5000) == WAIT_OBJECT_0;
    return Print(Json().Bool("found", true).Bool("ended", ended), ended);
}

// The program runs in a job that ends it when this process ends, however that
// happens, so that a test that gives up leaves nothing behind.
int Run(const char* program, wchar_t* desktop)
{
    std::wstring path(MAX_PATH, L'\0');
    path.resize(MultiByteToWideChar(CP_UTF8, 0, program, -1, path.data(), MAX_PATH) - 1);
    if (path.starts_with(L"/")) { // a Unix path: drive Z: is its root
        std::replace(path.begin(), path.end(), L'/', L'\\');
        path.insert(0, L"Z:");
    }
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &process))
        return Print(Json().Str("error", "cannot start").Int("status", GetLastError()), false);
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    return static_cast<int>(exitCode);
}

int Status(LONG status)
{
    return Print(Json().Int("status", status), status == ERROR_SUCCESS);
}

// A Unix path names a file on drive Z:, whose root is the Unix root.
std::string WindowsPath(std::string path)
{
    return path.starts_with('/') ? "Z:" + path : path;
}

bool ReadFileBytes(const std::string& path, std::string& bytes)
{
    std::FILE* file = std::fopen(WindowsPath(path).c_str(), "rb");
    if (!file)
        return false;
    char chunk[65536];
    for (std::size_t count; (count = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        bytes.append(chunk, count);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(WindowsPath(path).c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

int RegPut(const char* type, std::string_view data)
{
    std::string bytes;
    if (data.starts_with('@')) {
        if (!ReadFileBytes(std::string(data.substr(1)), bytes))
            return Print(Json().Str("error", "cannot read the file"), false);
    } else {
        for (std::size_t i = 0; i + 1 < data.size(); i += 2)
            bytes += static_cast<char>(std::strtoul(std::string(data.substr(i, 2)).c_str(), nullptr, 16));
    }
    // A guard byte after the data: the registry appends a NUL to text followed by one.
    const std::string guarded = bytes + '\x7F';
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExA(key, kValueName, 0, static_cast<DWORD>(std::strtoul(type, nullptr, 0)), reinterpret_cast<const BYTE*>(guarded.data()),
                                static_cast<DWORD>(bytes.size()));
        RegCloseKey(key);
    }
    return Status(status);
}

int RegGet(const char* file)
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
    if (status != ERROR_SUCCESS)
        return Print(Json().Int("status", status)); // "missing" (2), or refused
    if (file) {
        if (!WriteFileBytes(file, bytes))
            return Print(Json().Str("error", "cannot write the file"), false);
        return Print(Json().Int("status", status).Int("type", type).Int("size", static_cast<long long>(bytes.size())));
    }
    std::string hex;
    for (const unsigned char byte : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return Print(Json().Int("status", status).Int("type", type).Str("hex", hex));
}

LONG SetDacl(HKEY key, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return static_cast<LONG>(GetLastError());
    const LONG status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return status;
}

// Denies one right to Everyone (WD) ahead of allowing it everything (KA).
int RegDeny(const wchar_t* sddl)
{
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = SetDacl(key, sddl);
        RegCloseKey(key);
    }
    return Status(status);
}

LONG RegAllow()
{
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, WRITE_DAC, &key);
    if (status == ERROR_SUCCESS) {
        status = SetDacl(key, L"D:(A;;KA;;;WD)");
        RegCloseKey(key);
    }
    return status;
}

int RegClear()
{
    // Lift any denial first: deleting the tree opens the key.
    RegAllow();
    const LONG status = RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath);
    return Status(status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string_view command = argc > 1 ? argv[1] : "";
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(1000 * (argc > 2 ? std::atof(argv[2]) : 20));
    wchar_t desktop[128];
    const DWORD length = GetEnvironmentVariableW(L"QUORLIN_DESKTOP", desktop, std::size(desktop));
    const bool ownDesktop = length > 0 && length < std::size(desktop);
    if (ownDesktop) {
        const HDESK handle = OpenDesktopW(desktop, 0, FALSE, GENERIC_ALL);
        if (!handle || !SetThreadDesktop(handle))
            return Print(Json().Str("error", "no such desktop").Str("desktop", std::wstring(desktop)), false);
    }
    if (command == "run" && argc == 3)
        return Run(argv[2], ownDesktop ? desktop : nullptr);
    if (command == "hold") {
        char buffer[64];
        DWORD count = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &count, nullptr) && count) {
        }
        return 0;
    }
    if (command == "state")
        return State();
    if (command == "wait")
        return Wait(deadline);
    if (command == "close" || command == "kill")
        return End(command == "kill");
    if (command == "reg-put" && argc == 4)
        return RegPut(argv[2], argv[3]);
    if (command == "reg-get" && argc <= 3)
        return RegGet(argc == 3 ? argv[2] : nullptr);
    if (command == "reg-allow")
        return Status(RegAllow());
    if (command == "reg-clear")
        return RegClear();
    if (command == "reg-deny-set")
        return RegDeny(L"D:(D;;0x2;;;WD)(A;;KA;;;WD)"); // 0x2: KEY_SET_VALUE
    if (command == "reg-deny-read")
        return RegDeny(L"D:(D;;0x1;;;WD)(A;;KA;;;WD)"); // 0x1: KEY_QUERY_VALUE
    std::fprintf(stderr, "usage: quorlin_driver run EXE | hold | state | wait [s] | close | kill\n"
                         "       | reg-put TYPE HEX|@FILE | reg-get [FILE] | reg-clear | reg-allow\n"
                         "       | reg-deny-set | reg-deny-read\n");
    return 2;
}
