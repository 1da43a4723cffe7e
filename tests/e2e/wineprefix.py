"""A throwaway Wine prefix with a browser hook, and the Windows-side driver.

Shared by the end-to-end tests; the prefix is copied from the template that
tests/wine/wine-env.sh keeps, so making one takes well under a second.
"""
import os
import re
import select
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'wine'))
import wineenv  # noqa: E402

# The desktop of a new prefix; the very first one on a machine can be slow.
HOLD_START_S = 300
# Above any run's own timeout: the Python side only guards against a stuck Wine.
DRIVER_GRACE_S = 60
URL_WAIT_S = 15
# The hook runs as a Unix process spawned by the launcher, a moment after it ends.
SETTLE_S = 0.3


def _unescape(value):
    return re.sub(r'\\u([0-9a-f]{4})', lambda m: chr(int(m.group(1), 16)), value)


def encode_hex(line):
    """UTF-16 units as 4 hex digits each; keeps lone surrogates."""
    data = line.encode('utf-16-le', 'surrogatepass')
    return ''.join('%04x' % int.from_bytes(data[i:i + 2], 'little') for i in range(0, len(data), 2))


def utf16_len(line):
    return len(line.encode('utf-16-le', 'surrogatepass')) // 2


class Report(dict):
    """The driver's key=value lines."""

    @classmethod
    def parse(cls, text):
        report = cls()
        for line in text.splitlines():
            key, sep, value = line.partition('=')
            if sep:
                report[key] = _unescape(value)
        return report


class WinePrefix:
    def __init__(self, driver):
        self.dir = tempfile.mkdtemp(prefix='corvales-e2e-')
        try:
            self._make(driver)
        except BaseException:
            self.close()
            raise

    def _make(self, driver):
        self.wine, self.wineserver, self.env = wineenv.fresh_prefix(self.dir)
        self.prefix = self.env['WINEPREFIX']
        self.record = os.path.join(self.dir, 'urls')
        hook = os.path.join(self.dir, 'browser-hook')
        with open(hook, 'w') as f:
            # One line per argument: a split address shows up as extra lines.
            f.write('#!/bin/sh\nprintf \'%%s\\n\' "$@" >>%s\n' % shlex.quote(self.record))
        os.chmod(hook, 0o755)
        # The first Wine command starts the prefix's services, which keep its
        # stdio open: give them nothing anyone waits on.
        subprocess.run([self.wine, 'reg', 'add', r'HKCU\Software\Wine\WineBrowser', '/v', 'Browsers',
                        '/t', 'REG_SZ', '/d', '"%s"' % hook, '/f'],
                       env=self.env, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        self.driver = os.path.join(self.dir, 'driver.exe')
        shutil.copy(driver, self.driver)
        # Keeps the desktop process up between runs (it ends when our stdin
        # closes, also if this test dies).
        self.hold = subprocess.Popen([self.wine, self.driver, 'hold'], env=self.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        ready, _, _ = select.select([self.hold.stdout], [], [], HOLD_START_S)
        if not ready or self.hold.stdout.readline().strip() != b'ready':
            raise RuntimeError('the Wine desktop did not start')

    def install(self, exe, windows_path):
        """Copies exe to a path like C:\\dir\\name.exe inside the prefix."""
        assert windows_path[:3].upper() == 'C:\\'
        unix = os.path.join(self.prefix, 'drive_c', *windows_path[3:].split('\\'))
        os.makedirs(os.path.dirname(unix), exist_ok=True)
        shutil.copy(exe, unix)

    def windows_path(self, unix):
        return 'Z:' + os.path.abspath(unix).replace('/', '\\')

    def _line_arg(self, line):
        hexed = encode_hex(line)
        # Our own command line could not carry the longest ones.
        if len(hexed) < 8000:
            return 'hex:' + hexed
        path = os.path.join(self.dir, 'cmdline.hex')
        with open(path, 'w') as f:
            f.write(hexed)
        return 'file:' + self.windows_path(path)

    def _driver(self, args, timeout_s):
        """Runs the driver; its output goes to files, as programs it starts
        (the desktop, a browser launcher) inherit and may outlive its stdio."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            rc = subprocess.run([self.wine, self.driver] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err, timeout=timeout_s).returncode
            out.seek(0)
            err.seek(0)
            return rc, out.read().decode('utf-8', 'surrogateescape'), err.read().decode(errors='replace')

    def drive(self, *args, timeout_ms):
        rc, out, err = self._driver(args, timeout_ms / 1000 + DRIVER_GRACE_S)
        report = Report.parse(out)
        if rc != 0 or 'exit' not in report:
            raise AssertionError('driver failed (rc %d): %s %s' % (rc, out, err))
        return report

    def run(self, line, timeout_ms=15000):
        return self.drive('run', str(timeout_ms), self._line_arg(line), timeout_ms=timeout_ms)

    def box(self, action, line, timeout_ms=15000):
        """action: ok, cancel, close, or none (no box may appear)."""
        return self.drive('box', action, str(timeout_ms), self._line_arg(line), timeout_ms=timeout_ms)

    def time_runs(self, runs, line):
        """Milliseconds from start to exit of each of runs runs of line."""
        rc, out, err = self._driver(['time', str(runs), self._line_arg(line)], runs * 60 + DRIVER_GRACE_S)
        times = [float(m) for m in re.findall(r'^ms=([0-9.]+) exit=0$', out, re.M)]
        if rc != 0 or len(times) != runs:
            raise AssertionError('timing failed (rc %d): %s %s' % (rc, out, err))
        return times

    def clear_urls(self):
        if os.path.exists(self.record):
            os.remove(self.record)

    def urls(self, expect_any):
        """The addresses the browser received, after waiting for the first if expect_any."""
        deadline = time.monotonic() + (URL_WAIT_S if expect_any else 0)
        while time.monotonic() < deadline and not os.path.exists(self.record):
            time.sleep(0.05)
        time.sleep(SETTLE_S)
        if not os.path.exists(self.record):
            return []
        with open(self.record, encoding='utf-8', errors='surrogateescape') as f:
            return f.read().splitlines()

    def close(self):
        if getattr(self, 'hold', None):
            self.hold.stdin.close()
            try:
                self.hold.wait(30)
            except subprocess.TimeoutExpired:
                self.hold.kill()
            self.hold.stdout.close()
        if hasattr(self, 'env'):
            subprocess.run([self.wineserver, '-k'], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run([self.wineserver, '-w'], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        shutil.rmtree(self.dir, ignore_errors=True)
