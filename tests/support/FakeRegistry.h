#pragma once
// An in-memory registry behind the five ANSI registry functions, for the host
// build. It behaves as the module expects of Windows, records every call in
// order, and can be told to fail in the ways the real registry does.

#include <cstdint>
#include <functional>
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

enum class Function { RegOpenKeyA, RegCreateKeyA, RegQueryValueExA, RegSetValueExA, RegCloseKey };

struct Call {
    Function function;
    HKEY key;             // the handle passed in
    std::string name;     // key path or value name
    bool withBuffer;      // a query with a data buffer
    DWORD count;          // capacity passed to a query, byte count passed to a set
    std::string data;     // bytes passed to a set
    LONG status;
};

class Registry {
public:
    void Reset();

    // Puts a value in place, creating its key (paths below HKEY_LOCAL_MACHINE).
    void Put(const std::string& keyPath, const std::string& valueName, StoredValue value);
    void CreateKey(const std::string& keyPath);
    std::optional<StoredValue> Get(const std::string& keyPath, const std::string& valueName) const;
    bool HasKey(const std::string& keyPath) const;

    // Faults to inject.
    bool refuseOpen = false;
    bool refuseCreate = false;
    bool failSet = false;
    // Replaces (or with no value, removes) the value right after the next query
    // that asks for its size, as another program writing at that moment would.
    std::optional<std::optional<StoredValue>> replaceAfterSizeQuery;
    // Makes the size query report this byte count instead of the true one.
    std::optional<DWORD> reportedSize;

    std::vector<Call> calls;
    std::function<void(const Call&)> onCall;
    std::size_t OpenHandles() const { return handles_.size(); }

    // The five functions' behaviour.
    LONG Open(HKEY root, const char* subKey, HKEY* result, bool create);
    LONG Query(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* count);
    LONG Set(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD count);
    LONG Close(HKEY key);

    LONG Log(Call call);

private:
    struct Key {
        std::map<std::string, StoredValue> values;
    };
    std::optional<std::string> PathOf(HKEY key) const;
    std::map<std::string, Key> keys_;       // by full path, lower case, e.g. "hklm\software\x"
    std::map<HKEY, std::string> handles_;   // open handles and the path each stands for
    std::uintptr_t nextHandle_ = 0x1000;
};

// The registry the five functions act on.
Registry& TheRegistry();

const char* NameOf(Function function);

} // namespace fake
