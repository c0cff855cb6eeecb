"""Loopback JPIP test server: index, rebuild, windows, wire, faults, lifetime."""
import json
import os
import random
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import jppkit  # noqa: E402
import orbel_tools  # noqa: E402

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                      "jpip_test_server.py")
W, H = 257, 191
ORDERS = ("LRCP", "RLCP", "RPCL", "PCRL", "CPRL")


def run(*cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def compress(src, out, *opts, plt=True):
    """opj_compress picks its format from the extension: write .j2k/.jp2, then rename."""
    ext = ".jp2" if out.endswith(".jp2") else ".j2k"
    tmp = out + ".tmp" + ext
    run("opj_compress", "-i", src, "-o", tmp, *(("-PLT",) if plt else ()), *opts)
    os.replace(tmp, out)


def decode(path, out_dir, *opts):
    """Samples of every component, as opj_decompress writes them to PGX."""
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    src = path
    if not path.endswith((".j2k", ".jp2")):
        src = os.path.join(out_dir, "in.j2k")
        shutil.copy(path, src)
    run("opj_decompress", "-i", src, "-o", os.path.join(out_dir, "o.pgx"), *opts)
    names = sorted(n for n in os.listdir(out_dir) if n.endswith(".pgx"))
    return [jppkit.pgx_samples(os.path.join(out_dir, n)) for n in names]


def stream_bins(path, tmp, *opts):
    out = tempfile.mkdtemp(dir=tmp)
    run(sys.executable, SERVER, "stream", path, "--out", out, *opts)
    bins, bodies = jppkit.Bins(), []
    for name in sorted(os.listdir(out)):
        with open(os.path.join(out, name), "rb") as f:
            bodies.append(f.read())
        bins.add_body(bodies[-1])
    return bins, bodies


class Http:
    """A keep-alive HTTP/1.1 client that shows the chunking."""

    def __init__(self, port, timeout=20):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.buf = b""

    def close(self):
        self.sock.close()

    def _fill(self):
        data = self.sock.recv(65536)
        if not data:
            raise EOFError("connection closed")
        self.buf += data

    def _line(self):
        while b"\r\n" not in self.buf:
            self._fill()
        line, self.buf = self.buf.split(b"\r\n", 1)
        return line

    def _take(self, n):
        while len(self.buf) < n:
            self._fill()
        data, self.buf = self.buf[:n], self.buf[n:]
        return data

    def get(self, target):
        self.sock.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nCache-Control: no-cache\r\n"
                           "Connection: keep-alive\r\n\r\n" % target).encode("latin-1"))
        status = int(self._line().split()[1])
        headers = {}
        while True:
            line = self._line()
            if not line:
                break
            k, _, v = line.decode("latin-1").partition(":")
            headers[k.strip().lower()] = v.strip()
        body, chunks = b"", 0
        if headers.get("transfer-encoding", "").lower() == "chunked":
            while True:
                n = int(self._line(), 16)
                if n == 0:
                    self._line()
                    break
                body += self._take(n)
                chunks += 1
                self._line()
        else:
            body = self._take(int(headers.get("content-length", "0")))
        return status, headers, body, chunks


