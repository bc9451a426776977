#!/usr/bin/python3
"""Walks through the real program as a user would, through the accessibility tree.

usage: walkthrough.py <korvanda binary> <artifact folder>

Runs on the X display of the caller (Xvfb under scripts/session.sh) and, for the
preview, on its PulseAudio null sink. The script starts its own D-Bus session
and accessibility bus, so nothing of a real desktop session is touched; the
program runs from a copy in a temporary folder because it keeps its settings
files beside its executable.

Steps: remember both folders and restart; scan a generated folder; preview a
song and hear it; add, move and delete set-list songs; export and check the
folder; save the set list and start again with it; the help window; the exit
question. Every message box on the way is
checked by caption and text and answered with its own button. Screenshots of the
main steps land in the artifact folder.
"""

import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import traceback

INNER_FLAG = "KORVANDA_WALK_INNER"
# The whole walk takes well under a minute; this bounds a hang.
OVERALL_TIMEOUT = 170

MARKER = "これはフォルダです"

# (file name, tone in Hz, seconds). Tones are far apart so that a recording
# tells them apart; names mix Latin, kana and kanji to exercise the sort.
SONGS = [
    ("Bright.mp3", 440, 3),
    ("あおぞら.mp3", 660, 2),
    ("かぜのうた.mp3", 880, 4),
    ("さくら.mp3", 1320, 3),
]
SUB_FOLDER = "楽譜集"
# Names shorter than three characters are not listed at all (the same rule that
# drops "." and ".."); this folder must not show up.
SHORT_FOLDER = "譜面"
PREVIEW_SONG = "かぜのうた.mp3"


class StepFailure(Exception):
    pass


def log(text):
    print(text, flush=True)


# --------------------------------------------------------------------------
# Outer process: a private D-Bus session around the real walk, and a hard
# bound on its run time that takes down everything it started.


def outer(argv):
    if not os.environ.get("DISPLAY"):
        log("SKIP: no X display (run the tests through scripts/session.sh or test.sh)")
        return 0
    for tool in ("dbus-run-session", "ffmpeg", "import"):
        if shutil.which(tool) is None:
            log(f"FAIL: {tool} is not installed (see scripts/packages.txt)")
            return 1
    env = dict(os.environ, **{INNER_FLAG: "1"})
    # The inner run gets a process group of its own so that a timeout can end the
    # program, both buses and the recorder in one go.
    proc = subprocess.Popen(["dbus-run-session", "--", sys.executable, os.path.abspath(__file__)] + argv[1:],
                            env=env, start_new_session=True)
    try:
        return proc.wait(timeout=OVERALL_TIMEOUT)
    except subprocess.TimeoutExpired:
        log(f"FAIL: the walk-through did not finish within {OVERALL_TIMEOUT} s")
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        return 1


# --------------------------------------------------------------------------
# Inner process: runs inside the private session bus.


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kw)


def make_media(folder):
    os.makedirs(folder)
    for name, hz, seconds in SONGS:
        run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
             f"sine=frequency={hz}:sample_rate=44100:duration={seconds}", "-ac", "2",
             "-codec:a", "libmp3lame", "-b:a", "128k", os.path.join(folder, name)])
    os.makedirs(os.path.join(folder, SUB_FOLDER))
    os.makedirs(os.path.join(folder, SHORT_FOLDER))


def goertzel_power(samples, rate, hz):
    k = 2.0 * math.cos(2.0 * math.pi * hz / rate)
    s1 = s2 = 0.0
    for x in samples:
        s0 = x + k * s1 - s2
        s2, s1 = s1, s0
    return (s1 * s1 + s2 * s2 - k * s1 * s2) / max(1, len(samples))


