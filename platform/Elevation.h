#pragma once
// The process's standing under UAC, and the way to a higher one. Free of the Windows
// headers, so that the selection logic and its tests can use it anywhere.

#include <cstdint>

// A window handle, declared exactly as <windows.h> declares it.
struct HWND__;
using HWND = HWND__*;

// The restart's answer when the user declined the consent prompt (ERROR_CANCELLED).
inline constexpr std::int32_t kErrorCancelled = 1223;

// A double-clicked Quorlin runs unelevated, and, being a 32-bit program without a
// manifest, with its registry access below HKEY_LOCAL_MACHINE\Software redirected
// to the account's virtual store.
class Elevation {
public:
    // Stops that redirection, so that reads see the value the runtime uses and a
    // write the user may not make is refused. Does nothing where it cannot.
    virtual void TurnOffVirtualization() = 0;
    virtual bool IsVirtualized() = 0;
    virtual bool IsElevated() = 0;
    // The non-elevated half of an administrator's token under UAC.
    virtual bool IsLimitedAdministrator() = 0;
    // Whether UAC may virtualise this process at all, turned off or not: for an
    // unelevated 32-bit program without a manifest, exactly when UAC is on.
    virtual bool IsVirtualizationAllowed() = 0;
    // Whether the computer's policy turns down a standard user's every request for
    // elevation without asking for an administrator's password.
    virtual bool DeniesStandardUsersElevation() = 0;
    // Starts Quorlin again, elevated, with the consent prompt owned by owner. Returns
    // 0 once the new process has started, kErrorCancelled (ERROR_CANCELLED) when the
    // user declined, or the Win32 error that stopped it.
    virtual std::int32_t RestartAsAdministrator(HWND owner) = 0;

protected:
    ~Elevation() = default;
};
