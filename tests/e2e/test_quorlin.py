# End-to-end tests of quorlin.exe: the real program under Wine, driven with real mouse
# and keyboard input on a private X display, its window read back and its registry
# value planted and checked by quorlin_test_driver.exe. Besides the window: what a
# screen reader hears, refused writes with and without elevation and the system's
# error texts, the UAC policy as Quorlin reads it, hostile registry contents, DLLs
# planted beside it, and its call for display awareness.
#
#     PYTHONPATH=tools test_quorlin.py --exe quorlin.exe --driver quorlin_test_driver.exe
#                     --control imports_planted.exe --planted DIR [--dpi N] [unittest options]
#
# With --dpi, Wine reports that display resolution (ctest runs only the layout test
# at each resolution besides 96). Exits 77, ctest's "skipped", for a 32-bit build on
# a kernel that cannot execute 32-bit code.

import argparse
import re
import shlex
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

import pefile
from PIL import Image, ImageChops, ImageStat

from area_average import area_average
from desktop import ROOT, SIZE, WINE64, pe_bits, until, wine_version
from harness import TestDesktop, run_tests

REG_SZ, REG_DWORD = 1, 4
NOT_FOUND = (2, 3)  # ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND
KEY_SET_VALUE, KEY_QUERY_VALUE = 0x2, 0x1
OPTIONS = ("102", "103", "104")
LABEL1, OPTION1, OPTION2, OPTION3, LABEL2, CLOSE, IMAGE1 = "101", "102", "103", "104", "105", "106", "107"
NOT_DETECTED = "Not detected (probably NV PhysX not installed)"
CUSTOM = "Custom (probably AGEIA PhysX HW)"
# As the program stores them: REG_SZ with the terminator, 4 bytes.
GPU, CPU = (REG_SZ, b"GPU\0"), (REG_SZ, b"CPU\0")
# A process's token as the driver reports it: elevated, and TokenElevationType (full 2,
# limited 3).
TOKENS = {"elevated": {"elevated": 1, "type": 2}, "limited": {"elevated": 0, "type": 3}}
# The controls in twips: id: class, caption (None: checked apart), left, top, width,
# height, style bits (mask, value).
LAYOUT = {
    LABEL1: ("Static", "GeForce PhysX settings:", (120, 120, 4335, 255), (0x1F, 0x0)),  # SS_LEFT
    OPTION1: ("Button", "Enable GeForce PhysX", (360, 600, 3615, 255), (0x0F, 0x4)),  # BS_RADIOBUTTON
    OPTION2: ("Button", "Disable GeForce PhysX (runs on CPU)", (360, 960, 3615, 255), (0x0F, 0x4)),
    OPTION3: ("Button", None, (360, 1320, 3735, 255), (0x0F, 0x4)),
    LABEL2: ("Static", "Made by the\r\nQuorlin project", (120, 1800, 1935, 495), (0x1F, 0x1)),  # SS_CENTER
    CLOSE: ("Button", "Close", (2280, 1800, 1695, 375), (0x0E, 0x0)),  # BS_PUSHBUTTON or BS_DEFPUSHBUTTON
    IMAGE1: ("Static", None, (120, 2400, 3840, 900), (0x1F, 0xE)),  # SS_BITMAP
}

desktop = options = None  # one desktop for the whole run, and the options, set up by main()
WINE_VERSION = wine_version()


# The README's lines for whoever sets the choice on many computers, split as the
# command prompt splits them: "reg add ..." and "reg query ...".
def readme_reg_line(verb):
    lines = re.findall(rf"^ {{4}}(reg {verb} .*)$", (ROOT / "README.md").read_text(), re.M)
    assert len(lines) == 1, f"the README has {len(lines)} 'reg {verb}' lines"
    words = shlex.shlex(lines[0], posix=True)
    words.whitespace_split, words.escape = True, ""  # a backslash is a path's, not an escape
    return list(words)


def checks(state):
    return tuple(state["controls"][option]["check"] for option in OPTIONS)


# The buttons of the message box the state shows.
def buttons(state):
    return set(state["message"].splitlines()) & {"OK", "&Yes", "&No"}


