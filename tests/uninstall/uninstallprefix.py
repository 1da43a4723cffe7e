"""A throwaway Wine prefix holding a per-user install of the product.

Shared by the uninstall tests, the demo and the benchmark. The prefix is
copied from the template tests/wine/wine-env.sh keeps; the test's own
programs live in C:\\corvales-test, which every snapshot leaves out.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'wine'))
import wineenv  # noqa: E402

TOOLS = 'C:\\corvales-test\\'
PROBE_LOG = 'C:\\corvales-test\\probe.log'
PLANTED_LOG = 'C:\\corvales-test\\planted.log'
# Phase 2 pauses 2 s, and 5 s more when the folder will not go at once.
RUN_TIMEOUT_MS = 30000
WINE_TIMEOUT_S = 120
PRODUCT = 'Lumora网址大全桌面版'
UNINSTALL_KEYS = r'HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall'
PRODUCT_KEY = UNINSTALL_KEYS + '\\' + PRODUCT
SESSION_MANAGER = r'HKLM\System\CurrentControlSet\Control\Session Manager'

# Under drive_c, only these folders' contents are compared in full; Wine's
# own tree is compared by size and modification time (it is large, and a
# file changed there by our program would still show).
WINE_TREE = 'windows'


class Helpers:
    """Where the built programs are (the --exe/--layout/... arguments)."""

    def __init__(self, exe, layout, driver, probe, planted_version, kernels):
        self.exe, self.layout, self.driver, self.probe = exe, layout, driver, probe
        self.planted_version = planted_version
        # uninstall_kernel_6_2.exe -> '6.2'
        self.kernels = {os.path.basename(k)[len('uninstall_kernel_'):-4].replace('_', '.'): k
                        for k in kernels}

    @staticmethod
    def add_arguments(parser):
        for name in ('exe', 'layout', 'driver', 'probe', 'planted-version'):
            parser.add_argument('--' + name, required=True)
        parser.add_argument('--kernel', action='append', default=[])

    @classmethod
    def from_args(cls, args):
        return cls(args.exe, args.layout, args.driver, args.probe, args.planted_version,
                   args.kernel)

    @classmethod
    def from_build(cls, build_dir):
        """From the list the build writes (uninstall-helpers.args, one word a line)."""
        import argparse
        with open(os.path.join(build_dir, 'uninstall-helpers.args')) as f:
            words = f.read().split('\n')
        parser = argparse.ArgumentParser()
        cls.add_arguments(parser)
        return cls.from_args(parser.parse_args([w for w in words if w]))


def parse_report(text):
    report = {}
    for line in text.splitlines():
        key, sep, value = line.partition('=')
        if sep:
            report[key] = value
    return report


def parse_reg(text):
    """A .reg export as {key: {value name: raw data}}; continuation lines joined."""
    keys, current, pending = {}, None, ''
    for raw in text.splitlines():
        line = pending + raw.strip() if pending else raw
        if line.endswith('\\') and current is not None and not line.startswith('['):
            pending = line[:-1]
            continue
        pending = ''
        if line.startswith('[') and line.endswith(']'):
            current = keys.setdefault(line[1:-1], {})
        elif current is not None and '=' in line and line[0] in '"@':
            if line[0] == '@':
                name, data = '@', line[2:]
            else:
                end = 1
                while line[end] != '"':
                    end += 2 if line[end] == '\\' else 1
                name, data = line[1:end], line[end + 2:]
            current[name] = data
    return keys


class Snapshot:
    def __init__(self, files, registry):
        self.files, self.registry = files, registry

    def diff(self, later):
        """Paths and registry keys/values added, removed or changed since this one."""
        out = {'files+': set(), 'files-': set(), 'files~': set(),
               'keys+': set(), 'keys-': set(), 'values~': set()}
        for path in later.files.keys() - self.files.keys():
            out['files+'].add(path)
        for path in self.files.keys() - later.files.keys():
            out['files-'].add(path)
        for path in self.files.keys() & later.files.keys():
            if self.files[path] != later.files[path]:
                out['files~'].add(path)
        for key in later.registry.keys() - self.registry.keys():
            out['keys+'].add(key)
        for key in self.registry.keys() - later.registry.keys():
            out['keys-'].add(key)
        for key in self.registry.keys() & later.registry.keys():
            a, b = self.registry[key], later.registry[key]
            for name in a.keys() | b.keys():
                if a.get(name) != b.get(name):
                    out['values~'].add(key + '\\\\' + name)
        return {k: v for k, v in out.items() if v}


class UninstallPrefix:
    def __init__(self, helpers, version=None, kernel=None):
        self.helpers = helpers
        self.dir = tempfile.mkdtemp(prefix='corvales-uninst-')
        try:
            self._make(version, kernel)
        except BaseException:
            self.close()
            raise

    # -- set-up -----------------------------------------------------------
    def _make(self, version, kernel):
        self.wine_loader, self.wineserver, self.env = wineenv.fresh_prefix(self.dir, timeout=1200)
        self.prefix = self.env['WINEPREFIX']
        self.home = self.env['HOME']
        self.drive_c = os.path.join(self.prefix, 'drive_c')
        # Kept alive between runs, so each costs only its own start-up; it
        # also means no run counts as a restart until restart() says so.
        subprocess.run([self.wineserver, '-p'], env=self.env, check=True,
                       stdin=subprocess.DEVNULL)
        tools = self.unix(TOOLS)
        os.makedirs(tools)
        for src, name in ((self.helpers.exe, 'corvalesmgr.exe'),
                          (self.helpers.layout, 'layout.exe'),
                          (self.helpers.driver, 'driver.exe'),
                          (self.helpers.probe, 'probe.exe'),
                          # Not named version.dll here: our own programs would load it.
                          (self.helpers.planted_version, 'planted-version.dll')):
            shutil.copy(src, os.path.join(tools, name))
        if version:
            self.wine('winecfg', '-v', version)
        if kernel:
            target = os.path.join(self.drive_c, 'windows', 'system32', 'ntoskrnl.exe')
            # Hard-linked to the template and every other copy: replace, never write.
            os.remove(target)
            shutil.copy(self.helpers.kernels[kernel], target)
        self.kernel = kernel

    def wine(self, *args, overrides='', check=True, timeout=WINE_TIMEOUT_S):
        env = dict(self.env)
        if overrides:
            env['WINEDLLOVERRIDES'] = overrides + ';' + env['WINEDLLOVERRIDES']
        # Files, not pipes: Wine's background processes started by this one
        # would hold a pipe open long after it ended.
        with tempfile.TemporaryFile(dir=self.dir) as out, \
                tempfile.TemporaryFile(dir=self.dir) as err:
            proc = subprocess.run([self.wine_loader] + list(args), env=env,
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                  timeout=timeout)
            out.seek(0)
            err.seek(0)
            proc.stdout, proc.stderr = out.read(), err.read()
        if check and proc.returncode != 0:
            raise AssertionError('wine %s failed (%d): %s %s' % (
                ' '.join(args), proc.returncode, proc.stdout.decode(errors='replace'),
                proc.stderr.decode(errors='replace')))
        return proc

    def unix(self, windows_path):
        """C:\\a\\b -> the file in this prefix (through the user-folder links)."""
        assert windows_path[:3].upper() == 'C:\\', windows_path
        return os.path.join(self.drive_c, *[p for p in windows_path[3:].split('\\') if p])

    def exists(self, windows_path):
        return os.path.lexists(self.unix(windows_path))

    # -- the product ------------------------------------------------------
    def lay_out(self, *options):
        """Installs the product; returns the layout's report (folders, links, targets)."""
        proc = self.wine(TOOLS + 'layout.exe', TOOLS + 'corvalesmgr.exe',
                         'verbs=' + TOOLS + 'probe.exe', *options)
        self.paths = parse_report(proc.stdout.decode('utf-8'))
        return self.paths

    def plant(self, windows_dir, name, src):
        shutil.copy(src, os.path.join(self.unix(windows_dir), name))

    def uninstall(self, answer, hold=None, wait_gone=False, planted=False,
                  timeout_ms=RUN_TIMEOUT_MS):
        """Runs `corvalesmgr.exe /uninst`, answers the box, follows what it started."""
        args = [TOOLS + 'driver.exe', answer, str(timeout_ms), self.paths['exe']]
        if hold:
            args.append('hold=' + hold)
        if wait_gone:
            args.append('gone=' + self.paths['install'].rstrip('\\'))
        overrides = []
        if self.kernel:
            overrides.append('ntoskrnl.exe=n,b')
        if planted:
            overrides.append('version=n,b')
        proc = self.wine(*args, overrides=';'.join(overrides), check=False,
                         timeout=timeout_ms / 1000 + WINE_TIMEOUT_S)
        report = parse_report(proc.stdout.decode('utf-8', 'replace'))
        if proc.returncode != 0 or 'exit' not in report:
            raise AssertionError('driver failed (rc %d): %s %s' % (
                proc.returncode, proc.stdout.decode(errors='replace'),
                proc.stderr.decode(errors='replace')))
        return report

    def log(self, windows_path):
        """Lines of one of the probes' logs as (program, command line)."""
        path = self.unix(windows_path)
        if not os.path.exists(path):
            return []
        with open(path, encoding='utf-8') as f:
            return [tuple(line.split('|', 1)) for line in f.read().splitlines()]

    def pending_renames(self):
        proc = self.wine('reg', 'query', SESSION_MANAGER, '/v', 'PendingFileRenameOperations',
                         check=False)
        if proc.returncode != 0:
            return []
        text = proc.stdout.decode('utf-8', 'replace')
        for line in text.splitlines():
            if 'PendingFileRenameOperations' in line:
                data = line.split('REG_MULTI_SZ', 1)[1].strip()
                return [p for p in data.split('\\0') if p]
        return []

    def restart(self):
        """What Windows does at the next start, pending renames included."""
        self.wine('wineboot', '-r')

    # -- snapshots --------------------------------------------------------
    def key(self, windows_path):
        """The snapshot's name for a file: C:/... or HOME/... (user folders link there)."""
        real = os.path.realpath(self.unix(windows_path))
        home = os.path.realpath(self.home)
        drive = os.path.realpath(self.drive_c)
        if real == home or real.startswith(home + os.sep):
            return 'HOME' + real[len(home):]
        assert real.startswith(drive + os.sep), real
        return 'C:' + real[len(drive):]

    def _files(self, root, name):
        files = {}
        skip = os.path.realpath(self.unix(TOOLS))
        for top, dirs, names in os.walk(root):
            if os.path.realpath(top) == skip:
                dirs[:] = []
                continue
            rel = name + top[len(root):]
            in_wine_tree = rel.startswith('C:/' + WINE_TREE)
            for d in dirs:
                p = os.path.join(top, d)
                files[rel + '/' + d] = ('link', os.readlink(p)) if os.path.islink(p) else ('dir',)
            for n in names:
                p = os.path.join(top, n)
                if os.path.islink(p):
                    files[rel + '/' + n] = ('link', os.readlink(p))
                elif in_wine_tree:
                    st = os.stat(p)
                    files[rel + '/' + n] = ('file', st.st_size, st.st_mtime_ns)
                else:
                    with open(p, 'rb') as f:
                        files[rel + '/' + n] = ('file', hashlib.sha256(f.read()).hexdigest())
        return files

    def registry(self):
        self.wine('reg', 'export', 'HKCU', 'C:\\corvales-test\\hkcu.reg', '/y')
        with open(self.unix('C:\\corvales-test\\hkcu.reg'), 'rb') as f:
            text = f.read().decode('utf-16')
        return parse_reg(text)

    def snapshot(self):
        files = self._files(self.drive_c, 'C:')
        files.update(self._files(self.home, 'HOME'))
        return Snapshot(files, self.registry())

    def close(self):
        if hasattr(self, 'env'):
            subprocess.run([self.wineserver, '-k'], env=self.env, stdin=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            subprocess.run([self.wineserver, '-w'], env=self.env, stdin=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        shutil.rmtree(self.dir, ignore_errors=True)
