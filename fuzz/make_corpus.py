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


# The settings keys with their ranges, in the order of the targets' table.
SETTING_RANGES = [("ScreenColor", 0, 1), ("OutputMethod", 0, 5), ("DynamicRange", 0, 1), ("ForceBlack", 0, 255),
                  ("ForceWhite", 0, 255), ("Gamma", 0, 255), ("Protection", 0, 255), ("RestoreR", 0, 255),
                  ("RestoreG", 0, 255), ("RestoreB", 0, 255), ("CorrectionR", -255, 255),
                  ("CorrectionG", -255, 255), ("CorrectionB", -255, 255), ("BlueRemoval", 0, 255),
                  ("MatteBlur", 0, 255), ("MatteChoke", -128, 128)]
SETTING_KEYS = [key for key, _, _ in SETTING_RANGES]


def screen_row(width, screen=(30, 200, 40, 255), subject=(200, 110, 80, 255)):
    """One row of RGBA pixels, repeated by the targets into whole pictures: the
    screen at both ends, a subject with soft edges in the middle."""
    out = bytearray()
    for x in range(width):
        d = abs(2 * x - width) / max(width, 1)
        if d > 0.5:
            # Lit unevenly, brighter to the right: the two ends differ.
            out += bytes((screen[0], screen[1] - 60 + 60 * x // max(width - 1, 1), screen[2], screen[3]))
        elif d > 0.35:
            out += bytes((a + b) // 2 for a, b in zip(screen, subject))
        else:
            out += bytes(subject)
    return bytes(out)


def raw_stream():
    methods = ["0", "1", "2", "3", "4", "5", "foreground-transparency", "matte", "transparency", "background", None]
    screens = ["auto", "blue", "green", None]

    def seed(width, height, rgb24, jobs, method=None, screen=None, sets=(), region=None, background=None,
             frames=2, tail=0, pipe=False, piece=1, pixels=b""):
        p = Provider()
        p.integer(width, 1, 64)
        p.integer(height, 1, 64)
        p.boolean(rgb24)
        if not rgb24:
            p.boolean(False)
        p.boolean(True)  # -o -
        p.integer(jobs, 1, 3)
        p.integer(methods.index(method), 0, len(methods) - 1)
        p.integer(screens.index(screen), 0, len(screens) - 1)
        p.integer(len(sets), 0, 4)
        for key, value in sets:
            k = SETTING_KEYS.index(key)
            p.integer(k, 0, len(SETTING_KEYS) - 1)
            p.integer(value, SETTING_RANGES[k][1], SETTING_RANGES[k][2])
        p.boolean(region is not None)
        if region is not None:
            left, top, right, bottom = region
            p.integer(left, 0, width - 1)
            p.integer(right, left + 1, width)
            p.integer(top, 0, height - 1)
            p.integer(bottom, top + 1, height)
        p.boolean(background is not None)
        fits = background != "wider"
        p.boolean(not fits)
        if not fits:
            p.boolean(True)
        input_bytes = width * height * (3 if rgb24 else 4)
        p.integer(frames, 0, 5)
        p.boolean(tail > 0)
        if tail > 0:
            p.integer(tail, 1, input_bytes - 1)
        p.boolean(pipe)
        p.integer(piece, 1, 2 * input_bytes)
        p.raw(pixels)
        return p.data()

    # A frame and a half of pixels: the frames of the stream differ.
    def frames_of(width, height, rgb24=False, shift=0):
        row = screen_row(width)
        if rgb24:
            row = bytes(v for i, v in enumerate(row) if i % 4 != 3)
        return (row[shift:] + row[:shift]) * height + row * (height // 2 + 1)

    return {
        "rgba-three-frames": seed(8, 6, False, 2, frames=3, pixels=frames_of(8, 6)),
        "empty": seed(3, 3, False, 1, frames=0, pixels=frames_of(3, 3)),
        "rgb24-short-last-pipe": seed(5, 4, True, 3, method="matte", screen="green", sets=[("Gamma", 30)],
                                      region=(1, 1, 4, 3), frames=2, tail=17, pipe=True, piece=7,
                                      pixels=frames_of(5, 4, True, 2)),
        "background-region-long": seed(6, 5, False, 2, method="background", region=(1, 0, 5, 4),
                                       background="fits", frames=2, tail=90, pixels=frames_of(6, 5, shift=4)),
        "background-wider": seed(6, 5, False, 1, method="5", background="wider", frames=1, pixels=frames_of(6, 5)),
        "one-thread-blur-blue": seed(16, 12, False, 1, method="2", sets=[("MatteBlur", 2), ("MatteChoke", -1),
                                                                          ("ScreenColor", 0)],
                                     frames=4, pipe=True, piece=333, pixels=frames_of(16, 12, shift=8)),
    }


def preview_arguments():
    zooms = ["fit", "1", "2", "0", "-1", "x", None]
    method_names = ["0", "1", "2", "3", "4", "5", "6", "foreground-transparency", "foreground", "matte-transparency",
                    "matte", "transparency", "background", "Matte"]
    screens = ["auto", "blue", "green", "red"]
    outputs = ["out", "out", "missing", "input", "settings", "work"]
    saves = ["saved", "saved", "settings", "input", "output", "missing"]
    refused = ["--raw", "--jobs", "--raw-format", "--outdir", "--bogus", "--help", "--version", "-"]

    def seed(width, height, words, plain=True, file_keys=(), wider_background=False, row=None):
        wide = width > 120 or height > 120
        p = Provider()
        p.boolean(wide)
        p.integer(width, 1, 800 if wide else 120)
        p.integer(height, 1, min(800 if wide else 120, 32768 // width))
        p.boolean(plain)
        p.integer(len(words), 0, 8)
        for word in words:
            kind, *rest = word
            p.integer(kind, 0, 15)
            if kind == 1:
                p.boolean(True)
                p.integer(outputs.index(rest[0]), 0, len(outputs) - 1)
            elif kind == 2:
                value = rest[0]
                p.integer(zooms.index(value) if value in zooms else len(zooms) - 1, 0, len(zooms) - 1)
                if value not in zooms:
                    p.integer(int(value), -130, -2)
            elif kind == 3:
                x, y = rest
                p.boolean(True)
                p.integer(x, -1, width + width // 4)
                p.integer(y, -1, height + height // 4)
            elif kind == 4:
                p.integer(method_names.index(rest[0]), 0, len(method_names) - 1)
            elif kind == 5:
                p.integer(screens.index(rest[0]), 0, len(screens) - 1)
            elif kind == 6:
                key, value = rest
                k = SETTING_KEYS.index(key)
                p.integer(k, 0, len(SETTING_KEYS) + 1)
                p.boolean(False)
                p.integer(3, 0, 5)
                p.integer(value, SETTING_RANGES[k][1] - 300, SETTING_RANGES[k][2] + 300)
            elif kind == 7:
                x, y, w, h = rest
                p.integer(x, 0, width)
                p.integer(y, 0, height)
                p.integer(w, 0, width + 1 - x)
                p.integer(h, 0, height + 1 - y)
            elif kind == 8:
                p.boolean(True)
            elif kind == 9:
                p.integer(saves.index(rest[0]), 0, len(saves) - 1)
            elif kind == 14:
                p.integer(refused.index(rest[0]), 0, len(refused) - 1)
            elif kind == 15:
                p.string(rest[0].encode())
        p.integer(len(file_keys), 0, 3)
        for key, value in file_keys:
            k = SETTING_KEYS.index(key)
            p.integer(k, 0, len(SETTING_KEYS) - 1)
            p.integer(value, SETTING_RANGES[k][1] - 300, SETTING_RANGES[k][2] + 300)
        p.integer(0 if wider_background else 1, 0, 3)
        p.raw(row if row is not None else screen_row(width))
        return p.data()

    return {
        "fit": seed(40, 30, []),
        "zoomed-out-half": seed(240, 120, [(2, "-2")]),
        "one-to-one-centred-right": seed(760, 40, [(2, "1"), (3, 740, 20)]),
        "named-screen-matte": seed(24, 20, [(6, "ScreenColor", 0), (4, "matte")]),
        "clamped-saved": seed(24, 20, [(6, "Gamma", 500), (6, "MatteChoke", -200), (8,), (9, "saved")],
                              file_keys=[("ForceBlack", 300), ("Protection", 12)]),
        "region-background": seed(50, 40, [(7, 5, 4, 30, 20), (4, "background"), (10,), (6, "MatteBlur", 2)]),
        "background-wider": seed(20, 10, [(4, "5"), (10,)], wider_background=True),
        "usage-errors": seed(10, 10, [(0,), (2, "-1"), (1, "input"), (14, "--jobs")], plain=False),
        "help-and-free-word": seed(5, 5, [(14, "--help"), (15, "--zoom")]),
    }


def main():
    for target, seeds in (("settings_file", settings_file()), ("registry_store", registry_store()),
                          ("clipboard_picture", clipboard_picture()), ("entry_run", entry_run()),
                          ("image_reader", image_reader()), ("raw_stream", raw_stream()),
                          ("preview_arguments", preview_arguments())):
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