class Server:
    def __init__(self, root, *args):
        self.proc = subprocess.Popen([sys.executable, SERVER, "serve", "--root", root,
                                      "--port", "0", "--exit-on-stdin-eof", "--lifetime", "120"]
                                     + list(args),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        line = self.proc.stdout.readline().decode()
        assert line.startswith("LISTENING 127.0.0.1 "), line + self.proc.stderr.read().decode()
        self.port = int(line.split()[2])

    def http(self, timeout=20):
        return Http(self.port, timeout)

    def stop(self):
        self.proc.stdin.close()
        self.proc.wait(10)
        for f in (self.proc.stdout, self.proc.stderr):
            f.close()


def open_channel(http, name, length=2048, extra=""):
    status, headers, body, chunks = http.get("/jpip/%s?cnew=http&type=jpp-stream&len=%d%s"
                                             % (name, length, extra))
    fields = dict(t.split("=", 1) for t in headers.get("jpip-cnew", "").split(",") if "=" in t)
    return status, headers, body, chunks, fields


def fetch_window(http, name, fields, window, length=10240):
    """Repeats a window request until the server ends it; returns the bodies."""
    bodies = []
    for _ in range(10000):
        status, headers, body, _ = http.get("/jpip/%s/%s?cid=%s&len=%d&type=jpp-stream%s"
                                            % (name, fields["path"], fields["cid"], length, window))
        assert status == 200, status
        bodies.append(body)
        eor = jppkit.read_messages(body)[-1]
        if eor["reason"] in (1, 2):
            return bodies, headers
    raise AssertionError("window never ended")


class StartUp(unittest.TestCase):
    """What a user gets wrong when starting the server: one line, status 2, no traceback."""

    def start(self, *args):
        return subprocess.run([sys.executable, SERVER, "serve", "--lifetime", "5"] + list(args),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True, timeout=60)

    def test_taken_port_and_missing_root(self):
        root = tempfile.mkdtemp(prefix="jpipstart-")
        taken = socket.socket()
        try:
            taken.bind(("127.0.0.1", 0))
            taken.listen(1)
            port = taken.getsockname()[1]
            missing = os.path.join(root, "absent")
            plain_file = os.path.join(root, "file.j2k")
            open(plain_file, "wb").close()
            cases = (("taken port", ["--root", root, "--port", str(port)], "cannot listen on 127.0.0.1:%d" % port),
                     ("missing root", ["--root", missing], "--root %s is not a folder" % missing),
                     ("root is a file", ["--root", plain_file], "is not a folder"),
                     ("log in a missing folder", ["--root", root, "--log", os.path.join(missing, "x.log")],
                      "cannot open"))
            for name, args, message in cases:
                with self.subTest(name=name):
                    r = self.start(*args)
                    self.assertEqual(r.returncode, 2)
                    self.assertEqual(r.stdout, "")
                    lines = r.stderr.splitlines()
                    self.assertEqual(len(lines), 1, r.stderr)
                    self.assertIn(message, lines[0])
        finally:
            taken.close()
            shutil.rmtree(root)


class Corpus(unittest.TestCase):
    tmp = None
    tmp_root = None  # made, and removed with the module even when making the corpus fails

    @classmethod
    def setUpClass(cls):
        for tool in ("opj_compress", "opj_decompress"):
            orbel_tools.require_tool(tool, "libopenjp2-tools")
        if Corpus.tmp is not None:
            return
        tmp = Corpus.tmp_root = tempfile.mkdtemp(prefix="jpiptest-")
        rnd = random.Random(7)
        # Smooth content with noise, so that every layer and resolution carries data.
        grey = bytes((x * 3 + y * 2 + rnd.randrange(40)) & 255 for y in range(H) for x in range(W))
        with open(os.path.join(tmp, "g8.raw"), "wb") as f:
            f.write(grey)
        s12 = b"".join(struct.pack(">h", ((x * 13 + y * 7 + rnd.randrange(200)) % 4096) - 2048)
                       for y in range(H) for x in range(W))
        with open(os.path.join(tmp, "s12.raw"), "wb") as f:
            f.write(s12)
        yuv = grey + grey[:129 * 96] + bytes(reversed(grey[:129 * 96]))
        with open(os.path.join(tmp, "yuv.raw"), "wb") as f:
            f.write(yuv)
        rgb = bytes(v for i in range(W * H) for v in (grey[i], 255 - grey[i], grey[i] ^ 0x5A))
        with open(os.path.join(tmp, "rgb.raw"), "wb") as f:
            f.write(rgb)
        g8 = ("-i", os.path.join(tmp, "g8.raw"), "-F", "%d,%d,1,8,u" % (W, H))
        jobs = {}
        for o in ORDERS:
            jobs["grey_%s.j2k" % o] = g8 + ("-p", o, "-n", "4", "-t", "64,64", "-c", "[32,32],[16,16]",
                                            "-r", "20,5,1")
        jobs["s12.j2k"] = ("-i", os.path.join(tmp, "s12.raw"), "-F", "%d,%d,1,12,s" % (W, H),
                           "-d", "11,13", "-T", "11,13", "-t", "128,128")
        for o in ("RPCL", "PCRL"):
            jobs["yuv_%s.j2k" % o] = ("-i", os.path.join(tmp, "yuv.raw"),
                                      "-F", "%d,%d,3,8,u@1x1:2x2:2x2" % (W, H), "-p", o, "-t", "64,64")
        rgb = ("-i", os.path.join(tmp, "rgb.raw"), "-F", "%d,%d,3,8,u" % (W, H))
        # opj_compress aborts when -TP R and -POC are given together: two files instead.
        jobs["rgb_poc.j2k"] = rgb + ("-n", "6", "-r", "20,5,1",
                                     "-POC", "T1=0,0,3,3,3,CPRL/T1=3,0,3,6,3,LRCP")
        jobs["rgb_tp.j2k"] = rgb + ("-n", "6", "-r", "20,5,1", "-TP", "R", "-p", "RLCP")
        jobs["grey.jp2"] = g8 + ("-t", "64,64")
        jobs["rgb.jp2"] = rgb + ("-r", "20,5,1")
        jobs["sop.j2k"] = g8 + ("-p", "CPRL", "-SOP", "-EPH", "-t", "128,128", "-r", "10,1")
        # Code-block styles that split a code-block's bytes into several lengths per packet.
        jobs["bypass.j2k"] = g8 + ("-M", "1", "-r", "40,10,2,1")
        jobs["termall.j2k"] = g8 + ("-M", "4", "-r", "40,10,2,1", "-b", "16,64", "-p", "RLCP")
        jobs["modes.j2k"] = rgb + ("-M", "63", "-r", "40,10,2,1", "-b", "32,16", "-SOP", "-EPH", "-t", "100,80")
        for name, args in jobs.items():
            compress(args[1], os.path.join(tmp, name), *args[2:])
            if name.endswith(".j2k"):
                compress(args[1], os.path.join(tmp, "noplt_" + name), *args[2:], plt=False)
        Corpus.tmp = tmp

    def path(self, name):
        return os.path.join(self.tmp, name)


class IndexAndRebuild(Corpus):
    def test_bins_match_the_files_segments(self):
        for name in ["grey_%s.j2k" % o for o in ORDERS] + ["s12.j2k", "rgb_poc.j2k", "rgb_tp.j2k", "sop.j2k",
                                                           "yuv_RPCL.j2k"]:
            with self.subTest(name=name):
                with open(self.path(name), "rb") as f:
                    data = f.read()
                bins, _ = stream_bins(self.path(name), self.tmp, "--len", "1000000")
                main, parts = jppkit.split_file(data)
                expected = data[:2] + b"".join(s for m, s in main if m not in (0xFF55, 0xFF57))
                self.assertEqual(bins.get(3, 0), expected)
                self.assertEqual(bins.get(4, 0), b"")
                self.assertIn((4, 0, 0), bins.final)
                g = jppkit.Geometry(expected, {})
                for t in range(g.T):
                    head = b"".join(s for ti, segs, _ in parts if ti == t
                                    for m, s in segs if m != 0xFF58)
                    self.assertEqual(bins.get(1, t), head)
                    body = sum(len(b) for ti, _, b in parts if ti == t)
                    held = sum(len(bins.get(0, i)) for i in bins.keys(0) if i % g.T == t)
                    self.assertEqual(held, body)
                self.assertEqual(bins.overlaps, 0)

    def test_rebuilt_codestreams_decode_to_the_same_samples(self):
        names = ["grey_%s.j2k" % o for o in ORDERS] + ["s12.j2k", "yuv_RPCL.j2k", "yuv_PCRL.j2k",
                                                       "rgb_poc.j2k", "rgb_tp.j2k", "grey.jp2", "rgb.jp2", "sop.j2k"]
        for name in names:
            with self.subTest(name=name):
                bins, _ = stream_bins(self.path(name), self.tmp)
                rebuilt = jppkit.rebuild(bins)
                out = self.path(name + ".rebuilt.j2k")
                with open(out, "wb") as f:
                    f.write(rebuilt)
                a = decode(self.path(name), self.path("dec_a"))
                b = decode(out, self.path("dec_b"))
                self.assertEqual(len(a), len(b))
                self.assertEqual(a, b)
                if "CPRL" in name or name == "sop.j2k":
                    # The file is already in CPRL order: the rebuild is the file itself
                    # less its PLT segments.
                    with open(self.path(name), "rb") as f:
                        orig = f.read()
                    _, parts = jppkit.split_file(orig)
                    _, rparts = jppkit.split_file(rebuilt)
                    self.assertEqual([b for _, _, b in parts], [b for _, _, b in rparts])



class WithoutPlt(Corpus):
    """Packet boundaries read from the packet headers must be the ones opj_compress lists
    in PLT for the same stream (its bodies are the same with and without PLT)."""
    NAMES = (["grey_%s.j2k" % o for o in ORDERS]
             + ["s12.j2k", "yuv_PCRL.j2k", "rgb_poc.j2k", "rgb_tp.j2k", "sop.j2k", "bypass.j2k",
                "termall.j2k", "modes.j2k"])

    def test_precinct_bins_equal_the_plt_streams(self):
        for name in self.NAMES:
            with self.subTest(name=name):
                with_plt, _ = stream_bins(self.path(name), self.tmp, "--len", "10000000")
                without, _ = stream_bins(self.path("noplt_" + name), self.tmp, "--len", "10000000")
                keys = sorted(with_plt.keys(0))
                self.assertGreater(len(keys), 0)
                self.assertEqual(sorted(without.keys(0)), keys)
                for k in keys:
                    self.assertEqual(without.get(0, k), with_plt.get(0, k), "precinct bin %d" % k)

    def test_client_rebuild_decodes_to_the_files_samples(self):
        for name in ("grey_RPCL.j2k", "rgb_poc.j2k", "modes.j2k"):
            with self.subTest(name=name):
                plain = self.path("noplt_" + name)
                bins, _ = stream_bins(plain, self.tmp)
                out = self.path(name + ".noplt.rebuilt.j2k")
                with open(out, "wb") as f:
                    f.write(jppkit.rebuild(bins))
                self.assertEqual(decode(out, self.path("dec_b")), decode(plain, self.path("dec_a")))

    def test_broken_headers_are_refused_with_a_reason(self):
        with open(self.path("noplt_bypass.j2k"), "rb") as f:
            data = f.read()
        _, parts = jppkit.split_file(data)
        self.assertEqual(len(parts), 1)
        body = parts[0][2]
        sot = data.index(b"\xff\x90")
        start = data.index(body, sot)

        def with_body(new):
            psot = struct.unpack(">I", data[sot + 6:sot + 10])[0] + len(new) - len(body)
            return data[:sot + 6] + struct.pack(">I", psot) + data[sot + 10:start] + new + data[start + len(body):]

        cases = {"cut": (with_body(body[:len(body) // 2]), "runs past its tile-part"),
                 "tail": (with_body(body + b"\x00"), "bytes after its last packet"),
                 "ones": (with_body(b"\xff" * len(body)), "out of range")}
        for name, (bad, reason) in cases.items():
            with self.subTest(name=name):
                path = self.path(name + ".j2k")
                with open(path, "wb") as f:
                    f.write(bad)
                r = subprocess.run([sys.executable, SERVER, "index", path], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
                self.assertEqual(r.returncode, 2)
                self.assertEqual(r.stderr.strip().count("\n"), 0, r.stderr)
                self.assertIn("without PLT", r.stderr)
                self.assertIn(reason, r.stderr)


class Windows(Corpus):
    def test_levels_and_windows(self):
        name = "grey_RPCL.j2k"
        full, _ = stream_bins(self.path(name), self.tmp)
        g = jppkit.Geometry(full.get(3, 0), {})
        res_of = {}
        for t in range(g.T):
            for s, r, _, _, _ in g.precincts(t, 0):
                res_of[g.bin_id(t, 0, s)] = r
        srv = Server(self.tmp)
        try:
            levels = g.styles[0][0]["levels"]
            for d in range(levels + 1):
                fw, fh = -(-W // (1 << d)), -(-H // (1 << d))
                http = srv.http()
                _, _, _, _, fields = open_channel(http, name)
                bodies, headers = fetch_window(http, name, fields, "&fsiz=%d,%d" % (fw, fh))
                http.close()
                self.assertNotIn("jpip-fsiz", headers)
                bins = jppkit.Bins()
                for b in bodies:
                    bins.add_body(b)
                self.assertEqual(set(bins.keys(0)), {i for i in res_of if res_of[i] <= levels - d})
            # Inexact frame sizes: closest, round-down and round-up.
            for fsiz, expected in (("100,80,closest", "129,96"), ("100,80,round-down", "65,48"),
                                   ("100,80,round-up", "129,96"), ("10,10,round-down", "33,24"),
                                   ("1000,1000,round-up", "257,191"), ("70,50,closest", "65,48")):
                http = srv.http()
                _, _, _, _, fields = open_channel(http, name)
                status, headers, _, _ = http.get("/jpip/%s/%s?cid=%s&len=100&type=jpp-stream&fsiz=%s"
                                                 "&roff=10,10&rsiz=20,20"
                                                 % (name, fields["path"], fields["cid"], fsiz))
                http.close()
                self.assertEqual(status, 200)
                self.assertEqual(headers.get("jpip-fsiz"), expected, fsiz)
                self.assertIn("jpip-roff", headers)
                self.assertIn("jpip-rsiz", headers)
        finally:
            srv.stop()

    def test_window_rebuild_decodes_to_the_originals_samples(self):
        name = "grey_LRCP.j2k"
        everything, _ = stream_bins(self.path(name), self.tmp)
        total = len(everything.keys(0))
        for d in (0, 2):
            fw, fh = -(-W // (1 << d)), -(-H // (1 << d))
            for roff, rsiz in (((0, 0), (20, 16)), ((fw // 2 - 5, fh // 2 - 5), (10, 10)),
                               ((fw - 12, fh - 9), (12, 9))):
                with self.subTest(d=d, roff=roff):
                    bins, _ = stream_bins(self.path(name), self.tmp, "--fsiz", "%d,%d" % (fw, fh),
                                          "--roff", "%d,%d" % roff, "--rsiz", "%d,%d" % rsiz)
                    self.assertLess(len(bins.keys(0)), total)
                    out = self.path("win.j2k")
                    with open(out, "wb") as f:
                        f.write(jppkit.rebuild(bins))
                    area = "%d,%d,%d,%d" % (roff[0] << d, roff[1] << d,
                                            min((roff[0] + rsiz[0]) << d, W),
                                            min((roff[1] + rsiz[1]) << d, H))
                    a = decode(self.path(name), self.path("wa"), "-r", str(d), "-d", area)
                    b = decode(out, self.path("wb"), "-r", str(d), "-d", area)
                    self.assertEqual(a, b)


class Wire(Corpus):
    def setUp(self):
        self.srv = Server(self.tmp, "--chunk-size", "100")

    def tearDown(self):
        self.srv.stop()

    def test_channel_open_reply(self):
        http = self.srv.http()
        status, headers, body, chunks, fields = open_channel(http, "grey.jp2")
        self.assertEqual(status, 200)
        self.assertEqual(headers["content-type"], "image/jpp-stream")
        self.assertEqual(headers["transfer-encoding"], "chunked")
        self.assertEqual(fields["transport"], "http")
        self.assertTrue(fields["path"].startswith("ch"))
        self.assertGreater(chunks, 1)
        msgs = jppkit.read_messages(body)
        data = [(m["class"], m["id"]) for m in msgs if m["kind"] == "data"]
        self.assertEqual(sorted(set(data)), [(6, 0), (8, 0)])
        self.assertEqual(msgs[0]["form"], 3)
        self.assertEqual(msgs[-1]["reason"], 2)
        _, _, small, _, fields2 = open_channel(http, "grey.jp2", length=50)
        self.assertNotEqual(fields2["cid"], fields["cid"])
        self.assertLessEqual(len(small) - 3, 50)
        self.assertEqual(jppkit.read_messages(small)[-1]["reason"], 4)
        http.close()

    def test_repeated_window_sends_every_byte_once(self):
        for name, whole in (("grey_PCRL.j2k", True), ("rgb_poc.j2k", False)):
            with self.subTest(name=name):
                http = self.srv.http()
                _, _, body, _, fields = open_channel(http, name, length=10240)
                fsiz = "&fsiz=%d,%d" % ((W, H) if whole else (-(-W // 2), -(-H // 2)))
                bodies, _ = fetch_window(http, name, fields, fsiz)
                http.close()
                bins = jppkit.Bins()
                bins.add_body(body)
                forms = set()
                for i, b in enumerate(bodies):
                    msgs = bins.add_body(b)
                    self.assertLessEqual(len(b) - 3, 10240)
                    self.assertEqual(msgs[0].get("form", 3), 3)
                    forms |= {m["form"] for m in msgs if m["kind"] == "data"}
                    reason = msgs[-1]["reason"]
                    if i < len(bodies) - 1:
                        self.assertEqual(reason, 4)
                    else:
                        self.assertEqual(reason, 1 if whole else 2)
                self.assertEqual(bins.overlaps, 0)
                self.assertEqual(forms, {1, 2, 3})
                if whole:
                    ref, _ = stream_bins(self.path(name), self.tmp)
                    keys = [k for k in ref.data if len(k) == 3]
                    self.assertEqual(sorted(k for k in bins.data if len(k) == 3), sorted(keys))
                    for k in keys:
                        self.assertEqual(bins.get(*k[::2][:1], k[2]), ref.get(k[0], k[2]))
                    self.assertEqual(bins.final, ref.final)

    def test_model_lists_and_resumes(self):
        name = "grey_CPRL.j2k"
        ref, _ = stream_bins(self.path(name), self.tmp)
        codes = {0: "P", 1: "H", 3: "Hm", 4: "M"}
        entries = ["%s%s" % (codes[c], "" if c == 3 else i) for c, _, i in
                   (k for k in ref.data if len(k) == 3)]
        http = self.srv.http()
        status, _, body, _, _ = open_channel(http, name, extra="&model=" + ",".join(entries))
        self.assertEqual(status, 200)
        self.assertEqual(body, b"\x00\x01\x00")
        # Precinct 7 held up to byte 5: the reply resumes it at byte 5.
        held = [e for e in entries if e != "P7"] + ["P7:5"]
        _, _, body, _, fields = open_channel(http, name, extra="&model=" + ",".join(held))
        self.assertEqual(body, b"\x00\x02\x00")
        bodies, _ = fetch_window(http, name, fields, "&fsiz=%d,%d" % (W, H))
        msgs = [m for b in bodies for m in jppkit.read_messages(b) if m["kind"] == "data"]
        self.assertEqual({(m["class"], m["id"]) for m in msgs}, {(0, 7)})
        self.assertEqual(msgs[0]["offset"], 5)
        self.assertEqual(b"".join(m["data"] for m in msgs), ref.get(0, 7)[5:])
        self.assertTrue(msgs[-1]["final"])
        self.assertEqual(jppkit.read_messages(bodies[-1])[-1]["reason"], 1)
        for bad in ("&model=Q5", "&model=P-1", "&model=[x]", "&roff=a,b&fsiz=10,10",
                    "&rsiz=-5,4&fsiz=10,10", "&fsiz=0,4", "&fsiz=4,4,sideways", "&len=x"):
            status, _, _, _ = http.get("/jpip/%s/%s?cid=%s&len=10&type=jpp-stream%s"
                                       % (name, fields["path"], fields["cid"], bad))
            self.assertEqual(status, 400, bad)
        for target, code in (("/jpip/nofile.j2k?cnew=http&type=jpp-stream&len=10", 404),
                             ("/jpip/%s/%s?cid=nope&len=10&type=jpp-stream" % (name, fields["path"]), 404),
                             ("/jpip/%s/chX?cid=%s&len=10&type=jpp-stream" % (name, fields["cid"]), 404),
                             ("/jpip/%s?cnew=tcp&type=jpp-stream&len=10" % name, 501),
                             ("/jpip/%s?cnew=http&type=jpt-stream&len=10" % name, 501),
                             ("/jpip/../x?cnew=http&type=jpp-stream&len=10", 404)):
            self.assertEqual(http.get(target)[0], code, target)
        self.assertEqual(open_channel(http, name)[0], 200)
        http.close()



class RepeatedWindows(Corpus):
    """A channel keeps each window's bins and where its held bins end; every reply must
    match, byte for byte, one worked out from scratch for the same model."""

    def test_replies_match_a_channel_that_keeps_nothing(self):
        sys.path.insert(0, os.path.join(os.path.dirname(SERVER)))
        from jpiptest import channel, codestream

        def fresh_reply(ch, win, limit):
            ch.held = {}
            saved = channel.window_bins
            channel.window_bins = channel._window_bins
            try:
                return ch.reply(win, limit)
            finally:
                channel.window_bins = saved

        whole = {"fsiz": "%d,%d" % (W, H)}
        half = {"fsiz": "%d,%d" % (-(-W // 2), -(-H // 2))}
        corner = {"fsiz": "%d,%d" % (W, H), "roff": "30,20", "rsiz": "70,50"}
        # (file, windows visited in turn, reply length)
        cases = (("grey_LRCP.j2k", (half, whole, corner, whole), 700),
                 ("rgb_poc.j2k", (corner, half, whole), 2000),
                 ("yuv_RPCL.j2k", (whole, corner, half, whole), 333),
                 ("sop.j2k", (corner, whole), 10240))
        for name, windows, limit in cases:
            with self.subTest(name=name):
                image = codestream.index_file(self.path(name))
                kept = channel.Channel("k", "ch0", name, image)
                scratch = channel.Channel("s", "ch1", name, codestream.index_file(self.path(name)))
                self.assertEqual(kept.reply(None, limit)[0], fresh_reply(scratch, None, limit)[0])
                replies = 0
                for query in windows:
                    win = channel.make_window(image, query)
                    other = channel.make_window(scratch.image, query)
                    for _ in range(1000):
                        body, reason, bins = kept.reply(win, limit)
                        self.assertEqual((body, reason, bins), fresh_reply(scratch, other, limit), query)
                        replies += 1
                        if reason != 4:
                            break
                self.assertGreater(replies, len(windows))


class Faults(Corpus):
    def test_fault_switches(self):
        srv = Server(self.tmp, "--fault", "cut:on=cnew", "--fault", "status:code=503,on=region,after=1,times=1")
        try:
            http = srv.http()
            status, _, body, _, fields = open_channel(http, "grey.jp2")
            self.assertEqual(status, 200)
            with self.assertRaises(EOFError):
                jppkit.read_messages(body)
            codes = []
            for _ in range(3):
                codes.append(http.get("/jpip/grey.jp2/%s?cid=%s&len=100&type=jpp-stream"
                                      % (fields["path"], fields["cid"]))[0])
            self.assertEqual(codes, [200, 503, 200])
            for spec, check in (("no-cnew", lambda h, b: "jpip-cnew" not in h),
                                ("no-cid", lambda h, b: "cid=" not in h["jpip-cnew"]),
                                ("no-path", lambda h, b: "path=" not in h["jpip-cnew"]),
                                ("te:value=Chunked", lambda h, b: h["transfer-encoding"] == "Chunked"),
                                ("not-chunked", lambda h, b: "transfer-encoding" not in h and b),
                                ("body:hex=000100", lambda h, b: b == b"\x00\x01\x00"),
                                ("cnew:name=JPIP-CNEW,value=path%3Dimg%2Ccid%3DA1",
                                 lambda h, b: h["jpip-cnew"] == "path=img,cid=A1")):
                with self.subTest(spec=spec):
                    self.assertEqual(http.get("/clear")[0], 200)
                    self.assertEqual(http.get("/fault?spec=" + spec.replace("%", "%25").replace(",", "%2C")
                                              .replace("=", "%3D").replace(":", "%3A"))[0], 200)
                    status, headers, body, _, _ = open_channel(http, "grey.jp2")
                    self.assertTrue(check(headers, body), headers)
            http.get("/clear")
            http.get("/fault?spec=no-eor%3Aon%3Dregion")
            _, _, _, _, fields = open_channel(http, "grey.jp2")
            bodies = []
            for _ in range(3):
                bodies.append(http.get("/jpip/grey.jp2/%s?cid=%s&len=100000&type=jpp-stream&fsiz=8,6"
                                       % (fields["path"], fields["cid"]))[2])
            self.assertTrue(all(m["kind"] == "data" for m in jppkit.read_messages(bodies[0])))
            self.assertEqual(bodies[1:], [b"", b""])
            http.get("/clear")
            http.get("/fault?spec=drop")
            with self.assertRaises(EOFError):
                open_channel(http, "grey.jp2")
            http.close()
            http = srv.http(timeout=2)
            http.get("/clear")
            http.get("/fault?spec=stall%3Asecs%3D30")
            http.sock.sendall(b"GET /jpip/grey.jp2?cnew=http&type=jpp-stream&len=100 HTTP/1.1\r\n\r\n")
            with self.assertRaises(socket.timeout):
                while True:
                    if not http.sock.recv(4096):
                        break
            http.sock.settimeout(20)
            srv.proc.stdin.close()
            srv.proc.stdin = open(os.devnull, "wb")
            self.assertEqual(http.sock.recv(4096), b"")    # closed when the server stops
            srv.proc.wait(10)
            http.close()
        finally:
            srv.stop()


class Annotations(Corpus):
    def test_annotation_requests_and_log(self):
        adir = self.path("ann")
        os.makedirs(adir, exist_ok=True)
        with open(os.path.join(adir, "1.2.3.xml"), "w") as f:
            f.write("<Annotations><Image UID='1.2.3'/></Annotations>")
        default = self.path("default.xml")
        with open(default, "w") as f:
            f.write("<Annotations><Image UID='@UID@'/></Annotations>")
        log = self.path("server.log")
        srv = Server(self.tmp, "--annotations", adir, "--log", log,
                     "--fault", "status:on=annotation,code=500,after=2,times=1")
        try:
            http = srv.http()
            target = "/annotation?UID=1.2.3&Detail=1&Language=en%20US"
            status, headers, body, _ = http.get(target)
            self.assertEqual((status, headers["content-type"]), (200, "text/xml"))
            self.assertIn(b"UID='1.2.3'", body)
            self.assertEqual(http.get("/annotation?UID=9.9&Detail=1&Language=en")[0], 404)
            self.assertEqual(http.get("/annotation?UID=1.2.3&Detail=1&Language=en")[0], 500)
            with open(log) as f:
                records = [json.loads(l) for l in f]
            self.assertEqual(records[0]["target"], target)
            self.assertEqual([r["status"] for r in records], [200, 404, 500])
            http.close()
        finally:
            srv.stop()
        srv = Server(self.tmp, "--annotation-default", default, "--fault", "body:on=annotation,text=%3Cx%2F%3E,after=1")
        try:
            http = srv.http()
            self.assertIn(b"UID='7.7'", http.get("/annotation?UID=7.7&Detail=0&Language=en")[2])
            self.assertEqual(http.get("/annotation?UID=7.7&Detail=0&Language=en")[2], b"<x/>")
            http.close()
        finally:
            srv.stop()


def tearDownModule():
    if Corpus.tmp_root is not None:
        shutil.rmtree(Corpus.tmp_root, ignore_errors=True)
        Corpus.tmp = Corpus.tmp_root = None


if __name__ == "__main__":
    unittest.main()
