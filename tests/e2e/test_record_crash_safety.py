"""hylo-cli record against a full disk, a SIGKILL at a random moment, and a second recorder
writing into the same folder: every WAV file stays readable and holds what was written."""
import os
import random
import resource
import signal
import subprocess
import sys
import time
import wave

import numpy as np
import soundfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import Checks, Sim, find_in, record, scratch, wav_counts  # noqa: E402

RATE = 64000
WIDTH = 3
SIM = ["--model", "hf", "--firmware", "v2.1.0", "--rate", str(RATE), "--bits", "24", "--tone", "1000:-20"]
LIMIT = 1 << 20  # bytes a file may reach: the "disk" fills mid-recording


def readable(check, path, what):
    """Frames as Python's wave module and libsndfile see them; None when either refuses."""
    try:
        with wave.open(path, "rb") as w:
            frames = w.getnframes()
            w.readframes(frames)
        info = soundfile.info(path)
        if info.frames != frames:
            raise RuntimeError(f"libsndfile reads {info.frames} frames, wave {frames}")
        return frames
    except (wave.Error, EOFError, RuntimeError, OSError) as e:
        check(False, f"{what}: {os.path.basename(path)} unreadable: {e}")
        return None


def the_signal(check, sim, counts, what):
    expected = sim.samples(len(counts) + 5 * RATE)
    at = find_in(expected, counts)
    check(at >= 0 and at % RATE == 0 and np.array_equal(expected[at:at + len(counts)], counts),
          f"{what}: the samples are the simulator's, from a whole second on (sample {at})")


def full_disk(check, build):
    with Sim(build, [*SIM, "--seed", "5"]) as sim, scratch() as tmp:
        wav_dir, settings = os.path.join(tmp, "wav"), os.path.join(tmp, "settings")

        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (LIMIT, LIMIT))

        cli = os.path.join(build, "cli", "hylo-cli")
        proc = subprocess.run([cli, "record", *sim.link_args(), "--seconds", "15", "--wave", "udp", "--fft", "off",
                               "--wav-dir", wav_dir, "--settings-dir", settings], capture_output=True, text=True,
                              timeout=120, preexec_fn=limit)
        err = proc.stderr
        check(proc.returncode not in (0, -signal.SIGXFSZ), f"full disk: non-zero exit, not a signal ({proc.returncode})")
        summary = proc.stdout.strip().splitlines()[-1] if proc.stdout.strip() else "{}"
        check('"clean":false' in summary.replace(" ", ""), f"full disk: the summary says not clean: {summary}")
        check("ERROR: Could not write Log File" in err and "File too large" in err,
              f"full disk: the operator is told: {err.strip()[-400:]}")
        with open(os.path.join(settings, "JobStatusFile.txt"), encoding="latin-1") as f:
            status = f.read()
        check("Could not write Log File" in status, "full disk: the failure is in the job status file")
        files = sorted(os.listdir(wav_dir)) if os.path.isdir(wav_dir) else []
        check(files == ["Data_00001.wav"], f"full disk: one file, no further ones opened: {files}")
        for name in files:
            path = os.path.join(wav_dir, name)
            frames = readable(check, path, "full disk")
            if frames is None:
                continue
            size = os.path.getsize(path)
            whole = (LIMIT - 344) // WIDTH
            check(size == 344 + frames * WIDTH, f"full disk: the header announces all {frames} samples in the file")
            check(frames == whole, f"full disk: every whole sample up to the limit was kept ({frames} of {whole})")
            the_signal(check, sim, wav_counts(path)[2], "full disk")


