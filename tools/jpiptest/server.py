"""HTTP/1.1 front end: channels, annotations, control requests and fault injection."""
import json
import os
import secrets
import socket
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from . import codestream
from .channel import BadRequest, Channel, make_window, parse_model

FAULT_NAMES = ("no-cnew", "no-cid", "no-path", "cnew", "te", "not-chunked", "status", "cut",
               "stall", "drop", "no-eor", "body")
KINDS = ("cnew", "region", "annotation")


class FaultError(ValueError):
    pass


class Fault:
    """NAME[:key=value,...]; on= picks the request kind, skip (after= for faults that do
    not give it a byte meaning) skips matching requests, times= bounds the hits."""

    def __init__(self, spec):
        name, _, args = spec.partition(":")
        if name not in FAULT_NAMES:
            raise FaultError("unknown fault %r" % name)
        self.name = name
        self.args = {}
        if args:
            for item in args.split(","):
                key, eq, value = item.partition("=")
                if not eq or not key:
                    raise FaultError("bad fault argument %r" % item)
                self.args[key] = urllib.parse.unquote(value)
        self.on = self.args.get("on")
        if self.on is not None and self.on not in KINDS:
            raise FaultError("bad on= %r" % self.on)
        byte_after = name in ("stall", "drop")
        try:
            self.skip = int(self.args.get("skip", 0 if byte_after else self.args.get("after", 0)))
            self.times = int(self.args["times"]) if "times" in self.args else None
            for key in ("code", "at", "secs") + (("after",) if byte_after else ()):
                if key in self.args:
                    int(self.args[key])
            if "hex" in self.args:
                bytes.fromhex(self.args["hex"])
        except ValueError:
            raise FaultError("bad number in fault %r" % spec)
        self.seen = 0
        self.hits = 0

    def num(self, key, default):
        return int(self.args[key]) if key in self.args else default

    def matches(self, kind):
        if self.on is not None and self.on != kind:
            return False
        self.seen += 1
        if self.seen <= self.skip:
            return False
        if self.times is not None and self.hits >= self.times:
            return False
        self.hits += 1
        return True


class State:
    def __init__(self, options):
        self.root = os.path.realpath(options.root) if options.root else None
        self.options = options
        self.lock = threading.Lock()
        self.channels = {}
        self.images = {}
        self.next_channel = 0
        self.faults = [Fault(s) for s in (options.fault or [])]
        self.log = []
        self.seq = 0
        self.stop = threading.Event()
        self.log_file = open(options.log, "a", encoding="utf-8") if options.log else None

    def image(self, name):
        if self.root is None or name == "" or "\x00" in name:
            return None
        path = os.path.realpath(os.path.join(self.root, name))
        if not path.startswith(self.root + os.sep) or not os.path.isfile(path):
            return None
        with self.lock:
            image = self.images.get(path)
        if image is None:
            image = codestream.index_file(path)
            with self.lock:
                image = self.images.setdefault(path, image)
        return image

    def new_channel(self, name, image):
        with self.lock:
            n = self.next_channel
            self.next_channel += 1
            while True:
                token = "JPH" + secrets.token_hex(8).upper()
                if token not in self.channels:
                    break
            ch = Channel(token, "ch%d" % n, name, image)
            self.channels[token] = ch
        return ch

    def faults_for(self, kind):
        with self.lock:
            return [f for f in self.faults if f.matches(kind)]

    def add_log(self, record):
        with self.lock:
            # Monotonic seconds when written, so tests can measure waits between requests.
            record["time"] = time.monotonic()
            self.log.append(record)
            if self.log_file:
                self.log_file.write(json.dumps(record) + "\n")
                self.log_file.flush()


