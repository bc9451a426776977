// Preview playback of the library's or the set list's current song.
#include "forms/main/form1.h"

#include "model/songtable.h"
#include "platform/media/mediacommands.h"
#include "platform/media/playbackcontrol.h"
#include "platform/desktop/messageboxes.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

void Form1::Command20_Click()
{
    SongTable &library = *m_table1;
    library.setRow(library.Row());
    library.setCol(1);
    const QString name = library.Text();
    if (name.isEmpty()) {
        m_services.boxes->inform(this, u"楽曲が選択されていません"_s, QString());
        return;
    }
    // Built from the folder field as it reads now and the display name, so a
    // marked row or a changed field plays nothing rather than something else.
    playSong(Text1->text() + QDir::separator() + name);
}

void Form1::Command30_Click()
{
    closeSong();
    setPlaying(false);
    Q_EMIT previewStopped();
}

void Form1::playSetListSong()
{
    SongTable &list = *m_table2;
    const int row = qMax(1, list.Row());
    // Set-list songs may come from a set-list file and another folder than the
    // library's, so the row's own full path is played.
    const QString path = list.textAt(row, 2);
    if (list.textAt(row, 1).isEmpty() || path.isEmpty()) {
        m_services.boxes->inform(this, u"楽曲が選択されていません"_s, QString());
        return;
    }
    playSong(path, row);
}

int Form1::playSong(const QString &path, int setListRow)
{
    // One song at a time: the stop button closes only the path in Text5, so a
    // song left playing under another path (the library's, then the set
    // list's) could never be stopped. The same path again plays on as it is.
    if (Text5->text() != path)
        closeSong();
    Text5->setText(path);
    const bool row = setListRow >= 1 && setListRow < m_table2->Rows();
    const SetListRowExtras extras = row ? m_table2->extrasAt(setListRow) : SetListRowExtras{};
    if (m_services.playback)
        m_services.playback->setEdits(path, extras.edits, extras.songMs);
    const int result = m_services.media->sendString(playCommand(path), nullptr, 0);
    setPlaying(true);
    Q_EMIT songStarted(extras.edits);
    return result;
}

void Form1::closeSong()
{
    m_services.media->sendString(closeCommand(Text5->text()), nullptr, 0);
    // The edits were the preview's: the song under this path is the file's
    // own again for whatever plays it next.
    if (m_services.playback)
        m_services.playback->setEdits(Text5->text(), {}, 0);
}

void Form1::stopPreview()
{
    Command30->click();
}

QString Form1::songPath() const
{
    return Text5->text();
}

void Form1::showSetListRow(int row)
{
    if (row < 1 || row >= m_table2->Rows())
        return;
    m_table2->setRow(row);
    m_table2->setCol(1);
}

void Form1::setPlaying(bool playing)
{
    m_playing = playing;
    m_table1->setEnabled(!playing);
    for (QPushButton *button : { Command11, Command3, Command9, Command10 })
        button->setEnabled(!playing);
    Label9->setVisible(playing);
    Q_EMIT availabilityChanged();
}
