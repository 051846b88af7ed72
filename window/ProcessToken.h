#pragma once
// Elevation through the process's own token, and the shell's "runas" for the restart.

#include "platform/Handle.h"
#include "window/SelectionLogic.h"

class ProcessToken final : public Elevation {
public:
    ProcessToken();

    void TurnOffVirtualization() override;
    bool IsVirtualized() override;
    bool IsElevated() override;
    bool IsLimitedAdministrator() override;
    bool IsVirtualizationAllowed() override;
    std::int32_t RestartAsAdministrator() override;

private:
    // Opened once, before the window, and kept: each open and close would be one
    // more request to the system while the program starts. Empty where the process
    // may not open its own token; every fact then reads as 0.
    unique_handle token_;
};
