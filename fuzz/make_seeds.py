#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Run from anywhere: python3 fuzz/make_seeds.py. Seeds are small on purpose;
the fuzzers grow their own corpora in the build tree.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
OFFICE = os.path.join(ROOT, "examples", "office")


def sjis(text):
    return text.encode("cp932")


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def office(name):
    with open(os.path.join(OFFICE, name), "rb") as f:
        return f.read()


# --- person files: control byte (bit 0 = ".off" marker, bits 1.. head length), then the file.
def person_seeds():
    head14 = 14 << 1
    for name in ("yamada.kvl", "yuuki.kvl", "matsumoto.kvl"):
        write("person_file", name, bytes([head14 | (name == "matsumoto.kvl")]) + office(name))
    q = lambda *values: b"".join(b'"' + v + b'"\r\n' for v in values)
    write("person_file", "multiline_reason", bytes([head14]) + q(
        b"\xd4\xcf\xc0\xde", sjis("山田 太郎"), sjis("営業部"), b"106") +
        b'"' + sjis("打合せ") + b"\r\n" + sjis("午後は外出") + b'"\r\n' +
        q(b"2004/12/24", b"17:30", b"090-0000-0000", b"127.0.0.1", b"2") + b'"extra"\r\nraw line\r\n')
    write("person_file", "unquoted_lf", bytes([6]) + b"kana\nname\ngroup\nmemo\nreason\n2004/12/24\n\ntel\n127.0.0.2\n-3\n")
    write("person_file", "cr_only_quotes", bytes([head14 | 1]) +
          b'"a""b"\r"\r"' + sjis("不在") + b'"\r""\r"\r\r"' + sjis("不在") + b'"\r"\r"x"\r"9999999999"\r')
    write("person_file", "unclosed", bytes([head14]) + b'"kana"\r\n"never closed\r\nsecond\r\n"third\r\n')
    write("person_file", "zero_byte", bytes([head14]) + q(b"kana", b"name") + b"\x00" + q(b"after zero"))
    write("person_file", "long_memo_lead_byte", bytes([head14]) +
          q(b"k", b"n", b"g", b"x" * 13 + sjis("内線") + b"tail", b"", b"2004/12/25 09:00", b"", b"", b"", b"0"))


# --- kavel.ini: control byte odd = name/value pairs cut at zero bytes, even = a file.
def kavel_ini_seeds():
    write("kavel_ini", "office", b"\x00" + office("kavel.ini"))
    write("kavel_ini", "forms", b"\x00" + b"\r\n".join([
        b"[Kavel]", b"  udpmessage,port=2000", b'"QUOR_Port"=81', b"QUOR_Port = 82",
        b'QUOR_SiteName="' + sjis("行き先") + b' ""board"""',
        b"CustomIcon,Name=x,YellowIcon=,RedIcon=r.ico",
        b"TimeTable,TimeTable=09:00-12:00,", b"QUOR_Interval,ReloadAllFile=-5", b"\tTIMETABLE TimeTable=\"\"",
    ]) + b"\n\rQUOR_Port=99999999999")
    # Bit 1: the file is also read by an environment at start-up.
    write("kavel_ini", "start_office", b"\x02" + office("kavel.ini"))
    write("kavel_ini", "start_plain", b"\x02" + b"\r\n".join(
        line for line in office("kavel.ini").splitlines() if not line.startswith(b"CustomIcon")))
    write("kavel_ini", "pairs_custom_icon", bytes([0x01 | (4 << 4)]) +
          b"\x00".join([b"Name", sjis("会議"), b"YellowIcon", b"mtg y.ico", b"RedIcon", b'a,"b"']))
    write("kavel_ini", "pairs_spaces", bytes([0x8B]) + b"\x00".join([b"Port", b"1990", b"", b"", b"a b", b"c,d"]))


# --- quor.ini: the file itself.
def quor_ini_seeds():
    write("quor_ini", "section", b'[Settings]\r\nQUOR_CommonDirectory="/srv/kavel/"\r\n')
    write("quor_ini", "unquoted_lf", b"quor_commondirectory=/srv/kavel/\nOther=1\n")
    write("quor_ini", "blank_before_equals", b"QUOR_CommonDirectory =/x/\rQUOR_CommonDirectory=/y/\r")
    write("quor_ini", "doubled_quotes", b'QUOR_CommonDirectory="/a ""b""/"tail\r\nQUOR_CommonDirectory=/late/')
    write("quor_ini", "unclosed", b'QUOR_CommonDirectory="' + sjis("共有") + b"/dir")


