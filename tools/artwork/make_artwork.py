#!/usr/bin/env python3
"""Draws the recorder window's artwork: the 28 button faces and the application icon.

The faces are 61 x 30 pixel, 16-colour (4-bit palette) PNG images in the classic raised-button look:
a symbol and the caption in a small pixel font, in four states (normal, selected while pressed,
focused, disabled). The icon is a microphone on a blue tile, drawn anti-aliased at the sizes a
desktop asks for. Everything is drawn here from shapes and a hand-made font, with the standard
library only, so the output is the same on every machine.

Usage: make_artwork.py [OUTPUT_DIR]   (default: app/resources next to this repository's tools/)
Writes OUTPUT_DIR/buttons/*.png, OUTPUT_DIR/icons/*.png and OUTPUT_DIR/recorder.qrc.
"""

import math
import os
import struct
import sys
import zlib

FACE_WIDTH = 61
FACE_HEIGHT = 30

# The 16-colour palette of the faces (the classic VGA set).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)

# Pixel font: cap height 7, x-height 5, descenders 2 rows. Each glyph lists its rows from the cap
# line down; rows beyond the 7th are below the baseline.
GLYPHS = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "S": [".###.", "#...#", "#....", ".###.", "....#", "#...#", ".###."],
    "a": ["....", "....", ".##.", "...#", ".###", "#..#", ".###"],
    "b": ["#...", "#...", "###.", "#..#", "#..#", "#..#", "###."],
    "c": ["...", "...", ".##", "#..", "#..", "#..", ".##"],
    "d": ["...#", "...#", ".###", "#..#", "#..#", "#..#", ".###"],
    "e": ["....", "....", ".##.", "#..#", "####", "#...", ".###"],
    "l": ["#", "#", "#", "#", "#", "#", "#"],
    "n": ["....", "....", "###.", "#..#", "#..#", "#..#", "#..#"],
    "o": ["....", "....", ".##.", "#..#", "#..#", "#..#", ".##."],
    "p": ["....", "....", "###.", "#..#", "#..#", "#..#", "###.", "#...", "#..."],
    "r": ["...", "...", "#.#", "##.", "#..", "#..", "#.."],
    "s": ["...", "...", ".##", "#..", ".#.", "..#", "##."],
    "t": ["...", ".#.", "###", ".#.", ".#.", ".#.", "..#"],
    "u": ["....", "....", "#..#", "#..#", "#..#", "#..#", ".###"],
    "v": ["...", "...", "#.#", "#.#", "#.#", "#.#", ".#."],
    "y": ["....", "....", "#..#", "#..#", "#..#", "#..#", ".###", "...#", ".##."],
}
CAP_HEIGHT = 7


def text_width(text):
    return sum(len(GLYPHS[ch][0]) for ch in text) + (len(text) - 1)


class Canvas:
    """A grid of palette indices."""

    def __init__(self, width, height, fill):
        self.width = width
        self.height = height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), both included."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def hline(self, x0, x1, y, colour):
        self.rect(x0, y, x1, y, colour)

    def vline(self, x, y0, y1, colour):
        self.rect(x, y0, x, y1, colour)


# ---- Symbols: each fits a 9 x 10 box with its top-left corner at (x, y). A symbol is given as
# ---- a list of (dx, dy, role) where role is "fill", "line" or "light"; the face state maps roles
# ---- to colours, so a disabled face can grey every part alike.

def shape_points(rows):
    points = []
    for dy, row in enumerate(rows):
        for dx, ch in enumerate(row):
            if ch != ".":
                points.append((dx, dy, ch))
    return points


