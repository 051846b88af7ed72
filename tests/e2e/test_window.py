"""End-to-end tests of the Quorlin window: the real program under Wine, driven with
real mouse and keyboard input on a private X display, its window read back and its
registry value planted and checked by quorlin_driver.exe.

    test_window.py --exe quorlin.exe --driver quorlin_driver.exe [unittest options]

(or QUORLIN_EXE and QUORLIN_DRIVER). Exits 77, ctest's "skipped", for a 32-bit
build on a kernel that cannot execute 32-bit code.
"""

import argparse
import contextlib
import os
import re
import sys
import tempfile
import unittest
from math import lcm

from PIL import Image, ImageChops, ImageStat

from desktop import ROOT, SIZE, Desktop, run_tests, until

REG_SZ, REG_EXPAND_SZ, REG_DWORD = 1, 2, 4
OPTIONS = ("102", "103", "104")
OPTION1, OPTION2, OPTION3, CLOSE = "102", "103", "104", "106"
NOT_DETECTED = "Not detected (probably NV PhysX not installed)"
CUSTOM = "Custom (probably AGEIA PhysX HW)"
# As the program stores them: REG_SZ with the terminator, 4 bytes.
GPU, CPU = (REG_SZ, "47505500"), (REG_SZ, "43505500")

desktop = None  # one for the whole run, set up by main()


