#!/usr/bin/python3
"""Start-up benchmark: quorlin.exe against two floor programs of the same toolchain,
launched in turn under Wine on a private virtual display: the required-work floor
(only what Quorlin's window must do before it shows) and the bare floor (one
window). Plus the timed executable's size and imports, the registry calls quorlin
makes at start-up in each of its four states (counted from Wine's relay trace of the
five registry functions), and a timeline of the libraries quorlin loads before its
window shows that the required-work floor does not. Prints the tables and writes
them to build/bench/results.md."""

import argparse
import datetime
import os
import platform
import random
import re
import statistics
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))
import pefile  # noqa: E402
from desktop import Desktop, pe_bits, windows_path  # noqa: E402

# Virtualisation is turned off before the registry is read.
REGISTRY_CALLS = ["SetTokenInformation", "RegOpenKeyA", "RegQueryValueExA", "RegCloseKey", "RegCreateKeyA",
                  "RegSetValueExA"]
REG_SZ = 1
STATES = [("GPU stored", REG_SZ, b"GPU\0"), ("CPU stored", REG_SZ, b"CPU\0"),
          ("custom text", REG_SZ, b"gpu\0"), ("not detected", None, None)]
# One read (open, size query, data query, close); in the GPU and CPU states one
# rewrite (create, set, close). With no key, the failed open's handle is closed.
READ = ["SetTokenInformation", "RegOpenKeyA", "RegQueryValueExA", "RegQueryValueExA", "RegCloseKey"]
WRITE = ["RegCreateKeyA", "RegSetValueExA", "RegCloseKey"]
EXPECTED = {"GPU stored": READ + WRITE, "CPU stored": READ + WRITE, "custom text": READ,
            "not detected": ["SetTokenInformation", "RegOpenKeyA", "RegCloseKey"]}


def image_range(program):
    """The addresses the program's own image occupies: calls returning there are its own."""
    header = pefile.PE(program, fast_load=True).OPTIONAL_HEADER
    return range(header.ImageBase, header.ImageBase + header.SizeOfImage)


def timings(desktop, launcher, programs, rounds):
    """Per program, in the order given: (times to shown, times from WM_CLOSE to exit)."""
    done = subprocess.run([desktop.loader, launcher, str(rounds), *map(windows_path, programs)],
                          env=desktop.env, capture_output=True, text=True, check=True, timeout=900)
    runs = [([], []) for _ in programs]
    for line in done.stdout.split("\n"):
        if line.strip():
            which, shown, exited = line.split()
            runs[ord(which) - ord("A")][0].append(float(shown))
            runs[ord(which) - ord("A")][1].append(float(exited))
    return runs


def pair_ratio(times, floor_times):
    """The median of the ratios of launches made one after the other, as text with a
    95 % interval for it (percentile bootstrap, fixed seed): on a shared machine
    single launches vary by tens of per cent, and the interval tells how far the
    median can be trusted."""
    ratios = [a / b for a, b in zip(times, floor_times)]
    draw = random.Random(0)
    medians = sorted(statistics.median(draw.choices(ratios, k=len(ratios))) for _ in range(2000))
    return f"{statistics.median(ratios):.3f} (95 % interval {medians[49]:.3f} to {medians[1949]:.3f})"


def timeline(desktop, launcher, programs):
    """Launches each program once, traced, and returns per program the libraries it
    loads up to the return of ShowWindow on its main window (the first window it
    creates), with that moment: ({library: ms}, ms), in ms after its image loaded."""
    trace = ROOT / "build/bench/loaddll.log"
    env = dict(desktop.env, WINEDEBUG="+pid,+timestamp,+loaddll,+relay")
    with open(trace, "w") as log:
        subprocess.run([desktop.loader, launcher, "1", *map(windows_path, programs)], env=env,
                       stdout=subprocess.DEVNULL, stderr=log, check=True, timeout=300)
    line_format = re.compile(r"^(\d+\.\d+):([0-9a-f]+):[0-9a-f]+:(.*)$")
    lines = [match.groups() for match in map(line_format.match, trace.read_text(errors="replace").splitlines())
             if match]
    results = []
    for program in programs:
        image = image_range(program)
        name = Path(program).name.lower()
        start, pid = next((float(stamp), pid) for stamp, pid, text in lines
                          if "Loaded L" in text and text.lower().split('"')[1].endswith("\\" + name))
        loaded, depth, window, showing, shown = {}, 0, None, False, None
        for stamp, line_pid, text in lines:
            if shown is not None:
                break
            if line_pid != pid:
                continue
            at = (float(stamp) - start) * 1000
            if match := re.search(r'Loaded L"[^"]*\\([^"\\]+)"', text):
                loaded.setdefault(match[1].lower(), at)
            ret = re.search(r"ret=([0-9a-f]+)$", text)
            if not ret or int(ret[1], 16) not in image:
                continue  # a call made by a library, not by the program
            if text.startswith("Call user32.CreateWindowExW("):
                depth += 1
            elif text.startswith("Ret  user32.CreateWindowExW()"):
                depth -= 1
                if depth == 0 and window is None:
                    window = re.search(r"retval=([0-9a-f]+)", text)[1]
            elif window and text.startswith(f"Call user32.ShowWindow({window},"):
                showing = True
            elif showing and text.startswith("Ret  user32.ShowWindow()"):
                shown = at
        results.append((loaded, shown))
    return results


