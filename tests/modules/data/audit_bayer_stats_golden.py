#!/usr/bin/python3
"""Audit of bayer_stats_golden.txt: recomputes the register values and load-structure words of the EXS, ENS, DPF,
LCA, CCM, WBS, AWS and HIS blocks from the MC values in the same file, with the fixed-point rules, the block
conversions and the register map of the hardware, written here independently of the C++ code. Prints every
mismatch and exits 1 when there is one.

Usage: audit_bayer_stats_golden.py [golden file]
"""
import math
import os
import sys


def trunc32(v):
    """A real to a 32-bit integer toward zero, saturating; NaN gives 0."""
    if v != v:
        return 0
    v = math.trunc(v) if abs(v) < 2**40 else (2**31 - 1 if v > 0 else -2**31)
    return max(-2**31, min(2**31 - 1, v))


def clip(v, bits, signed):
    upper = 2 ** (bits - (1 if signed else 0)) - 1
    lower = -(2 ** (bits - 1)) if signed else 0
    return max(lower, min(upper, v))


def fix(x, int_bits, fract_bits, signed):
    """Real value to register field: rounding half away from zero (signed) or half up, then clipped."""
    if fract_bits >= 0:
        r = -0.5 if signed and x < 0 else 0.5
        return clip(trunc32(x * 2.0**fract_bits + r), int_bits + fract_bits, signed)
    return clip(trunc32(x), int_bits, signed) >> -fract_bits


def field(v, hi, lo):
    return (v & ((1 << (hi - lo + 1)) - 1)) << lo


