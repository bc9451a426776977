#pragma once

#include <QTableView>

class SongTable;
class SongTableModel;

// The grid that shows a SongTable: a header row, the number column drawn in the
// header's style, the cursor's row highlighted across the table, cells that the
// user selects but never edits. The user's clicks and arrow keys move the
// table's cursor; the program's cursor moves show up here.
class SongGrid : public QTableView
{
    Q_OBJECT

public:
    explicit SongGrid(SongTable *table, QWidget *parent = nullptr);

    [[nodiscard]] SongTable *table() const { return m_table; }
    [[nodiscard]] SongTableModel *tableModel() const { return m_model; }

    // Twips to device-independent pixels: 15 twips are one pixel at 96 dpi.
    [[nodiscard]] static int twipsToPixels(int twips) { return (twips + 7) / 15; }

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    void applyLayout();
    void showCursor();

    SongTable *m_table;
    SongTableModel *m_model;
    bool m_followingView = false;
};
