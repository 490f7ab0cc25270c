#!/usr/bin/env python3
"""Draws Tolvane's resource artwork and writes it to res/art/.

Everything is drawn here, pixel by pixel, with nothing but the standard
library: small pictures are written out as character grids, the larger ones
are put together with a few drawing helpers. The output is the same, byte for
byte, on every run, so the files can be regenerated at any time:

    python3 scripts/make_artwork.py

Files written:
    tolvane.ico       program icon, 16x16 and 32x32, 16 colours
    window.ico        icon for windows that have none of their own
    finder.cur        target cursor used while dragging the window finder
    finder_wait.cur   the same target with an empty centre
    toolbar.bmp       strip of 14 toolbar buttons, 16x15 each
    sort_up.bmp       list header arrow, ascending
    sort_down.bmp     list header arrow, descending
"""

import math
import struct
from pathlib import Path

OUT_DIR = Path(__file__).resolve().parent.parent / "res" / "art"

# ---------------------------------------------------------------------------
# Colours
# ---------------------------------------------------------------------------

# The standard 16-colour VGA palette, in the order Windows uses it.
PALETTE = [
    (0, 0, 0),        # 0  black
    (128, 0, 0),      # 1  dark red
    (0, 128, 0),      # 2  dark green
    (128, 128, 0),    # 3  olive
    (0, 0, 128),      # 4  navy
    (128, 0, 128),    # 5  purple
    (0, 128, 128),    # 6  teal
    (192, 192, 192),  # 7  light grey (button face)
    (128, 128, 128),  # 8  dark grey (button shadow)
    (255, 0, 0),      # 9  red
    (0, 255, 0),      # 10 green
    (255, 255, 0),    # 11 yellow
    (0, 0, 255),      # 12 blue
    (255, 0, 255),    # 13 magenta
    (0, 255, 255),    # 14 cyan
    (255, 255, 255),  # 15 white
]

# Letters used in the character grids. '.' is the background: transparent in
# icons and cursors, light grey in bitmaps.
INK = {
    "K": 0, "r": 1, "g": 2, "y": 3, "b": 4, "m": 5, "t": 6, "L": 7,
    "D": 8, "R": 9, "G": 10, "Y": 11, "B": 12, "M": 13, "C": 14, "W": 15,
}
(BLACK, DARK_RED, DARK_GREEN, OLIVE, NAVY, PURPLE, TEAL, LIGHT_GREY,
 DARK_GREY, RED, GREEN, YELLOW, BLUE, MAGENTA, CYAN, WHITE) = range(16)


# ---------------------------------------------------------------------------
# Canvas and drawing helpers
# ---------------------------------------------------------------------------

class Canvas:
    """A grid of palette indices; None marks background pixels."""

    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.pixels = [[None] * width for _ in range(height)]

    @classmethod
    def from_art(cls, art):
        """Builds a canvas from a character grid (see INK)."""
        rows = parse_art(art)
        canvas = cls(len(rows[0]), len(rows))
        canvas.paint(rows)
        return canvas

    def get(self, x, y):
        return self.pixels[y][x]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def paint(self, art, left=0, top=0):
        """Paints a character grid over the canvas; '.' leaves pixels alone."""
        rows = parse_art(art) if isinstance(art, str) else art
        for dy, row in enumerate(rows):
            for dx, ch in enumerate(row):
                if ch != ".":
                    self.put(left + dx, top + dy, INK[ch])

    def hline(self, x0, x1, y, colour):
        for x in range(x0, x1 + 1):
            self.put(x, y, colour)

    def vline(self, x, y0, y1, colour):
        for yy in range(y0, y1 + 1):
            self.put(x, yy, colour)

    def fill(self, x0, y0, x1, y1, colour):
        for yy in range(y0, y1 + 1):
            self.hline(x0, x1, yy, colour)

    def frame(self, x0, y0, x1, y1, colour):
        self.hline(x0, x1, y0, colour)
        self.hline(x0, x1, y1, colour)
        self.vline(x0, y0, y1, colour)
        self.vline(x1, y0, y1, colour)

    def bevel(self, x0, y0, x1, y1, light, dark):
        """A one-pixel 3D edge: light on top and left, dark on bottom and right."""
        self.hline(x0, x1, y0, light)
        self.vline(x0, y0, y1, light)
        self.hline(x0, x1, y1, dark)
        self.vline(x1, y0, y1, dark)

    def blit(self, other, left, top):
        for yy in range(other.height):
            for xx in range(other.width):
                colour = other.get(xx, yy)
                if colour is not None:
                    self.put(left + xx, top + yy, colour)


