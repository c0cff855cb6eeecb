"""What the fixture makers share: files put in place whole, and the tools they need."""
import os, shutil, sys, tempfile


def put(path, data):
    """Writes under a temporary name and renames: parallel test processes share the folder."""
    fd, tmp = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".tmp_")
    with os.fdopen(fd, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def require(*programs):
    """Exit status 3, which the tests take for a missing tool, without Pillow or a program."""
    try:
        import PIL  # noqa: F401
    except ImportError:
        sys.exit(3)
    if any(shutil.which(p) is None for p in programs):
        sys.exit(3)
