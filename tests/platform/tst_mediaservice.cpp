// The player behind "play" and "close", heard through the private PulseAudio null sink: a tone
// that is played is recorded from the sink's monitor, and after close the sink is silent.
#include "platform/media/mediacommands.h"
#include "platform/media/mediaservice.h"
#include "support/mediagen.h"
#include "support/tonerecorder.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestMediaService : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_tone;  // 880 Hz
    QString m_other; // 440 Hz

    void requireSink()
    {
        if (ToneRecorder::sinkFromEnvironment().isEmpty())
            QSKIP("KORVANDA_TEST_SINK is not set: run under scripts/session.sh for a PulseAudio null sink");
    }

    QByteArray record(int ms)
    {
        ToneRecorder recorder(ToneRecorder::sinkFromEnvironment());
        return recorder.record(ms, ms + 4000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!MediaGen::missingTools().isEmpty())
            QSKIP("media tools missing");
        m_tone = m_dir.filePath(u"トーン 880.wav"_s);
        m_other = m_dir.filePath(u"tone 440.ogg"_s);
        QVERIFY(MediaGen::tone(m_tone, 30.0, 880));
        QVERIFY(MediaGen::tone(m_other, 30.0, 440));
    }

    void closeWithoutPlayChangesNothing()
    {
        MediaService media;
        QCOMPARE(media.sendString(closeCommand(m_tone), nullptr, 0), int(MediaService::Ok));
        QVERIFY(media.openPaths().isEmpty());
    }

    void unplayablePlaysNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << u"missing.mp3"_s;
        QTest::newRow("folder") << u"folder"_s;
        QTest::newRow("FIFO") << u"pipe.mp3"_s;
        QTest::newRow("not media") << u"notes.mp3"_s;
    }
    void unplayablePlaysNothing()
    {
        requireSink();
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (name == "folder"_L1)
            QVERIFY(QDir(dir.path()).mkdir(name));
        if (name == "pipe.mp3"_L1)
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        if (name == "notes.mp3"_L1) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(4096, 'x'));
        }
        MediaService media;
        media.sendString(playCommand(path), nullptr, 0); // returns at once, says nothing
        const auto rec = ToneRecorder::measure(record(800), 880);
        QVERIFY2(rec.rms < 30, qPrintable(QString::number(rec.rms)));
        // Only a regular file ever reaches a player; anything else is refused up front.
        if (name != "notes.mp3"_L1)
            QVERIFY(media.openPaths().isEmpty());
        media.sendString(closeCommand(path), nullptr, 0);
        QVERIFY(media.openPaths().isEmpty());
    }

    void playIsHeardAndCloseSilences()
    {
        requireSink();
        MediaService media;
        QCOMPARE(media.sendString(playCommand(m_tone), nullptr, 0), int(MediaService::Ok));
        QTRY_VERIFY_WITH_TIMEOUT(media.isPlaying(m_tone), 10000);
        QTest::qWait(300); // let the stream reach the sink
        const auto heard = ToneRecorder::measure(record(1500), 880);
        QVERIFY2(heard.rms > 1000, qPrintable(u"level %1"_s.arg(heard.rms)));
        QVERIFY2(heard.toneShare > 0.5, qPrintable(u"880 Hz share %1"_s.arg(heard.toneShare)));
        QVERIFY2(qAbs(heard.frequency - 880) < 30, qPrintable(u"frequency %1"_s.arg(heard.frequency)));

        // A second play while it plays keeps the one song playing.
        media.sendString(playCommand(m_tone), nullptr, 0);
        QVERIFY(media.isPlaying(m_tone));
        QCOMPARE(media.openPaths(), QStringList{m_tone});

        media.sendString(closeCommand(m_tone), nullptr, 0);
        QVERIFY(media.openPaths().isEmpty());
        QTest::qWait(300);
        const auto after = ToneRecorder::measure(record(800), 880);
        QVERIFY2(after.rms < 30, qPrintable(u"level after close %1"_s.arg(after.rms)));
    }

    void pathsPlayIndependently()
    {
        requireSink();
        MediaService media;
        media.sendString(playCommand(m_tone), nullptr, 0);
        media.sendString(playCommand(m_other), nullptr, 0);
        QTRY_VERIFY_WITH_TIMEOUT(media.isPlaying(m_tone) && media.isPlaying(m_other), 10000);

        media.sendString(closeCommand(m_tone), nullptr, 0);
        QVERIFY(media.isPlaying(m_other));
        QTest::qWait(300);
        const auto rest = record(1200);
        QVERIFY(ToneRecorder::measure(rest, 440).toneShare > 0.5);
        QVERIFY(ToneRecorder::measure(rest, 880).toneShare < 0.05);

        media.sendString(closeCommand(m_other), nullptr, 0);
        QVERIFY(media.openPaths().isEmpty());
    }

    void probeCloseFromWorkerLeavesPreviewAlone()
    {
        // A length probe of another path, sent from a worker thread, must not disturb what plays.
        requireSink();
        MediaService media;
        media.sendString(playCommand(m_tone), nullptr, 0);
        QTRY_VERIFY_WITH_TIMEOUT(media.isPlaying(m_tone), 10000);
        double length = 0;
        QThread *worker = QThread::create([&] { length = GetPlayLength(media, m_other); });
        worker->start();
        QVERIFY(worker->wait(30000));
        delete worker;
        QCOMPARE(length, 30000.0);
        QTest::qWait(100);
        QVERIFY(media.isPlaying(m_tone));
        media.sendString(closeCommand(m_tone), nullptr, 0);
    }
};

int main(int argc, char *argv[])
{
    selectMediaBackend();
    QApplication app(argc, argv);
    TestMediaService test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mediaservice.moc"
