#!/usr/bin/python3
"""Endurance run: hylo-cli record from hylo-sim (HF, 512000 samples/s, 24-bit, UDP) for H hours
with a new WAV file every minute, then an accelerated day of signal through hylo-cli replay.

Samples the recorder's RSS, CPU seconds, open files and missed samples at a fixed interval
(a minute by default) into soak.csv, draws soak.png, checks every WAV file (sox --i and
libsndfile) and prints a verdict. Exit 0 when every check holds, 1 when one fails, 2 for bad
options. Closed files are checked while the run goes on and then removed (unless --keep), so
an hour at 1.5 MB/s needs only a few minutes of disk."""
import argparse
import csv
import json
import os
import random
import shutil
import socket
import subprocess
import sys
import time

import numpy as np
import soundfile

RATE = 512000
BITS = 24
DAY_RATE = 64000  # the accelerated day's signal rate: a day of it replays in minutes
DATA_PORT_OFFSETS = range(51676, 51682)
CLK_TCK = os.sysconf("SC_CLK_TCK")
FIELDS = ["phase", "wall_s", "signal_s", "rss_kb", "cpu_s", "fds", "waveform_records", "missed_samples",
          "missed_records", "unqueued", "files_checked"]


def log(text):
    print(f"soak: {text}", flush=True)


def free_command_port():
    rng = random.Random(os.getpid())

    def free(port, kind):
        with socket.socket(socket.AF_INET, kind) as s:
            try:
                s.bind(("127.0.0.1", port))
                return True
            except OSError:
                return False

    for _ in range(200):
        port = rng.randrange(20000, 45000)
        base = port - 50000
        if free(port, socket.SOCK_STREAM) and all(
                free(base + p, socket.SOCK_STREAM) and free(base + p, socket.SOCK_DGRAM) for p in DATA_PORT_OFFSETS):
            return port
    raise RuntimeError("no free loopback ports")


