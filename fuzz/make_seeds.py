#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets that start from valid files.

    make_seeds.py CORPUS

CORPUS/bmp: small bitmaps, one per storage the bitmap reader decodes (1, 4 and 8 bits with a palette, 4- and
8-bit run lengths with every escape, 24 bits bottom-up and top-down), a few dozen bytes each, so that the fuzzer
starts from inputs that pass the headers and reach the row decoders.
CORPUS/lshgrid: lens-shading grid files (2 x 2 and 3 x 2 vertices).
CORPUS/board: board configuration files for the board-file reader (one slot, two slots with comments).
"""
import os
import struct
import sys

W, H = 5, 3  # odd sizes: every row is padded and a 4-bit row ends inside a byte


def bitmap(bits, pixels_data, palette=(), compression=0, height=H):
    info = struct.pack("<IiiHHIIiiII", 40, W, height, 1, bits, compression, len(pixels_data), 2835, 2835,
                       len(palette), 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    offset = 14 + len(info) + len(pal)
    head = struct.pack("<HIHHI", 0x4D42, offset + len(pixels_data), 0, 0, offset)
    return head + info + pal + pixels_data


def rows(row_bytes):
    """Rows padded to four bytes."""
    return b"".join(r + b"\0" * (-len(r) % 4) for r in row_bytes)


def write_all(folder, seeds):
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def grid(width, height, tile, planes):
    head = b"LSH\0" + struct.pack("<IIII", 1, width, height, tile)
    return head + b"".join(struct.pack("<%df" % (width * height), *p) for p in planes)


BOARD = """# board with one sensor slot
-Board_reset_need 1
-Board_reset_min_delay 1000
-Board_mux_need 0
-Board_pwdn_value 1
-Board_pwdn_pulse_need 1
-Board_pwdn_min_delay 1000
-Board_max_sensors 1
-Board_clock_frequency 27.0
-Board_clock_frequency_divider 1
-Sensor0_i2c 1
-Sensor0_gpiochip_reset 0
-Sensor0_gpio_reset 10
-Sensor0_gpiochip_pwdn 0
-Sensor0_gpio_pwdn 11
"""

BOARD_TWO_SLOTS = """-Board_reset_need 0   # no reset pulse
-Board_mux_need 1
-Board_pwdn_value 0
-Board_max_sensors 2
-Board_clock_frequency 24 -Board_clock_frequency_divider 256
-Sensor0_i2c 0 -Sensor0_gpiochip_reset 1 -Sensor0_gpio_reset -1 -Sensor0_gpiochip_pwdn 1 -Sensor0_gpio_pwdn 3
-Sensor1_i2c 2 -Sensor1_gpiochip_reset 0 -Sensor1_gpio_reset 12 -Sensor1_gpiochip_pwdn 0 -Sensor1_gpio_pwdn -1
"""


def main(corpus):
    write_all(os.path.join(corpus, "lshgrid"), {
        "flat_2x2.lsh": grid(2, 2, 16, [[1.0] * 4] * 4),
        "bowl_3x2.lsh": grid(3, 2, 64, [[1.5, 1.0, 1.5, 1.6, 1.1, 1.6]] * 2 + [[2.0, 1.25, 2.0, 2.1, 1.3, 2.1]] * 2),
    })
    write_all(os.path.join(corpus, "board"),
              {"one_slot.cfg": BOARD.encode(), "two_slots.cfg": BOARD_TWO_SLOTS.encode()})
    pal2 = [(0, 0, 0), (255, 255, 255)]
    pal16 = [(i * 17, 255 - i * 17, (i * 40) % 256) for i in range(16)]
    seeds = {
        "mono_5x3.bmp": bitmap(1, rows([bytes([0b10101000]), bytes([0b01010000]), bytes([0b11111000])]), pal2),
        "pal4_5x3.bmp": bitmap(4, rows([bytes([0x01, 0x23, 0x40]), bytes([0x56, 0x78, 0x90]),
                                        bytes([0xAB, 0xCD, 0xE0])]), pal16),
        "pal8_5x3.bmp": bitmap(8, rows([bytes([0, 1, 2, 3, 4]), bytes([5, 6, 7, 8, 9]),
                                        bytes([11, 12, 13, 14, 15])]), pal16),
        # two runs, end of line; an absolute run of odd length (padded), a delta along the row, a run of one,
        # end of line; a run; end of bitmap
        "rle8_5x3.bmp": bitmap(8, bytes([3, 7, 2, 9, 0, 0, 0, 3, 1, 2, 3, 0, 0, 2, 1, 0, 1, 4, 0, 0, 5, 6, 0, 1]),
                               pal16, compression=1),
        # a run of two alternating indices, end of line; an absolute run of five (three bytes, padded), end of
        # line; a delta along the row, a run; end of bitmap
        "rle4_5x3.bmp": bitmap(4, bytes([5, 0x12, 0, 0, 0, 5, 0x34, 0x56, 0x70, 0, 0, 0, 0, 2, 2, 0, 3, 0x6F, 0, 1]),
                               pal16, compression=2),
        "rgb24_5x3.bmp": bitmap(24, rows([bytes(range(y * 15, y * 15 + 15)) for y in range(H)])),
        "rgb24_topdown_5x3.bmp": bitmap(24, rows([bytes(range(200 - y * 15, 215 - y * 15)) for y in range(H)]),
                                        height=-H),
    }
    write_all(os.path.join(corpus, "bmp"), seeds)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
