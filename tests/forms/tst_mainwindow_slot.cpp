// The window around the client area: the slot figures in the status bar, the
// slot kept between runs and in the set-list file, the stage sheet from the menu.
#include "formfixture.h"

#include "forms/mainwindow.h"
#include "platform/desktop/setlistdialog.h"
#include "platform/desktop/stagesheetdialogs.h"
#include "support/mediagen.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>

using namespace Qt::StringLiterals;

namespace {

struct ScriptedFiles : SetListDialog
{
    QString fileToOpen(QWidget *, const QString &) override { return open; }
    QString fileToSave(QWidget *, const QString &) override { return save; }
    QString open;
    QString save;
};

// Prints into a PDF file, the way a "print to file" printer does.
struct ScriptedSheetDialogs : StageSheetDialogs
{
    bool choosePrinter(QWidget *, QPrinter &printer) override
    {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(printTo);
        return !printTo.isEmpty();
    }
    QString pdfToSave(QWidget *, const QString &) override { return pdf; }
    QString printTo;
    QString pdf;
};

struct WindowFixture
{
    WindowFixture() { start(); }
    void start()
    {
        window.reset();
        window = std::make_unique<MainWindow>(Form1Services{ &boxes, &folders, &media, dir.path() }, &files);
        window->setStageSheetDialogs(&sheets);
    }
    template<typename T> [[nodiscard]] T *child(const QString &name) const { return window->findChild<T *>(name); }
    [[nodiscard]] QString text(const QString &label) const { return child<QLabel>(label)->text(); }
    void typeSlot(const QString &slot) const
    {
        auto *edit = child<QLineEdit>(u"slotLength"_s);
        edit->clear();
        QTest::keyClicks(edit, slot);
    }
    // Songs of these lengths in the library, each added with the add button.
    void addSongs(const QList<int> &seconds)
    {
        SongTable &library = window->form()->MSHFlexGrid1();
        library.setRows(int(seconds.size()) + 1);
        for (int i = 0; i < seconds.size(); ++i) {
            const QString path = dir.filePath(u"曲%1.wav"_s.arg(i + 1));
            QVERIFY(QFile::exists(path) || MediaGen::tone(path, 1));
            const QStringList cells{ QString::number(i + 1), QFileInfo(path).fileName(), path,
                                     u"00:%1:%2"_s.arg(seconds[i] / 60, 2, 10, QLatin1Char('0'))
                                         .arg(seconds[i] % 60, 2, 10, QLatin1Char('0')) };
            for (int c = 0; c < 4; ++c) {
                library.setRow(i + 1);
                library.setCol(c);
                library.setText(cells[c]);
            }
        }
        for (int i = 1; i <= seconds.size(); ++i) {
            library.setRow(i);
            child<QPushButton>(u"Command2"_s)->click();
        }
    }

    QTemporaryDir dir;
    ScriptedBoxes boxes;
    ScriptedFolderDialog folders;
    MediaService media;
    ScriptedFiles files;
    ScriptedSheetDialogs sheets;
    std::unique_ptr<MainWindow> window;
};

QString pdfText(const QString &pdf)
{
    QProcess process;
    process.start(u"pdftotext"_s, { u"-layout"_s, pdf, u"-"_s });
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class TestMainWindowSlot : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusBarFollowsTheSetList_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<int>("pause");
        QTest::addColumn<QString>("left");
        QTest::addColumn<bool>("red");
        // Three songs of 100 s, 200 s and 300 s: 600 s, plus two pauses.
        QTest::newRow("no slot") << QString() << 30 << QString() << false;
        QTest::newRow("exactly full") << u"00:11:00"_s << 30 << u"残り 00:00:00"_s << false;
        QTest::newRow("one second over") << u"0:10:59"_s << 30 << u"超過 00:00:01"_s << true;
        QTest::newRow("unreadable slot") << u"10min"_s << 0 << u"持ち時間は hh:mm:ss で入力してください"_s << false;
    }
    void statusBarFollowsTheSetList()
    {
        QFETCH(QString, slot);
        QFETCH(int, pause);
        QFETCH(QString, left);
        QFETCH(bool, red);
        WindowFixture f;
        f.addSongs({ 100, 200, 300 });
        QCOMPARE(f.text(u"songCount"_s), u"3 曲"_s);
        QCOMPARE(f.text(u"totalLength"_s), u"合計 00:10:00"_s);
        f.typeSlot(slot);
        f.child<QSpinBox>(u"pauseLength"_s)->setValue(pause);
        QCOMPARE(f.text(u"slotLeft"_s), left);
        QCOMPARE(f.child<QLabel>(u"slotLeft"_s)->styleSheet().contains(u"red"_s), red);
        // The client area's own total stays as it always was.
        QCOMPARE(f.child<QLineEdit>(u"Text6"_s)->text(), u"00:10:00"_s);

        // Deleting a song updates the figures.
        f.boxes.answers = { true };
        f.child<QPushButton>(u"Command3"_s)->click();
        QCOMPARE(f.text(u"songCount"_s), u"2 曲"_s);
    }

