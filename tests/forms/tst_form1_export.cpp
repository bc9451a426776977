// The export as the window runs it: its questions and messages in order, the
// files and the set-list text it leaves, and where it stops.
#include "support/fixtures.h"
#include "support/formfixture.h"

#include "forms/setlisttextbox.h"
#include "platform/storage/stopsignal.h"

#include <QSignalSpy>
#include <QTimer>

#include <csignal>
#include <thread>

using fixtures::contents;
using fixtures::writeSong;

namespace {

const QString Confirm = u" の名前で指定場所にフォルダを作り楽曲保存します　よろしいですか？"_s;
const QString Done = u"出力完了、テキストボックスにセトリ書き出し完了"_s;
const QString Exists = u"フォルダ存在しています。古いファイルがフォルダに残りますがいいですか？"_s;

struct ExportFixture : FormFixture
{
    ExportFixture()
    {
        edit(u"Text2"_s)->setText(out.path() + u"/Live"_s);
        edit(u"Text3"_s)->setText(u"June Tour"_s);
    }
    // Puts rows into the set list the way add and the moves leave them.
    void setSetList(const QStringList &paths)
    {
        setList().setRows(int(paths.size()) + 1);
        for (int i = 0; i < paths.size(); ++i)
            for (int c : { 0, 1, 2 })
                setCell(setList(), i + 1, c, QStringList{ u"%1"_s.arg(i + 1, 2, 10, QChar(u'0')), paths[i].section(u'/', -1), paths[i] }[c]);
    }
    [[nodiscard]] QString setText() const { return widget<SetListTextBox>(u"Text4"_s)->text(); }
    QTemporaryDir songs;
    QTemporaryDir out;
    QString opening = writeSong(songs.path(), u"Opening.mp3"_s, 300000, 1);
    QString ballad = writeSong(songs.path(), u"Ballad No.2.wav"_s, 120000, 2);
};

} // namespace

