"""A private X session for end-to-end tests: an Xvfb server, screenshots read
straight from the server, real input through xdotool, the clipboard through
xclip, and the PNG and BMP files the tests write and read. Python 3 standard
library only."""

import ctypes
import ctypes.util
import os
import shutil
import socket
import struct
import subprocess
import time
import zlib

SKIP = 77  # the exit status CTest reports as "skipped"


class Skip(Exception):
    """The session cannot run here (a missing tool, an X server that will not start)."""


class Failure(Exception):
    """A check of the program failed."""


def wait_for(what, probe, timeout=10.0, interval=0.04):
    """Polls `probe` until it returns something true; fails naming `what`."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


# ---- pictures -----------------------------------------------------------------

def write_quadrants_bmp(path, width, height, colours):
    """A 24-bit BMP in four quadrants of the (r, g, b) colours top-left, top-right,
    bottom-left, bottom-right: easy to find again on screen or on the clipboard."""
    row_bytes = (width * 3 + 3) & ~3
    left, right = width // 2, width - width // 2

    def row(a, b):
        return (bytes(reversed(a)) * left + bytes(reversed(b)) * right).ljust(row_bytes, b"\0")

    top, bottom = row(colours[0], colours[1]), row(colours[2], colours[3])
    pixels = bottom * (height - height // 2) + top * (height // 2)  # rows bottom-up
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def srgb_for_display(colours, profile):
    """The (r, g, b) sRGB colours as a display with the ICC profile at `profile` must
    show them: converted by Little CMS (the library the program uses, through ctypes)
    with the relative colorimetric intent and black point compensation."""
    lib = ctypes.CDLL(ctypes.util.find_library("lcms2") or "liblcms2.so.2")
    lib.cmsCreate_sRGBProfile.restype = ctypes.c_void_p
    lib.cmsOpenProfileFromFile.restype = ctypes.c_void_p
    lib.cmsOpenProfileFromFile.argtypes = (ctypes.c_char_p, ctypes.c_char_p)
    lib.cmsCreateTransform.restype = ctypes.c_void_p
    lib.cmsCreateTransform.argtypes = (ctypes.c_void_p, ctypes.c_uint32, ctypes.c_void_p, ctypes.c_uint32,
                                       ctypes.c_uint32, ctypes.c_uint32)
    lib.cmsDoTransform.argtypes = (ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_uint32)
    lib.cmsDeleteTransform.argtypes = lib.cmsCloseProfile.argtypes = (ctypes.c_void_p,)
    rgb_8 = (4 << 16) | (3 << 3) | 1             # TYPE_RGB_8
    relative, black_point = 1, 0x2000           # INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION
    srgb = lib.cmsCreate_sRGBProfile()
    display = lib.cmsOpenProfileFromFile(profile.encode(), b"r")
    if not srgb or not display:
        raise Failure("Little CMS cannot open %s" % profile)
    transform = lib.cmsCreateTransform(srgb, rgb_8, display, rgb_8, relative, black_point)
    source = bytes(c for colour in colours for c in colour)
    out = ctypes.create_string_buffer(len(source))
    lib.cmsDoTransform(transform, source, out, len(colours))
    lib.cmsDeleteTransform(transform)
    lib.cmsCloseProfile(display)
    lib.cmsCloseProfile(srgb)
    return [tuple(out.raw[i:i + 3]) for i in range(0, len(source), 3)]


class Image:
    """Packed RGB pixels."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def crop(self, x, y, w, h):
        rows = [self.rgb[((y + r) * self.width + x) * 3:((y + r) * self.width + x + w) * 3] for r in range(h)]
        return Image(w, h, b"".join(rows))

    def save_png(self, path):
        raw = b"".join(b"\0" + self.rgb[r * self.width * 3:(r + 1) * self.width * 3] for r in range(self.height))

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0))
                    + chunk(b"IDAT", zlib.compress(raw, 3)) + chunk(b"IEND", b""))


