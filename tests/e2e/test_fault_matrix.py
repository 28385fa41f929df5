"""hylo-cli record against hylo-sim when things go wrong, one row per fault: what the operator
sees (exit code, messages, summary), that every sample that arrived is in the WAV file at its
place (gaps only where the simulator's fault log says), and that every file left is readable."""
import json
import os
import random
import resource
import signal
import subprocess
import sys
import time
from dataclasses import dataclass, field

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import Checks, Sim, readable, scratch, wav_counts  # noqa: E402

RATE = 64000
WIDTH = 3
SCENE = ["--firmware", "v2.1.0", "--rate", str(RATE), "--bits", "24", "--seed", "3", "--tone", "1000:-20"]
HF = ["--model", "hf", *SCENE]
LF = ["--model", "lf", "--rate", "8000", "--seed", "3", "--tone", "500:-20"]
UDP = ["--wave", "udp", "--fft", "off"]
FULL_DISK = 1 << 20  # bytes a file may reach


@dataclass
class Row:
    name: str
    sim: list
    cli: list = field(default_factory=lambda: list(UDP))
    seconds: float = 3
    exit: object = 0  # an int, or "failure" for any non-zero exit that is not a signal
    says: tuple = ()  # texts the operator must see on stderr
    clean: object = True  # the summary's "clean", or None when no summary is expected
    missed: str = "none"  # "none", "logged" (exactly the lost/corrupt samples logged), "some"
    files: tuple = (1, 1)  # how many WAV files may be left
    signal_at: tuple = None  # (signal, seconds) sent to hylo-cli mid-run
    pty: bool = False
    rlimit: int = 0
    folder_blocked: bool = False
    job_status: str = ""  # a text the job status file must hold
    min_seconds: float = 0.5  # the file holds at least this much
    kinds: tuple = ()  # faults the simulator's log must show it did


ROWS = [
    Row("lost datagrams", [*HF, "--drop-udp", "0.05"], missed="logged", kinds=("lost",)),
    Row("reordered and repeated datagrams", [*HF, "--reorder-udp", "0.03", "--duplicate-udp", "0.03"],
        kinds=("reordered", "duplicated")),
    Row("corrupt UDP messages", [*HF, "--corrupt-stream", "0.02"], ["--wave", "udp", "--fft", "udp"],
        missed="logged", kinds=("corrupt",)),
    Row("corrupt TCP messages", [*HF, "--corrupt-stream", "0.02"], ["--wave", "tcp", "--fft", "tcp"],
        # A damaged length on a byte stream may still bring its own samples; the messages behind
        # it are found again inside it.
        missed="some", kinds=("corrupt",)),
    Row("command link dropped", [*HF, "--close-link-after", "1"], seconds=4, job_status="Ethernet reconnected"),
    Row("reboot mid-scan", [*HF, "--reboot-after", "1.5", "--reboot-delay", "1"], seconds=4, exit=1, clean=False,
        # The stream's own stop notice races the host's reaction to the lost link: either may
        # come first, so only the link's message is the operator's sure sign.
        says=("Ethernet connection lost.", "scanning stopped before the end of the run")),
    Row("stream stops", [*HF, "--stop-streams-after", "1.5"], ["--wave", "tcp", "--fft", "off"],
        says=("Wave Stream Connection Stopped",)),
    Row("pty vanishes", [*LF, "--close-link-after", "3"], ["--wave", "link", "--fft", "off"], seconds=5, exit=1,
        clean=False, pty=True, says=("Serial Comms lost. Please reconnect.",
                                     "scanning stopped before the end of the run")),
    Row("full disk", HF, seconds=15, exit="failure", clean=False, rlimit=FULL_DISK,
        says=("ERROR: Could not write Log File", "File too large", "WAV logging stopped"),
        job_status="Could not write Log File"),
    Row("unwritable folder", HF, exit="failure", clean=None, folder_blocked=True, files=(0, 0),
        says=("ERROR: Could not open Log File.\nPlease verify wav logging path and try again.",)),
    Row("Ctrl-C", HF, seconds=60, signal_at=(signal.SIGINT, 2.5), clean=True),
    Row("SIGTERM", HF, seconds=60, signal_at=(signal.SIGTERM, 2.5), clean=True),
    *[Row(f"SIGKILL {k + 1}", HF, seconds=60, exit=-signal.SIGKILL, clean=None, files=(0, 1), min_seconds=0,
          signal_at=(signal.SIGKILL, random.Random(os.getpid() + k).uniform(1.0, 4.0))) for k in range(3)],
]


def faults(path):
    """The simulator's fault log: (stream, what, first, count) per damaged data message."""
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [(s, w, int(a), int(n)) for s, w, a, n in (line.split() for line in f if line.strip())]


