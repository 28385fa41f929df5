"""Two hylo-cli recorders writing into the same folder: every create collides, no file is
replaced, every WAV file stays readable and holds what was written. (Full disks, kills and the
other faults are rows of test_fault_matrix.py.)"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import Checks, Sim, find_in, readable, scratch, wav_counts  # noqa: E402

WIDTH = 3


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
    for name, run in (("shared", lambda: shared_folder(check, build)),):
        if not only or name in only:
            run()
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
