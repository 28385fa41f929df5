#!/usr/bin/env python3
"""Checks the folder layering of src/*, app, cli and sim.

A folder is a unit of the layering: src/<name> for the core, and app, cli, sim as wholes.
LAYERS lists them bottom up (docs/architecture.md); an include may point to its own layer's
folder or below, never up. Prints every upward include and every folder-level include loop
with the lines that make it; exits 1 when there is any. --edges prints every
folder-to-folder include count instead.
"""
import os
import re
import sys
from collections import defaultdict

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


LAYERS = ["src/wire", "src/core", "src/shell", "src/platform", "src/settings", "src/link",
          "src/stream", "src/processing", "src/display", "src/files", "src/config",
          "src/context"]
# The front ends stand on the whole core and not on each other; the simulator shares only
# the wire helpers with the host.
ALLOWED = {"app": set(LAYERS), "cli": set(LAYERS), "sim": {"src/wire"}}


def folder_of(rel):
    parts = rel.split("/")
    if parts[0] == "src" and len(parts) > 2:
        return "src/" + parts[1]
    return parts[0]


def main():
    core_dirs = {d for d in os.listdir(os.path.join(top, "src")) if os.path.isdir(os.path.join(top, "src", d))}
    edges = defaultdict(list)  # (from, to) -> [file:line]
    for root in ("src", "app", "cli", "sim"):
        for dirpath, _, files in os.walk(os.path.join(top, root)):
            for name in files:
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, top)
                src = folder_of(rel)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for n, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        inc = m.group(1)
                        first = inc.split("/")[0]
                        if "/" in inc and first in core_dirs:
                            dst = "src/" + first
                        else:
                            continue  # same-folder include
                        if dst != src:
                            edges[(src, dst)].append(f"{rel}:{n}")
    if "--edges" in sys.argv:
        for (a, b), where in sorted(edges.items()):
            print(f"{a} -> {b}: {len(where)}")
        return 0
    upward = []
    for (a, b), where in sorted(edges.items()):
        if a in ALLOWED:
            bad = b not in ALLOWED[a]
        elif a not in LAYERS or b not in LAYERS:
            bad = True  # a folder nobody placed in the layering yet
        else:
            bad = LAYERS.index(b) > LAYERS.index(a)
        if bad:
            upward.append(f"not allowed: {a} -> {b} ({len(where)}): " + ", ".join(where[:6]))
    for line in upward:
        print(line)
    graph = defaultdict(set)
    for a, b in edges:
        graph[a].add(b)
    # Tarjan's strongly connected components
    index, low, stack, on, sccs, counter = {}, {}, [], set(), [], [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in graph[v]:
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = []
            while True:
                w = stack.pop()
                on.discard(w)
                comp.append(w)
                if w == v:
                    break
            if len(comp) > 1:
                sccs.append(sorted(comp))

    for v in list(graph):
        if v not in index:
            visit(v)
    if not sccs:
        if upward:
            return 1
        print("include-loops: layering kept, no folder-level include loop")
        return 0
    for comp in sccs:
        print("loop among: " + ", ".join(comp))
        for (a, b), where in sorted(edges.items()):
            if a in comp and b in comp:
                print(f"  {a} -> {b} ({len(where)}): " + ", ".join(where[:6]) + (" …" if len(where) > 6 else ""))
    return 1


if __name__ == "__main__":
    sys.exit(main())