def place(scene, counts, rate, may_gap):
    """The whole second of the scene the file starts at, when every sample is the scene's or, only
    where `may_gap` allows, silence; None otherwise."""
    for k in range(len(scene) // rate):
        at = k * rate
        want = scene[at:at + len(counts)]
        if len(want) < len(counts):
            break
        same = want == counts
        if np.all(same | (may_gap[at:at + len(counts)] & (counts == 0))):
            return at
    return None


def run_row(check, build, row, tmp):
    wav_dir, settings, log = os.path.join(tmp, "wav"), os.path.join(tmp, "settings"), os.path.join(tmp, "faults")
    if row.folder_blocked:
        blocker = os.path.join(tmp, "not-a-folder")
        with open(blocker, "w") as f:
            f.write("a file where the folder should be\n")
        wav_dir = os.path.join(blocker, "wav")
    sim_args = [*row.sim, "--drop-log", log] if not row.pty else list(row.sim)
    with Sim(build, sim_args, pty=row.pty) as sim:
        cli = os.path.join(build, "cli", "hylo-cli")
        limit = (lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (row.rlimit, row.rlimit))) if row.rlimit else None
        proc = subprocess.Popen([cli, "record", *sim.link_args(), "--seconds", str(row.seconds), *row.cli,
                                 "--wav-dir", wav_dir, "--settings-dir", settings], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, preexec_fn=limit)
        if row.signal_at:
            time.sleep(row.signal_at[1])
            proc.send_signal(row.signal_at[0])
        try:
            out, err = proc.communicate(timeout=row.seconds + 60)
        except subprocess.TimeoutExpired:
            proc.kill()
            out, err = proc.communicate()
    what, rate = row.name, (8000 if row.pty else RATE)
    summary = json.loads(out.strip().splitlines()[-1]) if out.strip() else {}

    # What the operator sees.
    if row.exit == "failure":
        check(proc.returncode > 0, f"{what}: a failure exit, not a signal ({proc.returncode})")
    else:
        check(proc.returncode == row.exit, f"{what}: exit {row.exit} (got {proc.returncode}; {err.strip()[-300:]})")
    for text in row.says:
        check(text in err, f"{what}: the operator is told {text!r}")
    if row.clean is not None:
        check(summary.get("clean") is row.clean, f"{what}: the summary says clean {row.clean}: {summary}")
    if row.signal_at and row.signal_at[0] != signal.SIGKILL:
        check(summary.get("interrupted") is True, f"{what}: the summary says it was interrupted")
    if row.job_status:
        with open(os.path.join(settings, "JobStatusFile.txt"), encoding="latin-1") as f:
            check(row.job_status in f.read(), f"{what}: the job status file holds {row.job_status!r}")

    # Every file left behind is readable and holds the scene at its place.
    names = sorted(os.listdir(wav_dir)) if os.path.isdir(wav_dir) else []
    check(row.files[0] <= len(names) <= row.files[1], f"{what}: {len(names)} WAV file(s) left: {names}")
    if row.folder_blocked:
        check(sorted(os.listdir(tmp)) == ["not-a-folder", "settings"], f"{what}: nothing half-written")
    if summary:
        check(sorted(summary.get("files", [])) == [os.path.join(wav_dir, n) for n in names],
              f"{what}: the summary lists the files left")
    logged = faults(log)
    for kind in row.kinds:
        done = sum(1 for s, w, a, n in logged if w == kind)
        check(done > 0, f"{what}: the simulator logged {done} {kind} messages")
    wave_faults = [(a, n) for s, w, a, n in logged if s == "wave" and w in ("lost", "corrupt")]
    longest = max([wav_counts(os.path.join(wav_dir, n))[2].size for n in names] + [0])
    scene = Sim(build, row.sim).samples(longest + 5 * rate)
    may_gap = np.zeros(len(scene), dtype=bool)
    for a, n in wave_faults:
        may_gap[a:a + n] = True
    zeros_in_files = 0
    for name in names:
        path = os.path.join(wav_dir, name)
        frames = readable(check, path, what)
        if frames is None:
            continue
        counts = wav_counts(path)[2]
        check(frames >= row.min_seconds * rate, f"{what}: {name} holds {frames / rate:.2f} s")
        if row.rlimit:
            whole = (row.rlimit - 344) // WIDTH
            check(frames == whole and os.path.getsize(path) == 344 + whole * WIDTH,
                  f"{what}: every whole sample up to the limit was kept ({frames} of {whole})")
        if frames:
            at = place(scene, counts, rate, may_gap)
            check(at is not None, f"{what}: {name} is the scene from a whole second, silent only where the "
                  f"fault log allows ({len(wave_faults)} damaged messages)")
            if at is not None:
                gap = may_gap[at:at + len(counts)] & (counts == 0) & (scene[at:at + len(counts)] != 0)
                zeros_in_files += int(gap.sum())

    # Missed samples are exactly what was lost on the way.
    missed = summary.get("missedSamples")
    first, end = summary.get("firstSample", 0), summary.get("nextSample", 0)
    inside = sum(n for a, n in wave_faults if a >= first and a + n <= end)
    if row.missed == "none" and summary:
        check(missed == 0, f"{what}: no samples missed ({missed})")
    elif row.missed == "logged":
        check(inside > 0 and missed == inside, f"{what}: missed {missed} = {inside} samples the simulator lost or "
              f"damaged in the run")
        check(zeros_in_files <= missed, f"{what}: the {zeros_in_files} silent samples in the file were missed")
    elif row.missed == "some":
        check(missed is not None and zeros_in_files <= missed <= inside,
              f"{what}: missed {missed} covers the {zeros_in_files} silent samples of damaged messages and is "
              f"no more than the {inside} samples they held")
    fft_damaged = [a for s, w, a, n in logged if s == "fft"]
    if len(fft_damaged) > 1:
        check(summary.get("missedRecords", 0) > 0, f"{what}: damaged spectra are counted missed "
              f"({summary.get('missedRecords')} for {len(fft_damaged)})")


def main():
    build = sys.argv[1]
    check = Checks()
    only = sys.argv[2:]
    for row in (r for r in ROWS if not only or any(o in r.name for o in only)):
        with scratch() as tmp:
            t = time.monotonic()
            run_row(check, build, row, tmp)
            print(f"---- {row.name}: {time.monotonic() - t:.1f} s", flush=True)
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
