// The export as the window runs it: its questions and messages in order, the
// files and the set list text it leaves, and where it stops.
#include "formfixture.h"

#include "forms/setlisttextbox.h"
#include "model/songtable.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString writeSong(const QString &folder, const QString &name, const QByteArray &bytes)
{
    const QString path = folder + u'/' + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    return path;
}

// Puts rows into the set list the way add and the moves leave them.
void setSetList(Form1 &form, const QStringList &paths)
{
    SongTable &list = form.MSHFlexGrid2();
    list.setRows(int(paths.size()) + 1);
    for (int i = 0; i < paths.size(); ++i) {
        list.setRow(i + 1);
        list.setCol(0);
        list.setText(QString::number(i + 1).rightJustified(2, u'0'));
        list.setCol(1);
        list.setText(paths[i].isEmpty() ? u"(none)"_s : paths[i].section(u'/', -1));
        list.setCol(2);
        list.setText(paths[i]);
        list.setCol(3);
        list.setText(u"00:01:00"_s);
    }
}

const QString Confirm = u" の名前で指定場所にフォルダを作り楽曲保存します　よろしいですか？"_s;
const QString Done = u"出力完了、テキストボックスにセトリ書き出し完了"_s;
const QString Exists = u"フォルダ存在しています。古いファイルがフォルダに残りますがいいですか？"_s;

struct ExportFixture : FormFixture
{
    ExportFixture()
    {
        songs = QDir(source.path()).absolutePath();
        out = QDir(output.path()).absolutePath();
        opening = writeSong(songs, u"Opening.mp3"_s, QByteArray(300000, 'o'));
        ballad = writeSong(songs, u"Ballad No.2.wav"_s, QByteArray(120000, 'b'));
        form->Text2->setText(out + u"/Live"_s);
        form->Text3->setText(u"June Tour"_s);
    }
    QTemporaryDir source;
    QTemporaryDir output;
    QString songs;
    QString out;
    QString opening;
    QString ballad;
};

} // namespace

