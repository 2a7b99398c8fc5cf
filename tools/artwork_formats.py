"""Writers for the Windows picture formats the server carries: palette BMP
files and ICO files (palette or 32-bit entries with an AND mask).

Kept free of drawing code so the byte layout can be checked on its own."""

import struct

from PIL import Image


def _row_stride(width, bits):
    return ((width * bits + 31) // 32) * 4


def _pack_indices(row, bits):
    """Packs palette indices of one row, most significant bits first."""
    out = bytearray()
    per_byte = 8 // bits
    for start in range(0, len(row), per_byte):
        value = 0
        chunk = row[start:start + per_byte]
        for i, index in enumerate(chunk):
            value |= index << (8 - bits * (i + 1))
        out.append(value)
    return bytes(out)


def _palette_rgbquads(palette, count):
    out = bytearray()
    for i in range(count):
        r, g, b = palette[i] if i < len(palette) else (0, 0, 0)
        out += bytes((b, g, r, 0))
    return bytes(out)


def _dib_pixels(indexed, bits):
    """Rows of a 'P' image bottom-up, each padded to 32 bits."""
    width, height = indexed.size
    data = list(indexed.getdata())
    stride = _row_stride(width, bits)
    out = bytearray()
    for y in range(height - 1, -1, -1):
        row = data[y * width:(y + 1) * width]
        packed = _pack_indices(row, bits) if bits < 8 else bytes(row)
        out += packed + bytes(stride - len(packed))
    return bytes(out)


def _palette_of(indexed, count):
    flat = indexed.getpalette()[:count * 3]
    flat += [0] * (count * 3 - len(flat))
    return [tuple(flat[i:i + 3]) for i in range(0, count * 3, 3)]


def bmp_bytes(indexed, bits):
    """A palette image ('P' mode, indices below 2**bits) as a BMP file."""
    if indexed.mode != "P":
        raise ValueError("palette image expected")
    colours = 1 << bits
    if max(indexed.getdata()) >= colours:
        raise ValueError("palette index out of range for %d bits" % bits)
    width, height = indexed.size
    pixels = _dib_pixels(indexed, bits)
    palette = _palette_rgbquads(_palette_of(indexed, colours), colours)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels),
                       2835, 2835, colours, colours)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + pixels


def _and_mask(mask, width, height):
    """1 = transparent. mask is a list of booleans, row-major, top-down."""
    stride = _row_stride(width, 1)
    out = bytearray()
    for y in range(height - 1, -1, -1):
        row = [1 if mask[y * width + x] else 0 for x in range(width)]
        packed = _pack_indices(row, 1)
        out += packed + bytes(stride - len(packed))
    return bytes(out)


def ico_entry_palette(indexed, mask, bits=4):
    """One icon image of 4 or 8 bits per pixel. mask: True where transparent
    (the colour at those pixels should be palette black)."""
    width, height = indexed.size
    colours = 1 << bits
    xor = _dib_pixels(indexed, bits)
    andm = _and_mask(mask, width, height)
    palette = _palette_rgbquads(_palette_of(indexed, colours), colours)
    info = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, bits, 0, len(xor) + len(andm),
                       0, 0, colours, 0)
    return (width, height, colours if bits < 8 else 0, bits), info + palette + xor + andm


def ico_entry_rgba(rgba):
    """One 32-bit icon image with alpha; the AND mask follows the alpha."""
    width, height = rgba.size
    data = list(rgba.getdata())
    xor = bytearray()
    for y in range(height - 1, -1, -1):
        for x in range(width):
            r, g, b, a = data[y * width + x]
            xor += bytes((b, g, r, a))
    andm = _and_mask([p[3] == 0 for p in data], width, height)
    info = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, len(xor) + len(andm),
                       0, 0, 0, 0)
    return (width, height, 0, 32), info + bytes(xor) + andm


def ico_bytes(entries):
    """entries: list of ((width, height, colour_count, bits), image_bytes)."""
    header = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    directory = bytearray()
    blobs = bytearray()
    for (width, height, colours, bits), blob in entries:
        directory += struct.pack("<BBBBHHII", width % 256, height % 256, colours % 256, 0, 1, bits,
                                 len(blob), offset + len(blobs))
        blobs += blob
    return header + bytes(directory) + bytes(blobs)


def quantize(rgb, colours, fixed=()):
    """Adaptive palette of at most `colours` entries without dithering (dither
    noise turns into JPEG noise later). `fixed` colours are placed first and
    always kept."""
    rgb = rgb.convert("RGB")
    free = colours - len(fixed)
    reduced = rgb.quantize(colors=free, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    palette = list(fixed) + _palette_of(reduced, free)
    return remap(rgb, palette)


def remap(rgb, palette):
    """Maps every pixel to the nearest colour of palette (list of RGB)."""
    pal_img = Image.new("P", (1, 1))
    flat = [c for colour in palette for c in colour]
    flat += flat[:3] * (256 - len(palette))
    pal_img.putpalette(flat)
    out = rgb.convert("RGB").quantize(palette=pal_img, dither=Image.Dither.NONE)
    # Padding entries repeat colour 0; fold any use of them back onto it so
    # writers see exactly `palette`.
    count = len(palette)
    out = out.point(lambda i: i if i < count else 0)
    out.putpalette([c for colour in palette for c in colour])
    return out
