#pragma once
// Loading DLLs from the system directory only. The program is often run as an
// administrator from a download folder, where a planted DLL must not be picked up.

#include <windows.h>

// Limits the process's DLL search to the system directory; call first thing.
void RestrictDllSearchToSystem() noexcept;

// Loads a library from the system directory, never from the program's folder.
HMODULE LoadSystemLibrary(const wchar_t* name) noexcept;

// A function looked up at run time, so that a system without it still starts the
// program; null where the module (none: null) or the function is missing.
template <typename Function>
Function FunctionOf(HMODULE module, const char* name) noexcept
{
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// The same, in a library the process has already loaded.
template <typename Function>
Function LoadedFunction(const wchar_t* library, const char* name) noexcept
{
    return FunctionOf<Function>(GetModuleHandleW(library), name);
}
