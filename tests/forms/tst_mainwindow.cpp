// The window around the client area, driven through its menus and the mouse:
// the unsaved-changes question, set lists opened from and saved to files, the
// slot in the status bar, the stage sheet, songs dragged from the library
// (ending exactly as the add and up buttons leave them) and type-ahead.
#include "support/fixtures.h"
#include "support/formfixture.h"

#include "forms/waveform/songeditview.h"
#include "platform/audio/peaks/peakscan.h"
#include "forms/edits/songeditscontroller.h"
#include "forms/edits/songeditspanel.h"
#include "forms/loudnesscelldelegate.h"
#include "forms/songtablemodel.h"
#include "forms/main/mainwindow.h"
#include "forms/setlisttextbox.h"
#include "forms/songgrid.h"
#include "model/cdlayout.h"
#include "model/libraryentry.h"
#include "platform/audio/disc/discwriter.h"
#include "platform/desktop/cdimagedialog.h"
#include "platform/desktop/setlistdialog.h"
#include "platform/storage/stopsignal.h"
#include "support/mediagen.h"
#include "support/systemonly.h"

#include <QAction>
#include <QDoubleSpinBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QPrinter>
#include <QProgressDialog>
#include <QSpinBox>
#include <QTimer>

#include <cmath>
#include <csignal>


// Real songs of 2 s and 3 s, and one of 4 s in a library folder, made once.
static QString song(const QString &name)
{
    static QTemporaryDir songs;
    static const bool made = QDir(songs.path()).mkpath(u"2部"_s) && QDir(songs.path()).mkpath(u"lib"_s)
        && MediaGen::tone(songs.filePath(u"夜明け.wav"_s), 2.0) && MediaGen::tone(songs.filePath(u"2部/#海.wav"_s), 3.0)
        && MediaGen::tone(songs.filePath(u"lib/遠く.wav"_s), 4.0);
    return made ? songs.filePath(name) : QString();
}

// The window, shown, with its settings in a folder of its own and library rows
// of these names, of 100, 200, 300 ... seconds (the files need not exist); and
// the user in front of it, who answers the boxes as scripted, picks `file` in
// the file dialogs and prints into `pdf`, as "print to file" does.
// A CD writer that cannot be attached here: no drive, a drive without a
// blank disc, or one with a blank that records what it was asked to burn.
struct Drive : DiscWriter
{
    std::optional<DiscWriter::Drive> drive;
    QStringList burned;
    std::optional<DiscWriter::Drive> findDrive() override { return drive; }
    Outcome burn(const QString &bin, const CdLayout &layout, const CdText &text, bool testFirst,
                 const std::function<void(double)> &, const std::function<bool()> &) override
    {
        burned << QString::number(QFileInfo(bin).size() == layout.imageBytes()) << text.title << text.trackTitles.join(u'|')
               << QString::number(testFirst);
        return { true, {} };
    }
};

struct Window : ScriptedBoxes, SetListDialog, StageSheetDialogs, CdImageDialog
{
    explicit Window(const QStringList &names = {})
    {
        restart();
        SongTable &library = window->form()->MSHFlexGrid1();
        library.setRows(int(names.size()) + 1);
        for (int i = 0; i < names.size(); ++i) {
            const QString length = QTime(0, 0).addSecs(100 * (i + 1)).toString(u"hh:mm:ss"_s);
            for (int c = 0; const QString &text : { QString::number(i + 1), names[i], dir.filePath(names[i]), length })
                setCell(library, i + 1, c++, text);
        }
        library.setRow(1);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void restart()
    {
        window.reset();
        window = std::make_unique<MainWindow>(Form1Services{ this, &folders, &media, dir.path(), withPlayback ? &media : nullptr }, this);
        window->setStageSheetDialogs(this);
        window->setCdImageDialog(this);
        window->setDiscWriter(&cdWriter);
    }
    Answer askYesNoCancel(QWidget *, const QString &prompt, const QString &caption) override { return shown.append({ prompt, caption }), answer; }
    QString fileToOpen(QWidget *, const QString &) override { return file; }
    QString fileToSave(QWidget *, const QString &) override { return file; }
    bool choosePrinter(QWidget *, QPrinter &printer) override { return printer.setOutputFileName(pdf), true; }
    QString pdfToSave(QWidget *, const QString &) override { return pdf; }
    QString cueToSave(QWidget *, const QString &) override { return cue; }
    template<typename T = QWidget> [[nodiscard]] T *child(const QString &name) const { return window->findChild<T *>(name); }
    void menu(const QString &action) const { child<QAction>(action)->trigger(); }
    void click(const QString &button) const { child<QPushButton>(button)->click(); }
    void add(int libraryRow) const { window->form()->MSHFlexGrid1().setRow(libraryRow), click(u"Command2"_s); }
    void typeSlot(const QString &slot, int pause) const
    {
        child<QLineEdit>(u"slotLength"_s)->clear();
        QTest::keyClicks(child(u"slotLength"_s), slot);
        child<QSpinBox>(u"pauseLength"_s)->setValue(pause);
    }
    // The two real songs saved as set.m3u8 in `folder`, then moved: changes not saved.
    void savedThenChanged(const QString &folder)
    {
        QVERIFY(window->form()->replaceSetList({ song(u"夜明け.wav"_s), song(u"2部/#海.wav"_s) }, u"金曜"_s));
        file = folder + u"/set.m3u8"_s;
        menu(u"saveSetListAsAction"_s);
        saved = fixtures::contents(file);
        click(u"Command5"_s); // up
        shown.clear();
    }
    // What a user sees: the total, then numbers, names, lengths and cursor of the set list and the library.
    [[nodiscard]] QStringList state() const
    {
        QStringList all{ window->form()->totalText() };
        for (const SongTable *t : { &window->form()->MSHFlexGrid2(), &window->form()->MSHFlexGrid1() })
            all << columnTexts(*t, 0).join(u'|') << columnTexts(*t, 1).join(u'|') << columnTexts(*t, 3).join(u'|')
                << u"cursor %1,%2"_s.arg(t->Row()).arg(t->Col());
        return all;
    }
    // Press on a library row, move onto a set-list row (0: below its rows), let go there.
    void drag(int libraryRow, int setListRow) const
    {
        QWidget *vp = child<SongGrid>(u"MSHFlexGrid1"_s)->viewport();
        const auto at = [&](const QString &grid, int row) {
            auto *g = child<SongGrid>(grid);
            return vp->mapFromGlobal(g->viewport()->mapToGlobal(
                row > 0 ? g->visualRect(g->model()->index(row - 1, 1)).center() : QPoint(20, g->viewport()->height() - 4)));
        };
        const QPoint from = at(u"MSHFlexGrid1"_s, libraryRow), to = at(u"MSHFlexGrid2"_s, setListRow);
        QTest::mousePress(vp, Qt::LeftButton, {}, from);
        QTest::mouseMove(vp, to);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, to);
    }

