#include "forms/loudnesscelldelegate.h"

#include <QApplication>
#include <QPainter>

using namespace Qt::StringLiterals;

const QColor LoudnessCellDelegate::JumpColor{ 220, 60, 0 };

void LoudnessCellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const int row = index.row();
    const QString path = index.siblingAtColumn(2).data().toString();
    if (row < 0 || row >= m_marks.size() || m_marks[row].path != path || m_marks[row].text.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const Mark &mark = m_marks[row];
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    // The name gives way to the loudness, never the other way round: the
    // figure is what the user came to this column for.
    const QString figure = mark.jump > 0 ? u"▲ "_s + mark.text : mark.jump < 0 ? u"▼ "_s + mark.text : mark.text;
    const int figureWidth = opt.fontMetrics.horizontalAdvance(figure) + 6;
    const QRect figureRect = opt.rect.adjusted(qMax(0, opt.rect.width() - figureWidth), 0, -3, 0);
    QStyleOptionViewItem nameOpt = opt;
    nameOpt.rect.setRight(figureRect.left() - 1);
    const QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
    // The whole cell's background and selection first, then the name in what is left.
    QStyleOptionViewItem background = opt;
    background.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, opt.widget);
    nameOpt.backgroundBrush = Qt::NoBrush;
    nameOpt.state &= ~QStyle::State_HasFocus;
    style->drawControl(QStyle::CE_ItemViewItem, &nameOpt, painter, opt.widget);

    painter->save();
    const bool selected = opt.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = (opt.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    QColor pen = opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::PlaceholderText);
    if (mark.jump != 0 && !selected)
        pen = JumpColor;
    painter->setPen(pen);
    painter->setFont(opt.font);
    painter->drawText(figureRect, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, figure);
    painter->restore();
}
