#include "forms/songtablemodel.h"

#include "model/songtable.h"
#include "platform/audio/exportshaping.h"

#include <QBrush>

using namespace Qt::StringLiterals;

namespace {

Qt::Alignment toQt(int alignment)
{
    switch (alignment) {
    case SongTable::AlignLeftCenter:
        return Qt::AlignLeft | Qt::AlignVCenter;
    case SongTable::AlignCenterCenter:
        return Qt::AlignCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

} // namespace

SongTableModel::SongTableModel(SongTable *table, QObject *parent)
    : QAbstractTableModel(parent)
    , m_table(table)
    , m_suspended(!table->Visible())
    , m_cursorRow(table->Row())
    , m_cursorCol(table->Col())
{
    connect(table, &SongTable::rowsAboutToBeInserted, this, [this](int first, int last) {
        if (!m_suspended)
            beginInsertRows({}, first - 1, last - 1);
    });
    connect(table, &SongTable::rowsInserted, this, [this] {
        if (!m_suspended)
            endInsertRows();
    });
    connect(table, &SongTable::rowsAboutToBeRemoved, this, [this](int first, int last) {
        if (!m_suspended)
            beginRemoveRows({}, first - 1, last - 1);
    });
    connect(table, &SongTable::rowsRemoved, this, [this] {
        if (!m_suspended)
            endRemoveRows();
    });
    connect(table, &SongTable::rowsAboutToBeReordered, this, [this] {
        if (!m_suspended)
            beginResetModel();
    });
    connect(table, &SongTable::rowsReordered, this, [this] {
        if (!m_suspended)
            endResetModel();
    });
    connect(table, &SongTable::cellChanged, this, &SongTableModel::onCellChanged);
    connect(table, &SongTable::rowExtrasChanged, this, [this](int row) { onCellChanged(row, 3); });
    connect(table, &SongTable::cursorChanged, this, &SongTableModel::onCursorChanged);
    connect(table, &SongTable::visibleChanged, this, &SongTableModel::onVisibleChanged);
}

int SongTableModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || m_suspended || !m_table)
        return 0;
    return m_table->Rows() - 1;
}

int SongTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : SongTable::ColumnCount;
}

QVariant SongTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || !m_table)
        return {};
    const SongTable::Cell &cell = m_table->cellAt(index.row() + 1, index.column());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return cell.text;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(toQt(cell.alignment));
    case Qt::BackgroundRole:
        if (cell.backColor)
            return QBrush(QColor::fromRgb(QRgb(*cell.backColor)));
        return {};
    case CursorCellRole:
        return index.row() + 1 == m_cursorRow && index.column() == m_cursorCol;
    case EditMarkRole:
    case Qt::ToolTipRole: {
        const SetListRowExtras &extras = m_table->extrasAt(index.row() + 1);
        if (index.column() != 3 || extras.edits.isEmpty())
            return {};
        if (role == EditMarkRole)
            return extras.editsStale ? u"✎!"_s : u"✎"_s;
        QString tip = extras.editsStale ? u"編集済み。編集の後で曲のファイルが変わりました。編集を確かめてください"_s
                                        : u"編集済み（長さは編集後のもの）"_s;
        if (m_format) {
            const QString path = m_table->textAt(index.row() + 1, 2);
            tip += ExportShaping::staysLossless(path, extras.edits, extras.songMs, *m_format)
                ? u"\n書き出し: 劣化しません"_s
                : u"\n書き出し: 作り直します（音質がわずかに下がります）"_s;
        }
        return tip;
    }
    default:
        return {};
    }
}

void SongTableModel::setExportFormat(ExportFormat::Format format)
{
    if (m_format == format)
        return;
    m_format = format;
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0, 3), index(rowCount() - 1, 3), { Qt::ToolTipRole });
}

QVariant SongTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (!m_table || section < 0)
        return {};
    if (orientation == Qt::Horizontal && section < SongTable::ColumnCount) {
        const SongTable::Cell &cell = m_table->cellAt(0, section);
        if (role == Qt::DisplayRole)
            return cell.text;
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(toQt(cell.alignment));
        return {};
    }
    if (orientation == Qt::Vertical && role == Qt::DisplayRole)
        return section + 1;
    return {};
}

Qt::ItemFlags SongTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Selectable but never editable: the texts belong to the program.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void SongTableModel::onVisibleChanged(bool visible)
{
    if (visible == !m_suspended)
        return;
    beginResetModel();
    m_suspended = !visible;
    endResetModel();
}

void SongTableModel::onCellChanged(int row, int col)
{
    if (m_suspended)
        return;
    if (row == 0) {
        Q_EMIT headerDataChanged(Qt::Horizontal, col, col);
        return;
    }
    const QModelIndex cell = index(row - 1, col);
    Q_EMIT dataChanged(cell, cell);
}

void SongTableModel::onCursorChanged(int row, int col)
{
    const int oldRow = m_cursorRow;
    const int oldCol = m_cursorCol;
    m_cursorRow = row;
    m_cursorCol = col;
    if (m_suspended)
        return;
    // Only the number cell draws the cursor cell specially; repaint the two
    // cells whose look may have changed.
    for (const auto &[r, c] : { std::pair{ oldRow, oldCol }, std::pair{ row, col } }) {
        if (r >= 1 && r < m_table->Rows()) {
            const QModelIndex cell = index(r - 1, c);
            Q_EMIT dataChanged(cell, cell, { CursorCellRole });
        }
    }
}
