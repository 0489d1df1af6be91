#!/usr/bin/env python3
"""Draw Tolvaran's tray icons and write them as Windows .ico files.

Every icon is an alarm clock seen from the front: two bells on top, a round
body with a white face and black hands, and two feet. The state icons are
colour variants of it:

    app.ico / no_mail.ico   yellow clock (the two files are identical)
    new_mail.ico            red clock
    check_error.ico         yellow clock crossed out by a red X
    auth_error.ico          yellow clock crossed out by a blue X

Each file holds a 32x32 and a 16x16 image, 4 bits per pixel in the classic
16-colour VGA palette, with the background made transparent by the AND mask.
The 32x32 image is drawn from geometric shapes; the 16x16 image is drawn
pixel by pixel, because the shapes scaled down to 16 pixels turn to mush.

Only the Python 3 standard library is used and the output is byte-for-byte
deterministic.

Usage:
    python3 make_icons.py [OUTDIR]           write the icons (default: icons/
                                             next to this script)
    python3 make_icons.py --check [OUTDIR]   verify the icons in OUTDIR; exit
                                             status 1 with a message on failure
"""

import math
import os
import struct
import sys
from collections import Counter

# Classic Windows 16-colour palette, in its usual order, as RGB.
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1 maroon
    (0x00, 0x80, 0x00),  # 2 green
    (0x80, 0x80, 0x00),  # 3 olive
    (0x00, 0x00, 0x80),  # 4 navy
    (0x80, 0x00, 0x80),  # 5 purple
    (0x00, 0x80, 0x80),  # 6 teal
    (0xC0, 0xC0, 0xC0),  # 7 silver
    (0x80, 0x80, 0x80),  # 8 gray
    (0xFF, 0x00, 0x00),  # 9 red
    (0x00, 0xFF, 0x00),  # 10 lime
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 fuchsia
    (0x00, 0xFF, 0xFF),  # 14 aqua
    (0xFF, 0xFF, 0xFF),  # 15 white
]
BLACK, MAROON, OLIVE, SILVER, GRAY = 0, 1, 3, 7, 8
RED, YELLOW, BLUE, WHITE = 9, 11, 12, 15

SIZES = (32, 16)

# Drawing roles. Pictures are drawn with roles; a variant maps roles to
# palette indices. None means transparent.
OUTLINE, BODY, SHADE, FACE, HAND, MARK, CROSS, CROSS_EDGE = (
    "outline", "body", "shade", "face", "hand", "mark", "cross", "cross_edge")

# name -> (body colour, shade colour, cross colour or None)
VARIANTS = {
    "app": (YELLOW, OLIVE, None),
    "no_mail": (YELLOW, OLIVE, None),
    "new_mail": (RED, MAROON, None),
    "check_error": (YELLOW, OLIVE, RED),
    "auth_error": (YELLOW, OLIVE, BLUE),
}
ICON_NAMES = ("app", "no_mail", "new_mail", "check_error", "auth_error")


# --------------------------------------------------------------------------
# Signed-distance shapes (negative inside) used for the 32x32 picture.

def sd_circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def sd_capsule(ax, ay, bx, by, r):
    def f(x, y):
        dx, dy = bx - ax, by - ay
        t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)
        t = max(0.0, min(1.0, t))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) - r
    return f


def sd_halfplane(px, py, nx, ny):
    """Inside is the side the normal (nx, ny) points away from."""
    n = math.hypot(nx, ny)
    nx, ny = nx / n, ny / n
    return lambda x, y: (x - px) * nx + (y - py) * ny


def sd_intersect(*fs):
    return lambda x, y: max(f(x, y) for f in fs)


def sd_subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = [[None] * size for _ in range(size)]

    def shape(self, sdf, fill, edge=OUTLINE, width=1.0):
        """Paint pixels whose centre lies inside sdf with `fill`, and a band
        `width` wide just outside it with `edge` (skipped when None)."""
        for y in range(self.size):
            for x in range(self.size):
                d = sdf(x + 0.5, y + 0.5)
                if d < 0:
                    if fill is not None:
                        self.px[y][x] = fill
                elif edge is not None and d < width:
                    self.px[y][x] = edge

    def rows(self):
        return self.px


def bell(cx, cy, r, toward_x, toward_y):
    """A dome: the disc at (cx, cy) cut flat on the side facing the body."""
    disc = sd_circle(cx, cy, r)
    cut = sd_halfplane(cx + toward_x * r * 0.25, cy + toward_y * r * 0.25,
                       toward_x, toward_y)
    return sd_intersect(disc, cut)


