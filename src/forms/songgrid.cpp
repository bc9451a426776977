#include "forms/songgrid.h"

#include "forms/lengthcelldelegate.h"
#include "forms/numbercelldelegate.h"
#include "forms/songtablemodel.h"
#include "model/songtable.h"

#include <QApplication>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

using namespace Qt::StringLiterals;

SongGrid::SongGrid(SongTable *table, QWidget *parent)
    : QTableView(parent)
    , m_table(table)
    , m_model(new SongTableModel(table, this))
{
    setModel(m_model);
    setItemDelegateForColumn(0, new NumberCellDelegate(this));
    setItemDelegateForColumn(3, new LengthCellDelegate(this));
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

    // The handlers move the cursor thousands of times in one action (totals,
    // renumbering); the view follows once, when the action is over.
    connect(table, &SongTable::cursorChanged, this, [this] {
        if (m_followingView || m_cursorSyncPending)
            return;
        m_cursorSyncPending = true;
        QMetaObject::invokeMethod(this, [this] {
            m_cursorSyncPending = false;
            showCursor();
        }, Qt::QueuedConnection);
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
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            Q_EMIT rowActivated();
    });
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

void SongGrid::keyPressEvent(QKeyEvent *event)
{
    const bool ctrl = event->modifiers() == Qt::ControlModifier;
    const bool plain = event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        Q_EMIT rowActivated();
        return;
    }
    if (plain && event->key() == Qt::Key_Delete) {
        Q_EMIT deleteRequested();
        return;
    }
    if (ctrl && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
        Q_EMIT moveRequested(event->key() == Qt::Key_Up ? -1 : 1);
        return;
    }
    QTableView::keyPressEvent(event);
}

int SongGrid::dropRowAt(const QPoint &pos) const
{
    // Below the last row counts as the last row: the song goes to the end.
    const QModelIndex index = indexAt(pos);
    if (index.isValid())
        return index.row() + 1;
    return pos.y() < 0 ? 1 : m_table->Rows() - 1;
}

void SongGrid::mousePressEvent(QMouseEvent *event)
{
    QTableView::mousePressEvent(event);
    m_dragFrom = 0;
    m_dragTo = 0;
    m_exportFrom = 0;
    if (m_rowExportEnabled && event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid()) {
        m_pressPos = event->position().toPoint();
        m_exportFrom = -(indexAt(m_pressPos).row() + 1);
    }
    if (m_rowDragEnabled && event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid()) {
        m_pressPos = event->position().toPoint();
        m_dragFrom = -(indexAt(m_pressPos).row() + 1); // armed, not yet dragging
    }
}

void SongGrid::mouseMoveEvent(QMouseEvent *event)
{
    if (m_exportFrom != 0 && (event->buttons() & Qt::LeftButton)) {
        // The grid keeps the mouse while the button is down, so the drag is
        // followed here and handed to whoever owns the grid it ends over.
        const QPoint pos = event->position().toPoint();
        if (m_exportFrom < 0) {
            if ((pos - m_pressPos).manhattanLength() < QApplication::startDragDistance())
                return;
            m_exportFrom = -m_exportFrom;
            viewport()->setCursor(Qt::DragCopyCursor);
        }
        Q_EMIT rowDragMoved(m_exportFrom, event->globalPosition().toPoint());
        return;
    }
    if (m_dragFrom == 0 || !(event->buttons() & Qt::LeftButton)) {
        QTableView::mouseMoveEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    if (m_dragFrom < 0) {
        if ((pos - m_pressPos).manhattanLength() < QApplication::startDragDistance())
            return;
        m_dragFrom = -m_dragFrom;
    }
    // The cursor stays on the dragged song; only the drop mark follows the mouse.
    m_dragTo = dropRowAt(pos);
    viewport()->update();
}

void SongGrid::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_exportFrom != 0) {
        const int from = m_exportFrom;
        m_exportFrom = 0;
        QTableView::mouseReleaseEvent(event);
        if (from > 0) {
            viewport()->unsetCursor();
            Q_EMIT rowDraggedOut(from, event->globalPosition().toPoint());
        }
        return;
    }
    const int from = m_dragFrom;
    const int to = m_dragFrom > 0 ? dropRowAt(event->position().toPoint()) : 0;
    m_dragFrom = 0;
    m_dragTo = 0;
    viewport()->update();
    QTableView::mouseReleaseEvent(event);
    if (from > 0 && to != from)
        Q_EMIT rowDropped(from, to);
}

