#!/usr/bin/env python3
"""The real pelorinax in a real X server, driven with real input (XTEST through
xdotool, never synthetic events sent to a window), checked on the server's own
pixels, window geometry and clipboard.

usage: e2e_pelorinax.py PROGRAM SCREENSHOT_FOLDER

Each step is a function of STEPS, run in order on one running program; a step
leaves the program as the next one expects it (browsing, main window at home)."""

import os
import re
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xsession import (SKIP, Failure, Skip, XSession, read_png, srgb_for_display, wait_for,  # noqa: E402
                      write_quadrants_bmp)

SCREEN = (1024, 768)
CAPTION = "ＰｅｌｏｒｉｎａｘMini"
ALREADY_RUNNING_TITLE = "pelorinax"
MAIN_SIZE = (600, 327)        # 9000 x 4900 twips
MAIN_HOME = (212, 110)        # centred across, a quarter of the free height down
PARKED = (0, 0)
LINE1_GREY = (128, 128, 128)  # the rule along the top of the main window's client area
DELETE_TITLE = "ファイル削除"
RENAME_TITLE = "ファイル名変更"   # the confirmation, the rename dialog and its refusals

# The pictures of the scratch folder, in list order: name -> (size, quadrant colours).
PICTURES = {
    "a640.bmp": ((640, 480), [(220, 40, 40), (40, 170, 60), (40, 70, 210), (230, 200, 40)]),
    "b1200.bmp": ((1200, 900), [(200, 60, 200), (40, 200, 200), (240, 140, 30), (120, 60, 160)]),
    "c64.bmp": ((64, 48), [(90, 200, 120), (250, 120, 160), (100, 100, 240), (180, 220, 60)]),
}
# A file the list does not show, whose name a rename must not take.
HIDDEN = (".hidden.bmp", b"a hidden file that no rename may replace\n")


def px(twips):
    return twips / 15.0


# Places inside the main window's client area, in pixels from its top-left corner.
def centre_of(left, top, width, height):
    return (round(px(left + width / 2)), round(px(top + height / 2)))


COMMAND1 = centre_of(6600, 3240, 2055, 375)   # 実寸表示
COMMAND2 = centre_of(4320, 3240, 2175, 375)   # クリップボードにコピー
COMMAND3 = centre_of(6600, 3600, 2055, 375)   # 実寸表示消去
COMMAND4 = centre_of(4320, 3600, 2175, 375)   # スライドショー
LIST1_FIRST_ROW = (round(px(4320)) + 20, round(px(120)) + 8)
LIST1_INSIDE = (round(px(4320)) + 3, round(px(120)) + 2, round(px(2175)) - 6, round(px(2985)) - 4)
PREVIEW_BOX = (px(200), px(700), px(4000), px(3000))


def rename_dialog_geometry():
    """Where the rename dialog opens: its client area of 3015 x 1725 twips (no frame
    without a window manager), centred across, its top at the free height / 1.7."""
    width, height = 3015, 1725
    left = (SCREEN[0] * 15 - width) / 2
    top = (SCREEN[1] * 15 - height) / 1.7
    return (round(px(left)), round(px(top)), round(px(width)), round(px(height)))


def quadrant_points(x, y, w, h):
    """The centres of the four quadrants of a rectangle: TL, TR, BL, BR."""
    return [(round(x + w * fx), round(y + h * fy)) for fy in (0.25, 0.75) for fx in (0.25, 0.75)]


def near(a, b, tolerance=10):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


