#!/usr/bin/env python3
# Writes the hand-made regression inputs of this folder (the fuzzer's own finds are
# kept as they were found). Each is a file of a few bytes to a few hundred kilobytes
# that once made the loader crash, hang or allocate gigabytes.
import math
import zlib
import os
import struct
out = os.path.dirname(os.path.abspath(__file__))

def w(name, data):
    os.makedirs(os.path.dirname(os.path.join(out, name)), exist_ok=True)
    open(os.path.join(out, name), 'wb').write(data)

# ---- JPEG pieces
def seg(marker, payload):
    return bytes([0xFF, marker]) + struct.pack('>H', len(payload) + 2) + payload

def dqt():
    return seg(0xDB, bytes([0]) + bytes([1] * 64))

def sof2(w_, h_, comps):
    p = struct.pack('>BHHB', 8, h_, w_, len(comps))
    for cid, hv in comps:
        p += bytes([cid, hv, 0])
    return seg(0xC2, p)

def dht():
    # DC table 0: one code '0' -> category 0.
    dc = bytes([0x00]) + bytes([1] + [0] * 15) + bytes([0])
    # AC table 0: '0' -> EOB14 (0xE0), '10' -> EOB0 (0x00).
    ac = bytes([0x10]) + bytes([1, 1] + [0] * 14) + bytes([0xE0, 0x00])
    return seg(0xC4, dc + ac)

def sos(comp_ids, ss, se, ah, al):
    p = bytes([len(comp_ids)])
    for c in comp_ids:
        p += bytes([c, 0x00])
    p += bytes([ss, se, (ah << 4) | al])
    return seg(0xDA, p)

class Bits:
    def __init__(self):
        self.acc = 0; self.n = 0; self.out = bytearray()
    def put(self, value, nbits):
        for i in range(nbits - 1, -1, -1):
            self.acc = (self.acc << 1) | ((value >> i) & 1); self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                if self.acc == 0xFF: self.out.append(0)
                self.acc = 0; self.n = 0
    def flush(self):
        while self.n: self.put(1, 1)
        return bytes(self.out)

def eobrun_data(blocks):
    b = Bits()
    while blocks > 0:
        run = min(blocks, 32767)
        if run >= 16384:
            b.put(0, 1); b.put(run - 16384, 14)
        else:
            # fall back to single-block EOB0 codes for a small remainder
            for _ in range(run): b.put(0b10, 2)
        blocks -= run
    return b.flush()

SOI = b'\xff\xd8'; EOI = b'\xff\xd9'
# (1) AC scans before any DC: every scan warns; the eighth-size preview never gets its DC.
def ac_before_dc(scans, size=8000):
    j = SOI + dqt() + sof2(size, size, [(1, 0x11)]) + dht()
    for _ in range(scans):
        j += sos([1], 1, 63, 0, 0)
    j += sos([1], 0, 0, 0, 0) + EOI
    return j
