#!/usr/bin/env python3
"""Checks that every function the JVM calls runs its body through guardedEntry.

A definition marked JNICALL under src/ (JNI natives, the load entries, JVMTI
callbacks, natives defined by macros) must begin with a guardedEntry call, so
that no C++ exception can unwind into the JVM's frames. Exits 1 and lists the
functions that do not.
"""
import os
import re
import sys

DEFINITION = re.compile(r"JNICALL\s+([\w#]+)\s*\(")


def unguarded(text):
    for match in DEFINITION.finditer(text):
        i, depth = match.end(), 1
        while depth and i < len(text):
            depth += (text[i] == "(") - (text[i] == ")")
            i += 1
        rest = text[i:].lstrip(" \\\n")
        if rest.startswith("{") and "guardedEntry" not in rest[1:].lstrip(" \\\n")[:40]:
            yield match.group(1)


def main(root):
    problems = []
    for folder, _, files in os.walk(os.path.join(root, "src")):
        for name in sorted(files):
            if name.endswith(".cpp"):
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8") as source:
                    for function in unguarded(source.read()):
                        problems.append(f"{os.path.relpath(path, root)}: {function} is not guarded")
    for problem in problems:
        print(problem)
    if problems:
        print(f"entry guard check: {len(problems)} problem(s)")
        return 1
    print("entry guard check: every entry point is guarded")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
