// The export of the set list to a folder.
#include "forms/main/form1.h"

#include "forms/inputblocker.h"
#include "forms/setlisttextbox.h"
#include "model/exportplan.h"
#include "model/songtable.h"
#include "platform/storage/exportcheck.h"
#include "platform/storage/exportjob.h"
#include "platform/storage/foldercreation.h"
#include "platform/desktop/messageboxes.h"

#include <QEventLoop>
#include <QLineEdit>
#include <QProgressDialog>

using namespace Qt::StringLiterals;

namespace {

QList<SetListRow> setListRows(const SongTable &list)
{
    QList<SetListRow> rows;
    for (int r = 1; r < list.Rows(); ++r) {
        const SongEdits edits = list.extrasAt(r).edits;
        // Column 3 of an edited row holds its edited length.
        rows.append({ r, list.textAt(r, 0), list.textAt(r, 2), edits, edits.isEmpty() ? QString() : list.textAt(r, 3) });
    }
    return rows;
}

// Progress counts bytes that reached the device (not those the kernel took
// into memory), which may exceed an int; the dialog gets thousandths.
constexpr int ProgressSteps = 1000;

} // namespace

void Form1::Command9_Click()
{
    SongTable &list = *m_table2;
    list.setRow(1);
    list.setCol(1);
    if (list.Text().isEmpty()) {
        m_services.boxes->inform(this, u"セットリストに曲がセットされていません"_s, u"お知らせ"_s);
        return;
    }
    const QString setName = Text3->text();
    if (setName.isEmpty()) {
        m_services.boxes->inform(this, u"保存先フォルダ名が記入されていません"_s, u"お知らせ"_s);
        return;
    }
    if (!m_services.boxes->ask(this, setName + u" の名前で指定場所にフォルダを作り楽曲保存します　よろしいですか？"_s,
                               u"確認"_s))
        return;
    Text4->setText({});

    const QString baseFolder = Text2->text();
    ExportPlan plan = planExport(setListRows(list), baseFolder, setName);
    // The songs' format and level for the player, when the window around asks for them.
    if (m_exportShaper && !m_exportShaper(plan))
        return;

    // Everything that can be seen in advance is checked before anything is
    // created: a half-done export on a stick is worse than none.
    if (const QStringList problems = ExportCheck::problems(plan); !problems.isEmpty()) {
        m_services.boxes->inform(this, ExportCheck::message(problems), u"お知らせ"_s);
        return;
    }

    const FolderCreation::Result created = FolderCreation::createExportFolder(baseFolder, plan.folder);
    if (created.outcome == FolderCreation::Outcome::AlreadyExists) {
        if (!m_services.boxes->ask(this, u"フォルダ存在しています。古いファイルがフォルダに残りますがいいですか？"_s,
                                   u"お知らせ"_s))
            return;
    } else if (created.outcome == FolderCreation::Outcome::Failed) {
        m_services.boxes->inform(this, u"フォルダを作成できませんでした。"_s, u"お知らせ"_s);
        return;
    }

    list.setRow(1);
    list.setCol(1);

    QProgressDialog progress(this);
    progress.setWindowTitle(u"リスト曲をフォルダに出力する"_s);
    progress.setCancelButtonText(u"中止"_s);
    progress.setRange(0, ProgressSteps);
    progress.setMinimumDuration(300);
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);

    ExportJob job(plan);
    const qsizetype count = plan.items.size();
    // The job, not the form, receives its figures: when the loop is ended from
    // outside (the program ending), figures still queued go with the job
    // instead of reaching a dialog gone with this function.
    connect(&job, &ExportJob::itemStarted, &job, [&](int index) {
        const ExportItem &item = plan.items.at(index);
        // The cursor stands on the number cell of the song being copied; the
        // grid draws that cell in its own colour.
        list.setRow(item.row);
        list.setCol(2);
        list.setCol(0);
        progress.setLabelText(u"%1 / %2 曲目を出力しています\n%3"_s.arg(index + 1).arg(count).arg(item.exportName));
    });
    connect(&job, &ExportJob::itemFinished, &job,
            [&](int index) { Text4->appendText(plan.items.at(index).line); });
    connect(&job, &ExportJob::bytesProgress, &job, [&](qint64 done, qint64 total) {
        progress.setValue(total > 0 ? int(done * ProgressSteps / total) : 0);
    });
    connect(&progress, &QProgressDialog::canceled, &job, &ExportJob::cancel);

    std::optional<ExportResult> ended;
    QEventLoop loop;
    connect(&job, &ExportJob::finished, &loop, [&](const ExportResult &r) {
        ended = r;
        loop.quit();
    });
    {
        InputBlocker blocker(this);
        job.start();
        loop.exec();
    }
    progress.close();
    if (!ended)
        return; // the program is ending; the job stops and cleans up on its way out
    const ExportResult &result = *ended;

    switch (result.outcome) {
    case ExportResult::Outcome::Completed:
        if (m_exportFinisher)
            m_exportFinisher(plan);
        m_services.boxes->inform(this, u"出力完了、テキストボックスにセトリ書き出し完了"_s, u"完了"_s);
        break;
    case ExportResult::Outcome::Cancelled:
        m_services.boxes->inform(this, u"出力を中止しました。%1 曲を出力しました。"_s.arg(result.exported),
                                 u"お知らせ"_s);
        break;
    case ExportResult::Outcome::Failed:
        if (result.failedIndex >= 0) {
            m_services.boxes->inform(
                this,
                u"「%1」を出力できませんでした。\n理由: %2\n出力はこの曲で止まりました（出力済み %3 曲）。"_s
                    .arg(plan.items.at(result.failedIndex).exportName, result.reason)
                    .arg(result.exported),
                u"お知らせ"_s);
        } else {
            m_services.boxes->inform(
                this, u"出力先への書き込みを完了できませんでした。\n理由: %1"_s.arg(result.reason), u"お知らせ"_s);
        }
        break;
    }
}