SYMBOLS = {
    # Play: a triangle pointing right.
    "play": (shape_points([
        ".o.......",
        ".oo......",
        ".ofo.....",
        ".offo....",
        ".offfo...",
        ".offfo...",
        ".offo....",
        ".ofo.....",
        ".oo......",
        ".o.......",
    ]), {"o": GREEN, "f": LIME}),
    # Record: a red disc with a highlight.
    "record": (shape_points([
        "..ooooo..",
        ".offfffo.",
        "ofhffffo.",
        "ofhfffffo",
        "offfffffo",
        "offfffffo",
        "offfffffo",
        ".offfffo.",
        "..ooooo..",
    ]), {"o": MAROON, "f": RED, "h": WHITE}),
    # Pause: two bars.
    "pause": (shape_points([
        "ooo...ooo",
        "ofo...ofo",
        "ofo...ofo",
        "ofo...ofo",
        "ofo...ofo",
        "ofo...ofo",
        "ofo...ofo",
        "ofo...ofo",
        "ooo...ooo",
    ]), {"o": NAVY, "f": BLUE}),
    # Stop: a square.
    "stop": (shape_points([
        ".........",
        ".ooooooo.",
        ".offfffo.",
        ".offfffo.",
        ".offfffo.",
        ".offfffo.",
        ".offfffo.",
        ".ooooooo.",
        ".........",
    ]), {"o": BLACK, "f": GREY}),
    # Open: a folder.
    "open": (shape_points([
        ".........",
        ".ooo.....",
        "offfo....",
        "ooooooooo",
        "offfffffo",
        "offfffffo",
        "offfffffo",
        "offfffffo",
        "ooooooooo",
    ]), {"o": OLIVE, "f": YELLOW}),
    # Save: a floppy disk with its label and shutter.
    "save": (shape_points([
        "oooooooo.",
        "ohhhhhhfo",
        "ohhhhhhfo",
        "offfffffo",
        "offfffffo",
        "offsssffo",
        "offsfsffo",
        "offsssffo",
        "ooooooooo",
    ]), {"o": NAVY, "f": BLUE, "h": WHITE, "s": SILVER}),
    # About: an information sign.
    "about": (shape_points([
        "..ooooo..",
        ".offhffo.",
        "offfffffo",
        "offhhfffo",
        "offfhfffo",
        "offfhfffo",
        "offhhhffo",
        ".offfffo.",
        "..ooooo..",
    ]), {"o": NAVY, "f": BLUE, "h": WHITE}),
}

BUTTONS = [
    # name, caption, symbol; resource numbers of the normal, selected, focused and disabled faces.
    ("play", "Play", "play", (129, 130, 131, 135)),
    ("record", "Record", "record", (137, 138, 136, 139)),
    ("pause", "Pause", "pause", (141, 140, 142, 143)),
    ("stop", "Stop", "stop", (144, 146, 145, 147)),
    ("open", "Open", "open", (149, 148, 150, 151)),
    ("save", "Save", "save", (152, 155, 153, 154)),
    ("about", "About", "about", (158, 156, 157, 159)),
]
STATES = ("normal", "selected", "focused", "disabled")


def draw_text(canvas, x, y, text, colour):
    for ch in text:
        rows = GLYPHS[ch]
        for dy, row in enumerate(rows):
            for dx, cell in enumerate(row):
                if cell == "#":
                    canvas.put(x + dx, y + dy, colour)
        x += len(rows[0]) + 1


def draw_symbol(canvas, x, y, symbol, colour_of):
    points, colours = SYMBOLS[symbol]
    for dx, dy, role in points:
        colour = colour_of(colours[role])
        if colour is not None:
            canvas.put(x + dx, y + dy, colour)


def draw_content(canvas, caption, symbol, offset, disabled):
    symbol_size = 9
    gap = 4
    width = symbol_size + gap + text_width(caption)
    x = (FACE_WIDTH - width) // 2 + offset
    symbol_y = (FACE_HEIGHT - symbol_size) // 2 + offset
    text_y = symbol_y + 1
    if disabled:
        # Etched: a white copy one pixel down and right under a grey one.
        draw_symbol(canvas, x + 1, symbol_y + 1, symbol, lambda c: WHITE)
        draw_text(canvas, x + symbol_size + gap + 1, text_y + 1, caption, WHITE)
        draw_symbol(canvas, x, symbol_y, symbol, lambda c: GREY)
        draw_text(canvas, x + symbol_size + gap, text_y, caption, GREY)
    else:
        draw_symbol(canvas, x, symbol_y, symbol, lambda c: c)
        draw_text(canvas, x + symbol_size + gap, text_y, caption, BLACK)


