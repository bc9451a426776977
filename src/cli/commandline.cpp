#include "cli/commandline.h"

#include "cli/setlistsongs.h"
#include "platform/audio/disc/cdimagecheck.h"
#include "platform/audio/disc/cdimagewriter.h"
#include "platform/audio/loudness/loudnessservice.h"
#include "platform/media/lengthcache.h"
#include "platform/media/mediaprobe.h"
#include "model/durations.h"
#include "model/levelmatch.h"
#include "platform/audio/exportshaping.h"
#include "platform/storage/exportcheck.h"
#include "platform/storage/exportjob.h"
#include "platform/storage/foldercreation.h"
#include "platform/storage/stopsignal.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

const QString CdImage = u"--cd-image"_s;
const QString Export = u"--export"_s;
const QString Format = u"--format"_s;
const QString Gap = u"--gap"_s;
const QString MatchLevels = u"--match-levels"_s;
const QStringList Help = { u"--help"_s, u"-h"_s };
const QString Version = u"--version"_s;

// Every way the program starts, for --help and for arguments it cannot read.
QString usage()
{
    return u"使い方:\n"
           u"  korvanda [セットリスト.m3u8]\n"
           u"      ウィンドウを開きます。セットリストを指定すると、それを開いた状態で始まります。\n"
           u"  korvanda --export 出力先フォルダ [--format copy|mp3|wav] [--match-levels] セットリスト.m3u8\n"
           u"      セットリストの曲を番号を付けて「出力先フォルダ/セット名」に出力します。\n"
           u"  korvanda --cd-image 出力.cue [--gap 秒] [--match-levels] セットリスト.m3u8\n"
           u"      セットリストから音楽CDのイメージ（CUE と BIN）を作ります。\n"
           u"  korvanda --help\n"
           u"      この使い方を表示します。\n"
           u"  korvanda --version\n"
           u"      バージョンを表示します。\n"
           u"オプション:\n"
           u"  --format copy|mp3|wav  出力の形式（copy は元のまま、既定）\n"
           u"  --gap 秒               曲と曲の間の無音（0～60 秒、既定 2 秒）\n"
           u"  --match-levels         曲の音量をそろえます"_s;
}

struct Arguments {
    QString cuePath;
    QString exportBase;
    QString setList;
    int gapSeconds = 2;
    std::optional<ExportFormat::Format> format;
    bool matchLevels = false;
};

// Nothing when the arguments do not make one command.
std::optional<Arguments> parse(const QStringList &arguments)
{
    Arguments a;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &word = arguments[i];
        if (word == CdImage && i + 1 < arguments.size() && a.cuePath.isEmpty()) {
            a.cuePath = arguments[++i];
        } else if (word == Export && i + 1 < arguments.size() && a.exportBase.isEmpty()) {
            a.exportBase = arguments[++i];
        } else if (word == Format && i + 1 < arguments.size() && !a.format) {
            a.format = ExportFormat::parse(arguments[++i]);
            if (!a.format)
                return std::nullopt;
        } else if (word == Gap && i + 1 < arguments.size()) {
            bool ok = false;
            a.gapSeconds = arguments[++i].toInt(&ok);
            if (!ok || a.gapSeconds < 0 || a.gapSeconds > 60)
                return std::nullopt;
        } else if (word == MatchLevels) {
            a.matchLevels = true;
        } else if (!word.startsWith(u"--"_s) && a.setList.isEmpty()) {
            a.setList = word;
        } else {
            return std::nullopt;
        }
    }
    // One command at a time, and only the options that belong to it.
    if (a.cuePath.isEmpty() == a.exportBase.isEmpty() || a.setList.isEmpty())
        return std::nullopt;
    if ((a.format && a.exportBase.isEmpty()) || (arguments.contains(Gap) && a.cuePath.isEmpty()))
        return std::nullopt;
    return a;
}

