#!/usr/bin/env python3
"""Stand-in content service for KavriZelvo (Python 3 standard library only).

It answers on 127.0.0.1 what the application and the model installer ask of
the maker's content service, so tests (and a developer by hand) can run
without the real one:

  GET  <prefix>/weights/manifest     the model manifest (JSON), key required
  GET  <prefix>/weights/file/<path>  one model file of the manifest, key required
  GET  <prefix>/zelvo/latest.json    the update feed: {"version", "sha256"}
  GET  <prefix>/zelvo/download       the update image (--release-image)
  POST <prefix>/_mode                the answer mode, as the body (see below)

The key goes in the header "Authorization: Bearer <key>", exactly so. A missing
or unknown key gets 401, a revoked one 403. A file's body is `bytes` bytes of a
pattern derived from its path (see file_pattern), sent in 64 KiB chunks paced
to --rate bytes per second.

Command line:
  kavri_cdn.py --port 0 [--prefix /cdn] [--keys K1,K2] [--revoked K3]
               [--manifest FILE] [--rate BYTES_PER_S] [--mode MODE]
               [--log FILE] [--max-seconds N]
               [--release-version V] [--release-image FILE]

The first line printed is {"port": P}. The server exits on SIGTERM or after
--max-seconds (default 900).

Modes (at start with --mode, or later with POST <prefix>/_mode; "normal" or an
empty body goes back to normal answers). All but "slow" apply after the key rule:
  status=N          answer N with an empty body
  html              200 with a page that is not JSON
  array             200 with []
  scalar            200 with 42
  files-string      200 with "files" as a string
  files-mixed       200 with good entries beside ones without "bytes", or with
                    a string, a fractional or a 2^70 "bytes"
  slow=S            wait S seconds before answering
  hangup            close the connection without answering
  file-cut=<path>   send half of that file, then close the connection
  file-404=<path>   answer 404 for that file

The update feed and image need no key. Their modes are words of the mode text,
separated by spaces, so several apply at once ("version=2.0 digest=upper"):
  version=V         the feed names version V instead of --release-version
  digest=upper      the feed's digest in upper case
  digest=none       the feed has no "sha256"
  digest=wrong      the feed's digest is not the image's
  feed=html         the feed is a page that is not JSON
  feed=array        the feed is a JSON array
  feed=no-version   the feed has no "version"
  feed=bad-version  the feed's version is "1.x"
  feed=number       the feed's version is the number 9
  feed=huge         a good feed padded past 2 MiB
  feed-status=N     the feed answers N with an empty body
  feed-slow=S       the feed waits S seconds before answering
  image=FILE        the image is FILE instead of --release-image
  image-status=N    the image answers N with a short body
  image-stall       the image sends its headers and half its bytes, then
                    nothing more until the client goes (at most 120 s)

--log writes one JSON object per line for every request: "method", "path" and
"headers".
"""

import argparse
import hashlib
import http.server
import json
import os
import signal
import socket
import sys
import threading
import time
import urllib.parse

CHUNK = 64 * 1024

DEFAULT_KEYS = "sk_kavri_standin_0001"
DEFAULT_MANIFEST = {
    "model": "zelvo-0",
    "files": [
        {"path": "zelvo-0/weights/config.json", "bytes": 1_048_576},
        {"path": "zelvo-0/weights/model-00001.safetensors", "bytes": 3_145_728},
        {"path": "zelvo-0/weights/model-00002.safetensors", "bytes": 2_500_000},
    ],
}


def file_pattern(path):
    """The 64 KiB block a file's body is made of.

    Byte i of the body is block[i % 65536] XOR ((i // 65536) % 256), where the
    block is the SHA-256 digests of "<path>:0", "<path>:1", ... "<path>:2047"
    one after the other.
    """
    return b"".join(hashlib.sha256(("%s:%d" % (path, n)).encode("utf-8")).digest() for n in range(2048))


XOR_TABLES = [bytes(b ^ k for b in range(256)) for k in range(256)]


