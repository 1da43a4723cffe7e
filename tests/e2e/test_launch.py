#!/usr/bin/env python3
"""corvalesmgr.exe under Wine, started with exact command lines.

The driver (a Windows program) starts it, watches for a message box and
waits for it to end; a browser hook records every address Wine is asked to
open.

    test_launch.py --build i686|x86_64 --exe corvalesmgr.exe --driver e2e_driver.exe
                   --home-url URL [--arch win64|win32] [unittest args]
"""
import argparse
import os
import random
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'wine'))
from wineprefix import (APARTMENT_CALLS, ARCHES, RELAY_DEBUG, Driver, Prefix,  # noqa: E402
                        add_build_argument, apartment_faults, relay_calls, utf16_len)

# The pages each switch opens; set from --home-url, the address the build
# was configured with.
DESK = STMN = TASK = None
PAGES = ()
CAPTION = '卸载提示'
TEXT = '是否完全卸载Lumora网址大全桌面版？'

# Where the program is placed in each prefix; the first may go unquoted.
PLAIN = r'C:\corvales\corvalesmgr.exe'
SPACED = r'C:\some dir\corvalesmgr.exe'
WIDE = r'C:\桌面 程序\corvalesmgr.exe'
P = PLAIN
Q = '"%s"' % SPACED

# CreateProcessW's limit, terminator included.
MAX_UNITS = 32767
# Uninstalling with /del waits this long first.
DEL_DELAY_MS = 2000

ARGS = None


class LaunchCase(unittest.TestCase):
    """One throwaway prefix per class; the address record is cleared per run."""

    @classmethod
    def setUpClass(cls):
        cls.wine = Prefix(ARGS.arch, browser=True, prefix='corvales-e2e-')
        try:
            for path in (PLAIN, SPACED, WIDE):
                cls.wine.copy_in(ARGS.exe, path)
            cls.driver = Driver(cls.wine, ARGS.driver)
        except BaseException:
            cls.wine.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.driver.close()
        cls.wine.close()

    def launch(self, line, box='none', expect_url=True):
        """Runs line; returns (driver report, received addresses)."""
        self.wine.clear_urls()
        report = self.driver.box(box, line)
        return report, self.wine.urls(expect_any=expect_url)

    def assertOpens(self, line, url):
        report, urls = self.launch(line)
        self.assertEqual(report['box'], 'none', 'no box expected')
        self.assertEqual(report['exit'], '0')
        self.assertEqual(urls, [url])

    def assertOpensNothing(self, line):
        report, urls = self.launch(line, expect_url=False)
        self.assertEqual(report['box'], 'none', 'no box expected')
        self.assertEqual(report['exit'], '0')
        self.assertEqual(report['children'], '0', 'no process may be started')
        self.assertEqual(urls, [])
        return report

    def check_table(self, cases):
        for line, url in cases:
            with self.subTest(line=line):
                self.assertOpens(line, url)


class DispatchTest(LaunchCase):
    def test_switches_open_their_page(self):
        self.check_table([
            (P, DESK),
            (P + ' ', DESK),
            (P + ' /desktop', DESK),
            (P + ' /startmenu', STMN),
            (P + ' /taskbar', TASK),
            (P + ' /TaskBar', TASK),
            (P + ' /TASKBAR', TASK),
            (P + ' -startmenu', STMN),
            (P + ' -Desktop', DESK),
            (P + ' /taskbar:yes', TASK),
            (P + '   /taskbar   ', TASK),
        ])

    def test_first_matching_rule_wins(self):
        self.check_table([
            (P + ' /taskbar /startmenu', STMN),
            (P + ' /taskbar /desktop', DESK),
            (P + ' /startmenu /desktop', DESK),
            (P + ' /uninst /desktop', DESK),
            (P + ' /uninst /taskbar', TASK),
            (P + ' /uninst /del /startmenu', STMN),
            (P + ' /install /taskbar', TASK),
            (P + ' /del', DESK),
            (P + ' /foo /bar:baz', DESK),
        ])

    def test_keys_end_only_at_a_space_or_colon(self):
        self.check_table([
            # A quoted value hides what looks like a switch.
            (P + ' /x:"/uninst"', DESK),
            (P + ' /a\t/desktop', DESK),
            (P + ' /a\t/taskbar', DESK),
            (P + ' /taskbar\t', DESK),
            (P + ' /taskbar\t/x', DESK),
            (P + ' /startmenu\t/taskbar', DESK),
            (P + ' --desktop', DESK),
            (P + ' --taskbar', DESK),
            (P + ' /taskbar\x01/startmenu', DESK),
            (P + ' /taskbarx', DESK),
            (P + ' /task', DESK),
        ])

    def test_program_name_ends_at_first_blank_outside_quotes(self):
        self.check_table([
            (P + '\t/taskbar', TASK),
            (P + ' \x01\x02\x1f /taskbar', TASK),
            (P + '\t\n\r /startmenu', STMN),
            (Q + ' /taskbar', TASK),
            (Q + '\t/startmenu', STMN),
            ('"%s" /taskbar' % WIDE, TASK),
            # No blank after the closing quote: the switch is part of the name.
            (Q + '/taskbar', DESK),
        ])

    def test_install_opens_nothing(self):
        for line in (P + ' /install', P + ' /INSTALL', P + ' -install /foo', P + ' /install /install'):
            with self.subTest(line=line):
                self.assertOpensNothing(line)

