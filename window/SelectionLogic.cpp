#include "window/SelectionLogic.h"

#include <optional>
#include <string>

namespace {

// The option that shows what is stored: set by the load step and by every
// selection that was stored, and put back when a selection could not be.
Option g_storedOption = Option::Option3;

// True while ApplyStoredSelection runs: its rewrite of the stored text is not the
// user's doing, and if it fails what is shown is still what is stored.
bool g_loading = false;

VirtualizationQuery g_isVirtualized = nullptr;

void StoreSelection(OptionGroup& group, Option option, std::wstring_view text)
{
    if (!group.GetValue(option))
        return;
    const std::int32_t status =
        WriteRegValue(HardwareRootKey(), kHardwareKeyPath, kHardwareValueName, RegValue::Text(std::wstring(text)));
    if (g_loading)
        return;
    if (status != 0) {
        group.RestoreSelection(g_storedOption);
        group.Notify(Notice::NotSaved, status);
        return;
    }
    g_storedOption = option;
    if (g_isVirtualized && g_isVirtualized())
        group.Notify(Notice::SavedForThisAccountOnly, 0);
}

} // namespace

void ApplyStoredSelection(OptionGroup& group)
{
    const std::wstring stored = ReadRegValue(HardwareRootKey(), kHardwareKeyPath, kHardwareValueName).TextForm();

    Option selected = Option::Option3;
    std::optional<std::wstring_view> caption;
    if (stored == kGpuText)
        selected = Option::Option1;
    else if (stored == kCpuText)
        selected = Option::Option2;
    else
        caption = stored.empty() ? kNotDetectedCaption : kCustomCaption;

    // In order Option1, Option2, Option3, each selected or cleared; selecting
    // Option1 or Option2 runs its click handler right here, which stores the text again.
    g_loading = true;
    for (const Option option : {Option::Option1, Option::Option2, Option::Option3})
        group.SetValue(option, option == selected);
    g_loading = false;
    group.SetVisible(Option::Option3, selected == Option::Option3);
    if (caption)
        group.SetCaption(Option::Option3, *caption);
    g_storedOption = selected;
}

void Option1_Click(OptionGroup& group)
{
    StoreSelection(group, Option::Option1, kGpuText);
}

void Option2_Click(OptionGroup& group)
{
    StoreSelection(group, Option::Option2, kCpuText);
}

void SetVirtualizationQuery(VirtualizationQuery query) noexcept
{
    g_isVirtualized = query;
}
