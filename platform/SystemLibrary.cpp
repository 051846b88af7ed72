#include "platform/SystemLibrary.h"

#include <cwchar>

namespace {

// The LOAD_LIBRARY_SEARCH_* flags came with the update that brought AddDllDirectory
// and SetDefaultDllDirectories (KB2533623). Vista and 7 without it refuse the flags
// with ERROR_INVALID_PARAMETER.
bool HasSearchFlags() noexcept
{
    return LoadedFunction<FARPROC>(L"kernel32.dll", "AddDllDirectory") != nullptr;
}

} // namespace

void RestrictDllSearchToSystem() noexcept
{
    // Where the flags are missing, SetDllDirectory("") at least takes the current
    // directory out of the search.
    SetDllDirectoryW(L"");
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    if (const auto setDefault = LoadedFunction<SetDefaultDllDirectoriesFn>(L"kernel32.dll", "SetDefaultDllDirectories"))
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const wchar_t* name) noexcept
{
    if (HasSearchFlags())
        return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without the flags: by its full path in the system directory, and the libraries
    // it imports looked for beside it first.
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + std::wcslen(name) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    path[length] = L'\\';
    std::wcscpy(path + length + 1, name);
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
