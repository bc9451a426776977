#!/usr/bin/python3
# A session with the real program, driven through the accessibility bus as a user
# would: remember the folders, scan, hear a preview, build a set list, export it,
# save it as a playlist and start again with the playlist and the folders. usage: walkthrough.py <korvanda binary> <artifact folder>
#
# Runs inside scripts/session.sh: on its X display, its D-Bus session bus (which starts
# the accessibility bus) and its PulseAudio null sink. The program runs from a copy in a temporary folder, as it
# keeps its settings files beside its executable. Each step is a function of
# STEPS; a failing step names itself and leaves a screenshot in the artifacts.

import math, os, shutil, signal, struct, subprocess, sys, tempfile, time

MARKER = "これはフォルダです"
# (name, tone in Hz, seconds): tones far apart so a recording tells them apart.
SONGS = [("Bright.mp3", 440, 3), ("あおぞら.mp3", 660, 2), ("かぜのうた.mp3", 880, 4), ("さくら.mp3", 1320, 3)]
LIBRARY = "収納楽曲一覧 簡易50音順　アルファベット上位表示"
SETLIST = "セットリスト 出力中は処理している曲の番号の色が変わります"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Session:
    def __init__(self, binary, artifacts):
        self.artifacts, self.work = artifacts, tempfile.mkdtemp(prefix="korvanda-walk-")
        self.exe = os.path.join(self.work, "bin", "korvanda")
        self.media, self.out = os.path.join(self.work, "曲フォルダ"), os.path.join(self.work, "出力先")
        os.makedirs(os.path.dirname(self.exe)), os.makedirs(self.out)
        shutil.copy2(binary, self.exe)
        self.proc = None
        # Asking the session bus for the accessibility bus starts it; it belongs to the
        # session, which stops it at its end.
        subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                        "org.a11y.Bus.GetAddress"], capture_output=True)
        self.wait(lambda: b"true" in subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
             "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"], capture_output=True).stdout,
            "the accessibility bus")
        import pyatspi  # loaded once the accessibility bus is up, so that it finds ours
        self.at = pyatspi

    def close(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill(), self.proc.wait()
        shutil.rmtree(self.work, ignore_errors=True)

    def wait(self, probe, what, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                value = probe()
                if value:
                    return value
            except Exception:  # a node that went away while we looked at it
                pass
            check(self.proc is None or self.proc.poll() is None, f"the program exited while waiting for {what}")
            time.sleep(0.05)
        raise Failure(f"timed out waiting for {what}")

    def start(self, *args, title="Korvanda"):
        env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        log = open(os.path.join(self.artifacts, "korvanda.log"), "a")
        self.proc = subprocess.Popen([self.exe, *args], cwd=self.work, env=env, stdout=log, stderr=subprocess.STDOUT)
        desktop = self.at.Registry.getDesktop(0)
        self.app = self.wait(lambda: next((a for a in desktop if a and a.get_process_id() == self.proc.pid), None),
                             "the program on the accessibility bus", 20)
        self.main = self.wait(lambda: self.window(title), f'the main window "{title}"')
        self.wait(lambda: self.find(self.main, "使い方"), "the last control")

    def quit(self):
        self.press("終了")
        self.answer("確認", "終了してもよろしいですか？", "はい", ends_program=True)
        check(self.proc.wait(timeout=15) == 0, "the program did not end cleanly after 終了 -> はい")

    def window(self, title):
        return next((w for w in self.app if w and w.name == title), None)

    def find(self, root, name, role=None, index=0):
        found, queue = [], [root]
        while queue:
            node = queue.pop(0)
            if node is None:
                continue
            if (name is None or node.name == name) and (role is None or node.getRole() == role):
                found.append(node)
            if node.getRole() != self.at.ROLE_TABLE_CELL:
                queue.extend(node)
        return found if index is None else found[index] if len(found) > index else None

    def showing(self, node):
        return node.getState().contains(self.at.STATE_SHOWING)

    def click(self, node):
        e = node.queryComponent().getExtents(self.at.DESKTOP_COORDS)
        self.at.Registry.generateMouseEvent(e.x + e.width // 2, e.y + e.height // 2, "b1c")

    def press(self, caption, index=0, root=None):
        # Nodes come and go while the program works, so every look is retried.
        def act():
            button = self.find(root or self.main, caption, self.at.ROLE_PUSH_BUTTON, index)
            if button.getState().contains(self.at.STATE_ENABLED):
                return button.queryAction().doAction(0) or True
        self.wait(act, f'"{caption}" to be pressed')

    def field(self, caption):
        return self.find(self.main, caption, self.at.ROLE_TEXT)

    def text(self, caption):
        return self.field(caption).queryText().getText(0, -1)

    def type(self, caption, text):
        self.field(caption).queryEditableText().setTextContents(text)
        self.wait(lambda: self.text(caption) == text, f'"{caption}" to read {text}')

    def rows(self, caption):
        t = self.find(self.main, caption, self.at.ROLE_TABLE).queryTable()
        return [[getattr(t.getAccessibleAt(r, c), "name", "") for c in range(t.nColumns)] for r in range(t.nRows)]

    def click_row(self, caption, name):
        def act():
            t = self.find(self.main, caption, self.at.ROLE_TABLE).queryTable()
            row = [r[1] for r in self.rows(caption)].index(name)
            if not t.isRowSelected(row):
                e = t.getAccessibleAt(row, 1).queryComponent().getExtents(self.at.DESKTOP_COORDS)
                self.at.Registry.generateMouseEvent(e.x + e.width // 2, e.y + e.height // 2, "b1c")
                time.sleep(0.2)
            return t.isRowSelected(row)
        self.wait(act, f"{name} to be selected")

    def answer(self, caption, text, button, ends_program=False):
        # Waits for the message box, checks its caption and text, and presses its button.
        def box():
            return next((w for w in self.app if w and not w.name.endswith("Korvanda") and self.find(w, button)
                         and self.find(w, text, self.at.ROLE_LABEL)), None)
        found = self.wait(box, f'the box "{caption}": {text}', 30)
        check(found.name in (caption, text), f'the box "{text}" is captioned "{found.name}", not "{caption}"')
        self.press(button, root=found)
        if not ends_program:
            self.wait(lambda: box() is None, f'the box "{text}" to close')

    def record(self, seconds, rate=48000):
        rec = subprocess.Popen(["parec", "-d", os.environ["KORVANDA_TEST_SINK"] + ".monitor", "--raw",
                                "--format=s16le", f"--rate={rate}", "--channels=1"], stdout=subprocess.PIPE)
        data = rec.stdout.read(int(seconds * rate) * 2)
        rec.kill(), rec.wait()
        return struct.unpack(f"<{len(data) // 2}h", data[:len(data) // 2 * 2])


def power(samples, hz, rate=48000):
    k, s1, s2 = 2 * math.cos(2 * math.pi * hz / rate), 0.0, 0.0
    for x in samples:
        s1, s2 = x + k * s1 - s2, s1
    return (s1 * s1 + s2 * s2 - k * s1 * s2) / max(1, len(samples))


def remember_folders(s):
    os.makedirs(os.path.join(s.media, "楽譜集"))
    os.makedirs(os.path.join(s.media, "譜面"))  # two characters: never listed
    for name, hz, seconds in SONGS:
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", f"sine=frequency={hz}:duration={seconds}",
                        "-ac", "2", "-b:a", "128k", os.path.join(s.media, name)], check=True)
    s.start()
    s.type("楽曲収納フォルダ", s.media)
    s.type("出力先フォルダ", s.out)
    for index in (0, 1):  # checked when the program starts again with the saved playlist
        s.press("フォルダを記憶", index)
        s.answer("お知らせ", "保存しました", "OK")


def scan(s):
    s.press("フォルダから楽曲取得")
    names = ["Bright.mp3", "あおぞら.mp3", "かぜのうた.mp3", MARKER + "楽譜集", "さくら.mp3"]
    s.wait(lambda: [r[1] for r in s.rows(LIBRARY)] == names, f"the library to list {names}", 20)
    lengths = dict((n, f"00:00:{sec:02d}") for n, _, sec in SONGS)
    s.wait(lambda: [r[-1] for r in s.rows(LIBRARY)] == [lengths.get(n, "00:00:00") for n in names],
           f"the library lengths {lengths}")


def preview(s):
    s.click_row(LIBRARY, "かぜのうた.mp3")
    s.press("＞選択曲再生")
    label = s.find(s.main, "再生中一部操作不可", s.at.ROLE_LABEL)
    s.wait(lambda: label.getState().contains(s.at.STATE_SHOWING), "the red playing label")
    time.sleep(0.3)
    samples = s.record(1.5)
    powers = {hz: power(samples, hz) for _, hz, _ in SONGS}
    rms = math.sqrt(sum(x * x for x in samples) / max(1, len(samples)))
    check(rms > 300 and powers[880] > 20 * max(p for hz, p in powers.items() if hz != 880),
          f"the preview is not heard: rms {rms:.0f}, powers {powers}")
    s.press("■ 再生終了")
    s.wait(lambda: not label.getState().contains(s.at.STATE_SHOWING), "the label to hide after the stop")


def build_set_list(s):
    for name in ["Bright.mp3", "かぜのうた.mp3", "さくら.mp3", "あおぞら.mp3"]:
        s.click_row(LIBRARY, name)
        s.press("選択曲をリストへ追加")
    s.click_row(SETLIST, "さくら.mp3")
    s.press("選択行上に")
    s.click_row(SETLIST, "Bright.mp3")
    s.press("選択行リストから削除")
    s.answer("確認", "選択行を本当に削除してもよろしいですか？", "はい")
    order = [("01", "さくら.mp3"), ("02", "かぜのうた.mp3"), ("03", "あおぞら.mp3")]
    s.wait(lambda: [tuple(r[:2]) for r in s.rows(SETLIST)] == order, f"the set list to read {order}")
    check(s.text("セットリスト合計時間") == "00:00:09", f'total {s.text("セットリスト合計時間")}')


def export(s):
    s.type("新しく出力するフォルダにつける名前", "ライブ 夏")
    s.press("リスト曲をフォルダに出力する")
    s.answer("確認", "ライブ 夏 の名前で指定場所にフォルダを作り楽曲保存します　よろしいですか？", "はい")
    s.answer("完了", "出力完了、テキストボックスにセトリ書き出し完了", "OK")
    folder, names = os.path.join(s.out, "ライブ 夏"), ["さくら.mp3", "かぜのうた.mp3", "あおぞら.mp3"]
    check(sorted(os.listdir(folder)) == [f"{i + 1:02d} {n}" for i, n in enumerate(names)], f"exported {os.listdir(folder)}")
    check(s.text("セトリテキストコピペ可能").splitlines() == ["01 さくら", "02 かぜのうた", "03 あおぞら"],
          f'set list text {s.text("セトリテキストコピペ可能")!r}')


def save_restart_open(s):
    # Saved through the menu and the file dialog with the mouse, read back as another player
    # reads it, and opened by a restart with the playlist on the command line, as a file
    # manager does: the same rows, total and set name come back.
    before, playlist = (s.rows(SETLIST), s.text("セットリスト合計時間")), os.path.join(s.media, "ライブ 夏.m3u8")
    for entry in ("ファイル(F)", "名前を付けて保存…"):
        s.click(s.wait(lambda: next(n for n in s.find(s.app, entry, index=None) if s.showing(n)), f'the menu "{entry}"'))
    dialog = s.wait(lambda: s.window("名前を付けて保存"), "the save dialog")
    s.wait(lambda: [n for n in s.find(dialog, None, s.at.ROLE_TEXT, None) if s.showing(n)][-1]
           .queryEditableText().setTextContents(playlist), "the file name box")
    s.wait(lambda: next(b for b in s.find(dialog, None, s.at.ROLE_PUSH_BUTTON, None) if b.name.startswith("保存"))
           .queryAction().doAction(0) or True, "the save button")
    s.wait(lambda: s.main.name == "ライブ 夏.m3u8 - Korvanda", "the playlist's name in the title")
    lines = open(playlist, encoding="utf-8").read().split("\n")
    songs = ["さくら.mp3", "かぜのうた.mp3", "あおぞら.mp3"]
    check(lines[:2] == ["#EXTM3U", "#PLAYLIST:ライブ 夏"] and lines[3::2][:3] == songs, f"playlist {lines}")
    for entry in songs:  # another player's parser opens each entry as written
        check(subprocess.run(["ffprobe", "-v", "error", os.path.join(s.media, entry)]).returncode == 0,
              f"ffprobe cannot read {entry}")
    s.quit()
    s.start(playlist, title="ライブ 夏.m3u8 - Korvanda")
    s.wait(lambda: (s.rows(SETLIST), s.text("セットリスト合計時間")) == before, f"the set list {before} after the restart")
    check(s.text("新しく出力するフォルダにつける名前") == "ライブ 夏", "the set name did not come back")
    # the settings files beside the program bring both folders back
    check((s.text("楽曲収納フォルダ"), s.text("出力先フォルダ")) == (s.media, s.out), "the folders were not remembered")
    s.quit()


STEPS = [remember_folders, scan, preview, build_set_list, export, save_restart_open]


def main(binary, artifacts):
    if not os.environ.get("DISPLAY") or not os.environ.get("KORVANDA_TEST_SINK"):
        print("SKIP: needs the X display and null sink of scripts/session.sh")
        return 0
    os.makedirs(artifacts, exist_ok=True)
    signal.signal(signal.SIGALRM, lambda *_: (_ for _ in ()).throw(Failure("the walk-through hung")))
    signal.alarm(150)
    s = Session(os.path.abspath(binary), os.path.abspath(artifacts))
    try:
        for step in STEPS:
            print(f"step: {step.__name__}", flush=True)
            step(s)
    except Exception as e:
        subprocess.run(["import", "-window", "root", os.path.join(s.artifacts, "failure.png")])
        print(f"FAIL at step {step.__name__}: {type(e).__name__}: {e}", flush=True)
        return 1
    finally:
        s.close()
    print("PASS", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
