#include "window/Form1.h"

#include <string>

#include "platform/Banner.h"
#include "platform/ErrorText.h"
#include "platform/SystemLibrary.h"
#include "resources/resource.h"

namespace {

constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW;

constexpr std::wstring_view kNotSavedText = L"Your choice was not saved: {error}";
constexpr std::wstring_view kNeedsAdministratorText =
    L"Your choice was not saved: {error}\n\n"
    L"The setting is kept for all users of this computer, so changing it needs an administrator. "
    L"Run Quorlin as an administrator and choose again.";
constexpr std::wstring_view kAdministratorMustChangeText =
    L"Your choice was not saved: {error}\n\n"
    L"The setting is kept for all users of this computer, so changing it needs an administrator. "
    L"This computer's policy turns down requests for an administrator's rights, so an administrator "
    L"of this computer must make the change.";
constexpr std::wstring_view kRestartText =
    L"Your choice was not saved: {error}\n\n"
    L"The setting is kept for all users of this computer, so changing it needs an administrator.\n\n"
    L"Restart Quorlin as an administrator? You can then choose again.";
constexpr std::wstring_view kRefusedByPermissionsText =
    L"Your choice was not saved: {error}\n\n"
    L"The setting's permissions do not allow this change, even to an administrator.";
constexpr std::wstring_view kNotRestartedText = L"Quorlin could not be restarted as an administrator: {error}";
constexpr std::wstring_view kThisAccountOnlyText =
    L"Your choice was saved for this account only. Windows kept it in this account's own copy "
    L"of the setting, which the PhysX runtime does not read.\n\n"
    L"Run Quorlin as an administrator and choose again to change it for the runtime.";

// The resolution the window is laid out at: the system's, as the process is system
// aware. Windows 7 at its default, XP-style scaling tells it to any program.
int SystemDpi()
{
    static const int dpi = [] {
        const HDC screen = GetDC(nullptr);
        const int value = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
        if (screen)
            ReleaseDC(nullptr, screen);
        return value;
    }();
    return dpi;
}

int Pixels(int twips)
{
    return MulDiv(twips, SystemDpi(), 1440);
}

// The platform's default dialog face and size, made for the system's resolution. The
// stock DEFAULT_GUI_FONT may keep a size fixed at another resolution.
unique_hfont DialogFont()
{
    constexpr int kPoints = 8;
    LOGFONTW font{};
    font.lfHeight = -MulDiv(kPoints, SystemDpi(), 72);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(font.lfFaceName, L"MS Shell Dlg", LF_FACESIZE);
    return unique_hfont(CreateFontIndirectW(&font));
}

std::wstring_view TextOf(Notice notice)
{
    switch (notice) {
    case Notice::NotSaved: return kNotSavedText;
    case Notice::NeedsAdministrator: return kNeedsAdministratorText;
    case Notice::AdministratorMustChange: return kAdministratorMustChangeText;
    case Notice::RefusedByPermissions: return kRefusedByPermissionsText;
    case Notice::SavedForThisAccountOnly: return kThisAccountOnlyText;
    case Notice::NotRestarted: return kNotRestartedText;
    }
    return kNotSavedText;
}

DWORD StyleOf(const ControlPlace& place)
{
    constexpr DWORD child = WS_CHILD | WS_VISIBLE;
    switch (place.kind) {
    case ControlKind::Label:
        return child | SS_LEFT | SS_NOPREFIX;
    case ControlKind::CentredLabel:
        return child | SS_CENTER | SS_NOPREFIX;
    case ControlKind::Option:
        // Not BS_AUTORADIOBUTTON: the window puts the group's state in force itself,
        // because the automatic handling leaves a disabled member checked. Option3
        // is the status option, which the user can neither select nor focus.
        return child | BS_RADIOBUTTON | (place.id == ControlId::Option3 ? WS_DISABLED : 0);
    case ControlKind::PushButton:
        return child | BS_PUSHBUTTON;
    case ControlKind::Picture:
        return child | SS_BITMAP | SS_REALSIZECONTROL;
    }
    return child;
}

const wchar_t* ClassOf(ControlKind kind)
{
    return kind == ControlKind::Option || kind == ControlKind::PushButton ? L"BUTTON" : L"STATIC";
}

constexpr std::array kOptions{Option::Option1, Option::Option2, Option::Option3};

ControlId IdOf(Option option)
{
    switch (option) {
    case Option::Option1: return ControlId::Option1;
    case Option::Option2: return ControlId::Option2;
    case Option::Option3: return ControlId::Option3;
    }
    return ControlId::Option3;
}

bool IsUsable(HWND control)
{
    return control && IsWindowVisible(control) && IsWindowEnabled(control);
}

void InitCommonControlsOf(HMODULE commonControls)
{
    using InitCommonControlsFn = void(WINAPI*)();
    if (const auto init = FunctionOf<InitCommonControlsFn>(commonControls, "InitCommonControls"))
        init();
}

} // namespace

