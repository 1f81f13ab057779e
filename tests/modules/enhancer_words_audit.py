#!/usr/bin/env python3
"""Independent audit of the enhancer, vibrancy, sharpening and HDR register words of the reference setup.

Computes, from the setup file alone and the published formulas of the setup modules and the register
conversion (fixed point rounding half away from zero, clipping to the field), the words of the image
enhancer (532 to 728) and the sharpening block (924 to 948) and the fields of the HDR record, for a
Cr-first (NV21) and a Cb-first (NV12) encoder, on a 10-bit sensor of well depth 5000 at gain 1, and
compares them with the golden file. Prints "agree" and exits 0 when every line matches.

Usage: enhancer_words_audit.py <setup file> <golden file>
"""
import math
import sys

import numpy as np


def read_setup(path):
    tags = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("//"):
                continue
            parts = line.split()
            tags[parts[0]] = parts[1:]
    return tags


def num(tags, tag, i, lo, hi, default):
    try:
        v = float(tags[tag][i])
    except (KeyError, IndexError, ValueError):
        return default
    return min(max(v, lo), hi)


def trunc(v):
    return int(math.trunc(v))


def clip(v, bits, signed):
    lo, hi = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)
    return min(max(v, lo), hi)


def fix(v, ibits, fbits, signed):
    r = -0.5 if (signed and v < 0) else 0.5
    return clip(trunc(v * (1 << fbits) + r), ibits + fbits, signed)


def field(v, bits):
    return v & ((1 << bits) - 1)


# ---- image enhancer, memory colours

P = 3.14159


def rot(v):
    return math.ceil(127.5 * v - 0.5) / 128.0


def extent_fit(aspect, extent):
    cb = [e * math.sqrt(2.0 ** aspect) for e in extent]
    cr = [e * math.sqrt(2.0 ** -aspect) for e in extent]
    m = min([510.0] + cb + cr)
    if m < 1.0 / 255.0:
        cb = [v * (1.0 / 255.0) / m for v in cb]
        cr = [v * (1.0 / 255.0) / m for v in cr]
    target = cb if aspect >= 0 else cr
    n = trunc(256.0 * 2.0 ** (-abs(aspect))) - 1
    if n <= 1:
        return 0, 0, [0, 0, 0, 0]
    g = np.array([255.0 / t for t in target])
    k = np.arange(0, n)[:, None, None]  # k = 0 is the starting point: every slice 0
    s = np.arange(0, 255)[None, None, :]
    err = np.abs((s * k).astype(float) - g[None, :, None])  # [k][slice][s]
    best_s = np.argmin(err, axis=2)  # first minimum: the smaller s on a tie
    e = np.take_along_axis(err, best_s[:, :, None], axis=2)[:, :, 0]
    total = ((e[:, 0] + e[:, 1]) + e[:, 2]) + e[:, 3]
    kb = int(np.argmin(total))  # first minimum: the smaller multiplier on a tie
    scale = [int(v) for v in best_s[kb]]
    if aspect >= 0:
        return kb, int(math.floor(2.0 ** aspect * kb)), scale
    return int(math.floor(2.0 ** -aspect * kb)), kb, scale


