#include "model/setlistfile.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

// Songs are "path|title|seconds" texts (seconds empty when unknown), and the
// set's name, slot and pause one list (empty when absent), so the tables stay readable.
static QStringList toTexts(const SetListFile &file)
{
    QStringList texts{ file.name, file.slot.value_or(QString()), file.pause.value_or(QString()) };
    for (const SetListEntry &e : file.entries)
        texts << e.path + u'|' + e.title + u'|' + (e.seconds ? QString::number(*e.seconds) : QString());
    return texts;
}

class TestSetListFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void write_data()
    {
        QTest::addColumn<QStringList>("set");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("japanese names, inside and below the folder, slot and pause")
            << QStringList{ u"金曜ライブ"_s, u"00:45:00"_s, u"10"_s, u"/m/set/夜明け.mp3|夜明け|215"_s, u"/m/set/2部/海 と 空.flac|海 と 空|61"_s }
            << u"#EXTM3U\n#PLAYLIST:金曜ライブ\n#KORVANDA-SLOT:00:45:00\n#KORVANDA-PAUSE:10\n#EXTINF:215,夜明け\n夜明け.mp3\n#EXTINF:61,海 と 空\n2部/海 と 空.flac\n"_s.toUtf8();
        QTest::newRow("outside the folder stays absolute; a look-alike folder is outside")
            << QStringList{ {}, {}, {}, u"/m/songs/a.mp3|a|1"_s, u"/m/settle/b.mp3|b|"_s, u"/m/set/../c.mp3|c|3"_s } << "#EXTM3U\n#EXTINF:1,a\n/m/songs/a.mp3\n#EXTINF:-1,b\n/m/settle/b.mp3\n#EXTINF:3,c\n/m/c.mp3\n"_ba;
        QTest::newRow("a name starting with # is not taken for a comment")
            << QStringList{ u"#1"_s, {}, {}, u"/m/set/#1 Hit.mp3|#1 Hit|200"_s } << "#EXTM3U\n#PLAYLIST:#1\n#EXTINF:200,#1 Hit\n./#1 Hit.mp3\n"_ba;
        QTest::newRow("line breaks in texts cannot start a line")
            << QStringList{ u"a\nb"_s, {}, {}, u"/m/set/x.mp3|two\r\nlines|1"_s } << "#EXTM3U\n#PLAYLIST:a b\n#EXTINF:1,two  lines\nx.mp3\n"_ba;
    }
    void write()
    {
        QFETCH(QStringList, set);
        QFETCH(QByteArray, bytes);
        auto optional = [](const QString &s) { return s.isEmpty() ? std::nullopt : std::optional(s); };
        SetListFile file{ set[0], {}, optional(set[1]), optional(set[2]) };
        for (const QString &song : set.mid(3))
            file.entries.append({ SetListFile::pathForPlaylist(song.section(u'|', 0, 0), u"/m/set"_s), song.section(u'|', 1, 1),
                                  optional(song.section(u'|', 2)) ? std::optional(song.section(u'|', 2).toLongLong()) : std::nullopt, {} });
        QCOMPARE(file.toBytes(), bytes);
        // What was written reads back as it was meant.
        const auto back = SetListFile::parse(bytes);
        QVERIFY(back);
        QCOMPARE(toTexts(*back).mid(0, 3), QStringList(set.mid(0, 3)).replaceInStrings(u"\n"_s, u" "_s));
        QCOMPARE(SetListFile::resolve(back->entries.constLast().path, u"/m/set"_s), QDir::cleanPath(set.constLast().section(u'|', 0, 0)));
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("set");
        QTest::newRow("own format with slot and pause, unknown lines passed over, odd #EXTINF tolerated")
            << u"#EXTM3U\n#PLAYLIST:土曜\n#KORVANDA-SLOT:00:45:00\n#KORVANDA-PAUSE:10\n#EXTGRP:x\n#EXTINF:215,夜明け\n"
               u"夜明け.mp3\n#EXTINF:abc\nb.mp3\n# note\n#EXTINF:-1,, comma\nc.mp3\n"_s.toUtf8()
            << QStringList{ u"土曜"_s, u"00:45:00"_s, u"10"_s, u"夜明け.mp3|夜明け|215"_s, u"b.mp3||"_s, u"c.mp3|, comma|"_s };
        QTest::newRow("CR LF, a byte order mark, no header, no #EXTINF")
            << "\xEF\xBB\xBF#EXTINF:3,a\r\na.mp3\r\n\r\nfile:///m/my%20b.mp3\r\n"_ba << QStringList{ {}, {}, {}, u"a.mp3|a|3"_s, u"file:///m/my%20b.mp3||"_s };
        QTest::newRow("every line end: LF, CR LF, a lone CR, CR CR LF")
            << "#EXTM3U\r#EXTINF:1,a\r\ra.mp3\r\r\n#EXTINF:2,b\r\r\nb.mp3\rc.mp3\nd.mp3\r\n#PLAYLIST:x\r"_ba
            << QStringList{ u"x"_s, {}, {}, u"a.mp3|a|1"_s, u"b.mp3|b|2"_s, u"c.mp3||"_s, u"d.mp3||"_s };
        // "D:\音楽\夜明け.mp3" in CP932, as a Windows player writes it.
        // A Linux name may hold a backslash: Korvanda's own list keeps it, a list made on Windows does not.
        QTest::newRow("a backslash in a Linux name, in Korvanda's own list")
            << "#EXTM3U\n#EXTINF:3,AC\\DC\n/m/AC\\DC.wav\n#EXTINF:3,b\nsub/x\\y.mp3\n"_ba
            << QStringList{ {}, {}, {}, u"/m/AC\\DC.wav|AC\\DC|3"_s, u"sub/x\\y.mp3|b|3"_s };
        QTest::newRow("UTF-8 from Windows: CR LF, a relative path and a share")
            << "#EXTINF:3,a\r\nsub\\a.mp3\r\n\\\\nas\\m\\b.mp3\r\n"_ba
            << QStringList{ {}, {}, {}, u"sub/a.mp3|a|3"_s, u"//nas/m/b.mp3||"_s };
        QTest::newRow("Windows CP932 with backslashes and a drive")
            << "#EXTM3U\r\n#EXTINF:215,\x96\xe9\x96\xbe\x82\xaf\r\nD:\\\x89\xb9\x8a\x79\\\x96\xe9\x96\xbe\x82\xaf.mp3\r\n"_ba << QStringList{ {}, {}, {}, u"D:/音楽/夜明け.mp3|夜明け|215"_s };
    }
    void read()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, set);
        const auto file = SetListFile::parse(bytes);
        QVERIFY(file);
        QCOMPARE(toTexts(*file), set);
        const auto again = SetListFile::parse(file->toBytes());
        QVERIFY(again);
        QCOMPARE(toTexts(*again), set);
        // Another computer's paths still name the song to look for in the library.
        QVERIFY(!SetListFile::fileNameOf(file->entries.constLast().path).contains(QRegularExpression(u"[/%]"_s)));
    }

    // Each row's edits, note and follow mark: Korvanda's own lines read back
    // exactly; VLC's start and stop lines alone become the start and end.
    void rowExtras_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("edits"); // per entry: edits text|note|follows
        QTest::newRow("own lines, then a row with none")
            << "#EXTM3U\n#EXTINF:200,a\n#KORVANDA-EDIT:start=1.500;end=190.250;fadeout=8.000;cut=60.000-75.125;key=-2;tempo=95;file=1234@1700000000000\n"
               "#EXTVLCOPT:start-time=1.500\n#EXTVLCOPT:stop-time=190.250\n#KORVANDA-NOTE:曲先行 照明暗転\n#KORVANDA-FOLLOW\na.mp3\n#EXTINF:3,b\nb.mp3\n"_ba
            << QStringList{ u"start=1.500;end=190.250;fadeout=8.000;cut=60.000-75.125;key=-2;tempo=95;file=1234@1700000000000|曲先行 照明暗転|1"_s, u"||0"_s };
        QTest::newRow("VLC's start and stop alone, in another player's order")
            << "#EXTM3U\n#EXTVLCOPT:stop-time=200\n#EXTINF:3,a\n#EXTVLCOPT:start-time=12.5\na.mp3\n"_ba
            << QStringList{ u"start=12.500;end=200.000||0"_s };
        QTest::newRow("a stop before the start, negative, odd numbers and unknown names are passed over")
            << "#EXTVLCOPT:start-time=30\n#EXTVLCOPT:stop-time=10\na.mp3\n#EXTVLCOPT:start-time=-3\n#EXTVLCOPT:stop-time=nan\nb.mp3\n"
               "#KORVANDA-EDIT:later=1;key=9;cut=5-2\nc.mp3\n#KORVANDA-EDIT:nothing\nd.mp3\n"_ba
            << QStringList{ u"start=30.000||0"_s, u"||0"_s, u"key=6||0"_s, u"||0"_s };
        QTest::newRow("Korvanda's line says more than VLC's")
            << "#EXTVLCOPT:start-time=9\n#KORVANDA-EDIT:fadein=2.000\na.mp3\n"_ba << QStringList{ u"fadein=2.000||0"_s };
    }
    void rowExtras()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, edits);
        const auto texts = [](const SetListFile &file) {
            QStringList out;
            for (const SetListEntry &e : file.entries)
                out << e.extras.edits.toText() + u'|' + e.extras.note + u'|' + QString::number(e.extras.follows);
            return out;
        };
        const auto file = SetListFile::parse(bytes);
        QVERIFY(file);
        QCOMPARE(texts(*file), edits);
        const auto again = SetListFile::parse(file->toBytes());
        QVERIFY(again);
        QCOMPARE(texts(*again), edits);
    }
};

QTEST_GUILESS_MAIN(TestSetListFile)
#include "tst_setlistfile.moc"
