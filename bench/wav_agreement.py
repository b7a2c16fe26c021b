#!/usr/bin/python3
"""Agreement of two 16-bit stereo WAV files: SNR over both channels, and the worst SNR of
any one-second window, with the first file as the reference.

usage: wav_agreement.py REFERENCE.wav OUTPUT.wav
Prints: snr_db worst_window_db worst_window_second peak_of_reference_there max_error_there
worst_audible_window_db
(levels in 16-bit steps: a near-silent window shows the reference's own rounding noise; the
last figure leaves out windows whose reference peaks below 100 steps, -50 dBFS)
"""
import math
import sys
import wave

import numpy


def samples(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2 or w.getnchannels() != 2:
            sys.exit(f"{path}: not 16-bit stereo")
        return numpy.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(numpy.float64), w.getframerate()


def snr(ref, err):
    signal = float(numpy.sum(ref * ref))
    noise = float(numpy.sum(err * err))
    if noise == 0:
        return math.inf
    if signal == 0:
        return -math.inf
    return 10 * math.log10(signal / noise)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    ref, rate = samples(sys.argv[1])
    out, _ = samples(sys.argv[2])
    n = max(len(ref), len(out))
    ref = numpy.pad(ref, (0, n - len(ref)))
    out = numpy.pad(out, (0, n - len(out)))
    err = ref - out
    window = 2 * rate  # one second of interleaved stereo samples
    worst, worst_at, peak, max_err = math.inf, 0, 0, 0
    worst_audible = math.inf
    for start in range(0, n, window):
        r = ref[start:start + window]
        if not numpy.any(r) and not numpy.any(err[start:start + window]):
            continue
        value = snr(r, err[start:start + window])
        if numpy.max(numpy.abs(r)) >= 100:
            worst_audible = min(worst_audible, value)
        if value < worst:
            worst, worst_at = value, start // window
            peak = int(numpy.max(numpy.abs(r)))
            max_err = int(numpy.max(numpy.abs(err[start:start + window])))
    print(f"{snr(ref, err):.2f} {worst:.2f} {worst_at} {peak} {max_err} {worst_audible:.2f}")


if __name__ == "__main__":
    main()
