// The audio CD: the set as a disc the venue's CD deck plays, burned on an
// attached drive or written as an image that any burning program burns.
#include "forms/main/mainwindow.h"

#include "forms/main/awaited.h"
#include "model/cdlayout.h"
#include "platform/audio/disc/cdimagecheck.h"
#include "platform/audio/disc/cdimagewriter.h"
#include "platform/audio/disc/discwriter.h"
#include "platform/audio/loudness/loudnessservice.h"
#include "platform/desktop/cdimagedialog.h"
#include "platform/desktop/messageboxes.h"
#include "platform/storage/settingsfile.h"
#include "platform/storage/stopsignal.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QLabel>
#include <QMenu>
#include <QProgressDialog>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>

using namespace Qt::StringLiterals;

namespace {

const QString CdTitle = u"音楽CDを作る"_s;
const QString CdNotice = u"お知らせ"_s;
const QString GapStoreName = u"cdgapdata.dat"_s;
const QString TestStoreName = u"cdtestdata.dat"_s;
constexpr int CdProgressSteps = 1000;

std::unique_ptr<QProgressDialog> progressDialog(QWidget *owner, const QString &label, std::atomic_bool *cancel)
{
    auto dialog = std::make_unique<QProgressDialog>(owner);
    dialog->setWindowTitle(CdTitle);
    dialog->setLabelText(label);
    dialog->setCancelButtonText(u"中止"_s);
    dialog->setRange(0, CdProgressSteps);
    dialog->setMinimumDuration(300);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    QObject::connect(dialog.get(), &QProgressDialog::canceled, dialog.get(), [cancel] { *cancel = true; });
    return dialog;
}

// Hands a worker's figures to the dialog on the UI thread; dropped once the
// dialog is gone.
void showProgress(QProgressDialog *dialog, double fraction, const QString &label = {})
{
    QMetaObject::invokeMethod(
        dialog,
        [dialog, fraction, label] {
            if (!label.isEmpty())
                dialog->setLabelText(label);
            dialog->setValue(int(qBound(0.0, fraction, 1.0) * CdProgressSteps));
        },
        Qt::QueuedConnection);
}

} // namespace

void MainWindow::addCdEntries(QMenu *menu)
{
    // Where the system burns no disc, the entry says what it makes: the image.
    const bool burns = DiscWriter::systemBurnsDiscs();
    m_cdAction = addEntry(menu, burns ? u"音楽CDを作る…"_s : u"音楽CDのイメージを作る…"_s, QKeySequence(u"Ctrl+Shift+B"_s));
    m_cdAction->setObjectName(u"audioCdAction"_s);
    connect(m_cdAction, &QAction::triggered, this, &MainWindow::makeAudioCd);

    QMenu *options = menu->addMenu(u"音楽CDの設定"_s);
    options->setObjectName(u"audioCdMenu"_s);
    auto *gaps = new QActionGroup(this);
    QAction *gap2 = addEntry(options, u"曲間 2 秒"_s);
    m_cdNoGapAction = addEntry(options, u"曲間なし（続けて再生）"_s);
    m_cdNoGapAction->setObjectName(u"audioCdNoGapAction"_s);
    for (QAction *gap : { gap2, m_cdNoGapAction }) {
        gap->setCheckable(true);
        gaps->addAction(gap);
    }
    options->addSeparator();
    m_cdTestAction = addEntry(options, u"書き込む前にテスト書き込みをする"_s);
    m_cdTestAction->setObjectName(u"audioCdTestAction"_s);
    m_cdTestAction->setCheckable(true);
    m_cdTestAction->setVisible(burns);
    options->addSeparator();
    createLoudness(options);

    const QString folder = m_form->AppFolder();
    const bool noGap = SettingsFile::read(folder + GapStoreName) == u"0"_s;
    (noGap ? m_cdNoGapAction : gap2)->setChecked(true);
    m_cdTestAction->setChecked(SettingsFile::read(folder + TestStoreName) == u"1"_s);
    // A choice that cannot be kept still holds for this run; it is no reason to interrupt.
    connect(gaps, &QActionGroup::triggered, this, [this, folder] {
        (void)SettingsFile::write(folder + GapStoreName, QString::number(cdGapSeconds()));
        showCdFit();
    });
    connect(m_cdTestAction, &QAction::toggled, this, [folder](bool on) {
        (void)SettingsFile::write(folder + TestStoreName, on ? u"1"_s : u"0"_s);
    });

    m_cdFit = new QLabel(this);
    m_cdFit->setObjectName(u"cdFitLabel"_s);
    statusBar()->addPermanentWidget(m_cdFit);
    connect(m_form, &Form1::setListChanged, this, &MainWindow::showCdFit);
    showCdFit();
}

