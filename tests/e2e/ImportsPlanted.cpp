// The control experiment: a program that imports the common controls library the
// ordinary way, by name, and creates a window, for which Wine loads the theming
// library by name. Placed beside planted copies, it loads them, which shows that the
// planting test can tell a safe program from an unsafe one.

#include <windows.h>

extern "C" void WINAPI InitCommonControls();

int main()
{
    InitCommonControls();
    DestroyWindow(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
    return 0;
}
