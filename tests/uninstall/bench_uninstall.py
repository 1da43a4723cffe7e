#!/usr/bin/env python3
"""Uninstall timings under Wine, printed and never judged.

    bench_uninstall.py <mingw64-build-dir> [runs]

From bench/run.sh: `from bench_uninstall import bench; bench(build_dir)`.
"""
import os
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from uninstallprefix import Helpers, UninstallPrefix  # noqa: E402

# Phase 2 waits this long for phase 1 to let go of the installed file.
HAND_OVER_FLOOR_MS = 2000
GONE_GOAL = 1.15
PHASE1_GOAL_MS = 50
SHORTCUTS = ('desktop=ours', 'startmenu=ours', 'programs=ours', 'programs-uninst',
             'quicklaunch=ours', 'pinned-taskbar=ours', 'pinned-startmenu=ours')


# (what is installed, winecfg version, launch shortcuts laid out)
SETUPS = (
    ('no shortcuts', 'win7', ()),
    ('every shortcut, Windows 7', 'win7', SHORTCUTS),
)


def _runs(helpers, version, layout, runs):
    """phase1_ms and gone_ms of each run, in a prefix of their own."""
    figures = {'phase1_ms': [], 'gone_ms': []}
    p = UninstallPrefix(helpers, version=version)
    try:
        # The first run also pays for loading everything cold: not counted.
        for i in range(runs + 1):
            p.lay_out(*layout)
            report = p.uninstall('ok', wait_gone=True)
            if 'gone_ms' not in report:
                raise RuntimeError('uninstall did not finish: %r' % report)
            if i:
                for key in figures:
                    figures[key].append(float(report[key]))
    finally:
        p.close()
    return figures


def bench(build_dir, runs=5, out=sys.stdout):
    """Prints the figures; returns them as {setup: {figure: [ms, ...]}}."""
    helpers = Helpers.from_build(build_dir)
    results = {}
    for label, version, layout in SETUPS:
        figures = results[label] = _runs(helpers, version, layout, runs)
        gone = statistics.median(figures['gone_ms'])
        phase1 = statistics.median(figures['phase1_ms'])
        print('uninstall (%s): OK to program folder gone: median %.0f ms of %d runs, '
              'floor %d ms, %.2fx (goal <= %.2fx)'
              % (label, gone, runs, HAND_OVER_FLOOR_MS, gone / HAND_OVER_FLOOR_MS, GONE_GOAL),
              file=out)
        print('uninstall (%s): OK to phase 1 exit: median %.1f ms of %d runs (goal < %d ms '
              'without shortcuts)' % (label, phase1, runs, PHASE1_GOAL_MS), file=out)
    return results


if __name__ == '__main__':
    if len(sys.argv) not in (2, 3):
        sys.exit('usage: bench_uninstall.py <mingw64-build-dir> [runs]')
    bench(sys.argv[1], int(sys.argv[2]) if len(sys.argv) == 3 else 5)
