#!/usr/bin/python3
"""Draws the server's built-in pictures and the sample custom icons.

    /usr/bin/python3 tools/make_artwork.py [--sheet contact.png]

Writes images/resources/*.bmp, *.ico and examples/office/*.ico. Needs
Debian's python3-pil and fonts-noto-cjk; only needed to redraw, the build
uses the committed files. Output is deterministic for a given Pillow."""

import argparse
import math
import os
import random
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import artwork_formats as fmt  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RESOURCES = os.path.join(ROOT, "images", "resources")
EXAMPLES = os.path.join(ROOT, "examples", "office")

FONT_FILES = [
    ("/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc", 0),
    ("/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", 0),
]

SS = 4  # supersampling factor for shapes

# Page background tone: corners of the buttons blend into it. Tea-dyed and
# dark: the classic pages write their titles in white straight on it, which
# needs 4.5:1 on every pixel of the paper (images/jpeg_list_test.cpp).
PAPER = (94, 78, 58)


def font(size):
    for path, index in FONT_FILES:
        if os.path.exists(path):
            return ImageFont.truetype(path, size, index=index)
    raise SystemExit("no Japanese font found: apt-get install fonts-noto-cjk")


def hexrgb(text):
    text = text.lstrip("#")
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(len(a)))


# ---------------------------------------------------------------- background

def background():
    """Washi-like paper: a soft cloudy tone and scattered fibres, all drawn
    periodically so the tile repeats without a seam."""
    w, h = 320, 192
    rnd = random.Random(1990)
    # Low-frequency clouds: cosines whose periods divide the tile.
    waves = []
    for _ in range(6):
        fx = rnd.randint(1, 3)
        fy = rnd.randint(1, 3)
        waves.append((fx, fy, rnd.random() * 2 * math.pi, rnd.uniform(0.8, 1.6)))
    shade = Image.new("L", (w, h))
    sp = shade.load()
    for y in range(h):
        for x in range(w):
            v = 0.0
            for fx, fy, ph, amp in waves:
                v += amp * math.cos(2 * math.pi * (fx * x / w + fy * y / h) + ph)
            sp[x, y] = max(0, min(255, int(128 + v * 10)))
    shade = shade.resize((w * SS, h * SS), Image.BICUBIC)
    light = Image.new("RGB", shade.size, (106, 92, 76))
    dark = Image.new("RGB", shade.size, (86, 68, 45))
    big = Image.composite(light, dark, shade)

    draw = ImageDraw.Draw(big)
    fibre_tones = [(109, 96, 82), (80, 61, 35), (89, 73, 52), (73, 53, 26)]
    for _ in range(140):
        x = rnd.uniform(0, w * SS)
        y = rnd.uniform(0, h * SS)
        angle = rnd.uniform(0, 2 * math.pi)
        length = rnd.uniform(6, 26) * SS
        bend = rnd.uniform(-0.6, 0.6)
        tone = rnd.choice(fibre_tones)
        width = rnd.choice([1, 1, 2]) * SS // 2
        points = []
        for i in range(9):
            t = i / 8
            a = angle + bend * (t - 0.5)
            points.append((x + math.cos(a) * length * t, y + math.sin(a) * length * t))
        for dx in (-w * SS, 0, w * SS):
            for dy in (-h * SS, 0, h * SS):
                draw.line([(px_ + dx, py_ + dy) for px_, py_ in points], fill=tone, width=width)
    # Fine speckles, also wrapped.
    for _ in range(500):
        x = rnd.randrange(w * SS)
        y = rnd.randrange(h * SS)
        tone = rnd.choice(fibre_tones)
        r = rnd.choice([1, 2]) * SS // 2
        for dx in (-w * SS, 0, w * SS):
            for dy in (-h * SS, 0, h * SS):
                draw.ellipse([x + dx - r, y + dy - r, x + dx + r, y + dy + r], fill=tone)
    small = big.resize((w, h), Image.LANCZOS)
    return fmt.quantize(small, 256)