# (2) Legal-looking progression: DC, then AC scans full of valid EOB runs (no warning at all).
def eobrun_scans(scans, size=8000):
    blocks = (size // 8) * (size // 8)
    data = eobrun_data(blocks)
    j = SOI + dqt() + sof2(size, size, [(1, 0x11)]) + dht()
    j += sos([1], 0, 0, 0, 0)
    for _ in range(scans):
        j += sos([1], 1, 63, 0, 0) + data
    return j + EOI
# (3) A tiny progressive file claiming 16000 x 16000, three full-resolution components.
def huge_progressive(size=16000):
    return SOI + dqt() + sof2(size, size, [(1, 0x11), (2, 0x11), (3, 0x11)]) + dht() + sos([1, 2, 3], 0, 0, 0, 0) + EOI

# (4) A small picture whose scans refine coefficients that were never sent: 63 warnings a scan.
def bogus_refinements(scans, size=16):
    j = SOI + dqt() + sof2(size, size, [(1, 0x11)]) + dht()
    for _ in range(scans):
        j += sos([1], 1, 63, 1, 0)
    return j + sos([1], 0, 0, 0, 0) + EOI

# (5) A baseline picture at the budget's edge whose EXIF orientation turns it a quarter:
# upright, it would be held twice.
def sof0(w_, h_):
    return seg(0xC0, struct.pack('>BHHB', 8, h_, w_, 1) + bytes([1, 0x11, 0]))

def turned_baseline(size=23170, orientation=6):
    exif = b'Exif\0\0II*\0' + struct.pack('<IH', 8, 1) + struct.pack('<HHIHH', 0x0112, 3, 1, orientation, 0) + struct.pack('<I', 0)
    dc = bytes([0x00]) + bytes([1] + [0] * 15) + bytes([0])
    ac = bytes([0x10]) + bytes([1] + [0] * 15) + bytes([0])
    return SOI + seg(0xE1, exif) + dqt() + sof0(size, size) + seg(0xC4, dc + ac) + sos([1], 0, 63, 0, 0) + EOI

# ---- BMP / ICO
def bmp_rle8(wd, ht, rle):
    pal = struct.pack('<I', 0x00ff0000)
    off = 14 + 40 + len(pal)
    dib = struct.pack('<IiiHHIIiiII', 40, wd, ht, 1, 8, 1, len(rle), 2835, 2835, 1, 0)
    return b'BM' + struct.pack('<IHHI', off + len(rle), 0, 0, off) + dib + pal + rle

def ico_1bpp(wd, ht, bits):
    dib = struct.pack('<IiiHHIIiiII', 40, wd, 2 * ht, 1, 1, 0, 0, 0, 0, 2, 0) + struct.pack('<II', 0, 0x00ffffff)
    img = dib + bits
    return struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', 0, 0, 2, 0, 1, 1, len(img), 22) + img

# A 52-byte info header with alpha bit fields (compression 6): the three colour masks
# fit in it, the alpha mask does not. Put last in its file, a parser that reads the
# alpha mask at byte 52 reads past the end.
def dib_alpha_fields_52(wd, ht):
    return struct.pack('<IiiHHIIiiII', 52, wd, ht, 1, 32, 6, 0, 0, 0, 0, 0) + struct.pack('<III', 0xff0000, 0xff00, 0xff)

def bmp_header_only(dib):
    return b'BM' + struct.pack('<IHHI', 14 + len(dib), 0, 0, 14 + len(dib)) + dib

def ico_entry_last(img):
    return struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', 2, 2, 0, 0, 1, 32, len(img), 22) + img

# ---- WMF
def wmf(records, objects=4, eof=True):
    body = b''
    for func, params in records:
        body += struct.pack('<IH', 3 + len(params) // 2, func) + params
    if eof:
        body += struct.pack('<IH', 3, 0)
    hdr = struct.pack('<HHHIHIH', 1, 9, 0x300, 9 + len(body) // 2, objects, 0, 0)
    return hdr + body

def stretch_dib(dib, usage=0):
    # StretchDIBits, SRCCOPY, 2 x 2 source into 100 x 100: rop, usage, source h, w, y, x, destination h, w, y, x.
    params = struct.pack('<IHhhhhhhhh', 0x00CC0020, usage, 2, 2, 0, 0, 100, 100, 0, 0)
    return (0x0F43, params + dib)

def frame():
    return [(0x020B, struct.pack('<hh', 0, 0)), (0x020C, struct.pack('<hh', 100, 100))]

def star_polygon(n, k=7, cycle=17, r=480, c=500):
    # A self-crossing star of `cycle` points repeated: every edge crosses the picture.
    pts = []
    for i in range(n):
        a = 2 * math.pi * ((i % cycle) * k % cycle) / cycle
        pts.append((int(c + r * math.cos(a)), int(c + r * math.sin(a))))
    return pts

def polygon_wmf(polys, n):
    recs = [(0x020B, struct.pack('<hh', 0, 0)), (0x020C, struct.pack('<hh', 1000, 1000)),
            (0x02FC, struct.pack('<HHHH', 0, 0x00ff, 0, 0)), (0x012D, struct.pack('<H', 0))]
    pts = star_polygon(n)
    p = struct.pack('<H', n) + b''.join(struct.pack('<hh', x, y) for x, y in pts)
    for _ in range(polys):
        recs.append((0x0324, p))
    return wmf(recs)

def many(func, params, count):
    recs = [(0x020B, struct.pack('<hh', 0, 0)), (0x020C, struct.pack('<hh', 1000, 1000)),
            (0x02FC, struct.pack('<HHHH', 0, 0x00ff, 0, 0)), (0x012D, struct.pack('<H', 0))]
    rec = struct.pack('<IH', 3 + len(params) // 2, func) + params
    body = b''.join(struct.pack('<IH', 3 + len(p) // 2, f) + p for f, p in recs) + rec * count + struct.pack('<IH', 3, 0)
    hdr = struct.pack('<HHHIHIH', 1, 9, 0x300, 9 + len(body) // 2, 4, 0, 0)
    return hdr + body

def many_fonts(count):
    recs = [(0x020B, struct.pack('<hh', 0, 0)), (0x020C, struct.pack('<hh', 1000, 1000))]
    for i in range(count):
        face = ('F%06d' % i).encode()
        recs.append((0x02FB, struct.pack('<hhhhh', -20 - i % 50, 0, 0, 0, 400) + bytes(8) + face + b'\0'))
        recs.append((0x012D, struct.pack('<H', 0)))
        recs.append((0x0521, struct.pack('<h', 1) + b'A\0' + struct.pack('<hh', (i * 7) % 1000, (i * 13) % 1000)))
        recs.append((0x01F0, struct.pack('<H', 0)))
    return wmf(recs)

# ---- Colour (fuzz_colour: an ICC profile as it is, anything else after a selector byte:
# 0 APP2 segments split at FF E2, 1 an EXIF payload, 2 a BMP info header, 3 PNG chunks)
def icc(device_class, space, pcs, tags):
    """A profile of `tags` [(signature, data)], data laid out after the tag table."""
    table, body = b'', b''
    at = 128 + 4 + 12 * len(tags)
    for sig, data in tags:
        table += sig + struct.pack('>II', at + len(body), len(data))
        body += data + bytes(-len(data) % 4)
    size = at + len(body)
    head = struct.pack('>I', size) + b'lcms' + bytes([2, 0x40, 0, 0]) + device_class + space + pcs
    head = head + bytes(36 - len(head)) + b'acsp'
    head = head + bytes(128 - len(head))
    return head + struct.pack('>I', len(tags)) + table + body

def xyz(x, y, z):
    return b'XYZ ' + bytes(4) + struct.pack('>iii', *(round(v * 65536) for v in (x, y, z)))

def matrix_profile(trc):
    return icc(b'mntr', b'RGB ', b'XYZ ', [
        (b'wtpt', xyz(0.9642, 1.0, 0.8249)), (b'rXYZ', xyz(0.4361, 0.2225, 0.0139)),
        (b'gXYZ', xyz(0.3851, 0.7169, 0.0971)), (b'bXYZ', xyz(0.1431, 0.0606, 0.7141)),
        (b'rTRC', trc), (b'gTRC', trc), (b'bTRC', trc)])

def lut16(inputs, outputs, points, clut_bytes):
    head = b'mft2' + bytes(4) + bytes([inputs, outputs, points, 0])
    head += struct.pack('>9i', 65536, 0, 0, 0, 65536, 0, 0, 0, 65536) + struct.pack('>HH', 2, 2)
    curves = struct.pack('>HH', 0, 65535)
    return head + curves * inputs + bytes(clut_bytes) + curves * outputs

def png_chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

def exif_self_loop():
    t = b'II' + struct.pack('<HI', 42, 8) + struct.pack('<H', 1) + struct.pack('<HHII', 0x8769, 4, 1, 8) + bytes(4)
    return b'Exif\0\0' + t

# Each input is named after the fault it catches.
w('jpeg/progressive-600-ac-scans-before-dc.jpg', ac_before_dc(600))
w('jpeg/progressive-60-scans-of-eob-runs.jpg', eobrun_scans(60))
w('jpeg/progressive-16000-square-keeps-1.5gb-coefficients.jpg', huge_progressive())
w('jpeg/progressive-refinements-without-data-flood-warnings.jpg', bogus_refinements(40))
w('jpeg/baseline-23170-square-turned-upright-held-twice.jpg', turned_baseline())
w('bmp/rle8-64-bytes-claims-23170-square.bmp', bmp_rle8(23170, 23170, b'\x02\x00\x00\x00\x00\x01'))
w('ico/dib-1bpp-134-bytes-claims-23000-square.ico', ico_1bpp(23000, 23000, bytes(64)))
w('wmf/polygon-65535-self-crossing-points.wmf', polygon_wmf(1, 65535))
w('wmf/100000-full-size-rectangles.wmf', many(0x041B, struct.pack('<hhhh', 1000, 1000, 0, 0), 100000))
w('wmf/20000-fonts-each-used-once.wmf', many_fonts(20000))
# The DIB decoder shared by BMP, ICO and WMF: a fix made for one entry holds for all.
w('bmp/alpha-bitfields-header-of-52-bytes-read-past-the-file.bmp', bmp_header_only(dib_alpha_fields_52(2, 2)))
w('ico/alpha-bitfields-header-of-52-bytes-read-past-the-file.ico',
  ico_entry_last(dib_alpha_fields_52(2, 4)))
w('wmf/dib-alpha-bitfields-header-of-52-bytes-read-past-the-file.wmf',
  wmf(frame() + [stretch_dib(dib_alpha_fields_52(2, 2))], eof=False))
# A bitmap record of a few bytes claiming 4800 x 4800 run-length pixels: 92 MB decoded
# from nothing, where a BMP file of the same bytes is refused.
w('wmf/rle-dib-of-50-bytes-claims-4800-square.wmf',
  wmf(frame() + [stretch_dib(struct.pack('<IiiHHIIiiII', 40, 4800, 4800, 1, 8, 1, 2, 0, 0, 2, 0)
                             + struct.pack('<II', 0, 0x00ffffff) + b'\x00\x01')]))
w('colour/icc-4-billion-tags.icc', icc(b'mntr', b'RGB ', b'XYZ ', [])[:128] + struct.pack('>I', 0xFFFFFFFF) + bytes(64))
w('colour/icc-curve-claims-2-billion-points.icc', matrix_profile(b'curv' + bytes(4) + struct.pack('>I', 0x7FFFFFFF)))
w('colour/icc-cmyk-grid-60-a-side-in-900-bytes.icc',
  icc(b'prtr', b'CMYK', b'Lab ', [(b'wtpt', xyz(0.9642, 1.0, 0.8249)), (b'A2B0', lut16(4, 3, 60, 800))]))
w('colour/icc-tag-offset-wraps.icc', matrix_profile(b'curv' + bytes(8))[:140] + struct.pack('>I', 0xFFFFFFF0)
  + matrix_profile(b'curv' + bytes(8))[144:])
w('colour/app2-chunks-numbered-0-and-past-count.bin',
  b'\0' + b'\xff\xe2'.join(b'ICC_PROFILE\0' + bytes([n, 2]) + b'x' * 20 for n in (0, 3, 1)))
w('colour/exif-ifd-points-at-itself.bin', b'\1' + exif_self_loop())
w('colour/bmp-v5-embedded-profile-past-the-end.bin',
  b'\2' + struct.pack('<IiiHHI', 124, 4, 4, 1, 32, 3) + bytes(36) + b'DEBM' + bytes(48) + struct.pack('<IIII', 4, 0xFFFFFF00, 0x3FFFFF, 0))
w('colour/png-iccp-inflates-to-64-mb.bin', b'\3' + b'\x89PNG\r\n\x1a\n'
  + png_chunk(b'IHDR', struct.pack('>IIBBBBB', 1, 1, 8, 2, 0, 0, 0))
  + png_chunk(b'iCCP', b'bomb\0\0' + zlib.compress(bytes(64 << 20), 9)))

# ---- Profiles inside pictures: each format's way of carrying one, with a hostile profile.
def hostile_profiles():
    return {
        'tag-offset-wraps': matrix_profile(b'curv' + bytes(8))[:140] + struct.pack('>I', 0xFFFFFFF0)
                            + matrix_profile(b'curv' + bytes(8))[144:],
        'curve-claims-2-billion-points': matrix_profile(b'curv' + bytes(4) + struct.pack('>I', 0x7FFFFFFF)),
        'cmyk-grid-60-a-side': icc(b'prtr', b'CMYK', b'Lab ', [(b'wtpt', xyz(0.9642, 1.0, 0.8249)),
                                                               (b'A2B0', lut16(4, 3, 60, 800))]),
    }

def app2_chunks(profile, count, order):
    size = -(-len(profile) // count)
    pieces = [profile[i * size:(i + 1) * size] for i in range(count)]
    return b''.join(seg(0xE2, b'ICC_PROFILE\0' + bytes([n + 1, count]) + pieces[n]) for n in order)

def tiny_baseline(components, before_frame=b''):
    """A 16 x 16 baseline picture whose every block is flat: a DC code and an end of block."""
    frame = struct.pack('>BHHB', 8, 16, 16, components) + b''.join(bytes([c + 1, 0x11, 0]) for c in range(components))
    dc = bytes([0x00]) + bytes([1] + [0] * 15) + bytes([0])
    ac = bytes([0x10]) + bytes([1] + [0] * 15) + bytes([0])
    scan = bytes([components]) + b''.join(bytes([c + 1, 0]) for c in range(components)) + bytes([0, 63, 0])
    return (SOI + before_frame + dqt() + seg(0xC0, frame) + seg(0xC4, dc + ac) + seg(0xDA, scan)
            + bytes(components + 1) + EOI)

ADOBE_CMYK = seg(0xEE, b'Adobe' + struct.pack('>HHHB', 100, 0, 0, 0))

def bmp_v5_profile(profile, offset=None):
    """A 2 x 2 32-bit BMP whose V5 header embeds `profile` after the pixels (or says it is at `offset`)."""
    pixels = bytes(16)
    at = 124 + len(pixels) if offset is None else offset
    dib = (struct.pack('<IiiHHIIiiII', 124, 2, 2, 1, 32, 0, len(pixels), 0, 0, 0, 0) + bytes(16)
           + b'DEBM' + bytes(48) + struct.pack('<IIII', 4, at, len(profile), 0))
    data = dib + pixels + profile
    return b'BM' + struct.pack('<IHHI', 14 + len(data), 0, 0, 14 + len(dib)) + data

def png_with_iccp(profile):
    return (b'\x89PNG\r\n\x1a\n' + png_chunk(b'IHDR', struct.pack('>IIBBBBB', 1, 1, 8, 2, 0, 0, 0))
            + png_chunk(b'iCCP', b'icc\0\0' + zlib.compress(profile)) + png_chunk(b'IDAT', zlib.compress(bytes(4)))
            + png_chunk(b'IEND', b''))

def ico_dib_v5_profile(profile):
    """A 2 x 2 icon entry, 32 bits with its mask, whose V5 header embeds `profile` behind them."""
    pixels, mask = bytes(16), bytes(8)
    dib = (struct.pack('<IiiHHIIiiII', 124, 2, 4, 1, 32, 0, 0, 0, 0, 0, 0) + bytes(16)
           + b'DEBM' + bytes(48) + struct.pack('<IIII', 4, 124 + len(pixels) + len(mask), len(profile), 0))
    return ico_entry_last(dib + pixels + mask + profile)

hostile = hostile_profiles()
w('jpeg/app2-profile-tag-offset-wraps-in-3-chunks-backwards.jpg',
  tiny_baseline(3, app2_chunks(hostile['tag-offset-wraps'], 3, (2, 1, 0))))
w('jpeg/app2-profile-curve-claims-2-billion-points.jpg',
  tiny_baseline(3, app2_chunks(hostile['curve-claims-2-billion-points'], 1, (0,))))
w('jpeg/adobe-cmyk-profile-grid-60-a-side.jpg',
  tiny_baseline(4, ADOBE_CMYK + app2_chunks(hostile['cmyk-grid-60-a-side'], 2, (0, 1))))
w('jpeg/adobe-cmyk-app2-chunk-missing.jpg',
  tiny_baseline(4, ADOBE_CMYK + app2_chunks(hostile['cmyk-grid-60-a-side'], 3, (0, 2))))
w('bmp/v5-embedded-profile-curve-claims-2-billion-points.bmp', bmp_v5_profile(hostile['curve-claims-2-billion-points']))
w('bmp/v5-embedded-profile-offset-past-the-end.bmp', bmp_v5_profile(hostile['tag-offset-wraps'], offset=0x7FFFFFF0))
w('ico/png-entry-iccp-tag-offset-wraps.ico', ico_entry_last(png_with_iccp(hostile['tag-offset-wraps'])))
w('ico/dib-v5-embedded-profile-curve-claims-2-billion-points.ico',
  ico_dib_v5_profile(hostile['curve-claims-2-billion-points']))