class UninstallTest(LaunchCase):
    """Kept apart: confirming runs the uninstaller in this prefix."""

    def assertBox(self, report):
        self.assertEqual(report['box'], 'shown')
        self.assertEqual(report['caption'], CAPTION)
        self.assertEqual(report['text'], TEXT)
        ids = [b.split(':', 1)[0] for b in report['buttons'].split(',')]
        self.assertEqual(sorted(ids), ['1', '2'], 'OK and Cancel only: ' + report['buttons'])
        self.assertEqual(report['default'], '1', 'OK is the default button')
        self.assertEqual(report['icon'], 'yes', 'the box shows an icon')
        WS_EX_TOPMOST = 0x8
        self.assertFalse(int(report['exstyle'], 16) & WS_EX_TOPMOST, 'an ordinary, not topmost, box')

    def test_box_answers(self):
        cases = [
            ('cancel', P + ' /uninst'),
            ('close', P + ' /uninst'),
            ('cancel', P + ' -Uninst'),
            ('cancel', P + ' /uninst /install'),
            ('cancel', P + ' /install /uninst'),
            ('cancel', Q + ' /uninst:"x y"'),
            ('ok', P + ' /uninst'),
        ]
        for action, line in cases:
            with self.subTest(action=action, line=line):
                report, urls = self.launch(line, box=action, expect_url=False)
                self.assertBox(report)
                self.assertEqual(report['exit'], '0')
                if action != 'ok':
                    # Declining starts nothing: no uninstaller, no page.
                    self.assertEqual((report['children'], urls), ('0', []))

    def test_uninstall_with_del_waits_without_a_box(self):
        for line in (P + ' /uninst /del', P + ' /del /uninst', P + ' -UNINST -Del:now'):
            with self.subTest(line=line):
                report = self.assertOpensNothing(line)
                # The delay is what lets the caller exit first; a floor, not a speed check.
                self.assertGreaterEqual(int(report['ms']), DEL_DELAY_MS - 100)


class ComTest(LaunchCase):
    """The shell may carry out a request through COM, so the program opens
    a single-threaded apartment without OLE1 DDE just for its call."""

    def test_the_page_opens_inside_an_apartment_of_its_own(self):
        self.wine.set_relay(APARTMENT_CALLS)
        self.wine.clear_urls()
        result = self.wine.run(PLAIN, '/taskbar', env={'WINEDEBUG': RELAY_DEBUG}, check=False)
        self.assertEqual(result.returncode, 0, str(result))
        self.assertEqual(self.wine.urls(expect_any=True), [TASK])
        calls = relay_calls(result.stderr.decode('utf-8', 'replace'), PLAIN)
        self.assertEqual([c[0] for c in calls], ['combase.CoInitializeEx', 'shell32.ShellExecuteW',
                                                 'combase.CoUninitialize'], calls)
        self.assertEqual(apartment_faults(calls), [])
        self.assertIn('L"open"', calls[1][1])
        self.assertIn('L"%s"' % TASK, calls[1][1])
        self.assertGreater(calls[1][2], 32)


