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

Elevation* g_elevation = nullptr;

// Only a refusal of access is about rights, and only where a restart as
// administrator raises them is one offered; anything else is just explained. For a
// process that is not elevated, the consent prompt raises the rights from the
// limited half of an administrator's token, or for a standard user while UAC is on,
// unless the computer's policy turns such a user's requests down unasked. With UAC
// off, "runas" starts Quorlin with the same rights, to be refused again.
void ExplainRefusal(Conversation& user, std::int32_t status)
{
    if (status != kErrorAccessDenied)
        return user.Notify(Notice::NotSaved, status);
    if (!g_elevation)
        return user.Notify(Notice::NeedsAdministrator, status);
    if (g_elevation->IsElevated())
        return user.Notify(Notice::RefusedByPermissions, status);
    if (!g_elevation->IsLimitedAdministrator()) {
        if (!g_elevation->IsVirtualizationAllowed())
            return user.Notify(Notice::NeedsAdministrator, status);
        if (g_elevation->DeniesStandardUsersElevation())
            return user.Notify(Notice::AdministratorMustChange, status);
    }
    if (!user.OfferRestartAsAdministrator(status))
        return;
    // The elevated Quorlin starts afresh: it reads, shows and lets the user choose again.
    const std::int32_t started = g_elevation->RestartAsAdministrator(user.Owner());
    if (started == 0)
        user.Close();
    else if (started != kErrorCancelled)
        user.Notify(Notice::NotRestarted, started);
}

void StoreSelection(OptionGroup& group, Conversation& user, Option option, std::wstring_view text)
{
    if (!group.GetValue(option))
        return;
    const std::int32_t status =
        WriteRegValue(HardwareRootKey(), kHardwareKeyPath, kHardwareValueName, RegValue::Text(std::wstring(text)));
    if (g_loading)
        return;
    if (status != 0) {
        group.RestoreSelection(g_storedOption);
        ExplainRefusal(user, status);
        return;
    }
    g_storedOption = option;
    if (g_elevation && g_elevation->IsVirtualized())
        user.Notify(Notice::SavedForThisAccountOnly, 0);
}

} // namespace

void ApplyStoredSelection(OptionGroup& group)
{
    // A virtualised read prefers this account's copy of the value to the machine's,
    // which is the one the runtime uses: turn that off before the first read.
    if (g_elevation)
        g_elevation->TurnOffVirtualization();
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

void Option1_Click(OptionGroup& group, Conversation& user)
{
    StoreSelection(group, user, Option::Option1, kGpuText);
}

void Option2_Click(OptionGroup& group, Conversation& user)
{
    StoreSelection(group, user, Option::Option2, kCpuText);
}

void SetElevation(Elevation* elevation) noexcept
{
    g_elevation = elevation;
}
