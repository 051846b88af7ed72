# A private X display and Wine desktop for running quorlin.exe with real input: one
# Xvfb, one Wine virtual desktop on it named after this process (so that no other Wine
# program in the prefix lands on it), and a driver (quorlin_driver.exe, or one that
# extends it) to start the program there, report its window and plant registry
# values. Each display resolution has its own Wine prefix (scripts/wine-prefix).
# scripts/run and the benchmark use it; the end-to-end tests build on it.
#
# Run as a script, it takes a picture of the window, on a display of DPI dots per
# inch (96 unless given):
#     desktop.py screenshot QUORLIN_EXE DRIVER_EXE OUT.png [DPI]

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pefile

ROOT = Path(__file__).resolve().parents[1]
SIZE = (800, 600)
WINE64 = "/usr/lib/wine/wine64"


def pe_bits(path):
    return 64 if pefile.PE(path, fast_load=True).FILE_HEADER.Machine == 0x8664 else 32


# The major version of the Wine installed: 8 on Debian 12, 10 on Debian 13.
def wine_version():
    loader = next(path for path in (WINE64, "/usr/lib/wine/wine") if os.path.exists(path))
    return int(re.match(r"wine-(\d+)", subprocess.run([loader, "--version"], capture_output=True, text=True,
                                                      check=True).stdout)[1])


# The path as a Windows program sees it: drive Z: is the Unix root.
def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


# What Wine's loader and server print when they cannot start a program at all. An
# exception in the program ("wine: Unhandled page fault ...") is the program's own.
WINE_FAILED_TO_START = re.compile(r"^wine(?:server)?: (?!Unhandled)", re.M)


# Polls probe() every 50 ms until holds(what it returns); returns that, or raises
# TimeoutError with the last thing it returned.
def until(probe, what, timeout=10.0, holds=bool):
    deadline = time.monotonic() + timeout
    while not holds(result := probe()):
        if time.monotonic() > deadline:
            raise TimeoutError(f"gave up waiting for {what}; last seen: {result}")
        time.sleep(0.05)
    return result


