"""Labelled text-captcha generator.

Draws captchas of 4-6 characters in the manner of common web captcha
generators, with the fonts of Debian's font packages. Everything random comes
from the random.Random passed in, so a seed fixes the whole set.

Character set: digits and letters without the glyphs that real generators drop
because people cannot tell them apart: 0/O/o, 1/I/l/i. A captcha uses one case
throughout (upper case in most styles, lower case in some), as most generators
do; the label is the text exactly as drawn.

Styles (chosen per captcha), each at three difficulty settings:
  colour   coloured rotated glyphs on a light tinted background, crossing lines, dots
  outline  hollow (outlined) glyphs with noise curves through them
  noisy    dark glyphs on a grainy, speckled light background
  overlap  tightly packed, overlapping glyphs of one colour with a thick curve
  warp     any of the above, then a sine warp of the whole picture
"""

import functools
import glob
import math
import os
import random

import numpy as np
from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

DIGITS = "23456789"
UPPER = "ABCDEFGHJKLMNPQRSTUVWXYZ"
LOWER = "abcdefghjkmnpqrstuvwxyz"
# Every character a captcha of this generator can contain.
CHARSET = DIGITS + UPPER + LOWER

DIFFICULTIES = ("easy", "medium", "hard")
STYLES = ("colour", "outline", "noisy", "overlap", "warp")

# Seed of the evaluation sets: never used for training or tuning.
EVALUATION_SEED = 20261211

_FONT_DIRS = (
    "/usr/share/fonts/truetype/dejavu",
    "/usr/share/fonts/truetype/liberation",
    "/usr/share/fonts/truetype/freefont",
    "/usr/share/fonts/opentype/urw-base35",
    "/usr/share/fonts/truetype/open-sans",
    "/usr/share/fonts/truetype/lato",
    "/usr/share/fonts/opentype/cantarell",
    "/usr/share/fonts/truetype/roboto/unhinted",
)
# Faces that are no text faces or too thin to survive noise.
_FONT_SKIP = ("Mono", "Math", "Symbol", "D050000L", "Hairline", "Thin",
              "ExtraLight", "Light", "Z003", "Condensed-Light")


@functools.lru_cache(maxsize=None)
def fonts():
    """Sorted list of usable font files (sorted so a seed gives the same set)."""
    found = []
    for d in _FONT_DIRS:
        for pattern in ("*.ttf", "*.otf"):
            for path in glob.glob(os.path.join(d, "**", pattern), recursive=True):
                name = os.path.basename(path)
                if any(s in name for s in _FONT_SKIP):
                    continue
                found.append(path)
    found.sort()
    if not found:
        raise RuntimeError("no fonts found: install fonts-dejavu-core, fonts-liberation")
    return tuple(found)


@functools.lru_cache(maxsize=4096)
def _font(path, size):
    return ImageFont.truetype(path, size)


# Per difficulty: glyph rotation (degrees), glyph scale spread, crossing lines,
# dots, background grain, warp amplitude (pixels), curves over the glyphs,
# overlap of packed glyphs, brightest ink (luminance 0-255; backgrounds are
# 200 and brighter).
_LEVEL = {
    "easy": dict(rot=12, scale=0.10, lines=(0, 1), dots=(0, 30), grain=8,
                 warp=(1.0, 2.0), curves=(1, 1), overlap=0.10, ink=110),
    "medium": dict(rot=25, scale=0.18, lines=(1, 2), dots=(30, 100), grain=16,
                   warp=(2.0, 3.5), curves=(1, 2), overlap=0.18, ink=135),
    "hard": dict(rot=35, scale=0.25, lines=(2, 4), dots=(60, 180), grain=26,
                 warp=(3.0, 5.0), curves=(2, 3), overlap=0.22, ink=160),
}


def random_text(rng, length=None, case=None):
    """A random captcha text of 4-6 characters in one case."""
    if length is None:
        length = rng.randint(4, 6)
    if case is None:
        case = "lower" if rng.random() < 0.3 else "upper"
    letters = LOWER if case == "lower" else UPPER
    # Real generators draw digits about as often as letters of one case.
    pool = DIGITS * 2 + letters
    return "".join(rng.choice(pool) for _ in range(length))


def _light(rng):
    return tuple(rng.randint(200, 255) for _ in range(3))


def _luminance(c):
    return 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2]


def _dark(rng, ink):
    """A near-grey dark colour no brighter than luminance `ink`."""
    top = rng.randint(20, int(ink * 0.8))
    return tuple(min(255, max(0, top + rng.randint(-20, 20))) for _ in range(3))


