#!/usr/bin/env bash
# Makes the PNG fixtures and their reference decodes with ImageMagick, netpbm and Pillow.
set -euo pipefail
cd "$(dirname "$0")"
PY=/usr/bin/python3

# A 16-bit colour source whose two sample bytes differ, 61 x 47 (odd, so raster rows pad).
convert -size 61x47 -seed 7 plasma:orange-navy -depth 16 src16.ppm
convert src16.ppm -depth 8 src.ppm
convert src16.ppm -colorspace Gray -depth 16 grey16.pgm
convert grey16.pgm -depth 8 grey.pgm

# Grey: netpbm picks the bit depth from the maxval.
pamdepth 1 grey.pgm | pnmtopng > grey1.png
pamdepth 3 grey.pgm | pnmtopng > grey2.png
pamdepth 15 grey.pgm | pnmtopng > grey4.png
pnmtopng grey.pgm > grey8.png
pnmtopng grey16.pgm > grey16.png
# Palette: Pillow writes the depth asked for; the tRNS ones mark entry 1 transparent.
$PY - <<'PYEOF'
from PIL import Image
src = Image.open("src.ppm")
for bits, colours, trns in [(1, 2, False), (2, 4, True), (4, 16, False), (8, 200, True)]:
    p = src.quantize(colors=colours, dither=Image.Dither.NONE)
    kw = {"bits": bits}
    if trns:
        kw["transparency"] = 1
    p.save(f"pal{bits}{'_trns' if trns else ''}.png", **kw)
src.save("rgb8.png")
src.convert("RGBA").putalpha  # (alpha made below)
a = Image.linear_gradient("L").resize(src.size)
rgba = src.copy(); rgba.putalpha(a); rgba.save("rgba8.png")
la = Image.open("grey.pgm").convert("L"); la = Image.merge("LA", (la, a)); la.save("greya8.png")
PYEOF
convert src16.ppm -depth 16 PNG48:rgb16.png
convert src16.ppm \( grey16.pgm -negate \) -alpha off -compose CopyOpacity -composite -depth 16 PNG64:rgba16.png
convert grey16.pgm \( grey16.pgm -flop \) -alpha off -compose CopyOpacity -composite -depth 16 -define png:color-type=4 greya16.png
# Interlaced (Adam7).
convert src.ppm -interlace PNG PNG24:rgb8_adam7.png
pamdepth 15 grey.pgm | pnmtopng -interlace > grey4_adam7.png
convert rgba16.png -interlace PNG PNG64:rgba16_adam7.png

# Every 16-bit value once (row y, column x holds y * 256 + x), for the rounding to 8 bits.
$PY -c "
import sys
sys.stdout.buffer.write(b'P5 256 256 65535\\n' + b''.join(bytes([y, x]) for y in range(256) for x in range(256)))
" | pnmtopng > grey16_all.png

# Reference decodes by ImageMagick (PAM keeps alpha and 16-bit samples).
for f in *.png; do convert "$f" "${f%.png}.pam"; done
rm -f src16.ppm src.ppm grey16.pgm grey.pgm grey16_all.pam
