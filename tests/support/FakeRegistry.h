#pragma once
// An in-memory registry behind the five ANSI registry functions, with Latin-1 behind
// the conversions to and from the ANSI code page, for the host build. It behaves as
// the module expects of Windows, logs every call, and can be told to fail in the
// ways the real registry does.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "registry/RegistryApi.h"

namespace fake {

struct StoredValue {
    DWORD type = REG_NONE;
    std::string bytes;
    friend bool operator==(const StoredValue&, const StoredValue&) = default;
};

// Keys below HKEY_LOCAL_MACHINE, named by their path. Names compare without
// regard to case, as on Windows.
struct Registry {
    void Reset() { *this = Registry{}; }
    void CreateKey(const std::string& keyPath);
    void Put(const std::string& keyPath, const std::string& valueName, StoredValue value);
    std::optional<StoredValue> Get(const std::string& keyPath, const std::string& valueName) const;

    // Faults to inject.
    bool refuseOpen = false;
    bool refuseCreate = false;
    LONG setStatus = ERROR_SUCCESS; // what RegSetValueExA fails with instead of storing
    std::optional<DWORD> reportedSize; // what the size query reports instead of the true count

    // Every call, in order, in words: the function's name, for RegSetValueExA the
    // bytes it was given, and " failed" when it returned an error. They go to log
    // instead when it is set, among a test's own entries.
    std::vector<std::string> calls;
    std::vector<std::string>* log = nullptr;
    std::map<HKEY, std::string> open; // open handles, and the key each stands for

    std::map<std::string, std::map<std::string, StoredValue>> keys; // lower-case paths and names
    std::uintptr_t nextHandle = 0x1000;
};

// The registry the five functions act on.
Registry& TheRegistry();

} // namespace fake
