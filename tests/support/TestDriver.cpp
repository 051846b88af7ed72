// quorlin_test_driver: the end-to-end tests' window driver. Besides the verbs of
// tools/DriverVerbs.h it starts the program non-elevated, makes its key refuse
// rights, reads the stored value back, reports the focus, any message box and what
// a screen reader hears, and asks the program's own platform code for its answers:
//
//   run limited EXE   start EXE with a limited administrator's token, as a program
//                     double-clicked by an administrator under UAC gets it
//   run elevated EXE  start EXE with the elevated administrator's token, as "Run as
//                     administrator" gives it
//   state             as the shared verb, plus "focus" (the id of the form's control
//                     that has it, or 0), "message" (any message box the form owns)
//                     and "token" (the program's token: elevated, elevation type)
//   accessible        the form's children in the order assistive technology walks
//                     them, each with its id, accessible name and unavailable state
//   reg-deny MASK     the key (created if missing) refuses these rights to Everyone
//   reg-get FILE      the stored type; the bytes, as the ANSI functions see them, go to FILE
//   policy            whether Quorlin reads the UAC policy as denying standard users
//                     elevation
//   error-text CODE   the text Quorlin shows for a Win32 error code

#include <oleacc.h>

#include <cstdlib>
#include <fstream>

#include "platform/ErrorText.h"
#include "platform/ProcessToken.h"
#include "tools/DriverVerbs.h"

namespace {

// The other half of this process's split token (the limited one of an elevated
// administrator, the elevated one of a limited administrator), as a primary token;
// empty where there is none, as for a token of the default type, with the error in
// `error`. Starting a program with it works under Wine; on Windows, CreateProcessAsUser
// with a token that is not the caller's own wants privileges (to assign a primary
// token) that an administrator's programs do not hold: a test driver's way under
// Wine, not a way to run a program on Windows.
unique_handle LinkedToken(DWORD& error)
{
    unique_handle own;
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.put()) ||
        !GetTokenInformation(own.get(), TokenLinkedToken, &linked, sizeof linked, &size)) {
        error = GetLastError();
        return {};
    }
    // The linked token comes as an impersonation token; a process needs a primary one.
    const unique_handle impersonation{linked.LinkedToken};
    unique_handle primary;
    if (!DuplicateTokenEx(impersonation.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary,
                          primary.put()))
        error = GetLastError();
    return primary;
}

enum class Standing { Limited, Elevated };

// Starts PROGRAM with a token of that standing, whichever this process has: its own
// when it already stands so (Wine 8 starts every program elevated, Wine 10 one
// started directly as a limited administrator), else the linked one.
int RunAs(Standing wanted, const wchar_t* program, wchar_t* desktop)
{
    ProcessToken own;
    const bool ownFits = wanted == Standing::Elevated ? own.IsElevated() : own.IsLimitedAdministrator();
    if (ownFits)
        return driver::Run(program, nullptr, desktop);
    DWORD error = 0;
    const unique_handle token = LinkedToken(error);
    if (!token)
        return driver::Print(false, "{\"error\":\"no linked token\",\"status\":%lu}", error);
    return driver::Run(program, token.get(), desktop);
}

// The token the window's process runs with: whether it is elevated, and its
// elevation type (1 default, 2 full, 3 limited); where it cannot be read, the error.
std::string TokenOf(HWND form)
{
    const unique_handle process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, driver::ProcessOf(form))};
    unique_handle token;
    TOKEN_ELEVATION elevation{};
    DWORD type = 0;
    DWORD size = 0;
    if (!process || !OpenProcessToken(process.get(), TOKEN_QUERY, token.put()) ||
        !GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) ||
        !GetTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size))
        return "{\"error\":" + std::to_string(GetLastError()) + "}";
    return "{\"elevated\":" + std::to_string(elevation.TokenIsElevated != 0) + ",\"type\":" + std::to_string(type) +
           "}";
}

// The id of the form's control that has the keyboard focus, or 0. The focus belongs
// to the form's thread, so it is asked of that thread.
int FocusedControl(HWND form)
{
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(form, nullptr), &thread);
    return thread.hwndFocus && GetParent(thread.hwndFocus) == form ? GetDlgCtrlID(thread.hwndFocus) : 0;
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
    std::wstring texts = driver::TextOf(box);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        texts += L"\n" + driver::TextOf(child);
    return driver::Quote(texts);
}

