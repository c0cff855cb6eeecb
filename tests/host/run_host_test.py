"""Runs one host script against the fake control and compares the transcript (stdout and
the exit status) with NAME.expected. Snapshot lines are checked against the fake
control's pattern, RGB(x & 255, y & 255, (x ^ y) & 255): the printed CRC-32 with one
computed here, and the saved PNG or BMP decoded with Pillow."""
import os
import re
import shutil
import subprocess
import sys
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import orbel_tools  # noqa: E402

FAKE_CLSID = "{5A1F0C3E-2B7D-4C11-9E20-617A3D440B19}"


def pattern(x0, y0, w, h):
    out = bytearray()
    for y in range(y0, y0 + h):
        for x in range(x0, x0 + w):
            out += bytes((x & 255, y & 255, (x ^ y) & 255))
    return bytes(out)


def main():
    host, fake, script, work = sys.argv[1:5]
    try:
        image = orbel_tools.require_module("PIL.Image", "python3-pil")
    except unittest.SkipTest as skip:
        print(skip)
        return 77
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    # The script's folder holds its inputs; outputs land in the work folder.
    for f in os.listdir(os.path.dirname(script)):
        if f.endswith(".txt") and f != "CMakeLists.txt":
            shutil.copy(os.path.join(os.path.dirname(script), f), work)
    local = os.path.join(work, os.path.basename(script))
    shutil.copy(script, local)
    # A first line "# host: ARGS" replaces the class id (a class the module lacks, say).
    first = open(script).readline()
    extra = first[len("# host:"):].split() if first.startswith("# host:") else ["--clsid", FAKE_CLSID]
    run = subprocess.run([host, "--module", fake] + extra + ["--size", "96x64",
                          "--clock", "manual", "--script", local, "--events", os.path.join(work, "events.log")],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=100)
    transcript = run.stdout + "exit %d\n" % run.returncode
    expected = open(os.path.splitext(script)[0] + ".expected").read()
    ok = True
    if transcript != expected:
        print("transcript differs:\n--- got\n" + transcript + "--- expected\n" + expected)
        ok = False
    copied = [l for l in run.stdout.splitlines(True) if l.startswith(("event ", "result "))]
    if open(os.path.join(work, "events.log")).readlines() != copied:
        print("events.log is not the event and result lines of the transcript")
        ok = False
    for m in re.finditer(r"^snapshot (\S+) (\d+)x(\d+) crc32=([0-9A-F]{8})$", run.stdout, re.M):
        name, w, h, crc = m.group(1), int(m.group(2)), int(m.group(3)), int(m.group(4), 16)
        rect = re.search(r"^snapshot " + re.escape(name) + r" (-?\d+) (-?\d+) \d+ \d+", open(local).read(), re.M)
        x0, y0 = (int(rect.group(1)), int(rect.group(2))) if rect else (0, 0)
        want = pattern(x0, y0, w, h)
        if zlib.crc32(want) != crc:
            print("%s: printed CRC %08X, pattern %08X" % (name, crc, zlib.crc32(want)))
            ok = False
        with image.open(os.path.join(work, name)) as img:
            if img.convert("RGB").tobytes() != want:
                print("%s: decoded pixels differ from the pattern" % name)
                ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