class Reply:
    def __init__(self, status=200, ctype="image/jpp-stream", body=b""):
        self.status, self.ctype, self.body = status, ctype, body
        self.headers = []
        self.chunked = True
        self.eor = None
        self.bins = []


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "JpipTestServer/1.0"
    sys_version = ""
    # A reply goes out in two writes (the log record must be on disk before the last chunk):
    # with Nagle's algorithm the second waits for the client's delayed acknowledgement.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def do_GET(self):
        state = self.server.state
        with state.lock:
            state.seq += 1
            seq = state.seq
        target = self.raw_requestline.decode("latin-1").split(" ")
        target = target[1] if len(target) >= 2 else ""
        split = urllib.parse.urlsplit(self.path)
        path = urllib.parse.unquote(split.path)
        try:
            query = {}
            for item in split.query.split("&") if split.query else []:
                k, _, v = item.partition("=")
                if k in query:
                    raise BadRequest("repeated field %s" % k)
                query[k] = urllib.parse.unquote(v)
        except BadRequest as e:
            return self.finish_reply(seq, target, "other", None, Reply(400, "text/plain", str(e).encode()))
        if path.startswith("/_control/") or path in ("/log", "/fault", "/clear"):
            return self.control(seq, target, path, query)
        if path == "/annotation":
            return self.finish_reply(seq, target, "annotation", None, self.annotation(query))
        if path.startswith("/jpip/"):
            kind = "cnew" if "cnew" in query else "region"
            try:
                reply, cid = self.jpip(path[len("/jpip/"):], query)
            except BadRequest as e:
                reply, cid = Reply(400, "text/plain", (str(e) + "\n").encode()), query.get("cid")
            except codestream.Refused as e:
                reply, cid = Reply(500, "text/plain", ("refused: %s\n" % e).encode()), query.get("cid")
            return self.finish_reply(seq, target, kind, cid, reply)
        return self.finish_reply(seq, target, "other", None, Reply(404, "text/plain", b"not found\n"))

    def jpip(self, rest, query):
        state = self.server.state
        if "cnew" in query:
            if query["cnew"] != "http" or query.get("type") != "jpp-stream":
                return Reply(501, "text/plain", b"only cnew=http&type=jpp-stream\n"), None
            limit = self.limit(query)
            image = state.image(rest)
            if image is None:
                return Reply(404, "text/plain", b"no such image\n"), None
            model = parse_model(query.get("model", ""))
            win = make_window(image, query)
            ch = state.new_channel(rest, image)
            with ch.lock:
                ch.add_model(model)
                reply = self.build(ch, win, limit)
            reply.headers.append(("JPIP-cnew", "cid=%s,path=%s,transport=http" % (ch.token, ch.path)))
            return reply, ch.token
        if "type" in query and query["type"] != "jpp-stream":
            return Reply(501, "text/plain", b"only type=jpp-stream\n"), query.get("cid")
        cid = query.get("cid")
        limit = self.limit(query)
        with state.lock:
            ch = state.channels.get(cid)
        name, _, chpath = rest.rpartition("/")
        if ch is None or ch.name != name or ch.path != chpath:
            return Reply(404, "text/plain", b"no such channel\n"), cid
        model = parse_model(query.get("model", ""))
        win = make_window(ch.image, query)
        with ch.lock:
            ch.add_model(model)
            return self.build(ch, win, limit), cid

    def limit(self, query):
        text = query.get("len")
        if text is None:
            return 1 << 31
        if not text.isdigit() or len(text) > 10 or int(text) >= 1 << 31:
            raise BadRequest("malformed len")
        return int(text)

    def build(self, ch, win, limit):
        no_eor = any(f.name == "no-eor" for f in self.pending_faults)
        body, reason, bins = ch.reply(win, limit, self.server.options.class_style == "extended", no_eor)
        reply = Reply(body=body)
        reply.eor, reply.bins = reason, bins
        if win is not None:
            reply.headers.extend(win.headers.items())
        return reply

    def annotation(self, query):
        opts = self.server.options
        uid = query.get("UID", "")
        safe = uid != "" and "/" not in uid and "\\" not in uid and uid not in (".", "..") and "\x00" not in uid
        if safe and opts.annotations:
            path = os.path.join(opts.annotations, uid + ".xml")
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    return Reply(200, "text/xml", f.read())
        if opts.annotation_default:
            with open(opts.annotation_default, "rb") as f:
                text = f.read()
            return Reply(200, "text/xml", text.replace(b"@UID@", uid.encode("utf-8")))
        return Reply(404, "text/plain", b"no annotations\n")

    def control(self, seq, target, path, query):
        state = self.server.state
        reply = Reply(200, "application/json", b"{}\n")
        if path == "/_control/stop":
            state.stop.set()
        elif path == "/log":
            with state.lock:
                reply.body = (json.dumps(state.log) + "\n").encode()
        elif path == "/fault":
            try:
                fault = Fault(query.get("spec", ""))
                with state.lock:
                    state.faults.append(fault)
            except FaultError as e:
                reply = Reply(400, "text/plain", (str(e) + "\n").encode())
        elif path == "/clear":
            with state.lock:
                state.faults = []
                state.log = []
        else:
            reply = Reply(404, "text/plain", b"not found\n")
        reply.chunked = False
        self.pending_faults = []
        self.send(seq, target, "control", None, reply)

    def finish_reply(self, seq, target, kind, cid, reply):
        self.send(seq, target, kind, cid, reply)

    # Faults are chosen before the reply is built (no-eor changes the body).
    def handle_one_request(self):
        self.pending_faults = []
        return super().handle_one_request()

    def parse_request(self):
        ok = super().parse_request()
        if ok:
            split = urllib.parse.urlsplit(self.path)
            path = urllib.parse.unquote(split.path)
            kind = None
            if path == "/annotation":
                kind = "annotation"
            elif path.startswith("/jpip/"):
                kind = "cnew" if "cnew=" in split.query else "region"
            self.pending_faults = self.server.state.faults_for(kind) if kind else []
        return ok

    def send(self, seq, target, kind, cid, reply):
        state = self.server.state
        opts = self.server.options
        faults = {f.name: f for f in self.pending_faults}
        body = reply.body
        if "body" in faults:
            f = faults["body"]
            body = bytes.fromhex(f.args["hex"]) if "hex" in f.args else f.args.get("text", "").encode("utf-8")
        if "cut" in faults:
            body = body[:faults["cut"].num("at", first_message_cut(body))]
        status = faults["status"].num("code", 500) if "status" in faults else reply.status
        headers = []
        for name, value in reply.headers:
            if name == "JPIP-cnew":
                if "no-cnew" in faults:
                    continue
                tokens = value.split(",")
                if "no-cid" in faults:
                    tokens = [t for t in tokens if not t.startswith("cid=")]
                if "no-path" in faults:
                    tokens = [t for t in tokens if not t.startswith("path=")]
                value = ",".join(tokens)
                if "cnew" in faults:
                    name = faults["cnew"].args.get("name", name)
                    value = faults["cnew"].args.get("value", value)
            headers.append((name, value))
        chunked = reply.chunked and "not-chunked" not in faults
        te = "chunked"
        if "te" in faults:
            te = faults["te"].args.get("value", "chunked")
            chunked = te.lower() == "chunked"
        head = ["HTTP/1.1 %d %s" % (status, self.responses.get(status, ("Status",))[0]),
                "Content-Type: %s" % reply.ctype, "Cache-Control: no-cache"]
        head += ["%s: %s" % h for h in headers]
        if chunked or "te" in faults:
            head.append("Transfer-Encoding: %s" % te)
        if not chunked:
            head.append("Content-Length: %d" % len(body))
        head.append("Connection: keep-alive")
        raw = ("\r\n".join(head) + "\r\n\r\n").encode("latin-1")
        head_len = len(raw)
        if chunked:
            size = opts.chunk_size
            for i in range(0, len(body), size):
                piece = body[i:i + size]
                raw += b"%x\r\n" % len(piece) + piece + b"\r\n"
            tail = b"0\r\n\r\n"
        else:
            raw += body
            tail = b""
        record = {"seq": seq, "target": target, "headers": dict(self.headers.items()),
                  "kind": kind, "cid": cid, "status": status, "body_bytes": len(body),
                  "eor": reply.eor if "body" not in faults and "cut" not in faults else None,
                  "bins": [list(b) for b in reply.bins],
                  "faults": sorted(faults)}
        try:
            if "drop" in faults:
                n = faults["drop"].num("after", 0)
                self.wfile.write((raw + tail)[:n])
                self.wfile.flush()
                state.add_log(record)
                self.close_connection = True
                return
            if "stall" in faults:
                n = faults["stall"].num("after", 0)
                self.wfile.write(raw[:head_len + n])
                self.wfile.flush()
                state.add_log(record)
                state.stop.wait(faults["stall"].num("secs", 60))
                self.close_connection = True
                return
            self.wfile.write(raw)
            # The record is on disk before the client can see the reply end.
            state.add_log(record)
            self.wfile.write(tail)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError, socket.timeout):
            self.close_connection = True


