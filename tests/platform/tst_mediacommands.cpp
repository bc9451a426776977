// The four command texts, the reply buffer of a length probe and the parse of
// its reply, against a scripted service that records what it was sent.
#include "platform/media/mediacommands.h"
#include "platform/media/mediaservice.h"

#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {
class ScriptedMedia : public MediaCommands
{
public:
    QStringList commands;
    QStringList buffers; // each reply buffer as it arrived
    std::optional<QString> answer;

    int sendString(const QString &command, QString *reply, int capacity) override
    {
        commands.append(command);
        buffers.append(reply ? *reply + u'/' + QString::number(capacity) : QString::number(capacity));
        if (!command.startsWith(u"status"_s))
            return 0;
        if (!answer)
            return 263;
        // Writes what the service produced, even past the buffer: the caller cuts it back.
        if (reply->size() < answer->size())
            reply->resize(answer->size());
        reply->replace(0, answer->size(), *answer);
        return 0;
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
        QTest::newRow("a quotation mark cannot inject a keyword") << u"/m/x\" length"_s;
        QTest::newRow("empty") << QString();
    }
    void commandTexts()
    {
        QFETCH(QString, path);
        QCOMPARE(openCommand(path), u"open \""_s + path + u'"');
        QCOMPARE(statusLengthCommand(path), u"status \""_s + path + u"\" length"_s);
        QCOMPARE(closeCommand(path), u"close \""_s + path + u'"');
        QCOMPARE(playCommand(path), u"play \""_s + path + u'"');
        for (const QString &text : { openCommand(path), statusLengthCommand(path), closeCommand(path), playCommand(path) })
            QCOMPARE(MediaService::parse(text)->path, path);
        QCOMPARE(MediaService::parse(statusLengthCommand(path))->tail, u"length"_s);
        QCOMPARE(MediaService::parse(playCommand(path))->tail, QString());
        QVERIFY(!MediaService::parse(u"play nothing quoted"_s));
    }

    void probeSequence()
    {
        ScriptedMedia media;
        media.answer = u"215000"_s;
        const QString path = u"/曲/b c.mp3"_s;
        QCOMPARE(GetPlayLength(media, path), 215000.0);
        QCOMPARE(media.commands, (QStringList{ openCommand(path), statusLengthCommand(path), closeCommand(path) }));
        const QString fresh = QString(20, QChar(u'\0')) + u"/20"_s;
        QCOMPARE(media.buffers, (QStringList{ u"0"_s, fresh, u"0"_s }));
        media.answer.reset(); // a failed query reads as 0 and the next starts with a clean buffer
        QCOMPARE(GetPlayLength(media, u"/folder"_s), 0.0);
        media.answer = u"7"_s;
        QCOMPARE(GetPlayLength(media, u"/a.mp3"_s), 7.0);
        QCOMPARE(media.buffers.at(7), fresh);
    }

    void replyParse_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<double>("expected");
        QTest::newRow("nothing") << QString() << 0.0;
        QTest::newRow("leading blanks") << u"   4711"_s << 4711.0;
        QTest::newRow("second point ends it") << u"1.2.3"_s << 1.2;
        QTest::newRow("trailing text") << u"300 ms"_s << 300.0;
        QTest::newRow("text first") << u"length 300"_s << 0.0;
        QTest::newRow("sign is not a digit") << u"-5"_s << 0.0;
        QTest::newRow("NUL ends the number") << u"12\u00003"_s << 12.0;
        QTest::newRow("cut back to 20 places") << u"123456789012345678901234"_s << 12345678901234567890.0;
    }
    void replyParse()
    {
        QFETCH(QString, reply);
        QFETCH(double, expected);
        ScriptedMedia media;
        media.answer = reply;
        QCOMPARE(GetPlayLength(media, u"/a.mp3"_s), expected);
    }
};

QTEST_GUILESS_MAIN(TestMediaCommands)
#include "tst_mediacommands.moc"
