// The stage sheet, read back from a real PDF with poppler's tools.
#include "platform/desktop/stagesheet.h"
#include "support/fixtures.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// What a poppler tool prints (with its complaints, if any).
static QString tool(const QString &name, const QStringList &arguments) { QString out; fixtures::run(name, arguments, &out); return out; }

// Titles of every kind a library holds: kana, kanji, Latin, digits, full width.
static QList<StageSheet::Line> songs(int count)
{
    static const QStringList titles{ u"さくら"_s, u"Opening"_s, u"夜明けのうた"_s, u"Blue Moon 2"_s, u"ＡＢＣ"_s };
    QList<StageSheet::Line> lines;
    for (int i = 1; i <= count; ++i)
        lines.append({ u"%1"_s.arg(i, 2, 10, QChar(u'0')), u"%1 %2"_s.arg(titles[i % 5]).arg(i), u"00:0%1:%2"_s.arg(i % 10).arg(i % 60, 2, 10, QChar(u'0')) });
    return lines;
}

class TestStageSheet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pdfHoldsTheSetInLargeType_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("pages");
        QTest::addColumn<double>("smallestType");
        // A short set grows beyond the smallest type; a full page still fits.
        QTest::newRow("3 songs") << 3 << 1 << 30.0;
        QTest::newRow("25 songs") << 25 << 1 << 14.0;
        // Past a page at the smallest type the songs go on: smaller type would still fit 50.
        QTest::newRow("50 songs") << 50 << 2 << 14.0;
        QTest::newRow("60 songs") << 60 << 2 << 14.0;
    }
    void pdfHoldsTheSetInLargeType()
    {
        QFETCH(int, count);
        QFETCH(int, pages);
        QFETCH(double, smallestType);
        QTemporaryDir dir;
        const QString pdf = dir.filePath(u"セット.pdf"_s);
        QCOMPARE(StageSheet(u"金曜ライブ"_s, QDate(2026, 12, 7), songs(count), u"01:02:03"_s).writePdf(pdf), std::nullopt);
        QVERIFY(tool(u"pdfinfo"_s, { pdf }).contains(QRegularExpression(u"Pages: +%1\\n"_s.arg(pages))));

        // Reading order: heading, every song with number and length, the total last.
        QStringList expected{ u"金曜ライブ"_s, u"2026年12月7日"_s };
        for (const StageSheet::Line &line : songs(count))
            expected << line.number + u' ' + line.title + u' ' + line.length;
        const QStringList lines = tool(u"pdftotext"_s, { u"-layout"_s, pdf, u"-"_s }).replace(u"　"_s, u" "_s).split(u'\n');
        qsizetype at = 0;
        for (const QString &want : expected << u"合計 01:02:03"_s) {
            while (at < lines.size() && !lines[at].simplified().contains(want))
                ++at;
            QVERIFY2(at < lines.size(), qPrintable(u"missing or out of order: "_s + want));
        }

        // Every length stands at least as tall as the type it must have (points).
        static const QRegularExpression word(u"yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" yMax=\"([0-9.]+)\">00:0"_s);
        int lengths = 0;
        for (const QRegularExpressionMatch &m : word.globalMatch(tool(u"pdftotext"_s, { u"-bbox"_s, pdf, u"-"_s })))
            lengths += m.captured(2).toDouble() - m.captured(1).toDouble() >= smallestType * 0.95;
        QCOMPARE(lengths, count);

        // The Japanese face travels with the file, so any printer shows the kana. (Windows names
        // the face by its Japanese name, IPAPゴシック, which pdffonts shows as question marks.)
        const QString fonts = tool(u"pdffonts"_s, { pdf });
        QVERIFY2(fonts.contains(QRegularExpression(u"IPAP?(Gothic|\\?+Regular) +CID TrueType +\\S+ +yes"_s)), qPrintable(fonts));
    }

    // The show's record follows the sheet on a page of its own, line for line.
    void recordAfterTheSheet()
    {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(u"記録.pdf"_s);
        StageSheet sheet(u"金曜ライブ"_s, QDate(2026, 12, 7), songs(3), u"00:10:00"_s);
        sheet.appendText(u"本番の記録\n予定 10:00　実際 9:47　差 -0:13\n01　　 0:00　　 0:00　　 3:00　 3:00　　　 3:00　　　 さくら 1"_s);
        QCOMPARE(sheet.writePdf(pdf), std::nullopt);
        QVERIFY(tool(u"pdfinfo"_s, { pdf }).contains(QRegularExpression(u"Pages: +2\n"_s)));
        const QString second = tool(u"pdftotext"_s, { u"-layout"_s, u"-f"_s, u"2"_s, pdf, u"-"_s }).replace(u"　"_s, u" "_s).simplified();
        QVERIFY2(second.contains(u"本番の記録 予定 10:00 実際 9:47 差 -0:13 01 0:00 0:00 3:00 3:00 3:00 さくら 1"_s), qPrintable(second));
    }

    void failedWriteSaysWhyAndLeavesNoFile()
    {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(u"なし/set.pdf"_s);
        const auto failure = StageSheet(u"x"_s, QDate(2026, 1, 1), songs(2), u"00:00:10"_s).writePdf(pdf);
        QVERIFY2(failure && failure->startsWith(u"ファイルまたはフォルダが見つかりません"_s) && !QFile::exists(pdf), qPrintable(failure.value_or(QString())));
    }
};

QTEST_MAIN(TestStageSheet)
#include "tst_stagesheet.moc"