class Walk:
    def __init__(self, binary, artifacts):
        self.binary = binary
        self.artifacts = artifacts
        self.work = tempfile.mkdtemp(prefix="korvanda-walk-")
        self.bindir = os.path.join(self.work, "bin")
        self.media = os.path.join(self.work, "曲フォルダ")
        self.outbase = os.path.join(self.work, "出力先")
        self.exe = os.path.join(self.bindir, "korvanda")
        self.proc = None
        self.logfile = None
        self.launcher = None
        self.shot = 0
        self.step = "set-up"
        self.app = None
        self.main = None
        self.at = None

    def connect(self):
        # The accessibility bus is started before the client library is loaded,
        # so that the library finds ours rather than activating one of its own.
        self.start_buses()
        import pyatspi

        self.at = pyatspi

    # ---- processes ----------------------------------------------------------

    def start_buses(self):
        launcher = "/usr/libexec/at-spi-bus-launcher"
        if not os.path.exists(launcher):
            raise StepFailure("at-spi-bus-launcher is missing (package at-spi2-core)")
        self.launcher = subprocess.Popen([launcher, "--launch-immediately"], stdout=subprocess.DEVNULL,
                                         stderr=open(os.path.join(self.artifacts, "at-spi.log"), "w"))
        # The launcher owns org.a11y.Bus once the accessibility bus is up.
        def owned():
            out = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                  "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                                  "string:org.a11y.Bus"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            return b"boolean true" in out.stdout
        self.wait(owned, 10, "the accessibility bus launcher")

    def start_program(self, *args, title="Korvanda"):
        env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
        env.setdefault("ASAN_OPTIONS", "detect_leaks=0")
        self.logfile = open(os.path.join(self.artifacts, "korvanda.log"), "a")
        self.proc = subprocess.Popen([self.exe, *args], cwd=self.work, env=env, stdout=self.logfile,
                                     stderr=subprocess.STDOUT)
        self.app = self.wait(self.find_app, 20, "the program on the accessibility bus")
        self.main = self.wait(lambda: self.top_level(title), 10, f'the main window "{title}"')
        # The tree is built lazily; wait until the last control made is there.
        self.wait(lambda: self.find(self.main, name="使い方", role=self.at.ROLE_PUSH_BUTTON), 10,
                  'the button "使い方"')

    def wait_exit(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def show_program_log(self):
        if self.logfile:
            self.logfile.flush()
            with open(self.logfile.name, errors="replace") as f:
                lines = f.read().splitlines()[-20:]
            if lines:
                log("program output (last lines):\n  " + "\n  ".join(lines))

    def cleanup(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        if self.launcher and self.launcher.poll() is None:
            self.launcher.terminate()
            try:
                self.launcher.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.launcher.kill()
        shutil.rmtree(self.work, ignore_errors=True)

    # ---- the accessibility tree ---------------------------------------------

    def wait(self, probe, timeout, what, seen=None):
        """Polls probe until it returns something true; fails naming what it waited
        for and, when seen is given, what seen() last returned."""
        deadline = time.monotonic() + timeout
        last_error = None
        while True:
            try:
                value = probe()
                if value:
                    return value
            except StepFailure:
                raise
            except Exception as e:  # a node that went away while we looked at it
                last_error = e
            if self.proc and self.proc.poll() is not None:
                raise StepFailure(f"the program exited (code {self.proc.returncode}) while waiting for {what}")
            if time.monotonic() > deadline:
                extra = f" (last error: {last_error})" if last_error else ""
                if seen:
                    try:
                        extra += f"; saw {seen()}"
                    except Exception as e:
                        extra += f"; could not look: {e}"
                raise StepFailure(f"timed out after {timeout} s waiting for {what}{extra}")
            time.sleep(0.05)

    def find_app(self):
        desktop = self.at.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == self.proc.pid:
                    return app
            except Exception:
                continue
        return None

    def top_levels(self):
        return [self.app.getChildAtIndex(i) for i in range(self.app.childCount)]

    def top_level(self, title):
        for w in self.top_levels():
            if w is not None and w.name == title:
                return w
        return None

    def find_all(self, root, name=None, role=None, limit=4000):
        found, queue, seen = [], [root], 0
        while queue and seen < limit:
            node = queue.pop(0)
            seen += 1
            if node is None:
                continue
            if (name is None or node.name == name) and (role is None or node.getRole() == role):
                found.append(node)
            # Table cells hold nothing further down; skip walking into them.
            if node.getRole() in (self.at.ROLE_TABLE_CELL,):
                continue
            queue.extend(node.getChildAtIndex(i) for i in range(node.childCount))
        return found

    def find(self, root, name=None, role=None):
        nodes = self.find_all(root, name, role)
        return nodes[0] if nodes else None

    def control(self, name, role, index=0):
        nodes = self.find_all(self.main, name, role)
        if len(nodes) <= index:
            raise StepFailure(f'no control named "{name}" (role {role}) #{index}; found {len(nodes)}')
        return nodes[index]

    def button(self, caption, index=0):
        return self.control(caption, self.at.ROLE_PUSH_BUTTON, index)

    def field(self, caption):
        for node in self.find_all(self.main, caption):
            if node.getRole() in (self.at.ROLE_TEXT, self.at.ROLE_ENTRY, self.at.ROLE_PASSWORD_TEXT):
                return node
        raise StepFailure(f'no text box named "{caption}"')

    def table(self, caption):
        return self.control(caption, self.at.ROLE_TABLE)

    def states(self, node):
        return node.getState()

    def enabled(self, node):
        return self.states(node).contains(self.at.STATE_ENABLED)

    def showing(self, node):
        s = self.states(node)
        return s.contains(self.at.STATE_VISIBLE) and s.contains(self.at.STATE_SHOWING)

    def text_of(self, node):
        t = node.queryText()
        return t.getText(0, t.characterCount)

    def type_into(self, node, text):
        node.queryEditableText().setTextContents(text)
        self.wait(lambda: self.text_of(node) == text, 5, f'"{node.name}" to read "{text}"')

    def press(self, node):
        if not self.enabled(node):
            raise StepFailure(f'button "{node.name}" is disabled')
        action = node.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        index = next((i for i, n in enumerate(names) if n.lower() in ("press", "click")), 0)
        action.doAction(index)

    # ---- tables -------------------------------------------------------------

    def rows(self, caption):
        """The table's data rows as lists of cell texts, in the order shown (the
        hidden full-path column included: it is still a column of the table)."""
        t = self.table(caption).queryTable()
        out = []
        for r in range(t.nRows):
            cells = [t.getAccessibleAt(r, c) for c in range(t.nColumns)]
            out.append([cell.name if cell is not None else "" for cell in cells])
        return out

    def selected_rows(self, caption):
        t = self.table(caption).queryTable()
        return [r for r in range(t.nRows) if t.isRowSelected(r)]

    def expect_cursor(self, caption, row, why):
        self.wait(lambda: self.selected_rows(caption) == [row], 5,
                  f"the cursor of the set list on row {row + 1} {why}", lambda: self.selected_rows(caption))

    def click_cell(self, caption, row, column=1):
        """Clicks a cell with the mouse, as a user picks a row."""
        t = self.table(caption).queryTable()
        cell = t.getAccessibleAt(row, column)
        if cell is None:
            raise StepFailure(f'"{caption}" has no cell at row {row}, column {column}')
        ext = cell.queryComponent().getExtents(self.at.DESKTOP_COORDS)
        if ext.width <= 0 or ext.height <= 0:
            raise StepFailure(f'cell {row},{column} of "{caption}" is not on screen ({ext})')
        self.at.Registry.generateMouseEvent(ext.x + ext.width // 2, ext.y + ext.height // 2, "b1c")
        self.wait(lambda: t.isRowSelected(row), 5, f'row {row + 1} of "{caption}" to be selected')

    # ---- message boxes ------------------------------------------------------

    def boxes(self):
        """The program's open message boxes: its windows with an OK or はい button."""
        found = []
        for w in self.top_levels():
            if w is None or w.name == "Korvanda" or w.getRole() not in (
                    self.at.ROLE_DIALOG, self.at.ROLE_ALERT, self.at.ROLE_FRAME, self.at.ROLE_WINDOW):
                continue
            if self.find(w, "OK", self.at.ROLE_PUSH_BUTTON) or self.find(w, "はい", self.at.ROLE_PUSH_BUTTON):
                found.append(w)
        return found

    def box_texts(self, box):
        return [n.name for n in self.find_all(box, role=self.at.ROLE_LABEL) if n.name]

    def expect_box(self, caption, text, answer, timeout=10):
        """Waits for a message box, checks its caption and text, and answers it."""
        box = self.wait(lambda: (self.boxes() or [None])[0], timeout, f'a message box "{caption}": {text}',
                        lambda: [(w.name, w.getRoleName()) for w in self.top_levels() if w is not None])
        labels = self.box_texts(box)
        buttons = sorted(n.name for n in self.find_all(box, role=self.at.ROLE_PUSH_BUTTON))
        seen = f'caption "{box.name}", texts {labels}, buttons {buttons}'
        # Qt's accessibility names a box without a title by its text, so an
        # untitled box shows up under its text rather than an empty name.
        if box.name != caption and not (caption == "" and box.name == text):
            raise StepFailure(f'message box caption: wanted "{caption}", saw {seen}')
        if text not in labels:
            raise StepFailure(f'message box text: wanted "{text}", saw {seen}')
        wanted_buttons = ["OK"] if answer == "OK" else ["いいえ", "はい"]
        if buttons != sorted(wanted_buttons):
            raise StepFailure(f"message box buttons: wanted {wanted_buttons}, saw {seen}")
        log(f'  box "{caption}": {text} -> {answer}')
        self.screenshot(f"box-{caption or 'untitled'}")
        self.press(self.find(box, answer, self.at.ROLE_PUSH_BUTTON))

        # Another box may follow at once (the export's question, then its end),
        # so it is this box, by caption and text, that has to go.
        def still_open():
            if self.proc and self.proc.poll() is not None:
                return False  # the answer ended the program, and the box with it
            return any(b.name == box.name and text in self.box_texts(b) for b in self.boxes())
        self.wait(lambda: not still_open(), 5, f'the box "{caption}" to close after "{answer}"')

    # ---- evidence -------------------------------------------------------------

    def screenshot(self, what):
        self.shot += 1
        path = os.path.join(self.artifacts, f"{self.shot:02d}-{what}.png")
        subprocess.run(["import", "-window", "root", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def begin(self, step):
        self.step = step
        log(f"step: {step}")

    def check(self, condition, message):
        if not condition:
            raise StepFailure(message)

    def record(self, seconds):
        sink = os.environ.get("KORVANDA_TEST_SINK")
        if not sink or shutil.which("parec") is None:
            return None
        rate = 48000
        rec = subprocess.Popen(["parec", "-d", f"{sink}.monitor", "--raw", "--format=s16le", f"--rate={rate}",
                                "--channels=1", "--latency-msec=20"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
        want = int(seconds * rate) * 2
        data = b""
        deadline = time.monotonic() + seconds + 5
        try:
            os.set_blocking(rec.stdout.fileno(), False)
            while len(data) < want and time.monotonic() < deadline:
                chunk = rec.stdout.read(want - len(data))
                if chunk:
                    data += chunk
                else:
                    time.sleep(0.02)
        finally:
            rec.terminate()
            rec.wait()
        return list(struct.unpack(f"<{len(data) // 2}h", data[:len(data) // 2 * 2])), rate

    # ---- the walk -------------------------------------------------------------

    def walk(self):
        self.begin("generate songs")
        os.makedirs(self.bindir)
        os.makedirs(self.outbase)
        shutil.copy2(self.binary, self.exe)
        make_media(self.media)
        self.connect()

        self.begin("first start: both folders empty")
        self.start_program()
        self.check(self.text_of(self.field("楽曲収納フォルダ")) == "", "the source folder is not empty at first start")
        self.check(self.text_of(self.field("出力先フォルダ")) == "", "the output folder is not empty at first start")
        self.screenshot("first-start")

        self.begin("preview with an empty library is refused")
        self.press(self.button("＞選択曲再生"))
        self.expect_box("", "楽曲が選択されていません", "OK")

        self.begin("type and remember both folders")
        self.type_into(self.field("楽曲収納フォルダ"), self.media)
        self.type_into(self.field("出力先フォルダ"), self.outbase)
        self.press(self.button("フォルダを記憶", 0))
        self.expect_box("お知らせ", "保存しました", "OK")
        self.press(self.button("フォルダを記憶", 1))
        self.expect_box("お知らせ", "保存しました", "OK")
        for name, folder in (("motodata.dat", self.media), ("okuridata.dat", self.outbase)):
            path = os.path.join(self.bindir, name)
            self.check(os.path.exists(path), f"{name} was not written beside the program")
            data = open(path, "rb").read()
            wanted = b'"' + folder.encode() + b'"\r\n'
            self.check(data == wanted, f"{name} holds {data!r}, wanted {wanted!r}")
        self.screenshot("remembered")

        self.begin("clear a field, quit and restart: the remembered folders come back")
        self.press(self.button("フォルダデータクリア", 0))
        self.wait(lambda: self.text_of(self.field("楽曲収納フォルダ")) == "", 5, "the source folder to be cleared")
        self.quit()
        self.start_program()
        source, output = self.text_of(self.field("楽曲収納フォルダ")), self.text_of(self.field("出力先フォルダ"))
        self.check(source == self.media, f'source folder after restart: "{source}", wanted "{self.media}"')
        self.check(output == self.outbase, f'output folder after restart: "{output}", wanted "{self.outbase}"')
        for caption in ("新しく出力するフォルダにつける名前", "セトリテキストコピペ可能", "セットリスト合計時間"):
            self.check(self.text_of(self.field(caption)) == "", f'"{caption}" is not empty after a start')
        self.screenshot("restarted")

        self.begin("scan the source folder")
        library = "収納楽曲一覧 簡易50音順　アルファベット上位表示"
        setlist = "セットリスト 出力中は処理している曲の番号の色が変わります"
        self.press(self.button("フォルダから楽曲取得"))
        expected_names = ["Bright.mp3", "あおぞら.mp3", "かぜのうた.mp3", MARKER + SUB_FOLDER, "さくら.mp3"]
        self.wait(lambda: [r[1] for r in self.rows(library)] == expected_names, 20,
                  f"the library to list {expected_names}", lambda: self.rows(library))
        lengths = {name: f"00:00:{seconds:02d}" for name, _, seconds in SONGS}
        lengths[MARKER + SUB_FOLDER] = "00:00:00"
        for i, row in enumerate(self.rows(library)):
            self.check(row[0] == str(i + 1), f"library row {i + 1} is numbered {row[0]!r}: {row}")
            self.check(row[-1] == lengths[row[1]], f"library row {row[1]} has length {row[-1]!r}, "
                                                   f"wanted {lengths[row[1]]}: {row}")
        log(f"  library: {self.rows(library)}")
        self.screenshot("scanned")

        self.begin("preview a song and hear it")
        names = [r[1] for r in self.rows(library)]
        self.click_cell(library, names.index(PREVIEW_SONG))
        self.press(self.button("＞選択曲再生"))
        label = self.control("再生中一部操作不可", self.at.ROLE_LABEL)
        self.wait(lambda: self.showing(label), 5, 'the red label "再生中一部操作不可" to show')
        locked = ["フォルダから楽曲取得", "選択行リストから削除", "リスト曲をフォルダに出力する", "終了"]
        for caption in locked:
            self.check(not self.enabled(self.button(caption)), f'"{caption}" is enabled during the preview')
        self.check(not self.enabled(self.table(library)), "the library table is enabled during the preview")
        for caption in ["選択曲をリストへ追加", "選択行上に", "選択行下に", "■ 再生終了"]:
            self.check(self.enabled(self.button(caption)), f'"{caption}" is disabled during the preview')
        self.screenshot("preview")
        recording = self.record(1.5)
        if recording is None:
            log("  no sound server (KORVANDA_TEST_SINK unset): the tone is not checked")
        else:
            self.check_tone(*recording, dict((n, hz) for n, hz, _ in SONGS)[PREVIEW_SONG])
        self.press(self.button("■ 再生終了"))
        self.wait(lambda: not self.showing(label), 5, 'the red label to hide after the stop')
        for caption in locked:
            self.check(self.enabled(self.button(caption)), f'"{caption}" stays disabled after the stop')
        self.check(self.enabled(self.table(library)), "the library table stays disabled after the stop")

        self.begin("add songs to the set list")
        total = self.field("セットリスト合計時間")
        for name in ["Bright.mp3", "かぜのうた.mp3", "さくら.mp3", "あおぞら.mp3"]:
            self.click_cell(library, names.index(name))
            self.press(self.button("選択曲をリストへ追加"))
            self.wait(lambda: name in [r[1] for r in self.rows(setlist)], 5, f"{name} in the set list")
            self.expect_cursor(setlist, len(self.rows(setlist)) - 1, f"after adding {name}")
        self.expect_setlist(setlist, ["Bright.mp3", "かぜのうた.mp3", "さくら.mp3", "あおぞら.mp3"])
        self.check(self.text_of(total) == "00:00:12", f'total after adding: "{self.text_of(total)}", wanted 00:00:12')
        self.click_cell(library, names.index(MARKER + SUB_FOLDER))
        self.press(self.button("選択曲をリストへ追加"))
        self.expect_box("追加できません", "フォルダを指定しています、追加できません", "OK")
        self.expect_setlist(setlist, ["Bright.mp3", "かぜのうた.mp3", "さくら.mp3", "あおぞら.mp3"])
        self.screenshot("added")

        self.begin("move songs up and down")
        self.click_cell(setlist, 2)
        self.press(self.button("選択行上に"))
        order = ["Bright.mp3", "さくら.mp3", "かぜのうた.mp3", "あおぞら.mp3"]
        self.wait(lambda: [r[1] for r in self.rows(setlist)] == order, 5, f"the set list to read {order}",
                  lambda: self.rows(setlist))
        self.expect_setlist(setlist, order)
        self.expect_cursor(setlist, 1, "following the song moved up")
        self.click_cell(setlist, 0)
        self.press(self.button("選択行上に"))
        self.expect_box("お知らせ", "これ以上上に上げれません", "OK")
        self.press(self.button("選択行下に"))
        order = ["さくら.mp3", "Bright.mp3", "かぜのうた.mp3", "あおぞら.mp3"]
        self.wait(lambda: [r[1] for r in self.rows(setlist)] == order, 5, f"the set list to read {order}",
                  lambda: self.rows(setlist))
        self.expect_setlist(setlist, order)
        self.expect_cursor(setlist, 1, "following the song moved down")
        self.click_cell(setlist, 3)
        self.press(self.button("選択行下に"))
        self.expect_box("お知らせ", "これ以上下に下げれません", "OK")
        self.expect_setlist(setlist, order)
        self.check(self.text_of(total) == "00:00:12", f'total after the moves: "{self.text_of(total)}"')
        self.screenshot("moved")

        self.begin("delete a song (first answered No, then Yes)")
        self.click_cell(setlist, 2)
        self.press(self.button("選択行リストから削除"))
        self.expect_box("確認", "選択行を本当に削除してもよろしいですか？", "いいえ")
        self.expect_setlist(setlist, order)
        self.press(self.button("選択行リストから削除"))
        self.expect_box("確認", "選択行を本当に削除してもよろしいですか？", "はい")
        order = ["さくら.mp3", "Bright.mp3", "あおぞら.mp3"]
        self.wait(lambda: [r[1] for r in self.rows(setlist)] == order, 5, f"the set list to read {order}",
                  lambda: self.rows(setlist))
        self.expect_setlist(setlist, order)
        self.wait(lambda: self.text_of(total) == "00:00:08", 5, "the total to read 00:00:08")
        self.expect_cursor(setlist, 0, "back on the first song after a delete")
        self.screenshot("deleted")

        self.begin("export the set list")
        set_name = "ライブ 夏"
        self.type_into(self.field("新しく出力するフォルダにつける名前"), set_name)
        self.press(self.button("リスト曲をフォルダに出力する"))
        self.expect_box("確認", f"{set_name} の名前で指定場所にフォルダを作り楽曲保存します　よろしいですか？", "はい")
        self.expect_box("完了", "出力完了、テキストボックスにセトリ書き出し完了", "OK", timeout=30)
        self.check_export(os.path.join(self.outbase, set_name), order)
        text = self.text_of(self.field("セトリテキストコピペ可能"))
        lines = [f"{i + 1:02d} {name[:-4]}" for i, name in enumerate(order)]
        self.check(text.replace("\r\n", "\n").rstrip("\n").split("\n") == lines,
                   f"set list text reads {text!r}, wanted the lines {lines}")
        self.screenshot("exported")
        self.save_restart_open(setlist, order, set_name)

        self.begin("help window")
        self.press(self.button("使い方"))
        helpwin = self.wait(lambda: self.top_level("説明"), 10, 'the help window "説明"')
        box = self.wait(lambda: self.find(helpwin, "説明", self.at.ROLE_TEXT), 5, "the help text box")
        first = self.text_of(box).split("\n")[0]
        wanted = "①　楽曲収納フォルダを参照ボタンを押して選んで最初はフォルダを記憶させてください"
        self.check(first == wanted, f"help text starts {first!r}, wanted {wanted!r}")
        self.screenshot("help")
        self.press(self.find(helpwin, "閉じる", self.at.ROLE_PUSH_BUTTON))
        self.wait(lambda: self.top_level("説明") is None, 5, "the help window to close")

        self.begin("exit: No keeps the window, Yes ends the program")
        self.press(self.button("終了"))
        self.expect_box("確認", "終了してもよろしいですか？", "いいえ")
        time.sleep(0.3)  # a short look: the program must still be there
        self.check(self.proc.poll() is None, f"the program exited after No (code {self.proc.returncode})")
        self.check(self.top_level(self.main.name) is not None, "the main window went away after No")
        self.screenshot("exit-no")
        self.quit()

    def save_restart_open(self, setlist, order, set_name):
        """Saves the set list through the menu's shortcut and the file dialog, checks
        the playlist as another player reads it, and starts the program again with
        the playlist on its command line, as a file manager does: the same rows,
        numbers, lengths, total and set name come back."""
        self.begin("save the set list, restart with the playlist, find it as it was")
        before = self.rows(setlist), self.text_of(self.field("セットリスト合計時間"))
        playlist = os.path.join(self.media, f"{set_name}.m3u8")
        for entry in ("ファイル(F)", "名前を付けて保存…"):  # the menu, with the mouse
            node = self.wait(lambda: next((n for n in self.find_all(self.app, entry) if self.showing(n)), None), 5,
                             f'the menu entry "{entry}"')
            ext = node.queryComponent().getExtents(self.at.DESKTOP_COORDS)
            self.at.Registry.generateMouseEvent(ext.x + ext.width // 2, ext.y + ext.height // 2, "b1c")
        dialog = self.wait(lambda: self.top_level("名前を付けて保存"), 10, 'the file dialog "名前を付けて保存"')
        boxes = [n for n in self.find_all(dialog, role=self.at.ROLE_TEXT) if self.showing(n)]
        self.check(boxes, "the file dialog has no file name box")
        self.type_into(boxes[-1], playlist)
        self.press(next(b for b in self.find_all(dialog, role=self.at.ROLE_PUSH_BUTTON) if b.name.startswith("保存")))
        self.wait(lambda: os.path.exists(playlist), 10, f"the playlist {playlist}")
        self.wait(lambda: self.main.name == f"{set_name}.m3u8 - Korvanda", 5, "the file name in the title")
        lines = open(playlist, encoding="utf-8").read().split("\n")
        self.check(lines[:2] == ["#EXTM3U", f"#PLAYLIST:{set_name}"], f"playlist starts {lines[:2]}")
        self.check(lines[3::2][:len(order)] == order, f"playlist songs {lines[3::2]}, wanted {order}")
        for entry in lines[3::2][:len(order)]:  # another player's parser: ffprobe opens each entry as written
            probe = subprocess.run(["ffprobe", "-v", "error", os.path.join(self.media, entry)],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.check(probe.returncode == 0, f"ffprobe cannot read the entry {entry}")
        self.quit()
        self.start_program(playlist, title=f"{set_name}.m3u8 - Korvanda")
        self.wait(lambda: (self.rows(setlist), self.text_of(self.field("セットリスト合計時間"))) == before, 10,
                  f"the set list {before} after the restart", lambda: self.rows(setlist))
        name = self.text_of(self.field("新しく出力するフォルダにつける名前"))
        self.check(name == set_name, f'set name after the restart: "{name}", wanted "{set_name}"')
        self.screenshot("reopened")

    def quit(self):
        self.press(self.button("終了"))
        self.expect_box("確認", "終了してもよろしいですか？", "はい")
        code = self.wait_exit(15)
        self.check(code is not None, "the program did not exit after 終了 -> はい")
        self.check(code == 0, f"the program exited with code {code} after 終了 -> はい")
        self.proc = None

    def expect_setlist(self, caption, names):
        rows = self.rows(caption)
        seen = [(r[0], r[1]) for r in rows]
        wanted = [(f"{i + 1:02d}", n) for i, n in enumerate(names)]
        self.check(seen == wanted, f"set list reads {seen}, wanted {wanted}")
        lengths = {name: f"00:00:{seconds:02d}" for name, _, seconds in SONGS}
        for r in rows:
            self.check(r[-1] == lengths[r[1]], f"set list row {r} has the wrong length")

    def check_tone(self, samples, rate, hz):
        self.check(len(samples) >= rate, f"the recording is short: {len(samples)} samples")
        rms = math.sqrt(sum(s * s for s in samples) / len(samples))
        powers = {f: goertzel_power(samples, rate, f) for _, f, _ in SONGS}
        log(f"  recording: rms {rms:.0f}, tone powers { {f: round(p) for f, p in powers.items()} }")
        self.check(rms > 300, f"the preview is silent on the sink (rms {rms:.0f})")
        others = max(p for f, p in powers.items() if f != hz)
        self.check(powers[hz] > 20 * others, f"the recording does not hold the song's {hz} Hz tone: {powers}")

    def check_export(self, folder, order):
        self.check(os.path.isdir(folder), f"the export folder {folder} was not made")
        wanted = [f"{i + 1:02d} {name}" for i, name in enumerate(order)]
        present = sorted(os.listdir(folder))
        self.check(present == sorted(wanted), f"the export folder holds {present}, wanted {wanted}")
        stats = []
        for exported, name in zip(wanted, order):
            path = os.path.join(folder, exported)
            with open(path, "rb") as a, open(os.path.join(self.media, name), "rb") as b:
                self.check(a.read() == b.read(), f"{exported} differs from {name}")
            stats.append(os.stat(path))
        # Evidence of the copy order, and how strong it is. Each song is written
        # under its final name and flushed to the disk before the next one is
        # opened, and the kernel stamps a file's change time at its last write.
        # So a song copied later never carries an earlier change time. The
        # stamps may come from the kernel's coarse clock (a few milliseconds;
        # newer kernels stamp finer only when the file's times were looked at
        # since its last change), so neighbours can share one: the check is
        # "never earlier", which catches copies made out of order only when they
        # ran a clock tick apart. Inode numbers are logged too but not checked: ext4 hands out the
        # first free inode of a block group, and freed ones are reused, so their
        # order proves nothing.
        ctimes = [s.st_ctime_ns for s in stats]
        later = sum(1 for a, b in zip(ctimes, ctimes[1:]) if b > a)
        log(f"  export change times (ns from first): {[c - ctimes[0] for c in ctimes]} "
            f"({later} of {len(ctimes) - 1} steps strictly later), inodes: {[s.st_ino for s in stats]}")
        self.check(ctimes == sorted(ctimes), f"the exported files were not written in set-list order: {ctimes}")


def inner(argv):
    if len(argv) != 3:
        log("usage: walkthrough.py <korvanda binary> <artifact folder>")
        return 2
    binary, artifacts = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    os.makedirs(artifacts, exist_ok=True)
    for old in os.listdir(artifacts):
        if old.endswith(".png") or old.endswith(".log"):
            os.remove(os.path.join(artifacts, old))
    started = time.monotonic()
    walk = None
    try:
        walk = Walk(binary, artifacts)
        walk.walk()
    except Exception as e:
        if isinstance(e, StepFailure):
            log(f"FAIL at step '{walk.step if walk else 'set-up'}': {e}")
        else:
            log(f"FAIL at step '{walk.step if walk else 'set-up'}': unexpected error")
            traceback.print_exc()
        if walk:
            walk.screenshot("failure")
            walk.show_program_log()
        return 1
    finally:
        if walk:
            walk.cleanup()
    log(f"PASS ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(inner(sys.argv) if os.environ.get(INNER_FLAG) else outer(sys.argv))