def proc_sample(pid):
    """(RSS kB, CPU seconds, open files) of a running process; None once it has gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        cpu = (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime, stime
        fds = len(os.listdir(f"/proc/{pid}/fd"))
        return rss, cpu, fds
    except (OSError, StopIteration, IndexError):
        return None


def read_status(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


def check_wav(path, rate):
    """Frames of a valid WAV file as sox and libsndfile both read it, or an error text."""
    sox = subprocess.run(["sox", "--i", "-s", path], capture_output=True, text=True, timeout=60)
    if sox.returncode != 0:
        return f"sox --i refuses it: {sox.stderr.strip()}"
    try:
        info = soundfile.info(path)
    except RuntimeError as e:
        return f"libsndfile refuses it: {e}"
    if int(sox.stdout.strip()) != info.frames:
        return f"sox reads {sox.stdout.strip()} samples, libsndfile {info.frames}"
    if info.samplerate != rate or info.subtype != f"PCM_{BITS}":
        return f"{info.samplerate} samples/s {info.subtype}, not {rate} PCM_{BITS}"
    if info.frames:
        tail, _ = soundfile.read(path, start=max(0, info.frames - 4096), dtype="int32")
        if not np.any(tail):
            return "the last samples are all zero"
    return info.frames


class FileChecker:
    """Checks each WAV file once it is closed (a newer one exists, or the run ended)."""

    def __init__(self, folder, rate, keep):
        self.folder, self.rate, self.keep = folder, rate, keep
        self.frames = {}  # name -> frames
        self.bad = {}  # name -> reason

    def poll(self, final=False):
        if not os.path.isdir(self.folder):
            return
        names = sorted(n for n in os.listdir(self.folder) if n.lower().endswith(".wav"))
        for name in names if final else names[:-1]:
            if name in self.frames or name in self.bad:
                continue
            path = os.path.join(self.folder, name)
            result = check_wav(path, self.rate)
            if isinstance(result, str):
                self.bad[name] = result
                log(f"{name}: {result}")
                continue
            self.frames[name] = result
            if not self.keep:
                os.remove(path)

    def count(self):
        return len(self.frames) + len(self.bad)


class Csv:
    def __init__(self, path):
        self.file = open(path, "w", newline="")
        self.writer = csv.DictWriter(self.file, FIELDS)
        self.writer.writeheader()
        self.rows = []

    def add(self, row):
        self.writer.writerow(row)
        self.file.flush()
        self.rows.append(row)


def ended(proc, deadline):
    """Waits for the process up to deadline (monotonic); True when it ended."""
    try:
        proc.wait(timeout=max(0.0, deadline - time.monotonic()))
        return True
    except subprocess.TimeoutExpired:
        return False


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def summary_of(text):
    try:
        return json.loads(text.strip().splitlines()[-1])
    except (ValueError, IndexError):
        return {}


def live(args, out, scratch, table, checks):
    seconds = args.hours * 3600
    wav_dir = os.path.join(scratch, "wav")
    status = os.path.join(scratch, "status.json")
    port = free_command_port()
    sim_bin = os.path.join(args.build, "sim", "hylo-sim")
    cli_bin = os.path.join(args.build, "cli", "hylo-cli")
    sim = subprocess.Popen([sim_bin, "--model", "hf", "--firmware", "v2.1.0", "--rate", str(args.rate), "--bits", str(BITS),
                            "--seed", "7", "--tone", "1000:-20", "--tone", "37000:-30", "--noise", "-60",
                            "--port", str(port), "--stream-limit", "0", "--seconds", str(int(seconds) + 300)],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        if not sim.stdout.readline().startswith("listening"):
            checks(False, "hylo-sim started")
            return
        with open(os.path.join(out, "record.stderr"), "w") as err:
            rec = subprocess.Popen([cli_bin, "record", "--host", "127.0.0.1", "--port", str(port), "--seconds",
                                    f"{seconds:.3f}", "--wave", "udp", "--fft", "udp", "--wav-dir", wav_dir,
                                    "--file-seconds", str(args.file_seconds), "--settings-dir",
                                    os.path.join(scratch, "settings"), "--status-file", status],
                                   stdout=subprocess.PIPE, stderr=err, text=True)
            files = FileChecker(wav_dir, args.rate, args.keep)
            start = time.monotonic()
            n = 0
            log(f"recording {seconds:.0f} s (hylo-cli PID {rec.pid}, hylo-sim PID {sim.pid}), a row every "
                f"{args.interval:g} s into {table.file.name}")
            while not ended(rec, start + (n + 1) * args.interval):
                n += 1
                sample = proc_sample(rec.pid)
                if sample is None:
                    continue
                s = read_status(status)
                files.poll()
                table.add({"phase": "live", "wall_s": round(time.monotonic() - start, 1),
                           "signal_s": round(s.get("elapsed", 0), 1), "rss_kb": sample[0], "cpu_s": sample[1],
                           "fds": sample[2], "waveform_records": s.get("waveformRecords", 0),
                           "missed_samples": s.get("missedSamples", 0), "missed_records": s.get("missedRecords", 0),
                           "unqueued": s.get("unqueued", 0), "files_checked": files.count()})
                r = table.rows[-1]
                log(f"{r['wall_s']:>8} s  RSS {r['rss_kb']} kB  CPU {r['cpu_s']:.1f} s  fds {r['fds']}  "
                    f"missed {r['missed_samples']} samples {r['missed_records']} records  "
                    f"unqueued {r['unqueued']}  files {r['files_checked']}")
            stdout = rec.stdout.read()
        files.poll(final=True)
    finally:
        stop(sim)

    summary = summary_of(stdout)
    with open(os.path.join(out, "record.json"), "w") as f:
        json.dump(summary, f)
    rows = table.rows_of("live")
    checks(rec.returncode == 0 and summary.get("clean") is True,
           f"the recording ended clean (exit {rec.returncode}, clean {summary.get('clean')})")
    checks(summary.get("missedSamples") == 0 and summary.get("missedRecords") == 0,
           f"missed samples {summary.get('missedSamples')}, missed records {summary.get('missedRecords')} "
           f"(dropped inside hylo-cli: {summary.get('unqueued')})")
    verdict_rows(checks, rows, "live")
    checks(not files.bad and files.frames, f"{len(files.frames)} WAV files valid (sox --i and libsndfile)"
           + "".join(f"; {k}: {v}" for k, v in files.bad.items()))
    wanted = summary.get("nextSample", 0) - summary.get("firstSample", 0)
    got = sum(files.frames.values())
    checks(got == wanted and got > 0, f"the files hold every sample that arrived ({got} of {wanted})")
    whole = args.file_seconds * args.rate
    middle = [v for _, v in sorted(files.frames.items())][1:-1]
    checks(all(v == whole for v in middle), f"every file but the first and last holds {args.file_seconds} s "
           f"({len(middle)} files, {sorted(set(middle))[:4]} frames)")


def verdict_rows(checks, rows, phase, settle=False):
    """settle: the baseline is taken a quarter into the run (at least the second sample), past
    the start-up where the replay builds its buffers; the recording's is minute one."""
    if len(rows) < 2 + settle:
        checks(False, f"{phase}: at least {2 + settle} samples taken ({len(rows)})")
        return
    first, last = rows[0], rows[-1]
    if settle:
        quarter = rows[-1]["wall_s"] / 4
        first = next(r for r in rows[1:] if r["wall_s"] >= quarter or r is rows[-2])
    drift = (last["rss_kb"] - first["rss_kb"]) / first["rss_kb"]
    checks(abs(drift) <= 0.05, f"{phase}: RSS at the end {last['rss_kb']} kB, at {first['wall_s']} s "
           f"{first['rss_kb']} kB ({100 * drift:+.1f} %)")
    fds = [r["fds"] for r in rows]
    checks(max(fds) - min(fds) <= 2 and last["fds"] <= first["fds"] + 1,
           f"{phase}: open files flat ({min(fds)}..{max(fds)}, first {first['fds']}, last {last['fds']})")


