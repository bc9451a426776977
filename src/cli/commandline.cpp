#include "cli/commandline.h"

#include "cli/setlistsongs.h"
#include "platform/audio/cdimagecheck.h"
#include "platform/audio/cdimagewriter.h"
#include "platform/audio/loudnessservice.h"
#include "platform/media/lengthcache.h"
#include "model/levelmatch.h"

#include <QFileInfo>
#include <QTextStream>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

const QString CdImage = u"--cd-image"_s;
const QString Gap = u"--gap"_s;
const QString MatchLevels = u"--match-levels"_s;

struct Arguments {
    QString cuePath;
    QString setList;
    int gapSeconds = 2;
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
    if (a.cuePath.isEmpty() || a.setList.isEmpty())
        return std::nullopt;
    return a;
}

} // namespace

bool CommandLine::isCommand(const QStringList &arguments)
{
    return arguments.contains(CdImage);
}

int CommandLine::run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const std::optional<Arguments> a = parse(arguments);
    if (!a) {
        err << u"使い方: korvanda --cd-image 出力.cue [--gap 秒] [--match-levels] セットリスト.m3u8"_s << Qt::endl;
        return 2;
    }
    const SetListSongs set = SetListSongs::read(a->setList);
    if (!set.failure.isEmpty()) {
        err << set.failure << Qt::endl;
        return 1;
    }
    const QString cuePath = QFileInfo(a->cuePath).absoluteFilePath();
    const CdImageCheck::Report report = CdImageCheck::check(set.songs, set.name, a->gapSeconds, cuePath);
    if (!report.problems.isEmpty()) {
        err << CdImageCheck::message(report) << Qt::endl;
        return 1;
    }
    for (const QString &note : report.notes)
        out << note << Qt::endl;

    CdImageWriter::Request request;
    for (const CdImageCheck::Song &song : set.songs)
        request.paths.append(song.path);
    if (a->matchLevels) {
        const LevelMatch::Plan plan = LevelMatch::plan(LoudnessService::measureAll(request.paths, LengthCache::defaultRoot()));
        if (plan.targetLufs)
            out << u"音量をそろえます: 目標 %1 LUFS"_s.arg(LevelMatch::lufsText(*plan.targetLufs)) << Qt::endl;
        for (qsizetype i = 0; i < plan.songs.size(); ++i) {
            request.gains.append(float(std::pow(10.0, plan.songs[i].gainDb / 20.0)));
            if (plan.songs[i].peakLimited)
                out << u"「%1」は音が割れないように %2 dB までしか上げられません"_s.arg(set.songs[i].title, LevelMatch::lufsText(plan.songs[i].gainDb))
                    << Qt::endl;
        }
    }
    request.text = report.text;
    request.gapSeconds = a->gapSeconds;
    request.cuePath = cuePath;
    request.expectedBytes = report.layout.imageBytes();
    const CdImageWriter::Result result = CdImageWriter::write(request, {}, {});
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
