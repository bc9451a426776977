// Keyboard and mouse ways into the set list buttons: each acts exactly as its
// button does, and not at all while that button or its table is locked.
#include "formfixture.h"

#include "forms/songgrid.h"
#include "model/songtable.h"

#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

void setLibrary(SongTable &library, const QStringList &names)
{
    QList<std::pair<QString, QString>> rows;
    for (qsizetype i = 0; i < names.size(); ++i)
        rows.append({ names[i], u"00:0%1:00"_s.arg(i + 1) });
    setLibraryRows(library, rows);
}

QStringList names(const SongTable &t)
{
    return columnTexts(t, 1);
}

QPoint cellCenter(SongGrid *grid, int tableRow)
{
    return grid->visualRect(grid->model()->index(tableRow - 1, 1)).center();
}

void drag(SongGrid *grid, int fromRow, int toRow)
{
    QWidget *vp = grid->viewport();
    const QPoint from = cellCenter(grid, fromRow);
    const QPoint to = cellCenter(grid, toRow);
    QTest::mousePress(vp, Qt::LeftButton, {}, from);
    // Synthesised moves need the button state; QTest::mouseMove does not carry it.
    for (const QPoint &p : { from + QPoint(0, 6), to }) {
        QMouseEvent move(QEvent::MouseMove, p, vp->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &move);
    }
    QTest::mouseRelease(vp, Qt::LeftButton, {}, to);
}

struct ShownFixture : FormFixture
{
    ShownFixture()
    {
        setLibrary(form->MSHFlexGrid1(), { u"A.mp3"_s, u"B.mp3"_s, u"C.mp3"_s, u"D.mp3"_s });
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    // A set list of A, B, C, D.
    void fillSetList()
    {
        for (int r = 1; r <= 4; ++r) {
            form->MSHFlexGrid1().setRow(r);
            form->Command2->click();
        }
    }
};

} // namespace

class TestForm1Conveniences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void doubleClickAndEnterAdd()
    {
        ShownFixture f;
        SongGrid *lib = f.form->Grid1;
        QTest::mouseClick(lib->viewport(), Qt::LeftButton, {}, cellCenter(lib, 2));
        QTest::mouseDClick(lib->viewport(), Qt::LeftButton, {}, cellCenter(lib, 2));
        QCOMPARE(names(f.form->MSHFlexGrid2()), QStringList{ u"B.mp3"_s });
        QCOMPARE(f.form->Text6->text(), u"00:02:00"_s);

        lib->setFocus();
        QTest::keyClick(lib, Qt::Key_Down);
        QTest::keyClick(lib, Qt::Key_Return);
        QCOMPARE(names(f.form->MSHFlexGrid2()), (QStringList{ u"B.mp3"_s, u"C.mp3"_s }));
        QCOMPARE(f.form->MSHFlexGrid2().textAt(2, 0), u"02"_s);

        // While a preview plays the library is locked: neither way adds.
        f.form->Command20->click();
        QVERIFY(!lib->isEnabled());
        QTest::mouseDClick(lib->viewport(), Qt::LeftButton, {}, cellCenter(lib, 1));
        QTest::keyClick(lib, Qt::Key_Enter);
        QCOMPARE(f.form->MSHFlexGrid2().Rows(), 3);
        f.form->Command30->click();
    }

    void deleteKeyAsksLikeTheButton()
    {
        ShownFixture f;
        f.fillSetList();
        SongGrid *list = f.form->Grid2;
        f.form->MSHFlexGrid2().setRow(2);
        list->setFocus();
        f.boxes.answers = { true };
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(f.boxes.lastPrompt(), u"選択行を本当に削除してもよろしいですか？"_s);
        QCOMPARE(names(f.form->MSHFlexGrid2()), (QStringList{ u"A.mp3"_s, u"C.mp3"_s, u"D.mp3"_s }));

        // During a preview the delete button is locked, and so is its key.
        f.form->Command20->click();
        const qsizetype asked = f.boxes.shown.size();
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(f.boxes.shown.size(), asked);
        QCOMPARE(f.form->MSHFlexGrid2().Rows(), 4);
        f.form->Command30->click();
    }

    void ctrlArrowsMove()
    {
        ShownFixture f;
        f.fillSetList();
        SongTable &t = f.form->MSHFlexGrid2();
        SongGrid *list = f.form->Grid2;
        t.setRow(3);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(names(t), (QStringList{ u"A.mp3"_s, u"C.mp3"_s, u"B.mp3"_s, u"D.mp3"_s }));
        QCOMPARE(t.Row(), 2);
        QTest::keyClick(list, Qt::Key_Down, Qt::ControlModifier);
        QTest::keyClick(list, Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(names(t), (QStringList{ u"A.mp3"_s, u"B.mp3"_s, u"D.mp3"_s, u"C.mp3"_s }));
        QCOMPARE(t.Row(), 4);
        QTest::keyClick(list, Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(f.boxes.lastPrompt(), u"これ以上下に下げれません"_s);
    }

    void dragMovesTheSong()
    {
        ShownFixture f;
        f.fillSetList();
        SongTable &t = f.form->MSHFlexGrid2();
        const QString total = f.form->Text6->text();

        drag(f.form->Grid2, 4, 1);
        QCOMPARE(names(t), (QStringList{ u"D.mp3"_s, u"A.mp3"_s, u"B.mp3"_s, u"C.mp3"_s }));
        QCOMPARE(t.textAt(1, 2), u"/songs/D.mp3"_s);
        QCOMPARE(t.textAt(1, 0), u"01"_s);
        QCOMPARE(t.textAt(4, 0), u"04"_s);
        QCOMPARE(t.Row(), 1);
        QCOMPARE(t.Col(), 1);
        QCOMPARE(f.form->Text6->text(), total);

        drag(f.form->Grid2, 2, 3);
        QCOMPARE(names(t), (QStringList{ u"D.mp3"_s, u"B.mp3"_s, u"A.mp3"_s, u"C.mp3"_s }));
        QCOMPARE(t.Row(), 3);

        // A drop where it started changes nothing.
        drag(f.form->Grid2, 3, 3);
        QCOMPARE(names(t), (QStringList{ u"D.mp3"_s, u"B.mp3"_s, u"A.mp3"_s, u"C.mp3"_s }));
        QCOMPARE(t.Row(), 3);
        QVERIFY(f.boxes.shown.isEmpty());

        // The library's rows cannot be dragged.
        drag(f.form->Grid1, 1, 3);
        QCOMPARE(names(f.form->MSHFlexGrid1()), (QStringList{ u"A.mp3"_s, u"B.mp3"_s, u"C.mp3"_s, u"D.mp3"_s }));
    }

    void tooltipsNameTheShortcuts()
    {
        FormFixture f;
        QVERIFY(f.form->Command2->toolTip().contains(u"Enter"_s));
        QVERIFY(f.form->Command3->toolTip().contains(u"Delete"_s));
        QVERIFY(f.form->Command5->toolTip().contains(u"Ctrl+↑"_s));
        QVERIFY(f.form->Command6->toolTip().contains(u"Ctrl+↓"_s));
    }
};

KORVANDA_FORM_TEST_MAIN(TestForm1Conveniences)
#include "tst_form1_conveniences.moc"
