#!/usr/bin/env python3
"""The layers' libraries, lowest first, as arguments: fails when a library uses a symbol that
only a library above it defines (a call that runs upward)."""
import subprocess
import sys


def symbols(archive, undefined):
    option = ['--undefined-only'] if undefined else ['--defined-only', '--extern-only']
    out = subprocess.run(['nm', '--format=posix'] + option + [archive], check=True, capture_output=True, text=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 2 and not line.endswith(':') and (undefined or parts[1] not in 'Uw'):
            names.add(parts[0])
    return names


def main(archives):
    defined = [symbols(a, False) for a in archives]
    failures = 0
    for i, archive in enumerate(archives):
        for name in sorted(symbols(archive, True) - set().union(*defined[:i + 1])):
            above = [archives[j] for j in range(i + 1, len(archives)) if name in defined[j]]
            if above:
                failures += 1
                print(f'{archive} uses {name}, defined above it in {above[0]}')
    print(f'{len(archives)} libraries, {failures} upward uses')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
