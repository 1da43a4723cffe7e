#!/usr/bin/env python3
"""The installer of one build under Wine: install, launch, uninstall, upgrade, refuse.

Each test gets a throwaway prefix of one kind set to one Windows release;
the i686 build runs in 64-bit prefixes under WoW64, as on 64-bit Windows,
and its lifecycle on a 32-bit Windows too. What the installer leaves is
compared with snapshots of the profile's files and of HKCU; shortcuts are
opened as the shell opens them, and the uninstall is started from the key's
UninstallString and answered OK.

    test_installer.py --build i686|x86_64 --home-url URL --installer I.exe
                      --exe corvalesmgr.exe --driver e2e_driver.exe
                      --helper shell_helper.exe [unittest args]
"""
import argparse
import hashlib
import os
import stat
import sys
import time
import unittest

from installerprefix import CLASSIC, CONFIG, KEY, PRODUCT, PROGRAM, RUN_TIMEOUT_S, Profile
from wineprefix import add_build_argument

TAGS = {'/desktop': 'desk', '/startmenu': 'stmn', '/taskbar': 'task'}
UNINSTALL_CAPTION = '卸载提示'
UNINSTALL_TEXT = '是否完全卸载Lumora网址大全桌面版？'
# The shared parent of every per-user uninstall entry; the installer makes it
# when the profile has none, and it stays (empty) when the product goes.
UNINSTALL_PARENT = KEY.rsplit('\\', 1)[0].lower()
# Silent mode waits this long for a running program before giving up.
IN_USE_WAIT_S = 5
EXIT_FOLDER, EXIT_IN_USE = 3, 4

# Where the whole lifecycle runs: (kind of Windows, release). Both builds on
# a 64-bit Windows (the i686 one under WoW64); the i686 build also on a
# 32-bit Windows, which runs no other.
LIFECYCLE = [
    ('win64', 'winxp64'),
    ('win64', 'win7'),
    ('win32', 'winxp'),
]
BUILDS_OF = {'win64': ('i686', 'x86_64'), 'win32': ('i686',)}

ARGS = None
PAGE = None


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def digest(path):
    """How the snapshots record a file's content, and a readable stand-in for it."""
    return hashlib.sha256(read(path)).hexdigest()


