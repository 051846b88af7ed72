"""Hardening tests of quorlin.exe under Wine, on a private X display:

- DLL planting: copies of the libraries the program loads at run time, planted
  beside a copy of it, are not loaded; a control program that imports them the
  ordinary way does load them, so the test can tell.
- Hostile registry contents: huge, odd and refused values show the expected state,
  crash nothing, and are left as they were (or get the one rewrite of the GPU and
  CPU states).

    test_hardening.py --exe quorlin.exe --driver quorlin_driver.exe
                      --control imports_planted.exe --planted DIR [unittest options]

Exits 77, ctest's "skipped", for a 32-bit build on a kernel that cannot execute
32-bit code.
"""

import argparse
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from desktop import Desktop, run_tests, until  # noqa: E402
from test_window import CUSTOM, NOT_DETECTED, OPTION3, OPTIONS, REG_DWORD, REG_SZ  # noqa: E402

REG_BINARY = 3
MIB = 1 << 20
# Wine loads its own builtin libraries before any other unless told otherwise; a
# Windows system loads a DLL found beside the program first. Native first, then.
PLANTING = {"WINEDLLOVERRIDES": "mscoree,mshtml=;comctl32=n,b"}

desktop = None  # one for the whole run, set up by main()
options = None


def checks(state):
    return tuple(state["controls"][option]["check"] for option in OPTIONS)


class HardeningTest(unittest.TestCase):
    def setUp(self):
        desktop.driver("reg-clear")
        self.scratch = Path(tempfile.mkdtemp(prefix="quorlin-hardening-"))

    def tearDown(self):
        desktop.end_program()
        desktop.driver("reg-clear")
        shutil.rmtree(self.scratch)

    def start(self, **launch):
        desktop.launch(**launch)
        last = {}

        def window_ready():
            last["state"] = desktop.driver("state")
            return last["state"]["focus"]

        try:
            until(window_ready, "the first focus", 10)
        except TimeoutError:
            self.fail(f"the window never took the focus; last state: {last.get('state')}")
        return last["state"]

    def plant(self, value_type, data):
        planted = self.scratch / "planted.bin"
        planted.write_bytes(data)
        desktop.driver("reg-put", str(value_type), f"@{planted}")

    def stored(self):
        """(type, bytes) of the value, or None when there is none."""
        copy = self.scratch / "stored.bin"
        value = desktop.driver("reg-get", str(copy))
        return (value["type"], copy.read_bytes()) if value["status"] == 0 else None

    def test_planted_libraries_are_not_loaded(self):
        for dll in Path(options.planted).glob("*.dll"):
            shutil.copy(dll, self.scratch)
        control = shutil.copy(options.control, self.scratch)
        program = shutil.copy(options.exe, self.scratch)

        def markers():
            return sorted(path.name.lower() for path in self.scratch.glob("*.loaded"))

        subprocess.run([desktop.loader, control], env=dict(desktop.env, **PLANTING), check=True, timeout=60)
        self.assertEqual(markers(), ["comctl32.dll.loaded"], "the control program loads the planted copy")
        for marker in self.scratch.glob("*.loaded"):
            marker.unlink()

        # The planted value makes the program draw everything, the banner included.
        desktop.driver("reg-put", str(REG_SZ), "47505500")
        log = self.scratch / "wine.log"
        with log.open("w") as stderr:
            self.start(exe=program, env=dict(PLANTING, WINEDEBUG="-all,+loaddll"), stderr=stderr)
            desktop.end_program()
        self.assertEqual(markers(), [], "quorlin.exe loads no planted copy")
        # It did load the common controls, from the system directory, and decodes its
        # banner itself: no imaging codecs. (ole32 is no sign of COM here: Wine's input
        # method initialises COM in every thread that activates a window.)
        loaded = [path.lower() for path in re.findall(r'Loaded L"([^"]+)"', log.read_text(errors="replace"))]
        paths = [path for path in loaded if path.endswith("\\comctl32.dll")]
        self.assertTrue(paths, "comctl32.dll was loaded")
        self.assertTrue(all(path.startswith("c:\\\\windows\\\\system32\\\\") for path in paths), paths)
        codecs = [path for path in loaded if re.search(r"\\(windowscodecs|oleaut32|propsys)\.dll$", path)]
        self.assertFalse(codecs, "quorlin.exe loads no imaging codecs")

    def test_hostile_contents(self):
        gpu = (REG_SZ, b"GPU\0")
        cases = [
            # name, type, data, checks, Option3 caption (None: hidden), stored afterwards (None: as planted)
            ("1 MiB of text", REG_SZ, b"x" * MIB, (0, 0, 1), CUSTOM, None),
            ("16 MiB of text", REG_SZ, b"x" * (16 * MIB) + b"\0", (0, 0, 1), CUSTOM, None),
            ("GPU, then 1 MiB after its NUL", REG_SZ, b"GPU\0" + b"y" * MIB, (1, 0, 0), None, gpu),
            ("bytes 0x80 to 0xFF", REG_SZ, bytes(range(0x80, 0x100)) + b"\0", (0, 0, 1), CUSTOM, None),
            ("GPU without a NUL", REG_SZ, b"GPU", (1, 0, 0), None, gpu),
            ("CPU without a NUL", REG_SZ, b"CPU", (0, 1, 0), None, (REG_SZ, b"CPU\0")),
            ("unknown type 0x12345", 0x12345, b"GPU\0", (0, 0, 1), NOT_DETECTED, None),
            ("REG_BINARY of 7 bytes", REG_BINARY, b"\1\0\0\0\0\0\0", (0, 0, 1), NOT_DETECTED, None),
            ("REG_DWORD of 8 bytes", REG_DWORD, b"\1\0\0\0\0\0\0\0", (0, 0, 1), NOT_DETECTED, None),
        ]
        for name, value_type, data, expected, caption, stored in cases:
            with self.subTest(name):
                try:
                    self.plant(value_type, data)
                    state = self.start()
                    self.assertEqual(checks(state), expected)
                    option3 = state["controls"][OPTION3]
                    self.assertEqual(option3["visible"], caption is not None)
                    if caption:
                        self.assertEqual(option3["text"], caption)
                    desktop.driver("close")
                    self.assertEqual(desktop.program.wait(timeout=30), 0, "exit code")
                    self.assertEqual(self.stored(), stored or (value_type, data))
                finally:
                    desktop.end_program()
                    desktop.driver("reg-clear")

    def test_unreadable_key_shows_not_detected(self):
        # Were the value read, "GPU" without its NUL would be rewritten with it.
        desktop.driver("reg-put", str(REG_SZ), "475055")
        desktop.driver("reg-deny-read")
        self.assertNotEqual(desktop.driver("reg-get")["status"], 0, "the key refuses reading")
        state = self.start()
        self.assertEqual(checks(state), (0, 0, 1))
        self.assertEqual(state["controls"][OPTION3]["text"], NOT_DETECTED)
        desktop.driver("close")
        self.assertEqual(desktop.program.wait(timeout=30), 0, "exit code")
        desktop.driver("reg-allow")
        self.assertEqual(self.stored(), (REG_SZ, b"GPU"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("exe", "driver", "control", "planted"):
        parser.add_argument(f"--{name}", required=True)
    global options, desktop
    options, rest = parser.parse_known_args()
    desktop = Desktop(options.exe, options.driver)
    return run_tests(desktop, [sys.argv[0], *rest])


if __name__ == "__main__":
    sys.exit(main())
