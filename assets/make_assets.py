#!/usr/bin/env python3
"""Draws the program's own icon, hand cursor, version-dialog picture, sample
button pictures and sample sound. Run it from this folder to regenerate them;
the outputs are committed.

`make_assets.py --icon SIZE OUT.png` draws the icon at a larger size for the
desktop's icon theme; the build runs it, so those are not committed."""
import math
import struct
import sys
import wave
import zlib


def write_png(path, width, height, pixels):
    """pixels: function (x, y) -> (r, g, b, a)."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            raw.extend(pixels(x, y))
    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def write_gif(path, width, height, palette, pixels):
    """A GIF89a of one frame. palette: up to 16 (r, g, b); pixels: function
    (x, y) -> palette index."""
    palette = list(palette) + [(0, 0, 0)] * (16 - len(palette))
    data = [pixels(x, y) for y in range(height) for x in range(width)]
    min_size = 4
    clear, end = 1 << min_size, (1 << min_size) + 1
    # LZW with variable-width codes, packed least significant bit first.
    out, state = bytearray(), [0, 0]  # pending bits, their count
    def emit(code, code_width):
        state[0] |= code << state[1]
        state[1] += code_width
        while state[1] >= 8:
            out.append(state[0] & 0xFF)
            state[0] >>= 8
            state[1] -= 8
    def fresh_table():
        return {(i,): i for i in range(1 << min_size)}
    table, code_width, next_code = fresh_table(), min_size + 1, end + 1
    emit(clear, code_width)
    run = ()
    for index in data:
        if run + (index,) in table:
            run += (index,)
            continue
        emit(table[run], code_width)
        if next_code < 4096:
            table[run + (index,)] = next_code
            next_code += 1
            if next_code > (1 << code_width) and code_width < 12:
                code_width += 1
        else:
            emit(clear, code_width)
            table, code_width, next_code = fresh_table(), min_size + 1, end + 1
        run = (index,)
    emit(table[run], code_width)
    emit(end, code_width)
    if state[1]:
        out.append(state[0] & 0xFF)

    gif = bytearray(b"GIF89a")
    gif += struct.pack("<HHBBB", width, height, 0x80 | 0x30 | 3, 0, 0)  # global table of 16
    for r, g, b in palette:
        gif += bytes((r, g, b))
    gif += b"," + struct.pack("<HHHHB", 0, 0, width, height, 0)
    gif.append(min_size)
    for i in range(0, len(out), 255):
        block = out[i:i + 255]
        gif.append(len(block))
        gif += block
    gif += b"\x00;"
    with open(path, "wb") as f:
        f.write(gif)


# The 16 colours of the classic palette, so the small images stay 16-colour.
BLACK, WHITE = (0, 0, 0, 255), (255, 255, 255, 255)
GREY, DARK_GREY = (192, 192, 192, 255), (128, 128, 128, 255)
RED, DARK_RED = (255, 0, 0, 255), (128, 0, 0, 255)
YELLOW = (255, 255, 0, 255)
CLEAR = (0, 0, 0, 0)


def hand_cursor():
    # A pointing hand, index finger up, fingertip at (12, 1).
    rects = [
        (11, 1, 14, 14),   # index finger
        (15, 8, 17, 14),   # middle finger
        (18, 9, 20, 14),   # ring finger
        (21, 10, 23, 15),  # little finger
        (11, 13, 23, 24),  # palm
        (6, 14, 10, 16), (7, 16, 10, 18), (8, 18, 11, 20),  # thumb
        (12, 24, 22, 28),  # wrist
    ]
    inside = set()
    for x0, y0, x1, y1 in rects:
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                inside.add((x, y))
    # Round the fingertip.
    inside.discard((11, 1)); inside.discard((14, 1))
    def px(x, y):
        if (x, y) not in inside:
            return CLEAR
        edge = any((x + dx, y + dy) not in inside for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
        # Creases between the folded fingers.
        crease = (x in (15, 18, 21) and 8 <= y <= 13)
        return BLACK if edge or crease else WHITE
    write_png("hand.png", 32, 32, px)


def icon():
    def px(x, y):
        cx, cy = 15.5, 13.5
        if 22 <= y <= 28 and 3 <= x <= 28:
            return DARK_GREY if y in (22, 28) or x in (3, 28) else GREY
        d = math.hypot(x - cx, (y - cy) * 1.3)
        if d <= 11:
            return DARK_RED if d > 9.5 else (WHITE if (x - 11) ** 2 + (y - 9) ** 2 <= 4 else RED)
        return CLEAR
    write_png("icon.png", 32, 32, px)


def large_icon(size, path):
    """The icon's shapes drawn smoothly at any size: each pixel averages 4 x 4
    samples of the same picture in its 32-pixel coordinates."""
    scale = size / 32
    def shape(u, v):
        # u, v: continuous coordinates of the 32-pixel grid (pixel centres at .0).
        if 21.5 <= v <= 28.5 and 2.5 <= u <= 28.5:
            border = v < 22.5 or v > 27.5 or u < 3.5 or u > 27.5
            return DARK_GREY if border else GREY
        d = math.hypot(u - 15.5, (v - 13.5) * 1.3)
        if d <= 11.5:
            if d > 10:
                return DARK_RED
            return WHITE if math.hypot(u - 11, v - 9) <= 2.2 else RED
        return CLEAR
    steps = 4
    def px(x, y):
        total = [0, 0, 0, 0]
        for j in range(steps):
            for i in range(steps):
                u = (x + (i + 0.5) / steps) / scale - 0.5
                v = (y + (j + 0.5) / steps) / scale - 0.5
                r, g, b, a = shape(u, v)
                total[0] += r * a; total[1] += g * a; total[2] += b * a; total[3] += a
        if total[3] == 0:
            return CLEAR
        return tuple(round(c / total[3]) for c in total[:3]) + (round(total[3] / steps ** 2),)
    write_png(path, size, size, px)


def version_picture():
    # The version dialog's picture: a lit answer button on its pedestal,
    # 43 x 80, on the dialog's pale yellow.
    palette = [(255, 255, 128), (0, 0, 0), (128, 128, 128), (192, 192, 192), (255, 255, 255),
               (255, 0, 0), (128, 0, 0), (255, 128, 0), (0, 0, 192)]
    PALE, BLACK_, DARK, LIGHT, WHITE_, RED_, DARK_RED_, ORANGE, BLUE = range(9)
    def px(x, y):
        cx, cy = 21, 34
        # Rays above the dome.
        for dx in (-14, -7, 0, 7, 14):
            top = 3 + abs(dx) // 2
            if y in range(top, top + 7) and abs(x - (cx + dx * (1 + (top + 7 - y) / 10.0))) < 1.2:
                return ORANGE
        # Dome.
        d = math.hypot(x - cx, (y - cy) * 1.2)
        if y <= cy and d <= 17:
            if d > 15.5:
                return DARK_RED_
            return WHITE_ if math.hypot(x - 15, y - 25) <= 3 else RED_
        # Pedestal, with a blue band, then a wide foot.
        if cy < y <= 66 and 6 <= x <= 36:
            if x in (6, 36) or y == 66:
                return BLACK_
            if 44 <= y <= 49:
                return BLUE
            return LIGHT if x < 14 else DARK
        if 66 < y <= 76 and 1 <= x <= 41:
            return BLACK_ if x in (1, 41) or y in (67, 76) else DARK
        return PALE
    write_gif("version.gif", 43, 80, palette, px)


def button(path, lit):
    w, h = 165, 278
    def px(x, y):
        # Pedestal.
        if 200 <= y <= 262 and 14 <= x <= 150:
            shade = 150 - (y - 200)
            return (shade, shade, shade + 10, 255)
        # Dome on top of the pedestal; lit when pressed (and sunk a little).
        cx, cy, r = 82, 200 if not lit else 206, 62
        d = math.hypot(x - cx, (y - cy) * 1.25)
        if d <= r and y <= 206:
            t = d / r
            if lit:
                return (255, int(255 - 80 * t), int(120 - 120 * t), 255)
            return (int(200 - 80 * t), int(20 * (1 - t)), int(20 * (1 - t)), 255)
        # Glow around a lit dome.
        if lit and d <= r + 18 and y <= 206:
            a = int(200 * (1 - (d - r) / 18))
            return (255, 240, 120, a)
        return (40, 40, 60, 255)
    write_png(path, w, h, px)


def chime(path):
    rate = 44100
    frames = bytearray()
    for i in range(int(rate * 0.6)):
        t = i / rate
        env = math.exp(-5 * t)
        v = env * (0.6 * math.sin(2 * math.pi * 880 * t) + 0.3 * math.sin(2 * math.pi * 1320 * t))
        frames.extend(struct.pack("<h", int(v * 32000)))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--icon":
        large_icon(int(sys.argv[2]), sys.argv[3])
        sys.exit(0)
    hand_cursor()
    icon()
    version_picture()
    button("samples/button_up.png", False)
    button("samples/button_down.png", True)
    chime("samples/chime.wav")
