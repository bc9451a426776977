// The grid that shows a song table: the adapter stays a correct item model
// through every table operation, and the cursor and the view follow each other.
#include "forms/songgrid.h"
#include "forms/songtablemodel.h"
#include "model/songtable.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

void fill(SongTable &t, const QStringList &names)
{
    t.setRows(int(names.size()) + 1);
    for (int i = 0; i < names.size(); ++i) {
        t.setRow(i + 1);
        t.setCol(1);
        t.setText(names[i]);
    }
}

} // namespace

class TestSongGrid : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void adapterStaysConsistent()
    {
        SongTable table;
        SongTableModel model(&table);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

        fill(table, { u"c"_s, u"b"_s, u"a"_s });
        QCOMPARE(model.rowCount(), 3);
        table.AddItem(QString(), 2);
        table.RemoveItem(1);
        table.setCol(1);
        table.Sort(5);
        QCOMPARE(model.index(0, 1).data().toString(), QString()); // the blank row sorts first
        QCOMPARE(model.index(1, 1).data().toString(), u"a"_s);
        table.setRows(2);
        QCOMPARE(model.rowCount(), 1);

        // Hidden, the table reports no rows and changes pass silently; shown
        // again, everything is there at once.
        table.setVisible(false);
        QCOMPARE(model.rowCount(), 0);
        fill(table, { u"x"_s, u"y"_s });
        table.setRow(2);
        table.setCol(1);
        table.setCellBackColor(SongTable::FolderHighlight);
        table.setVisible(true);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(1, 1).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 192, 192));

        table.setRow(0);
        table.setCol(1);
        table.setText(u"ファイル名"_s);
        QCOMPARE(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), u"ファイル名"_s);
        QCOMPARE(model.flags(model.index(0, 1)) & Qt::ItemIsEditable, Qt::ItemFlags());
    }

    void cursorAndViewFollowEachOther()
    {
        SongTable table;
        table.setColWidth(0, 400);
        table.setColWidth(1, 3800);
        table.setColWidth(2, 0);
        table.setColWidth(3, 800);
        SongGrid grid(&table);
        grid.resize(400, 300);
        fill(table, { u"one"_s, u"two"_s, u"three"_s });
        table.setRow(1);
        table.setCol(1);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));

        // The program's cursor selects the whole row once the handler is done.
        table.setRow(2);
        QTRY_COMPARE(grid.currentIndex().row(), 1);
        QCOMPARE(grid.selectionModel()->selectedRows().size(), 1);
        QCOMPARE(grid.selectionModel()->selectedRows().first().row(), 1);

        // The user's arrow keys and clicks move the table's cursor.
        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(table.Row(), 3);
        QTest::keyClick(&grid, Qt::Key_Up);
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(table.Row(), 1);
        const QRect cell = grid.visualRect(grid.model()->index(2, 1));
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(table.Row(), 3);
        QCOMPARE(table.Col(), 1);

        // A disabled table takes no clicks.
        table.setEnabled(false);
        QVERIFY(!grid.isEnabled());
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(grid.model()->index(0, 1)).center());
        QCOMPARE(table.Row(), 3);
    }

    void numberCellUnderTheCursorIsMarked()
    {
        SongTable table;
        SongTableModel model(&table);
        fill(table, { u"a"_s, u"b"_s });
        table.setRow(2);
        table.setCol(0);
        QVERIFY(model.index(1, 0).data(SongTableModel::CursorCellRole).toBool());
        QVERIFY(!model.index(0, 0).data(SongTableModel::CursorCellRole).toBool());
        table.setRow(1);
        QVERIFY(model.index(0, 0).data(SongTableModel::CursorCellRole).toBool());
        QVERIFY(!model.index(1, 0).data(SongTableModel::CursorCellRole).toBool());
    }
};

QTEST_MAIN(TestSongGrid)
#include "tst_songgrid.moc"