class InstallerCase(unittest.TestCase):
    def profile(self, arch='win64', version=None):
        """A new profile; the test's previous one is closed first, so a loop
        over cases keeps one Wine session at a time."""
        if getattr(self, '_profile', None):
            self._profile.close()
        profile = self._profile = Profile(ARGS.helper, ARGS.driver, arch, version)
        self.addCleanup(profile.close)
        return profile

    def install(self, profile, *args, expect=0):
        rc = profile.install(ARGS.installer, *args)
        self.assertEqual(rc, expect, 'installer %s' % ' '.join(args))

    def assertUnchanged(self, before, after):
        self.assertEqual(before.diff(after), {}, 'files or HKCU changed')

    def assertInstalled(self, profile, before, classic):
        """Exactly one install, and nothing else, compared with `before`."""
        after = profile.snapshot()
        diff = before.diff(after)
        self.assertEqual(diff.pop('files+', set()), profile.expected_new_files(classic))
        parent = set() if UNINSTALL_PARENT in before.registry else {UNINSTALL_PARENT}
        self.assertEqual(diff.pop('keys+', set()), parent | {KEY.lower()})
        self.assertEqual(diff, {}, 'nothing else is added, removed or changed')

        exe = profile.unix(profile.exe)
        self.assertEqual(digest(exe), digest(ARGS.exe), 'the installed program is the built one')
        self.assertTrue(os.stat(exe).st_mode & stat.S_IWUSR, 'the program is not read-only')
        self.assertEqual(read(profile.unix(profile.install_dir + '\\config.ini')), read(CONFIG))

        values = profile.product_key(after.registry)
        size_kb = values.pop('EstimatedSize', None)
        self.assertEqual(values, profile.expected_key())
        files = sum(os.path.getsize(os.path.join(profile.unix(profile.install_dir), n))
                    for n in os.listdir(profile.unix(profile.install_dir)))
        self.assertIn(size_kb, (files // 1024, files // 1024 + 1), 'EstimatedSize in KB')

        for path, arguments in profile.expected_links(classic).items():
            with self.subTest(link=path):
                link = profile.link(path)
                self.assertEqual((link['target'], link['arguments'], link['workdir']),
                                 (profile.exe, arguments, profile.install_dir))
        return after


class LifecycleTest(InstallerCase):
    """Silent install, every launch shortcut, uninstall from the key: nothing left."""

    def check_lifecycle(self, arch, version):
        profile = self.profile(arch, version)
        classic = CLASSIC[version]
        before = profile.snapshot()
        self.install(profile, '/S')
        self.assertInstalled(profile, before, classic)

        for path, arguments in profile.expected_links(classic).items():
            if arguments not in TAGS:
                continue
            with self.subTest(opened=path):
                profile.clear_urls()
                report = profile.helper('open', '30000', path)
                self.assertEqual((report.get('image'), report.get('exit')), (profile.exe, '0'))
                self.assertEqual(profile.urls(expect_any=True), [PAGE + TAGS[arguments]])

        line = profile.product_key()['UninstallString']
        report = profile.driver.box('ok', line, timeout_ms=30000)
        self.assertEqual((report['box'], report['caption'], report['text']),
                         ('shown', UNINSTALL_CAPTION, UNINSTALL_TEXT))
        # The one child is the copy in the temporary folder; it has ended.
        self.assertEqual((report['exit'], report['children']), ('0', '1'))

        # Whatever order the two processes work in, all that is left is the
        # copy: one file in the temporary folder, the program's own bytes.
        after = profile.snapshot()
        diff = before.diff(after)
        copies = diff.pop('files+', set())
        temp = profile.name(profile.folders['temp'])
        self.assertEqual(len(copies), 1, 'only the temporary copy is left: %s' % sorted(copies))
        copy = copies.pop()
        self.assertEqual(os.path.dirname(copy), temp.rstrip('/'))
        self.assertEqual(os.path.basename(copy), PROGRAM, 'the copy keeps the program\'s name')
        self.assertEqual(after.files[copy], ('file', digest(ARGS.exe)), 'the copy is the program')
        parent = set() if UNINSTALL_PARENT in before.registry else {UNINSTALL_PARENT}
        self.assertEqual(diff.pop('keys+', set()), parent)
        self.assertEqual(after.registry.get(UNINSTALL_PARENT, {}), {})
        self.assertEqual(diff, {}, 'nothing else is added, removed or changed')

        # The copy asks to be deleted at the next restart. Wine grants such
        # marks to anyone, Windows to administrators only: this shows that
        # the request names the copy's own path (and nothing more), not that
        # Windows would carry it out.
        profile.end()
        copy_path = profile.folders['temp'].rstrip('\\') + '\\' + os.path.basename(copy)
        self.assertEqual(profile.saved_pending_renames(), ['\\??\\' + copy_path])

    def test_lifecycle(self):
        for arch, version in LIFECYCLE:
            if ARGS.build not in BUILDS_OF[arch]:
                continue
            with self.subTest(arch=arch, version=version):
                self.check_lifecycle(arch, version)


class UpgradeTest(InstallerCase):
    def test_second_install_leaves_one_correct_install(self):
        profile = self.profile(version='winxp64')
        before = profile.snapshot()
        # The first through the wizard: Install on the welcome page, then Finish.
        report = profile.helper('ui', '60000', '"%s"' % profile.windows_path(ARGS.installer),
                                'click=1', 'click=1@完成(&F)')
        self.assertEqual(report['exit'], '0')
        self.assertInstalled(profile, before, classic=True)

        # What a user or an older version may have left behind.
        profile.run('attrib', '+r', profile.exe)
        with open(profile.unix(profile.install_dir + '\\config.ini'), 'w') as f:
            f.write('[old]\n')
        os.remove(profile.unix(profile.folders['desktop'] + '\\Lumora网址大全.lnk'))
        profile.run('reg', 'add', KEY.replace('HKEY_CURRENT_USER', 'HKCU'), '/v', 'Stale',
                    '/d', 'x', '/f')
        # Only the one folder is known to the program's uninstall.
        self.install(profile, '/S', '/D=C:\\elsewhere')
        self.assertInstalled(profile, before, classic=True)

    def test_running_program_is_waited_for_then_refused(self):
        profile = self.profile()
        before = profile.snapshot()
        self.install(profile, '/S')
        config = profile.unix(profile.install_dir + '\\config.ini')

        # Still running when the wait is over: nothing further is touched.
        with open(config, 'w') as f:
            f.write('[old]\n')
        installed = profile.snapshot()
        holder = profile.hold_program()
        try:
            begin = time.monotonic()
            self.install(profile, '/S', expect=EXIT_IN_USE)
            self.assertGreaterEqual(time.monotonic() - begin, IN_USE_WAIT_S - 1)
            self.assertUnchanged(installed, profile.snapshot())
        finally:
            holder.release()

        # Ends during the wait: the install goes ahead.
        holder = profile.hold_program()
        try:
            installer = profile.start_install(ARGS.installer, '/S')
            time.sleep(1)
        finally:
            holder.release()
        self.assertEqual(installer.wait(timeout=RUN_TIMEOUT_S), 0)
        self.assertInstalled(profile, before, classic=False)


class RefusalTest(InstallerCase):
    """Where the program cannot be put, nothing is changed, silently or not."""

    def blocked_by_a_file(self, profile):
        with open(profile.unix(profile.install_dir), 'w') as f:
            f.write('not a folder\n')

    def blocked_by_the_running_program(self, profile):
        self.install(profile, '/S')
        self.addCleanup(profile.hold_program().release)

    # (name, set-up, exit code, wizard steps after Install, words of the first box)
    CASES = [
        ('file in place of the folder', blocked_by_a_file, EXIT_FOLDER, ['box=1'], '同名的文件'),
        # Cancel on the Retry/Cancel box ends the install without a second box.
        ('program running', blocked_by_the_running_program, EXIT_IN_USE, ['box=2'], '正在运行'),
    ]

    def test_silent(self):
        for name, set_up, code, _, _ in self.CASES:
            with self.subTest(name):
                profile = self.profile()
                set_up(self, profile)
                before = profile.snapshot()
                self.install(profile, '/S', expect=code)
                self.assertUnchanged(before, profile.snapshot())

    def test_interface(self):
        for name, set_up, code, steps, words in self.CASES:
            with self.subTest(name):
                profile = self.profile()
                set_up(self, profile)
                before = profile.snapshot()
                # Install, the steps, then Cancel (which closes the stopped wizard).
                report = profile.helper('ui', '60000', '"%s"' % profile.windows_path(ARGS.installer),
                                        'click=1', *steps, 'click=2')
                self.assertEqual(report['box_caption'], PRODUCT + ' 安装')
                self.assertIn(words, report['box_text'])
                self.assertEqual(report['exit'], str(code))
                self.assertUnchanged(before, profile.snapshot())


def main():
    global ARGS, PAGE
    parser = argparse.ArgumentParser()
    add_build_argument(parser)
    parser.add_argument('--home-url', required=True,
                        help='the home address the program was built with')
    for name in ('installer', 'exe', 'driver', 'helper'):
        parser.add_argument('--' + name, required=True)
    ARGS, rest = parser.parse_known_args()
    PAGE = ARGS.home_url + '?f=aloneicon&'
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
