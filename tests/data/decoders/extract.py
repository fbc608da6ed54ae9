#!/usr/bin/env python3
"""Pulls compressed blocks out of files made by independent tools (see README.md)."""
import struct
import sys


def tiff_strip(path, out):
    data = open(path, 'rb').read()
    bo = '<' if data[:2] == b'II' else '>'
    (ifd,) = struct.unpack(bo + 'I', data[4:8])
    (n,) = struct.unpack(bo + 'H', data[ifd:ifd + 2])
    tags = {}
    for i in range(n):
        e = data[ifd + 2 + 12 * i: ifd + 14 + 12 * i]
        tag, typ, cnt = struct.unpack(bo + 'HHI', e[:8])
        if typ == 3 and cnt == 1:
            val = struct.unpack(bo + 'H', e[8:10])[0]
        else:
            val = struct.unpack(bo + 'I', e[8:12])[0]
        tags[tag] = (typ, cnt, val)
    assert tags[273][1] == 1 and tags[279][1] == 1, 'expected a single strip'
    off, size = tags[273][2], tags[279][2]
    open(out, 'wb').write(data[off:off + size])


def gif(path, rgb_path, out_lzw, out_idx):
    d = open(path, 'rb').read()
    assert d[:3] == b'GIF'
    w, h, flags = struct.unpack('<HHB', d[6:11])
    pos = 13
    palette = []
    if flags & 0x80:
        n = 2 << (flags & 7)
        palette = [d[pos + 3 * i: pos + 3 * i + 3] for i in range(n)]
        pos += 3 * n
    while d[pos] == 0x21:  # extensions
        pos += 2
        while d[pos]:
            pos += d[pos] + 1
        pos += 1
    assert d[pos] == 0x2C
    iflags = d[pos + 9]
    assert not iflags & 0xC0, 'no local palette, not interlaced'
    pos += 10
    code_size = d[pos]
    pos += 1
    lzw = bytearray()
    while d[pos]:
        lzw += d[pos + 1: pos + 1 + d[pos]]
        pos += d[pos] + 1
    rgb = open(rgb_path, 'rb').read()
    first = {}
    for i, c in enumerate(palette):
        first.setdefault(bytes(c), i)
    idx = bytes(first[rgb[3 * i: 3 * i + 3]] for i in range(w * h))
    print(path, 'code size', code_size, 'size', w, 'x', h)
    open(out_lzw, 'wb').write(bytes(lzw))
    open(out_idx, 'wb').write(idx)


def high(path, out):
    d = open(path, 'rb').read()
    open(out, 'wb').write(d[0::2])


if __name__ == '__main__':
    {'tiffstrip': tiff_strip, 'gif': gif, 'high': high}[sys.argv[1]](*sys.argv[2:])
