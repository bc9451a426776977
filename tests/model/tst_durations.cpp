// Length texts and the sums of them: rounding, carries, and input that is
// not a length text.
#include "model/durations.h"

#include <QTest>

#include <limits>

using namespace Qt::StringLiterals;

class TestDurations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void formatLength_data()
    {
        QTest::addColumn<double>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << u"00:00:00"_s;
        // Milliseconds round half to even, then the seconds are cut.
        QTest::newRow("half rounds up to even") << 999.5 << u"00:00:01"_s;
        QTest::newRow("half rounds down to even") << 1000.5 << u"00:00:01"_s;
        QTest::newRow("seconds are cut") << 215999.0 << u"00:03:35"_s;
        QTest::newRow("24 hours do not wrap") << 90061000.0 << u"25:01:01"_s;
        QTest::newRow("held at 32 bits") << 1e18 << u"596:31:23"_s;
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << u"596:31:23"_s;
        QTest::newRow("negative") << -5000.0 << u"00:00:00"_s;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << u"00:00:00"_s;
    }
    void formatLength()
    {
        QFETCH(double, ms);
        QFETCH(QString, text);
        QCOMPARE(FormatLength(ms), text);
    }

    void addTimes_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("sum");
        QTest::newRow("seconds and minutes carry") << u"00:59:30"_s << u"00:01:30"_s << u"01:01:00"_s;
        QTest::newRow("past 24 hours") << u"23:30:00"_s << u"01:45:00"_s << u"25:15:00"_s;
        QTest::newRow("three-digit hours") << u"99:59:59"_s << u"00:00:01"_s << u"100:00:00"_s;
        QTest::newRow("no colon adds nothing") << u"00:01:00"_s << u"garbage"_s << u"00:01:00"_s;
        QTest::newRow("empty") << QString() << QString() << u"00:00:00"_s;
        QTest::newRow("minutes of 60 and more") << u"00:75:00"_s << u"00:00:00"_s << u"01:15:00"_s;
        QTest::newRow("huge hours do not overflow") << u"99999999999999999999999:00:00"_s << u"1:00:00"_s
                                                    << u"1000000000000000000:00:00"_s;
    }
    void addTimes()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, sum);
        QCOMPARE(AddTimes(first, second), sum);
    }
};

QTEST_GUILESS_MAIN(TestDurations)
#include "tst_durations.moc"
