#include "model/setlistfile.h"

#include <QDir>
#include <QTest>

using namespace Qt::StringLiterals;

// Songs are "path|title|seconds" texts (seconds empty when unknown), so the
// tables stay readable.
static QStringList toTexts(const QList<SetListEntry> &entries)
{
    QStringList texts;
    for (const SetListEntry &e : entries)
        texts << e.path + u'|' + e.title + u'|' + (e.seconds ? QString::number(*e.seconds) : QString());
    return texts;
}

class TestSetListFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void write_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("songs");
        QTest::addColumn<QByteArray>("bytes");

        QTest::newRow("japanese names, inside and below the folder")
            << u"金曜ライブ"_s << QStringList{ u"/m/set/夜明け.mp3|夜明け|215"_s, u"/m/set/2部/海 と 空.flac|海 と 空|61"_s }
            << u"#EXTM3U\n#PLAYLIST:金曜ライブ\n#EXTINF:215,夜明け\n夜明け.mp3\n#EXTINF:61,海 と 空\n2部/海 と 空.flac\n"_s.toUtf8();
        QTest::newRow("outside the folder stays absolute; a look-alike folder is outside")
            << QString() << QStringList{ u"/m/songs/a.mp3|a|1"_s, u"/m/settle/b.mp3|b|"_s, u"/m/set/../c.mp3|c|3"_s }
            << "#EXTM3U\n#EXTINF:1,a\n/m/songs/a.mp3\n#EXTINF:-1,b\n/m/settle/b.mp3\n#EXTINF:3,c\n/m/c.mp3\n"_ba;
        QTest::newRow("a name starting with # is not taken for a comment")
            << u"#1"_s << QStringList{ u"/m/set/#1 Hit.mp3|#1 Hit|200"_s }
            << "#EXTM3U\n#PLAYLIST:#1\n#EXTINF:200,#1 Hit\n./#1 Hit.mp3\n"_ba;
        QTest::newRow("line breaks in texts cannot start a line")
            << u"a\nb"_s << QStringList{ u"/m/set/x.mp3|two\r\nlines|1"_s }
            << "#EXTM3U\n#PLAYLIST:a b\n#EXTINF:1,two  lines\nx.mp3\n"_ba;
    }
    void write()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, songs);
        QFETCH(QByteArray, bytes);
        SetListFile file;
        file.name = name;
        for (const QString &song : songs) {
            const QStringList parts = song.split(u'|');
            file.entries.append({ SetListFile::pathForPlaylist(parts[0], u"/m/set"_s), parts[1],
                                  parts[2].isEmpty() ? std::nullopt : std::optional<qint64>(parts[2].toLongLong()) });
        }
        QCOMPARE(file.toBytes(), bytes);
        // What was written reads back as it was meant.
        const auto back = SetListFile::parse(bytes);
        QVERIFY(back);
        QCOMPARE(back->name, QString(name).replace(u'\n', u' '));
        QCOMPARE(SetListFile::resolve(back->entries.constLast().path, u"/m/set"_s),
                 QDir::cleanPath(songs.constLast().section(u'|', 0, 0)));
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("nameSlotPause");

        QTest::newRow("own format with slot and pause, unknown lines passed over, odd #EXTINF tolerated")
            << u"#EXTM3U\n#PLAYLIST:土曜\n#KORVANDA-SLOT:00:45:00\n#KORVANDA-PAUSE:10\n#EXTGRP:x\n#EXTINF:215,夜明け\n"
               u"夜明け.mp3\n#EXTINF:abc\nb.mp3\n# note\n#EXTINF:-1,, comma\nc.mp3\n"_s.toUtf8()
            << QStringList{ u"夜明け.mp3|夜明け|215"_s, u"b.mp3||"_s, u"c.mp3|, comma|"_s }
            << QStringList{ u"土曜"_s, u"00:45:00"_s, u"10"_s };
        QTest::newRow("CR LF, a byte order mark, no header, no #EXTINF")
            << "\xEF\xBB\xBF#EXTINF:3,a\r\na.mp3\r\n\r\nfile:///m/my%20b.mp3\r\n"_ba
            << QStringList{ u"a.mp3|a|3"_s, u"file:///m/my%20b.mp3||"_s } << QStringList{ {}, {}, {} };
        // "D:\音楽\夜明け.mp3" in CP932, as a Windows player writes it.
        QTest::newRow("Windows CP932 with backslashes and a drive")
            << "#EXTM3U\r\n#EXTINF:215,\x96\xe9\x96\xbe\x82\xaf\r\nD:\\\x89\xb9\x8a\x79\\\x96\xe9\x96\xbe\x82\xaf.mp3\r\n"_ba
            << QStringList{ u"D:/音楽/夜明け.mp3|夜明け|215"_s } << QStringList{ {}, {}, {} };
    }
    void read()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, nameSlotPause);
        const auto file = SetListFile::parse(bytes);
        QVERIFY(file);
        QCOMPARE(toTexts(file->entries), entries);
        QCOMPARE((QStringList{ file->name, file->slot.value_or(QString()), file->pause.value_or(QString()) }),
                 nameSlotPause);
        // Another computer's paths still name the song to look for in the library.
        QVERIFY(!SetListFile::fileNameOf(file->entries.constLast().path).contains(u'/'));
        QVERIFY(!SetListFile::fileNameOf(file->entries.constLast().path).contains(u'%'));
    }
};

QTEST_GUILESS_MAIN(TestSetListFile)
#include "tst_setlistfile.moc"
