"""End-to-end tests of quorlin.exe: the real program under Wine, driven with real mouse
and keyboard input on a private X display, its window read back and its registry
value planted and checked by quorlin_driver.exe. Besides the window: refused writes
with and without elevation, hostile registry contents, and DLLs planted beside it.

    test_quorlin.py --exe quorlin.exe --driver quorlin_driver.exe
                    --control imports_planted.exe --planted DIR [unittest options]

Exits 77, ctest's "skipped", for a 32-bit build on a kernel that cannot execute
32-bit code.
"""

import argparse
import re
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

from PIL import Image, ImageChops, ImageStat

from desktop import ROOT, SIZE, Desktop, run_tests, until

sys.path.insert(0, str(ROOT / "tests/window"))
from area_average import area_average  # noqa: E402

REG_SZ, REG_BINARY, REG_DWORD = 1, 3, 4
KEY_SET_VALUE, KEY_QUERY_VALUE = 0x2, 0x1
OPTIONS = ("102", "103", "104")
OPTION1, OPTION2, OPTION3, CLOSE = "102", "103", "104", "106"
NOT_DETECTED = "Not detected (probably NV PhysX not installed)"
CUSTOM = "Custom (probably AGEIA PhysX HW)"
# As the program stores them: REG_SZ with the terminator, 4 bytes.
GPU, CPU = (REG_SZ, b"GPU\0"), (REG_SZ, b"CPU\0")
MIB = 1 << 20
# Wine loads its own builtin libraries before any other unless told otherwise; a
# Windows system loads a DLL found beside the program first. Native first, then.
PLANTING = {"WINEDLLOVERRIDES": "mscoree,mshtml=;comctl32=n,b"}

desktop = None  # one for the whole run, set up by main()
options = None


def checks(state):
    return tuple(state["controls"][option]["check"] for option in OPTIONS)


