// Quicker set-list building from the library: a song dragged onto the set list
// ends exactly as the add and up buttons would leave it, and typing in the
// library jumps to the first name that starts with the letters typed.
#include "formfixture.h"

#include "forms/songgrid.h"
#include "model/libraryentry.h"
#include "model/songtable.h"

#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

struct LibraryFixture : FormFixture
{
    explicit LibraryFixture(const QStringList &names)
    {
        QList<std::pair<QString, QString>> rows;
        for (qsizetype i = 0; i < names.size(); ++i)
            rows.append({ names[i], u"00:0%1:1%1"_s.arg(i + 1) });
        setLibraryRows(form->MSHFlexGrid1(), rows);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    [[nodiscard]] SongGrid *grid(const QString &name) const { return form->findChild<SongGrid *>(name); }
    [[nodiscard]] QPushButton *button(const QString &name) const { return form->findChild<QPushButton *>(name); }
    void add(int libraryRow) const
    {
        form->MSHFlexGrid1().setRow(libraryRow);
        button(u"Command2"_s)->click();
    }
    // Everything a user can see of both tables and the total.
    [[nodiscard]] QStringList state() const
    {
        QStringList all;
        for (const SongTable *t : { &form->MSHFlexGrid1(), &form->MSHFlexGrid2() }) {
            for (int c = 0; c < 4; ++c)
                all << columnTexts(*t, c).join(u'|');
            all << u"cursor %1,%2"_s.arg(t->Row()).arg(t->Col());
        }
        return all << form->findChild<QLineEdit *>(u"Text6"_s)->text();
    }
};

QPoint rowCenter(SongGrid *grid, int tableRow)
{
    return grid->visualRect(grid->model()->index(tableRow - 1, 1)).center();
}

// Press on a library row, move onto the set list (a set-list row, or below its
// rows for 0), let go there.
void dragToSetList(const LibraryFixture &f, int libraryRow, int setListRow)
{
    SongGrid *library = f.grid(u"MSHFlexGrid1"_s);
    SongGrid *setList = f.grid(u"MSHFlexGrid2"_s);
    QWidget *vp = library->viewport();
    const QPoint from = rowCenter(library, libraryRow);
    const QPoint target = setListRow > 0 ? rowCenter(setList, setListRow)
                                         : QPoint(20, setList->viewport()->height() - 4);
    const QPoint to = vp->mapFromGlobal(setList->viewport()->mapToGlobal(target));
    QTest::mousePress(vp, Qt::LeftButton, {}, from);
    for (const QPoint &p : { from + QPoint(0, 8), to }) {
        QMouseEvent move(QEvent::MouseMove, p, vp->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &move);
    }
    QTest::mouseRelease(vp, Qt::LeftButton, {}, to);
}

const QStringList Songs{ u"A.mp3"_s, u"B.mp3"_s, u"C.mp3"_s, u"D.mp3"_s, LibraryEntry::FolderMarker + u"sub"_s };

} // namespace

