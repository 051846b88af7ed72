// Fuzz target: arbitrary bytes become the in-memory registry's contents and faults,
// a value to write and a run of user selections. The registry module and the
// selection logic run over them, and every invariant below is checked; a violation
// prints what broke and aborts.
//
// Input, read front to back; bytes past its end read as 0:
//   flags          bit0 the key exists, bit1 the value exists (and so its key),
//                  bit2 refuse open, bit3 refuse create, bit4 fail set,
//                  bit5 replace the value after its size query (bit6: by nothing),
//                  bit7 report another size
//   value          type, length, data                             (bit1)
//   replacement    type, length, data                             (bit5 without bit6)
//   reported size  4 bytes little-endian; 65536 and up become 1 GiB or more (bit7)
//   read           root (0 HKLM, 1 HKCU, 2 null, other an unknown handle),
//                  path length, path, name length, name; length 255 means the real one
//   write          kind: bits 0-1 are 0 empty, 1 integer (4 bytes little-endian
//                  follow), 2 or 3 text; for text bits 2-3 say how each character is
//                  made (0 one byte indexing "0123456789+-.eE ", 1 one byte as
//                  Latin-1, 2 two bytes, 3 four bytes), then length, data
//   selections     every remaining byte: bit0 Option2 (else Option1), bit1 fail set,
//                  bit2 refuse create, bit3 writes are virtualized

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#ifdef FUZZ_REPLAY_MAIN
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#endif

#include "tests/support/FakeRegistry.h"
#include "window/SelectionLogic.h"

// A value may claim any size: a huge claim must fail its allocation, as it does in a
// 32-bit process, instead of ending the run.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1:max_allocation_size_mb=512";
}

namespace {

using fake::Function;
using fake::StoredValue;
using Calls = std::vector<fake::Call>;

const std::string kKey = "Software\\AGEIA Technologies";
const std::string kName = "HwSelection";

void Require(bool holds, const char* invariant)
{
    if (!holds) {
        std::fprintf(stderr, "invariant violated: %s\n", invariant);
        std::abort();
    }
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : at_(data), end_(data + size) {}
    bool Empty() const { return at_ == end_; }
    std::uint8_t Byte() { return at_ == end_ ? 0 : *at_++; }
    std::string Bytes(std::size_t count)
    {
        std::string bytes;
        while (count--)
            bytes.push_back(static_cast<char>(Byte()));
        return bytes;
    }
    std::uint32_t Word()
    {
        std::uint32_t word = 0;
        for (int i = 0; i < 4; ++i)
            word |= std::uint32_t{Byte()} << 8 * i;
        return word;
    }
    StoredValue Value()
    {
        const DWORD type = Byte();
        return {type, Bytes(Byte())};
    }

private:
    const std::uint8_t* at_;
    const std::uint8_t* end_;
};

std::wstring Latin1(const std::string& bytes)
{
    std::wstring text;
    for (const unsigned char c : bytes)
        text.push_back(c);
    return text;
}

std::uint32_t LittleEndian(const std::string& bytes)
{
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i)
        bits |= std::uint32_t{static_cast<unsigned char>(bytes[i])} << 8 * i;
    return bits;
}

StoredValue Dword(std::uint32_t bits)
{
    return {REG_DWORD, {char(bits), char(bits >> 8), char(bits >> 16), char(bits >> 24)}};
}

StoredValue Sz(std::string_view text)
{
    return {REG_SZ, std::string(text.begin(), text.end()) + '\0'};
}

struct Scenario {
    bool key = false;
    std::optional<StoredValue> value;
    bool refuseOpen = false, refuseCreate = false, failSet = false;
    std::optional<std::optional<StoredValue>> replacement;
    std::optional<DWORD> reportedSize;

    explicit Scenario(Input& in)
    {
        const std::uint8_t flags = in.Byte();
        key = flags & 3;
        if (flags & 2)
            value = in.Value();
        refuseOpen = flags & 4;
        refuseCreate = flags & 8;
        failSet = flags & 16;
        if (flags & 32)
            replacement.emplace(flags & 64 ? std::nullopt : std::optional(in.Value()));
        if (flags & 128) {
            const DWORD size = in.Word();
            reportedSize = size < 0x10000 ? size : size | 0x40000000;
        }
    }

    // A fresh registry holding this scenario, with its faults armed.
    fake::Registry& Apply() const
    {
        fake::Registry& registry = fake::TheRegistry();
        registry.Reset();
        if (value)
            registry.Put(kKey, kName, *value);
        else if (key)
            registry.CreateKey(kKey);
        registry.refuseOpen = refuseOpen;
        registry.refuseCreate = refuseCreate;
        registry.failSet = failSet;
        registry.replaceAfterSizeQuery = replacement;
        registry.reportedSize = reportedSize;
        return registry;
    }
};

