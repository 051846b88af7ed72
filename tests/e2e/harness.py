# What the end-to-end tests add to the desktop harness (tools/desktop.py, on the
# Python path): the start with the non-elevated token and the read-back of the stored
# value, through the tests' driver's verbs, and the run of the tests on a desktop.

import subprocess
import sys
from pathlib import Path

from desktop import ROOT, Desktop, pe_bits, windows_path


class TestDesktop(Desktop):
    # As Desktop.launch; with TOKEN "limited" or "elevated", the program gets an
    # administrator's token of that standing, whatever token Wine gives the driver
    # (None: the driver's own).
    def launch(self, exe=None, env=None, stderr=None, token=None):
        return super().launch(exe, env, stderr, run=("run", token) if token else ("run",))

    # (type, bytes) of the value, or None when it cannot be read.
    def stored(self):
        value = self.driver("reg-get", windows_path(self.scratch / "stored"))
        return (value["type"], (self.scratch / "stored").read_bytes()) if value["status"] == 0 else None


# Runs the calling script's unittest tests on DESKTOP, started for them and
# stopped afterwards, and returns the exit code: 77 (ctest's "skipped") when this
# kernel cannot execute the program, else 0 or 1.
def run_tests(desktop, argv):
    if pe_bits(desktop.exe) == 32 and subprocess.run([ROOT / "scripts/can-run-i386"]).returncode:
        print(f"{Path(argv[0]).name}: on the 64-bit path (no 32-bit code here, or QUORLIN_WIN64=1); skipping", file=sys.stderr)
        return 77
    import unittest

    try:
        desktop.start()
        result = unittest.main(module="__main__", argv=argv, exit=False, verbosity=2).result
        # unittest calls a run of no test at all a success: a selection that matches
        # nothing must not pass for one that tested something.
        if not result.testsRun:
            print(f"{Path(argv[0]).name}: no test ran", file=sys.stderr)
            return 1
        return 0 if result.wasSuccessful() else 1
    finally:
        desktop.stop()