def memory_colours(tags, cb_first):
    bl = num(tags, "MIE_BLACK_LEVEL", 0, 0, 1, 0.0625)
    try:
        count = min(max(int(tags["MIE_MEMORY_COLOURS"][0]), 0), 9)
    except (KeyError, IndexError, ValueError):
        count = 3
    slots = []
    for i in range(count):
        try:
            on = int(tags["MIE_ENABLED_%d" % i][0]) != 0
        except (KeyError, IndexError, ValueError):
            on = False
        if on and len(slots) < 3:
            slots.append(i)
    mc = {"on": len(slots) > 0, "black": (bl + 0.25) * 256}
    regs = []
    for j in range(3):
        d = {"gains": [0.0] * 4}
        i = slots[j] if j < len(slots) else None
        get = (lambda t, k, lo, hi, df: num(tags, "%s_%d" % (t, i), k, lo, hi, df)) if i is not None else (
            lambda t, k, lo, hi, df: df)
        if i is not None:
            d["gains"] = [get("MIE_YGAINS", k, 0, 1, 0.0) for k in range(4)]
        ext = [get("MIE_CEXTENT", k, 0.0039, 4, 0.5) for k in range(4)]
        ymin, ymax = get("MIE_YMIN", 0, 0, 1, 0.0), get("MIE_YMAX", 0, 0, 2, 1.0)
        cb, cr = get("MIE_CCENTER", 0, -0.5, 0.5, 0.0), get("MIE_CCENTER", 1, -0.5, 0.5, 0.0)
        aspect, grot = get("MIE_CASPECT", 0, -2, 2, 0.0), get("MIE_CROTATION", 0, -1, 1, 0.0)
        bright, contrast = get("MIE_OUT_BRIGHTNESS", 0, -1, 1, 0.0), get("MIE_OUT_CONTRAST", 0, 0, 4, 1.0)
        sat, hue = get("MIE_OUT_SATURATION", 0, 0, 4, 1.0), get("MIE_OUT_HUE", 0, -1, 1, 0.0)
        miny = (ymin + bl) * 0.5 + 0.25
        maxy = ymax * 0.5 + 0.25
        kb, kr, scale = extent_fit(aspect, ext)
        d.update(yoff=(bright + 1) * 0.5, yscale=contrast, cscale=sat * contrast,
                 rot=[rot(math.cos(P * hue)), rot(math.sin(P * hue))], miny=miny,
                 scaley=(1 - miny) / (maxy - miny) if maxy > miny else 16.0, gcb=cb + 0.5, gcr=cr + 0.5,
                 grot=[rot(math.cos(P * grot)), rot(math.sin(P * grot))], kb=kb, kr=kr, scale=scale)
        if cb_first:
            d["rot"][1] = -d["rot"][1]
            d["grot"][1] = -d["grot"][1]
            d["gcb"], d["gcr"] = d["gcr"], d["gcb"]
            d["kb"], d["kr"] = d["kr"], d["kb"]
        regs.append(d)
    return mc, regs


def vibrancy(tags):
    on = False
    try:
        on = int(tags["MIE_VIB_ON"][0]) != 0
    except (KeyError, IndexError, ValueError):
        pass
    curve = [num(tags, "MIE_VIB_SAT_CURVE", i, 0, 1, i / 31.0) for i in range(32)]
    return on, [1.0] + [curve[i] / (i / 31.0) for i in range(1, 32)]


def enhancer_words(tags, cb_first):
    mc, regs = memory_colours(tags, cb_first)
    vib_on, mul = vibrancy(tags)
    w = {}
    w[532] = int(mc["on"]) | int(vib_on) << 1 | field(fix(mc["black"], 8, 2, False), 10) << 2
    for k in range(16):
        w[536 + 4 * k] = fix(mul[2 * k], 4, 8, False) | fix(mul[2 * k + 1], 4, 8, False) << 16
    s8 = lambda v: field(fix(v, 1, 7, True), 8)
    for k, d in enumerate(regs):
        yoff = clip(trunc(d["yoff"] * 16383 - 8192), 14, True)
        w[600 + 4 * k] = field(yoff, 14) | fix(d["yscale"], 2, 4, False) << 14
        w[612 + 4 * k] = field(fix(0.0, 9, 1, True), 10) | fix(d["cscale"], 4, 4, False) << 10
        w[624 + 4 * k] = s8(d["rot"][0]) | s8(d["rot"][1]) << 8
        w[636 + 4 * k] = clip(trunc(d["miny"] * 1023), 10, False) | fix(d["scaley"], 4, 4, False) << 16
        cb = clip(trunc(d["gcb"] * 1023 - 512), 8, True)
        cr = clip(trunc(d["gcr"] * 1023 - 512), 8, True)
        w[648 + 4 * k] = field(cb, 10) | field(cr, 10) << 16
        w[660 + 4 * k] = s8(d["grot"][0]) | s8(d["grot"][1]) << 8
        w[672 + 4 * k] = fix(d["kb"], 8, 0, False) | fix(d["kr"], 8, 0, False) << 8
    scales = [s for d in regs for s in d["scale"]]
    gains = [g for d in regs for g in d["gains"]]
    for j in range(6):
        w[684 + 4 * j] = clip(scales[2 * j], 8, False) | clip(scales[2 * j + 1], 8, False) << 8
        w[708 + 4 * j] = fix(gains[2 * j], 0, 8, False) | fix(gains[2 * j + 1], 0, 8, False) << 16
    return w