// After each of the routines: nothing left open, the last call a close whose status
// LastRegStatus holds.
void RequireClosed(const fake::Registry& registry)
{
    Require(registry.OpenHandles() == 0, "every handle opened is closed");
    Require(!registry.calls.empty() && registry.calls.back().function == Function::RegCloseKey,
            "the last registry call is RegCloseKey");
    Require(LastRegStatus == registry.calls.back().status, "LastRegStatus holds the status of the close");
}

// The calls from `at` start with one read: an open, at most two queries, a close.
// Returns where the calls after it start.
std::size_t OneRead(const Calls& calls, std::size_t at)
{
    Require(at < calls.size() && calls[at].function == Function::RegOpenKeyA, "a read starts with RegOpenKeyA");
    std::size_t queries = 0;
    while (++at < calls.size() && calls[at].function == Function::RegQueryValueExA)
        ++queries;
    Require(queries <= 2 && at < calls.size() && calls[at].function == Function::RegCloseKey,
            "a read makes at most two queries, then RegCloseKey");
    return at + 1;
}

// The calls from `at` are exactly one write of HwSelection: create, set, close.
const fake::Call& OneWrite(const Calls& calls, std::size_t at)
{
    Require(calls.size() == at + 3 && calls[at].function == Function::RegCreateKeyA &&
                calls[at + 1].function == Function::RegSetValueExA && calls[at + 2].function == Function::RegCloseKey,
            "a write is RegCreateKeyA, RegSetValueExA, RegCloseKey");
    Require(calls[at].key == HKEY_LOCAL_MACHINE && calls[at].name == kKey && calls[at + 1].name == kName,
            "the write goes to HwSelection under Software\\AGEIA Technologies");
    return calls[at + 1];
}

// What a value of this type reads as when its data is `bytes` and nothing interferes.
RegValue ReadsAs(DWORD type, const std::string& bytes)
{
    switch (type) {
    case REG_SZ:
        return RegValue::Text(Latin1(bytes.substr(0, bytes.find('\0'))));
    case REG_DWORD:
    case REG_BINARY:
        return RegValue::Integer(static_cast<std::int32_t>(LittleEndian(bytes)));
    case REG_MULTI_SZ:
        return RegValue{};
    default:
        return RegValue::Text({});
    }
}

RegValue ReadStored(const Scenario& scenario)
{
    fake::Registry& registry = scenario.Apply();
    const RegValue read = ReadRegValue(HardwareRootKey(), kHardwareKeyPath, kHardwareValueName);
    RequireClosed(registry);
    Require(OneRead(registry.calls, 0) == registry.calls.size(), "a read is all ReadRegValue does");

    const RegValue emptyText = RegValue::Text({});
    if (!scenario.value)
        Require(read == emptyText, "a missing value reads as empty text");
    else {
        const DWORD type = scenario.value->type;
        // Whatever interferes, the result is empty text or what one of the two values reads as.
        const bool replaced = scenario.replacement && *scenario.replacement;
        Require(read == emptyText || read == ReadsAs(type, scenario.value->bytes) ||
                    (replaced && read == ReadsAs(type, (*scenario.replacement)->bytes)),
                "a value reads as its type's form of its data, or as empty text");
        const bool fits = (type != REG_DWORD && type != REG_BINARY) || scenario.value->bytes.size() == 4;
        if (!scenario.refuseOpen && !scenario.replacement && !scenario.reportedSize && fits)
            Require(read == ReadsAs(type, scenario.value->bytes), "an undisturbed value reads as its data");
    }
    return read;
}

void ReadAnywhere(const Scenario& scenario, Input& in)
{
    const std::uint8_t root = in.Byte();
    const auto name = [&](const std::string& real) {
        const std::uint8_t length = in.Byte();
        return Latin1(length == 255 ? real : in.Bytes(length));
    };
    const std::wstring path = name(kKey);
    const std::wstring valueName = name(kName);
    fake::Registry& registry = scenario.Apply();
    const HKEY rootKey = root == 0   ? HKEY_LOCAL_MACHINE
                         : root == 1 ? HKEY_CURRENT_USER
                         : root == 2 ? nullptr
                                     : reinterpret_cast<HKEY>(std::uintptr_t{root} << 4);
    const RegValue read = ReadRegValue(rootKey, path, valueName);
    RequireClosed(registry);
    OneRead(registry.calls, 0);
    Require(!read.text() || read.text()->find(L'\0') == std::wstring::npos, "read text holds no NUL");
}