def read_golden(path):
    values = {}
    words = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith('#'):
                continue
            parts = line.split()
            if parts[0] == 'word':
                words[int(parts[1])] = int(parts[2], 16)
            else:
                values[parts[0]] = [float(p) for p in parts[1:]]
    return values, words


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), 'bayer_stats_golden.txt')
    v, words = read_golden(path)

    def one(name):
        return v[name][0]

    def ints(name):
        return [int(x) for x in v[name]]

    want = {}  # offset -> word
    regs = {}  # register beside the load structure -> values

    # exposure statistics: origin, tile, pixel maximum truncated
    want[0] = field(int(one('sEXS.ui16Left')), 15, 0) | field(int(one('sEXS.ui16Top')), 31, 16)
    want[4] = field(int(one('sEXS.ui16Width')), 13, 0) | field(int(one('sEXS.ui16Height')), 29, 16)
    want[8] = field(trunc32(one('sEXS.fPixelMax')) & 0xFFFF, 11, 0)

    # auto-white-balance statistics
    start_row, start_col = int(one('sAWS.ui16GridStartRow')), int(one('sAWS.ui16GridStartColumn'))
    tile_w, tile_h = int(one('sAWS.ui16GridTileWidth')), int(one('sAWS.ui16GridTileHeight'))
    want[156] = field(start_col // 2, 15, 0) | field(start_row // 2, 31, 16)
    want[160] = field(tile_w // 2 - 1, 11, 0) | field(tile_h // 2 - 1, 27, 16)
    want[164] = field(fix(one('sAWS.fLog2_R_Qeff'), 8, 5, True), 12, 0) | \
        field(fix(one('sAWS.fLog2_B_Qeff'), 8, 5, True), 28, 16)

    def u88(name):
        return fix(one(name), 8, 8, False)

    want[168] = field(u88('sAWS.fRedDarkThresh'), 15, 0) | field(u88('sAWS.fGreenDarkThresh'), 31, 16)
    want[172] = field(u88('sAWS.fBlueDarkThresh'), 15, 0) | field(u88('sAWS.fRedClipThresh'), 31, 16)
    want[176] = field(u88('sAWS.fGreenClipThresh'), 15, 0) | field(u88('sAWS.fBlueClipThresh'), 31, 16)
    want[180] = field(fix(one('sAWS.fBbDist'), 7, 5, False), 11, 0)
    want[184] = 1 if one('sAWS.bDebugBitmap') != 0 else 0
    for name in ('aCurveCoeffX', 'aCurveCoeffY', 'aCurveOffset', 'aCurveBoundary'):
        regs['sCurveCoeffs.' + name] = [fix(x, 5, 10, True) for x in v['sAWS.' + name]]

    # defective pixels: detect bit, threshold, weight U6.0, positive/negative thresholds 0
    enable = int(one('sDPF.eDPFEnable'))
    want[292] = enable & 1
    want[296] = field(int(one('sDPF.ui8Threshold')), 7, 0) | field(fix(one('sDPF.fWeight'), 6, 0, False), 21, 16)
    want[304] = 0
    regs['sDefectivePixels.eDPFEnable'] = [enable]
    n = int(one('sDPF.ui32NDefect'))
    regs['sDefectivePixels.sInput.ui32NDefect'] = [n]
    lines = int(one('sDPF.ui16NbLines'))
    if lines != 0:
        defects = ints('sDPF.apDefectInput')
        per_window = {}
        for i in range(n):
            w = defects[2 * i + 1] // lines
            per_window[w] = per_window.get(w, 0) + 1
        regs['sDefectivePixels.sInput.ui16InternalBufSize'] = [4 * max(per_window.values()) + 4]
    else:
        regs['sDefectivePixels.sInput.ui16InternalBufSize'] = [0]

    # lateral chromatic aberration: coefficients S5.7, centres, decimation and shift
    for k in range(3):
        red, blue = v['sLCA.aCoeffRed[%d]' % k], v['sLCA.aCoeffBlue[%d]' % k]
        want[308 + 8 * k] = field(fix(red[0], 5, 7, True), 11, 0) | field(fix(red[1], 5, 7, True), 27, 16)
        want[312 + 8 * k] = field(fix(blue[0], 5, 7, True), 11, 0) | field(fix(blue[1], 5, 7, True), 27, 16)
    off_r, off_b = ints('sLCA.aOffsetRed'), ints('sLCA.aOffsetBlue')
    want[332] = field(off_r[0], 13, 0) | field(off_r[1], 29, 16)
    want[336] = field(off_b[0], 13, 0) | field(off_b[1], 29, 16)
    dec, shift = ints('sLCA.aDec'), ints('sLCA.aShift')
    want[340] = field(dec[0], 3, 0) | field(shift[0], 9, 8) | field(dec[1], 19, 16) | field(shift[1], 25, 24)

    # colour correction: coefficients S3.9; offsets truncated, saturating at 12 bits
    for r in range(3):
        c = [fix(x, 3, 9, True) for x in v['sCCM.aCoeff[%d]' % r]]
        want[352 + 8 * r] = field(c[0], 11, 0) | field(c[1], 27, 16)
        want[356 + 8 * r] = field(c[2], 11, 0) | field(c[3], 27, 16)
    off = [clip(trunc32(x), 12, True) for x in v['sCCM.aOffset']]
    want[376] = field(off[0], 11, 0) | field(off[1], 27, 16)
    want[380] = field(off[2], 11, 0)

    # white-balance statistics: regions as inclusive bounds, offsets S9.4, thresholds
    active = int(one('sWBS.ui8ActiveROI'))
    left, top = ints('sWBS.aRoiLeft'), ints('sWBS.aRoiTop')
    width, height = ints('sWBS.aRoiWidth'), ints('sWBS.aRoiHeight')
    for k in range(2):
        right = 0 if left[k] + width[k] == 0 else clip(left[k] + width[k] - 1, 15, False)
        bottom = 0 if top[k] + height[k] == 0 else clip(top[k] + height[k] - 1, 15, False)
        want[460 + 4 * k] = field(left[k], 14, 0) | field(top[k], 30, 16)
        want[468 + 4 * k] = field(right, 14, 0) | field(bottom, 30, 16)
        want[480 + 4 * k] = field(ints('sWBS.aRMax')[k], 11, 0) | field(ints('sWBS.aGMax')[k], 23, 12)
        want[488 + 4 * k] = field(ints('sWBS.aBMax')[k], 11, 0) | field(ints('sWBS.aYMax')[k], 23, 12)
    want[476] = field(active - 1 if active >= 1 else 0, 0, 0) | \
        field(fix(one('sWBS.fRGBOffset'), 9, 4, True), 16, 4) | field(fix(one('sWBS.fYOffset'), 9, 4, True), 30, 18)

    # histograms: offset and scale truncated, grid
    want[520] = field(trunc32(one('sHIS.fInputOffset')), 9, 0) | field(trunc32(one('sHIS.fInputScale')), 31, 16)
    want[524] = field(int(one('sHIS.ui16Left')), 13, 0) | field(int(one('sHIS.ui16Top')), 29, 16)
    want[528] = field(int(one('sHIS.ui16Width')), 13, 0) | field(int(one('sHIS.ui16Height')), 29, 16)

    # encoder statistics: lines limited to 8..1024, log2 − 3; subsampling log2 (below 2: 0)
    nl = max(8, min(1024, int(one('sENS.ui32NLines'))))
    regs['sEncStats.ui8Log2NCouples'] = [int(math.floor(math.log2(nl))) - 3]
    s = int(one('sENS.ui32KernelSubsampling'))
    regs['sEncStats.ui8SubExp'] = [0 if s < 2 else int(math.floor(math.log2(s)))]

    bad = 0
    for offset in sorted(want):
        got = words.get(offset)
        if got != want[offset] & 0xFFFFFFFF:
            print('word %d: golden %s, formulas 0x%08x' % (offset, 'missing' if got is None else '0x%08x' % got,
                                                          want[offset] & 0xFFFFFFFF))
            bad += 1
    for name in sorted(regs):
        got = [int(x) for x in v.get(name, [])]
        if got != regs[name]:
            print('%s: golden %s, formulas %s' % (name, got, regs[name]))
            bad += 1
    print('%d words and %d registers audited, %d mismatches' % (len(want), len(regs), bad))
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main())
