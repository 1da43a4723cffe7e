"""The Python side of wine-env.sh: a throwaway prefix for a test to use."""
import os
import subprocess

WINE_ENV = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'wine-env.sh')


def fresh_prefix(dir, timeout=None):
    """Makes DIR/prefix and DIR/home from the template prefix.

    Returns (wine loader, wineserver, environment for running Wine there).
    """
    out = subprocess.run(
        ['bash', '-c', '. "$1" && corvales_wine_fresh_prefix "$2" && corvales_wine_use "$2" && '
         'printf "%s\\0" "$CORVALES_WINE" "$CORVALES_WINESERVER" && env -0', '_', WINE_ENV, dir],
        check=True, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=timeout).stdout.decode()
    fields = out.split('\0')
    env = dict(f.split('=', 1) for f in fields[2:] if '=' in f)
    return fields[0], fields[1], env
