#!/usr/bin/python3
"""Generate Quorlin's resource pictures: quorlin.ico and banner.jpg.

Run from anywhere; the files are written next to this script.
Output is deterministic (same bytes on every run): no timestamps,
no EXIF, no other metadata.

  quorlin.ico  two classic 4-bit (16 colour) DIB icons, 32x32 and 16x16,
               each with XOR bitmap + AND mask, written by hand with struct
               (PIL's ICO writer only emits PNG / 32-bit entries).
  banner.jpg   400x100 baseline JPEG, quality 85, no EXIF.
"""

import os
import struct

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))

# ---------------------------------------------------------------------------
# Icon
# ---------------------------------------------------------------------------

# The classic 16-colour palette (standard Windows / VGA colours), as RGB.
PALETTE = [
    (0x00, 0x00, 0x00),  # 0  black
    (0x80, 0x00, 0x00),  # 1  dark red
    (0x00, 0x80, 0x00),  # 2  dark green
    (0x80, 0x80, 0x00),  # 3  olive
    (0x00, 0x00, 0x80),  # 4  navy
    (0x80, 0x00, 0x80),  # 5  purple
    (0x00, 0x80, 0x80),  # 6  teal
    (0xC0, 0xC0, 0xC0),  # 7  light grey
    (0x80, 0x80, 0x80),  # 8  dark grey
    (0xFF, 0x00, 0x00),  # 9  red
    (0x00, 0xFF, 0x00),  # 10 green
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 magenta
    (0x00, 0xFF, 0xFF),  # 14 cyan
    (0xFF, 0xFF, 0xFF),  # 15 white
]

# Pixel-art legend: character -> palette index; '.' is transparent.
LEGEND = {
    "K": 0, "r": 1, "g": 2, "o": 3, "n": 4, "p": 5, "t": 6, "L": 7,
    "D": 8, "R": 9, "G": 10, "Y": 11, "B": 12, "M": 13, "C": 14, "W": 15,
}

# Motif: a processor chip (pins all round) carrying a toggle switch that is
# flipped "on" (green knob to the right).

ICON_16 = [
    "................",
    "...LL..LL..LL...",
    "..KKKKKKKKKKKK..",
    ".LKBBBBBBBBBBKL.",
    ".LKBnnnnnnnnnKL.",
    "..KBnKKKKKKnnK..",
    "..KBKWWWKGGKnK..",
    ".LKBKWLLKGGKnKL.",
    ".LKBKWLLKGGKnKL.",
    "..KBKWLLKggKnK..",
    "..KBnKKKKKKnnK..",
    ".LKBnnnnnnnnnKL.",
    ".LKBnnnnnnnnYKL.",
    "..KKKKKKKKKKKK..",
    "...LL..LL..LL...",
    "................",
]

ICON_32 = [
    "................................",
    ".....LL..LL..LL..LL..LL..LL.....",
    ".....LL..LL..LL..LL..LL..LL.....",
    "...KKKKKKKKKKKKKKKKKKKKKKKKKK...",
    "...KBBBBBBBBBBBBBBBBBBBBBBBBK...",
    ".LLKBnnnnnnnnnnnnnnnnnnnnnnnKLL.",
    ".LLKBnnnnnnnnnnnnnnnnnnnnnnnKLL.",
    "...KBnnnnnnnnnnnnnnnnnnnnnnnK...",
    "...KBnnnnnnnnnnnnnnnnnnnnnnnK...",
    ".LLKBnnnnnnnnnnnnnnnnnnnnnnnKLL.",
    ".LLKBnnnKKKKKKKKKKKKKKKKnnnnKLL.",
    "...KBnnKWWWWWWWWKGGGGGGgKnnnK...",
    "...KBnnKWLLLLLLLKGGGGGGgKnnnK...",
    ".LLKBnnKWLLLLLLLKGGGGGGgKnnnKLL.",
    ".LLKBnnKWLLLLLLLKGGWWGGgKnnnKLL.",
    "...KBnnKWLLLLLLLKGGWWGGgKnnnK...",
    "...KBnnKWLLLLLLLKGGGGGGgKnnnK...",
    ".LLKBnnKWLLLLLLLKGGGGGGgKnnnKLL.",
    ".LLKBnnKWLLLLLLLKGGGGGGgKnnnKLL.",
    "...KBnnKWLLLLLLLKGGGGGGgKnnnK...",
    "...KBnnKWLLLLLLLKgggggggKnnnK...",
    ".LLKBnnnKKKKKKKKKKKKKKKKnnnnKLL.",
    ".LLKBnnnnnnnnnnnnnnnnnnnnnnnKLL.",
    "...KBnnnnnnnnnnnnnnnnnnnnnnnK...",
    "...KBnnnnnnnnnnnnnnnnnnnYYnnK...",
    ".LLKBnnnnnnnnnnnnnnnnnnnYYnnKLL.",
    ".LLKBnnnnnnnnnnnnnnnnnnnnnnnKLL.",
    "...KnnnnnnnnnnnnnnnnnnnnnnnnK...",
    "...KKKKKKKKKKKKKKKKKKKKKKKKKK...",
    ".....LL..LL..LL..LL..LL..LL.....",
    ".....LL..LL..LL..LL..LL..LL.....",
    "................................",
]


