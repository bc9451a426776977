// The export for the venue's player: the format its songs take on the stick
// and whether they are brought to one level, chosen before the export starts
// and shown beside the preview while the set is built.
#include "forms/main/mainwindow.h"
#include "forms/songgrid.h"
#include "forms/songtablemodel.h"

#include "forms/main/awaited.h"
#include "model/libraryentry.h"
#include "platform/audio/exportshaping.h"
#include "platform/desktop/messageboxes.h"
#include "platform/storage/settingsfile.h"
#include "platform/storage/stopsignal.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QProgressDialog>
#include <QToolBar>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString FormatStoreName = u"formatdata.dat"_s;

} // namespace

void MainWindow::createExportOptions(QMenu *menu)
{
    QMenu *options = menu->addMenu(u"出力の設定"_s);
    options->setObjectName(u"exportMenu"_s);
    options->addSection(u"出力形式"_s);
    auto *formats = new QActionGroup(this);
    const QString store = m_form->AppFolder() + FormatStoreName;
    const std::optional<ExportFormat::Format> kept = ExportFormat::parse(SettingsFile::read(store));
    for (ExportFormat::Format format : { ExportFormat::Format::Original, ExportFormat::Format::Mp3, ExportFormat::Format::Wav }) {
        const QString text = format == ExportFormat::Format::Original ? u"元のまま（コピー）"_s
                             : format == ExportFormat::Format::Mp3    ? u"MP3（320 kbps）"_s
                                                                      : u"WAV（44.1 kHz 16 ビット）"_s;
        QAction *action = addEntry(options, text);
        action->setObjectName(u"exportFormat_"_s + ExportFormat::word(format));
        action->setCheckable(true);
        action->setChecked(format == kept.value_or(ExportFormat::Format::Original));
        formats->addAction(action);
        m_formatActions.append({ action, format });
    }
    // A choice that cannot be kept still holds for this run.
    connect(formats, &QActionGroup::triggered, this, [this, store] {
        (void)SettingsFile::write(store, ExportFormat::word(exportFormat()));
        showExportOptions();
    });
    options->addSeparator();
    // The same option as the audio CD's: one set, one level, wherever it goes.
    options->addAction(m_matchAction);
    connect(m_matchAction, &QAction::toggled, this, &MainWindow::showExportOptions);

    // Beside the preview (the window puts it there), where the status bar's
    // figures leave it room: what the export will write is in view before the
    // button is pressed.
    m_exportBar = new QToolBar(u"出力の設定"_s, this);
    m_exportBar->setObjectName(u"exportBar"_s);
    m_exportBar->setMovable(false);
    m_exportBar->setFloatable(false);
    m_exportLabel = new QLabel(m_exportBar);
    m_exportLabel->setObjectName(u"exportOptionsLabel"_s);
    m_exportBar->addWidget(m_exportLabel);
    m_form->setExportShaper([this](ExportPlan &plan) { return shapeExport(plan); });
    m_form->setExportFinisher([this](const ExportPlan &plan) { writeCueSheet(plan); });
    showExportOptions();
}

ExportFormat::Format MainWindow::exportFormat() const
{
    for (const auto &[action, format] : m_formatActions)
        if (action->isChecked())
            return format;
    return ExportFormat::Format::Original;
}

void MainWindow::showExportOptions()
{
    // An edited set-list row tells whether this format keeps it lossless.
    if (auto *grid = m_form->findChild<SongGrid *>(u"MSHFlexGrid2"_s))
        grid->tableModel()->setExportFormat(exportFormat());
    QString text = u" 出力: "_s + ExportFormat::caption(exportFormat());
    if (m_matchAction->isChecked())
        text += u"・音量をそろえる"_s;
    m_exportLabel->setText(text);
}

bool MainWindow::shapeExport(ExportPlan &plan)
{
    const ExportFormat::Format format = exportFormat();
    const bool edited = std::any_of(plan.items.cbegin(), plan.items.cend(), [](const ExportItem &item) { return !item.edits.isEmpty(); });
    if (format == ExportFormat::Format::Original && !m_matchAction->isChecked() && !edited)
        return true;
    std::optional<LevelMatch::Plan> levels;
    QList<std::optional<Loudness>> loudness;
    if (m_matchAction->isChecked()) {
        QStringList paths, titles;
        for (const ExportItem &item : plan.items) {
            paths.append(item.sourcePath);
            titles.append(LibraryEntry::titleOf(item.fileName));
        }
        // Nothing is made until the levels are known, so a cancel here leaves
        // nothing behind.
        QProgressDialog progress(this);
        progress.setWindowTitle(u"リスト曲をフォルダに出力する"_s);
        progress.setCancelButtonText(u"中止"_s);
        progress.setMinimumDuration(300);
        progress.setWindowModality(Qt::WindowModal);
        progress.setAutoClose(false);
        progress.setAutoReset(false);
        const std::optional<MatchedLevels> matched = matchedLevels(paths, titles, &progress);
        if (!matched) {
            if (progress.wasCanceled())
                m_services.boxes->inform(this, u"出力を中止しました。ファイルは作っていません。"_s, u"お知らせ"_s);
            return false;
        }
        levels = matched->plan;
        loudness = matched->levels;
    }
    awaited(this, [&] { ExportShaping::shape(plan, format, levels, loudness); });
    // The program asked to end meanwhile makes no folder it would leave empty.
    return StopSignal::raised() == 0;
}
