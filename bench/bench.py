#!/usr/bin/python3
"""Start-up benchmark: quorlin.exe against a floor program of the same toolchain,
launched alternately under Wine on a private virtual display; plus the product's
size and imports, and the registry calls quorlin makes at start-up in each of its
four states (counted from Wine's relay trace of the five registry functions).
Prints one table and writes it to build/bench/results.md."""

import argparse
import datetime
import os
import platform
import re
import statistics
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests/e2e"))
sys.path.insert(0, str(ROOT / "tests/resources"))
from desktop import Desktop, pe_bits  # noqa: E402
from test_executable import PeFile  # noqa: E402

REGISTRY_CALLS = ["RegOpenKeyA", "RegQueryValueExA", "RegCloseKey", "RegCreateKeyA", "RegSetValueExA"]
REG_SZ = "1"
STATES = [("GPU stored", REG_SZ, b"GPU\0"), ("CPU stored", REG_SZ, b"CPU\0"),
          ("custom text", REG_SZ, b"gpu\0"), ("not detected", None, None)]
# One read (open, size query, data query, close); in the GPU and CPU states one
# rewrite (create, set, close). With no key, the failed open's handle is closed.
READ = ["RegOpenKeyA", "RegQueryValueExA", "RegQueryValueExA", "RegCloseKey"]
WRITE = ["RegCreateKeyA", "RegSetValueExA", "RegCloseKey"]
EXPECTED = {"GPU stored": READ + WRITE, "CPU stored": READ + WRITE, "custom text": READ,
            "not detected": ["RegOpenKeyA", "RegCloseKey"]}


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def timings(desktop, launcher, exe, floor, pairs):
    done = subprocess.run([desktop.loader, launcher, str(pairs), windows_path(exe), windows_path(floor)],
                          env=desktop.env, capture_output=True, text=True, check=True, timeout=600)
    runs = {"A": ([], []), "B": ([], [])}
    for line in done.stdout.split("\n"):
        if line.strip():
            which, shown, exited = line.split()
            runs[which][0].append(float(shown))
            runs[which][1].append(float(exited))
    return runs


def registry_calls(desktop, exe, state):
    """The registry calls made from quorlin.exe's own code while it starts."""
    _, kind, data = state
    if kind:
        desktop.driver("reg-put", kind, data.hex())
    else:
        desktop.driver("reg-clear")
    trace = ROOT / "build/bench/relay.log"
    with open(trace, "w") as log:
        desktop.launch(env={"WINEDEBUG": "+relay"}, stderr=log)
        desktop.driver("close")
        desktop.program.wait(timeout=60)
    pe = PeFile(Path(exe).read_bytes())
    low, high = pe.image_base, pe.image_base + pe.image_size
    calls = []
    pattern = re.compile(r":Call advapi32\.(\w+)\(.*\) ret=([0-9a-fA-F]+)")
    for line in trace.read_text(errors="replace").splitlines():
        match = pattern.search(line)
        if match and low <= int(match[2], 16) < high:
            calls.append(match[1])
    return calls


def relay_only_registry(desktop, on):
    key = r"HKCU\Software\Wine\Debug"
    command = ["reg", "add", key, "/v", "RelayInclude", "/t", "REG_SZ", "/d", ";".join(REGISTRY_CALLS), "/f"] if on \
        else ["reg", "delete", key, "/v", "RelayInclude", "/f"]
    subprocess.run([desktop.loader, *command], env=desktop.env, capture_output=True)


def main():
    parser = argparse.ArgumentParser()
    for name in ("exe", "driver", "floor", "launcher", "product"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--pairs", type=int, default=10)
    args = parser.parse_args()
    (ROOT / "build/bench").mkdir(parents=True, exist_ok=True)

    desktop = Desktop(args.exe, args.driver)
    try:
        desktop.start()
        desktop.driver("reg-put", REG_SZ, b"GPU\0".hex())
        runs = timings(desktop, args.launcher, args.exe, args.floor, args.pairs)
        relay_only_registry(desktop, True)
        calls = {state[0]: registry_calls(desktop, args.exe, state) for state in STATES}
    finally:
        relay_only_registry(desktop, False)
        desktop.stop()

    quorlin_shown, quorlin_exit = (statistics.median(v) for v in runs["A"])
    floor_shown, floor_exit = (statistics.median(v) for v in runs["B"])
    product = Path(args.product)
    size = product.stat().st_size
    imports = PeFile(product.read_bytes()).imports()
    wine = subprocess.run([desktop.loader, "--version"], capture_output=True, text=True).stdout.strip()
    machine = f"{platform.node()} ({os.cpu_count()} cores, {platform.machine()}, Linux {platform.release()}, {wine})"
    rows = [
        ("Date", datetime.date.today().isoformat(), ""),
        ("Machine", machine, ""),
        ("Program timed", f"{args.exe} ({pe_bits(args.exe)}-bit), {args.pairs} pairs", ""),
        ("Launch to window shown, median", f"quorlin {quorlin_shown:.0f} ms, floor {floor_shown:.0f} ms",
         f"ratio {quorlin_shown / floor_shown:.2f} (target at most 1.10)"),
        ("WM_CLOSE to exit, median", f"quorlin {quorlin_exit:.0f} ms, floor {floor_exit:.0f} ms",
         f"ratio {quorlin_exit / floor_exit:.2f}"),
        ("quorlin.exe size", f"{size} bytes ({size / 1024:.0f} KiB)", "target at most 256 KiB"),
        ("quorlin.exe imports", ", ".join(imports), ""),
    ]
    for name, made in calls.items():
        summary = ", ".join(f"{made.count(call)} {call}" for call in REGISTRY_CALLS if made.count(call))
        verdict = "as expected, in order" if made == EXPECTED[name] else "expected " + ", ".join(EXPECTED[name])
        rows.append((f"Registry calls at start-up, {name}", f"{len(made)}: {summary or 'none'}", verdict))
    table = ["| measure | result | note |", "|---|---|---|"] + [f"| {a} | {b} | {c} |" for a, b, c in rows]
    text = "\n".join(table) + "\n"
    (ROOT / "build/bench/results.md").write_text(text)
    print(text)


if __name__ == "__main__":
    main()
