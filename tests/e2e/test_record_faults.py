"""hylo-cli record when things go wrong: lost datagrams, a dropped command link, a folder
that cannot be written."""
import json
import os
import signal
import subprocess
import sys
import time

import numpy as np
import soundfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import Checks, Sim, record, scratch, wav_counts  # noqa: E402

RATE = 64000
SIM = ["--model", "hf", "--firmware", "v2.1.0", "--rate", str(RATE), "--bits", "24", "--seed", "3", "--tone", "1000:-20"]


def valid_wav(check, path, what):
    try:
        info = soundfile.info(path)
        _, width, counts = wav_counts(path)
        data = os.path.getsize(path) - 344
        check(info.frames == len(counts) and data == len(counts) * width,
              f"{what}: {os.path.basename(path)} is a valid WAV file ({len(counts)} samples)")
    except (RuntimeError, EOFError, OSError) as e:
        check(False, f"{what}: {path} unreadable: {e}")


def lost_datagrams(check, build):
    with scratch() as tmp:
        drops = os.path.join(tmp, "drops.txt")
        with Sim(build, [*SIM, "--drop-udp", "0.05", "--drop-log", drops]) as sim:
            code, summary, err = record(build, sim.link_args(), "--seconds", "4", "--wave", "udp", "--fft", "off",
                                        "--wav-dir", os.path.join(tmp, "wav"), "--settings-dir",
                                        os.path.join(tmp, "settings"))
        check(code == 0, f"5% lost: exit 0 (got {code}; {err.strip()[-300:]})")
        first, end = summary.get("firstSample", 0), summary.get("nextSample", 0)
        lost = np.loadtxt(drops, dtype=np.int64, ndmin=2) if os.path.exists(drops) else np.zeros((0, 2), np.int64)
        inside = sum(int(n) for s, n in lost if s >= first and s + n <= end)
        check(summary.get("missedSamples", 0) > 0, f"5% lost: missed samples reported: {summary.get('missedSamples')}")
        check(summary.get("missedSamples") == inside,
              f"5% lost: missed {summary.get('missedSamples')} = {inside} samples the simulator dropped in the run")
        for f in summary.get("files", []):
            valid_wav(check, f, "5% lost")
        check(len(summary.get("files", [])) == 1, "5% lost: a WAV file was written")
        if summary.get("files"):
            # What was lost is silence at its own place; everything else is the simulator's signal.
            _, _, counts = wav_counts(summary["files"][0])
            expected = Sim(build, SIM).samples(len(counts) + 40 * RATE)
            for s, n in lost:
                expected[s:s + n] = 0
            seconds = [k for k in range(40) if np.array_equal(expected[k * RATE:k * RATE + len(counts)], counts)]
            check(len(seconds) == 1, f"5% lost: the file is the signal from second {seconds} with the losses silent")


def dropped_link(check, build):
    with Sim(build, [*SIM, "--close-link-after", "2"]) as sim, scratch() as tmp:
        settings = os.path.join(tmp, "settings")
        code, summary, err = record(build, sim.link_args(), "--seconds", "6", "--wave", "udp", "--fft", "off",
                                    "--wav-dir", os.path.join(tmp, "wav"), "--settings-dir", settings)
        check(code == 0, f"dropped link: exit 0 (got {code}; {err.strip()[-300:]})")
        with open(os.path.join(settings, "JobStatusFile.txt"), encoding="latin-1") as f:
            status = f.read()
        check("Ethernet reconnected" in status, "dropped link: the link reconnected (job status file)")
        check(summary.get("waveformRecords", 0) > 0 and summary.get("missedSamples") == 0,
              f"dropped link: the data streams went on: {summary}")
        for f in summary.get("files", []):
            valid_wav(check, f, "dropped link")
        check(len(summary.get("files", [])) == 1, "dropped link: the WAV file was kept")


def unwritable_folder(check, build):
    with Sim(build, SIM) as sim, scratch() as tmp:
        blocker = os.path.join(tmp, "not-a-folder")
        with open(blocker, "w") as f:
            f.write("a file where the folder should be\n")
        wav_dir = os.path.join(blocker, "wav")
        code, summary, err = record(build, sim.link_args(), "--seconds", "4", "--wave", "udp", "--fft", "off",
                                    "--wav-dir", wav_dir, "--settings-dir", os.path.join(tmp, "settings"))
        check(code != 0, f"unwritable folder: non-zero exit (got {code})")
        check("ERROR: Could not open Log File.\nPlease verify wav logging path and try again." in err,
              f"unwritable folder: the open failure is told: {err.strip()[-300:]}")
        check(summary.get("files") == [], f"unwritable folder: nothing written: {summary.get('files')}")
        check(sorted(os.listdir(tmp)) == ["not-a-folder", "settings"], f"nothing half-written: {os.listdir(tmp)}")


def interrupted(check, build):
    # Ctrl-C during a run: the normal stop, files closed with their true sizes.
    with Sim(build, SIM) as sim, scratch() as tmp:
        cli = os.path.join(build, "cli", "hylo-cli")
        proc = subprocess.Popen([cli, "record", *sim.link_args(), "--seconds", "60", "--wave", "udp", "--fft", "off",
                                 "--wav-dir", os.path.join(tmp, "wav"), "--settings-dir", os.path.join(tmp, "settings")],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        time.sleep(4)
        proc.send_signal(signal.SIGINT)
        try:
            out, err = proc.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            out, err = proc.communicate()
        check(proc.returncode == 0, f"Ctrl-C: a clean stop (exit {proc.returncode}; {err.strip()[-300:]})")
        summary = json.loads(out.strip().splitlines()[-1]) if out.strip() else {}
        check(summary.get("interrupted") is True, f"Ctrl-C: the summary says it was interrupted: {summary}")
        files = summary.get("files", [])
        check(len(files) == 1, f"Ctrl-C: one WAV file: {files}")
        for f in files:
            valid_wav(check, f, "Ctrl-C")
            info = soundfile.info(f)
            check(1 <= info.duration <= 5, f"Ctrl-C: the file holds the seconds recorded ({info.duration:.0f} s)")


def main():
    build = sys.argv[1]
    check = Checks()
    only = sys.argv[2:]
    for name, run in (("lost", lambda: lost_datagrams(check, build)), ("link", lambda: dropped_link(check, build)),
                      ("folder", lambda: unwritable_folder(check, build)),
                      ("interrupt", lambda: interrupted(check, build))):
        if not only or name in only:
            run()
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