RegValue MakeValue(Input& in)
{
    const std::uint8_t kind = in.Byte();
    if ((kind & 3) == 0)
        return RegValue{};
    if ((kind & 3) == 1)
        return RegValue::Integer(static_cast<std::int32_t>(in.Word()));
    const std::string data = in.Bytes(in.Byte());
    std::wstring text;
    switch ((kind >> 2) & 3) {
    case 0:
        for (const char c : data)
            text.push_back(L"0123456789+-.eE "[c & 15]);
        break;
    case 1:
        text = Latin1(data);
        break;
    default: {
        const std::size_t width = (kind >> 2) & 1 ? 4 : 2;
        for (std::size_t at = 0; at + width <= data.size(); at += width)
            text.push_back(static_cast<wchar_t>(LittleEndian(data.substr(at, width))));
    }
    }
    return RegValue::Text(std::move(text));
}

// What WriteRegValue stored for `value`. Text counts as numeric when strtold reads
// all of it: restricted to these characters, the two agree on what a number is.
void RequireStoredAsWritten(const RegValue& value, const StoredValue& stored)
{
    if (const auto* number = value.integer())
        return Require(stored == Dword(static_cast<std::uint32_t>(*number)), "an integer is stored as its DWORD");
    if (!value.text())
        return Require(stored == Dword(0), "the empty kind is stored as DWORD 0");
    const std::wstring& text = *value.text();
    const auto first = text.find_first_not_of(L' ');
    const std::wstring trimmed =
        first == std::wstring::npos ? L"" : text.substr(first, text.find_last_not_of(L' ') - first + 1);

    std::string ansi;
    for (const wchar_t c : trimmed)
        ansi.push_back(c >= 0 && c <= 0xFF ? static_cast<char>(c) : '?');
    const bool numericCharacters =
        !trimmed.empty() && trimmed.find_first_not_of(L"0123456789+-.eE") == std::wstring::npos;
    std::optional<long double> number;
    if (numericCharacters) {
        char* end = nullptr;
        const long double parsed = std::strtold(ansi.c_str(), &end);
        if (*end == '\0')
            number = parsed;
    }
    if (stored.type == REG_DWORD) {
        Require(number && stored.bytes.size() == 4, "only numeric text is stored as a DWORD");
        const auto rounded = static_cast<std::int32_t>(LittleEndian(stored.bytes));
        Require(std::fabs(static_cast<long double>(rounded) - *number) <= 0.5L + 1e-6L,
                "numeric text is stored as its nearest integer");
        return;
    }
    Require(stored == StoredValue{REG_SZ, ansi + '\0'}, "text is stored as REG_SZ, trimmed, with one trailing NUL");
    Require(!number || std::fabs(*number) > 2147483646.0L, "numeric text within 32 bits is stored as a DWORD");
}

void Write(const Scenario& scenario, Input& in)
{
    const RegValue value = MakeValue(in);
    fake::Registry& registry = scenario.Apply();
    const auto before = registry.Get(kKey, kName);
    const std::int32_t status = WriteRegValue(HardwareRootKey(), kHardwareKeyPath, kHardwareValueName, value);
    RequireClosed(registry);
    Require(status == OneWrite(registry.calls, 0).status, "a write returns the status of its store");
    const auto after = registry.Get(kKey, kName);
    if (status != 0)
        return Require(after == before, "a failed write leaves the value unchanged");
    Require(after.has_value(), "a write that returns 0 stores the value");
    RequireStoredAsWritten(value, *after);
}

// Behaves as the window must: selecting an unselected option puts the whole group's
// state in force, then runs that option's click handler before returning.
class Group final : public OptionGroup {
public:
    void SetValue(Option option, bool selected) override
    {
        const bool raise = selected && !Shown(option) && option != Option::Option3;
        if (selected)
            shown_ = {};
        Shown(option) = selected;
        if (raise)
            (option == Option::Option1 ? Option1_Click : Option2_Click)(*this);
    }
    bool GetValue(Option option) override { return Shown(option); }
    void SetVisible(Option option, bool shown) override { visible[Index(option)] = shown; }
    void SetCaption(Option option, std::wstring_view caption) override { captions[Index(option)] = caption; }
    void RestoreSelection(Option option) override
    {
        shown_ = {};
        Shown(option) = true;
        ++restores;
    }
    void Notify(Notice notice, std::int32_t status) override { notices.push_back({notice, status}); }

