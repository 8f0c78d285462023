"""Reads the app as a screen reader does, over AT-SPI: every push button has a name, signed out and
signed in, and the signed-in month grid is a table of 42 cells each named by its full date.

Usage: check_tree.py HOST, where HOST is the accessibility host program (see accessibility_host.cpp).
"""
import re
import select
import subprocess
import sys
import time

import pyatspi

CELLS = 42  # six weeks of seven days
FULL_DATE = re.compile(r"\b\d{1,2}\b.*\b\d{4}\b")  # a day of the month, then a year


def expect(host, line, seconds):
    """Waits for the host to print `line`, failing after `seconds`."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        ready, _, _ = select.select([host.stdout], [], [], deadline - time.monotonic())
        if ready:
            said = host.stdout.readline()
            if said == "":
                sys.exit(f"the host ended before saying {line!r}")
            if said.strip() == line:
                return
    sys.exit(f"the host did not say {line!r} within {seconds} s")


def application(pid, seconds=20):
    """The host's entry in the accessibility registry, once it has registered there."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.get_process_id() == pid:
                return app
        time.sleep(0.1)
    sys.exit(f"the app did not appear in the accessibility registry within {seconds} s")


def nodes(root):
    """Every accessible object below root, depth first."""
    root.clearCache()
    stack = [root]
    while stack:
        node = stack.pop()
        yield node
        stack.extend(child for child in node if child is not None)


def describe(node):
    path = []
    while node is not None and node.getRole() != pyatspi.ROLE_APPLICATION:
        hidden = "" if node.getState().contains(pyatspi.STATE_SHOWING) else " (hidden)"
        path.append(f"{node.getRoleName()} {node.name!r}{hidden}")
        node = node.parent
    return " < ".join(path)


def unnamed_buttons(app):
    return [describe(n) for n in nodes(app) if n.getRole() == pyatspi.ROLE_PUSH_BUTTON and not n.name.strip()]


def main():
    host = subprocess.Popen([sys.argv[1]], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    faults = []
    try:
        expect(host, "signed-out", 30)
        app = application(host.pid)
        faults += [f"signed out, unnamed button: {b}" for b in unnamed_buttons(app)]

        host.stdin.write("sign in\n")
        host.stdin.flush()
        expect(host, "signed-in", 60)
        faults += [f"signed in, unnamed button: {b}" for b in unnamed_buttons(app)]
        tables = [n for n in nodes(app) if n.getRole() == pyatspi.ROLE_TABLE]
        grids = [t for t in tables if t.childCount == CELLS]
        if len(grids) != 1:
            faults.append(f"expected one table of {CELLS} cells, found tables of {[t.childCount for t in tables]}")
        for grid in grids:
            for cell in grid:
                if cell.getRole() != pyatspi.ROLE_TABLE_CELL or not FULL_DATE.search(cell.name):
                    faults.append(f"month grid: {describe(cell)} is not a cell named by its date")
    finally:
        host.stdin.close()
        try:
            host.wait(10)
        except subprocess.TimeoutExpired:
            host.kill()
    for fault in faults:
        print(fault)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
