#include "model/setlistfile.h"

#include <QTest>

using namespace Qt::StringLiterals;

// Songs are given as "path|title|seconds" texts (seconds empty when unknown) so
// the tables stay readable.
static QList<SetListEntry> toEntries(const QStringList &texts)
{
    QList<SetListEntry> entries;
    for (const QString &text : texts) {
        const QStringList parts = text.split(u'|');
        SetListEntry entry{ parts.value(0), parts.value(1), std::nullopt };
        if (!parts.value(2).isEmpty())
            entry.seconds = parts.value(2).toLongLong();
        entries.append(entry);
    }
    return entries;
}

static QStringList toTexts(const QList<SetListEntry> &entries)
{
    QStringList texts;
    for (const SetListEntry &entry : entries)
        texts << entry.path + u'|' + entry.title + u'|' + (entry.seconds ? QString::number(*entry.seconds) : QString());
    return texts;
}

class TestSetListFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void write_data();
    void write();
    void read_data();
    void read();
    void refused_data();
    void refused();
    void resolve_data();
    void resolve();
};

void TestSetListFile::write_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("songs");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("japanese names, inside and below the folder")
        << u"/home/ユーザー/セット"_s << u"金曜ライブ"_s
        << QStringList{ u"/home/ユーザー/セット/夜明け.mp3|夜明け|215"_s, u"/home/ユーザー/セット/2部/海 と 空.flac|海 と 空|61"_s }
        << u"#EXTM3U\n#PLAYLIST:金曜ライブ\n#EXTINF:215,夜明け\n夜明け.mp3\n#EXTINF:61,海 と 空\n2部/海 と 空.flac\n"_s.toUtf8();
    QTest::newRow("outside the folder stays absolute; a look-alike folder is outside")
        << u"/music/set"_s << QString()
        << QStringList{ u"/music/songs/a.mp3|a|1"_s, u"/music/settle/b.mp3|b|"_s, u"/music/set/../c.mp3|c|3"_s }
        << "#EXTM3U\n#EXTINF:1,a\n/music/songs/a.mp3\n#EXTINF:-1,b\n/music/settle/b.mp3\n#EXTINF:3,c\n/music/c.mp3\n"_ba;
    QTest::newRow("a name starting with # is not taken for a comment")
        << u"/m"_s << u"#1"_s << QStringList{ u"/m/#1 Hit.mp3|#1 Hit|200"_s, u"/x/#2.mp3|#2|5"_s }
        << "#EXTM3U\n#PLAYLIST:#1\n#EXTINF:200,#1 Hit\n./#1 Hit.mp3\n#EXTINF:5,#2\n/x/#2.mp3\n"_ba;
    QTest::newRow("line breaks in texts cannot start a line")
        << u"/m"_s << u"a\nb"_s << QStringList{ u"/m/x.mp3|two\r\nlines|1"_s }
        << "#EXTM3U\n#PLAYLIST:a b\n#EXTINF:1,two  lines\nx.mp3\n"_ba;
}

void TestSetListFile::write()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QStringList, songs);
    QFETCH(QByteArray, bytes);

    SetListFile file;
    file.name = name;
    for (SetListEntry entry : toEntries(songs)) {
        entry.path = SetListFile::pathForPlaylist(entry.path, folder);
        file.entries.append(entry);
    }
    QCOMPARE(file.toBytes(), bytes);

    // What was written reads back as it was meant.
    const auto back = SetListFile::parse(bytes);
    QVERIFY(back);
    QCOMPARE(back->name, QString(name).replace(u'\n', u' '));
    QCOMPARE(back->entries.size(), songs.size());
}

