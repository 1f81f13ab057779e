#!/usr/bin/env python3
"""Second, independent reader and writer of NRV image files (standard library only).

The tests use it as an oracle against the C++ container: files written by one side are read by the other.

Commands (all output on stdout):
  dump FILE...             print "file FILE" and the frames of each file in the canonical dump text
  rewrite IN OUT...        read each IN and write every segment again (same items, same frames) to OUT
  make SEED COUNT DIR      write COUNT random files DIR/py_<seed>.nrv (seeds SEED..), print their dumps
  bad DIR KIND...          write damaged files DIR/KIND.nrv for the refusal tables
"""
import random
import re
import sys

MODELS = {  # model number: (COLOUR_FORMAT word, channels)
    1: ("Grayscale", 1), 2: ("RGB", 3), 3: ("RGBA", 4), 4: ("RGGB", 4),
    5: ("RGBW", 4), 6: ("YUV", 3), 7: ("YUVA", 4),
}
BAYER_PHASES = {  # order: (PHASE_OFFSET_HOR, PHASE_OFFSET_VER)
    4: ("0 1 0 1", "0 0 1 1"), 5: ("1 0 1 0", "0 0 1 1"),
    6: ("0 1 0 1", "1 1 0 0"), 7: ("1 0 1 0", "1 1 0 0"),
}
YUV_SAMPLING = {1: ("1 1 1", "1 1 1"), 2: ("1 2 2", "1 1 1"), 3: ("1 2 2", "1 2 2")}
OLD_WORDS = {"RGGB": 4, "GRBG": 5, "GBRG": 6, "BGGR": 7, "444": 1, "422": 2, "420": 3}


class NrvError(Exception):
    pass


