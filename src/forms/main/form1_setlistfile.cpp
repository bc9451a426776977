// What the window around Form1 needs to keep set lists in files and to offer
// the buttons' actions in its menus.
#include "forms/main/form1.h"

#include "forms/main/probeprogress.h"
#include "model/durations.h"
#include "model/libraryentry.h"
#include "model/songtable.h"
#include "platform/desktop/messageboxes.h"
#include "platform/media/libraryscanner.h"

#include <QDir>
#include <QFileInfo>
#include <QDateTime>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

// "hh:mm:ss" (hours may have more digits) to seconds; nothing for any other text.
std::optional<qint64> secondsOf(const QString &length)
{
    const QStringList parts = length.split(u':');
    if (parts.size() != 3)
        return std::nullopt;
    qint64 seconds = 0;
    for (const QString &part : parts) {
        bool ok = false;
        const qint64 value = part.toLongLong(&ok);
        if (!ok || value < 0)
            return std::nullopt;
        seconds = seconds * 60 + value;
    }
    return seconds;
}

} // namespace

void Form1::trigger(Action action)
{
    const QList<QPushButton *> buttons{ Command2, Command3, Command5, Command6, Command10, Command14 };
    buttons.at(int(action))->click();
}

bool Form1::isAvailable(Action action) const
{
    const QList<QPushButton *> buttons{ Command2, Command3, Command5, Command6, Command10, Command14 };
    return buttons.at(int(action))->isEnabled();
}

QList<SetListEntry> Form1::setListEntries() const
{
    const SongTable &list = *m_table2;
    QList<SetListEntry> entries;
    for (int r = 1; r < list.Rows(); ++r) {
        const QString path = list.textAt(r, 2);
        if (path.isEmpty())
            continue;
        entries.append({ path, LibraryEntry::titleOf(list.textAt(r, 1)), secondsOf(list.textAt(r, 3)), list.extrasAt(r) });
    }
    return entries;
}

QString Form1::setName() const
{
    return Text3->text();
}

QString Form1::libraryFolder() const
{
    return Text1->text();
}

QString Form1::outputFolder() const
{
    return Text2->text();
}

SongEdits::Stamp Form1::stampOf(const QString &path)
{
    const QFileInfo file(path);
    return { file.size(), file.lastModified().toMSecsSinceEpoch() };
}

void Form1::applyRowEdits(int row, SetListRowExtras extras)
{
    SongTable &list = *m_table2;
    if (row < 1 || row >= list.Rows() || list.textAt(row, 1).isEmpty())
        return;
    if (extras.edits.isEmpty()) {
        extras.edits = {};
    } else if (extras.edits != list.extrasAt(row).edits || extras.editsStale) {
        extras.edits.stamp = stampOf(list.textAt(row, 2));
        extras.editsStale = false;
    }
    const int cursorRow = list.Row(), cursorCol = list.Col();
    list.setRow(row);
    list.setRowExtras(extras);
    list.setCol(3);
    const qint64 ms = extras.edits.isEmpty() ? extras.songMs : extras.edits.editedMs(extras.songMs);
    if (extras.songMs > 0)
        list.setText(FormatLength(double(ms)));
    list.setRow(cursorRow);
    list.setCol(cursorCol);
    TimeCalc();
    Q_EMIT setListChanged();
}

bool Form1::replaceSetList(const QStringList &paths, const QString &setName, const QList<SetListRowExtras> &extras)
{
    if (paths.size() > SongTable::MaxDataRows) {
        m_services.boxes->inform(this, u"セットリストには %1 曲までしか追加できません。"_s.arg(SongTable::MaxDataRows),
                                 u"追加できません"_s);
        return false;
    }
    const auto lengths = probeWithProgress(this, paths.size(), u"セットリストを開く"_s,
                                           [&] { return LibraryScanner::probeAll(*m_services.media, paths); });
    if (!lengths)
        return false;

    SongTable &list = *m_table2;
    list.setRows(2);
    list.setRow(1);
    for (int c = 0; c < 4; ++c) {
        list.setCol(c);
        list.setText({});
    }
    list.setRowExtras({});
    QStringList stale;
    // Each song lands as the add button puts it: number, name, full path and
    // length, the name cell left-aligned.
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const int n = int(i) + 1;
        list.setRows(std::max(2, n + 1));
        list.setRow(n);
        list.setCol(0);
        list.setText(QString::number(n).rightJustified(2, u'0'));
        const QString path = QDir::toNativeSeparators(paths[i]);
        SetListRowExtras rowExtras = extras.value(i);
        const double songMs = lengths->value(i);
        rowExtras.songMs = qint64(songMs);
        // Edits made on another file than this one may no longer fit the song:
        // they are kept, and the row and a message say so.
        if (!rowExtras.edits.isEmpty() && rowExtras.edits.stamp && *rowExtras.edits.stamp != stampOf(paths[i])) {
            rowExtras.editsStale = true;
            stale << path.mid(path.lastIndexOf(QDir::separator()) + 1);
        }
        const QString cells[] = { path.mid(path.lastIndexOf(QDir::separator()) + 1), path,
                                  rowExtras.edits.isEmpty() ? FormatLength(songMs)
                                                            : FormatLength(double(rowExtras.edits.editedMs(qint64(songMs)))) };
        list.setRowExtras(rowExtras);
        for (int c = 1; c <= 3; ++c) {
            list.setCol(c);
            if (c == 1)
                list.setCellAlignment(SongTable::AlignLeftCenter);
            list.setText(cells[c - 1]);
        }
    }
    TimeCalc();
    list.setCol(1);
    list.setRow(std::max(1, int(paths.size())));
    Text3->setText(setName);
    if (!stale.isEmpty())
        m_services.boxes->inform(this,
                                 u"次の曲は、編集した後でファイルが変わっています。編集はそのまま残してあります。"
                                 u"確かめてください:\n"_s + stale.join(u'\n'),
                                 u"お知らせ"_s);
    Q_EMIT setListChanged();
    return true;
}

void Form1::clearSetList()
{
    SongTable &list = *m_table2;
    list.setRows(2);
    list.setRow(1);
    for (int c = 0; c < 4; ++c) {
        list.setCol(c);
        list.setText({});
    }
    list.setRowExtras({});
    list.setCol(1);
    Text3->clear();
    Text6->clear();
    Q_EMIT setListChanged();
}
