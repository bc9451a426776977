#include "model/showresume.h"

#include "model/setlistfile.h"

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

const QByteArray Header = "korvanda-show 1";

// One value a line: a line break inside a value would start a line of its own.
QByteArray line(const char *key, const QString &value)
{
    QString flat = value;
    flat.replace(u'\n', u' ').replace(u'\r', u' ');
    return QByteArray(key) + '=' + flat.toUtf8() + '\n';
}

} // namespace

QByteArray ShowResume::toText() const
{
    QByteArray out = Header + '\n';
    out += line("file", setListFile);
    out += line("name", setName);
    out += line("next", QString::number(next));
    out += line("first", QString::number(planFrom));
    out += line("started", QString::number(startedMs));
    out += line("slot", slotSeconds ? QString::number(*slotSeconds) : QString());
    out += line("pause", QString::number(pauseSeconds));
    for (const QString &song : songs)
        out += line("song", song);
    // The rows' extras as the set list's own file holds them, a line of it each;
    // also when no row has any, so that an edit taken away since the file was
    // saved stays away.
    SetListFile set;
    for (qsizetype i = 0; i < songs.size(); ++i)
        set.entries.append({ songs.at(i), {}, std::nullopt, extras.value(i) });
    for (const QByteArray &l : set.toBytes().split('\n'))
        if (!l.isEmpty())
            out += "set=" + l + '\n';
    return out;
}

std::optional<ShowResume> ShowResume::parse(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.isEmpty() || lines.constFirst().trimmed() != Header)
        return std::nullopt;
    ShowResume r;
    bool nextOk = false;
    QByteArray set;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &l = lines.at(i);
        const qsizetype eq = l.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = l.left(eq);
        QString value = QString::fromUtf8(l.mid(eq + 1));
        if (value.endsWith(u'\r'))
            value.chop(1);
        if (key == "file")
            r.setListFile = value;
        else if (key == "name")
            r.setName = value;
        else if (key == "next")
            r.next = value.toLongLong(&nextOk);
        else if (key == "first")
            r.planFrom = value.toLongLong();
        else if (key == "started")
            r.startedMs = value.toLongLong();
        else if (key == "slot")
            r.slotSeconds = value.isEmpty() ? std::nullopt : std::optional(qMax<qint64>(0, value.toLongLong()));
        else if (key == "pause")
            r.pauseSeconds = qMax<qint64>(0, value.toLongLong(&r.slotKept));
        else if (key == "song")
            r.songs.append(value);
        else if (key == "set")
            set += value.toUtf8() + '\n';
    }
    // A show whose last song was already playing has nothing left to go on with.
    if (!nextOk || r.next < 0 || r.next >= r.songs.size())
        return std::nullopt;
    r.planFrom = qBound<qsizetype>(0, r.planFrom, r.next);
    // Extras that do not match the songs row for row belong to no row.
    if (const auto file = set.isEmpty() ? std::nullopt : SetListFile::parse(set);
        file && file->entries.size() == r.songs.size()) {
        for (const SetListEntry &entry : file->entries)
            r.extras.append(entry.extras);
    }
    return r;
}

std::optional<qsizetype> ShowResume::nextIn(const QStringList &paths) const
{
    const QString &song = songs.at(next);
    if (next < paths.size() && paths.at(next) == song)
        return next;
    const qsizetype moved = paths.indexOf(song);
    return moved >= 0 ? std::optional(moved) : std::nullopt;
}
