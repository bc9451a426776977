// The set list: add, delete, move up and down, and its total time.
#include "forms/main/form1.h"

#include "model/durations.h"
#include "model/libraryentry.h"
#include "model/songtable.h"
#include "forms/songgrid.h"
#include "platform/desktop/messageboxes.h"

#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

QString setListNumber(int row)
{
    return QString::number(row).rightJustified(2, u'0');
}

struct Song
{
    QString name;
    QString path;
    QString length;
    SetListRowExtras extras;
};

// Reads columns 1 to 3 of the cursor's row; the name cell is left-aligned on
// the way, as every set-list name cell is.
Song takeSong(SongTable &table, int row, bool alignName)
{
    table.setRow(row);
    table.setCol(1);
    if (alignName)
        table.setCellAlignment(SongTable::AlignLeftCenter);
    Song song;
    song.name = table.Text();
    table.setCol(2);
    song.path = table.Text();
    table.setCol(3);
    song.length = table.Text();
    song.extras = table.RowExtras();
    return song;
}

void putSong(SongTable &table, int row, const Song &song, bool alignName)
{
    table.setRow(row);
    table.setCol(1);
    if (alignName)
        table.setCellAlignment(SongTable::AlignLeftCenter);
    table.setText(song.name);
    table.setCol(2);
    table.setText(song.path);
    table.setCol(3);
    table.setText(song.length);
    table.setRowExtras(song.extras);
}

} // namespace

void Form1::TimeCalc()
{
    Text6->setText(u"00:00:00"_s);
    Text6->setText(TotalLength(*m_table2));
}

void Form1::renumberSetList()
{
    SongTable &list = *m_table2;
    for (int i = 1; i <= list.Rows() - 1; ++i) {
        list.setCol(0);
        list.setRow(i);
        list.setText(setListNumber(i));
    }
}

void Form1::Command2_Click()
{
    SongTable &library = *m_table1;
    SongTable &list = *m_table2;

    const int r = library.Row();
    library.setRow(r);
    const Song song = takeSong(library, r, false);

    if (song.name.isEmpty()) {
        m_services.boxes->inform(this, u"楽曲フォルダから楽曲を取得してください"_s, u"楽曲がありません"_s);
        return;
    }
    if (LibraryEntry::isMarked(song.name)) {
        m_services.boxes->inform(this, u"フォルダを指定しています、追加できません"_s, u"追加できません"_s);
        return;
    }

    list.setRow(list.Rows() - 1);
    list.setCol(1);
    if (!list.Text().isEmpty()) {
        // Row numbers are 16-bit in the set list's handlers; refuse before the
        // table grows beyond what they can count.
        if (list.Rows() - 1 >= SongTable::MaxDataRows) {
            m_services.boxes->inform(
                this, u"セットリストには %1 曲までしか追加できません。"_s.arg(SongTable::MaxDataRows),
                u"追加できません"_s);
            library.setRow(r);
            library.setCol(1);
            return;
        }
        list.setRows(list.Rows() + 1);
    }

    const int n = list.Rows() - 1;
    list.setRow(n);
    list.setCol(0);
    list.setText(setListNumber(n));
    putSong(list, n, song, true);

    TimeCalc();

    list.setCol(1);
    list.setRow(n);
    library.setRow(r);
    library.setCol(1);
    Q_EMIT setListChanged();
}

void Form1::Command3_Click()
{
    if (!m_services.boxes->ask(this, u"選択行を本当に削除してもよろしいですか？"_s, u"確認"_s))
        return;

    SongTable &list = *m_table2;
    if (list.Rows() == 2) {
        // The last song goes but its row stays, blank, as the empty set list.
        for (int c = 0; c < 4; ++c) {
            list.setCol(c);
            list.setText({});
        }
        list.setRowExtras({});
        Text6->setText(u"00:00:00"_s);
        Q_EMIT setListChanged();
        return;
    }

    const int r = list.Row();
    list.setRow(r);
    list.RemoveItem(r);
    renumberSetList();
    TimeCalc();
    list.setCol(1);
    list.setRow(1);
    Q_EMIT setListChanged();
}

void Form1::Command5_Click()
{
    if (m_table2->Row() == 1) {
        m_services.boxes->inform(this, u"これ以上上に上げれません"_s, u"お知らせ"_s);
        return;
    }
    moveUp();
}

void Form1::Command6_Click()
{
    if (m_table2->Row() == m_table2->Rows() - 1) {
        m_services.boxes->inform(this, u"これ以上下に下げれません"_s, u"お知らせ"_s);
        return;
    }
    moveDown();
}

void Form1::moveUp()
{
    SongTable &list = *m_table2;
    const int r = list.Row();
    list.setRow(r);
    // A blank row goes in above the song; the song is copied up into it and the
    // neighbour's old row is removed, so both end up one place further.
    list.AddItem(QString(), r);
    const Song song = takeSong(list, r + 1, false);
    putSong(list, r, song, true);
    const Song above = takeSong(list, r - 1, true);
    putSong(list, r + 1, above, true);
    list.setRow(r - 1);
    list.RemoveItem(r - 1);
    renumberSetList();
    list.setRow(r - 1);
    list.setCol(1);
    Q_EMIT setListChanged();
}

void Form1::moveDown()
{
    SongTable &list = *m_table2;
    const int r = list.Row();
    list.setRow(r);
    list.AddItem(QString(), r + 1);
    const Song song = takeSong(list, r, true);
    putSong(list, r + 1, song, true);
    const Song below = takeSong(list, r + 2, true);
    putSong(list, r, below, false);
    list.setRow(r + 2);
    list.RemoveItem(r + 2);
    renumberSetList();
    list.setRow(r + 1);
    list.setCol(1);
    Q_EMIT setListChanged();
}

void Form1::moveSetListRow(int fromRow, int toRow)
{
    // A drop is a run of single moves, so the rows, numbers and cursor end
    // exactly as the same number of button presses would leave them.
    if (!Command5->isEnabled() || !Command6->isEnabled())
        return;
    SongTable &list = *m_table2;
    const int last = list.Rows() - 1;
    if (fromRow < 1 || fromRow > last || toRow < 1 || toRow > last || fromRow == toRow)
        return;
    list.setRow(fromRow);
    while (list.Row() > toRow)
        moveUp();
    while (list.Row() < toRow)
        moveDown();
}

QString Form1::totalText() const
{
    return Text6->text();
}

int Form1::setListSongs() const
{
    int songs = 0;
    for (int r = 1; r < m_table2->Rows(); ++r)
        songs += m_table2->textAt(r, 1).isEmpty() ? 0 : 1;
    return songs;
}

void Form1::addFromLibrary(int libraryRow, int toRow)
{
    // The add button on the dragged row, then the up button until the song sits
    // where the mouse let go: messages, numbers, total and cursors are theirs.
    if (!Command2->isEnabled() || libraryRow < 1 || libraryRow >= m_table1->Rows())
        return;
    const int before = setListSongs();
    m_table1->setRow(libraryRow);
    m_table1->setCol(1);
    Command2->click();
    if (setListSongs() != before + 1)
        return;
    const int added = m_table2->Rows() - 1;
    if (toRow < added)
        moveSetListRow(added, toRow);
}

QWidget *Form1::setListView() const
{
    return Grid2;
}
