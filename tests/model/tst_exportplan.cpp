// The export plan: folder, export names and the plain-text list, without the disk.
#include "model/exportformat.h"
#include "model/exportplan.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestExportPlan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void plan_data()
    {
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("setName");
        QTest::addColumn<QStringList>("rows"); // "number|full path"
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("text");
        const auto row = [](const char *name, QChar sep, const QString &base, const QString &set, const QStringList &rows,
                            const QString &folder, const QStringList &names, const QString &text) {
            QTest::newRow(name) << sep << base << set << rows << folder << names << text;
        };
        row("worked example", u'\\', u"E:\\Live"_s, u"June Tour"_s,
            { u"01|D:\\Songs\\Opening.mp3"_s, u"02|D:\\Songs\\Ballad No.2.wav"_s, u"03|D:\\Songs\\Opening.mp3"_s },
            u"E:\\Live\\June Tour"_s, { u"01 Opening.mp3"_s, u"02 Ballad No.2.wav"_s, u"03 Opening.mp3"_s },
            u"01 Opening\r\n02 Ballad No.2\r\n03 Opening\r\n"_s);
        row("slash, Japanese", u'/', u"/出力"_s, u"六月公演"_s, { u"01|/曲/夜明けの歌.mp3"_s }, u"/出力/六月公演"_s,
            { u"01 夜明けの歌.mp3"_s }, u"01 夜明けの歌\r\n"_s);
        row("base ending with the separator doubles it", u'/', u"/"_s, u"Set"_s, { u"01|/a/Song.mp3"_s }, u"//Set"_s,
            { u"01 Song.mp3"_s }, u"01 Song\r\n"_s);
        row("set name with a separator nests", u'/', u"/out"_s, u"2024/June"_s, { u"01|/m/S.mp3"_s },
            u"/out/2024/June"_s, { u"01 S.mp3"_s }, u"01 S\r\n"_s);
        row("blank set name is kept", u'/', u"/out"_s, u"  "_s, { u"01|/m/S.mp3"_s }, u"/out/  "_s, { u"01 S.mp3"_s },
            u"01 S\r\n"_s);
        row("empty path passed over", u'/', u"/o"_s, u"S"_s, { u"01|/m/A.mp3"_s, u"02|"_s, u"03|/m/C.mp3"_s }, u"/o/S"_s,
            { u"01 A.mp3"_s, u"03 C.mp3"_s }, u"01 A\r\n03 C\r\n"_s);
        row("only the extension is cut", u'/', u"/o"_s, u"S"_s,
            { u"01|/m/Live.2.mp3"_s, u"02|/m/Song.flac"_s, u"03|/m/.mp3"_s, u"04|/m/ab"_s }, u"/o/S"_s,
            { u"01 Live.2.mp3"_s, u"02 Song.flac"_s, u"03 .mp3"_s, u"04 ab"_s }, u"01 Live.2\r\n02 Song\r\n03 \r\n04 ab\r\n"_s);
        // The last character is never a split point, so a trailing separator
        // stays in the name; the check before copying finds no file there.
        row("trailing separator", u'/', u"/o"_s, u"S"_s, { u"01|/m/Album/"_s }, u"/o/S"_s, { u"01 Album/"_s },
            u"01 Al\r\n"_s);
        row("no separator keeps the whole path", u'/', u"/o"_s, u"S"_s, { u"01|Song.mp3"_s }, u"/o/S"_s,
            { u"01 Song.mp3"_s }, u"01 Song\r\n"_s);
        row("numbers are used as they stand", u'/', u"/o"_s, u"S"_s, { u"09|/m/A.mp3"_s, u"100|/m/B.mp3"_s }, u"/o/S"_s,
            { u"09 A.mp3"_s, u"100 B.mp3"_s }, u"09 A\r\n100 B\r\n"_s);
        row("no rows", u'/', u"/o"_s, u"S"_s, {}, u"/o/S"_s, {}, QString());
    }
    void plan()
    {
        QFETCH(QChar, separator);
        QFETCH(QString, base);
        QFETCH(QString, setName);
        QFETCH(QStringList, rows);
        QFETCH(QString, folder);
        QFETCH(QStringList, names);
        QFETCH(QString, text);
        QList<SetListRow> input;
        for (const QString &r : rows)
            input.append({ int(input.size() + 1), r.section(u'|', 0, 0), r.section(u'|', 1), {}, {} });
        const ExportPlan plan = planExport(input, base, setName, separator);
        QCOMPARE(plan.folder, folder);
        QStringList got;
        for (const ExportItem &item : plan.items) {
            got.append(item.exportName);
            QCOMPARE(item.destinationPath, folder + separator + item.exportName);
            QCOMPARE(input.at(item.row - 1).fullPath, item.sourcePath);
        }
        QCOMPARE(got, names);
        QCOMPARE(plan.text(), text);
    }

    // What each song becomes for the player: the kind of conversion (an MP3's
    // nearest gain step, within its peak), the name (number and title kept, the
    // new extension), and the room it will take.
    // A song's line in the set list text never changes.
    void formats_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("file");
        QTest::addColumn<double>("gainDb");
        QTest::addColumn<double>("truePeakDb");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("steps");
        using K = SongConversion::Kind;
        QTest::newRow("copy") << u"copy"_s << u"Song.m4a"_s << 0.0 << -3.0 << int(K::Copy) << u"01 Song.m4a"_s << 0;
        QTest::newRow("mp3 down: frame gain") << u"copy"_s << u"Song.mp3"_s << -4.4 << -1.0 << int(K::Mp3FrameGain) << u"01 Song.mp3"_s << -3;
        QTest::newRow("mp3 up, nearest step") << u"copy"_s << u"Song.mp3"_s << 2.4 << -9.0 << int(K::Mp3FrameGain) << u"01 Song.mp3"_s << 2;
        QTest::newRow("mp3 up, the peak allows one step") << u"copy"_s << u"Song.mp3"_s << 2.4 << -3.0 << int(K::Mp3FrameGain) << u"01 Song.mp3"_s << 1;
        QTest::newRow("mp3 up, no room under the peak: copy") << u"copy"_s << u"Song.mp3"_s << 3.0 << -1.2 << int(K::Copy) << u"01 Song.mp3"_s << 0;
        QTest::newRow("mp3 gain under half a step: copy") << u"copy"_s << u"Song.mp3"_s << 0.7 << -9.0 << int(K::Copy) << u"01 Song.mp3"_s << 0;
        QTest::newRow("wav rewritten") << u"copy"_s << u"Song.wav"_s << 3.0 << -9.0 << int(K::Rewrite) << u"01 Song.wav"_s << 0;
        QTest::newRow("flac rewritten") << u"copy"_s << u"Live.2.flac"_s << -3.0 << -1.0 << int(K::Rewrite) << u"01 Live.2.flac"_s << 0;
        QTest::newRow("aif rewritten") << u"copy"_s << u"Song.aif"_s << -3.0 << -1.0 << int(K::Rewrite) << u"01 Song.aif"_s << 0;
        QTest::newRow("m4a with gain becomes mp3") << u"copy"_s << u"Live.2.m4a"_s << -3.0 << -1.0 << int(K::ToMp3) << u"01 Live.2.mp3"_s << 0;
        QTest::newRow("ogg with gain becomes mp3") << u"copy"_s << u"Song.ogg"_s << 2.0 << -9.0 << int(K::ToMp3) << u"01 Song.mp3"_s << 0;
        QTest::newRow("format mp3") << u"mp3"_s << u"Song.wav"_s << 0.0 << -3.0 << int(K::ToMp3) << u"01 Song.mp3"_s << 0;
        QTest::newRow("format mp3 keeps an mp3") << u"mp3"_s << u"Song.mp3"_s << 0.0 << -3.0 << int(K::Copy) << u"01 Song.mp3"_s << 0;
        QTest::newRow("format wav") << u"wav"_s << u"Song.mp3"_s << -2.0 << -3.0 << int(K::ToWav) << u"01 Song.wav"_s << 0;
        QTest::newRow("format wav, a four-letter extension") << u"wav"_s << u"Song.flac"_s << 0.0 << -3.0 << int(K::ToWav) << u"01 Song.wav"_s << 0;
        QTest::newRow("format wav, no extension") << u"wav"_s << u"Song"_s << 0.0 << -3.0 << int(K::ToWav) << u"01 Song.wav"_s << 0;
    }
    void formats()
    {
        QFETCH(QString, format);
        QFETCH(QString, file);
        QFETCH(double, gainDb);
        QFETCH(double, truePeakDb);
        QFETCH(int, kind);
        QFETCH(QString, name);
        QFETCH(int, steps);
        ExportPlan plan = planExport({ { 1, u"01"_s, u"/songs/"_s + file, {}, {} } }, u"/out"_s, u"Set"_s, u'/');
        const QString line = plan.items[0].line;
        ExportFormat::Source source{ gainDb, Loudness{ -14.0, truePeakDb }, 5'000'000, 200.0, {} };
        ExportFormat::apply(plan, *ExportFormat::parse(format), { source });
        const ExportItem &item = plan.items[0];
        QCOMPARE(int(item.conversion.kind), kind);
        QCOMPARE(item.exportName, name);
        QCOMPARE(item.destinationPath, u"/out/Set/"_s + name);
        QCOMPARE(item.line, line);
        QCOMPARE(item.conversion.mp3Steps, steps);
        // A copy counts its source's size; a new file at least its own.
        QVERIFY(kind <= int(SongConversion::Kind::Mp3FrameGain) ? item.expectedBytes == -1 : item.expectedBytes >= 5'000'000);
    }

    // An edited song: an MP3 whose edits its own frames carry stays an MP3
    // without encoding (a start, an end, fades of 2 s or more); anything else
    // is rendered, a lossless song in its own format, a lossy one as an MP3.
    // The set list text gives the edited length; the row tells whether the
    // song stays lossless.
    void editedFormats_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("edits");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("lossless");
        QTest::addColumn<bool>("cuttable");
        using K = SongConversion::Kind;
        QTest::newRow("mp3 start, end and fades") << u"copy"_s << u"Song.mp3"_s << u"start=1;end=150;fadein=2;fadeout=8"_s << int(K::Mp3Edit) << u"01 Song.mp3"_s << true << true;
        QTest::newRow("mp3 cut reaching the end: an end") << u"mp3"_s << u"Song.mp3"_s << u"cut=150-200"_s << int(K::Mp3Edit) << u"01 Song.mp3"_s << true << true;
        QTest::newRow("mp3 without a gapless header: encoded") << u"copy"_s << u"Song.mp3"_s << u"start=1;end=150"_s << int(K::ToMp3) << u"01 Song.mp3"_s << false << false;
        QTest::newRow("mp3 cut inside: encoded") << u"copy"_s << u"Song.mp3"_s << u"cut=60-75"_s << int(K::ToMp3) << u"01 Song.mp3"_s << false << true;
        QTest::newRow("mp3 1.5 s fade: encoded") << u"copy"_s << u"Song.mp3"_s << u"fadeout=1.5"_s << int(K::ToMp3) << u"01 Song.mp3"_s << false << true;
        QTest::newRow("mp3 key: encoded") << u"copy"_s << u"Song.mp3"_s << u"key=-2"_s << int(K::ToMp3) << u"01 Song.mp3"_s << false << true;
        QTest::newRow("flac rendered as flac") << u"copy"_s << u"Song.flac"_s << u"tempo=95"_s << int(K::Rewrite) << u"01 Song.flac"_s << true << true;
        QTest::newRow("m4a rendered as mp3") << u"copy"_s << u"Song.m4a"_s << u"end=180"_s << int(K::ToMp3) << u"01 Song.mp3"_s << false << true;
        QTest::newRow("format wav") << u"wav"_s << u"Song.mp3"_s << u"cut=60-75"_s << int(K::ToWav) << u"01 Song.wav"_s << true << true;
    }
    void editedFormats()
    {
        QFETCH(QString, format);
        QFETCH(QString, file);
        QFETCH(QString, edits);
        QFETCH(int, kind);
        QFETCH(QString, name);
        QFETCH(bool, lossless);
        QFETCH(bool, cuttable);
        const SongEdits e = *SongEdits::fromText(edits);
        ExportPlan plan = planExport({ { 1, u"01"_s, u"/songs/"_s + file, e, u"00:03:20"_s } }, u"/out"_s, u"Set"_s, u'/');
        const ExportFormat::Format f = *ExportFormat::parse(format);
        ExportFormat::apply(plan, f, { { 0, std::nullopt, 5'000'000, 200.0, e, cuttable } });
        const ExportItem &item = plan.items[0];
        QCOMPARE(int(item.conversion.kind), kind);
        QCOMPARE(item.conversion.edits, e);
        QCOMPARE(item.exportName, name);
        QCOMPARE(item.line, u"01 Song（00:03:20）\r\n"_s);
        QCOMPARE(item.title, u"Song"_s);
        QCOMPARE(ExportFormat::staysLossless(file, e, 200'000, f, cuttable), lossless);
    }
};

QTEST_GUILESS_MAIN(TestExportPlan)
#include "tst_exportplan.moc"
