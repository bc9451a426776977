// The stage sheet, read back from a real PDF with poppler's tools.
#include "platform/desktop/stagesheet.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString runTool(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Titles of every kind a library holds: kana, kanji, Latin, digits, full-width.
QList<StageSheet::Line> songs(int count)
{
    static const QStringList titles{ u"さくら"_s, u"Opening"_s, u"夜明けのうた"_s, u"Blue Moon 2"_s, u"ＡＢＣ"_s };
    QList<StageSheet::Line> lines;
    for (int i = 1; i <= count; ++i)
        lines.append({ QString::number(i).rightJustified(2, u'0'), u"%1 %2"_s.arg(titles[i % 5]).arg(i),
                       u"00:0%1:%2"_s.arg(i % 10).arg(i % 60, 2, 10, QLatin1Char('0')) });
    return lines;
}

struct Word
{
    QString text;
    int page = 0;
    double height = 0;
};

// Every word of the PDF with its page and its height in points.
QList<Word> wordsOf(const QString &pdf)
{
    const QString html = runTool(u"pdftotext"_s, { u"-bbox"_s, pdf, u"-"_s });
    static const QRegularExpression tag(
        u"<page |<word xMin=\"[0-9.]+\" yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" yMax=\"([0-9.]+)\">([^<]*)</word>"_s);
    QList<Word> words;
    int page = 0;
    for (const QRegularExpressionMatch &m : tag.globalMatch(html)) {
        if (m.captured(0) == u"<page "_s)
            ++page;
        else
            words.append({ m.captured(3), page, m.captured(2).toDouble() - m.captured(1).toDouble() });
    }
    return words;
}

} // namespace

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
        QTest::newRow("60 songs") << 60 << 2 << 14.0;
    }
    void pdfHoldsTheSetInLargeType()
    {
        QFETCH(int, count);
        QFETCH(int, pages);
        QFETCH(double, smallestType);
        QTemporaryDir dir;
        const QString pdf = dir.filePath(u"セット.pdf"_s);
        const StageSheet sheet(u"金曜ライブ"_s, QDate(2026, 12, 7), songs(count), u"01:02:03"_s);
        QCOMPARE(sheet.writePdf(pdf), std::nullopt);

        QVERIFY(runTool(u"pdfinfo"_s, { pdf }).contains(QRegularExpression(u"Pages: +%1\\n"_s.arg(pages))));

        // The lines in reading order: heading, every song with its number and
        // length, the total last.
        QStringList expected{ u"金曜ライブ"_s, u"2026年12月7日"_s };
        for (const StageSheet::Line &line : songs(count))
            expected << line.number + u' ' + line.title + u' ' + line.length;
        expected << u"合計 01:02:03"_s;
        QStringList lines;
        for (const QString &line : runTool(u"pdftotext"_s, { u"-layout"_s, pdf, u"-"_s }).split(u'\n')) {
            const QString simple = line.simplified().replace(u"　"_s, u" "_s).simplified();
            if (!simple.isEmpty())
                lines << simple;
        }
        qsizetype at = 0;
        for (const QString &want : expected) {
            while (at < lines.size() && !lines[at].contains(want))
                ++at;
            QVERIFY2(at < lines.size(), qPrintable(u"missing or out of order: "_s + want));
        }

        // Song words stand at least as tall as the type they must have.
        for (const Word &word : wordsOf(pdf)) {
            if (word.text.startsWith(u"00:0"_s))
                QVERIFY2(word.height >= smallestType * 0.95, qPrintable(u"%1 pt"_s.arg(word.height)));
        }

        // The Japanese face travels with the file, so any printer shows the kana.
        const QString fonts = runTool(u"pdffonts"_s, { pdf });
        QVERIFY2(fonts.contains(QRegularExpression(u"IPAP?Gothic +CID TrueType +\\S+ +yes"_s)), qPrintable(fonts));
    }

    void failedWriteSaysWhyAndLeavesNoFile()
    {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(u"なし/set.pdf"_s);
        const std::optional<QString> failure
            = StageSheet(u"x"_s, QDate(2026, 1, 1), songs(2), u"00:00:10"_s).writePdf(pdf);
        QVERIFY(failure.has_value());
        QVERIFY2(failure->contains(u"見つかりません"_s), qPrintable(*failure));
        QVERIFY(!QFile::exists(pdf));
    }
};

QTEST_MAIN(TestStageSheet)
#include "tst_stagesheet.moc"