void SongGrid::paintEvent(QPaintEvent *event)
{
    QTableView::paintEvent(event);
    if (m_insertMark > 0) {
        const bool below = m_insertMark >= m_table->Rows();
        const QRect target = visualRect(m_model->index((below ? m_table->Rows() - 1 : m_insertMark) - 1, 1));
        QPainter painter(viewport());
        painter.setPen(QPen(palette().color(QPalette::Highlight), 3));
        const int y = below ? target.bottom() : target.top();
        painter.drawLine(0, y, viewport()->width(), y);
    }
    if (m_dragFrom <= 0 || m_dragTo <= 0 || m_dragTo == m_dragFrom)
        return;
    // A bar on the edge where the song will land: above the target row when
    // moving up, below it when moving down.
    const QRect target = visualRect(m_model->index(m_dragTo - 1, 1));
    const int y = m_dragTo < m_dragFrom ? target.top() : target.bottom();
    QPainter painter(viewport());
    painter.setPen(QPen(palette().color(QPalette::Highlight), 3));
    painter.drawLine(0, y, viewport()->width(), y);
}

int SongGrid::insertRowAt(const QPoint &globalPos) const
{
    const QPoint pos = viewport()->mapFromGlobal(globalPos);
    if (!isVisible() || !viewport()->rect().contains(pos))
        return 0;
    const QModelIndex index = indexAt(pos);
    return index.isValid() ? index.row() + 1 : m_table->Rows();
}

void SongGrid::setInsertMark(int row)
{
    if (row == m_insertMark)
        return;
    m_insertMark = row;
    viewport()->update();
}

void SongGrid::setTypeAheadEnabled(bool enabled)
{
    m_typeAhead = enabled;
    setAttribute(Qt::WA_InputMethodEnabled, enabled);
}

namespace {

// Names compare as a reader sees them: letter case, full- and half-width forms
// and katakana against hiragana make no difference.
QString searchKey(const QString &text)
{
    QString key = text.normalized(QString::NormalizationForm_KC).toCaseFolded();
    for (QChar &c : key) {
        if (c.unicode() >= 0x30A1 && c.unicode() <= 0x30F6)
            c = QChar(char16_t(c.unicode() - 0x60));
    }
    return key;
}

} // namespace

void SongGrid::keyboardSearch(const QString &search)
{
    if (!m_typeAhead) {
        QTableView::keyboardSearch(search);
        return;
    }
    if (search.isEmpty())
        return;
    // Letters typed in quick succession make one name; a pause starts a new one.
    if (!m_sinceTyped.isValid() || m_sinceTyped.elapsed() > QApplication::keyboardInputInterval())
        m_typed.clear();
    m_sinceTyped.start();
    m_typed += search;
    const QString wanted = searchKey(m_typed);
    for (int r = 1; r < m_table->Rows(); ++r) {
        if (searchKey(m_table->textAt(r, 1)).startsWith(wanted)) {
            // As a click on the name would: the view's cursor moves the table's.
            selectionModel()->setCurrentIndex(m_model->index(r - 1, 1),
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            scrollTo(m_model->index(r - 1, 1));
            return;
        }
    }
}

void SongGrid::inputMethodEvent(QInputMethodEvent *event)
{
    if (m_typeAhead && !event->commitString().isEmpty()) {
        keyboardSearch(event->commitString());
        event->accept();
        return;
    }
    QTableView::inputMethodEvent(event);
}
