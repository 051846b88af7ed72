#pragma once
// The mapping between the text the physics runtime keeps in the registry and the
// state of the window's three option buttons. Free of the Windows headers: it
// reaches the window only through OptionGroup and Conversation, and the process's
// token, the policy and the shell only through Elevation.

#include <cstdint>
#include <string_view>

#include "platform/Elevation.h"
#include "registry/basRegistry.h"
#include "window/HardwareSetting.h"

// The two texts the runtime understands.
inline constexpr std::wstring_view kGpuText = L"GPU";
inline constexpr std::wstring_view kCpuText = L"CPU";

inline constexpr std::wstring_view kCustomCaption = L"Custom (probably AGEIA PhysX HW)";
inline constexpr std::wstring_view kNotDetectedCaption = L"Not detected (probably NV PhysX not installed)";

// The one refusal that is about rights (ERROR_ACCESS_DENIED).
inline constexpr std::int32_t kErrorAccessDenied = 5;

inline HKEY HardwareRootKey() noexcept
{
    return PredefinedKey(kHardwareRootKeyId);
}

// Option1 runs the physics on the graphics processor, Option2 on the main
// processor; Option3 only shows why neither is selected and is never the user's.
enum class Option { Option1, Option2, Option3 };

// What the user is told.
enum class Notice {
    NotSaved,                // the write of a choice failed, for a reason other than access
    NeedsAdministrator,      // access was refused, and only an administrator may write
    AdministratorMustChange, // the same, where policy turns down this user's requests for elevation
    RefusedByPermissions,    // access was refused although this process is elevated
    SavedForThisAccountOnly, // the write went to this account's virtual store
    NotRestarted             // Quorlin could not be started again as an administrator
};

// The window's three option buttons.
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

protected:
    ~OptionGroup() = default;
};

// What the user is told and asked, in the window the user is looking at.
class Conversation {
public:
    // Tells the user; status is the error code behind it (0 when there is none).
    virtual void Notify(Notice notice, std::int32_t status) = 0;
    // Tells the user that a choice was refused (status) and asks whether to start
    // Quorlin again as an administrator. True when the answer is yes.
    virtual bool OfferRestartAsAdministrator(std::int32_t status) = 0;
    // The window that asks: what the system shows on the way to an answer, such as
    // the consent prompt, belongs to it.
    virtual HWND Owner() = 0;
    // Closes the window, as its Close button does.
    virtual void Close() = 0;

protected:
    ~Conversation() = default;
};

// The selection logic of one window. It remembers which option shows what is
// stored, and goes to Elevation for the process's standing: to turn virtualisation
// off before the read, and to tell the user why a choice went astray.
class HardwareSelection {
public:
    // The window passes the real token and shell; without one (nullptr), nothing is
    // virtualised and nothing can be elevated.
    explicit HardwareSelection(Elevation* elevation) noexcept : elevation_(elevation) {}

    // Turns virtualisation off, then reads the stored choice once and puts the group
    // in the matching state; in the GPU and CPU states the click handler stores the
    // same text again, saying nothing.
    void ApplyStoredSelection(OptionGroup& group);

    // Store "GPU" (or "CPU") when Option1 (or Option2) has become selected. A write
    // the user started that fails puts the previous selection back and says so; when
    // a restart as administrator could make it, the user is offered one.
    void Option1_Click(OptionGroup& group, Conversation& user);
    void Option2_Click(OptionGroup& group, Conversation& user);

private:
    void StoreSelection(OptionGroup& group, Conversation& user, Option option, std::wstring_view text);
    void ExplainRefusal(Conversation& user, std::int32_t status);

    Elevation* elevation_;
    // The option that shows what is stored: set by the load step and by every
    // selection that was stored, and put back when a selection could not be.
    Option storedOption_ = Option::Option3;
    // True while ApplyStoredSelection runs: its rewrite of the stored text is not
    // the user's doing, and if it fails what is shown is still what is stored.
    bool loading_ = false;
};
