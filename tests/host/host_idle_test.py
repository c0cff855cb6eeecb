"""orbel-host's `wait idle` counts the control's own work: the demo's four series (2 x 2)
from a healthy, a stalled and a garbling loopback JPIP server. Right after the wait the
control has settled: the picture saved then is the one saved after a further wait, the
stalled server's picture is the healthy one's, and with every region reply garbled each
image has given up (its status says Failed) before the wait returns, its mark painted.

Arguments: the orbel-host program and the control module. Status 77 (skipped) when
opj_compress or pydicom is missing, unless CI=true."""
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import orbel_tools  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PYTHON = sys.executable

# Led by a header byte no message can start with: every region reply is refused whole.
GARBLED = "body:on=region,hex=05" + "a7" * 199

SCRIPT = """create
call Init @Config.xml
call SetAnnotationServerAddress "http://127.0.0.1:{port}/annotation"
call LoadData @BasePssi.xml
wait idle quiet {quiet} max 120000
snapshot {name}-idle.png
call GetImageStatus > {name}-status.xml
wait ms 3000
wait idle quiet 1000 max 120000
snapshot {name}-later.png
release
"""


class Server:
    def __init__(self, out):
        self.process = subprocess.Popen(
            [PYTHON, os.path.join(ROOT, "tools", "jpip_test_server.py"), "serve", "--root",
             os.path.join(out, "images"), "--port", "0", "--lifetime", "600", "--exit-on-stdin-eof",
             "--annotations", os.path.join(out, "annotations"), "--annotation-default",
             os.path.join(out, "annotation-default.xml")],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline().split()
        if line[:2] != ["LISTENING", "127.0.0.1"]:
            self.stop()
            raise AssertionError("the JPIP test server did not start: %r" % line)
        self.port = int(line[2])

    def ask(self, path):
        with urllib.request.urlopen("http://127.0.0.1:%d%s" % (self.port, path), timeout=30) as r:
            return r.read()

    def faults(self, spec):
        self.ask("/clear")
        if spec:
            self.ask("/fault?spec=" + urllib.parse.quote(spec))

    def stop(self):
        self.process.stdin.close()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


class WaitIdle(unittest.TestCase):
    HOST = MODULE = None

    def run_case(self, name, fault, quiet):
        self.server.faults(fault)
        script = os.path.join(self.out, name + ".script")
        with open(script, "w") as f:
            f.write(SCRIPT.format(port=self.server.port, quiet=quiet, name=name))
        started = time.monotonic()
        run = subprocess.run([self.HOST, "--module", self.MODULE, "--size", "800x600", "--drive-c", self.out,
                              "--script", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             timeout=400)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        crc = dict(re.findall(r"^snapshot %s-(\w+)\.png \d+x\d+ crc32=([0-9A-F]{8})$" % name, run.stdout, re.M))
        self.assertEqual(sorted(crc), ["idle", "later"], run.stdout)
        with open(os.path.join(self.out, name + "-status.xml")) as f:
            status = f.read()
        return crc, status, time.monotonic() - started

    def test_healthy_stalled_and_garbled_servers(self):
        healthy, status, _ = self.run_case("healthy", "", 500)
        self.assertEqual(healthy["idle"], healthy["later"], "the healthy server's picture changed after the wait")
        self.assertNotIn("Failed=", status)
        self.assertEqual(status.count("<Image "), 4, status)

        # The first region request stalls 3 s before the reply breaks off: the wait sees the
        # request in flight and the retry after it, and returns with every image complete.
        stalled, status, seconds = self.run_case("stalled", "stall:on=region,times=1,secs=3", 500)
        self.assertEqual(stalled["idle"], healthy["idle"], "the wait returned before the stalled image arrived")
        self.assertEqual(stalled["later"], healthy["later"])
        self.assertNotIn("Failed=", status)
        self.assertGreater(seconds, 3.0)

        # Every region reply garbled: each image retries, gives up and is marked, all before
        # the wait returns, the marks painted by then. Half a second of quiet is shorter
        # than a retry's wait on the loader's thread, when nothing else moves.
        garbled, status, _ = self.run_case("garbled", GARBLED, 500)
        self.assertEqual(status.count("Failed=\"The JPIP server&apos;s reply is not a well-formed JPP-stream"), 4,
                         status)
        self.assertEqual(garbled["idle"], garbled["later"], "the marks were painted after the wait")
        self.assertNotEqual(garbled["idle"], healthy["idle"])

    @classmethod
    def setUpClass(cls):
        orbel_tools.require_tool("opj_compress", "libopenjp2-tools")
        orbel_tools.require_module("pydicom", "python3-pydicom")
        orbel_tools.require_module("numpy", "python3-numpy")
        cls.folder = tempfile.TemporaryDirectory()
        cls.out = cls.folder.name
        os.makedirs(os.path.join(cls.out, "images"))
        os.makedirs(os.path.join(cls.out, "annotations"))
        cls.server = Server(cls.out)
        try:
            subprocess.run([PYTHON, os.path.join(ROOT, "demo", "make_demo_data.py"), cls.out, str(cls.server.port)],
                           check=True, stdout=subprocess.DEVNULL)
        except BaseException:
            cls.server.stop()
            cls.folder.cleanup()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.folder.cleanup()


def main():
    WaitIdle.HOST, WaitIdle.MODULE = sys.argv[1:3]
    result = unittest.main(argv=[sys.argv[0], "-v"], exit=False).result
    if not result.wasSuccessful():
        return 1
    return 77 if result.skipped else 0


if __name__ == "__main__":
    sys.exit(main())
