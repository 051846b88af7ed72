// The required-work floor for the start-up benchmark: only what Quorlin's window
// must do before it is shown. It declares system DPI awareness, keeps the DLL search
// to the system directory (nothing may be loaded from the program's folder) with
// Quorlin's own code, loads the common controls from there and initialises them,
// creates the window and its seven controls with their captions and the dialog
// font, puts a ready 256 x 60 bitmap (one colour, nothing decoded) into the picture,
// selects one option and shows the window. No icons, no registry, no decoding.

#include <windows.h>

#include "window/Form1Layout.h"
#include "platform/Handle.h"
#include "window/SystemLibrary.h"

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

DWORD StyleOf(ControlKind kind)
{
    constexpr DWORD child = WS_CHILD | WS_VISIBLE;
    switch (kind) {
    case ControlKind::Label: return child | SS_LEFT | SS_NOPREFIX;
    case ControlKind::CentredLabel: return child | SS_CENTER | SS_NOPREFIX;
    case ControlKind::Option: return child | BS_RADIOBUTTON;
    case ControlKind::PushButton: return child | BS_PUSHBUTTON;
    case ControlKind::Picture: return child | SS_BITMAP | SS_REALSIZECONTROL;
    }
    return child;
}

unique_hbitmap FilledBitmap(int width, int height)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    unique_hbitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (bitmap && bits) {
        auto* pixel = static_cast<DWORD*>(bits);
        for (int at = 0; at < width * height; ++at)
            pixel[at] = 0xFF1E3C64;
    }
    return bitmap;
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

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
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
    LOGFONTW dialogFont{};
    dialogFont.lfHeight = -MulDiv(8, dpi, 72);
    dialogFont.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(dialogFont.lfFaceName, L"MS Shell Dlg", LF_FACESIZE);
    const unique_hfont fontHandle(CreateFontIndirectW(&dialogFont));
    const auto font = reinterpret_cast<WPARAM>(fontHandle.get());
    for (const ControlPlace& place : kControls) {
        const bool button = place.kind == ControlKind::Option || place.kind == ControlKind::PushButton;
        const HWND control = CreateWindowExW(
            0, button ? L"BUTTON" : L"STATIC", place.caption.data(), StyleOf(place.kind),
            Pixels(place.left, dpi), Pixels(place.top, dpi), Pixels(place.width, dpi), Pixels(place.height, dpi),
            window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(place.id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, font, FALSE);
    }
    const unique_hbitmap banner = FilledBitmap(256, 60);
    SendDlgItemMessageW(window, static_cast<int>(ControlId::Image1), STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(banner.get()));
    SendDlgItemMessageW(window, static_cast<int>(ControlId::Option1), BM_SETCHECK, BST_CHECKED, 0);
    ShowWindow(window, showCommand);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
