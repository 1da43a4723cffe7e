#!/usr/bin/env python3
"""The version code the program works out under Wine, for each Windows
release Wine can pretend to be, each kernel file version, and each kind of
Windows the build runs on.

The probe (a Windows program built from the program's own code) prints the
code; one throwaway prefix of each kind serves every case, with the reported
release and the kernel file switched between runs. The 64-bit build runs on
a 64-bit Windows; the 32-bit build there too, under WoW64, and on a 32-bit
Windows.

    test_version_code.py --build i686|x86_64 --probe version_probe.exe \
        --plant version.dll --versions DIR [unittest args]

DIR holds version_<a>_<b>_<c>_<d>.dll, each carrying that file version, and
version_none.dll without any version record.
"""
import argparse
import os
import shutil
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'wine'))
from wineprefix import Prefix, add_build_argument  # noqa: E402

ARGS = None

# The kinds of Windows each build is tested on.
KINDS = {'x86_64': ('win64',), 'i686': ('win64', 'win32')}

# Wine's own kernel file, read without the override.
WINE_OWN = None
KERNEL_OVERRIDE = 'ntoskrnl.exe=n,b'

# Each release with the kernel file put into System32 (the 64-bit one on a
# 64-bit Windows, where that release keeps it), and the code the program
# must work out there for each build and kind of Windows; None where that
# build never meets that release.
#
# Programs without a manifest are told 6.2 on Windows 8 and later; from
# there only the kernel file's version tells the release. Before that the
# kernel file must not matter, so those rows carry a 10.0 one.
#
# A 32-bit program on a 64-bit Windows looks the kernel file up in the
# system directory it is told (System32), and redirection sends it to
# SysWOW64, which holds no kernel file on Windows (nor in these prefixes):
# every 64-bit Windows 8, 8.1 and 10 is 10 to it, whatever System32 holds.
# Its rows keep our kernel file in System32 and the override, so a lookup
# that got past the redirection would read it and turn them red.
COLUMNS = (('x86_64', 'win64'), ('i686', 'win64'), ('i686', 'win32'))
CODES = [
    # release   kernel file      x86_64  i686   i686
    #                            win64   win64  win32
    ('winxp64', '10_0_19045_0',  5,      5,     None),  # XP x64 is 64-bit only
    ('winxp',   '10_0_19045_0',  None,   None,  6),
    ('vista',   '10_0_19045_0',  7,      7,     7),
    ('win7',    '10_0_19045_0',  8,      8,     8),
    ('win8',    '6_2_9200_0',    10,     10,    10),
    ('win81',   '6_3_9600_0',    11,     10,    11),
    ('win10',   '6_4_9841_0',    12,     10,    12),
    ('win10',   '10_0_19045_0',  12,     10,    12),
    ('win10',   'none',          10,     10,    10),
    ('win8',    WINE_OWN,        10,     10,    10),
]


def codes_for(build, arch):
    """(release, kernel file, code) of the rows that apply to this column."""
    column = COLUMNS.index((build, arch))
    return [(release, kernel, codes[column])
            for release, kernel, *codes in CODES if codes[column] is not None]


def version_file(name):
    return os.path.join(ARGS.versions, 'version_%s.dll' % name)


def version_text(name):
    """A version file's name as the probe prints its version ('none' stays)."""
    return name.replace('_', '.')


def parse_probe(text):
    """The probe's lines as a dict: version_module a list of dicts,
    file_version {path: version}, everything else as text."""
    report = {'version_module': [], 'file_version': {}}
    for line in text.splitlines():
        key, sep, value = line.partition('=')
        if not sep:
            continue
        if key == 'version_module':
            path, *fields = value.split(';')
            module = dict(f.split('=', 1) for f in fields if '=' in f)
            module['path'] = path
            report[key].append(module)
        elif key == 'file_version':
            path, _, version = value.rpartition(';')
            report[key][path] = version
        else:
            report[key] = value
    return report


