#pragma once

#include <QList>
#include <QStyledItemDelegate>

// Draws the set list's name cells with each song's loudness at the right end
// of the cell, and a marker where the level jumps from the song before. The
// table keeps its four columns: the loudness belongs to the view, not to the
// set list's data.
class LoudnessCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    struct Mark {
        QString path;  // the row's song, so a mark never lands on another song's row
        QString text;  // "-14.2", "測定中", or empty
        int jump = 0;  // +1 much louder than the song before, -1 much quieter
    };

    using QStyledItemDelegate::QStyledItemDelegate;

    // One mark per data row of the set list, in row order.
    void setMarks(QList<Mark> marks) { m_marks = std::move(marks); }
    [[nodiscard]] const QList<Mark> &marks() const { return m_marks; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    static const QColor JumpColor;

private:
    QList<Mark> m_marks;
};
