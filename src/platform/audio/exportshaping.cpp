#include "platform/audio/exportshaping.h"

#include "platform/media/mediaprobe.h"

#include <QFileInfo>

void ExportShaping::shape(ExportPlan &plan, ExportFormat::Format format, const std::optional<LevelMatch::Plan> &levels,
                          const QList<std::optional<Loudness>> &loudness)
{
    QList<ExportFormat::Source> sources;
    for (qsizetype i = 0; i < plan.items.size(); ++i) {
        ExportFormat::Source source;
        if (levels && i < levels->songs.size())
            source.gainDb = levels->songs[i].gainDb;
        source.loudness = loudness.value(i);
        source.bytes = QFileInfo(plan.items[i].sourcePath).size();
        source.edits = plan.items[i].edits;
        // Only a song that gets a new format needs its length for the room it
        // takes; an edited one also for where its edits fall.
        if (format != ExportFormat::Format::Original || source.gainDb != 0 || !source.edits.isEmpty())
            source.seconds = MediaProbe::lengthMs(plan.items[i].sourcePath).value_or(0) / 1000.0;
        sources.append(source);
    }
    ExportFormat::apply(plan, format, sources);
}