// The level plan of the songs, its target and the songs that may not reach it told.
LevelMatch::Plan matchLevels(const QStringList &paths, const QStringList &titles,
                                            QList<std::optional<Loudness>> *loudness, QTextStream &out)
{
    *loudness = LoudnessService::measureAll(paths, LengthCache::defaultRoot(), nullptr, StopSignal::flag());
    if (StopSignal::raised())
        return {};
    const LevelMatch::Plan plan = LevelMatch::plan(*loudness);
    if (plan.targetLufs)
        out << u"音量をそろえます: 目標 %1 LUFS"_s.arg(LevelMatch::lufsText(*plan.targetLufs)) << Qt::endl;
    for (qsizetype i = 0; i < plan.songs.size(); ++i)
        if (plan.songs[i].peakLimited)
            out << u"「%1」は音が割れないように %2 dB までしか上げられません"_s.arg(titles.value(i), LevelMatch::lufsText(plan.songs[i].gainDb))
                << Qt::endl;
    return plan;
}

// The status of a run ended by a signal, as a shell reports a process the
// signal ended: 128 and its number.
int stopped(QTextStream &err, const QString &what)
{
    err << u"中止しました。"_s << what << Qt::endl;
    return 128 + StopSignal::raised();
}

int exportSet(const Arguments &a, const SetListSongs &set, QTextStream &out, QTextStream &err)
{
    QList<SetListRow> rows;
    QStringList paths, titles;
    for (qsizetype i = 0; i < set.songs.size(); ++i) {
        // Numbered as the set list numbers its rows: at least two digits.
        const SongEdits &edits = set.songs[i].edits;
        const QString editedLength
            = edits.isEmpty() ? QString()
                              : FormatLength(double(edits.editedMs(MediaProbe::lengthMs(set.songs[i].path).value_or(0))));
        rows.append({ int(i) + 1, QString::number(i + 1).rightJustified(2, u'0'), QDir::toNativeSeparators(set.songs[i].path),
                      edits, editedLength });
        paths.append(set.songs[i].path);
        titles.append(set.songs[i].title);
    }
    const QString base = QDir::toNativeSeparators(QFileInfo(a.exportBase).absoluteFilePath());
    ExportPlan plan = planExport(rows, base, set.name);
    QList<std::optional<Loudness>> loudness;
    std::optional<LevelMatch::Plan> levels;
    if (a.matchLevels)
        levels = matchLevels(paths, titles, &loudness, out);
    if (StopSignal::raised())
        return stopped(err, u"何も出力していません。"_s);
    ExportShaping::shape(plan, a.format.value_or(ExportFormat::Format::Original), levels, loudness);

    if (const QStringList problems = ExportCheck::problems(plan); !problems.isEmpty()) {
        err << ExportCheck::message(problems) << Qt::endl;
        return 1;
    }
    const FolderCreation::Result created = FolderCreation::createExportFolder(base, plan.folder);
    if (created.outcome == FolderCreation::Outcome::Failed) {
        err << u"フォルダを作成できませんでした。"_s << Qt::endl;
        return 1;
    }
    if (created.outcome == FolderCreation::Outcome::AlreadyExists)
        out << u"フォルダ存在しています。同じ名前のファイルは置き換え、ほかのファイルは残します: %1"_s.arg(plan.folder) << Qt::endl;

    ExportJob job(plan);
    ExportResult result;
    QEventLoop loop;
    QObject::connect(&job, &ExportJob::finished, &loop, [&](const ExportResult &r) {
        result = r;
        loop.quit();
    });
    // A signal stops the copy at once: the song being written is removed, the
    // songs already there stay, each whole.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &job, [&job] {
        if (StopSignal::raised())
            job.abort();
    });
    watch.start(50);
    job.start();
    loop.exec();
    if (result.outcome != ExportResult::Outcome::Completed && StopSignal::raised())
        return stopped(err, u"出力済みの %1 曲は %2 に残し、書きかけの曲は消しました。"_s.arg(result.exported).arg(plan.folder));
    if (result.outcome != ExportResult::Outcome::Completed) {
        if (result.failedIndex >= 0)
            err << u"「%1」を出力できませんでした。\n理由: %2\n出力はこの曲で止まりました（出力済み %3 曲）。"_s
                       .arg(plan.items.at(result.failedIndex).exportName, result.reason)
                       .arg(result.exported)
                << Qt::endl;
        else
            err << u"出力先への書き込みを完了できませんでした。\n理由: %1"_s.arg(result.reason) << Qt::endl;
        return 1;
    }
    // The set list text, ready to paste into a chat, then the window's own words.
    out << plan.text().replace(u"\r\n"_s, u"\n"_s);
    out << u"出力完了: %1（%2 曲）"_s.arg(plan.folder).arg(result.exported) << Qt::endl;
    return 0;
}

} // namespace

