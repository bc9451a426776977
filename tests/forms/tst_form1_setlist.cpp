// Building the set list by button, key and mouse: add, delete, move, the numbers
// and the total time.
#include "support/formfixture.h"

using Songs = QList<std::pair<QString, QString>>;

namespace {

const Songs ABCD{ { u"A.mp3"_s, u"00:03:35"_s }, { u"B.mp3"_s, u"00:04:10"_s }, { u"C.mp3"_s, u"01:02:03"_s },
                  { u"D.mp3"_s, u"00:00:12"_s } };

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

} // namespace

class TestForm1SetList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void add()
    {
        FormFixture f;
        f.setLibrary(ABCD);
        f.add({ 2 });
        QCOMPARE(f.setList().Rows(), 2); // the blank first row is filled
        QCOMPARE(QStringList({ f.setList().textAt(1, 0), f.setList().textAt(1, 2), f.setList().textAt(1, 3) }),
                 QStringList({ u"01"_s, u"/songs/B.mp3"_s, u"00:04:10"_s }));
        QCOMPARE(f.library().Row(), 2); // pressing again adds the same song again
        for (int i = 0; i < 99; ++i)
            f.click(u"Command2"_s);
        QCOMPARE(columnTexts(f.setList(), 0).mid(8, 2), (QStringList{ u"09"_s, u"10"_s }));
        QCOMPARE(f.setList().textAt(100, 0), u"100"_s);
        QCOMPARE(f.setList().Row(), 100);
        QCOMPARE(f.text(u"Text6"_s), u"06:56:40"_s);
        QVERIFY(f.boxes.shown.isEmpty());

        // A full set list refuses the next song.
        f.setList().setRows(SongTable::MaxDataRows + 1);
        setCell(f.setList(), SongTable::MaxDataRows, 1, u"last.mp3"_s);
        f.click(u"Command2"_s);
        QCOMPARE(f.setList().Rows(), SongTable::MaxDataRows + 1);
        QVERIFY(f.boxes.lastPrompt().contains(u"32766"_s));
    }

    void refusedAdds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("caption");
        QTest::newRow("nothing scanned") << QString() << u"楽曲フォルダから楽曲を取得してください"_s << u"楽曲がありません"_s;
        QTest::newRow("folder row") << u"これはフォルダですsub"_s << u"フォルダを指定しています、追加できません"_s << u"追加できません"_s;
        QTest::newRow("marker further on") << u"曲これはフォルダです.mp3"_s << QString() << QString();
    }
    void refusedAdds()
    {
        QFETCH(QString, name);
        QFETCH(QString, prompt);
        QFETCH(QString, caption);
        FormFixture f;
        f.setLibrary({ { name, u"00:01:00"_s } });
        f.click(u"Command2"_s);
        QCOMPARE(f.boxes.lastPrompt(), prompt);
        QCOMPARE(f.boxes.lastCaption(), caption);
        QCOMPARE(f.setList().textAt(1, 1), prompt.isEmpty() ? name : QString());
    }

    void deleteAsksFirst()
    {
        FormFixture f;
        f.setLibrary(ABCD);
        f.add({ 1, 2, 3 });
        f.setList().setRow(2);
        f.click(u"Command3"_s); // No changes nothing
        QCOMPARE(f.boxes.lastPrompt(), u"選択行を本当に削除してもよろしいですか？"_s);
        QCOMPARE(f.boxes.lastCaption(), u"確認"_s);
        QCOMPARE(f.setList().Rows(), 4);
        f.boxes.answers = { true, true, true, true };
        f.click(u"Command3"_s);
        QCOMPARE(columnTexts(f.setList(), 1), (QStringList{ u"A.mp3"_s, u"C.mp3"_s }));
        QCOMPARE(columnTexts(f.setList(), 0), (QStringList{ u"01"_s, u"02"_s }));
        QCOMPARE(f.text(u"Text6"_s), u"01:05:38"_s);
        QCOMPARE(f.setList().Row(), 1);
        f.click(u"Command3"_s);
        f.click(u"Command3"_s); // the last song's row is blanked and kept
        f.click(u"Command3"_s);
        QCOMPARE(columnTexts(f.setList(), 1), QStringList{ QString() });
        QCOMPARE(f.text(u"Text6"_s), u"00:00:00"_s);
        f.add({ 3 });
        QCOMPARE(columnTexts(f.setList(), 1), QStringList{ u"C.mp3"_s });
    }

    void movesFollowTheSong()
    {
        FormFixture f;
        f.click(u"Command5"_s); // a single blank row moves nowhere
        QCOMPARE(f.boxes.lastPrompt(), u"これ以上上に上げれません"_s);
        f.setLibrary(ABCD);
        f.add({ 1, 2, 3 });
        const QString total = f.text(u"Text6"_s);
        f.click(u"Command5"_s);
        QCOMPARE(columnTexts(f.setList(), 1), (QStringList{ u"A.mp3"_s, u"C.mp3"_s, u"B.mp3"_s }));
        QCOMPARE(columnTexts(f.setList(), 2), (QStringList{ u"/songs/A.mp3"_s, u"/songs/C.mp3"_s, u"/songs/B.mp3"_s }));
        QCOMPARE(columnTexts(f.setList(), 3), (QStringList{ u"00:03:35"_s, u"01:02:03"_s, u"00:04:10"_s }));
        QCOMPARE(columnTexts(f.setList(), 0), (QStringList{ u"01"_s, u"02"_s, u"03"_s }));
        QCOMPARE(f.setList().Row(), 2);
        f.click(u"Command5"_s);
        f.click(u"Command5"_s);
        QCOMPARE(f.boxes.lastPrompt(), u"これ以上上に上げれません"_s);
        QCOMPARE(f.boxes.lastCaption(), u"お知らせ"_s);
        QCOMPARE(columnTexts(f.setList(), 1), (QStringList{ u"C.mp3"_s, u"A.mp3"_s, u"B.mp3"_s }));
        f.setList().setRow(2);
        f.click(u"Command6"_s);
        QCOMPARE(columnTexts(f.setList(), 1), (QStringList{ u"C.mp3"_s, u"B.mp3"_s, u"A.mp3"_s }));
        QCOMPARE(f.setList().Row(), 3);
        f.click(u"Command6"_s);
        QCOMPARE(f.boxes.lastPrompt(), u"これ以上下に下げれません"_s);
        QCOMPARE(f.text(u"Text6"_s), total);
    }

    void keysAndMouseActLikeTheButtons()
    {
        FormFixture f;
        f.setLibrary(ABCD);
        f.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        auto *lib = f.widget<SongGrid>(u"MSHFlexGrid1"_s);
        auto *list = f.widget<SongGrid>(u"MSHFlexGrid2"_s);
        QTest::mouseClick(lib->viewport(), Qt::LeftButton, {}, cellCenter(lib, 2));
        QTest::mouseDClick(lib->viewport(), Qt::LeftButton, {}, cellCenter(lib, 2));
        lib->setFocus();
        QTest::keyClick(lib, Qt::Key_Down);
        QTest::keyClick(lib, Qt::Key_Return);
        f.add({ 1, 4 });
        QCOMPARE(columnTexts(f.setList(), 1), (QStringList{ u"B.mp3"_s, u"C.mp3"_s, u"A.mp3"_s, u"D.mp3"_s }));

        list->setFocus();
        f.setList().setRow(3);
        QTest::keyClick(list, Qt::Key_Up, Qt::ControlModifier);
        QTest::keyClick(list, Qt::Key_Down, Qt::ControlModifier);
        QTest::keyClick(list, Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(columnTexts(f.setList(), 1), (QStringList{ u"B.mp3"_s, u"C.mp3"_s, u"D.mp3"_s, u"A.mp3"_s }));
        drag(list, 4, 1); // a drop acts as the same number of moves
        QCOMPARE(columnTexts(f.setList(), 1), (QStringList{ u"A.mp3"_s, u"B.mp3"_s, u"C.mp3"_s, u"D.mp3"_s }));
        QCOMPARE(columnTexts(f.setList(), 0), (QStringList{ u"01"_s, u"02"_s, u"03"_s, u"04"_s }));
        QCOMPARE(f.setList().Row(), 1);
        drag(lib, 1, 3); // the library's rows do not move
        QCOMPARE(columnTexts(f.library(), 1).first(), u"A.mp3"_s);
        f.boxes.answers = { true };
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(columnTexts(f.setList(), 1), (QStringList{ u"B.mp3"_s, u"C.mp3"_s, u"D.mp3"_s }));

        // While a preview plays, neither adds nor deletes by key or mouse.
        f.click(u"Command20"_s);
        QTest::mouseDClick(lib->viewport(), Qt::LeftButton, {}, cellCenter(lib, 1));
        QTest::keyClick(lib, Qt::Key_Enter);
        f.boxes.answers = { true };
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(f.setList().Rows(), 4);
        f.click(u"Command30"_s);
        QCOMPARE(f.boxes.shown.size(), 1);
    }
};

KORVANDA_FORM_TEST_MAIN(TestForm1SetList)
#include "tst_form1_setlist.moc"
