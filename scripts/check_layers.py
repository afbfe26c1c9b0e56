#!/usr/bin/env python3
"""Checks the direction of every #include "..." under src/.

The layers, lowest first. A file may include files of its own folder and of
any folder in a lower layer; the producer folders share one layer and include
none of each other. Inside one folder a cycle between modules (a header and
its source, with its TestAccess header) fails the check too, except for the
pairs of ALLOWED_PAIRS.
Exits 1 and lists the offending lines when a rule is broken.
"""
import os
import re
import sys

LAYERS = [
    ["platform"],
    ["base"],
    ["config"],
    ["events"],
    ["threads"],
    ["requests", "profiler", "instrument", "diag", "credentials"],
    ["publish"],
    ["agent"],
]

# Module pairs that call each other by design; every other cycle fails. Keep
# this list at two pairs at most: a new circle gets a narrow interface or a
# callback instead (see threads/ThreadDrain.h, publish/ReconnectListener.h).
ALLOWED_PAIRS = [
    # The event agent manager owns the agents and picks the master; an agent
    # reports its loop's state and asks whether the opening is complete.
    {"publish/EvtAgentMgr", "publish/EventAgent"},
]

RANK = {folder: rank for rank, layer in enumerate(LAYERS) for folder in layer}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def module(path):
    """A header, its source and its `...TestAccess.h` (the seams that only
    tests include) make one module."""
    name = os.path.splitext(path)[0]
    return name[: -len("TestAccess")] if name.endswith("TestAccess") else name


def main(root):
    src = os.path.join(root, "src")
    problems = []
    edges = {}
    for folder, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.relpath(os.path.join(folder, name), src)
            own = path.split(os.sep)[0]
            if own not in RANK:
                problems.append(f"{path}: folder '{own}' has no layer")
                continue
            with open(os.path.join(src, path), encoding="utf-8") as text:
                for number, line in enumerate(text, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    target = match.group(1)
                    other = target.split("/")[0]
                    if other not in RANK:
                        continue
                    edges.setdefault(module(path), set()).add(module(target))
                    if other == own:
                        continue
                    if RANK[other] > RANK[own]:
                        problems.append(f"src/{path}:{number}: {own} includes higher layer {target}")
                    elif RANK[other] == RANK[own]:
                        problems.append(f"src/{path}:{number}: producer {own} includes producer {target}")
    problems += cycles(edges)
    for problem in problems:
        print(problem)
    if problems:
        print(f"layer check: {len(problems)} problem(s)")
        return 1
    print("layer check: every include points down")
    return 0


def cycles(edges):
    """Module cycles, found as strongly connected components (Tarjan)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []
    counter = [0]

    def visit(node):
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        on_stack.add(node)
        for nxt in edges.get(node, ()):
            if nxt == node:
                continue
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            component = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                component.append(member)
                if member == node:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    sys.setrecursionlimit(10000)
    for node in list(edges):
        if node not in index:
            visit(node)
    problems = []
    for component in found:
        if set(component) in ALLOWED_PAIRS:
            continue
        problems.append("include cycle: " + " -> ".join(component))
    return problems


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
