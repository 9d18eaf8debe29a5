#!/usr/bin/env python3
"""Stand-in model server for KavriZelvo (Python 3 standard library only).

It speaks the application's model-server protocol on 127.0.0.1 so that the
whole generation path runs on a machine without the real model:

  GET  /health    status report (JSON)
  POST /prepare   {"track", "audio"}: remembers a track handed over ahead of time
  POST /cancel    stops the renders in flight
  POST /warm      {"seconds"}: event stream
  POST /outpaint  the render request: event stream, generated WAV at "out"

Event streams are JSON objects, one per line, sent with chunked transfer
encoding so that a server dying mid-stream is a transport error for the client,
never a normal end.

The continuation is made from the context itself: the server estimates the
tempo, cuts the last bars before the seam and plays them on in an order drawn
from the seed, joined with short equal-power crossfades, so a re-roll with
another seed sounds different and nothing clicks at the seam.

Command line (as the application launches it):
  kavri_brain.py --runtime <home>/zelvo-0/optimized/mlx --warm <seconds> --port <port>

The brain home is KAVRI_BRAIN_HOME when set, else the runtime folder without
its trailing "zelvo-0/optimized/mlx".

Test knobs, read from the environment only:
  KAVRI_BRAIN_STEP_DELAY    seconds between sampling steps (default 0.05)
  KAVRI_BRAIN_FAULT         outpaint fault mode, one of:
                              http503  answer HTTP 503
                              error    an "error" event after the first step
                              nodone   end the stream without "done"
                              die      the process dies mid-stream
                              stall    fall silent after the first stage
                              garbage  non-event lines between the events
                              short    write half the frames asked for
                              nofile   report "done" without writing the file
  KAVRI_BRAIN_FAULT_MESSAGE the message of the "error" fault
  KAVRI_BRAIN_FAST          the health report's "fast" (default "ready");
                            "until-built": "missing" until the installer's
                            neural-engine build has left
                            <runtime>/neural-engine.ok, then "ready"
  KAVRI_BRAIN_HEALTH_PATCH  a JSON object merged into every health report
  KAVRI_BRAIN_HEALTH_DROP   comma-separated keys removed from every health report
  KAVRI_BRAIN_HEALTH_DELAY  seconds "health" waits before it answers (default 0)
  KAVRI_BRAIN_LIFETIME      seconds after which the server exits by itself
                            (default 21600)
  KAVRI_BRAIN_LOG           JSON-lines log of every request and step stamp
                            (default <home>/brain-requests.jsonl)
"""

import argparse
import array
import glob
import http.server
import json
import math
import os
import random
import resource
import select
import socket
import struct
import sys
import threading
import time

OUTPUT_RATE = 44100
RUNTIME_SUFFIX = os.path.join("zelvo-0", "optimized", "mlx")
LATENT_FRAMES = 4096

FORMAT_PCM = 1
FORMAT_FLOAT = 3
FORMAT_EXTENSIBLE = 0xFFFE


# ----------------------------------------------------------------------------
# Output lines to the supervisor

def emit(line):
    """Writes one line to standard output in a single write."""
    data = (line + "\n").encode("utf-8")
    while data:
        written = os.write(1, data)
        data = data[written:]


def emit_event(obj):
    # Standard separators, so the supervisor sees `"event": "stage"` and the
    # stage name as the last quoted string of the line.
    emit(json.dumps(obj))


# ----------------------------------------------------------------------------
# WAV files

class WavError(Exception):
    pass


class Audio:
    """Interleaved PCM: `data` bytes, `channels`, `rate`, `fmt` (1 = 16-bit PCM, 3 = 32-bit float)."""

    def __init__(self, data, channels, rate, fmt):
        self.data = data
        self.channels = channels
        self.rate = rate
        self.fmt = fmt

    @property
    def width(self):
        return 2 if self.fmt == FORMAT_PCM else 4

    @property
    def frame_bytes(self):
        return self.width * self.channels

    @property
    def frames(self):
        return len(self.data) // self.frame_bytes