class State:
    def __init__(self, args):
        self.prefix = args.prefix.rstrip("/")
        self.keys = set(k for k in args.keys.split(",") if k)
        self.revoked = set(k for k in args.revoked.split(",") if k)
        if args.manifest:
            with open(args.manifest, "rb") as f:
                self.manifest_body = f.read()
        else:
            self.manifest_body = json.dumps(DEFAULT_MANIFEST).encode("utf-8")
        try:
            self.sizes = {
                e["path"]: e["bytes"]
                for e in json.loads(self.manifest_body)["files"]
                if isinstance(e, dict) and isinstance(e.get("path"), str)
                and isinstance(e.get("bytes"), int) and e["bytes"] >= 0
            }
        except (ValueError, KeyError, TypeError):
            self.sizes = {}
        self.rate = max(1.0, float(args.rate))
        self.mode = args.mode or ""
        self.lock = threading.Lock()
        self.log = open(args.log, "a", encoding="utf-8") if args.log else None
        self.release_version = args.release_version
        self.release_image = args.release_image

    def release_modes(self):
        """The feed and image words of the mode as a dict: word -> value."""
        words = {}
        for word in self.current_mode().split():
            key, _, value = word.partition("=")
            words[key] = value
        return words

    def current_mode(self):
        with self.lock:
            return self.mode

    def set_mode(self, mode):
        with self.lock:
            self.mode = "" if mode in ("", "normal") else mode

    def record(self, method, path, headers):
        if not self.log:
            return
        line = json.dumps({"method": method, "path": path, "headers": dict(headers.items())})
        with self.lock:
            self.log.write(line + "\n")
            self.log.flush()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KavriCdnStandIn/1"

    def log_message(self, *args):
        pass

    @property
    def state(self):
        return self.server.state

    def answer(self, status, body=b"", content_type="application/json"):
        self.send_response(status)
        if body:
            self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if body:
            self.wfile.write(body)

    def hang_up(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def route(self):
        path = urllib.parse.urlsplit(self.path).path
        prefix = self.state.prefix
        if prefix and not (path == prefix or path.startswith(prefix + "/")):
            return None
        return path[len(prefix):]

    def key_status(self):
        header = self.headers.get("Authorization")
        if header is None or not header.startswith("Bearer "):
            return 401
        key = header[len("Bearer "):]
        if key in self.state.revoked:
            return 403
        if key in self.state.keys:
            return 200
        return 401

    def do_POST(self):
        self.state.record("POST", self.path, self.headers)
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        if self.route() != "/_mode":
            self.answer(404)
            return
        self.state.set_mode(body.decode("utf-8", "replace").strip())
        self.answer(200, b'{"ok": true}')

    def do_GET(self):
        self.state.record("GET", self.path, self.headers)
        route = self.route()
        if route == "/zelvo/latest.json":
            self.feed()
        elif route == "/zelvo/download":
            self.image()
        elif route == "/weights/manifest":
            self.manifest()
        elif route is not None and route.startswith("/weights/file/"):
            self.file(urllib.parse.unquote(route[len("/weights/file/"):]))
        else:
            self.answer(404)

    def delay(self):
        """The "slow" mode: every answer about a key, good or bad, waits."""
        mode = self.state.current_mode()
        if mode.startswith("slow="):
            time.sleep(float(mode[len("slow="):]))

    def common_mode(self, mode):
        """Modes that apply to every keyed answer; True when one answered."""
        if mode == "hangup":
            self.hang_up()
            return True
        if mode.startswith("status="):
            self.answer(int(mode[len("status="):]))
            return True
        return False

    def manifest(self):
        self.delay()
        status = self.key_status()
        if status != 200:
            self.answer(status)
            return
        mode = self.state.current_mode()
        if self.common_mode(mode):
            return
        if mode == "html":
            self.answer(200, b"<html><body>Sign in to continue</body></html>", "text/html")
        elif mode == "array":
            self.answer(200, b"[]")
        elif mode == "scalar":
            self.answer(200, b"42")
        elif mode == "files-string":
            self.answer(200, b'{"files": "zelvo-0/weights/model.safetensors"}')
        elif mode == "files-mixed":
            self.answer(200, json.dumps({"files": [
                {"path": "zelvo-0/weights/a.bin", "bytes": 1_500_000_000},
                {"path": "zelvo-0/weights/no-size.bin"},
                {"path": "zelvo-0/weights/b.bin", "bytes": 2_000_000_000},
                {"path": "zelvo-0/weights/string.bin", "bytes": "12"},
                {"path": "zelvo-0/weights/fraction.bin", "bytes": 1.5},
                {"path": "zelvo-0/weights/huge.bin", "bytes": 2 ** 70},
            ]}).encode("utf-8"))
        else:
            self.answer(200, self.state.manifest_body)

    def file(self, path):
        self.delay()
        status = self.key_status()
        if status != 200:
            self.answer(status)
            return
        mode = self.state.current_mode()
        if self.common_mode(mode):
            return
        size = self.state.sizes.get(path)
        if size is None or mode == "file-404=" + path:
            self.answer(404)
            return
        cut = size // 2 if mode == "file-cut=" + path else None
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        block = file_pattern(path)
        started = time.monotonic()
        sent = 0
        while sent < size:
            limit = size if cut is None else cut
            if sent >= limit:
                self.wfile.flush()
                self.hang_up()
                return
            chunk = block.translate(XOR_TABLES[(sent // CHUNK) % 256])[: min(CHUNK, limit - sent)]
            self.wfile.write(chunk)
            sent += len(chunk)
            ahead = sent / self.state.rate - (time.monotonic() - started)
            if ahead > 0:
                time.sleep(ahead)


    def image_path(self, words):
        return words.get("image") or self.state.release_image

    def feed(self):
        words = self.state.release_modes()
        if "feed-slow" in words:
            time.sleep(float(words["feed-slow"]))
        if "feed-status" in words:
            self.answer(int(words["feed-status"]))
            return
        kind = words.get("feed", "")
        if kind == "html":
            self.answer(200, b"<html><body>maintenance</body></html>", "text/html")
            return
        if kind == "array":
            self.answer(200, b"[]")
            return
        feed = {"version": words.get("version", self.state.release_version), "notes": "stand-in"}
        if kind == "no-version":
            del feed["version"]
        elif kind == "bad-version":
            feed["version"] = "1.x"
        elif kind == "number":
            feed["version"] = 9
        elif kind == "huge":
            feed["padding"] = "x" * (2 * 1024 * 1024)
        digest_mode = words.get("digest", "")
        if digest_mode != "none":
            path = self.image_path(words)
            digest = hashlib.sha256(open(path, "rb").read() if path else b"").hexdigest()
            if digest_mode == "upper":
                digest = digest.upper()
            elif digest_mode == "wrong":
                digest = hashlib.sha256(b"something else").hexdigest()
            feed["sha256"] = digest
        self.answer(200, json.dumps(feed).encode("utf-8"))

    def image(self):
        words = self.state.release_modes()
        if "image-status" in words:
            self.answer(int(words["image-status"]), b"<html>no</html>", "text/html")
            return
        path = self.image_path(words)
        if not path or not os.path.isfile(path):
            self.answer(404)
            return
        with open(path, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if "image-stall" in words:
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            # Nothing more: wait until the client hangs up.
            self.connection.settimeout(120)
            try:
                while self.connection.recv(4096):
                    pass
            except OSError:
                pass
            self.hang_up()
            return
        for at in range(0, len(body), CHUNK):
            self.wfile.write(body[at:at + CHUNK])


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description="stand-in content service")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--prefix", default="")
    parser.add_argument("--keys", default=DEFAULT_KEYS)
    parser.add_argument("--revoked", default="")
    parser.add_argument("--manifest", default="")
    parser.add_argument("--rate", type=float, default=20_000_000)
    parser.add_argument("--mode", default="")
    parser.add_argument("--log", default="")
    parser.add_argument("--max-seconds", type=float, default=900)
    parser.add_argument("--release-version", default="0.1.0")
    parser.add_argument("--release-image", default="")
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    server = Server(("127.0.0.1", args.port), Handler)
    server.state = State(args)
    stopper = threading.Timer(args.max_seconds, lambda: os._exit(0))
    stopper.daemon = True
    stopper.start()
    sys.stdout.write(json.dumps({"port": server.server_address[1]}) + "\n")
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()
