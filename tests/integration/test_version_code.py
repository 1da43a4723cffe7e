#!/usr/bin/env python3
"""The version code the program works out under Wine, for each Windows
release Wine can pretend to be and each kernel file version.

The probe (a Windows program built from the program's own code) prints the
code; one throwaway prefix serves every case, with the reported release and
the kernel file switched between runs.

    test_version_code.py --probe version_probe.exe --plant version.dll \
        --versions DIR [unittest args]

DIR holds version_<a>_<b>_<c>_<d>.dll, each carrying that file version, and
version_none.dll without any version record.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'wine'))
import wineenv  # noqa: E402

# Well above a run's few tenths of a second; only guards against a stuck Wine.
RUN_TIMEOUT_S = 120

ARGS = None


class ProbePrefix:
    """A throwaway prefix whose wineserver stays up between runs.

    The prefix's services are started once, without any override: Wine's
    device host links to ntoskrnl.exe and would crash on a kernel file of
    ours (and its crash handler then waits for ever). Later runs reuse them.
    """

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix='corvales-version-')
        try:
            self._make()
        except BaseException:
            self.close()
            raise

    def _make(self):
        self.wine, self.wineserver, self.env = wineenv.fresh_prefix(self.dir)
        self.drive_c = os.path.join(self.env['WINEPREFIX'], 'drive_c')
        self.kernel = os.path.join(self.drive_c, 'windows', 'system32', 'ntoskrnl.exe')
        # The prefix's system files are hard links shared with the template
        # and every other prefix: never write into one, replace it.
        self.wine_kernel = os.path.join(self.dir, 'wine-ntoskrnl.exe')
        shutil.copyfile(self.kernel, self.wine_kernel)
        subprocess.run([self.wineserver, '-p'], env=self.env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.set_release('win10')

    def close(self):
        if getattr(self, 'env', None):
            subprocess.run([self.wineserver, '-k'], env=self.env, stdin=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            subprocess.run([self.wineserver, '-w'], env=self.env, stdin=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        shutil.rmtree(self.dir, ignore_errors=True)

    def _wine(self, args, overrides=''):
        """Runs a Wine command; returns (exit code, stdout, stderr) as text.

        Output goes through files: the prefix's services, started by the
        first command, inherit its handles and would hold a pipe open.
        """
        env = dict(self.env)
        env['WINEDLLOVERRIDES'] = ';'.join(filter(None, ['winemenubuilder.exe=d', overrides]))
        with tempfile.TemporaryFile(dir=self.dir) as out, tempfile.TemporaryFile(dir=self.dir) as err:
            code = subprocess.run([self.wine] + args, env=env, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=err, timeout=RUN_TIMEOUT_S).returncode
            out.seek(0)
            err.seek(0)
            return (code, out.read().decode('utf-8', errors='replace'),
                    err.read().decode('utf-8', errors='replace'))

    def set_release(self, release):
        code, _, err = self._wine(['winecfg', '-v', release])
        if code != 0:
            raise RuntimeError('winecfg -v %s failed: %s' % (release, err))

    def put_kernel(self, source):
        staged = self.kernel + '.new'
        shutil.copyfile(source, staged)
        os.replace(staged, self.kernel)

    def install(self, files, folder):
        """Copies files into C:\\<folder>; returns the folder's Windows path."""
        target = os.path.join(self.drive_c, folder)
        os.makedirs(target, exist_ok=True)
        for f in files:
            shutil.copyfile(f, os.path.join(target, os.path.basename(f)))
        return 'C:\\' + folder

    def probe(self, program, overrides):
        """Runs the probe; returns its report as a dict (version_module: list)."""
        code, text, err = self._wine([program], overrides)
        report = {'version_module': [], 'exit': code, 'text': text + err}
        for line in text.splitlines():
            key, sep, value = line.partition('=')
            if not sep:
                continue
            if key == 'version_module':
                path, *fields = value.split(';')
                module = dict(f.split('=', 1) for f in fields if '=' in f)
                module['path'] = path
                report[key].append(module)
            else:
                report[key] = value
        return report


def version_file(name):
    return os.path.join(ARGS.versions, 'version_%s.dll' % name)


class PrefixCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = ProbePrefix()

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()

    def run_probe(self, release, kernel, overrides, folder):
        """kernel: a version file's name, or None for Wine's own."""
        self.wine.set_release(release)
        self.wine.put_kernel(version_file(kernel) if kernel else self.wine.wine_kernel)
        report = self.wine.probe(folder + '\\version_probe.exe', overrides)
        self.assertEqual(report['exit'], 0, report['text'])
        return report


class VersionCodeTest(PrefixCase):
    # Programs without a manifest are told 6.2 on Windows 8 and later; from
    # there only the kernel file's version tells the release. Before that
    # the kernel file must not matter, so those rows carry a 10.0 one.
    CASES = [
        # release, kernel file (None: Wine's own, read without override), code
        ('winxp64', '10_0_19045_0', 5),
        ('vista', '10_0_19045_0', 7),
        ('win7', '10_0_19045_0', 8),
        ('win8', '6_2_9200_0', 10),
        ('win81', '6_3_9600_0', 11),
        ('win10', '6_4_9841_0', 12),
        ('win10', '10_0_19045_0', 12),
        ('win10', 'none', 10),
        ('win8', None, 10),
    ]

    def test_codes(self):
        folder = self.wine.install([ARGS.probe], 'probe')
        for release, kernel, code in self.CASES:
            with self.subTest(release=release, kernel=kernel):
                overrides = 'ntoskrnl.exe=n,b' if kernel else ''
                report = self.run_probe(release, kernel, overrides, folder)
                # Which kernel the run saw, so a wrong code is not blamed on
                # the classification when the kernel file was not in effect.
                seen = report.get('kernel_version')
                if kernel is None:
                    self.assertTrue(seen.startswith('6.1.'), report['text'])
                else:
                    self.assertEqual(seen, kernel.replace('_', '.'), report['text'])
                self.assertEqual(report.get('code'), str(code), report['text'])
                self.assertEqual(report.get('kernel'), r'C:\windows\system32\ntoskrnl.exe')


class PlantedVersionLibraryTest(PrefixCase):
    def test_copy_beside_the_program_is_not_read(self):
        folder = self.wine.install([ARGS.probe, ARGS.plant], 'planted')
        report = self.run_probe('win10', '10_0_19045_0', 'version=n,b;ntoskrnl.exe=n,b', folder)
        modules = {m['path'].lower(): m for m in report['version_module']}
        planted = modules.get((folder + '\\version.dll').lower())
        # The plant must really be in the process and answer "no version",
        # or this run shows nothing.
        self.assertIsNotNone(planted, report['text'])
        self.assertEqual(planted['kernel'], 'none', report['text'])
        self.assertEqual(planted['planted_reads'], '0', report['text'])
        self.assertEqual(report.get('code'), '12', report['text'])
        system = modules.get(r'c:\windows\system32\version.dll')
        self.assertIsNotNone(system, report['text'])
        self.assertEqual(system['kernel'], '10.0.19045.0', report['text'])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument('--probe', required=True)
    parser.add_argument('--plant', required=True)
    parser.add_argument('--versions', required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
