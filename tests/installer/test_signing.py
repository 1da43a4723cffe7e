#!/usr/bin/env python3
"""Authenticode signing with tools/sign.sh, and tools/dist.sh's order of work.

Signs this build's program and installer; the dist test packs both builds,
so it needs the other build's program too and is skipped without it. A
throwaway self-signed code-signing certificate is made with openssl for each
run; `osslsigncode verify` is given it as the trusted root.

    test_signing.py --build i686|x86_64 --installer I.exe --exe corvalesmgr.exe
                    [--other-exe corvalesmgr.exe] --driver e2e_driver.exe
                    --helper shell_helper.exe [unittest args]
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from installerprefix import Profile
from wineprefix import BUILDS, add_build_argument

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
SIGN = os.path.join(ROOT, 'tools', 'sign.sh')
DIST = os.path.join(ROOT, 'tools', 'dist.sh')
VERSION = '1.0.0.0'
SUBJECT = 'Corvales Test Signing'
PASSWORD = 'not-a-secret'

ARGS = None


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def digest(path):
    """What two files are compared by: a short, readable stand-in for their bytes."""
    return hashlib.sha256(read(path)).hexdigest()


def run(args, env=None, check=True):
    proc = subprocess.run(args, env=dict(os.environ, **(env or {})), stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
    if check and proc.returncode != 0:
        raise AssertionError('%s failed (rc %d):\n%s' % (args[0], proc.returncode, proc.stdout.decode()))
    return proc


class Keys:
    """A self-signed code-signing certificate as PEM files and as PKCS#12."""

    def __init__(self, dir):
        self.cert = os.path.join(dir, 'cert.pem')
        self.key = os.path.join(dir, 'key.pem')
        self.p12 = os.path.join(dir, 'cert.p12')
        run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2',
             '-subj', '/CN=' + SUBJECT, '-addext', 'extendedKeyUsage=codeSigning',
             '-keyout', self.key, '-out', self.cert])
        run(['openssl', 'pkcs12', '-export', '-in', self.cert, '-inkey', self.key, '-out', self.p12,
             '-passout', 'pass:' + PASSWORD])
        # (name, environment) of each way to hand sign.sh its certificate.
        self.ways = [
            ('PEM certificate and key', {'CORVALES_SIGN_CERT': self.cert, 'CORVALES_SIGN_KEY': self.key}),
            ('PKCS#12 with a password', {'CORVALES_SIGN_CERT': self.p12, 'CORVALES_SIGN_PASS': PASSWORD}),
        ]


class SigningCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='corvales-sign-test-')
        cls.keys = Keys(cls.dir)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def verify(self, path):
        """(passed, osslsigncode's report)."""
        proc = run(['osslsigncode', 'verify', '-CAfile', self.keys.cert, '-in', path], check=False)
        return proc.returncode == 0, proc.stdout.decode(errors='replace')

    def assertSigned(self, path):
        passed, report = self.verify(path)
        self.assertTrue(passed, report)
        self.assertIn('Number of verified signatures: 1\n', report)
        self.assertIn(SUBJECT, report)

    def assertNotSigned(self, path):
        passed, report = self.verify(path)
        self.assertFalse(passed, report)

    def copy(self, src, name):
        path = os.path.join(self.dir, name)
        shutil.copy(src, path)
        return path


