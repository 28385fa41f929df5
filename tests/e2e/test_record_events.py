"""hylo-sim switches a tone on for 3 s; hylo-cli record with a host band trigger writes one
event line with the second the tone began, and a clip that is the simulator's own signal
around the firing record, with the chosen lead and tail."""
import datetime
import os
import re
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import Checks, Sim, record, replay, scratch, wav_counts  # noqa: E402

RATE = 64000
TONE_START, TONE_SECONDS = 3, 3
PRE, POST = 2, 4
SCENE = ["--seed", "7", "--tone-burst", f"1000:-20:{TONE_START}:{TONE_SECONDS}", "--noise", "-70"]
TRIGGER = "".join(f"$T1_{k}={v}\n" for k, v in [("TYPE", 5), ("ACTIVE", 1), ("DUR", 1), ("EXTEND", 0),
                                                ("MIN_FREQ", 900), ("MAX_FREQ", 1100), ("REF_TYPE", 0),
                                                ("THRESHOLD", 100), ("EFFECT", 32), ("PRE_TRIG", 0)])


def event_lines(folder):
    logs = [os.path.join(folder, f) for f in sorted(os.listdir(folder))] if os.path.isdir(folder) else []
    return [line for p in logs for line in open(p, newline="").read().split("\r\n") if "U Hylo," in line]


def main(build):
    check = Checks()
    with Sim(build, ["--model", "hf", "--firmware", "v2.1.0", "--rate", str(RATE), "--bits", "24", *SCENE]) as sim, \
            scratch() as tmp:
        triggers = os.path.join(tmp, "host.cfg")
        with open(triggers, "w") as f:
            f.write("#Trigger 1 settings:\n" + TRIGGER)
        events, clips, wavs_dir = (os.path.join(tmp, d) for d in ("events", "clips", "wav"))
        code, summary, err = record(build, sim.link_args(), "--seconds", "10", "--wave", "udp", "--fft", "udp",
                                    "--triggers", triggers, "--events-dir", events, "--clips", clips,
                                    "--clip-seconds", f"{PRE}:{POST}", "--wav-dir", wavs_dir, "--settings-dir", os.path.join(tmp, "settings"))
        check(code == 0, f"exit 0 (got {code}; {err.strip()[-300:]})")
        check(summary.get("events", {}).get("host") == 1, f"one host event: {summary.get('events')}")

        lines = event_lines(events)
        check(len(lines) == 1, f"one event line in the host epoch log: {lines}")
        if len(lines) != 1:
            return check.failures
        # Sample 0 is at a whole second of the instrument clock; the tone begins TONE_START later.
        t0 = summary["firstTime"] - summary["firstSample"] // RATE
        start = datetime.datetime.fromtimestamp(t0 + TONE_START, datetime.timezone.utc)
        expected = start.strftime("%Y-%m-%d %H:%M:%S,U Hylo,Epoch 1,Seq ")
        check(lines[0].startswith(expected) and lines[0].endswith(",Hz 900-1100 > 100uPa,1sec"),
              f"the event line names the second the tone began: {lines[0]!r}, expected {expected!r}")
        anchor = int(re.search(r"Seq (\d+)", lines[0]).group(1))

        wavs = sorted(os.listdir(clips)) if os.path.isdir(clips) else []
        name = start.strftime("Event_%Y%m%d_%H%M%S_T1.wav")
        check(wavs == [name], f"one clip named after the event time and trigger: {wavs}")
        if wavs:
            path = os.path.join(clips, wavs[0])
            rate, width, counts = wav_counts(path)
            first = anchor - PRE * RATE
            signal = sim.samples(anchor + POST * RATE + RATE)
            check(rate == RATE and width == 3, f"clip format {rate} Hz, {width} bytes")
            check(len(counts) == (PRE + POST) * RATE, f"lead and tail: {len(counts)} samples")
            check(np.array_equal(counts, signal[first:first + len(counts)]),
                  "the clip equals the simulator's signal sample for sample, from the lead before the firing record")
            tone = np.abs(signal[TONE_START * RATE:(TONE_START + 1) * RATE]).max()
            check(first <= TONE_START * RATE < first + len(counts) and np.abs(counts).max() >= tone,
                  "the clip holds the tone's onset")
            with open(path, "rb") as f:
                header = f.read(344)
            check(header[12:16] == b"LIST" and b"IART" in header and b"Aurisond HF" in header,
                  "the clip carries the WAV logs' LIST/INFO metadata")

        # The recording replayed fires the same trigger at the same second, naming the file.
        replayed = os.path.join(tmp, "replayed")
        code, summary, err = replay(build, "--jobs", "1", "--triggers", triggers, "--events-dir", replayed,
                                    "--settings-dir", os.path.join(tmp, "settings"), wavs_dir)
        check(code == 0 and summary.get("events") == 1, f"replay: one host event ({code}, {summary}, {err[-300:]})")
        again = event_lines(replayed)
        wav_names = sorted(os.listdir(wavs_dir)) if os.path.isdir(wavs_dir) else ["?"]
        check(len(again) == 1 and again[0].startswith(expected) and ",1sec," in again[0]
              and any(again[0].endswith(n) for n in wav_names),
              f"the replay's event line names the second and the file: {again}")
    return check.failures


if __name__ == "__main__":
    sys.exit(1 if main(sys.argv[1]) else 0)
