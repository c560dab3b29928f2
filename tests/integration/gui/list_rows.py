"""Prints the rows of Sentrel's host list as a screen reader sees them.

One line per row: name|avg|last|light, where light is the description of
the row's state image. Exit code 1 when the list cannot be found.

--select TEXT selects instead the row whose name or address is TEXT, as a
screen reader does (exit code 1 when there is no such row). --timed also
prints to stderr how many milliseconds the query took, the start of the
interpreter not counted.
"""
import sys
import time

import pyatspi


def find(node, predicate, depth=0):
    if node is None or depth > 12:
        return None
    if predicate(node):
        return node
    for i in range(node.childCount):
        found = find(node.getChildAtIndex(i), predicate, depth + 1)
        if found is not None:
            return found
    return None


def main(args):
    chosen = args[args.index("--select") + 1] if "--select" in args else None
    start = time.monotonic()
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None or app.name.lower() != "sentrel":
            continue
        hosts = find(app, lambda n: n.name == "Hosts" and n.getRole() in (
            pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE))
        if hosts is None:
            continue
        table = hosts.queryTable()
        selected = False
        for row in range(table.nRows):
            cells = [table.getAccessibleAt(row, c) for c in range(table.nColumns)]
            if chosen is None:
                print("|".join([cells[1].name, cells[2].name, cells[3].name, cells[0].description]))
            elif chosen in (cells[0].name, cells[1].name):
                selected = table.addRowSelection(row)
        if "--timed" in args:
            print(round((time.monotonic() - start) * 1000), file=sys.stderr)
        return 0 if chosen is None or selected else 1
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
