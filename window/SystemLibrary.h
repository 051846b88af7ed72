#pragma once
// Loading DLLs from the system directory only. The program is often run as an
// administrator from a download folder, where a planted DLL must not be picked up.

#include <windows.h>

// Limits the process's DLL search to the system directory; call first thing.
void RestrictDllSearchToSystem() noexcept;

// Loads a library from the system directory, never from the program's folder.
HMODULE LoadSystemLibrary(const wchar_t* name) noexcept;