def day(args, out, scratch, table, checks):
    """A day of DAY_RATE signal: one minute-file given to one replay process 1440 times."""
    minute = os.path.join(scratch, "day", "minute.wav")
    os.makedirs(os.path.dirname(minute), exist_ok=True)
    t = np.arange(60 * DAY_RATE) / DAY_RATE
    rng = np.random.default_rng(11)
    x = 0.1 * np.sin(2 * np.pi * 1000 * t) + 0.001 * rng.standard_normal(t.size)
    soundfile.write(minute, x, DAY_RATE, subtype=f"PCM_{BITS}")
    count = int(args.day_hours * 60)
    cli_bin = os.path.join(args.build, "cli", "hylo-cli")
    # The summary names every input (a day is 1440 of them): to a file, not a pipe nobody
    # reads until the end, which would fill and stop the replay at its last write.
    summary_path = os.path.join(out, "replay.stdout")
    with open(os.path.join(out, "replay.stderr"), "w") as err, open(summary_path, "w") as summary_out:
        rep = subprocess.Popen([cli_bin, "replay", "--jobs", "1", "--no-progress", "--settings-dir",
                                os.path.join(scratch, "day", "settings"), *([minute] * count)],
                               stdout=summary_out, stderr=err, text=True)
        start = time.monotonic()
        n = 0
        log(f"replaying {count} minutes of {DAY_RATE} samples/s (PID {rep.pid}), a row every {args.day_interval:g} s")
        # Bounded: a replay that outlives a generous limit is stopped and fails the check.
        limit = start + max(600.0, count * 2.0)
        while not ended(rep, min(limit, start + (n + 1) * args.day_interval)):
            n += 1
            if time.monotonic() >= limit:
                stop(rep)
                break
            sample = proc_sample(rep.pid)
            if sample is None:
                continue
            table.add({"phase": "replay", "wall_s": round(time.monotonic() - start, 1), "signal_s": "",
                       "rss_kb": sample[0], "cpu_s": sample[1], "fds": sample[2], "waveform_records": "",
                       "missed_samples": "", "missed_records": "", "unqueued": "", "files_checked": ""})
    with open(summary_path) as f:
        stdout = f.read()
    summary = summary_of(stdout)
    summary.pop("files", None)
    with open(os.path.join(out, "replay.json"), "w") as f:
        json.dump(summary, f)
    data = summary.get("dataSeconds", 0)
    checks(rep.returncode == 0 and abs(data - count * 60) < 1,
           f"replay: exit {rep.returncode}, {data} s of signal of {count * 60} in {summary.get('seconds')} s")
    checks(summary.get("missedSamples") == 0 and not summary.get("refused"),
           f"replay: missed samples {summary.get('missedSamples')}, refused {len(summary.get('refused') or [])}")
    verdict_rows(checks, table.rows_of("replay"), "replay", settle=True)


