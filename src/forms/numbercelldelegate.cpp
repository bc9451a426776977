#include "forms/numbercelldelegate.h"

#include "forms/songtablemodel.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionHeader>

const QColor NumberCellDelegate::CursorCellColor{ 255, 140, 0 };

void NumberCellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const
{
    QStyleOptionHeader header;
    header.rect = option.rect;
    header.state = option.state & (QStyle::State_Enabled | QStyle::State_Active);
    header.orientation = Qt::Vertical;
    header.textAlignment = Qt::AlignCenter;
    header.text = index.data(Qt::DisplayRole).toString();
    header.fontMetrics = option.fontMetrics;
    header.palette = option.palette;

    const QStyle *style = option.widget ? option.widget->style() : QApplication::style();
    painter->save();
    if (index.data(SongTableModel::CursorCellRole).toBool()) {
        painter->fillRect(option.rect, CursorCellColor);
        painter->setPen(Qt::black);
        QFont bold = option.font;
        bold.setBold(true);
        painter->setFont(bold);
        painter->drawText(option.rect, Qt::AlignCenter, header.text);
    } else {
        style->drawControl(QStyle::CE_Header, &header, painter, option.widget);
    }
    painter->restore();
}
