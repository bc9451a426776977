// The main window as it opens: its controls, the remembered folders, browsing,
// help and exit.
#include "formfixture.h"

#include "forms/form2.h"
#include "forms/setlisttextbox.h"
#include "forms/songgrid.h"
#include "model/songtable.h"
#include "platform/storage/settingsfile.h"

#include <QAccessible>
#include <QDir>
#include <QFileDialog>
#include <QTimer>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TestForm1Startup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("twips");
        const auto row = [](const char *name, const char *kind, const QString &caption, int l, int t, int w, int h) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind) << caption
                                << QRect(l, t, w, h);
        };
        row("MSHFlexGrid1", "SongGrid", {}, 120, 1680, 5415, 7215);
        row("Text1", "QLineEdit", {}, 240, 600, 5175, 270);
        row("Command1", "QPushButton", u"参照"_s, 5520, 600, 975, 375);
        row("Label1", "QLabel", u"楽曲収納フォルダ"_s, 240, 360, 1935, 255);
        row("Command2", "QPushButton", u"選択曲をリストへ追加"_s, 5760, 2640, 1935, 495);
        row("Command3", "QPushButton", u"選択行リストから削除"_s, 5640, 5280, 2175, 495);
        row("Command4", "QPushButton", u"フォルダを記憶"_s, 6720, 600, 1575, 375);
        row("Command5", "QPushButton", u"選択行上に"_s, 6000, 3840, 1455, 375);
        row("Command6", "QPushButton", u"選択行下に"_s, 6000, 4560, 1455, 375);
        row("Label2", "QLabel", u"収納楽曲一覧 簡易50音順　アルファベット上位表示"_s, 240, 1440, 4455, 255);
        row("Command7", "QPushButton", u"参照"_s, 9120, 7080, 975, 375);
        row("Label3", "QLabel", u"出力先フォルダ"_s, 7800, 7200, 1455, 255);
        row("Text2", "QLineEdit", {}, 7800, 7440, 6255, 270);
        row("Command8", "QPushButton", u"フォルダを記憶"_s, 10320, 7080, 1575, 375);
        row("Command9", "QPushButton", u"リスト曲をフォルダに出力する"_s, 7800, 8520, 3375, 495);
        row("Command10", "QPushButton", u"終了"_s, 12240, 8520, 1935, 495);
        row("Text3", "QLineEdit", {}, 7800, 8040, 3375, 270);
        row("Label4", "QLabel", u"新しく出力するフォルダにつける名前"_s, 7800, 7800, 3015, 255);
        row("Label5", "QLabel", u"リスト操作"_s, 6240, 3360, 1095, 375);
        row("Command11", "QPushButton", u"フォルダから楽曲取得"_s, 5760, 1680, 1935, 495);
        row("Label6", "QLabel", u"セットリスト 出力中は処理している曲の番号の色が変わります "_s, 7920, 1440, 5055, 255);
        row("MSHFlexGrid2", "SongGrid", {}, 7920, 1680, 6135, 5175);
        row("Command12", "QPushButton", u"フォルダデータクリア"_s, 8520, 600, 1935, 375);
        row("Command13", "QPushButton", u"フォルダデータクリア"_s, 12120, 7080, 1935, 375);
        row("Text4", "SetListTextBox", {}, 5640, 6240, 2055, 2655);
        row("Label7", "QLabel", u"セトリテキストコピペ可能"_s, 5640, 6000, 1935, 375);
        row("Command20", "QPushButton", u"＞選択曲再生"_s, 240, 960, 1335, 375);
        row("Command30", "QPushButton", u"■ 再生終了"_s, 1920, 960, 1335, 375);
        row("Text5", "QLineEdit", {}, 240, 120, 5175, 270);
        row("Label9", "QLabel", u"再生中一部操作不可"_s, 3360, 1080, 1695, 255);
        row("Label10", "QLabel", u"セットリスト合計時間"_s, 11400, 8040, 1695, 375);
        row("Text6", "QLineEdit", {}, 13080, 8040, 975, 270);
        row("Command14", "QPushButton", u"使い方"_s, 12600, 600, 1455, 375);
    }
    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, caption);
        QFETCH(QRect, twips);
        FormFixture f;
        auto *w = f.form->findChild<QWidget *>(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(QString::fromLatin1(w->metaObject()->className()), kind);
        const QRect pixels(SongGrid::twipsToPixels(twips.x()), SongGrid::twipsToPixels(twips.y()),
                           SongGrid::twipsToPixels(twips.width()), SongGrid::twipsToPixels(twips.height()));
        QCOMPARE(w->geometry(), pixels);
        if (auto *b = qobject_cast<QPushButton *>(w)) {
            QCOMPARE(b->text(), caption);
            QVERIFY(b->isEnabled());
        }
        if (auto *l = qobject_cast<QLabel *>(w))
            QCOMPARE(l->text(), caption);
        // Every focusable control can be read by assistive technology.
        if (w->focusPolicy() != Qt::NoFocus && name != u"Text5"_s) {
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
            QVERIFY(a);
            QVERIFY2(!a->text(QAccessible::Name).isEmpty(), qPrintable(name));
        }
    }

    void windowAndStartState()
    {
        FormFixture f;
        Form1 &w = *f.form;
        QCOMPARE(w.windowTitle(), u"Korvanda"_s);
        QCOMPARE(w.size(), QSize(957, 606));
        QCOMPARE(w.palette().color(QPalette::Window), QColor(255, 255, 192));
        QCOMPARE(w.Command2->palette().color(QPalette::Button), QColor(0, 255, 255));
        QCOMPARE(w.Label9->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QVERIFY(w.Label5->font().bold());
        QCOMPARE(w.Label5->font().pointSize(), 12);

        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.Label9->isVisible());
        QVERIFY(!w.Text5->isVisible());
        QVERIFY(w.Grid1->isVisible() && w.Grid2->isVisible());
        QVERIFY(w.Text3->text().isEmpty() && w.Text4->text().isEmpty() && w.Text5->text().isEmpty());
        // The total stays empty until the set list first changes.
        QVERIFY(w.Text6->text().isEmpty());
        QTRY_COMPARE(QApplication::focusWidget(), w.Grid1);

        // Both tables: header row and one blank row, cursor on row 1, column 1.
        for (SongTable *t : { &w.MSHFlexGrid1(), &w.MSHFlexGrid2() }) {
            QCOMPARE(t->Rows(), 2);
            QCOMPARE(t->Row(), 1);
            QCOMPARE(t->Col(), 1);
            QCOMPARE(t->textAt(0, 0), QString());
            QCOMPARE(t->textAt(0, 1), u"ファイル名"_s);
            QCOMPARE(t->cellAt(0, 1).alignment, int(SongTable::AlignCenterCenter));
            QCOMPARE(t->textAt(0, 2), u"ファイル場所"_s);
            QCOMPARE(t->ColWidth(2), 0);
            QCOMPARE(t->textAt(0, 3), u"長さ"_s);
            QCOMPARE(t->cellAt(0, 3).alignment, int(SongTable::AlignCenterCenter));
            for (int c = 0; c < 4; ++c)
                QVERIFY(t->textAt(1, c).isEmpty());
        }
        QVERIFY(w.Grid1->isColumnHidden(2));
        QCOMPARE(w.Grid1->columnWidth(1), SongGrid::twipsToPixels(3800));
    }

    void tabOrder()
    {
        FormFixture f;
        const QStringList expected{ u"MSHFlexGrid1"_s, u"Text1"_s,     u"Command1"_s,  u"Command2"_s,
                                    u"Command3"_s,     u"Command4"_s,  u"Command5"_s,  u"Command6"_s,
                                    u"Command7"_s,     u"Text2"_s,     u"Command8"_s,  u"Command9"_s,
                                    u"Command10"_s,    u"Text3"_s,     u"Command11"_s, u"MSHFlexGrid2"_s,
                                    u"Command12"_s,    u"Command13"_s, u"Text4"_s,     u"Command20"_s,
                                    u"Command30"_s,    u"Text6"_s,     u"Command14"_s };
        QStringList actual;
        QWidget *w = f.form->Grid1;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            actual << w->objectName();
            w = w->nextInFocusChain();
            while (w && (w->focusPolicy() == Qt::NoFocus || !w->objectName().size() || w == f.form->Text5))
                w = w->nextInFocusChain();
        }
        QCOMPARE(actual, expected);
    }

    // ---- remembered folders ----

    void rememberWritesExactBytes_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << u"/home/me/Songs"_s << QByteArray("\"/home/me/Songs\"\r\n");
        QTest::newRow("japanese") << u"/home/me/曲フォルダ"_s
                                  << QByteArray("\"/home/me/\xe6\x9b\xb2\xe3\x83\x95\xe3\x82\xa9\xe3\x83\xab\xe3\x83\x80\"\r\n");
        QTest::newRow("empty") << QString() << QByteArray("\"\"\r\n");
    }
    void rememberWritesExactBytes()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, bytes);
        FormFixture f;
        f.form->Text1->setText(folder);
        f.form->Command4->click();
        QCOMPARE(readBytes(f.folder + u"/motodata.dat"_s), bytes);
        QCOMPARE(f.boxes.lastPrompt(), u"保存しました"_s);
        QCOMPARE(f.boxes.lastCaption(), u"お知らせ"_s);

        f.form->Text2->setText(folder);
        f.form->Command8->click();
        QCOMPARE(readBytes(f.folder + u"/okuridata.dat"_s), bytes);

        f.restart();
        QCOMPARE(f.form->Text1->text(), folder);
        QCOMPARE(f.form->Text2->text(), folder);
    }

    void readingRule_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("value");
        QTest::newRow("quoted") << QByteArray("\"/music\"\r\n") << u"/music"_s;
        QTest::newRow("quoted, more after") << QByteArray("\"/a b\",\"/c\"\r\nsecond line\r\n") << u"/a b"_s;
        QTest::newRow("unquoted to comma") << QByteArray("  /music/live,extra\r\n") << u"/music/live"_s;
        QTest::newRow("unquoted, LF only") << QByteArray("/music\n") << u"/music"_s;
        QTest::newRow("no line end") << QByteArray("\"/music\"") << u"/music"_s;
        QTest::newRow("unclosed quote") << QByteArray("\"/music\r\n") << u"/music"_s;
        QTest::newRow("empty value") << QByteArray("\"\"\r\n") << QString();
        QTest::newRow("empty file") << QByteArray() << QString();
        QTest::newRow("not text") << QByteArray("\"\xff\xfe\x80\"\r\n") << QString();
        QTest::newRow("binary zeros") << QByteArray(16, '\0') << QString();
    }
    void readingRule()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, value);
        QTemporaryDir dir;
        writeBytes(dir.filePath(u"motodata.dat"_s), bytes);
        FormFixture f(dir.path());
        QCOMPARE(f.form->Text1->text(), value);
        QVERIFY(f.boxes.shown.isEmpty()); // start-up never speaks
    }

    void absentSettings()
    {
        QTemporaryDir dir;
        // A folder named like the settings file, and a hidden file, do not count.
        QVERIFY(QDir(dir.path()).mkdir(u"motodata.dat"_s));
        writeBytes(dir.filePath(u".okuridata.dat"_s), "\"/hidden\"\r\n");
        QVERIFY(!SettingsFile::isPresent(dir.filePath(u".okuridata.dat"_s)));
        FormFixture f(dir.path());
        QVERIFY(f.form->Text1->text().isEmpty());
        QVERIFY(f.form->Text2->text().isEmpty());
        QVERIFY(f.boxes.shown.isEmpty());
    }

    void unreadableSettingsGiveEmptyField()
    {
        if (geteuid() == 0)
            QSKIP("running as root: file permissions cannot make a file unreadable");
        QTemporaryDir dir;
        const QString path = dir.filePath(u"motodata.dat"_s);
        writeBytes(path, "\"/music\"\r\n");
        QFile::setPermissions(path, {});
        FormFixture f(dir.path());
        QVERIFY(f.form->Text1->text().isEmpty());
    }

    void failedRememberSaysWhyAndNeverConfirms()
    {
        // A settings folder that cannot exist (its parent is a file) fails for
        // every user, root included.
        QTemporaryDir dir;
        writeBytes(dir.filePath(u"file"_s), "x");
        FormFixture f(dir.filePath(u"file/sub"_s));
        f.form->Text1->setText(u"/music"_s);
        f.form->Command4->click();
        QCOMPARE(f.boxes.shown.size(), 1);
        QCOMPARE(f.boxes.lastCaption(), u"お知らせ"_s);
        QVERIFY(f.boxes.lastPrompt().startsWith(u"フォルダを記憶できませんでした。"_s));
        QVERIFY(f.boxes.lastPrompt().contains(u"理由: "_s));
        QVERIFY(!f.boxes.lastPrompt().contains(u"保存しました"_s));
    }

    void rememberClearRestart()
    {
        FormFixture f;
        f.form->Text1->setText(u"/music/one"_s);
        f.form->Command4->click();
        f.form->Text2->setText(u"/out"_s);
        f.form->Command8->click();
        f.form->Command12->click();
        f.form->Command13->click();
        QVERIFY(f.form->Text1->text().isEmpty());
        QVERIFY(f.form->Text2->text().isEmpty());
        QCOMPARE(f.boxes.shown.size(), 2); // clearing says nothing
        QCOMPARE(readBytes(f.folder + u"/motodata.dat"_s), QByteArray("\"/music/one\"\r\n"));

        f.restart();
        QCOMPARE(f.form->Text1->text(), u"/music/one"_s);
        QCOMPARE(f.form->Text2->text(), u"/out"_s);
    }

    // ---- browse ----

    void browse()
    {
        FormFixture f;
        f.form->Text1->setText(u"/start/here"_s);
        f.dialog.choice = QString(); // cancel
        f.form->Command1->click();
        QCOMPARE(f.form->Text1->text(), u"/start/here"_s);
        QCOMPARE(f.dialog.titles.last(), u"楽曲収納元フォルダを指定してください"_s);
        QCOMPARE(f.dialog.initials.last(), u"/start/here"_s);

        f.form->Text2->clear();
        f.form->Command7->click();
        QCOMPARE(f.form->Text2->text(), QString()); // cancel keeps the empty text too
        QCOMPARE(f.dialog.titles.last(), u"セトリ保存場所のフォルダを指定してください"_s);

        f.dialog.choice = u"/chosen/ライブ"_s;
        f.form->Command7->click();
        QCOMPARE(f.form->Text2->text(), u"/chosen/ライブ"_s);
        QCOMPARE(f.dialog.initials.last(), QString());

        // Browsing remembers nothing: a restart shows what was stored before.
        f.restart();
        QVERIFY(f.form->Text2->text().isEmpty());
        QVERIFY(f.boxes.shown.isEmpty());
    }

    void systemFolderDialogOpensOnTheInitialFolder()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkdir(u"sub"_s);
        SystemFolderDialog dialog;
        QString seenTitle;
        QString seenDir;
        QStringList buttons;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(qobject_cast<QFileDialog *>(QApplication::activeModalWidget()));
            auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            seenTitle = d->windowTitle();
            seenDir = d->directory().absolutePath();
            for (QPushButton *b : d->findChildren<QPushButton *>())
                buttons << b->text();
            d->reject();
        });
        const QString result = ShowFoldersModule::ShowFolders(dialog, nullptr, u"フォルダを指定"_s, dir.path());
        QCOMPARE(result, dir.path()); // cancelled: the initial text comes back
        QCOMPARE(seenTitle, u"フォルダを指定"_s);
        QCOMPARE(seenDir, QDir(dir.path()).absolutePath());
        // Qt's own dialog speaks Japanese like the rest of the program.
        QVERIFY2(buttons.join(u' ').contains(u"キャンセル"_s), qPrintable(buttons.join(u", "_s)));
    }

    // ---- help and exit ----

    void helpWindowLifecycle()
    {
        FormFixture f;
        f.form->Command14->click();
        QPointer<Form2> help = f.form->helpWindow();
        QVERIFY(help);
        QCOMPARE(help->windowTitle(), u"説明"_s);
        QVERIFY(help->isVisible());
        QVERIFY(!help->parentWidget()); // its own top-level window
        const QString text = help->Text1->toPlainText().replace(u'\n', u"\r\n"_s);
        QCOMPARE(text, Form2::helpText());
        const QStringList lines = text.split(u"\r\n"_s);
        QCOMPARE(lines.size(), 29);
        QCOMPARE(lines[23], u"⑨　出力が終わると　中央テキストボックスにリストが簡易的にテキストで出力されるのでコピペしてラインやメールに貼り付けることができます"_s);
        QVERIFY(lines[28].endsWith(u'　'));
        QVERIFY(!Form2::helpText().endsWith(u"\r\n"_s));

        // A second request brings the same window forward, the user's changes kept.
        help->Text1->setPlainText(u"changed"_s);
        f.form->Command14->click();
        QCOMPARE(f.form->helpWindow(), help);
        QCOMPARE(help->Text1->toPlainText(), u"changed"_s);

        // Closed and opened again: the text is fresh.
        help->Command1->click();
        QTRY_VERIFY(!help);
        f.form->Command14->click();
        QVERIFY(f.form->helpWindow());
        QCOMPARE(f.form->helpWindow()->Text1->toPlainText().replace(u'\n', u"\r\n"_s), Form2::helpText());
    }

    void exitQuestion()
    {
        FormFixture f;
        f.form->show();
        f.form->Command14->click();
        QPointer<Form2> help = f.form->helpWindow();
        QSignalSpy quit(f.form.get(), &Form1::quitRequested);

        f.boxes.answers = { false };
        f.form->Command10->click();
        QCOMPARE(f.boxes.lastPrompt(), u"終了してもよろしいですか？"_s);
        QCOMPARE(f.boxes.lastCaption(), u"確認"_s);
        QCOMPARE(quit.size(), 0);
        QVERIFY(help && help->isVisible());
        QVERIFY(f.form->isVisible());

        f.boxes.answers = { true };
        f.form->Command10->click();
        QCOMPARE(quit.size(), 1);
        QTRY_VERIFY(!help);
        QVERIFY(!f.form->isVisible());
    }
};

KORVANDA_FORM_TEST_MAIN(TestForm1Startup)
#include "tst_form1_startup.moc"
