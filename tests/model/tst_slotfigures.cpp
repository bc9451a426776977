// The slot figures: what is left of the slot, or how far the set runs over.
#include "model/slotfigures.h"
#include "model/songtable.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestSlotFigures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void leftOrOver_data()
    {
        QTest::addColumn<int>("songs");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("slot");
        QTest::addColumn<qint64>("pause");
        QTest::addColumn<QString>("expected");
        QTest::newRow("exactly full") << 3 << qint64(1500) << u"00:25:00"_s << qint64(0) << u"残り 00:00:00"_s;
        QTest::newRow("one second over") << 3 << qint64(1501) << u"00:25:00"_s << qint64(0) << u"超過 00:00:01"_s;
        // Three songs have two gaps: 1380 + 2 x 60 fills 25 minutes exactly.
        QTest::newRow("pause between songs only") << 3 << qint64(1380) << u"0:25:00"_s << qint64(60)
                                                  << u"残り 00:00:00"_s;
        QTest::newRow("one song has no pause") << 1 << qint64(300) << u"00:10:00"_s << qint64(90) << u"残り 00:05:00"_s;
        QTest::newRow("no songs") << 0 << qint64(0) << u"00:45:00"_s << qint64(90) << u"残り 00:45:00"_s;
        QTest::newRow("over by minutes") << 10 << qint64(2700) << u"00:45:00"_s << qint64(13) << u"超過 00:01:57"_s;
        QTest::newRow("no slot set") << 3 << qint64(1500) << QString() << qint64(30) << QString();
        QTest::newRow("odd slot text is no slot") << 3 << qint64(1500) << u"00:61:00"_s << qint64(0) << QString();
        QTest::newRow("slot in full-width digits") << 1 << qint64(1) << u"００:１０:００"_s << qint64(0) << QString();
        QTest::newRow("hours beyond a day") << 1 << qint64(0) << u"100:00:00"_s << qint64(0) << u"残り 100:00:00"_s;
    }
    void leftOrOver()
    {
        QFETCH(int, songs);
        QFETCH(qint64, total);
        QFETCH(QString, slot);
        QFETCH(qint64, pause);
        QFETCH(QString, expected);
        const SlotFigures figures{ songs, total, SlotFigures::parseLength(slot), pause };
        QCOMPARE(figures.leftText(), expected);
        QCOMPARE(figures.isOver(), expected.startsWith(u"超過"_s));
    }

    void readsTheSetListWithoutMovingItsCursor()
    {
        SongTable list;
        list.setRows(2); // the empty set list: one blank row, no song
        QCOMPARE(SlotFigures::ofSetList(list).songs, 0);
        QCOMPARE(SlotFigures::ofSetList(list).totalSeconds, 0);

        list.setRows(4);
        const QStringList lengths{ u"00:03:35"_s, u"00:59:59"_s, u"01:00:01"_s };
        for (int r = 1; r <= 3; ++r) {
            list.setRow(r);
            list.setCol(1);
            list.setText(u"song%1.mp3"_s.arg(r));
            list.setCol(3);
            list.setText(lengths[r - 1]);
        }
        list.setRow(2);
        list.setCol(1);
        const SlotFigures figures = SlotFigures::ofSetList(list);
        QCOMPARE(figures.songs, 3);
        QCOMPARE(figures.totalSeconds, 215 + 3599 + 3601);
        QCOMPARE(list.Row(), 2);
        QCOMPARE(list.Col(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSlotFigures)
#include "tst_slotfigures.moc"
