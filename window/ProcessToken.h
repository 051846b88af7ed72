#pragma once
// Elevation through the process's own token, and the shell's "runas" for the restart.

#include "window/SelectionLogic.h"

class ProcessToken final : public Elevation {
public:
    void TurnOffVirtualization() override;
    bool IsVirtualized() override;
    bool IsElevated() override;
    bool IsLimitedAdministrator() override;
    bool IsVirtualizationAllowed() override;
    std::int32_t RestartAsAdministrator() override;
};
