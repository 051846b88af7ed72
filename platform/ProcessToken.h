#pragma once
// Elevation through the process's own token, the computer's UAC policy, and the
// shell's "runas" for the restart.

#include "platform/Elevation.h"
#include "platform/Handle.h"

class ProcessToken final : public Elevation {
public:
    ProcessToken();

    void TurnOffVirtualization() override;
    bool IsVirtualized() override;
    bool IsElevated() override;
    bool IsLimitedAdministrator() override;
    bool IsVirtualizationAllowed() override;
    bool DeniesStandardUsersElevation() override;
    std::int32_t RestartAsAdministrator(HWND owner) override;

private:
    // Opened once, before the window, and kept for the life of the process: the
    // token's facts are asked at start-up and again whenever a write is refused.
    // Empty where the process may not open its own token; every fact then reads as 0.
    unique_handle token_;
};
