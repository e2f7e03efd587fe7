#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

The seeds are checked in; run this again only to change them. Inputs of the
targets that read them with FuzzedDataProvider are laid out the way it
consumes them: strings and bytes from the front, numbers and switches from
the back (the last byte first).
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


class Provider:
    """Builds an input that FuzzedDataProvider reads back as given."""

    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in the order consumed

    def integer(self, value, low, high):
        span = high - low
        count = (span.bit_length() + 7) // 8
        self.back += (value - low).to_bytes(count, "big")

    def boolean(self, value):
        self.integer(int(value), 0, 255)

    def string(self, text):
        """ConsumeRandomLengthString: a backslash is doubled, and a
        backslash followed by another byte ends the string."""
        self.front += text.replace(b"\\", b"\\\\") + b"\\e"

    def raw(self, data):
        self.front += data

    def data(self):
        return bytes(self.front) + bytes(reversed(self.back))


def dib(width, height, bits=24, top_down=False, header=40, compression=0, cut=0, colour=None):
    row_bytes = (width * bits + 31) // 32 * 4
    out = bytearray(b"\xcd" * (header + row_bytes * height))
    struct.pack_into("<IiiHHI", out, 0, header, width, -height if top_down else height, 1, bits, compression)
    struct.pack_into("<I", out, 20, row_bytes * height)
    colour = colour or (lambda x, y: (x * 40 % 256, y * 60 % 256, 200))
    for y in range(height):
        stored = y if top_down else height - 1 - y
        for x in range(width):
            r, g, b = colour(x, y)
            at = header + stored * row_bytes + x * bits // 8
            out[at:at + 3] = bytes((b, g, r))
    return bytes(out[:len(out) - cut])


def settings_file():
    keys = ["ScreenColor", "OutputMethod", "DynamicRange", "ForceBlack", "ForceWhite", "Gamma", "Protection",
            "RestoreR", "RestoreG", "RestoreB", "CorrectionR", "CorrectionG", "CorrectionB", "BlueRemoval",
            "MatteBlur", "MatteChoke"]
    saved = "[TavRisk Settings]\nVersion=1\n" + "".join(f"{k}={i * 7 - 40}\n" for i, k in enumerate(keys))
    return {
        "saved": saved.encode(),
        "crlf-other-sections": b"; settings\r\n[Other]\r\nScreenColor=9\r\nname = \"quoted\" \r\n"
                               b"[TavRisk Settings]\r\nGamma=300\r\nmattechoke=-999\r\n[Last]\r\nx=1",
        "duplicates-and-junk": b"[tavrisk settings]\nForceBlack=12\nForceBlack=13\n\x00\xff junk\n"
                               b"[TavRisk Settings]\nForceWhite=3\n",
        "newer-unterminated": b"[TavRisk Settings]\nVersion=2\nOutputMethod=261\n"
                              b"CorrectionR=99999999999999999999999\nCorrectionG= -7x",
        "bare-cr-at-end": b"[\r\n\xf3 \n \r",
        "empty": b"",
    }


def registry_store():
    seeds = {}

    p = Provider()
    p.boolean(False)
    p.string(b"Software\\Brackwater\\Tavrisk")
    p.string(b"# store\nParamDirectory=sz:C:%5Csettings\ndebug=dword:00000001\nblob=hex(3):01,ff,20\n"
             b"empty=hex(1):\n")
    for op, name, kind, data in ((0, b"paramdirectory", 1, b"/home/me\0"), (2, b"DEBUG", None, None),
                                 (1, b"Number", 4, b"\x1e\0\0\0"), (3, None, None, None),
                                 (0, b"odd", 0x12345678, b"%=#\n\x7f")):
        p.integer(op, 0, 3)
        if op in (0, 1):
            p.string(name)
            p.boolean(kind in (1, 2, 3, 4, 7, 11))
            if kind in (1, 2, 3, 4, 7, 11):
                p.integer([1, 2, 3, 4, 7, 11].index(kind), 0, 5)
            else:
                p.integer(kind, 0, 2**32 - 1)
            p.string(data)
        elif op == 2:
            p.string(name)
    seeds["user-store-writes"] = p.data()

    p = Provider()
    p.boolean(True)
    p.string(b"Tavrisk")
    p.string(b"=dword:zz\n%4=sz:x\nname=hex(99999999999):01,0\n# comment\r\nA=sz:1\na=sz:2\n"
             b"n%3D=dword:0000ffff\r\nbad=hex(3):0g\n")
    p.integer(2, 0, 3)
    p.string(b"a")
    p.integer(0, 0, 3)
    p.string(b"")
    p.boolean(True)
    p.integer(5, 0, 5)
    p.string(b"12345678")
    seeds["machine-store-damaged"] = p.data()

    p = Provider()
    p.boolean(False)
    p.string(b"")
    p.string(b"")
    p.integer(0, 0, 3)
    p.string(b"Text")
    p.boolean(True)
    p.integer(0, 0, 5)
    p.string(b"no terminating nul")
    seeds["root-key-new"] = p.data()
    return seeds


