// Building the set list by button and key: add, delete, move, the numbers and
// the total time.
#include "support/formfixture.h"

namespace {

const QList<std::pair<QString, QString>> ABCD{ { u"A.mp3"_s, u"00:03:35"_s }, { u"B.mp3"_s, u"00:04:10"_s },
                                               { u"C.mp3"_s, u"01:02:03"_s }, { u"D.mp3"_s, u"00:00:12"_s } };

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
        QCOMPARE(f.library().Row(), 2); // adding again adds the same song again, Return as the button
        for (int i = 0; i < 98; ++i)
            f.click(u"Command2"_s);
        QTest::keyClick(f.widget(u"MSHFlexGrid1"_s), Qt::Key_Return);
        QCOMPARE(QStringList({ f.setList().textAt(100, 0), QString::number(f.setList().Row()), f.text(u"Text6"_s) }),
                 QStringList({ u"100"_s, u"100"_s, u"06:56:40"_s }));
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
        QCOMPARE(std::pair(f.boxes.lastPrompt(), f.boxes.lastCaption()), std::pair(prompt, caption));
        QCOMPARE(f.setList().textAt(1, 1), prompt.isEmpty() ? name : QString());
    }

    void deleteAsksFirst()
    {
        FormFixture f;
        f.setLibrary(ABCD);
        f.add({ 1, 2, 3 });
        f.setList().setRow(2);
        f.click(u"Command3"_s); // No changes nothing
        QCOMPARE(std::pair(f.boxes.lastPrompt(), f.boxes.lastCaption()), std::pair(u"選択行を本当に削除してもよろしいですか？"_s, u"確認"_s));
        QCOMPARE(f.setList().Rows(), 4);
        f.boxes.answers = { true, true, true, true };
        QTest::keyClick(f.widget(u"MSHFlexGrid2"_s), Qt::Key_Delete);
        QCOMPARE(columnTexts(f.setList(), 1), (QStringList{ u"A.mp3"_s, u"C.mp3"_s }));
        QCOMPARE(columnTexts(f.setList(), 0), (QStringList{ u"01"_s, u"02"_s }));
        QCOMPARE(f.text(u"Text6"_s), u"01:05:38"_s);
        QCOMPARE(f.setList().Row(), 1);
        for (int i = 0; i < 3; ++i) // the last song's row is blanked and kept
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
        QTest::keyClick(f.widget(u"MSHFlexGrid2"_s), Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(columnTexts(f.setList(), 0) + columnTexts(f.setList(), 1), (QStringList{ u"01"_s, u"02"_s, u"03"_s, u"A.mp3"_s, u"C.mp3"_s, u"B.mp3"_s }));
        QCOMPARE(columnTexts(f.setList(), 2) + columnTexts(f.setList(), 3),
                 (QStringList{ u"/songs/A.mp3"_s, u"/songs/C.mp3"_s, u"/songs/B.mp3"_s, u"00:03:35"_s, u"01:02:03"_s, u"00:04:10"_s }));
        QCOMPARE(f.setList().Row(), 2);
        f.click(u"Command5"_s);
        f.click(u"Command5"_s);
        QCOMPARE(std::pair(f.boxes.lastPrompt(), f.boxes.lastCaption()), std::pair(u"これ以上上に上げれません"_s, u"お知らせ"_s));
        f.setList().setRow(2);
        QTest::keyClick(f.widget(u"MSHFlexGrid2"_s), Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(columnTexts(f.setList(), 1), (QStringList{ u"C.mp3"_s, u"B.mp3"_s, u"A.mp3"_s }));
        QCOMPARE(f.setList().Row(), 3);
        f.click(u"Command6"_s);
        QCOMPARE(f.boxes.lastPrompt(), u"これ以上下に下げれません"_s);
        QCOMPARE(f.text(u"Text6"_s), total);
    }
};

KORVANDA_FORM_TEST_MAIN(TestForm1SetList)
#include "tst_form1_setlist.moc"
