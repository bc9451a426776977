#include "platform/audio/edits/mp3edit.h"

#include "platform/storage/systemreason.h"

#include <QFile>

#include <cerrno>

using namespace Qt::StringLiterals;

Mp3Edit::Outcome Mp3Edit::write(const QString &source, const SongEdits &edits, int gainSteps, const QString &destination,
                                QString *reason)
{
    QFile in(source);
    QByteArray bytes;
    if (!in.open(QIODevice::ReadOnly) || (bytes = in.readAll(), in.error() != QFileDevice::NoError)) {
        if (reason)
            *reason = u"元の曲のファイルを読み込めません"_s;
        return Outcome::Failed;
    }
    const std::optional<QByteArray> edited = edit(bytes, edits, gainSteps);
    if (!edited)
        return Outcome::NotCuttable;
    QFile out(destination);
    errno = 0;
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(*edited) != edited->size() || !out.flush()) {
        if (reason)
            *reason = SystemReason::lastError(out.errorString());
        return Outcome::Failed;
    }
    return Outcome::Written;
}

std::optional<QByteArray> Mp3Edit::edit(const QByteArray &bytes, const SongEdits &edits, int gainSteps)
{
    (void)bytes, (void)edits, (void)gainSteps;
    return std::nullopt;
}