    void slotIsRememberedAndKeptInTheSetList()
    {
        WindowFixture f;
        f.addSongs({ 60, 120 });
        f.typeSlot(u"00:25:00"_s);
        f.child<QSpinBox>(u"pauseLength"_s)->setValue(30);
        f.files.save = f.dir.filePath(u"金曜.m3u8"_s);
        f.window->findChild<QAction *>(u"saveSetListAction"_s)->trigger();
        QFile saved(f.files.save);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray bytes = saved.readAll();
        QVERIFY2(bytes.contains("\n#KORVANDA-SLOT:00:25:00\n#KORVANDA-PAUSE:30\n"), bytes.constData());

        // The next run starts with the slot of the last one.
        f.start();
        QCOMPARE(f.child<QLineEdit>(u"slotLength"_s)->text(), u"00:25:00"_s);
        QCOMPARE(f.child<QSpinBox>(u"pauseLength"_s)->value(), 30);

        // Opening the set list brings its slot back.
        f.typeSlot(u"00:45:00"_s);
        f.child<QSpinBox>(u"pauseLength"_s)->setValue(0);
        QVERIFY(f.window->openSetList(f.files.save));
        QCOMPARE(f.child<QLineEdit>(u"slotLength"_s)->text(), u"00:25:00"_s);
        QCOMPARE(f.child<QSpinBox>(u"pauseLength"_s)->value(), 30);
        // Opened songs carry their real lengths, one second each: 25:00 - 2 - 30.
        QCOMPARE(f.text(u"slotLeft"_s), u"残り 00:24:28"_s);
    }

    void stageSheetFromTheMenu()
    {
        WindowFixture f;
        f.sheets.pdf = f.dir.filePath(u"sheet.pdf"_s);
        f.sheets.printTo = f.dir.filePath(u"printed.pdf"_s);
        // An empty set list has nothing to print.
        for (const QString &action : { u"exportPdfAction"_s, u"printAction"_s })
            f.window->findChild<QAction *>(action)->trigger();
        QCOMPARE(f.boxes.shown.size(), 2);
        QCOMPARE(f.boxes.lastPrompt(), u"セットリストに曲がセットされていません"_s);
        QVERIFY(!QFile::exists(f.sheets.pdf) && !QFile::exists(f.sheets.printTo));

        f.addSongs({ 61, 62 });
        f.child<QLineEdit>(u"Text3"_s)->setText(u"土曜ライブ"_s);
        for (const QString &action : { u"exportPdfAction"_s, u"printAction"_s })
            f.window->findChild<QAction *>(action)->trigger();
        QCOMPARE(f.boxes.shown.size(), 2);
        for (const QString &pdf : { f.sheets.pdf, f.sheets.printTo }) {
            const QString text = pdfText(pdf);
            QVERIFY2(text.contains(u"土曜ライブ"_s) && text.contains(u"曲2"_s) && text.contains(u"00:02:03"_s),
                     qPrintable(text));
        }
    }
};

KORVANDA_FORM_TEST_MAIN(TestMainWindowSlot)
#include "tst_mainwindow_slot.moc"
