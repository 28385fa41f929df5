"""hylo-cli replay: a recording made by hylo-cli record, files from sox and Python's soundfile,
hostile and truncated headers, folders and --jobs. Spectra are checked against numpy."""
import glob
import os
import struct
import subprocess
import sys

import numpy as np
import soundfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import Checks, Sim, fft_log_rows, record, replay, scratch, wav_counts  # noqa: E402


def host_spectra(counts, rate, bits, range_volts):
    """The host FFT as the chain defines it: 1024-point Hann frames without their mean, power
    averaged over ceil(rate / 4096) frames, bytes of ref + 10 log10(power)."""
    frames_per_record = (rate + 4095) // 4096
    n = len(counts) // (1024 * frames_per_record)
    window = 0.5 - 0.5 * np.cos(2 * np.pi * np.arange(1024) / 1024)
    x = counts[:n * frames_per_record * 1024].astype(np.float64).reshape(-1, 1024)
    power = np.abs(np.fft.rfft((x - x.mean(axis=1, keepdims=True)) * window, axis=1)[:, :512]) ** 2
    power = power.reshape(n, frames_per_record, 512).mean(axis=1)
    ref = 4.259 + 3.0103 + (-60.206 - 20 * np.log10(2.0 ** bits / (range_volts * 1e9)))
    with np.errstate(divide="ignore"):
        level = np.where(power > 0, ref + 10 * np.log10(power), 0)
    return np.clip(np.floor(level + 0.5), 0, 255).astype(np.int64)


def peak_volts(path):
    with open(path, "rb") as f:
        head = f.read(344)
    return float(head[200:312].split(b"V pk")[0])


def round_trip(check, build):
    with Sim(build, ["--model", "hf", "--firmware", "v2.1.0", "--rate", "64000", "--bits", "24", "--seed", "3",
                     "--tone", "1000:-20", "--tone", "5000:-40", "--noise", "-70"]) as sim, scratch() as tmp:
        wav_dir, out = os.path.join(tmp, "wav"), os.path.join(tmp, "replayed")
        code, summary, err = record(build, sim.link_args(), "--seconds", "4", "--wave", "udp", "--fft", "off",
                                    "--wav-dir", wav_dir, "--file-seconds", "2", "--settings-dir",
                                    os.path.join(tmp, "settings"))
        wavs = sorted(f for f in summary.get("files", []) if f.endswith(".wav"))
        check(code == 0 and len(wavs) >= 2, f"record: exit 0 and several WAV files ({code}, {wavs}, {err[-200:]})")
        code, s, err = replay(build, "--jobs", "1", "--fft-dir", out, "--settings-dir", os.path.join(tmp, "s2"),
                              wav_dir)
        check(code == 0 and s.get("inputs") == wavs and s.get("refused") == [],
              f"replay: exit 0, the files in name order ({code}, {s.get('inputs')}, {err[-300:]})")
        counts = np.concatenate([wav_counts(w)[2] for w in wavs])
        check(s.get("missedSamples") == 0 and abs(s.get("dataSeconds", 0) - len(counts) / 64000) < 1e-6,
              f"replay: every sample once: {len(counts) / 64000} s, {s.get('dataSeconds')}, missed {s.get('missedSamples')}")
        check(s.get("events") == 0 and s.get("impulses") == 0, "replay: no triggers configured, none counted")
        logs = [f for f in s.get("files", []) if f.endswith(".txt")]
        check(len(logs) == 1, f"replay: one FFT log for the one stream: {logs}")
        if not logs:
            return
        rows = fft_log_rows(logs[0])
        expected = host_spectra(counts, 64000, 24, 2 * peak_volts(wavs[0]))[:, :410]
        check(rows.shape == expected.shape, f"replay: {expected.shape[0]} spectrum records: {rows.shape}")
        if rows.shape == expected.shape:
            diff = np.abs(rows - expected)
            check(diff.max() <= 1 and (diff == 0).mean() > 0.99,
                  f"replay: logged spectra equal numpy's (max diff {diff.max()}, {(diff == 0).mean():.4f} exact)")
            mean = rows.mean(axis=0)
            check(int(np.argmax(mean)) == 16 and mean[80] > mean[70:79].max() + 10,
                  f"replay: the scene's tones on bins 16 and 80: {mean[14:18]}, {mean[78:82]}")


def riff(chunks):
    return b"RIFF" + struct.pack("<I", 4 + len(chunks)) + b"WAVE" + chunks