def parse_art(rows):
    """Return (size, pixels, mask): pixels[y][x] palette index,
    mask[y][x] 1 where transparent."""
    size = len(rows)
    assert all(len(r) == size for r in rows), "art must be square"
    pixels, mask = [], []
    for row in rows:
        prow, mrow = [], []
        for ch in row:
            if ch == ".":
                prow.append(0)
                mrow.append(1)
            else:
                prow.append(LEGEND[ch])
                mrow.append(0)
        pixels.append(prow)
        mask.append(mrow)
    return size, pixels, mask


def dib_4bpp(rows):
    """Classic icon image: BITMAPINFOHEADER + 16-entry palette +
    4bpp XOR bitmap + 1bpp AND mask, bottom-up, rows padded to 4 bytes."""
    size, pixels, mask = parse_art(rows)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    and_ = bytearray()
    for y in range(size - 1, -1, -1):          # bottom-up
        line = bytearray(xor_stride)
        for x in range(size):
            v = pixels[y][x]
            if x % 2 == 0:
                line[x // 2] |= v << 4
            else:
                line[x // 2] |= v
        xor += line
        mline = bytearray(and_stride)
        for x in range(size):
            if mask[y][x]:
                mline[x // 8] |= 0x80 >> (x % 8)
        and_ += mline
    header = struct.pack(
        "<IiiHHIIiiII",
        40,                 # biSize
        size,               # biWidth
        size * 2,           # biHeight (XOR + AND)
        1,                  # biPlanes
        4,                  # biBitCount
        0,                  # biCompression = BI_RGB
        len(xor) + len(and_),  # biSizeImage
        0, 0,               # biX/YPelsPerMeter
        0, 0,               # biClrUsed, biClrImportant
    )
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return size, header + palette + bytes(xor) + bytes(and_)


def build_ico(images):
    entries = [dib_4bpp(rows) for rows in images]
    out = struct.pack("<HHH", 0, 1, len(entries))   # ICONDIR
    offset = 6 + 16 * len(entries)
    for size, data in entries:
        out += struct.pack(
            "<BBBBHHII",
            size % 256, size % 256,  # bWidth, bHeight
            16,                      # bColorCount
            0,                       # bReserved
            1,                       # wPlanes
            4,                       # wBitCount
            len(data),               # dwBytesInRes
            offset,                  # dwImageOffset
        )
        offset += len(data)
    for _, data in entries:
        out += data
    return out


# ---------------------------------------------------------------------------
# Banner
# ---------------------------------------------------------------------------

FONT_DIR = "/usr/share/fonts/truetype/dejavu"
SS = 4                      # supersampling factor
BW, BH = 400, 100           # final banner size


def font(name, px):
    path = os.path.join(FONT_DIR, name)
    if not os.path.exists(path):
        raise SystemExit("font not found: %s (install fonts-dejavu-core)" % path)
    return ImageFont.truetype(path, px * SS)


def s(*vals):
    """Scale design coordinates (final-pixel units) to the supersampled canvas."""
    return [int(round(v * SS)) for v in vals]


def draw_chip(d, cx, cy, half):
    """Processor chip: square body with pins on every side."""
    pin_len, pin_w = 5, 2.4
    n = 5
    step = (2 * half) / n
    pin = (200, 206, 214)
    for i in range(n):
        p = cy - half + step * (i + 0.5)
        q = cx - half + step * (i + 0.5)
        d.rectangle(s(cx - half - pin_len, p - pin_w / 2, cx - half, p + pin_w / 2), fill=pin)
        d.rectangle(s(cx + half, p - pin_w / 2, cx + half + pin_len, p + pin_w / 2), fill=pin)
        d.rectangle(s(q - pin_w / 2, cy - half - pin_len, q + pin_w / 2, cy - half), fill=pin)
        d.rectangle(s(q - pin_w / 2, cy + half, q + pin_w / 2, cy + half + pin_len), fill=pin)
    d.rounded_rectangle(s(cx - half, cy - half, cx + half, cy + half), radius=3 * SS,
                        fill=(38, 44, 58), outline=(210, 216, 226), width=int(1.5 * SS))
    inner = half * 0.55
    d.rounded_rectangle(s(cx - inner, cy - inner, cx + inner, cy + inner), radius=2 * SS,
                        fill=(86, 150, 220))
    d.ellipse(s(cx - half + 3, cy + half - 7, cx - half + 7, cy + half - 3), fill=(210, 216, 226))


def draw_card(d, x0, y0, w, h):
    """Graphics card: board with a fan, a bracket and an edge connector."""
    bracket = (190, 196, 206)
    d.rectangle(s(x0 - 4, y0 - 4, x0, y0 + h + 6), fill=bracket)
    # edge connector (gold fingers) under the board
    d.rectangle(s(x0 + w * 0.30, y0 + h, x0 + w * 0.85, y0 + h + 5), fill=(224, 182, 72))
    for i in range(9):
        fx = x0 + w * 0.30 + 2 + i * (w * 0.55 - 3) / 9
        d.line(s(fx, y0 + h + 1, fx, y0 + h + 5), fill=(160, 120, 40), width=SS)
    d.rounded_rectangle(s(x0, y0, x0 + w, y0 + h), radius=4 * SS,
                        fill=(38, 44, 58), outline=(210, 216, 226), width=int(1.5 * SS))
    # fan
    r = h * 0.36
    fcx, fcy = x0 + w * 0.36, y0 + h / 2
    d.ellipse(s(fcx - r, fcy - r, fcx + r, fcy + r), fill=(70, 80, 98), outline=(210, 216, 226),
              width=SS)
    for a in range(0, 360, 60):
        d.pieslice(s(fcx - r + 2, fcy - r + 2, fcx + r - 2, fcy + r - 2), a, a + 32,
                   fill=(150, 160, 178))
    d.ellipse(s(fcx - 2.5, fcy - 2.5, fcx + 2.5, fcy + 2.5), fill=(210, 216, 226))
    # heat-sink fins on the right
    for i in range(4):
        fx = x0 + w * 0.70 + i * 3.5
        d.rectangle(s(fx, y0 + 5, fx + 1.6, y0 + h - 5), fill=(120, 200, 110))


def draw_toggle(d, cx, cy):
    """Toggle switch, flipped towards the card (right)."""
    w, h = 26, 13
    d.rounded_rectangle(s(cx - w / 2, cy - h / 2, cx + w / 2, cy + h / 2), radius=int(h / 2 * SS),
                        fill=(118, 196, 96), outline=(236, 240, 244), width=int(1.2 * SS))
    kr = h / 2 - 2
    kx = cx + w / 2 - h / 2
    d.ellipse(s(kx - kr, cy - kr, kx + kr, cy + kr), fill=(250, 250, 250))


def build_banner():
    W, H = BW * SS, BH * SS
    img = Image.new("RGB", (W, H))
    # horizontal gradient: deep blue to teal
    c0, c1 = (22, 40, 78), (28, 104, 122)
    grad = Image.new("RGB", (BW, 1))
    for x in range(BW):
        t = x / (BW - 1)
        grad.putpixel((x, 0), tuple(int(round(a + (b - a) * t)) for a, b in zip(c0, c1)))
    img.paste(grad.resize((W, H), Image.NEAREST))
    d = ImageDraw.Draw(img)

    # motif on the left: chip -- toggle -- card
    draw_chip(d, 30, 50, 17)
    draw_toggle(d, 74, 50)
    draw_card(d, 98, 34, 58, 30)

    # title on the right
    title_font = font("DejaVuSans-Bold.ttf", 52)
    sub_font = font("DejaVuSans-Bold.ttf", 15)
    title = "Quorlin"
    sub = "physics on GPU or CPU"
    tx = 176
    tb = d.textbbox((0, 0), title, font=title_font)
    tw = (tb[2] - tb[0]) / SS
    sb = d.textbbox((0, 0), sub, font=sub_font)
    sw = (sb[2] - sb[0]) / SS
    # centre both lines in the space right of the motif
    area = BW - 8 - tx
    ttx = tx + (area - tw) / 2
    stx = tx + (area - sw) / 2
    # drop shadow then text
    d.text(s(ttx + 1.5 - tb[0] / SS, 12 + 1.5 - tb[1] / SS), title, font=title_font,
           fill=(10, 20, 40))
    d.text(s(ttx - tb[0] / SS, 12 - tb[1] / SS), title, font=title_font, fill=(250, 250, 250))
    d.text(s(stx - sb[0] / SS, 72 - sb[1] / SS), sub, font=sub_font, fill=(170, 230, 150))

    return img.resize((BW, BH), Image.LANCZOS)


def main():
    ico = build_ico([ICON_32, ICON_16])
    with open(os.path.join(HERE, "quorlin.ico"), "wb") as f:
        f.write(ico)
    banner = build_banner()
    banner.save(os.path.join(HERE, "banner.jpg"), "JPEG", quality=85,
                optimize=False, progressive=False, subsampling=0)


if __name__ == "__main__":
    main()
