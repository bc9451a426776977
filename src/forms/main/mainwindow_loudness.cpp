// The set's loudness: each song measured in the background as it enters the
// set list, shown beside its name with a marker where the level jumps, the
// set's spread in the status bar, and the option that brings the songs of an
// audio CD to one level.
#include "forms/main/mainwindow.h"

#include "forms/inputblocker.h"
#include "forms/loudnesscelldelegate.h"
#include "forms/songgrid.h"
#include "model/levelmatch.h"
#include "model/songtable.h"
#include "platform/audio/loudness/loudnessservice.h"
#include "platform/desktop/messageboxes.h"
#include "platform/media/lengthcache.h"
#include "platform/storage/settingsfile.h"

#include <QAction>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QProgressDialog>
#include <QStatusBar>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

const QString MatchStoreName = u"leveldata.dat"_s;
constexpr int MaxNamedLimitedSongs = 8;

QString signedDb(double db) { return (db >= 0 ? u"+"_s : QString()) + LevelMatch::lufsText(db); }

} // namespace

void MainWindow::createLoudness(QMenu *options)
{
    m_loudness = new LoudnessService(LengthCache::defaultRoot(), this);
    m_loudnessDelegate = new LoudnessCellDelegate(this);
    if (auto *grid = m_form->findChild<SongGrid *>(u"MSHFlexGrid2"_s))
        grid->setItemDelegateForColumn(1, m_loudnessDelegate);

    m_matchAction = addEntry(options, u"音量をそろえる"_s);
    m_matchAction->setObjectName(u"matchLevelsAction"_s);
    m_matchAction->setCheckable(true);
    const QString store = m_form->AppFolder() + MatchStoreName;
    m_matchAction->setChecked(SettingsFile::read(store) == u"1"_s);
    // A choice that cannot be kept still holds for this run.
    connect(m_matchAction, &QAction::toggled, this, [this, store](bool on) {
        (void)SettingsFile::write(store, on ? u"1"_s : u"0"_s);
        showLoudness();
    });

    m_loudnessLabel = new QLabel(this);
    m_loudnessLabel->setObjectName(u"loudnessLabel"_s);
    statusBar()->addPermanentWidget(m_loudnessLabel);
    connect(m_form, &Form1::setListChanged, this, &MainWindow::measureSetList);
    connect(m_loudness, &LoudnessService::measured, this, &MainWindow::showLoudness);
    measureSetList();
}

void MainWindow::measureSetList()
{
    QStringList paths;
    for (const SetListEntry &entry : m_form->setListEntries())
        paths.append(entry.path);
    m_loudness->request(paths);
    showLoudness();
}

void MainWindow::showLoudness()
{
    const SongTable &list = m_form->MSHFlexGrid2();
    QStringList paths;
    QList<std::optional<Loudness>> levels;
    int measuring = 0;
    for (int r = 1; r < list.Rows(); ++r) {
        paths.append(list.textAt(r, 2));
        const LoudnessService::Result result = m_loudness->result(paths.last());
        measuring += result.state == LoudnessService::State::Measuring;
        levels.append(result.loudness);
    }
    const QList<int> jumps = LevelMatch::jumps(levels);
    QList<LoudnessCellDelegate::Mark> marks;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        LoudnessCellDelegate::Mark mark{ paths[i], {}, jumps[i] };
        const LoudnessService::State state = m_loudness->result(paths[i]).state;
        if (paths[i].isEmpty())
            mark.text.clear();
        else if (state == LoudnessService::State::Measuring)
            mark.text = u"測定中"_s;
        else if (levels[i])
            mark.text = levels[i]->isSilent() ? u"無音"_s : LevelMatch::lufsText(levels[i]->lufs);
        marks.append(mark);
    }
    m_loudnessDelegate->setMarks(marks);
    if (auto *grid = m_form->findChild<SongGrid *>(u"MSHFlexGrid2"_s))
        grid->viewport()->update();

    QString text;
    if (const auto spread = LevelMatch::spread(levels)) {
        text = u"音量 %1〜%2 LUFS（差 %3 LU）"_s.arg(LevelMatch::lufsText(spread->quietest), LevelMatch::lufsText(spread->loudest),
                                                LevelMatch::lufsText(spread->loudest - spread->quietest));
        if (m_matchAction->isChecked())
            text += u"　そろえる目標 %1 LUFS"_s.arg(LevelMatch::lufsText(*LevelMatch::target(levels)));
    }
    if (measuring > 0)
        text += (text.isEmpty() ? QString() : u"　"_s) + u"音量を測っています（あと %1 曲）"_s.arg(measuring);
    m_loudnessLabel->setText(text);
}

