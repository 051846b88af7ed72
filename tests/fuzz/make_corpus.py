#!/usr/bin/python3
"""Writes the fuzz corpus's seeds into tests/fuzz/corpus, in the input format the top
of SelectionFuzzer.cpp describes. Run it again after changing a seed."""
import pathlib
import struct

KEY, VALUE, REFUSE_OPEN, REFUSE_CREATE, FAIL_SET, REPLACE, BY_NOTHING, REPORT_SIZE = (1 << i for i in range(8))
REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD = 0, 1, 2, 3, 4, 7, 11
REAL_READ = b"\0\xff\xff"  # HKLM, the real path, the real name
OPTION1, OPTION2, FAIL, NO_KEY, VIRTUALIZED = 0, 1, 2, 4, 8


def value(type_, data):
    return bytes([type_, len(data)]) + data


def latin1(text):
    return bytes([6, len(text)]) + text.encode("latin-1")


def numeric(text):
    return bytes([2, len(text)]) + bytes("0123456789+-.eE ".index(c) for c in text)


def wide(text):
    data = text.encode("utf-16-le")
    return bytes([10, len(data)]) + data


def seed(flags=0, stored=b"", replacement=b"", size=None, read=REAL_READ, write=latin1("CPU"), selections=()):
    return (bytes([flags]) + stored + replacement + (struct.pack("<I", size) if size is not None else b"")
            + read + write + bytes(selections))


SEEDS = {
    "sz-gpu": seed(VALUE, value(REG_SZ, b"GPU\0"), selections=[OPTION2, OPTION1]),
    "sz-cpu": seed(VALUE, value(REG_SZ, b"CPU\0"), selections=[OPTION1]),
    "sz-cpu-no-nul": seed(VALUE, value(REG_SZ, b"CPU"), selections=[OPTION2, OPTION1]),
    "sz-custom": seed(VALUE, value(REG_SZ, b"HW\0"), selections=[OPTION2 | FAIL, OPTION2]),
    "sz-empty": seed(VALUE, value(REG_SZ, b""), selections=[OPTION1]),
    "dword-ffffffff": seed(VALUE, value(REG_DWORD, b"\xff\xff\xff\xff"), write=bytes([1]) + b"\xff\xff\xff\xff"),
    "binary-7": seed(VALUE, value(REG_BINARY, b"\x02\0\0\0\0\0\0")),
    "expand-sz": seed(VALUE, value(REG_EXPAND_SZ, b"GPU\0")),
    "multi-sz": seed(VALUE, value(REG_MULTI_SZ, b"GPU\0\0"), write=b"\0"),
    "unknown-type": seed(VALUE, value(REG_QWORD, b"GPU\0\0\0\0\0")),
    "missing-key": seed(0, selections=[OPTION1, OPTION2]),
    "key-only": seed(KEY, selections=[OPTION2 | NO_KEY, OPTION1]),
    "refuse-open": seed(VALUE | REFUSE_OPEN, value(REG_SZ, b"GPU\0"), selections=[OPTION1]),
    "refuse-create": seed(VALUE | REFUSE_CREATE, value(REG_SZ, b"GPU\0"), selections=[OPTION2 | NO_KEY, OPTION2]),
    "fail-set": seed(VALUE | FAIL_SET, value(REG_SZ, b"CPU\0"), selections=[OPTION1 | FAIL, OPTION1, OPTION2 | FAIL]),
    "virtualized": seed(VALUE, value(REG_SZ, b"CPU\0"), selections=[OPTION1 | VIRTUALIZED, OPTION2]),
    "replaced-longer": seed(VALUE | REPLACE, value(REG_SZ, b"GPU\0"), value(REG_SZ, b"GPU and more\0")),
    "replaced-shorter": seed(VALUE | REPLACE, value(REG_SZ, b"GPU and more\0"), value(REG_SZ, b"CPU")),
    "replaced-by-nothing": seed(VALUE | REPLACE | BY_NOTHING, value(REG_SZ, b"GPU\0")),
    "huge-size": seed(VALUE | REPORT_SIZE, value(REG_SZ, b"GPU\0"), size=0xFFFFFFF0),
    "read-hkcu": seed(VALUE, value(REG_SZ, b"GPU\0"), read=b"\x01\x08Software\xff"),
    "write-numeric": seed(KEY, write=numeric(" -2.5e1 ")),
    "write-out-of-range": seed(KEY, write=numeric("-2147483649")),
    "write-huge-exponent": seed(KEY, write=numeric("1e999999999999")),
    "write-wide": seed(KEY, write=wide(" G\u00e9\u20acU ")),
}

corpus = pathlib.Path(__file__).resolve().parent / "corpus"
corpus.mkdir(exist_ok=True)
for name, data in SEEDS.items():
    (corpus / name).write_bytes(data)
