#!/usr/bin/env python3
"""Shows an uninstall under Wine: what was installed, what is left.

    demo_uninstall.py <build-dir>   (the 32-bit build, as users install it)
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from uninstallprefix import (PROBE_LOG, PRODUCT_KEY, Helpers,  # noqa: E402
                             UninstallPrefix)

LAYOUT = ('desktop=ours', 'programs=ours', 'programs-uninst', 'pinned-taskbar=ours',
          'pinned-startmenu=ours')


def product_items(p):
    """(label, Windows path) of everything of the product's under the profile."""
    d = p.paths
    items = [('program folder', d['install'])]
    items += [('  ' + name, d['install'] + name)
              for name in ('corvalesmgr.exe', 'config.ini', '卸载Lumora网址大全.lnk')]
    items += [('desktop link', d['link-desktop']),
              ('Programs folder', d['programs'])]
    items += [('  ' + name, d['programs'] + name)
              for name in ('Lumora网址大全.lnk', '卸载Lumora网址大全.lnk')]
    items += [('pinned to taskbar', d['link-pinned-taskbar']),
              ('pinned to start menu', d['link-pinned-startmenu']),
              ('copy in the temp folder', d['temp'] + 'corvalesmgr.exe')]
    return items


def show(p, title):
    print(title)
    for label, path in product_items(p):
        print('  %-3s %-24s %s' % ('yes' if p.exists(path) else '-', label, path))
    keys = p.registry()
    if PRODUCT_KEY in keys:
        print('  yes uninstall key            %s' % PRODUCT_KEY)
        for name, data in sorted(keys[PRODUCT_KEY].items()):
            print('        %s = %s' % (name, data))
    else:
        print('  -   uninstall key            %s' % PRODUCT_KEY)
    print()


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: demo_uninstall.py <build-dir>')
    helpers = Helpers.from_build(sys.argv[1])
    print('Making a throwaway Wine prefix (64-bit Windows 7) with the %s build installed...\n'
          % helpers.build)
    p = UninstallPrefix(helpers, version='win7')
    try:
        p.lay_out(*LAYOUT)
        show(p, 'Installed:')
        print('Running "%s" /uninst and pressing OK...' % p.paths['exe'])
        report = p.uninstall('ok', wait_gone=True)
        print('  box "%s": %s' % (report['caption'], report['text']))
        print('  first process ended %.0f ms after OK; program folder gone after %.0f ms\n'
              % (float(report['phase1_ms']), float(report['gone_ms'])))
        for _, line in p.log(PROBE_LOG):
            print('  shell asked to %s' % line.split(' ', 1)[1])
        print('  (pinned links are the shell\'s to remove once unpinned)\n')
        show(p, 'Left after the uninstall:')
        for path in p.pending_renames():
            print('Asked to delete at the next restart: %s' % path)
        print('  (Wine grants that to anyone; Windows only to administrators, so for an\n'
              '   ordinary user the copy stays in the temp folder until the next uninstall\n'
              '   replaces it or Windows cleans up temporary files)')
        print('Restarting Windows (wineboot -r)...')
        p.restart()
        copy = p.paths['temp'] + 'corvalesmgr.exe'
        print('  copy in the temp folder: %s\n' % ('still there' if p.exists(copy) else 'gone'))
    finally:
        p.close()
    print('Prefix removed.')


if __name__ == '__main__':
    main()