class TestForm1LibraryDrag : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dropEndsAsTheButtonsLeaveIt_data()
    {
        QTest::addColumn<int>("songsBefore");
        QTest::addColumn<int>("libraryRow");
        QTest::addColumn<int>("dropRow");
        QTest::addColumn<int>("upPresses");
        QTest::newRow("onto the first row") << 3 << 4 << 1 << 3;
        QTest::newRow("onto a middle row") << 3 << 1 << 2 << 2;
        QTest::newRow("onto the last row") << 3 << 2 << 3 << 1;
        QTest::newRow("below the rows") << 2 << 3 << 0 << 0;
        QTest::newRow("onto the empty set list") << 0 << 2 << 1 << 0;
        QTest::newRow("below an empty set list") << 0 << 2 << 0 << 0;
    }
    void dropEndsAsTheButtonsLeaveIt()
    {
        QFETCH(int, songsBefore);
        QFETCH(int, libraryRow);
        QFETCH(int, dropRow);
        QFETCH(int, upPresses);
        LibraryFixture dragged(Songs);
        LibraryFixture pressed(Songs);
        for (const LibraryFixture *f : { &dragged, &pressed }) {
            for (int r = 1; r <= songsBefore; ++r)
                f->add(r);
        }

        dragToSetList(dragged, libraryRow, dropRow);
        pressed.add(libraryRow);
        for (int i = 0; i < upPresses; ++i)
            pressed.button(u"Command5"_s)->click();

        QCOMPARE(dragged.state(), pressed.state());
        QCOMPARE(dragged.form->MSHFlexGrid2().textAt(dropRow > 0 ? dropRow : songsBefore + 1, 1),
                 Songs[libraryRow - 1]);
        QVERIFY(dragged.boxes.shown.isEmpty());
    }

    void folderRowAndStrayDropsAddNothing()
    {
        LibraryFixture f(Songs);
        f.add(1);

        dragToSetList(f, 5, 1);
        QCOMPARE(f.boxes.lastPrompt(), u"フォルダを指定しています、追加できません"_s);
        QCOMPARE(f.boxes.lastCaption(), u"追加できません"_s);
        QCOMPARE(columnTexts(f.form->MSHFlexGrid2(), 1), QStringList{ u"A.mp3"_s });

        // Let go over the library itself: no song moves anywhere.
        SongGrid *library = f.grid(u"MSHFlexGrid1"_s);
        QTest::mousePress(library->viewport(), Qt::LeftButton, {}, rowCenter(library, 2));
        QMouseEvent move(QEvent::MouseMove, rowCenter(library, 4), library->viewport()->mapToGlobal(rowCenter(library, 4)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(library->viewport(), &move);
        QTest::mouseRelease(library->viewport(), Qt::LeftButton, {}, rowCenter(library, 4));
        QCOMPARE(columnTexts(f.form->MSHFlexGrid2(), 1), QStringList{ u"A.mp3"_s });
        QCOMPARE(columnTexts(f.form->MSHFlexGrid1(), 1), Songs);
    }

    void typingJumpsToTheFirstName_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("composed");
        QTest::addColumn<int>("row");
        QTest::newRow("one letter, first of several") << u"b"_s << QString() << 2;
        QTest::newRow("letters narrow it down") << u"bl"_s << QString() << 3;
        QTest::newRow("letter case ignored") << u"BA"_s << QString() << 2;
        QTest::newRow("no such name stays put") << u"z"_s << QString() << 1;
        QTest::newRow("hiragana through the input method") << QString() << u"さ"_s << 4;
        QTest::newRow("hiragana finds katakana") << QString() << u"さん"_s << 5;
        QTest::newRow("half-width katakana") << QString() << u"ｻﾝ"_s << 5;
        QTest::newRow("Latin then kana is one name") << u"s"_s << u"ど"_s << 6;
    }
    void typingJumpsToTheFirstName()
    {
        QFETCH(QString, keys);
        QFETCH(QString, composed);
        QFETCH(int, row);
        // However slowly the test machine runs, the letters belong to one name.
        QApplication::setKeyboardInputInterval(24 * 3600 * 1000);
        LibraryFixture f({ u"Apple.mp3"_s, u"banana.mp3"_s, u"Blue.mp3"_s, u"さくら.mp3"_s, u"サンバ.mp3"_s,
                           u"sどれ.mp3"_s });
        SongGrid *library = f.grid(u"MSHFlexGrid1"_s);
        library->setFocus();
        QTest::keyClicks(library, keys);
        if (!composed.isEmpty()) {
            QInputMethodEvent commit;
            commit.setCommitString(composed);
            QApplication::sendEvent(library, &commit);
        }
        QCOMPARE(f.form->MSHFlexGrid1().Row(), row);
        QCOMPARE(f.form->MSHFlexGrid1().Col(), 1);
    }
};

KORVANDA_FORM_TEST_MAIN(TestForm1LibraryDrag)
#include "tst_form1_librarydrag.moc"