def draw_clock_32():
    c = Canvas(32)
    cx, cy = 16.0, 17.5
    # Feet first, so the body outline sits over their tops.
    c.shape(sd_capsule(9.0, 25.5, 6.0, 29.5, 1.2), SHADE)
    c.shape(sd_capsule(23.0, 25.5, 26.0, 29.5, 1.2), SHADE)
    # Hammer post and the bar between the bells.
    c.shape(sd_capsule(16.0, 3.5, 16.0, 7.0, 0.9), SHADE)
    # Bells, tilted outwards, sitting on the upper shoulders of the body.
    k = math.sqrt(0.5)
    c.shape(bell(7.2, 7.2, 5.6, k, k), BODY)
    c.shape(bell(24.8, 7.2, 5.6, -k, k), BODY)
    # Body ring and face.
    c.shape(sd_circle(cx, cy, 11.0), BODY)
    c.shape(sd_circle(cx, cy, 7.6), FACE, edge=SHADE, width=0.9)
    # Hour marks at 12, 3, 6 and 9.
    for dx, dy in ((0, -1), (1, 0), (0, 1), (-1, 0)):
        c.shape(sd_capsule(cx + dx * 6.9, cy + dy * 6.9,
                           cx + dx * 6.0, cy + dy * 6.0, 0.45), MARK, edge=None)
    # Hands: minute hand towards 12, hour hand towards 4.
    c.shape(sd_capsule(cx, cy, cx, cy - 6.0, 0.7), HAND, edge=None)
    c.shape(sd_capsule(cx, cy, cx + 4.2, cy + 2.4, 0.8), HAND, edge=None)
    return c


# 16x16 clock, drawn by hand.
#   .  transparent    #  outline       Y  body
#   o  body shade     W  face          H  hand
CLOCK_16 = [
    "..###......###..",
    ".#YYY#.##.#YYY#.",
    "#YYY########YYY#",
    "#YY##YYYYYY##YY#",
    "#Y#YYYYYYYYYY#Y#",
    ".##YYWWWWWWYY##.",
    ".#YYWWWHWWWWYY#.",
    ".#YWWWWHWWWWWY#.",
    ".#YWWWWHHHWWWY#.",
    ".#YWWWWWWWWWWY#.",
    ".#YYWWWWWWWWYY#.",
    "..#YYWWWWWWYY#..",
    "..#YYYYYYYYYY#..",
    "..###YYYYYY###..",
    ".#o#.######.#o#.",
    ".##..........##.",
]

def cross_16():
    """X over the 16x16 clock: two strokes two pixels wide running from
    row 3 to row 12, edged on all four sides."""
    size = 16
    px = [[None] * size for _ in range(size)]
    for r in range(3, 13):
        for c in (r, r + 1):
            px[r][c] = CROSS
            px[r][size - 1 - c] = CROSS
    for r in range(size):
        for c in range(size):
            if px[r][c] is None and any(
                    0 <= r + dr < size and 0 <= c + dc < size
                    and px[r + dr][c + dc] == CROSS
                    for dr, dc in ((-1, 0), (1, 0), (0, -1), (0, 1))):
                px[r][c] = CROSS_EDGE
    return px


GRID_ROLES = {".": None, "#": OUTLINE, "Y": BODY, "o": SHADE, "W": FACE,
              "H": HAND, "m": MARK}


def grid_to_rows(grid):
    size = len(grid)
    assert all(len(row) == size for row in grid), "grid must be square"
    return [[GRID_ROLES[ch] for ch in row] for row in grid]


def cross_32():
    c = Canvas(32)
    a = sd_capsule(5.5, 5.5, 26.5, 26.5, 1.0)
    b = sd_capsule(26.5, 5.5, 5.5, 26.5, 1.0)
    # Both edges first, then both strokes, so the strokes join cleanly in
    # the middle instead of one edge cutting through the other stroke.
    c.shape(a, None, edge=CROSS_EDGE, width=1.0)
    c.shape(b, None, edge=CROSS_EDGE, width=1.0)
    c.shape(a, CROSS, edge=None)
    c.shape(b, CROSS, edge=None)
    return c.rows()


