#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpus (fuzz/corpus/<target>/) from the real writers and the
simulator: our own WAV, FFT log and settings file from a short `hylo-cli record` against
`hylo-sim`, WAV files from sox, a binary .fft file built from its layout, and the reply frames
the simulator sends to the host's commands. Run from the project root after a build:
    scripts/make-fuzz-seeds.py build
Only loopback is used; the simulator started here is stopped by its PID."""
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "interop"))
import wire  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else "build"
top = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
corpus = os.path.join(top, "fuzz", "corpus")
port = 52400 + os.getpid() % 500


def put(target, name, data):
    d = os.path.join(corpus, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def head(path, limit):
    with open(path, "rb") as f:
        return f.read(limit)


work = tempfile.mkdtemp(prefix="hylo-seeds-")
sim = subprocess.Popen([os.path.join(build, "sim", "hylo-sim"), "--port", str(port), "--rate", "8000",
                        "--seconds", "30"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    time.sleep(0.5)
    # The simulator's replies, each command on a fresh read.
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        replies = b""
        for letter, payload in [("E", b""), ("A", b"\0\0\0\0"), ("C", struct.pack("<H", 0xFFFF)),
                                ("F", struct.pack("<H", 20)), ("R", b""), ("Z", b"")]:
            s.sendall(wire.frame(letter, payload))
            time.sleep(0.3)
            s.settimeout(0.5)
            got = b""
            try:
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    got += chunk
            except socket.timeout:
                pass
            frames, _ = wire.split_frames(got)
            for i, fr in enumerate(frames):
                put("fuzz_reply_parser", f"reply_{letter}_{i}", fr)
                if letter == "E":
                    put("fuzz_version_reply", f"identify_{i}", fr[4:-2])
                if letter == "C":
                    put("fuzz_status_reply", f"status_{i}", fr[4:-2])
                    put("fuzz_stream_messages", f"status_{i}", fr[4:-2])
                if letter == "F":
                    put("fuzz_setup_records", f"setup_{i}", fr[4:-2])
                if letter == "R":
                    put("fuzz_epoch_triggers", f"triggers_{i}", fr[4:-2])
            replies += got
        put("fuzz_reply_parser", "all_replies", replies)
    # The waveform and FFT streams as they arrive over TCP, from the start request on.
    base = port - 50000
    for stream, offset, what in [(0, 51678, "wave"), (1, 51679, "fft")]:
        with socket.create_connection(("127.0.0.1", base + offset), timeout=5) as s:
            s.sendall(b"3*" + struct.pack(">H", 4) + bytes(4))
            got = b""
            end = time.monotonic() + 3
            s.settimeout(0.5)
            while len(got) < 12000 and time.monotonic() < end:
                try:
                    chunk = s.recv(65536)
                except socket.timeout:
                    continue
                if not chunk:
                    break
                got += chunk
            s.sendall(b"4*" + struct.pack(">H", 0))
        got = got[:12000]
        put("fuzz_stream_messages", f"{what}_tcp", bytes([stream]) + got)
        # Dispatch: stream, then the transports the threads believe in (wave TCP; FFT off
        # so the host computes spectra, or TCP), then the firmware choice.
        for fft_code in (0, 2):
            put("fuzz_stream_dispatch", f"{what}_tcp_fft{fft_code}", bytes([stream | 2 << 2 | fft_code << 4, 0]) + got)
    rec = subprocess.run([os.path.join(build, "cli", "hylo-cli"), "record", "--host", "127.0.0.1", "--port",
                          str(port), "--seconds", "2", "--wav-dir", os.path.join(work, "wav"), "--fft-dir",
                          os.path.join(work, "fft"), "--settings-dir", os.path.join(work, "set")],
                         capture_output=True, text=True, timeout=60)
    if rec.returncode != 0:
        sys.exit("hylo-cli record failed: " + rec.stderr)
finally:
    sim.terminate()
    sim.wait(10)

wav = os.path.join(work, "wav", sorted(os.listdir(os.path.join(work, "wav")))[0])
put("fuzz_replay_wav", "ours_24bit", head(wav, 4000))
for bits in (16, 24):
    out = os.path.join(work, f"sox{bits}.wav")
    subprocess.run(["sox", "-n", "-r", "8000", "-b", str(bits), "-c", "1", out, "synth", "0.05", "sine", "1000"],
                   check=True)
    put("fuzz_replay_wav", f"sox_{bits}bit", head(out, 4000))
fft = os.path.join(work, "fft", sorted(os.listdir(os.path.join(work, "fft")))[0])
put("fuzz_replay_text", "ours_fft_log", head(fft, 8000))
put("fuzz_calibration_file", "ours_fft_log", head(fft, 8000))
put("fuzz_calibration_file", "noise_compare", "".join(f"{-60 - i % 7}\n" for i in range(512)).encode())
# A job setup file as the program writes it, for an HF unit (first byte 0: HF, firmware 1.4.0)
# and an AF unit at 2.1.0 with feature level 2 (0x27).
cfg = ("$WAVE_GAIN = 0\n$WAVE_SAMPLE_RATE = 128000\n$WAVE_LOG_MODE = 1\n$WAVE_LOG_LENGTH = 15\n"
       "$WAVE_BIT_DEPTH = 24\n$WAVE_ENDIAN = 1\n$FFT_REF_LEVEL = -150\n$FFT_SAMPLE_RATE = 32000\n$FFT_TYPE = 6\n"
       "$FFT_ACCUM = 63\n$FFT_WEIGHT = 21\n$FFT_LOG_MODE = 2\n$FFT_LOG_LENGTH = 20\n$LOG_START_TIME = -1\n"
       "$DUTY_RUN_TIME = 10\n$DUTY_CYCLE_TIME = 60\n$DUTY_IGNORE_TIME_CHANGE = 0\n$AUX_PIN = 33\n").encode()
put("fuzz_setup_file", "hf_140", bytes([0]) + cfg)
put("fuzz_setup_file", "af_210", bytes([7 | 2 << 4]) + cfg)
put("fuzz_settings_file", "Hylo.ini", head(os.path.join(work, "set", "Hylo.ini"), 20000))
# A binary .fft file: "FFT_", header length, a setup chunk (type 0) and a status chunk, then
# two records of 64 one-byte values.
setup = struct.pack("<IBBHHHHHHH", 64000, 0, 0, 0, 4, 0, 0xFFF6 & 0xFFFF, 64, 8, 2)
chunks = struct.pack("<II", 0, len(setup)) + setup + struct.pack("<II", 1, 4) + struct.pack("<hh", 215, 400)
put("fuzz_replay_fft", "two_records", b"FFT_" + struct.pack("<I", len(chunks)) + chunks + bytes(range(128)))
shutil.rmtree(work)
print("seeds written under", corpus)
