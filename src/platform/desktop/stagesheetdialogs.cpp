#include "platform/desktop/stagesheetdialogs.h"

#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>

using namespace Qt::StringLiterals;

bool SystemStageSheetDialogs::choosePrinter(QWidget *owner, QPrinter &printer)
{
    QPrintDialog dialog(&printer, owner);
    dialog.setWindowTitle(u"印刷"_s);
    // The sheet decides its own pages; a page range would cut songs off it.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    return dialog.exec() == QDialog::Accepted;
}

QString SystemStageSheetDialogs::pdfToSave(QWidget *owner, const QString &suggestion)
{
    QString path = QFileDialog::getSaveFileName(owner, u"PDF に書き出す"_s, suggestion, u"PDF (*.pdf)"_s);
    if (!path.isEmpty() && !path.endsWith(u".pdf"_s, Qt::CaseInsensitive))
        path += u".pdf"_s;
    return path;
}
