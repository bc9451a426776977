#include "model/songtable.h"

#include <QCollator>
#include <QSysInfo>
#include <QThreadStorage>
#include <QLocale>

#include <algorithm>
#include <numeric>

SongTable::SongTable(QObject *parent)
    : QObject(parent)
    , m_rows(2)
    , m_extras(2)
    , m_row(1)
    , m_col(1)
{
}

void SongTable::setRows(int n)
{
    n = std::max(n, 2);
    const int old = Rows();
    if (n > old) {
        Q_EMIT rowsAboutToBeInserted(old, n - 1);
        m_rows.resize(n);
        m_extras.resize(n);
        Q_EMIT rowsInserted();
    } else if (n < old) {
        Q_EMIT rowsAboutToBeRemoved(n, old - 1);
        m_rows.resize(n);
        m_extras.resize(n);
        Q_EMIT rowsRemoved();
        clampCursor();
    }
}

void SongTable::setCols(int n)
{
    Q_ASSERT(n == ColumnCount);
    Q_UNUSED(n);
}

void SongTable::setRow(int row)
{
    row = std::clamp(row, 0, Rows() - 1);
    if (row == m_row)
        return;
    m_row = row;
    Q_EMIT cursorChanged(m_row, m_col);
}

void SongTable::setCol(int col)
{
    col = std::clamp(col, 0, ColumnCount - 1);
    if (col == m_col)
        return;
    m_col = col;
    Q_EMIT cursorChanged(m_row, m_col);
}

SongTable::Cell &SongTable::current()
{
    return m_rows[m_row][m_col];
}

QString SongTable::Text() const
{
    return cellAt(m_row, m_col).text;
}

void SongTable::setText(const QString &text)
{
    Cell &cell = current();
    if (cell.text == text)
        return;
    cell.text = text;
    Q_EMIT cellChanged(m_row, m_col);
}

int SongTable::CellAlignment() const
{
    return cellAt(m_row, m_col).alignment;
}

void SongTable::setCellAlignment(int alignment)
{
    current().alignment = alignment;
    Q_EMIT cellChanged(m_row, m_col);
}

std::optional<SongTable::Color> SongTable::CellBackColor() const
{
    return cellAt(m_row, m_col).backColor;
}

void SongTable::setCellBackColor(Color color)
{
    current().backColor = color;
    Q_EMIT cellChanged(m_row, m_col);
}

void SongTable::clearCellBackColor()
{
    current().backColor.reset();
    Q_EMIT cellChanged(m_row, m_col);
}

void SongTable::setRowExtras(const SetListRowExtras &extras)
{
    if (m_extras.at(m_row) == extras)
        return;
    m_extras[m_row] = extras;
    Q_EMIT rowExtrasChanged(m_row);
}

void SongTable::AddItem(const QString &text, int index)
{
    index = std::clamp(index, 1, Rows());
    Q_EMIT rowsAboutToBeInserted(index, index);
    RowCells cells;
    // The grid puts the text into the first column; tab characters would split it
    // across columns, which this program never asks for.
    cells[0].text = text;
    m_rows.insert(index, cells);
    m_extras.insert(index, SetListRowExtras{});
    Q_EMIT rowsInserted();
}

void SongTable::RemoveItem(int index)
{
    // The last data row is never removed: a table always keeps one row below
    // its header, blank when it holds nothing.
    if (index < 1 || index >= Rows() || Rows() <= 2)
        return;
    Q_EMIT rowsAboutToBeRemoved(index, index);
    m_rows.removeAt(index);
    m_extras.removeAt(index);
    Q_EMIT rowsRemoved();
    clampCursor();
}

void SongTable::Sort(int kind)
{
    Q_UNUSED(kind);
    const int count = Rows() - 1;
    if (count < 2)
        return;

    // The Japanese collation orders Latin before kana and kana by the syllabary;
    // comparing precomputed keys keeps a sort of thousands of rows fast. Made once per
    // thread: opening the collation costs as much as the keys of a few hundred rows.
    // Qt's thread storage rather than a C++ thread_local: MinGW-w64's emulated TLS runs a
    // thread_local's destructor after freeing its storage, which damages the heap on Windows.
    static QThreadStorage<QCollator *> collators;
    if (!collators.hasLocalData()) {
        auto *c = new QCollator(QLocale(QLocale::Japanese, QLocale::Japan));
        c->setCaseSensitivity(Qt::CaseInsensitive);
        c->setNumericMode(false);
        c->setIgnorePunctuation(false);
        collators.setLocalData(c);
    }
    const QCollator &collator = *collators.localData();

    std::vector<int> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    // Qt 6.4's sort keys on Windows (no ICU) hold the system's key bytes but compare them as
    // 16-bit units, which orders names wrongly ("あおぞら" between "apple" and "Zebra"); there
    // the names are compared directly, by the system's own comparison.
    static const bool keysOrderRightly = QSysInfo::kernelType() != QLatin1StringView("winnt");
    if (!keysOrderRightly) {
        std::stable_sort(order.begin(), order.end(), [this, &collator](int a, int b) {
            return collator.compare(m_rows.at(a + 1).at(m_col).text, m_rows.at(b + 1).at(m_col).text) < 0;
        });
    } else {
        std::vector<QCollatorSortKey> keys;
        keys.reserve(static_cast<size_t>(count));
        for (int r = 1; r <= count; ++r)
            keys.push_back(collator.sortKey(m_rows.at(r).at(m_col).text));
        std::stable_sort(order.begin(), order.end(),
                         [&keys](int a, int b) { return keys[size_t(a)].compare(keys[size_t(b)]) < 0; });
    }

    Q_EMIT rowsAboutToBeReordered();
    QList<RowCells> sorted;
    QList<SetListRowExtras> sortedExtras;
    sorted.reserve(m_rows.size());
    sortedExtras.reserve(m_extras.size());
    sorted.append(m_rows.at(0));
    sortedExtras.append(m_extras.at(0));
    for (int i : order) {
        sorted.append(std::move(m_rows[i + 1]));
        sortedExtras.append(std::move(m_extras[i + 1]));
    }
    m_rows = std::move(sorted);
    m_extras = std::move(sortedExtras);
    Q_EMIT rowsReordered();
}

void SongTable::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    Q_EMIT enabledChanged(enabled);
}

void SongTable::setVisible(bool visible)
{
    if (visible == m_visible)
        return;
    m_visible = visible;
    Q_EMIT visibleChanged(visible);
}

void SongTable::setTopRow(int row)
{
    m_topRow = std::clamp(row, 1, Rows() - 1);
    Q_EMIT topRowChanged(m_topRow);
}

void SongTable::SetFocus()
{
    Q_EMIT focusRequested();
}

void SongTable::setColWidth(int col, int twips)
{
    m_colWidths.at(col) = std::max(0, twips);
    Q_EMIT layoutChanged();
}

void SongTable::setRowHeight(int row, int twips)
{
    // Only the header row's height is ever set; data rows keep the font's height.
    if (row == 0) {
        m_headerHeight = std::max(0, twips);
        Q_EMIT layoutChanged();
    }
}

void SongTable::clampCursor()
{
    if (m_row > Rows() - 1) {
        m_row = Rows() - 1;
        Q_EMIT cursorChanged(m_row, m_col);
    }
}
