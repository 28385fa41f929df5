"""Shared steps of the end-to-end runs: hylo-sim on free loopback ports, hylo-cli record, and
readers for what it wrote."""
import json
import os
import random
import socket
import subprocess
import tempfile
import wave

import numpy as np
import soundfile

DATA_PORT_OFFSETS = range(51676, 51682)  # waveform/FFT UDP and TCP, epoch, status


class Checks:
    def __init__(self):
        self.failures = 0

    def __call__(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what, flush=True)
        if not ok:
            self.failures += 1
        return ok


def _free(port, kind):
    s = socket.socket(socket.AF_INET, kind)
    try:
        s.bind(("127.0.0.1", port))
        return True
    except OSError:
        return False
    finally:
        s.close()


def _free_command_port(rng, ftp=False):
    for _ in range(200):
        # A unit with FTP needs a port base that gives a control port (2021 + base) too.
        port = rng.randrange(50200, 62000) if ftp else rng.randrange(20000, 45000)
        base = port - 50000
        if ftp and not _free(2021 + base, socket.SOCK_STREAM):
            continue
        if _free(port, socket.SOCK_STREAM) and all(
                _free(base + p, socket.SOCK_STREAM) and _free(base + p, socket.SOCK_DGRAM) for p in DATA_PORT_OFFSETS):
            return port
    raise RuntimeError("no free loopback ports")


class Sim:
    """hylo-sim on 127.0.0.1 (or a pty), ended by its PID when the block ends."""

    def __init__(self, build, args, pty=False, ftp=False):
        self.bin = os.path.join(build, "sim", "hylo-sim")
        self.args = list(args)
        self.pty = pty
        self.ftp = ftp
        self.proc = None
        self.port = None
        self.device = None

    def __enter__(self):
        rng = random.Random(os.getpid())
        for _ in range(5):
            extra = ["--pty"] if self.pty else ["--port", str(_free_command_port(rng, self.ftp))]
            self.proc = subprocess.Popen([self.bin, *self.args, *extra, "--seconds", "120"], stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, text=True)
            line = self.proc.stdout.readline()
            if line.startswith("listening"):
                words = line.split()
                if self.pty:
                    self.device = words[2]
                else:
                    self.port = int(words[2].rsplit(":", 1)[1])
                return self
            self.proc.wait(timeout=10)
        raise RuntimeError("hylo-sim did not start: " + self.proc.stderr.read())

    def __exit__(self, *exc):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def link_args(self):
        return ["--serial", self.device] if self.pty else ["--host", "127.0.0.1", "--port", str(self.port)]

    def samples(self, count):
        """The counts the simulator streams for these scene settings, from sample 0."""
        out = subprocess.run([self.bin, *self.args, "--dump-samples", str(count)], capture_output=True, text=True,
                             timeout=120, check=True).stdout
        return np.array(out.split(), dtype=np.int64)


def record(build, link_args, *args, timeout=120):
    """Runs hylo-cli record; returns (exit code, summary dict or {}, stderr)."""
    cli = os.path.join(build, "cli", "hylo-cli")
    result = subprocess.run([cli, "record", *link_args, *args], capture_output=True, text=True, timeout=timeout)
    try:
        summary = json.loads(result.stdout.strip().splitlines()[-1])
    except (ValueError, IndexError):
        summary = {}
    return result.returncode, summary, result.stderr


def replay(build, *args, timeout=300):
    """Runs hylo-cli replay; returns (exit code, summary dict or {}, stderr)."""
    cli = os.path.join(build, "cli", "hylo-cli")
    result = subprocess.run([cli, "replay", *args], capture_output=True, text=True, timeout=timeout)
    try:
        summary = json.loads(result.stdout.strip().splitlines()[-1])
    except (ValueError, IndexError):
        summary = {}
    return result.returncode, summary, result.stderr


def wav_counts(path):
    """(sample rate, bytes per sample, samples as integers) read with Python's wave module."""
    with wave.open(path, "rb") as w:
        rate, width, frames = w.getframerate(), w.getsampwidth(), w.readframes(w.getnframes())
    raw = np.frombuffer(frames, dtype=np.uint8).reshape(-1, width).astype(np.int64)
    value = sum(raw[:, k] << (8 * k) for k in range(width))
    sign = 1 << (8 * width - 1)
    return rate, width, np.where(value >= sign, value - 2 * sign, value)


def find_in(sequence, piece):
    """Where `piece` starts in `sequence`, or -1."""
    head = piece[:64]
    candidates = np.flatnonzero(sequence[:len(sequence) - len(head) + 1] == head[0])
    for c in candidates:
        if np.array_equal(sequence[c:c + len(head)], head):
            return int(c)
    return -1


def fft_log_rows(path):
    """The 410 spectrum bytes of every data line of an FFT log."""
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    lines = text.split("\r\n")
    start = next(i for i, line in enumerate(lines) if "Data:" in line) + 2
    rows = [line.split("\t")[6:-1] for line in lines[start:] if line]
    return np.array(rows, dtype=np.int64)


def scratch():
    return tempfile.TemporaryDirectory(prefix="hylo-e2e-")


def readable(check, path, what):
    """Frames as Python's wave module, libsndfile and sox all see them, with the header announcing
    all but at most a second of the samples on disk; None (and a failed check) otherwise."""
    try:
        with wave.open(path, "rb") as w:
            frames, width, rate = w.getnframes(), w.getsampwidth(), w.getframerate()
            w.readframes(frames)
        info = soundfile.info(path)
        sox = subprocess.run(["sox", "--i", "-s", path], capture_output=True, text=True, timeout=30)
        if info.frames != frames or sox.returncode != 0 or int(sox.stdout.strip()) != frames:
            raise RuntimeError(f"wave {frames}, libsndfile {info.frames}, sox {sox.stdout.strip()} frames")
    except (wave.Error, EOFError, RuntimeError, OSError, ValueError) as e:
        check(False, f"{what}: {os.path.basename(path)} unreadable: {e}")
        return None
    on_disk = (os.path.getsize(path) - 344) // width
    check(on_disk - rate <= frames <= on_disk, f"{what}: {os.path.basename(path)} announces {frames} of the "
          f"{on_disk} samples on disk")
    return frames
