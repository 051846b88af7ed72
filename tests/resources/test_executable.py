#!/usr/bin/python3
"""Checks the built executable itself, without running it: its PE header, its
imports, and the resources built into it (version record, icon, banner, no
manifest)."""

import argparse
import struct
import sys
import unittest

KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll", "shell32.dll"}
RT_ICON, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 10, 14, 16, 24
IDI_QUORLIN, IDR_BANNER = 101, 102


class PeFile:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.timestamp = struct.unpack_from("<I", data, pe + 8)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
        self.image_base = struct.unpack_from("<I", data, opt + 28)[0] if self.magic == 0x10B \
            else struct.unpack_from("<Q", data, opt + 24)[0]
        self.image_size = struct.unpack_from("<I", data, opt + 56)[0]
        directories = opt + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(sections):
            at = opt + optional_size + 40 * i
            _, virtual_size, address, raw_size, raw_at = struct.unpack_from("<8sIIII", data, at)
            self.sections.append((address, max(virtual_size, raw_size), raw_at))

    def offset(self, rva):
        for address, size, raw_at in self.sections:
            if address <= rva < address + size:
                return rva - address + raw_at
        raise ValueError(f"address {rva:#x} is in no section")

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imports(self):
        rva = self.directories[1][0]
        names = []
        while True:
            descriptor = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if descriptor[3] == 0:
                return names
            names.append(self.cstring(descriptor[3]).lower())
            rva += 20

    def resources(self):
        """Returns {(type, id): bytes} for every resource, of any language."""
        base_rva = self.directories[2][0]
        if not base_rva:
            return {}
        base = self.offset(base_rva)
        found = {}

        def entries(at):
            named, numbered = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + numbered):
                yield struct.unpack_from("<II", self.data, at + 16 + 8 * i)

        for type_id, type_at in entries(base):
            for name_id, name_at in entries(base + (type_at & 0x7FFFFFFF)):
                for _, leaf in entries(base + (name_at & 0x7FFFFFFF)):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    at = self.offset(rva)
                    found[(type_id, name_id)] = self.data[at:at + size]
        return found


def version_strings(block):
    """Walks a VS_VERSIONINFO block: yields (key, value bytes, children bytes)."""
    at = 0
    while at + 6 <= len(block):
        length, value_length, kind = struct.unpack_from("<HHH", block, at)
        if length == 0:
            break
        end = block.index(b"\0\0", at + 6)
        while (end - at - 6) % 2:
            end = block.index(b"\0\0", end + 1)
        key = block[at + 6:end].decode("utf-16-le")
        value_at = (end + 2 + 3) & ~3
        value_size = value_length * 2 if kind == 1 else value_length
        value = block[value_at:value_at + value_size]
        children_at = (value_at + value_size + 3) & ~3
        yield key, value, block[children_at:at + length]
        at = (at + length + 3) & ~3


class Executable(unittest.TestCase):
    path = None
    bits = 32

    @classmethod
    def setUpClass(cls):
        with open(cls.path, "rb") as f:
            cls.pe = PeFile(f.read())
        cls.resources = cls.pe.resources()

    def test_header_PE32GuiWithAslrAndDep(self):
        expected = (0x10B, 0x14C) if self.bits == 32 else (0x20B, 0x8664)
        self.assertEqual((self.pe.magic, self.pe.machine), expected)
        self.assertEqual(self.pe.subsystem, 2, "Windows GUI subsystem")
        for flag, name in ((0x40, "DYNAMIC_BASE"), (0x100, "NX_COMPAT")):
            self.assertTrue(self.pe.dll_characteristics & flag, name)
        self.assertEqual(self.pe.timestamp, 0, "no link time stamp")

    def test_imports_OnlyKnownDlls(self):
        imports = self.pe.imports()
        self.assertIn("advapi32.dll", imports)
        self.assertLessEqual(set(imports), KNOWN_DLLS)

    def test_manifest_None(self):
        self.assertFalse([key for key in self.resources if key[0] == RT_MANIFEST])

    def test_icon_TwoSixteenColourImages(self):
        group = self.resources[(RT_GROUP_ICON, IDI_QUORLIN)]
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 2))
        sizes = set()
        for i in range(count):
            width, height, colours, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            sizes.add((width, height))
            self.assertEqual((colours, bits), (16, 4))
            image = self.resources[(RT_ICON, icon_id)]
            header_size, dib_width, dib_height, _, dib_bits = struct.unpack_from("<IiiHH", image, 0)
            self.assertEqual((header_size, dib_width, dib_height, dib_bits), (40, width, 2 * height, 4))
        self.assertEqual(sizes, {(32, 32), (16, 16)})

    def test_banner_Jpeg400x100(self):
        banner = self.resources[(RT_RCDATA, IDR_BANNER)]
        self.assertEqual(banner[:2], b"\xFF\xD8")
        at = 2
        while banner[at + 1] not in (0xC0, 0xC1, 0xC2):
            at += 2 + struct.unpack_from(">H", banner, at + 2)[0]
        height, width = struct.unpack_from(">HH", banner, at + 5)
        self.assertEqual((width, height), (400, 100))

    def test_version_Record(self):
        (key, fixed, children), = version_strings(self.resources[(RT_VERSION, 1)])
        self.assertEqual(key, "VS_VERSION_INFO")
        signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed, 0)
        file_type = struct.unpack_from("<I", fixed, 36)[0]
        self.assertEqual(signature, 0xFEEF04BD)
        self.assertEqual((file_ms, file_ls, product_ms, product_ls), (0x00000001, 0x00000001, 0x00000001, 0x00000001))
        self.assertEqual(file_type, 1, "VFT_APP")
        blocks = {key: sub for key, _, sub in version_strings(children)}
        (language, _, strings), = version_strings(blocks["StringFileInfo"])
        self.assertEqual(language, "040904B0")
        values = {key: value.decode("utf-16-le").rstrip("\0") for key, value, _ in version_strings(strings)}
        self.assertEqual(values["ProductName"], "Quorlin")
        self.assertEqual(values["FileVersion"], "0.01.0001")
        self.assertEqual(values["ProductVersion"], "0.01.0001")
        (_, translation, _), = version_strings(blocks["VarFileInfo"])
        self.assertEqual(struct.unpack("<HH", translation), (0x0409, 1200))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("executable")
    parser.add_argument("--bits", type=int, choices=(32, 64), default=32)
    args, rest = parser.parse_known_args()
    Executable.path, Executable.bits = args.executable, args.bits
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
