// The level plan of a set: which gain each song gets, the median target, the
// peak ceiling that keeps a quiet song with loud peaks from being pushed into
// clipping, songs close enough left alone; and what the set list shows.
#include "model/levelmatch.h"

#include <QTest>

using namespace Qt::StringLiterals;

using Songs = QList<std::optional<Loudness>>;
Q_DECLARE_METATYPE(Songs)

namespace {
std::optional<Loudness> song(double lufs, double peak) { return Loudness{ lufs, peak }; }
const std::optional<Loudness> Unmeasured;
const std::optional<Loudness> Silent = Loudness{};
} // namespace

class TestLevelMatch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void target_data()
    {
        QTest::addColumn<Songs>("songs");
        QTest::addColumn<double>("expected");
        QTest::newRow("odd count: the middle one") << Songs{ song(-9, -1), song(-20, -8), song(-14, -3) } << -14.0;
        QTest::newRow("even count: between the middle two") << Songs{ song(-10, -1), song(-20, -8), song(-14, -3), song(-16, -4) } << -15.0;
        QTest::newRow("silent and unmeasured songs count for nothing")
            << Songs{ Silent, song(-12, -1), Unmeasured, song(-18, -6), song(-16, -5) } << -16.0;
        QTest::newRow("one song") << Songs{ song(-11.5, -0.2) } << -11.5;
    }
    void target()
    {
        QFETCH(Songs, songs);
        QFETCH(double, expected);
        QCOMPARE(LevelMatch::target(songs), expected);
        QCOMPARE(LevelMatch::plan(songs).targetLufs, expected);
    }

    void nothingToMatch()
    {
        const LevelMatch::Plan plan = LevelMatch::plan({ Silent, Unmeasured });
        QVERIFY(!plan.targetLufs);
        QCOMPARE(plan.songs.size(), 2);
        QVERIFY(plan.songs[0].gainDb == 0 && plan.songs[1].gainDb == 0);
        QVERIFY(!LevelMatch::spread({ Silent, Unmeasured }));
    }

    // Target -14: gains, and where the peak rule stops a lift.
    void gains_data()
    {
        QTest::addColumn<std::optional<Loudness>>("other");
        QTest::addColumn<double>("gain");
        QTest::addColumn<bool>("limited");
        QTest::newRow("louder: lowered all the way") << song(-8, 0.5) << -6.0 << false;
        QTest::newRow("quieter, room for the lift") << song(-20, -9) << 6.0 << false;
        QTest::newRow("quieter, its peak stops it below -1 dBTP") << song(-20, -4) << 3.0 - LevelMatch::PeakMarginDb << true;
        QTest::newRow("quieter, peak already at the ceiling") << song(-20, -1) << 0.0 << true;
        QTest::newRow("quieter, peak over the ceiling: not lowered either") << song(-20, 0.3) << 0.0 << true;
        QTest::newRow("within 0.5 LU: left alone, even over the ceiling") << song(-13.6, 0.2) << 0.0 << false;
        QTest::newRow("just beyond 0.5 LU: matched") << song(-14.6, -6) << 0.6 << false;
        QTest::newRow("silent: left alone") << Silent << 0.0 << false;
        QTest::newRow("unmeasured: left alone") << Unmeasured << 0.0 << false;
    }
    void gains()
    {
        QFETCH(std::optional<Loudness>, other);
        QFETCH(double, gain);
        QFETCH(bool, limited);
        // Three songs at -14 hold the median there whatever the fourth is.
        const Songs set{ song(-14, -2), song(-14, -0.5), other, song(-14, -3) };
        const LevelMatch::Plan plan = LevelMatch::plan(set);
        QCOMPARE(plan.targetLufs, -14.0);
        QVERIFY2(std::abs(plan.songs[2].gainDb - gain) < 1e-9, qPrintable(QString::number(plan.songs[2].gainDb)));
        QCOMPARE(plan.songs[2].peakLimited, limited);
        // No lifted song ends above the ceiling.
        for (qsizetype i = 0; i < set.size(); ++i)
            if (set[i] && plan.songs[i].gainDb > 0)
                QVERIFY(set[i]->truePeakDb + plan.songs[i].gainDb <= LevelMatch::PeakCeilingDb - LevelMatch::PeakMarginDb + 1e-9);
    }

    // The marker goes on the song that jumps, against the one just before it.
    void jumpsAndSpread()
    {
        const Songs set{ song(-14, -1), song(-17.5, -3), song(-16, -2), Unmeasured, song(-9, -0.1), song(-12.5, -1) };
        // After an unmeasured song nothing is known.
        QCOMPARE(LevelMatch::jumps(set), (QList<int>{ 0, -1, 0, 0, 0, -1 }));
        QCOMPARE(LevelMatch::jumps({ song(-14, -1), song(-17, -1), song(-14, -1) }), (QList<int>{ 0, 0, 0 })); // exactly 3 LU is no jump
        const auto spread = LevelMatch::spread(set);
        QVERIFY(spread && spread->quietest == -17.5 && spread->loudest == -9);
        QCOMPARE(LevelMatch::lufsText(-14.26), u"-14.3"_s);
        QCOMPARE(LevelMatch::lufsText(-0.04), u"0.0"_s);
    }
};

QTEST_GUILESS_MAIN(TestLevelMatch)
#include "tst_levelmatch.moc"
