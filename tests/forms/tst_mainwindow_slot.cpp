// The window around the client area and the quicker ways into the set list:
// the slot figures in the status bar, the slot kept between runs and in the
// set-list file, the stage sheet from the menu, songs dragged from the library
// (ending exactly as the add and up buttons leave them), type-ahead in the library.
#include "support/formfixture.h"

#include "forms/mainwindow.h"
#include "forms/songgrid.h"
#include "model/libraryentry.h"
#include "platform/desktop/setlistdialog.h"
#include "platform/desktop/stagesheetdialogs.h"
#include "support/mediagen.h"

#include <QAction>
#include <QFile>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>

using namespace Qt::StringLiterals;

namespace {

struct Scripted : SetListDialog, StageSheetDialogs
{
    QString fileToOpen(QWidget *, const QString &) override { return {}; }
    QString fileToSave(QWidget *, const QString &) override { return save; }
    // Prints into a PDF file, as a "print to file" printer does.
    bool choosePrinter(QWidget *, QPrinter &printer) override
    {
        printer.setOutputFileName(printTo);
        return true;
    }
    QString pdfToSave(QWidget *, const QString &) override { return {}; }
    QString save, printTo;
};

struct WindowFixture
{
    // Library rows of songs in the fixture's folder, with these lengths.
    explicit WindowFixture(const QStringList &names = {}, const QList<int> &seconds = {})
    {
        start();
        SongTable &library = window->form()->MSHFlexGrid1();
        library.setRows(int(names.size()) + 1);
        for (int i = 0; i < names.size(); ++i) {
            const QStringList cells{ QString::number(i + 1), names[i], dir.filePath(names[i]),
                                     QTime(0, 0).addSecs(seconds.value(i)).toString(u"hh:mm:ss"_s) };
            for (int c = 0; c < 4; ++c) {
                library.setRow(i + 1);
                library.setCol(c);
                library.setText(cells[c]);
            }
        }
        library.setRow(1);
        library.setCol(1);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void start()
    {
        window.reset();
        window = std::make_unique<MainWindow>(Form1Services{ &boxes, &folders, &media, dir.path() }, &scripted);
        window->setStageSheetDialogs(&scripted);
    }
    template<typename T = QWidget> [[nodiscard]] T *child(const QString &name) const
    {
        return window->findChild<T *>(name);
    }
    [[nodiscard]] QString text(const QString &label) const { return child<QLabel>(label)->text(); }
    void add(int libraryRow) const
    {
        window->form()->MSHFlexGrid1().setRow(libraryRow);
        child<QPushButton>(u"Command2"_s)->click();
    }
    void typeSlot(const QString &slot, int pause) const
    {
        child<QLineEdit>(u"slotLength"_s)->clear();
        QTest::keyClicks(child(u"slotLength"_s), slot);
        child<QSpinBox>(u"pauseLength"_s)->setValue(pause);
    }
    // Everything a user sees of both tables and the total.
    [[nodiscard]] QStringList state() const
    {
        QStringList all{ child<QLineEdit>(u"Text6"_s)->text() };
        for (const SongTable *t : { &window->form()->MSHFlexGrid1(), &window->form()->MSHFlexGrid2() }) {
            for (int c = 0; c < 4; ++c)
                all << columnTexts(*t, c).join(u'|');
            all << u"cursor %1,%2"_s.arg(t->Row()).arg(t->Col());
        }
        return all.replaceInStrings(dir.path(), u"~"_s);
    }

    QTemporaryDir dir;
    ScriptedBoxes boxes;
    ScriptedFolderDialog folders;
    MediaService media;
    Scripted scripted;
    std::unique_ptr<MainWindow> window;
};

QPoint rowCenter(const WindowFixture &f, const QString &grid, int tableRow)
{
    auto *g = f.child<SongGrid>(grid);
    return g->viewport()->mapToGlobal(g->visualRect(g->model()->index(tableRow - 1, 1)).center());
}

// Press on a library row, move onto the set list (a row of it, or below its
// rows for 0), let go there.
void dragToSetList(const WindowFixture &f, int libraryRow, int setListRow)
{
    QWidget *vp = f.child<SongGrid>(u"MSHFlexGrid1"_s)->viewport();
    auto *list = f.child<SongGrid>(u"MSHFlexGrid2"_s);
    const QPoint from = vp->mapFromGlobal(rowCenter(f, u"MSHFlexGrid1"_s, libraryRow));
    const QPoint to = vp->mapFromGlobal(setListRow > 0 ? rowCenter(f, u"MSHFlexGrid2"_s, setListRow)
                                                       : list->viewport()->mapToGlobal(QPoint(20, list->viewport()->height() - 4)));
    QTest::mousePress(vp, Qt::LeftButton, {}, from);
    for (const QPoint &p : { from + QPoint(0, 8), to }) {
        QMouseEvent move(QEvent::MouseMove, p, vp->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &move);
    }
    QTest::mouseRelease(vp, Qt::LeftButton, {}, to);
}

const QStringList Songs{ u"A.wav"_s, u"B.wav"_s, u"C.wav"_s, u"D.wav"_s };

} // namespace

class TestMainWindowSlot : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusBarFollowsTheSetList_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QString>("left");
        // Songs of 100, 200 and 300 s with 30 s between them: 600 + 2 x 30.
        QTest::newRow("no slot") << QString() << QString();
        QTest::newRow("exactly full") << u"00:11:00"_s << u"残り 00:00:00"_s;
        QTest::newRow("one second over") << u"0:10:59"_s << u"超過 00:00:01"_s;
        QTest::newRow("unreadable slot") << u"00:61:00"_s << u"持ち時間は hh:mm:ss で入力してください"_s;
    }
    void statusBarFollowsTheSetList()
    {
        QFETCH(QString, slot);
        QFETCH(QString, left);
        WindowFixture f(Songs, { 100, 200, 300 });
        for (int r = 1; r <= 3; ++r)
            f.add(r);
        f.typeSlot(slot, 30);
        QCOMPARE(f.text(u"songCount"_s) + f.text(u"totalLength"_s), u"3 曲合計 00:10:00"_s);
        QCOMPARE(f.text(u"slotLeft"_s), left);
        QCOMPARE(f.child(u"slotLeft"_s)->styleSheet().contains(u"red"_s), left.startsWith(u"超過"_s));
        QCOMPARE(f.child<QLineEdit>(u"Text6"_s)->text(), u"00:10:00"_s);
    }

    void slotIsRememberedAndKeptInTheSetList()
    {
        WindowFixture f(Songs, { 60, 120 });
        for (const QString &song : Songs.mid(0, 2))
            QVERIFY(MediaGen::tone(f.dir.filePath(song), 1));
        f.add(1);
        f.add(2);
        f.typeSlot(u"00:25:00"_s, 30);
        f.scripted.save = f.dir.filePath(u"金曜.m3u8"_s);
        f.child<QAction>(u"saveSetListAction"_s)->trigger();
        QFile saved(f.scripted.save);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll().contains("\n#KORVANDA-SLOT:00:25:00\n#KORVANDA-PAUSE:30\n"));

        f.start(); // the next run starts with the slot of the last one
        QCOMPARE(f.child<QLineEdit>(u"slotLength"_s)->text(), u"00:25:00"_s);
        QCOMPARE(f.child<QSpinBox>(u"pauseLength"_s)->value(), 30);

        f.typeSlot(u"00:45:00"_s, 0);
        QVERIFY(f.window->openSetList(f.scripted.save));
        // Opened songs carry their real lengths, one second each: 25:00 - 2 - 30.
        QCOMPARE(f.text(u"slotLeft"_s), u"残り 00:24:28"_s);
    }

    void stageSheetFromTheMenu()
    {
        WindowFixture f(Songs, { 61, 62 });
        f.scripted.printTo = f.dir.filePath(u"printed.pdf"_s);
        f.child<QAction>(u"printAction"_s)->trigger(); // an empty set list has nothing to print
        QCOMPARE(f.boxes.lastPrompt(), u"セットリストに曲がセットされていません"_s);
        QVERIFY(!QFile::exists(f.scripted.printTo));
        f.add(1);
        f.add(2);
        f.child<QLineEdit>(u"Text3"_s)->setText(u"土曜ライブ"_s);
        f.child<QAction>(u"printAction"_s)->trigger();
        QProcess text;
        text.start(u"pdftotext"_s, { u"-layout"_s, f.scripted.printTo, u"-"_s });
        QVERIFY(text.waitForFinished(60000));
        const QString sheet = QString::fromUtf8(text.readAllStandardOutput()).simplified();
        QVERIFY2(sheet.contains(u"土曜ライブ"_s) && sheet.contains(u"02 B 00:01:02"_s), qPrintable(sheet));
    }

    void dropEndsAsTheButtonsLeaveIt_data()
    {
        QTest::addColumn<int>("songsBefore");
        QTest::addColumn<int>("libraryRow");
        QTest::addColumn<int>("dropRow"); // 0: below the rows
        QTest::addColumn<int>("upPresses");
        QTest::newRow("onto the first row") << 3 << 4 << 1 << 3;
        QTest::newRow("onto a middle row") << 3 << 1 << 2 << 2;
        QTest::newRow("below the rows") << 2 << 3 << 0 << 0;
        QTest::newRow("onto the empty set list") << 0 << 2 << 1 << 0;
        QTest::newRow("a folder row is refused") << 1 << 5 << 1 << 0;
    }
    void dropEndsAsTheButtonsLeaveIt()
    {
        QFETCH(int, songsBefore);
        QFETCH(int, libraryRow);
        QFETCH(int, dropRow);
        QFETCH(int, upPresses);
        const QStringList names = Songs + QStringList{ LibraryEntry::FolderMarker + u"sub"_s };
        WindowFixture dragged(names), pressed(names);
        for (int r = 1; r <= songsBefore; ++r) {
            dragged.add(r);
            pressed.add(r);
        }
        dragToSetList(dragged, libraryRow, dropRow);
        pressed.add(libraryRow);
        for (int i = 0; i < upPresses; ++i)
            pressed.child<QPushButton>(u"Command5"_s)->click();
        QCOMPARE(dragged.state(), pressed.state());
        QCOMPARE(dragged.boxes.lastPrompt(), pressed.boxes.lastPrompt());
    }

    void typingJumpsToTheFirstName_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("composed"); // committed by an input method
        QTest::addColumn<int>("row");
        QTest::newRow("first of several") << u"b"_s << QString() << 2;
        QTest::newRow("letters narrow it down") << u"bl"_s << QString() << 3;
        QTest::newRow("letter case ignored") << u"BA"_s << QString() << 2;
        QTest::newRow("no such name stays put") << u"z"_s << QString() << 1;
        QTest::newRow("hiragana") << QString() << u"さ"_s << 4;
        QTest::newRow("hiragana finds katakana") << QString() << u"さん"_s << 5;
        QTest::newRow("Latin then kana, one name") << u"s"_s << u"ど"_s << 6;
    }
    void typingJumpsToTheFirstName()
    {
        QFETCH(QString, keys);
        QFETCH(QString, composed);
        QFETCH(int, row);
        // However slowly the machine runs, the letters belong to one name.
        QApplication::setKeyboardInputInterval(24 * 3600 * 1000);
        WindowFixture f({ u"Apple.wav"_s, u"banana.wav"_s, u"Blue.wav"_s, u"さくら.wav"_s, u"サンバ.wav"_s, u"sどれ.wav"_s });
        QWidget *library = f.child(u"MSHFlexGrid1"_s);
        QTest::keyClicks(library, keys);
        QInputMethodEvent commit;
        commit.setCommitString(composed);
        QApplication::sendEvent(library, &commit);
        QCOMPARE(f.window->form()->MSHFlexGrid1().Row(), row);
    }
};

KORVANDA_FORM_TEST_MAIN(TestMainWindowSlot)
#include "tst_mainwindow_slot.moc"
