#!/usr/bin/env python3
"""The model installer's network half (Python 3 standard library only).

install.sh runs it after the runtime is in place:

  install_fetch.py <home>

It reads the user's key from $HOME/.kavri_key, fetches the model manifest from
the content service (KAVRI_CDN, else the application's default base) with the
key as a bearer token, saves the manifest's file list as <home>/manifest.json
and downloads every file that is not already complete on disk:

  <base>/weights/file/<path>  ->  <home>/<path>.part  ->  <home>/<path>

Output lines (one write each):
  ::stage weights
  ::weight <done> of <total> gb     at most every 0.25 s and after each file
  ::error <reason>                  then exit 3 (no key, a failed fetch, a bad
                                    manifest) or 4 (a file of the wrong size;
                                    its .part file stays)

KAVRI_INSTALL_SILENCE: seconds the service may stay silent before the run
fails (default 30); tests shorten it.
"""

import http.client
import json
import os
import signal
import socket
import sys
import time
import urllib.error
import urllib.parse
import urllib.request

DEFAULT_BASE = "https://cdn.kavri.example/"
CHUNK = 64 * 1024
REPORT_EVERY = 0.25
LARGEST_MANIFEST = 16 * 1024 * 1024


class Failure(Exception):
    def __init__(self, reason, code=3):
        super().__init__(reason)
        self.reason = reason
        self.code = code


def emit(line):
    """One line, one write."""
    os.write(1, (line + "\n").encode("utf-8"))


def join(base, relative):
    """`relative` appended to the base's path as path components; the base's
    query and fragment are dropped and its last segment kept."""
    parts = urllib.parse.urlsplit(base)
    path = parts.path if parts.path.endswith("/") else parts.path + "/"
    return urllib.parse.urlunsplit((parts.scheme, parts.netloc, path + relative.lstrip("/"), "", ""))


def is_loopback(host):
    if not host:
        return False
    if host.lower() == "localhost" or host == "::1":
        return True
    return host.startswith("127.") and all(p.isdigit() for p in host.split("."))


class SameOriginRedirects(urllib.request.HTTPRedirectHandler):
    """Follows a redirect only to the same scheme, host and port, so the key
    never reaches another host."""

    def redirect_request(self, req, fp, code, msg, headers, newurl):
        old = urllib.parse.urlsplit(req.full_url)
        new = urllib.parse.urlsplit(urllib.parse.urljoin(req.full_url, newurl))
        if (old.scheme, old.netloc) != (new.scheme, new.netloc):
            raise Failure("the cdn redirected elsewhere")
        return super().redirect_request(req, fp, code, msg, headers, newurl)


def opener_for(url):
    handlers = [SameOriginRedirects()]
    if is_loopback(urllib.parse.urlsplit(url).hostname):
        handlers.append(urllib.request.ProxyHandler({}))
    return urllib.request.build_opener(*handlers)


def read_key():
    home = os.environ.get("HOME", "")
    try:
        with open(os.path.join(home, ".kavri_key"), "rb") as f:
            raw = f.read(64 * 1024 + 1)
    except OSError:
        raw = b""
    try:
        key = raw.decode("utf-8").strip()
    except UnicodeDecodeError:
        key = ""
    if len(raw) > 64 * 1024 or not key:
        raise Failure("no kavri key — add it in the settings")
    # Control characters could end the header line and start another.
    if any(ord(c) < 32 or ord(c) == 127 or c in "\u2028\u2029\u0085" for c in key):
        raise Failure("the kavri key isn't usable")
    return key


def safe_path(path):
    if not isinstance(path, str) or not path or path.startswith("/") or "\0" in path:
        return False
    return ".." not in path.split("/")


def read_manifest(body):
    try:
        manifest = json.loads(body.decode("utf-8"))
    except (UnicodeDecodeError, ValueError):
        raise Failure("the manifest isn't readable")
    files = manifest.get("files") if isinstance(manifest, dict) else None
    if not isinstance(files, list):
        raise Failure("the manifest has no file list")
    for entry in files:
        if not isinstance(entry, dict):
            raise Failure("the manifest has a malformed entry")
        size = entry.get("bytes")
        if not isinstance(size, int) or isinstance(size, bool) or size < 0 or size >= 2 ** 63:
            raise Failure("the manifest has a malformed entry")
        if not safe_path(entry.get("path")):
            raise Failure("the manifest names an unsafe path")
    return files


