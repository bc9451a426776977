// Building the set list: add, delete, move up and down, and the total time.
#include "formfixture.h"

#include "forms/songgrid.h"
#include "model/songtable.h"

#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

using Song = std::pair<QString, QString>;

void setLibrary(SongTable &library, const QList<Song> &songs)
{
    setLibraryRows(library, songs);
}

void addLibraryRow(Form1 &form, int row)
{
    form.MSHFlexGrid1().setRow(row);
    form.Command2->click();
}

const QList<Song> ABC{ { u"A.mp3"_s, u"00:03:35"_s }, { u"B.mp3"_s, u"00:04:10"_s }, { u"C.mp3"_s, u"01:02:03"_s } };

} // namespace

class TestForm1SetList : public QObject
{
    Q_OBJECT

private:
    // A window whose set list holds A, B and C.
    static void withABC(FormFixture &f)
    {
        setLibrary(f.form->MSHFlexGrid1(), ABC);
        for (int r = 1; r <= 3; ++r)
            addLibraryRow(*f.form, r);
    }

private Q_SLOTS:
    void firstAddFillsTheBlankRow()
    {
        FormFixture f;
        setLibrary(f.form->MSHFlexGrid1(), ABC);
        addLibraryRow(*f.form, 2);
        SongTable &list = f.form->MSHFlexGrid2();
        QCOMPARE(list.Rows(), 2);
        QCOMPARE(list.textAt(1, 0), u"01"_s);
        QCOMPARE(list.textAt(1, 1), u"B.mp3"_s);
        QCOMPARE(list.textAt(1, 2), u"/songs/B.mp3"_s);
        QCOMPARE(list.textAt(1, 3), u"00:04:10"_s);
        QCOMPARE(list.cellAt(1, 1).alignment, int(SongTable::AlignLeftCenter));
        QCOMPARE(f.form->Text6->text(), u"00:04:10"_s);
        QCOMPARE(list.Row(), 1);
        QCOMPARE(list.Col(), 1);
        // The library's cursor is back on its row, so pressing again adds the song again.
        QCOMPARE(f.form->MSHFlexGrid1().Row(), 2);
        QCOMPARE(f.form->MSHFlexGrid1().Col(), 1);
        f.form->Command2->click();
        QCOMPARE(columnTexts(list, 1), (QStringList{ u"B.mp3"_s, u"B.mp3"_s }));
        QCOMPARE(columnTexts(list, 0), (QStringList{ u"01"_s, u"02"_s }));
        QCOMPARE(f.form->Text6->text(), u"00:08:20"_s);
        QCOMPARE(list.Row(), 2);
        QVERIFY(f.boxes.shown.isEmpty());
    }

