#!/usr/bin/env bash
# Makes the demo project: two faces drawn with ImageMagick and a grid file whose meshes put
# the points on the matching features (eyes, face outline, nose, mouth) of each face.
# Needs ImageMagick's convert and python3. Run from anywhere; writes next to this script.
set -euo pipefail
cd "$(dirname "$0")"

# Start: a round yellow face with a small smile.
convert -size 320x320 xc:'#cfe8ff' \
  -fill '#ffd54f' -stroke '#8d6e00' -strokewidth 3 -draw 'circle 160,175 160,63' \
  -fill '#ffffff' -stroke '#333333' -strokewidth 2 -draw 'circle 120,140 120,124' -draw 'circle 200,140 200,124' \
  -fill '#222222' -stroke none -draw 'circle 120,140 120,132' -draw 'circle 200,140 200,132' \
  -fill '#e0a800' -draw 'circle 160,180 160,172' \
  -fill none -stroke '#c62828' -strokewidth 6 -draw 'path "M 120,215 Q 160,255 200,215"' \
  -quality 92 start.jpg

# End: a long pink face, eyes high, a wide grin.
convert -size 320x320 xc:'#e6f5d0' \
  -fill '#ff9e80' -stroke '#a1452a' -strokewidth 3 -draw 'ellipse 160,165 78,140 0,360' \
  -fill '#ffffff' -stroke '#333333' -strokewidth 2 -draw 'circle 130,100 130,86' -draw 'circle 190,100 190,86' \
  -fill '#1e4fa3' -stroke none -draw 'circle 130,100 130,93' -draw 'circle 190,100 190,93' \
  -fill '#d9694a' -draw 'ellipse 160,165 7,12 0,360' \
  -fill none -stroke '#b71c1c' -strokewidth 6 -draw 'path "M 115,235 Q 160,285 205,235"' \
  -quality 92 end.jpg

# The project: both pictures by bare name, 7 x 7 points over 320 x 320, the inner points
# on the features and on the face outline. Layout: each name as a 32-bit length and its
# bytes, columns, rows, then 100 x 100 records (row by row) of start X, start Y, end X,
# end Y, all little-endian.
python3 - <<'PY'
import struct
cols, rows, size = 7, 7, 320
even = [i * size // (cols - 1) for i in range(cols)]  # 0, 53, 106, 160, 213, 266, 320
start = {(i, j): (even[i], even[j]) for i in range(cols) for j in range(rows)}
end = dict(start)
# (column, row): start point, end point
moved = {
    # top of the head
    (2, 1): ((100, 80), (115, 51)), (3, 1): ((160, 63), (160, 25)), (4, 1): ((220, 80), (205, 51)),
    # outline at the eyes, the eyes, between them
    (1, 2): ((54, 140), (91, 100)), (2, 2): ((120, 140), (130, 100)), (3, 2): ((160, 130), (160, 95)),
    (4, 2): ((200, 140), (190, 100)), (5, 2): ((266, 140), (229, 100)),
    # outline at the nose, cheeks, the nose
    (1, 3): ((48, 180), (82, 165)), (2, 3): ((104, 180), (121, 165)), (3, 3): ((160, 180), (160, 165)),
    (4, 3): ((216, 180), (199, 165)), (5, 3): ((272, 180), (238, 165)),
    # outline at the mouth, the corners and the middle of the mouth
    (1, 4): ((55, 215), (92, 235)), (2, 4): ((120, 215), (115, 235)), (3, 4): ((160, 235), (160, 260)),
    (4, 4): ((200, 215), (205, 235)), (5, 4): ((265, 215), (228, 235)),
    # the chin
    (2, 5): ((110, 275), (125, 290)), (3, 5): ((160, 287), (160, 305)), (4, 5): ((210, 275), (195, 290)),
}
for key, (s, e) in moved.items():
    start[key], end[key] = s, e
out = bytearray()
for name in (b"start.jpg", b"end.jpg"):
    out += struct.pack("<i", len(name)) + name
out += struct.pack("<ii", cols, rows)
for j in range(100):
    for i in range(100):
        sx, sy = start.get((i, j), (0, 0))
        ex, ey = end.get((i, j), (0, 0))
        out += struct.pack("<iiii", sx, sy, ex, ey)
open("faces.grid", "wb").write(out)
PY
echo "made start.jpg, end.jpg, faces.grid"
