// quorlin_driver: starts the Quorlin window on a Wine desktop, reports its state from
// another process, and plants or clears the registry value behind it, for scripts/run
// and the benchmark. The verbs are listed in DriverVerbs.h.

#include "tools/DriverVerbs.h"

int wmain(int argc, wchar_t** argv)
{
    return driver::Main(argc, argv, nullptr,
                        "usage: quorlin_driver run EXE | hold | state | close | kill | reg-put TYPE FILE | reg-clear\n");
}