    void refusedAdds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("caption");
        QTest::newRow("nothing scanned") << QString() << u"楽曲フォルダから楽曲を取得してください"_s
                                         << u"楽曲がありません"_s;
        QTest::newRow("folder row") << u"これはフォルダですsub"_s << u"フォルダを指定しています、追加できません"_s
                                    << u"追加できません"_s;
        QTest::newRow("a file named like the marker")
            << u"これはフォルダですよ.mp3"_s << u"フォルダを指定しています、追加できません"_s << u"追加できません"_s;
    }
    void refusedAdds()
    {
        QFETCH(QString, name);
        QFETCH(QString, prompt);
        QFETCH(QString, caption);
        FormFixture f;
        if (!name.isEmpty())
            setLibrary(f.form->MSHFlexGrid1(), { { name, u"00:00:00"_s } });
        f.form->Command2->click();
        QCOMPARE(f.boxes.lastPrompt(), prompt);
        QCOMPARE(f.boxes.lastCaption(), caption);
        QVERIFY(f.form->MSHFlexGrid2().textAt(1, 1).isEmpty());
        QVERIFY(f.form->Text6->text().isEmpty());
    }

    void markerFurtherOnIsAdded()
    {
        FormFixture f;
        setLibrary(f.form->MSHFlexGrid1(), { { u"曲これはフォルダです.mp3"_s, u"00:01:00"_s } });
        f.form->Command2->click();
        QVERIFY(f.boxes.shown.isEmpty());
        QCOMPARE(f.form->MSHFlexGrid2().textAt(1, 1), u"曲これはフォルダです.mp3"_s);
    }

    void numbersHaveAtLeastTwoDigits()
    {
        FormFixture f;
        setLibrary(f.form->MSHFlexGrid1(), { { u"A.mp3"_s, u"00:00:30"_s } });
        for (int i = 0; i < 100; ++i)
            f.form->Command2->click();
        const SongTable &list = f.form->MSHFlexGrid2();
        QCOMPARE(list.textAt(9, 0), u"09"_s);
        QCOMPARE(list.textAt(10, 0), u"10"_s);
        QCOMPARE(list.textAt(100, 0), u"100"_s);
        QCOMPARE(f.form->Text6->text(), u"00:50:00"_s);
    }

    void setListIsBounded()
    {
        FormFixture f;
        setLibrary(f.form->MSHFlexGrid1(), { { u"A.mp3"_s, u"00:00:01"_s } });
        SongTable &list = f.form->MSHFlexGrid2();
        list.setRows(SongTable::MaxDataRows + 1);
        list.setRow(list.Rows() - 1);
        list.setCol(1);
        list.setText(u"last.mp3"_s);
        f.form->Command2->click();
        QCOMPARE(list.Rows(), SongTable::MaxDataRows + 1);
        QCOMPARE(f.boxes.lastCaption(), u"追加できません"_s);
        QVERIFY(f.boxes.lastPrompt().contains(u"32766"_s));
    }

    void deleteRows()
    {
        FormFixture f;
        withABC(f);
        SongTable &list = f.form->MSHFlexGrid2();

        // No changes nothing, the cursor included.
        list.setRow(2);
        list.setCol(3);
        f.boxes.answers = { false };
        f.form->Command3->click();
        QCOMPARE(f.boxes.lastPrompt(), u"選択行を本当に削除してもよろしいですか？"_s);
        QCOMPARE(f.boxes.lastCaption(), u"確認"_s);
        QCOMPARE(columnTexts(list, 1).size(), 3);
        QCOMPARE(list.Row(), 2);
        QCOMPARE(list.Col(), 3);

        // Yes on B: A and C renumbered, the total recomputed, the cursor on row 1.
        f.boxes.answers = { true };
        f.form->Command3->click();
        QCOMPARE(columnTexts(list, 1), (QStringList{ u"A.mp3"_s, u"C.mp3"_s }));
        QCOMPARE(columnTexts(list, 0), (QStringList{ u"01"_s, u"02"_s }));
        QCOMPARE(f.form->Text6->text(), u"01:05:38"_s);
        QCOMPARE(list.Row(), 1);
        QCOMPARE(list.Col(), 1);

        // Down to the last song: its row is blanked and kept.
        f.boxes.answers = { true, true, true };
        f.form->Command3->click();
        f.form->Command3->click();
        QCOMPARE(list.Rows(), 2);
        for (int c = 0; c < 4; ++c)
            QVERIFY(list.textAt(1, c).isEmpty());
        QCOMPARE(f.form->Text6->text(), u"00:00:00"_s);
        QCOMPARE(list.Row(), 1);
        QCOMPARE(list.Col(), 3);

        // Yes on the blank row keeps it blank.
        f.form->Command3->click();
        QCOMPARE(list.Rows(), 2);
        QCOMPARE(f.form->Text6->text(), u"00:00:00"_s);

        // The next add fills row 1 again.
        addLibraryRow(*f.form, 3);
        QCOMPARE(list.Rows(), 2);
        QCOMPARE(list.textAt(1, 0), u"01"_s);
        QCOMPARE(list.textAt(1, 1), u"C.mp3"_s);
    }

    void movesFollowTheSong()
    {
        FormFixture f;
        withABC(f);
        SongTable &list = f.form->MSHFlexGrid2();
        const QString total = f.form->Text6->text();

        list.setRow(3);
        f.form->Command5->click();
        QCOMPARE(columnTexts(list, 1), (QStringList{ u"A.mp3"_s, u"C.mp3"_s, u"B.mp3"_s }));
        QCOMPARE(columnTexts(list, 2), (QStringList{ u"/songs/A.mp3"_s, u"/songs/C.mp3"_s, u"/songs/B.mp3"_s }));
        QCOMPARE(columnTexts(list, 3), (QStringList{ u"00:03:35"_s, u"01:02:03"_s, u"00:04:10"_s }));
        QCOMPARE(columnTexts(list, 0), (QStringList{ u"01"_s, u"02"_s, u"03"_s }));
        QCOMPARE(list.Row(), 2);
        QCOMPARE(list.Col(), 1);
        QCOMPARE(list.Rows(), 4);

        f.form->Command5->click();
        QCOMPARE(columnTexts(list, 1), (QStringList{ u"C.mp3"_s, u"A.mp3"_s, u"B.mp3"_s }));
        QCOMPARE(list.Row(), 1);

        f.form->Command5->click();
        QCOMPARE(f.boxes.lastPrompt(), u"これ以上上に上げれません"_s);
        QCOMPARE(f.boxes.lastCaption(), u"お知らせ"_s);
        QCOMPARE(columnTexts(list, 1), (QStringList{ u"C.mp3"_s, u"A.mp3"_s, u"B.mp3"_s }));
        QCOMPARE(list.Row(), 1);

        // Down then up restores the order, the cursor back on its row.
        f.form->Command6->click();
        QCOMPARE(columnTexts(list, 1), (QStringList{ u"A.mp3"_s, u"C.mp3"_s, u"B.mp3"_s }));
        QCOMPARE(list.Row(), 2);
        f.form->Command5->click();
        QCOMPARE(columnTexts(list, 1), (QStringList{ u"C.mp3"_s, u"A.mp3"_s, u"B.mp3"_s }));
        QCOMPARE(list.Row(), 1);

        list.setRow(3);
        f.form->Command6->click();
        QCOMPARE(f.boxes.lastPrompt(), u"これ以上下に下げれません"_s);
        QCOMPARE(list.Row(), 3);

        for (int r = 1; r <= 3; ++r)
            QCOMPARE(list.cellAt(r, 1).alignment, int(SongTable::AlignLeftCenter));
        QCOMPARE(f.form->Text6->text(), total);
    }

    void movesOnASingleRow()
    {
        FormFixture f;
        f.form->Command5->click();
        QCOMPARE(f.boxes.lastPrompt(), u"これ以上上に上げれません"_s);
        f.form->Command6->click();
        QCOMPARE(f.boxes.lastPrompt(), u"これ以上下に下げれません"_s);
        QCOMPARE(f.form->MSHFlexGrid2().Rows(), 2);
    }

    void equalNeighboursSwapLikeAnyRows()
    {
        FormFixture f;
        setLibrary(f.form->MSHFlexGrid1(), ABC);
        addLibraryRow(*f.form, 1);
        addLibraryRow(*f.form, 1);
        addLibraryRow(*f.form, 2);
        SongTable &list = f.form->MSHFlexGrid2();
        list.setRow(1);
        f.form->Command6->click();
        QCOMPARE(columnTexts(list, 1), (QStringList{ u"A.mp3"_s, u"A.mp3"_s, u"B.mp3"_s }));
        QCOMPARE(list.Row(), 2);
        f.form->Command6->click();
        QCOMPARE(columnTexts(list, 1), (QStringList{ u"A.mp3"_s, u"B.mp3"_s, u"A.mp3"_s }));
        QCOMPARE(list.Row(), 3);
    }
};

KORVANDA_FORM_TEST_MAIN(TestForm1SetList)
#include "tst_form1_setlist.moc"
