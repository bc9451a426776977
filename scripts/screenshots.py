#!/usr/bin/env python3
"""Draws the README's pictures: the window with its menu and status bars over a
listed library and an opened set list (at normal and at twice the size), the
export's options open in the file menu, the stage sheet the program writes
as a PDF, rendered with pdftoppm, the show window while a song plays, the
edit panel of the set list's last song, and the preview bar drawing the song it plays.

usage: scripts/session.sh scripts/screenshots.py <path to korvanda> <output folder> [window|show|edits|preview]
(session.sh gives a private X display.) The program runs from a copy in a
temporary folder, so its settings files never touch the build folder.
"""
import ctypes
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

# Title, length in seconds, and level in dB: songs from everywhere play at different levels,
# so the set list shows its loudness column with a jump or two marked.
SONGS = [("さくら", 252, 0), ("夜明けのうた", 228, -1), ("Blue Moon", 215, -6), ("Opening", 170, -1.5),
         ("ひまわり", 245, -2), ("風の街", 200, 3), ("Last Song", 302, 1), ("アンコール", 190, 0)]
CLIENT_HEIGHT = 606  # 9090 twips; the window is taller by its menu and status bars


class X:
    """Mouse and keys through the XTEST extension, as a user would press them."""

    def __init__(self):
        self.x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
        self.tst = ctypes.cdll.LoadLibrary("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        for name in ("XTestFakeMotionEvent", "XTestFakeButtonEvent", "XTestFakeKeyEvent"):
            getattr(self.tst, name).argtypes = [ctypes.c_void_p] + [ctypes.c_int] * (4 if "Motion" in name else 3)
        self.d = self.x11.XOpenDisplay(None)

    def click(self, x, y):
        self.tst.XTestFakeMotionEvent(self.d, -1, x, y, 0)
        self.tst.XTestFakeButtonEvent(self.d, 1, 1, 0)
        self.tst.XTestFakeButtonEvent(self.d, 1, 0, 0)
        self.x11.XFlush(self.d)
        time.sleep(0.3)

    def keys(self, *names):
        codes = [self.x11.XKeysymToKeycode(self.d, self.x11.XStringToKeysym(n.encode())) for n in names]
        for c in codes:
            self.tst.XTestFakeKeyEvent(self.d, c, 1, 0)
        for c in reversed(codes):
            self.tst.XTestFakeKeyEvent(self.d, c, 0, 0)
        self.x11.XFlush(self.d)
        time.sleep(0.5)


def window():
    tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True).stdout
    for line in tree.splitlines():
        m = re.match(r'\s*(0x[0-9a-f]+) "(?:[^"]*- )?Korvanda": .* (\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)', line)
        if m and int(m.group(3)) > CLIENT_HEIGHT:
            return m.group(1), int(m.group(4)), int(m.group(5)), int(m.group(2)), int(m.group(3))
    return None


def shoot(program, playlist, work, out, scale):
    """One picture of the window at this scale; at normal size, the PDF too."""
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", ASAN_OPTIONS="detect_leaks=0", QT_SCALE_FACTOR=str(scale))
    proc = subprocess.Popen([program, playlist], env=env, cwd=work)
    try:
        for _ in range(100):
            found = window()
            if found:
                break
            time.sleep(0.2)
        else:
            sys.exit("the window did not show")
        wid, left, top = found[:3]
        time.sleep(2)
        x = X()
        # "フォルダから楽曲取得" (5760, 1680 twips) below the menu bar.
        menu = 24 * scale
        x.click(left + (384 + 60) * scale, top + menu + (112 + 16) * scale)
        time.sleep(3)
        # The cursor onto the set list, so the picture shows its chosen row.
        x.click(left + 700 * scale, top + menu + 150 * scale)
        name = "main-window.png" if scale == 1 else f"main-window-{scale}x.png"
        subprocess.run(["import", "-window", wid, os.path.join(out, name)], check=True)
        if scale != 1:
            return

        # ファイル → 出力の設定 (second from the bottom) opened beside its menu.
        x.keys("Alt_L", "f")
        for _ in range(2):
            x.keys("Up")
        x.keys("Right")
        time.sleep(1)
        # The window has grown with its status bar since it first showed.
        _, left, top, width, height = window()
        subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{left}+{top}", "+repage",
                        os.path.join(out, "export-options.png")], check=True)
        x.keys("Escape")
        x.keys("Escape")
        time.sleep(0.5)

        # ファイル → PDF に書き出す… (fifth from the bottom, above the audio CD's two
        # entries, the export's options and 終了), then the dialog's suggestion.
        x.keys("Alt_L", "f")
        for _ in range(5):
            x.keys("Up")
        x.keys("Return")
        time.sleep(2)
        x.keys("Return")
        pdf = os.path.join(work, "金曜ライブ.pdf")
        for _ in range(50):
            if os.path.exists(pdf):
                break
            time.sleep(0.2)
        else:
            sys.exit("no PDF was written")
    finally:
        proc.kill()
        proc.wait()
    subprocess.run(["pdftoppm", "-png", "-r", "60", "-singlefile", pdf, os.path.join(out, "stage-sheet")],
                   check=True)


