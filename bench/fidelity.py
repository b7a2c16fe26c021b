#!/usr/bin/python3
"""One row of bench/fidelity.sh's table: Velorna against the single pass for one song.

usage: fidelity.py NAME REF_DRY.wav VELORNA_DRY.wav REF_WET.wav VELORNA_WET.wav
Prints a markdown row: name, dry SNR (dB), level difference of the octave bands 250 Hz to
4 kHz and their mean (dB, Velorna minus reference, effects on), side-signal (L-R) level
difference (dB), and the seconds of the reference's audible ending that come after Velorna's
output has ended. Levels and SNR are taken over the stretch both files cover, so that a cut
ending shows only in its own column.
"""
import math
import sys
import wave

import numpy

BANDS_HZ = (250, 500, 1000, 2000, 4000)
RATE = 44100


def samples(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2 or w.getnchannels() != 2 or w.getframerate() != RATE:
            sys.exit(f"{path}: not 16-bit stereo at {RATE} Hz")
        data = numpy.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
    return data.reshape(-1, 2).astype(numpy.float64)


def common(a, b):
    n = min(len(a), len(b))
    return a[:n], b[:n]


def db(ratio):
    if ratio <= 0:
        return -math.inf
    return 10 * math.log10(ratio)


def snr(ref, out):
    ref, out = common(ref, out)
    noise = float(numpy.sum((ref - out) ** 2))
    return math.inf if noise == 0 else db(float(numpy.sum(ref ** 2)) / noise)


def band_energies(x):
    spectrum = numpy.abs(numpy.fft.rfft(x, axis=0)) ** 2
    freqs = numpy.fft.rfftfreq(len(x), 1 / RATE)
    return [float(numpy.sum(spectrum[(freqs >= f / math.sqrt(2)) & (freqs < f * math.sqrt(2))]))
            for f in BANDS_HZ]


def ending_lost(ref, out):
    audible = numpy.nonzero(numpy.any(numpy.abs(ref) >= 1, axis=1))[0]
    if len(audible) == 0:
        return 0.0
    return max(0, int(audible[-1]) + 1 - len(out)) / RATE


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    name = sys.argv[1]
    ref_dry, vel_dry, ref_wet, vel_wet = (samples(p) for p in sys.argv[2:])
    dry_snr = snr(ref_dry, vel_dry)
    ref, out = common(ref_wet, vel_wet)
    bands = [db(o / r) if r > 0 else math.nan
             for r, o in zip(band_energies(ref), band_energies(out))]
    side = db(float(numpy.sum((out[:, 0] - out[:, 1]) ** 2)) /
              float(numpy.sum((ref[:, 0] - ref[:, 1]) ** 2)))
    lost = ending_lost(ref_wet, vel_wet)
    cells = [name, f"{dry_snr:.1f}"] + [f"{b:+.1f}" for b in bands]
    cells += [f"{sum(bands) / len(bands):+.1f}", f"{side:+.1f}", f"{lost:.2f}"]
    print("| " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