    Answer answer = Answer::Cancel;
    bool withPlayback = false;
    QString file, pdf, cue;
    Drive cdWriter;
    QByteArray saved;
    QTemporaryDir dir;
    ScriptedFolderDialog folders;
    MediaService media;
    std::unique_ptr<MainWindow> window;
};

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void unsavedChangesAsked_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<Window::Answer>("answer");
        for (const char *way : { "newSetListAction", "openSetListAction", "quitAction", "close" })
            for (const auto answer : { Window::Answer::Yes, Window::Answer::No, Window::Answer::Cancel })
                QTest::addRow("%s, %d", way, int(answer)) << QString::fromLatin1(way) << answer;
    }
    void unsavedChangesAsked()
    {
        QFETCH(QString, way);
        QFETCH(Window::Answer, answer);
        Window w;
        w.savedThenChanged(w.dir.path());
        w.answer = answer;
        w.answers = { true }; // Yes to the exit question
        way == u"close" ? void(w.window->close()) : w.menu(way);
        QCOMPARE(w.lastPrompt(), u"セットリストの変更を保存しますか？"_s);
        QCOMPARE(fixtures::contents(w.file) != w.saved, answer == Window::Answer::Yes);
        const bool ending = way == u"close" || way == u"quitAction";
        QCOMPARE(w.window->isVisible(), answer == Window::Answer::Cancel || !ending);
        QCOMPARE(w.window->isWindowModified(), answer == Window::Answer::Cancel || (ending && answer == Window::Answer::No));
    }

    void setListFiles()
    {
        Window w;
        w.savedThenChanged(w.dir.path());
        const QStringList before = w.state() << w.window->currentFile();
        const std::pair<QByteArray, QString> bad[] = { { "", u"空のファイル"_s }, { "folder", u"フォルダです"_s }, { "fifo", u"普通のファイルではありません"_s },
                                                       { "\x7f" "ELF\x02\x01\x00\xff\xfe\x81\x20"_ba, u"プレイリストではありません"_s } };
        for (const auto &[bytes, reason] : bad) {
            if (bytes == "fifo" && SystemOnly::noFifos())
                continue; // Windows has none
            const QString path = w.dir.filePath(u"bad%1"_s.arg(bytes.size()));
            QVERIFY(bytes == "folder" ? QDir().mkdir(path)
                    : bytes == "fifo" ? SystemOnly::makeFifo(path) // must not hang
                                      : fixtures::writeFile(path, bytes));
            QVERIFY2(!w.window->openSetList(path) && w.lastPrompt().contains(reason), qPrintable(w.lastPrompt()));
            QCOMPARE(w.state() << w.window->currentFile(), before);
        }
        // CP932, backslashes, drive letters: 遠く is in the library, gone.mp3 nowhere.
        w.child<QLineEdit>(u"Text1"_s)->setText(song(u"lib"_s));
        w.file = song(u"win.m3u"_s);
        QVERIFY(fixtures::writeFile(w.file, "D:\\\x89\xb9\x8a\x79\\\x89\x93\x82\xad.wav\r\nC:\\gone.mp3\r\n2\x95\x94\\#\x8a\x43.wav\r\n"));
        QVERIFY(w.window->openSetList(w.file));
        QCOMPARE(w.state().mid(0, 4), (QStringList{ u"00:00:07"_s, u"01|02"_s, u"遠く.wav|#海.wav"_s, u"00:00:04|00:00:03"_s }));
        QCOMPARE(w.lastPrompt(), u"見つからなかった曲があります\ngone.mp3"_s);

        // A save on a full disk keeps the old file and leaves no temporary one.
        const QString disk = w.dir.filePath(u"disk"_s);
        fixtures::ScopedMount mount(disk);
        if (!QDir().mkpath(disk) || !mount.tmpfs(64))
            QSKIP(qPrintable(mount.why()));
        w.savedThenChanged(disk);
        (void)fixtures::writeFile(disk + u"/filler"_s, QByteArray(64 << 10, 'x'));
        w.menu(u"saveSetListAction"_s);
        QVERIFY2(w.lastPrompt().contains(u"空き容量が足りません"_s) && fixtures::contents(w.file) == w.saved, qPrintable(w.lastPrompt()));
        QCOMPARE(QDir(disk).entryList(QDir::Files | QDir::Hidden), QStringList({ u"filler"_s, u"set.m3u8"_s }));
    }

    void songEdits()
    {
        Window w;
        w.withPlayback = true;
        w.restart();
        w.window->show();
        const QString long90 = w.dir.filePath(u"長い曲.wav"_s);
        QVERIFY(MediaGen::tone(long90, 90.0, 440));
        QVERIFY(w.window->form()->replaceSetList({ song(u"夜明け.wav"_s), long90 }, u"金曜"_s));
        SongTable &list = w.window->form()->MSHFlexGrid2();
        auto *grid = w.child<SongGrid>(u"MSHFlexGrid2"_s);
        const auto mark = [&] { return grid->model()->index(1, 3).data(SongTableModel::EditMarkRole).toString(); };

        // Typed points, a fade and a cut: 10 s to 80 s less 10 s is 60 s.
        const auto edit = [&](const std::function<void(SongEditsPanel *)> &drive) {
            w.window->editsController()->setPanelHook([&](SongEditsPanel *panel) {
                drive(panel);
                QCOMPARE(panel->findChildren<QWidget *>().size() > 20, true);
                for (QWidget *control : panel->findChildren<QWidget *>())
                    if (control->focusPolicy() != Qt::NoFocus && !control->objectName().startsWith(u"qt_"_s))
                        QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
            });
            list.setRow(2);
            w.menu(u"editSongAction"_s);
        };
        const auto type = [](SongEditsPanel *panel, const QString &field, const QString &time) {
            auto *line = panel->findChild<QLineEdit *>(field);
            line->setText(time);
            Q_EMIT line->editingFinished();
        };
        edit([&](SongEditsPanel *panel) {
            type(panel, u"startEdit"_s, u"0:10"_s);
            type(panel, u"endEdit"_s, u"80"_s);
            // The end dragged on the picture: the box follows, to the millisecond of the pixel
            // with Alt held, else snapped to a crossing within 10 ms of it.
            auto *view = panel->findChild<SongEditView *>(u"songEditView"_s);
            const int endX = view->xOf(80'000), toX = endX - 8;
            QTest::mousePress(view, Qt::LeftButton, {}, QPoint(endX, 20));
            QTest::mouseMove(view, QPoint(toX, 20));
            QTest::mouseRelease(view, Qt::LeftButton, Qt::AltModifier, QPoint(toX, 20));
            QCOMPARE(panel->findChild<QLineEdit *>(u"endEdit"_s)->text(), SongEditsPanel::timeText(view->msAt(toX)));
            QTest::mousePress(view, Qt::LeftButton, {}, QPoint(toX, 20));
            QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(toX, 20));
            const auto end = SongEditsPanel::msOfTime(panel->findChild<QLineEdit *>(u"endEdit"_s)->text());
            QVERIFY(end && std::abs(*end - view->msAt(toX)) <= 10);
            QVERIFY(view->width() > 50 && std::abs(view->msAt(toX) - (80'000 - 8 * 90'000 / view->width())) < 2 * 90'000 / view->width());
            // From the keyboard: ] takes the end, → moves it 10 ms, Shift+← 1 ms back.
            view->setFocus();
            const qint64 endNow = *SongEditsPanel::msOfTime(panel->findChild<QLineEdit *>(u"endEdit"_s)->text());
            QTest::keyClick(view, Qt::Key_BracketRight);
            QTest::keyClick(view, Qt::Key_Right);
            QTest::keyClick(view, Qt::Key_Left, Qt::ShiftModifier);
            QCOMPARE(panel->findChild<QLineEdit *>(u"endEdit"_s)->text(), SongEditsPanel::timeText(endNow + 9));
            // A drag across the song is a cut; Undo takes it back, and then the change before it.
            auto *cuts = panel->findChild<QListWidget *>();
            const int from = view->xOf(50'000), to = view->xOf(60'000);
            QTest::mousePress(view, Qt::LeftButton, {}, QPoint(from, 40));
            QTest::mouseMove(view, QPoint(to, 40));
            QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(to, 40));
            QCOMPARE(cuts->count(), 1);
            auto *undo = panel->findChild<QPushButton *>(u"undoEditButton"_s);
            const QString endBefore = panel->findChild<QLineEdit *>(u"endEdit"_s)->text();
            undo->click();
            QVERIFY(cuts->count() == 0 && panel->findChild<QLineEdit *>(u"endEdit"_s)->text() == endBefore);
            undo->click();
            QVERIFY(panel->findChild<QLineEdit *>(u"endEdit"_s)->text() != endBefore);
            type(panel, u"endEdit"_s, u"80"_s);
            panel->findChild<QDoubleSpinBox *>(u"fadeOutSpin"_s)->setValue(5);
            panel->findChild<QLineEdit *>(u"cutFromEdit"_s)->setText(u"0:30.000"_s);
            panel->findChild<QLineEdit *>(u"cutToEdit"_s)->setText(u"0:40"_s);
            panel->findChild<QPushButton *>(u"addCutButton"_s)->click();
            QVERIFY(panel->findChild<QLabel *>(u"editedLengthLabel"_s)->text().contains(u"00:01:00"_s));
            // A cut from the song's very start becomes its new start, not nothing.
            panel->findChild<QLineEdit *>(u"cutFromEdit"_s)->setText(u"0:00"_s);
            panel->findChild<QLineEdit *>(u"cutToEdit"_s)->setText(u"0:12"_s);
            panel->findChild<QPushButton *>(u"addCutButton"_s)->click();
            QVERIFY2(panel->findChild<QLabel *>(u"editedLengthLabel"_s)->text().contains(u"00:00:58"_s),
                     qPrintable(panel->findChild<QLabel *>(u"editedLengthLabel"_s)->text()));
            panel->findChild<QPushButton *>(u"okButton"_s)->click();
        });
        QCOMPARE(list.textAt(2, 3) + u' ' + w.window->form()->totalText() + u' ' + mark(), u"00:00:58 00:01:00 ✎"_s);
        const SongEdits applied = list.extrasAt(2).edits;
        QCOMPARE(applied.toText().section(u";file="_s, 0, 0), u"start=12.000;end=80.000;fadeout=5.000;cut=30.000-40.000"_s);

        // Cancel leaves the row; saved and opened again, it reads the same.
        edit([&](SongEditsPanel *panel) {
            panel->findChild<QPushButton *>(u"clearEditsButton"_s)->click();
            panel->findChild<QPushButton *>(u"cancelButton"_s)->click();
        });
        QCOMPARE(list.extrasAt(2).edits, applied);
        w.file = w.dir.filePath(u"edited.m3u8"_s);
        w.menu(u"saveSetListAsAction"_s);
        const QStringList before = w.state().mid(0, 4);
        w.shown.clear();
        QVERIFY(w.window->openSetList(w.file));
        QCOMPARE(w.state().mid(0, 4), before);
        QCOMPARE(list.extrasAt(2).edits, applied);
        QVERIFY2(w.shown.isEmpty(), qPrintable(w.lastPrompt()));

        // The slot: 00:00:53 with no pause is 7 s short; the last song ends 7 s earlier, faded.
        w.typeSlot(u"00:00:53"_s, 0);
        w.answers = { false, true };
        w.menu(u"fitSlotAction"_s);
        QVERIFY2(w.lastPrompt().contains(u"00:00:58 → 00:00:51"_s), qPrintable(w.lastPrompt()));
        QCOMPARE(list.textAt(2, 3), u"00:00:58"_s); // declined
        w.menu(u"fitSlotAction"_s);
        QCOMPARE(list.textAt(2, 3) + u' ' + w.window->form()->totalText(), u"00:00:51 00:00:53"_s);
        QCOMPARE(list.extrasAt(2).edits.endMs, std::optional<qint64>(73'000));

        // The song file changed since: named when the set list opens, its edits kept and flagged.
        w.menu(u"saveSetListAction"_s);
        QFile changed(long90);
        QVERIFY(changed.open(QIODevice::Append) && changed.write(QByteArray(4, '\0')) == 4);
        changed.close();
        QVERIFY(w.window->openSetList(w.file));
        QVERIFY2(w.lastPrompt().contains(u"長い曲.wav"_s), qPrintable(w.lastPrompt()));
        QVERIFY(list.extrasAt(2).editsStale && list.extrasAt(2).edits.endMs == std::optional<qint64>(73'000));
        QCOMPARE(mark(), u"✎!"_s);

        // Silence of 1.5 s at the head and 1 s at the tail, found and trimmed at one click;
        // a point taken at the playing position of the song.
        const QString quiet = w.dir.filePath(u"静か.wav"_s);
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s,
                                   u"aevalsrc=if(between(t\\,1.5\\,4)\\,0.5*sin(2*PI*440*t)\\,0):s=44100:d=5"_s, quiet }));
        QVERIFY(w.window->form()->replaceSetList({ quiet, long90 }, u"土曜"_s));
        list.setRow(1);
        w.window->editsController()->setPanelHook([&](SongEditsPanel *panel) {
            panel->findChild<QPushButton *>(u"trimSilenceButton"_s)->click();
            QCOMPARE(panel->findChild<QLineEdit *>(u"startEdit"_s)->text() + u' ' + panel->findChild<QLineEdit *>(u"endEdit"_s)->text(),
                     u"0:01.500 0:04.000"_s);
            QCOMPARE(panel->findChild<QLabel *>(u"silenceLabel"_s)->text(), u"頭 1.50 秒・終わり 1.00 秒の無音"_s);
            if (SystemOnly::noSteadyPlayback()) {
                // Nothing plays steadily here to take a point from: the end is typed.
                auto *end = panel->findChild<QLineEdit *>(u"endEdit"_s);
                end->setText(u"0:03.200"_s);
                Q_EMIT end->editingFinished();
            } else {
                panel->findChild<QPushButton *>(u"playSourceButton"_s)->click();
                QTRY_VERIFY(w.media.positionMs(quiet) >= 3000);
                panel->findChild<QPushButton *>(u"endHereButton"_s)->click();
            }
            const qint64 end = SongEditsPanel::msOfTime(panel->findChild<QLineEdit *>(u"endEdit"_s)->text()).value_or(0);
            QVERIFY2(end >= 3000 && end < 4000, qPrintable(QString::number(end)));
            panel->findChild<QPushButton *>(u"okButton"_s)->click();
        });
        w.menu(u"editSongAction"_s);
        QCOMPARE(list.textAt(1, 3), u"00:00:01"_s);
        QCOMPARE(w.media.openPaths(), QStringList()); // the panel's listening ends with it
        // The row tells whether the chosen format keeps it lossless: a trimmed WAV as it is, yes;
        // made into MP3, no.
        const auto tip = [&] {
            return w.window->findChild<SongGrid *>(u"MSHFlexGrid2"_s)->tableModel()->index(0, 3).data(Qt::ToolTipRole).toString();
        };
        QVERIFY2(tip().endsWith(u"劣化しません"_s), qPrintable(tip()));
        w.menu(u"exportFormat_mp3"_s);
        QVERIFY2(tip().contains(u"作り直します"_s), qPrintable(tip()));
    }

    // The edit picture zoomed from the whole song down to its samples: a click at
    // a known frame stays in the column of its place, and nowhere else.
    void editPictureZoomsToTheSamples()
    {
        QTemporaryDir dir;
        const QString click = dir.filePath(u"click.wav"_s);
        constexpr qint64 At = 50'000;
        QVERIFY(MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, u"aevalsrc=if(eq(n\\,%1)\\,0.9\\,0):s=44100:d=2"_s.arg(At), u"-ac"_s, u"2"_s, click }));
        PeakScan scan(click, dir.filePath(u"peaks"_s));
        QSignalSpy finished(&scan, &PeakScan::finished);
        QVERIFY(finished.wait(10000));
        SongEditView view;
        view.resize(600, 100);
        view.setOutline(scan.peaks());
        view.setEdits({}, 2000);
        view.setSamplesFrom(click);
        const double atMs = double(At) * 1000.0 / 44100.0;
        for (const double span : { 2000.0, 500.0, 40.0, 1.5 }) {
            view.showRange(atMs - span / 3, atMs - span / 3 + span);
            const std::vector<Peaks::Point> columns = view.columnsInView(600);
            const int x = int((atMs - view.viewFromMs()) * 600 / (view.viewToMs() - view.viewFromMs()));
            QVERIFY2(std::max(columns[size_t(x)].max, columns[size_t(qMin(599, x + 1))].max) >= 0.5f,
                     qPrintable(u"%1 ms across: column %2"_s.arg(span).arg(x)));
            // Drawn between samples as the line joining them: within a frame of it.
            const double perFrame = 600 / (span * 44.1);
            for (int c = 0; c < 600; ++c)
                QVERIFY2(std::abs(c - x) <= std::max(3.0, perFrame) || columns[size_t(c)].max < 0.1f,
                         qPrintable(u"%1 ms across: column %2 of %3"_s.arg(span).arg(c).arg(x)));
        }
    }

    void slotFiguresAndStageSheet()
    {
        const QStringList sheetActions{ u"printAction"_s, u"exportPdfAction"_s };
        const std::pair<QString, QString> slotRows[] = { { QString(), QString() }, { u"00:11:00"_s, u"残り 00:00:00"_s },
                                                         { u"0:10:59"_s, u"超過 00:00:01 in red"_s } };
        Window w({ u"A.wav"_s, u"B.wav"_s, u"C.wav"_s });
        w.pdf = w.dir.filePath(u"sheet.pdf"_s);
        for (const QString &action : sheetActions) {
            w.menu(action); // an empty set list has nothing to print
            QVERIFY(w.lastPrompt() == u"セットリストに曲がセットされていません"_s && !QFile::exists(w.pdf));
        }
        // Songs of 100, 200 and 300 s with 30 s between them: 600 + 2 x 30.
        w.add(1), w.add(2), w.add(3);
        for (const auto &[slot, left] : slotRows) {
            w.typeSlot(slot, 30);
            QCOMPARE(w.child<QLabel>(u"songCount"_s)->text() + w.child<QLabel>(u"totalLength"_s)->text(), u"3 曲合計 00:10:00"_s);
            QCOMPARE(w.child<QLabel>(u"slotLeft"_s)->text() + (w.child(u"slotLeft"_s)->styleSheet().contains(u"red"_s) ? u" in red"_s : QString()), left);
        }
        for (const QString &action : sheetActions) {
            w.menu(action);
            QVERIFY(fixtures::contents(w.pdf).startsWith("%PDF") && QFile::remove(w.pdf));
        }
        // The slot is kept in the set-list file and for the next run.
        w.typeSlot(u"00:25:00"_s, 30);
        w.savedThenChanged(w.dir.path());
        w.restart();
        QCOMPARE(w.child<QLineEdit>(u"slotLength"_s)->text() + u'+' + QString::number(w.child<QSpinBox>(u"pauseLength"_s)->value()), u"00:25:00+30"_s);
        w.typeSlot(u"00:45:00"_s, 0);
        QVERIFY(w.window->openSetList(w.file));
        QCOMPARE(w.child<QLabel>(u"slotLeft"_s)->text(), u"残り 00:24:25"_s); // 25:00 - 2 s - 3 s - one pause of 30 s
    }

    void audioCd()
    {
        Window w;
        QVERIFY(w.window->form()->replaceSetList({ song(u"夜明け.wav"_s), song(u"2部/#海.wav"_s) }, u"金曜"_s));
        // Two songs padded to 4 s each, 2 s between them, 2 s before the first.
        QCOMPARE(w.child<QLabel>(u"cdFitLabel"_s)->text(), u"CD 1 枚に収まります（残り 79:48）"_s);
        w.menu(u"audioCdNoGapAction"_s);
        QCOMPARE(w.child<QLabel>(u"cdFitLabel"_s)->text(), u"CD 1 枚に収まります（残り 79:50）"_s);

        // No drive: the image is offered instead (made without asking where no disc is ever
        // burned), and written where the user says.
        const bool burns = DiscWriter::systemBurnsDiscs();
        w.cue = w.dir.filePath(u"金曜.cue"_s);
        w.answers = { burns };
        w.menu(u"audioCdAction"_s);
        QVERIFY2(!burns || w.shown.value(0).prompt.startsWith(u"CD を書き込めるドライブが見つかりません。\nかわりに音楽CDのイメージ"_s), qPrintable(w.shown.value(0).prompt));
        QVERIFY2(w.lastPrompt().startsWith(u"音楽CDのイメージを作りました。"_s) && w.lastPrompt().contains(u"「夜明け」は 4 秒より短いため"_s),
                 qPrintable(w.lastPrompt()));
        QCOMPARE(QFileInfo(w.dir.filePath(u"金曜.bin"_s)).size(), 600 * CdLayout::BytesPerSector);
        QVERIFY(fixtures::contents(w.cue).contains("TITLE \"#\xe6\xb5\xb7\""));

        // A drive without a blank disc: No to the image writes nothing.
        QVERIFY(QFile::remove(w.cue));
        w.cdWriter.drive = DiscWriter::Drive{ u"TEST CDRW"_s, false, 0, true };
        w.shown.clear();
        w.menu(u"audioCdAction"_s);
        QVERIFY(w.lastPrompt().startsWith(u"ドライブ「TEST CDRW」に空の CD-R が入っていません。"_s) && !QFile::exists(w.cue));
        // Asked by the system to end, the image stops as its cancel stops it: nothing left.
        StopSignal::install();
        ::raise(SIGTERM);
        w.answers = { true };
        w.menu(u"audioCdAction"_s);
        StopSignal::clear();
        std::signal(SIGINT, SIG_DFL), std::signal(SIGTERM, SIG_DFL);
        QVERIFY(w.lastPrompt().startsWith(u"音楽CDの作成を中止しました。"_s) && !QFile::exists(w.cue));

        // A blank disc: burned from a whole image, with its titles, tested first when asked.
        w.cdWriter.drive->blankDisc = true;
        w.answer = Window::Answer::Yes;
        w.menu(u"audioCdTestAction"_s);
        w.menu(u"audioCdAction"_s);
        QCOMPARE(w.cdWriter.burned, (QStringList{ u"1"_s, u"金曜"_s, u"夜明け|#海"_s, u"1"_s }));
        QVERIFY2(w.lastPrompt().startsWith(u"音楽CDを書き込みました。"_s), qPrintable(w.lastPrompt()));
        // The choices hold for the next run.
        w.restart();
        QVERIFY(w.child<QAction>(u"audioCdNoGapAction"_s)->isChecked() && w.child<QAction>(u"audioCdTestAction"_s)->isChecked());
    }

    // Each song's loudness beside its name once measured, the jumps marked, the
    // spread in the status bar, and the option to match kept for the next run.
    void setListLoudness()
    {
        Window w({ u"hour.wav"_s });
        const QString loud = w.dir.filePath(u"loud.wav"_s), quiet = w.dir.filePath(u"quiet.wav"_s);
        for (const auto &[file, volume] : { std::pair{ loud, u"-3dB"_s }, std::pair{ quiet, u"-12dB"_s } })
            QVERIFY(MediaGen::run(u"ffmpeg"_s, { u"-v"_s, u"error"_s, u"-y"_s, u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=f=1000:d=3"_s,
                                                 u"-af"_s, u"volume="_s + volume, file }));
        QVERIFY(w.window->form()->replaceSetList({ loud, quiet, loud }, u"音量"_s));
        auto *label = w.child<QLabel>(u"loudnessLabel"_s);
        QTRY_VERIFY_WITH_TIMEOUT(label->text().startsWith(u"音量 "_s) && !label->text().contains(u"測っています"_s), 20000);
        // A sine at 1/8 of full scale, heard on both speakers: -18.1 LUFS before the volume.
        QCOMPARE(label->text(), u"音量 -30.1〜-21.1 LUFS（差 9.0 LU）"_s);
        const auto *delegate = qobject_cast<LoudnessCellDelegate *>(w.child<SongGrid>(u"MSHFlexGrid2"_s)->itemDelegateForColumn(1));
        QVERIFY(delegate && delegate->marks().size() == 3);
        QCOMPARE(delegate->marks()[1].text, u"-30.1"_s);
        QCOMPARE((QList<int>{ delegate->marks()[0].jump, delegate->marks()[1].jump, delegate->marks()[2].jump }), (QList<int>{ 0, -1, 1 }));
        // The set list's own four columns are untouched.
        QCOMPARE(w.window->form()->MSHFlexGrid2().Cols(), 4);

        w.menu(u"matchLevelsAction"_s);
        QVERIFY(label->text().endsWith(u"そろえる目標 -21.1 LUFS"_s));

        // The quiet song rendered again under its name, as loud as the others:
        // the export measures it anew instead of lifting it by its old level.
        QVERIFY(MediaGen::run(u"ffmpeg"_s, { u"-v"_s, u"error"_s, u"-y"_s, u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=f=1000:d=3"_s,
                                             u"-af"_s, u"volume=-3dB"_s, quiet }));
        w.window->form()->findChild<QLineEdit *>(u"Text2"_s)->setText(w.dir.filePath(u"out"_s));
        w.answers = { true };
        w.click(u"Command9"_s);
        QCOMPARE(w.lastPrompt(), u"出力完了、テキストボックスにセトリ書き出し完了"_s);
        QCOMPARE(fixtures::contents(w.dir.filePath(u"out/音量/02 quiet.wav"_s)), fixtures::contents(quiet));

        // A song the background is still measuring (an hour of silence, which
        // takes no room on disk): the export waits for that measurement in a
        // progress dialog, and its cancel stops the export before anything is made.
        QFile hour(w.dir.filePath(u"hour.wav"_s));
        QVERIFY(hour.open(QIODevice::WriteOnly));
        const quint32 bytes = 44100u * 4 * 3600;
        QDataStream wav(&hour);
        wav.setByteOrder(QDataStream::LittleEndian);
        wav.writeRawData("RIFF", 4), wav << quint32(36 + bytes), wav.writeRawData("WAVEfmt ", 8);
        wav << quint32(16) << quint16(1) << quint16(2) << quint32(44100) << quint32(44100 * 4) << quint16(4) << quint16(16);
        wav.writeRawData("data", 4), wav << bytes;
        QVERIFY(hour.resize(44 + bytes));
        w.add(1);
        bool cancelled = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto *dialog = w.window->findChild<QProgressDialog *>(); dialog && dialog->isVisible() && !cancelled)
                cancelled = true, dialog->findChild<QPushButton *>()->click();
        });
        poll.start(20);
        const QStringList made = QDir(w.dir.filePath(u"out/音量"_s)).entryList(QDir::Files);
        w.answers = { true };
        w.click(u"Command9"_s);
        QVERIFY(cancelled);
        QCOMPARE(w.lastPrompt(), u"出力を中止しました。ファイルは作っていません。"_s);
        QCOMPARE(QDir(w.dir.filePath(u"out/音量"_s)).entryList(QDir::Files), made);
        w.restart();
        QVERIFY(w.child<QAction>(u"matchLevelsAction"_s)->isChecked());
    }

    // The export for the player: the format and the matched levels chosen in
    // the menu, shown beside the preview and kept; the song its peak keeps down
    // named before anything is written; converted songs under their number and
    // title with the new extension, the set list text as ever.
    void exportForThePlayer()
    {
        Window w;
        const QString loud = w.dir.filePath(u"loud.wav"_s), quiet = w.dir.filePath(u"quiet.ogg"_s), spiky = w.dir.filePath(u"spiky.wav"_s);
        for (const auto &[file, source] : { std::pair{ loud, u"sine=f=1000:d=3,volume=-3dB"_s },
                                            std::pair{ quiet, u"sine=f=1000:d=3,volume=-8dB"_s },
                                            std::pair{ spiky, u"aevalsrc=0.02*sin(1000*2*PI*t)+if(lt(mod(t\\,1)\\,0.0003)\\,0.9\\,0):s=44100:d=3"_s } })
            QVERIFY(MediaGen::run(u"ffmpeg"_s, { u"-v"_s, u"error"_s, u"-y"_s, u"-f"_s, u"lavfi"_s, u"-i"_s, source, file }));
        QVERIFY(w.window->form()->replaceSetList({ loud, quiet, spiky }, u"本番"_s));
        w.window->form()->findChild<QLineEdit *>(u"Text2"_s)->setText(w.dir.filePath(u"out"_s));

        auto *label = w.child<QLabel>(u"exportOptionsLabel"_s);
        QCOMPARE(label->text(), u" 出力: 元のまま"_s);
        w.menu(u"exportFormat_mp3"_s);
        w.menu(u"matchLevelsAction"_s);
        QCOMPARE(label->text(), u" 出力: MP3・音量をそろえる"_s);

        w.answers = { true, true };
        w.click(u"Command9"_s);
        QCOMPARE(w.shown.size(), 3);
        QVERIFY2(w.shown[1].prompt.contains(u"・spiky（+"_s) && !w.shown[1].prompt.contains(u"quiet"_s), qPrintable(w.shown[1].prompt));
        QCOMPARE(w.lastPrompt(), u"出力完了、テキストボックスにセトリ書き出し完了"_s);
        const QString folder = w.dir.filePath(u"out/本番"_s);
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), (QStringList{ u"01 loud.mp3"_s, u"02 quiet.mp3"_s, u"03 spiky.mp3"_s }));
        QCOMPARE(w.window->form()->findChild<SetListTextBox *>(u"Text4"_s)->text(), u"01 loud\r\n02 quiet\r\n03 spiky\r\n"_s);

        w.restart();
        QVERIFY(w.child<QAction>(u"exportFormat_mp3"_s)->isChecked());
        QCOMPARE(w.child<QLabel>(u"exportOptionsLabel"_s)->text(), u" 出力: MP3・音量をそろえる"_s);
    }

    // An edited row through the window with 元のまま: the song is delivered as
    // its edits shape it, and the set list text gives its edited length.
    void exportsEditedSongs()
    {
        Window w;
        const QString song = w.dir.filePath(u"edited.wav"_s);
        QVERIFY(MediaGen::run(u"ffmpeg"_s, { u"-v"_s, u"error"_s, u"-y"_s, u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=f=1000:d=3"_s, song }));
        SetListRowExtras extras;
        extras.edits.startMs = 500;
        extras.edits.endMs = 2750;
        QVERIFY(w.window->form()->replaceSetList({ song }, u"編集"_s, { extras }));
        w.window->form()->findChild<QLineEdit *>(u"Text2"_s)->setText(w.dir.filePath(u"out"_s));
        w.answers = { true };
        w.click(u"Command9"_s);
        QCOMPARE(w.lastPrompt(), u"出力完了、テキストボックスにセトリ書き出し完了"_s);
        QVERIFY(std::abs(MediaGen::decodedLengthMs(w.dir.filePath(u"out/編集/01 edited.wav"_s)).value_or(0) - 2250.0) < 0.1);
        QCOMPARE(w.window->form()->findChild<SetListTextBox *>(u"Text4"_s)->text(), u"01 edited（00:00:02）\r\n"_s);
    }

    void dropEndsAsTheButtonsLeaveIt()
    {
        // Songs in the set list, the library row dragged (5 is a folder), the
        // row dropped on (0: below the rows), the up presses that put it there.
        const int drops[][4] = { { 3, 4, 1, 3 }, { 3, 1, 2, 2 }, { 2, 3, 0, 0 }, { 0, 2, 1, 0 }, { 1, 5, 1, 0 } };
        const QStringList names{ u"A.wav"_s, u"B.wav"_s, u"C.wav"_s, u"D.wav"_s, LibraryEntry::FolderMarker + u"sub"_s };
        for (const auto &[songsBefore, libraryRow, dropRow, upPresses] : drops) {
            Window dragged(names), pressed(names);
            for (int r = 1; r <= songsBefore; ++r)
                dragged.add(r), pressed.add(r);
            dragged.drag(libraryRow, dropRow);
            pressed.add(libraryRow);
            for (int i = 0; i < upPresses; ++i)
                pressed.click(u"Command5"_s);
            QCOMPARE(dragged.state(), pressed.state());
            QCOMPARE(dragged.lastPrompt(), pressed.lastPrompt());
        }
    }

    void typingJumpsToTheFirstName()
    {
        QApplication::setKeyboardInputInterval(24 * 3600 * 1000); // however slow the machine, one name
        // Keys typed, then text committed by an input method, and the row it finds.
        const std::tuple<QString, QString, int> typed[] = { { u"bl"_s, {}, 3 }, { u"BA"_s, {}, 2 }, { u"z"_s, {}, 1 },
                                                            { {}, u"さん"_s, 5 }, { u"s"_s, u"ど"_s, 6 } };
        for (const auto &[keys, composed, row] : typed) {
            Window w({ u"Apple.wav"_s, u"banana.wav"_s, u"Blue.wav"_s, u"さくら.wav"_s, u"サンバ.wav"_s, u"sどれ.wav"_s });
            QTest::keyClicks(w.child(u"MSHFlexGrid1"_s), keys);
            QInputMethodEvent commit;
            commit.setCommitString(composed);
            QApplication::sendEvent(w.child(u"MSHFlexGrid1"_s), &commit);
            QCOMPARE(w.window->form()->MSHFlexGrid1().Row(), row);
        }
    }
};

KORVANDA_FORM_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
