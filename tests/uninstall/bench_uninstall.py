#!/usr/bin/env python3
"""Uninstall timings under Wine for both builds, printed and never judged.

    bench_uninstall.py <mingw64-build-dir> <mingw32-build-dir> [runs]

Each setup gets one prefix (a 64-bit Windows 7) in which the runs of the two
programs alternate, so both meet the same Wine session and the same load.
The first build directory's helpers lay out and drive every run.
"""
import os
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from uninstallprefix import TOOLS, Helpers, UninstallPrefix  # noqa: E402

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


def _runs(helpers, programs, version, layout, runs):
    """{build: {'phase1_ms': [...], 'gone_ms': [...]}}, all in one prefix."""
    figures = {build: {'phase1_ms': [], 'gone_ms': []} for build in programs}
    p = UninstallPrefix(helpers, version=version)
    try:
        for build, exe in programs.items():
            p.copy_in(exe, TOOLS + 'corvalesmgr-%s.exe' % build)
        # The first round also pays for loading everything cold: not counted.
        for i in range(runs + 1):
            for build in programs:
                p.lay_out(*layout, source=TOOLS + 'corvalesmgr-%s.exe' % build)
                report = p.uninstall('ok', wait_gone=True)
                if 'gone_ms' not in report:
                    raise RuntimeError('uninstall of the %s build did not finish: %r'
                                       % (build, report))
                if i:
                    for key in figures[build]:
                        figures[build][key].append(float(report[key]))
    finally:
        p.close()
    return figures


def bench(build_dirs, runs=5, out=sys.stdout):
    """Prints the figures; returns them as {setup: {build: {figure: [ms, ...]}}}."""
    helpers = [Helpers.from_build(d) for d in build_dirs]
    programs = {h.build: h.exe for h in helpers}
    results = {}
    for label, version, layout in SETUPS:
        results[label] = _runs(helpers[0], programs, version, layout, runs)
        for build, figures in results[label].items():
            gone = statistics.median(figures['gone_ms'])
            phase1 = statistics.median(figures['phase1_ms'])
            print('uninstall %-6s (%s): OK to program folder gone: median %.0f ms of %d runs, '
                  'floor %d ms, %.2fx (goal <= %.2fx, %s)'
                  % (build, label, gone, runs, HAND_OVER_FLOOR_MS, gone / HAND_OVER_FLOOR_MS,
                     GONE_GOAL, 'met' if gone / HAND_OVER_FLOOR_MS <= GONE_GOAL else 'missed'),
                  file=out)
            print('uninstall %-6s (%s): OK to phase 1 exit: median %.1f ms of %d runs (goal < %d '
                  'ms without shortcuts)' % (build, label, phase1, runs, PHASE1_GOAL_MS), file=out)
    return results


if __name__ == '__main__':
    if len(sys.argv) < 2:
        sys.exit('usage: bench_uninstall.py <build-dir>... [runs]')
    args = sys.argv[1:]
    count = int(args.pop()) if args[-1].isdigit() else 5
    bench(args, count)
