#!/usr/bin/python3
"""Fails when a source folder includes a header of a folder that comes later in the
layering order (each folder may use only the folders before it). The codec's own folders
are layers of their own, in the same list."""
import os
import re
import sys

ORDER = ["platform", "diagnostics", "xpath",
         "codec/core", "codec/coding", "codec/encode", "codec/jp2",
         "imagelib", "image", "annotation", "R2IVuzi", "facade", "host"]
# Folders whose subfolders are layers.
SPLIT = ("codec",)
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
SOURCES = (".h", ".hpp", ".cpp", ".c", ".inl")


def included_folder(root, including_dir, delimiter, target):
    """The top-level project folder an include names, or None."""
    target = target.replace("\\", "/")
    # The include root is the repository root; a quoted "../x/y.h" is relative to the file.
    base = including_dir if delimiter == '"' and target.startswith(".") else root
    rel = os.path.relpath(os.path.normpath(os.path.join(base, target)), root).replace(os.sep, "/")
    if rel.startswith("../") or "/" not in rel:
        return None
    parts = rel.split("/")
    top = "/".join(parts[:2]) if parts[0] in SPLIT and len(parts) > 2 else parts[0]
    return top if top in ORDER else None


def main(root):
    root = os.path.abspath(root)
    rank = {name: i for i, name in enumerate(ORDER)}
    problems = []
    for folder in ORDER:
        base = os.path.join(root, folder)
        if not os.path.isdir(base):
            continue
        for dirpath, _, files in os.walk(base):
            for f in sorted(files):
                if not f.endswith(SOURCES):
                    continue
                path = os.path.join(dirpath, f)
                with open(path, encoding="utf-8", errors="replace") as fh:
                    for lineno, line in enumerate(fh, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = included_folder(root, dirpath, m.group(1), m.group(2))
                        if target is not None and rank[target] > rank[folder]:
                            problems.append("%s:%d: %s may not include %s/"
                                            % (os.path.relpath(path, root), lineno, folder, target))
    for p in problems:
        print(p)
    print("layering: %d violation(s)" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
