#!/usr/bin/env python3
"""Builds the hand-made bitmap fixtures from files ImageMagick wrote.

ImageMagick does not write RLE4, top-down rows, bit-field masks after a 40-byte header or
odd bit-field layouts, so these files are re-packed here byte by byte from ImageMagick's own
output (run in this folder: python3 make_handmade.py). Their expected pixels still come from
ImageMagick, which reads them back (see README.md).
"""
import struct


def load(name):
    with open(name, 'rb') as f:
        return f.read()


def parse(data):
    off = struct.unpack_from('<I', data, 10)[0]
    hsize, w, h, planes, bits, comp = struct.unpack_from('<IiiHHI', data, 14)
    clr = struct.unpack_from('<I', data, 46)[0]
    return dict(off=off, hsize=hsize, w=w, h=h, bits=bits, comp=comp, clr=clr)


def row_bytes(w, bits):
    return ((w * bits + 31) // 32) * 4


def file_header(total, off):
    return b'BM' + struct.pack('<IHHI', total, 0, 0, off)


def info_header(w, h, bits, comp, size_image, clr):
    return struct.pack('<IiiHHIIiiII', 40, w, h, 1, bits, comp, size_image, 2835, 2835, clr, 0)


def rows_of(data, info):
    """Rows as stored (bottom-up for a positive height)."""
    rb = row_bytes(info['w'], info['bits'])
    return [data[info['off'] + r * rb: info['off'] + (r + 1) * rb] for r in range(info['h'])]


def top_down(src, dst):
    data = load(src)
    info = parse(data)
    rows = rows_of(data, info)
    head = bytearray(data[:info['off']])
    struct.pack_into('<i', head, 22, -info['h'])
    with open(dst, 'wb') as f:
        f.write(bytes(head) + b''.join(reversed(rows)))


def masks_after_info_header(src, dst):
    """A V5 bit-field file re-packed as 40-byte header + three masks + pixels."""
    data = load(src)
    info = parse(data)
    masks = data[14 + 40: 14 + 52]
    pixels = b''.join(rows_of(data, info))
    off = 14 + 40 + 12
    out = file_header(off + len(pixels), off) + info_header(
        info['w'], info['h'], info['bits'], 3, len(pixels), 0) + masks + pixels
    with open(dst, 'wb') as f:
        f.write(out)


def bits_32_1010210(src, dst):
    """24-bit pixels widened to 10 bits per channel in 32-bit words, masks 2-10-10-10."""
    data = load(src)
    info = parse(data)
    w = info['w']
    out_rows = []
    for row in rows_of(data, info):
        words = b''
        for x in range(w):
            b, g, r = row[3 * x], row[3 * x + 1], row[3 * x + 2]
            r10, g10, b10 = (r * 1023 + 127) // 255, (g * 1023 + 127) // 255, (b * 1023 + 127) // 255
            words += struct.pack('<I', (r10 << 20) | (g10 << 10) | b10)
        out_rows.append(words)
    pixels = b''.join(out_rows)
    off = 14 + 40 + 12
    out = file_header(off + len(pixels), off) + info_header(w, info['h'], 32, 3, len(pixels), 0) + \
        struct.pack('<III', 0x3FF00000, 0x000FFC00, 0x000003FF) + pixels
    with open(dst, 'wb') as f:
        f.write(out)


def nibbles(row, w):
    return [(row[x // 2] >> 4) if x % 2 == 0 else (row[x // 2] & 15) for x in range(w)]


def rle4(src, dst):
    """4-bit pixels as RLE4: even rows one absolute run (odd pixel count, word padding),
    odd rows encoded runs, single pixels paired into two-colour runs."""
    data = load(src)
    info = parse(data)
    w = info['w']
    enc = bytearray()
    for r, row in enumerate(rows_of(data, info)):
        p = nibbles(row, w)
        if r % 2 == 0:
            packed = bytearray()
            for x in range(0, w, 2):
                hi = p[x]
                lo = p[x + 1] if x + 1 < w else 0
                packed.append((hi << 4) | lo)
            if len(packed) % 2:
                packed.append(0)
            enc += bytes([0, w]) + packed
        else:
            x = 0
            while x < w:
                n = 1
                while x + n < w and p[x + n] == p[x]:
                    n += 1
                if n == 1 and x + 1 < w:
                    enc += bytes([2, (p[x] << 4) | p[x + 1]])
                    x += 2
                else:
                    enc += bytes([n, (p[x] << 4) | p[x]])
                    x += n
        enc += b'\x00\x00'
    enc += b'\x00\x01'
    palette = data[54:info['off']]
    off = 54 + len(palette)
    out = file_header(off + len(enc), off) + info_header(w, info['h'], 4, 2, len(enc), info['clr']) + \
        palette + bytes(enc)
    with open(dst, 'wb') as f:
        f.write(out)


def rle8_delta(src, dst):
    """8-bit pixels as RLE8 with deltas and an early end: the pixels they skip stay index 0."""
    data = load(src)
    info = parse(data)
    w, h = info['w'], info['h']
    assert (w, h) == (13, 7)
    rows = [list(r[:w]) for r in rows_of(data, info)]

    def absolute(pixels):
        b = bytes([0, len(pixels)]) + bytes(pixels)
        return b + (b'\x00' if len(pixels) % 2 else b'')

    enc = bytearray()
    enc += absolute(rows[0]) + b'\x00\x00'                       # row 0: whole row, padded
    enc += b''.join(bytes([1, v]) for v in rows[1][:4])          # row 1: pixels 0-3 ...
    enc += b'\x00\x02\x04\x00' + absolute(rows[1][8:]) + b'\x00\x00'  # ... skip 4-7, then 8-12
    enc += b'\x00\x02\x03\x02' + absolute(rows[4][3:]) + b'\x00\x00'  # rows 2, 3 and row 4's 0-2 skipped
    enc += bytes([13, rows[5][0]]) + b'\x00\x00'                 # row 5: one colour across
    enc += b'\x00\x01'                                           # row 6 never set
    palette = data[54:info['off']]
    off = 54 + len(palette)
    out = file_header(off + len(enc), off) + info_header(w, h, 8, 1, len(enc), info['clr']) + \
        palette + bytes(enc)
    with open(dst, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    top_down('rgb24.bmp', 'topdown24.bmp')
    top_down('pal8.bmp', 'topdown8.bmp')
    masks_after_info_header('rgb565.bmp', 'rgb565_info.bmp')
    bits_32_1010210('rgb24.bmp', 'bf32_1010210.bmp')
    rle4('pal4.bmp', 'rle4.bmp')
    rle8_delta('pal8.bmp', 'rle8_delta.bmp')
