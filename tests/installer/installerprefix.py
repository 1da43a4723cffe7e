"""A throwaway Wine profile to install the product into, and what is in it.

Builds on tests/e2e/wineprefix.py (the prefix, the browser hook and the
message-box driver); adds the Windows release, the shell helper, snapshots of
the profile's files and of HKCU, and the product's expected layout.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'e2e'))

from wineprefix import Report, WinePrefix  # noqa: E402

PRODUCT = 'Lumora网址大全桌面版'
LINK = 'Lumora网址大全.lnk'
UNINST_LINK = '卸载Lumora网址大全.lnk'
PROGRAM = 'corvalesmgr.exe'
KEY = 'HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\' + PRODUCT
QUICK_LAUNCH = '\\Microsoft\\Internet Explorer\\Quick Launch'
PAGE = 'https://www.lumora.example/?f=aloneicon&'
CONFIG = os.path.join(HERE, '..', '..', 'installer', 'config.ini')

# Releases before Vista get start-menu and Quick Launch links as well.
CLASSIC = {'winxp64': True, 'win7': False, 'win10': False}

# Generous bounds for one run under Wine; the Python side only guards
# against a stuck Wine.
RUN_TIMEOUT_S = 120


def parse_reg(text):
    """A `reg export` file as {key: {value name: raw data}}; key names are
    in lower case, as the registry ignores case."""
    keys = {}
    current = None
    # Long data continues on the next line after a trailing backslash.
    for line in re.sub(r'\\\r?\n\s*', '', text).splitlines():
        if line.startswith('[') and line.endswith(']'):
            current = keys.setdefault(line[1:-1].lower(), {})
        elif current is not None and line.startswith(('"', '@')):
            m = re.match(r'(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
            if m:
                current[m.group(1)] = m.group(2)
    return keys


def reg_string(raw):
    """The text of a "..." value as written by `reg export`."""
    assert raw.startswith('"') and raw.endswith('"'), raw
    return re.sub(r'\\(.)', r'\1', raw[1:-1])


def reg_value(raw):
    if raw.startswith('dword:'):
        return int(raw[6:], 16)
    return reg_string(raw)


class Snapshot:
    """Files (path -> size and mtime) and HKCU (key -> values) at one moment."""

    def __init__(self, files, registry):
        self.files = files
        self.registry = registry

    def diff(self, later):
        """(added, removed, changed) file paths and (added, removed, changed) keys."""
        a, b = self.files, later.files
        files = (sorted(set(b) - set(a)), sorted(set(a) - set(b)),
                 sorted(p for p in set(a) & set(b) if a[p] != b[p]))
        a, b = self.registry, later.registry
        keys = (sorted(set(b) - set(a)), sorted(set(a) - set(b)),
                sorted(k for k in set(a) & set(b) if a[k] != b[k]))
        return files, keys


class Holder:
    def __init__(self, profile, timeout_ms=120000):
        self.release_file = os.path.join(profile.wine.dir, 'release')
        if os.path.exists(self.release_file):
            os.remove(self.release_file)
        self.proc = subprocess.Popen(
            [profile.wine.wine, profile.helper_exe, 'hold', str(timeout_ms),
             profile.wine.windows_path(self.release_file), '"%s" /uninst' % profile.exe],
            env=profile.wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = self.proc.stdout.readline().decode(errors='replace')
        if not line.startswith('ready='):
            self.release()
            raise AssertionError('the program did not start: ' + line)

    def release(self):
        """Answers the box with Cancel and waits for the program to end."""
        if self.proc.poll() is None:
            open(self.release_file, 'w').close()
            try:
                self.proc.wait(timeout=RUN_TIMEOUT_S)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()


class Profile:
    """One throwaway prefix set to one Windows release."""

    def __init__(self, driver, helper, version=None):
        self.wine = WinePrefix(driver)
        try:
            self.helper_exe = os.path.join(self.wine.dir, 'shell_helper.exe')
            shutil.copy(helper, self.helper_exe)
            if version:
                self.run_windows(['winecfg', '-v', version])
            self.folders = dict(self.helper('folders'))
            self.appdata = self.folders['appdata']
            self.install_dir = self.appdata + '\\corvalesmgr'
            self.exe = self.install_dir + '\\' + PROGRAM
            # A used profile has the Quick Launch toolbar's folder; Wine makes none.
            os.makedirs(self.unix(self.appdata + QUICK_LAUNCH), exist_ok=True)
        except BaseException:
            self.wine.close()
            raise

    def close(self):
        self.wine.close()

    # Paths -----------------------------------------------------------------

    def unix(self, windows_path):
        assert windows_path[:3].upper() == 'C:\\', windows_path
        return os.path.join(self.wine.prefix, 'drive_c', *windows_path[3:].rstrip('\\').split('\\'))

    def real(self, windows_path):
        """The file behind a Windows path (the desktop is a link to HOME)."""
        return os.path.realpath(self.unix(windows_path))

    # Running ---------------------------------------------------------------

    def run_windows(self, args, timeout=RUN_TIMEOUT_S, check=True):
        """(exit code, stdout) of a Windows program."""
        # Files, not pipes: what the program starts (a browser launcher) may
        # inherit its output and outlive it.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            rc = subprocess.run([self.wine.wine] + list(args), env=self.wine.env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err, timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            stdout, stderr = out.read().decode('utf-8', 'replace'), err.read().decode(errors='replace')
        if check and rc != 0:
            raise AssertionError('%s failed (rc %d): %s %s' % (args[0], rc, stdout, stderr))
        return rc, stdout

    def helper(self, *args, timeout=RUN_TIMEOUT_S):
        rc, out = self.run_windows([self.helper_exe] + list(args), timeout=timeout, check=False)
        report = Report.parse(out)
        if rc != 0 or 'error' in report:
            raise AssertionError('shell_helper %s failed (rc %d): %s' % (args[0], rc, out))
        return report

    def install(self, installer, *args, timeout=RUN_TIMEOUT_S):
        """Runs the installer with args; returns its exit code."""
        return self.run_windows([self.wine.windows_path(installer)] + list(args),
                                timeout=timeout, check=False)[0]

    def hold_program(self):
        """Starts the installed program at its uninstall box, so that it keeps
        running (and its file in use) until the Holder is released."""
        return Holder(self)

    def end_wine(self):
        """Ends every process; the registry files are then up to date."""
        subprocess.run([self.wine.wineserver, '-k'], env=self.wine.env, stdin=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run([self.wine.wineserver, '-w'], env=self.wine.env, stdin=subprocess.DEVNULL,
                       timeout=RUN_TIMEOUT_S)

    # Looking ---------------------------------------------------------------

    def registry(self):
        out = os.path.join(self.wine.dir, 'hkcu.reg')
        self.run_windows(['reg', 'export', 'HKCU', self.wine.windows_path(out), '/y'])
        with open(out, encoding='utf-16') as f:
            return parse_reg(f.read())

    def files(self):
        """Every folder and file of drive C: outside the Windows folder, and
        of HOME, by real path."""
        seen = {}
        drive = os.path.join(self.wine.prefix, 'drive_c')
        for top in (drive, self.wine.env['HOME']):
            for root, dirs, names in os.walk(top, followlinks=True):
                if root == drive:
                    dirs[:] = [d for d in dirs if d.lower() != 'windows']
                for name in dirs + names:
                    path = os.path.realpath(os.path.join(root, name))
                    st = os.stat(path)
                    seen[path] = 'dir' if os.path.isdir(path) else (st.st_size, st.st_mtime_ns)
        return seen

    def snapshot(self):
        return Snapshot(self.files(), self.registry())

    def link(self, windows_path):
        return self.helper('link', windows_path)

    def key_values(self, registry=None):
        registry = self.registry() if registry is None else registry
        values = registry.get(KEY.lower())
        if values is None:
            return None
        return {reg_string(name): reg_value(raw) for name, raw in values.items()}

    def pending_renames(self):
        """PendingFileRenameOperations as saved in system.reg (Wine must have ended)."""
        with open(os.path.join(self.wine.prefix, 'system.reg'), encoding='utf-8', errors='replace') as f:
            m = re.search(r'^"PendingFileRenameOperations"=str\(7\):"(.*)"$', f.read(), re.M)
        if not m:
            return []
        text = m.group(1).replace('\\0', '\0')
        return re.sub(r'\\(.)', r'\1', text).split('\0')

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

    def expected_new_paths(self, classic):
        paths = [self.install_dir, self.exe, self.install_dir + '\\config.ini',
                 self.folders['programs'] + '\\' + PRODUCT] + list(self.expected_links(classic))
        return sorted(self.real(p) for p in paths)

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