class QuorlinTest(unittest.TestCase):
    def tearDown(self):
        desktop.end_program()
        desktop.driver("reg-clear")

    # Plants (type, bytes) or nothing, starts the program, and returns its state
    # once the window has taken the focus.
    def start(self, planted=None, **launch):
        desktop.end_program()
        desktop.driver("reg-clear")
        if planted:
            desktop.plant(*planted[:2])
            if planted[2:]:
                desktop.driver("reg-deny", planted[2])
        desktop.launch(**launch)
        return desktop.wait_for(lambda s: s["focus"], "the first focus")

    def assert_stored(self, expected):
        # A click stores its choice while handling the click; allow for the round trip.
        until(desktop.stored, f"the registry to hold {expected}", 5, lambda stored: stored == expected)

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
            # name, planted (None: no key; type, bytes and rights the key denies), checks,
            # Option3's caption (None: hidden), stored afterwards (None: as planted)
            ("GPU", (REG_SZ, b"GPU"), (1, 0, 0), None, GPU),
            ("CPU", (REG_SZ, b"CPU"), (0, 1, 0), None, CPU),
            ("missing key", None, (0, 0, 1), NOT_DETECTED, None),
            ("16 MiB of text", (REG_SZ, b"x" * (16 << 20) + b"\0"), (0, 0, 1), CUSTOM, None),
            ("bytes 0x80 to 0xFF", (REG_SZ, bytes(range(0x80, 0x100)) + b"\0"), (0, 0, 1), CUSTOM, None),
            ("REG_DWORD of 8 bytes", (REG_DWORD, b"\1\0\0\0\0\0\0\0"), (0, 0, 1), NOT_DETECTED, None),
            # Were the value read, it would show as GPU.
            ("unreadable key", (REG_SZ, b"GPU", KEY_QUERY_VALUE), (0, 0, 1), NOT_DETECTED, None),
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
                denied = planted and planted[2:]  # a key the driver cannot read either
                self.assertEqual(desktop.stored(), None if denied else stored or (planted and planted[:2]))

    def test_clicks_and_keys(self):
        # One window, not detected at first, through a sequence of clicks and keys.
        # Each step's expectations also show that the steps before it did nothing
        # else, such as the click on the greyed Option3 selecting it, or Escape or
        # Enter on an option closing the window.
        steps = [
            # a click (on a control, the desktop or the window's caption) or keys,
            # focus (None: not in the window), checks, stored
            (OPTION3, CLOSE, (0, 0, 1), None),
            ("Tab", OPTION1, (0, 0, 1), None),  # the focus alone selects nothing
            ("Tab", OPTION2, (0, 0, 1), None),
            ("Tab", CLOSE, (0, 0, 1), None),  # past the greyed Option3
            ("shift+Tab", OPTION2, (0, 0, 1), None),
            ("Return", OPTION2, (0, 0, 1), None),  # Enter on an option does nothing
            ("Escape", OPTION2, (0, 0, 1), None),  # nor does Escape
            ("desktop", None, (0, 0, 1), None),  # the window left, then activated again:
            ("caption", OPTION2, (0, 0, 1), None),  # the focus returns, selecting nothing
            ("space", OPTION2, (0, 1, 0), CPU),  # creating the key
            ("Down", OPTION1, (1, 0, 0), GPU),  # round the group, past the greyed Option3
            ("Up", OPTION2, (0, 1, 0), CPU),
            (OPTION1, OPTION1, (1, 0, 0), GPU),
            ("shift+Tab", CLOSE, (1, 0, 0), GPU),  # round the tab order
            ("Escape", CLOSE, (1, 0, 0), GPU),  # Close is no cancel button
        ]
        state = self.start()
        left, top, right, _ = state["window"]
        places = {"desktop": (2, 2), "caption": ((left + right) // 2, (top + state["origin"][1]) // 2),
                  **{control: place["centre"] for control, place in state["controls"].items()}}
        for number, (step, focus, expected, stored) in enumerate(steps, 1):
            if step in places:
                desktop.click(*places[step])
            else:
                desktop.key(step)
            state = desktop.wait_for(lambda s: s["focus"] == int(focus or 0) and checks(s) == expected,
                                     f"step {number} ({step}): focus {focus} and {expected} checked")
            self.assert_stored(stored)
            self.assertTrue(state["controls"][OPTION3]["visible"], "Option3 stays, cleared")

    def test_ways_to_close(self):
        cases = [
            ("Close button", GPU, lambda s: self.click(s, CLOSE)),
            ("Enter on Close", None, lambda s: desktop.key("Return")),  # Close has the first focus
        ]
        for name, planted, close in cases:
            with self.subTest(name):
                state = self.start(planted)
                self.assert_exits(lambda: close(state))

    # Waits for the banner to show as the exact area average of the picture, then
    # checks that each caption of CAPTIONS is drawn whole: its ink keeps a pixel at
    # least from the control's right and bottom edges (a button's, inside its frame
    # and focus rectangle).
    def assert_drawn(self, state, captions):
        (x, y), (width, height) = state["origin"], state["client"]
        left, top, w, h = state["controls"][IMAGE1]["rect"]
        banner, expected = (left, top, left + w, top + h), area_average(ROOT / "resources/banner.jpg", w, h)
        shot = desktop.scratch / "client.png"

        def difference():  # the mean and the largest, of any channel
            desktop.screenshot(shot, (x, y, x + width, y + height))
            found = ImageChops.difference(Image.open(shot).convert("RGB").crop(banner), expected)
            return max(ImageStat.Stat(found).mean), max(high for _, high in found.getextrema())

        until(difference, "the banner drawn as its area average", 5, lambda found: found[0] <= 1 and found[1] <= 8)
        client = Image.open(shot).convert("RGB")
        for control in captions:
            left, top, w, h = state["controls"][control]["rect"]
            inset = 3 if control == CLOSE else 0
            box = client.crop((left + inset, top + inset, left + w - inset, top + h - inset))
            ink = ImageChops.difference(box, Image.new("RGB", box.size, client.getpixel((0, 0)))).getbbox()
            with self.subTest(caption=state["controls"][control]["text"]):
                self.assertTrue(ink and ink[2] < box.width and ink[3] < box.height, f"ink {ink} in {box.size}")

    def test_window_laid_out_and_drawn_at_the_display_resolution(self):
        def near(found, twips, what):  # within a pixel of MulDiv(twips, dpi, 1440), rounded half up
            expected = [(length * options.dpi + 720) // 1440 for length in twips]
            self.assertLessEqual(max(abs(a - b) for a, b in zip(found, expected)), 1, f"{what} {found} vs {expected}")

        state = self.start()  # not detected: Option3 shows, with its longer caption
        with self.subTest("the window"):
            self.assertEqual(state["caption"], "Quorlin v.0.1")
            near(state["client"], (4095, 3405), "client area")
            left, top, right, bottom = state["window"]
            self.assertLessEqual(max(abs(left + right - SIZE[0]), abs(top + bottom - SIZE[1])), 2, "centred")
            frame = 0x40000 | 0x80000 | 0x20000 | 0x10000  # WS_THICKFRAME, WS_SYSMENU, WS_MINIMIZEBOX, WS_MAXIMIZEBOX
            self.assertEqual(state["style"] & frame, frame)
        for control, (class_name, caption, twips, (mask, bits)) in LAYOUT.items():
            with self.subTest(control=control):
                found = state["controls"][control]
                self.assertEqual(found["class"].lower(), class_name.lower())
                if caption is not None:
                    self.assertEqual(found["text"], caption)
                near(found["rect"], twips, f"control {control}")
                self.assertEqual(found["style"] & mask, bits, "style")
        with self.subTest("icons of the system's sizes"):
            # Wine answers WM_GETICON only within the program's own process, but hands
            # the window's icons to X, where their sizes can be read.
            self.assertLessEqual({tuple(size) for size in state["icons"]}, set(desktop.icon_sizes(state["caption"])))
        with self.subTest("banner and captions"):
            self.assert_drawn(state, [OPTION1, OPTION2, OPTION3, LABEL2, CLOSE])  # Label1 is clipped on purpose
        with self.subTest("resizing moves no control"):
            left, top, right, bottom = state["window"]
            desktop.drag((right - 2, bottom - 2), (right + 78, bottom + 58))
            after = desktop.wait_for(lambda s: s["window"] != state["window"], "the window to be resized")
            self.assertGreater(min(a - b for a, b in zip(after["client"], state["client"])), 0, "grown both ways")
            for control, place in state["controls"].items():
                self.assertEqual(after["controls"][control]["rect"], place["rect"], f"control {control}")
        with self.subTest("the other status caption"):
            self.assert_drawn(self.start((REG_SZ, b"gpu\0")), [OPTION3])

    # Makes the key refuse writes and clicks the CPU option of the window in STATE,
    # which shows GPU; returns the state once the message box shows, and the buttons
    # it offers.
    def refuse_a_click(self, state):
        desktop.driver("reg-deny", KEY_SET_VALUE)
        self.click(state, OPTION2)
        shown = desktop.wait_for(lambda s: s["message"], "a message box owned by the window")
        # The system's text for the refusal, without the line break it comes with.
        self.assertRegex(shown["message"], re.compile(r"not saved: access (is )?denied\.\n\n", re.IGNORECASE))
        self.assertEqual(checks(shown), (1, 0, 0), "the refused choice is put back")
        return shown, buttons(shown)

    # Started (from EXE, a copy of quorlin.exe) with GPU stored and an administrator's
    # token of that standing (which the window's process is checked to have), as
    # refuse_a_click.
    def refuse_a_click_with(self, token, exe=None):
        state = self.start(GPU, token=token, exe=exe)
        self.assertEqual(state["token"], TOKENS[token], "the token the program runs with")
        return self.refuse_a_click(state)

    def assert_refused_elevated(self, shown, buttons):
        # Restarting would not help: the key refuses an administrator too.
        self.assertIn("permissions do not allow this change, even to an administrator.", shown["message"])
        self.assertNotIn("Run Quorlin as an administrator", shown["message"])
        self.assertEqual(buttons, {"OK"})

    # Once the message box has closed, the focus is back on a control of the window,
    # and its return selects and stores nothing.
    def focus_returns(self):
        after = desktop.wait_for(lambda s: not s["message"] and s["focus"], "the focus back in the window")
        self.assertEqual(checks(after), (1, 0, 0))
        self.assertEqual(desktop.stored(), GPU)
        return after

    def test_refused_write_is_put_back_and_explained(self):
        with self.subTest("elevated"):
            self.assert_refused_elevated(*self.refuse_a_click_with("elevated"))
            desktop.driver("reg-deny", 0)  # writable again: a choice made as the focus returns would be stored
            desktop.key("Return")
            self.focus_returns()

        with self.subTest("limited"):
            # Started as a double-click starts it, the same refusal offers a restart as
            # administrator; No leaves the window as it was.
            shown, buttons = self.refuse_a_click_with("limited")
            self.assertIn("Restart Quorlin as an administrator?", shown["message"])
            self.assertEqual(buttons, {"&Yes", "&No"})
            desktop.key("Tab", "space")  # No
            self.assertEqual(self.focus_returns()["pid"], shown["pid"])

    def test_restart_as_administrator(self):
        # Yes on the offer: the first Quorlin ends and a second one starts, showing
        # what is stored. Under Wine 10, as on Windows, "runas" elevates the second
        # one, which is then refused too, in the elevated wording, with nothing offered.
        # Wine 8's "runas" passes on the caller's limited token, and there the test ends.
        shown, _ = self.refuse_a_click_with("limited")
        old = desktop.program
        desktop.key("Return")  # Yes, the default
        self.assertEqual(old.wait(timeout=30), 0, "the first Quorlin ends")
        restarted = desktop.wait_for(lambda s: s["pid"] != shown["pid"] and s["focus"], "a second Quorlin", 30)
        self.assertEqual(checks(restarted), (1, 0, 0))
        elevates = WINE_VERSION >= 10
        self.assertEqual(restarted["token"], TOKENS["elevated" if elevates else "limited"], "the second Quorlin's token")
        if not elevates:
            self.skipTest(f"Wine {WINE_VERSION}'s runas starts the program with the caller's limited token")
        self.assert_refused_elevated(*self.refuse_a_click(restarted))
        desktop.key("Return")
        self.focus_returns()

    def test_refused_restart_is_explained_and_the_window_stays(self):
        # The restart starts the program's own file again. Moved away while the window
        # shows (a running program's file may move on Linux), it cannot be found, and
        # the restart fails as one that Windows turns down would.
        program = Path(shutil.copy(options.exe, desktop.scratch / "restarted.exe"))
        shown, _ = self.refuse_a_click_with("limited", exe=program)
        program.rename(program.with_suffix(".moved"))
        desktop.key("Return")  # Yes
        told = desktop.wait_for(lambda s: s["message"] and "could not be restarted" in s["message"], "the failure told")
        # Windows' reason, in the system's words: the file is not found (Wine 8), or
        # its path (Wine 10).
        told_line = next(line for line in told["message"].splitlines() if "could not be restarted" in line)
        self.assertIn(told_line, {"Quorlin could not be restarted as an administrator: " +
                                  desktop.driver("error-text", code)["text"] for code in NOT_FOUND})
        self.assertEqual(buttons(told), {"OK"})
        self.assertEqual((told["pid"], checks(told)), (shown["pid"], (1, 0, 0)), "the same window, as it was")
        desktop.key("Return")
        self.focus_returns()

    def test_readme_reg_lines_set_and_show_the_value_quorlin_reads(self):
        # Run as written by the 64-bit reg, as on 64-bit Windows, whose own reg would
        # write the other view without the line's /reg:32.
        desktop.end_program()
        desktop.driver("reg-clear")
        self.addCleanup(desktop.x, WINE64, "reg", "delete", r"HKLM\SOFTWARE\AGEIA Technologies", "/f", "/reg:32",
                        check=False)  # missing already where the test got that far
        desktop.x(WINE64, *readme_reg_line("add"))
        if pe_bits(options.exe) == 64:
            # The 64-bit build reads the 64-bit view, so no window can show the line's
            # value: it must stand where the 32-bit program reads it, and nowhere else.
            wow = desktop.x(WINE64, "reg", "query", r"HKLM\SOFTWARE\WOW6432Node\AGEIA Technologies", "/v",
                            "HwSelection", "/reg:64")
            self.assertRegex(wow, r"HwSelection\s+REG_SZ\s+GPU\b")
            self.assertIsNone(desktop.stored(), "the 64-bit view")
            self.assertRegex(desktop.x(WINE64, *readme_reg_line("query")), r"HwSelection\s+REG_SZ\s+GPU\b")
            return
        desktop.launch()
        state = desktop.wait_for(lambda s: s["focus"], "the first focus")
        self.assertEqual(checks(state), (1, 0, 0), "the line's GPU shows")
        self.click(state, OPTION2)
        self.assert_stored(CPU)
        self.assertRegex(desktop.x(WINE64, *readme_reg_line("query")), r"HwSelection\s+REG_SZ\s+CPU\b")

    def test_error_code_without_system_text_reads_as_its_number(self):
        # Bit 29 marks applications' own codes: the system has a text for none of them.
        self.assertEqual(desktop.driver("error-text", 0x20000001), {"text": "Error 536870913."})

    def test_screen_reader_hears_the_controls_in_the_order_on_the_screen(self):
        # Assistive technology walks the children in z-order, naming each by its
        # caption; the greyed status option is unavailable. (Wine's roles are generic.)
        heard = [
            # id, accessible name, unavailable
            (LABEL1, "GeForce PhysX settings:", 0),
            (OPTION1, "Enable GeForce PhysX", 0),
            (OPTION2, "Disable GeForce PhysX (runs on CPU)", 0),
            (OPTION3, NOT_DETECTED, 1),
            (LABEL2, "Made by the\r\nQuorlin project", 0),
            (CLOSE, "Close", 0),
            (IMAGE1, None, 0),
        ]
        self.start()
        self.assertEqual([(str(c["id"]), c["name"], c["unavailable"]) for c in desktop.driver("accessible")], heard)

    def test_uac_policy_read_from_the_registry(self):
        # Quorlin's own read of the policy for standard users' elevation prompts,
        # planted in the 64-bit view, which the system's consent service reads: only a
        # REG_DWORD of 0 ("Automatically deny elevation requests") denies.
        key = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\System"
        value = ("/v", "ConsentPromptBehaviorUser", "/f", "/reg:64")
        cases = [
            # planted (None: missing), denies
            (("REG_DWORD", "0"), 1),
            (("REG_DWORD", "1"), 0),  # prompt for credentials on the secure desktop
            (("REG_DWORD", "3"), 0),  # prompt for credentials, the default
            (None, 0),
            (("REG_SZ", "0"), 0),
            (("REG_BINARY", "00000000"), 0),  # four zero bytes, but no number
        ]
        # Missing already where a case stopped between its delete and its add.
        self.addCleanup(desktop.x, desktop.loader, "reg", "delete", key, *value, check=False)
        for planted, denies in cases:
            with self.subTest(planted=planted):
                # Fails where the value is missing already, as before the first case.
                desktop.x(desktop.loader, "reg", "delete", key, *value, check=False)
                if planted:
                    desktop.x(desktop.loader, "reg", "add", key, *value, "/t", planted[0], "/d", planted[1])
                self.assertEqual(desktop.driver("policy"), {"denies": denies})

    def test_planted_libraries_are_not_loaded(self):
        (scratch := desktop.scratch / "planting").mkdir()
        planted = [Path(shutil.copy(dll, scratch)).name.lower() for dll in sorted(Path(options.planted).glob("*.dll"))]
        control, program = (shutil.copy(path, scratch) for path in (options.control, options.exe))
        # Wine loads its own builtin libraries before any other unless told otherwise;
        # a Windows system loads a DLL found beside the program first. Native first, then.
        env = {"WINEDLLOVERRIDES": "mscoree,mshtml=;" + ",".join(Path(dll).stem for dll in planted) + "=n,b"}

        def markers():
            return sorted(path.name.lower() for path in scratch.glob("*.loaded"))

        subprocess.run([desktop.loader, control], env=dict(desktop.env, **env), check=True, timeout=60)
        self.assertEqual(markers(), [dll + ".loaded" for dll in planted], "the control program loads them")
        for marker in scratch.glob("*.loaded"):
            marker.unlink()

        log = scratch / "wine.log"
        with log.open("w") as stderr:
            pid = self.start(GPU, exe=program, env=dict(env, WINEDEBUG="-all,+pid,+loaddll"), stderr=stderr)["pid"]
            desktop.end_program()
        self.assertEqual(markers(), [], "quorlin.exe loads no planted copy")
        # And it did load the libraries, from the system directory. (Its loads only:
        # the driver that starts it loads libraries of its own.)
        trace = "\n".join(re.findall(rf"^{pid:04x}:.*$", log.read_text(errors="replace"), re.M)).lower()
        for dll in planted:
            paths = [path for path in re.findall(r'loaded l"([^"]+)"', trace) if path.endswith("\\" + dll)]
            self.assertTrue(paths and all(path.startswith("c:\\\\windows\\\\system32\\\\") for path in paths), paths)
        # It decodes its banner itself: no imaging codecs. (ole32 is no sign of COM
        # here: Wine's input method initialises COM in every thread with a window.)
        self.assertFalse(re.findall(r'loaded l"[^"]*\\(?:windowscodecs|oleaut32|propsys)\.dll"', trace))

    def test_asks_for_system_dpi_awareness_before_its_first_window(self):
        # Wine's relay trace, limited to these calls (looked up at run time or not).
        relay = [r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/f"]
        functions = "SetProcessDPIAware;SetProcessDpiAwarenessContext;CreateWindowExW"
        desktop.x(desktop.loader, "reg", "add", *relay, "/d", functions)
        self.addCleanup(desktop.x, desktop.loader, "reg", "delete", *relay)
        log = desktop.scratch / "relay.log"
        with log.open("w") as stderr:
            pid = self.start(GPU, env={"WINEDEBUG": "+pid,+relay"}, stderr=stderr)["pid"]
            desktop.end_program()
        # The program's own calls: made in its process, returning into its image.
        image = pefile.PE(options.exe, fast_load=True).OPTIONAL_HEADER
        calls = [call for call, ret in re.findall(rf"^{pid:04x}:\w+:Call user32\.(\w+\([^)]*\)).* ret=(\w+)$",
                                                  log.read_text(errors="replace"), re.M)
                 if 0 <= int(ret, 16) - image.ImageBase < image.SizeOfImage]
        before = " ".join(calls[:next(i for i, call in enumerate(calls) if call.startswith("CreateWindowExW("))])
        # DPI_AWARENESS_CONTEXT_SYSTEM_AWARE is the handle value -2, printed at the
        # process's pointer width: fffffffe, or fffffffffffffffe from a 64-bit program.
        self.assertRegex(before, r"SetProcessDpiAwarenessContext\((?:ffffffff)?fffffffe\)|SetProcessDPIAware\(\)")


def main():
    parser = argparse.ArgumentParser(description="End-to-end tests of quorlin.exe under Wine")
    for name in ("exe", "driver", "control", "planted"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--dpi", type=int, default=96)
    global options, desktop
    options, rest = parser.parse_known_args()
    desktop = TestDesktop(options.exe, options.driver, options.dpi)
    return run_tests(desktop, [sys.argv[0], *rest])


if __name__ == "__main__":
    sys.exit(main())