bool Form1::Create(HINSTANCE instance, int showCommand)
{
    // At the system's icon sizes, which grow with its resolution.
    const auto icon = [instance](int width, int height) {
        return unique_hicon(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUORLIN), IMAGE_ICON,
                                                          GetSystemMetrics(width), GetSystemMetrics(height), 0)));
    };
    bigIcon_ = icon(SM_CXICON, SM_CYICON);
    smallIcon_ = icon(SM_CXSMICON, SM_CYSMICON);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    // The window takes its icons from its class, for its caption and the taskbar
    // alike, so it needs no WM_SETICON of its own.
    windowClass.hIcon = bigIcon_.get();
    windowClass.hIconSm = smallIcon_.get();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kFormClassName;
    if (!RegisterClassExW(&windowClass))
        return false;

    RECT frame{0, 0, Pixels(kClientWidthTwips), Pixels(kClientHeightTwips)};
    AdjustWindowRectEx(&frame, kFormStyle, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    if (!CreateWindowExW(0, kFormClassName, std::wstring(kFormCaption).c_str(), kFormStyle, left, top, width, height,
                         nullptr, nullptr, instance, this))
        return false;

    Form_Load();
    ShowWindow(window_, showCommand);
    return true;
}

LRESULT CALLBACK Form1::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    Form1* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<Form1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Form1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = self->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        self->controls_ = {};
    }
    return result;
}

