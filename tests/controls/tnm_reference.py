#!/usr/bin/python3
# Tone-curve reference written with numpy from the formulas alone: peak normalisation, clip to the maximum and
# then the minimum, seven-tap smoothing with the edges padded by the end bins, normalisation, tempering exponent,
# cumulative sum with the last point forced to 1, temporal blend.
# Input lines: "case histMin histMax smoothing tempering updateSpeed b0 ... b63"; the frames of one case follow
# each other and start from the identity curve. Output: "case p0 ... p64" after each frame, 17 digits.
import sys

import numpy as np

KERNEL = np.array([0.05, 0.1, 0.2, 0.3, 0.2, 0.1, 0.05])


def equalise(h, hmin, hmax, smoothing, tempering):
    h = h / h.max()
    h = np.maximum(np.minimum(h, hmax), hmin)
    padded = np.pad(h, 3, mode="edge")
    k = np.convolve(padded, KERNEL[::-1], mode="valid")
    h = (1 - smoothing) * h + smoothing * k
    h = h / h.sum()
    s = np.sum(h * h)
    e = 0.0 if 100 * tempering * s > 1 else 1 - 100 * tempering * s
    h = np.power(h, e)
    h = h / h.sum()
    a = np.concatenate(([0.0], np.cumsum(h)))
    a[64] = 1.0
    return a


curves = {}
for line in sys.stdin:
    f = line.split()
    if not f:
        continue
    case = f[0]
    hmin, hmax, smoothing, tempering, speed = (float(x) for x in f[1:6])
    h = np.array([float(x) for x in f[6:70]])
    curve = curves.get(case, np.arange(65) / 64.0)
    if h.sum() == 0:
        curve = np.arange(65) / 64.0
    else:
        curve = (1 - speed) * curve + speed * equalise(h, hmin, hmax, smoothing, tempering)
    curves[case] = curve
    print(case, " ".join("%.17g" % v for v in curve))
