"""Throwaway Wine prefixes for the Python suites, the demo and the benchmark.

One library for every suite that runs the program or its installer:

- `Prefix`: a fresh prefix of a given kind (a 64-bit Windows, which runs
  32-bit programs under WoW64, or a 32-bit one), copied from the template
  that wine-env.sh keeps, with its own HOME; Wine commands run with their
  output in files; the Windows release, the kernel file, the browser hook
  and the unpin-verb hook; snapshots of files and HKCU; restarts.
- `Driver`: the launch driver (tests/e2e/driver.cpp) that starts the
  program with an exact command line and answers its box.
- `Snapshot`, `parse_reg`, `parse_report`: what the snapshots and the
  Windows-side helpers' reports are made of.

Wine's output never goes through a pipe: the wineserver and services that
the first command starts inherit it and keep it open for the whole session.
"""
import hashlib
import os
import re
import select
import shlex
import shutil
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_ENV = os.path.join(HERE, 'wine-env.sh')

# Which build a suite runs: the folder names of dist/ and the ctest suffixes.
BUILDS = ('i686', 'x86_64')
# The kinds of prefix: a 64-bit Windows (both builds run, the 32-bit one
# under WoW64) or a 32-bit one (only 32-bit programs run).
ARCHES = ('win64', 'win32')

# Well above any one command's own time; only guards against a stuck Wine.
WINE_TIMEOUT_S = 120
# The very first prefix on a machine can take minutes to make.
MAKE_TIMEOUT_S = 1200
# The launcher that hands an address to the browser hook runs a moment
# after the program has ended.
URL_WAIT_S = 15
URL_SETTLE_S = 0.3

UNPIN_VERBS = ('taskbarunpin', 'startunpin')
REG_EXPORT_TRIES = 3


def fresh_prefix(dir, arch='win64', timeout=MAKE_TIMEOUT_S):
    """Makes DIR/prefix and DIR/home from the template of that kind.

    Returns (wine loader, wineserver, environment for running Wine there).
    """
    if arch not in ARCHES:
        raise ValueError('no such kind of prefix: %r' % arch)
    env = dict(os.environ, CORVALES_WINE_ARCH=arch)
    out = subprocess.run(
        ['bash', '-c', '. "$1" && corvales_wine_fresh_prefix "$2" && corvales_wine_use "$2" && '
         'printf "%s\\0" "$CORVALES_WINE" "$CORVALES_WINESERVER" && env -0', '_', WINE_ENV, dir],
        check=True, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, env=env,
        timeout=timeout).stdout.decode()
    fields = out.split('\0')
    env = dict(f.split('=', 1) for f in fields[2:] if '=' in f)
    return fields[0], fields[1], env


# -- what Windows-side programs and Wine's tools print ------------------------

def _unescape(value):
    return re.sub(r'\\u([0-9a-f]{4})', lambda m: chr(int(m.group(1), 16)), value)


def parse_report(text, unescape=False):
    """key=value lines as a dict; unescape turns \\uXXXX back into text."""
    report = {}
    for line in text.splitlines():
        key, sep, value = line.partition('=')
        if sep:
            report[key] = _unescape(value) if unescape else value
    return report


