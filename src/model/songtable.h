#pragma once

#include "model/setlistrow.h"

#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <optional>

// A four-column grid of text cells with one header row and one number column, in
// which every read and write goes through a cursor cell. Both tables of the main
// window are SongTables: the handlers drive them exactly through this cursor, and
// the grid widget only shows what the table holds. The header row is row 0.
class SongTable : public QObject
{
    Q_OBJECT

public:
    static constexpr int ColumnCount = 4;
    // Row numbers are 16-bit signed integers in the handlers: the handlers refuse
    // to grow a table beyond this many rows below its header.
    static constexpr int MaxDataRows = 32766;

    // Cell alignments the program sets; anything else is the table's default.
    enum Alignment : int {
        AlignDefault = 0,
        AlignLeftCenter = 1,
        AlignCenterCenter = 4,
    };

    // Colours as 0xRRGGBB; the model has no use for a GUI colour type.
    using Color = quint32;
    static constexpr Color FolderHighlight = 0xFFC0C0; // light red, RGB(255, 192, 192)

    struct Cell
    {
        QString text;
        int alignment = AlignDefault;
        std::optional<Color> backColor;
    };
    using RowCells = std::array<Cell, ColumnCount>;

    explicit SongTable(QObject *parent = nullptr);

    [[nodiscard]] int Rows() const { return int(m_rows.size()); }
    void setRows(int n);
    [[nodiscard]] int Cols() const { return ColumnCount; }
    // The table is always four columns wide; kept so start-up and the scan can
    // state the shape they rely on.
    void setCols(int n);

    [[nodiscard]] int Row() const { return m_row; }
    void setRow(int row);
    [[nodiscard]] int Col() const { return m_col; }
    void setCol(int col);

    [[nodiscard]] QString Text() const;
    void setText(const QString &text);

    [[nodiscard]] int CellAlignment() const;
    void setCellAlignment(int alignment);
    [[nodiscard]] std::optional<Color> CellBackColor() const;
    void setCellBackColor(Color color);
    // Back to the table's default background.
    void clearCellBackColor();

    // What the cursor's row carries beside its cells (a set-list row's edits,
    // note and follow mark); it moves, goes and comes with the row. A new row
    // carries nothing.
    [[nodiscard]] const SetListRowExtras &RowExtras() const { return m_extras.at(m_row); }
    void setRowExtras(const SetListRowExtras &extras);
    [[nodiscard]] const SetListRowExtras &extrasAt(int row) const { return m_extras.at(row); }

    void AddItem(const QString &text, int index);
    void RemoveItem(int index);

    // Sorts the data rows by the text of column Col(), ascending, letter case
    // ignored, Latin before kana, kana in syllabary order; equal keys keep their
    // order. The argument is the grid's sort kind; only 5 is ever used.
    void Sort(int kind = 5);

    [[nodiscard]] bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    [[nodiscard]] bool Visible() const { return m_visible; }
    void setVisible(bool visible);
    [[nodiscard]] int TopRow() const { return m_topRow; }
    void setTopRow(int row);
    void SetFocus();

    [[nodiscard]] int ColWidth(int col) const { return m_colWidths.at(col); }
    void setColWidth(int col, int twips);
    [[nodiscard]] int RowHeight(int row) const { return row == 0 ? m_headerHeight : -1; }
    void setRowHeight(int row, int twips);

    // Direct reads for the view and for tests; handlers go through the cursor.
    [[nodiscard]] const Cell &cellAt(int row, int col) const { return m_rows.at(row).at(col); }
    [[nodiscard]] QString textAt(int row, int col) const { return m_rows.at(row).at(col).text; }

Q_SIGNALS:
    void rowsAboutToBeInserted(int first, int last);
    void rowsInserted();
    void rowsAboutToBeRemoved(int first, int last);
    void rowsRemoved();
    void cellChanged(int row, int col);
    void rowExtrasChanged(int row);
    void rowsAboutToBeReordered();
    void rowsReordered();
    void cursorChanged(int row, int col);
    void enabledChanged(bool enabled);
    void visibleChanged(bool visible);
    void topRowChanged(int row);
    void focusRequested();
    void layoutChanged();

private:
    void clampCursor();
    Cell &current();

    QList<RowCells> m_rows;
    QList<SetListRowExtras> m_extras; // one per row, header included
    int m_row = 1;
    int m_col = 0;
    bool m_enabled = true;
    bool m_visible = true;
    int m_topRow = 1;
    std::array<int, ColumnCount> m_colWidths{ 960, 960, 960, 960 };
    int m_headerHeight = 240;
};
