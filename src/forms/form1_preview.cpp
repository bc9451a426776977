// Preview playback of the library's current song.
#include "forms/form1.h"

#include "model/songtable.h"
#include "platform/media/mediacommands.h"
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
    const QString path = Text1->text() + QDir::separator() + name;
    Text5->setText(path);
    m_services.media->sendString(playCommand(path), nullptr, 0);
    setPlaying(true);
}

void Form1::Command30_Click()
{
    m_services.media->sendString(closeCommand(Text5->text()), nullptr, 0);
    setPlaying(false);
}

void Form1::setPlaying(bool playing)
{
    m_table1->setEnabled(!playing);
    for (QPushButton *button : { Command11, Command3, Command9, Command10 })
        button->setEnabled(!playing);
    Label9->setVisible(playing);
    Q_EMIT availabilityChanged();
}
