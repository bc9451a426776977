#pragma once

#include "model/setlistrow.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Where a show stood, kept on disk while it runs so that a show cut short (the
// program closed by the system, a crash, a flat battery) can go on after a
// restart at the song that was next. Written at every GO and every song's end;
// gone once the show ends as the performer meant it to.
struct ShowResume
{
    QString setListFile; // empty when the set list was never saved
    QString setName;
    QStringList songs;   // the set's song paths, for a set list that has no file
    // The rows' edits, notes and follow marks as they were played, beside
    // `songs`: the set list's file may hold others (changed since, unsaved) or
    // be gone. Empty only in a state written before they were kept.
    QList<SetListRowExtras> extras;
    // The slot and the pause the show ran with, which may be the day's own
    // rather than the file's; `slotKept` is false in a state written before
    // they were kept.
    bool slotKept = false;
    std::optional<qint64> slotSeconds;
    qint64 pauseSeconds = 0;
    qsizetype next = 0;  // the song that was next, an index into `songs`
    qsizetype planFrom = 0; // the song the show's plan began at, at most `next`
    qint64 startedMs = 0; // the first GO, milliseconds since the epoch (UTC)

    [[nodiscard]] QByteArray toText() const;
    // Nothing for what this program did not write, or a show with nothing left.
    [[nodiscard]] static std::optional<ShowResume> parse(const QByteArray &text);
    // Where the song that was next is in the set list as it is now: its own
    // place when it is still there, else the first place it moved to; nothing
    // once it is gone from the set.
    [[nodiscard]] std::optional<qsizetype> nextIn(const QStringList &paths) const;
};
