"""The outside programs Python tests compare against, checked the same way everywhere:
a missing one fails the test under CI=true and skips it elsewhere."""
import importlib
import os
import shutil
import unittest


def _missing(what, package):
    message = f"{what} is not installed: it comes with the Debian package {package} (scripts/install-deps)"
    if os.environ.get("CI") == "true":
        raise AssertionError(message)
    raise unittest.SkipTest(message)


def require_tool(program, package):
    if shutil.which(program) is None:
        _missing(program, package)


def require_module(module, package):
    try:
        return importlib.import_module(module)
    except ImportError:
        _missing(f"Python module {module}", package)
