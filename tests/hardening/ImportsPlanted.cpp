// The control experiment: a program that imports the common controls and imaging
// libraries the ordinary way, by name. Placed beside planted copies, it loads them,
// which shows that the planting test can tell a safe program from an unsafe one.

#include <windows.h>

extern "C" void WINAPI InitCommonControls();
extern "C" HRESULT WINAPI WICConvertBitmapSource(const GUID*, void*, void**);

int main()
{
    InitCommonControls();
    WICConvertBitmapSource(nullptr, nullptr, nullptr);
    return 0;
}
