#!/usr/bin/env python3
"""`corvalesmgr.exe /uninst` under Wine, in prefixes laid out as a per-user install.

Every scenario compares snapshots of the prefix's files and of HKCU taken
before and after, so anything the program touches beyond its own items shows.

    test_uninstall.py --build i686|x86_64 --exe corvalesmgr.exe --layout ... --driver ...
                      --probe ... --planted-version version.dll --kernel k_6_2.exe ...
                      [unittest args]

The i686 build runs in 64-bit prefixes under WoW64, as on 64-bit Windows,
and where a scenario says so in a 32-bit Windows too.
"""
import argparse
import hashlib
import os
import sys
import time
import unittest

from uninstallprefix import (PLANTED_LOG, PROBE_LOG, PRODUCT_KEY, TOOLS, Helpers,
                             UninstallPrefix)
from wineprefix import apartment_faults  # noqa: E402

HELPERS = None
EVERYWHERE = ('desktop=ours', 'startmenu=ours', 'programs=ours', 'programs-uninst',
              'quicklaunch=ours', 'pinned-taskbar=ours', 'pinned-startmenu=ours')
DECOYS = ('desktop=decoy', 'startmenu=decoy', 'programs=decoy', 'programs-uninst',
          'quicklaunch=decoy', 'pinned-taskbar=decoy', 'pinned-startmenu=decoy')
CAPTION = '卸载提示'
TEXT = '是否完全卸载Lumora网址大全桌面版？'
# Longer than phase 2's pause before it acts: a copy that was started would
# have written its mark by then.
NOT_STARTED_WAIT_S = 4


def sha256(path):
    with open(path, 'rb') as f:
        return hashlib.sha256(f.read()).hexdigest()


class UninstallCase(unittest.TestCase):
    maxDiff = None

    def prefix(self, version='win7', kernel=None, arch='win64'):
        """A new prefix; the test's previous one is closed first, so a loop
        over releases keeps one Wine session at a time."""
        if getattr(self, '_prefix', None):
            self._prefix.close()
        p = self._prefix = UninstallPrefix(HELPERS, version=version, kernel=kernel, arch=arch)
        self.addCleanup(p.close)
        return p

    def arches(self):
        """The kinds of Windows this build runs on."""
        return ('win64', 'win32') if HELPERS.build == 'i686' else ('win64',)

    def verbs(self, p):
        """(verb, link) for each unpin verb the shell handed to our handler."""
        calls = []
        for program, line in p.log(PROBE_LOG):
            if program.lower() == (TOOLS + 'probe.exe').lower():
                _, verb, link = line.split(' ', 2)
                calls.append((verb, link.strip('"')))
        return sorted(calls)

    def product_files(self, p):
        """The installed files and the Programs folder's links, as snapshot names."""
        d = p.paths
        return {p.name(d['install']), p.name(d['exe']), p.name(d['install'] + 'config.ini'),
                p.name(d['install'] + '卸载Lumora网址大全.lnk')}

    def programs_folder(self, p):
        d = p.paths
        return {p.name(d['programs']), p.name(d['programs'] + 'Lumora网址大全.lnk'),
                p.name(d['programs'] + '卸载Lumora网址大全.lnk')}

    def product_keys(self):
        return {PRODUCT_KEY, PRODUCT_KEY + '\\components'}

    def expect(self, **changes):
        return {k: set(v) for k, v in changes.items() if v}

    def assertPhaseOneRan(self, report):
        self.assertEqual((report['box'], report['caption'], report['text'], report['buttons']),
                         ('shown', CAPTION, TEXT, '1,2'))
        self.assertEqual(report['exit'], '0')
        self.assertNotIn('children_left', report, 'what the program started did not end')


class OkTest(UninstallCase):
    def test_removes_the_product_and_asks_to_delete_its_copy_at_restart(self):
        for arch in self.arches():
            with self.subTest(arch=arch):
                self.check_ok(arch)

    def check_ok(self, arch):
        p = self.prefix('win7', arch=arch)
        links = p.lay_out('desktop=upper', *EVERYWHERE[1:])
        self.assertEqual(links['target-desktop'], links['exe'][:-15] + 'CORVALESMGR.EXE')
        before = p.snapshot()

        report = p.uninstall('ok', wait_gone=True)
        self.assertPhaseOneRan(report)
        self.assertIn('gone_ms', report)
        self.assertEqual(self.verbs(p), [('startunpin', links['link-pinned-startmenu']),
                                         ('taskbarunpin', links['link-pinned-taskbar'])])
        temp_exe = links['temp'] + 'corvalesmgr.exe'
        # Pinned links are only unpinned: the shell, not we, removes them.
        self.assertEqual(before.diff(p.snapshot()), self.expect(**{
            'files-': self.product_files(p) | self.programs_folder(p)
                      | {p.name(links['link-desktop'])},
            'files+': {p.name(temp_exe)},
            'keys-': self.product_keys()}))
        self.assertEqual(sha256(p.unix(temp_exe)), sha256(HELPERS.exe))
        # Wine grants a restart-delete mark to anyone; Windows only to
        # administrators, so for an ordinary user the copy stays there. What
        # this shows: the request names the copy's own path and nothing else,
        # and once it is carried out nothing of ours is left.
        self.assertEqual(p.pending_renames(), ['\\??\\' + temp_exe])

        p.restart()
        self.assertFalse(p.exists(temp_exe))
        self.assertEqual(p.pending_renames(), [])


