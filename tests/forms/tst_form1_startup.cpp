// The window as it opens, the remembered folders, browsing, help and exit.
#include "support/fixtures.h"
#include "support/formfixture.h"

#include "forms/form2.h"

#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStringEncoder>

using fixtures::contents;
using fixtures::writeFile;

namespace {
// A value as the settings files hold it: in the system's 8-bit encoding (UTF-8 on Linux, the
// ANSI code page on Windows).
QByteArray systemBytes(const QString &value)
{
    return QStringEncoder(QStringEncoder::System).encode(value);
}
} // namespace

class TestForm1Startup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startStateAndBrowsing()
    {
        FormFixture f;
        for (SongTable *t : { &f.library(), &f.setList() })
            QCOMPARE(QStringList({ QString::number(t->Rows()), t->textAt(0, 1), t->textAt(0, 2), t->textAt(0, 3) }),
                     QStringList({ u"2"_s, u"ファイル名"_s, u"ファイル場所"_s, u"長さ"_s }));
        QVERIFY(f.widget<SongGrid>(u"MSHFlexGrid1"_s)->isColumnHidden(2));
        QVERIFY(f.text(u"Text6"_s).isEmpty()); // the total stays empty until the set list changes
        // The library has the focus once the window is active, however long that takes.
        f.form->show();
        QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
        QCOMPARE(QApplication::focusWidget(), f.widget(u"MSHFlexGrid1"_s));
        // Browsing fills the field; a cancel keeps what was typed.
        f.edit(u"Text1"_s)->setText(u"/start/here"_s);
        f.click(u"Command1"_s);
        QCOMPARE(f.text(u"Text1"_s), u"/start/here"_s);
        f.dialog.choice = u"/chosen/ライブ"_s;
        f.click(u"Command7"_s);
        QCOMPARE(f.text(u"Text2"_s), u"/chosen/ライブ"_s);
    }

    void rememberedFolders_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("value");
        QTest::newRow("quoted, Japanese") << QByteArray("\"" + systemBytes(u"/home/me/曲"_s) + "\"\r\n") << u"/home/me/曲"_s;
        QTest::newRow("empty value") << QByteArray("\"\"\r\n") << QString();
        QTest::newRow("quoted, more after") << QByteArray("\"/a b\",\"/c\"\r\nsecond\r\n") << u"/a b"_s;
        QTest::newRow("unquoted to comma") << QByteArray("  /music/live,extra\r\n") << u"/music/live"_s;
        QTest::newRow("LF only, no quotes") << QByteArray("/music\n") << u"/music"_s;
        QTest::newRow("unclosed quote, no line end") << QByteArray("\"/music") << u"/music"_s;
        QTest::newRow("not text") << QByteArray("\"\xff\xfe\x80\"\r\n") << QString();
    }
    void rememberedFolders()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, value);
        FormFixture f;
        QVERIFY(writeFile(f.folder + u"/motodata.dat"_s, bytes) && writeFile(f.folder + u"/okuridata.dat"_s, bytes));
        f.restart();
        QCOMPARE(f.text(u"Text1"_s), value);
        QCOMPARE(f.text(u"Text2"_s), value);
        QVERIFY(f.boxes.shown.isEmpty()); // start-up never speaks
        // Written back byte for byte; clearing a field leaves its file alone.
        f.edit(u"Text1"_s)->setText(value + u'x');
        f.click(u"Command4"_s);
        f.click(u"Command12"_s);
        f.click(u"Command8"_s);
        QCOMPARE(contents(f.folder + u"/motodata.dat"_s), QByteArray("\"" + systemBytes(value + u'x') + "\"\r\n"));
        QCOMPARE(contents(f.folder + u"/okuridata.dat"_s), QByteArray("\"" + systemBytes(value) + "\"\r\n"));
        QCOMPARE(f.boxes.lastPrompt(), u"保存しました"_s);
    }

    void failedRememberSaysWhy()
    {
        // A settings folder below a file cannot exist, for root too.
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"file"_s), "x"));
        FormFixture f(dir.filePath(u"file/sub"_s));
        f.click(u"Command4"_s);
        QCOMPARE(f.boxes.shown.size(), 1);
        QVERIFY2(f.boxes.lastPrompt().startsWith(u"フォルダを記憶できませんでした。"_s) && f.boxes.lastPrompt().contains(u"理由: "_s),
                 qPrintable(f.boxes.lastPrompt()));
    }

    // A folder name the system's encoding cannot hold (here a lone surrogate; on a Japanese
    // Windows any character outside code page 932) is refused with the reason: stored with a
    // stand-in character it would name a folder that does not exist. The file keeps its value.
    void unstorableFolderIsRefused()
    {
        FormFixture f;
        QVERIFY(writeFile(f.folder + u"/motodata.dat"_s, "\"/music\"\r\n"));
        f.edit(u"Text1"_s)->setText(u"/music/"_s + QChar(0xd800));
        f.click(u"Command4"_s);
        QVERIFY2(f.boxes.lastPrompt().startsWith(u"フォルダを記憶できませんでした。"_s)
                     && f.boxes.lastPrompt().contains(u"文字コード"_s),
                 qPrintable(f.boxes.lastPrompt()));
        QCOMPARE(contents(f.folder + u"/motodata.dat"_s), QByteArray("\"/music\"\r\n"));
    }

    void helpAndExit()
    {
        FormFixture f;
        f.form->show();
        f.click(u"Command14"_s);
        QPointer<Form2> help = f.form->helpWindow();
        QVERIFY(help && help->isVisible() && !help->parentWidget());
        QCOMPARE(help->Text1->toPlainText().replace(u'\n', u"\r\n"_s), Form2::helpText());
        QSignalSpy quit(f.form.get(), &Form1::quitRequested);
        f.click(u"Command10"_s); // No keeps the program running
        QCOMPARE(f.boxes.lastPrompt(), u"終了してもよろしいですか？"_s);
        QVERIFY(quit.isEmpty() && help && f.form->isVisible());
        f.boxes.answers = { true };
        f.click(u"Command10"_s);
        QCOMPARE(quit.size(), 1);
        QTRY_VERIFY(!help); // the help window goes with it
    }
};

KORVANDA_FORM_TEST_MAIN(TestForm1Startup)
#include "tst_form1_startup.moc"