def parse_art(art):
    """Splits a character grid into rows and checks it is rectangular."""
    rows = [line.strip() for line in art.strip().splitlines()]
    width = len(rows[0])
    for row in rows:
        if len(row) != width:
            raise ValueError("ragged picture row: %r" % row)
        for ch in row:
            if ch != "." and ch not in INK:
                raise ValueError("unknown colour letter %r in %r" % (ch, row))
    return rows


def outline(canvas, inside, colour):
    """Colours background pixels whose left, right, upper or lower neighbour
    is one for which inside() holds."""
    steps = [(1, 0), (-1, 0), (0, 1), (0, -1)]
    edge = []
    for yy in range(canvas.height):
        for xx in range(canvas.width):
            if canvas.get(xx, yy) is not None:
                continue
            for dx, dy in steps:
                nx, ny = xx + dx, yy + dy
                if 0 <= nx < canvas.width and 0 <= ny < canvas.height and inside(nx, ny):
                    edge.append((xx, yy))
                    break
    for xx, yy in edge:
        canvas.put(xx, yy, colour)


# ---------------------------------------------------------------------------
# File writers
# ---------------------------------------------------------------------------

def row_stride(width, bits):
    """Bytes per DIB row: rows are padded to a multiple of four bytes."""
    return (width * bits + 31) // 32 * 4


