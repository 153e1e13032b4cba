#!/usr/bin/env python3
"""Writes the overlay's pixel art (the cat frames and the title wordmark) as PNG files, and the
application icon drawn from the idle cat (data/icons/hicolor/<size>/apps/vocalynx.png).

The pictures are drawn here as character tables, one character a pixel. The cat is painted in
dark tones on purpose: the sprite brightens and sharpens it when drawing, which turns these
tones into the light, warm cat seen on the black panel. Run this script to rebuild the PNGs.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

CAT_PALETTE = {
    '.': (0, 0, 0, 0),
    'k': (0, 0, 0, 255),        # outline and eyes
    'f': (80, 55, 25, 255),     # fur
    'd': (45, 30, 10, 255),     # stripes
    'p': (97, 42, 48, 255),     # ears and nose
    'w': (97, 97, 97, 255),     # eye shine, whiskers
    'a': (97, 48, 0, 255),      # sound marks
}

# Sitting cat, facing us, tail curled on the right.
BASE = [
    "................",
    "..k.......k.....",
    "..kk.....kk.....",
    "..kpk...kpk.....",
    "..kfpkkkpfk.....",
    ".kfffffffffk....",
    ".kfkwfffkwfk....",
    ".kfkkfffkkfk....",
    ".kffffpffffk....",
    "..kfdfkfdfk.....",
    "...kffffffk.....",
    "..kffffffffk..k.",
    "..kfdffffdfk.kfk",
    "..kffffffffkkfk.",
    "..kfkffffkfkfk..",
    "..kkkkkkkkkkk...",
]


def edit(rows, changes):
    """Returns a copy of rows with (row, column, text) pieces written over it."""
    out = [list(r) for r in rows]
    for r, c, text in changes:
        for i, ch in enumerate(text):
            out[r][c + i] = ch
    return ["".join(r) for r in out]


TAIL_UP = [(10, 12, "..kk"), (11, 12, ".kfk"), (12, 12, ".kfk"), (13, 12, "kfk."), (14, 12, "k..."), (15, 12, "....")]
TAIL_LOW = [(11, 12, "...."), (12, 12, "...."), (13, 12, "kkk."), (14, 12, "kffk"), (15, 12, "kkk.")]
BLINK = [(6, 2, "kkffffkkf"), (7, 2, "ffffffff")]
LOOK_LEFT = [(6, 2, "wkfffwkf"), (7, 2, "kkfffkkf")]
LOOK_RIGHT = [(6, 2, "kwfffkwf"), (7, 2, "kkfffkkf")]
EARS_UP = [(0, 2, "k.......k"), (1, 2, "kk.....kk"), (2, 2, "kpk...kpk"), (3, 2, "kpk...kpk"), (4, 2, "kfpkkkpfk")]
MOUTH_OPEN = [(9, 3, "fdpppdf")]
MOUTH_SMALL = [(9, 3, "fdkpkdf")]

FRAMES = {
    "CatIdle0": BASE,
    "CatIdle1": edit(BASE, TAIL_UP),
    "CatIdle2": edit(BASE, BLINK),
    "CatIdle3": edit(BASE, TAIL_LOW),
    "CatLoading0": edit(BASE, EARS_UP + LOOK_LEFT),
    "CatLoading1": edit(BASE, EARS_UP),
    "CatLoading2": edit(BASE, EARS_UP + LOOK_RIGHT),
    "CatLoading3": edit(BASE, EARS_UP + BLINK),
}

# Recording: the cat talks, with sound marks beside its head that come and go.
WAVE_1 = [(5, 13, "a"), (7, 13, "a")]
WAVE_2 = [(4, 13, ".a"), (6, 14, "a"), (8, 13, ".a")]
WAVE_3 = [(3, 14, "a"), (5, 15, "a"), (7, 15, "a"), (9, 14, "a")]
RECORDING = [
    EARS_UP + MOUTH_SMALL,
    EARS_UP + MOUTH_OPEN + WAVE_1,
    EARS_UP + MOUTH_OPEN + WAVE_1 + WAVE_2,
    EARS_UP + MOUTH_SMALL + WAVE_2 + WAVE_3,
    EARS_UP + MOUTH_OPEN + WAVE_3 + TAIL_UP,
    EARS_UP + MOUTH_OPEN + WAVE_1 + TAIL_UP,
    EARS_UP + MOUTH_SMALL + WAVE_1 + WAVE_2 + BLINK,
    EARS_UP + TAIL_LOW,
]
for i, changes in enumerate(RECORDING):
    FRAMES["CatRecording%d" % i] = edit(BASE, changes)

# The wordmark: "VOCALYNX" in a 5 x 7 pixel alphabet of our own, warm cream with an amber shade
# on the lower rows, on a transparent ground.
LETTERS = {
    'V': ["x...x", "x...x", "x...x", "x...x", ".x.x.", ".x.x.", "..x.."],
    'O': [".xxx.", "x...x", "x...x", "x...x", "x...x", "x...x", ".xxx."],
    'C': [".xxxx", "x....", "x....", "x....", "x....", "x....", ".xxxx"],
    'A': [".xxx.", "x...x", "x...x", "xxxxx", "x...x", "x...x", "x...x"],
    'L': ["x....", "x....", "x....", "x....", "x....", "x....", "xxxxx"],
    'Y': ["x...x", "x...x", ".x.x.", "..x..", "..x..", "..x..", "..x.."],
    'N': ["x...x", "xx..x", "xx..x", "x.x.x", "x..xx", "x..xx", "x...x"],
    'X': ["x...x", "x...x", ".x.x.", "..x..", ".x.x.", "x...x", "x...x"],
}


def title_rows():
    word = "VOCALYNX"
    pad = 1
    width = pad * 2 + len(word) * 5 + (len(word) - 1)
    rows = []
    for y in range(7):
        row = "." * pad
        for i, ch in enumerate(word):
            row += LETTERS[ch][y].replace('x', 'c' if y < 4 else 'm')
            if i < len(word) - 1:
                row += "."
        row += "." * pad
        assert len(row) == width
        rows.append(row)
    # Eight rows in all, so that the 16-point title draws every art pixel as exactly 2 x 2 points.
    return ["." * width] + rows


TITLE_PALETTE = {
    '.': (0, 0, 0, 0),
    'c': (250, 226, 186, 255),
    'm': (242, 194, 123, 255),
}


def write_png(path, rows, palette):
    height = len(rows)
    width = len(rows[0])
    raw = bytearray()
    for row in rows:
        assert len(row) == width, (path, row)
        raw.append(0)
        for ch in row:
            raw.extend(palette[ch])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


# The icon: the idle cat lit the way the panel draws it, on the panel's black with the corner
# pixels cut, scaled up by whole pixels (nearest neighbour) to each size of the icon theme.
ICON_SIZES = (16, 32, 48, 64, 128, 256)
ICON_DIR = os.path.join(HERE, "..", "..", "..", "data", "icons", "hicolor")


def lit(colour):
    """The sprite's brightening: 0.62 added to every channel, then contrast 1.1 about the middle."""
    def adjust(channel):
        c = min(1.0, channel / 255.0 + 0.62)
        c = (c - 0.5) * 1.1 + 0.5
        return int(round(max(0.0, min(1.0, c)) * 255))
    r, g, b, a = colour
    return (adjust(r), adjust(g), adjust(b), a)


