#!/usr/bin/env python3
"""Check the built corvalesmgr.exe for what the compiler cannot promise.

    check_pe.py <exe> --machine x86_64|i686

The file is read with pefile (Debian's python3-pefile) rather than objdump so
that the checks do not depend on how a binutils version prints things. Prints
one line per failed check and exits 1 if any failed, 2 if the file is not a
PE image at all.
"""

import argparse
import struct
import sys

import pefile

MACHINES = {
    # --machine: (COFF Machine, optional header Magic, its name)
    "x86_64": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"],
               pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS, "PE32+"),
    "i686": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
             pefile.OPTIONAL_HEADER_MAGIC_PE, "PE32"),
}

SUBSYSTEM_WINDOWS_GUI = pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]

RT_ICON = pefile.RESOURCE_TYPE["RT_ICON"]
RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_GROUP_ICON"]
RT_VERSION = pefile.RESOURCE_TYPE["RT_VERSION"]
RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]

# Group id -> image sizes in the order the shell should find them.
ICON_GROUPS = {107: [64, 48, 32, 16], 109: [48, 32, 16]}

PRODUCT_NAME = "Lumora网址大全桌面版"
ORIGINAL_FILENAME = "corvalesmgr.exe"
NON_EMPTY_STRINGS = ("FileDescription", "CompanyName", "FileVersion", "ProductVersion")
FILE_VERSION = (1, 0, 0, 0)
VS_FFI_SIGNATURE = 0xFEEF04BD
VS_FIXEDFILEINFO_SIZE = 52

# Known DLLs only: a DLL outside this set is searched for next to the program
# first, which would let a planted file in the download folder be loaded.
ALLOWED_DLLS = {
    "kernel32.dll", "user32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll",
    "advapi32.dll", "msvcrt.dll", "gdi32.dll", "comdlg32.dll", "oleaut32.dll",
}

DIR_IMPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]
DIR_RESOURCE = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]
DIR_BASERELOC = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]
DIR_DELAY_IMPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]

DYNAMIC_BASE = "IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"
NX_COMPAT = "IMAGE_DLLCHARACTERISTICS_NX_COMPAT"
HIGH_ENTROPY_VA = "IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA"
RELOCS_STRIPPED = "IMAGE_FILE_RELOCS_STRIPPED"

# Exploit mitigations Windows applies only when the image asks for them.
# High-entropy ASLR needs a 64-bit address space.
REQUIRED_DLL_CHARACTERISTICS = {
    "x86_64": {DYNAMIC_BASE: "ASLR", NX_COMPAT: "DEP", HIGH_ENTROPY_VA: "high-entropy ASLR"},
    "i686": {DYNAMIC_BASE: "ASLR", NX_COMPAT: "DEP"},
}


def load(data):
    """The image parsed by pefile, with only the directories checked here."""
    pe = pefile.PE(data=data, fast_load=True)
    # Names only: the loader maps every imported DLL, even one whose thunk
    # list pefile could not read, so none may be skipped.
    pe.parse_data_directories(
        directories=[DIR_IMPORT, DIR_RESOURCE, DIR_BASERELOC, DIR_DELAY_IMPORT],
        import_dllnames_only=True)
    return pe


def _directory(pe, index):
    """The data directory entry, or None when the image has none there."""
    dirs = pe.OPTIONAL_HEADER.DATA_DIRECTORY
    if index >= len(dirs) or (dirs[index].VirtualAddress == 0 and dirs[index].Size == 0):
        return None
    return dirs[index]


def _in_file(pe, rva):
    """True if rva lies in the initialised (file-backed) part of a section."""
    section = pe.get_section_by_rva(rva)
    return section is not None and rva - section.VirtualAddress < section.SizeOfRawData


def _entry_name(entry):
    """A resource entry's id, or its name for named entries."""
    return entry.id if entry.id is not None else str(entry.name)


def resource_timestamps(pe):
    """TimeDateStamp of every resource directory table, root first."""
    stamps = []

    def walk(directory):
        stamps.append(directory.struct.TimeDateStamp)
        for entry in directory.entries:
            if hasattr(entry, "directory"):
                walk(entry.directory)

    if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        walk(pe.DIRECTORY_ENTRY_RESOURCE)
    return stamps


def resource_types(pe):
    """Type ids (or names) in directory order."""
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return []
    return [_entry_name(e) for e in pe.DIRECTORY_ENTRY_RESOURCE.entries]


def resource_entries(pe, type_id):
    """{name: first language's data entry} of one resource type, in directory order.

    The order is the directory's, which is the order the loader and the shell
    enumerate.
    """
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id == type_id and hasattr(t, "directory"):
            return {_entry_name(n): n.directory.entries[0].data.struct
                    for n in t.directory.entries
                    if hasattr(n, "directory") and n.directory.entries
                    and hasattr(n.directory.entries[0], "data")}
    return {}


def resource_map(pe, type_id):
    """{name: first language's bytes} of one resource type, in directory order."""
    return {name: pe.get_data(entry.OffsetToData, entry.Size)
            for name, entry in resource_entries(pe, type_id).items()}


