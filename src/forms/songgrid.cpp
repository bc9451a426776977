#include "forms/songgrid.h"

#include "forms/numbercelldelegate.h"
#include "forms/songtablemodel.h"
#include "model/songtable.h"

#include <QHeaderView>

using namespace Qt::StringLiterals;

SongGrid::SongGrid(SongTable *table, QWidget *parent)
    : QTableView(parent)
    , m_table(table)
    , m_model(new SongTableModel(table, this))
{
    setModel(m_model);
    setItemDelegateForColumn(0, new NumberCellDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);

    // The chosen row stays blue even when the other table has the focus: the
    // user reads both tables side by side.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);

    connect(table, &SongTable::cursorChanged, this, [this] {
        if (!m_followingView)
            showCursor();
    });
    connect(table, &SongTable::enabledChanged, this, &QWidget::setEnabled);
    connect(table, &SongTable::visibleChanged, this, [this](bool visible) {
        setVisible(visible);
        if (visible)
            showCursor();
    });
    connect(table, &SongTable::topRowChanged, this, [this](int row) {
        if (!m_model->isSuspended() && row >= 1)
            scrollTo(m_model->index(row - 1, 0), QAbstractItemView::PositionAtTop);
    });
    connect(table, &SongTable::focusRequested, this, [this] { setFocus(Qt::OtherFocusReason); });
    connect(table, &SongTable::layoutChanged, this, &SongGrid::applyLayout);
    connect(m_model, &QAbstractItemModel::modelReset, this, &SongGrid::showCursor);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &SongGrid::showCursor);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &SongGrid::showCursor);

    applyLayout();
    showCursor();
}

void SongGrid::applyLayout()
{
    for (int c = 0; c < SongTable::ColumnCount; ++c) {
        const int width = twipsToPixels(m_table->ColWidth(c));
        setColumnHidden(c, width == 0);
        if (width > 0)
            setColumnWidth(c, width);
    }
    horizontalHeader()->setFixedHeight(twipsToPixels(m_table->RowHeight(0)));
}

void SongGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous);
    if (!current.isValid() || m_model->isSuspended())
        return;
    m_followingView = true;
    m_table->setRow(current.row() + 1);
    m_table->setCol(current.column());
    m_followingView = false;
}

void SongGrid::showCursor()
{
    if (m_model->isSuspended() || !selectionModel())
        return;
    const int row = m_table->Row();
    m_followingView = true;
    if (row >= 1 && row < m_table->Rows()) {
        const QModelIndex cell = m_model->index(row - 1, m_table->Col());
        selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(cell);
    } else {
        selectionModel()->clearSelection();
    }
    m_followingView = false;
}