def icon_rows():
    rows = []
    last = len(BASE) - 1
    for y, row in enumerate(BASE):
        out = ""
        for x, ch in enumerate(row):
            corner = x in (0, len(row) - 1) and y in (0, last)
            out += "." if corner else ("B" if ch == "." else ch)
        rows.append(out)
    return rows


def icon_palette():
    palette = {key: lit(colour) for key, colour in CAT_PALETTE.items() if key != "."}
    palette["."] = (0, 0, 0, 0)
    palette["B"] = (0, 0, 0, 255)
    return palette


def scaled(rows, factor):
    out = []
    for row in rows:
        wide = "".join(ch * factor for ch in row)
        out.extend([wide] * factor)
    return out


def main():
    for name, rows in FRAMES.items():
        assert len(rows) == 16 and all(len(r) == 16 for r in rows), name
        write_png(os.path.join(HERE, name + ".png"), rows, CAT_PALETTE)
    write_png(os.path.join(HERE, "VocalynxTitle.png"), title_rows(), TITLE_PALETTE)
    rows, palette = icon_rows(), icon_palette()
    for size in ICON_SIZES:
        assert size % len(rows) == 0, size
        folder = os.path.join(ICON_DIR, "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        write_png(os.path.join(folder, "vocalynx.png"), scaled(rows, size // len(rows)), palette)


if __name__ == "__main__":
    main()
