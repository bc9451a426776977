// The slot in the status bar and the stage sheet: what a performer plans and
// prints around the set list.
#include "forms/main/mainwindow.h"

#include "forms/show/showcontroller.h"
#include "forms/slotstatusbar.h"
#include "model/cuesheet.h"
#include "model/exportplan.h"
#include "model/setlistfile.h"
#include "model/slotfigures.h"
#include "platform/audio/disc/discwriter.h"
#include "platform/desktop/cdimagedialog.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/stagesheet.h"
#include "platform/desktop/stagesheetdialogs.h"
#include "platform/storage/setliststorage.h"
#include "platform/storage/settingsfile.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPrinter>

#include <variant>

using namespace Qt::StringLiterals;

namespace {

// Kept beside the folder settings, one value a file, like them.
const QString SlotStoreName = u"slotdata.dat"_s;
const QString PauseStoreName = u"pausedata.dat"_s;

std::optional<int> pauseOf(const QString &text)
{
    bool ok = false;
    const int seconds = text.trimmed().toInt(&ok);
    if (!ok || seconds < 0 || seconds > SlotStatusBar::MaxPauseSeconds)
        return std::nullopt;
    return seconds;
}

} // namespace

MainWindow::~MainWindow() = default;

void MainWindow::createSlotBar()
{
    m_systemSheetDialogs = std::make_unique<SystemStageSheetDialogs>();
    m_sheetDialogs = m_systemSheetDialogs.get();

    m_slotBar = new SlotStatusBar(this);
    setStatusBar(m_slotBar);
    const QString folder = m_form->AppFolder();
    m_slotBar->setSlot(SlotFigures::parseLength(SettingsFile::read(folder + SlotStoreName)));
    m_slotBar->setPauseSeconds(pauseOf(SettingsFile::read(folder + PauseStoreName)).value_or(0));
    showSlotFigures();

    connect(m_form, &Form1::setListChanged, this, &MainWindow::showSlotFigures);
    connect(m_slotBar, &SlotStatusBar::slotEdited, this, [this] {
        rememberSlot();
        // The slot is kept in the set-list file, so changing it changes the set list.
        setModified(true);
    });
}

QString MainWindow::slotAndSheetHelp()
{
    return u"・ステータスバーに曲数と合計時間を表示します。「持ち時間」（hh:mm:ss）と「曲間」（秒）を入れると、"
           u"合計＋（曲数−1）×曲間 と持ち時間を比べた残り時間を、超えたときは「超過」を赤で表示します。"
           u"持ち時間は次回の起動まで覚えており、セットリストのファイルにも保存されます。\n"
           u"・「ファイル」の「印刷…」と「PDF に書き出す…」で、セット名と日付、曲番号・曲名・長さ、合計を"
           u"大きな文字で並べたステージ用のセットリストを作ります（25 曲までは 1 ページ）。\n"
           u"・「ファイル」の「音楽CDを作る…」で、ライブハウスの CD デッキで再生できる音楽CD（CD-DA）を書き込むか、"
           u"ほかのソフトで焼ける CD イメージ（.cue と .bin）を作ります。CD 1 枚に収まるかはステータスバーに出ます。\n"
           u"・左の一覧の曲を右のセットリストへドラッグすると、放した位置に追加されます。\n"
           u"・左の一覧で文字を入力すると、その文字で始まる最初の曲に移動します（かなも使えます）。\n"_s;
}

void MainWindow::addSheetEntries(QMenu *menu)
{
    QAction *print = addEntry(menu, u"印刷…"_s, QKeySequence(u"Ctrl+P"_s));
    print->setObjectName(u"printAction"_s);
    connect(print, &QAction::triggered, this, &MainWindow::printSheet);
    QAction *pdf = addEntry(menu, u"PDF に書き出す…"_s);
    pdf->setObjectName(u"exportPdfAction"_s);
    connect(pdf, &QAction::triggered, this, &MainWindow::exportPdf);
}

void MainWindow::showSlotFigures()
{
    m_slotBar->showFigures(SlotFigures::ofSetList(m_form->MSHFlexGrid2()));
}

void MainWindow::rememberSlot()
{
    // Remembering is a convenience; a failure here is not worth a message box
    // on every keystroke, and the figures on screen stay right.
    const QString folder = m_form->AppFolder();
    const auto slot = m_slotBar->slotSeconds();
    (void)SettingsFile::write(folder + SlotStoreName, slot ? SlotFigures::lengthText(*slot) : QString());
    (void)SettingsFile::write(folder + PauseStoreName, QString::number(m_slotBar->pauseSeconds()));
}

