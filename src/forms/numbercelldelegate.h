#pragma once

#include <QStyledItemDelegate>

// Draws the number column like the header row, and the cell the table's cursor
// stands on in a colour of its own, so the song being exported is easy to follow.
class NumberCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static const QColor CursorCellColor;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
