#!/usr/bin/env python3
"""Fails when a source folder includes a header of a folder that comes later in the
layering order (each folder may use only the folders before it)."""
import os
import re
import sys

ORDER = ["platform", "diagnostics", "xpath", "codec", "imagelib", "image",
         "annotation", "R2IVuzi", "facade", "host"]
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/')


def main(root):
    rank = {name: i for i, name in enumerate(ORDER)}
    problems = []
    for folder in ORDER:
        base = os.path.join(root, folder)
        if not os.path.isdir(base):
            continue
        for dirpath, _, files in os.walk(base):
            for f in files:
                if not f.endswith((".h", ".hpp", ".cpp", ".c", ".inl")):
                    continue
                path = os.path.join(dirpath, f)
                with open(path, encoding="utf-8", errors="replace") as fh:
                    for lineno, line in enumerate(fh, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = m.group(1)
                        if target in rank and rank[target] > rank[folder]:
                            problems.append("%s:%d: %s may not include %s/"
                                            % (os.path.relpath(path, root), lineno, folder, target))
    for p in problems:
        print(p)
    print("layering: %d violation(s)" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