def ceil_div(a, b):
    return -(-a // b)


def sampling(subs, c):
    """(x factor, y factor) of channel c under a subsampling mode."""
    if subs in (4, 5, 6, 7):
        return 2, 2
    if subs == 2:
        return (1 if c == 0 else 2), 1
    if subs == 3:
        return (1, 1) if c == 0 else (2, 2)
    return 1, 1


def container_bytes(depth):
    return 1 if depth <= 8 else (2 if depth <= 16 else 4)


def line_bytes(width, depths, packing, group, align):
    """Bytes of one file line of `width` pixels whose channels have `depths`."""
    n = len(depths)
    if packing in ("unpackedR", "unpackedL"):
        size = width * sum(container_bytes(d) for d in depths)
    else:
        g = max(group, 1)
        samples = width * n
        size = 0
        # Every group starts on a byte; the last group counts as a whole one.
        for j in range(ceil_div(samples, g)):
            size += ceil_div(sum(depths[(j * g + k) % n] for k in range(g)), 8)
    if align >= 2:
        size = ceil_div(size, align) * align
    return size


def sign_extend(value, bits):
    value &= (1 << bits) - 1
    return value - (1 << bits) if value >> (bits - 1) else value


# ------------------------------------------------------------------------------------------- description


class Meta:
    def __init__(self, items):
        self.items = list(items)  # [(name, value)] in file order

    def find(self, name):
        for n, v in self.items:
            if n.lower() == name.lower():
                return v
        return None

    def values(self, name):
        v = self.find(name)
        return [] if v is None else v.split()

    def int_at(self, name, default, index, extend=True):
        vals = self.values(name)
        if not vals:
            return default
        if index >= len(vals):
            if not extend:
                return default
            index = len(vals) - 1
        m = re.match(r"\s*([+-]?\d+)", vals[index])
        return int(m.group(1)) if m else default

    def float_at(self, name, default, index):
        vals = self.values(name)
        if not vals:
            return default
        try:
            return float(vals[min(index, len(vals) - 1)])
        except ValueError:
            return default


def detect_subsampling(model, meta):
    if meta.find("SUBSAMPLING_HOR") is None and meta.find("SUBSAMPLING_VER") is None:
        for n, v in meta.items:  # old single word, exact case of the value
            if n.lower() == "subsampling":
                return OLD_WORDS.get(v, 0)
        return 0
    nch = MODELS[model][1]
    sh = sv = ph = pv = 0
    for c in range(nch):
        sh |= (meta.int_at("SUBSAMPLING_HOR", 1, c) & 15) << (4 * c)
        sv |= (meta.int_at("SUBSAMPLING_VER", 1, c) & 15) << (4 * c)
        ph |= (int(2 * meta.float_at("PHASE_OFFSET_HOR", 0.0, c) + 0.5) & 15) << (4 * c)
        pv |= (int(2 * meta.float_at("PHASE_OFFSET_VER", 0.0, c) + 0.5) & 15) << (4 * c)
    if model == 4:
        if sh == sv == 0x2222:
            return {(0x2020, 0x2200): 4, (0x0202, 0x2200): 5, (0x2020, 0x0022): 6,
                    (0x0202, 0x0022): 7}.get((ph, pv), 0)
        return 0
    if model in (6, 7):
        if sh == sv == 0x111 and ph == pv == 0:
            return 1
        if sh == 0x221 and sv == 0x111 and pv == 0 and ph in (0, 0x110):
            return 2
        if sh == sv == 0x221 and ((ph, pv) == (0, 0) or (pv == 0x110 and ph in (0, 0x110))):
            return 3
    return 0


class Description:
    """What the metadata of one segment says about its frames."""

    def __init__(self, meta, previous_subs=0):
        self.width = meta.int_at("WIDTH", 0, 0, False)
        self.height = meta.int_at("HEIGHT", 0, 0, False)
        word = meta.find("COLOUR_FORMAT")
        if word is None:
            self.model = 2
        elif word == "Bayer":
            self.model = 4
        else:
            self.model = next((m for m, (w, _) in MODELS.items() if w.lower() == word.lower()), 0)
            if not self.model:
                raise NrvError("Invalid colour format")
        nch = MODELS[self.model][1]
        if any(meta.find(n) is not None for n in ("SUBSAMPLING_HOR", "SUBSAMPLING_VER", "SUBSAMPLING")):
            self.subs = detect_subsampling(self.model, meta)
        elif self.model in (6, 7):
            self.subs = 1
        elif self.model == 4:
            self.subs = 4
        elif self.model == 5:
            self.subs = previous_subs
        else:
            self.subs = 0  # grey and RGB planes are never subsampled
        pf = meta.find("PIXEL_FORMAT")
        self.groups = [0, 0, 0, 0]
        if pf is None or pf.lower() == "unpackedr":
            self.packing = "unpackedR"
        elif pf.lower() == "unpackedl":
            self.packing = "unpackedL"
        elif pf.lower().startswith("grouppacked "):
            self.packing = "grouppacked"
            nums = [int(x) for x in re.findall(r"[+-]?\d+", pf[12:])][:4]
            if not nums or 0 in nums:
                raise NrvError("Invalid group packing value")
            self.groups = nums + [nums[-1]] * (4 - len(nums))
        else:
            raise NrvError("Invalid pixel format")
        self.channels = []
        for c in range(nch):
            xs, ys = sampling(self.subs, c)
            self.channels.append(dict(w=ceil_div(self.width, xs), h=ceil_div(self.height, ys),
                                      bd=meta.int_at("BITDEPTH", 8, c), signed=meta.int_at("SIGNED", 0, c) != 0))
        counts = meta.values("PLANE_FORMAT")
        nplanes = len(counts) if counts else nch
        self.planes = []  # (first channel, channel count, line alignment)
        base = 0
        for p in range(nplanes):
            n = meta.int_at("PLANE_FORMAT", 1, p) if counts else 1
            self.planes.append((base, n, meta.int_at("LINE_ALIGN", 1, p)))
            base += n
        if base != nch:
            raise NrvError("Invalid plane format")

    def plane_line_bytes(self, p):
        base, n, align = self.planes[p]
        depths = [self.channels[base + k]["bd"] for k in range(n)]
        return line_bytes(self.channels[base]["w"], depths, self.packing, self.groups[min(p, 3)], align)

    def frame_bytes(self):
        return sum(self.plane_line_bytes(p) * self.channels[self.planes[p][0]]["h"] for p in range(len(self.planes)))

    def decode(self, data):
        """Channel sample lists of one frame from its bytes."""
        out = [[] for _ in self.channels]
        pos = 0
        for p, (base, n, _) in enumerate(self.planes):
            size = self.plane_line_bytes(p)
            chs = [self.channels[base + k] for k in range(n)]
            for _ in range(chs[0]["h"]):
                line = data[pos:pos + size]
                if len(line) != size:
                    raise NrvError("Error reading file")
                pos += size
                if self.packing == "grouppacked":
                    bits = int.from_bytes(line, "little")
                    at = 0
                    count = 0
                    g = max(self.groups[min(p, 3)], 1)
                    for _x in range(chs[0]["w"]):
                        for k, ch in enumerate(chs):
                            v = (bits >> at) & ((1 << ch["bd"]) - 1)
                            out[base + k].append(sign_extend(v, ch["bd"]) if ch["signed"] else v)
                            at += ch["bd"]
                            count += 1
                            if count % g == 0:
                                at = ceil_div(at, 8) * 8
                else:
                    off = 0
                    for _x in range(chs[0]["w"]):
                        for k, ch in enumerate(chs):
                            cb = container_bytes(ch["bd"])
                            raw = int.from_bytes(line[off:off + cb], "little")
                            off += cb
                            v = sign_extend(raw, 8 * cb) if ch["signed"] else raw
                            if self.packing == "unpackedL":
                                v >>= 8 * cb - ch["bd"]
                            out[base + k].append(v)
        return out

    def encode(self, samples):
        """Bytes of one frame from its channel sample lists (samples already inside their ranges)."""
        blob = bytearray()
        for p, (base, n, _) in enumerate(self.planes):
            size = self.plane_line_bytes(p)
            chs = [self.channels[base + k] for k in range(n)]
            w = chs[0]["w"]
            for y in range(chs[0]["h"]):
                if self.packing == "grouppacked":
                    bits = at = count = 0
                    g = max(self.groups[min(p, 3)], 1)
                    for x in range(w):
                        for k, ch in enumerate(chs):
                            bits |= (samples[base + k][y * w + x] & ((1 << ch["bd"]) - 1)) << at
                            at += ch["bd"]
                            count += 1
                            if count % g == 0:
                                at = ceil_div(at, 8) * 8
                    blob += bits.to_bytes(size, "little")
                else:
                    line = bytearray()
                    for x in range(w):
                        for k, ch in enumerate(chs):
                            cb = container_bytes(ch["bd"])
                            v = samples[base + k][y * w + x]
                            if self.packing == "unpackedL":
                                v <<= 8 * cb - ch["bd"]
                            line += (v & ((1 << (8 * cb)) - 1)).to_bytes(cb, "little")
                    blob += line + bytes(size - len(line))
        return bytes(blob)


# ------------------------------------------------------------------------------------------- file level


def parse_entry(text):
    if not re.fullmatch(r" *[+-]?\d+", text):
        raise NrvError("Error in header (table format)")
    return int(text)


def read_nrv(path):
    """[(meta, description, [frame sample lists])] for each segment."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) <= 7:
        raise NrvError("Invalid NRV file")
    segments = []
    pos = 0
    subs = 0
    while True:
        hdr = data[pos:pos + 8]
        if len(hdr) < 8:
            raise NrvError("File not valid" if pos == 0 else "Can't read segment header")
        if hdr[0:3] != b"NRV" or hdr[4:5] != b"\n" or not hdr[5:7].isdigit() or hdr[7:8] != b" ":
            raise NrvError("Invalid segment header")
        if hdr[3:4] != b"1":
            raise NrvError("Unsupported file version")
        n = int(hdr[5:7])
        if n < 4:
            raise NrvError("Unexpected header (table size too small)")
        table = [parse_entry(data[pos + 8 + 14 * i:pos + 21 + 14 * i].decode("latin-1")) for i in range(n)]
        meta_off, meta_size, pix_off, pix_size = table[:4]
        if meta_size == 0 or pix_size == 0:
            raise NrvError("Missing section")
        text = data[pos + meta_off:pos + meta_off + meta_size].decode("latin-1")
        items = []
        for line in text.split("\n"):
            if line == "":
                continue
            if "=" not in line:
                raise NrvError("Error loading meta data")
            name, value = line.rsplit("=", 1)
            items.append((name, value))
        meta = Meta(items)
        desc = Description(meta, subs)
        subs = desc.subs
        pairs = [(table[i], table[i + 1]) for i in range(0, n - 1, 2)]
        best = max(range(len(pairs)), key=lambda i: (pairs[i][0], -i))
        seg_size = pairs[best][0] + pairs[best][1]
        sizes = [int(v) for v in meta.values("FRAME_SIZE")] or [desc.frame_bytes()]
        offsets = [pix_off]
        for s in sizes:
            offsets.append(offsets[-1] + s)
        count = len(sizes) + (pix_off + pix_size - offsets[-1]) // sizes[-1]
        frames = []
        for k in range(count):
            start = offsets[k] if k < len(sizes) else offsets[-1] + (k - len(sizes)) * sizes[-1]
            frames.append(desc.decode(data[pos + start:pos + start + desc.frame_bytes()]))
        segments.append((meta, desc, frames))
        pos += seg_size
        if pos == len(data):
            return segments
        if pos > len(data):
            raise NrvError("File appears truncated")


def write_nrv(path, segments):
    """segments: [(meta items, [frame sample lists])]; the items must describe the frames."""
    out = bytearray()
    for items, frames in segments:
        desc = Description(Meta(items))
        text = "".join("%s=%s\n" % (n, v) for n, v in items).encode("latin-1")
        pixels = b"".join(desc.encode(fr) for fr in frames)
        out += b"NRV1\n04" + b"".join(b" %013d" % v for v in (64, len(text), 64 + len(text), len(pixels))) + b"\n"
        out += text + pixels
    with open(path, "wb") as f:
        f.write(out)


def dump(segments):
    lines = []
    index = 0
    for _meta, desc, frames in segments:
        for fr in frames:
            lines.append("frame %d model %d %dx%d" % (index, desc.model, desc.width, desc.height))
            for c, ch in enumerate(desc.channels):
                lines.append("ch %d %dx%d bd %d s %d:%s" % (c, ch["w"], ch["h"], ch["bd"], int(ch["signed"]),
                                                            "".join(" %d" % v for v in fr[c])))
            index += 1
    return "\n".join(lines) + "\n"


# ------------------------------------------------------------------------------------------- random files


def random_segment(rng, seed, models=(1, 2, 3, 4, 4, 4, 5, 6, 6, 6, 7)):
    model = rng.choice(models)
    nch = MODELS[model][1]
    width, height = rng.randint(1, 9), rng.randint(1, 7)
    items = [("WIDTH", str(width)), ("HEIGHT", str(height)), ("COLOUR_FORMAT", MODELS[model][0])]
    subs = 0
    if model == 4:
        subs = rng.choice([4, 5, 6, 7])
        items += [("SUBSAMPLING_HOR", "2 2 2 2"), ("SUBSAMPLING_VER", "2 2 2 2"),
                  ("PHASE_OFFSET_HOR", BAYER_PHASES[subs][0]), ("PHASE_OFFSET_VER", BAYER_PHASES[subs][1])]
    elif model == 6:
        subs = rng.choice([1, 2, 3])
        items += [("SUBSAMPLING_HOR", YUV_SAMPLING[subs][0]), ("SUBSAMPLING_VER", YUV_SAMPLING[subs][1])]
    elif model == 7:
        subs = 1
    depths = [(seed * 5 + 3 * c) % 31 + 1 for c in range(nch)]
    signed = [rng.randint(0, 1) for _ in range(nch)]
    items += [("BITDEPTH", " ".join(map(str, depths))), ("SIGNED", " ".join(map(str, signed)))]
    # Planes: consecutive channels of equal sampling may share a plane.
    planes = []
    c = 0
    while c < nch:
        n = 1
        while c + n < nch and sampling(subs, c + n) == sampling(subs, c) and rng.random() < 0.5:
            n += 1
        planes.append(n)
        c += n
    items.append(("PLANE_FORMAT", " ".join(map(str, planes))))
    packing = rng.choice(["unpackedR", "unpackedL", "grouppacked"])
    if packing == "grouppacked":
        packing += "".join(" %d" % rng.randint(1, 99) for _ in planes)
    items.append(("PIXEL_FORMAT", packing))
    items += [("SENSOR_EXPOSURE_TIME", "0"), ("SENSOR_GAIN", "0")]
    align = rng.choice([0, 0, 2, 3, 4, 8, 16])
    desc = Description(Meta(items + ([("LINE_ALIGN", str(align))] if align > 1 else [])))
    items.append(("FRAME_SIZE", str(desc.frame_bytes())))
    if align > 1:
        items.append(("LINE_ALIGN", str(align)))
    frames = []
    for _ in range(rng.randint(1, 3)):
        fr = []
        for ch in desc.channels:
            lo, hi = (-(1 << (ch["bd"] - 1)), (1 << (ch["bd"] - 1)) - 1) if ch["signed"] else (0, (1 << ch["bd"]) - 1)
            fr.append([rng.choice([lo, hi, rng.randint(lo, hi)]) for _ in range(ch["w"] * ch["h"])])
        frames.append(fr)
    return items, frames


def make(seed, path):
    rng = random.Random(seed)
    segments = [random_segment(rng, seed)]
    if seed % 3 == 0:
        # A later RGBW segment would keep the order of a Bayer one: such files are not made here.
        segments.append(random_segment(rng, seed + 11, models=(1, 2, 3, 4, 6, 7)))
    write_nrv(path, segments)
    return read_nrv(path)


# ------------------------------------------------------------------------------------------- damaged files


def header(entries, count=None):
    count = len(entries) if count is None else count
    return b"NRV1\n%02d" % count + b"".join(b" %013d" % v for v in entries) + b"\n"


def good_meta(**over):
    items = dict(WIDTH="4", HEIGHT="2", COLOUR_FORMAT="RGGB", BITDEPTH="10", PIXEL_FORMAT="unpackedR",
                 FRAME_SIZE="16")
    items.update(over)
    return "".join("%s=%s\n" % (k, v) for k, v in items.items() if v is not None).encode()


def segment(meta, pixels, extra=()):
    return header([64 + 14 * len(extra), len(meta), 64 + 14 * len(extra) + len(meta), len(pixels)] + list(extra)) \
        + meta + pixels


def bad(kind, path):
    px = bytes(16)
    m = good_meta()
    files = {
        "good": segment(m, px),
        "short": b"NRV1\n04",
        "magic": b"NRX" + segment(m, px)[3:],
        "version": segment(m, px).replace(b"NRV1", b"NRV2", 1),
        "entries3": header([64, len(m), 64 + len(m)], 3) + m + px,
        "entry_blanks": b"NRV1\n04 64           " + segment(m, px)[21:],
        "entry_text": b"NRV1\n04 00000000000x4" + segment(m, px)[21:],
        "meta_zero": header([64, 0, 64, 16]) + px,
        "pixels_zero": header([64, len(m), 64 + len(m), 0]) + m,
        "meta_beyond": header([64, len(m) + 100, 64 + len(m), 16]) + m + px,
        "pixels_beyond": header([64, len(m), 64 + len(m), 1000]) + m + px,
        "negative_meta": header([64, -5, 64 + len(m), 16]) + m + px,
        "negative_pair": segment(m, px) + header([64, len(m), 64 + len(m), 16, 1000, -1000]) + m + px,
        "zero_segment": header([0, 10, 0, 1, 0, 1]) + m + px,
        "no_equals": segment(m + b"JUNK\n", px),
        "frame_size_zero": segment(good_meta(FRAME_SIZE="0"), px),
        "frame_size_negative": segment(good_meta(FRAME_SIZE="-16"), px),
        "colour": segment(good_meta(COLOUR_FORMAT="CMYK"), px),
        "colour_cr": segment(good_meta(COLOUR_FORMAT="RGGB\r"), px),
        "pixel_format": segment(good_meta(PIXEL_FORMAT="packedX"), px),
        "group_missing": segment(good_meta(PIXEL_FORMAT="grouppacked "), px),
        "group_zero": segment(good_meta(PIXEL_FORMAT="grouppacked 0"), px),
        "group_huge": segment(good_meta(PIXEL_FORMAT="grouppacked 2000000000"), px),
        "huge_width": segment(good_meta(WIDTH="2000000000", FRAME_SIZE="16"), px),
        "huge_height_fits_listed": segment(good_meta(HEIGHT="30000", FRAME_SIZE="16"), px),
        "zero_width": segment(good_meta(WIDTH="0"), px),
        "bitdepth_zero": segment(good_meta(BITDEPTH="0"), px),
        "bitdepth_32": segment(good_meta(BITDEPTH="32"), px),
        "bitdepth_40": segment(good_meta(BITDEPTH="40"), px),
        "zero_subsampling": segment(good_meta(COLOUR_FORMAT="RGB", SUBSAMPLING_HOR="0", SUBSAMPLING_VER="0",
                                              FRAME_SIZE="48"), bytes(48)),
        "frames_outside": segment(good_meta(FRAME_SIZE="16 16"), px),
        "truncated": segment(m, px)[:-1],
        "second_truncated": segment(m, px) + segment(m, px)[:-4],
        "extra_short": segment(m, px) + b"NRV1\n",
        "extra_garbage": segment(m, px) + b"garbage-garbage!",
        "line_align_huge": segment(good_meta(LINE_ALIGN="2147483647"), px),
        "plane_format_many": segment(good_meta(PLANE_FORMAT="1 " * 5000), px),
        "plane_format_short": segment(good_meta(COLOUR_FORMAT="RGB", PLANE_FORMAT="1", FRAME_SIZE="24"), bytes(24)),
        "many_entries": segment(m, px, extra=(10, 10) * 47 + (0,)),
        "segment_beyond": segment(m, px, extra=(5000, 10)),
    }
    with open(path, "wb") as f:
        if kind == "meta_too_large":  # a sparse file: the sizes are real, the disk use is not
            big = 268435457
            f.write(header([64, big, 64 + big, 1]))
            f.truncate(64 + big + 1)
            return
        f.write(files[kind])


def main(argv):
    cmd = argv[1]
    try:
        if cmd == "dump":
            for p in argv[2:]:
                sys.stdout.write("file %s\n" % p)
                sys.stdout.write(dump(read_nrv(p)))
        elif cmd == "rewrite":
            for src, dst in zip(argv[2::2], argv[3::2]):
                write_nrv(dst, [(meta.items, frames) for meta, _d, frames in read_nrv(src)])
        elif cmd == "make":
            seed, count, folder = int(argv[2]), int(argv[3]), argv[4]
            for s in range(seed, seed + count):
                sys.stdout.write("file %d\n" % s)
                sys.stdout.write(dump(make(s, "%s/py_%d.nrv" % (folder, s))))
        elif cmd == "bad":
            for kind in argv[3:]:
                bad(kind, "%s/%s.nrv" % (argv[2], kind))
        else:
            raise SystemExit("unknown command " + cmd)
    except NrvError as e:
        sys.stdout.write("error: %s\n" % e)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
