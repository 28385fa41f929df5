#!/usr/bin/python3
# Measures an impulse the way Hylo should, with numpy and scipy, for comparison.
# usage: impulse_reference.py SAMPLES.f64 RATE SENSITIVITY
# SAMPLES.f64 holds the impulse in volts (little-endian float64, before any filtering).
# Prints: sel spl pk start duration bandcount fftlength band0 band1 ...
import sys

import numpy as np
from scipy import signal

WIDTHS = [1, 2, 3, 3, 4, 5, 6, 8, 10, 12, 15, 19, 24, 30, 38, 48, 60, 75, 95, 119, 150, 189, 238, 300, 378,
          476, 599, 755, 951, 1197]
HZ = [5.74, 7.24, 9.12, 11.49, 14.47, 18.23, 22.97, 28.95, 36.47, 45.95, 57.89, 72.94, 91.90, 115.78, 145.88,
      183.79, 231.56, 291.75, 367.58, 463.13, 583.50, 735.17, 926.25, 1167.01, 1470.34, 1852.51, 2334.01,
      2940.67, 3705.01, 4668.02]
PLANS = {1000: (256, 15), 2000: (512, 18), 4000: (1024, 21), 8000: (2048, 24), 16000: (4096, 27), 32000: (8192, 29)}


def main():
    np.seterr(all="ignore")
    x = np.fromfile(sys.argv[1], dtype='<f8')
    rate = int(sys.argv[2])
    sens = float(sys.argv[3])
    b, a = signal.butter(1, 15, btype='highpass', fs=rate)
    x = signal.lfilter(b, a, x)
    n = len(x)

    length, bands = PLANS.get(rate, (16384, 30))
    factor = 1 if rate in PLANS else max(1, rate // 64000)
    # Only bands wholly below half the rate.
    ends = 4 + np.cumsum(WIDTHS[:bands]) - 1
    bands = int(np.sum(ends <= length // 2))
    m = min(n // factor, length)
    d = x[:m * factor].reshape(m, factor).mean(axis=1) if m else np.zeros(0)
    spectrum = np.fft.fft(d * np.hanning(m), length)
    spectrum[0] = 0
    r = 3.0103 - 20 * np.log10(length) - sens
    levels = []
    first = 4
    for k in range(bands):
        amp = np.sum(10 ** ((r + 10 * np.log10(np.abs(spectrum[first:first + WIDTHS[k]]) ** 2)) * 0.05))
        levels.append(20 * np.log10(amp / np.sqrt(HZ[k])))
        first += WIDTHS[k]

    dt = 1.0 / rate
    energy = dt * x * x
    total = energy.sum()
    reached = np.nonzero(np.cumsum(energy) >= 0.05 * total)[0]
    start = int(reached[0]) if len(reached) else 0
    after = np.cumsum(energy[start + 1:])
    hit = np.nonzero(after >= 0.95 * total - 0.05 * total)[0]
    if len(hit):
        stop = start + 1 + int(hit[0])
        duration = stop - start
    else:
        stop = n - 1
        duration = n - start
    part = x[start + 1:stop + 1]
    e = dt * np.sum(part * part)
    sel = 10 * np.log10(e) - sens
    spl = 20 * np.log10(np.sqrt(np.sum(part * part) / duration)) - sens
    pk = 10 * np.log10(np.max(part * part)) - sens
    print(' '.join(['%.6f' % v for v in (sel, spl, pk)] + [str(start), str(duration), str(bands), str(length)] +
                   ['%.6f' % v for v in levels]))


if __name__ == '__main__':
    main()