# ---- sharpening

BREAKS = [0.5, 0.75, 1, 1.5, 2, 3, 4, 6, 8, 12, 16, 24, 32, 64, 128]
SIGMA = [0.525623, 0.525717, 0.563392, 0.538484, 0.538585, 0.218964, 0.172387, 0.139622, 0.125163, 0.0808885,
         0.0453782, 0.0442295, 0.0440522, 0.0250851, 0.0159695]
TAU = [13.998, 16.0988, 14.0367, 19.2767, 14.4795, 31.1354, 37.9553, 44.1746, 44.8372, 46.4815, 47.2445, 48.1339,
       45.4722, 48.1982, 48.5187]


def sharpening_words(tags, well_depth=5000, gain=1.0):
    radius = num(tags, "SHA_RADIUS", 0, 0.5, 10, 2.5)
    strength = num(tags, "SHA_STRENGTH", 0, 0, 1, 0.4)
    thresh = num(tags, "SHA_THRESH", 0, 0, 1, 0.0)
    detail = num(tags, "SHA_DETAIL", 0, 0, 1, 1.0)
    escale = num(tags, "SHA_EDGE_SCALE", 0, 0, 1, 0.25)
    eoffset = num(tags, "SHA_EDGE_OFFSET", 0, -1, 1, 0.0)
    bypass = int(num(tags, "SHA_DENOISE_BYPASS", 0, -1e9, 1e9, 0)) != 0
    tmul = num(tags, "SHA_DN_TAU_MULTIPLIER", 0, 0, 16, 1.0)
    smul = num(tags, "SHA_DN_SIGMA_MULTIPLIER", 0, 0, 16, 1.0)

    n = well_depth / (gain * 100.0)
    if n >= 128:
        sigma, tau = SIGMA[-1], TAU[-1]
    elif n <= 0.5:
        sigma, tau = SIGMA[0], TAU[0]
    else:
        hi = next(i for i, b in enumerate(BREAKS) if b > n)
        lo = hi - 1
        t = (math.log2(n) - math.log2(BREAKS[lo])) / (math.log2(BREAKS[hi]) - math.log2(BREAKS[lo]))
        sigma = SIGMA[hi] * t + (1 - t) * SIGMA[lo]
        tau = TAU[hi] * t + (1 - t) * TAU[lo]
    s = 2 * (sigma * smul) ** 2
    a = 219 / (tau * tmul)
    simil = [clip(trunc((6.5 - k) * s * 219 + 0.5), 8, False) for k in range(7)]
    avoid = [clip(trunc((6.5 - k) * a + 0.5), 8, False) for k in range(7)]

    r = min(radius, 10.0)
    e1, e2 = math.exp(-1 / r ** 2), math.exp(-4 / r ** 2)
    total = e1 + 1 + e2
    w1, w2 = math.floor(63 * e1 / total), math.floor(63 * e2 / total)
    w0 = 63 - math.floor(63 / total)
    rem = int(w0 - w1 - w2)
    if rem >= 1:
        w2 += rem
    w0 = w1 + w2

    threshold = min(trunc(min(thresh * 0.125, 1.0) * 256 + 1) & 0xFFFF, 256)
    words = {}
    words[924] = (clip(threshold, 8, False) | clip(trunc(min(strength * 0.56, 1.0) * 255), 8, False) << 8
                  | fix(min(detail, 1.0), 0, 6, False) << 16 | int(bypass) << 22)
    words[928] = int(w0) | int(w1) << 6 | int(w2) << 12
    elw = 64 if eoffset > 1 else trunc(max(eoffset, -1.0) * 64)
    words[932] = trunc(min(escale, 1.0) * 255) | field(clip(elw, 7, True), 7) << 8
    words[936] = simil[0] | simil[1] << 8 | simil[2] << 16 | simil[3] << 24 if not bypass else 0
    words[940] = simil[4] | simil[5] << 8 | simil[6] << 16 if not bypass else 0
    words[944] = avoid[0] | avoid[1] << 8 | avoid[2] << 16 | avoid[3] << 24 if not bypass else 0
    words[948] = avoid[4] | avoid[5] << 8 | avoid[6] << 16 if not bypass else 0
    return words


