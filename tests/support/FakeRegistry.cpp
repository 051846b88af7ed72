#include "tests/support/FakeRegistry.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

namespace fake {
namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

LONG Log(std::string call, LONG status)
{
    Registry& registry = TheRegistry();
    (registry.log ? *registry.log : registry.calls).push_back(status == ERROR_SUCCESS ? call : call + " failed");
    return status;
}

LONG OpenKey(bool create, HKEY root, LPCSTR subKey, PHKEY result)
{
    Registry& registry = TheRegistry();
    const auto log = [&](LONG status) { return Log(create ? "RegCreateKeyA" : "RegOpenKeyA", status); };
    if (root != HKEY_LOCAL_MACHINE)
        return log(ERROR_INVALID_HANDLE);
    if (create ? registry.refuseCreate : registry.refuseOpen)
        return log(ERROR_ACCESS_DENIED);
    if (!registry.keys.count(Lower(subKey))) {
        if (!create)
            return log(ERROR_FILE_NOT_FOUND);
        registry.CreateKey(subKey);
    }
    *result = reinterpret_cast<HKEY>(registry.nextHandle++);
    registry.open[*result] = Lower(subKey);
    return log(ERROR_SUCCESS);
}

} // namespace

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

void Registry::CreateKey(const std::string& keyPath)
{
    keys[Lower(keyPath)];
}

void Registry::Put(const std::string& keyPath, const std::string& valueName, StoredValue value)
{
    CreateKey(keyPath);
    keys[Lower(keyPath)][Lower(valueName)] = std::move(value);
}

std::optional<StoredValue> Registry::Get(const std::string& keyPath, const std::string& valueName) const
{
    const auto key = keys.find(Lower(keyPath));
    if (key == keys.end() || !key->second.count(Lower(valueName)))
        return std::nullopt;
    return key->second.at(Lower(valueName));
}

} // namespace fake

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result)
{
    return fake::OpenKey(false, key, subKey, result);
}

LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result)
{
    return fake::OpenKey(true, key, subKey, result);
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD count)
{
    fake::Registry& registry = fake::TheRegistry();
    const DWORD capacity = data ? *count : 0;
    const auto log = [](LONG status) { return fake::Log("RegQueryValueExA", status); };
    const auto open = registry.open.find(key);
    if (open == registry.open.end())
        return log(ERROR_INVALID_HANDLE);
    auto& values = registry.keys[open->second];
    const auto found = values.find(fake::Lower(name));
    if (found == values.end())
        return log(ERROR_FILE_NOT_FOUND);
    const fake::StoredValue value = found->second;
    if (type)
        *type = value.type;
    const auto size = static_cast<DWORD>(value.bytes.size());
    if (!data) {
        *count = registry.reportedSize.value_or(size);
        return log(ERROR_SUCCESS);
    }
    *count = size;
    if (size > capacity)
        return log(ERROR_MORE_DATA);
    std::memcpy(data, value.bytes.data(), size);
    return log(ERROR_SUCCESS);
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD count)
{
    fake::Registry& registry = fake::TheRegistry();
    const std::string bytes(reinterpret_cast<const char*>(data), count);
    const auto log = [&](LONG status) { return fake::Log("RegSetValueExA " + bytes, status); };
    const auto open = registry.open.find(key);
    if (open == registry.open.end())
        return log(ERROR_INVALID_HANDLE);
    if (registry.setStatus != ERROR_SUCCESS)
        return log(registry.setStatus);
    registry.keys[open->second][fake::Lower(name)] = {type, bytes};
    return log(ERROR_SUCCESS);
}

LONG RegCloseKey(HKEY key)
{
    const LONG status = fake::TheRegistry().open.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    return fake::Log("RegCloseKey", status);
}

// Latin-1 plays the system's ANSI code page: characters beyond it become '?'. As on
// Windows, a size of 0 without a buffer asks for the length the conversion needs,
// and a buffer too small, or a size without a buffer, fails with 0.
int WideCharToMultiByte(UINT, DWORD, const wchar_t* text, int length, char* bytes, int size, const char*, BOOL*)
{
    if (bytes ? size < length : size != 0)
        return 0;
    for (int at = 0; bytes && at < length; ++at)
        bytes[at] = static_cast<char>(text[at] >= 0 && text[at] <= 0xFF ? text[at] : L'?');
    return length;
}

int MultiByteToWideChar(UINT, DWORD, const char* bytes, int length, wchar_t* text, int size)
{
    if (text ? size < length : size != 0)
        return 0;
    for (int at = 0; text && at < length; ++at)
        text[at] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[at]));
    return length;
}
