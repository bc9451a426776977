#include "platform/desktop/cdimagedialog.h"

#include <QFileDialog>

using namespace Qt::StringLiterals;

QString SystemCdImageDialog::cueToSave(QWidget *owner, const QString &suggestion)
{
    QString path = QFileDialog::getSaveFileName(owner, u"音楽CDのイメージを保存"_s, suggestion,
                                                u"CD イメージ (*.cue)"_s);
    if (!path.isEmpty() && !path.endsWith(u".cue"_s, Qt::CaseInsensitive))
        path += u".cue"_s;
    return path;
}
