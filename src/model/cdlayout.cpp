#include "model/cdlayout.h"

#include <cmath>

using namespace Qt::StringLiterals;

CdLayout CdLayout::plan(const QList<qint64> &songFrames, int gapSeconds)
{
    CdLayout layout;
    const qint64 gap = qMax(0, gapSeconds) * SectorsPerSecond;
    qint64 sector = 0;
    for (qsizetype i = 0; i < songFrames.size(); ++i) {
        CdTrack track;
        track.songFrames = qMax<qint64>(0, songFrames[i]);
        const qint64 sectors = (track.songFrames + FramesPerSector - 1) / FramesPerSector;
        track.padded = sectors < MinTrackSectors;
        track.sectors = qMax(sectors, MinTrackSectors);
        // Track 1's gap is the disc's lead-in, which is not in the image.
        track.pregapSectors = i == 0 ? 0 : gap;
        sector += track.pregapSectors;
        track.startSector = sector;
        sector += track.sectors;
        layout.tracks.append(track);
    }
    layout.imageSectors = sector;
    return layout;
}

qint64 CdLayout::framesOfMs(double ms)
{
    return ms > 0 ? qint64(std::llround(ms * SampleRate / 1000.0)) : 0;
}

QString CdLayout::msf(qint64 sectors)
{
    const qint64 frames = sectors % SectorsPerSecond;
    const qint64 seconds = sectors / SectorsPerSecond;
    return u"%1:%2:%3"_s.arg(seconds / 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg(frames, 2, 10, QLatin1Char('0'));
}

QString CdLayout::minutesText(qint64 seconds)
{
    return u"%1:%2"_s.arg(seconds / 60, 2, 10, QLatin1Char('0')).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString cueWords(QString words)
{
    words.replace(u'"', u'\'');
    for (QChar &c : words)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    return words;
}

namespace {

QString quoted(const QString &words)
{
    return u'"' + cueWords(words) + u'"';
}

} // namespace

QString cueSheet(const CdLayout &layout, const CdText &text, const QString &binFileName)
{
    QString cue;
    cue += u"TITLE "_s + quoted(text.title) + u"\r\n"_s;
    cue += u"PERFORMER "_s + quoted(text.performer) + u"\r\n"_s;
    cue += u"FILE "_s + quoted(binFileName) + u" BINARY\r\n"_s;
    for (qsizetype i = 0; i < layout.tracks.size(); ++i) {
        const CdTrack &track = layout.tracks[i];
        cue += u"  TRACK %1 AUDIO\r\n"_s.arg(i + 1, 2, 10, QLatin1Char('0'));
        cue += u"    TITLE "_s + quoted(text.trackTitles.value(i)) + u"\r\n"_s;
        cue += u"    PERFORMER "_s + quoted(text.trackPerformers.value(i, text.performer)) + u"\r\n"_s;
        if (track.pregapSectors > 0)
            cue += u"    INDEX 00 "_s + CdLayout::msf(track.gapStartSector()) + u"\r\n"_s;
        cue += u"    INDEX 01 "_s + CdLayout::msf(track.startSector) + u"\r\n"_s;
    }
    return cue;
}