def _translations(pe, var):
    """(language, code page) pairs of a VarFileInfo Translation.

    pefile keeps only the last pair, so the list is read from the value it
    located: DWORDs after the key, aligned to four bytes.
    """
    key = next(iter(var.entry))
    at = var.get_file_offset() + var.sizeof() + 2 * (len(key) + 1)
    at = (at + 3) & ~3
    value = pe.__data__[at:at + var.ValueLength]
    return [struct.unpack_from("<HH", value, i) for i in range(0, len(value) - 3, 4)]


def read_version(pe):
    """{"fixed", "value_length", "strings": {block: {k: v}}, "translations"} or None.

    The first version resource, as pefile read it; None if it could not.
    """
    if not getattr(pe, "VS_VERSIONINFO", None) or not getattr(pe, "VS_FIXEDFILEINFO", None):
        return None
    info = {
        "fixed": pe.VS_FIXEDFILEINFO[0],
        "value_length": pe.VS_VERSIONINFO[0].ValueLength,
        "strings": {},
        "translations": [],
    }
    for block in (pe.FileInfo[0] if getattr(pe, "FileInfo", None) else []):
        for table in getattr(block, "StringTable", []):
            info["strings"][table.LangID.decode("utf-8", "replace").lower()] = {
                k.decode("utf-8", "replace"): v.decode("utf-8", "replace")
                for k, v in table.entries.items()}
        for var in getattr(block, "Var", []):
            if b"Translation" in getattr(var, "entry", {}):
                info["translations"] += _translations(pe, var)
    return info


def _version_tuple(ms, ls):
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def _delay_descriptor_name(pe, data, at):
    """DLL name of a delay-import descriptor at file offset at, or None."""
    attributes, name_rva, hmod_rva, iat_rva, int_rva = struct.unpack_from("<5I", data, at)
    if attributes != 1:
        return None
    if not all(_in_file(pe, rva) for rva in (name_rva, hmod_rva, iat_rva, int_rva)):
        return None
    name = pe.get_string_at_rva(name_rva, 260)
    if not name.lower().endswith(b".dll") or not all(0x20 < c < 0x7F for c in name):
        return None
    return name.decode("ascii")