class TestForm1Export : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void copiesUpToTheFirstFailure_data()
    {
        QTest::addColumn<bool>("blocked"); // a folder under the second song's name
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("row"); // the cursor rests on the song being copied
        QTest::newRow("all copied") << false << Done << u"01 Opening\r\n02 Ballad No.2\r\n03 Opening\r\n"_s << 3;
        QTest::newRow("second copy fails") << true << u"02 Ballad No.2.wav"_s << u"01 Opening\r\n"_s << 2;
    }
    void copiesUpToTheFirstFailure()
    {
        QFETCH(bool, blocked);
        QFETCH(QString, last);
        QFETCH(QString, text);
        QFETCH(int, row);
        ExportFixture f;
        f.setSetList({ f.opening, f.ballad, f.opening });
        const QString folder = f.out.path() + u"/Live/June Tour/"_s;
        QVERIFY(!blocked || QDir().mkpath(folder + u"02 Ballad No.2.wav"_s));
        f.boxes.answers = { true, true };
        QSignalSpy cursor(&f.setList(), &SongTable::cursorChanged);
        f.click(u"Command9"_s);
        // Where the cursor rests for each song copied: on its number cell, the cell whose
        // colour the label above the set list promises to change.
        QList<std::pair<int, int>> rests, numberCells;
        for (const QList<QVariant> &move : cursor) {
            const std::pair at(move.at(0).toInt(), move.at(1).toInt());
            rests.isEmpty() || rests.last().first != at.first ? rests.append(at) : void(rests.last() = at);
        }
        for (int r = 1; r <= row; ++r)
            numberCells.append({ r, 0 });
        QCOMPARE(rests, numberCells);
        QCOMPARE(std::pair(f.boxes.shown.value(0).prompt, f.boxes.shown.value(0).caption), std::pair(QString(u"June Tour"_s + Confirm), u"確認"_s));
        QVERIFY2(f.boxes.lastPrompt().contains(last) && f.boxes.lastPrompt().contains(u"理由"_s) == blocked, qPrintable(f.boxes.lastPrompt()));
        QCOMPARE(contents(folder + u"01 Opening.mp3"_s), contents(f.opening));
        QCOMPARE(contents(folder + u"02 Ballad No.2.wav"_s), blocked ? QByteArray("<missing>") : contents(f.ballad));
        QCOMPARE(QFileInfo::exists(folder + u"03 Opening.mp3"_s), !blocked);
        QCOMPARE(f.setText(), text);
    }

    void stopsBeforeCopying_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("setName");
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("text"); // Text4 afterwards
        const QString old = u"earlier text\r\n"_s;
        QTest::newRow("empty set list") << u"Live"_s << u"Set"_s << QList<bool>() << u"セットリストに曲がセットされていません"_s << old;
        QTest::newRow("no set name") << u"Live"_s << QString() << QList<bool>() << u"保存先フォルダ名が記入されていません"_s << old;
        QTest::newRow("no to the question") << u"Live"_s << u"Set"_s << QList<bool>{ false } << u"Set"_s + Confirm << old;
        QTest::newRow("no to the existing folder") << u"Live"_s << u"Old"_s << QList<bool>{ true, false } << Exists << QString();
        QTest::newRow("into the song folder") << u"songs"_s << u"."_s << QList<bool>{ true } << u"01 Opening.mp3"_s << QString();
        QTest::newRow("song gone since it was added") << u"Live"_s << u"Gone"_s << QList<bool>{ true } << u"02 Ballad No.2.wav"_s << QString();
        QTest::newRow("no base folder") << QString() << u"korvanda-root-test"_s << QList<bool>{ true }
                                        << u"フォルダを作成できませんでした。"_s << QString();
    }
    void stopsBeforeCopying()
    {
        QFETCH(QString, base);
        QFETCH(QString, setName);
        QFETCH(QList<bool>, answers);
        QFETCH(QString, prompt);
        QFETCH(QString, text);
        ExportFixture f;
        if (qstrcmp(QTest::currentDataTag(), "empty set list") != 0)
            f.setSetList({ f.opening, f.ballad });
        if (setName == "Gone"_L1)
            QVERIFY(QFile::remove(f.ballad));
        QVERIFY(QDir().mkpath(f.out.path() + u"/Live/Old"_s));
        const QString baseFolder = base == "songs"_L1 ? f.songs.path() : base.isEmpty() ? base : f.out.path() + u'/' + base;
        f.edit(u"Text2"_s)->setText(baseFolder);
        f.edit(u"Text3"_s)->setText(setName);
        f.widget<SetListTextBox>(u"Text4"_s)->setText(u"earlier text\r\n"_s);
        const auto before = fixtures::snapshot(f.songs.path());
        f.boxes.answers = answers;
        f.click(u"Command9"_s);
        QVERIFY2(f.boxes.lastPrompt().contains(prompt), qPrintable(f.boxes.lastPrompt()));
        QCOMPARE(f.setText(), text);
        QCOMPARE(QDir(f.out.path() + u"/Live"_s).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{ u"Old"_s });
        QVERIFY(QDir(f.out.path() + u"/Live/Old"_s).isEmpty());
        QCOMPARE(fixtures::snapshot(f.songs.path()), before);
        QVERIFY(!QFileInfo::exists(u"/korvanda-root-test"_s));
    }

    // Asked by the system to end (SIGTERM at logout), the window stops an
    // export at once, as a closing program does: the song being written is
    // removed, the one already there is kept whole, and the program ends.
    void systemEndStopsTheExport()
    {
        ExportFixture f;
        fixtures::SlowVolume volume(f.out.path());
        if (!volume.mount(64, 8 << 20))
            QSKIP(qPrintable(volume.why()));
        const QString first = writeSong(f.songs.path(), u"big0.mp3"_s, 6 << 20, 3), second = writeSong(f.songs.path(), u"big1.mp3"_s, 6 << 20, 4);
        f.setSetList({ first, second });
        f.edit(u"Text2"_s)->setText(volume.folder());
        const QString folder = volume.folder() + u"/June Tour/"_s;
        QObject program;
        Application::endOnStopSignal(&program);
        std::atomic_bool done{ false };
        std::thread system([&] {
            while (!done && !(QFileInfo(folder + u"02 big1.mp3"_s).size() > 0))
                QThread::msleep(5);
            if (!done)
                ::raise(SIGTERM);
        });
        f.boxes.answers = { true };
        f.click(u"Command9"_s);
        done = true;
        system.join();
        // The program's own loop resets what ended every loop, for the tests after this one.
        QTimer::singleShot(0, [] { QCoreApplication::exit(); });
        QCoreApplication::exec();
        StopSignal::clear();
        std::signal(SIGINT, SIG_DFL), std::signal(SIGTERM, SIG_DFL);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{ u"01 big0.mp3"_s });
        QCOMPARE(contents(folder + u"01 big0.mp3"_s), contents(first));
    }
};

KORVANDA_FORM_TEST_MAIN(TestForm1Export)
#include "tst_form1_export.moc"