bool CommandLine::isCommand(const QStringList &arguments)
{
    return arguments.contains(CdImage) || arguments.contains(Export) || arguments.contains(Version)
        || std::any_of(Help.cbegin(), Help.cend(), [&](const QString &h) { return arguments.contains(h); });
}

int CommandLine::run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    // Asked for help, the answer is the usage whatever else was typed; it goes to the
    // output, not the error stream, so that it can be paged or saved.
    if (std::any_of(Help.cbegin(), Help.cend(), [&](const QString &h) { return arguments.contains(h); })) {
        out << usage() << Qt::endl;
        return 0;
    }
    if (arguments.contains(Version)) {
        out << u"korvanda " KORVANDA_VERSION ""_s << Qt::endl;
        return 0;
    }
    StopSignal::clear();
    const std::optional<Arguments> a = parse(arguments);
    if (!a) {
        err << usage() << Qt::endl;
        return 2;
    }
    const SetListSongs set = SetListSongs::read(a->setList);
    if (!set.failure.isEmpty()) {
        err << set.failure << Qt::endl;
        return 1;
    }
    for (const QString &note : set.notes)
        out << note << Qt::endl;
    if (!a->exportBase.isEmpty())
        return exportSet(*a, set, out, err);
    const QString cuePath = QFileInfo(a->cuePath).absoluteFilePath();
    const CdImageCheck::Report report = CdImageCheck::check(set.songs, set.name, a->gapSeconds, cuePath);
    if (!report.problems.isEmpty()) {
        err << CdImageCheck::message(report) << Qt::endl;
        return 1;
    }
    for (const QString &note : report.notes)
        out << note << Qt::endl;

    CdImageWriter::Request request;
    for (const CdImageCheck::Song &song : set.songs) {
        request.paths.append(song.path);
        request.edits.append(song.edits);
    }
    if (a->matchLevels) {
        QStringList titles;
        for (const CdImageCheck::Song &song : set.songs)
            titles.append(song.title);
        QList<std::optional<Loudness>> loudness;
        const LevelMatch::Plan plan = matchLevels(request.paths, titles, &loudness, out);
        if (StopSignal::raised())
            return stopped(err, u"イメージは作っていません。"_s);
        for (const LevelMatch::Song &song : plan.songs)
            request.gains.append(float(std::pow(10.0, song.gainDb / 20.0)));
    }
    request.text = report.text;
    request.gapSeconds = a->gapSeconds;
    request.cuePath = cuePath;
    request.expectedBytes = report.layout.imageBytes();
    const CdImageWriter::Result result = CdImageWriter::write(request, {}, [] { return StopSignal::raised() != 0; });
    if (result.outcome == CdImageWriter::Result::Outcome::Cancelled)
        return stopped(err, u"イメージは作っていません。"_s);
    if (result.outcome != CdImageWriter::Result::Outcome::Written) {
        const QString song = result.failedSong >= 0 ? set.songs[result.failedSong].title : QString();
        err << (song.isEmpty() ? u"音楽CDのイメージを書けませんでした: %1"_s.arg(result.reason)
                               : u"「%1」を書き込めませんでした: %2"_s.arg(song, result.reason))
            << Qt::endl;
        return 1;
    }
    out << u"音楽CDのイメージを書きました: %1（%2 曲、%3）"_s.arg(cuePath)
               .arg(result.layout.tracks.size())
               .arg(CdLayout::minutesText(CdLayout::wholeSeconds(result.layout.discSectors())))
        << Qt::endl;
    return 0;
}