# --- date texts: the text, a zero byte, a format pattern.
def date_text_seeds():
    write("date_text", "moment", b"2004/12/24 17:30\x00m\"/\"d\"(\"ddd\")\"")
    write("date_text", "seconds_blanks", b"  04/1/2   9:05:07  \x00yyyy/mm/dd hh:nn:ss.zzz")
    write("date_text", "date_only", b"9999/12/31\x00dddd aaaa 'quoted' " + sjis("曜日"))
    write("date_text", "time_only", b"23:59:59\x00yy/m/d h:n:s")
    write("date_text", "not_a_date", sjis("不在") + b"\x00" + b"\x81")


# --- pictures
def dib_header(width, height, bits, colours=0, size=40):
    if size == 12:
        return struct.pack("<IHHHH", 12, width, height, 1, bits)
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, 0, 2835, 2835, colours, 0)


def stride(width, bits):
    return ((width * bits + 31) // 32) * 4


def palette(count, entry=4):
    out = b""
    for i in range(count):
        v = (i * 97) & 0xFF
        out += bytes([v, 255 - v, (v * 3) & 0xFF]) + (b"\x00" if entry == 4 else b"")
    return out


def rows(width, height, bits, seed=1):
    s = stride(width, bits)
    return bytes(((seed + i * 31) & 0xFF) for i in range(s * height))


def bmp_file(dib, pixel_offset=None):
    offset = 14 + len(dib[0]) if pixel_offset is None else pixel_offset
    body = dib[0] + dib[1]
    return b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, offset) + body


def bmp_seeds():
    for bits in (1, 4, 8):
        hdr = dib_header(5, 3, bits)
        write("bmp", f"bits{bits}.bmp", bmp_file((hdr + palette(1 << bits), rows(5, 3, bits))))
    write("bmp", "bits24.bmp", bmp_file((dib_header(3, 2, 24), rows(3, 2, 24))))
    write("bmp", "bits32_top_down.bmp", bmp_file((dib_header(2, -2, 32), rows(2, 2, 32))))
    write("bmp", "few_colours.bmp", bmp_file((dib_header(4, 2, 8, colours=3) + palette(3), rows(4, 2, 8))))
    write("bmp", "core_header.bmp", bmp_file((dib_header(3, 3, 4, size=12) + palette(16, 3), rows(3, 3, 4))))
    write("bmp", "zero_pixel_offset.bmp", bmp_file((dib_header(2, 2, 24), rows(2, 2, 24)), pixel_offset=0))
    write("bmp", "bare_dib", dib_header(4, 4, 1) + palette(2) + rows(4, 4, 1))


def png(width, height):
    raw = b"".join(b"\x00" + b"".join(bytes(((x * 40) & 0xFF, (y * 40) & 0xFF, 128, (x * y * 16) & 0xFF))
                                       for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon_image(width, height, bits, mask=True):
    colours = (1 << bits) if bits <= 8 else 0
    data = dib_header(width, height * 2, bits) + palette(colours) + rows(width, height, bits, seed=width + bits)
    if mask:
        data += rows(width, height, 1, seed=7)
    return data


def ico(*images):
    """images: (width, height, bits, data)"""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for width, height, bits, data in images:
        out += struct.pack("<BBBBHHII", width & 0xFF, height & 0xFF, 0, 0, 1, bits, len(data), offset + len(body))
        body += data
    return out + body


def ico_seeds():
    write("ico", "mtg_y.ico", office("mtg_y.ico"))
    write("ico", "bits1.ico", ico((8, 8, 1, icon_image(8, 8, 1))))
    write("ico", "bits8.ico", ico((4, 4, 8, icon_image(4, 4, 8))))
    write("ico", "bits24.ico", ico((5, 3, 24, icon_image(5, 3, 24))))
    write("ico", "bits32_alpha_no_mask.ico", ico((4, 4, 32, icon_image(4, 4, 32, mask=False))))
    write("ico", "png_entry.ico", ico((6, 6, 32, png(6, 6))))
    write("ico", "three_sizes.ico", ico((2, 2, 4, icon_image(2, 2, 4)), (16, 16, 1, icon_image(16, 16, 1)),
                                        (3, 3, 32, png(3, 3))))


if __name__ == "__main__":
    person_seeds()
    kavel_ini_seeds()
    quor_ini_seeds()
    date_text_seeds()
    bmp_seeds()
    ico_seeds()
