#include "model/slotfigures.h"

#include "model/durations.h"
#include "model/songtable.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

SlotFigures SlotFigures::ofSetList(const SongTable &setList)
{
    SlotFigures figures;
    QString total = u"00:00:00"_s;
    for (int r = 1; r < setList.Rows(); ++r) {
        total = AddTimes(total, setList.textAt(r, 3));
        // The empty set list keeps one blank row: it is not a song.
        if (!setList.textAt(r, 1).isEmpty())
            ++figures.songs;
    }
    // AddTimes writes hours without bound, so its text always parses back.
    const qsizetype first = total.indexOf(u':');
    figures.totalSeconds = total.left(first).toLongLong() * 3600 + total.mid(first + 1, 2).toLongLong() * 60
        + total.mid(first + 4, 2).toLongLong();
    return figures;
}

qint64 SlotFigures::plannedSeconds() const
{
    return totalSeconds + (songs > 1 ? qint64(songs - 1) * pauseSeconds : 0);
}

std::optional<qint64> SlotFigures::leftSeconds() const
{
    if (!slotSeconds)
        return std::nullopt;
    return *slotSeconds - plannedSeconds();
}

QString SlotFigures::leftText() const
{
    const std::optional<qint64> left = leftSeconds();
    if (!left)
        return {};
    return (*left < 0 ? u"超過 "_s : u"残り "_s) + lengthText(*left < 0 ? -*left : *left);
}

std::optional<qint64> SlotFigures::parseLength(QStringView text)
{
    // ASCII digits only, at most three for the hours: nobody books a slot of a
    // thousand hours, and the arithmetic stays far from overflow.
    static const QRegularExpression pattern(u"^([0-9]{1,3}):([0-5][0-9]):([0-5][0-9])$"_s);
    const QRegularExpressionMatch m = pattern.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    return m.capturedView(1).toLongLong() * 3600 + m.capturedView(2).toLongLong() * 60 + m.capturedView(3).toLongLong();
}

QString SlotFigures::lengthText(qint64 seconds)
{
    return u"%1:%2:%3"_s.arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds % 3600 / 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
