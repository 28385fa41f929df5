"""Listening: hylo-cli replay --audio-out against the same chain computed with scipy, and the
real sound path: PortAudio into ALSA's file plugin (a default PCM that writes raw samples to a
file), playing a tone that hylo-sim streamed and hylo-cli recorded."""
import os
import subprocess
import sys

import numpy as np
import soundfile
from scipy import signal

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import Checks, Sim, record, replay, scratch  # noqa: E402

SHIFT = 3  # default loudness: reference 50 + colour span 100 − 171 dB sensitivity → (−6 + 21 + 3) / 6


def speaker(counts, rate, bytes_per_sample, gain=0, shift=SHIFT):
    """What the speaker gets: the listening filter over the whole signal, whole seconds only,
    every decimation-th value, shifted to 32 bits with saturation, the high 16 bits."""
    if rate < 64000:
        sos = signal.butter(4, 150, "highpass", fs=rate, output="sos")
    else:
        sos = signal.cheby1(4, 0.1, [150, 20000], "bandpass", fs=rate, output="sos")
    y = signal.sosfilt(sos, counts.astype(np.float64))
    dec = 1 if rate <= 64000 else rate // 64000
    k = shift - int((gain + 3) / 6) + (4 - bytes_per_sample) * 8
    out = []
    for s in range(len(counts) // rate):
        v = np.trunc(y[s * rate:(s + 1) * rate][::dec][:rate // dec]).clip(-2**31, 2**31 - 1).astype(np.int64)
        if k > 0:
            limit = ((2**31 - 1) >> k) - 1
            v = np.where(np.abs(v) < limit, v << k, np.sign(v) * (2**31 - 1))
        elif k < 0:
            v = v >> -k
        out.append(v >> 16)
    return np.concatenate(out) if out else np.zeros(0, dtype=np.int64)


def peak_hz(x, rate):
    spectrum = np.abs(np.fft.rfft(x * np.hanning(len(x))))
    return np.argmax(spectrum) * rate / len(x)


def audio_out(check):
    with scratch() as tmp:
        rate = 128000
        t = np.arange(int(3.5 * rate)) / rate
        counts = np.round(65536 * np.sin(2 * np.pi * 1000 * t) + 65536 * np.sin(2 * np.pi * 60 * t)).astype(np.int32)
        src, out = os.path.join(tmp, "tone.wav"), os.path.join(tmp, "heard.wav")
        soundfile.write(src, counts << 8, rate, subtype="PCM_24")  # soundfile scales from 32 bits
        code, s, err = replay(BUILD, "--settings-dir", os.path.join(tmp, "s"), "--audio-out", out, src)
        check(code == 0 and s.get("audioFiles") == [out], f"--audio-out: exit 0, one file ({code}, {s}, {err[-300:]})")
        if not os.path.exists(out):
            return
        heard, heard_rate = soundfile.read(out, dtype="int16")
        info = soundfile.info(out)
        check(heard_rate == 64000 and info.channels == 1 and info.subtype == "PCM_16",
              f"--audio-out: 16-bit mono at 64000 S/s ({heard_rate}, {info.subtype})")
        expected = speaker(counts.astype(np.int64), rate, 3)
        check(len(heard) == len(expected) == 3 * 64000, f"--audio-out: three whole seconds ({len(heard)}, {len(expected)})")
        n = min(len(heard), len(expected))
        diff = np.abs(heard[:n].astype(np.int64) - expected[:n]).max() if n else -1
        check(0 <= diff <= 1, f"--audio-out: every sample as scipy's filter gives it, within 1 LSB (max diff {diff})")
        late = heard[64000:].astype(np.float64)
        check(abs(peak_hz(late, 64000) - 1000) < 2 and np.abs(late).max() > 1000,
              f"--audio-out: the 1 kHz tone is there, the 60 Hz hum is not the peak ({peak_hz(late, 64000)} Hz)")


def alsa_file_plugin(check):
    if not os.path.exists("/usr/share/alsa/alsa.conf"):
        print("skip the sound-card path: ALSA's configuration (/usr/share/alsa/alsa.conf) is not installed")
        return
    with Sim(BUILD, ["--model", "hf", "--firmware", "v2.1.0", "--rate", "128000", "--bits", "24", "--seed", "5",
                     "--tone", "2500:-20", "--noise", "-80"]) as sim, scratch() as tmp:
        wav_dir = os.path.join(tmp, "wav")
        code, summary, err = record(BUILD, sim.link_args(), "--seconds", "3", "--wave", "udp", "--fft", "off",
                                    "--wav-dir", wav_dir, "--settings-dir", os.path.join(tmp, "settings"))
        check(code == 0, f"record the simulated tone ({code}, {err[-200:]})")
        raw = os.path.join(tmp, "card.raw")
        home = os.path.join(tmp, "home")
        os.makedirs(home)
        with open(os.path.join(home, ".asoundrc"), "w") as f:
            f.write('pcm.!default {\n type file\n slave.pcm "null"\n file "%s"\n format "raw"\n}\n' % raw)
        env = dict(os.environ, HOME=home)
        cli = os.path.join(BUILD, "cli", "hylo-cli")
        played = subprocess.run([cli, "replay", "--settings-dir", os.path.join(tmp, "s1"), "--listen", wav_dir],
                                capture_output=True, text=True, timeout=120, env=env)
        check(played.returncode == 0, "--listen: exit 0" + ("" if played.returncode == 0 else
                                                             f" ({played.returncode}, {played.stderr[-300:]})"))
        heard_path = os.path.join(tmp, "heard.wav")
        code, s, err = replay(BUILD, "--settings-dir", os.path.join(tmp, "s2"), "--audio-out", heard_path, wav_dir)
        if not check(os.path.exists(raw), "ALSA's file plugin wrote the card's samples" +
                     ("" if os.path.exists(raw) else f" ({played.stderr[-300:]})")):
            return
        card = np.fromfile(raw, dtype="<i2")
        heard, heard_rate = soundfile.read(heard_path, dtype="int16")
        check(heard_rate == 64000 and len(card) >= len(heard) > 0,
              f"the card got every second the file got ({len(card)} ≥ {len(heard)} at {heard_rate})")
        # The card may add silence around what it played; the samples themselves are the same.
        start = int(np.flatnonzero(card)[0]) if np.any(card) else -1
        head = heard[np.flatnonzero(heard)[0]:][:64000] if np.any(heard) else heard
        found = start >= 0 and np.array_equal(card[start:start + len(head)], head)
        check(found, "the card's samples are the filtered, decimated tone, sample for sample")
        check(abs(peak_hz(card[start + 32000:start + 96000].astype(np.float64), 64000) - 2500) < 2,
              "the card plays the simulator's 2.5 kHz tone at 64000 S/s")


def main():
    global BUILD
    BUILD = sys.argv[1]
    check = Checks()
    audio_out(check)
    alsa_file_plugin(check)
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
