// The command texts, the reply buffer of a length probe and the parse of its reply, checked
// against a scripted media service that records what it was sent.
#include "platform/media/mediacommands.h"
#include "platform/media/mediaservice.h"

#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {
class ScriptedMedia : public MediaCommands
{
public:
    struct Call {
        QString command;
        QString bufferSeen; // the reply buffer as it arrived
        int capacity = 0;
        bool hadReply = false;
    };

    QList<Call> calls;
    QList<std::optional<QString>> answers; // one per length query; nullopt writes nothing

    int sendString(const QString &command, QString *reply, int capacity) override
    {
        calls.append({command, reply ? *reply : QString(), capacity, reply != nullptr});
        if (!command.startsWith(u"status"_s))
            return 0;
        const auto answer = answers.isEmpty() ? std::nullopt : answers.takeFirst();
        if (answer && reply) {
            // Writes exactly what the service produced, even past the buffer (the caller must
            // cut it back to its 20 places).
            if (reply->size() < answer->size())
                reply->resize(answer->size());
            reply->replace(0, answer->size(), *answer);
        }
        return answer ? 0 : 263;
    }
};
} // namespace

class TestMediaCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandTexts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("plain") << u"C:\\m\\b.mp3"_s;
        QTest::newRow("blanks and Japanese") << u"/home/歌 手/ライブ 曲.mp3"_s;
        QTest::newRow("quotation mark in name") << u"/m/say \"hi\".mp3"_s;
        QTest::newRow("empty") << QString();
    }
    void commandTexts()
    {
        QFETCH(QString, path);
        QCOMPARE(openCommand(path), u"open \""_s + path + u'"');
        QCOMPARE(statusLengthCommand(path), u"status \""_s + path + u"\" length"_s);
        QCOMPARE(closeCommand(path), u"close \""_s + path + u'"');
        QCOMPARE(playCommand(path), u"play \""_s + path + u'"');
        // The service reads back exactly the path that was put in, whatever it contains.
        for (const QString &text : {openCommand(path), statusLengthCommand(path), closeCommand(path), playCommand(path)}) {
            const auto parsed = MediaService::parse(text);
            QVERIFY(parsed);
            QCOMPARE(parsed->path, path);
        }
        QCOMPARE(MediaService::parse(statusLengthCommand(path))->tail, u"length"_s);
        QCOMPARE(MediaService::parse(playCommand(path))->tail, QString());
    }

    void injectionIsNotACommand()
    {
        // A file named so that it closes the quote and appends a keyword stays one path.
        const QString path = u"/m/x\" length"_s;
        const auto parsed = MediaService::parse(playCommand(path));
        QCOMPARE(parsed->word, u"play"_s);
        QCOMPARE(parsed->path, path);
        QVERIFY(parsed->tail.isEmpty());
        QVERIFY(!MediaService::parse(u"play"_s));
        QVERIFY(!MediaService::parse(u"play nothing quoted"_s));
        QVERIFY(!MediaService::parse(u"play x\"/a.mp3\""_s));
    }

    void probeSequenceAndBuffer()
    {
        ScriptedMedia media;
        media.answers = {u"215000"_s};
        const QString path = u"/曲/b c.mp3"_s;
        QCOMPARE(GetPlayLength(media, path), 215000.0);
        QCOMPARE(media.calls.size(), 3);
        QCOMPARE(media.calls[0].command, openCommand(path));
        QCOMPARE(media.calls[1].command, statusLengthCommand(path));
        QCOMPARE(media.calls[2].command, closeCommand(path));
        QVERIFY(!media.calls[0].hadReply);
        QCOMPARE(media.calls[0].capacity, 0);
        QCOMPARE(media.calls[2].capacity, 0);
        QCOMPARE(media.calls[1].capacity, 20);
        QCOMPARE(media.calls[1].bufferSeen, QString(20, QChar(u'\0')));
    }

    void secondProbeStartsFresh()
    {
        ScriptedMedia media;
        media.answers = {u"215000"_s, std::nullopt};
        QCOMPARE(GetPlayLength(media, u"/a.mp3"_s), 215000.0);
        QCOMPARE(GetPlayLength(media, u"/folder"_s), 0.0);
        QCOMPARE(media.calls[4].bufferSeen, QString(20, QChar(u'\0')));
    }

    void replyParse_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<double>("expected");
        QTest::newRow("digits then NULs") << u"215000"_s << 215000.0;
        QTest::newRow("nothing") << QString() << 0.0;
        QTest::newRow("leading blanks") << u"   4711"_s << 4711.0;
        QTest::newRow("decimal point") << u"1234.5"_s << 1234.5;
        QTest::newRow("second point ends it") << u"1.2.3"_s << 1.2;
        QTest::newRow("trailing text") << u"300 ms"_s << 300.0;
        QTest::newRow("text first") << u"length 300"_s << 0.0;
        QTest::newRow("sign is not a digit") << u"-5"_s << 0.0;
        QTest::newRow("NUL ends the number") << u"12\u00003"_s << 12.0;
        QTest::newRow("19 places fit") << u"1234567890123456789"_s << 1234567890123456789.0;
        // A service writing past the buffer is cut back to its 20 places.
        QTest::newRow("cut at 20") << u"123456789012345678901234"_s << 12345678901234567890.0;
    }
    void replyParse()
    {
        QFETCH(QString, reply);
        QFETCH(double, expected);
        ScriptedMedia media;
        media.answers = {reply};
        QCOMPARE(GetPlayLength(media, u"/a.mp3"_s), expected);
    }
};

QTEST_GUILESS_MAIN(TestMediaCommands)
#include "tst_mediacommands.moc"
