#pragma once

#include "model/exportformat.h"

#include <QAbstractTableModel>
#include <QPointer>

#include "model/songtable.h"


// Shows a SongTable to a QTableView: data row r of the table is model row r-1,
// the table's header row feeds the horizontal header. While the table is hidden
// (the scan fills it that way) the adapter reports no rows and ignores changes,
// then resets once when the table is shown again: thousands of single-row
// inserts never reach the view.
class SongTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // True for the one cell the table's cursor stands on.
    static constexpr int CursorCellRole = Qt::UserRole + 1;
    // On a length cell: the mark of a row whose song is edited ("✎"; "✎!" when
    // its file changed since), empty otherwise.
    static constexpr int EditMarkRole = Qt::UserRole + 2;

    explicit SongTableModel(SongTable *table, QObject *parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex &index) const override;

    [[nodiscard]] SongTable *table() const { return m_table; }
    // The export's format, for an edited row to tell whether it reaches the
    // stick without being encoded lossily again.
    void setExportFormat(ExportFormat::Format format);
    [[nodiscard]] bool isSuspended() const { return m_suspended; }

private:
    std::optional<ExportFormat::Format> m_format;
    void onVisibleChanged(bool visible);
    void onCellChanged(int row, int col);
    void onCursorChanged(int row, int col);

    QPointer<SongTable> m_table;
    bool m_suspended = false;
    int m_cursorRow = 0;
    int m_cursorCol = 0;
};
