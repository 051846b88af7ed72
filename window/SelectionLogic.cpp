#include "window/SelectionLogic.h"

#include <optional>
#include <string>

// Only a refusal of access is about rights, and only where a restart as
// administrator raises them is one offered; anything else is just explained. For a
// process that is not elevated, the consent prompt raises the rights from the
// limited half of an administrator's token, or for a standard user while UAC is on,
// unless the computer's policy turns such a user's requests down unasked. With UAC
// off, "runas" starts Quorlin with the same rights, to be refused again.
void HardwareSelection::ExplainRefusal(Conversation& user, std::int32_t status)
{
    if (status != kErrorAccessDenied)
        return user.Notify(Notice::NotSaved, status);
    if (!elevation_)
        return user.Notify(Notice::NeedsAdministrator, status);
    if (elevation_->IsElevated())
        return user.Notify(Notice::RefusedByPermissions, status);
    if (!elevation_->IsLimitedAdministrator()) {
        if (!elevation_->IsVirtualizationAllowed())
            return user.Notify(Notice::NeedsAdministrator, status);
        if (elevation_->DeniesStandardUsersElevation())
            return user.Notify(Notice::AdministratorMustChange, status);
    }
    if (!user.OfferRestartAsAdministrator(status))
        return;
    // The elevated Quorlin starts afresh: it reads, shows and lets the user choose again.
    const std::int32_t started = elevation_->RestartAsAdministrator(user.Owner());
    if (started == 0)
        user.Close();
    else if (started != kErrorCancelled)
        user.Notify(Notice::NotRestarted, started);
}

void HardwareSelection::StoreSelection(OptionGroup& group, Conversation& user, Option option, std::wstring_view text)
{
    if (!group.GetValue(option))
        return;
    const std::int32_t status =
        WriteRegValue(HardwareRootKey(), kHardwareKeyPath, kHardwareValueName, RegValue::Text(std::wstring(text)));
    if (loading_)
        return;
    if (status != 0) {
        group.RestoreSelection(storedOption_);
        ExplainRefusal(user, status);
        return;
    }
    storedOption_ = option;
    if (elevation_ && elevation_->IsVirtualized())
        user.Notify(Notice::SavedForThisAccountOnly, 0);
}

void HardwareSelection::ApplyStoredSelection(OptionGroup& group)
{
    // A virtualised read prefers this account's copy of the value to the machine's,
    // which is the one the runtime uses: turn that off before the first read.
    if (elevation_)
        elevation_->TurnOffVirtualization();
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
    loading_ = true;
    for (const Option option : {Option::Option1, Option::Option2, Option::Option3})
        group.SetValue(option, option == selected);
    loading_ = false;
    group.SetVisible(Option::Option3, selected == Option::Option3);
    if (caption)
        group.SetCaption(Option::Option3, *caption);
    storedOption_ = selected;
}

void HardwareSelection::Option1_Click(OptionGroup& group, Conversation& user)
{
    StoreSelection(group, user, Option::Option1, kGpuText);
}

void HardwareSelection::Option2_Click(OptionGroup& group, Conversation& user)
{
    StoreSelection(group, user, Option::Option2, kCpuText);
}