def read_png(data):
    """Decodes an 8-bit, non-interlaced greyscale, RGB or RGBA PNG (what Qt writes)."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise Failure("not a PNG (%d bytes, starting %r)" % (len(data), data[:16]))
    pos, idat, ihdr = 8, [], None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = ihdr
    channels = {0: 1, 2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace:
        raise Failure("PNG of a kind this test does not read (depth %d, colour type %d)" % (depth, colour))
    raw = zlib.decompress(b"".join(idat))
    stride = width * channels
    out, prev = bytearray(), bytearray(stride)
    for r in range(height):
        kind = raw[r * (stride + 1)]
        line = bytearray(raw[r * (stride + 1) + 1:(r + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out += line
        prev = line
    if channels == 3:
        rgb = bytes(out)
    else:
        rgb = bytearray(width * height * 3)
        for k in range(3):
            rgb[k::3] = out[(k if channels == 4 else 0)::channels]
    return Image(width, height, bytes(rgb))


# ---- the X server ---------------------------------------------------------------

class XSession:
    """Xvfb on a free display, with its own screenshots and xdotool/xclip wrappers."""

    TOOLS = ("Xvfb", "xdotool", "xclip")

    def __init__(self, width=1024, height=768):
        missing = [t for t in self.TOOLS if shutil.which(t) is None]
        if missing:
            raise Skip("not installed: %s (scripts/setup.sh installs them)" % ", ".join(missing))
        self.width, self.height = width, height
        read_fd, write_fd = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "%dx%dx24" % (width, height),
             "-noreset", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as r:
            number = r.readline().strip()
        if not number:
            err = self.server.communicate(timeout=5)[1].decode(errors="replace").strip().splitlines()
            raise Skip("Xvfb cannot run here: %s" % (err[-1] if err else "no display number"))
        self.display = ":" + number.decode()
        self.env = {"DISPLAY": self.display, "PATH": os.environ.get("PATH", "/usr/bin:/bin")}
        self._x = _XConnection(int(number))

    def close(self):
        self._x.close()
        self.server.terminate()
        try:
            self.server.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.server.kill()

    # ---- tools
    def run(self, *args, check=True, timeout=10, binary=False):
        p = subprocess.run(args, env=self.env, capture_output=True, timeout=timeout)
        if check and p.returncode != 0:
            raise Failure("%s failed (%d): %s" % (" ".join(args), p.returncode, p.stderr.decode(errors="replace").strip()))
        return p.stdout if binary else p.stdout.decode(errors="replace")

    def click(self, x, y):
        """A real button press and release at (x, y) through XTEST."""
        self.run("xdotool", "mousemove", "--sync", str(x), str(y), "click", "1")

    def point_at(self, x, y):
        self.run("xdotool", "mousemove", "--sync", str(x), str(y))

    def key(self, *keys):
        """Real key presses through XTEST; they go to the window holding the focus,
        which without a window manager is the one under the pointer."""
        self.run("xdotool", "key", "--delay", "30", *keys)

    def windows(self, pid):
        """Visible top-level windows of process `pid`: name -> (x, y, width, height)."""
        return {name: geometry for _, name, geometry in self.window_list(pid)}

    def window_list(self, pid):
        """Visible top-level windows of process `pid` as (id, name, (x, y, width, height)),
        for windows that share a title."""
        p = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)],
                           env=self.env, capture_output=True, text=True, timeout=10)
        found = []
        for wid in p.stdout.split():
            name = self.run("xdotool", "getwindowname", wid, check=False).rstrip("\n")
            geometry = dict(line.split("=", 1) for line in
                            self.run("xdotool", "getwindowgeometry", "--shell", wid, check=False).split())
            if geometry:
                found.append((wid, name, tuple(int(geometry[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))))
        return found

    def type(self, text):
        """Real key presses typing ASCII `text` into the focused window."""
        self.run("xdotool", "type", "--delay", "30", text)

    def clipboard(self, target):
        return self.run("xclip", "-selection", "clipboard", "-t", target, "-o", binary=True, check=False, timeout=10)

    def set_root_property(self, name, data):
        """Sets the root window's property `name` to the bytes `data` (8-bit CARDINAL),
        as a colour daemon publishes the display's profile."""
        self._x.change_property(self._x.intern_atom(name), 6, data)

    def delete_root_property(self, name):
        self._x.delete_property(self._x.intern_atom(name))

    def screenshot(self, path=None):
        image = self._x.get_image(0, 0, self.width, self.height)
        if path:
            image.save_png(path)
        return image


class _XConnection:
    """Just enough of the X11 protocol to read the screen (GetImage) and to set the
    root window's properties."""

    def __init__(self, number):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect("/tmp/.X11-unix/X%d" % number)
        self.sock.sendall(struct.pack("<BxHHHHxx", ord("l"), 11, 0, 0, 0))
        head = self._read(8)
        body = self._read(struct.unpack("<H", head[6:8])[0] * 4)
        if head[0] != 1:
            raise Skip("the X server refused the connection: %r" % body[:head[1]])
        vendor_len, = struct.unpack("<H", body[16:18])
        formats = body[21]
        screen = 32 + ((vendor_len + 3) & ~3) + 8 * formats
        self.root, = struct.unpack("<I", body[screen:screen + 4])

    def _read(self, n):
        data = bytearray()
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise Failure("the X server closed the connection")
            data += chunk
        return bytes(data)

    def _reply(self, what):
        """The reply to the last request: its first 32 bytes and what follows."""
        head = self._read(32)
        while head[0] > 1:   # an event every client gets (MappingNotify when xdotool remaps keys)
            head = self._read(32)
        if head[0] != 1:
            raise Failure("%s failed with X error %d" % (what, head[1]))
        return head, self._read(struct.unpack("<I", head[4:8])[0] * 4)

    def intern_atom(self, name):
        name = name.encode()
        pad = b"\0" * (-len(name) % 4)
        self.sock.sendall(struct.pack("<BBHHxx", 16, 0, 2 + (len(name) + len(pad)) // 4, len(name)) + name + pad)
        head, _ = self._reply("InternAtom")
        return struct.unpack("<I", head[8:12])[0]

    def change_property(self, atom, kind, data):
        pad = b"\0" * (-len(data) % 4)
        self.sock.sendall(struct.pack("<BBHIIIB3xI", 18, 0, 6 + (len(data) + len(pad)) // 4, self.root, atom, kind,
                                      8, len(data)) + data + pad)

    def delete_property(self, atom):
        self.sock.sendall(struct.pack("<BxHII", 19, 3, self.root, atom))

    def get_image(self, x, y, w, h):
        self.sock.sendall(struct.pack("<BBHIhhHHI", 73, 2, 5, self.root, x, y, w, h, 0xFFFFFFFF))
        _, data = self._reply("GetImage")
        rgb = bytearray(w * h * 3)  # the server's pixels are B, G, R, pad
        rgb[0::3], rgb[1::3], rgb[2::3] = data[2::4], data[1::4], data[0::4]
        return Image(w, h, bytes(rgb))

    def close(self):
        self.sock.close()
