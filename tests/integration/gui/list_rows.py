"""Prints the rows of Sentrel's host list as a screen reader sees them.

One line per row: name|avg|last|light, where light is the description of
the row's state image. Exit code 1 when the list cannot be found.
"""
import sys

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


def main():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None or app.name.lower() != "sentrel":
            continue
        hosts = find(app, lambda n: n.name == "Hosts" and n.getRole() in (
            pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE))
        if hosts is None:
            continue
        table = hosts.queryTable()
        for row in range(table.nRows):
            cells = [table.getAccessibleAt(row, c) for c in range(table.nColumns)]
            print("|".join([cells[1].name, cells[2].name, cells[3].name, cells[0].description]))
        return 0
    return 1


if __name__ == "__main__":
    sys.exit(main())