def clipboard_picture():
    # tile: planes, area left and top, tile left and top, columns, rows, the
    # two row paddings, the layer's case, the kind of matte.
    def seed(width, height, block, tile=(3, 0, 0, 0, 0, 1, 1, 0, 0, 4, 1), small=True):
        p = Provider()
        p.boolean(small)
        if small:
            p.integer(width, 1, 64)
            p.integer(height, 1, 64)
            planes, area_left, area_top, tile_left, tile_top, columns, rows, pad_in, pad_out, case, kind = tile
            for value, low, high in ((planes, 3, 5), (area_left, 0, 20), (area_top, 0, 20),
                                     (tile_left, 0, width - 1), (tile_top, 0, height - 1),
                                     (columns, 1, width - tile_left), (rows, 1, height - tile_top),
                                     (pad_in, 0, 5), (pad_out, 0, 5), (case, 1, 7), (kind, 0, 3),
                                     (987654321, 0, 2**32 - 1)):
                p.integer(value, low, high)
        else:
            p.integer(width, -2**31, 2**31 - 1)
            p.integer(height, -2**31, 2**31 - 1)
        p.raw(block)
        return p.data()

    return {
        "bottom-up-24": seed(7, 5, dib(7, 5), (4, 2, 3, 1, 1, 5, 3, 1, 2, 5, 1)),
        "top-down-32-long-header": seed(5, 3, dib(5, 3, 32, True, 44), (3, 0, 0, 0, 0, 5, 3, 0, 0, 1, 0)),
        "short-last-row": seed(6, 4, dib(6, 4, cut=2), (5, 0, 0, 2, 0, 4, 4, 3, 3, 7, 2)),
        "compressed": seed(4, 4, dib(4, 4, compression=1)),
        "huge-width": seed(2**31 - 1, 1, struct.pack("<IiiHHI", 40, 2**31 - 1, -1, 1, 32, 0) + bytes(24),
                           small=False),
    }


def entry_run():
    def seed(width, height, planes, rect, case_pick, settings, picture, pixel):
        p = Provider()
        p.integer(width, 1, 72)
        p.integer(height, 1, 72)
        p.boolean(planes == 4)
        left, top, right, bottom = rect
        p.integer(left, 0, width - 1)
        p.integer(right, left + 1, width)
        p.integer(top, 0, height - 1)
        p.integer(bottom, top + 1, height)
        if planes == 4:
            p.integer(case_pick, 0, 2)
        s = dict(ScreenColor=1, OutputMethod=0, DynamicRange=1, ForceBlack=0, ForceWhite=0, Gamma=0,
                 Protection=0, RestoreR=0, RestoreG=0, RestoreB=0, CorrectionR=0, CorrectionG=0,
                 CorrectionB=0, BlueRemoval=255, MatteBlur=0, MatteChoke=0)
        s.update(settings)
        for key in ("ScreenColor", "OutputMethod", "DynamicRange", "ForceBlack", "ForceWhite", "Gamma",
                    "Protection", "RestoreR", "RestoreG", "RestoreB"):
            p.integer(s[key], 0, 255)
        for key in ("CorrectionR", "CorrectionG", "CorrectionB"):
            p.integer(s[key], -255, 255)
        p.integer(s["BlueRemoval"], 0, 255)
        p.integer(s["MatteBlur"], 0, 255)
        p.integer(s["MatteChoke"], -128, 128)
        for _ in range(3):  # ShowMatte, PreviewZoom, FitZoom
            p.integer(0, 0, 255)
        p.boolean(picture is not None)
        if picture is not None:
            bits, top_down, extra, damage, size_change = picture
            p.integer([24, 32, 24, 32, 16].index(bits), 0, 4)
            p.boolean(top_down)
            p.integer(extra, 0, 12)
            p.integer(damage, 0, 7)
            p.integer(size_change, -8, 8)
            p.integer(2024, 0, 2**32 - 1)
        p.raw(bytes(v for y in range(height) for x in range(width) for v in pixel(x, y)[:planes]))
        return p.data()

    def subject(x, y, alpha=255):
        # A green screen with a soft-edged reddish subject in the middle.
        d = abs(x - 5) + abs(y - 4)
        return (30, 200, 40, alpha) if d > 3 else (200 - d * 30, 80 + d * 30, 60, alpha if d < 2 else 128)

    return {
        "flat-foreground-transparency": seed(10, 8, 3, (0, 0, 10, 8), 0, {}, None, subject),
        "selection-over-picture": seed(12, 9, 4, (2, 1, 11, 8), 1, {"OutputMethod": 5, "MatteBlur": 1},
                                       (24, False, 0, 7, 0), lambda x, y: subject(x, y, 255 - x)),
        "protected-matte-two-tiles": seed(68, 66, 4, (0, 0, 68, 66), 2,
                                          {"OutputMethod": 2, "MatteBlur": 3, "MatteChoke": -2, "Gamma": 40,
                                           "ForceBlack": 10, "ForceWhite": 20},
                                          None, lambda x, y: subject(x % 12, y % 10, 255 if x % 3 else 90)),
        "blue-screen-correction": seed(9, 7, 4, (1, 1, 8, 6), 1,
                                       {"ScreenColor": 0, "OutputMethod": 4, "CorrectionR": 40, "CorrectionB": -30,
                                        "RestoreR": 200, "Protection": 60, "MatteChoke": 3, "DynamicRange": 0},
                                       (32, True, 4, 2, -3),
                                       lambda x, y: (20, 30, 220, 255) if (x + y) % 4 else (180, 160, 90, 255)),
        "one-pixel-method-beyond": seed(1, 1, 3, (0, 0, 1, 1), 0, {"OutputMethod": 250}, None,
                                        lambda x, y: (1, 2, 3, 4)),
    }