LRESULT Form1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    switch (message) {
    case WM_CREATE:
        OnCreate();
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_ACTIVATE:
        OnActivate(LOWORD(wParam) != WA_INACTIVE);
        break; // DefWindowProc still activates the window
    case WM_SETFOCUS:
        OnSetFocus();
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void Form1::OnCreate()
{
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    font_ = DialogFont();
    const auto font = reinterpret_cast<WPARAM>(font_.get());
    for (const ControlPlace& place : kControls) {
        const HWND control = CreateWindowExW(
            0, ClassOf(place.kind), std::wstring(place.caption).c_str(), StyleOf(place), Pixels(place.left),
            Pixels(place.top), Pixels(place.width), Pixels(place.height), window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(place.id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, font, FALSE);
        controls_[IndexOf(place.id)] = control;
    }
    LoadPictures(instance);
}

void Form1::LoadPictures(HINSTANCE instance)
{
    const HWND image = Control(ControlId::Image1);
    RECT size{};
    GetClientRect(image, &size);
    banner_ = LoadBanner(instance, size.right, size.bottom);
    SendMessageW(image, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner_.get()));
}

void Form1::Form_Load()
{
    InitCommonControlsOf(commonControls_);
    selection_.ApplyStoredSelection(*this);
}

void Form1::OnCommand(int id, int code)
{
    if (code != BN_CLICKED)
        return;
    switch (static_cast<ControlId>(id)) {
    case ControlId::Option1:
        OnOptionClicked(Option::Option1);
        break;
    case ControlId::Option2:
        OnOptionClicked(Option::Option2);
        break;
    case ControlId::Command1:
        Command1_Click();
        break;
    default:
        break;
    }
}

void Form1::OnOptionClicked(Option option)
{
    // A second click on the selected option changes nothing and stores nothing.
    if (!movingFocus_ && !GetValue(option))
        SetValue(option, true);
}

void Form1::Command1_Click()
{
    OnClose();
}

void Form1::OnClose()
{
    // Nothing is left to save, since each choice is stored as it is made. Once the
    // window is destroyed, its WM_DESTROY ends the message loop and so the process.
    DestroyWindow(window_);
}

void Form1::OnActivate(bool active)
{
    if (!active) {
        const HWND focus = GetFocus();
        if (focus && IsChild(window_, focus))
            lastFocus_ = focus;
    }
}

void Form1::OnSetFocus()
{
    FocusControl(IsUsable(lastFocus_) ? lastFocus_ : InitialFocus());
}

void Form1::OnDestroy()
{
    PostQuitMessage(0);
}

HWND Form1::InitialFocus() const
{
    // The selected option, when it is one the user can have; Close otherwise. The
    // focus never selects anything: the window opens as the load step left it.
    for (const Option option : {Option::Option1, Option::Option2}) {
        const HWND button = OptionButton(option);
        if (IsUsable(button) && SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED)
            return button;
    }
    return Control(ControlId::Command1);
}

void Form1::FocusControl(HWND control)
{
    movingFocus_ = true;
    SetFocus(control);
    movingFocus_ = false;
    lastFocus_ = control;
}

bool Form1::PreTranslateMessage(const MSG& message)
{
    if (message.message != WM_KEYDOWN || !window_ || !IsChild(window_, message.hwnd))
        return false;
    switch (message.wParam) {
    case VK_TAB:
        MoveFocus(GetKeyState(VK_SHIFT) < 0);
        return true;
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
        return MoveSelection(message.hwnd, message.wParam == VK_LEFT || message.wParam == VK_UP);
    case VK_RETURN:
        // Close is neither the default nor the cancel button: Enter presses it only
        // when it has the focus, and Esc never does.
        if (message.hwnd == Control(ControlId::Command1))
            Command1_Click();
        return true;
    case VK_ESCAPE:
        return true;
    default:
        return false;
    }
}

void Form1::MoveFocus(bool backwards)
{
    std::array<HWND, kTabOrder.size()> stops{};
    std::size_t count = 0;
    for (const ControlId id : kTabOrder) {
        if (IsUsable(Control(id)))
            stops[count++] = Control(id);
    }
    if (count == 0)
        return;
    std::size_t at = 0;
    while (at < count && stops[at] != GetFocus())
        ++at;
    const std::size_t next = at == count ? 0 : (at + (backwards ? count - 1 : 1)) % count;
    FocusControl(stops[next]);
}

bool Form1::MoveSelection(HWND from, bool backwards)
{
    // The arrow keys move the selection among the options the user can select,
    // round the group, and so raise the click as a mouse click would.
    std::array<Option, kOptions.size()> usable{};
    std::size_t count = 0;
    std::size_t at = kOptions.size();
    for (const Option option : kOptions) {
        if (!IsUsable(OptionButton(option)))
            continue;
        if (OptionButton(option) == from)
            at = count;
        usable[count++] = option;
    }
    if (at == kOptions.size())
        return false;
    const Option next = usable[(at + (backwards ? count - 1 : 1)) % count];
    FocusControl(OptionButton(next));
    OnOptionClicked(next);
    return true;
}

HWND Form1::OptionButton(Option option) const
{
    return Control(IdOf(option));
}

void Form1::ShowSelection(Option option)
{
    for (const Option each : kOptions)
        SendMessageW(OptionButton(each), BM_SETCHECK, each == option ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Form1::SetValue(Option option, bool selected)
{
    if (!selected) {
        SendMessageW(OptionButton(option), BM_SETCHECK, BST_UNCHECKED, 0);
        return;
    }
    const bool wasSelected = GetValue(option);
    ShowSelection(option);
    if (wasSelected)
        return;
    // The click is raised only once the group's new state is in force.
    if (option == Option::Option1)
        selection_.Option1_Click(*this, *this);
    else if (option == Option::Option2)
        selection_.Option2_Click(*this, *this);
}

bool Form1::GetValue(Option option)
{
    return SendMessageW(OptionButton(option), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Form1::SetVisible(Option option, bool shown)
{
    ShowWindow(OptionButton(option), shown ? SW_SHOWNA : SW_HIDE);
}

void Form1::SetCaption(Option option, std::wstring_view caption)
{
    SetWindowTextW(OptionButton(option), std::wstring(caption).c_str());
}

void Form1::RestoreSelection(Option option)
{
    ShowSelection(option);
}

void Form1::Notify(Notice notice, std::int32_t status)
{
    Tell(TextOf(notice), status, MB_OK | MB_ICONWARNING);
}

bool Form1::OfferRestartAsAdministrator(std::int32_t status)
{
    return Tell(kRestartText, status, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON1) == IDYES;
}

void Form1::Close()
{
    // Posted: the request comes from inside a click handler, which still runs.
    PostMessageW(window_, WM_CLOSE, 0, 0);
}

int Form1::Tell(std::wstring_view text, std::int32_t status, UINT type)
{
    std::wstring message(text);
    constexpr std::wstring_view placeholder = L"{error}";
    if (const auto at = message.find(placeholder); at != std::wstring::npos)
        message.replace(at, placeholder.size(), SystemErrorText(status));
    return MessageBoxW(window_, message.c_str(), std::wstring(kFormCaption).c_str(), type);
}
