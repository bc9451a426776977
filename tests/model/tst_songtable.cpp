#include "model/songtable.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Fills column c of rows 1.. with the given texts, growing the table to fit.
void fillColumn(SongTable &t, int c, const QStringList &texts)
{
    t.setRows(int(texts.size()) + 1);
    for (int i = 0; i < texts.size(); ++i) {
        t.setRow(i + 1);
        t.setCol(c);
        t.setText(texts[i]);
    }
}

QStringList column(const SongTable &t, int c)
{
    QStringList texts;
    for (int r = 1; r < t.Rows(); ++r)
        texts << t.textAt(r, c);
    return texts;
}

constexpr SongTable::Color FolderRed = SongTable::FolderHighlight;

} // namespace

class TestSongTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsWithHeaderAndOneBlankRow()
    {
        SongTable t;
        QCOMPARE(t.Rows(), 2);
        QCOMPARE(t.Cols(), 4);
        for (int c = 0; c < 4; ++c)
            QVERIFY(t.textAt(1, c).isEmpty());
    }

    void rowsShrinkAndGrowKeepingAttributes()
    {
        SongTable t;
        fillColumn(t, 1, { u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s, u"f"_s, u"g"_s, u"h"_s, u"i"_s });
        t.setRow(1);
        t.setCol(1);
        t.setCellAlignment(SongTable::AlignLeftCenter);
        t.setCellBackColor(FolderRed);
        t.setRow(9);
        QCOMPARE(t.Rows(), 10);

        t.setRows(2);
        QCOMPARE(t.Rows(), 2);
        QCOMPARE(t.Row(), 1); // the cursor row beyond the end moved to the last row
        QCOMPARE(t.textAt(1, 1), u"a"_s);
        QCOMPARE(t.cellAt(1, 1).alignment, int(SongTable::AlignLeftCenter));
        QCOMPARE(t.cellAt(1, 1).backColor, std::optional<SongTable::Color>(FolderRed));

        t.setRows(5);
        QCOMPARE(t.Rows(), 5);
        for (int r = 2; r < 5; ++r) {
            QVERIFY(t.textAt(r, 1).isEmpty());
            QCOMPARE(t.cellAt(r, 1).alignment, int(SongTable::AlignDefault));
            QVERIFY(!t.cellAt(r, 1).backColor);
        }
        // Never fewer than one data row.
        t.setRows(0);
        QCOMPARE(t.Rows(), 2);
    }

    void addItemKeepsTheCursorNumbers()
    {
        SongTable t;
        fillColumn(t, 1, { u"A"_s, u"B"_s, u"C"_s, u"D"_s });
        t.setRow(3);
        t.setCol(1);
        t.AddItem(QString(), 3);
        QCOMPARE(t.Rows(), 6);
        QCOMPARE(t.Row(), 3);
        QCOMPARE(t.Col(), 1);
        QVERIFY(t.Text().isEmpty()); // the cursor now reads the new blank row
        QCOMPARE(column(t, 1), (QStringList{ u"A"_s, u"B"_s, QString(), u"C"_s, u"D"_s }));

        // Inserting just below the last row appends.
        t.AddItem(QString(), t.Rows());
        QCOMPARE(column(t, 1).last(), QString());
        QCOMPARE(t.Rows(), 7);
    }

    void removeItemMovesRowsUp()
    {
        SongTable t;
        fillColumn(t, 1, { u"A"_s, u"B"_s, u"C"_s });
        t.setRow(2);
        t.setCol(1);
        t.setCellBackColor(FolderRed);
        t.setRow(1);
        t.RemoveItem(1);
        QCOMPARE(column(t, 1), (QStringList{ u"B"_s, u"C"_s }));
        QCOMPARE(t.cellAt(1, 1).backColor, std::optional<SongTable::Color>(FolderRed)); // colour moved with B
        QCOMPARE(t.Row(), 1);

        // Removing the last row under the cursor moves the cursor up to the new last row.
        t.setRow(2);
        t.AddItem(QString(), 3);
        t.setRow(3);
        t.RemoveItem(3);
        QCOMPARE(t.Row(), 2);

        // The only data row is never removed.
        t.RemoveItem(2);
        QCOMPARE(t.Rows(), 2);
        t.RemoveItem(1);
        QCOMPARE(t.Rows(), 2);
        QCOMPARE(t.textAt(1, 1), u"B"_s);
    }

    void zeroWidthColumnStillHoldsText()
    {
        SongTable t;
        t.setColWidth(2, 0);
        t.setRow(1);
        t.setCol(2);
        t.setText(u"/songs/a.mp3"_s);
        QCOMPARE(t.Text(), u"/songs/a.mp3"_s);
    }

    void sortOrder_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("letter case ignored") << QStringList{ u"b.mp3"_s, u"A.mp3"_s, u"c.mp3"_s }
                                             << QStringList{ u"A.mp3"_s, u"b.mp3"_s, u"c.mp3"_s };
        QTest::newRow("Latin before kana")
            << QStringList{ u"さくら.mp3"_s, u"Zebra.mp3"_s, u"あおぞら.mp3"_s, u"apple.mp3"_s }
            << QStringList{ u"apple.mp3"_s, u"Zebra.mp3"_s, u"あおぞら.mp3"_s, u"さくら.mp3"_s };
        QTest::newRow("kana in syllabary order, hiragana and katakana together")
            << QStringList{ u"ん.wav"_s, u"カモメ.mp3"_s, u"うみ.mp3"_s, u"あめ.mp3"_s, u"きつね.mp3"_s }
            << QStringList{ u"あめ.mp3"_s, u"うみ.mp3"_s, u"カモメ.mp3"_s, u"きつね.mp3"_s, u"ん.wav"_s };
        QTest::newRow("full-width letters sort with their half-width twins")
            << QStringList{ u"Ｃ.mp3"_s, u"b.mp3"_s, u"Ａ.mp3"_s }
            << QStringList{ u"Ａ.mp3"_s, u"b.mp3"_s, u"Ｃ.mp3"_s };
        QTest::newRow("folder marker rows gather after the songs")
            << QStringList{ u"これはフォルダですsub"_s, u"b.mp3"_s, u"これはフォルダですx.flac"_s, u"A.wav"_s }
            << QStringList{ u"A.wav"_s, u"b.mp3"_s, u"これはフォルダですsub"_s, u"これはフォルダですx.flac"_s };
        QTest::newRow("equal keys keep their order")
            << QStringList{ u"song.mp3"_s, u"SONG.mp3"_s, u"Song.mp3"_s, u"a.mp3"_s }
            << QStringList{ u"a.mp3"_s, u"song.mp3"_s, u"SONG.mp3"_s, u"Song.mp3"_s };
        QTest::newRow("one row") << QStringList{ u"only.mp3"_s } << QStringList{ u"only.mp3"_s };
    }
    void sortOrder()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, sorted);
        SongTable t;
        fillColumn(t, 1, names);
        t.setCol(1);
        t.Sort(5);
        QCOMPARE(column(t, 1), sorted);
    }

    void sortMovesWholeRows()
    {
        SongTable t;
        const QStringList names{ u"これはフォルダですsub"_s, u"b.mp3"_s, u"A.wav"_s };
        fillColumn(t, 1, names);
        for (int r = 1; r <= 3; ++r) {
            t.setRow(r);
            t.setCol(2);
            t.setText(u"/m/"_s + names[r - 1]);
        }
        t.setRow(1);
        t.setCol(1);
        t.setCellBackColor(FolderRed);
        t.setCellAlignment(SongTable::AlignLeftCenter);
        t.setRow(0);
        t.setText(u"ファイル名"_s);

        t.setCol(1);
        t.Sort(5);
        QCOMPARE(t.textAt(0, 1), u"ファイル名"_s); // the header stays
        QCOMPARE(column(t, 2), (QStringList{ u"/m/A.wav"_s, u"/m/b.mp3"_s, u"/m/これはフォルダですsub"_s }));
        QCOMPARE(t.cellAt(3, 1).backColor, std::optional<SongTable::Color>(FolderRed));
        QCOMPARE(t.cellAt(3, 1).alignment, int(SongTable::AlignLeftCenter));
        QVERIFY(!t.cellAt(1, 1).backColor);
    }

    void sortOfAFullTable()
    {
        // The largest table the scan can produce sorts whole and in order.
        SongTable t;
        t.setRows(SongTable::MaxDataRows + 1);
        t.setCol(1);
        for (int r = 1; r <= SongTable::MaxDataRows; ++r) {
            t.setRow(r);
            t.setText(u"song %1.mp3"_s.arg(SongTable::MaxDataRows - r, 5, 10, QLatin1Char('0')));
        }
        t.Sort(5);
        QCOMPARE(t.textAt(1, 1), u"song 00000.mp3"_s);
        QCOMPARE(t.textAt(SongTable::MaxDataRows, 1), u"song 32765.mp3"_s);
    }
};

QTEST_GUILESS_MAIN(TestSongTable)
#include "tst_songtable.moc"
