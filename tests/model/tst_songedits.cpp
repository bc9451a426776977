#include "model/songedits.h"

#include <QTest>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// The joined song of a one-channel source whose every sample is its own frame
// number, started at `from` and fed in uneven pieces, as a decoder hands it on.
std::vector<float> joined(const EditPlan &plan, qint64 from)
{
    EditJoiner joiner(plan, 1, from);
    std::vector<float> out;
    while (const auto span = joiner.nextSpan()) {
        std::vector<float> source;
        for (qint64 f = span->from; f < span->to; ++f)
            source.push_back(float(f));
        qint64 at = 0;
        for (qint64 piece = 7; at < qint64(source.size()); piece = piece * 3 % 1001 + 1)
            at += joiner.feed(source.data() + at, std::min<qint64>(piece, qint64(source.size()) - at), out);
    }
    return out;
}

} // namespace

class TestSongEdits : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void editedLength_data()
    {
        QTest::addColumn<QString>("edits");
        QTest::addColumn<qint64>("songMs");
        QTest::addColumn<qint64>("editedMs");
        QTest::addColumn<QString>("fitted");
        QTest::newRow("none") << QString() << 200'000LL << 200'000LL << QString();
        QTest::newRow("start, end and a cut") << u"start=2.000;end=190.000;cut=60.000-75.000"_s << 200'000LL << 173'000LL
                                              << u"start=2.000;end=190.000;cut=60.000-75.000"_s;
        QTest::newRow("overlapping cuts merge; a cut from the start moves the start")
            << u"cut=0.000-5.000;cut=50.000-70.000;cut=60.000-80.000"_s << 100'000LL << 65'000LL
            << u"start=5.000;cut=50.000-80.000"_s;
        QTest::newRow("an end past the song, fades longer than what is left")
            << u"start=90.000;end=500.000;fadein=30.000;fadeout=30.000"_s << 100'000LL << 10'000LL
            << u"start=90.000;end=100.000;fadein=10.000;fadeout=10.000"_s;
        QTest::newRow("tempo 80 % plays longer, 120 % shorter, out of range held at the limit")
            << u"tempo=50;key=-9"_s << 120'000LL << 150'000LL << u"key=-6;tempo=80"_s;
        QTest::newRow("a start past the end leaves nothing") << u"start=300.000;end=100.000"_s << 200'000LL << 0LL
                                                            << u"start=100.000;end=100.000"_s;
    }
    void editedLength()
    {
        QFETCH(QString, edits);
        QFETCH(qint64, songMs);
        const SongEdits e = SongEdits::fromText(edits).value_or(SongEdits{});
        QTEST(e.editedMs(songMs), "editedMs");
        QTEST(e.fitted(songMs).toText(), "fitted");
    }

    // The joined song holds exactly the kept frames, in order, crossfaded only
    // within half a crossfade of each join; it is the same frames wherever it
    // starts, so a seek hears what the whole song has there.
    void joinedFrames_data()
    {
        QTest::addColumn<QString>("edits");
        QTest::addColumn<int>("rate");
        QTest::newRow("two cuts, fades, 44.1 kHz") << u"start=0.010;end=0.900;cut=0.200-0.300;cut=0.500-0.520;fadein=0.050;fadeout=0.100"_s << 44'100;
        QTest::newRow("slower tempo, 48 kHz") << u"cut=0.100-0.400;tempo=90"_s << 48'000;
        QTest::newRow("a kept part shorter than a crossfade") << u"cut=0.100-0.400;cut=0.405-0.600"_s << 44'100;
    }
    void joinedFrames()
    {
        QFETCH(QString, edits);
        QFETCH(int, rate);
        const EditPlan plan(*SongEdits::fromText(edits), rate, rate); // one second of song
        const std::vector<float> whole = joined(plan, 0);
        QCOMPARE(qint64(whole.size()), plan.joinedFrames());
        const qint64 half = plan.crossfadeFrames() / 2;
        qint64 joinAt = 0;
        for (qsizetype r = 0; r < plan.kept().size(); ++r) {
            const EditPlan::Range range = plan.kept()[r];
            for (qint64 f = range.from; f < range.to; ++f) {
                const qint64 j = joinAt + f - range.from;
                const bool nearJoin = (r > 0 && f < range.from + half) || (r + 1 < plan.kept().size() && f >= range.to - half);
                QCOMPARE(plan.sourceFrame(j), f);
                if (!nearJoin)
                    QCOMPARE(whole[size_t(j)], float(f) * plan.fadeGain(j));
            }
            joinAt += range.to - range.from;
        }
        for (qint64 from : { qint64(1), half, joinAt / 3, plan.kept()[0].to - plan.kept()[0].from - 1, plan.joinedFrames() - 1 }) {
            const std::vector<float> tail = joined(plan, from);
            QCOMPARE(qint64(tail.size()), plan.joinedFrames() - from);
            QVERIFY2(std::equal(tail.begin(), tail.end(), whole.begin() + from), qPrintable(QString::number(from)));
        }
        QCOMPARE(plan.outputFrames(), qint64(std::llround(double(plan.joinedFrames()) / plan.tempo())));
    }
};

QTEST_GUILESS_MAIN(TestSongEdits)
#include "tst_songedits.moc"
