"""hylo-sim -> hylo-cli record over UDP, TCP, the command link and a pty serial link: the WAV
file holds the simulator's own samples, contiguous, from a whole second of the sample clock."""
import os
import subprocess
import sys

import numpy as np
import soundfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import Checks, Sim, fft_log_rows, find_in, record, scratch, wav_counts  # noqa: E402

RATE = 64000
# Two tones 20 dB apart on bins 16 and 80 of a 1024-point FFT at 64000 samples/s.
SCENE = ["--seed", "7", "--tone", "1000:-20", "--tone", "5000:-40", "--noise", "-70"]


def check_wav(check, sim, path, rate, whole_second, what):
    info = soundfile.info(path)
    check(info.samplerate == rate and info.channels == 1, f"{what}: libsndfile reads {info.samplerate} Hz mono")
    soxi = subprocess.run(["soxi", "-r", path], capture_output=True, text=True)
    check(soxi.returncode == 0 and soxi.stdout.strip() == str(rate), f"{what}: soxi reads rate {soxi.stdout.strip()}")
    got_rate, _, counts = wav_counts(path)
    expected = sim.samples(len(counts) + 40 * rate)
    at = find_in(expected, counts)
    check(at >= 0, f"{what}: the recording is found in the simulator's signal ({len(counts)} samples)")
    if at < 0:
        return counts, at
    check(np.array_equal(expected[at:at + len(counts)], counts),
          f"{what}: every sample equals the simulator's, nothing lost or repeated")
    if whole_second:
        check(at % rate == 0, f"{what}: the file starts at a whole second of the sample clock (sample {at})")
    return counts, at


def stream_run(check, build, transport):
    with Sim(build, ["--model", "hf", "--firmware", "v2.1.0", "--rate", str(RATE), "--bits", "24", *SCENE]) as sim, \
            scratch() as tmp:
        wav_dir, fft_dir = os.path.join(tmp, "wav"), os.path.join(tmp, "fft")
        code, summary, err = record(build, sim.link_args(), "--seconds", "4", "--wave", transport, "--fft", transport,
                                    "--wav-dir", wav_dir, "--fft-dir", fft_dir, "--settings-dir",
                                    os.path.join(tmp, "settings"))
        what = transport.upper()
        check(code == 0, f"{what}: exit 0 (got {code}; {err.strip()[-300:]})")
        check(summary.get("waveformRecords", 0) > 0 and summary.get("spectrumRecords", 0) > 0,
              f"{what}: waveform and spectrum records counted: {summary}")
        check(summary.get("missedSamples") == 0 and summary.get("missedRecords") == 0, f"{what}: nothing missed")
        wavs = [f for f in summary.get("files", []) if f.endswith(".wav")]
        check(wavs == [os.path.join(wav_dir, "Data_00001.wav")], f"{what}: one WAV file by the default name: {wavs}")
        if wavs:
            counts, at = check_wav(check, sim, wavs[0], RATE, True, what)
            # Whole seconds, then at Stop the part of the last second that had arrived.
            check(len(counts) >= 2 * RATE and at + len(counts) == summary.get("nextSample"),
                  f"{what}: logged up to the last sample received ({at} + {len(counts)}, {summary.get('nextSample')})")
        logs = [f for f in summary.get("files", []) if f.endswith(".txt")]
        check(logs == [os.path.join(fft_dir, "Hylo_00001.txt")], f"{what}: one FFT log by the default name: {logs}")
        if logs:
            rows = fft_log_rows(logs[0])
            check(rows.shape[0] >= 10 and rows.shape[1] == 410, f"{what}: FFT log rows {rows.shape}")
            mean = rows.mean(axis=0)
            peak = int(np.argmax(mean))
            check(peak == 16, f"{what}: the strongest bin is the 1000 Hz tone's (bin {peak})")
            # Logged bytes are 1 dB steps: the tones are 20 dB apart.
            step = mean[16] - mean[80]
            check(abs(step - 20) <= 1, f"{what}: the tones are {step:.1f} dB apart in the log")
            floor = np.median(mean)
            check(mean[16] - floor > 30, f"{what}: the tone stands {mean[16] - floor:.0f} dB above the floor")


def link_run(check, build, what, sim_args, pty, rate):
    # The command link carries the waveform in the periodic status replies (transport 3).
    with Sim(build, sim_args, pty=pty) as sim, scratch() as tmp:
        wav_dir = os.path.join(tmp, "wav")
        code, summary, err = record(build, sim.link_args(), "--seconds", "5", "--wave", "link", "--fft", "off",
                                    "--wav-dir", wav_dir, "--settings-dir", os.path.join(tmp, "settings"))
        check(code == 0, f"{what}: exit 0 (got {code}; {err.strip()[-300:]})")
        check(summary.get("waveformRecords", 0) > 0 and summary.get("missedSamples") == 0,
              f"{what}: records without gaps: {summary}")
        wavs = [f for f in summary.get("files", []) if f.endswith(".wav")]
        check(len(wavs) == 1, f"{what}: one WAV file: {wavs}")
        if wavs:
            check_wav(check, sim, wavs[0], rate, False, what)


HF_LINK = ["--model", "hf", "--firmware", "v2.1.0", "--rate", "1000", "--bits", "24", *SCENE[:2], "--tone", "50:-10"]
LF_SERIAL = ["--model", "lf",  # its start-up setup samples at 4000/s
             *SCENE[:2], "--tone", "20:-10"]


def main():
    build = sys.argv[1]
    check = Checks()
    only = sys.argv[2:]
    for name, run in (("udp", lambda: stream_run(check, build, "udp")), ("tcp", lambda: stream_run(check, build, "tcp")),
                      ("link", lambda: link_run(check, build, "link", HF_LINK, False, 1000)),
                      ("serial", lambda: link_run(check, build, "serial LF", LF_SERIAL, True, 4000))):
        if not only or name in only:
            run()
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