int MainWindow::cdGapSeconds() const
{
    return m_cdNoGapAction && m_cdNoGapAction->isChecked() ? 0 : 2;
}

DiscWriter &MainWindow::discWriter()
{
    // libburn starts only when a CD is wanted, never with the window.
    if (!m_discWriter) {
        m_systemDiscWriter = DiscWriter::system();
        m_discWriter = m_systemDiscWriter.get();
    }
    return *m_discWriter;
}

void MainWindow::showCdFit()
{
    // The lengths the set list shows are whole seconds: near enough to say
    // whether the set fits while it is built; the exact check comes before writing.
    QList<qint64> frames;
    for (const SetListEntry &entry : m_form->setListEntries())
        frames.append(entry.seconds.value_or(0) * CdLayout::SampleRate);
    m_cdFit->setText(frames.isEmpty() ? QString() : CdImageCheck::fitText(CdLayout::plan(frames, cdGapSeconds())));
}

void MainWindow::makeAudioCd()
{
    QList<CdImageCheck::Song> songs;
    for (const SetListEntry &entry : m_form->setListEntries())
        songs.append({ entry.path, entry.title, entry.extras.edits });
    if (songs.isEmpty()) {
        m_services.boxes->inform(this, u"セットリストに曲がセットされていません"_s, CdNotice);
        return;
    }
    const std::optional<DiscWriter::Drive> drive = awaited(this, [this] { return discWriter().findDrive(); });
    const QString imageOffer = u"かわりに音楽CDのイメージ（.cue と .bin）を作りますか？\n"
                               u"ほかの書き込みソフトで、そのまま CD-R に焼けます。"_s;
    bool burn = false;
    if (!drive) {
        // A system that burns no disc makes the image it offered in its menu, without asking.
        if (DiscWriter::systemBurnsDiscs()
            && !m_services.boxes->ask(this, u"CD を書き込めるドライブが見つかりません。\n"_s + imageOffer, CdNotice))
            return;
    } else if (!drive->blankDisc) {
        if (!m_services.boxes->ask(this, u"ドライブ「%1」に空の CD-R が入っていません。\n"_s.arg(drive->name) + imageOffer,
                                   CdNotice))
            return;
    } else {
        switch (m_services.boxes->askYesNoCancel(
            this, u"ドライブ「%1」の CD-R に音楽CDを書き込みますか？\n「いいえ」を選ぶと、かわりにイメージ（.cue と .bin）を作ります。"_s.arg(drive->name),
            u"確認"_s)) {
        case MessageBoxes::Answer::Yes:
            burn = true;
            break;
        case MessageBoxes::Answer::No:
            break;
        case MessageBoxes::Answer::Cancel:
            return;
        }
    }

    const QString setName = m_form->setName().isEmpty() ? u"セットリスト"_s : m_form->setName();
    QString cuePath;
    std::unique_ptr<QTemporaryDir> scratch;
    if (burn) {
        scratch = std::make_unique<QTemporaryDir>();
        if (!scratch->isValid()) {
            m_services.boxes->inform(this, u"作業用のフォルダを作れません"_s, CdNotice);
            return;
        }
        cuePath = scratch->filePath(u"korvanda.cue"_s);
    } else {
        const QString base = QFileInfo(m_form->outputFolder()).isDir() ? m_form->outputFolder() : QDir::homePath();
        cuePath = m_cdDialog->cueToSave(this, QDir(base).filePath(setName + u".cue"_s));
        if (cuePath.isEmpty())
            return;
    }

    const int gap = cdGapSeconds();
    const qint64 capacity = burn && drive->capacitySectors > 0 ? drive->capacitySectors : CdLayout::Disc80Sectors;
    const CdImageCheck::Report report = awaited(this, [&] {
        return CdImageCheck::check(songs, m_form->setName(), gap, cuePath, capacity);
    });
    if (!report.problems.isEmpty()) {
        m_services.boxes->inform(this, CdImageCheck::message(report), CdNotice);
        return;
    }

    CdImageWriter::Request request;
    QStringList titles;
    for (const CdImageCheck::Song &song : songs) {
        request.paths.append(song.path);
        request.edits.append(song.edits);
        titles.append(song.title);
    }
    // One dialog and one cancel from the songs' levels to the burn; nothing is
    // written until the levels are known.
    std::atomic_bool cancel{ false };
    std::unique_ptr<QProgressDialog> progress = progressDialog(this, u"音楽CDのイメージを作っています"_s, &cancel);
    QProgressDialog *dialog = progress.get();
    const std::optional<QList<float>> gains = matchedGains(request.paths, titles, dialog);
    if (!gains) {
        progress.reset();
        if (cancel)
            m_services.boxes->inform(this, u"音楽CDの作成を中止しました。ファイルは残していません。"_s, CdNotice);
        return;
    }
    dialog->setLabelText(u"音楽CDのイメージを作っています"_s);
    dialog->setValue(0);
    request.gains = *gains;
    request.text = report.text;
    request.gapSeconds = gap;
    request.cuePath = cuePath;
    request.capacitySectors = capacity;
    request.expectedBytes = report.layout.imageBytes();

    // The system asking the program to end stops the image and the burn as the
    // cancel does; the window's own loop is ended meanwhile, but the wait for
    // the image would otherwise last until it is whole.
    const auto stopped = [&] { return cancel.load() || StopSignal::raised() != 0; };
    const qsizetype count = songs.size();
    const CdImageWriter::Result written = awaited(this, [&] {
        int shown = -1;
        return CdImageWriter::write(
            request,
            [&](int song, qint64 bytes, qint64 total) {
                const QString label = song == shown ? QString()
                                                    : u"%1 / %2 曲目を書いています\n%3"_s.arg(song + 1).arg(count).arg(songs[song].title);
                shown = song;
                showProgress(dialog, burn ? 0.3 * double(bytes) / double(total) : double(bytes) / double(total), label);
            },
            stopped);
    });
    const QString notes = report.notes.isEmpty() ? QString() : u"\n\n"_s + report.notes.join(u'\n');

    if (written.outcome == CdImageWriter::Result::Outcome::Cancelled) {
        progress.reset();
        m_services.boxes->inform(this, u"音楽CDの作成を中止しました。ファイルは残していません。"_s, CdNotice);
        return;
    }
    if (written.outcome == CdImageWriter::Result::Outcome::Failed) {
        progress.reset();
        const QString what = written.failedSong >= 0 ? u"「%1」を書けませんでした。"_s.arg(songs[written.failedSong].title)
                                                     : u"音楽CDのイメージを書けませんでした。"_s;
        m_services.boxes->inform(this, what + u"\n理由: "_s + written.reason + u"\nファイルは残していません。"_s, CdNotice);
        return;
    }
    const QString figures = u"%1 曲、%2（CD の残り %3）"_s.arg(written.layout.tracks.size())
                                .arg(CdLayout::minutesText(CdLayout::wholeSeconds(written.layout.discSectors())))
                                .arg(CdLayout::minutesText(CdLayout::wholeSeconds(qMax<qint64>(0, written.layout.sectorsLeft(capacity)))));
    if (!burn) {
        progress.reset();
        m_services.boxes->inform(this,
                                 u"音楽CDのイメージを作りました。\n%1\n%2\n\n書き込みソフトでこの .cue を開き、"
                                 u"CD-R に「ディスクアットワンス（DAO）」で書き込んでください。"_s.arg(QDir::toNativeSeparators(cuePath), figures)
                                     + notes,
                                 u"完了"_s);
        return;
    }

    const bool testFirst = m_cdTestAction->isChecked() && drive->canTestWrite;
    dialog->setLabelText(testFirst ? u"テスト書き込みのあと、CD に書き込みます"_s : u"CD に書き込んでいます"_s);
    const DiscWriter::Outcome burned = awaited(this, [&] {
        return discWriter().burn(
            CdImageWriter::binPathFor(cuePath), written.layout, request.text, testFirst,
            [&](double fraction) { showProgress(dialog, 0.3 + 0.7 * fraction); }, stopped);
    });
    progress.reset();
    if (!burned.ok) {
        m_services.boxes->inform(this, u"CD に書き込めませんでした。\n理由: %1"_s.arg(burned.reason), CdNotice);
        return;
    }
    m_services.boxes->inform(this, u"音楽CDを書き込みました。\n%1\nディスクを取り出しました。"_s.arg(figures) + notes, u"完了"_s);
}
