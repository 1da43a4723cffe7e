#!/usr/bin/env python3
"""The PE checker must fail on the faults it exists for.

    test_check_pe.py <exe> --machine x86_64|i686

Each case copies the built program, breaks one thing by patching bytes, and
expects the checker to name that thing. A checker that passes everything
would otherwise go unnoticed.
"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_pe  # noqa: E402

EXE = None
MACHINE = None


def _put(data, structure, field, fmt, value):
    """Overwrite one field of a structure pefile read, in the file's bytes."""
    struct.pack_into(fmt, data, structure.get_field_absolute_offset(field), value)


def _type_entry(pe, type_id):
    return next(e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == type_id)


def set_subsystem_console(data, pe):
    _put(data, pe.OPTIONAL_HEADER, "Subsystem", "<H", 3)


def stamp_coff_header(data, pe):
    _put(data, pe.FILE_HEADER, "TimeDateStamp", "<I", 0x5F000000)


def stamp_resource_directory(data, pe):
    _put(data, pe.DIRECTORY_ENTRY_RESOURCE.struct, "TimeDateStamp", "<I", 0x5F000000)


def turn_version_into_manifest(data, pe):
    _put(data, _type_entry(pe, check_pe.RT_VERSION).struct, "Name", "<I", check_pe.RT_MANIFEST)


def swap_icon_group_ids(data, pe):
    first, second = _type_entry(pe, check_pe.RT_GROUP_ICON).directory.entries[:2]
    _put(data, first.struct, "Name", "<I", second.struct.Name)
    _put(data, second.struct, "Name", "<I", first.struct.Name)


def drop_last_icon_of_big_group(data, pe):
    group = check_pe.resource_entries(pe, check_pe.RT_GROUP_ICON)[107]
    # GRPICONDIR: reserved, type, then the image count.
    struct.pack_into("<H", data, pe.get_offset_from_rva(group.OffsetToData) + 4,
                     len(check_pe.ICON_GROUPS[107]) - 1)


def import_version_dll(data, pe):
    kernel32 = next(e for e in pe.DIRECTORY_ENTRY_IMPORT if e.dll.lower() == b"kernel32.dll")
    at = pe.get_offset_from_rva(kernel32.struct.Name)
    data[at:at + len(kernel32.dll) + 1] = b"VERSION.dll\0\0"[:len(kernel32.dll) + 1]


def rename_product(data, pe):
    # Only the value's first character: the string keeps its length.
    table = next(b for b in pe.FileInfo[0] if hasattr(b, "StringTable")).StringTable[0]
    at = table.entries_offsets[b"ProductName"][1]
    data[at:at + 2] = "X".encode("utf-16-le")


def clear_dll_characteristic(flag):
    def patch(data, pe):
        _put(data, pe.OPTIONAL_HEADER, "DllCharacteristics", "<H",
             pe.OPTIONAL_HEADER.DllCharacteristics & ~pefile.DLL_CHARACTERISTICS[flag])
    return patch


def zero_relocation_directory(data, pe):
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[check_pe.DIR_BASERELOC]
    _put(data, entry, "VirtualAddress", "<I", 0)
    _put(data, entry, "Size", "<I", 0)


def wipe_relocations(data, pe):
    # The directory entry stays; what it points at is gone.
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[check_pe.DIR_BASERELOC]
    at = pe.get_offset_from_rva(entry.VirtualAddress)
    data[at:at + entry.Size] = bytes(entry.Size)


def mark_relocations_stripped(data, pe):
    stripped = pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_RELOCS_STRIPPED"]
    _put(data, pe.FILE_HEADER, "Characteristics", "<H", pe.FILE_HEADER.Characteristics | stripped)


CASES = [
    # (what is broken, patch, words the failure must contain)
    ("console subsystem", set_subsystem_console, "subsystem is 3"),
    ("link time stamp", stamp_coff_header, "COFF TimeDateStamp"),
    ("resource time stamp", stamp_resource_directory, "resource directory"),
    ("manifest resource", turn_version_into_manifest, "RT_MANIFEST"),
    ("icon groups out of order", swap_icon_group_ids, "icon groups are [109, 107]"),
    ("icon image missing", drop_last_icon_of_big_group, "icon group 107 has images [64, 48, 32]"),
    ("non-Known DLL import", import_version_dll, "imports VERSION.dll"),
    ("wrong product name", rename_product, "ProductName is"),
    ("no base relocation directory", zero_relocation_directory, "no base relocation directory"),
    ("relocations wiped", wipe_relocations, "holds no relocations"),
    ("relocations marked stripped", mark_relocations_stripped, "IMAGE_FILE_RELOCS_STRIPPED is set"),
]

# High-entropy ASLR exists for 64-bit images only.
MITIGATION_FLAGS = {
    "x86_64": ["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE", "IMAGE_DLLCHARACTERISTICS_NX_COMPAT",
               "IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA"],
    "i686": ["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE", "IMAGE_DLLCHARACTERISTICS_NX_COMPAT"],
}


def cases(machine):
    return CASES + [("%s cleared" % flag, clear_dll_characteristic(flag), "lacks " + flag)
                    for flag in MITIGATION_FLAGS[machine]]


class CheckerCatchesFaults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(EXE, "rb") as f:
            cls.original = f.read()

    def test_built_program_passes(self):
        # Otherwise the failures below could come from somewhere else.
        self.assertEqual(check_pe.check(self.original, MACHINE), [])

    def test_each_fault_is_reported(self):
        for what, patch, expected in cases(MACHINE):
            with self.subTest(what):
                data = bytearray(self.original)
                patch(data, check_pe.load(self.original))
                failures = check_pe.check(bytes(data), MACHINE)
                self.assertTrue(any(expected in f for f in failures),
                                "%r not among %s" % (expected, failures))

    def test_other_machine_is_rejected(self):
        other = next(m for m in check_pe.MACHINES if m != MACHINE)
        failures = check_pe.check(self.original, other)
        self.assertTrue(any(f.startswith("machine is") for f in failures), failures)
        self.assertTrue(any("optional header magic" in f for f in failures), failures)

    def test_command_line_exit_codes(self):
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_pe.py")
        with tempfile.TemporaryDirectory() as tmp:
            broken = os.path.join(tmp, "broken.exe")
            data = bytearray(self.original)
            set_subsystem_console(data, check_pe.load(self.original))
            with open(broken, "wb") as f:
                f.write(data)
            notpe = os.path.join(tmp, "not.exe")
            with open(notpe, "wb") as f:
                f.write(b"#!/bin/sh\n")
            for path, code in ((EXE, 0), (broken, 1), (notpe, 2)):
                run = subprocess.run([sys.executable, script, path, "--machine", MACHINE],
                                     capture_output=True, text=True)
                self.assertEqual(run.returncode, code, run.stdout + run.stderr)


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[2] != "--machine":
        sys.exit("usage: test_check_pe.py <exe> --machine x86_64|i686")
    EXE, MACHINE = sys.argv[1], sys.argv[3]
    unittest.main(argv=sys.argv[:1])