def pack_4bit(canvas, background):
    """4-bit DIB pixel data, bottom row first."""
    stride = row_stride(canvas.width, 4)
    data = bytearray()
    for yy in reversed(range(canvas.height)):
        row = bytearray(stride)
        for xx in range(canvas.width):
            colour = canvas.get(xx, yy)
            index = background if colour is None else colour
            if xx % 2 == 0:
                row[xx // 2] |= index << 4
            else:
                row[xx // 2] |= index
        data += row
    return bytes(data)


def pack_1bit(width, height, bit):
    """1-bit DIB data, bottom row first; bit(x, y) gives each pixel."""
    stride = row_stride(width, 1)
    data = bytearray()
    for yy in reversed(range(height)):
        row = bytearray(stride)
        for xx in range(width):
            if bit(xx, yy):
                row[xx // 8] |= 0x80 >> (xx % 8)
        data += row
    return bytes(data)


def info_header(width, height, bits, image_size, colours):
    # biSize, biWidth, biHeight, biPlanes, biBitCount, biCompression (BI_RGB),
    # biSizeImage, biXPelsPerMeter, biYPelsPerMeter, biClrUsed, biClrImportant
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0,
                       image_size, 0, 0, colours, 0)


def colour_table(colours):
    """RGBQUAD entries for a list of (red, green, blue)."""
    return b"".join(struct.pack("<BBBB", blue, green, red, 0)
                    for red, green, blue in colours)


def bmp_file(canvas):
    """A 16-colour BMP; background pixels become light grey."""
    pixels = pack_4bit(canvas, LIGHT_GREY)
    header = info_header(canvas.width, canvas.height, 4, len(pixels), 16)
    table = colour_table(PALETTE)
    offset = 14 + len(header) + len(table)
    size = offset + len(pixels)
    return struct.pack("<2sIHHI", b"BM", size, 0, 0, offset) + header + table + pixels


def icon_image(canvas):
    """One 16-colour icon image: header, colour table, XOR bits, AND mask."""
    xor = pack_4bit(canvas, BLACK)
    mask = pack_1bit(canvas.width, canvas.height, lambda xx, yy: canvas.get(xx, yy) is None)
    header = info_header(canvas.width, canvas.height * 2, 4, len(xor) + len(mask), 0)
    return header + colour_table(PALETTE) + xor + mask


def cursor_image(black, white, size):
    """One monochrome cursor image from two sets of (x, y) points."""
    xor = pack_1bit(size, size, lambda xx, yy: (xx, yy) in white)
    mask = pack_1bit(size, size, lambda xx, yy: (xx, yy) not in black and (xx, yy) not in white)
    header = info_header(size, size * 2, 1, len(xor) + len(mask), 0)
    return header + colour_table([(0, 0, 0), (255, 255, 255)]) + xor + mask


def directory_file(kind, entries):
    """An ICO (kind 1) or CUR (kind 2) file. Each entry is (width, height,
    colours, field_a, field_b, image); the two fields hold the planes and the
    bit count in an icon and the hotspot's x and y in a cursor."""
    out = struct.pack("<HHH", 0, kind, len(entries))
    offset = 6 + 16 * len(entries)
    images = b""
    for width, height, colours, field_a, field_b, image in entries:
        out += struct.pack("<BBBBHHII", width % 256, height % 256, colours, 0,
                           field_a, field_b, len(image), offset)
        offset += len(image)
        images += image
    return out + images


def ico_file(canvases):
    """A 16-colour icon file holding one image per canvas."""
    return directory_file(1, [(c.width, c.height, 16, 1, 4, icon_image(c)) for c in canvases])


def cur_file(black, white, size, hotspot):
    """A monochrome cursor file holding one image."""
    return directory_file(2, [(size, size, 2, hotspot[0], hotspot[1],
                               cursor_image(black, white, size))])


# ---------------------------------------------------------------------------
# Program icon: a monitor whose screen shows a list of process load bars
# ---------------------------------------------------------------------------

TOLVANE_16 = """
KKKKKKKKKKKKKKKK
KWWWWWWWWWWWWWDK
KWLKKKKKKKKKKLDK
KWLKWKGGGGGKKLDK
KWLKKKKKKKKKKLDK
KWLKWKYYYKKKKLDK
KWLKKKKKKKKKKLDK
KWLKWKRRRRRRKLDK
KWLKKKKKKKKKKLDK
KWLLLLLLLLLLLLDK
KWDDDDDDDDDDDDDK
KKKKKKKKKKKKKKKK
......KDDK......
....KKKKKKKK....
....KWWWWWDK....
....KKKKKKKK....
"""


def draw_tolvane_32():
    """The 32x32 program icon; TOLVANE_16 is its small sibling."""
    c = Canvas(32, 32)
    # Case: light grey with a raised edge and a black outline.
    c.fill(1, 2, 30, 24, LIGHT_GREY)
    c.frame(1, 2, 30, 24, BLACK)
    c.bevel(2, 3, 29, 23, WHITE, DARK_GREY)
    # Screen: black, sunk into the case.
    c.fill(4, 5, 27, 21, BLACK)
    c.bevel(4, 5, 27, 21, DARK_GREY, WHITE)
    c.frame(5, 6, 26, 20, BLACK)
    # One row per process: a small white icon, then a load bar.
    bars = [(7, 12, GREEN), (10, 7, GREEN), (13, 10, YELLOW), (16, 14, RED)]
    for top, length, colour in bars:
        c.fill(7, top, 8, top + 1, WHITE)
        c.fill(10, top, 10 + length - 1, top + 1, colour)
    # Neck and foot of the stand.
    c.fill(12, 25, 19, 26, DARK_GREY)
    c.vline(11, 25, 26, BLACK)
    c.vline(20, 25, 26, BLACK)
    c.fill(7, 27, 24, 29, LIGHT_GREY)
    c.frame(7, 27, 24, 29, BLACK)
    c.hline(8, 23, 28, WHITE)
    c.put(23, 28, DARK_GREY)
    return c


# ---------------------------------------------------------------------------
# Fallback window icon: a plain window, title bar and frame
# ---------------------------------------------------------------------------

WINDOW_16 = """
................
KKKKKKKKKKKKKKKK
KbbbbbbbbbbbbbbK
KbWWbbbbbbbKLLbK
KbbbbbbbbbbKLLbK
KbbbbbbbbbbbbbbK
KLLLLLLLLLLLLLLK
KLWWWWWWWWWWWWLK
KLWWWWWWWWWWWWLK
KLWWWWWWWWWWWWLK
KLWWWWWWWWWWWWLK
KLWWWWWWWWWWWWLK
KLWWWWWWWWWWWWLK
KLLLLLLLLLLLLLLK
KKKKKKKKKKKKKKKK
................
"""


def draw_window_32():
    """The 32x32 window icon; WINDOW_16 is its small sibling."""
    c = Canvas(32, 32)
    # Frame: black outline around a light grey border.
    c.fill(0, 2, 31, 29, LIGHT_GREY)
    c.frame(0, 2, 31, 29, BLACK)
    c.bevel(1, 3, 30, 28, WHITE, DARK_GREY)
    # Title bar with a small system box on the left and a close box on the right.
    c.fill(3, 5, 28, 10, NAVY)
    c.fill(5, 7, 7, 8, WHITE)
    c.fill(23, 6, 27, 9, LIGHT_GREY)
    c.bevel(23, 6, 27, 9, WHITE, BLACK)
    # Client area: white, sunk into the frame.
    c.fill(3, 12, 28, 26, WHITE)
    c.bevel(3, 12, 28, 26, DARK_GREY, WHITE)
    c.hline(4, 27, 13, BLACK)
    c.vline(4, 13, 25, BLACK)
    return c


# ---------------------------------------------------------------------------
# Window finder cursors
# ---------------------------------------------------------------------------

CURSOR_SIZE = 32
CURSOR_CENTRE = 15


def ring_points(radius_in, radius_out):
    """Pixels whose distance from the hotspot lies between the two radii."""
    points = set()
    for yy in range(CURSOR_SIZE):
        for xx in range(CURSOR_SIZE):
            dist = math.hypot(xx - CURSOR_CENTRE, yy - CURSOR_CENTRE)
            if radius_in <= dist <= radius_out:
                points.add((xx, yy))
    return points


def halo(black):
    """White pixels around the black drawing, so it shows on dark windows too."""
    white = set()
    for xx, yy in black:
        for dx in (-1, 0, 1):
            for dy in (-1, 0, 1):
                point = (xx + dx, yy + dy)
                if point not in black and 0 <= point[0] < CURSOR_SIZE \
                        and 0 <= point[1] < CURSOR_SIZE:
                    white.add(point)
    return white


def draw_finder():
    """A target: ring, crosshair lines through it and a dot on the hotspot."""
    cc = CURSOR_CENTRE
    black = ring_points(9.6, 11.4)
    for i in range(1, 30):
        if abs(i - cc) >= 3:
            black.add((cc, i))
            black.add((i, cc))
    black.add((cc, cc))
    return black, halo(black)


def draw_finder_wait():
    """The same ring with nothing inside but a small dot on the hotspot."""
    cc = CURSOR_CENTRE
    black = ring_points(9.6, 11.4)
    for dx, dy in [(0, 0), (1, 0), (-1, 0), (0, 1), (0, -1)]:
        black.add((cc + dx, cc + dy))
    return black, halo(black)


# ---------------------------------------------------------------------------
# Toolbar buttons, 16x15 each
# ---------------------------------------------------------------------------

# Refresh: two green arrows chasing each other round a circle. The picture
# looks the same when turned half a circle.
BUTTON_REFRESH = """
.....g..........
.....Gg.........
.....GGg.gg.....
....gGGG.GGg....
...gGGG...GGg...
..gGGG.....GGg..
..gG........Gg..
..gG........Gg..
..gG........Gg..
..gGG.....GGGg..
...gGG...GGGg...
....gGG.GGGg....
.....gg.gGG.....
.........gG.....
..........g.....
"""


def button_threads():
    """Threads: three wavy threads, red, green and blue."""
    c = Canvas(16, 15)
    wave = [0, 1, 1, 1, 0, -1, -1, -1]
    for base, bright, dark in [(2, RED, DARK_RED), (6, GREEN, DARK_GREEN), (10, BLUE, NAVY)]:
        for xx in range(16):
            yy = base + wave[xx % 8]
            c.put(xx, yy, bright)
            c.put(xx, yy + 1, dark)
    return c


# Modules: three toy blocks stacked into a little pyramid.
BUTTON_MODULES = """
................
.....KKKKKK.....
....KWWWWKK.....
...KKKKKKyK.....
...KYYYYKyK.....
...KYYYYKyK.....
...KYYYYKyK.....
..KKYYYYKKKKKKK.
.KWKKKKKKCCCCKK.
KKKKKKrKKKKKKbK.
KRRRRKrKBBBBKbK.
KRRRRKrKBBBBKbK.
KRRRRKrKBBBBKbK.
KRRRRKKKBBBBKK..
KKKKKK.KKKKKK...
"""

# Memory: a memory module, black chips on a green board with gold contacts.
BUTTON_MEMORY = """
................
................
................
KKKKKKKKKKKKKKK.
KgggggggggggggK.
KgKKKgKKKgKKKgK.
KgKDKgKDKgKDKgK.
KgKKKgKKKgKKKgK.
KgggggggggggggK.
KgYgYgYgYgYgYgK.
KgYgYgYgYgYgYgK.
KKKKKKK.KKKKKKK.
................
................
................
"""


def button_terminate():
    """Terminate: a heavy red cross."""
    c = Canvas(16, 15)

    def inside(xx, yy):
        return 2 <= xx <= 12 and 2 <= yy <= 12 and \
            (abs(xx - yy) <= 1 or abs(xx + yy - 14) <= 1)

    for yy in range(15):
        for xx in range(16):
            if inside(xx, yy):
                c.put(xx, yy, RED)
    outline(c, inside, DARK_RED)
    return c


# Debug: a ladybird.
BUTTON_DEBUG = """
................
................
....K.....K.....
.....K...K......
......KKK.......
.K..KKKKKKK..K..
..KKRRRKRRRKK...
...KRKRKRKRK....
KKKRRRRKRRRRKKK.
..KRRRRKRRRRK...
..KRKRRKRRKRK...
.K.KRRRKRRRK.K..
....KRRKRRK.....
.....KKKKK......
................
"""

# Priority: a green arrow up beside a red arrow down.
BUTTON_PRIORITY = """
................
...K.....KKKKK..
..KGK....KRRRK..
.KGGGK...KRRRK..
KGGGGGK..KRRRK..
KKGGGKK..KRRRK..
.KGGGK...KRRRK..
.KGGGK...KRRRK..
.KGGGK...KRRRK..
.KGGGK..KKRRRKK.
.KGGGK..KRRRRRK.
.KGGGK...KRRRK..
.KGGGK....KRK...
.KKKKK.....K....
................
"""

# Spare slot, not used by any command: a blank page.
BUTTON_BLANK_PAGE = """
................
...KKKKKKK......
...KWWWWWKK.....
...KWWWWWKWK....
...KWWWWWKKKK...
...KWWWWWWWWK...
...KWWWWWWWWK...
...KWWWWWWWWK...
...KWWWWWWWWK...
...KWWWWWWWWK...
...KWWWWWWWWK...
...KWWWWWWWWK...
...KWWWWWWWWK...
...KKKKKKKKKK...
................
"""

# Find window: the target the window finder is dragged from.
BUTTON_FINDER = """
.......K........
.......K........
.....KKKKK......
....K..K..K.....
...K...K...K....
..K....K....K...
..K.........K...
KKKKKK.R.KKKKKK.
..K.........K...
..K....K....K...
...K...K...K....
....K..K..K.....
.....KKKKK......
.......K........
.......K........
"""

# Save list: a floppy disk.
BUTTON_SAVE = """
................
.KKKKKKKKKKKK...
.KbbWWWWWWWbbK..
.KbbWWKKWWWbbK..
.KbbWWKKWWWbbK..
.KbbWWWWWWWbbK..
.KbbbbbbbbbbbK..
.KbWWWWWWWWWbK..
.KbWDDDDDDDWbK..
.KbWWWWWWWWWbK..
.KbWDDDDDDDWbK..
.KbWWWWWWWWWbK..
.KbWWWWWWWWWbK..
.KKKKKKKKKKKKK..
................
"""

# Process tree: a parent node with two children.
BUTTON_TREE = """
................
.....KKKKK......
.....KBBBK......
.....KBBBK......
.....KKKKK......
.......K........
.......K........
...KKKKKKKKK....
...K.......K....
...K.......K....
.KKKKK...KKKKK..
.KGGGK...KYYYK..
.KGGGK...KYYYK..
.KKKKK...KKKKK..
................
"""

# Module usage: a module block on the front one of several documents.
BUTTON_MODULE_USAGE = """
................
.KKKKKKKKK......
.KWWWWWWWK......
.KWDDDDDWK......
.KWWWKKKKKKKKK..
.KWDDKWWWWWWWK..
.KWWWKWDDDDDWK..
.KWDDKWWWWWWWK..
.KWWWKWKKKKKWK..
.KWDDKWKYYYKWK..
.KWWWKWKYYyKWK..
.KKKKKWKYyyKWK..
.....KWKKKKKWK..
.....KWWWWWWWK..
.....KKKKKKKKK..
"""

# Applications: two overlapping windows, the front one active.
BUTTON_APPLICATIONS = """
................
KKKKKKKKKK......
KDDDDDDDDK......
KDDDDDDDDK......
KWWWWKKKKKKKKKK.
KWWWWKbbbbbbbbK.
KWWWWKbbbbbbbbK.
KWWWWKWWWWWWWWK.
KWWWWKWWWWWWWWK.
KKKKKKWWWWWWWWK.
.....KWWWWWWWWK.
.....KWWWWWWWWK.
.....KWWWWWWWWK.
.....KKKKKKKKKK.
................
"""

# Start-up information: a page with a green "start" arrow on it.
BUTTON_STARTUP = """
................
..KKKKKKKK......
..KWWWWWWKK.....
..KWDDDDWKWK....
..KWWWWWWKKKK...
..KWWgWWWWWWK...
..KWWggWWWWWK...
..KWWgGgWWWWK...
..KWWgGGgWWWK...
..KWWgGGGgWWK...
..KWWgGGgWWWK...
..KWWgGgWWWWK...
..KWWggWWWWWK...
..KWWgWWWWWWK...
..KKKKKKKKKKK...
"""


def draw_toolbar():
    """All buttons side by side, in the order the toolbar indexes them."""
    buttons = [
        Canvas.from_art(BUTTON_REFRESH),           # 0  refresh
        button_threads(),                          # 1  threads
        Canvas.from_art(BUTTON_MODULES),           # 2  modules
        Canvas.from_art(BUTTON_MEMORY),            # 3  memory
        button_terminate(),                        # 4  terminate
        Canvas.from_art(BUTTON_DEBUG),             # 5  debug
        Canvas.from_art(BUTTON_PRIORITY),          # 6  priority
        Canvas.from_art(BUTTON_BLANK_PAGE),        # 7  spare slot
        Canvas.from_art(BUTTON_FINDER),            # 8  find window
        Canvas.from_art(BUTTON_SAVE),              # 9  save list
        Canvas.from_art(BUTTON_TREE),              # 10 process tree
        Canvas.from_art(BUTTON_MODULE_USAGE),      # 11 module usage
        Canvas.from_art(BUTTON_APPLICATIONS),      # 12 applications
        Canvas.from_art(BUTTON_STARTUP),           # 13 start-up information
    ]
    strip = Canvas(16 * len(buttons), 15)
    for i, button in enumerate(buttons):
        if (button.width, button.height) != (16, 15):
            raise ValueError("toolbar button %d is %dx%d" % (i, button.width, button.height))
        strip.blit(button, 16 * i, 0)
    return strip


# ---------------------------------------------------------------------------
# List header sort arrows: solid triangles in the button shadow grey
# ---------------------------------------------------------------------------

SORT_UP = """
................
................
................
................
................
.......DD.......
......DDDD......
.....DDDDDD.....
....DDDDDDDD....
...DDDDDDDDDD...
................
................
................
................
................
................
"""

SORT_DOWN = """
................
................
................
................
................
...DDDDDDDDDD...
....DDDDDDDD....
.....DDDDDD.....
......DDDD......
.......DD.......
................
................
................
................
................
................
"""


# ---------------------------------------------------------------------------

def main():
    OUT_DIR.mkdir(parents=True, exist_ok=True)
    files = {
        "tolvane.ico": ico_file([Canvas.from_art(TOLVANE_16), draw_tolvane_32()]),
        "window.ico": ico_file([Canvas.from_art(WINDOW_16), draw_window_32()]),
        "finder.cur": cur_file(*draw_finder(), CURSOR_SIZE, (CURSOR_CENTRE, CURSOR_CENTRE)),
        "finder_wait.cur": cur_file(*draw_finder_wait(), CURSOR_SIZE,
                                    (CURSOR_CENTRE, CURSOR_CENTRE)),
        "toolbar.bmp": bmp_file(draw_toolbar()),
        "sort_up.bmp": bmp_file(Canvas.from_art(SORT_UP)),
        "sort_down.bmp": bmp_file(Canvas.from_art(SORT_DOWN)),
    }
    for name, data in files.items():
        (OUT_DIR / name).write_bytes(data)
        print("wrote %s (%d bytes)" % (OUT_DIR / name, len(data)))


if __name__ == "__main__":
    main()
