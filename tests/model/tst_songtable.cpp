// The cursor table behind both grids: rows that grow and shrink, insert and
// remove under the cursor, and the library's sort order.
#include "model/songtable.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

void fill(SongTable &t, const QStringList &names)
{
    t.setRows(int(names.size()) + 1);
    t.setCol(1);
    for (int i = 0; i < names.size(); ++i) {
        t.setRow(i + 1);
        t.setText(names[i]);
    }
}

QStringList names(const SongTable &t)
{
    QStringList texts;
    for (int r = 1; r < t.Rows(); ++r)
        texts << t.textAt(r, 1);
    return texts;
}

} // namespace

class TestSongTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowsAndCursor()
    {
        // Resizing is left to the window's scans, which show a stale row at once.
        SongTable t;
        fill(t, { u"A"_s, u"B"_s, u"C"_s });
        t.setRow(2);
        t.AddItem(QString(), 2);
        QCOMPARE(names(t), (QStringList{ u"A"_s, QString(), u"B"_s, u"C"_s }));
        QCOMPARE(t.Row(), 2);
        t.AddItem(QString(), t.Rows()); // just below the last row appends
        QCOMPARE(t.Rows(), 6);
        t.setRow(5);
        t.RemoveItem(5); // the cursor follows to the new last row
        QCOMPARE(t.Row(), 4);
        t.RemoveItem(2);
        t.RemoveItem(1);
        t.RemoveItem(1);
        QCOMPARE(names(t), QStringList{ u"C"_s });
        t.RemoveItem(1); // the only data row stays
        QCOMPARE(names(t), QStringList{ u"C"_s });
    }

    void sortOrder_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("case ignored, Latin before kana")
            << QStringList{ u"さくら.mp3"_s, u"Zebra.mp3"_s, u"あおぞら.mp3"_s, u"apple.mp3"_s }
            << QStringList{ u"apple.mp3"_s, u"Zebra.mp3"_s, u"あおぞら.mp3"_s, u"さくら.mp3"_s };
        QTest::newRow("kana by the syllabary, hiragana and katakana together")
            << QStringList{ u"ん.wav"_s, u"カモメ.mp3"_s, u"うみ.mp3"_s, u"あめ.mp3"_s, u"きつね.mp3"_s }
            << QStringList{ u"あめ.mp3"_s, u"うみ.mp3"_s, u"カモメ.mp3"_s, u"きつね.mp3"_s, u"ん.wav"_s };
        QTest::newRow("full-width letters with their twins")
            << QStringList{ u"Ｃ.mp3"_s, u"b.mp3"_s, u"Ａ.mp3"_s } << QStringList{ u"Ａ.mp3"_s, u"b.mp3"_s, u"Ｃ.mp3"_s };
        QTest::newRow("marked folders after the songs")
            << QStringList{ u"これはフォルダですsub"_s, u"b.mp3"_s, u"A.wav"_s }
            << QStringList{ u"A.wav"_s, u"b.mp3"_s, u"これはフォルダですsub"_s };
        QTest::newRow("equal keys keep their order") << QStringList{ u"song.mp3"_s, u"SONG.mp3"_s, u"a.mp3"_s, u"Song.mp3"_s }
                                                     << QStringList{ u"a.mp3"_s, u"song.mp3"_s, u"SONG.mp3"_s, u"Song.mp3"_s };
    }
    void sortOrder()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, sorted);
        SongTable t;
        fill(t, names);
        // Whole rows move: the path column and the highlight go with the name.
        for (int r = 1; r <= names.size(); ++r) {
            t.setRow(r);
            t.setCol(2);
            t.setText(u"/m/"_s + names[r - 1]);
            t.setCol(1);
            if (r == 1)
                t.setCellBackColor(SongTable::FolderHighlight);
        }
        t.Sort(5);
        QCOMPARE(::names(t), sorted);
        for (int r = 1; r <= names.size(); ++r) {
            QCOMPARE(t.textAt(r, 2), u"/m/"_s + sorted[r - 1]);
            QCOMPARE(t.cellAt(r, 1).backColor.has_value(), sorted[r - 1] == names[0]);
        }
    }
};

QTEST_GUILESS_MAIN(TestSongTable)
#include "tst_songtable.moc"
