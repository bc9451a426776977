#include "model/exportplan.h"

#include <QTest>

using namespace Qt::StringLiterals;

// Rows are given as "number|full path" texts so the data tables stay readable.
using RowTexts = QStringList;

class TestExportPlan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void plan_data();
    void plan();
    void hundredthRowKeepsItsNumberText();
    void noSeparatorKeepsWholePathAsFileName();
};

static QList<SetListRow> toRows(const RowTexts &texts)
{
    QList<SetListRow> rows;
    int row = 1;
    for (const QString &text : texts) {
        const qsizetype bar = text.indexOf(u'|');
        rows.append({row++, text.left(bar), text.mid(bar + 1)});
    }
    return rows;
}

void TestExportPlan::plan_data()
{
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("setName");
    QTest::addColumn<RowTexts>("rows");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("destinations");
    QTest::addColumn<QString>("text");

    const RowTexts worked{u"01|D:\\Songs\\Opening.mp3"_s, u"02|D:\\Songs\\Ballad No.2.wav"_s,
                          u"03|D:\\Songs\\Opening.mp3"_s};
    QTest::newRow("worked example, backslash")
        << QChar(u'\\') << u"E:\\Live"_s << u"June Tour"_s << worked << u"E:\\Live\\June Tour"_s
        << QStringList{u"E:\\Live\\June Tour\\01 Opening.mp3"_s,
                       u"E:\\Live\\June Tour\\02 Ballad No.2.wav"_s,
                       u"E:\\Live\\June Tour\\03 Opening.mp3"_s}
        << u"01 Opening\r\n02 Ballad No.2\r\n03 Opening\r\n"_s;

    QTest::newRow("worked example, slash")
        << QChar(u'/') << u"/media/stick/Live"_s << u"June Tour"_s
        << RowTexts{u"01|/home/me/Songs/Opening.mp3"_s, u"02|/home/me/Songs/Ballad No.2.wav"_s,
                    u"03|/home/me/Songs/Opening.mp3"_s}
        << u"/media/stick/Live/June Tour"_s
        << QStringList{u"/media/stick/Live/June Tour/01 Opening.mp3"_s,
                       u"/media/stick/Live/June Tour/02 Ballad No.2.wav"_s,
                       u"/media/stick/Live/June Tour/03 Opening.mp3"_s}
        << u"01 Opening\r\n02 Ballad No.2\r\n03 Opening\r\n"_s;

    QTest::newRow("base ending with the separator doubles it")
        << QChar(u'\\') << u"E:\\"_s << u"Set"_s << RowTexts{u"01|D:\\a\\Song.mp3"_s}
        << u"E:\\\\Set"_s << QStringList{u"E:\\\\Set\\01 Song.mp3"_s} << u"01 Song\r\n"_s;

    QTest::newRow("set name holding a separator nests folders")
        << QChar(u'/') << u"/out"_s << u"2024/June"_s << RowTexts{u"01|/m/Song.mp3"_s}
        << u"/out/2024/June"_s << QStringList{u"/out/2024/June/01 Song.mp3"_s}
        << u"01 Song\r\n"_s;

    QTest::newRow("blank-only set name is kept")
        << QChar(u'/') << u"/out"_s << u"  "_s << RowTexts{u"01|/m/Song.mp3"_s} << u"/out/  "_s
        << QStringList{u"/out/  /01 Song.mp3"_s} << u"01 Song\r\n"_s;

    QTest::newRow("empty full path is passed over")
        << QChar(u'/') << u"/out"_s << u"S"_s
        << RowTexts{u"01|/m/A.mp3"_s, u"02|"_s, u"03|/m/C.mp3"_s} << u"/out/S"_s
        << QStringList{u"/out/S/01 A.mp3"_s, u"/out/S/03 C.mp3"_s} << u"01 A\r\n03 C\r\n"_s;

    QTest::newRow("four-character file name leaves an empty title")
        << QChar(u'/') << u"/out"_s << u"S"_s << RowTexts{u"01|/m/.mp3"_s} << u"/out/S"_s
        << QStringList{u"/out/S/01 .mp3"_s} << u"01 \r\n"_s;

    QTest::newRow("file name shorter than four characters is kept whole")
        << QChar(u'/') << u"/out"_s << u"S"_s << RowTexts{u"01|/m/ab"_s} << u"/out/S"_s
        << QStringList{u"/out/S/01 ab"_s} << u"01 ab\r\n"_s;

    QTest::newRow("only the last four characters are cut")
        << QChar(u'/') << u"/out"_s << u"S"_s
        << RowTexts{u"01|/m/Live.2.mp3"_s, u"02|/m/Song.flac"_s} << u"/out/S"_s
        << QStringList{u"/out/S/01 Live.2.mp3"_s, u"/out/S/02 Song.flac"_s}
        << u"01 Live.2\r\n02 Song.\r\n"_s;

    // The last character is never looked at, so a trailing separator stays in
    // the file name; the check before copying then finds no regular file.
    QTest::newRow("trailing separator is not a split point")
        << QChar(u'/') << u"/out"_s << u"S"_s << RowTexts{u"01|/m/Album/"_s} << u"/out/S"_s
        << QStringList{u"/out/S/01 Album/"_s} << u"01 Al\r\n"_s;

    QTest::newRow("Japanese names")
        << QChar(u'/') << u"/出力"_s << u"六月公演"_s << RowTexts{u"01|/曲/夜明けの歌.mp3"_s}
        << u"/出力/六月公演"_s << QStringList{u"/出力/六月公演/01 夜明けの歌.mp3"_s}
        << u"01 夜明けの歌\r\n"_s;

    QTest::newRow("no rows") << QChar(u'/') << u"/out"_s << u"S"_s << RowTexts{} << u"/out/S"_s
                             << QStringList{} << QString();
}