int State()
{
    const HWND form = driver::FindForm();
    if (!form)
        return driver::Print(false, "{\"error\":\"no window\"}");
    return driver::Print(true, "{%s,\"focus\":%d,\"message\":%s,\"token\":%s}", driver::StateMembers(form).c_str(),
                         FocusedControl(form), MessageBoxTexts(form).c_str(), TokenOf(form).c_str());
}

inline void ReleaseObject(IAccessible* object) noexcept { object->Release(); }
inline void FreeString(BSTR text) noexcept { SysFreeString(text); }
using unique_accessible = unique_any<IAccessible*, ReleaseObject>;
using unique_bstr = unique_any<BSTR, FreeString>;

// The order assistive technology walks a window in is its children's z-order; each
// child's client object gives the name and state a screen reader announces. The
// interface's id comes from the header: MinGW-w64's x86_64 import library for oleacc
// exports IID_IAccessible as a jump thunk, so a program linked against it would read
// the thunk's code as the GUID.
int Accessible()
{
    const HWND form = driver::FindForm();
    if (!form)
        return driver::Print(false, "{\"error\":\"no window\"}");
    CoInitialize(nullptr);
    std::string children;
    for (HWND child = GetWindow(form, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        unique_accessible object;
        unique_bstr name;
        VARIANT state{};
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        if (FAILED(AccessibleObjectFromWindow(child, OBJID_CLIENT, __uuidof(IAccessible),
                                              reinterpret_cast<void**>(object.put()))) ||
            FAILED(object.get()->get_accName(self, name.put())) || FAILED(object.get()->get_accState(self, &state)))
            return driver::Print(false, "{\"error\":\"no accessible object\",\"id\":%d}", GetDlgCtrlID(child));
        children += (children.empty() ? "" : ",") + std::string("{\"id\":") + std::to_string(GetDlgCtrlID(child)) +
                    ",\"name\":" + (name ? driver::Quote(name.get()) : "null") +
                    ",\"unavailable\":" + std::to_string((state.lVal & STATE_SYSTEM_UNAVAILABLE) != 0) + "}";
    }
    return driver::Print(true, "[%s]", children.c_str());
}

int RegGet(const wchar_t* file)
{
    unique_hkey key;
    DWORD type = 0, size = 0;
    std::string bytes;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, driver::kKeyPath, 0, KEY_QUERY_VALUE, key.put());
    if (status == ERROR_SUCCESS)
        status = RegQueryValueExA(key.get(), driver::kValueName, nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        bytes.resize(size);
        status = RegQueryValueExA(key.get(), driver::kValueName, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                                  &size);
        bytes.resize(status == ERROR_SUCCESS ? size : 0);
    }
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return driver::Print(true, "{\"status\":%ld,\"type\":%lu}", status, type);
}

std::optional<int> TestVerb(const driver::Command& command)
{
    const size_t count = command.args.size();
    if (command.verb == L"run" && count == 2 && command.args[0] == std::wstring_view(L"limited"))
        return RunAs(Standing::Limited, command.args[1], command.desktop);
    if (command.verb == L"run" && count == 2 && command.args[0] == std::wstring_view(L"elevated"))
        return RunAs(Standing::Elevated, command.args[1], command.desktop);
    if (command.verb == L"state" && count == 0)
        return State();
    if (command.verb == L"reg-deny" && count == 1)
        return driver::PrintStatus(
            driver::DenyOnKey(wcstoul(command.args[0], nullptr, 0), driver::KeyOpening::CreateIfMissing));
    if (command.verb == L"reg-get" && count == 1)
        return RegGet(command.args[0]);
    if (command.verb == L"accessible" && count == 0)
        return Accessible();
    if (command.verb == L"policy" && count == 0)
        return driver::Print(true, "{\"denies\":%d}", ProcessToken().DeniesStandardUsersElevation());
    if (command.verb == L"error-text" && count == 1) {
        const auto status = static_cast<std::int32_t>(wcstoul(command.args[0], nullptr, 0));
        return driver::Print(true, "{\"text\":%s}", driver::Quote(SystemErrorText(status)).c_str());
    }
    return std::nullopt;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    return driver::Main(argc, argv, TestVerb,
                        "usage: quorlin_test_driver run [limited | elevated] EXE | hold | state | accessible | close | kill\n"
                        "       | reg-put TYPE FILE | reg-get FILE | reg-deny MASK | reg-clear | policy\n"
                        "       | error-text CODE\n");
}
