#!/usr/bin/env python3
"""Draws the program's icons and bitmaps into this folder (standard library only).

  token.ico         clear USB-token icon (16 to 64 px, for 100 to 200%): window, tray and About box
  token_busy1.ico   busy-animation frame: LED green, light ring
  token_busy2.ico   busy-animation frame: LED amber, ring turned by half a step
  tree_images.bmp   16 px high strip for the certificate tree: token, certificate; magenta is transparent
  banner.bmp        banner across the top of the main window, with the product name; banner_150.bmp and
                    banner_200.bmp the same drawn for 150% and 200%
  notifier_skin.bmp background of the usage-time popup; _150 and _200 the same for 150% and 200%

Shapes are signed-distance functions rendered with analytic anti-aliasing, so the output is the same on
every machine. Run it again after changing a drawing and commit the images with the script.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def mix(c1, c2, t):
    return tuple(a + (b - a) * t for a, b in zip(c1, c2))


def hexc(s):
    return tuple(int(s[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


class Canvas:
    """RGBA, floats 0..1, straight alpha; y grows downwards."""

    def __init__(self, w, h, bg=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [list(bg) for _ in range(w * h)]

    def blend(self, x, y, rgb, a):
        if a <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        p = self.px[y * self.w + x]
        out_a = a + p[3] * (1 - a)
        if out_a <= 0:
            return
        for i in range(3):
            p[i] = (rgb[i] * a + p[i] * p[3] * (1 - a)) / out_a
        p[3] = out_a

    def fill(self, sdf, colour, bbox, scale=1.0, opacity=1.0):
        """sdf(x, y) in drawing units; scale = pixels per unit; colour is rgb or fn(x, y) -> rgb."""
        x0, y0, x1, y1 = bbox
        for py in range(max(0, int(y0 * scale) - 1), min(self.h, int(y1 * scale) + 2)):
            for px in range(max(0, int(x0 * scale) - 1), min(self.w, int(x1 * scale) + 2)):
                ux, uy = (px + 0.5) / scale, (py + 0.5) / scale
                cov = clamp(0.5 - sdf(ux, uy) * scale)
                if cov > 0:
                    c = colour(ux, uy) if callable(colour) else colour
                    self.blend(px, py, c, cov * opacity)


# Signed distances (negative inside).
def sd_round_rect(x0, y0, x1, y1, r):
    cx, cy, hx, hy = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def f(x, y):
        dx, dy = abs(x - cx) - hx, abs(y - cy) - hy
        return math.hypot(max(dx, 0), max(dy, 0)) + min(max(dx, dy), 0) - r
    return f


def sd_circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def seg_dist(x, y, ax, ay, bx, by):
    vx, vy = bx - ax, by - ay
    ll = vx * vx + vy * vy
    t = 0 if ll == 0 else clamp(((x - ax) * vx + (y - ay) * vy) / ll)
    return math.hypot(x - ax - vx * t, y - ay - vy * t)


def sd_polyline(points, r):
    segs = list(zip(points, points[1:])) or [(points[0], points[0])]

    def f(x, y):
        return min(seg_dist(x, y, a[0], a[1], b[0], b[1]) for a, b in segs) - r
    return f


def sd_union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def sd_subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def arc(cx, cy, rx, ry, a0, a1, n=20):
    """Points of an elliptic arc, angles in degrees, counter-clockwise with y up."""
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / n)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / n))) for i in range(n + 1)]


# ---------------------------------------------------------------------------------------------------------
# The token, drawn in a 32-unit square.

BLUE_TOP, BLUE_BOTTOM = hexc("2f6fd0"), hexc("123a7a")
METAL_LIGHT, METAL_DARK = hexc("eef1f5"), hexc("9aa3ae")
GOLD, GOLD_DARK = hexc("ffd257"), hexc("b07d10")


def draw_token(cv, scale, ox=0.0, oy=0.0, led=None, ring=None):
    def at(f):
        return lambda x, y: f(x - ox, y - oy)

    def box(x0, y0, x1, y1):
        return (x0 + ox, y0 + oy, x1 + ox, y1 + oy)

    # Plug: metal shell with the two contact windows.
    cv.fill(at(sd_round_rect(10.5, 1.5, 21.5, 11, 1.2)), hexc("5d6670"), box(10, 1, 22, 11), scale)
    cv.fill(at(sd_round_rect(11.3, 2.3, 20.7, 11, 0.8)), lambda x, y: mix(METAL_LIGHT, METAL_DARK, (y - oy) / 11),
            box(11, 2, 21, 11), scale)
    for cx in (13.6, 18.4):
        cv.fill(at(sd_round_rect(cx - 1.3, 4.3, cx + 1.3, 6.8, 0.3)), hexc("4a525c"), box(cx - 2, 4, cx + 2, 7),
                scale)
    # Body with a light rim and a soft highlight on its left.
    cv.fill(at(sd_round_rect(6, 9, 26, 31, 4.5)), hexc("0b2656"), box(6, 9, 26, 31), scale)
    cv.fill(at(sd_round_rect(7, 10, 25, 30, 3.6)),
            lambda x, y: mix(BLUE_TOP, BLUE_BOTTOM, clamp(((y - oy) - 10) / 20)), box(7, 10, 25, 30), scale)
    cv.fill(at(sd_round_rect(8.3, 11.3, 11.3, 27, 1.5)), (1, 1, 1), box(8, 11, 12, 27), scale, 0.18)
    # Keyhole badge: gold disc with the dark key slot cut in.
    badge = sd_circle(16, 18.5, 5.2)
    slot = sd_union(sd_circle(16, 17.3, 1.7), sd_polyline([(16, 17.5), (16, 21.3)], 0.85))
    cv.fill(at(badge), hexc("6b4a05"), box(10, 13, 22, 24), scale)
    cv.fill(at(sd_circle(16, 18.5, 4.4)), lambda x, y: mix(GOLD, GOLD_DARK, clamp(((y - oy) - 14) / 9)),
            box(11, 14, 21, 23), scale)
    cv.fill(at(slot), hexc("2a1d02"), box(13, 15, 19, 23), scale)
    if ring:
        # A ring of eight dots round the badge; the lit ones show which frame this is.
        for i in range(8):
            a = math.radians(i * 45 + ring[0])
            lit = (i % 2) == ring[1]
            cv.fill(at(sd_circle(16 + 7.6 * math.cos(a), 18.5 + 7.6 * math.sin(a), 0.95 if lit else 0.7)),
                    (1, 1, 1) if lit else hexc("7fa6e0"), box(6, 9, 26, 29), scale, 1.0 if lit else 0.7)
    # Status LED.
    colour = led or hexc("5c7a99")
    if led:
        cv.fill(at(sd_circle(16, 27.3, 2.6)), led, box(12, 24, 20, 31), scale, 0.35)
    cv.fill(at(sd_circle(16, 27.3, 1.35)), colour, box(14, 25, 18, 30), scale)


def token_image(size, **kw):
    cv = Canvas(size, size)
    draw_token(cv, size / 32.0, **kw)
    return cv


# ---------------------------------------------------------------------------------------------------------
# The certificate for the tree, drawn in a 16-unit square.

def draw_certificate(cv, ox):
    def at(f):
        return lambda x, y: f(x - ox, y)

    cv.fill(at(sd_round_rect(1.5, 1.5, 14.5, 12.5, 0.8)), hexc("6d7787"), (ox + 1, 1, ox + 15, 13), 1)
    cv.fill(at(sd_round_rect(2.3, 2.3, 13.7, 11.7, 0.4)), hexc("fbfbf7"), (ox + 2, 2, ox + 14, 12), 1)
    for y, x1 in ((4.5, 11.5), (6.5, 10.0), (8.5, 8.0)):
        cv.fill(at(sd_polyline([(4, y), (x1, y)], 0.45)), hexc("7d8aa0"), (ox + 3, y - 1, ox + 12, y + 1), 1)
    cv.fill(at(sd_polyline([(10.2, 11.2), (9.4, 15.2)], 0.75)), hexc("b3161b"), (ox + 8, 10, ox + 12, 16), 1)
    cv.fill(at(sd_polyline([(12.0, 11.2), (12.8, 15.2)], 0.75)), hexc("b3161b"), (ox + 10, 10, ox + 14, 16), 1)
    cv.fill(at(sd_circle(11.1, 10.3, 2.6)), hexc("d42a2a"), (ox + 8, 7, ox + 14, 13), 1)
    cv.fill(at(sd_circle(11.1, 10.3, 1.2)), hexc("f6c342"), (ox + 9, 8, ox + 13, 12), 1)


# ---------------------------------------------------------------------------------------------------------
# A small stroke font for the banner: cap height 10 units, baseline y = 0, y grows upwards.

GLYPHS = {
    "C": (8.6, [arc(4.5, 5, 4.5, 5, 50, 310, 28)]),
    "M": (8.6, [[(0, 0), (0, 10), (4.3, 2.6), (8.6, 10), (8.6, 0)]]),
    "a": (6.6, [arc(3.2, 3.5, 3.2, 3.5, 0, 360, 28), [(6.4, 7), (6.4, 0)]]),
    "c": (6.0, [arc(3.4, 3.5, 3.4, 3.5, 45, 315, 24)]),
    "e": (6.6, [[(0.1, 3.6), (6.6, 3.6)] + arc(3.35, 3.6, 3.25, 3.4, 0, 318, 24)[1:]]),
    "f": (4.2, [[(1.6, 0), (1.6, 8.0)] + arc(3.9, 8.0, 2.3, 2.0, 180, 80, 8)[1:], [(0, 7), (4.0, 7)]]),
    "g": (6.6, [arc(3.2, 3.5, 3.2, 3.5, 0, 360, 28),
                [(6.4, 7), (6.4, -0.6)] + arc(3.2, -0.6, 3.2, 2.6, 0, -165, 12)[1:]]),
    "i": (1.4, [[(0.7, 0), (0.7, 7)], [(0.7, 9.3), (0.7, 9.5)]]),
    "n": (6.2, [[(0, 0), (0, 7)], [(0, 4.0)] + arc(3.1, 4.0, 3.1, 3.0, 180, 0, 14)[1:] + [(6.2, 0)]]),
    "r": (4.4, [[(0, 0), (0, 7)], [(0, 3.8)] + arc(3.4, 3.8, 3.4, 3.2, 180, 80, 10)[1:]]),
    "t": (4.2, [[(1.6, 9.3), (1.6, 1.4)] + arc(3.4, 1.4, 1.8, 1.4, 180, 270, 6)[1:] + [(4.2, 0)],
                [(0, 7), (4.0, 7)]]),
    " ": (2.6, []),
}


def draw_text(cv, text, x, baseline, unit, weight, colour, gap=1.9):
    for ch in text:
        width, strokes = GLYPHS[ch]
        for pts in strokes:
            placed = [(x + px * unit, baseline - py * unit) for px, py in pts]
            xs, ys = [p[0] for p in placed], [p[1] for p in placed]
            pad = weight + 1
            cv.fill(sd_polyline(placed, weight), colour, (min(xs) - pad, min(ys) - pad, max(xs) + pad,
                                                          max(ys) + pad))
        x += (width + gap) * unit
    return x


def text_width(text, unit, gap=1.9):
    return sum((GLYPHS[c][0] + gap) * unit for c in text) - gap * unit


# ---------------------------------------------------------------------------------------------------------
# File writers.

def write_bmp(path, cv, background=(1, 1, 1)):
    """24-bit bottom-up BMP; transparent parts are laid on `background`."""
    row = (cv.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(cv.h - 1, -1, -1):
        line = bytearray()
        for x in range(cv.w):
            r, g, b, a = cv.px[y * cv.w + x]
            c = mix(background, (r, g, b), a)
            line += bytes(int(round(clamp(v) * 255)) for v in (c[2], c[1], c[0]))
        data += line + b"\0" * (row - len(line))
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def ico_entry(cv):
    """One 32-bit image of an icon: BITMAPINFOHEADER, BGRA rows bottom-up, then the AND mask."""
    xor = bytearray()
    mask = bytearray()
    mask_row = ((cv.w + 31) // 32) * 4
    for y in range(cv.h - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(cv.w):
            r, g, b, a = cv.px[y * cv.w + x]
            xor += bytes(int(round(clamp(v) * 255)) for v in (b, g, r, a))
            if a < 0.5:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask


def write_ico(path, images):
    blobs = [ico_entry(cv) for cv in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for cv, blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", cv.w % 256, cv.h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


# ---------------------------------------------------------------------------------------------------------

def make_icons():
    # Small icons at 100, 125, 150 and 200% (16 to 32 px), large ones at the same steps (32 to 64 px).
    sizes = (16, 20, 24, 32, 40, 48, 64)
    write_ico(os.path.join(HERE, "token.ico"), [token_image(s) for s in sizes])
    write_ico(os.path.join(HERE, "token_busy1.ico"),
              [token_image(s, led=hexc("3ee05a"), ring=(0, 0)) for s in sizes])
    write_ico(os.path.join(HERE, "token_busy2.ico"),
              [token_image(s, led=hexc("ffae1a"), ring=(0, 1)) for s in sizes])


def make_tree_images():
    magenta = (1, 0, 1)
    token = token_image(16)
    cert = Canvas(16, 16)
    draw_certificate(cert, 0)
    strip = Canvas(32, 16)
    # Half-covered edge pixels are laid on white; the rest becomes the transparent magenta.
    for img, ox in ((token, 0), (cert, 16)):
        for y in range(16):
            for x in range(16):
                r, g, b, a = img.px[y * 16 + x]
                strip.px[y * 32 + ox + x] = list(mix((1, 1, 1), (r, g, b), a)) + [1.0] if a >= 0.35 else \
                    list(magenta) + [1.0]
    write_bmp(os.path.join(HERE, "tree_images.bmp"), strip)


def make_banner(scale=1.0, name="banner.bmp"):
    """The banner at a scale of the 96-DPI one (400 x 58), drawn at that size rather than stretched."""
    s = scale
    w, h = round(400 * s), round(58 * s)
    top, bottom = hexc("1b4a9a"), hexc("0c2a5e")
    cv = Canvas(w, h)
    for y in range(h):
        for x in range(w):
            t = y / (h - 1)
            base = mix(top, bottom, t)
            glow = clamp(1 - math.hypot((x - 330 * s) / (140 * s), (y - 6 * s) / (60 * s)))
            cv.px[y * w + x] = list(mix(base, hexc("3f86e0"), glow * 0.55)) + [1.0]
    # Faint diagonal lines on the right for texture.
    for k in range(8):
        x0 = (250 + k * 22) * s
        cv.fill(sd_polyline([(x0, h + 2), (x0 + 40 * s, -2)], 0.6 * s), (1, 1, 1),
                (x0 - 2 * s, -2, x0 + 42 * s, h + 2), 1, 0.07)
    cv.fill(sd_polyline([(0, h - 1.5 * s), (w, h - 1.5 * s)], 1.0 * s), hexc("f2b632"), (0, h - 4 * s, w, h), 1)
    token = 44 / 32.0 * s
    draw_token(cv, token, ox=12 * s / token, oy=6 * s / token)
    unit = 2.15 * s
    x = 70 * s
    draw_text(cv, "Certificate Manager", x + s, 38 * s + s, unit, 1.45 * s, hexc("061a40"))
    draw_text(cv, "Certificate Manager", x, 38 * s, unit, 1.45 * s, (1, 1, 1))
    assert x + text_width("Certificate Manager", unit) < w - 10 * s, "banner text too wide"
    write_bmp(os.path.join(HERE, name), cv)


def make_notifier_skin(scale=1.0, name="notifier_skin.bmp"):
    """The usage popup's background at a scale of the 96-DPI one (220 x 140)."""
    s = scale
    w, h = round(220 * s), round(140 * s)
    cv = Canvas(w, h)
    for y in range(h):
        for x in range(w):
            t = y / (h - 1)
            cv.px[y * w + x] = list(mix(hexc("f7faff"), hexc("dce7f7"), t)) + [1.0]
    # Header: a pale band under the title line, with an accent rule below it.
    for y in range(round(6 * s), round(36 * s)):
        for x in range(1, w - 1):
            cv.blend(x, y, hexc("c9dbf5"), 0.55 * (1 - (y - 6 * s) / (30 * s)))
    cv.fill(sd_polyline([(40 * s, 36.5 * s), (w - 40 * s, 36.5 * s)], 0.5 * s), hexc("2f6fd0"),
            (38 * s, 34 * s, w - 38 * s, 39 * s), 1, 0.8)
    # Footer band under the text area.
    footer = round(22 * s)
    for y in range(h - footer, h - 1):
        for x in range(1, w - 1):
            cv.blend(x, y, hexc("1b4a9a"), 0.10 + 0.10 * (y - (h - footer)) / (footer - 1))
    cv.fill(sd_polyline([(1, h - 22.5 * s), (w - 1, h - 22.5 * s)], 0.5 * s), hexc("2f6fd0"),
            (0, h - 25 * s, w, h - 20 * s), 1, 0.5)
    for i in range(3):
        cv.fill(sd_circle(w - (20 + i * 9) * s, h - 11 * s, 2.2 * s), hexc("2f6fd0"),
                (w - 45 * s, h - 15 * s, w - 15 * s, h - 7 * s), 1, 0.35 + 0.25 * i)
    # A small token at the left of the header.
    token = 24 / 32.0 * s
    draw_token(cv, token, ox=10 * s / token, oy=8 * s / token)
    # Frame: dark outer line, light inner line, one pixel each at every scale.
    cv.fill(sd_subtract(sd_round_rect(0, 0, w, h, 0.01), sd_round_rect(1, 1, w - 1, h - 1, 0.01)),
            hexc("3a5f9e"), (0, 0, w, h), 1)
    cv.fill(sd_subtract(sd_round_rect(1, 1, w - 1, h - 1, 0.01), sd_round_rect(2, 2, w - 2, h - 2, 0.01)),
            (1, 1, 1), (0, 0, w, h), 1, 0.8)
    write_bmp(os.path.join(HERE, name), cv)


if __name__ == "__main__":
    make_icons()
    make_tree_images()
    make_banner()
    make_banner(1.5, "banner_150.bmp")
    make_banner(2.0, "banner_200.bmp")
    make_notifier_skin()
    make_notifier_skin(1.5, "notifier_skin_150.bmp")
    make_notifier_skin(2.0, "notifier_skin_200.bmp")