def fmt(rate, bits, channels=1):
    return b"fmt " + struct.pack("<IHHIIHH", 16, 1, channels, rate, rate * bits // 8, bits // 8, bits)


def outside_files(check, build):
    with scratch() as tmp:
        folder = os.path.join(tmp, "in")
        os.makedirs(folder)
        rate = 48000
        t = np.arange(2 * rate) / rate
        tone = 0.5 * np.sin(2 * np.pi * 3000 * t)  # bin 64 of 1024 at 48000 S/s
        subprocess.run(["sox", "-n", "-r", str(rate), "-b", "24", "-c", "1", os.path.join(folder, "a_sox24.wav"),
                        "synth", "2", "sine", "3000", "vol", "0.5"], check=True)
        subprocess.run(["sox", "-n", "-r", str(rate), "-b", "16", "-c", "1", os.path.join(folder, "b_sox16.wav"),
                        "synth", "2", "sine", "3000", "vol", "0.5"], check=True)
        soundfile.write(os.path.join(folder, "c_sf16.wav"), tone, rate, subtype="PCM_16")
        with soundfile.SoundFile(os.path.join(folder, "d_sf24_list.wav"), "w", rate, 1, "PCM_24") as f:
            f.title = "a title makes a LIST chunk"
            f.write(tone)
        # Hostile headers, each followed in name order by a good file.
        hostile = {
            "e_rate0.wav": riff(fmt(0, 16) + b"data" + struct.pack("<I", 100) + bytes(100)),
            "f_bits0.wav": riff(fmt(rate, 0) + b"data" + struct.pack("<I", 100) + bytes(100)),
            "g_bits40.wav": riff(fmt(rate, 40) + b"data" + struct.pack("<I", 100) + bytes(100)),
            "h_past_end.wav": riff(fmt(rate, 16) + b"junk" + struct.pack("<I", 10**6) + bytes(8)),
            "i_list4g.wav": riff(fmt(rate, 16) + b"LIST" + struct.pack("<I", 0xFFFFFFFF) + b"INFO" + bytes(8)),
        }
        for name, data in hostile.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        with open(os.path.join(folder, "a_sox24.wav"), "rb") as f:
            whole = f.read()
        with open(os.path.join(folder, "j_truncated.wav"), "wb") as f:
            f.write(whole[:len(whole) - 12345])
        out = os.path.join(tmp, "fft")
        code, s, err = replay(build, "--jobs", "1", "--fft-dir", out, "--settings-dir", os.path.join(tmp, "s"), folder)
        refused = {os.path.basename(r["file"]): r["reason"] for r in s.get("refused", [])}
        check(code == 1 and sorted(refused) == sorted(hostile),
              f"outside: exit 1, exactly the hostile files refused ({code}: {refused}, {err[-200:]})")
        check(all(refused.values()), "outside: each refusal gives a reason")
        good = [os.path.basename(f) for f in s.get("inputs", [])]
        check(good == ["a_sox24.wav", "b_sox16.wav", "c_sf16.wav", "d_sf24_list.wav", "j_truncated.wav"],
              f"outside: sox, soundfile and the truncated file replay in order: {good}")
        truncated_samples = (len(whole) - 12345 - (len(whole) - 2 * rate * 3)) // 3
        expected_seconds = (4 * 2 * rate + truncated_samples) / rate
        check(abs(s.get("dataSeconds", 0) - expected_seconds) < 1e-6,
              f"outside: the truncated file replays to its last whole sample ({s.get('dataSeconds')} s, "
              f"{expected_seconds} s)")
        logs = sorted(glob.glob(os.path.join(out, "*.txt")))
        check(len(logs) >= 2, f"outside: FFT logs written per stream: {len(logs)}")
        if logs:
            rows = fft_log_rows(logs[0])
            check(int(np.argmax(rows.mean(axis=0))) == 64, "outside: the sox tone peaks on its 3000 Hz bin")

        # Folders scale with --jobs: the same totals from job processes.
        for name in hostile:
            os.remove(os.path.join(folder, name))
        code1, one, _ = replay(build, "--jobs", "1", "--settings-dir", os.path.join(tmp, "s1"), folder)
        code2, two, err = replay(build, "--jobs", "2", "--settings-dir", os.path.join(tmp, "s3"), folder)
        # Each job's input is a stream of its own, so only the spectra may differ.
        keys = ["waveformRecords", "missedSamples", "inputs"]
        check(code1 == 0 and code2 == 0 and all(one.get(k) == two.get(k) for k in keys) and
              abs(one.get("dataSeconds", 0) - two.get("dataSeconds", -1)) < 1e-6,
              f"--jobs 2 merges the same summary as --jobs 1 ({code2}, {err[-200:]})")


def options(check, build):
    code, _, _ = replay(build, "--jobs", "0", "x.wav")
    check(code == 2, f"bad option: exit 2 (got {code})")
    code, s, _ = replay(build, "--jobs", "1", "/nonexistent/file.wav")
    check(code == 1 and s.get("refused", [{}])[0].get("reason") == "no such file or folder", "missing input refused")


def main():
    build = sys.argv[1]
    check = Checks()
    options(check, build)
    outside_files(check, build)
    round_trip(check, build)
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
