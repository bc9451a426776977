// The player behind "play" and "close", on the private PulseAudio null sink.
// That the sound is heard is checked where the whole program plays it.
#include "platform/media/mediacommands.h"
#include "platform/media/mediaservice.h"
#include "support/mediagen.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestMediaService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pathsPlayAndCloseIndependently()
    {
        if (!MediaGen::missingTools().isEmpty() || qEnvironmentVariableIsEmpty("KORVANDA_TEST_SINK"))
            QSKIP("needs the media tools and a PulseAudio null sink (run through test.sh)");
        QTemporaryDir dir;
        const QString high = dir.filePath(u"トーン \"880\".wav"_s);
        const QString low = dir.filePath(u"tone 440.ogg"_s);
        QVERIFY(MediaGen::tone(high, 30.0, 880) && MediaGen::tone(low, 30.0, 440));
        MediaService media;
        QCOMPARE(media.sendString(playCommand(high), nullptr, 0), int(MediaService::Ok));
        media.sendString(playCommand(high), nullptr, 0); // a second play keeps the one song playing
        media.sendString(playCommand(low), nullptr, 0);
        QTRY_VERIFY_WITH_TIMEOUT(media.isPlaying(high) && media.isPlaying(low), 10000);
        QCOMPARE(media.openPaths().size(), 2);
        media.sendString(closeCommand(high), nullptr, 0);
        QVERIFY(!media.isPlaying(high) && media.isPlaying(low));

        // A length probe from a worker thread leaves the preview alone.
        double length = 0;
        QThread *worker = QThread::create([&] { length = GetPlayLength(media, high); });
        worker->start();
        QVERIFY(worker->wait(30000));
        delete worker;
        QCOMPARE(length, 30000.0);
        QVERIFY(media.isPlaying(low));
        media.sendString(closeCommand(low), nullptr, 0);
        QVERIFY(media.openPaths().isEmpty());

        // Only regular files reach a player: opening a FIFO could block for ever.
        QVERIFY(QDir(dir.path()).mkdir(u"folder"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(u"pipe.mp3"_s)).constData(), 0600), 0);
        for (const QString &name : { u"missing.mp3"_s, u"folder"_s, u"pipe.mp3"_s }) {
            media.sendString(playCommand(dir.filePath(name)), nullptr, 0);
            QVERIFY(media.openPaths().isEmpty());
        }
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestMediaService test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mediaservice.moc"
