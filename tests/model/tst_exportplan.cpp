// The export plan: folder, export names and the plain-text list, without the disk.
#include "model/exportplan.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestExportPlan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void plan_data()
    {
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("setName");
        QTest::addColumn<QStringList>("rows"); // "number|full path"
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("text");
        const auto row = [](const char *name, QChar sep, const QString &base, const QString &set, const QStringList &rows,
                            const QString &folder, const QStringList &names, const QString &text) {
            QTest::newRow(name) << sep << base << set << rows << folder << names << text;
        };
        row("worked example", u'\\', u"E:\\Live"_s, u"June Tour"_s,
            { u"01|D:\\Songs\\Opening.mp3"_s, u"02|D:\\Songs\\Ballad No.2.wav"_s, u"03|D:\\Songs\\Opening.mp3"_s },
            u"E:\\Live\\June Tour"_s, { u"01 Opening.mp3"_s, u"02 Ballad No.2.wav"_s, u"03 Opening.mp3"_s },
            u"01 Opening\r\n02 Ballad No.2\r\n03 Opening\r\n"_s);
        row("slash, Japanese", u'/', u"/出力"_s, u"六月公演"_s, { u"01|/曲/夜明けの歌.mp3"_s }, u"/出力/六月公演"_s,
            { u"01 夜明けの歌.mp3"_s }, u"01 夜明けの歌\r\n"_s);
        row("base ending with the separator doubles it", u'/', u"/"_s, u"Set"_s, { u"01|/a/Song.mp3"_s }, u"//Set"_s,
            { u"01 Song.mp3"_s }, u"01 Song\r\n"_s);
        row("set name with a separator nests", u'/', u"/out"_s, u"2024/June"_s, { u"01|/m/S.mp3"_s },
            u"/out/2024/June"_s, { u"01 S.mp3"_s }, u"01 S\r\n"_s);
        row("blank set name is kept", u'/', u"/out"_s, u"  "_s, { u"01|/m/S.mp3"_s }, u"/out/  "_s, { u"01 S.mp3"_s },
            u"01 S\r\n"_s);
        row("empty path passed over", u'/', u"/o"_s, u"S"_s, { u"01|/m/A.mp3"_s, u"02|"_s, u"03|/m/C.mp3"_s }, u"/o/S"_s,
            { u"01 A.mp3"_s, u"03 C.mp3"_s }, u"01 A\r\n03 C\r\n"_s);
        row("only the last four characters are cut", u'/', u"/o"_s, u"S"_s,
            { u"01|/m/Live.2.mp3"_s, u"02|/m/Song.flac"_s, u"03|/m/.mp3"_s, u"04|/m/ab"_s }, u"/o/S"_s,
            { u"01 Live.2.mp3"_s, u"02 Song.flac"_s, u"03 .mp3"_s, u"04 ab"_s }, u"01 Live.2\r\n02 Song.\r\n03 \r\n04 ab\r\n"_s);
        // The last character is never a split point, so a trailing separator
        // stays in the name; the check before copying finds no file there.
        row("trailing separator", u'/', u"/o"_s, u"S"_s, { u"01|/m/Album/"_s }, u"/o/S"_s, { u"01 Album/"_s },
            u"01 Al\r\n"_s);
        row("no separator keeps the whole path", u'/', u"/o"_s, u"S"_s, { u"01|Song.mp3"_s }, u"/o/S"_s,
            { u"01 Song.mp3"_s }, u"01 Song\r\n"_s);
        row("numbers are used as they stand", u'/', u"/o"_s, u"S"_s, { u"09|/m/A.mp3"_s, u"100|/m/B.mp3"_s }, u"/o/S"_s,
            { u"09 A.mp3"_s, u"100 B.mp3"_s }, u"09 A\r\n100 B\r\n"_s);
        row("no rows", u'/', u"/o"_s, u"S"_s, {}, u"/o/S"_s, {}, QString());
    }
    void plan()
    {
        QFETCH(QChar, separator);
        QFETCH(QString, base);
        QFETCH(QString, setName);
        QFETCH(QStringList, rows);
        QFETCH(QString, folder);
        QFETCH(QStringList, names);
        QFETCH(QString, text);
        QList<SetListRow> input;
        for (const QString &r : rows)
            input.append({ int(input.size() + 1), r.section(u'|', 0, 0), r.section(u'|', 1) });
        const ExportPlan plan = planExport(input, base, setName, separator);
        QCOMPARE(plan.folder, folder);
        QStringList got;
        for (const ExportItem &item : plan.items) {
            got.append(item.exportName);
            QCOMPARE(item.destinationPath, folder + separator + item.exportName);
            QCOMPARE(input.at(item.row - 1).fullPath, item.sourcePath);
        }
        QCOMPARE(got, names);
        QCOMPARE(plan.text(), text);
    }
};

QTEST_GUILESS_MAIN(TestExportPlan)
#include "tst_exportplan.moc"