def draw_focus_rect(canvas, inset):
    # Dotted, every other pixel, as keyboard focus is drawn on classic controls.
    x0, y0 = inset, inset
    x1, y1 = FACE_WIDTH - 1 - inset, FACE_HEIGHT - 1 - inset
    for x in range(x0, x1 + 1):
        if (x + y0) % 2 == 0:
            canvas.put(x, y0, BLACK)
        if (x + y1) % 2 == 0:
            canvas.put(x, y1, BLACK)
    for y in range(y0, y1 + 1):
        if (x0 + y) % 2 == 0:
            canvas.put(x0, y, BLACK)
        if (x1 + y) % 2 == 0:
            canvas.put(x1, y, BLACK)


def draw_raised(canvas, inset):
    x0, y0 = inset, inset
    x1, y1 = FACE_WIDTH - 1 - inset, FACE_HEIGHT - 1 - inset
    canvas.hline(x0, x1, y0, WHITE)
    canvas.vline(x0, y0, y1, WHITE)
    canvas.hline(x0, x1, y1, BLACK)
    canvas.vline(x1, y0, y1, BLACK)
    canvas.hline(x0 + 1, x1 - 1, y1 - 1, GREY)
    canvas.vline(x1 - 1, y0 + 1, y1 - 1, GREY)


def draw_face(caption, symbol, state):
    canvas = Canvas(FACE_WIDTH, FACE_HEIGHT, SILVER)
    if state == "normal":
        draw_raised(canvas, 0)
        draw_content(canvas, caption, symbol, 0, disabled=False)
    elif state == "disabled":
        draw_raised(canvas, 0)
        draw_content(canvas, caption, symbol, 0, disabled=True)
    elif state == "focused":
        # A black frame marks the button that takes the keyboard, the dotted rectangle the focus.
        canvas.rect(0, 0, FACE_WIDTH - 1, FACE_HEIGHT - 1, BLACK)
        canvas.rect(1, 1, FACE_WIDTH - 2, FACE_HEIGHT - 2, SILVER)
        draw_raised(canvas, 1)
        draw_content(canvas, caption, symbol, 0, disabled=False)
        draw_focus_rect(canvas, 4)
    else:  # selected: pushed in, the content moved one pixel down and right
        canvas.rect(0, 0, FACE_WIDTH - 1, FACE_HEIGHT - 1, BLACK)
        canvas.rect(1, 1, FACE_WIDTH - 2, FACE_HEIGHT - 2, GREY)
        canvas.rect(2, 2, FACE_WIDTH - 3, FACE_HEIGHT - 3, SILVER)
        draw_content(canvas, caption, symbol, 1, disabled=False)
        draw_focus_rect(canvas, 5)
    return canvas


# ---- PNG writing.

def png_chunk(kind, data):
    chunk = kind + data
    return struct.pack(">I", len(data)) + chunk + struct.pack(">I", zlib.crc32(chunk) & 0xFFFFFFFF)


def png_bytes(width, height, colour_type, bit_depth, rows, palette=None):
    header = struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, 0)
    raw = b"".join(b"\x00" + row for row in rows)
    out = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header)
    if palette is not None:
        out += png_chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    out += png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b"")
    return out


def palette_png(canvas):
    rows = []
    for row in canvas.pixels:
        packed = bytearray()
        for x in range(0, len(row), 2):
            high = row[x]
            low = row[x + 1] if x + 1 < len(row) else 0
            packed.append((high << 4) | low)
        rows.append(bytes(packed))
    return png_bytes(canvas.width, canvas.height, 3, 4, rows, PALETTE)


# ---- The icon: a microphone on a rounded blue tile with a red recording dot, anti-aliased by
# ---- supersampling signed distances.

