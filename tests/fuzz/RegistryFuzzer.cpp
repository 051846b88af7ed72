// Fuzz target: arbitrary bytes become the in-memory registry's contents and faults,
// and a text to write; the registry module reads and writes through them, and the
// invariants that no table of cases can enumerate are checked. A violation prints
// what broke and aborts.
//
// Input, read front to back; bytes past its end read as 0:
//   flags        bit0 the key exists, bit1 the value exists, bit2 refuse open,
//                bit3 refuse create, bit4 stores fail, bit5 replace the value after its
//                size query (bit6: by nothing), bit7 report another size
//   value        type, length, data                                    (bit1)
//   replacement  type, length, data                                    (bit5, not bit6)
//   size         4 bytes little-endian; 65536 and up become 1 GiB or more (bit7)
//   text         length, then one character a byte: the low four bits index
//                "0123456789+-.eE " when bit7 is clear, else the byte is Latin-1

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/FakeRegistry.h"
#include "window/SelectionLogic.h"

// A value may claim any size: a huge claim must fail its allocation, as it does in a
// 32-bit process, instead of ending the run.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1:max_allocation_size_mb=512";
}

namespace {

void Require(bool holds, const char* invariant)
{
    if (!holds) {
        std::fprintf(stderr, "invariant violated: %s\n", invariant);
        std::abort();
    }
}

struct Input {
    const std::uint8_t* at;
    const std::uint8_t* end;
    bool Empty() const { return at == end; }
    std::uint8_t Byte() { return at == end ? 0 : *at++; }
    std::string Bytes(std::size_t count)
    {
        std::string bytes;
        while (count--)
            bytes.push_back(static_cast<char>(Byte()));
        return bytes;
    }
    fake::StoredValue Value()
    {
        const DWORD type = Byte();
        return {type, Bytes(Byte())};
    }
};

const std::string kKey(kHardwareKeyPath.begin(), kHardwareKeyPath.end());
const std::string kName(kHardwareValueName.begin(), kHardwareValueName.end());

// Whatever is stored and whatever goes wrong, the routine closed what it opened and
// left the status of that close behind.
void RequireClosed(const fake::Registry& registry)
{
    Require(registry.open.empty(), "every key opened is closed");
    Require(!registry.calls.empty() && registry.calls.back().function == fake::Function::RegCloseKey &&
                LastRegStatus == registry.calls.back().status,
            "the last call is a close, and LastRegStatus holds its status");
}

// Numeric text, as far as these characters go, is what strtold reads whole; it is
// stored as its nearest integer when that fits in 32 bits, and as text otherwise.
void RequireStoredAsWritten(const std::string& text, const fake::StoredValue& stored)
{
    const auto first = text.find_first_not_of(' ');
    const std::string trimmed = first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
    char* end = nullptr;
    const long double number = std::strtold(trimmed.c_str(), &end);
    const bool numeric = !trimmed.empty() && *end == '\0';
    if (stored.type == REG_DWORD) {
        std::int32_t integer = 0;
        Require(numeric && stored.bytes.size() == 4, "only numeric text is stored as a number");
        std::memcpy(&integer, stored.bytes.data(), 4);
        Require(std::fabs(static_cast<long double>(integer) - number) <= 0.5L + 1e-6L,
                "numeric text is stored as its nearest integer");
        return;
    }
    Require(stored == fake::StoredValue{REG_SZ, trimmed + '\0'}, "text is stored trimmed, with one NUL");
    Require(!numeric || std::fabs(number) > 2147483646.0L, "numeric text within 32 bits is stored as a number");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in{data, data + size};
    fake::Registry& registry = fake::TheRegistry();
    registry.Reset();
    const std::uint8_t flags = in.Byte();
    if (flags & 2)
        registry.Put(kKey, kName, in.Value());
    else if (flags & 1)
        registry.CreateKey(kKey);
    registry.refuseOpen = flags & 4;
    registry.refuseCreate = flags & 8;
    registry.setStatus = flags & 16 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    if (flags & 32)
        registry.replaceAfterSizeQuery.emplace(flags & 64 ? std::nullopt : std::optional(in.Value()));
    if (flags & 128) {
        DWORD reported = 0;
        for (int i = 0; i < 4; ++i)
            reported |= DWORD{in.Byte()} << 8 * i;
        registry.reportedSize = reported < 0x10000 ? reported : reported | 0x40000000;
    }
    const fake::Registry initial = registry;

    const RegValue read = ReadRegValue(HardwareRootKey(), kHardwareKeyPath, kHardwareValueName);
    RequireClosed(registry);
    Require(!read.text() || read.text()->find(L'\0') == std::wstring::npos, "read text holds no NUL");

    std::string text;
    for (std::uint8_t length = in.Byte(); length--;) {
        const std::uint8_t c = in.Byte();
        text.push_back(c & 0x80 ? static_cast<char>(c) : "0123456789+-.eE "[c & 15]);
    }
    registry = initial;
    std::wstring wide;
    for (const char c : text)
        wide.push_back(static_cast<unsigned char>(c));
    const std::int32_t status = WriteRegValue(HardwareRootKey(), kHardwareKeyPath, kHardwareValueName, RegValue::Text(wide));
    RequireClosed(registry);
    if (status == 0)
        RequireStoredAsWritten(text, *registry.Get(kKey, kName));
    else
        Require(registry.Get(kKey, kName) == initial.Get(kKey, kName), "a failed write changes nothing");

    return 0;
}

#ifdef FUZZ_REPLAY_MAIN
#include <filesystem>
#include <fstream>
#include <iterator>

// Runs every file in the directories named through the fuzz target.
int main(int argc, char** argv)
{
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
            std::ifstream stream(entry.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
            std::printf("%s\n", entry.path().filename().c_str());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            ++count;
        }
    }
    std::printf("%zu inputs, no invariant violated\n", count);
    return count == 0;
}
#endif