def plot(table, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    phases = [p for p in ("live", "replay") if table.rows_of(p)]
    fig, axes = plt.subplots(len(phases), 3, figsize=(13, 3.6 * len(phases)), squeeze=False)
    for row, phase in zip(axes, phases):
        rows = table.rows_of(phase)
        minutes = np.array([r["wall_s"] for r in rows]) / 60
        cpu = np.array([r["cpu_s"] for r in rows])
        wall = np.array([r["wall_s"] for r in rows])
        cpu_share = np.diff(cpu, prepend=0) / np.diff(wall, prepend=0).clip(min=1e-9) * 100
        title = f"recording {table.rate} S/s {BITS}-bit" if phase == "live" else "accelerated day (replay)"
        row[0].plot(minutes, [r["rss_kb"] / 1024 for r in rows], marker=".")
        row[0].set(title=f"{title}: RSS", xlabel="minutes (wall time)", ylabel="MiB")
        row[1].plot(minutes, cpu_share, marker=".", color="tab:orange")
        row[1].set(title="CPU (% of one core, per interval)", xlabel="minutes", ylabel="%")
        row[2].plot(minutes, [r["fds"] for r in rows], marker=".", color="tab:green", label="open files")
        if phase == "live":
            row[2].plot(minutes, [r["missed_samples"] for r in rows], marker=".", color="tab:red",
                        label="missed samples")
        row[2].set(title="open files, missed samples", xlabel="minutes")
        row[2].legend()
        for ax in row:
            ax.grid(alpha=0.3)
            ax.set_ylim(0, max(1.0, ax.get_ylim()[1] * 1.1))
    fig.tight_layout()
    fig.savefig(path, dpi=90)


class Table(Csv):
    def rows_of(self, phase):
        return [r for r in self.rows if r["phase"] == phase]


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--build", required=True, help="build folder holding sim/hylo-sim and cli/hylo-cli")
    p.add_argument("--hours", type=float, required=True, help="recording time (may be fractional, e.g. 0.05)")
    p.add_argument("--out", help="folder for soak.csv, soak.png and the logs (default BUILD/soak)")
    p.add_argument("--interval", type=float, help="seconds between samples (default 60, less for short runs)")
    p.add_argument("--rate", type=int, default=RATE, help=f"samples/s of the recording (default {RATE})")
    p.add_argument("--file-seconds", type=int, default=60, help="seconds per WAV file (default 60)")
    p.add_argument("--day-hours", type=float, default=24, help="hours of signal in the accelerated day (0: none)")
    p.add_argument("--day-interval", type=float, default=5, help="seconds between samples of the replay")
    p.add_argument("--keep", action="store_true", help="keep the scratch folder and its WAV files")
    args = p.parse_args()
    if args.hours <= 0 or args.hours > 24 * 14 or args.file_seconds < 1 or args.day_hours < 0:
        p.error("--hours takes (0, 336], --file-seconds at least 1, --day-hours at least 0")
    if args.interval is None:
        args.interval = min(60.0, max(5.0, args.hours * 3600 / 12))
    out = os.path.abspath(args.out or os.path.join(args.build, "soak"))
    scratch = os.path.join(out, "scratch")  # beside the results: the real disk, not a tmpfs
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    log(f"results in {out}; UDP receive buffer limit net.core.rmem_max "
        f"{open('/proc/sys/net/core/rmem_max').read().strip()} bytes")

    failures = []

    def checks(ok, what):
        log(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failures.append(what)

    table = Table(os.path.join(out, "soak.csv"))
    table.rate = args.rate
    try:
        live(args, out, scratch, table, checks)
        if args.day_hours > 0:
            day(args, out, scratch, table, checks)
        plot(table, os.path.join(out, "soak.png"))
        log(f"plot {os.path.join(out, 'soak.png')}")
    finally:
        table.file.close()
        if not args.keep:
            shutil.rmtree(scratch, ignore_errors=True)
    log("PASS" if not failures else f"FAIL: {len(failures)} check(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
