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

    // Lets the user drag a row to another place (the set list); off by default.
    void setRowDragEnabled(bool enabled) { m_rowDragEnabled = enabled; }

Q_SIGNALS:
    // Double-click or Enter on a data row.
    void rowActivated();
    // The Delete key.
    void deleteRequested();
    // Ctrl+Up / Ctrl+Down.
    void moveRequested(int direction);
    // A row dragged from one table row to another (both data rows, different).
    void rowDropped(int fromRow, int toRow);

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void applyLayout();
    void showCursor();
    [[nodiscard]] int dropRowAt(const QPoint &pos) const;

    SongTable *m_table;
    SongTableModel *m_model;
    bool m_followingView = false;
    bool m_cursorSyncPending = false;
    bool m_rowDragEnabled = false;
    // Table rows of a drag under way; 0 when none.
    int m_dragFrom = 0;
    int m_dragTo = 0;
    QPoint m_pressPos;
};