class Desktop:
    def __init__(self, exe, driver, dpi=96):
        self.exe, self.driver_exe, self.dpi = exe, str(Path(driver).resolve()), dpi
        # The driver must match the program's bitness to see its registry view.
        assert pe_bits(exe) == pe_bits(driver), "quorlin.exe and the driver differ in bitness"
        self.loader = WINE64 if pe_bits(exe) == 64 else "/usr/lib/wine/wine"
        self.name = f"Quorlin{os.getpid()}"
        self.program, self.started = None, []
        self.scratch = Path(tempfile.mkdtemp(prefix="quorlin-e2e-"))

    def spawn(self, args, **options):
        self.started.append(subprocess.Popen(args, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                             **options))
        return self.started[-1]

    def start(self):
        self.env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", QUORLIN_DESKTOP=self.name,
                        QUORLIN_DPI=str(self.dpi))
        self.env["WINEPREFIX"] = subprocess.run([ROOT / "scripts/wine-prefix"], env=self.env, check=True,
                                                capture_output=True, text=True).stdout.strip()
        read, write = os.pipe()
        # No auto-repeat: on a busy machine a key held a moment too long would repeat.
        self.spawn(["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx24" % SIZE, "-nolisten", "tcp", "-r"],
                   pass_fds=[write])
        os.close(write)
        with os.fdopen(read) as pipe:
            self.env["DISPLAY"] = ":" + pipe.readline().strip()
        # Run by its Windows path, explorer is this very process (by name, Wine runs
        # it through start.exe, which would keep our pid). The desktop is the 64-bit
        # explorer whatever the program's bitness, as on 64-bit Windows, so that both
        # paths test on the same desktop process.
        self.spawn([WINE64 if os.path.exists(WINE64) else self.loader, r"C:\windows\system32\explorer.exe",
                    "/desktop=%s,%dx%d" % (self.name, *SIZE)])
        desktop = until(lambda: self.x("xdotool", "search", "--name", f"^{self.name} - Wine desktop$",
                                       check=False).split(),  # exit 1 until it shows
                        "the Wine desktop", 30)[0]
        geometry = self.x("xwininfo", "-id", desktop)
        self.offset = tuple(int(re.search(rf"Absolute upper-left {axis}:\s+(-?\d+)", geometry)[1]) for axis in "XY")
        # Wine closes a desktop when its last user leaves: one stays until we close its input.
        self.holder = self.spawn([self.loader, self.driver_exe, "hold"], stdin=subprocess.PIPE)

    # Ends what start() started, last first: the holder and explorer leave by
    # themselves once the holder's input closes, Xvfb is told to.
    def stop(self):
        self.end_program()
        if hasattr(self, "holder"):
            self.holder.stdin.close()
        for process in reversed(self.started):
            try:
                process.wait(timeout=0 if process.args[0] == "Xvfb" else 5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        shutil.rmtree(self.scratch, ignore_errors=True)

    # Runs a command on this desktop and returns its output. A command that fails
    # fails the step that ran it, with its output, unless that step expects the
    # failure and says so with check=False.
    def x(self, *args, check=True):
        done = subprocess.run(args, env=self.env, capture_output=True, text=True)
        if check and done.returncode:
            raise RuntimeError(f"{' '.join(map(str, args))}: exit {done.returncode}: {done.stdout}{done.stderr}")
        return done.stdout

    # Runs one of the driver's verbs and returns the JSON line it printed. A run that
    # Wine itself could not start (it printed nothing, and Wine's loader or server
    # said why) is tried once more, and the first try is logged. Nothing else is
    # retried: a driver that crashed, or failed in its own code, fails the step; nor
    # is a verb that starts a program, which a second try would start twice.
    def driver(self, *args, check=True):
        command = [self.loader, self.driver_exe, *map(str, args)]
        # Wine's own errors on: a run that fails in Wine, not in the driver, says why.
        env = dict(self.env, WINEDEBUG="-all,err+all")
        done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=60)
        if args[0] not in ("run", "hold") and not done.stdout.strip() and WINE_FAILED_TO_START.search(done.stderr):
            print(f"{self.describe(args)}: Wine did not start it (exit {done.returncode}: {done.stderr.strip()}); "
                  "trying once more", file=sys.stderr)
            done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=60)
        if check and done.returncode:
            raise RuntimeError(f"{self.describe(args)}: exit {done.returncode}: {done.stdout}{done.stderr}")
        return json.loads(done.stdout.splitlines()[-1]) if done.stdout.strip() else None

    def describe(self, args):
        return f"{Path(self.driver_exe).name} {' '.join(map(str, args))}"

    def state(self):
        return self.driver("state")

    # Stores exactly these bytes as the value, with this type.
    def plant(self, value_type, data):
        (self.scratch / "planted").write_bytes(data)
        self.driver("reg-put", value_type, windows_path(self.scratch / "planted"))

    # Starts quorlin.exe (or a copy of it, EXE) on the desktop and waits for its
    # window; ENV adds to the environment, STDERR (a file) takes Wine's output. RUN is
    # the driver's verb and any options that precede the program. Should the driver
    # end before the window shows (it could not start the program, or the program
    # ended), that fails at once, with what the driver printed.
    def launch(self, exe=None, env=None, stderr=None, run=("run",)):
        args = (*run, windows_path(exe or self.exe))
        output = self.scratch / "launch.out"
        with output.open("w") as stdout:
            self.program = subprocess.Popen([self.loader, self.driver_exe, *args], env=dict(self.env, **(env or {})),
                                            stdout=stdout, stderr=stderr or subprocess.STDOUT)

        def window():
            if self.program.poll() is not None:
                raise RuntimeError(f"{self.describe(args)}: exit {self.program.returncode} before the window showed: "
                                   f"{output.read_text(errors='replace')}")
            return self.driver("state", check=False) or {}

        return until(window, "the window", 30, lambda state: "pid" in state)

    # The window's state once test(state) holds.
    def wait_for(self, test, what, timeout=5):
        return until(lambda: self.driver("state", check=False) or {}, what, timeout,
                     lambda state: "pid" in state and test(state))

    # Ends the program launched, and any Quorlin it started itself.
    def end_program(self):
        if self.program and self.program.poll() is None:
            self.driver("kill", check=False)
            try:
                self.program.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.program.kill()  # the driver's job then ends quorlin.exe too
                self.program.wait()
        self.driver("kill", check=False)
        self.program = None

    # Real input, in the desktop's screen coordinates.
    def click(self, x, y):
        self.x("xdotool", "mousemove", "--sync", str(x + self.offset[0]), str(y + self.offset[1]), "click", "1")

    def drag(self, start, end, steps=8):
        (x0, y0), (x1, y1) = [(x + self.offset[0], y + self.offset[1]) for x, y in (start, end)]
        moves = [f"mousemove {x0 + (x1 - x0) * i // steps} {y0 + (y1 - y0) * i // steps} sleep 0.05"
                 for i in range(1, steps + 1)]
        self.x("xdotool", *f"mousemove --sync {x0} {y0} mousedown 1 {' '.join(moves)} mouseup 1".split())

    def key(self, *keys):
        self.x("xdotool", "key", *keys)

    # Sizes of the icons Wine handed to X for the window: xprop draws each picture of
    # its _NET_WM_ICON under a heading "Icon (W x H):".
    def icon_sizes(self, caption):
        window = self.x("xdotool", "search", "--name", f"^{re.escape(caption)}$").split()[0]
        text = self.x("xprop", "-id", window, "_NET_WM_ICON")
        return [(int(width), int(height)) for width, height in re.findall(r"Icon \((\d+) x (\d+)\):", text)]

    def screenshot(self, out, box):
        left, top, right, bottom = box
        subprocess.run(["import", "-window", "root", "-crop",
                        f"{right - left}x{bottom - top}+{left + self.offset[0]}+{top + self.offset[1]}", "+repage",
                        str(out)], env=self.env, check=True)


def screenshot(exe, driver, out, dpi=96):
    desktop = Desktop(exe, driver, int(dpi))
    try:
        desktop.start()
        desktop.launch()
        time.sleep(1)  # let it finish painting the picture
        left, top, right, bottom = desktop.state()["window"]
        desktop.screenshot(out, (max(left - 8, 0), max(top - 8, 0), min(right + 8, SIZE[0]), min(bottom + 8, SIZE[1])))
        desktop.driver("close")
        desktop.program.wait(timeout=10)
    finally:
        desktop.stop()


if __name__ == "__main__":
    if len(sys.argv) not in (5, 6) or sys.argv[1] != "screenshot":
        sys.exit("usage: desktop.py screenshot QUORLIN_EXE DRIVER_EXE OUT.png [DPI]")
    screenshot(*sys.argv[2:])