def parse_reg(text):
    """A `reg export` file as {key: {value name: raw data}}.

    Key names are in lower case, as the registry ignores case (and Wine
    writes "Software" for "SOFTWARE"). Value names keep their quotes ("@" is
    the default value); long data continued after a trailing backslash is
    joined.
    """
    keys = {}
    current = None
    for line in re.sub(r'\\\r?\n\s*', '', text).splitlines():
        if line.startswith('[') and line.endswith(']'):
            current = keys.setdefault(line[1:-1].lower(), {})
        elif current is not None and line.startswith(('"', '@')):
            m = re.match(r'(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
            if m:
                current[m.group(1)] = m.group(2)
    return keys


def reg_string(raw):
    """The text of a "..." value as `reg export` writes it."""
    assert raw.startswith('"') and raw.endswith('"'), raw
    return re.sub(r'\\(.)', r'\1', raw[1:-1])


def reg_value(raw):
    if raw.startswith('dword:'):
        return int(raw[6:], 16)
    return reg_string(raw)


def encode_hex(line):
    """UTF-16 units as 4 hex digits each; keeps lone surrogates."""
    data = line.encode('utf-16-le', 'surrogatepass')
    return ''.join('%04x' % int.from_bytes(data[i:i + 2], 'little') for i in range(0, len(data), 2))


def utf16_len(line):
    return len(line.encode('utf-16-le', 'surrogatepass')) // 2


class Result:
    def __init__(self, returncode, stdout, stderr):
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr

    @property
    def text(self):
        return self.stdout.decode('utf-8', 'replace')

    def __str__(self):
        return 'rc %d: %s %s' % (self.returncode, self.stdout.decode('utf-8', 'replace'),
                                 self.stderr.decode('utf-8', 'replace'))


# -- Wine's relay trace ----------------------------------------------------------

RELAY_DEBUG = '+relay,+loaddll'
_RELAY_LINE = re.compile(r'^([0-9a-f]+):(Call|Ret) +([\w.]+)\((.*?)\)(?: retval=([0-9a-f]+))? ret=([0-9a-f]+)$')


def relay_calls(trace, module):
    """The calls a program made itself, from a WINEDEBUG=+relay,+loaddll trace.

    module: the Windows path of the program's file. Its thread is the one
    that logged loading it (Wine's own programs may share its image base, so
    return addresses cannot tell them apart). Returns the outermost calls of
    that thread as (function, arguments, return value or None), in order;
    calls the listed functions make of each other are left out.
    """
    wanted = 'Loaded L"%s"' % module.replace('\\', '\\\\')
    thread = None
    for line in trace.splitlines():
        if ':trace:loaddll:' in line and wanted.lower() in line.lower():
            thread = line.split(':', 1)[0]
            break
    if thread is None:
        raise AssertionError('the trace does not show %s being loaded' % module)
    calls, depth = [], 0
    for line in trace.splitlines():
        m = _RELAY_LINE.match(line.strip())
        if not m or m.group(1) != thread:
            continue
        if m.group(2) == 'Call':
            if depth == 0:
                calls.append([m.group(3), m.group(4), None])
            depth += 1
        else:
            depth -= 1
            if depth == 0:
                calls[-1][2] = int(m.group(5), 16) if m.group(5) else None
    return [tuple(c) for c in calls]


# What to trace to see the program's COM apartments around its shell calls.
APARTMENT_CALLS = ('shell32.ShellExecuteW', 'ole32.CoInitialize', 'combase.CoInitializeEx',
                   'combase.CoUninitialize')
# COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE, as relay prints it.
SHELL_APARTMENT_FLAGS = 6


def apartment_faults(calls):
    """What is wrong with the COM around a program's shell calls, from
    relay_calls over APARTMENT_CALLS; empty when every ShellExecuteW sat
    alone in a successful CoInitializeEx(NULL, SHELL_APARTMENT_FLAGS) that
    was balanced right after it, and every successful initialisation of the
    run was balanced once."""
    faults = []
    names = [c[0] for c in calls]
    for i, (name, args, _) in enumerate(calls):
        if name != 'shell32.ShellExecuteW':
            continue
        before = calls[i - 1] if i else None
        after = calls[i + 1] if i + 1 < len(calls) else None
        if (not before or before[0] != 'combase.CoInitializeEx'
                or int(before[1].split(',')[1], 16) != SHELL_APARTMENT_FLAGS
                or before[2] not in (0, 1)):
            faults.append('call %d (%s) is not right after its own apartment: %r' % (i, args, before))
        if not after or after[0] != 'combase.CoUninitialize':
            faults.append('call %d (%s) is not followed by CoUninitialize: %r' % (i, args, after))
    opened = sum(1 for name, _, ret in calls
                 if name in ('ole32.CoInitialize', 'combase.CoInitializeEx') and ret in (0, 1))
    closed = names.count('combase.CoUninitialize')
    if opened != closed:
        faults.append('%d successful initialisations, %d CoUninitialize' % (opened, closed))
    return faults


# -- snapshots ------------------------------------------------------------------

class Snapshot:
    """Files (name -> kind and content) and HKCU (key -> values) at one moment.

    Files are named C:/... or HOME/... by where they really are (the user
    folders of a prefix may be links into HOME).
    """

    def __init__(self, files, registry):
        self.files, self.registry = files, registry

    def diff(self, later):
        """What changed since this one: {'files+', 'files-', 'files~', 'keys+',
        'keys-', 'values~'} -> set of names, leaving out the empty ones."""
        out = {'files+': set(), 'files-': set(), 'files~': set(),
               'keys+': set(), 'keys-': set(), 'values~': set()}
        a, b = self.files, later.files
        out['files+'] = set(b) - set(a)
        out['files-'] = set(a) - set(b)
        out['files~'] = {p for p in set(a) & set(b) if a[p] != b[p]}
        a, b = self.registry, later.registry
        out['keys+'] = set(b) - set(a)
        out['keys-'] = set(a) - set(b)
        for key in set(a) & set(b):
            for name in a[key].keys() | b[key].keys():
                if a[key].get(name) != b[key].get(name):
                    out['values~'].add(key + '\\\\' + name)
        return {k: v for k, v in out.items() if v}


# -- the prefix -------------------------------------------------------------------

class Prefix:
    """A throwaway prefix with its own HOME, removed by close().

    arch: 'win64' or 'win32'; a 64-bit one is laid out as 64-bit Windows has
    it, with no kernel file in SysWOW64. version: a `winecfg -v` name. persistent keeps
    the wineserver up between commands, so each costs only its own start-up
    and no command counts as a restart until restart() says so.
    browser: route opened web addresses to a hook that records them.
    tools: a folder (C:\\...) that the file snapshots leave out, for the
    test's own programs.
    """

    def __init__(self, arch='win64', version=None, persistent=False, browser=False,
                 tools=None, prefix='corvales-'):
        self.arch = arch
        self.tools = tools
        self.dir = tempfile.mkdtemp(prefix=prefix)
        try:
            self.wine_loader, self.wineserver, self.env = fresh_prefix(self.dir, arch)
            self.prefix = self.env['WINEPREFIX']
            self.home = self.env['HOME']
            self.drive_c = os.path.join(self.prefix, 'drive_c')
            if persistent:
                self._server('-p')
            if tools:
                os.makedirs(self.unix(tools), exist_ok=True)
            self.record = None
            if browser:
                self.set_browser_hook()
            if version:
                self.set_version(version)
        except BaseException:
            self.close()
            raise

    # Running ----------------------------------------------------------------

    def _server(self, *args, timeout=None):
        subprocess.run([self.wineserver] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)

    def run(self, *args, overrides='', check=True, timeout=WINE_TIMEOUT_S, env=None):
        """Runs a Wine command (a program or one of Wine's tools); returns a Result.

        overrides go before the prefix's own WINEDLLOVERRIDES, for this
        command only.
        """
        run_env = dict(self.env, **(env or {}))
        if overrides:
            run_env['WINEDLLOVERRIDES'] = overrides + ';' + run_env.get('WINEDLLOVERRIDES', '')
        with tempfile.TemporaryFile(dir=self.dir) as out, \
                tempfile.TemporaryFile(dir=self.dir) as err:
            rc = subprocess.run([self.wine_loader] + list(args), env=run_env,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            result = Result(rc, out.read(), err.read())
        if check and rc != 0:
            raise AssertionError('wine %s failed (%s)' % (' '.join(args), result))
        return result

    def popen(self, *args, **kwargs):
        """Starts a Wine command without waiting; its stdin is a pipe of ours."""
        kwargs.setdefault('stdin', subprocess.PIPE)
        kwargs.setdefault('stderr', subprocess.DEVNULL)
        return subprocess.Popen([self.wine_loader] + list(args), env=self.env, **kwargs)

    def end(self):
        """Ends every process of the prefix; its registry files are then saved."""
        self._server('-k')
        self._server('-w', timeout=WINE_TIMEOUT_S)

    def restart(self):
        """What Windows does at its next start, pending renames included."""
        self.run('wineboot', '-r')

    def close(self):
        """Ends the prefix's processes and removes it; again, it does nothing."""
        if getattr(self, 'closed', False):
            return
        self.closed = True
        if getattr(self, 'env', None):
            self._server('-k')
            try:
                self._server('-w', timeout=60)
            except subprocess.TimeoutExpired:
                pass
        shutil.rmtree(self.dir, ignore_errors=True)

    # A loop over prefixes keeps only one running at a time.
    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # Paths ------------------------------------------------------------------

    def unix(self, windows_path):
        """C:\\a\\b -> that file in this prefix (through the user-folder links)."""
        assert windows_path[:3].upper() == 'C:\\', windows_path
        return os.path.join(self.drive_c, *[p for p in windows_path[3:].split('\\') if p])

    def real(self, windows_path):
        return os.path.realpath(self.unix(windows_path))

    @staticmethod
    def windows_path(unix):
        """A Unix path as Windows sees it (drive Z: is /)."""
        return 'Z:' + os.path.abspath(unix).replace('/', '\\')

    def exists(self, windows_path):
        return os.path.lexists(self.unix(windows_path))

    def copy_in(self, src, windows_path):
        """Copies a file of ours to C:\\... in the prefix."""
        target = self.unix(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(src, target)
        return windows_path

    def system_dir(self, name):
        """Unix path of the prefix's C:\\windows\\<name> (system32, syswow64)."""
        return os.path.join(self.drive_c, 'windows', name)

    # The Windows release and the kernel file ---------------------------------

    def set_version(self, version):
        self.run('winecfg', '-v', version)

    def put_kernel(self, src, folder='system32'):
        """Makes src the prefix's kernel file in that system folder.

        The prefix's system files are hard links shared with the template
        and every other prefix: replace, never write into one.
        """
        target = os.path.join(self.system_dir(folder), 'ntoskrnl.exe')
        staged = target + '.new'
        shutil.copyfile(src, staged)
        os.replace(staged, target)

    # Hooks -------------------------------------------------------------------

    def set_browser_hook(self):
        """Every address Wine is asked to open is written, one argument a
        line, to a file of ours (a split address shows as extra lines)."""
        self.record = os.path.join(self.dir, 'urls')
        hook = os.path.join(self.dir, 'browser-hook')
        with open(hook, 'w') as f:
            f.write('#!/bin/sh\nprintf \'%%s\\n\' "$@" >>%s\n' % shlex.quote(self.record))
        os.chmod(hook, 0o755)
        self.run('reg', 'add', r'HKCU\Software\Wine\WineBrowser', '/v', 'Browsers',
                 '/t', 'REG_SZ', '/d', '"%s"' % hook, '/f')

    def clear_urls(self):
        if os.path.exists(self.record):
            os.remove(self.record)

    def urls(self, expect_any):
        """The addresses received, after waiting for the first if expect_any."""
        deadline = time.monotonic() + (URL_WAIT_S if expect_any else 0)
        while time.monotonic() < deadline and not os.path.exists(self.record):
            time.sleep(0.05)
        time.sleep(URL_SETTLE_S)
        if not os.path.exists(self.record):
            return []
        with open(self.record, encoding='utf-8', errors='surrogateescape') as f:
            return f.read().splitlines()

    def set_relay(self, functions):
        """Which calls a WINEDEBUG=+relay run traces (module.Function each).
        ole32's CoInitializeEx and CoUninitialize are forwards to combase
        and are traced under combase's name."""
        self.run('reg', 'add', r'HKCU\Software\Wine\Debug', '/v', 'RelayInclude',
                 '/t', 'REG_SZ', '/d', ';'.join(functions), '/f')

    def set_verb_hook(self, handler):
        """The shell's unpin verbs on links start handler as
        `handler <verb> "<link>"` (Wine has no such verbs of its own)."""
        for verb in UNPIN_VERBS:
            self.run('reg', 'add', 'HKCR\\lnkfile\\shell\\%s\\command' % verb, '/ve',
                     '/t', 'REG_SZ', '/d', '"%s" %s "%%1"' % (handler, verb), '/f')

    # Looking -----------------------------------------------------------------

    def registry(self):
        """HKCU as parse_reg gives it."""
        out = os.path.join(self.dir, 'hkcu.reg')
        # Wine's reg export has been seen to fail now and then (exit 1, no
        # message) right after an uninstall, while what it started was still
        # ending. A failed export changes nothing: ask again.
        for attempt in range(REG_EXPORT_TRIES):
            result = self.run('reg', 'export', 'HKCU', self.windows_path(out), '/y',
                              check=attempt == REG_EXPORT_TRIES - 1)
            if result.returncode == 0:
                break
            time.sleep(0.5)
        with open(out, 'rb') as f:
            return parse_reg(f.read().decode('utf-16'))

    def key_values(self, key, registry=None):
        """{value name: str or int} of a key (full name, any case), or None."""
        registry = self.registry() if registry is None else registry
        values = registry.get(key.lower())
        if values is None:
            return None
        return {('@' if name == '@' else reg_string(name)): reg_value(raw)
                for name, raw in values.items()}

    def name(self, windows_path):
        """The snapshot's name for a file: C:/... or HOME/..."""
        real = self.real(windows_path)
        home = os.path.realpath(self.home)
        drive = os.path.realpath(self.drive_c)
        if real == home or real.startswith(home + os.sep):
            return 'HOME' + real[len(home):]
        assert real.startswith(drive + os.sep), real
        return 'C:' + real[len(drive):]

    def _files(self, root, label):
        files = {}
        skip = os.path.realpath(self.unix(self.tools)) if self.tools else None
        for top, dirs, names in os.walk(root):
            if skip and os.path.realpath(top) == skip:
                dirs[:] = []
                continue
            rel = label + top[len(root):]
            # Wine's own tree is large: compared by size and time, which a
            # file changed there would still show.
            in_wine_tree = rel.lower().startswith('c:/windows')
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

    def snapshot(self):
        files = self._files(self.drive_c, 'C:')
        files.update(self._files(self.home, 'HOME'))
        return Snapshot(files, self.registry())

    SESSION_MANAGER = r'HKLM\System\CurrentControlSet\Control\Session Manager'

    def pending_renames(self):
        """PendingFileRenameOperations while the prefix runs (persistent)."""
        result = self.run('reg', 'query', self.SESSION_MANAGER, '/v',
                          'PendingFileRenameOperations', check=False)
        if result.returncode != 0:
            return []
        for line in result.text.splitlines():
            if 'PendingFileRenameOperations' in line:
                data = line.split('REG_MULTI_SZ', 1)[1].strip()
                return [p for p in data.split('\\0') if p]
        return []

    def saved_pending_renames(self):
        """PendingFileRenameOperations as saved in system.reg; starts nothing
        (a Wine command after every process ended would be a restart)."""
        with open(os.path.join(self.prefix, 'system.reg'), encoding='utf-8',
                  errors='replace') as f:
            m = re.search(r'^"PendingFileRenameOperations"=str\(7\):"(.*)"$', f.read(), re.M)
        if not m:
            return []
        text = m.group(1).replace('\\0', '\0')
        return [p for p in re.sub(r'\\(.)', r'\1', text).split('\0') if p]


# -- the launch driver ----------------------------------------------------------

# Wine's CreateProcessW has been seen, rarely and under load, to fail with
# ERROR_INTERNAL_ERROR (1359) before the program runs at all; the drivers
# report it as error=createprocess 1359. Such a run shows nothing of the
# program, so it is made again.
START_TRIES = 3
NOT_STARTED = 'createprocess 1359'


def until_started(run_once):
    """run_once() -> (result, driver report), repeated while the driver could
    not start the program; returns the last."""
    for _ in range(START_TRIES):
        result, report = run_once()
        if report.get('error') != NOT_STARTED:
            break
    return result, report


class Driver:
    """tests/e2e/driver.cpp in a prefix: starts a command line exactly as
    given, answers or waits for its box, follows what it starts."""

    # The desktop of a new prefix; the very first one on a machine can be slow.
    HOLD_START_S = 300
    # Above any run's own timeout.
    GRACE_S = 60

    def __init__(self, prefix, driver):
        self.prefix = prefix
        self.exe = os.path.join(prefix.dir, 'driver.exe')
        shutil.copy(driver, self.exe)
        # Keeps the desktop process up between runs (it ends when our stdin
        # closes, also if the test dies).
        self.hold = prefix.popen(self.exe, 'hold', stdout=subprocess.PIPE)
        ready, _, _ = select.select([self.hold.stdout], [], [], self.HOLD_START_S)
        if not ready or self.hold.stdout.readline().strip() != b'ready':
            self.close()
            raise RuntimeError('the Wine desktop did not start')

    def close(self):
        if self.hold:
            self.hold.stdin.close()
            try:
                self.hold.wait(30)
            except subprocess.TimeoutExpired:
                self.hold.kill()
            self.hold.stdout.close()
            self.hold = None

    def _line_arg(self, line):
        hexed = encode_hex(line)
        # Our own command line could not carry the longest ones.
        if len(hexed) < 8000:
            return 'hex:' + hexed
        path = os.path.join(self.prefix.dir, 'cmdline.hex')
        with open(path, 'w') as f:
            f.write(hexed)
        return 'file:' + self.prefix.windows_path(path)

    def drive(self, *args, timeout_ms):
        def once():
            result = self.prefix.run(self.exe, *args, check=False,
                                     timeout=timeout_ms / 1000 + self.GRACE_S)
            return result, parse_report(result.stdout.decode('utf-8', 'surrogateescape'),
                                        unescape=True)
        result, report = until_started(once)
        if result.returncode != 0 or 'exit' not in report:
            raise AssertionError('driver failed (%s)' % result)
        return report

    def run(self, line, timeout_ms=15000):
        return self.drive('run', str(timeout_ms), self._line_arg(line), timeout_ms=timeout_ms)

    def box(self, action, line, timeout_ms=15000):
        """action: ok, cancel, close, or none (no box may appear)."""
        return self.drive('box', action, str(timeout_ms), self._line_arg(line),
                          timeout_ms=timeout_ms)

    def time_runs(self, runs, line):
        """Milliseconds from start to exit of each of runs runs of line."""
        result = self.prefix.run(self.exe, 'time', str(runs), self._line_arg(line), check=False,
                                 timeout=runs * 60 + self.GRACE_S)
        times = [float(m) for m in re.findall(r'^ms=([0-9.]+) exit=0$', result.text, re.M)]
        if result.returncode != 0 or len(times) != runs:
            raise AssertionError('timing failed (%s)' % result)
        return times


def add_build_argument(parser):
    """--build i686|x86_64: which build the suite runs (names its prefixes'
    programs and its expectations)."""
    parser.add_argument('--build', choices=BUILDS, required=True)