class AnswerTest(UninstallCase):
    def test_anything_but_ok_changes_nothing(self):
        p = self.prefix('win7')
        p.lay_out(*EVERYWHERE)
        for answer in ('cancel', 'close'):
            with self.subTest(answer=answer):
                before = p.snapshot()
                report = p.uninstall(answer)
                self.assertEqual(report['box'], 'shown')
                self.assertEqual((report['exit'], report['children']), ('0', '0'))
                self.assertEqual(before.diff(p.snapshot()), {})
                self.assertEqual(self.verbs(p), [])


class ComTest(UninstallCase):
    def test_each_shell_call_has_an_apartment_of_its_own(self):
        # Windows 7 unpins, so phase 1 makes all three of its shell calls.
        p = self.prefix('win7')
        links = p.lay_out(*EVERYWHERE)
        report, calls = p.uninstall('ok', wait_gone=True, trace=True)
        self.assertPhaseOneRan(report)
        self.assertEqual(apartment_faults(calls), [])
        shell = [args for name, args, _ in calls if name == 'shell32.ShellExecuteW']
        self.assertEqual(len(shell), 3, calls)
        # Relay doubles backslashes and escapes Chinese, so the links are
        # known by their folders.
        for args, verb, file in zip(shell, ('startunpin', 'taskbarunpin', 'open'),
                                    ('User Pinned\\StartMenu\\', 'User Pinned\\TaskBar\\',
                                     links['temp'] + 'corvalesmgr.exe')):
            self.assertIn('L"%s"' % verb, args)
            self.assertIn(file.replace('\\', '\\\\'), args)


class VersionTest(UninstallCase):
    # (winecfg version, kernel file version in System32, what the release
    # does for the 64-bit build). Programs without a manifest are told 6.2
    # from Windows 8 on, and only the kernel file tells 8, 8.1 and 10 apart.
    RELEASES = [
        ('vista', None, 'unpin'),
        ('win7', None, 'unpin'),
        ('win8', '6.2', 'unpin'),
        ('win81', '6.3', 'pinned'),
        ('win10', '10.0', 'pinned'),
        ('winxp64', None, 'classic'),
    ]
    # The 32-bit build on 64-bit Windows looks for the kernel file in
    # SysWOW64, where Windows keeps none: it takes 8.1 and 10 for 8, and
    # asks the shell to unpin there too.
    WOW64 = {'win81': 'unpin', 'win10': 'unpin'}

    def test_each_release_reaches_its_own_locations(self):
        for version, kernel, mode in self.RELEASES:
            if HELPERS.build == 'i686':
                mode = self.WOW64.get(version, mode)
            with self.subTest(version=version, kernel=kernel, mode=mode):
                p = self.prefix(version, kernel)
                links = p.lay_out(*EVERYWHERE)
                before = p.snapshot()
                self.assertPhaseOneRan(p.uninstall('ok', wait_gone=True))

                verbs = [('startunpin', links['link-pinned-startmenu']),
                         ('taskbarunpin', links['link-pinned-taskbar'])]
                self.assertEqual(self.verbs(p), verbs if mode == 'unpin' else [])
                gone = self.product_files(p) | self.programs_folder(p) | {
                    p.name(links['link-desktop'])}
                if mode == 'classic':
                    gone |= {p.name(links['link-startmenu']), p.name(links['link-quicklaunch'])}
                self.assertEqual(before.diff(p.snapshot()), self.expect(**{
                    'files-': gone,
                    'files+': {p.name(links['temp'] + 'corvalesmgr.exe')},
                    'keys-': self.product_keys()}))


class DecoyTest(UninstallCase):
    def test_another_programs_links_of_the_same_name_stay(self):
        for version in ('win7', 'winxp64'):
            with self.subTest(version=version):
                p = self.prefix(version)
                links = p.lay_out(*DECOYS)
                before = p.snapshot()
                self.assertPhaseOneRan(p.uninstall('ok', wait_gone=True))
                self.assertEqual(self.verbs(p), [])
                # The Programs folder is ours whatever its links point at.
                self.assertEqual(before.diff(p.snapshot()), self.expect(**{
                    'files-': self.product_files(p) | self.programs_folder(p),
                    'files+': {p.name(links['temp'] + 'corvalesmgr.exe')},
                    'keys-': self.product_keys()}))


