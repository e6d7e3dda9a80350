#!/usr/bin/env python3
"""Fails when morlink's units include each other in a circle.

A unit is a header and its source together (x.h and x.cpp, by path without
the extension). Every `#include "name"` line of a .cpp or .h under ROOT
(code/pakwrap/ left out) is an edge; the name is looked up beside the
including file, else in ROOT; names found in neither (generated headers) are
no edge. Prints the circle it finds.

Usage: include_graph.py ROOT          checks ROOT
       include_graph.py --planted ROOT checks a copy of ROOT with a circle
                                       added, which must be found
"""
import os
import re
import shutil
import sys
import tempfile

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def units(root):
    """Each unit's includes: {unit: set of units}."""
    graph = {}
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if os.path.join(folder, d) != os.path.join(root, "pakwrap")]
        for name in files:
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(folder, name)
            unit = os.path.splitext(os.path.relpath(path, root))[0]
            edges = graph.setdefault(unit, set())
            with open(path, encoding="utf-8", errors="replace") as f:
                for target in INCLUDE.findall(f.read()):
                    for base in (folder, root):
                        found = os.path.join(base, target)
                        if os.path.isfile(found):
                            other = os.path.splitext(os.path.relpath(found, root))[0]
                            if other != unit:
                                edges.add(other)
                            break
    return graph


def find_circle(graph):
    """A list of units that include each other in a circle, or None."""
    state = {}  # 1: on the path, 2: done
    path = []

    def visit(unit):
        state[unit] = 1
        path.append(unit)
        for other in sorted(graph.get(unit, ())):
            if state.get(other) == 1:
                return path[path.index(other):] + [other]
            if other not in state:
                circle = visit(other)
                if circle:
                    return circle
        path.pop()
        state[unit] = 2
        return None

    for unit in sorted(graph):
        if unit not in state:
            circle = visit(unit)
            if circle:
                return circle
    return None


def planted(root):
    """A copy of root where the lowest unit that includes another gets an
    include of a unit that reaches it back."""
    graph = units(root)
    copy = tempfile.mkdtemp(prefix="include-graph-")
    shutil.copytree(root, copy, dirs_exist_ok=True)
    for unit in sorted(graph):
        for other in sorted(graph[unit]):
            header = os.path.join(copy, other + ".h")
            if os.path.isfile(header):
                with open(header, "a", encoding="utf-8") as f:
                    f.write('\n#include "%s.h"\n' % os.path.relpath(os.path.join(copy, unit), os.path.dirname(header)))
                return copy
    sys.exit("include_graph: no include to plant a circle on")


def main():
    args = sys.argv[1:]
    if args[:1] == ["--planted"]:
        copy = planted(args[1])
        circle = find_circle(units(copy))
        shutil.rmtree(copy)
        if not circle:
            sys.exit("include_graph: the planted circle was not found")
        print("include_graph: planted circle found: " + " -> ".join(circle))
        return
    circle = find_circle(units(args[0]))
    if circle:
        sys.exit("include_graph: circle: " + " -> ".join(circle))
    print("include_graph: no circle among %d units" % len(units(args[0])))


main()