def picture(name, size):
    """Return a size x size list of palette indices (None = transparent)."""
    body, shade, cross = VARIANTS[name]
    colours = {OUTLINE: BLACK, BODY: body, SHADE: shade, FACE: WHITE,
               HAND: BLACK, MARK: GRAY, CROSS: cross, CROSS_EDGE: BLACK}
    if size == 32:
        roles = draw_clock_32().rows()
        over = cross_32() if cross is not None else None
    elif size == 16:
        roles = grid_to_rows(CLOCK_16)
        over = cross_16() if cross is not None else None
    else:
        raise ValueError("no picture for size %d" % size)
    out = []
    for y in range(size):
        row = []
        for x in range(size):
            role = roles[y][x]
            if over is not None and over[y][x] is not None:
                role = over[y][x]
            row.append(None if role is None else colours[role])
        out.append(row)
    return out


# --------------------------------------------------------------------------
# ICO encoding.

def row_stride(bits):
    return (bits + 31) // 32 * 4


def encode_image(pixels):
    """BITMAPINFOHEADER + palette + 4bpp XOR bitmap + 1bpp AND mask."""
    size = len(pixels)
    xor_stride = row_stride(size * 4)
    and_stride = row_stride(size)
    xor = bytearray()
    mask = bytearray()
    for y in range(size - 1, -1, -1):  # bottom-up
        row = pixels[y]
        xrow = bytearray(xor_stride)
        arow = bytearray(and_stride)
        for x, idx in enumerate(row):
            if idx is None:
                arow[x // 8] |= 0x80 >> (x % 8)
                idx = 0
            if x % 2 == 0:
                xrow[x // 2] |= idx << 4
            else:
                xrow[x // 2] |= idx
        xor += xrow
        mask += arow
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0)
                       for (r, g, b) in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def build_ico(name):
    images = [encode_image(picture(name, s)) for s in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for s, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", s, s, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    return bytes(out)


def write_icons(outdir):
    os.makedirs(outdir, exist_ok=True)
    for name in ICON_NAMES:
        path = os.path.join(outdir, name + ".ico")
        with open(path, "wb") as f:
            f.write(build_ico(name))
        print("wrote %s" % path)


# --------------------------------------------------------------------------
# Verification.

class CheckError(Exception):
    pass


def expect(cond, msg):
    if not cond:
        raise CheckError(msg)


def decode_ico(data, label):
    """Parse an .ico holding 4bpp images. Returns {size: rows} where rows is
    a list of lists of RGB tuples, None for transparent pixels."""
    expect(len(data) >= 6, "%s: file too short" % label)
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    expect(reserved == 0 and kind == 1, "%s: not an icon file" % label)
    expect(count == 2, "%s: %d images, expected 2" % (label, count))
    expect(len(data) >= 6 + 16 * count, "%s: truncated directory" % label)
    images = {}
    for i in range(count):
        (w, h, ncol, res, planes, bpp, nbytes,
         offset) = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        w = w or 256
        h = h or 256
        what = "%s image %d" % (label, i)
        expect(w == h and w in SIZES, "%s: size %dx%d" % (what, w, h))
        expect(w not in images, "%s: duplicate size %d" % (what, w))
        expect(ncol == 16 and res == 0 and planes == 1 and bpp == 4,
               "%s: directory entry is not a 16-colour 4bpp image" % what)
        expect(offset + nbytes <= len(data),
               "%s: image data runs past end of file" % what)
        blob = data[offset:offset + nbytes]
        expect(len(blob) >= 40, "%s: truncated header" % what)
        (bi_size, bw, bh, bplanes, bbits, comp, size_image,
         _, _, clr_used, _) = struct.unpack_from("<IiiHHIIiiII", blob, 0)
        expect(bi_size == 40, "%s: biSize %d" % (what, bi_size))
        expect(bw == w and bh == 2 * h,
               "%s: bitmap %dx%d, expected %dx%d" % (what, bw, bh, w, 2 * h))
        expect(bplanes == 1 and bbits == 4 and comp == 0,
               "%s: bitmap is not uncompressed 4bpp" % what)
        expect(clr_used in (0, 16), "%s: biClrUsed %d" % (what, clr_used))
        xor_stride, and_stride = row_stride(w * 4), row_stride(w)
        xor_len, and_len = xor_stride * h, and_stride * h
        expect(size_image == xor_len + and_len,
               "%s: biSizeImage %d, expected %d"
               % (what, size_image, xor_len + and_len))
        expect(nbytes == 40 + 64 + xor_len + and_len,
               "%s: %d bytes, expected %d"
               % (what, nbytes, 40 + 64 + xor_len + and_len))
        pal = []
        for j in range(16):
            b, g, r, z = struct.unpack_from("<BBBB", blob, 40 + 4 * j)
            expect(z == 0, "%s: palette entry %d reserved byte" % (what, j))
            pal.append((r, g, b))
        expect(pal == PALETTE, "%s: palette is not the VGA palette" % what)
        xor = blob[104:104 + xor_len]
        mask = blob[104 + xor_len:104 + xor_len + and_len]
        rows = []
        for y in range(h):
            src = h - 1 - y  # bottom-up
            row = []
            for x in range(w):
                byte = xor[src * xor_stride + x // 2]
                idx = byte >> 4 if x % 2 == 0 else byte & 0x0F
                clear = mask[src * and_stride + x // 8] & (0x80 >> (x % 8))
                if clear:
                    expect(idx == 0, "%s: transparent pixel (%d,%d) has "
                           "colour index %d, expected 0" % (what, x, y, idx))
                    row.append(None)
                else:
                    row.append(PALETTE[idx])
            rows.append(row)
        images[w] = rows
    return images


RGB_RED, RGB_YELLOW, RGB_BLUE = PALETTE[RED], PALETTE[YELLOW], PALETTE[BLUE]
NEUTRAL = {PALETTE[BLACK], PALETTE[WHITE], PALETTE[GRAY], PALETTE[SILVER]}


def check_picture(name, size, rows):
    what = "%s.ico %dx%d" % (name, size, size)
    last = size - 1
    for x, y in ((0, 0), (last, 0), (0, last), (last, last)):
        expect(rows[y][x] is None,
               "%s: corner (%d,%d) is not transparent" % (what, x, y))
    counts = Counter(p for row in rows for p in row
                     if p is not None and p not in NEUTRAL)
    opaque = sum(1 for row in rows for p in row if p is not None)
    expect(opaque >= size * size // 3,
           "%s: only %d opaque pixels" % (what, opaque))
    expect(counts, "%s: no coloured pixels" % what)
    dominant = counts.most_common(1)[0][0]
    want = RGB_RED if name == "new_mail" else RGB_YELLOW
    expect(dominant == want, "%s: dominant colour #%02X%02X%02X, expected "
           "#%02X%02X%02X" % ((what,) + dominant + want))
    expect(any(p == PALETTE[WHITE] for row in rows for p in row),
           "%s: no white clock face" % what)
    cross = {"check_error": RGB_RED, "auth_error": RGB_BLUE}.get(name)
    if cross is not None:
        # The X runs corner to corner: expect its colour on both diagonals
        # near every corner and at the centre.
        for x, y in ((3, 3), (last - 3, 3), (3, last - 3),
                     (last - 3, last - 3)):
            near = [rows[j][i]
                    for j in range(max(0, y - 2), min(size, y + 3))
                    for i in range(max(0, x - 2), min(size, x + 3))]
            expect(cross in near, "%s: no X stroke near (%d,%d)"
                   % (what, x, y))
        mid = size // 2
        centre = [rows[j][i] for j in range(mid - 2, mid + 2)
                  for i in range(mid - 2, mid + 2)]
        expect(cross in centre, "%s: no X stroke at the centre" % what)
    else:
        for colour, cname in ((RGB_BLUE, "blue"),
                              (RGB_RED if name != "new_mail" else None,
                               "red")):
            if colour is None:
                continue
            expect(counts[colour] == 0,
                   "%s: unexpected %s pixels" % (what, cname))


def check_icons(outdir):
    files = {}
    for name in ICON_NAMES:
        path = os.path.join(outdir, name + ".ico")
        try:
            with open(path, "rb") as f:
                files[name] = f.read()
        except OSError as e:
            raise CheckError("cannot read %s: %s" % (path, e))
        images = decode_ico(files[name], name + ".ico")
        for size in SIZES:
            expect(size in images, "%s.ico: no %dx%d image" % (name, size, size))
            check_picture(name, size, images[size])
    expect(files["app"] == files["no_mail"],
           "app.ico and no_mail.ico differ")
    for name in ICON_NAMES:
        expect(files[name] == build_ico(name),
               "%s.ico is out of date; rerun make_icons.py" % name)


def main(argv):
    args = list(argv[1:])
    check = "--check" in args
    args = [a for a in args if a != "--check"]
    if len(args) > 1 or any(a.startswith("-") for a in args):
        sys.stderr.write("usage: %s [--check] [OUTDIR]\n" % argv[0])
        return 2
    outdir = args[0] if args else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "icons")
    if check:
        try:
            check_icons(outdir)
        except CheckError as e:
            sys.stderr.write("icon check failed: %s\n" % e)
            return 1
        print("icons in %s OK" % outdir)
        return 0
    write_icons(outdir)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
