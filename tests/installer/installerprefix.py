"""The product in a throwaway prefix: what an install must lay out, and the
shell helper that looks at it.

The prefix itself (either kind of Windows, snapshots of files and HKCU, the
browser hook, the launch driver) comes from tests/wine/wineprefix.py. What
is the installer's own lives here: the names, folders, links and key of an
install, the shell helper (shell_helper.cpp) and a running program that
keeps its file in use (Holder).
"""
import os
import select
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'wine'))

from wineprefix import Driver, Prefix, parse_report  # noqa: E402

PRODUCT = 'Lumora网址大全桌面版'
LINK = 'Lumora网址大全.lnk'
UNINST_LINK = '卸载Lumora网址大全.lnk'
PROGRAM = 'corvalesmgr.exe'
KEY = 'HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\' + PRODUCT
QUICK_LAUNCH = '\\Microsoft\\Internet Explorer\\Quick Launch'
CONFIG = os.path.join(HERE, '..', '..', 'installer', 'config.ini')

# Releases before Vista get start-menu and Quick Launch links as well.
CLASSIC = {'winxp': True, 'winxp64': True, 'win7': False, 'win10': False}

# Generous bounds for one run under Wine; the Python side only guards
# against a stuck Wine.
RUN_TIMEOUT_S = 120


class Holder:
    """The installed program waiting at its uninstall box, so that it keeps
    running (and its file in use) until released."""

    def __init__(self, profile, timeout_ms=120000):
        self.release_file = os.path.join(profile.dir, 'release')
        if os.path.exists(self.release_file):
            os.remove(self.release_file)
        self.proc = profile.popen(profile.helper_exe, 'hold', str(timeout_ms),
                                  profile.windows_path(self.release_file), '"%s" /uninst' % profile.exe,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        # A Wine process the helper started may hold its output open after
        # it ends, so a missing line is waited for only so long.
        ready, _, _ = select.select([self.proc.stdout], [], [], RUN_TIMEOUT_S)
        line = self.proc.stdout.readline().decode(errors='replace') if ready else ''
        if not line.startswith('ready='):
            self.release()
            raise AssertionError('the program did not start: ' + line)

    def release(self):
        """Answers the box with Cancel and waits for the program to end."""
        if self.proc.poll() is None:
            try:
                open(self.release_file, 'w').close()
            except OSError:
                # Its prefix is gone already, and the program with it.
                self.proc.kill()
            try:
                self.proc.wait(timeout=RUN_TIMEOUT_S)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()


class Profile(Prefix):
    """A throwaway prefix of one kind and Windows release, seen as a user's
    profile to install the product into.

    The launch driver keeps the session up from the start, so no command of
    the test counts as a restart until end().
    """

    def __init__(self, helper, driver, arch='win64', version=None):
        self.driver = None
        super().__init__(arch, version=version, browser=True, prefix='corvales-installer-')
        try:
            self.driver = Driver(self, driver)
            self.helper_exe = os.path.join(self.dir, 'shell_helper.exe')
            shutil.copy(helper, self.helper_exe)
            self.folders = self.helper('folders')
            self.appdata = self.folders['appdata']
            self.install_dir = self.appdata + '\\corvalesmgr'
            self.exe = self.install_dir + '\\' + PROGRAM
            # A used profile has the Quick Launch toolbar's folder; Wine makes none.
            os.makedirs(self.unix(self.appdata + QUICK_LAUNCH), exist_ok=True)
        except BaseException:
            self.close()
            raise

    def close(self):
        if self.driver:
            self.driver.close()
            self.driver = None
        super().close()

    # Running ---------------------------------------------------------------

    def helper(self, *args, timeout=RUN_TIMEOUT_S):
        """shell_helper's report (it prints plain UTF-8 lines)."""
        result = self.run(self.helper_exe, *args, timeout=timeout, check=False)
        report = parse_report(result.text)
        if result.returncode != 0 or 'error' in report:
            raise AssertionError('shell_helper %s failed (%s)' % (args[0], result))
        return report

    def install(self, installer, *args, timeout=RUN_TIMEOUT_S):
        """Runs the installer with args; returns its exit code."""
        return self.run(self.windows_path(installer), *args, timeout=timeout, check=False).returncode

    def start_install(self, installer, *args):
        """Starts the installer without waiting; returns the Popen."""
        return self.popen(self.windows_path(installer), *args, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL)

    def hold_program(self):
        return Holder(self)

    def link(self, windows_path):
        return self.helper('link', windows_path)

    # The product -----------------------------------------------------------

    def expected_links(self, classic):
        """{windows path of each link: its arguments}."""
        programs = self.folders['programs'] + '\\' + PRODUCT
        links = {
            self.install_dir + '\\' + UNINST_LINK: '/uninst',
            self.folders['desktop'] + '\\' + LINK: '/desktop',
            programs + '\\' + LINK: '/startmenu',
            programs + '\\' + UNINST_LINK: '/uninst',
        }
        if classic:
            links[self.folders['startmenu'] + '\\' + LINK] = '/startmenu'
            links[self.appdata + QUICK_LAUNCH + '\\' + LINK] = '/taskbar'
        return links

    def expected_new_files(self, classic):
        """The snapshot names of what an install adds."""
        paths = [self.install_dir, self.exe, self.install_dir + '\\config.ini',
                 self.folders['programs'] + '\\' + PRODUCT] + list(self.expected_links(classic))
        return {self.name(p) for p in paths}

    def expected_key(self):
        return {
            'DisplayName': PRODUCT,
            'UninstallString': '"%s" /uninst' % self.exe,
            'DisplayIcon': self.exe,
            'DisplayVersion': '1.0.0.0',
            'Publisher': 'Lumora',
            'InstallLocation': self.install_dir,
            'NoModify': 1,
            'NoRepair': 1,
        }

    def product_key(self, registry=None):
        """The uninstall key's values, or None."""
        return self.key_values(KEY, registry)