def read_wav(path):
    """Parses a RIFF/WAVE file of 16-bit PCM or 32-bit float, mono or stereo."""
    with open(path, "rb") as f:
        raw = f.read()
    if len(raw) < 12 or raw[0:4] != b"RIFF" or raw[8:12] != b"WAVE":
        raise WavError("not a RIFF/WAVE file")
    pos = 12
    fmt = None
    data = None
    while pos + 8 <= len(raw):
        cid = raw[pos:pos + 4]
        size = struct.unpack_from("<I", raw, pos + 4)[0]
        body = pos + 8
        end = min(body + size, len(raw))
        if cid == b"fmt ":
            if end - body < 16:
                raise WavError("fmt chunk too short")
            tag, channels, rate, _, align, bits = struct.unpack_from("<HHIIHH", raw, body)
            if tag == FORMAT_EXTENSIBLE:
                if end - body < 40:
                    raise WavError("extensible fmt chunk too short")
                tag = struct.unpack_from("<H", raw, body + 24)[0]
            fmt = (tag, channels, rate, align, bits)
        elif cid == b"data":
            data = memoryview(raw)[body:end]
        pos = body + size + (size & 1)
    if fmt is None or data is None:
        raise WavError("no fmt or data chunk")
    tag, channels, rate, align, bits = fmt
    if (tag, bits) not in ((FORMAT_PCM, 16), (FORMAT_FLOAT, 32)):
        raise WavError("unsupported sample format (tag %d, %d bits)" % (tag, bits))
    if channels not in (1, 2) or rate <= 0:
        raise WavError("unsupported layout (%d channels at %d Hz)" % (channels, rate))
    frame_bytes = (bits // 8) * channels
    usable = len(data) - len(data) % frame_bytes
    return Audio(bytes(data[:usable]), channels, rate, tag)


def write_wav(path, audio):
    """Writes `audio` at `path` through a temporary file and a rename."""
    if audio.fmt == FORMAT_PCM:
        fmt_chunk = struct.pack("<4sIHHIIHH", b"fmt ", 16, FORMAT_PCM, audio.channels, audio.rate,
                                audio.rate * audio.frame_bytes, audio.frame_bytes, 16)
        extra = b""
    else:
        fmt_chunk = struct.pack("<4sIHHIIHHH", b"fmt ", 18, FORMAT_FLOAT, audio.channels, audio.rate,
                                audio.rate * audio.frame_bytes, audio.frame_bytes, 32, 0)
        extra = struct.pack("<4sII", b"fact", 4, audio.frames)
    data_header = struct.pack("<4sI", b"data", len(audio.data))
    riff_size = 4 + len(fmt_chunk) + len(extra) + len(data_header) + len(audio.data)
    temp = "%s.part-%d-%d" % (path, os.getpid(), threading.get_ident())
    try:
        with open(temp, "wb") as f:
            f.write(struct.pack("<4sI4s", b"RIFF", riff_size, b"WAVE"))
            f.write(fmt_chunk)
            f.write(extra)
            f.write(data_header)
            f.write(audio.data)
        os.replace(temp, path)
    except BaseException:
        try:
            os.unlink(temp)
        except OSError:
            pass
        raise


# ----------------------------------------------------------------------------
# Sample arithmetic (only where bytes cannot simply be sliced)

def to_array(audio, data=None):
    a = array.array("h" if audio.fmt == FORMAT_PCM else "f")
    a.frombytes(audio.data if data is None else data)
    if sys.byteorder == "big":
        a.byteswap()
    return a


def from_array(a):
    if sys.byteorder == "big":
        a = array.array(a.typecode, a)
        a.byteswap()
    return a.tobytes()


def to_stereo(audio):
    if audio.channels == 2:
        return audio
    w = audio.width
    mono = audio.data
    out = bytearray(len(mono) * 2)
    for j in range(w):
        out[j::2 * w] = mono[j::w]
        out[w + j::2 * w] = mono[j::w]
    return Audio(bytes(out), 2, audio.rate, audio.fmt)


def resample(audio, rate):
    """Linear interpolation of interleaved stereo to `rate`."""
    if audio.rate == rate or audio.frames == 0:
        return Audio(audio.data, audio.channels, rate, audio.fmt)
    src = to_array(audio)
    n_in = audio.frames
    n_out = int(round(n_in * rate / audio.rate))
    step = audio.rate / rate
    last = n_in - 1
    pcm = audio.fmt == FORMAT_PCM
    left = []
    right = []
    for k in range(n_out):
        pos = k * step
        i = int(pos)
        if i >= last:
            i, f = last, 0.0
        else:
            f = pos - i
        a = 2 * i
        b = a + 2 if i < last else a
        left.append(src[a] + (src[b] - src[a]) * f)
        right.append(src[a + 1] + (src[b + 1] - src[a + 1]) * f)
    out = array.array("h" if pcm else "f", bytes(n_out * 2 * (2 if pcm else 4)))
    if pcm:
        out[0::2] = array.array("h", [int(round(v)) for v in left])
        out[1::2] = array.array("h", [int(round(v)) for v in right])
    else:
        out[0::2] = array.array("f", left)
        out[1::2] = array.array("f", right)
    return Audio(from_array(out), 2, rate, audio.fmt)


def crossfade(audio, fading_out, fading_in):
    """Equal-power crossfade of two stereo byte strings of the same length."""
    a = to_array(audio, fading_out)
    b = to_array(audio, fading_in)
    frames = len(a) // 2
    if frames == 0:
        return b""
    pcm = audio.fmt == FORMAT_PCM
    out = array.array(a.typecode, a)
    half_pi = math.pi / 2
    for k in range(frames):
        t = (k + 0.5) / frames
        g_out = math.cos(t * half_pi)
        g_in = math.sin(t * half_pi)
        for c in (2 * k, 2 * k + 1):
            v = a[c] * g_out + b[c] * g_in
            if pcm:
                v = max(-32768, min(32767, int(round(v))))
            out[c] = v
    return from_array(out)


# ----------------------------------------------------------------------------
# Tempo

def estimate_bar_frames(audio, end_frame):
    """Bar length in frames (four beats) of the stereo audio before `end_frame`."""
    samples = to_array(audio, audio.data[:end_frame * audio.frame_bytes])
    scale = 1.0 if audio.fmt == FORMAT_PCM else 32768.0
    fallback = int(round(4 * 60.0 / 120.0 * OUTPUT_RATE))

    def envelope(decimate, hop):
        left = samples[0::2 * decimate]
        per = hop // decimate
        values = [abs(v) * scale for v in left]
        return [sum(values[i:i + per]) for i in range(0, len(values) - per + 1, per)]

    def onset(env):
        return [max(0.0, env[i] - env[i - 1]) for i in range(1, len(env))]

    def autocorr(sig, lag):
        n = len(sig) - lag
        if n <= 0:
            return 0.0
        return sum(sig[i] * sig[i + lag] for i in range(n)) / n

    # Beat period on a coarse envelope (512-frame hops), 80 to 170 beats a minute.
    coarse_hop = 512
    coarse = onset(envelope(16, coarse_hop))
    if not coarse or max(coarse) <= 0.0:
        return fallback
    hop_seconds = coarse_hop / OUTPUT_RATE
    lags = range(int(60.0 / 170.0 / hop_seconds), int(60.0 / 80.0 / hop_seconds) + 2)
    scores = {lag: autocorr(coarse, lag) for lag in lags}
    best = max(scores, key=scores.get)
    if scores[best] <= 0.0:
        return fallback
    bar_guess = 4 * best * coarse_hop

    # Refine the whole bar on a finer envelope (64-frame hops): one bar spans four
    # beats, so its error is a quarter of the beat's.
    fine_hop = 64
    fine = onset(envelope(4, fine_hop))
    centre = bar_guess // fine_hop
    span = 4 * coarse_hop // fine_hop
    fine_scores = {lag: autocorr(fine, lag) for lag in range(max(1, centre - span), centre + span + 1)}
    if not fine_scores:
        return bar_guess
    lag = max(fine_scores, key=fine_scores.get)
    prev, here, nxt = fine_scores.get(lag - 1), fine_scores[lag], fine_scores.get(lag + 1)
    shift = 0.0
    if prev is not None and nxt is not None:
        denom = prev - 2 * here + nxt
        if denom < 0:
            shift = max(-0.5, min(0.5, 0.5 * (prev - nxt) / denom))
    return max(1, int(round((lag + shift) * fine_hop)))


# ----------------------------------------------------------------------------
# The continuation

CROSSFADE_FRAMES = 1024
MAX_BARS = 4


def render_audio(context, context_seconds, seconds, seed):
    """Returns the generated audio: the context up to `context_seconds`, then
    the continuation, stereo at 44.1 kHz, round(seconds * 44100) frames long."""
    audio = resample(to_stereo(context), OUTPUT_RATE)
    fb = audio.frame_bytes
    total = max(0, int(round(seconds * OUTPUT_RATE)))
    seam = max(0, int(round(context_seconds * OUTPUT_RATE)))
    have = audio.frames
    if have < seam:
        if seam - have > OUTPUT_RATE // 100:
            raise WavError("the context holds %.3f s, less than its context_seconds %.3f"
                           % (have / OUTPUT_RATE, context_seconds))
        audio = Audio(audio.data + bytes((seam - have) * fb), 2, OUTPUT_RATE, audio.fmt)
        have = seam
    data = audio.data
    head = data[:min(seam, total) * fb]
    wanted = total - seam
    if wanted <= 0:
        return Audio(head, 2, OUTPUT_RATE, audio.fmt)
    if seam == 0:
        return Audio(bytes(total * fb), 2, OUTPUT_RATE, audio.fmt)

    bar = min(estimate_bar_frames(audio, seam), seam)
    bars = max(1, min(MAX_BARS, seam // bar))
    fade = min(CROSSFADE_FRAMES, bar // 4)

    def bar_bytes(i):
        # Bar i counts back from the seam: bar 0 ends at the seam.
        start = seam - (i + 1) * bar
        return data[start * fb:(start + bar) * fb]

    def after_bar(i):
        # What followed bar i in the context; after bar 0 that is the frames the
        # file carries past the seam, held on its last frame where it runs short.
        start = (seam - i * bar) * fb
        piece = data[start:start + fade * fb]
        if len(piece) < fade * fb:
            last = piece[-fb:] if piece else data[(seam - 1) * fb:seam * fb]
            piece = piece + last * (fade - len(piece) // fb)
        return piece

    joins = {}

    def unit(prev, nxt):
        body = bar_bytes(nxt)
        if nxt == prev - 1:
            return body  # the bar that really followed: nothing to join
        key = (prev, nxt)
        if key not in joins:
            joins[key] = crossfade(audio, after_bar(prev), body[:fade * fb])
        return joins[key] + body[fade * fb:]

    rng = random.Random(seed)
    pieces = []
    produced = 0
    prev = 0
    while produced < wanted:
        nxt = rng.randrange(bars)
        pieces.append(unit(prev, nxt))
        produced += bar
        prev = nxt
    tail = b"".join(pieces)[:wanted * fb]
    return Audio(head + tail, 2, OUTPUT_RATE, audio.fmt)


# ----------------------------------------------------------------------------
# Server state

class Config:
    def __init__(self, args):
        self.port = args.port
        self.warm = args.warm
        self.runtime = os.path.abspath(args.runtime)
        env_home = os.environ.get("KAVRI_BRAIN_HOME", "")
        if env_home:
            self.home = os.path.abspath(env_home)
        else:
            runtime = self.runtime.rstrip(os.sep)
            if runtime.endswith(os.sep + RUNTIME_SUFFIX):
                self.home = runtime[:-len(RUNTIME_SUFFIX)].rstrip(os.sep) or os.sep
            else:
                self.home = runtime
        self.step_delay = float(os.environ.get("KAVRI_BRAIN_STEP_DELAY", "0.05"))
        self.fault = os.environ.get("KAVRI_BRAIN_FAULT", "")
        self.fault_message = os.environ.get("KAVRI_BRAIN_FAULT_MESSAGE", "the model ran out of memory")
        self.fast = os.environ.get("KAVRI_BRAIN_FAST", "ready")
        self.lifetime = float(os.environ.get("KAVRI_BRAIN_LIFETIME", "21600"))
        patch = os.environ.get("KAVRI_BRAIN_HEALTH_PATCH", "")
        self.health_patch = json.loads(patch) if patch else {}
        self.health_drop = [k for k in os.environ.get("KAVRI_BRAIN_HEALTH_DROP", "").split(",") if k]
        self.health_delay = float(os.environ.get("KAVRI_BRAIN_HEALTH_DELAY", "0"))
        self.log_path = os.environ.get("KAVRI_BRAIN_LOG") or os.path.join(self.home, "brain-requests.jsonl")


class Render:
    def __init__(self):
        self.cancelled = threading.Event()


class Brain:
    def __init__(self, config):
        self.config = config
        self.lock = threading.Lock()
        self.log_lock = threading.Lock()
        self.renders = set()
        self.state = "loading"
        self.warm = False
        self.last_elapsed = None
        self.tracks = {}

    def log(self, entry):
        entry = dict(entry)
        entry.setdefault("t", time.monotonic())
        line = json.dumps(entry, separators=(",", ":")) + "\n"
        with self.log_lock:
            try:
                os.makedirs(os.path.dirname(self.config.log_path), exist_ok=True)
                with open(self.config.log_path, "a", encoding="utf-8") as f:
                    f.write(line)
            except OSError:
                pass

    def missing(self):
        manifest = os.path.join(self.config.home, "manifest.json")
        try:
            with open(manifest, "r", encoding="utf-8") as f:
                entries = json.load(f)
        except (OSError, ValueError):
            return []
        missing = []
        for entry in entries if isinstance(entries, list) else []:
            if not isinstance(entry, dict) or not isinstance(entry.get("path"), str):
                continue
            path = os.path.join(self.config.home, entry["path"])
            want = entry.get("bytes")
            try:
                size = os.path.getsize(path)
            except OSError:
                missing.append(entry["path"])
                continue
            if isinstance(want, int) and size < want:
                missing.append(entry["path"])
        return missing

    def fast(self):
        if self.config.fast == "until-built":
            built = os.path.exists(os.path.join(self.config.runtime, "neural-engine.ok"))
            return "ready" if built else "missing"
        return self.config.fast

    def health(self):
        models_dir = os.path.join(self.config.home, "models")
        models = [{"name": "zelvo-0", "kind": "base"}]
        for path in sorted(glob.glob(os.path.join(models_dir, "*.safetensors"))):
            models.append({"name": os.path.splitext(os.path.basename(path))[0], "kind": "lora"})
        peak_kb = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        try:
            with open("/proc/self/statm") as f:
                active = int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
        except (OSError, ValueError, IndexError):
            active = peak_kb * 1024
        fast = self.fast()
        with self.lock:
            state = "busy" if self.renders else self.state
            report = {
                "ok": True,
                "state": state,
                "dit": "stand-in",
                "warm": self.warm,
                "latents": int(round(self.config.warm * OUTPUT_RATE / LATENT_FRAMES)),
                "missing": self.missing(),
                "active_gb": round(active / 1e9, 4),
                "peak_gb": round(peak_kb * 1024 / 1e9, 4),
                "models": models,
                "model": "zelvo-0",
                "models_dir": models_dir,
                "fast": fast,
                "pid": os.getpid(),
                "fast_loaded": fast == "ready",
                "tracks_ready": dict(self.tracks),
            }
            if self.last_elapsed is not None:
                report["last_elapsed"] = self.last_elapsed
        report.update(self.config.health_patch)
        for key in self.config.health_drop:
            report.pop(key, None)
        return report

    def begin(self):
        render = Render()
        with self.lock:
            self.renders.add(render)
        return render

    def end(self, render, elapsed=None):
        with self.lock:
            self.renders.discard(render)
            if elapsed is not None:
                self.last_elapsed = round(elapsed, 3)

    def cancel_all(self):
        with self.lock:
            for render in self.renders:
                render.cancelled.set()


class ClientGone(Exception):
    pass


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "kavri-brain-stand-in"
    brain = None  # set before serving

    def setup(self):
        super().setup()
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def log_message(self, format, *args):
        pass  # every request goes to the JSON-lines log instead

    # -- plumbing ------------------------------------------------------------

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def log_request_entry(self, body):
        self.brain.log({
            "kind": "request",
            "method": self.command,
            "path": self.path,
            "content_type": self.headers.get("Content-Type"),
            "content_length": self.headers.get("Content-Length"),
            "body": body.decode("utf-8", "replace"),
        })

    def send_json(self, status, obj):
        body = json.dumps(obj).encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def parse_json(self, body):
        try:
            obj = json.loads(body.decode("utf-8"))
        except (UnicodeDecodeError, ValueError):
            self.send_json(400, {"error": "malformed JSON"})
            return None
        if not isinstance(obj, dict):
            self.send_json(400, {"error": "expected a JSON object"})
            return None
        return obj

    def start_stream(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/x-ndjson")
        self.send_header("Transfer-Encoding", "chunked")
        self.send_header("Cache-Control", "no-store")
        self.end_headers()

    def chunk(self, data):
        try:
            self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))
        except OSError as e:
            raise ClientGone() from e

    def send_event(self, obj, terminator=b"\n"):
        self.chunk(json.dumps(obj, separators=(",", ":")).encode("utf-8") + terminator)

    def end_stream(self):
        try:
            self.wfile.write(b"0\r\n\r\n")
        except OSError as e:
            raise ClientGone() from e

    def client_gone(self):
        try:
            readable, _, _ = select.select([self.connection], [], [], 0)
            if readable:
                return self.connection.recv(1, socket.MSG_PEEK) == b""
        except OSError:
            return True
        return False

    def wait(self, seconds, render):
        """Waits, returning early when the render is cancelled or the client left."""
        deadline = time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            if left <= 0 or render.cancelled.is_set():
                return
            if render.cancelled.wait(min(left, 0.1)):
                return
            if self.client_gone():
                raise ClientGone()

    # -- endpoints -----------------------------------------------------------

    def do_GET(self):
        self.log_request_entry(b"")
        if self.path == "/health":
            if self.brain.config.health_delay > 0:
                try:
                    self.wait(self.brain.config.health_delay, Render())
                except ClientGone:
                    self.close_connection = True
                    return
            self.send_json(200, self.brain.health())
        else:
            self.send_json(404, {"error": "no such endpoint"})

    def do_POST(self):
        body = self.read_body()
        self.log_request_entry(body)
        if self.path == "/cancel":
            self.brain.cancel_all()
            self.send_json(200, {"ok": True})
        elif self.path == "/prepare":
            self.prepare(body)
        elif self.path == "/warm":
            self.warm(body)
        elif self.path == "/outpaint":
            self.outpaint(body)
        else:
            self.send_json(404, {"error": "no such endpoint"})

    def prepare(self, body):
        request = self.parse_json(body)
        if request is None:
            return
        track, audio = request.get("track"), request.get("audio")
        if not isinstance(track, str) or not isinstance(audio, str):
            self.send_json(400, {"error": "prepare needs track and audio"})
            return
        try:
            frames = read_wav(audio).frames
        except (OSError, WavError):
            frames = 0
        with self.brain.lock:
            self.brain.tracks[track] = frames
        self.send_json(200, {"ok": True})

    def warm(self, body):
        request = self.parse_json(body)
        if request is None:
            return
        seconds = request.get("seconds")
        if isinstance(seconds, bool) or not isinstance(seconds, (int, float)):
            self.send_json(400, {"error": "warm needs seconds"})
            return
        started = time.monotonic()
        try:
            self.start_stream()
            self.send_event({"event": "stage", "stage": "warming up"})
            with self.brain.lock:
                self.brain.warm = True
            self.send_event({"event": "ready"})
            self.send_event({"event": "done", "path": "", "seconds": float(seconds),
                             "elapsed": time.monotonic() - started, "seed": 0})
            self.end_stream()
        except ClientGone:
            self.close_connection = True

    def outpaint(self, body):
        request = self.parse_json(body)
        if request is None:
            return
        problem = check_request(request)
        if problem:
            self.send_json(400, {"error": problem})
            return
        fault = self.brain.config.fault
        if fault == "http503":
            self.send_json(503, {"error": "the model is busy"})
            return
        render = self.brain.begin()
        started = time.monotonic()
        finished = False
        try:
            self.start_stream()
            finished = self.run_render(request, render, fault, started)
            self.end_stream()
        except ClientGone:
            self.close_connection = True
        finally:
            self.brain.end(render, time.monotonic() - started if finished else None)

    def run_render(self, request, render, fault, started):
        """Streams one render; returns True when it reported "done"."""
        config = self.brain.config
        steps = max(0, int(request["steps"]))
        seed = int(request["seed"])
        garbage = fault == "garbage"
        endings = [0]

        def junk(index):
            if garbage:
                lines = [b"loading shards...\r\n", b"\n", b"[1, 2, 3]\r",
                         b'{"event":"Done","path":"x"}\n', b'{"note":"no event"}\r\n',
                         b"not json at all"]
                self.chunk(lines[index % len(lines)])
                if index % len(lines) == len(lines) - 1:
                    self.chunk(b"\n")  # the end of a line can arrive in a later write

        def event(obj):
            # Garbage mode also ends events with CR and CR LF.
            terminator = b"\n"
            if garbage:
                terminator = (b"\n", b"\r", b"\r\n")[endings[0] % 3]
                endings[0] += 1
            self.send_event(obj, terminator)

        event({"event": "stage", "stage": "reading context"})
        junk(0)
        if fault == "stall":
            while not render.cancelled.is_set():
                self.wait(3600, render)
            event({"event": "cancelled"})
            return False
        try:
            context = read_wav(request["context"])
        except FileNotFoundError:
            event({"event": "error", "message": "no context at %s" % request["context"]})
            return False
        except (OSError, WavError) as e:
            event({"event": "error", "message": "cannot read the context: %s" % e})
            return False
        event({"event": "stage", "stage": "listening"})
        junk(1)
        for i in range(1, steps + 1):
            self.wait(config.step_delay, render)
            if render.cancelled.is_set():
                event({"event": "cancelled"})
                return False
            if fault == "die" and i > steps // 2:
                os._exit(70)
            stamp = time.monotonic()
            event({"event": "step", "step": i, "total": steps,
                   "elapsed": round(stamp - started, 4), "t_mono": stamp})
            self.brain.log({"kind": "step", "step": i, "t_mono": stamp})
            junk(i + 1)
            if fault == "error":
                event({"event": "error", "message": config.fault_message})
                return False
        if render.cancelled.is_set():
            event({"event": "cancelled"})
            return False
        event({"event": "stage", "stage": "writing"})
        try:
            audio = render_audio(context, float(request["context_seconds"]), float(request["seconds"]), seed)
            if fault == "short":
                audio = Audio(audio.data[:(audio.frames // 2) * audio.frame_bytes], 2, audio.rate, audio.fmt)
            if fault != "nofile":
                write_wav(request["out"], audio)
        except WavError as e:
            event({"event": "error", "message": str(e)})
            return False
        except OSError as e:
            event({"event": "error", "message": "cannot write %s: %s" % (request["out"], e.strerror or e)})
            return False
        if render.cancelled.is_set():
            try:
                os.unlink(request["out"])
            except OSError:
                pass
            event({"event": "cancelled"})
            return False
        junk(steps + 2)
        if fault == "nodone":
            return False
        event({"event": "done", "path": request["out"], "seconds": audio.frames / OUTPUT_RATE,
               "elapsed": round(time.monotonic() - started, 4), "seed": seed})
        return True


def check_request(request):
    def number(key):
        v = request.get(key)
        return not isinstance(v, bool) and isinstance(v, (int, float)) and math.isfinite(v)

    def integer(key):
        v = request.get(key)
        return not isinstance(v, bool) and (isinstance(v, int) or (isinstance(v, float) and v.is_integer()))

    for key in ("context", "out"):
        if not isinstance(request.get(key), str) or not request[key]:
            return "outpaint needs %s" % key
    for key in ("context_seconds", "seconds"):
        if not number(key) or request[key] < 0:
            return "outpaint needs a number %s" % key
    for key in ("steps", "seed"):
        if not integer(key):
            return "outpaint needs an integer %s" % key
    return None


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


# ----------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description="KavriZelvo stand-in model server")
    parser.add_argument("--runtime", required=True)
    parser.add_argument("--warm", type=float, default=48.0)
    parser.add_argument("--port", type=int, default=7431)
    config = Config(parser.parse_args())
    brain = Brain(config)

    def expire():
        emit("kavri_brain: lifetime of %.0f s is over" % config.lifetime)
        os._exit(0)

    timer = threading.Timer(config.lifetime, expire)
    timer.daemon = True
    timer.start()

    emit_event({"event": "stage", "stage": "loading weights"})
    emit_event({"event": "stage", "stage": "loading text encoder"})
    Handler.brain = brain
    try:
        server = Server(("127.0.0.1", config.port), Handler)
    except OSError as e:
        emit("kavri_brain: cannot listen on 127.0.0.1:%d: %s" % (config.port, e.strerror or e))
        sys.exit(1)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()

    emit_event({"event": "stage", "stage": "warming up"})
    with brain.lock:
        brain.warm = True
        brain.state = "idle"
    emit_event({"event": "ready"})
    threading.Event().wait()


if __name__ == "__main__":
    main()
