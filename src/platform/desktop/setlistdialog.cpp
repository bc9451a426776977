#include "platform/desktop/setlistdialog.h"

#include <QFileDialog>

using namespace Qt::StringLiterals;

namespace {

const QString OpenFilter = u"プレイリスト (*.m3u8 *.m3u *.M3U8 *.M3U);;すべてのファイル (*)"_s;
const QString SaveFilter = u"プレイリスト (*.m3u8)"_s;

} // namespace

QString SystemSetListDialog::fileToOpen(QWidget *owner, const QString &folder)
{
    return QFileDialog::getOpenFileName(owner, u"セットリストを開く"_s, folder, OpenFilter);
}

QString SystemSetListDialog::fileToSave(QWidget *owner, const QString &suggestion)
{
    QFileDialog dialog(owner, u"名前を付けて保存"_s, suggestion, SaveFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(u"m3u8"_s);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
