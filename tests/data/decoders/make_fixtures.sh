#!/bin/sh
# Re-creates the decoder fixtures with independent tools (ImageMagick 6, libtiff 4 tools,
# ffmpeg) and extracts the compressed blocks with extract.py. Run from this folder.
set -e
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT

# TIFF: a colour crop of ImageMagick's built-in rose picture, uncompressed in one strip;
# libtiff recompresses it (LZW, LZW with horizontal differencing, PackBits).
convert rose: -crop 40x30+12+8 +repage -depth 8 -compress none "$T/rose_raw.tif"
tiffcp -c none -r 30 "$T/rose_raw.tif" "$T/rose_none.tif"
tiffcp -c lzw -r 30 "$T/rose_raw.tif" "$T/rose_lzw.tif"
tiffcp -c lzw:2 -r 30 "$T/rose_raw.tif" "$T/rose_lzw_pred.tif"
tiffcp -c packbits -r 30 "$T/rose_raw.tif" "$T/rose_packbits.tif"
# Grey noise: long enough for 12-bit codes and a table reset by libtiff's encoder.
convert -size 64x96 xc:gray +noise Random -colorspace gray -depth 8 -compress none "$T/noise_raw.tif"
tiffcp -c none -r 96 "$T/noise_raw.tif" "$T/noise_none.tif"
tiffcp -c lzw -r 96 "$T/noise_raw.tif" "$T/noise_lzw.tif"
python3 extract.py tiffstrip "$T/rose_none.tif" rose_rgb.raw
python3 extract.py tiffstrip "$T/rose_lzw.tif" rose_rgb.tif-lzw
python3 extract.py tiffstrip "$T/rose_lzw_pred.tif" rose_rgb_pred.tif-lzw
python3 extract.py tiffstrip "$T/rose_packbits.tif" rose_rgb.packbits
python3 extract.py tiffstrip "$T/noise_none.tif" noise_grey.raw
python3 extract.py tiffstrip "$T/noise_lzw.tif" noise_grey.tif-lzw

# GIF: ImageMagick quantises the rose to 16 colours (code size 4) and to 4 colours
# (code size 2); extract.py writes the LZW sub-blocks joined and, from the pixels
# ImageMagick reads back, each pixel's palette index.
convert rose: -colors 16 "$T/rose16.gif"
convert rose: -crop 24x16+20+10 +repage -colors 4 "$T/rose4.gif"
convert "$T/rose16.gif" -depth 8 "rgb:$T/rose16.rgb"
convert "$T/rose4.gif" -depth 8 "rgb:$T/rose4.rgb"
python3 extract.py gif "$T/rose16.gif" "$T/rose16.rgb" rose16.gif-lzw rose16.idx
python3 extract.py gif "$T/rose4.gif" "$T/rose4.rgb" rose4.gif-lzw rose4.idx

# SGI run-length files from ffmpeg (its rows carry no zero count), 8 and 16 bits per
# sample, and the raw pixels ffmpeg decodes from the same test pattern.
ffmpeg -v error -f lavfi -i testsrc=size=24x12:rate=1 -frames:v 1 -pix_fmt rgb24 -y "$T/pat.png"
ffmpeg -v error -i "$T/pat.png" -c:v sgi -rle 1 -pix_fmt rgb24 -y "$T/pat8.sgi"
ffmpeg -v error -i "$T/pat.png" -c:v sgi -rle 1 -pix_fmt rgb48be -y "$T/pat16.sgi"
ffmpeg -v error -i "$T/pat.png" -f rawvideo -pix_fmt rgb24 -y "$T/pat.rgb"
ffmpeg -v error -i "$T/pat16.sgi" -f rawvideo -pix_fmt rgb48be -y "$T/pat16.rgb48"
cp "$T/pat8.sgi" pattern8.sgi
cp "$T/pat16.sgi" pattern16.sgi
cp "$T/pat.rgb" pattern.rgb
python3 extract.py high "$T/pat16.rgb48" pattern16_high.rgb

# Targa: ImageMagick's run-length Targa of a rose crop; ffmpeg decodes it, and its rows
# turned over give B, G, R rows in the file's own order (bottom row first).
convert rose: -crop 32x20+10+10 +repage -compress RLE "$T/rose.tga"
ffmpeg -v error -i "$T/rose.tga" -vf vflip -f rawvideo -pix_fmt bgr24 -y "$T/rose.bgr"
cp "$T/rose.tga" rose_rle.tga
cp "$T/rose.bgr" rose_bottomup.bgr