# ------------------------------------------------------------------- buttons

# Colours of the button families: (top of face, bottom of face, border,
# label, inner highlight).
STYLE_NORMAL = dict(top="#FDFEFF", bottom="#D8E2EE", border="#5F7898", label="#1E3250",
                    shine="#FFFFFF")
STYLE_CURRENT = dict(top="#FFE9A8", bottom="#F7B53B", border="#A86A08", label="#3D2400",
                     shine="#FFF6D8")
STYLE_PRIMARY = dict(top="#5E97D4", bottom="#2D64A8", border="#1B3F6E", label="#FFFFFF",
                     shine="#8DB8E6")
STYLE_WARN = dict(top="#F5A98A", bottom="#D9603B", border="#8E3417", label="#FFFFFF",
                  shine="#FBCDB9")
STYLE_PLAIN = dict(top="#FFFFFF", bottom="#DCDFE4", border="#6F7782", label="#262B33",
                   shine="#FFFFFF")


def face(img, box, style, radius):
    """A raised button: border, glossy face, a light inner line."""
    draw = ImageDraw.Draw(img)
    x0, y0, x1, y1 = [v * SS for v in box]
    x1 += SS - 1
    y1 += SS - 1
    r = radius * SS
    draw.rounded_rectangle([x0, y0, x1, y1], r, fill=hexrgb(style["border"]))
    inset = SS
    top = hexrgb(style["top"])
    bottom = hexrgb(style["bottom"])
    # Gradient face clipped to the inner rounded rectangle.
    fw, fh = x1 - x0 - 2 * inset + 1, y1 - y0 - 2 * inset + 1
    grad = Image.new("RGB", (fw, fh))
    gd = ImageDraw.Draw(grad)
    for yy in range(fh):
        t = yy / max(1, fh - 1)
        # A gentle bend keeps the upper part bright, like a lit surface.
        t = t ** 1.3
        gd.line([(0, yy), (fw, yy)], fill=lerp(top, bottom, t))
    mask = Image.new("L", (fw, fh), 0)
    ImageDraw.Draw(mask).rounded_rectangle([0, 0, fw - 1, fh - 1], max(0, r - inset), fill=255)
    img.paste(grad, (x0 + inset, y0 + inset), mask)
    # Inner highlight along the top edge.
    shine = hexrgb(style["shine"])
    draw.line([(x0 + r, y0 + inset + SS // 2), (x1 - r, y0 + inset + SS // 2)], fill=shine,
              width=SS)


def label(img, box, text, style, size, dy=0):
    """Label centred in box (pixel coordinates of the 1x image)."""
    draw = ImageDraw.Draw(img)
    f = font(size)
    x0, y0, x1, y1 = box
    bbox = draw.textbbox((0, 0), text, font=f)
    tw, th = bbox[2] - bbox[0], bbox[3] - bbox[1]
    x = (x0 + x1 + 1 - tw) / 2 - bbox[0]
    y = (y0 + y1 + 1 - th) / 2 - bbox[1] + dy
    draw.text((round(x), round(y)), text, font=f, fill=hexrgb(style["label"]))


# Pictograms, drawn into a square of side s (supersampled pixels) at (ox, oy).

def icon_details(d, ox, oy, s, ink, accent):
    w = max(1, s // 14)
    d.rounded_rectangle([ox + s * 0.10, oy + s * 0.04, ox + s * 0.70, oy + s * 0.88], s * 0.06,
                        fill=(255, 255, 255), outline=ink, width=w)
    for i in range(4):
        y = oy + s * (0.22 + i * 0.14)
        d.line([(ox + s * 0.22, y), (ox + s * (0.58 if i % 2 == 0 else 0.48), y)], fill=ink,
               width=w)
    cx, cy, r = ox + s * 0.66, oy + s * 0.62, s * 0.20
    d.line([(cx + r * 0.7, cy + r * 0.7), (ox + s * 0.96, oy + s * 0.96)], fill=ink, width=w * 3)
    d.ellipse([cx - r, cy - r, cx + r, cy + r], fill=accent, outline=ink, width=w * 2)


def icon_clock(d, ox, oy, s, ink, accent):
    w = max(1, s // 14)
    r = s * 0.44
    cx, cy = ox + s / 2, oy + s / 2
    d.ellipse([cx - r, cy - r, cx + r, cy + r], fill=(255, 255, 255), outline=ink, width=w * 2)
    for i in range(12):
        a = i * math.pi / 6
        r0 = r * (0.72 if i % 3 == 0 else 0.80)
        d.line([(cx + math.cos(a) * r0, cy + math.sin(a) * r0),
                (cx + math.cos(a) * r * 0.88, cy + math.sin(a) * r * 0.88)], fill=ink, width=w)
    d.line([(cx, cy), (cx, cy - r * 0.62)], fill=ink, width=w * 2)
    d.line([(cx, cy), (cx + r * 0.46, cy + r * 0.18)], fill=accent, width=w * 2)
    d.ellipse([cx - w * 1.5, cy - w * 1.5, cx + w * 1.5, cy + w * 1.5], fill=ink)


def envelope(d, ox, oy, s, ink, open_=False):
    w = max(1, s // 14)
    x0, y0, x1, y1 = ox + s * 0.04, oy + s * 0.24, ox + s * 0.86, oy + s * 0.80
    d.rectangle([x0, y0, x1, y1], fill=(255, 255, 255), outline=ink, width=w)
    if open_:
        d.polygon([(x0, y0), ((x0 + x1) / 2, y0 - s * 0.20), (x1, y0)], fill=(255, 255, 255),
                  outline=ink)
        d.line([(x0, y0), ((x0 + x1) / 2, y0 - s * 0.20), (x1, y0)], fill=ink, width=w)
    d.line([(x0, y0), ((x0 + x1) / 2, (y0 + y1) / 2 + s * 0.04), (x1, y0)], fill=ink, width=w)


def icon_check_message(d, ox, oy, s, ink, accent):
    envelope(d, ox, oy, s, ink, open_=True)
    w = max(1, s // 14)
    d.ellipse([ox + s * 0.52, oy + s * 0.52, ox + s * 0.98, oy + s * 0.98], fill=accent,
              outline=ink, width=w)
    d.line([(ox + s * 0.62, oy + s * 0.76), (ox + s * 0.72, oy + s * 0.86),
            (ox + s * 0.88, oy + s * 0.64)], fill=(255, 255, 255), width=w * 2)


def icon_send_message(d, ox, oy, s, ink, accent):
    envelope(d, ox, oy, s, ink)
    w = max(1, s // 14)
    ax, ay = ox + s * 0.56, oy + s * 0.76
    d.polygon([(ax, ay - s * 0.08), (ax + s * 0.24, ay - s * 0.08), (ax + s * 0.24, ay - s * 0.20),
               (ax + s * 0.44, ay), (ax + s * 0.24, ay + s * 0.20), (ax + s * 0.24, ay + s * 0.08),
               (ax, ay + s * 0.08)], fill=accent, outline=ink)
    d.line([(ax, ay - s * 0.08), (ax + s * 0.24, ay - s * 0.08), (ax + s * 0.24, ay - s * 0.20),
            (ax + s * 0.44, ay), (ax + s * 0.24, ay + s * 0.20), (ax + s * 0.24, ay + s * 0.08),
            (ax, ay + s * 0.08), (ax, ay - s * 0.08)], fill=ink, width=w)


def icon_return(d, ox, oy, s, ink):
    """A U-turn arrow pointing left."""
    w = max(1, s // 9)
    cx, cy, r = ox + s * 0.56, oy + s * 0.52, s * 0.28
    d.arc([cx - r, cy - r, cx + r, cy + r], -90, 90, fill=ink, width=w)
    d.line([(ox + s * 0.36, cy + r), (cx, cy + r)], fill=ink, width=w)
    d.line([(ox + s * 0.30, cy - r), (cx, cy - r)], fill=ink, width=w)
    tip = ox + s * 0.06
    d.polygon([(tip, cy - r), (ox + s * 0.34, cy - r - s * 0.20), (ox + s * 0.34, cy - r + s * 0.20)],
              fill=ink)


def icon_send(d, ox, oy, s, ink):
    """A paper plane."""
    pts = [(ox + s * 0.04, oy + s * 0.46), (ox + s * 0.96, oy + s * 0.10), (ox + s * 0.66, oy + s * 0.92),
           (ox + s * 0.46, oy + s * 0.62)]
    d.polygon(pts, fill=ink)
    d.polygon([(ox + s * 0.46, oy + s * 0.62), (ox + s * 0.96, oy + s * 0.10), (ox + s * 0.40, oy + s * 0.86)],
              fill=lerp(ink, (0, 0, 0), 0.25))


def icon_check(d, ox, oy, s, ink):
    w = max(1, s // 7)
    d.line([(ox + s * 0.08, oy + s * 0.52), (ox + s * 0.38, oy + s * 0.82), (ox + s * 0.92, oy + s * 0.18)],
           fill=ink, width=w, joint="curve")


def icon_cross(d, ox, oy, s, ink):
    w = max(1, s // 7)
    d.line([(ox + s * 0.16, oy + s * 0.16), (ox + s * 0.84, oy + s * 0.84)], fill=ink, width=w)
    d.line([(ox + s * 0.84, oy + s * 0.16), (ox + s * 0.16, oy + s * 0.84)], fill=ink, width=w)


# Sixteen colours chosen by hand: an adaptive palette spends them on the large
# faces and loses the small accents of the pictograms.
MENU_PALETTE = [hexrgb(c) for c in (
    "#5E4E3A",  # page paper (outside the tray)
    "#7C8FA8", "#B4C2D3", "#C3CFDD",  # tray rim, tray
    "#5F7898", "#FDFEFF", "#E6EDF5", "#D3DEEA",  # button border, face top to bottom
    "#1E3250", "#8E9CB0",  # label and its anti-aliasing
    "#A86A08", "#FFE7A6", "#F9C462",  # current button border, face
    "#5B9BD5", "#E05A2B", "#3AA655",  # pictogram accents
)]
STRIP_PALETTE = [hexrgb(c) for c in (
    "#5E4E3A",
    "#6F7782", "#FFFFFF", "#E9EBEF", "#D7DBE1",  # plain button
    "#262B33", "#8A919C",  # dark label and its anti-aliasing
    "#1B3F6E", "#5A93D1", "#3F79BD", "#2D64A8",  # primary button
    "#8E3417", "#F0A184", "#E07C58", "#D9603B",  # warning button
    "#B9CFEA",  # light label anti-aliasing on coloured faces
)]

MENU_SIZE = (369, 73)
# Image-map areas of the operation menu; the pictures must put the buttons there.
MENU_AREAS = [(9, 9, 98, 66), (97, 9, 186, 66), (185, 9, 273, 66), (272, 9, 361, 66)]
MENU_BUTTONS = [
    ("詳細表示", icon_details, "#5B9BD5"),
    ("不在設定", icon_clock, "#E05A2B"),
    ("伝言確認", icon_check_message, "#3AA655"),
    ("伝言送信", icon_send_message, "#F9C462"),
]
MENU_FILES = ["btnmenusyousai", "btnmenuhuzai", "btnmenudengoncheck", "btnmenudengonsend"]


def menu_bar(current):
    w, h = MENU_SIZE
    big = Image.new("RGB", (w * SS, h * SS), PAPER)
    d = ImageDraw.Draw(big)
    # Tray behind the buttons.
    d.rounded_rectangle([SS, SS, (w - 1) * SS - 1, (h - 1) * SS - 1], 8 * SS, fill=hexrgb("#7C8FA8"))
    d.rounded_rectangle([2 * SS, 2 * SS, (w - 2) * SS - 1, (h - 2) * SS - 1], 7 * SS,
                        fill=hexrgb("#A9B8CB"))
    d.rounded_rectangle([3 * SS, 3 * SS, (w - 3) * SS - 1, (h - 3) * SS - 1], 6 * SS,
                        fill=hexrgb("#C3CFDD"))
    boxes = []
    for i, (x0, y0, x1, y1) in enumerate(MENU_AREAS):
        # Keep a visible gap where neighbouring areas overlap.
        bx0 = x0 + (0 if i == 0 else 2)
        bx1 = x1 - (1 if i == len(MENU_AREAS) - 1 else 2)
        boxes.append((bx0, y0, bx1, y1 - 1))
    for i, box in enumerate(boxes):
        style = STYLE_CURRENT if i == current else STYLE_NORMAL
        face(big, box, style, 6)
        _, draw_icon, accent = MENU_BUTTONS[i]
        s = 24 * SS
        cx = (box[0] + box[2] + 1) * SS // 2
        draw_icon(d, cx - s // 2, (box[1] + 6) * SS, s, hexrgb(style["label"]), hexrgb(accent))
    img = big.resize((w, h), Image.LANCZOS)
    for i, box in enumerate(boxes):
        style = STYLE_CURRENT if i == current else STYLE_NORMAL
        label(img, (box[0], box[1] + 33, box[2], box[3] - 3), MENU_BUTTONS[i][0], style, 15)
    return fmt.remap(img, MENU_PALETTE)


ACTION_SIZE = (217, 57)


def action_button(img, img_labels, box, text, style, icon, size=20):
    face(img, box, style, 7)
    img_labels.append((box, text, style, icon, size))


def action_strip(layout):
    w, h = ACTION_SIZE
    big = Image.new("RGB", (w * SS, h * SS), PAPER)
    d = ImageDraw.Draw(big)
    pending = []
    for box, text, style, icon, size in layout:
        action_button(big, pending, box, text, style, icon, size)
    # Icons go left of the label: measure the label first to centre both.
    placements = []
    for box, text, style, icon, size in pending:
        f = font(size)
        bbox = ImageDraw.Draw(big).textbbox((0, 0), text, font=f)
        tw = bbox[2] - bbox[0]
        s = min(size + 2, box[3] - box[1] - 8)
        gap = 6
        total = s + gap + tw
        left = (box[0] + box[2] + 1 - total) / 2
        iy = (box[1] + box[3] + 1 - s) / 2
        icon(d, left * SS, iy * SS, s * SS, hexrgb(style["label"]))
        placements.append(((round(left + s + gap), box[1], box[2], box[3]), text, style, size, tw))
    img = big.resize((w, h), Image.LANCZOS)
    draw = ImageDraw.Draw(img)
    for (x0, y0, _, y1), text, style, size, tw in placements:
        f = font(size)
        bbox = draw.textbbox((0, 0), text, font=f)
        th = bbox[3] - bbox[1]
        y = (y0 + y1 + 1 - th) / 2 - bbox[1]
        draw.text((x0 - bbox[0], round(y)), text, font=f, fill=hexrgb(style["label"]))
    return fmt.remap(img, STRIP_PALETTE)


def strips():
    back = lambda box, size=20: (box, "戻る", STYLE_PLAIN, icon_return, size)  # noqa: E731
    return {
        "btnreturn": action_strip([back((1, 1, 215, 55), 22)]),
        # Areas: send 0-128, close 129-217.
        "btnreturnandsend": action_strip([
            ((1, 1, 126, 55), "送信", STYLE_PRIMARY, icon_send, 22),
            back((131, 1, 215, 55)),
        ]),
        # Areas: set 0-127 full height; clear 128-217 rows 0-27; close rows 28-57.
        "btnreturnandcancelandsubmit": action_strip([
            ((1, 1, 125, 55), "設定", STYLE_PRIMARY, icon_check, 22),
            ((130, 1, 215, 26), "解除", STYLE_WARN, icon_cross, 16),
            back((130, 30, 215, 55), 16),
        ]),
    }


# -------------------------------------------------------------- status icons

def disc(img, s, base, rim, glow):
    """A round lamp filling most of the visible 31 x 31 area."""
    d = ImageDraw.Draw(img)
    c = 15.5 * s / 32
    r = 14.5 * s / 32
    d.ellipse([c - r, c - r, c + r, c + r], fill=rim)
    r2 = r - s / 32 * 1.4
    d.ellipse([c - r2, c - r2, c + r2, c + r2], fill=base)
    # Soft highlight in the upper left.
    hl = Image.new("L", img.size, 0)
    hd = ImageDraw.Draw(hl)
    hr = r2 * 0.72
    hd.ellipse([c - hr - r2 * 0.18, c - r2 * 0.92, c + hr - r2 * 0.18, c - r2 * 0.92 + hr * 1.1],
               fill=110)
    hl = hl.filter(ImageFilter.GaussianBlur(s / 32 * 1.5))
    clip = Image.new("L", img.size, 0)
    ImageDraw.Draw(clip).ellipse([c - r2, c - r2, c + r2, c + r2], fill=255)
    hl = ImageChops.multiply(hl, clip)
    white = Image.new("RGBA", img.size, glow + (255,))
    img.paste(Image.composite(white, img, hl), (0, 0))
    return c, r2


def glyph_power(d, s, c, r, ink):
    u = s / 32
    w = round(2.6 * u)
    rr = r * 0.58
    d.arc([c - rr, c - rr + u * 0.8, c + rr, c + rr + u * 0.8], -55, 235, fill=ink, width=w)
    d.line([(c, c - rr - u * 1.2), (c, c - u * 0.4)], fill=ink, width=w)


def glyph_person(d, s, c, r, ink):
    u = s / 32
    hr = 4.4 * u
    d.ellipse([c - hr, c - 8.8 * u - hr * 0.2, c + hr, c - 8.8 * u + hr * 1.8], fill=ink)
    d.chord([c - 9 * u, c + 0.4 * u, c + 9 * u, c + 18 * u], 180, 360, fill=ink)
    d.rectangle([c - 9 * u, c + 9 * u, c + 9 * u, c + 9.5 * u], fill=ink)


def glyph_question(d, s, c, r, ink):
    f = ImageFont.truetype(FONT_FILES[0][0], int(22 * s / 32), index=0)
    bbox = d.textbbox((0, 0), "?", font=f)
    tw, th = bbox[2] - bbox[0], bbox[3] - bbox[1]
    d.text((c - tw / 2 - bbox[0], c - th / 2 - bbox[1]), "?", font=f, fill=ink)


def glyph_clock(d, s, c, r, ink, hand2=None):
    u = s / 32
    rr = r * 0.70
    w = round(2.0 * u)
    d.ellipse([c - rr, c - rr, c + rr, c + rr], outline=ink, width=w)
    for i in range(4):
        a = i * math.pi / 2
        d.line([(c + math.cos(a) * rr * 0.70, c + math.sin(a) * rr * 0.70),
                (c + math.cos(a) * rr * 0.92, c + math.sin(a) * rr * 0.92)], fill=ink, width=round(1.4 * u))
    d.line([(c, c), (c, c - rr * 0.68)], fill=ink, width=round(2.2 * u))
    d.line([(c, c), (c + rr * 0.52, c + rr * 0.24)], fill=hand2 or ink, width=round(2.2 * u))
    d.ellipse([c - 1.6 * u, c - 1.6 * u, c + 1.6 * u, c + 1.6 * u], fill=ink)


def glyph_door(d, s, c, r, ink):
    """Going out: an open door with an arrow leaving it."""
    u = s / 32
    w = round(1.8 * u)
    x0, y0, x1, y1 = c - 8.5 * u, c - 9.5 * u, c + 1 * u, c + 9.5 * u
    d.rectangle([x0, y0, x1, y1], outline=ink, width=w)
    d.polygon([(x0, y0), (x0 + 5.5 * u, y0 + 2.5 * u), (x0 + 5.5 * u, y1 + 1.5 * u), (x0, y1)], fill=ink)
    ay = c + 0.5 * u
    d.line([(c - 1.5 * u, ay), (c + 6 * u, ay)], fill=ink, width=round(2.6 * u))
    d.polygon([(c + 10.5 * u, ay), (c + 5 * u, ay - 5 * u), (c + 5 * u, ay + 5 * u)], fill=ink)


def glyph_meeting(d, s, c, r, ink):
    """A meeting: three people behind a table."""
    u = s / 32
    for dx, dy, k in ((-6.8, -1.5, 0.82), (6.8, -1.5, 0.82), (0, -3.6, 1.0)):
        hx, hy = c + dx * u, c + dy * u - 3 * u
        hr = 3.2 * u * k
        d.ellipse([hx - hr, hy - hr, hx + hr, hy + hr], fill=ink)
        d.chord([hx - 5.4 * u * k, hy + 3.4 * u * k, hx + 5.4 * u * k, hy + 14 * u * k], 180, 360, fill=ink)
    d.rounded_rectangle([c - 11 * u, c + 4.8 * u, c + 11 * u, c + 7.6 * u], u, fill=ink)


STATUS_ICONS = {
    # name: (base, rim, glyph, ink)
    "poweroff": ("#8A9099", "#4E535B", glyph_power, "#F2F3F5"),
    "poweron": ("#33B24A", "#1C6E2B", glyph_person, "#FFFFFF"),
    "unknown": ("#8E7CC3", "#4F3F85", glyph_question, "#FFFFFF"),
    "huzaiyellow": ("#FFCC2E", "#B8860B", glyph_clock, "#4A3200"),
    "huzaired": ("#E4463B", "#8E1D16", glyph_clock, "#FFFFFF"),
}

CUSTOM_ICONS = {
    "out_y": ("#FFCC2E", "#B8860B", glyph_door, "#4A3200"),
    "out_r": ("#E4463B", "#8E1D16", glyph_door, "#FFFFFF"),
    "mtg_y": ("#FFCC2E", "#B8860B", glyph_meeting, "#4A3200"),
    "mtg_r": ("#E4463B", "#8E1D16", glyph_meeting, "#FFFFFF"),
}


def status_rgba(design, size=32):
    base, rim, glyph, ink = design
    s = size * 8
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    c, r = disc(img, s, hexrgb(base), hexrgb(rim), (255, 255, 255))
    glyph(ImageDraw.Draw(img), s, c, r, hexrgb(ink))
    return img.resize((size, size), Image.LANCZOS)


def palette_icon(rgba, bits=4):
    """Classic icon image: edge pixels pre-blended onto white, the rest of
    the square masked out. Masked pixels carry black so that drawing onto any
    background leaves it unchanged."""
    w, h = rgba.size
    mask = [a < 96 for (_, _, _, a) in rgba.getdata()]
    white = Image.new("RGBA", rgba.size, (255, 255, 255, 255))
    flat = Image.alpha_composite(white, rgba).convert("RGB")
    black = Image.new("RGB", rgba.size, (0, 0, 0))
    mask_img = Image.new("L", rgba.size)
    mask_img.putdata([255 if m else 0 for m in mask])
    flat = Image.composite(black, flat, mask_img)
    # Black is kept as entry 0 for the masked pixels.
    indexed = fmt.quantize(flat, 1 << bits, fixed=[(0, 0, 0)])
    data = list(indexed.getdata())
    # A visible pixel that happened to map onto black would vanish: no glyph
    # here uses black, so this only guards against a bad palette.
    assert all(m or i != 0 for m, i in zip(mask, data)), "visible pixel mapped to mask colour"
    return fmt.ico_entry_palette(indexed, mask, bits)


def status_icon_file(design):
    return fmt.ico_bytes([palette_icon(status_rgba(design))])


def custom_icon_file(name, design):
    """User-made icons usually carry several images; the server must pick
    the 32 x 32 one with the most colours."""
    if name.startswith("out"):
        entries = [palette_icon(status_rgba(design, 16)), palette_icon(status_rgba(design)),
                   fmt.ico_entry_rgba(status_rgba(design))]
    else:
        entries = [palette_icon(status_rgba(design))]
    return fmt.ico_bytes(entries)


# --------------------------------------------------------------------- main

def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    print("wrote", os.path.relpath(path, ROOT), len(data), "bytes")


def contact_sheet(path, files):
    """Every picture at 2x, icons also as they are served (31 x 31 on white),
    and a 2 x 2 tiling of the background to show the seams."""
    tiles = []
    for f in files:
        im = Image.open(f)
        if f.endswith(".ico"):
            sizes = sorted(im.info.get("sizes", {im.size}))
            im.size = max(sizes)
            rgba = im.convert("RGBA")
            served = Image.new("RGB", (31, 31), (255, 255, 255))
            served.paste(rgba.crop((0, 0, 31, 31)), (0, 0), rgba.crop((0, 0, 31, 31)))
            canvas = Image.new("RGB", (31 * 4 + 8 + 31 * 2, 31 * 4), PAPER)
            canvas.paste(served.resize((124, 124), Image.NEAREST), (0, 0))
            canvas.paste(served, (132, 0))
            tiles.append((os.path.basename(f), canvas))
        else:
            rgb = im.convert("RGB")
            if "background" in f:
                tiled = Image.new("RGB", (rgb.width * 2, rgb.height * 2))
                for dx in (0, rgb.width):
                    for dy in (0, rgb.height):
                        tiled.paste(rgb, (dx, dy))
                tiles.append((os.path.basename(f) + " (2x2 tiles)", tiled))
            else:
                tiles.append((os.path.basename(f), rgb.resize((rgb.width * 2, rgb.height * 2), Image.NEAREST)))
    f = font(14)
    width = max(t.width for _, t in tiles) + 20
    height = sum(t.height + 26 for _, t in tiles) + 10
    sheet = Image.new("RGB", (width, height), (255, 255, 255))
    d = ImageDraw.Draw(sheet)
    y = 5
    for name, t in tiles:
        d.text((10, y), name, font=f, fill=(0, 0, 0))
        sheet.paste(t, (10, y + 20))
        y += t.height + 26
    sheet.save(path)
    print("wrote", path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sheet", help="also write a contact sheet PNG of everything")
    args = parser.parse_args()
    os.makedirs(RESOURCES, exist_ok=True)
    os.makedirs(EXAMPLES, exist_ok=True)
    written = []

    def out(path, data):
        write(path, data)
        written.append(path)

    out(os.path.join(RESOURCES, "background.bmp"), fmt.bmp_bytes(background(), 8))
    for i, name in enumerate(MENU_FILES):
        out(os.path.join(RESOURCES, name + ".bmp"), fmt.bmp_bytes(menu_bar(i), 4))
    for name, img in strips().items():
        out(os.path.join(RESOURCES, name + ".bmp"), fmt.bmp_bytes(img, 4))
    for name, design in STATUS_ICONS.items():
        out(os.path.join(RESOURCES, name + ".ico"), status_icon_file(design))
    for name, design in CUSTOM_ICONS.items():
        out(os.path.join(EXAMPLES, name + ".ico"), custom_icon_file(name, design))
    if args.sheet:
        contact_sheet(args.sheet, written)


if __name__ == "__main__":
    main()
