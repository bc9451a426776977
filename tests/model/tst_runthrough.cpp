// The run-through's sequence and clock, driven by a script of what the player
// reports and when: the window's sound tests hear the order, these pin the counting.
#include "model/runthrough.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestRunThrough : public QObject
{
    Q_OBJECT

    static RunThrough threeSongs()
    {
        return RunThrough({ { 1, u"/a"_s, u"a"_s, 3000 }, { 2, u"/x"_s, u"x"_s, 4000 }, { 3, u"/b"_s, u"b"_s, 2000 } }, 1000);
    }

private Q_SLOTS:
    void skippedSongBringsNoPause()
    {
        RunThrough run = threeSongs();
        QCOMPARE(run.due(0)->row, 1);
        QVERIFY(!run.due(100)); // nothing more while a song plays
        QVERIFY(!run.upcoming());
        QCOMPARE(run.elapsedMs(100, 9000), 3000); // never beyond the listed length
        run.ended(3200);
        QCOMPARE(run.elapsedMs(3700, 0), 3500); // the pause under way
        QVERIFY(!run.due(4100));
        QCOMPARE(run.upcoming()->row, 2); // prepared during the pause
        QCOMPARE(run.due(4200)->row, 2); // the pause over, counted whole
        QVERIFY(!run.upcoming());
        run.failed();
        QCOMPARE(run.due(4200)->row, 3); // at once
        QCOMPARE(run.elapsedMs(4300, 500), 4500);
        run.ended(6300);
        QVERIFY(run.isDone());
        QCOMPARE(run.elapsedMs(9000, 0), 6000); // songs played and one pause, nothing after the last
        QCOMPARE(run.skipped(), QStringList{ u"x"_s });
    }

    void nothingToPlay()
    {
        RunThrough run({}, 1000);
        QVERIFY(run.isDone() && !run.due(0));
        RunThrough lastFails({ { 1, u"/x"_s, u"x"_s, 4000 } }, 1000);
        QVERIFY(lastFails.due(0));
        lastFails.failed();
        QVERIFY(lastFails.isDone() && !lastFails.due(5000));
        QCOMPARE(lastFails.elapsedMs(5000, 0), 0);
    }
};

QTEST_GUILESS_MAIN(TestRunThrough)
#include "tst_runthrough.moc"