class SignTest(SigningCase):
    """tools/sign.sh on both kinds of PE file this build makes: its program and its installer."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.files = [('program', ARGS.exe), ('installer', ARGS.installer)]

    def test_signed_files_verify(self):
        for way, env in self.keys.ways:
            for name, src in self.files:
                with self.subTest(way=way, file=name):
                    path = self.copy(src, 'signed.exe')
                    run([SIGN, path], env)
                    self.assertSigned(path)
                    # Signing again replaces the signature instead of adding one.
                    run([SIGN, path], env)
                    self.assertSigned(path)

    def test_unsigned_and_altered_files_fail(self):
        env = self.keys.ways[0][1]
        for name, src in self.files:
            with self.subTest(file=name):
                self.assertNotSigned(src)
                path = self.copy(src, 'altered.exe')
                run([SIGN, path], env)
                data = bytearray(read(path))
                # A byte of the code, well inside what the signature covers.
                data[len(data) // 3] ^= 0xFF
                with open(path, 'wb') as f:
                    f.write(data)
                self.assertNotSigned(path)

    def test_failed_signing_leaves_the_file_alone(self):
        cases = [
            ('wrong password', {'CORVALES_SIGN_CERT': self.keys.p12, 'CORVALES_SIGN_PASS': 'wrong'}),
            ('key missing', {'CORVALES_SIGN_CERT': self.keys.cert, 'CORVALES_SIGN_KEY': self.dir + '/none'}),
            ('no certificate', {'CORVALES_SIGN_CERT': ''}),
        ]
        for name, env in cases:
            with self.subTest(name):
                path = self.copy(ARGS.exe, 'untouched.exe')
                self.assertNotEqual(run([SIGN, path], env, check=False).returncode, 0)
                self.assertEqual(digest(path), digest(ARGS.exe))

    def test_fixed_signing_time_gives_the_same_bytes(self):
        env = dict(self.keys.ways[0][1], SOURCE_DATE_EPOCH='1700000000')
        first, second = self.copy(ARGS.exe, 'first.exe'), self.copy(ARGS.exe, 'second.exe')
        run([SIGN, first], env)
        run([SIGN, second], env)
        self.assertEqual(digest(first), digest(second))
        self.assertSigned(first)


class DistTest(SigningCase):
    """tools/dist.sh into a temporary folder, as `make dist` runs it."""

    @classmethod
    def setUpClass(cls):
        if not os.path.exists(ARGS.other_exe):
            raise unittest.SkipTest('tools/dist.sh packs both builds: no %s program at %s (build the '
                                    'other preset, or set CORVALES_OTHER_BUILD_DIR)'
                                    % (other_build(), ARGS.other_exe))
        super().setUpClass()

    def dist(self, env):
        out = tempfile.mkdtemp(prefix='dist-', dir=self.dir)
        exes = {ARGS.build: ARGS.exe, other_build(): ARGS.other_exe}
        env = dict(env, CORVALES_DIST_DIR=out, CORVALES_BUILD64=os.path.dirname(exes['x86_64']),
                   CORVALES_BUILD32=os.path.dirname(exes['i686']))
        log = run([DIST], env).stdout.decode(errors='replace')
        programs = {build: os.path.join(out, build, 'corvalesmgr.exe') for build in BUILDS}
        installers = {build: os.path.join(out, 'corvalesmgr-%s-%s-installer.exe' % (VERSION, build))
                      for build in BUILDS}
        return exes, programs, installers, log

    def test_unsigned(self):
        exes, programs, installers, log = self.dist({'CORVALES_SIGN_CERT': ''})
        self.assertIn('unsigned', log)
        for build in BUILDS:
            with self.subTest(build):
                self.assertNotSigned(programs[build])
                self.assertNotSigned(installers[build])
                self.assertEqual(digest(programs[build]), digest(exes[build]))
        # Same program, same script: the same bytes as this build's installer.
        self.assertEqual(digest(installers[ARGS.build]), digest(ARGS.installer))

    def test_signed_programs_go_into_signed_installers(self):
        _, programs, installers, _ = self.dist(self.keys.ways[1][1])
        for build in BUILDS:
            with self.subTest(build):
                self.assertSigned(programs[build])
                self.assertSigned(installers[build])
        profile = Profile(ARGS.helper, ARGS.driver)
        try:
            self.assertEqual(profile.install(installers[ARGS.build], '/S'), 0)
            self.assertEqual(digest(profile.unix(profile.exe)), digest(programs[ARGS.build]),
                             'the installer holds the signed program')
        finally:
            profile.close()


def other_build():
    return next(b for b in BUILDS if b != ARGS.build)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    add_build_argument(parser)
    for name in ('installer', 'exe', 'driver', 'helper'):
        parser.add_argument('--' + name, required=True)
    parser.add_argument('--other-exe', default='', help="the other build's program, for the dist test")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
