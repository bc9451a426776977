#pragma once

#include <QElapsedTimer>
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
    // Lets the user drag a row out of this grid onto another one (the library).
    void setRowExportEnabled(bool enabled) { m_rowExportEnabled = enabled; }
    // Typing jumps to the first row whose name (column 1) starts with the letters
    // typed so far; kana typed through an input method count too (the library).
    void setTypeAheadEnabled(bool enabled);

    // Where a row dragged in from another grid would go: the data row under the
    // point (given in global coordinates), Rows() below the last row, 0 outside.
    [[nodiscard]] int insertRowAt(const QPoint &globalPos) const;
    // Shows a bar above that row (below the last one for Rows()); 0 hides it.
    void setInsertMark(int row);

    void keyboardSearch(const QString &search) override;

Q_SIGNALS:
    // Double-click or Enter on a data row.
    void rowActivated();
    // The Delete key.
    void deleteRequested();
    // Ctrl+Up / Ctrl+Down.
    void moveRequested(int direction);
    // A row dragged from one table row to another (both data rows, different).
    void rowDropped(int fromRow, int toRow);
    // A row dragged out of this grid: while the mouse moves, and where it lets go.
    void rowDragMoved(int fromRow, const QPoint &globalPos);
    void rowDraggedOut(int fromRow, const QPoint &globalPos);

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

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
    bool m_rowExportEnabled = false;
    // Table row of a drag out of this grid; negative while armed, 0 when none.
    int m_exportFrom = 0;
    int m_insertMark = 0;
    bool m_typeAhead = false;
    QString m_typed;
    QElapsedTimer m_sinceTyped;
};