# ---- HDR record

def hdr_fields(tags, bit_depth=10):
    ratio = num(tags, "HDR_EXPOSURE_RATIO", 0, 1, 256, 0.0) if "HDR_EXPOSURE_RATIO" in tags else (
        2.0 ** (bit_depth - 6))
    ratio = max(ratio, 1.0)
    black1 = int(num(tags, "HDR_BLACK_LEVEL", 1, 0, 4095, 0))
    lum = [num(tags, "HDR_LUM_COEFFS", k, 0, 1, [0.2126, 0.7152, 0.0722][k]) for k in range(3)]
    scale, white = num(tags, "HDR_TNM_SCALE", 0, 0, 1e8, 1.0), num(tags, "HDR_TNM_WHITE", 0, 0, 1e8, 1.0)
    mode = tags.get("HDR_MERGE_MODE", ["NORMAL"])[0]
    f = {"HDR_RATIO": fix(ratio, 8, 8, False), "HDR_GAIN": fix(256.0 / ratio, 8, 8, False)}
    for k in range(3):
        f["HDR_LUM_%d" % k] = fix(lum[k], 0, 12, False)

    def tent(t):
        return 2 * max(0.0, min(t, 1 - t))

    def smooth(u):
        return u * u * (3 - 2 * u)

    for i in (0, 1, 2048, 3072, 4032, 4095):
        if mode in ("SHORT_ONLY", "LONG_ONLY"):
            wv = 1.0 if mode == "LONG_ONLY" else 0.0
        else:
            ws, wl = smooth(tent(i / 4096.0 / ratio)), smooth(tent(i / (4096.0 - black1)))
            wv = 1.0 if ws + wl == 0 else wl / (ws + wl)
        f["HDR_WEIGHT_%d" % i] = fix(wv, 1, 8, False)
    for i in (0, 1, 256, 2048, 3327):
        e, m = divmod(i, 256)
        x = (m if e == 0 else (256 + m) * 2 ** (e - 1)) / 2.0 ** 20
        y = (x / white ** 2 + scale) * x / (x * scale + 1)
        f["HDR_TNM_%d" % i] = fix(4096 * min(max(y, 0.0), 1.0), 12, 0, False)
    return f


def main():
    tags = read_setup(sys.argv[1])
    lines = []
    for name, cb_first in (("NV21", False), ("NV12", True)):
        words = enhancer_words(tags, cb_first)
        words.update(sharpening_words(tags))
        for offset in sorted(words):
            lines.append("%s %d 0x%08x" % (name, offset, words[offset]))
        for key, value in hdr_fields(tags).items():
            lines.append("%s %s %d" % (name, key, value))
    with open(sys.argv[2]) as f:
        golden = [l.rstrip("\n") for l in f if l.strip()]
    ok = True
    if sorted(lines) != sorted(golden):
        ok = False
        mine, theirs = set(lines), set(golden)
        for l in sorted(theirs - mine):
            print("golden only:  " + l)
        for l in sorted(mine - theirs):
            print("audit only:   " + l)
    print("agree" if ok else "disagree")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
