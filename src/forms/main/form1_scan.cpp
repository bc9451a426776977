// The library scan: lists the source folder into the library table.
#include "forms/main/form1.h"

#include "forms/main/probeprogress.h"
#include "model/durations.h"
#include "model/libraryentry.h"
#include "model/songtable.h"
#include "platform/media/lengthcache.h"
#include "platform/media/libraryscanner.h"
#include "platform/desktop/messageboxes.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

using namespace Qt::StringLiterals;

void Form1::Command11_Click()
{
    const QString folder = Text1->text();
    if (folder.isEmpty()) {
        m_services.boxes->inform(this, u"フォルダの指定ができていません"_s, u"お知らせ"_s);
        return;
    }
    if (!QFileInfo(folder).isDir()) {
        m_services.boxes->inform(this, u"読み込み元のフォルダーがありません"_s, u"お知らせ"_s);
        return;
    }

    QStringList names = LibraryScanner::listFolder(folder);
    // One- and two-character names (".", "..", and any such entry) are not listed.
    names.removeIf([](const QString &name) { return name.size() < 3; });
    if (names.size() > SongTable::MaxDataRows) {
        m_services.boxes->inform(this,
                                 u"フォルダ内の項目が多すぎます（%1 個）。一覧にできるのは %2 個までです。"
                                 u"楽曲を複数のフォルダに分けてください。"_s.arg(names.size())
                                     .arg(SongTable::MaxDataRows),
                                 u"お知らせ"_s);
        return;
    }

    QStringList paths;
    paths.reserve(names.size());
    for (const QString &name : std::as_const(names))
        paths << folder + QDir::separator() + name;

    const auto lengths = probeWithProgress(this, paths.size(), u"フォルダから楽曲取得"_s, [&] {
        return LibraryScanner::probeFolder(*m_services.media, folder, names, paths, LengthCache::defaultRoot());
    });
    if (!lengths)
        return; // cancelled: the library stays as it was
    fillLibrary(names, paths, *lengths);
}

void Form1::fillLibrary(const QStringList &names, const QStringList &paths, const QList<double> &lengths)
{
    SongTable &library = *m_table1;

    library.setVisible(false);
    library.setCols(4);
    library.setRows(2);
    for (int c = 0; c < 4; ++c) {
        library.setCol(c);
        library.setText({});
        // Row 1 is reused: without this a rescan could leave the folder
        // highlight of the previous first row on whatever song lands there.
        library.setCellAlignment(SongTable::AlignDefault);
        library.clearCellBackColor();
    }

    // The rows are made at once: one by one, each would be a resize and two signals more.
    library.setRows(int(names.size()) + 1);
    int n = 0;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString &name = names[i];
        library.setRow(n + 1);
        library.setCol(0);
        library.setCol(1);
        library.setCellAlignment(SongTable::AlignLeftCenter);
        // A FLAC or AIFF song is a file the player and the export read like any other;
        // a folder that happens to be named so stays a folder.
        if (LibraryEntry::looksLikeSong(name)
            || (LibraryEntry::hasLongAudioExtension(name) && QFileInfo(paths[i]).isFile())) {
            library.setText(name);
        } else {
            library.setText(LibraryEntry::FolderMarker + name);
            library.setCellBackColor(SongTable::FolderHighlight);
        }
        library.setCol(2);
        library.setText(paths[i]);
        library.setCol(3);
        library.setText(FormatLength(lengths.value(i)));
        ++n;
    }

    // The path field ends up holding the entry listed last; setting it once,
    // not once per entry, spares a text layout per row of a large folder.
    if (!paths.isEmpty())
        Text5->setText(paths.last());

    library.setCol(1);
    library.Sort(5);
    for (int i = 1; i <= library.Rows() - 1; ++i) {
        library.setCol(0);
        library.setRow(i);
        library.setText(QString::number(i));
    }

    library.setRow(1);
    library.setCol(1);
    library.setTopRow(1);
    library.setVisible(true);
    library.SetFocus();
}