def _coloured(rng, ink):
    """A saturated colour no brighter than luminance `ink`."""
    while True:
        h = rng.random()
        s = rng.uniform(0.5, 1.0)
        v = rng.uniform(0.2, 0.95)
        i = int(h * 6) % 6
        f = h * 6 - int(h * 6)
        p, q, t = v * (1 - s), v * (1 - f * s), v * (1 - (1 - f) * s)
        r, g, b = [(v, t, p), (q, v, p), (p, v, t), (p, q, v), (t, p, v), (v, p, q)][i]
        c = (int(r * 255), int(g * 255), int(b * 255))
        if _luminance(c) <= ink:
            return c


def _background(rng, size, style, level):
    w, h = size
    if style == "noisy":
        base = rng.randint(205, 245)
        img = Image.effect_noise(size, level["grain"] * 2.0).convert("RGB")
        img = ImageChops.add(Image.new("RGB", size, (base - 128,) * 3), img)
        tint = Image.new("RGB", size, _light(rng))
        img = Image.blend(img, tint, 0.35)
    else:
        a, b = _light(rng), _light(rng)
        t = np.linspace(0.0, 1.0, w)[None, :, None]
        row = np.array(a, float) + (np.array(b, float) - np.array(a, float)) * t
        img = Image.fromarray(np.repeat(row, h, axis=0).astype(np.uint8), "RGB")
        if level["grain"] > 0:
            noise = Image.effect_noise(size, level["grain"]).convert("RGB")
            img = ImageChops.add(img, noise, scale=1.0, offset=-128)
    return img