def read_imports(pe):
    """(imported DLLs, delay-loaded DLLs), each a list of names."""
    imports = [e.dll.decode("ascii", "replace")
               for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    delayed = [e.dll.decode("ascii", "replace")
               for e in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
    # GNU ld links dlltool's delay-import libraries without filling in the
    # delay-import directory, so look for their descriptors in the sections.
    data = pe.__data__
    seen = {name.lower() for name in delayed}
    for section in pe.sections:
        raw_ptr = section.PointerToRawData
        end = raw_ptr + section.SizeOfRawData - 32
        at = data.find(b"\1\0\0\0", raw_ptr, end + 4)
        while 0 <= at <= end:
            if at % 4 == 0:
                name = _delay_descriptor_name(pe, data, at)
                if name and name.lower() not in seen:
                    seen.add(name.lower())
                    delayed.append(name)
            at = data.find(b"\1\0\0\0", at + 1, end + 4)
    return imports, delayed


def _icon_size(image):
    """Width and height of one RT_ICON image, PNG or DIB."""
    if image[:8] == b"\x89PNG\r\n\x1a\n":
        return struct.unpack_from(">II", image, 16)
    width, height = struct.unpack_from("<ii", image, 4)
    return width, height // 2  # a DIB icon's height counts the AND mask too


def _check_mitigations(pe, machine, fail):
    characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
    for flag, what in REQUIRED_DLL_CHARACTERISTICS[machine].items():
        if not characteristics & pefile.DLL_CHARACTERISTICS[flag]:
            fail("DllCharacteristics 0x%x lacks %s (%s)" % (characteristics, flag, what))
    # ASLR can only move an image that keeps its base relocations.
    if pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS[RELOCS_STRIPPED]:
        fail("%s is set, so the loader cannot move the image (no ASLR)" % RELOCS_STRIPPED)
    if _directory(pe, DIR_BASERELOC) is None:
        fail("has no base relocation directory, so the loader cannot move the image (no ASLR)")
    else:
        fixups = [e for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", [])
                  for e in block.entries
                  if e.type != pefile.RELOCATION_TYPE["IMAGE_REL_BASED_ABSOLUTE"]]
        if not fixups:
            fail("base relocation directory holds no relocations")


def _check_icons(pe, fail):
    groups = resource_map(pe, RT_GROUP_ICON)
    icons = resource_map(pe, RT_ICON)
    if list(groups) != list(ICON_GROUPS):
        fail("icon groups are %s in directory order, expected %s"
             % (list(groups), list(ICON_GROUPS)))
    for gid, want_sizes in ICON_GROUPS.items():
        if gid not in groups:
            continue
        grp = groups[gid]
        _, kind, count = struct.unpack_from("<HHH", grp, 0)
        entries = [struct.unpack_from("<BBBBHHIH", grp, 6 + 14 * i) for i in range(count)]
        sizes = [e[0] or 256 for e in entries]
        if kind != 1 or sizes != want_sizes:
            fail("icon group %d has images %s, expected %s" % (gid, sizes, want_sizes))
        for e in entries:
            size, icon_id = e[0] or 256, e[7]
            if icon_id not in icons:
                fail("icon group %d refers to RT_ICON %d, which does not exist" % (gid, icon_id))
            elif _icon_size(icons[icon_id]) != (size, size):
                fail("icon group %d says RT_ICON %d is %d px, the image is %dx%d"
                     % ((gid, icon_id, size) + tuple(_icon_size(icons[icon_id]))))


def _check_version(pe, fail):
    if not resource_entries(pe, RT_VERSION):
        fail("has no RT_VERSION resource")
        return
    info = read_version(pe)
    if info is None:
        fail("RT_VERSION resource is not a readable VS_VERSION_INFO")
        return
    if info["value_length"] < VS_FIXEDFILEINFO_SIZE:
        fail("VS_FIXEDFILEINFO is %d bytes, expected %d"
             % (info["value_length"], VS_FIXEDFILEINFO_SIZE))
    fixed = info["fixed"]
    if fixed.Signature != VS_FFI_SIGNATURE:
        fail("VS_FIXEDFILEINFO signature is 0x%x, expected 0x%x"
             % (fixed.Signature, VS_FFI_SIGNATURE))
    file_version = _version_tuple(fixed.FileVersionMS, fixed.FileVersionLS)
    if file_version != FILE_VERSION:
        fail("file version is %s, expected %s" % (
            ".".join(map(str, file_version)), ".".join(map(str, FILE_VERSION))))
    if len(info["strings"]) != 1:
        fail("expected one StringTable, found %s" % sorted(info["strings"]))
    for block, strings in info["strings"].items():
        try:
            lang_cp = (int(block[:4], 16), int(block[4:], 16)) if len(block) == 8 else None
        except ValueError:
            lang_cp = None
        if lang_cp not in info["translations"]:
            fail("StringTable %s is not listed in VarFileInfo Translation %s"
                 % (block, info["translations"]))
        for key, want in (("ProductName", PRODUCT_NAME),
                          ("OriginalFilename", ORIGINAL_FILENAME)):
            if strings.get(key) != want:
                fail("%s is %r, expected %r" % (key, strings.get(key), want))
        for key in NON_EMPTY_STRINGS:
            if not strings.get(key):
                fail("%s is missing or empty" % key)


def check(data, machine):
    """All checks on one image; returns the failures as readable lines."""
    failures = []
    fail = failures.append
    pe = load(data)

    want_machine, want_magic, magic_name = MACHINES[machine]
    if pe.FILE_HEADER.Machine != want_machine:
        fail("machine is 0x%x, expected 0x%x for %s"
             % (pe.FILE_HEADER.Machine, want_machine, machine))
    if pe.OPTIONAL_HEADER.Magic != want_magic:
        fail("optional header magic is 0x%x, expected 0x%x (%s)"
             % (pe.OPTIONAL_HEADER.Magic, want_magic, magic_name))
    if pe.OPTIONAL_HEADER.Subsystem != SUBSYSTEM_WINDOWS_GUI:
        fail("subsystem is %d, expected %d (Windows GUI)"
             % (pe.OPTIONAL_HEADER.Subsystem, SUBSYSTEM_WINDOWS_GUI))
    if pe.FILE_HEADER.TimeDateStamp != 0:
        fail("COFF TimeDateStamp is 0x%x, expected 0 for a reproducible build"
             % pe.FILE_HEADER.TimeDateStamp)
    _check_mitigations(pe, machine, fail)

    stamped = [t for t in resource_timestamps(pe) if t != 0]
    if stamped:
        fail("%d resource directory table(s) carry a TimeDateStamp (first 0x%x), expected 0"
             % (len(stamped), stamped[0]))
    if RT_MANIFEST in resource_types(pe):
        fail("has an RT_MANIFEST resource; the program must carry no manifest")
    _check_icons(pe, fail)
    _check_version(pe, fail)

    imports, delayed = read_imports(pe)
    for kind, names in (("imports", imports), ("delay-loads", delayed)):
        for name in names:
            if name.lower() not in ALLOWED_DLLS:
                fail("%s %s, which is not one of the allowed Known DLLs" % (kind, name))

    # What pefile could not read is not checked above; the program we ship
    # must be readable throughout.
    for warning in pe.get_warnings():
        fail("pefile: %s" % warning)
    return failures


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.strip().splitlines()[0])
    parser.add_argument("exe")
    parser.add_argument("--machine", required=True, choices=sorted(MACHINES))
    args = parser.parse_args(argv)
    try:
        with open(args.exe, "rb") as f:
            data = f.read()
        failures = check(data, args.machine)
    except (OSError, pefile.PEFormatError, struct.error) as e:
        print("%s: cannot check: %s" % (args.exe, e))
        return 2
    for line in failures:
        print("%s: FAIL: %s" % (args.exe, line))
    if failures:
        return 1
    print("%s: all PE checks passed" % args.exe)
    return 0


if __name__ == "__main__":
    sys.exit(main())