def registry_calls(desktop, exe, state):
    """The registry calls made from quorlin.exe's own code while it starts."""
    _, kind, data = state
    desktop.driver("reg-clear")
    if kind:
        desktop.plant(kind, data)
    trace = ROOT / "build/bench/relay.log"
    with open(trace, "w") as log:
        desktop.launch(env={"WINEDEBUG": "+relay"}, stderr=log)
        desktop.driver("close")
        desktop.program.wait(timeout=60)
    image = image_range(exe)
    calls = []
    pattern = re.compile(r":Call advapi32\.(\w+)\(.*\) ret=([0-9a-fA-F]+)")
    for line in trace.read_text(errors="replace").splitlines():
        match = pattern.search(line)
        if match and int(match[2], 16) in image:
            calls.append(match[1])
    return calls


def relay_only(desktop, functions):
    """Limits Wine's relay trace to FUNCTIONS; with none, removes the limit."""
    key = r"HKCU\Software\Wine\Debug"
    command = ["reg", "add", key, "/v", "RelayInclude", "/t", "REG_SZ", "/d", ";".join(functions), "/f"] if functions \
        else ["reg", "delete", key, "/v", "RelayInclude", "/f"]
    subprocess.run([desktop.loader, *command], env=desktop.env, capture_output=True)


def main():
    parser = argparse.ArgumentParser()
    for name in ("exe", "driver", "required-floor", "floor", "launcher"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--pairs", type=int, default=10)
    args = parser.parse_args()
    (ROOT / "build/bench").mkdir(parents=True, exist_ok=True)

    desktop = Desktop(args.exe, args.driver)
    try:
        desktop.start()
        desktop.plant(REG_SZ, b"GPU\0")
        quorlin, required, bare = timings(desktop, args.launcher, [args.exe, args.required_floor, args.floor],
                                          args.pairs)
        relay_only(desktop, ["user32.CreateWindowExW", "user32.ShowWindow"])
        (quorlin_loads, quorlin_shown), (floor_loads, floor_shown) = timeline(
            desktop, args.launcher, [args.exe, args.required_floor])
        relay_only(desktop, REGISTRY_CALLS)
        calls = {state[0]: registry_calls(desktop, args.exe, state) for state in STATES}
    finally:
        relay_only(desktop, None)
        desktop.stop()

    exe = Path(args.exe)
    size = exe.stat().st_size
    imports = sorted(entry.dll.decode().lower() for entry in pefile.PE(exe).DIRECTORY_ENTRY_IMPORT)
    wine = subprocess.run([desktop.loader, "--version"], capture_output=True, text=True).stdout.strip()
    machine = f"{platform.node()} ({os.cpu_count()} cores, {platform.machine()}, Linux {platform.release()}, {wine})"
    rows = [
        ("Date", datetime.date.today().isoformat(), ""),
        ("Machine", machine, ""),
        ("Program timed", f"{args.exe} ({pe_bits(args.exe)}-bit), {args.pairs} pairs",
         "launched in turn with the required-work floor and the bare floor"),
    ]
    for measure, index in (("Launch to window shown", 0), ("WM_CLOSE to exit", 1)):
        medians = [statistics.median(runs[index]) for runs in (quorlin, required, bare)]
        rows.append((f"{measure}, median", "quorlin {:.1f} ms, required-work floor {:.1f} ms, "
                     "bare floor {:.1f} ms".format(*medians), ""))
        for floor, runs in (("required-work floor", required), ("bare floor", bare)):
            rows.append((f"{measure}, quorlin / {floor}", pair_ratio(quorlin[index], runs[index]),
                         "median of the pairs"))
    rows += [
        ("quorlin.exe size", f"{size} bytes ({size / 1024:.0f} KiB)", ""),
        ("quorlin.exe imports", ", ".join(imports), ""),
    ]
    for name, made in calls.items():
        summary = ", ".join(f"{made.count(call)} {call}" for call in REGISTRY_CALLS if made.count(call))
        verdict = "as expected, in order" if made == EXPECTED[name] else "expected " + ", ".join(EXPECTED[name])
        rows.append((f"Token and registry calls at start-up, {name}", f"{len(made)}: {summary or 'none'}", verdict))
    table = ["| measure | result | note |", "|---|---|---|"] + [f"| {a} | {b} | {c} |" for a, b, c in rows]

    extra = [(library, at) for library, at in quorlin_loads.items()
             if library not in floor_loads and library != exe.name.lower()]
    table += ["", "Libraries quorlin.exe loads before its window is shown that the required-work floor does not "
              "(one traced launch of each; ms after the program's image is loaded; the trace slows both):", "",
              "| library | loaded at |", "|---|---|"]
    table += [f"| {library} | {at:.0f} ms |" for library, at in extra] or ["| none | |"]
    table += [f"| (window shown) | quorlin {quorlin_shown:.0f} ms, required-work floor {floor_shown:.0f} ms |"]
    text = "\n".join(table) + "\n"
    (ROOT / "build/bench/results.md").write_text(text)
    print(text)


if __name__ == "__main__":
    main()
