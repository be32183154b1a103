#!/usr/bin/env python3
"""What each check alone catches, read off the catch table (scripts/faults/caught.txt).

Usage: scripts/faults/alone.py [CAUGHT]

A check is a test case, or a row of a table of cases ("EndToEnd/Scenario.Runs/<row>"), or a
ctest entry that names no case: a timed-out entry, or a script (pack, roaming, release). A fault
caught by one check only is that check's alone; a check that alone catches nothing is where a cut
may start, within the runs the table records (each row says in "[of: ...]" what it ran).
Prints, per check, the faults it alone catches, then those caught by more than one.
"""
import collections
import re
import sys

SCRIPTS = ("pack", "roaming", "release")


def catchers(result):
    """The checks a row's result names: failed cases, and the entries no case accounts for."""
    words = result.split()
    cases = {word for word in words if "(" not in word and "." in word}
    entries = set()
    for word in words:
        match = re.fullmatch(r"([\w]+)\((.*)\)", word)
        if match and (match.group(2) != "Failed" or match.group(1) in SCRIPTS or not cases):
            entries.add(f"{match.group(1)} ({match.group(2).lower()})")
    return cases | entries


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "scripts/faults/caught.txt"
    alone = collections.defaultdict(list)
    shared = []
    missed = []
    with open(path, encoding="utf-8") as table:
        for line in table:
            if not line.strip() or line.startswith("#"):
                continue
            fault, _, result = line.strip().partition(" ")
            result = result.split("[of:")[0]
            found = catchers(result)
            if not found:
                missed.append(fault)
            elif len(found) == 1:
                alone[found.pop()].append(fault)
            else:
                shared.append(f"{fault}: {len(found)} checks")
    print("| Check | Faults it alone catches |")
    print("|---|---|")
    for check in sorted(alone):
        print(f"| {check} | {', '.join(alone[check])} |")
    print()
    print(f"Caught by more than one check: {len(shared)}; missed: {', '.join(missed) or 'none'}.")


if __name__ == "__main__":
    main()