class FaultTest(UninstallCase):
    def test_users_own_files_keep_their_folders(self):
        p = self.prefix('win7')
        links = p.lay_out('desktop=ours', 'programs=ours', 'programs-uninst',
                          'file=program\\notes.txt', 'file=programs\\readme.txt')
        before = p.snapshot()
        self.assertPhaseOneRan(p.uninstall('ok'))
        ours = (self.product_files(p) | self.programs_folder(p)) - {
            p.name(links['install']), p.name(links['programs'])}
        temp_exe = links['temp'] + 'corvalesmgr.exe'
        self.assertEqual(before.diff(p.snapshot()), self.expect(**{
            'files-': ours | {p.name(links['link-desktop'])},
            'files+': {p.name(temp_exe)},
            'keys-': self.product_keys()}))
        # Asked for (Wine grants it; Windows only to administrators).
        self.assertEqual(p.pending_renames(), ['\\??\\' + temp_exe])

    def assertNothingHappened(self, p, before, report):
        """Phase 1 ran, started nothing and removed nothing: the user can
        run the uninstall again."""
        self.assertPhaseOneRan(report)
        self.assertEqual(report['children'], '0')
        deadline = time.monotonic() + NOT_STARTED_WAIT_S
        while time.monotonic() < deadline and not p.log(PROBE_LOG):
            time.sleep(0.1)
        self.assertEqual(p.log(PROBE_LOG), [])
        self.assertEqual(before.diff(p.snapshot()), {})
        self.assertEqual(p.pending_renames(), [])

    def test_without_its_copy_it_removes_nothing(self):
        # Where the copy goes: someone else's program held open with read
        # sharing only (Wine's CopyFileW would overwrite a read-only file,
        # Windows' would not), or a folder of that name.
        for blocker in ('held', 'folder'):
            with self.subTest(blocker=blocker):
                p = self.prefix('win7')
                links = p.lay_out(*EVERYWHERE)
                temp_exe = links['temp'] + 'corvalesmgr.exe'
                if blocker == 'held':
                    # A stale copy that must not be started in our place.
                    p.plant(links['temp'], 'corvalesmgr.exe', HELPERS.probe)
                else:
                    os.makedirs(p.unix(temp_exe))
                before = p.snapshot()
                report = p.uninstall('ok', hold=temp_exe if blocker == 'held' else None)
                if blocker == 'held':
                    self.assertEqual(report['hold'], 'ok')
                self.assertNothingHappened(p, before, report)
                self.assertEqual(self.verbs(p), [])

    def test_a_missing_key_does_not_stop_the_rest(self):
        p = self.prefix('win7')
        links = p.lay_out('no-key', 'desktop=ours', 'programs=ours', 'programs-uninst',
                          'pinned-taskbar=ours')
        before = p.snapshot()
        self.assertPhaseOneRan(p.uninstall('ok', wait_gone=True))
        self.assertEqual(self.verbs(p), [('taskbarunpin', links['link-pinned-taskbar'])])
        self.assertEqual(before.diff(p.snapshot()), self.expect(**{
            'files-': self.product_files(p) | self.programs_folder(p)
                      | {p.name(links['link-desktop'])},
            'files+': {p.name(links['temp'] + 'corvalesmgr.exe')}}))

    def test_a_planted_version_dll_does_not_change_the_release(self):
        # Windows 10: pinned locations, never unpinned. A version.dll that
        # answered the program's reads would make it Windows 8, which unpins.
        # The 32-bit build tells Windows 10 only where it can read the kernel
        # file: on a 32-bit Windows.
        p = self.prefix('win10', '10.0', arch=self.arches()[-1])
        links = p.lay_out('desktop=ours', 'pinned-taskbar=ours', 'pinned-startmenu=ours')
        temp_exe = links['temp'] + 'corvalesmgr.exe'
        for folder in (links['install'], links['temp']):
            p.plant(folder, 'version.dll', HELPERS.planted_version)
        before = p.snapshot()

        self.assertPhaseOneRan(p.uninstall('ok', planted=True))
        self.assertEqual(self.verbs(p), [])
        # Proof the plants were live: each process loaded the one beside it.
        loaded = {(dll.lower(), exe.lower()) for dll, exe in p.log(PLANTED_LOG)}
        self.assertLessEqual({((links['install'] + 'version.dll').lower(), links['exe'].lower()),
                              ((links['temp'] + 'version.dll').lower(), temp_exe.lower())},
                             loaded)
        # The plant is not ours, so the program folder stays with it.
        self.assertEqual(before.diff(p.snapshot()), self.expect(**{
            'files-': self.product_files(p) - {p.name(links['install'])}
                      | {p.name(links['link-desktop'])},
            'files+': {p.name(temp_exe)},
            'keys-': self.product_keys()}))


def main():
    global HELPERS
    parser = argparse.ArgumentParser()
    Helpers.add_arguments(parser)
    args, rest = parser.parse_known_args()
    HELPERS = Helpers.from_args(args)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
