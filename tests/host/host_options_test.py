"""orbel-host's command line: each bad option value names the option, what was given and
what is accepted (status 1, nothing run); a module that cannot be loaded is named with the
loader's reason; --help goes to standard output with status 0 and lists every option and
script command, each of which docs/host.md describes.

Arguments: the orbel-host program and a shared object without the module entry points."""
import os
import re
import subprocess
import sys
import tempfile
import unittest

HOST = PLATFORM = None
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def run(args, script="echo ran\n"):
    return subprocess.run([HOST] + args, input=script, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, timeout=60)


class BadOptions(unittest.TestCase):
    def test_each_bad_value_says_what_and_what_is_accepted(self):
        cases = [
            (["--size", "0x0"], '--size: "0x0" is not WxH with W and H from 1 to 8192'),
            (["--size", "abc"], '--size: "abc" is not WxH with W and H from 1 to 8192'),
            (["--size", "800X600"], '--size: "800X600" is not WxH'),
            (["--size", "100000x100000"], '--size: "100000x100000" is not WxH'),
            (["--size", "800x600x3"], '--size: "800x600x3" is not WxH'),
            (["--size", "99999999999x1"], '--size: "99999999999x1" is not WxH'),
            (["--size", "-8x+6"], '--size: "-8x+6" is not WxH'),
            (["--clock", "fast"], '--clock: "fast" is neither real nor manual'),
            (["--clsid", "{1234}"], '--clsid: "{1234}" is not a class id of the form {'),
            (["--drive-c", "/nonexistent/orbel"], '--drive-c: "/nonexistent/orbel" is not an existing folder'),
            (["--frobnicate"], "unknown option --frobnicate"),
            (["--size"], "--size needs a value"),
            (["--script", "/nonexistent/orbel.script"], "--script: cannot read /nonexistent/orbel.script"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                r = run(args)
                self.assertEqual(r.returncode, 1)
                self.assertIn("orbel-host: " + message, r.stderr)
                self.assertEqual(r.stdout, "")

    def test_unloadable_module_names_the_file_and_the_reason(self):
        with tempfile.TemporaryDirectory() as folder:
            text = os.path.join(folder, "notes.so")
            with open(text, "w") as f:
                f.write("not a shared object\n" * 200)
            self.check_unloadable([("/nonexistent/liborbel.so", "No such file or directory"),
                                   (text, "invalid ELF header")])

    def check_unloadable(self, cases):
        for module, reason in cases:
            with self.subTest(module=module):
                r = run(["--module", module], "create\necho never\n")
                self.assertEqual(r.returncode, 1)
                self.assertRegex(r.stderr, "orbel-host: cannot load the module " + re.escape(module) + ": .*" + reason)
                self.assertEqual(r.stdout, "create LoadLibraryW 0x8007007E\n")

    def test_a_module_without_the_entry_point_is_named(self):
        r = run(["--module", PLATFORM], "create\n")
        self.assertEqual(r.returncode, 1)
        self.assertIn("exports no DllGetClassObject", r.stderr)


def doc_blocks(heading):
    """The indented blocks of docs/host.md's section under heading, each as its lines."""
    with open(os.path.join(ROOT, "docs", "host.md"), encoding="utf-8") as f:
        section = f.read().split("\n### " + heading + "\n", 1)[1].split("\n#", 1)[0]
    blocks, current = [], []
    for line in section.split("\n"):
        if line.startswith("    "):
            current.append(line[4:])
        elif current:
            blocks.append(current)
            current = []
    return blocks + ([current] if current else [])


class StrictExample(unittest.TestCase):
    def test_runs_as_the_reference_shows(self):
        # The command as printed, with the host on the PATH as the reference's set-up puts it;
        # then what it prints on standard output and on standard error, in that order.
        command, out, err = doc_blocks("`--strict`")[:3]
        self.assertEqual(len(command), 1)
        with tempfile.TemporaryDirectory() as drive:
            env = dict(os.environ, PATH=os.path.dirname(HOST) + os.pathsep + os.environ.get("PATH", ""),
                       ORBEL_DRIVE_C=drive)
            r = subprocess.run(["bash", "-c", command[0]], env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, timeout=60)
        self.assertEqual(r.returncode, 4, r.stderr)
        self.assertEqual(r.stdout.splitlines(), out)
        got = r.stderr.replace("\r\n", "\n").splitlines()
        self.assertEqual(len(got), len(err), r.stderr)
        for line, shown in zip(got, err):
            self.assertRegex(line, "^" + re.escape(shown).replace("MMDD/HHMMSS", r"\d{4}/\d{6}") + "$")


class Help(unittest.TestCase):
    def test_help_lists_options_and_commands_and_the_reference_has_them_all(self):
        r = run(["--help"])
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        options = sorted(set(re.findall(r"^  (--[a-z-]+)", r.stdout, re.M)))
        commands = re.findall(r"^  ([a-z]+)\b.*\n      ", r.stdout, re.M)
        self.assertEqual(options, sorted(["--module", "--size", "--script", "--events", "--drive-c", "--clock",
                                          "--clsid", "--strict", "--help"]))
        self.assertIn("snapshot", commands)
        self.assertGreaterEqual(len(commands), 15)
        with open(os.path.join(ROOT, "docs", "host.md"), encoding="utf-8") as f:
            reference = f.read()
        for name in options:
            self.assertRegex(reference, r"`" + re.escape(name) + r"[ `]", name + " is not in docs/host.md")
        for name in commands:
            self.assertRegex(reference, r"\n### `" + re.escape(name) + r"\b", name + " is not in docs/host.md")
        self.assertEqual(run(["-h"]).stdout, r.stdout)


if __name__ == "__main__":
    HOST, PLATFORM = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