def _glyph_mask(rng, ch, font_path, size, outline, level):
    """The glyph as an 'L' mask, rotated, with its own scale."""
    font = _font(font_path, size)
    left, top, right, bottom = font.getbbox(ch)
    pad = max(4, size // 6)
    tw, th = right - left + 2 * pad, bottom - top + 2 * pad
    mask = Image.new("L", (tw, th), 0)
    d = ImageDraw.Draw(mask)
    origin = (pad - left, pad - top)
    if outline:
        sw = max(1, size // 18)
        d.text(origin, ch, font=font, fill=255, stroke_width=sw, stroke_fill=255)
        inner = Image.new("L", (tw, th), 0)
        ImageDraw.Draw(inner).text(origin, ch, font=font, fill=255)
        inner = inner.filter(ImageFilter.MinFilter(3)) if sw <= 1 else inner
        mask = ImageChops.subtract(mask, inner)
    else:
        d.text(origin, ch, font=font, fill=255)
    angle = rng.uniform(-level["rot"], level["rot"])
    mask = mask.rotate(angle, resample=Image.BICUBIC, expand=True)
    box = mask.getbbox()
    return mask.crop(box) if box else mask


def _curve_points(rng, w, h, amp_frac=0.35):
    """Points of a random smooth curve crossing the picture from left to right."""
    x0, x1 = rng.uniform(-10, w * 0.2), rng.uniform(w * 0.8, w + 10)
    y0 = rng.uniform(h * 0.25, h * 0.75)
    amp = rng.uniform(0.1, amp_frac) * h
    period = rng.uniform(0.6, 2.0) * w
    phase = rng.uniform(0, 2 * math.pi)
    slope = rng.uniform(-0.15, 0.15) * h / w
    pts = []
    n = 40
    for i in range(n + 1):
        x = x0 + (x1 - x0) * i / n
        y = y0 + slope * (x - x0) + amp * math.sin(2 * math.pi * x / period + phase)
        pts.append((x, y))
    return pts


def _sine_warp(rng, img, amp):
    """Shifts columns up/down and rows left/right along sine waves."""
    w, h = img.size
    fx = rng.uniform(0.5, 2.0) * 2 * math.pi / w
    fy = rng.uniform(0.5, 1.5) * 2 * math.pi / h
    px, py = rng.uniform(0, 2 * math.pi), rng.uniform(0, 2 * math.pi)
    ax = amp * rng.uniform(0.3, 0.7)
    ys, xs = np.mgrid[0:h, 0:w]
    sx = np.clip((xs + ax * np.sin(fy * ys + py)).astype(int), 0, w - 1)
    sy = np.clip((ys + amp * np.sin(fx * xs + px)).astype(int), 0, h - 1)
    return Image.fromarray(np.asarray(img)[sy, sx], "RGB")


def render(text, difficulty="medium", rng=None, style=None):
    """Draws one captcha of `text` and returns it as an RGB PIL image."""
    if rng is None:
        rng = random.Random()
    level = _LEVEL[difficulty]
    if style is None:
        style = rng.choice(STYLES)
    warp = style == "warp"
    if warp:
        style = rng.choice(("colour", "outline", "noisy", "overlap"))
    w = rng.randint(180, 220)
    h = rng.randint(55, 70)
    img = _background(rng, (w, h), style, level)
    draw = ImageDraw.Draw(img)
    contrast = level["ink"]

    # Lines and curves behind the glyphs (some generators draw them first).
    if style in ("colour", "noisy") and rng.random() < 0.5:
        for _ in range(rng.randint(*level["lines"])):
            draw.line([(rng.uniform(0, w), rng.uniform(0, h)),
                       (rng.uniform(0, w), rng.uniform(0, h))],
                      fill=_coloured(rng, contrast), width=rng.randint(1, 2))

    font_path = rng.choice(fonts())
    one_font = style == "overlap" or rng.random() < 0.6
    base_size = int(h * rng.uniform(0.62, 0.80))
    outline = style == "outline"
    ink = _dark(rng, contrast) if style in ("noisy", "overlap") else None
    masks = []
    for ch in text:
        fp = font_path if one_font else rng.choice(fonts())
        size = max(12, int(base_size * rng.uniform(1 - level["scale"], 1 + level["scale"] * 0.5)))
        masks.append(_glyph_mask(rng, ch, fp, size, outline, level))

    # Horizontal layout: spacing (negative when glyphs overlap), fitted to width.
    if style == "overlap":
        gap = -level["overlap"] * base_size * rng.uniform(0.5, 1.0)
    else:
        gap = rng.uniform(-0.05, 0.12) * base_size
    total = sum(m.size[0] for m in masks) + gap * (len(masks) - 1)
    margin = rng.uniform(4, 14)
    room = w - 2 * margin
    if total > room:
        f = room / total
        masks = [m.resize((max(1, int(m.size[0] * f)), max(1, int(m.size[1] * f))),
                          Image.BICUBIC) for m in masks]
        gap *= f
        total = room
    x = margin + rng.uniform(0, max(0.0, room - total))
    for m in masks:
        mw, mh = m.size
        if mh > h - 2:
            m = m.resize((max(1, int(mw * (h - 2) / mh)), h - 2), Image.BICUBIC)
            mw, mh = m.size
        jitter = level["rot"] / 40 * 0.25 * h
        y = (h - mh) / 2 + rng.uniform(-jitter, jitter)
        y = min(max(y, 0), h - mh)
        colour = ink if ink is not None else (
            _dark(rng, contrast) if outline and rng.random() < 0.5 else _coloured(rng, contrast))
        img.paste(Image.new("RGB", m.size, colour), (int(x), int(y)), m)
        x += mw + gap

    # Noise over the glyphs.
    if style == "outline" or style == "overlap" or rng.random() < 0.3:
        n = rng.randint(*level["curves"])
        for _ in range(n):
            width = rng.randint(2, 4) if style == "overlap" else rng.randint(1, 3)
            colour = ink if ink is not None and rng.random() < 0.7 else _coloured(rng, contrast)
            draw.line(_curve_points(rng, w, h), fill=colour, width=width, joint="curve")
    if style in ("colour", "noisy"):
        for _ in range(rng.randint(*level["lines"])):
            draw.line([(rng.uniform(0, w * 0.3), rng.uniform(0, h)),
                       (rng.uniform(w * 0.7, w), rng.uniform(0, h))],
                      fill=_coloured(rng, contrast), width=rng.randint(1, 3))
    for _ in range(rng.randint(*level["dots"])):
        cx, cy = rng.uniform(0, w), rng.uniform(0, h)
        r = rng.choice((0.5, 1, 1, 1.5))
        colour = _coloured(rng, contrast) if rng.random() < 0.6 else _dark(rng, contrast)
        draw.ellipse([cx - r, cy - r, cx + r, cy + r], fill=colour)

    if warp:
        img = _sine_warp(rng, img, rng.uniform(*level["warp"]))
    if difficulty != "easy" and rng.random() < 0.3:
        img = img.filter(ImageFilter.GaussianBlur(rng.uniform(0.3, 0.8)))
    return img


def generate(difficulty, count, seed):
    """Yields (index, text, image) for a whole set fixed by `seed`."""
    rng = random.Random(f"{difficulty}:{seed}")
    for i in range(count):
        text = random_text(rng)
        yield i, text, render(text, difficulty, rng)