    Option Selected() const
    {
        Require(shown_[0] + shown_[1] + shown_[2] == 1, "exactly one option is selected");
        return shown_[0] ? Option::Option1 : shown_[1] ? Option::Option2 : Option::Option3;
    }

    std::array<bool, 3> visible{true, true, true};
    std::array<std::wstring, 3> captions;
    std::vector<std::pair<Notice, std::int32_t>> notices;
    int restores = 0;

private:
    static std::size_t Index(Option option) { return static_cast<std::size_t>(option); }
    bool& Shown(Option option) { return shown_[Index(option)]; }
    std::array<bool, 3> shown_{};
};

// What storing this option's text puts in the registry.
StoredValue StoredOf(Option option)
{
    return Sz(option == Option::Option1 ? "GPU" : "CPU");
}

bool g_virtualized = false;

void LoadAndSelect(const Scenario& scenario, const RegValue& stored, Input& in)
{
    g_virtualized = false;
    SetVirtualizationQuery([] { return g_virtualized; });
    fake::Registry& registry = scenario.Apply();
    Group group;
    ApplyStoredSelection(group);
    RequireClosed(registry);
    const Option shown = group.Selected();
    const std::wstring text = stored.TextForm();
    Require(shown == (text == kGpuText ? Option::Option1 : text == kCpuText ? Option::Option2 : Option::Option3),
            "the load step selects the option of the stored text");
    Require(group.visible[2] == (shown == Option::Option3), "Option3 is visible exactly when it is selected");
    if (shown == Option::Option3)
        Require(group.captions[2] == (text.empty() ? kNotDetectedCaption : kCustomCaption),
                "Option3's caption says why");
    Require(group.notices.empty() && group.restores == 0, "the load step tells nothing and puts nothing back");

    const std::size_t afterRead = OneRead(registry.calls, 0);
    std::optional<bool> lastWriteStored;
    if (shown == Option::Option3)
        Require(afterRead == registry.calls.size(), "the load step writes only in the GPU and CPU states");
    else {
        const fake::Call& set = OneWrite(registry.calls, afterRead);
        Require(set.count == 4 && set.data == StoredOf(shown).bytes, "the load step stores the text it read");
        lastWriteStored = set.status == 0;
    }

    while (!in.Empty()) {
        const std::uint8_t action = in.Byte();
        const Option option = action & 1 ? Option::Option2 : Option::Option1;
        registry.failSet = action & 2;
        registry.refuseCreate = action & 4;
        g_virtualized = action & 8;
        const Option before = group.Selected();
        const auto storedBefore = registry.Get(kKey, kName);
        registry.calls.clear();
        group.notices.clear();

        group.SetValue(option, true);
        const Option after = group.Selected();
        if (option == before) {
            Require(registry.calls.empty() && group.notices.empty(), "selecting the selected option does nothing");
            continue;
        }
        RequireClosed(registry);
        const fake::Call& set = OneWrite(registry.calls, 0);
        Require(set.count == 4 && set.data == StoredOf(option).bytes, "a selection stores only GPU or CPU");
        lastWriteStored = set.status == 0;
        if (set.status == 0) {
            Require(after == option, "a stored selection stays selected");
            Require(registry.Get(kKey, kName) == StoredOf(option), "a stored selection is REG_SZ GPU or CPU");
            Require(group.notices.size() == (g_virtualized ? 1u : 0u) &&
                        (!g_virtualized || group.notices[0].first == Notice::SavedForThisAccountOnly),
                    "a stored selection tells only of virtualization");
        } else {
            Require(after == before, "a failed selection puts back what was selected");
            Require(group.notices.size() == 1 && group.notices[0] == std::pair(Notice::NotSaved, set.status),
                    "a failed selection yields exactly one NotSaved with the store's status");
            Require(registry.Get(kKey, kName) == storedBefore, "a failed selection leaves the value");
        }
    }
    if (lastWriteStored.value_or(false))
        Require(registry.Get(kKey, kName) == StoredOf(group.Selected()), "the stored value matches the selection");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const Scenario scenario(in);
    const RegValue stored = ReadStored(scenario);
    ReadAnywhere(scenario, in);
    Write(scenario, in);
    LoadAndSelect(scenario, stored, in);
    return 0;
}

#ifdef FUZZ_REPLAY_MAIN
// Runs every file named, or found in a directory named, through the fuzz target.
int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        if (!std::filesystem::is_directory(argv[i]))
            files.emplace_back(argv[i]);
        else
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        std::ifstream stream(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
        std::printf("%s\n", file.filename().c_str());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%zu inputs, no invariant violated\n", files.size());
    return files.empty() ? 1 : 0;
}
#endif
