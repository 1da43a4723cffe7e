"""A throwaway Wine prefix holding a per-user install of the product.

Shared by the uninstall tests, the demo and the benchmark. The prefix comes
from tests/wine/wineprefix.py; the test's own programs live in
C:\\corvales-test, which every snapshot leaves out.
"""
import argparse
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'wine'))
from wineprefix import (APARTMENT_CALLS, BUILDS, RELAY_DEBUG, Prefix,  # noqa: E402
                        parse_report, relay_calls, until_started)

TOOLS = 'C:\\corvales-test\\'
PROBE_LOG = 'C:\\corvales-test\\probe.log'
PLANTED_LOG = 'C:\\corvales-test\\planted.log'
# Phase 2 pauses 2 s, and 5 s more when the folder will not go at once.
RUN_TIMEOUT_MS = 30000
WINE_TIMEOUT_S = 120
PRODUCT = 'Lumora网址大全桌面版'
UNINSTALL_KEYS = r'HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall'.lower()
PRODUCT_KEY = (UNINSTALL_KEYS + '\\' + PRODUCT).lower()


class Helpers:
    """Which build, and where its programs are (the --build/--exe/... arguments)."""

    def __init__(self, build, exe, layout, driver, probe, planted_version, kernels):
        self.build = build
        self.exe, self.layout, self.driver, self.probe = exe, layout, driver, probe
        self.planted_version = planted_version
        # uninstall_kernel_6_2.exe -> '6.2'
        self.kernels = {os.path.basename(k)[len('uninstall_kernel_'):-4].replace('_', '.'): k
                        for k in kernels}

    @staticmethod
    def add_arguments(parser):
        parser.add_argument('--build', choices=BUILDS, required=True)
        for name in ('exe', 'layout', 'driver', 'probe', 'planted-version'):
            parser.add_argument('--' + name, required=True)
        parser.add_argument('--kernel', action='append', default=[])

    @classmethod
    def from_args(cls, args):
        return cls(args.build, args.exe, args.layout, args.driver, args.probe,
                   args.planted_version, args.kernel)

    @classmethod
    def from_build(cls, build_dir):
        """From the list the build writes (uninstall-helpers.args, one word a line)."""
        with open(os.path.join(build_dir, 'uninstall-helpers.args')) as f:
            words = f.read().split('\n')
        parser = argparse.ArgumentParser()
        cls.add_arguments(parser)
        return cls.from_args(parser.parse_args([w for w in words if w]))


class UninstallPrefix(Prefix):
    """arch: 'win64' or 'win32' (the i686 build only). kernel: a version
    ('6.2', '6.3', '10.0') whose kernel file stands in System32.

    A 64-bit prefix is laid out as 64-bit Windows has it (wine-env.sh's
    template): SysWOW64, where a 32-bit program's look-ups in the system
    directory go, holds no kernel file.
    """

    def __init__(self, helpers, version=None, kernel=None, arch='win64'):
        if arch == 'win32' and helpers.build != 'i686':
            raise ValueError('a 32-bit Windows runs only the i686 build')
        self.helpers = helpers
        self.kernel = kernel
        super().__init__(arch, version=version, persistent=True, tools=TOOLS,
                         prefix='corvales-uninst-')
        try:
            tools = self.unix(TOOLS)
            for src, name in ((helpers.exe, 'corvalesmgr.exe'),
                              (helpers.layout, 'layout.exe'),
                              (helpers.driver, 'driver.exe'),
                              (helpers.probe, 'probe.exe'),
                              # Not named version.dll here: our own programs would load it.
                              (helpers.planted_version, 'planted-version.dll')):
                shutil.copy(src, os.path.join(tools, name))
            self.set_verb_hook(TOOLS + 'probe.exe')
            if kernel:
                self.put_kernel(helpers.kernels[kernel], 'system32')
        except BaseException:
            self.close()
            raise

    # -- the product ------------------------------------------------------
    def lay_out(self, *options, source=TOOLS + 'corvalesmgr.exe'):
        """Installs the product (source is the program to install); returns
        the layout's report (folders, links, targets)."""
        result = self.run(TOOLS + 'layout.exe', source, *options)
        self.paths = parse_report(result.text)
        return self.paths

    def plant(self, windows_dir, name, src):
        shutil.copy(src, os.path.join(self.unix(windows_dir), name))

    def uninstall(self, answer, hold=None, wait_gone=False, planted=False, trace=False,
                  timeout_ms=RUN_TIMEOUT_MS):
        """Runs `corvalesmgr.exe /uninst`, answers the box, follows what it started.

        trace: also return the COM and shell calls of the installed program's
        own thread (relay_calls over APARTMENT_CALLS).
        """
        args = [TOOLS + 'driver.exe', answer, str(timeout_ms), self.paths['exe']]
        if hold:
            args.append('hold=' + hold)
        if wait_gone:
            args.append('gone=' + self.paths['install'].rstrip('\\'))
        overrides = []
        if self.kernel:
            # Only for the program's run: Wine's device host crashes on a
            # foreign kernel file.
            overrides.append('ntoskrnl.exe=n,b')
        if planted:
            overrides.append('version=n,b')
        env = None
        if trace:
            self.set_relay(APARTMENT_CALLS)
            env = {'WINEDEBUG': RELAY_DEBUG}
        def once():
            result = self.run(*args, overrides=';'.join(overrides), check=False, env=env,
                              timeout=timeout_ms / 1000 + WINE_TIMEOUT_S)
            return result, parse_report(result.text)
        result, report = until_started(once)
        if result.returncode != 0 or 'exit' not in report:
            raise AssertionError('driver failed (%s)' % result)
        if trace:
            return report, relay_calls(result.stderr.decode('utf-8', 'replace'), self.paths['exe'])
        return report

    def log(self, windows_path):
        """Lines of one of the probes' logs as (program, command line)."""
        path = self.unix(windows_path)
        if not os.path.exists(path):
            return []
        with open(path, encoding='utf-8') as f:
            return [tuple(line.split('|', 1)) for line in f.read().splitlines()]
