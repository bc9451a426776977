#include "model/slotfit.h"
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

        // A decoder hands on blocks that run past a span's end: those frames are left, and
        // the song comes out the same.
        EditJoiner joiner(plan, 1, 0);
        std::vector<float> blocks;
        while (const auto span = joiner.nextSpan()) {
            std::vector<float> source;
            for (qint64 f = span->from; f < span->from + 4096; ++f)
                source.push_back(float(f));
            const qint64 taken = joiner.feed(source.data(), qint64(source.size()), blocks);
            QVERIFY(taken <= span->to - span->from);
        }
        QVERIFY(blocks == whole);
    }

    void fitTheSlot_data()
    {
        // The set: other songs of `others` seconds in all, this song last, a
        // pause between songs; the slot in seconds (-1: none).
        QTest::addColumn<QString>("edits");
        QTest::addColumn<qint64>("songMs");
        QTest::addColumn<qint64>("others");
        QTest::addColumn<int>("songs");
        QTest::addColumn<qint64>("slot");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("proposed");
        QTest::addColumn<qint64>("editedMs");
        const int fits = int(SlotFit::Outcome::Fits), proposed = int(SlotFit::Outcome::Proposed),
                  cannot = int(SlotFit::Outcome::CannotFit);
        // 3 songs, 2 pauses of 30 s: 1500 + 60 + 240 = 1800 s, the slot exactly.
        QTest::newRow("exactly the slot") << QString() << 240'400LL << 1500LL << 3 << 1800LL << fits << QString() << 0LL;
        QTest::newRow("no slot") << QString() << 240'000LL << 9000LL << 3 << -1LL << fits << QString() << 0LL;
        QTest::newRow("over by 30 s: ends 30 s earlier, faded")
            << QString() << 240'400LL << 1530LL << 3 << 1800LL << proposed << u"end=210.000;fadeout=5.000"_s << 210'000LL;
        QTest::newRow("a start and a cut stay, the end falls after the cut")
            << u"start=10.000;cut=100.000-120.000"_s << 240'000LL << 1550LL << 3 << 1800LL << proposed
            << u"start=10.000;end=220.000;fadeout=5.000;cut=100.000-120.000"_s << 190'000LL;
        QTest::newRow("the new end where a cut starts: the cut goes")
            << u"cut=200.000-220.000"_s << 240'000LL << 1540LL << 3 << 1800LL << proposed
            << u"end=200.000;fadeout=5.000"_s << 200'000LL;
        QTest::newRow("tempo 80 %: the end in song time is shorter by the tempo")
            << u"tempo=80;fadeout=8.000"_s << 200'000LL << 1500LL << 3 << 1800LL << proposed
            << u"end=192.000;fadeout=8.000;tempo=80"_s << 240'000LL;
        QTest::newRow("over by more than the song less its fade")
            << QString() << 240'000LL << 1796LL << 3 << 1800LL << cannot << QString() << 0LL;
    }
    void fitTheSlot()
    {
        QFETCH(QString, edits);
        QFETCH(qint64, songMs);
        QFETCH(qint64, others);
        QFETCH(int, songs);
        QFETCH(qint64, slot);
        const SongEdits e = SongEdits::fromText(edits).value_or(SongEdits{});
        const qint64 shown = e.editedMs(songMs) / 1000;
        const SlotFigures figures{ songs, others + shown, slot < 0 ? std::nullopt : std::optional(slot), 30 };
        const SlotFit fit = SlotFit::propose(figures, shown, e, songMs);
        QTEST(int(fit.outcome), "outcome");
        if (fit.outcome != SlotFit::Outcome::Proposed)
            return;
        QTEST(fit.edits.toText(), "proposed");
        QTEST(fit.editedMs, "editedMs");
        // With the proposal the set is the slot or just under it, as the window counts it.
        const SlotFigures after{ songs, others + fit.editedMs / 1000, figures.slotSeconds, 30 };
        QVERIFY(!after.isOver() && *after.leftSeconds() < 1);
    }
};

QTEST_GUILESS_MAIN(TestSongEdits)
#include "tst_songedits.moc"