def fetch_manifest(base, key, silence):
    url = join(base, "weights/manifest")
    request = urllib.request.Request(url, headers={"Authorization": "Bearer " + key})
    try:
        with opener_for(url).open(request, timeout=silence) as reply:
            body = reply.read(LARGEST_MANIFEST + 1)
    except urllib.error.HTTPError as error:
        raise Failure("the cdn answered %d" % error.code)
    except (urllib.error.URLError, OSError, ValueError) as error:
        raise Failure("couldn't reach the cdn (%s)" % reason_of(error))
    if len(body) > LARGEST_MANIFEST:
        raise Failure("the manifest is too large")
    return read_manifest(body)


def reason_of(error):
    if isinstance(error, urllib.error.URLError) and not isinstance(error.reason, str):
        error = error.reason
    if isinstance(error, socket.timeout):
        return "silent too long"
    text = str(getattr(error, "reason", "") or error).strip()
    return text.splitlines()[0] if text else type(error).__name__


def save_manifest(home, files):
    path = os.path.join(home, "manifest.json")
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        json.dump(files, f)
        f.flush()
        os.fsync(f.fileno())
    os.replace(temporary, path)


def size_of(path):
    try:
        return os.stat(path).st_size if os.path.isfile(path) else None
    except OSError:
        return None


class Progress:
    def __init__(self, total):
        self.total = total
        self.last = None

    def report(self, done, force=False):
        now = time.monotonic()
        if not force and self.last is not None and now - self.last < REPORT_EVERY:
            return
        self.last = now
        emit("::weight %.1f of %.1f gb" % (done / 1e9, self.total / 1e9))


def download(base, key, home, entry, before, progress, silence):
    """Fetches one file into its .part file, then renames it into place."""
    target = os.path.join(home, entry["path"])
    part = target + ".part"
    os.makedirs(os.path.dirname(target) or home, exist_ok=True)
    url = join(base, "weights/file/" + urllib.parse.quote(entry["path"], safe="/"))
    request = urllib.request.Request(url, headers={"Authorization": "Bearer " + key})
    written = 0
    try:
        with opener_for(url).open(request, timeout=silence) as reply, open(part, "wb", buffering=0) as out:
            while True:
                try:
                    chunk = reply.read(CHUNK)
                except http.client.IncompleteRead as cut:
                    chunk = cut.partial
                    if chunk:
                        out.write(chunk)
                        written += len(chunk)
                    break
                if not chunk:
                    break
                out.write(chunk)
                written += len(chunk)
                progress.report(before + min(written, entry["bytes"]))
    except urllib.error.HTTPError as error:
        raise Failure("the cdn answered %d for %s" % (error.code, entry["path"]))
    except (urllib.error.URLError, OSError, ValueError) as error:
        raise Failure("couldn't fetch %s (%s)" % (entry["path"], reason_of(error)))
    if written != entry["bytes"]:
        raise Failure("%s arrived with %d of %d bytes" % (entry["path"], written, entry["bytes"]), 4)
    os.replace(part, target)


def main():
    signal.signal(signal.SIGTERM, lambda *_: os._exit(143))
    if len(sys.argv) != 2:
        emit("::error usage: install_fetch.py <home>")
        return 2
    home = sys.argv[1]
    base = os.environ.get("KAVRI_CDN", DEFAULT_BASE)
    try:
        silence = float(os.environ.get("KAVRI_INSTALL_SILENCE", "30"))
    except ValueError:
        silence = 30.0
    try:
        if urllib.parse.urlsplit(base).scheme not in ("http", "https"):
            raise Failure("couldn't reach the cdn (no usable address)")
        key = read_key()
        files = fetch_manifest(base, key, silence)
        os.makedirs(home, exist_ok=True)
        save_manifest(home, files)

        emit("::stage weights")
        total = sum(entry["bytes"] for entry in files)
        progress = Progress(total)
        done = 0
        for entry in files:
            if size_of(os.path.join(home, entry["path"])) != entry["bytes"]:
                download(base, key, home, entry, done, progress, silence)
            done += entry["bytes"]
            progress.report(done, force=True)
    except Failure as failure:
        emit("::error " + failure.reason)
        return failure.code
    except OSError as error:
        emit("::error couldn't write the model files (%s)" % (error.strerror or error))
        return 3
    return 0


if __name__ == "__main__":
    sys.exit(main())
