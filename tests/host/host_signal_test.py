"""orbel-host stopped by SIGINT or SIGTERM in the middle of a script: the first signal stops
it at the next safe point (here inside a long `wait`), the control is still released (the
`unload` line, and the loaders' quit records closing the control's log), every line
printed before is there, in a pipe or in a file, and the status is 128 + the signal (130,
143). A second signal, while the host is inside a call that holds it, ends it at once.

Each case waits for the host's own output before it signals, never for a set time.

Arguments: the orbel-host program, the viewer module and the tests' fake control module."""
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HOST = VIEWER = FAKE = None
FAKE_CLSID = "{5A1F0C3E-2B7D-4C11-9E20-617A3D440B19}"
# What a normal end writes last to the log: the loaders saying they quit.
QUIT_RECORDS = ["Annotation Loader Quit Safely!", "ImageLoader Manager Quit Safely!"]
# A wait far longer than any case: only the signal ends it.
LONG_WAIT = 'create\ncall Init "<root/>"\nwait ms 600000\necho not reached\nrelease\n'
BEFORE = ["create S_OK", "event OnInitFinished 1", "result Init S_OK"]


class Running:
    """The host on a script in a folder of its own (its C: drive too), killed by a watchdog
    after a minute so that no read of its output can hang the test."""

    def __init__(self, folder, script, args, stdout=subprocess.PIPE):
        path = os.path.join(folder, "run.script")
        with open(path, "w") as f:
            f.write(script)
        self.process = subprocess.Popen([HOST, "--drive-c", folder, "--script", path] + args, stdout=stdout,
                                        stderr=subprocess.PIPE, text=True)
        self.watchdog = threading.Timer(60, self.process.kill)
        self.watchdog.start()

    def read_until(self, stream, line):
        seen = []
        while line not in seen:
            got = stream.readline()
            if not got:
                raise AssertionError("no %r before the host's output ended: %r" % (line, seen))
            seen.append(got.rstrip("\n"))
        return seen

    def finish(self):
        out, err = self.process.communicate()
        self.watchdog.cancel()
        return out, err

    def stop(self):
        """Ends a host that a failed case left running."""
        self.watchdog.cancel()
        if self.process.returncode is None:
            self.process.kill()
            self.process.communicate()


def read_lines(path):
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()


def log_messages(folder):
    """The message of each record of the control's log (the text after the record's tag)."""
    with open(os.path.join(folder, "Quillon.Log"), encoding="utf-8", errors="replace") as f:
        return [line.split("] ", 1)[-1].rstrip("\r\n") for line in f if line.strip()]


class FirstSignal(unittest.TestCase):
    def check_clean_stop(self, folder, sig, out, err, status):
        name = signal.Signals(sig).name
        self.assertEqual(status, 128 + sig, err)
        self.assertEqual(out, BEFORE + ["unload S_OK"])
        self.assertIn("orbel-host: %s: stopping at the next safe point" % name, err)
        self.assertIn("stopped by %s at line 3" % name, err)
        self.assertEqual(log_messages(folder)[-2:], QUIT_RECORDS)
        self.assertEqual(read_lines(os.path.join(folder, "events.txt")), BEFORE[1:])

    def test_sigint_with_the_output_in_a_pipe(self):
        with tempfile.TemporaryDirectory() as folder:
            host = Running(folder, LONG_WAIT, ["--module", VIEWER, "--events", os.path.join(folder, "events.txt")])
            try:
                printed = host.read_until(host.process.stdout, BEFORE[-1])
                host.process.send_signal(signal.SIGINT)
                out, err = host.finish()
            finally:
                host.stop()
            self.check_clean_stop(folder, signal.SIGINT, printed + out.splitlines(), err, host.process.returncode)

    def test_sigterm_with_the_output_in_a_file(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "out.txt")
            with open(path, "w") as out_file:
                host = Running(folder, LONG_WAIT,
                               ["--module", VIEWER, "--events", os.path.join(folder, "events.txt")], out_file)
            try:
                # A file cannot be waited on: it is read again until the line is there.
                deadline = time.monotonic() + 60
                while BEFORE[-1] not in read_lines(path):
                    self.assertIsNone(host.process.poll(), read_lines(path))
                    self.assertLess(time.monotonic(), deadline)
                    time.sleep(0.05)
                host.process.send_signal(signal.SIGTERM)
                _, err = host.finish()
            finally:
                host.stop()
            self.check_clean_stop(folder, signal.SIGTERM, read_lines(path), err,
                                  host.process.returncode)


class SecondSignal(unittest.TestCase):
    def test_a_second_signal_ends_the_host_at_once(self):
        # The fake control's Hold keeps the host inside a call for a minute, where the first
        # signal cannot stop it; the second must not wait for the call to return.
        for first, second in ((signal.SIGINT, signal.SIGINT), (signal.SIGTERM, signal.SIGINT)):
            with self.subTest(first=first.name, second=second.name), tempfile.TemporaryDirectory() as folder:
                host = Running(folder, "create\ncall Hold 60000\necho not reached\nrelease\n",
                               ["--module", FAKE, "--clsid", FAKE_CLSID, "--size", "96x64"])
                try:
                    printed = host.read_until(host.process.stdout, "event #101 60000")
                    host.process.send_signal(first)
                    host.read_until(host.process.stderr, "orbel-host: %s: stopping at the next safe point "
                                    "(a second signal ends it at once)" % first.name)
                    start = time.monotonic()
                    host.process.send_signal(second)
                    out, _ = host.finish()
                    ended = time.monotonic() - start
                finally:
                    host.stop()
                self.assertEqual(host.process.returncode, -second)
                # Well before the call's minute (the watchdog's too) is up.
                self.assertLess(ended, 30)
                self.assertEqual(printed + out.splitlines(), ["event #100 \"WM_SIZE\" 0 96 64", "create S_OK",
                                                              "event #101 60000"])


if __name__ == "__main__":
    HOST, VIEWER, FAKE = sys.argv[1], sys.argv[2], sys.argv[3]
    unittest.main(argv=sys.argv[:1], verbosity=2)
