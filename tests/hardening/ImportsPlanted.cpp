// The control experiment: a program that imports the common controls library the
// ordinary way, by name. Placed beside a planted copy, it loads it, which shows
// that the planting test can tell a safe program from an unsafe one.

#include <windows.h>

extern "C" void WINAPI InitCommonControls();

int main()
{
    InitCommonControls();
    return 0;
}
