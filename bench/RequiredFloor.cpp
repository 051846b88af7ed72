// The required-work floor for the start-up benchmark: only what Quorlin's window
// must do before it is shown, each in the plainest way. It declares system DPI
// awareness, keeps the DLL search to the system directory (nothing may be loaded
// from the program's folder) with Quorlin's own code, loads the common controls
// from there and initialises them, loads the program's icon at the system's two
// icon sizes for its window class, creates the window, reads the stored choice with
// the registry calls Quorlin makes and, for "GPU" or "CPU", writes it again, creates
// the seven controls with their captions and the dialog font (the status option
// disabled, and hidden when a choice is stored), decodes and scales the banner built
// into it with Quorlin's own decoder and scaler, selects the matching option and
// shows the window.

#include <windows.h>

#include <cstring>

#include "platform/Banner.h"
#include "platform/Handle.h"
#include "platform/SystemLibrary.h"
#include "resources/resource.h"
#include "window/Form1Layout.h"
#include "window/HardwareSetting.h"

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int Pixels(int twips, int dpi)
{
    return MulDiv(twips, dpi, 1440);
}

// As Quorlin's window has them once its stored choice is applied: Option3, the status
// option, is always disabled, and shows only while neither other option is selected.
DWORD StyleOf(const ControlPlace& place, ControlId shown)
{
    if (place.id == ControlId::Option3)
        return WS_CHILD | BS_RADIOBUTTON | WS_DISABLED | (shown == ControlId::Option3 ? WS_VISIBLE : 0);
    constexpr DWORD child = WS_CHILD | WS_VISIBLE;
    switch (place.kind) {
    case ControlKind::Label: return child | SS_LEFT | SS_NOPREFIX;
    case ControlKind::CentredLabel: return child | SS_CENTER | SS_NOPREFIX;
    case ControlKind::Option: return child | BS_RADIOBUTTON;
    case ControlKind::PushButton: return child | BS_PUSHBUTTON;
    case ControlKind::Picture: return child | SS_BITMAP | SS_REALSIZECONTROL;
    }
    return child;
}

unique_hicon Icon(HINSTANCE instance, int width, int height)
{
    return unique_hicon(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUORLIN), IMAGE_ICON,
                                                      GetSystemMetrics(width), GetSystemMetrics(height), 0)));
}

// The option that shows the stored choice: the size query, the data query and the
// close of a read, then for "GPU" or "CPU" the create, store and close of a write.
ControlId ReadAndRewriteChoice()
{
    constexpr const char* kKeyPath = kAnsi<kHardwareKeyPath>.data();
    constexpr const char* kValueName = kAnsi<kHardwareValueName>.data();
    HKEY key = nullptr;
    RegOpenKeyA(HKEY_LOCAL_MACHINE, kKeyPath, &key);
    DWORD type = 0;
    DWORD size = 0;
    char text[4] = {};
    RegQueryValueExA(key, kValueName, nullptr, &type, nullptr, &size);
    const bool read = type == REG_SZ && size == sizeof text &&
                      RegQueryValueExA(key, kValueName, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) ==
                          ERROR_SUCCESS;
    RegCloseKey(key);
    // Four bytes each: the text and its NUL.
    const ControlId shown = !read                                       ? ControlId::Option3
                            : std::memcmp(text, "GPU", sizeof text) == 0 ? ControlId::Option1
                            : std::memcmp(text, "CPU", sizeof text) == 0 ? ControlId::Option2
                                                                         : ControlId::Option3;
    if (shown != ControlId::Option3) {
        key = nullptr;
        RegCreateKeyA(HKEY_LOCAL_MACHINE, kKeyPath, &key);
        RegSetValueExA(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
        RegCloseKey(key);
    }
    return shown;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    using SetContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    if (const auto setContext = LoadedFunction<SetContextFn>(L"user32.dll", "SetProcessDpiAwarenessContext"))
        setContext(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE);
    RestrictDllSearchToSystem();
    using InitCommonControlsFn = void(WINAPI*)();
    if (const auto init = FunctionOf<InitCommonControlsFn>(LoadSystemLibrary(L"comctl32.dll"), "InitCommonControls"))
        init();

    const unique_hicon bigIcon = Icon(instance, SM_CXICON, SM_CYICON);
    const unique_hicon smallIcon = Icon(instance, SM_CXSMICON, SM_CYSMICON);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = bigIcon.get();
    windowClass.hIconSm = smallIcon.get();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"QuorlinRequiredFloor";
    if (!RegisterClassExW(&windowClass))
        return 1;

    const HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    RECT frame{0, 0, Pixels(kClientWidthTwips, dpi), Pixels(kClientHeightTwips, dpi)};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    // The captions are string literals: their views end in a NUL.
    const HWND window = CreateWindowExW(0, windowClass.lpszClassName, kFormCaption.data(),
                                        WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                        frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    const ControlId shown = ReadAndRewriteChoice();
    LOGFONTW dialogFont{};
    dialogFont.lfHeight = -MulDiv(8, dpi, 72);
    dialogFont.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(dialogFont.lfFaceName, L"MS Shell Dlg", LF_FACESIZE);
    const unique_hfont fontHandle(CreateFontIndirectW(&dialogFont));
    const auto font = reinterpret_cast<WPARAM>(fontHandle.get());
    HWND controls[kControls.size()] = {};
    for (const ControlPlace& place : kControls) {
        const bool button = place.kind == ControlKind::Option || place.kind == ControlKind::PushButton;
        const HWND control = controls[IndexOf(place.id)] = CreateWindowExW(
            0, button ? L"BUTTON" : L"STATIC", place.caption.data(), StyleOf(place, shown),
            Pixels(place.left, dpi), Pixels(place.top, dpi), Pixels(place.width, dpi), Pixels(place.height, dpi),
            window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(place.id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, font, FALSE);
    }
    const HWND image = controls[IndexOf(ControlId::Image1)];
    RECT picture{};
    GetClientRect(image, &picture);
    const unique_hbitmap banner = LoadBanner(instance, picture.right, picture.bottom);
    SendMessageW(image, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner.get()));
    SendMessageW(controls[IndexOf(shown)], BM_SETCHECK, BST_CHECKED, 0);
    ShowWindow(window, showCommand);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