def start_with_set_list_focused(program, playlist, work):
    """The program at normal size with the set list open, its second row clicked: no window
    manager gives the focus, so the click takes it."""
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", ASAN_OPTIONS="detect_leaks=0")
    proc = subprocess.Popen([program, playlist], env=env, cwd=work)
    for _ in range(100):
        if window():
            break
        time.sleep(0.2)
    else:
        proc.kill()
        sys.exit("the window did not show")
    _, left, top = window()[:3]
    time.sleep(2)
    x = X()
    x.click(left + 700, top + 24 + 150)
    return proc, x


def shoot_show(program, playlist, work, out):
    """The show window as the performer sees it, a few seconds into the first song."""
    proc, x = start_with_set_list_focused(program, playlist, work)
    try:
        x.keys("F7")
        # The show opens once the songs' levels are measured; then every song is checked
        # before the first GO.
        for _ in range(150):
            tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True).stdout
            if '"本番モード - ' in tree:
                break
            time.sleep(0.2)
        else:
            sys.exit("the show did not open")
        time.sleep(8)
        x.keys("space")
        time.sleep(6)
        subprocess.run(["import", "-window", "root", "-resize", "50%", os.path.join(out, "show-window.png")], check=True)
    finally:
        proc.kill()
        proc.wait()


def shoot_edits(program, playlist, work, out):
    """The edit panel of the set list's last song, shortened and faded for the slot."""
    proc, x = start_with_set_list_focused(program, playlist, work)
    try:
        # The set list's last row (the click landed on the second), then Ctrl+E.
        for _ in range(5):
            x.keys("Down")
        x.keys("Control_L", "e")
        for _ in range(50):
            tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True).stdout
            m = re.search(r'(0x[0-9a-f]+) "曲の編集 - ', tree)
            if m:
                break
            time.sleep(0.2)
        else:
            sys.exit("the edit panel did not open")
        time.sleep(1)
        subprocess.run(["import", "-window", m.group(1), os.path.join(out, "edit-panel.png")], check=True)
    finally:
        proc.kill()
        proc.wait()


def shoot_preview(program, playlist, work, out):
    """The preview bar a few seconds into the set list's second song, its outline drawn."""
    proc, x = start_with_set_list_focused(program, playlist, work)
    try:
        x.keys("F5")
        time.sleep(4)
        wid, left, top, width, height = window()[:5]
        whole = os.path.join(work, "whole.png")
        subprocess.run(["import", "-window", wid, whole], check=True)
        # The bar sits over the status bar at the window's foot.
        subprocess.run(["convert", whole, "-gravity", "South", "-crop", f"{width}x38+0+26", "+repage",
                        os.path.join(out, "preview-bar.png")], check=True)
    finally:
        proc.kill()
        proc.wait()


def main(binary, out, only=None):
    work = tempfile.mkdtemp(prefix="korvanda-shots.")
    try:
        songs = os.path.join(work, "曲")
        os.makedirs(songs)
        for title, seconds, level in SONGS:
            # The song the preview bar shows rises and falls, as music does.
            source = (f"aevalsrc=0.5*sin(2*PI*440*t)*(0.3+0.7*abs(sin(PI*t/41))):s=44100:d={seconds}"
                      if title == SONGS[1][0] else f"sine=f=440:d={seconds}")
            subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", source,
                            "-af", f"volume={level}dB", "-ac", "1", "-b:a", "32k", os.path.join(songs, title + ".mp3")],
                           check=True)
        program = os.path.join(work, "bin", "korvanda")
        os.makedirs(os.path.dirname(program))
        shutil.copy(binary, program)
        with open(os.path.join(work, "bin", "motodata.dat"), "wb") as f:
            f.write(f'"{songs}"\r\n'.encode())
        # The export's options as a band playing a USB player would set them.
        for name, value in (("formatdata.dat", "mp3"), ("leveldata.dat", "1")):
            with open(os.path.join(work, "bin", name), "wb") as f:
                f.write(f'"{value}"\r\n'.encode())
        playlist = os.path.join(work, "金曜ライブ.m3u8")
        with open(playlist, "w", encoding="utf-8") as f:
            f.write("#EXTM3U\n#PLAYLIST:金曜ライブ\n#KORVANDA-SLOT:00:25:00\n#KORVANDA-PAUSE:30\n")
            for title, seconds, _ in SONGS[:7]:
                f.write(f"#EXTINF:{seconds},{title}\n")
                if title == "Last Song":
                    # Over the slot: the last song ends early with a fade.
                    f.write("#KORVANDA-EDIT:end=240.000;fadeout=8.000\n")
                f.write(f"曲/{title}.mp3\n")

        if only in (None, "window"):
            for scale in (1, 2):
                shoot(program, playlist, work, out, scale)
        if only in (None, "show"):
            shoot_show(program, playlist, work, out)
        if only in (None, "edits"):
            shoot_edits(program, playlist, work, out)
        if only in (None, "preview"):
            shoot_preview(program, playlist, work, out)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)
