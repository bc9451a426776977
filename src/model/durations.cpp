#include "model/durations.h"

#include "model/songtable.h"

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

QString lengthText(qint64 hours, int minutes, int seconds)
{
    // Written digit by digit: a scan formats one length per entry, and three arg() calls
    // (a pattern parsed and a string made for each) cost more than the rest of the row.
    if (hours >= 0 && minutes >= 0 && minutes <= 99 && seconds >= 0 && seconds <= 99) {
        char text[32];
        char *end = text + sizeof text;
        char *p = end;
        for (int part : { seconds, minutes }) {
            *--p = char('0' + part % 10);
            *--p = char('0' + part / 10);
            *--p = ':';
        }
        qint64 h = hours;
        do {
            *--p = char('0' + h % 10);
            h /= 10;
        } while (h > 0);
        if (hours < 10)
            *--p = '0';
        return QString::fromLatin1(p, end - p);
    }
    return u"%1:%2:%3"_s.arg(hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(seconds, 2, 10, QLatin1Char('0'));
}

// Reads a leading whole number the way a lenient number parse does: blanks first,
// then digits; anything that is not a number reads as zero. Very long digit runs
// stop growing rather than overflow.
qint64 leadingNumber(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    qint64 value = 0;
    constexpr qint64 cap = std::numeric_limits<qint64>::max() / 20;
    for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i) {
        if (value < cap)
            value = value * 10 + (text[i].unicode() - u'0');
    }
    return value;
}

// "mm:ss" of a length text as seconds within the hour. Parts that cannot be
// read count as zero; minutes or seconds of 60 and more still add up honestly.
qint64 minutesAndSeconds(QStringView rest)
{
    const qsizetype colon = rest.indexOf(u':');
    const qint64 minutes = leadingNumber(colon < 0 ? rest : rest.left(colon));
    const qint64 seconds = colon < 0 ? 0 : leadingNumber(rest.mid(colon + 1));
    return minutes * 60 + seconds;
}

} // namespace

QString FormatLength(double milliseconds)
{
    // The media probe reports milliseconds >= 0 that fit in 32 bits; anything
    // else (a broken reply, a month-long stream) is held to that range.
    if (std::isnan(milliseconds) || milliseconds < 0)
        milliseconds = 0;
    const double rounded = std::nearbyint(milliseconds); // ties to even
    const qint64 whole = rounded >= double(std::numeric_limits<qint32>::max())
        ? std::numeric_limits<qint32>::max()
        : qint64(rounded);
    const qint64 seconds = whole / 1000;
    return lengthText(seconds / 3600, int(seconds % 3600 / 60), int(seconds % 60));
}

QString AddTimes(QString first, QString second)
{
    qint64 hours = 0;
    qint64 withinHours = 0;
    for (const QString &text : { first, second }) {
        const qsizetype colon = text.indexOf(u':');
        if (colon < 0)
            continue;
        hours += leadingNumber(QStringView(text).left(colon));
        withinHours += minutesAndSeconds(QStringView(text).mid(colon + 1));
    }
    hours += withinHours / 3600;
    return lengthText(hours, int(withinHours % 3600 / 60), int(withinHours % 60));
}

QString TotalLength(SongTable &setList)
{
    QString total = u"00:00:00"_s;
    const int n = setList.Rows() - 1;
    for (int i = 1; i <= n; ++i) {
        setList.setRow(i);
        setList.setCol(3);
        total = AddTimes(total, setList.Text());
    }
    return total;
}
