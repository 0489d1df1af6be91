#!/usr/bin/env python3
"""Draw Tolvaran's tray icons and write them as Windows .ico files.

Every icon is an alarm clock seen from the front: two bells on top, a round
body with a white face and black hands, and two feet. The state icons are
colour variants of it:

    app.ico / no_mail.ico   yellow clock (the two files are identical)
    new_mail.ico            red clock
    check_error.ico         yellow clock crossed out by a red X
    auth_error.ico          yellow clock crossed out by a blue X

Each file holds 32-bit images with an alpha channel at every size the
tray and the window frames use from 100 % to 400 % display scale (16, 20,
24, 32, 40, 48 and 64 pixels), and beside them a 32x32 and a 16x16 image,
4 bits per pixel in the classic 16-colour VGA palette, for displays of 256
colours or fewer, with the background made transparent by the AND mask.

The 32-bit images are rendered at their own size from the same geometric
shapes, anti-aliased by each pixel's distance to a shape's edge, and stored
as PNG at every size: Windows reads PNG images in icons at any size since
Vista, and so does Wine; as PNG they take half the bytes. The 4-bit
32x32 image comes from the same shapes without anti-aliasing; the 4-bit
16x16 image is drawn pixel by pixel, because the shapes scaled down to 16
pixels without anti-aliasing turn to mush.

Only the Python 3 standard library is used (zlib for the PNG images) and
the output is byte-for-byte deterministic.

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
import zlib
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

# The 16-colour images, and the 32-bit images with alpha; the latter from
# this size up (that is, all of them) are stored as PNG.
SIZES = (32, 16)
ALPHA_SIZES = (64, 48, 40, 32, 24, 20, 16)
PNG_FROM = 16

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
    """A palette picture: every pixel takes one role or none, no blending."""

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


def coverage(d):
    """How much of a pixel lies inside an edge d pixels from its centre."""
    return min(1.0, max(0.0, 0.5 - d))


class AlphaCanvas:
    """A 32-bit picture of any size, drawn from the shapes given in the
    32-pixel coordinates of Canvas and blended by coverage. Outlines stay
    thicker than scaled below 32 pixels, and the hands and hour marks are
    widened a little there, so that small sizes keep their lines."""

    def __init__(self, size, colours):
        self.size = size
        self.scale = size / 32.0
        self.colours = colours
        # Premultiplied red, green, blue and alpha, 0.0 to 1.0.
        self.px = [[(0.0, 0.0, 0.0, 0.0)] * size for _ in range(size)]

    def _paint(self, x, y, role, amount):
        if role is None or amount <= 0.0:
            return
        r, g, b = (c / 255.0 for c in PALETTE[self.colours[role]])
        pr, pg, pb, pa = self.px[y][x]
        keep = 1.0 - amount
        self.px[y][x] = (r * amount + pr * keep, g * amount + pg * keep,
                         b * amount + pb * keep, amount + pa * keep)

    def shape(self, sdf, fill, edge=OUTLINE, width=1.0):
        k = self.scale
        band = width * (k if k >= 1.0 else math.sqrt(k))
        grow = max(0.0, 1.0 - k) * 0.5 if fill in (HAND, MARK) else 0.0
        for y in range(self.size):
            for x in range(self.size):
                d = sdf((x + 0.5) / k, (y + 0.5) / k) * k - grow
                inside = coverage(d)
                self._paint(x, y, fill, inside)
                if edge is not None:
                    self._paint(x, y, edge, coverage(d - band) - inside)

    def rgba(self):
        """Rows of (r, g, b, a) bytes, not premultiplied."""
        out = []
        for row in self.px:
            line = []
            for pr, pg, pb, pa in row:
                a = int(round(pa * 255))
                if a == 0:
                    line.append((0, 0, 0, 0))
                else:
                    line.append(tuple(int(round(min(1.0, c / pa) * 255))
                                      for c in (pr, pg, pb)) + (a,))
            out.append(line)
        return out


def bell(cx, cy, r, toward_x, toward_y):
    """A dome: the disc at (cx, cy) cut flat on the side facing the body."""
    disc = sd_circle(cx, cy, r)
    cut = sd_halfplane(cx + toward_x * r * 0.25, cy + toward_y * r * 0.25,
                       toward_x, toward_y)
    return sd_intersect(disc, cut)


def draw_clock(c):
    """The alarm clock on canvas c, in 32-pixel coordinates."""
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


def draw_clock_32():
    return draw_clock(Canvas(32))


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


def draw_cross(c):
    """The X from corner to corner on canvas c, in 32-pixel coordinates."""
    a = sd_capsule(5.5, 5.5, 26.5, 26.5, 1.0)
    b = sd_capsule(26.5, 5.5, 5.5, 26.5, 1.0)
    # Both edges first, then both strokes, so the strokes join cleanly in
    # the middle instead of one edge cutting through the other stroke.
    c.shape(a, None, edge=CROSS_EDGE, width=1.0)
    c.shape(b, None, edge=CROSS_EDGE, width=1.0)
    c.shape(a, CROSS, edge=None)
    c.shape(b, CROSS, edge=None)
    return c


def cross_32():
    return draw_cross(Canvas(32)).rows()


def role_colours(name):
    """Drawing role -> palette index for one icon."""
    body, shade, cross = VARIANTS[name]
    return {OUTLINE: BLACK, BODY: body, SHADE: shade, FACE: WHITE,
            HAND: BLACK, MARK: GRAY, CROSS: cross, CROSS_EDGE: BLACK}


def alpha_picture(name, size):
    """Return size x size rows of (r, g, b, a) bytes."""
    c = draw_clock(AlphaCanvas(size, role_colours(name)))
    if VARIANTS[name][2] is not None:
        draw_cross(c)
    return c.rgba()


def picture(name, size):
    """Return a size x size list of palette indices (None = transparent)."""
    cross = VARIANTS[name][2]
    colours = role_colours(name)
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


def encode_alpha_image(rgba):
    """BITMAPINFOHEADER + 32bpp BGRA bitmap + 1bpp AND mask (set where the
    alpha is 0, for programs that ignore the alpha channel)."""
    size = len(rgba)
    and_stride = row_stride(size)
    colour = bytearray()
    mask = bytearray()
    for y in range(size - 1, -1, -1):  # bottom-up
        arow = bytearray(and_stride)
        for x, (r, g, b, a) in enumerate(rgba[y]):
            colour += bytes((b, g, r, a))
            if a == 0:
                arow[x // 8] |= 0x80 >> (x % 8)
        mask += arow
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def png_chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body
            + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def encode_png(rgba):
    """An 8-bit RGBA PNG, each row with filter 0, compressed at level 9."""
    size = len(rgba)
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in rgba)
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(raw, 9))
            + png_chunk(b"IEND", b""))


def ico_images(name):
    """(size, bits per pixel, image data) for every image of one icon."""
    images = []
    for s in ALPHA_SIZES:
        rgba = alpha_picture(name, s)
        data = encode_png(rgba) if s >= PNG_FROM else encode_alpha_image(rgba)
        images.append((s, 32, data))
    for s in SIZES:
        images.append((s, 4, encode_image(picture(name, s))))
    return images


def build_ico(name):
    images = ico_images(name)
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for s, bpp, data in images:
        out += struct.pack("<BBBBHHII", s, s, 16 if bpp == 4 else 0, 0, 1, bpp,
                           len(data), offset)
        offset += len(data)
    for _, _, data in images:
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
    """Parse an .ico of 4bpp and 32bpp images. Returns ({size: rows} of the
    4bpp images, {size: rows} of the 32bpp ones, the set of sizes stored as
    PNG). 4bpp rows hold RGB tuples, None for transparent pixels; 32bpp rows
    hold (r, g, b, a) tuples."""
    expect(len(data) >= 6, "%s: file too short" % label)
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    expect(reserved == 0 and kind == 1, "%s: not an icon file" % label)
    want = len(SIZES) + len(ALPHA_SIZES)
    expect(count == want, "%s: %d images, expected %d" % (label, count, want))
    expect(len(data) >= 6 + 16 * count, "%s: truncated directory" % label)
    palette_images, alpha_images, png_sizes = {}, {}, set()
    for i in range(count):
        (w, h, ncol, res, planes, bpp, nbytes,
         offset) = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        w = w or 256
        h = h or 256
        what = "%s image %d (%d bpp)" % (label, i, bpp)
        expect(offset + nbytes <= len(data),
               "%s: image data runs past end of file" % what)
        blob = data[offset:offset + nbytes]
        if bpp == 32:
            expect(w == h and w in ALPHA_SIZES, "%s: size %dx%d" % (what, w, h))
            expect(w not in alpha_images, "%s: duplicate size %d" % (what, w))
            expect(ncol == 0 and res == 0 and planes == 1,
                   "%s: directory entry is not a 32bpp image" % what)
            if blob.startswith(b"\x89PNG\r\n\x1a\n"):
                png_sizes.add(w)
                alpha_images[w] = decode_png(blob, w, what)
            else:
                alpha_images[w] = decode_alpha_image(blob, w, what)
            continue
        expect(w == h and w in SIZES, "%s: size %dx%d" % (what, w, h))
        expect(w not in palette_images, "%s: duplicate size %d" % (what, w))
        expect(ncol == 16 and res == 0 and planes == 1 and bpp == 4,
               "%s: directory entry is not a 16-colour 4bpp image" % what)
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
        palette_images[w] = rows
    return palette_images, alpha_images, png_sizes


def decode_alpha_image(blob, w, what):
    """Rows of (r, g, b, a) from a 32bpp BMP image; its AND mask must be set
    exactly where the alpha is 0."""
    and_stride = row_stride(w)
    expect(len(blob) == 40 + 4 * w * w + and_stride * w,
           "%s: %d bytes for a %dx%d 32bpp image" % (what, len(blob), w, w))
    (bi_size, bw, bh, bplanes, bbits, comp, size_image,
     _, _, _, _) = struct.unpack_from("<IiiHHIIiiII", blob, 0)
    expect((bi_size, bw, bh, bplanes, bbits, comp) == (40, w, 2 * w, 1, 32, 0),
           "%s: header is not an uncompressed 32bpp %dx%d bitmap" % (what, w, w))
    mask = blob[40 + 4 * w * w:]
    rows = []
    for y in range(w):
        src = w - 1 - y  # bottom-up
        row = []
        for x in range(w):
            b, g, r, a = blob[40 + 4 * (src * w + x):44 + 4 * (src * w + x)]
            clear = bool(mask[src * and_stride + x // 8] & (0x80 >> (x % 8)))
            expect(clear == (a == 0), "%s: AND mask at (%d,%d) disagrees with "
                   "alpha %d" % (what, x, y, a))
            row.append((r, g, b, a))
        rows.append(row)
    return rows


def decode_png(blob, w, what):
    """Rows of (r, g, b, a) from an 8-bit RGBA PNG whose rows use filter 0."""
    pos, idat, header = 8, b"", None
    while pos + 8 <= len(blob):
        length, kind = struct.unpack_from(">I4s", blob, pos)
        body = blob[pos + 8:pos + 8 + length]
        crc, = struct.unpack_from(">I", blob, pos + 8 + length)
        expect(zlib.crc32(kind + body) & 0xFFFFFFFF == crc,
               "%s: PNG chunk %r has a bad CRC" % (what, kind))
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    expect(header == (w, w, 8, 6, 0, 0, 0),
           "%s: PNG header %r is not %dx%d 8-bit RGBA" % (what, header, w, w))
    raw = zlib.decompress(idat)
    expect(len(raw) == w * (1 + 4 * w), "%s: PNG data size %d" % (what, len(raw)))
    rows = []
    for y in range(w):
        line = raw[y * (1 + 4 * w):(y + 1) * (1 + 4 * w)]
        expect(line[0] == 0, "%s: PNG row %d uses filter %d" % (what, y, line[0]))
        rows.append([tuple(line[1 + 4 * x:5 + 4 * x]) for x in range(w)])
    return rows


RGB_RED, RGB_YELLOW, RGB_BLUE = PALETTE[RED], PALETTE[YELLOW], PALETTE[BLUE]
NEUTRAL = {PALETTE[BLACK], PALETTE[WHITE], PALETTE[GRAY], PALETTE[SILVER]}


def check_picture(name, size, rows):
    what = "%s.ico %dx%d" % (name, size, size)
    last = size - 1
    for x, y in ((0, 0), (last, 0), (0, last), (last, last)):
        expect(rows[y][x] is None,
               "%s: corner (%d,%d) is not transparent" % (what, x, y))
    cross = {"check_error": RGB_RED, "auth_error": RGB_BLUE}.get(name)
    # At the smallest sizes the X covers more of the clock than is left of
    # its body; the clock's colour must lead among the rest.
    counts = Counter(p for row in rows for p in row
                     if p is not None and p not in NEUTRAL and p != cross)
    opaque = sum(1 for row in rows for p in row if p is not None)
    expect(opaque >= size * size // 3,
           "%s: only %d opaque pixels" % (what, opaque))
    expect(counts, "%s: no coloured pixels" % what)
    dominant = counts.most_common(1)[0][0]
    want = RGB_RED if name == "new_mail" else RGB_YELLOW
    expect(dominant == want, "%s: dominant colour #%02X%02X%02X, expected "
           "#%02X%02X%02X" % ((what,) + dominant + want))
    # Near white: under the X at 16 pixels the face shows only blended.
    expect(any(p is not None and min(p) >= 200 for row in rows for p in row),
           "%s: no white clock face" % what)
    if cross is not None:
        # The X runs corner to corner: expect its colour on both diagonals
        # near every corner and at the centre.
        # The X's ends lie 5.5/32 of the size in from the corners.
        inset, reach = max(3, int(5.5 * size / 32)), max(2, 2 * size // 32)
        for x, y in ((inset, inset), (last - inset, inset),
                     (inset, last - inset), (last - inset, last - inset)):
            near = [rows[j][i]
                    for j in range(max(0, y - reach), min(size, y + reach + 1))
                    for i in range(max(0, x - reach), min(size, x + reach + 1))]
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


def opaque_rgb(rgba_rows):
    """32bpp rows as check_picture sees them: mostly covered pixels keep
    their colour, the rest count as transparent."""
    return [[(r, g, b) if a >= 128 else None for r, g, b, a in row]
            for row in rgba_rows]


def check_alpha(name, size, rows):
    """A 32bpp image has a transparent background and soft edges."""
    what = "%s.ico %dx%d 32bpp" % (name, size, size)
    alphas = Counter(a for row in rows for _, _, _, a in row)
    expect(alphas[0] > 0 and alphas[255] > 0,
           "%s: no fully transparent or no fully opaque pixels" % what)
    expect(sum(n for a, n in alphas.items() if 0 < a < 255) >= size,
           "%s: fewer than %d partly transparent pixels" % (what, size))


def check_icons(outdir):
    files = {}
    for name in ICON_NAMES:
        path = os.path.join(outdir, name + ".ico")
        try:
            with open(path, "rb") as f:
                files[name] = f.read()
        except OSError as e:
            raise CheckError("cannot read %s: %s" % (path, e))
        palette_images, alpha_images, png_sizes = decode_ico(files[name], name + ".ico")
        for size in SIZES:
            expect(size in palette_images,
                   "%s.ico: no 16-colour %dx%d image" % (name, size, size))
            check_picture(name, size, palette_images[size])
        for size in ALPHA_SIZES:
            expect(size in alpha_images,
                   "%s.ico: no 32bpp %dx%d image" % (name, size, size))
            check_alpha(name, size, alpha_images[size])
            check_picture(name, size, opaque_rgb(alpha_images[size]))
        want_png = {s for s in ALPHA_SIZES if s >= PNG_FROM}
        expect(png_sizes == want_png, "%s.ico: PNG images at %s, expected %s"
               % (name, sorted(png_sizes), sorted(want_png)))
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
