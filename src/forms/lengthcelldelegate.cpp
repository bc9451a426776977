#include "forms/lengthcelldelegate.h"

#include "forms/songtablemodel.h"

#include <QApplication>
#include <QPainter>

void LengthCellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    // An edited song's length carries its mark in front, squeezed in with it.
    const QString text = index.data(SongTableModel::EditMarkRole).toString() + opt.text;
    opt.text.clear();
    const QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
    // Background, selection and focus as for every other cell; the text by hand.
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

    painter->save();
    const bool selected = opt.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = (opt.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(opt.font);
    QRect area = opt.rect.adjusted(2, 0, -1, 0);
    // Where the font is wider than the one the column was sized for, the text is
    // narrowed to fit rather than cut.
    const int needed = opt.fontMetrics.horizontalAdvance(text);
    if (needed > area.width() && area.width() > 0) {
        const qreal squeeze = qreal(area.width()) / needed;
        painter->translate(area.left(), 0);
        painter->scale(squeeze, 1.0);
        area = QRect(0, area.top(), needed, area.height());
    }
    painter->drawText(area, int(opt.displayAlignment) | Qt::TextSingleLine, text);
    painter->restore();
}