def png(width, height, colour_type, bit_depth, rows, extra=b"", cut=0, stated=None):
    """A PNG of `rows` (the filtered scanlines' bytes, filter byte included)."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    w, h = stated or (width, height)
    data = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, bit_depth, colour_type, 0, 0, 0))
            + extra + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
    return data[:len(data) - cut]


def jpeg(width, height, components, cut=0):
    """A baseline JPEG whose every block is flat: one Huffman code of one
    bit for DC difference 0 and one for the end of block."""
    def segment(marker, body):
        return b"\xff" + bytes([marker]) + struct.pack(">H", len(body) + 2) + body
    out = b"\xff\xd8" + segment(0xDB, b"\x00" + bytes([1] * 64))
    out += segment(0xC0, struct.pack(">BHHB", 8, height, width, components)
                   + b"".join(bytes([i + 1, 0x11, 0]) for i in range(components)))
    one_code = bytes([1] + [0] * 15) + b"\x00"
    out += segment(0xC4, b"\x00" + one_code + b"\x10" + one_code)
    out += segment(0xDA, bytes([components]) + b"".join(bytes([i + 1, 0x00]) for i in range(components))
                   + b"\x00\x3f\x00")
    blocks = ((width + 7) // 8) * ((height + 7) // 8) * components
    bits = "00" * blocks
    bits += "1" * (-len(bits) % 8)
    scan = bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
    out += scan.replace(b"\xff", b"\xff\x00") + b"\xff\xd9"
    return out[:len(out) - cut]


def image_reader():
    rgba = b"".join(b"\x00" + b"".join(bytes([x * 80, y * 120, 200, 255 - x * 100]) for x in range(2))
                    for y in range(2))
    grey16 = b"\x00" + b"\x12\x34\xab\xcd\xff\xff"
    palette_rows = b"".join(b"\x00" + bytes([(x + y) % 3 for x in range(4)]) for y in range(4))
    palette = (struct.pack(">I", 9) + b"PLTE" + b"\xff\x00\x00\x00\xff\x00\x00\x00\xff"
               + struct.pack(">I", zlib.crc32(b"PLTE\xff\x00\x00\x00\xff\x00\x00\x00\xff"))
               + struct.pack(">I", 1) + b"tRNS\x80" + struct.pack(">I", zlib.crc32(b"tRNS\x80")))
    gamma = struct.pack(">I", 4) + b"gAMA" + struct.pack(">I", 100000) + struct.pack(">I", zlib.crc32(
        b"gAMA" + struct.pack(">I", 100000)))
    return {
        "png-rgba-2x2": png(2, 2, 6, 8, rgba),
        "png-grey16-gamma": png(3, 1, 0, 16, grey16, gamma),
        "png-palette-transparency": png(4, 4, 3, 8, palette_rows, palette),
        "png-claims-huge": png(2, 2, 6, 8, rgba, stated=(3000, 3000)),
        "png-truncated": png(2, 2, 6, 8, rgba, cut=10),
        "jpeg-grey-8x8": jpeg(8, 8, 1),
        "jpeg-colour-16x8": jpeg(16, 8, 3),
        "jpeg-cut-scan": jpeg(16, 16, 3, cut=4),
    }


def main():
    for target, seeds in (("settings_file", settings_file()), ("registry_store", registry_store()),
                          ("clipboard_picture", clipboard_picture()), ("entry_run", entry_run()),
                          ("image_reader", image_reader())):
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