def killed(check, build, runs=10):
    rng = random.Random(os.getpid())
    for run in range(runs):
        with Sim(build, [*SIM, "--seed", "9"]) as sim, scratch() as tmp:
            wav_dir = os.path.join(tmp, "wav")
            cli = os.path.join(build, "cli", "hylo-cli")
            proc = subprocess.Popen([cli, "record", *sim.link_args(), "--seconds", "60", "--wave", "udp", "--fft",
                                     "off", "--wav-dir", wav_dir, "--settings-dir", os.path.join(tmp, "settings")],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            moment = rng.uniform(1.0, 5.0)
            time.sleep(moment)
            os.kill(proc.pid, signal.SIGKILL)
            proc.wait(timeout=10)
            what = f"SIGKILL {run + 1} at {moment:.1f} s"
            files = sorted(os.listdir(wav_dir)) if os.path.isdir(wav_dir) else []
            for name in files:
                path = os.path.join(wav_dir, name)
                frames = readable(check, path, what)
                if frames is None:
                    continue
                on_disk = (os.path.getsize(path) - 344) // WIDTH
                check(on_disk - RATE <= frames <= on_disk,
                      f"{what}: {name} reads {frames} of the {on_disk} samples on disk (at most a second short)")
                if frames:
                    the_signal(check, sim, wav_counts(path)[2], what)
            check(len(files) <= 1, f"{what}: at most one file: {files}")


def shared_folder(check, build, seconds=60, file_seconds=5):
    # Two recorders with their own settings both start at Data_00001.wav in one folder: every
    # create collides with a name the other one has just taken.
    rate = 16000
    scenes = [["--rate", str(rate), "--seed", "21", "--tone", "700:-20"],
              ["--rate", str(rate), "--seed", "22", "--tone", "1300:-20"]]
    base = ["--model", "hf", "--firmware", "v2.1.0", "--bits", "24"]
    with Sim(build, base + scenes[0]) as a, Sim(build, base + scenes[1]) as b, scratch() as tmp:
        wav_dir = os.path.join(tmp, "wav")
        cli = os.path.join(build, "cli", "hylo-cli")
        procs = [subprocess.Popen([cli, "record", *sim.link_args(), "--seconds", str(seconds), "--wave", "udp",
                                   "--fft", "off", "--wav-dir", wav_dir, "--file-seconds", str(file_seconds),
                                   "--settings-dir", os.path.join(tmp, f"settings{k}")],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                 for k, sim in enumerate((a, b))]
        for k, p in enumerate(procs):
            out, err = p.communicate(timeout=seconds + 60)
            check(p.returncode == 0 and '"clean":true' in out.replace(" ", ""),
                  f"shared folder: recorder {k + 1} ran to the end (exit {p.returncode}; {err.strip()[-300:]})")
        names = sorted(os.listdir(wav_dir))
        signals = [sim.samples((seconds + 10) * rate) for sim in (a, b)]
        owned = [[], []]
        for name in names:
            path = os.path.join(wav_dir, name)
            frames = readable(check, path, "shared folder")
            if frames is None:
                continue
            check(os.path.getsize(path) == 344 + frames * WIDTH, f"shared folder: {name} header matches its size")
            counts = wav_counts(path)[2]
            where = [find_in(s, counts) for s in signals]
            owner = [k for k in (0, 1) if where[k] >= 0]
            check(len(owner) == 1, f"shared folder: {name} is one recorder's signal ({where})")
            if len(owner) == 1:
                owned[owner[0]].append((name, where[owner[0]], counts))
        for k in (0, 1):
            pieces = owned[k]
            check(len(pieces) >= seconds // file_seconds - 2, f"shared folder: recorder {k + 1} rolled over into "
                  f"{len(pieces)} files")
            # In name order the files follow one another without a gap or an overlap.
            joined = [p[1] + len(p[2]) == q[1] for p, q in zip(pieces, pieces[1:])]
            check(all(joined), f"shared folder: recorder {k + 1}'s files are contiguous: {joined}")
        check(len(owned[0]) + len(owned[1]) == len(names), f"shared folder: {len(names)} files, all intact")


def main():
    build = sys.argv[1]
    check = Checks()
    only = sys.argv[2:]
    for name, run in (("full", lambda: full_disk(check, build)), ("kill", lambda: killed(check, build)),
                      ("shared", lambda: shared_folder(check, build))):
        if not only or name in only:
            run()
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
