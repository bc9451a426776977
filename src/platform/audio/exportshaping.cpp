#include "platform/audio/exportshaping.h"

#include "platform/audio/edits/mp3edit.h"
#include "platform/media/mediaprobe.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

namespace {

bool isMp3(const QString &path)
{
    return path.endsWith(u".mp3", Qt::CaseInsensitive);
}

// Whether the file's frames can be cut for the edits, remembered for the file as
// it is now: the row's tooltip asks at every hover, and the answer needs the
// whole file read.
bool framesCut(const QString &path, const SongEdits &edits)
{
    if (edits.isEmpty() || !isMp3(path))
        return true;
    struct Known {
        QDateTime modified;
        qint64 size = -1;
        SongEdits edits;
        bool cut = false;
    };
    static QMutex mutex;
    static QHash<QString, Known> known;
    const QFileInfo info(path);
    const Known now{ info.lastModified(), info.size(), edits, false };
    {
        QMutexLocker lock(&mutex);
        const auto it = known.constFind(path);
        if (it != known.cend() && it->modified == now.modified && it->size == now.size && it->edits == edits)
            return it->cut;
    }
    Known found = now;
    found.cut = Mp3Edit::keepsFrames(path, edits);
    QMutexLocker lock(&mutex);
    known.insert(path, found);
    return found.cut;
}

} // namespace

void ExportShaping::shape(ExportPlan &plan, ExportFormat::Format format, const std::optional<LevelMatch::Plan> &levels,
                          const QList<std::optional<Loudness>> &loudness)
{
    QList<ExportFormat::Source> sources;
    for (qsizetype i = 0; i < plan.items.size(); ++i) {
        const ExportItem &item = plan.items[i];
        ExportFormat::Source source;
        if (levels && i < levels->songs.size())
            source.gainDb = levels->songs[i].gainDb;
        source.loudness = loudness.value(i);
        source.bytes = QFileInfo(item.sourcePath).size();
        source.edits = item.edits;
        // Only a song that gets a new format needs its length for the room it
        // takes; an edited one also for where its edits fall.
        if (format != ExportFormat::Format::Original || source.gainDb != 0 || !source.edits.isEmpty())
            source.seconds = MediaProbe::lengthMs(item.sourcePath).value_or(0) / 1000.0;
        source.mp3FramesCut = format == ExportFormat::Format::Wav || framesCut(item.sourcePath, item.edits);
        sources.append(source);
    }
    ExportFormat::apply(plan, format, sources);
}

bool ExportShaping::staysLossless(const QString &path, const SongEdits &edits, qint64 songMs, ExportFormat::Format format)
{
    return ExportFormat::staysLossless(path, edits, songMs, format,
                                       format == ExportFormat::Format::Wav || framesCut(path, edits));
}
