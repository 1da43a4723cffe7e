#!/usr/bin/env python3
"""Authenticode signing with tools/sign.sh, and tools/dist.sh's order of work.

A throwaway self-signed code-signing certificate is made with openssl for
each run; `osslsigncode verify` is given it as the trusted root.

    test_signing.py --installer I.exe --exe corvalesmgr.exe [--exe32 corvalesmgr.exe]
                    --driver e2e_driver.exe --helper shell_helper.exe [unittest args]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from installerprefix import Profile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
SIGN = os.path.join(ROOT, 'tools', 'sign.sh')
DIST = os.path.join(ROOT, 'tools', 'dist.sh')
BUILD = os.path.join(ROOT, 'installer', 'build.sh')
VERSION = '1.0.0.0'
SUBJECT = 'Corvales Test Signing'
PASSWORD = 'not-a-secret'

ARGS = None


def read(path):
    with open(path, 'rb') as f:
        return f.read()


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
    """tools/sign.sh on both kinds of PE file: programs and installers."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # The x86 stub makes a PE32 installer whatever program it carries.
        exe32 = ARGS.exe32 if os.path.exists(ARGS.exe32) else ARGS.exe
        installer32 = os.path.join(cls.dir, 'installer32.exe')
        run([BUILD, 'i686', exe32, installer32, VERSION])
        cls.files = [('64-bit program', ARGS.exe), ('64-bit installer', ARGS.installer),
                     ('32-bit installer', installer32)]
        if os.path.exists(ARGS.exe32):
            cls.files.append(('32-bit program', ARGS.exe32))
        else:
            print('no 32-bit program at %s: build the mingw32 preset to sign it too' % ARGS.exe32)

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
                self.assertEqual(read(path), read(ARGS.exe))

    def test_fixed_signing_time_gives_the_same_bytes(self):
        env = dict(self.keys.ways[0][1], SOURCE_DATE_EPOCH='1700000000')
        first, second = self.copy(ARGS.exe, 'first.exe'), self.copy(ARGS.exe, 'second.exe')
        run([SIGN, first], env)
        run([SIGN, second], env)
        self.assertEqual(read(first), read(second))
        self.assertSigned(first)


class DistTest(SigningCase):
    """tools/dist.sh into a temporary folder, as `make dist` runs it."""

    @classmethod
    def setUpClass(cls):
        if not os.path.exists(ARGS.exe32):
            raise unittest.SkipTest('tools/dist.sh needs the 32-bit program: build the mingw32 preset')
        super().setUpClass()

    def dist(self, env):
        out = tempfile.mkdtemp(prefix='dist-', dir=self.dir)
        env = dict(env, CORVALES_DIST_DIR=out, CORVALES_BUILD64=os.path.dirname(ARGS.exe),
                   CORVALES_BUILD32=os.path.dirname(ARGS.exe32))
        log = run([DIST], env).stdout.decode(errors='replace')
        files = {
            'x86_64': os.path.join(out, 'x86_64', 'corvalesmgr.exe'),
            'i686': os.path.join(out, 'i686', 'corvalesmgr.exe'),
            'x86_64 installer': os.path.join(out, 'corvalesmgr-%s-x86_64-installer.exe' % VERSION),
            'i686 installer': os.path.join(out, 'corvalesmgr-%s-i686-installer.exe' % VERSION),
        }
        return files, log

    def test_unsigned(self):
        files, log = self.dist({'CORVALES_SIGN_CERT': ''})
        self.assertIn('unsigned', log)
        for name, path in files.items():
            with self.subTest(name):
                self.assertNotSigned(path)
        self.assertEqual(read(files['x86_64']), read(ARGS.exe))
        self.assertEqual(read(files['i686']), read(ARGS.exe32))
        # Same program, same script: the same bytes as the build's installer.
        self.assertEqual(read(files['x86_64 installer']), read(ARGS.installer))

    def test_signed_programs_go_into_signed_installers(self):
        files, _ = self.dist(self.keys.ways[1][1])
        for name, path in files.items():
            with self.subTest(name):
                self.assertSigned(path)
        profile = Profile(ARGS.driver, ARGS.helper)
        try:
            self.assertEqual(profile.install(files['x86_64 installer'], '/S'), 0)
            installed = profile.unix(profile.exe)
            self.assertEqual(read(installed), read(files['x86_64']), 'the installer holds the signed program')
        finally:
            profile.close()


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ('installer', 'exe', 'driver', 'helper'):
        parser.add_argument('--' + name, required=True)
    parser.add_argument('--exe32', default='')
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
