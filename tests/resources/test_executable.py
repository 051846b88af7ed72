#!/usr/bin/python3
# Checks the built executable itself, without running it: its PE header, its
# imports, and the resources built into it (version record, icon, no manifest; the
# banner is seen drawn in the end-to-end tests).

import argparse
import struct
import sys
import unittest

import pefile

# System DLLs that Windows always loads from the system directory (Known DLLs).
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll", "shell32.dll"}
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
IDI_QUORLIN = 101


class Executable(unittest.TestCase):
    path, bits = None, 32

    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(cls.path)
        cls.resources = {(kind.id, name.id): cls.pe.get_data(item.data.struct.OffsetToData, item.data.struct.Size)
                         for kind in cls.pe.DIRECTORY_ENTRY_RESOURCE.entries
                         for name in kind.directory.entries for item in name.directory.entries}

    def test_header_GuiWithAslrAndDepAndNoTimestamp(self):
        expected = (0x10B, 0x14C) if self.bits == 32 else (0x20B, 0x8664)
        self.assertEqual((self.pe.OPTIONAL_HEADER.Magic, self.pe.FILE_HEADER.Machine), expected)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, 2, "Windows GUI subsystem")
        self.assertEqual(self.pe.OPTIONAL_HEADER.DllCharacteristics & 0x140, 0x140, "DYNAMIC_BASE and NX_COMPAT")
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0)

    def test_imports_OnlyKnownDlls(self):
        imports = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertIn("advapi32.dll", imports)
        self.assertLessEqual(imports, KNOWN_DLLS)

    def test_manifest_None(self):
        self.assertFalse([key for key in self.resources if key[0] == RT_MANIFEST])

    def test_icon_TwoSixteenColourImages(self):
        group = self.resources[(RT_GROUP_ICON, IDI_QUORLIN)]
        self.assertEqual(struct.unpack_from("<HHH", group), (0, 1, 2))
        sizes = set()
        for i in range(2):
            width, height, colours, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            sizes.add((width, height))
            self.assertEqual((colours, bits), (16, 4))
            header = struct.unpack_from("<IiiHH", self.resources[(RT_ICON, icon_id)])
            self.assertEqual(header, (40, width, 2 * height, 1, 4))
        self.assertEqual(sizes, {(32, 32), (16, 16)})

    def test_version_Record(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        # Version 0.01.0001 as the numbers 0.1.0.1 of both kinds; the file type is VFT_APP.
        versions = (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS)
        self.assertEqual((*versions, fixed.FileType), (1, 1, 1, 1, 1))
        infos = {info.Key: info for info in self.pe.FileInfo[0]}
        (table,) = infos[b"StringFileInfo"].StringTable
        self.assertEqual(table.LangID, b"040904B0")
        for key in (b"ProductName", b"FileVersion", b"ProductVersion"):
            self.assertEqual(table.entries[key], {b"ProductName": b"Quorlin"}.get(key, b"0.01.0001"))
        self.assertEqual(infos[b"VarFileInfo"].Var[0].entry, {b"Translation": "0x0409 0x04b0"})


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("executable")
    parser.add_argument("--bits", type=int, choices=(32, 64), default=32)
    args, rest = parser.parse_known_args()
    Executable.path, Executable.bits = args.executable, args.bits
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
