// The show's rules, driven by scripts of key presses and of what the player
// reports, with their times: the window's sound tests hear that GO plays and
// Esc fades; these pin which press counts, what is selected and the clock.
#include "model/cuesheet.h"
#include "model/showoptions.h"
#include "model/showresume.h"
#include "model/showrun.h"

#include <QTest>

#include <random>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 FadeMs = 2000;

// Three songs of 3, 4 and 2 minutes, 30 s between them, an 11-minute slot:
// 10 minutes planned. `follows` lists the rows that start by themselves.
QList<ShowRun::Song> threeSongs()
{
    return { { 1, u"/a"_s, u"あ"_s, 180'000 }, { 2, u"/b"_s, u"い"_s, 240'000 }, { 3, u"/c"_s, u"う"_s, 120'000 } };
}

ShowRun show(const QList<int> &follows = {}, std::optional<qint64> slotMs = 660'000)
{
    QList<ShowRun::Song> songs = threeSongs();
    for (ShowRun::Song &s : songs)
        s.follows = follows.contains(s.row);
    return ShowRun(songs, 30'000, slotMs);
}

// "t:what" steps, t in seconds. gK / gK*: key K pressed (* auto-repeated);
// uK: released; x: all released; e: the song ended; F: it failed; iP: cut off
// at P seconds; BP: its file failed after P seconds of it; d / D: the device gone / back; s: Esc; b: Back; f: a song due.
// Returns what each g, s, b and f answered, space-separated.
QString play(ShowRun &run, const QString &script)
{
    static const QString goes = u"STHPNO"_s;
    static const QString stops = u"nfch"_s;
    QStringList out;
    for (const QString &step : script.split(u' ', Qt::SkipEmptyParts)) {
        const qsizetype colon = step.indexOf(u':');
        const qint64 now = qint64(step.left(colon).toDouble() * 1000);
        const QString what = step.mid(colon + 1);
        const int key = what.size() > 1 ? what.at(1).unicode() : 0;
        switch (what.at(0).unicode()) {
        case 'g':
            out << goes.at(int(run.go(now, key, what.endsWith(u'*'))));
            break;
        case 'u':
            run.release(key);
            break;
        case 'x':
            run.releaseAll();
            break;
        case 'e':
            run.ended(now);
            break;
        case 'F':
            run.failed(now);
            break;
        case 'i':
            run.interrupted(now, qint64(what.mid(1).toDouble() * 1000));
            break;
        case 'B':
            run.brokeOff(now, qint64(what.mid(1).toDouble() * 1000));
            break;
        case 'd':
        case 'D':
            run.setDeviceMissing(what == u"d"_s);
            break;
        case 's':
            out << stops.at(int(run.stop(now, FadeMs)));
            break;
        case 'b':
            out << (run.back(now) ? u"y"_s : u"n"_s);
            break;
        case 'f': {
            const auto due = run.due(now);
            out << (due ? QString::number(due->row) : u"-"_s);
            break;
        }
        default:
            qFatal("unknown step %s", qPrintable(step));
        }
    }
    return out.join(u' ');
}

} // namespace

class TestShowRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keysAndSongs_data()
    {
        QTest::addColumn<QList<int>>("follows");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<int>("playing"); // the row playing at the end, 0 for none
        QTest::addColumn<int>("selected"); // what GO starts next, 0 for none

        // The guard: a key fires once until let go of, and never twice within 400 ms.
        QTest::newRow("held key fires once") << QList<int>{} << u"0:gA 0.05:gA* 0.3:gA* 180:e 180.5:gA* 181:uA 181.2:gA"_s
                                             << u"S H H H S"_s << 2 << 3;
        QTest::newRow("focus lost releases") << QList<int>{} << u"0:gA 180:e 180.5:x 181:gA"_s << u"S S"_s << 2 << 3;
        QTest::newRow("second GO within 400 ms") << QList<int>{} << u"0:gA 0.05:e 0.2:gB 0.399:gC 0.4:gD"_s
                                                 << u"S T T S"_s << 2 << 3;
        // GO never stops nor restarts what plays (and every other rule the random evenings hold).
        QTest::newRow("GO after the last") << QList<int>{} << u"0:gA 180:e 181:gB 421:e 422:gC 542:e 543:gD"_s
                                           << u"S S S O"_s << 0 << 0;
        QTest::newRow("device gone, then back") << QList<int>{} << u"0:d 1:gA 1:uA 2:D 2.1:gA"_s << u"N S"_s << 1 << 2;
        QTest::newRow("broken off: the next waits for GO") << QList<int>{ 2 } << u"0:gA 60:B59.5 100:f 101:gB"_s << u"S - S"_s << 2 << 3;

        // Follow: by itself after the pause, early on GO, held by Esc.
        QTest::newRow("follows after the pause") << QList<int>{ 2 } << u"0:gA 180:e 209.9:f 210:f"_s << u"S - 2"_s << 2 << 3;
        QTest::newRow("GO in the pause starts it") << QList<int>{ 2 } << u"0:gA 180:e 185:gB 210:f"_s << u"S S -"_s << 2 << 3;
        QTest::newRow("Esc holds a follow") << QList<int>{ 2 } << u"0:gA 180:e 200:s 300:f 301:gB"_s << u"S h - S"_s << 2 << 3;

        // Stop in two steps.
        QTest::newRow("Esc fades, Esc again cuts") << QList<int>{} << u"0:gA 100:s 101:s 102:s"_s << u"S f c n"_s << 0 << 2;
        QTest::newRow("Esc after the fade is over") << QList<int>{} << u"0:gA 100:s 102:s"_s << u"S f n"_s << 0 << 2;
        QTest::newRow("GO during a fade") << QList<int>{} << u"0:gA 100:s 101:gB 101.5:s"_s << u"S f S f"_s << 0 << 3;

        // Back re-selects the song just played, never one that sounds.
        QTest::newRow("Back after a song") << QList<int>{} << u"0:gA 180:e 181:b 182:gB"_s << u"S y S"_s << 1 << 2;
        QTest::newRow("Back during its fade") << QList<int>{} << u"0:gA 100:s 101:b 102:b"_s << u"S f n y"_s << 0 << 1;
        QTest::newRow("Back cancels a follow") << QList<int>{ 2 } << u"0:gA 180:e 181:b 300:f"_s << u"S y -"_s << 0 << 1;
        // A song cut off by its device is selected again, from where it was.
        QTest::newRow("interrupted") << QList<int>{} << u"0:gA 180:e 181:gB 200:i19 201:gC"_s << u"S S S"_s << 2 << 3;
    }

    void keysAndSongs()
    {
        QFETCH(QList<int>, follows);
        QFETCH(QString, script);
        QFETCH(QString, answers);
        QFETCH(int, playing);
        QFETCH(int, selected);
        ShowRun run = show(follows);
        QCOMPARE(play(run, script), answers);
        QCOMPARE(run.playing() ? run.playing()->row : 0, playing);
        QCOMPARE(run.selected() ? run.selected()->row : 0, selected);
    }

    // Thousands of random evenings from a fixed seed: keys pressed, held and
    // released, Esc, Back, and everything the player can report, at random
    // moments. Whatever comes: a song starts only by a GO or by following one
    // that ended by itself; only its end, a fade or a fault stops it; GO never
    // touches what plays; no key fires twice without being let go of, nor
    // within the guard; the record has a line per start, open while it plays.
    void randomEveningsKeepTheRules()
    {
        std::mt19937 random(20261209);
        const auto pick = [&](int n) { return int(random() % unsigned(n)); };
        int starts = 0;
        for (int evening = 0; evening < 2000; ++evening) {
            QList<ShowRun::Song> songs;
            for (int i = 0, count = 1 + pick(6); i < count; ++i)
                songs.append({ i + 1, u"/%1"_s.arg(i), u"%1"_s.arg(i), 1000 + pick(300'000), pick(3) == 0 });
            ShowRun run(songs, pick(3) * 10'000, pick(2) ? std::optional<qint64>(600'000) : std::nullopt);
            qint64 now = 0, lastGo = 0;
            QList<int> held;
            bool deviceMissing = false;
            std::optional<ShowRun::Ending> lastEnding;
            for (int step = 0; step < 100; ++step) {
                now += pick(4) == 0 ? pick(400'000) : pick(600);
                const auto before = run.playing();
                const qsizetype lines = run.record().size(), index = run.selectedIndex();
                const QByteArray whereText = "evening " + QByteArray::number(evening) + ", step " + QByteArray::number(step);
                const char *where = whereText.constData();
                bool mayStart = false, mayStop = true;
                switch (pick(10)) {
                case 0:
                case 1:
                case 2: {
                    const int key = pick(3);
                    const bool repeat = pick(4) == 0;
                    if (run.go(now, key, repeat) == ShowRun::Go::Started) {
                        QVERIFY2(!before && !repeat && !held.contains(key) && !deviceMissing, where);
                        QVERIFY2(lines == 0 || now - lastGo >= ShowRun::GuardMs, where);
                        lastGo = now, mayStart = true;
                    }
                    if (!repeat && !held.contains(key))
                        held.append(key);
                    mayStop = false;
                    break;
                }
                case 3:
                    if (pick(4))
                        run.release(held.value(0, 0)), held.removeAll(held.value(0, 0));
                    else
                        run.releaseAll(), held.clear();
                    mayStop = false;
                    break;
                case 4:
                    run.setDeviceMissing(deviceMissing = !deviceMissing);
                    mayStop = false;
                    break;
                case 5:
                    run.stop(now, 1000 * (1 + pick(5)));
                    break;
                case 6:
                    if (run.back(now))
                        QVERIFY2(!before && run.selectedIndex() == index - 1 && run.resumeMs() == 0, where);
                    mayStop = false;
                    break;
                case 7:
                    pick(2) ? run.ended(now) : run.sounded(now);
                    break;
                case 8:
                    if (const qint64 at = pick(100'000); pick(3) == 0) {
                        run.interrupted(now, at);
                        QVERIFY2(!before || (run.selected()->row == before->row && run.resumeMs() == at), where);
                    } else {
                        pick(2) ? run.failed(now) : run.brokeOff(now, at);
                    }
                    break;
                case 9:
                    if (const auto due = run.due(now)) {
                        QVERIFY2(!before && due->follows && lastEnding == ShowRun::Ending::Played && !deviceMissing, where);
                        mayStart = true;
                    }
                    mayStop = false;
                    break;
                }
                const auto after = run.playing();
                const QList<ShowRun::Played> record = run.record();
                QVERIFY2(!before || !after || (after->row == before->row && record.size() == lines), where);
                QVERIFY2(!before || after || mayStop, where);
                QVERIFY2(before || !after || (mayStart && record.size() == lines + 1), where);
                QVERIFY2(before || after || record.size() == lines, where);
                QVERIFY2(record.isEmpty() || (record.last().endMs < 0) == bool(after), where);
                if (before && !after)
                    lastEnding = record.last().ending;
                starts += !before && after;
            }
            for (const ShowRun::Played &line : run.record())
                QVERIFY(line.endMs < 0 || line.endMs >= line.startMs);
            QVERIFY(run.recordText(now).count(u'\n') >= run.record().size());
        }
        QVERIFY2(starts > 5000, "the evenings reached the states worth trying");
    }

    void clock_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<double>("now");
        QTest::addColumn<double>("position");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("spare");
        QTest::addColumn<double>("behind");
        QTest::addColumn<ShowRun::Level>("level");

        using L = ShowRun::Level;
        QTest::newRow("before the first GO") << u""_s << 100.0 << 0.0 << 660.0 << 60.0 << 0.0 << L::Normal;
        QTest::newRow("late start counts from GO") << u"10:gA"_s << 70.0 << 60.0 << 600.0 << 60.0 << 0.0 << L::Normal;
        // The plan allows one pause: waiting longer puts the show behind.
        QTest::newRow("long pause") << u"0:gA 180:e"_s << 250.0 << 0.0 << 410.0 << 20.0 << 40.0 << L::Normal;
        QTest::newRow("short pause, ahead") << u"0:gA 180:e 190:gB"_s << 200.0 << 10.0 << 460.0 << 80.0 << -20.0 << L::Normal;
        QTest::newRow("a fade, ahead") << u"0:gA 100:s"_s << 150.0 << 0.0 << 510.0 << 120.0 << -60.0 << L::Normal;
        QTest::newRow("amber under a minute") << u"0:gA 180:e 181:gB 421:e 422:gC"_s << 610.0 << 188.0 << 50.0 << 50.0
                                              << 10.0 << L::Amber;
        QTest::newRow("red under 15 s") << u"0:gA 180:e 181:gB 421:e 422:gC"_s << 650.0 << 120.0 << 10.0 << 10.0 << 50.0
                                        << L::Red;
        QTest::newRow("over") << u"0:gA 180:e 300:gB 540:e 600:gC"_s << 670.0 << 70.0 << -10.0 << -60.0 << 120.0 << L::Over;
        QTest::newRow("stops with the last song") << u"0:gA 180:e 181:gB 421:e 422:gC 542:e"_s << 900.0 << 0.0 << 118.0
                                                  << 118.0 << -58.0 << L::Normal;
    }

    void clock()
    {
        QFETCH(QString, script);
        QFETCH(double, now);
        QFETCH(double, position);
        ShowRun run = show();
        play(run, script);
        const ShowRun::Clock c = run.clock(qint64(now * 1000), qint64(position * 1000));
        QTEST(double(c.slotLeftMs.value_or(-1)) / 1000, "left");
        QTEST(double(c.spareMs.value_or(-1)) / 1000, "spare");
        QTEST(double(c.behindMs) / 1000, "behind");
        QTEST(c.level, "level");

        ShowRun noSlot = show({}, std::nullopt);
        play(noSlot, script);
        const ShowRun::Clock without = noSlot.clock(qint64(now * 1000), qint64(position * 1000));
        QVERIFY(!without.slotLeftMs && !without.spareMs && without.level == ShowRun::Level::Normal);
        QCOMPARE(without.behindMs, c.behindMs);
    }

    void record()
    {
        ShowRun run = show();
        QCOMPARE(run.recordText(0), u"本番の記録\n演奏した曲はありません。\n"_s);
        // Late by 20 s into the second song, which is cut off at 1:00 and
        // played on from there; the third is faded after 1:50 and cut.
        play(run, u"5:gA 185:e 235:gB 295:i60 300:uB 300:gB 480:e 481:gC 591:s 592:s"_s);
        const QStringList lines = run.recordText(700'000).split(u'\n');
        QCOMPARE(lines.at(1), u"予定 10:00　実際 9:47　差 -0:13"_s);
        QCOMPARE(lines.at(2), u"持ち時間 11:00　残り 1:13"_s);
        const QStringList expected{
            u"01　　 0:00　　 0:00　　 3:00　 3:00　　　 3:00　　　 あ"_s,
            u"　　　曲間 0:50（予定 0:30）"_s,
            u"02　　 3:30　　 3:50　　 4:50　 4:00　　　 1:00　　　 い  ［出力先が切れて中断］"_s,
            u"　　　曲間 0:05（予定 0:30）"_s,
            u"02　　 3:30　　 4:55　　 7:55　 4:00　　　 3:00　　　 い  ［1:00 から］"_s,
            u"　　　曲間 0:01（予定 0:30）"_s,
            u"03　　 8:00　　 7:56　　 9:47　 2:00　　　 1:51　　　 う  ［カット］"_s,
        };
        QCOMPARE(lines.mid(5, expected.size()), expected);
        QCOMPARE(run.record().at(2).fromMs, 60'000);

        ShowRun short_ = show();
        play(short_, u"0:gA 100:s"_s);
        const QString text = short_.recordText(200'000);
        QVERIFY2(text.contains(u"［フェードアウト］"_s) && text.contains(u"演奏しなかった曲: い、う"_s), qPrintable(text));
    }

    // A show cut short goes on at the song that was next: the plan, the slot's
    // spare time and the record count from there; Back before its first GO
    // starts it one song earlier.
    void resumedShow()
    {
        ShowRun run(threeSongs(), 30'000, 660'000, 1);
        QCOMPARE(run.selected()->row, 2);
        QCOMPARE(run.clock(0, 0).spareMs, 270'000);
        QCOMPARE(play(run, u"0:gA 240:e"_s), u"S"_s);
        QCOMPARE(run.clock(250'000, 0).behindMs, 0);
        const QString text = run.recordText(300'000);
        QVERIFY2(text.contains(u"（中断した本番の続き: 2 曲目から）"_s) && text.contains(u"予定 6:30"_s)
                     && text.contains(u"演奏しなかった曲: う\n"_s),
                 qPrintable(text));

        ShowRun earlier(threeSongs(), 30'000, 660'000, 1);
        QCOMPARE(play(earlier, u"0:b"_s), u"y"_s);
        QCOMPARE(earlier.clock(0, 0).spareMs, 60'000);
    }

    // Taken up again after a restart at the third song, its first GO `firstGo`
    // seconds before the restart (the caller's clock's zero): the slot ran on,
    // the plan counts from where it began; a first GO ahead of the clock or of
    // another day starts the clock afresh.
    void resumedClock_data()
    {
        QTest::addColumn<double>("firstGo");
        QTest::addColumn<int>("planFrom");
        QTest::addColumn<QString>("script");
        QTest::addColumn<double>("now");
        QTest::addColumn<double>("position");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("spare");
        QTest::addColumn<double>("behind");

        // Cut off 1:30 into the second song, 5:30 after the first GO: ahead of
        // the plan, which had the third song at 8:00.
        QTest::newRow("slot ran on") << -330.0 << 0 << u""_s << 0.0 << 0.0 << 330.0 << 210.0 << -150.0;
        QTest::newRow("after its GO") << -330.0 << 0 << u"10:gA"_s << 30.0 << 20.0 << 300.0 << 200.0 << -140.0;
        QTest::newRow("plan began later") << -330.0 << 1 << u""_s << 0.0 << 0.0 << 330.0 << 210.0 << 60.0;
        QTest::newRow("another day") << -13.0 * 3600 << 0 << u""_s << 0.0 << 0.0 << 660.0 << 540.0 << 0.0;
        QTest::newRow("clock set back") << 60.0 << 0 << u""_s << 0.0 << 0.0 << 660.0 << 540.0 << 0.0;
    }

    void resumedClock()
    {
        QFETCH(double, firstGo);
        QFETCH(int, planFrom);
        QFETCH(QString, script);
        QFETCH(double, now);
        QFETCH(double, position);
        ShowRun run(threeSongs(), 30'000, 660'000, 2);
        const bool carried = run.goOn(qint64(firstGo * 1000), planFrom, 0);
        QCOMPARE(carried, firstGo < 0 && firstGo > -12 * 3600);
        play(run, script);
        const ShowRun::Clock c = run.clock(qint64(now * 1000), qint64(position * 1000));
        QTEST(double(c.slotLeftMs.value_or(-1)) / 1000, "left");
        QTEST(double(c.spareMs.value_or(-1)) / 1000, "spare");
        QTEST(double(c.behindMs) / 1000, "behind");
        if (!run.hasStarted() || !carried)
            return;
        // The record goes on too: the song's start counts from the first GO, against the whole plan.
        const QStringList lines = run.recordText(qint64(now * 1000)).split(u'\n');
        QCOMPARE(lines.at(1), u"（中断した本番の続き: 3 曲目から）"_s);
        QCOMPARE(lines.at(6), u"03　　 8:00　　 5:40　　 6:00　 2:00　　　 0:20　　　 う  ［演奏中］"_s);
        QVERIFY2(!run.goOn(0, 0, 40'000), "a show already going on keeps its clock");
    }

    // What the restart reads back, and where the song that was next is now.
    void resumeState_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("now");
        QTest::addColumn<int>("next"); // -1: nothing to offer

        const QByteArray header = "korvanda-show 1\nfile=/s/live.m3u8\nname=ライブ\nstarted=1700000000000\n";
        const QByteArray songs = "song=/a\nsong=/b\nsong=/c\n";
        const QStringList same{ u"/a"_s, u"/b"_s, u"/c"_s };
        QTest::newRow("same set") << header + "next=1\n" + songs << same << 1;
        QTest::newRow("written on Windows") << QByteArray(header + "next=1\n" + songs).replace("\n", "\r\n") << same << 1;
        QTest::newRow("song moved") << header + "next=1\n" + songs << QStringList{ u"/b"_s, u"/a"_s, u"/c"_s } << 0;
        QTest::newRow("twice in the set") << header + "next=2\nsong=/a\nsong=/b\nsong=/a\n" << QStringList{ u"/a"_s, u"/b"_s, u"/a"_s } << 2;
        QTest::newRow("song gone") << header + "next=1\n" + songs << QStringList{ u"/a"_s, u"/c"_s } << -1;
        QTest::newRow("last song was playing") << header + "next=3\n" + songs << same << -1;
        QTest::newRow("no next") << header + songs << same << -1;
        QTest::newRow("not ours") << QByteArray("next=0\nsong=/a\n") << same << -1;
        QTest::newRow("empty") << QByteArray() << same << -1;
    }

    void resumeState()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, now);
        const auto state = ShowResume::parse(text);
        const auto next = state ? state->nextIn(now) : std::nullopt;
        QTEST(int(next.value_or(-1)), "next");
        if (state) {
            // Written back, it reads the same.
            const auto again = ShowResume::parse(state->toText());
            QVERIFY(again && again->songs == state->songs && again->next == state->next
                    && again->setListFile == u"/s/live.m3u8"_s && again->setName == u"ライブ"_s
                    && again->startedMs == 1'700'000'000'000);
        }
    }

    // A set list never saved goes on with its rows' edits, notes and follow
    // marks; a state written before they were kept still reads, without them.
    void resumeStateKeepsRows()
    {
        ShowResume state;
        state.setName = u"ライブ"_s;
        state.songs = QStringList{ u"/a"_s, u"/曲 b=1.wav"_s, u"/c"_s };
        state.extras.resize(3);
        state.extras[1].note = u"MC後\n暗転 #2"_s;
        state.extras[1].follows = true;
        state.extras[2].edits.startMs = 20'500;
        state.extras[2].edits.endMs = 60'000;
        state.extras[2].edits.cuts = { { 30'000, 35'000 } };
        state.next = 2;
        state.planFrom = 1;
        const auto again = ShowResume::parse(state.toText());
        QVERIFY(again);
        state.extras[1].note = u"MC後 暗転 #2"_s; // one line, as the set-list file keeps it
        QCOMPARE(again->extras, state.extras);
        QCOMPARE(again->songs, state.songs);
        QCOMPARE(again->planFrom, 1);

        // A set whose rows have nothing is kept so too (an edit taken away after the
        // file was saved stays away), with the slot and pause of the day.
        state.extras = { {}, {}, {} };
        state.slotSeconds = 40 * 60, state.pauseSeconds = 25;
        const auto bare = ShowResume::parse(state.toText());
        QVERIFY(bare && bare->extras == state.extras && bare->slotKept && bare->slotSeconds == 2400 && bare->pauseSeconds == 25);
        state.slotSeconds.reset();
        QVERIFY(!ShowResume::parse(state.toText())->slotSeconds);

        const QByteArray old = "korvanda-show 1\nfile=\nname=x\nnext=1\nstarted=5\nsong=/a\nsong=/b\n";
        const auto read = ShowResume::parse(old);
        QVERIFY(read && read->extras.isEmpty() && read->planFrom == 0 && read->next == 1 && !read->slotKept);
        // Rows that do not match the songs one for one are no row's.
        const auto mismatched = ShowResume::parse(old + "set=#EXTM3U\nset=#KORVANDA-FOLLOW\nset=/a\n");
        QVERIFY(mismatched && mismatched->extras.isEmpty());
        QCOMPARE(ShowResume::parse(old + "first=7\n")->planFrom, 1);
    }

    // Teaching GO keys: steps "T<key>" teach, the answer is the first letter
    // of what came of it; then the role of every key asked.
    void taughtKeys_data()
    {
        QTest::addColumn<QList<int>>("teach");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<QList<int>>("keptAfterReading");

        using K = Qt::Key;
        QTest::newRow("pedal keys") << QList<int>{ K::Key_VolumeUp, K::Key_MediaNext } << u"TT"_s
                                    << QList<int>{ K::Key_VolumeUp, K::Key_MediaNext };
        QTest::newRow("way out stays") << QList<int>{ K::Key_Escape, K::Key_Left, K::Key_PageUp, K::Key_Backspace } << u"RRRR"_s
                                       << QList<int>{};
        QTest::newRow("already GO") << QList<int>{ K::Key_Space, K::Key_B, K::Key_B } << u"ATA"_s << QList<int>{ K::Key_B };
        QTest::newRow("no key alone") << QList<int>{ K::Key_Shift, K::Key_Tab, K::Key_unknown, K::Key_Control } << u"NNNN"_s
                                      << QList<int>{};
        QTest::newRow("the oldest goes") << QList<int>{ K::Key_0, K::Key_1, K::Key_2, K::Key_3, K::Key_4, K::Key_5, K::Key_6,
                                                        K::Key_7, K::Key_8 }
                                         << u"TTTTTTTTT"_s
                                         << QList<int>{ K::Key_1, K::Key_2, K::Key_3, K::Key_4, K::Key_5, K::Key_6, K::Key_7,
                                                        K::Key_8 };
    }

    void taughtKeys()
    {
        QFETCH(QList<int>, teach);
        QFETCH(QList<int>, keptAfterReading);
        ShowKeys keys;
        QString answers;
        for (int key : teach)
            answers += u"TARN"_s.at(int(keys.teach(key)));
        QTEST(answers, "answers");
        QCOMPARE(keys.taught(), keptAfterReading);
        for (int key : keptAfterReading)
            QCOMPARE(keys.role(key), ShowKeys::Role::Go);
        QCOMPARE(keys.role(Qt::Key_Escape), ShowKeys::Role::Stop);
        QCOMPARE(keys.role(Qt::Key_PageUp), ShowKeys::Role::Back);
        // Kept in the settings and read back; a hand-edited Esc is not GO.
        QCOMPARE(ShowKeys::fromText(keys.toText() + u",16777216,x"_s).taught(), keptAfterReading);
    }

    // The 進行表: how each song starts, its note, and where a fade-out runs in
    // the song as played (stretched with the tempo).
    void cueSheet()
    {
        QList<SetListEntry> set(3);
        set[0] = { u"/s/a.mp3"_s, u"あ"_s, 180, {} };
        set[0].extras.follows = true; // nothing before it to follow
        set[1] = { u"/s/b.mp3"_s, u"い"_s, 200, {} };
        set[1].extras = { {}, u" MC後\n照明 暗転 "_s, true, 240'000 };
        set[1].extras.edits.endMs = 200'000;
        set[1].extras.edits.fadeOutMs = 8'000;
        set[2] = { u"/s/c.mp3"_s, QString(), 250, {} };
        set[2].extras.songMs = 240'000;
        set[2].extras.edits.endMs = 200'000;
        set[2].extras.edits.fadeOutMs = 8'000;
        set[2].extras.edits.tempoPercent = 80;
        QVERIFY(CueSheet::hasCues(set));
        const QStringList lines = CueSheet::text(u"金曜"_s, set, 30'000, 660'000).split(u'\n');
        const QStringList expected{
            u"進行表　金曜"_s,
            u"3 曲　合計 11:30（曲間 30 秒を含む）　持ち時間 11:00"_s,
            QString(),
            u"番号　曲名　長さ　きっかけ　メモ　フェードアウト"_s,
            u"01　あ　3:00　GO　－"_s,
            u"02　い　3:20　前の曲から 30 秒で自動　MC後 照明 暗転　F.O. 3:12〜3:20"_s,
            u"03　c.mp3　4:10　GO　－　F.O. 4:00〜4:10"_s,
        };
        QCOMPARE(lines.mid(0, expected.size()), expected);
        QVERIFY(!CueSheet::hasCues({ { u"/s/a.mp3"_s, u"あ"_s, 180, {} } }));
    }

    void screen_data()
    {
        QTest::addColumn<QStringList>("screens");
        QTest::addColumn<QString>("main");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("index");
        const QStringList two{ u"eDP-1"_s, u"HDMI-1"_s };
        QTest::newRow("one screen") << QStringList{ u"eDP-1"_s } << u"eDP-1"_s << QString() << 0;
        QTest::newRow("the other one") << two << u"eDP-1"_s << QString() << 1;
        QTest::newRow("main on the second") << two << u"HDMI-1"_s << QString() << 0;
        QTest::newRow("chosen") << two << u"eDP-1"_s << u"eDP-1"_s << 0;
        QTest::newRow("chosen one unplugged") << two << u"eDP-1"_s << u"DP-2"_s << 1;
        QTest::newRow("none") << QStringList{} << QString() << QString() << -1;
    }

    void screen()
    {
        QFETCH(QStringList, screens);
        QFETCH(QString, main);
        QFETCH(QString, chosen);
        QTEST(int(ShowScreen::choose(screens, main, chosen)), "index");
    }
};

QTEST_GUILESS_MAIN(TestShowRun)
#include "tst_showrun.moc"
