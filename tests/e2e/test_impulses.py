# hylo-sim sends 10 impulses of known shape at known times; hylo-cli record --impulse-dir writes
# one impulse log line per impulse at its second, with levels within 0.5 dB of the scene's own
# (measured from the ideal shapes in volts); replaying the recorded WAV gives the same lines.
import datetime
import os
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import Checks, Sim, record, replay, scratch  # noqa: E402

RATE = 64000
COUNT = 10
DBFS = -6
FULL_SCALE_VOLTS = 2.5  # the simulator's range is ±2.5 V
SENSITIVITY = -171
TOOLS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools")


def ideal(k):
    # Impulse k of the scene in volts, with room around it as the candidate stage cuts it.
    a = 10 ** (DBFS / 20) * FULL_SCALE_VOLTS
    hz = min(2000, RATE / 8)
    if k % 2 == 0:
        n = int(round(0.02 * RATE))
        t = np.arange(n) / RATE
        x = a * (0.5 - 0.5 * np.cos(2 * np.pi * np.arange(n) / (n - 1))) * np.sin(2 * np.pi * hz * t)
    else:
        n = int(round(0.04 * RATE))
        t = np.arange(n) / RATE
        x = a * np.exp(-t / 0.005) * np.sin(2 * np.pi * hz * t)
    return np.concatenate([np.zeros(640), x, np.zeros(4000)])


def expected_levels(k, tmp):
    path = os.path.join(tmp, "ideal.f64")
    ideal(k).astype("<f8").tofile(path)
    out = subprocess.run(["/usr/bin/python3", os.path.join(TOOLS, "impulse_reference.py"), path, str(RATE),
                          str(SENSITIVITY)], capture_output=True, text=True, check=True).stdout.split()
    return [float(v) for v in out[:3]]  # SEL, SPL, peak


def log_lines(folder):
    rows = []
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        lines = open(os.path.join(folder, name), newline="").read().split("\r\n")
        start = next((i for i, line in enumerate(lines) if line.startswith("Time\tComment\tSEL")), None)
        if start is None:
            continue
        rows += [line.split("\t") for line in lines[start + 1:] if line]
    return rows


def main(build):
    check = Checks()
    scene = ["--seed", "3", "--noise", "-70", "--impulses", f"1:{DBFS}:{COUNT}"]
    with Sim(build, ["--model", "hf", "--firmware", "v2.1.0", "--rate", str(RATE), "--bits", "24", *scene]) as sim, \
            scratch() as tmp:
        impulses, wavs = os.path.join(tmp, "impulses"), os.path.join(tmp, "wav")
        code, summary, err = record(build, sim.link_args(), "--seconds", "13", "--wave", "udp", "--fft", "off",
                                    "--impulse-dir", impulses, "--wav-dir", wavs,
                                    "--settings-dir", os.path.join(tmp, "settings"))
        check(code == 0, f"record exits 0 (got {code}; {err.strip()[-300:]})")
        check(summary.get("impulses") == COUNT, f"{COUNT} impulses counted: {summary.get('impulses')}")
        rows = log_lines(impulses)
        check(len(rows) == COUNT, f"{COUNT} impulse log lines: {len(rows)}")
        if len(rows) != COUNT or "firstTime" not in summary:
            return check.failures
        t0 = summary["firstTime"] - summary["firstSample"] // RATE
        for k, row in enumerate(rows):
            when = datetime.datetime.fromtimestamp(t0 + k, datetime.timezone.utc).strftime("%H:%M:%S")
            start = (2 * k + 1) * RATE // 2
            sequence = int(row[8])
            check(row[0] == when, f"impulse {k + 1} in its second: {row[0]} (expected {when})")
            check(row[7] == str(k + 1), f"impulse number {row[7]}")
            check(0 <= start - sequence <= 640, f"impulse {k + 1} cut from just before its start: "
                                                f"sequence {sequence}, impulse at {start}")
            sel, spl, pk = expected_levels(k, tmp)
            got = [float(row[i]) for i in (2, 4, 5)]
            check(all(abs(g - e) <= 0.5 for g, e in zip(got, (sel, spl, pk))),
                  f"impulse {k + 1} SEL/SPL/peak {got} against {[round(v, 2) for v in (sel, spl, pk)]}")
            cumulative = 10 * np.log10(sum(10 ** (float(r[2]) / 10) for r in rows[:k + 1]))
            check(abs(float(row[3]) - cumulative) <= 0.11, f"cumulative SEL {row[3]} ({cumulative:.2f})")
            check(len(row) >= 9 + 30 and all(v for v in row[9:39]), "30 band levels")

        recorded = sorted(os.path.join(wavs, f) for f in os.listdir(wavs)) if os.path.isdir(wavs) else []
        again = os.path.join(tmp, "again")
        code, replayed, err = replay(build, "--impulse-dir", again, "--jobs", "1", *recorded)
        check(code == 0, f"replay exits 0 (got {code}; {err.strip()[-300:]})")
        check(replayed.get("impulses") == COUNT, f"the replay counts {COUNT} impulses: {replayed.get('impulses')}")
        rows_again = log_lines(again)
        check(len(rows_again) == COUNT, f"{COUNT} lines from the replay: {len(rows_again)}")
        for live, back in zip(rows, rows_again):
            # Time, numbers, sequence and duration the same; levels within rounding of the
            # recorded samples' scale.
            same = live[0] == back[0] and live[6:9] == back[6:9]
            close = all(abs(float(a) - float(b)) <= 0.11 for a, b in zip(live[2:6] + live[9:39], back[2:6] + back[9:39]))
            check(same and close, f"replayed line matches: {back[:9]} vs {live[:9]}")
    return check.failures


if __name__ == "__main__":
    sys.exit(1 if main(sys.argv[1]) else 0)