void TestSetListFile::read_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("pause");

    QTest::newRow("own format with slot and pause")
        << u"#EXTM3U\n#PLAYLIST:土曜\n#KORVANDA-SLOT:00:45:00\n#KORVANDA-PAUSE:10\n#EXTINF:215,夜明け\n夜明け.mp3\n"_s.toUtf8()
        << u"土曜"_s << QStringList{ u"夜明け.mp3|夜明け|215"_s } << u"00:45:00"_s << u"10"_s;
    QTest::newRow("CR LF and a byte order mark")
        << "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:3,a\r\na.mp3\r\n\r\nb.mp3\r\n"_ba << QString()
        << QStringList{ u"a.mp3|a|3"_s, u"b.mp3||"_s } << QString() << QString();
    QTest::newRow("plain M3U without #EXTINF or header")
        << "/x/a.mp3\nsub/b.ogg\n"_ba << QString() << QStringList{ u"/x/a.mp3||"_s, u"sub/b.ogg||"_s }
        << QString() << QString();
    QTest::newRow("unknown lines passed over, odd #EXTINF tolerated")
        << "#EXTM3U\n#EXTGRP:x\n#EXTINF:-1,t\na.mp3\n#EXTINF:abc\nb.mp3\n# comment\n#EXTINF:7,, with comma\nc.mp3\n"_ba
        << QString() << QStringList{ u"a.mp3|t|"_s, u"b.mp3||"_s, u"c.mp3|, with comma|7"_s } << QString()
        << QString();
    // "D:\音楽\夜明け.mp3" and "曲\海.mp3" in CP932, as a Windows player writes them.
    QTest::newRow("Windows CP932 with backslashes")
        << "#EXTM3U\r\n#EXTINF:215,\x96\xe9\x96\xbe\x82\xaf\r\nD:\\\x89\xb9\x8a\x79\\\x96\xe9\x96\xbe\x82\xaf.mp3\r\n"
           "\x8b\xc8\\\x8a\x43.mp3\r\n"_ba
        << QString() << QStringList{ u"D:/音楽/夜明け.mp3|夜明け|215"_s, u"曲/海.mp3||"_s } << QString() << QString();
}

void TestSetListFile::read()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QStringList, entries);
    QFETCH(QString, slot);
    QFETCH(QString, pause);

    const auto file = SetListFile::parse(bytes);
    QVERIFY(file);
    QCOMPARE(file->name, name);
    QCOMPARE(toTexts(file->entries), entries);
    QCOMPARE(file->slot.value_or(QString()), slot);
    QCOMPARE(file->pause.value_or(QString()), pause);
}

void TestSetListFile::refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<SetListFile::ReadError>("error");

    QTest::newRow("empty") << QByteArray() << SetListFile::ReadError::Empty;
    QTest::newRow("blank lines and a byte order mark") << "\xEF\xBB\xBF\r\n \n"_ba << SetListFile::ReadError::Empty;
    QTest::newRow("binary with NUL bytes") << "\x7f" "ELF\x02\x01\x01\x00\x00\x00" "a.mp3\n"_ba
                                           << SetListFile::ReadError::NotText;
    QTest::newRow("neither UTF-8 nor CP932") << "#EXTM3U\n\x81\x20\xff\xfe.mp3\n"_ba << SetListFile::ReadError::NotText;
}

void TestSetListFile::refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(SetListFile::ReadError, error);
    SetListFile::ReadError got{};
    QVERIFY(!SetListFile::parse(bytes, &got));
    QCOMPARE(got, error);
}

void TestSetListFile::resolve_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("resolved");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("relative") << u"2部/海.mp3"_s << u"/p/list/2部/海.mp3"_s << u"海.mp3"_s;
    QTest::newRow("hash kept a path") << u"./#1.mp3"_s << u"/p/list/#1.mp3"_s << u"#1.mp3"_s;
    QTest::newRow("parent folder") << u"../songs/a.mp3"_s << u"/p/songs/a.mp3"_s << u"a.mp3"_s;
    QTest::newRow("absolute") << u"/m/a.mp3"_s << u"/m/a.mp3"_s << u"a.mp3"_s;
    QTest::newRow("drive letter") << u"D:/音楽/a.mp3"_s << u"D:/音楽/a.mp3"_s << u"a.mp3"_s;
    QTest::newRow("file address") << u"file:///m/my%20song.mp3"_s << u"/m/my song.mp3"_s << u"my song.mp3"_s;
}

void TestSetListFile::resolve()
{
    QFETCH(QString, written);
    QFETCH(QString, resolved);
    QFETCH(QString, fileName);
    QCOMPARE(SetListFile::resolve(written, u"/p/list"_s), resolved);
    QCOMPARE(SetListFile::fileNameOf(written), fileName);
}

QTEST_GUILESS_MAIN(TestSetListFile)
#include "tst_setlistfile.moc"