def sd_round_rect(px, py, cx, cy, half_w, half_h, radius):
    qx = abs(px - cx) - (half_w - radius)
    qy = abs(py - cy) - (half_h - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def sd_circle(px, py, cx, cy, radius):
    return math.hypot(px - cx, py - cy) - radius


def sd_ring_arc(px, py, cx, cy, radius, thickness):
    # The lower half of a ring (the microphone's holder).
    if py < cy:
        ends = min(math.hypot(px - (cx - radius), py - cy), math.hypot(px - (cx + radius), py - cy))
        return ends - thickness / 2
    return abs(math.hypot(px - cx, py - cy) - radius) - thickness / 2


def icon_layers(u, v):
    """Colour layers at unit coordinates (0..1), back to front: (signed distance, RGBA)."""
    tile = (sd_round_rect(u, v, 0.5, 0.5, 0.47, 0.47, 0.12), (32, 74, 135, 255))
    glow = (sd_round_rect(u, v, 0.5, 0.44, 0.44, 0.40, 0.10), (52, 101, 164, 255))
    holder = (sd_ring_arc(u, v, 0.5, 0.50, 0.21, 0.055), (230, 230, 230, 255))
    stem = (sd_round_rect(u, v, 0.5, 0.78, 0.028, 0.07, 0.01), (230, 230, 230, 255))
    base = (sd_round_rect(u, v, 0.5, 0.855, 0.15, 0.028, 0.025), (230, 230, 230, 255))
    capsule = (sd_round_rect(u, v, 0.5, 0.40, 0.13, 0.25, 0.13), (245, 245, 245, 255))
    grille = []
    for gy in (0.27, 0.35, 0.43):
        grille.append((sd_round_rect(u, v, 0.5, gy, 0.09, 0.012, 0.012), (140, 150, 165, 255)))
    dot = (sd_circle(u, v, 0.80, 0.20, 0.10), (220, 30, 30, 255))
    return [tile, glow, holder, stem, base, capsule] + grille + [dot]


def draw_icon(size):
    samples = 4 if size <= 64 else 3
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    u = (x + (sx + 0.5) / samples) / size
                    v = (y + (sy + 0.5) / samples) / size
                    colour = (0.0, 0.0, 0.0, 0.0)
                    for distance, rgba in icon_layers(u, v):
                        if distance <= 0.0:
                            colour = tuple(c / 255.0 for c in rgba)
                    # Premultiplied accumulation keeps edges against transparency clean.
                    acc[0] += colour[0] * colour[3]
                    acc[1] += colour[1] * colour[3]
                    acc[2] += colour[2] * colour[3]
                    acc[3] += colour[3]
            n = samples * samples
            alpha = acc[3] / n
            if alpha > 0:
                rgb = [min(255, round(acc[i] / acc[3] * 255)) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row.extend(rgb + [round(alpha * 255)])
        rows.append(bytes(row))
    return png_bytes(size, size, 6, 8, rows)


ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.normpath(os.path.join(here, "..", "..", "app", "resources"))
    if len(sys.argv) > 2 or out in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if out in ("-h", "--help") else 2
    os.makedirs(os.path.join(out, "buttons"), exist_ok=True)
    os.makedirs(os.path.join(out, "icons"), exist_ok=True)
    qrc = ['<!DOCTYPE RCC>', '<RCC version="1.0">', '<qresource prefix="/">']
    for name, caption, symbol, numbers in BUTTONS:
        for state, number in zip(STATES, numbers):
            file_name = "buttons/%s-%s.png" % (name, state)
            with open(os.path.join(out, file_name), "wb") as f:
                f.write(palette_png(draw_face(caption, symbol, state)))
            qrc.append('    <file alias="bitmaps/%d.png">%s</file>' % (number, file_name))
    for size in ICON_SIZES:
        file_name = "icons/velmar-recorder-%d.png" % size
        with open(os.path.join(out, file_name), "wb") as f:
            f.write(draw_icon(size))
        qrc.append('    <file alias="icons/128/%d.png">%s</file>' % (size, file_name))
    qrc += ['</qresource>', '</RCC>', '']
    with open(os.path.join(out, "recorder.qrc"), "w") as f:
        f.write("\n".join(qrc))
    print("wrote %d button faces and %d icon sizes into %s" % (len(BUTTONS) * 4, len(ICON_SIZES), out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