class QuorlinTest(unittest.TestCase):
    def setUp(self):
        desktop.driver("reg-clear")

    def tearDown(self):
        desktop.end_program()
        desktop.driver("reg-clear")

    def start(self, planted=None, **launch):
        """Plants (type, bytes) or nothing, starts the program, and returns its state
        once the window has taken the focus."""
        desktop.end_program()
        desktop.driver("reg-clear")
        if planted:
            desktop.plant(*planted)
        desktop.launch(**launch)
        return self.until(lambda s: s["focus"], "the first focus")

    def until(self, test, what):
        last = {}

        def probe():
            last["state"] = desktop.state()
            return test(last["state"])

        try:
            until(probe, what, 5)
        except TimeoutError:
            self.fail(f"gave up waiting for {what}; last state: {last.get('state')}")
        return last["state"]

    def assert_stored(self, expected):
        # A click stores its choice while handling the click; allow for the round trip.
        try:
            until(lambda: desktop.stored() == expected, "the registry", 5)
        except TimeoutError:
            self.assertEqual(desktop.stored(), expected)

    def assert_exits(self, closing=lambda: desktop.driver("close")):
        closing()
        self.assertEqual(desktop.program.wait(timeout=30), 0, "exit code")

    def click(self, state, control):
        desktop.click(*state["controls"][control]["centre"])

    def test_start_up_shows_the_stored_choice(self):
        # One witness of each state, then hostile contents: the real registry answers
        # as the stand-in under the unit tests does. GPU and CPU without their
        # terminator get the start-up's rewrite, which adds it.
        cases = [
            # name, planted (None: no key), checks, Option3's caption (None: hidden), stored afterwards
            ("GPU", (REG_SZ, b"GPU"), (1, 0, 0), None, GPU),
            ("CPU", (REG_SZ, b"CPU"), (0, 1, 0), None, CPU),
            ("other text", (REG_SZ, b"gpu\0"), (0, 0, 1), CUSTOM, None),
            ("missing key", None, (0, 0, 1), NOT_DETECTED, None),
            ("16 MiB of text", (REG_SZ, b"x" * (16 * MIB) + b"\0"), (0, 0, 1), CUSTOM, None),
            ("GPU, then 1 MiB after its NUL", (REG_SZ, b"GPU\0" + b"y" * MIB), (1, 0, 0), None, GPU),
            ("bytes 0x80 to 0xFF", (REG_SZ, bytes(range(0x80, 0x100)) + b"\0"), (0, 0, 1), CUSTOM, None),
            ("unknown type 0x12345", (0x12345, b"GPU\0"), (0, 0, 1), NOT_DETECTED, None),
            ("REG_BINARY of 7 bytes", (REG_BINARY, b"\1\0\0\0\0\0\0"), (0, 0, 1), NOT_DETECTED, None),
            ("REG_DWORD of 8 bytes", (REG_DWORD, b"\1\0\0\0\0\0\0\0"), (0, 0, 1), NOT_DETECTED, None),
        ]
        for name, planted, expected, caption, stored in cases:
            with self.subTest(name):
                state = self.start(planted)
                option3 = state["controls"][OPTION3]
                self.assertEqual(checks(state), expected)
                self.assertEqual(option3["visible"], caption is not None)
                self.assertFalse(option3["enabled"])
                if caption:
                    self.assertEqual(option3["text"], caption)
                # The focus goes to the selected option, or to Close: it selects nothing.
                self.assertEqual(state["focus"], int(OPTIONS[expected.index(1)] if caption is None else CLOSE))
                self.assert_exits()
                self.assertEqual(desktop.stored(), stored or planted)

    def test_unreadable_key_shows_not_detected(self):
        # Were the value read, "GPU" without its NUL would be rewritten with it.
        desktop.plant(REG_SZ, b"GPU")
        desktop.driver("reg-deny", KEY_QUERY_VALUE)
        self.assertIsNone(desktop.stored(), "the key refuses reading")
        desktop.launch()
        state = self.until(lambda s: s["focus"], "the first focus")
        self.assertEqual(checks(state), (0, 0, 1))
        self.assertEqual(state["controls"][OPTION3]["text"], NOT_DETECTED)
        self.assert_exits()
        desktop.driver("reg-deny", 0)
        self.assertEqual(desktop.stored(), (REG_SZ, b"GPU"))

    def test_clicking_an_option_stores_it(self):
        cases = [
            # name, planted, option clicked, checks afterwards, stored afterwards, focus after a Tab
            ("CPU to GPU", CPU, OPTION1, (1, 0, 0), GPU, OPTION2),
            ("GPU to CPU", GPU, OPTION2, (0, 1, 0), CPU, CLOSE),
            ("not detected to GPU", None, OPTION1, (1, 0, 0), GPU, OPTION2),  # creates the key
            ("greyed Option3 ignored", (REG_SZ, b"gpu\0"), OPTION3, (0, 0, 1), (REG_SZ, b"gpu\0"), OPTION1),
        ]
        for name, planted, option, expected, stored, focus in cases:
            with self.subTest(name):
                before = self.start(planted)
                self.click(before, option)
                # Tab as a fence: once it has moved the focus, the click has been handled.
                desktop.key("Tab")
                after = self.until(lambda s: s["focus"] == int(focus), f"the focus on {focus}")
                self.assertEqual(checks(after), expected)
                self.assert_stored(stored)
                # Option3 keeps its place: shown (now cleared) if it was shown.
                self.assertEqual(after["controls"][OPTION3]["visible"], before["controls"][OPTION3]["visible"])

    def test_keyboard(self):
        # One window, not detected at first, through a sequence of keys. Each step's
        # expectations also show that the keys before it did nothing else, such as
        # Escape or Enter on an option closing the window.
        steps = [
            # keys, focus, checks, stored
            ("Tab", OPTION1, (0, 0, 1), None),  # the focus alone selects nothing
            ("Tab", OPTION2, (0, 0, 1), None),
            ("Tab", CLOSE, (0, 0, 1), None),  # past the greyed Option3
            ("shift+Tab", OPTION2, (0, 0, 1), None),
            ("Return", OPTION2, (0, 0, 1), None),  # Enter on an option does nothing
            ("Escape", OPTION2, (0, 0, 1), None),  # nor does Escape
            ("space", OPTION2, (0, 1, 0), CPU),
            ("Down", OPTION1, (1, 0, 0), GPU),  # round the group, past the greyed Option3
            ("Up", OPTION2, (0, 1, 0), CPU),
            ("Up", OPTION1, (1, 0, 0), GPU),
            ("Tab", OPTION2, (1, 0, 0), GPU),
            ("Tab", CLOSE, (1, 0, 0), GPU),
            ("Escape", CLOSE, (1, 0, 0), GPU),
            ("Tab", OPTION1, (1, 0, 0), GPU),
        ]
        self.assertEqual(self.start()["focus"], int(CLOSE))
        for number, (key, focus, expected, stored) in enumerate(steps, 1):
            desktop.key(key)
            self.until(lambda s: s["focus"] == int(focus) and checks(s) == expected,
                       f"step {number} ({key}): focus {focus} and {expected} checked")
            self.assert_stored(stored)

    def test_ways_to_close(self):
        def close_box(state):
            # The rightmost caption button, centred in the caption bar above the client area.
            left, top, right, _ = state["window"]
            border = state["origin"][0] - left
            caption = state["origin"][1] - top - border
            desktop.click(right - border - caption // 2 - 2, top + border + caption // 2)

        cases = [
            ("Close button", GPU, lambda s: self.click(s, CLOSE)),
            ("close box", GPU, close_box),
            ("Alt+F4", GPU, lambda s: desktop.key("alt+F4")),
            ("Enter on Close", None, lambda s: desktop.key("Return")),  # Close has the first focus
        ]
        for name, planted, close in cases:
            with self.subTest(name):
                state = self.start(planted)
                self.assert_exits(lambda: close(state))

    def test_resizing_moves_no_control(self):
        before = self.start(GPU)
        left, top, right, bottom = before["window"]
        desktop.drag((right - 2, bottom - 2), (right + 78, bottom + 58))
        after = self.until(lambda s: s["window"] != before["window"], "the window to be resized")
        self.assertGreater(after["client"][0], before["client"][0])
        self.assertGreater(after["client"][1], before["client"][1])
        for control, place in before["controls"].items():
            self.assertEqual(after["controls"][control]["rect"], place["rect"], f"control {control}")

    def test_layout(self):
        WS_THICKFRAME, WS_SYSMENU, WS_MINIMIZEBOX, WS_MAXIMIZEBOX = 0x40000, 0x80000, 0x20000, 0x10000
        controls = {
            # id: class, caption (None: checked apart), client rect, style bits (mask, value)
            "101": ("Static", "GeForce PhysX settings:", [8, 8, 289, 17], (0x1F, 0x0)),  # SS_LEFT
            "102": ("Button", "Enable GeForce PhysX", [24, 40, 241, 17], (0x0F, 0x4)),  # BS_RADIOBUTTON
            "103": ("Button", "Disable GeForce PhysX (runs on CPU)", [24, 64, 241, 17], (0x0F, 0x4)),
            "104": ("Button", None, [24, 88, 241, 17], (0x0F, 0x4)),
            "105": ("Static", None, [8, 120, 129, 33], (0x1F, 0x1)),  # SS_CENTER
            "106": ("Button", "Close", [152, 120, 113, 25], (0x0E, 0x0)),  # BS_PUSHBUTTON or BS_DEFPUSHBUTTON
            "107": ("Static", None, [8, 160, 256, 60], (0x1F, 0xE)),  # SS_BITMAP
        }
        state = self.start(GPU)
        self.assertEqual(state["caption"], "Quorlin v.0.1")
        self.assertEqual(state["client"], [273, 227])
        left, top, right, bottom = state["window"]
        self.assertLessEqual(abs(left + right - SIZE[0]), 2, "centred across")
        self.assertLessEqual(abs(top + bottom - SIZE[1]), 2, "centred down")
        frame = WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX
        self.assertEqual(state["style"] & frame, frame)
        for control, (class_name, caption, rect, (mask, bits)) in controls.items():
            with self.subTest(control=control):
                found = state["controls"][control]
                self.assertEqual(found["class"].lower(), class_name.lower())
                if caption is not None:
                    self.assertEqual(found["text"], caption)
                self.assertEqual(found["rect"], rect)
                self.assertEqual(found["style"] & mask, bits, "style")
        self.assertEqual(len(state["controls"]["105"]["text"].splitlines()), 2, "a two-line credit")
        # Wine answers WM_GETICON only within the program's own process, but hands
        # the icons set with WM_SETICON to X, where their sizes can be read.
        self.assertLessEqual({(32, 32), (16, 16)}, set(desktop.icon_sizes(state["caption"])))

    def test_banner_is_drawn_scaled_by_area(self):
        state = self.start(GPU)
        left, top, width, height = state["controls"]["107"]["rect"]
        x, y = state["origin"][0] + left, state["origin"][1] + top
        expected = area_average(ROOT / "resources/banner.jpg", width, height)
        found = {}

        def drawn_as_expected():
            desktop.screenshot(desktop.scratch / "banner.png", (x, y, x + width, y + height))
            difference = ImageChops.difference(Image.open(desktop.scratch / "banner.png").convert("RGB"), expected)
            found.update(mean=max(ImageStat.Stat(difference).mean), max=max(high for _, high in difference.getextrema()))
            return found["mean"] <= 1 and found["max"] <= 8

        try:
            until(drawn_as_expected, "the banner to be drawn", 5)
        except TimeoutError:
            self.fail(f"the banner differs from its area average: {found}")

    def refuse_a_click(self, limited):
        """Starts with GPU stored, makes the key refuse writes and clicks the CPU
        option; returns the state once the message box shows."""
        state = self.start(GPU, limited=limited)
        desktop.driver("reg-deny", KEY_SET_VALUE)
        self.click(state, OPTION2)
        shown = self.until(lambda s: s["message"], "a message box owned by the window")
        self.assertRegex(shown["message"]["text"], re.compile(r"access (is )?denied", re.IGNORECASE))
        self.assertIn("administrator", shown["message"]["text"])
        self.assertEqual(checks(shown), (1, 0, 0), "the refused choice is put back")
        return shown

    def test_refused_write_elevated_is_explained(self):
        # Restarting would not help an administrator whose key denies writes.
        self.assertEqual(self.refuse_a_click(limited=False)["message"]["buttons"], "OK")
        desktop.key("Return")
        after = self.until(lambda s: not s["message"], "the message box to close")
        self.assertEqual(checks(after), (1, 0, 0))
        self.assertEqual(desktop.stored(), GPU)

    def test_refused_write_not_elevated_offers_a_restart(self):
        shown = self.refuse_a_click(limited=True)
        self.assertEqual(shown["message"]["buttons"].replace("&", ""), "Yes\nNo")
        desktop.key("Tab", "space")  # No
        after = self.until(lambda s: not s["message"], "the message box to close")
        self.assertEqual((checks(after), after["pid"]), ((1, 0, 0), shown["pid"]))
        self.assertEqual(desktop.stored(), GPU)

        self.click(after, OPTION2)
        self.until(lambda s: s["message"], "the offer again")
        old = desktop.program
        desktop.key("Return")  # Yes, the default
        self.assertEqual(old.wait(timeout=30), 0, "the old Quorlin ends")
        desktop.driver("wait", 30)
        restarted = self.until(lambda s: s["pid"] != shown["pid"] and s["focus"], "a new Quorlin")
        self.assertEqual(checks(restarted), (1, 0, 0))

    def test_planted_libraries_are_not_loaded(self):
        scratch = desktop.scratch / "planting"
        scratch.mkdir()
        for dll in Path(options.planted).glob("*.dll"):
            shutil.copy(dll, scratch)
        control = shutil.copy(options.control, scratch)
        program = shutil.copy(options.exe, scratch)

        def markers():
            return sorted(path.name.lower() for path in scratch.glob("*.loaded"))

        subprocess.run([desktop.loader, control], env=dict(desktop.env, **PLANTING), check=True, timeout=60)
        self.assertEqual(markers(), ["comctl32.dll.loaded"], "the control program loads the planted copy")
        for marker in scratch.glob("*.loaded"):
            marker.unlink()

        log = scratch / "wine.log"
        with log.open("w") as stderr:
            self.start(GPU, exe=program, env=dict(PLANTING, WINEDEBUG="-all,+loaddll"), stderr=stderr)
            desktop.end_program()
        self.assertEqual(markers(), [], "quorlin.exe loads no planted copy")
        # And it did load the library, from the system directory.
        trace = log.read_text(errors="replace")
        paths = [path.lower() for path in re.findall(r'Loaded L"([^"]+)"', trace)
                 if path.lower().endswith("\\comctl32.dll")]
        self.assertTrue(paths, "comctl32.dll was loaded")
        self.assertTrue(all(path.startswith("c:\\\\windows\\\\system32\\\\") for path in paths), paths)
        # It decodes its banner itself: no imaging codecs. (ole32 is no sign of COM
        # here: Wine's input method initialises COM in every thread with a window.)
        self.assertFalse(re.findall(r'Loaded L"[^"]*\\(?:windowscodecs|oleaut32|propsys)\.dll"', trace, re.I))


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