std::optional<QList<float>> MainWindow::matchedGains(const QStringList &paths, const QStringList &titles, QProgressDialog *progress)
{
    if (!m_matchAction->isChecked())
        return QList<float>{};
    const std::optional<MatchedLevels> matched = matchedLevels(paths, titles, progress);
    if (!matched)
        return std::nullopt;
    QList<float> gains;
    for (const LevelMatch::Song &song : matched->plan.songs)
        gains.append(float(std::pow(10.0, song.gainDb / 20.0)));
    return gains;
}

std::optional<QHash<QString, float>> MainWindow::showGains(const QStringList &paths)
{
    if (!m_matchAction->isChecked())
        return QHash<QString, float>{};
    QProgressDialog progress(this);
    progress.setWindowTitle(u"本番モード"_s);
    progress.setCancelButtonText(u"中止"_s);
    progress.setMinimumDuration(300);
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    const std::optional<QList<std::optional<Loudness>>> levels = measuredLevels(paths, &progress);
    if (!levels)
        return std::nullopt;
    // The same plan the export and the CD follow, so the show sounds as the
    // copy the PA holds; a song that cannot reach the target is lifted as far
    // as its peak allows, as there.
    const LevelMatch::Plan plan = LevelMatch::plan(*levels);
    QHash<QString, float> gains;
    for (qsizetype i = 0; i < paths.size() && i < plan.songs.size(); ++i)
        gains.insert(paths[i], float(std::pow(10.0, plan.songs[i].gainDb / 20.0)));
    return gains;
}

std::optional<QList<std::optional<Loudness>>> MainWindow::measuredLevels(const QStringList &paths, QProgressDialog *progress)
{
    // The background service measures each file once: a song it is measuring
    // already is waited for, never measured a second time beside it. What it
    // measured is used while the file is the one it measured; asking again
    // measures anew a song rendered again since.
    const auto left = [&] {
        m_loudness->request(paths);
        qsizetype count = 0;
        for (const QString &path : paths) {
            const LoudnessService::State state = m_loudness->currentResult(path).state;
            count += state != LoudnessService::State::Measured && state != LoudnessService::State::Failed;
        }
        return count;
    };
    qsizetype count = left();
    if (count > 0) {
        const qsizetype total = count;
        QEventLoop loop;
        // The dialog's figures may let a result in (a modal dialog handles
        // events as it takes them), so the count is taken afresh each time.
        const auto show = [&] {
            progress->setLabelText(u"音量を測っています（あと %1 曲）"_s.arg(count));
            progress->setValue(int(progress->maximum() * (total - count) / total));
        };
        connect(m_loudness, &LoudnessService::measured, &loop, [&] {
            count = left();
            if (count == 0)
                loop.quit();
            else
                show();
        });
        connect(progress, &QProgressDialog::canceled, &loop, &QEventLoop::quit);
        const InputBlocker blocker(this);
        show();
        if (count > 0 && !progress->wasCanceled())
            loop.exec();
    }
    // Cancelled, or the program is ending (which ends every loop waiting).
    if (count > 0 || progress->wasCanceled())
        return std::nullopt;
    QList<std::optional<Loudness>> levels;
    for (const QString &path : paths)
        levels.append(m_loudness->currentResult(path).loudness);
    return levels;
}

std::optional<MainWindow::MatchedLevels> MainWindow::matchedLevels(const QStringList &paths, const QStringList &titles,
                                                                  QProgressDialog *progress)
{
    const std::optional<QList<std::optional<Loudness>>> levels = measuredLevels(paths, progress);
    if (!levels)
        return std::nullopt;

    const LevelMatch::Plan plan = LevelMatch::plan(*levels);
    QStringList limited;
    int more = 0;
    for (qsizetype i = 0; i < plan.songs.size(); ++i) {
        if (!plan.songs[i].peakLimited)
            continue;
        if (limited.size() < MaxNamedLimitedSongs)
            limited.append(u"・%1（%2 dB まで）"_s.arg(titles.value(i), signedDb(plan.songs[i].gainDb)));
        else
            ++more;
    }
    if (more > 0)
        limited.append(u"ほか %1 曲"_s.arg(more));
    if (!limited.isEmpty()
        && !m_services.boxes->ask(this,
                                  u"次の曲は、音が割れないように目標の音量（%1 LUFS）まで上げられません。\n"
                                  u"上げられるところまで上げます。\n%2\n\nこのまま作りますか？"_s
                                      .arg(LevelMatch::lufsText(*plan.targetLufs), limited.join(u'\n')),
                                  u"確認"_s))
        return std::nullopt;
    return MatchedLevels{ plan, *levels };
}
