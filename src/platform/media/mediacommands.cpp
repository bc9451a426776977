#include "platform/media/mediacommands.h"

using namespace Qt::StringLiterals;

namespace {
constexpr int ReplyCapacity = 20;

QString quoted(QLatin1StringView word, const QString &path)
{
    return word + u" \""_s + path + u'"';
}
} // namespace

MediaCommands::~MediaCommands() = default;

QString openCommand(const QString &path) { return quoted("open"_L1, path); }
QString statusLengthCommand(const QString &path) { return quoted("status"_L1, path) + u" length"_s; }
QString closeCommand(const QString &path) { return quoted("close"_L1, path); }
QString playCommand(const QString &path) { return quoted("play"_L1, path); }

double parseLeadingNumber(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    const qsizetype start = i;
    bool point = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c >= u'0' && c <= u'9')
            continue;
        if (c == u'.' && !point) {
            point = true;
            continue;
        }
        break;
    }
    bool ok = false;
    const double value = QStringView(text).mid(start, i - start).toDouble(&ok);
    return ok ? value : 0.0;
}

double GetPlayLength(MediaCommands &media, const QString &path)
{
    const QString query = statusLengthCommand(path);
    // A fresh all-NUL buffer per probe: a probe that gets no answer must read as 0, never as
    // whatever the previous probe left behind.
    QString reply(ReplyCapacity, QChar(u'\0'));
    media.sendString(openCommand(path), nullptr, 0);
    media.sendString(query, &reply, ReplyCapacity);
    reply.resize(ReplyCapacity, QChar(u'\0'));
    media.sendString(closeCommand(path), nullptr, 0);
    return parseLeadingNumber(reply);
}
