#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QPagedPaintDevice;
class QPainter;
class SongTable;

// The set list as a performer tapes it to the stage floor: the set name and the
// date as the heading, one line per song (number, title, length) in the largest
// type that fits, and the total at the bottom. The same drawing goes to a
// printer or into a PDF file.
class StageSheet
{
public:
    struct Line
    {
        QString number;
        QString title;
        QString length;
    };

    // Nobody reads a smaller type from the floor; below it the songs go on more pages.
    static constexpr qreal MinimumPointSize = 14.0;
    // Above this, a short set would print as a few giant words.
    static constexpr qreal MaximumPointSize = 48.0;

    StageSheet(QString setName, QDate date, QList<Line> lines, QString total);

    // The songs of the set list, read without moving its cursor; a title is the
    // song's name without its extension.
    [[nodiscard]] static QList<Line> linesOf(const SongTable &setList);

    // Text printed on pages of its own after the sheet (the 進行表, the show's
    // record), each text starting on a new page.
    void appendText(const QString &text) { m_appendix.append(text); }

    // Draws the sheet onto the device's pages, starting on its current page.
    // False when the device cannot be painted on.
    [[nodiscard]] bool paint(QPagedPaintDevice &device) const;

    // Writes the sheet as an A4 PDF, atomically: a failed write leaves no half
    // file and keeps an older one. Returns the reason, worded for the user, on failure.
    [[nodiscard]] std::optional<QString> writePdf(const QString &path) const;

private:
    void paintAppendix(QPainter &painter, QPagedPaintDevice &device) const;

    QString m_setName;
    QDate m_date;
    QList<Line> m_lines;
    QString m_total;
    QStringList m_appendix;
};
