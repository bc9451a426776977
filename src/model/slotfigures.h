#pragma once

#include <QString>
#include <QStringView>

#include <optional>

class SongTable;

// How a set list measures up against the slot a venue gives: the songs, their
// total, and the talk between songs, against the slot's length. A pause is
// counted between songs only, never before the first or after the last.
struct SlotFigures
{
    int songs = 0;
    qint64 totalSeconds = 0;
    std::optional<qint64> slotSeconds; // no slot set: no left or over figure
    qint64 pauseSeconds = 0;

    // The set list's songs and total, read without moving its cursor. The total
    // is summed exactly as the window's own total is, so the two always agree.
    [[nodiscard]] static SlotFigures ofSetList(const SongTable &setList);

    // Songs plus the pauses between them.
    [[nodiscard]] qint64 plannedSeconds() const;
    // Seconds left in the slot; negative when the set runs over; none without a slot.
    [[nodiscard]] std::optional<qint64> leftSeconds() const;
    [[nodiscard]] bool isOver() const { return leftSeconds().value_or(0) < 0; }
    // "残り 00:05:00" or "超過 00:02:10"; empty without a slot.
    [[nodiscard]] QString leftText() const;

    // A slot length as the user types it: hours (one digit or more), two-digit
    // minutes and seconds below 60, e.g. "0:45:00" or "01:30:00". Anything else,
    // blanks around it aside, is no length at all.
    [[nodiscard]] static std::optional<qint64> parseLength(QStringView text);
    // Seconds as a length text, "hh:mm:ss".
    [[nodiscard]] static QString lengthText(qint64 seconds);
};
