#!/usr/bin/env python3
"""Register codes of the two colour-space converters, derived from the luma weights Kr and Kb alone.

Independent of the stack: it starts from Y = Kr R + (1 - Kr - Kb) G + Kb B, Cb = (B - Y) / (2 (1 - Kb)),
Cr = (R - Y) / (2 (1 - Kr)) and inverts that by hand. Prints one line per case:

    <block> <standard> <variant> c00 c01 c02 c10 c11 c12 c20 c21 c22 o0 o1 o2

RGB to YUV: full-range rows in S2.10 over (R, G, B), hardware order (Cr, Y, Cb), or (Cb, Y, Cr) for the
Cb-first encoder formats ("cbfirst"); offsets in 8-bit codes with 2 fraction bits.
YUV to RGB: rows R, G, B in S3.9 over the inputs (Cr, Y, Cb) ("crfirst") or (Cb, Y, Cr) ("cbfirst"), with
range multipliers 1 ("unit") or 255/219, 255/224 ("tv", the reference setup file); offsets S9.2.
"""
import sys

STANDARDS = {"BT601": (0.299, 0.114), "BT709": (0.2126, 0.0722)}


def rnd(v):
    """Round half away from zero, as the register conversion does."""
    return int(v + 0.5) if v >= 0 else -int(-v + 0.5)


def rgb_to_ycc(kr, kb):
    kg = 1.0 - kr - kb
    y = (kr, kg, kb)
    cb = tuple((b - yy) / (2 * (1 - kb)) for b, yy in zip((0, 0, 1), y))
    cr = tuple((r - yy) / (2 * (1 - kr)) for r, yy in zip((1, 0, 0), y))
    return y, cb, cr


def ycc_to_rgb(kr, kb):
    """Rows R, G, B over (Cr, Y, Cb)."""
    kg = 1.0 - kr - kb
    r_cr = 2 * (1 - kr)
    b_cb = 2 * (1 - kb)
    g_cr = -kr * r_cr / kg
    g_cb = -kb * b_cb / kg
    return ((r_cr, 1.0, 0.0), (g_cr, 1.0, g_cb), (0.0, 1.0, b_cb))


def main():
    out = []
    for name, (kr, kb) in STANDARDS.items():
        y, cb, cr = rgb_to_ycc(kr, kb)
        for variant, rows in (("crfirst", (cr, y, cb)), ("cbfirst", (cb, y, cr))):
            codes = [rnd(v * 1024) for row in rows for v in row]
            out.append(["R2Y", name, variant] + codes + [0, 0, 0])
        m = ycc_to_rgb(kr, kb)
        for rng, (my, mc) in (("unit", (1.0, 1.0)), ("tv", (255 / 219, 255 / 224))):
            scaled = [[row[0] * mc, row[1] * my, row[2] * mc] for row in m]
            for variant in ("crfirst", "cbfirst"):
                rows = scaled if variant == "crfirst" else [[r[2], r[1], r[0]] for r in scaled]
                codes = [rnd(v * 512) for row in rows for v in row]
                # Mid-level chroma and the luma foot are taken off the inputs: -128, -16, -128 codes.
                out.append(["Y2R_" + rng, name, variant] + codes + [-512, -64, -512])
    for line in out:
        print(" ".join(str(v) for v in line))
    return 0


if __name__ == "__main__":
    sys.exit(main())
