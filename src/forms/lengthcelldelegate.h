#pragma once

#include <QStyledItemDelegate>

// Draws the narrow length column with small margins and without eliding: the
// column is only wide enough for "00:00:00", and a length cut to "00:0…" tells
// the user nothing.
class LengthCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
