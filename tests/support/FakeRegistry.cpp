#include "tests/support/FakeRegistry.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace fake {
namespace {

// Key and value names compare without regard to case, as Windows does.
std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string Join(const std::string& parent, const char* subKey)
{
    std::string path = parent;
    if (subKey && *subKey)
        path += '\\' + Lower(subKey);
    return path;
}

std::string FullPath(const std::string& keyPath)
{
    return Join("hklm", keyPath.c_str());
}

} // namespace

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

const char* NameOf(Function function)
{
    switch (function) {
    case Function::RegOpenKeyA: return "RegOpenKeyA";
    case Function::RegCreateKeyA: return "RegCreateKeyA";
    case Function::RegQueryValueExA: return "RegQueryValueExA";
    case Function::RegSetValueExA: return "RegSetValueExA";
    case Function::RegCloseKey: return "RegCloseKey";
    }
    return "?";
}

void Registry::Reset()
{
    *this = Registry{};
}

void Registry::CreateKey(const std::string& keyPath)
{
    // Every key on the path exists, as after RegCreateKey.
    const std::string full = FullPath(keyPath);
    for (std::size_t at = full.find('\\'); at != std::string::npos; at = full.find('\\', at + 1))
        keys_[full.substr(0, at)];
    keys_[full];
}

void Registry::Put(const std::string& keyPath, const std::string& valueName, StoredValue value)
{
    CreateKey(keyPath);
    keys_[FullPath(keyPath)].values[Lower(valueName)] = std::move(value);
}

std::optional<StoredValue> Registry::Get(const std::string& keyPath, const std::string& valueName) const
{
    const auto key = keys_.find(FullPath(keyPath));
    if (key == keys_.end())
        return std::nullopt;
    const auto value = key->second.values.find(Lower(valueName));
    if (value == key->second.values.end())
        return std::nullopt;
    return value->second;
}

bool Registry::HasKey(const std::string& keyPath) const
{
    return keys_.count(FullPath(keyPath)) != 0;
}

std::optional<std::string> Registry::PathOf(HKEY key) const
{
    if (key == HKEY_LOCAL_MACHINE)
        return std::string("hklm");
    if (key == HKEY_CURRENT_USER)
        return std::string("hkcu");
    const auto open = handles_.find(key);
    if (open == handles_.end())
        return std::nullopt;
    return open->second;
}

LONG Registry::Log(Call call)
{
    calls.push_back(call);
    if (onCall)
        onCall(calls.back());
    return call.status;
}

LONG Registry::Open(HKEY root, const char* subKey, HKEY* result, bool create)
{
    const Function function = create ? Function::RegCreateKeyA : Function::RegOpenKeyA;
    const auto log = [&](LONG status) { return Log({function, root, subKey ? subKey : "", false, 0, {}, status}); };
    const auto parent = PathOf(root);
    if (!parent)
        return log(ERROR_INVALID_HANDLE);
    if (create ? refuseCreate : refuseOpen)
        return log(ERROR_ACCESS_DENIED);
    const std::string path = Join(*parent, subKey);
    if (!keys_.count(path)) {
        if (!create)
            return log(ERROR_FILE_NOT_FOUND);
        for (std::size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
            keys_[path.substr(0, at)];
        keys_[path];
    }
    const HKEY handle = reinterpret_cast<HKEY>(nextHandle_++);
    handles_[handle] = path;
    *result = handle;
    return log(ERROR_SUCCESS);
}

LONG Registry::Query(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* count)
{
    const DWORD capacity = count ? *count : 0;
    const auto log = [&](LONG status) {
        return Log({Function::RegQueryValueExA, key, name ? name : "", data != nullptr, data ? capacity : 0, {}, status});
    };
    const auto path = PathOf(key);
    if (!path || !keys_.count(*path))
        return log(ERROR_INVALID_HANDLE);
    auto& values = keys_[*path].values;
    const std::string valueName = Lower(name ? name : "");
    const auto found = values.find(valueName);
    if (found == values.end())
        return log(ERROR_FILE_NOT_FOUND);
    const StoredValue value = found->second;
    if (type)
        *type = value.type;
    const auto size = static_cast<DWORD>(value.bytes.size());
    if (!data) {
        if (count)
            *count = reportedSize.value_or(size);
        if (replaceAfterSizeQuery) {
            if (*replaceAfterSizeQuery)
                values[valueName] = **replaceAfterSizeQuery;
            else
                values.erase(valueName);
            replaceAfterSizeQuery.reset();
        }
        return log(ERROR_SUCCESS);
    }
    *count = size;
    if (size > capacity)
        return log(ERROR_MORE_DATA);
    std::memcpy(data, value.bytes.data(), size);
    return log(ERROR_SUCCESS);
}

LONG Registry::Set(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD count)
{
    const std::string bytes(reinterpret_cast<const char*>(data), count);
    const auto log = [&](LONG status) {
        return Log({Function::RegSetValueExA, key, name ? name : "", true, count, bytes, status});
    };
    const auto path = PathOf(key);
    if (!path || !keys_.count(*path))
        return log(ERROR_INVALID_HANDLE);
    if (failSet)
        return log(ERROR_ACCESS_DENIED);
    keys_[*path].values[Lower(name ? name : "")] = {type, bytes};
    return log(ERROR_SUCCESS);
}

LONG Registry::Close(HKEY key)
{
    const auto log = [&](LONG status) { return Log({Function::RegCloseKey, key, {}, false, 0, {}, status}); };
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER)
        return log(ERROR_SUCCESS);
    if (!handles_.erase(key))
        return log(ERROR_INVALID_HANDLE);
    return log(ERROR_SUCCESS);
}

} // namespace fake

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result)
{
    return fake::TheRegistry().Open(key, subKey, result, false);
}

LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result)
{
    return fake::TheRegistry().Open(key, subKey, result, true);
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    return fake::TheRegistry().Query(key, valueName, type, data, dataSize);
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize)
{
    return fake::TheRegistry().Set(key, valueName, type, data, dataSize);
}

LONG RegCloseKey(HKEY key)
{
    return fake::TheRegistry().Close(key);
}
