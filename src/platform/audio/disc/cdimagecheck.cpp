#include "platform/audio/disc/cdimagecheck.h"

#include "platform/audio/audiodecoder.h"
#include "platform/audio/disc/cdimagewriter.h"
#include "platform/audio/edits/offlinestretch.h"
#include "platform/media/mediaprobe.h"
#include "platform/storage/exportcheck.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QtConcurrent/QtConcurrentMap>

using namespace Qt::StringLiterals;

namespace {

struct Probed {
    double ms = 0;
    QString artist;
    QString failure;
};

Probed probe(const QString &path)
{
    Probed p;
    std::unique_ptr<AudioDecoder> decoder = AudioDecoder::open(path, AudioDecoder::Output{ int(CdLayout::SampleRate), true },
                                                               &p.failure);
    if (!decoder)
        return p;
    p.artist = decoder->artist();
    const double stated = decoder->statedLengthMs();
    if (!decoder->tryFirstSecond(&p.failure))
        return p;
    // The probe's length is exact where the container's is an estimate.
    p.ms = MediaProbe::lengthMs(path).value_or(stated);
    if (p.ms <= 0)
        p.failure = u"長さがわかりません"_s;
    return p;
}

} // namespace

CdImageCheck::Report CdImageCheck::check(const QList<Song> &songs, const QString &setName, int gapSeconds,
                                         const QString &cuePath, qint64 capacitySectors)
{
    Report report;
    report.text.title = setName;
    if (songs.isEmpty()) {
        report.problems.append(u"セットリストに曲がありません"_s);
        return report;
    }
    if (songs.size() > CdLayout::MaxTracks)
        report.problems.append(u"音楽CDに入るのは %1 曲までです（このセットは %2 曲）"_s.arg(CdLayout::MaxTracks).arg(songs.size()));

    QStringList paths;
    for (const Song &song : songs)
        paths.append(song.path);
    const QList<Probed> probed = QtConcurrent::blockingMapped(paths, probe);

    QList<qint64> frames;
    QStringList artists;
    for (qsizetype i = 0; i < songs.size(); ++i) {
        const QString name = u"%1 %2"_s.arg(i + 1, 2, 10, QLatin1Char('0')).arg(songs[i].title);
        if (!probed[i].failure.isEmpty())
            report.problems.append(u"「%1」を音声として読めません: %2"_s.arg(name, probed[i].failure));
        else if (songs[i].edits.stretches() && !OfflineStretch::available())
            report.problems.append(u"「%1」: %2"_s.arg(name, OfflineStretch::unavailableReason()));
        const qint64 songFrames = CdLayout::framesOfMs(probed[i].ms);
        // An edited song takes the disc time its edits leave it.
        frames.append(songs[i].edits.isEmpty() ? songFrames
                                               : EditPlan(songs[i].edits, songFrames, int(CdLayout::SampleRate)).outputFrames());
        report.text.trackTitles.append(songs[i].title);
        artists.append(probed[i].artist);
    }
    report.text.trackPerformers = artists;
    // A disc by one artist says so; a mixed set names none for the disc.
    if (artists.count(artists.first()) == artists.size())
        report.text.performer = artists.first();

    report.layout = CdLayout::plan(frames, gapSeconds);
    for (qsizetype i = 0; i < report.layout.tracks.size(); ++i)
        if (report.layout.tracks[i].padded && probed[i].failure.isEmpty())
            report.notes.append(u"「%1」は 4 秒より短いため、4 秒になるまで無音を足します"_s.arg(songs[i].title));

    const qint64 left = report.layout.sectorsLeft(capacitySectors);
    if (left < 0)
        report.problems.append(u"CD に収まりません: 曲間を含めて %1 で、CD（%2）より %3 長くなります"_s.arg(
            CdLayout::minutesText(CdLayout::wholeSeconds(report.layout.discSectors() + CdLayout::SectorsPerSecond - 1)),
            CdLayout::minutesText(CdLayout::wholeSeconds(capacitySectors)),
            CdLayout::minutesText(CdLayout::wholeSeconds(-left + CdLayout::SectorsPerSecond - 1))));

    if (!cuePath.isEmpty()) {
        const QFileInfo cue(cuePath);
        const QString folder = cue.absolutePath();
        if (!QFileInfo(folder).isDir()) {
            report.problems.append(u"イメージを書くフォルダ「%1」がありません"_s.arg(QDir::toNativeSeparators(folder)));
        } else {
            QStorageInfo volume(folder);
            // The old image, if any, is replaced only once the new one is whole.
            const qint64 needed = report.layout.imageBytes() + (64 << 10);
            if (volume.isValid() && volume.bytesAvailable() < needed)
                report.problems.append(u"イメージを書く場所の空きが足りません: %1 必要ですが、空きは %2 です"_s.arg(
                    ExportCheck::humanSize(needed), ExportCheck::humanSize(volume.bytesAvailable())));
            // Writing the image over one of its own songs would destroy the song.
            const QString bin = QFileInfo(CdImageWriter::binPathFor(cuePath)).canonicalFilePath();
            const QString cueFile = cue.canonicalFilePath();
            for (const QString &path : paths) {
                const QString song = QFileInfo(path).canonicalFilePath();
                if (!song.isEmpty() && (song == bin || song == cueFile))
                    report.problems.append(u"イメージの名前がセットの曲と同じです: %1"_s.arg(QFileInfo(path).fileName()));
            }
        }
    }
    return report;
}

QString CdImageCheck::message(const Report &report)
{
    QStringList lines = report.problems;
    if (!report.problems.isEmpty())
        lines.prepend(u"音楽CDを作れません。"_s);
    lines += report.notes;
    return lines.join(u'\n');
}

QString CdImageCheck::fitText(const CdLayout &layout, qint64 capacitySectors)
{
    const qint64 left = layout.sectorsLeft(capacitySectors);
    if (layout.tracks.size() > CdLayout::MaxTracks)
        return u"CD に入りません（99 曲まで）"_s;
    if (left < 0)
        return u"CD 1 枚に収まりません（%1 超過）"_s.arg(CdLayout::minutesText(CdLayout::wholeSeconds(-left + CdLayout::SectorsPerSecond - 1)));
    return u"CD 1 枚に収まります（残り %1）"_s.arg(CdLayout::minutesText(CdLayout::wholeSeconds(left)));
}
