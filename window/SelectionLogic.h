#pragma once
// The mapping between the text the physics runtime keeps in the registry and the
// state of the window's three option buttons. Free of the Windows headers: it
// reaches the window only through OptionGroup.

#include <cstdint>
#include <string_view>

#include "registry/basRegistry.h"

// Where the runtime keeps its choice, and the two texts it understands.
inline constexpr std::uint32_t kHardwareRootKeyId = 0x80000002; // HKEY_LOCAL_MACHINE
inline constexpr std::wstring_view kHardwareKeyPath = L"Software\\AGEIA Technologies";
inline constexpr std::wstring_view kHardwareValueName = L"HwSelection";
inline constexpr std::wstring_view kGpuText = L"GPU";
inline constexpr std::wstring_view kCpuText = L"CPU";

inline constexpr std::wstring_view kCustomCaption = L"Custom (probably AGEIA PhysX HW)";
inline constexpr std::wstring_view kNotDetectedCaption = L"Not detected (probably NV PhysX not installed)";

inline HKEY HardwareRootKey() noexcept
{
    return PredefinedKey(kHardwareRootKeyId);
}

// Option1 runs the physics on the graphics processor, Option2 on the main
// processor; Option3 only shows why neither is selected and is never the user's.
enum class Option { Option1, Option2, Option3 };

// What the user is told about a selection of theirs.
enum class Notice {
    NotSaved,               // the registry refused the write
    SavedForThisAccountOnly // the write went to this account's virtual store
};

class OptionGroup {
public:
    // Selecting an option that was not selected puts the group's new state in force
    // (this option selected, the other two cleared) and then runs the option's click
    // handler to completion before returning. Clearing raises nothing.
    virtual void SetValue(Option option, bool selected) = 0;
    virtual bool GetValue(Option option) = 0;
    // A hidden option keeps its selected state and caption.
    virtual void SetVisible(Option option, bool shown) = 0;
    virtual void SetCaption(Option option, std::wstring_view caption) = 0;
    // Selects this option and clears the others without raising any click: puts
    // back what the group showed before a selection that could not be stored.
    virtual void RestoreSelection(Option option) = 0;
    // Tells the user; status is the registry's error code (0 when there is none).
    virtual void Notify(Notice notice, std::int32_t status) = 0;

protected:
    ~OptionGroup() = default;
};

// Reads the stored choice once and puts the group in the matching state; in the GPU
// and CPU states the click handler stores the same text again.
void ApplyStoredSelection(OptionGroup& group);

// Store "GPU" (or "CPU") when Option1 (or Option2) has become selected. A write the
// user started that fails puts the previous selection back and says so.
void Option1_Click(OptionGroup& group);
void Option2_Click(OptionGroup& group);

// Whether the process's registry writes below HKEY_LOCAL_MACHINE\Software land in
// the account's virtual store. The window installs the real token query; without
// one, writes count as real.
using VirtualizationQuery = bool (*)();
void SetVirtualizationQuery(VirtualizationQuery query) noexcept;
