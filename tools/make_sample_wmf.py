#!/usr/bin/env python3
"""Writes the sample metafile sample/diagram.wmf (a small drawing with Japanese text)."""
import struct
import sys

records = []


def rec(func, *words, raw=b""):
    body = b"".join(struct.pack("<h", w) for w in words) + raw
    if len(body) % 2:
        body += b"\0"
    size = 3 + len(body) // 2
    records.append(struct.pack("<IH", size, func) + body)


def colorref(r, g, b):
    return struct.pack("<BBBB", r, g, b, 0)


W, H = 4000, 3000  # logical units; 1440 per inch below -> 4000 x 3000 twips
rec(0x020B, 0, 0)                      # SetWindowOrg
rec(0x020C, H, W)                      # SetWindowExt
rec(0x0102, 1)                         # SetBkMode TRANSPARENT
rec(0x02FC, raw=struct.pack("<H", 0) + colorref(230, 240, 255) + struct.pack("<H", 0))   # brush 0
rec(0x02FA, raw=struct.pack("<Hhh", 0, 30, 0) + colorref(32, 64, 160))                   # pen 1
rec(0x012D, 0)
rec(0x012D, 1)
rec(0x041B, H - 100, W - 100, 100, 100)  # Rectangle(bottom, right, top, left)
rec(0x02FC, raw=struct.pack("<H", 0) + colorref(240, 190, 40) + struct.pack("<H", 0))   # brush 2
rec(0x012D, 2)
rec(0x0418, 1500, 3600, 400, 2500)       # Ellipse
rec(0x02FC, raw=struct.pack("<H", 0) + colorref(40, 140, 70) + struct.pack("<H", 0))    # brush 3
rec(0x012D, 3)
pts = [(100, 2900), (900, 1700), (1700, 2400), (2300, 1900), (3900, 2900)]
rec(0x0324, len(pts), *[c for p in pts for c in p])  # Polygon
face = b"MS PGothic".ljust(32, b"\0")
font = struct.pack("<hhhhh", -420, 0, 0, 0, 700) + bytes([0, 0, 0, 128, 0, 0, 0, 0]) + face
rec(0x02FB, raw=font)                    # font 4 (Shift_JIS charset)
rec(0x012D, 4)
rec(0x0209, raw=colorref(160, 30, 30))   # SetTextColor
text = "ペロリナクス Mini".encode("shift_jis")
rec(0x0521, len(text), raw=text + (b"\0" if len(text) % 2 else b"") + struct.pack("<hh", 500, 300))  # TextOut
rec(0x0000)                              # EOF

body = b"".join(records)
maxrec = max(len(r) // 2 for r in records)
header = struct.pack("<HHHIHIH", 1, 9, 0x0300, (18 + len(body)) // 2, 5, maxrec, 0)
placeable = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, 0, 0, W, H, 1440, 0)
checksum = 0
for i in range(0, 20, 2):
    checksum ^= struct.unpack("<H", placeable[i:i + 2])[0]
placeable += struct.pack("<H", checksum)
out = sys.argv[1] if len(sys.argv) > 1 else "sample/diagram.wmf"
with open(out, "wb") as f:
    f.write(placeable + header + body)