class TestForm1Export : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void workedExample()
    {
        ExportFixture f;
        setSetList(*f.form, { f.opening, f.ballad, f.opening });
        f.boxes.answers = { true };
        f.form->Command9->click();

        QCOMPARE(f.boxes.shown.size(), 2);
        QCOMPARE(f.boxes.shown[0].prompt, u"June Tour"_s + Confirm);
        QCOMPARE(f.boxes.shown[0].caption, u"確認"_s);
        QCOMPARE(f.boxes.shown[1].prompt, Done);
        QCOMPARE(f.boxes.shown[1].caption, u"完了"_s);

        const QString folder = f.out + u"/Live/June Tour"_s;
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
                 (QStringList{ u"01 Opening.mp3"_s, u"02 Ballad No.2.wav"_s, u"03 Opening.mp3"_s }));
        QCOMPARE(bytesOf(folder + u"/01 Opening.mp3"_s), bytesOf(f.opening));
        QCOMPARE(bytesOf(folder + u"/02 Ballad No.2.wav"_s), bytesOf(f.ballad));
        QCOMPARE(bytesOf(folder + u"/03 Opening.mp3"_s), bytesOf(f.opening));
        QCOMPARE(f.form->Text4->text(), u"01 Opening\r\n02 Ballad No.2\r\n03 Opening\r\n"_s);
        // The cursor is left on the number cell of the last row.
        QCOMPARE(f.form->MSHFlexGrid2().Row(), 3);
        QCOMPARE(f.form->MSHFlexGrid2().Col(), 0);

        // Again into the same folder: the question, then the same files and text.
        f.boxes.shown.clear();
        f.boxes.answers = { true, true };
        f.form->Command9->click();
        QCOMPARE(f.boxes.shown.size(), 3);
        QCOMPARE(f.boxes.shown[1].prompt, Exists);
        QCOMPARE(f.boxes.shown[1].caption, u"お知らせ"_s);
        QCOMPARE(f.boxes.shown[2].prompt, Done);
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 3);
        QCOMPARE(f.form->Text4->text(), u"01 Opening\r\n02 Ballad No.2\r\n03 Opening\r\n"_s);
    }

    void stopsBeforeCopying()
    {
        ExportFixture f;
        f.form->Text4->setText(u"earlier text\r\n"_s);

        // Empty set list.
        f.form->Command9->click();
        QCOMPARE(f.boxes.lastPrompt(), u"セットリストに曲がセットされていません"_s);
        QCOMPARE(f.boxes.lastCaption(), u"お知らせ"_s);
        QCOMPARE(f.form->MSHFlexGrid2().Row(), 1);
        QCOMPARE(f.form->MSHFlexGrid2().Col(), 1);

        setSetList(*f.form, { f.opening });
        f.form->Text3->clear();
        f.form->Command9->click();
        QCOMPARE(f.boxes.lastPrompt(), u"保存先フォルダ名が記入されていません"_s);

        // No to the confirmation leaves the text alone.
        f.form->Text3->setText(u"Set"_s);
        f.boxes.answers = { false };
        f.form->Command9->click();
        QCOMPARE(f.form->Text4->text(), u"earlier text\r\n"_s);
        QVERIFY(!QFileInfo::exists(f.out + u"/Live"_s));

        // No to the existing folder: nothing copied, the text emptied.
        QVERIFY(QDir().mkpath(f.out + u"/Live/Set"_s));
        f.boxes.answers = { true, false };
        f.form->Command9->click();
        QCOMPARE(f.boxes.lastPrompt(), Exists);
        QVERIFY(f.form->Text4->text().isEmpty());
        QVERIFY(QDir(f.out + u"/Live/Set"_s).isEmpty());
    }

    void unusualSetNamesAndFolders()
    {
        ExportFixture f;
        setSetList(*f.form, { f.opening, QString(), f.ballad });

        // A blank-only set name passes; a name with a separator nests folders;
        // a row without a path is passed over.
        f.form->Text3->setText(u"  "_s);
        f.boxes.answers = { true };
        f.form->Command9->click();
        QCOMPARE(f.boxes.shown.first().prompt, u"  "_s + Confirm);
        QCOMPARE(f.boxes.lastPrompt(), Done);
        QVERIFY(QFileInfo::exists(f.out + u"/Live/  /01 Opening.mp3"_s));
        QCOMPARE(f.form->Text4->text(), u"01 Opening\r\n03 Ballad No.2\r\n"_s);

        f.form->Text3->setText(u"2026/December"_s);
        f.boxes.answers = { true };
        f.form->Command9->click();
        QCOMPARE(f.boxes.lastPrompt(), Done);
        QVERIFY(QFileInfo::exists(f.out + u"/Live/2026/December/03 Ballad No.2.wav"_s));

        // A base folder ending with the separator gives a doubled one, passed on as is.
        f.form->Text2->setText(f.out + u"/"_s);
        f.form->Text3->setText(u"Doubled"_s);
        f.boxes.answers = { true };
        f.form->Command9->click();
        QCOMPARE(f.boxes.lastPrompt(), Done);
        QVERIFY(QFileInfo::exists(f.out + u"/Doubled/01 Opening.mp3"_s));
    }

    void emptyBaseFolderIsAFailedCreation()
    {
        ExportFixture f;
        setSetList(*f.form, { f.opening });
        f.form->Text2->clear();
        f.form->Text3->setText(u"korvanda-root-test"_s);
        f.boxes.answers = { true };
        f.form->Command9->click();
        QCOMPARE(f.boxes.lastPrompt(), u"フォルダを作成できませんでした。"_s);
        QVERIFY(!QFileInfo::exists(u"/korvanda-root-test"_s));
        QVERIFY(f.form->Text4->text().isEmpty());
    }

    void refusedBeforeAnythingIsCreated()
    {
        ExportFixture f;
        // Into the source folder itself: the copies would mix into the library.
        setSetList(*f.form, { f.opening, f.ballad });
        f.form->Text2->setText(f.songs);
        f.form->Text3->setText(u"."_s);
        const QStringList before = QDir(f.songs).entryList(QDir::Files, QDir::Name);
        f.boxes.answers = { true };
        f.form->Command9->click();
        QCOMPARE(f.boxes.lastCaption(), u"お知らせ"_s);
        QVERIFY(f.boxes.lastPrompt() != Done);
        QCOMPARE(QDir(f.songs).entryList(QDir::Files, QDir::Name), before);

        // A song deleted after it was added: named in the message, nothing created.
        f.form->Text2->setText(f.out + u"/Live"_s);
        f.form->Text3->setText(u"Gone"_s);
        QVERIFY(QFile::remove(f.ballad));
        f.boxes.answers = { true };
        f.form->Command9->click();
        QVERIFY2(f.boxes.lastPrompt().contains(u"02 Ballad No.2.wav"_s), qPrintable(f.boxes.lastPrompt()));
        QVERIFY(!QFileInfo::exists(f.out + u"/Live"_s));
        QVERIFY(f.form->Text4->text().isEmpty());
    }

    void failedCopyStopsAtItsRow()
    {
        ExportFixture f;
        setSetList(*f.form, { f.opening, f.ballad, f.opening });
        // A folder already sits under the second song's export name.
        const QString folder = f.out + u"/Live/June Tour"_s;
        QVERIFY(QDir().mkpath(folder + u"/02 Ballad No.2.wav"_s));
        f.boxes.answers = { true, true };
        f.form->Command9->click();
        QVERIFY2(f.boxes.lastPrompt().contains(u"02 Ballad No.2.wav"_s), qPrintable(f.boxes.lastPrompt()));
        QVERIFY(f.boxes.lastPrompt().contains(u"理由"_s));
        QCOMPARE(f.boxes.lastCaption(), u"お知らせ"_s);
        QCOMPARE(bytesOf(folder + u"/01 Opening.mp3"_s), bytesOf(f.opening));
        QVERIFY(!QFileInfo::exists(folder + u"/03 Opening.mp3"_s));
        QCOMPARE(f.form->Text4->text(), u"01 Opening\r\n"_s);
        QCOMPARE(f.form->MSHFlexGrid2().Row(), 2);
    }

    void hundredthRowKeepsItsNumber()
    {
        ExportFixture f;
        QStringList paths;
        for (int i = 0; i < 100; ++i)
            paths << f.opening;
        setSetList(*f.form, paths);
        f.boxes.answers = { true };
        f.form->Command9->click();
        QCOMPARE(f.boxes.lastPrompt(), Done);
        QVERIFY(QFileInfo::exists(f.out + u"/Live/June Tour/100 Opening.mp3"_s));
        QVERIFY(f.form->Text4->text().endsWith(u"99 Opening\r\n100 Opening\r\n"_s));
    }
};

KORVANDA_FORM_TEST_MAIN(TestForm1Export)
#include "tst_form1_export.moc"