class ProbePrefix:
    """A throwaway prefix of one kind, laid out as Windows of that kind is,
    whose wineserver stays up between runs.

    The prefix's services are started once, without any override: Wine's
    device host links to ntoskrnl.exe and would crash on a kernel file of
    ours (and its crash handler then waits for ever). Later runs reuse them.
    """

    def __init__(self, build, arch):
        self.build, self.arch = build, arch
        # A 32-bit program on a 64-bit Windows: what it is told is System32
        # is SysWOW64.
        self.wow64 = build == 'i686' and arch == 'win64'
        # Where the program's kernel lookup really lands.
        self.lookup_folder = 'syswow64' if self.wow64 else 'system32'
        # System32's kernel file from this process, past any redirection.
        self.native_kernel = (r'C:\windows\sysnative\ntoskrnl.exe' if self.wow64
                              else r'C:\windows\system32\ntoskrnl.exe')
        self.release = None
        self.wine = Prefix(arch=arch, persistent=True, prefix='corvales-version-')
        try:
            self.wine_kernel = os.path.join(self.wine.dir, 'wine-ntoskrnl.exe')
            shutil.copyfile(os.path.join(self.wine.system_dir('system32'), 'ntoskrnl.exe'),
                            self.wine_kernel)
            # The first command: starts the services, without the override.
            self.set_release('win10')
        except BaseException:
            self.wine.close()
            raise

    def close(self):
        self.wine.close()

    def set_release(self, release):
        if release != self.release:
            self.wine.set_version(release)
            self.release = release

    def install(self, files, folder):
        """Copies files into C:\\<folder>; returns the folder's Windows path."""
        target = 'C:\\' + folder
        for f in files:
            self.wine.copy_in(f, target + '\\' + os.path.basename(f))
        return target

    def run_probe(self, release, kernel, overrides, folder, kernel_folder='system32',
                  read=()):
        """kernel: a version file's name, or WINE_OWN. read: Windows paths
        whose versions the probe reports as well."""
        self.set_release(release)
        self.wine.put_kernel(version_file(kernel) if kernel else self.wine_kernel, kernel_folder)
        result = self.wine.run(folder + '\\version_probe.exe', *read, overrides=overrides,
                               check=False)
        report = parse_probe(result.text)
        report['exit'] = result.returncode
        report['text'] = '%s on %s: %s' % (self.build, self.arch, result)
        return report


class PrefixCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefixes = []
        try:
            for arch in KINDS[ARGS.build]:
                cls.prefixes.append(ProbePrefix(ARGS.build, arch))
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for prefix in cls.prefixes:
            prefix.close()


class VersionCodeTest(PrefixCase):
    def test_codes(self):
        for wine in self.prefixes:
            folder = wine.install([ARGS.probe], 'probe')
            for release, kernel, code in codes_for(wine.build, wine.arch):
                with self.subTest(windows=wine.arch, release=release, kernel=kernel):
                    # Only the probe's own run gets the override.
                    overrides = KERNEL_OVERRIDE if kernel else ''
                    report = wine.run_probe(release, kernel, overrides, folder,
                                            read=[wine.native_kernel])
                    self.assertEqual(report['exit'], 0, report['text'])
                    # The kernel file really in effect in System32, so that a
                    # wrong code is not blamed on the classification when the
                    # file of this row was not in place.
                    in_place = report['file_version'].get(wine.native_kernel)
                    if kernel is WINE_OWN:
                        self.assertTrue(in_place.startswith('6.1.'), report['text'])
                    else:
                        self.assertEqual(in_place, version_text(kernel), report['text'])
                    # What the program's own lookup found there.
                    self.assertEqual(report.get('kernel_version'),
                                     'none' if wine.wow64 else in_place, report['text'])
                    self.assertEqual(report.get('code'), str(code), report['text'])
                    # As the system reports the folder, also where it redirects.
                    self.assertEqual(report.get('kernel'), r'C:\windows\system32\ntoskrnl.exe',
                                     report['text'])


class PlantedVersionLibraryTest(PrefixCase):
    def test_copy_beside_the_program_is_not_read(self):
        for wine in self.prefixes:
            with self.subTest(windows=wine.arch):
                folder = wine.install([ARGS.probe, ARGS.plant], 'planted')
                # The kernel file goes where the program's lookup lands, even
                # into SysWOW64, which has none on Windows: only then does
                # the system's copy find a version where the planted one
                # finds none, and the two copies tell themselves apart.
                report = wine.run_probe('win10', '10_0_19045_0',
                                        'version=n,b;' + KERNEL_OVERRIDE, folder,
                                        kernel_folder=wine.lookup_folder)
                self.assertEqual(report['exit'], 0, report['text'])
                modules = {m['path'].lower(): m for m in report['version_module']}
                planted = modules.get((folder + '\\version.dll').lower())
                # The plant must really be in the process and answer "no
                # version", or this run shows nothing.
                self.assertIsNotNone(planted, report['text'])
                self.assertEqual(planted['kernel'], 'none', report['text'])
                self.assertEqual(planted['planted_reads'], '0', report['text'])
                self.assertEqual(report.get('code'), '12', report['text'])
                # Listed under the System32 path the program loaded it by,
                # under WoW64 too, where Wine maps it from SysWOW64.
                system = modules.get(r'c:\windows\system32\version.dll')
                self.assertIsNotNone(system, report['text'])
                self.assertTrue(system['mapped'].lower().endswith(
                    '\\windows\\%s\\version.dll' % wine.lookup_folder), report['text'])
                self.assertEqual(system['kernel'], '10.0.19045.0', report['text'])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    add_build_argument(parser)
    parser.add_argument('--probe', required=True)
    parser.add_argument('--plant', required=True)
    parser.add_argument('--versions', required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