void MainWindow::takeSlotFrom(const SetListFile &file)
{
    // A playlist without a slot (one from another player) keeps the slot in use.
    const auto slot = file.slot ? SlotFigures::parseLength(*file.slot) : std::nullopt;
    if (!slot)
        return;
    m_slotBar->setSlot(slot);
    m_slotBar->setPauseSeconds(file.pause ? pauseOf(*file.pause).value_or(0) : 0);
    rememberSlot();
}

void MainWindow::putSlotInto(SetListFile &file) const
{
    const auto slot = m_slotBar->slotSeconds();
    file.slot = slot ? std::optional(SlotFigures::lengthText(*slot)) : std::nullopt;
    file.pause = slot || m_slotBar->pauseSeconds() > 0 ? std::optional(QString::number(m_slotBar->pauseSeconds()))
                                                        : std::nullopt;
}

std::optional<StageSheet> MainWindow::stageSheet()
{
    QList<StageSheet::Line> lines = StageSheet::linesOf(m_form->MSHFlexGrid2());
    if (lines.isEmpty()) {
        m_services.boxes->inform(this, u"セットリストに曲がセットされていません"_s, u"お知らせ"_s);
        return std::nullopt;
    }
    StageSheet sheet(m_form->setName(), QDate::currentDate(), std::move(lines), m_form->totalText());
    // The 進行表 goes beside the sheet when the set has cues the sheet does not show.
    const QList<SetListEntry> entries = m_form->setListEntries();
    if (CueSheet::hasCues(entries))
        sheet.appendText(cueSheet(entries));
    // After a show, planned against actual goes with the set list, if wanted.
    const QString record = ShowController::latestRecord(m_file);
    if (!record.isEmpty()
        && m_services.boxes->ask(this, u"本番の記録があります。\n%1\nセットリストのあとに、予定と実際の時間を並べた記録も付けますか？"_s
                                           .arg(QDir::toNativeSeparators(record)),
                                 u"確認"_s)) {
        const auto bytes = SetListStorage::read(record);
        if (const auto *text = std::get_if<QByteArray>(&bytes))
            sheet.appendText(QString::fromUtf8(*text));
    }
    return sheet;
}

QString MainWindow::cueSheet(const QList<SetListEntry> &entries) const
{
    const auto slot = m_slotBar->slotSeconds();
    return CueSheet::text(m_form->setName(), entries, qint64(m_slotBar->pauseSeconds()) * 1000,
                          slot ? std::optional(*slot * 1000) : std::nullopt);
}

void MainWindow::writeCueSheet(const ExportPlan &plan)
{
    const QList<SetListEntry> entries = m_form->setListEntries();
    if (!CueSheet::hasCues(entries))
        return;
    // Beside the songs, for the PA; Windows' Notepad reads UTF-8 with CR LF best.
    const QString path = plan.prefix + u"進行表.txt"_s;
    const QByteArray text = cueSheet(entries).replace(u'\n', u"\r\n"_s).toUtf8();
    if (const auto failure = SetListStorage::write(path, text))
        m_services.boxes->inform(this, u"進行表を書き出せませんでした。\n保存先: %1\n理由: %2"_s.arg(path, *failure),
                                 u"お知らせ"_s);
}

void MainWindow::printSheet()
{
    const auto sheet = stageSheet();
    if (!sheet)
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(m_form->setName().isEmpty() ? u"セットリスト"_s : m_form->setName());
    if (!m_sheetDialogs->choosePrinter(this, printer))
        return;
    if (!sheet->paint(printer))
        m_services.boxes->inform(this, u"印刷できませんでした。プリンターの設定を確認してください。"_s, u"お知らせ"_s);
}

void MainWindow::exportPdf()
{
    const auto sheet = stageSheet();
    if (!sheet)
        return;
    const QString folder = m_file.isEmpty() ? QDir::homePath() : QFileInfo(m_file).absolutePath();
    const QString name = m_form->setName().isEmpty() ? u"セットリスト"_s : m_form->setName();
    const QString path = m_sheetDialogs->pdfToSave(this, folder + u'/' + name + u".pdf"_s);
    if (path.isEmpty())
        return;
    if (const auto failure = sheet->writePdf(path)) {
        m_services.boxes->inform(this, u"PDF を書き出せませんでした。\n保存先: %1\n理由: %2"_s.arg(path, *failure),
                                 u"お知らせ"_s);
    }
}