class WindowTest(unittest.TestCase):
    def setUp(self):
        desktop.driver("reg-clear")

    def tearDown(self):
        desktop.end_program()
        desktop.driver("reg-clear")

    # --- helpers ---------------------------------------------------------------
    @contextlib.contextmanager
    def case(self, name):
        """A sub-test with a window of its own, gone at its end however it ends."""
        with self.subTest(name):
            try:
                yield
            finally:
                desktop.end_program()
                desktop.driver("reg-clear")

    def start(self, planted):
        """Plants (type, hex) or nothing, starts the program, and returns its state
        once the window has taken the focus."""
        if planted:
            desktop.driver("reg-put", str(planted[0]), planted[1])
        desktop.launch()
        return self.until(lambda s: s["focus"], "the first focus")

    def state(self):
        return desktop.driver("state")

    def until(self, test, what):
        last = {}

        def probe():
            last["state"] = self.state()
            return test(last["state"])

        try:
            until(probe, what, 5)
        except TimeoutError:
            self.fail(f"gave up waiting for {what}; last state: {last.get('state')}")
        return last["state"]

    @staticmethod
    def stored():
        value = desktop.driver("reg-get")
        return (value["type"], value["hex"]) if value["status"] == 0 else None

    def assert_stored(self, expected):
        # A click stores its choice while handling the click; allow for the round trip.
        try:
            until(lambda: self.stored() == expected, "the registry", 5)
        except TimeoutError:
            self.assertEqual(self.stored(), expected)

    @staticmethod
    def checks(state):
        return tuple(state["controls"][option]["check"] for option in OPTIONS)

    def click(self, state, control):
        desktop.click(*state["controls"][control]["centre"])

    def assert_exits(self):
        self.assertEqual(desktop.program.wait(timeout=10), 0, "exit code")

    # --- tests -----------------------------------------------------------------
    def test_start_up_shows_the_stored_choice(self):
        # GPU and CPU are planted without a terminator: the start-up rewrite adds it.
        cases = [
            # name, planted, checks, Option3 caption when shown, first focus, stored afterwards
            ("GPU", (REG_SZ, "475055"), (1, 0, 0), None, OPTION1, GPU),
            ("CPU", (REG_SZ, "435055"), (0, 1, 0), None, OPTION2, CPU),
            ("other text", (REG_SZ, "67707500"), (0, 0, 1), CUSTOM, CLOSE, (REG_SZ, "67707500")),
            ("number", (REG_DWORD, "01000000"), (0, 0, 1), CUSTOM, CLOSE, (REG_DWORD, "01000000")),
            ("missing key", None, (0, 0, 1), NOT_DETECTED, CLOSE, None),
            ("expandable text", (REG_EXPAND_SZ, "47505500"), (0, 0, 1), NOT_DETECTED, CLOSE,
             (REG_EXPAND_SZ, "47505500")),
            ("empty text", (REG_SZ, "00"), (0, 0, 1), NOT_DETECTED, CLOSE, (REG_SZ, "00")),
        ]
        for name, planted, checks, caption, focus, stored in cases:
            with self.case(name):
                state = self.start(planted)
                option3 = state["controls"][OPTION3]
                self.assertEqual(self.checks(state), checks)
                self.assertEqual(option3["visible"], caption is not None)
                self.assertFalse(option3["enabled"])
                if caption:
                    self.assertEqual(option3["text"], caption)
                self.assertEqual(state["focus"], int(focus), "first focus")
                self.assertEqual(self.stored(), stored)

    def test_clicking_an_option_stores_it(self):
        cases = [
            # name, planted, option clicked, checks afterwards, stored afterwards
            ("CPU to GPU", CPU, OPTION1, (1, 0, 0), GPU),
            ("GPU to CPU", GPU, OPTION2, (0, 1, 0), CPU),
            ("not detected to GPU", None, OPTION1, (1, 0, 0), GPU),  # creates the key
            ("custom to CPU", (REG_DWORD, "01000000"), OPTION2, (0, 1, 0), CPU),
        ]
        for name, planted, option, checks, stored in cases:
            with self.case(name):
                before = self.start(planted)
                self.click(before, option)
                after = self.until(lambda s: self.checks(s) == checks, f"{checks} checked")
                self.assert_stored(stored)
                # Option3 keeps its place: shown (now cleared) if it was shown.
                self.assertEqual(after["controls"][OPTION3]["visible"], before["controls"][OPTION3]["visible"])

    def test_greyed_option_ignores_clicks(self):
        for name, planted in [("not detected", None), ("custom", (REG_SZ, "67707500"))]:
            with self.case(name):
                before = self.start(planted)
                self.click(before, OPTION3)
                # Tab as a fence: once it has moved the focus, the click has been handled.
                desktop.key("Tab")
                after = self.until(lambda s: s["focus"] != before["focus"], "Tab to move the focus")
                self.assertEqual(self.checks(after), (0, 0, 1))
                self.assertTrue(after["controls"][OPTION3]["visible"])
                self.assertEqual(self.stored(), planted)

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
        state = self.start(None)
        self.assertEqual(state["focus"], int(CLOSE))
        for number, (key, focus, checks, stored) in enumerate(steps, 1):
            passed = False
            with self.subTest(step=number, key=key):
                desktop.key(key)
                state = self.until(lambda s: s["focus"] == int(focus) and self.checks(s) == checks,
                                   f"focus {focus} and {checks} checked")
                self.assert_stored(stored)
                self.assertTrue(state["controls"][OPTION3]["visible"])
                passed = True
            if not passed:
                break  # the later steps start from a state other than theirs

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
            with self.case(name):
                close(self.start(planted))
                self.assert_exits()

    def test_resizing_moves_no_control(self):
        before = self.start(GPU)
        left, top, right, bottom = before["window"]
        desktop.drag((right - 2, bottom - 2), (right + 78, bottom + 58))
        after = self.until(lambda s: s["window"] != before["window"], "the window to be resized")
        self.assertGreater(after["client"][0], before["client"][0])
        self.assertGreater(after["client"][1], before["client"][1])
        for control, place in before["controls"].items():
            self.assertEqual(after["controls"][control]["rect"], place["rect"], f"control {control}")

    def test_refused_write_is_undone_and_explained(self):
        state = self.start(CPU)
        desktop.driver("reg-deny-set")
        self.click(state, OPTION1)
        # The driver reports only a message box owned by the window.
        shown = self.until(lambda s: s["message"], "a message box owned by the window")
        text = shown["message"]["text"]
        self.assertIn("administrator", text)
        self.assertRegex(text, re.compile(r"access (is )?denied", re.IGNORECASE))
        self.assertEqual(self.checks(shown), (0, 1, 0))
        self.assertEqual(self.stored(), CPU)
        desktop.key("Return")
        after = self.until(lambda s: not s["message"], "the message box to close")
        self.assertEqual(self.checks(after), (0, 1, 0))
        self.assertEqual(self.stored(), CPU)

    def test_layout(self):
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
        self.assertEqual(state["style"], dict(thickframe=True, sysmenu=True, minimizebox=True, maximizebox=True))
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
        # the window's icons to X, where the icon sizes can be read.
        self.assertLessEqual({(32, 32), (16, 16)}, set(desktop.icon_sizes(state["caption"])))
        if state["icons"] != {"big": None, "small": None}:
            self.assertEqual(state["icons"], {"big": [32, 32], "small": [16, 16]})

    def test_banner_is_drawn_scaled_by_area(self):
        state = self.start(GPU)
        left, top, width, height = state["controls"]["107"]["rect"]
        x, y = state["origin"][0] + left, state["origin"][1] + top
        # The exact area average: blown up by whole factors, reduced by whole blocks
        # (PIL's BOX filter weighs whole pixels by where their centres fall).
        banner = Image.open(ROOT / "resources/banner.jpg").convert("RGB")
        grid = (lcm(banner.width, width), lcm(banner.height, height))
        expected = banner.resize(grid, Image.NEAREST).reduce((grid[0] // width, grid[1] // height))
        found = {}

        def drawn_as_expected():
            with tempfile.TemporaryDirectory() as scratch:
                desktop.screenshot(f"{scratch}/banner.png", (x, y, x + width, y + height))
                difference = ImageChops.difference(Image.open(f"{scratch}/banner.png").convert("RGB"), expected)
            found.update(mean=max(ImageStat.Stat(difference).mean),
                         max=max(high for _, high in difference.getextrema()))
            return found["mean"] <= 1 and found["max"] <= 8

        try:
            until(drawn_as_expected, "the banner to be drawn", 5)
        except TimeoutError:
            self.fail(f"the banner differs from its area average: {found}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", default=os.environ.get("QUORLIN_EXE"))
    parser.add_argument("--driver", default=os.environ.get("QUORLIN_DRIVER"))
    options, rest = parser.parse_known_args()
    if not options.exe or not options.driver:
        parser.error("needs --exe and --driver (or QUORLIN_EXE and QUORLIN_DRIVER)")
    global desktop
    desktop = Desktop(options.exe, options.driver)
    return run_tests(desktop, [sys.argv[0], *rest])


if __name__ == "__main__":
    sys.exit(main())