void TestExportPlan::plan()
{
    QFETCH(QChar, separator);
    QFETCH(QString, base);
    QFETCH(QString, setName);
    QFETCH(RowTexts, rows);
    QFETCH(QString, folder);
    QFETCH(QStringList, destinations);
    QFETCH(QString, text);

    const ExportPlan plan = planExport(toRows(rows), base, setName, separator);
    QCOMPARE(plan.baseFolder, base);
    QCOMPARE(plan.folder, folder);
    QCOMPARE(plan.prefix, folder + separator);
    QStringList got;
    for (const ExportItem &item : plan.items) {
        got.append(item.destinationPath);
        QCOMPARE(item.destinationPath, plan.prefix + item.exportName);
        QVERIFY(item.exportName.startsWith(item.number + u' '));
    }
    QCOMPARE(got, destinations);
    QCOMPARE(plan.text(), text);
}

void TestExportPlan::hundredthRowKeepsItsNumberText()
{
    QList<SetListRow> rows;
    for (int i = 1; i <= 100; ++i)
        rows.append({i, i < 10 ? u"0%1"_s.arg(i) : QString::number(i), u"/m/S%1.mp3"_s.arg(i)});
    const ExportPlan plan = planExport(rows, u"/o"_s, u"s"_s, u'/');
    QCOMPARE(plan.items.size(), 100);
    const ExportItem &last = plan.items.last();
    QCOMPARE(last.row, 100);
    QCOMPARE(last.exportName, u"100 S100.mp3"_s);
    QCOMPARE(last.line, u"100 S100\r\n"_s);
    QCOMPARE(plan.items.at(8).exportName, u"09 S9.mp3"_s);
}

void TestExportPlan::noSeparatorKeepsWholePathAsFileName()
{
    const ExportPlan plan =
        planExport({{1, u"01"_s, u"Song.mp3"_s}, {2, u"02"_s, u"/m/B.mp3"_s}}, u"/o"_s, u"s"_s, u'/');
    QCOMPARE(plan.items.size(), 2);
    QCOMPARE(plan.items.at(0).sourcePath, u"Song.mp3"_s);
    QCOMPARE(plan.items.at(0).exportName, u"01 Song.mp3"_s);
    QCOMPARE(plan.items.at(1).row, 2);
}

QTEST_GUILESS_MAIN(TestExportPlan)
#include "tst_exportplan.moc"