def first_message_cut(body):
    """Where a cut falls inside the first data message that carries bytes."""
    i, prev_class = 0, 0
    while i < len(body):
        start = i
        b = body[i]
        i += 1
        if b == 0:                      # EOR: reason, then its length
            i += 1
            values = 1
        else:
            while b & 0x80 and i < len(body):
                b = body[i]
                i += 1
            form = (body[start] >> 5) & 3
            values = {1: 2, 2: 3, 3: 4}.get(form, 2)
        fields = []
        for _ in range(values):
            v = 0
            while i < len(body):
                c = body[i]
                i += 1
                v = (v << 7) | (c & 0x7F)
                if not c & 0x80:
                    break
            fields.append(v)
        if body[start] != 0 and ((body[start] >> 5) & 3) >= 2:
            prev_class = fields[0]
        if body[start] != 0 and prev_class & 1:
            while i < len(body) and body[i] & 0x80:
                i += 1
            i += 1
        length = fields[-1] if fields else 0
        if body[start] != 0 and length > 0:
            return min(len(body), i + length // 2)
        i += length
    return len(body)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, options, state):
        self.options = options
        self.state = state
        super().__init__(("127.0.0.1", options.port), Handler)


def fail(message):
    """A start-up failure: one line, status 2 (a script's error, as argparse gives)."""
    print("jpip_test_server.py: %s" % message, file=sys.stderr, flush=True)
    return 2


def serve(options):
    try:
        state = State(options)
    except OSError as e:
        return fail("cannot open %s: %s" % (e.filename, e.strerror))
    try:
        server = Server(options, state)
    except OSError as e:
        if state.log_file:
            state.log_file.close()
        return fail("cannot listen on 127.0.0.1:%d: %s" % (options.port, e.strerror or e))
    print("LISTENING 127.0.0.1 %d" % server.server_address[1], flush=True)
    if options.exit_on_stdin_eof:
        def watch_stdin():
            # The raw descriptor: a buffered reader would hold its lock at exit.
            try:
                while os.read(sys.stdin.fileno(), 4096):
                    pass
            except OSError:
                pass
            state.stop.set()
        threading.Thread(target=watch_stdin, daemon=True).start()
    runner = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
    runner.start()
    state.stop.wait(options.lifetime)
    state.stop.set()
    server.shutdown()
    server.server_close()
    if state.log_file:
        state.log_file.close()
    return 0