class BadInputTest(LaunchCase):
    """Hostile command lines: the program ends with 0 and opens the expected page."""

    def assertOpensOneOfThePages(self, line):
        report, urls = self.launch(line)
        self.assertEqual(report['box'], 'none')
        self.assertEqual(report['exit'], '0')
        self.assertEqual(len(urls), 1, urls)
        self.assertIn(urls[0], PAGES)

    def test_lone_introducers_and_unbalanced_quotes(self):
        self.check_table([
            (P + ' /', DESK),
            (P + ' -', DESK),
            (P + ' / /', DESK),
            (P + ' - -', DESK),
            (P + ' / /taskbar', TASK),
            (P + ' /:', DESK),
            (P + ' /: /startmenu', STMN),
            (P + ' /x:"/taskbar', DESK),
            (P + ' /x:" /uninst', DESK),
            (P + ' /taskbar:"unclosed', TASK),
            (P + ' /taskbar:"', TASK),
            (P + ' /x:""', DESK),
        ])
        for line in (P + ' "', P + ' """', P + ' "/taskbar', P + ' "/x" /y"', P + ' :::'):
            with self.subTest(line=line):
                self.assertOpensOneOfThePages(line)

    def test_control_characters(self):
        controls = ''.join(chr(c) for c in range(1, 0x20))
        self.check_table([
            (P + ' /x' + controls + ' /startmenu', STMN),
            (P + ' ' + controls + '/taskbar', TASK),
            (P + ' /' + controls, DESK),
            (P + ' /taskbar' + controls, DESK),
        ])

    def test_non_ascii(self):
        self.check_table([
            (P + ' /桌面 /taskbar', TASK),
            (P + ' /\U0001F600 /startmenu', STMN),
            (P + ' /\ud800 /taskbar', TASK),
            (P + ' /\udc00\ud800', DESK),
            (P + ' /x:\udfff /startmenu', STMN),
            # Only A-Z are folded: look-alikes that other case mappings
            # would turn into a known key must stay unknown.
            (P + ' /tas\u212abar', DESK),
            (P + ' /\uff54\uff41\uff53\uff4b\uff42\uff41\uff52', DESK),
            (P + ' /\u0130nstall', DESK),
            (P + ' /\u0131nstall', DESK),
            (P + ' /\u0130NSTALL /taskbar', TASK),
        ])

    def test_longest_command_lines(self):
        rng = random.Random(20240)
        noise = ['foo', 'x', 'desktopx', 'task', 'uninstall', 'deletes', 'installer', 'Ünï', 'a:b', 'k:"v w"']

        def filled(keys, tail):
            """A line of exactly MAX_UNITS - 1 units: random switches, then tail."""
            room = MAX_UNITS - 1 - utf16_len(P) - utf16_len(tail) - 2
            parts = []
            used = 0
            while True:
                token = rng.choice('/-') + rng.choice(keys)
                if used + utf16_len(token) + 1 > room - 8:
                    break
                parts.append(token)
                used += utf16_len(token) + 1
            # An unknown key takes up what is left.
            parts.append('/' + 'z' * (room - used - 1))
            line = ' '.join([P] + parts + [tail])
            self.assertEqual(utf16_len(line), MAX_UNITS - 1)
            return line

        self.check_table([
            (filled(noise, '/startmenu'), STMN),
            (filled(noise + ['taskbar'], '/startmenu'), STMN),
            (filled(noise + ['TaskBar'], '/zz'), TASK),
            (filled(noise + ['install', 'uninst'], '/desktop'), DESK),
            (filled(noise, '/zz'), DESK),
        ])
        # Cases whose switch is found only at the far end.
        report, urls = self.launch(filled(noise, '/uninst'), box='cancel', expect_url=False)
        self.assertEqual(report['box'], 'shown')
        self.assertEqual((report['exit'], urls), ('0', []))
        self.assertOpensNothing(filled(noise, '/install'))


def main():
    global ARGS, DESK, STMN, TASK, PAGES
    parser = argparse.ArgumentParser()
    add_build_argument(parser)
    parser.add_argument('--arch', choices=ARCHES, default='win64')
    parser.add_argument('--exe', required=True)
    parser.add_argument('--driver', required=True)
    parser.add_argument('--home-url', required=True)
    ARGS, rest = parser.parse_known_args()
    if ARGS.build == 'x86_64' and ARGS.arch == 'win32':
        parser.error('a 32-bit Windows runs only the i686 build')
    page = ARGS.home_url + '?f=aloneicon&'
    DESK, STMN, TASK = page + 'desk', page + 'stmn', page + 'task'
    PAGES = (DESK, STMN, TASK)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