def green(image, x, y, width):
    """The green values of a run of pixels. The list's text is black, so its green
    is the same on the list's white and its pale cyan (192, 255, 255)."""
    i = (y * image.width + x) * 3 + 1
    return image.rgb[i:i + width * 3:3]


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class Run:
    def __init__(self, x, program, out):
        self.x, self.program, self.out = x, program, out
        self.scratch = tempfile.TemporaryDirectory(prefix="pelorinax-e2e-")
        root = self.scratch.name
        self.folder = os.path.join(root, "pictures")
        self.home = os.path.join(root, "home")
        self.runtime = os.path.join(root, "runtime")
        for d in (self.folder, self.home, self.runtime):
            os.makedirs(d)
        os.chmod(self.runtime, 0o700)
        for name, (size, colours) in PICTURES.items():
            write_quadrants_bmp(os.path.join(self.folder, name), size[0], size[1], colours)
        with open(os.path.join(self.folder, HIDDEN[0]), "wb") as f:
            f.write(HIDDEN[1])
        self.trash = os.path.join(self.home, ".local", "share", "Trash")
        self.proc = None
        self.shots = 0
        self.starts = 0
        self.client = None   # where the main window's client area starts inside the window
        self.rows = None     # the file list's text lines: (first screen row, row pitch, text height)
        self.row_looks = {}  # how each picture's name looks in the list

    # ---- the program
    def start(self, *args, cwd=None):
        env = dict(self.x.env, HOME=self.home, XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
                   XDG_RUNTIME_DIR=self.runtime, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        self.starts += 1
        with open(os.path.join(self.out, "pelorinax-start%d.log" % self.starts), "w") as log:
            try:
                return subprocess.Popen([self.program, *args], cwd=cwd or self.folder, env=env,
                                        stdout=log, stderr=subprocess.STDOUT)
            except OSError as e:
                raise Failure("cannot start %s: %s" % (self.program, e))

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def windows(self, proc=None):
        return self.x.windows((proc or self.proc).pid)

    def main_window(self):
        return self.windows().get(CAPTION)

    def main_window_id(self):
        ids = self.x.run("xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.proc.pid), "--name", "Mini$").split()
        if len(ids) != 1:
            raise Failure("expected one main window, found %s" % ids)
        return ids[0]

    def settled(self, area):
        """The screen's `area` once two screenshots in a row agree."""
        last = {}

        def same():
            now = self.x.screenshot().crop(*area)
            done = last.get("image") is not None and last["image"].rgb == now.rgb
            last["image"] = now
            return now if done else None
        return wait_for("the screen to settle", same, timeout=5)

    def shot(self, name):
        self.shots += 1
        return self.x.screenshot(os.path.join(self.out, "%02d-%s.png" % (self.shots, name)))

    # ---- waiting for what the user would see
    def wait_main_at(self, place, what):
        def at_place():
            w = self.main_window()
            return w if w and w[:2] == place and w[2:] == MAIN_SIZE else None
        try:
            return wait_for(what, at_place, timeout=10)
        except Failure:
            raise Failure("%s: the main window is %s, expected %d x %d at %s"
                          % (what, self.main_window(), MAIN_SIZE[0], MAIN_SIZE[1], place))

    def wait_window(self, name, proc=None, timeout=10):
        return wait_for("the window %r" % name, lambda: self.windows(proc).get(name), timeout=timeout)

    def wait_gone(self, name, proc=None):
        wait_for("the window %r to go" % name, lambda: name not in self.windows(proc))

    def wait_pixels(self, what, points, colours, tolerance=10):
        """Polls screenshots until each point shows its colour."""
        last = {}

        def shows():
            image = self.x.screenshot()
            last["seen"] = [image.pixel(*p) for p in points]
            return all(near(s, c, tolerance) for s, c in zip(last["seen"], colours))
        try:
            wait_for(what, shows, timeout=10)
        except Failure:
            raise Failure("%s: at %s the screen shows %s, expected %s" % (what, points, last.get("seen"), colours))

    def on_client(self, point, at=MAIN_HOME):
        """A point of the main window's client area on screen, the window being at `at`."""
        return (at[0] + self.client[0] + point[0], at[1] + self.client[1] + point[1])

    def click_main(self, point, at=MAIN_HOME):
        self.x.click(*self.on_client(point, at))

    def preview_points(self):
        x, y, w, h = PREVIEW_BOX
        return [self.on_client(p) for p in quadrant_points(x, y, w, h)]

    def dismiss_box(self, name, proc=None):
        """Presses Enter on a message box, with the pointer over it (so that it holds
        the keyboard focus: there is no window manager to give it)."""
        bx, by, bw, bh = self.wait_window(name, proc)
        self.x.point_at(bx + bw // 2, by + bh // 4)
        self.x.key("Return")
        self.wait_gone(name, proc)

    def titled(self, title):
        """The visible windows called `title`, by id: a message box and the rename
        dialog share theirs."""
        return {wid: g for wid, name, g in self.x.window_list(self.proc.pid) if name == title}

    def folder_holds(self, expected, what):
        """Fails unless the pictures' folder holds exactly `expected` (name -> bytes)."""
        names = sorted(os.listdir(self.folder))
        if names != sorted(expected):
            raise Failure("%s: the folder holds %s, expected %s" % (what, names, sorted(expected)))
        for name, data in expected.items():
            if read_bytes(os.path.join(self.folder, name)) != data:
                raise Failure("%s: the contents of %s changed" % (what, name))

    def main_window_alone_at_home(self, what):
        self.wait_main_at(MAIN_HOME, what)
        if self.windows() != {CAPTION: MAIN_HOME + MAIN_SIZE}:
            raise Failure("%s: the program shows %s, expected only its main window" % (what, self.windows()))

    # ---- the file list, read off the screen row by row
    def list_area(self):
        x, y, w, h = LIST1_INSIDE
        return self.on_client((x, y)) + (w, h)

    def learn_list_rows(self):
        """Finds the file list's rows at start-up, where every name shows unselected,
        and keeps how each name looks there."""
        x, y, w, h = self.list_area()

        def runs_of_text():
            image = self.x.screenshot()
            runs, start = [], None
            for row in range(y, y + h + 1):
                inked = row < y + h and min(green(image, x, row, w)) < 160
                if inked and start is None:
                    start = row
                elif not inked and start is not None:
                    runs.append((start, row - start))
                    start = None
            return (image, runs) if len(runs) == len(PICTURES) else None
        image, runs = wait_for("the %d names in the file list" % len(PICTURES), runs_of_text, timeout=5)
        # Only the lines the text takes: a neighbour's selection does not reach them.
        self.rows = (runs[0][0], runs[1][0] - runs[0][0], max(height for _, height in runs))
        self.row_looks = {name: self.row_look(image, i) for i, name in enumerate(PICTURES)}

    def row_look(self, image, index):
        x, _, w, _ = self.list_area()
        first, pitch, height = self.rows
        top = first + index * pitch
        return b"".join(green(image, x, row, w) for row in range(top, top + height))

    def list_shows(self, image):
        """Each row of the list: the name it shows, "" when empty, "?" when unknown."""
        seen = []
        for i in range(len(PICTURES)):
            look = self.row_look(image, i)
            if min(look) >= 240:
                seen.append("")
                continue
            names = [n for n, known in self.row_looks.items() if all(abs(a - b) <= 24 for a, b in zip(look, known))]
            seen.append(names[0] if names else "?")
        return seen

    def wait_list(self, what, expected):
        last = {}

        def shows():
            last["seen"] = self.list_shows(self.x.screenshot())
            return last["seen"] == expected
        try:
            wait_for(what, shows, timeout=5)
        except Failure:
            raise Failure("%s: the file list shows %s, expected %s" % (what, last.get("seen"), expected))


# ---- steps --------------------------------------------------------------------

def starts_centred(r):
    r.proc = r.start()
    x, y, w, h = r.wait_main_at(MAIN_HOME, "the main window at its start-up place")
    image = r.shot("start")
    # The client area begins at the rule drawn along its top, below the menu bar.
    rule = [row for row in range(y, y + 80) if image.pixel(x + w // 2, row) == LINE1_GREY]
    if not rule:
        raise Failure("the rule along the top of the main window's client area is not on screen")
    r.client = (0, rule[0] - y)
    background = image.pixel(*r.on_client((5, 100)))
    seen = [image.pixel(*p) for p in r.preview_points()]
    if any(s != background for s in seen):
        raise Failure("the preview box is not empty at start: %s" % seen)
    r.learn_list_rows()


def a_pick_paints_the_preview(r):
    r.click_main(LIST1_FIRST_ROW)
    r.wait_pixels("the preview of a640.bmp", r.preview_points(), PICTURES["a640.bmp"][1])
    r.shot("pick")


def actual_size_shows_the_viewer_and_parks_the_main_window(r):
    r.click_main(COMMAND1)
    vx, vy, vw, vh = r.wait_window("a640.bmp")
    r.wait_main_at(PARKED, "the main window parked")
    expected = ((SCREEN[0] - 640) // 2, (SCREEN[1] - 480) // 2, 640, 480)
    if (vx, vy, vw, vh) != expected:
        raise Failure("the viewer of a 640 x 480 picture is %s, expected %s" % ((vx, vy, vw, vh), expected))
    points = [(vx + px_, vy + py_) for px_, py_ in quadrant_points(0, 0, 640, 480)] + [(vx + 639, vy + 479)]
    colours = PICTURES["a640.bmp"][1] + [PICTURES["a640.bmp"][1][3]]   # the corner too: no scroll bars
    r.wait_pixels("the picture at actual size", points, colours)
    r.shot("actual-size-640")


def copy_puts_the_picture_on_the_clipboard(r):
    # The viewer covers the main window's buttons. A window manager would raise the
    # main window at the user's click; this server has none, so raise it as one would.
    r.x.run("xdotool", "windowraise", r.main_window_id())
    r.click_main(COMMAND2, at=PARKED)
    r.wait_window("pelorinax")
    r.shot("copy-message")
    r.dismiss_box("pelorinax")
    targets = r.x.clipboard("TARGETS").decode(errors="replace").split()
    if "image/png" not in targets:
        raise Failure("the clipboard offers no image/png, only %s" % targets)
    data = r.x.clipboard("image/png")
    with open(os.path.join(r.out, "%02d-clipboard.png" % r.shots), "wb") as f:
        f.write(data)
    image = read_png(data)
    if (image.width, image.height) != (640, 480):
        raise Failure("the clipboard holds %d x %d, expected the natural 640 x 480" % (image.width, image.height))
    seen = [image.pixel(*p) for p in quadrant_points(0, 0, 640, 480)]
    if not all(near(s, c) for s, c in zip(seen, PICTURES["a640.bmp"][1])):
        raise Failure("the clipboard's picture is not a640.bmp: %s" % seen)


def erase_brings_the_main_window_back(r):
    r.click_main(COMMAND3, at=PARKED)
    r.wait_gone("a640.bmp")
    r.wait_main_at(MAIN_HOME, "the main window back after 実寸表示消去")
    r.shot("erase")


def a_large_picture_gets_seventy_percent_and_both_bars(r):
    # 実寸表示消去 left the focus in the list: ↓ picks the next file, as a click would.
    r.x.point_at(*r.on_client(LIST1_FIRST_ROW))
    r.x.key("Down")
    r.wait_pixels("the preview of b1200.bmp", r.preview_points(), PICTURES["b1200.bmp"][1])
    r.click_main(COMMAND1)
    vx, vy, vw, vh = r.wait_window("b1200.bmp")
    r.wait_main_at(PARKED, "the main window parked")
    # 70 % of 1024 x 768 is 716.8 x 537.6 pixels, centred on the screen.
    if (vw, vh) != (717, 538) or abs(vx - (SCREEN[0] - 716.8) / 2) > 1 or abs(vy - (SCREEN[1] - 537.6) / 2) > 1:
        raise Failure("the viewer of a 1200 x 900 picture is %s, expected 717 x 538 centred" % ((vx, vy, vw, vh),))
    colours = PICTURES["b1200.bmp"][1]
    r.wait_pixels("the top-left of the picture", [(vx + 100, vy + 100)], [colours[0]])
    image = r.shot("actual-size-1200")
    # The bars lie over the right and bottom strips of the picture.
    for where, point in (("right", (vx + vw - 8, vy + vh // 3)), ("bottom", (vx + vw // 3, vy + vh - 8))):
        seen = image.pixel(*point)
        if any(near(seen, c, 30) for c in colours):
            raise Failure("no scroll bar along the %s edge of the viewer: the picture shows there (%s)" % (where, seen))
    # Esc closes the viewer (the pointer holds the keyboard there).
    r.x.point_at(vx + vw // 2, vy + vh // 2)
    r.x.key("Escape")
    r.wait_gone("b1200.bmp")
    r.wait_main_at(MAIN_HOME, "the main window back after Esc")


def a_slideshow_runs_through_the_list_and_ends_at_home(r):
    r.click_main(COMMAND4)
    r.wait_main_at(PARKED, "the main window parked for the slideshow")
    expected = ["%d/%d   %s" % (i + 1, len(PICTURES), n) for i, n in enumerate(PICTURES)]
    seen = []

    def ended():
        names = [n for n in r.windows() if n != CAPTION]
        for n in names:
            if not seen or seen[-1] != n:
                seen.append(n)
                if n == expected[1]:
                    r.shot("slideshow")
        main = r.main_window()
        return seen and not names and main and main[:2] == MAIN_HOME
    wait_for("the slideshow to end with the main window at home", ended, timeout=15)
    if seen != expected:
        raise Failure("the slideshow showed %s, expected %s" % (seen, expected))
    r.shot("slideshow-ended")


def a_second_start_is_refused_and_leaves_the_first_alone(r):
    before_main = r.main_window()
    x, y, w, h = before_main
    client = (x, y + r.client[1], w, h - r.client[1])
    # A window draws its focus cues only while it holds the keyboard focus, which the
    # second start's message takes. Give it back as a window manager would, and
    # compare the window in the same state.
    main_id = r.main_window_id()
    r.x.run("xdotool", "windowfocus", "--sync", main_id)
    before = r.settled(client)
    second = r.start(os.path.join(r.folder, "b1200.bmp"))
    try:
        r.wait_window(ALREADY_RUNNING_TITLE, second)
        r.shot("second-instance")
        r.dismiss_box(ALREADY_RUNNING_TITLE, second)
        status = second.wait(timeout=10)
    finally:
        if second.poll() is None:
            second.kill()
            second.wait()
    if status != 0:
        raise Failure("the refused second start ended with status %s" % status)
    if r.proc.poll() is not None:
        raise Failure("the first instance ended (status %s)" % r.proc.returncode)
    if r.windows() != {CAPTION: before_main}:
        raise Failure("the first instance's windows changed: %s, were %s" % (r.windows(), {CAPTION: before_main}))
    r.x.run("xdotool", "windowfocus", "--sync", main_id)
    try:
        wait_for("the first instance's main window as it was", lambda: r.x.screenshot().crop(*client).rgb == before.rgb,
                 timeout=5)
    except Failure:
        before.save_png(os.path.join(r.out, "first-instance-before.png"))
        r.x.screenshot().crop(*client).save_png(os.path.join(r.out, "first-instance-after.png"))
        raise Failure("the first instance's main window looks different after the refused second start")


def delete_moves_the_picked_file_to_the_trash(r):
    name = "a640.bmp"
    path = os.path.join(r.folder, name)
    kept = {n: read_bytes(os.path.join(r.folder, n)) for n in os.listdir(r.folder)}
    data = kept.pop(name)
    r.click_main(LIST1_FIRST_ROW)
    r.wait_pixels("the preview of a640.bmp", r.preview_points(), PICTURES[name][1])
    r.x.key("shift+d")   # the pointer is over the list, which holds the focus
    r.wait_window(DELETE_TITLE)
    r.shot("delete-question")
    r.dismiss_box(DELETE_TITLE)   # Enter: Yes, the default

    trashed = os.path.join(r.trash, "files", name)
    try:
        wait_for("a640.bmp to go to the trash", lambda: os.path.exists(trashed) and not os.path.exists(path), timeout=5)
    except Failure:
        raise Failure("after Yes to the delete the folder holds %s and the trash %s"
                      % (sorted(os.listdir(r.folder)), sorted(os.listdir(os.path.join(r.trash, "files")))
                         if os.path.isdir(os.path.join(r.trash, "files")) else "nothing"))
    if read_bytes(trashed) != data:
        raise Failure("the file in the trash is not a640.bmp as it was")
    with open(os.path.join(r.trash, "info", name + ".trashinfo"), encoding="utf-8") as f:
        lines = f.read().splitlines()
    fields = dict(line.split("=", 1) for line in lines[1:] if "=" in line)
    if (lines[:1] != ["[Trash Info]"]
            or os.path.realpath(urllib.parse.unquote(fields.get("Path", ""))) != os.path.realpath(path)
            or not re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d", fields.get("DeletionDate", ""))):
        raise Failure("the trash's information on a640.bmp does not say where it was and when: %s" % lines)
    r.folder_holds(kept, "after the delete")
    r.wait_list("the list after the delete", ["b1200.bmp", "c64.bmp", ""])
    r.main_window_alone_at_home("the main window after the delete")
    r.wait_pixels("the preview kept after the delete", r.preview_points(), PICTURES[name][1])
    r.shot("deleted")


def rename_refuses_a_hidden_files_name_and_renames_in_place(r):
    # The new name is the one the delete freed, whose look in the list the test knows.
    old, new = "c64.bmp", "a640.bmp"
    files = {n: read_bytes(os.path.join(r.folder, n)) for n in os.listdir(r.folder)}
    r.click_main((LIST1_FIRST_ROW[0], LIST1_FIRST_ROW[1] + r.rows[1]))
    x, y, w, h = PREVIEW_BOX
    middle = quadrant_points(x + w / 2 - 32, y + h / 2 - 24, 64, 48)   # a small picture at its own size
    r.wait_pixels("the preview of c64.bmp", [r.on_client(p) for p in middle], PICTURES[old][1])
    r.x.key("r")
    question = wait_for("the rename question", lambda: r.titled(RENAME_TITLE))
    r.shot("rename-question")
    (qid, (qx, qy, qw, qh)), = question.items()
    r.x.point_at(qx + qw // 2, qy + qh // 4)
    r.x.key("Return")   # Yes, the default

    def the_dialog():
        now = r.titled(RENAME_TITLE)
        return now if len(now) == 1 and qid not in now else None
    (dialog, place), = wait_for("the rename dialog", the_dialog).items()
    expected = rename_dialog_geometry()
    if place[2:] != expected[2:] or not near(place[:2], expected[:2], 1):
        raise Failure("the rename dialog is %s, expected %s" % (place, expected))
    r.shot("rename-dialog")

    def enter_name(text):
        r.x.point_at(place[0] + place[2] // 2, place[1] + place[3] // 2)
        r.x.key("ctrl+a")
        r.x.type(text)
        r.x.key("Return", "Return")   # Enter in the box moves to 変更; Enter there presses it

    enter_name(HIDDEN[0])

    def the_refusal():
        now = r.titled(RENAME_TITLE)
        if dialog not in now:
            raise Failure("the rename dialog closed on a name a hidden file holds")
        boxes = [(k, g) for k, g in now.items() if k != dialog]
        return (now[dialog], boxes[0]) if boxes else None
    still, (box, (bx, by, bw, bh)) = wait_for("the refusal of a hidden file's name", the_refusal)
    r.shot("rename-refused")
    if still != place:
        raise Failure("the rename dialog moved to %s on the refusal" % (still,))
    r.folder_holds(files, "after the refused rename")
    r.x.point_at(bx + bw // 2, by + bh // 4)
    r.x.key("Return")
    wait_for("the refusal to go, the dialog staying",
             lambda: r.titled(RENAME_TITLE) == {dialog: place})

    enter_name(new)
    try:
        wait_for("the rename dialog to close", lambda: not r.titled(RENAME_TITLE), timeout=5)
    except Failure:
        raise Failure("the rename dialog stays after a free name and Enter, Enter: the program shows %s, "
                      "the folder holds %s" % (r.windows(), sorted(os.listdir(r.folder))))
    files[new] = files.pop(old)
    r.folder_holds(files, "after the rename")
    r.wait_list("the list after the rename", ["b1200.bmp", new, ""])
    r.main_window_alone_at_home("the main window after the rename")
    r.shot("renamed")


def a_file_on_the_command_line_is_picked_and_previewed(r):
    r.stop()
    r.proc = r.start(os.path.join(r.folder, "b1200.bmp"), cwd=r.home)
    r.wait_main_at(MAIN_HOME, "the main window started with a file")
    r.wait_pixels("the preview of the file named on the command line", r.preview_points(), PICTURES["b1200.bmp"][1])
    r.shot("started-with-a-file")


def a_display_profile_recolours_the_preview(r):
    """A colour daemon publishes the display's profile on the root window: the preview
    of a picture without a profile (sRGB) turns to the colours that display needs, and
    back when the profile is deleted."""
    profile = "/usr/share/color/icc/colord/AdobeRGB1998.icc"
    if not os.path.exists(profile):
        raise Skip("%s is not installed (scripts/setup.sh installs colord-data)" % profile)
    colours = PICTURES["b1200.bmp"][1]   # the preview the last step left
    r.wait_pixels("the preview of b1200.bmp before any profile", r.preview_points(), colours, tolerance=2)
    converted = srgb_for_display(colours, profile)
    if not any(not near(a, b, 8) for a, b in zip(colours, converted)):
        raise Failure("the profile hardly changes the colours %s -> %s: no test of them" % (colours, converted))
    r.x.set_root_property("_ICC_PROFILE", read_bytes(profile))
    try:
        r.wait_pixels("the preview converted for the Adobe RGB display", r.preview_points(), converted, tolerance=2)
        r.shot("display-profile-adobe-rgb")
    finally:
        r.x.delete_root_property("_ICC_PROFILE")
    r.wait_pixels("the preview back in sRGB once the profile is deleted", r.preview_points(), colours, tolerance=2)
    r.shot("display-profile-deleted")


STEPS = [
    starts_centred,
    a_pick_paints_the_preview,
    actual_size_shows_the_viewer_and_parks_the_main_window,
    copy_puts_the_picture_on_the_clipboard,
    erase_brings_the_main_window_back,
    a_large_picture_gets_seventy_percent_and_both_bars,
    a_slideshow_runs_through_the_list_and_ends_at_home,
    delete_moves_the_picked_file_to_the_trash,
    rename_refuses_a_hidden_files_name_and_renames_in_place,
    a_second_start_is_refused_and_leaves_the_first_alone,
    a_file_on_the_command_line_is_picked_and_previewed,
    # Last: the other steps do not depend on the loader's colour conversion.
    a_display_profile_recolours_the_preview,
]


def main():
    program, out = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    os.makedirs(out, exist_ok=True)
    for old in os.listdir(out):
        if old.endswith((".png", ".log")):
            os.remove(os.path.join(out, old))
    try:
        x = XSession(*SCREEN)
    except Skip as e:
        print("SKIPPED: %s" % e)
        return SKIP
    r = Run(x, program, out)
    started = time.monotonic()
    skipped = []
    try:
        for step in STEPS:
            t = time.monotonic()
            try:
                step(r)
            except Skip as e:
                skipped.append(step.__name__)
                print("SKIP %s: %s" % (step.__name__, e))
                continue
            print("ok   %-60s %5.2f s" % (step.__name__, time.monotonic() - t))
    except Failure as e:
        print("FAIL %s: %s" % (step.__name__, e))
        r.shot("failed-" + step.__name__)
        return 1
    finally:
        r.stop()
        x.close()
        print("screenshots in %s" % out)
    if skipped:
        print("SKIPPED: the other steps passed; not run: %s" % ", ".join(skipped))
        return SKIP
    print("all steps passed in %.1f s" % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
